// One day-run of the attendance calculation framework: bound handlers give the working days,
// add about twelve presences (clock intervals, leaves, a mission, permissions), validate each
// group and sum the processed minutes, as a calculation data module would without a database.
#include <benchmark/benchmark.h>

#include <span>
#include <vector>

#include "engine/calc.h"

namespace {

using namespace zel::engine;

TCalcDateTime At(int month, int day, int hour, int minute) {
  return EncodeCalcDateTime(month, day, hour, minute);
}

TWorkingDay Day(int day) {
  return MakeWorkingDay(At(3, day, 6, 0), At(3, day, 20, 0), At(3, day, 8, 0), At(3, day, 16, 0),
                        At(3, day, 12, 0), At(3, day, 12, 30), At(3, day + 1, 4, 0));
}

struct Source {
  TCalcDateTime begin, end;
  TPresenceKind kind;
  int specific_type;
  const char* data;
};

const std::vector<Source>& DaySources() {
  static const std::vector<Source> sources = {
      {At(3, 9, 22, 0), At(3, 10, 1, 30), pk_Present, 4, ",4711,,night shift cover"},
      {At(3, 10, 7, 40), At(3, 10, 10, 5), pk_Present, 1, ""},
      {At(3, 10, 10, 20), At(3, 10, 12, 10), pk_Present, 1, ""},
      {At(3, 10, 12, 25), At(3, 10, 14, 0), pk_Present, 1, ""},
      {At(3, 10, 15, 30), At(3, 10, 18, 45), pk_Present, 1, ""},
      {At(3, 10, 10, 5), At(3, 10, 10, 20), pk_Absent, 2, ",1203,5,bank errand,0,1,0,1,1,0,0"},
      {At(3, 10, 14, 0), At(3, 10, 15, 30), pk_Absent, 3, ",877,2,site visit north,0,1,0,1"},
      {At(3, 10, 16, 0), At(3, 10, 19, 0), pk_Present, 4, ",4712,,project deadline work"},
      {At(3, 10, 7, 30), At(3, 10, 8, 0), pk_Absent, 5, ",66,,late bus service"},
      {At(3, 10, 12, 0), At(3, 10, 12, 0), pk_Absent, 2, "D_,1204,7,meal leave,0,1,1,1"},
      {At(3, 10, 19, 30), At(3, 10, 21, 0), pk_Present, 1, ""},
      {At(3, 10, 23, 0), At(3, 11, 2, 0), pk_Present, 1, ""},
  };
  return sources;
}

void BM_CalcDayRun(benchmark::State& state) {
  TAttendanceCalcManager manager;
  const TWorkingDay yesterday = Day(9), today = Day(10), tomorrow = Day(11);
  long long minutes = 0;
  int presences = 0;
  manager.OnGetWorkingDays = [&](TAttendanceCalcManager& m) {
    m.SetYesterday(yesterday);
    m.SetToday(today);
    m.SetTomorrow(tomorrow);
  };
  manager.OnAddPresences = [&](TAttendanceCalcManager& m) {
    for (const Source& s : DaySources()) {
      m.AddPresence(s.begin, s.end, s.kind, s.specific_type,
                    s.data[0] == '\0' ? Variant() : Variant(s.data));
    }
  };
  manager.OnValidatePresence = [](TAttendanceCalcManager&, std::span<const TPresence> group,
                                  TPresence& result) {
    static const Variant kLeave = 2;
    const int leave = TAttendanceCalcManager::FindPresence(group, {.StrictSpecificType = true},
                                                           pk_None, kLeave, Variant(), {});
    const TPresence& chosen = group[leave >= 0 ? leave : 0];
    result.Kind = chosen.Kind;
    result.SpecificType = leave >= 0 ? Variant(12) : chosen.SpecificType;
    result.Data = chosen.Data;
    result.IsOK = true;
    result.DoProcess = true;
    return true;
  };
  manager.OnProcessPresence = [&](TAttendanceCalcManager&, TPresence p) {
    minutes += IntervalMinutes(p.Interval);
    ++presences;
  };
  manager.SetPersonID("      1001");
  for (auto _ : state) {
    manager.SetCalcDate({3, 10});
    manager.Run();
  }
  benchmark::DoNotOptimize(minutes);
  state.counters["processed/day"] =
      benchmark::Counter(static_cast<double>(presences) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_CalcDayRun)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
