// The permission preparation and transfer on the embedded engine, scenario by scenario:
// special-card punches (leave card L01 = type 21, mission card M01 = type 31, service-late
// card S01; keys E1/E2 = leave types 21/22, F1/F2 = mission types 31/32) and web requests,
// one preparation and transfer of a kind, then the intermediate table, the permission
// rows, the punches left in ClockDmp and the calculation log. Calendar 1 of the seed: duty
// 07:00-15:00, break 12:00-12:30, overtime window 06:00-20:00, day end 23:59; persons 1001
// and 1002 in office group 1. The run's "today" is 1399/05/11.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "dates/zel_calc_utils.h"
#include "db/client.h"
#include "schema/schema.h"
#include "testing/faulty_connection.h"
#include "testing/temp_server.h"
#include "transfer/dm_transfer.h"
#include "util/text.h"

namespace zel::transfer {
namespace {

using TestServer = ::zel::testing::TempHome;

std::string ReadSource(const std::string& relative) {
  const char* root = std::getenv("ZEL_SOURCE_DIR");
  std::ifstream in(std::string(root ? root : ".") + "/" + relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (text.str().empty()) throw std::runtime_error("cannot read " + relative);
  return text.str();
}

// Cells of the rows, trimmed, "|" between cells and "; " between rows.
std::string Render(const db::ResultSet& r) {
  std::string out;
  for (const auto& row : r.rows) {
    if (!out.empty()) out += "; ";
    for (std::size_t i = 0; i < row.size(); ++i)
      out += (i ? "|" : "") + util::TrimBlanks(row[i].AsString());
  }
  return out;
}

// A labelled punch: card (and person) number, "MM/DD" of 1399, time, 1 entry or 2 exit.
std::string Punch(int rec, const std::string& card, const std::string& day, const std::string& time,
                  int io, int uncertain = 0, int spcard = 0) {
  const std::string perno = std::string(10 - card.size(), ' ') + card;
  return "INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, IO_TYPE, UNCERTAIN, "
         "TRANSFERED, SPCARDTYPE, MASHINNO, ComCode, FPM) VALUES (" +
         std::to_string(rec) + ", '" + card + "', '" + perno + "', '1399/" + day + "', '" + time +
         "', '" + std::to_string(io) + "', " + std::to_string(uncertain) + ", 0, " +
         std::to_string(spcard) + ", '1', 1, 0)\n";
}

// A special-card punch: card L01/M01/S01 or a function key, 1 entry or 2 exit.
std::string Card(int rec, const std::string& card, const std::string& day, const std::string& time,
                 int io, int spcard, const std::string& specNo, const std::string& key = "",
                 int uncertain = 0) {
  const std::string perno = std::string(10 - card.size(), ' ') + card;
  return "INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, IO_TYPE, UNCERTAIN, "
         "TRANSFERED, SPCARDTYPE, SPECCARDNO, ClockKey, MASHINNO, ComCode, FPM) VALUES (" +
         std::to_string(rec) + ", '" + card + "', '" + perno + "', '1399/" + day + "', '" + time +
         "', '" + std::to_string(io) + "', " + std::to_string(uncertain) + ", 0, " +
         std::to_string(spcard) + ", '" + specNo + "', '" + key + "', '1', 1, 0)\n";
}

std::string AskAbsence(int page, const std::string& perno, const std::string& b,
                       const std::string& bt, const std::string& e, const std::string& et, int type,
                       const std::string& description = "web") {
  return "INSERT INTO AskAbsence (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime, Type, "
         "userDescription, RecDate, IsDaily, IsApproved, IsTransfer) VALUES (" +
         std::to_string(page) + ", '" + std::string(10 - perno.size(), ' ') + perno + "', '" + b +
         "', '" + bt + "', '" + e + "', '" + et + "', " + std::to_string(type) + ", N'" +
         description + "', '05/01', 0, 1, 0)\n";
}

std::string AskMission(int page, const std::string& perno, const std::string& b,
                       const std::string& bt, const std::string& e, const std::string& et, int type,
                       const std::string& description) {
  return "INSERT INTO AskMission (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime, Type, "
         "userDescription, IssueDate, City, Location, IsDaily, IsApproved, IsTransfer) VALUES (" +
         std::to_string(page) + ", '" + std::string(10 - perno.size(), ' ') + perno + "', '" + b +
         "', '" + bt + "', '" + e + "', '" + et + "', " + std::to_string(type) + ", N'" +
         description + "', '05/01', NULL, N'Tabriz', 0, 1, 0)\n";
}

using K = TPerMissionType;

struct Scenario {
  const char* name;
  K kind;
  std::string base_sql;  // punches and settings of the base database
  std::string year_sql;  // rows of the year database
  const char*
      tmp_rows;       // PERNO|BEGINDATE|BEGINTIME|ENDDATE|ENDTIME|PAGENO|INDECISIVE|Rec1|Rec2|TYPE
                      // or SHIFTTYPE
  const char* moved;  // hourly rows " / " whole-day rows of the kind (ServLate alone)
  const char* punches;   // REC|SPCARDTYPE|TRANSFERED left in ClockDmp
  const char* log_part;  // a text one CSSLog comment holds ("" = none)
};

class PermissionTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    srv_.Exec("", "CREATE DATABASE ZELLog");
    Load("ZELLog", std::string(db::LogSchemaSql()));
    Load("Att", ReadSource("db/corpus/seed_base.sql"));
    Load("Att_1399", ReadSource("db/corpus/seed_1399.sql"));
    auto base = srv_.Open("Att");
    for (const std::string& batch : db::DateFunctionBatches()) base->Execute(batch);
    base->Execute("UPDATE SYSTEM SET Round = 0, EnableSystemLog = 0");
    srv_.Exec("Att_1399", " CREATE VIEW [dbo].[V_GetCalItem]  AS " + db::CalItemViewSelect("Att"));
  }
  void Load(const std::string& database, const std::string& script) {
    auto c = srv_.Open(database);
    for (const auto& batch : db::SplitBatches(script)) c->Execute(batch);
  }
  PermissionTransferResult Run(K kind, TTransferUtilsDeclareState state = nullptr,
                               std::function<bool()> stop = nullptr) {
    TDmTransfer dm(srv_.DataDir());
    dm.SetDeclareState(std::move(state));
    dm.StopRequested = std::move(stop);
    dm.InitialValues("1399", "", "", "Att", "", "CSSPerTemp", 7);
    dm.CurrentDate = "1399/05/11";
    PermissionTransferResult r = dm.PreparePermission(kind, false);
    dm.TransferPermission(kind, r);
    return r;
  }
  std::string Tmp(K kind) {
    const char* sql =
        kind == K::prMor   ? "SELECT PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, PAGENO, "
                             "INDECISIVE, Rec1, Rec2, TYPE FROM TmpMor ORDER BY PAGENO"
        : kind == K::prMam ? "SELECT PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, PAGENO, "
                             "INDECISIVE, Rec1, Rec2, TYPE FROM TmpMam ORDER BY PAGENO"
                           : "SELECT PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, PAGENO, "
                             "INDECISIVE, Rec1, Rec2, SHIFTTYPE FROM TmpSlate ORDER BY PAGENO";
    return Render(srv_.Query("Att_1399", sql));
  }
  std::string Moved(K kind) {
    const auto rows = [&](const std::string& sql) { return Render(srv_.Query("Att_1399", sql)); };
    if (kind == K::prSlate) {
      return rows(
          "SELECT PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, SHIFTTYPE FROM "
          "ServLate ORDER BY PAGENO");
    }
    const std::string hourly = kind == K::prMor ? "Morkhasi" : "Mission";
    const std::string daily = kind == K::prMor ? "DayMor" : "DayMam";
    return rows("SELECT PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE FROM " +
                hourly + " ORDER BY PAGENO, PERNO") +
           " / " +
           rows("SELECT PageNo, PerNo, BeginDate, EndDate, Type FROM " + daily +
                " ORDER BY PageNo, PerNo");
  }
  std::string Punches() {
    return Render(
        srv_.Query("Att", "SELECT REC, SPCARDTYPE, TRANSFERED FROM ClockDmp ORDER BY REC"));
  }
  std::string Log() {
    return Render(srv_.Query("Att",
                             "SELECT PerNo, Comment FROM CSSLog WHERE ScheduleId = 7 "
                             "ORDER BY Id"));
  }

