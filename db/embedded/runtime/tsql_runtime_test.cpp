// Each case states what SQL Server answers for the T-SQL the function stands in for.
#include "db/embedded/runtime/tsql_runtime.h"

#ifdef ZEL_TSQL_PROCESS_CLOCK
#include "dates/clock.h"
#endif

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace zel::db::embedded {
namespace {

struct Handle {
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db{nullptr, &sqlite3_close};

  explicit Handle(bool with_runtime = true) {
    sqlite3* raw = nullptr;
    if (sqlite3_open(":memory:", &raw) != SQLITE_OK)
      throw std::runtime_error("cannot open memory database");
    db.reset(raw);
    if (with_runtime) RegisterTsqlRuntime(db.get());
  }
  sqlite3* get() const { return db.get(); }
};

// Runs one statement; all rows' first column joined with "|", each as "NULL", "i:<int>",
// "r:<real>" or "t:<text>"; a failure as "error:<message>".
std::string Eval(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    return std::string("prepare error:") + sqlite3_errmsg(db);
  }
  std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> stmt(raw, &sqlite3_finalize);
  std::string out;
  int rc = 0;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    if (!out.empty()) out += "|";
    switch (sqlite3_column_type(raw, 0)) {
      case SQLITE_NULL:
        out += "NULL";
        break;
      case SQLITE_INTEGER:
        out += "i:" + std::to_string(sqlite3_column_int64(raw, 0));
        break;
      case SQLITE_FLOAT: {
        char buf[64];
        auto res = std::to_chars(buf, buf + sizeof buf, sqlite3_column_double(raw, 0));
        out += "r:" + std::string(buf, res.ptr);
        break;
      }
      default:
        out += "t:" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)));
        break;
    }
  }
  if (rc != SQLITE_DONE) return std::string("error:") + sqlite3_errmsg(db);
  return out;
}

// Runs a script of statements; "" or the error message.
std::string Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) == SQLITE_OK) return "";
  std::string message = error ? error : "?";
  sqlite3_free(error);
  return message;
}

struct ExprCase {
  const char* expr;        // evaluated as SELECT <expr>
  const char* expected;    // as Eval reports it
  const char* sql_server;  // the T-SQL whose answer `expected` is
};

void CheckCases(const std::vector<ExprCase>& cases) {
  Handle h;
  for (const ExprCase& c : cases) {
    EXPECT_EQ(Eval(h.get(), std::string("SELECT ") + c.expr), c.expected)
        << c.expr << "  as  " << c.sql_server;
  }
}

TEST(TsqlRuntime, PlusByOperandTypes) {
  CheckCases({
      {"tsql_add('ab', 'cd')", "t:abcd", "'ab' + 'cd'"},
      {"tsql_add('ab', NULL)", "NULL", "'ab' + NULL"},
      {"tsql_add(NULL, 1)", "NULL", "NULL + 1"},
      {"tsql_add(1, 2)", "i:3", "1 + 2"},
      {"tsql_add(1, 2.5)", "r:3.5", "1 + 2.5E0"},
      {"tsql_add('5', 3)", "i:8", "'5' + 3"},
      {"tsql_add(3, ' 5 ')", "i:8", "3 + ' 5 '"},
      {"tsql_add('', 1)", "i:1", "'' + 1"},
      {"tsql_add('1.5', 1.0)", "r:2.5", "'1.5' + 1.0E0"},
      {"tsql_add(2147483647, 1)",
       "error:Arithmetic overflow error converting expression to data type int.", "2147483647 + 1"},
      {"tsql_add(-2147483648, -1)",
       "error:Arithmetic overflow error converting expression to data type int.",
       "-2147483648 + -1"},
      {"tsql_add(3000000000, 1)", "i:3000000001", "CAST(3000000000 AS bigint) + 1"},
      {"tsql_add('x', 1)",
       "error:Conversion failed when converting the varchar value 'x' to data type int.",
       "'x' + 1"},
      {"tsql_add(1, '1.5')",
       "error:Conversion failed when converting the varchar value '1.5' to data type int.",
       "1 + '1.5'"},
      {"tsql_add('3000000000', 1)",
       "error:The conversion of the varchar value '3000000000' overflowed an int column.",
       "'3000000000' + 1"},
      {"tsql_add('abc', 1.5)", "error:Error converting data type varchar to float.",
       "'abc' + 1.5E0"},
      {"tsql_concat('a', NULL)", "NULL", "'a' + NULL"},
      {"tsql_concat('PageNo ', 12)", "t:PageNo 12", "'PageNo ' + CAST(12 AS varchar(10))"},
  });
}

