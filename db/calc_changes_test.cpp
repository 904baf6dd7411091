#include "db/calc_changes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/temp_server.h"

namespace zel::db {
namespace {

std::vector<CalcChange> Changes(std::size_t count) {
  std::vector<CalcChange> changes;
  for (std::size_t i = 0; i < count; ++i) {
    CalcChange c{"Col" + std::to_string(i), std::to_string(i), std::nullopt};
    if (i % 3 == 0) c = {"Col" + std::to_string(i), std::nullopt, "مرخصی " + std::to_string(i)};
    changes.push_back(c);
  }
  return changes;
}

// A day's changes go in as few statements as chunks of a power of two rows allow, and read
// back whole, in their order, NULLs and Persian text included.
TEST(CalcChanges, ManyChangesGoInFewStatementsAndReadBackInOrder) {
  struct Case {
    std::size_t changes;
    std::uint64_t statements;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {3, 2}, {128, 1}, {300, 5}};  // 300 = 128+128+32+8+4
  for (const Case& c : cases) {
    SCOPED_TRACE(c.changes);
    testing::TempHome home;
    auto base = home.Open("Att");
    base->Execute("CREATE DATABASE ZELLog");
    EnsureCalcChangesTable(*base);
    const std::vector<CalcChange> changes = Changes(c.changes);
    const std::uint64_t before = base->StatementsSent();
    InsertCalcChanges(*base, {"1405", "  1001", "day", "09/01"}, {7, "1405/09/20", "10:30"},
                      changes);
    EXPECT_EQ(base->StatementsSent() - before, c.statements);
    const std::vector<CalcChangeRow> rows = ReadCalcChanges(*base, {"1405", "", {}});
    ASSERT_EQ(rows.size(), changes.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].of.perno, "1001");
      EXPECT_EQ(rows[i].pass.schedule_id, 7);
      EXPECT_EQ(rows[i].change.column, changes[i].column);
      EXPECT_EQ(rows[i].change.old_value, changes[i].old_value);
      EXPECT_EQ(rows[i].change.new_value, changes[i].new_value);
    }
  }
}

}  // namespace
}  // namespace zel::db
