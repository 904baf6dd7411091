// Serial date-time values (days since 1899-12-30, the fraction is the time of day), the
// Gregorian calendar on them, the conversion errors of the date library and the small text
// helpers (trim, 1-based copy, strict integer parsing) that the date code relies on.
// Pure functions without shared state: any thread may call them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zel::dates {

// A moment as the product keeps it: whole days since 1899-12-30, fraction = time of day.
using DateTime = double;

// A text or number that cannot be turned into a date, time or integer.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Broken-down Gregorian date and time of a serial value.
struct DateTimeParts {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

bool IsGregorianLeapYear(int year);
// Days of a Gregorian month; 0 for a month outside 1..12.
int DaysInGregorianMonth(int year, int month);

// Serial day of a Gregorian date; raises EConvertError "Invalid argument to date encode"
// for an impossible date or a year outside 1..9999.
DateTime EncodeDate(int year, int month, int day);
bool TryEncodeDate(int year, int month, int day, DateTime& result);
// Fraction of a day; raises EConvertError "Invalid argument to time encode" unless
// hour < 24, minute < 60, second < 60 and millisecond < 1000.
DateTime EncodeTime(int hour, int minute, int second, int millisecond);
// Whole days of the value (the date part, truncated toward zero).
int DateOf(DateTime value);
void DecodeDate(DateTime value, int& year, int& month, int& day);
DateTimeParts DecodeDateTime(DateTime value);
// ISO weekday of the date part: 1 Monday ... 7 Sunday.
int DayOfTheWeek(DateTime value);

// "HH:MM:SS" and "HH:MM" of the time of day, 24-hour, zero-padded.
std::string FormatTime_HHNNSS(DateTime value);
std::string FormatTime_HHNN(DateTime value);

// Text helpers with the product's semantics.
// Up to count characters from the 1-based position index; never fails (short or empty result).
std::string Copy(std::string_view text, int index, int count);
// Decimal integer: optional leading blanks and sign, then digits only; otherwise raises
// EConvertError "'<text>' is not a valid integer value".
int StrToInt(std::string_view text);
int StrToIntDef(std::string_view text, int fallback);
// Zero-padded decimal with at least `width` digits ("%.2d"): -1 gives "-01".
std::string PadNumber(long long value, int width);

}  // namespace zel::dates
