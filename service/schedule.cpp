#include "service/schedule.h"

#include <cstdlib>
#include <stdexcept>

#include "dates/date_time.h"
#include "dates/date_utils.h"
#include "dates/jalali.h"
#include "db/client.h"
#include "util/text.h"

namespace zel::service {

namespace {

using dates::StrToIntDef;

constexpr long long kMinutesPerDay = 1440;
constexpr long long kMinutesPerWeek = 10080;

struct JalaliDay {
  int year = 0, month = 0, day = 0;
};

// Splits "YYYY/MM/DD"; raises std::runtime_error when it is not a valid Jalali date.
JalaliDay ParseJalali(const std::string& text) {
  std::string t = util::TrimControls(text);
  auto fail = [&] { throw std::runtime_error("'" + text + "' is not a valid date"); };
  if (t.size() != 10 || t[4] != '/' || t[7] != '/') fail();
  for (int i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (t[static_cast<size_t>(i)] < '0' || t[static_cast<size_t>(i)] > '9') fail();
  }
  JalaliDay d{std::atoi(t.substr(0, 4).c_str()), std::atoi(t.substr(5, 2).c_str()),
              std::atoi(t.substr(8, 2).c_str())};
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31) fail();
  return d;
}

// Whole serial day of a Jalali date text.
long long SerialDay(const std::string& text) {
  JalaliDay d = ParseJalali(text);
  try {
    return dates::DateOf(dates::EncodeJalaliDate(d.year, d.month, d.day));
  } catch (const std::exception&) {
    throw std::runtime_error("'" + text + "' is not a valid date");
  }
}

// Minutes of an "HH:MM" text; nullopt when it is not of that form.
std::optional<long long> TimeMinutes(const std::string& text) {
  std::string t = util::TrimControls(text);
  if (t.size() != 5 || t[2] != ':') return std::nullopt;
  for (int i : {0, 1, 3, 4}) {
    if (t[static_cast<size_t>(i)] < '0' || t[static_cast<size_t>(i)] > '9') return std::nullopt;
  }
  return std::atoi(t.substr(0, 2).c_str()) * 60LL + std::atoi(t.substr(3, 2).c_str());
}

std::string MonthDay(const std::string& date) {
  return dates::Copy(util::TrimControls(date), 6, 5);
}

// Month of today as a number, 12 when it is not one.
int TodayMonth(const std::string& today) { return StrToIntDef(dates::Copy(today, 6, 2), 12); }

std::string AsText(const db::Value& v) { return v.AsString(); }

}  // namespace

std::vector<std::string> ScheduleQueryLines() {
  return {" Select ScheduleId, ScheduleType, StartTime, Data1, Data2, LastRunDate, ",
          " LastRunTime, CalcType, FromDate, ToDate, FromMahPeriod, ToMahPeriod, CalcYear, ",
          " SubCalcType, DifCurDay, DifCurMP, Transfer, Uncertains, TransMor, TransMam, "
          "TransSLate ",
          " From CSSchedule "};
}

ScheduleEntry ScheduleEntryFromRow(const db::Dataset& row) {
  ScheduleEntry e;
  auto integer = [&](const char* name, int& field) {
    if (row.HasField(name)) field = static_cast<int>(row.FieldByName(name).AsInteger());
  };
  auto text = [&](const char* name, std::string& field) {
    if (row.HasField(name)) field = AsText(row.FieldByName(name));
  };
  integer("ScheduleId", e.ScheduleId);
  integer("ScheduleType", e.ScheduleType);
  text("StartTime", e.StartTime);
  integer("Data1", e.Data1);
  integer("Data2", e.Data2);
  if (row.HasField("LastRunDate") && !row.FieldByName("LastRunDate").IsNull()) {
    e.LastRunDate = AsText(row.FieldByName("LastRunDate"));
  }
  text("LastRunTime", e.LastRunTime);
  integer("CalcType", e.CalcType);
  integer("SubCalcType", e.SubCalcType);
  text("FromDate", e.FromDate);
  text("ToDate", e.ToDate);
  text("FromMahPeriod", e.FromMahPeriod);
  text("ToMahPeriod", e.ToMahPeriod);
  text("CalcYear", e.CalcYear);
  integer("DifCurDay", e.DifCurDay);
  integer("DifCurMP", e.DifCurMP);
  integer("Transfer", e.Transfer);
  integer("Uncertains", e.Uncertains);
  integer("TransMor", e.TransMor);
  integer("TransMam", e.TransMam);
  integer("TransSLate", e.TransSLate);
  return e;
}

bool IsMaskBitSet(int Mask, int Index, bool IsMonthMask) {
  const int top = IsMonthMask ? 11 : 6;
  if (Index < 0 || Index > top) return false;
  if ((static_cast<unsigned>(Mask) >> (top + 1)) != 0) return false;
  return ((static_cast<unsigned>(Mask) >> Index) & 1u) != 0;
}

