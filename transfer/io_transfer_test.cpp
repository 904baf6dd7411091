// The IO transfer on the embedded engine, scenario by scenario: labelled punches in
// ClockDmp, one or two transfer runs, then the IoInfo rows, the punches left in ClockDmp
// and the calculation-log rows. The organisation is the statement corpus' seed: calendar 1
// (duty 07:00-15:00, day end 23:59) from 05/09 to 05/13 and on the year's first and last
// day, persons 1001 and 1002 in office group 1, person 1003 in shift group 6.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "dates/zel_calc_utils.h"
#include "db/client.h"
#include "schema/schema.h"
#include "testing/faulty_connection.h"
#include "testing/temp_server.h"
#include "transfer/dm_transfer.h"
#include "transfer/transfer_texts.h"
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

// Calendar 2: night duty 22:00-06:00 from 05/09 to 05/11, each day ending next morning at
// `end`; group 2 uses it and person 1002 belongs to it.
std::string NightCalendar(const std::string& end) {
  std::string sql;
  for (const auto& [d, n] : {std::pair{"05/09", "05/10"}, {"05/10", "05/11"}, {"05/11", "05/12"}}) {
    sql += std::string(
               "INSERT INTO CalItem (CALCODE, DBEGINDATE, DBEGINTIME, DENDDATE, DENDTIME, "
               "EBEGINDATE, EBEGINTIME, EENDDATE, EENDTIME, ENDDATE, ENDTIME, HOLIDAY) "
               "VALUES (2, '") +
           d + "', '22:00', '" + n + "', '06:00', '" + d + "', '21:00', '" + n + "', '07:00', '" +
           n + "', '" + end + "', 0)\n";
  }
  return sql + "UPDATE PrjRule SET WORKGROUP = 2 WHERE PERNO = '      1002'\n";
}
const char* const kNightGroup =
    "INSERT INTO WorkGrp (CODE, NAME, CALCODE, GShCode, GROUPTYPE, FLOATCAL, FLOATVAL, "
    "OverFloat, IOPairing, LastExitEndDay, IntelligentType) VALUES (2, N'Night', 2, 0, 1, 0, '', "
    "0, 0, 60, 0)\n";

// A stored entry on 05/14 at 22:00 and a stored exit alone on 05/16 at 07:00 of person
// 1001, on days without a calendar item.
const char* const kStoredEntry1422 =
    "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration, BBEGINTIME) "
    "VALUES ('      1001', '05/14', '22:00', '', '', 0, '22:00')";
const char* const kStoredExit1607 =
    "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration, BBEGINTIME, "
    "BENDDATE, BENDTIME) VALUES ('      1001', '05/16', '07:00', '05/16', '07:00', 0, '07:00', "
    "'05/16', '07:00')";

struct TransferRun {
  std::string base_sql;  // rows of the base database (punches) before the run
  std::string year_sql;  // rows of the year database before the run
  bool certain_only = false;
};

struct Scenario {
  const char* name;
  std::vector<TransferRun> runs;
  const char* io_rows;   // PERNO|BEGINDATE|BEGINTIME|ENDDATE|ENDTIME|Duration|BBEGINTIME
  const char* punches;   // REC|TRANSFERED left in ClockDmp
  const char* log_part;  // a text one CSSLog comment holds ("" = no CSSLog row)
};

class IoTransferTest : public ::testing::Test {
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
  IOTransferResult Transfer(bool certain_only, TTransferUtilsDeclareState state = nullptr) {
    TDmTransfer dm(srv_.DataDir());
    dm.SetDeclareState(std::move(state));
    dm.InitialValues("1399", "", "", "Att", "", "CSSPerTemp", 7);
    return dm.MyIOTransfer(certain_only);
  }
  std::string IoRows() {
    return Render(srv_.Query("Att_1399",
                             "SELECT PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration, "
                             "BBEGINTIME FROM IoInfo ORDER BY PERNO, BEGINDATE, BEGINTIME"));
  }
  std::string Punches() {
    return Render(srv_.Query("Att", "SELECT REC, TRANSFERED FROM ClockDmp ORDER BY REC"));
  }
  std::string Log() {
    return Render(srv_.Query("Att",
                             "SELECT PerNo, Comment FROM CSSLog WHERE ScheduleId = 7 "
                             "ORDER BY Id"));
  }

  TestServer srv_;
};

