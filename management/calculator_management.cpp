#include "management/calculator_management.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>

#include "dates/clock.h"
#include "dates/jalali.h"
#include "dates/zel_calc_utils.h"
#include "db/ado_utils.h"
#include "db/calc_changes.h"
#include "db/client.h"
#include "management/calc_hold.h"
#include "management/calculate_threads.h"
#include "transfer/dm_transfer.h"
#include "util/parse_int.h"
#include "util/sql_text.h"
#include "util/text.h"

namespace zel::management {

namespace {

using Clock = std::chrono::steady_clock;

// The product's daily wait for a free place spins without sleeping and lets the time limit
// count only from its 10 001st pass on. Ten thousand passes over a few dozen worker slots
// take a few milliseconds; the limit counts here once a wait has lasted this long.
constexpr auto kTimeLimitGrace = std::chrono::milliseconds(10);

constexpr int kMaxThreadCeiling = 50;
constexpr int kMaxThreadDefault = 3;

using util::JoinLines;
std::string Quoted(const std::string& value) { return util::SqlQuoted(value); }

// Ends the waits of a run whose stop was requested.
struct RunStopped {};

// How often a run that can be stopped looks at its stop check while it waits.
constexpr auto kStopPoll = std::chrono::milliseconds(50);

struct KindTexts {
  const char* error_file;
  const char* creation_error;
  const char* run_failure;
};

KindTexts TextsOf(CalcKind kind) {
  switch (kind) {
    case CalcKind::kDaily:
      return {"Error Thread Daily", "Error in Create And Run Daily Thread : ",
              "Error in RunDailyCalculatorForOnePerson : "};
    case CalcKind::kMonthly:
      return {"Error Thread Monthly", "Error in Create And Run Monthly Thread : ",
              "Error in RunMonthlyCalculatorForOnePerson : "};
    case CalcKind::kPeriodic:
      break;
  }
  return {"Error Thread Periodic", "Error in Create And Run Periodic Thread : ",
          "Error in RunPeriodicCalculatorForOnePerson : "};
}

}  // namespace

// The code the "Name=Code" list gives for a name; nullopt when absent or not a number.
std::optional<int> SemaphoreCode(const std::vector<std::string>& list, const std::string& name) {
  for (const auto& entry : list) {
    const auto eq = entry.find('=');
    if (eq == std::string::npos ||
        !util::EqualsNoCase(util::TrimWhitespace(entry.substr(0, eq)), name))
      continue;
    return util::ParseInt<int>(util::TrimWhitespace(entry.substr(eq + 1)),
                               util::PlusSign::kAccepted);
  }
  return std::nullopt;
}

class CalculatorManagementImpl {
 public:
  explicit CalculatorManagementImpl(CalculatorSettings s) : settings(std::move(s)) {
    FMaxThread = settings.max_thread > kMaxThreadCeiling ? kMaxThreadCeiling
                 : settings.max_thread < 1               ? kMaxThreadDefault
                                                         : settings.max_thread;
    SqlConnStr = db::TADOUtils::GetConnectionString(settings.server, settings.user,
                                                    settings.password, settings.database_name);
    SqlConnYearStr =
        db::TADOUtils::GetConnectionString(settings.server, settings.user, settings.password,
                                           settings.database_name + "_" + settings.current_year);
  }

  RunResult Run(CalcKind kind);
  // Stamps the run as a pass of the journal of changes, creates the journal when missing and
  // deletes what it keeps no longer; a failure is logged and the run goes on.
  void PrepareChangesJournal();
  void MyUpdateCSSchedule(int ScheduleId);
  void InsertCalcLogTable(int ScheduleId, const std::string& PerNo, const std::string& comment);

  CalculatorSettings settings;
  int FMaxThread = kMaxThreadDefault;
  std::string SqlConnStr;
  std::string SqlConnYearStr;
  dates::TZelCalcUtils MyZelUtils{0};
  ProgressCallback progress;
  ModuleReadyHook daily_hook;
  std::function<void()> hold_taken;
  std::function<bool()> stop_requested;

 private:
  using Slots = std::vector<std::shared_ptr<CalculateThread>>;

