// The database utility class: its texts exactly, and its connection, query and command
// operations for real through the SQLite ODBC driver.
#include "db/ado_utils.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <stdexcept>

namespace zel::db {
namespace {

TEST(TADOUtilsTextTest, ConnectionStringWithAndWithoutCatalog) {
  EXPECT_EQ(TADOUtils::GetConnectionString("srv\\inst", "sa", "pw", "Att_1399"),
            "Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;User ID=sa;"
            "Initial Catalog=Att_1399;Data Source=srv\\inst");
  EXPECT_EQ(TADOUtils::GetConnectionString("srv", "sa", "pw", ""),
            "Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;User ID=sa;"
            "Data Source=srv");
  const ConnectionSettings s =
      ParseConnectionString(TADOUtils::GetConnectionString("srv", "sa", "pw", "Att"));
  EXPECT_EQ(s.server + "|" + s.user + "|" + s.password + "|" + s.database, "srv|sa|pw|Att");
}

// A password with ';', '=', braces or blanks survives the round trip through the string,
// and a damaged string's error never repeats its text (which may hold the password).
TEST(TADOUtilsTextTest, ConnectionStringValuesAreQuotedAndReadBack) {
  const char* const passwords[] = {"plain", "se;cret", "a=b", "{x}", "}}", " lead", "", "q'\"q"};
  for (const char* password : passwords) {
    const ConnectionSettings back = ParseConnectionString(
        TADOUtils::GetConnectionString("srv\\inst", "sa;x", password, "Att_1399"));
    EXPECT_EQ(back.password, password);
    EXPECT_EQ(back.user, "sa;x");
    EXPECT_EQ(back.server, "srv\\inst");
    EXPECT_EQ(back.database, "Att_1399");
  }
  EXPECT_EQ(TADOUtils::GetConnectionString("s", "u", "se;cret", ""),
            "Provider=SQLOLEDB.1;Password={se;cret};Persist Security Info=True;User ID=u;"
            "Data Source=s");
  try {
    ParseConnectionString("Password=abc;secretpart;User ID=u");
    ADD_FAILURE() << "no error";
  } catch (const DbError& e) {
    EXPECT_EQ(std::string(e.what()).find("secretpart"), std::string::npos) << e.what();
  }
}

TEST(TADOUtilsTextTest, CatCommandTextEndsEveryLine) {
  EXPECT_EQ(TADOUtils::CatCommandText({" SELECT 1", " FROM T"}), " SELECT 1\n FROM T\n");
  EXPECT_EQ(TADOUtils::CatCommandText({}), "");
  EXPECT_EQ(TADOUtils::CatCommandText({""}), "\n");
}

TEST(TADOUtilsTextTest, CatCommandTextFmt) {
  struct Case {
    std::vector<std::string> lines;
    std::vector<Value> args;
    const char* expected;
  };
  const Case cases[] = {
      {{"USE %s;", "SELECT %d, %S"},
       {Value("Att"), Value(17), Value("x")},
       "USE Att;\nSELECT 17, x\n"},
      {{"%5d|%-4s|%.2f|%x|100%%"},
       {Value(42), Value("ab"), Value(1.5), Value(255)},
       "   42|ab  |1.50|FF|100%\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(TADOUtils::CatCommandTextFmt(c.lines, c.args), c.expected);
  EXPECT_THROW(TADOUtils::CatCommandTextFmt({"%s %s"}, {Value("a")}), std::runtime_error);
  EXPECT_THROW(TADOUtils::CatCommandTextFmt({"%d"}, {Value("a")}), std::runtime_error);
  EXPECT_THROW(TADOUtils::CatCommandTextFmt({"%q"}, {Value(1)}), std::runtime_error);
}

TEST(TADOUtilsTextTest, CatCommandTextReplace) {
  EXPECT_EQ(TADOUtils::CatCommandTextReplace({"A B", "AB"}, {"A", "B"}, {"B", "C"}),
            "C C\nCC\n");  // in order: A→B, then every B→C
  try {
    TADOUtils::CatCommandTextReplace({"A"}, {"A", "B"}, {"C"});
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "FromStrs and ToStrs should have same number of elements.");
  }
}

TEST(TADOUtilsTextTest, AddToCommandText) {
  struct Case {
    std::string str;
    std::string cmd;
    bool after;
    const char* expected;
  };
  const Case cases[] = {
      {"X", "CMD", false, "X\nCMD"},  {"X", "CMD", true, "CMD\nX"}, {"X\n", "CMD", false, "X\nCMD"},
      {"X", "CMD\n", true, "CMD\nX"}, {"X", "", true, "\nX"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TADOUtils::AddStrToCommandText(c.str, c.cmd, c.after), c.expected)
        << c.str << "|" << c.cmd << "|" << c.after;
  EXPECT_EQ(TADOUtils::AddToCommandText({"A", "B"}, "C", false), "A\nB\nC");
  EXPECT_EQ(TADOUtils::AddToCommandTextFmt({"A %d"}, {Value(1)}, "C", true), "C\nA 1\n");
  EXPECT_EQ(TADOUtils::AddToCommandTextReplace({"A"}, {"A"}, {"Z"}, "C", false), "Z\nC");
}

TEST(TADOUtilsTextTest, CatStringValuesExpressionQuotesValues) {
  EXPECT_EQ(TADOUtils::CatStringValuesExpression({"DayWork", "Ta'b"}, "T", "TABLE_NAME"),
            "(SELECT 'DayWork' UNION ALL SELECT 'Ta''b' ) T(TABLE_NAME)");
  EXPECT_EQ(TADOUtils::CatStringValuesExpression({"A"}, "V", "C"), "(SELECT 'A' ) V(C)");
}

TEST(TADOUtilsTextTest, AdministrationTexts) {
  EXPECT_EQ(TADOUtils::CountConnectionsText("Att"),
            " SELECT COUNT(*) AS ConCount    \n FROM sys.sysprocesses          \n"
            " WHERE dbid <> 0                \n     AND DB_NAME(dbid) = 'Att' \n");
  EXPECT_EQ(TADOUtils::BackupDatabaseText("D:\\b\\o'k.bak", "Att"),
            " USE Att;\n BACKUP DATABASE Att\n TO DISK = 'D:\\b\\o''k.bak'\n");
  EXPECT_EQ(TADOUtils::RestoreDataBaseText("D:\\b.bak", "Att", "Att_Data", "E:\\Att.mdf", "Att_Log",
                                           "E:\\Att_log.ldf"),
            " RESTORE DATABASE Att FROM DISK= 'D:\\b.bak' WITH\n"
            " MOVE 'Att_Data' TO 'E:\\Att.mdf',\n MOVE 'Att_Log' TO 'E:\\Att_log.ldf'\n");
  EXPECT_EQ(TADOUtils::TablesExistText({"DayWork", "IoInfo"}, "Att_1399"),
            " USE Att_1399;\n SELECT\n table_name,\n"
            " CASE WHEN OBJECT_ID(table_name,'U') IS NULL THEN 0 ELSE 1 END\n"
            " FROM(SELECT 'DayWork' UNION ALL SELECT 'IoInfo' ) T(TABLE_NAME)\n");
  EXPECT_EQ(TADOUtils::TableExistsText("IoInfo", ""),
            "SELECT COUNT(0) FROM sys.sysobjects s\nWHERE s.xtype = 'U' AND name ='IoInfo'\n");
  EXPECT_EQ(TADOUtils::TableExistsText("IoInfo", "Att").substr(0, 10), " USE Att;\n");

  const std::string kill = TADOUtils::KillAllConnectionsText("At't");
  EXPECT_NE(kill.find(" WHERE dbid = db_id('At''t')"), std::string::npos) << kill;
  EXPECT_EQ(kill.find("THEDBNANE"), std::string::npos);
  EXPECT_EQ(kill.rfind(" USE master;", 0), 0u);
  EXPECT_NE(kill.find(" EXEC (@kill);"), std::string::npos);
}

TEST(TADOUtilsTextTest, TakeOflineByMode) {
  const std::string head = " USE master\n GO\n ALTER DATABASE Att \n SET OFFLINE\n";
  EXPECT_EQ(TADOUtils::TakeOflineText("Att", TTakeOfflineMode::tomWait, 30),
            head + "WITH ROLLBACK AFTER 30 SECONDS\nGO\n");
  EXPECT_EQ(TADOUtils::TakeOflineText("Att", TTakeOfflineMode::tomNoWait, 0),
            head + "WITH NO_WAIT\n");
  EXPECT_EQ(TADOUtils::TakeOflineText("Att", TTakeOfflineMode::tomImmediate, 0),
            head + "WITH ROLLBACK IMMEDIATE\n");
  try {
    TADOUtils::TakeOflineText("Att", TTakeOfflineMode::tomDefault, 0);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Unknown take db offline mode!");
  }
}

TEST(TADOUtilsTextTest, DropTempTableByProvider) {
  EXPECT_EQ(TADOUtils::DropTempTableText("#Tmp", TADOProvider::adoMSSQL),
            " IF (OBJECT_ID('TEMPDB..[#Tmp]') IS NOT NULL)\n BEGIN\n"
            "   DROP TABLE TEMPDB..[#Tmp];\n   SELECT 1 AS RES;\n END\n ELSE\n BEGIN\n"
            "   SELECT 0 AS RES;\n END\n");
  EXPECT_EQ(TADOUtils::DropTempTableText("tmp", TADOProvider::adoMySQL),
            "DROP TEMPORARY TABLE IF EXISTS tmp");
  try {
    TADOUtils::DropTempTableText("t", static_cast<TADOProvider>(7));
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Invalid provider!");
  }
}

// ---------------------------------------------------------------------------------------
// Against a real connection (the SQLite ODBC driver).

class AdoUtilsOdbcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (std::filesystem::temp_directory_path() /
             ("zel_ado_" + std::to_string(getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".db"))
                .string();
    std::filesystem::remove(path_);
    for (const char* driver : {"SQLite3", "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so"}) {
      server_ = std::string("odbc:Driver=") + driver + ";Database=" + path_ + ";SyncPragma=off";
      try {
        conn_ = TADOUtils::GetConnectionObject(server_, "", "", "");
        break;
      } catch (const DbError&) {
        // this name of the driver is not installed: the next one is tried
      }
    }
    ASSERT_TRUE(conn_) << "SQLite ODBC driver not available";
    TADOUtils::ExecuteCommand(*conn_,
                              "CREATE TABLE Person (PerNo CHAR(10) PRIMARY KEY, Name TEXT)");
    TADOUtils::ExecuteCommand(*conn_, "INSERT INTO Person VALUES ('      1001', 'Ali')");
    TADOUtils::ExecuteCommand(*conn_, "INSERT INTO Person VALUES ('      1002', 'Reza')");
  }
  void TearDown() override {
    conn_.reset();
    std::filesystem::remove(path_);
  }

  std::string path_;
  std::string server_;
  std::unique_ptr<Connection> conn_;
};

TEST_F(AdoUtilsOdbcTest, QueriesTablesAndCommands) {
  EXPECT_EQ(TADOUtils::GetRecordCount(*conn_, "SELECT * FROM Person"), 2);
  EXPECT_EQ(TADOUtils::GetRecordCount(*conn_, ""), -1);

  auto query = TADOUtils::GetQueryObject(*conn_, "SELECT Name FROM Person ORDER BY PerNo", true);
  EXPECT_TRUE(query->Active());
  EXPECT_EQ(query->FieldByName("Name").AsString(), "Ali");
  EXPECT_FALSE(TADOUtils::GetQueryObject(*conn_, "SELECT 1", false)->Active());

  auto closed = TADOUtils::GetTableObject(*conn_, "Person", false);
  EXPECT_FALSE(closed->Active());
  auto table = TADOUtils::GetTableObject(*conn_, "Person", true);
  ASSERT_TRUE(table->Locate("PerNo", Value("1002")));
  table->Edit();
  table->SetField("Name", Value("رضا"));
  table->Post();

  auto command = TADOUtils::GetCommandObject(*conn_, "DELETE FROM Person WHERE PerNo = :P", false);
  command->SetParam("P", Value("      1001"));
  command->ExecSQL();
  EXPECT_EQ(conn_->Execute("SELECT PerNo, Name FROM Person").rows,
            (std::vector<std::vector<Value>>{{"      1002", "رضا"}}));
  EXPECT_THROW(TADOUtils::ExecuteCommand(*conn_, "DELETE FROM Nowhere"), DbError);
  EXPECT_THROW(TADOUtils::GetQueryObject(*conn_, "SELECT * FROM Nowhere", true), DbError);
}

TEST_F(AdoUtilsOdbcTest, ConnectionsFromStringsAndSettings) {
  EXPECT_EQ(TADOUtils::GetConnectionObject(""), nullptr);
  std::unique_ptr<Connection> c;
  // A quoted Data Source carries the ready ODBC string through the connection string.
  ASSERT_TRUE(
      TADOUtils::ConnectToDatabase("Provider=SQLOLEDB.1;Data Source=\"" + server_ + "\"", c));
  EXPECT_EQ(c->Execute("SELECT COUNT(*) FROM Person").rows[0][0].AsInteger(), 2);
  ASSERT_TRUE(TADOUtils::ConnectToServer(server_, "", "", c));
  EXPECT_EQ(c->EngineName(), "odbc");

  const std::string broken = "odbc:Driver=NoSuchDriverForZel";
  EXPECT_THROW(TADOUtils::ConnectToDatabase(broken, "u", "p", "Att", c), DbError);
  EXPECT_EQ(c, nullptr);  // the old connection is released either way
}

TEST_F(AdoUtilsOdbcTest, ServerAddressesFallBackToErrorMarks) {
  // SQLite has no CONNECTIONPROPERTY: the query fails and nothing is raised.
  std::string ip = "x", port = "x", client = "x";
  TADOUtils::GetServerIP(*conn_, ip, port, client);
  EXPECT_EQ(ip + "|" + port + "|" + client, "<Error>|<Error>|<Error>");
  TADOUtils::RaiseConnectionErrors(*conn_);  // statements raised already; nothing pending
}

// The program's side of a connection comes with the call: the ODBC driver for a server,
// the data folder for the embedded engine; a connection string alone reaches both.
TEST(TADOUtilsLocalSettingsTest, DriverAndDataFolderComeWithTheCall) {
  ConnectionSettings local;
  local.odbc_driver = "NoSuchDriverForZel";
  std::unique_ptr<Connection> c;
  try {
    TADOUtils::ConnectToDatabase("Data Source=somewhere;Initial Catalog=Att", c, local);
    ADD_FAILURE() << "connected";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("NoSuchDriverForZel"), std::string::npos) << e.what();
  }
  EXPECT_EQ(c, nullptr);

  const auto dir =
      std::filesystem::temp_directory_path() / ("zel_ado_local_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  local = ConnectionSettings{};
  local.data_dir = dir.string();
  try {
    ASSERT_TRUE(TADOUtils::ConnectToDatabase("Provider=SQLOLEDB.1;Data Source=", c, local));
  } catch (const DbError& e) {
    std::filesystem::remove_all(dir);
    if (std::string(e.what()).find("not built") != std::string::npos) GTEST_SKIP() << e.what();
    throw;
  }
  TADOUtils::ExecuteCommand(*c, "CREATE DATABASE LocalAtt");
  auto in_db = TADOUtils::GetConnectionObject("Initial Catalog=LocalAtt", local);
  ASSERT_NE(in_db, nullptr);
  TADOUtils::ExecuteCommand(*in_db, "CREATE TABLE T (A int)");
  TADOUtils::ExecuteCommand(*in_db, "INSERT INTO T VALUES (7)");
  EXPECT_EQ(TADOUtils::GetRecordCount(*in_db, "SELECT A FROM T WHERE A = 7"), 1);
  in_db.reset();
  c.reset();
  std::filesystem::remove_all(dir);
}

// Administration without meaning on the embedded engine is refused by name.
TEST(TADOUtilsEmbeddedTest, ServerAdministrationIsRefusedAndAddressesAreLocal) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("zel_ado_embedded_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  ConnectionSettings s;
  s.data_dir = dir.string();
  std::unique_ptr<Connection> c;
  try {
    c = Connect(s);
  } catch (const DbError& e) {
    std::filesystem::remove_all(dir);
    if (std::string(e.what()).find("not built") != std::string::npos) GTEST_SKIP() << e.what();
    throw;
  }
  struct Case {
    const char* operation;
    std::function<void()> call;
  };
  std::string a, b;
  const Case cases[] = {
      {"BackupDatabase", [&] { TADOUtils::BackupDatabase(*c, "/tmp/x.bak", "Att"); }},
      {"RestoreDataBase",
       [&] {
         TADOUtils::RestoreDataBase(*c, "/tmp/x.bak", "Att", "/tmp", true, false, "_log.ldf");
       }},
      {"VerifyBackupFile", [&] { TADOUtils::VerifyBackupFile(*c, "/tmp/x.bak"); }},
      {"RetriveLogicalNamesFromBackupFile",
       [&] { TADOUtils::RetriveLogicalNamesFromBackupFile(*c, "/tmp/x.bak", a, b); }},
      {"TakeOfline", [&] { TADOUtils::TakeOfline(*c, "Att", TTakeOfflineMode::tomNoWait, 0); }},
      {"KillAllConnections", [&] { TADOUtils::KillAllConnections(*c, "Att"); }},
  };
  for (const Case& k : cases) {
    try {
      k.call();
      ADD_FAILURE() << k.operation << " ran";
    } catch (const DbError& e) {
      EXPECT_EQ(std::string(e.what()),
                std::string(k.operation) + " is not supported by the embedded engine");
    }
  }
  // A local connection has no network addresses: all three read "<local machine>".
  std::string ip, port, client;
  TADOUtils::GetServerIP(*c, ip, port, client);
  EXPECT_EQ(ip + "|" + port + "|" + client, "<local machine>|<local machine>|<local machine>");
  c.reset();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zel::db
