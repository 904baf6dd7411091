#include "dates/zel_calc_utils.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <stdexcept>

#include "dates/clock.h"
#include "dates/date_parser.h"
#include "dates/jalali.h"
#include "dates/jalali_day.h"
#include "dates/log_stamp.h"
#include "util/log_file.h"
#include "util/text.h"

namespace zel::dates {
namespace {

using P = TZELDateParser;

[[noreturn]] void MonthOutOfRange(int month) {
  throw std::runtime_error("Month should be in range [1..12]. (Month: " + std::to_string(month) +
                           ")");
}

// The leap rule of ChangeDateTime alone: month 12 has 30 days when the year modulo 4 is 2
// (1399 yes, 1403 no). Stored results depend on it, so it stays as the product has it.
bool ChangeDateTimeLeapYear(int year) { return year % 4 == 2; }

// Month length with the calculation leap rule.
int CalcMonthDays(int month, int year) {
  if (month < 1 || month > 12) MonthOutOfRange(month);
  return CalcDay::MonthDays(year, month);
}

// Minutes from the start of the year of "MM/DD" + "HH:NN" (months 1-6 of 31 days, 7-12 of 30).
int MinuteOfYear(const std::string& date, const std::string& time) {
  const int day = TZelCalcUtils::Date2Day(date);
  return (day - 1) * 1440 + StrToInt(Copy(time, 1, 2)) * 60 + StrToInt(Copy(time, 4, 2));
}

bool IsBlankMoment(const std::string& a_date, const std::string& a_time, const std::string& b_date,
                   const std::string& b_time) {
  const std::string ad = util::TrimControls(a_date);
  const std::string at = util::TrimControls(a_time);
  const std::string bd = util::TrimControls(b_date);
  const std::string bt = util::TrimControls(b_time);
  return ad.empty() || at.empty() || bd.empty() || bt.empty() || ad == "/" || bd == "/" ||
         at == ":" || bt == ":";
}

// Steps n days forward (direction 1) or back (-1) with the calculation leap rule.
void StepDays(int year, const std::string& date_mmdd, int n, int direction, int& result_year,
              std::string& result_mmdd) {
  if (n < 0) throw std::runtime_error("N should not be negative");
  int m = 0;
  int d = 0;
  P::Parse_MMDD(date_mmdd, m, d);
  if (m < 1 || m > 12 || d < 1 || d > CalcMonthDays(m, year)) {
    throw std::runtime_error("Date is out of year!");
  }
  const CalcDay result = CalcDay(year, m, d).AddDays(static_cast<long long>(direction) * n);
  result_year = result.year();
  result_mmdd = P::Format_MMDD(result.month(), result.day());
}

}  // namespace

// ---------------- log writer ----------------

std::string TZelCalcUtils::LogFileNameOf(const std::string& AFileName) const {
  return LogFileName(AFileName, "_T" + std::to_string(FThreadId));
}

void TZelCalcUtils::LogText(const std::string& AValue, const std::string& AFileName, bool LogTime,
                            bool IsEnableLog) const {
  if (IsEnableLog && !FEnableLog) return;
  try {
    std::string folder = util::LogFolder();
    if (!util::EnsureFolder(folder)) folder = util::HomeFolder();
    util::AppendLogLine(folder, LogFileNameOf(AFileName), LogTime ? StampedLine(AValue) : AValue);
  } catch (...) {
    // The calculation log never stops the calculation.
  }
}

// ---------------- leap rule ----------------

bool TZelCalcUtils::IsLLeapYear(int AYear_YYYY) { return CalcLeapRule::IsLeap(AYear_YYYY); }

// ---------------- time texts ----------------

int TZelCalcUtils::Text2Time(const std::string& AText) {
  if (util::TrimControls(AText).empty()) return 0;
  return StrToInt(Copy(AText, 1, 3)) * 60 + StrToInt(Copy(AText, 5, 2));
}

int TZelCalcUtils::Text2Time2(const std::string& AText) {
  if (util::TrimControls(AText).empty()) return 0;
  return StrToInt(Copy(AText, 1, 2)) * 60 + StrToInt(Copy(AText, 4, 2));
}

std::string TZelCalcUtils::Time2Text2(int ATime) {
  const long long value = ATime < 0 ? -static_cast<long long>(ATime) : ATime;
  return std::string(ATime < 0 ? "-" : "") + PadNumber(value / 60, 2) + ":" +
         PadNumber(value % 60, 2);
}

void TZelCalcUtils::DecValue(int& AValue, int& BValue) {
  if (AValue == 0 || BValue == 0) return;
  if (AValue >= BValue) {
    AValue -= BValue;
    BValue = 0;
  } else {
    BValue -= AValue;
    AValue = 0;
  }
}

int TZelCalcUtils::AmountDateTime(const std::string& ADate, const std::string& ATime,
                                  const std::string& BDate, const std::string& BTime) {
  if (IsBlankMoment(ADate, ATime, BDate, BTime)) return 0;
  return std::abs(MinuteOfYear(util::TrimControls(ADate), util::TrimControls(ATime)) -
                  MinuteOfYear(util::TrimControls(BDate), util::TrimControls(BTime)));
}

int TZelCalcUtils::SubtractDateTime(const std::string& ADate, const std::string& ATime,
                                    const std::string& BDate, const std::string& BTime) {
  if (IsBlankMoment(ADate, ATime, BDate, BTime)) return 0;
  for (const std::string* s : {&ADate, &ATime, &BDate, &BTime}) {
    if (util::TrimControls(*s).size() != 5) return 0;
  }
  return AmountDateTime(ADate, ATime, BDate, BTime);
}

std::string TZelCalcUtils::ChangeDateTime(const std::string& ADateTime, int Delta) {
  int year = StrToInt(Copy(ADateTime, 1, 4));
  int month = StrToInt(Copy(ADateTime, 6, 2));
  int day = StrToInt(Copy(ADateTime, 9, 2));
  int hour = StrToInt(Copy(ADateTime, 11, 2));
  int minute = StrToInt(Copy(ADateTime, 14, 2));
  // Month lengths of this operation: its own leap rule (ChangeDateTimeLeapYear), and a
  // malformed month below 1 or above 12 read as month 1 or 12.
  const auto month_days = [](int m, int y) {
    return JalaliMonthLength(std::clamp(m, 1, 12), ChangeDateTimeLeapYear(y));
  };
  const auto day_forward = [&] {
    if (day < month_days(month, year)) {
      ++day;
    } else if (month < 12) {
      ++month;
      day = 1;
    } else {
      ++year;
      month = 1;
      day = 1;
    }
  };
  const auto day_backward = [&] {
    if (day > 1) {
      --day;
    } else if (month > 1) {
      --month;
      day = month_days(month, year);
    } else {
      --year;
      month = 12;
      day = month_days(12, year);
    }
  };
  const auto hour_forward = [&] {
    if (++hour > 23) {
      hour = 0;
      day_forward();
    }
  };
  const auto hour_backward = [&] {
    if (--hour < 0) {
      hour = 23;
      day_backward();
    }
  };
  const bool forward = Delta >= 0;
  const long long amount = Delta < 0 ? -static_cast<long long>(Delta) : Delta;
  for (long long i = 0; i < amount / 1440; ++i) forward ? day_forward() : day_backward();
  for (long long i = 0; i < (amount / 60) % 24; ++i) forward ? hour_forward() : hour_backward();
  const int minutes = static_cast<int>(amount % 60);
  if (forward) {
    minute += minutes;
    if (minute >= 60) {
      hour_forward();
      minute -= 60;
    }
  } else {
    minute -= minutes;
    if (minute < 0) {
      hour_backward();
      minute += 60;
    }
  }
  return PadNumber(year, 2) + "/" + PadNumber(month, 2) + "/" + PadNumber(day, 2) +
         PadNumber(hour, 2) + ":" + PadNumber(minute, 2);
}

// ---------------- Jalali "MM/DD" arithmetic ----------------

int TZelCalcUtils::Date2Day(const std::string& ADate) {
  const int m = StrToInt(Copy(ADate, 1, 2));
  const int d = StrToInt(Copy(ADate, 4, 2));
  return m <= 7 ? d + m * 31 - 31 : d + m * 30 - 24;
}

std::string TZelCalcUtils::Day2Date(int ADay) {
  if (ADay - 1 > 186) {
    return PadNumber((ADay - 187) / 30 + 7, 2) + "/" + PadNumber((ADay - 187) % 30 + 1, 2);
  }
  return PadNumber((ADay - 1) / 31 + 1, 2) + "/" + PadNumber((ADay - 1) % 31 + 1, 2);
}

std::string TZelCalcUtils::DayToDate_MMDD(int ADay) {
  int month = 1;
  int day = ADay;
  while (month < 12 && day > JalaliMonthLength(month, false)) {
    day -= JalaliMonthLength(month, false);
    ++month;
  }
  return PadNumber(month, 2) + "/" + PadNumber(day, 2);
}

int TZelCalcUtils::DaysInBetween(const std::string& FromDate, const std::string& ToDate) {
  return Date2Day(ToDate) - Date2Day(FromDate) + 1;
}

int TZelCalcUtils::DaysCountInBetweenWithYear(const std::string& FromDate_MMDD,
                                              const std::string& ToDate_MMDD, int FromYear_YYYY,
                                              int ToYear_YYYY) {
  CheckDateRange(FromDate_MMDD, ToDate_MMDD, FromYear_YYYY, ToYear_YYYY, true);
  if (FromYear_YYYY == ToYear_YYYY) return DaysInBetween(FromDate_MMDD, ToDate_MMDD);
  int days = DaysInBetween(FromDate_MMDD, LastDateOfYear_MMDD(FromYear_YYYY)) +
             DaysInBetween("01/01", ToDate_MMDD);
  for (int y = FromYear_YYYY + 1; y < ToYear_YYYY; ++y) days += DaysOfYear(y);
  return days;
}

int TZelCalcUtils::DaysOfYear(int AYear_YYYY) { return IsLLeapYear(AYear_YYYY) ? 366 : 365; }

int TZelCalcUtils::DaysInMonthY(int Month, const std::string& CurrentYear) {
  if (Month < 1 || Month > 12) MonthOutOfRange(Month);
  // The year text is read for month 12 only.
  return Month == 12 ? CalcMonthDays(12, StrToInt(util::TrimControls(CurrentYear)))
                     : JalaliMonthLength(Month, false);
}

std::string TZelCalcUtils::IncDateH(const std::string&, const std::string& ShortDate,
                                    const std::string& CurrentYear) {
  if (ShortDate < "12/29") {
    int month = StrToIntDef(Copy(ShortDate, 1, 2), 1);
    int day = StrToIntDef(Copy(ShortDate, 4, 2), 1);
    if (day < DaysInMonthY(month, CurrentYear)) {
      ++day;
    } else {
      ++month;
      day = 1;
    }
    return PadNumber(month, 2) + "/" + PadNumber(day, 2);
  }
  if (ShortDate == "12/29" && IsLLeapYear(StrToInt(util::TrimControls(CurrentYear))))
    return "12/30";
  return ShortDate;
}

std::string TZelCalcUtils::DecDateH(const std::string&, const std::string& ShortDate,
                                    const std::string& CurrentYear) {
  if (ShortDate == "01/01") return ShortDate;
  int month = StrToIntDef(Copy(ShortDate, 1, 2), 1);
  int day = StrToIntDef(Copy(ShortDate, 4, 2), 1);
  if (day > 1) {
    --day;
  } else if (month > 1) {
    --month;
    day = DaysInMonthY(month, CurrentYear);
  } else {
    return "01/01";
  }
  return PadNumber(month, 2) + "/" + PadNumber(day, 2);
}

std::string TZelCalcUtils::LastDateOfYear_MMDD(int AYear_YYYY) {
  P::CheckYear_IntYYYY(AYear_YYYY);
  return LastDateOfYear_MMDD(IsLLeapYear(AYear_YYYY));
}

std::string TZelCalcUtils::LastDateOfYear_MMDD(bool IsLeapYear) {
  return IsLeapYear ? "12/30" : "12/29";
}

std::string TZelCalcUtils::LastDateOfYear_YYMMDD(int AYear_YYYY) {
  return LastDateOfYear_YYYYMMDD(AYear_YYYY);
}

std::string TZelCalcUtils::LastDateOfYear_YYYYMMDD(int AYear_YYYY) {
  return P::AddYearToDate_YYYYMMDD(csJalali, AYear_YYYY, LastDateOfYear_MMDD(AYear_YYYY));
}

std::string TZelCalcUtils::FirstDateOfYear_YYMMDD(int AYear_YYYY) {
  return FirstDateOfYear_YYYYMMDD(AYear_YYYY);
}

std::string TZelCalcUtils::FirstDateOfYear_YYYYMMDD(int AYear_YYYY) {
  P::CheckYear_IntYYYY(AYear_YYYY);
  return std::to_string(AYear_YYYY) + "/01/01";
}

std::string TZelCalcUtils::FirstDateOfMonth_MMDD(int Month) { return PadNumber(Month, 2) + "/01"; }

std::string TZelCalcUtils::LastDateOfMonth_MMDD(int Month, int Year_YYYY) {
  return PadNumber(Month, 2) + "/" + PadNumber(CalcMonthDays(Month, Year_YYYY), 2);
}

std::vector<std::string> TZelCalcUtils::ListAllDatesInBetween(const std::string& FromDate_MMDD,
                                                              const std::string& ToDate_MMDD,
                                                              bool AddYear, int Year_YYYY) {
  if (FromDate_MMDD > ToDate_MMDD) throw std::runtime_error("Invalid input!");
  const int first = Date2Day(FromDate_MMDD);
  const int last = Date2Day(ToDate_MMDD);
  std::vector<std::string> result;
  result.reserve(static_cast<size_t>(last - first + 1));
  for (int day = first; day <= last; ++day) {
    std::string date = DayToDate_MMDD(day);
    if (AddYear && Year_YYYY > 0) date = P::AddYearToDate_YYYYMMDD(csJalali, Year_YYYY, date);
    result.push_back(std::move(date));
  }
  return result;
}

std::vector<std::string> TZelCalcUtils::ListAllDatesInBetweenWithYear(
    const std::string& FromDate_MMDD, const std::string& ToDate_MMDD, int FromYear_YYYY,
    int ToYear_YYYY, bool AddYear) {
  CheckDateRange(FromDate_MMDD, ToDate_MMDD, FromYear_YYYY, ToYear_YYYY, true);
  if (FromYear_YYYY == ToYear_YYYY) {
    return ListAllDatesInBetween(FromDate_MMDD, ToDate_MMDD, AddYear, FromYear_YYYY);
  }
  std::vector<std::string> result = ListAllDatesInBetween(
      FromDate_MMDD, LastDateOfYear_MMDD(FromYear_YYYY), AddYear, FromYear_YYYY);
  const auto append = [&result](std::vector<std::string> part) {
    result.insert(result.end(), std::make_move_iterator(part.begin()),
                  std::make_move_iterator(part.end()));
  };
  for (int y = FromYear_YYYY + 1; y < ToYear_YYYY; ++y) {
    append(ListAllDatesInBetween("01/01", LastDateOfYear_MMDD(y), AddYear, y));
  }
  append(ListAllDatesInBetween("01/01", ToDate_MMDD, AddYear, ToYear_YYYY));
  return result;
}

namespace {
// Field of every date of the cross-year list: 0 year, 1 month, 2 day.
std::vector<int> ListFieldOfDates(const std::string& from, const std::string& to, int from_year,
                                  int to_year, int field) {
  const std::vector<std::string> dates =
      TZelCalcUtils::ListAllDatesInBetweenWithYear(from, to, from_year, to_year, true);
  std::vector<int> result;
  result.reserve(dates.size());
  for (const std::string& date : dates) {  // "YYYY/MM/DD"
    const int pos = field == 0 ? 1 : (field == 1 ? 6 : 9);
    result.push_back(StrToInt(Copy(date, pos, field == 0 ? 4 : 2)));
  }
  return result;
}
}  // namespace

std::vector<int> TZelCalcUtils::ListDaysOfAllDatesInBetweenWithYear(
    const std::string& FromDate_MMDD, const std::string& ToDate_MMDD, int FromYear_YYYY,
    int ToYear_YYYY) {
  return ListFieldOfDates(FromDate_MMDD, ToDate_MMDD, FromYear_YYYY, ToYear_YYYY, 2);
}

std::vector<int> TZelCalcUtils::ListMonthsOfAllDatesInBetweenWithYear(
    const std::string& FromDate_MMDD, const std::string& ToDate_MMDD, int FromYear_YYYY,
    int ToYear_YYYY) {
  return ListFieldOfDates(FromDate_MMDD, ToDate_MMDD, FromYear_YYYY, ToYear_YYYY, 1);
}

std::vector<int> TZelCalcUtils::ListYearsOfAllDatesInBetweenWithYear(
    const std::string& FromDate_MMDD, const std::string& ToDate_MMDD, int FromYear_YYYY,
    int ToYear_YYYY) {
  return ListFieldOfDates(FromDate_MMDD, ToDate_MMDD, FromYear_YYYY, ToYear_YYYY, 0);
}

TDateComparisonResult TZelCalcUtils::CompareDates(const std::string& Date1_MMDD,
                                                  const std::string& Date2_MMDD, int Year1_YYYY,
                                                  int Year2_YYYY) {
  P::CheckDateFormat(Date1_MMDD, P::dfMMDD);
  P::CheckDateFormat(Date2_MMDD, P::dfMMDD);
  P::CheckYear_IntYYYY(Year1_YYYY);
  P::CheckYear_IntYYYY(Year2_YYYY);
  if (Year1_YYYY != Year2_YYYY) return Year1_YYYY < Year2_YYYY ? crLesser : crGreater;
  const int c = Date1_MMDD.compare(Date2_MMDD);
  return c < 0 ? crLesser : (c > 0 ? crGreater : crEqual);
}

bool TZelCalcUtils::CompareDates(const std::string& Date1_MMDD, const std::string& Date2_MMDD,
                                 int Year1_YYYY, int Year2_YYYY,
                                 TDateComparisonOperator ComparisonOperator) {
  return MatchComparisonResult(ComparisonOperator,
                               CompareDates(Date1_MMDD, Date2_MMDD, Year1_YYYY, Year2_YYYY));
}

TDateComparisonResult TZelCalcUtils::CompareDateTimes(const std::string& Date1_MMDD,
                                                      const std::string& Time1_HHNN,
                                                      const std::string& Date2_MMDD,
                                                      const std::string& Time2_HHNN, int Year1_YYYY,
                                                      int Year2_YYYY) {
  const TDateComparisonResult result = CompareDates(Date1_MMDD, Date2_MMDD, Year1_YYYY, Year2_YYYY);
  if (result != crEqual) return result;
  const int c = Time1_HHNN.compare(Time2_HHNN);
  return c < 0 ? crLesser : (c > 0 ? crGreater : crEqual);
}

bool TZelCalcUtils::CompareDateTimes(const std::string& Date1_MMDD, const std::string& Time1_HHNN,
                                     const std::string& Date2_MMDD, const std::string& Time2_HHNN,
                                     int Year1_YYYY, int Year2_YYYY,
                                     TDateComparisonOperator ComparisonOperator) {
  return MatchComparisonResult(
      ComparisonOperator,
      CompareDateTimes(Date1_MMDD, Time1_HHNN, Date2_MMDD, Time2_HHNN, Year1_YYYY, Year2_YYYY));
}

bool TZelCalcUtils::MatchComparisonResult(TDateComparisonOperator ComparisonOperator,
                                          TDateComparisonResult ComparisonResult) {
  switch (ComparisonOperator) {
    case coEqual:
      return ComparisonResult == crEqual;
    case coNotEqual:
      return ComparisonResult != crEqual;
    case coLesserEqual:
      return ComparisonResult == crLesser || ComparisonResult == crEqual;
    case coLesser:
      return ComparisonResult == crLesser;
    case coGreaterEqual:
      return ComparisonResult == crEqual || ComparisonResult == crGreater;
    case coGreater:
      return ComparisonResult == crGreater;
  }
  return false;
}

void TZelCalcUtils::CheckDateRange(const std::string& FromDate_MMDD, const std::string& ToDate_MMDD,
                                   int FromYear_YYYY, int ToYear_YYYY, bool AllowEqualDates) {
  if (!CompareDates(FromDate_MMDD, ToDate_MMDD, FromYear_YYYY, ToYear_YYYY,
                    AllowEqualDates ? coLesserEqual : coLesser)) {
    throw std::runtime_error(
        "FromDate is greater than ToDate! FromDate:" + std::to_string(FromYear_YYYY) + "/" +
        FromDate_MMDD + ", ToDate:" + std::to_string(ToYear_YYYY) + "/" + ToDate_MMDD +
        ", AllowEqual:" + (AllowEqualDates ? "True" : "False"));
  }
}

bool TZelCalcUtils::DateInRange(const std::string& FromDate_MMDD, const std::string& ToDate_MMDD,
                                const std::string& Date_MMDD, int FromYear_YYYY, int ToYear_YYY,
                                int Year_YYYY) {
  CheckDateRange(FromDate_MMDD, ToDate_MMDD, FromYear_YYYY, ToYear_YYY, true);
  return CompareDates(Date_MMDD, FromDate_MMDD, Year_YYYY, FromYear_YYYY, coGreaterEqual) &&
         CompareDates(Date_MMDD, ToDate_MMDD, Year_YYYY, ToYear_YYY, coLesserEqual);
}

void TZelCalcUtils::GetNDatesAfter(int Year_YYYY, const std::string& Date_MMDD, int N,
                                   int& Result_YYYY, std::string& Result_MMDD) {
  StepDays(Year_YYYY, Date_MMDD, N, +1, Result_YYYY, Result_MMDD);
}

void TZelCalcUtils::GetNDatesBefor(int Year_YYYY, const std::string& Date_MMDD, int N,
                                   int& Result_YYYY, std::string& Result_MMDD) {
  StepDays(Year_YYYY, Date_MMDD, N, -1, Result_YYYY, Result_MMDD);
}

void TZelCalcUtils::GetNDatesFrom(int Year_YYYY, const std::string& Date_MMDD, int N,
                                  int& Result_YYYY, std::string& Result_MMDD) {
  if (N < 0) {
    GetNDatesBefor(Year_YYYY, Date_MMDD, -N, Result_YYYY, Result_MMDD);
  } else {
    GetNDatesAfter(Year_YYYY, Date_MMDD, N, Result_YYYY, Result_MMDD);
  }
}

void TZelCalcUtils::GetNextDate(int Year_YYYY, const std::string& Date_MMDD, int& Result_YYYY,
                                std::string& Result_MMDD) {
  GetNDatesAfter(Year_YYYY, Date_MMDD, 1, Result_YYYY, Result_MMDD);
}

void TZelCalcUtils::GetPrevDate(int Year_YYYY, const std::string& Date_MMDD, int& Result_YYYY,
                                std::string& Result_MMDD) {
  GetNDatesBefor(Year_YYYY, Date_MMDD, 1, Result_YYYY, Result_MMDD);
}

// ---------------- current date and conversions ----------------

std::string TZelCalcUtils::Today_YYYYMMDD() { return JalaliToday(); }

std::string TZelCalcUtils::Today_MMDD() { return Copy(JalaliToday(), 6, 5); }

std::string TZelCalcUtils::ConciseDateStr(DateTime ADate) {
  const JalaliDate d = DecodeJalaliDate(ADate);
  return P::Format_YYYYMMDD(d.year, d.month, d.day);
}

bool TZelCalcUtils::ChristianLeapYear(int Year) { return IsGregorianLeapYear(Year); }

DateTime TZelCalcUtils::SolarToChristianDate(int Y, int M, int D) {
  int b = 1;
  while (!IsLLeapYear(Y - b) && !ChristianLeapYear(Y + 622 - b)) ++b;
  const int offset = IsLLeapYear(Y - b) ? 20 : 19;
  const int day_of_year = M <= 7 ? (M - 1) * 31 + D : (M - 1) * 30 + D + 6;
  int month_days[12] = {
      31, ChristianLeapYear(Y + 622) ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 3;
  int day = day_of_year + offset;
  bool wrapped = false;
  while (day > month_days[month - 1]) {
    day -= month_days[month - 1];
    if (++month > 12) {
      month = 1;
      wrapped = true;
    }
  }
  return EncodeDate(wrapped ? Y + 622 : Y + 621, month, day);
}

std::string TZelCalcUtils::SolarToChristian(int Y, int M, int D) {
  int y = 0;
  int m = 0;
  int d = 0;
  DecodeDate(SolarToChristianDate(Y, M, D), y, m, d);
  return PadNumber(y, 4) + "/" + PadNumber(m, 2) + "/" + PadNumber(d, 2);
}

int TZelCalcUtils::DayOfWeek(const std::string& Date_YYYYMMDD) {
  int y = 0;
  int m = 0;
  int d = 0;
  P::Parse_YYYYMMDD(csJalali, Date_YYYYMMDD, y, m, d);
  return zel::dates::DayOfTheWeek(SolarToChristianDate(y, m, d));
}

TDate TZelCalcUtils::GetDateFromCalcUnit(int AMonth, int ADay) {
  return TDate{static_cast<std::uint8_t>(AMonth), static_cast<std::uint8_t>(ADay)};
}

std::string TZelCalcUtils::GetDateStrFromCalcUnit(const TDate& CDate) {
  return PadNumber(CDate.Month, 2) + "/" + PadNumber(CDate.Day, 2);
}

// ---------------- other ----------------

std::string TZelCalcUtils::DataBaseNameOfYearYYYY(const std::string& ADatabaseName, int Year_YYYY) {
  return ADatabaseName + "_" + std::to_string(Year_YYYY);
}

std::string TZelCalcUtils::SRepeat(char C, int Len) {
  return Len > 0 ? std::string(static_cast<size_t>(Len), C) : std::string();
}

std::string TZelCalcUtils::SLPadC(const std::string& S, int Width, char AChar) {
  if (Width <= 0 || S.size() >= static_cast<size_t>(Width)) return S;
  return std::string(static_cast<size_t>(Width) - S.size(), AChar) + S;
}

std::string TZelCalcUtils::GetHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof(name) - 1) != 0) return {};
  return name;
}

}  // namespace zel::dates
