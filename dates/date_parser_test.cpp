#include "dates/date_parser.h"

#include <gtest/gtest.h>

#include <functional>

#include "dates/date_time.h"

namespace zel::dates {
namespace {

using P = TZELDateParser;
using YC = TZELYearConversion;

// Runs f and returns the message of the exception of type E it raises ("" when none).
template <class E>
std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

TEST(DateFormat, MatchesPatternsPositionByPosition) {
  struct Case {
    const char* text;
    P::TDateFormat format;
    bool matches;
  } cases[] = {
      {"1399/01/05", P::dfYYYYMMDD, true},
      {"1399/1/05", P::dfYYYYMMDD, false},
      {"0399/01/05", P::dfYYYYMMDD, false},
      {"1399-01-05", P::dfYYYYMMDD, false},
      {"1399/01/055", P::dfYYYYMMDD, false},
      {"", P::dfYYYYMMDD, false},
      {"19/39", P::dfMMDD, true},
      {"20/01", P::dfMMDD, false},
      {"01/40", P::dfMMDD, false},
      {"29:69", P::dfHHNN, true},
      {"30:00", P::dfHHNN, false},
      {"07:05:59", P::dfHHNNSS, true},
      {"07:05", P::dfHHNNSS, false},
      {"99/12/30", P::dfYYMMDD, true},
      {"9/12/30", P::dfYYMMDD, false},
      {"1399", P::dfYYYY, true},
      {"0999", P::dfYYYY, false},
      {"39", P::dfDD, true},
      {"40", P::dfDD, false},
      {"19", P::dfMM, true},
      {"69", P::dfNN, true},
      {"70", P::dfNN, false},
      {"29", P::dfHH, true},
      {"00", P::dfYY, true},
      {"a0", P::dfYY, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(P::DateFormatMatches(c.text, c.format), c.matches) << c.text;
  }
}

TEST(DateFormat, CheckRaisesWithDisplayPatternAndInput) {
  EXPECT_EQ(MessageOf<std::runtime_error>([] { P::CheckDateFormat("1399/1/05", P::dfYYYYMMDD); }),
            "Date format does not match! ExpectedPattern: \"YYYY/MM/DD\", Input: \"1399/1/05\"");
  EXPECT_EQ(MessageOf<std::runtime_error>([] { P::Format_MMDD(3, 45); }),
            "Date format does not match! ExpectedPattern: \"MM/DD\", Input: \"03/45\"");
  EXPECT_EQ(P::Format_MMDD(3, 7), "03/07");
  EXPECT_NO_THROW(P::CheckDateFormat("23:59:59", P::dfHHNNSS));
}

TEST(YearChecks, IntYYYYAndRanges) {
  EXPECT_EQ(MessageOf<std::runtime_error>([] { P::CheckYear_IntYYYY(1299); }),
            "Year should be in YYYY format. (Year_YYYY: \"1299\")");
  EXPECT_NO_THROW(P::CheckYear_IntYYYY(1300));
  EXPECT_NO_THROW(P::CheckYear_IntYYYY(99999));

  EXPECT_EQ(MessageOf<EYearValidationException>([] { YC::CheckYearRange(csJalali, 1499); }),
            "Year should be in YYYY format and in range [1206..1498]. (Year_YYYY: \"1499\")");
  EXPECT_EQ(MessageOf<EYearValidationException>([] { YC::CheckYearRange(csGregorian, 1898); }),
            "Year should be in YYYY format and in range [1899..9999]. (Year_YYYY: \"1898\")");
  EXPECT_NO_THROW(YC::CheckYearRange(csJalali, 1206));
  EXPECT_NO_THROW(YC::CheckYearRange(csJalali, 1498));
  EXPECT_EQ(MessageOf<EYearValidationException>([] { YC::CheckYearYYYY(999); }),
            "Year should be in YYYY format. (Year_YYYY: \"999\")");
  EXPECT_TRUE(YC::YearIsYYYY(9999));
  EXPECT_FALSE(YC::YearIsYYYY(10000));
  EXPECT_EQ(YC::GetValidRange_YYYY(csGregorian, true), 1899);
  EXPECT_EQ(YC::GetValidRange_YYYY(csGregorian, false), 9999);
  EXPECT_FALSE(YC::YearIsInValidRange(csJalali, 1205));
}

TEST(YearChecks, UnsupportedCalendarRaises) {
  const auto bad = static_cast<TCalendarSystem>(7);
  EXPECT_EQ(MessageOf<std::runtime_error>([bad] { YC::ConvertYear_YYYY(bad, 5); }),
            "Unsupported calendar system! (7)");
  EXPECT_EQ(MessageOf<std::runtime_error>([bad] { YC::CheckYearRange(bad, 1400); }),
            "Unsupported calendar system! (7)");
}

TEST(YearConversion, TwoDigitExpansion) {
  struct Case {
    TCalendarSystem calendar;
    int year;
    int expected;
  } cases[] = {{csJalali, 29, 1429},   {csJalali, 30, 1330},    {csJalali, 0, 1400},
               {csJalali, 99, 1399},   {csJalali, 110, 1410},   {csJalali, 129, 1429},
               {csGregorian, 5, 2005}, {csGregorian, 45, 1945}, {csGregorian, 100, 2000}};
  for (const Case& c : cases) {
    EXPECT_EQ(YC::ConvertYear_YYYY(c.calendar, c.year), c.expected) << c.year;
  }
}

TEST(YearConversion, TwoDigitExpansionErrors) {
  struct Case {
    TCalendarSystem calendar;
    int year;
    const char* message;
  } cases[] = {{csJalali, 130, "Unexpected year value! Jalali: 130"},
               {csGregorian, 999, "Unexpected year value! Gregorian: 999"},
               {csJalali, -1, "Year can not be negative! Jalali: -1"},
               {csJalali, 1399, "Year is already 4-digited! Jalali: 1399"},
               {csGregorian, 1000, "Year is already 4-digited! Gregorian: 1000"}};
  for (const Case& c : cases) {
    EXPECT_EQ(
        MessageOf<EYearValidationException>([&c] { YC::ConvertYear_YYYY(c.calendar, c.year); }),
        c.message);
  }
}

TEST(YearConversion, UnknownSystemGuess) {
  struct Case {
    int year;
    int expected;
  } cases[] = {{5, 1405},  {15, 1415}, {16, 2016}, {20, 2020}, {45, 1945},
               {80, 1980}, {81, 1381}, {90, 1390}, {0, 1400}};
  for (const Case& c : cases) EXPECT_EQ(YC::ConvertYear_YYYY_UnknownSystem(c.year), c.expected);
  EXPECT_EQ(MessageOf<EYearValidationException>([] { YC::ConvertYear_YYYY_UnknownSystem(100); }),
            "Unexpected year value! ([0..99]) d");
  EXPECT_EQ(MessageOf<EYearValidationException>([] { YC::ConvertYear_YYYY_UnknownSystem(-1); }),
            "Unexpected year value! ([0..99]) d");
}

TEST(DateParser, Extraction) {
  EXPECT_EQ(P::GetDayOfDate_DD("07/05"), "05");
  EXPECT_EQ(P::GetDayOfDate("07/05"), 5);
  EXPECT_EQ(P::GetMonthOfDate_MM("07/05"), "07");
  EXPECT_EQ(P::GetMonthOfDate_MM("1399/08/03", 0), "08");
  EXPECT_EQ(P::GetMonthOfDate("12/30"), 12);
  EXPECT_EQ(P::GetMonthOfDate("1399/08/03", 0), 8);
  EXPECT_EQ(P::GetMonthAndDay_MMDD("99/08/03"), "08/03");
  EXPECT_EQ(P::GetMonthAndDay_MMDD("1399/08/03", 0), "08/03");
  EXPECT_EQ(P::GetYearOfDate_YY("99/08/03"), "99");
  EXPECT_EQ(P::GetYearOfDate_YY_Int("05/08/03"), 5);
  EXPECT_EQ(P::GetYearOfDate_YYYY(csJalali, "05/08/03"), "1405");
  EXPECT_EQ(P::GetYearOfDate_YYYY(csGregorian, "99/08/03"), "1999");
  EXPECT_EQ(P::GetYearOfDate_YYYY("1399/08/03", 0), "1399");
  EXPECT_EQ(P::GetYearOfDate_YYYY_Int(csJalali, "99/08/03"), 1399);
  EXPECT_EQ(P::GetYearOfDate_YYYY_Int("1600/08/03", 0), 1600);
  EXPECT_EQ(P::GetHourOfTime_HHNN("23:59"), 23);
  EXPECT_EQ(P::GetMinuteOfTime_HHNN("23:59"), 59);
  EXPECT_EQ(P::GetHourOfTime_HHNNSS("07:08:09"), 7);
  EXPECT_EQ(P::GetMinuteOfTime_HHNNSS("07:08:09"), 8);
  EXPECT_EQ(P::GetSecondOfTime_HHNNSS("07:08:09"), 9);
  // Every extraction checks its form first.
  EXPECT_THROW(P::GetDayOfDate("7/05"), std::runtime_error);
  EXPECT_THROW(P::GetYearOfDate_YYYY("99/08/03", 0), std::runtime_error);
  EXPECT_THROW(P::GetHourOfTime_HHNN("7:05"), std::runtime_error);
}

TEST(DateParser, ParseIntoIntegers) {
  int h = 0, n = 0, s = 0;
  P::Parse_HHNN("08:45", h, n);
  EXPECT_EQ(h * 100 + n, 845);
  P::Parse_HHNNSS("23:05:07", h, n, s);
  EXPECT_EQ(h * 10000 + n * 100 + s, 230507);
  int m = 0, d = 0, y = 0;
  P::Parse_MMDD("12/30", m, d);
  EXPECT_EQ(m * 100 + d, 1230);
  P::Parse_YYMMDD(csJalali, "05/02/03", y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 14050203);
  std::uint16_t yy = 0;
  P::Parse_YYMMDD(csGregorian, "21/03/20", yy, m, d);
  EXPECT_EQ(yy, 21);
  // The four-digit parse neither range-checks the year nor looks at the calendar.
  P::Parse_YYYYMMDD(csJalali, "1600/01/01", y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 16000101);
  EXPECT_THROW(P::Parse_YYYYMMDD(csJalali, "1600/1/01", y, m, d), std::runtime_error);
  EXPECT_THROW(P::Parse_YYMMDD(csJalali, "5/01/01", y, m, d), std::runtime_error);
}

TEST(DateParser, Formatting) {
  EXPECT_EQ(P::Format_YYYYMMDD(1399, 1, 5), "1399/01/05");
  EXPECT_EQ(P::Format_YYYYMMDD(1600, 12, 31), "1600/12/31");
  EXPECT_THROW(P::Format_YYYYMMDD(999, 1, 1), std::runtime_error);
  EXPECT_THROW(P::Format_YYYYMMDD(1399, 1, -1), std::runtime_error);
  EXPECT_EQ(P::Format_YYMMDD(csJalali, 1405, 2, 3), "05/02/03");
  EXPECT_THROW(P::Format_YYMMDD(csJalali, 1600, 2, 3), EYearValidationException);
}

TEST(DateParser, YearConversionAndJoining) {
  EXPECT_EQ(P::ConvertYear_YY(csJalali, 1399), "99");
  EXPECT_THROW(P::ConvertYear_YY(csJalali, 1600), EYearValidationException);
  EXPECT_EQ(P::ConvertYear_YY(csJalali, std::string("1600")), "00");  // form only
  EXPECT_THROW(P::ConvertYear_YY(csJalali, std::string("160")), std::runtime_error);
  EXPECT_EQ(P::ConvertYear_YY_Int(csGregorian, 2005), 5);
  EXPECT_EQ(P::ConvertYearDef_YY(csJalali, "1403", "??"), "03");
  EXPECT_EQ(P::ConvertYearDef_YY(csJalali, "14x3", "??"), "??");
  EXPECT_EQ(P::ConvertYearDef_YYYY(csJalali, "1403", "-"), "1403");
  EXPECT_EQ(P::ConvertYearDef_YYYY(csJalali, "403", "-"), "-");
  EXPECT_EQ(P::ConvertYear_YYYY(csJalali, 1403), "1403");
  EXPECT_EQ(P::ConvertYear_YYYY_Int(csJalali, "1403"), 1403);
  EXPECT_THROW(P::ConvertYear_YYYY_Int(csJalali, "1600"), EYearValidationException);
  EXPECT_EQ(P::ConvertYear_YYYYMMDD(csJalali, "03/12/30"), "1403/12/30");
  EXPECT_EQ(P::AddYearToDate_YYMMDD(csJalali, std::string("1403"), "12/30"), "03/12/30");
  EXPECT_EQ(P::AddYearToDate_YYMMDD(csJalali, std::string("x"), "junk", 0), "x/junk");
  EXPECT_EQ(P::AddYearToDate_YYMMDD(csJalali, 1403, "12/30"), "03/12/30");
  EXPECT_EQ(P::AddYearToDate_YYYYMMDD(csJalali, std::string("1403"), "1/1"), "1403/1/1");
  EXPECT_EQ(P::AddYearToDate_YYYYMMDD(csJalali, 1403, "01/01"), "1403/01/01");
  EXPECT_THROW(P::AddYearToDate_YYYYMMDD(csJalali, 1403, "1/1"), std::runtime_error);
  EXPECT_EQ(MessageOf<EYearValidationException>(
                [] { P::AddYearToDate_YYYYMMDD(csJalali, 1600, "01/01"); }),
            "Year should be in YYYY format and in range [1206..1498]. (Year_YYYY: \"1600\")");
}

TEST(DateParser, YearLists) {
  EXPECT_EQ(P::GetYearListYearsCount("979899"), 3);
  EXPECT_EQ(P::GetYearListYearsCount_YYYY("  13981399  "), 2);
  EXPECT_EQ(P::GetYearListYearsCount("  1399  "), 2);
  EXPECT_EQ(P::GetYearListMaxIndex(""), -1);
  EXPECT_EQ(P::GetYearListMaxIndex_YYYY("13981399"), 1);
  EXPECT_EQ(P::GetYearOfYearList_YY("979899", 1), "98");
  EXPECT_EQ(P::GetYearOfYearList_YYYY("13981399", 1), "1399");
  EXPECT_EQ(P::GetYearListFirstYear_YY("979899"), "97");
  EXPECT_EQ(P::GetYearListLastYear_YY("979899"), "99");
  EXPECT_EQ(P::GetYearListFirstYear_YYYY("13981399"), "1398");
  EXPECT_EQ(P::GetYearListLastYear_YYYY("13981399"), "1399");
  EXPECT_EQ(P::YearExistInYearList("979899", 1399), 2);
  EXPECT_EQ(P::YearExistInYearList("9899", 1400), -1);
  EXPECT_THROW(P::YearExistInYearList("9899", 1600), EYearValidationException);
}

}  // namespace
}  // namespace zel::dates
