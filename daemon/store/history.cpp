#include "daemon/store/history.h"

#include <chrono>

namespace zendrik::daemon {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS visit("
    "  id INTEGER PRIMARY KEY,"
    "  epc TEXT NOT NULL,"
    "  card TEXT NOT NULL,"
    "  zone TEXT NOT NULL,"
    "  entered INTEGER NOT NULL,"
    "  left INTEGER NOT NULL,"
    "  last_seen INTEGER NOT NULL,"
    "  last_reader TEXT NOT NULL,"
    "  reads INTEGER NOT NULL,"
    "  readers TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS visit_by_epc ON visit(epc, left);"
    "CREATE INDEX IF NOT EXISTS visit_by_left ON visit(left);"
    "CREATE TABLE IF NOT EXISTS passage("
    "  id INTEGER PRIMARY KEY,"
    "  epc TEXT NOT NULL,"
    "  card TEXT NOT NULL,"
    "  door TEXT NOT NULL,"
    "  direction TEXT NOT NULL,"
    "  time INTEGER NOT NULL,"
    "  outside_at INTEGER NOT NULL,"
    "  inside_at INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS passage_by_epc ON passage(epc, id);"
    "CREATE INDEX IF NOT EXISTS passage_by_time ON passage(time);";

constexpr int64_t kDayMs = 24 * 3600 * 1000;
constexpr int kBusyWaitMs = 2000;
// Beyond the size the oldest rows go in steps of this many of each table.
constexpr int64_t kDropStep = 1000;
// The readers of a visit are kept as one text, separated by a character no reader name has.
constexpr char kReaderSeparator = '/';

std::string JoinReaders(const std::vector<std::string>& readers) {
    std::string text;
    for (const std::string& reader : readers) {
        text += (text.empty() ? "" : std::string(1, kReaderSeparator)) + reader;
    }
    return text;
}

std::vector<std::string> SplitReaders(const std::string& text) {
    std::vector<std::string> readers;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find(kReaderSeparator, start), text.size());
        readers.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return readers;
}

// Binds the values to ?1, ?2, ... in order and runs the statement.
template <typename... Values>
void RunWith(Statement& statement, const Values&... values) {
    int index = 0;
    (statement.Bind(++index, values), ...);
    statement.Run();
}

}  // namespace

