// The operator's status: when entries are due next (against a minute-by-minute walk of the
// schedule's rule), the kinds of CSSLog rows, the last pass read from log files, and the
// whole report on a small demo organisation before and after a schedule pass, as text and
// as JSON read back, with the clock fixed at 1405/09/20 09:00.
#include "service/status.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "dates/clock.h"
#include "dates/jalali.h"
#include "db/client.h"
#include "management/calc_hold.h"
#include "service/demo_home_test_support.h"
#include "testing/recording_connection.h"
#include "testing/temp_server.h"

namespace zel::service {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// --- next due moment -------------------------------------------------------------------

ScheduleEntry Entry(int type, const char* start, int data1, int data2, const char* last_date,
                    const char* last_time) {
  ScheduleEntry e;
  e.ScheduleType = type;
  e.StartTime = start;
  e.Data1 = data1;
  e.Data2 = data2;
  if (last_date) e.LastRunDate = last_date;
  e.LastRunTime = last_time ? last_time : "";
  return e;
}

// The first due minute by asking the rule at every minute of `days` days.
std::optional<std::string> WalkDue(const ScheduleEntry& e, const std::string& today,
                                   const std::string& now, int days) {
  const dates::DateTime first = dates::ParseJalaliMoment(today + " 00:00");
  for (int d = 0; d <= days; ++d) {
    const dates::JalaliDate j = dates::DecodeJalaliDate(first + d);
    char date[16];
    std::snprintf(date, sizeof date, "%04d/%02d/%02d", j.year, j.month, j.day);
    for (int minute = 0; minute < 1440; ++minute) {
      char hhmm[8];
      std::snprintf(hhmm, sizeof hhmm, "%02d:%02d", minute / 60, minute % 60);
      if (d == 0 && hhmm < now) continue;
      if (MustRunIt(e, date, hhmm)) return std::string(date) + " " + hhmm;
    }
  }
  return std::nullopt;
}

TEST(NextDueMoment, FirstDueMinuteOfTheRule) {
  struct Case {
    const char* what;
    ScheduleEntry entry;
    const char* today;
    const char* now;
    std::optional<std::string> expected;
  } cases[] = {
      {"never run, start passed: now", Entry(1, "08:00", 1, 0, nullptr, nullptr), "1399/05/10",
       "09:30", "1399/05/10 09:30"},
      {"never run, before the start", Entry(1, "08:00", 1, 0, nullptr, nullptr), "1399/05/10",
       "07:59", "1399/05/10 08:00"},
      {"every 2 hours, ran at 10:00", Entry(0, "00:00", 2, 0, "1399/05/10", "10:00"), "1399/05/10",
       "10:30", "1399/05/10 12:00"},
      {"every day, ran yesterday", Entry(1, "08:00", 1, 0, "1399/05/09", "09:00"), "1399/05/10",
       "07:00", "1399/05/10 08:00"},
      {"every day, ran today", Entry(1, "08:00", 1, 0, "1399/05/10", "08:01"), "1399/05/10",
       "09:00", "1399/05/11 08:00"},
      {"every 3 days at 08:00, ran two days ago at 09:00",
       Entry(1, "08:00", 0, 3, "1399/05/08", "09:00"), "1399/05/10", "09:00", "1399/05/11 09:00"},
      {"weekly on Saturday (1399/05/11), never run", Entry(2, "06:00", 1, 1, nullptr, nullptr),
       "1399/05/10", "12:00", "1399/05/11 06:00"},
      {"weekly on no day", Entry(2, "06:00", 1, 0, nullptr, nullptr), "1399/05/10", "12:00",
       std::nullopt},
      {"weekly mask above the week", Entry(2, "06:00", 1, 128 + 1, nullptr, nullptr), "1399/05/10",
       "12:00", std::nullopt},
      {"day 31 of every month from month 7: the next 31st is in the new year",
       Entry(3, "02:00", 31, 4095, "1399/06/31", "02:00"), "1399/07/05", "10:00",
       "1400/01/31 02:00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NextDueMoment(c.entry, c.today, c.now), c.expected) << c.what;
    EXPECT_EQ(NextDueMoment(c.entry, c.today, c.now, 2), WalkDue(c.entry, c.today, c.now, 2))
        << c.what;
  }
  EXPECT_THROW(NextDueMoment(Entry(1, "08:00", 1, 0, nullptr, nullptr), "1399/13/01", "09:00"),
               std::runtime_error);
  EXPECT_THROW(NextDueMoment(Entry(1, "08:00", 1, 0, nullptr, nullptr), "1399/05/10", "9:00"),
               std::runtime_error);
}

// --- CSSLog kinds ----------------------------------------------------------------------

TEST(CSSLogKind, PersonDayAndNumbersLeftOut) {
  struct Case {
    const char* comment;
    const char* kind;
  } cases[] = {
      {"کاظمی فاطمه (      1001) (09/01): ورود و خروج ناقص .", "ورود و خروج ناقص ."},
      {"نوری حسین (      1003) (09/19): ورود و خروج ناقص .", "ورود و خروج ناقص ."},
      {"شروع محاسبه: 09:03:27 خاتمه محاسبه: 09:03:28", "شروع محاسبه: #:#:# خاتمه محاسبه: #:#:#"},
      {"Punches kept in ClockDmp for a later transfer: card 17, day 1405/09/02, 2 punch(es); x",
       "Punches kept in ClockDmp for a later transfer: card #, day #/#/#, # punch(es); x"},
      {"  (a) (b) text  ", "(a) (b) text"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CSSLogKind(c.comment), c.kind) << c.comment;
}

// --- the last pass from the logs -------------------------------------------------------

class LogFolder : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testing::NewTempFolder("status_logs"); }
  void TearDown() override { fs::remove_all(dir_); }
  void Write(const std::string& name, const std::vector<std::string>& lines) {
    std::ofstream out(dir_ / name);
    for (const auto& l : lines) out << l << "\r\n";
  }
  fs::path dir_;
};

TEST_F(LogFolder, LastPassOfTheNewestLogWithAPass) {
  EXPECT_EQ(LastPassFromLogs(dir_.string()), std::nullopt);
  Write("Log(1405-09-18).Log", {"1405/09/18 10:00:00 : CurDate ==>> 1405/09/18",
                                "1405/09/18 10:00:01 : After Must Run It ==> ScheduleId = 9"});
  Write("log(1405-09-19).Log",
        {"1405/09/19 08:00:00 : CurDate ==>> 1405/09/19",
         "1405/09/19 08:00:01 : Error MustRunIt in CSMain : old",
         "1405/09/19 09:00:00 : CurDate ==>> 1405/09/19",
         "1405/09/19 09:00:01 : Before Must Run It ==> ScheduleId = 1",
         "1405/09/19 09:00:01 : After Must Run It ==> ScheduleId = 1",
         "1405/09/19 09:00:02 : After Must Run It ==> ScheduleId = 4",
         "1405/09/19 09:00:03 : Error CalcDaily_4 TDBCheckTimer in CSMain : boom",
         "no stamp on this line", "1405/09/19 09:00:09 : Stop Service"});
  // A newer day whose log has no pass yet, and the day's other error logs.
  Write("Log(1405-09-20).Log", {"1405/09/20 07:00:00 : ServiceStart Started"});
  Write("Error Thread Action(1405-09-19).Log",
        {"1405/09/19 08:00:05 : before the pass", "1405/09/19 09:00:04 : Error On run"});
  Write("ErrorTransfer(1405-09-18).Log", {"1405/09/18 23:00:00 : another day"});

  const auto pass = LastPassFromLogs(dir_.string());
  ASSERT_TRUE(pass);
  EXPECT_EQ(pass->log_file, "log(1405-09-19).Log");
  EXPECT_EQ(pass->started, "1405/09/19 09:00:00");
  EXPECT_EQ(pass->last_line, "1405/09/19 09:00:09");
  EXPECT_EQ(pass->due, (std::vector<int>{1, 4}));
  EXPECT_EQ(pass->errors,
            (std::vector<std::string>{"Error CalcDaily_4 TDBCheckTimer in CSMain : boom",
                                      "Error Thread Action: Error On run"}));
}

// --- the whole report on the demo ------------------------------------------------------

class DemoStatus : public test_support::DemoHomeTest {
 protected:
  DemoStatus() : DemoHomeTest(/*records_as_punches=*/true) {}

