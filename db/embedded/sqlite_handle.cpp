#include "db/embedded/sqlite_handle.h"

#include <utility>

#include "db/client.h"

namespace zel::db::embedded {

SqliteDb SqliteDb::Open(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  SqliteDb owned(db);  // SQLite hands back a handle to close even when the open fails
  if (rc != SQLITE_OK) {
    const std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
    throw DbError("Cannot open the embedded server file " + path + ": " + msg);
  }
  return owned;
}

SqliteDb& SqliteDb::operator=(SqliteDb&& other) noexcept {
  if (this != &other) {
    Reset();
    db_ = std::exchange(other.db_, nullptr);
  }
  return *this;
}

void SqliteDb::Reset() {
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

SqliteStatement SqliteStatement::Prepare(sqlite3* db, const std::string& sql, unsigned flags) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()), flags, &stmt, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(stmt);
    throw DbError(sqlite3_errmsg(db));
  }
  return SqliteStatement(stmt);
}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    stmt_ = std::exchange(other.stmt_, nullptr);
  }
  return *this;
}

bool SqliteStatement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  const std::string msg = sqlite3_errmsg(sqlite3_db_handle(stmt_));
  sqlite3_reset(stmt_);
  throw DbError(msg);
}

void SqliteStatement::Run() {
  while (Step()) {
  }
  sqlite3_reset(stmt_);
}

std::string SqliteStatement::Text(int column) const {
  const unsigned char* p = sqlite3_column_text(stmt_, column);
  return p ? std::string(reinterpret_cast<const char*>(p),
                         static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
           : std::string();
}

void SqliteStatement::Bind(int position, const std::string& value) {
  sqlite3_bind_text(stmt_, position, value.data(), static_cast<int>(value.size()),
                    SQLITE_TRANSIENT);
}

void SqliteStatement::Bind(int position, long long value) {
  sqlite3_bind_int64(stmt_, position, value);
}

void ExecSqlite(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    throw DbError(msg);
  }
}

long long QueryInt(sqlite3* db, const std::string& sql, long long fallback) {
  SqliteStatement q = SqliteStatement::Prepare(db, sql);
  return q.Step() ? q.Int(0) : fallback;
}

void CreateSqlFunction(sqlite3* db, const char* name, int nargs, int flags, void* user_data,
                       void (*fn)(sqlite3_context*, int, sqlite3_value**)) {
  if (sqlite3_create_function_v2(db, name, nargs, flags, user_data, fn, nullptr, nullptr,
                                 nullptr) != SQLITE_OK) {
    throw DbError(std::string("cannot register function ") + name + ": " + sqlite3_errmsg(db));
  }
}

}  // namespace zel::db::embedded
