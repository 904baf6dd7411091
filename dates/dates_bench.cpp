// Costs of the date operations every calculated day and every log line pays.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>

#include "dates/clock.h"
#include "dates/jalali.h"
#include "dates/zel_calc_utils.h"
#include "util/log_file.h"

namespace {

using namespace zel::dates;

void BM_DecodeJalaliDate(benchmark::State& state) {
  DateTime serial = EncodeJalaliDate(1399, 1, 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(DecodeJalaliDate(serial));
    serial = serial + 1 > 50000 ? 43910 : serial + 1;
  }
}
BENCHMARK(BM_DecodeJalaliDate);

void BM_JalaliToday(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(JalaliToday());
}
BENCHMARK(BM_JalaliToday);

void BM_GetNextDate(benchmark::State& state) {
  int year = 1399;
  std::string date = "01/01";
  for (auto _ : state) {
    TZelCalcUtils::GetNextDate(year, date, year, date);
    if (year > 1450) year = 1399;
  }
}
BENCHMARK(BM_GetNextDate);

// One calculation log line: name, stamp, resolve, open-append-close.
void BM_LogTextLine(benchmark::State& state) {
  char pattern[] = "/tmp/zel_dates_bench_XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  zel::util::SetHomeFolder(pattern);
  TZelCalcUtils utils(1);
  utils.SetEnableLog(true);
  for (auto _ : state) utils.LogText("Person 1001 day 05/07 done", "Thread1001");
  zel::util::SetHomeFolder("");
  std::filesystem::remove_all(pattern);
}
BENCHMARK(BM_LogTextLine);

}  // namespace

BENCHMARK_MAIN();