  long long Count(const std::string& sql) const {
    return Base()->Execute(sql).rows.at(0).at(0).AsInteger();
  }
  // The report, with every statement it sends held against the statement corpus.
  StatusReport Gather() {
    zel::testing::StatementRecorder recorder;
    StatusReport r;
    {
      zel::testing::ScopedRecording recording(recorder);
      r = GatherStatus(*Base(), "Att", "1405", (home_ / "Logs").string(), "1405/09/20", "09:00");
    }
    test_support::ExpectInStatementCorpus(recorder.Texts());
    return r;
  }
  // What every report must agree on with the tables, in both forms.
  void CheckAgainstTables(const StatusReport& r, const json& j) {
    const long long waiting = Count("SELECT COUNT(*) FROM ClockDmp WHERE TRANSFERED = 0");
    EXPECT_EQ(r.punches_waiting, waiting);
    EXPECT_EQ(
        r.waiting_today + r.waiting_1_7 + r.waiting_8_30 + r.waiting_older + r.waiting_bad_date,
        waiting);
    EXPECT_EQ(j["intake"]["punches_waiting"], waiting);
    EXPECT_EQ(j["intake"]["punches_marked"],
              Count("SELECT COUNT(*) FROM ClockDmp WHERE TRANSFERED = 1"));
    for (const auto& [table, name] : {std::pair{0, "TmpMor"}, {1, "TmpMam"}, {2, "TmpSLate"}}) {
      const json& w = j["intake"]["requests"][table];
      EXPECT_EQ(w["table"], name);
      const std::string from = std::string(" FROM Att_1405..") + name + " WHERE INDECISIVE = ";
      EXPECT_EQ(w["uncertain"], Count("SELECT COUNT(*)" + from + "1")) << name;
      EXPECT_EQ(w["collision"], Count("SELECT COUNT(*)" + from + "2")) << name;
    }
    const long long log_rows = Count("SELECT COUNT(*) FROM CSSLog WHERE LogDate = '1405/09/20'");
    EXPECT_EQ(j["log_today"]["rows"], log_rows);
    long long by_kind = 0;
    for (const auto& k : j["log_today"]["kinds"]) by_kind += k["rows"].get<long long>();
    EXPECT_EQ(by_kind, log_rows);
    EXPECT_EQ(j["year_databases"], json::array({"Att_1405"}));
    EXPECT_EQ(j["hold"]["taken"], false);
    EXPECT_EQ(j["schedule"].size(), 1u);
    EXPECT_EQ(j["schedule"][0]["kind"], "daily 4");
    EXPECT_EQ(j["schedule"][0]["range"]["from"], "09/01");
    EXPECT_EQ(j["schedule"][0]["range"]["to"], "09/20");
  }
};

TEST_F(DemoStatus, BeforeAndAfterASchedulePass) {
  // A person whose card has no work rule: the pass keeps her punches and says why.
  Base()->Execute(
      "INSERT INTO Person (Perno, FirstName, LastName) VALUES ('      7777', N'x', N'y')");
  for (const char* punch : {"900001, '07:00', '1'", "900002, '15:00', '2'"}) {
    Base()->Execute(
        "INSERT INTO ClockDmp (REC, CLOCKTIME, IO_TYPE, KARTNO, PERNO, CLOCKDATE, TRANSFERED) "
        "VALUES (" +
        std::string(punch) + ", '7777', '      7777', '1405/09/19', 0)");
  }
  const StatusReport before = Gather();
  const json b = json::parse(FormatStatusJson(before));
  CheckAgainstTables(before, b);
  EXPECT_GT(before.punches_waiting, 0);
  EXPECT_EQ(b["schedule"][0]["last_run"], nullptr);
  EXPECT_EQ(b["schedule"][0]["next_due"], "1405/09/20 09:00");
  EXPECT_EQ(b["last_pass"], nullptr);
  const std::string before_text = FormatStatusText(before);
  EXPECT_NE(before_text.find("last completed run: never; next due: 1405/09/20 09:00"),
            std::string::npos)
      << before_text;
  EXPECT_NE(before_text.find("last schedule pass: none in the logs"), std::string::npos);

  Pass();

  const StatusReport after = Gather();
  const json a = json::parse(FormatStatusJson(after));
  CheckAgainstTables(after, a);
  EXPECT_LT(after.punches_waiting, before.punches_waiting);
  EXPECT_EQ(a["schedule"][0]["last_run"], "1405/09/20 09:00");
  EXPECT_EQ(a["schedule"][0]["next_due"], "1405/09/21 01:00");
  EXPECT_EQ(a["last_pass"]["due"], json::array({1}));
  EXPECT_EQ(a["last_pass"]["started"], "1405/09/20 09:00:00");
  bool run_row = false;
  for (const auto& k : a["log_today"]["kinds"]) {
    if (k["kind"] == "شروع محاسبه: #:#:# خاتمه محاسبه: #:#:#") run_row = k["rows"] == 1;
  }
  EXPECT_TRUE(run_row) << a["log_today"].dump();
  EXPECT_EQ(a["intake"]["kept"],
            json::parse(R"([{"reason": "no work rule with a work group for the card on that day",
                             "person_days": 1, "punches": 2}])"));
  const std::string after_text = FormatStatusText(after);
  EXPECT_NE(after_text.find("last completed run: 1405/09/20 09:00; next due: 1405/09/21 01:00"),
            std::string::npos)
      << after_text;
  EXPECT_NE(after_text.find("1 entry due: #1"), std::string::npos) << after_text;
}

