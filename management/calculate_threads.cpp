#include "management/calculate_threads.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <utility>

#include "dates/date_time.h"
#include "dates/jalali_day.h"
#include "util/sql_text.h"
#include "util/text.h"

namespace zel::management {

namespace {

using util::JoinLines;
std::string Quoted(const std::string& value) { return util::SqlQuoted(value); }

std::string Pad2(int value) {
  std::string text = std::to_string(value);
  return text.size() < 2 ? "0" + text : text;
}

// A whole decimal number of exactly the given text, or nullopt.
std::optional<int> ParseNumber(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// Month and day of an "MM/DD" text; nullopt when it cannot be read.
std::optional<std::pair<int, int>> ReadMMDD(const std::string& mmdd) {
  if (mmdd.size() < 5) return std::nullopt;
  const auto month = ParseNumber(mmdd.substr(0, 2));
  const auto day = ParseNumber(mmdd.substr(3, 2));
  if (!month || !day) return std::nullopt;
  return std::make_pair(*month, *day);
}

// A month or period number as text; 1 when it is not a number.
int NumberOr1(const std::string& text) {
  return ParseNumber(util::TrimWhitespace(text)).value_or(1);
}

// One employment record of a person (Person left joined with JobInfo).
struct Employment {
  std::string FirstName, LastName, BeginDate, EndDate;
};

std::vector<Employment> ReadEmployments(db::Connection& connection, std::vector<std::string> lines,
                                        int timeout_seconds,
                                        const std::vector<db::Param>& params = {}) {
  db::Dataset q(connection);
  q.SetCommandTimeout(timeout_seconds);
  q.SetSQL(std::move(lines));
  for (const db::Param& p : params) {
    db::Param& param = q.ParamByName(p.name);
    param.type = p.type;
    param.size = p.size;
    param.value = p.value;
  }
  q.Open();
  std::vector<Employment> records;
  for (; !q.Eof(); q.Next()) {
    records.push_back({q.FieldByName("FirstName").AsString(), q.FieldByName("LastName").AsString(),
                       q.FieldByName("BeginDate").AsString(), q.FieldByName("EndDate").AsString()});
  }
  return records;
}

// The statement that deletes a person's results of a month or period range from one table
// of the year database X; `line_end` follows each condition line. The person and the range
// are bound (RangeDeleteParams), so the text is the same for every person and range.
std::vector<std::string> DeleteRangeLines(const std::string& X, const std::string& table,
                                          const std::string& column, const std::string& line_end) {
  return {"DELETE FROM " + X + ".." + table, "where ", "(Perno = ?)" + line_end,
          "AND (" + column + " >= ?)" + line_end, "AND (" + column + " <= ?)" + line_end};
}

std::vector<db::Param> RangeDeleteParams(const std::string& person, int from, int to) {
  return {{"Perno", db::ParamType::String, 10, db::Value(person)},
          {"From", db::ParamType::Integer, 0, db::Value(from)},
          {"To", db::ParamType::Integer, 0, db::Value(to)}};
}

// The months or periods from..to of a person, each calculated once over his whole
// employment (the union of his records) under the name of his first record, replace the
// person's old rows of the range (deleted from `tables` of the year database X): the new
// rows are held and written in one transaction with the deletion, so an interrupted run
// leaves every month or period as it was or fully recalculated. After a failure the ones
// calculated before it are replaced, the rest stay as they were, and the failure is raised
// again. A worker given up writes nothing.
struct RangeRun {
  engine::TdmCalculate& module;
  aggregation::RangeCalculation& calculation;
  aggregation::RangeKind kind;
  const std::vector<Employment>& records;
  std::string X;  // year database
  const char* column;
  const char* line_end;
  std::vector<const char*> tables;
  std::function<bool()> abandoned;
};

void CalculateAndReplace(const RangeRun& run, const std::string& person, int from, int to) {
  engine::TAttendanceCalcManager& manager = run.module.AttendanceCalcManager();
  manager.SetPersonID(person);
  if (!run.records.empty()) {
    const Employment& first = run.records.front();
    manager.SetPersonName(util::TrimWhitespace(first.LastName) + " " +
                          util::TrimWhitespace(first.FirstName));
  }
  run.calculation.HoldWrites(from, to);
  int n = from;
  std::exception_ptr failure;
  if (!run.records.empty()) {
    do {
      if (run.abandoned()) return;
      try {
        run.calculation.Calculate(run.kind, manager.PersonID(), n);
      } catch (const std::exception&) {
        failure = std::current_exception();
        break;
      }
      ++n;
    } while (n <= to);
  }
  if (run.abandoned()) return;
  const int replace_to = failure ? n - 1 : to;
  if (!failure || replace_to >= from) {
    run.calculation.WriteHeld([&] {
      for (const char* table : run.tables) {
        run.module.ADOConnectionTimeAttendance().Execute(
            JoinLines(DeleteRangeLines(run.X, table, run.column, run.line_end)),
            RangeDeleteParams(person, from, replace_to), 0);
      }
    });
  }
  if (failure) std::rethrow_exception(failure);
}

// Given-up worker threads still running, process-wide.
std::mutex g_abandoned_mutex;
std::condition_variable g_abandoned_done;
int g_abandoned_running = 0;  // guarded by g_abandoned_mutex

std::atomic<std::int64_t> g_max_thread_wait_unit_ms{1000};

}  // namespace

// ---------------------------------------------------------------------------------------------

std::uint64_t WorkerSignal::Generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

void WorkerSignal::Notify() {
  {
    std::lock_guard lock(mutex_);
    ++generation_;
  }
  changed_.notify_all();
}

void WorkerSignal::WaitChange(std::uint64_t seen, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  if (deadline == std::chrono::steady_clock::time_point::max()) {
    changed_.wait(lock, [&] { return generation_ != seen; });
  } else {
    changed_.wait_until(lock, deadline, [&] { return generation_ != seen; });
  }
}

std::optional<int> DayOfYearOfMMDD(const std::string& mmdd) {
  const auto md = ReadMMDD(mmdd);
  if (!md) return std::nullopt;
  const auto [m, d] = *md;
  return m <= 7 ? d + 31 * m - 31 : d + 30 * m - 24;
}

void SetMaxThreadWaitUnit(std::chrono::milliseconds unit) {
  g_max_thread_wait_unit_ms.store(unit.count());
}

std::chrono::milliseconds MaxThreadWaitUnit() {
  return std::chrono::milliseconds(g_max_thread_wait_unit_ms.load());
}

std::unique_ptr<engine::TdmCalculate> ModulePool::Take() {
  std::lock_guard lock(mutex_);
  if (free_.empty()) return nullptr;
  auto module = std::move(free_.back());
  free_.pop_back();
  return module;
}

void ModulePool::GiveBack(std::unique_ptr<engine::TdmCalculate> module) {
  if (!module) return;
  std::lock_guard lock(mutex_);
  free_.push_back(std::move(module));
}

int ModulePool::Free() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(free_.size());
}

bool WaitForAbandonedWorkers(std::chrono::milliseconds timeout) {
  std::unique_lock lock(g_abandoned_mutex);
  return g_abandoned_done.wait_for(lock, timeout, [] { return g_abandoned_running == 0; });
}

// ---------------------------------------------------------------------------------------------

CalculateThread::CalculateThread(std::string person, int position,
                                 const CalculatorSettings& settings, std::string log_file_name,
                                 std::shared_ptr<ModulePool> pool)
    : CurPerno_(std::move(person)),
      CurrentYear(settings.current_year),
      CurrentYear2(settings.current_year),
      DataBaseName(settings.database_name),
      SqlServerName(settings.server),
      SqlUserName(settings.user),
      SqlUserPassword(settings.password),
      DataDir(settings.data_dir),
      OdbcDriver(settings.odbc_driver),
      ScheduleId(settings.schedule_id),
      Pass{settings.schedule_id, settings.pass_date, settings.pass_time},
      SemaphoreList(settings.semaphore_list),
      FThreadId(position),
      MyZelUtils(position),
      FLogFileName(std::move(log_file_name)),
      pool_(std::move(pool)) {}

CalculateThread::~CalculateThread() {
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      thread_.join();
    }
  }
}

