#include "engine/demo/demo_organisation.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "dates/date_time.h"
#include "dates/jalali.h"
#include "dates/jalali_day.h"
#include "schema/schema.h"
#include "util/sql_text.h"
#include "util/text.h"

namespace zel::engine::demo {

namespace {

// Person numbers 1001 .. 9999 and the codes below belong to the demo; a new run replaces
// exactly those rows.
constexpr int kFirstPerno = 1001;
constexpr int kLastPerno = 9999;
constexpr const char* kPernoRange = "BETWEEN '      1001' AND '      9999'";

constexpr int kOfficeGroup = 101;  // fixed calendar 101, type 1
constexpr int kShiftGroup = 102;   // shift group 102, type 6
constexpr int kHourlyGroup = 103;  // no calendar, type 2
constexpr int kMorning = 101, kEvening = 102, kNight = 103, kOff = 104;  // WorkShifts
constexpr int kDailyLeave = 201, kHourlyLeave = 202, kSickLeave = 203;   // MorType
constexpr int kDailyMission = 301, kHourlyMission = 302;                 // MamType

// The rotation of the shift group: two mornings, two evenings, two nights, two days off.
constexpr int kRotation[8] = {kMorning, kMorning, kEvening, kEvening, kNight, kNight, kOff, kOff};

// A small deterministic generator (the same numbers on every platform).
class Random {
 public:
  explicit Random(std::uint32_t seed) : state_(seed * 2654435761u + 0x9E3779B9u) {}
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  int Between(int lo, int hi) {  // inclusive
    return lo + static_cast<int>(Next() % static_cast<std::uint32_t>(hi - lo + 1));
  }
  bool Percent(int p) { return Between(0, 99) < p; }

 private:
  std::uint32_t state_;
};

std::string Pad2(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", n);
  return text;
}
std::string Date(int month, int day) { return Pad2(month) + "/" + Pad2(day); }
std::string Time(int minutes) { return Pad2(minutes / 60) + ":" + Pad2(minutes % 60); }
using util::SqlQuoted;
std::string Perno(int number) {
  const std::string digits = std::to_string(number);
  return std::string(10 - digits.size(), ' ') + digits;
}

// Collects rows and sends them as multi-row INSERTs of a few hundred rows each.
class BulkInsert {
 public:
  BulkInsert(db::Connection& connection, std::string table, std::string columns)
      : connection_(connection), head_("INSERT INTO " + table + " (" + columns + ") VALUES ") {}
  BulkInsert(const BulkInsert&) = delete;
  BulkInsert& operator=(const BulkInsert&) = delete;

  void Add(const std::vector<std::string>& values) {
    std::string tuple = "(";
    for (std::size_t i = 0; i < values.size(); ++i) tuple += (i ? ", " : "") + values[i];
    text_ += (pending_ ? ",\n" : "") + tuple + ")";
    ++pending_;
    ++count_;
    if (pending_ == kRowsPerStatement) Flush();
  }
  void Flush() {
    if (pending_ == 0) return;
    connection_.Execute(head_ + text_);
    text_.clear();
    pending_ = 0;
  }
  int Count() const { return count_; }

