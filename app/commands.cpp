#include "app/commands.h"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>

#include "app/sql_output.h"
#include "dates/clock.h"
#include "dates/date_encoder.h"
#include "dates/date_parser.h"
#include "dates/date_time.h"
#include "dates/jalali.h"
#include "dates/zel_calc_utils.h"
#include "db/client.h"
#include "engine/calc.h"
#include "explain/day_explanation.h"
#include "explain/render.h"
#include "management/calc_hold.h"
#include "management/calculate_threads.h"
#include "schema/schema.h"
#include "service/calculate_service.h"
#include "service/config.h"
#include "service/home_setup.h"
#include "service/platform.h"
#include "service/service_log.h"
#include "service/systemd_unit.h"
#include "util/log_file.h"
#include "util/text.h"

namespace zel::app {

namespace {

using service::TZELKLCalculateService;

int Fail(const std::string& why) {
  std::cerr << "zelkl-calc: " << why << "\n";
  return kExitFailed;
}

bool IsDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Day number inside the year of an "MM/DD" text, 0 when it is not a day of that Jalali year.
int MonthDayNumber(const std::string& text, int year) {
  if (text.size() != 5 || text[2] != '/' || !IsDigits(text.substr(0, 2)) ||
      !IsDigits(text.substr(3, 2))) {
    return 0;
  }
  const int m = std::stoi(text.substr(0, 2));
  const int d = std::stoi(text.substr(3, 2));
  if (m < 1 || m > 12 || d < 1 || d > dates::TZelCalcUtils::DaysInMonthY(m, std::to_string(year))) {
    return 0;
  }
  return m * 32 + d;
}

bool TerminalOut(int fd) { return isatty(fd) == 1; }

std::string ReadFileText(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    throw std::runtime_error("cannot read " + path + ": " +
                             (std::filesystem::exists(path, ec) ? "not a file" : "no such file"));
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string LogsNote() { return "logs: " + util::LogFolder(); }
// The logs and the round trips the run made (every statement sent to the server): the end of
// the last line of a pass or a calculation.
std::string RunNote() {
  return LogsNote() + "; " + std::to_string(db::StatementsSentByProcess()) + " statements sent";
}

// Whether the home has the configuration a command on the databases needs; false (and the
// reason on stderr) when Korlan.Ini is missing or names no database, so nothing is created.
bool ConfiguredHome() {
  const std::string path = service::IniPath(util::HomeFolder());
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec) || access(path.c_str(), R_OK) != 0) {
    Fail("cannot read " + path + "; run `zelkl-calc db init`");
    return false;
  }
  if (util::TrimControls(service::ReadServiceConfig(path).database_name).empty()) {
    Fail("Korlan.Ini has no DATABASENAME; run `zelkl-calc db init`");
    return false;
  }
  return true;
}

// Daily workers given up after their time limit stop at their next day or statement; the
// process waits for them before it ends, so none is cut off inside a write.
void WaitForGivenUpWorkers() {
  if (!management::WaitForAbandonedWorkers(std::chrono::seconds(60))) {
    std::cerr << "zelkl-calc: workers given up after their time limit did not stop within 60 s\n";
  }
}

}  // namespace

int RunService(std::chrono::milliseconds first_pass_after) {
  service::StopSignalGuard signals;
  service::SetDeepLogMode();
  TZELKLCalculateService s(util::HomeFolder());
  bool started = false;
  s.ServiceStart(started);
  std::cerr << "zelkl-calc: service started in " << s.Home() << "; " << LogsNote() << "\n";
  service::NotifySystemdReady();
  s.ServiceExecute(first_pass_after);
  service::NotifySystemdStopping();
  bool stopped = false;
  s.ServiceStop(stopped);
  WaitForGivenUpWorkers();
  std::cerr << "zelkl-calc: service stopped\n";
  return kExitOk;
}

