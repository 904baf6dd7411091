#include "engine/day_rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/text.h"

namespace zel::engine {
namespace {

db::Param P(const char* name, db::Value value) {
  return {name, db::ParamType::Unknown, 0, std::move(value)};
}

// The day's deletes as the worker sends them.
DayStatement Delete(const char* table, const char* column, const char* from, const char* to) {
  return {std::string("DELETE FROM Att_1399..") + table + " \nwhere \n(Perno = ?)\nAND (" + column +
              " >= ?)\nAND (" + column + " <= ?)",
          {P("Perno", "      1001"), P("From", from), P("To", to)},
          60};
}

DayStatement DayWork(const char* day, int work) {
  return {"INSERT INTO DayWork \n(PerNo,DDate,WorkTotal)\n Values \n( ?, ?, ?)",
          {P("PerNo", "      1001"), P("DDate", day), P("WorkTotal", work)}};
}

DayStatement Detail(const char* day, int code, int amount) {
  return {
      "INSERT INTO DayMorDt ([PerNo], [DDate], [MorkhasiCode], [Amount]) VALUES (?, ?, ?, ?)",
      {P("PerNo", "      1001"), P("DDate", day), P("MorkhasiCode", code), P("Amount", amount)}};
}

DayStatement DetailAmount(const char* day, int code, int amount) {
  return {
      "UPDATE DayMorDt SET [Amount] = ? WHERE [PerNo] = ? AND [DDate] = ? AND [MorkhasiCode] = ?",
      {P("Amount", amount), P("PerNo", "      1001"), P("DDate", day), P("MorkhasiCode", code)}};
}

std::vector<DayStatement> Day(const char* day, int work) {
  return {Delete("DayMorDt ", "DDate", day, day), Delete("DayWork", "DDate", day, day),
          DayWork(day, work)};
}

TEST(DayRows, ReadsTheRowsTheDayLeaves) {
  std::vector<DayStatement> s = Day("02/09", 480);
  s.push_back(Detail("02/09", 3, 60));
  s.push_back(DetailAmount("02/09", 3, 90));  // the detail of the day grows
  const auto rows = DayRowsReader().Read(s);
  ASSERT_TRUE(rows);
  EXPECT_EQ(rows->day, "02/09");
  EXPECT_EQ(rows->deletes, 2u);
  ASSERT_EQ(rows->tables.size(), 2u);
  const DayTable& detail = rows->tables.at("daymordt");
  EXPECT_EQ(detail.date_column, "DDate");
  ASSERT_EQ(detail.rows.size(), 1u);
  ASSERT_TRUE(detail.rows[0].Find("amount"));
  EXPECT_EQ(*detail.rows[0].Find("amount"), db::Value(90));
  EXPECT_EQ(*rows->tables.at("daywork").rows[0].Find("worktotal"), db::Value(480));
}

TEST(DayRows, AnyOtherStatementLeavesTheDayToBeWrittenAsItIs) {
  const struct {
    const char* why;
    std::vector<DayStatement> statements;
  } cases[] = {
      {"a literal value",
       {Delete("DayWork", "DDate", "02/09", "02/09"),
        {"INSERT INTO DayWork (PerNo,DDate) VALUES (?, '02/09')", {P("PerNo", "      1001")}}}},
      {"a delete of several days", {Delete("DayWork", "DDate", "02/09", "02/10")}},
      {"a row of a table the day does not delete",
       {Delete("DayWork", "DDate", "02/09", "02/09"), Detail("02/09", 3, 60)}},
      {"a row of another day", {Delete("DayWork", "DDate", "02/09", "02/09"), DayWork("02/10", 1)}},
      {"an update of no row the day wrote",
       {Delete("DayMorDt ", "DDate", "02/09", "02/09"), DetailAmount("02/09", 3, 90)}},
      {"a delete after a row",
       {Delete("DayWork", "DDate", "02/09", "02/09"), DayWork("02/09", 1),
        Delete("DayMorDt ", "DDate", "02/09", "02/09")}},
      {"a statement of another kind",
       {Delete("DayWork", "DDate", "02/09", "02/09"), {"EXEC Something ?", {P("A", 1)}}}},
      {"no delete at all", {}},
  };
  for (const auto& c : cases) EXPECT_FALSE(DayRowsReader().Read(c.statements)) << c.why;
}

TEST(DayRows, StoredValuesCompareAsTheServerStoresThem) {
  const struct {
    db::Value stored, written;
    bool same;
  } cases[] = {
      {db::Value(), db::Value(), true},
      {db::Value(), db::Value(0), false},
      {db::Value(""), db::Value(), false},
      {db::Value(5), db::Value("5"), true},
      {db::Value(5), db::Value(6), false},
      {db::Value(2.5), db::Value(2.5), true},
      {db::Value("05/10     "), db::Value("05/10"), true},  // a char column pads
      {db::Value("      1001"), db::Value("1001"), false},  // leading blanks are kept
      {db::Value("Ali"), db::Value("ALI"), false},          // a rewrite would change the case
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SameStoredValue(c.stored, c.written), c.same)
        << c.stored.AsString() << " / " << c.written.AsString();
  }
}

TEST(DayRows, RowsCompareInAnyOrderAndColumnsLeftOutMustBeNull) {
  const auto columns = [](std::vector<std::string> names) {
    return std::make_shared<const std::vector<std::string>>(std::move(names));
  };
  const Columns written = columns({"amount", "perno"});
  const Columns stored = columns({"perno", "amount", "note"});  // as the table has them
  const DayRow a{written, {db::Value(10), db::Value("1001")}};
  const DayRow b{written, {db::Value(20), db::Value("1001")}};
  const DayRow stored_a{stored, {db::Value("1001"), db::Value(10), db::Value()}};
  const DayRow stored_b{stored, {db::Value("1001"), db::Value(20), db::Value()}};
  EXPECT_TRUE(SameRows({stored_a, stored_b}, {b, a}));  // the insert leaves "note" NULL
  EXPECT_FALSE(SameRows({stored_a, stored_a}, {a, b}));
  EXPECT_FALSE(SameRows({stored_a}, {a, a}));
  const DayRow edited{stored, {db::Value("1001"), db::Value(10), db::Value("edited by hand")}};
  EXPECT_FALSE(SameRows({edited}, {a}));  // a rewrite would clear it
  const DayRow unknown{columns({"amount", "perno", "nosuchcolumn"}),
                       {db::Value(10), db::Value("1001"), db::Value(1)}};
  EXPECT_FALSE(SameRows({stored_a}, {unknown}));
}

TEST(DayRows, ChangedColumnsOfARewrittenRow) {
  const auto columns = [](std::vector<std::string> names) {
    return std::make_shared<const std::vector<std::string>>(std::move(names));
  };
  const Columns stored_columns = columns({"perno", "ddate", "worktotal", "kasr", "note"});
  const std::vector<std::string> names = {"PerNo", "DDate", "WorkTotal", "Kasr", "Note"};
  const Columns written_columns = columns({"perno", "ddate", "worktotal", "kasr"});
  const auto stored = [&](db::Value work, db::Value kasr, db::Value note) {
    return DayRow{stored_columns,
                  {db::Value("      1001"), db::Value("05/10"), std::move(work), std::move(kasr),
                   std::move(note)}};
  };
  const auto written = [&](db::Value work, db::Value kasr) {
    return DayRow{written_columns,
                  {db::Value("      1001"), db::Value("05/10"), std::move(work), std::move(kasr)}};
  };
  using Changes = std::vector<db::CalcChange>;
  struct Case {
    const char* what;
    DayRow stored, written;
    Changes expected;
  } cases[] = {
      {"same stored values (a number read as text, char padding)",
       stored(db::Value("450"), db::Value("0  "), db::Value()),
       written(db::Value(450), db::Value("0")),
       {}},
      {"one number",
       stored(db::Value(450), db::Value(0), db::Value()),
       written(db::Value(390), db::Value(0)),
       {{"WorkTotal", "450", "390"}}},
      {"two columns, one to NULL",
       stored(db::Value(450), db::Value(30), db::Value()),
       written(db::Value(480), db::Value()),
       {{"WorkTotal", "450", "480"}, {"Kasr", "30", std::nullopt}}},
      {"a column the rewrite leaves out is cleared",
       stored(db::Value(450), db::Value(0), db::Value("by hand  ")),
       written(db::Value(450), db::Value(0)),
       {{"Note", "by hand", std::nullopt}}},
  };
  for (const auto& c : cases) {
    const Changes got = ChangedColumns(c.stored, c.written, names);
    ASSERT_EQ(got.size(), c.expected.size()) << c.what;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].column, c.expected[i].column) << c.what;
      EXPECT_EQ(got[i].old_value, c.expected[i].old_value) << c.what;
      EXPECT_EQ(got[i].new_value, c.expected[i].new_value) << c.what;
    }
  }
  // A column only the new row has is named as written.
  const DayRow wider{
      columns({"perno", "ddate", "worktotal", "kasr", "extra"}),
      {db::Value("      1001"), db::Value("05/10"), db::Value(450), db::Value(0), db::Value(7)}};
  const Changes got =
      ChangedColumns(stored(db::Value(450), db::Value(0), db::Value()), wider, names);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].column, "extra");
  EXPECT_EQ(got[0].old_value, std::nullopt);
  EXPECT_EQ(got[0].new_value, "7");
}

