#include "engine/dm_calculate.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

#include "dates/clock.h"
#include "testing/faulty_connection.h"
#include "testing/temp_server.h"
#include "util/text.h"

namespace zel::engine {
namespace {

using TestServer = ::zel::testing::TempHome;

std::string Trim(std::string_view text) { return util::Trim(text, util::kBlank); }

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
    for (const auto& row :
         server_.Query("Att", "SELECT ScheduleId, PerNo, LogDate, LogTime, Comment, Status "
                              "FROM CSSLog ORDER BY Id")
             .rows) {
      std::vector<std::string> texts;
      for (const auto& value : row) texts.push_back(Trim(value.AsString()));
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
  } cases[] = {{"1399", 1, 31}, {"1399", 6, 31}, {"1399", 7, 30}, {"1399", 11, 30},
               {"1399", 12, 30}, {"1398", 12, 29}, {"1403", 12, 30}, {"1404", 12, 29}};
  for (const auto& c : cases) {
    TdmCalculate module;
    module.CurrentYear = c.year;
    EXPECT_EQ(module.DaysInMonth(c.month), c.days) << c.year << "/" << c.month;
  }
}

TEST_F(DmCalculateTest, InitialValuesConnectsToTheBaseAndTheYearDatabase) {
  server_.Exec("Att", "INSERT INTO Person (Perno, FirstName, LastName) VALUES "
                      "('      1002', 'Reza', ' Karimi'), ('      1001', 'Ali', 'Ahmadi')");
  server_.Exec("Att_1399", "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES "
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
    full_names.push_back(Trim(persons.FieldByName("Perno").AsString()) + " " +
                         Trim(persons.FieldByName("FullName").AsString()));
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
  server_.Exec("Att_1399", "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES "
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

}  // namespace
}  // namespace zel::engine
