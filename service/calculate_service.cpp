#include "service/calculate_service.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "dates/clock.h"
#include "dates/date_parser.h"
#include "dates/date_time.h"
#include "dates/jalali.h"
#include "db/ado_utils.h"
#include "db/calc_changes.h"
#include "management/calc_hold.h"
#include "schema/schema.h"
#include "service/platform.h"
#include "service/service_log.h"
#include "service/systemd_unit.h"
#include "util/text.h"

namespace zel::service {

namespace {

using management::RunResult;

// Today's Jalali date "YYYY/MM/DD" and the time "HH:MM" of one reading of the clock.
void CurrentMoment(std::string& date, std::string& time_hhnn) {
  const dates::DateTime now = dates::Now();
  const dates::JalaliDate d = dates::DecodeJalaliDate(now);
  date = dates::TZELDateParser::Format_YYYYMMDD(d.year, d.month, d.day);
  time_hhnn = dates::FormatTime_HHNN(now);
}

std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (auto l : lines) {
    text += l;
    text += '\n';
  }
  return text;
}

// A name inside [ ]: a closing bracket in it is doubled.
std::string Bracketed(const std::string& name) {
  std::string out = "[";
  for (char c : name) {
    out += c;
    if (c == ']') out += ']';
  }
  return out + "]";
}

// The code of the calculation hold, the row "CALC" of Semaphor.
int CalcHoldCode() { return *SemaphoreCode(SemaphoreCodeTable(), "CALC"); }

const char* const kHeldByAnother = "فرد ديگري در اين فرم است .";

// The record intake works on the whole year of CurrentYear with two workers at most.
const char* const kIntakeFirstDay = "01/01";
const char* const kIntakeLastDay = "12/29";
constexpr int kIntakeWorkers = 2;

// The process tests' pause before an intake step (see RunIntake): creates the file the
// environment names and waits until it is removed or a stop is requested.
void PauseBeforeIntakeStep() {
  const char* path = std::getenv("ZEL_TEST_INTAKE_PAUSE");
  if (path == nullptr || *path == '\0') return;
  std::ofstream(path) << ::getpid() << "\n";
  std::error_code ec;
  while (std::filesystem::exists(path, ec) && !WaitForStop(std::chrono::milliseconds(10))) {
  }
}

}  // namespace

std::vector<std::string> SemaphoreCodeTable() {
  return {"EnterSystem=1",
          "Morkhasi=2",
          "DailyMorkhasi=3",
          "DailyExtraPerm=4",
          "MonthlyExtraPerm=5",
          "Mission=6",
          "DailyMission=7",
          "ServiceLate=8",
          "Present=9",
          "Suspension=10",
          "DailySpecExtDef=11",
          "MonthlySpecExtDef=12",
          "MonthlySpecMorDef=13",
          "MorkhasiLeftMonth=14",
          "MorkhasiLeftPeriod=15",
          "IOINFO=16",
          "CALC=17",
          "LT=18",
          "CLOCKDUMP=19",
          "CONFIRM=20"};
}

std::string ServerMachineNameOf(const std::string& server_name) {
  return server_name.substr(0, server_name.find('\\'));
}

std::string ServiceDescriptionText() {
  return "Version " + ModuleVersionText() + " Publish Date : " + "2020/10/24" +
         " Provides calculate service for Vesprin time attendance system ";
}

TZELKLCalculateService::TZELKLCalculateService(std::string home) : FHome(std::move(home)) {}

TZELKLCalculateService::~TZELKLCalculateService() = default;

// --- connections ------------------------------------------------------------------------

db::ConnectionSettings BaseConnectionSettings(const ServiceConfig& config,
                                              const std::string& home) {
  db::ConnectionSettings s;
  s.server = config.server_name;
  s.user = config.user_name;
  s.password = config.password;
  s.database = config.database_name;
  s.data_dir = home + "/Data";
  s.odbc_driver = config.odbc_driver;
  return s;
}

db::ConnectionSettings TZELKLCalculateService::BaseSettings() const {
  return BaseConnectionSettings(FConfig, FHome);
}

db::ConnectionSettings TZELKLCalculateService::YearSettings(const std::string& year) const {
  db::ConnectionSettings s = BaseSettings();
  s.database = FConfig.database_name + "_" + year;
  return s;
}

db::ConnectionSettings TZELKLCalculateService::ServerSettings() const {
  db::ConnectionSettings s = BaseSettings();
  s.database.clear();
  return s;
}

void TZELKLCalculateService::ConnectAdoc() {
  FADOC.reset();
  FADOC = db::Connect(BaseSettings());
}

db::Connection& TZELKLCalculateService::Adoc() {
  if (!FADOC) ConnectAdoc();
  return *FADOC;
}

// --- logging ----------------------------------------------------------------------------

