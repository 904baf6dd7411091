// Date and time texts of fixed width ("YYYY/MM/DD", "MM/DD", "HH:NN", ...): the calendar
// systems and their valid years, two-digit year expansion, pattern checks, field extraction,
// parsing, formatting and year lists. Stateless class-level operations; any thread may call
// them. Every failure is an exception; nothing is caught here.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zel::dates {

enum TCalendarSystem : std::uint8_t { csJalali = 0, csGregorian = 1 };

// "Jalali", "Gregorian", or the number for any other value.
std::string CalendarSystemName(TCalendarSystem calendar);
// Raises std::runtime_error "Unsupported calendar system! (%d)" for a value other than the two.
void CheckCalendarSystem(TCalendarSystem calendar);

// Raised by the year checks and conversions of TZELYearConversion.
class EYearValidationException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TZELYearConversion {
 public:
  TZELYearConversion() = delete;

  static bool YearIsYYYY(int Year_YYYY);  // 1000..9999
  static bool YearIsInValidRange(TCalendarSystem Calendar, int Year_YYYY);
  // Lower bound of the calendar's valid years when Min, else the upper bound
  // (Jalali 1206..1498, Gregorian 1899..9999).
  static int GetValidRange_YYYY(TCalendarSystem Calendar, bool Min);
  static void CheckYearRange(TCalendarSystem Calendar, int Year_YYYY);
  static void CheckYearYYYY(int Year_YYYY);
  // Two- or three-digit year to four digits: 0-29 next century, 30-99 this one, 100-129 the
  // three-digit form of the next; Jalali base 1300, Gregorian 1900. Raises
  // EYearValidationException for negative, four-digit or other values.
  static int ConvertYear_YYYY(TCalendarSystem Calendar, int Year_YY);
  // Years 0-15 and 81-99 are taken as Jalali, 16-80 as Gregorian.
  static int ConvertYear_YYYY_UnknownSystem(int Year_YY);
};

class TZELDateParser {
 public:
  TZELDateParser() = delete;

  enum TDateFormat : std::uint8_t {
    dfDD = 0,
    dfMM,
    dfYY,
    dfYYYY,
    dfMMDD,
    dfYYMMDD,
    dfYYYYMMDD,
    dfNN,
    dfHH,
    dfHHNN,
    dfHHNNSS,
  };

  static const char* DisplayPattern(TDateFormat Format);  // "MM/DD", ...

  // Checks.
  static bool DateFormatMatches(const std::string& Str, TDateFormat Format);
  // Raises "Date format does not match! ExpectedPattern: \"%s\", Input: \"%s\"".
  static void CheckDateFormat(const std::string& Str, TDateFormat Format);
  // Raises "Year should be in YYYY format. (Year_YYYY: \"%d\")" below 1300; no upper bound.
  static void CheckYear_IntYYYY(int Year_YYYY);

  // Extraction from checked texts.
  static std::string GetDayOfDate_DD(const std::string& Date_MMDD);
  static int GetDayOfDate(const std::string& Date_MMDD);
  static std::string GetMonthOfDate_MM(const std::string& Date_MMDD);
  static std::string GetMonthOfDate_MM(const std::string& Date_YYYYMMDD, int);
  static int GetMonthOfDate(const std::string& Date_MMDD);
  static int GetMonthOfDate(const std::string& Date_YYYYMMDD, int);
  static std::string GetMonthAndDay_MMDD(const std::string& Date_YYMMDD);
  static std::string GetMonthAndDay_MMDD(const std::string& Date_YYYYMMDD, int);
  static std::string GetYearOfDate_YY(const std::string& Date_YYMMDD);
  static int GetYearOfDate_YY_Int(const std::string& Date_YYMMDD);
  static std::string GetYearOfDate_YYYY(TCalendarSystem Calendar, const std::string& Date_YYMMDD);
  static std::string GetYearOfDate_YYYY(const std::string& Date_YYYYMMDD, int);
  static int GetYearOfDate_YYYY_Int(TCalendarSystem Calendar, const std::string& Date_YYMMDD);
  static int GetYearOfDate_YYYY_Int(const std::string& Date_YYYYMMDD, int);
  static int GetHourOfTime_HHNN(const std::string& Time_HHNN);
  static int GetMinuteOfTime_HHNN(const std::string& Time_HHNN);
  static int GetHourOfTime_HHNNSS(const std::string& Time_HHNNSS);
  static int GetMinuteOfTime_HHNNSS(const std::string& Time_HHNNSS);
  static int GetSecondOfTime_HHNNSS(const std::string& Time_HHNNSS);

