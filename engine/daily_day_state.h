// The state of the day being calculated: the settings of the person's work group on the day
// (ExtraData), the day's result record (DailyWorkRec), the whole-day absence and meal flags,
// the texts of the day and its neighbours, the stretch of days rows are kept for, the night
// and fasting-month windows, the floating start, the dates of the day's daily mission and the
// TimeTab rows waiting to be written. One value, started afresh when a day begins, so that
// nothing of a previous day, finished or failed, reaches the next one.
// Owned by one calculation data module; used by that module's worker thread only.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "db/client.h"
#include "engine/calc.h"
#include "engine/daily_codes.h"
#include "engine/daily_work_rec.h"

namespace zel::engine {

// Settings of the person's work group on the day being calculated, and facts of the day.
struct TExtraData {
  int WorkGroupS_Day_Rate = 0, WorkGroupS_Day_Bound = 0, WorkGroupS_Day_Condition = 0;
  std::string WorkGroupSDR_PRIO, WorkGroupSMR_PRIO;
  int WorkGroupT_Day_Rate = 0, WorkGroupT_Day_Bound = 0, WorkGroupT_Day_Condition = 0;
  int WorkGroupE_Day_Rate = 0, WorkGroupE_Day_Bound = 0, WorkGroupE_Day_Condition = 0;
  bool WorkGroupADDPERMIT = false;
  std::string WorkGroupAMR_PRIO;
  std::string WorkGroupCALCODE;
  int WorkGroupCODE = 0;
  int WorkGroupEARLY_OUT = 0;
  std::string WorkGroupEDR_PRIO, WorkGroupEMR_PRIO;
  bool WorkGroupFloatCal = false, WorkGroupOverFloat = false;
  std::string WorkGroupFloatVal;
  GroupType WorkGroupGROUPTYPE{};
  int WorkGroupKASR_M_DAY = 0, WorkGroupKASR_MOR = 0, WorkGroupKASR_TAT = 0;
  int WorkGroupLATE_IN = 0;
  int WorkGroupM_PARAM[12] = {};  // M_PARAM1 .. M_PARAM12, index 0 = month 1
  int WorkGroupMAH_ABS_OK = 0;
  std::string WorkGroupNAME;
  int WorkGroupMAX_KARKARD = 0, WorkGroupMIN_KARKARD = 0;
  int WorkGroupPPERCENT = 0;
  int WorkGroupTAKHIR_AMOUNT = 0, WorkGroupTAKHIRCNT = 0, WorkGroupTAKHIRSTAT = 0,
      WorkGroupTAKHIRTOT = 0;
  int WorkGroupTATS_IN_MORKHASI = 0;
  std::string WorkGroupTMR_PRIO, WorkGroupTDR_PRIO;
  int WorkGroupE_N_MinBefore = 0, WorkGroupE_N_MinAfter = 0, WorkGroupE_H_Min = 0;
  int WorkGroupCALCMeal = 0, WorkGroupCALCMealBefore = 0, WorkGroupCALCMealAfter = 0,
      WorkGroupCALCMealHoliday = 0;
  int WorkGroupCALCService = 0;
  int WorkGroupAtten_In_Break = 0;
  int WorkGroupMealDuration = 0;
  int WorkGroupDec_Meal_Absence = 0;
  int WorkGroupta_Ramezan = 0;
  int WorkGroupSumAbsent = 0, WorkGroupAbsentOption = 0;
  int WorkGroupMaxMPNonWork = 0;
  int WorkGroupImp_HurOrdMor = 0;
  std::string Section;
  int IsHoliday = 0;
  bool IsFalseDay = false;
  int DayLength = 0;
  int CalWork = 0;
  int WorkGroupGShCode = 0;
  int WorkGroupMandeMorForSaati = 0;
  int WorkGroupPrdMahExtraWorkPermOption = 0;
  int WorkGroupDef_Late_In_FromVacation = 0, WorkGroupDef_Early_Out_FromVacation = 0;
  int WorkGroupHow_ExtraWork_Holi_DayMam = 0;
};

// The columns of a TimeTab row, in the order of the daily engine's insert.
inline constexpr int kTimeTabColumns = 18;

struct DayState {
  // ---- read by the handlers and the observer ----
  TExtraData ExtraData;        // the work group's settings and the facts of the day
  TDailyWorkRec DailyWorkRec;  // the day's totals, written as its DayWork row
  bool DailyAbsence = false;   // the day is a whole-day absence
  bool FWorkGroupMealDurationAffected = false;  // the meal time came off an absence already

  // ---- the daily engine's own ----
  std::string day_text;        // "MM/DD"
  std::string yesterday_text;  // the day before inside the year (the day itself on 01/01)
  std::string tomorrow_text;   // the day after inside the year (the day itself at the end)
  // The stretch of days rows are kept for: from the day before to a month after the day.
  std::string window_from, window_to;
  TCalcDateTime reference;                 // Yesterday.wdExtra.iBegin: relative minutes start here
  std::string night_begin, night_end;      // SYSTEM.NightBegin / NightEnd, trimmed
  std::string ramezan_start, ramezan_end;  // SYSTEM.RamezanStart / RamezanEnd, trimmed
  int dont_calc_night_work = 0;            // WorkGrp.Dont_Calc_NightWork of the day's group
  bool floating_on = false, over_float = false;
  int float_minutes = 0;
  std::string daily_mission_begin, daily_mission_end;  // dates of the day's DayMam row
  // The day's TimeTab rows waiting to be written, values in the column order of the insert;
  // written when the processing of the day ends or fails.
  std::vector<std::array<db::Value, kTimeTabColumns>> pending_time_tab;
};

}  // namespace zel::engine
