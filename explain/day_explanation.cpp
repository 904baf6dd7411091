// The explanation of a day: an observer of the daily engine that builds the model from the
// engine's trace, and the run that calculates a person's days without writing anything.
#include "explain/day_explanation.h"

#include <map>
#include <stdexcept>

#include "db/client.h"
#include "engine/calc.h"
#include "engine/daily_engine.h"
#include "engine/daily_results.h"
#include "engine/daily_text.h"
#include "engine/daily_work_rec.h"
#include "engine/daily_working_days.h"
#include "engine/dm_calculate.h"
#include "util/sql_text.h"

namespace zel::explain {

using engine::TrimText;

namespace {

std::string PointText(const engine::TCalcDateTime& point) {
  return engine::CalcDateToStr(point.dtDate) + " " + engine::CalcTimeToStr(point.dtTime);
}

// The record a presence came from, in words.
std::string SourceKind(int type, const engine::Variant& data) {
  const std::vector<std::string> items = engine::SplitDataItems(data.AsText());
  const std::string& sheet = engine::DataItem(items, 2);
  const std::string& item_type = engine::DataItem(items, 3);
  const std::string& desc = engine::DataItem(items, 4);
  const bool daily = engine::DataItem(items, 1) == "D_";
  std::string text;
  using enum engine::SourceType;
  const engine::SourceType source = static_cast<engine::SourceType>(type);
  switch (source) {
    case kPresence:
      return "presence (entry/exit record or presence mark)";
    case kLeave:
      text = daily ? "daily leave" : "hourly leave";
      break;
    case kMission:
      text = daily ? "daily mission" : "hourly mission";
      break;
    case kExtraWorkPermit:
      text = "extra-work permission";
      break;
    case kServiceLatePermit:
      text = "service-late permission";
      break;
    case kSuspension:
      text = "suspension";
      break;
    default:
      return "record of type " + std::to_string(type);
  }
  if (!sheet.empty()) text += ", sheet " + sheet;
  if ((source == kLeave || source == kMission) && !item_type.empty()) text += ", type " + item_type;
  if (!TrimText(desc).empty()) text += " (" + TrimText(desc) + ")";
  return text;
}

int CodeOf(const engine::TPresence& p) {
  return p.SpecificType.IsAssigned() ? static_cast<int>(p.SpecificType.AsInteger()) : 0;
}

// Columns whose values differ between two records, as amounts (after - before).
std::vector<ColumnAmount> Changes(const engine::TDailyWorkRec& before,
                                  const engine::TDailyWorkRec& after, const engine::TExtraData& x,
                                  bool minutes_only) {
  const auto a = engine::DayWorkColumns(before, x);
  const auto b = engine::DayWorkColumns(after, x);
  std::vector<ColumnAmount> out;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (minutes_only && !a[i].minutes) continue;
    if (a[i].value != b[i].value) out.push_back({a[i].name, b[i].value - a[i].value});
  }
  return out;
}

// Builds the explanation of one day from the engine's trace.
class ExplainTrace final : public engine::DayTrace {
 public:
  explicit ExplainTrace(DayExplanation& e) : e_(e) {}

