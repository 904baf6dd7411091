#include "management/calc_hold.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dates/zel_calc_utils.h"
#include "management/calculator_management.h"
#include "management/test_server.h"

namespace zel::management {
namespace {

using testing::TestServer;

TEST(CalcHoldTest, HolderTextIsHostAndProcessWithinThirtyCharacters) {
  const std::string holder = ThisHoldHolder();
  EXPECT_LE(holder.size(), 30u);
  const HoldHolder parsed = ParseHoldHolder(holder);
  ASSERT_TRUE(parsed.pid.has_value());
  EXPECT_EQ(*parsed.pid, ::getpid());
  EXPECT_TRUE(HolderIsThisComputer(parsed));
  EXPECT_FALSE(HolderIsGone(parsed));

  const struct {
    const char* text;
    const char* host;
    long pid;  // -1: none
  } cases[] = {
      {"PC1:4711", "PC1", 4711},
      {"PC1", "PC1", -1},
      {"  PC1:12  ", "PC1", 12},
      {"host:name:9", "host:name", 9},
      {"PC1:", "PC1:", -1},
      {"PC1:x1", "PC1:x1", -1},
      {"", "", -1},
  };
  for (const auto& c : cases) {
    const HoldHolder h = ParseHoldHolder(c.text);
    EXPECT_EQ(h.host, c.host) << c.text;
    EXPECT_EQ(h.pid.value_or(-1), c.pid) << c.text;
  }
}

TEST(CalcHoldTest, OnlyAProcessOfThisComputerThatEndedIsGone) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);
  const std::string host = dates::TZelCalcUtils::GetHostName();
  EXPECT_TRUE(HolderIsGone(ParseHoldHolder(host.substr(0, 20) + ":" + std::to_string(child))));
  // Another computer's process cannot be seen from here; a holder without a process id is
  // an older program's.
  EXPECT_FALSE(HolderIsGone(ParseHoldHolder("another-pc-9:" + std::to_string(child))));
  EXPECT_FALSE(HolderIsGone(ParseHoldHolder(host)));
}

TEST(CalcHoldTest, TakeAndReleaseAreConditional) {
  TestServer server;
  server.Exec("Att", "INSERT INTO Semaphor (Code, Amount, HostName) VALUES (17, 0, NULL)");
  auto base = server.Open("Att");
  EXPECT_TRUE(TakeCalcHold(*base, 17, "PC1:10"));
  EXPECT_FALSE(TakeCalcHold(*base, 17, "PC2:20"));
  HoldState state = ReadCalcHold(*base, 17);
  EXPECT_TRUE(state.row);
  EXPECT_EQ(state.amount, 1);
  EXPECT_EQ(state.holder, "PC1:10");
  // Another holder's release leaves the hold alone; the own one frees it, once.
  EXPECT_FALSE(ReleaseCalcHold(*base, 17, std::string("PC2:20")));
  EXPECT_TRUE(ReleaseCalcHold(*base, 17, std::string("PC1:10")));
  EXPECT_FALSE(ReleaseCalcHold(*base, 17, std::nullopt));
  state = ReadCalcHold(*base, 17);
  EXPECT_EQ(state.amount, 0);
  EXPECT_EQ(state.holder, "");
  EXPECT_FALSE(ReadCalcHold(*base, 99).row);
  EXPECT_FALSE(TakeCalcHold(*base, 99, "PC1:10"));
}

// Many programs try at once, each on its own connection: exactly one takes the hold.
TEST(CalcHoldTest, OfManyTakingAtOnceExactlyOneWins) {
  TestServer server;
  server.Exec("Att", "INSERT INTO Semaphor (Code, Amount, HostName) VALUES (17, 0, NULL)");
  for (int round = 0; round < 10; ++round) {
    constexpr int kTakers = 8;
    std::vector<std::unique_ptr<db::Connection>> connections;
    for (int i = 0; i < kTakers; ++i) connections.push_back(server.Open("Att"));
    std::atomic<int> ready{0}, won{0};
    std::vector<std::thread> takers;
    for (int i = 0; i < kTakers; ++i) {
      takers.emplace_back([&, i] {
        ++ready;
        while (ready.load() < kTakers) std::this_thread::yield();
        if (TakeCalcHold(*connections[i], 17, "PC:" + std::to_string(i))) ++won;
      });
    }
    for (auto& t : takers) t.join();
    EXPECT_EQ(won.load(), 1) << "round " << round;
    EXPECT_EQ(ReadCalcHold(*connections[0], 17).amount, 1);
    server.Exec("Att", "UPDATE Semaphor SET Amount = 0, HostName = NULL WHERE Code = 17");
  }
}

// A run takes the hold before it touches the person table: a run refused by the hold never
// calls its preparation, so it cannot refill what the running calculation reads.
TEST(CalcHoldTest, ARunPreparesSharedTablesOnlyWhileHolding) {
  TestServer server;
  server.Exec("Att", "INSERT INTO Semaphor (Code, Amount, HostName) VALUES (17, 1, 'PC9:1')");
  int prepared = 0;
  {
    TZELCalculatorManagement manager(server.Settings());
    manager.SetHoldTakenHook([&] { ++prepared; });
    EXPECT_EQ(manager.RunDailyCalculatorForOnePerson().status, RunStatus::kSemaphoreBusy);
  }
  EXPECT_EQ(prepared, 0);
  server.Exec("Att", "UPDATE Semaphor SET Amount = 0, HostName = NULL WHERE Code = 17");
  std::string seen;
  {
    TZELCalculatorManagement manager(server.Settings());
    manager.SetHoldTakenHook([&] {
      ++prepared;
      const auto rs = server.Query("Att", "SELECT Amount, HostName FROM Semaphor WHERE Code = 17");
      seen = rs.rows[0][0].AsString() + " " + dates::TZelCalcUtils::GetHostName().substr(0, 5);
      EXPECT_EQ(ParseHoldHolder(rs.rows[0][1].AsString()).pid.value_or(0), ::getpid());
    });
    EXPECT_EQ(manager.RunDailyCalculatorForOnePerson().status, RunStatus::kCompleted);
  }
  EXPECT_EQ(prepared, 1);
  EXPECT_EQ(seen.substr(0, 1), "1");
  // A preparation that fails ends the run and frees the hold.
  {
    TZELCalculatorManagement manager(server.Settings());
    manager.SetHoldTakenHook([] { throw std::runtime_error("cannot fill"); });
    EXPECT_THROW(manager.RunDailyCalculatorForOnePerson(), std::runtime_error);
  }
  EXPECT_EQ(
      server.Query("Att", "SELECT Amount FROM Semaphor WHERE Code = 17").rows[0][0].AsInteger(), 0);
}

}  // namespace
}  // namespace zel::management
