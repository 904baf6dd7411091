#include "aggregation/range_calculation.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <functional>
#include <set>
#include <stdexcept>

#include "dates/date_parser.h"
#include "dates/date_time.h"
#include "dates/zel_calc_utils.h"
#include "engine/calc.h"
#include "engine/statements.h"
#include "util/parse_int.h"
#include "util/text.h"

namespace zel::aggregation {

namespace {

using dates::TZelCalcUtils;
using db::T2YearRangeState;

constexpr db::ParamType kText = db::ParamType::String;

std::string Pad2(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

int32_t Int(const db::Dataset& q, const char* column) {
  return static_cast<int32_t>(q.FieldByName(column).AsInteger());
}

bool HasDate(const std::string& text) { return text.find_first_not_of('/') != std::string::npos; }

// The dataset's current row (the row being edited while editing), its columns in lower case.
engine::DayRow RowOf(const db::Dataset& q) {
  auto columns = std::make_shared<std::vector<std::string>>();
  engine::DayRow row;
  for (int i = 0; i < q.FieldCount(); ++i) {
    columns->push_back(util::LowerAscii(q.FieldNames()[i]));
    row.values.push_back(q.Field(i));
  }
  row.columns = std::move(columns);
  return row;
}

// Opens a query over the person's rows alone, unless it holds that person's rows already:
// they are read once for all the months or periods of the person.
void OpenForPerson(db::Dataset& q, const std::string& person) {
  if (q.Active() && q.ParamByName("Perno").value == db::Value(person)) return;
  q.Close();
  q.SetParam("Perno", person);
  q.Open();
}

// Moves to the person's row of the month or period (Mah) and kind (when kind >= 0);
// false when there is none.
bool FindRow(db::Dataset& q, int mah, int kind) {
  for (q.First(); !q.Eof(); q.Next()) {
    if (q.FieldByName("Mah").AsInteger() == mah &&
        (kind < 0 || q.FieldByName("Kind").AsInteger() == kind)) {
      return true;
    }
  }
  return false;
}

// Two-year templates of the period's daily data; $DBName$ and $DateCriteria$ are filled
// per year.
std::vector<std::string> DailyRowsTemplate() {
  return {" SELECT",
          " PERNO, DDATE, DAILYABSENCE, DAILYMAMURIAT, DAILYMORKHASI, EARLYPERMFIRST,",
          " EARLYPERMLAST, EW_HOLINOTPERM, EW_HOLIPERM, EW_INMISSION, EW_NORMNOTPERM, EW_NORMPERM,",
          " EW_SPECIAL, EXTRAWORKTOTAL, HOLIDAY, KASRMOR, LATEPERMFIRST, LATEPERMLAST, "
          "LEAVEOFABSNOPAY,",
          " LEAVEOFABSPAY, MISSION, NIGHTWORK, NONWORKTOTAL, NW_ABSENT, NW_EARLY_FIRST, "
          "NW_EARLY_LAST,",
          " NW_LATE_FIRST, NW_LATE_LAST, NW_LEAVENOTPERM, NW_SPECIAL, ORDMOR, PRESENCEINDMAM,",
          " PRESENCEINDMOR, SERVICELATE, SUSPENDED, WORKTOTAL, WWORK, SERVICEPRICE, MEALPRICE,",
          " EDITED, BeginStr, EndStr, FirstBeginDate, FirstBeginTime, LastEndDate, LastEndTime,",
          " WorkGroup, ReduceHoliday, HolidaysCounted, Section, CalWork, EW_HoliInMission,",
          " EW_NormInMission,  EW_BreakNotPerm, EW_BreakPerm, CalCode, PPercent ",
          " FROM",
          " $DBName$..DayWork ",
          " WHERE",
          " (PerNo = :PerNo) ",
          " AND ($DateCriteria$)"};
}
std::vector<std::string> LeaveDetailsTemplate() {
  return {" SELECT",
          " PERNO, DDATE, MORKHASICODE, AMOUNT",
          " FROM",
          " $DBName$..DayMorDT",
          " WHERE",
          " (Perno = :PerNo)",
          " AND ($DateCriteria$)"};
}
std::vector<std::string> MissionDetailsTemplate() {
  return {" SELECT",
          " PERNO, DDATE, MAMURIATCODE, AMOUNT",
          " FROM",
          " $DBName$..DayMamDT",
          " WHERE",
          " (Perno = :PerNo)",
          " AND ($DateCriteria$)"};
}
// The shift duty reads the day too: without it the union of the two years' parts would
// fold every repeated (HOLIDAY, CalWork) pair into one row.
std::vector<std::string> ShiftDutyTemplate() {
  return {" SELECT",           " DDATE, HOLIDAY, CalWork", " FROM", " $DBName$..DayWork", " WHERE",
          " (PerNo = :PerNo)", " AND ($DateCriteria$)"};
}
std::vector<std::string> CalendarItemsTemplate() {
  return {" SELECT",
          " CALCODE, DBEGINDATE, BBEGINDATE, BBEGINTIME, BENDDATE, BENDTIME, ",
          " DBEGINTIME, DENDDATE, DENDTIME, EBEGINTIME, EBEGINDATE, ",
          " EENDDATE, EENDTIME, ENDDATE, ENDTIME, HOLIDAY ",
          " FROM",
          " $DBName$..CalItem",
          " WHERE",
          " (CalCode = :CalCode)",
          " AND ($DateCriteria$)"};
}

}  // namespace

const RangeCalculation::PreparedQuery RangeCalculation::kPreparedQueries[] = {
    {&RangeCalculation::AdoQCMonthPeriodWorkGroup, "MonthInputsOfThePerson/WGMahPrd"},
    {&RangeCalculation::AdoQCDailyWork, "MonthHolidaysAndDailyRows"},
    {&RangeCalculation::AdoQCDailyMorkhasi, "MonthLeaveDetailsIntoMonthTotals/DayMorDT"},
    {&RangeCalculation::AdoQCDailyMamuriat, "MonthMissionDetailsIntoMonthTotals/DayMamDT"},
    {&RangeCalculation::AdoQCCalendarItems, "MonthCalendarItems"},
    {&RangeCalculation::AdoQCMorkhasiLeftMonth, "MonthInputsOfThePerson/MorLMah"},
    {&RangeCalculation::AdoQCMonthlyWork, "MonthResultInsertedThenEdited"},
    {&RangeCalculation::AdoQCMonthlyWorkOfRun, "MonthRowsOfARunBeforeTheyAreReplaced"},
    {&RangeCalculation::AdoQCMonthlyMorkhasiDetail, "MonthLeaveDetailsIntoMonthTotals/MahMorDt"},
    {&RangeCalculation::AdoQCMonthlyMamuriatDetail, "MonthMissionDetailsIntoMonthTotals/MahMamDt"},
    {&RangeCalculation::AdoQCMonthlySpecMorDef, "MonthInputsOfThePerson/MSMorDef"},
    {&RangeCalculation::AdoQCMonthlySpecExtDef, "MonthInputsOfThePerson/MSExtDef"},
    {&RangeCalculation::AdoQCMonthlyExtraPerm, "MonthInputsOfThePerson/MahExPrm"},
    {&RangeCalculation::AdoQCGShItem, "ShiftRotationOfTheMonth/GShItem"},
    {&RangeCalculation::AdoQCPerShifts, "ShiftRotationOfTheMonth/PerShifts"},
    {&RangeCalculation::AdoQPeriodWork, "PeriodResultAndDetails/PrdWork"},
    {&RangeCalculation::AdoQCPeriodMorkhasiDetail, "PeriodResultAndDetails/PrdMorDt"},
    {&RangeCalculation::AdoQCPeriodMamuriatDetail, "PeriodResultAndDetails/PrdMamDt"},
    {&RangeCalculation::AdoQCMorkhasiLeftPeriod, "PeriodResultAndDetails/MorLPrd"},
};

RangeCalculation::RangeCalculation(engine::TdmCalculate& module)
    : dm_(module),
      year_(dates::StrToInt(module.CurrentYear)),
      base_(module.ADOConnectionDbBase()),
      AdoQCMonthPeriodWorkGroup(module.ADOConnectionTimeAttendance()),
      AdoQCPrjRule(module.ADOConnectionTimeAttendance()),
      AdoQCDailyWork(module.ADOConnectionTimeAttendance()),
      AdoQCDailyMorkhasi(module.ADOConnectionTimeAttendance()),
      AdoQCDailyMamuriat(module.ADOConnectionTimeAttendance()),
      AdoQCCalendarItems(module.ADOConnectionTimeAttendance()),
      AdoQCMorkhasiLeftMonth(module.ADOConnectionTimeAttendance()),
      AdoQCMonthlyWork(module.ADOConnectionTimeAttendance()),
      AdoQCMonthlyMorkhasiDetail(module.ADOConnectionTimeAttendance()),
      AdoQCMonthlyMamuriatDetail(module.ADOConnectionTimeAttendance()),
      AdoQCMonthlySpecMorDef(module.ADOConnectionTimeAttendance()),
      AdoQCMonthlySpecExtDef(module.ADOConnectionTimeAttendance()),
      AdoQCMonthlyExtraPerm(module.ADOConnectionTimeAttendance()),
      AdoQCGShItem(module.ADOConnectionTimeAttendance()),
      AdoQCPerShifts(module.ADOConnectionTimeAttendance()),
      AdoQPeriodWork(module.ADOConnectionTimeAttendance()),
      AdoQCPeriodMorkhasiDetail(module.ADOConnectionTimeAttendance()),
      AdoQCPeriodMamuriatDetail(module.ADOConnectionTimeAttendance()),
      AdoQCMorkhasiLeftPeriod(module.ADOConnectionTimeAttendance()),
      AdoQCMonthlyWorkOfRun(module.ADOConnectionTimeAttendance()) {
  for (const PreparedQuery& p : kPreparedQueries) engine::Prepare(this->*p.query, p.statement);
}

// ---- lookups ------------------------------------------------------------------------------

EmploymentSpans RangeCalculation::ReadEmployment(const std::string& person,
                                                 const std::string& start, const std::string& end) {
  const std::vector<engine::JobRow>& jobs = base_.Jobs(person);
  EmploymentSpans employment;
  if (jobs.empty()) employment.Add(start, end);
  for (const engine::JobRow& job : jobs) {
    employment.Add(HasDate(job.BeginDate) ? job.BeginDate : start,
                   HasDate(job.EndDate) ? job.EndDate : end);
  }
  return employment;
}

bool RangeCalculation::OpenWorkGroup(const std::string& Code) {
  const engine::WorkGroupRow* row =
      base_.WorkGroup(util::ParseInt<int>(util::TrimControls(Code)).value_or(0));
  group_ = row ? *row : engine::WorkGroupRow{};
  return row != nullptr;
}

LeaveType RangeCalculation::LeaveTypeOf(int code) {
  const engine::LeaveTypeRow& t = base_.LeaveTypeOf(code);
  return {t.found, t.IsDaily != 0, t.IsOrdinary != 0, t.IsWaged != 0, t.Education == 1};
}

bool RangeCalculation::MissionIsDaily(int code) { return base_.MissionType(code).IsDaily != 0; }

std::string RangeCalculation::GetMonthWorkGroup(const std::string& Perno, int AMonth,
                                                const std::string& CurDate) {
  return GetPeriodWorkGroup(Perno, AMonth, dm_.DataBaseNameYear, CurDate);
}

std::string RangeCalculation::GetPeriodWorkGroup(const std::string& Perno, int APeriod,
                                                 const std::string& RuleDatabaseName,
                                                 const std::string& CurDate) {
  std::string code;
  OpenForPerson(AdoQCMonthPeriodWorkGroup, Perno);
  if (!AdoQCMonthPeriodWorkGroup.IsEmpty()) {
    const std::string n = std::to_string(APeriod);
    const db::Value& enabled = AdoQCMonthPeriodWorkGroup.FieldByName("Enabled" + n);
    const db::Value& group = AdoQCMonthPeriodWorkGroup.FieldByName("MahPrd" + n);
    if (enabled.AsInteger() != 0 && !group.IsNull()) code = util::TrimControls(group.AsString());
  }
  AdoQCPrjRule.Close();
  if (rule_database_ != RuleDatabaseName || rule_database_.empty()) {
    engine::Prepare(AdoQCPrjRule, "WorkRuleOfTheDay", {{"$Year$", RuleDatabaseName}});
    rule_database_ = RuleDatabaseName;
  }
  AdoQCPrjRule.SetParam("Perno", Perno);
  AdoQCPrjRule.SetParam("CurDate", CurDate);
  AdoQCPrjRule.Open();
  section_.clear();
  if (!AdoQCPrjRule.IsEmpty()) {
    section_ = util::TrimControls(AdoQCPrjRule.FieldByName("Section").AsString());
    if (code.empty()) code = util::TrimControls(AdoQCPrjRule.FieldByName("WorkGroup").AsString());
  }
  return code;
}

std::string RangeCalculation::TwoYearQuery(const std::string& Template, T2YearRangeState State,
                                           const std::string& DateFieldName,
                                           const std::string& ToDate_MMDD,
                                           const std::string& FromDate_MMDD,
                                           const std::string& CurrentYearDatabaseName,
                                           const std::string& OtherYearDatabaseName) const {
  return db::T2YearRangeUtils::GenerateTwoYearedQueryString(
      Template, DateFieldName, FromDate_MMDD, ToDate_MMDD, "FromYear", "ToYear",
      CurrentYearDatabaseName, OtherYearDatabaseName, State, "");
}

void RangeCalculation::OpenRows(db::Dataset& q, const Source& src,
                                const std::vector<std::string>& template_lines,
                                const char* date_field, const char* param, db::ParamType type,
                                int size, const db::Value& value) const {
  q.SetSQL({TwoYearQuery(util::Join(template_lines, "\r\n"), src.state, date_field, src.to,
                         src.from, src.current_db, src.other_db)});
  db::Param& p = q.ParamByName(param);
  p.type = type;
  p.size = size;
  q.SetParam(param, value);
  q.SetCommandTimeout(60);
  q.Open();
}

void RangeCalculation::OpenRange(db::Dataset& q, const char* key, const db::Value& value,
                                 const std::string& from, const std::string& to) {
  q.Close();
  q.SetParam(key, value);
  q.SetParam("FromDate", from);
  q.SetParam("ToDate", to);
  q.Open();
}

namespace {

// The DayWork columns a day row is read from, in the order of kDayColumns' use below.
constexpr const char* kDayColumns[] = {
    "DDate",           "DailyAbsence",     "CalWork",          "NightWork",
    "ServicePrice",    "MealPrice",        "WorkTotal",        "ExtraWorkTotal",
    "NonWorkTotal",    "LeaveOfAbsPay",    "LeaveOfAbsNoPay",  "Mission",
    "WWork",           "ServiceLate",      "EarlyPermFirst",   "EarlyPermLast",
    "LatePermFirst",   "LatePermLast",     "DailyMorkhasi",    "PPercent",
    "EW_NormPerm",     "EW_NormNotPerm",   "EW_HoliPerm",      "EW_HoliNotPerm",
    "EW_InMission",    "EW_HoliInMission", "EW_NormInMission", "EW_Special",
    "EW_BreakNotPerm", "EW_BreakPerm",     "NW_Early_First",   "NW_Early_Last",
    "NW_LeaveNotPerm", "NW_Absent",        "NW_Special",       "NW_Late_First",
    "NW_Late_Last",    "PresenceInDMor",   "PresenceInDMam",   "OrdMor",
    "KasrMor",         "Holiday",          "Suspended",        "ReduceHoliday",
    "HolidaysCounted"};

std::vector<int> DayColumnsOf(const db::Dataset& q) {
  std::vector<int> columns;
  const auto& names = q.FieldNames();
  for (const char* wanted : kDayColumns) {
    int found = -1;
    for (std::size_t c = 0; c < names.size() && found < 0; ++c) {
      if (names[c].size() != std::strlen(wanted)) continue;
      bool same = true;
      for (std::size_t k = 0; k < names[c].size() && same; ++k) {
        same = std::tolower(static_cast<unsigned char>(names[c][k])) ==
               std::tolower(static_cast<unsigned char>(wanted[k]));
      }
      if (same) found = static_cast<int>(c);
    }
    if (found < 0) throw db::DbError(std::string("Field '") + wanted + "' not found");
    columns.push_back(found);
  }
  return columns;
}

}  // namespace

DayWorkRow RangeCalculation::ReadDayRow(const db::Dataset& q, const std::vector<int>& c) {
  DayWorkRow d;
  std::size_t k = 0;
  d.DDate = util::TrimControls(q.Field(c[k++]).AsString());
  d.DailyAbsence = q.Field(c[k++]).AsBoolean();
  auto next = [&] { return static_cast<int32_t>(q.Field(c[k++]).AsInteger()); };
  d.CalWork = next();
  d.NightWork = next();
  d.ServicePrice = next();
  d.MealPrice = next();
  d.WorkTotal = next();
  d.ExtraWorkTotal = next();
  d.NonWorkTotal = next();
  d.LeaveOfAbsPay = next();
  d.LeaveOfAbsNoPay = next();
  d.Mission = next();
  d.WWork = next();
  d.ServiceLate = next();
  d.EarlyPermFirst = next();
  d.EarlyPermLast = next();
  d.LatePermFirst = next();
  d.LatePermLast = next();
  d.DailyMorkhasi = next();
  d.PPercent = next();
  d.EW_NormPerm = next();
  d.EW_NormNotPerm = next();
  d.EW_HoliPerm = next();
  d.EW_HoliNotPerm = next();
  d.EW_InMission = next();
  d.EW_HoliInMission = next();
  d.EW_NormInMission = next();
  d.EW_Special = next();
  d.EW_BreakNotPerm = next();
  d.EW_BreakPerm = next();
  d.NW_Early_First = next();
  d.NW_Early_Last = next();
  d.NW_LeaveNotPerm = next();
  d.NW_Absent = next();
  d.NW_Special = next();
  d.NW_Late_First = next();
  d.NW_Late_Last = next();
  d.PresenceInDMor = next();
  d.PresenceInDMam = next();
  d.OrdMor = next();
  d.KasrMor = next();
  d.Holiday = next();
  d.Suspended = next();
  d.ReduceHoliday = next();
  d.HolidaysCounted = next();
  return d;
}

bool RangeCalculation::DayFilter::Takes(const db::Dataset& q) const {
  if (from.empty() && !employment) return true;
  std::string day = q.FieldByName(column).AsString();
  while (!day.empty() && day.back() == ' ') day.pop_back();
  if (!from.empty() && !(from <= day && day <= to)) return false;
  return Employed(day);
}

bool RangeCalculation::DayFilter::Employed(const std::string& mmdd) const {
  if (!employment) return true;
  const int y = !wrap.empty() && mmdd >= wrap ? wrap_year : year;
  return employment->Covers(std::to_string(y) + "/" + mmdd);
}

std::vector<std::string> RangeCalculation::EmployedDays(const DayFilter& filter,
                                                        const std::string& from,
                                                        const std::string& to, int from_year,
                                                        int to_year) {
  std::vector<std::string> days =
      TZelCalcUtils::ListAllDatesInBetweenWithYear(from, to, from_year, to_year, false);
  if (filter.employment) {
    days.erase(std::remove_if(days.begin(), days.end(),
                              [&](const std::string& day) { return !filter.Employed(day); }),
               days.end());
  }
  return days;
}

std::pair<std::string, std::string> RangeCalculation::ReadRange(int M, const std::string& from,
                                                                const std::string& to) const {
  if (first_month_ > 0 && first_month_ <= M && M <= last_month_) {
    return {Pad2(first_month_) + "/01",
            Pad2(last_month_) + "/" + Pad2(dm_.DaysInMonth(last_month_))};
  }
  return {from, to};
}

void RangeCalculation::OpenDays(const std::string& person, const std::string& from,
                                const std::string& to) {
  const std::string key = person + "|" + from + "|" + to;
  if (key == days_open_) return;
  days_open_.clear();
  OpenRange(AdoQCDailyWork, "PerNo", person, from, to);
  OpenRange(AdoQCDailyMorkhasi, "Perno", person, from, to);
  OpenRange(AdoQCDailyMamuriat, "Perno", person, from, to);
  days_open_ = key;
}

int RangeCalculation::SumDays(db::Dataset& rows, const DayFilter& filter, DaySums& sums) {
  if (rows.IsEmpty()) return 0;
  const std::vector<int> columns = DayColumnsOf(rows);
  int holidays = 0;
  for (rows.First(); !rows.Eof(); rows.Next()) {
    if (!filter.Takes(rows)) continue;
    const DayWorkRow d = ReadDayRow(rows, columns);
    const LeaveType type = d.DailyMorkhasi != 0 ? LeaveTypeOf(d.DailyMorkhasi) : LeaveType{};
    AccumulateDay(d, group_, type, sums, R_);
    if (d.Holiday != 0) ++holidays;
  }
  return holidays;
}

std::vector<RangeCalculation::Totals> RangeCalculation::SumLeaveDetails(db::Dataset& rows,
                                                                        const DayFilter& filter,
                                                                        Education& education) {
  std::vector<Totals> totals;
  for (rows.First(); !rows.Eof(); rows.Next()) {
    if (!filter.Takes(rows)) continue;
    const int code = Int(rows, "MorkhasiCode");
    const int amount = Int(rows, "Amount");
    const LeaveType type = LeaveTypeOf(code);
    if (type.IsOrdinary) R_.rwrLeaveOfAbsAlloted += amount;
    if (type.Education) {
      education.sum += amount;
      if (type.IsDaily) {
        education.daily_sum += amount;
        education.count_days += 1;
      }
    }
    auto it =
        std::find_if(totals.begin(), totals.end(), [&](const Totals& t) { return t.code == code; });
    if (it == totals.end()) it = totals.insert(totals.end(), Totals{code, 0, 0});
    it->amount += amount;
    it->days += type.IsDaily ? 1 : 0;
  }
  return totals;
}

std::vector<RangeCalculation::Totals> RangeCalculation::SumMissionDetails(db::Dataset& rows,
                                                                          const DayFilter& filter) {
  std::vector<Totals> totals;
  for (rows.First(); !rows.Eof(); rows.Next()) {
    if (!filter.Takes(rows)) continue;
    const int code = Int(rows, "MamuriatCode");
    auto it =
        std::find_if(totals.begin(), totals.end(), [&](const Totals& t) { return t.code == code; });
    if (it == totals.end()) it = totals.insert(totals.end(), Totals{code, 0, 0});
    it->amount += Int(rows, "Amount");
    it->days += MissionIsDaily(code) ? 1 : 0;
  }
  return totals;
}

void RangeCalculation::CountCalendarItems(db::Dataset& items, const DayFilter& days,
                                          RangeFacts& f) {
  DayFilter taken = days;
  taken.column = "DBeginDate";
  for (items.First(); !items.Eof(); items.Next()) {
    if (!taken.Takes(items)) continue;
    const int holiday = Int(items, "Holiday");
    if (holiday == 0) {
      f.Duty +=
          engine::MinutesBetweenText(util::TrimControls(items.FieldByName("DBeginDate").AsString()),
                                     util::TrimControls(items.FieldByName("DBeginTime").AsString()),
                                     util::TrimControls(items.FieldByName("DEndDate").AsString()),
                                     util::TrimControls(items.FieldByName("DEndTime").AsString()));
    } else if (holiday == 1) {
      f.CalH1 += 1;
    } else if (holiday == 2) {
      f.CalH2 += 1;
    }
  }
}

void RangeCalculation::MonthShiftDuty(const std::string& person, int month, const DayFilter& days,
                                      RangeFacts& f) {
  AdoQCGShItem.Close();
  AdoQCGShItem.SetParam("GShCode", group_.GShCode);
  AdoQCGShItem.SetParam("Period", month);
  AdoQCGShItem.Open();
  AdoQCPerShifts.Close();
  AdoQCPerShifts.SetParam("Perno", person);
  AdoQCPerShifts.SetParam("Period", month);
  AdoQCPerShifts.SetParam("GShCode", group_.GShCode);
  AdoQCPerShifts.Open();
  if (AdoQCGShItem.IsEmpty() || AdoQCPerShifts.IsEmpty()) return;
  // The days calculated: those of the month the person was employed on.
  const int first = util::ParseInt<int>(days.from.substr(3)).value_or(1);
  const int last = util::ParseInt<int>(days.to.substr(3)).value_or(0);
  for (int d = first; d <= last; ++d) {
    if (!days.Employed(Pad2(month) + "/" + Pad2(d))) continue;
    const std::string column = "D" + std::to_string(d);
    int code = static_cast<int>(AdoQCPerShifts.FieldByName(column).AsInteger());
    if (code < 1) code = static_cast<int>(AdoQCGShItem.FieldByName(column).AsInteger());
    static const engine::WorkShiftRow kNoShift;
    const engine::WorkShiftRow* shift = base_.WorkShift(code);
    const engine::WorkShiftRow& s = shift ? *shift : kNoShift;
    if (s.Holiday == 0) {
      const std::string status = util::TrimControls(s.ShiftStatus);
      const int e = status.size() >= 3 && status[2] == '1' ? d + 1 : d;
      f.Duty += engine::MinutesBetweenText(Pad2(month) + "/" + Pad2(d), s.DBEGINTIME,
                                           Pad2(month) + "/" + Pad2(e), s.DENDTIME);
    } else if (s.Holiday == 1) {
      f.CalH1 += 1;
    } else if (s.Holiday == 2) {
      f.CalH2 += 1;
    }
  }
}

void RangeCalculation::MonthDuty(const std::string& person, int month, const DayFilter& days,
                                 RangeFacts& f) {
  if (group_.GShCode > 0) {
    MonthShiftDuty(person, month, days, f);
    return;
  }
  // The calendar's items of all the run's months, read at the first of them.
  const auto [read_from, read_to] = ReadRange(month, days.from, days.to);
  const std::string code = util::TrimControls(group_.CALCODE.value_or(""));
  const std::string key = code + "|" + read_from + "|" + read_to;
  if (key != calendar_open_) {
    calendar_open_.clear();
    OpenRange(AdoQCCalendarItems, "CalCode", code, read_from, read_to);
    calendar_open_ = key;
  }
  CountCalendarItems(AdoQCCalendarItems, days, f);
}

void RangeCalculation::PeriodDuty(const std::string& person, const Source& src,
                                  const DayFilter& days, RangeFacts& f) {
  db::Dataset q(dm_.ADOConnectionTimeAttendance());
  if (group_.GShCode > 0) {
    OpenRows(q, src, ShiftDutyTemplate(), "DDate", "PerNo", kText, 10, person);
    for (q.First(); !q.Eof(); q.Next()) {
      if (!days.Takes(q)) continue;
      const int holiday = Int(q, "Holiday");
      if (holiday == 0) f.Duty += Int(q, "CalWork");
      if (holiday == 1) f.CalH1 += 1;
      if (holiday == 2) f.CalH2 += 1;
    }
    return;
  }
  OpenRows(q, src, CalendarItemsTemplate(), "DBeginDate", "CalCode", kText, 10,
           util::TrimControls(group_.CALCODE.value_or("")));
  CountCalendarItems(q, days, f);
}

void RangeCalculation::ReadSpecials(const std::string& person, int mah, RangeFacts& f) {
  auto read = [&](db::Dataset& q, int kind, bool& has, int32_t& value) {
    OpenForPerson(q, person);
    has = FindRow(q, mah, kind);
    if (has)
      value = TZelCalcUtils::Text2Time(util::TrimControls(q.FieldByName("Amount").AsString()));
  };
  read(AdoQCMonthlySpecMorDef, 0, f.HasSpecMor0, f.SpecMor0);
  read(AdoQCMonthlySpecMorDef, 1, f.HasSpecMor1, f.SpecMor1);
  read(AdoQCMonthlySpecExtDef, 0, f.HasSpecExt0, f.SpecExt0);
  read(AdoQCMonthlySpecExtDef, 1, f.HasSpecExt1, f.SpecExt1);
}

void RangeCalculation::AddEducation(const std::string& person, const std::string& database,
                                    const std::string& from, const std::string& to,
                                    Education& education) {
  db::Dataset q(dm_.ADOConnectionDbBase());
  auto open = [&](const char* statement) {
    q.Close();
    engine::Prepare(q, statement, {{"$Year$", database}, {"$Base$", dm_.DataBaseName}});
    OpenRange(q, "PerNo", person, from, to);
  };
  open("PeriodEducationLeave/Sum");
  const int part = static_cast<int>(q.FieldByName("SumAmount").AsInteger());
  if (part <= 0) return;
  education.sum += part;
  open("PeriodEducationLeave/DailySum");
  const int daily = static_cast<int>(q.FieldByName("DailySumAmount").AsInteger());
  if (daily > 0) {
    education.daily_sum += daily;
    education.count_days += static_cast<int>(q.FieldByName("CountDays").AsInteger());
  }
}

// ---- writing ------------------------------------------------------------------------------

void RangeCalculation::HoldWrites(int first, int last) {
  holding_ = true;
  held_first_ = first;
  held_last_ = last;
  held_.clear();
}

void RangeCalculation::WriteHeld(const std::function<void()>& before) {
  std::vector<Result> held = std::move(held_);
  held_.clear();
  holding_ = false;
  stored_months_.clear();
  month_changes_.clear();
  const bool months = Journal() && !held.empty() && held.front().kind == RangeKind::kMonth;
  try {
    db::RunInTransaction(dm_.ADOConnectionTimeAttendance(), [&] {
      if (months) ReadStoredMonths(held.front().person);
      if (before) before();
      for (const Result& r : held) Write(r);
    });
  } catch (...) {
    month_changes_.clear();
    throw;
  }
  if (months) RecordMonthChanges(held.front().person);
}

void RangeCalculation::ReadStoredMonths(const std::string& person) {
  db::Dataset& q = AdoQCMonthlyWorkOfRun;
  q.Close();
  q.SetParam("Perno", person);
  q.SetParam("FromMonth", held_first_);
  q.SetParam("ToMonth", held_last_);
  q.Open();
  for (q.First(); !q.Eof(); q.Next()) {
    stored_months_[static_cast<int>(q.FieldByName("MMonth").AsInteger())] = RowOf(q);
  }
}

void RangeCalculation::NoteMonthChanges(const db::Dataset& q, const Result& r) {
  const auto stored = stored_months_.find(r.number);
  if (stored == stored_months_.end()) return;  // a first calculation
  std::vector<db::CalcChange> changes =
      engine::ChangedColumns(stored->second, RowOf(q), q.FieldNames());
  if (!changes.empty()) month_changes_.emplace_back(r.number, std::move(changes));
}

void RangeCalculation::RecordMonthChanges(const std::string& person) {
  std::vector<std::pair<int, std::vector<db::CalcChange>>> changes;
  changes.swap(month_changes_);
  for (const auto& [month, columns] : changes) {
    try {
      db::InsertCalcChanges(dm_.ADOConnectionDbBase(),
                            {util::TrimControls(dm_.CurrentYear), person, "month", Pad2(month)},
                            pass_, columns);
    } catch (const std::exception& e) {
      dates::TZelCalcUtils log;
      log.LogText(std::string("Error On Insert Changes To DB : ") + e.what(),
                  "Thread" + util::TrimControls(person), true, false);
    }
  }
}

bool RangeCalculation::HeldBalance(int number, int32_t& left, int32_t& use_holiday) const {
  if (!holding_ || number < held_first_ || number > held_last_) return false;
  left = use_holiday = 0;
  for (const Result& r : held_) {
    if (r.number != number) continue;
    // An hourly group's row keeps the balance only when the group carries one.
    const bool hourly = r.group.Is(engine::GroupType::kHourly);
    left = !hourly || r.group.MandeMorForSaati == 1 ? r.R.rwrMorkhasiLeft : 0;
    use_holiday = hourly ? 0 : r.use_holiday;
  }
  return true;
}

void RangeCalculation::ApplyPermission(const std::string& person, int number) {
  OpenForPerson(AdoQCMonthlyExtraPerm, person);
  if (FindRow(AdoQCMonthlyExtraPerm, number, -1)) {
    ApplyExtraWorkPermission(TZelCalcUtils::Text2Time(util::TrimControls(
                                 AdoQCMonthlyExtraPerm.FieldByName("PERMITTED").AsString())),
                             group_.PrdMahExtraWorkPermOption, R_);
  }
}

void RangeCalculation::Store(Result result) {
  if (holding_) {
    held_.push_back(std::move(result));
    return;
  }
  stored_months_.clear();
  month_changes_.clear();
  try {
    db::RunInTransaction(dm_.ADOConnectionTimeAttendance(), [&] { Write(result); });
  } catch (...) {
    month_changes_.clear();
    throw;
  }
  if (result.kind == RangeKind::kMonth && Journal()) RecordMonthChanges(result.person);
}

RangeCalculation::StoredQueries RangeCalculation::Stored(RangeKind kind) {
  if (kind == RangeKind::kMonth) {
    return {AdoQCMonthlyWork, AdoQCMonthlyMorkhasiDetail, AdoQCMonthlyMamuriatDetail,
            AdoQCMorkhasiLeftMonth, "MMonth"};
  }
  return {AdoQPeriodWork, AdoQCPeriodMorkhasiDetail, AdoQCPeriodMamuriatDetail,
          AdoQCMorkhasiLeftPeriod, "Period"};
}

void RangeCalculation::Write(const Result& r) {
  const StoredQueries stored = Stored(r.kind);
  WriteDetails(stored.leave, stored.number_column, r.person, r.number, "MorkhasiCode", r.leave);
  WriteResult(stored.work, stored.number_column, r);
  WriteDetails(stored.missions, stored.number_column, r.person, r.number, "MamuriatCode",
               r.missions);
}

void RangeCalculation::WriteDetails(db::Dataset& q, const char* number_col,
                                    const std::string& person, int number, const char* code_col,
                                    const std::vector<Totals>& totals) {
  for (const Totals& t : totals) {
    q.Close();
    q.SetParam("Perno", person);
    q.SetParam(number_col, number);
    q.SetParam(code_col, t.code);
    q.Open();
    if (q.IsEmpty()) {
      q.Append();
      q.SetField("PerNo", person);
      q.SetField(number_col, number);
      q.SetField(code_col, t.code);
      q.SetField("Amount", t.amount);
      q.SetField("Days", t.days);
    } else {
      // The totals are the range's whole: they replace what an earlier run left.
      q.Edit();
      q.SetField("Amount", t.amount);
      q.SetField("Days", t.days);
    }
    q.Post();
  }
}

namespace {

// Opens the person's result row of the number for writing: edits the stored row (true) or
// appends a new one (false).
bool OpenForWrite(db::Dataset& q, const char* number_col, const std::string& person, int number) {
  q.Close();
  q.SetParam("Perno", person);
  q.SetParam(number_col, number);
  q.Open();
  if (q.IsEmpty()) {
    q.Append();
    return false;
  }
  q.Edit();
  return true;
}

// A result column and the accumulator's total it takes.
struct ResultColumn {
  const char* name;
  int32_t TRangeWorkRec::*value;
};

// The columns every result row takes, whatever its work group.
constexpr ResultColumn kSharedColumns[] = {
    {"WorkTotal", &TRangeWorkRec::rwrWorkTotal},
    {"ExtraWorkTotal", &TRangeWorkRec::rwrExtraWorkTotal},
    {"NonWorkTotal", &TRangeWorkRec::rwrNonWorkTotal},
    {"LeaveOfAbsPay", &TRangeWorkRec::rwrLeaveOfAbsPayed},
    {"LeaveOfAbsNoPay", &TRangeWorkRec::rwrLeaveOfAbsNotPayed},
    {"LeaveOfAbsAlloted", &TRangeWorkRec::rwrLeaveOfAbsAlloted},
    {"Mission", &TRangeWorkRec::rwrMission},
    {"WWork", &TRangeWorkRec::rwrWork},
    {"ServiceLate", &TRangeWorkRec::rwrServiceLate},
    {"EarlyPermCount", &TRangeWorkRec::rwrEarlyPermCount},
    {"EarlyPermAmount", &TRangeWorkRec::rwrEarlyPermAmount},
    {"LatePermCount", &TRangeWorkRec::rwrLatePermCount},
    {"LatePermAmount", &TRangeWorkRec::rwrLatePermAmount},
    {"DaysWorked", &TRangeWorkRec::rwrDaysWorked},
    {"EW_NormPerm", &TRangeWorkRec::rwrEWNormPerm},
    {"EW_NormNotPerm", &TRangeWorkRec::rwrEWNormNotPerm},
    {"EW_Special", &TRangeWorkRec::rwrEWSpecial},
    {"EW_BreakNotPerm", &TRangeWorkRec::rwrEWBreakNotPerm},
    {"EW_BreakPerm", &TRangeWorkRec::rwrEWBreakPerm},
    {"OrdMor", &TRangeWorkRec::rwrOrdinaryMorkhasi},
    {"PPERCENT1Cnt", &TRangeWorkRec::rwrPPERCENT1Cnt},
    {"PPERCENT2Cnt", &TRangeWorkRec::rwrPPERCENT2Cnt},
    {"PPERCENT3Cnt", &TRangeWorkRec::rwrPPERCENT3Cnt},
    {"PPERCENT4Cnt", &TRangeWorkRec::rwrPPERCENT4Cnt},
};

// The leave balance columns: every group under the monthly rules, an hourly group only when
// it carries its balance.
constexpr ResultColumn kBalanceColumns[] = {
    {"MorkhasiLeft", &TRangeWorkRec::rwrMorkhasiLeft},
    {"ExtraMorSpecial", &TRangeWorkRec::rwrExtraMorSpecial},
    {"KasrMorSpecial", &TRangeWorkRec::rwrKasrMorSpecial},
    {"MorkhasiRation", &TRangeWorkRec::rwrMorkhasiRation},
};

// The columns of the monthly rules, which an hourly group does not apply.
constexpr ResultColumn kRuleColumns[] = {
    {"EW_HoliPerm", &TRangeWorkRec::rwrEWHoliPerm},
    {"EW_HoliNotPerm", &TRangeWorkRec::rwrEWHoliNotPerm},
    {"EW_InMission", &TRangeWorkRec::rwrEWInMission},
    {"EW_HoliInMission", &TRangeWorkRec::rwrEWHoliInMission},
    {"EW_NormInMission", &TRangeWorkRec::rwrEWNormInMission},
    {"NW_Early", &TRangeWorkRec::rwrNWEarly},
    {"NW_EarlyCnt", &TRangeWorkRec::rwrNWEarlyCnt},
    {"NW_Late", &TRangeWorkRec::rwrNWLate},
    {"NW_LateCnt", &TRangeWorkRec::rwrNWLateCnt},
    {"NW_LeaveNotPerm", &TRangeWorkRec::rwrNWLeaveNotPerm},
    {"NW_LeaveNotPermCnt", &TRangeWorkRec::rwrNWLeaveNotPermCnt},
    {"NW_Absent", &TRangeWorkRec::rwrNWAbsent},
    {"NW_AbsentCnt", &TRangeWorkRec::rwrNWAbsentCnt},
    {"NW_Special", &TRangeWorkRec::rwrNWSpecial},
    {"PresenceInDMor", &TRangeWorkRec::rwrWorkPresenceInDMor},
    {"PresenceInDMam", &TRangeWorkRec::rwrWorkPresenceInDMam},
    {"KasrMor", &TRangeWorkRec::rwrKasrMorkhasi},
    {"Forgiven_LateCount", &TRangeWorkRec::rwrForgivenLateCount},
    {"Forgiven_LateAmount", &TRangeWorkRec::rwrForgivenLateAmount},
    {"HG_Minutes", &TRangeWorkRec::rwrHGMinutes},
    {"HG_Days", &TRangeWorkRec::rwrHGDays},
    {"HT_Minutes", &TRangeWorkRec::rwrHTMinutes},
    {"HT_Days", &TRangeWorkRec::rwrHTDays},
    {"DaysPresent", &TRangeWorkRec::rwrDaysPresent},
    {"PYMorLeftUsed", &TRangeWorkRec::rwrPYMorLeftUsed},
    {"PayingDays", &TRangeWorkRec::rwrPayingDays},
};

template <std::size_t N>
void SetColumns(db::Dataset& q, const ResultColumn (&columns)[N], const TRangeWorkRec& R) {
  for (const ResultColumn& c : columns) q.SetField(c.name, R.*c.value);
}

// A monthly bound group's work against its bound, scaled to the days of the range.
void SetWorkBound(db::Dataset& q, const engine::WorkGroupRow& g, int number, int32_t work_total,
                  int range_days, int full_days, int holidays) {
  const int bound = ScaledWorkBound(g.WorkBound[number - 1], range_days, full_days, holidays);
  int over = 0, less = 0;
  if (g.WorkBound[number - 1] > 0) {
    over = std::max(0, work_total - bound);
    less = std::max(0, bound - work_total);
  }
  q.SetField("Work_Over", over);
  q.SetField("Work_Less", less);
  q.SetField("WorkBound", bound);
}

}  // namespace

void RangeCalculation::WriteResult(db::Dataset& q, const char* number_col, const Result& r) {
  const TRangeWorkRec& R = r.R;
  const engine::WorkGroupRow& g = r.group;
  const bool journal = r.kind == RangeKind::kMonth && Journal();
  // A stored row the write edits is the month's row before it (unless read before the run
  // deleted it).
  if (OpenForWrite(q, number_col, r.person, r.number) && journal) {
    stored_months_.try_emplace(r.number, RowOf(q));
  }
  q.SetField("WorkGroup", g.CODE);
  q.SetField("CalCode", g.CALCODE ? db::Value(*g.CALCODE) : db::Value());
  q.SetField("Section", r.section);
  q.SetField("CalWork", R.rwrCalWork);
  q.SetField("PerNo", r.person);
  q.SetField(number_col, r.number);
  q.SetField("Edited", 0);
  q.SetField("NightWork", R.rwrNightWork);
  q.SetField("ServicePrice", R.rwrServicePrice);
  q.SetField("MealPrice", R.rwrMealPrice);
  SetColumns(q, kSharedColumns, R);
  if (g.Is(engine::GroupType::kHourly)) {
    // An hourly group counts its days worked as the days paid and present.
    q.SetField("PayingDays", R.rwrDaysWorked);
    q.SetField("DaysPresent", R.rwrDaysWorked);
    if (g.MandeMorForSaati == 1) SetColumns(q, kBalanceColumns, R);
  } else {
    if (g.Is(engine::GroupType::kMonthlyBound) || g.Is(engine::GroupType::kDistributedShift)) {
      SetWorkBound(q, g, r.number, R.rwrWorkTotal, r.range_days, r.full_days, r.holidays);
    }
    SetColumns(q, kRuleColumns, R);
    SetColumns(q, kBalanceColumns, R);
    q.SetField("UseHoliday", r.use_holiday);
  }
  q.Post();
  if (journal) NoteMonthChanges(q, r);
}

void RangeCalculation::LogPeriodMessage(const std::string& person, int period,
                                        const std::string& message) {
  char number[8];
  std::snprintf(number, sizeof number, "%2d", period);
  const std::string prefix =
      util::Utf8PadRight(util::TrimControls(dm_.AttendanceCalcManager().PersonName()), 20) + " (" +
      util::Utf8PadRight(util::TrimControls(person), 6) + ") ( دوره " + number + ") : ";
  dm_.InsertCalcLogTable(dm_.ScheduleId, person, prefix + message);
}

void RangeCalculation::Say(const Range& r, const std::string& text) {
  if (r.month()) {
    const std::string head = dm_.AttendanceCalcManager().PersonName() + " (" +
                             dm_.AttendanceCalcManager().PersonID() + ") (" +
                             PersianMonthName(r.number) + "): ";
    dm_.InsertCalcLogTable(dm_.ScheduleId, r.person, head + text);
  } else {
    LogPeriodMessage(r.person, r.number, text);
  }
}

RangeCalculation::DayFilter RangeCalculation::EmployedFilter(const EmploymentSpans& employment,
                                                             const std::string& from,
                                                             const std::string& to, int from_year,
                                                             int to_year) {
  DayFilter filter;
  filter.from = from;
  filter.to = to;
  // With one row every day of the cut range is employed.
  if (employment.spans.size() > 1) {
    filter.employment = &employment;
    filter.year = to_year;
    if (from_year != to_year) {
      filter.wrap = from;
      filter.wrap_year = from_year;
    }
  }
  return filter;
}

RangeCalculation::Result RangeCalculation::Completed(Result result, const Range& r, int holidays,
                                                     int use_holiday) const {
  result.person = r.person;
  result.number = r.number;
  result.kind = r.kind;
  result.R = R_;
  result.group = group_;
  result.section = section_;
  result.range_days = r.range_days;
  result.full_days = r.full_days;
  result.holidays = holidays;
  result.use_holiday = use_holiday;
  return result;
}

int32_t RangeCalculation::CarriedBalance(const std::string& P, int number, RangeKind kind,
                                         int32_t& use_holiday) {
  const int start = static_cast<int>(dm_.QSystem().FieldByName("StartMorLeft").AsInteger());
  if (number < start) return 0;
  const StoredQueries stored = Stored(kind);
  if (number == start) {
    OpenForPerson(stored.initial_balance, P);
    return stored.initial_balance.IsEmpty() ? 0 : Int(stored.initial_balance, "InitialValue");
  }
  int32_t left = 0;
  if (HeldBalance(number - 1, left, use_holiday)) return left;
  db::Dataset& previous = stored.work;
  previous.Close();
  previous.SetParam("Perno", P);
  previous.SetParam(stored.number_column, number - 1);
  previous.Open();
  if (previous.IsEmpty()) return 0;
  use_holiday = Int(previous, "UseHoliday");
  return Int(previous, "MorkhasiLeft");
}

void RangeCalculation::ReportMissingDays(const std::string& P, db::Dataset& rows,
                                         const DayFilter& filter, int count,
                                         const std::vector<std::string>& employed_days,
                                         const std::function<void(const std::string&)>& say,
                                         const char* none, const char* some) {
  if (count == 0) {
    say(none);
    return;
  }
  std::set<std::string> present;
  for (rows.First(); !rows.Eof(); rows.Next()) {
    if (filter.Takes(rows))
      present.insert(util::TrimControls(rows.FieldByName("DDate").AsString()));
  }
  say(some);
  dm_.InsertCalcLogTable(dm_.ScheduleId, P, " روزهاي محاسبه نشده : ");
  std::string missing;
  for (const std::string& day : employed_days) {
    if (!present.count(day)) missing += day + " ";
  }
  dm_.InsertCalcLogTable(dm_.ScheduleId, P, missing);
}

// ---- a month or a period ------------------------------------------------------------------

void RangeCalculation::CalculateMonth(const std::string& P, int M) {
  Calculate(RangeKind::kMonth, P, M);
}

void RangeCalculation::CalculatePeriod(const std::string& P, int n) {
  Calculate(RangeKind::kPeriod, P, n);
}

void RangeCalculation::Calculate(RangeKind kind, const std::string& P, int number) {
  db::Dataset& system = dm_.QSystem();
  if (!system.Active()) system.Open();
  R_ = TRangeWorkRec{};
  Range r;
  r.kind = kind;
  r.person = P;
  r.number = number;
  const bool resolved =
      kind == RangeKind::kMonth ? ResolveMonth(P, number, r) : ResolvePeriod(P, number, r);
  if (resolved) CalculateRange(r);
}

void RangeCalculation::CalculateRange(Range& r) {
  DaySums sums;
  const int32_t carried = CarriedBalance(r.person, r.number, r.kind, sums.UseHoliday);
  db::Dataset& rows = DayRows(r);
  if (!AllDaysCalculated(r, rows)) return;
  // The holidays of the range are the day rows' own (the ratio of the work bound).
  const int holidays = SumDays(rows, r.filter, sums);

  Education education;
  Result result;
  result.leave = SumLeaveDetails(LeaveRows(r), r.filter, education);

  RangeFacts facts;
  facts.Days = r.days;
  facts.FullDays = r.rule_full_days;
  facts.Carried = carried;
  facts.Param = group_.M_PARAM[r.number - 1];
  ReadSpecials(r.person, r.number, facts);

  if (group_.Is(engine::GroupType::kHourly)) {
    db::Dataset& initial = Stored(r.kind).initial_balance;
    OpenForPerson(initial, r.person);
    const int32_t T = initial.IsEmpty() ? 0 : Int(initial, "Amount");
    ApplyHourlyRules(group_, facts, T, R_);
  } else {
    ApplyGroupRules(r, sums, facts, education);
  }

  result.missions = SumMissionDetails(MissionRows(r), r.filter);

  // Everything is computed: the range's rows.
  Store(Completed(std::move(result), r, holidays, sums.UseHoliday));
}

void RangeCalculation::ApplyGroupRules(Range& r, const DaySums& sums, RangeFacts& facts,
                                       const Education& from_rows) {
  ApplyLateRules(sums.Lates, group_, R_);
  if (r.month()) {
    MonthDuty(r.person, r.number, r.filter, facts);
  } else {
    PeriodDuty(r.person, r.src, r.filter, facts);
  }
  ApplyRangeRules(group_, sums, facts, R_);
  const Education education = RangeEducation(r, from_rows);
  CoverEducationLeave(education.sum, education.daily_sum, education.count_days, R_);
  ApplyPermission(r.person, r.number);
}

RangeCalculation::Education RangeCalculation::RangeEducation(const Range& r,
                                                             const Education& from_rows) {
  // A month's education leave is among its leave rows.
  if (r.month()) return from_rows;
  // A period's is read in every year database the period covers.
  Education education;
  const Source& src = r.src;
  switch (src.state) {
    case T2YearRangeState::rsNormal:
      AddEducation(r.person, src.current_db, src.from, src.to, education);
      break;
    case T2YearRangeState::rsPrevToCurrentYear:
      AddEducation(r.person, src.other_db, src.from, "12/30", education);
      AddEducation(r.person, src.current_db, "01/01", src.to, education);
      break;
    case T2YearRangeState::rsCurrentToNextYear:
      AddEducation(r.person, src.current_db, src.from, "12/30", education);
      AddEducation(r.person, src.other_db, "01/01", src.to, education);
      break;
  }
  return education;
}

db::Dataset& RangeCalculation::DayRows(Range& r) {
  if (r.month()) {
    // The day rows of the month: read for all the run's months at the first of them.
    const auto [read_from, read_to] = ReadRange(r.number, r.filter.from, r.filter.to);
    OpenDays(r.person, read_from, read_to);
    return AdoQCDailyWork;
  }
  r.day_rows = std::make_unique<db::Dataset>(dm_.ADOConnectionTimeAttendance());
  OpenRows(*r.day_rows, r.src, DailyRowsTemplate(), "DDate", "PerNo", kText, 10, r.person);
  return *r.day_rows;
}

db::Dataset& RangeCalculation::LeaveRows(Range& r) {
  if (r.month()) return AdoQCDailyMorkhasi;
  r.leave_rows = std::make_unique<db::Dataset>(dm_.ADOConnectionTimeAttendance());
  OpenRows(*r.leave_rows, r.src, LeaveDetailsTemplate(), "DDate", "PerNo", kText, 10, r.person);
  return *r.leave_rows;
}

db::Dataset& RangeCalculation::MissionRows(Range& r) {
  if (r.month()) return AdoQCDailyMamuriat;
  r.mission_rows = std::make_unique<db::Dataset>(dm_.ADOConnectionTimeAttendance());
  OpenRows(*r.mission_rows, r.src, MissionDetailsTemplate(), "DDate", "PerNo", kText, 10, r.person);
  return *r.mission_rows;
}

bool RangeCalculation::AllDaysCalculated(Range& r, db::Dataset& rows) {
  int count = 0;
  for (rows.First(); !rows.Eof(); rows.Next()) count += r.filter.Takes(rows) ? 1 : 0;
  if (count == r.days) return true;
  // An incomplete month or period: which days are missing, and no result row.
  const bool month = r.month();
  ReportMissingDays(
      r.person, rows, r.filter, count, r.employed_days,
      [&](const std::string& text) { Say(r, text); },
      month ? "هيچ روزي از ماه محاسبه نشده است." : "هيچ روزي از دوره محاسبه نشده است.",
      month ? "بعضي از روزهاي ماه محاسبه نشده اند." : "بعضي از روزهاي دوره محاسبه نشده اند.");
  return false;
}

// ---- resolving a month --------------------------------------------------------------------

bool RangeCalculation::ResolveMonth(const std::string& P, int M, Range& r) {
  const std::string Y = dm_.CurrentYear;
  r.employment = ReadEmployment(P, Y + "/01/01", Y + "/12/30");
  const int days_in_month = dm_.DaysInMonth(M);
  std::string from = Pad2(M) + "/01";
  std::string to = Pad2(M) + "/" + Pad2(days_in_month);
  // The days of the month the person was employed on, first to last.
  std::string first, last;
  const bool employed = r.employment.Part(Y + "/" + from, Y + "/" + to, first, last);
  // The work group of the last day calculated: a rule that ends with the employment counts.
  OpenWorkGroup(GetMonthWorkGroup(P, M, employed ? last.substr(5, 5) : to));
  if (!employed) return false;

  r.full_days = TZelCalcUtils::DaysInBetween(from, to);
  r.rule_full_days = days_in_month;
  from = first.substr(5, 5);
  to = last.substr(5, 5);
  r.filter = EmployedFilter(r.employment, from, to, year_, year_);
  r.employed_days = EmployedDays(r.filter, from, to, year_, year_);
  r.range_days = static_cast<int>(r.employed_days.size());
  r.days = std::min(days_in_month, r.range_days);
  return true;
}

// ---- resolving a period -------------------------------------------------------------------

bool RangeCalculation::ResolvePeriod(const std::string& P, int n, Range& r) {
  using dates::TZELDateParser;
  db::Dataset& system = dm_.QSystem();
  const std::string from =
      util::TrimControls(system.FieldByName("PERIOD" + std::to_string(n) + "B").AsString());
  const std::string to =
      util::TrimControls(system.FieldByName("PERIOD" + std::to_string(n) + "E").AsString());
  r.employment = ReadEmployment(dm_.AttendanceCalcManager().PersonID(),
                                TZelCalcUtils::FirstDateOfYear_YYMMDD(year_ - 1),
                                TZelCalcUtils::LastDateOfYear_YYMMDD(year_ + 1));
  T2YearRangeState state{};
  db::T2YearRangeUtils::GetPeriodRangeState(n, from, to, state);
  const db::TwoYearOffsets offsets = db::YearOffsetsOf(state);
  const int from_year = year_ + offsets.FromYear, to_year = year_ + offsets.ToYear;
  std::string c_start, c_end;
  if (!PeriodEmployed(r, TZELDateParser::AddYearToDate_YYYYMMDD(dates::csJalali, from_year, from),
                      TZELDateParser::AddYearToDate_YYYYMMDD(dates::csJalali, to_year, to), c_start,
                      c_end) ||
      !PeriodSource(r, c_start, c_end, r.src)) {
    return false;
  }
  const int cfrom_year = std::stoi(c_start.substr(0, 4));
  const int cto_year = std::stoi(c_end.substr(0, 4));

  r.full_days = TZelCalcUtils::DaysCountInBetweenWithYear(from, to, from_year, to_year);
  r.rule_full_days = r.full_days;
  // The period's rows come without their year: the filter takes every row of the range.
  r.filter = EmployedFilter(r.employment, r.src.from, r.src.to, cfrom_year, cto_year);
  r.filter.from.clear();
  r.filter.to.clear();
  r.employed_days = EmployedDays(r.filter, r.src.from, r.src.to, cfrom_year, cto_year);
  r.range_days = r.days = static_cast<int>(r.employed_days.size());

  if (!OpenWorkGroup(GetPeriodWorkGroup(P, n, dm_.DataBaseNameOfYear(cto_year), r.src.to))) {
    LogPeriodMessage(P, n, "در این دوره فاقد حکم است.");
    return false;
  }
  return true;
}

bool RangeCalculation::PeriodEmployed(const Range& r, const std::string& period_start,
                                      const std::string& period_end, std::string& c_start,
                                      std::string& c_end) {
  const EmploymentSpans& employment = r.employment;
  // The employment's first and last day over all its rows; a row ending before it begins
  // is reported only when no row covers a day.
  std::string job_start = employment.bad_begin, job_end = employment.bad_end;
  if (!employment.spans.empty()) {
    job_start = employment.spans.front().begin;
    job_end = employment.spans.front().end;
    for (const EmploymentSpans::Span& span : employment.spans)
      job_end = std::max(job_end, span.end);
  }
  std::string refusal;
  if (job_end < job_start) {
    refusal = "تاریخ خاتمه کار (" + job_end + ") قبل از تاریخ شروع کار (" + job_start + ")  است.";
  } else if (job_end < period_start) {
    refusal = "تاریخ خاتمه کار (" + job_end + ") قبل از شروع دوره است.";
  } else if (job_start > period_end) {
    refusal = "تاریخ خاتمه کار (" + job_start + ") قبل از شروع دوره است.";
  } else if (!employment.Part(period_start, period_end, c_start, c_end)) {
    // The range cut to the days employed, first to last. A period between two employments
    // follows the one that ended before it.
    refusal = "تاریخ خاتمه کار (" + employment.EndBefore(period_start) + ") قبل از شروع دوره است.";
  }
  if (refusal.empty()) return true;
  LogPeriodMessage(r.person, r.number, refusal);
  return false;
}

bool RangeCalculation::PeriodSource(const Range& r, const std::string& c_start,
                                    const std::string& c_end, Source& src) {
  using dates::TZELDateParser;
  // The cut range's years come from the dates themselves, so a cross-year period cut down
  // to days of the other year alone reads that year's database.
  src.from = TZELDateParser::GetMonthAndDay_MMDD(c_start, 0);
  src.to = TZELDateParser::GetMonthAndDay_MMDD(c_end, 0);
  db::T2YearRangeUtils::GetPeriodRangeState(r.number, src.from, src.to, src.state);
  const int cfrom_year = std::stoi(c_start.substr(0, 4));
  const int cto_year = std::stoi(c_end.substr(0, 4));
  src.current_db = src.other_db = dm_.DataBaseNameYear;
  if (src.state == T2YearRangeState::rsNormal && cfrom_year == year_) return true;
  const std::string years = dm_.QSystem().FieldByName("Years").AsString();
  for (int y : {cfrom_year, cto_year}) {
    if (TZELDateParser::YearExistInYearList(years, y) < 0) {
      LogPeriodMessage(r.person, r.number, "سال " + std::to_string(y) + " وجود ندارد .");
      return false;
    }
  }
  if (src.state == T2YearRangeState::rsPrevToCurrentYear) {
    src.other_db = dm_.DataBaseNameOfYear(cfrom_year);
  } else if (src.state == T2YearRangeState::rsCurrentToNextYear) {
    src.other_db = dm_.DataBaseNameOfYear(cto_year);
  } else {
    src.current_db = src.other_db = dm_.DataBaseNameOfYear(cfrom_year);
  }
  return true;
}

}  // namespace zel::aggregation
