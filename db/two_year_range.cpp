// Year databases and two-year range queries.
#include "db/two_year_range.h"

#include <cctype>
#include <stdexcept>
#include <vector>

#include "dates/date_parser.h"
#include "dates/zel_calc_utils.h"
#include "util/sql_text.h"

namespace zel::db {
namespace {

using dates::TZELDateParser;

// Replaces every occurrence of `from` (letter case ignored) by `to`; inserted text is not
// scanned again.
std::string ReplaceAllNoCase(const std::string& text, const std::string& from,
                             const std::string& to) {
  if (from.empty()) return text;
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  const std::string hay = lower(text);
  const std::string needle = lower(from);
  std::string out;
  size_t pos = 0;
  for (;;) {
    const size_t hit = hay.find(needle, pos);
    if (hit == std::string::npos) break;
    out.append(text, pos, hit - pos);
    out += to;
    pos = hit + from.size();
  }
  out.append(text, pos, std::string::npos);
  return out;
}

using util::SqlQuoted;

std::string FillTemplate(const std::string& query, const std::string& database,
                         const std::string& criteria, const std::string& year,
                         const char* is_other_year) {
  std::string s = ReplaceAllNoCase(query, "$DBName$", database);
  s = ReplaceAllNoCase(s, "$DateCriteria$", criteria);
  const std::string yy =
      TZELDateParser::DateFormatMatches(year, TZELDateParser::dfYYYY) ? year : "Unknown";
  s = ReplaceAllNoCase(s, "$YY$", yy);
  s = ReplaceAllNoCase(s, "$YYYY$", year);
  return ReplaceAllNoCase(s, "$IsOtherYear$", is_other_year);
}

}  // namespace

TwoYearOffsets YearOffsetsOf(T2YearRangeState state) {
  switch (state) {
    case T2YearRangeState::rsNormal:
      return {0, 0, 0};
    case T2YearRangeState::rsPrevToCurrentYear:
      return {-1, 0, -1};
    case T2YearRangeState::rsCurrentToNextYear:
      return {0, 1, 1};
  }
  throw std::runtime_error("Range state is unknown!");
}

std::string DataBaseNameOfYearYYYY(const std::string& ADatabaseName, int Year_YYYY) {
  return dates::TZelCalcUtils::DataBaseNameOfYearYYYY(ADatabaseName, Year_YYYY);
}

bool T2YearRangeUtils::GetPeriodRangeState(int APeriod, const std::string& FromDate_MMDD,
                                           const std::string& ToDate_MMDD,
                                           T2YearRangeState& RangeState) {
  if (FromDate_MMDD <= ToDate_MMDD) {
    RangeState = T2YearRangeState::rsNormal;
  } else if (APeriod == 1) {
    RangeState = T2YearRangeState::rsPrevToCurrentYear;
  } else if (APeriod == 12) {
    RangeState = T2YearRangeState::rsCurrentToNextYear;
  } else {
    throw std::runtime_error("Range state is unknown!");
  }
  return true;
}

T2YearRangeParams T2YearRangeUtils::Get2YearPeriodParams(
    int APeriod, const std::string& FromDate_MMDD, const std::string& ToDate_MMDD,
    int CurrentYear_YYYY, const std::string& MainDatabaseName,
    const std::string& OverrideCurrentYearDBName, const std::string& OverridePrevYearDBName,
    const std::string& OverrideNextYearDBName) {
  T2YearRangeParams params;
  params.Reset();
  T2YearRangeState state = T2YearRangeState::rsNormal;
  GetPeriodRangeState(APeriod, FromDate_MMDD, ToDate_MMDD, state);
  params.Valid = true;
  params.RangeState = state;
  params.FromDate_MMDD = FromDate_MMDD;
  params.ToDate_MMDD = ToDate_MMDD;
  params.CurrentYear_YYYY = CurrentYear_YYYY;
  params.MainDatabaseName = MainDatabaseName;
  params.OverrideCurrentYearDBName = OverrideCurrentYearDBName;
  params.OverridePrevYearDBName = OverridePrevYearDBName;
  params.OverrideNextYearDBName = OverrideNextYearDBName;

  // Start and end must lie in two consecutive months.
  const TwoYearOffsets offsets = YearOffsetsOf(state);
  const int from_year = CurrentYear_YYYY + offsets.FromYear;
  const int to_year = CurrentYear_YYYY + offsets.ToYear;
  const int from_month = TZELDateParser::GetMonthOfDate(FromDate_MMDD);
  const int to_month = TZELDateParser::GetMonthOfDate(ToDate_MMDD);
  const bool consecutive = (from_year == to_year && to_month == from_month + 1) ||
                           (to_year == from_year + 1 && from_month == 12 && to_month == 1);
  if (!consecutive) throw std::runtime_error("روز شروع و پایان دوره باید در دو ماه متوالی باشد.");
  return params;
}

std::string T2YearRangeUtils::GenerateTwoYearedQueryString(
    const std::string& QueryString, const std::string& DateFieldName,
    const std::string& FromDate_MMDD, const std::string& ToDate_MMDD,
    const std::string& FromYear_YYYY, const std::string& ToYear_YYYY,
    const std::string& CurrentYearDatabaseName, const std::string& OtherYearDatabaseName,
    T2YearRangeState RangeState, const std::string& FinalOrderBy) {
  const std::string& d = DateFieldName;
  const std::string from = SqlQuoted(FromDate_MMDD);
  const std::string to = SqlQuoted(ToDate_MMDD);
  std::string current_criteria;
  std::string current_year;
  std::string other_criteria;
  std::string other_year;
  switch (RangeState) {
    case T2YearRangeState::rsNormal:
      current_criteria = "((" + d + " >= " + from + ") AND (" + d + " <= " + to + "))";
      current_year = FromYear_YYYY;
      break;
    case T2YearRangeState::rsPrevToCurrentYear:
      current_criteria = "(" + d + " <= " + to + ")";
      current_year = ToYear_YYYY;
      other_criteria = "(" + d + " >= " + from + ")";
      other_year = FromYear_YYYY;
      break;
    case T2YearRangeState::rsCurrentToNextYear:
      current_criteria = "(" + d + " >= " + from + ")";
      current_year = FromYear_YYYY;
      other_criteria = "(" + d + " <= " + to + ")";
      other_year = ToYear_YYYY;
      break;
  }
  std::string result;
  if (RangeState != T2YearRangeState::rsNormal)
    result = FillTemplate(QueryString + "\r\n UNION\r\n", OtherYearDatabaseName, other_criteria,
                          other_year, "1");
  result += FillTemplate(QueryString, CurrentYearDatabaseName, current_criteria, current_year, "0");
  if (!FinalOrderBy.empty()) result = "(" + result + ")\r\n" + FinalOrderBy;
  return result;
}

std::string T2YearRangeUtils::GenerateTwoYearedQueryString(const std::string& QueryString,
                                                           const std::string& DateFieldName,
                                                           const T2YearRangeParams& RangeParams,
                                                           const std::string& FinalOrderBy) {
  if (!RangeParams.Valid) return "Invalid Params";
  const TwoYearOffsets offsets = YearOffsetsOf(RangeParams.RangeState);
  const int year = RangeParams.CurrentYear_YYYY;
  const std::string from_year =
      TZELDateParser::ConvertYear_YYYY(dates::csJalali, year + offsets.FromYear);
  const std::string to_year =
      TZELDateParser::ConvertYear_YYYY(dates::csJalali, year + offsets.ToYear);
  const std::string current_db = RangeParams.OverrideCurrentYearDBName.empty()
                                     ? DataBaseNameOfYearYYYY(RangeParams.MainDatabaseName, year)
                                     : RangeParams.OverrideCurrentYearDBName;
  std::string other_db = current_db;
  if (RangeParams.RangeState == T2YearRangeState::rsPrevToCurrentYear)
    other_db = RangeParams.OverridePrevYearDBName.empty()
                   ? DataBaseNameOfYearYYYY(RangeParams.MainDatabaseName, year - 1)
                   : RangeParams.OverridePrevYearDBName;
  else if (RangeParams.RangeState == T2YearRangeState::rsCurrentToNextYear)
    other_db = RangeParams.OverrideNextYearDBName.empty()
                   ? DataBaseNameOfYearYYYY(RangeParams.MainDatabaseName, year + 1)
                   : RangeParams.OverrideNextYearDBName;
  return GenerateTwoYearedQueryString(QueryString, DateFieldName, RangeParams.FromDate_MMDD,
                                      RangeParams.ToDate_MMDD, from_year, to_year, current_db,
                                      other_db, RangeParams.RangeState, FinalOrderBy);
}

}  // namespace zel::db
