// The base database's tables both calculations read: work groups (WorkGrp), employment
// (JobInfo), leave and mission types (MorType, MamType), shifts (WorkShifts) and transport
// services (ServCode). One reader per table turns its row into one struct whose fields spell
// the columns as the table does; a NULL number reads 0, a NULL text "", texts are trimmed of
// blanks and control characters. Each row is read once per code (JobInfo: per person, the
// last person's rows kept), as the base tables do not change during a calculation.
// Owned by one calculation (the daily engine or the range calculation) and used by its
// thread only.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "db/client.h"
#include "engine/daily_codes.h"

namespace zel::engine {

// A rule that lets permitted extra work make up for a shortfall of one kind, of the day
// (<K>_Day_Rate, _Bound, _Condition, <K>DR_PRIO) or of the month (<K>_Mah_…, <K>MR_PRIO).
struct CompensationRow {
  std::optional<std::string> PRIO;  // nullopt when NULL
  int32_t Rate = 0, Bound = 0, Condition = 0;
};

// One WorkGrp row.
struct WorkGroupRow {
  int32_t CODE = 0;
  std::string NAME;
  std::optional<std::string> CALCODE;  // its text; nullopt when NULL
  int32_t GShCode = 0;
  int32_t GROUPTYPE = 0;  // as stored; named by GroupType
  bool Is(GroupType type) const { return GROUPTYPE == ToInt(type); }
  CompensationRow Day[3];    // S, T, E
  CompensationRow Month[4];  // S, T, E, G
  int32_t ADDPERMIT = 0, LATE_IN = 0, EARLY_OUT = 0, ta_Ramezan = 0;
  int32_t FLOATCAL = 0, OverFloat = 0;
  std::string FLOATVAL;
  int32_t KASR_M_DAY = 0, KASR_MOR = 0, KASR_TAT = 0;
  int32_t MAH_ABS_OK = 0, MAX_KARKARD = 0, MIN_KARKARD = 0, PPERCENT = 0;
  int32_t TAKHIR_AMOUNT = 0, TAKHIRCNT = 0, TAKHIRSTAT = 0, TAKHIRTOT = 0;
  int32_t TATS_IN_MORKHASI = 0;
  int32_t M_PARAM[12] = {};    // M_PARAM1 .. M_PARAM12
  int32_t WorkBound[12] = {};  // WorkBound1 .. WorkBound12
  int32_t E_N_MinBefore = 0, E_N_MinAfter = 0, E_H_Min = 0;
  int32_t CalcMeal = 0, CalcMealEBefore = 0, CalcMealEAfter = 0, CalcMealEHoliday = 0;
  int32_t CalcService = 0;
  int32_t Atten_In_Break = 0, MealDuration = 0, Dec_Meal_Absence = 0;
  int32_t SumAbsent = 0, AbsentOption = 0;
  int32_t MaxMPNonWork = 0;
  std::string MaxMPNonWorkState;
  int32_t Imp_HurOrdMor = 0, MandeMorForSaati = 0, MMinTrans = 0, MMaxTrans = 0;
  int32_t PrdMahExtraWorkPermOption = 0;
  int32_t Def_Late_In_FromVacation = 0, Def_Early_Out_FromVacation = 0;
  int32_t How_ExtraWork_Holi_DayMam = 0;
  int32_t Dont_Calc_NightWork = 0;
};

// One MorType row; every field 0 when the code names no type.
struct LeaveTypeRow {
  bool found = false;
  int32_t IsDaily = 0, IsOrdinary = 0, IsWaged = 0, HolidaysCounted = 0, Dec_Meal = 0;
  int32_t ReduceMorkhasi = 0, ReduceHoliday = 0, Education = 0;
};

// One MamType row; every field 0 when the code names no type.
struct MissionTypeRow {
  bool found = false;
  int32_t IsDaily = 0, HolidaysCounted = 0, Dec_Meal = 0;
};

// One WorkShifts row. ShiftStatus is kept as stored: its characters are read by position.
struct WorkShiftRow {
  std::string EBEGINTIME, EENDTIME, DBEGINTIME, DENDTIME, BBEGINTIME, BENDTIME, ENDTIME;
  int32_t Holiday = 0;
  std::string ShiftStatus;
};

// One JobInfo row of a person.
struct JobRow {
  std::string BeginDate, EndDate;
  int32_t Service = 0;
};

// The row readers: the current row of an open query of the table.
WorkGroupRow ReadWorkGroupRow(const db::Dataset& q);
WorkShiftRow ReadWorkShiftRow(const db::Dataset& q);

class BaseTables {
 public:
  // Prepares the queries on the base database's connection (no statement is sent).
  explicit BaseTables(db::Connection& base);
  BaseTables(const BaseTables&) = delete;
  BaseTables& operator=(const BaseTables&) = delete;

  // The work group of the code; nullptr when WorkGrp has none. Raises what the connection
  // raises, for this and every reader below.
  const WorkGroupRow* WorkGroup(int code);
  const LeaveTypeRow& LeaveTypeOf(int code);
  const MissionTypeRow& MissionType(int code);
  // The shift of the code; nullptr when WorkShifts has none.
  const WorkShiftRow* WorkShift(int code);
  // The person's JobInfo rows in the order read.
  const std::vector<JobRow>& Jobs(const std::string& person);
  // FullWayPrice of the transport service; nullopt when ServCode has no such code.
  std::optional<int64_t> FullWayPrice(int code);

 private:
  db::Dataset work_groups_, leave_types_, mission_types_, work_shifts_, jobs_, services_;
  std::map<int, std::optional<WorkGroupRow>> work_group_rows_;
  std::map<int, LeaveTypeRow> leave_type_rows_;
  std::map<int, MissionTypeRow> mission_type_rows_;
  std::map<int, std::optional<WorkShiftRow>> work_shift_rows_;
  std::map<int, std::optional<int64_t>> full_way_prices_;
  std::string jobs_person_;
  bool jobs_read_ = false;
  std::vector<JobRow> job_rows_;
};

}  // namespace zel::engine