 private:
  static constexpr int kRowsPerStatement = 400;
  db::Connection& connection_;
  std::string head_;
  std::string text_;
  int pending_ = 0;
  int count_ = 0;
};

struct Day {
  int month = 0;
  int day = 0;
  bool friday = false;
};

// Every day of the Jalali year with its weekday.
std::vector<Day> YearDays(int year) {
  std::vector<Day> days;
  for (int m = 1; m <= 12; ++m) {
    for (int d = 1; d <= dates::JalaliMonthDays(year, m); ++d) {
      const long serial = static_cast<long>(dates::EncodeJalaliDate(year, m, d));
      days.push_back({m, d, serial % 7 == 6});  // serial 43910 (1399/01/01) is a Friday
    }
  }
  return days;
}

bool IsOfficialHoliday(int month, int day) {
  return (month == 1 && (day <= 4 || day == 12 || day == 13)) || (month == 3 && day == 14);
}

enum class Kind { kOffice, kShift, kHourly };

Kind KindOf(int index) {
  switch (index % 5) {
    case 3:
      return Kind::kShift;
    case 4:
      return Kind::kHourly;
    default:
      return Kind::kOffice;
  }
}

const char* const kFirstNames[] = {"علی",  "رضا",   "سارا", "مریم", "حسین", "زهرا",
                                   "محمد", "فاطمه", "مهدی", "نرگس", "امیر", "لیلا"};
const char* const kLastNames[] = {"احمدی", "کریمی", "مرادی", "حسینی", "رضایی",  "جعفری",
                                  "کاظمی", "رحیمی", "صادقی", "نوری",  "یزدانی", "شریفی"};

// Replaces the demo's base rows: persons, work groups, shifts, types, meal, schedule.
void WriteBase(db::Connection& base, const DemoOptions& options, int year, Random& random,
               std::vector<Kind>& kinds) {
  const std::string range = kPernoRange;
  for (const char* table : {"Person", "JobInfo"}) {
    base.Execute(std::string("DELETE FROM ") + table + " WHERE Perno " + range);
  }
  base.Execute("DELETE FROM WorkGrp WHERE CODE IN (101, 102, 103)");
  base.Execute("DELETE FROM WorkShifts WHERE Code IN (101, 102, 103, 104)");
  base.Execute("DELETE FROM MorType WHERE Code IN (201, 202, 203)");
  base.Execute("DELETE FROM MamType WHERE Code IN (301, 302)");
  base.Execute("DELETE FROM Meals WHERE Code = 101");
  base.Execute("DELETE FROM SpecCard WHERE CardNo IN ('0901', '0902', '0903')");
  base.Execute("DELETE FROM CSSPersons WHERE ScheduleId = 1");
  base.Execute("DELETE FROM CSSchedule WHERE ScheduleId = 1");

  base.Execute(
      "IF NOT EXISTS (SELECT * FROM SYSTEM) "
      "INSERT INTO SYSTEM (NightBegin, NightEnd, RamezanStart, RamezanEnd, KorlanCalcOrService, "
      "MaxServiceLate, MaxMor, MaxPresence, MaxAbsence, MinAbsence, BeforeEnter, AfterEnter, "
      "BeforeExit, AfterExit) "
      "VALUES ('22:00', '06:00', '09:01', '09:30', 0, 120, 5, 960, 960, 30, 120, 120, 120, "
      "120)");
  // The monthly settings: the leave balance runs from month (and period) 1, the twelve
  // calculation periods are the months, and the year's database is listed in Years.
  std::string periods;
  for (int m = 1; m <= 12; ++m) {
    const int last = dates::JalaliMonthLength(m, false);
    periods += ", Period" + std::to_string(m) + "B = " + SqlQuoted(Date(m, 1)) + ", Period" +
               std::to_string(m) + "E = " + SqlQuoted(Date(m, last));
  }
  base.Execute("UPDATE SYSTEM SET StartMorLeft = 1, Years = " +
               SqlQuoted(std::to_string(year).substr(2)) + periods);
  // The terminals' special cards and function keys: a leave card and key E1 for hourly
  // leave, a mission card and key F1 for hourly missions, a service-late card. The card
  // numbers carry a leading zero, as printed on the cards; the punches give them without.
  base.Execute("UPDATE SYSTEM SET Mor_Code1 = '202', Mam_Code1 = '302'");
  base.Execute(
      "INSERT INTO SpecCard (CardNo, PermitCode, PERMITTYPE) VALUES ('0901', 202, 1), "
      "('0902', 302, 2), ('0903', NULL, 3)");
  base.Execute(
      "IF NOT EXISTS (SELECT * FROM Semaphor WHERE Code = 17) "
      "INSERT INTO Semaphor (Code, Amount, HostName) VALUES (17, 0, NULL)");

  BulkInsert persons(base, "Person", "Perno, FirstName, LastName, SortLastName");
  BulkInsert jobs(base, "JobInfo", "Perno, BeginDate, EndDate, Service");
  for (int i = 0; i < options.persons; ++i) {
    const std::string first = kFirstNames[random.Between(0, 11)];
    const std::string last = kLastNames[random.Between(0, 11)];
    persons.Add({SqlQuoted(Perno(kFirstPerno + i)), "N" + SqlQuoted(first), "N" + SqlQuoted(last),
                 "N" + SqlQuoted(last)});
    jobs.Add({SqlQuoted(Perno(kFirstPerno + i)), SqlQuoted(std::to_string(year - 1) + "/01/01"),
              "''", "NULL"});
    kinds.push_back(KindOf(i));
  }
  persons.Flush();
  jobs.Flush();

  // Office hours on a calendar with compensation of lateness by permitted extra work;
  // rotating shifts; hourly staff without a calendar.
  std::string params_columns, params_values;
  for (int m = 1; m <= 12; ++m) {
    params_columns += ", M_PARAM" + std::to_string(m);
    params_values += ", 440";
  }
  // The monthly rules: a leave entitlement of 1100 minutes a month (less for absences
  // above 1200), holidays paid in full below 600 minutes of absence, three lates of up to
  // 30 (60 in all) forgiven, lates compensated by permitted extra work, up to 120 minutes
  // of short absence taken as leave, a balance carried up to 7200; the shift group's work
  // bound is 10560 a month, the hourly staff work 4800 to 9600 and make up a shortfall
  // from their balance.
  std::string monthly_columns =
      ", MAH_ABS_OK, KASR_TAT, KASR_MOR, TAKHIRCNT, TAKHIRTOT, TAKHIR_AMOUNT, TAKHIRSTAT, "
      "TATS_IN_MORKHASI, MMinTrans, MMaxTrans, MaxMPNonWork, MaxMPNonWorkState, Imp_HurOrdMor, "
      "TMR_PRIO, T_Mah_Rate, T_Mah_Bound, T_Mah_Condition, MAX_KARKARD, MIN_KARKARD, "
      "MandeMorForSaati, PrdMahExtraWorkPermOption";
  std::string bound_values;
  for (int m = 1; m <= 12; ++m) {
    monthly_columns += ", WorkBound" + std::to_string(m);
    bound_values += ", 10560";
  }
  const std::string monthly_values =
      ", 1100, 600, 1200, 3, 60, 30, 0, 0, 0, 7200, 120, '0', 0, '1', 60, 600, 1";
  const std::string columns =
      "CODE, NAME, CALCODE, GShCode, GROUPTYPE, LATE_IN, EARLY_OUT, FLOATCAL, FLOATVAL, "
      "OverFloat, ADDPERMIT, Atten_In_Break, TDR_PRIO, EDR_PRIO, SDR_PRIO, T_Day_Rate, "
      "T_Day_Bound, T_Day_Condition, CalcMeal, CalcMealEBefore, CalcMealEAfter, "
      "CalcMealEHoliday, CalcService, E_N_MinBefore, E_N_MinAfter, E_H_Min, PPERCENT" +
      params_columns + monthly_columns;
  base.Execute("INSERT INTO WorkGrp (" + columns + ") VALUES " +
               "(101, N'اداری', 101, 0, 1, 10, 10, 0, '0', 0, 0, 3, '1', '2', '3', 60, 60, 1, "
               "1, 0, 0, 1, 0, 0, 30, 0, 0" +
               params_values + monthly_values + ", 0, 0, 0, 0" + bound_values + "), " +
               "(102, N'نوبت کاری', NULL, 102, 6, 5, 5, 0, '0', 0, 0, 3, '1', '2', '3', 0, 0, 0, "
               "1, 0, 0, 1, 0, 0, 0, 0, 0" +
               params_values + monthly_values + ", 0, 0, 0, 0" + bound_values + "), " +
               "(103, N'ساعتی', NULL, 0, 2, 0, 0, 0, '0', 0, 0, 3, '1', '2', '3', 0, 0, 0, "
               "0, 0, 0, 0, 0, 0, 0, 0, 0" +
               params_values + monthly_values + ", 9600, 4800, 1, 0" + bound_values + ")");
  base.Execute(
      "INSERT INTO WorkShifts (Code, Name, EBEGINTIME, EENDTIME, DBEGINTIME, DENDTIME, "
      "BBEGINTIME, BENDTIME, ENDTIME, Holiday, ShiftStatus) VALUES "
      "(101, N'صبح', '05:30', '18:00', '06:00', '14:00', '10:00', '10:20', '23:59', 0, '00000'), "
      "(102, N'عصر', '13:00', '23:30', '14:00', '22:00', '18:00', '18:20', '23:59', 0, '00000'), "
      "(103, N'شب', '21:00', '08:00', '22:00', '06:00', '02:00', '02:20', '12:00', 0, '11111'), "
      "(104, N'استراحت', NULL, NULL, NULL, NULL, NULL, NULL, '23:59', 1, '00000')");
  base.Execute(
      "INSERT INTO MorType (Code, Name, IsDaily, IsOrdinary, IsWaged, HolidaysCounted, "
      "Dec_Meal, ReduceMorkhasi, ReduceHoliday, Education) VALUES "
      "(201, N'استحقاقی روزانه', 1, 1, 1, 0, 0, 0, 0, 0), "
      "(202, N'استحقاقی ساعتی', 0, 1, 1, 0, 0, 0, 0, 0), "
      "(203, N'استعلاجی', 1, 0, 1, 0, 0, 0, 0, 0)");
  base.Execute(
      "INSERT INTO MamType (Code, Name, IsDaily, HolidaysCounted, Dec_Meal) VALUES "
      "(301, N'ماموریت روزانه', 1, 0, 0), (302, N'ماموریت ساعتی', 0, 0, 0)");
  base.Execute(
      "INSERT INTO Meals (Code, Name, BeginDate, EndDate, BeginTime, EndTime, Price) VALUES "
      "(101, N'ناهار', '01/01', '12/30', '12:00', '13:30', 50000)");
  // One daily entry: from the first day of the current month to today, at 01:00 each day.
  // With the records as punches it labels them, turns the special-card punches and the
  // web requests into service-late, leave and mission permissions, then pairs the rest
  // into entry/exit records, before it calculates.
  const char* transfers = options.records_as_punches ? "1, 1, 1, 1, 1" : "0, 0, 0, 0, 0";
  base.Execute(
      "INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, Data1, Data2, CalcType, "
      "SubCalcType, FromMahPeriod, ToMahPeriod, CalcYear, DifCurDay, DifCurMP, Transfer, "
      "Uncertains, TransMor, TransMam, TransSLate) VALUES (1, 1, '01:00', 1, 0, 0, 4, '1', "
      "'31', " +
      SqlQuoted(std::to_string(year)) + ", 0, 0, " + transfers + ")");
}

// The shift code of a day for a person of the shift group: the group's rotation, moved by
// the person's offset (a person with an offset carries it in PerShifts).
int ShiftOf(int day_of_year, int offset) { return kRotation[(day_of_year + offset) % 8]; }

struct Counts {
  int io = 0, leaves = 0, missions = 0, permissions = 0, calendar = 0, punches = 0,
      card_punches = 0, web_requests = 0;
};

// A punch's special card: its type (SPCARDTYPE 1 leave, 2 mission, 3 service late) and
// either the special card's number or the function key pressed. Type 0 is an ordinary punch.
struct Card {
  int type = 0;
  const char* number = "";
  const char* key = "";
};
constexpr Card kOrdinary{};
constexpr Card kLeaveCard{1, "901", ""}, kLeaveKey{1, "", "E1"};
constexpr Card kMissionCard{2, "902", ""}, kMissionKey{2, "", "F1"};
constexpr Card kServiceLateCard{3, "903", ""};

class YearWriter {
 public:
  YearWriter(db::Connection& base, db::Connection& year, const DemoOptions& options,
             int year_number, int month, Random& random, const std::vector<Kind>& kinds)
      : year_(year),
        options_(options),
        month_(month),
        random_(random),
        kinds_(kinds),
        days_(YearDays(year_number)),
        punches_(base, "ClockDmp",
                 "REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, IO_TYPE, UNCERTAIN, TRANSFERED, "
                 "SPCARDTYPE, SPECCARDNO, ClockKey"),
        punch_random_(options.seed + 7919u),
        base_(base),
        io_(year, "IoInfo",
            "PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration, BBEGINTIME, BENDDATE, "
            "BENDTIME, BEGINCLOCK, ENDCLOCK, FPM, LastEditUserCode, LastEditDate"),
        hourly_leave_(year, "Morkhasi",
                      "PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, DESCRIPT, "
                      "INDECISIVE, RECDATE, TYPE"),
        daily_leave_(year, "DayMor", "PageNo, PerNo, BeginDate, EndDate, Descript, RecDate, Type"),
        hourly_mission_(year, "Mission",
                        "PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, DESCRIPT, "
                        "ISSUEDATE, TYPE"),
        daily_mission_(year, "DayMam",
                       "PageNo, PerNo, BeginDate, EndDate, Descript, IssueDate, Type"),
        extra_permit_(year, "DayExPrm",
                      "PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime, Descript"),
        service_late_(year, "ServLate",
                      "PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, DESCRIPT, "
                      "RECDATE, SHIFTTYPE, INDECISIVE"),
        ask_absence_(year, "AskAbsence",
                     "PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime, Type, "
                     "userDescription, RecDate, IsDaily, IsApproved, IsTransfer"),
        ask_mission_(year, "AskMission",
                     "PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime, Type, "
                     "userDescription, IssueDate, City, Location, IsDaily, IsApproved, "
                     "IsTransfer"),
        mission_hours_(year, "MissionHour",
                       "PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime") {}

