// Validation and classification through the data module: the sources that may share a
// stretch of the day and what they count as, the errors of conflicting ones, the calendar
// overlap, and the whole-day absence by group type.
#include "engine/daily_validation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/daily_test_support.h"

namespace zel::engine {
namespace {

using ::testing::Contains;

TEST(OverlapTest, ErrorCodesOfForbiddenCombinations) {
  const struct {
    int mask;
    int error;  // 0: allowed
  } cases[] = {
      {kFoundPresence | kFoundLeave, 0},
      {kFoundPresence | kFoundServiceLate, 0},
      {kFoundLeave | kFoundExtraWork, 0},
      {kFoundPresence | kFoundMission | kFoundExtraWork, 0},
      {kFoundLeave | kFoundMission, 6},
      {kFoundPresence | kFoundLeave | kFoundMission, 29},
      {kFoundLeave | kFoundServiceLate, 7},
      {kFoundMission | kFoundServiceLate, 8},
      {kFoundLeave | kFoundMission | kFoundServiceLate, 9},
      {kFoundPresence | kFoundLeave | kFoundServiceLate, 0},  // presence and leave
      {kFoundPresence | kFoundLeave | kFoundMission | kFoundServiceLate, 20},
      {kFoundPresence | kFoundLeave | kFoundExtraWork, 0},
      {kFoundLeave | kFoundMission | kFoundExtraWork, 22},
      {kFoundPresence | kFoundServiceLate | kFoundExtraWork, 24},
      {kFoundMission | kFoundServiceLate | kFoundExtraWork, 26},
      {kFoundPresence | kFoundLeave | kFoundMission | kFoundServiceLate | kFoundExtraWork, 28},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToInt(OverlapErrorCode(OverlapCode(c.mask))), c.error) << "mask " << c.mask;
  }
  EXPECT_THROW(OverlapCode(32), std::out_of_range);
}

class ValidationTest : public testing::DailyTest {
 protected:
  ValidationTest() { OfficeDays({"02/01", "02/02", "02/03"}); }
};

TEST_F(ValidationTest, SourcesOfOneStretch) {
  // Each case adds its sheets for 02/02 to a day of presence 08:00-10:00 and 11:00-16:00
  // (the stretch 10:00-11:00 is absence unless a case fills it).
  const struct {
    const char* name;
    std::vector<std::string> year;  // statements on the year database
    const char* stretch;            // the stored stretch 10:00-11:00, or nullptr
    const char* comment;            // the CSSLog comment, or nullptr
  } cases[] = {
      {"nothing", {}, "02/02 10:00-02/02 11:00 w2 s10 d60", nullptr},
      {"presence and hourly leave",
       {"INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME) VALUES "
        "('      1001', '02/02', '10:00', '02/02', '11:00')",
        "INSERT INTO Morkhasi (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE) "
        "VALUES (11, '      1001', '02/02', '10:00', '02/02', '11:00', 21)"},
       "02/02 10:00-02/02 11:00 w2 s6 d60",
       nullptr},
      {"presence and hourly mission",
       {"INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME) VALUES "
        "('      1001', '02/02', '10:00', '02/02', '11:00')",
        "INSERT INTO Mission (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE) "
        "VALUES (21, '      1001', '02/02', '10:00', '02/02', '11:00', 31)"},
       "02/02 10:00-02/02 11:00 w2 s6 d60",
       nullptr},
      {"presence and service lateness",
       {"INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME) VALUES "
        "('      1001', '02/02', '10:00', '02/02', '11:00')",
        "INSERT INTO ServLate (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME) "
        "VALUES (31, '      1001', '02/02', '10:00', '02/02', '11:00')"},
       "02/02 10:00-02/02 11:00 w2 s6 d60",
       nullptr},
      {"service lateness inside a segment",
       {"INSERT INTO ServLate (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME) "
        "VALUES (31, '      1001', '02/02', '10:00', '02/02', '11:00')"},
       "02/02 10:00-02/02 11:00 w2 s10 d60",
       nullptr},
      {"hourly leave and hourly mission",
       {"INSERT INTO Morkhasi (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE) "
        "VALUES (11, '      1001', '02/02', '10:00', '02/02', '11:00', 21)",
        "INSERT INTO Mission (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE) "
        "VALUES (21, '      1001', '02/02', '10:30', '02/02', '11:00', 31)"},
       nullptr,
       "Ahmadi Ali (      1001) (02/02): تداخل مرخصي و ماموريت."},
      {"two leaves",
       {"INSERT INTO Morkhasi (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE) "
        "VALUES (11, '      1001', '02/02', '10:00', '02/02', '11:00', 21)",
        "INSERT INTO Morkhasi (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE) "
        "VALUES (12, '      1001', '02/02', '10:00', '02/02', '10:30', 21)"},
       nullptr,
       "Ahmadi Ali (      1001) (02/02): تداخل مرخصي ها."},
      {"leave and service lateness",
       {"INSERT INTO Morkhasi (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE) "
        "VALUES (11, '      1001', '02/02', '10:00', '02/02', '11:00', 21)",
        "INSERT INTO ServLate (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME) "
        "VALUES (31, '      1001', '02/02', '10:00', '02/02', '11:00')"},
       nullptr,
       "Ahmadi Ali (      1001) (02/02): تداخل مرخصي و تاخير سرويس."},
      {"presence mark over a clock record",
       {"INSERT INTO Present (PageNo, PerNo, BeginDate, EndDate) "
        "VALUES (81, '      1001', '02/02', '02/02')"},
       nullptr,
       "Ahmadi Ali (      1001) (02/02): تداخل ورود و خروجها."},
  };
  for (const auto& c : cases) {
    for (const char* table : {"IoInfo", "Morkhasi", "Mission", "ServLate", "Present", "TimeTab",
                              "DayWork", "DayMorDt", "DayMamDt"}) {
      Year(std::string("DELETE FROM ") + table);
    }
    Base("DELETE FROM CSSLog");
    Clock("02/02", "08:00", "10:00");
    Clock("02/02", "11:00", "16:00");
    for (const std::string& sql : c.year) Year(sql);
    module_.reset();
    Run({"02/02"});
    if (c.stretch) {
      EXPECT_THAT(TimeTab("02/02"), Contains(c.stretch)) << c.name;
      EXPECT_TRUE(LogComments().empty()) << c.name;
    } else {
      EXPECT_EQ(LogComments(), std::vector<std::string>{c.comment}) << c.name;
      EXPECT_TRUE(DayWork("02/02").empty()) << c.name;
    }
  }
}

TEST_F(ValidationTest, DailyLeaveWithPresenceIsPresenceDuringLeave) {
  Year(
      "INSERT INTO DayMor (PageNo, PerNo, BeginDate, EndDate, Type) "
      "VALUES (41, '      1001', '02/02', '02/02', 22)");
  Clock("02/02", "09:00", "10:00");
  Run({"02/02"});
  EXPECT_THAT(TimeTab("02/02"), Contains("02/02 09:00-02/02 10:00 w2 s18 d60"));
  auto day = DayWork("02/02");
  EXPECT_EQ(day["PresenceInDMor"], "60");
  EXPECT_EQ(day["DailyMorkhasi"], "22");
  EXPECT_EQ(day["LeaveOfAbsPay"], "390");  // 08:00-09:00 and 10:00-16:00 without the break
}

TEST_F(ValidationTest, WorkingTimeBeforeThePreviousDayEndedIsACalendarOverlap) {
  Year("UPDATE CalItem SET ENDDATE = '02/02', ENDTIME = '09:00' WHERE DBEGINDATE = '02/01'");
  Clock("02/02", "08:00", "16:00");
  Run({"02/02"});
  EXPECT_EQ(LogComments(),
            std::vector<std::string>{"Ahmadi Ali (      1001) (02/02): تداخل تقويم."});
  EXPECT_TRUE(DayWork("02/02").empty());
}

TEST_F(ValidationTest, WholeDayAbsenceByGroupType) {
  // Nobody came on 02/02; 02/03 has extra-span times only (no working time).
  Year("UPDATE CalItem SET DBEGINTIME = NULL, BBEGINTIME = NULL WHERE DBEGINDATE = '02/03'");
  const struct {
    int group_type;
    const char* absence;  // DailyAbsence of 02/02
    const char* work;     // WorkTotal of 02/02
    const char* absent;   // NW_Absent of 02/02
    const char* morning;  // the stored stretch 08:00-12:00
  } cases[] = {
      {1, "1", "0", "450", "02/02 08:00-02/02 12:00 w2 s11 d240"},
      {3, "0", "450", "0", "02/02 08:00-02/02 12:00 w2 s6 d240"},
  };
  for (const auto& c : cases) {
    Year("DELETE FROM TimeTab");
    Year("DELETE FROM DayWork");
    Group("GROUPTYPE = " + std::to_string(c.group_type));
    module_.reset();
    Run({"02/02", "02/03"});
    auto day = DayWork("02/02");
    EXPECT_EQ(day["DailyAbsence"], c.absence) << c.group_type;
    EXPECT_EQ(day["WorkTotal"], c.work) << c.group_type;
    EXPECT_EQ(day["NW_Absent"], c.absent) << c.group_type;
    EXPECT_THAT(TimeTab("02/02"), Contains(c.morning)) << c.group_type;
    EXPECT_EQ(DayWork("02/03")["DailyAbsence"], "0") << "off day, type " << c.group_type;
  }
}

}  // namespace
}  // namespace zel::engine
