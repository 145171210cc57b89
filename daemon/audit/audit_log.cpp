#include "daemon/audit/audit_log.h"

#include <algorithm>

namespace zendrik::daemon {
namespace {

// Every entry is on disk before its command runs: commands are few, so each commit may wait for
// the disk (synchronous FULL) without slowing anything that matters.
constexpr const char* kSchema = R"(
PRAGMA journal_mode = WAL;
PRAGMA synchronous = FULL;
CREATE TABLE IF NOT EXISTS entries(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    time_ms INTEGER NOT NULL,
    actor TEXT NOT NULL,
    path TEXT NOT NULL,
    reader TEXT NOT NULL,
    command TEXT NOT NULL,
    args TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS outcomes(
    entry INTEGER PRIMARY KEY,
    time_ms INTEGER NOT NULL,
    outcome TEXT NOT NULL,
    code INTEGER NOT NULL,
    words TEXT NOT NULL,
    before TEXT NOT NULL,
    after TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS entries_by_reader ON entries(reader, id);
CREATE INDEX IF NOT EXISTS entries_by_actor ON entries(actor, id);
CREATE INDEX IF NOT EXISTS entries_by_time ON entries(time_ms);
CREATE TRIGGER IF NOT EXISTS entries_append_only BEFORE UPDATE ON entries
    BEGIN SELECT RAISE(ABORT, 'the audit trail is append-only'); END;
CREATE TRIGGER IF NOT EXISTS outcomes_append_only BEFORE UPDATE ON outcomes
    BEGIN SELECT RAISE(ABORT, 'the audit trail is append-only'); END;
)";

constexpr const char* kSelectEntries =
    "SELECT e.id, e.time_ms, e.actor, e.path, e.reader, e.command, e.args, o.outcome, o.code, o.words, "
    "o.before, o.after FROM entries e LEFT JOIN outcomes o ON o.entry = e.id ";

enum Column { kId, kTime, kActor, kPath, kReader, kCommand, kArgs, kOutcome, kCode, kWords, kBefore, kAfter };

AuditRecord RecordAt(const Statement& row) {
    AuditRecord record;
    record.id = row.Integer(kId);
    record.timeMs = row.Integer(kTime);
    record.start = AuditStart{
        {row.Text(kActor), row.Text(kPath)}, row.Text(kReader), row.Text(kCommand), row.Text(kArgs)};
    record.end.outcome = AuditOutcomeOf(row.Text(kOutcome)).value_or(AuditOutcome::kPending);
    record.end.code = static_cast<int32_t>(row.Integer(kCode));
    record.end.words = row.Text(kWords);
    record.end.beforeJson = row.Text(kBefore);
    record.end.afterJson = row.Text(kAfter);
    return record;
}

}  // namespace

AuditLog::AuditLog(const std::string& path) : db_(std::make_unique<Database>(path)) {
    db_->Execute(kSchema);
    sqlite3* db = db_->handle();
    append_ = std::make_unique<Statement>(
        db,
        "INSERT INTO entries(time_ms, actor, path, reader, command, args) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    complete_ = std::make_unique<Statement>(
        db,
        "INSERT OR IGNORE INTO outcomes(entry, time_ms, outcome, code, words, before, after) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    query_ = std::make_unique<Statement>(
        db, std::string(kSelectEntries) +
                "WHERE (?1 = '' OR e.reader = ?1) AND (?2 = '' OR e.actor = ?2) AND e.time_ms >= ?3 AND "
                "e.id < ?4 ORDER BY e.id DESC LIMIT ?5");
    deleteOutcomes_ = std::make_unique<Statement>(
        db, "DELETE FROM outcomes WHERE entry IN (SELECT id FROM entries WHERE time_ms < ?1)");
    deleteEntries_ = std::make_unique<Statement>(db, "DELETE FROM entries WHERE time_ms < ?1");
    CompleteLeftOpen();
}

AuditLog::~AuditLog() = default;

void AuditLog::CompleteLeftOpen() {
    Statement open(db_->handle(), std::string(kSelectEntries) + "WHERE o.entry IS NULL ORDER BY e.id");
    while (open.Step()) {
        unknown_.push_back(RecordAt(open));
    }
    open.Reset();
    for (AuditRecord& record : unknown_) {
        record.end = AuditEnd{
            AuditOutcome::kUnknown, 0, "the daemon stopped before the command's outcome was stored", {}, {}};
        Complete(record.id, record.timeMs, record.end);
    }
}

int64_t AuditLog::Append(int64_t timeMs, const AuditStart& start) {
    append_->Bind(1, timeMs)
        .Bind(2, start.caller.actor)
        .Bind(3, start.caller.path)
        .Bind(4, start.reader)
        .Bind(5, start.command)
        .Bind(6, start.argsJson)
        .Run();
    return sqlite3_last_insert_rowid(db_->handle());
}

void AuditLog::Complete(int64_t id, int64_t timeMs, const AuditEnd& end) {
    complete_->Bind(1, id)
        .Bind(2, timeMs)
        .Bind(3, AuditOutcomeWords(end.outcome))
        .Bind(4, int64_t{end.code})
        .Bind(5, end.words)
        .Bind(6, end.beforeJson)
        .Bind(7, end.afterJson)
        .Run();
}

AuditPage AuditLog::Query(const AuditQuery& query) {
    const std::size_t limit = std::clamp<std::size_t>(query.limit, 1, kAuditPageMax);
    // One more than asked for says whether a next page has anything.
    query_->Bind(1, query.reader)
        .Bind(2, query.actor)
        .Bind(3, query.sinceMs)
        .Bind(4, query.beforeId)
        .Bind(5, static_cast<int64_t>(limit + 1));
    AuditPage page;
    while (query_->Step()) {
        page.entries.push_back(RecordAt(*query_));
    }
    query_->Reset();
    if (page.entries.size() > limit) {
        page.entries.pop_back();
        page.next = page.entries.back().id;
    }
    return page;
}

uint64_t AuditLog::DeleteBefore(int64_t cutoffMs) {
    Transaction transaction(*db_);
    deleteOutcomes_->Bind(1, cutoffMs).Run();
    deleteEntries_->Bind(1, cutoffMs).Run();
    const auto deleted = static_cast<uint64_t>(sqlite3_changes(db_->handle()));
    transaction.Commit();
    return deleted;
}

}  // namespace zendrik::daemon