void TZELKLCalculateService::LogText(const std::string& AValue, const std::string& AFileName,
                                     bool LogTime, bool IsEnableLog) const {
  zel::service::LogText(AValue, AFileName, LogTime, IsEnableLog);
}

void TZELKLCalculateService::InsertServiceLog(int ScheduleId, const std::string& PerNo,
                                              const std::string& Comment) {
  try {
    if (FADOC) {
      zel::service::InsertServiceLog(*FADOC, ScheduleId, PerNo, Comment);
    } else {
      auto connection = db::Connect(BaseSettings());
      zel::service::InsertServiceLog(*connection, ScheduleId, PerNo, Comment);
    }
  } catch (...) {
    // A lost row is not reported.
  }
}

// --- lifecycle --------------------------------------------------------------------------

void TZELKLCalculateService::LoadConfiguration() {
  const std::string path = IniPath(FHome);
  LogText("Korlan.ini is going to be loaded from :" + path);
  FConfig = ReadServiceConfig(path);
}

void TZELKLCalculateService::FillSemaphoreList() { FSemaphoreList = SemaphoreCodeTable(); }

void TZELKLCalculateService::ServiceStart(bool& Started) {
  LogText(std::string(54, '*'));
  LogText("ServiceStart Started");
  LoadConfiguration();
  std::unique_ptr<db::Connection> base;
  PrepareBaseTables(base);
  ReadCurrentYear(base);
  WriteLogInRow(base);
  PrepareYearView();
  Started = true;
  FillSemaphoreList();
}

db::Connection& TZELKLCalculateService::Connected(std::unique_ptr<db::Connection>& base) const {
  if (!base) base = db::Connect(BaseSettings());
  return *base;
}

void TZELKLCalculateService::PrepareBaseTables(std::unique_ptr<db::Connection>& base) {
  try {
    Connected(base).Execute(
        Lines({"if ( (select top 1 is_identity from sys.columns c WHERE c.object_id = "
               "OBJECT_ID('CSSLog') and c.name = 'id') <> 1) ",
               "Begin ", "Alter Table CSSLog DROP CONSTRAINT PK_CSSLOG ",
               "Alter Table CSSLog drop  COLUMN id ",
               "Alter Table CSSLog Add  Id int IDENTITY(1,1) not null ", "End ; "}));
  } catch (const std::exception& e) {
    LogText(std::string("Error In Update CSSLog : ") + e.what());
  }
  try {
    if (base) db::EnsureCalcChangesTable(*base);
  } catch (const std::exception& e) {
    LogText(std::string("Error In Create CalcChanges : ") + e.what());
  }
}

void TZELKLCalculateService::ReadCurrentYear(std::unique_ptr<db::Connection>& base) {
  try {
    db::ResultSet rs = Connected(base).Execute("SELECT CalcYear FROM CSSchedule");
    if (!rs.rows.empty() && !rs.rows[0].empty()) FCurrentYear = rs.rows[0][0].AsString();
  } catch (const std::exception& e) {
    LogText(std::string("Error While Reading CurrentYear: ") + e.what());
  }
}

void TZELKLCalculateService::WriteLogInRow(std::unique_ptr<db::Connection>& base) {
  std::string server_ip = "<Error>", server_port = "<Error>", client_ip = "<Error>";
  try {
    auto server = db::Connect(ServerSettings());
    try {
      GetServerIP(*server, server_ip, server_port, client_ip);
    } catch (const std::exception& e) {
      LogText(std::string("Error while retriving ServerIP: ") + e.what());
    }
  } catch (const std::exception& e) {
    LogText(std::string("Error while Connecting to Server: ") + e.what());
  }

  CurrentMoment(FStartDate, FStartTime);

  try {
    db::Dataset users(Connected(base));
    users.SetSQL({"SELECT * FROM UsersLog"});
    users.Open();
    users.Append();
    try {
      users.SetField("Code", "SRV");
      users.SetField("BeginDate", FStartDate);
      users.SetField("BeginTime", FStartTime);
      users.SetField("ClientVersion", ModuleVersionText());
      users.SetField("ServerIP", server_ip);
      users.SetField("ServerPort", server_port);
      users.SetField("ClientIP", client_ip);
      users.SetField("ServerMachineName", ServerMachineNameOf(FConfig.server_name));
      users.SetField("ClientMachineName", LocalComputerName());
      users.Post();
    } catch (...) {
      users.Cancel();
      throw;
    }
  } catch (...) {
    // The log-in row is optional: its failure is not reported.
  }
}

