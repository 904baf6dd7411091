// The ODBC connection and the dataset on top of it, run for real through the SQLite ODBC
// driver (one statement per call, `?` markers only).
#include "db/odbc/odbc.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace zel::db {
namespace {

TEST(OdbcConnectionStringTest, BuildsTheDriverStrings) {
  struct Case {
    const char* server;
    const char* database;
    const char* user;
    const char* password;
    const char* driver;
    const char* expected;
  };
  const Case cases[] = {
      {"srv", "Att", "sa", "pw", "",
       "Driver=FreeTDS;Server=srv;Database=Att;UID=sa;PWD=pw;ClientCharset=UTF-8;TDS_Version=7.4"},
      {"srv\\SQL2019", "Att_1399", "sa", "pw", "",
       "Driver=FreeTDS;Server=srv\\SQL2019;Database=Att_1399;UID=sa;PWD=pw;ClientCharset=UTF-8;"
       "TDS_Version=7.4"},
      {"10.0.0.5,1533", "", "sa", "pw", "FreeTDS",
       "Driver=FreeTDS;Server=10.0.0.5;Port=1533;UID=sa;PWD=pw;ClientCharset=UTF-8;TDS_Version=7."
       "4"},
      {"srv", "Att", "sa", "a;b}c", "",
       "Driver=FreeTDS;Server=srv;Database=Att;UID=sa;PWD={a;b}}c};ClientCharset=UTF-8;"
       "TDS_Version=7.4"},
      {"srv", "Att", " sa", "a=b'c", "",
       "Driver=FreeTDS;Server=srv;Database=Att;UID={ sa};PWD={a=b'c};ClientCharset=UTF-8;"
       "TDS_Version=7.4"},
      {"srv\\inst", "Att", "sa", "pw", "ODBC Driver 18 for SQL Server",
       "Driver={ODBC Driver 18 for SQL Server};Server=srv\\inst;Database=Att;UID=sa;PWD=pw"},
      {"odbc:Driver=SQLite3;Database=/tmp/x.db", "ignored", "u", "p", "",
       "Driver=SQLite3;Database=/tmp/x.db"},
  };
  for (const Case& c : cases) {
    ConnectionSettings s;
    s.server = c.server;
    s.database = c.database;
    s.user = c.user;
    s.password = c.password;
    s.odbc_driver = c.driver;
    EXPECT_EQ(OdbcConnectionString(s), c.expected) << c.server;
  }
}

TEST(OdbcConnectTest, UnknownDriverRaisesWithTheDriverManagerText) {
  ConnectionSettings s;
  s.server = "odbc:Driver=NoSuchDriverForZel;Database=x";
  try {
    OpenOdbc(s);
    FAIL() << "connected to a driver that does not exist";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("NoSuchDriverForZel"), std::string::npos) << e.what();
  }
}

// A fresh SQLite database file per test, reached through the SQLite ODBC driver.
class SqliteOdbcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (std::filesystem::temp_directory_path() /
             ("zel_odbc_" + std::to_string(getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".db"))
                .string();
    std::filesystem::remove(path_);
    conn_ = Open();
  }
  void TearDown() override {
    conn_.reset();
    std::filesystem::remove(path_);
  }
  std::unique_ptr<Connection> Open() {
    // The driver by its registered name, else by its library path.
    ConnectionSettings s;
    for (const char* driver : {"SQLite3", "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so"}) {
      s.server = std::string("odbc:Driver=") + driver + ";Database=" + path_ + ";SyncPragma=off";
      try {
        return OpenOdbc(s);
      } catch (const DbError&) {
        // this name of the driver is not installed: the next one is tried
      }
    }
    return OpenOdbc(s);  // raises with the reason
  }
  void Exec(const std::string& sql, const std::vector<Param>& params = {}) {
    conn_->Execute(sql, params);
  }

  std::string path_;
  std::unique_ptr<Connection> conn_;
};