TEST(TsqlRuntime, OtherArithmetic) {
  CheckCases({
      {"tsql_sub(10, '4')", "i:6", "10 - '4'"},
      {"tsql_sub('a', 'b')",
       "error:The data types varchar and varchar are incompatible in the subtract operator.",
       "'a' - 'b'"},
      {"tsql_mul(65536, 65536)",
       "error:Arithmetic overflow error converting expression to data type int.", "65536 * 65536"},
      {"tsql_div(7, 2)", "i:3", "7 / 2"},
      {"tsql_div(-7, 2)", "i:-3", "-7 / 2"},
      {"tsql_div(1, 0)", "error:Divide by zero error encountered.", "1 / 0"},
      {"tsql_div(1.5, 0)", "error:Divide by zero error encountered.", "1.5E0 / 0"},
      {"tsql_div(-2147483648, -1)",
       "error:Arithmetic overflow error converting expression to data type int.",
       "-2147483648 / -1"},
      {"tsql_mod(-7, 3)", "i:-1", "-7 % 3"},
      {"tsql_mod(7, 0)", "error:Divide by zero error encountered.", "7 % 0"},
      {"tsql_compare('ab', 'AB  ')", "i:0", "'ab' = 'AB  '"},
      {"tsql_compare('10', 9)", "i:1", "'10' > 9 (compared as int)"},
      {"tsql_compare('x', 9)",
       "error:Conversion failed when converting the varchar value 'x' to data type int.",
       "'x' = 9"},
      {"tsql_compare(NULL, 9)", "NULL", "NULL = 9 is unknown"},
  });
}

struct CompareCase {
  const char* a;
  const char* b;
  int sign;  // of a compared with b under SQL Server's case-insensitive collation
};

TEST(TsqlRuntime, CollationComparesCaseInsensitivelyIgnoringTrailingBlanks) {
  const CompareCase cases[] = {
      {"ab", "AB  ", 0},
      {"", "   ", 0},
      {"ab", "abc", -1},
      {"a", "a!", -1},     // the shorter side counts as blank-padded: ' ' < '!'
      {"  ab", "ab", -1},  // leading blanks count
      {"a", "B", -1},      // not binary order, where 'B' < 'a'
      {"Zebra", "apple", 1},
      {"Ärger", "äRGER", 0},      // Latin-1
      {"ŁÓDŹ", "łódź", 0},        // Latin Extended-A
      {"ΣΊΣΥΦΟΣ", "σίσυφος", 0},  // Greek, final sigma included
      {"ЁЛКА ", "ёлка", 0},       // Cyrillic
      {"سلام", "سلام  ", 0},      // Persian: no case, trailing blanks still ignored
      {"كتاب", "کتاب", -1},       // Arabic kaf and Persian keheh stay different letters
      {"ab", "ab\t", 1},          // only blanks are trailing padding
  };
  Handle h;
  sqlite3_stmt* raw = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(h.get(),
                               "SELECT CASE WHEN ?1 = ?2 COLLATE TSQL THEN 0 "
                               "WHEN ?1 < ?2 COLLATE TSQL THEN -1 ELSE 1 END",
                               -1, &raw, nullptr),
            SQLITE_OK);
  std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> stmt(raw, &sqlite3_finalize);
  auto sign = [](int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
  for (const CompareCase& c : cases) {
    sqlite3_reset(raw);
    sqlite3_bind_text(raw, 1, c.a, -1, SQLITE_STATIC);
    sqlite3_bind_text(raw, 2, c.b, -1, SQLITE_STATIC);
    ASSERT_EQ(sqlite3_step(raw), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(raw, 0), c.sign) << "'" << c.a << "' vs '" << c.b << "'";
    EXPECT_EQ(sign(CompareTsqlText(c.a, c.b)), c.sign) << "'" << c.a << "' vs '" << c.b << "'";
    EXPECT_EQ(sign(CompareTsqlText(c.b, c.a)), -c.sign) << "'" << c.b << "' vs '" << c.a << "'";
  }
  EXPECT_EQ(Eval(h.get(), "SELECT 'ab' = 'AB  ' COLLATE TSQL"), "i:1");
}