void TZELKLCalculateService::PrepareYearView() {
  if (FCurrentYear.size() != 4) {
    LogText("CurrentYear value is not correct.");
    return;
  }
  // A hold left by a process that is gone goes first; the view is re-created only while
  // holding, so a calculation running meanwhile never loses it.
  ResetSemaphoreAfterCalc();
  try {
    if (!WithCalcHold([&] { CreateCalItemView(FCurrentYear); })) {
      LogText("V_GetCalItem left as it is: another program holds the calculation");
    }
  } catch (const std::exception& e) {
    LogText(std::string("Error While Creating V_GetCalItem: ") + e.what());
  }
}

void TZELKLCalculateService::GetServerIP(db::Connection& connection, std::string& ServerIP,
                                         std::string& ServerPort, std::string& ClientIP) {
  db::TADOUtils::GetServerIP(connection, ServerIP, ServerPort, ClientIP);
}

void TZELKLCalculateService::CreateCalItemView(const std::string& year) {
  const std::string& B = FConfig.database_name;
  auto server = db::Connect(ServerSettings());
  const std::string use = " USE " + Bracketed(B + "_" + year) + " ";
  server->Execute(use);
  try {
    server->Execute(Lines({"IF EXISTS(SELECT * FROM sys.views WHERE name = 'V_GetCalItem')",
                           " DROP VIEW [dbo].[V_GetCalItem] "}));
  } catch (...) {
    // Errors ignored here: a view that cannot be dropped is replaced below or stays.
  }
  server->Execute(use);
  try {
    server->Execute(std::string(" CREATE VIEW [dbo].[V_GetCalItem] ") + " AS " +
                    db::CalItemViewSelect(B));
  } catch (...) {
    // Errors ignored here: a view that exists already serves the runs as it is.
  }
}

void TZELKLCalculateService::ResetSemaphoreAfterCalc() {
  try {
    auto base = db::Connect(BaseSettings());
    const auto code =
        SemaphoreCode(FSemaphoreList.empty() ? SemaphoreCodeTable() : FSemaphoreList, "CALC");
    if (!code) return;
    const management::HoldState hold = management::ReadCalcHold(*base, *code);
    if (!hold.row || hold.amount <= 0) return;
    // Only a hold this computer left behind is ours to release, and only when its process
    // is gone (a hold without a process id is an older program's: released as before);
    // another computer's run, or a live program here, may still be calculating.
    const management::HoldHolder holder = management::ParseHoldHolder(hold.holder);
    if (!management::HolderIsThisComputer(holder)) return;
    if (holder.pid && !management::HolderIsGone(holder)) return;
    // The statement names the holder, so a hold taken anew meanwhile stays.
    if (management::ReleaseCalcHold(*base, *code, hold.holder)) {
      LogText("Released the calculation hold of " + hold.holder + ", which no longer runs");
    }
  } catch (const std::exception& e) {
    LogText(std::string("Error ResetSemaphoreAfterCalc After Start Service : ") + e.what());
  }
}

bool TZELKLCalculateService::WithCalcHold(const std::function<void()>& work) {
  auto base = db::Connect(BaseSettings());
  const int code = CalcHoldCode();
  const std::string holder = management::ThisHoldHolder();
  if (!management::TakeCalcHold(*base, code, holder)) return false;
  try {
    work();
  } catch (...) {
    management::ReleaseCalcHold(*base, code, holder);
    throw;
  }
  management::ReleaseCalcHold(*base, code, holder);
  return true;
}

void TZELKLCalculateService::ServiceExecute(std::chrono::milliseconds first_pass_after) {
  LogText("ServiceExecute Started");
  WriteServiceDescription();
  ResetSemaphoreAfterCalc();
  FTDBCheckEnabled = true;
  std::chrono::milliseconds wait = first_pass_after;
  for (;;) {
    try {
      if (WaitForStop(wait)) break;
      if (FTDBCheckEnabled) TDBCheckTimer();
    } catch (const std::exception& e) {
      LogText(std::string("Error In ServiceThread while not Terminated \"") + e.what() + "\" ...");
    }
    // The next pass comes 60 seconds after this one ended.
    wait = std::chrono::seconds(60);
  }
  FTDBCheckEnabled = false;
}

