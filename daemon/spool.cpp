#include "daemon/spool.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

namespace zendrik::daemon {
namespace {

constexpr int kSchemaVersion = 1;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS message("
    "  id INTEGER PRIMARY KEY,"
    "  reader TEXT NOT NULL,"
    "  seq INTEGER NOT NULL,"
    "  topic TEXT NOT NULL,"
    "  payload BLOB NOT NULL,"
    "  handed_over INTEGER NOT NULL DEFAULT 0);"
    // Sending takes the oldest stored rows; a full spool drops stored rows before handed-over ones.
    "CREATE INDEX IF NOT EXISTS message_by_state ON message(handed_over, id);"
    "CREATE TABLE IF NOT EXISTS reader("
    "  name TEXT PRIMARY KEY,"
    "  last_seq INTEGER NOT NULL,"
    "  dropped INTEGER NOT NULL DEFAULT 0);"
    "PRAGMA user_version = 1;";

bool IsCorrupt(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
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

}  // namespace

Spool::Spool(const std::string& path, uint64_t maxMessages)
    : path_(path), maxMessages_(maxMessages), lock_(path + ".lock") {
    if (!lock_.held()) {
        throw SpoolError(lock_.failure());
    }
    std::map<std::string, std::pair<uint64_t, uint64_t>> salvaged;
    try {
        db_ = std::make_unique<Database>(path_);
        if (const std::string check = db_->QueryText("PRAGMA quick_check"); check != "ok") {
            throw SqliteError(SQLITE_CORRUPT, "quick_check: " + check);
        }
        Prepare();
    } catch (const SqliteError& error) {
        if (!IsCorrupt(error.code())) {
            throw SpoolError("spool " + path_ + ": " + error.what());
        }
        db_.reset();
        const std::string aside = path_ + ".corrupt-" + CompactUtcNow();
        MoveAside(path_, aside);
        notes_.push_back("spool " + path_ + " was corrupt (" + error.what() + "); moved aside to " + aside);
        try {
            Database old(aside, true);
            Statement readers(old.handle(), "SELECT name, last_seq, dropped FROM reader");
            while (readers.Step()) {
                salvaged[readers.Text(0)] = {static_cast<uint64_t>(readers.Integer(1)),
                                             static_cast<uint64_t>(readers.Integer(2))};
            }
            notes_.push_back("sequence numbers of " + std::to_string(salvaged.size()) +
                             " readers taken over from the corrupt file");
        } catch (const SqliteError&) {
            notes_.push_back(
                "sequence numbers could not be read from the corrupt file: they start again at 1");
        }
        try {
            db_ = std::make_unique<Database>(path_);
            Prepare();
        } catch (const SqliteError& again) {
            throw SpoolError("spool " + path_ + ": " + again.what());
        }
    }
    try {
        if (!salvaged.empty()) {
            Transaction transaction(*db_);
            for (const auto& [reader, state] : salvaged) {
                saveReader_->Bind(1, reader)
                    .Bind(2, static_cast<int64_t>(state.first))
                    .Bind(3, static_cast<int64_t>(state.second))
                    .Run();
            }
            transaction.Commit();
        }
        ReturnHandedOver();
        LoadState();
    } catch (const SqliteError& error) {
        throw SpoolError("spool " + path_ + ": " + error.what());
    }
    if (rows_ > 0) {
        notes_.push_back(std::to_string(rows_) + " messages are waiting in the spool from before");
    }
}

void Spool::Prepare() {
    db_->Execute("PRAGMA journal_mode = WAL");
    durable_ = false;  // a new connection starts at SQLite's default
    SetDurable(true);
    const int version = std::stoi(db_->QueryText("PRAGMA user_version"));
    if (version > kSchemaVersion) {
        throw SpoolError("spool " + path_ + " was written by a newer zendrikd (schema " +
                         std::to_string(version) + ")");
    }
    db_->Execute(kSchema);
    sqlite3* handle = db_->handle();
    insert_ = std::make_unique<Statement>(
        handle, "INSERT INTO message(reader, seq, topic, payload) VALUES(?1, ?2, ?3, ?4)");
    dropOldest_ = std::make_unique<Statement>(
        handle,
        "DELETE FROM message WHERE id = (SELECT id FROM message ORDER BY handed_over, id LIMIT 1) "
        "RETURNING reader");
    deleteRow_ = std::make_unique<Statement>(handle, "DELETE FROM message WHERE id = ?1 RETURNING reader");
    saveReader_ = std::make_unique<Statement>(
        handle,
        "INSERT INTO reader(name, last_seq, dropped) VALUES(?1, ?2, ?3) "
        "ON CONFLICT(name) DO UPDATE SET last_seq = excluded.last_seq, dropped = excluded.dropped");
    takeStored_ = std::make_unique<Statement>(
        handle,
        "SELECT id, reader, seq, topic, payload FROM message WHERE handed_over = 0 ORDER BY id LIMIT ?1");
    markHandedOver_ = std::make_unique<Statement>(handle, "UPDATE message SET handed_over = 1 WHERE id = ?1");
}

void Spool::LoadState() {
    lastSeq_.clear();
    counts_.clear();
    Statement readers(db_->handle(), "SELECT name, last_seq, dropped FROM reader");
    while (readers.Step()) {
        lastSeq_[readers.Text(0)] = static_cast<uint64_t>(readers.Integer(1));
        counts_[readers.Text(0)].dropped = static_cast<uint64_t>(readers.Integer(2));
    }
    Statement spooled(db_->handle(), "SELECT reader, count(*) FROM message GROUP BY reader");
    rows_ = 0;
    while (spooled.Step()) {
        const auto count = static_cast<uint64_t>(spooled.Integer(1));
        counts_[spooled.Text(0)].spooled = count;
        rows_ += count;
    }
}

void Spool::SetDurable(bool durable) {
    if (durable_ == durable) {
        return;
    }
    // A stored message may be published at once; were it lost with a power failure after that,
    // its sequence number would be given again to another message. So a store reaches the disk
    // before anything is sent (FULL). Marking rows handed over and deleting acknowledged ones may
    // be lost that way without harm (at worst a message goes out twice), so those commits skip
    // the sync (NORMAL); the next store's sync takes them along.
    db_->Execute(durable ? "PRAGMA synchronous = FULL" : "PRAGMA synchronous = NORMAL");
    durable_ = durable;
}

Spool::Burst Spool::Begin() {
    SetDurable(true);
    return Burst(*this);
}

Spool::Burst::Burst(Spool& spool) : spool_(spool), transaction_(*spool.db_), rows_(spool.rows_) {}

bool Spool::Burst::DropOldest() {
    Statement& drop = *spool_.dropOldest_;
    const bool dropped = drop.Step();
    if (dropped) {
        const std::string reader = drop.Text(0);
        ReaderCounts& counts = counts_.try_emplace(reader, spool_.counts(reader)).first->second;
        --counts.spooled;
        ++counts.dropped;
        lastSeq_.try_emplace(reader, spool_.lastSeq(reader));
        --rows_;
    }
    drop.Reset();
    return dropped;
}

uint64_t Spool::Burst::Add(const std::string& reader, const std::string& topic,
                           const std::function<std::string(uint64_t seq)>& render) {
    while (rows_ >= spool_.maxMessages_ && DropOldest()) {
    }
    uint64_t& last = lastSeq_.try_emplace(reader, spool_.lastSeq(reader)).first->second;
    const uint64_t seq = last + 1;
    spool_.insert_->Bind(1, reader)
        .Bind(2, static_cast<int64_t>(seq))
        .Bind(3, topic)
        .Bind(4, render(seq))
        .Run();
    last = seq;
    ++counts_.try_emplace(reader, spool_.counts(reader)).first->second.spooled;
    ++rows_;
    ++added_;
    return seq;
}

void Spool::Burst::Commit() {
    for (const auto& [reader, last] : lastSeq_) {
        const ReaderCounts counts = counts_.count(reader) != 0 ? counts_.at(reader) : spool_.counts(reader);
        spool_.saveReader_->Bind(1, reader)
            .Bind(2, static_cast<int64_t>(last))
            .Bind(3, static_cast<int64_t>(counts.dropped))
            .Run();
    }
    transaction_.Commit();
    spool_.Commit(*this);
}

void Spool::Commit(const Burst& burst) {
    for (const auto& [reader, last] : burst.lastSeq_) {
        lastSeq_[reader] = last;
    }
    for (const auto& [reader, counts] : burst.counts_) {
        counts_[reader] = counts;
    }
    rows_ = burst.rows_;
}

std::vector<SpooledMessage> Spool::HandOver(std::size_t limit) {
    std::vector<SpooledMessage> messages;
    if (limit == 0 || rows_ == 0) {
        return messages;
    }
    SetDurable(false);
    Transaction transaction(*db_);
    takeStored_->Bind(1, static_cast<int64_t>(limit));
    while (takeStored_->Step()) {
        messages.push_back(SpooledMessage{takeStored_->Integer(0), takeStored_->Text(1),
                                          static_cast<uint64_t>(takeStored_->Integer(2)),
                                          takeStored_->Text(3), takeStored_->Text(4)});
    }
    takeStored_->Reset();
    for (const SpooledMessage& message : messages) {
        markHandedOver_->Bind(1, message.id).Run();
    }
    transaction.Commit();
    return messages;
}

void Spool::Acknowledge(const std::vector<int64_t>& ids) {
    if (ids.empty()) {
        return;
    }
    std::map<std::string, uint64_t> deleted;
    SetDurable(false);
    Transaction transaction(*db_);
    for (const int64_t id : ids) {
        deleteRow_->Bind(1, id);
        if (deleteRow_->Step()) {
            ++deleted[deleteRow_->Text(0)];
        }
        deleteRow_->Reset();
    }
    transaction.Commit();
    for (const auto& [reader, count] : deleted) {
        counts_[reader].spooled -= count;
        rows_ -= count;
    }
}

void Spool::ReturnHandedOver() {
    SetDurable(false);
    db_->Execute("UPDATE message SET handed_over = 0 WHERE handed_over = 1");
}

void Spool::Checkpoint() {
    db_->Execute("PRAGMA wal_checkpoint(TRUNCATE)");
}

ReaderCounts Spool::counts(const std::string& reader) const {
    const auto found = counts_.find(reader);
    return found != counts_.end() ? found->second : ReaderCounts{};
}

uint64_t Spool::lastSeq(const std::string& reader) const {
    const auto found = lastSeq_.find(reader);
    return found != lastSeq_.end() ? found->second : 0;
}

}  // namespace zendrik::daemon
