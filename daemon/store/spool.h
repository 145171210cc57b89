#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "daemon/store/file_lock.h"
#include "daemon/store/sequence_file.h"
#include "daemon/store/spool_error.h"
#include "daemon/store/sqlite.h"

namespace zendrik::daemon {

struct SpooledMessage {
    int64_t id = 0;  // the row: oldest first
    std::string reader;
    uint64_t seq = 0;
    std::string topic;
    std::string payload;
};

struct ReaderCounts {
    uint64_t spooled = 0;
    uint64_t dropped = 0;    // lost for good: a full spool, a disk without room, a damaged file
    uint64_t dead = 0;       // moved to the dead-letter table: the broker would not take them
    uint64_t expired = 0;    // of the dropped: older than the spool's max_age, since the start
    bool spoolFull = false;  // the spool as a whole: its disk has no room
    // Why the last of its messages went to the dead letters since the daemon started (empty:
    // none did).
    std::string deadReason;
};

// Numbers of one reader that will never be published: the spool that held them was lost.
struct SpoolLoss {
    std::string reader;
    uint64_t missingFrom = 0;
    uint64_t missingTo = 0;
};

// The topic and payload of the message that tells consumers of a loss, given its own seq.
using LossMessage = std::function<std::pair<std::string, std::string>(const SpoolLoss& loss, uint64_t seq)>;

// Every message is stored here before it is published and deleted only when the broker has
// acknowledged it. Which rows are handed over (given to the MQTT client, not yet acknowledged) is
// kept in memory only: at start every row counts as stored again, since nothing handed over to a
// client of an earlier run can still be acknowledged. Acknowledged rows are deleted in batches,
// a few hundred at a time or after a second: a crash in between sends them once more, which
// at-least-once delivery allows.
//
// Sequence numbers are given per reader when a message is stored and saved with its row, so that
// a restart goes on from the last stored number; the sequence file beside the spool keeps numbers
// reserved ahead, so that after a spool that was lost or damaged (or a power failure that took
// its last commits) numbering goes on above anything that may have been published, and a message
// made by `lossMessage` tells consumers which numbers never come.
class Spool {
  public:
    // Opens or creates the spool at `path`, locked against a second daemon. A file SQLite finds
    // corrupt is moved aside and the rows still readable in it are taken over.
    Spool(const std::string& path, uint64_t maxMessages, LossMessage lossMessage = {});
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // What opening found worth a log line (a corrupt file moved aside, rows left from before).
    const std::vector<std::string>& notes() const { return notes_; }
    // The numbers found lost at opening (each told to consumers by a message in the spool).
    const std::vector<SpoolLoss>& losses() const { return losses_; }

    // The messages of one turn of the loop, stored in one transaction at Commit(); nothing of it
    // counts before.
    class Burst {
      public:
        // Gives the message the reader's next sequence number, renders its payload with it and
        // keeps it for Commit(). Returns the sequence number.
        uint64_t Add(const std::string& reader, const std::string& topic,
                     const std::function<std::string(uint64_t seq)>& render);
        // Stores what was added; a full spool first drops its oldest messages. False when the
        // disk has no room even after that: the messages not stored are then in unstored(),
        // their numbers given all the same.
        bool Commit();
        std::size_t added() const { return messages_.size(); }
        std::vector<SpooledMessage>& unstored() { return messages_; }

      private:
        friend class Spool;
        explicit Burst(Spool& spool) : spool_(spool) {}

        Spool& spool_;
        std::vector<SpooledMessage> messages_;
        std::map<std::string, uint64_t> lastSeq_;
    };
    Burst Begin() { return Burst(*this); }

    // Up to `limit` of the oldest stored rows, from now on handed over.
    std::vector<SpooledMessage> HandOver(std::size_t limit);
    // The broker acknowledged these rows (rows dropped meanwhile are skipped); they are deleted
    // with the next batch.
    void Acknowledge(const std::vector<int64_t>& ids);
    // Deletes the acknowledged rows now.
    void FlushAcknowledged();
    // Every handed-over row is stored again: after a lost connection they are sent anew.
    void ReturnHandedOver();
    // Moves a stored row the broker will not take to the dead-letter table. Gives what it was.
    std::optional<SpooledMessage> MoveToDeadLetter(int64_t id, const std::string& reason = "");
    // The same for several rows, in one transaction; gives those that were still there. `reason`
    // becomes their readers' deadReason.
    std::vector<SpooledMessage> MoveToDeadLetters(const std::vector<int64_t>& ids, const std::string& reason);
    // The rows still stored of these ids, as they are (what they are handed over as stays).
    std::vector<SpooledMessage> Peek(const std::vector<int64_t>& ids);

    // From now on the time each commit was stored is kept (a row per minute of storing, in a
    // table of its own), so that Expire() can tell a row's age; rows from before count as
    // stored now.
    void KeepAges();
    // Drops the stored rows (not those handed over) older than `maxAgeMs`: no output took them
    // in that time. Counted in their readers' dropped and expired; gives how many by reader.
    std::map<std::string, uint64_t> Expire(int64_t maxAgeMs);
    // The clock of the ages, milliseconds since 1970 (the tests' own in simulated time).
    void SetClock(std::function<int64_t()> nowMs) { nowMs_ = std::move(nowMs); }

