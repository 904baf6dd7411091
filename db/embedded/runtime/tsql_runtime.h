// SQL Server semantics for SQLite: the collation "TSQL" (case-insensitive, trailing blanks
// ignored) and the tsql_* / incDate / decDate scalar functions that the embedded engine's
// emitted SQL calls where SQLite's own meaning differs from SQL Server's.
// RegisterTsqlRuntime is called on the thread that owns the handle, once per handle;
// CompareTsqlText is pure and may be called from any thread.
#pragma once

#include <string_view>

struct sqlite3;

namespace zel::db::embedded {

// Registers the collation "TSQL" and every function of the runtime on `db`.
// Raises std::runtime_error naming the collation or function SQLite refused.
void RegisterTsqlRuntime(sqlite3* db);

// Compares two UTF-8 texts the way SQL Server's default case-insensitive collation does:
// letters compared case-folded, trailing blanks ignored. Returns <0, 0 or >0.
int CompareTsqlText(std::string_view a, std::string_view b);

}  // namespace zel::db::embedded
