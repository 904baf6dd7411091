// TZelCalcUtils: the utility object every calculation component owns one of. It carries the
// owner's thread number and EnableLog flag and writes the calculation log (LogText); its
// static operations are the day-to-day Jalali "MM/DD" arithmetic with the calculation leap
// rule, minute arithmetic on time texts, small string helpers and the current date.
// Each thread uses its own instance; the static operations share no state.
#pragma once

#include <string>
#include <vector>

#include "dates/calc_date.h"
#include "dates/date_time.h"
#include "dates/date_utils.h"

namespace zel::dates {

enum TDateComparisonResult : std::uint8_t { crLesser = 0, crEqual = 1, crGreater = 2 };

class TZelCalcUtils {
 public:
  // ThreadId names the calculation log files: 0 for the service and managers, the worker's
  // position in its person list for workers.
  explicit TZelCalcUtils(int ThreadId = 0) : FThreadId(ThreadId) {}

  int ThreadId() const { return FThreadId; }
  bool EnableLog() const { return FEnableLog; }
  void SetEnableLog(bool Value) { FEnableLog = Value; }

  // Calculation log writer: appends AValue (stamped when LogTime) to
  // AFileName + "(YYYY-MM-DD)_T" + thread number + ".Log" in the log folder (the home folder
  // when Logs cannot be created). A line with IsEnableLog true is written only while
  // EnableLog is on; lines with IsEnableLog false always are. Never raises.
  void LogText(const std::string& AValue, const std::string& AFileName, bool LogTime = true,
               bool IsEnableLog = true) const;
  // The file name LogText writes to today.
  std::string LogFileNameOf(const std::string& AFileName) const;

  // ---- leap rule of the calculations ----
  // Years 1300..1406: leap when (year - 1375) is divisible by 4. Later years follow the
  // 33-year rule (the two agree on 1375..1406). Raises below 1300.
  static bool IsLLeapYear(int AYear_YYYY);

  // ---- time texts and minutes ----
  // Minutes of an HHH:NN amount (hours in characters 1-3, minutes in 5-6); blank gives 0;
  // non-digits raise EConvertError.
  static int Text2Time(const std::string& AText);
  // Minutes of an "HH:NN" text; blank gives 0.
  static int Text2Time2(const std::string& AText);
  // "-" when negative, hours (at least two digits) ":" minutes: -75 gives "-01:15".
  static std::string Time2Text2(int ATime);
  // Both non-zero: the smaller is taken from the larger and becomes 0.
  static void DecValue(int& AValue, int& BValue);
  static int Min(int A, int B) { return A < B ? A : B; }
  static int Max(int A, int B) { return A > B ? A : B; }
  // Absolute minutes between two moments of one year ("MM/DD", "HH:NN"); 0 when any input
  // is blank, a date is "/" or a time is ":".
  static int AmountDateTime(const std::string& ADate, const std::string& ATime,
                            const std::string& BDate, const std::string& BTime);
  // As AmountDateTime, and 0 unless every trimmed input has 5 characters.
  static int SubtractDateTime(const std::string& ADate, const std::string& ATime,
                              const std::string& BDate, const std::string& BTime);
  // A "YYYY/MM/DDHH:NN" moment moved by Delta minutes, across days, months and years.
  static std::string ChangeDateTime(const std::string& ADateTime, int Delta);

