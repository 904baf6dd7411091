#include "engine/dm_calculate.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

#include "dates/clock.h"
#include "testing/faulty_connection.h"
#include "testing/recording_connection.h"
#include "testing/temp_server.h"
#include "util/text.h"

namespace zel::engine {
namespace {

using TestServer = ::zel::testing::TempHome;

class DmCalculateTest : public ::testing::Test {
 protected:
  void SetUp() override { dates::SetNowJalali("1399/08/03 10:15", true); }
  void TearDown() override { dates::ResetNow(); }

  // A module connected to Att / Att_1399 for schedule 7.
  std::unique_ptr<TdmCalculate> Connected() const {
    auto module = std::make_unique<TdmCalculate>(server_.DataDir());
    module->InitialValues("1399", "", "", "Att", "", 7);
    return module;
  }

  std::vector<std::vector<std::string>> LogRows() const {
    std::vector<std::vector<std::string>> out;
    for (const auto& row : server_
                               .Query("Att",
                                      "SELECT ScheduleId, PerNo, LogDate, LogTime, Comment, Status "
                                      "FROM CSSLog ORDER BY Id")
                               .rows) {
      std::vector<std::string> texts;
      for (const auto& value : row) texts.push_back(util::TrimBlanks(value.AsString()));
      out.push_back(texts);
    }
    return out;
  }

