// The scenario file format: sections, the run, expected tables, fixtures and the errors
// that name the file and line.

#include "testing/scenarios/scenario_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace zel::engine::scenarios {
namespace {

namespace fs = std::filesystem;

TEST(ScenarioFile, ReadsEverySection) {
  const ScenarioText text = ParseScenarioText(R"(-- A day.
include fixed_calendar
pending: waits for the floating start

[base]
UPDATE WorkGrp SET LATE_IN = 15
GO
[year]
INSERT INTO IoInfo (PERNO) VALUES ('      1001')

[run]
year: 1398
from: 02/02
to: 02/03
persons: 1001 1002
threads: 1

[expect DayWork]
| PerNo | DDate | WorkTotal |
|-------|-------|-----------|
| 1001  | 02/02 | 450       |
  1001  | 02/03 | NULL
1001 | 02/04 |

[expect TimeTab where Status <> 7]
CalcDate | Status
)",
                                              "a.scenario");
  EXPECT_EQ(text.includes, std::vector<std::string>{"fixed_calendar"});
  EXPECT_EQ(text.pending, "waits for the floating start");
  EXPECT_EQ(text.base_sql, "UPDATE WorkGrp SET LATE_IN = 15\nGO\n");
  EXPECT_EQ(text.year_sql, "INSERT INTO IoInfo (PERNO) VALUES ('      1001')\n\n");
  EXPECT_EQ(text.year, "1398");
  EXPECT_EQ(text.from_date, "02/02");
  EXPECT_EQ(text.to_date, "02/03");
  EXPECT_EQ(text.persons, (std::vector<std::string>{"1001", "1002"}));
  EXPECT_EQ(text.threads, 1);
  ASSERT_EQ(text.expected.size(), 2u);
  EXPECT_EQ(text.expected[0].table, "DayWork");
  EXPECT_EQ(text.expected[0].columns, (std::vector<std::string>{"PerNo", "DDate", "WorkTotal"}));
  ASSERT_EQ(text.expected[0].rows.size(), 3u);
  EXPECT_EQ(text.expected[0].rows[1], (std::vector<std::string>{"1001", "02/03", "NULL"}));
  // Unframed, a trailing "|" closes an empty last cell.
  EXPECT_EQ(text.expected[0].rows[2], (std::vector<std::string>{"1001", "02/04", ""}));
  EXPECT_EQ(text.expected[1].table, "TimeTab");
  EXPECT_EQ(text.expected[1].where, "Status <> 7");
  EXPECT_TRUE(text.expected[1].rows.empty());
}

TEST(ScenarioFile, ReadsMonthlyRunsAndOtherYears) {
  const ScenarioText text = ParseScenarioText(R"([year 1400]
INSERT INTO DayWork (PerNo) VALUES ('      1001')
[year]
DELETE FROM DayWork
[run]
kind: periodic
from: 12
to: 12
)",
                                              "p.scenario");
  EXPECT_EQ(text.kind, "periodic");
  EXPECT_EQ(text.from_date, "12");
  EXPECT_EQ(text.other_year_sql,
            (std::map<std::string, std::string>{
                {"1400", "INSERT INTO DayWork (PerNo) VALUES ('      1001')\n"}}));
  EXPECT_EQ(text.year_sql, "DELETE FROM DayWork\n");

  const ScenarioText daily =
      ParseScenarioText("[run]\nfrom: 02/01\nto: 02/31\nthen month: 2\nruns: 2\n", "d.scenario");
  EXPECT_EQ(daily.kind, "daily");
  EXPECT_EQ(daily.then_month, 2);
  EXPECT_EQ(daily.runs, 2);
  EXPECT_EQ(text.runs, 1);
  EXPECT_TRUE(daily.log_contains.empty());

  // Log expectations keep their order; quotes around a text are dropped, colons inside kept.
  const ScenarioText logged = ParseScenarioText(
      "[run]\nkind: periodic\nfrom: 3\nto: 3\nthen log contains: Error = Range state is "
      "unknown!\nthen log contains: \"Finish Execute : \"\n",
      "l.scenario");
  EXPECT_EQ(logged.log_contains,
            (std::vector<std::string>{"Error = Range state is unknown!", "Finish Execute : "}));
}

