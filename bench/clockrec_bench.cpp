// Clock-record labelling of the demo organisation: 200 persons (fixed calendar, shift
// rotation, hourly), the raw punches of month 2 of 1399 (about 10,000, with duplicates and
// special-card punches), one walk of TDmSetClockRec on one thread on the embedded engine, as
// the schedule runs it. Reports punches per second; run with --benchmark_repetitions for the
// median. The labels are cleared (not timed) before each walk.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
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
  DemoHome() : dir_(fs::temp_directory_path() / ("zel_demo_clock_" + std::to_string(::getpid()))) {
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
    options.persons = 200;
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

void BM_LabelDemoMonth(benchmark::State& state) {
  static DemoHome home;
  std::int64_t punches = 0;
  for (auto _ : state) {
    state.PauseTiming();
    home.ClearLabels();
    state.ResumeTiming();
    zel::clockrec::TDmSetClockRec module(home.Data().string());
    module.InitialValues("1399", "", "", "Att", "", "CSSPerTemp", 0);
    module.MySetClockDumpRecords();
    punches += module.Counts().Labelled() + module.Counts().unlabelled;
  }
  state.counters["punches"] =
      benchmark::Counter(static_cast<double>(punches) / static_cast<double>(state.iterations()));
  state.counters["punches_per_s"] =
      benchmark::Counter(static_cast<double>(punches), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LabelDemoMonth)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
