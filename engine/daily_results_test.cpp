#include "engine/daily_results.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dates/date_time.h"
#include "engine/daily_test_support.h"
#include "engine/dm_calculate.h"

namespace zel::engine {
namespace {

// The fields compensation reads and changes.
struct Fields {
  int work, non_work, extra;
  int late_first, late_last, leave, early_first, early_last;
  int before, after, in_mission, special, holiday;
  friend bool operator==(const Fields&, const Fields&) = default;
};

void PrintTo(const Fields& f, std::ostream* os) {
  *os << "work " << f.work << " non-work " << f.non_work << " extra " << f.extra << " late "
      << f.late_first << "/" << f.late_last << " leave " << f.leave << " early " << f.early_first
      << "/" << f.early_last << " ew " << f.before << "/" << f.after << "/" << f.in_mission << "/"
      << f.special << "/" << f.holiday;
}

TDailyWorkRec RecordOf(const Fields& f) {
  TDailyWorkRec r;
  r.dwrWorkTotal = f.work;
  r.dwrNonWorkTotal = f.non_work;
  r.dwrExtraWorkTotal = f.extra;
  r.dwrNWLateFirst = f.late_first;
  r.dwrNWLateLast = f.late_last;
  r.dwrNWLeaveNotPerm = f.leave;
  r.dwrNWEarlyFirst = f.early_first;
  r.dwrNWEarlyLast = f.early_last;
  r.dwrEWNormPermBefore = f.before;
  r.dwrEWNormPermAfter = f.after;
  r.dwrEWInMission = f.in_mission;
  r.dwrEWSpecial = f.special;
  r.dwrEWHoliPerm = f.holiday;
  return r;
}

Fields FieldsOf(const TDailyWorkRec& r) {
  return {r.dwrWorkTotal,        r.dwrNonWorkTotal,    r.dwrExtraWorkTotal, r.dwrNWLateFirst,
          r.dwrNWLateLast,       r.dwrNWLeaveNotPerm,  r.dwrNWEarlyFirst,   r.dwrNWEarlyLast,
          r.dwrEWNormPermBefore, r.dwrEWNormPermAfter, r.dwrEWInMission,    r.dwrEWSpecial,
          r.dwrEWHoliPerm};
}

TEST(CompensationTest, ShortfallsAreCoveredByPermittedExtraWorkByPriority) {
  struct Kind {
    const char* priority;
    int rate, bound, condition;
  };
  const Kind t60{"1", 60, 120, 1};
  const struct {
    const char* name;
    Kind late, leave, early;
    Fields before, after;
  } cases[] = {
      {"late covered, extra left",
       t60,
       {"2", 0, 0, 0},
       {"3", 0, 0, 0},
       {420, 30, 40, 30, 0, 0, 0, 0, 40, 0, 0, 0, 0},
       {450, 0, 10, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0}},
      {"rate 30: the extra covers half its minutes",
       {"1", 30, 120, 1},
       {"2", 0, 0, 0},
       {"3", 0, 0, 0},
       {420, 30, 40, 30, 0, 0, 0, 0, 40, 0, 0, 0, 0},
       {440, 10, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"condition 1 caps the shortfall at the bound",
       {"1", 60, 20, 1},
       {"2", 0, 0, 0},
       {"3", 0, 0, 0},
       {420, 30, 40, 30, 0, 0, 0, 0, 40, 0, 0, 0, 0},
       {440, 10, 20, 10, 0, 0, 0, 0, 20, 0, 0, 0, 0}},
      {"condition 2 above the bound stops the level",
       {"1", 60, 20, 2},
       {"1", 60, 120, 1},
       {"2", 60, 120, 1},
       {400, 50, 60, 30, 0, 10, 10, 0, 60, 0, 0, 0, 0},
       {410, 40, 50, 30, 0, 10, 0, 0, 50, 0, 0, 0, 0}},
      {"no rate: nothing",
       {"1", 0, 120, 1},
       {"2", 0, 0, 0},
       {"3", 0, 0, 0},
       {420, 30, 40, 30, 0, 0, 0, 0, 40, 0, 0, 0, 0},
       {420, 30, 40, 30, 0, 0, 0, 0, 40, 0, 0, 0, 0}},
      {"early departure first by priority",
       {"2", 60, 120, 1},
       {"3", 0, 0, 0},
       {"1", 60, 120, 1},
       {410, 40, 20, 20, 0, 0, 0, 20, 0, 20, 0, 0, 0},
       {430, 20, 0, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"extra work used in its order, late in its order",
       {"1", 60, 120, 1},
       {"2", 0, 0, 0},
       {"3", 0, 0, 0},
       {435, 15, 50, 5, 10, 0, 0, 0, 0, 10, 5, 5, 30},
       {450, 0, 35, 0, 0, 0, 0, 0, 0, 0, 0, 5, 30}},
  };
  for (const auto& c : cases) {
    TExtraData extra;
    extra.WorkGroupTDR_PRIO = c.late.priority;
    extra.WorkGroupT_Day_Rate = c.late.rate;
    extra.WorkGroupT_Day_Bound = c.late.bound;
    extra.WorkGroupT_Day_Condition = c.late.condition;
    extra.WorkGroupEDR_PRIO = c.leave.priority;
    extra.WorkGroupE_Day_Rate = c.leave.rate;
    extra.WorkGroupE_Day_Bound = c.leave.bound;
    extra.WorkGroupE_Day_Condition = c.leave.condition;
    extra.WorkGroupSDR_PRIO = c.early.priority;
    extra.WorkGroupS_Day_Rate = c.early.rate;
    extra.WorkGroupS_Day_Bound = c.early.bound;
    extra.WorkGroupS_Day_Condition = c.early.condition;
    TDailyWorkRec rec = RecordOf(c.before);
    CompensateShortfalls(rec, extra);
    EXPECT_EQ(FieldsOf(rec), c.after) << c.name;
  }
}

TEST(CompensationTest, PriorityThatIsNotANumberFailsTheDay) {
  TExtraData extra;
  extra.WorkGroupTDR_PRIO = "a";
  extra.WorkGroupEDR_PRIO = "2";
  extra.WorkGroupSDR_PRIO = "3";
  TDailyWorkRec rec;
  EXPECT_THROW(CompensateShortfalls(rec, extra), dates::EConvertError);
}

TEST(MinimumExtraWorkTest, ExtraWorkBelowTheMinimumIsDropped) {
  TExtraData extra;
  extra.WorkGroupE_N_MinBefore = 30;
  extra.WorkGroupE_N_MinAfter = 30;
  extra.WorkGroupE_H_Min = 60;
  TDailyWorkRec rec;
  rec.dwrEWNormPermBefore = 15;
  rec.dwrEWNormNotPermBefore = 5;  // 20 < 30: dropped
  rec.dwrEWNormPermAfter = 30;     // 30: kept
  rec.dwrEWHoliNotPerm = 59;       // 59 < 60: dropped
  rec.dwrExtraWorkTotal = 109;
  ApplyMinimumExtraWork(rec, extra);
  EXPECT_EQ(rec.dwrEWNormPermBefore, 0);
  EXPECT_EQ(rec.dwrEWNormNotPermBefore, 0);
  EXPECT_EQ(rec.dwrEWNormPermAfter, 30);
  EXPECT_EQ(rec.dwrEWHoliNotPerm, 0);
  EXPECT_EQ(rec.dwrExtraWorkTotal, 30);
}

TEST(SumOfAbsencesTest, OptionBitsSelectTheAbsences) {
  TDailyWorkRec rec;
  rec.dwrOrdinaryMorkhasi = 1;
  rec.dwrNWLateFirst = 2;
  rec.dwrNWLateLast = 4;
  rec.dwrNWEarlyFirst = 8;
  rec.dwrNWEarlyLast = 16;
  rec.dwrNWLeaveNotPerm = 32;
  const struct {
    int option, sum;
  } cases[] = {{0, 0}, {1, 1}, {2, 6}, {4, 24}, {8, 32}, {15, 63}, {10, 38}};
  for (const auto& c : cases) EXPECT_EQ(SumOfAbsences(rec, c.option), c.sum) << c.option;
}

TEST(ConsumeTest, FieldsGiveInOrderUntilTheAmountIsUsed) {
  int32_t a = 10, b = 0, c = 25, d = 5;
  ConsumeFrom(30, {&a, &b, &c, &d});
  EXPECT_EQ(std::vector<int32_t>({a, b, c, d}), std::vector<int32_t>({0, 0, 5, 5}));
  ConsumeFrom(0, {&c});
  EXPECT_EQ(c, 5);
}

// ---------------------------------------------------------------------------------------------
// Through the data module

class ResultsTest : public testing::DailyTest {
 protected:
  ResultsTest() { OfficeDays({"02/01", "02/02", "02/03", "02/04"}); }
};

// Alone, or inside the day's writes as the worker runs a day (its old rows deleted first,
// the meals it writes then known without asking the table).
TEST_F(ResultsTest, EachMealOnceADayForPresenceTouchingItsWindow) {
  Group("CalcMeal = 1");
  Base(
      "INSERT INTO Meals (Code, BeginDate, EndDate, BeginTime, EndTime, Price) VALUES "
      "(1, '01/01', '12/30', '12:00', '13:00', 100), (2, '01/01', '12/30', '16:00', '17:00', 80), "
      "(3, '03/01', '03/31', '10:00', '11:00', 50)");
  Clock("02/02", "08:00", "12:00");  // touches lunch at 12:00
  Clock("02/02", "12:30", "16:00");  // touches lunch and the afternoon meal
  Clock("02/03", "11:00", "12:10");  // lunch again, on the next day
  for (const bool day_writes : {false, true}) {
    SCOPED_TRACE(day_writes ? "inside the day's writes" : "alone");
    Year("DELETE FROM DayWork");
    Year("DELETE FROM TimeTab");
    Year(
        "INSERT INTO MealTime (Perno, CalcDate, MealCode, MealPrice) "
        "VALUES ('      1001', '02/02', 2, 80)");  // left by an earlier run
    for (const std::string day : {"02/02", "02/03"}) {
      if (!day_writes) {
        Run({day});
        continue;
      }
      Module().StartDay();
      Module().BeginDayWrites();
      Module().ADOConnectionTimeAttendance().Execute("DELETE FROM MealTime WHERE CalcDate = '" +
                                                     day + "'");
      Run({day});
      EXPECT_EQ(Module().EndDay(), std::nullopt);
    }
    EXPECT_EQ(
        Rows("Att_1399",
             "SELECT CalcDate, MealCode, MealPrice FROM MealTime ORDER BY CalcDate, MealCode"),
        (std::vector<std::vector<std::string>>{
            {"02/02", "1", "100"}, {"02/02", "2", "80"}, {"02/03", "1", "100"}}));
    // A meal already on record is not paid again.
    EXPECT_EQ(DayWork("02/02")["MealPrice"], day_writes ? "180" : "100");
    EXPECT_EQ(DayWork("02/03")["MealPrice"], "100");
    Year("DELETE FROM MealTime");
  }
}

// Inside the day's writes (its old rows deleted, its writes held back until it ends) the
// day's leave detail row is kept in memory: a second leave of a type adds to the first.
TEST_F(ResultsTest, LeaveDetailRowAddsUpInsideTheDaysWrites) {
  Clock("02/02", "08:00", "10:00");
  Clock("02/02", "11:00", "14:00");
  Clock("02/02", "15:30", "16:00");
  Year(
      "INSERT INTO Morkhasi (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE) "
      "VALUES (11, '      1001', '02/02', '10:00', '02/02', '11:00', 21), "
      "(12, '      1001', '02/02', '14:00', '02/02', '15:00', 21), "
      "(13, '      1001', '02/02', '15:00', '02/02', '15:30', 22)");
  Year(
      "INSERT INTO DayMorDt (PerNo, DDate, MorkhasiCode, Amount) "
      "VALUES ('      1001', '02/02', 21, 999)");  // left by an earlier run
  Module().StartDay("02/02");
  Module().BeginDayWrites();
  Module().ADOConnectionTimeAttendance().Execute("DELETE FROM DayMorDt WHERE DDate = '02/02'");
  Run({"02/02"});
  EXPECT_EQ(Module().EndDay(), std::nullopt);
  EXPECT_EQ(Rows("Att_1399",
                 "SELECT PerNo, DDate, MorkhasiCode, Amount FROM DayMorDt "
                 "ORDER BY MorkhasiCode"),
            (std::vector<std::vector<std::string>>{{"1001", "02/02", "21", "120"},
                                                   {"1001", "02/02", "22", "30"}}));
}

TEST_F(ResultsTest, DayWorkRowThatCannotBeWrittenIsLoggedAndTheRunGoesOn) {
  Clock("02/02", "08:00", "16:00");
  Clock("02/03", "08:00", "15:00");
  Year("INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES ('      1001', '02/02', 1)");
  Run({"02/02", "02/03"});
  EXPECT_NE(ThreadLog().find("Error In Insert To DayWork DDate = 02/02 Error : "),
            std::string::npos);
  EXPECT_EQ(DayWork("02/02")["WorkTotal"], "1");  // the row that was there
  EXPECT_EQ(DayWork("02/03")["WorkTotal"], "390");
  EXPECT_EQ(DayWork("02/03")["NW_Early_Last"], "60");
  EXPECT_TRUE(LogComments().empty());
}

}  // namespace
}  // namespace zel::engine
