// The monthly and periodic calculation of one person: the person's daily results of a
// month (MahWork, MahMorDt, MahMamDt) or of a calculation period, which may cross the year
// end and then reads two year databases (PrdWork, PrdMorDt, PrdMamDt), summed and put
// through the work group's monthly rules (range_rules.h).
// Built on one calculation data module and used only by that module's worker thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "aggregation/range_rules.h"
#include "db/calc_changes.h"
#include "db/client.h"
#include "db/two_year_range.h"
#include "engine/base_tables.h"
#include "engine/day_rows.h"
#include "engine/dm_calculate.h"

namespace zel::aggregation {

// What a range calculation sums: a month of the year database or a calculation period.
enum class RangeKind { kMonth, kPeriod };

class RangeCalculation {
 public:
  // Prepares the queries on the module's two connections, which must be open
  // (TdmCalculate::InitialValues). Raises what the connections raise.
  explicit RangeCalculation(engine::TdmCalculate& module);
  RangeCalculation(const RangeCalculation&) = delete;
  RangeCalculation& operator=(const RangeCalculation&) = delete;

  // The month (1..12) of CurrentYear of a person (number as stored): writes MahWork and the
  // month's leave and mission totals, or the CSSLog rows of an incomplete month. The month
  // covers the days of the person's employment (the union of his JobInfo rows); nothing
  // happens when he was employed on none of them. Raises database and conversion errors;
  // what is computed is written only at the end, in one transaction (or held, see
  // HoldWrites), so a failed month leaves its earlier rows whole. The person's keyed rows (JobInfo,
  // WGMahPrd, MorLMah, MSMorDef, MSExtDef, MahExPrm) are read once for all the person's months: one
  // object serves one run, which changes none of them.
  void CalculateMonth(const std::string& APerson, int AMonth);
  // The period (1..12) defined in SYSTEM: writes PrdWork and the period's totals, or CSSLog
  // rows for an employment outside the period, a missing year database, a missing work
  // group or an incomplete period. Raises "Range state is unknown!" for a wrapped range of
  // periods 2..11, and database and conversion errors. The period's rows are written in
  // one transaction (or held, see HoldWrites).
  void CalculatePeriod(const std::string& APerson, int APeriod);
  // CalculateMonth or CalculatePeriod by the kind of range.
  void Calculate(RangeKind kind, const std::string& APerson, int number);

  // The months a run calculates (first..last of CurrentYear): the day rows, leave and
  // mission details of a person are then read once for all of them and taken month by
  // month. Without it (or for a month outside) each month reads its own.
  void SetMonthRange(int first, int last) {
    first_month_ = first;
    last_month_ = last;
  }

  // Holds the rows of the months or periods calculated from now on instead of writing them,
  // until WriteHeld: a run's deletion of its old rows and its new rows then land together.
  // first..last are the run's numbers: the leave balance a month or period carries from a
  // number among them comes from the held rows (that number's old row is being replaced).
  void HoldWrites(int first, int last);
  // Runs `before` (the run's deletions) and then the held writes in one transaction on the
  // year connection; the held writes are dropped, written or not. Raises what they raise
  // (nothing is then written).
  void WriteHeld(const std::function<void()>& before);

  // The pass whose months are written: once a month's write is committed, each column of its
  // stored MahWork row that the new row changes is recorded with its old and new value in the
  // journal of changes under this pass. A first calculation of a month is not a change, and a
  // write that fails records nothing. Without a pass (no date) nothing is recorded.
  void SetPass(db::CalcPass pass) { pass_ = std::move(pass); }

  // The work group of a month or period: the WGMahPrd override when enabled, else the
  // person's rule at CurDate ("MM/DD", the last day calculated) in RuleDatabaseName; ""
  // when none. The rule's row stays open (its Section is written with the result).
  std::string GetMonthWorkGroup(const std::string& Perno, int AMonth, const std::string& CurDate);
  std::string GetPeriodWorkGroup(const std::string& Perno, int APeriod,
                                 const std::string& RuleDatabaseName, const std::string& CurDate);
  // Opens the work group by its code (0 when the text is not a number); false when absent.
  bool OpenWorkGroup(const std::string& Code);
  const engine::WorkGroupRow& WorkGroup() const { return group_; }

