// The closing rules of a calculated day on its result record: shortfalls compensated by
// permitted extra work in the work group's priority order, the minimum extra work, and the
// sum of absences that turns the day into a whole-day absence.
// Pure functions; any thread may call them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "engine/daily_work_rec.h"

namespace zel::engine {

struct TExtraData;

// Takes up to `amount` minutes from the fields in order: each positive field gives what it
// has, until the amount is used up.
void ConsumeFrom(int amount, std::initializer_list<int32_t*> fields);

// Late arrival, unpermitted leave and early departure covered by permitted extra work, by
// priority levels 1 to 3, each kind with its rate (minutes covered by 60 minutes of extra
// work), bound and condition. Raises zel::dates::EConvertError when a priority is not a
// number.
void CompensateShortfalls(TDailyWorkRec& rec, const TExtraData& extra);

// Drops extra work before the working time, after it, and on a holiday when it is below the
// work group's minimum.
void ApplyMinimumExtraWork(TDailyWorkRec& rec, const TExtraData& extra);

// One numeric column of the day's DayWork row; `minutes` marks the minute totals (the
// others are codes, flags, money and settings).
struct DayWorkColumn {
  const char* name;
  int64_t value;
  bool minutes;
};

// The numeric columns of the DayWork row of a result record, in the order of the insert.
std::vector<DayWorkColumn> DayWorkColumns(const TDailyWorkRec& rec, const TExtraData& extra);

// The absences the option bits select: 1 ordinary leave, 2 late arrival, 4 early departure,
// 8 unpermitted leave.
int SumOfAbsences(const TDailyWorkRec& rec, int option);

}  // namespace zel::engine
