#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "daemon/file_lock.h"
#include "daemon/sqlite.h"

namespace zendrik::daemon {

// The spool could not be opened or used: locked by another daemon, a directory missing, a disk error.
class SpoolError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct SpooledMessage {
    int64_t id = 0;  // the row: oldest first
    std::string reader;
    uint64_t seq = 0;
    std::string topic;
    std::string payload;
};

struct ReaderCounts {
    uint64_t spooled = 0;
    uint64_t dropped = 0;
};

// Every message is stored here before it is published and deleted only when the broker has
// acknowledged it. Rows are either stored or handed over (given to the MQTT client, not yet
// acknowledged); at start every row counts as stored again, since nothing handed over to a client
// of an earlier run can still be acknowledged. Sequence numbers are given per reader when a
// message is stored, in the same transaction as its row, so that a crash never leaves a gap and
// a restart goes on from the last stored number.
class Spool {
  public:
    // Opens or creates the spool at `path`, locked against a second daemon. A file SQLite finds
    // corrupt is moved aside (and its sequence numbers taken over where they can still be read).
    Spool(const std::string& path, uint64_t maxMessages);

    // What opening found worth a log line (a corrupt file moved aside, rows left from before).
    const std::vector<std::string>& notes() const { return notes_; }

    // One transaction for a burst of messages; nothing of it counts until Commit().
    class Burst {
      public:
        // Gives the message the reader's next sequence number, renders its payload with it and
        // stores it. A full spool first drops its oldest message. Returns the sequence number.
        uint64_t Add(const std::string& reader, const std::string& topic,
                     const std::function<std::string(uint64_t seq)>& render);
        void Commit();
        std::size_t added() const { return added_; }

      private:
        friend class Spool;
        explicit Burst(Spool& spool);
        // Deletes the oldest row, stored ones before handed-over ones; false when none is left.
        bool DropOldest();

        Spool& spool_;
        Transaction transaction_;
        std::map<std::string, uint64_t> lastSeq_;
        std::map<std::string, ReaderCounts> counts_;
        uint64_t rows_;
        std::size_t added_ = 0;
    };
    Burst Begin();

    // Marks up to `limit` of the oldest stored rows handed over and gives them.
    std::vector<SpooledMessage> HandOver(std::size_t limit);
    // Deletes the rows the broker acknowledged (rows a full spool dropped meanwhile are skipped).
    void Acknowledge(const std::vector<int64_t>& ids);
    // Every handed-over row is stored again: after a lost connection they are sent anew.
    void ReturnHandedOver();
    // Moves the write-ahead log into the database and empties it.
    void Checkpoint();

    uint64_t size() const { return rows_; }
    ReaderCounts counts(const std::string& reader) const;
    uint64_t lastSeq(const std::string& reader) const;

  private:
    void Prepare();
    // FULL synchronous commits for stores, NORMAL for the rest.
    void SetDurable(bool durable);
    void LoadState();
    void Commit(const Burst& burst);

    std::string path_;
    uint64_t maxMessages_;
    FileLock lock_;
    std::unique_ptr<Database> db_;
    std::vector<std::string> notes_;
    std::map<std::string, uint64_t> lastSeq_;
    std::map<std::string, ReaderCounts> counts_;
    uint64_t rows_ = 0;
    bool durable_ = false;
    std::unique_ptr<Statement> insert_, dropOldest_, deleteRow_, saveReader_, takeStored_, markHandedOver_;
};

}  // namespace zendrik::daemon
