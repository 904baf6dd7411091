// The service on an embedded home: start on an empty and on a filled base database, the
// stop, the semaphore release, and schedule passes (flag 3, due entries, transfers,
// failures), with the clock fixed at 1399/08/03 09:00 (a Saturday).
#include "service/calculate_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "dates/clock.h"
#include "schema/schema.h"
#include "service/home_setup.h"
#include "service/platform.h"
#include "service/service_log.h"
#include "testing/faulty_connection.h"
#include "util/log_file.h"

namespace zel::service {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zel_service_XXXXXX").string();
    home_ = mkdtemp(pattern.data());
    util::SetHomeFolder(home_.string());
    dates::SetNowJalali("1399/08/03 09:00", true);
    ResetStopRequest();
    InitEmbeddedHome(home_.string(), {});
  }
  void TearDown() override {
    util::SetHomeFolder("");
    dates::ResetNow();
    fs::remove_all(home_);
  }

  db::ConnectionSettings Settings(const std::string& database) const {
    db::ConnectionSettings s;
    s.data_dir = (home_ / "Data").string();
    s.database = database;
    return s;
  }
  db::ResultSet Sql(const std::string& sql, const std::string& database = "Att") {
    return db::Connect(Settings(database))->Execute(sql);
  }
  // The rows of a query as "a|b|c" lines, values trimmed of trailing blanks.
  std::vector<std::string> Rows(const std::string& sql, const std::string& database = "Att") {
    std::vector<std::string> lines;
    for (const auto& row : Sql(sql, database).rows) {
      std::string line;
      for (size_t i = 0; i < row.size(); ++i) {
        std::string v = row[i].IsNull() ? "NULL" : row[i].AsString();
        while (!v.empty() && v.back() == ' ') v.pop_back();
        line += (i ? "|" : "") + v;
      }
      lines.push_back(line);
    }
    return lines;
  }
  std::string Log(const char* base = "Log") {
    return ReadAll(home_ / "Logs" / (std::string(base) + "(1399-08-03).Log"));
  }
  // The texts of the service log after the time stamps.
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::istringstream in(Log());
    for (std::string line; std::getline(in, line);) {
      lines.push_back(line.size() > 22 ? line.substr(22) : line);
    }
    return lines;
  }
  bool Logged(const std::string& text) {
    auto lines = LogLines();
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  }

  // The organisation of the statement corpus' seed (calendar 1: duty 07:00-15:00 with a
  // break 12:00-12:30 on 05/10), rounding off.
  void LoadSeed() {
    const char* root = std::getenv("ZEL_SOURCE_DIR");
    ASSERT_NE(root, nullptr);
    Sql("DELETE FROM SYSTEM");
    Sql("DELETE FROM Semaphor");
    for (const auto& [database, file] :
         {std::pair{"Att", "seed_base.sql"}, std::pair{"Att_1399", "seed_1399.sql"}}) {
      const std::string script = ReadAll(fs::path(root) / "db/corpus" / file);
      ASSERT_FALSE(script.empty()) << file;
      for (const auto& batch : db::SplitBatches(script)) Sql(batch, database);
    }
    Sql("UPDATE SYSTEM SET Round = 0");
  }

  fs::path home_;
};

// Waits (at most a minute, so a fault cannot hang the suite) until the file exists.
bool AppearsSoon(const fs::path& path) {
  for (int i = 0; i < 6000; ++i) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST_F(ServiceTest, StartOnAnEmptyBaseAndStop) {
  TZELKLCalculateService s(home_.string());
  bool started = false;
  s.ServiceStart(started);
  EXPECT_TRUE(started);
  EXPECT_EQ(s.CurrentYear(), "");
  EXPECT_EQ(s.StartDate(), "1399/08/03");
  EXPECT_EQ(s.StartTime(), "09:00");
  ASSERT_EQ(s.SemaphoreList().size(), 20u);
  EXPECT_EQ(s.SemaphoreList()[16], "CALC=17");
  EXPECT_EQ(SemaphoreCode(s.SemaphoreList(), "CALC"), 17);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{std::string(54, '*'), "ServiceStart Started",
                                                  "Korlan.ini is going to be loaded from :" +
                                                      (home_ / "Korlan.Ini").string(),
                                                  "CurrentYear value is not correct."}));
  const std::string host = LocalComputerName();
  EXPECT_EQ(
      Rows("SELECT Code, BeginDate, BeginTime, EndDate, ClientVersion, ServerMachineName, "
           "ClientMachineName FROM UsersLog"),
      (std::vector<std::string>{"SRV|1399/08/03|09:00|NULL|" + ModuleVersionText() + "||" + host}));

  // Another program's open row of the same minute is not the service's to close.
  Sql("INSERT INTO UsersLog (Code, BeginDate, BeginTime, ClientMachineName) "
      "VALUES ('USR', '1399/08/03', '09:00', 'desk1')");
  dates::SetNowJalali("1399/08/03 17:30", true);
  bool stopped = false;
  s.ServiceStop(stopped);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(Rows("SELECT Code, EndDate, EndTime FROM UsersLog ORDER BY Code"),
            (std::vector<std::string>{"SRV|1399/08/03|17:30", "USR|NULL|NULL"}));
  const auto lines = LogLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{std::string(71, '-'), "Stop Service", std::string(71, '-')}));
}