const Scenario kScenarios[] = {
    {"DayShift",
     {{Punch(1, "1001", "05/10", "07:30", 1) + Punch(2, "1001", "05/10", "15:10", 2), ""}},
     "1001|05/10|07:30|05/10|15:10|460|07:30",
     "",
     ""},
    {"NightShiftPairedToTheFirstDay",
     {{kNightGroup + Punch(1, "1002", "05/10", "22:00", 1) + Punch(2, "1002", "05/11", "06:00", 2),
       NightCalendar("08:00")}},
     "1002|05/10|22:00|05/11|06:00|480|22:00",
     "",
     ""},
    {"EntryAfterMidnightWithinThePreviousDay",
     {{kNightGroup + Punch(1, "1002", "05/11", "07:30", 1) + Punch(2, "1002", "05/11", "15:00", 2),
       NightCalendar("08:00")}},
     // Taken on 05/10 (which ends 05/11 08:00); the exit belongs to 05/11.
     "1002|05/11|07:30|||0|07:30; 1002|05/11|15:00|05/11|15:00|0|15:00",
     "",
     ""},
    {"EntryAfterThePreviousDaysEnd",
     {{kNightGroup + Punch(1, "1002", "05/11", "07:30", 1) + Punch(2, "1002", "05/11", "15:00", 2),
       NightCalendar("07:00")}},
     "1002|05/11|07:30|05/11|15:00|450|07:30",
     "",
     ""},
    {"LateExitWithinLastExitEndDay",
     {{Punch(1, "1001", "05/10", "20:00", 1) + Punch(2, "1001", "05/11", "00:49", 2), ""}},
     "1001|05/10|20:00|05/11|00:49|289|20:00",
     "",
     ""},
    {"LateExitBeyondLastExitEndDay",
     {{"UPDATE WorkGrp SET LastExitEndDay = 40 WHERE CODE = 1\n" +
           Punch(1, "1001", "05/10", "20:00", 1) + Punch(2, "1001", "05/11", "00:49", 2),
       ""}},
     "1001|05/10|20:00|||0|20:00; 1001|05/11|00:49|05/11|00:49|0|00:49",
     "",
     ""},
    {"TwoEntriesThenALaterExitCompletesTheFirst",
     {{Punch(1, "1001", "05/10", "07:00", 1) + Punch(2, "1001", "05/10", "07:20", 1), ""},
      {Punch(3, "1001", "05/10", "15:00", 2), ""}},
     "1001|05/10|07:00|05/10|15:00|480|07:00; 1001|05/10|07:20|||0|07:20",
     "",
     ""},
    {"ExitAloneThenCompletedByAnEntry",
     {{Punch(1, "1001", "05/10", "15:00", 2), ""}, {Punch(2, "1001", "05/10", "07:00", 1), ""}},
     "1001|05/10|07:00|05/10|15:00|480|07:00",
     "",
     ""},
    {"DuplicateReportedAndTheRunGoesOn",
     {{Punch(1, "1001", "05/10", "07:00", 1) + Punch(2, "1001", "05/10", "16:00", 2) +
           Punch(3, "1002", "05/10", "08:00", 1) + Punch(4, "1002", "05/10", "16:00", 2),
       "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration) VALUES "
       "('      1001', '05/10', '07:00', '05/10', '15:00', 480)"}},
     "1001|05/10|07:00|05/10|15:00|480|; 1002|05/10|08:00|05/10|16:00|480|08:00",
     "2|0",  // the exit at 16:00 does not repeat what is on record: it stays
     "ورود و خروج قبلاً ثبت شده : شماره پرسنلي       1001 تاريخ ورود: 05/10 زمان ورود: 07:00"},
    {"RoundingKeepsTheRawBeginTime",
     {{"UPDATE SYSTEM SET Round = 1, RoundVal = 10, RoundBound = 5\n" +
           Punch(1, "1001", "05/10", "07:54", 1) + Punch(2, "1001", "05/10", "16:00", 2) +
           Punch(3, "1002", "05/10", "07:55", 1) + Punch(4, "1002", "05/10", "16:00", 2),
       ""}},
     "1001|05/10|07:50|05/10|16:00|490|07:54; 1002|05/10|08:00|05/10|16:00|480|07:55",
     "",
     ""},
    {"CertainOnlyLeavesUncertainPunches",
     {{Punch(1, "1001", "05/10", "07:00", 1) + Punch(2, "1001", "05/10", "15:00", 2, 1), "", true}},
     "1001|05/10|07:00|||0|07:00",
     "2|0",
     ""},
    {"PunchWithoutRuleKeptAndReported",
     {{Punch(1, "7777", "05/10", "07:00", 1) + Punch(2, "7777", "05/10", "15:00", 2) +
           Punch(3, "1001", "05/10", "07:00", 1),
       ""}},
     "1001|05/10|07:00|||0|07:00",
     "1|0; 2|0",
     "Punches kept in ClockDmp for a later transfer: card 7777, day 1399/05/10, 2 punch(es); no "
     "work rule "
     "with a work group for the card on that day"},
    {"ShiftGroupDayAndNight",
     {{Punch(1, "1003", "05/10", "07:00", 1) + Punch(2, "1003", "05/10", "15:00", 2) +
           Punch(3, "1003", "05/11", "22:00", 1) + Punch(4, "1003", "05/12", "06:00", 2),
       ""}},
     "1003|05/10|07:00|05/10|15:00|480|07:00; 1003|05/11|22:00|05/12|06:00|480|22:00",
     "",
     ""},
    {"YearsFirstAndLastDay",
     {{Punch(1, "1001", "01/01", "09:00", 1) + Punch(2, "1001", "01/01", "13:00", 2) +
           Punch(3, "1001", "12/30", "07:00", 1) + Punch(4, "1001", "12/30", "15:00", 2),
       ""}},
     "1001|01/01|09:00|01/01|13:00|240|09:00; 1001|12/30|07:00|12/30|15:00|480|07:00",
     "",
     ""},
    {"PermissionPunchesMarkedAndKept",
     {{Punch(1, "1001", "05/10", "07:00", 1) + Punch(2, "1001", "05/10", "10:00", 2, 0, 1) +
           Punch(3, "1001", "05/10", "12:00", 1) + Punch(4, "1001", "05/10", "15:00", 2),
       ""}},
     "1001|05/10|07:00|05/10|10:00|180|07:00; 1001|05/10|12:00|05/10|15:00|180|12:00",
     "2|1; 3|1",
     ""},
    {"LargePunchNumbersMarked",
     {{Punch(100000001, "1001", "05/10", "07:00", 1) +
           Punch(100000002, "1001", "05/10", "10:00", 2, 0, 1) +
           Punch(100000003, "1001", "05/10", "12:00", 1),
       ""}},
     "1001|05/10|07:00|05/10|10:00|180|07:00; 1001|05/10|12:00|||0|12:00",
     "100000002|1; 100000003|1",
     ""},
    // Rounded up to the day's end: 00:00 of the next day, the punches' own times kept.
    {"RoundedUpPastMidnightIntoTheNextDay",
     {{"UPDATE SYSTEM SET Round = 1, RoundVal = 10, RoundBound = 5\n" +
           Punch(1, "1001", "05/10", "16:00", 1) + Punch(2, "1001", "05/10", "23:58", 2) +
           Punch(3, "1002", "05/10", "23:57", 1),
       ""}},
     "1001|05/10|16:00|05/11|00:00|480|16:00; 1002|05/11|00:00|||0|23:57",
     "",
     ""},
    // Days without a calendar item (05/14 on): with IOPairing 2 the exit of the next day
    // completes the stored entry on its yesterday row; otherwise that row is skipped and the
    // exit, completing nothing on its own day, stays.
    {"IOPairing2CompletesAnEntryOfADayWithoutCalendar",
     {{"UPDATE WorkGrp SET IOPairing = 2 WHERE CODE = 1\n" + Punch(1, "1001", "05/15", "06:00", 2),
       kStoredEntry1422}},
     "1001|05/14|22:00|05/15|06:00|480|22:00",
     "",
     ""},
    {"IOPairing0LeavesAnEntryOfADayWithoutCalendar",
     {{Punch(1, "1001", "05/15", "06:00", 2), kStoredEntry1422}},
     "1001|05/14|22:00|||0|22:00",
     "1|0",
     "Punches kept in ClockDmp for a later transfer: card 1001, day 1399/05/15, 1 punch(es); its "
     "record was "
     "not written: the stored half-record it completes no longer matches"},
    // With IOPairing 2 an entry already used on its own day is taken again on the next day
    // while its record is incomplete, there to be completed by a stored exit alone.
    {"IOPairing2TakesAnIncompleteEntryAgainOnTheNextDay",
     {{"UPDATE WorkGrp SET IOPairing = 2 WHERE CODE = 1\n" + Punch(1, "1001", "05/15", "08:00", 1),
       kStoredExit1607}},
     "1001|05/15|08:00|05/16|07:00|1380|08:00",
     "",
     ""},
    {"IOPairing0TakesAnEntryOnce",
     {{Punch(1, "1001", "05/15", "08:00", 1), kStoredExit1607}},
     "1001|05/15|08:00|||0|08:00; 1001|05/16|07:00|05/16|07:00|0|07:00",
     "",
     ""},
    // A work group of type 5 keeps an exit on a later, not contiguous day in the record.
    {"GroupType5ExitOfALaterDayClosesTheEntry",
     {{"UPDATE WorkGrp SET LastExitEndDay = 40, GROUPTYPE = 5 WHERE CODE = 1\n" +
           Punch(1, "1001", "05/10", "20:00", 1) + Punch(2, "1001", "05/11", "00:49", 2),
       ""}},
     "1001|05/10|20:00|05/11|00:49|289|20:00",
     "",
     ""},
    // Contiguous days (05/10 ends when 05/11 begins): an exit too late for 05/10 completes
    // the entry stored on 05/10 from its own day.
    {"CompletesThePreviousDaysStoredEntry",
     {{kNightGroup + Punch(1, "1002", "05/11", "23:30", 2),
       NightCalendar("22:00") +
           "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration, "
           "BBEGINTIME) VALUES ('      1002', '05/10', '22:00', '', '', 0, '22:00')"}},
     "1002|05/10|22:00|05/11|23:30|1530|22:00",
     "",
     ""},
    {"ARecordClosesWhenThePersonChanges",
     {{Punch(1, "1001", "05/10", "07:00", 1) + Punch(2, "1002", "05/10", "15:00", 2), ""}},
     "1001|05/10|07:00|||0|07:00; 1002|05/10|15:00|05/10|15:00|0|15:00",
     "",
     ""},
    // Only the persons of the run's list; the others' punches are left alone, unreported.
    {"OnlyThePersonsOfTheList",
     {{"INSERT INTO CSSPerTemp (PerNo) VALUES ('      1002')\n" +
           Punch(1, "1001", "05/10", "07:00", 1) + Punch(2, "1001", "05/10", "15:00", 2) +
           Punch(3, "1002", "05/10", "08:00", 1) + Punch(4, "1002", "05/10", "16:00", 2),
       ""}},
     "1002|05/10|08:00|05/10|16:00|480|08:00",
     "1|0; 2|0",
     ""},
    // A terminal sent the stored entry again, then the exit came: the exit completes the
    // stored entry and the repeat goes.
    {"AnEntrySentAgainThenItsExitCompletesTheStoredEntry",
     {{Punch(1, "1001", "05/10", "07:00", 1) + Punch(2, "1001", "05/10", "15:00", 2),
       "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration, BBEGINTIME) "
       "VALUES ('      1001', '05/10', '07:00', '', '', 0, '07:00')"}},
     "1001|05/10|07:00|05/10|15:00|480|07:00",
     "",
     ""},
    // Rounded to the stored entry's begin but not its repeat: the exit still completes the
    // stored entry; the other entry stays and is reported.
    {"AnEntryRoundedOntoTheStoredEntryStays",
     {{"UPDATE SYSTEM SET Round = 1, RoundVal = 10, RoundBound = 5\n" +
           Punch(1, "1001", "05/10", "07:52", 1) + Punch(2, "1001", "05/10", "15:00", 2),
       "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration, BBEGINTIME) "
       "VALUES ('      1001', '05/10', '07:50', '', '', 0, '07:54')"}},
     "1001|05/10|07:50|05/10|15:00|430|07:54",
     "1|0",
     "Punches kept in ClockDmp for a later transfer: card 1001, day 1399/05/10, 1 punch(es); its "
     "record was "
     "not written: a record beginning 05/10 07:50 is on record (end none) and the punch does not "
     "repeat it"},
};

