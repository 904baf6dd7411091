// The daily attendance engine: the nine event handlers of the calculation data module that
// turn one person's day into stored results (the day's shape, the presences, their meaning,
// the timeline rows and day totals, the DayWork row, and the error report of a failed day),
// with the prepared queries they use. What a query returns for a person is kept for the
// person's consecutive days (the worker calculates one person), so a day costs few statements.
// Owned by one TdmCalculate and used only by that module's worker thread; the presence
// assembly alone takes the process-wide CalcCriticalSection.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>

#include "db/client.h"
#include "engine/base_tables.h"
#include "engine/calc.h"
#include "engine/daily_kept_rows.h"
#include "engine/daily_working_days.h"
#include "engine/dm_calculate.h"

namespace zel::engine {

class DailyEngine {
 public:
  // Prepares every query of the daily calculation on the module's two connections, which
  // must be open (TdmCalculate::InitialValues). Raises what the connections raise.
  explicit DailyEngine(TdmCalculate& module);
  DailyEngine(const DailyEngine&) = delete;
  DailyEngine& operator=(const DailyEngine&) = delete;

  // Forgets the rows kept for the person calculated so far (the module goes on with another
  // person); the base tables read stay, as they hold for every person.
  void ForgetPerson();

  // Binds the nine events of the manager to the handlers below; Unbind clears them.
  void Bind(TAttendanceCalcManager& manager);
  static void Unbind(TAttendanceCalcManager& manager);

  // OnInitialize: starts the module's day state afresh (settings, result record, flags and
  // the engine's own per-day values), opens the settings, clears the error code.
  void AttendanceCalcManagerInitialize(TAttendanceCalcManager& Sender);
  // OnGetWorkingDays: the person's work group and its settings, the shape of the day and of
  // its neighbours, the holiday flag, the day length. Aborts the day with codes 12, 13, 14.
  void AttendanceCalcManagerGetWorkingDays(TAttendanceCalcManager& Sender);
  // OnAddPresences: clock intervals, presence marks, leaves, missions, extra-work and
  // service-late permissions and suspensions around the day, then the floating start. Runs
  // under CalcCriticalSection. Aborts the day with code 16.
  void AttendanceCalcManagerAddPresences(TAttendanceCalcManager& Sender);
  // OnBeforeValidate: rejects a working time that begins before the previous day ended (30).
  void AttendanceCalcManagerBeforeValidate(TAttendanceCalcManager& Sender);
  // OnValidatePresence: one classified presence for a group of presences with identical
  // bounds; conflicting sources abort the day. Returns ReturnPresence.DoProcess.
  bool AttendanceCalcManagerValidatePresence(TAttendanceCalcManager& Sender,
                                             std::span<const TPresence> Presences,
                                             TPresence& ReturnPresence);
  // OnBeforeProcess: late arrival, early departure and unpermitted absence with the group's
  // tolerances, and the whole-day absence.
  void AttendanceCalcManagerBeforeProcess(TAttendanceCalcManager& Sender);
  // OnProcessPresence: one TimeTab row, the leave and mission detail rows, the day totals.
  void AttendanceCalcManagerProcessPresence(TAttendanceCalcManager& Sender, TPresence Presence);
  // OnFinalize: compensation, meals, transport, daily leave and mission, special minutes,
  // minimum extra work, the sum of absences, and the DayWork row.
  void AttendanceCalcManagerFinalize(TAttendanceCalcManager& Sender);
  // OnHandleError: the CSSLog row of a failed day.
  void AttendanceCalcManagerHandleError(TAttendanceCalcManager& Sender);

 private:
  // ---- working days ----
  // The person's PrjRule row of a date: whether there is one, its trimmed WorkGroup and its
  // Section. Read once per person and date.
  struct RuleOfDay {
    bool found = false;
    std::string work_group;
    std::string section;
  };
  RuleOfDay RuleOfDate(const TAttendanceCalcManager& Sender, const std::string& date);
  // The trimmed CALCODE of the work group valid on the date, "" when there is none.
  std::string CalendarCodeOfDate(const TAttendanceCalcManager& Sender, const std::string& date);
  void LoadExtraData(TAttendanceCalcManager& Sender, const WorkGroupRow& group,
                     const std::string& section);
  // The calendar item or shift of a date, false when a row is missing or the shift code is
  // below 1. Read once per calendar (or person and group shift) and date.
  bool ReadDayItem(const TAttendanceCalcManager& Sender, const std::string& cal, const TDate& date,
                   DayShapeItem& item);
  bool HasWorkingDay(const TAttendanceCalcManager& Sender, const std::string& cal,
                     const TDate& date);
  // The shape of a date; sets ErrorCode 14 and aborts when there is none.
  DayShape ReadDayShape(TAttendanceCalcManager& Sender, const std::string& cal, const TDate& date,
                        DayShapeItem* item_out = nullptr);
  [[noreturn]] void Abort(TAttendanceCalcManager& Sender, DayError code);

