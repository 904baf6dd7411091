#include "dates/jalali.h"

#include <cmath>

#include "dates/clock.h"
#include "dates/date_parser.h"
#include "dates/jalali_day.h"

namespace zel::dates {
namespace {

constexpr long long kSerialOffset = 466700;  // days of Jalali years 1.. before serial 0
constexpr double kMeanYear = 365.0 + 8.0 / 33.0;

// Leap years among Jalali years 1..n.
long long LeapYearsUpTo(long long n) {
  static constexpr int kInCycle[33] = {0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4,
                                       5, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7, 8, 8, 8};
  if (n <= 0) return 0;
  return 8 * (n / 33) + kInCycle[n % 33];
}

long long DaysBeforeYear(long long year) {  // days in years 1..year-1
  return 365 * (year - 1) + LeapYearsUpTo(year - 1);
}

}  // namespace

bool IsJalaliLeapYear(int year) {
  int r = (year - 1206) % 33;
  if (r < 0) r += 33;
  return r != 0 && r % 4 == 0;
}

int JalaliMonthDays(int year, int month) { return JalaliDay::MonthDays(year, month); }

bool TryEncodeJalaliDate(int year, int month, int day, DateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > JalaliMonthDays(year, month)) {
    return false;
  }
  const int day_of_year = month <= 7 ? (month - 1) * 31 + day : (month - 1) * 30 + 6 + day;
  result = static_cast<DateTime>(day_of_year + DaysBeforeYear(year) - kSerialOffset);
  return true;
}

DateTime EncodeJalaliDate(int year, int month, int day) {
  DateTime result = 0;
  if (!TryEncodeJalaliDate(year, month, day, result)) {
    throw EConvertError("Invalid argument to date encode");
  }
  return result;
}

void DecodeJalaliDate(DateTime serial, int& year, int& month, int& day) {
  long long n = static_cast<long long>(DateOf(serial)) + kSerialOffset;
  const long long y0 = static_cast<long long>(std::trunc(static_cast<double>(n) / kMeanYear)) + 1;
  n -= 365 * y0 + LeapYearsUpTo(y0);
  long long y = y0 + 1;
  const auto year_length = [](long long yy) {
    return IsJalaliLeapYear(static_cast<int>(yy)) ? 366 : 365;
  };
  while (n <= 0) {
    --y;
    n += year_length(y);
  }
  // The estimate can also fall a year short; step forward then.
  while (n > year_length(y)) {
    n -= year_length(y);
    ++y;
  }
  int m = 1;
  while (m < 12 && n > JalaliMonthDays(static_cast<int>(y), m)) {
    n -= JalaliMonthDays(static_cast<int>(y), m);
    ++m;
  }
  year = static_cast<int>(y);
  month = m;
  day = static_cast<int>(n);
}

JalaliDate DecodeJalaliDate(DateTime serial) {
  JalaliDate d;
  DecodeJalaliDate(serial, d.year, d.month, d.day);
  return d;
}

std::string JalaliToday() {
  const JalaliDate d = DecodeJalaliDate(Now());
  return TZELDateParser::Format_YYYYMMDD(d.year, d.month, d.day);
}

}  // namespace zel::dates
