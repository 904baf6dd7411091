#include "engine/day_writes.h"

#include <algorithm>
#include <exception>
#include <map>
#include <string_view>
#include <utility>

#include "dates/jalali_day.h"
#include "util/text.h"

namespace zel::engine {

namespace {

// Whether the text changes rows: its first word is INSERT, UPDATE or DELETE.
bool ChangesRows(std::string_view sql) {
  const size_t start = sql.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return false;
  const std::string_view rest = sql.substr(start);
  for (std::string_view word : {"INSERT", "UPDATE", "DELETE"}) {
    if (rest.size() <= word.size() || !util::EqualsNoCase(rest.substr(0, word.size()), word)) {
      continue;
    }
    const char next = static_cast<char>(rest[word.size()] | 0x20);
    const bool word_goes_on =
        (next >= 'a' && next <= 'z') || (next >= '0' && next <= '9') || rest[word.size()] == '_';
    if (!word_goes_on) return true;
  }
  return false;
}

// The table whose rewritten rows the journal of changes records (a day's keys as DayRows names
// its tables).
const std::string kJournalTable = "daywork";

// The stored rows of the days' tables, by table and day.
using StoredRows = std::map<std::string, std::map<std::string, std::vector<DayRow>>>;

// Reads the person's stored rows of each table over the days' range, once per table; notes
// the journal table's columns. Raises what the reads raise.
StoredRows ReadStoredRows(db::Connection& year, const std::vector<DayRows*>& days,
                          std::map<std::vector<std::string>, Columns>& known_columns,
                          StoredColumns& journal_columns) {
  struct Range {
    const DayTable* table;
    std::string from, to;
  };
  std::map<std::string, Range> ranges;  // by table
  for (const DayRows* day : days) {
    for (const auto& [name, table] : day->tables) {
      auto [at, fresh] = ranges.try_emplace(name, Range{&table, day->day, day->day});
      if (!fresh) {
        at->second.from = std::min(at->second.from, day->day);
        at->second.to = std::max(at->second.to, day->day);
      }
    }
  }
  StoredRows stored;
  for (const auto& [name, range] : ranges) {
    std::vector<db::Param> params = range.table->delete_params;
    params[1].value = db::Value(range.from);
    params[2].value = db::Value(range.to);
    db::ResultSet result = year.Execute(StoredRowsQuery(*range.table), params, 60);
    std::vector<std::string> names;
    for (const std::string& column : result.columns) names.push_back(util::LowerAscii(column));
    Columns& columns = known_columns[names];
    if (!columns) columns = std::make_shared<const std::vector<std::string>>(std::move(names));
    if (name == kJournalTable) journal_columns = {columns, result.columns};
    const std::string date_column = util::LowerAscii(range.table->date_column);
    auto& of_table = stored[name];
    for (auto& values : result.rows) {
      DayRow row{columns, std::move(values)};
      const db::Value* date = row.Find(date_column);
      if (!date) throw db::DbError("no column " + date_column);
      of_table[util::TrimWhitespace(date->AsString())].push_back(std::move(row));
    }
  }
  return stored;
}

const std::vector<DayRow>& StoredOfDay(const StoredRows& stored, const std::string& table,
                                       const std::string& day) {
  static const std::vector<DayRow> kNone;
  const auto of_table = stored.find(table);
  if (of_table == stored.end()) return kNone;
  const auto at = of_table->second.find(day);
  return at == of_table->second.end() ? kNone : at->second;
}

// Whether the day's rows equal the stored ones, table by table.
bool Unchanged(const DayRows& day, const StoredRows& stored, ColumnMaps& maps) {
  for (const auto& [name, table] : day.tables) {
    if (!SameRows(StoredOfDay(stored, name, day.day), table.rows, maps)) return false;
  }
  return true;
}

// The changes of a day's DayWork row for the journal (none when the day does not write
// DayWork).
std::vector<db::CalcChange> JournalChanges(const DayRows& day, const StoredRows& stored,
                                           const StoredColumns& columns) {
  const auto table = day.tables.find(kJournalTable);
  if (table == day.tables.end()) return {};
  bool calculated_before = false;
  for (const auto& [name, rows] : day.tables) {
    if (name != kJournalTable && !StoredOfDay(stored, name, day.day).empty())
      calculated_before = true;
  }
  return RowChanges(StoredOfDay(stored, kJournalTable, day.day), table->second.rows,
                    calculated_before, columns,
                    {"perno", util::LowerAscii(table->second.date_column)});
}

}  // namespace

void DayWriteBatch::Open(const std::string& label) {
  if (open_) return;
  days_.push_back({label, {}, std::nullopt, {}});
  open_ = true;
  ++serial_;
}

bool DayWriteBatch::Hold(const std::string& sql, const std::vector<db::Param>& params,
                         int timeout_seconds) {
  if (!open_ || writing_ || !ChangesRows(sql)) return false;
  days_.back().statements.push_back({sql, params, timeout_seconds});
  return true;
}

void DayWriteBatch::Close(bool failed) {
  if (!open_) return;
  open_ = false;
  if (failed) days_.pop_back();  // the day stays as it was
}

void DayWriteBatch::Clear() {
  open_ = false;
  days_.clear();
}

void DayWriteBatch::LeaveOutUnchangedDays(db::Connection& year, std::vector<Day>& days,
                                          bool journal) {
  std::vector<DayRows*> read;
  for (Day& day : days) {
    day.rows = reader_.Read(day.statements);
    if (!day.rows) continue;
    if (!read.empty() && day.rows->perno != read.front()->perno) {
      day.rows.reset();  // one person's rows are read; such a day is written as it is
      continue;
    }
    read.push_back(&*day.rows);
  }
  if (read.empty()) return;
  StoredRows stored;
  StoredColumns journal_columns;
  try {
    stored = ReadStoredRows(year, read, stored_columns_, journal_columns);
  } catch (const std::exception&) {
    // Not known what is stored: every day is written as it was calculated.
    for (Day& day : days) day.rows.reset();
    return;
  }
  std::erase_if(
      days, [&](const Day& day) { return day.rows && Unchanged(*day.rows, stored, column_maps_); });
  if (!journal) return;
  for (Day& day : days) {
    if (day.rows) day.changes = JournalChanges(*day.rows, stored, journal_columns);
  }
}

void DayWriteBatch::Run(db::Connection& year, const std::vector<Day>& days) {
  writing_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{writing_};
  std::vector<DayToWrite> to_write;
  to_write.reserve(days.size());
  for (const Day& day : days)
    to_write.push_back({&day.statements, day.rows ? &*day.rows : nullptr});
  const int year_number = year_;
  const WritePlan plan = WriteStatements(to_write, [year_number](const std::string& mmdd) {
    const dates::CalcDay day(year_number, mmdd);
    return day.ok() && !day.IsLastOfYear() ? day.Next().MMDD() : std::string();
  });
  db::RunInTransaction(year, [&] {
    for (const DayStatement* s : plan.statements)
      year.Execute(s->sql, s->params, s->timeout_seconds);
  });
}

void DayWriteBatch::Record(const std::vector<Day>& days,
                           const std::function<void(const WrittenDayChanges&)>& record) const {
  if (!record) return;
  for (const Day& day : days) {
    if (!day.changes.empty()) record({day.rows->perno, day.rows->day, day.changes});
  }
}

std::vector<DayNotWritten> DayWriteBatch::Write(
    db::Connection& year, bool journal,
    const std::function<void(const WrittenDayChanges&)>& record) {
  std::vector<DayNotWritten> failed;
  std::vector<Day> days;
  days.swap(days_);
  if (open_) {
    // Called inside a day: the day in progress goes on waiting.
    days_.push_back(std::move(days.back()));
    days.pop_back();
  }
  std::erase_if(days, [](const Day& day) { return day.statements.empty(); });
  if (!days.empty()) LeaveOutUnchangedDays(year, days, journal);
  if (days.empty()) return failed;
  try {
    Run(year, days);
    Record(days, record);
  } catch (const std::exception& group_failure) {
    if (days.size() == 1) {
      failed.push_back({days.front().label, group_failure.what()});
      return failed;
    }
    // One day of the group failed: each day alone, so that only the failing ones are lost.
    for (const Day& day : days) {
      try {
        Run(year, {day});
      } catch (const std::exception& e) {
        failed.push_back({day.label, e.what()});
        continue;
      }
      Record({day}, record);
    }
  }
  return failed;
}

}  // namespace zel::engine