  void OnDayShape(const engine::TAttendanceCalcManager& m, const engine::TExtraData& x,
                  const std::string& shape) override {
    x_ = x;
    day0_ = engine::EncodeCalcDateTime(m.CalcDate().Month, m.CalcDate().Day, 0, 0);
    e_.work_group = x.WorkGroupCODE;
    e_.work_group_name = TrimText(x.WorkGroupNAME);
    e_.group_type = engine::ToInt(x.WorkGroupGROUPTYPE);
    e_.shape = shape;
    e_.holiday = x.IsHoliday;
    e_.day_length = x.DayLength;
    e_.cal_work = x.CalWork;
    auto n = [](int v) { return std::to_string(v); };
    e_.settings = {
        {"GROUPTYPE", n(engine::ToInt(x.WorkGroupGROUPTYPE))},
        {"LATE_IN", n(x.WorkGroupLATE_IN)},
        {"EARLY_OUT", n(x.WorkGroupEARLY_OUT)},
        {"ta_Ramezan", n(x.WorkGroupta_Ramezan)},
        {"ADDPERMIT", n(x.WorkGroupADDPERMIT ? 1 : 0)},
        {"Atten_In_Break", n(x.WorkGroupAtten_In_Break)},
        {"Dec_Meal_Absence", n(x.WorkGroupDec_Meal_Absence)},
        {"MealDuration", n(x.WorkGroupMealDuration)},
        {"TDR_PRIO/T_Day_Rate", TrimText(x.WorkGroupTDR_PRIO) + "/" + n(x.WorkGroupT_Day_Rate)},
        {"EDR_PRIO/E_Day_Rate", TrimText(x.WorkGroupEDR_PRIO) + "/" + n(x.WorkGroupE_Day_Rate)},
        {"SDR_PRIO/S_Day_Rate", TrimText(x.WorkGroupSDR_PRIO) + "/" + n(x.WorkGroupS_Day_Rate)},
        {"E_N_MinBefore/After", n(x.WorkGroupE_N_MinBefore) + "/" + n(x.WorkGroupE_N_MinAfter)},
        {"E_H_Min", n(x.WorkGroupE_H_Min)},
        {"SumAbsent/AbsentOption", n(x.WorkGroupSumAbsent) + "/" + n(x.WorkGroupAbsentOption)},
    };
  }

  void Sources(const engine::TAttendanceCalcManager& m) override {
    const engine::TWorkingDay& t = m.Today();
    auto at = [this](const engine::TTalvekDateTime& p, std::string& text, int& minute) {
      text = PointText(p.sdtDateTime);
      minute = Minute(p.sdtDateTime);
    };
    at(t.wdExtra.iBegin, e_.extra_begin, e_.extra_begin_minute);
    at(t.wdExtra.iEnd, e_.extra_end, e_.extra_end_minute);
    at(t.wdDay.iBegin, e_.duty_begin, e_.duty_begin_minute);
    at(t.wdDay.iEnd, e_.duty_end, e_.duty_end_minute);
    at(t.wdBreak.iBegin, e_.break_begin, e_.break_begin_minute);
    at(t.wdBreak.iEnd, e_.break_end, e_.break_end_minute);
    at(m.Yesterday().wdDayEnd, e_.day_begin, e_.day_begin_minute);
    at(t.wdDayEnd, e_.day_end, e_.day_end_minute);
    for (int i = 0; i < m.PresenceCount(); ++i) {
      const engine::TPresence& p = m.GetPresence(i);
      e_.sources.push_back({CodeOf(p), SourceKind(CodeOf(p), p.Data),
                            PointText(p.Interval.iBegin.sdtDateTime),
                            PointText(p.Interval.iEnd.sdtDateTime)});
    }
  }

  void Classified(std::span<const engine::TPresence> group, const engine::TPresence& result,
                  engine::TraceReason reason) override {
    ExplainStretch s;
    s.begin = PointText(result.Interval.iBegin.sdtDateTime);
    s.end = PointText(result.Interval.iEnd.sdtDateTime);
    s.begin_minute = Minute(result.Interval.iBegin.sdtDateTime);
    s.end_minute = Minute(result.Interval.iEnd.sdtDateTime);
    s.minutes = engine::IntervalMinutes(result.Interval);
    s.working_interval = result.WorkingIntervalType;
    s.interval = WorkingIntervalName(s.working_interval);
    for (const engine::TPresence& member : group) {
      if (member.SpecificType.IsAssigned()) {
        s.sources.push_back(SourceKind(CodeOf(member), member.Data));
      }
    }
    s.classified = std::move(reason);
    e_.stretches.push_back(std::move(s));
  }

  void Reclassified(int index, engine::TraceReason reason) override {
    if (index >= 0 && index < static_cast<int>(e_.stretches.size())) {
      e_.stretches[static_cast<size_t>(index)].reclassified = std::move(reason);
    }
  }

  void DayNote(engine::TraceReason reason) override { e_.day_notes.push_back(std::move(reason)); }