// The comparison as defined: every character folded (upper case, then lower case), the
// shorter text padded with blanks, then code point order, which for UTF-8 is byte order.
TEST(TsqlRuntime, CollationMatchesFoldAndPadOnMixedTexts) {
  const char* pieces[] = {"a", "A", "b", " ", "!", "\t", "z", "ä", "Ä", "σ", "ς",
                          "Σ", "ı", "I", "i", "ſ", "s",  "س", "ی", "ё", "Ё", "€"};
  const int kPieces = sizeof pieces / sizeof pieces[0];
  Handle h;
  sqlite3_stmt* raw = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(h.get(), "SELECT tsql_lower(tsql_upper(?1))", -1, &raw, nullptr),
            SQLITE_OK);
  std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> stmt(raw, &sqlite3_finalize);
  auto fold = [&](const std::string& text) {
    sqlite3_reset(raw);
    sqlite3_bind_text(raw, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(raw), SQLITE_ROW);
    return std::string(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)));
  };
  auto reference = [&](const std::string& a, const std::string& b) {
    std::string fa = fold(a), fb = fold(b);
    const size_t n = std::max(fa.size(), fb.size());
    fa.resize(n, ' ');
    fb.resize(n, ' ');
    return fa < fb ? -1 : fa > fb ? 1 : 0;
  };
  auto sign = [](int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
  std::mt19937 rng(14030101);
  auto piece = [&] { return std::string(pieces[rng() % kPieces]); };
  for (int round = 0; round < 4000; ++round) {
    std::vector<std::string> parts(rng() % 7);
    for (auto& part : parts) part = piece();
    std::string a, b;
    for (const auto& part : parts) a += part;
    // b mostly shares a's beginning, so that runs of identical bytes end inside characters.
    const size_t keep = parts.empty() ? 0 : rng() % (parts.size() + 1);
    for (size_t k = 0; k < keep; ++k) b += parts[k];
    for (int extra = static_cast<int>(rng() % 3); extra > 0; --extra) b += piece();
    const int expected = reference(a, b);
    EXPECT_EQ(sign(CompareTsqlText(a, b)), expected) << "'" << a << "' vs '" << b << "'";
    EXPECT_EQ(sign(CompareTsqlText(b, a)), -expected) << "'" << b << "' vs '" << a << "'";
  }
  // Malformed UTF-8 still gives a consistent order: a cut-off letter is not the letter.
  EXPECT_EQ(CompareTsqlText("\xD8", "\xD8 "), 0);
  EXPECT_EQ(sign(CompareTsqlText("\xD8", "\xD8\xB3")), -sign(CompareTsqlText("\xD8\xB3", "\xD8")));
  EXPECT_NE(CompareTsqlText("\xD8", "\xD8\xB3"), 0);
}

TEST(TsqlRuntime, OrderByAndUniqueKeysFollowTheCollation) {
  Handle h;
  ASSERT_EQ(Exec(h.get(),
                 "CREATE TABLE t(name TEXT COLLATE TSQL);"
                 "INSERT INTO t VALUES ('b'), ('A'), ('C'), ('a  '), ('Ab')"),
            "");
  // SQL Server: ORDER BY name under a case-insensitive collation puts equal names together.
  EXPECT_EQ(Eval(h.get(), "SELECT name FROM t ORDER BY name, rowid"), "t:A|t:a  |t:Ab|t:b|t:C");
  EXPECT_EQ(Eval(h.get(), "SELECT count(DISTINCT name) FROM t"), "i:4");

  // SQL Server rejects 'aB ' as a duplicate of the key 'Ab'.
  ASSERT_EQ(
      Exec(h.get(), "CREATE TABLE u(k TEXT COLLATE TSQL PRIMARY KEY); INSERT INTO u VALUES ('Ab')"),
      "");
  EXPECT_EQ(Eval(h.get(), "INSERT INTO u VALUES ('aB ')"), "error:UNIQUE constraint failed: u.k");
  EXPECT_EQ(Eval(h.get(), "SELECT k FROM u WHERE k = 'AB' COLLATE TSQL"), "t:Ab");
}