  TestServer srv_;
};

const std::string kLeavePair =
    Card(1, "1001", "05/10", "10:00", 2, 1, "L01") + Punch(2, "1001", "05/10", "12:00", 1);
const std::string kFloat30 =
    "UPDATE WorkGrp SET FLOATCAL = 1, FLOATVAL = '30', OverFloat = 0 WHERE CODE = 1\n";

const Scenario kScenarios[] = {
    {"LeaveExitClosedByTheNextEntry", K::prMor, kLeavePair, "", "",
     "1|1001|05/10|10:00|05/10|12:00|21 / ", "1|0|0; 2|0|0", ""},
    // Made today: the day is not over, the request waits as uncertain with its punch.
    {"LeaveExitWithoutEntryMadeTodayWaits", K::prMor,
     Card(1, "1001", "05/11", "14:00", 2, 1, "L01"), "", "1001|05/11|14:00|05/11|15:00|1|1|1|0|21",
     " / ", "1|1|0", ""},
    {"LeaveExitWithoutEntryOnAnEarlierDayMoves", K::prMor,
     Card(1, "1001", "05/10", "14:00", 2, 1, "L01"), "", "", "1|1001|05/10|14:00|05/10|15:00|21 / ",
     "1|0|0", ""},
    {"LeaveExitAfterTheDutyEndRunsToTheOvertimeEnd", K::prMor,
     Card(1, "1001", "05/10", "16:00", 2, 1, "L01"), "", "", "1|1001|05/10|16:00|05/10|20:00|21 / ",
     "1|0|0", ""},
    {"LeaveEntryWithoutExitStartsAtTheDutyBegin", K::prMor,
     Card(1, "1001", "05/10", "10:00", 1, 1, "L01"), "", "", "1|1001|05/10|07:00|05/10|10:00|21 / ",
     "1|0|0", ""},
    // First entry 07:20 for a 07:00 duty begin: the duty end moves by 20 minutes.
    {"FloatingHoursShiftTheEnd", K::prMor,
     kFloat30 + Punch(1, "1001", "05/10", "07:20", 1) +
         Card(2, "1001", "05/10", "14:00", 2, 1, "L01"),
     "", "", "1|1001|05/10|14:00|05/10|15:20|21 / ", "1|0|0; 2|0|0", ""},
    // First entry 08:00: a 60-minute start, capped at the 30 minutes allowed.
    {"FloatingHoursCappedAtFloatVal", K::prMor,
     kFloat30 + Punch(1, "1001", "05/10", "08:00", 1) +
         Card(2, "1001", "05/10", "14:00", 2, 1, "L01"),
     "", "", "1|1001|05/10|14:00|05/10|15:30|21 / ", "1|0|0; 2|0|0", ""},
    {"FloatingHoursBeyondFloatValWithOverFloat", K::prMor,
     kFloat30 + "UPDATE WorkGrp SET OverFloat = 1 WHERE CODE = 1\n" +
         Punch(1, "1001", "05/10", "08:00", 1) + Card(2, "1001", "05/10", "14:00", 2, 1, "L01"),
     "", "", "1|1001|05/10|14:00|05/10|15:00|21 / ", "1|0|0; 2|0|0", ""},
    {"FunctionKeyFindsItsType", K::prMor,
     Card(1, "1001", "05/10", "10:00", 2, 1, "", "E2") + Punch(2, "1001", "05/10", "12:00", 1), "",
     "", "1|1001|05/10|10:00|05/10|12:00|22 / ", "1|0|0; 2|0|0", ""},
    {"CardWithANumberAndAKeyReportedNotInserted", K::prMor,
     Card(1, "1001", "05/10", "10:00", 2, 1, "L01", "E1") + Punch(2, "1001", "05/10", "12:00", 1),
     "", "", " / ", "1|1|0; 2|0|0", "1001 شروع: 05/10  10:00 خاتمه: 05/10 12:00"},
    {"UndecidedSpecialCardPunchYieldsNothing", K::prMor,
     Card(1, "1001", "05/10", "10:00", 0, 1, "L01"), "", "", " / ", "1|1|0", ""},
    // An hourly leave 11:00-13:00 on record: the request is noted, kept, its punches kept.
    {"CollisionWithALeaveOnRecordIsNotedAndKept", K::prMor, kLeavePair,
     "INSERT INTO Morkhasi (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE) VALUES "
     "(5, '      1001', '05/10', '11:00', '05/10', '13:00', 21)",
     "1001|05/10|10:00|05/10|12:00|6|2|1|2|21", "5|1001|05/10|11:00|05/10|13:00|21 / ",
     "1|1|0; 2|0|0", ""},
    // A whole-day leave on record that day: the hourly request falls inside it, noted, kept.
    {"CollisionWithAWholeDayLeaveOnRecordIsNotedAndKept", K::prMor, kLeavePair,
     "INSERT INTO DayMor (PageNo, PerNo, BeginDate, EndDate, Type) VALUES "
     "(5, '      1001', '05/09', '05/11', 22)",
     "1001|05/10|10:00|05/10|12:00|1|2|1|2|21", " / 5|1001|05/09|05/11|22", "1|1|0; 2|0|0", ""},
    {"ServiceLateEntryInTheFirstHalf", K::prSlate, Card(1, "1001", "05/10", "08:20", 1, 3, "S01"),
     "", "", "1|1001|05/10|07:00|05/10|08:20|1", "1|0|0", ""},
    {"ServiceLateEntryAfterTheBreak", K::prSlate, Card(1, "1001", "05/10", "13:20", 1, 3, "S01"),
     "", "", "1|1001|05/10|12:30|05/10|13:20|2", "1|0|0", ""},
    // Opened by an exit and closed by the schedule: never certain, left waiting.
    {"ServiceLateExitWaits", K::prSlate, Card(1, "1001", "05/10", "14:00", 2, 3, "S01"), "",
     "1001|05/10|14:00|05/10|15:00|1|1|1|0|3", "", "1|3|0", ""},
    // A card entry after a card exit: the exit's row made the request, the entry's adds none.
    {"CardEntryAfterACardExitLeftAlone", K::prMor,
     Card(1, "1001", "05/10", "10:00", 2, 1, "L01") +
         Card(2, "1001", "05/10", "12:00", 1, 1, "L01"),
     "", "", "1|1001|05/10|10:00|05/10|12:00|21 / ", "1|0|0; 2|0|0", ""},
    // An ordinary exit before a card entry opens the request (not the duty begin).
    {"PreviousExitOpensTheRequest", K::prMor,
     Punch(1, "1001", "05/10", "10:00", 2) + Card(2, "1001", "05/10", "12:00", 1, 1, "L01"), "", "",
     "1|1001|05/10|10:00|05/10|12:00|21 / ", "1|0|0; 2|0|0", ""},
    // Person 1003 works the night shift of 05/11 (22:00-06:00, day end 05/12 12:00): a card
    // entry at 05/12 03:00 belongs to 05/11 and is opened by that shift's duty begin.
    {"NightShiftEntryAfterMidnightBelongsToTheShiftDay", K::prMor,
     Card(1, "1003", "05/12", "03:00", 1, 1, "L01"), "", "", "1|1003|05/11|22:00|05/12|03:00|21 / ",
     "1|0|0", ""},
    // An uncertain exit, or an uncertain closing entry, keeps the request waiting.
    {"UncertainPunchesGiveIndecisive", K::prMor,
     Card(1, "1001", "05/10", "08:00", 2, 1, "L01", "", 1) + Punch(2, "1001", "05/10", "09:00", 1) +
         Card(3, "1001", "05/10", "10:00", 2, 1, "L01") + Punch(4, "1001", "05/10", "11:00", 1, 1),
     "", "1001|05/10|08:00|05/10|09:00|1|1|1|2|21; 1001|05/10|10:00|05/10|11:00|2|1|3|4|21", " / ",
     "1|1|0; 2|0|0; 3|1|0; 4|0|0", ""},
    // Rounding to 15 minutes from 8 past: 10:07 down to 10:00, 12:08 up to 12:15.
    {"RoundingOn", K::prMor,
     "UPDATE SYSTEM SET Round = 1, RoundVal = 15, RoundBound = 8\n" +
         Card(1, "1001", "05/10", "10:07", 2, 1, "L01") + Punch(2, "1001", "05/10", "12:08", 1),
     "", "", "1|1001|05/10|10:00|05/10|12:15|21 / ", "1|0|0; 2|0|0", ""},
    // A rest day with dates but no times: the begin is the day's 00:00, not a zero-length
    // request waiting for ever.
    {"CardEntryOnARestDayStartsAtMidnight", K::prMor,
     Card(1, "1001", "05/14", "10:00", 1, 1, "L01"),
     "INSERT INTO CalItem (CALCODE, DBEGINDATE, DBEGINTIME, DENDDATE, DENDTIME, EBEGINDATE, "
     "EBEGINTIME, EENDDATE, EENDTIME, BBEGINDATE, BBEGINTIME, BENDDATE, BENDTIME, ENDDATE, "
     "ENDTIME, "
     "HOLIDAY) VALUES (1, '05/14', '', '05/14', '', '05/14', '', '05/14', '', '', '', '', '', "
     "'05/14', '23:59', 1)",
     "", "1|1001|05/14|00:00|05/14|10:00|21 / ", "1|0|0", ""},
    // Punches the IO transfer already took (TRANSFERED = 1) leave ClockDmp with the request;
    // one not taken yet only loses its card marks.
    {"PunchesTakenByTheIoTransferDeleted", K::prMor,
     kLeavePair + "UPDATE ClockDmp SET TRANSFERED = 1 WHERE REC = 1\n", "", "",
     "1|1001|05/10|10:00|05/10|12:00|21 / ", "2|0|0", ""},
    // A service late on record 07:00-08:00: the request 07:00-08:20 collides and stays.
    {"ServiceLateCollisionKept", K::prSlate, Card(1, "1001", "05/10", "08:20", 1, 3, "S01"),
     "INSERT INTO ServLate (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, SHIFTTYPE) "
     "VALUES (4, '      1001', '05/10', '07:00', '05/10', '08:00', 1)",
     "1001|05/10|07:00|05/10|08:20|5|2|0|1|1", "4|1001|05/10|07:00|05/10|08:00|1", "1|3|0", ""},
    {"MissionCardPair", K::prMam,
     Card(1, "1001", "05/10", "10:00", 2, 2, "M01") + Punch(2, "1001", "05/10", "12:00", 1), "", "",
     "1|1001|05/10|10:00|05/10|12:00|31 / ", "1|0|0; 2|0|0", ""},
};

class PermissionScenario : public PermissionTransferTest,
                           public ::testing::WithParamInterface<Scenario> {};

TEST_P(PermissionScenario, RequestsPermissionsPunchesAndReports) {
  const Scenario& sc = GetParam();
  if (!sc.base_sql.empty()) srv_.Exec("Att", sc.base_sql);
  if (!sc.year_sql.empty()) srv_.Exec("Att_1399", sc.year_sql);
  // A second run finds the same requests waiting, moves nothing twice and reports nothing
  // again.
  for (int pass = 1; pass <= 2; ++pass) {
    SCOPED_TRACE(pass);
    Run(sc.kind);
    EXPECT_EQ(Tmp(sc.kind), sc.tmp_rows);
    EXPECT_EQ(Moved(sc.kind), sc.moved);
    EXPECT_EQ(Punches(), sc.punches);
    const std::string log = Log();
    if (*sc.log_part) {
      EXPECT_NE(log.find(sc.log_part), std::string::npos) << log;
      EXPECT_EQ(log.find(';'), std::string::npos) << log;
    } else {
      EXPECT_EQ(log, "");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Permission, PermissionScenario, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

// Web leave: the whole-day request takes the next DayMor sheet, the hourly one the next
// Morkhasi sheet after the clock request's; both keep their own sheet in SodrinPageNo and
// are marked transferred.
TEST_F(PermissionTransferTest, WebLeaveDailyAndHourlyWithTheirSheets) {
  srv_.Exec("Att", kLeavePair);
  srv_.Exec("Att_1399",
            AskAbsence(40, "1002", "05/11", "09:00", "05/11", "10:00", 21) +
                AskAbsence(41, "1002", "05/12", "", "05/12", "", 22) +
                "INSERT INTO DayMor (PageNo, PerNo, BeginDate, EndDate, Type) VALUES (7, "
                "'      1003', '05/01', '05/01', 22)\n");
  const PermissionTransferResult r = Run(K::prMor);
  EXPECT_EQ(r.Prepared, 3);
  EXPECT_EQ(r.Moved, 3);
  EXPECT_EQ(Moved(K::prMor),
            "1|1001|05/10|10:00|05/10|12:00|21; 2|1002|05/11|09:00|05/11|10:00|21 / "
            "7|1003|05/01|05/01|22; 8|1002|05/12|05/12|22");
  EXPECT_EQ(Render(srv_.Query("Att_1399",
                              "SELECT PAGENO, SodrinPageNo, DESCRIPT FROM Morkhasi "
                              "ORDER BY PAGENO")),
            "1||; 2|40|web");
  EXPECT_EQ(
      Render(srv_.Query("Att_1399", "SELECT PageNo, IsTransfer FROM AskAbsence ORDER BY PageNo")),
      "40|1; 41|1");
  EXPECT_EQ(Tmp(K::prMor), "");
  // A second run finds nothing more to do.
  const PermissionTransferResult again = Run(K::prMor);
  EXPECT_EQ(again.Prepared, 0);
  EXPECT_EQ(again.Moved, 0);
}

// Without the web tables the clock requests move and nothing of the web is read.
TEST_F(PermissionTransferTest, WithoutWebTablesOnlyClockRequestsMove) {
  srv_.Exec("Att", kLeavePair);
  srv_.Exec("Att_1399", "DROP TABLE AskMission");
  const PermissionTransferResult r = Run(K::prMor);
  EXPECT_FALSE(WebTablesExist);
  EXPECT_EQ(r.Moved, 1);
  EXPECT_EQ(Moved(K::prMor), "1|1001|05/10|10:00|05/10|12:00|21 / ");
}

// Without SodrinPageNo in the permission tables the web request's own sheet is not kept,
// and the move still happens.
TEST_F(PermissionTransferTest, WithoutWebFieldsTheOwnSheetIsNotCopied) {
  srv_.Exec("Att_1399", "ALTER TABLE Morkhasi DROP COLUMN SodrinPageNo");
  {
    TDmTransfer dm(srv_.DataDir());
    dm.InitialValues("1399", "", "", "Att", "", "CSSPerTemp", 7);
    ASSERT_FALSE(dm.ExistWebFields);
  }
  srv_.Exec("Att_1399", AskAbsence(40, "1002", "05/11", "09:00", "05/11", "10:00", 21));
  const PermissionTransferResult r = Run(K::prMor);
  EXPECT_EQ(r.Moved, 1);
  EXPECT_EQ(Moved(K::prMor), "1|1002|05/11|09:00|05/11|10:00|21 / ");
  EXPECT_EQ(Render(srv_.Query("Att_1399", "SELECT IsTransfer FROM AskAbsence")), "1");
}

// A request whose sheet and person are on record already is not inserted again, and the
// clean-up removes it from the intermediate table.
TEST_F(PermissionTransferTest, SheetAndPersonOnRecordNotInsertedButCleared) {
  srv_.Exec("Att_1399",
            "INSERT INTO Morkhasi (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, TYPE) "
            "VALUES (3, '      1001', '05/01', '08:00', '05/01', '09:00', 21)\n"
            "INSERT INTO TmpMor (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, "
            "INDECISIVE, TYPE, IsDaily) VALUES (3, '      1001', '05/10', '10:00', '05/10', "
            "'12:00', 0, 21, '0')");
  TDmTransfer dm(srv_.DataDir());
  dm.InitialValues("1399", "", "", "Att", "", "CSSPerTemp", 7);
  PermissionTransferResult r;
  dm.TransferPermission(K::prMor, r);
  EXPECT_EQ(r.Moved, 0);
  EXPECT_EQ(Moved(K::prMor), "3|1001|05/01|08:00|05/01|09:00|21 / ");
  EXPECT_EQ(Tmp(K::prMor), "");
}

// A whole-day web mission: its DayMam sheet is the next one, and its hours in MissionHour
// appear in MamDays under that sheet.
TEST_F(PermissionTransferTest, WholeDayWebMissionCopiesItsHours) {
  srv_.Exec("Att_1399",
            AskMission(50, "1001", "05/11", "", "05/12", "", 32, "trip") +
                "INSERT INTO MissionHour (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime) "
                "VALUES (50, '      1001', '05/11', '08:00', '05/11', '16:00')\n");
  const PermissionTransferResult r = Run(K::prMam);
  EXPECT_EQ(r.Moved, 1);
  EXPECT_EQ(Moved(K::prMam), " / 1|1001|05/11|05/12|32");
  EXPECT_EQ(Render(srv_.Query("Att_1399",
                              "SELECT PageNo, PerNo, BeginDate, BeginTime, EndDate, "
                              "EndTime FROM MamDays")),
            "1|1001|05/11|08:00|05/11|16:00");
  EXPECT_EQ(Render(srv_.Query("Att_1399", "SELECT IsTransfer FROM AskMission")), "1");
}

// An hourly web mission takes the next Mission sheet and keeps its own sheet number.
TEST_F(PermissionTransferTest, HourlyWebMissionMoves) {
  srv_.Exec("Att_1399", AskMission(60, "1002", "05/10", "09:00", "05/10", "11:00", 31, "site"));
  const PermissionTransferResult r = Run(K::prMam);
  EXPECT_EQ(r.Moved, 1);
  EXPECT_EQ(Moved(K::prMam), "1|1002|05/10|09:00|05/10|11:00|31 / ");
  EXPECT_EQ(Render(srv_.Query("Att_1399", "SELECT SodrinPageNo FROM Mission")), "60");
  EXPECT_EQ(Render(srv_.Query("Att_1399", "SELECT IsTransfer FROM AskMission")), "1");
  EXPECT_EQ(Tmp(K::prMam), "");
}

// The transfer's statements land together: a process ended between two of them leaves no
// permission and no tidied punch, and the next run moves the request once.
TEST_F(PermissionTransferTest, ARunKilledBetweenItsStatementsLosesNothing) {
  for (const char* step :
       {"بروز رساني رکوردهاي ورود و خروج", "حذف برگه هاي منتقل شده از جداول مياني"}) {
    SCOPED_TRACE(step);
    srv_.Exec("Att", "DELETE FROM ClockDmp\n" + kLeavePair);
    srv_.Exec("Att_1399", "DELETE FROM Morkhasi");
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      Run(K::prMor, [&](const std::string& state) {
        if (state == step) _exit(42);
      });
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 42);
    EXPECT_EQ(Moved(K::prMor), " / ");
    EXPECT_EQ(Punches(), "1|1|0; 2|0|0");
    Run(K::prMor);
    EXPECT_EQ(Moved(K::prMor), "1|1001|05/10|10:00|05/10|12:00|21 / ");
    EXPECT_EQ(Punches(), "1|0|0; 2|0|0");
  }
}

// The schedule's window moments, shifted by the floating start of the day or not: a blank
// time is the day's 00:00, and 24:00 or a shift past midnight lands on the next day.
TEST(FloatShiftedTime, DateWithTheMinutesOfTheTime) {
  struct Case {
    const char *date, *time;
    bool floating;
    const char* expected;
  } const cases[] = {
      {"05/10", "15:00", false, "05/1015:00"}, {"05/14", "", false, "05/1400:00"},
      {"05/10", "24:00", false, "05/1100:00"}, {"06/31", "24:00", false, "07/0100:00"},
      {"05/10", "15:00", true, "05/1015:20"},  {"05/10", "23:50", true, "05/1100:10"},
      {"05/14", "", true, "05/1400:20"},       {"", "", false, ""},
  };
  Tci day;
  day.DBEGINTIME = "07:00";
  Tcl cl;
  cl.FirstIo = "05/1007:20";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.date) + " " + c.time);
    Twg wg;
    wg.FLOATCAL = c.floating;
    wg.FLOATVAL = 30;
    EXPECT_EQ(TTransferUtils::FloatShiftedTime(c.date, c.time, "05/10", day, wg, cl, "1399"),
              c.expected);
  }
}