TEST_F(SqliteOdbcTest, ExecutesAndFetchesTypedValuesAndNulls) {
  Exec("CREATE TABLE T (Id INTEGER, Name VARCHAR(20), Amount DOUBLE, Note TEXT)");
  Exec("INSERT INTO T VALUES (1, 'Ali', 2.5, NULL)");
  Exec("INSERT INTO T VALUES (2, NULL, NULL, 'x')");
  ResultSet r = conn_->Execute("SELECT Id, Name, Amount, Note FROM T ORDER BY Id");
  ASSERT_TRUE(r.has_columns);
  EXPECT_EQ(r.columns, (std::vector<std::string>{"Id", "Name", "Amount", "Note"}));
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[0][0], Value(1));
  EXPECT_EQ(r.rows[0][1], Value("Ali"));
  EXPECT_EQ(r.rows[0][2], Value(2.5));
  EXPECT_TRUE(r.rows[0][3].IsNull());
  EXPECT_TRUE(r.rows[1][1].IsNull());
  EXPECT_TRUE(r.rows[1][2].IsNull());
  EXPECT_EQ(r.rows[1][3], Value("x"));
  EXPECT_EQ(conn_->EngineName(), "odbc");
}

TEST_F(SqliteOdbcTest, StatementWithoutRowsReportsChangedRowCount) {
  Exec("CREATE TABLE T (Id INTEGER)");
  Exec("INSERT INTO T VALUES (1)");
  Exec("INSERT INTO T VALUES (1)");
  Exec("INSERT INTO T VALUES (2)");
  ResultSet r = conn_->Execute("UPDATE T SET Id = 3 WHERE Id = 1");
  EXPECT_FALSE(r.has_columns);
  EXPECT_EQ(r.rows_affected, 2);
  EXPECT_EQ(conn_->Execute("UPDATE T SET Id = 4 WHERE Id = 99").rows_affected, 0);
}

TEST_F(SqliteOdbcTest, CountsStatementsAndTransactions) {
  const std::uint64_t before = conn_->StatementsSent();
  Exec("CREATE TABLE T (Id INTEGER)");
  RunInTransaction(*conn_, [&] { Exec("INSERT INTO T VALUES (1)"); });
  EXPECT_EQ(conn_->StatementsSent() - before, 4u);  // create, begin, insert, commit
}

TEST_F(SqliteOdbcTest, BindsParametersByDeclaredType) {
  Exec("CREATE TABLE P (S SMALLINT, I INTEGER, T VARCHAR(10), R DOUBLE, B BIT, U INTEGER)");
  std::vector<Param> params = {
      {"S", ParamType::SmallInt, 0, Value("12")},  // text converted to the declared type
      {"I", ParamType::Integer, 0, Value(70000)},
      {"T", ParamType::String, 10, Value(1001)},  // number sent as text
      {"R", ParamType::Real, 0, Value(1.25)},
      {"B", ParamType::Bit, 0, Value(5)},
      {"U", ParamType::Unknown, 0, Value(std::int64_t{5000000000})},
  };
  Exec("INSERT INTO P VALUES (?, ?, ?, ?, ?, ?)", params);
  ResultSet r = conn_->Execute("SELECT S, I, T, R, B, U, typeof(T) FROM P");
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0][0].AsInteger(), 12);
  EXPECT_EQ(r.rows[0][1].AsInteger(), 70000);
  EXPECT_EQ(r.rows[0][2].AsString(), "1001");
  EXPECT_EQ(r.rows[0][6].AsString(), "text");
  EXPECT_DOUBLE_EQ(r.rows[0][3].AsFloat(), 1.25);
  EXPECT_EQ(r.rows[0][4].AsInteger(), 1);
  EXPECT_EQ(r.rows[0][5].AsInteger(), 5000000000);
}

TEST_F(SqliteOdbcTest, NullParametersAndOutOfRangeValues) {
  Exec("CREATE TABLE P (S SMALLINT, T VARCHAR(10))");
  Exec("INSERT INTO P VALUES (?, ?)",
       {{"S", ParamType::SmallInt, 0, Value()}, {"T", ParamType::Unknown, 0, Value()}});
  ResultSet r = conn_->Execute("SELECT COUNT(*) FROM P WHERE S IS NULL AND T IS NULL");
  EXPECT_EQ(r.rows[0][0].AsInteger(), 1);
  EXPECT_THROW(
      Exec("INSERT INTO P VALUES (?, NULL)", {{"S", ParamType::SmallInt, 0, Value(40000)}}),
      DbError);
  EXPECT_THROW(Exec("INSERT INTO P VALUES (?, NULL)", {{"S", ParamType::Integer, 0, Value("1x")}}),
               DbError);
}

