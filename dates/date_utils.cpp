#include "dates/date_utils.h"

#include <stdexcept>

#include "dates/clock.h"
#include "dates/jalali.h"
#include "dates/jalali_day.h"

namespace zel::dates {
namespace {

using P = TZELDateParser;
using YC = TZELYearConversion;

void CheckNotNegative(int n) {
  if (n < 0) throw std::runtime_error("N should not be negative");
}

std::string Gregorian_YYYYMMDD(DateTime serial) {
  int y = 0;
  int m = 0;
  int d = 0;
  DecodeDate(serial, y, m, d);
  return PadNumber(y, 4) + "/" + PadNumber(m, 2) + "/" + PadNumber(d, 2);
}

// Serial day of a Gregorian year and "MM/DD".
DateTime GregorianSerial(int year, const std::string& date_mmdd) {
  int m = 0;
  int d = 0;
  P::Parse_MMDD(date_mmdd, m, d);
  return EncodeDate(year, m, d);
}

void SplitGregorian(DateTime serial, int& year, std::string& mmdd) {
  int m = 0;
  int d = 0;
  DecodeDate(serial, year, m, d);
  mmdd = P::Format_MMDD(m, d);
}

[[noreturn]] void UnsupportedCalendar(TCalendarSystem calendar) {
  CheckCalendarSystem(calendar);
  throw std::runtime_error("Unsupported calendar system! (" + CalendarSystemName(calendar) + ")");
}

}  // namespace

// ---------------- TJalaliDateUtils ----------------

bool TJalaliDateUtils::IsLeapYear(int AYear_YYYY) {
  YC::CheckYearRange(csJalali, AYear_YYYY);
  return IsJalaliLeapYear(AYear_YYYY);
}

int TJalaliDateUtils::DaysInAYear(int AYear_YYYY) { return IsLeapYear(AYear_YYYY) ? 366 : 365; }

int TJalaliDateUtils::DaysInAMonth(int Month, int AYear_YYYY) {
  if (Month < 1 || Month > 12) {
    throw std::runtime_error("Month should be in range [1..12]. (Month: " + std::to_string(Month) +
                             ")");
  }
  // The year's range is checked only where it matters, for month 12.
  return JalaliMonthLength(Month, Month == 12 && IsLeapYear(AYear_YYYY));
}

int TJalaliDateUtils::DayOfTheYear(const std::string& Date_MMDD) {
  int m = 0;
  int d = 0;
  P::Parse_MMDD(Date_MMDD, m, d);
  return m <= 7 ? (m - 1) * 31 + d : m * 30 + d - 24;
}

std::string TJalaliDateUtils::EncodeDateDay_MMDD(int ADayOfTheYear) {
  if (ADayOfTheYear < 1 || ADayOfTheYear > 366) {
    throw std::runtime_error("Day of the year is out of range! (" + std::to_string(ADayOfTheYear) +
                             ")");
  }
  const int n = ADayOfTheYear;
  if (n - 1 > 186) return P::Format_MMDD((n - 187) / 30 + 7, (n - 187) % 30 + 1);
  return P::Format_MMDD((n - 1) / 31 + 1, (n - 1) % 31 + 1);
}

std::string TJalaliDateUtils::EncodeDateDay_YYYYMMDD(int AYear_YYYY, int ADayOfTheYear) {
  return P::AddYearToDate_YYYYMMDD(csJalali, AYear_YYYY, EncodeDateDay_MMDD(ADayOfTheYear));
}

std::string TJalaliDateUtils::LastDateOfMonth_MMDD(int Month, int Year_YYYY) {
  return P::Format_MMDD(Month, DaysInAMonth(Month, Year_YYYY));
}

std::string TJalaliDateUtils::LastDateOfYear_MMDD(int AYear_YYYY) {
  return LastDateOfYear_MMDD(IsLeapYear(AYear_YYYY));
}

std::string TJalaliDateUtils::LastDateOfYear_MMDD(bool IsLeapYear) {
  return IsLeapYear ? "12/30" : "12/29";
}

std::string TJalaliDateUtils::LastDateOfYear_YYYYMMDD(int AYear_YYYY) {
  return P::AddYearToDate_YYYYMMDD(csJalali, AYear_YYYY, LastDateOfYear_MMDD(AYear_YYYY));
}

int TJalaliDateUtils::DaysBetween(const std::string& FromDate_MMDD,
                                  const std::string& ToDate_MMDD) {
  return DayOfTheYear(ToDate_MMDD) - DayOfTheYear(FromDate_MMDD) + 1;
}

int TJalaliDateUtils::DaysBetweenWithYear(const std::string& FromDate_MMDD,
                                          const std::string& ToDate_MMDD, int FromYear_YYYY,
                                          int ToYear_YYYY) {
  TGeneralDateUtils::CheckDateRange(csJalali, FromDate_MMDD, ToDate_MMDD, FromYear_YYYY,
                                    ToYear_YYYY, true);
  if (FromYear_YYYY == ToYear_YYYY) return DaysBetween(FromDate_MMDD, ToDate_MMDD);
  int days = DaysBetween(FromDate_MMDD, LastDateOfYear_MMDD(FromYear_YYYY)) +
             DaysBetween("01/01", ToDate_MMDD);
  for (int y = FromYear_YYYY + 1; y < ToYear_YYYY; ++y) days += DaysInAYear(y);
  return days;
}

std::string TJalaliDateUtils::NextDateInYear_MMDD(int AYear_YYYY, const std::string& Date_MMDD) {
  if (Date_MMDD < "12/29") {
    int m = 0;
    int d = 0;
    P::Parse_MMDD(Date_MMDD, m, d);
    if (d < DaysInAMonth(m, AYear_YYYY)) return P::Format_MMDD(m, d + 1);
    return P::Format_MMDD(m + 1, 1);
  }
  return LastDateOfYear_MMDD(AYear_YYYY);
}

std::string TJalaliDateUtils::PrevDateInYear_MMDD(int AYear_YYYY, const std::string& Date_MMDD) {
  int m = 0;
  int d = 0;
  P::Parse_MMDD(Date_MMDD, m, d);
  if (m == 1 && d == 1) return Date_MMDD;
  if (d > 1) return P::Format_MMDD(m, d - 1);
  return P::Format_MMDD(m - 1, DaysInAMonth(m - 1, AYear_YYYY));
}

namespace {
// Day number of a Jalali "MM/DD", checked against the month lengths of the year.
int CheckedDayOfYear(int year, const std::string& date_mmdd) {
  int m = 0;
  int d = 0;
  P::Parse_MMDD(date_mmdd, m, d);
  if (m < 1 || m > 12 || d < 1 || d > TJalaliDateUtils::DaysInAMonth(m, year)) {
    throw std::runtime_error("Date is out of year!");
  }
  return TJalaliDateUtils::DayOfTheYear(date_mmdd);
}
}  // namespace

void TJalaliDateUtils::GetNDatesAfter(int Year_YYYY, const std::string& Date_MMDD, int N,
                                      int& Result_YYYY, std::string& Result_MMDD) {
  CheckNotNegative(N);
  long long d = static_cast<long long>(CheckedDayOfYear(Year_YYYY, Date_MMDD)) + N;
  int year = Year_YYYY;
  while (d > DaysInAYear(year)) {
    d -= DaysInAYear(year);
    ++year;
  }
  Result_YYYY = year;
  Result_MMDD = EncodeDateDay_MMDD(static_cast<int>(d));
}

void TJalaliDateUtils::GetNDatesBefore(int Year_YYYY, const std::string& Date_MMDD, int N,
                                       int& Result_YYYY, std::string& Result_MMDD) {
  CheckNotNegative(N);
  long long d = static_cast<long long>(CheckedDayOfYear(Year_YYYY, Date_MMDD)) - N;
  int year = Year_YYYY;
  while (d <= 0) {
    --year;
    d += DaysInAYear(year);
  }
  Result_YYYY = year;
  Result_MMDD = EncodeDateDay_MMDD(static_cast<int>(d));
}

void TJalaliDateUtils::GetNDatesFrom(int Year_YYYY, const std::string& Date_MMDD, int N,
                                     int& Result_YYYY, std::string& Result_MMDD) {
  if (N < 0) {
    GetNDatesBefore(Year_YYYY, Date_MMDD, -N, Result_YYYY, Result_MMDD);
  } else {
    GetNDatesAfter(Year_YYYY, Date_MMDD, N, Result_YYYY, Result_MMDD);
  }
}

void TJalaliDateUtils::GetNextDate(int Year_YYYY, const std::string& Date_MMDD, int& Result_YYYY,
                                   std::string& Result_MMDD) {
  GetNDatesAfter(Year_YYYY, Date_MMDD, 1, Result_YYYY, Result_MMDD);
}

void TJalaliDateUtils::GetPrevDate(int Year_YYYY, const std::string& Date_MMDD, int& Result_YYYY,
                                   std::string& Result_MMDD) {
  GetNDatesBefore(Year_YYYY, Date_MMDD, 1, Result_YYYY, Result_MMDD);
}

int TJalaliDateUtils::DayOfTheWeek(const std::string& Date_YYYYMMDD) {
  int y = 0;
  int m = 0;
  int d = 0;
  P::Parse_YYYYMMDD(csJalali, Date_YYYYMMDD, y, m, d);
  return zel::dates::DayOfTheWeek(EncodeJalaliDate(y, m, d));
}

bool TJalaliDateUtils::IsWeekend(const std::string& Date_YYYYMMDD) {
  return DayOfTheWeek(Date_YYYYMMDD) == 5;
}

std::string TJalaliDateUtils::Today_YYYYMMDD() { return JalaliToday(); }

std::string TJalaliDateUtils::Today_MMDD() { return Copy(JalaliToday(), 6, 5); }

// ---------------- TGregorianDateUtils ----------------

bool TGregorianDateUtils::IsLeapYear(int AYear_YYYY) { return IsGregorianLeapYear(AYear_YYYY); }

int TGregorianDateUtils::DaysInAYear(int AYear_YYYY) { return IsLeapYear(AYear_YYYY) ? 366 : 365; }

DateTime TGregorianDateUtils::ConverToDate_YYYYMMDD(const std::string& Date_YYYYMMDD) {
  int y = 0;
  int m = 0;
  int d = 0;
  P::Parse_YYYYMMDD(csGregorian, Date_YYYYMMDD, y, m, d);
  return EncodeDate(y, m, d);
}

DateTime TGregorianDateUtils::ConverToDateTime_YYYYMMDDHHNN(const std::string& Date_YYYYMMDD,
                                                            const std::string& Time_HHNN) {
  int h = 0;
  int n = 0;
  P::Parse_HHNN(Time_HHNN, h, n);
  return ConverToDate_YYYYMMDD(Date_YYYYMMDD) + EncodeTime(h, n, 1, 0);
}

DateTime TGregorianDateUtils::ConverToDateTime_YYYYMMDDHHNNSS(const std::string& Date_YYYYMMDD,
                                                              const std::string& Time_HHNNSS) {
  int h = 0;
  int n = 0;
  int s = 0;
  P::Parse_HHNNSS(Time_HHNNSS, h, n, s);
  return ConverToDate_YYYYMMDD(Date_YYYYMMDD) + EncodeTime(h, n, s, 10);
}

int TGregorianDateUtils::DayOfTheWeek(const std::string& Date_YYYYMMDD) {
  return zel::dates::DayOfTheWeek(ConverToDate_YYYYMMDD(Date_YYYYMMDD));
}

bool TGregorianDateUtils::IsWeekend(const std::string& Date_YYYYMMDD) {
  return DayOfTheWeek(Date_YYYYMMDD) == 5;
}

int TGregorianDateUtils::DayOfTheYear(int Year_YYYY, const std::string& Date_MMDD) {
  return static_cast<int>(GregorianSerial(Year_YYYY, Date_MMDD) - EncodeDate(Year_YYYY, 1, 1)) + 1;
}

std::string TGregorianDateUtils::EncodeDateDay_MMDD(int Year_YYYY, int ADayOfTheYear) {
  if (ADayOfTheYear < 1 || ADayOfTheYear > DaysInAYear(Year_YYYY)) {
    throw std::runtime_error("Day of the year is out of range! (" + std::to_string(ADayOfTheYear) +
                             ")");
  }
  int year = 0;
  std::string mmdd;
  SplitGregorian(EncodeDate(Year_YYYY, 1, 1) + ADayOfTheYear - 1, year, mmdd);
  return mmdd;
}

std::string TGregorianDateUtils::EncodeDateDay_YYYYMMDD(int AYear_YYYY, int ADayOfTheYear) {
  return P::AddYearToDate_YYYYMMDD(csGregorian, AYear_YYYY,
                                   EncodeDateDay_MMDD(AYear_YYYY, ADayOfTheYear));
}

std::string TGregorianDateUtils::LastDateOfMonth_MMDD(int Month, int Year_YYYY) {
  if (Month < 1 || Month > 12) {
    throw std::runtime_error("Month should be in range [1..12]. (Month: " + std::to_string(Month) +
                             ")");
  }
  return P::Format_MMDD(Month, DaysInGregorianMonth(Year_YYYY, Month));
}

std::string TGregorianDateUtils::LastDateOfYear_MMDD(int) { return "12/31"; }

std::string TGregorianDateUtils::LastDateOfYear_YYYYMMDD(int AYear_YYYY) {
  return P::Format_YYYYMMDD(AYear_YYYY, 12, 31);
}

void TGregorianDateUtils::GetNDatesFrom(int Year_YYYY, const std::string& Date_MMDD, int N,
                                        int& Result_YYYY, std::string& Result_MMDD) {
  SplitGregorian(GregorianSerial(Year_YYYY, Date_MMDD) + N, Result_YYYY, Result_MMDD);
}

void TGregorianDateUtils::GetNDatesAfter(int Year_YYYY, const std::string& Date_MMDD, int N,
                                         int& Result_YYYY, std::string& Result_MMDD) {
  CheckNotNegative(N);
  GetNDatesFrom(Year_YYYY, Date_MMDD, N, Result_YYYY, Result_MMDD);
}

void TGregorianDateUtils::GetNDatesBefore(int Year_YYYY, const std::string& Date_MMDD, int N,
                                          int& Result_YYYY, std::string& Result_MMDD) {
  CheckNotNegative(N);
  GetNDatesFrom(Year_YYYY, Date_MMDD, -N, Result_YYYY, Result_MMDD);
}

void TGregorianDateUtils::GetNextDate(int Year_YYYY, const std::string& Date_MMDD, int& Result_YYYY,
                                      std::string& Result_MMDD) {
  GetNDatesFrom(Year_YYYY, Date_MMDD, 1, Result_YYYY, Result_MMDD);
}

void TGregorianDateUtils::GetPrevDate(int Year_YYYY, const std::string& Date_MMDD, int& Result_YYYY,
                                      std::string& Result_MMDD) {
  GetNDatesFrom(Year_YYYY, Date_MMDD, -1, Result_YYYY, Result_MMDD);
}

std::string TGregorianDateUtils::Today_MMDD() { return Copy(Today_YYYYMMDD(), 6, 5); }

std::string TGregorianDateUtils::Today_YYYYMMDD() { return Gregorian_YYYYMMDD(Now()); }

// ---------------- TGeneralDateUtils ----------------

#define ZEL_DISPATCH(call_jalali, call_gregorian) \
  switch (Calendar) {                             \
    case csJalali:                                \
      return call_jalali;                         \
    case csGregorian:                             \
      return call_gregorian;                      \
  }                                               \
  UnsupportedCalendar(Calendar)

int TGeneralDateUtils::DayOfTheWeek(TCalendarSystem Calendar, const std::string& Date_YYYYMMDD) {
  ZEL_DISPATCH(TJalaliDateUtils::DayOfTheWeek(Date_YYYYMMDD),
               TGregorianDateUtils::DayOfTheWeek(Date_YYYYMMDD));
}

bool TGeneralDateUtils::IsWeekend(TCalendarSystem Calendar, const std::string& Date_YYYYMMDD) {
  ZEL_DISPATCH(TJalaliDateUtils::IsWeekend(Date_YYYYMMDD),
               TGregorianDateUtils::IsWeekend(Date_YYYYMMDD));
}

int TGeneralDateUtils::DayOfTheYear(TCalendarSystem Calendar, int Year_YYYY,
                                    const std::string& Date_MMDD) {
  ZEL_DISPATCH(TJalaliDateUtils::DayOfTheYear(Date_MMDD),
               TGregorianDateUtils::DayOfTheYear(Year_YYYY, Date_MMDD));
}

int TGeneralDateUtils::DaysInAYear(TCalendarSystem Calendar, int AYear_YYYY) {
  ZEL_DISPATCH(TJalaliDateUtils::DaysInAYear(AYear_YYYY),
               TGregorianDateUtils::DaysInAYear(AYear_YYYY));
}

std::string TGeneralDateUtils::EncodeDateDay_MMDD(TCalendarSystem Calendar, int Year_YYYY,
                                                  int ADayOfTheYear) {
  ZEL_DISPATCH(TJalaliDateUtils::EncodeDateDay_MMDD(ADayOfTheYear),
               TGregorianDateUtils::EncodeDateDay_MMDD(Year_YYYY, ADayOfTheYear));
}

std::string TGeneralDateUtils::EncodeDateDay_YYYYMMDD(TCalendarSystem Calendar, int AYear_YYYY,
                                                      int ADayOfTheYear) {
  ZEL_DISPATCH(TJalaliDateUtils::EncodeDateDay_YYYYMMDD(AYear_YYYY, ADayOfTheYear),
               TGregorianDateUtils::EncodeDateDay_YYYYMMDD(AYear_YYYY, ADayOfTheYear));
}

void TGeneralDateUtils::GetNextDate(TCalendarSystem Calendar, int Year_YYYY,
                                    const std::string& Date_MMDD, int& Result_YYYY,
                                    std::string& Result_MMDD) {
  ZEL_DISPATCH(TJalaliDateUtils::GetNextDate(Year_YYYY, Date_MMDD, Result_YYYY, Result_MMDD),
               TGregorianDateUtils::GetNextDate(Year_YYYY, Date_MMDD, Result_YYYY, Result_MMDD));
}

void TGeneralDateUtils::GetPrevDate(TCalendarSystem Calendar, int Year_YYYY,
                                    const std::string& Date_MMDD, int& Result_YYYY,
                                    std::string& Result_MMDD) {
  ZEL_DISPATCH(TJalaliDateUtils::GetPrevDate(Year_YYYY, Date_MMDD, Result_YYYY, Result_MMDD),
               TGregorianDateUtils::GetPrevDate(Year_YYYY, Date_MMDD, Result_YYYY, Result_MMDD));
}

void TGeneralDateUtils::GetNDatesAfter(TCalendarSystem Calendar, int Year_YYYY,
                                       const std::string& Date_MMDD, int N, int& Result_YYYY,
                                       std::string& Result_MMDD) {
  ZEL_DISPATCH(
      TJalaliDateUtils::GetNDatesAfter(Year_YYYY, Date_MMDD, N, Result_YYYY, Result_MMDD),
      TGregorianDateUtils::GetNDatesAfter(Year_YYYY, Date_MMDD, N, Result_YYYY, Result_MMDD));
}

void TGeneralDateUtils::GetNDatesBefore(TCalendarSystem Calendar, int Year_YYYY,
                                        const std::string& Date_MMDD, int N, int& Result_YYYY,
                                        std::string& Result_MMDD) {
  ZEL_DISPATCH(
      TJalaliDateUtils::GetNDatesBefore(Year_YYYY, Date_MMDD, N, Result_YYYY, Result_MMDD),
      TGregorianDateUtils::GetNDatesBefore(Year_YYYY, Date_MMDD, N, Result_YYYY, Result_MMDD));
}

void TGeneralDateUtils::GetNDatesFrom(TCalendarSystem Calendar, int Year_YYYY,
                                      const std::string& Date_MMDD, int N, int& Result_YYYY,
                                      std::string& Result_MMDD) {
  ZEL_DISPATCH(
      TJalaliDateUtils::GetNDatesFrom(Year_YYYY, Date_MMDD, N, Result_YYYY, Result_MMDD),
      TGregorianDateUtils::GetNDatesFrom(Year_YYYY, Date_MMDD, N, Result_YYYY, Result_MMDD));
}

std::string TGeneralDateUtils::Today_MMDD(TCalendarSystem Calendar) {
  ZEL_DISPATCH(TJalaliDateUtils::Today_MMDD(), TGregorianDateUtils::Today_MMDD());
}

std::string TGeneralDateUtils::Today_YYYYMMDD(TCalendarSystem Calendar) {
  ZEL_DISPATCH(TJalaliDateUtils::Today_YYYYMMDD(), TGregorianDateUtils::Today_YYYYMMDD());
}

std::string TGeneralDateUtils::LastDateOfYear_YYYYMMDD(TCalendarSystem Calendar, int AYear_YYYY) {
  ZEL_DISPATCH(TJalaliDateUtils::LastDateOfYear_YYYYMMDD(AYear_YYYY),
               TGregorianDateUtils::LastDateOfYear_YYYYMMDD(AYear_YYYY));
}

std::string TGeneralDateUtils::LastDateOfYear_MMDD(TCalendarSystem Calendar, int AYear_YYYY) {
  ZEL_DISPATCH(TJalaliDateUtils::LastDateOfYear_MMDD(AYear_YYYY),
               TGregorianDateUtils::LastDateOfYear_MMDD(AYear_YYYY));
}

#undef ZEL_DISPATCH

std::string TGeneralDateUtils::FirstDateOfYear_YYYYMMDD(TCalendarSystem Calendar, int AYear_YYYY) {
  YC::CheckYearRange(Calendar, AYear_YYYY);
  return P::Format_YYYYMMDD(AYear_YYYY, 1, 1);
}

std::string TGeneralDateUtils::FirstDateOfMonth_MMDD(int Month) { return P::Format_MMDD(Month, 1); }

bool TGeneralDateUtils::IsLastDayOfYear(TCalendarSystem Calendar, int Year_YYYY, int Month,
                                        int Day) {
  CheckCalendarSystem(Calendar);
  if (Month != 12) return false;
  if (Calendar == csGregorian) return Day == 31;
  return Day == JalaliDay::MonthDays(Year_YYYY, 12);
}

std::string TGeneralDateUtils::MinValidDate_YYYYMMDD(TCalendarSystem Calendar) {
  return FirstDateOfYear_YYYYMMDD(Calendar, YC::GetValidRange_YYYY(Calendar, true));
}

std::string TGeneralDateUtils::MaxValidDate_YYYYMMDD(TCalendarSystem Calendar) {
  return LastDateOfYear_YYYYMMDD(Calendar, YC::GetValidRange_YYYY(Calendar, false));
}

int TGeneralDateUtils::GetNYearsFrom_YYYY(TCalendarSystem Calendar, int N, int AYrear_YYYY) {
  YC::CheckYearRange(Calendar, AYrear_YYYY);
  YC::CheckYearRange(Calendar, AYrear_YYYY + N);
  return AYrear_YYYY + N;
}

int TGeneralDateUtils::GetNextYear_YYYY(TCalendarSystem Calendar, int AYear_YYYY) {
  return GetNYearsFrom_YYYY(Calendar, 1, AYear_YYYY);
}

int TGeneralDateUtils::GetPrevYear_YYYY(TCalendarSystem Calendar, int AYear_YYYY) {
  return GetNYearsFrom_YYYY(Calendar, -1, AYear_YYYY);
}

bool TGeneralDateUtils::MatchComparisonResult(TDateComparisonOperator ComparisonOperator,
                                              int ComparisonResult) {
  switch (ComparisonOperator) {
    case coEqual:
      return ComparisonResult == 0;
    case coNotEqual:
      return ComparisonResult != 0;
    case coLesserEqual:
      return ComparisonResult <= 0;
    case coLesser:
      return ComparisonResult < 0;
    case coGreaterEqual:
      return ComparisonResult >= 0;
    case coGreater:
      return ComparisonResult > 0;
  }
  return false;
}

int TGeneralDateUtils::CompareDates(TCalendarSystem Calendar, const std::string& Date1_MMDD,
                                    const std::string& Date2_MMDD, int Year1_YYYY, int Year2_YYYY) {
  P::CheckDateFormat(Date1_MMDD, P::dfMMDD);
  P::CheckDateFormat(Date2_MMDD, P::dfMMDD);
  YC::CheckYearRange(Calendar, Year1_YYYY);
  YC::CheckYearRange(Calendar, Year2_YYYY);
  if (Year1_YYYY != Year2_YYYY) return Year1_YYYY < Year2_YYYY ? -1 : 1;
  const int c = Date1_MMDD.compare(Date2_MMDD);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool TGeneralDateUtils::CompareDates(TCalendarSystem Calendar, const std::string& Date1_MMDD,
                                     const std::string& Date2_MMDD, int Year1_YYYY, int Year2_YYYY,
                                     TDateComparisonOperator ComparisonOperator) {
  return MatchComparisonResult(
      ComparisonOperator, CompareDates(Calendar, Date1_MMDD, Date2_MMDD, Year1_YYYY, Year2_YYYY));
}

int TGeneralDateUtils::CompareDateTimes(TCalendarSystem Calendar, const std::string& Date1_MMDD,
                                        const std::string& Time1_HHNN,
                                        const std::string& Date2_MMDD,
                                        const std::string& Time2_HHNN, int Year1_YYYY,
                                        int Year2_YYYY) {
  const int result = CompareDates(Calendar, Date1_MMDD, Date2_MMDD, Year1_YYYY, Year2_YYYY);
  if (result != 0) return result;
  const int c = Time1_HHNN.compare(Time2_HHNN);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool TGeneralDateUtils::CompareDateTimes(TCalendarSystem Calendar, const std::string& Date1_MMDD,
                                         const std::string& Time1_HHNN,
                                         const std::string& Date2_MMDD,
                                         const std::string& Time2_HHNN, int Year1_YYYY,
                                         int Year2_YYYY,
                                         TDateComparisonOperator ComparisonOperator) {
  return MatchComparisonResult(
      ComparisonOperator, CompareDateTimes(Calendar, Date1_MMDD, Time1_HHNN, Date2_MMDD, Time2_HHNN,
                                           Year1_YYYY, Year2_YYYY));
}

void TGeneralDateUtils::CheckDateRange(TCalendarSystem Calendar, const std::string& FromDate_MMDD,
                                       const std::string& ToDate_MMDD, int FromYear_YYYY,
                                       int ToYear_YYYY, bool AllowEqualDates) {
  if (!CompareDates(Calendar, FromDate_MMDD, ToDate_MMDD, FromYear_YYYY, ToYear_YYYY,
                    AllowEqualDates ? coLesserEqual : coLesser)) {
    throw std::runtime_error(
        "FromDate is greater than ToDate! FromDate:" + std::to_string(FromYear_YYYY) + "/" +
        FromDate_MMDD + ", ToDate:" + std::to_string(ToYear_YYYY) + "/" + ToDate_MMDD +
        ", AllowEqual:" + (AllowEqualDates ? "True" : "False"));
  }
}

bool TGeneralDateUtils::DateInRange(TCalendarSystem Calendar, const std::string& FromDate_MMDD,
                                    const std::string& ToDate_MMDD, const std::string& Date_MMDD,
                                    int FromYear_YYYY, int ToYear_YYY, int Year_YYYY) {
  CheckDateRange(Calendar, FromDate_MMDD, ToDate_MMDD, FromYear_YYYY, ToYear_YYY, true);
  return CompareDates(Calendar, Date_MMDD, FromDate_MMDD, Year_YYYY, FromYear_YYYY,
                      coGreaterEqual) &&
         CompareDates(Calendar, Date_MMDD, ToDate_MMDD, Year_YYYY, ToYear_YYY, coLesserEqual);
}

TCalendarSystem TGeneralDateUtils::GetCalendarSystem_YYYY_Int(int YYYY) {
  const TCalendarSystem calendar = YYYY >= 1500 ? csGregorian : csJalali;
  YC::CheckYearRange(calendar, YYYY);
  return calendar;
}

TCalendarSystem TGeneralDateUtils::GetCalendarSystem_YYYY(const std::string& YYYY) {
  P::CheckDateFormat(YYYY, P::dfYYYY);
  return GetCalendarSystem_YYYY_Int(StrToInt(YYYY));
}

TCalendarSystem TGeneralDateUtils::GetCalendarSystem_YYYYMMDD(const std::string& YYYYMMDD) {
  return GetCalendarSystem_YYYY_Int(P::GetYearOfDate_YYYY_Int(YYYYMMDD, 0));
}

std::string TGeneralDateUtils::ForceCalendarSystem_YYYYMMDD(TCalendarSystem DesiredSystem,
                                                            const std::string& YYYYMMDD) {
  CheckCalendarSystem(DesiredSystem);
  const TCalendarSystem current = GetCalendarSystem_YYYYMMDD(YYYYMMDD);
  if (current == DesiredSystem) return YYYYMMDD;
  return DesiredSystem == csGregorian ? JalaliToGregorian_YYYYMMDD(YYYYMMDD)
                                      : GregorianToJalali_YYYYMMDD(YYYYMMDD);
}

DateTime TGeneralDateUtils::JalaliToGregorian(int Y, int M, int D) {
  return EncodeJalaliDate(Y, M, D);
}

std::string TGeneralDateUtils::JalaliToGregorian_YYYYMMDD(int Y, int M, int D) {
  return Gregorian_YYYYMMDD(JalaliToGregorian(Y, M, D));
}

std::string TGeneralDateUtils::JalaliToGregorian_YYYYMMDD(const std::string& Jalali_YYYYMMDD) {
  int y = 0;
  int m = 0;
  int d = 0;
  P::Parse_YYYYMMDD(csJalali, Jalali_YYYYMMDD, y, m, d);
  return JalaliToGregorian_YYYYMMDD(y, m, d);
}

std::string TGeneralDateUtils::GregorianToJalali_YYYYMMDD(DateTime ADate) {
  const JalaliDate j = DecodeJalaliDate(ADate);
  YC::CheckYearRange(csJalali, j.year);
  return P::Format_YYYYMMDD(j.year, j.month, j.day);
}

std::string TGeneralDateUtils::GregorianToJalali_YYYYMMDD(const std::string& Gregorian_YYYYMMDD) {
  return GregorianToJalali_YYYYMMDD(TGregorianDateUtils::ConverToDate_YYYYMMDD(Gregorian_YYYYMMDD));
}

}  // namespace zel::dates
