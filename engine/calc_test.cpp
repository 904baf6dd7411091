#include "engine/calc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dates/clock.h"
#include "dates/date_time.h"
#include "util/log_file.h"

namespace zel::engine {
namespace {

TCalcDateTime At(int month, int day, int hour, int minute) {
  return EncodeCalcDateTime(month, day, hour, minute);
}

// Extra span 06:00-20:00, working time 08:00-16:00, break 12:00-12:30 on month 1, day `day`;
// the attendance day ends at 04:00 of the next day.
TWorkingDay StandardDay(int day) {
  return MakeWorkingDay(At(1, day, 6, 0), At(1, day, 20, 0), At(1, day, 8, 0), At(1, day, 16, 0),
                        At(1, day, 12, 0), At(1, day, 12, 30), At(1, day + 1, 4, 0));
}

std::string PointText(const TTalvekDateTime& point) {
  return CalcDateToStr(point.sdtDateTime.dtDate) + " " + CalcTimeToStr(point.sdtDateTime.dtTime);
}

// "wi:begin-end:kind:data" of one presence, kind as A(bsent), P(resent) or N(one).
std::string Describe(const TPresence& p) {
  const char kind = p.Kind == pk_Absent ? 'A' : p.Kind == pk_Present ? 'P' : 'N';
  return std::to_string(p.WorkingIntervalType) + ":" + PointText(p.Interval.iBegin) + "-" +
         PointText(p.Interval.iEnd) + ":" + kind + ":" + p.Data.AsText();
}

std::vector<std::string> DescribeAll(const std::vector<TPresence>& list) {
  std::vector<std::string> out;
  for (const TPresence& p : list) out.push_back(Describe(p));
  return out;
}

struct Added {
  TCalcDateTime begin;
  TCalcDateTime end;
  TPresenceKind kind;
  int specific_type;
  Variant data;
};

// A manager with every event bound to recording handlers: the working days are the standard
// days around 01/10, the presences are those of `added`, validation keeps the first member of
// each group and asks for processing.
class CalcRun : public ::testing::Test {
 protected:
  void SetUp() override {
    m.SetPersonID("      1001");
    m.SetPersonName("Rahimi Sara");
    m.SetCalcDate({1, 10});
    m.OnInitialize = [this](TAttendanceCalcManager&) { events.push_back("Initialize"); };
    m.OnGetWorkingDays = [this](TAttendanceCalcManager& s) {
      events.push_back("GetWorkingDays");
      s.SetYesterday(StandardDay(9));
      s.SetToday(today);
      s.SetTomorrow(StandardDay(11));
    };
    m.OnAddPresences = [this](TAttendanceCalcManager& s) {
      events.push_back("AddPresences");
      for (const Added& a : added) s.AddPresence(a.begin, a.end, a.kind, a.specific_type, a.data);
      if (on_add) on_add(s);
    };
    m.OnBeforeValidate = [this](TAttendanceCalcManager& s) {
      events.push_back("BeforeValidate");
      split.clear();
      for (int i = 0; i < s.PresenceCount(); ++i) split.push_back(s.GetPresence(i));
    };
    m.OnValidatePresence = [this](TAttendanceCalcManager&, std::span<const TPresence> group,
                                  TPresence& result) {
      if (groups.empty()) events.push_back("ValidatePresence");
      groups.emplace_back(group.begin(), group.end());
      result = group.front();
      result.DoProcess = true;
      if (validate) validate(group, result);
      return true;
    };
    m.OnBeforeProcess = [this](TAttendanceCalcManager& s) {
      events.push_back("BeforeProcess");
      validated.clear();
      for (int i = 0; i < s.PresenceCount(); ++i) validated.push_back(s.GetPresence(i));
    };
    m.OnProcessPresence = [this](TAttendanceCalcManager&, TPresence p) {
      if (processed.empty()) events.push_back("ProcessPresence");
      processed.push_back(p);
    };
    m.OnFinalize = [this](TAttendanceCalcManager&) { events.push_back("Finalize"); };
    m.OnHandleError = [this](TAttendanceCalcManager&) { events.push_back("HandleError"); };
  }

  TAttendanceCalcManager m;
  TWorkingDay today = StandardDay(10);
  std::vector<Added> added;
  std::function<void(TAttendanceCalcManager&)> on_add;
  std::function<void(std::span<const TPresence>, TPresence&)> validate;

