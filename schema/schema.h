// The product's tables as T-SQL scripts, built into the program: the base-information
// database, a year database and the log database "ZELLog", and the splitting of a script
// into the batches between its "GO" lines (the way sqlcmd sends them).
// Pure functions over constant texts: any thread may call them at any time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zel::db {

// CREATE TABLE statements of the base-information database (settings, schedule, run log,
// persons, work groups, shifts, punches, leave and mission types, ...).
std::string_view BaseSchemaSql();

// CREATE TABLE statements of one year database (rules, calendars, entry/exit records,
// permissions, daily, monthly and periodic results, transfer tables). The view
// V_GetCalItem is not among them: the service creates it at start.
std::string_view YearSchemaSql();

// CREATE TABLE statements of the log database "ZELLog".
std::string_view LogSchemaSql();

// Splits a script at every line that holds only "GO" (any case, blanks around it
// allowed, "\r\n" line ends too). Returns the batches in order, each with its own line
// breaks; batches holding nothing but blanks are left out.
std::vector<std::string> SplitBatches(std::string_view script);

// The SELECT of the view V_GetCalItem (the calendar of shift-group persons: one row per
// person, month and day of the group's rotation, the person's own shift overriding the
// group's), created in a year database and reading the base database `base`.
std::string CalItemViewSelect(const std::string& base);

// The CREATE FUNCTION batches of the base database's day functions decDate and incDate
// (previous and next "MM/DD" day), which the view calls.
const std::vector<std::string>& DateFunctionBatches();

}  // namespace zel::db