  // ---- Jalali "MM/DD" arithmetic ----
  static int Date2Day(const std::string& ADate);
  static std::string Day2Date(int ADay);
  static std::string DayToDate_MMDD(int ADay);
  static int DaysInBetween(const std::string& FromDate, const std::string& ToDate);
  static int DaysCountInBetweenWithYear(const std::string& FromDate_MMDD,
                                        const std::string& ToDate_MMDD, int FromYear_YYYY,
                                        int ToYear_YYYY);
  static int DaysOfYear(int AYear_YYYY);
  // Month length; CurrentYear (a year text) is read only for month 12. Raises
  // "Month should be in range [1..12]. (Month: %d)" for another month.
  static int DaysInMonthY(int Month, const std::string& CurrentYear);
  // The next / previous "MM/DD" inside the year CurrentYear; AYear is not used.
  static std::string IncDateH(const std::string& AYear, const std::string& ShortDate,
                              const std::string& CurrentYear);
  static std::string DecDateH(const std::string& AYear, const std::string& ShortDate,
                              const std::string& CurrentYear);
  static std::string LastDateOfYear_MMDD(int AYear_YYYY);
  static std::string LastDateOfYear_MMDD(bool IsLeapYear);
  static std::string LastDateOfYear_YYMMDD(int AYear_YYYY);
  static std::string LastDateOfYear_YYYYMMDD(int AYear_YYYY);
  static std::string FirstDateOfYear_YYMMDD(int AYear_YYYY);
  static std::string FirstDateOfYear_YYYYMMDD(int AYear_YYYY);
  static std::string FirstDateOfMonth_MMDD(int Month);
  static std::string LastDateOfMonth_MMDD(int Month, int Year_YYYY);
  // Every "MM/DD" from FromDate to ToDate (with "YYYY/" when AddYear and Year_YYYY > 0);
  // raises "Invalid input!" when FromDate sorts after ToDate.
  static std::vector<std::string> ListAllDatesInBetween(const std::string& FromDate_MMDD,
                                                        const std::string& ToDate_MMDD,
                                                        bool AddYear, int Year_YYYY);
  static std::vector<std::string> ListAllDatesInBetweenWithYear(const std::string& FromDate_MMDD,
                                                                const std::string& ToDate_MMDD,
                                                                int FromYear_YYYY, int ToYear_YYYY,
                                                                bool AddYear);
  static std::vector<int> ListDaysOfAllDatesInBetweenWithYear(const std::string& FromDate_MMDD,
                                                              const std::string& ToDate_MMDD,
                                                              int FromYear_YYYY, int ToYear_YYYY);
  static std::vector<int> ListMonthsOfAllDatesInBetweenWithYear(const std::string& FromDate_MMDD,
                                                                const std::string& ToDate_MMDD,
                                                                int FromYear_YYYY, int ToYear_YYYY);
  static std::vector<int> ListYearsOfAllDatesInBetweenWithYear(const std::string& FromDate_MMDD,
                                                               const std::string& ToDate_MMDD,
                                                               int FromYear_YYYY, int ToYear_YYYY);
  static TDateComparisonResult CompareDates(const std::string& Date1_MMDD,
                                            const std::string& Date2_MMDD, int Year1_YYYY,
                                            int Year2_YYYY);
  static bool CompareDates(const std::string& Date1_MMDD, const std::string& Date2_MMDD,
                           int Year1_YYYY, int Year2_YYYY,
                           TDateComparisonOperator ComparisonOperator);
  static TDateComparisonResult CompareDateTimes(const std::string& Date1_MMDD,
                                                const std::string& Time1_HHNN,
                                                const std::string& Date2_MMDD,
                                                const std::string& Time2_HHNN, int Year1_YYYY,
                                                int Year2_YYYY);
  static bool CompareDateTimes(const std::string& Date1_MMDD, const std::string& Time1_HHNN,
                               const std::string& Date2_MMDD, const std::string& Time2_HHNN,
                               int Year1_YYYY, int Year2_YYYY,
                               TDateComparisonOperator ComparisonOperator);
  static bool MatchComparisonResult(TDateComparisonOperator ComparisonOperator,
                                    TDateComparisonResult ComparisonResult);
  // Raises "FromDate is greater than ToDate! FromDate:%d/%s, ToDate:%d/%s, AllowEqual:%s".
  static void CheckDateRange(const std::string& FromDate_MMDD, const std::string& ToDate_MMDD,
                             int FromYear_YYYY, int ToYear_YYYY, bool AllowEqualDates);
  static bool DateInRange(const std::string& FromDate_MMDD, const std::string& ToDate_MMDD,
                          const std::string& Date_MMDD, int FromYear_YYYY, int ToYear_YYY,
                          int Year_YYYY);
  // Stepping one day at a time across years with the calculation leap rule. Raise
  // "N should not be negative" and "Date is out of year!".
  static void GetNDatesAfter(int Year_YYYY, const std::string& Date_MMDD, int N, int& Result_YYYY,
                             std::string& Result_MMDD);
  static void GetNDatesBefor(int Year_YYYY, const std::string& Date_MMDD, int N, int& Result_YYYY,
                             std::string& Result_MMDD);
  static void GetNDatesFrom(int Year_YYYY, const std::string& Date_MMDD, int N, int& Result_YYYY,
                            std::string& Result_MMDD);
  static void GetNextDate(int Year_YYYY, const std::string& Date_MMDD, int& Result_YYYY,
                          std::string& Result_MMDD);
  static void GetPrevDate(int Year_YYYY, const std::string& Date_MMDD, int& Result_YYYY,
                          std::string& Result_MMDD);

  // ---- current date and conversions ----
  static std::string Today_YYYYMMDD();
  static std::string Today_MMDD();
  // Jalali "YYYY/MM/DD" of a serial date value.
  static std::string ConciseDateStr(DateTime ADate);
  // Gregorian "YYYY/MM/DD" of a Jalali date by the calculation's own conversion.
  static std::string SolarToChristian(int Y, int M, int D);
  static DateTime SolarToChristianDate(int Y, int M, int D);
  static bool ChristianLeapYear(int Year);
  // ISO weekday (1 Monday ... 7 Sunday) of a Jalali "YYYY/MM/DD".
  static int DayOfWeek(const std::string& Date_YYYYMMDD);
  static TDate GetDateFromCalcUnit(int AMonth, int ADay);
  static std::string GetDateStrFromCalcUnit(const TDate& CDate);

  // ---- other ----
  // ADatabaseName + "_" + year: the per-year attendance database.
  static std::string DataBaseNameOfYearYYYY(const std::string& ADatabaseName, int Year_YYYY);
  static std::string IIF(bool Exp, const std::string& TStr, const std::string& FStr) {
    return Exp ? TStr : FStr;
  }
  static std::string SRepeat(char C, int Len);
  // S left-padded with AChar to Width characters; a longer S is returned unchanged.
  static std::string SLPadC(const std::string& S, int Width, char AChar);
  // The machine's network name.
  static std::string GetHostName();

 private:
  int FThreadId = 0;
  bool FEnableLog = false;
};

}  // namespace zel::dates