  std::vector<std::string> events;
  std::vector<TPresence> split;
  std::vector<std::vector<TPresence>> groups;
  std::vector<TPresence> validated;
  std::vector<TPresence> processed;
};

// The seven working intervals of the standard day 01/10 as relative bounds.
std::vector<std::pair<int, int>> StandardBounds() {
  // Reference 01/09 06:00: 01/10 04:00 is 1320 minutes later.
  return {{1320, 1440}, {1440, 1560}, {1560, 1800}, {1800, 1830},
          {1830, 2040}, {2040, 2280}, {2280, 2760}};
}

// The invariants of a split day: interval order, containment, interval types, relative times
// matching the clock, and every interval covered without gaps by presences that are identical
// or disjoint (a zero-length presence may lie inside a longer one).
void ExpectSplitDay(const std::vector<TPresence>& list,
                    const std::vector<std::pair<int, int>>& bounds,
                    const TCalcDateTime& reference) {
  static const TIntervalType kType[7] = {it_NonWork, it_ExtraWork, it_Work,   it_Break,
                                         it_Work,    it_ExtraWork, it_NonWork};
  int previous_wi = 0;
  std::vector<std::vector<const TPresence*>> by_wi(7);
  for (const TPresence& p : list) {
    const int wi = p.WorkingIntervalType;
    SCOPED_TRACE(Describe(p));
    ASSERT_GE(wi, previous_wi);
    previous_wi = wi;
    EXPECT_EQ(p.IntervalType, kType[wi]);
    EXPECT_GE(p.Interval.iBegin.sdtRelativeTime, bounds[wi].first);
    EXPECT_LE(p.Interval.iEnd.sdtRelativeTime, bounds[wi].second);
    EXPECT_LE(p.Interval.iBegin.sdtRelativeTime, p.Interval.iEnd.sdtRelativeTime);
    EXPECT_EQ(p.Interval.iBegin.sdtRelativeTime,
              MinutesBetween(reference, p.Interval.iBegin.sdtDateTime));
    EXPECT_EQ(p.Interval.iEnd.sdtRelativeTime,
              MinutesBetween(reference, p.Interval.iEnd.sdtDateTime));
    by_wi[wi].push_back(&p);
  }
  for (int wi = 0; wi < 7; ++wi) {
    SCOPED_TRACE("interval " + std::to_string(wi));
    ASSERT_FALSE(by_wi[wi].empty());
    // Presences of positive length tile the interval in order, identical ones side by side
    // (one validation group); zero-length ones lie inside it.
    int cursor = bounds[wi].first;
    int last_begin = -1;
    int last_end = -1;
    const TPresence* previous = nullptr;
    const TPresence* last_of_group = nullptr;
    for (const TPresence* p : by_wi[wi]) {
      const int b = p->Interval.iBegin.sdtRelativeTime;
      const int e = p->Interval.iEnd.sdtRelativeTime;
      if (b == e) {
        previous = p;
        continue;
      }
      if (b == last_begin && e == last_end) {
        EXPECT_EQ(previous, last_of_group) << "identical presences apart at " << Describe(*p);
        last_of_group = p;
        previous = p;
        continue;
      }
      EXPECT_EQ(b, cursor) << "gap or overlap at " << Describe(*p);
      cursor = e;
      last_begin = b;
      last_end = e;
      last_of_group = p;
      previous = p;
    }
    EXPECT_EQ(cursor, bounds[wi].second);
  }
}

// ---------------------------------------------------------------------------------------------
// Unit functions

TEST(MinutesBetween, CountsAcrossHoursDaysAndMonthEnds) {
  struct Case {
    TCalcDateTime a, b;
    int minutes;
  } cases[] = {
      {At(1, 1, 8, 0), At(1, 1, 8, 0), 0},
      {At(1, 1, 8, 10), At(1, 1, 8, 50), 40},
      {At(1, 1, 8, 30), At(1, 1, 10, 15), 105},
      {At(1, 1, 23, 0), At(1, 2, 1, 0), 120},
      {At(1, 1, 8, 0), At(1, 2, 8, 0), 1440},
      {At(1, 1, 8, 45), At(1, 2, 8, 15), 1410},
      {At(1, 31, 23, 0), At(2, 1, 1, 0), 120},
      {At(6, 31, 23, 30), At(7, 1, 0, 30), 60},
      {At(7, 30, 23, 0), At(8, 1, 1, 0), 120},
      {At(1, 15, 0, 0), At(3, 15, 0, 0), 62 * 1440},
      {At(6, 1, 0, 0), At(8, 1, 0, 0), 61 * 1440},
      {At(12, 29, 0, 0), At(12, 30, 0, 0), 1440},
      {At(1, 2, 1, 0), At(1, 1, 23, 0), -120},
      // No year: the next year's first day sorts before the last day of this one.
      {At(12, 29, 8, 0), At(1, 1, 8, 0), -364 * 1440},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(PointText({c.a, 0}) + " -> " + PointText({c.b, 0}));
    EXPECT_EQ(MinutesBetween(c.a, c.b), c.minutes);
    EXPECT_EQ(MinutesBetween(c.b, c.a), -c.minutes);
  }
}

TEST(MinutesBetweenText, ReadsMonthDayAndHourMinuteTexts) {
  EXPECT_EQ(MinutesBetweenText("01/01", "23:00", "01/02", "01:00"), 120);
  EXPECT_EQ(MinutesBetweenText("06/31", "16:00", "06/31", "08:00"), -480);
  EXPECT_EQ(MinutesBetweenText("", "23:00", "01/02", "01:00"), 0);
  EXPECT_EQ(MinutesBetweenText("01/01", "23:00", "01/02", ""), 0);
  EXPECT_THROW(MinutesBetweenText("01/01", "8:00", "01/02", "01:00"), dates::EConvertError);
}

TEST(IntervalFunctions, MinutesAndEmptinessUseTheirOwnFields) {
  // IntervalMinutes reads the relative minutes; IsEmptyInterval the clock fields.
  const TTalvekInterval same_clock{{At(1, 1, 8, 0), 100}, {At(1, 1, 8, 0), 160}};
  EXPECT_TRUE(IsEmptyInterval(same_clock));
  EXPECT_EQ(IntervalMinutes(same_clock), 60);
  const TTalvekInterval other_minute{{At(1, 1, 8, 0), 5}, {At(1, 1, 8, 1), 5}};
  EXPECT_FALSE(IsEmptyInterval(other_minute));
  EXPECT_EQ(IntervalMinutes(other_minute), 0);
  EXPECT_FALSE(IsEmptyInterval({{At(1, 1, 8, 0), 0}, {At(1, 2, 8, 0), 0}}));
}

TEST(MonthDays, FollowsTheCalculationLeapRule) {
  struct Case {
    int year, month, days;
  } cases[] = {{1403, 1, 31},  {1403, 6, 31},  {1403, 7, 30},  {1403, 11, 30},
               {1403, 12, 30}, {1404, 12, 29}, {1371, 12, 30}, {1299, 6, 31}};
  for (const Case& c : cases) {
    EXPECT_EQ(MonthDays(c.year, c.month), c.days) << c.year << "/" << c.month;
  }
  EXPECT_THROW(MonthDays(1403, 0), std::invalid_argument);
  EXPECT_THROW(MonthDays(1403, 13), std::invalid_argument);
  EXPECT_ANY_THROW(MonthDays(1299, 12));
}

TEST(CalcDateStepping, StepsInsideTheYearOnly) {
  struct Case {
    int year;
    TDate from;
    bool inc_ok;
    TDate after_inc;
    bool dec_ok;
    TDate after_dec;
  } cases[] = {
      {1403, {1, 15}, true, {1, 16}, true, {1, 14}},
      {1403, {1, 1}, true, {1, 2}, false, {1, 1}},
      {1403, {6, 31}, true, {7, 1}, true, {6, 30}},
      {1403, {7, 1}, true, {7, 2}, true, {6, 31}},
      {1403, {7, 30}, true, {8, 1}, true, {7, 29}},
      {1403, {8, 1}, true, {8, 2}, true, {7, 30}},
      {1403, {12, 29}, true, {12, 30}, true, {12, 28}},
      {1403, {12, 30}, false, {12, 30}, true, {12, 29}},
      {1404, {12, 29}, false, {12, 29}, true, {12, 28}},
      {1404, {12, 1}, true, {12, 2}, true, {11, 30}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.year) + "/" + CalcDateToStr(c.from));
    TDate inc = c.from;
    EXPECT_EQ(IncCalcDate(c.year, inc), c.inc_ok);
    EXPECT_EQ(inc, c.after_inc);
    TDate dec = c.from;
    EXPECT_EQ(DecCalcDate(c.year, dec), c.dec_ok);
    EXPECT_EQ(dec, c.after_dec);
  }
}

TEST(CalcText, PadsEachNumberToTwoDigits) {
  EXPECT_EQ(CalcDateToStr({1, 5}), "01/05");
  EXPECT_EQ(CalcDateToStr({12, 30}), "12/30");
  EXPECT_EQ(CalcTimeToStr({7, 5}), "07:05");
  EXPECT_EQ(CalcTimeToStr({23, 59}), "23:59");
}

TEST(MakeWorkingDay, TakesExtraThenWorkThenBreakThenDayEnd) {
  const TWorkingDay day =
      MakeWorkingDay(At(1, 1, 6, 0), At(1, 1, 20, 0), At(1, 1, 8, 0), At(1, 1, 16, 0),
                     At(1, 1, 12, 0), At(1, 1, 12, 30), At(1, 2, 4, 0));
  EXPECT_EQ(day.wdExtra.iBegin.sdtDateTime, At(1, 1, 6, 0));
  EXPECT_EQ(day.wdExtra.iEnd.sdtDateTime, At(1, 1, 20, 0));
  EXPECT_EQ(day.wdDay.iBegin.sdtDateTime, At(1, 1, 8, 0));
  EXPECT_EQ(day.wdDay.iEnd.sdtDateTime, At(1, 1, 16, 0));
  EXPECT_EQ(day.wdBreak.iBegin.sdtDateTime, At(1, 1, 12, 0));
  EXPECT_EQ(day.wdBreak.iEnd.sdtDateTime, At(1, 1, 12, 30));
  EXPECT_EQ(day.wdDayEnd.sdtDateTime, At(1, 2, 4, 0));
  EXPECT_EQ(day.wdDayEnd.sdtRelativeTime, 0);
}

// ---------------------------------------------------------------------------------------------
// Variants and FindPresence

TEST(Variant, ComparesNumbersAsNumbersAndTextsAsTexts) {
  struct Case {
    Variant a, b;
    bool equal;
  } cases[] = {
      {Variant(), Variant(), true},
      {Variant(), 0, true},
      {Variant(), "", true},
      {Variant(), 1, false},
      {Variant(), "x", false},
      {5, 5, true},
      {5, 6, false},
      {"D_,12", "D_,12", true},
      {"abc", "ABC", false},
      {"", 0, false},
      {5, "5", true},
      {5, " 5 ", true},
      {5, "5x", false},
      {0, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("'" + c.a.AsText() + "' vs '" + c.b.AsText() + "'");
    EXPECT_EQ(c.a == c.b, c.equal);
    EXPECT_EQ(c.b == c.a, c.equal);
  }
  EXPECT_FALSE(Variant().IsAssigned());
  EXPECT_TRUE(Variant("").IsAssigned());
  EXPECT_EQ(Variant("42").AsInteger(), 42);
  EXPECT_THROW(Variant("4x").AsInteger(), dates::EConvertError);
}

TPresence Member(TPresenceKind kind, Variant type, Variant data) {
  TPresence p;
  p.Kind = kind;
  p.SpecificType = std::move(type);
  p.Data = std::move(data);
  return p;
}

TEST(FindPresence, AppliesKindTypeDataAndExclusions) {
  const std::vector<TPresence> group = {
      Member(pk_Absent, Variant(), Variant()),  // 0: a filler
      Member(pk_Present, 1, ",5,,x"),           // 1
      Member(pk_Absent, 2, ""),                 // 2
      Member(pk_Absent, 23, "suspended"),       // 3
      Member(pk_Present, 1, Variant()),         // 4
  };
  const Variant none;
  struct Case {
    const char* name;
    FindOptions options;
    TPresenceKind kind;
    Variant type, data;
    PresenceIndexSet exclude;
    int found;
  } cases[] = {
      {"strict type", {.StrictSpecificType = true}, pk_None, 23, none, {}, 3},
      {"strict type missing", {.StrictSpecificType = true}, pk_None, 5, none, {}, -1},
      {"strict type, first excluded", {.StrictSpecificType = true}, pk_None, 1, none, 0b10, 4},
      {"unassigned values accept every element", {}, pk_None, none, none, {}, 0},
      {"any assigned type and data", {}, pk_None, 999, "zzz", {}, 1},
      {"kind; empty text counts as unassigned", {.MatchKind = true}, pk_Absent, 999, "zzz", {}, 3},
      {"kind and type",
       {.MatchKind = true, .StrictSpecificType = true},
       pk_Present,
       2,
       none,
       {},
       -1},
      {"strict unassigned data matches empty text", {.StrictData = true}, pk_None, 2, none, {}, 2},
      {"strict unassigned type and data",
       {.StrictSpecificType = true, .StrictData = true},
       pk_None,
       none,
       none,
       {},
       0},
      {"strict data", {.StrictData = true}, pk_None, none, "suspended", {}, 3},
      {"number type matches its text", {.StrictSpecificType = true}, pk_None, "23", none, {}, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(
        TAttendanceCalcManager::FindPresence(group, c.options, c.kind, c.type, c.data, c.exclude),
        c.found)
        << c.name;
  }
}

TEST(FindPresence, IndicesAbove15AreNeverExcluded) {
  std::vector<TPresence> group(18, Member(pk_Present, 1, "x"));
  PresenceIndexSet all;
  all.set();
  EXPECT_EQ(TAttendanceCalcManager::FindPresence(group, {.StrictSpecificType = true}, pk_None, 1,
                                                 Variant(), all),
            16);
}

// ---------------------------------------------------------------------------------------------
// Runs

TEST_F(CalcRun, EventsFireInOrder) {
  added = {{At(1, 10, 8, 0), At(1, 10, 16, 0), pk_Present, 1, "clock"}};
  m.Run();
  EXPECT_EQ(events, (std::vector<std::string>{"Initialize", "GetWorkingDays", "AddPresences",
                                              "BeforeValidate", "ValidatePresence", "BeforeProcess",
                                              "ProcessPresence", "Finalize"}));
}

TEST_F(CalcRun, DayWithoutPresencesIsSevenFillers) {
  // No break: an empty break at 12:00; the extra span begins with the working time.
  today = MakeWorkingDay(At(1, 10, 8, 0), At(1, 10, 20, 0), At(1, 10, 8, 0), At(1, 10, 16, 0),
                         At(1, 10, 12, 0), At(1, 10, 12, 0), At(1, 11, 4, 0));
  m.Run();
  EXPECT_EQ(DescribeAll(split), (std::vector<std::string>{
                                    "0:01/10 04:00-01/10 08:00:A:",
                                    "1:01/10 08:00-01/10 08:00:A:",
                                    "2:01/10 08:00-01/10 12:00:A:",
                                    "3:01/10 12:00-01/10 12:00:A:",
                                    "4:01/10 12:00-01/10 16:00:A:",
                                    "5:01/10 16:00-01/10 20:00:A:",
                                    "6:01/10 20:00-01/11 04:00:A:",
                                }));
  for (const TPresence& filler : split) {
    EXPECT_FALSE(filler.DoProcess);
    EXPECT_FALSE(filler.IsOK);
    EXPECT_FALSE(filler.SpecificType.IsAssigned());
    EXPECT_FALSE(filler.Data.IsAssigned());
  }
  EXPECT_EQ(split[3].IntervalType, it_Break);
  EXPECT_EQ(split[6].IntervalType, it_NonWork);
  EXPECT_EQ(groups.size(), 7u);
  // Empty fillers are not processed (their code is not 12 or 13).
  EXPECT_EQ(processed.size(), 5u);
}

TEST_F(CalcRun, PresenceIsCutAtTheWorkingIntervals) {
  added = {{At(1, 10, 7, 0), At(1, 10, 16, 0), pk_Present, 1, "clock"}};
  m.Run();
  EXPECT_EQ(DescribeAll(split), (std::vector<std::string>{
                                    "0:01/10 04:00-01/10 06:00:A:",
                                    "1:01/10 06:00-01/10 07:00:A:",
                                    "1:01/10 07:00-01/10 08:00:P:clock",
                                    "2:01/10 08:00-01/10 12:00:P:clock",
                                    "3:01/10 12:00-01/10 12:30:P:clock",
                                    "4:01/10 12:30-01/10 16:00:P:clock",
                                    "5:01/10 16:00-01/10 20:00:A:",
                                    "6:01/10 20:00-01/11 04:00:A:",
                                }));
  for (const TPresence& p : split) {
    if (p.Kind == pk_Present) {
      EXPECT_EQ(p.SpecificType, 1);
      EXPECT_TRUE(p.Projected);
    }
  }
  // Relative minutes from the reference point 01/09 06:00 (the start of yesterday's extra span).
  EXPECT_EQ(split[2].Interval.iBegin.sdtRelativeTime, 1500);
  EXPECT_EQ(split[2].Interval.iEnd.sdtRelativeTime, 1560);
  EXPECT_EQ(m.Today().wdDayEnd.sdtRelativeTime, 2760);
  ExpectSplitDay(split, StandardBounds(), At(1, 9, 6, 0));
  // Every stretch is one group; the processing handler sees each of them.
  EXPECT_EQ(groups.size(), 8u);
  EXPECT_EQ(DescribeAll(processed), DescribeAll(split));
}

TEST_F(CalcRun, OverlappingPresencesBecomeOneValidationGroup) {
  added = {{At(1, 10, 9, 0), At(1, 10, 11, 0), pk_Present, 1, "first"},
           {At(1, 10, 10, 0), At(1, 10, 12, 0), pk_Absent, 2, "leave"}};
  validate = [](std::span<const TPresence> group, TPresence& result) {
    result.Data = std::to_string(group.size()) + " members";
    result.SpecificType = 6;
    result.Interval = {};  // the interval of the stored presence is kept
    result.WorkingIntervalType = wi_NonWork_After;
  };
  m.Run();
  std::vector<std::string> bucket2;
  for (const TPresence& p : split) {
    if (p.WorkingIntervalType == wi_Work_First) bucket2.push_back(Describe(p));
  }
  EXPECT_EQ(bucket2, (std::vector<std::string>{
                         "2:01/10 08:00-01/10 09:00:A:",
                         "2:01/10 09:00-01/10 10:00:P:first",
                         "2:01/10 10:00-01/10 11:00:A:leave",
                         "2:01/10 10:00-01/10 11:00:P:first",
                         "2:01/10 11:00-01/10 12:00:A:leave",
                     }));
  ExpectSplitDay(split, StandardBounds(), At(1, 9, 6, 0));

  std::vector<TPresence> pair;
  for (const auto& group : groups) {
    if (group.size() == 2)
      pair = group;
    else
      EXPECT_EQ(group.size(), 1u);
  }
  ASSERT_EQ(pair.size(), 2u);
  EXPECT_EQ(Describe(pair[0]), "2:01/10 10:00-01/10 11:00:A:leave");
  EXPECT_EQ(Describe(pair[1]), "2:01/10 10:00-01/10 11:00:P:first");

  ASSERT_EQ(validated.size(), split.size() - 1);
  const TPresence& merged = validated[4];
  EXPECT_EQ(Describe(merged), "2:01/10 10:00-01/10 11:00:A:2 members");
  EXPECT_EQ(merged.IntervalType, it_Work);
  EXPECT_EQ(merged.SpecificType, 6);
}

TEST_F(CalcRun, GroupOfMoreThanTenIsValidatedWhole) {
  for (int i = 0; i < 12; ++i) {
    added.push_back({At(1, 10, 9, 0), At(1, 10, 10, 0), pk_Present, 1, std::to_string(i)});
  }
  m.Run();
  size_t largest = 0;
  for (const auto& group : groups) largest = std::max(largest, group.size());
  EXPECT_EQ(largest, 12u);
  EXPECT_EQ(validated.size(), split.size() - 11);
}

TEST_F(CalcRun, TouchingPresencesGoToTheEarlierInterval) {
  added = {{At(1, 10, 7, 0), At(1, 10, 8, 0), pk_Present, 1, "touching"},
           {At(1, 10, 8, 0), At(1, 10, 8, 0), pk_Absent, 2, "point"}};
  m.Run();
  EXPECT_EQ(DescribeAll(split), (std::vector<std::string>{
                                    "0:01/10 04:00-01/10 06:00:A:",
                                    "1:01/10 06:00-01/10 07:00:A:",
                                    "1:01/10 07:00-01/10 08:00:P:touching",
                                    "1:01/10 08:00-01/10 08:00:A:point",
                                    "2:01/10 08:00-01/10 12:00:A:",
                                    "3:01/10 12:00-01/10 12:30:A:",
                                    "4:01/10 12:30-01/10 16:00:A:",
                                    "5:01/10 16:00-01/10 20:00:A:",
                                    "6:01/10 20:00-01/11 04:00:A:",
                                }));
}

TEST_F(CalcRun, AddPresenceKeepsOnlyValidStretches) {
  struct Case {
    const char* name;
    Added presence;
    bool kept;
  } cases[] = {
      {"empty leave", {At(1, 10, 9, 0), At(1, 10, 9, 0), pk_Absent, 2, "D_"}, true},
      {"empty mission", {At(1, 10, 9, 0), At(1, 10, 9, 0), pk_Absent, 3, "D_"}, true},
      {"empty clock", {At(1, 10, 9, 0), At(1, 10, 9, 0), pk_Present, 1, ""}, false},
      {"end before begin", {At(1, 10, 10, 0), At(1, 10, 9, 0), pk_Present, 1, ""}, false},
      {"outside the day", {At(1, 11, 5, 0), At(1, 11, 6, 0), pk_Present, 1, ""}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    added = {c.presence};
    m.Run();
    // Seven fillers at least; a kept presence adds itself (and splits a filler when inside).
    bool found = false;
    for (const TPresence& p : split) found = found || p.SpecificType.IsAssigned();
    EXPECT_EQ(found, c.kept);
  }
}

TEST_F(CalcRun, AddPresenceOutsideItsEventIsIgnored) {
  m.AddPresence(At(1, 10, 9, 0), At(1, 10, 10, 0), pk_Present, 1, "early");
  EXPECT_EQ(m.PresenceCount(), 0);
  m.OnBeforeValidate = [](TAttendanceCalcManager& s) {
    s.AddPresence(At(1, 10, 9, 0), At(1, 10, 10, 0), pk_Present, 1, "late");
  };
  m.Run();
  for (const auto& group : groups) EXPECT_FALSE(group.front().SpecificType.IsAssigned());
}

TEST_F(CalcRun, DaySettersWorkOnlyWhileWorkingDaysAreRead) {
  m.SetToday(StandardDay(20));
  EXPECT_EQ(m.Today(), TWorkingDay{});
  m.OnInitialize = [](TAttendanceCalcManager& s) { s.SetToday(StandardDay(20)); };
  m.OnAddPresences = [](TAttendanceCalcManager& s) { s.SetYesterday(StandardDay(20)); };
  m.Run();
  EXPECT_EQ(m.Today().wdDay.iBegin.sdtDateTime, At(1, 10, 8, 0));
  EXPECT_EQ(m.Yesterday().wdDay.iBegin.sdtDateTime, At(1, 9, 8, 0));

  // The gate closes also when the event fails.
  m.OnInitialize = nullptr;
  m.OnGetWorkingDays = [](TAttendanceCalcManager&) { throw std::runtime_error("no calendar"); };
  m.Run();
  m.SetToday(StandardDay(20));
  EXPECT_EQ(m.Today().wdDay.iBegin.sdtDateTime, At(1, 10, 8, 0));
}

TEST_F(CalcRun, OnlyDoProcessAndNonEmptyOrLeaveMissionCodesAreProcessed) {
  added = {{At(1, 10, 9, 0), At(1, 10, 9, 0), pk_Absent, 2, "leave point"},
           {At(1, 10, 10, 0), At(1, 10, 10, 0), pk_Absent, 3, "mission point"},
           {At(1, 10, 13, 0), At(1, 10, 13, 0), pk_Absent, 2, "other point"},
           {At(1, 10, 14, 0), At(1, 10, 15, 0), pk_Present, 1, "skipped"}};
  validate = [](std::span<const TPresence> group, TPresence& result) {
    const Variant data = group.front().Data;
    if (data == "leave point") result.SpecificType = 12;
    if (data == "mission point") result.SpecificType = 13;
    if (data == "other point") result.SpecificType = 7;
    if (data == "skipped") result.DoProcess = false;
  };
  m.Run();
  std::vector<std::string> data;
  for (const TPresence& p : processed) {
    if (p.Data.IsAssigned()) data.push_back(p.Data.AsText());
  }
  EXPECT_EQ(data, (std::vector<std::string>{"leave point", "mission point"}));
  // The non-empty fillers are processed too; the skipped presence is not.
  EXPECT_EQ(processed.size(), split.size() - 2);
}

TEST_F(CalcRun, ProcessingChangesGoThroughTheSetters) {
  added = {{At(1, 10, 8, 0), At(1, 10, 12, 0), pk_Present, 1, "clock"}};
  std::vector<TPresence> seen_later;
  m.OnProcessPresence = [&](TAttendanceCalcManager& s, TPresence p) {
    p.Data = "changed copy";  // a copy: the stored presence stays as it is
    if (p.WorkingIntervalType == wi_Work_First) {
      const int last = s.PresenceCount() - 1;
      s.SetVars(last, 99, "last");
      s.SetOK(last, true);
      s.SetKind(last, pk_Present);
    }
    if (p.WorkingIntervalType == wi_NonWork_After) seen_later.push_back(p);
  };
  std::vector<std::string> stored_data;
  bool out_of_range = false;
  m.OnFinalize = [&](TAttendanceCalcManager& s) {
    for (int i = 0; i < s.PresenceCount(); ++i)
      stored_data.push_back(s.GetPresence(i).Data.AsText());
    try {
      s.GetPresence(s.PresenceCount());
    } catch (const std::out_of_range&) {
      out_of_range = true;
    }
  };
  m.Run();
  EXPECT_EQ(stored_data, (std::vector<std::string>{"", "", "clock", "", "", "", "last"}));
  EXPECT_TRUE(out_of_range);
  ASSERT_EQ(seen_later.size(), 1u);
  EXPECT_EQ(seen_later[0].SpecificType, 99);
  EXPECT_TRUE(seen_later[0].IsOK);
  EXPECT_EQ(seen_later[0].Kind, pk_Present);
}

TEST_F(CalcRun, ReturnPresenceStartsZeroedEachRunAndCarriesBetweenGroups) {
  added = {{At(1, 10, 8, 0), At(1, 10, 16, 0), pk_Present, 1, "clock"}};
  std::vector<Variant> seen;
  m.OnValidatePresence = [&](TAttendanceCalcManager&, std::span<const TPresence>,
                             TPresence& result) {
    seen.push_back(result.Data);
    result.Data = static_cast<int>(seen.size());
    return true;
  };
  m.Run();
  m.SetCalcDate({1, 10});
  const size_t first_run = seen.size();
  m.Run();
  ASSERT_EQ(seen.size(), 2 * first_run);
  EXPECT_FALSE(seen[0].IsAssigned());
  EXPECT_EQ(seen[1], 1);
  EXPECT_FALSE(seen[first_run].IsAssigned());
}

TEST_F(CalcRun, RunResetsPresencesDateAndPrivateDataButNotTheError) {
  added = {{At(1, 10, 8, 0), At(1, 10, 16, 0), pk_Present, 1, "clock"}};
  m.OnInitialize = [](TAttendanceCalcManager& s) {
    s.SetPrivateData("handler state");
    s.SetErrorCode(7);
  };
  m.Run();
  EXPECT_EQ(m.PresenceCount(), 0);
  EXPECT_EQ(m.CalcDate(), TDate{});
  EXPECT_FALSE(m.PrivateData().IsAssigned());
  EXPECT_EQ(m.ErrorCode(), 7);
}

TEST_F(CalcRun, RunDoesNothingWithoutItsRequiredEventsOrPerson) {
  struct Case {
    const char* name;
    std::function<void(TAttendanceCalcManager&)> unbind;
  } cases[] = {
      {"person", [](TAttendanceCalcManager& s) { s.SetPersonID(""); }},
      {"working days", [](TAttendanceCalcManager& s) { s.OnGetWorkingDays = nullptr; }},
      {"add presences", [](TAttendanceCalcManager& s) { s.OnAddPresences = nullptr; }},
      {"validate", [](TAttendanceCalcManager& s) { s.OnValidatePresence = nullptr; }},
      {"process", [](TAttendanceCalcManager& s) { s.OnProcessPresence = nullptr; }},
  };
  for (const Case& c : cases) {
    TAttendanceCalcManager bare;
    bare.SetPersonID("      1001");
    bare.SetCalcDate({1, 10});
    bool any_event = false;
    auto notify = [&](TAttendanceCalcManager&) { any_event = true; };
    bare.OnInitialize = notify;
    bare.OnGetWorkingDays = notify;
    bare.OnAddPresences = notify;
    bare.OnValidatePresence = [&](TAttendanceCalcManager&, std::span<const TPresence>, TPresence&) {
      return any_event = true;
    };
    bare.OnProcessPresence = [&](TAttendanceCalcManager&, TPresence) { any_event = true; };
    bare.OnHandleError = notify;
    c.unbind(bare);
    bare.Run();
    EXPECT_FALSE(any_event) << c.name;
    EXPECT_EQ(bare.CalcDate(), (TDate{1, 10})) << c.name;
  }
}

TEST_F(CalcRun, ShiftMovesABoundAndTheSplitFollows) {
  added = {{At(1, 10, 7, 0), At(1, 10, 16, 0), pk_Present, 1, "clock"}};
  // A late start of 20 minutes moves the working time (floating start).
  on_add = [](TAttendanceCalcManager& s) {
    s.Shift(dt_Today, edb_Day, ep_Begin, 20);
    s.Shift(dt_Today, edb_Day, ep_End, 20);
  };
  m.Run();
  EXPECT_EQ(m.Today().wdDay.iBegin.sdtDateTime, At(1, 10, 8, 20));
  EXPECT_EQ(m.Today().wdDay.iBegin.sdtRelativeTime, 1580);
  EXPECT_EQ(m.Today().wdDay.iEnd.sdtDateTime, At(1, 10, 16, 20));
  EXPECT_EQ(DescribeAll(split), (std::vector<std::string>{
                                    "0:01/10 04:00-01/10 06:00:A:",
                                    "1:01/10 06:00-01/10 07:00:A:",
                                    "1:01/10 07:00-01/10 08:20:P:clock",
                                    "2:01/10 08:20-01/10 12:00:P:clock",
                                    "3:01/10 12:00-01/10 12:30:P:clock",
                                    "4:01/10 12:30-01/10 16:00:P:clock",
                                    "4:01/10 16:00-01/10 16:20:A:",
                                    "5:01/10 16:20-01/10 20:00:A:",
                                    "6:01/10 20:00-01/11 04:00:A:",
                                }));
}

TEST_F(CalcRun, ShiftCarriesTheClockIntoHoursAndDays) {
  struct Case {
    TCalcDateTime from;
    int shift;
    TCalcDateTime to;
  } cases[] = {
      {At(1, 10, 8, 50), 20, At(1, 10, 9, 10)},  {At(1, 10, 8, 0), 90, At(1, 10, 9, 30)},
      {At(1, 10, 8, 50), 90, At(1, 10, 10, 20)}, {At(1, 10, 8, 10), -20, At(1, 10, 7, 50)},
      {At(1, 10, 8, 0), -150, At(1, 10, 5, 30)}, {At(6, 31, 23, 30), 60, At(7, 1, 0, 30)},
      {At(7, 1, 0, 10), -20, At(6, 31, 23, 50)}, {At(1, 10, 8, 0), 0, At(1, 10, 8, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(PointText({c.from, 0}) + " + " + std::to_string(c.shift));
    TWorkingDay day = MakeWorkingDay(c.from, c.from, c.from, c.from, c.from, c.from, c.from);
    m.OnGetWorkingDays = [&](TAttendanceCalcManager& s) {
      s.SetYesterday(day);
      s.SetToday(day);
      s.SetTomorrow(day);
    };
    m.OnAddPresences = [&](TAttendanceCalcManager& s) {
      s.Shift(dt_Tomorrow, edb_Break, ep_End, c.shift);
    };
    m.SetCalcDate({1, 10});
    m.Run();
    const TTalvekDateTime& bound = m.Tomorrow().wdBreak.iEnd;
    EXPECT_EQ(bound.sdtDateTime, c.to);
    EXPECT_EQ(bound.sdtRelativeTime, c.shift);
    EXPECT_EQ(MinutesBetween(c.from, bound.sdtDateTime), c.shift);
    EXPECT_EQ(m.Tomorrow().wdBreak.iBegin.sdtDateTime, c.from);
  }
}

TEST_F(CalcRun, ZeroLengthPresenceNeverOpensAFillerOverALongerOne) {
  // The exchange sort cannot order a point against a presence that contains it or ends at it.
  const Added clock{At(1, 10, 7, 0), At(1, 10, 16, 0), pk_Present, 1, "clock"};
  const Added point{At(1, 10, 10, 0), At(1, 10, 10, 0), pk_Absent, 2, "point"};
  const Added short_clock{At(1, 10, 8, 0), At(1, 10, 11, 0), pk_Present, 1, "short"};
  const Added ends_at_point{At(1, 10, 9, 0), At(1, 10, 10, 0), pk_Present, 1, "ends"};
  const Added same_as_short{At(1, 10, 8, 0), At(1, 10, 11, 0), pk_Absent, 3, "mission"};
  struct Case {
    const char* name;
    std::vector<Added> order;
    size_t groups_in_work_first;
  } cases[] = {
      {"inside, presence first", {clock, point}, 2},
      {"inside, point first", {point, clock}, 2},
      {"inside a piece, presence first", {short_clock, point}, 3},
      {"inside a piece, point first", {point, short_clock}, 3},
      {"at the end, point first", {point, ends_at_point}, 4},
      {"between identical presences", {short_clock, point, same_as_short}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    added = c.order;
    groups.clear();
    m.Run();
    ExpectSplitDay(split, StandardBounds(), At(1, 9, 6, 0));
    size_t in_work_first = 0;
    for (const auto& group : groups) {
      in_work_first += group.front().WorkingIntervalType == wi_Work_First;
    }
    EXPECT_EQ(in_work_first, c.groups_in_work_first);
  }
}

TEST_F(CalcRun, RandomDaysKeepTheSplitInvariants) {
  std::mt19937 random(20240601);
  auto minute_of_day = [&](int from, int to) {
    return std::uniform_int_distribution<int>(from, to)(random);
  };
  auto point = [](int minutes) {  // minutes from 01/10 00:00, within 01/09..01/11
    const int day = 10 + (minutes >= 0 ? minutes / 1440 : -1);
    const int rest = minutes - (day - 10) * 1440;
    return At(1, day, rest / 60, rest % 60);
  };
  for (int round = 0; round < 300; ++round) {
    added.clear();
    const int count = minute_of_day(0, 14);
    for (int i = 0; i < count; ++i) {
      const int begin = minute_of_day(-120, 1800) / 15 * 15;
      const int length = minute_of_day(0, 3) == 0 ? 0 : minute_of_day(1, 600) / 15 * 15;
      const int type = minute_of_day(1, 5);
      added.push_back({point(begin), point(begin + length), type == 1 ? pk_Present : pk_Absent,
                       type, std::to_string(i)});
    }
    m.SetCalcDate({1, 10});
    split.clear();
    m.Run();
    SCOPED_TRACE("round " + std::to_string(round));
    ExpectSplitDay(split, StandardBounds(), At(1, 9, 6, 0));
    if (HasFatalFailure() || HasNonfatalFailure()) {
      for (const Added& a : added) {
        ADD_FAILURE() << "added " << PointText({a.begin, 0}) << "-" << PointText({a.end, 0})
                      << " type " << a.specific_type << " data " << a.data.AsText();
      }
      for (const TPresence& p : split) ADD_FAILURE() << "split " << Describe(p);
      break;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Failures

class CalcFailure : public CalcRun {
 protected:
  void SetUp() override {
    CalcRun::SetUp();
    char pattern[] = "/tmp/zel_calc_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home = pattern;
    util::SetHomeFolder(home);
    dates::SetNowJalali("1403/05/07 10:00", /*frozen=*/true);
    added = {{At(1, 10, 8, 0), At(1, 10, 16, 0), pk_Present, 1, "clock"}};
    m.SetErrorMsg("before");
  }
  void TearDown() override {
    dates::ResetNow();
    util::SetHomeFolder("");
    std::filesystem::remove_all(home);
  }

  std::string RunLog() const {
    std::ifstream in(home + "/Logs/Log(03-05-07).Log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string home;
};

TEST_F(CalcFailure, SilentAbortWritesNoLineAndKeepsTheMessage) {
  on_add = [](TAttendanceCalcManager& s) {
    s.SetErrorCode(3);
    SilentAbort();
  };
  m.Run();
  EXPECT_EQ(events, (std::vector<std::string>{"Initialize", "GetWorkingDays", "AddPresences",
                                              "HandleError"}));
  EXPECT_EQ(m.ErrorCode(), 3);
  EXPECT_EQ(m.ErrorMsg(), "before");
  EXPECT_EQ(RunLog(), "");
  EXPECT_EQ(m.PresenceCount(), 0);
  EXPECT_EQ(m.CalcDate(), TDate{});
}

TEST_F(CalcFailure, OrdinaryExceptionIsLoggedAndBecomesTheMessage) {
  m.OnBeforeProcess = [](TAttendanceCalcManager&) { throw std::runtime_error("bad float"); };
  m.Run();
  EXPECT_EQ(events.back(), "HandleError");
  EXPECT_TRUE(processed.empty());
  EXPECT_EQ(m.ErrorMsg(), "bad float");
  EXPECT_EQ(RunLog(), "1403/05/07 10:00:00 : Error In Run : bad float\n");
  EXPECT_EQ(m.PresenceCount(), 0);
}

TEST_F(CalcFailure, ExceptionWithAnErrorCodeKeepsTheMessage) {
  on_add = [](TAttendanceCalcManager& s) {
    s.SetErrorCode(14);
    throw std::runtime_error("no calendar item");
  };
  m.Run();
  EXPECT_EQ(m.ErrorMsg(), "before");
  EXPECT_EQ(RunLog(), "1403/05/07 10:00:00 : Error In Run : no calendar item\n");
}

TEST_F(CalcFailure, SilentAbortWithoutCodeGivesItsOwnMessage) {
  on_add = [](TAttendanceCalcManager&) { SilentAbort(); };
  m.Run();
  EXPECT_EQ(m.ErrorMsg(), "Operation aborted");
  EXPECT_EQ(RunLog(), "");
}

TEST_F(CalcFailure, ForeignExceptionsPassThroughAfterTheReset) {
  m.OnFinalize = [](TAttendanceCalcManager&) { throw 42; };
  EXPECT_THROW(m.Run(), int);
  EXPECT_EQ(events.back(), "ProcessPresence");
  EXPECT_EQ(m.PresenceCount(), 0);
  EXPECT_EQ(m.CalcDate(), TDate{});
}

TEST_F(CalcFailure, RunLogFallsBackToTheHomeFolder) {
  std::ofstream(home + "/Logs") << "a file where the folder should be";
  m.OnFinalize = [](TAttendanceCalcManager&) { throw std::runtime_error("late failure"); };
  m.Run();
  std::ifstream in(home + "/Log(03-05-07).Log");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "1403/05/07 10:00:00 : Error In Run : late failure");
}

}  // namespace
}  // namespace zel::engine