// The statements a plan sends: each text's first 11 characters and its values.
std::vector<std::string> Sent(const WritePlan& plan) {
  std::vector<std::string> shape;
  for (const DayStatement* s : plan.statements) {
    std::string line = s->sql.substr(0, 11);
    for (const db::Param& p : s->params) line += " " + p.value.AsString();
    shape.push_back(line);
  }
  return shape;
}

TEST(DayRows, ConsecutiveDaysShareTheirDeletesAndTheirRowsGoTogether) {
  const auto next = [](const std::string& mmdd) {
    return mmdd == "02/09" ? std::string("02/10") : mmdd == "02/10" ? "02/11" : "02/13";
  };
  std::vector<DayStatement> d9 = Day("02/09", 1), d10 = Day("02/10", 2), d12 = Day("02/12", 3);
  d10.push_back(Detail("02/10", 3, 60));
  d10.push_back(DetailAmount("02/10", 3, 90));  // written as the row it leaves
  d12.push_back(Detail("02/12", 3, 30));
  const std::vector<DayStatement> unread = {{"EXEC Something", {}}};
  const std::vector<DayStatement> d13 = Day("02/13", 4);
  DayRowsReader reader;
  const auto r9 = reader.Read(d9), r10 = reader.Read(d10), r12 = reader.Read(d12),
             r13 = reader.Read(d13);
  const WritePlan plan = WriteStatements(
      {{&d9, &*r9}, {&d10, &*r10}, {&d12, &*r12}, {&unread, nullptr}, {&d13, &*r13}}, next);
  const std::vector<std::string> expected = {
      // 02/09 and 02/10 follow each other: one delete per table for both
      "DELETE FROM       1001 02/09 02/10",
      "DELETE FROM       1001 02/09 02/10",
      // 02/12 does not follow 02/10 (02/11 stays as it is)
      "DELETE FROM       1001 02/12 02/12",
      "DELETE FROM       1001 02/12 02/12",
      // the rows of the three days by text, a power of two rows an insert
      "INSERT INTO       1001 02/09 1       1001 02/10 2",
      "INSERT INTO       1001 02/12 3",
      "INSERT INTO       1001 02/10 3 90       1001 02/12 3 30",
      // statements that could not be read keep their place
      "EXEC Someth",
      "DELETE FROM       1001 02/13 02/13",
      "DELETE FROM       1001 02/13 02/13",
      "INSERT INTO       1001 02/13 4",
  };
  EXPECT_EQ(Sent(plan), expected);
  // The insert of several rows repeats the text's row of values.
  const DayStatement* two = plan.statements[4];
  EXPECT_EQ(two->sql,
            "INSERT INTO DayWork \n(PerNo,DDate,WorkTotal)\n Values \n( ?, ?, ?), ( ?, ?, ?)");
  ASSERT_EQ(two->params.size(), 6u);
  EXPECT_EQ(two->params[5].name, "WorkTotal");
}

