// The rows a calculated day leaves in the year database, read from the day's held-back
// statements (its deletes of the day, the rows it inserts and the updates of rows it
// inserted), so that a recalculated day whose rows equal the stored ones need not be written
// again, and the deletes of consecutive rewritten days can go as one statement per table.
// Values and pure functions; a DayRowsReader belongs to one thread (a calculation worker).
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/calc_changes.h"
#include "db/client.h"

namespace zel::engine {

// One statement of a day's writes, as it would be sent.
struct DayStatement {
  std::string sql;
  std::vector<db::Param> params;
  int timeout_seconds = 0;
};

// Column names in lower case, shared by the rows of one statement text or one query.
using Columns = std::shared_ptr<const std::vector<std::string>>;

// A row: its values in the order of its columns.
struct DayRow {
  Columns columns;
  std::vector<db::Value> values;
  // A row a day writes: the index among the day's statements of the insert that wrote it
  // (its values in the insert's column order); -1 for a stored row.
  int statement = -1;
  const db::Value* Find(const std::string& lower_column) const;  // nullptr when absent
};

// A table a day owns: its rows of the day are deleted and written by the day.
struct DayTable {
  // The day's delete, as sent: "... (Perno = ?) AND (C >= ?) AND (C <= ?)", and its values.
  std::string delete_sql;
  std::vector<db::Param> delete_params;
  std::string date_column;   // C, the column holding the day
  std::vector<DayRow> rows;  // the rows the day's inserts and updates leave
};

// What a day's writes leave: the tables it owns (by name in lower case, without database and
// schema), the person, the day ("MM/DD").
struct DayRows {
  std::string perno;
  std::string day;
  std::map<std::string, DayTable> tables;
  std::size_t deletes = 0;  // the day's first statements, its deletes
};

// Reads days' statements; keeps what it learnt of each statement text, so a text the worker
// sends for every day is taken apart once.
class DayRowsReader {
 public:
  // Recognised are: the day's deletes (text "DELETE FROM <table> where (Perno = ?) AND
  // (<column> >= ?) AND (<column> <= ?)", both bounds the same day), then "INSERT INTO
  // <table> (<columns>) VALUES (?, …)" into an owned table and "UPDATE <table> SET <column> =
  // ?, … WHERE <column> = ? AND …" of exactly one row the day inserted, every row of the
  // day's person and day. Returns nullopt for anything else (the day is then written as its
  // statements say).
  std::optional<DayRows> Read(const std::vector<DayStatement>& statements);

  struct Shape;  // what a statement text is

 private:
  const Shape& ShapeOf(const std::string& sql);
  // The texts are long and few: their length and ends tell them apart cheaply (the keys
  // are still compared whole).
  struct TextHash {
    std::size_t operator()(const std::string& text) const noexcept;
  };
  std::unordered_map<std::string, std::shared_ptr<const Shape>, TextHash> shapes_;
};

// Whether a stored value and a written one are the same stored value: NULL only equals
// NULL, numbers compare as numbers (a text read as a number), texts compare exactly after
// their trailing blanks (char columns pad; the server ignores trailing blanks).
bool SameStoredValue(const db::Value& stored, const db::Value& written);

// Whether the stored rows of a table for the day equal the rows the day would write, in any
// order: every stored column must match (a column the inserts leave out is NULL), and every
// written column must be stored.
bool SameRows(const std::vector<DayRow>& stored, const std::vector<DayRow>& written);

// Where each stored column is among the written ones (-1: not written), for pairs of column
// lists: made once per pair and kept (the lists, by identity, are few when shared).
class ColumnMaps {
 public:
  // Nullopt when the written columns include one the stored ones lack.
  const std::optional<std::vector<int>>& Of(const Columns& stored, const Columns& written);

 private:
  struct Entry {
    Columns stored, written;
    std::optional<std::vector<int>> map;
  };
  std::vector<Entry> entries_;
};
// SameRows with the column maps kept in `maps`.
bool SameRows(const std::vector<DayRow>& stored, const std::vector<DayRow>& written,
              ColumnMaps& maps);

// The columns a rewritten row changes: every column of either row whose values are not the
// same stored value (a column missing from a row is NULL), the values as text without their
// trailing blanks. A stored column is named by `stored_names` (the stored row's columns as
// the table spells them, in the same order), a column only written by its lower-case name.
std::vector<db::CalcChange> ChangedColumns(const DayRow& stored, const DayRow& written,
                                           const std::vector<std::string>& stored_names);

// What the journal of changes records of a rewritten day's row (its table has one row a day):
// a row rewritten: ChangedColumns; a row that disappears: each column that held a value (not
// NULL, zero or blank), now NULL; a row that appears where the day was calculated before
// (`calculated_before`: the day had stored rows in another of its tables): each column written
// with a value, NULL before; nothing for a first calculation. `stored_columns` and `stored_names`
// are the stored rows' columns (lower case, and as the table spells them); `keys` (lower case) are
// left out of a row that appears or disappears: the journal names the person and the day.
struct StoredColumns {
  Columns lower;                   // may be null when the query gave no columns
  std::vector<std::string> names;  // as the table spells them
};
std::vector<db::CalcChange> RowChanges(const std::vector<DayRow>& stored,
                                       const std::vector<DayRow>& written, bool calculated_before,
                                       const StoredColumns& columns,
                                       const std::vector<std::string>& keys);

// The text that reads a person's stored rows of a table between two days: "SELECT * FROM
// <table as in the delete> where (Perno = ?) AND (<column> >= ?) AND (<column> <= ?)".
std::string StoredRowsQuery(const DayTable& table);

// A day to write: its statements and, when they could be read, its rows.
struct DayToWrite {
  const std::vector<DayStatement>* statements;
  const DayRows* rows;  // nullptr: the statements are sent as they are
};

// The statements that write the days, in order. The days of a run that follow each other in
// the calendar (next_day("MM/DD") gives the following day) and delete the same tables send
// their deletes once, the first day's with the run's last day as upper bound: one delete per
// table for a month instead of one per table and day. The rows that days whose statements
// could be read leave (their inserts with the updates of those rows applied) follow their
// deletes as inserts of several rows each: the rows of one insert text, from all such days
// written together, go in statements of that text with its row of values repeated (a power
// of two rows each, at most kMaxValuesPerInsert values, so few texts serve every count). The
// plan points into the days' statements and its own statements: it lives no longer than the
// days.
struct WritePlan {
  std::deque<DayStatement> merged;              // the merged deletes and the inserts of rows
  std::vector<const DayStatement*> statements;  // in the order to send
};
// The values one insert carries at most (SQL Server takes 2,100 parameters a statement).
inline constexpr std::size_t kMaxValuesPerInsert = 2000;
// The rows one insert carries at most (SQL Server takes 1,000 rows of VALUES).
inline constexpr std::size_t kMaxRowsPerInsert = 512;
WritePlan WriteStatements(const std::vector<DayToWrite>& days,
                          const std::function<std::string(const std::string&)>& next_day);

}  // namespace zel::engine