  TestServer server_;
};

TEST(DmCalculateConnectionStringTest, CatalogIsTheBaseOrTheYearDatabase) {
  const struct {
    const char* year;
    const char* catalog;
  } cases[] = {{"1399", "Att_1399"}, {"", "Att"}, {"   ", "Att"}};
  for (const auto& c : cases) {
    EXPECT_EQ(TdmCalculate::BuildConnectionString("Att", "srv", "sa", "pw", c.year),
              std::string("Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;User ID=sa;"
                          "Initial Catalog=") +
                  c.catalog + ";Data Source=srv")
        << "'" << c.year << "'";
  }
}

TEST(DmCalculateDaysInMonthTest, FollowsTheCalculationLeapRule) {
  const struct {
    const char* year;
    int month;
    int days;
  } cases[] = {{"1399", 1, 31},  {"1399", 6, 31},  {"1399", 7, 30},  {"1399", 11, 30},
               {"1399", 12, 30}, {"1398", 12, 29}, {"1403", 12, 30}, {"1404", 12, 29}};
  for (const auto& c : cases) {
    TdmCalculate module;
    module.CurrentYear = c.year;
    EXPECT_EQ(module.DaysInMonth(c.month), c.days) << c.year << "/" << c.month;
  }
}

TEST_F(DmCalculateTest, InitialValuesConnectsToTheBaseAndTheYearDatabase) {
  server_.Exec("Att",
               "INSERT INTO Person (Perno, FirstName, LastName) VALUES "
               "('      1002', 'Reza', ' Karimi'), ('      1001', 'Ali', 'Ahmadi')");
  server_.Exec("Att_1399",
               "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES "
               "('      1001', '05/09', 450)");
  auto module = Connected();

  EXPECT_EQ(module->CurrentYear, "1399");
  EXPECT_EQ(module->PreviousYear, "1398");
  EXPECT_EQ(module->DataBaseNameYear, "Att_1399");
  EXPECT_EQ(module->ScheduleId, 7);
  EXPECT_EQ(module->DataBaseNameOfYear(1400), "Att_1400");
  EXPECT_NE(module->DbTimeAttendanceConnectionString.find(";Initial Catalog=Att_1399;"),
            std::string::npos);
  EXPECT_NE(module->DbBaseInfoConnectionString.find(";Initial Catalog=Att;"), std::string::npos);
  EXPECT_EQ(module->ADOConnectionTimeAttendance()
                .Execute("SELECT COUNT(*) FROM DayWork")
                .rows[0][0]
                .AsInteger(),
            1);

  db::Dataset& persons = module->QPerson();
  persons.Open();
  std::vector<std::string> full_names;
  for (; !persons.Eof(); persons.Next()) {
    full_names.push_back(util::TrimBlanks(persons.FieldByName("Perno").AsString()) + " " +
                         util::TrimBlanks(persons.FieldByName("FullName").AsString()));
  }
  EXPECT_EQ(full_names, (std::vector<std::string>{"1001 Ahmadi Ali", "1002 Karimi Reza"}));

  server_.Exec("Att", "INSERT INTO SYSTEM (NightBegin, NightEnd) VALUES ('22:00', '06:00')");
  module->QSystem().Open();
  EXPECT_EQ(module->QSystem().FieldByName("NightBegin").AsString(), "22:00");
  module->taSystem().Open();
  EXPECT_EQ(module->taSystem().FieldByName("NightEnd").AsString(), "06:00");

  server_.Exec("Att", "INSERT INTO Semaphor (Code, Amount) VALUES (17, 0)");
  module->taSemaphore().Open();
  EXPECT_TRUE(module->taSemaphore().Locate("Code", 17));
}

TEST_F(DmCalculateTest, InitialValuesRaisesForABadYearOrAMissingDatabase) {
  TdmCalculate module(server_.DataDir());
  EXPECT_THROW(module.InitialValues("13x9", "", "", "Att", "", 0), std::invalid_argument);
  EXPECT_THROW(module.InitialValues("1398", "", "", "Att", "", 0), db::DbError);  // no Att_1398
  EXPECT_THROW(module.QSystem(), db::DbError);
}

TEST_F(DmCalculateTest, LogRowIsTrimmedDatedAndKeepsApostrophes) {
  auto module = Connected();
  module->InsertCalcLogTable(7, "      1001", "  it's late  ");
  module->InsertCalcLogTable(0, "", std::string(300, 'x'));
  EXPECT_EQ(LogRows(), (std::vector<std::vector<std::string>>{
                           {"7", "1001", "1399/08/03", "10:15", "it's late", "0"},
                           {"0", "", "1399/08/03", "10:15", std::string(255, 'x'), "0"}}));
}

TEST_F(DmCalculateTest, FailedLogRowGoesToThePersonsLogFileAndDoesNotRaise) {
  const zel::testing::ScopedFaults faults({"Insert Into CSSLog"});
  auto module = Connected();
  module->AttendanceCalcManager().SetPersonID("      1001");
  EXPECT_NO_THROW(module->InsertCalcLogTable(7, "      1001", "lost"));
  const std::string text = server_.LogFile("Thread1001(1399-08-03)_T0.Log");
  EXPECT_NE(text.find("1399/08/03 10:15:00 : Error On Insert Log To DB : "), std::string::npos)
      << text;
}

TEST_F(DmCalculateTest, ModuleOfAGivenUpWorkerWritesNothingMore) {
  server_.Exec("Att_1399",
               "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES "
               "('      1001', '05/09', 450)");
  auto module = Connected();
  std::stop_source stop;
  module->SetStopToken(stop.get_token());
  module->InsertCalcLogTable(7, "1001", "before");
  stop.request_stop();
  module->InsertCalcLogTable(7, "1001", "after");
  EXPECT_THROW(module->ADOConnectionTimeAttendance().Execute("DELETE FROM DayWork"), EAbort);
  EXPECT_THROW(module->ADOConnectionDbBase().Execute("DELETE FROM CSSLog"), EAbort);

  ASSERT_EQ(LogRows().size(), 1u);
  EXPECT_EQ(LogRows()[0][4], "before");
  EXPECT_EQ(server_.Query("Att_1399", "SELECT COUNT(*) FROM DayWork").rows[0][0].AsInteger(), 1);
}

// Grouped days: a day's changing statements wait while it is calculated (its reads see the
// rows as they were), the calculated days are written together by WriteDays, and a day whose
// writes fail is left as it was while the others of its group are written.
TEST_F(DmCalculateTest, GroupedDaysWaitAndAreWrittenWholeOrNotAtAll) {
  for (const char* day : {"05/09", "05/10", "05/11"}) {
    server_.Exec("Att_1399", std::string("INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES "
                                         "('      1001', '") +
                                 day + "', 1)");
  }
  auto module = Connected();
  module->GroupDays(true);
  db::Connection& year = module->ADOConnectionTimeAttendance();
  const auto work = [&](const std::string& day) {
    return year.Execute("SELECT WorkTotal FROM DayWork WHERE DDate = '" + day + "'").rows;
  };
  // A day's statements: its old row deleted, the new one written; 05/11 cannot write.
  const auto day = [&](const std::string& mmdd, const std::string& extra) {
    module->StartDay(mmdd);
    module->BeginDayWrites();
    year.Execute("  delete FROM DayWork WHERE DDate = '" + mmdd + "'");
    year.Execute("INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES ('      1001', '" + mmdd +
                 "', 450)");
    if (!extra.empty()) year.Execute(extra);
    EXPECT_EQ(work(mmdd), (std::vector<std::vector<db::Value>>{{1}}))
        << "read inside the day " << mmdd;
    module->InsertCalcLogTable(7, "1001", "day " + mmdd);
    return module->EndDay();
  };
  EXPECT_EQ(day("05/09", ""), std::nullopt);
  EXPECT_EQ(day("05/10", "UPDATE DayWork SET WorkTotal = 460 WHERE DDate = '05/10'"), std::nullopt);
  EXPECT_EQ(day("05/11", "INSERT INTO NoSuchTable VALUES (1)"), std::nullopt);
  EXPECT_EQ(module->DaysWaiting(), 3);
  EXPECT_EQ(work("05/09"), (std::vector<std::vector<db::Value>>{{1}}));
  EXPECT_TRUE(LogRows().empty());  // kept back until the days are written

  const auto failed = module->WriteDays();
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].label, "05/11");
  EXPECT_NE(failed[0].failure.find("Invalid object name"), std::string::npos) << failed[0].failure;
  EXPECT_EQ(module->DaysWaiting(), 0);
  EXPECT_EQ(work("05/09"), (std::vector<std::vector<db::Value>>{{450}}));
  EXPECT_EQ(work("05/10"), (std::vector<std::vector<db::Value>>{{460}}));
  EXPECT_EQ(work("05/11"), (std::vector<std::vector<db::Value>>{{1}}));  // as it was
  ASSERT_EQ(LogRows().size(), 3u);
  EXPECT_EQ(LogRows()[2][4], "day 05/11");
  EXPECT_TRUE(module->WriteDays().empty());  // nothing left to write
}

