// The calculation workers: one thread per person of a run. The daily worker walks the
// person's days inside the employment dates and runs the attendance calculation for each;
// the range worker covers months or periods (the monthly and periodic workers are its two
// kinds). Each owns its calculation data module and connections.
// The calculator management creates, starts, watches and releases workers from its own
// thread; a worker's body runs on the worker's thread only.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "aggregation/range_calculation.h"
#include "dates/jalali_day.h"
#include "dates/zel_calc_utils.h"
#include "engine/dm_calculate.h"
#include "management/calculator_management.h"

namespace zel::management {

// Wakes the manager whenever one of its workers finishes.
class WorkerSignal {
 public:
  // Number of finishes so far; read it before looking at the workers, then wait on it.
  std::uint64_t Generation() const;
  void Notify();
  // Returns when Generation() differs from `seen` or at `deadline`, whichever is first.
  void WaitChange(std::uint64_t seen, std::chrono::steady_clock::time_point deadline);

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t generation_ = 0;  // guarded by mutex_
};

// Called on a daily worker's thread once it has its connected data module (new, or one an
// earlier worker of the run gave back), before anything is calculated; lets a caller bind
// or watch the module's calculation events.
using ModuleReadyHook = std::function<void(engine::TdmCalculate&)>;

// The connected data modules of one run that no worker is using: a worker takes one when
// it starts (or creates one when none is free) and gives it back when it ends, so the few
// worker slots of a run keep their connections and prepared statements across persons
// instead of connecting and preparing again for each. A given-up or failed worker keeps
// its module (it is closed with the worker). Any thread may take and give back.
class ModulePool {
 public:
  // A free module, nullptr when none is.
  std::unique_ptr<engine::TdmCalculate> Take();
  void GiveBack(std::unique_ptr<engine::TdmCalculate> module);
  // Modules waiting to be taken.
  int Free() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<engine::TdmCalculate>> free_;  // guarded by mutex_
};

// Day number of an "MM/DD" text in the calculation's year layout (six months of 31 days,
// then months of 30); nullopt when the text cannot be read.
std::optional<int> DayOfYearOfMMDD(const std::string& mmdd);

// The unit MaxThreadWait counts in: one second unless set otherwise (tests shorten it).
// Any thread may read or set it.
void SetMaxThreadWaitUnit(std::chrono::milliseconds unit);
std::chrono::milliseconds MaxThreadWaitUnit();

// Waits until no given-up worker thread is running any more (or the timeout passes);
// true when none is left. For an orderly end of the process.
bool WaitForAbandonedWorkers(std::chrono::milliseconds timeout);

// What the three worker kinds share: the thread, the finished flag, the stop request, and
// the run's database access.
class CalculateThread : public std::enable_shared_from_this<CalculateThread> {
 public:
  virtual ~CalculateThread();
  CalculateThread(const CalculateThread&) = delete;
  CalculateThread& operator=(const CalculateThread&) = delete;

  // Starts the thread body; `signal` is notified when it has finished. Raises
  // std::system_error when the thread cannot be started.
  void Start(std::shared_ptr<WorkerSignal> signal);
  // True once the body has ended (set as its very last step).
  bool IsFinished() const { return finished_.load(std::memory_order_acquire); }
  // Waits for a finished worker's thread to end.
  void Release();
  // Gives the worker up: it stops at its next day or statement and writes nothing more;
  // its thread ends on its own and frees the worker.
  void Abandon();

  const std::string& CurPerno() const { return CurPerno_; }
  // What went wrong, read by the manager once the worker is finished: whether the person's
  // calculation failed as a whole, how many days could not be written (each left as it
  // was), and the first failure's message.
  bool PersonFailed() const { return person_failed_; }
  int FailedDays() const { return failed_days_; }
  const std::string& FirstFailure() const { return first_failure_; }
  const std::string& LogFileName() const { return FLogFileName; }

  // Set by the manager right after the start (manager thread only).
  std::chrono::steady_clock::time_point StartDateTime;
  // Time (in MaxThreadWaitUnit) the manager allows a daily worker before giving it up.
  int MaxThreadWait = 300;

 protected:
  CalculateThread(std::string person, int position, const CalculatorSettings& settings,
                  std::string log_file_name, std::shared_ptr<ModulePool> pool);
  // The thread body.
  virtual void Execute() = 0;

  bool Abandoned() const { return stop_.stop_requested(); }
  // One line to the worker's log file (progress lines only when logging is enabled);
  // nothing once the worker has been given up.
  void Log(const std::string& text, bool progress) const;
  // The data module of this worker's person: a free one of the run's pool, made ready for
  // the person, else a new one on the run's databases (InitialValues called; raises what
  // it raises).
  std::unique_ptr<engine::TdmCalculate> CreateModule(bool enable_log) const;
  // Gives the module back to the run's pool when the worker ended normally (not given up,
  // the person not failed as a whole); otherwise the module is closed.
  void ReturnModule(std::unique_ptr<engine::TdmCalculate>& module) const;