// A web request that cannot be read is skipped, kept untransferred and reported once with
// its sheet number; the clock request and the good web request of the same run move.
struct BadWebRequest {
  const char* name;
  K kind;
  std::string setup;   // year database: the bad request (sheet 40, person 1002)
  const char* reason;  // the end of its CSSLog comment
};

const std::string kAskAbsenceNullable =
    "DROP TABLE AskAbsence\n"
    "CREATE TABLE AskAbsence (PageNo int NULL, PerNo char(10) NOT NULL, BeginDate char(5) NULL, "
    "BeginTime char(5) NULL, EndDate char(5) NULL, EndTime char(5) NULL, Type int NULL, "
    "userDescription nvarchar(230) NULL, RecDate char(5) NULL, IsDaily bit NULL, IsApproved bit "
    "NULL, IsTransfer bit NULL)\n";

const BadWebRequest kBadWebRequests[] = {
    {"NullType", K::prMor,
     AskAbsence(40, "1002", "05/11", "09:00", "05/11", "10:00", 0) +
         "UPDATE AskAbsence SET Type = NULL WHERE PageNo = 40\n",
     "Web leave request 40 skipped and kept untransferred: no type"},
    {"UnknownType", K::prMor, AskAbsence(40, "1002", "05/11", "09:00", "05/11", "10:00", 777),
     "Web leave request 40 skipped and kept untransferred: type 777 is not a leave type"},
    {"NoSuchMonth", K::prMor, AskAbsence(40, "1002", "13/45", "09:00", "13/45", "10:00", 21),
     "Web leave request 40 skipped and kept untransferred: begin date '13/45' is not a day of "
     "1399"},
    {"NotADate", K::prMor, AskAbsence(40, "1002", "05/11", "09:00", "xx/yy", "10:00", 21),
     "Web leave request 40 skipped and kept untransferred: end date 'xx/yy' is not a day of 1399"},
    {"Day31OfAThirtyDayMonth", K::prMor,
     AskAbsence(40, "1002", "07/31", "09:00", "07/31", "10:00", 21),
     "Web leave request 40 skipped and kept untransferred: begin date '07/31' is not a day of "
     "1399"},
    {"NotATime", K::prMor, AskAbsence(40, "1002", "05/11", "99:99", "05/11", "10:00", 21),
     "Web leave request 40 skipped and kept untransferred: begin time '99:99' is not a time of "
     "day"},
    {"HourlyWithoutTimes", K::prMor, AskAbsence(40, "1002", "05/11", "", "05/11", "", 21),
     "Web leave request 40 skipped and kept untransferred: begin time '' is not a time of day"},
    {"EndsBeforeItBegins", K::prMor, AskAbsence(40, "1002", "05/11", "10:00", "05/11", "09:00", 21),
     "Web leave request 40 skipped and kept untransferred: it ends before it begins"},
    {"NullSheet", K::prMor,
     kAskAbsenceNullable + AskAbsence(40, "1002", "05/11", "09:00", "05/11", "10:00", 21) +
         "UPDATE AskAbsence SET PageNo = NULL WHERE PageNo = 40\n",
     "Web leave request without a sheet number skipped and kept untransferred: no sheet number"},
    {"MissionWithALeaveType", K::prMam,
     AskMission(40, "1002", "05/11", "09:00", "05/11", "10:00", 21, "x"),
     "Web mission request 40 skipped and kept untransferred: type 21 is not a mission type"},
    {"MissionWithoutType", K::prMam,
     AskMission(40, "1002", "05/11", "09:00", "05/11", "10:00", 0, "x") +
         "UPDATE AskMission SET Type = NULL WHERE PageNo = 40\n",
     "Web mission request 40 skipped and kept untransferred: no type"},
};

