// The Jalali day value: the two leap rules at their boundaries, month 12, ok(), stepping
// across the year end, and the texts.

#include "dates/jalali_day.h"

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>

namespace zel::dates {

template <class Rule>
void PrintTo(const BasicJalaliDay<Rule>& d, std::ostream* os) {
  *os << d.YYYYMMDD();
}

namespace {

TEST(JalaliDay, LeapYearsOfBothRulesAtTheirBoundaries) {
  const struct {
    int year;
    bool calc;   // the calculation rule
    bool cycle;  // the 33-year rule
  } cases[] = {
      // The first year of the calculation rule; before 1375 the two rules differ.
      {1300, false, true},  {1303, true, false}, {1307, true, false},
      {1309, false, true},  {1375, true, true},  {1399, true, true},
      {1400, false, false}, {1403, true, true},  {1404, false, false},
      {1406, false, false},  // last year of the four-year part
      {1407, false, false},  // the calculation rule follows the 33-year rule from here
      {1408, true, true},   {1412, true, true},  {1416, true, true},
      {1206, false, false},  // only the 33-year rule covers years before 1300
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JalaliDay::IsLeap(c.year), c.cycle) << c.year;
    EXPECT_EQ(JalaliDay::MonthDays(c.year, 12), c.cycle ? 30 : 29) << c.year;
    EXPECT_EQ(JalaliDay::YearDays(c.year), c.cycle ? 366 : 365) << c.year;
    if (c.year < 1300) continue;
    EXPECT_EQ(CalcDay::IsLeap(c.year), c.calc) << c.year;
    EXPECT_EQ(CalcDay::MonthDays(c.year, 12), c.calc ? 30 : 29) << c.year;
    EXPECT_EQ(CalcDay::YearDays(c.year), c.calc ? 366 : 365) << c.year;
  }
}

TEST(JalaliDay, MonthLengths) {
  for (int m = 1; m <= 11; ++m) {
    const int expected = m <= 6 ? 31 : 30;
    EXPECT_EQ(JalaliMonthLength(m, false), expected) << m;
    EXPECT_EQ(JalaliMonthLength(m, true), expected) << m;
    // Months 1-11 have their length in any year, even one the calculation rule refuses.
    EXPECT_EQ(CalcDay::MonthDays(1250, m), expected) << m;
  }
  EXPECT_EQ(JalaliMonthLength(12, true), 30);
  EXPECT_EQ(JalaliMonthLength(12, false), 29);
  EXPECT_EQ(JalaliMonthLength(0, true), 0);
  EXPECT_EQ(JalaliMonthLength(13, false), 0);
  EXPECT_EQ(CalcDay::MonthDays(1399, 13), 0);
  try {
    CalcDay::MonthDays(1299, 12);
    ADD_FAILURE() << "month 12 of 1299 has no length under the calculation rule";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "TZelCalcUtils.IsLLeapYear just accepts years in YYYY format!");
  }
}