// A day whose calculation fails (a read fails) drops its waiting statements; ungrouped, a
// calculated day is written when it ends and its write failure is the day's.
TEST_F(DmCalculateTest, FailedDayDropsItsWritesAndUngroupedDaysAreWrittenAtOnce) {
  server_.Exec("Att_1399",
               "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES "
               "('      1001', '05/09', 1)");
  auto module = Connected();
  db::Connection& year = module->ADOConnectionTimeAttendance();
  const auto total = [&] {
    return year.Execute("SELECT SUM(WorkTotal) FROM DayWork").rows[0][0].AsInteger();
  };
  for (const bool grouped : {true, false}) {
    SCOPED_TRACE(grouped ? "grouped" : "ungrouped");
    module->GroupDays(grouped);
    module->StartDay("05/09");
    module->BeginDayWrites();
    year.Execute("DELETE FROM DayWork");
    EXPECT_THROW(year.Execute("SELECT * FROM NoSuchTable"), db::DbError);
    EXPECT_NE(module->EndDay(), std::nullopt);
    EXPECT_EQ(module->DaysWaiting(), 0);
    EXPECT_TRUE(module->WriteDays().empty());
    EXPECT_EQ(total(), 1);
  }
  // Ungrouped: written by EndDay.
  module->StartDay("05/10");
  module->BeginDayWrites();
  year.Execute("UPDATE DayWork SET WorkTotal = 2");
  EXPECT_EQ(module->EndDay(), std::nullopt);
  EXPECT_EQ(total(), 2);
  module->StartDay("05/11");
  module->BeginDayWrites();
  year.Execute("UPDATE DayWork SET WorkTotal = 3");
  year.Execute("DELETE FROM NoSuchTable");
  const auto failure = module->EndDay();
  ASSERT_NE(failure, std::nullopt);
  EXPECT_NE(failure->find("Invalid object name"), std::string::npos) << *failure;
  EXPECT_EQ(total(), 2);
}

