// The end of a calculated day: compensation, meals, transport, daily leave and mission,
// suspension, special minutes, minimum extra work, the sum of absences and the DayWork row.
#include "engine/daily_results.h"

#include <algorithm>

#include "dates/zel_calc_utils.h"
#include "engine/daily_engine.h"
#include "engine/daily_text.h"
#include "engine/dm_calculate.h"

namespace zel::engine {

namespace {

int CodeOf(const TPresence& presence) {
  return presence.SpecificType.IsAssigned() ? static_cast<int>(presence.SpecificType.AsInteger())
                                            : 0;
}

// A presence that earns meals and transport: present, tolerated, as presence or extra work.
bool Qualifies(const TPresence& presence) {
  const int code = CodeOf(presence);
  return (code == 1 || code == 6 || code == 14) && presence.Kind == pk_Present && presence.IsOK;
}

bool IsDailyText(const TVariant& data) {
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

// ---------------------------------------------------------------------------------------------
// The handler

void TDailyEngine::GrantMeals(TAttendanceCalcManager& Sender) {
  const TExtraData& x = dm_.ExtraData;
  const bool holiday = x.IsHoliday != 0;
  // The meals whose days include the day, by their begin time.
  KeepPersonRows(meal_rows_, QMeals, "");
  const TKeptRows& q = meal_rows_;
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
    if (!RangeCovers(q.Value(r, c_bd), q.Value(r, c_ed), day_text_)) continue;
    meals.push_back({static_cast<int>(q.Value(r, c_code).AsInteger()), q.Value(r, c_price).AsInteger(),
                     Rel(ParseCalcDateTime(day_text_, q.Text(r, c_bt))),
                     Rel(ParseCalcDateTime(day_text_, q.Text(r, c_et)))});
  }
  if (meals.empty()) return;
  TDailyWorkRec& rec = dm_.DailyWorkRec;
  for (int i = 0; i < Sender.PresenceCount(); ++i) {
    const TPresence& p = Sender.GetPresence(i);
    if (!Qualifies(p)) continue;
    if (CodeOf(p) == 14) {
      if (p.IntervalType == it_ExtraWork && holiday && x.WorkGroupCALCMealHoliday == 0) continue;
      if (p.WorkingIntervalType == wi_ExtraWork_Before && !holiday && x.WorkGroupCALCMealBefore == 0) continue;
      if (p.WorkingIntervalType == wi_ExtraWork_After && !holiday && x.WorkGroupCALCMealAfter == 0) continue;
    }
    const int b = p.Interval.iBegin.sdtRelativeTime, e = p.Interval.iEnd.sdtRelativeTime;
    for (const Meal& meal : meals) {
      const bool touches = meal.begin <= b ? b <= meal.end : meal.begin <= e;
      if (!touches) continue;
      AdoQCMealTime.SetParam("Perno", Sender.PersonID());
      AdoQCMealTime.SetParam("CalcDate", day_text_);
      AdoQCMealTime.SetParam("MealCode", meal.code);
      AdoQCMealTime.Open();
      if (!AdoQCMealTime.IsEmpty()) continue;
      AdoQCMealTime.Append();
      AdoQCMealTime.SetField("Perno", Sender.PersonID());
      AdoQCMealTime.SetField("CalcDate", day_text_);
      AdoQCMealTime.SetField("MealCode", meal.code);
      AdoQCMealTime.SetField("MealPrice", meal.price);
      AdoQCMealTime.Post();
      rec.dwrMealPrice += meal.price;
    }
  }
}

void TDailyEngine::InsertServTime(int half_way_code, int64_t half_way_price,
                                  int64_t service_price) {
  const TAttendanceCalcManager& manager = dm_.AttendanceCalcManager();
  AdoQCServiceTime.SetParam("PERNO", manager.PersonID());
  AdoQCServiceTime.SetParam("CALCDATE", day_text_);
  AdoQCServiceTime.SetParam("HALFWAYCODE", half_way_code);
  AdoQCServiceTime.SetParam("HALFWAYPRICE", half_way_price);
  AdoQCServiceTime.SetParam("SERVICEPRICE", service_price);
  AdoQCServiceTime.ExecSQL();
  dm_.DailyWorkRec.dwrServicePrice += half_way_price + service_price;
}

void TDailyEngine::GrantTransport(TAttendanceCalcManager& Sender) {
  const TExtraData& x = dm_.ExtraData;
  const bool holiday = x.IsHoliday != 0;
  std::string first_time, last_time;
  for (int i = 0; i < Sender.PresenceCount(); ++i) {
    const TPresence& p = Sender.GetPresence(i);
    if (!Qualifies(p)) continue;
    if (first_time.empty()) first_time = CalcTimeToStr(p.Interval.iBegin.sdtDateTime.dtTime);
    last_time = CalcTimeToStr(p.Interval.iEnd.sdtDateTime.dtTime);
  }
  if (first_time.empty()) return;

  QHalfWays.SetParam("CurDate", day_text_);
  QHalfWays.SetParam("Perno", Sender.PersonID());
  QHalfWays.SetParam("IsHoliday", x.IsHoliday);
  // The first half-way of the given direction among the rules open at a time.
  auto half_way = [this](const std::string& time, int direction, int& code, int64_t& price) {
    QHalfWays.SetParam("TTime", time);
    QHalfWays.Open();
    for (; !QHalfWays.Eof(); QHalfWays.Next()) {
      if (QHalfWays.FieldByName("Io_Type").AsInteger() == direction) {
        code = static_cast<int>(QHalfWays.FieldByName("HalfWayCode").AsInteger());
        price = QHalfWays.FieldByName("Price").AsInteger();
        return true;
      }
    }
    return false;
  };

  int code = 0;
  int64_t price = 0;
  if (half_way(first_time, 0, code, price)) {
    InsertServTime(code, price, 0);
  } else if (QHalfWays.IsEmpty() && holiday) {
    // No rule on a holiday: the full fare of the person's service.
    int64_t full_fare = 0;
    AdoQCJobInfo.SetParam("Perno", Sender.PersonID());
    AdoQCJobInfo.Open();
    if (!AdoQCJobInfo.IsEmpty()) {
      AdoQtaCServiceCode.SetParam("Code",
                                  static_cast<int>(AdoQCJobInfo.FieldByName("Service").AsInteger()));
      AdoQtaCServiceCode.Open();
      if (!AdoQtaCServiceCode.IsEmpty()) {
        full_fare = AdoQtaCServiceCode.FieldByName("FullWayPrice").AsInteger();
      }
    }
    InsertServTime(0, 0, full_fare);
  }
  if (!holiday && half_way(last_time, 1, code, price)) InsertServTime(code, price, 0);
}

void TDailyEngine::InsertDayWork(TAttendanceCalcManager& Sender) {
  const TExtraData& x = dm_.ExtraData;
  const TDailyWorkRec& r = dm_.DailyWorkRec;
  db::Dataset& q = QInsertIntoDayWork;
  const struct {
    const char* name;
    int64_t value;
  } numbers[] = {
      {"Edited", 0},
      {"WorkGroup", x.WorkGroupCODE},
      {"CalWork", x.CalWork},
      {"NightWork", r.dwrNightWork},
      {"WorkTotal", r.dwrWorkTotal},
      {"WWork", r.dwrWork},
      {"LeaveOfAbsPay", r.dwrLeaveOfAbsPayed},
      {"Mission", r.dwrMission},
      {"ServiceLate", r.dwrServiceLate},
      {"EarlyPermFirst", r.dwrEarlyPermFirst},
      {"EarlyPermLast", r.dwrEarlyPermLast},
      {"LatePermFirst", r.dwrLatePermFirst},
      {"LatePermLast", r.dwrLatePermLast},
      {"ExtraWorkTotal", r.dwrExtraWorkTotal},
      {"EW_NormPerm", r.dwrEWNormPermBefore + r.dwrEWNormPermAfter},
      {"EW_NormNotPerm", r.dwrEWNormNotPermBefore + r.dwrEWNormNotPermAfter},
      {"EW_HoliPerm", r.dwrEWHoliPerm},
      {"EW_HoliNotPerm", r.dwrEWHoliNotPerm},
      {"EW_InMission", r.dwrEWInMission},
      {"EW_HoliInMission", r.dwrEWHoliInMission},
      {"EW_NormInMission", r.dwrEWNormInMission},
      {"EW_Special", r.dwrEWSpecial},
      {"EW_BreakNotPerm", r.dwrEWBreakNotPerm},
      {"EW_BreakPerm", r.dwrEWBreakPerm},
      {"NonWorkTotal", r.dwrNonWorkTotal},
      {"LeaveOfAbsNoPay", r.dwrLeaveOfAbsNotPayed},
      {"NW_Early_First", r.dwrNWEarlyFirst},
      {"NW_Early_Last", r.dwrNWEarlyLast},
      {"NW_Late_First", r.dwrNWLateFirst},
      {"NW_Late_Last", r.dwrNWLateLast},
      {"NW_LeaveNotPerm", r.dwrNWLeaveNotPerm},
      {"NW_Absent", r.dwrNWAbsent},
      {"NW_Special", r.dwrNWSpecial},
      {"DailyMorkhasi", r.dwrDailyMorkhasi},
      {"DailyMamuriat", r.dwrDailyMamuriat},
      {"DailyAbsence", r.dwrDailyAbsence ? 1 : 0},
      {"Holiday", r.dwrHoliday},
      {"Suspended", r.dwrSuspended ? 1 : 0},
      {"PresenceInDMor", r.dwrPresenceInDailyMorkhasi},
      {"PresenceInDMam", r.dwrPresenceInDailyMamuriat},
      {"OrdMor", r.dwrOrdinaryMorkhasi},
      {"ReduceHoliday", r.dwrReduceHoliday},
      {"HolidaysCounted", r.dwrHolidaysCounted},
      {"KasrMor", r.dwrKasrMorkhasi},
      {"MealPrice", r.dwrMealPrice},
      {"ServicePrice", r.dwrServicePrice},
      {"PPercent", x.WorkGroupPPERCENT},
  };
  for (const auto& n : numbers) q.SetParam(n.name, n.value);
  q.SetParam("PerNo", Sender.PersonID());
  q.SetParam("DDate", day_text_);
  q.SetParam("CalCode", x.WorkGroupCALCODE.empty() ? db::Value()
                                                   : db::Value(StrToIntDef0(x.WorkGroupCALCODE)));
  q.SetParam("Section", x.Section);
  q.SetParam("BeginStr", r.dwrBeginStr);
  q.SetParam("EndStr", r.dwrEndStr);
  q.SetParam("FirstBeginDate", r.dwrFirstBeginDate);
  q.SetParam("FirstBeginTime", r.dwrFirstBeginTime);
  q.SetParam("LastEndDate", r.dwrLastEndDate);
  q.SetParam("LastEndTime", r.dwrLastEndTime);
  q.ExecSQL();
}

void TDailyEngine::AttendanceCalcManagerFinalize(TAttendanceCalcManager& Sender) {
  const TExtraData& x = dm_.ExtraData;
  TDailyWorkRec& rec = dm_.DailyWorkRec;
  const bool holiday = x.IsHoliday != 0;
  const int count = Sender.PresenceCount();
  FlushTimeTab(Sender);  // the processing of the day has ended

  CompensateShortfalls(rec, x);                               // 1
  rec.dwrHoliday = x.IsHoliday;                               // 2
  rec.dwrDailyAbsence = dm_.DailyAbsence;
  rec.dwrMealPrice = 0;
  if (x.WorkGroupCALCMeal != 0) GrantMeals(Sender);           // 3
  rec.dwrServicePrice = 0;                                    // 4
  if (x.WorkGroupCALCService != 0) GrantTransport(Sender);

  // 5. Daily leave and mission.
  bool daily_leave = false;
  int leave_type = 0, mission_type = 0;
  for (int i = 0; i < count; ++i) {
    const TPresence& p = Sender.GetPresence(i);
    const int code = CodeOf(p);
    if ((code != 12 && code != 13) || !IsDailyText(p.Data)) continue;
    const int type = StrToIntDef0(DataItem(SplitDataItems(p.Data.AsText()), 3));
    if (code == 12) {
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
  if (leave_type != 0 && mission_type != 0) Abort(Sender, 6);
  if (leave_type != 0 || mission_type != 0) dm_.DailyAbsence = false;
  rec.dwrDailyAbsence = dm_.DailyAbsence;

  // 6-7. Suspension; a leave or mission in the working time is no absence.
  for (int i = 0; i < count; ++i) {
    if (CodeOf(Sender.GetPresence(i)) == 22) rec.dwrSuspended = true;
  }
  if (rec.dwrDailyAbsence && x.WorkGroupGROUPTYPE != 2) {
    for (int i = 0; i < count; ++i) {
      const TPresence& p = Sender.GetPresence(i);
      const int code = CodeOf(p);
      if ((code == 12 || code == 13) && p.IntervalType == it_Work) {
        rec.dwrDailyAbsence = false;
        break;
      }
    }
  }

  // 8. Special minutes entered for the day.
  AdoQCDailySpecExtDef.SetParam("Perno", Sender.PersonID());
  KeepPersonRows(spec_ext_rows_, AdoQCDailySpecExtDef, Sender.PersonID());
  const TKeptRows& special = spec_ext_rows_;
  const int c_ddate = special.Column("DDate");
  for (int r = 0; r < special.Count(); ++r) {
    if (special.Text(r, c_ddate) != day_text_) continue;
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

  ApplyMinimumExtraWork(rec, x);                              // 9

  // 10. Too many small absences make a whole-day absence.
  if (!rec.dwrDailyAbsence && rec.dwrDailyMorkhasi == 0 && rec.dwrDailyMamuriat == 0 &&
      !rec.dwrSuspended && !holiday && x.WorkGroupSumAbsent != 0 &&
      x.WorkGroupSumAbsent < SumOfAbsences(rec, x.WorkGroupAbsentOption)) {
    int night = 0;
    if (x.WorkGroupGROUPTYPE != 4) {
      for (int i = 0; i < count; ++i) {
        const TPresence& p = Sender.GetPresence(i);
        const int code = CodeOf(p);
        if (p.IntervalType == it_ExtraWork && (code == 6 || code == 13 || code == 14 ||
                                               code == 18 || code == 19)) {
          night += NightMinutesOf(p);
        }
      }
    }
    rec.dwrNightWork = night;
    const int absent =
        x.CalWork - (x.WorkGroupDec_Meal_Absence != 0 ? x.WorkGroupMealDuration : 0);
    for (int32_t* field :
         {&rec.dwrWorkTotal, &rec.dwrWork, &rec.dwrLeaveOfAbsPayed, &rec.dwrMission,
          &rec.dwrServiceLate, &rec.dwrEarlyPermFirst, &rec.dwrEarlyPermLast,
          &rec.dwrLatePermFirst, &rec.dwrLatePermLast, &rec.dwrNWEarlyFirst, &rec.dwrNWEarlyLast,
          &rec.dwrNWLateFirst, &rec.dwrNWLateLast, &rec.dwrNWLeaveNotPerm,
          &rec.dwrOrdinaryMorkhasi}) {
      *field = 0;
    }
    rec.dwrNonWorkTotal = absent;
    rec.dwrNWAbsent = absent;
    rec.dwrDailyAbsence = true;
  }

  // 11-12. The day's row; a failed insert is logged and the run goes on.
  try {
    InsertDayWork(Sender);
  } catch (const std::exception& e) {
    LogToThreadFile(Sender, "Error In Insert To DayWork DDate = " + day_text_ + " Error : " +
                                e.what());
  }
  dm_.FWorkGroupMealDurationAffected = false;
}

}  // namespace zel::engine
