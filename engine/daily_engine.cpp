// The daily engine's queries, prepared once per data module, and the binding of its events.
#include "engine/daily_engine.h"

#include <initializer_list>

#include "engine/daily_text.h"
#include "engine/day_trace.h"
#include "engine/dm_calculate.h"

namespace zel::engine {

namespace {

struct ParamDecl {
  const char* name;
  db::ParamType type;
  int size;
};

constexpr db::ParamType kText = db::ParamType::String;
constexpr db::ParamType kInt = db::ParamType::Integer;

// Sets the text of a query and declares its parameters.
void Prepare(db::Dataset& query, std::vector<std::string> lines,
             std::initializer_list<ParamDecl> params, int timeout_seconds = 0) {
  query.SetSQL(std::move(lines));
  for (const ParamDecl& p : params) {
    db::Param& param = query.ParamByName(p.name);
    param.type = p.type;
    param.size = p.size;
  }
  query.SetCommandTimeout(timeout_seconds);
}

// The query of one hourly table around the day: rows that begin or end between the day
// before and the day after, or cover both; the person number is compared trimmed.
std::vector<std::string> HourlyTableQuery(const std::string& table) {
  return {"Declare @BeginDate as char(5),@EndDate as char(5) ",
          " set @BeginDate = :BDate",
          " set @EndDate = :EDate",
          " Select * from " + table + "  ",
          "Where Ltrim(Rtrim(Perno)) =  :PerNo and ",
          "((BeginDate Between @BeginDate And @EndDate) Or (EndDate Between @BeginDate And "
          "@EndDate) ",
          "Or (BeginDate < @BeginDate and EndDate > @EndDate) ) ",
          "Order By BeginDate,BeginTime,EndDate,EndTime "};
}

}  // namespace

TDailyEngine::TDailyEngine(TdmCalculate& module)
    : dm_(module),
      day_(module.DayState),
      year_(StrToInt(module.CurrentYear)),
      QCWorkShifts(module.ADOConnectionDbBase()),
      AdoQCWorkGroup(module.ADOConnectionDbBase()),
      AdoQCMissionType(module.ADOConnectionDbBase()),
      AdoQCMorkhasiType(module.ADOConnectionDbBase()),
      AdoQtaCServiceCode(module.ADOConnectionDbBase()),
      AdoQCJobInfo(module.ADOConnectionDbBase()),
      QMeals(module.ADOConnectionDbBase()),
      QHalfWays(module.ADOConnectionDbBase()),
      QCGShCalItems(module.ADOConnectionTimeAttendance()),
      AdoQCPrjRule(module.ADOConnectionTimeAttendance()),
      AdoQCIOInfo(module.ADOConnectionTimeAttendance()),
      QMorkhasi(module.ADOConnectionTimeAttendance()),
      QMission(module.ADOConnectionTimeAttendance()),
      QServLate(module.ADOConnectionTimeAttendance()),
      AdoQCDDailyMorkhasi(module.ADOConnectionTimeAttendance()),
      AdoQCDDailyMission(module.ADOConnectionTimeAttendance()),
      AdoQCDailyExtraPerm(module.ADOConnectionTimeAttendance()),
      AdoQCDSuspension(module.ADOConnectionTimeAttendance()),
      AdoQCDailyMissionDays(module.ADOConnectionTimeAttendance()),
      AdoQCCalendarItem(module.ADOConnectionTimeAttendance()),
      AdoQCGShItem(module.ADOConnectionTimeAttendance()),
      AdoQCPerShifts(module.ADOConnectionTimeAttendance()),
      AdoQCServiceTime(module.ADOConnectionTimeAttendance()),
      AdoQCMealTime(module.ADOConnectionTimeAttendance()),
      QInsertIntoMealTime(module.ADOConnectionTimeAttendance()),
      QInsertIntoDayWork(module.ADOConnectionTimeAttendance()),
      QInsertIntoTimeTab(module.ADOConnectionTimeAttendance()),
      QGetPresent(module.ADOConnectionTimeAttendance()),
      AdoQCDailyMorkhasiDetail(module.ADOConnectionTimeAttendance()),
      AdoQCDailyMamuriatDetail(module.ADOConnectionTimeAttendance()),
      AdoQCDailySpecExtDef(module.ADOConnectionTimeAttendance()) {
  // Base database.
  Prepare(QCWorkShifts, {"Select * ", "From WorkShifts", "Where Code = :PCode"},
          {{"PCode", kInt, 0}});
  Prepare(AdoQCWorkGroup, {"Select * from WorkGrp ", "Where Code = :Code"}, {{"Code", kInt, 0}});
  Prepare(AdoQCMissionType, {"Select * From MamType ", "Where Code = :Code "}, {{"Code", kInt, 0}});
  Prepare(AdoQCMorkhasiType, {"Select * From Mortype ", "Where Code = :Code "},
          {{"Code", kInt, 0}});
  Prepare(AdoQtaCServiceCode, {"Select * From ServCode ", "Where Code = :Code "},
          {{"Code", kInt, 0}});
  Prepare(AdoQCJobInfo, {"Select * from JobInfo ", "Where Perno = :Perno"}, {{"Perno", kText, 10}});
  Prepare(QMeals, {"Select * from " + module.DataBaseName + "..Meals ", "Order By BeginTime"}, {},
          60);
  Prepare(
      QHalfWays,
      {"Select * from " + module.DataBaseNameYear + "..SRule," + module.DataBaseName +
           "..HalfWays ",
       "where SRule.BeginDate <= :CurDate", "and  SRule.EndDate >= :CurDate",
       "and  SRule.Perno = :Perno", "and  SRule.HalfWayCode = HalfWays.Code",
       "and  HalfWays.BeginTime <= :TTime", "and  HalfWays.EndTime >= :TTime",
       "and  HalfWays.IsHoliday = :IsHoliday", "Order By HalfWays.Io_Type"},
      {{"CurDate", kText, 5}, {"Perno", kText, 10}, {"TTime", kText, 5}, {"IsHoliday", kInt, 0}},
      60);

  // Year database.
  Prepare(
      QCGShCalItems,
      {"Select * From V_GetCalItem ", "Where PerNo = :PPerNo", "And GShCode = :PGShCode",
       "And DBeginDate Between :FromDate And :ToDate"},
      {{"PPerNo", kText, 10}, {"PGShCode", kInt, 0}, {"FromDate", kText, 5}, {"ToDate", kText, 5}});
  Prepare(AdoQCPrjRule,
          {"Select * from [" + module.DataBaseNameYear + "]..PrjRule Where Perno = :Perno"},
          {{"Perno", kText, 10}});
  Prepare(AdoQCIOInfo,
          {"Declare @BeginDate as char(5),@EndDate as char(5)", "set @BeginDate = :BDate ",
           "set @EndDate = :EDate ", "Select * from IoInfo",
           "Where Perno = :PerNo and  ((BeginDate Between @BeginDate And @EndDate) Or  "
           "(EndDate Between @BeginDate And @EndDate) Or (BeginDate < @BeginDate and EndDate > "
           "@EndDate) )",
           "Order By BeginDate,BeginTime,EndDate,EndTime "},
          {{"BDate", kText, 5}, {"EDate", kText, 5}, {"PerNo", kText, 10}});
  for (auto [query, table] : {std::pair{&QMorkhasi, "Morkhasi"}, std::pair{&QMission, "Mission"},
                              std::pair{&QServLate, "ServLate"}}) {
    Prepare(*query, HourlyTableQuery(table),
            {{"BDate", kText, 5}, {"EDate", kText, 5}, {"PerNo", kText, 10}});
  }
  Prepare(AdoQCDDailyMorkhasi, {"Select * from DayMor ", "Where Perno = :PerNo"},
          {{"PerNo", kText, 10}});
  Prepare(AdoQCDDailyMission, {"Select * from DayMam ", "Where Perno = :PerNo"},
          {{"PerNo", kText, 10}});
  Prepare(AdoQCDailyExtraPerm, {"Select * from DayExPrm", "Where Perno = :PerNo"},
          {{"PerNo", kText, 10}});
  Prepare(AdoQCDSuspension, {"Select * from Susp", "Where Perno = :PerNo"}, {{"PerNo", kText, 10}});
  Prepare(AdoQCDailyMissionDays,
          {"Select * from MamDays ",
           "Where Perno = :Perno and BeginDate = :CurDate And PageNo = :PageNo"},
          {{"Perno", kText, 10}, {"CurDate", kText, 5}, {"PageNo", kInt, 0}});
  Prepare(AdoQCCalendarItem,
          {"Select * from CalItem ",
           "Where CalCode = :CalCode and DBeginDate Between :FromDate And :ToDate"},
          {{"CalCode", kInt, 0}, {"FromDate", kText, 5}, {"ToDate", kText, 5}});
  Prepare(AdoQCGShItem,
          {"Select * From GShItem ", "Where GShCode = :GShCode And Period = :Period "},
          {{"GShCode", kInt, 0}, {"Period", kInt, 0}});
  Prepare(AdoQCPerShifts,
          {"Select * From PerShifts ",
           "Where Perno = :Perno And Period = :Period And GShCode = :GShCode "},
          {{"Perno", kText, 10}, {"Period", kInt, 0}, {"GShCode", kInt, 0}});
  Prepare(
      AdoQCServiceTime,
      {"INSERT INTO ServTime", "           ([PERNO]", "           ,[CALCDATE]",
       "           ,[HALFWAYCODE]", "           ,[HALFWAYPRICE]", "           ,[SERVICEPRICE])",
       "     VALUES", "           ( :PERNO", "           , :CALCDATE", "           , :HALFWAYCODE",
       "           , :HALFWAYPRICE", "           , :SERVICEPRICE) "},
      {{"PERNO", kText, 10},
       {"CALCDATE", kText, 5},
       {"HALFWAYCODE", kInt, 0},
       {"HALFWAYPRICE", kInt, 0},
       {"SERVICEPRICE", kInt, 0}});
  Prepare(AdoQCMealTime,
          {"Select * From MealTime ",
           "Where Perno = :Perno And CalcDate = :CalcDate And MealCode = :MealCode "},
          {{"Perno", kText, 10}, {"CalcDate", kText, 5}, {"MealCode", kInt, 0}});
  // The values go in as they are, as a row appended to the query above would write them.
  Prepare(QInsertIntoMealTime,
          {"INSERT INTO MealTime ([Perno], [CalcDate], [MealCode], [MealPrice])",
           "VALUES (:Perno, :CalcDate, :MealCode, :MealPrice)"},
          {});
  Prepare(
      QInsertIntoDayWork,
      {"INSERT INTO DayWork ",
       "(PerNo,DDate,Edited,WorkGroup,CalCode,Section,CalWork,NightWork,WorkTotal,WWork,"
       "LeaveOfAbsPay,",
       "Mission,ServiceLate,EarlyPermFirst,EarlyPermLast,LatePermFirst,LatePermLast,"
       "ExtraWorkTotal,",
       "EW_NormPerm,EW_NormNotPerm,EW_HoliPerm,EW_HoliNotPerm,EW_InMission,EW_HoliInMission,",
       "EW_NormInMission,EW_Special,EW_BreakNotPerm,EW_BreakPerm,NonWorkTotal,LeaveOfAbsNoPay,",
       "NW_Early_First,NW_Early_Last,NW_Late_First,NW_Late_Last,NW_LeaveNotPerm,NW_Absent,",
       "NW_Special,DailyMorkhasi,DailyMamuriat,DailyAbsence,Holiday,Suspended,PresenceInDMor,",
       "PresenceInDMam,OrdMor,ReduceHoliday,HolidaysCounted,KasrMor,MealPrice,ServicePrice,",
       "BeginStr,EndStr,FirstBeginDate,FirstBeginTime,LastEndDate,LastEndTime,PPercent)",
       " Values ",
       "( :PerNo, :DDate, :Edited, :WorkGroup, :CalCode, :Section, :CalWork, :NightWork, "
       ":WorkTotal, "
       ":WWork, :LeaveOfAbsPay, ",
       ":Mission, :ServiceLate, :EarlyPermFirst, :EarlyPermLast, :LatePermFirst, :LatePermLast, "
       ":ExtraWorkTotal, ",
       ":EW_NormPerm, :EW_NormNotPerm, :EW_HoliPerm, :EW_HoliNotPerm, :EW_InMission, "
       ":EW_HoliInMission, ",
       ":EW_NormInMission, :EW_Special, :EW_BreakNotPerm, :EW_BreakPerm, :NonWorkTotal, "
       ":LeaveOfAbsNoPay, ",
       ":NW_Early_First, :NW_Early_Last, :NW_Late_First, :NW_Late_Last, :NW_LeaveNotPerm, "
       ":NW_Absent, ",
       ":NW_Special, :DailyMorkhasi, :DailyMamuriat, :DailyAbsence, :Holiday, :Suspended, "
       ":PresenceInDMor, ",
       ":PresenceInDMam, :OrdMor, :ReduceHoliday, :HolidaysCounted, :KasrMor, :MealPrice, "
       ":ServicePrice, ",
       ":BeginStr, :EndStr, :FirstBeginDate, :FirstBeginTime, :LastEndDate, :LastEndTime, "
       ":PPercent)",
       " "},
      {{"PerNo", kText, 10},
       {"DDate", kText, 5},
       {"Section", kText, 50},
       {"BeginStr", kText, 10},
       {"EndStr", kText, 10},
       {"FirstBeginDate", kText, 5},
       {"FirstBeginTime", kText, 5},
       {"LastEndDate", kText, 5},
       {"LastEndTime", kText, 5}});
  for (const char* name :
       {"Edited",           "WorkGroup",        "CalCode",         "CalWork",
        "NightWork",        "WorkTotal",        "WWork",           "LeaveOfAbsPay",
        "Mission",          "ServiceLate",      "EarlyPermFirst",  "EarlyPermLast",
        "LatePermFirst",    "LatePermLast",     "ExtraWorkTotal",  "EW_NormPerm",
        "EW_NormNotPerm",   "EW_HoliPerm",      "EW_HoliNotPerm",  "EW_InMission",
        "EW_HoliInMission", "EW_NormInMission", "EW_Special",      "EW_BreakNotPerm",
        "EW_BreakPerm",     "NonWorkTotal",     "LeaveOfAbsNoPay", "NW_Early_First",
        "NW_Early_Last",    "NW_Late_First",    "NW_Late_Last",    "NW_LeaveNotPerm",
        "NW_Absent",        "NW_Special",       "DailyMorkhasi",   "DailyMamuriat",
        "DailyAbsence",     "Holiday",          "Suspended",       "PresenceInDMor",
        "PresenceInDMam",   "OrdMor",           "ReduceHoliday",   "HolidaysCounted",
        "KasrMor",          "MealPrice",        "ServicePrice",    "PPercent"}) {
    QInsertIntoDayWork.ParamByName(name).type = kInt;
  }
  // One text for every row of a day, whatever their number.
  Prepare(QInsertIntoTimeTab,
          {"INSERT INTO TimeTab (PerNo,CalcDate,BeginDate,BeginTime,EndDate,EndTime,PresenceType,"
           "WorkingInterval,[Status],Duration,MorkhasiSheetCode,MorkhasiType,DDesc,"
           "MamuriatSheetCode,MamuriatType,ExtraWorkSheetCode,ServiceLateSheetCode,"
           "SuspensionSheetCode) Values (:PerNo, :CalcDate, :BeginDate, :BeginTime, :EndDate, "
           ":EndTime, :PresenceType, :WorkingInterval, :Status, :Duration, :MorkhasiSheetCode, "
           ":MorkhasiType, :DDesc, :MamuriatSheetCode, :MamuriatType, :ExtraWorkSheetCode, "
           ":ServiceLateSheetCode, :SuspensionSheetCode)"},
          {{"PerNo", kText, 10},
           {"CalcDate", kText, 5},
           {"BeginDate", kText, 5},
           {"BeginTime", kText, 5},
           {"EndDate", kText, 5},
           {"EndTime", kText, 5},
           {"PresenceType", kInt, 0},
           {"WorkingInterval", kInt, 0},
           {"Status", kInt, 0},
           {"Duration", kInt, 0},
           {"MorkhasiSheetCode", kInt, 0},
           {"MorkhasiType", kInt, 0},
           {"DDesc", kText, 30},
           {"MamuriatSheetCode", kInt, 0},
           {"MamuriatType", kInt, 0},
           {"ExtraWorkSheetCode", kInt, 0},
           {"ServiceLateSheetCode", kInt, 0},
           {"SuspensionSheetCode", kInt, 0}});
  Prepare(QGetPresent, {"Select * from Present ", "where Perno = :Perno "}, {{"Perno", kText, 10}});
  Prepare(AdoQCDailyMorkhasiDetail,
          {"Select * from DayMorDt ",
           "Where Perno = :Perno and DDate = :CurDate and MorkhasiCode = :MorkhasiCode"},
          {{"Perno", kText, 10}, {"CurDate", kText, 5}, {"MorkhasiCode", kInt, 0}});
  Prepare(AdoQCDailyMamuriatDetail,
          {"Select * from DayMamDt ",
           "Where Perno = :Perno and DDate = :CurDate and MamuriatCode = :MamuriatCode"},
          {{"Perno", kText, 10}, {"CurDate", kText, 5}, {"MamuriatCode", kInt, 0}});
  Prepare(AdoQCDailySpecExtDef, {"Select * from DSExtDef ", "Where Perno = :Perno "},
          {{"Perno", kText, 10}});
}

void TDailyEngine::Bind(TAttendanceCalcManager& manager) {
  // The observer of the module (TdmCalculate::DayTrace), when one is set, hears of the
  // day's shape, its records and its stretches between the steps.
  manager.OnInitialize = [this](TAttendanceCalcManager& s) { AttendanceCalcManagerInitialize(s); };
  manager.OnGetWorkingDays = [this](TAttendanceCalcManager& s) {
    AttendanceCalcManagerGetWorkingDays(s);
    if (TDayTrace* trace = dm_.DayTrace()) {
      const TExtraData& x = day_.ExtraData;
      const std::string shape =
          x.WorkGroupGShCode != 0       ? "shift group " + std::to_string(x.WorkGroupGShCode)
          : !x.WorkGroupCALCODE.empty() ? "calendar " + x.WorkGroupCALCODE
                                        : "no calendar: the whole day is working time";
      trace->DayShape(s, x, shape);
    }
  };
  manager.OnAddPresences = [this](TAttendanceCalcManager& s) {
    AttendanceCalcManagerAddPresences(s);
    if (TDayTrace* trace = dm_.DayTrace()) trace->Sources(s);
  };
  manager.OnBeforeValidate = [this](TAttendanceCalcManager& s) {
    AttendanceCalcManagerBeforeValidate(s);
  };
  manager.OnValidatePresence = [this](TAttendanceCalcManager& s, std::span<const TPresence> group,
                                      TPresence& result) {
    return AttendanceCalcManagerValidatePresence(s, group, result);
  };
  manager.OnBeforeProcess = [this](TAttendanceCalcManager& s) {
    AttendanceCalcManagerBeforeProcess(s);
    if (TDayTrace* trace = dm_.DayTrace()) trace->Stretches(s);
  };
  manager.OnProcessPresence = [this](TAttendanceCalcManager& s, TPresence presence) {
    AttendanceCalcManagerProcessPresence(s, std::move(presence));
  };
  manager.OnFinalize = [this](TAttendanceCalcManager& s) { AttendanceCalcManagerFinalize(s); };
  manager.OnHandleError = [this](TAttendanceCalcManager& s) {
    if (TDayTrace* trace = dm_.DayTrace()) trace->Failed(DayErrorFrom(s.ErrorCode()), s.ErrorMsg());
    AttendanceCalcManagerHandleError(s);
  };
}

void TDailyEngine::ForgetPerson() {
  for (TKeptRows* rows : {&prj_rules_, &io_rows_, &morkhasi_rows_, &mission_rows_, &serv_late_rows_,
                          &day_mor_rows_, &day_mam_rows_, &extra_perm_rows_, &susp_rows_,
                          &present_rows_, &spec_ext_rows_, &meal_rows_}) {
    rows->Clear();
  }
  day_item_rows_.clear();
  reported_rows_.clear();
  items_.clear();
  day_.pending_time_tab.clear();
  meals_serial_ = -1;
  meals_written_.clear();
  details_serial_ = -1;
  details_written_.clear();
}

void TDailyEngine::Unbind(TAttendanceCalcManager& manager) {
  manager.OnInitialize = nullptr;
  manager.OnGetWorkingDays = nullptr;
  manager.OnAddPresences = nullptr;
  manager.OnBeforeValidate = nullptr;
  manager.OnValidatePresence = nullptr;
  manager.OnBeforeProcess = nullptr;
  manager.OnProcessPresence = nullptr;
  manager.OnFinalize = nullptr;
  manager.OnHandleError = nullptr;
}

int TDailyEngine::Rel(const TCalcDateTime& point) const {
  return MinutesBetween(day_.reference, point);
}

void TDailyEngine::KeepPersonRows(TKeptRows& rows, db::Dataset& query, const std::string& person) {
  if (rows.Holds(person, "", "")) return;
  query.Open();
  rows.Keep(query);
  rows.SetKey(person, "", "");
  query.Close();
}

void TDailyEngine::KeepWindowRows(TKeptRows& rows, db::Dataset& query, const std::string& person,
                                  const char* from_param, const char* to_param) {
  if (rows.Holds(person, day_.yesterday_text, day_.tomorrow_text)) return;
  query.SetParam(from_param, day_.window_from);
  query.SetParam(to_param, day_.window_to);
  query.Open();
  rows.Keep(query);
  rows.SetKey(person, day_.window_from, day_.window_to);
  query.Close();
}

void TDailyEngine::LogToThreadFile(const TAttendanceCalcManager& Sender,
                                   const std::string& text) const {
  dm_.MyZelUtils.LogText(text, "Thread" + TrimText(Sender.PersonID()), true, false);
}

}  // namespace zel::engine
