// Embedded engine costs: translating a statement (cold: parse, translate and prepare a text
// never seen; cached: the connection's cache) and running the daily engine's typical
// statements, a keyed SELECT on DayWork and a single-row INSERT into TimeTab.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "db/client.h"
#include "db/embedded/embedded.h"

namespace {

using zel::db::Connection;
using zel::db::ConnectionSettings;
using zel::db::Param;
using zel::db::ParamType;
using zel::db::Value;

std::string PerNo(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%10d", n);
  return buf;
}

std::string DayText(int day) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d/%02d", day / 31 + 1, day % 31 + 1);
  return buf;
}

// A year database with DayWork (a few thousand rows) and an empty TimeTab.
class Server {
 public:
  Server() {
    std::random_device rd;
    dir_ = (std::filesystem::temp_directory_path() / ("zel_db_bench_" + std::to_string(rd())))
               .string();
    ConnectionSettings s;
    s.data_dir = dir_;
    auto setup = zel::db::OpenEmbedded(s);
    setup->Execute("CREATE DATABASE Att_1399");
    setup->Execute("USE Att_1399");
    setup->Execute(
        "CREATE TABLE DayWork (PerNo char(10) NOT NULL, DDate char(5) NOT NULL, Edited int, "
        "WorkGroup int, "
        "CalWork int, WorkTotal int, ExtraWorkTotal int, NonWorkTotal int, Holiday int, BeginStr "
        "varchar(100), "
        "CONSTRAINT PK_DayWork PRIMARY KEY (PerNo, DDate))");
    setup->Execute(
        "CREATE TABLE TimeTab (PerNo char(10) NOT NULL, CalcDate char(5) NOT NULL, BeginDate "
        "char(5), "
        "BeginTime char(5), EndDate char(5), EndTime char(5), PresenceType int, WorkingInterval "
        "int, [Status] int, "
        "Duration int, MorkhasiSheetCode int, MorkhasiType int, DDesc varchar(100), "
        "MamuriatSheetCode int, "
        "MamuriatType int, ExtraWorkSheetCode int, ServiceLateSheetCode int, SuspensionSheetCode "
        "int)");
    for (int p = 0; p < 20; ++p) {
      std::string batch;
      for (int d = 0; d < 186; ++d)
        batch += "INSERT INTO DayWork VALUES ('" + PerNo(1000 + p) + "', '" + DayText(d) +
                 "', 0, 1, 480, 470, 10, 20, 0, '08:00');\n";
      setup->Execute(batch);
    }
    s.database = "Att_1399";
    conn = zel::db::OpenEmbedded(s);
  }
  ~Server() {
    conn.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::unique_ptr<Connection> conn;

 private:
  std::string dir_;
};

Server& TheServer() {
  static Server server;
  return server;
}

const char kKeyedSelect[] = "Select * from DayWork where PerNo = ? and DDate = ?";

std::vector<Param> KeyParams(int i) {
  return {Param{"PerNo", ParamType::String, 10, Value(PerNo(1000 + i % 20))},
          Param{"DDate", ParamType::String, 5, Value(DayText(i % 186))}};
}

void BM_KeyedSelectCached(benchmark::State& state) {
  Connection& c = *TheServer().conn;
  int i = 0;
  for (auto _ : state) {
    auto r = c.Execute(kKeyedSelect, KeyParams(i++));
    if (r.rows.size() != 1) state.SkipWithError("row not found");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_KeyedSelectCached);

void BM_KeyedSelectCold(benchmark::State& state) {
  Connection& c = *TheServer().conn;
  int i = 0;
  for (auto _ : state) {
    // A text never seen: parse, translate and prepare every time.
    std::string sql = std::string(kKeyedSelect) + " /* " + std::to_string(i) + " */";
    auto r = c.Execute(sql, KeyParams(i++));
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_KeyedSelectCold);

const char kInsertTimeTab[] =
    "INSERT INTO TimeTab "
    "(PerNo,CalcDate,BeginDate,BeginTime,EndDate,EndTime,PresenceType,WorkingInterval,[Status],"
    "Duration,MorkhasiSheetCode,MorkhasiType,DDesc,MamuriatSheetCode,MamuriatType,"
    "ExtraWorkSheetCode,"
    "ServiceLateSheetCode,SuspensionSheetCode)Values ( ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
    "?, ?, ?, ? ) ";

std::vector<Param> InsertParams(int i) {
  std::vector<Param> p;
  auto s = [&](const char* n, std::string v) {
    p.push_back(Param{n, ParamType::String, 10, Value(std::move(v))});
  };
  auto n = [&](const char* name, int v) {
    p.push_back(Param{name, ParamType::Integer, 0, Value(v)});
  };
  s("PerNo", PerNo(1000 + i % 20));
  s("CalcDate", DayText(i % 186));
  s("BeginDate", DayText(i % 186));
  s("BeginTime", "08:00");
  s("EndDate", DayText(i % 186));
  s("EndTime", "16:00");
  n("PresenceType", 14);
  n("WorkingInterval", 2);
  n("Status", 1);
  n("Duration", 480);
  n("MorkhasiSheetCode", 0);
  n("MorkhasiType", 0);
  s("DDesc", "");
  n("MamuriatSheetCode", 0);
  n("MamuriatType", 0);
  n("ExtraWorkSheetCode", 0);
  n("ServiceLateSheetCode", 0);
  n("SuspensionSheetCode", 0);
  return p;
}

void BM_InsertTimeTabCached(benchmark::State& state) {
  Connection& c = *TheServer().conn;
  int i = 0;
  for (auto _ : state) c.Execute(kInsertTimeTab, InsertParams(i++));
}
BENCHMARK(BM_InsertTimeTabCached);

void BM_InsertTimeTabCold(benchmark::State& state) {
  Connection& c = *TheServer().conn;
  int i = 0;
  for (auto _ : state) {
    std::string sql = std::string(kInsertTimeTab) + "/* " + std::to_string(i) + " */";
    c.Execute(sql, InsertParams(i++));
  }
}
BENCHMARK(BM_InsertTimeTabCold);

// The presence assembly's batch: variables set from the text, then a range query.
void BM_DeclareSetSelectBatchCached(benchmark::State& state) {
  Connection& c = *TheServer().conn;
  const std::string sql =
      "Declare @BeginDate as char(5),@EndDate as char(5) \n set @BeginDate = '01/01'\n set "
      "@EndDate = '01/03'\n"
      " Select * from DayWork \nWhere Perno =  '      1005' and  \n((DDate Between @BeginDate And "
      "@EndDate)) \n"
      "Order By DDate ";
  for (auto _ : state) {
    auto r = c.Execute(sql);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_DeclareSetSelectBatchCached);

}  // namespace

BENCHMARK_MAIN();