TEST(TsqlRuntime, Substring) {
  CheckCases({
      {"tsql_substring('abc', 0, 2)", "t:a", "SUBSTRING('abc', 0, 2)"},
      {"tsql_substring('abc', -1, 3)", "t:a", "SUBSTRING('abc', -1, 3)"},
      {"tsql_substring('abc', -5, 3)", "t:", "SUBSTRING('abc', -5, 3)"},
      {"tsql_substring('abc', 2, 10)", "t:bc", "SUBSTRING('abc', 2, 10)"},
      {"tsql_substring('abc', 4, 1)", "t:", "SUBSTRING('abc', 4, 1)"},
      {"tsql_substring('abc', 1, 0)", "t:", "SUBSTRING('abc', 1, 0)"},
      {"tsql_substring('1403/05/06', 6, 5)", "t:05/06", "SUBSTRING('1403/05/06', 6, 5)"},
      {"tsql_substring('سلام دنیا', 2, 3)", "t:لام", "SUBSTRING(N'سلام دنیا', 2, 3)"},
      {"tsql_substring('abc', 1, -1)",
       "error:Invalid length parameter passed to the substring function.",
       "SUBSTRING('abc', 1, -1)"},
      {"tsql_substring(NULL, 1, 2)", "NULL", "SUBSTRING(NULL, 1, 2)"},
      {"tsql_substring('abc', NULL, 2)", "NULL", "SUBSTRING('abc', NULL, 2)"},
  });
}

TEST(TsqlRuntime, CastToCharacterTypes) {
  CheckCases({
      {"tsql_char('ab', 5)", "t:ab   ", "CAST('ab' AS CHAR(5))"},
      {"tsql_char('abcdef', 3)", "t:abc", "CAST('abcdef' AS CHAR(3))"},
      {"tsql_char('سلام', 6)", "t:سلام  ", "CAST(N'سلام' AS NCHAR(6))"},
      {"tsql_char(12, 5)", "t:12   ", "CAST(12 AS CHAR(5))"},
      {"tsql_char(12345, 3)", "t:*  ", "CAST(12345 AS CHAR(3))"},
      {"tsql_char(NULL, 3)", "NULL", "CAST(NULL AS CHAR(3))"},
      {"tsql_varchar('abcdef', 3)", "t:abc", "CAST('abcdef' AS VARCHAR(3))"},
      {"tsql_varchar('abcdef', -1)", "t:abcdef", "CAST('abcdef' AS VARCHAR(MAX))"},
      {"tsql_varchar(12345, 3)", "t:*", "CAST(12345 AS VARCHAR(3))"},
      {"tsql_varchar(12345, 10)", "t:12345", "CAST(12345 AS VARCHAR(10))"},
      {"tsql_varchar(-5, 5)", "t:-5", "CONVERT(VARCHAR(5), -5)"},
      {"tsql_varchar(1.5, 10)", "t:1.5", "CAST(1.5E0 AS VARCHAR(10))"},
      {"tsql_varchar(123456789.0, 30)", "t:1.23457e+008", "CAST(123456789E0 AS VARCHAR(30))"},
      {"tsql_varchar(0.00001, 30)", "t:1e-005", "CAST(0.00001E0 AS VARCHAR(30))"},
      {"tsql_varchar(1.5, 2)",
       "error:Arithmetic overflow error for type varchar, value = 1.500000.",
       "CAST(1.5E0 AS VARCHAR(2))"},
      {"tsql_varchar(5000000000, 5)",
       "error:Arithmetic overflow error converting expression to data type varchar.",
       "CAST(CAST(5000000000 AS bigint) AS VARCHAR(5))"},
  });
}

