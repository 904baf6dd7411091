#include "dates/date_parser.h"

#include <string_view>

#include "dates/date_time.h"
#include "util/text.h"

namespace zel::dates {
namespace {

struct FormatInfo {
  const char* pattern;
  const char* display;
};

constexpr FormatInfo kFormats[] = {
    {"[0-3][0-9]", "DD"},
    {"[0-1][0-9]", "MM"},
    {"[0-9][0-9]", "YY"},
    {"[1-9][0-9][0-9][0-9]", "YYYY"},
    {"[0-1][0-9]/[0-3][0-9]", "MM/DD"},
    {"[0-9][0-9]/[0-1][0-9]/[0-3][0-9]", "YY/MM/DD"},
    {"[1-9][0-9][0-9][0-9]/[0-1][0-9]/[0-3][0-9]", "YYYY/MM/DD"},
    {"[0-6][0-9]", "NN"},
    {"[0-2][0-9]", "HH"},
    {"[0-2][0-9]:[0-6][0-9]", "HH:NN"},
    {"[0-2][0-9]:[0-6][0-9]:[0-6][0-9]", "HH:NN:SS"},
};

constexpr int kValidYears[2][2] = {{1206, 1498}, {1899, 9999}};

// Matches text against a pattern where "[a-b]" is one character in the range and any other
// pattern character matches itself; the lengths must agree exactly.
bool MatchesPattern(std::string_view text, std::string_view pattern) {
  size_t t = 0;
  size_t p = 0;
  while (p < pattern.size()) {
    if (t >= text.size()) return false;
    const char c = text[t];
    if (pattern[p] == '[') {
      if (p + 4 >= pattern.size()) return false;
      if (c < pattern[p + 1] || c > pattern[p + 3]) return false;
      p += 5;
    } else {
      if (c != pattern[p]) return false;
      ++p;
    }
    ++t;
  }
  return t == text.size();
}

int Base(TCalendarSystem calendar) {
  CheckCalendarSystem(calendar);
  return calendar == csJalali ? 1300 : 1900;
}

std::string Quoted(long long value) { return "\"" + std::to_string(value) + "\""; }

}  // namespace

std::string CalendarSystemName(TCalendarSystem calendar) {
  switch (calendar) {
    case csJalali:
      return "Jalali";
    case csGregorian:
      return "Gregorian";
  }
  return std::to_string(static_cast<int>(calendar));
}

void CheckCalendarSystem(TCalendarSystem calendar) {
  if (calendar != csJalali && calendar != csGregorian) {
    throw std::runtime_error("Unsupported calendar system! (" +
                             std::to_string(static_cast<int>(calendar)) + ")");
  }
}

// ---- TZELYearConversion ----

bool TZELYearConversion::YearIsYYYY(int Year_YYYY) {
  return Year_YYYY >= 1000 && Year_YYYY <= 9999;
}

bool TZELYearConversion::YearIsInValidRange(TCalendarSystem Calendar, int Year_YYYY) {
  return Year_YYYY >= GetValidRange_YYYY(Calendar, true) &&
         Year_YYYY <= GetValidRange_YYYY(Calendar, false);
}

int TZELYearConversion::GetValidRange_YYYY(TCalendarSystem Calendar, bool Min) {
  CheckCalendarSystem(Calendar);
  return kValidYears[Calendar][Min ? 0 : 1];
}

void TZELYearConversion::CheckYearRange(TCalendarSystem Calendar, int Year_YYYY) {
  if (!YearIsInValidRange(Calendar, Year_YYYY)) {
    throw EYearValidationException("Year should be in YYYY format and in range [" +
                                   std::to_string(GetValidRange_YYYY(Calendar, true)) + ".." +
                                   std::to_string(GetValidRange_YYYY(Calendar, false)) +
                                   "]. (Year_YYYY: " + Quoted(Year_YYYY) + ")");
  }
}

void TZELYearConversion::CheckYearYYYY(int Year_YYYY) {
  if (!YearIsYYYY(Year_YYYY)) {
    throw EYearValidationException(
        "Year should be in YYYY format. (Year_YYYY: " + Quoted(Year_YYYY) + ")");
  }
}

int TZELYearConversion::ConvertYear_YYYY(TCalendarSystem Calendar, int Year_YY) {
  if (Year_YY < 0) {
    throw EYearValidationException("Year can not be negative! " + CalendarSystemName(Calendar) +
                                   ": " + std::to_string(Year_YY));
  }
  const int base = Base(Calendar);
  if (Year_YY >= 1000) {
    throw EYearValidationException("Year is already 4-digited! " + CalendarSystemName(Calendar) +
                                   ": " + std::to_string(Year_YY));
  }
  int result = 0;
  if (Year_YY <= 29) {
    result = Year_YY + base + 100;
  } else if (Year_YY <= 129) {
    result = Year_YY + base;
  } else {
    throw EYearValidationException("Unexpected year value! " + CalendarSystemName(Calendar) + ": " +
                                   std::to_string(Year_YY));
  }
  CheckYearRange(Calendar, result);
  return result;
}

int TZELYearConversion::ConvertYear_YYYY_UnknownSystem(int Year_YY) {
  if (Year_YY < 0 || Year_YY > 99) {
    throw EYearValidationException("Unexpected year value! ([0..99]) d");
  }
  const TCalendarSystem calendar = (Year_YY <= 15 || Year_YY >= 81) ? csJalali : csGregorian;
  return ConvertYear_YYYY(calendar, Year_YY);
}

// ---- TZELDateParser: checks ----

const char* TZELDateParser::DisplayPattern(TDateFormat Format) {
  if (Format > dfHHNNSS) return "";
  return kFormats[Format].display;
}

bool TZELDateParser::DateFormatMatches(const std::string& Str, TDateFormat Format) {
  if (Str.empty() || Format > dfHHNNSS) return false;
  return MatchesPattern(Str, kFormats[Format].pattern);
}

void TZELDateParser::CheckDateFormat(const std::string& Str, TDateFormat Format) {
  if (!DateFormatMatches(Str, Format)) {
    throw std::runtime_error(std::string("Date format does not match! ExpectedPattern: \"") +
                             DisplayPattern(Format) + "\", Input: \"" + Str + "\"");
  }
}

void TZELDateParser::CheckYear_IntYYYY(int Year_YYYY) {
  if (Year_YYYY < 1300) {
    throw std::runtime_error("Year should be in YYYY format. (Year_YYYY: " + Quoted(Year_YYYY) +
                             ")");
  }
}

// ---- extraction ----

namespace {
std::string Checked(const std::string& text, TZELDateParser::TDateFormat format, int index,
                    int count) {
  TZELDateParser::CheckDateFormat(text, format);
  return Copy(text, index, count);
}
int CheckedInt(const std::string& text, TZELDateParser::TDateFormat format, int index, int count) {
  return StrToInt(Checked(text, format, index, count));
}
}  // namespace

std::string TZELDateParser::GetDayOfDate_DD(const std::string& Date_MMDD) {
  return Checked(Date_MMDD, dfMMDD, 4, 2);
}
int TZELDateParser::GetDayOfDate(const std::string& Date_MMDD) {
  return CheckedInt(Date_MMDD, dfMMDD, 4, 2);
}
std::string TZELDateParser::GetMonthOfDate_MM(const std::string& Date_MMDD) {
  return Checked(Date_MMDD, dfMMDD, 1, 2);
}
std::string TZELDateParser::GetMonthOfDate_MM(const std::string& Date_YYYYMMDD, int) {
  return Checked(Date_YYYYMMDD, dfYYYYMMDD, 6, 2);
}
int TZELDateParser::GetMonthOfDate(const std::string& Date_MMDD) {
  return CheckedInt(Date_MMDD, dfMMDD, 1, 2);
}
int TZELDateParser::GetMonthOfDate(const std::string& Date_YYYYMMDD, int) {
  return CheckedInt(Date_YYYYMMDD, dfYYYYMMDD, 6, 2);
}
std::string TZELDateParser::GetMonthAndDay_MMDD(const std::string& Date_YYMMDD) {
  return Checked(Date_YYMMDD, dfYYMMDD, 4, 5);
}
std::string TZELDateParser::GetMonthAndDay_MMDD(const std::string& Date_YYYYMMDD, int) {
  return Checked(Date_YYYYMMDD, dfYYYYMMDD, 6, 5);
}
std::string TZELDateParser::GetYearOfDate_YY(const std::string& Date_YYMMDD) {
  return Checked(Date_YYMMDD, dfYYMMDD, 1, 2);
}
int TZELDateParser::GetYearOfDate_YY_Int(const std::string& Date_YYMMDD) {
  return CheckedInt(Date_YYMMDD, dfYYMMDD, 1, 2);
}
std::string TZELDateParser::GetYearOfDate_YYYY(TCalendarSystem Calendar,
                                               const std::string& Date_YYMMDD) {
  return std::to_string(GetYearOfDate_YYYY_Int(Calendar, Date_YYMMDD));
}
std::string TZELDateParser::GetYearOfDate_YYYY(const std::string& Date_YYYYMMDD, int) {
  return Checked(Date_YYYYMMDD, dfYYYYMMDD, 1, 4);
}
int TZELDateParser::GetYearOfDate_YYYY_Int(TCalendarSystem Calendar,
                                           const std::string& Date_YYMMDD) {
  return TZELYearConversion::ConvertYear_YYYY(Calendar, GetYearOfDate_YY_Int(Date_YYMMDD));
}
int TZELDateParser::GetYearOfDate_YYYY_Int(const std::string& Date_YYYYMMDD, int) {
  return CheckedInt(Date_YYYYMMDD, dfYYYYMMDD, 1, 4);
}
int TZELDateParser::GetHourOfTime_HHNN(const std::string& Time_HHNN) {
  return CheckedInt(Time_HHNN, dfHHNN, 1, 2);
}
int TZELDateParser::GetMinuteOfTime_HHNN(const std::string& Time_HHNN) {
  return CheckedInt(Time_HHNN, dfHHNN, 4, 2);
}
int TZELDateParser::GetHourOfTime_HHNNSS(const std::string& Time_HHNNSS) {
  return CheckedInt(Time_HHNNSS, dfHHNNSS, 1, 2);
}
int TZELDateParser::GetMinuteOfTime_HHNNSS(const std::string& Time_HHNNSS) {
  return CheckedInt(Time_HHNNSS, dfHHNNSS, 4, 2);
}
int TZELDateParser::GetSecondOfTime_HHNNSS(const std::string& Time_HHNNSS) {
  return CheckedInt(Time_HHNNSS, dfHHNNSS, 7, 2);
}

// ---- parsing ----

void TZELDateParser::Parse_HHNN(const std::string& Time_HHNN, int& Houre, int& Minute) {
  CheckDateFormat(Time_HHNN, dfHHNN);
  Houre = StrToInt(Copy(Time_HHNN, 1, 2));
  Minute = StrToInt(Copy(Time_HHNN, 4, 2));
}

void TZELDateParser::Parse_HHNNSS(const std::string& Time_HHNNSS, int& Houre, int& Minute,
                                  int& Second) {
  CheckDateFormat(Time_HHNNSS, dfHHNNSS);
  Houre = StrToInt(Copy(Time_HHNNSS, 1, 2));
  Minute = StrToInt(Copy(Time_HHNNSS, 4, 2));
  Second = StrToInt(Copy(Time_HHNNSS, 7, 2));
}

void TZELDateParser::Parse_MMDD(const std::string& Date_MMDD, int& Month, int& Day) {
  CheckDateFormat(Date_MMDD, dfMMDD);
  Month = StrToInt(Copy(Date_MMDD, 1, 2));
  Day = StrToInt(Copy(Date_MMDD, 4, 2));
}

void TZELDateParser::Parse_YYMMDD(TCalendarSystem Calendar, const std::string& Date_YYMMDD,
                                  int& YearYYYY, int& Month, int& Day) {
  CheckDateFormat(Date_YYMMDD, dfYYMMDD);
  YearYYYY = TZELYearConversion::ConvertYear_YYYY(Calendar, StrToInt(Copy(Date_YYMMDD, 1, 2)));
  Month = StrToInt(Copy(Date_YYMMDD, 4, 2));
  Day = StrToInt(Copy(Date_YYMMDD, 7, 2));
}

void TZELDateParser::Parse_YYMMDD(TCalendarSystem Calendar, const std::string& Date_YYMMDD,
                                  std::uint16_t& YearYY, int& Month, int& Day) {
  int year = 0;
  Parse_YYMMDD(Calendar, Date_YYMMDD, year, Month, Day);
  YearYY = static_cast<std::uint16_t>(ConvertYear_YY_Int(Calendar, year));
}

void TZELDateParser::Parse_YYYYMMDD(TCalendarSystem, const std::string& Date_YYYYMMDD,
                                    int& YearYYYY, int& Month, int& Day) {
  CheckDateFormat(Date_YYYYMMDD, dfYYYYMMDD);
  YearYYYY = StrToInt(Copy(Date_YYYYMMDD, 1, 4));
  Month = StrToInt(Copy(Date_YYYYMMDD, 6, 2));
  Day = StrToInt(Copy(Date_YYYYMMDD, 9, 2));
}

// ---- formatting ----

std::string TZELDateParser::Format_MMDD(int Month, int Day) {
  std::string result = PadNumber(Month, 2) + "/" + PadNumber(Day, 2);
  CheckDateFormat(result, dfMMDD);
  return result;
}

std::string TZELDateParser::Format_YYMMDD(TCalendarSystem Calendar, int Year_YYYY, int Month,
                                          int Day) {
  std::string result =
      ConvertYear_YY(Calendar, Year_YYYY) + "/" + PadNumber(Month, 2) + "/" + PadNumber(Day, 2);
  CheckDateFormat(result, dfYYMMDD);
  return result;
}

std::string TZELDateParser::Format_YYYYMMDD(int Year_YYYY, int Month, int Day) {
  std::string result =
      std::to_string(Year_YYYY) + "/" + PadNumber(Month, 2) + "/" + PadNumber(Day, 2);
  CheckDateFormat(result, dfYYYYMMDD);
  return result;
}

// ---- year conversion and joining ----

std::string TZELDateParser::ConvertYear_YY(TCalendarSystem Calendar, int Year_YYYY) {
  TZELYearConversion::CheckYearRange(Calendar, Year_YYYY);
  return Copy(std::to_string(Year_YYYY), 3, 2);
}

std::string TZELDateParser::ConvertYear_YY(TCalendarSystem, const std::string& Year_YYYY) {
  CheckDateFormat(Year_YYYY, dfYYYY);
  return Copy(Year_YYYY, 3, 2);
}

int TZELDateParser::ConvertYear_YY_Int(TCalendarSystem Calendar, int Year_YYYY) {
  TZELYearConversion::CheckYearRange(Calendar, Year_YYYY);
  return Year_YYYY % 100;
}

std::string TZELDateParser::ConvertYearDef_YY(TCalendarSystem, const std::string& Year_YYYY,
                                              const std::string& Default) {
  return DateFormatMatches(Year_YYYY, dfYYYY) ? Copy(Year_YYYY, 3, 2) : Default;
}

std::string TZELDateParser::ConvertYearDef_YYYY(TCalendarSystem, const std::string& Year_YYYY,
                                                const std::string& Default) {
  return DateFormatMatches(Year_YYYY, dfYYYY) ? Year_YYYY : Default;
}

std::string TZELDateParser::ConvertYear_YYYY(TCalendarSystem Calendar, int Year_YYYY) {
  TZELYearConversion::CheckYearRange(Calendar, Year_YYYY);
  return std::to_string(Year_YYYY);
}

int TZELDateParser::ConvertYear_YYYY_Int(TCalendarSystem Calendar, const std::string& Year_YYYY) {
  CheckDateFormat(Year_YYYY, dfYYYY);
  const int year = StrToInt(Year_YYYY);
  TZELYearConversion::CheckYearRange(Calendar, year);
  return year;
}

std::string TZELDateParser::ConvertYear_YYYYMMDD(TCalendarSystem Calendar,
                                                 const std::string& Date_YYMMDD) {
  int year = 0;
  int month = 0;
  int day = 0;
  Parse_YYMMDD(Calendar, Date_YYMMDD, year, month, day);
  return Format_YYYYMMDD(year, month, day);
}

std::string TZELDateParser::AddYearToDate_YYMMDD(TCalendarSystem Calendar,
                                                 const std::string& Year_YYYY,
                                                 const std::string& Date_MMDD) {
  return ConvertYear_YY(Calendar, Year_YYYY) + "/" + Date_MMDD;
}

std::string TZELDateParser::AddYearToDate_YYMMDD(TCalendarSystem, const std::string& Year_YY,
                                                 const std::string& Date_MMDD, int) {
  return Year_YY + "/" + Date_MMDD;
}

std::string TZELDateParser::AddYearToDate_YYMMDD(TCalendarSystem Calendar, int Year_YYYY,
                                                 const std::string& Date_MMDD) {
  return ConvertYear_YY(Calendar, Year_YYYY) + "/" + Date_MMDD;
}

std::string TZELDateParser::AddYearToDate_YYYYMMDD(TCalendarSystem Calendar,
                                                   const std::string& Year_YYYY,
                                                   const std::string& Date_MMDD) {
  ConvertYear_YYYY_Int(Calendar, Year_YYYY);
  return Year_YYYY + "/" + Date_MMDD;
}

std::string TZELDateParser::AddYearToDate_YYYYMMDD(TCalendarSystem Calendar, int Year_YYYY,
                                                   const std::string& Date_MMDD) {
  std::string result = ConvertYear_YYYY(Calendar, Year_YYYY) + "/" + Date_MMDD;
  CheckDateFormat(result, dfYYYYMMDD);
  return result;
}

// ---- year lists ----

int TZELDateParser::GetYearListYearsCount(const std::string& YYList) {
  return static_cast<int>(util::TrimControls(YYList).size() / 2);
}
int TZELDateParser::GetYearListYearsCount_YYYY(const std::string& YYYYList) {
  return static_cast<int>(util::TrimControls(YYYYList).size() / 4);
}
int TZELDateParser::GetYearListMaxIndex(const std::string& YYList) {
  return GetYearListYearsCount(YYList) - 1;
}
int TZELDateParser::GetYearListMaxIndex_YYYY(const std::string& YYYYList) {
  return GetYearListYearsCount_YYYY(YYYYList) - 1;
}
std::string TZELDateParser::GetYearOfYearList_YY(const std::string& YYList, int Index) {
  return Copy(YYList, Index * 2 + 1, 2);
}
std::string TZELDateParser::GetYearOfYearList_YYYY(const std::string& YYYYList, int Index) {
  return Copy(YYYYList, Index * 4 + 1, 4);
}
std::string TZELDateParser::GetYearListFirstYear_YY(const std::string& YYList) {
  return GetYearOfYearList_YY(YYList, 0);
}
std::string TZELDateParser::GetYearListFirstYear_YYYY(const std::string& YYYYList) {
  return GetYearOfYearList_YYYY(YYYYList, 0);
}
std::string TZELDateParser::GetYearListLastYear_YY(const std::string& YYList) {
  return GetYearOfYearList_YY(YYList, GetYearListMaxIndex(YYList));
}
std::string TZELDateParser::GetYearListLastYear_YYYY(const std::string& YYYYList) {
  return GetYearOfYearList_YYYY(YYYYList, GetYearListMaxIndex_YYYY(YYYYList));
}

int TZELDateParser::YearExistInYearList(const std::string& YYList, int YYYY) {
  TZELYearConversion::CheckYearRange(csJalali, YYYY);
  const std::string yy = Copy(std::to_string(YYYY), 3, 2);
  const int count = GetYearListYearsCount(YYList);
  for (int i = 0; i < count; ++i) {
    if (GetYearOfYearList_YY(YYList, i) == yy) return i;
  }
  return -1;
}

}  // namespace zel::dates
