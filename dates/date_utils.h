// Calendar arithmetic over the fixed-width date texts: leap years, month and year lengths,
// day-of-year numbering, stepping by N days, first and last dates, comparisons and ranges,
// day of the week, and Jalali/Gregorian conversion. Stateless class-level operations; any
// thread may call them. Failures are exceptions (messages as the callers log them).
#pragma once

#include <cstdint>
#include <string>

#include "dates/date_parser.h"
#include "dates/date_time.h"

namespace zel::dates {

enum TDateComparisonOperator : std::uint8_t {
  coEqual = 0,
  coNotEqual,
  coLesserEqual,
  coLesser,
  coGreaterEqual,
  coGreater,
};

class TJalaliDateUtils {
 public:
  TJalaliDateUtils() = delete;

  // Raises the year-range exception outside 1206..1498, then applies the 33-year rule.
  static bool IsLeapYear(int AYear_YYYY);
  static int DaysInAYear(int AYear_YYYY);
  // Raises "Month should be in range [1..12]. (Month: %d)" for another month.
  static int DaysInAMonth(int Month, int AYear_YYYY);
  static int DayOfTheYear(const std::string& Date_MMDD);
  // "MM/DD" of a day number 1..366; raises "Day of the year is out of range! (%d)" otherwise.
  static std::string EncodeDateDay_MMDD(int ADayOfTheYear);
  static std::string EncodeDateDay_YYYYMMDD(int AYear_YYYY, int ADayOfTheYear);
  static std::string LastDateOfMonth_MMDD(int Month, int Year_YYYY);
  static std::string LastDateOfYear_MMDD(int AYear_YYYY);
  static std::string LastDateOfYear_MMDD(bool IsLeapYear);
  static std::string LastDateOfYear_YYYYMMDD(int AYear_YYYY);
  // Inclusive day count inside one year.
  static int DaysBetween(const std::string& FromDate_MMDD, const std::string& ToDate_MMDD);
  // Inclusive day count across years; raises the range message when from is after to.
  static int DaysBetweenWithYear(const std::string& FromDate_MMDD, const std::string& ToDate_MMDD,
                                 int FromYear_YYYY, int ToYear_YYYY);
  // The next / previous day without leaving the year.
  static std::string NextDateInYear_MMDD(int AYear_YYYY, const std::string& Date_MMDD);
  static std::string PrevDateInYear_MMDD(int AYear_YYYY, const std::string& Date_MMDD);
  // Stepping across years. Raise "N should not be negative" and "Date is out of year!".
  static void GetNextDate(int Year_YYYY, const std::string& Date_MMDD, int& Result_YYYY,
                          std::string& Result_MMDD);
  static void GetPrevDate(int Year_YYYY, const std::string& Date_MMDD, int& Result_YYYY,
                          std::string& Result_MMDD);
  static void GetNDatesAfter(int Year_YYYY, const std::string& Date_MMDD, int N, int& Result_YYYY,
                             std::string& Result_MMDD);
  static void GetNDatesBefore(int Year_YYYY, const std::string& Date_MMDD, int N, int& Result_YYYY,
                              std::string& Result_MMDD);
  static void GetNDatesFrom(int Year_YYYY, const std::string& Date_MMDD, int N, int& Result_YYYY,
                            std::string& Result_MMDD);
  // ISO weekday (1 Monday ... 7 Sunday) of a Jalali "YYYY/MM/DD".
  static int DayOfTheWeek(const std::string& Date_YYYYMMDD);
  static bool IsWeekend(const std::string& Date_YYYYMMDD);  // Friday
  static std::string Today_YYYYMMDD();
  static std::string Today_MMDD();
};

class TGregorianDateUtils {
 public:
  TGregorianDateUtils() = delete;