int Tick() {
  service::StopSignalGuard signals;
  if (!ConfiguredHome()) return kExitFailed;
  service::SetDeepLogMode();
  TZELKLCalculateService s(util::HomeFolder());
  bool started = false;
  s.ServiceStart(started);
  s.TDBCheckTimer();
  bool stopped = false;
  s.ServiceStop(stopped);
  WaitForGivenUpWorkers();
  const auto& pass = s.LastPass();
  if (!pass.ran) {
    std::cout << "schedule pass skipped: KorlanCalcOrService is 3 (another program calculates)\n";
    return kExitOk;
  }
  if (!pass.error.empty())
    return Fail("the schedule pass failed: " + pass.error + "; " + RunNote());
  const std::string due =
      std::to_string(pass.due) + (pass.due == 1 ? " entry" : " entries") + " due";
  // Bad rows the intake skipped are no failure, but the operator hears of them.
  std::string skipped;
  for (const auto& [step, n] : pass.skipped) {
    skipped += (skipped.empty() ? "; rows skipped and reported in CSSLog: " : ", ") + step + " " +
               std::to_string(n);
  }
  if (pass.stopped || pass.refused > 0 || pass.failed > 0 || pass.failed_steps > 0) {
    std::string what = "the schedule pass on " + s.CurrentDate() + " did not do everything: " + due;
    if (pass.stopped) what += "; stopped by a signal";
    if (pass.refused > 0) {
      what += "; " + std::to_string(pass.refused) +
              " refused: another program holds the calculation (Semaphor CALC)";
    }
    if (pass.failed_steps > 0) {
      what += "; " + std::to_string(pass.failed_steps) + " transfer step" +
              (pass.failed_steps == 1 ? "" : "s") + " failed, first " + pass.first_failed_step;
    }
    if (pass.failed > 0) {
      what += "; " + std::to_string(pass.failed) + " failed";
      if (!pass.first_failure.empty()) what += " (" + pass.first_failure + ")";
    }
    return Fail(what + skipped + "; " + RunNote());
  }
  std::cout << "schedule pass done on " << s.CurrentDate() << ": " << due << skipped << "; "
            << RunNote() << "\n";
  return kExitOk;
}

namespace {

using IntakeStep = TZELKLCalculateService::IntakeStep;
using IntakeStepResult = TZELKLCalculateService::IntakeStepResult;

// One intake step of the year (0: this Jalali year) for everyone, as an operator's command:
// the service runs it while holding the calculation; `print` tells what the step did (also
// when a stop ended it early). `nothing` says what a refused or unprepared run did not do.
int IntakeCommand(int year, IntakeStep step, TZELKLCalculateService::IntakePersons persons,
                  const std::string& what, const std::string& nothing,
                  const std::function<void(const IntakeStepResult&, const std::string&)>& print) {
  service::StopSignalGuard signals;
  if (!ConfiguredHome()) return kExitFailed;
  service::SetDeepLogMode();
  TZELKLCalculateService s(util::HomeFolder());
  const std::string y = year > 0 ? std::to_string(year) : dates::Copy(dates::JalaliToday(), 1, 4);
  s.PrepareCommand(y);
  TZELKLCalculateService::IntakeResult r;
  try {
    r = s.RunIntake({step}, persons, 0);
  } catch (const std::exception& e) {
    return Fail("the " + what + " could not start: " + e.what());
  }
  if (!r.held) {
    return Fail("another program holds the calculation (Semaphor CALC); nothing was " + nothing);
  }
  if (!r.error.empty()) return Fail(r.error + "; nothing was " + nothing);
  if (r.steps.empty()) return Fail("the " + what + " was stopped by a signal before it began");
  const IntakeStepResult& done = r.steps.front();
  if (done.done || done.stopped || step == IntakeStep::kClock) print(done, y);
  if (done.stopped) {
    return Fail("the " + what + " was stopped by a signal; what it finished stays; " + LogsNote());
  }
  if (!done.done) return Fail("the " + what + " failed: " + done.error + "; " + LogsNote());
  return kExitOk;
}

}  // namespace

