// The meaning of every stretch of the day: validation of the sources of a stretch, and the
// late-arrival, early-departure and whole-day-absence classification before processing.
#include "engine/daily_validation.h"

#include <stdexcept>

#include "engine/daily_engine.h"
#include "engine/daily_text.h"
#include "engine/day_trace.h"
#include "engine/dm_calculate.h"

namespace zel::engine {

namespace {

constexpr int kOverlapTable[32] = {0, 1,  2, 3, 4, 5,  6,  7,  8, 1,  10, 3,  12, 5, 14, 15,
                                   0, 17, 2, 1, 4, 17, 22, 23, 8, 25, 26, 27, 28, 5, 30, 31};

bool IsDailyText(const Variant& data) {
  const std::string* text = data.TextPtr();
  return text && text->compare(0, 2, "D_") == 0;
}

// The meal rule of a stretch in the break: the leave or mission type takes the meal.
bool MealRuleHolds(TIntervalType it, const Variant& data) {
  if (it != it_Break) return false;
  const std::vector<std::string> items = SplitDataItems(data.AsText());
  return items.size() >= 7 && TrimText(items[6]) == "1";
}

}  // namespace

int OverlapCode(int mask) {
  if (mask < 0 || mask > 31) throw std::out_of_range("found-set mask out of range");
  return kOverlapTable[mask];
}

DayError OverlapErrorCode(int overlap_code) {
  using enum DayError;
  switch (overlap_code) {
    case 6:
      return kLeaveMission;
    case 7:
      return kLeaveMissionPresence;
    case 10:
      return kLeaveServiceLate;
    case 12:
      return kMissionServiceLate;
    case 14:
      return kLeaveMissionServiceLate;
    case 15:
      return kPresenceMissionLeaveServiceLate;
    case 19:
      return kPresenceLeaveExtraWork;
    case 22:
      return kLeaveMissionExtraWork;
    case 23:
      return kPresenceMissionLeaveExtraWork;
    case 25:
      return kPresenceServiceLateExtraWork;
    case 26:
      return kPresenceServiceLateExtraWork;
    case 27:
      return kPresenceLeaveServiceLateExtraWork;
    case 28:
      return kMissionServiceLateExtraWork;
    case 30:
      return kLeaveMissionServiceLateExtraWork;
    case 31:
      return kEveryKind;
    default:
      return kNone;
  }
}

void DailyEngine::AttendanceCalcManagerBeforeValidate(TAttendanceCalcManager& Sender) {
  if (Sender.Today().wdDay.iBegin.sdtRelativeTime < Sender.Yesterday().wdDayEnd.sdtRelativeTime) {
    Abort(Sender, DayError::kCalendarOverlap);
  }
}

int DailyEngine::HolidaysCountedOf(const Variant& data, SourceType source) {
  const int code = StrToIntDef0(DataItem(SplitDataItems(data.AsText()), 3));
  return source == SourceType::kLeave ? base_.LeaveTypeOf(code).HolidaysCounted
                                      : base_.MissionType(code).HolidaysCounted;
}

bool DailyEngine::AttendanceCalcManagerValidatePresence(TAttendanceCalcManager& Sender,
                                                        std::span<const TPresence> Presences,
                                                        TPresence& ReturnPresence) {
  static const Variant kUnassigned;
  using P = PresenceCode;
  const FindOptions strict_type{false, true, false};
  const TPresence& first = Presences[0];
  const TExtraData& x = day_.ExtraData;
  const bool holiday = x.IsHoliday != 0;
  DayTrace* const trace = dm_.Trace();
  TraceReason why;  // filled only for the observer

  // 1. A suspension outweighs everything else.
  const int suspension = TAttendanceCalcManager::FindPresence(
      Presences, strict_type, pk_None, ToInt(SourceType::kSuspension), kUnassigned, {});
  if (suspension >= 0) {
    ReturnPresence = TPresence{};
    ReturnPresence.Interval = first.Interval;
    ReturnPresence.WorkingIntervalType = Presences[suspension].WorkingIntervalType;
    ReturnPresence.IntervalType = Presences[suspension].IntervalType;
    ReturnPresence.Data = Presences[suspension].Data;
    ReturnPresence.IsOK = ReturnPresence.DoProcess = true;
    ReturnPresence.Kind = pk_Absent;
    ReturnPresence.SpecificType = ToInt(P::kSuspended);
    if (DayTrace* trace = dm_.Trace()) {
      trace->Classified(
          Presences, ReturnPresence,
          {"suspension outweighs every other record",
           "suspension sheet " + DataItem(SplitDataItems(ReturnPresence.Data.AsText()), 2)});
    }
    return true;
  }

  // 2. One member of each source at most.
  enum { kPresence, kLeave, kMission, kServiceLate, kExtraWork };
  const struct {
    SourceType type;
    DayError error;
    int bit;
  } sources[] = {{SourceType::kPresence, DayError::kPresenceOverlap, kFoundPresence},
                 {SourceType::kLeave, DayError::kLeaveOverlap, kFoundLeave},
                 {SourceType::kMission, DayError::kMissionOverlap, kFoundMission},
                 {SourceType::kServiceLatePermit, DayError::kServiceLateOverlap, kFoundServiceLate},
                 {SourceType::kExtraWorkPermit, DayError::kExtraWorkOverlap, kFoundExtraWork}};
  int member[5];
  int mask = 0;
  for (int k = 0; k < 5; ++k) {
    member[k] = TAttendanceCalcManager::FindPresence(Presences, strict_type, pk_None,
                                                     ToInt(sources[k].type), kUnassigned, {});
    if (member[k] < 0) continue;
    PresenceIndexSet exclude;
    exclude.set(static_cast<size_t>(member[k]));
    if (TAttendanceCalcManager::FindPresence(Presences, strict_type, pk_None,
                                             ToInt(sources[k].type), kUnassigned, exclude) >= 0) {
      Abort(Sender, sources[k].error);
    }
    mask |= sources[k].bit;
  }

  // 3-5. What the sources count as together.
  Sender.SetErrorInterval(first.Interval);
  int code = OverlapCode(mask);
  if (code == 3) {
    const Variant& leave = Presences[member[kLeave]].Data;
    if (!IsDailyText(leave) || (holiday && HolidaysCountedOf(leave, SourceType::kLeave) == 0)) {
      code = 1;
      if (trace)
        why.setting =
            "presence in an hourly leave (or a daily one on a holiday that does not count it) "
            "counts as presence; ";
    }
  } else if (code == 5) {
    if (!IsDailyText(Presences[member[kMission]].Data)) {
      code = 1;
      if (trace) why.setting = "presence in an hourly mission counts as presence; ";
    }
  }
  if (const DayError error = OverlapErrorCode(code); error != DayError::kNone) {
    Abort(Sender, error);
  }
  for (int k = 0; k < 5; ++k) {
    if ((code & sources[k].bit) == 0) member[k] = -1;
  }
  auto data_of = [&](int k) { return member[k] >= 0 ? Presences[member[k]].Data : Variant{}; };

  // 6. The classified presence.
  ReturnPresence = TPresence{};
  ReturnPresence.Interval = first.Interval;
  ReturnPresence.WorkingIntervalType = first.WorkingIntervalType;
  ReturnPresence.IntervalType = first.IntervalType;
  const TIntervalType it = first.IntervalType;
  const TWorkingDay& today = Sender.Today();
  const int begin = first.Interval.iBegin.sdtRelativeTime;
  TPresence& r = ReturnPresence;
  auto set = [&r](bool ok, TPresenceKind kind) {
    r.IsOK = ok;
    r.DoProcess = true;
    r.Kind = kind;
  };
  auto result = [&r](PresenceCode code, Variant data = {}) {
    r.SpecificType = ToInt(code);
    r.Data = std::move(data);
  };

  switch (code) {
    case 0:
      set(false, pk_Absent);
      if (it == it_Work) {
        result(P::kAbsent);
        if (trace) why.rule = "no record in the working time: absence";
      } else {
        r.IsOK = true;
        result(P::kNotCounted);
        if (trace) why.rule = "no record outside the working time: not counted";
      }
      break;
    case 1:
      set(true, pk_Present);
      if (it == it_Work) {
        result(P::kPresent);
        if (trace) why.rule = "presence in the working time";
      } else {
        result(P::kExtraWork, data_of(kExtraWork));
        if (it != it_ExtraWork) r.IsOK = !x.WorkGroupADDPERMIT;
        if (trace) {
          why.rule = it == it_ExtraWork ? "presence in the extra span: extra work"
                     : it == it_Break   ? "presence in the break: extra work"
                                        : "presence outside the extra span: extra work";
          if (it != it_ExtraWork) {
            why.setting += "ADDPERMIT " + std::to_string(x.WorkGroupADDPERMIT ? 1 : 0) +
                           (x.WorkGroupADDPERMIT ? ": needs a permission, there is none"
                                                 : ": no permission needed");
          }
        }
      }
      break;
    case 2: {
      set(true, pk_Absent);
      const Variant leave = data_of(kLeave);
      if (it == it_Work) {
        result(P::kLeave, leave);
        if (trace) why.rule = "leave in the working time";
        break;
      }
      const bool daily_holiday = IsDailyText(leave) && holiday;
      if (it == it_Break && MealRuleHolds(it, leave) &&
          !(daily_holiday && HolidaysCountedOf(leave, SourceType::kLeave) == 0)) {
        result(P::kLeave, leave);
        if (trace) why = {"leave in the break", "the leave type's Dec_Meal 1: the break counts"};
      } else if (daily_holiday && HolidaysCountedOf(leave, SourceType::kLeave) != 0) {
        result(P::kLeave, leave);
        if (trace)
          why = {"daily leave on a holiday",
                 "the leave type's HolidaysCounted " +
                     std::to_string(HolidaysCountedOf(leave, SourceType::kLeave))};
      } else {
        result(P::kNotCounted);
        if (trace) why.rule = "leave outside the working time: not counted";
      }
      break;
    }
    case 3:
      set(true, pk_Present);
      result(P::kPresentInLeave, data_of(kLeave));
      if (trace) why.rule = "presence during a daily leave";
      break;
    case 4: {
      set(true, pk_Absent);
      const Variant mission = data_of(kMission);
      if (it == it_Work) {
        result(P::kMission, mission);
        if (trace) why.rule = "mission in the working time";
        break;
      }
      bool counts = true;
      if (it == it_Break && !MealRuleHolds(it, mission)) {
        counts = false;
      } else if (IsDailyText(mission) && holiday) {
        const std::string date = CalcDateToStr(first.Interval.iBegin.sdtDateTime.dtDate);
        counts = HolidaysCountedOf(mission, SourceType::kMission) != 0 ||
                 date == day_.daily_mission_begin || date == day_.daily_mission_end;
      }
      if (counts) {
        result(P::kMission, mission);
      } else {
        result(P::kNotCounted);
      }
      if (trace) {
        why.rule = counts ? "mission outside the working time: counts"
                          : "mission outside the working time: not counted";
        if (it == it_Break) {
          why.setting += "the mission type's Dec_Meal decides the break; ";
        } else if (IsDailyText(mission) && holiday) {
          why.setting += "daily mission on a holiday, the mission type's HolidaysCounted " +
                         std::to_string(HolidaysCountedOf(mission, SourceType::kMission)) +
                         ", mission days " + day_.daily_mission_begin + "-" +
                         day_.daily_mission_end;
        }
      }
      break;
    }
    case 5:
      set(true, pk_Present);
      result(P::kPresentInMission, data_of(kMission));
      if (trace) why.rule = "presence during a daily mission";
      break;
    case 8:
      set(true, pk_Absent);
      if (it == it_Work) {
        if (begin == today.wdDay.iBegin.sdtRelativeTime ||
            begin == today.wdBreak.iEnd.sdtRelativeTime) {
          result(P::kServiceLate, data_of(kServiceLate));
          if (trace) why.rule = "service-late permission at the start of a working segment";
        } else {
          r.IsOK = false;
          result(P::kAbsent);
          if (trace) why.rule = "service-late permission not at a segment start: absence";
        }
      } else if (first.WorkingIntervalType == wi_ExtraWork_Before &&
                 begin == today.wdExtra.iBegin.sdtRelativeTime) {
        result(P::kServiceLate, data_of(kServiceLate));
        if (trace) why.rule = "service-late permission at the start of the extra span";
      } else {
        result(P::kNotCounted);
        if (trace) why.rule = "service-late permission outside the working time: not counted";
      }
      break;
    case 17:
      set(true, pk_Present);
      if (it == it_Work) {
        result(P::kPresent);
        if (trace) why.rule = "presence in the working time (an extra-work permission too)";
      } else {
        result(P::kExtraWork, data_of(kExtraWork));
        if (trace) why.rule = "extra work with permission";
      }
      break;
    default:
      throw std::logic_error("unexpected overlap code " + std::to_string(code));
  }
  if (trace) trace->Classified(Presences, ReturnPresence, std::move(why));
  return ReturnPresence.DoProcess;
}

void DailyEngine::AttendanceCalcManagerBeforeProcess(TAttendanceCalcManager& Sender) {
  const TExtraData& x = day_.ExtraData;
  using P = PresenceCode;
  const GroupType G = x.WorkGroupGROUPTYPE;
  if (G == GroupType::kHourly) return;
  const int count = Sender.PresenceCount();
  DayTrace* const trace = dm_.Trace();
  if (G == GroupType::kNoAbsence) {
    day_.DailyAbsence = false;
    for (int i = 0; i < count; ++i) {
      const TPresence& p = Sender.GetPresence(i);
      if (p.IntervalType == it_Work && PresenceCodeOf(p) == P::kAbsent) {
        Sender.SetVars(i, ToInt(P::kPresent), Variant{});
        if (trace)
          trace->Reclassified(i, {"absence in the working time counts as presence", "GROUPTYPE 3"});
      }
    }
    return;
  }

  bool working_time_empty = true;
  bool absence = true;
  for (int i = 0; i < count; ++i) {
    const TPresence& p = Sender.GetPresence(i);
    if (p.IntervalType != it_Work) continue;
    if (IntervalMinutes(p.Interval) != 0) working_time_empty = false;
    const PresenceCode code = PresenceCodeOf(p);
    if (p.Kind == pk_Present || code == P::kLeave || code == P::kMission) absence = false;
  }
  day_.DailyAbsence = absence && !working_time_empty;
  if (trace && day_.DailyAbsence) {
    trace->DayNote({"whole-day absence", "no presence, leave or mission in the working time"});
  }
  if (day_.DailyAbsence) return;

  const TWorkingDay& today = Sender.Today();
  const int day_begin = today.wdDay.iBegin.sdtRelativeTime;
  const int day_end = today.wdDay.iEnd.sdtRelativeTime;
  const int break_begin = today.wdBreak.iBegin.sdtRelativeTime;
  const int break_end = today.wdBreak.iEnd.sdtRelativeTime;
  const bool fasting_month = x.WorkGroupta_Ramezan > 0 && day_.ramezan_start <= day_.day_text &&
                             day_.day_text <= day_.ramezan_end;

  for (int i = 0; i < count; ++i) {
    const TPresence& p = Sender.GetPresence(i);
    if (p.IntervalType != it_Work || PresenceCodeOf(p) != P::kAbsent) continue;
    const Variant data = p.Data;
    const int b = p.Interval.iBegin.sdtRelativeTime;
    const int e = p.Interval.iEnd.sdtRelativeTime;
    const bool at_segment_end = e == break_begin || e == day_end;
    const bool at_segment_start = b == day_begin || b == break_end;
    Sender.SetVars(i, ToInt(P::kAbsentNotPermitted), data);
    if (trace) {
      trace->Reclassified(i, {at_segment_start && at_segment_end
                                  ? "absence for a whole working segment, no permission"
                                  : "absence in the working time without permission",
                              ""});
    }

    if (at_segment_end && !at_segment_start) {
      // Early departure.
      int limit = x.WorkGroupEARLY_OUT;
      if (fasting_month && e == day_end) limit += x.WorkGroupta_Ramezan;
      Sender.SetVars(i, ToInt(P::kEarlyDeparture), data);
      Sender.SetOK(i, e - b <= limit);
      if (trace) {
        std::string setting = "EARLY_OUT " + std::to_string(x.WorkGroupEARLY_OUT);
        if (fasting_month && e == day_end) {
          setting += " + ta_Ramezan " + std::to_string(x.WorkGroupta_Ramezan) + " (fasting month " +
                     day_.ramezan_start + "-" + day_.ramezan_end + ")";
        }
        setting += ": " + std::to_string(e - b) + (e - b <= limit ? " <= " : " > ") +
                   std::to_string(limit) + " minutes";
        trace->Reclassified(i, {e - b <= limit ? "early departure within tolerance"
                                               : "early departure not tolerated",
                                std::move(setting)});
      }
    } else if (!at_segment_end && !at_segment_start) {
      // Inside a segment: the rest of a late arrival that another record cut.
      if (i == 0) continue;
      const TPresence& previous = Sender.GetPresence(i - 1);
      if (PresenceCodeOf(previous) != P::kLateArrival ||
          previous.Interval.iEnd.sdtRelativeTime != b) {
        continue;
      }
      const bool ok = e <= day_begin + x.WorkGroupLATE_IN;
      const bool previous_ok = previous.IsOK;
      Sender.SetVars(i, ToInt(P::kLateArrival), data);
      Sender.SetOK(i, ok);
      if (trace) {
        trace->Reclassified(i, {ok ? "rest of a late arrival, within tolerance"
                                   : "rest of a late arrival, not tolerated",
                                "LATE_IN " + std::to_string(x.WorkGroupLATE_IN) + ": ends " +
                                    std::to_string(e - day_begin) + " minutes after the start"});
      }
      if (!ok && previous_ok) {
        for (int j = i - 1; j >= 0; --j) {
          const TPresence& q = Sender.GetPresence(j);
          if (PresenceCodeOf(q) != P::kLateArrival || !q.IsOK) break;
          Sender.SetOK(j, false);
          if (trace) {
            trace->Reclassified(j, {"late arrival not tolerated (its rest is too long)",
                                    "LATE_IN " + std::to_string(x.WorkGroupLATE_IN) + ": " +
                                        std::to_string(e - day_begin) + " minutes late in all"});
          }
        }
      }
    } else if (!at_segment_end && at_segment_start) {
      // Late arrival.
      Sender.SetVars(i, ToInt(P::kLateArrival), data);
      Sender.SetOK(i, e - b <= x.WorkGroupLATE_IN);
      if (trace) {
        trace->Reclassified(
            i, {e - b <= x.WorkGroupLATE_IN ? "late within tolerance" : "late not tolerated",
                "LATE_IN " + std::to_string(x.WorkGroupLATE_IN) + ": " + std::to_string(e - b) +
                    (e - b <= x.WorkGroupLATE_IN ? " <= " : " > ") +
                    std::to_string(x.WorkGroupLATE_IN) + " minutes"});
      }
    }
  }
}

}  // namespace zel::engine
