// The calculation data module: one per calculation worker, holding the worker's two
// database connections (base and year), the settings and person queries, the attendance
// calculation manager whose events the daily handlers bind, the state of the day being
// calculated and the writer of CSSLog rows. Also the process-wide lock of the presence
// assembly.
// A module is created and used by one worker thread; only CalcCriticalSection is shared.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "dates/zel_calc_utils.h"
#include "db/client.h"
#include "engine/calc.h"
#include "engine/daily_day_state.h"
#include "engine/day_writes.h"

namespace zel::engine {

class DailyEngine;
class DayTrace;

// The one lock of the process that serialises the presence assembly of all daily workers.
std::mutex& CalcCriticalSection();

class TdmCalculate {
 public:
  // data_dir: the embedded engine's data folder; odbc_driver: the ODBC driver for SQL
  // Server (empty = the default). Connects to nothing until InitialValues.
  explicit TdmCalculate(std::string data_dir = {}, std::string odbc_driver = {});
  TdmCalculate(const TdmCalculate&) = delete;
  TdmCalculate& operator=(const TdmCalculate&) = delete;
  ~TdmCalculate();

  // Stores the year and the login, builds both connection strings and (re)opens the base
  // connection, then the year connection. Raises zel::db::DbError when a connection
  // fails, std::invalid_argument when the year is not a number.
  void InitialValues(const std::string& newCurrentYear, const std::string& newSqlUserName,
                     const std::string& newSqlUserPassword, const std::string& newDataBaseName,
                     const std::string& newSqlServerName, int newScheduleId);

  // "Provider=SQLOLEDB.1;...;Initial Catalog=<catalog>;Data Source=<server>" where the
  // catalog is the database name, followed by "_" + year unless the year is blank.
  static std::string BuildConnectionString(const std::string& ADataBaseName,
                                           const std::string& ASqlServerName,
                                           const std::string& ASqlUserName,
                                           const std::string& ASqlUserPassword,
                                           const std::string& AYear);
  // The same with the module's stored login and database name.
  std::string BuildConnectionString(const std::string& AYear) const;
  // The database of a year: DataBaseName + "_" + year.
  std::string DataBaseNameOfYear(int Year_YYYY) const;
  // Days of a month of CurrentYear: 31 for months 1-6, 30 for 7-11, 29 or (leap) 30 for 12.
  int DaysInMonth(int Month) const;

  // One CSSLog row through MyQHlp (person number and comment trimmed, the comment cut to
  // the column's 255 characters, today's Jalali date and the time "HH:NN"). A failure is
  // written to the log file "Thread" + person; it never raises. Nothing is written once
  // the module's worker has been given up.
  void InsertCalcLogTable(int AScheduleId, const std::string& PerNo, const std::string& LogComment);

  // The worker's stop token: once a stop is requested the module's worker has been given
  // up; from then on every statement on the module's connections raises the silent abort
  // (EAbort) and no CSSLog row is written.
  void SetStopToken(std::stop_token token) { stop_token_ = std::move(token); }
  bool Abandoned() const { return stop_token_.stop_requested(); }

  void SetEnableLog(bool Value) { FEnableLog = Value; }

  // Makes a connected module, used before for another person, ready for the next one: what
  // the daily engine kept of the earlier person is forgotten, while the connections, their
  // prepared statements and what holds for every person (work groups) stay. Worker thread.
  void StartPerson();

  // The observer told of every decision of the daily engine; nullptr (the default) tells
  // no one. The module does not own it.
  void SetDayTrace(DayTrace* trace) { day_trace_ = trace; }
  DayTrace* Trace() const { return day_trace_; }
  // False: the daily engine calculates as always but writes no result row and no CSSLog row
  // (its reports go to the observer); used to explain a day without touching its results.
  void SetWriteResults(bool write) { write_results_ = write; }
  bool WriteResults() const { return write_results_; }
  // ---- a day is written whole or not at all ----
  // StartDay begins a calculated day (`label` names it in the failures WriteDays returns):
  // from here until EndDay the day's CSSLog rows are kept back and the statements failing on
  // the module's connections are counted. BeginDayWrites opens the day's writes (once a
  // day; the caller then deletes the day's old rows): from there on every statement of the
  // year connection that changes rows (its text begins with INSERT, UPDATE or DELETE) waits
  // in the module instead of running, and a day's waiting statements later run together in
  // one transaction. So the database's single writer is held for the writing alone, never
  // while a day is calculated; reads inside the day see the rows as they were before it (the
  // daily engine keeps in memory what it wrote itself during the day).
  // EndDay ends the day. A day whose calculation failed (a statement of the day failed, or
  // the worker was given up) has its waiting statements dropped and stays as it was. A
  // calculated day is written at once, or, when days are grouped (GroupDays), waits with the
  // others for WriteDays. Returns the failure of the day (empty when it was calculated and,
  // ungrouped, written). Worker thread only.
  struct DayFailures {
    int count = 0;
    std::string first;  // the first failing statement's message
    void Note(const std::string& message);
  };
  void StartDay(std::string label = {});
  void BeginDayWrites();
  bool DayWritesOpen() const { return day_writes_.IsOpen(); }
  // Counts the days whose writes were opened: tells the writes of one day from the next.
  int DayWritesSerial() const { return day_writes_.Serial(); }
  std::optional<std::string> EndDay();
  // Grouped, calculated days wait for WriteDays, which writes them in one transaction (one
  // commit for many days, each day still whole: when the group fails, every day is tried
  // again in a transaction of its own).
  void GroupDays(bool grouped) { group_days_ = grouped; }
  int DaysWaiting() const { return day_writes_.Waiting(); }
  using DayNotWritten = engine::DayNotWritten;
  // Writes the waiting days, then the CSSLog rows kept back; returns the days that could not
  // be written (each left as it was). Never raises. Worker thread only.
  std::vector<DayNotWritten> WriteDays();

