// The result record of one calculated day: the minute counters the presence processing adds
// to, the day's flags and prices, and the day's first and last moments. Zeroed at the start of
// every day and written as the day's DayWork row.
// A plain value owned by one calculation data module; used by that module's thread only.
#pragma once

#include <cstdint>
#include <string>

namespace zel::engine {

struct TDailyWorkRec {
  int32_t dwrNightWork = 0;
  int32_t dwrWorkTotal = 0;
  int32_t dwrLeaveOfAbsPayed = 0;
  int32_t dwrLeaveOfAbsNotPayed = 0;
  int32_t dwrMission = 0;
  int32_t dwrWork = 0;
  int32_t dwrServiceLate = 0;
  int32_t dwrEarlyPermFirst = 0;
  int32_t dwrEarlyPermLast = 0;
  int32_t dwrLatePermFirst = 0;
  int32_t dwrLatePermLast = 0;
  int32_t dwrExtraWorkTotal = 0;
  int32_t dwrEWNormPermBefore = 0;
  int32_t dwrEWNormPermAfter = 0;
  int32_t dwrEWNormNotPermBefore = 0;
  int32_t dwrEWNormNotPermAfter = 0;
  int32_t dwrEWHoliPerm = 0;
  int32_t dwrEWHoliNotPerm = 0;
  int32_t dwrEWInMission = 0;
  int32_t dwrEWHoliInMission = 0;
  int32_t dwrEWNormInMission = 0;
  int32_t dwrEWSpecial = 0;
  int32_t dwrEWBreakNotPerm = 0;
  int32_t dwrEWBreakPerm = 0;
  int32_t dwrNonWorkTotal = 0;
  int32_t dwrNWEarlyFirst = 0;
  int32_t dwrNWEarlyLast = 0;
  int32_t dwrNWLateFirst = 0;
  int32_t dwrNWLateLast = 0;
  int32_t dwrNWLeaveNotPerm = 0;
  int32_t dwrNWAbsent = 0;
  int32_t dwrNWSpecial = 0;
  int32_t dwrDailyMorkhasi = 0;  // leave type code of the day's daily leave, 0 when none
  int32_t dwrDailyMamuriat = 0;  // mission type code of the day's daily mission, 0 when none
  bool dwrDailyAbsence = false;
  int32_t dwrHoliday = 0;
  bool dwrSuspended = false;
  int32_t dwrPresenceInDailyMorkhasi = 0;
  int32_t dwrPresenceInDailyMamuriat = 0;
  int32_t dwrKasrMorkhasi = 0;
  int32_t dwrOrdinaryMorkhasi = 0;
  int32_t dwrReduceHoliday = 0;
  int32_t dwrHolidaysCounted = 0;
  int64_t dwrServicePrice = 0;  // money
  int64_t dwrMealPrice = 0;     // money
  std::string dwrBeginStr;      // "MM/DD" + "HH:NN" of the first stored stretch
  std::string dwrEndStr;        // the latest end of a stored stretch, same layout
  std::string dwrFirstBeginDate, dwrFirstBeginTime;  // first clock entry of the day
  std::string dwrLastEndDate, dwrLastEndTime;        // last clock exit of the day
};

}  // namespace zel::engine
