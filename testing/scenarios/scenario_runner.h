// Runs a calculation scenario: a temporary embedded home with the base database "Att", the
// year database of the run and any other year database the file names, the fixture rows,
// the person table of the run, one daily, monthly or periodic run through the calculator
// management (schedule id 0), and the comparison of the result tables with the expected
// rows and of the run's log files with the expected log texts, reported as a readable diff.
// One scenario at a time per process (the home folder of the log files is process-wide);
// call from the test's main thread.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "testing/scenarios/scenario_file.h"

namespace zel::engine::scenarios {

// Result tables of a run kind that must stay empty unless a scenario lists rows for them.
inline const std::vector<std::string>& TablesEmptyUnlessListed(const std::string& kind = "daily") {
  static const std::vector<std::string> daily{"DayMorDt", "DayMamDt", "MealTime", "ServTime",
                                              "CSSLog"};
  static const std::vector<std::string> monthly{"MahMorDt", "MahMamDt", "CSSLog"};
  static const std::vector<std::string> periodic{"PrdMorDt", "PrdMamDt", "CSSLog"};
  return kind == "monthly" ? monthly : kind == "periodic" ? periodic : daily;
}

struct ScenarioResult {
  bool passed = false;
  // Every compared table that differs, expected rows marked "-" when missing and found
  // rows marked "+" when unexpected; empty when everything matched.
  std::string report;
};

// Builds the home, loads the fixture, runs the days and compares. Cells compare as text
// with blanks around them ignored ("NULL" for a null, person numbers without their
// padding). Raises std::runtime_error when the fixture SQL fails or the run could not
// take the calculation hold; the message names the failing batch. `after_run`, when given,
// is called with the data folder (base "Att", year "Att_<year>") after the comparison,
// before the home is removed. `before_run`, when given, is called once the fixture is in
// place, just before the calculation starts.
using AfterRun = std::function<void(const std::filesystem::path& data_dir)>;
using BeforeRun = std::function<void()>;
ScenarioResult RunScenario(const Scenario& scenario, const AfterRun& after_run = {},
                           const BeforeRun& before_run = {});

}  // namespace zel::engine::scenarios
