// The demo organisation: a deterministic, seeded set of persons on the three kinds of work
// group (fixed calendar, shift rotation, hourly type 2), a year's calendar with Friday
// holidays, a month of entry/exit records with typical noise and the raw punches behind
// them (leave, mission and service-late special cards among them), some leaves, missions and
// permissions, web requests, and a daily schedule entry; for trying the service and for
// benchmarks.
// Called on one thread with connections of that thread (the command line, a benchmark).
#pragma once

#include <cstdint>
#include <string>

#include "db/client.h"

namespace zel::engine::demo {

struct DemoOptions {
  int persons = 200;                  // at least 3: every kind of group gets somebody
  std::string year;                   // four-digit Jalali year; empty = the current one
  int month = 0;                      // month of the entry/exit records, 1..12; 0 = the current one
  std::uint32_t seed = 1;             // the same seed gives the same rows
  std::string database_name = "Att";  // base database; the year database is <name>_<year>
  // The month's entry/exit records left as their raw punches only (IoInfo not written),
  // the hourly permissions announced with special cards and the web requests left to the
  // transfers (not written as permissions), and the daily schedule entry transfers them
  // (Transfer 1, every punch; TransSLate, TransMor, TransMam) before it calculates.
  bool records_as_punches = false;
};

// What was written.
struct DemoSummary {
  std::string year;
  int month = 0;
  int persons = 0;
  int calendar_items = 0;  // CalItem rows of the fixed calendar
  int io_records = 0;      // IoInfo rows (complete and incomplete)
  int punches = 0;         // ClockDmp rows: the punches behind them, untransferred
  int leaves = 0;          // hourly and daily leave sheets
  int missions = 0;        // hourly and daily mission sheets
  int permissions = 0;     // extra-work permissions and service-late sheets
  int card_punches = 0;    // punches among them made with a special card or key
  int web_requests = 0;    // leave and mission requests filed on the web (AskAbsence/AskMission)
};

// Fills the base database and the year database of `options.year` (both must exist with
// the product's tables, e.g. after `db init`; `server` names the server with no database)
// with the demo organisation. Rows the demo owns are replaced: run it again and the same
// organisation stands there. Raises std::invalid_argument for bad options and
// zel::db::DbError when a statement fails.
DemoSummary GenerateDemoOrganisation(const db::ConnectionSettings& server,
                                     const DemoOptions& options);

// Creates the date functions incDate and decDate in the base database when missing, and
// (re)creates the view V_GetCalItem in the year database: the calendar of shift-group
// persons, one row per person and day of their group's rotation (the person's own shift
// overrides the group's), as the service creates it at start. Raises zel::db::DbError.
void InstallShiftCalendarView(db::Connection& base, db::Connection& year,
                              const std::string& database_name);

}  // namespace zel::engine::demo