  db::Connection& Base();
  RunStatus AcquireCalcSemaphore();
  void ReleaseCalcSemaphore();
  void SetCalcOrServiceState(int mode);
  std::optional<std::vector<std::string>> GetPersonList();
  void RunWorkers(CalcKind kind, const std::vector<std::string>& persons, RunResult& result);
  std::shared_ptr<CalculateThread> CreateWorker(CalcKind kind,
                                                const std::shared_ptr<ModulePool>& pool,
                                                const std::string& person, int position);
  // Releases the finished workers of slots [0, end); returns how many are still running.
  int Sweep(Slots& slots, std::size_t end);
  // Gives up every running worker of [0, end) that has run longer than its limit.
  void AbandonOverdue(Slots& slots, std::size_t end, RunResult& result);
  // The moment the next running worker of [0, end) exceeds its limit.
  Clock::time_point NextOverdue(const Slots& slots, std::size_t end) const;
  // Waits until fewer than `limit` workers of [0, end) run.
  void WaitBelow(Slots& slots, std::size_t end, int limit, bool time_limit, RunResult& result);
  void CountDone();
  void NoteWorkerEnd(const CalculateThread& worker);
  void NoteFailure(const std::string& message);
  RunResult failure_;  // the failures counted so far (failed_persons, failed_days, first_failure)