  static bool IsLeapYear(int AYear_YYYY);
  static int DaysInAYear(int AYear_YYYY);
  // Serial day of a Gregorian "YYYY/MM/DD"; an impossible date raises EConvertError.
  static DateTime ConverToDate_YYYYMMDD(const std::string& Date_YYYYMMDD);
  // The date plus the time of hours and minutes and one second.
  static DateTime ConverToDateTime_YYYYMMDDHHNN(const std::string& Date_YYYYMMDD,
                                                const std::string& Time_HHNN);
  // The date plus the time of hours, minutes, seconds and ten milliseconds.
  static DateTime ConverToDateTime_YYYYMMDDHHNNSS(const std::string& Date_YYYYMMDD,
                                                  const std::string& Time_HHNNSS);
  static int DayOfTheWeek(const std::string& Date_YYYYMMDD);
  static bool IsWeekend(const std::string& Date_YYYYMMDD);
  static int DayOfTheYear(int Year_YYYY, const std::string& Date_MMDD);
  static std::string EncodeDateDay_MMDD(int Year_YYYY, int ADayOfTheYear);
  static std::string EncodeDateDay_YYYYMMDD(int AYear_YYYY, int ADayOfTheYear);
  static std::string LastDateOfMonth_MMDD(int Month, int Year_YYYY);
  static std::string LastDateOfYear_MMDD(int AYear_YYYY);
  static std::string LastDateOfYear_YYYYMMDD(int AYear_YYYY);
  static void GetNextDate(int Year_YYYY, const std::string& Date_MMDD, int& Result_YYYY,
                          std::string& Result_MMDD);
  static void GetPrevDate(int Year_YYYY, const std::string& Date_MMDD, int& Result_YYYY,
                          std::string& Result_MMDD);
  static void GetNDatesAfter(int Year_YYYY, const std::string& Date_MMDD, int N, int& Result_YYYY,
                             std::string& Result_MMDD);
  static void GetNDatesBefore(int Year_YYYY, const std::string& Date_MMDD, int N, int& Result_YYYY,
                              std::string& Result_MMDD);
  static void GetNDatesFrom(int Year_YYYY, const std::string& Date_MMDD, int N, int& Result_YYYY,
                            std::string& Result_MMDD);
  static std::string Today_MMDD();
  static std::string Today_YYYYMMDD();
};

class TGeneralDateUtils {
 public:
  TGeneralDateUtils() = delete;

  static int DayOfTheWeek(TCalendarSystem Calendar, const std::string& Date_YYYYMMDD);
  static bool IsWeekend(TCalendarSystem Calendar, const std::string& Date_YYYYMMDD);
  // Jalali takes no year (the day number does not depend on it); Gregorian needs it.
  static int DayOfTheYear(TCalendarSystem Calendar, int Year_YYYY, const std::string& Date_MMDD);
  static int DaysInAYear(TCalendarSystem Calendar, int AYear_YYYY);
  static std::string EncodeDateDay_MMDD(TCalendarSystem Calendar, int Year_YYYY, int ADayOfTheYear);
  static std::string EncodeDateDay_YYYYMMDD(TCalendarSystem Calendar, int AYear_YYYY,
                                            int ADayOfTheYear);
  static void GetNextDate(TCalendarSystem Calendar, int Year_YYYY, const std::string& Date_MMDD,
                          int& Result_YYYY, std::string& Result_MMDD);
  static void GetPrevDate(TCalendarSystem Calendar, int Year_YYYY, const std::string& Date_MMDD,
                          int& Result_YYYY, std::string& Result_MMDD);
  static void GetNDatesAfter(TCalendarSystem Calendar, int Year_YYYY, const std::string& Date_MMDD,
                             int N, int& Result_YYYY, std::string& Result_MMDD);
  static void GetNDatesBefore(TCalendarSystem Calendar, int Year_YYYY, const std::string& Date_MMDD,
                              int N, int& Result_YYYY, std::string& Result_MMDD);
  static void GetNDatesFrom(TCalendarSystem Calendar, int Year_YYYY, const std::string& Date_MMDD,
                            int N, int& Result_YYYY, std::string& Result_MMDD);
  static std::string Today_MMDD(TCalendarSystem Calendar);
  static std::string Today_YYYYMMDD(TCalendarSystem Calendar);
  static std::string LastDateOfYear_YYYYMMDD(TCalendarSystem Calendar, int AYear_YYYY);
  static std::string LastDateOfYear_MMDD(TCalendarSystem Calendar, int AYear_YYYY);
  static std::string FirstDateOfYear_YYYYMMDD(TCalendarSystem Calendar, int AYear_YYYY);
  static std::string FirstDateOfMonth_MMDD(int Month);
  static bool IsLastDayOfYear(TCalendarSystem Calendar, int Year_YYYY, int Month, int Day);
  static std::string MinValidDate_YYYYMMDD(TCalendarSystem Calendar);
  static std::string MaxValidDate_YYYYMMDD(TCalendarSystem Calendar);
  // Year + N; both years must lie in the calendar's valid range.
  static int GetNYearsFrom_YYYY(TCalendarSystem Calendar, int N, int AYrear_YYYY);
  static int GetNextYear_YYYY(TCalendarSystem Calendar, int AYear_YYYY);
  static int GetPrevYear_YYYY(TCalendarSystem Calendar, int AYear_YYYY);