void CalculateThread::Start(std::shared_ptr<WorkerSignal> signal) {
  signal_ = std::move(signal);
  thread_ = std::thread([self = shared_from_this()]() mutable {
    self->ThreadMain();
    bool detached = false;
    {
      std::lock_guard lock(g_abandoned_mutex);
      self->ended_ = true;
      detached = self->detached_;
    }
    if (detached) {
      // Given up: nobody waits for this thread; it frees the worker itself, then counts off.
      self.reset();
      // Notified under the lock: a waiter cannot go on (and the process end) before the
      // notification is done.
      std::lock_guard lock(g_abandoned_mutex);
      --g_abandoned_running;
      g_abandoned_done.notify_all();
    }
  });
}

void CalculateThread::ThreadMain() {
  try {
    Execute();
  } catch (...) {
    // Execute reports its own failures; nothing may leave the thread.
  }
  finished_.store(true, std::memory_order_release);
  signal_->Notify();
}

void CalculateThread::Release() {
  if (thread_.joinable()) thread_.join();
}

void CalculateThread::Abandon() {
  stop_.request_stop();
  {
    std::lock_guard lock(g_abandoned_mutex);
    if (!ended_ && thread_.joinable()) {
      detached_ = true;
      ++g_abandoned_running;
      thread_.detach();
      return;
    }
  }
  Release();
}