int WeekDayIndex(const std::string& jalali_date) {
  // ISO weekday 1 Monday ... 7 Sunday → 0 Saturday ... 6 Friday.
  int iso = dates::DayOfTheWeek(static_cast<dates::DateTime>(SerialDay(jalali_date)));
  return (iso + 1) % 7;
}

long long MinutesBetween(const std::string& date_a, const std::string& time_a,
                         const std::string& date_b, const std::string& time_b) {
  auto ta = TimeMinutes(time_a);
  auto tb = TimeMinutes(time_b);
  if (!ta || !tb) return 0;
  long long a = SerialDay(date_a) * kMinutesPerDay + *ta;
  long long b = SerialDay(date_b) * kMinutesPerDay + *tb;
  return a > b ? a - b : b - a;
}

bool IsInTime(const ScheduleEntry& entry, const std::string& today) {
  if (!entry.LastRunDate) return true;
  return *entry.LastRunDate + entry.LastRunTime < today + entry.StartTime;
}

bool MustRunIt(const ScheduleEntry& e, const std::string& today, const std::string& now) {
  if (now < e.StartTime) return false;
  switch (e.ScheduleType) {
    case 0:  // every Data1 hours
      if (!e.LastRunDate) return true;
      return MinutesBetween(*e.LastRunDate, e.LastRunTime, today, now) >= e.Data1 * 60LL;
    case 1:  // every day, or every Data2 days
      if (e.Data1 == 1 || !e.LastRunDate) return IsInTime(e, today);
      if (MinutesBetween(*e.LastRunDate, e.LastRunTime, today, now) < e.Data2 * kMinutesPerDay) {
        return false;
      }
      return IsInTime(e, today);
    case 2: {  // every Data1 weeks on the weekdays of mask Data2
      int w = WeekDayIndex(today);
      if (!IsMaskBitSet(e.Data2, w, false)) return false;
      if (!e.LastRunDate) return IsInTime(e, today);
      int f = WeekDayIndex(*e.LastRunDate);
      int g = f > w ? f - w : 0;
      // The anchor: the last run moved back to today's weekday when it fell later in its week.
      long long anchor = SerialDay(*e.LastRunDate) - g;
      auto last_time = TimeMinutes(e.LastRunTime);
      auto now_time = TimeMinutes(now);
      long long d = 0;
      if (last_time && now_time) {
        long long a = anchor * kMinutesPerDay + *last_time;
        long long b = SerialDay(today) * kMinutesPerDay + *now_time;
        d = a > b ? a - b : b - a;
      }
      if (d >= e.Data1 * kMinutesPerWeek || (d < kMinutesPerWeek && f < w)) {
        return IsInTime(e, today);
      }
      return false;
    }
    case 3: {  // on day Data1 of the months of mask Data2
      JalaliDay t = ParseJalali(today);
      if (IsMaskBitSet(e.Data2, t.month - 1, true) && e.Data1 == t.day) return IsInTime(e, today);
      return false;
    }
    default:
      return false;
  }
}

std::string Pad2(const std::string& text) {
  std::string t = util::TrimControls(text);
  while (t.size() < 2) t.insert(t.begin(), '0');
  return t;
}

std::optional<CalcRange> DailyRange(const ScheduleEntry& e, const std::string& today) {
  JalaliDay t = ParseJalali(today);
  const std::string mm = dates::Copy(today, 6, 2);
  const std::string dd = dates::Copy(today, 9, 2);
  const std::string today_mmdd = MonthDay(today);
  switch (e.SubCalcType) {
    case 1:
      return CalcRange{e.FromDate, e.ToDate};
    case 2: {
      int m = TodayMonth(today) - e.DifCurMP;
      std::string month = m < 1 ? "01" : Pad2(std::to_string(m));
      return CalcRange{month + "/" + Pad2(e.FromMahPeriod), month + "/" + Pad2(e.ToMahPeriod)};
    }
    case 3: {
      int year = 0;
      std::string mmdd;
      dates::TJalaliDateUtils::GetNDatesBefore(t.year, today_mmdd, e.DifCurDay, year, mmdd);
      // The year database holds one year: a start in the year before begins at 01/01.
      return CalcRange{year < t.year ? std::string("01/01") : mmdd, today_mmdd};
    }
    case 4: {
      int first = StrToIntDef(util::TrimControls(e.FromMahPeriod), 1);
      int day = StrToIntDef(dd, 1);
      // The day number as compared (1 for a text that is not a number) makes the date.
      std::string from = first < day ? mm + "/" + Pad2(std::to_string(first)) : today_mmdd;
      return CalcRange{from, today_mmdd};
    }
    default:
      return std::nullopt;
  }
}

std::optional<CalcRange> MonthOrPeriodRange(const ScheduleEntry& e, const std::string& today) {
  switch (e.SubCalcType) {
    case 1:
      return CalcRange{e.FromMahPeriod, e.ToMahPeriod};
    case 2: {
      int p = TodayMonth(today) - e.DifCurMP;
      if (p < 1) p = 1;
      return CalcRange{std::to_string(p), std::to_string(p)};
    }
    default:
      return std::nullopt;
  }
}

}  // namespace zel::service