TEST_F(IoTransferTest, RecordWritesAreCopiedToTheLogDatabase) {
  srv_.Exec("Att",
            "UPDATE SYSTEM SET Round = 1, RoundVal = 10, RoundBound = 5, "
            "EnableSystemLog = 1\n" +
                Punch(1, "1001", "05/10", "07:54", 1));
  Transfer(false);
  srv_.Exec("Att", Punch(2, "1001", "05/10", "15:58", 2));
  Transfer(false);
  EXPECT_EQ(IoRows(), "1001|05/10|07:50|05/10|16:00|490|07:54");
  auto base = srv_.Open("Att");
  const std::string today = TDmTransfer::GetNowDate(*base);
  // The insert of the entry, then the update that completes it; the raw times beside the
  // rounded ones.
  EXPECT_EQ(Render(srv_.Query("ZELLog",
                              "SELECT PerNo_N, BeginTime_N, EndDate_N, EndTime_N, Duration_N, "
                              "BBeginTime_N, BEndTime_N, UserCode, ActionDate, ActionType, RecYear "
                              "FROM IOInfo_Log ORDER BY Id")),
            "1001|07:50|||0|07:54||000|" + today +
                "|1|1399; 1001|07:50|05/10|16:00|490|07:50|15:58|000|" + today + "|1|1399");
}