TEST(ScenarioFile, ErrorsNameTheLine) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"[run]\nfrom: 2/2\n", "x:2: from must be \"MM/DD\""},
      {"[expect DayWork]\nA | B\n1\n", "x:3: row has 1 cells, the header 2"},
      {"[nonsense]\n", "x:1: unknown section \"[nonsense]\""},
      {"hello\n", "x:1: expected \"include <fixture>\""},
      {"[run]\ncolour: red\n", "x:2: unknown [run] key \"colour\""},
      {"[expect DayWork]\n", "x:1: [expect DayWork] has no header line"},
      {"[expect DayWork when x]\nA\n", "x:1: expected \"[expect <Table> where <condition>]\""},
      {"[run]\nfrom: 01/01\n", "[run] needs from and to"},
      {"[run]\nkind: monthly\nfrom: 03/01\n", "x:3: from must be a number 1..12"},
      {"[run]\nkind: yearly\n", "x:2: kind must be daily, monthly or periodic"},
      {"[run]\nthen month: 13\n", "x:2: then month must be a number 1..12"},
      {"[year 99]\n", "x:1: expected \"[year YYYY]\""},
      {"[run]\nthen log contains: \"\"\n", "x:2: then log contains needs a text"},
      {"[run]\nruns: 0\n", "x:2: runs must be a number 1..9"},
  };
  for (const auto& c : cases) {
    try {
      ParseScenarioText(c.text, "x");
      ADD_FAILURE() << "no error for: " << c.text;
    } catch (const ScenarioFormatError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << e.what() << "\n expected: " << c.message;
    }
  }
}

class ScenarioFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zel_scnfile_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "fixtures");
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Write(const fs::path& relative, const std::string& text) {
    std::ofstream(dir_ / relative) << text;
  }
  fs::path dir_;
};

TEST_F(ScenarioFolder, FixturesComeFirstAndOnce) {
  Write("fixtures/common.fixture", "[base]\nINSERT INTO SYSTEM (Round) VALUES (0)\n");
  Write("fixtures/office.fixture",
        "include common\n[base]\nINSERT INTO WorkGrp (CODE) VALUES (1)\n[year]\nSELECT 1\n");
  Write("fixtures/shift.fixture",
        "include common\n[base]\nINSERT INTO WorkGrp (CODE) VALUES (6)\n");
  Write("day.scenario",
        "include office\ninclude shift\n[base]\nUPDATE WorkGrp SET LATE_IN = 5\nGO\nSELECT 2\n"
        "[run]\nfrom: 02/02\nto: 02/02\n");
  Write("notes.txt", "not a scenario");
  const Scenario s = LoadScenario(dir_ / "day.scenario");
  EXPECT_EQ(s.name, "day");
  EXPECT_EQ(s.base_batches,
            (std::vector<std::string>{"INSERT INTO SYSTEM (Round) VALUES (0)\n",
                                      "INSERT INTO WorkGrp (CODE) VALUES (1)\n",
                                      "INSERT INTO WorkGrp (CODE) VALUES (6)\n",
                                      "UPDATE WorkGrp SET LATE_IN = 5\n", "SELECT 2\n"}));
  EXPECT_EQ(s.year_batches, std::vector<std::string>{"SELECT 1\n"});
  EXPECT_EQ(ListScenarioFiles(dir_), std::vector<fs::path>{dir_ / "day.scenario"});
}

TEST_F(ScenarioFolder, BadIncludesAreRefused) {
  Write("fixtures/a.fixture", "include b\n");
  Write("fixtures/b.fixture", "include a\n");
  Write("fixtures/ran.fixture", "[run]\nfrom: 01/01\nto: 01/01\n");
  const struct {
    const char* include;
    const char* message;
  } cases[] = {{"a", "include cycle"},
               {"missing", "no fixture file"},
               {"ran", "a fixture holds only include"}};
  for (const auto& c : cases) {
    Write("s.scenario", std::string("include ") + c.include + "\n[run]\nfrom: 01/01\nto: 01/01\n");
    try {
      LoadScenario(dir_ / "s.scenario");
      ADD_FAILURE() << "no error for include " << c.include;
    } catch (const ScenarioFormatError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  Write("s.scenario", "[base]\nSELECT 1\n");
  EXPECT_THROW(LoadScenario(dir_ / "s.scenario"), ScenarioFormatError);  // no [run]
}

TEST(ScenarioFile, PadsPersonNumbers) {
  EXPECT_EQ(PadPerno("1001"), "      1001");
  EXPECT_EQ(PadPerno(" 12 "), "        12");
  EXPECT_EQ(PadPerno("1234567890"), "1234567890");
}

}  // namespace
}  // namespace zel::engine::scenarios