TEST_F(SqliteOdbcTest, PersianTextRoundTripsAsUtf8) {
  Exec("CREATE TABLE M (Comment VARCHAR(255))");
  Exec("INSERT INTO M VALUES (?)", {{"Comment", ParamType::String, 255, Value("سلام")}});
  Exec("INSERT INTO M VALUES ('روز شروع')");
  ResultSet r = conn_->Execute("SELECT Comment FROM M WHERE Comment = ?",
                               {{"C", ParamType::String, 255, Value("سلام")}});
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0][0].AsString(), "سلام");
  r = conn_->Execute("SELECT Comment FROM M WHERE Comment LIKE 'روز%'");
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0][0].AsString(), "روز شروع");
}

TEST_F(SqliteOdbcTest, LongTextIsReadWhole) {
  Exec("CREATE TABLE L (Body TEXT)");
  std::string body;
  for (int i = 0; i < 3000; ++i) body += "ab" + std::to_string(i % 10) + "س";
  Exec("INSERT INTO L VALUES (?)", {{"Body", ParamType::String, 0, Value(body)}});
  ResultSet r = conn_->Execute("SELECT Body FROM L");
  EXPECT_EQ(r.rows.at(0).at(0).AsString(), body);
}

TEST_F(SqliteOdbcTest, FailingStatementRaisesTheDriverText) {
  try {
    Exec("SELECT * FROM NoSuchTable");
    FAIL() << "no error";
  } catch (const DbError& e) {
    const std::string text = e.what();
    EXPECT_NE(text.find("no such table"), std::string::npos) << text;
    EXPECT_NE(text.front(), '[') << text;  // the driver manager's prefixes are dropped
  }
  EXPECT_THROW(Exec("CREATE TABLE (broken"), DbError);
  // The connection stays usable after an error.
  EXPECT_EQ(conn_->Execute("SELECT 1 + 1").rows[0][0].AsInteger(), 2);
}

TEST_F(SqliteOdbcTest, PrimaryKeyColumns) {
  Exec("CREATE TABLE K (A INTEGER, B VARCHAR(5), C INTEGER, PRIMARY KEY (C, B))");
  Exec("CREATE TABLE N (A INTEGER)");
  // (This driver reports key columns in table order.)
  EXPECT_EQ(conn_->PrimaryKeyColumns("K"), (std::vector<std::string>{"B", "C"}));
  EXPECT_EQ(conn_->PrimaryKeyColumns("[K]"), (std::vector<std::string>{"B", "C"}));
  EXPECT_TRUE(conn_->PrimaryKeyColumns("N").empty());
}

// ---------------------------------------------------------------------------------------
// Datasets through the ODBC connection.

class DatasetTest : public SqliteOdbcTest {
 protected:
  void SetUp() override {
    SqliteOdbcTest::SetUp();
    Exec("CREATE TABLE Semaphor (Code INTEGER PRIMARY KEY, Amount INTEGER, HostName VARCHAR(50))");
    Exec("INSERT INTO Semaphor VALUES (17, 0, NULL)");
    Exec("INSERT INTO Semaphor VALUES (16, 2, 'pc1')");
    // No key; two identical rows.
    Exec(
        "CREATE TABLE UsersLog (Code CHAR(3), BeginDate CHAR(10), BeginTime CHAR(5), "
        "EndDate CHAR(10), EndTime CHAR(5))");
    Exec("INSERT INTO UsersLog VALUES ('SRV', '1402/01/05', '08:00', NULL, NULL)");
    Exec("INSERT INTO UsersLog VALUES ('SRV', '1402/01/05', '08:00', NULL, NULL)");
    Exec("INSERT INTO UsersLog VALUES ('USR', '1402/01/06', '09:30', NULL, NULL)");
    Exec(
        "CREATE TABLE CSSLog (Id INTEGER PRIMARY KEY AUTOINCREMENT, PerNo CHAR(10), "
        "Comment VARCHAR(255))");
  }
  std::vector<std::vector<Value>> Rows(const std::string& sql) { return conn_->Execute(sql).rows; }
};

