#include "schema/schema.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "db/client.h"
#include "util/text.h"

namespace zel::db {
namespace {

// ---------------------------------------------------------------------------------------
// SplitBatches

struct SplitCase {
  const char* name;
  const char* script;
  std::vector<std::string> batches;
};

TEST(SplitBatches, SplitsOnGoLinesOnly) {
  // clang-format off
  const SplitCase cases[] = {
      {"empty script", "", {}},
      {"no GO", "SELECT 1\nSELECT 2\n", {"SELECT 1\nSELECT 2\n"}},
      {"two batches", "SELECT 1\nGO\nSELECT 2\nGO\n", {"SELECT 1\n", "SELECT 2\n"}},
      {"lower and mixed case", "A\ngo\nB\nGo\nC", {"A\n", "B\n", "C"}},
      {"blanks around GO", "A\n  GO\t \nB\n", {"A\n", "B\n"}},
      {"CRLF line ends", "A\r\nGO\r\nB\r\n", {"A\r\n", "B\r\n"}},
      {"GO as part of a line stays", "SELECT 'GO'\nGOTO x\nGO;\nGO\n",
       {"SELECT 'GO'\nGOTO x\nGO;\n"}},
      {"GO on the last line without line break", "A\nGO", {"A\n"}},
      {"blank batches are left out", "GO\n\n  \nGO\nA\nGO\n\nGO\n", {"A\n"}},
      {"comment before a statement stays with it", "-- t\nCREATE TABLE t (a int)\nGO\n",
       {"-- t\nCREATE TABLE t (a int)\n"}},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(SplitBatches(c.script), c.batches) << c.name;
  }
}

// ---------------------------------------------------------------------------------------
// The scripts as text: which tables each database gets, with which columns.

struct TableText {
  std::string name;
  bool has_comment = false;       // a "--" line right before CREATE TABLE
  std::set<std::string> columns;  // upper-cased
};

// Reads the one CREATE TABLE of a batch: its name, its leading comment and column names.
TableText ParseCreateTable(const std::string& batch) {
  static const std::regex kCreate(R"(CREATE TABLE\s+\[?(\w+)\]?\s*\()", std::regex::icase);
  std::smatch m;
  TableText t;
  if (!std::regex_search(batch, m, kCreate)) return t;
  t.name = m[1];
  std::string before = batch.substr(0, m.position(0));
  while (!before.empty() && (before.back() == '\n' || before.back() == '\r')) before.pop_back();
  size_t nl = before.rfind('\n');
  std::string last_line = nl == std::string::npos ? before : before.substr(nl + 1);
  t.has_comment = last_line.rfind("--", 0) == 0;
  // Column list: items at parenthesis depth 1, separated by commas; comment lines skipped.
  std::string body;
  std::istringstream in(batch.substr(m.position(0) + m.length(0)));
  for (std::string line; std::getline(in, line);) {
    size_t c = line.find("--");
    body += (c == std::string::npos ? line : line.substr(0, c)) + "\n";
  }
  int depth = 1;
  std::string item;
  auto take = [&] {
    std::istringstream words(item);
    std::string first;
    words >> first;
    first.erase(std::remove(first.begin(), first.end(), '['), first.end());
    first.erase(std::remove(first.begin(), first.end(), ']'), first.end());
    if (!first.empty() && util::UpperAscii(first) != "CONSTRAINT")
      t.columns.insert(util::UpperAscii(first));
    item.clear();
  };
  for (char ch : body) {
    if (ch == '(') ++depth;
    if (ch == ')' && --depth == 0) break;
    if (ch == ',' && depth == 1) {
      take();
    } else {
      item += ch;
    }
  }
  take();
  return t;
}

std::vector<TableText> Tables(std::string_view script) {
  std::vector<TableText> out;
  for (const auto& b : SplitBatches(script)) out.push_back(ParseCreateTable(b));
  return out;
}

const std::vector<std::string> kBaseTables = {
    "SYSTEM",   "CSSchedule", "CSSPersons", "CSSPerTemp", "CSSLog",   "UsersLog", "Semaphor",
    "Person",   "JobInfo",    "WorkGrp",    "WorkShifts", "ClockDmp", "MorType",  "MamType",
    "SpecCard", "PerUser",    "Meals",      "HalfWays",   "ServCode"};
const std::vector<std::string> kYearTables = {
    "PrjRule",  "CalItem",  "GShItem",    "PerShifts",  "IoInfo",     "Morkhasi", "DayMor",
    "Mission",  "DayMam",   "MamDays",    "ServLate",   "Present",    "DayExPrm", "Susp",
    "DayWork",  "TimeTab",  "DayMorDt",   "DayMamDt",   "MealTime",   "ServTime", "SRule",
    "DSExtDef", "MahWork",  "MahMorDt",   "MahMamDt",   "MorLMah",    "MSExtDef", "MSMorDef",
    "MahExPrm", "PrdWork",  "PrdMorDt",   "PrdMamDt",   "MorLPrd",    "WGMahPrd", "TmpMor",
    "TmpMam",   "TmpSlate", "AskAbsence", "AskMission", "MissionHour"};
const std::vector<std::string> kLogTables = {"IOInfo_Log", "CalcChanges"};

TEST(SchemaScripts, EachDatabaseGetsItsTablesOnePerBatchWithAComment) {
  struct Case {
    const char* db;
    std::string_view script;
    const std::vector<std::string>& tables;
  } cases[] = {{"base", BaseSchemaSql(), kBaseTables},
               {"year", YearSchemaSql(), kYearTables},
               {"log", LogSchemaSql(), kLogTables}};
  for (const auto& c : cases) {
    std::vector<std::string> names;
    for (const auto& t : Tables(c.script)) {
      names.push_back(t.name);
      EXPECT_TRUE(t.has_comment) << c.db << ": " << t.name << " has no comment line";
    }
    EXPECT_EQ(names, c.tables) << c.db;
  }
}

TEST(SchemaScripts, ViewsAndFunctionsAreLeftToTheirOwners) {
  for (std::string_view script : {BaseSchemaSql(), YearSchemaSql(), LogSchemaSql()}) {
    std::string up = util::UpperAscii(std::string(script));
    EXPECT_EQ(up.find("CREATE VIEW"), std::string::npos);
    EXPECT_EQ(up.find("CREATE FUNCTION"), std::string::npos);
  }
}

// Columns that the statements of the system read or write, per table.
TEST(SchemaScripts, SharedTablesCarryTheColumnsTheStatementsUse) {
  const std::map<std::string, std::vector<std::string>> required = {
      {"ClockDmp", {"REC",      "KARTNO",     "PERNO",      "CLOCKDATE",  "CLOCKTIME",
                    "IO_TYPE",  "UNCERTAIN",  "TRANSFERED", "SPCARDTYPE", "SPECCARDNO",
                    "ClockKey", "MASHINNO",   "ComCode",    "FPM",        "PicId",
                    "FromWeb",  "BClockDate", "BClockTime", "DECEMBER",   "INTELLIGENTLYANALYSED"}},
      {"IoInfo", {"PERNO",        "BEGINDATE",   "BEGINTIME",        "ENDDATE",
                  "ENDTIME",      "Duration",    "BBEGINTIME",       "BENDDATE",
                  "BENDTIME",     "BEGINCLOCK",  "ENDCLOCK",         "BeginComCode",
                  "EndComCode",   "FPM",         "EnterPicId",       "ExitPicId",
                  "EnterFromWeb", "ExitFromWeb", "LastEditUserCode", "LastEditDate"}},
      {"Morkhasi",
       {"PAGENO", "PERNO", "BEGINDATE", "BEGINTIME", "DESCRIPT", "ENDDATE", "ENDTIME", "INDECISIVE",
        "RECDATE", "TYPE", "SodrinPageNo"}},
      {"DayMor", {"PageNo", "PerNo", "BeginDate", "Descript", "EndDate", "RecDate", "Type"}},
      {"Mission",
       {"PAGENO", "PERNO", "BEGINDATE", "BEGINTIME", "DESCRIPT", "ENDDATE", "ENDTIME", "ISSUEDATE",
        "TYPE", "CITY", "LOCATION"}},
      {"DayMam",
       {"PageNo", "PerNo", "BeginDate", "City", "Descript", "EndDate", "IssueDate", "Location",
        "Type"}},
      {"MamDays", {"PageNo", "PerNo", "BeginDate", "BeginTime", "EndDate", "EndTime"}},
      {"ServLate",
       {"PAGENO", "PERNO", "BEGINDATE", "BEGINTIME", "DESCRIPT", "ENDDATE", "ENDTIME", "RECDATE",
        "SHIFTTYPE", "INDECISIVE"}},
      {"CSSLog", {"Id", "ScheduleId", "PerNo", "LogDate", "LogTime", "Comment", "Status"}},
      {"DayWork", {"PerNo",
                   "DDate",
                   "Edited",
                   "WorkGroup",
                   "CalCode",
                   "Section",
                   "CalWork",
                   "NightWork",
                   "WorkTotal",
                   "WWork",
                   "LeaveOfAbsPay",
                   "Mission",
                   "ServiceLate",
                   "EarlyPermFirst",
                   "EarlyPermLast",
                   "LatePermFirst",
                   "LatePermLast",
                   "ExtraWorkTotal",
                   "EW_NormPerm",
                   "EW_NormNotPerm",
                   "EW_HoliPerm",
                   "EW_HoliNotPerm",
                   "EW_InMission",
                   "EW_HoliInMission",
                   "EW_NormInMission",
                   "EW_Special",
                   "EW_BreakNotPerm",
                   "EW_BreakPerm",
                   "NonWorkTotal",
                   "LeaveOfAbsNoPay",
                   "NW_Early_First",
                   "NW_Early_Last",
                   "NW_Late_First",
                   "NW_Late_Last",
                   "NW_LeaveNotPerm",
                   "NW_Absent",
                   "NW_Special",
                   "DailyMorkhasi",
                   "DailyMamuriat",
                   "DailyAbsence",
                   "Holiday",
                   "Suspended",
                   "PresenceInDMor",
                   "PresenceInDMam",
                   "OrdMor",
                   "ReduceHoliday",
                   "HolidaysCounted",
                   "KasrMor",
                   "MealPrice",
                   "ServicePrice",
                   "BeginStr",
                   "EndStr",
                   "FirstBeginDate",
                   "FirstBeginTime",
                   "LastEndDate",
                   "LastEndTime",
                   "PPercent"}},
      {"TimeTab",
       {"PerNo", "CalcDate", "BeginDate", "BeginTime", "EndDate", "EndTime", "PresenceType",
        "WorkingInterval", "Status", "Duration", "MorkhasiSheetCode", "MorkhasiType", "DDesc",
        "MamuriatSheetCode", "MamuriatType", "ExtraWorkSheetCode", "ServiceLateSheetCode",
        "SuspensionSheetCode"}},
      {"TmpMor",
       {"PAGENO", "PERNO", "BEGINDATE", "BEGINTIME", "ENDDATE", "ENDTIME", "INDECISIVE", "Descript",
        "Rec1", "Rec2", "TYPE", "RECDATE", "IsDaily", "ClockOrWeb", "OldPageNo"}},
      {"TmpMam",
       {"PAGENO", "PERNO", "BEGINDATE", "BEGINTIME", "ENDDATE", "ENDTIME", "INDECISIVE", "Descript",
        "Rec1", "Rec2", "TYPE", "CITY", "ISSUEDATE", "LOCATION", "IsDaily", "ClockOrWeb",
        "OldPageNo"}},
      {"TmpSlate",
       {"PAGENO", "PERNO", "BEGINDATE", "BEGINTIME", "ENDDATE", "ENDTIME", "INDECISIVE", "Descript",
        "Rec1", "Rec2", "RECDATE", "SHIFTTYPE"}},
      {"IOInfo_Log", {"PerNo_N",
                      "BeginDate_N",
                      "BeginTime_N",
                      "EndDate_N",
                      "EndTime_N",
                      "Duration_N",
                      "BBeginTime_N",
                      "BEndDate_N",
                      "BEndTime_N",
                      "BeginClock_N",
                      "BeginComCode_N",
                      "EndClock_N",
                      "EndComCode_N",
                      "FPM_N",
                      "EnterPicId_N",
                      "ExitPicId_N",
                      "LastEditUserCode_N",
                      "LastEditDate_N",
                      "UserCode",
                      "ActionDate",
                      "ActionTime",
                      "ActionType",
                      "RecYear",
                      "EnterFromWeb_N",
                      "ExitFromWeb_N"}},
  };
  std::map<std::string, TableText> all;
  for (std::string_view script : {BaseSchemaSql(), YearSchemaSql(), LogSchemaSql()}) {
    for (auto& t : Tables(script)) all[t.name] = t;
  }
  for (const auto& [table, columns] : required) {
    ASSERT_TRUE(all.count(table)) << table;
    for (const auto& col : columns) {
      EXPECT_TRUE(all[table].columns.count(util::UpperAscii(col))) << table << "." << col;
    }
  }
}

// WorkGrp feeds the daily engine, the month and period rules, the punch labelling and
// the transfer; every one of its numbered column families must be complete.
TEST(SchemaScripts, WorkGroupHasEveryNumberedColumn) {
  TableText wg;
  for (auto& t : Tables(BaseSchemaSql())) {
    if (t.name == "WorkGrp") wg = t;
  }
  for (int i = 1; i <= 12; ++i) {
    EXPECT_TRUE(wg.columns.count("M_PARAM" + std::to_string(i))) << i;
    EXPECT_TRUE(wg.columns.count("WORKBOUND" + std::to_string(i))) << i;
  }
  for (const char* prefix : {"S", "T", "E", "G"}) {
    for (const char* suffix : {"_MAH_RATE", "_MAH_BOUND", "_MAH_CONDITION"}) {
      EXPECT_TRUE(wg.columns.count(std::string(prefix) + suffix)) << prefix << suffix;
    }
    EXPECT_TRUE(wg.columns.count(std::string(prefix) + "MR_PRIO")) << prefix;
  }
  for (const char* prefix : {"S", "T", "E"}) {
    for (const char* suffix : {"_DAY_RATE", "_DAY_BOUND", "_DAY_CONDITION"}) {
      EXPECT_TRUE(wg.columns.count(std::string(prefix) + suffix)) << prefix << suffix;
    }
    EXPECT_TRUE(wg.columns.count(std::string(prefix) + "DR_PRIO")) << prefix;
  }
}

// ---------------------------------------------------------------------------------------
// The scripts on the embedded engine.

class SchemaOnEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        std::filesystem::temp_directory_path() / ("zel_schema_test_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    auto server = Open("");
    for (const char* db : {"Att", "Att_1399", "ZELLog"})
      server->Execute(std::string("CREATE DATABASE ") + db);
    server.reset();
    Apply("Att", BaseSchemaSql());
    Apply("Att_1399", YearSchemaSql());
    Apply("ZELLog", LogSchemaSql());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::unique_ptr<Connection> Open(const std::string& database) {
    ConnectionSettings s;
    s.database = database;
    s.data_dir = dir_.string();
    return Connect(s);
  }
  void Apply(const std::string& database, std::string_view script) {
    auto c = Open(database);
    for (const auto& batch : SplitBatches(script)) {
      ASSERT_NO_THROW(c->Execute(batch)) << database << ":\n" << batch;
    }
  }

  std::filesystem::path dir_;
};

TEST_F(SchemaOnEngine, EveryTableIsCreatedInItsDatabase) {
  struct Case {
    const char* db;
    const std::vector<std::string>& tables;
  } cases[] = {{"Att", kBaseTables}, {"Att_1399", kYearTables}, {"ZELLog", kLogTables}};
  for (const auto& c : cases) {
    auto conn = Open(c.db);
    for (const auto& t : c.tables) {
      ResultSet r;
      EXPECT_NO_THROW(r = conn->Execute("SELECT * FROM " + t + " WHERE 1 = 0")) << c.db << "." << t;
      EXPECT_TRUE(r.has_columns) << c.db << "." << t;
      EXPECT_TRUE(r.rows.empty());
    }
  }
}

TEST_F(SchemaOnEngine, IoInfoRefusesASecondRowWithTheSameBegin) {
  auto y = Open("Att_1399");
  y->Execute(
      "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME) "
      "VALUES ('      1001', '01/05', '07:30', '01/05', '16:00')");
  try {
    y->Execute(
        "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME) "
        "VALUES ('      1001', '01/05', '07:30', '01/05', '17:00')");
    FAIL() << "duplicate accepted";
  } catch (const DbError& e) {
    EXPECT_NE(util::UpperAscii(e.what()).find("VIOLATION OF PRIMARY KEY CONSTRAINT"),
              std::string::npos)
        << e.what();
  }
  // Another begin time of the same day is a new row.
  y->Execute(
      "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME) VALUES ('      1001', '01/05', '18:00')");
  auto r = y->Execute("SELECT COUNT(*) FROM IoInfo");
  EXPECT_EQ(r.rows.at(0).at(0).AsInteger(), 2);
}

TEST_F(SchemaOnEngine, PermissionSheetsAreUniquePerPageAndPerson) {
  auto y = Open("Att_1399");
  for (const char* table : {"Morkhasi", "DayMor", "Mission", "DayMam", "ServLate"}) {
    std::string t = table;
    y->Execute("INSERT INTO " + t + " (PAGENO, PERNO) VALUES (7, '      1001')");
    y->Execute("INSERT INTO " + t + " (PAGENO, PERNO) VALUES (7, '      1002')");
    EXPECT_THROW(y->Execute("INSERT INTO " + t + " (PAGENO, PERNO) VALUES (7, '      1001')"),
                 DbError)
        << t;
  }
}

TEST_F(SchemaOnEngine, CssLogNumbersItsRows) {
  auto b = Open("Att");
  for (int i = 0; i < 3; ++i) {
    b->Execute(
        "Insert Into CSSLog (ScheduleId, PerNo, LogDate, LogTime, Comment, Status) "
        "Values(5, '', '1399/08/03', '10:00', 'run', 0)");
  }
  auto r = b->Execute("SELECT Id FROM CSSLog ORDER BY Id");
  ASSERT_EQ(r.rows.size(), 3u);
  EXPECT_EQ(r.rows[0][0].AsInteger(), 1);
  EXPECT_EQ(r.rows[2][0].AsInteger(), 3);
}

}  // namespace
}  // namespace zel::db