void TZELKLCalculateService::ServiceStop(bool& Stopped) {
  try {
    auto base = db::Connect(BaseSettings());
    db::Dataset q(*base);
    q.SetSQL(
        {" SELECT EndDate, EndTime         FROM UsersLog                   WHERE "
         "BeginDate = :PBeginDate       AND BeginTime = :PBeginTime"});
    q.SetParam("PBeginDate", FStartDate);
    q.SetParam("PBeginTime", FStartTime);
    q.Open();
    if (!q.IsEmpty()) {
      std::string end_date, end_time;
      CurrentMoment(end_date, end_time);
      // The log-in row is this service's own open row of that start; other programs' open
      // rows are never touched.
      db::Dataset update(*base);
      update.SetSQL({" UPDATE UsersLog SET EndDate = :PEndDate, EndTime = :PEndTime ",
                     " WHERE BeginDate = :PBeginDate AND BeginTime = :PBeginTime ",
                     " AND Code = 'SRV' AND ClientMachineName = :PHost AND EndDate IS NULL "});
      update.SetParam("PEndDate", end_date);
      update.SetParam("PEndTime", end_time);
      update.SetParam("PBeginDate", FStartDate);
      update.SetParam("PBeginTime", FStartTime);
      update.SetParam("PHost", LocalComputerName());
      update.ExecSQL();
    }
  } catch (const std::exception& e) {
    LogText(std::string("Error While Logging out service: ") + e.what());
  }
  const std::string rule(71, '-');
  LogText(rule);
  LogText("Stop Service");
  LogText(rule);
  Stopped = true;
}

void TZELKLCalculateService::WriteServiceDescription() {
  UpdateUnitDescription(UnitFilePath(), ServiceDescriptionText());
}

bool TZELKLCalculateService::ServiceAfterInstall() {
  WriteServiceDescription();
  return StartInstalledService(kServiceName);
}

void TZELKLCalculateService::ServiceAfterUninstall() { LogText("New ServiceExecute UnInstalled"); }

// --- the schedule pass ------------------------------------------------------------------

int TZELKLCalculateService::GetCalcOrServiceState() {
  try {
    db::ResultSet rs = Adoc().Execute(Lines({" Select KorlanCalcOrService ", " From System "}));
    if (rs.rows.empty() || rs.rows[0].empty()) return 10;
    const int64_t v = rs.rows[0][0].AsInteger();
    return v == 0 || v == 3 || v == 4 || v == 10 ? static_cast<int>(v) : 10;
  } catch (...) {
    return 10;
  }
}

std::optional<ScheduleEntry> TZELKLCalculateService::ReadEntry(int ScheduleId,
                                                               bool with_calc_year) {
  db::Dataset q(Adoc());
  q.SetSQL({" Select ScheduleId, ScheduleType, StartTime, Data1, Data2, LastRunDate, ",
            with_calc_year
                ? " LastRunTime, FromDate, ToDate, FromMahPeriod, ToMahPeriod, CalcYear, "
                : " LastRunTime, FromDate, ToDate, FromMahPeriod, ToMahPeriod, ",
            " SubCalcType, DifCurDay, DifCurMP, Transfer, Uncertains, TransMor, TransMam, "
            "TransSLate ",
            " From CSSchedule ", " Where ScheduleId = " + std::to_string(ScheduleId) + " "});
  q.Open();
  if (q.IsEmpty()) return std::nullopt;
  return ScheduleEntryFromRow(q);
}

bool TZELKLCalculateService::MustRunIt(int ScheduleId) {
  try {
    auto entry = ReadEntry(ScheduleId, false);
    if (!entry) throw std::runtime_error("ScheduleId " + std::to_string(ScheduleId) + " not found");
    const std::string now = dates::NowTime_HHNNSS().substr(0, 5);
    return zel::service::MustRunIt(*entry, FCurrentDate, now);
  } catch (const std::exception& e) {
    LogText(std::string("Error MustRunIt in CSMain : ") + e.what());
    return false;
  }
}

bool TZELKLCalculateService::IsInTime(int ScheduleId) {
  try {
    auto entry = ReadEntry(ScheduleId, true);
    if (!entry) throw std::runtime_error("ScheduleId " + std::to_string(ScheduleId) + " not found");
    return zel::service::IsInTime(*entry, FCurrentDate);
  } catch (const std::exception& e) {
    LogText(std::string("Error IsInTime in CSMain : ") + e.what());
    return false;
  }
}

void TZELKLCalculateService::FillPersonTable(int ScheduleId) {
  db::Connection& c = Adoc();
  const std::string id = std::to_string(ScheduleId);
  c.Execute(" Truncate Table CSSPerTemp ");
  db::Dataset persons(c);
  persons.SetSQL({" Select * From CSSPersons ", " Where ScheduleId = " + id + " "});
  persons.Open();
  if (!persons.IsEmpty()) {
    c.Execute(Lines({" Insert Into CSSPerTemp (PerNo) Select PerNo From CSSPersons ",
                     " Where ScheduleId = " + id + " "}));
  } else {
    c.Execute(" Insert Into CSSPerTemp (PerNo) Select PerNo From Person ");
  }
}

