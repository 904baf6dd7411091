// The translation traps of the embedded engine, each checked against what SQL Server
// answers for the same statement.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "db/embedded/embedded.h"

namespace zel::db {

void PrintTo(const Value& v, std::ostream* os) {
  if (v.IsNull())
    *os << "NULL";
  else if (v.type() == DataType::Text)
    *os << "'" << v.AsString() << "'";
  else
    *os << v.AsString();
}

namespace {

class TrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = (std::filesystem::temp_directory_path() /
            ("zel_traps_" + std::to_string(rd()) + std::to_string(rd())))
               .string();
    conn_ = Open("");
    conn_->Execute("CREATE DATABASE Att");
    conn_->Execute("CREATE DATABASE Att_1399");
    conn_->Execute("USE Att");
    conn_->Execute(
        "CREATE TABLE Person (PerNo char(10) NOT NULL PRIMARY KEY, FirstName varchar(30), "
        "LastName varchar(30), Salary int, Rate numeric(8,2))");
    conn_->Execute(
        "INSERT INTO Person VALUES ('      1001', 'Ali', 'Karimi', 100, 1.5), "
        "('      1002', 'Sara', 'ahmadi  ', 200, NULL), ('      1003', NULL, 'Zand', NULL, 2)");
  }
  void TearDown() override {
    conn_.reset();
    std::filesystem::remove_all(dir_);
  }
  std::unique_ptr<Connection> Open(const std::string& database) {
    ConnectionSettings s;
    s.data_dir = dir_;
    s.database = database;
    return OpenEmbedded(s);
  }
  ResultSet Q(const std::string& sql) { return conn_->Execute(sql); }
  Value One(const std::string& sql) {
    ResultSet r = Q(sql);
    EXPECT_EQ(r.rows.size(), 1u) << sql;
    if (r.rows.empty() || r.rows[0].empty()) return Value();
    return r.rows[0][0];
  }
  std::string ErrorOf(const std::string& sql) {
    try {
      Q(sql);
    } catch (const DbError& e) {
      return e.what();
    }
    return "(no error)";
  }
  std::vector<std::string> Column(const std::string& sql) {
    std::vector<std::string> out;
    for (const auto& row : Q(sql).rows)
      out.push_back(row.at(0).IsNull() ? "NULL" : row.at(0).AsString());
    return out;
  }

  std::string dir_;
  std::unique_ptr<Connection> conn_;
};

// The value tables of the traps (operand types of "+", text comparison, CAST, int
// overflow, SUBSTRING, refused constructs) are entries of db/corpus/traps.corpus; here are
// the traps that need more than one statement's value.

// A parameter's type is known only at run time: "+" concatenates a text value and adds an
// int value, and an int value follows int's overflow rule.
TEST_F(TrapTest, ParameterTypesDecideAtRunTime) {
  ResultSet r = conn_->Execute(
      "SELECT ? + 'x', ? + 1",
      {Param{"A", ParamType::String, 0, Value("a")}, Param{"B", ParamType::Integer, 0, Value(41)}});
  EXPECT_EQ(r.rows.at(0).at(0), Value("ax"));
  EXPECT_EQ(r.rows.at(0).at(1), Value(42));
  const std::vector<Param> big = {Param{"A", ParamType::Integer, 0, Value(2000000000)}};
  try {
    conn_->Execute("SELECT ? * 2", big);
    ADD_FAILURE() << "no overflow";
  } catch (const DbError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Arithmetic overflow error converting expression to data type int.");
  }
  EXPECT_EQ(conn_->Execute("SELECT ? - 1", big).rows.at(0).at(0), Value(1999999999));
}

TEST_F(TrapTest, OrderAndUnionIgnoreCaseAndTrailingBlanks) {
  EXPECT_EQ(Column("SELECT LastName FROM Person ORDER BY Upper(LastName) + ''"),
            (std::vector<std::string>{"ahmadi  ", "Karimi", "Zand"}));
  EXPECT_EQ(
      Column("SELECT x FROM (SELECT 'b' x UNION SELECT 'B ' UNION SELECT 'a') t ORDER BY x").size(),
      2u);
}

TEST_F(TrapTest, CharColumnsStorePaddedAndRefuseTruncation) {
  Q("CREATE TABLE T (Code char(6), Name varchar(4))");
  Q("INSERT INTO T VALUES ('ab', 'xy'), (12, 'z   ')");
  EXPECT_EQ(Column("SELECT Code FROM T ORDER BY Code"),
            (std::vector<std::string>{"12    ", "ab    "}));
  EXPECT_EQ(One("SELECT '[' + LTrim(RTrim(Code)) + ']' FROM T WHERE Name = 'xy'"), Value("[ab]"));
  Q("UPDATE T SET Code = 'q' WHERE Name = 'xy'");
  EXPECT_EQ(One("SELECT Code FROM T WHERE Name = 'xy'"), Value("q     "));
  EXPECT_EQ(ErrorOf("INSERT INTO T VALUES ('abcdefg', 'x')"),
            "String or binary data would be truncated.");
  EXPECT_EQ(ErrorOf("INSERT INTO T VALUES ('a', 'abcde')"),
            "String or binary data would be truncated.");
  Q("INSERT INTO T VALUES ('a', 'abcd    ')");  // only trailing blanks are cut
  EXPECT_EQ(One("SELECT Name FROM T WHERE Code = 'a'"), Value("abcd"));
}