void CalculateThread::NoteFailure(const std::string& message, bool whole_person) {
  if (Abandoned()) return;
  if (whole_person)
    person_failed_ = true;
  else
    ++failed_days_;
  if (first_failure_.empty()) first_failure_ = message;
}

void CalculateThread::Log(const std::string& text, bool progress) const {
  if (Abandoned()) return;
  MyZelUtils.LogText(text, FLogFileName, true, progress);
}

std::unique_ptr<engine::TdmCalculate> CalculateThread::CreateModule(bool enable_log) const {
  if (pool_) {
    if (auto module = pool_->Take()) {
      module->SetStopToken(stop_.get_token());
      module->SetEnableLog(enable_log);
      module->SetPass(Pass);
      module->StartPerson();
      return module;
    }
  }
  auto module = std::make_unique<engine::TdmCalculate>(DataDir, OdbcDriver);
  module->SetStopToken(stop_.get_token());
  module->SetEnableLog(enable_log);
  module->InitialValues(CurrentYear, SqlUserName, SqlUserPassword, DataBaseName, SqlServerName,
                        ScheduleId);
  module->SetPass(Pass);
  return module;
}

void CalculateThread::ReturnModule(std::unique_ptr<engine::TdmCalculate>& module) const {
  if (!module) return;
  if (pool_ && !Abandoned() && !person_failed_) {
    pool_->GiveBack(std::move(module));
  } else {
    module.reset();
  }
}

// ---------------------------------------------------------------------------------------------
// Daily

namespace {
// Calculated days of a person written in one transaction at most: a month's days, whose
// rows share the tables' pages, so one commit writes those pages once.
constexpr int kDaysPerWrite = 31;
}  // namespace

TZELDailyCalculate::TZELDailyCalculate(std::string person, int position,
                                       const CalculatorSettings& settings, ModuleReadyHook hook,
                                       std::shared_ptr<ModulePool> pool)
    : CalculateThread(person, position, settings, "Thread" + util::TrimWhitespace(person),
                      std::move(pool)),
      EnableLog_(settings.enable_log),
      calcFromDate(settings.from_date),
      calcToDate(settings.to_date),
      hook_(std::move(hook)) {
  MyZelUtils.SetEnableLog(EnableLog_);
  const auto from = DayOfYearOfMMDD(calcFromDate);
  const auto to = DayOfYearOfMMDD(calcToDate);
  const int days = from && to ? std::abs(*to - *from) + 1 : 1;
  MaxThreadWait = days + 20;
}

void TZELDailyCalculate::Execute() {
  try {
    CalculateDataModule = CreateModule(EnableLog_);
  } catch (const std::exception& e) {
    // Without its module the worker cannot calculate anything; say why.
    Log(std::string("Error On DailyCalculate Execute Thread = ") + e.what(), false);
    NoteFailure(e.what(), true);
    Log("Finish Execute DailyCalculate Thread ...", true);
    return;
  }
  try {
    if (hook_) hook_(*CalculateDataModule);
    Log("DailyCalculate Execute Thread Perno = " + util::TrimWhitespace(CurPerno_), true);
    CalculatePersonDays();
  } catch (const std::exception& e) {
    Log(std::string("Error On DailyCalculate Execute Thread = ") + e.what(), false);
    NoteFailure(e.what(), true);
  }
  ReturnModule(CalculateDataModule);
  Log("Finish Execute DailyCalculate Thread ...", true);
}