void TZELKLCalculateService::TDBCheckTimer() {
  if (FCalcServiceIsRunning) return;
  FLastPass = PassReport{};
  if (GetCalcOrServiceState() == 3) return;
  FLastPass.ran = true;
  FTDBCheckEnabled = false;
  FCalcServiceIsRunning = true;
  // Whatever happens, the timer comes back and the connection is closed.
  struct PassEnd {
    TZELKLCalculateService& s;
    ~PassEnd() {
      s.FTDBCheckEnabled = true;
      s.FCalcServiceIsRunning = false;
      s.DisconnectAdoc();
    }
  } pass_end{*this};

  try {
    ConnectAdoc();
  } catch (const std::exception& e) {
    LogText(std::string("Error In ZELKLCalculateService.ADOC.ConnectionString \" ") + e.what() +
            " \"");
  }
  FCurrentDate = dates::JalaliToday();
  LogText("CurDate ==>> " + FCurrentDate);

  try {
    db::Dataset schedule(Adoc());
    schedule.SetSQL(ScheduleQueryLines());
    schedule.Open();
    for (; !schedule.Eof(); schedule.Next()) {
      if (StopRequested()) {
        FLastPass.stopped = true;
        break;
      }
      const ScheduleEntry entry = ScheduleEntryFromRow(schedule);
      const std::string id = std::to_string(entry.ScheduleId);
      LogText("Before Must Run It ==> ScheduleId = " + id);
      if (!MustRunIt(entry.ScheduleId)) continue;
      LogText("After Must Run It ==> ScheduleId = " + id);
      ++FLastPass.due;
      RunEntry(entry);
    }
  } catch (const std::exception& e) {
    LogText(std::string("Error Qhelp in TDBCheckTimer : ") + e.what());
    FLastPass.error = e.what();
  }
}

void TZELKLCalculateService::RunEntry(const ScheduleEntry& entry) {
  // The person table is filled by each run once it holds the calculation: the intake and
  // the calculation alike.
  FFillForEntry = entry.ScheduleId;
  struct EntryEnd {
    std::optional<int>& fill;
    ~EntryEnd() { fill.reset(); }
  } entry_end{FFillForEntry};
  FCurrentYear = entry.CalcYear;
  FMyCalcScheduleId = entry.ScheduleId;
  LogText("Before Get CalcType ...");
  if (entry.CalcType == 0 && entry.Transfer == 1 && !RunTransfers(entry)) return;
  // A stop during the intake leaves the calculation (and so the entry's last run) for the
  // next pass.
  if (StopRequested()) {
    FLastPass.stopped = true;
    return;
  }
  switch (entry.CalcType) {
    case 0:
      RunDaily(entry);
      break;
    case 1:
      RunMonthlyOrPeriodic(entry, true);
      break;
    case 2:
      RunMonthlyOrPeriodic(entry, false);
      break;
    default:
      break;
  }
}

bool TZELKLCalculateService::RunTransfers(const ScheduleEntry& entry) {
  LogText("Start IO Transfer ...");
  std::vector<IntakeStep> steps{IntakeStep::kClock};
  if (entry.TransSLate == 1) steps.push_back(IntakeStep::kServiceLate);
  if (entry.TransMor == 1) steps.push_back(IntakeStep::kLeave);
  if (entry.TransMam == 1) steps.push_back(IntakeStep::kMission);
  steps.push_back(entry.Uncertains == 1 ? IntakeStep::kIo : IntakeStep::kIoCertainOnly);
  // A failure is logged and kept in CSSLog under its own message, as the users see it.
  auto failed = [&](const std::string& step, const std::string& error) {
    LogText("Error After Transfer in TDBCheckTimer : " + error);
    InsertServiceLog(FMyCalcScheduleId, "", error);
    if (FLastPass.failed_steps++ == 0) FLastPass.first_failed_step = step + ": " + error;
  };
  bool go_on = true;
  try {
    const IntakeResult r = RunIntake(steps, IntakePersons::kScheduleEntry, entry.ScheduleId);
    if (!r.held) {
      LogText("Transfer not run: another program holds the calculation");
      ++FLastPass.refused;
      go_on = false;
    }
    if (!r.error.empty()) failed("intake", r.error);
    for (const IntakeStepResult& step : r.steps) {
      const std::string name = IntakeStepName(step.step);
      if (!step.done && !step.stopped) failed(name, step.error);
      if (const int n = step.Skipped(); n > 0) {
        auto& skipped = FLastPass.skipped;
        auto it = std::find_if(skipped.begin(), skipped.end(),
                               [&](const auto& s) { return s.first == name; });
        if (it == skipped.end()) {
          skipped.emplace_back(name, n);
        } else {
          it->second += n;
        }
      }
    }
    if (r.stopped) {
      FLastPass.stopped = true;
      go_on = false;
    }
  } catch (const std::exception& e) {
    failed("intake", e.what());
  }
  LogText("Transfer IO Data Compeleted ...");
  return go_on;
}

