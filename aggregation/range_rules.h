// The monthly rules of a work group as pure functions over a month's or a period's
// accumulator: the sum of the daily rows, late forgiveness, the holiday pay split, the leave
// entitlement, compensation of deficits by extra work, short absences taken as leave, the
// leave balance, education leave, the extra-work permission and the hourly groups.
// Stateless; any thread may call them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/base_tables.h"
#include "engine/daily_codes.h"

namespace zel::aggregation {

// The totals of a month or a period (all amounts in minutes unless called days or counts).
struct TRangeWorkRec {
  int32_t rwrNightWork = 0;
  int32_t rwrWorkTotal = 0;
  int32_t rwrExtraWorkTotal = 0;
  int32_t rwrNonWorkTotal = 0;
  int32_t rwrLeaveOfAbsPayed = 0;
  int32_t rwrLeaveOfAbsNotPayed = 0;
  int32_t rwrLeaveOfAbsAlloted = 0;
  int32_t rwrMission = 0;
  int32_t rwrWork = 0;
  int32_t rwrServiceLate = 0;
  int32_t rwrEarlyPermCount = 0;
  int32_t rwrEarlyPermAmount = 0;
  int32_t rwrLatePermCount = 0;
  int32_t rwrLatePermAmount = 0;
  int32_t rwrDaysWorked = 0;
  int32_t rwrEWNormPerm = 0;
  int32_t rwrEWNormNotPerm = 0;
  int32_t rwrEWHoliPerm = 0;
  int32_t rwrEWHoliNotPerm = 0;
  int32_t rwrEWInMission = 0;
  int32_t rwrEWHoliInMission = 0;
  int32_t rwrEWNormInMission = 0;
  int32_t rwrEWSpecial = 0;
  int32_t rwrEWBreakNotPerm = 0;
  int32_t rwrEWBreakPerm = 0;
  int32_t rwrNWEarly = 0;
  int32_t rwrNWEarlyCnt = 0;
  int32_t rwrNWLate = 0;
  int32_t rwrNWLateCnt = 0;
  int32_t rwrNWLeaveNotPerm = 0;
  int32_t rwrNWLeaveNotPermCnt = 0;
  int32_t rwrNWAbsent = 0;
  int32_t rwrNWAbsentCnt = 0;
  int32_t rwrNWSpecial = 0;
  int32_t rwrWorkPresenceInDMor = 0;
  int32_t rwrWorkPresenceInDMam = 0;
  int32_t rwrForgivenLateCount = 0;
  int32_t rwrForgivenLateAmount = 0;
  int32_t rwrHGMinutes = 0;
  int32_t rwrHGDays = 0;
  int32_t rwrHTMinutes = 0;
  int32_t rwrHTDays = 0;
  int32_t rwrDaysPresent = 0;
  int32_t rwrMorkhasiLeft = 0;
  int32_t rwrPYMorLeftUsed = 0;
  int32_t rwrExtraMorSpecial = 0;
  int32_t rwrKasrMorSpecial = 0;
  int32_t rwrMorkhasiRation = 0;
  int32_t rwrPayingDays = 0;
  int32_t rwrKasrMorkhasi = 0;
  int32_t rwrOrdinaryMorkhasi = 0;
  int32_t rwrServicePrice = 0;
  int32_t rwrMealPrice = 0;
  int32_t rwrCalWork = 0;
  int32_t rwrPPERCENT1Cnt = 0;
  int32_t rwrPPERCENT2Cnt = 0;
  int32_t rwrPPERCENT3Cnt = 0;
  int32_t rwrPPERCENT4Cnt = 0;
};

// Round half to even of num / den (den non-zero), exact on integers.
int32_t RoundDiv(int64_t num, int64_t den);
// value scaled by part / whole, rounded half to even; value itself when part equals whole
// or whole is 0.
int32_t Scale(int32_t value, int32_t part, int32_t whole);

// What a leave type says of itself; found false when the code names no type.
struct LeaveType {
  bool found = false;
  bool IsDaily = false, IsOrdinary = false, IsWaged = false, Education = false;
};

// One DayWork row, as far as the sums read it.
struct DayWorkRow {
  std::string DDate;  // trimmed
  int32_t CalWork = 0, NightWork = 0, ServicePrice = 0, MealPrice = 0, WorkTotal = 0,
          ExtraWorkTotal = 0, NonWorkTotal = 0, LeaveOfAbsPay = 0, LeaveOfAbsNoPay = 0, Mission = 0,
          WWork = 0, ServiceLate = 0;
  int32_t EarlyPermFirst = 0, EarlyPermLast = 0, LatePermFirst = 0, LatePermLast = 0;
  bool DailyAbsence = false;
  int32_t DailyMorkhasi = 0;
  int32_t PPercent = 0;
  int32_t EW_NormPerm = 0, EW_NormNotPerm = 0, EW_HoliPerm = 0, EW_HoliNotPerm = 0,
          EW_InMission = 0, EW_HoliInMission = 0, EW_NormInMission = 0, EW_Special = 0,
          EW_BreakNotPerm = 0, EW_BreakPerm = 0;
  int32_t NW_Early_First = 0, NW_Early_Last = 0, NW_LeaveNotPerm = 0, NW_Absent = 0, NW_Special = 0,
          NW_Late_First = 0, NW_Late_Last = 0;
  int32_t PresenceInDMor = 0, PresenceInDMam = 0;
  int32_t OrdMor = 0, KasrMor = 0, Holiday = 0, Suspended = 0;
  int32_t ReduceHoliday = 0, HolidaysCounted = 0;
};

// What the sum of the days gathers beside the accumulator.
struct DaySums {
  int32_t UseHoliday = 0;      // holidays inside daily leave forgiven so far (k)
  int32_t HourlyOrdinary = 0;  // ordinary leave of days without a daily leave
  int32_t SuspH1 = 0, SuspH2 = 0, LeaveH1 = 0, LeaveH2 = 0;
  int32_t SumReduce = 0, SumCounted = 0;
  int32_t Unpaid = 0;          // unpaid day counter
  std::vector<int32_t> Lates;  // non-zero lates in day order
};

// Adds one day to the accumulator. `leave_type` is the type of the row's DailyMorkhasi.
void AccumulateDay(const DayWorkRow& row, const engine::WorkGroupRow& group,
                   const LeaveType& leave_type, DaySums& sums, TRangeWorkRec& R);

// Late forgiveness (and lates taken as leave when the group says so).
void ApplyLateRules(const std::vector<int32_t>& lates, const engine::WorkGroupRow& group,
                    TRangeWorkRec& R);

// The inputs of the rules that follow the sums.
struct RangeFacts {
  int32_t Param = 0;  // M_Param of the month or period
  int32_t Duty = 0;   // calendar duty in minutes (before the counted holidays)
  int32_t CalH1 = 0, CalH2 = 0;
  int32_t Days = 0;      // days calculated (clamped range)
  int32_t FullDays = 0;  // days of the whole month or period
  int32_t Carried = 0;   // carried leave balance D
  bool HasSpecMor0 = false, HasSpecMor1 = false;
  int32_t SpecMor0 = 0, SpecMor1 = 0;  // MSMorDef kinds 0 and 1
  bool HasSpecExt0 = false, HasSpecExt1 = false;
  int32_t SpecExt0 = 0, SpecExt1 = 0;  // MSExtDef kinds 0 and 1
};

// The holiday split, the entitlement, the carried balance, the hourly-leave import, the
// special extra work and absence, the compensation, the short absences taken as leave and
// the leave balance, in that order.
void ApplyRangeRules(const engine::WorkGroupRow& group, const DaySums& sums,
                     const RangeFacts& facts, TRangeWorkRec& R);

// The compensation of deficits alone (part of ApplyRangeRules).
void ApplyCompensation(const engine::WorkGroupRow& group, TRangeWorkRec& R);

// Education leave (sum, daily sum and count of days) covered from the permitted extra work
// and then from the leave balance; the days covered are paid.
void CoverEducationLeave(int32_t SumAmount, int32_t DailySum, int32_t CountDays, TRangeWorkRec& R);

// Moves extra work between permitted and not permitted by the month's permission.
// Option 1: the permission covers not-permitted extra work; otherwise it is the total.
void ApplyExtraWorkPermission(int32_t Permitted, int32_t Option, TRangeWorkRec& R);

// The work bound of group types 5 and 6 scaled by the ratio of days calculated to days of
// the range, holidays left out of both; 0 when the range has only holidays.
int32_t ScaledWorkBound(int32_t bound, int32_t range_days, int32_t full_days, int32_t holidays);

// Hourly groups: the month's work inside MIN_KARKARD..MAX_KARKARD; with MandeMorForSaati
// the balance (carried D, special leave, transferable T) fills a shortfall.
void ApplyHourlyRules(const engine::WorkGroupRow& group, const RangeFacts& facts, int32_t T,
                      TRangeWorkRec& R);

// A person's employment: the days of any of his JobInfo rows (a rehire or a second row
// entered by mistake gives several), as "YYYY/MM/DD" texts compared as texts. A row whose
// end lies before its begin covers no day.
struct EmploymentSpans {
  struct Span {
    std::string begin, end;
  };
  std::vector<Span> spans;         // rows covering days, by begin, overlaps merged
  std::string bad_begin, bad_end;  // the first row covering no day, if any
  // Adds a row's dates (empty texts already replaced by the caller's defaults).
  void Add(const std::string& begin, const std::string& end);
  bool Covers(const std::string& day) const;
  // The first and the last employed day of from..to; false when there is none.
  bool Part(const std::string& from, const std::string& to, std::string& first,
            std::string& last) const;
  // The end of the last row ending before the day ("" when none).
  std::string EndBefore(const std::string& day) const;
};

// The Persian name of month 1..12.
const char* PersianMonthName(int month);

}  // namespace zel::aggregation
