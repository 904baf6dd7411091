// The daily-calculation scenarios: every *.scenario file beside this file is one test. Each
// runs on a fresh embedded home and compares the result tables with the rows its author
// computed by hand (the reasoning heads every file). A scenario marked "pending: <reason>"
// is skipped with its reason, and the list of pending scenarios is printed at the end.
// A second test per file runs it again recording every statement text the calculation
// sends, and fails for each text whose shape (testing/statement_corpus.h) no entry of the
// statement corpus (db/corpus) holds: the corpus keeps up with what the modules send. (The
// client layer's own write-back of edited dataset rows is left out.)
//
// Environment: ZEL_SCENARIOS_RUN_PENDING=1 runs pending scenarios too (to see whether they
// pass yet); ZEL_SCENARIOS_KEEP=1 keeps the temporary homes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "testing/recording_connection.h"
#include "testing/scenarios/scenario_file.h"
#include "testing/scenarios/scenario_runner.h"
#include "testing/statement_corpus.h"

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

// The shapes of every corpus text.
const std::set<std::string>& CorpusShapes() {
  static const std::set<std::string> shapes = [] {
    std::set<std::string> out;
    for (const auto& s : zel::testing::LoadCorpusStatements(ZEL_CORPUS_DIR)) {
      out.insert(zel::testing::NormalizeStatement(s.text));
    }
    return out;
  }();
  return shapes;
}

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

TEST_P(Scenario, SendsOnlyStatementsOfTheCorpus) {
  const fs::path file = ScenarioFolder() / (GetParam() + ".scenario");
  const auto scenario = LoadScenario(file);
  if (!scenario.text.pending.empty()) GTEST_SKIP() << "pending: " << scenario.text.pending;
  zel::testing::StatementRecorder recorder;
  {
    std::optional<zel::testing::ScopedRecording> recording;
    RunScenario(scenario, {}, [&] { recording.emplace(recorder); });
  }
  const std::vector<std::string> texts = recorder.Texts();
  ASSERT_FALSE(texts.empty()) << "the calculation sent nothing";
  std::map<std::string, std::string> missing;  // shape -> the first text of that shape
  for (const auto& text : texts) {
    if (zel::testing::IsRowWriteBackText(text)) continue;
    const std::string shape = zel::testing::NormalizeStatement(text);
    if (!CorpusShapes().count(shape)) missing.emplace(shape, text);
  }
  for (const auto& [shape, text] : missing) {
    ADD_FAILURE() << "no corpus entry holds this statement:\n" << text;
  }
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
