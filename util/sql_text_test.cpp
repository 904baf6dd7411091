#include "util/sql_text.h"

#include <gtest/gtest.h>

namespace zel::util {
namespace {

TEST(SqlQuoting, DoublesEverySingleQuoteAndKeepsTheRest) {
  const struct {
    std::string_view value, doubled, quoted;
  } cases[] = {
      {"ali", "ali", "'ali'"},
      {"O'Neil", "O''Neil", "'O''Neil'"},
      {"'", "''", "''''"},
      {"x'; Drop Table T --", "x''; Drop Table T --", "'x''; Drop Table T --'"},
      {"", "", "''"},
      {"ساعت \"۸\"", "ساعت \"۸\"", "'ساعت \"۸\"'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DoubleQuotes(c.value), c.doubled);
    EXPECT_EQ(SqlQuoted(c.value), c.quoted);
  }
}

}  // namespace
}  // namespace zel::util
