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
#include "util/parse_int.h"
#include "util/text.h"

namespace zel::aggregation {

namespace {

using dates::TZelCalcUtils;
using db::T2YearRangeState;

struct ParamDecl {
  const char* name;
  db::ParamType type;
  int size;
};
constexpr db::ParamType kText = db::ParamType::String;
constexpr db::ParamType kInt = db::ParamType::Integer;

void Prepare(db::Dataset& query, std::vector<std::string> lines,
             std::initializer_list<ParamDecl> params) {
  query.SetSQL(std::move(lines));
  for (const ParamDecl& p : params) {
    db::Param& param = query.ParamByName(p.name);
    param.type = p.type;
    param.size = p.size;
  }
}

std::string Trim(const std::string& text) { return dates::Trim(text); }

std::string Pad2(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

int32_t Int(const db::Dataset& q, const char* column) {
  return static_cast<int32_t>(q.FieldByName(column).AsInteger());
}

bool HasDate(const std::string& text) { return text.find_first_not_of('/') != std::string::npos; }

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

void YearOffsets(T2YearRangeState state, int& from, int& to) {
  from = state == T2YearRangeState::rsPrevToCurrentYear ? -1 : 0;
  to = state == T2YearRangeState::rsCurrentToNextYear ? 1 : 0;
}

}  // namespace

TRangeCalculation::TRangeCalculation(engine::TdmCalculate& module)
    : dm_(module),
      year_(dates::StrToInt(module.CurrentYear)),
      AdoQCJobInfo(module.ADOConnectionDbBase()),
      AdoQCWorkGroup(module.ADOConnectionDbBase()),
      AdoQCMorkhasiType(module.ADOConnectionDbBase()),
      AdoQCMissionType(module.ADOConnectionDbBase()),
      QCWorkShifts(module.ADOConnectionDbBase()),
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
      AdoQCMorkhasiLeftPeriod(module.ADOConnectionTimeAttendance()) {
  Prepare(AdoQCJobInfo, {"Select * from JobInfo ", "Where Perno = :Perno"}, {{"Perno", kText, 10}});
  Prepare(AdoQCWorkGroup, {"Select * from WorkGrp ", "Where Code = :Code"}, {{"Code", kInt, 0}});
  Prepare(AdoQCMorkhasiType, {"Select * From Mortype ", "Where Code = :Code "},
          {{"Code", kInt, 0}});
  Prepare(AdoQCMissionType, {"Select * From MamType ", "Where Code = :Code "}, {{"Code", kInt, 0}});
  Prepare(QCWorkShifts, {"Select * ", "From WorkShifts", "Where Code = :PCode"},
          {{"PCode", kInt, 0}});
  Prepare(AdoQCMonthPeriodWorkGroup, {"Select * from WGMahPrd ", "Where Perno = :Perno "},
          {{"Perno", kText, 10}});
  // The month's days, leave and mission details and calendar items: one text for every
  // person and month.
  Prepare(AdoQCDailyWork,
          {"Select * from DayWork ", "WHERE (PerNo = :PerNo) ", "and (DDate >= :FromDate) ",
           "and (DDate <= :ToDate) "},
          {{"PerNo", kText, 10}, {"FromDate", kText, 5}, {"ToDate", kText, 5}});
  Prepare(AdoQCDailyMorkhasi,
          {"Select * from  DayMorDT ", "where (Perno = :Perno)", "and (DDate >= :FromDate) ",
           "and (DDate <= :ToDate)"},
          {{"Perno", kText, 10}, {"FromDate", kText, 5}, {"ToDate", kText, 5}});
  Prepare(AdoQCDailyMamuriat,
          {"Select * from DayMamDT ", "where (Perno = :Perno)", "and (DDate >= :FromDate) ",
           "and (DDate <= :ToDate)"},
          {{"Perno", kText, 10}, {"FromDate", kText, 5}, {"ToDate", kText, 5}});
  // The code is compared as text with the integer column, as the work group stores it.
  Prepare(AdoQCCalendarItems,
          {"Select * from CalItem ", "where (CalCode = :CalCode) ",
           "and (DBeginDate >= :FromDate) ", "and (DBeginDate <= :ToDate) "},
          {{"CalCode", kText, 10}, {"FromDate", kText, 5}, {"ToDate", kText, 5}});
  Prepare(AdoQCMorkhasiLeftMonth, {"Select * From MorLMah ", "Where Perno = :Perno "},
          {{"Perno", kText, 10}});
  Prepare(AdoQCMonthlyWork,
          {"Select * from MahWork ", "Where Perno = :Perno And MMonth = :MMonth "},
          {{"Perno", kText, 10}, {"MMonth", kInt, 0}});
  Prepare(AdoQCMonthlyMorkhasiDetail,
          {"Select * from MahMorDt ",
           "Where Perno = :Perno And MMonth = :MMonth And MorkhasiCode = :MorkhasiCode "},
          {{"Perno", kText, 10}, {"MMonth", kInt, 0}, {"MorkhasiCode", kInt, 0}});
  Prepare(AdoQCMonthlyMamuriatDetail,
          {"Select * from MahMamDt  ",
           "Where Perno = :Perno And MMonth = :MMonth And MamuriatCode = :MamuriatCode  "},
          {{"Perno", kText, 10}, {"MMonth", kInt, 0}, {"MamuriatCode", kInt, 0}});
  // The person's definitions and permitted extra work of every month or period, found by
  // Mah (and Kind) among them.
  Prepare(AdoQCMonthlySpecMorDef, {"Select * From MSMorDef ", "Where Perno = :Perno "},
          {{"Perno", kText, 10}});
  Prepare(AdoQCMonthlySpecExtDef, {"Select * From MSExtDef ", "Where Perno = :Perno "},
          {{"Perno", kText, 10}});
  Prepare(AdoQCMonthlyExtraPerm, {"Select * From MahExPrm ", "Where Perno = :Perno "},
          {{"Perno", kText, 10}});
  Prepare(AdoQCGShItem,
          {"Select * From GShItem ", "Where GShCode = :GShCode And Period = :Period "},
          {{"GShCode", kInt, 0}, {"Period", kInt, 0}});
  Prepare(AdoQCPerShifts,
          {"Select * From PerShifts ",
           "Where Perno = :Perno And Period = :Period And GShCode = :GShCode "},
          {{"Perno", kText, 10}, {"Period", kInt, 0}, {"GShCode", kInt, 0}});
  Prepare(AdoQPeriodWork, {"Select * From PrdWork ", "Where Period = :Period And Perno = :Perno"},
          {{"Period", kInt, 0}, {"Perno", kText, 10}});
  Prepare(AdoQCPeriodMorkhasiDetail,
          {"Select * from PrdMorDt ",
           "Where Perno = :Perno And Period = :Period And MorkhasiCode = :MorkhasiCode "},
          {{"Perno", kText, 10}, {"Period", kInt, 0}, {"MorkhasiCode", kInt, 0}});
  Prepare(AdoQCPeriodMamuriatDetail,
          {"Select * from PrdMamDt ",
           "Where Perno = :Perno And Period = :Period And MamuriatCode = :MamuriatCode  "},
          {{"Perno", kText, 10}, {"Period", kInt, 0}, {"MamuriatCode", kInt, 0}});
  Prepare(AdoQCMorkhasiLeftPeriod, {"Select * From MorLPrd ", "Where Perno = :Perno "},
          {{"Perno", kText, 10}});
}

// ---- lookups ------------------------------------------------------------------------------

TEmployment TRangeCalculation::ReadEmployment(const std::string& person, const std::string& start,
                                              const std::string& end) {
  OpenForPerson(AdoQCJobInfo, person);
  TEmployment employment;
  if (AdoQCJobInfo.IsEmpty()) employment.Add(start, end);
  for (AdoQCJobInfo.First(); !AdoQCJobInfo.Eof(); AdoQCJobInfo.Next()) {
    const std::string begin = Trim(AdoQCJobInfo.FieldByName("BeginDate").AsString());
    const std::string finish = Trim(AdoQCJobInfo.FieldByName("EndDate").AsString());
    employment.Add(HasDate(begin) ? begin : start, HasDate(finish) ? finish : end);
  }
  return employment;
}

bool TRangeCalculation::OpenWorkGroup(const std::string& Code) {
  const int code = util::ParseInt<int>(Trim(Code)).value_or(0);
  auto found = groups_.find(code);
  if (found == groups_.end()) {
    AdoQCWorkGroup.Close();
    AdoQCWorkGroup.SetParam("Code", code);
    AdoQCWorkGroup.Open();
    TWorkGroupRules g;
    const db::Dataset& q = AdoQCWorkGroup;
    if (!q.IsEmpty()) {
      g.found = true;
      g.Code = Int(q, "Code");
      g.CalCodeNull = q.FieldByName("CalCode").IsNull();
      g.CalCode = q.FieldByName("CalCode").AsString();
      g.GShCode = Int(q, "GShCode");
      g.GROUPTYPE = Int(q, "GROUPTYPE");
      g.Def_Early_Out_FromVacation = Trim(q.FieldByName("Def_Early_Out_FromVacation").AsString());
      g.Def_Late_In_FromVacation = Trim(q.FieldByName("Def_Late_In_FromVacation").AsString());
      g.Tats_In_Morkhasi = Int(q, "Tats_In_Morkhasi");
      g.MAX_KARKARD = Int(q, "MAX_KARKARD");
      g.MIN_KARKARD = Int(q, "MIN_KARKARD");
      g.MandeMorForSaati = Int(q, "MandeMorForSaati");
      g.MMinTrans = Int(q, "MMinTrans");
      g.MMaxTrans = Int(q, "MMaxTrans");
      g.MAH_ABS_OK = Int(q, "MAH_ABS_OK");
      g.TakhirTot = Int(q, "TakhirTot");
      g.TakhirCnt = Int(q, "TakhirCnt");
      g.Takhir_Amount = Int(q, "Takhir_Amount");
      g.TakhirStat = Int(q, "TakhirStat");
      for (int i = 0; i < 12; ++i) {
        g.M_Param[i] =
            static_cast<int32_t>(q.FieldByName("M_Param" + std::to_string(i + 1)).AsInteger());
        g.WorkBound[i] =
            static_cast<int32_t>(q.FieldByName("WorkBound" + std::to_string(i + 1)).AsInteger());
      }
      g.Kasr_Tat = Int(q, "Kasr_Tat");
      g.Kasr_Mor = Int(q, "Kasr_Mor");
      g.Imp_HurOrdMor = Int(q, "Imp_HurOrdMor");
      const char* prefixes[4] = {"S", "T", "E", "G"};
      for (int x = 0; x < 4; ++x) {
        const std::string p = prefixes[x];
        TCompensationRule& rule = g.rules[x];
        const db::Value& prio = q.FieldByName(p + "MR_PRIO");
        rule.has_priority = !prio.IsNull();
        rule.priority = prio.AsString();
        rule.rate = static_cast<int32_t>(q.FieldByName(p + "_Mah_Rate").AsInteger());
        rule.bound = static_cast<int32_t>(q.FieldByName(p + "_Mah_Bound").AsInteger());
        rule.condition = static_cast<int32_t>(q.FieldByName(p + "_Mah_Condition").AsInteger());
      }
      g.MaxMPNonWork = Int(q, "MaxMPNonWork");
      g.MaxMPNonWorkState = Trim(q.FieldByName("MaxMPNonWorkState").AsString());
      g.PrdMahExtraWorkPermOption = Int(q, "PrdMahExtraWorkPermOption");
    }
    found = groups_.emplace(code, std::move(g)).first;
  }
  group_ = found->second;
  return group_.found;
}

TLeaveType TRangeCalculation::LeaveType(int code) {
  auto found = leave_types_.find(code);
  if (found != leave_types_.end()) return found->second;
  AdoQCMorkhasiType.Close();
  AdoQCMorkhasiType.SetParam("Code", code);
  AdoQCMorkhasiType.Open();
  TLeaveType t;
  if (!AdoQCMorkhasiType.IsEmpty()) {
    t.found = true;
    t.IsDaily = AdoQCMorkhasiType.FieldByName("IsDaily").AsBoolean();
    t.IsOrdinary = AdoQCMorkhasiType.FieldByName("IsOrdinary").AsBoolean();
    t.IsWaged = AdoQCMorkhasiType.FieldByName("IsWaged").AsBoolean();
    t.Education = AdoQCMorkhasiType.FieldByName("Education").AsInteger() == 1;
  }
  leave_types_.emplace(code, t);
  return t;
}

bool TRangeCalculation::MissionIsDaily(int code) {
  auto found = mission_daily_.find(code);
  if (found != mission_daily_.end()) return found->second;
  AdoQCMissionType.Close();
  AdoQCMissionType.SetParam("Code", code);
  AdoQCMissionType.Open();
  const bool daily =
      !AdoQCMissionType.IsEmpty() && AdoQCMissionType.FieldByName("IsDaily").AsBoolean();
  mission_daily_.emplace(code, daily);
  return daily;
}

std::string TRangeCalculation::GetMonthWorkGroup(const std::string& Perno, int AMonth,
                                                 const std::string& CurDate) {
  return GetPeriodWorkGroup(Perno, AMonth, dm_.DataBaseNameYear, CurDate);
}

std::string TRangeCalculation::GetPeriodWorkGroup(const std::string& Perno, int APeriod,
                                                  const std::string& RuleDatabaseName,
                                                  const std::string& CurDate) {
  std::string code;
  OpenForPerson(AdoQCMonthPeriodWorkGroup, Perno);
  if (!AdoQCMonthPeriodWorkGroup.IsEmpty()) {
    const std::string n = std::to_string(APeriod);
    const db::Value& enabled = AdoQCMonthPeriodWorkGroup.FieldByName("Enabled" + n);
    const db::Value& group = AdoQCMonthPeriodWorkGroup.FieldByName("MahPrd" + n);
    if (enabled.AsInteger() != 0 && !group.IsNull()) code = Trim(group.AsString());
  }
  AdoQCPrjRule.Close();
  if (rule_database_ != RuleDatabaseName || rule_database_.empty()) {
    Prepare(AdoQCPrjRule,
            {"Select * from [" + RuleDatabaseName +
             "]..PrjRule Where Perno = :Perno and :CurDate Between BeginDate And EndDate"},
            {{"Perno", kText, 10}, {"CurDate", kText, 5}});
    rule_database_ = RuleDatabaseName;
  }
  AdoQCPrjRule.SetParam("Perno", Perno);
  AdoQCPrjRule.SetParam("CurDate", CurDate);
  AdoQCPrjRule.Open();
  section_.clear();
  if (!AdoQCPrjRule.IsEmpty()) {
    section_ = Trim(AdoQCPrjRule.FieldByName("Section").AsString());
    if (code.empty()) code = Trim(AdoQCPrjRule.FieldByName("WorkGroup").AsString());
  }
  return code;
}

std::string TRangeCalculation::TwoYearQuery(const std::string& Template, T2YearRangeState State,
                                            const std::string& DateFieldName,
                                            const std::string& ToDate_MMDD,
                                            const std::string& FromDate_MMDD,
                                            const std::string& CurrentYearDatabaseName,
                                            const std::string& OtherYearDatabaseName) const {
  return db::T2YearRangeUtils::GenerateTwoYearedQueryString(
      Template, DateFieldName, FromDate_MMDD, ToDate_MMDD, "FromYear", "ToYear",
      CurrentYearDatabaseName, OtherYearDatabaseName, State, "");
}

void TRangeCalculation::OpenRows(db::Dataset& q, const Source& src,
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

void TRangeCalculation::OpenRange(db::Dataset& q, const char* key, const db::Value& value,
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

TDayRow TRangeCalculation::ReadDayRow(const db::Dataset& q, const std::vector<int>& c) {
  TDayRow d;
  std::size_t k = 0;
  d.DDate = Trim(q.Field(c[k++]).AsString());
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

bool TRangeCalculation::DayFilter::Takes(const db::Dataset& q) const {
  if (from.empty() && !employment) return true;
  std::string day = q.FieldByName(column).AsString();
  while (!day.empty() && day.back() == ' ') day.pop_back();
  if (!from.empty() && !(from <= day && day <= to)) return false;
  return Employed(day);
}

bool TRangeCalculation::DayFilter::Employed(const std::string& mmdd) const {
  if (!employment) return true;
  const int y = !wrap.empty() && mmdd >= wrap ? wrap_year : year;
  return employment->Covers(std::to_string(y) + "/" + mmdd);
}

std::vector<std::string> TRangeCalculation::EmployedDays(const DayFilter& filter,
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

std::pair<std::string, std::string> TRangeCalculation::ReadRange(int M, const std::string& from,
                                                                 const std::string& to) const {
  if (first_month_ > 0 && first_month_ <= M && M <= last_month_) {
    return {Pad2(first_month_) + "/01",
            Pad2(last_month_) + "/" + Pad2(dm_.DaysInMonth(last_month_))};
  }
  return {from, to};
}

void TRangeCalculation::OpenDays(const std::string& person, const std::string& from,
                                 const std::string& to) {
  const std::string key = person + "|" + from + "|" + to;
  if (key == days_open_) return;
  days_open_.clear();
  OpenRange(AdoQCDailyWork, "PerNo", person, from, to);
  OpenRange(AdoQCDailyMorkhasi, "Perno", person, from, to);
  OpenRange(AdoQCDailyMamuriat, "Perno", person, from, to);
  days_open_ = key;
}

int TRangeCalculation::SumDays(db::Dataset& rows, const DayFilter& filter, TDaySums& sums) {
  if (rows.IsEmpty()) return 0;
  const std::vector<int> columns = DayColumnsOf(rows);
  int holidays = 0;
  for (rows.First(); !rows.Eof(); rows.Next()) {
    if (!filter.Takes(rows)) continue;
    const TDayRow d = ReadDayRow(rows, columns);
    const TLeaveType type = d.DailyMorkhasi != 0 ? LeaveType(d.DailyMorkhasi) : TLeaveType{};
    AccumulateDay(d, group_, type, sums, R_);
    if (d.Holiday != 0) ++holidays;
  }
  return holidays;
}

std::vector<TRangeCalculation::Totals> TRangeCalculation::SumLeaveDetails(db::Dataset& rows,
                                                                          const DayFilter& filter,
                                                                          Education& education) {
  std::vector<Totals> totals;
  for (rows.First(); !rows.Eof(); rows.Next()) {
    if (!filter.Takes(rows)) continue;
    const int code = Int(rows, "MorkhasiCode");
    const int amount = Int(rows, "Amount");
    const TLeaveType type = LeaveType(code);
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

std::vector<TRangeCalculation::Totals> TRangeCalculation::SumMissionDetails(
    db::Dataset& rows, const DayFilter& filter) {
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

void TRangeCalculation::MonthDuty(const std::string& person, int month, const DayFilter& days,
                                  TRangeFacts& f) {
  const std::string& from = days.from;
  const std::string& to = days.to;
  if (group_.GShCode > 0) {
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
    const int first = util::ParseInt<int>(from.substr(3)).value_or(1);
    const int last = util::ParseInt<int>(to.substr(3)).value_or(0);
    for (int d = first; d <= last; ++d) {
      if (!days.Employed(Pad2(month) + "/" + Pad2(d))) continue;
      const std::string column = "D" + std::to_string(d);
      int code = static_cast<int>(AdoQCPerShifts.FieldByName(column).AsInteger());
      if (code < 1) code = static_cast<int>(AdoQCGShItem.FieldByName(column).AsInteger());
      auto found = shifts_.find(code);
      if (found == shifts_.end()) {
        QCWorkShifts.Close();
        QCWorkShifts.SetParam("PCode", code);
        QCWorkShifts.Open();
        ShiftRow s;
        if (!QCWorkShifts.IsEmpty()) {
          s.found = true;
          s.holiday = Int(QCWorkShifts, "Holiday");
          s.begin = Trim(QCWorkShifts.FieldByName("DBeginTime").AsString());
          s.end = Trim(QCWorkShifts.FieldByName("DEndTime").AsString());
          s.status = Trim(QCWorkShifts.FieldByName("ShiftStatus").AsString());
        }
        found = shifts_.emplace(code, s).first;
      }
      const ShiftRow& s = found->second;
      if (s.holiday == 0) {
        const int e = s.status.size() >= 3 && s.status[2] == '1' ? d + 1 : d;
        f.Duty += engine::MinutesBetweenText(Pad2(month) + "/" + Pad2(d), s.begin,
                                             Pad2(month) + "/" + Pad2(e), s.end);
      } else if (s.holiday == 1) {
        f.CalH1 += 1;
      } else if (s.holiday == 2) {
        f.CalH2 += 1;
      }
    }
    return;
  }
  // The calendar's items of all the run's months, read at the first of them.
  db::Dataset& cal = AdoQCCalendarItems;
  const auto [read_from, read_to] = ReadRange(month, from, to);
  const std::string code = Trim(group_.CalCode);
  const std::string key = code + "|" + read_from + "|" + read_to;
  if (key != calendar_open_) {
    calendar_open_.clear();
    OpenRange(cal, "CalCode", code, read_from, read_to);
    calendar_open_ = key;
  }
  DayFilter items = days;
  items.column = "DBeginDate";
  for (cal.First(); !cal.Eof(); cal.Next()) {
    if (!items.Takes(cal)) continue;
    const int holiday = Int(cal, "Holiday");
    if (holiday == 0) {
      f.Duty += engine::MinutesBetweenText(Trim(cal.FieldByName("DBeginDate").AsString()),
                                           Trim(cal.FieldByName("DBeginTime").AsString()),
                                           Trim(cal.FieldByName("DEndDate").AsString()),
                                           Trim(cal.FieldByName("DEndTime").AsString()));
    } else if (holiday == 1) {
      f.CalH1 += 1;
    } else if (holiday == 2) {
      f.CalH2 += 1;
    }
  }
}

void TRangeCalculation::PeriodDuty(const std::string& person, const Source& src,
                                   const DayFilter& days, TRangeFacts& f) {
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
           Trim(group_.CalCode));
  DayFilter items = days;
  items.column = "DBeginDate";
  for (q.First(); !q.Eof(); q.Next()) {
    if (!items.Takes(q)) continue;
    const int holiday = Int(q, "Holiday");
    if (holiday == 0) {
      f.Duty += engine::MinutesBetweenText(Trim(q.FieldByName("DBeginDate").AsString()),
                                           Trim(q.FieldByName("DBeginTime").AsString()),
                                           Trim(q.FieldByName("DEndDate").AsString()),
                                           Trim(q.FieldByName("DEndTime").AsString()));
    } else if (holiday == 1) {
      f.CalH1 += 1;
    } else if (holiday == 2) {
      f.CalH2 += 1;
    }
  }
}

void TRangeCalculation::ReadSpecials(const std::string& person, int mah, TRangeFacts& f) {
  auto read = [&](db::Dataset& q, int kind, bool& has, int32_t& value) {
    OpenForPerson(q, person);
    has = FindRow(q, mah, kind);
    if (has) value = TZelCalcUtils::Text2Time(Trim(q.FieldByName("Amount").AsString()));
  };
  read(AdoQCMonthlySpecMorDef, 0, f.HasSpecMor0, f.SpecMor0);
  read(AdoQCMonthlySpecMorDef, 1, f.HasSpecMor1, f.SpecMor1);
  read(AdoQCMonthlySpecExtDef, 0, f.HasSpecExt0, f.SpecExt0);
  read(AdoQCMonthlySpecExtDef, 1, f.HasSpecExt1, f.SpecExt1);
}

void TRangeCalculation::AddEducation(const std::string& person, const std::string& database,
                                     const std::string& from, const std::string& to, int& sum,
                                     int& daily_sum, int& count_days) {
  db::Dataset q(dm_.ADOConnectionDbBase());
  const std::vector<std::string> tail = {
      " From " + database + "..DayMorDt ",
      " Inner Join " + dm_.DataBaseName + "..MorType On (MorkhasiCode = Code) ",
      " Where PerNo = :PerNo ",
      " And DDate >= :FromDate ",
      " And DDate <= :ToDate ",
      " And Education = 1 "};
  auto open = [&](std::vector<std::string> lines) {
    q.Close();
    Prepare(q, std::move(lines),
            {{"PerNo", kText, 10}, {"FromDate", kText, 5}, {"ToDate", kText, 5}});
    OpenRange(q, "PerNo", person, from, to);
  };
  std::vector<std::string> lines = {" Select Sum(Amount) As SumAmount "};
  lines.insert(lines.end(), tail.begin(), tail.end());
  open(lines);
  const int part = static_cast<int>(q.FieldByName("SumAmount").AsInteger());
  if (part <= 0) return;
  sum += part;
  lines = {" Select Sum(Amount) As DailySumAmount, Count(*) As CountDays "};
  lines.insert(lines.end(), tail.begin(), tail.end());
  lines.push_back(" And IsDaily = 1 ");
  open(lines);
  const int daily = static_cast<int>(q.FieldByName("DailySumAmount").AsInteger());
  if (daily > 0) {
    daily_sum += daily;
    count_days += static_cast<int>(q.FieldByName("CountDays").AsInteger());
  }
}

// ---- writing ------------------------------------------------------------------------------

void TRangeCalculation::HoldWrites(int first, int last) {
  holding_ = true;
  held_first_ = first;
  held_last_ = last;
  held_.clear();
}

void TRangeCalculation::WriteHeld(const std::function<void()>& before) {
  std::vector<Result> held = std::move(held_);
  held_.clear();
  holding_ = false;
  db::RunInTransaction(dm_.ADOConnectionTimeAttendance(), [&] {
    if (before) before();
    for (const Result& r : held) Write(r);
  });
}

bool TRangeCalculation::HeldBalance(int number, int32_t& left, int32_t& use_holiday) const {
  if (!holding_ || number < held_first_ || number > held_last_) return false;
  left = use_holiday = 0;
  for (const Result& r : held_) {
    if (r.number != number) continue;
    // An hourly group's row keeps the balance only when the group carries one.
    const bool hourly = r.group.Is(engine::TGroupType::kHourly);
    left = !hourly || r.group.MandeMorForSaati == 1 ? r.R.rwrMorkhasiLeft : 0;
    use_holiday = hourly ? 0 : r.use_holiday;
  }
  return true;
}

void TRangeCalculation::ApplyPermission(const std::string& person, int number) {
  OpenForPerson(AdoQCMonthlyExtraPerm, person);
  if (FindRow(AdoQCMonthlyExtraPerm, number, -1)) {
    ApplyExtraWorkPermission(
        TZelCalcUtils::Text2Time(Trim(AdoQCMonthlyExtraPerm.FieldByName("PERMITTED").AsString())),
        group_.PrdMahExtraWorkPermOption, R_);
  }
}

void TRangeCalculation::Store(Result result) {
  if (holding_) {
    held_.push_back(std::move(result));
    return;
  }
  db::RunInTransaction(dm_.ADOConnectionTimeAttendance(), [&] { Write(result); });
}

void TRangeCalculation::Write(const Result& r) {
  WriteDetails(r.month ? AdoQCMonthlyMorkhasiDetail : AdoQCPeriodMorkhasiDetail, r.person, r.number,
               "MorkhasiCode", r.leave);
  db::Dataset& q = r.month ? AdoQCMonthlyWork : AdoQPeriodWork;
  if (r.group.Is(engine::TGroupType::kHourly)) {
    WriteHourlyResult(q, r);
  } else {
    WriteResult(q, r);
  }
  WriteDetails(r.month ? AdoQCMonthlyMamuriatDetail : AdoQCPeriodMamuriatDetail, r.person, r.number,
               "MamuriatCode", r.missions);
}

void TRangeCalculation::WriteDetails(db::Dataset& q, const std::string& person, int number,
                                     const char* code_col, const std::vector<Totals>& totals) {
  const bool month = &q == &AdoQCMonthlyMorkhasiDetail || &q == &AdoQCMonthlyMamuriatDetail;
  const char* number_col = month ? "MMonth" : "Period";
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

void OpenForWrite(db::Dataset& q, const std::string& person, bool month, int number) {
  q.Close();
  q.SetParam("Perno", person);
  q.SetParam(month ? "MMonth" : "Period", number);
  q.Open();
  if (q.IsEmpty()) {
    q.Append();
  } else {
    q.Edit();
  }
}

void SetHead(db::Dataset& q, const TWorkGroupRules& g, const std::string& section,
             const std::string& person, bool month, int number, const TRangeWorkRec& R) {
  q.SetField("WorkGroup", g.Code);
  q.SetField("CalCode", g.CalCodeNull ? db::Value() : db::Value(g.CalCode));
  q.SetField("Section", section);
  q.SetField("CalWork", R.rwrCalWork);
  q.SetField("PerNo", person);
  q.SetField(month ? "MMonth" : "Period", number);
  q.SetField("Edited", 0);
  q.SetField("NightWork", R.rwrNightWork);
  q.SetField("ServicePrice", R.rwrServicePrice);
  q.SetField("MealPrice", R.rwrMealPrice);
}

}  // namespace

void TRangeCalculation::WriteResult(db::Dataset& q, const Result& r) {
  const TRangeWorkRec& R = r.R;
  const TWorkGroupRules& g = r.group;
  const int number = r.number;
  const int use_holiday = r.use_holiday;
  OpenForWrite(q, r.person, r.month, number);
  SetHead(q, g, r.section, r.person, r.month, number, R);
  q.SetField("WorkTotal", R.rwrWorkTotal);
  if (g.Is(engine::TGroupType::kMonthlyBound) || g.Is(engine::TGroupType::kDistributedShift)) {
    const int bound =
        ScaledWorkBound(g.WorkBound[number - 1], r.range_days, r.full_days, r.holidays);
    int over = 0, less = 0;
    if (g.WorkBound[number - 1] > 0) {
      over = std::max(0, R.rwrWorkTotal - bound);
      less = std::max(0, bound - R.rwrWorkTotal);
    }
    q.SetField("Work_Over", over);
    q.SetField("Work_Less", less);
    q.SetField("WorkBound", bound);
  }
  const std::pair<const char*, int32_t> fields[] = {
      {"ExtraWorkTotal", R.rwrExtraWorkTotal},
      {"NonWorkTotal", R.rwrNonWorkTotal},
      {"LeaveOfAbsPay", R.rwrLeaveOfAbsPayed},
      {"LeaveOfAbsNoPay", R.rwrLeaveOfAbsNotPayed},
      {"LeaveOfAbsAlloted", R.rwrLeaveOfAbsAlloted},
      {"Mission", R.rwrMission},
      {"WWork", R.rwrWork},
      {"ServiceLate", R.rwrServiceLate},
      {"EarlyPermCount", R.rwrEarlyPermCount},
      {"EarlyPermAmount", R.rwrEarlyPermAmount},
      {"LatePermCount", R.rwrLatePermCount},
      {"LatePermAmount", R.rwrLatePermAmount},
      {"DaysWorked", R.rwrDaysWorked},
      {"EW_NormPerm", R.rwrEWNormPerm},
      {"EW_NormNotPerm", R.rwrEWNormNotPerm},
      {"EW_HoliPerm", R.rwrEWHoliPerm},
      {"EW_HoliNotPerm", R.rwrEWHoliNotPerm},
      {"EW_InMission", R.rwrEWInMission},
      {"EW_HoliInMission", R.rwrEWHoliInMission},
      {"EW_NormInMission", R.rwrEWNormInMission},
      {"EW_Special", R.rwrEWSpecial},
      {"EW_BreakNotPerm", R.rwrEWBreakNotPerm},
      {"EW_BreakPerm", R.rwrEWBreakPerm},
      {"NW_Early", R.rwrNWEarly},
      {"NW_EarlyCnt", R.rwrNWEarlyCnt},
      {"NW_Late", R.rwrNWLate},
      {"NW_LateCnt", R.rwrNWLateCnt},
      {"NW_LeaveNotPerm", R.rwrNWLeaveNotPerm},
      {"NW_LeaveNotPermCnt", R.rwrNWLeaveNotPermCnt},
      {"NW_Absent", R.rwrNWAbsent},
      {"NW_AbsentCnt", R.rwrNWAbsentCnt},
      {"NW_Special", R.rwrNWSpecial},
      {"PresenceInDMor", R.rwrWorkPresenceInDMor},
      {"PresenceInDMam", R.rwrWorkPresenceInDMam},
      {"OrdMor", R.rwrOrdinaryMorkhasi},
      {"KasrMor", R.rwrKasrMorkhasi},
      {"UseHoliday", use_holiday},
      {"Forgiven_LateCount", R.rwrForgivenLateCount},
      {"Forgiven_LateAmount", R.rwrForgivenLateAmount},
      {"HG_Minutes", R.rwrHGMinutes},
      {"HG_Days", R.rwrHGDays},
      {"HT_Minutes", R.rwrHTMinutes},
      {"HT_Days", R.rwrHTDays},
      {"DaysPresent", R.rwrDaysPresent},
      {"MorkhasiLeft", R.rwrMorkhasiLeft},
      {"PYMorLeftUsed", R.rwrPYMorLeftUsed},
      {"ExtraMorSpecial", R.rwrExtraMorSpecial},
      {"KasrMorSpecial", R.rwrKasrMorSpecial},
      {"MorkhasiRation", R.rwrMorkhasiRation},
      {"PayingDays", R.rwrPayingDays},
      {"PPERCENT1Cnt", R.rwrPPERCENT1Cnt},
      {"PPERCENT2Cnt", R.rwrPPERCENT2Cnt},
      {"PPERCENT3Cnt", R.rwrPPERCENT3Cnt},
      {"PPERCENT4Cnt", R.rwrPPERCENT4Cnt},
  };
  for (const auto& [name, value] : fields) q.SetField(name, value);
  q.Post();
}

void TRangeCalculation::WriteHourlyResult(db::Dataset& q, const Result& r) {
  const TRangeWorkRec& R = r.R;
  OpenForWrite(q, r.person, r.month, r.number);
  SetHead(q, r.group, r.section, r.person, r.month, r.number, R);
  const std::pair<const char*, int32_t> fields[] = {
      {"OrdMor", R.rwrOrdinaryMorkhasi},
      {"LeaveOfAbsPay", R.rwrLeaveOfAbsPayed},
      {"LeaveOfAbsAlloted", R.rwrLeaveOfAbsAlloted},
      {"LeaveOfAbsNoPay", R.rwrLeaveOfAbsNotPayed},
      {"WorkTotal", R.rwrWorkTotal},
      {"Mission", R.rwrMission},
      {"WWork", R.rwrWork},
      {"ServiceLate", R.rwrServiceLate},
      {"EarlyPermCount", R.rwrEarlyPermCount},
      {"EarlyPermAmount", R.rwrEarlyPermAmount},
      {"LatePermCount", R.rwrLatePermCount},
      {"LatePermAmount", R.rwrLatePermAmount},
      {"DaysWorked", R.rwrDaysWorked},
      {"PayingDays", R.rwrDaysWorked},
      {"DaysPresent", R.rwrDaysWorked},
      {"EW_NormPerm", R.rwrEWNormPerm},
      {"EW_NormNotPerm", R.rwrEWNormNotPerm},
      {"ExtraWorkTotal", R.rwrExtraWorkTotal},
      {"NonWorkTotal", R.rwrNonWorkTotal},
      {"EW_Special", R.rwrEWSpecial},
      {"EW_BreakNotPerm", R.rwrEWBreakNotPerm},
      {"EW_BreakPerm", R.rwrEWBreakPerm},
      {"PPERCENT1Cnt", R.rwrPPERCENT1Cnt},
      {"PPERCENT2Cnt", R.rwrPPERCENT2Cnt},
      {"PPERCENT3Cnt", R.rwrPPERCENT3Cnt},
      {"PPERCENT4Cnt", R.rwrPPERCENT4Cnt},
  };
  for (const auto& [name, value] : fields) q.SetField(name, value);
  if (r.group.MandeMorForSaati == 1) {
    q.SetField("MorkhasiLeft", R.rwrMorkhasiLeft);
    q.SetField("ExtraMorSpecial", R.rwrExtraMorSpecial);
    q.SetField("KasrMorSpecial", R.rwrKasrMorSpecial);
    q.SetField("MorkhasiRation", R.rwrMorkhasiRation);
  }
  q.Post();
}

void TRangeCalculation::LogPeriodMessage(const std::string& person, int period,
                                         const std::string& message) {
  char number[8];
  std::snprintf(number, sizeof number, "%2d", period);
  const std::string prefix =
      util::Utf8PadRight(Trim(dm_.AttendanceCalcManager().PersonName()), 20) + " (" +
      util::Utf8PadRight(Trim(person), 6) + ") ( دوره " + number + ") : ";
  dm_.InsertCalcLogTable(dm_.ScheduleId, person, prefix + message);
}

TRangeCalculation::DayFilter TRangeCalculation::EmployedFilter(const TEmployment& employment,
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

TRangeCalculation::Result TRangeCalculation::Completed(Result result, const std::string& P,
                                                       int number, bool month, int range_days,
                                                       int full_days, int holidays,
                                                       int use_holiday) const {
  result.person = P;
  result.number = number;
  result.month = month;
  result.R = R_;
  result.group = group_;
  result.section = section_;
  result.range_days = range_days;
  result.full_days = full_days;
  result.holidays = holidays;
  result.use_holiday = use_holiday;
  return result;
}

int32_t TRangeCalculation::CarriedBalance(const std::string& P, int number, bool month,
                                          int32_t& use_holiday) {
  const int start = static_cast<int>(dm_.QSystem().FieldByName("StartMorLeft").AsInteger());
  if (number < start) return 0;
  if (number == start) {
    db::Dataset& initial = month ? AdoQCMorkhasiLeftMonth : AdoQCMorkhasiLeftPeriod;
    OpenForPerson(initial, P);
    return initial.IsEmpty() ? 0 : Int(initial, "InitialValue");
  }
  int32_t left = 0;
  if (HeldBalance(number - 1, left, use_holiday)) return left;
  db::Dataset& previous = month ? AdoQCMonthlyWork : AdoQPeriodWork;
  previous.Close();
  previous.SetParam("Perno", P);
  previous.SetParam(month ? "MMonth" : "Period", number - 1);
  previous.Open();
  if (previous.IsEmpty()) return 0;
  use_holiday = Int(previous, "UseHoliday");
  return Int(previous, "MorkhasiLeft");
}

void TRangeCalculation::ReportMissingDays(const std::string& P, db::Dataset& rows,
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
    if (filter.Takes(rows)) present.insert(Trim(rows.FieldByName("DDate").AsString()));
  }
  say(some);
  dm_.InsertCalcLogTable(dm_.ScheduleId, P, " روزهاي محاسبه نشده : ");
  std::string missing;
  for (const std::string& day : employed_days) {
    if (!present.count(day)) missing += day + " ";
  }
  dm_.InsertCalcLogTable(dm_.ScheduleId, P, missing);
}

// ---- the month ----------------------------------------------------------------------------

void TRangeCalculation::CalculateMonth(const std::string& P, int M) {
  db::Dataset& system = dm_.QSystem();
  if (!system.Active()) system.Open();
  R_ = TRangeWorkRec{};
  const std::string Y = dm_.CurrentYear;
  const TEmployment employment = ReadEmployment(P, Y + "/01/01", Y + "/12/30");

  const int days_in_month = dm_.DaysInMonth(M);
  std::string from = Pad2(M) + "/01";
  std::string to = Pad2(M) + "/" + Pad2(days_in_month);
  // The days of the month the person was employed on, first to last.
  std::string first, last;
  const bool employed = employment.Part(Y + "/" + from, Y + "/" + to, first, last);
  // The work group of the last day calculated: a rule that ends with the employment counts.
  OpenWorkGroup(GetMonthWorkGroup(P, M, employed ? last.substr(5, 5) : to));
  if (!employed) return;

  const int full_days = TZelCalcUtils::DaysInBetween(from, to);
  from = first.substr(5, 5);
  to = last.substr(5, 5);
  const DayFilter month = EmployedFilter(employment, from, to, year_, year_);
  const std::vector<std::string> employed_days = EmployedDays(month, from, to, year_, year_);
  const int range_days = static_cast<int>(employed_days.size());

  TDaySums sums;
  const int32_t carried = CarriedBalance(P, M, true, sums.UseHoliday);

  // The day rows of the month: read for all the run's months at the first of them.
  const auto [read_from, read_to] = ReadRange(M, from, to);
  OpenDays(P, read_from, read_to);
  db::Dataset& rows = AdoQCDailyWork;
  int count = 0;
  for (rows.First(); !rows.Eof(); rows.Next()) count += month.Takes(rows) ? 1 : 0;
  const int days = std::min(days_in_month, range_days);
  if (count != days) {
    // An incomplete month: which days are missing, and no result row.
    const std::string head = dm_.AttendanceCalcManager().PersonName() + " (" +
                             dm_.AttendanceCalcManager().PersonID() + ") (" + PersianMonthName(M) +
                             "): ";
    ReportMissingDays(
        P, rows, month, count, employed_days,
        [&](const std::string& text) { dm_.InsertCalcLogTable(dm_.ScheduleId, P, head + text); },
        "هيچ روزي از ماه محاسبه نشده است.", "بعضي از روزهاي ماه محاسبه نشده اند.");
    return;
  }
  // The holidays of the range are the day rows' own (the ratio of the work bound).
  const int holidays = SumDays(rows, month, sums);

  Education education;
  Result result;
  result.leave = SumLeaveDetails(AdoQCDailyMorkhasi, month, education);

  TRangeFacts facts;
  facts.Days = days;
  facts.FullDays = days_in_month;
  facts.Carried = carried;
  facts.Param = group_.M_Param[M - 1];
  ReadSpecials(P, M, facts);

  if (group_.Is(engine::TGroupType::kHourly)) {
    int32_t T = 0;
    OpenForPerson(AdoQCMorkhasiLeftMonth, P);
    if (!AdoQCMorkhasiLeftMonth.IsEmpty()) T = Int(AdoQCMorkhasiLeftMonth, "Amount");
    ApplyHourlyRules(group_, facts, T, R_);
  } else {
    ApplyLateRules(sums.Lates, group_, R_);
    MonthDuty(P, M, month, facts);
    ApplyRangeRules(group_, sums, facts, R_);
    // Education leave: the month's leave rows of education types.
    CoverEducationLeave(education.sum, education.daily_sum, education.count_days, R_);
    ApplyPermission(P, M);
  }

  result.missions = SumMissionDetails(AdoQCDailyMamuriat, month);

  // Everything is computed: the month's rows.
  Store(Completed(std::move(result), P, M, true, range_days, full_days, holidays, sums.UseHoliday));
}

// ---- the period ---------------------------------------------------------------------------

void TRangeCalculation::CalculatePeriod(const std::string& P, int n) {
  using dates::TZELDateParser;
  db::Dataset& system = dm_.QSystem();
  if (!system.Active()) system.Open();
  R_ = TRangeWorkRec{};
  const std::string from = Trim(system.FieldByName("PERIOD" + std::to_string(n) + "B").AsString());
  const std::string to = Trim(system.FieldByName("PERIOD" + std::to_string(n) + "E").AsString());
  const TEmployment employment = ReadEmployment(dm_.AttendanceCalcManager().PersonID(),
                                                TZelCalcUtils::FirstDateOfYear_YYMMDD(year_ - 1),
                                                TZelCalcUtils::LastDateOfYear_YYMMDD(year_ + 1));
  // The employment's first and last day over all its rows; a row ending before it begins
  // is reported only when no row covers a day.
  std::string job_start = employment.bad_begin, job_end = employment.bad_end;
  if (!employment.spans.empty()) {
    job_start = employment.spans.front().begin;
    job_end = employment.spans.front().end;
    for (const TEmployment::Span& span : employment.spans) job_end = std::max(job_end, span.end);
  }

  T2YearRangeState state{};
  db::T2YearRangeUtils::GetPeriodRangeState(n, from, to, state);
  int from_off = 0, to_off = 0;
  YearOffsets(state, from_off, to_off);
  const int from_year = year_ + from_off, to_year = year_ + to_off;
  const std::string period_start =
      TZELDateParser::AddYearToDate_YYYYMMDD(dates::csJalali, from_year, from);
  const std::string period_end =
      TZELDateParser::AddYearToDate_YYYYMMDD(dates::csJalali, to_year, to);

  if (job_end < job_start) {
    LogPeriodMessage(
        P, n, "تاریخ خاتمه کار (" + job_end + ") قبل از تاریخ شروع کار (" + job_start + ")  است.");
    return;
  }
  if (job_end < period_start) {
    LogPeriodMessage(P, n, "تاریخ خاتمه کار (" + job_end + ") قبل از شروع دوره است.");
    return;
  }
  if (job_start > period_end) {
    LogPeriodMessage(P, n, "تاریخ خاتمه کار (" + job_start + ") قبل از شروع دوره است.");
    return;
  }
  // The range cut to the days employed, first to last. A period between two employments
  // follows the one that ended before it.
  std::string c_start, c_end;
  if (!employment.Part(period_start, period_end, c_start, c_end)) {
    LogPeriodMessage(
        P, n, "تاریخ خاتمه کار (" + employment.EndBefore(period_start) + ") قبل از شروع دوره است.");
    return;
  }

  // The cut range's years come from the dates themselves, so a cross-year period cut down
  // to days of the other year alone reads that year's database.
  const std::string cfrom = TZELDateParser::GetMonthAndDay_MMDD(c_start, 0);
  const std::string cto = TZELDateParser::GetMonthAndDay_MMDD(c_end, 0);
  T2YearRangeState cstate{};
  db::T2YearRangeUtils::GetPeriodRangeState(n, cfrom, cto, cstate);
  const int cfrom_year = std::stoi(c_start.substr(0, 4));
  const int cto_year = std::stoi(c_end.substr(0, 4));

  Source src;
  src.state = cstate;
  src.from = cfrom;
  src.to = cto;
  src.current_db = dm_.DataBaseNameYear;
  src.other_db = dm_.DataBaseNameYear;
  if (cstate != T2YearRangeState::rsNormal || cfrom_year != year_) {
    const std::string years = system.FieldByName("Years").AsString();
    for (int y : {cfrom_year, cto_year}) {
      if (TZELDateParser::YearExistInYearList(years, y) < 0) {
        LogPeriodMessage(P, n, "سال " + std::to_string(y) + " وجود ندارد .");
        return;
      }
    }
    if (cstate == T2YearRangeState::rsPrevToCurrentYear) {
      src.other_db = dm_.DataBaseNameOfYear(cfrom_year);
    } else if (cstate == T2YearRangeState::rsCurrentToNextYear) {
      src.other_db = dm_.DataBaseNameOfYear(cto_year);
    } else {
      src.current_db = src.other_db = dm_.DataBaseNameOfYear(cfrom_year);
    }
  }

  const int full_days = TZelCalcUtils::DaysCountInBetweenWithYear(from, to, from_year, to_year);
  // The period's rows come without their year: the filter takes every row of the range.
  DayFilter period = EmployedFilter(employment, cfrom, cto, cfrom_year, cto_year);
  period.from.clear();
  period.to.clear();
  const std::vector<std::string> employed_days =
      EmployedDays(period, cfrom, cto, cfrom_year, cto_year);
  const int range_days = static_cast<int>(employed_days.size());

  if (!OpenWorkGroup(GetPeriodWorkGroup(P, n, dm_.DataBaseNameOfYear(cto_year), cto))) {
    LogPeriodMessage(P, n, "در این دوره فاقد حکم است.");
    return;
  }

  TDaySums sums;
  const int32_t carried = CarriedBalance(P, n, false, sums.UseHoliday);

  db::Dataset rows(dm_.ADOConnectionTimeAttendance());
  OpenRows(rows, src, DailyRowsTemplate(), "DDate", "PerNo", kText, 10, P);
  const int days = range_days;
  int count = 0;
  for (rows.First(); !rows.Eof(); rows.Next()) count += period.Takes(rows) ? 1 : 0;
  if (count != days) {
    ReportMissingDays(
        P, rows, period, count, employed_days,
        [&](const std::string& text) { LogPeriodMessage(P, n, text); },
        "هيچ روزي از دوره محاسبه نشده است.", "بعضي از روزهاي دوره محاسبه نشده اند.");
    return;
  }
  const int holidays = SumDays(rows, period, sums);

  db::Dataset leave_rows(dm_.ADOConnectionTimeAttendance());
  OpenRows(leave_rows, src, LeaveDetailsTemplate(), "DDate", "PerNo", kText, 10, P);
  Education unused;
  Result result;
  result.leave = SumLeaveDetails(leave_rows, period, unused);

  TRangeFacts facts;
  facts.Days = range_days;
  facts.FullDays = full_days;
  facts.Carried = carried;
  facts.Param = group_.M_Param[n - 1];
  ReadSpecials(P, n, facts);

  if (group_.Is(engine::TGroupType::kHourly)) {
    OpenForPerson(AdoQCMorkhasiLeftPeriod, P);
    const int32_t T =
        AdoQCMorkhasiLeftPeriod.IsEmpty() ? 0 : Int(AdoQCMorkhasiLeftPeriod, "Amount");
    ApplyHourlyRules(group_, facts, T, R_);
  } else {
    ApplyLateRules(sums.Lates, group_, R_);
    PeriodDuty(P, src, period, facts);
    ApplyRangeRules(group_, sums, facts, R_);
    // Education leave, read in every year database the period covers.
    int edu = 0, daily = 0, count = 0;
    switch (cstate) {
      case T2YearRangeState::rsNormal:
        AddEducation(P, src.current_db, cfrom, cto, edu, daily, count);
        break;
      case T2YearRangeState::rsPrevToCurrentYear:
        AddEducation(P, src.other_db, cfrom, "12/30", edu, daily, count);
        AddEducation(P, src.current_db, "01/01", cto, edu, daily, count);
        break;
      case T2YearRangeState::rsCurrentToNextYear:
        AddEducation(P, src.current_db, cfrom, "12/30", edu, daily, count);
        AddEducation(P, src.other_db, "01/01", cto, edu, daily, count);
        break;
    }
    CoverEducationLeave(edu, daily, count, R_);
    ApplyPermission(P, n);
  }

  db::Dataset mission_rows(dm_.ADOConnectionTimeAttendance());
  OpenRows(mission_rows, src, MissionDetailsTemplate(), "DDate", "PerNo", kText, 10, P);
  result.missions = SumMissionDetails(mission_rows, period);

  Store(
      Completed(std::move(result), P, n, false, range_days, full_days, holidays, sums.UseHoliday));
}

}  // namespace zel::aggregation
