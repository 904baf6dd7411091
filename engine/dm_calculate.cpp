#include "engine/dm_calculate.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "dates/clock.h"
#include "dates/date_time.h"
#include "dates/jalali.h"
#include "dates/jalali_day.h"
#include "db/ado_utils.h"
#include "db/connection_decorator.h"
#include "engine/daily_engine.h"
#include "engine/day_trace.h"
#include "util/parse_int.h"
#include "util/text.h"

namespace zel::engine {

namespace {

int ParseYear(const std::string& text) {
  const auto value = util::ParseInt<int>(util::TrimWhitespace(text));
  if (!value) throw std::invalid_argument("'" + text + "' is not a valid integer value");
  return *value;
}

db::Dataset& Require(const std::unique_ptr<db::Dataset>& dataset) {
  if (!dataset) throw db::DbError("The calculation data module is not connected");
  return *dataset;
}

// The module's connection to a server: every statement is refused once the module's
// worker has been given up, so nothing more is read or written for its person. The refusal
// is the silent abort, which ends a calculated day without a log line.
// Every failing statement is counted for the day in progress (see TdmCalculate::StartDay).
// A statement the module holds back for the day's writes (`defer` answers true) is not run:
// it answers with no result set.
class StoppableConnection final : public db::ForwardingConnection {
 public:
  using Defer = std::function<bool(const std::string&, const std::vector<db::Param>&, int)>;
  StoppableConnection(std::unique_ptr<db::Connection> inner, const std::stop_token& token,
                      TdmCalculate::DayFailures& failures, Defer defer)
      : ForwardingConnection(std::move(inner)),
        token_(token),
        failures_(failures),
        defer_(std::move(defer)) {}

  db::ResultSet Execute(const std::string& sql, const std::vector<db::Param>& params,
                        int timeout_seconds) override {
    if (token_.stop_requested()) SilentAbort();
    if (defer_ && defer_(sql, params, timeout_seconds)) return {};
    try {
      return Inner().Execute(sql, params, timeout_seconds);
    } catch (const db::DbError& e) {
      failures_.Note(e.what());
      throw;
    }
  }
  void BeginTransaction() override {
    if (token_.stop_requested()) SilentAbort();
    try {
      Inner().BeginTransaction();
    } catch (const db::DbError& e) {
      failures_.Note(e.what());
      throw;
    }
  }

