// Values, connection strings, parameter markers and the table a query writes back to.
#include "db/client.h"

#include <gtest/gtest.h>

namespace zel::db {
namespace {

TEST(ValueTest, Conversions) {
  struct Case {
    Value value;
    std::int64_t integer;
    double real;
    const char* text;
  };
  const Case cases[] = {
      {Value(), 0, 0.0, ""},
      {Value(42), 42, 42.0, "42"},
      {Value(std::int64_t{-5000000000}), -5000000000, -5e9, "-5000000000"},
      {Value(3.0), 3, 3.0, "3"},
      {Value(2.5), 3, 2.5, "2.5"},
      {Value(-0.125), 0, -0.125, "-0.125"},
      {Value(" 17 "), 17, 17.0, " 17 "},
      {Value("1.5"), 2, 1.5, "1.5"},
      {Value("سلام"), -1, -1, "سلام"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.value.AsString(), c.text);
    if (c.integer == -1) {
      EXPECT_THROW(c.value.AsInteger(), DbError);
      EXPECT_THROW(c.value.AsFloat(), DbError);
    } else {
      EXPECT_EQ(c.value.AsInteger(), c.integer);
      EXPECT_DOUBLE_EQ(c.value.AsFloat(), c.real);
    }
  }
  EXPECT_THROW(Value("").AsInteger(), DbError);
  EXPECT_THROW(Value(1e300).AsInteger(), DbError);
  EXPECT_TRUE(Value("1").AsBoolean());
  EXPECT_FALSE(Value().AsBoolean());
  EXPECT_EQ(Value(1).type(), DataType::Integer);
  EXPECT_NE(Value(1), Value("1"));
}

TEST(ParseConnectionStringTest, ProductStringsWithAndWithoutCatalog) {
  struct Case {
    const char* text;
    ConnectionSettings expected;
  };
  const Case cases[] = {
      {"Provider=SQLOLEDB.1;Password=p@ss;Persist Security Info=True;User ID=sa;"
       "Initial Catalog=Att_1399;Data Source=srv\\SQL2019",
       {"srv\\SQL2019", "sa", "p@ss", "Att_1399", "", ""}},
      {"Provider=SQLOLEDB.1;Password=;Persist Security Info=True;User ID=sa;Data Source=srv",
       {"srv", "sa", "", "", "", ""}},
      {"data source = 10.0.0.1 ; USER ID=u;password='a;b''c';",
       {"10.0.0.1", "u", "a;b'c", "", "", ""}},
      {"Server=s;Database=d;UID=u;PWD=\"x\"", {"s", "u", "x", "d", "", ""}},
      {"Provider=SQLOLEDB.1;Initial Catalog=Att;Data Source=", {"", "", "", "Att", "", ""}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ConnectionSettings s = ParseConnectionString(c.text);
    EXPECT_EQ(s.server, c.expected.server);
    EXPECT_EQ(s.user, c.expected.user);
    EXPECT_EQ(s.password, c.expected.password);
    EXPECT_EQ(s.database, c.expected.database);
  }
  for (const char* bad : {"Provider", "a=1;junk;b=2", "=x", "Password='open"})
    EXPECT_THROW(ParseConnectionString(bad), DbError) << bad;
}

TEST(ConvertNamedParamsTest, MarkersOutsideLiteralsCommentsAndBrackets) {
  struct Case {
    const char* sql;
    const char* expected;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"select * from T where A = :PA and B=:pB_2",
       "select * from T where A = ? and B=?",
       {"PA", "pB_2"}},
      {"where T = '12:30' and X = :X", "where T = '12:30' and X = ?", {"X"}},
      {"where T = 'it''s :no' and [a:b] = :Y -- :c\n/* :d /* :e */ */ :Z",
       "where T = 'it''s :no' and [a:b] = ? -- :c\n/* :d /* :e */ */ ?",
       {"Y", "Z"}},
      {"SET @PREC = :PREC; SET @P = :PREC", "SET @PREC = ?; SET @P = ?", {"PREC", "PREC"}},
      {"x::y :1 : z \"q:w\"", "x::y :1 : z \"q:w\"", {}},
      {"Values ( :ScheduleId, :PerNo,0)", "Values ( ?, ?,0)", {"ScheduleId", "PerNo"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> names;
    EXPECT_EQ(ConvertNamedParams(c.sql, &names), c.expected);
    EXPECT_EQ(names, c.names) << c.sql;
  }
}

TEST(TableOfQueryTest, TheOneTableAfterFrom) {
  struct Case {
    const char* sql;
    const char* table;
  };
  const Case cases[] = {
      {"SELECT * FROM dbo.Semaphor", "dbo.Semaphor"},
      {"select Person.*, lTrim(Lastname) FullName from person order by perno", "person"},
      {"SELECT x FROM Att_1399..DayWork d WHERE d.PerNo IN (SELECT PerNo FROM P, Q)",
       "Att_1399..DayWork"},
      {"DECLARE @X char(5) SET @X = 'a' select cl.* from ClockDmp cl where x = 1", "ClockDmp"},
      {"SELECT * FROM [My Table] AS t WITH (NOLOCK) WHERE 1=1", "[My Table]"},
      {"SELECT * FROM #TempRecs", "#TempRecs"},
      {"SELECT (SELECT MAX(a) FROM B) m FROM C", "C"},
      {"SELECT * FROM A, B", ""},
      {"SELECT * FROM A a LEFT OUTER JOIN B b ON a.x = b.x", ""},
      {"SELECT * FROM A JOIN B ON 1=1", ""},
      {"SELECT 1", ""},
      {"SELECT * FROM (SELECT 1 x) s", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(TableOfQuery(c.sql), c.table) << c.sql;
}

TEST(TableOfQueryTest, FirstTableAlsoWhenJoined) {
  struct Case {
    const char* sql;
    const char* table;
  };
  const Case cases[] = {
      {"SELECT * FROM dbo.Semaphor", "dbo.Semaphor"},
      {"SELECT * FROM A, B", "A"},
      {"DECLARE @R int SET @R = 0 select cl.*, p.LastName from ClockDmp cl\n"
       "left outer join Person p on p.Perno = cl.Perno where cl.Perno IN (Select Perno from X)",
       "ClockDmp"},
      {"SELECT * FROM A JOIN B ON 1=1", "A"},
      {"SELECT 1", ""},
      {"SELECT * FROM (SELECT 1 x) s", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(FirstTableOfQuery(c.sql), c.table) << c.sql;
}

}  // namespace
}  // namespace zel::db