TEST_F(IoTransferTest, RunCountsWhatItDid) {
  srv_.Exec("Att", Punch(1, "1001", "05/10", "07:00", 1) + Punch(2, "1001", "05/10", "16:00", 2) +
                       Punch(3, "1002", "05/10", "08:00", 1) +
                       Punch(4, "1002", "05/10", "10:00", 2, 0, 1) +
                       Punch(5, "1002", "05/10", "12:00", 1) +
                       Punch(6, "7777", "05/10", "08:00", 1) +
                       Punch(7, "1003", "05/10", "07:00", 2));
  srv_.Exec("Att_1399",
            "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration) VALUES "
            "('      1001', '05/10', '07:00', '05/10', '15:00', 480), "
            "('      1003', '05/10', '06:30', '', '', 0)");
  const IOTransferResult r = Transfer(false);
  EXPECT_EQ(r.Records, 4);
  EXPECT_EQ(r.Inserted, 2);   // 1002's 08:00-10:00 and 12:00 alone
  EXPECT_EQ(r.Completed, 1);  // 1003's stored entry
  EXPECT_EQ(r.Failed, 1);     // 1001's duplicate
  EXPECT_EQ(r.Duplicates, 1);
  EXPECT_EQ(r.PunchesMarked, 2);  // the leave card's exit and the entry closing it
  // Card 7777, and 1001's exit at 16:00, which does not repeat the stored 07:00-15:00 (its
  // entry at 07:00 does, and goes).
  EXPECT_EQ(r.PunchesKept, 2);
  EXPECT_EQ(r.PunchesDeleted, 3);
  EXPECT_EQ(Punches(), "2|0; 4|1; 5|1; 6|0");
}