TEST_F(DatasetTest, OpensWithNamedParametersAndWalksRows) {
  Dataset q(*conn_);
  q.SetSQL({"SELECT Code, Amount, HostName FROM Semaphor", "WHERE Amount >= :MinAmount",
            "  AND ('12:30' <> :Time OR :MinAmount = 0)", "ORDER BY Code"});
  q.SetCommandTimeout(60);  // the statement attribute is accepted
  q.ParamByName("minamount").type = ParamType::Integer;
  q.SetParam("MinAmount", Value(0));
  q.SetParam("Time", Value("08:00"));
  q.Open();
  ASSERT_TRUE(q.Active());
  EXPECT_EQ(q.RecordCount(), 2);
  std::vector<std::int64_t> codes;
  for (q.First(); !q.Eof(); q.Next()) codes.push_back(q.FieldByName("CODE").AsInteger());
  EXPECT_EQ(codes, (std::vector<std::int64_t>{16, 17}));
  // After the last Next the cursor stays on the last row.
  EXPECT_EQ(q.FieldByName("Code").AsInteger(), 17);
  EXPECT_TRUE(q.FieldByName("hostname").IsNull());
  EXPECT_THROW(q.FieldByName("Missing"), DbError);
  EXPECT_THROW(q.ParamByName("Other"), DbError);
}

TEST_F(DatasetTest, ParametersKeepTypesAndValuesWhenTheTextChanges) {
  Dataset q(*conn_);
  q.SetSQL({"SELECT Code FROM Semaphor WHERE Amount >= :A"});
  q.ParamByName("A").type = ParamType::SmallInt;
  q.SetParam("A", Value(1));
  q.AddLine(" AND Code <> :Skip");
  q.SetParam("Skip", Value(0));
  EXPECT_EQ(q.ParamByName("A").type, ParamType::SmallInt);
  EXPECT_EQ(q.ParamByName("A").value, Value(1));
  q.Open();
  ASSERT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.FieldByName("Code").AsInteger(), 16);
  // A text without the name drops the parameter.
  q.SetSQL({"SELECT Code FROM Semaphor"});
  EXPECT_THROW(q.ParamByName("A"), DbError);
}

TEST_F(DatasetTest, OpenOfAStatementWithoutRowsRaises) {
  Dataset q(*conn_);
  q.SetSQL({"UPDATE Semaphor SET Amount = 0"});
  EXPECT_THROW(q.Open(), DbError);
  EXPECT_FALSE(q.Active());
  q.ExecSQL();
  EXPECT_EQ(Rows("SELECT SUM(Amount) FROM Semaphor")[0][0].AsInteger(), 0);
}

TEST_F(DatasetTest, EmptyResultReadsNullsAndIsEof) {
  Dataset q(*conn_);
  q.SetSQL({"SELECT * FROM Semaphor WHERE Code = 99"});
  q.Open();
  EXPECT_TRUE(q.IsEmpty());
  EXPECT_TRUE(q.Eof());
  EXPECT_TRUE(q.FieldByName("Amount").IsNull());
  EXPECT_THROW(q.Edit(), DbError);
  q.Close();
  EXPECT_TRUE(q.Eof());
  EXPECT_THROW(q.FieldByName("Amount"), DbError);
}

TEST_F(DatasetTest, LocateComparesTrimmedCaseInsensitiveTextAndNumbers) {
  Dataset q(*conn_);
  q.SetSQL({"SELECT * FROM UsersLog"});
  q.Open();
  EXPECT_TRUE(q.Locate("code", Value("  usr ")));
  EXPECT_EQ(q.RecNo(), 2);
  EXPECT_FALSE(q.Locate("Code", Value("XYZ")));
  EXPECT_EQ(q.RecNo(), 2);  // stays put
  EXPECT_TRUE(q.Locate("EndDate", Value()));
  EXPECT_EQ(q.RecNo(), 0);

  Dataset s(*conn_);
  s.SetTableName("Semaphor");
  EXPECT_TRUE(s.Locate("Code", Value("17")));  // numeric text against a number
  EXPECT_EQ(s.FieldByName("Amount").AsInteger(), 0);
  EXPECT_TRUE(s.Locate("Code", Value(16.0)));
  EXPECT_EQ(s.FieldByName("HostName").AsString(), "pc1");
  EXPECT_THROW(s.Locate("Nope", Value(1)), DbError);
}