TEST_F(ServiceTest, StopWithoutLogInRowChangesNothing) {
  TZELKLCalculateService s(home_.string());
  bool stopped = false;
  s.LoadConfiguration();
  s.ServiceStop(stopped);
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(Rows("SELECT Code FROM UsersLog").empty());
  EXPECT_EQ(Log().find("Error While Logging out"), std::string::npos) << Log();
}

TEST_F(ServiceTest, StartOnAFilledBase) {
  // A CSSLog of an old version: Id is a plain key column.
  Sql("DROP TABLE CSSLog");
  Sql("CREATE TABLE CSSLog (id int NOT NULL, ScheduleId int NULL, PerNo char(10) NULL, "
      "LogDate char(10) NULL, LogTime char(5) NULL, Comment nvarchar(255) NULL, "
      "Status int NULL, CONSTRAINT PK_CSSLOG PRIMARY KEY (id))");
  Sql("INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, CalcYear) "
      "VALUES (1, 1, '23:00', '1399')");
  // A rotating-shift person: group 2 of work group 5; day 1 from the group, day 2 his own.
  Sql("INSERT INTO WorkShifts (Code, EBEGINTIME, DBEGINTIME, BBEGINTIME, BENDTIME, DENDTIME, "
      "EENDTIME, ENDTIME, Holiday, ShiftStatus) VALUES "
      "(1, '07:00', '07:30', '12:00', '12:30', '15:30', '16:00', '16:30', 0, '00000'), "
      "(2, '22:00', '22:30', '02:00', '02:30', '06:30', '07:00', '07:30', 0, '01111')");
  Sql("INSERT INTO WorkGrp (CODE, GShCode, GROUPTYPE) VALUES (5, 2, 6)");
  Sql("INSERT INTO GShItem (GShCode, Period, D1, D2) VALUES (2, 8, 1, 1)", "Att_1399");
  Sql("INSERT INTO PerShifts (PerNo, GShCode, Period, D2) VALUES ('      1001', 2, 8, 2)",
      "Att_1399");
  Sql("INSERT INTO PrjRule (PERNO, BEGINDATE, WORKGROUP) VALUES ('      1001', '01/01', 5)",
      "Att_1399");

  TZELKLCalculateService s(home_.string());
  bool started = false;
  s.ServiceStart(started);
  EXPECT_EQ(s.CurrentYear(), "1399");
  EXPECT_EQ(LogLines().size(), 3u) << Log();  // no error lines

  EXPECT_EQ(Rows("SELECT is_identity FROM sys.columns WHERE object_id = OBJECT_ID('CSSLog') "
                 "AND name = 'Id'"),
            (std::vector<std::string>{"1"}));
  s.InsertServiceLog(0, "", "first");
  s.InsertServiceLog(0, "", "second");
  EXPECT_EQ(Rows("SELECT Id, Comment FROM CSSLog ORDER BY Id"),
            (std::vector<std::string>{"1|first", "2|second"}));

  EXPECT_EQ(Rows("SELECT PerNo, GshCode, Period, DayNo, WorkShiftCode, EBeginDate, EBEGINTIME, "
                 "BBeginDate, BEndDate, DEndDate, EEndDate, EndDate, ENDTIME "
                 "FROM V_GetCalItem ORDER BY DayNo",
                 "Att_1399"),
            (std::vector<std::string>{
                "      1001|2|8|1|1|08/01|07:00|08/01|08/01|08/01|08/01|08/01|16:30",
                "      1001|2|8|2|2|08/02|22:00|08/02|08/03|08/03|08/03|08/03|07:30"}));
  bool stopped = false;
  s.ServiceStop(stopped);
}