TEST(TsqlRuntime, LenAndOtherStringFunctions) {
  CheckCases({
      {"tsql_len('ab  ')", "i:2", "LEN('ab  ')"},
      {"tsql_len('  ab')", "i:4", "LEN('  ab')"},
      {"tsql_len('   ')", "i:0", "LEN('   ')"},
      {"tsql_len('سلام ')", "i:4", "LEN(N'سلام ')"},
      {"tsql_len(12345)", "i:5", "LEN(12345)"},
      {"tsql_len(NULL)", "NULL", "LEN(NULL)"},
      {"tsql_left('abc', 2)", "t:ab", "LEFT('abc', 2)"},
      {"tsql_left('abc', 5)", "t:abc", "LEFT('abc', 5)"},
      {"tsql_left('abc', -1)", "error:Invalid length parameter passed to the left function.",
       "LEFT('abc', -1)"},
      {"tsql_right('abc', 2)", "t:bc", "RIGHT('abc', 2)"},
      {"tsql_right('سلام', 2)", "t:ام", "RIGHT(N'سلام', 2)"},
      {"tsql_right('abc', 0)", "t:", "RIGHT('abc', 0)"},
      {"tsql_right('abc', -2)", "error:Invalid length parameter passed to the right function.",
       "RIGHT('abc', -2)"},
      {"tsql_charindex('B', 'abcb')", "i:2", "CHARINDEX('B', 'abcb')"},
      {"tsql_charindex('b', 'abcb', 3)", "i:4", "CHARINDEX('b', 'abcb', 3)"},
      {"tsql_charindex('b', 'abc', 0)", "i:2", "CHARINDEX('b', 'abc', 0)"},
      {"tsql_charindex('b', 'abc', 10)", "i:0", "CHARINDEX('b', 'abc', 10)"},
      {"tsql_charindex('x', 'abc')", "i:0", "CHARINDEX('x', 'abc')"},
      {"tsql_charindex('', 'abc')", "i:0", "CHARINDEX('', 'abc')"},
      {"tsql_charindex('ام', 'سلام')", "i:3", "CHARINDEX(N'ام', N'سلام')"},
      {"tsql_charindex(NULL, 'abc')", "NULL", "CHARINDEX(NULL, 'abc')"},
      {"tsql_replace('aBcb', 'b', 'X')", "t:aXcX", "REPLACE('aBcb', 'b', 'X')"},
      {"tsql_replace('aaa', 'aa', 'b')", "t:ba", "REPLACE('aaa', 'aa', 'b')"},
      {"tsql_replace('abc', '', 'x')", "t:abc", "REPLACE('abc', '', 'x')"},
      {"tsql_replace('ÄBÄ', 'ä', 'ae')", "t:aeBae", "REPLACE(N'ÄBÄ', N'ä', N'ae')"},
      {"tsql_replace('abc', 'b', NULL)", "NULL", "REPLACE('abc', 'b', NULL)"},
      {"tsql_ltrim('  a  ')", "t:a  ", "LTRIM('  a  ')"},
      {"tsql_rtrim('  a  ')", "t:  a", "RTRIM('  a  ')"},
      {"tsql_rtrim('a' || char(9))", "t:a\t", "RTRIM('a' + CHAR(9))"},
      {"tsql_upper('straße ёлка')", "t:STRAßE ЁЛКА", "UPPER(N'straße ёлка')"},
      {"tsql_upper('abc سلام')", "t:ABC سلام", "UPPER(N'abc سلام')"},
      {"tsql_lower('ÀÉÎ ΣΑΣ')", "t:àéî σασ", "LOWER(N'ÀÉÎ ΣΑΣ')"},
  });
}

