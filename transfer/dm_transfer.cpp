#include "transfer/dm_transfer.h"

#include <exception>

#include "dates/clock.h"
#include "dates/jalali.h"
#include "dates/log_stamp.h"
#include "dates/zel_calc_utils.h"
#include "db/ado_utils.h"
#include "db/client.h"
#include "db/css_log.h"
#include "transfer/transfer_texts.h"
#include "util/log_file.h"
#include "util/text.h"

namespace zel::transfer {

std::atomic<bool> WebTablesExist{false};

namespace {

using util::JoinLines;

// A progress line of the general "Log" file; a line that cannot be written is lost.
void LogLine(const std::string& text, const std::string& base_name) {
  try {
    const std::string folder = util::LogFolder();
    if (!util::EnsureFolder(folder)) return;
    util::AppendLogLine(folder, dates::LogFileName(base_name), dates::StampedLine(text));
  } catch (const std::exception&) {
    // errors ignored here: a progress line must not stop the transfer
  }
}

}  // namespace

TDmTransfer::TDmTransfer(std::string data_dir, std::string odbc_driver)
    : data_dir_(std::move(data_dir)), odbc_driver_(std::move(odbc_driver)) {}

TDmTransfer::~TDmTransfer() = default;

void TDmTransfer::InitialValues(const std::string& newCurrentYear,
                                const std::string& newSqlUserName,
                                const std::string& newSqlUserPassword,
                                const std::string& newDataBaseName,
                                const std::string& newSQLServerName,
                                const std::string& newTempFileName, int newScheduleId) {
  CurrentDate = dates::JalaliToday();
  CurrentYear = newCurrentYear;
  cnCurrentYear = newCurrentYear;
  SQLUserName = newSqlUserName;
  SQLUserPassword = newSqlUserPassword;
  DataBaseName = newDataBaseName;
  SQLServerName = newSQLServerName;
  TempFileName = newTempFileName;
  ScheduleId = newScheduleId;
  SetDbBaseInfoConnection();
  SetDbTimeAttenConnection();
  SetSQLTextForDataSets();
  MyGeneralConfirmShow();
}

void TDmTransfer::SetDbBaseInfoConnection() {
  conn1_.reset();
  QPermissionDemark.reset();
  QClockDmp.reset();
  QClockDmp_Delete.reset();
  QConfirmIO.reset();
  base_conn_str_ =
      db::TADOUtils::GetConnectionString(SQLServerName, SQLUserName, SQLUserPassword, DataBaseName);
}

void TDmTransfer::SetDbTimeAttenConnection() {
  conn2_.reset();
  year_conn_str_ = db::TADOUtils::GetConnectionString(SQLServerName, SQLUserName, SQLUserPassword,
                                                      DataBaseName + "_" + cnCurrentYear);
}

db::Connection& TDmTransfer::ADOConnection1() {
  if (!conn1_) {
    db::ConnectionSettings cs = db::ParseConnectionString(base_conn_str_);
    cs.data_dir = data_dir_;
    cs.odbc_driver = odbc_driver_;
    conn1_ = db::Connect(cs);
  }
  return *conn1_;
}

db::Connection& TDmTransfer::ADOConnection2() {
  if (!conn2_) {
    db::ConnectionSettings cs = db::ParseConnectionString(year_conn_str_);
    cs.data_dir = data_dir_;
    cs.odbc_driver = odbc_driver_;
    conn2_ = db::Connect(cs);
  }
  return *conn2_;
}

void TDmTransfer::SetSQLTextForDataSets() {
  const auto replaced = [&](TextLines lines) {
    return ReplacePlaceholders(std::move(lines), DataBaseName, cnCurrentYear, TempFileName);
  };
  db::Connection& base = ADOConnection1();
  const auto dataset = [&](TextLines lines) {
    auto q = std::make_unique<db::Dataset>(base);
    q->SetSQL(replaced(std::move(lines)));
    q->SetCommandTimeout(0);
    return q;
  };
  QConfirmIO = dataset(QConfirmIOText());
  // An empty server name is the embedded engine.
  QPermissionDemark = dataset(QPermissionDemarkText(SQLServerName.empty()));
  QClockDmp = dataset(QClockDmpText());
  QClockDmp_Delete = dataset(QClockDmpDeleteText());
  // The year is compared as text, so a punch dated with an unreadable year is only not
  // this year's, instead of failing the query for everyone.
  for (db::Dataset* q :
       {QConfirmIO.get(), QPermissionDemark.get(), QClockDmp.get(), QClockDmp_Delete.get()}) {
    db::Param& year = q->ParamByName("CurrentYear");
    year.type = db::ParamType::String;
    year.size = 4;
  }
  ReadSystem();
  for (const std::string& batch : FunctionDropBatches()) base.Execute(batch);
  base.Execute(JoinLines(replaced(QFncDecDateText())));
  base.Execute(JoinLines(replaced(QFncIncDateText())));
  base.Execute(JoinLines(replaced(QFncFirstIOText())));
  for (const std::string& statement : QUpdateTablesText()) {
    try {
      ADOConnection2().Execute(statement);
    } catch (const std::exception&) {
      // The columns usually exist already.
    }
  }
}

void TDmTransfer::ReadSystem() {
  db::Dataset tblSystem(ADOConnection1());
  tblSystem.SetSQL({"Select * From SYSTEM"});
  tblSystem.Open();
  const auto integer = [&](const char* name) {
    return tblSystem.HasField(name) ? static_cast<int>(tblSystem.FieldByName(name).AsInteger()) : 0;
  };
  Rounding.Round = integer("Round");
  Rounding.RoundVal = integer("RoundVal");
  Rounding.RoundBound = integer("RoundBound");
  MyEnableSystemLog = integer("EnableSystemLog") == 1;
}

void TDmTransfer::MyGeneralConfirmShow() {
  db::Connection& year = ADOConnection2();
  const db::ResultSet web = year.Execute(
      " If Exists(Select name From sysobjects Where name = N'AskAbsence' And type = 'U') And "
      "Exists(Select name From sysobjects Where name = N'AskMission' And type = 'U') Select 1 "
      "Else Select 0 ");
  WebTablesExist = !web.rows.empty() && web.rows[0][0].AsInteger() == 1;
  const db::ResultSet fields =
      year.Execute(JoinLines({" Select id ", " From syscolumns", " Where name = 'SodrinPageNo' ",
                              " And id = OBJECT_ID(N'Morkhasi') "}));
  ExistWebFields = !fields.rows.empty();
  ReadSystem();
  // The calendar sources of the pairing query must be there before the run starts.
  year.Execute("Select PerNo From V_GetCalItem Where 1 = 0");
  year.Execute("Select Code From " + DataBaseName + "..WorkGrp Where 1 = 0");
}

std::string TDmTransfer::GetNowDate(db::Connection& Connection) {
  const db::Value v = Connection.Execute(" Select GetDate() DateStr ").rows.at(0).at(0);
  const std::string t = v.AsString();
  if (t.size() < 10) throw db::DbError("Unexpected server date: " + t);
  const dates::DateTime d = dates::EncodeDate(std::stoi(t.substr(0, 4)), std::stoi(t.substr(5, 2)),
                                              std::stoi(t.substr(8, 2)));
  return dates::TZelCalcUtils::ConciseDateStr(d);
}

std::string TDmTransfer::GetNowTime(db::Connection& Connection) {
  const std::string t =
      Connection.Execute(" Select GetDate() TimeStr ").rows.at(0).at(0).AsString();
  if (t.size() < 19) throw db::DbError("Unexpected server time: " + t);
  return t.substr(11, 8);
}

void TDmTransfer::InsertCalcLog(const std::string& PerNo, const std::string& LogComment) {
  try {
    db::InsertCSSLog(ADOConnection1(), ScheduleId, PerNo, LogComment);
  } catch (const std::exception&) {
    // A lost log row is not reported.
  }
}

void TDmTransfer::InsertCalcLogOnce(const std::string& PerNo, const std::string& LogComment) {
  try {
    db::InsertCSSLogOnce(ADOConnection1(), ScheduleId, PerNo, LogComment);
  } catch (const std::exception&) {
    // A lost log row is not reported.
  }
}

IOTransferResult TDmTransfer::MyIOTransfer(bool MyUnCertain) {
  IOTransferArgs a;
  a.UnCertainState = MyUnCertain;
  a.PermissionRecList = &_PermissionRecList;
  a.Scratch = &Scratch;
  a.EnableSystemLog = MyEnableSystemLog;
  a.UserCode = "000";
  a.CurrentYear_YYYY = CurrentYear;
  a.CurrentDate_YYMMDD = CurrentDate;
  a.TempFileName = TempFileName;
  a.BaseDatabaseName = DataBaseName;
  a.YearDatabaseName = DataBaseName + "_" + cnCurrentYear;
  a.MainDBConnection = &ADOConnection1();
  a.YearDBConnection = &ADOConnection2();
  a.Rounding = Rounding;
  a.QPermissionDemark = QPermissionDemark.get();
  a.QConfirmIO = QConfirmIO.get();
  a.PairingPunches = PairingPunches;
  a.PrjCardsStatements =
      ReplacePlaceholders(QPrjCardsText(), DataBaseName, cnCurrentYear, TempFileName);
  a.QClockDmp_Delete = QClockDmp_Delete.get();
  a.ADeclareState = declare_state_;
  a.AInsertCalcLog = [this](const std::string& p, const std::string& c) { InsertCalcLog(p, c); };
  a.AInsertCalcLogOnce = [this](const std::string& p, const std::string& c) {
    InsertCalcLogOnce(p, c);
  };
  a.StopRequested = StopRequested;
  a.LogToFile = LogLine;
  return TTransferUtils::OnIOTransfer(a);
}

}  // namespace zel::transfer
