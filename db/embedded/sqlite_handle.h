// The one home of the embedded engine's SQLite handles: an owned connection handle, an owned
// prepared statement (each closed exactly once; movable, never copyable), checked function
// registration and plain execution. Every failure is a DbError carrying SQLite's message.
// A handle and its statements belong to the thread that uses the connection.
#pragma once

#include <sqlite3.h>

#include <string>

namespace zel::db::embedded {

// Owns one sqlite3 connection handle; closes it (sqlite3_close_v2) when destroyed.
class SqliteDb {
 public:
  SqliteDb() = default;
  // Opens `path` with `flags`; raises DbError naming the file when SQLite refuses.
  static SqliteDb Open(const std::string& path, int flags);
  ~SqliteDb() { Reset(); }
  SqliteDb(SqliteDb&& other) noexcept : db_(other.db_) { other.db_ = nullptr; }
  SqliteDb& operator=(SqliteDb&& other) noexcept;
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  sqlite3* get() const { return db_; }
  explicit operator bool() const { return db_ != nullptr; }
  void Reset();

 private:
  explicit SqliteDb(sqlite3* db) : db_(db) {}
  sqlite3* db_ = nullptr;
};

// Owns one prepared statement; finalizes it when destroyed.
class SqliteStatement {
 public:
  SqliteStatement() = default;
  // Prepares `sql` (flags: SQLITE_PREPARE_PERSISTENT for statements kept for reuse); raises
  // DbError with SQLite's message.
  static SqliteStatement Prepare(sqlite3* db, const std::string& sql, unsigned flags = 0);
  ~SqliteStatement() { sqlite3_finalize(stmt_); }
  SqliteStatement(SqliteStatement&& other) noexcept : stmt_(other.stmt_) { other.stmt_ = nullptr; }
  SqliteStatement& operator=(SqliteStatement&& other) noexcept;
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  sqlite3_stmt* get() const { return stmt_; }
  explicit operator bool() const { return stmt_ != nullptr; }

  // Steps once: true for a row, false when done; raises DbError on failure (the statement
  // is reset first, so it may run again).
  bool Step();
  // Steps to the end and resets.
  void Run();
  void Reset() { sqlite3_reset(stmt_); }
  std::string Text(int column) const;
  long long Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  void Bind(int position, const std::string& value);
  void Bind(int position, long long value);

 private:
  explicit SqliteStatement(sqlite3_stmt* stmt) : stmt_(stmt) {}
  sqlite3_stmt* stmt_ = nullptr;
};

// Runs SQL (one or more statements) on a handle; raises DbError with SQLite's message.
void ExecSqlite(sqlite3* db, const std::string& sql);

// The single value of a one-column query; `fallback` when it gives no row.
long long QueryInt(sqlite3* db, const std::string& sql, long long fallback);

// Registers a scalar function on the handle; raises DbError naming it when SQLite refuses.
void CreateSqlFunction(sqlite3* db, const char* name, int nargs, int flags, void* user_data,
                       void (*fn)(sqlite3_context*, int, sqlite3_value**));

}  // namespace zel::db::embedded