    // Outputs beside the one rows are handed over to (the webhooks) read the spool each from a place
    // of its own and hold what they have yet to deliver: no row from `id` on is deleted,
    // acknowledged or not, until the hold moves on (nothing: no such output holds a row). The ids
    // of rows acknowledged meanwhile are kept in memory; past the spool's max_messages of them the
    // oldest are deleted all the same, and the outputs that held them never get them (heldOverrun).
    void HoldFrom(std::optional<int64_t> id);
    // Up to `limit` rows after `afterId`, oldest first: every row still in the table, stored,
    // handed over, or acknowledged and held.
    std::vector<SpooledMessage> ReadAfter(int64_t afterId, std::size_t limit);
    // Copies rows that another output will not take into the dead-letter table; the rows stay
    // for the outputs that take them, and the readers' counts stay as they are.
    void CopyToDeadLetters(const std::vector<SpooledMessage>& rows);
    // Counts messages of `reader` that could be neither stored nor sent.
    void CountLost(const std::string& reader, uint64_t count);
    // Moves the write-ahead log into the database, deletes what was acknowledged and takes the
    // room for a full disk back when there is some.
    void Checkpoint();

    uint64_t size() const { return rows_; }
    // The newest row's id: every row up to it has been stored.
    int64_t newestId() const { return newestId_; }
    // Acknowledged rows kept for a hold, and those a hold kept too long (see HoldFrom).
    uint64_t held() const { return held_.size(); }
    uint64_t heldOverrun() const { return heldOverrun_; }
    // False while the disk has no room for what comes in.
    bool writable() const { return writable_; }
    ReaderCounts counts(const std::string& reader) const;
    uint64_t lastSeq(const std::string& reader) const;

  private:
    struct Salvage;
    void Prepare();
    void Migrate(int version);
    Salvage ReadAside(const std::string& aside);
    // After a spool lost or damaged: the rows saved taken in, the numbers lost told.
    void TakeOver(const Salvage& salvage);
    void LoadState();
    void InsertAll(std::vector<SpooledMessage>::iterator first, std::vector<SpooledMessage>::iterator last);
    std::vector<SpooledMessage>::iterator InsertMakingRoom(std::vector<SpooledMessage>::iterator first,
                                                           std::vector<SpooledMessage>::iterator end);
    // Deletes up to `count` of the oldest rows, stored ones first and, unless `storedOnly`,
    // handed-over ones after; gives how many went.
    uint64_t DropOldest(uint64_t count, bool storedOnly);
    void DeleteAcknowledged();
    // Acknowledged rows the hold keeps move from acknowledged_ to held_.
    void KeepHeld();
    // Held rows below this id are deleted: the hold, or past it when too many are held.
    int64_t ReleaseBelow() const;
    bool Acknowledged(int64_t id) const { return acknowledgedSet_.count(id) != 0 || held_.count(id) != 0; }
    // After acknowledged_ and the held rows below `below` were deleted.
    void SettleAcknowledged(int64_t below);
    void ForgetFresh();
    std::vector<SpooledMessage> HandOverFresh(std::size_t limit);
    void SaveReader(const std::string& reader);
    // A commit's first row was stored now (kept once a minute at most).
    void NoteStoredAt(int64_t firstId);
    // A commit failed for want of room: the write-ahead log emptied, the oldest stored rows
    // dropped. False when nothing could be freed.
    bool MakeRoom(std::size_t wanted);
    void SetWritable(bool writable);
    // The room for MakeRoom() taken (again) once the disk has plenty; the spool may grow again.
    void KeepReserve();
    // The room for MakeRoom() taken where the disk has it.
    void TakeReserve();
    // The room in reserve given up and the write-ahead log moved into the database and cut to
    // nothing: what deleting rows on a full disk needs.
    void EmptyLog();
    // Rare checkpoints while the disk has plenty of room, frequent ones when it is short.
    void TuneCheckpoints();
    off_t FreeBytes() const;

    std::string path_;
    uint64_t maxMessages_;
    LossMessage lossMessage_;
    std::unique_ptr<FileLock> lock_;  // on the spool file itself
    std::unique_ptr<SequenceFile> sequences_;
    std::unique_ptr<Database> db_;
    std::vector<std::string> notes_;
    std::vector<SpoolLoss> losses_;
    std::map<std::string, uint64_t> lastSeq_;
    std::map<std::string, uint64_t> savedSeq_;  // as in the reader table (as far as known)
    std::map<std::string, ReaderCounts> counts_;
    uint64_t rows_ = 0;
    // The rows the disk held when it was last found full; no limit while it has room.
    uint64_t diskCapacity_ = std::numeric_limits<uint64_t>::max();
    bool writable_ = true;
    int64_t handedUpTo_ = 0;  // rows up to this id are handed over
    // The rows stored and not handed over, in order, as committed: handed over from here rather
    // than read back. Only while it holds every such row (freshComplete_); after anything that
    // may leave rows out (a start with rows, a lost connection, rows dropped) it is refilled once
    // the table has handed over everything it held.
    std::deque<SpooledMessage> fresh_;
    bool freshComplete_ = false;
    std::map<int64_t, std::string> handedOver_;    // row -> reader, not yet acknowledged
    std::vector<int64_t> acknowledged_;            // to be deleted
    std::unordered_set<int64_t> acknowledgedSet_;  // the same, never handed over again
    std::function<int64_t()> nowMs_;
    bool timed_ = false;               // KeepAges() was called
    int64_t lastNotedMs_ = 0;          // the newest time kept for a commit
    std::optional<int64_t> holdFrom_;  // rows from here on are held by other outputs
    std::set<int64_t> held_;           // acknowledged, kept for the hold
    uint64_t heldOverrun_ = 0;
    int64_t newestId_ = 0;
    std::unique_ptr<Statement> insert_, dropStored_, deleteRow_, deleteRun_, saveReader_, takeStored_;
};

}  // namespace zendrik::daemon
