#include "dates/zel_calc_utils.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "dates/clock.h"
#include "dates/date_utils.h"
#include "dates/jalali.h"
#include "util/log_file.h"

namespace zel::dates {
namespace {

using U = TZelCalcUtils;

template <class E>
std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

TEST(CalcLeapRule, FourYearRuleThenThirtyThreeYearRule) {
  struct Case {
    int year;
    bool leap;
  } cases[] = {{1300, false}, {1371, true},  {1375, true},  {1398, false}, {1399, true},
               {1403, true},  {1404, false}, {1406, false}, {1407, false}, {1408, true},
               {1412, true},  {1416, true},  {1420, true},  {1424, true},  {1428, true},
               {1432, true},  {1433, false}, {1436, true},  {1437, false}, {1441, true},
               {1498, true}};
  for (const Case& c : cases) EXPECT_EQ(U::IsLLeapYear(c.year), c.leap) << c.year;
  // From 1375 on the calculation rule and the calendar's 33-year rule agree.
  for (int year = 1375; year <= 1600; ++year) {
    ASSERT_EQ(U::IsLLeapYear(year), IsJalaliLeapYear(year)) << year;
  }
  EXPECT_EQ(MessageOf<std::runtime_error>([] { U::IsLLeapYear(1299); }),
            "TZelCalcUtils.IsLLeapYear just accepts years in YYYY format!");
}

TEST(CalcLeapRule, YearLengthsAfter1406) {
  EXPECT_EQ(U::DaysOfYear(1407), 365);
  EXPECT_EQ(U::DaysOfYear(1408), 366);
  EXPECT_EQ(U::LastDateOfYear_MMDD(1407), "12/29");
  EXPECT_EQ(U::LastDateOfYear_YYYYMMDD(1408), "1408/12/30");
  EXPECT_EQ(U::DaysInMonthY(12, "1408"), 30);
  EXPECT_EQ(U::IncDateH("", "12/29", "1408"), "12/30");
  EXPECT_EQ(U::DaysCountInBetweenWithYear("12/28", "01/01", 1407, 1408), 3);
  EXPECT_EQ(U::DaysCountInBetweenWithYear("12/28", "01/01", 1408, 1409), 4);
  int y = 0;
  std::string d;
  U::GetNDatesAfter(1407, "12/29", 1, y, d);
  EXPECT_EQ(std::to_string(y) + "/" + d, "1408/01/01");
  U::GetNDatesBefor(1409, "01/01", 1, y, d);
  EXPECT_EQ(std::to_string(y) + "/" + d, "1408/12/30");
}

TEST(CalcTimeTexts, MinutesOfTexts) {
  struct Case {
    const char* text;
    int minutes;
  } amounts[] = {{"012:30", 750}, {"000:00", 0}, {"100:05", 6005}, {"", 0}, {"  8:15", 495}};
  for (const auto& c : amounts) EXPECT_EQ(U::Text2Time(c.text), c.minutes) << c.text;
  EXPECT_THROW(U::Text2Time("12:30"), EConvertError);
  EXPECT_THROW(U::Text2Time("0a2:30"), EConvertError);
  EXPECT_EQ(U::Text2Time2("07:05"), 425);
  EXPECT_EQ(U::Text2Time2("23:59"), 1439);
  EXPECT_EQ(U::Text2Time2(""), 0);
  EXPECT_THROW(U::Text2Time2("7:05"), EConvertError);
  struct Text {
    int minutes;
    const char* text;
  } texts[] = {{0, "00:00"}, {-75, "-01:15"}, {6000, "100:00"}, {59, "00:59"}, {1439, "23:59"}};
  for (const auto& t : texts) EXPECT_EQ(U::Time2Text2(t.minutes), t.text) << t.minutes;
}

TEST(CalcTimeTexts, DecValueCancelsTheSmaller) {
  struct Case {
    int a, b, a_after, b_after;
  } cases[] = {{90, 30, 60, 0}, {30, 90, 0, 60}, {0, 90, 0, 90}, {90, 0, 90, 0}, {45, 45, 0, 0}};
  for (const Case& c : cases) {
    int a = c.a;
    int b = c.b;
    U::DecValue(a, b);
    EXPECT_EQ(a, c.a_after) << c.a << "," << c.b;
    EXPECT_EQ(b, c.b_after) << c.a << "," << c.b;
  }
  EXPECT_EQ(U::Min(3, -2), -2);
  EXPECT_EQ(U::Max(3, -2), 3);
}

TEST(CalcTimeTexts, MinutesBetweenMomentsOfOneYear) {
  struct Case {
    const char* a_date;
    const char* a_time;
    const char* b_date;
    const char* b_time;
    int amount;
    int subtract;
  } cases[] = {
      {"01/01", "23:50", "01/02", "00:10", 20, 20},
      {"01/02", "00:10", "01/01", "23:50", 20, 20},
      {"06/31", "23:00", "07/01", "01:00", 120, 120},
      {"12/29", "08:00", "01/01", "08:00", 364 * 1440, 364 * 1440},
      {"01/01", "23:50", "01/02", "", 0, 0},
      {"01/01", "23:50", "/", "00:10", 0, 0},
      {"01/01", ":", "01/02", "00:10", 0, 0},
      {" 01/01 ", "23:50", "01/02", "00:10", 20, 20},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(U::AmountDateTime(c.a_date, c.a_time, c.b_date, c.b_time), c.amount)
        << c.a_date << " " << c.a_time << " / " << c.b_date << " " << c.b_time;
    EXPECT_EQ(U::SubtractDateTime(c.a_date, c.a_time, c.b_date, c.b_time), c.subtract)
        << c.a_date << " " << c.a_time << " / " << c.b_date << " " << c.b_time;
  }
  // A time of the wrong length: the strict form gives 0, the other cannot read it.
  EXPECT_EQ(U::SubtractDateTime("01/01", "23:50", "01/02", "0:10"), 0);
  EXPECT_THROW(U::AmountDateTime("01/01", "23:50", "01/02", "0:10"), EConvertError);
}

TEST(CalcTimeTexts, ChangeDateTimeCarriesAcrossDaysMonthsAndYears) {
  struct Case {
    const char* moment;
    int delta;
    const char* expected;
  } cases[] = {
      {"1399/05/1010:00", 0, "1399/05/1010:00"},
      {"1399/05/1010:00", 45, "1399/05/1010:45"},
      {"1399/05/1010:30", 45, "1399/05/1011:15"},
      {"1399/05/1010:30", -45, "1399/05/1009:45"},
      {"1399/05/1023:30", 60, "1399/05/1100:30"},
      {"1399/06/3123:30", 60, "1399/07/0100:30"},
      {"1399/07/0100:10", -20, "1399/06/3123:50"},
      {"1399/01/0100:00", 3 * 1440 + 125, "1399/01/0402:05"},
      // Month 12 has 30 days when the year modulo 4 is 2, else 29.
      {"1383/12/2923:30", 60, "1384/01/0100:30"},
      {"1382/12/2923:30", 60, "1382/12/3000:30"},
      {"1382/12/3023:30", 60, "1383/01/0100:30"},
      {"1383/01/0100:00", -1440, "1382/12/3000:00"},
      {"1384/01/0100:00", -1440, "1383/12/2900:00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(U::ChangeDateTime(c.moment, c.delta), c.expected) << c.moment << " " << c.delta;
  }
}

TEST(CalcDates, DayNumbers) {
  struct Case {
    const char* date;
    int day;
  } cases[] = {{"01/01", 1}, {"06/31", 186}, {"07/01", 187}, {"08/01", 217}, {"12/30", 366}};
  for (const Case& c : cases) {
    EXPECT_EQ(U::Date2Day(c.date), c.day) << c.date;
    EXPECT_EQ(U::Day2Date(c.day), c.date) << c.day;
    EXPECT_EQ(U::DayToDate_MMDD(c.day), c.date) << c.day;
  }
  EXPECT_EQ(U::DaysInBetween("06/30", "07/02"), 4);
  EXPECT_EQ(U::DaysCountInBetweenWithYear("12/28", "01/01", 1398, 1399), 3);
  EXPECT_EQ(U::DaysCountInBetweenWithYear("12/28", "01/01", 1399, 1400), 4);
  EXPECT_EQ(U::DaysCountInBetweenWithYear("01/01", "12/29", 1398, 1400), 365 + 366 + 365);
  EXPECT_EQ(MessageOf<std::runtime_error>(
                [] { U::DaysCountInBetweenWithYear("01/01", "12/28", 1399, 1398); }),
            "FromDate is greater than ToDate! FromDate:1399/01/01, ToDate:1398/12/28, "
            "AllowEqual:True");
  EXPECT_EQ(U::DaysInMonthY(6, "junk"), 31);  // the year is read only for month 12
  EXPECT_EQ(U::DaysInMonthY(12, "1398"), 29);
  EXPECT_EQ(U::FirstDateOfMonth_MMDD(7), "07/01");
  EXPECT_EQ(U::LastDateOfMonth_MMDD(12, 1403), "12/30");
  EXPECT_EQ(U::LastDateOfMonth_MMDD(7, 1403), "07/30");
  EXPECT_EQ(U::FirstDateOfYear_YYYYMMDD(1403), "1403/01/01");
  EXPECT_EQ(U::FirstDateOfYear_YYMMDD(1403), "1403/01/01");
  EXPECT_EQ(U::LastDateOfYear_YYMMDD(1399), "1399/12/30");
  EXPECT_EQ(U::LastDateOfYear_MMDD(false), "12/29");
  EXPECT_THROW(U::FirstDateOfYear_YYYYMMDD(1299), std::runtime_error);
  EXPECT_THROW(U::LastDateOfYear_MMDD(1299), std::runtime_error);
}

TEST(CalcDates, IncAndDecInsideTheYear) {
  struct Case {
    const char* date;
    const char* year;
    const char* next;
    const char* prev;
  } cases[] = {{"12/29", "1399", "12/30", "12/28"}, {"12/29", "1398", "12/29", "12/28"},
               {"12/30", "1399", "12/30", "12/29"}, {"06/31", "1399", "07/01", "06/30"},
               {"07/01", "1399", "07/02", "06/31"}, {"01/01", "1399", "01/02", "01/01"},
               {"12/01", "1398", "12/02", "11/30"}, {"11/30", "1398", "12/01", "11/29"}};
  for (const Case& c : cases) {
    EXPECT_EQ(U::IncDateH("0", c.date, c.year), c.next) << c.date << " " << c.year;
    EXPECT_EQ(U::DecDateH("0", c.date, c.year), c.prev) << c.date << " " << c.year;
  }
}

TEST(CalcDates, ListsOfDates) {
  EXPECT_EQ(U::ListAllDatesInBetween("06/30", "07/02", false, 1399),
            (std::vector<std::string>{"06/30", "06/31", "07/01", "07/02"}));
  EXPECT_EQ(U::ListAllDatesInBetween("06/30", "07/02", true, 1399),
            (std::vector<std::string>{"1399/06/30", "1399/06/31", "1399/07/01", "1399/07/02"}));
  EXPECT_EQ(U::ListAllDatesInBetween("06/30", "07/02", true, 0).front(), "06/30");
  EXPECT_EQ(
      MessageOf<std::runtime_error>([] { U::ListAllDatesInBetween("07/02", "06/30", false, 0); }),
      "Invalid input!");
  EXPECT_THROW(U::ListAllDatesInBetween("01/01", "01/02", true, 1600), EYearValidationException);

  EXPECT_EQ(U::ListAllDatesInBetweenWithYear("12/29", "01/02", 1399, 1400, true),
            (std::vector<std::string>{"1399/12/29", "1399/12/30", "1400/01/01", "1400/01/02"}));
  EXPECT_EQ(U::ListAllDatesInBetweenWithYear("12/29", "01/01", 1398, 1399, false),
            (std::vector<std::string>{"12/29", "01/01"}));
  EXPECT_EQ(U::ListAllDatesInBetweenWithYear("12/29", "01/01", 1398, 1400, true).size(),
            1u + 366 + 1);
  EXPECT_THROW(U::ListAllDatesInBetweenWithYear("01/01", "12/29", 1400, 1399, true),
               std::runtime_error);
  EXPECT_EQ(U::ListDaysOfAllDatesInBetweenWithYear("12/29", "01/02", 1399, 1400),
            (std::vector<int>{29, 30, 1, 2}));
  EXPECT_EQ(U::ListMonthsOfAllDatesInBetweenWithYear("12/29", "01/02", 1399, 1400),
            (std::vector<int>{12, 12, 1, 1}));
  EXPECT_EQ(U::ListYearsOfAllDatesInBetweenWithYear("12/29", "01/02", 1399, 1400),
            (std::vector<int>{1399, 1399, 1400, 1400}));
}

TEST(CalcDates, ComparisonsAndRanges) {
  EXPECT_EQ(U::CompareDates("12/30", "01/01", 1399, 1400), crLesser);
  EXPECT_EQ(U::CompareDates("05/05", "05/05", 1400, 1400), crEqual);
  EXPECT_EQ(U::CompareDates("05/06", "05/05", 1400, 1400), crGreater);
  EXPECT_TRUE(U::CompareDates("05/05", "05/05", 1400, 1400, coLesserEqual));
  EXPECT_FALSE(U::CompareDates("05/05", "05/05", 1400, 1400, coNotEqual));
  EXPECT_EQ(U::CompareDateTimes("05/05", "10:00", "05/05", "09:00", 1400, 1400), crGreater);
  EXPECT_TRUE(U::CompareDateTimes("05/05", "08:00", "05/05", "09:00", 1400, 1400, coLesser));
  // The calculation checks accept any year from 1300 without an upper bound.
  EXPECT_EQ(U::CompareDates("01/01", "01/01", 1600, 1599), crGreater);
  EXPECT_THROW(U::CompareDates("01/01", "01/01", 1299, 1300), std::runtime_error);
  EXPECT_THROW(U::CompareDates("1/01", "01/01", 1400, 1400), std::runtime_error);
  struct OpCase {
    TDateComparisonOperator op;
    bool lesser, equal, greater;
  } ops[] = {{coEqual, false, true, false},       {coNotEqual, true, false, true},
             {coLesserEqual, true, true, false},  {coLesser, true, false, false},
             {coGreaterEqual, false, true, true}, {coGreater, false, false, true}};
  for (const OpCase& o : ops) {
    EXPECT_EQ(U::MatchComparisonResult(o.op, crLesser), o.lesser);
    EXPECT_EQ(U::MatchComparisonResult(o.op, crEqual), o.equal);
    EXPECT_EQ(U::MatchComparisonResult(o.op, crGreater), o.greater);
  }
  EXPECT_EQ(
      MessageOf<std::runtime_error>([] { U::CheckDateRange("05/05", "05/05", 1400, 1400, false); }),
      "FromDate is greater than ToDate! FromDate:1400/05/05, ToDate:1400/05/05, "
      "AllowEqual:False");
  EXPECT_TRUE(U::DateInRange("12/01", "01/31", "01/01", 1399, 1400, 1400));
  EXPECT_FALSE(U::DateInRange("12/01", "01/31", "01/01", 1399, 1400, 1401));
}

TEST(CalcDates, SteppingOneDayAtATime) {
  struct Case {
    int year;
    const char* date;
    int n;
    int result_year;
    const char* result_date;
  } cases[] = {{1399, "12/30", 1, 1400, "01/01"}, {1398, "12/29", 1, 1399, "01/01"},
               {1399, "06/31", 1, 1399, "07/01"}, {1399, "01/01", 366, 1400, "01/01"},
               {1399, "05/05", 0, 1399, "05/05"}, {1403, "12/29", 2, 1404, "01/01"}};
  for (const Case& c : cases) {
    int y = 0;
    std::string d;
    U::GetNDatesAfter(c.year, c.date, c.n, y, d);
    EXPECT_EQ(std::to_string(y) + "/" + d, std::to_string(c.result_year) + "/" + c.result_date);
    U::GetNDatesFrom(y, d, -c.n, y, d);
    EXPECT_EQ(std::to_string(y) + "/" + d, std::to_string(c.year) + "/" + c.date);
  }
  int y = 0;
  std::string d;
  U::GetNextDate(1399, "12/29", y, d);
  EXPECT_EQ(d, "12/30");
  U::GetPrevDate(1400, "01/01", y, d);
  EXPECT_EQ(std::to_string(y) + "/" + d, "1399/12/30");
  EXPECT_EQ(MessageOf<std::runtime_error>([&] { U::GetNDatesAfter(1399, "01/01", -1, y, d); }),
            "N should not be negative");
  EXPECT_EQ(MessageOf<std::runtime_error>([&] { U::GetNDatesBefor(1398, "12/30", 1, y, d); }),
            "Date is out of year!");
  EXPECT_EQ(MessageOf<std::runtime_error>([&] { U::GetNDatesAfter(1399, "07/31", 1, y, d); }),
            "Date is out of year!");
  EXPECT_EQ(MessageOf<std::runtime_error>([&] { U::GetNDatesBefor(1300, "01/01", 1, y, d); }),
            "TZelCalcUtils.IsLLeapYear just accepts years in YYYY format!");
}

TEST(CalcConversions, SolarToChristianAgreesWithTheCalendar) {
  EXPECT_EQ(U::SolarToChristian(1399, 1, 1), "2020/03/20");
  EXPECT_EQ(U::SolarToChristian(1399, 12, 30), "2021/03/20");
  EXPECT_EQ(U::SolarToChristian(1408, 1, 1), "2029/03/20");
  EXPECT_EQ(U::SolarToChristianDate(1399, 1, 1), 43910);
  // Years after 1406 no longer raise; the conversion agrees with the arithmetic core.
  for (int year = 1376; year <= 1474; ++year) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= JalaliMonthDays(year, month); ++day) {
        ASSERT_EQ(U::SolarToChristianDate(year, month, day), EncodeJalaliDate(year, month, day))
            << year << "/" << month << "/" << day;
      }
    }
  }
  EXPECT_TRUE(U::ChristianLeapYear(2000));
  EXPECT_FALSE(U::ChristianLeapYear(2100));
  EXPECT_EQ(U::DayOfWeek("1399/01/01"), 5);
  EXPECT_EQ(U::DayOfWeek("1408/01/01"), 2);  // 2029-03-20, a Tuesday
  EXPECT_EQ(U::ConciseDateStr(43910.5), "1399/01/01");
  EXPECT_EQ(U::ConciseDateStr(EncodeDate(2021, 3, 20)), "1399/12/30");
  const TDate date = U::GetDateFromCalcUnit(7, 1);
  EXPECT_EQ(date, (TDate{7, 1}));
  EXPECT_EQ(U::GetDateStrFromCalcUnit(date), "07/01");
}

