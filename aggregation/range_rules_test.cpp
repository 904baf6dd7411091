#include "aggregation/range_rules.h"

#include <gtest/gtest.h>

namespace zel::aggregation {
namespace {

TEST(RangeRules, RoundDivRoundsHalfToEven) {
  const struct {
    int64_t num, den;
    int32_t expected;
  } cases[] = {{5, 2, 2}, {7, 2, 4},   {-5, 2, -2}, {-7, 2, -4}, {1, 3, 0},
               {2, 3, 1}, {5, -2, -2}, {9, 3, 3},   {-1, 3, 0},  {-2, 3, -1}};
  for (const auto& c : cases) {
    EXPECT_EQ(RoundDiv(c.num, c.den), c.expected) << c.num << "/" << c.den;
  }
  EXPECT_EQ(Scale(300, 10, 31), 97);  // 96.77
  EXPECT_EQ(Scale(300, 31, 31), 300);
  EXPECT_EQ(ScaledWorkBound(9000, 10, 31, 4), 2000);  // 9000 * 6 / 27 = 2000
  EXPECT_EQ(ScaledWorkBound(9000, 10, 4, 4), 0);
}

TEST(RangeRules, LateForgiveness) {
  // clang-format off
  const struct {
    const char* name;
    std::vector<int32_t> lates;
    int32_t cnt, tot, amount, stat;
    int32_t late_from_vacation;
    int32_t forgiven_count, forgiven_amount, nw_late, nw_late_cnt, non_work, ordinary;
  } cases[] = {
      // Two of three forgiven; 40 is above the largest single late.
      {"walk", {40, 5, 10}, 2, 30, 20, 0, 0, 2, 15, 40, 1, 1000 - 15, 0},
      {"all small", {5, 10}, 2, 30, 20, 0, 0, 2, 15, 0, 0, 1000 - 15, 0},
      {"stat 2", {5, 10, 40}, 2, 30, 20, 2, 0, 0, 0, 55, 3, 1000, 0},
      // 10 forgiven; 10 + 15 would pass 20: the forgiven amount becomes 20.
      {"total cuts", {15, 10}, 5, 20, 30, 0, 0, 1, 20, 5, 1, 1000 - 20, 0},
      {"count cuts", {3, 2, 1}, 1, 60, 30, 0, 0, 1, 1, 5, 2, 1000 - 1, 0},
      {"as leave", {5, 10}, 2, 30, 20, 0, 1, 0, 0, 0, 0, 1000 - 15, 15},
      {"none", {}, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1000, 0},
  };
  // clang-format on
  for (const auto& c : cases) {
    engine::WorkGroupRow g;
    g.TAKHIRCNT = c.cnt;
    g.TAKHIRTOT = c.tot;
    g.TAKHIR_AMOUNT = c.amount;
    g.TAKHIRSTAT = c.stat;
    g.Def_Late_In_FromVacation = c.late_from_vacation;
    TRangeWorkRec R;
    R.rwrNonWorkTotal = 1000;
    ApplyLateRules(c.lates, g, R);
    EXPECT_EQ(R.rwrForgivenLateCount, c.forgiven_count) << c.name;
    EXPECT_EQ(R.rwrForgivenLateAmount, c.forgiven_amount) << c.name;
    EXPECT_EQ(R.rwrNWLate, c.nw_late) << c.name;
    EXPECT_EQ(R.rwrNWLateCnt, c.nw_late_cnt) << c.name;
    EXPECT_EQ(R.rwrNonWorkTotal, c.non_work) << c.name;
    EXPECT_EQ(R.rwrOrdinaryMorkhasi, c.ordinary) << c.name;
  }
}

engine::CompensationRow Rule(const char* prio, int32_t rate, int32_t bound, int32_t condition) {
  return {prio, rate, bound, condition};
}

TEST(RangeRules, Compensation) {
  // clang-format off
  const struct {
    const char* name;
    engine::CompensationRow s, t, g;
    int32_t early, late, absent, norm_perm, holi_perm;
    int32_t e_early, e_late, e_absent, e_norm_perm, e_holi_perm, e_non_work, e_extra;
  } cases[] = {
      // 120 x 30 div 60 = 60 < 90: all 30 used, 60 of the early exits cancelled.
      {"short", Rule("1", 120, 999, 0), {}, {}, 90, 0, 0, 30, 0, 30, 0, 0, 0, 0, 440, 70},
      // Covered: 40 cancelled for 40 x 60 div 120 = 20 of extra work.
      {"covered", Rule("1", 120, 999, 0), {}, {}, 40, 0, 0, 30, 0, 0, 0, 0, 10, 0, 460, 80},
      // Priority 1 is T at rate 90 (30 late for 20), priority 2 is G at 60 (absent 50
      // against the 40 left: all 40 used, 40 cancelled).
      {"two priorities", {}, Rule("1", 90, 999, 0), Rule("2", 60, 999, 0), 0, 30, 50, 40, 20,
       0, 0, 10, 0, 0, 500 - 30 - 40, 100 - 20 - 40},
      // Condition 1: the deficit is bounded at 20 (20 for 20 at rate 60).
      {"bound 1", Rule("1", 60, 20, 1), {}, {}, 50, 0, 0, 60, 0, 30, 0, 0, 40, 0, 480, 80},
      // Condition 2: a deficit above the bound ends the priority, T of it included.
      {"bound 2", Rule("1", 60, 20, 2), Rule("1", 60, 999, 0), {}, 50, 30, 0, 60, 0, 50, 30, 0,
       60, 0, 500, 100},
      // A rate below 1 ends the priority too.
      {"rate 0", Rule("1", 0, 999, 0), Rule("1", 60, 999, 0), {}, 50, 30, 0, 60, 0, 50, 30, 0,
       60, 0, 500, 100},
      // No priority: nothing.
      {"none", {}, {}, {}, 50, 0, 0, 60, 0, 50, 0, 0, 60, 0, 500, 100},
  };
  // clang-format on
  for (const auto& c : cases) {
    engine::WorkGroupRow g;
    g.Month[0] = c.s;
    g.Month[1] = c.t;
    g.Month[3] = c.g;
    TRangeWorkRec R;
    R.rwrNWEarly = c.early;
    R.rwrNWLate = c.late;
    R.rwrNWAbsent = c.absent;
    R.rwrEWNormPerm = c.norm_perm;
    R.rwrEWHoliPerm = c.holi_perm;
    R.rwrNonWorkTotal = 500;
    R.rwrExtraWorkTotal = 100;
    ApplyCompensation(g, R);
    EXPECT_EQ(R.rwrNWEarly, c.e_early) << c.name;
    EXPECT_EQ(R.rwrNWLate, c.e_late) << c.name;
    EXPECT_EQ(R.rwrNWAbsent, c.e_absent) << c.name;
    EXPECT_EQ(R.rwrEWNormPerm, c.e_norm_perm) << c.name;
    EXPECT_EQ(R.rwrEWHoliPerm, c.e_holi_perm) << c.name;
    EXPECT_EQ(R.rwrNonWorkTotal, c.e_non_work) << c.name;
    EXPECT_EQ(R.rwrExtraWorkTotal, c.e_extra) << c.name;
  }
}

TEST(RangeRules, HolidaySplitEntitlementAndShortAbsences) {
  // clang-format off
  const struct {
    const char* name;
    int32_t non_work, absent, max_mp;
    const char* state;
    int32_t days;
    int32_t hg_min, ht_min, hg_days, ht_days, ration, ordinary, non_work_after, left;
  } cases[] = {
      // Non-work 100 below Kasr_Tat 300: every holiday is paid. Ration: B = KasrMor 0
      // (100 < Kasr_Mor 200) gives the whole 1200. X = 100 <= 120: all of it is leave.
      {"below", 100, 0, 120, "0", 31, 4 * 480, 0, 5, 0, 1200, 100, 0, 1200 + 300 - 100},
      // Non-work 2400 (above 300): rest = 9600 - 2400 = 7200 of duty 9600 = 3/4.
      // HG minutes = 3/4 of 4 x 480 = 1440; days 3/4 of 5 = 3.75 -> 4. B = 2400, ration
      // (1 - 2400/9600) x 1200 = 900. X = 2400 - 2000 = 400 > 120, state "0": 120 moves.
      {"above", 2400, 2000, 120, "0", 31, 1440, 480, 4, 1, 900, 120, 2280, 900 + 300 - 120},
      // State "1": nothing moves.
      {"state 1", 2400, 2000, 120, "1", 31, 1440, 480, 4, 1, 900, 0, 2400, 900 + 300},
      // 10 days of 31: Kasr_Tat 300 scales to 97, ration 1200 to 387, Kasr_Mor to 65.
      // Non-work 100 >= 97: split at (9600-100)/9600. B = 100: 387 x 9500/9600 = 382.97.
      {"scaled", 100, 0, 0, "1", 10, 1900, 20, 5, 0, 383, 0, 100, 383 + 300},
  };
  // clang-format on
  for (const auto& c : cases) {
    engine::WorkGroupRow g;
    g.KASR_TAT = 300;
    g.KASR_MOR = 200;
    g.MAH_ABS_OK = 1200;
    g.MMinTrans = 0;
    g.MMaxTrans = 9999;
    g.MaxMPNonWork = c.max_mp;
    g.MaxMPNonWorkState = c.state;
    DaySums sums;
    RangeFacts f;
    f.Param = 480;
    f.Duty = 9600;
    f.CalH1 = 4;
    f.CalH2 = 1;
    f.Days = c.days;
    f.FullDays = 31;
    f.Carried = 300;
    TRangeWorkRec R;
    R.rwrNonWorkTotal = c.non_work;
    R.rwrNWAbsent = c.absent;
    ApplyRangeRules(g, sums, f, R);
    EXPECT_EQ(R.rwrHGMinutes, c.hg_min) << c.name;
    EXPECT_EQ(R.rwrHTMinutes, c.ht_min) << c.name;
    EXPECT_EQ(R.rwrHGDays, c.hg_days) << c.name;
    EXPECT_EQ(R.rwrHTDays, c.ht_days) << c.name;
    EXPECT_EQ(R.rwrPayingDays, c.days - c.ht_days) << c.name;
    EXPECT_EQ(R.rwrMorkhasiRation, c.ration) << c.name;
    EXPECT_EQ(R.rwrOrdinaryMorkhasi, c.ordinary) << c.name;
    EXPECT_EQ(R.rwrNonWorkTotal, c.non_work_after) << c.name;
    EXPECT_EQ(R.rwrMorkhasiLeft, c.left) << c.name;
  }
}

TEST(RangeRules, CarriedBalanceIsClampedAndAdjusted) {
  engine::WorkGroupRow g;
  g.MMinTrans = 100;
  g.MMaxTrans = 600;
  DaySums sums;
  RangeFacts f;
  f.Days = f.FullDays = 31;
  f.HasSpecMor0 = true;
  f.SpecMor0 = 120;
  f.HasSpecMor1 = true;
  f.SpecMor1 = 45;
  for (auto [carried, left] : {std::pair{900, 600 + 75}, {20, 100 + 75}, {300, 300 + 75}}) {
    f.Carried = carried;
    TRangeWorkRec R;
    ApplyRangeRules(g, sums, f, R);
    EXPECT_EQ(R.rwrMorkhasiLeft, left) << carried;
    EXPECT_EQ(R.rwrExtraMorSpecial, 120);
    EXPECT_EQ(R.rwrKasrMorSpecial, 45);
  }
}

TEST(RangeRules, ExtraWorkPermission) {
  // clang-format off
  const struct {
    int32_t permitted, option, np, nn, hp, hn;
    int32_t e_np, e_nn, e_hp, e_hn;
  } cases[] = {
      {500, 1, 10, 100, 20, 200, 110, 0, 220, 0},   // covers all not permitted
      {150, 1, 10, 100, 20, 200, 110, 0, 70, 150},  // 100 normal, then 50 of holiday
      {60, 1, 10, 100, 20, 200, 70, 40, 20, 200},   // part of the normal only
      {400, 0, 10, 100, 20, 200, 110, 0, 220, 0},   // total above everything
      {20, 0, 10, 100, 20, 200, 0, 110, 20, 200},   // 10 back from NP
      {5, 0, 10, 100, 20, 200, 0, 110, 5, 215},     // 25 back: 10 from NP, 15 from HP
      {150, 0, 10, 100, 20, 200, 110, 0, 40, 180},  // 120 more: 100 from NN, 20 from HN
  };
  // clang-format on
  for (const auto& c : cases) {
    TRangeWorkRec R;
    R.rwrEWNormPerm = c.np;
    R.rwrEWNormNotPerm = c.nn;
    R.rwrEWHoliPerm = c.hp;
    R.rwrEWHoliNotPerm = c.hn;
    ApplyExtraWorkPermission(c.permitted, c.option, R);
    EXPECT_EQ(R.rwrEWNormPerm, c.e_np) << c.permitted << " option " << c.option;
    EXPECT_EQ(R.rwrEWNormNotPerm, c.e_nn) << c.permitted << " option " << c.option;
    EXPECT_EQ(R.rwrEWHoliPerm, c.e_hp) << c.permitted << " option " << c.option;
    EXPECT_EQ(R.rwrEWHoliNotPerm, c.e_hn) << c.permitted << " option " << c.option;
  }
}

TEST(RangeRules, EducationLeave) {
  // 960 of education leave (900 of it on two daily leaves): 100 from normal extra work,
  // 50 from holiday extra work, the rest 810 from a balance of 1000.
  TRangeWorkRec R;
  R.rwrEWNormPerm = 100;
  R.rwrEWHoliPerm = 50;
  R.rwrExtraWorkTotal = 150;
  R.rwrLeaveOfAbsNotPayed = 960;
  R.rwrMorkhasiLeft = 1000;
  R.rwrPayingDays = 20;
  CoverEducationLeave(960, 900, 2, R);
  EXPECT_EQ(R.rwrEWNormPerm, 0);
  EXPECT_EQ(R.rwrEWHoliPerm, 0);
  EXPECT_EQ(R.rwrExtraWorkTotal, 0);
  EXPECT_EQ(R.rwrMorkhasiLeft, 190);
  EXPECT_EQ(R.rwrLeaveOfAbsNotPayed, 0);
  EXPECT_EQ(R.rwrPayingDays, 22);

  // Only 300 covered (no balance): 300 / (900 div 2 = 450) = 0.67 -> 1 day paid.
  TRangeWorkRec S;
  S.rwrEWNormPerm = 300;
  S.rwrExtraWorkTotal = 300;
  S.rwrLeaveOfAbsNotPayed = 960;
  CoverEducationLeave(960, 900, 2, S);
  EXPECT_EQ(S.rwrLeaveOfAbsNotPayed, 660);
  EXPECT_EQ(S.rwrPayingDays, 1);
}

TEST(RangeRules, EducationLeaveDaysOnlyForAPositiveDailySum) {
  // 300 of education leave fully covered by extra work; which days are paid depends on the
  // daily education leaves among it.
  const struct {
    const char* name;
    int32_t daily_sum, count_days, paying_days;
  } cases[] = {
      {"two daily leaves of 150", 300, 2, 2},
      {"daily leaves summing to 0", 0, 2, 0},
      {"daily leaves summing below 0", -60, 2, 0},
      // 1 div 2 = 0 minutes a day: every day counts instead of a division by 0.
      {"daily sum below the number of days", 1, 2, 2},
  };
  for (const auto& c : cases) {
    TRangeWorkRec R;
    R.rwrEWNormPerm = 300;
    R.rwrExtraWorkTotal = 300;
    CoverEducationLeave(300, c.daily_sum, c.count_days, R);
    EXPECT_EQ(R.rwrExtraWorkTotal, 0) << c.name;
    EXPECT_EQ(R.rwrPayingDays, c.paying_days) << c.name;
  }
}

TEST(RangeRules, EmploymentIsTheUnionOfTheRows) {
  struct Row {
    const char* begin;
    const char* end;
  };
  const struct {
    const char* name;
    std::vector<Row> rows;
    const char* from;
    const char* to;
    bool employed;
    const char* first;
    const char* last;
    std::vector<const char*> covered, not_covered;
  } cases[] = {
      {"one row",
       {{"1399/01/01", "1399/02/10"}},
       "1399/02/01",
       "1399/02/31",
       true,
       "1399/02/01",
       "1399/02/10",
       {"1399/02/10"},
       {"1399/02/11"}},
      {"the same row twice",
       {{"1399/01/01", "1399/12/30"}, {"1399/01/01", "1399/12/30"}},
       "1399/02/01",
       "1399/02/31",
       true,
       "1399/02/01",
       "1399/02/31",
       {"1399/02/15"},
       {}},
      {"split inside the month",
       {{"1399/02/11", "1399/12/30"}, {"1399/01/01", "1399/02/10"}},
       "1399/02/01",
       "1399/02/31",
       true,
       "1399/02/01",
       "1399/02/31",
       {"1399/02/10", "1399/02/11"},
       {"1400/01/01"}},
      {"overlapping rows",
       {{"1399/01/01", "1399/02/10"}, {"1399/02/05", "1399/02/20"}},
       "1399/02/01",
       "1399/02/31",
       true,
       "1399/02/01",
       "1399/02/20",
       {"1399/02/07"},
       {"1399/02/21"}},
      {"a gap",
       {{"1399/01/01", "1399/02/10"}, {"1399/02/20", "1399/12/30"}},
       "1399/02/01",
       "1399/02/31",
       true,
       "1399/02/01",
       "1399/02/31",
       {"1399/02/20"},
       {"1399/02/15"}},
      {"the month inside a gap",
       {{"1399/01/01", "1399/01/10"}, {"1399/03/20", "1399/12/30"}},
       "1399/02/01",
       "1399/02/31",
       false,
       "",
       "",
       {},
       {"1399/02/01", "1399/03/19"}},
      {"a row ending before it begins",
       {{"1399/05/01", "1399/04/01"}},
       "1399/04/01",
       "1399/04/31",
       false,
       "",
       "",
       {},
       {"1399/04/15"}},
  };
  for (const auto& c : cases) {
    EmploymentSpans e;
    for (const Row& row : c.rows) e.Add(row.begin, row.end);
    std::string first, last;
    EXPECT_EQ(e.Part(c.from, c.to, first, last), c.employed) << c.name;
    if (c.employed) {
      EXPECT_EQ(first, c.first) << c.name;
      EXPECT_EQ(last, c.last) << c.name;
    }
    for (const char* day : c.covered) EXPECT_TRUE(e.Covers(day)) << c.name << " " << day;
    for (const char* day : c.not_covered) EXPECT_FALSE(e.Covers(day)) << c.name << " " << day;
  }
  EmploymentSpans bad;
  bad.Add("1399/05/01", "1399/04/01");
  bad.Add("1399/06/01", "1399/05/15");
  EXPECT_TRUE(bad.spans.empty());
  EXPECT_EQ(bad.bad_begin, "1399/05/01");
  EXPECT_EQ(bad.bad_end, "1399/04/01");
  EmploymentSpans gap;
  gap.Add("1399/01/01", "1399/01/10");
  gap.Add("1399/03/20", "1399/12/30");
  EXPECT_EQ(gap.EndBefore("1399/02/01"), "1399/01/10");
  EXPECT_EQ(gap.EndBefore("1399/01/01"), "");
}

TEST(RangeRules, HourlyGroups) {
  // clang-format off
  const struct {
    const char* name;
    int32_t work, mande, T;
    int32_t e_work, e_extra, e_non_work, e_left;
  } cases[] = {
      {"above max", 11000, 0, 0, 10000, 1000, 0, 0},
      {"below min", 5000, 0, 0, 5000, 0, 1000, 0},
      // Balance 200 + 600 - 100 = 700; with T 100 it covers 800 of the 1000 missing.
      {"balance short", 5000, 1, 100, 5800, 0, 200, -100},
      // T 400: 1100 covers the 1000 missing, 100 of the balance is left... 700 - 1000.
      {"balance enough", 5000, 1, 400, 6000, 0, 0, -300},
  };
  // clang-format on
  for (const auto& c : cases) {
    engine::WorkGroupRow g;
    g.GROUPTYPE = 2;
    g.MAX_KARKARD = 10000;
    g.MIN_KARKARD = 6000;
    g.MandeMorForSaati = c.mande;
    g.MAH_ABS_OK = 600;
    g.MMaxTrans = 9999;
    RangeFacts f;
    f.Carried = 200;
    TRangeWorkRec R;
    R.rwrWorkTotal = c.work;
    R.rwrOrdinaryMorkhasi = 100;
    R.rwrExtraWorkTotal = 77;
    ApplyHourlyRules(g, f, c.T, R);
    EXPECT_EQ(R.rwrWorkTotal, c.e_work) << c.name;
    EXPECT_EQ(R.rwrExtraWorkTotal, c.e_extra) << c.name;
    EXPECT_EQ(R.rwrNonWorkTotal, c.e_non_work) << c.name;
    EXPECT_EQ(R.rwrMorkhasiLeft, c.e_left) << c.name;
  }
}

}  // namespace
}  // namespace zel::aggregation