  // Parsing into integers.
  static void Parse_HHNN(const std::string& Time_HHNN, int& Houre, int& Minute);
  static void Parse_HHNNSS(const std::string& Time_HHNNSS, int& Houre, int& Minute, int& Second);
  static void Parse_MMDD(const std::string& Date_MMDD, int& Month, int& Day);
  // The two-digit year expanded to four digits.
  static void Parse_YYMMDD(TCalendarSystem Calendar, const std::string& Date_YYMMDD, int& YearYYYY,
                           int& Month, int& Day);
  // The expanded year, range-checked, modulo 100.
  static void Parse_YYMMDD(TCalendarSystem Calendar, const std::string& Date_YYMMDD,
                           std::uint16_t& YearYY, int& Month, int& Day);
  // Only the form is checked; the year is not range-checked and Calendar is not used.
  static void Parse_YYYYMMDD(TCalendarSystem Calendar, const std::string& Date_YYYYMMDD,
                             int& YearYYYY, int& Month, int& Day);

  // Formatting; each result is checked against its form before it is returned.
  static std::string Format_MMDD(int Month, int Day);
  static std::string Format_YYMMDD(TCalendarSystem Calendar, int Year_YYYY, int Month, int Day);
  static std::string Format_YYYYMMDD(int Year_YYYY, int Month, int Day);

  // Year conversion and joining.
  static std::string ConvertYear_YY(TCalendarSystem Calendar, int Year_YYYY);
  static std::string ConvertYear_YY(TCalendarSystem Calendar, const std::string& Year_YYYY);
  static int ConvertYear_YY_Int(TCalendarSystem Calendar, int Year_YYYY);
  static std::string ConvertYearDef_YY(TCalendarSystem Calendar, const std::string& Year_YYYY,
                                       const std::string& Default);
  static std::string ConvertYearDef_YYYY(TCalendarSystem Calendar, const std::string& Year_YYYY,
                                         const std::string& Default);
  static std::string ConvertYear_YYYY(TCalendarSystem Calendar, int Year_YYYY);
  static int ConvertYear_YYYY_Int(TCalendarSystem Calendar, const std::string& Year_YYYY);
  static std::string ConvertYear_YYYYMMDD(TCalendarSystem Calendar, const std::string& Date_YYMMDD);
  static std::string AddYearToDate_YYMMDD(TCalendarSystem Calendar, const std::string& Year_YYYY,
                                          const std::string& Date_MMDD);
  // Joins a two-digit year text without any check.
  static std::string AddYearToDate_YYMMDD(TCalendarSystem Calendar, const std::string& Year_YY,
                                          const std::string& Date_MMDD, int);
  static std::string AddYearToDate_YYMMDD(TCalendarSystem Calendar, int Year_YYYY,
                                          const std::string& Date_MMDD);
  // Checks the year text's form and range; the joined result is not re-checked.
  static std::string AddYearToDate_YYYYMMDD(TCalendarSystem Calendar, const std::string& Year_YYYY,
                                            const std::string& Date_MMDD);
  // Checks the year's range and the joined "YYYY/MM/DD" result.
  static std::string AddYearToDate_YYYYMMDD(TCalendarSystem Calendar, int Year_YYYY,
                                            const std::string& Date_MMDD);

  // Year lists: concatenated years without separators; index 0 is the first year.
  static int GetYearListYearsCount(const std::string& YYList);
  static int GetYearListYearsCount_YYYY(const std::string& YYYYList);
  static int GetYearListMaxIndex(const std::string& YYList);
  static int GetYearListMaxIndex_YYYY(const std::string& YYYYList);
  static std::string GetYearOfYearList_YY(const std::string& YYList, int Index);
  static std::string GetYearOfYearList_YYYY(const std::string& YYYYList, int Index);
  static std::string GetYearListFirstYear_YY(const std::string& YYList);
  static std::string GetYearListFirstYear_YYYY(const std::string& YYYYList);
  static std::string GetYearListLastYear_YY(const std::string& YYList);
  static std::string GetYearListLastYear_YYYY(const std::string& YYYYList);
  // Index of the Jalali year in a two-digit list, or -1; the year must be in the Jalali range.
  static int YearExistInYearList(const std::string& YYList, int YYYY);
};

}  // namespace zel::dates
