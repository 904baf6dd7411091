// The daily calculation of the demo organisation: 200 persons (fixed calendar, shift
// rotation, hourly) over the 31 days of month 2 of 1399, one daily run through the
// calculator management with MaxThread 1, 2 and 3 (the argument) on the embedded engine. Reports
// person-days per second, the CPU seconds of all threads per run and the process's peak resident
// memory; run with --benchmark_repetitions for the median. The traced run attaches an observer of
// the engine's decisions to every worker (what `explain` uses), to show what the trace costs;
// the plain run has none, as the service runs. Every run reports the statements it sent per
// person-day; the home is kept between runs, so the first run calculates the month from
// nothing and the later ones recalculate it unchanged (and write nothing). The run over a
// network waits 0.5 ms before each statement, as a SQL Server across a network would.

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "db/client.h"
#include "engine/day_trace.h"
#include "engine/demo/demo_organisation.h"
#include "engine/dm_calculate.h"
#include "management/calculator_management.h"
#include "schema/schema.h"
#include "testing/latency_connection.h"
#include "util/log_file.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPersons = 200;
constexpr int kDays = 31;  // 02/01 .. 02/31

std::unique_ptr<zel::db::Connection> Open(const fs::path& data_dir, const std::string& database) {
  zel::db::ConnectionSettings settings;
  settings.data_dir = data_dir.string();
  settings.database = database;
  return zel::db::Connect(settings);
}

// A temporary home with the demo organisation and every person in the run's person table.
class DemoHome {
 public:
  DemoHome() : dir_(fs::temp_directory_path() / ("zel_demo_daily_" + std::to_string(::getpid()))) {
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
    options.persons = kPersons;
    options.year = "1399";
    options.month = 2;
    zel::engine::demo::GenerateDemoOrganisation(server, options);
    auto base = Open(Data(), "Att");
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
  std::int64_t Count(const std::string& database, const std::string& table) const {
    return Open(Data(), database)->Execute("SELECT COUNT(*) FROM " + table).rows[0][0].AsInteger();
  }

 private:
  fs::path dir_;
};

double PeakRssMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in kilobytes
}

// User and system CPU seconds of the whole process (all threads) so far.
double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// An observer that only counts what it hears (one per worker module).
class CountingTrace final : public zel::engine::DayTrace {
 public:
  void OnDayShape(const zel::engine::TAttendanceCalcManager&, const zel::engine::TExtraData&,
                  const std::string&) override {}
  void Sources(const zel::engine::TAttendanceCalcManager&) override {}
  void Classified(std::span<const zel::engine::TPresence>, const zel::engine::TPresence&,
                  zel::engine::TraceReason) override {
    ++events;
  }
  void Reclassified(int, zel::engine::TraceReason) override { ++events; }
  void DayNote(zel::engine::TraceReason) override { ++events; }
  void Stretches(const zel::engine::TAttendanceCalcManager&) override {}
  void Processed(const zel::engine::TPresence&, zel::engine::PresenceCode,
                 zel::engine::PresenceCode, int, zel::engine::TraceReason,
                 const zel::engine::TDailyWorkRec&, const zel::engine::TDailyWorkRec&) override {
    ++events;
  }
  void Step(zel::engine::TraceReason, const zel::engine::TDailyWorkRec&,
            const zel::engine::TDailyWorkRec&) override {
    ++events;
  }
  void DayWork(const zel::engine::TDailyWorkRec&, const zel::engine::TExtraData&) override {}
  void Report(const std::string&) override {}
  void Failed(zel::engine::DayError, const std::string&) override {}
  std::int64_t events = 0;
};

void DailyRun(benchmark::State& state, bool traced, bool networked = false) {
  static DemoHome home;
  std::optional<zel::testing::ScopedLatency> latency;
  if (networked) latency.emplace(std::chrono::microseconds(500));
  zel::management::CalculatorSettings settings;
  settings.database_name = "Att";
  settings.current_year = "1399";
  settings.data_dir = home.Data().string();
  settings.max_thread = static_cast<int>(state.range(0));
  settings.schedule_id = 1;
  settings.semaphore_list = {"EnterSystem=1", "IOINFO=16", "CALC=17", "CONFIRM=20"};
  settings.from_date = "02/01";
  settings.to_date = "02/31";
  const std::int64_t log_rows_before = home.Count("Att", "CSSLog");
  const double cpu_before = ProcessCpuSeconds();
  const std::uint64_t statements_before = zel::db::StatementsSentByProcess();
  std::mutex traces_mutex;
  std::vector<std::unique_ptr<CountingTrace>> traces;  // guarded by traces_mutex
  for (auto _ : state) {
    zel::management::TZELCalculatorManagement manager(settings);
    if (traced) {
      manager.SetDailyModuleHook([&](zel::engine::TdmCalculate& module) {
        std::lock_guard lock(traces_mutex);
        traces.push_back(std::make_unique<CountingTrace>());
        module.SetDayTrace(traces.back().get());
      });
    }
    const auto result = manager.RunDailyCalculatorForOnePerson();
    if (result.status != zel::management::RunStatus::kCompleted || result.abandoned != 0 ||
        result.persons != kPersons) {
      state.SkipWithError("the daily run did not calculate every person");
      return;
    }
  }
  // CPU seconds of all threads per run: the figure a busy machine disturbs least.
  state.counters["process_cpu_s"] =
      (ProcessCpuSeconds() - cpu_before) / static_cast<double>(state.iterations());
  state.counters["cpu_us_per_person_day"] =
      state.counters["process_cpu_s"] * 1e6 / static_cast<double>(kPersons * kDays);
  state.counters["statements_per_person_day"] =
      static_cast<double>(zel::db::StatementsSentByProcess() - statements_before) /
      static_cast<double>(state.iterations()) / static_cast<double>(kPersons * kDays);
  state.counters["person_days_per_s"] = benchmark::Counter(
      static_cast<double>(kPersons * kDays), benchmark::Counter::kIsIterationInvariantRate);
  // What one run left: a DayWork row per calculated day; reports (incomplete records,
  // failed days) are CSSLog rows.
  state.counters["DayWork_rows"] = static_cast<double>(home.Count("Att_1399", "DayWork"));
  state.counters["CSSLog_rows"] =
      static_cast<double>(home.Count("Att", "CSSLog") - log_rows_before) /
      static_cast<double>(state.iterations());
  state.counters["peak_rss_MB"] = PeakRssMegabytes();
  if (traced) {
    std::int64_t events = 0;
    for (const auto& trace : traces) events += trace->events;
    state.counters["trace_events"] = static_cast<double>(events);
  }
}
void BM_DailyRunOfTheDemoMonth(benchmark::State& state) { DailyRun(state, false); }
void BM_DailyRunOfTheDemoMonthTraced(benchmark::State& state) { DailyRun(state, true); }
void BM_DailyRunOfTheDemoMonthOverANetwork(benchmark::State& state) {
  DailyRun(state, false, true);
}
BENCHMARK(BM_DailyRunOfTheDemoMonth)
    ->ArgName("MaxThread")
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(BM_DailyRunOfTheDemoMonthTraced)
    ->ArgName("MaxThread")
    ->Arg(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(BM_DailyRunOfTheDemoMonthOverANetwork)
    ->ArgName("MaxThread")
    ->Arg(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
