// The explanation of scenario days: each scenario is calculated and checked as the scenario
// test does, then its days are explained on the same databases.
#include "explain/day_explanation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "db/client.h"
#include "explain/render.h"
#include "testing/scenarios/scenario_runner.h"

namespace zel::explain {
namespace {

namespace fs = std::filesystem;

fs::path ScenarioFile(const std::string& name) {
  const char* root = std::getenv("ZEL_SOURCE_DIR");
  return fs::path(root ? root : ".") / "engine" / "scenarios" / (name + ".scenario");
}

std::unique_ptr<db::Connection> Open(const fs::path& data_dir, const std::string& database) {
  db::ConnectionSettings settings;
  settings.database = database;
  settings.data_dir = data_dir.string();
  return db::Connect(settings);
}

int64_t Count(db::Connection& c, const std::string& table) {
  return c.Execute("Select Count(*) From " + table).rows.at(0).at(0).AsInteger();
}

// Runs the scenario, then `check` on the explanations of the person's dates (and, when
// given, `change` on the year database before explaining).
void ExplainScenario(const std::string& name, const std::string& person,
                     const std::vector<std::string>& dates,
                     const std::function<void(const std::vector<DayExplanation>&)>& check,
                     const std::string& change = {}) {
  const auto scenario = engine::scenarios::LoadScenario(ScenarioFile(name));
  bool explained = false;
  const auto result = engine::scenarios::RunScenario(scenario, [&](const fs::path& data_dir) {
    auto base = Open(data_dir, "Att");
    auto year = Open(data_dir, "Att_1399");
    if (!change.empty()) year->Execute(change);
    const char* tables[] = {"DayWork", "TimeTab", "DayMorDt", "DayMamDt", "MealTime", "ServTime"};
    std::vector<int64_t> before;
    for (const char* t : tables) before.push_back(Count(*year, t));
    const int64_t logs_before = Count(*base, "CSSLog");

    ExplainRequest request;
    request.data_dir = data_dir.string();
    request.database_name = "Att";
    request.year = "1399";
    request.person = person;
    request.dates = dates;
    const std::vector<DayExplanation> days = ExplainDays(request);

    // Nothing was written.
    for (size_t i = 0; i < std::size(tables); ++i) {
      EXPECT_EQ(Count(*year, tables[i]), before[i]) << tables[i];
    }
    EXPECT_EQ(Count(*base, "CSSLog"), logs_before);
    ASSERT_EQ(days.size(), dates.size());
    check(days);
    explained = true;
  });
  EXPECT_TRUE(result.passed) << result.report;
  EXPECT_TRUE(explained);
}

const ExplainStretch* StretchAt(const DayExplanation& e, const std::string& begin) {
  for (const ExplainStretch& s : e.stretches) {
    if (s.begin == begin) return &s;
  }
  return nullptr;
}

const ExplainTotal& Total(const DayExplanation& e, const std::string& column) {
  for (const ExplainTotal& t : e.totals) {
    if (t.column == column) return t;
  }
  throw std::out_of_range("no total " + column);
}

// Every minute total is the sum of its parts and equals the stored DayWork row.
void ExpectTotalsAddUp(const DayExplanation& e) {
  ASSERT_TRUE(e.stored_found) << e.date;
  EXPECT_TRUE(e.differences.empty()) << e.date << ": " << e.differences.front();
  ASSERT_FALSE(e.totals.empty());
  for (const ExplainStretch& s : e.stretches) {  // every stretch with a length is stored
    if (s.end_minute > s.begin_minute) {
      EXPECT_GE(s.status, 0) << e.date << " " << s.begin;
    }
  }
  for (const ExplainTotal& t : e.totals) {
    ASSERT_TRUE(t.stored.has_value()) << t.column;
    EXPECT_EQ(t.value, *t.stored) << e.date << " " << t.column;
    if (!t.minutes) continue;
    int64_t sum = 0;
    for (const ColumnAmount& part : t.parts) sum += part.amount;
    EXPECT_EQ(sum, t.value) << e.date << " " << t.column;
  }
}

TEST(Explain, LateWithinToleranceNamesLateInAndAddsUp) {
  ExplainScenario("late_arrival", "1001", {"02/02", "02/03"}, [](const auto& days) {
    const DayExplanation& ok = days[0];
    ASSERT_TRUE(ok.calculated) << ok.error_message;
    const ExplainStretch* late = StretchAt(ok, "02/02 08:00");
    ASSERT_NE(late, nullptr);
    EXPECT_EQ(late->status, 16);
    EXPECT_EQ(late->status_name, "late within tolerance");
    EXPECT_EQ(late->interval, "duty, first segment");
    ASSERT_TRUE(late->reclassified.has_value());
    EXPECT_EQ(late->reclassified->rule, "late within tolerance");
    EXPECT_EQ(late->reclassified->setting, "LATE_IN 15: 10 <= 15 minutes");
    EXPECT_TRUE(late->sources.empty());
    const ExplainStretch* present = StretchAt(ok, "02/02 08:10");
    ASSERT_NE(present, nullptr);
    EXPECT_EQ(present->status_name, "present in the working time");
    ASSERT_EQ(present->sources.size(), 1u);
    EXPECT_EQ(Total(ok, "LatePermFirst").value, 10);
    ASSERT_EQ(Total(ok, "LatePermFirst").parts.size(), 1u);
    EXPECT_EQ(Total(ok, "LatePermFirst").parts[0].column, "stretch 3 08:00-08:10");
    ExpectTotalsAddUp(ok);

    const ExplainStretch* too_late = StretchAt(days[1], "02/03 08:00");
    ASSERT_NE(too_late, nullptr);
    EXPECT_EQ(too_late->status, 8);
    EXPECT_EQ(too_late->status_name, "late not tolerated");
    EXPECT_EQ(too_late->reclassified->setting, "LATE_IN 15: 20 > 15 minutes");
    ExpectTotalsAddUp(days[1]);
  });
}

TEST(Explain, ExtraWorkWithPermissionNamesTheSheetAndAddPermit) {
  ExplainScenario("extra_work_addpermit", "1001", {"02/02", "02/03"}, [](const auto& days) {
    const ExplainStretch* unpermitted = StretchAt(days[0], "02/02 05:00");
    ASSERT_NE(unpermitted, nullptr);
    EXPECT_EQ(unpermitted->status_name, "extra work, not permitted");
    EXPECT_EQ(unpermitted->classified.rule, "presence outside the extra span: extra work");
    EXPECT_EQ(unpermitted->classified.setting, "ADDPERMIT 1: needs a permission, there is none");
    ExpectTotalsAddUp(days[0]);

    const ExplainStretch* permitted = StretchAt(days[1], "02/03 05:00");
    ASSERT_NE(permitted, nullptr);
    EXPECT_EQ(permitted->status, 14);
    EXPECT_EQ(permitted->status_name, "extra work, permitted, sheet 31");
    EXPECT_EQ(permitted->classified.rule, "extra work with permission");
    EXPECT_EQ(permitted->sheet, "31");
    ASSERT_EQ(permitted->sources.size(), 2u);
    EXPECT_NE(permitted->sources[1].find("extra-work permission, sheet 31"), std::string::npos);
    ExpectTotalsAddUp(days[1]);
  });
}

TEST(Explain, NightShiftRunsIntoTheNextDateAndCountsNightWork) {
  ExplainScenario("shift_rotation", "2002", {"02/02"}, [](const auto& days) {
    const DayExplanation& e = days[0];
    ASSERT_TRUE(e.calculated) << e.error_message;
    EXPECT_EQ(e.duty_begin, "02/02 22:00");
    EXPECT_EQ(e.duty_end, "02/03 06:00");
    EXPECT_EQ(e.day_end, "02/03 12:00");
    EXPECT_NE(e.shape.find("shift"), std::string::npos) << e.shape;
    const ExplainStretch* second = StretchAt(e, "02/03 02:30");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->interval, "duty, second segment");
    EXPECT_GT(second->end_minute, 1440);  // drawn past the day's midnight
    EXPECT_EQ(Total(e, "NightWork").value, 450);
    ExpectTotalsAddUp(e);
    // The picture of a night shift is well formed and names the shift's day.
    EXPECT_NE(RenderSvg(days).find("02/02"), std::string::npos);
  });
}

TEST(Explain, WholeDayAbsenceIsADayNoteWithItsReport) {
  ExplainScenario("incomplete_records", "1001", {"02/03"}, [](const auto& days) {
    const DayExplanation& e = days[0];
    ASSERT_TRUE(e.calculated) << e.error_message;
    EXPECT_TRUE(e.daily_absence);
    ASSERT_FALSE(e.day_notes.empty());
    EXPECT_EQ(e.day_notes[0].rule, "whole-day absence");
    const ExplainStretch* morning = StretchAt(e, "02/03 08:00");
    ASSERT_NE(morning, nullptr);
    EXPECT_EQ(morning->status, 11);
    EXPECT_EQ(morning->status_name, "absence");
    EXPECT_EQ(morning->classified.rule, "no record in the working time: absence");
    EXPECT_EQ(Total(e, "NW_Absent").value, 450);
    ExpectTotalsAddUp(e);
    // The incomplete record is reported now (not written) and was stored by the run.
    ASSERT_EQ(e.reports.size(), 1u);
    EXPECT_NE(e.reports[0].find("(02/03)"), std::string::npos);
    ASSERT_EQ(e.stored_reports.size(), 1u);
    EXPECT_EQ(e.stored_reports[0].comment, e.reports[0]);
  });
}

TEST(Explain, SaysWhereTheStoredRowDiffersAfterTheInputsChanged) {
  ExplainScenario(
      "late_arrival", "1001", {"02/02"},
      [](const auto& days) {
        const DayExplanation& e = days[0];
        const ExplainStretch* late = StretchAt(e, "02/02 08:00");
        ASSERT_NE(late, nullptr);
        EXPECT_EQ(late->status, 8);  // now 30 minutes late
        EXPECT_EQ(Total(e, "NW_Late_First").value, 30);
        EXPECT_EQ(Total(e, "NW_Late_First").stored, 0);
        EXPECT_NE(std::find(e.differences.begin(), e.differences.end(), "NW_Late_First"),
                  e.differences.end());
        EXPECT_NE(RenderText(days).find("NW_Late_First stored 0, now 30"), std::string::npos);
      },
      "UPDATE IoInfo SET BEGINTIME = '08:30' WHERE BEGINDATE = '02/02'");
}

TEST(Explain, AStoppedDayNamesItsErrorAndTheReportItWouldWrite) {
  ExplainScenario("overlapping_sources", "1001", {"02/03"}, [](const auto& days) {
    const DayExplanation& e = days[0];
    EXPECT_FALSE(e.calculated);
    EXPECT_EQ(e.error_code, 6);
    EXPECT_EQ(e.error_message, "تداخل مرخصي و ماموريت");
    ASSERT_EQ(e.reports.size(), 1u);
    EXPECT_EQ(e.reports[0], "Ahmadi Ali (      1001) (02/03): تداخل مرخصي و ماموريت.");
    ASSERT_EQ(e.stored_reports.size(), 1u);
    EXPECT_EQ(e.stored_reports[0].comment, e.reports[0]);
    EXPECT_FALSE(e.stored_found);  // a stopped day stores no DayWork row
    EXPECT_TRUE(e.totals.empty());
    // The stretches classified before the conflict are there.
    ASSERT_FALSE(e.stretches.empty());
    EXPECT_NE(RenderText(days).find("The day stopped: error 6: "), std::string::npos);
  });
}

TEST(Explain, AnUnknownPersonIsAClearError) {
  const auto scenario = engine::scenarios::LoadScenario(ScenarioFile("late_arrival"));
  engine::scenarios::RunScenario(scenario, [](const fs::path& data_dir) {
    ExplainRequest request;
    request.data_dir = data_dir.string();
    request.database_name = "Att";
    request.year = "1399";
    request.person = "9999";
    request.dates = {"02/02"};
    EXPECT_THROW(ExplainDays(request), std::invalid_argument);
  });
}

}  // namespace
}  // namespace zel::explain
