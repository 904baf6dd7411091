// Daily-calculation scenario files: a fixture as T-SQL (base and year rows, shared fixture
// files included by name), the run (year, "MM/DD" range, persons) and the expected rows of
// the result tables as small "|"-separated tables. This unit only reads the text; the
// runner (scenario_runner.h) loads it into a server and compares.
// Pure functions over texts and files; any thread may call them.
#pragma once

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zel::engine::scenarios {

// A malformed scenario or fixture file; the message names the file and the line.
class ScenarioFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The rows a result table must hold after the run (all rows, or those the condition keeps).
struct ExpectedTable {
  std::string table;                           // DayWork, TimeTab, CSSLog, ...
  std::string where;                           // T-SQL condition; empty = every row
  std::vector<std::string> columns;            // the columns compared, by name
  std::vector<std::vector<std::string>> rows;  // cells as written; "NULL" is a null
  int line = 0;                                // line of the section header
};

// One file as written: its own SQL and the fixtures it names.
struct ScenarioText {
  std::vector<std::string> includes;  // fixture names, in order
  std::string pending;                // reason the scenario cannot pass yet; empty = runs
  std::string base_sql;               // batches for the base database, "GO"-separated
  std::string year_sql;               // batches for the year database
  // Batches for other year databases ("[year 1400]"), by four-digit year; the runner
  // creates those databases.
  std::map<std::string, std::string> other_year_sql;
  bool has_run = false;
  std::string year = "1399";
  std::string kind = "daily";  // daily, monthly or periodic
  std::string from_date;       // "MM/DD" (daily) or a month or period number 1..12
  std::string to_date;         // likewise
  int then_month = 0;          // daily runs: a month calculated after the days (0 = none)
  // Texts some line of the run's log files (the home's Logs folder) must contain, in the
  // order written ("then log contains: <text>", one per line).
  std::vector<std::string> log_contains;
  std::vector<std::string> persons;  // person numbers as written (trimmed); empty = all
  int threads = 3;
  int runs = 1;  // the run (and its month) repeated, as an operator runs it again
  std::vector<ExpectedTable> expected;
};

// A scenario with its fixtures resolved: every base batch (fixtures first, in include
// order, each fixture once) and every year batch, ready to run.
struct Scenario {
  std::string name;
  ScenarioText text;
  std::vector<std::string> base_batches;
  std::vector<std::string> year_batches;
  std::map<std::string, std::vector<std::string>> other_year_batches;  // by year
};

// Parses one file's text; `origin` names it in error messages. Raises ScenarioFormatError.
ScenarioText ParseScenarioText(std::string_view text, const std::string& origin);

// Reads a scenario file and the fixture files it includes (<folder of the file>/fixtures/
// <name>.fixture, which may include further fixtures). Raises ScenarioFormatError for a
// malformed file, a missing fixture, a scenario without [run] or an include cycle.
Scenario LoadScenario(const std::filesystem::path& file);

// The scenario files (*.scenario) of a folder, sorted by name.
std::vector<std::filesystem::path> ListScenarioFiles(const std::filesystem::path& folder);

// Person number as stored: right-aligned in 10 characters.
std::string PadPerno(const std::string& perno);

}  // namespace zel::engine::scenarios
