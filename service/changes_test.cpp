// The journal of changed results on a small demo organisation: schedule passes before and
// after an edit of one entry/exit record, the journal against the DayWork rows before and
// after, the kept days, and the changes command's text and JSON read back.
#include "service/changes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "dates/clock.h"
#include "db/client.h"
#include "service/config.h"
#include "service/demo_home_test_support.h"
#include "testing/recording_connection.h"
#include "testing/temp_server.h"
#include "util/text.h"

namespace zel::service {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// (person, day) -> column -> value as text (nullopt: NULL).
using DayWorkRows = std::map<std::pair<std::string, std::string>,
                             std::map<std::string, std::optional<std::string>>>;

class DemoChanges : public test_support::DemoHomeTest {
 protected:
  DemoChanges() : DemoHomeTest(/*records_as_punches=*/false) {}

  long long JournalRows() const {
    return Base()->Execute("SELECT COUNT(*) FROM ZELLog..CalcChanges").rows.at(0).at(0).AsInteger();
  }
  // A schedule pass at `now` on the day; the demo's entry is made due again first. The
  // journal statements the pass sends are held against the statement corpus.
  void PassAt(const std::string& now) {
    Base()->Execute("UPDATE CSSchedule SET LastRunDate = NULL, LastRunTime = NULL");
    dates::SetNowJalali("1405/09/20 " + now, true);
    zel::testing::StatementRecorder recorder;
    {
      zel::testing::ScopedRecording recording(recorder);
      Pass();
    }
    test_support::ExpectInStatementCorpus(recorder.Texts(), "CalcChanges");
  }
  DayWorkRows DayWork() const {
    DayWorkRows rows;
    db::ResultSet r = Base()->Execute("SELECT * FROM Att_1405..DayWork");
    for (auto& values : r.rows) {
      std::map<std::string, std::optional<std::string>> row;
      std::string perno, day;
      for (std::size_t c = 0; c < r.columns.size(); ++c) {
        const std::string name = util::LowerAscii(r.columns[c]);
        std::optional<std::string> text;
        if (!values[c].IsNull()) text = util::TrimRight(values[c].AsString(), " ");
        if (name == "perno") perno = util::TrimWhitespace(*text);
        if (name == "ddate") day = *text;
        row[r.columns[c]] = text;
      }
      rows[{perno, day}] = row;
    }
    return rows;
  }
  int Changes(ChangesRequest request, std::string& out) {
    std::ostringstream o, e;
    const int code = ChangesCommand(home_.string(), request, o, e);
    out = o.str() + e.str();
    return code;
  }
};

TEST_F(DemoChanges, AnEditShowsUpAsExactlyTheChangedColumnsOfItsDays) {
  PassAt("09:00");
  EXPECT_EQ(JournalRows(), 0) << "a first calculation is not a change";
  PassAt("09:10");
  EXPECT_EQ(JournalRows(), 0) << "a recalculation that changes nothing records nothing";

  // Person 1002 comes 97 minutes later on her first recorded day of the month.
  const DayWorkRows before = DayWork();
  auto base = Base();
  db::ResultSet first = base->Execute(
      "SELECT TOP 1 BEGINDATE, BEGINTIME FROM Att_1405..IoInfo WHERE PERNO = '      1002' AND "
      "BEGINDATE >= '09/01' AND BEGINDATE <= '09/15' ORDER BY BEGINDATE, BEGINTIME");
  ASSERT_EQ(first.rows.size(), 1u);
  const std::string day = util::TrimWhitespace(first.rows[0][0].AsString());
  base->Execute(
      "UPDATE Att_1405..IoInfo SET BEGINTIME = '10:37' WHERE PERNO = '      1002' AND "
      "BEGINDATE = '" +
      day + "' AND BEGINTIME = '" + first.rows[0][1].AsString() + "'");
  PassAt("09:20");
  const DayWorkRows after = DayWork();

  // What changed, read from the table itself.
  std::vector<std::tuple<std::string, std::string, std::string, std::optional<std::string>,
                         std::optional<std::string>>>
      expected;
  for (const auto& [key, row] : after) {
    const auto old = before.find(key);
    ASSERT_NE(old, before.end()) << key.first << " " << key.second;
    for (const auto& [column, value] : row) {
      if (old->second.at(column) != value)
        expected.emplace_back(key.first, key.second, column, old->second.at(column), value);
    }
  }
  ASSERT_FALSE(expected.empty()) << "the edit changed no DayWork column of " << day;
  const std::vector<db::CalcChangeRow> journal = db::ReadCalcChanges(*base, {"1405", "", {}});
  std::vector<std::tuple<std::string, std::string, std::string, std::optional<std::string>,
                         std::optional<std::string>>>
      got;
  for (const auto& r : journal) {
    EXPECT_EQ(r.of.kind, "day");
    EXPECT_EQ(r.pass.schedule_id, 1);
    EXPECT_EQ(r.pass.date, "1405/09/20");
    EXPECT_EQ(r.pass.time, "09:20");
    got.emplace_back(r.of.perno, r.of.period, r.change.column, r.change.old_value,
                     r.change.new_value);
  }
  std::sort(expected.begin(), expected.end());
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, expected);
  bool edited_day = false;
  for (const auto& e : expected) edited_day = edited_day || std::get<1>(e) == day;
  EXPECT_TRUE(edited_day) << day;