  Counts Write() {
    const std::string range = kPernoRange;
    for (const char* table : {"MorLMah", "MorLPrd"}) {
      year_.Execute(std::string("DELETE FROM ") + table + " WHERE Perno " + range);
    }
    for (const char* table : {"PrjRule", "IoInfo", "Morkhasi", "DayMor", "Mission", "DayMam",
                              "MamDays", "DayExPrm", "ServLate", "Present", "Susp", "AskAbsence",
                              "AskMission", "MissionHour", "TmpMor", "TmpMam", "TmpSLate"}) {
      year_.Execute(std::string("DELETE FROM ") + table + " WHERE PERNO " + range);
    }
    base_.Execute(std::string("DELETE FROM ClockDmp WHERE PERNO ") + range);
    year_.Execute("DELETE FROM CalItem WHERE CALCODE = 101");
    year_.Execute("DELETE FROM GShItem WHERE GShCode = 102");
    year_.Execute("DELETE FROM PerShifts WHERE GShCode = 102");

    WriteRules();
    WriteCalendar();
    WriteRotation();
    for (int i = 0; i < options_.persons; ++i) WritePersonMonth(i);
    WriteOtherYearPunches();
    for (BulkInsert* b :
         {&punches_, &io_, &hourly_leave_, &daily_leave_, &hourly_mission_, &daily_mission_,
          &extra_permit_, &service_late_, &ask_absence_, &ask_mission_, &mission_hours_}) {
      b->Flush();
    }
    counts_.io = io_.Count();
    counts_.punches = punches_.Count();
    counts_.leaves = hourly_leave_.Count() + daily_leave_.Count();
    counts_.missions = hourly_mission_.Count() + daily_mission_.Count();
    counts_.permissions = extra_permit_.Count() + service_late_.Count();
    counts_.web_requests = ask_absence_.Count() + ask_mission_.Count();
    return counts_;
  }