int TransferPermission(int year, int kind) {
  const std::string name = kind == 1 ? "service-late" : kind == 2 ? "leave" : "mission";
  const IntakeStep step = kind == 1   ? IntakeStep::kServiceLate
                          : kind == 2 ? IntakeStep::kLeave
                                      : IntakeStep::kMission;
  return IntakeCommand(
      year, step, TZELKLCalculateService::IntakePersons::kEveryone, name + " transfer",
      "transferred", [&name](const IntakeStepResult& r, const std::string& y) {
        const auto& p = r.transfer.permission;
        std::cout << name << " transfer of " << y << ": " << p.Prepared << " requests prepared, "
                  << p.Moved << " moved, " << p.Uncertain << " left uncertain, " << p.Collided
                  << " left in collision, " << p.Reported << " reported\n";
        if (p.Reported > 0 || p.Collided > 0)
          std::cout << "see CSSLog and the intermediate table for the reasons\n";
      });
}

int TransferIo(int year, bool certain_only) {
  return IntakeCommand(
      year, certain_only ? IntakeStep::kIoCertainOnly : IntakeStep::kIo,
      TZELKLCalculateService::IntakePersons::kEveryone, "IO transfer", "transferred",
      [certain_only](const IntakeStepResult& r, const std::string& y) {
        const auto& io = r.transfer.io;
        std::cout << "IO transfer of " << y << (certain_only ? " (certain punches only)" : "")
                  << ": " << io.Inserted << " records inserted, " << io.Completed << " completed, "
                  << io.Failed << " failed; punches " << io.PunchesDeleted << " deleted, "
                  << io.PunchesMarked << " marked, " << io.PunchesKept << " kept\n";
        if (io.Failed > 0 || io.PunchesKept > 0) std::cout << "see CSSLog for the reasons\n";
      });
}

std::optional<std::string> CheckCalcOptions(const CalcOptions& o) {
  if (!dates::TZELYearConversion::YearIsInValidRange(dates::csJalali, o.year)) {
    return "--year " + std::to_string(o.year) + " is not a Jalali year (1206..1498)";
  }
  for (const auto& p : o.persons) {
    if (util::TrimControls(p).empty() || p.size() > 10)
      return "--person '" + p + "' is not a person number";
  }
  if (o.kind == "daily") {
    // Month lengths of the given year: the last month has 30 days in a leap year only.
    const int from = MonthDayNumber(o.from, o.year), to = MonthDayNumber(o.to, o.year);
    if (from == 0) return "--from '" + o.from + "' is not a date MM/DD";
    if (to == 0) return "--to '" + o.to + "' is not a date MM/DD";
    if (from > to) return "--from " + o.from + " is after --to " + o.to;
    return std::nullopt;
  }
  const char* what = o.kind == "monthly" ? "month" : "period";
  auto number = [](const std::string& s) {
    return IsDigits(s) && s.size() <= 2 ? std::stoi(s) : 0;
  };
  const int from = number(o.from), to = number(o.to);
  if (from < 1 || from > 12) return "--from '" + o.from + "' is not a " + what + " 1..12";
  if (to < 1 || to > 12) return "--to '" + o.to + "' is not a " + what + " 1..12";
  if (from > to) return "--from " + o.from + " is after --to " + o.to;
  return std::nullopt;
}