class BadWebRequestTest : public PermissionTransferTest,
                          public ::testing::WithParamInterface<BadWebRequest> {};

TEST_P(BadWebRequestTest, SkippedKeptAndReportedOnceTheOthersMove) {
  const BadWebRequest& c = GetParam();
  const bool leave = c.kind == K::prMor;
  srv_.Exec("Att", leave ? kLeavePair
                         : Card(1, "1001", "05/10", "10:00", 2, 2, "M01") +
                               Punch(2, "1001", "05/10", "12:00", 1));
  srv_.Exec(
      "Att_1399",
      c.setup + (leave ? AskAbsence(41, "1001", "05/11", "09:00", "05/11", "10:00", 21)
                       : AskMission(41, "1001", "05/11", "09:00", "05/11", "10:00", 31, "y")));
  const std::string ask = leave ? "AskAbsence" : "AskMission";
  const std::string type = leave ? "21" : "31";
  const std::string moved =
      "1|1001|05/10|10:00|05/10|12:00|" + type + "; 2|1001|05/11|09:00|05/11|10:00|" + type + " / ";
  const std::string kept = std::string(c.name) == "NullSheet" ? "|0; 41|1" : "40|0; 41|1";
  const std::string log = "1002|" + std::string(c.reason);
  for (int pass = 1; pass <= 2; ++pass) {
    SCOPED_TRACE(pass);
    const PermissionTransferResult r = Run(c.kind);
    EXPECT_EQ(r.Reported, 1);
    EXPECT_EQ(Moved(c.kind), moved);
    EXPECT_EQ(Render(srv_.Query("Att_1399",
                                "SELECT PageNo, IsTransfer FROM " + ask + " ORDER BY PageNo")),
              kept);
    EXPECT_EQ(Log(), log);
  }
}

