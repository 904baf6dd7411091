#include "testing/scenarios/scenario_runner.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "db/client.h"
#include "engine/demo/demo_organisation.h"
#include "management/calculator_management.h"
#include "schema/schema.h"
#include "testing/temp_server.h"
#include "util/text.h"

namespace zel::engine::scenarios {

namespace fs = std::filesystem;

namespace {

constexpr const char* kBaseName = "Att";

using ::zel::testing::OpenDatabase;

std::string CellText(const db::Value& value) {
  switch (value.type()) {
    case db::DataType::Null:
      return "NULL";
    case db::DataType::Text:
      return util::TrimWhitespace(value.AsString());
    default:
      return value.AsString();
  }
}

std::string Excerpt(const std::string& sql) {
  std::string text = util::TrimWhitespace(sql);
  if (text.size() > 300) text = text.substr(0, 300) + " ...";
  return text;
}

void RunBatches(db::Connection& connection, const std::vector<std::string>& batches,
                const std::string& database) {
  for (const auto& batch : batches) {
    try {
      connection.Execute(batch);
    } catch (const std::exception& e) {
      throw std::runtime_error("fixture batch on " + database + " failed: " + e.what() +
                               "\n--- batch ---\n" + Excerpt(batch));
    }
  }
}

// Compares one table; appends its diff to `report` and returns false when it differs.
bool CompareTable(db::Connection& base, db::Connection& year, const ExpectedTable& expected,
                  std::string& report) {
  const bool all_columns = expected.columns.size() == 1 && expected.columns[0] == "*";
  std::string select;
  for (const auto& column : expected.columns) {
    select += (select.empty() ? "" : ", ") + (all_columns ? column : "[" + column + "]");
  }
  std::string sql = "SELECT " + select + " FROM " + expected.table;
  if (!expected.where.empty()) sql += " WHERE " + expected.where;
  db::Connection& connection = expected.table == "CSSLog" ? base : year;
  db::ResultSet rs;
  try {
    rs = connection.Execute(sql);
  } catch (const std::exception& e) {
    report += "[expect " + expected.table + "] cannot be read (" + sql + "): " + e.what() + "\n";
    return false;
  }
  std::vector<std::vector<std::string>> actual;
  for (const auto& row : rs.rows) {
    std::vector<std::string> cells;
    for (const auto& v : row) cells.push_back(CellText(v));
    actual.push_back(std::move(cells));
  }

  // Match the expected rows against the found ones as multisets.
  std::vector<bool> used(actual.size(), false);
  struct Line {
    char mark;
    const std::vector<std::string>* cells;
  };
  std::vector<Line> lines;
  bool same = true;
  for (const auto& row : expected.rows) {
    bool found = false;
    for (std::size_t i = 0; i < actual.size(); ++i) {
      if (!used[i] && actual[i] == row) {
        used[i] = found = true;
        break;
      }
    }
    lines.push_back({found ? ' ' : '-', &row});
    same = same && found;
  }
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (!used[i]) {
      lines.push_back({'+', &actual[i]});
      same = false;
    }
  }
  if (same) return true;

  const std::vector<std::string>& header = all_columns ? rs.columns : expected.columns;
  std::vector<std::size_t> widths(header.size(), 0);
  for (std::size_t c = 0; c < header.size(); ++c) widths[c] = util::Utf8Length(header[c]);
  for (const auto& line : lines) {
    for (std::size_t c = 0; c < line.cells->size() && c < widths.size(); ++c) {
      widths[c] = std::max(widths[c], util::Utf8Length((*line.cells)[c]));
    }
  }
  auto format = [&](char mark, const std::vector<std::string>& cells) {
    std::string text(1, mark);
    text += " ";
    for (std::size_t c = 0; c < cells.size(); ++c) {
      text += (c ? " | " : "") + cells[c];
      if (c + 1 < cells.size() && c < widths.size()) {
        text += std::string(widths[c] - util::Utf8Length(cells[c]), ' ');
      }
    }
    return text + "\n";
  };
  report += "[expect " + expected.table +
            (expected.where.empty() ? "" : " where " + expected.where) +
            "]  (- expected, missing; + found, not expected)\n";
  report += format(' ', header);
  for (const auto& line : lines) report += format(line.mark, *line.cells);
  report += "\n";
  return false;
}

// Every line of the run's log files (the home's Logs folder, and the home itself where a
// writer falls back when Logs cannot be made), file by file in name order.
std::vector<std::string> LogLines(const fs::path& home) {
  std::vector<fs::path> files;
  for (const fs::path& folder : {home / "Logs", home}) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
      if (entry.is_regular_file() && entry.path().extension() == ".Log") {
        files.push_back(entry.path());
      }
    }
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> lines;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(file.filename().string() + ": " + line);
    }
  }
  return lines;
}

