// The daily engine's queries, prepared once per data module, and the binding of its events.
#include "engine/daily_engine.h"

#include <utility>
#include <vector>

#include "engine/daily_text.h"
#include "engine/day_trace.h"
#include "engine/dm_calculate.h"
#include "engine/statements.h"

namespace zel::engine {

const DailyEngine::PreparedQuery DailyEngine::kPreparedQueries[] = {
    // Base database.
    {&DailyEngine::MealsQuery, "MealWindowsOfTheYear"},
    {&DailyEngine::HalfWaysQuery, "TransportServiceOfTheDay/HalfWays"},
    // Year database.
    {&DailyEngine::QCGShCalItems, "ShiftGroupCalendarOfAPerson"},
    {&DailyEngine::AdoQCPrjRule, "WorkRulesOfThePerson"},
    {&DailyEngine::AdoQCIOInfo, "EntryExitRecordsAroundTheDay"},
    {&DailyEngine::AdoQCDDailyMorkhasi, "DailyPermissionsCoveringTheDay/DayMor"},
    {&DailyEngine::AdoQCDDailyMission, "DailyPermissionsCoveringTheDay/DayMam"},
    {&DailyEngine::AdoQCDailyExtraPerm, "DailyPermissionsCoveringTheDay/DayExPrm"},
    {&DailyEngine::AdoQCDSuspension, "DailyPermissionsCoveringTheDay/Susp"},
    {&DailyEngine::AdoQCDailyMissionDays, "DailyPermissionsCoveringTheDay/MamDays"},
    {&DailyEngine::AdoQCCalendarItem, "CalendarItemOfTheDay"},
    {&DailyEngine::AdoQCGShItem, "ShiftRotationOfTheMonth/GShItem"},
    {&DailyEngine::AdoQCPerShifts, "ShiftRotationOfTheMonth/PerShifts"},
    {&DailyEngine::AdoQCServiceTime, "TransportServiceOfTheDay/ServTime"},
    {&DailyEngine::AdoQCMealTime, "MealsOfTheDay"},
    {&DailyEngine::InsertIntoMealTime, "MealsOfADayWhoseOldRowsWereDeleted"},
    {&DailyEngine::QInsertIntoDayWork, "DayResultInserted"},
    {&DailyEngine::QInsertIntoTimeTab, "TimelineRowInserted"},
    {&DailyEngine::QGetPresent, "DailyPermissionsCoveringTheDay/Present"},
    {&DailyEngine::AdoQCDailyMorkhasiDetail, "LeaveDetailOfTheDayAccumulates"},
    {&DailyEngine::AdoQCDailyMamuriatDetail, "MissionDetailOfTheDay"},
    {&DailyEngine::AdoQCDailySpecExtDef, "SpecialMinutesOfTheDay"},
};

DailyEngine::DailyEngine(TdmCalculate& module)
    : dm_(module),
      day_(module.CurrentDay),
      year_(StrToInt(module.CurrentYear)),
      base_(module.ADOConnectionDbBase()),
      MealsQuery(module.ADOConnectionDbBase()),
      HalfWaysQuery(module.ADOConnectionDbBase()),
      QCGShCalItems(module.ADOConnectionTimeAttendance()),
      AdoQCPrjRule(module.ADOConnectionTimeAttendance()),
      AdoQCIOInfo(module.ADOConnectionTimeAttendance()),
      MorkhasiQuery(module.ADOConnectionTimeAttendance()),
      MissionQuery(module.ADOConnectionTimeAttendance()),
      ServLateQuery(module.ADOConnectionTimeAttendance()),
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
      InsertIntoMealTime(module.ADOConnectionTimeAttendance()),
      QInsertIntoDayWork(module.ADOConnectionTimeAttendance()),
      QInsertIntoTimeTab(module.ADOConnectionTimeAttendance()),
      QGetPresent(module.ADOConnectionTimeAttendance()),
      AdoQCDailyMorkhasiDetail(module.ADOConnectionTimeAttendance()),
      AdoQCDailyMamuriatDetail(module.ADOConnectionTimeAttendance()),
      AdoQCDailySpecExtDef(module.ADOConnectionTimeAttendance()) {
  const std::vector<TextFill> databases = {{"$Base$", module.DataBaseName},
                                           {"$Year$", module.DataBaseNameYear}};
  for (const PreparedQuery& p : kPreparedQueries) Prepare(this->*p.query, p.statement, databases);
  for (auto [query, table] :
       {std::pair{&MorkhasiQuery, "Morkhasi"}, std::pair{&MissionQuery, "Mission"},
        std::pair{&ServLateQuery, "ServLate"}}) {
    Prepare(*query, "HourlyPermissionsAroundTheDay", {{"$Table$", table}});
  }
}

void DailyEngine::Bind(TAttendanceCalcManager& manager) {
  // The observer of the module (TdmCalculate::Trace), when one is set, hears of the
  // day's shape, its records and its stretches between the steps.
  manager.OnInitialize = [this](TAttendanceCalcManager& s) { AttendanceCalcManagerInitialize(s); };
  manager.OnGetWorkingDays = [this](TAttendanceCalcManager& s) {
    AttendanceCalcManagerGetWorkingDays(s);
    if (DayTrace* trace = dm_.Trace()) {
      const TExtraData& x = day_.ExtraData;
      const std::string shape =
          x.WorkGroupGShCode != 0       ? "shift group " + std::to_string(x.WorkGroupGShCode)
          : !x.WorkGroupCALCODE.empty() ? "calendar " + x.WorkGroupCALCODE
                                        : "no calendar: the whole day is working time";
      trace->OnDayShape(s, x, shape);
    }
  };
  manager.OnAddPresences = [this](TAttendanceCalcManager& s) {
    AttendanceCalcManagerAddPresences(s);
    if (DayTrace* trace = dm_.Trace()) trace->Sources(s);
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
    if (DayTrace* trace = dm_.Trace()) trace->Stretches(s);
  };
  manager.OnProcessPresence = [this](TAttendanceCalcManager& s, TPresence presence) {
    AttendanceCalcManagerProcessPresence(s, std::move(presence));
  };
  manager.OnFinalize = [this](TAttendanceCalcManager& s) { AttendanceCalcManagerFinalize(s); };
  manager.OnHandleError = [this](TAttendanceCalcManager& s) {
    if (DayTrace* trace = dm_.Trace()) trace->Failed(DayErrorFrom(s.ErrorCode()), s.ErrorMsg());
    AttendanceCalcManagerHandleError(s);
  };
}

void DailyEngine::ForgetPerson() {
  for (KeptRows* rows : {&prj_rules_, &io_rows_, &morkhasi_rows_, &mission_rows_, &serv_late_rows_,
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

void DailyEngine::Unbind(TAttendanceCalcManager& manager) {
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

int DailyEngine::Rel(const TCalcDateTime& point) const {
  return MinutesBetween(day_.reference, point);
}

void DailyEngine::KeepPersonRows(KeptRows& rows, db::Dataset& query, const std::string& person) {
  if (rows.Holds(person, "", "")) return;
  query.Open();
  rows.Keep(query);
  rows.SetKey(person, "", "");
  query.Close();
}

void DailyEngine::KeepWindowRows(KeptRows& rows, db::Dataset& query, const std::string& person,
                                 const char* from_param, const char* to_param) {
  if (rows.Holds(person, day_.yesterday_text, day_.tomorrow_text)) return;
  query.SetParam(from_param, day_.window_from);
  query.SetParam(to_param, day_.window_to);
  query.Open();
  rows.Keep(query);
  rows.SetKey(person, day_.window_from, day_.window_to);
  query.Close();
}

void DailyEngine::LogToThreadFile(const TAttendanceCalcManager& Sender,
                                  const std::string& text) const {
  dm_.MyZelUtils.LogText(text, "Thread" + TrimText(Sender.PersonID()), true, false);
}

}  // namespace zel::engine
