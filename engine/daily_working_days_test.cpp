#include "engine/daily_working_days.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "engine/daily_test_support.h"
#include "engine/dm_calculate.h"

namespace zel::engine {
namespace {

std::string Point(const TTalvekDateTime& p) {
  return CalcDateToStr(p.sdtDateTime.dtDate) + " " + CalcTimeToStr(p.sdtDateTime.dtTime);
}

// "E <begin>-<end> D <begin>-<end> B <begin>-<end> End <point>"
std::string Shape(const TWorkingDay& day) {
  auto span = [](const TTalvekInterval& i) { return Point(i.iBegin) + "-" + Point(i.iEnd); };
  return "E " + span(day.wdExtra) + " D " + span(day.wdDay) + " B " + span(day.wdBreak) + " End " +
         Point(day.wdDayEnd);
}

TEST(DayShapeTest, IntervalsFollowTheBeginTimesGiven) {
  // Item of 02/10: E 06:00-20:00, D 08:00-16:00, B 12:00-12:30, day end 23:59; a row blanks
  // the begin times (and ends) it does not give.
  const struct {
    bool e, d, b;
    int holiday, group_type;
    const char* shape;  // nullptr: no working day
    int day_length;
  } cases[] = {
      {true, true, true, 0, 1,
       "E 02/10 06:00-02/10 20:00 D 02/10 08:00-02/10 16:00 B 02/10 12:00-02/10 12:30 "
       "End 02/10 23:59",
       450},
      {true, true, false, 0, 1,
       "E 02/10 06:00-02/10 20:00 D 02/10 08:00-02/10 16:00 B 02/10 16:00-02/10 16:00 "
       "End 02/10 23:59",
       480},
      {false, true, true, 0, 1,
       "E 02/10 08:00-02/10 16:00 D 02/10 08:00-02/10 16:00 B 02/10 12:00-02/10 12:30 "
       "End 02/10 23:59",
       450},
      {false, true, false, 0, 1,
       "E 02/10 08:00-02/10 16:00 D 02/10 08:00-02/10 16:00 B 02/10 16:00-02/10 16:00 "
       "End 02/10 23:59",
       480},
      {true, false, true, 0, 1,
       "E 02/10 06:00-02/10 20:00 D 02/10 12:00-02/10 12:30 B 02/10 12:00-02/10 12:30 "
       "End 02/10 23:59",
       -30},
      {true, false, false, 0, 1,
       "E 02/10 06:00-02/10 20:00 D 02/10 20:00-02/10 20:00 B 02/10 20:00-02/10 20:00 "
       "End 02/10 23:59",
       0},
      {false, false, false, 1, 1,
       "E 02/10 00:00-02/10 00:00 D 02/10 00:00-02/10 00:00 B 02/10 00:00-02/10 00:00 "
       "End 02/10 23:59",
       400},
      {false, false, false, 0, 2,
       "E 02/10 00:00-02/10 23:59 D 02/10 00:00-02/10 23:59 B 02/10 00:00-02/10 00:00 "
       "End 02/10 23:59",
       0},
      {false, false, false, 0, 1, nullptr, 0},  // no times on a working day
      {false, false, true, 0, 1, nullptr, 0},   // a break alone
  };
  for (const auto& c : cases) {
    DayShapeItem item;
    if (c.e)
      item.EBeginDate = "02/10", item.EBeginTime = "06:00", item.EEndDate = "02/10",
      item.EEndTime = "20:00";
    if (c.d)
      item.DBeginDate = "02/10", item.DBeginTime = "08:00", item.DEndDate = "02/10",
      item.DEndTime = "16:00";
    if (c.b)
      item.BBeginDate = "02/10", item.BBeginTime = "12:00", item.BEndDate = "02/10",
      item.BEndTime = "12:30";
    item.EndDate = "02/10";
    item.EndTime = "23:59";
    item.Holiday = c.holiday;
    TExtraData extra;
    extra.WorkGroupGROUPTYPE = GroupTypeFrom(c.group_type);
    extra.WorkGroupM_PARAM[1] = 400;  // month 2
    const auto shape = BuildDayShape(item, TDate{2, 10}, extra);
    const std::string label = std::string(c.e ? "E" : "-") + (c.d ? "D" : "-") + (c.b ? "B" : "-") +
                              " holiday " + std::to_string(c.holiday) + " type " +
                              std::to_string(c.group_type);
    if (!c.shape) {
      EXPECT_FALSE(shape.has_value()) << label;
      continue;
    }
    ASSERT_TRUE(shape.has_value()) << label;
    EXPECT_EQ(Shape(shape->Day), c.shape) << label;
    EXPECT_EQ(shape->DayLength, c.day_length) << label;
  }
}

TEST(DayShapeTest, DayEndBeforeTheDayOrMissing) {
  const struct {
    const char* day;
    const char* end_date;
    const char* end_time;
    const char* extra_end_date;
    const char* extra_end_time;
    const char* day_end;
  } cases[] = {
      {"12/29", "01/01", "12:00", "12/30", "07:00", "12/30 12:00"},  // past the year's end
      {"02/10", "02/11", "12:00", "02/11", "07:00", "02/11 12:00"},  // the next day
      {"02/10", "", "", "02/10", "20:00", "02/10 23:59"},  // no end: the day's last minute
      {"02/10", "", "", "02/11", "07:00", "02/11 07:00"},  // ... or the extra span's end
  };
  for (const auto& c : cases) {
    DayShapeItem item;
    item.EBeginDate = item.DBeginDate = item.DEndDate = c.day;
    item.EBeginTime = "21:00";
    item.DBeginTime = "22:00";
    item.DEndTime = "23:00";
    item.EEndDate = c.extra_end_date;
    item.EEndTime = c.extra_end_time;
    item.EndDate = c.end_date;
    item.EndTime = c.end_time;
    const TDate d{static_cast<uint8_t>(std::stoi(std::string(c.day).substr(0, 2))),
                  static_cast<uint8_t>(std::stoi(std::string(c.day).substr(3, 2)))};
    const auto shape = BuildDayShape(item, d, TExtraData{});
    ASSERT_TRUE(shape.has_value()) << c.day << " " << c.end_date;
    EXPECT_EQ(Point(shape->Day.wdDayEnd), c.day_end) << c.day << " " << c.end_date;
  }
}

TEST(DayShapeTest, MalformedTimeRaises) {
  DayShapeItem item;
  item.DBeginDate = item.DEndDate = item.EndDate = "02/10";
  item.DBeginTime = "8:00";
  item.DEndTime = "16:00";
  item.EndTime = "23:59";
  EXPECT_THROW(BuildDayShape(item, TDate{2, 10}, TExtraData{}), dates::EConvertError);
}

TEST(DayShapeTest, PointDayEndsAtItsDatesMidnight) {
  EXPECT_EQ(Shape(PointDay(EncodeCalcDateTime(2, 10, 6, 0))),
            "E 02/10 06:00-02/10 06:00 D 02/10 06:00-02/10 06:00 B 02/10 06:00-02/10 06:00 "
            "End 02/10 00:00");
}

TEST(DailyErrorMessageTest, CodesWithAndWithoutText) {
  EXPECT_STREQ(DailyErrorMessage(DayErrorFrom(1)), "تداخل ورود و خروجها");
  EXPECT_STREQ(DailyErrorMessage(DayErrorFrom(14)), "روز كاري تعريف نشده است");
  EXPECT_STREQ(DailyErrorMessage(DayErrorFrom(30)), "تداخل تقويم");
  EXPECT_EQ(DailyErrorMessage(DayErrorFrom(0)), nullptr);
  EXPECT_EQ(DailyErrorMessage(DayErrorFrom(17)), nullptr);
  EXPECT_EQ(DailyErrorMessage(DayErrorFrom(31)), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Through the data module

using WorkingDaysTest = testing::DailyTest;

TEST_F(WorkingDaysTest, DayWithoutWorkGroupCalendarOrItemIsReportedAndStoresNothing) {
  const struct {
    const char* name;
    const char* base;  // statement on the base database
    const char* year;  // statement on the year database
    const char* message;
  } cases[] = {
      {"no rule", "", "DELETE FROM PrjRule", "گروه كاري تعريف نشده است"},
      {"no group row", "", "UPDATE PrjRule SET WORKGROUP = 9", "گروه كاري تعريف نشده است"},
      {"no calendar", "UPDATE WorkGrp SET CALCODE = NULL", "", "تقويم تعريف نشده است"},
      {"no item", "", "DELETE FROM CalItem WHERE DBEGINDATE = '02/02'", "روز كاري تعريف نشده است"},
      {"break only", "",
       "UPDATE CalItem SET DBEGINTIME = NULL, EBEGINTIME = NULL WHERE DBEGINDATE = '02/02'",
       "روز كاري تعريف نشده است"},
  };
  for (const auto& c : cases) {
    Year("DELETE FROM CalItem");
    OfficeDays({"02/01", "02/02", "02/03"});
    Year("DELETE FROM PrjRule");
    Year(
        "INSERT INTO PrjRule (PERNO, BEGINDATE, ENDDATE, WORKGROUP, Section) "
        "VALUES ('      1001', '01/01', '12/30', 1, 'Office')");
    Base("UPDATE WorkGrp SET CALCODE = 1");
    Base("DELETE FROM CSSLog");
    if (*c.base) Base(c.base);
    if (*c.year) Year(c.year);
    module_.reset();
    Run({"02/02"});
    EXPECT_EQ(LogComments(),
              std::vector<std::string>{std::string("Ahmadi Ali (      1001) (02/02): ") +
                                       c.message + "."})
        << c.name;
    EXPECT_TRUE(DayWork("02/02").empty()) << c.name;
    EXPECT_TRUE(TimeTab("02/02").empty()) << c.name;
  }
}

TEST_F(WorkingDaysTest, OrdinaryFailureIsReportedWithItsMessage) {
  OfficeDays({"02/01", "02/02", "02/03"});
  Group("FLOATCAL = 1, FLOATVAL = 'abc'");
  Run({"02/02"});
  EXPECT_EQ(LogComments(), std::vector<std::string>{"exp: Ahmadi Ali (      1001) (02/02): 'abc' "
                                                    "is not a valid integer value"});
  EXPECT_TRUE(DayWork("02/02").empty());
}

TEST_F(WorkingDaysTest, BreakModeOutOfRangeIsReportedAndCountsAsNotCounted) {
  OfficeDays({"02/01", "02/02", "02/03"});
  Group("Atten_In_Break = 5");
  Clock("02/02", "08:00", "16:00");
  Run({"02/02"});
  EXPECT_EQ(LogComments(),
            std::vector<std::string>{"Ahmadi Ali (      1001) (02/02): خطا در تشخیص نحوه محاسبه "
                                     "حضور در وقفه (گروه کاری)."});
  EXPECT_THAT(TimeTab("02/02"), ::testing::Contains("02/02 12:00-02/02 12:30 w3 s7 d30"));
  EXPECT_EQ(DayWork("02/02")["ExtraWorkTotal"], "0");
}

TEST_F(WorkingDaysTest, HolidayWithoutTimesIsOneStretchOfNonWork) {
  OfficeDays({"02/01", "02/03"});
  Year(std::string(testing::kCalItemColumns) +
       "(1, '02/02', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, '02/02', "
       "'23:59', 1)");
  Clock("02/02", "10:00", "12:00");
  Run({"02/02"});
  EXPECT_EQ(TimeTab("02/02"), (std::vector<std::string>{"02/01 23:59-02/02 10:00 w0 s7 d601",
                                                        "02/02 10:00-02/02 12:00 w0 s14 d120",
                                                        "02/02 12:00-02/02 23:59 w0 s7 d719"}));
  auto day = DayWork("02/02");
  EXPECT_EQ(day["Holiday"], "1");
  EXPECT_EQ(day["CalWork"], "440");  // M_PARAM2
  EXPECT_EQ(day["EW_HoliPerm"], "120");
  EXPECT_EQ(day["ExtraWorkTotal"], "120");
  EXPECT_EQ(day["DailyAbsence"], "0");
}

TEST_F(WorkingDaysTest, DayWithoutCalendarOrShiftKeepsNoDayLengthFromTheDayBefore) {
  OfficeDays({"02/01", "02/02", "02/03"});
  Base(
      "INSERT INTO WorkGrp (CODE, NAME, CALCODE, GShCode, GROUPTYPE, Atten_In_Break, FLOATVAL) "
      "VALUES (2, 'Hourly', NULL, 0, 2, 3, '0')");
  Year("DELETE FROM PrjRule");
  Year(
      "INSERT INTO PrjRule (PERNO, BEGINDATE, ENDDATE, WORKGROUP, Section) VALUES "
      "('      1001', '01/01', '02/02', 1, 'Office'), ('      1001', '02/03', '12/30', 2, 'H')");
  Clock("02/03", "09:00", "15:30");
  Run({"02/02", "02/03"});
  EXPECT_EQ(DayWork("02/02")["CalWork"], "450");
  auto day = DayWork("02/03");
  EXPECT_EQ(day["CalWork"], "0");
  EXPECT_EQ(day["WorkTotal"], "390");
  EXPECT_EQ(day["Section"], "H");
  EXPECT_EQ(day["CalCode"], "NULL");
  // The whole day is working time: 00:00-23:59 after yesterday's last minute.
  EXPECT_EQ(TimeTab("02/03"),
            (std::vector<std::string>{
                "02/02 23:59-02/03 00:00 w0 s7 d1", "02/03 00:00-02/03 09:00 w4 s7 d540",
                "02/03 09:00-02/03 15:30 w4 s6 d390", "02/03 15:30-02/03 23:59 w4 s7 d509"}));
}

TEST_F(WorkingDaysTest, ShiftRotationWithThePersonsOwnShift) {
  // Group 6 rotates shift 2 (night 22:00-06:00, extra 21:00-07:00, the day ends 07:00 the
  // next day); the person's own plan puts the day shift 3 (08:00-16:00) on 02/03; 02/04 has
  // no shift.
  Base(
      "INSERT INTO WorkGrp (CODE, NAME, CALCODE, GShCode, GROUPTYPE, Atten_In_Break, FLOATVAL) "
      "VALUES (6, 'Shift', NULL, 6, 6, 3, '0')");
  Base(
      "INSERT INTO WorkShifts (Code, EBEGINTIME, EENDTIME, DBEGINTIME, DENDTIME, ENDTIME, "
      "Holiday, ShiftStatus) VALUES (2, '21:00', '07:00', '22:00', '06:00', '07:00', 0, '00111'), "
      "(3, '07:00', '18:00', '08:00', '16:00', '23:00', 0, '00000')");
  Year("UPDATE PrjRule SET WORKGROUP = 6");
  Year("INSERT INTO GShItem (GShCode, Period, D1, D2, D3, D4) VALUES (6, 2, 2, 2, 2, 0)");
  Year("INSERT INTO PerShifts (PerNo, GShCode, Period, D3) VALUES ('      1001', 6, 2, 3)");
  for (const char* d : {"02/01", "02/02", "02/03", "02/04"}) {
    Year(std::string("INSERT INTO V_GetCalItem (PerNo, GshCode, DBeginDate, EBEGINTIME, "
                     "DBEGINTIME) VALUES ('      1001', 6, '") +
         d + "', '21:00', '22:00')");
  }
  Year(
      "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME) VALUES "
      "('      1001', '02/02', '21:50', '02/03', '06:00')");
  Run({"02/02", "02/03", "02/04"});

  auto night = DayWork("02/02");
  EXPECT_EQ(night["CalWork"], "480");
  EXPECT_EQ(night["WorkTotal"], "480");
  EXPECT_EQ(night["NightWork"], "480");  // 22:00-06:00; 21:50-22:00 lies before the night
  EXPECT_EQ(night["ExtraWorkTotal"], "10");
  EXPECT_EQ(night["FirstBeginTime"], "21:50");
  EXPECT_EQ(night["LastEndDate"], "02/03");

  auto day = DayWork("02/03");
  EXPECT_EQ(day["CalWork"], "480");  // the person's own day shift
  EXPECT_EQ(day["DailyAbsence"], "1");
  EXPECT_EQ(LogComments(), std::vector<std::string>{"Ahmadi Ali (      1001) (02/04): روز كاري "
                                                    "تعريف نشده است."});  // shift code 0
}

TEST_F(WorkingDaysTest, DayStateLeftByAnEarlierDayIsStartedAfresh) {
  OfficeDays({"02/01", "02/02", "02/03"});
  Group("Dec_Meal_Absence = 1, MealDuration = 30, LATE_IN = 5");
  Clock("02/02", "08:20", "15:40");
  Run({"02/02"});
  const auto timetab = TimeTab("02/02");
  const auto daywork = DayWork("02/02");
  ASSERT_FALSE(timetab.empty());
  ASSERT_FALSE(daywork.empty());

  // Every part of the day state as another day, finished or failed, could leave it.
  DayState& state = Module().CurrentDay;
  state.ExtraData.WorkGroupLATE_IN = 90;
  state.ExtraData.IsHoliday = 1;
  state.DailyWorkRec.dwrWorkTotal = 999;
  state.DailyWorkRec.dwrBeginStr = "01/0100:00";
  state.DailyAbsence = true;
  state.FWorkGroupMealDurationAffected = true;
  state.day_text = state.yesterday_text = state.tomorrow_text = "01/15";
  state.window_from = state.window_to = "01/15";
  state.night_begin = "00:00";
  state.night_end = "23:59";
  state.ramezan_start = "01/01";
  state.ramezan_end = "12/29";
  state.dont_calc_night_work = 1;
  state.floating_on = state.over_float = true;
  state.float_minutes = 60;
  state.daily_mission_begin = state.daily_mission_end = "02/02";
  std::array<db::Value, kTimeTabColumns> stale;
  stale.fill(db::Value("02/02"));
  state.pending_time_tab.push_back(stale);

  Year("DELETE FROM TimeTab");
  Year("DELETE FROM DayWork");
  Run({"02/02"});
  EXPECT_EQ(TimeTab("02/02"), timetab);
  EXPECT_EQ(DayWork("02/02"), daywork);
  EXPECT_TRUE(LogComments().empty());
}

TEST_F(WorkingDaysTest, FailedDayLeavesNoMealOrAbsenceStateToTheNextDay) {
  OfficeDays({"02/01", "02/02", "02/03", "02/04"});
  Group("Dec_Meal_Absence = 1, MealDuration = 30, CalcMeal = 1");
  Base(
      "INSERT INTO WorkGrp (CODE, NAME, CALCODE, GShCode, GROUPTYPE, Atten_In_Break, FLOATVAL) "
      "VALUES (2, 'Hourly', NULL, 0, 2, 3, '0')");
  Year("DELETE FROM PrjRule");
  Year(
      "INSERT INTO PrjRule (PERNO, BEGINDATE, ENDDATE, WORKGROUP, Section) VALUES "
      "('      1001', '01/01', '02/03', 1, 'Office'), ('      1001', '02/04', '12/30', 2, 'H')");
  // 02/02: a daily leave shortened by the meal time, then a daily mission outside the working
  // time: the day fails at its end (error 6). 02/03: no record at all, a whole-day absence
  // whose meal window cannot be read: the day fails after its absence was decided.
  Year(
      "INSERT INTO DayMor (PageNo, PerNo, BeginDate, EndDate, Type) "
      "VALUES (41, '      1001', '02/02', '02/02', 22)");
  Year(
      "INSERT INTO DayMam (PageNo, PerNo, BeginDate, EndDate, Type) "
      "VALUES (51, '      1001', '02/02', '02/02', 32)");
  Year(
      "INSERT INTO MamDays (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime) "
      "VALUES (51, '      1001', '02/02', '17:00', '02/02', '19:00')");
  Base(
      "INSERT INTO Meals (Code, BeginDate, EndDate, BeginTime, EndTime, Price) "
      "VALUES (1, '02/03', '02/03', 'xx:xx', '13:00', 100)");
  Run({"02/02", "02/03", "02/04"});

  EXPECT_EQ(LogComments(),
            (std::vector<std::string>{
                "Ahmadi Ali (      1001) (02/02): تداخل مرخصي و ماموريت.",
                "exp: Ahmadi Ali (      1001) (02/03): 'xx:xx' is not a valid HH:NN time"}));
  // The rows processed before each failure stay; 02/03's first absence is shortened by the
  // meal time although 02/02 had used it.
  EXPECT_THAT(TimeTab("02/03"), ::testing::Contains("02/03 08:00-02/03 11:30 w2 s11 d210"));
  EXPECT_TRUE(DayWork("02/02").empty());
  EXPECT_TRUE(DayWork("02/03").empty());
  // 02/04 (group type 2 keeps the absence flag as it finds it) is no whole-day absence.
  EXPECT_EQ(DayWork("02/04")["DailyAbsence"], "0");
}

}  // namespace
}  // namespace zel::engine