// Appends to `report` every expected text no log line contains, with the lines found;
// returns false when one is missing.
bool CompareLog(const fs::path& home, const std::vector<std::string>& wanted, std::string& report) {
  if (wanted.empty()) return true;
  const std::vector<std::string> lines = LogLines(home);
  std::string missing;
  for (const auto& text : wanted) {
    const bool found = std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
    if (!found) missing += "- " + text + "\n";
  }
  if (missing.empty()) return true;
  report +=
      "[then log contains]  (- expected, in no log line)\n" + missing + "log lines of the run:\n";
  for (const auto& line : lines) report += "  " + line + "\n";
  if (lines.empty()) report += "  (none)\n";
  report += "\n";
  return false;
}

}  // namespace

ScenarioResult RunScenario(const Scenario& scenario, const AfterRun& after_run,
                           const BeforeRun& before_run) {
  const ScenarioText& text = scenario.text;
  const char* keep = std::getenv("ZEL_SCENARIOS_KEEP");
  const ::zel::testing::TempHome home(text.year, keep && *keep == '1');
  const fs::path data_dir = home.DataDir();
  const std::string year_db = std::string(kBaseName) + "_" + text.year;

  auto base = OpenDatabase(data_dir, kBaseName);
  auto year = OpenDatabase(data_dir, year_db);
  RunBatches(*base, scenario.base_batches, kBaseName);
  RunBatches(*year, scenario.year_batches, year_db);
  for (const auto& [other, batches] : scenario.other_year_batches) {
    const std::string other_db = std::string(kBaseName) + "_" + other;
    if (other != text.year) {
      OpenDatabase(data_dir, "")->Execute("CREATE DATABASE " + other_db);
      auto connection = OpenDatabase(data_dir, other_db);
      for (const auto& batch : db::SplitBatches(db::YearSchemaSql())) connection->Execute(batch);
    }
    RunBatches(*OpenDatabase(data_dir, other_db), batches, other_db);
  }
  demo::InstallShiftCalendarView(*base, *year, kBaseName);

  base->Execute("DELETE FROM CSSPerTemp");
  if (text.persons.empty()) {
    base->Execute("INSERT INTO CSSPerTemp (PerNo) SELECT Perno FROM Person");
  } else {
    for (const auto& perno : text.persons) {
      base->Execute("INSERT INTO CSSPerTemp (PerNo) VALUES ('" + PadPerno(perno) + "')");
    }
  }

  management::CalculatorSettings settings;
  settings.database_name = kBaseName;
  settings.current_year = text.year;
  settings.data_dir = data_dir.string();
  settings.max_thread = text.threads;
  settings.schedule_id = 0;
  settings.semaphore_list = {"EnterSystem=1", "IOINFO=16", "CALC=17", "CONFIRM=20"};
  settings.from_date = text.from_date;
  settings.to_date = text.to_date;
  if (before_run) before_run();
  management::RunResult run;
  for (int i = 0; i < text.runs; ++i) {
    management::TZELCalculatorManagement manager(settings);
    run = text.kind == "monthly"    ? manager.RunMonthlyCalculatorForOnePerson()
          : text.kind == "periodic" ? manager.RunPeriodicCalculatorForOnePerson()
                                    : manager.RunDailyCalculatorForOnePerson();
    if (run.status != management::RunStatus::kCompleted) {
      throw std::runtime_error("the " + text.kind +
                               " run did not calculate (is there a Semaphor row with Code 17?)");
    }
    if (text.kind == "daily" && text.then_month > 0) {
      management::CalculatorSettings month = settings;
      month.from_date = month.to_date = std::to_string(text.then_month);
      management::TZELCalculatorManagement monthly(month);
      if (monthly.RunMonthlyCalculatorForOnePerson().status != management::RunStatus::kCompleted) {
        throw std::runtime_error("the monthly run after the days did not calculate");
      }
    }
  }

  ScenarioResult result;
  result.passed = true;
  if (run.abandoned > 0) {
    result.passed = false;
    result.report += std::to_string(run.abandoned) + " worker(s) were given up\n";
  }
  for (const auto& expected : text.expected) {
    result.passed = CompareTable(*base, *year, expected, result.report) && result.passed;
  }
  for (const auto& table : TablesEmptyUnlessListed(text.kind)) {
    const bool listed = std::any_of(text.expected.begin(), text.expected.end(),
                                    [&](const ExpectedTable& e) { return e.table == table; });
    if (listed) continue;
    ExpectedTable empty;
    empty.table = table;
    empty.columns = {"*"};
    result.passed = CompareTable(*base, *year, empty, result.report) && result.passed;
  }
  result.passed = CompareLog(home.Path(), text.log_contains, result.report) && result.passed;
  if (after_run) after_run(data_dir);
  return result;
}

}  // namespace zel::engine::scenarios