TEST_F(ServiceTest, ResetSemaphoreReleasesOnlyThisComputersHold) {
  struct Case {
    const char* what;
    int amount;
    std::string host;
    std::string after;
  } cases[] = {
      {"our hold", 1, LocalComputerName(), "0|NULL"},
      {"another computer's hold", 1, "OTHERPC", "1|OTHERPC"},
      {"free", 0, "", "0|"},
  };
  TZELKLCalculateService s(home_.string());
  s.LoadConfiguration();
  s.FillSemaphoreList();
  for (const auto& c : cases) {
    Sql("UPDATE Semaphor SET Amount = " + std::to_string(c.amount) +
        ", HostName = " + QuotedStr(c.host) + " WHERE Code = 17");
    s.ResetSemaphoreAfterCalc();
    EXPECT_EQ(Rows("SELECT Amount, HostName FROM Semaphor WHERE Code = 17"),
              (std::vector<std::string>{c.after}))
        << c.what;
  }
}

TEST_F(ServiceTest, CalcOrServiceStateValues) {
  struct Case {
    const char* value;
    int state;
  } cases[] = {{"0", 0}, {"3", 3}, {"4", 4}, {"10", 10}, {"7", 10}, {"-1", 10}};
  TZELKLCalculateService s(home_.string());
  s.LoadConfiguration();
  for (const auto& c : cases) {
    Sql(std::string("UPDATE SYSTEM SET KorlanCalcOrService = ") + c.value);
    EXPECT_EQ(s.GetCalcOrServiceState(), c.state) << c.value;
  }
  Sql("DELETE FROM SYSTEM");
  EXPECT_EQ(s.GetCalcOrServiceState(), 10) << "no row";
}

TEST_F(ServiceTest, FlagThreeTouchesNothing) {
  Sql("UPDATE SYSTEM SET KorlanCalcOrService = 3");
  Sql("INSERT INTO Person (Perno) VALUES ('      1001')");
  Sql("INSERT INTO CSSPerTemp (PerNo) VALUES ('      9999')");
  Sql("INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, Data1, CalcType, "
      "SubCalcType, CalcYear) VALUES (1, 0, '08:00', 1, 1, 2, '1399')");
  TZELKLCalculateService s(home_.string());
  s.LoadConfiguration();
  s.FillSemaphoreList();
  const std::string log_before = Log();
  s.TDBCheckTimer();
  EXPECT_FALSE(s.LastPass().ran);
  EXPECT_EQ(Log(), log_before);
  EXPECT_EQ(Rows("SELECT PerNo FROM CSSPerTemp"), (std::vector<std::string>{"      9999"}));
  EXPECT_EQ(Rows("SELECT LastRunDate FROM CSSchedule"), (std::vector<std::string>{"NULL"}));
  EXPECT_TRUE(Rows("SELECT Id FROM CSSLog").empty());
  EXPECT_FALSE(s.CalcServiceIsRunning());
}

TEST_F(ServiceTest, PassRunsTheDueEntriesInOrder) {
  Sql("INSERT INTO Person (Perno) VALUES ('      1001'), ('      1002')");
  Sql("INSERT INTO CSSPersons (ScheduleId, PerNo) VALUES (1, '      1001')");
  // 1: daily sub-type 4 for person 1001, due; 2: not before 10:00; 3: monthly, all persons.
  Sql("INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, Data1, Data2, CalcType, "
      "SubCalcType, FromMahPeriod, ToMahPeriod, CalcYear, DifCurMP, Transfer) VALUES "
      "(1, 1, '08:00', 1, 0, 0, 4, '1', '', '1399', 0, 0), "
      "(2, 1, '10:00', 1, 0, 0, 4, '1', '', '1399', 0, 0), "
      "(3, 0, '08:00', 1, 0, 1, 2, '', '', '1399', 1, 0)");
  TZELKLCalculateService s(home_.string());
  bool started = false;
  s.ServiceStart(started);
  const size_t start_lines = LogLines().size();
  s.TDBCheckTimer();
  EXPECT_TRUE(s.LastPass().ran);
  EXPECT_EQ(s.LastPass().due, 2);
  EXPECT_EQ(s.LastPass().error, "");
  EXPECT_TRUE(s.TimerEnabled());
  EXPECT_FALSE(s.CalcServiceIsRunning());

  auto lines = LogLines();
  EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<long>(start_lines), lines.end()),
            (std::vector<std::string>{
                "CurDate ==>> 1399/08/03",
                "Before Must Run It ==> ScheduleId = 1",
                "After Must Run It ==> ScheduleId = 1",
                "Before Get CalcType ...",
                "Start Calc Daily4 ...",
                "After RunDailyCalculatorForOnePerson ...",
                "End Calc Daily4 ...",
                "Before Must Run It ==> ScheduleId = 2",
                "Before Must Run It ==> ScheduleId = 3",
                "After Must Run It ==> ScheduleId = 3",
                "Before Get CalcType ...",
                "Before CalcMonthly ...",
                "Start CalcMonthly_2 ...",
                "End CalcMonthly_2 ...",
            }))
      << Log();
  // The last entry's person list: everyone.
  EXPECT_EQ(Rows("SELECT PerNo FROM CSSPerTemp ORDER BY PerNo"),
            (std::vector<std::string>{"      1001", "      1002"}));
  EXPECT_EQ(Rows("SELECT ScheduleId, LastRunDate, LastRunTime FROM CSSchedule ORDER BY 1"),
            (std::vector<std::string>{"1|1399/08/03|09:00", "2|NULL|NULL", "3|1399/08/03|09:00"}));
  const std::string row = "شروع محاسبه: 09:00:00 خاتمه محاسبه: 09:00:00";
  EXPECT_EQ(Rows("SELECT ScheduleId, PerNo, LogDate, LogTime, Comment, Status FROM CSSLog "
                 "WHERE Comment LIKE N'شروع%' ORDER BY Id"),
            (std::vector<std::string>{"1||1399/08/03|09:00|" + row + "|0",
                                      "3||1399/08/03|09:00|" + row + "|0"}));

  // The entries ran: at the next tick nothing is due.
  dates::SetNowJalali("1399/08/03 09:01", true);
  s.TDBCheckTimer();
  EXPECT_EQ(s.LastPass().due, 0);
}

