#include "testing/statement_corpus.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

namespace zel::testing {
namespace {

namespace fs = std::filesystem;

TEST(NormalizeStatement, KeepsTheShapeAndDropsValuesAndLayout) {
  const struct {
    std::string_view sql, shape;
  } cases[] = {
      {"Select * from [Att_1399]..PrjRule Where Perno = :Perno and :CurDate Between BeginDate And "
       "EndDate",
       "Select * from [Att_#]..PrjRule Where Perno = ? and ? Between BeginDate And EndDate"},
      {" Insert Into CSSLog \n Values(0, '      1001', N'روز ''۵''', 12.5) \n",
       "Insert Into CSSLog Values(#, '?', N'?', #.#)"},
      {"Where DBeginDate Between ? And ?", "Where DBeginDate Between ? And ?"},
      {"select ':Name' , x", "select '?' , x"},
      {"a\t\r\n  b", "a b"},
      {"INSERT INTO T (A,B) Values (?, ?), (?, ?),\n(?, ?)", "INSERT INTO T (A,B) Values (?, ?)"},
      {"Values ('a', 1), ('b', 22)", "Values ('?', #)"},
      {"f(x), f(y)", "f(x), f(y)"},
      {"'unterminated", "'?'"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizeStatement(c.sql), c.shape) << c.sql;
  // What the normalisation keeps apart.
  EXPECT_NE(NormalizeStatement("Where A = :A"), NormalizeStatement("Where A = '1'"));
  EXPECT_NE(NormalizeStatement("select X"), NormalizeStatement("SELECT X"));
  EXPECT_NE(NormalizeStatement("Values(1)"), NormalizeStatement("Values (1)"));
}

TEST(IsRowWriteBackText, KnowsTheClientsOwnWriteBackForms) {
  const struct {
    std::string_view sql;
    bool write_back;
  } cases[] = {
      {"SELECT * FROM DayMorDt WHERE 1 = 0", true},
      {"INSERT INTO DayMorDt ([PerNo], [DDate]) VALUES (?, ?)", true},
      {"INSERT INTO Att_1399..T DEFAULT VALUES", true},
      {"SELECT COUNT(*) FROM DayMorDt WHERE [PerNo] = ? AND [DDate] = ?", true},
      {"UPDATE DayMorDt SET [Amount] = ?, [Days] = ? WHERE [PerNo] = ? AND [DDate] = ?", true},
      {"INSERT INTO TimeTab (PerNo,CalcDate) Values (?, ?)", false},
      {"INSERT INTO T ([A]) VALUES ('x')", false},
      {" UPDATE dbo.Semaphor SET Amount = Amount + 1 WHERE Code = 17 ", false},
      {"SELECT * FROM SYSTEM", false},
      {"Select * from DayMor Where Perno = ?", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRowWriteBackText(c.sql), c.write_back) << c.sql;
}

TEST(LoadCorpusStatements, ReadsStatementAndDatasetBlocksOfEveryCorpusFile) {
  const fs::path dir = fs::temp_directory_path() / ("zel_corpus_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "b.corpus") << "Header text\n@entry One\n@database Att\n@setup\n"
                                     "CREATE TABLE T (A int)\n@statement crlf\nselect A\n"
                                     "from T\n\n@param P integer = 1\n@expect-rows\nA\n"
                                     "@dataset table=Person\n@post\n@dataset db=Att\n"
                                     "Select * From T\n";
  std::ofstream(dir / "a.corpus") << "@entry Two\r\n@statement\r\nDelete From T\r\n";
  std::ofstream(dir / "c.txt") << "@entry Three\n@statement\nselect 3\n";
  const auto statements = LoadCorpusStatements(dir);
  fs::remove_all(dir);
  ASSERT_EQ(statements.size(), 4u);
  const struct {
    std::string file;
    int line;
    std::string text;
    std::string entry;
  } want[] = {{"a.corpus", 2, "Delete From T", "Two"},
              {"b.corpus", 6, "select A\nfrom T", "One"},
              {"b.corpus", 13, "SELECT * FROM Person", "One"},
              {"b.corpus", 15, "Select * From T", "One"}};
  for (std::size_t i = 0; i < statements.size(); ++i) {
    EXPECT_EQ(statements[i].file, want[i].file);
    EXPECT_EQ(statements[i].line, want[i].line);
    EXPECT_EQ(statements[i].text, want[i].text);
    EXPECT_EQ(statements[i].entry, want[i].entry);
  }
  EXPECT_THROW(LoadCorpusStatements(dir / "missing"), std::runtime_error);
}

}  // namespace
}  // namespace zel::testing