namespace {

// While it lives, the module groups the person's calculated days for writing together, and
// the manager opens a day's writes (deleting its old rows) just before the day is processed,
// ahead of the handler the module bound; both as they were after.
class GroupedDayWrites {
 public:
  GroupedDayWrites(engine::TdmCalculate& module, std::function<void()> open_day)
      : module_(module),
        manager_(module.AttendanceCalcManager()),
        before_process_(manager_.OnBeforeProcess) {
    module_.GroupDays(true);
    manager_.OnBeforeProcess = [open_day = std::move(open_day),
                                before = before_process_](engine::TAttendanceCalcManager& sender) {
      open_day();
      if (before) before(sender);
    };
  }
  ~GroupedDayWrites() {
    manager_.OnBeforeProcess = std::move(before_process_);
    module_.GroupDays(false);
  }
  GroupedDayWrites(const GroupedDayWrites&) = delete;
  GroupedDayWrites& operator=(const GroupedDayWrites&) = delete;

 private:
  engine::TdmCalculate& module_;
  engine::TAttendanceCalcManager& manager_;
  std::function<void(engine::TAttendanceCalcManager&)> before_process_;
};

}  // namespace

void TZELDailyCalculate::CalculatePersonDays() {
  try {
    engine::TdmCalculate& module = *CalculateDataModule;
    if (!module.QSystem().Active()) module.QSystem().Open();
    if (!module.AnyPerson()) {
      Log("هيچ پرسنلي تعريف نشده است.", true);
      return;
    }
    module.taSemaphore().Close();
    const auto [first, last] = RangeOfDays();
    const std::vector<EmploymentSpan> employment = ReadEmployment();

    // Each day is written whole or not at all: its old rows are deleted and its new rows
    // written together. The module holds a day's writes back while the day is calculated and
    // writes the calculated days of the person kDaysPerWrite at a time in one transaction (a
    // day that fails to write stays as it was, the others are written), so the database's
    // single writer is held for the writing alone and a commit serves many days.
    const GroupedDayWrites grouped(module, [this] { OpenDayWrites(); });
    // The days from the start to the end of the range inside the year (an end day beyond its
    // month, such as 12/30 of a common year, ends the walk at the month's last day).
    dates::CalcDay day = first;
    do {
      if (Abandoned()) return;
      CalculateDay(day, employment);
      if (module.DaysWaiting() >= kDaysPerWrite) WriteWaitingDays();
      day = day.Next();
    } while (day.year() == first.year() && day <= last);
    WriteWaitingDays();
  } catch (const std::exception& e) {
    Log(std::string("Calc Daily Error In Thread = ") + e.what(), false);
    NoteFailure(e.what(), true);
  }
}

std::pair<dates::CalcDay, dates::CalcDay> TZELDailyCalculate::RangeOfDays() const {
  const auto from = ReadMMDD(calcFromDate);
  const auto to = ReadMMDD(calcToDate);
  if (!from || from->first < 1 || from->first > 12 || from->second < 1 ||
      from->second > CalculateDataModule->DaysInMonth(from->first)) {
    throw std::invalid_argument("'" + calcFromDate + "' is not a valid MM/DD date");
  }
  if (!to || to->first < 1 || to->first > 12 || to->second < 1 || to->second > 31) {
    throw std::invalid_argument("'" + calcToDate + "' is not a valid MM/DD date");
  }
  const int year = dates::StrToInt(util::TrimWhitespace(CurrentYear2));
  return {dates::CalcDay(year, from->first, from->second),
          dates::CalcDay(year, to->first, to->second)};
}

