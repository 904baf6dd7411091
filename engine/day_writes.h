// The writes of a person's calculated days, held back while the days are calculated and
// written together: a day's changing statements wait in the batch, a day that failed drops
// them, and the waiting days are written in one transaction, leaving out those whose rows
// equal the stored ones, with the deletes of consecutive days merged and the rows sent as
// inserts of several rows. One batch per calculation data module; worker thread only.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "db/calc_changes.h"
#include "db/client.h"
#include "engine/day_rows.h"

namespace zel::engine {

// A day that could not be written (left as it was) and why.
struct DayNotWritten {
  std::string label;
  std::string failure;
};

// The changes a written day made to its stored DayWork row, for the journal of changes.
struct WrittenDayChanges {
  std::string perno;
  std::string day;  // "MM/DD"
  std::vector<db::CalcChange> changes;
};

class DayWriteBatch {
 public:
  // year: the calculation's year, whose calendar tells which days follow each other.
  void SetYear(int year) { year_ = year; }

  // Opens the writes of a day named `label` (in the failures Write returns); from here until
  // Close every statement Hold is given is kept back. Opening an open day does nothing.
  void Open(const std::string& label);
  bool IsOpen() const { return open_; }
  // Counts the days opened: tells the writes of one day from the next.
  int Serial() const { return serial_; }
  // Keeps a statement that changes rows (its text begins with INSERT, UPDATE or DELETE) of
  // the open day back; false when it is to run now (no day open, the batch writing, or a
  // text that changes nothing).
  bool Hold(const std::string& sql, const std::vector<db::Param>& params, int timeout_seconds);
  // Ends the open day: it waits to be written, or, when it failed, its statements are
  // dropped and it stays as it was.
  void Close(bool failed);
  // The days waiting, the open one included.
  int Waiting() const { return static_cast<int>(days_.size()); }
  // Forgets every day, written or not (a module handed on to the next person).
  void Clear();

  // Writes the closed days through `year` (the open one goes on waiting): a day whose rows,
  // read from its statements, equal the stored ones (read once per table for the days'
  // range) is left out; the others are written in one transaction, and when that fails,
  // each alone. With `journal`, `record` is told of each written day that changed its
  // stored DayWork row (a row that appears or disappears included: see RowChanges). Returns the
  // days that could not be written; never raises.
  std::vector<DayNotWritten> Write(db::Connection& year, bool journal,
                                   const std::function<void(const WrittenDayChanges&)>& record);

 private:
  struct Day {
    std::string label;
    std::vector<DayStatement> statements;
    std::optional<DayRows> rows;          // what the statements leave, when they could be read
    std::vector<db::CalcChange> changes;  // of its stored DayWork row, for the journal
  };
  // Leaves out the days whose rows equal the stored ones; with `journal`, notes the changes
  // of the others' DayWork rows. A read that fails leaves every day in.
  void LeaveOutUnchangedDays(db::Connection& year, std::vector<Day>& days, bool journal);
  // Runs the statements of the days in one transaction; raises the first failure.
  void Run(db::Connection& year, const std::vector<Day>& days);
  void Record(const std::vector<Day>& days,
              const std::function<void(const WrittenDayChanges&)>& record) const;

  int year_ = 0;
  bool open_ = false;
  bool writing_ = false;  // Run sends the statements through the connection that holds them
  int serial_ = 0;
  std::vector<Day> days_;  // the last one the open day, once a day is open
  DayRowsReader reader_;
  // The stored rows' columns, one list per query's columns, so that their maps are kept.
  std::map<std::vector<std::string>, Columns> stored_columns_;
  ColumnMaps column_maps_;
};

}  // namespace zel::engine
