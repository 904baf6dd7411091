// The day model of a calculated day (the work group, the calendar or shift of the day and of
// its neighbours), the start of a day and the error report of a failed one.
#include "engine/daily_working_days.h"

#include <cstdio>

#include "dates/date_time.h"
#include "engine/daily_engine.h"
#include "engine/daily_text.h"
#include "engine/dm_calculate.h"

namespace zel::engine {

namespace {

// The daily settings of a work group: its WorkGrp row as the day's handlers read it (a blank
// priority takes its default).
TExtraData ExtraDataOf(const WorkGroupRow& g) {
  auto prio = [](const CompensationRow& rule, const char* blank) {
    const std::string text = rule.PRIO.value_or("");
    return text.empty() ? std::string(blank) : text;
  };
  TExtraData x;
  const CompensationRow &s = g.Day[0], &t = g.Day[1], &e = g.Day[2];
  x.WorkGroupS_Day_Rate = s.Rate;
  x.WorkGroupS_Day_Bound = s.Bound;
  x.WorkGroupS_Day_Condition = s.Condition;
  x.WorkGroupSDR_PRIO = prio(s, "3");
  x.WorkGroupSMR_PRIO = prio(g.Month[0], "4");
  x.WorkGroupT_Day_Rate = t.Rate;
  x.WorkGroupT_Day_Bound = t.Bound;
  x.WorkGroupT_Day_Condition = t.Condition;
  x.WorkGroupE_Day_Rate = e.Rate;
  x.WorkGroupE_Day_Bound = e.Bound;
  x.WorkGroupE_Day_Condition = e.Condition;
  x.WorkGroupADDPERMIT = g.ADDPERMIT != 0;
  x.WorkGroupCALCODE = g.CALCODE.value_or("");
  x.WorkGroupCODE = g.CODE;
  x.WorkGroupEARLY_OUT = g.EARLY_OUT;
  x.WorkGroupEDR_PRIO = prio(e, "2");
  x.WorkGroupEMR_PRIO = prio(g.Month[2], "2");
  x.WorkGroupFloatCal = g.FLOATCAL != 0;
  x.WorkGroupOverFloat = g.OverFloat != 0;
  x.WorkGroupFloatVal = g.FLOATVAL;
  x.WorkGroupGROUPTYPE = GroupTypeFrom(g.GROUPTYPE);
  x.WorkGroupKASR_M_DAY = g.KASR_M_DAY;
  x.WorkGroupKASR_MOR = g.KASR_MOR;
  x.WorkGroupKASR_TAT = g.KASR_TAT;
  x.WorkGroupLATE_IN = g.LATE_IN;
  for (int m = 0; m < 12; ++m) x.WorkGroupM_PARAM[m] = g.M_PARAM[m];
  x.WorkGroupMAH_ABS_OK = g.MAH_ABS_OK;
  x.WorkGroupNAME = g.NAME;
  x.WorkGroupMAX_KARKARD = g.MAX_KARKARD;
  x.WorkGroupMIN_KARKARD = g.MIN_KARKARD;
  x.WorkGroupPPERCENT = g.PPERCENT;
  x.WorkGroupTAKHIR_AMOUNT = g.TAKHIR_AMOUNT;
  x.WorkGroupTAKHIRCNT = g.TAKHIRCNT;
  x.WorkGroupTAKHIRSTAT = g.TAKHIRSTAT;
  x.WorkGroupTAKHIRTOT = g.TAKHIRTOT;
  x.WorkGroupTATS_IN_MORKHASI = g.TATS_IN_MORKHASI;
  x.WorkGroupTMR_PRIO = prio(g.Month[1], "1");
  x.WorkGroupTDR_PRIO = prio(t, "1");
  x.WorkGroupE_N_MinBefore = g.E_N_MinBefore;
  x.WorkGroupE_N_MinAfter = g.E_N_MinAfter;
  x.WorkGroupE_H_Min = g.E_H_Min;
  x.WorkGroupCALCMeal = g.CalcMeal;
  x.WorkGroupCALCMealBefore = g.CalcMealEBefore;
  x.WorkGroupCALCMealAfter = g.CalcMealEAfter;
  x.WorkGroupCALCMealHoliday = g.CalcMealEHoliday;
  x.WorkGroupCALCService = g.CalcService;
  x.WorkGroupMealDuration = g.MealDuration;
  x.WorkGroupDec_Meal_Absence = g.Dec_Meal_Absence;
  x.WorkGroupta_Ramezan = g.ta_Ramezan;
  x.WorkGroupSumAbsent = g.SumAbsent;
  x.WorkGroupAbsentOption = g.AbsentOption;
  x.WorkGroupImp_HurOrdMor = g.Imp_HurOrdMor;
  x.WorkGroupGShCode = g.GShCode;
  x.WorkGroupMandeMorForSaati = g.MandeMorForSaati;
  x.WorkGroupPrdMahExtraWorkPermOption = g.PrdMahExtraWorkPermOption;
  x.WorkGroupDef_Late_In_FromVacation = g.Def_Late_In_FromVacation;
  x.WorkGroupDef_Early_Out_FromVacation = g.Def_Early_Out_FromVacation;
  x.WorkGroupHow_ExtraWork_Holi_DayMam = g.How_ExtraWork_Holi_DayMam;
  return x;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The two-digit numbers at characters 1-2 and 4-5 of a five-character text.
bool ReadPair(std::string_view text, int& first, int& second) {
  if (text.size() != 5 || !IsDigit(text[0]) || !IsDigit(text[1]) || !IsDigit(text[3]) ||
      !IsDigit(text[4])) {
    return false;
  }
  first = (text[0] - '0') * 10 + (text[1] - '0');
  second = (text[3] - '0') * 10 + (text[4] - '0');
  return true;
}

const struct {
  DayError code;
  const char* message;
} kDailyErrors[] = {
    {DayError::kPresenceOverlap, "تداخل ورود و خروجها"},
    {DayError::kLeaveOverlap, "تداخل مرخصي ها"},
    {DayError::kMissionOverlap, "تداخل ماموريتها"},
    {DayError::kServiceLateOverlap, "تداخل تاخير سرويسها"},
    {DayError::kExtraWorkOverlap, "تداخل اضافه كاريها"},
    {DayError::kLeaveMission, "تداخل مرخصي و ماموريت"},
    {DayError::kLeaveServiceLate, "تداخل مرخصي و تاخير سرويس"},
    {DayError::kMissionServiceLate, "تداخل ماموريت و تاخير سرويس"},
    {DayError::kLeaveMissionServiceLate, "تداخل مرخصي، ماموريت و تاخير سرويس"},
    {DayError::kDailyLeavePresence, "تداخل مرخصي روزانه و ورود و خروج"},
    {DayError::kMissionPresence, "تداخل ماموريت و ورود و خروج"},
    {DayError::kNoWorkGroup, "گروه كاري تعريف نشده است"},
    {DayError::kNoCalendar, "تقويم تعريف نشده است"},
    {DayError::kNoWorkingDay, "روز كاري تعريف نشده است"},
    {DayError::kIncompletePresence, "ورود و خروج ناقص"},
    {DayError::kNoMissionDay, "جزء ماموريت تعريف نشده است"},
    {DayError::kLeaveServiceLatePresence, "تداخل مرخصي و تاخير سرويس و حضور"},
    {DayError::kMissionServiceLatePresence, "تداخل ماموريت و تاخير سرويس و حضور"},
    {DayError::kPresenceMissionLeaveServiceLate, "تداخل حضور و ماموريت و مرخصي و تاخير سرويس"},
    {DayError::kPresenceLeaveExtraWork, "تداخل حضور و مرخصي و اضافه كاري"},
    {DayError::kLeaveMissionExtraWork, "تداخل مرخصي و ماموريت و اضافه كاري"},
    {DayError::kPresenceMissionLeaveExtraWork, "تداخل حضور و ماموريت و مرخصي و اضافه كاري"},
    {DayError::kPresenceServiceLateExtraWork, "تداخل حضور و تاخير سرويس و اضافه كاري"},
    {DayError::kPresenceLeaveServiceLateExtraWork, "تداخل حضور و مرخصي و تاخير سرويس و اضافه كاري"},
    {DayError::kMissionServiceLateExtraWork, "تداخل ماموريت و تاخير سرويس و اضافه كاري"},
    {DayError::kLeaveMissionServiceLateExtraWork,
     "تداخل مرخصي و ماموريت و تاخير سرويس و اضافه كاري"},
    {DayError::kEveryKind, "تداخل حضور و مرخصي و ماموريت و تاخير سرويس و اضافه كاري"},
    {DayError::kLeaveMissionPresence, "تداخل مرخصي و ماموريت و حضور"},
    {DayError::kCalendarOverlap, "تداخل تقويم"},
};

TCalcDateTime AtTime(const TDate& date, int hour, int minute) {
  return EncodeCalcDateTime(date.Month, date.Day, hour, minute);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Pure helpers

TCalcDateTime ParseCalcDateTime(std::string_view date, std::string_view time) {
  int month = 0, day = 0, hour = 0, minute = 0;
  if (!ReadPair(date, month, day)) {
    throw dates::EConvertError("'" + std::string(date) + "' is not a valid MM/DD date");
  }
  if (!ReadPair(time, hour, minute)) {
    throw dates::EConvertError("'" + std::string(time) + "' is not a valid HH:NN time");
  }
  return EncodeCalcDateTime(month, day, hour, minute);
}

std::string MomentKey(const TCalcDateTime& point) {
  return CalcDateToStr(point.dtDate) + CalcTimeToStr(point.dtTime);
}

bool HasAnyBeginTime(const DayShapeItem& item) {
  return !item.EBeginTime.empty() || !item.DBeginTime.empty() || !item.BBeginTime.empty();
}

std::optional<DayShape> BuildDayShape(const DayShapeItem& item, const TDate& d,
                                      const TExtraData& extra) {
  const bool E = !item.EBeginTime.empty();
  const bool D = !item.DBeginTime.empty();
  const bool B = !item.BBeginTime.empty();
  const bool holiday = item.Holiday != 0;

  struct Span {
    TCalcDateTime begin, end;
  };
  auto span_of = [](const std::string& bd, const std::string& bt, const std::string& ed,
                    const std::string& et) {
    return Span{ParseCalcDateTime(bd, bt), ParseCalcDateTime(ed, et)};
  };
  auto empty_at = [](const TCalcDateTime& point) { return Span{point, point}; };

  Span ext, day, brk;
  if (D) {
    day = span_of(item.DBeginDate, item.DBeginTime, item.DEndDate, item.DEndTime);
    ext = E ? span_of(item.EBeginDate, item.EBeginTime, item.EEndDate, item.EEndTime) : day;
    brk = B ? span_of(item.BBeginDate, item.BBeginTime, item.BEndDate, item.BEndTime)
            : empty_at(day.end);
  } else if (E) {
    ext = span_of(item.EBeginDate, item.EBeginTime, item.EEndDate, item.EEndTime);
    if (B) {
      brk = span_of(item.BBeginDate, item.BBeginTime, item.BEndDate, item.BEndTime);
      day = brk;
    } else {
      day = brk = empty_at(ext.end);
    }
  } else if (!B) {
    // No times at all: a holiday, or a group that works around the clock.
    if (!holiday && extra.WorkGroupGROUPTYPE != GroupType::kHourly) return std::nullopt;
    const TCalcDateTime begin = AtTime(d, 0, 0);
    ext = day =
        Span{begin, extra.WorkGroupGROUPTYPE == GroupType::kHourly ? AtTime(d, 23, 59) : begin};
    brk = empty_at(begin);
  } else {
    return std::nullopt;  // a break alone defines no working day
  }

  TCalcDateTime day_end;
  if (!item.EndTime.empty()) {
    const std::string d_text = CalcDateToStr(d);
    std::string end_date = item.EndDate.empty() ? d_text : item.EndDate;
    if (end_date < d_text) {
      // The day ends after the year's last day: the day after d, in d's month.
      end_date = CalcDateToStr(TDate{d.Month, static_cast<uint8_t>(d.Day + 1)});
    }
    day_end = ParseCalcDateTime(end_date, item.EndTime);
  } else {
    day_end = AtTime(d, 23, 59);
    if (MinutesBetween(day_end, ext.end) > 0) day_end = ext.end;
  }

  DayShape shape;
  shape.Day = MakeWorkingDay(ext.begin, ext.end, day.begin, day.end, brk.begin, brk.end, day_end);
  shape.Holiday = item.Holiday;
  if (holiday) {
    shape.DayLength = d.Month >= 1 && d.Month <= 12 ? extra.WorkGroupM_PARAM[d.Month - 1] : 0;
  } else {
    shape.DayLength =
        MinutesBetweenText(item.DBeginDate, item.DBeginTime, item.DEndDate, item.DEndTime) -
        MinutesBetweenText(item.BBeginDate, item.BBeginTime, item.BEndDate, item.BEndTime);
  }
  return shape;
}

TWorkingDay PointDay(const TCalcDateTime& P) {
  return MakeWorkingDay(P, P, P, P, P, P, AtTime(P.dtDate, 0, 0));
}

const char* DailyErrorMessage(DayError code) {
  for (const auto& entry : kDailyErrors) {
    if (entry.code == code) return entry.message;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Handlers

void DailyEngine::Abort(TAttendanceCalcManager& Sender, DayError code) {
  Sender.SetErrorCode(ToInt(code));
  SilentAbort();
}

void DailyEngine::AttendanceCalcManagerInitialize(TAttendanceCalcManager& Sender) {
  // A new day: nothing of a previous day, finished or failed, reaches this one.
  day_ = DayState{};
  db::Dataset& system = dm_.QSystem();
  if (!system.Active()) system.Open();
  if (!dm_.taSystem().Active()) dm_.taSystem().Open();
  Sender.SetErrorCode(ToInt(DayError::kNone));
  day_.night_begin = TrimText(system.FieldByName("NightBegin").AsString());
  day_.night_end = TrimText(system.FieldByName("NightEnd").AsString());
  day_.ramezan_start = TrimText(system.FieldByName("RamezanStart").AsString());
  day_.ramezan_end = TrimText(system.FieldByName("RamezanEnd").AsString());
}

DailyEngine::RuleOfDay DailyEngine::RuleOfDate(const TAttendanceCalcManager& Sender,
                                               const std::string& date) {
  AdoQCPrjRule.SetParam("Perno", Sender.PersonID());
  KeepPersonRows(prj_rules_, AdoQCPrjRule, Sender.PersonID());
  RuleOfDay rule;
  const int r = FirstRowCovering(prj_rules_, date);
  if (r >= 0) {
    rule.found = true;
    rule.work_group = prj_rules_.Text(r, prj_rules_.Column("WorkGroup"));
    rule.section = prj_rules_.Value(r, prj_rules_.Column("Section")).AsString();
  }
  return rule;
}

std::string DailyEngine::CalendarCodeOfDate(const TAttendanceCalcManager& Sender,
                                            const std::string& date) {
  const RuleOfDay rule = RuleOfDate(Sender, date);
  if (rule.work_group.empty()) return {};
  const WorkGroupRow* group = base_.WorkGroup(StrToIntDef0(rule.work_group));
  return group ? group->CALCODE.value_or("") : std::string();
}

void DailyEngine::LoadExtraData(TAttendanceCalcManager& Sender, const WorkGroupRow& group,
                                const std::string& section) {
  TExtraData& x = day_.ExtraData;
  x = ExtraDataOf(group);
  x.Section = section;
  day_.dont_calc_night_work = group.Dont_Calc_NightWork;
  int atten_in_break = group.Atten_In_Break;
  if (atten_in_break < 1 || atten_in_break > 3) {
    if (atten_in_break != 0) {
      const TDate day = Sender.CalcDate();
      dm_.InsertCalcLogTable(
          dm_.ScheduleId, Sender.PersonID(),
          FormatText("%s (%s) (%.2d/%.2d): خطا در تشخیص نحوه محاسبه حضور در وقفه (گروه کاری).",
                     Sender.PersonName().c_str(), Sender.PersonID().c_str(), day.Month, day.Day));
    }
    atten_in_break = 3;
  }
  x.WorkGroupAtten_In_Break = atten_in_break;
}

bool DailyEngine::ReadDayItem(const TAttendanceCalcManager& Sender, const std::string& cal,
                              const TDate& date, DayShapeItem& item) {
  const int gsh = day_.ExtraData.WorkGroupGShCode;
  const std::string date_text = CalcDateToStr(date);
  const std::string person = Sender.PersonID();
  const std::string key =
      (gsh == 0 ? "C" + cal : "G" + std::to_string(gsh) + "|" + person) + "|" + date_text;
  if (auto it = items_.find(key); it != items_.end()) {
    item = it->second.item;
    return it->second.found;
  }

  // The first kept row whose column equals the text, or -1.
  auto find = [](const KeptRows& rows, const char* column, const std::string& text) {
    const int c = rows.Column(column);
    for (int r = 0; r < rows.Count(); ++r) {
      if (rows.Text(r, c) == text) return r;
    }
    return -1;
  };
  // The rows of a lookup that does not depend on the day, kept under its key.
  auto lookup = [this](const std::string& lookup_key, db::Dataset& query) -> const KeptRows& {
    KeptRows& rows = day_item_rows_[lookup_key];
    KeepPersonRows(rows, query, "");
    return rows;
  };

  CachedItem entry;
  DayShapeItem& it = entry.item;
  if (gsh == 0) {
    KeptRows& rows = day_item_rows_["C|" + cal];
    AdoQCCalendarItem.SetParam("CalCode", StrToIntDef0(cal));
    KeepWindowRows(rows, AdoQCCalendarItem, "", "FromDate", "ToDate");
    const int r = find(rows, "DBeginDate", date_text);
    if (r >= 0) {
      auto text = [&rows, r](const char* column) { return rows.Text(r, rows.Column(column)); };
      it.EBeginDate = text("EBeginDate");
      it.EBeginTime = text("EBeginTime");
      it.EEndDate = text("EEndDate");
      it.EEndTime = text("EEndTime");
      it.DBeginDate = text("DBeginDate");
      it.DBeginTime = text("DBeginTime");
      it.DEndDate = text("DEndDate");
      it.DEndTime = text("DEndTime");
      it.BBeginDate = text("BBeginDate");
      it.BBeginTime = text("BBeginTime");
      it.BEndDate = text("BEndDate");
      it.BEndTime = text("BEndTime");
      it.EndDate = text("EndDate");
      it.EndTime = text("EndTime");
      it.Holiday = static_cast<int>(rows.Value(r, rows.Column("Holiday")).AsInteger());
      it.HasBeginTimes = HasAnyBeginTime(it);
      entry.found = true;
    }
  } else {
    entry.found = [&] {
      KeptRows& calendar = day_item_rows_["V|" + std::to_string(gsh) + "|" + person];
      QCGShCalItems.SetParam("PPerNo", person);
      QCGShCalItems.SetParam("PGShCode", gsh);
      KeepWindowRows(calendar, QCGShCalItems, person, "FromDate", "ToDate");
      const int v = find(calendar, "DBeginDate", date_text);
      if (v < 0) return false;
      const std::string period = std::to_string(date.Month);
      AdoQCGShItem.SetParam("GShCode", gsh);
      AdoQCGShItem.SetParam("Period", static_cast<int>(date.Month));
      const KeptRows& group = lookup("G|" + std::to_string(gsh) + "|" + period, AdoQCGShItem);
      if (group.Count() == 0) return false;
      AdoQCPerShifts.SetParam("Perno", person);
      AdoQCPerShifts.SetParam("Period", static_cast<int>(date.Month));
      AdoQCPerShifts.SetParam("GShCode", gsh);
      const KeptRows& own =
          lookup("P|" + person + "|" + std::to_string(gsh) + "|" + period, AdoQCPerShifts);
      if (own.Count() == 0) return false;
      const std::string column = "D" + std::to_string(date.Day);
      int shift = static_cast<int>(own.Value(0, own.Column(column)).AsInteger());
      if (shift == 0) shift = static_cast<int>(group.Value(0, group.Column(column)).AsInteger());
      if (shift < 1) return false;
      std::string status;
      if (const WorkShiftRow* w = base_.WorkShift(shift)) {
        it.EBeginTime = w->EBEGINTIME;
        it.EEndTime = w->EENDTIME;
        it.DBeginTime = w->DBEGINTIME;
        it.DEndTime = w->DENDTIME;
        it.BBeginTime = w->BBEGINTIME;
        it.BEndTime = w->BENDTIME;
        it.EndTime = w->ENDTIME;
        it.Holiday = w->Holiday;
        status = w->ShiftStatus;
      }
      TDate next = date;
      IncCalcDate(year_, next);
      const std::string next_text = CalcDateToStr(next);
      auto status_date = [&](size_t i) {
        return i < status.size() && status[i] == '1' ? next_text : date_text;
      };
      it.EBeginDate = it.DBeginDate = date_text;
      it.BBeginDate = status_date(0);
      it.BEndDate = status_date(1);
      it.DEndDate = status_date(2);
      it.EEndDate = status_date(3);
      it.EndDate = status_date(4);
      it.HasBeginTimes = !calendar.Text(v, calendar.Column("EBeginTime")).empty() ||
                         !calendar.Text(v, calendar.Column("DBeginTime")).empty() ||
                         !calendar.Text(v, calendar.Column("BBeginTime")).empty();
      return true;
    }();
  }
  // A calendar item or shift whose digits are out of range is skipped and reported like a
  // missing one: the day has no working day.
  const char* table = day_.ExtraData.WorkGroupGShCode == 0 ? "CalItem" : "WorkShifts";
  const std::string& day = date_text;
  const std::string none;
  auto or_day = [&day](const std::string& text) { return text.empty() ? day : text; };
  const DayShapeItem& i = entry.item;
  const struct {
    const std::string &bd, &bt, &ed, &et;
  } spans[] = {{i.EBeginDate, i.EBeginTime, i.EEndDate, i.EEndTime},
               {i.DBeginDate, i.DBeginTime, i.DEndDate, i.DEndTime},
               {i.BBeginDate, i.BBeginTime, i.BEndDate, i.BEndTime},
               {day, none, i.EndDate, i.EndTime}};
  for (const auto& s : spans) {
    if (!entry.found) break;
    if (s.bt.empty() && s.et.empty()) continue;
    if (OutOfRangeRow(Sender, table, or_day(s.bd), s.bt, or_day(s.ed), s.et)) entry.found = false;
  }
  item = entry.item;
  const bool found = entry.found;
  items_.emplace(key, std::move(entry));
  return found;
}

bool DailyEngine::HasWorkingDay(const TAttendanceCalcManager& Sender, const std::string& cal,
                                const TDate& date) {
  DayShapeItem item;
  if (!ReadDayItem(Sender, cal, date, item)) return false;
  return HasAnyBeginTime(item) || item.Holiday != 0 ||
         day_.ExtraData.WorkGroupGROUPTYPE == GroupType::kHourly;
}

DayShape DailyEngine::ReadDayShape(TAttendanceCalcManager& Sender, const std::string& cal,
                                   const TDate& date, DayShapeItem* item_out) {
  DayShapeItem item;
  if (!ReadDayItem(Sender, cal, date, item)) Abort(Sender, DayError::kNoWorkingDay);
  std::optional<DayShape> shape = BuildDayShape(item, date, day_.ExtraData);
  if (!shape) Abort(Sender, DayError::kNoWorkingDay);
  if (item_out) *item_out = std::move(item);
  return *shape;
}

void DailyEngine::AttendanceCalcManagerGetWorkingDays(TAttendanceCalcManager& Sender) {
  const TDate D = Sender.CalcDate();
  TDate prev = D;
  const bool has_prev = DecCalcDate(year_, prev);
  TDate next = D;
  const bool has_next = IncCalcDate(year_, next);
  day_.day_text = CalcDateToStr(D);
  day_.yesterday_text = CalcDateToStr(prev);
  day_.tomorrow_text = CalcDateToStr(next);
  TDate last = D;
  for (int i = 0; i < 32 && IncCalcDate(year_, last); ++i) {
  }
  day_.window_from = day_.yesterday_text;
  day_.window_to = CalcDateToStr(last);
  TExtraData& x = day_.ExtraData;

  // 1-2. The work group of the day and its settings.
  const RuleOfDay rule = RuleOfDate(Sender, day_.day_text);
  const WorkGroupRow* group =
      rule.work_group.empty() ? nullptr : base_.WorkGroup(StrToIntDef0(rule.work_group));
  if (!group) Abort(Sender, DayError::kNoWorkGroup);
  LoadExtraData(Sender, *group, rule.section);

  // 3-4. The calendars of the day and its neighbours.
  const std::string cal = x.WorkGroupCALCODE;
  std::string yesterday_cal = CalendarCodeOfDate(Sender, day_.yesterday_text);
  if (yesterday_cal.empty()) yesterday_cal = cal;
  std::string tomorrow_cal = CalendarCodeOfDate(Sender, day_.tomorrow_text);
  if (tomorrow_cal.empty()) tomorrow_cal = cal;
  if (cal.empty() && x.WorkGroupGROUPTYPE != GroupType::kHourly &&
      x.WorkGroupGROUPTYPE != GroupType::kDistributedShift) {
    Abort(Sender, DayError::kNoCalendar);
  }

  if (!cal.empty() || x.WorkGroupGShCode != 0) {
    // 5. From the calendar or the group shift.
    DayShapeItem today_item;
    const DayShape today = ReadDayShape(Sender, cal, D, &today_item);
    x.IsHoliday = today.Holiday;
    x.DayLength = today.DayLength;
    x.IsFalseDay = false;
    x.CalWork = x.DayLength;
    TWorkingDay today_day = today.Day;
    const TCalcDateTime DE = today_day.wdDayEnd.sdtDateTime;

    TCalcDateTime YE = today_day.wdExtra.iBegin.sdtDateTime;
    if (has_prev && HasWorkingDay(Sender, cal, prev)) {
      YE = ReadDayShape(Sender, yesterday_cal, prev).Day.wdDayEnd.sdtDateTime;
    }

    if (x.IsHoliday != 0 && !today_item.HasBeginTimes) {
      // A holiday without times: the working day collapses to the day end.
      for (TTalvekInterval* interval : {&today_day.wdExtra, &today_day.wdDay, &today_day.wdBreak}) {
        interval->iBegin.sdtDateTime = DE;
        interval->iEnd.sdtDateTime = DE;
      }
    }
    Sender.SetToday(today_day);

    if (has_prev && HasWorkingDay(Sender, yesterday_cal, prev)) {
      Sender.SetYesterday(ReadDayShape(Sender, yesterday_cal, prev).Day);
    } else {
      Sender.SetYesterday(PointDay(YE));
    }
    if (has_next && HasWorkingDay(Sender, tomorrow_cal, next)) {
      Sender.SetTomorrow(ReadDayShape(Sender, tomorrow_cal, next).Day);
    } else {
      Sender.SetTomorrow(PointDay(DE));
    }
  } else {
    // 6. No calendar and no group shift: the whole day is working time.
    x.IsHoliday = 0;
    x.IsFalseDay = true;
    x.DayLength = 0;
    x.CalWork = 0;
    const TCalcDateTime begin = AtTime(D, 0, 0), end = AtTime(D, 23, 59);
    Sender.SetToday(MakeWorkingDay(begin, end, begin, end, begin, begin, end));
    if (has_prev) {
      const TCalcDateTime pb = AtTime(prev, 0, 0), pe = AtTime(prev, 23, 59);
      Sender.SetYesterday(MakeWorkingDay(pb, pe, pb, pe, pb, pe, pe));
    } else {
      Sender.SetYesterday(MakeWorkingDay(begin, begin, begin, begin, begin, begin, begin));
    }
    if (has_next) {
      const TCalcDateTime nb = AtTime(next, 0, 0), ne = AtTime(next, 23, 59);
      Sender.SetTomorrow(MakeWorkingDay(nb, ne, nb, ne, nb, nb, ne));
    } else {
      Sender.SetTomorrow(MakeWorkingDay(end, end, end, end, end, end, end));
    }
  }
  day_.reference = Sender.Yesterday().wdExtra.iBegin.sdtDateTime;
}

void DailyEngine::AttendanceCalcManagerHandleError(TAttendanceCalcManager& Sender) {
  FlushTimeTab(Sender);  // the rows processed before the failure stay
  const std::string day = CalcDateToStr(Sender.CalcDate());
  const char* message = DailyErrorMessage(DayErrorFrom(Sender.ErrorCode()));
  const std::string comment =
      message ? FormatText("%s (%s) (%s): %s.", Sender.PersonName().c_str(),
                           Sender.PersonID().c_str(), day.c_str(), message)
              : FormatText("exp: %s (%s) (%s): %s", Sender.PersonName().c_str(),
                           Sender.PersonID().c_str(), day.c_str(), Sender.ErrorMsg().c_str());
  dm_.InsertCalcLogTable(dm_.ScheduleId, Sender.PersonID(), comment);
}

}  // namespace zel::engine
