#include "app/sql_output.h"

#include <gtest/gtest.h>

namespace zel::app {
namespace {

db::ResultSet Rows() {
  db::ResultSet r;
  r.has_columns = true;
  r.columns = {"PerNo", "Name", "Minutes"};
  r.rows = {{db::Value("      1001"), db::Value("علی"), db::Value(480)},
            {db::Value("2"), db::Value(), db::Value(std::int64_t{15})}};
  return r;
}

TEST(FormatTable, PadsByCharactersAndShowsNull) {
  EXPECT_EQ(FormatTable(Rows()),
            "PerNo      | Name | Minutes\n"
            "-----------+------+--------\n"
            "      1001 | علی  | 480\n"
            "2          | NULL | 15\n"
            "(2 rows)\n");
}

TEST(FormatTable, EmptyResultKeepsTheHeader) {
  db::ResultSet r;
  r.has_columns = true;
  r.columns = {"Id"};
  EXPECT_EQ(FormatTable(r), "Id\n--\n(0 rows)\n");
}

TEST(FormatTabSeparated, HeaderRowsAndEscapes) {
  db::ResultSet r = Rows();
  r.rows.push_back({db::Value("a\tb"), db::Value("line\nbreak"), db::Value(0)});
  EXPECT_EQ(FormatTabSeparated(r),
            "PerNo\tName\tMinutes\n"
            "      1001\tعلی\t480\n"
            "2\t\t15\n"
            "a\\tb\tline\\nbreak\t0\n");
}

}  // namespace
}  // namespace zel::app
