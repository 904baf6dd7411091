// Processing of the classified presences: the day's timeline rows (TimeTab), the leave and
// mission detail rows, and the day totals.
#include "engine/daily_processing.h"

#include <algorithm>
#include <optional>

#include "dates/zel_calc_utils.h"
#include "engine/daily_engine.h"
#include "engine/daily_text.h"
#include "engine/day_trace.h"
#include "engine/dm_calculate.h"

namespace zel::engine {

namespace {

bool IsOneOf(PresenceCode value, std::initializer_list<PresenceCode> values) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

// The codes whose data text names the sheet the stretch came from.
bool FromSheet(PresenceCode code) {
  using enum PresenceCode;
  return IsOneOf(code, {kLeave, kMission, kExtraWork, kServiceLate, kPresentInLeave,
                        kPresentInMission, kSuspended});
}

// The number of item n: the item as a decimal integer, 0 when it is not one.
int ItemNumber(const std::vector<std::string>& items, int n) {
  return StrToIntDef0(DataItem(items, n));
}

// The same, for the leave flags that must be numbers.
int ItemFlag(const std::vector<std::string>& items, int n) { return StrToInt(DataItem(items, n)); }

// The columns of a TimeTab row, in the order of QInsertIntoTimeTab.
enum TimeTabColumn {
  kTTPerNo,
  kTTCalcDate,
  kTTBeginDate,
  kTTBeginTime,
  kTTEndDate,
  kTTEndTime,
  kTTPresenceType,
  kTTWorkingInterval,
  kTTStatus,
  kTTDuration,
  kTTMorkhasiSheetCode,
  kTTMorkhasiType,
  kTTDDesc,
  kTTMamuriatSheetCode,
  kTTMamuriatType,
  kTTExtraWorkSheetCode,
  kTTServiceLateSheetCode,
  kTTSuspensionSheetCode,
};

const struct {
  const char* name;
  db::ParamType type;
  int size;
} kTimeTabParams[] = {
    {"PerNo", db::ParamType::String, 10},
    {"CalcDate", db::ParamType::String, 5},
    {"BeginDate", db::ParamType::String, 5},
    {"BeginTime", db::ParamType::String, 5},
    {"EndDate", db::ParamType::String, 5},
    {"EndTime", db::ParamType::String, 5},
    {"PresenceType", db::ParamType::Integer, 0},
    {"WorkingInterval", db::ParamType::Integer, 0},
    {"Status", db::ParamType::Integer, 0},
    {"Duration", db::ParamType::Integer, 0},
    {"MorkhasiSheetCode", db::ParamType::Integer, 0},
    {"MorkhasiType", db::ParamType::Integer, 0},
    {"DDesc", db::ParamType::String, 30},
    {"MamuriatSheetCode", db::ParamType::Integer, 0},
    {"MamuriatType", db::ParamType::Integer, 0},
    {"ExtraWorkSheetCode", db::ParamType::Integer, 0},
    {"ServiceLateSheetCode", db::ParamType::Integer, 0},
    {"SuspensionSheetCode", db::ParamType::Integer, 0},
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Pure rules

void AddDayTotals(TDailyWorkRec& r, const ProcessedStretch& s, const TExtraData& x) {
  using enum PresenceCode;
  const PresenceCode R = s.Code;
  const int D = s.Minutes;
  const GroupType G = x.WorkGroupGROUPTYPE;
  const bool holiday = x.IsHoliday != 0;
  const bool ok = s.IsOK;
  const int WI = s.WorkingInterval;
  const TIntervalType IT = s.IntervalType;
  const bool counted = G != GroupType::kHourly;

  if (IsOneOf(R, {kPresent, kPresentInLeave, kPresentInMission})) {  // 1
    r.dwrWorkTotal += D;
    r.dwrWork += D;
  }
  if (IsOneOf(R, {kLateArrival, kEarlyDeparture}) && ok) r.dwrWorkTotal += D;         // 2
  if (R == kExtraWork) r.dwrExtraWorkTotal += D;                                      // 3
  if (counted && IsOneOf(R, {kAbsentNotPermitted, kAbsent})) r.dwrNonWorkTotal += D;  // 4
  if (counted && IsOneOf(R, {kLateArrival, kEarlyDeparture}) && !ok) {                // 5
    r.dwrNonWorkTotal += D;
  }
  if (IsOneOf(R, {kPresent, kMission, kExtraWork, kPresentInLeave, kPresentInMission}) &&
      G != GroupType::kNoNightWork) {  // 6
    r.dwrNightWork += s.NightMinutes;
  }
  if (R == kLeave) {  // 7
    if (ItemFlag(s.Items, 9) != 0) {
      r.dwrLeaveOfAbsPayed += D;
    } else {
      r.dwrLeaveOfAbsNotPayed += D;
    }
    if (ItemFlag(s.Items, 8) != 0) {
      r.dwrOrdinaryMorkhasi += D;
    } else if (holiday) {
      if (ItemNumber(s.Items, 6) != 0) r.dwrHolidaysCounted += D;
    } else if (ItemFlag(s.Items, 11) != 0) {
      r.dwrReduceHoliday += D;
    }
    if (ItemFlag(s.Items, 10) != 0) r.dwrKasrMorkhasi += D;
  }
  if (R == kPresentInLeave) r.dwrPresenceInDailyMorkhasi += D;         // 8
  if (counted && R == kServiceLate) r.dwrServiceLate += D;             // 9
  if (R == kMission && (holiday || IT == it_Work)) r.dwrMission += D;  // 10
  if (R == kPresentInMission) r.dwrPresenceInDailyMamuriat += D;       // 11
  if (counted && R == kEarlyDeparture && ok) {                         // 12
    if (WI == wi_Work_First) r.dwrEarlyPermFirst += D;
    if (WI == wi_Work_Last) r.dwrEarlyPermLast += D;
  }
  if (counted && R == kLateArrival && ok) {  // 13
    if (WI == wi_Work_First) r.dwrLatePermFirst += D;
    if (WI == wi_Work_Last) r.dwrLatePermLast += D;
  }
  if (R == kExtraWork) {  // 14, 15
    int32_t& holi = ok ? r.dwrEWHoliPerm : r.dwrEWHoliNotPerm;
    int32_t& before = ok ? r.dwrEWNormPermBefore : r.dwrEWNormNotPermBefore;
    int32_t& after = ok ? r.dwrEWNormPermAfter : r.dwrEWNormNotPermAfter;
    if (holiday) {
      if (WI != wi_Break) holi += D;
    } else if (WI == wi_NonWork_Before || WI == wi_ExtraWork_Before) {
      before += D;
    } else if (WI == wi_ExtraWork_After || WI == wi_NonWork_After) {
      after += D;
    }
  }
  if (R == kMission && (IT == it_NonWork || IT == it_ExtraWork)) {  // 16
    r.dwrEWInMission += D;
    (holiday ? r.dwrEWHoliInMission : r.dwrEWNormInMission) += D;
    r.dwrExtraWorkTotal += D;
    if (holiday && s.Lengthened) {
      const int X = ItemNumber(s.Items, 5);
      if (x.WorkGroupHow_ExtraWork_Holi_DayMam == 1) {
        r.dwrEWHoliInMission -= X;
        r.dwrExtraWorkTotal -= X;
        r.dwrEWInMission -= X;
      } else if (x.WorkGroupHow_ExtraWork_Holi_DayMam == 2) {
        r.dwrMission -= X;
      }
    }
  }
  r.dwrEWSpecial = 0;                            // 17
  if (counted && R == kEarlyDeparture && !ok) {  // 18
    if (WI == wi_Work_First) r.dwrNWEarlyFirst += D;
    if (WI == wi_Work_Last) r.dwrNWEarlyLast += D;
  }
  if (counted && R == kLateArrival && !ok) {  // 19
    if (WI == wi_Work_First) r.dwrNWLateFirst += D;
    if (WI == wi_Work_Last) r.dwrNWLateLast += D;
  }
  if (counted && R == kAbsentNotPermitted) r.dwrNWLeaveNotPerm += D;  // 20
  if (counted && R == kAbsent) r.dwrNWAbsent += D;                    // 21
  r.dwrNWSpecial = 0;                                                 // 22
}

int NightMinutes(const TCalcDateTime& B, const TCalcDateTime& E, std::string_view NB,
                 std::string_view NE, const TDate& day, int year) {
  const std::string nb = TrimText(NB), ne = TrimText(NE);
  if (nb.empty() || ne.empty()) return 0;
  const TTime begin_time = ParseCalcDateTime("01/01", nb).dtTime;
  const TTime end_time = ParseCalcDateTime("01/01", ne).dtTime;
  const bool wraps = ne <= nb;

  // The end of a stretch that crosses the year's end, counted on in the begin's month.
  TCalcDateTime end = E;
  if (E.dtDate.Month < B.dtDate.Month) {
    end.dtDate = TDate{B.dtDate.Month, static_cast<uint8_t>(E.dtDate.Day + 29)};
  }
  const int stretch_end = MinutesBetween(B, end);
  auto overlap = [&](const TCalcDateTime& wb, const TCalcDateTime& we) {
    const int from = std::max(0, MinutesBetween(B, wb));
    const int to = std::min(stretch_end, MinutesBetween(B, we));
    return to > from ? to - from : 0;
  };
  auto next_date = [year](TDate date) {
    if (!IncCalcDate(year, date)) date.Day = static_cast<uint8_t>(date.Day + 1);
    return date;
  };
  auto night_from = [&](const TDate& start) {
    const TDate end_date = wraps ? next_date(start) : start;
    return overlap({start, begin_time}, {end_date, end_time});
  };

  int total = 0;
  TDate previous = day;
  if (DecCalcDate(year, previous)) total += night_from(previous);
  total += night_from(day);
  total += night_from(next_date(day));
  if (B.dtDate == TDate{1, 1} && nb > ne) {
    total += overlap(EncodeCalcDateTime(1, 1, 0, 0), {TDate{1, 1}, end_time});
  }
  return total;
}

// ---------------------------------------------------------------------------------------------
// The handler

void DailyEngine::FlushTimeTab(const TAttendanceCalcManager& Sender) {
  static_assert(std::size(kTimeTabParams) == kTimeTabColumns);
  if (!dm_.WriteResults()) {
    day_.pending_time_tab.clear();
    return;
  }
  // One statement text for every row: prepared once, whatever the number of rows of a day.
  for (const auto& row : day_.pending_time_tab) {
    for (int c = 0; c < kTimeTabColumns; ++c) {
      QInsertIntoTimeTab.SetParam(kTimeTabParams[c].name, row[c]);
    }
    try {
      QInsertIntoTimeTab.ExecSQL();
    } catch (const std::exception& e) {
      // Only the rows that cannot be written are lost (and logged).
      LogToThreadFile(
          Sender, "Error In Insert To TimeTab DDate = " + day_.day_text + " Error : " + e.what());
    }
  }
  day_.pending_time_tab.clear();
}

int DailyEngine::NightMinutesOf(const TPresence& presence) const {
  if (day_.dont_calc_night_work != 0) return 0;
  return NightMinutes(presence.Interval.iBegin.sdtDateTime, presence.Interval.iEnd.sdtDateTime,
                      day_.night_begin, day_.night_end, dm_.AttendanceCalcManager().CalcDate(),
                      year_);
}

void DailyEngine::UpdateDetail(db::Dataset& detail, const char* code_column, int code,
                               int minutes) {
  if (!dm_.WriteResults()) return;
  const TAttendanceCalcManager& manager = dm_.AttendanceCalcManager();
  if (dm_.DayWritesOpen()) {
    // The day's old rows are gone and its writes wait for its end: the row is the one
    // written earlier in the day, if any (written as a row appended or edited would be).
    if (details_serial_ != dm_.DayWritesSerial()) {
      details_serial_ = dm_.DayWritesSerial();
      details_written_.clear();
    }
    const std::string table = db::TableOfQuery(detail.Text());
    auto [at, first] = details_written_.try_emplace({table, code}, 0);
    at->second += minutes;
    const std::string column = std::string("[") + code_column + "]";
    db::Connection& year = dm_.ADOConnectionTimeAttendance();
    if (first) {
      year.Execute("INSERT INTO " + table + " ([PerNo], [DDate], " + column +
                       ", [Amount]) VALUES (?, ?, ?, ?)",
                   {{"PerNo", db::ParamType::Unknown, 0, manager.PersonID()},
                    {"DDate", db::ParamType::Unknown, 0, day_.day_text},
                    {code_column, db::ParamType::Unknown, 0, code},
                    {"Amount", db::ParamType::Unknown, 0, at->second}});
    } else {
      year.Execute("UPDATE " + table + " SET [Amount] = ? WHERE [PerNo] = ? AND [DDate] = ? AND " +
                       column + " = ?",
                   {{"Amount", db::ParamType::Unknown, 0, at->second},
                    {"PerNo", db::ParamType::Unknown, 0, manager.PersonID()},
                    {"DDate", db::ParamType::Unknown, 0, day_.day_text},
                    {code_column, db::ParamType::Unknown, 0, code}});
    }
    return;
  }
  detail.SetParam("Perno", manager.PersonID());
  detail.SetParam("CurDate", day_.day_text);
  detail.SetParam(code_column, code);
  detail.Open();
  if (detail.IsEmpty()) {
    detail.Append();
    detail.SetField("PerNo", manager.PersonID());
    detail.SetField("DDate", day_.day_text);
    detail.SetField(code_column, code);
    detail.SetField("Amount", minutes);
  } else {
    detail.Edit();
    detail.SetField("Amount", detail.FieldByName("Amount").AsInteger() + minutes);
  }
  detail.Post();
}

void DailyEngine::AttendanceCalcManagerProcessPresence(TAttendanceCalcManager& Sender,
                                                       TPresence P) {
  const TExtraData& x = day_.ExtraData;
  TDailyWorkRec& rec = day_.DailyWorkRec;
  const bool holiday = x.IsHoliday != 0;
  using enum PresenceCode;
  const GroupType G = x.WorkGroupGROUPTYPE;
  PresenceCode R = PresenceCodeOf(P);
  DayTrace* const trace = dm_.Trace();
  std::optional<TDailyWorkRec> before;  // for the observer only
  TraceReason why;
  if (trace) before = rec;

  // 1. The items of the data text.
  std::vector<std::string> items;
  const bool has_data = P.Data.IsAssigned();
  if (has_data && FromSheet(R)) items = SplitDataItems(P.Data.AsText());
  const std::string& item1 = DataItem(items, 1);

  // 2. The meal time comes off the first absence of the day.
  if (x.WorkGroupDec_Meal_Absence != 0 && !day_.FWorkGroupMealDurationAffected &&
      (R == kAbsent ||
       (IsOneOf(R, {kLeave, kMission}) && item1 == "D_" && ItemNumber(items, 7) == 0))) {
    TTalvekDateTime& end = P.Interval.iEnd;
    const std::string moved = dates::TZelCalcUtils::ChangeDateTime(
        "1383/" + MomentKey(end.sdtDateTime), -x.WorkGroupMealDuration);
    end.sdtDateTime = ParseCalcDateTime(moved.substr(5, 5), moved.substr(10, 5));
    end.sdtRelativeTime -= x.WorkGroupMealDuration;
    day_.FWorkGroupMealDurationAffected = true;
    if (trace) {
      why.setting += "Dec_Meal_Absence: MealDuration " + std::to_string(x.WorkGroupMealDuration) +
                     " minutes taken off this first absence; ";
    }
  }

  // 3. The timeline row.
  std::array<db::Value, kTimeTabColumns> row;  // all NULL
  const std::string begin_date = CalcDateToStr(P.Interval.iBegin.sdtDateTime.dtDate);
  const std::string begin_time = CalcTimeToStr(P.Interval.iBegin.sdtDateTime.dtTime);
  const std::string end_date = CalcDateToStr(P.Interval.iEnd.sdtDateTime.dtDate);
  const std::string end_time = CalcTimeToStr(P.Interval.iEnd.sdtDateTime.dtTime);
  row[kTTPerNo] = Sender.PersonID();
  row[kTTCalcDate] = day_.day_text;
  row[kTTBeginDate] = begin_date;
  row[kTTBeginTime] = begin_time;
  row[kTTEndDate] = end_date;
  row[kTTEndTime] = end_time;
  row[kTTPresenceType] = P.Kind == pk_Present ? 0 : 1;
  row[kTTWorkingInterval] = static_cast<int>(P.WorkingIntervalType);
  int D = IntervalMinutes(P.Interval);

  // 4. Presence in the break.
  if (P.WorkingIntervalType == wi_Break && P.Kind == pk_Present) {
    const int mode = x.WorkGroupAtten_In_Break;
    if (mode == 1 || (R == kExtraWork && !DataItem(items, 2).empty() && mode != 3)) {
      rec.dwrEWBreakPerm += D;
      (holiday ? rec.dwrEWHoliPerm : rec.dwrEWNormPermAfter) += D;
      R = kExtraWork;
      if (trace) why.rule = "presence in the break counted as permitted extra work";
    } else if (mode == 2) {
      rec.dwrEWBreakNotPerm += D;
      (holiday ? rec.dwrEWHoliNotPerm : rec.dwrEWNormNotPermAfter) += D;
      R = kExtraWork;
      if (trace) why.rule = "presence in the break counted as extra work without permission";
    } else if (mode == 3) {
      R = kNotCounted;
      if (trace) why.rule = "presence in the break not counted";
    }
    if (trace) why.setting += "Atten_In_Break " + std::to_string(mode) + "; ";
  }

  // 5. The stored status.
  PresenceCode status = R;
  if (G == GroupType::kHourly && R == kAbsent) status = kNotCounted;
  if (R == kLateArrival && P.IsOK) status = kLateTolerated;
  if (R == kEarlyDeparture && P.IsOK) status = kEarlyTolerated;
  if (R == kLeave && item1 == "D_") status = kDailyLeave;
  if (R == kMission && item1 == "D_") status = kDailyMission;
  row[kTTStatus] = ToInt(status);

  // 6-7. An empty stretch (a daily leave or mission on a holiday) lasts the holiday length.
  bool lengthened = false;
  if (IntervalMinutes(P.Interval) < 1) {
    P.Interval.iEnd.sdtRelativeTime += ItemNumber(items, 5);
    lengthened = true;
    if (trace)
      why.setting += "empty stretch lasts the holiday day length " + DataItem(items, 5) + "; ";
  }
  D = IntervalMinutes(P.Interval);
  row[kTTDuration] = D;

  // 8. The sheet the stretch came from.
  if (has_data) {
    switch (R) {
      case kLeave:
      case kPresentInLeave:
        row[kTTMorkhasiSheetCode] = ItemNumber(items, 2);
        row[kTTMorkhasiType] = ItemNumber(items, 3);
        break;
      case kMission:
      case kPresentInMission:
        row[kTTMamuriatSheetCode] = ItemNumber(items, 2);
        row[kTTMamuriatType] = ItemNumber(items, 3);
        break;
      case kExtraWork:
        row[kTTExtraWorkSheetCode] = ItemNumber(items, 2);
        break;
      case kServiceLate:
        row[kTTServiceLateSheetCode] = ItemNumber(items, 2);
        break;
      case kSuspended:
        row[kTTSuspensionSheetCode] = ItemNumber(items, 2);
        break;
      default:
        break;
    }
    if (FromSheet(R)) {
      row[kTTDDesc] = FirstChars(TrimText(DataItem(items, 4)), 30);
    }
  }

  // 9. The first and last moments of the stored stretches.
  if (rec.dwrBeginStr.empty()) rec.dwrBeginStr = begin_date + begin_time;
  if (rec.dwrEndStr < end_date + end_time) rec.dwrEndStr = end_date + end_time;

  // 10. The row, written with the day's other rows when the processing ends.
  day_.pending_time_tab.push_back(std::move(row));

  // 11. Leave and mission minutes by type.
  if (R == kLeave || R == kPresentInLeave) {
    UpdateDetail(AdoQCDailyMorkhasiDetail, "MorkhasiCode", ItemNumber(items, 3), D);
  } else if (R == kMission || R == kPresentInMission) {
    UpdateDetail(AdoQCDailyMamuriatDetail, "MamuriatCode", ItemNumber(items, 3), D);
  }

  // 12. Day totals.
  if (R != kSuspended) {
    ProcessedStretch stretch;
    stretch.Code = R;
    stretch.Minutes = D;
    stretch.IntervalType = P.IntervalType;
    stretch.WorkingInterval = P.WorkingIntervalType;
    stretch.IsOK = P.IsOK;
    stretch.Lengthened = lengthened;
    if (IsOneOf(R, {kPresent, kMission, kExtraWork, kPresentInLeave, kPresentInMission}) &&
        G != GroupType::kNoNightWork) {
      stretch.NightMinutes = NightMinutesOf(P);
    }
    stretch.Items = std::move(items);
    AddDayTotals(rec, stretch, x);
  }
  if (trace) {
    if (G == GroupType::kHourly && R == kAbsent)
      why.setting += "GROUPTYPE 2: absence stored as not counted; ";
    trace->Processed(P, R, status, D, std::move(why), *before, rec);
  }
}

}  // namespace zel::engine
