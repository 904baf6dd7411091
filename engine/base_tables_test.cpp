#include "engine/base_tables.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "testing/recording_connection.h"
#include "testing/temp_server.h"

namespace zel::engine {
namespace {

class BaseTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_.Exec("Att",
               "INSERT INTO WorkGrp (CODE, NAME, CALCODE, GShCode, GROUPTYPE, S_Day_Rate, "
               "SDR_PRIO, TDR_PRIO, GMR_PRIO, G_Mah_Bound, TAKHIRCNT, M_PARAM5, WorkBound12, "
               "MaxMPNonWorkState, FLOATCAL, Def_Late_In_FromVacation, Dont_Calc_NightWork) "
               "VALUES (1, N' Office ', 7, 0, 2, 60, ' ', NULL, '3', 90, 4, 420, 9000, '0 ', 1, "
               "1, 1)");
    home_.Exec("Att", "INSERT INTO WorkGrp (CODE) VALUES (2)");
    home_.Exec("Att",
               "INSERT INTO MorType (Code, IsDaily, IsOrdinary, IsWaged, HolidaysCounted, "
               "Dec_Meal, ReduceMorkhasi, ReduceHoliday, Education) VALUES (21, 0, 1, 1, 0, 1, "
               "1, 0, 1)");
    home_.Exec("Att",
               "INSERT INTO MamType (Code, IsDaily, HolidaysCounted, Dec_Meal) "
               "VALUES (31, 1, 1, 0)");
    home_.Exec("Att",
               "INSERT INTO WorkShifts (Code, DBEGINTIME, DENDTIME, Holiday, ShiftStatus) "
               "VALUES (2, '22:00', '06:00 ', 0, ' 1 1')");
    home_.Exec("Att",
               "INSERT INTO JobInfo (Perno, BeginDate, EndDate, Service) VALUES "
               "('      1001', '02/01', ' ', 5), ('      1001', '07/01', '09/30', 6)");
    home_.Exec("Att", "INSERT INTO ServCode (Code, FullWayPrice) VALUES (5, 300)");
    connection_ = std::make_unique<testing::RecordingConnection>(home_.Open("Att"), recorder_);
    tables_ = std::make_unique<BaseTables>(*connection_);
  }

  size_t Sent() const { return recorder_.Texts().size(); }

  testing::TempHome home_;
  testing::StatementRecorder recorder_;
  std::unique_ptr<db::Connection> connection_;
  std::unique_ptr<BaseTables> tables_;
};

TEST_F(BaseTablesTest, WorkGroupRowSpellsTheColumnsAndIsReadOncePerCode) {
  const WorkGroupRow* g = tables_->WorkGroup(1);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->CODE, 1);
  EXPECT_EQ(g->NAME, "Office");
  EXPECT_EQ(g->CALCODE, "7");
  EXPECT_EQ(g->GROUPTYPE, 2);
  EXPECT_EQ(g->Day[0].Rate, 60);
  EXPECT_EQ(g->Day[0].PRIO, "");            // blank
  EXPECT_EQ(g->Day[1].PRIO, std::nullopt);  // NULL
  EXPECT_EQ(g->Month[3].PRIO, "3");
  EXPECT_EQ(g->Month[3].Bound, 90);
  EXPECT_EQ(g->TAKHIRCNT, 4);
  EXPECT_EQ(g->M_PARAM[4], 420);
  EXPECT_EQ(g->WorkBound[11], 9000);
  EXPECT_EQ(g->MaxMPNonWorkState, "0");
  EXPECT_EQ(g->FLOATCAL, 1);
  EXPECT_EQ(g->Def_Late_In_FromVacation, 1);
  EXPECT_EQ(g->Dont_Calc_NightWork, 1);
  EXPECT_EQ(g->TAKHIRTOT, 0);  // NULL

  const WorkGroupRow* bare = tables_->WorkGroup(2);
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->CALCODE, std::nullopt);
  EXPECT_EQ(bare->NAME, "");
  EXPECT_EQ(tables_->WorkGroup(3), nullptr);

  const size_t sent = Sent();
  EXPECT_EQ(tables_->WorkGroup(1), g);
  EXPECT_EQ(tables_->WorkGroup(3), nullptr);
  EXPECT_EQ(Sent(), sent);
}

TEST_F(BaseTablesTest, TypesOfLeavesAndMissions) {
  const LeaveTypeRow& leave = tables_->LeaveTypeOf(21);
  EXPECT_TRUE(leave.found);
  EXPECT_EQ(leave.IsOrdinary, 1);
  EXPECT_EQ(leave.Dec_Meal, 1);
  EXPECT_EQ(leave.ReduceMorkhasi, 1);
  EXPECT_EQ(leave.Education, 1);
  EXPECT_EQ(leave.IsDaily, 0);
  const MissionTypeRow& mission = tables_->MissionType(31);
  EXPECT_TRUE(mission.found);
  EXPECT_EQ(mission.IsDaily, 1);
  EXPECT_EQ(mission.HolidaysCounted, 1);

  // A code without a row reads as a type whose every field is 0.
  const LeaveTypeRow& none = tables_->LeaveTypeOf(99);
  EXPECT_FALSE(none.found);
  EXPECT_EQ(none.HolidaysCounted, 0);
  EXPECT_FALSE(tables_->MissionType(21).found);

  const size_t sent = Sent();
  tables_->LeaveTypeOf(21);
  tables_->LeaveTypeOf(99);
  tables_->MissionType(31);
  EXPECT_EQ(Sent(), sent);
}

TEST_F(BaseTablesTest, ShiftKeepsItsStatusAsStored) {
  const WorkShiftRow* shift = tables_->WorkShift(2);
  ASSERT_NE(shift, nullptr);
  EXPECT_EQ(shift->DBEGINTIME, "22:00");
  EXPECT_EQ(shift->DENDTIME, "06:00");
  EXPECT_EQ(shift->EBEGINTIME, "");
  EXPECT_EQ(shift->ShiftStatus.substr(0, 4), " 1 1");  // characters count by position
  EXPECT_EQ(tables_->WorkShift(3), nullptr);
}

TEST_F(BaseTablesTest, JobsOfAPersonAndTheFareOfTheirService) {
  const std::vector<JobRow>& jobs = tables_->Jobs("      1001");
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].BeginDate, "02/01");
  EXPECT_EQ(jobs[0].EndDate, "");
  EXPECT_EQ(jobs[0].Service, 5);
  EXPECT_EQ(jobs[1].EndDate, "09/30");
  const size_t sent = Sent();
  EXPECT_EQ(tables_->Jobs("      1001").size(), 2u);
  EXPECT_EQ(Sent(), sent);
  EXPECT_TRUE(tables_->Jobs("      1002").empty());
  EXPECT_EQ(tables_->Jobs("      1001").size(), 2u);  // read again after another person

  EXPECT_EQ(tables_->FullWayPrice(5), 300);
  EXPECT_EQ(tables_->FullWayPrice(6), std::nullopt);
}

}  // namespace
}  // namespace zel::engine