namespace {

service::CalcKind KindOf(const CalcOptions& o) {
  return o.kind == "daily"     ? service::CalcKind::kDaily
         : o.kind == "monthly" ? service::CalcKind::kMonthly
                               : service::CalcKind::kPeriodic;
}

// The rows a monthly or periodic calculation wrote, for its last line (nothing for days):
// months and periods without all their days get CSSLog rows instead of a result row.
std::string RangeRowsNote(TZELKLCalculateService& s, const CalcOptions& o) {
  const service::CalcKind kind = KindOf(o);
  if (kind == service::CalcKind::kDaily) return "";
  try {
    const auto rows = s.RangeRowsWritten(kind, std::stoi(o.from), std::stoi(o.to));
    return "; " + std::to_string(rows) + " " +
           (kind == service::CalcKind::kMonthly ? "MahWork" : "PrdWork") +
           " rows written (months or periods not written are in CSSLog)";
  } catch (const std::exception& e) {
    return std::string("; the rows written cannot be counted: ") + e.what();
  }
}

std::string PersonsText(int n) { return std::to_string(n) + (n == 1 ? " person" : " persons"); }

// Everything that went wrong in a calculation, for its last line; empty when all was done.
std::string CalcShortfall(const std::string& what, const management::RunResult& result) {
  if (!result.stopped && result.abandoned == 0 && result.failed_persons == 0 &&
      result.failed_days == 0) {
    return "";
  }
  std::string why = what + (result.stopped ? " stopped by a signal" : " failed") + ": " +
                    PersonsText(result.persons);
  if (result.failed_persons > 0) why += ", " + std::to_string(result.failed_persons) + " failed";
  if (result.failed_days > 0) {
    why += ", " + std::to_string(result.failed_days) +
           (result.failed_days == 1 ? " day" : " days") + " not written (left as they were)";
  }
  if (result.abandoned > 0) {
    why += ", " + std::to_string(result.abandoned) + " given up after their time limit";
  }
  if (!result.first_failure.empty()) why += "; first failure: " + result.first_failure;
  return why;
}

// The calculation itself, with the persons done of total on a terminal; nullopt with the
// failure on stderr when the run could not be prepared or failed as a whole.
std::optional<management::RunResult> RunCalculation(TZELKLCalculateService& s,
                                                    const CalcOptions& o) {
  const bool terminal = TerminalOut(STDERR_FILENO);
  management::ProgressCallback progress;
  if (terminal) {
    progress = [](int done, int total) {
      std::cerr << "\rpersons " << done << " of " << total << std::flush;
    };
  }
  const auto end_progress = [terminal] {
    if (terminal) std::cerr << "\n";
  };
  try {
    management::RunResult result = s.OperatorCalcRun(KindOf(o), o.from, o.to, o.persons, progress);
    end_progress();
    return result;
  } catch (const TZELKLCalculateService::PreparationError& e) {
    end_progress();
    Fail(e.what());
  } catch (const std::exception& e) {
    end_progress();
    Fail(std::string("the ") + o.kind + " calculation failed: " + e.what() + "; " + LogsNote());
  }
  return std::nullopt;
}

}  // namespace

int Calc(const CalcOptions& o) {
  service::StopSignalGuard signals;
  if (!ConfiguredHome()) return kExitFailed;
  service::SetDeepLogMode();
  TZELKLCalculateService s(util::HomeFolder());
  const std::string year = std::to_string(o.year);
  s.PrepareCommand(year);
  const std::optional<management::RunResult> result = RunCalculation(s, o);
  if (!result) return kExitFailed;
  WaitForGivenUpWorkers();
  switch (result->status) {
    case management::RunStatus::kSemaphoreBusy:
      return Fail("another program holds the calculation (Semaphor CALC); nothing was calculated");
    case management::RunStatus::kNoCalcSemaphore:
      return Fail("the table Semaphor has no CALC row; nothing was calculated");
    case management::RunStatus::kCompleted:
      break;
  }
  const std::string written = RangeRowsNote(s, o);
  const std::string what = o.kind + " calculation of " + o.from + " - " + o.to + " in " + year;
  if (const std::string why = CalcShortfall(what, *result); !why.empty()) {
    return Fail(why + "; " + RunNote());
  }
  std::cout << what << " done for " << PersonsText(result->persons) << written << "; " << RunNote()
            << "\n";
  return kExitOk;
}

