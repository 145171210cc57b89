#include "daemon/store/spool.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <limits>
#include <set>

#include "daemon/common/payloads.h"

namespace zendrik::daemon {
namespace {

// Rows kept in memory for the hand-over at most: beyond that (a broker away for long) they are
// read back from the table.
constexpr std::size_t kFreshMost = 8192;

constexpr int kSchemaVersion = 2;

// Small pages: a commit writes every page it touched to the write-ahead log in full, and a
// commit of a few messages touches a few pages. (A spool made before keeps its page size.)
constexpr const char* kNewFilePageSize = "PRAGMA page_size = 1024";
// After a checkpoint the write-ahead log is cut back to this, so that it never keeps the room
// one long outage made it take.
constexpr const char* kWalSizeLimit = "PRAGMA journal_size_limit = 1048576";
// The log is moved into the database once it holds this many pages. Each move writes every page
// the log touched once more, so it is rare while the disk has room; on a disk short of room the log
// stays small enough that the room kept in reserve (below) lets the move grow the database.
constexpr const char* kWalCheckpointPagesRoomy = "PRAGMA wal_autocheckpoint = 1000";
constexpr const char* kWalCheckpointPagesTight = "PRAGMA wal_autocheckpoint = 100";
constexpr off_t kRoomyDiskBytes = 16 * 1024 * 1024;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS message("
    "  id INTEGER PRIMARY KEY,"
    "  reader TEXT NOT NULL,"
    "  seq INTEGER NOT NULL,"
    "  topic TEXT NOT NULL,"
    "  payload BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS reader("
    "  name TEXT PRIMARY KEY,"
    "  last_seq INTEGER NOT NULL,"
    "  dropped INTEGER NOT NULL DEFAULT 0,"
    "  dead INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS dead_letter("
    "  id INTEGER PRIMARY KEY,"
    "  reader TEXT NOT NULL,"
    "  seq INTEGER NOT NULL,"
    "  topic TEXT NOT NULL,"
    "  payload BLOB NOT NULL,"
    "  time INTEGER NOT NULL);"
    "PRAGMA user_version = 2;";

// The first schema kept a "handed over" mark on disk, with an index for it.
constexpr const char* kMigrationFrom1 =
    "DROP INDEX IF EXISTS message_by_state;"
    "ALTER TABLE message DROP COLUMN handed_over;"
    "ALTER TABLE reader ADD COLUMN dead INTEGER NOT NULL DEFAULT 0;";

// What one transaction stores at most (see PieceEnd).
constexpr std::size_t kCommitBytes = 64 * 1024;
// Acknowledged rows deleted in one go (or after a second, whichever comes first).
constexpr std::size_t kDeleteBatch = 512;
// A spool that cannot grow frees at least this many rows at a time.
constexpr std::size_t kRoomRows = 64;
// Room kept on the spool's file system for the deletions that make room when the disk is full:
// without it even those could not be written. Taken back once the disk has this much four times.
constexpr off_t kReserveBytes = 256 * 1024;
constexpr off_t kReserveTakenBackAt = 4 * kReserveBytes;
// Attempts to read on past a damaged part of a file moved aside, each skipping twice as far.
constexpr int kSalvageSkips = 48;
constexpr mode_t kReserveMode = 0640;
// The age of rows is kept to a minute: a row counts as stored when the commit that began the
// minute was, and a row is dropped as too old once even that may be a minute late.
constexpr int64_t kStoredAtStepMs = 60 * 1000;
constexpr const char* kStoredAtSchema =
    "CREATE TABLE IF NOT EXISTS stored_at(first_id INTEGER PRIMARY KEY, time INTEGER NOT NULL)";

constexpr const char* kInsertDeadLetter =
    "INSERT INTO dead_letter(reader, seq, topic, payload, time) VALUES(?1, ?2, ?3, ?4, ?5)";

void InsertDeadLetter(Statement& insert, const SpooledMessage& message) {
    insert.Bind(1, message.reader)
        .Bind(2, static_cast<int64_t>(message.seq))
        .Bind(3, message.topic)
        .Bind(4, message.payload)
        .Bind(5, UnixNowMs())
        .Run();
}

bool IsCorrupt(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

bool IsFull(int code) {
    return (code & 0xff) == SQLITE_FULL;
}

std::string CompactUtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

// Renames the database and its companions to `aside`; what is missing is skipped.
void MoveAside(const std::string& path, const std::string& aside) {
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::error_code ignored;
        if (std::filesystem::exists(path + suffix, ignored)) {
            std::filesystem::rename(path + suffix, aside + suffix);
        }
    }
}

std::unique_ptr<FileLock> LockSpoolFile(const std::string& path) {
    auto lock = std::make_unique<FileLock>(path);
    if (!lock->held()) {
        throw SpoolError(lock->failure());
    }
    return lock;
}

struct KnownReader {
    uint64_t lastSeq = 0;
    ReaderCounts counts;
};

// The readers' numbers and counts (a file of the first schema has no dead letters).
std::map<std::string, KnownReader> ReadReaders(Database& db) {
    const bool withDead =
        std::stoi(db.QueryText("SELECT count(*) FROM pragma_table_info('reader') WHERE name = 'dead'")) != 0;
    std::map<std::string, KnownReader> readers;
    Statement select(db.handle(), withDead ? "SELECT name, last_seq, dropped, dead FROM reader"
                                           : "SELECT name, last_seq, dropped, 0 FROM reader");
    while (select.Step()) {
        KnownReader& known = readers[select.Text(0)];
        known.lastSeq = static_cast<uint64_t>(select.Integer(1));
        known.counts.dropped = static_cast<uint64_t>(select.Integer(2));
        known.counts.dead = static_cast<uint64_t>(select.Integer(3));
    }
    return readers;
}

// Reads the rows oldest first; where a damaged page stops the scan, it goes on past it.
std::vector<SpooledMessage> ReadRows(Database& db) {
    std::vector<SpooledMessage> rows;
    int64_t after = 0;
    int64_t skip = 1;
    for (int failures = 0; failures < kSalvageSkips;) {
        try {
            Statement select(db.handle(),
                             "SELECT id, reader, seq, topic, payload FROM message WHERE id > ?1 ORDER BY id");
            select.Bind(1, after);
            while (select.Step()) {
                rows.push_back(SpooledMessage{select.Integer(0), select.Text(1),
                                              static_cast<uint64_t>(select.Integer(2)), select.Text(3),
                                              select.Text(4)});
                after = rows.back().id;
                skip = 1;
            }
            return rows;
        } catch (const SqliteError& error) {
            if (!IsCorrupt(error.code())) {
                return rows;
            }
            after += skip;
            skip *= 2;
            ++failures;
        }
    }
    return rows;
}

}  // namespace

struct Spool::Salvage {
    std::map<std::string, KnownReader> readers;
    std::vector<SpooledMessage> rows;
};

Spool::Spool(const std::string& path, uint64_t maxMessages, LossMessage lossMessage)
    : path_(path), maxMessages_(maxMessages), lossMessage_(std::move(lossMessage)), nowMs_(UnixNowMs) {
    lock_ = LockSpoolFile(path_);
    sequences_ = std::make_unique<SequenceFile>(path_ + ".seq");
    if (sequences_->found() == SequenceFile::Found::kDamaged) {
        notes_.push_back("the sequence file " + path_ +
                         ".seq could not be read: numbering goes on from the spool");
    }
    const bool spoolTrusted =
        sequences_->found() != SequenceFile::Found::kValid || sequences_->spoolTrusted();
    bool fresh = false;
    std::optional<Salvage> salvage;
    try {
        db_ = std::make_unique<Database>(path_);
        if (const std::string check = db_->QueryText("PRAGMA quick_check"); check != "ok") {
            throw SqliteError(SQLITE_CORRUPT, "quick_check: " + check);
        }
        fresh = std::stoi(db_->QueryText("SELECT count(*) FROM sqlite_master")) == 0;
        Prepare();
    } catch (const SqliteError& error) {
        if (!IsCorrupt(error.code())) {
            throw SpoolError("spool " + path_ + ": " + error.what());
        }
        db_.reset();
        const std::string aside = path_ + ".corrupt-" + CompactUtcNow();
        MoveAside(path_, aside);
        lock_ = LockSpoolFile(path_);  // the new file's own
        notes_.push_back("spool " + path_ + " was corrupt (" + error.what() + "); moved aside to " + aside);
        salvage = ReadAside(aside);
        try {
            db_ = std::make_unique<Database>(path_);
            fresh = true;
            Prepare();
        } catch (const SqliteError& again) {
            throw SpoolError("spool " + path_ + ": " + again.what());
        }
    }
    try {
        if (!salvage && fresh && !sequences_->reserved().empty()) {
            notes_.push_back("spool " + path_ + " was lost (missing or empty)");
            salvage = Salvage{};
        } else if (!salvage && !fresh && !spoolTrusted) {
            notes_.push_back(
                "the last run did not stop cleanly before a restart of the system: the spool "
                "may have lost its last commits");
            salvage = Salvage{ReadReaders(*db_), {}};
        }
        if (salvage) {
            TakeOver(*salvage);
        }
        LoadState();
        sequences_->BeginRun(lastSeq_);
        KeepReserve();
    } catch (const SqliteError& error) {
        throw SpoolError("spool " + path_ + ": " + error.what());
    }
    if (rows_ > 0) {
        notes_.push_back(std::to_string(rows_) + " messages are waiting in the spool from before");
    }
}

Spool::~Spool() {
    try {
        FlushAcknowledged();
        Checkpoint();
        sequences_->MarkClean();
    } catch (const std::exception&) {
        // Closing goes on: the next start reads what is on disk.
    }
}

void Spool::Prepare() {
    const bool fresh = std::stoi(db_->QueryText("SELECT count(*) FROM sqlite_master")) == 0;
    if (fresh) {
        db_->Execute(kNewFilePageSize);
    }
    db_->Execute("PRAGMA journal_mode = WAL");
    // A commit is safe from a crash of the daemon once it returns; only a power failure can take
    // the last ones, and the sequence file makes the next start number above them.
    db_->Execute("PRAGMA synchronous = NORMAL");
    db_->Execute(kWalSizeLimit);
    TuneCheckpoints();
    // The write-ahead log and its index stay when the spool is closed, with the room they hold:
    // a daemon started again on a disk that filled meanwhile can still open and write its spool.
    int persist = 1;
    sqlite3_file_control(db_->handle(), "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    const int version = std::stoi(db_->QueryText("PRAGMA user_version"));
    if (version > kSchemaVersion) {
        throw SpoolError("spool " + path_ + " was written by a newer zendrikd (schema " +
                         std::to_string(version) + ")");
    }
    // Nothing is written to a spool of this schema before it is needed: it opens on a full disk.
    if (fresh) {
        db_->Execute(kSchema);
    } else if (version < kSchemaVersion) {
        Migrate(version);
    }
    sqlite3* handle = db_->handle();
    // A row's id is above every id the table holds and above every row handed over: SQLite would
    // give the ids of deleted rows again once the table is empty, and the hand-over goes by id, so
    // a row stored then would be passed over until the next connection.
    insert_ = std::make_unique<Statement>(
        handle,
        "INSERT INTO message(id, reader, seq, topic, payload) VALUES("
        "(SELECT MAX(COALESCE(MAX(id), 0), COALESCE(?5, 0)) + 1 FROM message), ?1, ?2, ?3, ?4)");
    dropStored_ = std::make_unique<Statement>(
        handle,
        "DELETE FROM message WHERE id = (SELECT id FROM message WHERE id > ?1 ORDER BY id LIMIT 1) "
        "RETURNING id, reader");
    deleteRow_ = std::make_unique<Statement>(handle, "DELETE FROM message WHERE id = ?1");
    deleteRun_ = std::make_unique<Statement>(handle, "DELETE FROM message WHERE id BETWEEN ?1 AND ?2");
    saveReader_ = std::make_unique<Statement>(
        handle,
        "INSERT INTO reader(name, last_seq, dropped, dead) VALUES(?1, ?2, ?3, ?4) "
        "ON CONFLICT(name) DO UPDATE SET last_seq = excluded.last_seq, dropped = excluded.dropped, "
        "dead = excluded.dead");
    takeStored_ = std::make_unique<Statement>(
        handle, "SELECT id, reader, seq, topic, payload FROM message WHERE id > ?1 ORDER BY id LIMIT ?2");
}

void Spool::Migrate(int version) {
    Transaction transaction(*db_);
    if (version == 1) {
        db_->Execute(kMigrationFrom1);
    }
    db_->Execute(kSchema);
    transaction.Commit();
    notes_.push_back("spool " + path_ + " taken over from schema " + std::to_string(version));
}

Spool::Salvage Spool::ReadAside(const std::string& aside) {
    Salvage salvage;
    try {
        Database old(aside, true);
        try {
            salvage.readers = ReadReaders(old);
        } catch (const SqliteError&) {
            notes_.push_back("the readers' sequence numbers could not be read from the corrupt file");
        }
        salvage.rows = ReadRows(old);
    } catch (const SqliteError& error) {
        notes_.push_back(std::string("nothing could be read from the corrupt file: ") + error.what());
    }
    // What could not be read: every number missing between a reader's oldest row still readable
    // and its last stored one.
    std::map<std::string, std::set<uint64_t>> seqs;
    for (const SpooledMessage& row : salvage.rows) {
        seqs[row.reader].insert(row.seq);
    }
    uint64_t unreadable = 0;
    for (const auto& [reader, numbers] : seqs) {
        KnownReader& known = salvage.readers[reader];
        known.lastSeq = std::max(known.lastSeq, *numbers.rbegin());
        const uint64_t lost = known.lastSeq - *numbers.begin() + 1 - numbers.size();
        known.counts.dropped += lost;
        unreadable += lost;
    }
    notes_.push_back(std::to_string(salvage.rows.size()) +
                     " messages were taken over from the corrupt file, " + std::to_string(unreadable) +
                     " could not be read (counted as dropped)");
    return salvage;
}

// In one transaction, so that a crash in the middle leaves the loss to be found again: the rows
// saved, every reader numbered on above what the sequence file reserved, and for each reader
// whose numbers were lost a message that names them.
void Spool::TakeOver(const Salvage& salvage) {
    std::map<std::string, KnownReader> readers = salvage.readers;
    for (const auto& [reader, reserved] : sequences_->reserved()) {
        readers.try_emplace(reader);
    }
    Transaction transaction(*db_);
    for (const SpooledMessage& row : salvage.rows) {
        insert_->Bind(1, row.reader)
            .Bind(2, static_cast<int64_t>(row.seq))
            .Bind(3, row.topic)
            .Bind(4, row.payload)
            .Run();
    }
    for (auto& [reader, known] : readers) {
        const uint64_t reserved = sequences_->ReservedFor(reader);
        if (reserved > known.lastSeq) {
            const SpoolLoss loss{reader, known.lastSeq + 1, reserved};
            losses_.push_back(loss);
            notes_.push_back("reader " + reader + ": numbers " + std::to_string(loss.missingFrom) + " to " +
                             std::to_string(loss.missingTo) + " are lost with the spool and never come");
            known.lastSeq = reserved;
            if (lossMessage_) {
                const uint64_t seq = reserved + 1;
                sequences_->Cover(reader, seq);
                const auto [topic, payload] = lossMessage_(loss, seq);
                insert_->Bind(1, reader)
                    .Bind(2, static_cast<int64_t>(seq))
                    .Bind(3, topic)
                    .Bind(4, payload)
                    .Run();
                known.lastSeq = seq;
            }
        }
        saveReader_->Bind(1, reader)
            .Bind(2, static_cast<int64_t>(known.lastSeq))
            .Bind(3, static_cast<int64_t>(known.counts.dropped))
            .Bind(4, static_cast<int64_t>(known.counts.dead))
            .Run();
    }
    transaction.Commit();
}

void Spool::LoadState() {
    lastSeq_.clear();
    counts_.clear();
    Statement readers(db_->handle(), "SELECT name, last_seq, dropped, dead FROM reader");
    while (readers.Step()) {
        lastSeq_[readers.Text(0)] = static_cast<uint64_t>(readers.Integer(1));
        ReaderCounts& counts = counts_[readers.Text(0)];
        counts.dropped = static_cast<uint64_t>(readers.Integer(2));
        counts.dead = static_cast<uint64_t>(readers.Integer(3));
    }
    // A reader's row is saved when rows of it are deleted, not with every store: its newest
    // stored number may be in its rows only.
    Statement spooled(db_->handle(), "SELECT reader, count(*), max(seq) FROM message GROUP BY reader");
    rows_ = 0;
    while (spooled.Step()) {
        const auto count = static_cast<uint64_t>(spooled.Integer(1));
        counts_[spooled.Text(0)].spooled = count;
        uint64_t& last = lastSeq_[spooled.Text(0)];
        last = std::max(last, static_cast<uint64_t>(spooled.Integer(2)));
        rows_ += count;
    }
    savedSeq_ = lastSeq_;
    newestId_ = std::stoll(db_->QueryText("SELECT COALESCE(MAX(id), 0) FROM message"));
}

uint64_t Spool::Burst::Add(const std::string& reader, const std::string& topic,
                           const std::function<std::string(uint64_t seq)>& render) {
    uint64_t& last = lastSeq_.try_emplace(reader, spool_.lastSeq(reader)).first->second;
    const uint64_t seq = last + 1;
    spool_.sequences_->Cover(reader, seq);
    messages_.push_back(SpooledMessage{0, reader, seq, topic, render(seq)});
    last = seq;
    return seq;
}

namespace {

using MessageIterator = std::vector<SpooledMessage>::iterator;

// The end of the next piece that goes into one transaction: at least one message, at most about
// kCommitBytes. A transaction larger than that would grow the write-ahead log past what a
// checkpoint can move into the database on a disk that is full.
MessageIterator PieceEnd(MessageIterator first, MessageIterator end) {
    std::size_t bytes = 0;
    auto last = first;
    while (last != end && (last == first || bytes + last->payload.size() <= kCommitBytes)) {
        bytes += last->payload.size() + last->topic.size();
        ++last;
    }
    return last;
}

}  // namespace

bool Spool::Burst::Commit() {
    if (messages_.empty()) {
        return true;
    }
    // The numbers are given whether the rows can be stored or not.
    for (const auto& [reader, last] : lastSeq_) {
        spool_.lastSeq_[reader] = last;
    }
    for (auto first = messages_.begin(); first != messages_.end();) {
        const auto last = PieceEnd(first, messages_.end());
        try {
            spool_.InsertAll(first, last);
            first = last;
        } catch (const SqliteError& error) {
            if (!IsFull(error.code())) {
                throw;
            }
            messages_.erase(messages_.begin(), spool_.InsertMakingRoom(first, messages_.end()));
            if (!messages_.empty()) {
                spool_.SetWritable(false);
                return false;
            }
            break;
        }
    }
    spool_.SetWritable(true);
    spool_.NoteStoredAt(messages_.front().id);
    messages_.clear();
    return true;
}

// Piece by piece, each making room for itself: a burst larger than the whole disk keeps its
// newest messages, as a smaller one keeps the newest of the spool. Gives the end of what was
// stored.
MessageIterator Spool::InsertMakingRoom(MessageIterator first, MessageIterator end) {
    while (first != end) {
        const auto last = PieceEnd(first, end);
        bool stored = false;
        for (int attempt = 0; attempt < 2 && !stored; ++attempt) {
            if (attempt > 0 && !MakeRoom(static_cast<std::size_t>(last - first))) {
                break;
            }
            try {
                InsertAll(first, last);
                stored = true;
            } catch (const SqliteError& error) {
                if (!IsFull(error.code())) {
                    throw;
                }
            }
        }
        if (!stored) {
            break;
        }
        first = last;
    }
    return first;
}

// The in-memory counts follow the transaction: on a failure they are as before it.
void Spool::InsertAll(std::vector<SpooledMessage>::iterator first,
                      std::vector<SpooledMessage>::iterator last) {
    const auto counts = counts_;
    const uint64_t rows = rows_;
    const auto handedOver = handedOver_;
    try {
        // Acknowledged rows are not deleted here: a batch of them at a time touches a few pages
        // once, where a few with every store would touch others with each commit.
        Transaction transaction(*db_);
        std::set<std::string> touched;
        if (!writable_) {
            // Coming back from a full disk: numbers were given without rows meanwhile.
            for (const auto& [reader, seq] : lastSeq_) {
                touched.insert(reader);
            }
        }
        const uint64_t wanted = rows_ + static_cast<uint64_t>(last - first);
        const uint64_t limit = std::min(maxMessages_, diskCapacity_);
        if (wanted > limit) {
            DropOldest(wanted - limit, diskCapacity_ < maxMessages_);
            for (const auto& [reader, count] : counts_) {
                touched.insert(reader);
            }
        }
        for (auto message = first; message != last; ++message) {
            insert_->Bind(1, message->reader)
                .Bind(2, static_cast<int64_t>(message->seq))
                .Bind(3, message->topic)
                .Bind(4, message->payload)
                .Bind(5, handedUpTo_)
                .Run();
            message->id = sqlite3_last_insert_rowid(db_->handle());
            newestId_ = std::max(newestId_, message->id);
            ++counts_[message->reader].spooled;
            ++rows_;
        }
        for (const std::string& reader : touched) {
            SaveReader(reader);
        }
        transaction.Commit();
        // Stored: what the burst held is not needed there any more.
        if (freshComplete_ && fresh_.size() + static_cast<std::size_t>(last - first) <= kFreshMost) {
            std::move(first, last, std::back_inserter(fresh_));
        } else {
            ForgetFresh();
        }
    } catch (const SqliteError&) {
        counts_ = counts;
        rows_ = rows;
        handedOver_ = handedOver;
        savedSeq_.clear();  // what was saved in it is not
        throw;
    }
}

uint64_t Spool::DropOldest(uint64_t count, bool storedOnly) {
    ForgetFresh();
    uint64_t dropped = 0;
    const auto drop = [&](const std::string& reader) {
        ReaderCounts& counts = counts_[reader];
        --counts.spooled;
        ++counts.dropped;
        --rows_;
        ++dropped;
    };
    while (dropped < count) {
        dropStored_->Bind(1, handedUpTo_);
        if (!dropStored_->Step()) {
            dropStored_->Reset();
            break;
        }
        const std::string reader = dropStored_->Text(1);
        dropStored_->Reset();
        drop(reader);
    }
    while (!storedOnly && dropped < count && !handedOver_.empty()) {
        const auto oldest = handedOver_.begin();
        deleteRow_->Bind(1, oldest->first).Run();
        drop(oldest->second);
        handedOver_.erase(oldest);
    }
    return dropped;
}

void Spool::KeepHeld() {
    if (!holdFrom_) {
        return;
    }
    const auto held = std::stable_partition(acknowledged_.begin(), acknowledged_.end(),
                                            [&](int64_t id) { return id < *holdFrom_; });
    held_.insert(held, acknowledged_.end());
    acknowledged_.erase(held, acknowledged_.end());
}

int64_t Spool::ReleaseBelow() const {
    int64_t below = holdFrom_.value_or(std::numeric_limits<int64_t>::max());
    if (held_.size() > maxMessages_) {
        const auto excess = static_cast<std::ptrdiff_t>(held_.size() - maxMessages_);
        below = std::max(below, *std::next(held_.begin(), excess));
    }
    return below;
}

void Spool::SettleAcknowledged(int64_t below) {
    const auto released = held_.lower_bound(below);
    if (holdFrom_) {
        heldOverrun_ += static_cast<uint64_t>(std::distance(held_.lower_bound(*holdFrom_), released));
    }
    held_.erase(held_.begin(), released);
    acknowledged_.clear();
    acknowledgedSet_.clear();
}

void Spool::DeleteAcknowledged() {
    // The broker acknowledges in the order of publishing, so the ids come in long runs without a
    // gap: a run goes in one statement, every row in it being acknowledged.
    // Rows other outputs hold stay (see KeepHeld).
    std::vector<int64_t> ids(held_.begin(), held_.lower_bound(ReleaseBelow()));
    ids.insert(ids.end(), acknowledged_.begin(), acknowledged_.end());
    std::sort(ids.begin(), ids.end());
    for (auto first = ids.begin(); first != ids.end();) {
        auto last = first;
        while (std::next(last) != ids.end() && *std::next(last) == *last + 1) {
            ++last;
        }
        deleteRun_->Bind(1, *first).Bind(2, *last).Run();
        first = std::next(last);
    }
    // A deleted row may have held its reader's newest number.
    for (const auto& [reader, seq] : lastSeq_) {
        const auto saved = savedSeq_.find(reader);
        if (saved == savedSeq_.end() || saved->second != seq) {
            SaveReader(reader);
        }
    }
}

void Spool::SaveReader(const std::string& reader) {
    savedSeq_[reader] = lastSeq(reader);
    const ReaderCounts counts = this->counts(reader);
    saveReader_->Bind(1, reader)
        .Bind(2, static_cast<int64_t>(lastSeq(reader)))
        .Bind(3, static_cast<int64_t>(counts.dropped))
        .Bind(4, static_cast<int64_t>(counts.dead))
        .Run();
}

void Spool::EmptyLog() {
    ::unlink((path_ + ".reserve").c_str());
    try {
        db_->Execute("PRAGMA wal_checkpoint(TRUNCATE)");
    } catch (const SqliteError&) {
        // What follows may still free enough.
    }
}

bool Spool::MakeRoom(std::size_t wanted) {
    EmptyLog();
    const auto counts = counts_;
    const uint64_t rows = rows_;
    uint64_t dropped = 0;
    try {
        Transaction transaction(*db_);
        KeepHeld();
        const int64_t below = ReleaseBelow();
        DeleteAcknowledged();
        dropped = DropOldest(std::max(wanted, kRoomRows), true);
        for (const auto& [reader, count] : counts_) {
            SaveReader(reader);
        }
        transaction.Commit();
        SettleAcknowledged(below);
        // As many rows as the disk holds: from now on each store first drops as many as it adds,
        // so that the file no longer grows (its freed pages are used again).
        diskCapacity_ = rows_;
        TuneCheckpoints();
        db_->Execute("PRAGMA wal_checkpoint(TRUNCATE)");
        TakeReserve();  // for the next time
    } catch (const SqliteError& error) {
        if (!IsFull(error.code())) {
            throw;
        }
        counts_ = counts;
        rows_ = rows;
        savedSeq_.clear();
        return false;
    }
    return dropped > 0;
}

void Spool::SetWritable(bool writable) {
    if (writable_ == writable) {
        return;
    }
    writable_ = writable;
    sequences_->SetSpoolBehind(!writable);
}

void Spool::ForgetFresh() {
    fresh_.clear();
    freshComplete_ = false;
}

std::vector<SpooledMessage> Spool::HandOverFresh(std::size_t limit) {
    std::vector<SpooledMessage> messages;
    while (messages.size() < limit && !fresh_.empty()) {
        SpooledMessage& message = fresh_.front();
        handedUpTo_ = message.id;
        handedOver_[message.id] = message.reader;
        messages.push_back(std::move(message));
        fresh_.pop_front();
    }
    return messages;
}

std::vector<SpooledMessage> Spool::HandOver(std::size_t limit) {
    std::vector<SpooledMessage> messages;
    const uint64_t stored = rows_ - std::min<uint64_t>(rows_, handedOver_.size());
    if (stored == 0 && !freshComplete_) {
        freshComplete_ = true;  // nothing left in the table that the memory does not hold
        fresh_.clear();
    }
    if (limit == 0 || stored == 0) {
        return messages;
    }
    if (freshComplete_ && fresh_.size() == stored) {
        return HandOverFresh(limit);
    }
    ForgetFresh();
    takeStored_->Bind(1, handedUpTo_)
        .Bind(2, static_cast<int64_t>(limit + acknowledgedSet_.size() + held_.size()));
    while (messages.size() < limit && takeStored_->Step()) {
        const int64_t id = takeStored_->Integer(0);
        handedUpTo_ = id;
        if (Acknowledged(id)) {
            continue;
        }
        messages.push_back(SpooledMessage{id, takeStored_->Text(1),
                                          static_cast<uint64_t>(takeStored_->Integer(2)),
                                          takeStored_->Text(3), takeStored_->Text(4)});
        handedOver_[id] = messages.back().reader;
    }
    takeStored_->Reset();
    return messages;
}

void Spool::Acknowledge(const std::vector<int64_t>& ids) {
    for (const int64_t id : ids) {
        const auto row = handedOver_.find(id);
        if (row == handedOver_.end()) {
            continue;  // dropped by a full spool meanwhile, or acknowledged twice
        }
        --counts_[row->second].spooled;
        --rows_;
        handedOver_.erase(row);
        acknowledged_.push_back(id);
        acknowledgedSet_.insert(id);
    }
    if (acknowledged_.size() >= kDeleteBatch) {
        FlushAcknowledged();
    }
}

void Spool::FlushAcknowledged() {
    KeepHeld();
    const int64_t below = ReleaseBelow();
    if (acknowledged_.empty() && (held_.empty() || *held_.begin() >= below)) {
        return;
    }
    // On a full disk the log is emptied first: deleting needs only the room it frees.
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            if (attempt > 0) {
                EmptyLog();
            }
            Transaction transaction(*db_);
            DeleteAcknowledged();
            transaction.Commit();
            SettleAcknowledged(below);
            if (attempt > 0) {
                TakeReserve();
            }
            return;
        } catch (const SqliteError& error) {
            savedSeq_.clear();
            if (!IsFull(error.code()) && (error.code() & 0xff) != SQLITE_BUSY) {
                throw;
            }
        }
    }
    // Kept for the next try; they are never handed over again meanwhile.
}

void Spool::ReturnHandedOver() {
    ForgetFresh();
    // Every row up to the oldest handed over is acknowledged (deleted, or held for other outputs):
    // the next hand-over starts there rather than reading the held ones again.
    if (!handedOver_.empty()) {
        handedUpTo_ = handedOver_.begin()->first - 1;
    }
    handedOver_.clear();
}

void Spool::HoldFrom(std::optional<int64_t> id) {
    holdFrom_ = id;
}

std::vector<SpooledMessage> Spool::ReadAfter(int64_t afterId, std::size_t limit) {
    std::vector<SpooledMessage> messages;
    takeStored_->Bind(1, afterId).Bind(2, static_cast<int64_t>(limit));
    while (takeStored_->Step()) {
        messages.push_back(SpooledMessage{takeStored_->Integer(0), takeStored_->Text(1),
                                          static_cast<uint64_t>(takeStored_->Integer(2)),
                                          takeStored_->Text(3), takeStored_->Text(4)});
    }
    takeStored_->Reset();
    return messages;
}

void Spool::CopyToDeadLetters(const std::vector<SpooledMessage>& rows) {
    Transaction transaction(*db_);
    Statement insert(db_->handle(), kInsertDeadLetter);
    for (const SpooledMessage& row : rows) {
        InsertDeadLetter(insert, row);
    }
    transaction.Commit();
}

std::optional<SpooledMessage> Spool::MoveToDeadLetter(int64_t id, const std::string& reason) {
    std::vector<SpooledMessage> moved = MoveToDeadLetters({id}, reason);
    if (moved.empty()) {
        return std::nullopt;
    }
    return std::move(moved.front());
}

std::vector<SpooledMessage> Spool::MoveToDeadLetters(const std::vector<int64_t>& ids,
                                                     const std::string& reason) {
    std::vector<SpooledMessage> moved;
    if (ids.empty()) {
        return moved;
    }
    const std::map<std::string, ReaderCounts> before = counts_;
    std::vector<int64_t> keptForOthers;
    try {
        Transaction transaction(*db_);
        Statement select(db_->handle(), "SELECT reader, seq, topic, payload FROM message WHERE id = ?1");
        Statement insert(db_->handle(), kInsertDeadLetter);
        std::set<std::string> readers;
        for (const int64_t id : ids) {
            if (Acknowledged(id)) {
                continue;  // the broker has it: deleted with the next batch, never a dead letter
            }
            select.Bind(1, id);
            if (!select.Step()) {
                select.Reset();
                continue;  // dropped by a full spool meanwhile, or moved already
            }
            moved.push_back(SpooledMessage{id, select.Text(0), static_cast<uint64_t>(select.Integer(1)),
                                           select.Text(2), select.Text(3)});
            select.Reset();
            const SpooledMessage& message = moved.back();
            InsertDeadLetter(insert, message);
            if (holdFrom_ && id >= *holdFrom_) {
                keptForOthers.push_back(id);  // the broker's part is done; other outputs still take it
            } else {
                deleteRow_->Bind(1, id).Run();
            }
            ReaderCounts& counts = counts_[message.reader];
            --counts.spooled;
            ++counts.dead;
            if (!reason.empty()) {
                counts.deadReason = reason;
            }
            readers.insert(message.reader);
        }
        for (const std::string& reader : readers) {
            SaveReader(reader);
        }
        transaction.Commit();
    } catch (const SqliteError&) {
        counts_ = before;
        savedSeq_.clear();
        throw;
    }
    held_.insert(keptForOthers.begin(), keptForOthers.end());
    bool storedRowMoved = false;
    for (const SpooledMessage& message : moved) {
        // A row handed over is no longer among the fresh ones; any other may be.
        storedRowMoved = handedOver_.erase(message.id) == 0 || storedRowMoved;
        --rows_;
    }
    if (storedRowMoved) {
        ForgetFresh();
    }
    return moved;
}

std::vector<SpooledMessage> Spool::Peek(const std::vector<int64_t>& ids) {
    std::vector<SpooledMessage> rows;
    Statement select(db_->handle(), "SELECT reader, seq, topic, payload FROM message WHERE id = ?1");
    for (const int64_t id : ids) {
        select.Bind(1, id);
        if (select.Step()) {
            rows.push_back(SpooledMessage{id, select.Text(0), static_cast<uint64_t>(select.Integer(1)),
                                          select.Text(2), select.Text(3)});
        }
        select.Reset();
    }
    return rows;
}

void Spool::KeepAges() {
    db_->Execute(kStoredAtSchema);
    Statement untimed(db_->handle(),
                      "INSERT INTO stored_at(first_id, time) SELECT min(id), ?1 FROM message "
                      "WHERE NOT EXISTS (SELECT 1 FROM stored_at) HAVING count(*) > 0");
    untimed.Bind(1, nowMs_()).Run();
    timed_ = true;
}

void Spool::NoteStoredAt(int64_t firstId) {
    const int64_t now = nowMs_();
    if (!timed_ || firstId == 0 || now - lastNotedMs_ < kStoredAtStepMs) {
        return;
    }
    try {
        Statement note(db_->handle(), "INSERT OR IGNORE INTO stored_at(first_id, time) VALUES(?1, ?2)");
        note.Bind(1, firstId).Bind(2, now).Run();
        lastNotedMs_ = now;
    } catch (const SqliteError&) {
        // A full disk: noted with a later commit.
    }
}

std::map<std::string, uint64_t> Spool::Expire(int64_t maxAgeMs) {
    std::map<std::string, uint64_t> expired;
    FlushAcknowledged();
    if (!timed_ || !acknowledged_.empty()) {
        return expired;  // acknowledged rows not yet deleted must not count as expired
    }
    // Rows below the first one kept as stored after the cutoff are older than maxAgeMs.
    Statement bound(db_->handle(),
                    "SELECT coalesce((SELECT min(first_id) FROM stored_at WHERE time > ?1), "
                    "(SELECT max(id) + 1 FROM message), 0)");
    bound.Bind(1, nowMs_() - maxAgeMs - kStoredAtStepMs);
    const int64_t below = bound.Step() ? bound.Integer(0) : 0;
    bound.Reset();
    const auto counts = counts_;
    const uint64_t rows = rows_;
    try {
        Transaction transaction(*db_);
        Statement count(db_->handle(),
                        "SELECT reader, count(*) FROM message WHERE id > ?1 AND id < ?2 GROUP BY reader");
        count.Bind(1, handedUpTo_).Bind(2, below);
        while (count.Step()) {
            expired[count.Text(0)] = static_cast<uint64_t>(count.Integer(1));
        }
        count.Reset();
        if (expired.empty()) {
            return expired;
        }
        Statement drop(db_->handle(), "DELETE FROM message WHERE id > ?1 AND id < ?2");
        drop.Bind(1, handedUpTo_).Bind(2, below).Run();
        for (const auto& [reader, number] : expired) {
            ReaderCounts& reader_counts = counts_[reader];
            reader_counts.spooled -= number;
            reader_counts.dropped += number;
            reader_counts.expired += number;
            rows_ -= number;
            SaveReader(reader);
        }
        // The times before the oldest row left are of no use any more.
        db_->Execute(
            "DELETE FROM stored_at WHERE first_id < (SELECT max(first_id) FROM stored_at WHERE first_id <= "
            "coalesce((SELECT min(id) FROM message), 9223372036854775807))");
        transaction.Commit();
    } catch (const SqliteError&) {
        counts_ = counts;
        rows_ = rows;
        savedSeq_.clear();
        throw;
    }
    ForgetFresh();
    return expired;
}

void Spool::CountLost(const std::string& reader, uint64_t count) {
    counts_[reader].dropped += count;
}

// The log is written from its start again but keeps its room (up to the size limit above); only
// making room on a full disk truncates it.
void Spool::Checkpoint() {
    FlushAcknowledged();
    try {
        db_->Execute("PRAGMA wal_checkpoint(RESTART)");
    } catch (const SqliteError& error) {
        if (!IsFull(error.code())) {
            throw;
        }
    }
    KeepReserve();
}

off_t Spool::FreeBytes() const {
    struct statvfs disk {};
    const std::string directory = std::filesystem::path(path_).parent_path().string();
    if (::statvfs(directory.empty() ? "." : directory.c_str(), &disk) != 0) {
        return 0;
    }
    return static_cast<off_t>(disk.f_bavail * disk.f_frsize);
}

void Spool::KeepReserve() {
    if (FreeBytes() < kReserveTakenBackAt) {
        return;
    }
    diskCapacity_ = std::numeric_limits<uint64_t>::max();  // room came back
    TakeReserve();
    TuneCheckpoints();
}

void Spool::TuneCheckpoints() {
    const bool roomy =
        diskCapacity_ == std::numeric_limits<uint64_t>::max() && FreeBytes() >= kRoomyDiskBytes;
    db_->Execute(roomy ? kWalCheckpointPagesRoomy : kWalCheckpointPagesTight);
}

void Spool::TakeReserve() {
    const std::string reserve = path_ + ".reserve";
    if (::access(reserve.c_str(), F_OK) == 0) {
        return;
    }
    const int fd = ::open(reserve.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, kReserveMode);
    if (fd < 0) {
        return;
    }
    if (::posix_fallocate(fd, 0, kReserveBytes) != 0) {
        ::unlink(reserve.c_str());
    }
    ::close(fd);
}

ReaderCounts Spool::counts(const std::string& reader) const {
    const auto found = counts_.find(reader);
    ReaderCounts counts = found != counts_.end() ? found->second : ReaderCounts{};
    counts.spoolFull = !writable_;
    return counts;
}

uint64_t Spool::lastSeq(const std::string& reader) const {
    const auto found = lastSeq_.find(reader);
    return found != lastSeq_.end() ? found->second : 0;
}

}  // namespace zendrik::daemon
