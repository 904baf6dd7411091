// The demo organisation on a temporary embedded server: the same seed gives the same rows,
// a second run replaces the first, every kind of group is there with its calendar, and the
// shift calendar view shows the group's rotation with the persons' own overrides.

#include "engine/demo/demo_organisation.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "management/calculator_management.h"
#include "schema/schema.h"
#include "util/log_file.h"

namespace zel::engine::demo {
namespace {

namespace fs = std::filesystem;

class DemoServer {
 public:
  DemoServer() {
    static int counter = 0;
    dir_ = fs::temp_directory_path() /
           ("zel_demo_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    util::SetHomeFolder(dir_.string());  // log files of calculations stay in here
    server_.data_dir = (dir_ / "Data").string();
    auto master = db::Connect(server_);
    master->Execute("CREATE DATABASE Att");
    master->Execute("CREATE DATABASE Att_1399");
    for (const auto& [name, script] :
         {std::pair{"Att", db::BaseSchemaSql()}, std::pair{"Att_1399", db::YearSchemaSql()}}) {
      auto c = Open(name);
      for (const auto& batch : db::SplitBatches(script)) c->Execute(batch);
    }
  }
  ~DemoServer() {
    util::SetHomeFolder("");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  const db::ConnectionSettings& Server() const { return server_; }
  std::unique_ptr<db::Connection> Open(const std::string& database) const {
    db::ConnectionSettings s = server_;
    s.database = database;
    return db::Connect(s);
  }
  // Every row of a query as one text, for comparing whole tables.
  std::string Dump(const std::string& database, const std::string& sql) const {
    std::string text;
    for (const auto& row : Open(database)->Execute(sql).rows) {
      for (const auto& v : row) text += (v.IsNull() ? "NULL" : v.AsString()) + "|";
      text += "\n";
    }
    return text;
  }
  std::int64_t Count(const std::string& database, const std::string& sql) const {
    return Open(database)->Execute(sql).rows.at(0).at(0).AsInteger();
  }

 private:
  fs::path dir_;
  db::ConnectionSettings server_;
};

DemoOptions Options(int persons, std::uint32_t seed) {
  DemoOptions o;
  o.persons = persons;
  o.year = "1399";
  o.month = 2;
  o.seed = seed;
  return o;
}

const char* const kIoDump =
    "SELECT PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME FROM IoInfo "
    "ORDER BY PERNO, BEGINDATE, BEGINTIME";

TEST(DemoOrganisation, SameSeedSameRowsAndRerunReplaces) {
  DemoServer a, b;
  const DemoSummary first = GenerateDemoOrganisation(a.Server(), Options(40, 7));
  GenerateDemoOrganisation(b.Server(), Options(40, 8));
  EXPECT_NE(a.Dump("Att_1399", kIoDump), b.Dump("Att_1399", kIoDump));
  // Running again with the first seed replaces the other organisation row for row.
  const DemoSummary again = GenerateDemoOrganisation(b.Server(), Options(40, 7));
  EXPECT_EQ(a.Dump("Att_1399", kIoDump), b.Dump("Att_1399", kIoDump));
  EXPECT_EQ(a.Dump("Att", "SELECT Perno, FirstName, LastName FROM Person ORDER BY Perno"),
            b.Dump("Att", "SELECT Perno, FirstName, LastName FROM Person ORDER BY Perno"));
  EXPECT_EQ(first.io_records, again.io_records);
  EXPECT_EQ(b.Count("Att_1399", "SELECT COUNT(*) FROM IoInfo"), again.io_records);
}

TEST(DemoOrganisation, HoldsTheThreeKindsOfGroupAndAMonthOfRecords) {
  DemoServer s;
  const DemoSummary summary = GenerateDemoOrganisation(s.Server(), Options(200, 1));
  EXPECT_EQ(summary.persons, 200);
  EXPECT_EQ(s.Count("Att", "SELECT COUNT(*) FROM Person"), 200);
  EXPECT_EQ(s.Dump("Att_1399",
                   "SELECT WORKGROUP, COUNT(*) FROM PrjRule GROUP BY WORKGROUP ORDER BY WORKGROUP"),
            "101|120|\n102|40|\n103|40|\n");
  EXPECT_EQ(s.Dump("Att", "SELECT CODE, GROUPTYPE, CALCODE, GShCode FROM WorkGrp ORDER BY CODE"),
            "101|1|101|0|\n102|6|NULL|102|\n103|2|NULL|0|\n");
  // A year of calendar items: 1399 is leap; Fridays (01/01 is one) and Nowruz are holidays.
  EXPECT_EQ(summary.calendar_items, 366);
  EXPECT_EQ(s.Dump("Att_1399",
                   "SELECT DBEGINDATE, HOLIDAY, DBEGINTIME FROM CalItem WHERE DBEGINDATE IN "
                   "('01/01', '01/05', '02/05', '02/06', '12/30') ORDER BY DBEGINDATE"),
            "01/01|1|NULL|\n01/05|0|08:00|\n02/05|1|NULL|\n02/06|0|08:00|\n12/30|0|08:00|\n");
  // The month's records: every entry in month 2, night shifts leave on the next day, a few
  // exits are missing; leaves, missions and permissions are there.
  EXPECT_EQ(s.Count("Att_1399", "SELECT COUNT(*) FROM IoInfo WHERE BEGINDATE NOT LIKE '02/%'"), 0);
  EXPECT_GT(s.Count("Att_1399", "SELECT COUNT(*) FROM IoInfo WHERE ENDDATE > BEGINDATE"), 0);
  EXPECT_GT(s.Count("Att_1399", "SELECT COUNT(*) FROM IoInfo WHERE ENDDATE IS NULL"), 0);
  EXPECT_GT(summary.io_records, 200 * 20);
  EXPECT_GT(summary.leaves, 0);
  EXPECT_GT(summary.missions, 0);
  EXPECT_GT(summary.permissions, 0);
  EXPECT_EQ(s.Dump("Att",
                   "SELECT ScheduleId, ScheduleType, CalcType, SubCalcType, CalcYear "
                   "FROM CSSchedule"),
            "1|1|0|4|1399|\n");
  EXPECT_EQ(s.Count("Att", "SELECT COUNT(*) FROM Semaphor WHERE Code = 17"), 1);
}

TEST(DemoOrganisation, ShiftCalendarViewFollowsTheRotationAndOverrides) {
  DemoServer s;
  GenerateDemoOrganisation(s.Server(), Options(20, 1));
  // Persons 1004 (index 3) and 1009 (index 8) are on the shift group; 1009's rotation is two
  // days later, kept in PerShifts. 02/01 is day 32 of the year: rotation place 31 % 8 = 7
  // (off) for the group, (31 + 2) % 8 = 1 (morning) for 1009. 01/05 is place 4: night, with
  // the break, the end of duty and the day end on the next day.
  EXPECT_EQ(s.Dump("Att_1399",
                   "SELECT PerNo, DBeginDate, WorkShiftCode, Holiday FROM V_GetCalItem "
                   "WHERE DBeginDate = '02/01' AND PerNo IN ('      1004', '      1009') "
                   "ORDER BY PerNo"),
            "      1004|02/01|104|1|\n      1009|02/01|101|0|\n");
  EXPECT_EQ(s.Dump("Att_1399",
                   "SELECT DBEGINTIME, BBeginDate, DEndDate, DENDTIME, EndDate, ENDTIME "
                   "FROM V_GetCalItem WHERE PerNo = '      1004' AND DBeginDate = '01/05'"),
            "22:00|01/06|01/06|06:00|01/06|12:00|\n");
}

TEST(DemoOrganisation, EveryDayOfTheMonthCalculates) {
  DemoServer s;
  GenerateDemoOrganisation(s.Server(), Options(20, 3));
  s.Open("Att")->Execute("INSERT INTO CSSPerTemp (PerNo) SELECT Perno FROM Person");
  management::CalculatorSettings settings;
  settings.database_name = "Att";
  settings.current_year = "1399";
  settings.data_dir = s.Server().data_dir;
  settings.semaphore_list = {"CALC=17"};
  settings.from_date = "02/01";
  settings.to_date = "02/31";
  management::TZELCalculatorManagement manager(settings);
  const auto run = manager.RunDailyCalculatorForOnePerson();
  ASSERT_EQ(run.status, management::RunStatus::kCompleted);
  EXPECT_EQ(run.persons, 20);
  // Every person-day is stored; the only reports are the entries left without exit.
  EXPECT_EQ(s.Count("Att_1399", "SELECT COUNT(*) FROM DayWork"), 20 * 31);
  EXPECT_EQ(
      s.Count("Att", "SELECT COUNT(*) FROM CSSLog WHERE Comment NOT LIKE N'%ورود و خروج ناقص .'"),
      0);
  EXPECT_EQ(s.Count("Att", "SELECT COUNT(*) FROM CSSLog"),
            s.Count("Att_1399", "SELECT COUNT(*) FROM IoInfo WHERE ENDDATE IS NULL"));
  // The noise shows in the results: night shifts, late arrivals, Friday holidays.
  EXPECT_GT(s.Count("Att_1399", "SELECT COUNT(*) FROM DayWork WHERE NightWork > 0"), 0);
  EXPECT_GT(s.Count("Att_1399", "SELECT COUNT(*) FROM DayWork WHERE NW_Late_First > 0"), 0);
  EXPECT_EQ(
      s.Count("Att_1399", "SELECT COUNT(*) FROM DayWork WHERE WorkGroup = 101 AND Holiday = 1"),
      12 * 4);  // 12 office persons, Fridays 02/05, 02/12, 02/19, 02/26
}

// Enough persons for several full insert batches: not one entry/exit record may be
// written when the month is to arrive as punches only.
TEST(DemoOrganisation, RecordsAsPunchesWritesNoEntryExitRecord) {
  DemoServer s;
  DemoOptions o = Options(40, 2);
  o.records_as_punches = true;
  const DemoSummary summary = GenerateDemoOrganisation(s.Server(), o);
  EXPECT_EQ(summary.io_records, 0);
  EXPECT_EQ(s.Count("Att_1399", "SELECT COUNT(*) FROM IoInfo"), 0);
  EXPECT_GT(s.Count("Att", "SELECT COUNT(*) FROM ClockDmp"), 40 * 20);
}

// The month as punches: its special-card punches and web requests become permissions of
// every kind in the schedule's order (labelling, then service late, leave, mission), every
// card and key finds its type, and what does not move is a deliberate collision with a
// sheet the clerk entered or a web request not approved yet.
TEST(DemoOrganisation, CardPunchesAndWebRequestsBecomePermissions) {
  DemoServer s;
  DemoOptions o = Options(60, 1);
  o.records_as_punches = true;
  const DemoSummary summary = GenerateDemoOrganisation(s.Server(), o);
  EXPECT_GT(summary.card_punches, 0);
  EXPECT_GT(summary.web_requests, 0);
  EXPECT_EQ(s.Dump("Att", "SELECT Transfer, TransSLate, TransMor, TransMam FROM CSSchedule"),
            "1|1|1|1|\n");
  // What the demo writes itself: clerk's sheets only, the cards' and the web's wait.
  EXPECT_EQ(s.Count("Att_1399", "SELECT COUNT(*) FROM ServLate"), 0);
  EXPECT_EQ(s.Count("Att_1399", "SELECT COUNT(*) FROM Mission"), 0);
  const std::int64_t clerk_leaves = s.Count("Att_1399", "SELECT COUNT(*) FROM Morkhasi");

  management::CalculatorSettings settings;
  settings.database_name = "Att";
  settings.current_year = "1399";
  settings.data_dir = s.Server().data_dir;
  settings.semaphore_list = {"CALC=17"};
  settings.from_date = "01/01";
  settings.to_date = "12/29";
  management::TZELCalculatorManagement manager(settings);
  ASSERT_TRUE(manager.RunSetClockDmpRecordsForPersonList().completed);
  const char* const kinds[] = {"service late", "leave", "mission"};
  for (int kind = 1; kind <= 3; ++kind) {
    SCOPED_TRACE(kinds[kind - 1]);
    const management::TransferRunResult r = manager.RunTransferRecordsForPersonList(kind);
    ASSERT_TRUE(r.done) << r.error;
    EXPECT_GT(r.permission.Moved, 0);
    EXPECT_EQ(r.permission.Reported, 0);
    EXPECT_EQ(r.permission.Uncertain, 0);  // no day of the month is today
  }
  // The only reports are the labelling's of the punches of the year before, which has no
  // year database here, each once.
  EXPECT_EQ(s.Count("Att", "SELECT COUNT(*) FROM CSSLog"),
            s.Count("Att", "SELECT COUNT(*) FROM ClockDmp WHERE CLOCKDATE LIKE '1398/%'"));
  EXPECT_EQ(s.Count("Att",
                    "SELECT COUNT(*) FROM CSSLog WHERE Comment NOT LIKE N'Punch REC % of a year "
                    "that has no year database; it is kept and not transferred'"),
            0);
  // Service late from the card: the duty begin up to the late entry, first half.
  EXPECT_EQ(s.Count("Att_1399",
                    "SELECT COUNT(*) FROM ServLate WHERE BEGINTIME <> '08:00' "
                    "OR ENDTIME <= '08:00' OR SHIFTTYPE <> 1"),
            0);
  EXPECT_GT(s.Count("Att_1399", "SELECT COUNT(*) FROM ServLate"), 0);
  // Hourly leave and missions from cards and keys (no web sheet), from the web (with it),
  // whole-day ones from the web with a mission's hours.
  EXPECT_GT(s.Count("Att_1399", "SELECT COUNT(*) FROM Morkhasi WHERE SodrinPageNo IS NULL"),
            clerk_leaves);
  EXPECT_GT(s.Count("Att_1399", "SELECT COUNT(*) FROM Morkhasi WHERE SodrinPageNo IS NOT NULL"), 0);
  EXPECT_GT(s.Count("Att_1399", "SELECT COUNT(*) FROM DayMor WHERE SodrinPageNo IS NOT NULL"), 0);
  EXPECT_GT(s.Count("Att_1399", "SELECT COUNT(*) FROM Mission WHERE SodrinPageNo IS NULL"), 0);
  EXPECT_GT(s.Count("Att_1399", "SELECT COUNT(*) FROM Mission WHERE SodrinPageNo IS NOT NULL"), 0);
  EXPECT_GT(s.Count("Att_1399", "SELECT COUNT(*) FROM MamDays"), 0);
  EXPECT_EQ(s.Count("Att_1399",
                    "SELECT COUNT(*) FROM MamDays m WHERE NOT EXISTS (SELECT * FROM "
                    "DayMam d WHERE d.PageNo = m.PageNo AND d.PerNo = m.PerNo)"),
            0);
  // Left behind: only collisions noted against a sheet on record, web requests not
  // approved, and the card punches of the colliding requests.
  EXPECT_EQ(s.Count("Att_1399",
                    "SELECT COUNT(*) FROM TmpMor WHERE INDECISIVE <> 2 "
                    "OR LTRIM(Descript) = '' OR Descript IS NULL"),
            0);
  EXPECT_EQ(s.Count("Att_1399", "SELECT COUNT(*) FROM TmpMam"), 0);
  EXPECT_EQ(s.Count("Att_1399", "SELECT COUNT(*) FROM TmpSLate"), 0);
  EXPECT_EQ(s.Count("Att_1399",
                    "SELECT COUNT(*) FROM AskAbsence WHERE IsTransfer = 0 AND "
                    "IsApproved = 1 AND PageNo NOT IN (SELECT OldPageNo FROM TmpMor "
                    "WHERE OldPageNo IS NOT NULL)"),
            0);
  EXPECT_EQ(s.Count("Att_1399", "SELECT COUNT(*) FROM AskMission WHERE IsTransfer = 0"), 0);
  EXPECT_EQ(s.Count("Att", "SELECT COUNT(*) FROM ClockDmp WHERE SPCARDTYPE <> 0"),
            s.Count("Att_1399", "SELECT COUNT(*) FROM TmpMor WHERE Rec1 > 0"));
}

TEST(DemoOrganisation, RefusesBadOptions) {
  DemoServer s;
  EXPECT_THROW(GenerateDemoOrganisation(s.Server(), Options(4, 1)), std::invalid_argument);
  DemoOptions bad_month = Options(10, 1);
  bad_month.month = 13;
  EXPECT_THROW(GenerateDemoOrganisation(s.Server(), bad_month), std::invalid_argument);
  DemoOptions bad_year = Options(10, 1);
  bad_year.year = "99";
  EXPECT_THROW(GenerateDemoOrganisation(s.Server(), bad_year), std::invalid_argument);
}

}  // namespace
}  // namespace zel::engine::demo