TEST(TsqlRuntime, CastToNumbersAndBit) {
  CheckCases({
      {"tsql_int(' 42 ')", "i:42", "CAST(' 42 ' AS INT)"},
      {"tsql_int('-7')", "i:-7", "CAST('-7' AS INT)"},
      {"tsql_int('')", "i:0", "CAST('' AS INT)"},
      {"tsql_int(2.9)", "i:2", "CAST(2.9E0 AS INT)"},
      {"tsql_int(-2.9)", "i:-2", "CAST(-2.9E0 AS INT)"},
      {"tsql_int('4.5')",
       "error:Conversion failed when converting the varchar value '4.5' to data type int.",
       "CAST('4.5' AS INT)"},
      {"tsql_int('abc')",
       "error:Conversion failed when converting the varchar value 'abc' to data type int.",
       "CAST('abc' AS INT)"},
      {"tsql_int(3000000000)",
       "error:Arithmetic overflow error converting expression to data type int.",
       "CAST(CAST(3000000000 AS bigint) AS INT)"},
      {"tsql_int(3e9)", "error:Arithmetic overflow error converting expression to data type int.",
       "CAST(3E9 AS INT)"},
      {"tsql_int('3000000000')",
       "error:The conversion of the varchar value '3000000000' overflowed an int column.",
       "CAST('3000000000' AS INT)"},
      {"tsql_int(40000, 'smallint')",
       "error:Arithmetic overflow error converting expression to data type smallint.",
       "CAST(40000 AS SMALLINT)"},
      {"tsql_int(-1, 'tinyint')",
       "error:Arithmetic overflow error converting expression to data type tinyint.",
       "CAST(-1 AS TINYINT)"},
      {"tsql_int('300', 'TinyInt')",
       "error:The conversion of the varchar value '300' overflowed an INT1 column. Use a larger "
       "integer column.",
       "CAST('300' AS TINYINT)"},
      {"tsql_int(255, 'tinyint')", "i:255", "CAST(255 AS TINYINT)"},
      {"tsql_int('-9223372036854775808', 'bigint')", "i:-9223372036854775808",
       "CAST('-9223372036854775808' AS BIGINT)"},
      {"tsql_int('x', 'bigint')", "error:Error converting data type varchar to bigint.",
       "CAST('x' AS BIGINT)"},
      {"tsql_int(NULL)", "NULL", "CAST(NULL AS INT)"},
      {"tsql_bit(0)", "i:0", "CAST(0 AS BIT)"},
      {"tsql_bit(5)", "i:1", "CAST(5 AS BIT)"},
      {"tsql_bit(-1)", "i:1", "CAST(-1 AS BIT)"},
      {"tsql_bit(0.0)", "i:0", "CAST(0E0 AS BIT)"},
      {"tsql_bit('TRUE')", "i:1", "CAST('TRUE' AS BIT)"},
      {"tsql_bit('false')", "i:0", "CAST('false' AS BIT)"},
      {"tsql_bit('1')", "i:1", "CAST('1' AS BIT)"},
      {"tsql_bit('yes')",
       "error:Conversion failed when converting the varchar value 'yes' to data type bit.",
       "CAST('yes' AS BIT)"},
      {"tsql_bit(NULL)", "NULL", "CAST(NULL AS BIT)"},
      {"tsql_float('1.5')", "r:1.5", "CAST('1.5' AS FLOAT)"},
      {"tsql_float(' 2e3 ')", "r:2000", "CAST(' 2e3 ' AS FLOAT)"},
      {"tsql_float(3)", "r:3", "CAST(3 AS FLOAT)"},
      {"tsql_float('x')", "error:Error converting data type varchar to float.",
       "CAST('x' AS FLOAT)"},
      {"tsql_numeric(2.675, 10, 2)", "r:2.68", "CAST(2.675 AS NUMERIC(10,2))"},
      {"tsql_numeric('12.345', 5, 2)", "r:12.35", "CAST('12.345' AS NUMERIC(5,2))"},
      {"tsql_numeric(-2.5, 5, 0)", "i:-3", "CAST(-2.5 AS NUMERIC(5,0))"},
      {"tsql_numeric(0.001, 5, 2)", "r:0", "CAST(0.001 AS NUMERIC(5,2))"},
      {"tsql_numeric(12345, 4, 0)",
       "error:Arithmetic overflow error converting int to data type numeric.",
       "CAST(12345 AS NUMERIC(4,0))"},
      {"tsql_numeric(999.995, 5, 2)",
       "error:Arithmetic overflow error converting float to data type numeric.",
       "CAST(999.995E0 AS NUMERIC(5,2))"},
      {"tsql_numeric('abc', 5, 2)", "error:Error converting data type varchar to numeric.",
       "CAST('abc' AS NUMERIC(5,2))"},
  });
}

TEST(TsqlRuntime, IsNumeric) {
  CheckCases({
      {"tsql_isnumeric('12')", "i:1", "ISNUMERIC('12')"},
      {"tsql_isnumeric(' 12 ')", "i:1", "ISNUMERIC(' 12 ')"},
      {"tsql_isnumeric('-1.5e3')", "i:1", "ISNUMERIC('-1.5e3')"},
      {"tsql_isnumeric('$1,000.50')", "i:1", "ISNUMERIC('$1,000.50')"},
      {"tsql_isnumeric('-')", "i:1", "ISNUMERIC('-')"},
      {"tsql_isnumeric('.')", "i:1", "ISNUMERIC('.')"},
      {"tsql_isnumeric(12)", "i:1", "ISNUMERIC(12)"},
      {"tsql_isnumeric('12a')", "i:0", "ISNUMERIC('12a')"},
      {"tsql_isnumeric('abc')", "i:0", "ISNUMERIC('abc')"},
      {"tsql_isnumeric('')", "i:0", "ISNUMERIC('')"},
      {"tsql_isnumeric(NULL)", "i:0", "ISNUMERIC(NULL)"},
  });
}