TEST(DayRows, RowsGoInInsertsOfAPowerOfTwoRowsWithinTheLimits) {
  // A day of one person per call: the same day twice is written as two runs.
  const auto none = [](const std::string&) { return std::string(); };
  const struct {
    std::size_t rows, columns;
    std::vector<std::size_t> inserts;  // rows per insert
  } cases[] = {
      {1, 4, {1}},
      {7, 4, {4, 2, 1}},
      {1000, 3, {512, 256, 128, 64, 32, 8}},  // at most kMaxRowsPerInsert rows
      {40, 100, {16, 16, 8}},                 // at most kMaxValuesPerInsert values
  };
  for (const auto& c : cases) {
    std::vector<std::string> names;
    std::vector<db::Param> params;
    for (std::size_t k = 0; k < c.columns; ++k) {
      names.push_back(k == 0 ? "PerNo" : k == 1 ? "CalcDate" : "C" + std::to_string(k));
      params.push_back(P(names.back().c_str(), k == 0   ? db::Value("      1001")
                                               : k == 1 ? db::Value("02/09")
                                                        : db::Value(0)));
    }
    std::string text = "INSERT INTO TimeTab (" + util::Join(names, ",") + ") VALUES (";
    for (std::size_t k = 0; k < c.columns; ++k) text += k == 0 ? "?" : ", ?";
    text += ")";
    std::vector<DayStatement> day = {Delete("TimeTab ", "CalcDate", "02/09", "02/09")};
    for (std::size_t r = 0; r < c.rows; ++r) day.push_back({text, params});
    const auto rows = DayRowsReader().Read(day);
    ASSERT_TRUE(rows);
    const WritePlan plan = WriteStatements({{&day, &*rows}}, none);
    std::vector<std::size_t> inserts;
    for (std::size_t i = 1; i < plan.statements.size(); ++i)
      inserts.push_back(plan.statements[i]->params.size() / c.columns);
    EXPECT_EQ(inserts, c.inserts) << c.rows << " rows of " << c.columns;
  }
}