TEST_F(TrapTest, UpdateFromTouchesOnlyMatchingRows) {
  Q("USE Att_1399");
  Q("CREATE TABLE TmpMor (PageNo int, PerNo char(10), BeginDate char(5), Descript varchar(100), "
    "IsDaily char(1), "
    "OldPageNo int)");
  Q("CREATE TABLE Morkhasi (PageNo int, PerNo char(10), BeginDate char(5))");
  Q("CREATE TABLE AskAbsence (PageNo int, userDescription varchar(200))");
  Q("INSERT INTO TmpMor VALUES (1, '      1001', '01/02', NULL, '0', 7), (2, '      1002', "
    "'01/03', 'kept', '0', 8), "
    "(3, '      1003', '01/04', NULL, '0', 9)");
  Q("INSERT INTO Morkhasi VALUES (40, '      1001', '01/02')");
  Q("INSERT INTO AskAbsence VALUES (7, 'from web'), (9, 'third')");
  // The target outside the FROM list (SQLite's own form).
  Q("update TmpMOR set Descript = Rtrim(isnull(TmpMOR.Descript,''))+'hourly: '+cast (t1.pageno as "
    "varchar(10))+' ' "
    "from Morkhasi t1 where (t1.BeginDate = TmpMor.BeginDate) and (t1.perno = tmpMor.PERNO) And "
    "(TmpMor.IsDaily <> '1')");
  EXPECT_EQ(Column("SELECT isnull(Descript, 'NULL') FROM TmpMor ORDER BY PageNo"),
            (std::vector<std::string>{"hourly: 40 ", "kept", "NULL"}));
  // The target named again, by alias, inside the FROM list.
  Q(" UPDATE TmpMor SET Descript = CAST(A.userDescription AS CHAR(12)) FROM TmpMor T INNER JOIN "
    "AskAbsence A "
    "ON (A.PAGENO = T.OldPageNo) WHERE (T.Descript IS NULL OR T.Descript = '')");
  EXPECT_EQ(Column("SELECT Descript FROM TmpMor ORDER BY PageNo"),
            (std::vector<std::string>{"hourly: 40 ", "kept", "third       "}));
  EXPECT_EQ(One("SELECT COUNT(*) FROM TmpMor"), Value(3));
}

TEST_F(TrapTest, InsertSelectTopPercentNumbersIdentitiesInOrder) {
  Q("CREATE TABLE ClockDmp (REC int, PERNO char(10), CLOCKDATE char(10), CLOCKTIME char(5))");
  Q("INSERT INTO ClockDmp VALUES (11, '      1002', '1399/01/02', '08:00'), (12, '      1001', "
    "'1399/01/03', '07:00'), "
    "(13, '      1001', '1399/01/02', '16:00'), (14, '      1001', '1399/01/02', '08:00'), "
    "(15, '', '1399/01/02', '08:00')");
  ResultSet r =
      Q("Declare @CurrentYear as smallint set @CurrentYear = 1399 "
        "CREATE TABLE #RowNumber (RowNumber int IDENTITY (1, 1),rec char(9)  ) "
        "INSERT #RowNumber (rec) select top 100 percent rec FROM ClockDmp cl "
        "where cl.PERNO <> '' and cl.PERNO is not null And SubString(cl.ClockDate, 1, 4) = "
        "@CurrentYear "
        "ORDER BY cl.PERNO , cl.CLOCKDATE , cl.CLOCKTIME "
        "select r.RowNumber, c.REC from clockdmp c inner join #RowNumber r on r.rec = c.REC order "
        "by r.RowNumber "
        "DROP TABLE #RowNumber SET NOCOUNT OFF");
  ASSERT_EQ(r.rows.size(), 4u);
  const int expected[] = {14, 13, 12, 11};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(r.rows[i][0], Value(static_cast<int>(i) + 1));
    EXPECT_EQ(r.rows[i][1], Value(expected[i]));
  }
}

TEST_F(TrapTest, TruncateResetsIdentityAndDeleteDoesNot) {
  Q("CREATE TABLE CSSLog (Id int IDENTITY(1,1) NOT NULL, Comment varchar(50))");
  Q("INSERT INTO CSSLog (Comment) VALUES ('a'), ('b')");
  Q("DELETE FROM CSSLog");
  Q("INSERT INTO CSSLog (Comment) VALUES ('c')");
  EXPECT_EQ(One("SELECT Id FROM CSSLog"), Value(3));
  EXPECT_EQ(One("SELECT @@IDENTITY"), Value(3));
  Q(" Truncate Table CSSLog ");
  Q("INSERT INTO CSSLog (Comment) VALUES ('d')");
  EXPECT_EQ(One("SELECT Id FROM CSSLog"), Value(1));
  EXPECT_EQ(ErrorOf("INSERT INTO CSSLog VALUES (5, 'e')"),
            "Column name or number of supplied values does not match table definition.");
  EXPECT_EQ(ErrorOf("INSERT INTO CSSLog (Id, Comment) VALUES (5, 'e')"),
            "Cannot insert explicit value for identity column in table 'CSSLog' when "
            "IDENTITY_INSERT is set to OFF.");
}