  // Comparison results: -1 first is earlier, 0 same, 1 first is later.
  static bool MatchComparisonResult(TDateComparisonOperator ComparisonOperator,
                                    int ComparisonResult);
  static int CompareDates(TCalendarSystem Calendar, const std::string& Date1_MMDD,
                          const std::string& Date2_MMDD, int Year1_YYYY, int Year2_YYYY);
  static bool CompareDates(TCalendarSystem Calendar, const std::string& Date1_MMDD,
                           const std::string& Date2_MMDD, int Year1_YYYY, int Year2_YYYY,
                           TDateComparisonOperator ComparisonOperator);
  static int CompareDateTimes(TCalendarSystem Calendar, const std::string& Date1_MMDD,
                              const std::string& Time1_HHNN, const std::string& Date2_MMDD,
                              const std::string& Time2_HHNN, int Year1_YYYY, int Year2_YYYY);
  static bool CompareDateTimes(TCalendarSystem Calendar, const std::string& Date1_MMDD,
                               const std::string& Time1_HHNN, const std::string& Date2_MMDD,
                               const std::string& Time2_HHNN, int Year1_YYYY, int Year2_YYYY,
                               TDateComparisonOperator ComparisonOperator);
  // Raises "FromDate is greater than ToDate! FromDate:%d/%s, ToDate:%d/%s, AllowEqual:%s".
  static void CheckDateRange(TCalendarSystem Calendar, const std::string& FromDate_MMDD,
                             const std::string& ToDate_MMDD, int FromYear_YYYY, int ToYear_YYYY,
                             bool AllowEqualDates);
  static bool DateInRange(TCalendarSystem Calendar, const std::string& FromDate_MMDD,
                          const std::string& ToDate_MMDD, const std::string& Date_MMDD,
                          int FromYear_YYYY, int ToYear_YYY, int Year_YYYY);

  // Years from 1500 are Gregorian, below Jalali; the year must then be in that calendar's range.
  static TCalendarSystem GetCalendarSystem_YYYY_Int(int YYYY);
  static TCalendarSystem GetCalendarSystem_YYYY(const std::string& YYYY);
  static TCalendarSystem GetCalendarSystem_YYYYMMDD(const std::string& YYYYMMDD);
  static std::string ForceCalendarSystem_YYYYMMDD(TCalendarSystem DesiredSystem,
                                                  const std::string& YYYYMMDD);

  static DateTime JalaliToGregorian(int Y, int M, int D);
  static std::string JalaliToGregorian_YYYYMMDD(int Y, int M, int D);
  static std::string JalaliToGregorian_YYYYMMDD(const std::string& Jalali_YYYYMMDD);
  static std::string GregorianToJalali_YYYYMMDD(DateTime ADate);
  static std::string GregorianToJalali_YYYYMMDD(const std::string& Gregorian_YYYYMMDD);
};

}  // namespace zel::dates
