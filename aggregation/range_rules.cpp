#include "aggregation/range_rules.h"

#include <algorithm>
#include <charconv>

#include "dates/zel_calc_utils.h"
#include "util/parse_int.h"
#include "util/text.h"

namespace zel::aggregation {

namespace {

using dates::TZelCalcUtils;

int32_t Clamp32(int64_t v) { return static_cast<int32_t>(v); }

bool PriorityIs(const engine::CompensationRow& rule, int i) {
  if (!rule.PRIO) return false;
  return util::ParseInt<int>(util::TrimView(*rule.PRIO, util::kBlank)) == i;
}

}  // namespace

int32_t RoundDiv(int64_t num, int64_t den) {
  if (den < 0) {
    num = -num;
    den = -den;
  }
  int64_t q = num / den;
  int64_t r = num % den;
  if (r < 0) {  // floor division
    q -= 1;
    r += den;
  }
  // num/den = q + r/den with 0 <= r < den
  if (2 * r > den || (2 * r == den && (q % 2 != 0))) q += 1;
  return Clamp32(q);
}

int32_t Scale(int32_t value, int32_t part, int32_t whole) {
  if (part == whole || whole == 0) return value;
  return RoundDiv(static_cast<int64_t>(part) * value, whole);
}

namespace {

// The day's early and late permissions: counted and summed, or taken as leave when the
// group says so.
void AddPermissions(const DayWorkRow& d, const engine::WorkGroupRow& g, TRangeWorkRec& R) {
  if (g.Def_Early_Out_FromVacation == 1) {
    R.rwrOrdinaryMorkhasi += d.EarlyPermFirst + d.EarlyPermLast;
  } else {
    R.rwrEarlyPermCount += (d.EarlyPermFirst != 0) + (d.EarlyPermLast != 0);
    R.rwrEarlyPermAmount += d.EarlyPermFirst + d.EarlyPermLast;
  }
  if (g.Def_Late_In_FromVacation == 1) {
    R.rwrOrdinaryMorkhasi += d.LatePermFirst + d.LatePermLast;
  } else {
    R.rwrLatePermCount += (d.LatePermFirst != 0) + (d.LatePermLast != 0);
    R.rwrLatePermAmount += d.LatePermFirst + d.LatePermLast;
  }
}

// A paid day counts in the band of its pay percentage.
void CountPayBand(const DayWorkRow& d, const LeaveType& leave_type, TRangeWorkRec& R) {
  const bool waged_or_none = d.DailyMorkhasi == 0 || !leave_type.found || leave_type.IsWaged;
  if (!d.DailyAbsence && waged_or_none) {
    switch (d.PPercent) {
      case 0:
        R.rwrPPERCENT1Cnt += 1;
        break;
      case 1:
        R.rwrPPERCENT2Cnt += 1;
        break;
      case 2:
        R.rwrPPERCENT3Cnt += 1;
        break;
      case 3:
        R.rwrPPERCENT4Cnt += 1;
        break;
      default:
        break;
    }
  }
}

// The day's ordinary leave (a holiday inside a daily leave forgiven up to the group's number)
// and its holidays: suspended, in leave, or reduced and counted.
void AddLeaveAndHolidays(const DayWorkRow& d, const engine::WorkGroupRow& g, DaySums& s,
                         TRangeWorkRec& R) {
  if (d.OrdMor > 0 && d.DailyMorkhasi > 0 && d.Holiday == 1) {
    // A holiday inside a daily leave: the group forgives a number of them.
    if (s.UseHoliday < g.TATS_IN_MORKHASI) {
      s.UseHoliday += 1;
    } else {
      R.rwrOrdinaryMorkhasi += d.OrdMor;
    }
  } else {
    R.rwrOrdinaryMorkhasi += d.OrdMor;
    if (d.DailyMorkhasi == 0) s.HourlyOrdinary += d.OrdMor;
  }
  R.rwrKasrMorkhasi += d.KasrMor;

  if (d.Suspended > 0) {
    if (d.Holiday == 1) s.SuspH1 += 1;
    if (d.Holiday == 2) s.SuspH2 += 1;
  } else {
    if (d.DailyMorkhasi > 0 && d.Holiday == 1) s.LeaveH1 += 1;
    if (d.DailyMorkhasi > 0 && d.Holiday == 2) s.LeaveH2 += 1;
    s.SumReduce += d.ReduceHoliday;
    s.SumCounted += d.HolidaysCounted;
  }
}

}  // namespace

void AccumulateDay(const DayWorkRow& d, const engine::WorkGroupRow& g, const LeaveType& leave_type,
                   DaySums& s, TRangeWorkRec& R) {
  R.rwrCalWork += d.CalWork;
  R.rwrNightWork += d.NightWork;
  R.rwrServicePrice += d.ServicePrice;
  R.rwrMealPrice += d.MealPrice;
  R.rwrWorkTotal += d.WorkTotal;
  R.rwrExtraWorkTotal += d.ExtraWorkTotal;
  R.rwrNonWorkTotal += d.NonWorkTotal;
  R.rwrLeaveOfAbsPayed += d.LeaveOfAbsPay;
  R.rwrLeaveOfAbsNotPayed += d.LeaveOfAbsNoPay;
  R.rwrMission += d.Mission;
  R.rwrWork += d.WWork;
  R.rwrServiceLate += d.ServiceLate;

  AddPermissions(d, g, R);

  if (d.WorkTotal != 0 || (g.Is(engine::GroupType::kHourly) && d.Mission != 0))
    R.rwrDaysWorked += 1;

  CountPayBand(d, leave_type, R);

  R.rwrEWNormPerm += d.EW_NormPerm;
  R.rwrEWNormNotPerm += d.EW_NormNotPerm;
  R.rwrEWHoliPerm += d.EW_HoliPerm;
  R.rwrEWHoliNotPerm += d.EW_HoliNotPerm;
  R.rwrEWInMission += d.EW_InMission;
  R.rwrEWHoliInMission += d.EW_HoliInMission;
  R.rwrEWNormInMission += d.EW_NormInMission;
  R.rwrEWSpecial += d.EW_Special;
  R.rwrEWBreakNotPerm += d.EW_BreakNotPerm;
  R.rwrEWBreakPerm += d.EW_BreakPerm;
  R.rwrNWEarly += d.NW_Early_First + d.NW_Early_Last;
  R.rwrNWEarlyCnt += (d.NW_Early_First != 0) + (d.NW_Early_Last != 0);
  R.rwrNWLeaveNotPerm += d.NW_LeaveNotPerm;
  R.rwrNWLeaveNotPermCnt += d.NW_LeaveNotPerm != 0;
  R.rwrNWAbsent += d.NW_Absent;
  R.rwrNWAbsentCnt += d.NW_Absent != 0;
  R.rwrNWSpecial += d.NW_Special;
  R.rwrWorkPresenceInDMor += d.PresenceInDMor;
  R.rwrWorkPresenceInDMam += d.PresenceInDMam;

  AddLeaveAndHolidays(d, g, s, R);

  if (d.DailyAbsence || d.Suspended > 0) s.Unpaid += 1;
  if (d.DailyMorkhasi != 0 && leave_type.found && !leave_type.IsWaged) s.Unpaid += 1;

  if (d.NW_Late_First != 0) s.Lates.push_back(d.NW_Late_First);
  if (d.NW_Late_Last != 0) s.Lates.push_back(d.NW_Late_Last);

  if (d.WorkTotal > 0 || d.ExtraWorkTotal - d.EW_InMission > 0) R.rwrDaysPresent += 1;
}

void ApplyLateRules(const std::vector<int32_t>& lates, const engine::WorkGroupRow& g,
                    TRangeWorkRec& R) {
  int32_t sum = 0;
  bool all_small = true;
  for (int32_t late : lates) {
    sum += late;
    all_small = all_small && late <= g.TAKHIR_AMOUNT;
  }
  const int32_t n = static_cast<int32_t>(lates.size());
  if (g.TAKHIRCNT >= n && g.TAKHIRTOT >= sum && all_small) {
    R.rwrForgivenLateCount = n;
    R.rwrForgivenLateAmount = sum;
    R.rwrNonWorkTotal -= sum;
  } else if (g.TAKHIRSTAT == 2) {
    R.rwrNWLate = sum;
    R.rwrNWLateCnt = n;
  } else {
    std::vector<int32_t> sorted = lates;
    std::sort(sorted.begin(), sorted.end());
    int32_t i = 0;
    int32_t forgiven = 0;
    for (int32_t late : sorted) {
      if (late > g.TAKHIR_AMOUNT) continue;
      if (i >= g.TAKHIRCNT) break;
      if (forgiven + late > g.TAKHIRTOT) {
        forgiven = g.TAKHIRTOT;
        break;
      }
      forgiven += late;
      i += 1;
    }
    R.rwrForgivenLateCount = i;
    R.rwrForgivenLateAmount = forgiven;
    R.rwrNonWorkTotal -= forgiven;
    R.rwrNWLate = sum - forgiven;
    R.rwrNWLateCnt = n - i;
  }
  // Forgiven lates taken as leave.
  if (g.Def_Late_In_FromVacation == 1 && R.rwrForgivenLateAmount > 0) {
    R.rwrOrdinaryMorkhasi += R.rwrForgivenLateAmount;
    R.rwrForgivenLateAmount = 0;
    R.rwrForgivenLateCount = 0;
  }
}

void ApplyCompensation(const engine::WorkGroupRow& g, TRangeWorkRec& R) {
  int32_t* deficits[4] = {&R.rwrNWEarly, &R.rwrNWLate, &R.rwrNWLeaveNotPerm, &R.rwrNWAbsent};
  for (int i = 1; i <= 4; ++i) {
    for (int x = 0; x < 4; ++x) {
      const engine::CompensationRow& rule = g.Month[x];
      if (!PriorityIs(rule, i)) continue;
      int32_t& field = *deficits[x];
      int32_t def = field;
      const int32_t rate = rule.Rate;
      if (rate < 1) break;
      if (def > rule.Bound) {
        if (rule.Condition == 2) break;
        if (rule.Condition == 1) def = rule.Bound;
      }
      int32_t avail = R.rwrEWNormPerm + R.rwrEWHoliPerm + R.rwrEWInMission + R.rwrEWSpecial;
      if (static_cast<int64_t>(rate) * avail / 60 < def) {
        R.rwrExtraWorkTotal -= avail;
        int32_t take = avail;
        TZelCalcUtils::DecValue(take, R.rwrEWNormPerm);
        TZelCalcUtils::DecValue(take, R.rwrEWInMission);
        TZelCalcUtils::DecValue(take, R.rwrEWSpecial);
        TZelCalcUtils::DecValue(take, R.rwrEWHoliPerm);
        int32_t cov = Clamp32(static_cast<int64_t>(rate) * avail / 60);
        R.rwrNonWorkTotal -= cov;
        TZelCalcUtils::DecValue(cov, field);
      } else {
        R.rwrNonWorkTotal -= def;
        int32_t taken = def;
        TZelCalcUtils::DecValue(taken, field);
        int32_t used = Clamp32(static_cast<int64_t>(def) * 60 / rate);
        R.rwrExtraWorkTotal -= used;
        TZelCalcUtils::DecValue(used, R.rwrEWNormPerm);
        TZelCalcUtils::DecValue(used, R.rwrEWInMission);
        TZelCalcUtils::DecValue(used, R.rwrEWSpecial);
        TZelCalcUtils::DecValue(used, R.rwrEWHoliPerm);
      }
    }
  }
}

namespace {

// The leave balance carried in, held between the group's transfer bounds, with the range's
// special leave added (extra) and taken (deducted).
int32_t CarriedIn(const engine::WorkGroupRow& g, const RangeFacts& f, TRangeWorkRec& R) {
  int32_t D = f.Carried;
  if (D < g.MMinTrans) D = g.MMinTrans;
  if (D > g.MMaxTrans) D = g.MMaxTrans;
  if (f.HasSpecMor0) {
    R.rwrExtraMorSpecial += f.SpecMor0;
    D += f.SpecMor0;
  }
  if (f.HasSpecMor1) {
    R.rwrKasrMorSpecial += f.SpecMor1;
    D -= f.SpecMor1;
  }
  return D;
}

}  // namespace

void ApplyRangeRules(const engine::WorkGroupRow& g, const DaySums& s, const RangeFacts& f,
                     TRangeWorkRec& R) {
  // Holiday split.
  const int32_t A = R.rwrNonWorkTotal + s.SumReduce;
  const int32_t duty = f.Duty - s.SumCounted;
  const int32_t rest = duty - A;
  const int32_t limit = Scale(g.KASR_TAT, f.Days, f.FullDays);
  R.rwrHGMinutes = R.rwrHGDays = R.rwrHTMinutes = R.rwrHTDays = 0;
  if (duty != 0) {
    const int32_t L = f.CalH1 - s.SuspH1 - s.LeaveH1;
    const int64_t LP = static_cast<int64_t>(L) * f.Param;
    R.rwrHGMinutes = A < limit ? Clamp32(LP) : RoundDiv(static_cast<int64_t>(rest) * LP, duty);
    R.rwrHTMinutes = Clamp32(LP - R.rwrHGMinutes);
    const int32_t N = f.CalH2 + f.CalH1 - s.SuspH2 - s.SuspH1 - s.LeaveH1 - s.LeaveH2;
    R.rwrHGDays = A < limit ? N : RoundDiv(static_cast<int64_t>(rest) * N, duty);
    R.rwrHTDays = N - R.rwrHGDays;
  }
  R.rwrPayingDays = f.Days - s.Unpaid - R.rwrHTDays;

  // Leave entitlement.
  const int32_t ration = Scale(g.MAH_ABS_OK, f.Days, f.FullDays);
  const int32_t limit_k = Scale(g.KASR_MOR, f.Days, f.FullDays);
  const int32_t B =
      R.rwrNonWorkTotal < limit_k ? R.rwrKasrMorkhasi : R.rwrNonWorkTotal + R.rwrKasrMorkhasi;
  R.rwrMorkhasiRation =
      duty != 0 ? RoundDiv((static_cast<int64_t>(duty) - B) * ration, duty) : ration;
  if (R.rwrMorkhasiRation < 0) R.rwrMorkhasiRation = 0;

  // Carried balance.
  const int32_t D = CarriedIn(g, f, R);

  // Hourly leave import.
  R.rwrOrdinaryMorkhasi -= std::min(s.HourlyOrdinary, g.Imp_HurOrdMor);

  // Special extra work and absence of the range.
  if (f.HasSpecExt0) {
    R.rwrEWSpecial += f.SpecExt0;
    R.rwrExtraWorkTotal += f.SpecExt0;
  }
  if (f.HasSpecExt1) {
    R.rwrNWSpecial += f.SpecExt1;
    R.rwrNonWorkTotal += f.SpecExt1;
  }

  ApplyCompensation(g, R);

  // Short absences taken as leave.
  const int32_t X = R.rwrNonWorkTotal - R.rwrNWAbsent - R.rwrNWSpecial;
  if (X > g.MaxMPNonWork) {
    if (g.MaxMPNonWorkState == "0") {
      R.rwrOrdinaryMorkhasi += g.MaxMPNonWork;
      R.rwrNonWorkTotal -= g.MaxMPNonWork;
    }
  } else {
    R.rwrOrdinaryMorkhasi += X;
    R.rwrNonWorkTotal = R.rwrNWAbsent + R.rwrNWSpecial;
  }

  R.rwrMorkhasiLeft = R.rwrMorkhasiRation + D - R.rwrOrdinaryMorkhasi;
  R.rwrPYMorLeftUsed = 0;
}

void CoverEducationLeave(int32_t SumAmount, int32_t DailySum, int32_t CountDays, TRangeWorkRec& R) {
  if (SumAmount <= 0) return;
  int32_t edu = SumAmount;
  int32_t* buckets[4] = {&R.rwrEWNormPerm, &R.rwrEWHoliPerm, &R.rwrEWInMission, &R.rwrEWSpecial};
  for (int32_t* bucket : buckets) {
    if (*bucket > 0 && edu > 0) {
      const int32_t m = std::min(*bucket, edu);
      R.rwrExtraWorkTotal -= m;
      R.rwrLeaveOfAbsNotPayed -= m;
      TZelCalcUtils::DecValue(*bucket, edu);
    }
  }
  if (R.rwrMorkhasiLeft > 0 && edu > 0) {
    const int32_t m = std::min(R.rwrMorkhasiLeft, edu);
    R.rwrLeaveOfAbsNotPayed -= m;
    TZelCalcUtils::DecValue(R.rwrMorkhasiLeft, edu);
  }
  // The days of daily education leave are paid only when the daily leaves sum above 0.
  if (DailySum > 0 && CountDays > 0 && edu < SumAmount) {
    const int32_t covered = SumAmount - edu;
    // A daily sum below the number of days gives 0 minutes a day: then every day counts,
    // rather than dividing by 0.
    const int32_t per_day = DailySum / CountDays;
    const int32_t days =
        covered < DailySum && per_day != 0 ? RoundDiv(covered, per_day) : CountDays;
    R.rwrPayingDays += days;
  }
}

void ApplyExtraWorkPermission(int32_t Permitted, int32_t Option, TRangeWorkRec& R) {
  int32_t& NP = R.rwrEWNormPerm;
  int32_t& NN = R.rwrEWNormNotPerm;
  int32_t& HP = R.rwrEWHoliPerm;
  int32_t& HN = R.rwrEWHoliNotPerm;
  if (Option == 1) {
    if (Permitted >= NN + HN) {
      NP += NN;
      HP += HN;
      NN = HN = 0;
    } else if (Permitted >= NN) {
      const int32_t h = std::min(HN, Permitted - NN);
      NP += NN;
      NN = 0;
      HN -= h;
      HP += h;
    } else {
      NN -= Permitted;
      NP += Permitted;
    }
    return;
  }
  const int32_t perm = NP + HP;
  if (Permitted >= NN + HN + perm) {
    NP += NN;
    HP += HN;
    NN = HN = 0;
  } else if (Permitted < perm) {
    int32_t excess = perm - Permitted;
    const int32_t from_np = std::min(NP, excess);
    NP -= from_np;
    NN += from_np;
    excess -= from_np;
    HP -= excess;
    HN += excess;
  } else {
    int32_t shortfall = Permitted - perm;
    const int32_t from_nn = std::min(NN, shortfall);
    NN -= from_nn;
    NP += from_nn;
    shortfall -= from_nn;
    HN -= shortfall;
    HP += shortfall;
  }
}

int32_t ScaledWorkBound(int32_t bound, int32_t range_days, int32_t full_days, int32_t holidays) {
  if (full_days == holidays) return 0;
  return RoundDiv(static_cast<int64_t>(bound) * (range_days - holidays), full_days - holidays);
}

void ApplyHourlyRules(const engine::WorkGroupRow& g, const RangeFacts& f, int32_t T,
                      TRangeWorkRec& R) {
  R.rwrEWNormNotPerm = R.rwrEWNormPerm = R.rwrExtraWorkTotal = R.rwrNonWorkTotal = 0;
  const int32_t max = g.MAX_KARKARD, min = g.MIN_KARKARD;
  if (max > 0 && R.rwrWorkTotal > max) {
    R.rwrEWNormNotPerm = R.rwrWorkTotal - max;
    R.rwrExtraWorkTotal += R.rwrEWNormNotPerm;
    R.rwrWorkTotal = max;
  } else if (min > 0 && R.rwrWorkTotal < min) {
    R.rwrNonWorkTotal = min - R.rwrWorkTotal;
  }
  if (g.MandeMorForSaati != 1) return;
  const int32_t D = CarriedIn(g, f, R);
  R.rwrMorkhasiRation = g.MAH_ABS_OK;
  R.rwrMorkhasiLeft = R.rwrMorkhasiRation + D - R.rwrOrdinaryMorkhasi;
  if (R.rwrWorkTotal < min) {
    if (R.rwrMorkhasiLeft + T < min - R.rwrWorkTotal) {
      R.rwrWorkTotal += R.rwrMorkhasiLeft + T;
      R.rwrNonWorkTotal -= R.rwrMorkhasiLeft + T;
      R.rwrMorkhasiLeft = -T;
    } else {
      R.rwrMorkhasiLeft += R.rwrWorkTotal - min;
      R.rwrWorkTotal = min;
      R.rwrNonWorkTotal = 0;
    }
  }
}

void EmploymentSpans::Add(const std::string& begin, const std::string& end) {
  if (end < begin) {
    if (bad_begin.empty() && bad_end.empty()) {
      bad_begin = begin;
      bad_end = end;
    }
    return;
  }
  Span added{begin, end};
  std::vector<Span> kept;
  for (const Span& s : spans) {
    if (s.end < added.begin || added.end < s.begin) {
      kept.push_back(s);
    } else {
      added.begin = std::min(added.begin, s.begin);
      added.end = std::max(added.end, s.end);
    }
  }
  kept.push_back(added);
  std::sort(kept.begin(), kept.end(),
            [](const Span& a, const Span& b) { return a.begin < b.begin; });
  spans = std::move(kept);
}

bool EmploymentSpans::Covers(const std::string& day) const {
  for (const Span& s : spans) {
    if (s.begin <= day && day <= s.end) return true;
  }
  return false;
}

bool EmploymentSpans::Part(const std::string& from, const std::string& to, std::string& first,
                           std::string& last) const {
  bool found = false;
  for (const Span& s : spans) {
    if (s.end < from || to < s.begin) continue;
    const std::string& b = std::max(s.begin, from);
    const std::string& e = std::min(s.end, to);
    if (!found || b < first) first = b;
    if (!found || e > last) last = e;
    found = true;
  }
  return found;
}

std::string EmploymentSpans::EndBefore(const std::string& day) const {
  std::string end;
  for (const Span& s : spans) {
    if (s.end < day && s.end > end) end = s.end;
  }
  return end;
}

const char* PersianMonthName(int month) {
  static const char* const kNames[12] = {"فروردين", "ارديبهشت", "خرداد", "تير", "مرداد", "شهريور",
                                         "مهر",     "آبان",     "آذر",   "دي",  "بهمن",  "اسفند"};
  return month >= 1 && month <= 12 ? kNames[month - 1] : "";
}

}  // namespace zel::aggregation