  // The command, as text and as JSON.
  std::string text;
  ASSERT_EQ(Changes({"1405", "", {}, "text"}, text), 0) << text;
  const auto& one = journal.front();
  EXPECT_NE(text.find("Changed results of 1405: " + std::to_string(journal.size()) + " column"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("pass 1405/09/20 09:20 (schedule 1)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  1002  day " + one.of.period + "  " + one.change.column + ": " +
                      one.change.old_value.value_or("NULL") + " -> " +
                      one.change.new_value.value_or("NULL") + "\n"),
            std::string::npos)
      << text;

  std::string out;
  ASSERT_EQ(Changes({"1405", "1405/09/20 09:20", {"1002"}, "json"}, out), 0) << out;
  const json j = json::parse(out);
  EXPECT_EQ(j["year"], "1405");
  EXPECT_EQ(j["since"], "1405/09/20 09:20");
  EXPECT_EQ(j["persons"], json::array({"1002"}));
  ASSERT_EQ(j["changes"].size(), journal.size());
  const json& c = j["changes"][0];
  EXPECT_EQ(c["person"], "1002");
  EXPECT_EQ(c["kind"], "day");
  EXPECT_EQ(c["period"], one.of.period);
  EXPECT_EQ(c["pass"], json::parse(R"({"schedule_id": 1, "date": "1405/09/20", "time": "09:20"})"));
  EXPECT_EQ(c["column"], one.change.column);
  EXPECT_EQ(c["old"], one.change.old_value ? json(*one.change.old_value) : json(nullptr));
  EXPECT_EQ(c["new"], one.change.new_value ? json(*one.change.new_value) : json(nullptr));

  struct Case {
    ChangesRequest request;
    std::size_t rows;
  } cases[] = {{{"1405", "1405/09/20 09:21", {}, "json"}, 0},
               {{"1405", "", {"1001", "1003"}, "json"}, 0},
               {{"1405", "", {"1001", "1002"}, "json"}, journal.size()},
               {{"1404", "", {}, "json"}, 0}};
  for (const auto& k : cases) {
    ASSERT_EQ(Changes(k.request, out), 0) << out;
    EXPECT_EQ(json::parse(out)["changes"].size(), k.rows) << k.request.since << out;
  }
}

TEST_F(DemoChanges, APassDeletesWhatIsKeptNoLonger) {
  IniFile(IniPath(home_.string())).WriteString(kIniSection, "ChangesKeepDays", "10");
  PassAt("09:00");
  auto base = Base();
  for (const char* date : {"1405/09/09", "1405/09/10", "1405/09/19"}) {
    base->Execute(
        "INSERT INTO ZELLog..CalcChanges (CalcYear, PerNo, Kind, Period, ScheduleId, PassDate, "
        "PassTime, ColumnName, OldValue, NewValue) VALUES ('1405', '1001', 'day', '09/01', 1, '" +
        std::string(date) + "', '23:59', 'Kasr', '0', '5')");
  }
  PassAt("09:10");
  db::ResultSet kept = base->Execute("SELECT PassDate FROM ZELLog..CalcChanges ORDER BY PassDate");
  ASSERT_EQ(kept.rows.size(), 2u);
  EXPECT_EQ(kept.rows[0][0].AsString(), "1405/09/10");
  EXPECT_EQ(kept.rows[1][0].AsString(), "1405/09/19");
}

TEST_F(DemoChanges, AHomeMadeBeforeTheJournalGetsItAndListsNothing) {
  Base()->Execute("DROP TABLE ZELLog..CalcChanges");
  std::string out;
  ASSERT_EQ(Changes({"1405", "", {}, "text"}, out), 0) << out;
  EXPECT_EQ(out, "Changed results of 1405: 0 columns\n");
  PassAt("09:00");
  EXPECT_EQ(JournalRows(), 0);
}

TEST(ChangesCommand, UnusableDatabasesExitWithOne) {
  const fs::path home = testing::NewTempFolder("changes_nohome");
  std::ostringstream out, err;
  EXPECT_EQ(ChangesCommand(home.string(), {"1405", "", {}, "text"}, out, err), 1);
  EXPECT_NE(err.str().find("db init"), std::string::npos) << err.str();
  fs::remove_all(home);
}

TEST(ChangesCommand, SinceMustBeAJalaliMoment) {
  struct Case {
    const char* since;
    bool ok;
  } cases[] = {{"", true},
               {"1405/09/20 09:20", true},
               {"1405/09/20", false},
               {"1405/13/01 09:00", false},
               {"1405/09/20 25:00", false},
               {"yesterday", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(!CheckChangesRequest({"1405", c.since, {}, "text"}).has_value(), c.ok) << c.since;
  }
}

}  // namespace
}  // namespace zel::service