  // ---- presence assembly ----
  void AddPresencesLocked(TAttendanceCalcManager& Sender);
  void AddClockIntervals(TAttendanceCalcManager& Sender);
  void AddHourlyRecords(TAttendanceCalcManager& Sender, db::Dataset& query, KeptRows& rows,
                        const char* table, SourceType source);
  void AddDailyLeave(TAttendanceCalcManager& Sender);
  void AddDailyMission(TAttendanceCalcManager& Sender);
  void AddExtraWorkPermissions(TAttendanceCalcManager& Sender);
  void AddSuspension(TAttendanceCalcManager& Sender);
  void ApplyFloatingStart(TAttendanceCalcManager& Sender);
  // The leave (2) or mission (3) data text of row r, with its type looked up.
  std::string PermissionText(const std::string& prefix, const KeptRows& rows, int r,
                             SourceType source);
  // CSSLog row for a permission row whose date or time texts are malformed; once per person,
  // table and sheet.
  void ReportMalformedRow(TAttendanceCalcManager& Sender, const char* table,
                          const std::string& page_no);
  // True when a date ("MM/DD") or a non-empty time ("HH:NN") of a row of the table has digits
  // out of range; the row is then reported in CSSLog (once per person, table and value) and
  // is to be skipped.
  bool OutOfRangeRow(const TAttendanceCalcManager& Sender, const char* table, const std::string& bd,
                     const std::string& bt, const std::string& ed, const std::string& et);
  // The first kept row whose BeginDate..EndDate covers the date, or -1.
  int FirstRowCovering(const KeptRows& rows, const std::string& date) const;
  // Keeps the rows of the person's query (its parameters set) unless they are kept already;
  // KeepWindowRows keeps them for the stretch of days around the calculated day
  // (the day state's window_from .. window_to), bound to the two named parameters.
  void KeepPersonRows(KeptRows& rows, db::Dataset& query, const std::string& person);
  void KeepWindowRows(KeptRows& rows, db::Dataset& query, const std::string& person,
                      const char* from_param = "BDate", const char* to_param = "EDate");
  int Rel(const TCalcDateTime& point) const;

  // ---- validation ----
  // HolidaysCounted of the leave (2) or mission (3) type named by a data text; 0 when the
  // type is not found.
  int HolidaysCountedOf(const Variant& data, SourceType source);

  // ---- processing and results ----
  // Writes the day's TimeTab rows not yet written: together, or one by one (logging the rows
  // that fail) when that fails.
  void FlushTimeTab(const TAttendanceCalcManager& Sender);
  void UpdateDetail(db::Dataset& detail, const char* code_column, int code, int minutes);
  int NightMinutesOf(const TPresence& presence) const;
  void GrantMeals(TAttendanceCalcManager& Sender);
  void GrantTransport(TAttendanceCalcManager& Sender);
  void InsertServTime(int half_way_code, int64_t half_way_price, int64_t service_price);
  void InsertDayWork(TAttendanceCalcManager& Sender);
  void LogToThreadFile(const TAttendanceCalcManager& Sender, const std::string& text) const;

  TdmCalculate& dm_;
  DayState& day_;  // the module's state of the day being calculated
  int year_ = 0;   // CurrentYear

  // The queries and the name of each one's text (see engine/statements.h).
  struct PreparedQuery {
    db::Dataset DailyEngine::*query;
    const char* statement;
  };
  static const PreparedQuery kPreparedQueries[];

  // ---- base tables and prepared queries, base connection ----
  BaseTables base_;  // work groups, types, shifts, employment, services
  db::Dataset MealsQuery;
  db::Dataset HalfWaysQuery;
  // ---- prepared queries, year connection ----
  db::Dataset QCGShCalItems;
  db::Dataset AdoQCPrjRule;
  db::Dataset AdoQCIOInfo;
  db::Dataset MorkhasiQuery;
  db::Dataset MissionQuery;
  db::Dataset ServLateQuery;
  db::Dataset AdoQCDDailyMorkhasi;
  db::Dataset AdoQCDDailyMission;
  db::Dataset AdoQCDailyExtraPerm;
  db::Dataset AdoQCDSuspension;
  db::Dataset AdoQCDailyMissionDays;
  db::Dataset AdoQCCalendarItem;
  db::Dataset AdoQCGShItem;
  db::Dataset AdoQCPerShifts;
  db::Dataset AdoQCServiceTime;
  db::Dataset AdoQCMealTime;
  db::Dataset InsertIntoMealTime;
  db::Dataset QInsertIntoDayWork;
  db::Dataset QInsertIntoTimeTab;
  db::Dataset QGetPresent;
  db::Dataset AdoQCDailyMorkhasiDetail;
  db::Dataset AdoQCDailyMamuriatDetail;
  db::Dataset AdoQCDailySpecExtDef;

  // ---- rows kept for the consecutive days of the person (see KeptRows) ----
  KeptRows prj_rules_, io_rows_, morkhasi_rows_, mission_rows_, serv_late_rows_;
  KeptRows day_mor_rows_, day_mam_rows_, extra_perm_rows_, susp_rows_, present_rows_;
  KeptRows spec_ext_rows_, meal_rows_;
  std::map<std::string, KeptRows> day_item_rows_;  // calendars and shift rows, by key
  std::set<std::string> reported_rows_;            // malformed rows already reported

  // What the working days read, kept for the module's life (its worker calculates one
  // person's consecutive days, each reading the day before and after as well).
  struct CachedItem {
    bool found = false;
    DayShapeItem item;
  };
  std::map<std::string, CachedItem> items_;  // by calendar or shift "|" date
  // The meals written for the day whose writes are open (DayWritesSerial meals_serial_):
  // its old MealTime rows were deleted when they opened, so these are all it has.
  int meals_serial_ = -1;
  std::set<int> meals_written_;
  // Likewise the leave and mission detail rows written for that day: amount by table and
  // code (the day's writes wait until it ends, so the table cannot be asked).
  int details_serial_ = -1;
  std::map<std::pair<std::string, int>, int64_t> details_written_;
};

}  // namespace zel::engine