const char* TZELKLCalculateService::IntakeStepName(IntakeStep step) {
  switch (step) {
    case IntakeStep::kClock:
      return "clock";
    case IntakeStep::kServiceLate:
      return "service-late";
    case IntakeStep::kLeave:
      return "leave";
    case IntakeStep::kMission:
      return "mission";
    case IntakeStep::kIo:
    case IntakeStep::kIoCertainOnly:
      break;
  }
  return "io";
}

int TZELKLCalculateService::IntakeStepResult::Skipped() const {
  return step == IntakeStep::kClock ? clock.counts.skipped
                                    : transfer.io.PunchesKept + transfer.io.HalvesUnreadable +
                                          transfer.permission.Reported;
}

TZELKLCalculateService::IntakeResult TZELKLCalculateService::RunIntake(
    const std::vector<IntakeStep>& steps, IntakePersons persons, int ScheduleId) {
  IntakeResult result;
  result.held = WithCalcHold([&] {
    try {
      if (persons == IntakePersons::kScheduleEntry) {
        FillPersonTable(ScheduleId);
      } else {
        PrepareOperatorRun(persons);
      }
    } catch (const PreparationError& e) {
      result.error = e.what();
      return;
    } catch (const std::exception& e) {
      result.error = std::string("cannot fill the person table CSSPerTemp: ") + e.what();
      return;
    }
    for (std::size_t i = 0; i < steps.size(); ++i) {
      PauseBeforeIntakeStep();
      if (StopRequested()) break;
      result.steps.push_back(RunIntakeStep(steps[i], ScheduleId));
      if (result.steps.back().stopped) break;
      // The schedule runner lets a step's writes settle before the next one.
      if (persons == IntakePersons::kScheduleEntry && result.steps.back().done &&
          i + 1 < steps.size() && WaitForStop(std::chrono::milliseconds(1000))) {
        break;
      }
    }
    result.stopped = result.steps.size() < steps.size() ||
                     (!result.steps.empty() && result.steps.back().stopped);
  });
  if (!result.held) InsertServiceLog(ScheduleId, "", kHeldByAnother);
  return result;
}

TZELKLCalculateService::IntakeStepResult TZELKLCalculateService::RunIntakeStep(IntakeStep step,
                                                                               int ScheduleId) {
  IntakeStepResult r;
  r.step = step;
  if (step == IntakeStep::kClock) {
    r.clock = SetClockDmpRecords();
    r.done = r.clock.completed;
    r.stopped = r.clock.stopped;
    r.error = r.clock.error;
  } else {
    const int type = step == IntakeStep::kServiceLate ? 1
                     : step == IntakeStep::kLeave     ? 2
                     : step == IntakeStep::kMission   ? 3
                     : step == IntakeStep::kIo        ? 4
                                                      : 5;
    r.transfer = TransferRecords(type, ScheduleId);
    r.done = r.transfer.done;
    r.stopped = r.transfer.stopped;
    r.error = r.transfer.error;
  }
  return r;
}

management::CalculatorSettings TZELKLCalculateService::ManagerSettings(int ScheduleId,
                                                                       const std::string& from,
                                                                       const std::string& to,
                                                                       int max_thread) const {
  const db::ConnectionSettings base = BaseSettings();
  return management::CalculatorSettings{.server = base.server,
                                        .user = base.user,
                                        .password = base.password,
                                        .database_name = base.database,
                                        .data_dir = base.data_dir,
                                        .odbc_driver = base.odbc_driver,
                                        .current_year = FCurrentYear,
                                        .max_thread = max_thread,
                                        .enable_log = FConfig.enable_log,
                                        .schedule_id = ScheduleId,
                                        .semaphore_list = FSemaphoreList,
                                        .from_date = from,
                                        .to_date = to,
                                        .temp_table_name = "CSSPerTemp",
                                        .calc_mode = 4,
                                        .changes_keep_days = FConfig.changes_keep_days,
                                        // the run records its changes under its own start
                                        .pass_date = "",
                                        .pass_time = ""};
}

management::ClockRecResult TZELKLCalculateService::SetClockDmpRecords() {
  management::TZELCalculatorManagement manager(
      ManagerSettings(0, kIntakeFirstDay, kIntakeLastDay, kIntakeWorkers));
  manager.SetStopCheck([] { return StopRequested(); });
  return manager.RunSetClockDmpRecordsForPersonList();
}

management::TransferRunResult TZELKLCalculateService::TransferRecords(int TransType,
                                                                      int ScheduleId) {
  management::TransferRunResult result;
  try {
    management::CalculatorSettings s =
        ManagerSettings(ScheduleId, kIntakeFirstDay, kIntakeLastDay, kIntakeWorkers);
    s.calc_mode = 0;
    management::TZELCalculatorManagement manager(std::move(s));
    manager.SetStopCheck([] { return StopRequested(); });
    result = manager.RunTransferRecordsForPersonList(TransType);
  } catch (const std::exception& e) {
    result.done = false;
    result.error = e.what();
    LogText(std::string("Error on run transfer IO : ") + e.what(), "ErrorTransfer");
  }
  return result;
}