 private:
  int GroupOf(int index) const {
    switch (kinds_[index]) {
      case Kind::kShift:
        return kShiftGroup;
      case Kind::kHourly:
        return kHourlyGroup;
      case Kind::kOffice:
        break;
    }
    return kOfficeGroup;
  }
  int OffsetOf(int index) const { return (index / 5 % 4) * 2; }
  const Day& Last() const { return days_.back(); }

  void WriteRules() {
    BulkInsert rules(year_, "PrjRule", "PERNO, KARTNO, BEGINDATE, ENDDATE, WORKGROUP, Section");
    const std::string last = Date(Last().month, Last().day);
    for (int i = 0; i < options_.persons; ++i) {
      const int group = GroupOf(i);
      rules.Add({SqlQuoted(Perno(kFirstPerno + i)), SqlQuoted(std::to_string(kFirstPerno + i)),
                 "'01/01'", SqlQuoted(last), std::to_string(group),
                 group == kOfficeGroup  ? "N'اداری'"
                 : group == kShiftGroup ? "N'تولید'"
                                        : "N'خدمات'"});
    }
    rules.Flush();
    // The leave balance each person starts the year with (InitialValue) and may carry over
    // from the year before (Amount), for months and for periods.
    BulkInsert month_left(year_, "MorLMah", "Perno, InitialValue, Amount");
    BulkInsert period_left(year_, "MorLPrd", "Perno, InitialValue, Amount");
    for (int i = 0; i < options_.persons; ++i) {
      const std::vector<std::string> row{SqlQuoted(Perno(kFirstPerno + i)),
                                         std::to_string(600 + (i % 7) * 300),
                                         std::to_string((i % 3) * 120)};
      month_left.Add(row);
      period_left.Add(row);
    }
    month_left.Flush();
    period_left.Flush();
  }