std::optional<std::string> CheckExplainOptions(const ExplainOptions& o) {
  if (o.year < 1300 || o.year > 9999) return "--year must be a Jalali year YYYY (1300 or later)";
  if (o.person.empty() || util::TrimControls(o.person).empty()) return "--person is required";
  if (o.date.empty() == (o.month == 0)) return "give --date MM/DD or --month MM (one of them)";
  if (o.month != 0 && (o.month < 1 || o.month > 12)) return "--month must be 1..12";
  if (!o.date.empty()) {
    const int n = MonthDayNumber(o.date, o.year);
    if (n == 0 || n % 32 > engine::MonthDays(o.year, n / 32)) {
      return "--date must be a day MM/DD of " + std::to_string(o.year) + ", not '" + o.date + "'";
    }
  }
  if (o.format != "text" && o.format != "svg" && o.format != "json") {
    return "--format must be text, svg or json";
  }
  return std::nullopt;
}

int Explain(const ExplainOptions& o) {
  const std::string home = util::HomeFolder();
  const service::ServiceConfig config = service::ReadServiceConfig(service::IniPath(home));
  const db::ConnectionSettings settings = service::BaseConnectionSettings(config, home);
  explain::ExplainRequest request;
  request.data_dir = settings.data_dir;
  request.odbc_driver = settings.odbc_driver;
  request.database_name = config.database_name;
  request.server_name = config.server_name;
  request.user_name = config.user_name;
  request.password = config.password;
  request.year = std::to_string(o.year);
  request.person = util::TrimControls(o.person);
  auto pad2 = [](int n) { return std::string(n < 10 ? "0" : "") + std::to_string(n); };
  if (o.month != 0) {
    for (int d = 1; d <= engine::MonthDays(o.year, o.month); ++d) {
      request.dates.push_back(pad2(o.month) + "/" + pad2(d));
    }
  } else {
    request.dates.push_back(o.date);
  }
  try {
    const std::vector<explain::DayExplanation> days = explain::ExplainDays(request);
    std::vector<explain::ColumnAmount> month_totals;
    if (o.month != 0) {
      month_totals = explain::StoredMonthTotals(request, o.month);
    }
    if (o.format == "svg") {
      std::cout << explain::RenderSvg(days, month_totals);
    } else if (o.format == "json") {
      std::cout << explain::RenderJson(days, month_totals);
    } else {
      std::cout << explain::RenderText(days, month_totals);
    }
    return kExitOk;
  } catch (const std::exception& e) {
    return Fail(std::string("explain: ") + e.what());
  }
}

int TransferClock(int year_number) {
  return IntakeCommand(
      year_number, IntakeStep::kClock, TZELKLCalculateService::IntakePersons::kEveryPerson,
      "labelling", "labelled", [](const IntakeStepResult& r, const std::string& year) {
        const clockrec::ClockRecCounts& n = r.clock.counts;
        std::cout << "clock records of " << year << ": " << n.Labelled()
                  << " punches labelled: " << n.entries << " entry, " << n.exits << " exit, "
                  << n.undecided << " undecided; " << n.unsure << " unsure";
        if (n.unlabelled > 0) {
          std::cout << "; " << n.unlabelled << " left unlabelled (" << n.malformed
                    << " with a malformed date or time, see CSSLog)";
        }
        if (n.skipped > 0) std::cout << "; " << n.skipped << " kept back and reported in CSSLog";
        std::cout << "\n";
        if (r.done) std::cout << LogsNote() << "\n";
      });
}

int DbInit(const std::vector<int>& years) {
  try {
    service::HomeSetupResult r = service::InitEmbeddedHome(util::HomeFolder(), years);
    if (r.ini_written) {
      std::cout << "wrote " << service::IniPath(util::HomeFolder()) << " (embedded engine)\n";
    }
    for (const auto& name : r.created) std::cout << "created database " << name << "\n";
    for (const auto& name : r.already_there) std::cout << "kept existing database " << name << "\n";
    return kExitOk;
  } catch (const std::exception& e) {
    return Fail(std::string("db init: ") + e.what());
  }
}