INSTANTIATE_TEST_SUITE_P(Permission, BadWebRequestTest, ::testing::ValuesIn(kBadWebRequests),
                         [](const auto& info) { return std::string(info.param.name); });

// A request that overlaps another request moved in the same run collides as one that
// overlaps a sheet on record: the lower sheet moves, the other is noted and stays (and its
// web request stays untransferred).
TEST_F(PermissionTransferTest, SameMissionByCardAndByWebMovesOnce) {
  srv_.Exec("Att",
            Card(1, "1001", "05/10", "10:00", 2, 2, "M01") + Punch(2, "1001", "05/10", "12:00", 1));
  srv_.Exec("Att_1399", AskMission(60, "1001", "05/10", "10:00", "05/10", "12:00", 31, "site"));
  const PermissionTransferResult r = Run(K::prMam);
  EXPECT_EQ(r.Moved, 1);
  EXPECT_EQ(r.Collided, 1);
  EXPECT_EQ(Moved(K::prMam), "1|1001|05/10|10:00|05/10|12:00|31 / ");
  EXPECT_EQ(Render(srv_.Query("Att_1399", "SELECT PAGENO, INDECISIVE, Descript FROM TmpMam")),
            "2|2|ماموريت ساعتي: 1");
  EXPECT_EQ(Render(srv_.Query("Att_1399", "SELECT IsTransfer FROM AskMission")), "0");
  EXPECT_EQ(Punches(), "1|0|0; 2|0|0");
}