  // Office hours 08:00-16:00 with a break 12:00-12:30 and extra work counted 06:00-20:00;
  // Fridays and official holidays are holidays without times.
  void WriteCalendar() {
    BulkInsert items(year_, "CalItem",
                     "CALCODE, DBEGINDATE, DBEGINTIME, DENDDATE, DENDTIME, EBEGINDATE, "
                     "EBEGINTIME, EENDDATE, EENDTIME, BBEGINDATE, BBEGINTIME, BENDDATE, "
                     "BENDTIME, ENDDATE, ENDTIME, HOLIDAY");
    for (const Day& day : days_) {
      const std::string d = SqlQuoted(Date(day.month, day.day));
      if (day.friday || IsOfficialHoliday(day.month, day.day)) {
        items.Add({"101", d, "NULL", "NULL", "NULL", "NULL", "NULL", "NULL", "NULL", "NULL", "NULL",
                   "NULL", "NULL", d, "'23:59'", "1"});
      } else {
        items.Add({"101", d, "'08:00'", d, "'16:00'", d, "'06:00'", d, "'20:00'", d, "'12:00'", d,
                   "'12:30'", d, "'23:59'", "0"});
      }
    }
    items.Flush();
    counts_.calendar = items.Count();
  }

  // The group's rotation in GShItem; every person of the group has PerShifts rows (the
  // calendar view needs them), holding own codes when the person's rotation is offset.
  void WriteRotation() {
    std::string columns;
    for (int d = 1; d <= 31; ++d) columns += ", D" + std::to_string(d);
    BulkInsert group(year_, "GShItem", "GShCode, Period" + columns);
    BulkInsert persons(year_, "PerShifts", "PerNo, GShCode, Period" + columns);
    int first_of_month = 0;
    for (int m = 1; m <= 12; ++m) {
      const int length = dates::JalaliMonthDays(std::stoi(Year()), m);
      std::vector<std::string> row{"102", std::to_string(m)};
      for (int d = 1; d <= 31; ++d) {
        row.push_back(d <= length ? std::to_string(ShiftOf(first_of_month + d - 1, 0)) : "NULL");
      }
      group.Add(row);
      for (int i = 0; i < options_.persons; ++i) {
        if (kinds_[i] != Kind::kShift) continue;
        std::vector<std::string> own{SqlQuoted(Perno(kFirstPerno + i)), "102", std::to_string(m)};
        for (int d = 1; d <= 31; ++d) {
          own.push_back(OffsetOf(i) == 0 || d > length
                            ? "NULL"
                            : std::to_string(ShiftOf(first_of_month + d - 1, OffsetOf(i))));
        }
        persons.Add(own);
      }
      first_of_month += length;
    }
    group.Flush();
    persons.Flush();
  }

  std::string Year() const { return options_.year; }

  int DayIndex(int month, int day) const {
    int index = 0;
    for (const Day& d : days_) {
      if (d.month == month && d.day == day) return index;
      ++index;
    }
    return -1;
  }

  // One entry/exit row; end_minutes may pass midnight (the exit is then on the next day).
  // A missing exit leaves the end empty, as the transfer stores an open entry. The entry
  // or the exit may be punched with a special card.
  void AddIo(const std::string& perno, int index, int begin, int end, bool missing_exit,
             const Card& entry_card = kOrdinary, const Card& exit_card = kOrdinary) {
    const Day& day = days_[index];
    const std::string begin_date = Date(day.month, day.day);
    std::string end_date = begin_date;
    if (end >= 1440) {
      if (index + 1 >= static_cast<int>(days_.size())) return;  // the year's last night
      end_date = Date(days_[index + 1].month, days_[index + 1].day);
      end -= 1440;
    }
    const std::string e_date = missing_exit ? "NULL" : SqlQuoted(end_date);
    const std::string e_time = missing_exit ? "NULL" : SqlQuoted(Time(end));
    const int duration =
        missing_exit ? 0 : (end_date == begin_date ? end - begin : end + 1440 - begin);
    AddPunches(perno, begin_date, begin, missing_exit ? std::string() : end_date, end, entry_card,
               exit_card);
    // The records stay punches when the schedule's transfer is to make them; the bulk
    // insert sends full batches as it goes, so the row must not reach it at all.
    if (options_.records_as_punches) return;
    io_.Add({SqlQuoted(perno), SqlQuoted(begin_date), SqlQuoted(Time(begin)), e_date, e_time,
             std::to_string(duration), SqlQuoted(Time(begin)), e_date, e_time, "1",
             missing_exit ? "NULL" : "1", "0", "'000'", SqlQuoted(begin_date)});
  }