// A stored entry written before rounding was switched on (07:54): the exit completes it,
// found by its stored begin, which stays as stored. A stored half removed after the
// pairing matches no row: the exit stays in ClockDmp and is reported once.
TEST_F(IoTransferTest, CompletingAStoredHalfFindsItByItsStoredValues) {
  const struct {
    bool removed_meanwhile;
    int completed, failed;
    const char* io_rows;
    const char* punches;
    const char* log;
  } cases[] = {
      {false, 1, 0, "1001|05/10|07:54|05/10|15:00|426|", "", ""},
      {true, 0, 1, "", "1|0",
       "1001|Punches kept in ClockDmp for a later transfer: card 1001, day 1399/05/10, 1 "
       "punch(es); its "
       "record was not written: the stored half-record it completes no longer matches"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.removed_meanwhile);
    srv_.Exec("Att",
              "DELETE FROM CSSLog\nDELETE FROM ClockDmp\n"
              "UPDATE SYSTEM SET Round = 1, RoundVal = 10, RoundBound = 5\n" +
                  Punch(1, "1001", "05/10", "15:00", 2));
    srv_.Exec("Att_1399",
              "DELETE FROM IoInfo\n"
              "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration) "
              "VALUES ('      1001', '05/10', '07:54', '', '', 0)");
    const auto state = [&](const std::string& step) {
      if (c.removed_meanwhile && step == "درج/ويرايش ورود و خروجها")
        srv_.Exec("Att_1399", "DELETE FROM IoInfo");
    };
    const IOTransferResult r = Transfer(false, state);
    EXPECT_EQ(r.Records, 1);
    EXPECT_EQ(r.Completed, c.completed);
    EXPECT_EQ(r.Failed, c.failed);
    EXPECT_EQ(IoRows(), c.io_rows);
    EXPECT_EQ(Punches(), c.punches);
    EXPECT_EQ(Log(), c.log);
  }
}

// A transfer cut short at any step leaves no trace; the next run does the whole work once.
TEST_F(IoTransferTest, ARunKilledBetweenItsStepsLosesNothing) {
  const std::string punches =
      Punch(1, "1001", "05/10", "07:00", 1) + Punch(2, "1001", "05/10", "10:00", 2, 0, 1) +
      Punch(3, "1001", "05/10", "12:00", 1) + Punch(4, "1001", "05/10", "15:00", 2) +
      Punch(5, "1002", "05/10", "08:00", 1);
  const char* const kDone =
      "1001|05/10|07:00|05/10|10:00|180|07:00; 1001|05/10|12:00|05/10|15:00|180|12:00; "
      "1002|05/10|08:00|||0|08:00";
  const struct {
    const char* step;  // the process dies as this step begins
    bool written;      // the run had committed
  } cases[] = {
      {"درج/ويرايش ورود و خروجها", false},                             // records next
      {"واكشي اطلاعات برگه هاي مرخصي ،ماموريت و تاخير سرويس", false},  // records written
      {"مقداردهي فيلد transfer", false},                               // marks next
      {"حذف ركوردهاي انتقال داده شده", false},                         // delete next
      {"", true},                                                      // all done
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    srv_.Exec("Att", "DELETE FROM ClockDmp\n" + punches);
    srv_.Exec("Att_1399", "DELETE FROM IoInfo");
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      Transfer(false, [&](const std::string& state) {
        if (state == c.step) _exit(42);
      });
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 42);
    EXPECT_EQ(IoRows(), c.written ? kDone : "");
    EXPECT_EQ(Punches(), c.written ? "2|1; 3|1" : "1|0; 2|0; 3|0; 4|0; 5|0");
    Transfer(false);
    EXPECT_EQ(IoRows(), kDone);
    EXPECT_EQ(Punches(), "2|1; 3|1");
    EXPECT_EQ(Log(), "");
  }
}

