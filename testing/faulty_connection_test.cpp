#include "testing/faulty_connection.h"

#include <gtest/gtest.h>

#include "testing/temp_server.h"

namespace zel::testing {
namespace {

TEST(ScopedFaults, FailsTheStatementsHoldingAPieceWithoutReachingTheServer) {
  TempHome home;
  auto before = home.Open("Att");
  {
    const ScopedFaults faults({"Insert Into CSSLog", "FROM semaphor"});
    auto connection = home.Open("Att");
    const struct {
      const char* sql;
      const char* failure;  // nullptr: goes through
    } cases[] = {
        {"insert into csslog (Comment) values ('x')", "injected failure: Insert Into CSSLog"},
        {"SELECT * FROM Semaphor", "injected failure: FROM semaphor"},
        {"SELECT COUNT(*) FROM CSSLog", nullptr},
        {"DELETE FROM SYSTEM", nullptr}};
    for (const auto& c : cases) {
      if (c.failure) {
        try {
          connection->Execute(c.sql);
          ADD_FAILURE() << "did not fail: " << c.sql;
        } catch (const db::DbError& e) {
          EXPECT_EQ(std::string(e.what()), c.failure);
        }
      } else {
        EXPECT_NO_THROW(connection->Execute(c.sql)) << c.sql;
      }
    }
    before->Execute("INSERT INTO CSSLog (Comment) VALUES ('opened before the scope')");
  }
  home.Exec("Att", "INSERT INTO CSSLog (Comment) VALUES ('opened after the scope')");
  const auto rows = home.Query("Att", "SELECT Comment FROM CSSLog ORDER BY Comment").rows;
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0].AsString(), "opened after the scope");
  EXPECT_EQ(rows[1][0].AsString(), "opened before the scope");
}

// A failure injected inside a transaction either leaves the transaction open (an ordinary
// statement error) or, as a server that chose the connection as deadlock victim, rolls it
// back: the rows written before are gone, later statements land on their own and the
// COMMIT finds no transaction.
TEST(ScopedFaults, AFailureCanRollTheOpenTransactionBack) {
  const struct {
    FaultEffect effect;
    std::int64_t trancount_after;  // @@TRANCOUNT right after the failure
    const char* rows;              // CSSLog comments at the end
    bool commit_fails;
  } cases[] = {
      {FaultEffect::kStatementOnly, 1, "after,before", false},
      {FaultEffect::kRollsBackTransaction, 0, "after", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.effect));
    TempHome home;
    const ScopedFaults faults({"FROM Semaphor"}, c.effect);
    auto connection = home.Open("Att");
    connection->BeginTransaction();
    connection->Execute("INSERT INTO CSSLog (Comment) VALUES ('before')");
    EXPECT_THROW(connection->Execute("SELECT * FROM Semaphor"), db::DbError);
    EXPECT_EQ(connection->Execute("SELECT @@TRANCOUNT").rows.at(0).at(0).AsInteger(),
              c.trancount_after);
    connection->Execute("INSERT INTO CSSLog (Comment) VALUES ('after')");
    if (c.commit_fails) {
      EXPECT_THROW(connection->CommitTransaction(), db::DbError);
    } else {
      connection->CommitTransaction();
    }
    std::string rows;
    for (const auto& row : home.Query("Att", "SELECT Comment FROM CSSLog ORDER BY Comment").rows)
      rows += (rows.empty() ? "" : ",") + row.at(0).AsString();
    EXPECT_EQ(rows, c.rows);
  }
}

}  // namespace
}  // namespace zel::testing
