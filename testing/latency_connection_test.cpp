#include "testing/latency_connection.h"

#include <gtest/gtest.h>

#include "testing/temp_server.h"

namespace zel::testing {
namespace {

// The delay itself is not asserted (no timing in tests): what matters is that the wrapped
// connections of the scope behave as the server does and count as it counts.
TEST(ScopedLatency, WrapsTheConnectionsOfTheScopeAndPassesEverythingOn) {
  TempHome home;
  {
    const ScopedLatency latency(std::chrono::microseconds(50));
    auto connection = home.Open("Att");
    EXPECT_NE(dynamic_cast<LatencyConnection*>(connection.get()), nullptr);
    const std::uint64_t before = connection->StatementsSent();
    db::RunInTransaction(*connection, [&] {
      connection->Execute("INSERT INTO CSSLog (Comment) VALUES ('through')");
    });
    EXPECT_EQ(connection->StatementsSent() - before, 3u);  // begin, insert, commit
  }
  auto plain = home.Open("Att");
  EXPECT_EQ(dynamic_cast<LatencyConnection*>(plain.get()), nullptr);
  EXPECT_EQ(home.Query("Att", "SELECT Comment FROM CSSLog").rows.at(0).at(0).AsString(), "through");
}

}  // namespace
}  // namespace zel::testing
