#include "db/css_log.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/temp_server.h"
#include "util/text.h"

namespace zel::db {
namespace {

std::int64_t Rows(const testing::TempHome& home) {
  return home.Query("Att", "SELECT COUNT(*) FROM CSSLog").rows.at(0).at(0).AsInteger();
}

TEST(CssLog, ReportsOnceAgainOnlyWhenTheCommentChanges) {
  testing::TempHome home;
  auto base = home.Open("Att");
  // The first report of a kept row is written, a repeat of it is not, a new reason is.
  EXPECT_TRUE(InsertCSSLogOnce(*base, 7, "      1001", "Punch REC 5: no such day"));
  EXPECT_FALSE(InsertCSSLogOnce(*base, 8, "1001", "Punch REC 5: no such day"));
  EXPECT_TRUE(InsertCSSLogOnce(*base, 8, "1001", "Punch REC 5: no rule for the card"));
  // The same comment of another person is another row.
  EXPECT_TRUE(InsertCSSLogOnce(*base, 8, "1002", "Punch REC 5: no such day"));
  EXPECT_EQ(Rows(home), 3);
  const ResultSet first =
      home.Query("Att", "SELECT ScheduleId, PerNo, Status FROM CSSLog ORDER BY Id");
  EXPECT_EQ(first.rows[0][0].AsInteger(), 7);
  // Left-trimmed, as the calculation writes it (the char column pads on the right).
  EXPECT_EQ(util::TrimRight(first.rows[0][1].AsString()), "1001");
  EXPECT_EQ(first.rows[0][2].AsInteger(), 0);
}

TEST(CssLog, LongCommentsAreCutAndStillRecognised) {
  testing::TempHome home;
  auto base = home.Open("Att");
  const std::string long_comment(300, 'x');
  EXPECT_TRUE(InsertCSSLogOnce(*base, 1, "1001", long_comment));
  EXPECT_FALSE(InsertCSSLogOnce(*base, 1, "1001", long_comment));
  EXPECT_EQ(home.Query("Att", "SELECT LEN(Comment) FROM CSSLog").rows.at(0).at(0).AsInteger(), 255);
}

TEST(CssLog, PlainInsertAlwaysWritesWithQuotesKept) {
  testing::TempHome home;
  auto base = home.Open("Att");
  InsertCSSLog(*base, 3, "1001", "it's done");
  InsertCSSLog(*base, 3, "1001", "it's done");
  EXPECT_EQ(Rows(home), 2);
  EXPECT_EQ(home.Query("Att", "SELECT TOP 1 Comment FROM CSSLog").rows.at(0).at(0).AsString(),
            "it's done");
}

}  // namespace
}  // namespace zel::db