TEST_F(ServiceTest, MonthlyAndPeriodicEntriesWriteTheirRows) {
  // Entry 1: months 3..3 (sub-type 1); entry 2: period 3 (sub-type 1). Person 1001 has every
  // day of month 3 (the period 3 of SYSTEM); 1002 none, which CSSLog reports.
  Sql("INSERT INTO Person (Perno, FirstName, LastName) VALUES ('      1001', 'Ali', 'Ahmadi'), "
      "('      1002', 'Reza', 'Karimi')");
  Sql("UPDATE SYSTEM SET Period3B = '03/01', Period3E = '03/31'");
  Sql("INSERT INTO WorkGrp (CODE, CALCODE, GROUPTYPE) VALUES (1, 1, 1)");
  Sql("INSERT INTO PrjRule (PERNO, BEGINDATE, ENDDATE, WORKGROUP) VALUES "
      "('      1001', '01/01', '12/30', 1), ('      1002', '01/01', '12/30', 1)",
      "Att_1399");
  for (int d = 1; d <= 31; ++d) {
    Sql("INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES ('      1001', '03/" +
            std::string(d < 10 ? "0" : "") + std::to_string(d) + "', 10)",
        "Att_1399");
  }
  Sql("INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, Data1, CalcType, "
      "SubCalcType, FromMahPeriod, ToMahPeriod, CalcYear) VALUES "
      "(1, 0, '08:00', 1, 1, 1, '3', '3', '1399'), (2, 0, '08:00', 1, 2, 1, '3', '3', '1399')");
  TZELKLCalculateService s(home_.string());
  bool started = false;
  s.ServiceStart(started);
  s.TDBCheckTimer();
  EXPECT_EQ(s.LastPass().due, 2);
  EXPECT_EQ(Rows("SELECT PerNo, MMonth, WorkTotal FROM MahWork", "Att_1399"),
            (std::vector<std::string>{"      1001|3|310"}));
  EXPECT_EQ(Rows("SELECT PerNo, Period, WorkTotal FROM PrdWork", "Att_1399"),
            (std::vector<std::string>{"      1001|3|310"}));
  EXPECT_EQ(Rows("SELECT ScheduleId, PerNo FROM CSSLog WHERE PerNo <> '' ORDER BY ScheduleId"),
            (std::vector<std::string>{"1|1002", "2|1002"}));
}

TEST_F(ServiceTest, FailedRunsAreLoggedByTheirKind) {
  Sql("INSERT INTO Person (Perno) VALUES ('      1001')");
  // Every run fails when it takes the calculation hold.
  const std::string take = "UPDATE dbo.Semaphor SET Amount = Amount + 1";
  const zel::testing::ScopedFaults faults({take});
  Sql("INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, Data1, CalcType, "
      "SubCalcType, FromDate, ToDate, FromMahPeriod, ToMahPeriod, CalcYear, DifCurMP) VALUES "
      "(1, 0, '08:00', 1, 0, 1, '08/01', '08/02', '', '', '1399', 0), "
      "(2, 0, '08:00', 1, 1, 2, '', '', '', '', '1399', 1), "
      "(3, 0, '08:00', 1, 2, 1, '', '', '3', '4', '1399', 0), "
      "(4, 0, '08:00', 1, 2, 2, '', '', '', '', '1399', 0)");
  TZELKLCalculateService s(home_.string());
  bool started = false;
  s.ServiceStart(started);
  s.TDBCheckTimer();
  EXPECT_EQ(s.LastPass().due, 4);
  const std::string failure = "injected failure: " + take;
  EXPECT_TRUE(Logged("Start Calc Daily1 ... 08/01 - 08/02")) << Log();
  EXPECT_TRUE(Logged("End Calc Daily1 ... 08/01 - 08/02")) << Log();
  EXPECT_EQ(Log("Error Thread Action").substr(22),
            "Error On TZELKLCalculateService.CalcDaily : " + failure + "\n");
  EXPECT_TRUE(Logged("Error CalcMonthly_2 TDBCheckTimer in CSMain : " + failure)) << Log();
  EXPECT_TRUE(Logged("Start CalcPeriodic_1 ...")) << Log();
  EXPECT_TRUE(Logged("Error CalcPeriodic_1 TDBCheckTimer in CSMain : " + failure)) << Log();
  EXPECT_TRUE(Logged("Error CalcPeriodic_2 TDBCheckTimer in CSMain : " + failure)) << Log();
  EXPECT_FALSE(Logged("End CalcPeriodic_1 ...")) << Log();
  // The run row is written also when the run failed.
  EXPECT_EQ(Rows("SELECT ScheduleId FROM CSSLog WHERE Comment LIKE N'شروع%' ORDER BY Id"),
            (std::vector<std::string>{"1", "2", "3", "4"}));
}

