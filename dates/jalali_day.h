// A Jalali day as one small value: year, month and day under a leap rule chosen by type (the
// 33-year rule of the calendar utilities, or the calculation rule the attendance calculations
// use for month lengths), with the month lengths of that rule, ok(), stepping across the year
// end and the "MM/DD" / "YYYY/MM/DD" texts. The date text functions are wrappers over this.
// Plain values and pure functions; any thread may use them.
#pragma once

#include <compare>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zel::dates {

// Days of Jalali month 1..12: 31 for months 1-6, 30 for 7-11, 30 or 29 for month 12 as the
// year is leap or not; 0 for any other month.
constexpr int JalaliMonthLength(int month, bool leap) {
  if (month < 1 || month > 12) return 0;
  if (month <= 6) return 31;
  if (month <= 11) return 30;
  return leap ? 30 : 29;
}

// The 33-year rule: year Y is leap when (Y - 1206) mod 33 is 4, 8, ..., 32. Every year.
struct CycleLeapRule {
  static bool Covers(int) { return true; }
  static bool IsLeap(int year);
};

// The calculations' rule: years 1300..1406 are leap when (Y - 1375) is divisible by 4, later
// years follow the 33-year rule (the two agree on 1375..1406). Years before 1300 are not
// covered: IsLeap raises "TZelCalcUtils.IsLLeapYear just accepts years in YYYY format!".
struct CalcLeapRule {
  static bool Covers(int year) { return year >= 1300; }
  static bool IsLeap(int year);
};

template <class LeapRule>
class BasicJalaliDay {
 public:
  // The empty day 0/00/00 (not ok).
  constexpr BasicJalaliDay() = default;
  constexpr explicit BasicJalaliDay(int year, int month, int day)
      : year_(year), month_(month), day_(day) {}
  // The day "MM/DD" (exactly two digits, "/", two digits) of `year`; any other text gives a
  // day with month 0 (not ok).
  explicit BasicJalaliDay(int year, std::string_view mmdd) : year_(year) {
    const auto digit = [&](std::size_t i) { return mmdd[i] >= '0' && mmdd[i] <= '9'; };
    if (mmdd.size() == 5 && mmdd[2] == '/' && digit(0) && digit(1) && digit(3) && digit(4)) {
      month_ = (mmdd[0] - '0') * 10 + (mmdd[1] - '0');
      day_ = (mmdd[3] - '0') * 10 + (mmdd[4] - '0');
    }
  }

  static bool IsLeap(int year) { return LeapRule::IsLeap(year); }
  // Days of the month (0 outside 1..12). The rule is asked for month 12 only, so months 1-11
  // of any year have their length and month 12 raises where the rule does.
  static int MonthDays(int year, int month) {
    return JalaliMonthLength(month, month == 12 && LeapRule::IsLeap(year));
  }
  static int YearDays(int year) { return LeapRule::IsLeap(year) ? 366 : 365; }

  int year() const { return year_; }
  int month() const { return month_; }
  int day() const { return day_; }

  // A real day: month 1..12 and day 1..its length. A month-12 day of a year the rule does not
  // cover is not ok. Never raises.
  bool ok() const {
    if (month_ < 1 || month_ > 12 || day_ < 1) return false;
    if (month_ == 12 && !LeapRule::Covers(year_)) return false;
    return day_ <= MonthDays(year_, month_);
  }
  bool IsLastOfYear() const { return ok() && month_ == 12 && day_ == MonthDays(year_, 12); }
  // 1 for 01/01 ... 365 or 366 for the year's last day (of an ok day).
  int DayOfYear() const { return month_ <= 7 ? (month_ - 1) * 31 + day_ : month_ * 30 + day_ - 24; }

  // The following / preceding day, across the year end. Raise what the rule raises for a day
  // of a month 12 it does not cover, and std::invalid_argument for any other day not ok.
  BasicJalaliDay Next() const { return AddDays(1); }
  BasicJalaliDay Prev() const { return AddDays(-1); }
  // The day n days later (earlier for a negative n), a month at a time.
  BasicJalaliDay AddDays(long long n) const {
    if (month_ < 1 || month_ > 12 || day_ < 1 || day_ > MonthDays(year_, month_)) {
      throw std::invalid_argument("not a Jalali day: " + YYYYMMDD());
    }
    int y = year_, m = month_, d = day_;
    while (n > 0) {
      const int rest = MonthDays(y, m) - d;  // days left in the month
      if (n <= rest) {
        d += static_cast<int>(n);
        break;
      }
      n -= rest + 1;
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
    while (n < 0) {
      if (-n < d) {
        d += static_cast<int>(n);
        break;
      }
      n += d;
      if (--m < 1) {
        m = 12;
        --y;
      }
      d = MonthDays(y, m);
    }
    return BasicJalaliDay(y, m, d);
  }

  // "MM/DD" and "YYYY/MM/DD", each number zero-padded.
  std::string MMDD() const { return Two(month_) + "/" + Two(day_); }
  std::string YYYYMMDD() const {
    std::string y = std::to_string(year_);
    if (year_ >= 0 && y.size() < 4) y.insert(0, 4 - y.size(), '0');
    return y + "/" + MMDD();
  }

  // Calendar order (year, month, day); days of different rules do not compare.
  friend constexpr auto operator<=>(const BasicJalaliDay&, const BasicJalaliDay&) = default;

 private:
  static std::string Two(int n) {
    return n >= 0 && n < 10 ? "0" + std::to_string(n) : std::to_string(n);
  }

  int year_ = 0;
  int month_ = 0;
  int day_ = 0;
};

// A day of the calendar (33-year rule) and a day of the calculations (calculation rule).
using JalaliDay = BasicJalaliDay<CycleLeapRule>;
using CalcDay = BasicJalaliDay<CalcLeapRule>;

}  // namespace zel::dates