TEST(TsqlRuntime, IncDateAndDecDateOnMonthAndYearEnds) {
  // The base database's incDate/decDate functions on "MM/DD" texts (no year, no leap day).
  CheckCases({
      {"decDate('03/15')", "t:03/14", "dbo.decDate('03/15')"},
      {"decDate('01/01')", "t:00/31", "dbo.decDate('01/01')"},
      {"decDate('07/01')", "t:06/31", "dbo.decDate('07/01')"},
      {"decDate('08/01')", "t:07/30", "dbo.decDate('08/01')"},
      {"decDate('12/10')", "t:12/09", "dbo.decDate('12/10')"},
      {"incDate('03/15')", "t:03/16", "dbo.incDate('03/15')"},
      {"incDate('06/30')", "t:06/31", "dbo.incDate('06/30')"},
      {"incDate('06/31')", "t:07/01", "dbo.incDate('06/31')"},
      {"incDate('07/30')", "t:08/01", "dbo.incDate('07/30')"},
      {"incDate('09/09')", "t:09/10", "dbo.incDate('09/09')"},
      {"incDate('12/29')", "t:12/30", "dbo.incDate('12/29')"},
      {"incDate('12/30')", "t:13/01", "dbo.incDate('12/30')"},
      {"IncDate('01/05 08:00')", "t:01/06", "dbo.IncDate('01/05 08:00'), cut to char(5)"},
      {"incDate(NULL)", "NULL", "dbo.incDate(NULL)"},
      {"decDate('1403/12/30')",
       "error:Conversion failed when converting the varchar value '3/' to data type int.",
       "dbo.decDate('1403/12/30'): the parameter keeps '1403/'"},
      {"incDate('ab/01')",
       "error:Conversion failed when converting the varchar value 'ab' to data type int.",
       "dbo.incDate('ab/01')"},
  });
}

TEST(TsqlRuntime, GetDateIsLocalTimeText) {
#ifdef ZEL_TSQL_PROCESS_CLOCK
  zel::dates::ResetNow();
#endif
  Handle h;
  const time_t before = time(nullptr);
  const std::string text = Eval(h.get(), "SELECT tsql_getdate()");
  const time_t after = time(nullptr);
  ASSERT_EQ(text.size(), 2 + 23u) << text;
  ASSERT_EQ(text.substr(0, 2), "t:");
  struct tm parsed {};
  const char* rest = strptime(text.c_str() + 2, "%Y-%m-%d %H:%M:%S", &parsed);
  ASSERT_NE(rest, nullptr) << text;
  EXPECT_EQ(rest[0], '.');
  EXPECT_TRUE(isdigit(rest[1]) && isdigit(rest[2]) && isdigit(rest[3])) << text;
  parsed.tm_isdst = -1;
  const time_t at = mktime(&parsed);  // read back as local time
  EXPECT_GE(at, before);
  EXPECT_LE(at, after);
}

#ifdef ZEL_TSQL_PROCESS_CLOCK
TEST(TsqlRuntime, GetDateFollowsTheProcessClock) {
  Handle h;
  zel::dates::SetNowJalali("1403/01/01 08:30", /*frozen=*/true);
  const std::string text = Eval(h.get(), "SELECT tsql_getdate()");
  zel::dates::ResetNow();
  EXPECT_EQ(text, "t:2024-03-20 08:30:00.000");  // 1 Farvardin 1403 is 20 March 2024
}
#endif

TEST(TsqlRuntime, LoadableExtensionRegistersTheSameRuntime) {
  Handle h(/*with_runtime=*/false);
  EXPECT_EQ(Eval(h.get(), "SELECT 'ab' = 'AB' COLLATE TSQL"),
            "prepare error:no such collation sequence: TSQL");
  ASSERT_EQ(sqlite3_enable_load_extension(h.get(), 1), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_load_extension(h.get(), ZEL_TSQL_EXT_PATH, nullptr, &error);
  const std::string message = error ? error : "";
  sqlite3_free(error);
  ASSERT_EQ(rc, SQLITE_OK) << message;
  EXPECT_EQ(Eval(h.get(), "SELECT 'ab' = 'AB  ' COLLATE TSQL"), "i:1");
  EXPECT_EQ(Eval(h.get(), "SELECT incDate('12/30')"), "t:13/01");
  EXPECT_EQ(Eval(h.get(), "SELECT tsql_add('x', 1)"),
            "error:Conversion failed when converting the varchar value 'x' to data type int.");
}

}  // namespace
}  // namespace zel::db::embedded
