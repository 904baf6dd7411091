#include "dates/date_time.h"

#include <cmath>
#include <limits>

#include "util/text.h"

namespace zel::dates {
namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

constexpr long long kEpochOffset = 25569;  // serial of 1970-01-01
constexpr long long kMsPerDay = 86400000;

// Milliseconds of the time of day, with the sign convention of serial values: the fraction
// always counts forward from midnight of the (truncated) date.
long long TimeMilliseconds(DateTime value) {
  const double frac = std::fabs(value - std::trunc(value));
  long long ms = std::llround(frac * static_cast<double>(kMsPerDay));
  if (ms >= kMsPerDay) ms = kMsPerDay - 1;
  return ms;
}

}  // namespace

bool IsGregorianLeapYear(int year) {
  return (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0);
}

int DaysInGregorianMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsGregorianLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, DateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInGregorianMonth(year, month)) {
    return false;
  }
  result = static_cast<DateTime>(
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kEpochOffset);
  return true;
}

DateTime EncodeDate(int year, int month, int day) {
  DateTime result = 0;
  if (!TryEncodeDate(year, month, day, result)) {
    throw EConvertError("Invalid argument to date encode");
  }
  return result;
}

DateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 ||
      millisecond < 0 || millisecond >= 1000) {
    throw EConvertError("Invalid argument to time encode");
  }
  const long long ms = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
  return static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

int DateOf(DateTime value) { return static_cast<int>(std::trunc(value)); }

void DecodeDate(DateTime value, int& year, int& month, int& day) {
  CivilFromDays(DateOf(value) - kEpochOffset, year, month, day);
}

DateTimeParts DecodeDateTime(DateTime value) {
  DateTimeParts parts;
  DecodeDate(value, parts.year, parts.month, parts.day);
  long long ms = TimeMilliseconds(value);
  parts.millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  parts.second = static_cast<int>(ms % 60);
  ms /= 60;
  parts.minute = static_cast<int>(ms % 60);
  parts.hour = static_cast<int>(ms / 60);
  return parts;
}

int DayOfTheWeek(DateTime value) {
  // Serial 0 (1899-12-30) was a Saturday, ISO day 6.
  const long long days = DateOf(value);
  return static_cast<int>(((days + 5) % 7 + 7) % 7) + 1;
}

std::string FormatTime_HHNNSS(DateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  return PadNumber(p.hour, 2) + ":" + PadNumber(p.minute, 2) + ":" + PadNumber(p.second, 2);
}

std::string FormatTime_HHNN(DateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  return PadNumber(p.hour, 2) + ":" + PadNumber(p.minute, 2);
}

std::string Copy(std::string_view text, int index, int count) {
  if (index < 1) index = 1;
  if (count <= 0 || static_cast<size_t>(index) > text.size()) return {};
  return std::string(text.substr(static_cast<size_t>(index - 1), static_cast<size_t>(count)));
}

int StrToInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const size_t first_digit = i;
  long long value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1) break;
  }
  if (negative) value = -value;
  if (i == first_digit || i != text.size() || value > std::numeric_limits<int>::max() ||
      value < std::numeric_limits<int>::min()) {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  }
  return static_cast<int>(value);
}

int StrToIntDef(std::string_view text, int fallback) {
  try {
    return StrToInt(text);
  } catch (const EConvertError&) {
    return fallback;
  }
}

std::string PadNumber(long long value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (static_cast<int>(digits.size()) < width) {
    digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  }
  return value < 0 ? "-" + digits : digits;
}

}  // namespace zel::dates
