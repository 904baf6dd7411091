// Clock-record labelling on the embedded engine: the shared scenario fixtures (person 1001
// on calendar 1 with office hours 08:00-16:00 and extra span 06:00-20:00; persons 2001 and
// 2002 on shift group 6; person 3001 hourly), the thresholds below, a few punches, one walk,
// and the labels each punch got.
#include "clockrec/dm_set_clock_rec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/demo/demo_organisation.h"
#include "schema/schema.h"
#include "testing/recording_connection.h"
#include "testing/scenarios/scenario_file.h"
#include "testing/statement_corpus.h"
#include "testing/temp_server.h"
#include "util/text.h"

namespace zel::clockrec {
namespace {

using TestServer = ::zel::testing::TempHome;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Loads a fixture of the daily scenarios and the fixtures it includes, each once.
void LoadFixture(const TestServer& server, const std::string& name, std::set<std::string>& done) {
  if (!done.insert(name).second) return;
  const char* root = std::getenv("ZEL_SOURCE_DIR");
  const std::string path =
      std::string(root ? root : ".") + "/engine/scenarios/fixtures/" + name + ".fixture";
  const engine::scenarios::ScenarioText text =
      engine::scenarios::ParseScenarioText(ReadText(path), path);
  for (const std::string& include : text.includes) LoadFixture(server, include, done);
  auto base = server.Open("Att");
  for (const auto& batch : db::SplitBatches(text.base_sql)) base->Execute(batch);
  auto year = server.Open("Att_1399");
  for (const auto& batch : db::SplitBatches(text.year_sql)) year->Execute(batch);
}

// Thresholds of System: MaxMor 10, MaxPresence 720, MaxAbsence 960, MinAbsence 30, and an
// hour before and after every boundary.
class ClockHome {
 public:
  ClockHome() {
    std::set<std::string> done;
    for (const char* f : {"fixed_calendar", "shift_rotation", "hourly"})
      LoadFixture(server_, f, done);
    server_.Exec("Att",
                 "UPDATE SYSTEM SET MaxServiceLate = 60, MaxMor = 10, MaxPresence = 720, "
                 "MaxAbsence = 960, MinAbsence = 30, BeforeEnter = 60, AfterEnter = 60, "
                 "BeforeExit = 60, AfterExit = 60");
    auto base = server_.Open("Att");
    auto year = server_.Open("Att_1399");
    engine::demo::InstallShiftCalendarView(*base, *year, "Att");
  }

  // An empty person number is NULL; a date of "NULL" too.
  void Punch(int rec, const std::string& card, const std::string& perno, const std::string& date,
             const std::string& time, int spcard = 0) {
    const std::string padded =
        perno.empty() ? "NULL" : "'" + std::string(10 - perno.size(), ' ') + perno + "'";
    const std::string day = date == "NULL" ? date : "'" + date + "'";
    server_.Exec("Att",
                 "INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, "
                 "TRANSFERED, SPCARDTYPE) VALUES (" +
                     std::to_string(rec) + ", '" + card + "', " + padded + ", " + day + ", '" +
                     time + "', 0, " + std::to_string(spcard) + ")");
  }

  // "PerNo|Comment" of every CSSLog row, ordered by comment.
  std::vector<std::string> Reports() {
    db::ResultSet r = server_.Query("Att", "SELECT PerNo, Comment FROM CSSLog ORDER BY Comment");
    std::vector<std::string> out;
    for (const auto& row : r.rows)
      out.push_back(util::TrimControls(row[0].AsString()) + "|" + row[1].AsString());
    return out;
  }

  std::unique_ptr<TDmSetClockRec> Module() {
    auto m = std::make_unique<TDmSetClockRec>(server_.DataDir());
    m->InitialValues("1399", "", "", "Att", "", "CSSPerTemp", 0);
    return m;
  }

  // "IO_TYPE/UNCERTAIN" of every punch by REC ("-" for a column left NULL).
  std::string Labels() {
    db::ResultSet r =
        server_.Query("Att", "SELECT REC, IO_TYPE, UNCERTAIN FROM ClockDmp ORDER BY REC");
    std::string out;
    for (const auto& row : r.rows) {
      if (!out.empty()) out += " ";
      out += row[0].AsString() + ":" + (row[1].IsNull() ? "-" : row[1].AsString()) + "/" +
             (row[2].IsNull() ? "-" : row[2].AsString());
    }
    return out;
  }

