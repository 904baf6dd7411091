#include "dates/jalali_day.h"

#include "dates/jalali.h"

namespace zel::dates {

bool CycleLeapRule::IsLeap(int year) { return IsJalaliLeapYear(year); }

bool CalcLeapRule::IsLeap(int year) {
  if (!Covers(year)) {
    throw std::runtime_error("TZelCalcUtils.IsLLeapYear just accepts years in YYYY format!");
  }
  if (year > 1406) return IsJalaliLeapYear(year);
  return (year - 1375) % 4 == 0;
}

}  // namespace zel::dates
