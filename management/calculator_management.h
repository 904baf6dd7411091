// Calculator management: one daily, monthly or periodic calculation run over the persons
// of the person table, each person on a worker thread of its own, at most MaxThread at a
// time, guarded by the product-wide "CALC" hold in table Semaphor.
// A manager lives for one run and is used by one thread (the schedule runner or the command
// line); the progress callback is called on that same thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clockrec/dm_set_clock_rec.h"
#include "transfer/transfer_utils.h"

namespace zel::engine {
class TdmCalculate;
}

namespace zel::management {

// The code a "Name=Code" list (the semaphore code table) gives for a name, the name compared
// without case and both sides trimmed; nullopt when absent or when the code is not a number.
std::optional<int> SemaphoreCode(const std::vector<std::string>& list, const std::string& name);

// What a run calculates: days, months or calculation periods.
enum class CalcKind { kDaily, kMonthly, kPeriodic };

// Everything a run needs, as the service (or the command line) knows it.
struct CalculatorSettings {
  // --- database access ---
  std::string server;         // SqlServerName; empty selects the embedded engine
  std::string user;           // SqlUserName
  std::string password;       // SqlUserPassword
  std::string database_name;  // DataBaseName, the base database; years are <name>_<YYYY>
  std::string data_dir;       // embedded engine: the folder that plays the server
  std::string odbc_driver;    // ODBC driver name; empty = the default (FreeTDS)
  std::string current_year;   // CurrentYear, four-digit Jalali year of the year database

  // --- the run ---
  int max_thread = 3;       // worker limit; 0 or less gives 3, above 50 gives 50
  bool enable_log = false;  // progress lines of the daily workers' log files
  int schedule_id = 0;      // CSSchedule entry of the run; 0 for runs without one
  // The semaphore code table as the service fills it: "Name=Code" lines ("CALC=17", ...).
  std::vector<std::string> semaphore_list;
  // Range: "MM/DD" dates for a daily run, month numbers (monthly) or period numbers
  // (periodic) as text.
  std::string from_date;
  std::string to_date;
  std::string temp_table_name = "CSSPerTemp";  // the person table of the run
  int calc_mode = 4;  // written into System.KorlanCalcOrService while the run calculates
  // The journal of changed results: the days its rows are kept, and the run's start (Jalali
  // "YYYY/MM/DD", "HH:NN") under which the run records them; set by the run when empty.
  int changes_keep_days = 90;
  std::string pass_date;
  std::string pass_time;
};

// Called after each worker has finished or been given up: persons done of total.
using ProgressCallback = std::function<void(int done, int total)>;

enum class RunStatus {
  kCompleted,        // the hold was taken, workers ran, the run is recorded in CSSchedule
                     // (unless stopped)
  kSemaphoreBusy,    // another program holds "CALC": nothing calculated, CSSLog row written
  kNoCalcSemaphore,  // Semaphor has no "CALC" row: nothing calculated, CSSLog row written
};

struct RunResult {
  RunStatus status = RunStatus::kCompleted;
  int persons = 0;            // persons read from the person table
  int abandoned = 0;          // daily workers given up after their time limit
  bool stopped = false;       // a stop was requested: the workers left were stopped
  int failed_persons = 0;     // workers that ended with an error or could not start
  int failed_days = 0;        // days whose results could not be written (left as before)
  std::string first_failure;  // the first failure's message, for the operator
};

// What a clock-record labelling run did.
struct ClockRecResult {
  bool completed = false;           // the walk reached its end
  bool stopped = false;             // a stop request ended it between cards
  std::string error;                // why it stopped, when it did not
  clockrec::ClockRecCounts counts;  // punches labelled (also before a failure)
};

// What a record transfer run did.
struct TransferRunResult {
  bool done = false;     // false: the run failed (logged to "ErrorTransfer") or was stopped
  bool stopped = false;  // a stop request abandoned the run whole: nothing of it was kept
  std::string error;     // the failure, when not done
  transfer::IOTransferResult io;                  // the IO transfer's counts
  transfer::PermissionTransferResult permission;  // the permission transfer's counts
};

class CalculatorManagementImpl;

class TZELCalculatorManagement {
 public:
  // Stores the settings (the worker limit clamped) and builds both connection strings;
  // connects to nothing yet.
  explicit TZELCalculatorManagement(CalculatorSettings settings);
  ~TZELCalculatorManagement();
  TZELCalculatorManagement(const TZELCalculatorManagement&) = delete;
  TZELCalculatorManagement& operator=(const TZELCalculatorManagement&) = delete;

  // Optional; called on the caller's thread as workers end.
  void SetProgressCallback(ProgressCallback callback);
  // Optional; asked on the caller's thread while the run waits for its workers. Once it
  // answers true no further worker starts and the running ones are stopped (they write
  // nothing more; a day in progress is left as before); the run then ends as usual.
  void SetStopCheck(std::function<bool()> stop_requested);
  // Optional; called on the caller's thread right after the hold is taken, before the
  // person table is read: the place to fill the person table and prepare shared views. An
  // exception from it ends the run (the hold released) and reaches the caller.
  void SetHoldTakenHook(std::function<void()> hook);
  // Optional; called on each daily worker's thread once its data module is connected,
  // before any day is calculated (lets a caller watch or bind the calculation events).
  void SetDailyModuleHook(std::function<void(engine::TdmCalculate&)> hook);

  // A calculation run for every person of the person table over the settings' range.
  // Blocks until every worker has finished or been given up; the run is recorded in
  // CSSchedule unless a stop ended it. Database failures while
  // taking the hold, and (daily, periodic) while releasing it and recording the run,
  // raise zel::db::DbError; a monthly run ignores the latter.
  RunResult RunDailyCalculatorForOnePerson();
  RunResult RunMonthlyCalculatorForOnePerson();
  RunResult RunPeriodicCalculatorForOnePerson();
  // Labels the untransferred punches of the year of the person table's persons on this
  // thread (no worker, no hold, no CSSchedule update). The stop check (SetStopCheck) is
  // asked between cards; the punches labelled before a stop keep their labels. A failure
  // is logged to "ErrorTransfer" and returned, not raised.
  ClockRecResult RunSetClockDmpRecordsForPersonList();

  // A record transfer of one kind for the persons of the person table, on the caller's
  // thread: 4 every labelled punch, 5 only the certain ones, into IoInfo; 1 service-late,
  // 2 leave, 3 mission permissions prepared and moved. No hold, no System flag, no
  // CSSchedule update. The stop check (SetStopCheck) is asked between persons; a stop
  // abandons the run whole.
  // Failures are logged to "ErrorTransfer" and returned, never raised.
  TransferRunResult RunTransferRecordsForPersonList(int TransType);

  // Records the run's date and time in CSSchedule. Raises zel::db::DbError.
  void MyUpdateCSSchedule(int ScheduleId);
  // Writes one CSSLog row; never raises (a lost row is not reported).
  void InsertCalcLogTable(int ScheduleId, const std::string& PerNo, const std::string& LogComment);

  int MaxThread() const;               // the clamped worker limit
  std::string SqlConnStr() const;      // base-database connection string
  std::string SqlConnYearStr() const;  // year-database connection string

 private:
  std::unique_ptr<CalculatorManagementImpl> impl_;
};

}  // namespace zel::management