// Web leave requests of one run among themselves: each overlaps only what moves before it.
TEST_F(PermissionTransferTest, WebRequestsOfOneRunCollideWithWhatMoves) {
  struct Case {
    const char* name;
    std::string requests;
    const char* moved;     // Morkhasi / DayMor
    const char* tmp_left;  // PAGENO|INDECISIVE|Descript of TmpMor
  } const cases[] = {
      {"HourlyChain: 09-10 moves, 09:30-10:30 collides with it, 10:15-11 moves",
       AskAbsence(40, "1002", "05/11", "09:00", "05/11", "10:00", 21) +
           AskAbsence(41, "1002", "05/11", "09:30", "05/11", "10:30", 21) +
           AskAbsence(42, "1002", "05/11", "10:15", "05/11", "11:00", 21),
       "1|1002|05/11|09:00|05/11|10:00|21; 3|1002|05/11|10:15|05/11|11:00|21 / ",
       "2|2|مرخصي ساعتي: 1"},
      {"AdjacentHoursAndOtherPersonsMoveAll",
       AskAbsence(40, "1002", "05/11", "09:00", "05/11", "10:00", 21) +
           AskAbsence(41, "1002", "05/11", "10:00", "05/11", "11:00", 21) +
           AskAbsence(42, "1001", "05/11", "09:00", "05/11", "10:00", 21),
       "1|1002|05/11|09:00|05/11|10:00|21; 2|1002|05/11|10:00|05/11|11:00|21; "
       "3|1001|05/11|09:00|05/11|10:00|21 / ",
       ""},
      {"WholeDaysOverlapping: the second whole-day leave collides",
       AskAbsence(40, "1002", "05/11", "", "05/13", "", 22) +
           AskAbsence(41, "1002", "05/13", "", "05/14", "", 22),
       " / 1|1002|05/11|05/13|22", "2|2|webمرخصي روزانه: 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    srv_.Exec("Att_1399",
              "DELETE FROM AskAbsence\nDELETE FROM Morkhasi\nDELETE FROM DayMor\nDELETE FROM "
              "TmpMor\n" +
                  c.requests);
    Run(K::prMor);
    EXPECT_EQ(Moved(K::prMor), c.moved);
    EXPECT_EQ(Render(srv_.Query("Att_1399",
                                "SELECT PAGENO, INDECISIVE, Descript FROM TmpMor ORDER BY PAGENO")),
              c.tmp_left);
  }
}

