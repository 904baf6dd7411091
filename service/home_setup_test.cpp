#include "service/home_setup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "dates/clock.h"
#include "db/client.h"

namespace zel::service {
namespace {

namespace fs = std::filesystem;

class HomeSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zel_home_XXXXXX").string();
    home_ = mkdtemp(pattern.data());
    dates::SetNowJalali("1399/08/03 09:00", true);
  }
  void TearDown() override {
    dates::ResetNow();
    fs::remove_all(home_);
  }
  std::vector<std::string> Rows(const std::string& sql, const std::string& database) {
    db::ConnectionSettings s;
    s.data_dir = (home_ / "Data").string();
    s.database = database;
    std::vector<std::string> lines;
    for (const auto& row : db::Connect(s)->Execute(sql).rows) {
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
  std::string Ini() {
    std::ifstream in(home_ / "Korlan.Ini");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path home_;
};

using Lines = std::vector<std::string>;

TEST_F(HomeSetupTest, NewHomeGetsDatabasesTablesAndBaseRows) {
  HomeSetupResult r = InitEmbeddedHome(home_.string(), {});
  EXPECT_TRUE(r.ini_written);
  EXPECT_EQ(r.created, (Lines{"Att", "Att_1399", "ZELLog"}));
  EXPECT_TRUE(r.already_there.empty());
  EXPECT_EQ(Ini(),
            "[ZEL]\r\nSERVERNAME=\r\nDATABASENAME=Att\r\nUSERNAME=\r\nUSERPASSWORD=\r\n"
            "MaxThread=3\r\nEnableLog=F\r\n");

  EXPECT_EQ(Rows("SELECT KorlanCalcOrService, NumYears, Years, Period1B, Period1E, Period7E, "
                 "Period12E, NightBegin, NightEnd, StartMorLeft FROM SYSTEM",
                 "Att"),
            (Lines{"0|1|99|01/01|01/31|07/30|12/29|22:00|06:00|1"}));
  EXPECT_EQ(Rows("SELECT COUNT(*), MIN(Code), MAX(Code), SUM(Amount) FROM Semaphor", "Att"),
            (Lines{"20|1|20|0"}));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM CSSchedule", "Att"), (Lines{"0"}));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM DayWork", "Att_1399"), (Lines{"0"}));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM IOInfo_Log", "ZELLog"), (Lines{"0"}));
  // The day functions, as the record transfer defines them (no year, no leap day).
  EXPECT_EQ(Rows("SELECT dbo.incDate('06/31'), dbo.incDate('07/30'), dbo.incDate('12/30'), "
                 "dbo.decDate('01/01'), dbo.decDate('07/01'), dbo.decDate('08/15')",
                 "Att"),
            (Lines{"07/01|08/01|13/01|00/31|06/31|08/14"}));
}

TEST_F(HomeSetupTest, ExistingDataIsNeverOverwritten) {
  InitEmbeddedHome(home_.string(), {});
  try {
    InitEmbeddedHome(home_.string(), {});
    FAIL() << "a second init must be refused";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("Att, Att_1399, ZELLog already exist"), std::string::npos)
        << e.what();
  }
  // A new year joins an existing home; nothing else is touched.
  HomeSetupResult r = InitEmbeddedHome(home_.string(), {1400});
  EXPECT_FALSE(r.ini_written);
  EXPECT_EQ(r.created, (Lines{"Att_1400"}));
  EXPECT_EQ(r.already_there, (Lines{"Att", "Att_1399", "ZELLog"}));
  EXPECT_EQ(Rows("SELECT NumYears, Years FROM SYSTEM", "Att"), (Lines{"2|9900"}));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM Semaphor", "Att"), (Lines{"20"}));
}

TEST_F(HomeSetupTest, RefusesWhatItCannotSetUp) {
  struct Case {
    const char* ini;
    const char* message;
  } cases[] = {
      {"[ZEL]\nSERVERNAME=db1\\main\nDATABASENAME=Att\n", "names the SQL Server 'db1\\main'"},
      {"[ZEL]\nSERVERNAME=\nDATABASENAME=\n", "has no DATABASENAME"},
      {"[ZEL]\nDATABASENAME=Att;DROP\n", "may hold only letters, digits and '_'"},
  };
  for (const auto& c : cases) {
    std::ofstream(home_ / "Korlan.Ini") << c.ini;
    try {
      InitEmbeddedHome(home_.string(), {});
      ADD_FAILURE() << c.message;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(home_ / "Data")) << c.message;
  }
  std::ofstream(home_ / "Korlan.Ini") << "[ZEL]\nDATABASENAME=Att\n";
  EXPECT_THROW(InitEmbeddedHome(home_.string(), {1205}), std::runtime_error);
}

}  // namespace
}  // namespace zel::service