TEST_F(ServiceTest, WithoutCalcRowNothingIsCalculated) {
  Sql("INSERT INTO Person (Perno) VALUES ('      1001')");
  Sql("DELETE FROM Semaphor WHERE Code = 17");
  Sql("INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, Data1, CalcType, "
      "SubCalcType, FromMahPeriod, CalcYear) VALUES (4, 1, '08:00', 1, 0, 4, '1', '1399')");
  TZELKLCalculateService s(home_.string());
  bool started = false;
  s.ServiceStart(started);
  s.TDBCheckTimer();
  EXPECT_EQ(s.LastPass().due, 1);
  EXPECT_EQ(Rows("SELECT LastRunDate FROM CSSchedule"), (std::vector<std::string>{"NULL"}));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM CSSLog WHERE ScheduleId = 4 AND Comment NOT LIKE N'شروع%'"),
            (std::vector<std::string>{"1"}))
      << "the manager's row saying why";
}

TEST_F(ServiceTest, TransferSequenceLabelsPunchesThenTransfersThem) {
  Sql("INSERT INTO Person (Perno) VALUES ('      1001')");
  // A punch of a person without rule: labelled an unsure entry, then kept by the IO
  // transfer (no work rule for its card) with the reason in CSSLog.
  Sql("INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, TRANSFERED) VALUES "
      "(1, '1001', '      1001', '1399/02/02', '08:00', 0)");
  Sql("INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, Data1, CalcType, "
      "SubCalcType, CalcYear, Transfer, TransSLate, TransMor, TransMam, Uncertains) VALUES "
      "(7, 1, '08:00', 1, 0, 0, '1399', 1, 0, 1, 0, 1)");
  TZELKLCalculateService s(home_.string());
  bool started = false;
  s.ServiceStart(started);
  s.TDBCheckTimer();
  const std::string log = Log();
  EXPECT_TRUE(Logged("Start IO Transfer ...")) << log;
  EXPECT_EQ(log.find("SetClockDmpRecords"), std::string::npos) << log;
  EXPECT_EQ(Rows("SELECT IO_TYPE, UNCERTAIN FROM ClockDmp"), (std::vector<std::string>{"1|1"}));
  // The leave transfer (TransMor) runs and finds no special-card punch.
  EXPECT_EQ(log.find("TransferRecords(2)"), std::string::npos) << log;
  EXPECT_EQ(Log("ErrorTransfer"), "");
  EXPECT_TRUE(Logged("ConfirmIos RecordCount=>>0")) << log;
  EXPECT_EQ(log.find("TransferRecords(4)"), std::string::npos) << log;
  EXPECT_EQ(log.find("TransferRecords(1)"), std::string::npos);
  EXPECT_EQ(log.find("TransferRecords(3)"), std::string::npos);
  EXPECT_NE(log.find("Transfer IO Data Compeleted ..."), std::string::npos) << log;
  EXPECT_EQ(Rows("SELECT REC FROM ClockDmp"), (std::vector<std::string>{"1"}));
  const auto rows = Rows("SELECT ScheduleId, Comment FROM CSSLog ORDER BY Id");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].rfind("7|Punches kept in ClockDmp for a later transfer: card 1001, day "
                          "1399/02/02, 1 punch(es)",
                          0),
            0u)
      << rows[0];
  // The kept punch is no failure, but the pass says it skipped it.
  EXPECT_EQ(s.LastPass().failed_steps, 0) << s.LastPass().first_failed_step;
  EXPECT_EQ(s.LastPass().skipped, (std::vector<std::pair<std::string, int>>{{"io", 1}}));
}