void TZELKLCalculateService::RunDaily(const ScheduleEntry& entry) {
  const int sub = entry.SubCalcType;
  if (sub < 1 || sub > 4) return;
  const std::string n = std::to_string(sub);
  try {
    if (sub == 1) {
      LogText("Start Calc Daily1 ... " + entry.FromDate + " - " + entry.ToDate);
    } else {
      LogText("Start Calc Daily" + n + " ...");
      if (sub == 2) LogText("CurMonth ==>> " + dates::Copy(FCurrentDate, 6, 2));
    }
    const CalcRange range = *DailyRange(entry, FCurrentDate);
    if (sub == 3) {
      LogText("Calc Daily FromDate ==>> " + range.from);
      LogText("Calc Daily ToDate ==>> " + range.to);
    }
    CalcDaily("CSSPerTemp", range.from, range.to, entry.ScheduleId);
    if (sub == 1) {
      LogText("End Calc Daily1 ... " + entry.FromDate + " - " + entry.ToDate);
    } else {
      LogText("End Calc Daily" + n + " ...");
    }
  } catch (const std::exception& e) {
    LogText("Error CalcDaily_" + n + " TDBCheckTimer in CSMain : " + e.what());
  }
}

void TZELKLCalculateService::RunMonthlyOrPeriodic(const ScheduleEntry& entry, bool monthly) {
  const std::string kind = monthly ? "CalcMonthly" : "CalcPeriodic";
  LogText("Before " + kind + " ...");
  const int sub = entry.SubCalcType;
  if (sub != 1 && sub != 2) return;
  const std::string name = kind + "_" + std::to_string(sub);
  try {
    const CalcRange range = *MonthOrPeriodRange(entry, FCurrentDate);
    LogText("Start " + name + " ...");
    if (monthly) {
      CalcMonthly("CSSPerTemp", range.from, range.to, entry.ScheduleId);
    } else {
      CalcPeriodic("CSSPerTemp", range.from, range.to, entry.ScheduleId);
    }
    LogText("End " + name + " ...");
  } catch (const std::exception& e) {
    LogText("Error " + name + " TDBCheckTimer in CSMain : " + e.what());
  }
}

// --- run starters -----------------------------------------------------------------------

RunResult TZELKLCalculateService::CalcRun(CalcKind kind, const std::string& TempFileName,
                                          const std::string& from, const std::string& to,
                                          int ScheduleId, management::ProgressCallback progress,
                                          std::function<void()> prepare) {
  const std::string start = dates::NowTime_HHNNSS();
  auto write_row = [&] {
    InsertServiceLog(
        ScheduleId, "",
        FormatLogText("شروع محاسبه: %s خاتمه محاسبه: %s", {start, dates::NowTime_HHNNSS()}));
  };
  try {
    management::CalculatorSettings s = ManagerSettings(ScheduleId, from, to, FConfig.max_thread);
    s.temp_table_name = TempFileName;
    RunResult result;
    {
      management::TZELCalculatorManagement manager(std::move(s));
      if (progress) manager.SetProgressCallback(std::move(progress));
      // SIGTERM and SIGINT stop the workers; the run then releases the hold as usual.
      manager.SetStopCheck([] { return StopRequested(); });
      if (prepare) {
        manager.SetHoldTakenHook(std::move(prepare));
      } else if (FFillForEntry && *FFillForEntry == ScheduleId) {
        manager.SetHoldTakenHook([this, ScheduleId] { FillPersonTable(ScheduleId); });
      }
      switch (kind) {
        case CalcKind::kDaily:
          result = manager.RunDailyCalculatorForOnePerson();
          break;
        case CalcKind::kMonthly:
          result = manager.RunMonthlyCalculatorForOnePerson();
          break;
        case CalcKind::kPeriodic:
          result = manager.RunPeriodicCalculatorForOnePerson();
          break;
      }
    }
    write_row();
    if (result.status != management::RunStatus::kCompleted) {
      ++FLastPass.refused;
    } else if (result.stopped || result.failed_persons > 0 || result.failed_days > 0 ||
               result.abandoned > 0) {
      ++FLastPass.failed;
      if (result.stopped) FLastPass.stopped = true;
      if (FLastPass.first_failure.empty()) FLastPass.first_failure = result.first_failure;
    }
    return result;
  } catch (const std::exception& e) {
    write_row();
    ++FLastPass.failed;
    if (FLastPass.first_failure.empty()) FLastPass.first_failure = e.what();
    throw;
  }
}