int DbDemo(engine::demo::DemoOptions options) {
  try {
    const std::string home = util::HomeFolder();
    if (!std::filesystem::exists(std::filesystem::path(home) / "Data")) {
      std::vector<int> years;
      if (!options.year.empty()) years.push_back(std::stoi(options.year));
      service::HomeSetupResult r = service::InitEmbeddedHome(home, years);
      for (const auto& name : r.created) std::cout << "created database " << name << "\n";
    }
    service::TZELKLCalculateService s(home);
    s.LoadConfiguration();
    if (!s.Config().server_name.empty()) {
      return Fail("db demo fills the embedded engine only; Korlan.Ini names a SQL Server");
    }
    options.database_name = s.Config().database_name;
    options.records_as_punches = true;
    const engine::demo::DemoSummary r =
        engine::demo::GenerateDemoOrganisation(s.ServerSettings(), options);
    std::cout << "demo organisation " << r.year << ", month " << r.month << ": " << r.persons
              << " persons, " << r.io_records << " entry/exit records, " << r.punches
              << " punches (" << r.card_punches << " with a special card), " << r.web_requests
              << " web requests, " << r.leaves << " leaves, " << r.missions << " missions, "
              << r.permissions
              << " permissions; a daily schedule entry labels and transfers the punches and "
                 "calculates the "
                 "current month\n";
    return kExitOk;
  } catch (const std::exception& e) {
    return Fail(std::string("db demo: ") + e.what());
  }
}

