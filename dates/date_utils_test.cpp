#include "dates/date_utils.h"

#include <gtest/gtest.h>

#include <functional>

#include "dates/clock.h"
#include "dates/jalali.h"

namespace zel::dates {
namespace {

using J = TJalaliDateUtils;
using G = TGregorianDateUtils;
using U = TGeneralDateUtils;

template <class E>
std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

struct StepCase {
  int year;
  const char* date;
  int n;
  int result_year;
  const char* result_date;
};

TEST(JalaliDateUtils, StepsAcrossMonthAndYearEnds) {
  const StepCase after[] = {
      {1399, "12/30", 1, 1400, "01/01"},         {1398, "12/29", 1, 1399, "01/01"},
      {1399, "12/29", 1, 1399, "12/30"},         {1399, "06/31", 1, 1399, "07/01"},
      {1399, "01/01", 0, 1399, "01/01"},         {1399, "01/01", 366, 1400, "01/01"},
      {1398, "01/01", 365 + 366, 1400, "01/01"}, {1407, "12/29", 1, 1408, "01/01"},
      {1408, "12/29", 1, 1408, "12/30"},         {1403, "12/30", 1, 1404, "01/01"},
  };
  for (const StepCase& c : after) {
    int y = 0;
    std::string d;
    J::GetNDatesAfter(c.year, c.date, c.n, y, d);
    EXPECT_EQ(y, c.result_year) << c.year << "/" << c.date << "+" << c.n;
    EXPECT_EQ(d, c.result_date) << c.year << "/" << c.date << "+" << c.n;
    // Stepping back by the same amount returns to the start.
    J::GetNDatesFrom(y, d, -c.n, y, d);
    EXPECT_EQ(y, c.year);
    EXPECT_EQ(d, c.date);
  }
  int y = 0;
  std::string d;
  J::GetNDatesBefore(1400, "01/01", 1, y, d);
  EXPECT_EQ(std::to_string(y) + "/" + d, "1399/12/30");
  J::GetPrevDate(1399, "07/01", y, d);
  EXPECT_EQ(std::to_string(y) + "/" + d, "1399/06/31");
  J::GetNextDate(1399, "07/30", y, d);
  EXPECT_EQ(std::to_string(y) + "/" + d, "1399/08/01");
}

TEST(JalaliDateUtils, StepErrors) {
  int y = 0;
  std::string d;
  EXPECT_EQ(MessageOf<std::runtime_error>([&] { J::GetNDatesAfter(1398, "12/30", 0, y, d); }),
            "Date is out of year!");
  EXPECT_EQ(MessageOf<std::runtime_error>([&] { J::GetNDatesBefore(1399, "07/31", 1, y, d); }),
            "Date is out of year!");
  EXPECT_EQ(MessageOf<std::runtime_error>([&] { J::GetNDatesAfter(1399, "13/01", 1, y, d); }),
            "Date is out of year!");
  EXPECT_EQ(MessageOf<std::runtime_error>([&] { J::GetNDatesAfter(1399, "01/01", -1, y, d); }),
            "N should not be negative");
  EXPECT_EQ(MessageOf<std::runtime_error>([&] { J::GetNDatesBefore(1399, "01/01", -1, y, d); }),
            "N should not be negative");
  // Leaving the calendar's valid years raises the range exception.
  EXPECT_THROW(J::GetNDatesAfter(1498, "12/30", 1, y, d), EYearValidationException);
}

TEST(JalaliDateUtils, InYearSteppingStopsAtTheEnds) {
  struct Case {
    int year;
    const char* date;
    const char* next;
    const char* prev;
  } cases[] = {{1398, "12/29", "12/29", "12/28"}, {1399, "12/29", "12/30", "12/28"},
               {1399, "12/30", "12/30", "12/29"}, {1399, "01/01", "01/02", "01/01"},
               {1399, "06/31", "07/01", "06/30"}, {1399, "07/01", "07/02", "06/31"},
               {1399, "11/30", "12/01", "11/29"}, {1399, "12/01", "12/02", "11/30"}};
  for (const auto& c : cases) {
    EXPECT_EQ(J::NextDateInYear_MMDD(c.year, c.date), c.next) << c.year << " " << c.date;
    EXPECT_EQ(J::PrevDateInYear_MMDD(c.year, c.date), c.prev) << c.year << " " << c.date;
  }
}

TEST(JalaliDateUtils, DayNumbersAndLengths) {
  struct Case {
    const char* date;
    int day;
  } cases[] = {{"01/01", 1},   {"06/31", 186}, {"07/01", 187}, {"07/30", 216},
               {"08/01", 217}, {"12/29", 365}, {"12/30", 366}};
  for (const auto& c : cases) {
    EXPECT_EQ(J::DayOfTheYear(c.date), c.day) << c.date;
    EXPECT_EQ(J::EncodeDateDay_MMDD(c.day), c.date) << c.day;
  }
  EXPECT_EQ(MessageOf<std::runtime_error>([] { J::EncodeDateDay_MMDD(367); }),
            "Day of the year is out of range! (367)");
  EXPECT_EQ(J::EncodeDateDay_YYYYMMDD(1403, 366), "1403/12/30");
  EXPECT_EQ(J::DaysInAYear(1399), 366);
  EXPECT_EQ(J::DaysInAYear(1400), 365);
  EXPECT_EQ(J::DaysInAMonth(12, 1408), 30);
  EXPECT_EQ(J::DaysInAMonth(12, 1407), 29);
  EXPECT_EQ(J::DaysInAMonth(7, 1407), 30);
  EXPECT_EQ(MessageOf<std::runtime_error>([] { J::DaysInAMonth(13, 1400); }),
            "Month should be in range [1..12]. (Month: 13)");
  EXPECT_THROW(J::IsLeapYear(1499), EYearValidationException);
  EXPECT_EQ(J::LastDateOfMonth_MMDD(12, 1399), "12/30");
  EXPECT_EQ(J::LastDateOfMonth_MMDD(6, 1398), "06/31");
  EXPECT_EQ(J::LastDateOfYear_MMDD(1398), "12/29");
  EXPECT_EQ(J::LastDateOfYear_MMDD(true), "12/30");
  EXPECT_EQ(J::LastDateOfYear_YYYYMMDD(1408), "1408/12/30");
}

TEST(JalaliDateUtils, DaysBetweenWithYear) {
  EXPECT_EQ(J::DaysBetween("01/01", "12/30"), 366);
  EXPECT_EQ(J::DaysBetweenWithYear("12/29", "01/02", 1398, 1399), 3);
  EXPECT_EQ(J::DaysBetweenWithYear("12/30", "01/01", 1399, 1400), 2);
  EXPECT_EQ(J::DaysBetweenWithYear("01/01", "01/01", 1399, 1401), 366 + 365 + 1);
  EXPECT_EQ(J::DaysBetweenWithYear("05/05", "05/05", 1399, 1399), 1);
  EXPECT_EQ(
      MessageOf<std::runtime_error>([] { J::DaysBetweenWithYear("12/29", "01/02", 1399, 1398); }),
      "FromDate is greater than ToDate! FromDate:1399/12/29, ToDate:1398/01/02, "
      "AllowEqual:True");
}

TEST(JalaliDateUtils, WeekdaysAndWeekend) {
  EXPECT_EQ(J::DayOfTheWeek("1399/01/01"), 5);  // a Friday
  EXPECT_TRUE(J::IsWeekend("1399/01/01"));
  EXPECT_FALSE(J::IsWeekend("1399/01/02"));
  EXPECT_EQ(J::DayOfTheWeek("1403/12/30"), 4);  // 2025-03-20, a Thursday
  EXPECT_THROW(J::DayOfTheWeek("1398/12/30"), EConvertError);
}

TEST(GregorianDateUtils, ConversionsAndStepping) {
  EXPECT_EQ(G::ConverToDate_YYYYMMDD("2020/03/20"), 43910);
  EXPECT_THROW(G::ConverToDate_YYYYMMDD("2021/02/29"), EConvertError);
  EXPECT_DOUBLE_EQ(G::ConverToDateTime_YYYYMMDDHHNN("2020/03/20", "06:00"),
                   43910 + EncodeTime(6, 0, 1, 0));
  EXPECT_DOUBLE_EQ(G::ConverToDateTime_YYYYMMDDHHNNSS("2020/03/20", "06:00:30"),
                   43910 + EncodeTime(6, 0, 30, 10));
  EXPECT_EQ(G::DayOfTheWeek("2020/03/20"), 5);
  EXPECT_TRUE(G::IsWeekend("2020/03/20"));
  EXPECT_EQ(G::DayOfTheYear(2020, "12/31"), 366);
  EXPECT_EQ(G::DayOfTheYear(2021, "03/01"), 60);
  EXPECT_EQ(G::EncodeDateDay_MMDD(2020, 60), "02/29");
  EXPECT_EQ(G::EncodeDateDay_YYYYMMDD(2021, 365), "2021/12/31");
  EXPECT_THROW(G::EncodeDateDay_MMDD(2021, 366), std::runtime_error);
  EXPECT_EQ(G::LastDateOfMonth_MMDD(2, 2024), "02/29");
  EXPECT_EQ(G::LastDateOfMonth_MMDD(2, 2100), "02/28");
  EXPECT_EQ(G::LastDateOfYear_YYYYMMDD(2021), "2021/12/31");
  const StepCase cases[] = {{2020, "12/31", 1, 2021, "01/01"},
                            {2020, "02/28", 1, 2020, "02/29"},
                            {2021, "02/28", 1, 2021, "03/01"},
                            {2021, "01/01", -1, 2020, "12/31"},
                            {2021, "03/01", -366, 2020, "02/29"}};
  for (const StepCase& c : cases) {
    int y = 0;
    std::string d;
    G::GetNDatesFrom(c.year, c.date, c.n, y, d);
    EXPECT_EQ(std::to_string(y) + "/" + d, std::to_string(c.result_year) + "/" + c.result_date);
  }
  int y = 0;
  std::string d;
  G::GetNDatesBefore(2021, "01/01", 1, y, d);
  EXPECT_EQ(std::to_string(y) + "/" + d, "2020/12/31");
  EXPECT_EQ(MessageOf<std::runtime_error>([&] { G::GetNDatesBefore(2021, "01/01", -1, y, d); }),
            "N should not be negative");
  EXPECT_EQ(MessageOf<std::runtime_error>([&] { G::GetNDatesAfter(2021, "01/01", -1, y, d); }),
            "N should not be negative");
}

TEST(GeneralDateUtils, JalaliGregorianConversion) {
  struct Case {
    const char* gregorian;
    const char* jalali;
  } cases[] = {{"2021/03/20", "1399/12/30"}, {"2021/03/21", "1400/01/01"},
               {"2020/03/19", "1398/12/29"}, {"2025/03/20", "1403/12/30"},
               {"2029/03/19", "1407/12/29"}, {"2029/03/20", "1408/01/01"},
               {"2030/03/20", "1408/12/30"}, {"2000/01/01", "1378/10/11"}};
  for (const auto& c : cases) {
    EXPECT_EQ(U::GregorianToJalali_YYYYMMDD(std::string(c.gregorian)), c.jalali);
    EXPECT_EQ(U::JalaliToGregorian_YYYYMMDD(std::string(c.jalali)), c.gregorian);
    EXPECT_EQ(U::ForceCalendarSystem_YYYYMMDD(csJalali, c.gregorian), c.jalali);
    EXPECT_EQ(U::ForceCalendarSystem_YYYYMMDD(csGregorian, c.jalali), c.gregorian);
    EXPECT_EQ(U::ForceCalendarSystem_YYYYMMDD(csJalali, c.jalali), c.jalali);
  }
  EXPECT_EQ(U::GregorianToJalali_YYYYMMDD(43910.75), "1399/01/01");
  EXPECT_EQ(U::JalaliToGregorian(1399, 1, 1), 43910);
  EXPECT_EQ(U::JalaliToGregorian_YYYYMMDD(1399, 12, 30), "2021/03/20");
  EXPECT_THROW(U::JalaliToGregorian_YYYYMMDD(1398, 12, 30), EConvertError);
  // The Jalali year must lie in its valid range.
  EXPECT_THROW(U::GregorianToJalali_YYYYMMDD(std::string("2200/01/01")), EYearValidationException);
}

TEST(GeneralDateUtils, CalendarDetection) {
  EXPECT_EQ(U::GetCalendarSystem_YYYY_Int(1399), csJalali);
  EXPECT_EQ(U::GetCalendarSystem_YYYY_Int(2020), csGregorian);
  EXPECT_EQ(MessageOf<EYearValidationException>([] { U::GetCalendarSystem_YYYY_Int(1600); }),
            "Year should be in YYYY format and in range [1899..9999]. (Year_YYYY: \"1600\")");
  EXPECT_THROW(U::GetCalendarSystem_YYYY_Int(1499), EYearValidationException);
  EXPECT_EQ(U::GetCalendarSystem_YYYY("1403"), csJalali);
  EXPECT_EQ(U::GetCalendarSystem_YYYYMMDD("2024/01/01"), csGregorian);
  EXPECT_THROW(U::GetCalendarSystem_YYYYMMDD("2024/1/01"), std::runtime_error);
}

TEST(GeneralDateUtils, ComparisonsAndRanges) {
  struct Case {
    const char* d1;
    const char* t1;
    int y1;
    const char* d2;
    const char* t2;
    int y2;
    int dates;
    int date_times;
  } cases[] = {{"12/30", "10:00", 1399, "01/01", "09:00", 1400, -1, -1},
               {"01/01", "10:00", 1400, "12/30", "09:00", 1399, 1, 1},
               {"05/05", "10:00", 1400, "05/05", "09:00", 1400, 0, 1},
               {"05/05", "08:00", 1400, "05/05", "09:00", 1400, 0, -1},
               {"05/05", "09:00", 1400, "05/05", "09:00", 1400, 0, 0},
               {"05/04", "23:00", 1400, "05/05", "09:00", 1400, -1, -1}};
  for (const Case& c : cases) {
    EXPECT_EQ(U::CompareDates(csJalali, c.d1, c.d2, c.y1, c.y2), c.dates) << c.d1 << " " << c.d2;
    EXPECT_EQ(U::CompareDateTimes(csJalali, c.d1, c.t1, c.d2, c.t2, c.y1, c.y2), c.date_times)
        << c.d1 << c.t1 << " " << c.d2 << c.t2;
  }
  struct OpCase {
    TDateComparisonOperator op;
    bool lesser, equal, greater;
  } ops[] = {{coEqual, false, true, false},       {coNotEqual, true, false, true},
             {coLesserEqual, true, true, false},  {coLesser, true, false, false},
             {coGreaterEqual, false, true, true}, {coGreater, false, false, true}};
  for (const OpCase& o : ops) {
    EXPECT_EQ(U::MatchComparisonResult(o.op, -1), o.lesser);
    EXPECT_EQ(U::MatchComparisonResult(o.op, 0), o.equal);
    EXPECT_EQ(U::MatchComparisonResult(o.op, 1), o.greater);
  }
  EXPECT_TRUE(U::CompareDates(csJalali, "01/01", "12/30", 1400, 1399, coGreater));
  EXPECT_THROW(U::CompareDates(csJalali, "1/01", "12/30", 1400, 1399), std::runtime_error);
  EXPECT_THROW(U::CompareDates(csJalali, "01/01", "12/30", 1400, 1600), EYearValidationException);

  EXPECT_NO_THROW(U::CheckDateRange(csJalali, "05/05", "05/05", 1400, 1400, true));
  EXPECT_EQ(MessageOf<std::runtime_error>(
                [] { U::CheckDateRange(csJalali, "05/05", "05/05", 1400, 1400, false); }),
            "FromDate is greater than ToDate! FromDate:1400/05/05, ToDate:1400/05/05, "
            "AllowEqual:False");
  EXPECT_TRUE(U::DateInRange(csJalali, "12/01", "01/31", "12/30", 1399, 1400, 1399));
  EXPECT_TRUE(U::DateInRange(csJalali, "12/01", "01/31", "01/31", 1399, 1400, 1400));
  EXPECT_FALSE(U::DateInRange(csJalali, "12/01", "01/31", "02/01", 1399, 1400, 1400));
  EXPECT_FALSE(U::DateInRange(csJalali, "12/01", "01/31", "11/30", 1399, 1400, 1399));
  EXPECT_THROW(U::DateInRange(csJalali, "12/01", "01/31", "12/30", 1400, 1399, 1399),
               std::runtime_error);
}

TEST(GeneralDateUtils, DispatchFirstLastAndYears) {
  EXPECT_EQ(U::DaysInAYear(csGregorian, 2100), 365);
  EXPECT_EQ(U::DaysInAYear(csJalali, 1408), 366);
  EXPECT_EQ(U::DayOfTheYear(csJalali, 1399, "07/01"), 187);
  EXPECT_EQ(U::DayOfTheYear(csGregorian, 2020, "03/01"), 61);
  EXPECT_EQ(U::EncodeDateDay_MMDD(csGregorian, 2021, 60), "03/01");
  EXPECT_EQ(U::EncodeDateDay_YYYYMMDD(csJalali, 1399, 187), "1399/07/01");
  EXPECT_EQ(U::LastDateOfYear_MMDD(csGregorian, 2021), "12/31");
  EXPECT_EQ(U::LastDateOfYear_MMDD(csJalali, 1403), "12/30");
  EXPECT_EQ(U::LastDateOfYear_YYYYMMDD(csJalali, 1404), "1404/12/29");
  EXPECT_EQ(U::FirstDateOfYear_YYYYMMDD(csJalali, 1404), "1404/01/01");
  EXPECT_THROW(U::FirstDateOfYear_YYYYMMDD(csJalali, 1600), EYearValidationException);
  EXPECT_EQ(U::FirstDateOfMonth_MMDD(7), "07/01");
  EXPECT_TRUE(U::IsLastDayOfYear(csJalali, 1399, 12, 30));
  EXPECT_FALSE(U::IsLastDayOfYear(csJalali, 1399, 12, 29));
  EXPECT_TRUE(U::IsLastDayOfYear(csJalali, 1398, 12, 29));
  EXPECT_TRUE(U::IsLastDayOfYear(csGregorian, 2021, 12, 31));
  EXPECT_FALSE(U::IsLastDayOfYear(csGregorian, 2021, 11, 30));
  EXPECT_EQ(U::MinValidDate_YYYYMMDD(csJalali), "1206/01/01");
  EXPECT_EQ(U::MaxValidDate_YYYYMMDD(csJalali), "1498/12/30");
  EXPECT_EQ(U::MinValidDate_YYYYMMDD(csGregorian), "1899/01/01");
  EXPECT_EQ(U::MaxValidDate_YYYYMMDD(csGregorian), "9999/12/31");
  EXPECT_EQ(U::GetNYearsFrom_YYYY(csJalali, 5, 1400), 1405);
  EXPECT_EQ(U::GetNextYear_YYYY(csJalali, 1497), 1498);
  EXPECT_THROW(U::GetNextYear_YYYY(csJalali, 1498), EYearValidationException);
  EXPECT_EQ(U::GetPrevYear_YYYY(csGregorian, 2000), 1999);
  int y = 0;
  std::string d;
  U::GetNextDate(csJalali, 1399, "12/30", y, d);
  EXPECT_EQ(std::to_string(y) + "/" + d, "1400/01/01");
  U::GetPrevDate(csGregorian, 2021, "03/01", y, d);
  EXPECT_EQ(std::to_string(y) + "/" + d, "2021/02/28");
  U::GetNDatesBefore(csJalali, 1400, "01/05", 5, y, d);
  EXPECT_EQ(std::to_string(y) + "/" + d, "1399/12/30");
  U::GetNDatesAfter(csGregorian, 2020, "12/31", 2, y, d);
  EXPECT_EQ(std::to_string(y) + "/" + d, "2021/01/02");
  U::GetNDatesFrom(csJalali, 1400, "01/05", -5, y, d);
  EXPECT_EQ(std::to_string(y) + "/" + d, "1399/12/30");
  const auto bad = static_cast<TCalendarSystem>(2);
  EXPECT_EQ(MessageOf<std::runtime_error>([bad] { U::DaysInAYear(bad, 1400); }),
            "Unsupported calendar system! (2)");
}

TEST(GeneralDateUtils, TodayReadsTheProcessClock) {
  SetNowJalali("1399/12/30 23:59", true);
  EXPECT_EQ(U::Today_YYYYMMDD(csJalali), "1399/12/30");
  EXPECT_EQ(U::Today_MMDD(csJalali), "12/30");
  EXPECT_EQ(U::Today_YYYYMMDD(csGregorian), "2021/03/20");
  EXPECT_EQ(U::Today_MMDD(csGregorian), "03/20");
  EXPECT_EQ(J::Today_YYYYMMDD(), "1399/12/30");
  ResetNow();
}

}  // namespace
}  // namespace zel::dates
