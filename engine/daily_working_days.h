// The shape of a calculated day: a calendar item or shift turned into the working day of the
// calculation framework (extra span, working time, break, day end), the holiday value and the
// day length; the point day of a missing neighbour; the texts of the daily error codes.
// Pure functions over values; any thread may call them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/calc.h"
#include "engine/daily_codes.h"

namespace zel::engine {

struct TExtraData;

// The texts of one calendar item or shift, trimmed: E the extra span, D the working time,
// B the break, EndDate/EndTime the end of the attendance day.
struct DayShapeItem {
  std::string EBeginDate, EBeginTime, EEndDate, EEndTime;
  std::string DBeginDate, DBeginTime, DEndDate, DEndTime;
  std::string BBeginDate, BBeginTime, BEndDate, BEndTime;
  std::string EndDate, EndTime;
  int Holiday = 0;
  // The begin times of the row the holiday test reads (the calendar item, or the person's
  // shift-calendar row); for a calendar item they are the ones above.
  bool HasBeginTimes = false;
};

struct DayShape {
  TWorkingDay Day;    // relative minutes 0; the manager fills them in
  int Holiday = 0;    // the item's holiday value
  int DayLength = 0;  // working time minus break, or the month's parameter on a holiday
};

// The point of a "MM/DD" date and an "HH:NN" time (month and hour from characters 1-2, day
// and minute from characters 4-5). Raises zel::dates::EConvertError when a text is not of
// that form.
TCalcDateTime ParseCalcDateTime(std::string_view date, std::string_view time);
// Whether a stored "MM/DD" names a possible day (month 1..12, day within the month's 31 or
// 30) and a stored "HH:NN" a time of day (00:00 .. 24:00).
bool ValidMonthDay(const std::string& text);
bool ValidHourMinute(const std::string& text);

// "MM/DD" + "HH:NN" of a point: the text the day's moments are compared by.
std::string MomentKey(const TCalcDateTime& point);

// True when a shape item has an extra, working or break begin time.
bool HasAnyBeginTime(const DayShapeItem& item);

// The shape of date d from an item: the three intervals chosen by which begin times are
// given, the day end (a day-end date before d means the day after d; without an end time the
// day ends at d 23:59, or at the end of the extra span when that is later), the holiday and
// the day length (M_PARAM of d's month on a holiday). nullopt when no shape fits: an item
// with only a break time, or one without times that is neither a holiday nor of group type 2.
// Raises zel::dates::EConvertError for a malformed date or time text.
std::optional<DayShape> BuildDayShape(const DayShapeItem& item, const TDate& d,
                                      const TExtraData& extra);

// The day model of a day that has no working day: all three intervals empty at P, the day
// end at P's date 00:00.
TWorkingDay PointDay(const TCalcDateTime& P);

// The CSSLog message of a daily error code, or nullptr for a code without one.
const char* DailyErrorMessage(DayError code);

}  // namespace zel::engine
