// Clock-record labelling of the demo organisation: 200 and 1,600 persons (the argument;
// fixed calendar, shift rotation, hourly), the raw punches of month 2 of 1399 (about 50 a
// person, with duplicates and special-card punches), one walk of TDmSetClockRec on one thread
// on the embedded engine, as the schedule runs it. The first benchmark clears the labels (not
// measured) before each walk, so every punch is labelled anew and written; the second walks
// punches labelled by an earlier walk and kept in ClockDmp, whose labels do not change.
// Reports per walk: punches, punches per second (wall), CPU microseconds per punch (the figure
// a busy machine disturbs least) and the statements sent per punch; run with
// --benchmark_repetitions for the median.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "clockrec/dm_set_clock_rec.h"
#include "db/client.h"
#include "engine/demo/demo_organisation.h"
#include "schema/schema.h"
#include "util/log_file.h"

namespace {

namespace fs = std::filesystem;

std::unique_ptr<zel::db::Connection> Open(const fs::path& data_dir, const std::string& database) {
  zel::db::ConnectionSettings settings;
  settings.data_dir = data_dir.string();
  settings.database = database;
  return zel::db::Connect(settings);
}

// A temporary home with the demo organisation, the thresholds a new home gets, and every
// person in the run's person table.
class DemoHome {
 public:
  explicit DemoHome(int persons)
      : dir_(fs::temp_directory_path() /
             ("zel_demo_clock_" + std::to_string(::getpid()) + "_" + std::to_string(persons))) {
    fs::remove_all(dir_);
    fs::create_directories(Data());
    zel::util::SetHomeFolder(dir_.string());
    Open(Data(), "")->Execute("CREATE DATABASE Att");
    Open(Data(), "")->Execute("CREATE DATABASE Att_1399");
    for (const auto& [database, script] : {std::pair{"Att", zel::db::BaseSchemaSql()},
                                           std::pair{"Att_1399", zel::db::YearSchemaSql()}}) {
      auto connection = Open(Data(), database);
      for (const auto& batch : zel::db::SplitBatches(script)) connection->Execute(batch);
    }
    zel::db::ConnectionSettings server;
    server.data_dir = Data().string();
    zel::engine::demo::DemoOptions options;
    options.persons = persons;
    options.year = "1399";
    options.month = 2;
    zel::engine::demo::GenerateDemoOrganisation(server, options);
    auto base = Open(Data(), "Att");
    base->Execute(
        "UPDATE SYSTEM SET MaxServiceLate = 120, MaxMor = 5, MaxPresence = 960, "
        "MaxAbsence = 960, MinAbsence = 30, BeforeEnter = 120, AfterEnter = 120, "
        "BeforeExit = 120, AfterExit = 120");
    base->Execute("DELETE FROM CSSPerTemp");
    base->Execute("INSERT INTO CSSPerTemp (PerNo) SELECT Perno FROM Person");
  }
  ~DemoHome() {
    zel::util::SetHomeFolder("");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  DemoHome(const DemoHome&) = delete;
  DemoHome& operator=(const DemoHome&) = delete;

  fs::path Data() const { return dir_ / "Data"; }
  void ClearLabels() const {
    Open(Data(), "Att")->Execute("UPDATE ClockDmp SET IO_TYPE = NULL, UNCERTAIN = 0");
  }

 private:
  fs::path dir_;
};

DemoHome& HomeOf(int persons) {
  // The home folder's store is made before the homes, so it outlives them (they reset it).
  static const std::string folder_before = zel::util::HomeFolder();
  static std::map<int, std::unique_ptr<DemoHome>> homes;
  auto& home = homes[persons];
  if (!home) home = std::make_unique<DemoHome>(persons);
  zel::util::SetHomeFolder(home->Data().parent_path().string());
  return *home;
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Walks the home's punches once per iteration; `relabel` clears the labels first (not
// measured).
void LabelWalks(benchmark::State& state, bool relabel) {
  DemoHome& home = HomeOf(static_cast<int>(state.range(0)));
  if (!relabel) {  // the punches are kept, labelled by an earlier walk
    zel::clockrec::TDmSetClockRec module(home.Data().string());
    module.InitialValues("1399", "", "", "Att", "", "CSSPerTemp", 0);
    module.MySetClockDumpRecords();
  }
  double punches = 0, cpu = 0, wall = 0, statements = 0;
  for (auto _ : state) {
    if (relabel) {
      state.PauseTiming();
      home.ClearLabels();
      state.ResumeTiming();
    }
    const auto wall_before = std::chrono::steady_clock::now();
    const double cpu_before = ThreadCpuSeconds();
    const std::uint64_t statements_before = zel::db::StatementsSentByProcess();
    zel::clockrec::TDmSetClockRec module(home.Data().string());
    module.InitialValues("1399", "", "", "Att", "", "CSSPerTemp", 0);
    module.MySetClockDumpRecords();
    statements += static_cast<double>(zel::db::StatementsSentByProcess() - statements_before);
    cpu += ThreadCpuSeconds() - cpu_before;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
    punches += module.Counts().Labelled() + module.Counts().unlabelled;
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["punches"] = punches / runs;
  state.counters["punches_per_s"] = punches / wall;
  state.counters["cpu_us_per_punch"] = cpu * 1e6 / punches;
  state.counters["statements_per_punch"] = statements / punches;
}

void BM_LabelDemoMonth(benchmark::State& state) { LabelWalks(state, true); }
void BM_RelabelKeptPunches(benchmark::State& state) { LabelWalks(state, false); }
// Both walks at 200 and 1,600 persons, one labelling run each, timed as a whole.
void DemoSizes(benchmark::internal::Benchmark* b) {
  b->ArgName("persons")->Arg(200)->Arg(1600)->Unit(benchmark::kMillisecond)->Iterations(1);
  b->UseRealTime();
}
BENCHMARK(BM_LabelDemoMonth)->Apply(DemoSizes);
BENCHMARK(BM_RelabelKeptPunches)->Apply(DemoSizes);

}  // namespace

BENCHMARK_MAIN();