// A recalculated day whose rows equal the stored ones is not written again; a changed day
// is deleted and written whole, the deletes of changed days that follow each other sent once.
TEST_F(DmCalculateTest, OnlyTheDaysWhoseRowsChangedAreWritten) {
  // Stored by an earlier calculation: 05/09 .. 05/13, each with its leave detail; 05/12 has
  // a column edited by hand that the calculation leaves NULL.
  for (const char* day : {"05/09", "05/10", "05/11", "05/12", "05/13"}) {
    const std::string d = day;
    server_.Exec(
        "Att_1399",
        "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES ('      1001', '" + d + "', 450)");
    server_.Exec("Att_1399",
                 "INSERT INTO DayMorDt (PerNo, DDate, MorkhasiCode, Amount) VALUES "
                 "('      1001', '" +
                     d + "', 21, 60)");
  }
  server_.Exec("Att_1399", "UPDATE DayWork SET Section = N'by hand' WHERE DDate = '05/12'");
  ::zel::testing::StatementRecorder recorder;
  const ::zel::testing::ScopedRecording recording(recorder);
  auto module = Connected();
  module->GroupDays(true);
  db::Connection& year = module->ADOConnectionTimeAttendance();
  const auto p = [](const char* name, const std::string& value) {
    return db::Param{name, db::ParamType::String, 10, db::Value(value)};
  };
  // The day as the worker writes it: the day's deletes, its row, its leave detail.
  const auto day = [&](const std::string& mmdd, int work, int leave) {
    module->StartDay(mmdd);
    module->BeginDayWrites();
    for (const auto& [table, column] : {std::pair{"DayMorDt ", "DDate"}, {"DayWork", "DDate"}}) {
      year.Execute(std::string("DELETE FROM Att_1399..") + table + "\nwhere \n(Perno = ?)\nAND (" +
                       column + " >= ?)\nAND (" + column + " <= ?)",
                   {p("Perno", "      1001"), p("From", mmdd), p("To", mmdd)}, 60);
    }
    year.Execute(
        "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES (?, ?, ?)",
        {p("PerNo", "      1001"), p("DDate", mmdd), {"W", db::ParamType::Integer, 0, work}});
    year.Execute(
        "INSERT INTO DayMorDt ([PerNo], [DDate], [MorkhasiCode], [Amount]) VALUES (?, ?, ?, ?)",
        {p("PerNo", "      1001"),
         p("DDate", mmdd),
         {"C", db::ParamType::Unknown, 0, 21},
         {"A", db::ParamType::Unknown, 0, leave}});
    return module->EndDay();
  };
  EXPECT_EQ(day("05/09", 450, 60), std::nullopt);  // as stored
  EXPECT_EQ(day("05/10", 480, 60), std::nullopt);  // more work
  EXPECT_EQ(day("05/11", 450, 90), std::nullopt);  // a longer leave
  EXPECT_EQ(day("05/12", 450, 60), std::nullopt);  // as calculated, but edited by hand
  EXPECT_EQ(day("05/13", 450, 60), std::nullopt);  // as stored
  const std::size_t before = recorder.Texts().size();
  EXPECT_TRUE(module->WriteDays().empty());
  std::vector<std::string> sent;
  for (std::size_t i = before; i < recorder.Texts().size(); ++i)
    sent.push_back(recorder.Texts()[i].substr(0, recorder.Texts()[i].find('\n')));
  // The stored rows read once per table, then 05/10 .. 05/12 rewritten: one delete per table,
  // the rows of a table in inserts of several rows.
  EXPECT_EQ(sent,
            (std::vector<std::string>{
                "SELECT * FROM Att_1399..DayMorDt ", "SELECT * FROM Att_1399..DayWork",
                "DELETE FROM Att_1399..DayMorDt ", "DELETE FROM Att_1399..DayWork",
                "INSERT INTO DayMorDt ([PerNo], [DDate], [MorkhasiCode], [Amount]) VALUES (?, ?, "
                "?, ?), (?, ?, ?, ?)",
                "INSERT INTO DayMorDt ([PerNo], [DDate], [MorkhasiCode], [Amount]) VALUES (?, ?, "
                "?, ?)",
                "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES (?, ?, ?), (?, ?, ?)",
                "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES (?, ?, ?)"}));
  // The tables as a full rewrite leaves them.
  const auto rows = server_
                        .Query("Att_1399",
                               "SELECT w.DDate, WorkTotal, Section, Amount FROM DayWork w "
                               "JOIN DayMorDt d ON d.PerNo = w.PerNo AND d.DDate = w.DDate "
                               "ORDER BY w.DDate")
                        .rows;
  std::vector<std::string> tables;
  for (const auto& r : rows) {
    tables.push_back(r[0].AsString() + " " + r[1].AsString() + " " +
                     (r[2].IsNull() ? "NULL" : r[2].AsString()) + " " + r[3].AsString());
  }
  EXPECT_EQ(tables,
            (std::vector<std::string>{"05/09 450 NULL 60", "05/10 480 NULL 60", "05/11 450 NULL 90",
                                      "05/12 450 NULL 60", "05/13 450 NULL 60"}));
  // Calculated again with nothing changed: the reads, and nothing written.
  for (const char* d : {"05/09", "05/10", "05/11"})
    day(d, std::string(d) == "05/10" ? 480 : 450, std::string(d) == "05/11" ? 90 : 60);
  const std::size_t again = recorder.Texts().size();
  EXPECT_TRUE(module->WriteDays().empty());
  EXPECT_EQ(recorder.Texts().size() - again, 2u);  // the two reads
}

}  // namespace
}  // namespace zel::engine