  // The pass whose days are written: a rewritten day whose stored DayWork row differs from
  // the new one has its changed columns recorded in the journal of changes under this pass
  // (after the day was written; a failing journal write is logged and the day stays written).
  // A row that disappears has each column that held a value (not zero or blank) recorded as
  // now NULL; a row that appears where the day was calculated before (it had other rows)
  // each column it writes with a value as NULL before; a first calculation records nothing. Without
  // a pass (no date) nothing is recorded.
  void SetPass(db::CalcPass pass) { pass_ = std::move(pass); }

  // Connections and datasets; each raises zel::db::DbError before InitialValues.
  db::Connection& ADOConnectionDbBase();
  db::Connection& ADOConnectionTimeAttendance();
  db::Dataset& QSystem();   // "select * from system"
  db::Dataset& taSystem();  // table SYSTEM
  db::Dataset& QPerson();   // every person with FullName, ordered by number
  // Whether the person table has a row: read through QPerson once per connected module (a
  // module handed on from person to person keeps the answer), the rows not kept.
  bool AnyPerson();
  db::Dataset& taSemaphore();  // table Semaphor
  db::Dataset& MyQHlp();       // the parameterised CSSLog insert

  TAttendanceCalcManager& AttendanceCalcManager() { return FAttendanceCalcManager; }
  // The daily handlers bound to the manager's events; raises zel::db::DbError before
  // InitialValues.
  DailyEngine& Engine();

  // ---- module state ----
  // The day being calculated (its settings, result record and flags), started afresh by the
  // daily engine when a day begins.
  DayState CurrentDay;
  dates::TZelCalcUtils MyZelUtils{0};
  std::string CurrentYear;
  std::string SqlUserName;
  std::string SqlUserPassword;
  std::string DataBaseName;
  std::string SqlServerName;
  std::string PreviousYear;
  std::string DataBaseNameYear;
  int ScheduleId = 0;
  std::string DbBaseInfoConnectionString;
  std::string DbTimeAttendanceConnectionString;
  bool FEnableLog = false;

 private:
  std::unique_ptr<db::Connection> Open(const std::string& connection_string, bool holds_day_writes);
  void CloseConnections();
  // Writes one CSSLog row now (InsertCalcLogTable's writing part).
  void WriteCalcLogRow(int AScheduleId, const std::string& PerNo, const std::string& LogComment);

  std::string data_dir_;
  std::string odbc_driver_;
  std::stop_token stop_token_;
  DayTrace* day_trace_ = nullptr;
  bool write_results_ = true;
  // The day in progress (worker thread only).
  struct KeptLogRow {
    int schedule_id;
    std::string perno;
    std::string comment;
  };
  bool in_day_ = false;
  bool group_days_ = false;
  std::string day_label_;
  // The writes of the days calculated and not yet written.
  DayWriteBatch day_writes_;
  // Records the changes of a written day in the journal; never raises.
  void RecordChanges(const WrittenDayChanges& day);
  db::CalcPass pass_;
  std::optional<bool> any_person_;
  mutable DayFailures day_failures_;  // counted by the module's connections
  std::vector<KeptLogRow> kept_log_rows_;
  TAttendanceCalcManager FAttendanceCalcManager;
  std::unique_ptr<db::Connection> base_;
  std::unique_ptr<db::Connection> year_;
  // Datasets on the two connections, created with them.
  std::unique_ptr<db::Dataset> q_system_;
  std::unique_ptr<db::Dataset> ta_system_;
  std::unique_ptr<db::Dataset> q_person_;
  std::unique_ptr<db::Dataset> ta_semaphore_;
  std::unique_ptr<db::Dataset> my_q_hlp_;
  // The daily handlers and their queries, on the two connections.
  std::unique_ptr<DailyEngine> daily_;
};

}  // namespace zel::engine