  std::string CurPerno_;
  std::string CurrentYear;
  std::string CurrentYear2;
  std::string DataBaseName, SqlServerName, SqlUserName, SqlUserPassword;
  std::string DataDir, OdbcDriver;
  int ScheduleId = 0;
  db::CalcPass Pass;  // recorded with the changes the worker's days make
  std::vector<std::string> SemaphoreList;
  int FThreadId = 0;
  dates::TZelCalcUtils MyZelUtils;
  std::string FLogFileName;
  std::stop_source stop_;
  std::shared_ptr<ModulePool> pool_;  // null: every worker connects on its own
  // Written by the worker's thread before it is finished; read by the manager after.
  bool person_failed_ = false;
  int failed_days_ = 0;
  std::string first_failure_;
  void NoteFailure(const std::string& message, bool whole_person);

 private:
  void ThreadMain();

  std::thread thread_;
  std::shared_ptr<WorkerSignal> signal_;
  std::atomic<bool> finished_{false};
  // Guarded by the process-wide lock of given-up workers:
  bool ended_ = false;
  bool detached_ = false;
};

class TZELDailyCalculate : public CalculateThread {
 public:
  // The person's daily results of the settings' "MM/DD" range; MaxThreadWait becomes the
  // number of days of the range + 20.
  TZELDailyCalculate(std::string person, int position, const CalculatorSettings& settings,
                     ModuleReadyHook hook = {}, std::shared_ptr<ModulePool> pool = {});

 protected:
  void Execute() override;

 private:
  // One employment record of the person: the name it gives him and the days it covers,
  // "YYYY/MM/DD" (the year's first and last day where the record has no date).
  struct EmploymentSpan {
    std::string name;
    std::string first, last;
  };

  void CalculatePersonDays();
  // The range's first and last day; raises std::invalid_argument for a text that names no
  // real day (a start day beyond its month would never reach the month's end).
  std::pair<dates::CalcDay, dates::CalcDay> RangeOfDays() const;
  // The person's employment records (Person left joined with JobInfo).
  std::vector<EmploymentSpan> ReadEmployment() const;
  // Calculates one day, inside the employment, and ends it (its writes wait for
  // WriteWaitingDays); a failure is the day's: reported, the day left as it was.
  void CalculateDay(const dates::CalcDay& day, const std::vector<EmploymentSpan>& employment);
  // Opens the writes of the day being calculated and deletes its old rows (once a day).
  void OpenDayWrites();
  // Writes the days waiting in the module, reporting those that could not be written.
  void WriteWaitingDays();
  void ReportDayNotWritten(const std::string& mmdd, const std::string& failure);
  // Deletes the person's earlier results of one "MM/DD" day (inside the day's transaction).
  void DeleteDayResults(const std::string& day);

  bool EnableLog_ = false;
  std::string calcFromDate, calcToDate;
  ModuleReadyHook hook_;
  std::unique_ptr<engine::TdmCalculate> CalculateDataModule;
};

// What tells the monthly worker from the periodic one: the names it logs under, the texts
// it sends, when it connects and where its failures are reported.
struct RangeWorkerKind {
  aggregation::RangeKind range;
  const char* log_name;                   // the log file's base name, before the list position
  const char* name;                       // in the worker's log lines: "MonthlyCalculate"
  bool connects_at_creation;              // else at the start of the thread body
  bool waits_by_range;                    // MaxThreadWait is (to - from) x 60
  std::vector<std::string> person_lines;  // the person's employment rows, before the person
  const char* number_column;              // of the result tables, deleted over the range
  const char* line_end;                   // after each condition of the deletes
  std::vector<const char*> tables;        // the result tables, in the order they are deleted
  // The line and log file of a failure of the calculation itself; null: the failure ends
  // the thread body and is reported there.
  const char* failure_line;
  const char* failure_log;
};
extern const RangeWorkerKind kMonthlyWorker;
extern const RangeWorkerKind kPeriodicWorker;

// The worker of a person's months or periods from..to: the old rows of the range are
// replaced by the ones calculated, in one transaction (see CalculateAndReplace).
class RangeCalculateThread : public CalculateThread {
 public:
  // A worker that connects at creation raises what InitialValues raises.
  RangeCalculateThread(const RangeWorkerKind& kind, std::string person, int position,
                       const CalculatorSettings& settings, std::shared_ptr<ModulePool> pool);

 protected:
  void Execute() override;

 private:
  void CalculatePersonRange();

  const RangeWorkerKind& kind_;
  std::string calcFrom, calcTo;  // month or period numbers as text
  std::unique_ptr<engine::TdmCalculate> CalculateDataModule;
};

class TZELMonthlyCalculate : public RangeCalculateThread {
 public:
  // Takes or creates the data module at once; raises what InitialValues raises.
  TZELMonthlyCalculate(std::string person, int position, const CalculatorSettings& settings,
                       std::shared_ptr<ModulePool> pool = {})
      : RangeCalculateThread(kMonthlyWorker, std::move(person), position, settings,
                             std::move(pool)) {}
};

class TZELPeriodicCalculate : public RangeCalculateThread {
 public:
  TZELPeriodicCalculate(std::string person, int position, const CalculatorSettings& settings,
                        std::shared_ptr<ModulePool> pool = {})
      : RangeCalculateThread(kPeriodicWorker, std::move(person), position, settings,
                             std::move(pool)) {}
};

}  // namespace zel::management