// A stop asked for between persons (or before the punches are tidied) abandons the run
// whole: nothing written, marked or deleted, nothing reported; the next run does it all.
TEST_F(IoTransferTest, AStopAbandonsTheRunWhole) {
  const std::string punches =
      Punch(1, "1001", "05/10", "07:00", 1) + Punch(2, "1001", "05/10", "15:00", 2) +
      Punch(3, "1002", "05/10", "08:00", 1) + Punch(4, "1002", "05/10", "10:00", 2, 0, 1) +
      Punch(5, "1002", "05/10", "12:00", 1);
  const char* const kDone =
      "1001|05/10|07:00|05/10|15:00|480|07:00; 1002|05/10|08:00|05/10|10:00|120|08:00; "
      "1002|05/10|12:00|||0|12:00";
  // The run asks before each of its two persons and once before the tidying.
  for (int stop_at : {1, 2, 3}) {
    SCOPED_TRACE(stop_at);
    srv_.Exec("Att", "DELETE FROM ClockDmp\n" + punches);
    srv_.Exec("Att_1399", "DELETE FROM IoInfo");
    int asked = 0;
    {
      TDmTransfer dm(srv_.DataDir());
      dm.StopRequested = [&] { return ++asked == stop_at; };
      dm.InitialValues("1399", "", "", "Att", "", "CSSPerTemp", 7);
      EXPECT_THROW(dm.MyIOTransfer(false), TransferStopped);
    }
    EXPECT_EQ(asked, stop_at);
    EXPECT_EQ(IoRows(), "");
    EXPECT_EQ(Punches(), "1|0; 2|0; 3|0; 4|0; 5|0");
    EXPECT_EQ(Log(), "");
    Transfer(false);
    EXPECT_EQ(IoRows(), kDone);
    EXPECT_EQ(Punches(), "4|1; 5|1");
  }
}

// The pairing reads one run of persons at a time and a stop asked for between two runs ends
// it there, abandoning the run whole; read in runs, the pairing makes the records one read
// makes.
TEST_F(IoTransferTest, AStopEndsThePairingBetweenRunsOfPersons) {
  const std::string punches =
      Punch(1, "1001", "05/10", "07:00", 1) + Punch(2, "1001", "05/10", "15:00", 2) +
      Punch(3, "1002", "05/10", "08:00", 1) + Punch(4, "1002", "05/10", "16:00", 2) +
      Punch(5, "1003", "05/11", "21:55", 1);
  const char* const kDone =
      "1001|05/10|07:00|05/10|15:00|480|07:00; 1002|05/10|08:00|05/10|16:00|480|08:00; "
      "1003|05/11|21:55|||0|21:55";
  srv_.Exec("Att", punches);
  std::vector<std::string> steps;
  int asked = 0;
  {
    TDmTransfer dm(srv_.DataDir());
    dm.PairingPunches = 1;
    dm.SetDeclareState([&](const std::string& state) { steps.push_back(state); });
    dm.StopRequested = [&] { return ++asked == 1; };
    dm.InitialValues("1399", "", "", "Att", "", "CSSPerTemp", 7);
    EXPECT_THROW(dm.MyIOTransfer(false), TransferStopped);
  }
  EXPECT_EQ(asked, 1);
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(steps.back(), "جفت كردن ورود و خروجها");
  EXPECT_EQ(IoRows(), "");
  EXPECT_EQ(Punches(), "1|0; 2|0; 3|0; 4|0; 5|0");

  TDmTransfer dm(srv_.DataDir());
  dm.PairingPunches = 1;
  dm.InitialValues("1399", "", "", "Att", "", "CSSPerTemp", 7);
  const IOTransferResult result = dm.MyIOTransfer(false);
  EXPECT_EQ(result.Records, 3);
  EXPECT_EQ(IoRows(), kDone);
  EXPECT_EQ(Punches(), "");
}

// A record write that fails is reported and the run goes on; a failure after which the
// server rolled the transaction back (deadlock victim, error raised in a trigger) ends the
// run with nothing written, marked, deleted or reported, and the next run does it all. A
// failing mark for the permissions ends the run too: unmarked, its punch would be lost.
TEST_F(IoTransferTest, AServerThatRolledTheTransactionBackEndsTheRun) {
  const std::string punches =
      Punch(1, "1001", "05/10", "07:00", 1) + Punch(2, "1001", "05/10", "15:00", 2) +
      Punch(3, "1002", "05/10", "08:00", 1) + Punch(4, "1002", "05/10", "10:00", 2, 0, 1) +
      Punch(5, "1002", "05/10", "12:00", 1);
  const char* const kDone =
      "1001|05/10|07:00|05/10|15:00|480|07:00; 1002|05/10|08:00|05/10|10:00|120|08:00; "
      "1002|05/10|12:00|||0|12:00";
  const char* const kUntouched = "1|0; 2|0; 3|0; 4|0; 5|0";
  const struct {
    const char* piece;  // the failing statement
    testing::FaultEffect effect;
    const char* error;    // a part of the run's failure ("": the run goes on)
    const char* io_rows;  // after the failing run ("" when it ended)
    const char* punches;
  } cases[] = {
      {"('      1002','05/10','08:00'", testing::FaultEffect::kStatementOnly, "",
       "1001|05/10|07:00|05/10|15:00|480|07:00; 1002|05/10|12:00|||0|12:00", "3|0; 4|1; 5|1"},
      {"('      1002','05/10','08:00'", testing::FaultEffect::kRollsBackTransaction,
       "rolled its transaction back", "", kUntouched},
      {"SET TRANSFERED = 1", testing::FaultEffect::kStatementOnly,
       "injected failure: SET TRANSFERED = 1", "", kUntouched},
      {"SET TRANSFERED = 1", testing::FaultEffect::kRollsBackTransaction,
       "injected failure: SET TRANSFERED = 1", "", kUntouched},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.piece) + (c.effect == testing::FaultEffect::kStatementOnly
                                             ? " statement only"
                                             : " rolled back"));
    srv_.Exec("Att", "DELETE FROM ClockDmp\nDELETE FROM CSSLog\n" + punches);
    srv_.Exec("Att_1399", "DELETE FROM IoInfo");
    const bool ends = *c.error != 0;
    {
      const testing::ScopedFaults faults({c.piece}, c.effect);
      if (ends) {
        try {
          Transfer(false);
          ADD_FAILURE() << "the run went on";
        } catch (const db::DbError& e) {
          EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
      } else {
        Transfer(false);
      }
    }
    EXPECT_EQ(IoRows(), c.io_rows);
    EXPECT_EQ(Punches(), c.punches);
    if (ends)
      EXPECT_EQ(Log(), "");
    else
      EXPECT_NE(Log().find("injected failure"), std::string::npos) << Log();
    if (!ends) continue;
    Transfer(false);
    EXPECT_EQ(IoRows(), kDone);
    EXPECT_EQ(Punches(), "4|1; 5|1");
  }
}

