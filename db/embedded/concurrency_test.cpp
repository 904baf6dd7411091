// Several worker threads, each with its own connection on the one server file, insert and
// read at the same time: nothing is lost and no statement fails with a lock error.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "db/embedded/embedded.h"

namespace zel::db {
namespace {

TEST(EmbeddedConcurrency, EightWorkersInsertAndReadWithoutLosses) {
  std::random_device rd;
  const std::string dir = (std::filesystem::temp_directory_path() /
                           ("zel_conc_" + std::to_string(rd()) + std::to_string(rd())))
                              .string();
  ConnectionSettings settings;
  settings.data_dir = dir;
  {
    auto setup = OpenEmbedded(settings);
    setup->Execute("CREATE DATABASE Att_1399");
    setup->Execute(
        "CREATE TABLE Att_1399..TimeTab (Id int IDENTITY(1,1) NOT NULL, PerNo char(10) NOT NULL, "
        "CalcDate char(5) NOT NULL, Seq int NOT NULL, CONSTRAINT PK_TimeTab PRIMARY KEY (PerNo, "
        "CalcDate, Seq))");
  }
  settings.database = "Att_1399";
  constexpr int kThreads = 8;
  const auto stop_at = std::chrono::steady_clock::now() + std::chrono::milliseconds(2000);
  std::vector<int> inserted(kThreads, 0);
  std::vector<std::string> errors(kThreads);
  std::atomic<long long> reads{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      try {
        auto conn = OpenEmbedded(settings);
        char perno[16];
        std::snprintf(perno, sizeof perno, "%10d", 1000 + t);
        int seq = 0;
        while (std::chrono::steady_clock::now() < stop_at) {
          ++seq;
          conn->Execute("INSERT INTO TimeTab (PerNo, CalcDate, Seq) VALUES (?, '01/02', ?)",
                        {Param{"PerNo", ParamType::String, 10, Value(std::string(perno))},
                         Param{"Seq", ParamType::Integer, 0, Value(seq)}});
          inserted[static_cast<std::size_t>(t)] = seq;
          ResultSet r =
              conn->Execute("Select Count(*) From TimeTab Where PerNo = ?",
                            {Param{"PerNo", ParamType::String, 10, Value(std::string(perno))}});
          if (r.rows.at(0).at(0).AsInteger() != seq)
            throw DbError("own rows not visible after insert");
          conn->Execute("Select Max(Seq) From TimeTab");
          reads += 2;
        }
      } catch (const std::exception& e) {
        errors[static_cast<std::size_t>(t)] = e.what();
      }
    });
  }
  for (std::thread& w : workers) w.join();
  long long total = 0;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(errors[static_cast<std::size_t>(t)], "") << "worker " << t;
    EXPECT_GT(inserted[static_cast<std::size_t>(t)], 0) << "worker " << t;
    total += inserted[static_cast<std::size_t>(t)];
  }
  auto check = OpenEmbedded(settings);
  ResultSet r = check->Execute("SELECT COUNT(*), MAX(Id), COUNT(DISTINCT Id) FROM TimeTab");
  EXPECT_EQ(r.rows.at(0).at(0).AsInteger(), total);
  EXPECT_EQ(r.rows.at(0).at(1).AsInteger(), total);  // identities are dense: no insert was lost
  EXPECT_EQ(r.rows.at(0).at(2).AsInteger(), total);
  EXPECT_GT(reads.load(), 0);
  check.reset();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zel::db