TEST_F(DemoStatus, KeptPunchesByReasonWhileTheirPunchesWait) {
  // A waiting punch of person 1001 on 09/02; 1002's punches of 09/03 went meanwhile.
  auto base = Base();
  base->Execute("DELETE FROM ClockDmp");
  base->Execute(
      "INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, IO_TYPE, TRANSFERED) "
      "VALUES (900001, '1001', '      1001', '1405/09/02', '07:30', '1', 0)");
  const char* const reports[][2] = {
      {"1001", "card 1001, day 1405/09/02, 3 punch(es); an older reason"},
      {"1001", "card 1001, day 1405/09/02, 1 punch(es); no calendar day of the person took it"},
      {"1002", "card 1002, day 1405/09/03, 2 punch(es); no calendar day of the person took it"},
  };
  for (const auto& [person, text] : reports) {
    base->Execute(
        "INSERT INTO CSSLog (ScheduleId, PerNo, LogDate, LogTime, Comment, Status) VALUES (1, '" +
        std::string(person) +
        "', '1405/09/19', '10:00', "
        "N'Punches kept in ClockDmp for a later transfer: " +
        text + "', 0)");
  }
  const StatusReport r = Gather();
  ASSERT_EQ(r.kept.size(), 1u);
  EXPECT_EQ(r.kept[0].reason, "no calendar day of the person took it");
  EXPECT_EQ(r.kept[0].reports, 1);
  EXPECT_EQ(r.kept[0].punches, 1);
  EXPECT_EQ(r.waiting_8_30, 1);
  EXPECT_EQ(r.oldest_waiting, "1405/09/02");
}