  // The two-year text of a template over FromDate..ToDate in the given state.
  std::string TwoYearQuery(const std::string& Template, db::T2YearRangeState State,
                           const std::string& DateFieldName, const std::string& ToDate_MMDD,
                           const std::string& FromDate_MMDD,
                           const std::string& CurrentYearDatabaseName,
                           const std::string& OtherYearDatabaseName) const;

  // The accumulator of the last month or period calculated.
  const TRangeWorkRec& RangeWorkRec() const { return R_; }

 private:
  struct Totals {
    int code = 0;
    int amount = 0;
    int days = 0;
  };
  // Where the days of a period are read: one database, or two across the year end.
  struct Source {
    db::T2YearRangeState state = db::T2YearRangeState::rsNormal;
    std::string current_db, other_db;
    std::string from, to;  // "MM/DD", clamped
  };

  // The person's employment over his JobInfo rows; a row's empty date is start or end.
  EmploymentSpans ReadEmployment(const std::string& person, const std::string& start,
                                 const std::string& end);
  LeaveType LeaveTypeOf(int code);
  bool MissionIsDaily(int code);
  // The rows of a month among the rows of a longer range, by their day column ("MM/DD",
  // trailing blanks ignored as the server ignores them); an empty filter takes every row.
  // With several employment rows only the days the person was employed are taken; a day's
  // year is `year`, or `wrap_year` for days from `wrap` on in a range across the year end.
  struct DayFilter {
    std::string from, to;
    const char* column = "DDate";
    const EmploymentSpans* employment = nullptr;  // null: employed on every day of the range
    int year = 0;
    std::string wrap;
    int wrap_year = 0;
    bool Takes(const db::Dataset& q) const;
    bool Employed(const std::string& mmdd) const;
  };

  // The education leave of a range: its sum, the sum of its daily leaves and their number.
  struct Education {
    int sum = 0, daily_sum = 0, count_days = 0;
  };

