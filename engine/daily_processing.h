// Day totals of processed presences: the rules that add one classified stretch of the day to
// the day's result record, and the night-work minutes of a stretch.
// Pure functions; any thread may call them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/calc.h"
#include "engine/daily_codes.h"
#include "engine/daily_work_rec.h"

namespace zel::engine {

struct TExtraData;

// One processed stretch as the day totals see it.
struct ProcessedStretch {
  PresenceCode Code = PresenceCode::kNone;  // the result code after the break rule
  int Minutes = 0;                          // its duration
  TIntervalType IntervalType = it_NonWork;
  TWorkingIntervalType WorkingInterval = wi_NonWork_Before;
  bool IsOK = false;
  bool Lengthened = false;         // an empty stretch given the holiday day length
  int NightMinutes = 0;            // night-work minutes of the stretch
  std::vector<std::string> Items;  // items of its data text (empty when it has none)
};

// Adds one stretch to the day totals, rule by rule. Raises zel::dates::EConvertError when a
// leave's flag items (IsOrdinary, IsWaged, ReduceMorkhasi, ReduceHoliday) are not numbers.
void AddDayTotals(TDailyWorkRec& rec, const ProcessedStretch& stretch, const TExtraData& extra);

// Night-work minutes of the stretch [B, E] of the calculated day `day` in year `year`, with
// the night window NB..NE ("HH:NN"; a window ending at or before its begin runs into the next
// date): the overlaps with the nights that start on the day before, the day itself and the
// day after, plus, for a stretch beginning on 01/01, the year's first morning up to NE. On the
// year's first day there is no night before it in the year; after the year's last day dates
// run on in the last month. 0 when either window text is blank. Raises
// zel::dates::EConvertError for a malformed window time.
int NightMinutes(const TCalcDateTime& B, const TCalcDateTime& E, std::string_view NB,
                 std::string_view NE, const TDate& day, int year);

}  // namespace zel::engine
