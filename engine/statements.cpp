// The statement texts of the calculations, by name.
#include "engine/statements.h"

#include <stdexcept>

namespace zel::engine {

namespace {

constexpr db::ParamType kText = db::ParamType::String;
constexpr db::ParamType kInt = db::ParamType::Integer;

// Rows of every hourly table ($Table$: Morkhasi, Mission, ServLate) around the day: those
// that begin or end between the day before and the day after, or cover both; the person
// number is compared trimmed.
constexpr StatementText kHourlyRows = {
    "HourlyPermissionsAroundTheDay",
    {"Declare @BeginDate as char(5),@EndDate as char(5) ", " set @BeginDate = :BDate",
     " set @EndDate = :EDate", " Select * from $Table$  ",
     "Where Ltrim(Rtrim(Perno)) =  :PerNo and ",
     "((BeginDate Between @BeginDate And @EndDate) Or (EndDate Between @BeginDate And "
     "@EndDate) ",
     "Or (BeginDate < @BeginDate and EndDate > @EndDate) ) ",
     "Order By BeginDate,BeginTime,EndDate,EndTime "},
    {{"BDate", kText, 5}, {"EDate", kText, 5}, {"PerNo", kText, 10}}};

constexpr StatementText kDayResult = {
    "DayResultInserted",
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
     "BeginStr,EndStr,FirstBeginDate,FirstBeginTime,LastEndDate,LastEndTime,PPercent)", " Values ",
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
    {{"PerNo", kText, 10},          {"DDate", kText, 5},
     {"Section", kText, 50},        {"BeginStr", kText, 10},
     {"EndStr", kText, 10},         {"FirstBeginDate", kText, 5},
     {"FirstBeginTime", kText, 5},  {"LastEndDate", kText, 5},
     {"LastEndTime", kText, 5},     {"Edited", kInt, 0},
     {"WorkGroup", kInt, 0},        {"CalCode", kInt, 0},
     {"CalWork", kInt, 0},          {"NightWork", kInt, 0},
     {"WorkTotal", kInt, 0},        {"WWork", kInt, 0},
     {"LeaveOfAbsPay", kInt, 0},    {"Mission", kInt, 0},
     {"ServiceLate", kInt, 0},      {"EarlyPermFirst", kInt, 0},
     {"EarlyPermLast", kInt, 0},    {"LatePermFirst", kInt, 0},
     {"LatePermLast", kInt, 0},     {"ExtraWorkTotal", kInt, 0},
     {"EW_NormPerm", kInt, 0},      {"EW_NormNotPerm", kInt, 0},
     {"EW_HoliPerm", kInt, 0},      {"EW_HoliNotPerm", kInt, 0},
     {"EW_InMission", kInt, 0},     {"EW_HoliInMission", kInt, 0},
     {"EW_NormInMission", kInt, 0}, {"EW_Special", kInt, 0},
     {"EW_BreakNotPerm", kInt, 0},  {"EW_BreakPerm", kInt, 0},
     {"NonWorkTotal", kInt, 0},     {"LeaveOfAbsNoPay", kInt, 0},
     {"NW_Early_First", kInt, 0},   {"NW_Early_Last", kInt, 0},
     {"NW_Late_First", kInt, 0},    {"NW_Late_Last", kInt, 0},
     {"NW_LeaveNotPerm", kInt, 0},  {"NW_Absent", kInt, 0},
     {"NW_Special", kInt, 0},       {"DailyMorkhasi", kInt, 0},
     {"DailyMamuriat", kInt, 0},    {"DailyAbsence", kInt, 0},
     {"Holiday", kInt, 0},          {"Suspended", kInt, 0},
     {"PresenceInDMor", kInt, 0},   {"PresenceInDMam", kInt, 0},
     {"OrdMor", kInt, 0},           {"ReduceHoliday", kInt, 0},
     {"HolidaysCounted", kInt, 0},  {"KasrMor", kInt, 0},
     {"MealPrice", kInt, 0},        {"ServicePrice", kInt, 0},
     {"PPercent", kInt, 0}}};

// One text for every row of a day, whatever their number.
constexpr StatementText kTimelineRow = {
    "TimelineRowInserted",
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
     {"SuspensionSheetCode", kInt, 0}}};

constexpr StatementText kStatements[] = {
    // ---- base database: what both calculations read ----
    {"WorkGroupSettings", {"Select * from WorkGrp ", "Where Code = :Code"}, {{"Code", kInt, 0}}},
    {"TransportServiceOfTheDay/JobInfo",
     {"Select * from JobInfo ", "Where Perno = :Perno"},
     {{"Perno", kText, 10}}},
    {"LeaveAndMissionTypes/MorType",
     {"Select * From Mortype ", "Where Code = :Code "},
     {{"Code", kInt, 0}}},
    {"LeaveAndMissionTypes/MamType",
     {"Select * From MamType ", "Where Code = :Code "},
     {{"Code", kInt, 0}}},
    {"ShiftRotationOfTheMonth/WorkShifts",
     {"Select * ", "From WorkShifts", "Where Code = :PCode"},
     {{"PCode", kInt, 0}}},
    // ---- base database: the daily engine's ----
    {"TransportServiceOfTheDay/ServCode",
     {"Select * From ServCode ", "Where Code = :Code "},
     {{"Code", kInt, 0}}},
    {"MealWindowsOfTheYear", {"Select * from $Base$..Meals ", "Order By BeginTime"}, {}, 60},
    {"TransportServiceOfTheDay/HalfWays",
     {"Select * from $Year$..SRule,$Base$..HalfWays ", "where SRule.BeginDate <= :CurDate",
      "and  SRule.EndDate >= :CurDate", "and  SRule.Perno = :Perno",
      "and  SRule.HalfWayCode = HalfWays.Code", "and  HalfWays.BeginTime <= :TTime",
      "and  HalfWays.EndTime >= :TTime", "and  HalfWays.IsHoliday = :IsHoliday",
      "Order By HalfWays.Io_Type"},
     {{"CurDate", kText, 5}, {"Perno", kText, 10}, {"TTime", kText, 5}, {"IsHoliday", kInt, 0}},
     60},
    // ---- year database: the daily engine's (the shift rotation the range calculation's too) ----
    {"ShiftGroupCalendarOfAPerson",
     {"Select * From V_GetCalItem ", "Where PerNo = :PPerNo", "And GShCode = :PGShCode",
      "And DBeginDate Between :FromDate And :ToDate"},
     {{"PPerNo", kText, 10}, {"PGShCode", kInt, 0}, {"FromDate", kText, 5}, {"ToDate", kText, 5}}},
    {"WorkRulesOfThePerson",
     {"Select * from [$Year$]..PrjRule Where Perno = :Perno"},
     {{"Perno", kText, 10}}},
    {"EntryExitRecordsAroundTheDay",
     {"Declare @BeginDate as char(5),@EndDate as char(5)", "set @BeginDate = :BDate ",
      "set @EndDate = :EDate ", "Select * from IoInfo",
      "Where Perno = :PerNo and  ((BeginDate Between @BeginDate And @EndDate) Or  "
      "(EndDate Between @BeginDate And @EndDate) Or (BeginDate < @BeginDate and EndDate > "
      "@EndDate) )",
      "Order By BeginDate,BeginTime,EndDate,EndTime "},
     {{"BDate", kText, 5}, {"EDate", kText, 5}, {"PerNo", kText, 10}}},
    kHourlyRows,
    {"DailyPermissionsCoveringTheDay/DayMor",
     {"Select * from DayMor ", "Where Perno = :PerNo"},
     {{"PerNo", kText, 10}}},
    {"DailyPermissionsCoveringTheDay/DayMam",
     {"Select * from DayMam ", "Where Perno = :PerNo"},
     {{"PerNo", kText, 10}}},
    {"DailyPermissionsCoveringTheDay/DayExPrm",
     {"Select * from DayExPrm", "Where Perno = :PerNo"},
     {{"PerNo", kText, 10}}},
    {"DailyPermissionsCoveringTheDay/Susp",
     {"Select * from Susp", "Where Perno = :PerNo"},
     {{"PerNo", kText, 10}}},
    {"DailyPermissionsCoveringTheDay/MamDays",
     {"Select * from MamDays ",
      "Where Perno = :Perno and BeginDate = :CurDate And PageNo = :PageNo"},
     {{"Perno", kText, 10}, {"CurDate", kText, 5}, {"PageNo", kInt, 0}}},
    {"DailyPermissionsCoveringTheDay/Present",
     {"Select * from Present ", "where Perno = :Perno "},
     {{"Perno", kText, 10}}},
    {"CalendarItemOfTheDay",
     {"Select * from CalItem ",
      "Where CalCode = :CalCode and DBeginDate Between :FromDate And :ToDate"},
     {{"CalCode", kInt, 0}, {"FromDate", kText, 5}, {"ToDate", kText, 5}}},
    {"ShiftRotationOfTheMonth/GShItem",
     {"Select * From GShItem ", "Where GShCode = :GShCode And Period = :Period "},
     {{"GShCode", kInt, 0}, {"Period", kInt, 0}}},
    {"ShiftRotationOfTheMonth/PerShifts",
     {"Select * From PerShifts ",
      "Where Perno = :Perno And Period = :Period And GShCode = :GShCode "},
     {{"Perno", kText, 10}, {"Period", kInt, 0}, {"GShCode", kInt, 0}}},
    {"TransportServiceOfTheDay/ServTime",
     {"INSERT INTO ServTime", "           ([PERNO]", "           ,[CALCDATE]",
      "           ,[HALFWAYCODE]", "           ,[HALFWAYPRICE]", "           ,[SERVICEPRICE])",
      "     VALUES", "           ( :PERNO", "           , :CALCDATE", "           , :HALFWAYCODE",
      "           , :HALFWAYPRICE", "           , :SERVICEPRICE) "},
     {{"PERNO", kText, 10},
      {"CALCDATE", kText, 5},
      {"HALFWAYCODE", kInt, 0},
      {"HALFWAYPRICE", kInt, 0},
      {"SERVICEPRICE", kInt, 0}}},
    {"MealsOfTheDay",
     {"Select * From MealTime ",
      "Where Perno = :Perno And CalcDate = :CalcDate And MealCode = :MealCode "},
     {{"Perno", kText, 10}, {"CalcDate", kText, 5}, {"MealCode", kInt, 0}}},
    // The values go in as they are, as a row appended to the query above would write them.
    {"MealsOfADayWhoseOldRowsWereDeleted",
     {"INSERT INTO MealTime ([Perno], [CalcDate], [MealCode], [MealPrice])",
      "VALUES (:Perno, :CalcDate, :MealCode, :MealPrice)"},
     {}},
    kDayResult,
    kTimelineRow,
    {"LeaveDetailOfTheDayAccumulates",
     {"Select * from DayMorDt ",
      "Where Perno = :Perno and DDate = :CurDate and MorkhasiCode = :MorkhasiCode"},
     {{"Perno", kText, 10}, {"CurDate", kText, 5}, {"MorkhasiCode", kInt, 0}}},
    {"MissionDetailOfTheDay",
     {"Select * from DayMamDt ",
      "Where Perno = :Perno and DDate = :CurDate and MamuriatCode = :MamuriatCode"},
     {{"Perno", kText, 10}, {"CurDate", kText, 5}, {"MamuriatCode", kInt, 0}}},
    {"SpecialMinutesOfTheDay",
     {"Select * from DSExtDef ", "Where Perno = :Perno "},
     {{"Perno", kText, 10}}},
    // ---- year database: the range calculation's (months and periods) ----
    {"MonthInputsOfThePerson/WGMahPrd",
     {"Select * from WGMahPrd ", "Where Perno = :Perno "},
     {{"Perno", kText, 10}}},
    // The range's days, leave and mission details and calendar items: one text for every
    // person and range.
    {"MonthHolidaysAndDailyRows",
     {"Select * from DayWork ", "WHERE (PerNo = :PerNo) ", "and (DDate >= :FromDate) ",
      "and (DDate <= :ToDate) "},
     {{"PerNo", kText, 10}, {"FromDate", kText, 5}, {"ToDate", kText, 5}}},
    {"MonthLeaveDetailsIntoMonthTotals/DayMorDT",
     {"Select * from  DayMorDT ", "where (Perno = :Perno)", "and (DDate >= :FromDate) ",
      "and (DDate <= :ToDate)"},
     {{"Perno", kText, 10}, {"FromDate", kText, 5}, {"ToDate", kText, 5}}},
    {"MonthMissionDetailsIntoMonthTotals/DayMamDT",
     {"Select * from DayMamDT ", "where (Perno = :Perno)", "and (DDate >= :FromDate) ",
      "and (DDate <= :ToDate)"},
     {{"Perno", kText, 10}, {"FromDate", kText, 5}, {"ToDate", kText, 5}}},
    // The code is compared as text with the integer column, as the work group stores it.
    {"MonthCalendarItems",
     {"Select * from CalItem ", "where (CalCode = :CalCode) ", "and (DBeginDate >= :FromDate) ",
      "and (DBeginDate <= :ToDate) "},
     {{"CalCode", kText, 10}, {"FromDate", kText, 5}, {"ToDate", kText, 5}}},
    {"MonthInputsOfThePerson/MorLMah",
     {"Select * From MorLMah ", "Where Perno = :Perno "},
     {{"Perno", kText, 10}}},
    {"MonthResultInsertedThenEdited",
     {"Select * from MahWork ", "Where Perno = :Perno And MMonth = :MMonth "},
     {{"Perno", kText, 10}, {"MMonth", kInt, 0}}},
    // The person's stored months of a run, before the run replaces them.
    {"MonthRowsOfARunBeforeTheyAreReplaced",
     {"Select * from MahWork ",
      "Where Perno = :Perno And MMonth >= :FromMonth And MMonth <= :ToMonth "},
     {{"Perno", kText, 10}, {"FromMonth", kInt, 0}, {"ToMonth", kInt, 0}}},
    {"MonthLeaveDetailsIntoMonthTotals/MahMorDt",
     {"Select * from MahMorDt ",
      "Where Perno = :Perno And MMonth = :MMonth And MorkhasiCode = :MorkhasiCode "},
     {{"Perno", kText, 10}, {"MMonth", kInt, 0}, {"MorkhasiCode", kInt, 0}}},
    {"MonthMissionDetailsIntoMonthTotals/MahMamDt",
     {"Select * from MahMamDt  ",
      "Where Perno = :Perno And MMonth = :MMonth And MamuriatCode = :MamuriatCode  "},
     {{"Perno", kText, 10}, {"MMonth", kInt, 0}, {"MamuriatCode", kInt, 0}}},
    // The person's definitions and permitted extra work of every month or period, found by
    // Mah (and Kind) among them.
    {"MonthInputsOfThePerson/MSMorDef",
     {"Select * From MSMorDef ", "Where Perno = :Perno "},
     {{"Perno", kText, 10}}},
    {"MonthInputsOfThePerson/MSExtDef",
     {"Select * From MSExtDef ", "Where Perno = :Perno "},
     {{"Perno", kText, 10}}},
    {"MonthInputsOfThePerson/MahExPrm",
     {"Select * From MahExPrm ", "Where Perno = :Perno "},
     {{"Perno", kText, 10}}},
    {"PeriodResultAndDetails/PrdWork",
     {"Select * From PrdWork ", "Where Period = :Period And Perno = :Perno"},
     {{"Period", kInt, 0}, {"Perno", kText, 10}}},
    {"PeriodResultAndDetails/PrdMorDt",
     {"Select * from PrdMorDt ",
      "Where Perno = :Perno And Period = :Period And MorkhasiCode = :MorkhasiCode "},
     {{"Perno", kText, 10}, {"Period", kInt, 0}, {"MorkhasiCode", kInt, 0}}},
    {"PeriodResultAndDetails/PrdMamDt",
     {"Select * from PrdMamDt ",
      "Where Perno = :Perno And Period = :Period And MamuriatCode = :MamuriatCode  "},
     {{"Perno", kText, 10}, {"Period", kInt, 0}, {"MamuriatCode", kInt, 0}}},
    {"PeriodResultAndDetails/MorLPrd",
     {"Select * From MorLPrd ", "Where Perno = :Perno "},
     {{"Perno", kText, 10}}},
    // The rule of one day, from the year database of that day ($Year$).
    {"WorkRuleOfTheDay",
     {"Select * from [$Year$]..PrjRule Where Perno = :Perno and :CurDate Between BeginDate And "
      "EndDate"},
     {{"Perno", kText, 10}, {"CurDate", kText, 5}}},
    // Education leave of a range's part in one year database ($Year$), on the base
    // connection: its minutes, then those of whole-day leaves and their days.
    {"PeriodEducationLeave/Sum",
     {" Select Sum(Amount) As SumAmount ", " From $Year$..DayMorDt ",
      " Inner Join $Base$..MorType On (MorkhasiCode = Code) ", " Where PerNo = :PerNo ",
      " And DDate >= :FromDate ", " And DDate <= :ToDate ", " And Education = 1 "},
     {{"PerNo", kText, 10}, {"FromDate", kText, 5}, {"ToDate", kText, 5}}},
    {"PeriodEducationLeave/DailySum",
     {" Select Sum(Amount) As DailySumAmount, Count(*) As CountDays ", " From $Year$..DayMorDt ",
      " Inner Join $Base$..MorType On (MorkhasiCode = Code) ", " Where PerNo = :PerNo ",
      " And DDate >= :FromDate ", " And DDate <= :ToDate ", " And Education = 1 ",
      " And IsDaily = 1 "},
     {{"PerNo", kText, 10}, {"FromDate", kText, 5}, {"ToDate", kText, 5}}},
};

}  // namespace

std::span<const StatementText> Statements() { return kStatements; }

const StatementText& StatementNamed(std::string_view name) {
  for (const StatementText& s : kStatements) {
    if (name == s.name) return s;
  }
  throw std::logic_error("no statement named " + std::string(name));
}

std::vector<std::string> StatementLines(const StatementText& statement,
                                        const std::vector<TextFill>& fills) {
  std::vector<std::string> lines(statement.lines.begin(), statement.lines.end());
  for (std::string& line : lines) {
    for (const TextFill& fill : fills) {
      for (size_t at = line.find(fill.mark); at != std::string::npos;
           at = line.find(fill.mark, at + fill.value.size())) {
        line.replace(at, fill.mark.size(), fill.value);
      }
    }
  }
  return lines;
}

void Prepare(db::Dataset& query, std::string_view name, const std::vector<TextFill>& fills) {
  const StatementText& statement = StatementNamed(name);
  query.SetSQL(StatementLines(statement, fills));
  for (const ParamDecl& p : statement.params) {
    db::Param& param = query.ParamByName(p.name);
    param.type = p.type;
    param.size = p.size;
  }
  query.SetCommandTimeout(statement.timeout_seconds);
}

}  // namespace zel::engine
