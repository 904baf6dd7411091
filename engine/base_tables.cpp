// The readers of the base tables both calculations share.
#include "engine/base_tables.h"

#include <utility>

#include "engine/statements.h"
#include "util/text.h"

namespace zel::engine {

namespace {

int32_t Int(const db::Dataset& q, const std::string& column) {
  return static_cast<int32_t>(q.FieldByName(column).AsInteger());
}

std::string Text(const db::Dataset& q, const std::string& column) {
  return util::TrimControls(q.FieldByName(column).AsString());
}

std::optional<std::string> NullableText(const db::Dataset& q, const std::string& column) {
  const db::Value& value = q.FieldByName(column);
  if (value.IsNull()) return std::nullopt;
  return util::TrimControls(value.AsString());
}

CompensationRow ReadCompensation(const db::Dataset& q, const std::string& kind, const char* span) {
  CompensationRow rule;
  rule.PRIO = NullableText(q, kind + span[0] + "R_PRIO");
  const std::string prefix = kind + "_" + span;
  rule.Rate = Int(q, prefix + "_Rate");
  rule.Bound = Int(q, prefix + "_Bound");
  rule.Condition = Int(q, prefix + "_Condition");
  return rule;
}

// The integer columns of a WorkGrp row read one to one.
constexpr std::pair<int32_t WorkGroupRow::*, const char*> kWorkGroupInts[] = {
    {&WorkGroupRow::ADDPERMIT, "ADDPERMIT"},
    {&WorkGroupRow::LATE_IN, "LATE_IN"},
    {&WorkGroupRow::EARLY_OUT, "EARLY_OUT"},
    {&WorkGroupRow::ta_Ramezan, "ta_Ramezan"},
    {&WorkGroupRow::FLOATCAL, "FLOATCAL"},
    {&WorkGroupRow::OverFloat, "OverFloat"},
    {&WorkGroupRow::KASR_M_DAY, "KASR_M_DAY"},
    {&WorkGroupRow::KASR_MOR, "KASR_MOR"},
    {&WorkGroupRow::KASR_TAT, "KASR_TAT"},
    {&WorkGroupRow::MAH_ABS_OK, "MAH_ABS_OK"},
    {&WorkGroupRow::MAX_KARKARD, "MAX_KARKARD"},
    {&WorkGroupRow::MIN_KARKARD, "MIN_KARKARD"},
    {&WorkGroupRow::PPERCENT, "PPERCENT"},
    {&WorkGroupRow::TAKHIR_AMOUNT, "TAKHIR_AMOUNT"},
    {&WorkGroupRow::TAKHIRCNT, "TAKHIRCNT"},
    {&WorkGroupRow::TAKHIRSTAT, "TAKHIRSTAT"},
    {&WorkGroupRow::TAKHIRTOT, "TAKHIRTOT"},
    {&WorkGroupRow::TATS_IN_MORKHASI, "TATS_IN_MORKHASI"},
    {&WorkGroupRow::E_N_MinBefore, "E_N_MinBefore"},
    {&WorkGroupRow::E_N_MinAfter, "E_N_MinAfter"},
    {&WorkGroupRow::E_H_Min, "E_H_Min"},
    {&WorkGroupRow::CalcMeal, "CalcMeal"},
    {&WorkGroupRow::CalcMealEBefore, "CalcMealEBefore"},
    {&WorkGroupRow::CalcMealEAfter, "CalcMealEAfter"},
    {&WorkGroupRow::CalcMealEHoliday, "CalcMealEHoliday"},
    {&WorkGroupRow::CalcService, "CalcService"},
    {&WorkGroupRow::Atten_In_Break, "Atten_In_Break"},
    {&WorkGroupRow::MealDuration, "MealDuration"},
    {&WorkGroupRow::Dec_Meal_Absence, "Dec_Meal_Absence"},
    {&WorkGroupRow::SumAbsent, "SumAbsent"},
    {&WorkGroupRow::AbsentOption, "AbsentOption"},
    {&WorkGroupRow::MaxMPNonWork, "MaxMPNonWork"},
    {&WorkGroupRow::Imp_HurOrdMor, "Imp_HurOrdMor"},
    {&WorkGroupRow::MandeMorForSaati, "MandeMorForSaati"},
    {&WorkGroupRow::MMinTrans, "MMinTrans"},
    {&WorkGroupRow::MMaxTrans, "MMaxTrans"},
    {&WorkGroupRow::PrdMahExtraWorkPermOption, "PrdMahExtraWorkPermOption"},
    {&WorkGroupRow::Def_Late_In_FromVacation, "Def_Late_In_FromVacation"},
    {&WorkGroupRow::Def_Early_Out_FromVacation, "Def_Early_Out_FromVacation"},
    {&WorkGroupRow::How_ExtraWork_Holi_DayMam, "How_ExtraWork_Holi_DayMam"},
    {&WorkGroupRow::Dont_Calc_NightWork, "Dont_Calc_NightWork"},
};

// Opens the query for the code, or the text parameter for the person.
void OpenFor(db::Dataset& q, const char* param, const db::Value& value) {
  q.Close();
  q.SetParam(param, value);
  q.Open();
}

// The row of the code: read from the query (opened for the code) the first time, from the
// map after.
template <typename Row, typename ReadRow>
const Row& ReadOnce(std::map<int, Row>& rows, db::Dataset& q, const char* param, int code,
                    ReadRow read) {
  auto it = rows.find(code);
  if (it == rows.end()) {
    OpenFor(q, param, code);
    it = rows.emplace(code, read(std::as_const(q))).first;
  }
  return it->second;
}

}  // namespace

WorkGroupRow ReadWorkGroupRow(const db::Dataset& q) {
  WorkGroupRow g;
  g.CODE = Int(q, "CODE");
  g.NAME = Text(q, "NAME");
  g.CALCODE = NullableText(q, "CALCODE");
  g.GShCode = Int(q, "GShCode");
  g.GROUPTYPE = Int(q, "GROUPTYPE");
  const char* kinds[4] = {"S", "T", "E", "G"};
  for (int k = 0; k < 3; ++k) g.Day[k] = ReadCompensation(q, kinds[k], "Day");
  for (int k = 0; k < 4; ++k) g.Month[k] = ReadCompensation(q, kinds[k], "Mah");
  for (auto [field, column] : kWorkGroupInts) g.*field = Int(q, column);
  g.FLOATVAL = Text(q, "FLOATVAL");
  g.MaxMPNonWorkState = Text(q, "MaxMPNonWorkState");
  for (int m = 0; m < 12; ++m) {
    g.M_PARAM[m] = Int(q, "M_PARAM" + std::to_string(m + 1));
    g.WorkBound[m] = Int(q, "WorkBound" + std::to_string(m + 1));
  }
  return g;
}

WorkShiftRow ReadWorkShiftRow(const db::Dataset& q) {
  WorkShiftRow s;
  s.EBEGINTIME = Text(q, "EBEGINTIME");
  s.EENDTIME = Text(q, "EENDTIME");
  s.DBEGINTIME = Text(q, "DBEGINTIME");
  s.DENDTIME = Text(q, "DENDTIME");
  s.BBEGINTIME = Text(q, "BBEGINTIME");
  s.BENDTIME = Text(q, "BENDTIME");
  s.ENDTIME = Text(q, "ENDTIME");
  s.Holiday = Int(q, "Holiday");
  s.ShiftStatus = q.FieldByName("ShiftStatus").AsString();
  return s;
}

BaseTables::BaseTables(db::Connection& base)
    : work_groups_(base),
      leave_types_(base),
      mission_types_(base),
      work_shifts_(base),
      jobs_(base),
      services_(base) {
  Prepare(work_groups_, "WorkGroupSettings");
  Prepare(leave_types_, "LeaveAndMissionTypes/MorType");
  Prepare(mission_types_, "LeaveAndMissionTypes/MamType");
  Prepare(work_shifts_, "ShiftRotationOfTheMonth/WorkShifts");
  Prepare(jobs_, "TransportServiceOfTheDay/JobInfo");
  Prepare(services_, "TransportServiceOfTheDay/ServCode");
}

const WorkGroupRow* BaseTables::WorkGroup(int code) {
  const auto& row = ReadOnce(work_group_rows_, work_groups_, "Code", code, [](auto& q) {
    return q.IsEmpty() ? std::nullopt : std::optional(ReadWorkGroupRow(q));
  });
  return row ? &*row : nullptr;
}

const LeaveTypeRow& BaseTables::LeaveTypeOf(int code) {
  return ReadOnce(leave_type_rows_, leave_types_, "Code", code, [](auto& q) {
    if (q.IsEmpty()) return LeaveTypeRow{};
    return LeaveTypeRow{true,
                        Int(q, "IsDaily"),
                        Int(q, "IsOrdinary"),
                        Int(q, "IsWaged"),
                        Int(q, "HolidaysCounted"),
                        Int(q, "Dec_Meal"),
                        Int(q, "ReduceMorkhasi"),
                        Int(q, "ReduceHoliday"),
                        Int(q, "Education")};
  });
}

const MissionTypeRow& BaseTables::MissionType(int code) {
  return ReadOnce(mission_type_rows_, mission_types_, "Code", code, [](auto& q) {
    if (q.IsEmpty()) return MissionTypeRow{};
    return MissionTypeRow{true, Int(q, "IsDaily"), Int(q, "HolidaysCounted"), Int(q, "Dec_Meal")};
  });
}

const WorkShiftRow* BaseTables::WorkShift(int code) {
  const auto& row = ReadOnce(work_shift_rows_, work_shifts_, "PCode", code, [](auto& q) {
    return q.IsEmpty() ? std::nullopt : std::optional(ReadWorkShiftRow(q));
  });
  return row ? &*row : nullptr;
}

const std::vector<JobRow>& BaseTables::Jobs(const std::string& person) {
  if (jobs_read_ && jobs_person_ == person) return job_rows_;
  OpenFor(jobs_, "Perno", person);
  job_rows_.clear();
  for (jobs_.First(); !jobs_.Eof(); jobs_.Next()) {
    job_rows_.push_back({Text(jobs_, "BeginDate"), Text(jobs_, "EndDate"), Int(jobs_, "Service")});
  }
  jobs_person_ = person;
  jobs_read_ = true;
  return job_rows_;
}

std::optional<int64_t> BaseTables::FullWayPrice(int code) {
  return ReadOnce(full_way_prices_, services_, "Code", code, [](auto& q) {
    return q.IsEmpty() ? std::nullopt : std::optional(q.FieldByName("FullWayPrice").AsInteger());
  });
}

}  // namespace zel::engine