TEST_F(DatasetTest, SortOrdersBySeveralColumns) {
  Exec("CREATE TABLE C (KartNo VARCHAR(8), ClockDate CHAR(5), N INTEGER)");
  const char* rows[] = {"('b', '01/02', 10)", "('A', '01/03', 9)", "('a', '01/01', 100)",
                        "(NULL, '01/09', 1)", "('b', '01/01', 2)"};
  for (const char* r : rows) Exec(std::string("INSERT INTO C VALUES ") + r);
  Dataset q(*conn_);
  q.SetSQL({"SELECT * FROM C"});
  q.Open();
  q.Sort("KartNo ASC, [ClockDate] DESC");
  std::vector<std::int64_t> order;
  for (q.First(); !q.Eof(); q.Next()) order.push_back(q.FieldByName("N").AsInteger());
  EXPECT_EQ(order, (std::vector<std::int64_t>{1, 9, 100, 10, 2}));
  q.Sort("N DESC");
  EXPECT_EQ(q.RecNo(), 0);
  EXPECT_EQ(q.FieldByName("N").AsInteger(), 100);  // numeric, not text, order
  EXPECT_THROW(q.Sort("Missing DESC"), DbError);
}

TEST_F(DatasetTest, EditByPrimaryKeyWritesOnlyThatRow) {
  Dataset q(*conn_);
  q.SetTableName("Semaphor");
  ASSERT_TRUE(q.Locate("Code", Value(17)));
  q.Edit();
  EXPECT_TRUE(q.Editing());
  q.SetField("Amount", Value(q.FieldByName("Amount").AsInteger() + 1));
  q.SetField("HostName", Value("host-a"));
  EXPECT_EQ(q.FieldByName("HostName").AsString(), "host-a");  // the edited row is read
  q.Post();
  EXPECT_FALSE(q.Editing());
  EXPECT_EQ(q.FieldByName("Amount").AsInteger(), 1);
  EXPECT_EQ(Rows("SELECT Code, Amount, HostName FROM Semaphor ORDER BY Code"),
            (std::vector<std::vector<Value>>{{16, 2, "pc1"}, {17, 1, "host-a"}}));
  // Setting NULL back.
  q.Edit();
  q.SetField("HostName", Value());
  q.Post();
  EXPECT_TRUE(Rows("SELECT HostName FROM Semaphor WHERE Code = 17")[0][0].IsNull());
}

TEST_F(DatasetTest, EditOfAQueryWritesToTheTableAfterFrom) {
  Dataset q(*conn_);
  q.SetSQL({"SELECT Code, Amount, Amount * 2 AS Twice FROM Semaphor s WHERE s.Code = :Code"});
  q.SetParam("Code", Value(16));
  q.Open();
  q.Edit();
  q.SetField("Amount", Value(5));
  q.Post();
  EXPECT_EQ(Rows("SELECT Amount FROM Semaphor WHERE Code = 16")[0][0].AsInteger(), 5);
  // A computed column is no column of the table.
  q.Edit();
  q.SetField("Twice", Value(1));
  try {
    q.Post();
    FAIL() << "computed column written";
  } catch (const DbError& e) {
    EXPECT_STREQ(e.what(), "Field 'Twice' cannot be modified");
  }
  q.Cancel();
  EXPECT_EQ(q.FieldByName("Amount").AsInteger(), 5);
}

TEST_F(DatasetTest, EditWithoutKeyMustMatchExactlyOneRow) {
  struct Case {
    const char* begin_time;
    const char* expected_error;  // nullptr: written
  };
  const Case cases[] = {
      {"08:00", "Row cannot be located for updating: 2 rows of UsersLog match it"},
      {"09:30", nullptr},
  };
  for (const Case& c : cases) {
    Dataset q(*conn_);
    q.SetSQL({"SELECT Code, BeginDate, BeginTime, EndDate, EndTime FROM UsersLog",
              "WHERE BeginTime = :T"});
    q.SetParam("T", Value(c.begin_time));
    q.Open();
    q.Edit();
    q.SetField("EndDate", Value("1402/01/07"));
    q.SetField("EndTime", Value("17:00"));
    if (c.expected_error) {
      try {
        q.Post();
        ADD_FAILURE() << "posted over several rows";
      } catch (const DbError& e) {
        EXPECT_EQ(std::string(e.what()), c.expected_error);
      }
      EXPECT_TRUE(q.Editing());
      q.Cancel();
      EXPECT_TRUE(q.FieldByName("EndDate").IsNull());
    } else {
      q.Post();
    }
  }
  EXPECT_EQ(Rows("SELECT Code, EndDate, EndTime FROM UsersLog WHERE EndDate IS NOT NULL"),
            (std::vector<std::vector<Value>>{{"USR", "1402/01/07", "17:00"}}));
}

