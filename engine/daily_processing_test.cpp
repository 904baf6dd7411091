#include "engine/daily_processing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "dates/date_time.h"
#include "engine/daily_test_support.h"
#include "engine/daily_text.h"
#include "engine/dm_calculate.h"
#include "testing/faulty_connection.h"

namespace zel::engine {
namespace {

TCalcDateTime At(const std::string& date, const std::string& time) {
  return EncodeCalcDateTime(std::stoi(date.substr(0, 2)), std::stoi(date.substr(3, 2)),
                            std::stoi(time.substr(0, 2)), std::stoi(time.substr(3, 2)));
}

TEST(NightMinutesTest, OverlapsWithTheNightsAroundTheDay) {
  // clang-format off
  const struct {
    const char* day;
    int year;
    const char* begin_date;
    const char* begin_time;
    const char* end_date;
    const char* end_time;
    const char* night_begin;
    const char* night_end;
    int minutes;
  } cases[] = {
      {"02/02", 1399, "02/02", "20:00", "02/02", "23:30", "22:00", "06:00", 90},
      {"02/02", 1399, "02/02", "21:00", "02/03", "07:00", "22:00", "06:00", 480},
      {"02/02", 1399, "02/02", "04:00", "02/02", "07:00", "22:00", "06:00", 120},  // night before
      {"02/02", 1399, "02/02", "03:00", "02/02", "06:00", "00:00", "05:00", 120},  // same date
      {"02/02", 1399, "02/02", "08:00", "02/02", "16:00", "22:00", "06:00", 0},
      {"02/02", 1399, "02/02", "20:00", "02/02", "23:30", "", "06:00", 0},         // no window
      // The year's first day: its evening counts once; its morning through the first-morning
      // window (there is no night before it in the year).
      {"01/01", 1399, "01/01", "22:00", "01/01", "23:30", "22:00", "06:00", 90},
      {"01/01", 1399, "01/01", "04:00", "01/01", "07:00", "22:00", "06:00", 120},
      // The year's last day (1399 is leap): the night runs into the day after it.
      {"12/30", 1399, "12/30", "22:00", "12/30", "23:30", "22:00", "06:00", 90},
      // Across the end of 1398 (12/29 is its last day): 01/01 is read as 12/30.
      {"12/29", 1398, "12/29", "23:00", "01/01", "01:00", "22:00", "06:00", 120},
  };
  // clang-format on
  for (const auto& c : cases) {
    const TDate day{static_cast<uint8_t>(std::stoi(std::string(c.day).substr(0, 2))),
                    static_cast<uint8_t>(std::stoi(std::string(c.day).substr(3, 2)))};
    EXPECT_EQ(NightMinutes(At(c.begin_date, c.begin_time), At(c.end_date, c.end_time),
                           c.night_begin, c.night_end, day, c.year),
              c.minutes)
        << c.begin_date << " " << c.begin_time << "-" << c.end_date << " " << c.end_time
        << " night " << c.night_begin << "-" << c.night_end;
  }
  EXPECT_THROW(
      NightMinutes(At("02/02", "20:00"), At("02/02", "23:00"), "2200", "06:00", TDate{2, 2}, 1399),
      dates::EConvertError);
}

// The non-zero counters of a result record, by name.
std::map<std::string, int> Counters(const TDailyWorkRec& r) {
  // clang-format off
  const std::pair<const char*, int> all[] = {
      {"NightWork", r.dwrNightWork}, {"WorkTotal", r.dwrWorkTotal},
      {"LeaveOfAbsPayed", r.dwrLeaveOfAbsPayed}, {"LeaveOfAbsNotPayed", r.dwrLeaveOfAbsNotPayed},
      {"Mission", r.dwrMission}, {"Work", r.dwrWork}, {"ServiceLate", r.dwrServiceLate},
      {"EarlyPermFirst", r.dwrEarlyPermFirst}, {"EarlyPermLast", r.dwrEarlyPermLast},
      {"LatePermFirst", r.dwrLatePermFirst}, {"LatePermLast", r.dwrLatePermLast},
      {"ExtraWorkTotal", r.dwrExtraWorkTotal}, {"EWNormPermBefore", r.dwrEWNormPermBefore},
      {"EWNormPermAfter", r.dwrEWNormPermAfter},
      {"EWNormNotPermBefore", r.dwrEWNormNotPermBefore},
      {"EWNormNotPermAfter", r.dwrEWNormNotPermAfter}, {"EWHoliPerm", r.dwrEWHoliPerm},
      {"EWHoliNotPerm", r.dwrEWHoliNotPerm}, {"EWInMission", r.dwrEWInMission},
      {"EWHoliInMission", r.dwrEWHoliInMission}, {"EWNormInMission", r.dwrEWNormInMission},
      {"EWSpecial", r.dwrEWSpecial}, {"EWBreakNotPerm", r.dwrEWBreakNotPerm},
      {"EWBreakPerm", r.dwrEWBreakPerm}, {"NonWorkTotal", r.dwrNonWorkTotal},
      {"NWEarlyFirst", r.dwrNWEarlyFirst}, {"NWEarlyLast", r.dwrNWEarlyLast},
      {"NWLateFirst", r.dwrNWLateFirst}, {"NWLateLast", r.dwrNWLateLast},
      {"NWLeaveNotPerm", r.dwrNWLeaveNotPerm}, {"NWAbsent", r.dwrNWAbsent},
      {"NWSpecial", r.dwrNWSpecial},
      {"PresenceInDailyMorkhasi", r.dwrPresenceInDailyMorkhasi},
      {"PresenceInDailyMamuriat", r.dwrPresenceInDailyMamuriat},
      {"KasrMorkhasi", r.dwrKasrMorkhasi}, {"OrdinaryMorkhasi", r.dwrOrdinaryMorkhasi},
      {"ReduceHoliday", r.dwrReduceHoliday}, {"HolidaysCounted", r.dwrHolidaysCounted},
  };
  // clang-format on
  std::map<std::string, int> out;
  for (const auto& [name, value] : all) {
    if (value != 0) out[name] = value;
  }
  return out;
}

TEST(DayTotalsTest, OneStretchAddsByItsCodeIntervalAndTolerance) {
  // Leave texts: prefix, page, type, description, holiday length, HolidaysCounted, Dec_Meal,
  // IsOrdinary, IsWaged, ReduceMorkhasi, ReduceHoliday.
  const char* paid_ordinary = ",11,21,,0,0,0,1,1,0,0";
  const char* unpaid_reducing = ",12,24,,0,0,0,0,0,1,1";
  const char* sick_on_holiday = "D_,13,23,,440,1,0,0,1,0,1";
  const char* mission_on_holiday = "D_,51,32,,440,0,0";
  // clang-format off
  const struct {
    const char* name;
    int code, minutes;
    TIntervalType it;
    TWorkingIntervalType wi;
    bool ok, lengthened, holiday;
    int group_type, night, how_holiday_mission;
    const char* data;
    std::map<std::string, int> expected;
  } cases[] = {
      {"work", 6, 60, it_Work, wi_Work_First, true, false, false, 1, 15, 0, "",
       {{"WorkTotal", 60}, {"Work", 60}, {"NightWork", 15}}},
      {"work, group type 4: no night", 6, 60, it_Work, wi_Work_First, true, false, false, 4, 15, 0,
       "", {{"WorkTotal", 60}, {"Work", 60}}},
      {"tolerated late", 8, 10, it_Work, wi_Work_First, true, false, false, 1, 0, 0, "",
       {{"WorkTotal", 10}, {"LatePermFirst", 10}}},
      {"late after the break", 8, 20, it_Work, wi_Work_Last, false, false, false, 1, 0, 0, "",
       {{"NonWorkTotal", 20}, {"NWLateLast", 20}}},
      {"tolerated early departure", 9, 8, it_Work, wi_Work_Last, true, false, false, 1, 0, 0, "",
       {{"WorkTotal", 8}, {"EarlyPermLast", 8}}},
      {"early departure", 9, 35, it_Work, wi_Work_First, false, false, false, 1, 0, 0, "",
       {{"NonWorkTotal", 35}, {"NWEarlyFirst", 35}}},
      {"unpermitted absence", 10, 30, it_Work, wi_Work_First, false, false, false, 1, 0, 0, "",
       {{"NonWorkTotal", 30}, {"NWLeaveNotPerm", 30}}},
      {"absence", 11, 240, it_Work, wi_Work_First, false, false, false, 1, 0, 0, "",
       {{"NonWorkTotal", 240}, {"NWAbsent", 240}}},
      {"absence of an hourly group", 11, 240, it_Work, wi_Work_Last, false, false, false, 2, 0, 0,
       "", {}},
      {"paid ordinary leave", 12, 120, it_Work, wi_Work_First, true, false, false, 1, 0, 0,
       paid_ordinary, {{"LeaveOfAbsPayed", 120}, {"OrdinaryMorkhasi", 120}}},
      {"unpaid leave reducing the balance and the holidays", 12, 60, it_Work, wi_Work_Last, true,
       false, false, 1, 0, 0, unpaid_reducing,
       {{"LeaveOfAbsNotPayed", 60}, {"KasrMorkhasi", 60}, {"ReduceHoliday", 60}}},
      {"sick leave on a holiday", 12, 440, it_NonWork, wi_NonWork_Before, true, true, true, 1, 0,
       0, sick_on_holiday, {{"LeaveOfAbsPayed", 440}, {"HolidaysCounted", 440}}},
      {"mission in the working time", 13, 90, it_Work, wi_Work_First, true, false, false, 1, 30,
       0, ",21,31,,0,0,0", {{"Mission", 90}, {"NightWork", 30}}},
      {"mission outside the working time", 13, 60, it_ExtraWork, wi_ExtraWork_After, true, false,
       false, 1, 0, 0, ",21,31,,0,0,0",
       {{"EWInMission", 60}, {"EWNormInMission", 60}, {"ExtraWorkTotal", 60}}},
      {"daily mission on a holiday, extra work taken back", 13, 440, it_NonWork,
       wi_NonWork_Before, true, true, true, 1, 0, 1, mission_on_holiday, {{"Mission", 440}}},
      {"daily mission on a holiday, mission taken back", 13, 440, it_NonWork, wi_NonWork_Before,
       true, true, true, 1, 0, 2, mission_on_holiday,
       {{"EWInMission", 440}, {"EWHoliInMission", 440}, {"ExtraWorkTotal", 440}}},
      {"extra work before", 14, 40, it_ExtraWork, wi_ExtraWork_Before, true, false, false, 1, 0, 0,
       "", {{"ExtraWorkTotal", 40}, {"EWNormPermBefore", 40}}},
      {"unpermitted extra work after", 14, 60, it_NonWork, wi_NonWork_After, false, false, false,
       1, 0, 0, "", {{"ExtraWorkTotal", 60}, {"EWNormNotPermAfter", 60}}},
      {"extra work on a holiday", 14, 120, it_NonWork, wi_NonWork_Before, true, false, true, 1, 0,
       0, "", {{"ExtraWorkTotal", 120}, {"EWHoliPerm", 120}}},
      {"service lateness", 15, 25, it_Work, wi_Work_First, true, false, false, 1, 0, 0, ",31,,",
       {{"ServiceLate", 25}}},
      {"presence during a daily leave", 18, 60, it_Work, wi_Work_First, true, false, false, 1, 0,
       0, "D_,41,22,,0,0,0,1,1,0,0",
       {{"WorkTotal", 60}, {"Work", 60}, {"PresenceInDailyMorkhasi", 60}}},
      {"presence during a daily mission", 19, 60, it_Work, wi_Work_Last, true, false, false, 1, 0,
       0, "D_,51,32,,0,0,0",
       {{"WorkTotal", 60}, {"Work", 60}, {"PresenceInDailyMamuriat", 60}}},
      {"time that does not count", 7, 300, it_NonWork, wi_NonWork_After, true, false, false, 1, 0,
       0, "", {}},
  };
  // clang-format on
  for (const auto& c : cases) {
    TExtraData extra;
    extra.WorkGroupGROUPTYPE = GroupTypeFrom(c.group_type);
    extra.IsHoliday = c.holiday ? 1 : 0;
    extra.WorkGroupHow_ExtraWork_Holi_DayMam = c.how_holiday_mission;
    TDailyWorkRec rec;
    rec.dwrEWSpecial = 7;  // the special minutes come later in the day
    rec.dwrNWSpecial = 9;
    ProcessedStretch stretch;
    stretch.Code = PresenceCodeFrom(c.code);
    stretch.Minutes = c.minutes;
    stretch.IntervalType = c.it;
    stretch.WorkingInterval = c.wi;
    stretch.IsOK = c.ok;
    stretch.Lengthened = c.lengthened;
    stretch.NightMinutes = c.night;
    if (*c.data) stretch.Items = SplitDataItems(c.data);
    AddDayTotals(rec, stretch, extra);
    EXPECT_EQ(Counters(rec), c.expected) << c.name;
  }
}

TEST(DayTotalsTest, LeaveFlagsThatAreNotNumbersFailTheDay) {
  ProcessedStretch stretch;
  stretch.Code = PresenceCode::kLeave;
  stretch.Minutes = 60;
  stretch.IntervalType = it_Work;
  stretch.Items = SplitDataItems(",11,21,x,0,0,0,yes,1,0,0");
  TDailyWorkRec rec;
  EXPECT_THROW(AddDayTotals(rec, stretch, TExtraData{}), dates::EConvertError);
}

// ---------------------------------------------------------------------------------------------
// Through the data module

class ProcessingTest : public testing::DailyTest {
 protected:
  ProcessingTest() { OfficeDays({"02/01", "02/02", "02/03"}); }
};

TEST_F(ProcessingTest, SecondLeaveOfATypeAddsToTheDaysDetailRow) {
  Clock("02/02", "08:00", "10:00");
  Clock("02/02", "11:00", "14:00");
  Clock("02/02", "15:30", "16:00");
  Year(
      "INSERT INTO Morkhasi (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE) "
      "VALUES (11, '      1001', '02/02', '10:00', '02/02', '11:00', 21), "
      "(12, '      1001', '02/02', '14:00', '02/02', '15:30', 21)");
  Run({"02/02"});
  EXPECT_EQ(Rows("Att_1399", "SELECT PerNo, DDate, MorkhasiCode, Amount FROM DayMorDt"),
            (std::vector<std::vector<std::string>>{{"1001", "02/02", "21", "150"}}));
  EXPECT_EQ(DayWork("02/02")["LeaveOfAbsPay"], "150");
}

TEST_F(ProcessingTest, TimelineRowsThatCannotBeWrittenAreLoggedAndTheDayIsStillTotalled) {
  Clock("02/02", "08:00", "16:00");
  {
    const zel::testing::ScopedFaults faults({"INSERT INTO TimeTab"});
    Run({"02/02"});
  }
  const std::string log = ThreadLog();
  const std::string line =
      "Error In Insert To TimeTab DDate = 02/02 Error : injected failure: INSERT INTO TimeTab";
  size_t lines = 0;
  for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++lines;
  EXPECT_EQ(lines, 7u) << log;  // one per stretch of the day
  EXPECT_TRUE(Rows("Att_1399", "SELECT CalcDate FROM TimeTab").empty());
  EXPECT_EQ(DayWork("02/02")["WorkTotal"], "450");
  EXPECT_EQ(DayWork("02/02")["BeginStr"], "02/0123:59");
  EXPECT_EQ(DayWork("02/02")["EndStr"], "02/0223:59");
}

}  // namespace
}  // namespace zel::engine
