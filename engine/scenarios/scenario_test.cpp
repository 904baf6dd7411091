// The daily-calculation scenarios: every *.scenario file beside this file is one test. Each
// runs on a fresh embedded home and compares the result tables with the rows its author
// computed by hand (the reasoning heads every file). A scenario marked "pending: <reason>"
// is skipped with its reason, and the list of pending scenarios is printed at the end.
//
// Environment: ZEL_SCENARIOS_RUN_PENDING=1 runs pending scenarios too (to see whether they
// pass yet); ZEL_SCENARIOS_KEEP=1 keeps the temporary homes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "engine/scenarios/scenario_file.h"
#include "engine/scenarios/scenario_runner.h"

namespace zel::engine::scenarios {
namespace {

namespace fs = std::filesystem;

fs::path ScenarioFolder() { return fs::path(ZEL_SCENARIO_DIR); }

std::vector<std::string> ScenarioNames() {
  std::vector<std::string> names;
  for (const auto& file : ListScenarioFiles(ScenarioFolder())) {
    names.push_back(file.stem().string());
  }
  return names;
}

std::vector<std::string>& PendingList() {
  static std::vector<std::string> list;
  return list;
}

class PendingReport : public ::testing::Environment {
 public:
  void TearDown() override {
    if (PendingList().empty()) return;
    std::cout << "\nPending scenarios (" << PendingList().size() << "):\n";
    for (const auto& line : PendingList()) std::cout << "  " << line << "\n";
  }
};

const auto* const kPendingReport = ::testing::AddGlobalTestEnvironment(new PendingReport);

class Scenario : public ::testing::TestWithParam<std::string> {};

TEST_P(Scenario, MatchesHandComputedRows) {
  const fs::path file = ScenarioFolder() / (GetParam() + ".scenario");
  const auto scenario = LoadScenario(file);
  const char* run_pending = std::getenv("ZEL_SCENARIOS_RUN_PENDING");
  const bool force = run_pending && *run_pending == '1';
  if (!scenario.text.pending.empty()) {
    PendingList().push_back(scenario.name + ": " + scenario.text.pending);
    if (!force) GTEST_SKIP() << "pending: " << scenario.text.pending;
  }
  const ScenarioResult result = RunScenario(scenario);
  EXPECT_TRUE(result.passed) << file.string() << "\n" << result.report;
}

INSTANTIATE_TEST_SUITE_P(Daily, Scenario, ::testing::ValuesIn(ScenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace zel::engine::scenarios