  // A month or period of a person as the calculation takes it, made by ResolveMonth or
  // ResolvePeriod: the days it sums, how many rows a complete one has, and where a period's
  // rows are read. Not copied: the filter points at the employment.
  struct Range {
    RangeKind kind = RangeKind::kMonth;
    std::string person;
    int number = 0;
    EmploymentSpans employment;
    DayFilter filter;  // the days taken from the rows read
    std::vector<std::string> employed_days;
    int days = 0;            // the day rows a complete month or period has
    int range_days = 0;      // the days employed
    int full_days = 0;       // the days of the whole month or period (the work bound's scale)
    int rule_full_days = 0;  // the days the monthly rules scale the entitlements by
    Source src;              // a period's databases and dates
    std::unique_ptr<db::Dataset> day_rows, leave_rows, mission_rows;  // a period's rows
    Range() = default;
    Range(const Range&) = delete;
    Range& operator=(const Range&) = delete;
    bool month() const { return kind == RangeKind::kMonth; }
  };
  // The month's employed days and its work group; false when the person was employed on none
  // of its days (nothing to calculate).
  bool ResolveMonth(const std::string& P, int M, Range& range);
  // The period's employed days, databases and work group; false (its CSSLog row written)
  // when the period cannot be calculated.
  bool ResolvePeriod(const std::string& P, int n, Range& range);
  // The employment's first and last day against the period's (YYYY/MM/DD); false (its
  // CSSLog row written) when the person was not employed in the period.
  bool PeriodEmployed(const Range& r, const std::string& period_start,
                      const std::string& period_end, std::string& c_start, std::string& c_end);
  // The databases of the cut period; false (its CSSLog row written) when a year it needs
  // is not among SYSTEM.Years.
  bool PeriodSource(const Range& r, const std::string& c_start, const std::string& c_end,
                    Source& src);
  // Sums a resolved month or period and stores its result.
  void CalculateRange(Range& r);
  // The range's day rows, leave and mission details (a period's read at first use).
  db::Dataset& DayRows(Range& r);
  db::Dataset& LeaveRows(Range& r);
  db::Dataset& MissionRows(Range& r);
  // Whether every employed day has its row; else the month's or period's CSSLog rows.
  bool AllDaysCalculated(Range& r, db::Dataset& rows);
  // A CSSLog row of a month or period: the month's head or the period's prefix, then text.
  void Say(const Range& r, const std::string& text);
  // The rules of a non-hourly group: lates, duty, the range rules, education leave and the
  // extra-work permission.
  void ApplyGroupRules(Range& r, const DaySums& sums, RangeFacts& facts,
                       const Education& education);
  // The education leave of a range: a month's from its leave rows, a period's read in every
  // year database it covers.
  Education RangeEducation(const Range& r, const Education& from_rows);
  // The employed days ("MM/DD") of from..to in the given years, in calendar order.
  static std::vector<std::string> EmployedDays(const DayFilter& filter, const std::string& from,
                                               const std::string& to, int from_year, int to_year);
  // The dates read for month M whose own days are From..To: the run's months when M is
  // among them, else From..To.
  std::pair<std::string, std::string> ReadRange(int M, const std::string& from,
                                                const std::string& to) const;
  // Opens the person's day rows, leave and mission details over From..To unless they are
  // open over that range already.
  void OpenDays(const std::string& person, const std::string& from, const std::string& to);
  // Reads a day row through the column positions of its dataset (resolved once per query).
  static DayWorkRow ReadDayRow(const db::Dataset& q, const std::vector<int>& columns);
  // Rows of a two-year template over the source's range; the template's one parameter
  // (the person or the calendar code) gets the value.
  void OpenRows(db::Dataset& q, const Source& src, const std::vector<std::string>& template_lines,
                const char* date_field, const char* param, db::ParamType type, int size,
                const db::Value& value) const;
  // Rows of a prepared monthly query over a person (or calendar) and the dates From..To.
  static void OpenRange(db::Dataset& q, const char* key, const db::Value& value,
                        const std::string& from, const std::string& to);
  // Sums the day rows of an open dataset that the filter takes; returns the number of
  // holidays among them.
  int SumDays(db::Dataset& rows, const DayFilter& filter, DaySums& sums);
  // Leave totals per type; also the education leave among the rows: its sum, the sum of
  // its daily leaves and their number.
  std::vector<Totals> SumLeaveDetails(db::Dataset& rows, const DayFilter& filter,
                                      Education& education);
  std::vector<Totals> SumMissionDetails(db::Dataset& rows, const DayFilter& filter);
  // Calendar or shift duty of a month; duty and holiday counts.
  void MonthDuty(const std::string& person, int month, const DayFilter& days, RangeFacts& facts);
  void PeriodDuty(const std::string& person, const Source& src, const DayFilter& days,
                  RangeFacts& facts);
  // The duty of a month's shift days (its shift group's and the person's own shifts).
  void MonthShiftDuty(const std::string& person, int month, const DayFilter& days,
                      RangeFacts& facts);
  // The work group's calendar items among the rows of an open query that the filter takes:
  // the duty of working items, the holidays by kind.
  static void CountCalendarItems(db::Dataset& items, const DayFilter& days, RangeFacts& facts);
  // The filter of the employed days of from..to (years from_year..to_year).
  static DayFilter EmployedFilter(const EmploymentSpans& employment, const std::string& from,
                                  const std::string& to, int from_year, int to_year);
  // The leave balance a month or period carries in: the initial balance at
  // SYSTEM.StartMorLeft, after it the previous one's MorkhasiLeft (and its holidays used
  // into use_holiday); 0 before it.
  int32_t CarriedBalance(const std::string& P, int number, RangeKind kind, int32_t& use_holiday);
  // The CSSLog rows of a month or period whose days were not all calculated: `say` writes
  // `none` when no day was, else `some`, then the employed days without a row are listed.
  void ReportMissingDays(const std::string& P, db::Dataset& rows, const DayFilter& filter,
                         int count, const std::vector<std::string>& employed_days,
                         const std::function<void(const std::string&)>& say, const char* none,
                         const char* some);
  // MSMorDef and MSExtDef of the month or period number.
  void ReadSpecials(const std::string& person, int mah, RangeFacts& facts);
  // Education leave of a part (one database and its bounds): sum, daily sum and count.
  void AddEducation(const std::string& person, const std::string& database, const std::string& from,
                    const std::string& to, Education& education);
  // What a month or period writes, all computed before anything is written.
  struct Result {
    std::string person;
    int number = 0;
    RangeKind kind = RangeKind::kMonth;
    TRangeWorkRec R;
    engine::WorkGroupRow group;
    std::string section;
    int range_days = 0, full_days = 0, holidays = 0, use_holiday = 0;
    std::vector<Totals> leave, missions;
  };
  // The result with the accumulator, work group and section of what was just calculated.
  Result Completed(Result result, const Range& r, int holidays, int use_holiday) const;
  // The month's or period's permitted extra work (MahExPrm) applied to the accumulator.
  void ApplyPermission(const std::string& person, int number);
  // Writes a result in one transaction on the year connection (its rows land together or
  // not at all: rolled back, the error raised again), or holds it for WriteHeld.
  void Store(Result result);
  // The leave balance and holidays used that number's held row carries; false when the
  // number is not among the held run's.
  bool HeldBalance(int number, int32_t& left, int32_t& use_holiday) const;
  void Write(const Result& r);
  // Writes the result row of a month or period: the columns of its kind of work group.
  void WriteResult(db::Dataset& q, const char* number_col, const Result& r);
  void WriteDetails(db::Dataset& q, const char* number_col, const std::string& person, int number,
                    const char* code_col, const std::vector<Totals>& totals);
  void LogPeriodMessage(const std::string& person, int period, const std::string& message);