// The intake refills the person table and reads the shift view, which every calculating
// program shares: it runs only while holding the calculation. Refused, the entry runs
// nothing and stays due.
TEST_F(ServiceTest, IntakeRefusedWhileAnotherProgramHoldsTheCalculation) {
  Sql("INSERT INTO Person (Perno) VALUES ('      1001')");
  Sql("INSERT INTO CSSPerTemp (PerNo) VALUES ('      9999')");
  Sql("INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, TRANSFERED) VALUES "
      "(1, '1001', '      1001', '1399/02/02', '08:00', 0)");
  Sql("INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, Data1, CalcType, "
      "SubCalcType, FromDate, ToDate, CalcYear, Transfer, Uncertains) VALUES "
      "(7, 1, '08:00', 1, 0, 1, '02/02', '02/02', '1399', 1, 1)");
  TZELKLCalculateService s(home_.string());
  bool started = false;
  s.ServiceStart(started);
  Sql("UPDATE Semaphor SET Amount = 1, HostName = 'PC9:77' WHERE Code = 17");
  s.TDBCheckTimer();
  EXPECT_EQ(s.LastPass().due, 1);
  EXPECT_EQ(s.LastPass().refused, 1);
  EXPECT_EQ(Rows("SELECT IO_TYPE FROM ClockDmp"), (std::vector<std::string>{"NULL"}));
  EXPECT_EQ(Rows("SELECT PerNo FROM CSSPerTemp"), (std::vector<std::string>{"      9999"}));
  EXPECT_EQ(Rows("SELECT LastRunDate FROM CSSchedule"), (std::vector<std::string>{"NULL"}));
  EXPECT_EQ(Rows("SELECT ScheduleId, Comment FROM CSSLog"),
            (std::vector<std::string>{"7|فرد ديگري در اين فرم است ."}));
  EXPECT_TRUE(Logged("Transfer IO Data Compeleted ...")) << Log();
  EXPECT_FALSE(Logged("Start Calc Daily1 ... 02/02 - 02/02")) << Log();
  EXPECT_EQ(Rows("SELECT Amount, HostName FROM Semaphor WHERE Code = 17"),
            (std::vector<std::string>{"1|PC9:77"}));
}

// A step that fails is reported with its own error, the next steps and the calculation
// still run, and the pass says which step failed.
TEST_F(ServiceTest, FailedStepIsReportedWithItsOwnError) {
  Sql("INSERT INTO Person (Perno) VALUES ('      1001')");
  Sql("INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, TRANSFERED) VALUES "
      "(1, '1001', '      1001', '1399/02/02', '08:00', 0)");
  Sql("INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, Data1, CalcType, "
      "SubCalcType, FromDate, ToDate, CalcYear, Transfer, TransMor, Uncertains) VALUES "
      "(7, 1, '08:00', 1, 0, 1, '02/02', '02/02', '1399', 1, 1, 1)");
  Sql("DROP TABLE TmpMor", "Att_1399");  // the leave transfer cannot prepare its requests
  TZELKLCalculateService s(home_.string());
  bool started = false;
  s.ServiceStart(started);
  s.TDBCheckTimer();
  EXPECT_EQ(s.LastPass().failed_steps, 1);
  const std::string& failed = s.LastPass().first_failed_step;
  ASSERT_EQ(failed.rfind("leave: ", 0), 0u) << failed;
  const std::string error = failed.substr(7);
  EXPECT_NE(error.find("TmpMor"), std::string::npos) << error;
  EXPECT_EQ(Rows("SELECT ScheduleId, PerNo, Comment FROM CSSLog WHERE RTRIM(PerNo) = '' AND "
                 "Comment NOT LIKE N'شروع%' ORDER BY Id"),
            (std::vector<std::string>{"7||" + error}));
  EXPECT_TRUE(Logged("Error After Transfer in TDBCheckTimer : " + error)) << Log();
  EXPECT_TRUE(Logged("Transfer IO Data Compeleted ...")) << Log();
  // The steps before and after it did their work, and the day was calculated.
  EXPECT_EQ(Rows("SELECT IO_TYPE FROM ClockDmp"), (std::vector<std::string>{"1"}));
  EXPECT_TRUE(Logged("ConfirmIos RecordCount=>>0")) << Log();
  EXPECT_TRUE(Logged("End Calc Daily1 ... 02/02 - 02/02")) << Log();
}