  void Stretches(const engine::TAttendanceCalcManager& m) override {
    for (int i = 0; i < m.PresenceCount() && i < static_cast<int>(e_.stretches.size()); ++i) {
      const engine::TPresence& p = m.GetPresence(i);
      ExplainStretch& s = e_.stretches[static_cast<size_t>(i)];
      s.code = CodeOf(p);
      s.ok = p.IsOK;
      s.present = p.Kind == engine::pk_Present;
      s.sheet = engine::DataItem(engine::SplitDataItems(p.Data.AsText()), 2);
    }
  }

  void Processed(const engine::TPresence& p, engine::PresenceCode code, engine::PresenceCode status,
                 int minutes, engine::TraceReason reason, const engine::TDailyWorkRec& before,
                 const engine::TDailyWorkRec& after) override {
    // The stretch it was: same begin and working interval, not processed yet; the same end
    // first (an empty stretch may share its begin with the next one), else one that ends
    // later (the meal deduction moved the processed end earlier).
    const int begin = Minute(p.Interval.iBegin.sdtDateTime);
    const int end = Minute(p.Interval.iEnd.sdtDateTime);
    for (const bool exact : {true, false}) {
      for (ExplainStretch& s : e_.stretches) {
        if (s.status >= 0 || s.begin_minute != begin ||
            s.working_interval != p.WorkingIntervalType ||
            (exact ? s.end_minute != end : s.end_minute < end)) {
          continue;
        }
        s.code = engine::ToInt(code);
        s.status = engine::ToInt(status);
        s.minutes = minutes;
        s.processed = std::move(reason);
        s.adds = Changes(before, after, x_, true);
        return;
      }
    }
  }

  void Step(engine::TraceReason reason, const engine::TDailyWorkRec& before,
            const engine::TDailyWorkRec& after) override {
    std::vector<ColumnAmount> changes = Changes(before, after, x_, false);
    if (!changes.empty()) e_.steps.push_back({std::move(reason), std::move(changes)});
  }

  void DayWork(const engine::TDailyWorkRec& record, const engine::TExtraData& x) override {
    e_.daily_absence = record.dwrDailyAbsence;
    for (const engine::DayWorkColumn& c : engine::DayWorkColumns(record, x)) {
      ExplainTotal total;
      total.column = c.name;
      total.value = c.value;
      total.minutes = c.minutes;
      for (size_t i = 0; i < e_.stretches.size(); ++i) {
        const ExplainStretch& s = e_.stretches[i];
        for (const ColumnAmount& a : s.adds) {
          if (a.column != c.name) continue;
          total.parts.push_back(
              {"stretch " + std::to_string(i + 1) + " " + s.begin.substr(6) + "-" + s.end.substr(6),
               a.amount});
        }
      }
      for (const ExplainStep& step : e_.steps) {
        for (const ColumnAmount& a : step.changes) {
          if (a.column == c.name) total.parts.push_back({step.reason.rule, a.amount});
        }
      }
      e_.totals.push_back(std::move(total));
    }
  }

  void Report(const std::string& comment) override { e_.reports.push_back(comment); }

  void Failed(engine::DayError code, const std::string& message) override {
    e_.error_code = engine::ToInt(code);
    const char* text = engine::DailyErrorMessage(code);
    e_.error_message = text ? text : message;
  }

 private:
  int Minute(const engine::TCalcDateTime& point) const {
    return engine::MinutesBetween(day0_, point);
  }

