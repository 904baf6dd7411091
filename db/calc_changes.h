// The journal of results that changed: when a pass rewrites a person's day (DayWork) or
// month (MahWork) whose stored row differs from the new one, one row per changed column in
// ZELLog..CalcChanges with the old and the new value and the pass that wrote it, so that a
// clerk sees which checked results a later edit changed. A first calculation is not a change.
// Stateless functions; any thread may call them, each with a connection of its own thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "db/client.h"

namespace zel::db {

// One changed column of a person's day or month.
struct CalcChange {
  std::string column;
  std::optional<std::string> old_value;  // nullopt: NULL
  std::optional<std::string> new_value;
};

// The pass that wrote a change: its schedule entry (0 for a run without one) and its start,
// Jalali "YYYY/MM/DD" and "HH:NN".
struct CalcPass {
  int schedule_id = 0;
  std::string date;
  std::string time;
};

// What was rewritten: "day" with "MM/DD" or "month" with "MM".
struct CalcChangeOf {
  std::string year;  // "YYYY"
  std::string perno;
  std::string kind;
  std::string period;
};

// Creates the journal table when the log database lacks it (a home made before it existed).
// Raises DbError.
void EnsureCalcChangesTable(Connection& connection);

// Adds the changes of one day or month (nothing when empty). Raises DbError.
void InsertCalcChanges(Connection& connection, const CalcChangeOf& of, const CalcPass& pass,
                       const std::vector<CalcChange>& changes);

// Deletes, in one statement, the rows of passes dated before `first_kept_date` ("YYYY/MM/DD").
// Raises DbError.
void DeleteCalcChangesBefore(Connection& connection, const std::string& first_kept_date);

// The Jalali date `keep_days` days before today: the first date a journal that keeps
// `keep_days` days keeps.
std::string FirstKeptChangeDate(int keep_days);

// A journal row as read back.
struct CalcChangeRow {
  CalcChangeOf of;
  CalcPass pass;
  CalcChange change;
};
struct CalcChangeQuery {
  std::string year;                  // "YYYY"
  std::string since;                 // "YYYY/MM/DD HH:NN", empty: every row
  std::vector<std::string> persons;  // empty: everyone
};
// The rows of a year in the order they were written. Raises DbError.
std::vector<CalcChangeRow> ReadCalcChanges(Connection& connection, const CalcChangeQuery& query);

}  // namespace zel::db
