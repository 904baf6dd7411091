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

}  // namespace
}  // namespace zel::testing