  DayExplanation& e_;
  engine::TExtraData x_;
  engine::TCalcDateTime day0_;
};

using util::SqlQuoted;

// Names, statuses and classes finished after the run: the stored status and its name.
void FinishStretches(DayExplanation& e) {
  for (ExplainStretch& s : e.stretches) {
    const int shown = s.status >= 0 ? s.status : s.code;
    auto [name, fa] = StatusName(shown, s.ok);
    if (s.status < 0) name += " (empty stretch, not stored)";
    // The reasons without the separator the engine leaves at their end.
    for (engine::TraceReason* r : {&s.classified, &s.processed}) {
      while (r->setting.ends_with("; ")) r->setting.resize(r->setting.size() - 2);
    }
    using enum engine::PresenceCode;
    const engine::PresenceCode code = engine::PresenceCodeFrom(shown);
    if ((code == kExtraWork || code == kServiceLate || code == kSuspended) && !s.sheet.empty()) {
      name += ", sheet " + s.sheet;
    }
    s.status_name = std::move(name);
    s.status_fa = std::move(fa);
    s.css_class = StatusClass(shown, s.ok);
  }
}

// The stored DayWork row and CSSLog reports of the day.
void ReadStored(db::Connection& base, db::Connection& year, DayExplanation& e) {
  const db::ResultSet row =
      year.Execute("Select * From DayWork Where LTrim(RTrim(PerNo)) = " + SqlQuoted(e.person) +
                   " And DDate = " + SqlQuoted(e.date));
  if (!row.rows.empty()) {
    e.stored_found = true;
    for (ExplainTotal& t : e.totals) {
      for (size_t c = 0; c < row.columns.size(); ++c) {
        if (engine::TrimText(row.columns[c]) == t.column) {
          t.stored = row.rows[0][c].IsNull() ? 0 : row.rows[0][c].AsInteger();
          if (*t.stored != t.value) e.differences.push_back(t.column);
        }
      }
    }
  }
  const db::ResultSet logs =
      base.Execute("Select LogDate, LogTime, Comment From CSSLog Where LTrim(RTrim(PerNo)) = " +
                   SqlQuoted(e.person) + " And Comment Like " + SqlQuoted("%(" + e.date + ")%") +
                   " Order By Id");
  for (const auto& r : logs.rows) {
    e.stored_reports.push_back(
        {TrimText(r[0].AsString()), TrimText(r[1].AsString()), TrimText(r[2].AsString())});
  }
}

}  // namespace

std::pair<std::string, std::string> StatusName(int status, bool ok) {
  using enum engine::PresenceCode;
  switch (engine::PresenceCodeFrom(status)) {
    case kPresent:
      return {"present in the working time", "حضور در وقت کاری"};
    case kNotCounted:
      return {"not counted (outside the working time)", "خارج از وقت کاری"};
    case kLateArrival:
      return {"late not tolerated", "تأخیر غیرمجاز"};
    case kEarlyDeparture:
      return {"early departure not tolerated", "تعجیل غیرمجاز"};
    case kAbsentNotPermitted:
      return {"absence without permission", "غیبت بدون مجوز"};
    case kAbsent:
      return {"absence", "غیبت"};
    case kLeave:
      return {"hourly leave", "مرخصی ساعتی"};
    case kMission:
      return {"hourly mission", "مأموریت ساعتی"};
    case kExtraWork:
      return ok ? std::pair<std::string, std::string>{"extra work, permitted",
                                                      "اضافه‌کار مجاز"}
                : std::pair<std::string, std::string>{"extra work, not permitted",
                                                      "اضافه‌کار غیرمجاز"};
    case kServiceLate:
      return {"service lateness", "تأخیر سرویس"};
    case kLateTolerated:
      return {"late within tolerance", "تأخیر مجاز"};
    case kEarlyTolerated:
      return {"early departure within tolerance", "تعجیل مجاز"};
    case kPresentInLeave:
      return {"present during a daily leave", "حضور در مرخصی روزانه"};
    case kPresentInMission:
      return {"present during a daily mission", "حضور در مأموریت روزانه"};
    case kDailyLeave:
      return {"daily leave", "مرخصی روزانه"};
    case kDailyMission:
      return {"daily mission", "مأموریت روزانه"};
    case kSuspended:
      return {"suspended", "تعلیق"};
    default:
      return {"code " + std::to_string(status), "کد " + std::to_string(status)};
  }
}

std::string StatusClass(int status, bool ok) {
  using enum engine::PresenceCode;
  switch (engine::PresenceCodeFrom(status)) {
    case kPresent:
    case kPresentInLeave:
    case kPresentInMission:
      return "present";
    case kExtraWork:
      return ok ? "extra-ok" : "extra";
    case kLateTolerated:
    case kEarlyTolerated:
      return "tolerated";
    case kLateArrival:
    case kEarlyDeparture:
      return "late";
    case kAbsentNotPermitted:
    case kAbsent:
      return "absent";
    case kLeave:
    case kDailyLeave:
      return "leave";
    case kMission:
    case kDailyMission:
      return "mission";
    case kServiceLate:
      return "service";
    case kSuspended:
      return "suspended";
    default:
      return "not-counted";
  }
}

