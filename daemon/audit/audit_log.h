#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "daemon/audit/audit_record.h"
#include "daemon/store/sqlite.h"

namespace zendrik::daemon {

// What GET /api/v1/audit asks for: entries of one reader and one actor (empty: any), at or after
// `sinceMs`, older than the entry `beforeId` (the `next` of the page before), newest first.
struct AuditQuery {
    std::string reader;
    std::string actor;
    int64_t sinceMs = std::numeric_limits<int64_t>::min();
    int64_t beforeId = std::numeric_limits<int64_t>::max();
    std::size_t limit = 100;
};

inline constexpr std::size_t kAuditPageMax = 1000;

struct AuditPage {
    std::vector<AuditRecord> entries;
    std::optional<int64_t> next;  // the beforeId of the next page; nothing when there is none
};

// The trail in its SQLite file, append-only: an entry is one row written when its command is
// received, and its outcome a row of its own written when it has ended. Triggers refuse any change
// of a row; rows go only when they are older than the days kept. Entries that an earlier run left
// without an outcome are given "unknown" when the file is opened.
class AuditLog {
  public:
    explicit AuditLog(const std::string& path);
    ~AuditLog();
    AuditLog(const AuditLog&) = delete;
    AuditLog& operator=(const AuditLog&) = delete;

    // The entries found without an outcome at opening, now completed as unknown.
    const std::vector<AuditRecord>& unknownAtOpening() const { return unknown_; }

    // Stores an entry; its id.
    int64_t Append(int64_t timeMs, const AuditStart& start);
    void Complete(int64_t id, int64_t timeMs, const AuditEnd& end);
    AuditPage Query(const AuditQuery& query);
    // Deletes the entries from before `cutoffMs`; how many went.
    uint64_t DeleteBefore(int64_t cutoffMs);

  private:
    void CompleteLeftOpen();

    std::unique_ptr<Database> db_;
    std::unique_ptr<Statement> append_, complete_, query_, deleteOutcomes_, deleteEntries_;
    std::vector<AuditRecord> unknown_;
};

}  // namespace zendrik::daemon
