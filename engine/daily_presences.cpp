// The presences of a calculated day: clock intervals, presence marks, leaves, missions,
// extra-work and service-late permissions and suspensions, and the floating start.
#include <mutex>

#include "dates/jalali_day.h"
#include "dates/zel_calc_utils.h"
#include "engine/daily_engine.h"
#include "engine/daily_text.h"
#include "engine/dm_calculate.h"

namespace zel::engine {

namespace {

using dates::TZelCalcUtils;

std::string Text(const db::Dataset& q, const char* name) {
  return TrimText(q.FieldByName(name).AsString());
}

bool AllFiveChars(std::initializer_list<const std::string*> texts) {
  for (const std::string* text : texts) {
    if (text->size() != 5) return false;
  }
  return true;
}

// The day span [begin, end] in relative minutes and as "MM/DDHH:NN" keys.
struct DaySpan {
  int begin = 0, end = 0;
  std::string begin_key, end_key;
  // True when [b, e] touches or lies inside the span.
  bool Reaches(int b, int e) const {
    const bool touch = begin <= b ? b <= end : begin <= e;
    const bool inside = begin <= b && e <= end;
    return touch || inside;
  }
};

DaySpan SpanOf(const TAttendanceCalcManager& Sender) {
  const TTalvekDateTime& from = Sender.Yesterday().wdDayEnd;
  const TTalvekDateTime& to = Sender.Today().wdDayEnd;
  return {from.sdtRelativeTime, to.sdtRelativeTime, MomentKey(from.sdtDateTime),
          MomentKey(to.sdtDateTime)};
}

// "," + PageNo + "," + "," + Descript: the data text of extra-work and service-late
// permissions and of suspensions.
std::string ShortText(const KeptRows& rows, int r) {
  return "," + rows.Text(r, rows.Column("PageNo")) + ",," +
         DataTextField(rows.Value(r, rows.Column("Descript")).AsString());
}

}  // namespace

void DailyEngine::AttendanceCalcManagerAddPresences(TAttendanceCalcManager& Sender) {
  std::lock_guard<std::mutex> lock(CalcCriticalSection());
  AddPresencesLocked(Sender);
}

void DailyEngine::AddPresencesLocked(TAttendanceCalcManager& Sender) {
  const TExtraData& x = day_.ExtraData;
  const GroupType G = x.WorkGroupGROUPTYPE;
  const bool hourly = G == GroupType::kHourly;

  // 1. Floating settings (none on a holiday).
  if (x.IsHoliday == 0) {
    day_.floating_on = x.WorkGroupFloatCal;
    day_.over_float = x.WorkGroupOverFloat;
    // A group without a float value has no floating minutes.
    const std::string value = TrimText(x.WorkGroupFloatVal);
    day_.float_minutes = value.empty() ? 0 : StrToInt(value);
  }

  AddClockIntervals(Sender);  // 2
  if (x.IsHoliday == 0) {     // 3
    QGetPresent.SetParam("Perno", Sender.PersonID());
    KeepPersonRows(present_rows_, QGetPresent, Sender.PersonID());
    if (FirstRowCovering(present_rows_, day_.day_text) >= 0) {
      const TTalvekInterval& day = Sender.Today().wdDay;
      Sender.AddPresence(day.iBegin.sdtDateTime, day.iEnd.sdtDateTime, pk_Present,
                         ToInt(SourceType::kPresence), {});
    }
  }
  AddHourlyRecords(Sender, MorkhasiQuery, morkhasi_rows_, "Morkhasi", SourceType::kLeave);  // 4
  if (!hourly) AddDailyLeave(Sender);                                                       // 5
  AddHourlyRecords(Sender, MissionQuery, mission_rows_, "Mission", SourceType::kMission);   // 6
  AddDailyMission(Sender);                                                                  // 7
  AddExtraWorkPermissions(Sender);                                                          // 8
  if (!hourly && G != GroupType::kNoAbsence) {                                              // 9
    AddHourlyRecords(Sender, ServLateQuery, serv_late_rows_, "ServLate",
                     SourceType::kServiceLatePermit);
  }
  if (!hourly) AddSuspension(Sender);  // 10
  ApplyFloatingStart(Sender);          // 11
}

namespace {
// "MM/DD" with a month 1..12 and a day 1..31; "HH:NN" with hours 0..24 and minutes 0..59.
bool TwoNumbers(const std::string& text, char separator, int& first, int& second) {
  auto digit = [&](std::size_t i) { return text[i] >= '0' && text[i] <= '9'; };
  if (text.size() != 5 || text[2] != separator || !digit(0) || !digit(1) || !digit(3) ||
      !digit(4)) {
    return false;
  }
  first = (text[0] - '0') * 10 + (text[1] - '0');
  second = (text[3] - '0') * 10 + (text[4] - '0');
  return true;
}
}  // namespace

bool ValidMonthDay(const std::string& text) {
  int month = 0, day = 0;
  return TwoNumbers(text, '/', month, day) && month >= 1 && month <= 12 && day >= 1 &&
         day <= dates::JalaliMonthLength(month, true);  // 12/30 in any year
}

bool ValidHourMinute(const std::string& text) {
  int hour = 0, minute = 0;
  return TwoNumbers(text, ':', hour, minute) && minute <= 59 &&
         (hour <= 23 || (hour == 24 && minute == 0));
}

void DailyEngine::AddClockIntervals(TAttendanceCalcManager& Sender) {
  TDailyWorkRec& rec = day_.DailyWorkRec;
  const DaySpan span = SpanOf(Sender);
  const int tomorrow_extra = Sender.Tomorrow().wdExtra.iBegin.sdtRelativeTime;
  const std::string person = TrimText(Sender.PersonID());

  AdoQCIOInfo.SetParam("PerNo", Sender.PersonID());
  KeepWindowRows(io_rows_, AdoQCIOInfo, Sender.PersonID());
  const KeptRows& q = io_rows_;
  const int c_perno = q.Column("Perno"), c_bd = q.Column("BeginDate"), c_bt = q.Column("BeginTime");
  const int c_ed = q.Column("EndDate"), c_et = q.Column("EndTime");
  for (int r = 0; r < q.Count(); ++r) {
    if (!RowReachesWindow(q.Value(r, c_bd), q.Value(r, c_ed), day_.yesterday_text,
                          day_.tomorrow_text)) {
      continue;
    }
    const std::string bd = q.Text(r, c_bd), bt = q.Text(r, c_bt);
    const std::string ed = q.Text(r, c_ed), et = q.Text(r, c_et);
    const bool empty = bd + bt == ed + et;
    if (bd == day_.day_text) {
      if (rec.dwrFirstBeginTime.empty() && !empty) {
        rec.dwrFirstBeginDate = bd;
        rec.dwrFirstBeginTime = bt;
      }
      rec.dwrLastEndDate = ed;
      rec.dwrLastEndTime = et;
    }

    if (!AllFiveChars({&bd, &bt, &ed, &et}) || empty) {
      const std::string key = bd + (bt.size() == 5 ? bt : std::string("00:00"));
      if (span.begin_key <= key && key <= span.end_key) {
        dm_.InsertCalcLogTable(dm_.ScheduleId, Sender.PersonID(),
                               FormatText("%s(%s) (%s): ورود و خروج ناقص .",
                                          (" " + TrimText(Sender.PersonName()) + " ").c_str(),
                                          Sender.PersonID().c_str(), bd.c_str()));
      }
      continue;
    }

    // Digits out of their ranges ('25:99', '13/40') would shift the record to another
    // moment: the row is skipped and reported, the rest of the day is calculated.
    if (OutOfRangeRow(Sender, "IoInfo", bd, bt, ed, et)) continue;
    const TCalcDateTime b = ParseCalcDateTime(bd, bt), e = ParseCalcDateTime(ed, et);
    const bool own = q.Text(r, c_perno) == person;
    if (own && span.Reaches(Rel(b), Rel(e))) {
      Sender.AddPresence(b, e, pk_Present, ToInt(SourceType::kPresence), {});
    } else if (Rel(b) >= tomorrow_extra || !own) {
      break;
    }
  }
}

std::string DailyEngine::PermissionText(const std::string& prefix, const KeptRows& rows, int r,
                                        SourceType source) {
  const TExtraData& x = day_.ExtraData;
  const std::string type = rows.Text(r, rows.Column("Type"));
  const int code = StrToIntDef0(type);
  auto number = [](int32_t value) { return std::to_string(value); };
  std::string text = prefix + "," + rows.Text(r, rows.Column("PageNo")) + "," + type + "," +
                     DataTextField(rows.Value(r, rows.Column("Descript")).AsString()) + "," +
                     (x.IsHoliday != 0 ? std::to_string(x.DayLength) : std::string("0")) + ",";
  if (source == SourceType::kLeave) {
    const LeaveTypeRow& t = base_.LeaveTypeOf(code);
    text += number(t.HolidaysCounted) + "," + number(t.Dec_Meal) + "," + number(t.IsOrdinary) +
            "," + number(t.IsWaged) + "," + number(t.ReduceMorkhasi) + "," +
            number(t.ReduceHoliday);
  } else {
    const MissionTypeRow& t = base_.MissionType(code);
    text += number(t.HolidaysCounted) + "," + number(t.Dec_Meal);
  }
  return text;
}

void DailyEngine::ReportMalformedRow(TAttendanceCalcManager& Sender, const char* table,
                                     const std::string& page_no) {
  if (!reported_rows_.insert(std::string(table) + "|" + Sender.PersonID() + "|" + page_no).second) {
    return;
  }
  dm_.InsertCalcLogTable(
      dm_.ScheduleId, Sender.PersonID(),
      FormatText("%s (%s) (%s): %s sheet %s skipped: a date or time is not five characters long.",
                 Sender.PersonName().c_str(), Sender.PersonID().c_str(), day_.day_text.c_str(),
                 table, page_no.c_str()));
}

bool DailyEngine::OutOfRangeRow(const TAttendanceCalcManager& Sender, const char* table,
                                const std::string& bd, const std::string& bt, const std::string& ed,
                                const std::string& et) {
  auto time_ok = [](const std::string& t) { return t.empty() || ValidHourMinute(t); };
  if (ValidMonthDay(bd) && ValidMonthDay(ed) && time_ok(bt) && time_ok(et)) return false;
  const std::string begin = bt.empty() ? bd : bd + " " + bt;
  const std::string end = et.empty() ? ed : ed + " " + et;
  if (reported_rows_.insert(std::string(table) + "|" + Sender.PersonID() + "|" + begin + "|" + end)
          .second) {
    dm_.InsertCalcLogTable(
        dm_.ScheduleId, Sender.PersonID(),
        FormatText("%s (%s) (%s): %s row skipped: a date or time is out of range: %s - %s",
                   Sender.PersonName().c_str(), Sender.PersonID().c_str(), day_.day_text.c_str(),
                   table, begin.c_str(), end.c_str()));
  }
  return true;
}

void DailyEngine::AddHourlyRecords(TAttendanceCalcManager& Sender, db::Dataset& query,
                                   KeptRows& rows, const char* table, SourceType source) {
  const DaySpan span = SpanOf(Sender);
  const int tomorrow_extra = Sender.Tomorrow().wdExtra.iBegin.sdtRelativeTime;
  const std::string person = TrimText(Sender.PersonID());
  try {
    query.SetParam("PerNo", person);
    KeepWindowRows(rows, query, person);
  } catch (const std::exception&) {
    rows.Clear();
    LogToThreadFile(Sender, std::string("Error On Open ") + table);
    return;
  }
  const int c_perno = rows.Column("Perno"), c_page = rows.Column("PageNo");
  const int c_bd = rows.Column("BeginDate"), c_bt = rows.Column("BeginTime");
  const int c_ed = rows.Column("EndDate"), c_et = rows.Column("EndTime");
  for (int r = 0; r < rows.Count(); ++r) {
    if (!RowReachesWindow(rows.Value(r, c_bd), rows.Value(r, c_ed), day_.yesterday_text,
                          day_.tomorrow_text)) {
      continue;
    }
    const std::string bd = rows.Text(r, c_bd), bt = rows.Text(r, c_bt);
    const std::string ed = rows.Text(r, c_ed), et = rows.Text(r, c_et);
    if (!AllFiveChars({&bd, &bt, &ed, &et})) {
      ReportMalformedRow(Sender, table, rows.Text(r, c_page));
      continue;
    }
    if (OutOfRangeRow(Sender, table, bd, bt, ed, et)) continue;
    const TCalcDateTime b = ParseCalcDateTime(bd, bt), e = ParseCalcDateTime(ed, et);
    const bool own = rows.Text(r, c_perno) == person;
    if (!own || !span.Reaches(Rel(b), Rel(e))) {
      if (Rel(b) >= tomorrow_extra || !own) break;
      continue;
    }
    const std::string data = source == SourceType::kServiceLatePermit
                                 ? ShortText(rows, r)
                                 : PermissionText("", rows, r, source);
    Sender.AddPresence(b, e, pk_Absent, ToInt(source), data);
  }
}

int DailyEngine::FirstRowCovering(const KeptRows& rows, const std::string& date) const {
  const int c_bd = rows.Column("BeginDate"), c_ed = rows.Column("EndDate");
  for (int r = 0; r < rows.Count(); ++r) {
    if (RangeCovers(rows.Value(r, c_bd), rows.Value(r, c_ed), date)) return r;
  }
  return -1;
}

void DailyEngine::AddDailyLeave(TAttendanceCalcManager& Sender) {
  AdoQCDDailyMorkhasi.SetParam("PerNo", Sender.PersonID());
  KeepPersonRows(day_mor_rows_, AdoQCDDailyMorkhasi, Sender.PersonID());
  const KeptRows& q = day_mor_rows_;
  const int r = FirstRowCovering(q, day_.day_text);
  if (r < 0) return;
  if (!(q.Text(r, q.Column("BeginDate")) <= day_.day_text &&
        day_.day_text <= q.Text(r, q.Column("EndDate")) &&
        q.Text(r, q.Column("PerNo")) == TrimText(Sender.PersonID()))) {
    return;
  }
  if (OutOfRangeRow(Sender, "DayMor", q.Text(r, q.Column("BeginDate")), "",
                    q.Text(r, q.Column("EndDate")), "")) {
    return;
  }
  const TWorkingDay& today = Sender.Today();
  const bool holiday = day_.ExtraData.IsHoliday != 0;
  const TCalcDateTime b =
      holiday ? today.wdExtra.iBegin.sdtDateTime : today.wdDay.iBegin.sdtDateTime;
  const TCalcDateTime e = holiday ? b : today.wdDay.iEnd.sdtDateTime;
  Sender.AddPresence(b, e, pk_Absent, ToInt(SourceType::kLeave),
                     PermissionText("D_", q, r, SourceType::kLeave));
}

void DailyEngine::AddDailyMission(TAttendanceCalcManager& Sender) {
  AdoQCDDailyMission.SetParam("PerNo", Sender.PersonID());
  KeepPersonRows(day_mam_rows_, AdoQCDDailyMission, Sender.PersonID());
  const KeptRows& q = day_mam_rows_;
  const int r = FirstRowCovering(q, day_.day_text);
  if (r < 0) return;
  const std::string first = q.Text(r, q.Column("BeginDate")), last = q.Text(r, q.Column("EndDate"));
  if (!(first <= day_.day_text && day_.day_text <= last &&
        q.Text(r, q.Column("PerNo")) == TrimText(Sender.PersonID()))) {
    return;
  }
  if (OutOfRangeRow(Sender, "DayMam", first, "", last, "")) return;
  day_.daily_mission_begin = first;
  day_.daily_mission_end = last;

  const TExtraData& x = day_.ExtraData;
  const bool holiday = x.IsHoliday != 0;
  const TWorkingDay& today = Sender.Today();
  std::string b_date = CalcDateToStr(today.wdDay.iBegin.sdtDateTime.dtDate);
  std::string e_date = CalcDateToStr(today.wdDay.iEnd.sdtDateTime.dtDate);
  std::string b_time, e_time;
  if (!holiday) {
    b_time = CalcTimeToStr(today.wdDay.iBegin.sdtDateTime.dtTime);
    e_time = CalcTimeToStr(today.wdDay.iEnd.sdtDateTime.dtTime);
  }
  bool times_taken = false;
  db::Dataset& days = AdoQCDailyMissionDays;
  days.SetParam("PageNo", static_cast<int>(q.Value(r, q.Column("PageNo")).AsInteger()));
  days.SetParam("Perno", q.Value(r, q.Column("PerNo")).AsString());
  days.SetParam("CurDate", day_.day_text);
  days.Open();
  if (!days.IsEmpty()) {
    b_date = Text(days, "BeginDate");
    e_date = Text(days, "EndDate");
    const std::string bt = Text(days, "BeginTime"), et = Text(days, "EndTime");
    if (bt.size() == 5 && et.size() == 5 &&
        !OutOfRangeRow(Sender, "DayMam", b_date, bt, e_date, et)) {
      b_time = bt;
      e_time = et;
      times_taken = true;
    }
  }
  if (x.IsFalseDay && !holiday) Abort(Sender, DayError::kNoMissionDay);
  if (holiday) {
    const TCalcDateTime& point = today.wdExtra.iBegin.sdtDateTime;
    b_date = e_date = CalcDateToStr(point.dtDate);
    if (!times_taken) b_time = e_time = CalcTimeToStr(point.dtTime);
  } else {
    if (b_time.empty()) b_time = CalcTimeToStr(today.wdDay.iBegin.sdtDateTime.dtTime);
    if (e_time.empty()) e_time = CalcTimeToStr(today.wdDay.iEnd.sdtDateTime.dtTime);
  }
  Sender.AddPresence(ParseCalcDateTime(b_date, b_time), ParseCalcDateTime(e_date, e_time),
                     pk_Absent, ToInt(SourceType::kMission),
                     PermissionText("D_", q, r, SourceType::kMission));
}

void DailyEngine::AddExtraWorkPermissions(TAttendanceCalcManager& Sender) {
  const DaySpan span = SpanOf(Sender);
  const int tomorrow_extra = Sender.Tomorrow().wdExtra.iBegin.sdtRelativeTime;
  const std::string person = TrimText(Sender.PersonID());
  AdoQCDailyExtraPerm.SetParam("PerNo", Sender.PersonID());
  KeepPersonRows(extra_perm_rows_, AdoQCDailyExtraPerm, Sender.PersonID());
  const KeptRows& q = extra_perm_rows_;
  const int c_perno = q.Column("PerNo"), c_page = q.Column("PageNo");
  const int c_bd = q.Column("BeginDate"), c_bt = q.Column("BeginTime");
  const int c_ed = q.Column("EndDate"), c_et = q.Column("EndTime");
  for (int r = 0; r < q.Count(); ++r) {
    if (!RangeCovers(q.Value(r, c_bd), q.Value(r, c_ed), day_.day_text)) continue;
    if (q.Text(r, c_perno) != person) break;
    const std::string bd = q.Text(r, c_bd), bt = q.Text(r, c_bt);
    const std::string ed = q.Text(r, c_ed), et = q.Text(r, c_et);
    if (!AllFiveChars({&bd, &bt, &ed, &et})) {
      ReportMalformedRow(Sender, "DayExPrm", q.Text(r, c_page));
      continue;
    }
    if (OutOfRangeRow(Sender, "DayExPrm", bd, bt, ed, et)) continue;
    const int first_day = TZelCalcUtils::Date2Day(bd);
    const int n = TZelCalcUtils::DaysInBetween(bd, ed);
    std::string data;
    for (int k = 0; k < n; ++k) {
      const std::string date = TZelCalcUtils::Day2Date(first_day + k);
      const std::string end_date =
          et > bt ? date : TZelCalcUtils::Day2Date(TZelCalcUtils::Date2Day(date) + 1);
      if (!(date + bt < span.end_key && end_date + et > span.begin_key)) continue;
      const TCalcDateTime b = ParseCalcDateTime(date, bt), e = ParseCalcDateTime(end_date, et);
      if (!span.Reaches(Rel(b), Rel(e))) {
        if (Rel(b) < tomorrow_extra) continue;
        break;
      }
      if (data.empty()) data = ShortText(q, r);
      Sender.AddPresence(b, e, pk_Present, ToInt(SourceType::kExtraWorkPermit), data);
    }
  }
}

void DailyEngine::AddSuspension(TAttendanceCalcManager& Sender) {
  const TWorkingDay& today = Sender.Today();
  const std::string first = CalcDateToStr(today.wdDay.iBegin.sdtDateTime.dtDate);
  const std::string last = CalcDateToStr(today.wdDay.iEnd.sdtDateTime.dtDate);
  AdoQCDSuspension.SetParam("PerNo", Sender.PersonID());
  KeepPersonRows(susp_rows_, AdoQCDSuspension, Sender.PersonID());
  const KeptRows& q = susp_rows_;
  const int c_perno = q.Column("PerNo"), c_page = q.Column("PageNo");
  const int c_bd = q.Column("BeginDate"), c_ed = q.Column("EndDate");
  for (int r = 0; r < q.Count(); ++r) {
    if (!RangeCovers(q.Value(r, c_bd), q.Value(r, c_ed), first)) continue;
    const std::string bd = q.Text(r, c_bd), ed = q.Text(r, c_ed);
    if (!AllFiveChars({&bd, &ed})) {
      ReportMalformedRow(Sender, "Susp", q.Text(r, c_page));
      continue;
    }
    if (bd <= first && ed >= last && q.Text(r, c_perno) == TrimText(Sender.PersonID())) {
      Sender.AddPresence(Sender.Yesterday().wdDayEnd.sdtDateTime, today.wdDayEnd.sdtDateTime,
                         pk_Absent, ToInt(SourceType::kSuspension), ShortText(q, r));
      return;
    }
  }
}

void DailyEngine::ApplyFloatingStart(TAttendanceCalcManager& Sender) {
  const TExtraData& x = day_.ExtraData;
  const int count = Sender.PresenceCount();
  if (count == 0 || x.IsHoliday != 0 || !day_.floating_on) return;
  const TWorkingDay& today = Sender.Today();
  const int day_begin = today.wdDay.iBegin.sdtRelativeTime;

  // The first presence that reaches into the working time: a presence, or an absence that
  // already runs when the working time begins.
  int reference = -1;
  for (int i = 0; i < count; ++i) {
    const TPresence& p = Sender.GetPresence(i);
    if (p.Interval.iEnd.sdtRelativeTime <= day_begin) continue;
    if (p.Kind != pk_Present && p.Interval.iBegin.sdtRelativeTime > day_begin) continue;
    if (reference < 0 || p.Interval.iBegin.sdtRelativeTime <
                             Sender.GetPresence(reference).Interval.iBegin.sdtRelativeTime) {
      reference = i;
    }
  }
  if (reference < 0) return;
  const TPresence& first = Sender.GetPresence(reference);
  const int lateness = first.Interval.iBegin.sdtRelativeTime - day_begin;
  if (first.Kind != pk_Present || lateness <= x.WorkGroupLATE_IN) return;

  const int shift =
      lateness <= day_.float_minutes ? lateness : (day_.over_float ? 0 : day_.float_minutes);
  if (today.wdExtra.iBegin.sdtRelativeTime == today.wdDay.iBegin.sdtRelativeTime) {
    Sender.Shift(dt_Today, edb_Extra, ep_Begin, shift);
  }
  const int extra_after = today.wdExtra.iEnd.sdtRelativeTime - today.wdDay.iEnd.sdtRelativeTime;
  if (shift >= extra_after) Sender.Shift(dt_Today, edb_Extra, ep_End, shift - extra_after);
  if (today.wdBreak.iBegin.sdtRelativeTime == today.wdBreak.iEnd.sdtRelativeTime) {
    Sender.Shift(dt_Today, edb_Break, ep_Begin, shift);
    Sender.Shift(dt_Today, edb_Break, ep_End, shift);
  }
  Sender.Shift(dt_Today, edb_Day, ep_Begin, shift);
  Sender.Shift(dt_Today, edb_Day, ep_End, shift);
}

}  // namespace zel::engine