  // The raw punches behind an entry/exit record, as a terminal delivers them (card number
  // = person number): the entry, now and then a second punch of the card a few minutes
  // later, and the exit. A separate generator keeps the demo's other rows as they were.
  void AddPunches(const std::string& perno, const std::string& begin_date, int begin,
                  const std::string& end_date, int end, const Card& entry_card,
                  const Card& exit_card) {
    const std::string year = Year() + "/";
    Punch(perno, year + begin_date, begin, entry_card);
    if (entry_card.type == 0 && punch_random_.Percent(4) && begin + 5 < 1440) {
      Punch(perno, year + begin_date, begin + punch_random_.Between(1, 4), kOrdinary);
    }
    if (!end_date.empty()) Punch(perno, year + end_date, end, exit_card);
  }
  void Punch(const std::string& perno, const std::string& date, int minutes, const Card& card) {
    const std::string number = util::TrimControls(perno);
    punches_.Add({std::to_string(++punch_rec_), SqlQuoted(number), SqlQuoted(perno),
                  SqlQuoted(date), SqlQuoted(Time(minutes)), "NULL", "0", "0",
                  std::to_string(card.type), SqlQuoted(card.number), SqlQuoted(card.key)});
    if (card.type != 0) ++counts_.card_punches;
  }
  // A few punches of the last days of the year before, still untransferred.
  void WriteOtherYearPunches() {
    const std::string year = std::to_string(std::stoi(Year()) - 1) + "/12/";
    for (int i = 0; i < options_.persons; i += 25) {
      const std::string perno = Perno(kFirstPerno + i);
      Punch(perno, year + "27", 7 * 60 + 50, kOrdinary);
      Punch(perno, year + "27", 16 * 60 + 10, kOrdinary);
    }
  }

  std::string Page() { return std::to_string(++page_); }

  void WritePersonMonth(int i) {
    const std::string perno = Perno(kFirstPerno + i);
    const int first = DayIndex(month_, 1);
    const int length = dates::JalaliMonthDays(std::stoi(Year()), month_);
    if (kinds_[i] == Kind::kOffice && random_.Percent(10)) {
      // A month-long permission for extra work after hours.
      extra_permit_.Add({Page(), SqlQuoted(perno), SqlQuoted(Date(month_, 1)), "'16:00'",
                         SqlQuoted(Date(month_, length)), "'20:00'", "N'اضافه کار مجاز'"});
    }
    for (int k = 0; k < length; ++k) {
      const int index = first + k;
      const Day& day = days_[index];
      switch (kinds_[i]) {
        case Kind::kOffice:
          OfficeDay(perno, index, day.friday || IsOfficialHoliday(day.month, day.day));
          break;
        case Kind::kShift:
          ShiftDay(perno, index, ShiftOf(index, OffsetOf(i)));
          break;
        case Kind::kHourly:
          if (!day.friday && !random_.Percent(5)) {
            const int begin = random_.Between(7 * 60, 10 * 60);
            AddIo(perno, index, begin, begin + random_.Between(5 * 60, 9 * 60), random_.Percent(3));
          }
          break;
      }
    }
  }

  // Web requests of a person for a day ("MM/DD" quoted): hourly with quoted times, whole-day
  // with NULL times; approved unless said otherwise, not yet transferred.
  void AskLeave(const std::string& perno, const std::string& date, const std::string& begin,
                const std::string& end, int type, const char* why, bool approved = true) {
    const bool daily = begin == "NULL";
    ask_absence_.Add({std::to_string(++web_page_), SqlQuoted(perno), date, begin, date, end,
                      std::to_string(type), std::string("N") + SqlQuoted(why), date,
                      daily ? "1" : "0", approved ? "1" : "0", "0"});
  }
  void AskMission(const std::string& perno, const std::string& date, const std::string& begin,
                  const std::string& end, int type, const char* why) {
    const bool daily = begin == "NULL";
    ask_mission_.Add({std::to_string(++web_page_), SqlQuoted(perno), date, begin, date, end,
                      std::to_string(type), std::string("N") + SqlQuoted(why), date, "NULL",
                      daily ? "N'تبریز'" : "N'بانک ملی'", daily ? "1" : "0", "1", "0"});
    // The hours of a whole-day mission, under the request's own sheet number.
    if (daily) {
      mission_hours_.Add(
          {std::to_string(web_page_), SqlQuoted(perno), date, "'08:00'", date, "'16:00'"});
    }
  }