// Dirty rows among good ones: a punch whose year cannot be read (the punch queries compare
// the year as text, so it is only not this year's), a stored entry whose time fails the
// duration (that record fails alone), and a stored entry the pairing cannot read ("7:55",
// reported; its day's exit stands alone). Everyone else's records are written; the kept punches and
// the unreadable entry are reported once, with the person number as the calculation writes it, and
// a second run reports nothing new.
TEST_F(IoTransferTest, DirtyRowsStopOnlyThemselves) {
  srv_.Exec("Att",
            Punch(1, "1001", "05/10", "07:00", 1) + Punch(2, "1001", "05/10", "15:00", 2) +
                Punch(3, "1002", "05/10", "15:00", 2) + Punch(4, "1002", "05/11", "15:00", 2) +
                Punch(5, "1001", "05/11", "07:00", 1) + Punch(6, "1001", "05/11", "15:00", 2) +
                Punch(7, "7777", "05/11", "08:00", 1) +
                "INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, IO_TYPE, "
                "UNCERTAIN, TRANSFERED, SPCARDTYPE) VALUES (8, '1001', '      1001', "
                "'x405/09/01', '07:00', '1', 0, 0, 0)\n");
  srv_.Exec("Att_1399",
            "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration) VALUES "
            "('      1002', '05/10', '12:xx', '', '', 0), ('      1002', '05/11', '7:55', '', '', "
            "0)");
  const IOTransferResult r = Transfer(false);
  EXPECT_EQ(r.Failed, 1);
  EXPECT_EQ(IoRows(),
            "1001|05/10|07:00|05/10|15:00|480|07:00; 1001|05/11|07:00|05/11|15:00|480|07:00; "
            "1002|05/10|12:xx|||0|; 1002|05/11|15:00|05/11|15:00|0|15:00; 1002|05/11|7:55|||0|");
  EXPECT_EQ(Punches(), "3|0; 7|0; 8|0");
  const std::string log = Log();
  for (const char* part :
       {"Perno:       1002 Enter: 05/10 12:xx  Exit: 05/10 15:00",
        "1002|Punches kept in ClockDmp for a later transfer: card 1002, day 1399/05/10, 1 "
        "punch(es); its "
        "record was not written: ",
        "1002|Stored entry without its other half is not completed by the transfer: its moment "
        "cannot be read (05/11 7:55)",
        "|Punches kept in ClockDmp for a later transfer: card 7777, day 1399/05/11, 1 punch(es); "
        "no work rule "
        "with a work group for the card on that day"}) {
    EXPECT_NE(log.find(part), std::string::npos) << part << "\n" << log;
  }
  // The record failure, the two unreadable stored entries, the two kept days.
  EXPECT_EQ(Render(srv_.Query("Att", "SELECT COUNT(*) FROM CSSLog")), "5") << log;
  EXPECT_EQ(Render(srv_.Query("Att", "SELECT COUNT(*) FROM CSSLog WHERE PerNo LIKE ' %'")), "0");
  Transfer(false);
  EXPECT_EQ(Render(srv_.Query("Att", "SELECT COUNT(*) FROM CSSLog")), "5");
  EXPECT_EQ(Punches(), "3|0; 7|0; 8|0");
}