  std::unique_ptr<db::Connection> base_;
  std::string holder_;  // HostName this run wrote when it took the hold
  std::shared_ptr<WorkerSignal> signal_;
  int done_ = 0;
  int total_ = 0;
};

db::Connection& CalculatorManagementImpl::Base() {
  if (!base_) {
    db::ConnectionSettings cs = db::ParseConnectionString(SqlConnStr);
    cs.data_dir = settings.data_dir;
    cs.odbc_driver = settings.odbc_driver;
    base_ = db::Connect(cs);
  }
  return *base_;
}

void CalculatorManagementImpl::InsertCalcLogTable(int ScheduleId, const std::string& PerNo,
                                                  const std::string& comment) {
  try {
    const std::string date = dates::JalaliToday();
    const std::string time = dates::NowTime_HHNNSS().substr(0, 5);
    Base().Execute(JoinLines({" Insert Into CSSLog ",
                              " (ScheduleId, PerNo, LogDate, LogTime, Comment, Status) ",
                              " Values(" + std::to_string(ScheduleId) + ",",
                              " " + Quoted(PerNo) + ", " + Quoted(date) + ", " + Quoted(time) + ",",
                              " " + Quoted(util::Utf8Cut(comment, 255)) + ", 0) "}));
  } catch (const std::exception&) {
    // A lost log row is not reported.
  }
}

void CalculatorManagementImpl::PrepareChangesJournal() {
  if (settings.pass_date.empty()) {
    settings.pass_date = dates::JalaliToday();
    settings.pass_time = dates::NowTime_HHNNSS().substr(0, 5);
  }
  try {
    db::EnsureCalcChangesTable(Base());
    db::DeleteCalcChangesBefore(Base(), db::FirstKeptChangeDate(settings.changes_keep_days));
  } catch (const std::exception& e) {
    // The run goes on; its changes are recorded if the journal can be written later.
    MyZelUtils.LogText(std::string("Error On Prepare Changes Journal : ") + e.what(), "Log", true,
                       false);
  }
}

void CalculatorManagementImpl::MyUpdateCSSchedule(int ScheduleId) {
  const std::string date = dates::JalaliToday();
  const std::string time = dates::NowTime_HHNNSS().substr(0, 5);
  Base().Execute(JoinLines({" Update CSSchedule ", " Set LastRunDate = " + Quoted(date) + ", ",
                            " LastRunTime = " + Quoted(time) + " ",
                            " Where ScheduleId = " + std::to_string(ScheduleId) + " "}));
}

RunStatus CalculatorManagementImpl::AcquireCalcSemaphore() {
  const auto code = SemaphoreCode(settings.semaphore_list, "CALC");
  if (!code || !ReadCalcHold(Base(), *code).row) {
    // Without the hold's own row the run cannot take it, and no other row may stand in.
    const std::string comment = "Table Semaphor has no CALC row: the calculation did not run.";
    InsertCalcLogTable(settings.schedule_id, "", comment);
    MyZelUtils.LogText(comment, "Log", true, false);
    return RunStatus::kNoCalcSemaphore;
  }
  // One conditional statement: of two programs that try at once, exactly one takes it.
  holder_ = ThisHoldHolder();
  if (TakeCalcHold(Base(), *code, holder_)) return RunStatus::kCompleted;
  InsertCalcLogTable(settings.schedule_id, "", "فرد ديگري در اين فرم است .");
  return RunStatus::kSemaphoreBusy;
}

void CalculatorManagementImpl::ReleaseCalcSemaphore() {
  const auto code = SemaphoreCode(settings.semaphore_list, "CALC");
  if (!code) return;
  // Only this run's own hold: one released as stale meanwhile may belong to another now.
  ReleaseCalcHold(Base(), *code, holder_);
}

void CalculatorManagementImpl::SetCalcOrServiceState(int mode) {
  try {
    Base().Execute(
        JoinLines({" Update System ", " Set KorlanCalcOrService = " + std::to_string(mode)}));
  } catch (const std::exception&) {
    // The flag is advisory; the run goes on without it.
  }
}

std::optional<std::vector<std::string>> CalculatorManagementImpl::GetPersonList() {
  try {
    db::Dataset q(Base());
    q.SetSQL({"Select * From " + settings.temp_table_name});
    q.Open();
    std::vector<std::string> persons;
    for (; !q.Eof(); q.Next()) {
      try {
        persons.push_back(q.FieldByName("perno").AsString());
      } catch (const std::exception&) {
        // A row whose person number cannot be read is skipped.
      }
    }
    return persons;
  } catch (const std::exception& e) {
    MyZelUtils.LogText(
        "Error reading the person table " + settings.temp_table_name + " : " + e.what(), "Log",
        true, false);
    return std::nullopt;
  }
}

std::shared_ptr<CalculateThread> CalculatorManagementImpl::CreateWorker(
    CalcKind kind, const std::shared_ptr<ModulePool>& pool, const std::string& person,
    int position) {
  switch (kind) {
    case CalcKind::kDaily:
      return std::make_shared<TZELDailyCalculate>(person, position, settings, daily_hook, pool);
    case CalcKind::kMonthly:
      return std::make_shared<TZELMonthlyCalculate>(person, position, settings, pool);
    case CalcKind::kPeriodic:
      break;
  }
  return std::make_shared<TZELPeriodicCalculate>(person, position, settings, pool);
}

void CalculatorManagementImpl::NoteFailure(const std::string& message) {
  if (failure_.first_failure.empty()) failure_.first_failure = message;
}

void CalculatorManagementImpl::NoteWorkerEnd(const CalculateThread& worker) {
  if (worker.PersonFailed()) ++failure_.failed_persons;
  failure_.failed_days += worker.FailedDays();
  if (!worker.FirstFailure().empty())
    NoteFailure("person " + util::TrimWhitespace(worker.CurPerno()) + ": " + worker.FirstFailure());
}

void CalculatorManagementImpl::CountDone() {
  ++done_;
  if (progress) progress(done_, total_);
}

int CalculatorManagementImpl::Sweep(Slots& slots, std::size_t end) {
  int running = 0;
  for (std::size_t j = 0; j < end; ++j) {
    if (!slots[j]) continue;
    if (slots[j]->IsFinished()) {
      slots[j]->Release();
      NoteWorkerEnd(*slots[j]);
      slots[j].reset();
      CountDone();
    } else {
      ++running;
    }
  }
  return running;
}

void CalculatorManagementImpl::AbandonOverdue(Slots& slots, std::size_t end, RunResult& result) {
  const auto now = Clock::now();
  for (std::size_t j = 0; j < end; ++j) {
    auto& worker = slots[j];
    if (!worker || worker->IsFinished()) continue;
    if (now - worker->StartDateTime <= MaxThreadWaitUnit() * worker->MaxThreadWait) continue;
    const std::string perno = util::TrimWhitespace(worker->CurPerno());
    InsertCalcLogTable(
        settings.schedule_id, perno,
        "امکان محاسبه برخی از روزهای محدوده انتخابی برای پرسنل " + perno + " وجود ندارد.");
    worker->Abandon();
    worker.reset();
    ++result.abandoned;
    CountDone();
  }
}

Clock::time_point CalculatorManagementImpl::NextOverdue(const Slots& slots, std::size_t end) const {
  auto next = Clock::time_point::max();
  for (std::size_t j = 0; j < end; ++j) {
    if (!slots[j]) continue;
    // A limit counts once it is exceeded, so look just past it.
    next = std::min(next, slots[j]->StartDateTime + MaxThreadWaitUnit() * slots[j]->MaxThreadWait +
                              std::chrono::milliseconds(1));
  }
  return next;
}

void CalculatorManagementImpl::WaitBelow(Slots& slots, std::size_t end, int limit, bool time_limit,
                                         RunResult& result) {
  const auto wait_start = Clock::now();
  for (;;) {
    if (stop_requested && stop_requested()) throw RunStopped{};
    const auto seen = signal_->Generation();
    if (Sweep(slots, end) < limit) return;
    auto deadline = Clock::time_point::max();
    if (time_limit) {
      if (Clock::now() - wait_start >= kTimeLimitGrace) {
        AbandonOverdue(slots, end, result);
        if (Sweep(slots, end) < limit) return;
      }
      deadline = std::max(wait_start + kTimeLimitGrace, NextOverdue(slots, end));
    }
    if (stop_requested) deadline = std::min(deadline, Clock::now() + kStopPoll);
    signal_->WaitChange(seen, deadline);
  }
}

void CalculatorManagementImpl::RunWorkers(CalcKind kind, const std::vector<std::string>& persons,
                                          RunResult& result) {
  const KindTexts texts = TextsOf(kind);
  const bool time_limit = kind == CalcKind::kDaily;
  signal_ = std::make_shared<WorkerSignal>();
  // The run's connected modules, passed from worker to worker; closed when the run and its
  // given-up workers are done with them.
  const auto pool = std::make_shared<ModulePool>();
  Slots slots(persons.size());
  try {
    for (std::size_t i = 0; i < persons.size(); ++i) {
      if (stop_requested && stop_requested()) throw RunStopped{};
      // The first FMaxThread workers start without waiting; every later one only once fewer
      // than FMaxThread are running, so never more than FMaxThread run at once.
      if (static_cast<int>(i) >= FMaxThread) {
        WaitBelow(slots, i, FMaxThread, time_limit, result);
      }
      try {
        auto worker = CreateWorker(kind, pool, persons[i], static_cast<int>(i));
        slots[i] = worker;
        worker->Start(signal_);
        worker->StartDateTime = Clock::now();
      } catch (const std::exception& e) {
        slots[i].reset();
        const std::string hyphens(50, '-');
        MyZelUtils.LogText(hyphens, texts.error_file, true, false);
        MyZelUtils.LogText(std::string(texts.creation_error) + e.what(), texts.error_file, true,
                           false);
        MyZelUtils.LogText("Perno = " + persons[i], texts.error_file, true, false);
        MyZelUtils.LogText(hyphens, texts.error_file, true, false);
        ++failure_.failed_persons;
        NoteFailure("person " + util::TrimWhitespace(persons[i]) + ": " + e.what());
        CountDone();
      }
    }
    WaitBelow(slots, slots.size(), 1, time_limit, result);
  } catch (const RunStopped&) {
    result.stopped = true;
    MyZelUtils.LogText("The run was stopped on request; the workers still running are stopped",
                       texts.error_file, true, false);
  } catch (const std::exception& e) {
    MyZelUtils.LogText(std::string(texts.run_failure) + e.what(), texts.error_file, true, false);
    NoteFailure(e.what());
  }
  // Whatever happened, no worker outlives the run still counted: the ones left are given up.
  for (auto& worker : slots) {
    if (worker) worker->Abandon();
  }
  result.failed_persons = failure_.failed_persons;
  result.failed_days = failure_.failed_days;
  result.first_failure = failure_.first_failure;
}

RunResult CalculatorManagementImpl::Run(CalcKind kind) {
  RunResult result;
  result.status = AcquireCalcSemaphore();
  if (result.status != RunStatus::kCompleted) return result;

  std::exception_ptr failure;
  try {
    // Shared tables (the person table, the shift view) are prepared only while holding.
    if (hold_taken) hold_taken();
    if (kind != CalcKind::kPeriodic) PrepareChangesJournal();
    SetCalcOrServiceState(settings.calc_mode);
    const auto persons = GetPersonList();
    MyZelUtils.LogText("MaxThread = " + std::to_string(FMaxThread), "Log", true, false);
    if (persons) {
      result.persons = static_cast<int>(persons->size());
      done_ = 0;
      total_ = result.persons;
      RunWorkers(kind, *persons, result);
    }
  } catch (...) {
    failure = std::current_exception();
  }

  // The schedule entry's last run is its last completed one: a stopped run leaves the entry
  // due.
  if (kind == CalcKind::kMonthly) {
    try {
      ReleaseCalcSemaphore();
    } catch (const std::exception&) {
      // Errors ignored here: a monthly run ends as calculated whatever the release did.
    }
    SetCalcOrServiceState(0);
    try {
      if (!result.stopped) MyUpdateCSSchedule(settings.schedule_id);
    } catch (const std::exception&) {
      // Errors ignored here: an entry not recorded stays due and runs again.
    }
  } else {
    std::exception_ptr release_failure;
    try {
      ReleaseCalcSemaphore();
    } catch (...) {
      release_failure = std::current_exception();
    }
    SetCalcOrServiceState(0);
    if (release_failure) std::rethrow_exception(release_failure);
    if (!result.stopped) MyUpdateCSSchedule(settings.schedule_id);
  }
  if (failure) std::rethrow_exception(failure);
  return result;
}

// ---------------------------------------------------------------------------------------------

TZELCalculatorManagement::TZELCalculatorManagement(CalculatorSettings settings)
    : impl_(std::make_unique<CalculatorManagementImpl>(std::move(settings))) {}

TZELCalculatorManagement::~TZELCalculatorManagement() = default;

void TZELCalculatorManagement::SetProgressCallback(ProgressCallback callback) {
  impl_->progress = std::move(callback);
}

void TZELCalculatorManagement::SetStopCheck(std::function<bool()> stop_requested) {
  impl_->stop_requested = std::move(stop_requested);
}

void TZELCalculatorManagement::SetHoldTakenHook(std::function<void()> hook) {
  impl_->hold_taken = std::move(hook);
}

void TZELCalculatorManagement::SetDailyModuleHook(std::function<void(engine::TdmCalculate&)> hook) {
  impl_->daily_hook = std::move(hook);
}

TransferRunResult TZELCalculatorManagement::RunTransferRecordsForPersonList(int TransType) {
  const CalculatorSettings& s = impl_->settings;
  TransferRunResult result;
  try {
    if (TransType < 1 || TransType > 5) {
      throw std::runtime_error("unknown transfer kind " + std::to_string(TransType) +
                               "; nothing was transferred");
    }
    transfer::TDmTransfer module(s.data_dir, s.odbc_driver);
    module.StopRequested = impl_->stop_requested;
    module.InitialValues(s.current_year, s.user, s.password, s.database_name, s.server,
                         s.temp_table_name, s.schedule_id);
    if (TransType >= 4) {
      result.io = module.MyIOTransfer(TransType == 5);
    } else {
      const transfer::TPerMissionType kind = TransType == 1   ? transfer::TPerMissionType::prSlate
                                             : TransType == 2 ? transfer::TPerMissionType::prMor
                                                              : transfer::TPerMissionType::prMam;
      result.permission = module.PreparePermission(kind, false);
      module.TransferPermission(kind, result.permission);
    }
    result.done = true;
  } catch (const transfer::TransferStopped& e) {
    result.stopped = true;
    result.error = e.what();
    impl_->MyZelUtils.LogText(e.what(), "ErrorTransfer", true, false);
  } catch (const std::exception& e) {
    result.error = e.what();
    impl_->MyZelUtils.LogText(
        "Error on transfer IO : " + s.database_name + "_" + s.current_year + "|" + e.what(),
        "ErrorTransfer", true, false);
  }
  return result;
}

RunResult TZELCalculatorManagement::RunDailyCalculatorForOnePerson() {
  return impl_->Run(CalcKind::kDaily);
}

RunResult TZELCalculatorManagement::RunMonthlyCalculatorForOnePerson() {
  return impl_->Run(CalcKind::kMonthly);
}

RunResult TZELCalculatorManagement::RunPeriodicCalculatorForOnePerson() {
  return impl_->Run(CalcKind::kPeriodic);
}

ClockRecResult TZELCalculatorManagement::RunSetClockDmpRecordsForPersonList() {
  const CalculatorSettings& s = impl_->settings;
  ClockRecResult result;
  try {
    clockrec::TDmSetClockRec module(s.data_dir, s.odbc_driver);
    module.StopRequested = impl_->stop_requested;
    module.SetEnableLog(s.enable_log);
    module.InitialValues(s.current_year, s.user, s.password, s.database_name, s.server,
                         s.temp_table_name, s.schedule_id);
    try {
      module.MySetClockDumpRecords();
    } catch (...) {
      result.counts = module.Counts();  // what was labelled before the failure stays
      throw;
    }
    result.counts = module.Counts();
    result.stopped = module.Stopped();
    result.completed = !result.stopped;
  } catch (const std::exception& e) {
    result.error = e.what();
    impl_->MyZelUtils.LogText("Error On Set Records(IO Transfer) : " + s.current_year + "_" +
                                  s.database_name + "|" + e.what(),
                              "ErrorTransfer", true, false);
  }
  return result;
}

void TZELCalculatorManagement::MyUpdateCSSchedule(int ScheduleId) {
  impl_->MyUpdateCSSchedule(ScheduleId);
}

void TZELCalculatorManagement::InsertCalcLogTable(int ScheduleId, const std::string& PerNo,
                                                  const std::string& LogComment) {
  impl_->InsertCalcLogTable(ScheduleId, PerNo, LogComment);
}

int TZELCalculatorManagement::MaxThread() const { return impl_->FMaxThread; }
std::string TZELCalculatorManagement::SqlConnStr() const { return impl_->SqlConnStr; }
std::string TZELCalculatorManagement::SqlConnYearStr() const { return impl_->SqlConnYearStr; }

}  // namespace zel::management