TEST_F(DatasetTest, EditOfARowChangedMeanwhileRaises) {
  Dataset q(*conn_);
  q.SetSQL({"SELECT Code, BeginTime FROM UsersLog WHERE Code = 'USR'"});
  q.Open();
  Exec("UPDATE UsersLog SET BeginTime = '10:00' WHERE Code = 'USR'");
  q.Edit();
  q.SetField("BeginTime", Value("11:00"));
  EXPECT_THROW(q.Post(), DbError);
  EXPECT_EQ(Rows("SELECT BeginTime FROM UsersLog WHERE Code = 'USR'")[0][0].AsString(), "10:00");
}

TEST_F(DatasetTest, AppendLeavesUnsetColumnsToTheServer) {
  Dataset q(*conn_);
  q.SetSQL({"SELECT * FROM CSSLog"});
  q.Open();
  for (const char* perno : {"      1001", "      1002"}) {
    q.Append();
    q.SetField("PerNo", Value(perno));
    q.SetField("Comment", Value("خطا"));
    q.Post();
  }
  EXPECT_EQ(q.RecordCount(), 2);
  EXPECT_EQ(q.RecNo(), 1);
  EXPECT_EQ(q.FieldByName("PerNo").AsString(), "      1002");
  EXPECT_EQ(Rows("SELECT Id, PerNo, Comment FROM CSSLog ORDER BY Id"),
            (std::vector<std::vector<Value>>{{1, "      1001", "خطا"}, {2, "      1002", "خطا"}}));
  q.Append();
  q.SetField("PerNo", Value("9"));
  q.Cancel();
  EXPECT_EQ(q.RecordCount(), 2);
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM CSSLog")[0][0].AsInteger(), 2);
}

TEST_F(DatasetTest, MovingTheCursorPostsThePendingEdit) {
  Dataset q(*conn_);
  q.SetSQL({"SELECT * FROM Semaphor ORDER BY Code"});
  q.Open();
  q.Edit();
  q.SetField("Amount", Value(7));
  q.Next();
  EXPECT_FALSE(q.Editing());
  EXPECT_EQ(Rows("SELECT Amount FROM Semaphor WHERE Code = 16")[0][0].AsInteger(), 7);
}

TEST_F(DatasetTest, WritingRequiresEditModeAndOneTable) {
  Dataset q(*conn_);
  q.SetSQL({"SELECT s.Code, u.Code AS UCode FROM Semaphor s JOIN UsersLog u ON 1 = 1"});
  q.Open();
  EXPECT_THROW(q.SetField("Code", Value(1)), DbError);
  q.Edit();
  q.SetField("Code", Value(1));
  EXPECT_THROW(q.Post(), DbError);
  q.Cancel();
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM Semaphor WHERE Code = 1")[0][0].AsInteger(), 0);
}

// A query that joins further tables writes to its first table, finding the row by its key.
TEST_F(DatasetTest, JoinedQueryWritesItsFirstTableByKey) {
  Dataset q(*conn_);
  q.SetSQL(
      {"SELECT s.*, u.Code AS UCode FROM Semaphor s LEFT OUTER JOIN UsersLog u ON 1 = 0 "
       "ORDER BY s.Code"});
  q.Open();
  const int code = static_cast<int>(q.FieldByName("Code").AsInteger());
  q.Edit();
  q.SetField("Amount", Value(5));
  q.Post();
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM Semaphor WHERE Amount = 5")[0][0].AsInteger(), 1);
  // The key itself cannot change through the join.
  q.Edit();
  q.SetField("Code", Value(99));
  EXPECT_THROW(q.Post(), DbError);
  q.Cancel();
  EXPECT_EQ(
      Rows("SELECT Amount FROM Semaphor WHERE Code = " + std::to_string(code))[0][0].AsInteger(),
      5);
}

}  // namespace
}  // namespace zel::db