  // The journal of changed months: the stored MahWork rows of the held months, read before
  // the run deletes them; a month's stored row against its new one once it is posted; the
  // changes of a committed transaction recorded (a failure to record is logged).
  void ReadStoredMonths(const std::string& person);
  void NoteMonthChanges(const db::Dataset& q, const Result& r);
  void RecordMonthChanges(const std::string& person);
  bool Journal() const { return !pass_.date.empty(); }

  // The queries of a kind of range's stored rows: its result row, leave and mission totals
  // and initial leave balance, keyed by the person and `number_column`.
  struct StoredQueries {
    db::Dataset& work;
    db::Dataset& leave;
    db::Dataset& missions;
    db::Dataset& initial_balance;
    const char* number_column;
  };
  StoredQueries Stored(RangeKind kind);

  engine::TdmCalculate& dm_;
  int year_ = 0;
  TRangeWorkRec R_;
  engine::WorkGroupRow group_;
  std::string section_;        // the rule's trimmed Section
  std::string rule_database_;  // the database AdoQCPrjRule's text reads
  int first_month_ = 0, last_month_ = 0;
  std::string days_open_;      // person and range the day queries hold, "" when none
  std::string calendar_open_;  // calendar and range AdoQCCalendarItems holds, "" when none
  db::CalcPass pass_;
  std::map<int, engine::DayRow> stored_months_;  // by month, the rows before the write
  std::vector<std::pair<int, std::vector<db::CalcChange>>> month_changes_;  // not yet recorded
  bool holding_ = false;
  int held_first_ = 0, held_last_ = 0;
  std::vector<Result> held_;

  // The queries and the name of each one's text (see engine/statements.h).
  struct PreparedQuery {
    db::Dataset RangeCalculation::*query;
    const char* statement;
  };
  static const PreparedQuery kPreparedQueries[];

  // ---- base connection: work groups, types, shifts, employment ----
  engine::BaseTables base_;
  // ---- year connection ----
  db::Dataset AdoQCMonthPeriodWorkGroup, AdoQCPrjRule, AdoQCDailyWork, AdoQCDailyMorkhasi,
      AdoQCDailyMamuriat, AdoQCCalendarItems, AdoQCMorkhasiLeftMonth, AdoQCMonthlyWork,
      AdoQCMonthlyMorkhasiDetail, AdoQCMonthlyMamuriatDetail, AdoQCMonthlySpecMorDef,
      AdoQCMonthlySpecExtDef, AdoQCMonthlyExtraPerm, AdoQCGShItem, AdoQCPerShifts, AdoQPeriodWork,
      AdoQCPeriodMorkhasiDetail, AdoQCPeriodMamuriatDetail, AdoQCMorkhasiLeftPeriod,
      AdoQCMonthlyWorkOfRun;
};

}  // namespace zel::aggregation