void TZELKLCalculateService::CalcDaily(const std::string& TempFileName, const std::string& FDate,
                                       const std::string& TDate, int ScheduleId) {
  try {
    CalcRun(CalcKind::kDaily, TempFileName, FDate, TDate, ScheduleId);
    LogText("After RunDailyCalculatorForOnePerson ...");
  } catch (const std::exception& e) {
    LogText(std::string("Error On TZELKLCalculateService.CalcDaily : ") + e.what(),
            "Error Thread Action");
  }
}

void TZELKLCalculateService::CalcMonthly(const std::string& TempFileName, const std::string& FMah,
                                         const std::string& TMah, int ScheduleId) {
  CalcRun(CalcKind::kMonthly, TempFileName, FMah, TMah, ScheduleId);
}

void TZELKLCalculateService::CalcPeriodic(const std::string& TempFileName,
                                          const std::string& FPeriod, const std::string& TPeriod,
                                          int ScheduleId) {
  CalcRun(CalcKind::kPeriodic, TempFileName, FPeriod, TPeriod, ScheduleId);
}

// --- an operator's command -------------------------------------------------------------

void TZELKLCalculateService::PrepareCommand(const std::string& year) {
  LoadConfiguration();
  FillSemaphoreList();
  ResetSemaphoreAfterCalc();
  SetCurrentYear(year);
}

void TZELKLCalculateService::PrepareOperatorRun(IntakePersons who,
                                                const std::vector<std::string>& persons) {
  try {
    db::Connection& c = Adoc();
    c.Execute(" Truncate Table CSSPerTemp ");
    if (persons.empty() && who == IntakePersons::kEveryPerson) {
      c.Execute(" Insert Into CSSPerTemp (PerNo) Select PerNo From Person ");
    }
    for (const auto& p : persons) {
      c.Execute(
          " Insert Into CSSPerTemp (PerNo) Select PerNo From Person "
          "Where LTrim(RTrim(PerNo)) = " +
          QuotedStr(p) + " ");
    }
    if (!persons.empty()) {
      db::ResultSet count = c.Execute("Select Count(*) From CSSPerTemp");
      const auto found = count.rows.empty() ? 0 : count.rows[0][0].AsInteger();
      if (found < static_cast<int64_t>(persons.size())) {
        throw PreparationError("only " + std::to_string(found) + " of the " +
                               std::to_string(persons.size()) +
                               " persons given are in the table Person");
      }
    }
  } catch (const PreparationError&) {
    throw;
  } catch (const std::exception& e) {
    throw PreparationError(std::string("cannot fill the person table CSSPerTemp: ") + e.what());
  }
  try {
    CreateCalItemView(FCurrentYear);
  } catch (const std::exception& e) {
    throw PreparationError("the year database " + FConfig.database_name + "_" + FCurrentYear +
                           " cannot be used: " + e.what());
  }
}

RunResult TZELKLCalculateService::OperatorCalcRun(CalcKind kind, const std::string& from,
                                                  const std::string& to,
                                                  const std::vector<std::string>& persons,
                                                  management::ProgressCallback progress) {
  // A person given twice is calculated once (two workers on one person would both write).
  std::vector<std::string> numbers;
  for (const auto& p : persons) {
    const std::string number = util::TrimControls(p);
    if (std::find(numbers.begin(), numbers.end(), number) == numbers.end())
      numbers.push_back(number);
  }
  // The person table and the shift view are shared with every other calculating program:
  // they are prepared only once the run holds the calculation.
  return CalcRun(kind, "CSSPerTemp", from, to, 0, std::move(progress),
                 [this, numbers] { PrepareOperatorRun(IntakePersons::kEveryPerson, numbers); });
}

int64_t TZELKLCalculateService::RangeRowsWritten(CalcKind kind, int from, int to) {
  const bool monthly = kind == CalcKind::kMonthly;
  const std::string range = std::string(monthly ? "MMonth" : "Period") + " Between " +
                            std::to_string(from) + " And " + std::to_string(to);
  const db::ResultSet count =
      Adoc().Execute("Select Count(*) From " + FConfig.database_name + "_" + FCurrentYear + ".." +
                     (monthly ? "MahWork" : "PrdWork") + " Where " + range +
                     " And PerNo In (Select PerNo From CSSPerTemp)");
  return count.rows.empty() ? 0 : count.rows[0][0].AsInteger();
}

management::HoldState TZELKLCalculateService::ReadCalcHold() {
  return management::ReadCalcHold(Adoc(), CalcHoldCode());
}

bool TZELKLCalculateService::ReleaseCalcHoldOf(const std::string& holder) {
  if (!management::ReleaseCalcHold(Adoc(), CalcHoldCode(), holder)) {
    return false;
  }
  LogText("The calculation hold of " + holder + " was released by the operator");
  return true;
}

}  // namespace zel::service
