// Benchmark of the daily calculation: a daily run over a month of 31 days for the 200
// persons of the demo organisation (fixed calendar, shift rotation and hourly groups, with
// their entry/exit records, leaves, missions and permissions), MaxThread 3, on the embedded
// engine. Reports person-days per second and the process CPU time per person-day.

#include <benchmark/benchmark.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "dates/log_file.h"
#include "db/client.h"
#include "engine/demo/demo_organisation.h"
#include "management/calculator_management.h"
#include "schema/schema.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPersons = 200;
constexpr int kDays = 31;

std::unique_ptr<zel::db::Connection> Open(const fs::path& data_dir, const std::string& database) {
  zel::db::ConnectionSettings settings;
  settings.data_dir = data_dir.string();
  settings.database = database;
  return zel::db::Connect(settings);
}

// A home folder with the demo organisation of 1399, month 2 (31 days).
struct DemoHome {
  fs::path dir = fs::temp_directory_path() / ("zel_daily_bench_" + std::to_string(::getpid()));
  DemoHome() {
    fs::remove_all(dir);
    fs::create_directories(dir / "Data");
    zel::dates::SetHomeFolder(dir.string());
    Open(dir / "Data", "")->Execute("CREATE DATABASE Att");
    Open(dir / "Data", "")->Execute("CREATE DATABASE Att_1399");
    for (const auto& [database, script] :
         {std::pair{"Att", zel::db::BaseSchemaSql()}, std::pair{"Att_1399", zel::db::YearSchemaSql()}}) {
      auto connection = Open(dir / "Data", database);
      for (const auto& batch : zel::db::SplitBatches(script)) connection->Execute(batch);
    }
    zel::db::ConnectionSettings server;
    server.data_dir = (dir / "Data").string();
    zel::engine::demo::DemoOptions options;
    options.persons = kPersons;
    options.year = "1399";
    options.month = 2;
    zel::engine::demo::GenerateDemoOrganisation(server, options);
    auto base = Open(dir / "Data", "Att");
    base->Execute("DELETE FROM CSSPerTemp");
    base->Execute("INSERT INTO CSSPerTemp (PerNo) SELECT Perno FROM Person");
  }
  ~DemoHome() {
    zel::dates::SetHomeFolder("");
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

// CPU seconds of the whole process (all threads) so far.
double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_DailyRunOfAMonth(benchmark::State& state) {
  static DemoHome home;
  zel::management::CalculatorSettings settings;
  settings.database_name = "Att";
  settings.current_year = "1399";
  settings.data_dir = (home.dir / "Data").string();
  settings.max_thread = static_cast<int>(state.range(0));
  settings.semaphore_list = {"EnterSystem=1", "IOINFO=16", "CALC=17"};
  settings.from_date = "02/01";
  settings.to_date = "02/31";
  const double cpu_before = ProcessCpuSeconds();
  for (auto _ : state) {
    zel::management::TZELCalculatorManagement manager(settings);
    const auto result = manager.RunDailyCalculatorForOnePerson();
    if (result.status != zel::management::RunStatus::kCompleted || result.abandoned != 0) {
      state.SkipWithError("the daily run did not complete");
      return;
    }
  }
  // CPU time per person-day, whatever else the machine runs.
  state.counters["cpu_us_per_person_day"] =
      (ProcessCpuSeconds() - cpu_before) * 1e6 / (static_cast<double>(state.iterations()) * kPersons * kDays);
  auto day_rows = Open(home.dir / "Data", "Att_1399")->Execute("SELECT COUNT(*) FROM DayWork");
  state.counters["DayWork_rows"] = static_cast<double>(day_rows.rows[0][0].AsInteger());
  state.counters["person_days_per_s"] = benchmark::Counter(
      static_cast<double>(kPersons * kDays), benchmark::Counter::kIsIterationInvariantRate);
}
// Argument: MaxThread (3 is the product's default; 1 shows what the threads add).
BENCHMARK(BM_DailyRunOfAMonth)
    ->Arg(3)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