std::vector<TZELDailyCalculate::EmploymentSpan> TZELDailyCalculate::ReadEmployment() const {
  const std::vector<Employment> records = ReadEmployments(
      CalculateDataModule->ADOConnectionDbBase(),
      {"Select p.Perno, FirstName, LastName, BeginDate, EndDate from Person p left outer join  "
       "JobInfo j ",
       "on p.Perno = j.Perno ", "where (p.Perno = " + Quoted(CurPerno_) + ")"},
      60);
  const auto has_date = [](const std::string& text) {
    return text.find_first_not_of('/') != std::string::npos;
  };
  std::vector<EmploymentSpan> spans;
  for (const Employment& record : records) {
    EmploymentSpan span{
        util::TrimWhitespace(record.LastName) + " " + util::TrimWhitespace(record.FirstName),
        CurrentYear2 + "/01/01", CurrentYear2 + "/12/30"};
    if (has_date(util::TrimWhitespace(record.BeginDate)))
      span.first = util::TrimWhitespace(record.BeginDate);
    if (has_date(util::TrimWhitespace(record.EndDate)))
      span.last = util::TrimWhitespace(record.EndDate);
    spans.push_back(std::move(span));
  }
  return spans;
}

void TZELDailyCalculate::CalculateDay(const dates::CalcDay& day,
                                      const std::vector<EmploymentSpan>& employment) {
  engine::TdmCalculate& module = *CalculateDataModule;
  engine::TAttendanceCalcManager& manager = module.AttendanceCalcManager();
  const std::string mmdd = day.MMDD();
  const std::string date = CurrentYear2 + "/" + mmdd;
  const engine::TDate calc_date{static_cast<std::uint8_t>(day.month()),
                                static_cast<std::uint8_t>(day.day())};
  module.StartDay(mmdd);
  std::optional<std::string> failure;
  try {
    // The person's employment is the union of his records: a day any of them covers is
    // calculated once.
    const auto covering = std::find_if(employment.begin(), employment.end(), [&](const auto& e) {
      return e.first <= date && date <= e.last;
    });
    if (covering != employment.end()) {
      manager.SetPersonID(CurPerno_);
      manager.SetPersonName(covering->name);
      manager.SetCalcDate(calc_date);
      manager.Run();
    }
    // A day not calculated (outside the employment, or ended before its processing) loses
    // its old rows all the same, as the range's deletes always did.
    if (!module.DayWritesOpen()) {
      manager.SetCalcDate(calc_date);
      OpenDayWrites();
    }
  } catch (const std::exception& e) {
    failure = e.what();
  }
  const auto ended = module.EndDay();
  if (!failure) failure = ended;
  if (failure && !Abandoned()) ReportDayNotWritten(mmdd, *failure);
}

void TZELDailyCalculate::OpenDayWrites() {
  engine::TdmCalculate& module = *CalculateDataModule;
  if (module.DayWritesOpen()) return;
  module.BeginDayWrites();
  const auto date = module.AttendanceCalcManager().CalcDate();
  DeleteDayResults(Pad2(date.Month) + "/" + Pad2(date.Day));
}

void TZELDailyCalculate::WriteWaitingDays() {
  for (const auto& day : CalculateDataModule->WriteDays()) {
    if (!Abandoned()) ReportDayNotWritten(day.label, day.failure);
  }
}

void TZELDailyCalculate::ReportDayNotWritten(const std::string& mmdd, const std::string& failure) {
  Log("Day " + mmdd + " was not written (left as it was) : " + failure, false);
  NoteFailure("day " + mmdd + ": " + failure, false);
}

void TZELDailyCalculate::DeleteDayResults(const std::string& day) {
  db::Connection& year = CalculateDataModule->ADOConnectionTimeAttendance();
  const std::string X = DataBaseName + "_" + CurrentYear2;
  // The person and the day are bound, so each statement's text is the same for every day
  // and person and its translation is reused.
  const std::vector<db::Param> params = {{"Perno", db::ParamType::String, 10, db::Value(CurPerno_)},
                                         {"From", db::ParamType::String, 5, db::Value(day)},
                                         {"To", db::ParamType::String, 5, db::Value(day)}};
  const struct {
    const char* table;
    const char* column;
  } tables[] = {{"TimeTab ", "CalcDate"},  {"DayMorDt ", "DDate"},    {"DayMamDt ", "DDate"},
                {"ServTime ", "CalcDate"}, {"MealTime ", "CalcDate"}, {"DayWork", "DDate"}};
  for (const auto& t : tables) {
    if (Abandoned()) return;
    const std::string column = t.column;
    year.Execute(JoinLines({"DELETE FROM " + X + ".." + t.table, "where ", "(Perno = ?)",
                            "AND (" + column + " >= ?)", "AND (" + column + " <= ?)"}),
                 params, 60);
  }
}