  // An office day. The permissions behind the punches arrive two ways: entered by the clerk
  // (the permission tables), or, when the month is to arrive as punches, announced at the
  // terminal with a special card or key and filed on the web, for the schedule's transfers
  // to turn into permissions. The cards are on the punches either way. Choices about cards
  // and web requests draw on the punch generator, so the records stay as they were.
  void OfficeDay(const std::string& perno, int index, bool holiday) {
    const std::string date = SqlQuoted(Date(days_[index].month, days_[index].day));
    const bool punches = options_.records_as_punches;
    if (holiday) {
      if (random_.Percent(5)) AddIo(perno, index, 9 * 60, 13 * 60, false);
      return;
    }
    const int r = random_.Between(0, 99);
    if (r < 3) return;  // absent
    if (r < 6) {
      if (punches && r == 3) {
        // Filed on the web; now and then not approved yet, so it stays a request.
        AskLeave(perno, date, "NULL", "NULL", kDailyLeave, "سفر", !punch_random_.Percent(15));
        return;
      }
      daily_leave_.Add({Page(), SqlQuoted(perno), date, date, "N'مرخصی'", date,
                        std::to_string(r == 5 ? kSickLeave : kDailyLeave)});
      // Filed on the web as well for a day the clerk entered: noted as colliding and kept.
      if (punches && r == 4 && punch_random_.Percent(15)) {
        AskLeave(perno, date, "NULL", "NULL", kDailyLeave, "سفر");
      }
      return;
    }
    if (r < 8) {
      if (punches && r == 6) {
        AskMission(perno, date, "NULL", "NULL", kDailyMission, "بازدید");
        return;
      }
      daily_mission_.Add({Page(), SqlQuoted(perno), date, date, "N'ماموریت'", date,
                          std::to_string(kDailyMission)});
      return;
    }
    // Mostly on time; some late arrivals, some early departures, some extra work.
    int begin = random_.Between(7 * 60 + 30, 8 * 60 + 5);
    const int late = random_.Between(0, 99);
    if (late < 5) {
      begin = random_.Between(8 * 60 + 40, 9 * 60 + 30);
    } else if (late < 20) {
      begin = random_.Between(8 * 60 + 5, 8 * 60 + 40);
    }
    int end = random_.Between(16 * 60, 16 * 60 + 45);
    const int leave = random_.Between(0, 99);
    if (leave < 10) {
      end = random_.Between(15 * 60 + 20, 16 * 60);
    } else if (leave < 20) {
      end = random_.Between(16 * 60 + 45, 19 * 60 + 30);
    }
    const bool missing_exit = random_.Percent(3);
    const int split = random_.Between(0, 99);
    if (!missing_exit && split < 4 && begin < 10 * 60) {
      // Out on hourly leave 10:00-12:00: out with the leave card or key E1, back with the
      // own card. Now and then the clerk has entered the sheet already (a collision).
      const Card& card = punch_random_.Percent(50) ? kLeaveCard : kLeaveKey;
      if (!punches || punch_random_.Percent(10)) {
        hourly_leave_.Add({Page(), SqlQuoted(perno), date, "'10:00'", date, "'12:00'",
                           "N'کار شخصی'", "0", date, std::to_string(kHourlyLeave)});
      }
      AddIo(perno, index, begin, 10 * 60, false, kOrdinary, card);
      AddIo(perno, index, 12 * 60, end, false);
    } else if (!missing_exit && split < 6 && end > 15 * 60) {
      // Out on an hourly mission 13:00-15:00, out with the mission card or key F1.
      const Card& card = punch_random_.Percent(50) ? kMissionCard : kMissionKey;
      if (!punches) {
        hourly_mission_.Add({Page(), SqlQuoted(perno), date, "'13:00'", date, "'15:00'", "N'بانک'",
                             date, std::to_string(kHourlyMission)});
      }
      AddIo(perno, index, begin, 13 * 60, false, kOrdinary, card);
      AddIo(perno, index, 15 * 60, end, false);
    } else if (split < 7 && begin >= 8 * 60 + 5 && begin <= 8 * 60 + 40) {
      // The staff bus came late: in with the service-late card, which covers the late start.
      if (!punches) {
        service_late_.Add({Page(), SqlQuoted(perno), date, "'08:00'", date, SqlQuoted(Time(begin)),
                           "N'تاخیر سرویس'", date, "1", "0"});
      }
      AddIo(perno, index, begin, end, missing_exit, kServiceLateCard);
    } else {
      Card entry_card = kOrdinary, exit_card = kOrdinary;
      if (begin >= 8 * 60 + 5 && begin <= 8 * 60 + 40 && punch_random_.Percent(20)) {
        // The staff bus again: the clerk was not told, the service-late card says it.
        entry_card = kServiceLateCard;
        if (!punches) {
          service_late_.Add({Page(), SqlQuoted(perno), date, "'08:00'", date,
                             SqlQuoted(Time(begin)), "N'تاخیر سرویس'", date, "1", "0"});
        }
      }
      if (!missing_exit && leave < 10 && end < 16 * 60) {
        const int why = punch_random_.Between(0, 99);
        if (why < 25) {
          // Left early on hourly leave with key E1: the leave runs to the duty end.
          exit_card = kLeaveKey;
          if (!punches) {
            hourly_leave_.Add({Page(), SqlQuoted(perno), date, SqlQuoted(Time(end)), date,
                               "'16:00'", "N'کار شخصی'", "0", date, std::to_string(kHourlyLeave)});
          }
        } else if (why < 40) {
          // Left early for an hourly mission filed on the web.
          if (punches) {
            AskMission(perno, date, SqlQuoted(Time(end)), "'16:00'", kHourlyMission, "بانک");
          } else {
            hourly_mission_.Add({Page(), SqlQuoted(perno), date, SqlQuoted(Time(end)), date,
                                 "'16:00'", "N'بانک'", date, std::to_string(kHourlyMission)});
          }
        }
      } else if (late < 5 && punch_random_.Percent(30)) {
        // Came late after an hourly leave filed on the web.
        if (punches) {
          AskLeave(perno, date, "'08:00'", SqlQuoted(Time(begin)), kHourlyLeave, "پزشک");
        } else {
          hourly_leave_.Add({Page(), SqlQuoted(perno), date, "'08:00'", date,
                             SqlQuoted(Time(begin)), "N'پزشک'", "0", date,
                             std::to_string(kHourlyLeave)});
        }
      }
      AddIo(perno, index, begin, end, missing_exit, entry_card, exit_card);
    }
  }

