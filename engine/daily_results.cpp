// The end of a calculated day: compensation, meals, transport, daily leave and mission,
// suspension, special minutes, minimum extra work, the sum of absences and the DayWork row.
#include "engine/daily_results.h"

#include <algorithm>
#include <optional>
#include <set>

#include "dates/zel_calc_utils.h"
#include "engine/daily_engine.h"
#include "engine/daily_text.h"
#include "engine/day_trace.h"
#include "engine/dm_calculate.h"

namespace zel::engine {

namespace {

// A presence that earns meals and transport: present, tolerated, as presence or extra work.
bool Qualifies(const TPresence& presence) {
  using enum PresenceCode;
  const PresenceCode code = PresenceCodeOf(presence);
  // A presence still carrying the clock's source code qualifies too.
  const bool clock = ToInt(code) == ToInt(SourceType::kPresence);
  return (clock || code == kPresent || code == kExtraWork) && presence.Kind == pk_Present &&
         presence.IsOK;
}

bool IsDailyText(const Variant& data) {
  const std::string* text = data.TextPtr();
  return text && text->compare(0, 2, "D_") == 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Pure rules

void ConsumeFrom(int amount, std::initializer_list<int32_t*> fields) {
  for (int32_t* field : fields) {
    if (amount <= 0) return;
    if (*field <= 0) continue;
    const int32_t taken = std::min(*field, static_cast<int32_t>(amount));
    *field -= taken;
    amount -= taken;
  }
}

void CompensateShortfalls(TDailyWorkRec& r, const TExtraData& x) {
  struct Kind {
    int priority;
    int32_t* first;
    int32_t* last;  // nullptr for a shortfall of one field
    int rate, bound, condition;
  };
  const Kind kinds[] = {
      {StrToInt(x.WorkGroupTDR_PRIO), &r.dwrNWLateFirst, &r.dwrNWLateLast, x.WorkGroupT_Day_Rate,
       x.WorkGroupT_Day_Bound, x.WorkGroupT_Day_Condition},
      {StrToInt(x.WorkGroupEDR_PRIO), &r.dwrNWLeaveNotPerm, nullptr, x.WorkGroupE_Day_Rate,
       x.WorkGroupE_Day_Bound, x.WorkGroupE_Day_Condition},
      {StrToInt(x.WorkGroupSDR_PRIO), &r.dwrNWEarlyFirst, &r.dwrNWEarlyLast, x.WorkGroupS_Day_Rate,
       x.WorkGroupS_Day_Bound, x.WorkGroupS_Day_Condition},
  };
  auto consume_extra = [&r](int amount) {
    ConsumeFrom(amount, {&r.dwrEWNormPermBefore, &r.dwrEWNormPermAfter, &r.dwrEWInMission,
                         &r.dwrEWSpecial, &r.dwrEWHoliPerm});
  };
  for (int level = 1; level <= 3; ++level) {
    for (const Kind& kind : kinds) {
      if (kind.priority != level) continue;
      int shortfall = *kind.first + (kind.last ? *kind.last : 0);
      if (kind.rate < 1 || (kind.bound < shortfall && kind.condition == 2)) break;
      if (kind.bound < shortfall && kind.condition == 1) shortfall = kind.bound;
      auto consume_shortfall = [&kind](int amount) {
        if (kind.last) {
          ConsumeFrom(amount, {kind.first, kind.last});
        } else {
          ConsumeFrom(amount, {kind.first});
        }
      };
      const int extra = r.dwrEWNormPermBefore + r.dwrEWNormPermAfter + r.dwrEWHoliPerm +
                        r.dwrEWInMission + r.dwrEWSpecial;
      const int covered = kind.rate * extra / 60;
      if (covered < shortfall) {
        r.dwrExtraWorkTotal -= extra;
        consume_extra(extra);
        r.dwrNonWorkTotal -= covered;
        r.dwrWorkTotal += covered;
        consume_shortfall(covered);
      } else {
        r.dwrNonWorkTotal -= shortfall;
        r.dwrWorkTotal += shortfall;
        consume_shortfall(shortfall);
        const int used = shortfall * 60 / kind.rate;
        r.dwrExtraWorkTotal -= used;
        consume_extra(used);
      }
    }
  }
}

void ApplyMinimumExtraWork(TDailyWorkRec& r, const TExtraData& x) {
  const struct {
    int32_t* permitted;
    int32_t* not_permitted;
    int minimum;
  } groups[] = {
      {&r.dwrEWNormPermBefore, &r.dwrEWNormNotPermBefore, x.WorkGroupE_N_MinBefore},
      {&r.dwrEWNormPermAfter, &r.dwrEWNormNotPermAfter, x.WorkGroupE_N_MinAfter},
      {&r.dwrEWHoliPerm, &r.dwrEWHoliNotPerm, x.WorkGroupE_H_Min},
  };
  for (const auto& g : groups) {
    if (*g.permitted + *g.not_permitted < g.minimum) {
      r.dwrExtraWorkTotal -= *g.permitted + *g.not_permitted;
      *g.permitted = 0;
      *g.not_permitted = 0;
    }
  }
}

int SumOfAbsences(const TDailyWorkRec& r, int option) {
  int sum = 0;
  if (option & 1) sum += r.dwrOrdinaryMorkhasi;
  if (option & 2) sum += r.dwrNWLateFirst + r.dwrNWLateLast;
  if (option & 4) sum += r.dwrNWEarlyFirst + r.dwrNWEarlyLast;
  if (option & 8) sum += r.dwrNWLeaveNotPerm;
  return sum;
}

std::vector<DayWorkColumn> DayWorkColumns(const TDailyWorkRec& r, const TExtraData& x) {
  return {
      {"Edited", 0, false},
      {"WorkGroup", x.WorkGroupCODE, false},
      {"CalWork", x.CalWork, false},
      {"NightWork", r.dwrNightWork, true},
      {"WorkTotal", r.dwrWorkTotal, true},
      {"WWork", r.dwrWork, true},
      {"LeaveOfAbsPay", r.dwrLeaveOfAbsPayed, true},
      {"Mission", r.dwrMission, true},
      {"ServiceLate", r.dwrServiceLate, true},
      {"EarlyPermFirst", r.dwrEarlyPermFirst, true},
      {"EarlyPermLast", r.dwrEarlyPermLast, true},
      {"LatePermFirst", r.dwrLatePermFirst, true},
      {"LatePermLast", r.dwrLatePermLast, true},
      {"ExtraWorkTotal", r.dwrExtraWorkTotal, true},
      {"EW_NormPerm", r.dwrEWNormPermBefore + r.dwrEWNormPermAfter, true},
      {"EW_NormNotPerm", r.dwrEWNormNotPermBefore + r.dwrEWNormNotPermAfter, true},
      {"EW_HoliPerm", r.dwrEWHoliPerm, true},
      {"EW_HoliNotPerm", r.dwrEWHoliNotPerm, true},
      {"EW_InMission", r.dwrEWInMission, true},
      {"EW_HoliInMission", r.dwrEWHoliInMission, true},
      {"EW_NormInMission", r.dwrEWNormInMission, true},
      {"EW_Special", r.dwrEWSpecial, true},
      {"EW_BreakNotPerm", r.dwrEWBreakNotPerm, true},
      {"EW_BreakPerm", r.dwrEWBreakPerm, true},
      {"NonWorkTotal", r.dwrNonWorkTotal, true},
      {"LeaveOfAbsNoPay", r.dwrLeaveOfAbsNotPayed, true},
      {"NW_Early_First", r.dwrNWEarlyFirst, true},
      {"NW_Early_Last", r.dwrNWEarlyLast, true},
      {"NW_Late_First", r.dwrNWLateFirst, true},
      {"NW_Late_Last", r.dwrNWLateLast, true},
      {"NW_LeaveNotPerm", r.dwrNWLeaveNotPerm, true},
      {"NW_Absent", r.dwrNWAbsent, true},
      {"NW_Special", r.dwrNWSpecial, true},
      {"DailyMorkhasi", r.dwrDailyMorkhasi, false},
      {"DailyMamuriat", r.dwrDailyMamuriat, false},
      {"DailyAbsence", r.dwrDailyAbsence ? 1 : 0, false},
      {"Holiday", r.dwrHoliday, false},
      {"Suspended", r.dwrSuspended ? 1 : 0, false},
      {"PresenceInDMor", r.dwrPresenceInDailyMorkhasi, true},
      {"PresenceInDMam", r.dwrPresenceInDailyMamuriat, true},
      {"OrdMor", r.dwrOrdinaryMorkhasi, true},
      {"ReduceHoliday", r.dwrReduceHoliday, true},
      {"HolidaysCounted", r.dwrHolidaysCounted, true},
      {"KasrMor", r.dwrKasrMorkhasi, true},
      {"MealPrice", r.dwrMealPrice, false},
      {"ServicePrice", r.dwrServicePrice, false},
      {"PPercent", x.WorkGroupPPERCENT, false},
  };
}

// ---------------------------------------------------------------------------------------------
// The handler

void DailyEngine::GrantMeals(TAttendanceCalcManager& Sender) {
  const TExtraData& x = day_.ExtraData;
  const bool holiday = x.IsHoliday != 0;
  // The meals whose days include the day, by their begin time.
  KeepPersonRows(meal_rows_, MealsQuery, "");
  const KeptRows& q = meal_rows_;
  struct Meal {
    int code;
    int64_t price;
    int begin, end;  // relative minutes of the meal window on the day
  };
  std::vector<Meal> meals;
  const int c_code = q.Column("Code"), c_price = q.Column("Price");
  const int c_bd = q.Column("BeginDate"), c_ed = q.Column("EndDate");
  const int c_bt = q.Column("BeginTime"), c_et = q.Column("EndTime");
  for (int r = 0; r < q.Count(); ++r) {
    if (!RangeCovers(q.Value(r, c_bd), q.Value(r, c_ed), day_.day_text)) continue;
    meals.push_back({static_cast<int>(q.Value(r, c_code).AsInteger()),
                     q.Value(r, c_price).AsInteger(),
                     Rel(ParseCalcDateTime(day_.day_text, q.Text(r, c_bt))),
                     Rel(ParseCalcDateTime(day_.day_text, q.Text(r, c_et)))});
  }
  if (meals.empty()) return;
  TDailyWorkRec& rec = day_.DailyWorkRec;
  std::set<int> granted;  // without writing, the meals this day was given so far
  for (int i = 0; i < Sender.PresenceCount(); ++i) {
    const TPresence& p = Sender.GetPresence(i);
    if (!Qualifies(p)) continue;
    if (PresenceCodeOf(p) == PresenceCode::kExtraWork) {
      if (p.IntervalType == it_ExtraWork && holiday && x.WorkGroupCALCMealHoliday == 0) continue;
      if (p.WorkingIntervalType == wi_ExtraWork_Before && !holiday &&
          x.WorkGroupCALCMealBefore == 0)
        continue;
      if (p.WorkingIntervalType == wi_ExtraWork_After && !holiday && x.WorkGroupCALCMealAfter == 0)
        continue;
    }
    const int b = p.Interval.iBegin.sdtRelativeTime, e = p.Interval.iEnd.sdtRelativeTime;
    for (const Meal& meal : meals) {
      const bool touches = meal.begin <= b ? b <= meal.end : meal.begin <= e;
      if (!touches) continue;
      if (!dm_.WriteResults()) {
        if (granted.insert(meal.code).second) rec.dwrMealPrice += meal.price;
        continue;
      }
      if (dm_.DayWritesOpen()) {
        // The day's old rows are gone: the meals written so far are the ones it has.
        if (meals_serial_ != dm_.DayWritesSerial()) {
          meals_serial_ = dm_.DayWritesSerial();
          meals_written_.clear();
        }
        if (!meals_written_.insert(meal.code).second) continue;
        InsertIntoMealTime.SetParam("Perno", Sender.PersonID());
        InsertIntoMealTime.SetParam("CalcDate", day_.day_text);
        InsertIntoMealTime.SetParam("MealCode", meal.code);
        InsertIntoMealTime.SetParam("MealPrice", meal.price);
        InsertIntoMealTime.ExecSQL();
        rec.dwrMealPrice += meal.price;
        continue;
      }
      AdoQCMealTime.SetParam("Perno", Sender.PersonID());
      AdoQCMealTime.SetParam("CalcDate", day_.day_text);
      AdoQCMealTime.SetParam("MealCode", meal.code);
      AdoQCMealTime.Open();
      if (!AdoQCMealTime.IsEmpty()) continue;
      AdoQCMealTime.Append();
      AdoQCMealTime.SetField("Perno", Sender.PersonID());
      AdoQCMealTime.SetField("CalcDate", day_.day_text);
      AdoQCMealTime.SetField("MealCode", meal.code);
      AdoQCMealTime.SetField("MealPrice", meal.price);
      AdoQCMealTime.Post();
      rec.dwrMealPrice += meal.price;
    }
  }
}

void DailyEngine::InsertServTime(int half_way_code, int64_t half_way_price, int64_t service_price) {
  const TAttendanceCalcManager& manager = dm_.AttendanceCalcManager();
  AdoQCServiceTime.SetParam("PERNO", manager.PersonID());
  AdoQCServiceTime.SetParam("CALCDATE", day_.day_text);
  AdoQCServiceTime.SetParam("HALFWAYCODE", half_way_code);
  AdoQCServiceTime.SetParam("HALFWAYPRICE", half_way_price);
  AdoQCServiceTime.SetParam("SERVICEPRICE", service_price);
  if (dm_.WriteResults()) AdoQCServiceTime.ExecSQL();
  day_.DailyWorkRec.dwrServicePrice += half_way_price + service_price;
}

void DailyEngine::GrantTransport(TAttendanceCalcManager& Sender) {
  const TExtraData& x = day_.ExtraData;
  const bool holiday = x.IsHoliday != 0;
  std::string first_time, last_time;
  for (int i = 0; i < Sender.PresenceCount(); ++i) {
    const TPresence& p = Sender.GetPresence(i);
    if (!Qualifies(p)) continue;
    if (first_time.empty()) first_time = CalcTimeToStr(p.Interval.iBegin.sdtDateTime.dtTime);
    last_time = CalcTimeToStr(p.Interval.iEnd.sdtDateTime.dtTime);
  }
  if (first_time.empty()) return;

  HalfWaysQuery.SetParam("CurDate", day_.day_text);
  HalfWaysQuery.SetParam("Perno", Sender.PersonID());
  HalfWaysQuery.SetParam("IsHoliday", x.IsHoliday);
  // The first half-way of the given direction among the rules open at a time.
  auto half_way = [this](const std::string& time, int direction, int& code, int64_t& price) {
    HalfWaysQuery.SetParam("TTime", time);
    HalfWaysQuery.Open();
    for (; !HalfWaysQuery.Eof(); HalfWaysQuery.Next()) {
      if (HalfWaysQuery.FieldByName("Io_Type").AsInteger() == direction) {
        code = static_cast<int>(HalfWaysQuery.FieldByName("HalfWayCode").AsInteger());
        price = HalfWaysQuery.FieldByName("Price").AsInteger();
        return true;
      }
    }
    return false;
  };

  int code = 0;
  int64_t price = 0;
  if (half_way(first_time, 0, code, price)) {
    InsertServTime(code, price, 0);
  } else if (HalfWaysQuery.IsEmpty() && holiday) {
    // No rule on a holiday: the full fare of the person's service.
    int64_t full_fare = 0;
    const std::vector<JobRow>& jobs = base_.Jobs(Sender.PersonID());
    if (!jobs.empty()) full_fare = base_.FullWayPrice(jobs.front().Service).value_or(0);
    InsertServTime(0, 0, full_fare);
  }
  if (!holiday && half_way(last_time, 1, code, price)) InsertServTime(code, price, 0);
}

void DailyEngine::InsertDayWork(TAttendanceCalcManager& Sender) {
  const TExtraData& x = day_.ExtraData;
  const TDailyWorkRec& r = day_.DailyWorkRec;
  db::Dataset& q = QInsertIntoDayWork;
  for (const DayWorkColumn& n : DayWorkColumns(r, x)) q.SetParam(n.name, n.value);
  q.SetParam("PerNo", Sender.PersonID());
  q.SetParam("DDate", day_.day_text);
  q.SetParam("CalCode", x.WorkGroupCALCODE.empty() ? db::Value()
                                                   : db::Value(StrToIntDef0(x.WorkGroupCALCODE)));
  q.SetParam("Section", x.Section);
  q.SetParam("BeginStr", r.dwrBeginStr);
  q.SetParam("EndStr", r.dwrEndStr);
  q.SetParam("FirstBeginDate", r.dwrFirstBeginDate);
  q.SetParam("FirstBeginTime", r.dwrFirstBeginTime);
  q.SetParam("LastEndDate", r.dwrLastEndDate);
  q.SetParam("LastEndTime", r.dwrLastEndTime);
  if (DayTrace* trace = dm_.Trace()) trace->DayWork(r, x);
  if (dm_.WriteResults()) q.ExecSQL();
}

void DailyEngine::AttendanceCalcManagerFinalize(TAttendanceCalcManager& Sender) {
  const TExtraData& x = day_.ExtraData;
  TDailyWorkRec& rec = day_.DailyWorkRec;
  const bool holiday = x.IsHoliday != 0;
  const int count = Sender.PresenceCount();
  FlushTimeTab(Sender);  // the processing of the day has ended
  // The observer hears of each step with the totals before and after it.
  DayTrace* const trace = dm_.Trace();
  std::optional<TDailyWorkRec> before;
  auto mark = [&] {
    if (trace) before = rec;
  };
  auto told = [&](const char* rule, auto setting) {
    if (trace) trace->Step({rule, setting()}, *before, rec);
  };
  auto n = [](int value) { return std::to_string(value); };

  mark();
  CompensateShortfalls(rec, x);  // 1
  told("compensation of shortfalls by permitted extra work", [&] {
    return "late: priority " + x.WorkGroupTDR_PRIO + " rate " + n(x.WorkGroupT_Day_Rate) +
           " bound " + n(x.WorkGroupT_Day_Bound) + " condition " + n(x.WorkGroupT_Day_Condition) +
           "; unpermitted leave: priority " + x.WorkGroupEDR_PRIO + " rate " +
           n(x.WorkGroupE_Day_Rate) + " bound " + n(x.WorkGroupE_Day_Bound) + " condition " +
           n(x.WorkGroupE_Day_Condition) + "; early departure: priority " + x.WorkGroupSDR_PRIO +
           " rate " + n(x.WorkGroupS_Day_Rate) + " bound " + n(x.WorkGroupS_Day_Bound) +
           " condition " + n(x.WorkGroupS_Day_Condition);
  });
  mark();
  rec.dwrHoliday = x.IsHoliday;  // 2
  rec.dwrDailyAbsence = day_.DailyAbsence;
  rec.dwrMealPrice = 0;
  if (x.WorkGroupCALCMeal != 0) GrantMeals(Sender);  // 3
  rec.dwrServicePrice = 0;                           // 4
  if (x.WorkGroupCALCService != 0) GrantTransport(Sender);
  told("holiday, meals and transport", [&] {
    return "Holiday " + n(x.IsHoliday) + ", CALCMeal " + n(x.WorkGroupCALCMeal) + ", CALCService " +
           n(x.WorkGroupCALCService);
  });
  mark();

  // 5. Daily leave and mission.
  bool daily_leave = false;
  int leave_type = 0, mission_type = 0;
  for (int i = 0; i < count; ++i) {
    const TPresence& p = Sender.GetPresence(i);
    const PresenceCode code = PresenceCodeOf(p);
    if ((code != PresenceCode::kLeave && code != PresenceCode::kMission) || !IsDailyText(p.Data)) {
      continue;
    }
    const int type = StrToIntDef0(DataItem(SplitDataItems(p.Data.AsText()), 3));
    if (code == PresenceCode::kLeave) {
      daily_leave = true;
      leave_type = type;
    } else {
      mission_type = type;
    }
  }
  rec.dwrDailyMorkhasi = leave_type;
  if (holiday && daily_leave) {
    if (rec.dwrLeaveOfAbsNotPayed != 0) rec.dwrLeaveOfAbsNotPayed = x.DayLength;
    if (rec.dwrLeaveOfAbsPayed != 0) rec.dwrLeaveOfAbsPayed = x.DayLength;
  }
  rec.dwrDailyMamuriat = mission_type;
  if (leave_type != 0 && mission_type != 0) Abort(Sender, DayError::kLeaveMission);
  if (leave_type != 0 || mission_type != 0) day_.DailyAbsence = false;
  rec.dwrDailyAbsence = day_.DailyAbsence;

  // 6-7. Suspension; a leave or mission in the working time is no absence.
  for (int i = 0; i < count; ++i) {
    if (PresenceCodeOf(Sender.GetPresence(i)) == PresenceCode::kSuspended) rec.dwrSuspended = true;
  }
  if (rec.dwrDailyAbsence && x.WorkGroupGROUPTYPE != GroupType::kHourly) {
    for (int i = 0; i < count; ++i) {
      const TPresence& p = Sender.GetPresence(i);
      const PresenceCode code = PresenceCodeOf(p);
      if ((code == PresenceCode::kLeave || code == PresenceCode::kMission) &&
          p.IntervalType == it_Work) {
        rec.dwrDailyAbsence = false;
        break;
      }
    }
  }

  told("daily leave, daily mission and suspension", [] { return std::string(); });

  // 8. Special minutes entered for the day.
  mark();
  AdoQCDailySpecExtDef.SetParam("Perno", Sender.PersonID());
  KeepPersonRows(spec_ext_rows_, AdoQCDailySpecExtDef, Sender.PersonID());
  const KeptRows& special = spec_ext_rows_;
  const int c_ddate = special.Column("DDate");
  for (int r = 0; r < special.Count(); ++r) {
    if (special.Text(r, c_ddate) != day_.day_text) continue;
    const int amount = dates::TZelCalcUtils::Text2Time(special.Text(r, special.Column("Amount")));
    if (special.Value(r, special.Column("Kind")).AsInteger() != 0) {
      rec.dwrNWSpecial += amount;
      rec.dwrNonWorkTotal += amount;
    } else {
      rec.dwrEWSpecial += amount;
      rec.dwrExtraWorkTotal += amount;
    }
    break;
  }

  told("special minutes entered for the day (DSExtDef)", [] { return std::string(); });
  mark();
  ApplyMinimumExtraWork(rec, x);  // 9
  told("minimum extra work", [&] {
    return "E_N_MinBefore " + n(x.WorkGroupE_N_MinBefore) + ", E_N_MinAfter " +
           n(x.WorkGroupE_N_MinAfter) + ", E_H_Min " + n(x.WorkGroupE_H_Min);
  });
  mark();
  const int sum_of_absences = SumOfAbsences(rec, x.WorkGroupAbsentOption);

  // 10. Too many small absences make a whole-day absence.
  if (!rec.dwrDailyAbsence && rec.dwrDailyMorkhasi == 0 && rec.dwrDailyMamuriat == 0 &&
      !rec.dwrSuspended && !holiday && x.WorkGroupSumAbsent != 0 &&
      x.WorkGroupSumAbsent < SumOfAbsences(rec, x.WorkGroupAbsentOption)) {
    int night = 0;
    if (x.WorkGroupGROUPTYPE != GroupType::kNoNightWork) {
      using enum PresenceCode;
      for (int i = 0; i < count; ++i) {
        const TPresence& p = Sender.GetPresence(i);
        const PresenceCode code = PresenceCodeOf(p);
        if (p.IntervalType == it_ExtraWork &&
            (code == kPresent || code == kMission || code == kExtraWork ||
             code == kPresentInLeave || code == kPresentInMission)) {
          night += NightMinutesOf(p);
        }
      }
    }
    rec.dwrNightWork = night;
    const int absent = x.CalWork - (x.WorkGroupDec_Meal_Absence != 0 ? x.WorkGroupMealDuration : 0);
    for (int32_t* field :
         {&rec.dwrWorkTotal, &rec.dwrWork, &rec.dwrLeaveOfAbsPayed, &rec.dwrMission,
          &rec.dwrServiceLate, &rec.dwrEarlyPermFirst, &rec.dwrEarlyPermLast, &rec.dwrLatePermFirst,
          &rec.dwrLatePermLast, &rec.dwrNWEarlyFirst, &rec.dwrNWEarlyLast, &rec.dwrNWLateFirst,
          &rec.dwrNWLateLast, &rec.dwrNWLeaveNotPerm, &rec.dwrOrdinaryMorkhasi}) {
      *field = 0;
    }
    rec.dwrNonWorkTotal = absent;
    rec.dwrNWAbsent = absent;
    rec.dwrDailyAbsence = true;
  }
  told("too many small absences: whole-day absence", [&] {
    return "SumAbsent " + n(x.WorkGroupSumAbsent) + " < " + n(sum_of_absences) + " (AbsentOption " +
           n(x.WorkGroupAbsentOption) + ")";
  });

  // 11-12. The day's row; a failed insert is logged and the run goes on.
  try {
    InsertDayWork(Sender);
  } catch (const std::exception& e) {
    LogToThreadFile(Sender,
                    "Error In Insert To DayWork DDate = " + day_.day_text + " Error : " + e.what());
  }
}

}  // namespace zel::engine
