#include "engine/day_writes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/temp_server.h"
#include "util/text.h"

namespace zel::engine {
namespace {

db::Param P(const char* name, const std::string& value) {
  return {name, db::ParamType::String, 10, db::Value(value)};
}

// The journal of a day whose DayWork row disappears, appears where the day was calculated
// before, appears on a first calculation, or is rewritten; the tables end as the new rows say.
TEST(DayWriteBatch, JournalOfRowsThatAppearDisappearOrChange) {
  const ::zel::testing::TempHome server;
  server.Exec("Att_1399",
              "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES ('      1001', '05/09', 450), "
              "('      1001', '05/12', 450)");
  server.Exec("Att_1399",
              "INSERT INTO DayMorDt (PerNo, DDate, MorkhasiCode, Amount) VALUES "
              "('      1001', '05/09', 21, 60), ('      1001', '05/10', 21, 60)");
  auto year = server.Open("Att_1399");
  DayWriteBatch batch;
  batch.SetYear(1399);
  // A day as the worker writes it: its deletes, then its DayWork row when it has one.
  const auto day = [&](const std::string& mmdd, std::optional<int> work) {
    batch.Open(mmdd);
    for (const char* table : {"DayMorDt ", "DayWork"}) {
      EXPECT_TRUE(batch.Hold(std::string("DELETE FROM Att_1399..") + table +
                                 "\nwhere \n(Perno = ?)\nAND (DDate >= ?)\nAND (DDate <= ?)",
                             {P("Perno", "      1001"), P("From", mmdd), P("To", mmdd)}, 60));
    }
    if (work) {
      EXPECT_TRUE(batch.Hold(
          "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES (?, ?, ?)",
          {P("PerNo", "      1001"), P("DDate", mmdd), {"W", db::ParamType::Integer, 0, *work}},
          60));
    }
    batch.Close(false);
  };
  day("05/09", std::nullopt);  // no longer calculated: its row disappears
  day("05/10", 480);           // calculated before (its leave detail) without a row
  day("05/11", 300);           // calculated for the first time
  day("05/12", 390);           // rewritten
  std::vector<std::string> journal;
  const auto failed = batch.Write(*year, true, [&](const WrittenDayChanges& d) {
    for (const db::CalcChange& c : d.changes) {
      journal.push_back(util::TrimWhitespace(d.perno) + " " + d.day + " " + c.column + " " +
                        c.old_value.value_or("NULL") + " " + c.new_value.value_or("NULL"));
    }
  });
  EXPECT_TRUE(failed.empty());
  EXPECT_EQ(journal, (std::vector<std::string>{"1001 05/09 WorkTotal 450 NULL",
                                               "1001 05/10 WorkTotal NULL 480",
                                               "1001 05/12 WorkTotal 450 390"}));
  std::vector<std::string> rows;
  for (const auto& r :
       server.Query("Att_1399", "SELECT DDate, WorkTotal FROM DayWork ORDER BY DDate").rows)
    rows.push_back(r[0].AsString() + " " + r[1].AsString());
  EXPECT_EQ(rows, (std::vector<std::string>{"05/10 480", "05/11 300", "05/12 390"}));
  EXPECT_EQ(server.Query("Att_1399", "SELECT COUNT(*) FROM DayMorDt").rows[0][0].AsInteger(), 0);
}

}  // namespace
}  // namespace zel::engine