int Sql(const std::string& database, const std::string& file, const std::string& text) {
  std::string script;
  try {
    script = file.empty() ? text : ReadFileText(file);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  if (!ConfiguredHome()) return kExitFailed;
  const std::string home = util::HomeFolder();
  db::ConnectionSettings settings =
      service::BaseConnectionSettings(service::ReadServiceConfig(service::IniPath(home)), home);
  if (!database.empty()) settings.database = database;
  std::unique_ptr<db::Connection> connection;
  try {
    connection = db::Connect(settings);
  } catch (const std::exception& e) {
    return Fail(std::string("cannot connect: ") + e.what());
  }
  const bool terminal = TerminalOut(STDOUT_FILENO);
  int number = 0;
  for (const std::string& batch : db::SplitBatches(script)) {
    ++number;
    try {
      db::ResultSet rows = connection->Execute(batch);
      if (rows.has_columns) {
        std::cout << (terminal ? FormatTable(rows) : FormatTabSeparated(rows)) << std::flush;
      }
    } catch (const std::exception& e) {
      return Fail("batch " + std::to_string(number) + " failed: " + e.what());
    }
  }
  return kExitOk;
}

int Hold(const std::string& action, bool force) {
  if (!ConfiguredHome()) return kExitFailed;
  TZELKLCalculateService s(util::HomeFolder());
  s.LoadConfiguration();
  management::HoldState hold;
  try {
    hold = s.ReadCalcHold();
  } catch (const std::exception& e) {
    return Fail(std::string("cannot read the calculation hold: ") + e.what());
  }
  if (!hold.row) return Fail("the table Semaphor has no CALC row");
  const management::HoldHolder holder = management::ParseHoldHolder(hold.holder);
  const bool here = management::HolderIsThisComputer(holder);
  const bool gone = management::HolderIsGone(holder);
  std::string whose = hold.holder.empty() ? "an unnamed holder" : hold.holder;
  if (!here) {
    whose += " (another computer)";
  } else if (holder.pid) {
    whose += gone ? " (this computer; the process no longer runs)"
                  : " (this computer; process " + std::to_string(*holder.pid) + " runs)";
  } else {
    whose += " (this computer)";
  }
  if (action == "status") {
    if (hold.amount <= 0) {
      std::cout << "the calculation hold is free\n";
    } else {
      std::cout << "the calculation hold is taken by " << whose << "\n";
    }
    return kExitOk;
  }
  if (hold.amount <= 0) {
    std::cout << "the calculation hold is free; nothing to release\n";
    return kExitOk;
  }
  if (!force && !gone) {
    if (!here) {
      return Fail("the calculation hold belongs to another computer: " + whose +
                  "; release it only when no calculation runs there (hold release --force)");
    }
    if (holder.pid) {
      return Fail("the calculation hold belongs to a running program: " + whose +
                  "; stop it, or release with --force");
    }
  }
  try {
    if (!s.ReleaseCalcHoldOf(hold.holder)) {
      return Fail("the calculation hold changed meanwhile; run hold status again");
    }
  } catch (const std::exception& e) {
    return Fail(std::string("cannot release the calculation hold: ") + e.what());
  }
  std::cout << "released the calculation hold of " << whose << "\n";
  return kExitOk;
}

namespace {
// Registers with or removes from systemd (`change` raises with the reason); false, with the
// reason on stderr, when systemd is absent or the change failed.
bool ChangeUnit(const std::string& command, const std::function<void()>& change) {
  if (!service::HasSystemd()) {
    Fail(command +
         " needs systemd, and systemd is not running on this machine "
         "(no /run/systemd/system)");
    return false;
  }
  try {
    change();
  } catch (const std::exception& e) {
    Fail(command + ": " + e.what());
    return false;
  }
  return true;
}
}  // namespace

int Install() {
  if (!ChangeUnit("install",
                  [] { service::InstallUnit(service::ExecutablePath(), util::HomeFolder()); })) {
    return kExitFailed;
  }
  TZELKLCalculateService s(util::HomeFolder());
  std::cout << "installed " << service::UnitFilePath() << "\n";
  if (!s.ServiceAfterInstall()) {
    return Fail(std::string(service::kServiceName) +
                " is installed but does not run; see journalctl -u " + service::kServiceName);
  }
  std::cout << service::kServiceName << " runs\n";
  return kExitOk;
}

int Uninstall() {
  if (!ChangeUnit("uninstall", [] { service::UninstallUnit(); })) return kExitFailed;
  TZELKLCalculateService s(util::HomeFolder());
  s.ServiceAfterUninstall();
  std::cout << "removed " << service::kServiceName << "\n";
  return kExitOk;
}

int Version() {
  std::cout << "zelkl-calc " << service::ModuleVersionText() << "\n";
  return kExitOk;
}

namespace {
// One line from stdin; without echo when stdin is a terminal.
std::optional<std::string> ReadSecretLine(const char* prompt) {
  const bool terminal = isatty(STDIN_FILENO) == 1;
  termios saved{};
  if (terminal) {
    std::cerr << prompt << std::flush;
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  std::string line;
  const bool ok = static_cast<bool>(std::getline(std::cin, line));
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::cerr << "\n";
  }
  if (!ok) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}
}  // namespace

int Password() {
  auto password = ReadSecretLine("SQL password: ");
  if (!password) return Fail("no password given");
  if (isatty(STDIN_FILENO) == 1) {
    auto again = ReadSecretLine("again: ");
    if (!again || *again != *password) return Fail("the two passwords differ; nothing written");
  }
  try {
    const std::string scrambled = service::EncodeIniPassword(*password);
    service::IniFile ini(service::IniPath(util::HomeFolder()));
    ini.WriteString(service::kIniSection, "USERPASSWORD", scrambled);
    std::cout << "USERPASSWORD written (scrambled) to " << ini.Path() << "\n";
    return kExitOk;
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}

int Passcode() {
  std::cout << dates::TZELDateEncoder::Encode(dates::Today()) << "\n";
  return kExitOk;
}

}  // namespace zel::app
