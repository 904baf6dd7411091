#include "dates/jalali.h"

#include <gtest/gtest.h>

#include "dates/clock.h"
#include "dates/date_time.h"

namespace zel::dates {

void PrintTo(const JalaliDate& d, std::ostream* os) {
  *os << d.year << "/" << d.month << "/" << d.day;
}

namespace {

TEST(JalaliLeap, ThirtyThreeYearRule) {
  struct Case {
    int year;
    bool leap;
  } cases[] = {{1375, true}, {1379, true},  {1398, false}, {1399, true}, {1400, false},
               {1403, true}, {1404, false}, {1407, false}, {1408, true}, {1206, false},
               {1210, true}, {1370, true},  {1371, false}, {1498, true}};
  for (const Case& c : cases) EXPECT_EQ(IsJalaliLeapYear(c.year), c.leap) << c.year;
}

TEST(JalaliConversion, KnownDatesBothWays) {
  struct Case {
    int y, m, d;
    int gy, gm, gd;
  } cases[] = {
      {1399, 1, 1, 2020, 3, 20},   {1398, 12, 29, 2020, 3, 19}, {1399, 12, 30, 2021, 3, 20},
      {1400, 1, 1, 2021, 3, 21},   {1403, 12, 30, 2025, 3, 20}, {1404, 1, 1, 2025, 3, 21},
      {1404, 12, 29, 2026, 3, 20}, {1407, 12, 29, 2029, 3, 19}, {1408, 1, 1, 2029, 3, 20},
      {1408, 12, 30, 2030, 3, 20}, {1409, 1, 1, 2030, 3, 21},   {1399, 7, 1, 2020, 9, 22},
      {1399, 6, 31, 2020, 9, 21},  {1378, 10, 11, 2000, 1, 1},
  };
  for (const Case& c : cases) {
    const DateTime gregorian = EncodeDate(c.gy, c.gm, c.gd);
    EXPECT_EQ(EncodeJalaliDate(c.y, c.m, c.d), gregorian) << c.y << "/" << c.m << "/" << c.d;
    EXPECT_EQ(DecodeJalaliDate(gregorian), (JalaliDate{c.y, c.m, c.d})) << c.gy << "-" << c.gm;
  }
  EXPECT_EQ(EncodeJalaliDate(1399, 1, 1), 43910);
  EXPECT_EQ(DecodeJalaliDate(43909), (JalaliDate{1398, 12, 29}));
  // A time of day does not change the date.
  EXPECT_EQ(DecodeJalaliDate(43910.99), (JalaliDate{1399, 1, 1}));
}

TEST(JalaliConversion, RoundTripsEveryDayOfTheValidYears) {
  const DateTime first = EncodeJalaliDate(1206, 1, 1);
  const DateTime last = EncodeJalaliDate(1498, 12, 30);
  JalaliDate previous = DecodeJalaliDate(first - 1);
  EXPECT_EQ(previous, (JalaliDate{1205, 12, 30}));  // 1205 is leap
  for (DateTime serial = first; serial <= last; ++serial) {
    const JalaliDate d = DecodeJalaliDate(serial);
    ASSERT_EQ(EncodeJalaliDate(d.year, d.month, d.day), serial);
    // Each day follows the previous one.
    const bool next_in_month =
        d.year == previous.year && d.month == previous.month && d.day == previous.day + 1;
    const bool next_month = d.year == previous.year && d.month == previous.month + 1 && d.day == 1;
    const bool next_year = d.year == previous.year + 1 && d.month == 1 && d.day == 1;
    ASSERT_TRUE(next_in_month || next_month || next_year) << d.year << "/" << d.month;
    previous = d;
  }
}

TEST(JalaliConversion, InvalidDatesRaise) {
  struct Case {
    int y, m, d;
  } cases[] = {{1398, 12, 30}, {1407, 12, 30}, {1399, 13, 1}, {1399, 0, 1},
               {1399, 7, 31},  {1399, 1, 0},   {0, 1, 1},     {10000, 1, 1}};
  for (const Case& c : cases) {
    try {
      EncodeJalaliDate(c.y, c.m, c.d);
      ADD_FAILURE() << "no error for " << c.y << "/" << c.m << "/" << c.d;
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), "Invalid argument to date encode");
    }
  }
  EXPECT_NO_THROW(EncodeJalaliDate(1399, 12, 30));
  EXPECT_NO_THROW(EncodeJalaliDate(1408, 12, 30));
}

TEST(JalaliToday, FollowsTheProcessClock) {
  struct Case {
    const char* now;
    const char* today;
  } cases[] = {{"1399/12/30 23:59", "1399/12/30"},
               {"1400/01/01 00:00", "1400/01/01"},
               {"1408/12/30 12:00", "1408/12/30"}};
  for (const Case& c : cases) {
    SetNowJalali(c.now, true);
    EXPECT_EQ(JalaliToday(), c.today);
  }
  ResetNow();
}

}  // namespace
}  // namespace zel::dates