TEST_F(DemoStatus, TheHoldAndWhetherItsHolderLives) {
  struct Case {
    std::string holder;
    bool this_computer;
    std::optional<bool> alive;
  } cases[] = {
      {management::ThisHoldHolder(), true, true},
      {management::ParseHoldHolder(management::ThisHoldHolder()).host + ":999999999", true, false},
      {"elsewhere:42", false, std::nullopt},
  };
  for (const auto& c : cases) {
    Base()->Execute("UPDATE Semaphor SET Amount = 1, HostName = '" + c.holder +
                    "' WHERE Code = 17");
    const json h = json::parse(FormatStatusJson(Gather()))["hold"];
    EXPECT_EQ(h["taken"], true) << c.holder;
    EXPECT_EQ(h["holder"], c.holder);
    EXPECT_EQ(h["this_computer"], c.this_computer) << c.holder;
    EXPECT_EQ(h["alive"], c.alive ? json(*c.alive) : json(nullptr)) << c.holder;
    // Only a live process of this computer tells when it started.
    EXPECT_EQ(h["holder_started"] != nullptr, c.alive == true) << c.holder;
  }
}

TEST_F(DemoStatus, ExitCodeTellsWhetherTheDatabasesCouldBeRead) {
  // Korlan.Ini without EnableLog, which the service would add: status leaves it as it is.
  const fs::path ini = home_ / "Korlan.Ini";
  std::string text;
  {
    std::ifstream in(ini);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("EnableLog", 0) != 0) text += line + "\n";
    }
  }
  std::ofstream(ini, std::ios::trunc) << text;
  std::ostringstream out, err;
  EXPECT_EQ(StatusCommand(home_.string(), "", "json", out, err), 0) << err.str();
  EXPECT_EQ(json::parse(out.str())["year"], "1405");
  std::ifstream in(ini);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);

  struct Case {
    const char* what;
    std::string home;
    std::string year;
    const char* message;
  } cases[] = {
      {"a year without its database", home_.string(), "1399", "Att_1399 does not exist"},
      {"a home without Korlan.Ini", (home_ / "empty").string(), "", "cannot read"},
  };
  fs::create_directories(home_ / "empty");
  for (const auto& c : cases) {
    std::ostringstream o, e;
    EXPECT_EQ(StatusCommand(c.home, c.year, "text", o, e), 1) << c.what;
    EXPECT_NE(e.str().find(c.message), std::string::npos) << c.what << ": " << e.str();
    EXPECT_TRUE(o.str().empty()) << c.what;
  }
  // A configured home whose databases are gone: reported, nothing created.
  fs::remove_all(home_ / "Data");
  std::ostringstream o, e;
  EXPECT_EQ(StatusCommand(home_.string(), "", "text", o, e), 1);
  EXPECT_NE(e.str().find("embedded databases are missing"), std::string::npos) << e.str();
  EXPECT_FALSE(fs::exists(home_ / "Data"));
}

}  // namespace
}  // namespace zel::service
