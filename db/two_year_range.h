// Year databases and queries over a range that crosses the year end: whether a
// calculation period wraps into the previous or next year, and the SQL text that reads
// one year database, or two joined by UNION.
// Stateless class-level operations; any thread may call them.
#pragma once

#include <string>

namespace zel::db {

enum class T2YearRangeState { rsNormal, rsPrevToCurrentYear, rsCurrentToNextYear };

// Year offsets of a state, added to the current year.
struct TwoYearOffsets {
  int FromYear;
  int ToYear;
  int OtherYear;
};
TwoYearOffsets YearOffsetsOf(T2YearRangeState state);

// The database of one Jalali year: base name + "_" + year ("Att" and 1399 give "Att_1399").
std::string DataBaseNameOfYearYYYY(const std::string& ADatabaseName, int Year_YYYY);

struct T2YearRangeParams {
  T2YearRangeState RangeState = T2YearRangeState::rsNormal;
  std::string FromDate_MMDD = "00/00";
  std::string ToDate_MMDD = "00/00";
  int CurrentYear_YYYY = -1;  // -1 when unset
  std::string MainDatabaseName;
  std::string OverrideCurrentYearDBName;  // each, when not empty, replaces the derived name
  std::string OverridePrevYearDBName;
  std::string OverrideNextYearDBName;
  bool Valid = false;  // filled successfully

  void Reset() { *this = T2YearRangeParams(); }
};

class T2YearRangeUtils {
 public:
  T2YearRangeUtils() = delete;

  // rsNormal when FromDate_MMDD <= ToDate_MMDD (as text); a wrapping range is
  // rsPrevToCurrentYear for period 1 and rsCurrentToNextYear for period 12. Raises
  // std::runtime_error "Range state is unknown!" for a wrapping range of another period.
  // Always returns true when it returns.
  static bool GetPeriodRangeState(int APeriod, const std::string& FromDate_MMDD,
                                  const std::string& ToDate_MMDD, T2YearRangeState& RangeState);

  // The filled record. Raises the errors of GetPeriodRangeState, the date-format error of
  // a date that is not "MM/DD", and "روز شروع و پایان دوره باید در دو ماه متوالی باشد."
  // unless the end lies in the month after the start's.
  static T2YearRangeParams Get2YearPeriodParams(int APeriod, const std::string& FromDate_MMDD,
                                                const std::string& ToDate_MMDD,
                                                int CurrentYear_YYYY,
                                                const std::string& MainDatabaseName,
                                                const std::string& OverrideCurrentYearDBName = "",
                                                const std::string& OverridePrevYearDBName = "",
                                                const std::string& OverrideNextYearDBName = "");

  // QueryString is a template with the placeholders "$DBName$", "$DateCriteria$", "$YY$",
  // "$YYYY$" and "$IsOtherYear$" (any letter case). Returns the template filled for the
  // current year, preceded, for a wrapping range, by the other year's part and " UNION";
  // wrapped as "(<text>)\r\n<FinalOrderBy>" when FinalOrderBy is not empty.
  static std::string GenerateTwoYearedQueryString(
      const std::string& QueryString, const std::string& DateFieldName,
      const std::string& FromDate_MMDD, const std::string& ToDate_MMDD,
      const std::string& FromYear_YYYY, const std::string& ToYear_YYYY,
      const std::string& CurrentYearDatabaseName, const std::string& OtherYearDatabaseName,
      T2YearRangeState RangeState, const std::string& FinalOrderBy);

  // The record form: "Invalid Params" for a record that is not Valid; otherwise the years
  // and databases come from the record (years checked against the Jalali range, which
  // raises dates::EYearValidationException).
  static std::string GenerateTwoYearedQueryString(const std::string& QueryString,
                                                  const std::string& DateFieldName,
                                                  const T2YearRangeParams& RangeParams,
                                                  const std::string& FinalOrderBy);
};

}  // namespace zel::db
