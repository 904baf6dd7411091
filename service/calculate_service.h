// TZELKLCalculateService: the calculation service itself. It reads Korlan.Ini, prepares the
// base database at start (CSSLog identity, current year, the UsersLog log-in row, the view
// V_GetCalItem), runs the schedule pass TDBCheckTimer every 60 seconds after the previous
// pass ended, starts the daily, monthly and periodic runs of due CSSchedule entries and
// writes the log-out at stop.
// One object per process, used by one thread (the program's main thread): start, the
// timer loop, every pass and stop run there; RequestStop (platform.h) may come from any.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "db/client.h"
#include "management/calc_hold.h"
#include "management/calculator_management.h"
#include "service/config.h"
#include "service/schedule.h"

namespace zel::service {

inline constexpr const char* kServiceName = "ZELKLCalculateService";
inline constexpr const char* kServiceDisplayName = "ZELKLCalcService";

// The semaphore code table, "Name=Code" in the product's order ("EnterSystem=1" ...
// "CONFIRM=20").
std::vector<std::string> SemaphoreCodeTable();
// The code of a name in such a list: one rule for the service and the workers.
using management::SemaphoreCode;

// The machine part of a SQL Server name: the text before the first "\", else the whole.
std::string ServerMachineNameOf(const std::string& server_name);

// "Version <v> Publish Date : 2020/10/24 Provides calculate service for ..." of this build.
std::string ServiceDescriptionText();

// Connection settings of the base database a configuration names: SERVERNAME empty is the
// embedded engine with the data folder <home>/Data.
db::ConnectionSettings BaseConnectionSettings(const ServiceConfig& config, const std::string& home);

// The kinds of calculation run.
using management::CalcKind;

class TZELKLCalculateService {
 public:
  // home: the folder of Korlan.Ini, Log.inf, Logs/ and Data/ (the embedded server).
  explicit TZELKLCalculateService(std::string home);
  ~TZELKLCalculateService();
  TZELKLCalculateService(const TZELKLCalculateService&) = delete;
  TZELKLCalculateService& operator=(const TZELKLCalculateService&) = delete;

  // --- lifecycle ---
  // Reads the configuration, prepares the base database, writes the log-in row, creates
  // the view and fills the semaphore table. Never refuses: every failure is a log line.
  void ServiceStart(bool& Started);
  // Releases a calculation hold left behind, then runs the timer loop until a stop is
  // requested (RequestStop, SIGTERM, SIGINT). The first pass comes first_pass_after the
  // start of the loop, every later one 60 s after the previous pass ended.
  void ServiceExecute(std::chrono::milliseconds first_pass_after = std::chrono::seconds(60));
  // Writes the log-out time into the log-in row and the stop lines.
  void ServiceStop(bool& Stopped);
  // After install: the description and the start of the installed service (systemd).
  // Returns true when the service runs afterwards.
  bool ServiceAfterInstall();
  void ServiceAfterUninstall();

  // --- start-up pieces (public for the command line and tests) ---
  // Reads Korlan.Ini into the service's settings (writing EnableLog=F when missing).
  void LoadConfiguration();
  void FillSemaphoreList();
  // Releases the "CALC" hold this computer left behind when its process is gone (Amount - 1,
  // HostName NULL), with a log line.
  void ResetSemaphoreAfterCalc();
  // Runs `work` while holding the calculation; false (work not run) when another program
  // holds it. Raises zel::db::DbError when the hold cannot be read or taken.
  bool WithCalcHold(const std::function<void()>& work);
  // (Re)creates the view V_GetCalItem in the year database of `year`. Raises when the
  // year database cannot be used; errors of the DROP and CREATE statements are ignored.
  void CreateCalItemView(const std::string& year);
  // Reads the server and client addresses of the connection; "<Error>" three times when
  // the query fails, "<local machine>" for a local connection.
  static void GetServerIP(db::Connection& connection, std::string& ServerIP,
                          std::string& ServerPort, std::string& ClientIP);

  // --- the schedule pass ---
  // One pass over CSSchedule. Does nothing while a pass runs or when
  // System.KorlanCalcOrService is 3.
  void TDBCheckTimer();
  // System.KorlanCalcOrService as 0, 3, 4 or 10 (any other value and a failed read: 10).
  int GetCalcOrServiceState();
  // Re-read the entry and decide; false (and a log line) on any error.
  bool MustRunIt(int ScheduleId);
  bool IsInTime(int ScheduleId);
  // Refills CSSPerTemp: the persons of the entry in CSSPersons, or every person. Raises.
  void FillPersonTable(int ScheduleId);

