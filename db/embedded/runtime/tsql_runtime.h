// SQL Server semantics for SQLite: the collation "TSQL" (case-insensitive, trailing blanks
// ignored) and the tsql_* / zel_char / zel_varchar / incDate / decDate scalar functions that
// the embedded engine's emitted SQL calls where SQLite's own meaning differs from SQL Server's.
// RegisterTsqlRuntime is called on the thread that owns the handle, once per handle;
// ValueText on the thread that owns the value's handle; CompareTsqlText is pure and may be
// called from any thread.
#pragma once

#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_value;

namespace zel::db::embedded {

// What RegisterTsqlRuntime adds to a handle (NULL in gives NULL out unless noted; failures
// are SQL errors carrying SQL Server's message text):
//   collation TSQL                 CompareTsqlText.
//   tsql_add/sub/mul/div/mod(a,b)  + - * / % by run-time types: two texts concatenate (+
//                                  only); a text beside a number takes the number's type;
//                                  integers stay int (bigint beyond its range) with overflow
//                                  and divide-by-zero errors.
//   tsql_compare(a,b)              -1/0/1 by the same type rules, texts through the collation.
//   tsql_concat(a,b)               text concatenation of both values as text.
//   tsql_substring(s,start,len), tsql_len(s), tsql_left(s,n), tsql_right(s,n),
//   tsql_charindex(find,s[,start]), tsql_replace(s,from,to), tsql_ltrim(s), tsql_rtrim(s),
//   tsql_upper(s), tsql_lower(s)   on characters (UTF-8), case-insensitive where matching.
//   tsql_char(v,n), tsql_varchar(v,n)  CAST to CHAR(n) (padded) / VARCHAR(n) (n = -1: MAX).
//   tsql_int(v[,'smallint'|'tinyint'|'bigint']), tsql_bit(v), tsql_float(v),
//   tsql_numeric(v[,precision[,scale]]), tsql_isnumeric(v) (NULL gives 0).
//   tsql_getdate()                 local time "YYYY-MM-DD HH:MM:SS.mmm" (process clock).
//   incDate(d), decDate(d)         next / previous day of an "MM/DD" text (no year, no leap
//                                  day: 12/30 -> 13/01, 01/01 -> 00/31).
//   zel_char(v,n), zel_varchar(v,n)  a value stored into a CHAR(n) (padded) / VARCHAR(n)
//                                  column (n = -1: MAX): a cut of more than blanks fails with
//                                  "String or binary data would be truncated.".
// Everything the engine's emitted SQL calls is here (so a tool that loads the extension can
// read and write the engine's file, column defaults included), except the catalogue
// lookups zel_object_id, zel_db_id, zel_db_name and zel_object_name, which answer from the
// connection's catalogue and session and are registered by the connection.

// Registers the collation "TSQL" and every function of the runtime on `db`.
// Raises std::runtime_error naming the collation or function SQLite refused.
void RegisterTsqlRuntime(sqlite3* db);

// The text of a value as SQL Server converts it to text: integers in full, reals with up to
// 15 significant digits, a text as it is; NULL gives "".
std::string ValueText(sqlite3_value* v);

// Compares two UTF-8 texts the way SQL Server's default case-insensitive collation does:
// letters compared case-folded, trailing blanks ignored. Returns <0, 0 or >0.
int CompareTsqlText(std::string_view a, std::string_view b);

}  // namespace zel::db::embedded