// A server that rolls the transaction back on a failure the run catches (a deadlock victim,
// an error raised in a trigger): the step ends with nothing moved, nothing marked and
// nothing deleted, whether the failure came in the preparation or in the punch tidying,
// and the next run does it all.
TEST_F(PermissionTransferTest, AServerRollbackEndsTheStepWithNothingKept) {
  for (const char* piece : {"Delete ClockDmp", " Insert Into TmpMor"}) {
    SCOPED_TRACE(piece);
    srv_.Exec("Att", "DELETE FROM ClockDmp\n" + kLeavePair +
                         "UPDATE ClockDmp SET TRANSFERED = 1 WHERE REC = 2\n");
    srv_.Exec("Att_1399", "DELETE FROM AskAbsence\nDELETE FROM Morkhasi\nDELETE FROM TmpMor\n" +
                              AskAbsence(40, "1002", "05/11", "09:00", "05/11", "10:00", 21));
    {
      ::zel::testing::ScopedFaults faults({piece},
                                          ::zel::testing::FaultEffect::kRollsBackTransaction);
      try {
        Run(K::prMor);
        ADD_FAILURE() << "the step went on after the server rolled its transaction back";
      } catch (const db::DbError& e) {
        EXPECT_NE(std::string(e.what()).find("rolled the transaction back"), std::string::npos)
            << e.what();
      }
    }
    EXPECT_EQ(Moved(K::prMor), " / ");
    EXPECT_EQ(Render(srv_.Query("Att_1399", "SELECT IsTransfer FROM AskAbsence")), "0");
    EXPECT_EQ(Punches(), "1|1|0; 2|0|1");
    Run(K::prMor);
    EXPECT_EQ(Moved(K::prMor),
              "1|1001|05/10|10:00|05/10|12:00|21; 2|1002|05/11|09:00|05/11|10:00|21 / ");
    EXPECT_EQ(Render(srv_.Query("Att_1399", "SELECT IsTransfer FROM AskAbsence")), "1");
    EXPECT_EQ(Punches(), "1|0|0");
  }
}

