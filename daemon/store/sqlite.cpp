#include "daemon/store/sqlite.h"

namespace zendrik::daemon {
namespace {

constexpr int kBusyTimeoutMs = 5000;

}  // namespace

void ThrowSqlite(sqlite3* db, int code, const std::string& doing) {
    const char* words = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    throw SqliteError(code, doing + ": " + words);
}

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db), statement_(nullptr, sqlite3_finalize) {
    sqlite3_stmt* prepared = nullptr;
    const int code = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                        SQLITE_PREPARE_PERSISTENT, &prepared, nullptr);
    statement_.reset(prepared);
    if (code != SQLITE_OK) {
        ThrowSqlite(db, code, "preparing \"" + std::string(sql) + "\"");
    }
}

Statement& Statement::Bind(int index, int64_t value) {
    const int code = sqlite3_bind_int64(statement_.get(), index, value);
    if (code != SQLITE_OK) {
        ThrowSqlite(db_, code, "binding");
    }
    return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
    const int code =
        sqlite3_bind_text64(statement_.get(), index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (code != SQLITE_OK) {
        ThrowSqlite(db_, code, "binding");
    }
    return *this;
}

bool Statement::Step() {
    const int code = sqlite3_step(statement_.get());
    if (code == SQLITE_ROW) {
        return true;
    }
    if (code == SQLITE_DONE) {
        return false;
    }
    const std::string words = sqlite3_errmsg(db_);
    const std::string sql = sqlite3_sql(statement_.get());
    Reset();
    throw SqliteError(code, "running \"" + sql + "\": " + words);
}

void Statement::Run() {
    while (Step()) {
    }
    Reset();
}

void Statement::Reset() {
    sqlite3_reset(statement_.get());
    sqlite3_clear_bindings(statement_.get());
}

int64_t Statement::Integer(int column) const {
    return sqlite3_column_int64(statement_.get(), column);
}

std::string Statement::Text(int column) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_.get(), column));
    const int length = sqlite3_column_bytes(statement_.get(), column);
    return bytes != nullptr ? std::string(bytes, static_cast<std::size_t>(length)) : std::string();
}

Database::Database(const std::string& path, bool readOnly) : db_(nullptr, sqlite3_close_v2) {
    sqlite3* opened = nullptr;
    const int flags = readOnly ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    const int code = sqlite3_open_v2(path.c_str(), &opened, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    db_.reset(opened);
    if (code != SQLITE_OK) {
        ThrowSqlite(opened, code, "opening " + path);
    }
    sqlite3_extended_result_codes(opened, 1);
    // Another process (sqlite3 looking at the spool, a backup) may hold the write lock for a
    // moment: wait for it rather than fail.
    sqlite3_busy_timeout(opened, kBusyTimeoutMs);
}

void Database::Execute(const char* sql) {
    char* message = nullptr;
    const int code = sqlite3_exec(db_.get(), sql, nullptr, nullptr, &message);
    if (code != SQLITE_OK) {
        const std::string words = message != nullptr ? message : sqlite3_errstr(code);
        sqlite3_free(message);
        throw SqliteError(code, std::string("running \"") + sql + "\": " + words);
    }
}

std::string Database::QueryText(const char* sql) {
    Statement statement(db_.get(), sql);
    std::string text = statement.Step() ? statement.Text(0) : std::string();
    statement.Reset();
    return text;
}

Transaction::Transaction(Database& db) : db_(db) {
    db_.Execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (open_) {
        sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void Transaction::Commit() {
    db_.Execute("COMMIT");
    open_ = false;
}

}  // namespace zendrik::daemon