History::History(const std::string& path, uint32_t keepDays, uint64_t maxBytes)
    : db_(path), keepMs_(static_cast<int64_t>(keepDays) * kDayMs), maxBytes_(maxBytes) {
    // Another process looking into the file (sqlite3 on the gateway) holds it for a moment only:
    // the history waits for it rather than losing a batch.
    sqlite3_busy_timeout(db_.handle(), kBusyWaitMs);
    db_.Execute("PRAGMA journal_mode = WAL");
    db_.Execute("PRAGMA synchronous = NORMAL");
    db_.Execute(kSchema);
    insertVisit_ = std::make_unique<Statement>(db_.handle(),
                                               "INSERT INTO visit(epc, card, zone, entered, left, last_seen, "
                                               "last_reader, reads, readers) "
                                               "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    insertPassage_ = std::make_unique<Statement>(
        db_.handle(),
        "INSERT INTO passage(epc, card, door, direction, time, outside_at, inside_at) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    rows_ = Count("SELECT (SELECT count(*) FROM visit) + (SELECT count(*) FROM passage)");
}

uint64_t History::Count(const char* sql) {
    return std::stoull(db_.QueryText(sql));
}

void History::Write(const std::vector<VisitRecord>& visits, const std::vector<PassageRecord>& passages,
                    int64_t nowMs) {
    // The counts follow the transaction: on a failure they are as before it.
    const uint64_t rows = rows_;
    const uint64_t dropped = dropped_;
    try {
        Transaction transaction(db_);
        for (const VisitRecord& visit : visits) {
            RunWith(*insertVisit_, visit.epc, visit.card, visit.zone, visit.enteredMs, visit.leftMs,
                    visit.lastSeenMs, visit.lastReader, static_cast<int64_t>(visit.reads),
                    JoinReaders(visit.readers));
        }
        for (const PassageRecord& passage : passages) {
            RunWith(*insertPassage_, passage.epc, passage.card, passage.door, passage.direction,
                    passage.timeMs, passage.outsideAtMs, passage.insideAtMs);
        }
        rows_ += visits.size() + passages.size();
        DropOlderThan(nowMs - keepMs_);
        DropBeyondSize();
        transaction.Commit();
    } catch (const SqliteError&) {
        rows_ = rows;
        dropped_ = dropped;
        throw;
    }
}

void History::DropOlderThan(int64_t cutMs) {
    for (const char* sql : {"DELETE FROM visit WHERE left < ?1", "DELETE FROM passage WHERE time < ?1"}) {
        Statement drop(db_.handle(), sql);
        drop.Bind(1, cutMs).Run();
        const auto gone = static_cast<uint64_t>(sqlite3_changes(db_.handle()));
        rows_ -= std::min(rows_, gone);
        dropped_ += gone;
    }
}

uint64_t History::UsedBytes() {
    return Count(
               "SELECT (SELECT page_count FROM pragma_page_count()) - (SELECT freelist_count FROM "
               "pragma_freelist_count())") *
           Count("PRAGMA page_size");
}

// The oldest of both tables go, a step at a time, until the pages in use fit again (the freed
// pages are used again by what comes next, so the file stops growing).
void History::DropBeyondSize() {
    while (rows_ > 0 && UsedBytes() > maxBytes_) {
        uint64_t gone = 0;
        for (const char* sql :
             {"DELETE FROM visit WHERE id IN (SELECT id FROM visit ORDER BY left LIMIT ?1)",
              "DELETE FROM passage WHERE id IN (SELECT id FROM passage ORDER BY time LIMIT ?1)"}) {
            Statement drop(db_.handle(), sql);
            drop.Bind(1, kDropStep).Run();
            gone += static_cast<uint64_t>(sqlite3_changes(db_.handle()));
        }
        if (gone == 0) {
            return;
        }
        rows_ -= std::min(rows_, gone);
        dropped_ += gone;
    }
}

std::vector<VisitRecord> History::Visits(const std::string& epc, std::size_t limit) {
    Statement select(
        db_.handle(),
        "SELECT epc, card, zone, entered, left, last_seen, last_reader, reads, readers FROM visit "
        "WHERE epc = ?1 "
        "ORDER BY left DESC, id DESC LIMIT ?2");
    select.Bind(1, epc).Bind(2, static_cast<int64_t>(limit));
    std::vector<VisitRecord> visits;
    while (select.Step()) {
        visits.push_back(VisitRecord{select.Text(0), select.Text(1), select.Text(2), select.Integer(3),
                                     select.Integer(4), select.Integer(5), select.Text(6),
                                     static_cast<uint64_t>(select.Integer(7)), SplitReaders(select.Text(8))});
    }
    return visits;
}

// Every condition bound, an unset one as a value that lets every row through. A tag's passages
// are found through passage_by_epc: with "?1 = '' OR epc = ?1" SQLite could use no index and would
// walk the whole table newest first, every row of it for a tag with few passages or none.
std::vector<PassageRecord> History::Passages(const PassageQuery& query) {
    const std::string epcCondition = query.epc.empty() ? "?1 = ''" : "epc = ?1";
    Statement select(db_.handle(),
                     "SELECT id, epc, card, door, direction, time, outside_at, inside_at FROM passage "
                     "WHERE " +
                         epcCondition +
                         " AND (?2 = '' OR door = ?2) AND (?3 = '' OR direction = ?3) "
                         "AND time >= ?4 AND time < ?5 AND id < ?6 ORDER BY id DESC LIMIT ?7");
    select.Bind(1, query.epc)
        .Bind(2, query.door)
        .Bind(3, query.direction)
        .Bind(4, query.sinceMs.value_or(INT64_MIN))
        .Bind(5, query.untilMs.value_or(INT64_MAX))
        .Bind(6, query.beforeId.value_or(INT64_MAX))
        .Bind(7, static_cast<int64_t>(query.limit));
    std::vector<PassageRecord> passages;
    while (select.Step()) {
        passages.push_back(PassageRecord{select.Integer(0), select.Text(1), select.Text(2), select.Text(3),
                                         select.Text(4), select.Integer(5), select.Integer(6),
                                         select.Integer(7)});
    }
    return passages;
}

}  // namespace zendrik::daemon