// A stop asked for between persons abandons the kind's step whole: in the preparation the
// intermediate table stays as it was, as the transfer starts nothing moves; the next run
// does it all. The preparation asks before each person, the transfer once as it starts.
TEST_F(PermissionTransferTest, AStopAbandonsTheStepWhole) {
  struct Case {
    const char* name;
    int stop_at;      // the question answered with a stop
    const char* tmp;  // TmpMor after the stopped run
  } const cases[] = {
      {"before the second person", 2, "1003|05/01|08:00|05/01|09:00|9|1|0|0|21"},
      {"as the transfer starts", 3,
       "1001|05/10|10:00|05/10|12:00|1|0|1|2|21; 1002|05/10|10:00|05/10|12:00|2|0|3|4|21"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    srv_.Exec("Att", "DELETE FROM ClockDmp\n" + kLeavePair +
                         Card(3, "1002", "05/10", "10:00", 2, 1, "L01") +
                         Punch(4, "1002", "05/10", "12:00", 1));
    srv_.Exec("Att_1399",
              "DELETE FROM Morkhasi\nDELETE FROM TmpMor\n"
              "INSERT INTO TmpMor (PAGENO, PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, "
              "INDECISIVE, Rec1, Rec2, TYPE, IsDaily) VALUES (9, '      1003', '05/01', '08:00', "
              "'05/01', '09:00', 1, 0, 0, 21, '0')");
    int asked = 0;
    EXPECT_THROW(Run(K::prMor, nullptr, [&] { return ++asked == c.stop_at; }), TransferStopped);
    EXPECT_EQ(asked, c.stop_at);
    EXPECT_EQ(Tmp(K::prMor), c.tmp);
    EXPECT_EQ(Moved(K::prMor), " / ");
    EXPECT_EQ(Punches(), "1|1|0; 2|0|0; 3|1|0; 4|0|0");
    Run(K::prMor);
    EXPECT_EQ(Moved(K::prMor),
              "1|1001|05/10|10:00|05/10|12:00|21; 2|1002|05/10|10:00|05/10|12:00|21 / ");
    EXPECT_EQ(Punches(), "1|0|0; 2|0|0; 3|0|0; 4|0|0");
  }
}

// A punch whose date has no readable year is no punch of this year: it stays in ClockDmp
// untouched, and everybody else's service late, leave and mission move.
TEST_F(PermissionTransferTest, APunchWithAnUnreadableYearStopsNobody) {
  srv_.Exec("Att", kLeavePair + Card(3, "1001", "05/11", "10:00", 2, 2, "M01") +
                       Punch(4, "1001", "05/11", "12:00", 1) +
                       Card(5, "1001", "05/12", "08:20", 1, 3, "S01") +
                       "INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, IO_TYPE, "
                       "UNCERTAIN, TRANSFERED, SPCARDTYPE, SPECCARDNO, ClockKey, MASHINNO, "
                       "ComCode, FPM) VALUES (9, '1002', '      1002', 'x405/09/01', '10:00', '2', "
                       "0, 0, 1, 'L01', '', '1', 1, 0)\n");
  for (K kind : {K::prSlate, K::prMor, K::prMam}) Run(kind);
  EXPECT_EQ(Moved(K::prSlate), "1|1001|05/12|07:00|05/12|08:20|1");
  EXPECT_EQ(Moved(K::prMor), "1|1001|05/10|10:00|05/10|12:00|21 / ");
  EXPECT_EQ(Moved(K::prMam), "1|1001|05/11|10:00|05/11|12:00|31 / ");
  EXPECT_EQ(Punches(), "1|0|0; 2|0|0; 3|0|0; 4|0|0; 5|0|0; 9|1|0");
}

}  // namespace
}  // namespace zel::transfer