// A stop request between two intake steps: the step done stays, the others and the
// calculation are left, and the entry is due again; the next pass does the rest.
TEST_F(ServiceTest, StopBetweenIntakeStepsLeavesTheEntryDue) {
  LoadSeed();
  Sql("DELETE FROM CSSchedule");
  Sql("INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, TRANSFERED, SPCARDTYPE, "
      "SPECCARDNO) VALUES (1, '1001', '      1001', '1399/05/10', '07:00', 0, 0, ''), "
      "(2, '1001', '      1001', '1399/05/10', '10:00', 0, 1, 'L01'), "
      "(3, '1001', '      1001', '1399/05/10', '12:00', 0, 0, ''), "
      "(4, '1001', '      1001', '1399/05/10', '15:00', 0, 0, '')");
  Sql("INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, Data1, CalcType, "
      "SubCalcType, FromDate, ToDate, CalcYear, Transfer, TransSLate, TransMor, TransMam, "
      "Uncertains) VALUES (9, 1, '08:00', 1, 0, 1, '05/10', '05/10', '1399', 1, 0, 1, 0, 1)");
  TZELKLCalculateService s(home_.string());
  bool started = false;
  s.ServiceStart(started);

  // Let the labelling run, then stop before the leave transfer.
  const fs::path pause = home_ / "pause";
  setenv("ZEL_TEST_INTAKE_PAUSE", pause.c_str(), 1);
  bool paused_twice = false;
  std::thread stopper([&] {
    if (!AppearsSoon(pause)) return;
    fs::remove(pause);
    if (!AppearsSoon(pause)) return;
    paused_twice = true;
    RequestStop();
  });
  s.TDBCheckTimer();
  stopper.join();
  unsetenv("ZEL_TEST_INTAKE_PAUSE");
  ASSERT_TRUE(paused_twice) << Log();
  EXPECT_TRUE(s.LastPass().stopped);
  EXPECT_EQ(Rows("SELECT REC, IO_TYPE FROM ClockDmp ORDER BY REC"),
            (std::vector<std::string>{"1|1", "2|2", "3|1", "4|2"}));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM Morkhasi", "Att_1399"), (std::vector<std::string>{"0"}));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM IoInfo", "Att_1399"), (std::vector<std::string>{"0"}));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM DayWork", "Att_1399"), (std::vector<std::string>{"0"}));
  EXPECT_EQ(Rows("SELECT LastRunDate FROM CSSchedule"), (std::vector<std::string>{"NULL"}));
  EXPECT_EQ(Rows("SELECT Amount FROM Semaphor WHERE Code = 17"), (std::vector<std::string>{"0"}));

  ResetStopRequest();
  s.TDBCheckTimer();
  EXPECT_EQ(s.LastPass().due, 1);
  EXPECT_FALSE(s.LastPass().stopped);
  EXPECT_EQ(
      Rows("SELECT PerNo, DDate, WorkTotal FROM DayWork WHERE PerNo = '      1001'", "Att_1399"),
      (std::vector<std::string>{"      1001|05/10|330"}))
      << Log();
  EXPECT_EQ(Rows("SELECT LastRunDate FROM CSSchedule"), (std::vector<std::string>{"1399/08/03"}));
}

// A leave card pair on the way to the day's results: the punches are labelled, the leave
// transfer (TransMor) makes an hourly leave 10:00-12:00 of them and clears their card
// marks, the IO transfer pairs them as ordinary punches, and the day counts the leave.
TEST_F(ServiceTest, LeaveCardPairGoesThroughTheTransferIntoTheDay) {
  ASSERT_NO_FATAL_FAILURE(LoadSeed());
  Sql("INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, TRANSFERED, SPCARDTYPE, "
      "SPECCARDNO) VALUES (1, '1001', '      1001', '1399/05/10', '07:00', 0, 0, ''), "
      "(2, '1001', '      1001', '1399/05/10', '10:00', 0, 1, 'L01'), "
      "(3, '1001', '      1001', '1399/05/10', '12:00', 0, 0, ''), "
      "(4, '1001', '      1001', '1399/05/10', '15:00', 0, 0, '')");
  Sql("INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, Data1, CalcType, "
      "SubCalcType, FromDate, ToDate, CalcYear, Transfer, TransSLate, TransMor, TransMam, "
      "Uncertains) VALUES (9, 1, '08:00', 1, 0, 1, '05/10', '05/10', '1399', 1, 0, 1, 0, 1)");
  Sql("INSERT INTO CSSPersons (ScheduleId, PerNo) VALUES (9, '      1001')");
  TZELKLCalculateService s(home_.string());
  bool started = false;
  s.ServiceStart(started);
  s.TDBCheckTimer();
  EXPECT_EQ(Rows("SELECT PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE FROM "
                 "Morkhasi",
                 "Att_1399"),
            (std::vector<std::string>{"1|      1001|05/10|10:00|05/10|12:00|21"}))
      << Log();
  EXPECT_EQ(Rows("SELECT PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME FROM IoInfo ORDER BY "
                 "BEGINTIME",
                 "Att_1399"),
            (std::vector<std::string>{"      1001|05/10|07:00|05/10|10:00",
                                      "      1001|05/10|12:00|05/10|15:00"}))
      << Log();
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM ClockDmp"), (std::vector<std::string>{"0"}));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM TmpMor", "Att_1399"), (std::vector<std::string>{"0"}));
  EXPECT_EQ(Rows("SELECT PerNo, DDate, MorkhasiCode, Amount FROM DayMorDt", "Att_1399"),
            (std::vector<std::string>{"      1001|05/10|21|120"}))
      << Log();
  // 07:00-10:00 and 12:00-15:00 less the 12:00-12:30 break.
  EXPECT_EQ(
      Rows("SELECT PerNo, DDate, WorkTotal FROM DayWork WHERE PerNo = '      1001'", "Att_1399"),
      (std::vector<std::string>{"      1001|05/10|330"}))
      << Log();
}