// Every column of the records: an entry and exit of the run, and an entry completing a
// stored exit alone, whose exit side (clock, company code, picture, web mark) is kept and
// whose fingerprint marks add up.
TEST_F(IoTransferTest, EveryColumnOfTheRecords) {
  srv_.Exec("Att",
            "INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, IO_TYPE, UNCERTAIN, "
            "TRANSFERED, SPCARDTYPE, MASHINNO, ComCode, FPM, PicId, FromWeb, BClockDate, "
            "BClockTime) VALUES "
            "(1, '1001', '      1001', '1399/05/10', '07:30', '1', 0, 0, 0, '3', 4, 1, 11, 1, "
            "NULL, NULL), "
            "(2, '1001', '      1001', '1399/05/10', '15:10', '2', 0, 0, 0, '5', 6, 1, 12, 0, "
            "'05/10', '15:08'), "
            "(3, '1002', '      1002', '1399/05/10', '07:45', '1', 0, 0, 0, '7', 8, 1, -5, 1, "
            "'05/10', '07:44')");
  srv_.Exec("Att_1399",
            "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration, "
            "BBEGINTIME, BENDDATE, BENDTIME, BEGINCLOCK, ENDCLOCK, BeginComCode, EndComCode, FPM, "
            "EnterPicId, ExitPicId, EnterFromWeb, ExitFromWeb) VALUES ('      1002', '05/10', "
            "'16:00', '05/10', '16:00', 0, '16:00', '05/10', '15:59', 9, 9, 2, 2, 2, 21, 21, 1, "
            "1)");
  Transfer(false);
  auto base = srv_.Open("Att");
  const std::string today = TDmTransfer::GetNowDate(*base).substr(5, 5);
  EXPECT_EQ(Render(srv_.Query(
                "Att_1399",
                "SELECT PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration, BBEGINTIME, "
                "BENDDATE, BENDTIME, BEGINCLOCK, ENDCLOCK, BeginComCode, EndComCode, FPM, "
                "EnterPicId, ExitPicId, EnterFromWeb, ExitFromWeb, LastEditUserCode, LastEditDate "
                "FROM IoInfo ORDER BY PERNO")),
            "1001|05/10|07:30|05/10|15:10|460|07:30|05/10|15:08|3|5|4|6|3|11|12|1|0|000|" + today +
                "; 1002|05/10|07:45|05/10|16:00|495|07:44|05/10|15:59|7|9|8|2|3|0|21|1|1|000|" +
                today);
}

// The day functions' bodies as SQL Server runs them (the embedded engine computes decDate
// and incDate natively): the year's first and last days and the month ends, each body run
// as a batch, agree with the native functions and with the days they are meant to give.
TEST_F(IoTransferTest, DayFunctionBodiesAgreeWithTheNativeFunctions) {
  TDmTransfer dm(srv_.DataDir());
  dm.InitialValues("1399", "", "", "Att", "", "CSSPerTemp", 7);
  // The body between BEGIN and END, its parameter set, its RETURN a SELECT.
  const auto run_body = [&](const TextLines& function, const std::string& date) {
    std::string batch = "Declare @Date char(5)\nSet @Date = '" + date + "'\n";
    for (std::size_t i = 4; i + 1 < function.size(); ++i) {
      std::string line = function[i];
      const std::size_t at = line.find("Return ");
      if (at != std::string::npos) line.replace(at, 7, "Select ");
      batch += line + "\n";
    }
    return Render(srv_.Query("Att", batch));
  };
  const struct {
    bool dec;
    const char* date;
    const char* expected;
  } cases[] = {
      {true, "01/01", "00/31"},  {true, "12/30", "12/29"},  {true, "07/01", "06/31"},
      {true, "05/10", "05/09"},  {false, "01/01", "01/02"}, {false, "12/30", "13/01"},
      {false, "12/29", "12/30"}, {false, "06/31", "07/01"}, {false, "07/30", "08/01"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.dec ? "decDate " : "incDate ") + c.date);
    EXPECT_EQ(run_body(c.dec ? QFncDecDateText() : QFncIncDateText(), c.date), c.expected);
    EXPECT_EQ(Render(srv_.Query("Att", std::string("SELECT dbo.") +
                                           (c.dec ? "decDate" : "incDate") + "('" + c.date + "')")),
              c.expected);
  }
}

class IoTransferScenario : public IoTransferTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(IoTransferScenario, RecordsPunchesAndReports) {
  const Scenario& sc = GetParam();
  for (const TransferRun& run : sc.runs) {
    if (!run.base_sql.empty()) srv_.Exec("Att", run.base_sql);
    if (!run.year_sql.empty()) srv_.Exec("Att_1399", run.year_sql);
    Transfer(run.certain_only);
  }
  EXPECT_EQ(IoRows(), sc.io_rows);
  EXPECT_EQ(Punches(), sc.punches);
  const std::string log = Log();
  if (*sc.log_part)
    EXPECT_NE(log.find(sc.log_part), std::string::npos) << log;
  else
    EXPECT_EQ(log, "");
}

INSTANTIATE_TEST_SUITE_P(Transfer, IoTransferScenario, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zel::transfer
