#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zendrik::daemon {

// A failed SQLite call, with SQLite's own code and words.
class SqliteError : public std::runtime_error {
  public:
    SqliteError(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
    int code() const { return code_; }

  private:
    int code_;
};

// One prepared statement, reset after every use so that it can be bound and stepped again.
class Statement {
  public:
    Statement(sqlite3* db, std::string_view sql);

    Statement& Bind(int index, int64_t value);
    Statement& Bind(int index, std::string_view text);

    // Steps once: true while a row is there to read.
    bool Step();
    // Steps to the end (for statements that return no rows) and resets.
    void Run();
    void Reset();

    int64_t Integer(int column) const;
    std::string Text(int column) const;

  private:
    sqlite3* db_;
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement_;
};

// An open database connection, closed on destruction.
class Database {
  public:
    // Opens (and creates) the file at `path`; `readOnly` opens an existing one without writing.
    Database(const std::string& path, bool readOnly = false);

    sqlite3* handle() const { return db_.get(); }
    void Execute(const char* sql);
    // The first column of the first row of `sql`, as text ("" when there is none).
    std::string QueryText(const char* sql);

  private:
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db_;
};

// BEGIN IMMEDIATE on construction; ROLLBACK on destruction unless committed.
class Transaction {
  public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void Commit();

  private:
    Database& db_;
    bool open_ = true;
};

[[noreturn]] void ThrowSqlite(sqlite3* db, int code, const std::string& doing);

}  // namespace zendrik::daemon
