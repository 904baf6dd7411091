// Cost of the collation "TSQL", which SQLite calls on every string comparison of the
// embedded engine, against plain byte comparison, and of sorting rows with it; cost of the
// runtime's int arithmetic against SQLite's operators.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "db/embedded/runtime/tsql_runtime.h"

namespace {

using zel::db::embedded::CompareTsqlText;

struct Pair {
  std::string a, b;
};

// Typical operands: blank-padded person numbers, a name against its other-case spelling,
// Persian text with trailing blanks.
Pair Operands(int which) {
  switch (which) {
    case 0:
      return {"      1001", "      1001"};
    case 1:
      return {"Mohammad Rezaei", "MOHAMMAD REZAEI     "};
    default:
      return {"محمد رضایی", "محمد رضایی    "};
  }
}

void BM_CompareTsqlText(benchmark::State& state) {
  const Pair p = Operands(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(CompareTsqlText(p.a, p.b));
  }
}
BENCHMARK(BM_CompareTsqlText)->Arg(0)->Arg(1)->Arg(2);

void BM_CompareBinary(benchmark::State& state) {
  const Pair p = Operands(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::string_view(p.a).compare(p.b));
  }
}
BENCHMARK(BM_CompareBinary)->Arg(0)->Arg(1)->Arg(2);

// ORDER BY over 10000 person numbers, with the collation (range 1) or binary (range 0).
void BM_OrderBy(benchmark::State& state) {
  sqlite3* raw = nullptr;
  sqlite3_open(":memory:", &raw);
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
  zel::db::embedded::RegisterTsqlRuntime(raw);
  sqlite3_exec(raw,
               "CREATE TABLE p(perno TEXT);"
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
               "INSERT INTO p SELECT printf('%10d', (i * 7919) % 100003) FROM n",
               nullptr, nullptr, nullptr);
  const char* sql = state.range(0) ? "SELECT perno FROM p ORDER BY perno COLLATE TSQL"
                                   : "SELECT perno FROM p ORDER BY perno COLLATE BINARY";
  for (auto _ : state) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(raw, sql, -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error("prepare");
    int rows = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) ++rows;
    sqlite3_finalize(stmt);
    benchmark::DoNotOptimize(rows);
  }
}
BENCHMARK(BM_OrderBy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Per-row cost of the runtime's arithmetic against SQLite's operators: `a - b` and `a * b`
// over 10000 int rows, natively (range 0) or through tsql_sub / tsql_mul (range 1).
void BM_Arithmetic(benchmark::State& state) {
  sqlite3* raw = nullptr;
  sqlite3_open(":memory:", &raw);
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
  zel::db::embedded::RegisterTsqlRuntime(raw);
  sqlite3_exec(raw,
               "CREATE TABLE d(a INTEGER, b INTEGER);"
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
               "INSERT INTO d SELECT (i * 7919) % 1440, i % 60 FROM n",
               nullptr, nullptr, nullptr);
  const char* sql = state.range(0) ? "SELECT sum(tsql_sub(a, b)), sum(tsql_mul(a, b)) FROM d"
                                   : "SELECT sum(a - b), sum(a * b) FROM d";
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(raw, sql, -1, &stmt, nullptr) != SQLITE_OK)
    throw std::runtime_error("prepare");
  for (auto _ : state) {
    if (sqlite3_step(stmt) != SQLITE_ROW) throw std::runtime_error("step");
    benchmark::DoNotOptimize(sqlite3_column_int64(stmt, 0));
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
}
BENCHMARK(BM_Arithmetic)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
