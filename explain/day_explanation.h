// The explanation of a calculated day: the day's shape and settings, the records assembled,
// every stretch with its result by name and the rule and setting that decided it, the closing
// steps, the totals with the stretches that make them up, the day's CSSLog reports and where
// the stored DayWork row differs. Built from the daily engine's trace of a run that writes
// nothing (ExplainDays), so it is what the engine would calculate now.
// ExplainDays opens its own connections; call it from one thread at a time per request.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/day_trace.h"

namespace zel::explain {

// A DayWork column and an amount (a value, or what a stretch or step added to it).
struct ColumnAmount {
  std::string column;
  int64_t amount = 0;
};

// One record the day was assembled from.
struct ExplainSource {
  int type = 0;            // 1 entry/exit, 2 leave, 3 mission, 4 extra-work permission,
                           // 5 service-late permission, 23 suspension
  std::string kind;        // in words, with the sheet: "daily leave, sheet 21, type 3"
  std::string begin, end;  // "MM/DD HH:NN"
};

// One stretch of the day, in timeline order.
struct ExplainStretch {
  std::string begin, end;  // "MM/DD HH:NN"
  int begin_minute = 0;    // minutes from the calculated day's 00:00 (may be negative)
  int end_minute = 0;
  int minutes = 0;                   // as stored (after the meal deduction or holiday length)
  int working_interval = 0;          // 0..6
  std::string interval;              // "duty, first segment", ...
  bool present = false;              // kind: present (else absent)
  std::vector<std::string> sources;  // the records that cover it; empty: none
  int code = 0;                      // result code after classification and processing
  int status = -1;                   // stored TimeTab status; -1 when not processed
  bool ok = false;                   // permitted or tolerated
  std::string status_name;           // by name, English ("late within tolerance")
  std::string status_fa;             // the same in Persian
  std::string css_class;             // colour class: present, extra, extra-ok, tolerated, late,
                                     // absent, leave, mission, service, not-counted, suspended
  std::string sheet;                 // the permission sheet (page number) of its data, if any
  engine::TraceReason classified;    // validation
  std::optional<engine::TraceReason> reclassified;  // before processing
  engine::TraceReason processed;                    // break rule, meal, holiday length
  std::vector<ColumnAmount> adds;                   // what it added to the DayWork minute columns
};

// A closing step of the day and what it changed.
struct ExplainStep {
  engine::TraceReason reason;
  std::vector<ColumnAmount> changes;
};

// One numeric DayWork column: the value now, what makes it up, and the stored value.
struct ExplainTotal {
  std::string column;
  int64_t value = 0;
  bool minutes = false;             // a minute total (the others are codes, flags, money)
  std::vector<ColumnAmount> parts;  // "stretch 3 08:00-08:10" or a step's rule, amount
  std::optional<int64_t> stored;    // the stored DayWork value; nullopt without a stored row
};

struct StoredReport {
  std::string date, time, comment;
};

struct DayExplanation {
  std::string year, person, person_name, date;  // date "MM/DD"
  bool calculated = false;                      // false: not calculated (why in not_calculated)
  std::string not_calculated;

  // The day's shape and the settings that decide its stretches.
  int work_group = 0;
  std::string work_group_name;
  int group_type = 0;
  std::string shape;  // "calendar 1", "shift group 6", ...
  int holiday = 0;
  int day_length = 0, cal_work = 0;
  std::string extra_begin, extra_end, duty_begin, duty_end, break_begin, break_end;
  std::string day_begin, day_end;  // where the attendance day begins and ends
  int extra_begin_minute = 0, extra_end_minute = 0, duty_begin_minute = 0, duty_end_minute = 0,
      break_begin_minute = 0, break_end_minute = 0, day_begin_minute = 0, day_end_minute = 0;
  std::vector<std::pair<std::string, std::string>> settings;  // name, value

  std::vector<ExplainSource> sources;
  std::vector<ExplainStretch> stretches;
  std::vector<engine::TraceReason> day_notes;
  std::vector<ExplainStep> steps;
  std::vector<ExplainTotal> totals;  // every numeric DayWork column
  bool daily_absence = false;

  int error_code = 0;  // the day failed: its code (0 with a message: an exception)
  std::string error_message;
  std::vector<std::string> reports;          // CSSLog comments this run makes
  std::vector<StoredReport> stored_reports;  // CSSLog rows of the day
  bool stored_found = false;                 // a DayWork row is stored for the day
  std::vector<std::string> differences;      // columns whose stored value differs

  bool failed() const { return error_code != 0 || !error_message.empty(); }
};

// Where and what to explain.
struct ExplainRequest {
  // The connection: as the calculation data module takes it.
  std::string data_dir, odbc_driver;
  std::string database_name, server_name, user_name, password;
  std::string year;                // "YYYY"
  std::string person;              // as typed; compared trimmed
  std::vector<std::string> dates;  // "MM/DD", in order
};

// Runs the daily engine on each date without writing anything and returns the explanations,
// with the stored DayWork row and CSSLog reports of each day. Raises std::invalid_argument
// when the person is not in the table Person, and what the connections raise.
std::vector<DayExplanation> ExplainDays(const ExplainRequest& request);

// The totals of a month as stored in MahWork (column, value), empty when there is no row
// (the month was not calculated). Never raises: a missing table gives an empty list.
std::vector<ColumnAmount> StoredMonthTotals(const ExplainRequest& request, int month);

// The status of a stored TimeTab row by name: English and Persian. `ok` tells extra work
// with and without permission apart.
std::pair<std::string, std::string> StatusName(int status, bool ok);

// The colour class of a stored status.
std::string StatusClass(int status, bool ok);

// "duty, first segment" and the other working intervals by number.
std::string WorkingIntervalName(int working_interval);

}  // namespace zel::explain