// From raw punches to the day's results in one pass: a daily entry with Transfer 1 labels
// the punches, pairs them into an entry/exit record and calculates the day from it. The
// organisation is the statement corpus' seed (calendar 1: duty 07:00-15:00 with a break
// 12:00-12:30 on 05/10).
TEST_F(ServiceTest, DailyEntryWithTransferGoesFromPunchesToDayWork) {
  ASSERT_NO_FATAL_FAILURE(LoadSeed());
  Sql("INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, TRANSFERED, SPCARDTYPE) "
      "VALUES (1, '1001', '      1001', '1399/05/10', '07:00', 0, 0), "
      "(2, '1001', '      1001', '1399/05/10', '15:00', 0, 0)");
  Sql("INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, Data1, CalcType, "
      "SubCalcType, FromDate, ToDate, CalcYear, Transfer, TransSLate, TransMor, TransMam, "
      "Uncertains) VALUES (9, 1, '08:00', 1, 0, 1, '05/10', '05/10', '1399', 1, 0, 0, 0, 1)");
  Sql("INSERT INTO CSSPersons (ScheduleId, PerNo) VALUES (9, '      1001')");
  TZELKLCalculateService s(home_.string());
  bool started = false;
  s.ServiceStart(started);
  s.TDBCheckTimer();
  EXPECT_EQ(Rows("SELECT PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration FROM IoInfo",
                 "Att_1399"),
            (std::vector<std::string>{"      1001|05/10|07:00|05/10|15:00|480"}))
      << Log();
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM ClockDmp"), (std::vector<std::string>{"0"}));
  EXPECT_EQ(Rows("SELECT PerNo, DDate, CalWork, WorkTotal FROM DayWork", "Att_1399"),
            (std::vector<std::string>{"      1001|05/10|450|450"}))
      << Log();
}

TEST_F(ServiceTest, PassFailureIsLoggedAndTheTimerComesBack) {
  const zel::testing::ScopedFaults faults({"CSSchedule"});
  TZELKLCalculateService s(home_.string());
  s.LoadConfiguration();
  s.FillSemaphoreList();
  s.TDBCheckTimer();
  EXPECT_NE(s.LastPass().error.find("CSSchedule"), std::string::npos) << s.LastPass().error;
  EXPECT_NE(Log().find(" : Error Qhelp in TDBCheckTimer : "), std::string::npos) << Log();
  EXPECT_TRUE(s.TimerEnabled());
  EXPECT_FALSE(s.CalcServiceIsRunning());
  EXPECT_FALSE(s.MustRunIt(1));
  EXPECT_NE(Log().find(" : Error MustRunIt in CSMain : "), std::string::npos) << Log();
}

TEST_F(ServiceTest, CssLogRowKeepsApostrophes) {
  TZELKLCalculateService s(home_.string());
  s.LoadConfiguration();
  s.InsertServiceLog(5, "      1001", "person's day can't be calculated");
  EXPECT_EQ(Rows("SELECT ScheduleId, PerNo, LogDate, LogTime, Comment, Status FROM CSSLog"),
            (std::vector<std::string>{
                "5|      1001|1399/08/03|09:00|person's day can't be calculated|0"}));
}

TEST_F(ServiceTest, ServerMachineNameAndDescription) {
  EXPECT_EQ(ServerMachineNameOf("db1\\main"), "db1");
  EXPECT_EQ(ServerMachineNameOf("db1"), "db1");
  EXPECT_EQ(ServerMachineNameOf(""), "");
  EXPECT_EQ(ServiceDescriptionText(),
            "Version " + ModuleVersionText() +
                " Publish Date : 2020/10/24 Provides calculate service for Vesprin time "
                "attendance system ");
}

}  // namespace
}  // namespace zel::service
