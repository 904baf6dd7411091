// The IO transfer of the demo organisation's month: 200 and 1,600 persons' entry/exit
// records of month 2 of 1399 turned back into labelled punches in ClockDmp, then one transfer
// run (every punch) on the embedded engine pairs them into IoInfo again. Reports punches per
// second and statements per punch; run with --benchmark_repetitions for the median.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "db/client.h"
#include "engine/demo/demo_organisation.h"
#include "schema/schema.h"
#include "transfer/dm_transfer.h"
#include "util/log_file.h"

namespace {

namespace fs = std::filesystem;

std::unique_ptr<zel::db::Connection> Open(const fs::path& data_dir, const std::string& database) {
  zel::db::ConnectionSettings settings;
  settings.data_dir = data_dir.string();
  settings.database = database;
  return zel::db::Connect(settings);
}

// A temporary home with the demo organisation whose records are kept as punches in
// PunchStore; Reset puts them into ClockDmp and empties IoInfo.
class DemoPunches {
 public:
  explicit DemoPunches(int persons)
      : dir_(fs::temp_directory_path() /
             ("zel_demo_transfer_" + std::to_string(::getpid()) + "_" + std::to_string(persons))) {
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
    auto year = Open(Data(), "Att_1399");
    zel::engine::demo::InstallShiftCalendarView(*base, *year, "Att");
    // Each record's entry and exit (an exit alone: its end only) as a labelled punch.
    const auto records = base->Execute(
        "SELECT io.PERNO, io.BEGINDATE, io.BEGINTIME, io.ENDDATE, io.ENDTIME, "
        "(SELECT MIN(r.KARTNO) FROM Att_1399..PrjRule r WHERE r.PERNO = io.PERNO) "
        "FROM Att_1399..IoInfo io");
    base->Execute("SELECT * INTO PunchStore FROM ClockDmp WHERE 1 = 0");
    int rec = 0;
    std::string batch;
    const auto punch = [&](const zel::db::Value& perno, const std::string& card,
                           const std::string& day, const std::string& time, char io) {
      batch +=
          "INSERT INTO PunchStore (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, IO_TYPE, "
          "UNCERTAIN, TRANSFERED, SPCARDTYPE, MASHINNO, ComCode, FPM) VALUES (" +
          std::to_string(++rec) + ", '" + card + "', '" + perno.AsString() + "', '1399/" + day +
          "', '" + time + "', '" + io + "', 0, 0, 0, '1', 1, 0)\n";
    };
    for (const auto& r : records.rows) {
      const std::string bd = r[1].AsString(), bt = r[2].AsString(), ed = r[3].AsString(),
                        et = r[4].AsString(), card = r[5].AsString();
      const bool exit_only = bd + bt == ed + et;
      if (!exit_only) punch(r[0], card, bd, bt, '1');
      if (!ed.empty()) punch(r[0], card, ed, et, '2');
      if (batch.size() > 200000) {
        base->Execute(batch);
        batch.clear();
      }
    }
    if (!batch.empty()) base->Execute(batch);
    punches_ = rec;
    base->Execute("DELETE FROM CSSPerTemp");
  }
  ~DemoPunches() {
    zel::util::SetHomeFolder("");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  DemoPunches(const DemoPunches&) = delete;
  DemoPunches& operator=(const DemoPunches&) = delete;

  void Reset() const {
    auto base = Open(Data(), "Att");
    base->Execute("DELETE FROM Att_1399..IoInfo");
    base->Execute("DELETE FROM ClockDmp");
    base->Execute("INSERT INTO ClockDmp SELECT * FROM PunchStore");
  }
  fs::path Data() const { return dir_ / "Data"; }
  int Punches() const { return punches_; }

 private:
  fs::path dir_;
  int punches_ = 0;
};

void BM_IoTransferOfTheDemoMonth(benchmark::State& state) {
  static std::map<int, std::unique_ptr<DemoPunches>> homes;
  const int persons = static_cast<int>(state.range(0));
  auto& slot = homes[persons];
  if (!slot) slot = std::make_unique<DemoPunches>(persons);
  const DemoPunches& home = *slot;
  zel::transfer::IOTransferResult result;
  std::uint64_t statements = 0;
  for (auto _ : state) {
    state.PauseTiming();
    home.Reset();
    state.ResumeTiming();
    zel::transfer::TDmTransfer module(home.Data().string());
    if (std::getenv("ZEL_BENCH_STEPS")) {
      // Seconds since the previous step began, per step, on stderr.
      module.SetDeclareState(
          [last = std::chrono::steady_clock::now()](const std::string& step) mutable {
            const auto now = std::chrono::steady_clock::now();
            std::fprintf(stderr, "%.3f s, then: %s\n",
                         std::chrono::duration<double>(now - last).count(), step.c_str());
            last = now;
          });
    }
    module.InitialValues("1399", "", "", "Att", "", "CSSPerTemp", 1);
    const std::uint64_t before = zel::db::StatementsSentByProcess();
    result = module.MyIOTransfer(false);
    statements = zel::db::StatementsSentByProcess() - before;
  }
  state.counters["punches"] = home.Punches();
  state.counters["punches_per_s"] = benchmark::Counter(
      static_cast<double>(home.Punches()), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["records"] = result.Inserted + result.Completed;
  state.counters["failed"] = result.Failed;
  state.counters["deleted"] = result.PunchesDeleted;
  state.counters["kept"] = result.PunchesKept;
  state.counters["statements_per_punch"] =
      static_cast<double>(statements) / static_cast<double>(home.Punches());
}
BENCHMARK(BM_IoTransferOfTheDemoMonth)
    ->ArgName("persons")
    ->Arg(200)
    ->Arg(1600)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
