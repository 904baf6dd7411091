// Year database names, range states and two-year query texts.
#include "db/two_year_range.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "dates/date_parser.h"

namespace zel::db {
namespace {

using S = T2YearRangeState;

const char* const kTemplate =
    " SELECT * FROM $DBName$..DayWork WHERE (perno='1') AND ($DateCriteria$)";

TEST(YearDatabaseTest, NameIsBaseUnderscoreYear) {
  EXPECT_EQ(DataBaseNameOfYearYYYY("Att", 1399), "Att_1399");
  EXPECT_EQ(DataBaseNameOfYearYYYY("Korlan", 1403), "Korlan_1403");
}

TEST(GetPeriodRangeStateTest, StatesByDatesAndPeriod) {
  struct Case {
    int period;
    const char* from;
    const char* to;
    S state;
    TwoYearOffsets offsets;
  };
  const Case cases[] = {
      {5, "04/21", "05/20", S::rsNormal, {0, 0, 0}},
      {1, "01/05", "01/05", S::rsNormal, {0, 0, 0}},
      {1, "12/21", "01/20", S::rsPrevToCurrentYear, {-1, 0, -1}},
      {12, "12/21", "01/20", S::rsCurrentToNextYear, {0, 1, 1}},
  };
  for (const Case& c : cases) {
    S state = S::rsNormal;
    EXPECT_TRUE(T2YearRangeUtils::GetPeriodRangeState(c.period, c.from, c.to, state));
    EXPECT_EQ(state, c.state) << c.period << " " << c.from;
    const TwoYearOffsets o = YearOffsetsOf(state);
    EXPECT_EQ(o.FromYear, c.offsets.FromYear);
    EXPECT_EQ(o.ToYear, c.offsets.ToYear);
    EXPECT_EQ(o.OtherYear, c.offsets.OtherYear);
  }
  S state = S::rsNormal;
  try {
    T2YearRangeUtils::GetPeriodRangeState(5, "12/21", "01/20", state);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Range state is unknown!");
  }
}

TEST(Get2YearPeriodParamsTest, FillsTheRecordForConsecutiveMonths) {
  const T2YearRangeParams p =
      T2YearRangeUtils::Get2YearPeriodParams(12, "12/21", "01/20", 1399, "Att", "", "P", "");
  EXPECT_TRUE(p.Valid);
  EXPECT_EQ(p.RangeState, S::rsCurrentToNextYear);
  EXPECT_EQ(p.FromDate_MMDD, "12/21");
  EXPECT_EQ(p.ToDate_MMDD, "01/20");
  EXPECT_EQ(p.CurrentYear_YYYY, 1399);
  EXPECT_EQ(p.MainDatabaseName, "Att");
  EXPECT_EQ(p.OverridePrevYearDBName, "P");
  EXPECT_TRUE(T2YearRangeUtils::Get2YearPeriodParams(3, "02/21", "03/20", 1399, "Att").Valid);
  EXPECT_TRUE(T2YearRangeUtils::Get2YearPeriodParams(1, "12/21", "01/20", 1399, "Att").Valid);

  T2YearRangeParams reset = p;
  reset.Reset();
  EXPECT_FALSE(reset.Valid);
  EXPECT_EQ(reset.FromDate_MMDD, "00/00");
  EXPECT_EQ(reset.ToDate_MMDD, "00/00");
  EXPECT_EQ(reset.CurrentYear_YYYY, -1);
  EXPECT_TRUE(reset.MainDatabaseName.empty() && reset.OverridePrevYearDBName.empty());
}

TEST(Get2YearPeriodParamsTest, RefusesRangesOutsideTwoConsecutiveMonths) {
  struct Case {
    int period;
    const char* from;
    const char* to;
  };
  const Case cases[] = {{1, "01/01", "01/31"}, {3, "02/01", "04/01"}, {12, "11/21", "01/20"}};
  for (const Case& c : cases) {
    try {
      T2YearRangeUtils::Get2YearPeriodParams(c.period, c.from, c.to, 1399, "Att");
      ADD_FAILURE() << c.from << " " << c.to << " accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "روز شروع و پایان دوره باید در دو ماه متوالی باشد.");
    }
  }
  EXPECT_THROW(T2YearRangeUtils::Get2YearPeriodParams(5, "12/21", "01/20", 1399, "Att"),
               std::runtime_error);
}

TEST(GenerateTwoYearedQueryStringTest, OneYearRange) {
  EXPECT_EQ(T2YearRangeUtils::GenerateTwoYearedQueryString(kTemplate, "DDate", "04/21", "05/20",
                                                           "1399", "1399", "Att_1399", "Att_1399",
                                                           S::rsNormal, ""),
            " SELECT * FROM Att_1399..DayWork WHERE (perno='1') AND "
            "(((DDate >= '04/21') AND (DDate <= '05/20')))");
}

TEST(GenerateTwoYearedQueryStringTest, OtherYearPartComesFirst) {
  const std::string next = T2YearRangeUtils::GenerateTwoYearedQueryString(
      kTemplate, "DDate", "12/21", "01/20", "1399", "1400", "Att_1399", "Att_1400",
      S::rsCurrentToNextYear, "ORDER BY DDate");
  EXPECT_EQ(next,
            "( SELECT * FROM Att_1400..DayWork WHERE (perno='1') AND ((DDate <= '01/20'))\r\n"
            " UNION\r\n"
            " SELECT * FROM Att_1399..DayWork WHERE (perno='1') AND ((DDate >= '12/21')))\r\n"
            "ORDER BY DDate");
  const std::string prev = T2YearRangeUtils::GenerateTwoYearedQueryString(
      kTemplate, "DDate", "12/21", "01/20", "1398", "1399", "Att_1399", "Att_1398",
      S::rsPrevToCurrentYear, "");
  EXPECT_EQ(prev,
            " SELECT * FROM Att_1398..DayWork WHERE (perno='1') AND ((DDate >= '12/21'))\r\n"
            " UNION\r\n"
            " SELECT * FROM Att_1399..DayWork WHERE (perno='1') AND ((DDate <= '01/20'))");
}

TEST(GenerateTwoYearedQueryStringTest, YearPlaceholdersAnyLetterCase) {
  const std::string tmpl = "$dbname$|$YY$|$yyyy$|$IsOtherYear$|$DATECRITERIA$";
  EXPECT_EQ(T2YearRangeUtils::GenerateTwoYearedQueryString(tmpl, "D", "01/01", "01/31", "FromYear",
                                                           "ToYear", "Y", "Y", S::rsNormal, ""),
            "Y|Unknown|FromYear|0|((D >= '01/01') AND (D <= '01/31'))");
  EXPECT_EQ(T2YearRangeUtils::GenerateTwoYearedQueryString(
                tmpl, "D", "12/21", "01/20", "1399", "1400", "C", "O", S::rsCurrentToNextYear, ""),
            "O|1400|1400|1|(D <= '01/20')\r\n UNION\r\nC|1399|1399|0|(D >= '12/21')");
}

TEST(GenerateTwoYearedQueryStringTest, DatesAreQuotedSafely) {
  EXPECT_EQ(T2YearRangeUtils::GenerateTwoYearedQueryString(
                "$DateCriteria$", "D", "0'/01", "01/31", "1399", "1399", "Y", "Y", S::rsNormal, ""),
            "((D >= '0''/01') AND (D <= '01/31'))");
}

TEST(GenerateTwoYearedQueryStringTest, RecordFormDerivesYearsAndDatabases) {
  struct Case {
    int period;
    const char* from;
    const char* to;
    const char* override_current;
    const char* override_prev;
    const char* override_next;
    const char* expected;
  };
  const char* tmpl = "$DBName$:$YYYY$:$IsOtherYear$";
  const Case cases[] = {
      {3, "02/21", "03/20", "", "", "", "Att_1399:1399:0"},
      {3, "02/21", "03/20", "Cur", "", "", "Cur:1399:0"},
      {12, "12/21", "01/20", "", "", "", "Att_1400:1400:1\r\n UNION\r\nAtt_1399:1399:0"},
      {12, "12/21", "01/20", "Cur", "Prev", "Next", "Next:1400:1\r\n UNION\r\nCur:1399:0"},
      {1, "12/21", "01/20", "", "", "", "Att_1398:1398:1\r\n UNION\r\nAtt_1399:1399:0"},
      {1, "12/21", "01/20", "", "Prev", "", "Prev:1398:1\r\n UNION\r\nAtt_1399:1399:0"},
  };
  for (const Case& c : cases) {
    const T2YearRangeParams p = T2YearRangeUtils::Get2YearPeriodParams(
        c.period, c.from, c.to, 1399, "Att", c.override_current, c.override_prev, c.override_next);
    EXPECT_EQ(T2YearRangeUtils::GenerateTwoYearedQueryString(tmpl, "D", p, ""), c.expected)
        << c.period << " " << c.override_current;
  }
  EXPECT_EQ(T2YearRangeUtils::GenerateTwoYearedQueryString(tmpl, "D", T2YearRangeParams(), ""),
            "Invalid Params");
  T2YearRangeParams out_of_range =
      T2YearRangeUtils::Get2YearPeriodParams(3, "02/21", "03/20", 1399, "Att");
  out_of_range.CurrentYear_YYYY = 1600;
  EXPECT_THROW(T2YearRangeUtils::GenerateTwoYearedQueryString(tmpl, "D", out_of_range, ""),
               dates::EYearValidationException);
}

}  // namespace
}  // namespace zel::db
