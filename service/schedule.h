// The rules of the schedule table CSSchedule: when an entry is due (MustRunIt, IsInTime,
// the weekday and month masks) and which date, month or period range a due entry
// calculates. Pure functions of an entry and the current Jalali date and time; the schedule
// runner of the service reads the entries and calls them. Any thread may call them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zel::db {
class Dataset;
}

namespace zel::service {

// The columns of one CSSchedule row the service reads. Integer columns that are NULL read
// as 0; texts are kept as stored (NULL reads as empty), except LastRunDate whose NULL means
// "never run".
struct ScheduleEntry {
  int ScheduleId = 0;
  int ScheduleType = 0;   // 0 interval, 1 daily, 2 weekly, 3 monthly
  std::string StartTime;  // "HH:MM"
  int Data1 = 0;
  int Data2 = 0;
  std::optional<std::string> LastRunDate;  // "YYYY/MM/DD"; nullopt = never run
  std::string LastRunTime;                 // "HH:MM"
  int CalcType = 0;                        // 0 daily, 1 monthly, 2 periodic
  int SubCalcType = 0;                     // how the range is derived
  std::string FromDate, ToDate;            // "MM/DD" (daily 1)
  std::string FromMahPeriod, ToMahPeriod;  // day, month or period numbers as text
  std::string CalcYear;                    // "YYYY"
  int DifCurDay = 0;
  int DifCurMP = 0;
  int Transfer = 0;
  int Uncertains = 0;
  int TransMor = 0, TransMam = 0, TransSLate = 0;
};

// Reads the current row of a dataset opened on CSSchedule; a column the query did not
// select keeps its default. Raises zel::db::DbError when a value cannot be converted.
ScheduleEntry ScheduleEntryFromRow(const db::Dataset& row);
// The lines of the pass's reading of CSSchedule, the columns ScheduleEntryFromRow reads, in
// the order the pass runs the entries.
std::vector<std::string> ScheduleQueryLines();

// Bit Index of Mask; false when Index is above the top bit (11 for month masks, 6 for
// weekday masks) or when Mask has a bit above the top bit set.
bool IsMaskBitSet(int Mask, int Index, bool IsMonthMask);

// Weekday index of a Jalali date "YYYY/MM/DD": 0 Saturday, 1 Sunday ... 6 Friday. Raises
// std::runtime_error for a text that is not a valid date.
int WeekDayIndex(const std::string& jalali_date);

// Minutes between two Jalali moments (date "YYYY/MM/DD", time "HH:MM"), as an absolute
// distance; counts across a year end. 0 when a time is not of the form "HH:MM" (no
// duration). Raises std::runtime_error for a date that is not valid.
long long MinutesBetween(const std::string& date_a, const std::string& time_a,
                         const std::string& date_b, const std::string& time_b);

// True when the entry has not run since today's start time: never run, or LastRunDate +
// LastRunTime (as text) before today + StartTime.
bool IsInTime(const ScheduleEntry& entry, const std::string& today);

// Whether the entry is due now. today = Jalali "YYYY/MM/DD", now = "HH:MM". Raises for
// malformed dates (the caller logs and answers false).
bool MustRunIt(const ScheduleEntry& entry, const std::string& today, const std::string& now);

// A range of a run: "MM/DD" dates of a daily run, or month or period numbers as text.
struct CalcRange {
  std::string from;
  std::string to;
};

// The "MM/DD" range of a daily entry for today, by SubCalcType 1-4; nullopt for any other
// sub-type (no calculation). Raises for a malformed today.
std::optional<CalcRange> DailyRange(const ScheduleEntry& entry, const std::string& today);

// The month (monthly entries) or period (periodic entries) range by SubCalcType 1-2;
// nullopt for any other sub-type.
std::optional<CalcRange> MonthOrPeriodRange(const ScheduleEntry& entry, const std::string& today);

// Left-pads the trimmed text with "0" to two characters; longer texts are kept.
std::string Pad2(const std::string& text);

}  // namespace zel::service