TEST(DayRows, TheJournalOfARowThatAppearsOrDisappears) {
  const Columns lower = std::make_shared<const std::vector<std::string>>(
      std::vector<std::string>{"perno", "ddate", "worktotal", "kasr"});
  const StoredColumns columns{lower, {"PerNo", "DDate", "WorkTotal", "Kasr"}};
  const DayRow row{lower,
                   {db::Value("      1001"), db::Value("05/10"), db::Value(450), db::Value(0)}};
  const DayRow other{lower,
                     {db::Value("      1001"), db::Value("05/10"), db::Value(390), db::Value()}};
  using Changes = std::vector<db::CalcChange>;
  const struct {
    const char* what;
    std::vector<DayRow> stored, written;
    bool calculated_before;
    Changes expected;
  } cases[] = {
      {"rewritten (a zero to NULL is a change)",
       {row},
       {other},
       true,
       {{"WorkTotal", "450", "390"}, {"Kasr", "0", std::nullopt}}},
      {"disappears: each value but a zero now NULL",
       {row},
       {},
       true,
       {{"WorkTotal", "450", std::nullopt}}},
      {"appears where the day was calculated (a zero left out)",
       {},
       {row},
       true,
       {{"WorkTotal", std::nullopt, "450"}}},
      {"a first calculation", {}, {row}, false, {}},
      {"no row before or after", {}, {}, true, {}},
  };
  for (const auto& c : cases) {
    const Changes got =
        RowChanges(c.stored, c.written, c.calculated_before, columns, {"perno", "ddate"});
    ASSERT_EQ(got.size(), c.expected.size()) << c.what;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].column, c.expected[i].column) << c.what;
      EXPECT_EQ(got[i].old_value, c.expected[i].old_value) << c.what;
      EXPECT_EQ(got[i].new_value, c.expected[i].new_value) << c.what;
    }
  }
}

}  // namespace
}  // namespace zel::engine