TEST(JalaliDay, OkOnlyForRealDays) {
  const struct {
    CalcDay day;
    bool ok;
  } cases[] = {
      {CalcDay(1399, 1, 1), true},      {CalcDay(1399, 6, 31), true},
      {CalcDay(1399, 7, 31), false},    {CalcDay(1399, 12, 30), true},  // 1399 leap
      {CalcDay(1400, 12, 30), false},   {CalcDay(1400, 12, 29), true},
      {CalcDay(1399, 0, 1), false},     {CalcDay(1399, 13, 1), false},
      {CalcDay(1399, 5, 0), false},     {CalcDay(1399, 5, -1), false},
      {CalcDay(1299, 12, 1), false},  // month 12 of a year the rule does not cover
      {CalcDay(1299, 11, 30), true},    {CalcDay(), false},
      {CalcDay(1399, "03/31"), true},   {CalcDay(1399, "3/31"), false},
      {CalcDay(1399, "03-31"), false},  {CalcDay(1399, "0a/01"), false},
      {CalcDay(1399, "03/311"), false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.day.ok(), c.ok) << c.day.YYYYMMDD();
  // The same text under the two rules: 1307 is leap only for the calculations.
  EXPECT_TRUE(CalcDay(1307, 12, 30).ok());
  EXPECT_FALSE(JalaliDay(1307, 12, 30).ok());
  EXPECT_TRUE(JalaliDay(1250, 12, 29).ok());
}

TEST(JalaliDay, SteppingAcrossMonthsAndYearEnds) {
  const struct {
    CalcDay from;
    long long n;
    CalcDay to;
  } cases[] = {
      {CalcDay(1399, 1, 1), 1, CalcDay(1399, 1, 2)},
      {CalcDay(1399, 6, 31), 1, CalcDay(1399, 7, 1)},
      {CalcDay(1399, 7, 1), -1, CalcDay(1399, 6, 31)},
      {CalcDay(1399, 12, 29), 1, CalcDay(1399, 12, 30)},  // leap: 12/30 exists
      {CalcDay(1399, 12, 30), 1, CalcDay(1400, 1, 1)},
      {CalcDay(1400, 12, 29), 1, CalcDay(1401, 1, 1)},  // common year ends on 12/29
      {CalcDay(1401, 1, 1), -1, CalcDay(1400, 12, 29)},
      {CalcDay(1400, 1, 1), -1, CalcDay(1399, 12, 30)},
      // A period across the year end: 12/21..12/30 and 01/01..01/20, 30 days.
      {CalcDay(1399, 12, 21), 29, CalcDay(1400, 1, 20)},
      {CalcDay(1400, 1, 20), -29, CalcDay(1399, 12, 21)},
      {CalcDay(1399, 1, 1), 366, CalcDay(1400, 1, 1)},
      {CalcDay(1400, 1, 1), 365, CalcDay(1401, 1, 1)},
      {CalcDay(1399, 3, 10), 0, CalcDay(1399, 3, 10)},
      {CalcDay(1406, 12, 29), 1, CalcDay(1407, 1, 1)},  // the rule changes hands at 1407
      {CalcDay(1407, 12, 29), 1, CalcDay(1408, 1, 1)},
      {CalcDay(1408, 12, 29), 1, CalcDay(1408, 12, 30)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.from.AddDays(c.n), c.to) << c.from.YYYYMMDD() << " + " << c.n;
    EXPECT_EQ(c.to.AddDays(-c.n), c.from) << c.to.YYYYMMDD() << " - " << c.n;
  }
  EXPECT_EQ(CalcDay(1399, 12, 30).Next(), CalcDay(1400, 1, 1));
  EXPECT_EQ(CalcDay(1400, 1, 1).Prev(), CalcDay(1399, 12, 30));
  // The 33-year rule has 1307 common: its year ends on 12/29.
  EXPECT_EQ(JalaliDay(1307, 12, 29).Next(), JalaliDay(1308, 1, 1));
  EXPECT_EQ(CalcDay(1307, 12, 29).Next(), CalcDay(1307, 12, 30));

  // Day by day equals a month at a time.
  CalcDay day(1398, 11, 15);
  for (int i = 0; i < 800; ++i) day = day.Next();
  EXPECT_EQ(day, CalcDay(1398, 11, 15).AddDays(800));
  for (int i = 0; i < 800; ++i) day = day.Prev();
  EXPECT_EQ(day, CalcDay(1398, 11, 15));
}

TEST(JalaliDay, SteppingRefusesDaysThatAreNotOk) {
  EXPECT_THROW(CalcDay(1399, 7, 31).Next(), std::invalid_argument);
  EXPECT_THROW(CalcDay(1399, 13, 1).Prev(), std::invalid_argument);
  EXPECT_THROW(CalcDay().AddDays(3), std::invalid_argument);
  // Stepping back from 1300/01/01 needs month 12 of 1299, which the rule refuses.
  EXPECT_THROW(CalcDay(1300, 1, 1).Prev(), std::runtime_error);
  EXPECT_EQ(JalaliDay(1300, 1, 1).Prev(), JalaliDay(1299, 12, 29));
}

TEST(JalaliDay, OrderAndTexts) {
  EXPECT_LT(CalcDay(1399, 12, 30), CalcDay(1400, 1, 1));
  EXPECT_LT(CalcDay(1399, 2, 31), CalcDay(1399, 3, 1));
  EXPECT_EQ(CalcDay(1399, 3, 5).MMDD(), "03/05");
  EXPECT_EQ(CalcDay(1399, 12, 30).YYYYMMDD(), "1399/12/30");
  EXPECT_EQ(CalcDay(1399, "07/09"), CalcDay(1399, 7, 9));
  const struct {
    int month, day, number;
  } days[] = {{1, 1, 1}, {6, 31, 186}, {7, 1, 187}, {7, 30, 216}, {8, 1, 217}, {12, 30, 366}};
  for (const auto& d : days) EXPECT_EQ(CalcDay(1399, d.month, d.day).DayOfYear(), d.number);
  // The day number of every day of a year runs 1, 2, ... without a gap.
  int expected = 1;
  for (CalcDay d(1400, 1, 1); d.year() == 1400; d = d.Next()) {
    EXPECT_EQ(d.DayOfYear(), expected++) << d.MMDD();
  }
  EXPECT_EQ(expected, 366);
}

}  // namespace
}  // namespace zel::dates