// ---------------------------------------------------------------------------------------------
// Monthly and periodic

const RangeWorkerKind kMonthlyWorker{
    aggregation::RangeKind::kMonth,
    "MonthlyThread",
    "MonthlyCalculate",
    true,
    true,
    {"Select P.Perno, FirstName, LastName, BeginDate, EndDate from Person P left outer join "
     "JobInfo J ",
     " on P.Perno = J.Perno "},
    "MMonth",
    " ",
    {"MahMorDt ", "MahMamDt ", "MahWork "},
    "Error in MonthlyCalculate -- >CalcMonthly : ",
    "Error In Thread Monthly"};

const RangeWorkerKind kPeriodicWorker{
    aggregation::RangeKind::kPeriod,
    "PeriodicThread",
    "PeriodicCalculate",
    false,
    false,
    {"Select P.Perno, FirstName, LastName, BeginDate, EndDate from Person P left outer join  "
     "JobInfo J ",
     "on p.Perno = J.Perno"},
    "Period",
    "",
    {"PrdMorDt", "PrdMamDt", "PrdWork"},
    nullptr,
    nullptr};

RangeCalculateThread::RangeCalculateThread(const RangeWorkerKind& kind, std::string person,
                                           int position, const CalculatorSettings& settings,
                                           std::shared_ptr<ModulePool> pool)
    : CalculateThread(std::move(person), position, settings,
                      kind.log_name + std::to_string(position), std::move(pool)),
      kind_(kind),
      calcFrom(settings.from_date),
      calcTo(settings.to_date) {
  if (kind_.waits_by_range) MaxThreadWait = (NumberOr1(calcTo) - NumberOr1(calcFrom)) * 60;
  if (kind_.connects_at_creation) CalculateDataModule = CreateModule(false);
}

void RangeCalculateThread::Execute() {
  const std::string name = kind_.name;
  if (!CalculateDataModule) {
    try {
      CalculateDataModule = CreateModule(false);
    } catch (const std::exception& e) {
      // Without its module the worker cannot calculate anything; say why.
      Log("Error On " + name + " Execute Thread = " + e.what(), false);
      NoteFailure(e.what(), true);
      Log("Finish Execute " + name + " Thread ...", true);
      return;
    }
  }
  Log(name + " Execute Thread Perno = " + util::TrimWhitespace(CurPerno_), true);
  try {
    CalculatePersonRange();
  } catch (const std::exception& e) {
    Log("Error On " + name + " Execute Thread = " + e.what(), false);
    NoteFailure(e.what(), true);
  }
  ReturnModule(CalculateDataModule);
  Log("Finish Execute " + name + " Thread ...", true);
}

void RangeCalculateThread::CalculatePersonRange() {
  try {
    engine::TdmCalculate& module = *CalculateDataModule;
    if (!module.AnyPerson()) return;
    module.taSemaphore().Close();
    std::vector<std::string> person_lines = kind_.person_lines;
    person_lines.push_back(" where P.Perno = :Perno ");
    const std::vector<Employment> records =
        ReadEmployments(module.ADOConnectionDbBase(), std::move(person_lines), 0,
                        {{"Perno", db::ParamType::String, 10, db::Value(CurPerno_)}});
    const int from = NumberOr1(calcFrom);
    const int to = NumberOr1(calcTo);
    module.QSystem().Open();
    aggregation::RangeCalculation calculation(module);
    calculation.SetPass(Pass);
    if (kind_.range == aggregation::RangeKind::kMonth) calculation.SetMonthRange(from, to);
    const RangeRun run{module,
                       calculation,
                       kind_.range,
                       records,
                       DataBaseName + "_" + CurrentYear2,
                       kind_.number_column,
                       kind_.line_end,
                       kind_.tables,
                       [this] { return Abandoned(); }};
    CalculateAndReplace(run, CurPerno_, from, to);
  } catch (const std::exception& e) {
    // Without a failure line the failure ends the thread body, which reports it.
    if (!kind_.failure_line) throw;
    if (!Abandoned()) {
      MyZelUtils.LogText(std::string(kind_.failure_line) + e.what(), kind_.failure_log, true,
                         false);
    }
    NoteFailure(e.what(), true);
  }
}

}  // namespace zel::management