std::string WorkingIntervalName(int working_interval) {
  static const char* const kNames[] = {
      "before the extra span", "extra span before duty", "duty, first segment", "break",
      "duty, second segment",  "extra span after duty",  "after the extra span"};
  if (working_interval < 0 || working_interval > 6) return "?";
  return kNames[working_interval];
}

std::vector<DayExplanation> ExplainDays(const ExplainRequest& request) {
  engine::TdmCalculate module(request.data_dir, request.odbc_driver);
  module.InitialValues(request.year, request.user_name, request.password, request.database_name,
                       request.server_name, 0);
  module.SetWriteResults(false);
  const std::string person = TrimText(request.person);

  // The person, the name the reports use, and the employment dates.
  const db::ResultSet who = module.ADOConnectionDbBase().Execute(
      "Select p.Perno, FirstName, LastName, BeginDate, EndDate From Person p left outer join "
      "JobInfo j on p.Perno = j.Perno Where LTrim(RTrim(p.Perno)) = " +
      SqlQuoted(person));
  if (who.rows.empty()) {
    throw std::invalid_argument("there is no person " + person + " in the table Person");
  }
  const std::string perno = who.rows[0][0].AsString();
  const std::string name =
      TrimText(who.rows[0][2].AsString()) + " " + TrimText(who.rows[0][1].AsString());
  auto has_date = [](const std::string& text) {
    return text.find_first_not_of('/') != std::string::npos;
  };
  std::string lower = request.year + "/01/01", upper = request.year + "/12/30";
  if (has_date(TrimText(who.rows[0][3].AsString()))) lower = TrimText(who.rows[0][3].AsString());
  if (has_date(TrimText(who.rows[0][4].AsString()))) upper = TrimText(who.rows[0][4].AsString());

  engine::TAttendanceCalcManager& manager = module.AttendanceCalcManager();
  std::vector<DayExplanation> out;
  for (const std::string& date : request.dates) {
    DayExplanation e;
    e.year = request.year;
    e.person = person;
    e.person_name = name;
    e.date = date;
    const std::string day = request.year + "/" + date;
    if (day < lower || day > upper) {
      e.not_calculated = "outside the person's employment (" + lower + " - " + upper + ")";
    } else {
      ExplainTrace trace(e);
      module.SetDayTrace(&trace);
      manager.SetPersonID(perno);
      manager.SetPersonName(name);
      const engine::TCalcDateTime d = engine::ParseCalcDateTime(date, "00:00");
      manager.SetCalcDate(d.dtDate);
      manager.Run();
      module.SetDayTrace(nullptr);
      e.calculated = !e.failed();
      FinishStretches(e);
    }
    ReadStored(module.ADOConnectionDbBase(), module.ADOConnectionTimeAttendance(), e);
    out.push_back(std::move(e));
  }
  return out;
}

std::vector<ColumnAmount> StoredMonthTotals(const ExplainRequest& request, int month) {
  std::vector<ColumnAmount> out;
  try {
    engine::TdmCalculate module(request.data_dir, request.odbc_driver);
    module.InitialValues(request.year, request.user_name, request.password, request.database_name,
                         request.server_name, 0);
    const db::ResultSet row = module.ADOConnectionTimeAttendance().Execute(
        "Select * From MahWork Where LTrim(RTrim(PerNo)) = " + SqlQuoted(TrimText(request.person)) +
        " And MMonth = " + std::to_string(month));
    if (row.rows.empty()) return out;
    for (const char* column :
         {"WorkTotal", "ExtraWorkTotal", "NonWorkTotal", "NightWork", "Mission", "LeaveOfAbsPay"}) {
      for (size_t c = 0; c < row.columns.size(); ++c) {
        if (TrimText(row.columns[c]) == column) {
          out.push_back({column, row.rows[0][c].IsNull() ? 0 : row.rows[0][c].AsInteger()});
        }
      }
    }
  } catch (const std::exception&) {
    out.clear();
  }
  return out;
}

}  // namespace zel::explain
