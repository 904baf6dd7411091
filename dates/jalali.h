// The Jalali arithmetic core: the 33-year leap rule, serial day numbers to Jalali dates and
// back, and today's Jalali date from the process clock (dates/clock.h).
// Pure functions (JalaliToday reads the clock); any thread may call them.
#pragma once

#include <string>

#include "dates/date_time.h"

namespace zel::dates {

struct JalaliDate {
  int year = 0;
  int month = 0;
  int day = 0;
  bool operator==(const JalaliDate&) const = default;
};

// Year Y is leap when (Y - 1206) mod 33 is 4, 8, ..., 32.
bool IsJalaliLeapYear(int year);
// 31 for months 1-6, 30 for 7-11, 29 or 30 (leap) for month 12; 0 outside 1..12.
int JalaliMonthDays(int year, int month);
// Serial day number of a Jalali date (1399/01/01 is 43910); raises EConvertError
// "Invalid argument to date encode" unless 1 <= year <= 9999 and the month and day exist.
DateTime EncodeJalaliDate(int year, int month, int day);
bool TryEncodeJalaliDate(int year, int month, int day, DateTime& result);
// Jalali date of the whole days of a serial value.
void DecodeJalaliDate(DateTime serial, int& year, int& month, int& day);
JalaliDate DecodeJalaliDate(DateTime serial);
// Today's Jalali date "YYYY/MM/DD" from the process clock (Now() of dates/clock.h).
std::string JalaliToday();

}  // namespace zel::dates