 private:
  const std::stop_token& token_;         // the module's, which outlives its connections
  TdmCalculate::DayFailures& failures_;  // the module's, likewise
  Defer defer_;
};

}  // namespace

std::mutex& CalcCriticalSection() {
  static std::mutex lock;
  return lock;
}

TdmCalculate::TdmCalculate(std::string data_dir, std::string odbc_driver)
    : data_dir_(std::move(data_dir)), odbc_driver_(std::move(odbc_driver)) {}

TdmCalculate::~TdmCalculate() { CloseConnections(); }

std::string TdmCalculate::BuildConnectionString(const std::string& ADataBaseName,
                                                const std::string& ASqlServerName,
                                                const std::string& ASqlUserName,
                                                const std::string& ASqlUserPassword,
                                                const std::string& AYear) {
  const std::string catalog =
      util::TrimWhitespace(AYear).empty() ? ADataBaseName : ADataBaseName + "_" + AYear;
  return db::TADOUtils::GetConnectionString(ASqlServerName, ASqlUserName, ASqlUserPassword,
                                            catalog);
}

std::string TdmCalculate::BuildConnectionString(const std::string& AYear) const {
  return BuildConnectionString(DataBaseName, SqlServerName, SqlUserName, SqlUserPassword, AYear);
}

std::string TdmCalculate::DataBaseNameOfYear(int Year_YYYY) const {
  return dates::TZelCalcUtils::DataBaseNameOfYearYYYY(DataBaseName, Year_YYYY);
}

int TdmCalculate::DaysInMonth(int Month) const {
  return dates::TZelCalcUtils::DaysInMonthY(Month, CurrentYear);
}

void TdmCalculate::InitialValues(const std::string& newCurrentYear,
                                 const std::string& newSqlUserName,
                                 const std::string& newSqlUserPassword,
                                 const std::string& newDataBaseName,
                                 const std::string& newSqlServerName, int newScheduleId) {
  MyZelUtils = dates::TZelCalcUtils(0);
  MyZelUtils.SetEnableLog(FEnableLog);

  CurrentYear = newCurrentYear;
  PreviousYear = std::to_string(ParseYear(CurrentYear) - 1);
  day_writes_.SetYear(ParseYear(CurrentYear));
  DataBaseNameYear = newDataBaseName + "_" + CurrentYear;

  SqlUserName = newSqlUserName;
  SqlUserPassword = newSqlUserPassword;
  DataBaseName = newDataBaseName;
  SqlServerName = newSqlServerName;
  ScheduleId = newScheduleId;

  DbBaseInfoConnectionString = BuildConnectionString("");
  DbTimeAttendanceConnectionString = BuildConnectionString(CurrentYear);

  CloseConnections();
  base_ = Open(DbBaseInfoConnectionString, false);
  year_ = Open(DbTimeAttendanceConnectionString, true);

  q_system_ = std::make_unique<db::Dataset>(*base_);
  q_system_->SetSQL({"select * from system"});
  ta_system_ = std::make_unique<db::Dataset>(*base_);
  ta_system_->SetTableName("SYSTEM");
  q_person_ = std::make_unique<db::Dataset>(*base_);
  q_person_->SetSQL(
      {"select Person.*, lTrim(Lastname) +  ' '+ lTrim(FirstName) FullName from person ",
       "order by perno"});
  ta_semaphore_ = std::make_unique<db::Dataset>(*base_);
  ta_semaphore_->SetTableName("Semaphor");
  my_q_hlp_ = std::make_unique<db::Dataset>(*base_);
  my_q_hlp_->SetSQL({"Insert Into CSSLog ",
                     " ( ScheduleId, PerNo, LogDate, LogTime, Comment, Status) ", "Values ",
                     " ( :ScheduleId, :PerNo, :LogDate, :LogTime, :Comment,0) "});
  const struct {
    const char* name;
    db::ParamType type;
    int size;
  } params[] = {{"ScheduleId", db::ParamType::Integer, 0},
                {"PerNo", db::ParamType::String, 10},
                {"LogDate", db::ParamType::String, 10},
                {"LogTime", db::ParamType::String, 5},
                {"Comment", db::ParamType::String, 255}};
  for (const auto& p : params) {
    db::Param& param = my_q_hlp_->ParamByName(p.name);
    param.type = p.type;
    param.size = p.size;
  }

  daily_ = std::make_unique<DailyEngine>(*this);
  daily_->Bind(FAttendanceCalcManager);
}

std::unique_ptr<db::Connection> TdmCalculate::Open(const std::string& connection_string,
                                                   bool holds_day_writes) {
  db::ConnectionSettings settings = db::ParseConnectionString(connection_string);
  settings.data_dir = data_dir_;
  settings.odbc_driver = odbc_driver_;
  StoppableConnection::Defer defer;
  if (holds_day_writes) {
    defer = [this](const std::string& sql, const std::vector<db::Param>& params, int timeout) {
      return day_writes_.Hold(sql, params, timeout);
    };
  }
  return std::make_unique<StoppableConnection>(db::Connect(settings), stop_token_, day_failures_,
                                               std::move(defer));
}

void TdmCalculate::CloseConnections() {
  any_person_.reset();
  // Datasets refer to their connection: they go first.
  if (daily_) daily_->Unbind(FAttendanceCalcManager);
  daily_.reset();
  my_q_hlp_.reset();
  ta_semaphore_.reset();
  q_person_.reset();
  ta_system_.reset();
  q_system_.reset();
  year_.reset();
  base_.reset();
}

db::Connection& TdmCalculate::ADOConnectionDbBase() {
  if (!base_) throw db::DbError("The calculation data module is not connected");
  return *base_;
}

db::Connection& TdmCalculate::ADOConnectionTimeAttendance() {
  if (!year_) throw db::DbError("The calculation data module is not connected");
  return *year_;
}

DailyEngine& TdmCalculate::Engine() {
  if (!daily_) throw db::DbError("The calculation data module is not connected");
  return *daily_;
}

db::Dataset& TdmCalculate::QSystem() { return Require(q_system_); }
db::Dataset& TdmCalculate::taSystem() { return Require(ta_system_); }
db::Dataset& TdmCalculate::QPerson() { return Require(q_person_); }
bool TdmCalculate::AnyPerson() {
  if (!any_person_) {
    db::Dataset& persons = QPerson();
    persons.Open();
    any_person_ = !persons.IsEmpty();
    persons.Close();
  }
  return *any_person_;
}

db::Dataset& TdmCalculate::taSemaphore() { return Require(ta_semaphore_); }
db::Dataset& TdmCalculate::MyQHlp() { return Require(my_q_hlp_); }

void TdmCalculate::DayFailures::Note(const std::string& message) {
  if (count++ == 0) first = message;
}

void TdmCalculate::StartPerson() {
  day_failures_ = DayFailures{};
  kept_log_rows_.clear();
  in_day_ = false;
  // Not reached: every day ends with EndDay and the worker writes its days. Nothing
  // unfinished goes on to the next person.
  day_writes_.Clear();
  if (daily_) daily_->ForgetPerson();
}

void TdmCalculate::StartDay(std::string label) {
  day_failures_ = DayFailures{};
  day_label_ = std::move(label);
  in_day_ = true;
}

void TdmCalculate::BeginDayWrites() { day_writes_.Open(day_label_); }

std::optional<std::string> TdmCalculate::EndDay() {
  std::optional<std::string> failure;
  if (Abandoned())
    failure = "the worker was given up";
  else if (day_failures_.count > 0)
    failure = day_failures_.first;
  day_writes_.Close(failure.has_value());
  in_day_ = false;
  if (!group_days_) {
    const std::vector<DayNotWritten> failed = WriteDays();
    if (!failure && !failed.empty()) failure = failed.front().failure;
  }
  return failure;
}

void TdmCalculate::RecordChanges(const WrittenDayChanges& day) {
  try {
    db::InsertCalcChanges(ADOConnectionDbBase(),
                          {util::TrimWhitespace(CurrentYear), day.perno, "day", day.day}, pass_,
                          day.changes);
  } catch (const std::exception& e) {
    MyZelUtils.LogText(std::string("Error On Insert Changes To DB : ") + e.what(),
                       "Thread" + util::TrimWhitespace(day.perno), true, false);
  }
}

std::vector<TdmCalculate::DayNotWritten> TdmCalculate::WriteDays() {
  std::vector<DayNotWritten> failed;
  // Without a connection no statement was held: the days have nothing to write.
  if (year_) {
    failed = day_writes_.Write(*year_, !pass_.date.empty(),
                               [this](const WrittenDayChanges& day) { RecordChanges(day); });
  }
  if (!in_day_) {
    std::vector<KeptLogRow> rows;
    rows.swap(kept_log_rows_);
    for (const KeptLogRow& row : rows) WriteCalcLogRow(row.schedule_id, row.perno, row.comment);
  }
  return failed;
}

void TdmCalculate::InsertCalcLogTable(int AScheduleId, const std::string& PerNo,
                                      const std::string& LogComment) {
  if (Abandoned()) return;
  if (day_trace_) day_trace_->Report(util::TrimWhitespace(LogComment));
  if (!write_results_) return;
  if (in_day_) {
    // Written after the day's results: no other write may wait for the day's writer.
    kept_log_rows_.push_back({AScheduleId, PerNo, LogComment});
    return;
  }
  WriteCalcLogRow(AScheduleId, PerNo, LogComment);
}

void TdmCalculate::WriteCalcLogRow(int AScheduleId, const std::string& PerNo,
                                   const std::string& LogComment) {
  if (Abandoned()) return;
  try {
    db::Dataset& q = MyQHlp();
    q.SetParam("ScheduleId", AScheduleId);
    q.SetParam("PerNo", util::TrimWhitespace(PerNo));
    q.SetParam("LogDate", dates::JalaliToday());
    q.SetParam("LogTime", dates::NowTime_HHNNSS().substr(0, 5));
    q.SetParam("Comment", util::Utf8Cut(util::TrimWhitespace(LogComment), 255));
    q.ExecSQL();
  } catch (const std::exception& e) {
    MyZelUtils.LogText(std::string("Error On Insert Log To DB : ") + e.what(),
                       "Thread" + util::TrimWhitespace(FAttendanceCalcManager.PersonID()), true,
                       false);
  }
}

}  // namespace zel::engine
