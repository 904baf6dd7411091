// The calculation's day value: a Jalali month and day without the year, as the attendance
// calculation keeps it. A plain value; any thread may use it.
#pragma once

#include <cstdint>

namespace zel::dates {

struct TDate {
  std::uint8_t Month = 0;  // 1..12
  std::uint8_t Day = 0;    // 1..31
  bool operator==(const TDate&) const = default;
};

}  // namespace zel::dates