  // --- run starters ---
  void CalcDaily(const std::string& TempFileName, const std::string& FDate,
                 const std::string& TDate, int ScheduleId);
  void CalcMonthly(const std::string& TempFileName, const std::string& FMah,
                   const std::string& TMah, int ScheduleId);
  void CalcPeriodic(const std::string& TempFileName, const std::string& FPeriod,
                    const std::string& TPeriod, int ScheduleId);
  // The common run: creates the calculator management for the range and CurrentYear, runs
  // it, and writes the CSSLog row with start and end times (also when the run failed).
  // `prepare` runs once the run holds the calculation, before the person table is read
  // (default for a schedule entry's run: FillPersonTable of the entry). Errors of the run
  // reach the caller.
  management::RunResult CalcRun(CalcKind kind, const std::string& TempFileName,
                                const std::string& from, const std::string& to, int ScheduleId,
                                management::ProgressCallback progress = nullptr,
                                std::function<void()> prepare = nullptr);
  // --- the record intake ---
  // The steps of the intake, in the order a schedule entry runs them: labelling of the
  // punches, the service-late, leave and mission permissions, and the pairing of the
  // labelled punches into entry/exit records (every one, or only the certain ones).
  enum class IntakeStep { kClock, kServiceLate, kLeave, kMission, kIo, kIoCertainOnly };
  // The step's name as the operator knows it ("clock", "service-late", "leave", "mission",
  // "io").
  static const char* IntakeStepName(IntakeStep step);
  // Whose records an intake works on: the persons of a schedule entry (CSSPersons, else
  // everyone of Person), every person of Person, or every record whatever its person (the
  // person table left empty).
  enum class IntakePersons { kScheduleEntry, kEveryPerson, kEveryone };
  struct IntakeStepResult {
    IntakeStep step = IntakeStep::kClock;
    bool done = false;                 // the step ran to its end
    bool stopped = false;              // a stop request ended it early; what it finished stays
    std::string error;                 // the failure, when neither done nor stopped
    management::ClockRecResult clock;  // kClock
    management::TransferRunResult transfer;  // the other steps
    // Rows the step skipped, kept in their tables and reported in CSSLog.
    int Skipped() const;
  };
  struct IntakeResult {
    bool held = false;     // false: another program holds the calculation; nothing ran
    std::string error;     // the person table or the year's view could not be prepared
    bool stopped = false;  // a stop request ended the intake before all its steps
    std::vector<IntakeStepResult> steps;  // the steps that ran, in order
  };
  // Runs the steps for CurrentYear while holding the calculation, so that no other program
  // refills the person table or re-creates the view meanwhile: the person table is filled
  // first (for the operator's kEveryPerson and kEveryone the view V_GetCalItem of the year
  // is re-created too), then the steps run in order, each one whole. A step that fails is
  // logged and the next one runs; a stop request (SIGTERM, SIGINT) ends the intake between
  // steps, or between persons inside a step. The hold is released whatever happens.
  // Refused (held false, a CSSLog row for ScheduleId) when another program holds the
  // calculation. Raises zel::db::DbError when the hold cannot be read or taken.
  //
  // For process tests only: when the environment variable ZEL_TEST_INTAKE_PAUSE names a
  // file, the intake creates that file before each step, while holding, and waits until the
  // file is removed or a stop is requested. Nothing else reads that variable.
  IntakeResult RunIntake(const std::vector<IntakeStep>& steps, IntakePersons persons,
                         int ScheduleId);

  // --- an operator's command ---
  // Readies the object for one command on the year: reads the configuration, fills the
  // semaphore table, releases a hold this computer left behind and sets CurrentYear.
  void PrepareCommand(const std::string& year);
  // Raised when the shared tables of an operator's run cannot be prepared; what() is the
  // reason as the operator reads it.
  struct PreparationError : std::runtime_error {
    using std::runtime_error::runtime_error;
  };
  // Prepares the shared tables of an operator's run of CurrentYear; the caller holds the
  // calculation. CSSPerTemp gets the given persons (trimmed person numbers, each of which
  // must be in Person), or when none are given every person of Person (kEveryPerson) or
  // nobody (kEveryone); then V_GetCalItem of the year is re-created. Raises
  // PreparationError.
  void PrepareOperatorRun(IntakePersons who, const std::vector<std::string>& persons = {});
  // An operator's calculation of CurrentYear over the range, as a run of schedule id 0: the
  // persons given (each once; every person of Person when none), once the run holds the
  // calculation and has prepared the shared tables. Raises PreparationError, and the
  // run's own errors as CalcRun does.
  management::RunResult OperatorCalcRun(CalcKind kind, const std::string& from,
                                        const std::string& to,
                                        const std::vector<std::string>& persons,
                                        management::ProgressCallback progress = nullptr);
  // The MahWork (monthly) or PrdWork (periodic) rows of CurrentYear whose month or period
  // is in from..to, of the persons of CSSPerTemp. Raises zel::db::DbError.
  int64_t RangeRowsWritten(CalcKind kind, int from, int to);
  // The calculation hold as it stands (Semaphor "CALC"), for the operator. Raises
  // zel::db::DbError when it cannot be read.
  management::HoldState ReadCalcHold();
  // Releases the hold of `holder` for the operator, with a log line; false when the hold
  // changed meanwhile (another holder, or free). Raises zel::db::DbError.
  bool ReleaseCalcHoldOf(const std::string& holder);