  void ShiftDay(const std::string& perno, int index, int shift) {
    if (shift == kOff || random_.Percent(3)) return;
    int begin = 0, end = 0;
    switch (shift) {
      case kMorning:
        begin = random_.Between(5 * 60 + 45, 6 * 60 + 20);
        end = random_.Between(14 * 60, 14 * 60 + 30);
        break;
      case kEvening:
        begin = random_.Between(13 * 60 + 45, 14 * 60 + 20);
        end = random_.Between(22 * 60, 22 * 60 + 30);
        break;
      default:  // night, across midnight
        begin = random_.Between(21 * 60 + 45, 22 * 60 + 20);
        end = 1440 + random_.Between(6 * 60, 6 * 60 + 30);
        break;
    }
    AddIo(perno, index, begin, end, random_.Percent(3));
  }

  db::Connection& year_;
  const DemoOptions& options_;
  int month_;
  Random& random_;
  const std::vector<Kind>& kinds_;
  std::vector<Day> days_;
  BulkInsert punches_;
  Random punch_random_;
  db::Connection& base_;
  int punch_rec_ = 0;
  BulkInsert io_, hourly_leave_, daily_leave_, hourly_mission_, daily_mission_, extra_permit_,
      service_late_, ask_absence_, ask_mission_, mission_hours_;
  Counts counts_;
  int page_ = 0;
  int web_page_ = 0;
};

}  // namespace

void InstallShiftCalendarView(db::Connection& base, db::Connection& year,
                              const std::string& database_name) {
  const db::ResultSet found = base.Execute(
      "SELECT COUNT(*) FROM sysobjects WHERE id = object_id(N'[IncDate]') "
      "AND xtype IN (N'FN', N'IF', N'TF')");
  if (found.rows.empty() || found.rows[0][0].AsInteger() == 0) {
    for (const std::string& batch : db::DateFunctionBatches()) base.Execute(batch);
  }
  year.Execute(
      "IF EXISTS(SELECT * FROM sys.views WHERE name = 'V_GetCalItem')\n"
      " DROP VIEW [dbo].[V_GetCalItem] ");
  year.Execute(" CREATE VIEW [dbo].[V_GetCalItem]  AS " + db::CalItemViewSelect(database_name));
}

DemoSummary GenerateDemoOrganisation(const db::ConnectionSettings& server,
                                     const DemoOptions& given) {
  DemoOptions options = given;
  const std::string today = dates::JalaliToday();  // "YYYY/MM/DD"
  if (options.year.empty()) options.year = today.substr(0, 4);
  if (options.month == 0) options.month = std::stoi(today.substr(5, 2));
  if (options.persons < 5 || options.persons > kLastPerno - kFirstPerno + 1) {
    throw std::invalid_argument("the demo needs 5 to 8999 persons, not " +
                                std::to_string(options.persons));
  }
  if (options.month < 1 || options.month > 12) {
    throw std::invalid_argument("the demo month must be 1..12, not " +
                                std::to_string(options.month));
  }
  int year_number = 0;
  try {
    year_number = std::stoi(options.year);
  } catch (const std::exception&) {
    // not a number: refused just below with the year as given
  }
  if (options.year.size() != 4 || year_number < 1300 || year_number > 1499) {
    throw std::invalid_argument("the demo year must be a four-digit Jalali year, not '" +
                                options.year + "'");
  }

  db::ConnectionSettings base_settings = server;
  base_settings.database = options.database_name;
  db::ConnectionSettings year_settings = server;
  year_settings.database = options.database_name + "_" + options.year;
  auto base = db::Connect(base_settings);
  auto year = db::Connect(year_settings);

  Random random(options.seed);
  std::vector<Kind> kinds;
  WriteBase(*base, options, year_number, random, kinds);
  YearWriter writer(*base, *year, options, year_number, options.month, random, kinds);
  const Counts counts = writer.Write();
  InstallShiftCalendarView(*base, *year, options.database_name);

  DemoSummary summary;
  summary.year = options.year;
  summary.month = options.month;
  summary.persons = options.persons;
  summary.calendar_items = counts.calendar;
  summary.io_records = counts.io;
  summary.punches = counts.punches;
  summary.leaves = counts.leaves;
  summary.missions = counts.missions;
  summary.permissions = counts.permissions;
  summary.card_punches = counts.card_punches;
  summary.web_requests = counts.web_requests;
  return summary;
}

}  // namespace zel::engine::demo
