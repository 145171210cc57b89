#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "daemon/store/sqlite.h"

namespace zendrik::daemon {

// A tag's stay in a zone, from its first read there to the moment it left (or the daemon stopped).
struct VisitRecord {
    std::string epc;
    std::string card;
    std::string zone;
    int64_t enteredMs = 0;
    int64_t leftMs = 0;
    int64_t lastSeenMs = 0;  // its last read there
    std::string lastReader;
    uint64_t reads = 0;
    std::vector<std::string> readers;  // the zone's readers that read it

    bool operator==(const VisitRecord&) const = default;
};

struct PassageRecord {
    int64_t id = 0;  // given when stored: the cursor of the pages
    std::string epc;
    std::string card;
    std::string door;
    std::string direction;  // "in" or "out"
    int64_t timeMs = 0;
    int64_t outsideAtMs = 0;
    int64_t insideAtMs = 0;

    bool operator==(const PassageRecord&) const = default;
};

// Which passages, newest first: every field that is set narrows them.
struct PassageQuery {
    std::string epc;
    std::string door;
    std::string direction;
    std::optional<int64_t> sinceMs;   // at or after
    std::optional<int64_t> untilMs;   // before
    std::optional<int64_t> beforeId;  // the cursor of the page before
    std::size_t limit = 50;
};

// The zones' visits and the doors' passages kept in a SQLite file of their own (beside the spool,
// so that the spool's commits never wait on it), written in batches, kept `keepDays` and within
// `maxBytes` of used pages: what is older or beyond goes first, and is counted. Not thread-safe:
// the daemon uses it from one thread at a time, off its loop.
class History {
  public:
    // Throws SqliteError when the file cannot be opened or made.
    History(const std::string& path, uint32_t keepDays, uint64_t maxBytes);

    // Stores one batch in one transaction, then drops what is older than the kept days (from
    // `nowMs`) or beyond the size.
    void Write(const std::vector<VisitRecord>& visits, const std::vector<PassageRecord>& passages,
               int64_t nowMs);
    // A tag's newest visits (by the moment they ended) and passages, `limit` of each at most.
    std::vector<VisitRecord> Visits(const std::string& epc, std::size_t limit);
    std::vector<PassageRecord> Passages(const PassageQuery& query);

    uint64_t rows() const { return rows_; }
    uint64_t dropped() const { return dropped_; }

  private:
    void DropOlderThan(int64_t cutMs);
    void DropBeyondSize();
    uint64_t UsedBytes();
    uint64_t Count(const char* sql);

    Database db_;
    int64_t keepMs_;
    uint64_t maxBytes_;
    uint64_t rows_ = 0;
    uint64_t dropped_ = 0;
    std::unique_ptr<Statement> insertVisit_, insertPassage_;
};

}  // namespace zendrik::daemon