TEST_F(TrapTest, SessionTablesBelongToTheirConnection) {
  auto other = Open("Att");
  Q("CREATE TABLE #TempRecs (Id Int IDENTITY(1, 1), Rec Numeric(10, 0))");
  Q("INSERT INTO #TempRecs (Rec) SELECT 5");
  EXPECT_EQ(One("SELECT Rec FROM #TempRecs"), Value(5));
  EXPECT_THROW(other->Execute("SELECT Rec FROM #TempRecs"), DbError);
  other->Execute("CREATE TABLE #TempRecs (X int)");  // its own table of the same name
  EXPECT_EQ(other->Execute("SELECT COUNT(*) FROM #TempRecs").rows.at(0).at(0), Value(0));
  // ## tables are shared by all connections.
  Q("CREATE TABLE ##Persons (PerNo char(10))");
  other->Execute("INSERT INTO ##Persons VALUES ('      1001')");
  EXPECT_EQ(One("SELECT COUNT(*) FROM dbo.##Persons"), Value(1));
  // A failure because the table exists, then emptying it, as the IO transfer does.
  EXPECT_EQ(ErrorOf(" Create Table #TempRecs (Id Int IDENTITY(1, 1), Rec Numeric(10, 0)) "),
            "There is already an object named '#TempRecs' in the database.");
  Q(" Truncate Table #TempRecs ");
  EXPECT_EQ(One("SELECT COUNT(*) FROM #TempRecs"), Value(0));
  Q(" Drop Table #TempRecs ");
  EXPECT_THROW(Q("SELECT * FROM #TempRecs"), DbError);
}

TEST_F(TrapTest, DuplicateKeyRaisesSqlServerMessage) {
  Q("USE Att_1399");
  Q("CREATE TABLE IoInfo (PerNo char(10) NOT NULL, BeginDate char(5) NOT NULL, BeginTime char(5) "
    "NOT NULL, "
    "EndDate char(5), CONSTRAINT PK_IoInfo PRIMARY KEY (PerNo, BeginDate, BeginTime))");
  Q("INSERT INTO IOInfo (PerNo, BeginDate, BeginTime) VALUES ('      1001', '01/02', '08:00')");
  EXPECT_EQ(ErrorOf("INSERT INTO IOInfo (PerNo, BeginDate, BeginTime) VALUES ('      1001', "
                    "'01/02', '08:00 ')"),
            "Violation of PRIMARY KEY constraint 'PK_IoInfo'. Cannot insert duplicate key in "
            "object 'dbo.IoInfo'.");
  Q("CREATE TABLE U (A int NOT NULL, B varchar(5), CONSTRAINT UQ_U UNIQUE (B))");
  Q("INSERT INTO U VALUES (1, 'x')");
  EXPECT_EQ(
      ErrorOf("INSERT INTO U VALUES (2, 'X')"),
      "Violation of UNIQUE KEY constraint 'UQ_U'. Cannot insert duplicate key in object 'dbo.U'.");
  EXPECT_EQ(ErrorOf("INSERT INTO U (B) VALUES ('y')"),
            "Cannot insert the value NULL into column 'A', table 'Att_1399.dbo.U'; column does not "
            "allow nulls. "
            "INSERT fails.");
}

TEST_F(TrapTest, UnionOrderByBindsToFirstQueryItems) {
  // SQL Server binds an ORDER BY of a union to the first query's select list, by alias or
  // by the expression as written (here p.LastName, selected under another name).
  ResultSet r =
      Q("SELECT p.LastName AS Name, 1 AS Src FROM Person p WHERE Salary = 100 "
        "UNION ALL SELECT q.FirstName, 2 FROM Person q WHERE Salary = 200 "
        "ORDER BY p.LastName DESC, Src");
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[0][0], Value("Sara"));
  EXPECT_EQ(r.rows[1][0], Value("Karimi"));
  EXPECT_EQ(
      ErrorOf("SELECT LastName FROM Person UNION SELECT FirstName FROM Person ORDER BY Salary"),
      "ORDER BY items must appear in the select list if the statement contains a UNION, INTERSECT "
      "or "
      "EXCEPT operator.");
}

TEST_F(TrapTest, CommandTimeoutStopsALongQuery) {
  Q("CREATE TABLE N (V int)");
  Q("INSERT INTO N VALUES (0), (1), (2), (3), (4), (5), (6), (7), (8), (9)");
  std::string err;
  try {
    conn_->Execute("SELECT COUNT(*) FROM N a, N b, N c, N d, N e, N f, N g, N h, N i", {}, 1);
  } catch (const DbError& e) {
    err = e.what();
  }
  EXPECT_EQ(err, "Query timeout expired");
  EXPECT_EQ(conn_->Execute("SELECT COUNT(*) FROM N", {}, 1).rows.at(0).at(0), Value(10));
}

}  // namespace
}  // namespace zel::db