  TestServer server_;
};

void Exec(TestServer& server, const std::string& database, const char* sql) {
  if (sql != nullptr) server.Exec(database, sql);
}

struct PunchRow {
  const char* card;
  const char* perno;
  const char* date;
  const char* time;
  int spcard;
};

struct WalkCase {
  const char* name;
  const char* base_sql;           // changes of the base database, or nullptr
  const char* year_sql;           // changes of the year database, or nullptr
  std::vector<PunchRow> punches;  // REC 1, 2, ... in this order
  const char* labels;             // REC:IO_TYPE/UNCERTAIN of each punch
};

// Stored records of person 1001 on 02/02 whose exit is the last IO of later punches.
const char* const kEarlyExit =
    "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration) VALUES "
    "('      1001', '02/02', '07:50', '02/02', '09:00', 70)";
const char* const kLateExit =
    "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration) VALUES "
    "('      1001', '02/02', '07:50', '02/02', '16:05', 495)";
// A duty of 90 minutes on 02/02, and thresholds under which it is short (AfterEnter +
// BeforeExit = 120) while the nearness to its begin (10 minutes) does not decide.
const char* const kShortDuty =
    "UPDATE CalItem SET DENDTIME = '09:30' WHERE CALCODE = 1 AND DBEGINDATE = '02/02'";
const char* const kShortDutyThresholds =
    "UPDATE SYSTEM SET BeforeEnter = 10, AfterEnter = 10, BeforeExit = 110";

TEST(ClockRecWalkTest, LabelsEveryPunch) {
  // clang-format off
  const WalkCase cases[] = {
      // No earlier IO; 11:00 is 180 minutes from the duty begin, 300 from the duty end:
      // far from every boundary (code 4), an unsure entry.
      {"FirstPunchFarFromBoundaries", nullptr, nullptr,
       {{"1001", "1001", "1399/02/02", "11:00", 0}}, "1:1/1"},
      // Five minutes before the duty begin: a sure entry (code 1).
      {"FirstPunchNearDutyBegin", nullptr, nullptr,
       {{"1001", "1001", "1399/02/02", "07:55", 0}}, "1:1/0"},
      // Entry at 11:00 (unsure); 11:05 after an entry, below the presence limit: an exit
      // with the entry's certainty; 11:08, 3 minutes after an exit (below MaxMor): an
      // entry again with the same certainty.
      {"PunchesMinutesApartAfterEntryAndExit", nullptr, nullptr,
       {{"1001", "1001", "1399/02/02", "11:00", 0},
        {"1001", "1001", "1399/02/02", "11:05", 0},
        {"1001", "1001", "1399/02/02", "11:08", 0}},
       "1:1/1 2:2/1 3:1/1"},
      // The stored record's exit 16:05 is the last IO: 16:08 (3 minutes) is a sure entry;
      // 16:20 (15 minutes, between MaxMor and MinAbsence) asks the calendar, which sees an
      // exit near the duty end (code 2): an entry still, but unsure.
      {"PunchesAfterStoredExit", nullptr,
       "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration) VALUES "
       "('      1001', '02/02', '07:50', '02/02', '16:05', 495)",
       {{"1001", "1001", "1399/02/02", "16:08", 0}}, "1:1/0"},
      {"PunchBetweenMaxMorAndMinAbsenceAfterExit", nullptr,
       "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, Duration) VALUES "
       "('      1001', '02/02', '07:50', '02/02', '16:05', 495)",
       {{"1001", "1001", "1399/02/02", "16:20", 0}}, "1:1/1"},
      // Presence limit 120: 05:50 is a sure entry (10 minutes from the extra span's
      // begin); 07:55 is 125 minutes later, past the limit, near the duty begin: the
      // calendar says entry (code 1), so an unsure entry; 16:10 is past the limit near the
      // duty end (code 2): an exit keeping the last IO's doubt.
      {"PunchAfterPresenceLimit", "UPDATE SYSTEM SET MaxPresence = 120", nullptr,
       {{"1001", "1001", "1399/02/02", "05:50", 0},
        {"1001", "1001", "1399/02/02", "07:55", 0},
        {"1001", "1001", "1399/02/02", "16:10", 0}},
       "1:1/0 2:1/1 3:2/1"},
      // IntelligentType 2: strictly alternating, every label sure.
      {"IntelligentTypeAlternates", "UPDATE WorkGrp SET IntelligentType = 2 WHERE CODE = 1",
       nullptr,
       {{"1001", "1001", "1399/02/02", "11:00", 0},
        {"1001", "1001", "1399/02/02", "11:02", 0},
        {"1001", "1001", "1399/02/02", "13:00", 0},
        {"1001", "1001", "1399/02/02", "20:00", 0}},
       "1:1/0 2:2/0 3:1/0 4:2/0"},
      // A punch of the year before is not read; a punch without person number is
      // undecided and unsure.
      {"OtherYearAndNoPerson", nullptr, nullptr,
       {{"1001", "1001", "1398/12/29", "08:00", 0}, {"7777", "", "1399/02/02", "08:00", 0}},
       "1:-/0 2:0/1"},
      // 02/05 is a holiday without duty and extra times: a sure entry (code 5).
      {"HolidayWithoutTimes", nullptr, nullptr,
       {{"1001", "1001", "1399/02/05", "10:00", 0}}, "1:1/0"},
      // Shift group: 2001 works the group's day shift (07:00-15:00) on 02/02; 15:30 is near
      // its end (code 2): an unsure exit. 2002's own night shift (22:00-06:00, extra from
      // 21:00) makes 21:50 a sure entry; the group's day shift would make it code 4.
      {"ShiftGroupWithRotation", nullptr, nullptr,
       {{"2001", "2001", "1399/02/02", "15:30", 0}, {"2002", "2002", "1399/02/02", "21:50", 0}},
       "1:2/1 2:1/0"},
      // Month 3 has no GShItem row, and 2003 has no PerShifts row: no calendar item
      // (code 3), a sure entry by the thresholds alone.
      {"ShiftGroupWithoutRows",
       "INSERT INTO Person (Perno, FirstName, LastName) VALUES ('      2003', N'Ava', N'Nouri')",
       "INSERT INTO PrjRule (PERNO, KARTNO, BEGINDATE, ENDDATE, WORKGROUP) VALUES "
       "('      2003', '2003', '01/01', '12/30', 6)",
       {{"2001", "2001", "1399/03/05", "15:30", 0}, {"2003", "2003", "1399/02/02", "15:30", 0}},
       "1:1/0 2:1/0"},
      // Night shift of 2001 on 02/03: entry 21:55, exit 06:05 of the next morning (the day
      // before's item ends 02/04 12:00, so the window reaches back past the entry).
      {"NightShiftAcrossMidnight", nullptr, nullptr,
       {{"2001", "2001", "1399/02/03", "21:55", 0}, {"2001", "2001", "1399/02/04", "06:05", 0}},
       "1:1/0 2:2/0"},
      // Presence limit 120, LastExitEndDay 60: the entry of 02/02 22:00 is still open at
      // 02/03 00:30 (150 minutes), 31 minutes after 02/02's end. 02/01 ends where 02/02's
      // duty begins, so the window reaches three days back and the limit doubles (240): a
      // sure exit without asking the calendar. Without that the limit is passed and the
      // calendar finds 00:30 far from every boundary (code 4): an unsure exit.
      {"DoubledLimitOfTheEarlierWindow",
       "UPDATE SYSTEM SET MaxPresence = 120 UPDATE WorkGrp SET LastExitEndDay = 60 WHERE CODE = 1",
       "UPDATE CalItem SET ENDDATE = '02/02', ENDTIME = '08:00' WHERE DBEGINDATE = '02/01' "
       "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, Duration) VALUES "
       "('      1001', '02/02', '22:00', 0)",
       {{"1001", "1001", "1399/02/03", "00:30", 0}}, "1:2/0"},
      {"LimitOfTheUsualWindow",
       "UPDATE SYSTEM SET MaxPresence = 120 UPDATE WorkGrp SET LastExitEndDay = 60 WHERE CODE = 1",
       "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, Duration) VALUES "
       "('      1001', '02/02', '22:00', 0)",
       {{"1001", "1001", "1399/02/03", "00:30", 0}}, "1:2/1"},
      // A rule saved without a work group: no work group on that day, so the window and
      // the calendar find nothing (code 3, a sure entry); the next card is labelled too.
      {"RuleWithoutWorkGroup", nullptr,
       "UPDATE PrjRule SET WORKGROUP = NULL WHERE PERNO = '      1001'",
       {{"1001", "1001", "1399/02/02", "11:00", 0}, {"2001", "2001", "1399/02/02", "15:30", 0}},
       "1:1/0 2:2/1"},
      // After an exit, an absence of at least MaxAbsence near the duty end (code 2) makes
      // an unsure exit: 410 minutes against 300, and against exactly 410.
      {"LongAbsenceNearDutyEndIsExit", "UPDATE SYSTEM SET MaxAbsence = 300", kEarlyExit,
       {{"1001", "1001", "1399/02/02", "15:50", 0}}, "1:2/1"},
      {"AbsenceOfExactlyMaxAbsence", "UPDATE SYSTEM SET MaxAbsence = 410", kEarlyExit,
       {{"1001", "1001", "1399/02/02", "15:50", 0}}, "1:2/1"},
      // One minute short of MaxAbsence (and past MinAbsence) the calendar is not asked: a
      // sure entry.
      {"AbsenceJustBelowMaxAbsence", "UPDATE SYSTEM SET MaxAbsence = 411", kEarlyExit,
       {{"1001", "1001", "1399/02/02", "15:50", 0}}, "1:1/0"},
      // Exactly MaxMor (10) and exactly MinAbsence (30) after the stored exit 16:05: the
      // calendar is asked and sees the duty end (code 2): entries, unsure.
      {"AbsenceOfExactlyMaxMor", nullptr, kLateExit,
       {{"1001", "1001", "1399/02/02", "16:15", 0}}, "1:1/1"},
      {"AbsenceOfExactlyMinAbsence", nullptr, kLateExit,
       {{"1001", "1001", "1399/02/02", "16:35", 0}}, "1:1/1"},
      {"AbsenceJustPastMinAbsence", nullptr, kLateExit,
       {{"1001", "1001", "1399/02/02", "16:36", 0}}, "1:1/0"},
      // Presence limit 120 reached exactly after the entry 05:50: the calendar is asked and
      // sees the duty begin (code 1): an unsure entry. One minute short: a sure exit.
      {"PresenceOfExactlyTheLimit", "UPDATE SYSTEM SET MaxPresence = 120", nullptr,
       {{"1001", "1001", "1399/02/02", "05:50", 0}, {"1001", "1001", "1399/02/02", "07:50", 0}},
       "1:1/0 2:1/1"},
      {"PresenceJustBelowTheLimit", "UPDATE SYSTEM SET MaxPresence = 121", nullptr,
       {{"1001", "1001", "1399/02/02", "05:50", 0}, {"1001", "1001", "1399/02/02", "07:50", 0}},
       "1:1/0 2:2/0"},
      // A working day without duty and extra times that is no holiday (code -1): an unsure
      // entry.
      {"DayWithoutTimes", nullptr,
       "UPDATE CalItem SET DBEGINTIME = '', EBEGINTIME = '', HOLIDAY = 0 "
       "WHERE CALCODE = 1 AND DBEGINDATE = '02/02'",
       {{"1001", "1001", "1399/02/02", "10:00", 0}}, "1:1/1"},
      // A duty of 90 minutes (08:00-09:30), shorter than AfterEnter + BeforeExit: a punch
      // is an entry when it lies at least as near the duty begin as the end (08:30, and
      // 08:45 in the middle), else an exit (09:00); the nearness thresholds would call
      // 08:30 and 08:45 exits.
      {"ShortDutyNearerTheBegin", kShortDutyThresholds, kShortDuty,
       {{"1001", "1001", "1399/02/02", "08:30", 0}}, "1:1/0"},
      {"ShortDutyInTheMiddle", kShortDutyThresholds, kShortDuty,
       {{"1001", "1001", "1399/02/02", "08:45", 0}}, "1:1/0"},
      {"ShortDutyNearerTheEnd", kShortDutyThresholds, kShortDuty,
       {{"1001", "1001", "1399/02/02", "09:00", 0}}, "1:2/1"},
      // A card without rule: the calendar cannot tell (code 0), an unsure entry.
      {"PersonWithoutRule", nullptr, nullptr,
       {{"5555", "5555", "1399/02/02", "08:00", 0}}, "1:1/1"},
      // The second card of a rule finds the person's rule.
      {"SecondCard", nullptr, "UPDATE PrjRule SET KARTNO2 = '9001' WHERE PERNO = '      1001'",
       {{"9001", "1001", "1399/02/02", "07:55", 0}}, "1:1/0"},
      // A special card near the duty end of a first punch counts as an entry (code 1).
      {"SpecialCardNearDutyEnd", nullptr, nullptr,
       {{"1001", "1001", "1399/02/02", "15:50", 3}}, "1:1/0"},
  };
  // clang-format on
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    ClockHome home;
    Exec(home.server_, "Att", c.base_sql);
    Exec(home.server_, "Att_1399", c.year_sql);
    int rec = 0;
    for (const PunchRow& p : c.punches)
      home.Punch(++rec, p.card, p.perno, p.date, p.time, p.spcard);
    home.Module()->MySetClockDumpRecords();
    EXPECT_EQ(home.Labels(), c.labels);
  }
}

// A punch whose date or time text is not "YYYY/MM/DD" / "HH:NN" stays unlabelled and is
// reported once in CSSLog with its REC, card and text; the punches after it are labelled.
TEST(ClockRecWalkTest, MalformedPunchReportedAndSkipped) {
  ClockHome home;
  home.Punch(1, "1001", "1001", "1399/02/02", "7:55");
  home.Punch(2, "1001", "1001", "1399/1/15", "07:55");
  home.Punch(3, "1001", "1001", "1399/02/02", "25:10");
  home.Punch(4, "1001", "1001", "1399/02/02", "07:56");
  home.Punch(5, "1001", "1001", "x399/02/02", "07:57");
  home.Punch(6, "1001", "1001", "1399/07/31", "07:58");
  auto module = home.Module();
  module->MySetClockDumpRecords();
  EXPECT_EQ(home.Labels(), "1:-/0 2:-/0 3:-/0 4:1/0 5:-/0 6:-/0");
  const ClockRecCounts& n = module->Counts();
  EXPECT_EQ(n.entries, 1);
  EXPECT_EQ(n.malformed, 4);  // the walk does not read REC 5, of no year
  EXPECT_EQ(n.unlabelled, 4);
  EXPECT_EQ(n.skipped, 5);
  const std::string tail = " (expected YYYY/MM/DD and HH:NN); it was left unlabelled";
  const std::vector<std::string> expected = {
      "1001|Punch REC 1 of card 1001 has a malformed date or time '1399/02/02' '7:55'" + tail,
      "1001|Punch REC 2 of card 1001 has a malformed date or time '1399/1/15' '07:55'" + tail,
      "1001|Punch REC 3 of card 1001 has a malformed date or time '1399/02/02' '25:10'" + tail,
      "1001|Punch REC 5 of card 1001 has a malformed date or time 'x399/02/02' '07:57'" + tail,
      "1001|Punch REC 6 of card 1001 has a malformed date or time '1399/07/31' '07:58'" + tail};
  EXPECT_EQ(home.Reports(), expected);
  // A second run reports nothing again.
  home.Module()->MySetClockDumpRecords();
  EXPECT_EQ(home.Reports(), expected);
}

TEST(ClockRecWalkTest, CountsOfTheWalk) {
  ClockHome home;
  home.Punch(1, "1001", "1001", "1399/02/02", "07:55");
  home.Punch(2, "1001", "1001", "1399/02/02", "16:05");
  home.Punch(3, "7777", "", "1399/02/02", "08:00");
  home.Punch(4, "5555", "5555", "1399/02/02", "08:00");
  auto module = home.Module();
  module->MySetClockDumpRecords();
  EXPECT_EQ(home.Labels(), "1:1/0 2:2/0 3:0/1 4:1/1");
  const ClockRecCounts& n = module->Counts();
  EXPECT_EQ(n.entries, 2);
  EXPECT_EQ(n.exits, 1);
  EXPECT_EQ(n.undecided, 1);
  EXPECT_EQ(n.unsure, 2);
  EXPECT_EQ(n.unlabelled, 0);
  EXPECT_EQ(n.skipped, 1);  // REC 3, without person number
}

struct BadPunchCase {
  const char* name;
  PunchRow punch;      // REC 3, beside person 1001's entry 08:22 (REC 1) and exit 16:18 (REC 2)
  const char* label;   // IO_TYPE/UNCERTAIN the bad punch is left with
  const char* report;  // "PerNo|Comment" of its one CSSLog row ("" = none)
  const char* base_sql = nullptr;  // run after the punches are in, or nullptr
};

// A bad punch is kept, reported once (a second run adds nothing), and changes no other
// punch's label: person 1001's day stays an entry 08:22 and an exit 16:18, each sure.
TEST(ClockRecWalkTest, BadPunchesAreKeptAndReportedOnce) {
  const std::string left = " (expected YYYY/MM/DD and HH:NN); it was left unlabelled";
  const std::string kept = "; it is kept and not transferred";
  // clang-format off
  const BadPunchCase cases[] = {
      // Between the two good punches: unlabelled, it must not be the last IO of 16:18.
      {"MinuteOutOfRange", {"1001", "1001", "1399/02/02", "08:61", 0}, "-/0",
       "1001|Punch REC 3 of card 1001 has a malformed date or time '1399/02/02' '08:61'"},
      // The same with the label of an exit from before: still not the last IO of 16:18.
      {"MinuteOutOfRangeLabelled", {"1001", "1001", "1399/02/02", "08:61", 0}, "2/0",
       "1001|Punch REC 3 of card 1001 has a malformed date or time '1399/02/02' '08:61'",
       "UPDATE ClockDmp SET IO_TYPE = '2' WHERE REC = 3"},
      {"DayZero", {"1001", "1001", "1399/02/00", "10:00", 0}, "-/0",
       "1001|Punch REC 3 of card 1001 has a malformed date or time '1399/02/00' '10:00'"},
      {"Day31OfMonth7", {"1001", "1001", "1399/07/31", "10:00", 0}, "-/0",
       "1001|Punch REC 3 of card 1001 has a malformed date or time '1399/07/31' '10:00'"},
      // Dates the walk of no year reads.
      {"Month13", {"1001", "1001", "1399/13/40", "10:00", 0}, "-/0",
       "1001|Punch REC 3 of card 1001 has a malformed date or time '1399/13/40' '10:00'"},
      {"Day31OfMonth12", {"1001", "1001", "1399/12/31", "10:00", 0}, "-/0",
       "1001|Punch REC 3 of card 1001 has a malformed date or time '1399/12/31' '10:00'"},
      {"EmptyDate", {"1001", "1001", "", "10:00", 0}, "-/0",
       "1001|Punch REC 3 of card 1001 has a malformed date or time '' '10:00'"},
      {"NullDate", {"1001", "1001", "NULL", "10:00", 0}, "-/0",
       "1001|Punch REC 3 of card 1001 has a malformed date or time NULL '10:00'"},
      {"YearWithoutDatabase", {"1001", "1001", "1398/05/05", "10:00", 0}, "-/0",
       "1001|Punch REC 3 of card 1001 at '1398/05/05' '10:00' is of a year that has no year "
       "database"},
      // A year with a database of its own belongs to that year's run.
      {"YearWithDatabase", {"1001", "1001", "1400/05/05", "10:00", 0}, "-/0", ""},
      // Undecided; the transfer does not take it.
      {"NoPersonNumber", {"7777", "", "1399/02/02", "10:00", 0}, "0/1",
       "|Punch REC 3 of card 7777 at '1399/02/02' '10:00' has no person number"},
      // The run's person list (from Person) leaves it out: no walk reads it.
      {"PersonNotInPerson", {"8888", "8888", "1399/02/02", "10:00", 0}, "-/0",
       "8888|Punch REC 3 of card 8888 at '1399/02/02' '10:00' is of person 8888, who is not in "
       "Person", "INSERT INTO CSSPerTemp (PerNo) VALUES ('      1001')"},
      // A card of person 1001 without rule, walked before the person's own card: an entry
      // by the calendar, which must not make 08:22 an exit. The IO transfer keeps and
      // reports it.
      {"CardWithoutRule", {"0444", "1001", "1399/02/02", "08:20", 0}, "1/0", ""},
  };
  // clang-format on
  auto good = [](ClockHome& home) {
    home.Punch(1, "1001", "1001", "1399/02/02", "08:22");
    home.Punch(2, "1001", "1001", "1399/02/02", "16:18");
  };
  for (const BadPunchCase& c : cases) {
    SCOPED_TRACE(c.name);
    ClockHome home;
    home.server_.Exec("", "CREATE DATABASE Att_1400");
    good(home);
    const PunchRow& p = c.punch;
    home.Punch(3, p.card, p.perno, p.date, p.time, p.spcard);
    Exec(home.server_, "Att", c.base_sql);
    auto module = home.Module();
    module->MySetClockDumpRecords();
    EXPECT_EQ(home.Labels(), std::string("1:1/0 2:2/0 3:") + c.label);
    std::vector<std::string> expected;
    if (*c.report != 0) {
      const bool malformed = std::string(c.report).find("malformed") != std::string::npos;
      expected.push_back(c.report + (malformed ? left : kept));
    }
    EXPECT_EQ(home.Reports(), expected);
    EXPECT_EQ(module->Counts().skipped, static_cast<int>(expected.size()));
    auto again = home.Module();
    again->MySetClockDumpRecords();
    EXPECT_EQ(home.Labels(), std::string("1:1/0 2:2/0 3:") + c.label);
    EXPECT_EQ(home.Reports(), expected);
    EXPECT_EQ(again->Counts().skipped, static_cast<int>(expected.size()));
  }

  // All of them at once.
  ClockHome home;
  home.server_.Exec("", "CREATE DATABASE Att_1400");
  good(home);
  int rec = 2;
  for (const BadPunchCase& c : cases) {
    home.Punch(++rec, c.punch.card, c.punch.perno, c.punch.date, c.punch.time);
    Exec(home.server_, "Att", c.base_sql);
  }
  auto module = home.Module();
  module->MySetClockDumpRecords();
  EXPECT_EQ(home.Labels().substr(0, 11), "1:1/0 2:2/0");
  const int reported = static_cast<int>(std::count_if(
      std::begin(cases), std::end(cases), [](const BadPunchCase& c) { return *c.report != 0; }));
  EXPECT_EQ(module->Counts().skipped, reported);
  EXPECT_EQ(static_cast<int>(home.Reports().size()), reported);
  home.Module()->MySetClockDumpRecords();
  EXPECT_EQ(static_cast<int>(home.Reports().size()), reported);
}

// A run over punches labelled before writes nothing and reports nothing again; a label
// that changed since is written again, by itself.
TEST(ClockRecWalkTest, LabelsThatWouldNotChangeAreNotWritten) {
  ClockHome home;
  home.Punch(1, "1001", "1001", "1399/02/02", "07:55");
  home.Punch(2, "1001", "1001", "1399/02/02", "16:05");
  home.Punch(3, "1001", "1001", "1399/02/02", "25:10");
  home.Module()->MySetClockDumpRecords();
  const std::string labels = home.Labels();
  auto writes = [&] {
    ::zel::testing::StatementRecorder recorder;
    {
      ::zel::testing::ScopedRecording recording(recorder);
      home.Module()->MySetClockDumpRecords();
    }
    int n = 0;
    for (const std::string& text : recorder.Texts())
      if (text.find("Update ClockDmp") != std::string::npos ||
          text.find("Insert Into CSSLog") != std::string::npos)
        ++n;
    return n;
  };
  EXPECT_EQ(writes(), 0);
  EXPECT_EQ(home.Labels(), labels);
  home.server_.Exec("Att", "UPDATE ClockDmp SET IO_TYPE = '1' WHERE REC = 2");
  EXPECT_EQ(writes(), 1);
  EXPECT_EQ(home.Labels(), labels);
  EXPECT_EQ(home.Reports().size(), 1u);
}

// A walk reads rules, calendars and records once, not per punch or day: the statements
// besides the label writes are as many for a week of punches as for one day.
TEST(ClockRecWalkTest, ReadsDoNotGrowWithTheDays) {
  auto reads = [](int days) {
    ClockHome home;
    int rec = 0;
    for (int d = 2; d < 2 + days; ++d) {
      const std::string date = "1399/02/0" + std::to_string(d);
      for (const char* person : {"1001", "3001"})
        for (const char* time : {"07:55", "16:05"}) home.Punch(++rec, person, person, date, time);
    }
    ::zel::testing::StatementRecorder recorder;
    {
      ::zel::testing::ScopedRecording recording(recorder);
      home.Module()->MySetClockDumpRecords();
    }
    int n = 0, writes = 0;
    for (const std::string& text : recorder.Texts())
      ++(text.find("Update ClockDmp") == 0 ? writes : n);
    EXPECT_EQ(writes, rec);  // every label is new
    return n;
  };
  EXPECT_EQ(reads(7), reads(1));
}

// A stop asked for between cards ends the walk there: the cards before keep their labels,
// the rest are left for a later run.
TEST(ClockRecWalkTest, StopBetweenCards) {
  ClockHome home;
  home.Punch(1, "1001", "1001", "1399/02/02", "07:55");
  home.Punch(2, "1001", "1001", "1399/02/02", "16:05");
  home.Punch(3, "2001", "2001", "1399/02/02", "06:55");
  auto module = home.Module();
  int asked = 0;
  module->StopRequested = [&] { return ++asked == 2; };
  module->MySetClockDumpRecords();
  EXPECT_TRUE(module->Stopped());
  EXPECT_EQ(asked, 2);  // before each card, not before each punch
  EXPECT_EQ(home.Labels(), "1:1/0 2:2/0 3:-/0");
  module->StopRequested = nullptr;
  module->MySetClockDumpRecords();
  EXPECT_FALSE(module->Stopped());
  EXPECT_EQ(home.Labels(), "1:1/0 2:2/0 3:1/0");
}

// The walk reads only the persons of the run's person table, when it lists any.
TEST(ClockRecWalkTest, OnlyThePersonsOfTheRun) {
  ClockHome home;
  home.Punch(1, "1001", "1001", "1399/02/02", "07:55");
  home.Punch(2, "2001", "2001", "1399/02/02", "06:55");
  home.server_.Exec("Att", "INSERT INTO CSSPerTemp (PerNo) VALUES ('      2001')");
  home.Module()->MySetClockDumpRecords();
  EXPECT_EQ(home.Labels(), "1:-/0 2:1/0");
}

// A punch of another year than the run's, given to the labelling directly, is undecided
// and unsure.
TEST(ClockRecWalkTest, PunchOfAnotherYearIsUndecided) {
  ClockHome home;
  home.Punch(1, "1001", "1001", "1400/02/02", "07:55");
  auto module = home.Module();
  auto base = home.server_.Open("Att");
  db::Dataset q(*base);
  q.SetSQL({"select * from ClockDmp where REC = 1"});
  q.Open();
  module->SetClockDumpRec(q);
  EXPECT_EQ(home.Labels(), "1:0/1");
}

// Every statement a walk sends has its entry in the statement corpus: a walk over persons
// on a calendar, on a shift group and hourly, with records on file, a malformed punch, a
// punch without person, changed labels and labels that stay.
TEST(ClockRecCorpusTest, SendsOnlyStatementsOfTheCorpus) {
  ClockHome home;
  home.server_.Exec("Att_1399", kLateExit);
  home.Punch(1, "1001", "1001", "1399/02/02", "16:20");
  home.Punch(2, "1001", "1001", "1399/02/03", "07:55");
  home.Punch(3, "2001", "2001", "1399/02/03", "21:55");
  home.Punch(4, "2001", "2001", "1399/02/04", "06:05");
  home.Punch(5, "3001", "3001", "1399/02/03", "09:00");
  home.Punch(6, "1001", "1001", "1399/02/03", "7:55");
  home.Punch(7, "7777", "", "1399/02/03", "08:00");
  home.server_.Exec("Att", "UPDATE ClockDmp SET IO_TYPE = '1', UNCERTAIN = 0 WHERE REC = 2");
  ::zel::testing::StatementRecorder recorder;
  {
    ::zel::testing::ScopedRecording recording(recorder);
    home.Module()->MySetClockDumpRecords();
  }
  EXPECT_EQ(home.Labels(), "1:1/1 2:1/0 3:1/0 4:2/0 5:1/0 6:-/0 7:0/1");
  std::set<std::string> corpus;
  for (const auto& s : ::zel::testing::LoadCorpusStatements(ZEL_CORPUS_DIR))
    corpus.insert(::zel::testing::NormalizeStatement(s.text));
  const std::vector<std::string> texts = recorder.Texts();
  ASSERT_FALSE(texts.empty());
  std::set<std::string> missing;
  for (const std::string& text : texts)
    if (!::zel::testing::IsRowWriteBackText(text) &&
        corpus.count(::zel::testing::NormalizeStatement(text)) == 0)
      missing.insert(text);
  for (const std::string& text : missing) ADD_FAILURE() << "no corpus entry holds:\n" << text;
}

struct WindowCase {
  const char* name;
  const char* base_sql;
  const char* year_sql;
  const char* perno;
  const char* date;
  const char* time;
  const char* start;  // expected start of the last-IO window
  bool doubled;
};

// The start of the window in which the last entry or exit is looked for.
TEST(ClockRecWindowTest, GetPrevDateTime) {
  // Calendar 1 made continuous: 02/01 ends at 02/02 08:00 and 02/02 at 02/03 08:00, where
  // the next days' duty begins.
  const char* continuous =
      "UPDATE CalItem SET ENDDATE = '02/02', ENDTIME = '08:00' WHERE DBEGINDATE = '02/01' "
      "UPDATE CalItem SET ENDDATE = '02/03', ENDTIME = '08:00' WHERE DBEGINDATE = '02/02'";
  // clang-format off
  const WindowCase cases[] = {
      {"FirstDayOfYear", nullptr, nullptr, "1001", "01/01", "09:00", "01/0100:00", false},
      // The day before ends at 23:59: the window starts there.
      {"AfterYesterdaysEnd", nullptr, nullptr, "1001", "02/03", "09:00", "02/0223:59", false},
      // LastExitEndDay 60: 31 minutes after yesterday's end is still yesterday's: the
      // window of the day before yesterday.
      {"WithinLastExitEndDay", "UPDATE WorkGrp SET LastExitEndDay = 60 WHERE CODE = 1", nullptr,
       "1001", "02/03", "00:30", "02/0123:59", false},
      {"PastLastExitEndDay", "UPDATE WorkGrp SET LastExitEndDay = 60 WHERE CODE = 1", nullptr,
       "1001", "02/03", "09:00", "02/0223:59", false},
      // Yesterday ends where today's duty begins: the earlier window, doubled limit.
      {"ContinuousDaysTakeTheEarlierWindow", nullptr, continuous, "1001", "02/03", "09:00",
       "02/0208:00", true},
      // Within LastExitEndDay of yesterday's end, and the day before yesterday ends where
      // yesterday begins: the window three days back, doubled limit.
      {"ContinuousWithinLastExitEndDay", "UPDATE WorkGrp SET LastExitEndDay = 60 WHERE CODE = 1",
       continuous, "1001", "02/03", "08:30", "01/3123:59", true},
      // Night shift of 02/03 ends on 02/04 at 12:00: a punch at 06:05 of 02/04 is still
      // in it; the window starts at the end of 02/02.
      {"NightShiftNotYetEnded", nullptr, nullptr, "2001", "02/04", "06:05", "02/0223:59", false},
      // Without rule on the days before: each day ends at 23:59.
      {"NoRule", nullptr, nullptr, "5555", "02/03", "09:00", "02/0223:59", false},
      // A rule without a work group: no work group on those days, as without a rule.
      {"RuleWithoutWorkGroup", nullptr,
       "UPDATE PrjRule SET WORKGROUP = NULL WHERE PERNO = '      1001'", "1001", "02/03", "09:00",
       "02/0223:59", false},
      // Hourly staff (group type 2 without calendar): IOPairing 0 and 1 take the day
      // before's end, 2 the end of the day before that, others the year's start; the group
      // has no calendar, so the ends are empty.
      {"HourlyPairing0", nullptr, nullptr, "3001", "02/03", "09:00", "", false},
      {"HourlyPairing3", "UPDATE WorkGrp SET IOPairing = 3 WHERE CODE = 2", nullptr, "3001",
       "02/03", "09:00", "", false},
  };
  // clang-format on
  for (const WindowCase& c : cases) {
    SCOPED_TRACE(c.name);
    ClockHome home;
    Exec(home.server_, "Att", c.base_sql);
    Exec(home.server_, "Att_1399", c.year_sql);
    auto m = home.Module();
    ASSERT_EQ(m->FindCurrentRule(c.date, c.perno), std::string(c.perno) != "5555");
    db::ResultSet wg =
        home.server_.Query("Att_1399", "SELECT WorkGroup FROM PrjRule WHERE LTRIM(PERNO) = '" +
                                           std::string(c.perno) + "'");
    m->OpenCurrentWorkGroup(wg.rows.empty() ? 0 : static_cast<int>(wg.rows[0][0].AsInteger()));
    db::ResultSet grp = home.server_.Query(
        "Att", "SELECT CALCODE, GShCode FROM WorkGrp WHERE CODE = " +
                   std::to_string(wg.rows.empty() ? 0 : wg.rows[0][0].AsInteger()));
    m->FindCurrentCalItem(c.date, grp.rows.empty() ? "" : grp.rows[0][0].AsString(),
                          grp.rows.empty() ? "" : grp.rows[0][1].AsString(), c.perno);
    const std::string padded = std::string(10 - std::string(c.perno).size(), ' ') + c.perno;
    EXPECT_EQ(m->GetPrevDateTime(padded, c.date, c.time), c.start);
    EXPECT_EQ(m->PrevWindowDoubled(), c.doubled);
  }
}

TEST(ClockRecValueTest, PunchDateTimeLayouts) {
  struct Case {
    const char* date;
    const char* time;
    bool ok;
  };
  // clang-format off
  const Case cases[] = {
      {"1399/02/02", "07:55", true},  {"1399/12/30", "23:59", true},
      {"1399/02/02", "00:00", true},  {"1399/2/2", "07:55", false},
      {"1399/02/02", "7:55", false},  {"1399/13/01", "07:55", false},
      {"1399/02/00", "07:55", false}, {"1399/02/02", "24:00", false},
      {"1399/02/02", "07:60", false}, {"x399/02/02", "07:55", false},
      // Month lengths: 31 for months 1-6, 30 for 7-11; month 12 has 30 days in the leap
      // year 1399, 29 in 1400.
      {"1399/06/31", "07:55", true},  {"1399/07/31", "07:55", false},
      {"1399/11/30", "07:55", true},  {"1399/11/31", "07:55", false},
      {"1399/12/31", "07:55", false}, {"1400/12/29", "07:55", true},
      {"1400/12/30", "07:55", false},
      {"", "", false},                {"1399-02-02", "07:55", false},
      {"1399/02/02", "07.55", false},
  };
  // clang-format on
  for (const Case& c : cases)
    EXPECT_EQ(IsPunchDateTime(c.date, c.time), c.ok) << c.date << " " << c.time;
}

}  // namespace
}  // namespace zel::clockrec