TEST(CalcOther, StringsAndNames) {
  EXPECT_EQ(U::DataBaseNameOfYearYYYY("Korlan", 1399), "Korlan_1399");
  EXPECT_EQ(U::IIF(true, "a", "b"), "a");
  EXPECT_EQ(U::IIF(false, "a", "b"), "b");
  EXPECT_EQ(U::SRepeat('-', 3), "---");
  EXPECT_EQ(U::SRepeat('-', 0), "");
  EXPECT_EQ(U::SLPadC("1001", 10, ' '), "      1001");
  EXPECT_EQ(U::SLPadC("12345678901", 10, ' '), "12345678901");
  EXPECT_FALSE(U::GetHostName().empty());
}

TEST(CalcOther, TodayReadsTheProcessClock) {
  SetNowJalali("1403/12/30 08:00", true);
  EXPECT_EQ(U::Today_YYYYMMDD(), "1403/12/30");
  EXPECT_EQ(U::Today_MMDD(), "12/30");
  ResetNow();
}

// A home folder of its own and a fixed clock for the log writer.
class CalcLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zel_calc_log_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home_ = pattern;
    util::SetHomeFolder(home_);
    SetNowJalali("1399/08/03 14:05", true);
  }
  void TearDown() override {
    ResetNow();
    util::SetHomeFolder("");
    std::filesystem::remove_all(home_);
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(home_ + "/Logs/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string home_;
};

TEST_F(CalcLogTest, EnableLogGatesProgressLinesOnly) {
  TZelCalcUtils utils(3);
  EXPECT_FALSE(utils.EnableLog());
  utils.LogText("progress", "Thread1001");              // IsEnableLog true, EnableLog off
  utils.LogText("failure", "Thread1001", true, false);  // always written
  utils.SetEnableLog(true);
  utils.LogText("progress on", "Thread1001");
  utils.LogText("bare", "Thread1001", false, true);
  EXPECT_EQ(utils.LogFileNameOf("Thread1001"), "Thread1001(1399-08-03)_T3.Log");
  EXPECT_EQ(Read("Thread1001(1399-08-03)_T3.Log"),
            "1399/08/03 14:05:00 : failure\n"
            "1399/08/03 14:05:00 : progress on\n"
            "bare\n");
}

TEST_F(CalcLogTest, ThreadNumbersAndDaysGetFilesOfTheirOwn) {
  TZelCalcUtils manager(0);
  TZelCalcUtils worker(2);
  manager.LogText("m", "Log", true, false);
  worker.LogText("w", "log", true, false);
  SetNowJalali("1399/08/04 00:00", true);
  manager.LogText("next day", "LOG", true, false);
  EXPECT_EQ(Read("Log(1399-08-03)_T0.Log"), "1399/08/03 14:05:00 : m\n");
  EXPECT_EQ(Read("log(1399-08-03)_T2.Log"), "1399/08/03 14:05:00 : w\n");
  EXPECT_EQ(Read("LOG(1399-08-04)_T0.Log"), "1399/08/04 00:00:00 : next day\n");
}

TEST_F(CalcLogTest, NeverRaisesAndFallsBackToTheHomeFolder) {
  // Logs is a plain file: the folder cannot be created, the line goes to the home folder.
  { std::ofstream(home_ + "/Logs") << "not a folder"; }
  TZelCalcUtils utils(1);
  EXPECT_NO_THROW(utils.LogText("here", "Err", true, false));
  std::ifstream in(home_ + "/Err(1399-08-03)_T1.Log");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "1399/08/03 14:05:00 : here");
  // A home folder that does not exist and cannot be made: nothing is written, nothing raised.
  util::SetHomeFolder("/proc/zel-no-such-folder");
  EXPECT_NO_THROW(utils.LogText("lost", "Err", true, false));
}

}  // namespace
}  // namespace zel::dates
