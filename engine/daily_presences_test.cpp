// Presence assembly through the data module: clock records, presence marks, hourly leaves,
// extra-work permissions, the floating start and the process-wide assembly lock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "engine/daily_test_support.h"
#include "engine/daily_working_days.h"

namespace zel::engine {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

class PresencesTest : public testing::DailyTest {
 protected:
  PresencesTest() { OfficeDays({"02/01", "02/02", "02/03", "02/04"}); }
};

TEST_F(PresencesTest, ClockRecordsGiveFirstAndLastMomentsAndIncompleteOnesAreReported) {
  Clock("02/02", "07:55", "16:10");
  Clock("02/02", "20:00", "20:00");  // an exit alone
  Year(
      "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME) "
      "VALUES ('      1001', '02/03', '09:00', '', '')");  // tomorrow's open entry
  Run({"02/02"});
  EXPECT_EQ(LogComments(),
            std::vector<std::string>{"Ahmadi Ali (      1001) (02/02): ورود و خروج ناقص ."});
  auto day = DayWork("02/02");
  EXPECT_EQ(day["FirstBeginDate"], "02/02");
  EXPECT_EQ(day["FirstBeginTime"], "07:55");
  EXPECT_EQ(day["LastEndTime"], "20:00");
  EXPECT_EQ(day["WorkTotal"], "450");
  EXPECT_EQ(day["ExtraWorkTotal"], "15");
  EXPECT_THAT(TimeTab("02/02"), Contains("02/02 16:10-02/02 20:00 w5 s7 d230"));
}

// Entry/exit records whose digits are out of range are skipped and reported; the day is
// calculated from the others.
TEST_F(PresencesTest, ClockRecordsOutOfRangeAreSkippedAndReported) {
  Clock("02/02", "07:55", "16:10");
  Year(
      "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME) "
      "VALUES ('      1001', '02/02', '25:99', '02/02', '26:00')");
  Run({"02/02"});
  EXPECT_EQ(LogComments(),
            std::vector<std::string>{"Ahmadi Ali (      1001) (02/02): IoInfo row skipped: a "
                                     "date or time is out of range: 02/02 25:99 - 02/02 26:00"});
  auto day = DayWork("02/02");
  EXPECT_EQ(day["FirstBeginTime"], "07:55");
  EXPECT_EQ(day["WorkTotal"], "450");
}

// Rows of the other tables whose digits are out of range are skipped and reported the same
// way; the day is calculated from the rest (a calendar item skipped leaves its day without a
// working day, and the next day is calculated).
TEST_F(PresencesTest, OutOfRangeRowsOfEveryTableAreSkippedAndReported) {
  const struct {
    const char* sql;
    const char* report;
    bool calendar;
  } cases[] = {
      {"INSERT INTO Morkhasi (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE) "
       "VALUES (12, '      1001', '02/02', '10:00', '02/02', '12:75', 21)",
       "Morkhasi row skipped: a date or time is out of range: 02/02 10:00 - 02/02 12:75", false},
      {"INSERT INTO Mission (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE) "
       "VALUES (12, '      1001', '02/02', '25:00', '02/02', '12:00', 31)",
       "Mission row skipped: a date or time is out of range: 02/02 25:00 - 02/02 12:00", false},
      {"INSERT INTO ServLate (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME) "
       "VALUES (12, '      1001', '02/02', '16:00', '02/02', '16:99')",
       "ServLate row skipped: a date or time is out of range: 02/02 16:00 - 02/02 16:99", false},
      {"INSERT INTO DayExPrm (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime) "
       "VALUES (12, '      1001', '02/01', '16:00', '02/05', '18:60')",
       "DayExPrm row skipped: a date or time is out of range: 02/01 16:00 - 02/05 18:60", false},
      {"INSERT INTO DayMor (PageNo, PerNo, BeginDate, EndDate, Type) "
       "VALUES (12, '      1001', '02/02', '02/40', 21)",
       "DayMor row skipped: a date or time is out of range: 02/02 - 02/40", false},
      {"INSERT INTO DayMam (PageNo, PerNo, BeginDate, EndDate, Type) "
       "VALUES (12, '      1001', '01/31', '02/32', 32)",
       "DayMam row skipped: a date or time is out of range: 01/31 - 02/32", false},
      {"UPDATE CalItem SET DBEGINTIME = '07:61' WHERE DBEGINDATE = '02/02'",
       "CalItem row skipped: a date or time is out of range: 02/02 07:61 - ", true},
  };
  for (const auto& c : cases) {
    for (const char* table : {"Morkhasi", "Mission", "ServLate", "DayExPrm", "DayMor", "DayMam",
                              "TimeTab", "DayWork"}) {
      Year(std::string("DELETE FROM ") + table);
    }
    Base("DELETE FROM CSSLog");
    Year(c.sql);
    Clock("02/02", "08:00", "16:00");
    Clock("02/03", "08:00", "16:00");
    module_.reset();
    Run({"02/02", "02/03"});
    const std::vector<std::string> log = LogComments();
    ASSERT_FALSE(log.empty()) << c.sql;
    EXPECT_EQ(log[0].rfind(std::string("Ahmadi Ali (      1001) (02/02): ") + c.report, 0), 0u)
        << log[0];
    if (!c.calendar) {
      EXPECT_EQ(log.size(), 1u) << c.sql;
    }
    for (const char* day : {"02/02", "02/03"}) {
      if (c.calendar && std::string(day) == "02/02") continue;
      auto result = DayWork(day);
      EXPECT_EQ(result["WorkTotal"], "450") << c.sql << " " << day;
      EXPECT_EQ(result["ExtraWorkTotal"], "0") << c.sql << " " << day;
    }
    Year("DELETE FROM IoInfo");
    if (c.calendar) Year("UPDATE CalItem SET DBEGINTIME = '08:00' WHERE DBEGINDATE = '02/02'");
  }
}

TEST(StoredTextTest, MonthDayAndHourMinuteRanges) {
  const struct {
    const char* text;
    bool month_day;
    bool hour_minute;
  } cases[] = {{"02/02", true, false},  {"13/40", false, false}, {"06/31", true, false},
               {"07/31", false, false}, {"00/10", false, false}, {"00:10", false, true},
               {"25:99", false, false}, {"24:00", false, true},  {"24:01", false, false},
               {"23:59", false, true},  {"1/2/3", false, false}, {"", false, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(ValidMonthDay(c.text), c.month_day) << c.text;
    EXPECT_EQ(ValidHourMinute(c.text), c.hour_minute) << c.text;
  }
}

TEST_F(PresencesTest, PresenceMarkCoversTheWorkingTimeExceptOnAHoliday) {
  Year("UPDATE CalItem SET HOLIDAY = 1 WHERE DBEGINDATE = '02/03'");
  Year(
      "INSERT INTO Present (PageNo, PerNo, BeginDate, EndDate) "
      "VALUES (81, '      1001', '02/02', '02/03')");
  Run({"02/02", "02/03"});
  EXPECT_EQ(DayWork("02/02")["WorkTotal"], "450");
  EXPECT_EQ(DayWork("02/02")["DailyAbsence"], "0");
  EXPECT_EQ(DayWork("02/03")["WorkTotal"], "0");
}

TEST_F(PresencesTest, LeaveDescriptionWithACommaKeepsTheLeaveTypeData) {
  Clock("02/02", "08:00", "10:00");
  Clock("02/02", "12:00", "16:00");
  Year(
      "INSERT INTO Morkhasi (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, DESCRIPT, "
      "TYPE) VALUES (11, '      1001', '02/02', '10:00', '02/02', '12:00', N'bank, city', 21)");
  Run({"02/02"});
  EXPECT_EQ(Rows("Att_1399",
                 "SELECT MorkhasiSheetCode, MorkhasiType, DDesc, [Status], Duration "
                 "FROM TimeTab WHERE MorkhasiSheetCode IS NOT NULL"),
            (std::vector<std::vector<std::string>>{{"11", "21", "bank، city", "12", "120"}}));
  auto day = DayWork("02/02");
  EXPECT_EQ(day["LeaveOfAbsPay"], "120");
  EXPECT_EQ(day["OrdMor"], "120");
  EXPECT_EQ(Rows("Att_1399", "SELECT MorkhasiCode, Amount FROM DayMorDt"),
            (std::vector<std::vector<std::string>>{{"21", "120"}}));
}

TEST_F(PresencesTest, MalformedPermissionRowsAreSkippedAndReportedOnce) {
  const struct {
    const char* table;
    const char* insert;
  } cases[] = {
      {"Morkhasi",
       "INSERT INTO Morkhasi (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE) "
       "VALUES (12, '      1001', '02/02', '8:00', '02/02', '09:00', 21)"},
      {"Mission",
       "INSERT INTO Mission (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE) "
       "VALUES (12, '      1001', '02/02', '08:00', '02/2', '09:00', 31)"},
      {"DayExPrm",
       "INSERT INTO DayExPrm (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime) "
       "VALUES (12, '      1001', '02/01', '16:00', '02/05', '18:0')"},
      {"Susp",
       "INSERT INTO Susp (PageNo, PerNo, BeginDate, EndDate) VALUES (12, '      1001', '01/1', "
       "'12/30')"},
  };
  for (const auto& c : cases) {
    for (const char* table : {"Morkhasi", "Mission", "DayExPrm", "Susp", "TimeTab", "DayWork"}) {
      Year(std::string("DELETE FROM ") + table);
    }
    Base("DELETE FROM CSSLog");
    Year(c.insert);
    Clock("02/02", "08:00", "16:00");
    Clock("02/03", "08:00", "16:00");
    module_.reset();
    Run({"02/02", "02/03"});
    EXPECT_EQ(LogComments(),
              std::vector<std::string>{std::string("Ahmadi Ali (      1001) (02/02): ") + c.table +
                                       " sheet 12 skipped: a date or time is not five "
                                       "characters long."})
        << c.table;
    for (const char* day : {"02/02", "02/03"}) {
      auto result = DayWork(day);
      EXPECT_EQ(result["WorkTotal"], "450") << c.table << " " << day;
      EXPECT_EQ(result["ExtraWorkTotal"], "0") << c.table << " " << day;
      EXPECT_EQ(result["Suspended"], "0") << c.table << " " << day;
    }
    Year("DELETE FROM IoInfo");
  }
}

TEST_F(PresencesTest, NightlyExtraWorkPermissionGivesOnePiecePerDate) {
  // 22:00 to 02:00 from 02/01 to 02/03; on 02/02 the pieces of 02/01 (ending 02/02 02:00) and
  // of 02/02 (ending 02/03 02:00) reach the day; the person is present 22:30-23:30.
  Group("ADDPERMIT = 1");
  Year(
      "INSERT INTO DayExPrm (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime, Descript) "
      "VALUES (61, '      1001', '02/01', '22:00', '02/03', '02:00', N'night')");
  Clock("02/02", "08:00", "16:00");
  Clock("02/02", "22:30", "23:30");
  Clock("02/02", "00:30", "01:00");  // inside the piece of 02/01
  Run({"02/02"});
  EXPECT_EQ(Rows("Att_1399",
                 "SELECT BeginTime, EndTime, [Status], ExtraWorkSheetCode, DDesc FROM TimeTab "
                 "WHERE [Status] = 14 ORDER BY BeginDate, BeginTime"),
            (std::vector<std::vector<std::string>>{{"00:30", "01:00", "14", "61", "night"},
                                                   {"22:30", "23:30", "14", "61", "night"}}));
  auto day = DayWork("02/02");
  EXPECT_EQ(day["EW_NormPerm"], "90");
  EXPECT_EQ(day["EW_NormNotPerm"], "0");
}

TEST_F(PresencesTest, FloatingStartShiftsTheWorkingDayWithinItsMinutes) {
  // Arrival 20 minutes late with a tolerance of 5.
  const struct {
    const char* float_val;
    int over_float;
    const char* first_work;      // the first stored stretch of the first working segment
    const char* late;            // NW_Late_First
    const char* late_permitted;  // LatePermFirst
  } cases[] = {
      {"30", 0, "02/02 08:20-02/02 12:00 w2 s6 d220", "0", "0"},  // shifted 20
      {"15", 0, "02/02 08:15-02/02 08:20 w2 s16 d5", "0", "5"},   // shifted 15, 5 tolerated
      {"15", 1, "02/02 08:00-02/02 08:20 w2 s8 d20", "20", "0"},  // over the float: no shift
      {"", 0, "02/02 08:00-02/02 08:20 w2 s8 d20", "20", "0"},    // no float minutes
  };
  for (const auto& c : cases) {
    Year("DELETE FROM TimeTab");
    Year("DELETE FROM DayWork");
    Year("DELETE FROM IoInfo");
    Group(std::string("LATE_IN = 5, FLOATCAL = 1, FLOATVAL = '") + c.float_val +
          "', OverFloat = " + std::to_string(c.over_float));
    Clock("02/02", "08:20", "16:30");
    module_.reset();
    Run({"02/02"});
    const std::string label =
        std::string("float '") + c.float_val + "' over " + std::to_string(c.over_float);
    const auto timeline = TimeTab("02/02");
    EXPECT_THAT(timeline, Contains(c.first_work)) << label;
    auto day = DayWork("02/02");
    EXPECT_EQ(day["NW_Late_First"], c.late) << label;
    EXPECT_EQ(day["LatePermFirst"], c.late_permitted) << label;
  }
  EXPECT_TRUE(LogComments().empty());
}

TEST_F(PresencesTest, AssemblyHoldsTheProcessLockAndReleasesItOnFailure) {
  Clock("02/02", "08:00", "16:00");
  TAttendanceCalcManager& manager = Module().AttendanceCalcManager();
  std::promise<void> reached;
  const TNotifyEvent assembly = manager.OnAddPresences;
  manager.OnAddPresences = [&](TAttendanceCalcManager& sender) {
    reached.set_value();
    assembly(sender);
  };

  std::unique_lock<std::mutex> held(CalcCriticalSection());
  auto run = std::async(std::launch::async, [this] { Run({"02/02"}); });
  reached.get_future().wait();
  EXPECT_EQ(run.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  EXPECT_TRUE(DayWork("02/02").empty());
  held.unlock();
  run.get();
  EXPECT_EQ(DayWork("02/02")["WorkTotal"], "450");

  // A daily mission on a day without calendar fails the assembly (error 16).
  manager.OnAddPresences = assembly;
  Base("UPDATE WorkGrp SET CALCODE = NULL, GROUPTYPE = 2");
  Year(
      "INSERT INTO DayMam (PageNo, PerNo, BeginDate, EndDate, Type) "
      "VALUES (51, '      1001', '02/03', '02/03', 32)");
  module_.reset();
  Run({"02/03"});
  EXPECT_THAT(LogComments(),
              ElementsAre("Ahmadi Ali (      1001) (02/03): جزء ماموريت تعريف نشده است."));
  std::unique_lock<std::mutex> free(CalcCriticalSection(), std::try_to_lock);
  EXPECT_TRUE(free.owns_lock());
}

// A worker slot's module goes on from one person to the next: what it kept of the first
// person (entry/exit records, hourly leaves, malformed rows already reported) does not reach
// the second, whose day comes out as a new module calculates it.
TEST_F(PresencesTest, AModuleGoingOnToTheNextPersonCalculatesItAsANewModule) {
  Base("INSERT INTO Person (Perno, FirstName, LastName) VALUES ('      1002', 'Reza', 'Karimi')");
  Year(
      "INSERT INTO PrjRule (PERNO, BEGINDATE, ENDDATE, WORKGROUP, Section) "
      "VALUES ('      1002', '01/01', '12/30', 1, 'Office')");
  Clock("02/02", "07:55", "16:10");
  Year(
      "INSERT INTO Morkhasi (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime, Type) "
      "VALUES (41, '      1001', '02/02', '10:00', '02/02', '11:00', 21)");
  Year(
      "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME) "
      "VALUES ('      1002', '02/02', '08:20', '02/02', '15:00'), "
      "('      1002', '02/02', '25:99', '02/02', '26:00')");
  auto run = [this](const std::string& person, const std::string& name) {
    TAttendanceCalcManager& manager = Module().AttendanceCalcManager();
    for (const char* day : {"02/01", "02/02", "02/03"}) {
      manager.SetPersonID(person);
      manager.SetPersonName(name);
      manager.SetCalcDate({2, static_cast<uint8_t>(std::stoi(std::string(day).substr(3, 2)))});
      manager.Run();
    }
  };
  auto results = [this] {
    std::vector<std::vector<std::string>> rows;
    for (const char* sql :
         {"SELECT * FROM DayWork WHERE PerNo = '      1002' ORDER BY DDate",
          "SELECT * FROM TimeTab WHERE PerNo = '      1002' ORDER BY CalcDate, BeginTime",
          "SELECT * FROM DayMorDt WHERE PerNo = '      1002' ORDER BY DDate"}) {
      for (auto& row : Rows("Att_1399", sql)) rows.push_back(std::move(row));
    }
    for (auto& row : Rows("Att", "SELECT PerNo, Comment FROM CSSLog WHERE PerNo = '1002'")) {
      rows.push_back(std::move(row));
    }
    return rows;
  };
  auto clear = [this] {
    for (const char* table : {"DayWork", "TimeTab", "DayMorDt", "MealTime", "ServTime"}) {
      Year(std::string("DELETE FROM ") + table);
    }
    Base("DELETE FROM CSSLog");
  };

  run("      1002", "Karimi Reza");  // a new module
  const auto alone = results();
  ASSERT_FALSE(alone.empty());
  clear();
  module_.reset();
  run("      1001", "Ahmadi Ali");
  ASSERT_FALSE(DayWork("02/02").empty());
  Module().StartPerson();
  run("      1002", "Karimi Reza");  // the same module, going on
  EXPECT_EQ(results(), alone);
}

}  // namespace
}  // namespace zel::engine
