#include "service/schedule.h"

#include <gtest/gtest.h>

namespace zel::service {
namespace {

// 1399/08/03 is a Saturday (weekday index 0); 1399 is a leap year (12/30 exists).
constexpr const char* kSaturday = "1399/08/03";

TEST(IsMaskBitSet, TopBitsAndIndexes) {
  struct Case {
    int mask, index;
    bool month, expected;
  } cases[] = {
      {1, 0, false, true},    {64, 6, false, true},         {127, 7, false, false},
      {0, 0, false, false},   {127 | 128, 0, false, false}, {2, 0, false, false},
      {2048, 11, true, true}, {4095, 12, true, false},      {4096 | 1, 0, true, false},
      {128, 7, true, true},   {1, -1, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsMaskBitSet(c.mask, c.index, c.month), c.expected)
        << c.mask << " bit " << c.index << (c.month ? " month" : " week");
  }
}

TEST(WeekDayIndex, SaturdayIsZero) {
  EXPECT_EQ(WeekDayIndex("1399/08/03"), 0);
  EXPECT_EQ(WeekDayIndex("1399/08/04"), 1);
  EXPECT_EQ(WeekDayIndex("1399/01/01"), 6);  // a Friday
  EXPECT_EQ(WeekDayIndex("1400/01/01"), 1);  // a Sunday
  EXPECT_THROW(WeekDayIndex("1399/13/01"), std::runtime_error);
  EXPECT_THROW(WeekDayIndex("99/08/03"), std::runtime_error);
}

TEST(MinutesBetween, AbsoluteAndAcrossTheYearEnd) {
  EXPECT_EQ(MinutesBetween("1399/08/03", "10:00", "1399/08/03", "12:00"), 120);
  EXPECT_EQ(MinutesBetween("1399/08/03", "12:00", "1399/08/03", "10:00"), 120);
  EXPECT_EQ(MinutesBetween("1399/06/31", "23:00", "1399/07/01", "01:00"), 120);
  EXPECT_EQ(MinutesBetween("1399/12/30", "23:00", "1400/01/01", "00:30"), 90);
  EXPECT_EQ(MinutesBetween("1399/08/03", "", "1399/08/03", "12:00"), 0);  // no duration
  EXPECT_EQ(MinutesBetween("1399/08/03", "1000", "1399/08/03", "12:00"), 0);
}

ScheduleEntry Entry(int type, const char* start, int data1, int data2, const char* last_date,
                    const char* last_time) {
  ScheduleEntry e;
  e.ScheduleId = 1;
  e.ScheduleType = type;
  e.StartTime = start;
  e.Data1 = data1;
  e.Data2 = data2;
  if (last_date != nullptr) e.LastRunDate = last_date;
  e.LastRunTime = last_time != nullptr ? last_time : "";
  return e;
}

TEST(MustRunIt, DueOrNot) {
  struct Case {
    const char* what;
    ScheduleEntry entry;
    const char* today;
    const char* now;
    bool due;
  } cases[] = {
      // Start time: never before it, whatever the type.
      {"interval before start", Entry(0, "08:00", 1, 0, nullptr, nullptr), kSaturday, "07:59",
       false},
      {"daily before start", Entry(1, "08:00", 1, 0, nullptr, nullptr), kSaturday, "07:59", false},
      {"weekly before start", Entry(2, "08:00", 1, 127, nullptr, nullptr), kSaturday, "07:59",
       false},
      {"monthly before start", Entry(3, "08:00", 3, 4095, nullptr, nullptr), kSaturday, "07:59",
       false},
      {"interval at start, never run", Entry(0, "08:00", 1, 0, nullptr, nullptr), kSaturday,
       "08:00", true},
      // Interval of 2 hours, last run at 10:00 today.
      {"interval 2h at 11:59", Entry(0, "08:00", 2, 0, kSaturday, "10:00"), kSaturday, "11:59",
       false},
      {"interval 2h at 12:00", Entry(0, "08:00", 2, 0, kSaturday, "10:00"), kSaturday, "12:00",
       true},
      {"interval across the year end", Entry(0, "00:00", 2, 0, "1399/12/30", "23:00"), "1400/01/01",
       "00:30", false},
      {"interval across the year end, later", Entry(0, "00:00", 2, 0, "1399/12/30", "23:00"),
       "1400/01/01", "01:00", true},
      // Every day from 08:00; last run yesterday 09:00.
      {"daily first tick from start", Entry(1, "08:00", 1, 0, "1399/08/02", "09:00"), kSaturday,
       "08:00", true},
      {"daily later the same day", Entry(1, "08:00", 1, 0, "1399/08/02", "09:00"), kSaturday,
       "23:59", true},
      {"daily after today's run", Entry(1, "08:00", 1, 0, kSaturday, "08:00"), kSaturday, "09:00",
       false},
      {"daily never run", Entry(1, "08:00", 1, 0, nullptr, nullptr), kSaturday, "08:01", true},
      // Every second day.
      {"every 2 days after 1 day", Entry(1, "08:00", 0, 2, "1399/08/02", "08:30"), kSaturday,
       "08:30", false},
      {"every 2 days after 2 days", Entry(1, "08:00", 0, 2, "1399/08/01", "08:30"), kSaturday,
       "08:30", true},
      {"every 2 days, ran after start time", Entry(1, "08:00", 0, 2, "1399/08/01", "07:00"),
       kSaturday, "08:30", true},
      // Weekly masks.
      {"weekly mask 0", Entry(2, "08:00", 1, 0, nullptr, nullptr), kSaturday, "09:00", false},
      {"weekly mask 128 and more", Entry(2, "08:00", 1, 128 | 1, nullptr, nullptr), kSaturday,
       "09:00", false},
      {"weekly mask without today", Entry(2, "08:00", 1, 2, nullptr, nullptr), kSaturday, "09:00",
       false},
      {"weekly never run", Entry(2, "08:00", 1, 1, nullptr, nullptr), kSaturday, "09:00", true},
      {"weekly a week after", Entry(2, "08:00", 1, 127, "1399/07/26", "08:00"), kSaturday, "08:00",
       true},
      {"weekly 2 weeks, one week after", Entry(2, "08:00", 2, 127, "1399/07/26", "08:00"),
       kSaturday, "08:00", false},
      // Last run on the Wednesday before: its week is anchored on the Saturday before it.
      {"weekly, new week after a Wednesday", Entry(2, "08:00", 1, 127, "1399/07/30", "08:00"),
       kSaturday, "09:00", true},
      // Same week, later weekday: due even when the weeks between runs are 2.
      {"weekly same week later day", Entry(2, "08:00", 2, 127, kSaturday, "08:00"), "1399/08/05",
       "09:00", true},
      {"weekly same day after the run", Entry(2, "08:00", 1, 127, kSaturday, "08:00"), kSaturday,
       "09:00", false},
      // Monthly: day Data1 of the months of mask Data2.
      {"monthly on its day", Entry(3, "08:00", 3, 1 << 7, nullptr, nullptr), kSaturday, "09:00",
       true},
      {"monthly month not in mask", Entry(3, "08:00", 3, 1 << 6, nullptr, nullptr), kSaturday,
       "09:00", false},
      {"monthly mask above month 12", Entry(3, "08:00", 3, 4096 | (1 << 7), nullptr, nullptr),
       kSaturday, "09:00", false},
      {"monthly other day", Entry(3, "08:00", 4, 4095, nullptr, nullptr), kSaturday, "09:00",
       false},
      {"monthly day 31 on the 30-day month's end", Entry(3, "08:00", 31, 4095, nullptr, nullptr),
       "1399/07/30", "09:00", false},
      {"monthly already run today", Entry(3, "08:00", 3, 4095, kSaturday, "08:10"), kSaturday,
       "09:00", false},
      {"unknown schedule type", Entry(4, "08:00", 1, 1, nullptr, nullptr), kSaturday, "09:00",
       false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MustRunIt(c.entry, c.today, c.now), c.due) << c.what;
  }
}

TEST(MustRunIt, MalformedLastRunDateRaises) {
  EXPECT_THROW(MustRunIt(Entry(0, "08:00", 1, 0, "1399-08-03", "08:00"), kSaturday, "09:00"),
               std::runtime_error);
}

TEST(IsInTime, ComparesLastRunWithTodaysStart) {
  struct Case {
    const char* last_date;
    const char* last_time;
    bool expected;
  } cases[] = {
      {nullptr, nullptr, true},    {"1399/08/02", "23:59", true}, {kSaturday, "07:59", true},
      {kSaturday, "08:00", false}, {kSaturday, "10:00", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsInTime(Entry(1, "08:00", 1, 0, c.last_date, c.last_time), kSaturday), c.expected)
        << (c.last_date ? c.last_date : "never") << " " << (c.last_time ? c.last_time : "");
  }
}

ScheduleEntry Ranged(int sub, const char* from_mp, const char* to_mp, int dif_mp = 0,
                     int dif_day = 0) {
  ScheduleEntry e;
  e.SubCalcType = sub;
  e.FromDate = "03/01";
  e.ToDate = "03/15";
  e.FromMahPeriod = from_mp;
  e.ToMahPeriod = to_mp;
  e.DifCurMP = dif_mp;
  e.DifCurDay = dif_day;
  return e;
}

TEST(DailyRange, EverySubType) {
  struct Case {
    const char* what;
    ScheduleEntry entry;
    const char* today;
    const char* from;
    const char* to;
  } cases[] = {
      {"daily 1 as stored", Ranged(1, "", ""), kSaturday, "03/01", "03/15"},
      {"daily 2 this month", Ranged(2, "5", "20"), kSaturday, "08/05", "08/20"},
      {"daily 2 a month back", Ranged(2, "5", "20", 1), kSaturday, "07/05", "07/20"},
      {"daily 2 wraps into month 01", Ranged(2, "1", "31", 3), "1399/02/10", "01/01", "01/31"},
      {"daily 2 back to month 01 exactly", Ranged(2, "1", "31", 1), "1399/02/10", "01/01", "01/31"},
      {"daily 3 five days back", Ranged(3, "", "", 0, 5), "1399/02/02", "01/28", "02/02"},
      {"daily 3 no days back", Ranged(3, "", "", 0, 0), kSaturday, "08/03", "08/03"},
      {"daily 3 back into the year before starts at 01/01", Ranged(3, "", "", 0, 5), "1400/01/02",
       "01/01", "01/02"},
      {"daily 4 on the first day", Ranged(4, "1", ""), "1399/08/01", "08/01", "08/01"},
      {"daily 4 later in the month", Ranged(4, "1", ""), kSaturday, "08/01", "08/03"},
      {"daily 4 start day not reached", Ranged(4, "10", ""), kSaturday, "08/03", "08/03"},
      {"daily 4 start day not a number", Ranged(4, "x", ""), kSaturday, "08/01", "08/03"},
  };
  for (const auto& c : cases) {
    auto range = DailyRange(c.entry, c.today);
    ASSERT_TRUE(range.has_value()) << c.what;
    EXPECT_EQ(range->from, c.from) << c.what;
    EXPECT_EQ(range->to, c.to) << c.what;
  }
  EXPECT_FALSE(DailyRange(Ranged(0, "", ""), kSaturday).has_value());
  EXPECT_FALSE(DailyRange(Ranged(5, "", ""), kSaturday).has_value());
}

TEST(MonthOrPeriodRange, BothSubTypes) {
  struct Case {
    const char* what;
    ScheduleEntry entry;
    const char* today;
    const char* from;
    const char* to;
  } cases[] = {
      {"sub-type 1 as stored", Ranged(1, "3", "6"), kSaturday, "3", "6"},
      {"sub-type 2 this month", Ranged(2, "", ""), kSaturday, "8", "8"},
      {"sub-type 2 a month back", Ranged(2, "", "", 1), kSaturday, "7", "7"},
      {"sub-type 2 not below 1", Ranged(2, "", "", 3), "1399/02/10", "1", "1"},
  };
  for (const auto& c : cases) {
    auto range = MonthOrPeriodRange(c.entry, c.today);
    ASSERT_TRUE(range.has_value()) << c.what;
    EXPECT_EQ(range->from, c.from) << c.what;
    EXPECT_EQ(range->to, c.to) << c.what;
  }
  EXPECT_FALSE(MonthOrPeriodRange(Ranged(3, "1", "2"), kSaturday).has_value());
}

TEST(Pad2, PadsTrimmedTexts) {
  EXPECT_EQ(Pad2("1"), "01");
  EXPECT_EQ(Pad2(" 7 "), "07");
  EXPECT_EQ(Pad2("12"), "12");
  EXPECT_EQ(Pad2("123"), "123");
  EXPECT_EQ(Pad2(""), "00");
}

}  // namespace
}  // namespace zel::service