  // --- logging ---
  void LogText(const std::string& AValue, const std::string& AFileName = "Log", bool LogTime = true,
               bool IsEnableLog = false) const;
  // One CSSLog row through the service's connection (or a new one); never raises.
  void InsertServiceLog(int ScheduleId, const std::string& PerNo, const std::string& Comment);

  // --- connections ---
  db::ConnectionSettings BaseSettings() const;                         // base database
  db::ConnectionSettings YearSettings(const std::string& year) const;  // <base>_<year>
  db::ConnectionSettings ServerSettings() const;                       // no catalog

  // --- state ---
  const std::string& Home() const { return FHome; }
  const ServiceConfig& Config() const { return FConfig; }
  const std::string& StartDate() const { return FStartDate; }
  const std::string& StartTime() const { return FStartTime; }
  const std::string& CurrentYear() const { return FCurrentYear; }
  void SetCurrentYear(std::string year) { FCurrentYear = std::move(year); }
  const std::string& CurrentDate() const { return FCurrentDate; }
  const std::vector<std::string>& SemaphoreList() const { return FSemaphoreList; }
  bool TimerEnabled() const { return FTDBCheckEnabled; }
  // What the last TDBCheckTimer did, for the command line's report.
  struct PassReport {
    bool ran = false;               // false: a pass was running or KorlanCalcOrService was 3
    int due = 0;                    // entries found due
    std::string error;              // the failure that ended the pass early, empty when none
    int refused = 0;                // calculation runs refused by the calculation hold
    int failed = 0;                 // calculation runs that failed or left persons or days undone
    std::string first_failure;      // the first of those failures, for the operator
    bool stopped = false;           // a stop was requested during the pass
    int failed_steps = 0;           // intake steps that failed
    std::string first_failed_step;  // "<step>: <error>" of the first of them
    // Rows the intake steps skipped, kept and reported in CSSLog: "<step> <n>" per step
    // that skipped any, in the order of the steps.
    std::vector<std::pair<std::string, int>> skipped;
  };
  const PassReport& LastPass() const { return FLastPass; }
  bool CalcServiceIsRunning() const { return FCalcServiceIsRunning; }

 private:
  // ADOC, connected when needed; raises DbError when it cannot connect.
  db::Connection& Adoc();
  void ConnectAdoc();
  void DisconnectAdoc() { FADOC.reset(); }
  std::optional<ScheduleEntry> ReadEntry(int ScheduleId, bool with_calc_year);
  void RunEntry(const ScheduleEntry& entry);
  // The entry's intake; false when the entry cannot go on to its calculation (refused by
  // the hold, or stopped).
  bool RunTransfers(const ScheduleEntry& entry);
  // The settings of a manager for CurrentYear with the service's database access: a run
  // of the schedule entry over the range, with at most max_thread workers.
  management::CalculatorSettings ManagerSettings(int ScheduleId, const std::string& from,
                                                 const std::string& to, int max_thread) const;
  // Clock-record labelling of the person table's persons (schedule 0); the caller holds
  // the calculation. A failure is logged by the manager and returned.
  management::ClockRecResult SetClockDmpRecords();
  // Record transfer of one kind: 1 service-late, 2 leave, 3 mission permissions; 4 and 5
  // every or only the certain labelled punches into IoInfo. The caller holds the
  // calculation. Failures are logged and returned, never raised.
  management::TransferRunResult TransferRecords(int TransType, int ScheduleId);
  IntakeStepResult RunIntakeStep(IntakeStep step, int ScheduleId);
  void RunDaily(const ScheduleEntry& entry);
  void RunMonthlyOrPeriodic(const ScheduleEntry& entry, bool monthly);
  void WriteServiceDescription();
  // The steps of ServiceStart; each logs its own failure and goes on. `base` is the
  // connection to the base database, opened by the first step that needs it.
  db::Connection& Connected(std::unique_ptr<db::Connection>& base) const;
  void PrepareBaseTables(std::unique_ptr<db::Connection>& base);  // CSSLog, CalcChanges
  void ReadCurrentYear(std::unique_ptr<db::Connection>& base);
  void WriteLogInRow(std::unique_ptr<db::Connection>& base);  // also sets the start moment
  void PrepareYearView();

  std::string FHome;
  ServiceConfig FConfig;
  std::unique_ptr<db::Connection> FADOC;
  std::string FStartDate;
  std::string FStartTime;
  std::string FCurrentDate;
  std::string FCurrentYear;
  int FMyCalcScheduleId = 0;
  // The schedule entry whose run fills the person table once it holds the calculation.
  std::optional<int> FFillForEntry;
  std::vector<std::string> FSemaphoreList;
  bool FCalcServiceIsRunning = false;
  bool FTDBCheckEnabled = false;
  PassReport FLastPass;
};

}  // namespace zel::service
