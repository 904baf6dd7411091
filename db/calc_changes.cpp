#include "db/calc_changes.h"

#include <algorithm>
#include <cstdio>

#include "dates/clock.h"
#include "dates/jalali.h"
#include "schema/schema.h"
#include "util/text.h"

namespace zel::db {
namespace {

constexpr const char* kInsert =
    "INSERT INTO ZELLog..CalcChanges (CalcYear, PerNo, Kind, Period, ScheduleId, PassDate, "
    "PassTime, ColumnName, OldValue, NewValue) VALUES ";
constexpr const char* kInsertRow = "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
// The most rows one insert carries: 10 values a row stay under SQL Server's 2,100 parameters.
constexpr std::size_t kMostRowsPerInsert = 128;

// The insert of `rows` rows; its text is built once per row count (a power of two).
const std::string& InsertText(std::size_t rows) {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> t(kMostRowsPerInsert + 1);
    for (std::size_t n = 1; n <= kMostRowsPerInsert; n *= 2) {
      t[n] = kInsert;
      for (std::size_t i = 0; i < n; ++i) t[n] += (i ? ", " : "") + std::string(kInsertRow);
    }
    return t;
  }();
  return texts.at(rows);
}

constexpr const char* kDeleteBefore = "DELETE FROM ZELLog..CalcChanges WHERE PassDate < ?";

Param Text(std::string value, int size) {
  return {"", ParamType::String, size, Value(std::move(value))};
}
Param Text(const std::optional<std::string>& value, int size) {
  return {"", ParamType::String, size, value ? Value(util::Utf8Cut(*value, size)) : Value()};
}

// The table as a new log database gets it, created in ZELLog when missing.
std::string CreateIfMissing() {
  for (const std::string& batch : SplitBatches(LogSchemaSql())) {
    const std::size_t at = batch.find("CREATE TABLE CalcChanges (");
    if (at == std::string::npos) continue;
    return "IF OBJECT_ID('ZELLog..CalcChanges', 'U') IS NULL\nCREATE TABLE ZELLog..CalcChanges" +
           batch.substr(at + std::string_view("CREATE TABLE CalcChanges").size());
  }
  throw DbError("the log database's script has no table CalcChanges");
}

}  // namespace

void EnsureCalcChangesTable(Connection& connection) {
  static const std::string sql = CreateIfMissing();
  connection.Execute(sql);
}

void InsertCalcChanges(Connection& connection, const CalcChangeOf& of, const CalcPass& pass,
                       const std::vector<CalcChange>& changes) {
  // Several rows go in one statement, in chunks of a power of two rows (few distinct texts
  // for the statement caches), the largest that fits what is left.
  const std::string perno = util::TrimWhitespace(of.perno);
  std::size_t next = 0;
  while (next < changes.size()) {
    std::size_t rows = 1;
    while (rows * 2 <= std::min(changes.size() - next, kMostRowsPerInsert)) rows *= 2;
    std::vector<Param> params;
    params.reserve(rows * 10);
    for (std::size_t i = next; i < next + rows; ++i) {
      const CalcChange& change = changes[i];
      params.insert(params.end(),
                    {Text(of.year, 4), Text(perno, 10), Text(of.kind, 5), Text(of.period, 5),
                     Param{"", ParamType::Integer, 0, Value(std::int64_t{pass.schedule_id})},
                     Text(pass.date, 10), Text(pass.time, 5), Text(change.column, 128),
                     Text(change.old_value, 255), Text(change.new_value, 255)});
    }
    connection.Execute(InsertText(rows), params);
    next += rows;
  }
}

void DeleteCalcChangesBefore(Connection& connection, const std::string& first_kept_date) {
  connection.Execute(kDeleteBefore, {Text(first_kept_date, 10)});
}

std::string FirstKeptChangeDate(int keep_days) {
  const dates::JalaliDate d = dates::DecodeJalaliDate(dates::Today() - keep_days);
  char text[16];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d", d.year, d.month, d.day);
  return text;
}

std::vector<CalcChangeRow> ReadCalcChanges(Connection& connection, const CalcChangeQuery& query) {
  std::string sql =
      "SELECT CalcYear, PerNo, Kind, Period, ScheduleId, PassDate, PassTime, ColumnName, "
      "OldValue, NewValue FROM ZELLog..CalcChanges WHERE CalcYear = ?";
  std::vector<Param> params{Text(query.year, 4)};
  if (!query.since.empty()) {
    const std::string date = query.since.substr(0, 10);
    const std::string time = query.since.size() > 11 ? query.since.substr(11) : "00:00";
    sql += " AND (PassDate > ? OR (PassDate = ? AND PassTime >= ?))";
    params.insert(params.end(), {Text(date, 10), Text(date, 10), Text(time, 5)});
  }
  if (!query.persons.empty()) {
    sql += " AND PerNo IN (";
    for (std::size_t i = 0; i < query.persons.size(); ++i) {
      sql += i ? ", ?" : "?";
      params.push_back(Text(util::TrimWhitespace(query.persons[i]), 10));
    }
    sql += ")";
  }
  sql += " ORDER BY Id";
  ResultSet result = connection.Execute(sql, params);
  std::vector<CalcChangeRow> rows;
  rows.reserve(result.rows.size());
  const auto text = [](const Value& v) { return util::TrimRight(v.AsString(), " "); };
  const auto maybe = [&](const Value& v) -> std::optional<std::string> {
    if (v.IsNull()) return std::nullopt;
    return text(v);
  };
  for (const auto& r : result.rows) {
    rows.push_back({{text(r[0]), text(r[1]), text(r[2]), text(r[3])},
                    {static_cast<int>(r[4].AsInteger()), text(r[5]), text(r[6])},
                    {text(r[7]), maybe(r[8]), maybe(r[9])}});
  }
  return rows;
}

}  // namespace zel::db
