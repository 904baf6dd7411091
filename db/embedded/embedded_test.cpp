// Behaviour of the embedded engine against SQL Server's answers: storage and names across
// databases, data statements, batches, the translation traps, the catalogue and errors.
#include "db/embedded/embedded.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

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

std::string MakeDataDir() {
  std::random_device rd;
  auto dir = std::filesystem::temp_directory_path() /
             ("zel_embedded_" + std::to_string(rd()) + std::to_string(rd()));
  std::filesystem::create_directories(dir);
  return dir.string();
}

class EmbeddedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeDataDir();
    conn_ = Open("");
    conn_->Execute("CREATE DATABASE Att");
    conn_->Execute("CREATE DATABASE Att_1399");
    conn_->Execute("USE Att");
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
  ResultSet Q(const std::string& sql, const std::vector<Param>& params = {}) {
    return conn_->Execute(sql, params);
  }
  // The single value of a one-row, one-column query.
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

  std::string dir_;
  std::unique_ptr<Connection> conn_;
};

struct ValueCase {
  const char* sql;
  Value expected;  // SQL Server's answer
};

TEST_F(EmbeddedTest, InsertSelectUpdateDeleteWithParameters) {
  Q("CREATE TABLE DayWork (PerNo char(10) NOT NULL, DDate char(5) NOT NULL, WorkTotal int NULL, "
    "CONSTRAINT PK_DayWork PRIMARY KEY (PerNo, DDate))");
  Q("INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES (?, ?, ?)",
    {Param{"PerNo", ParamType::String, 10, Value("      1001")},
     Param{"DDate", ParamType::String, 5, Value("01/02")},
     Param{"WorkTotal", ParamType::Integer, 0, Value(480)}});
  Q("Insert Into DayWork Values ('      1001', '01/03', 400), ('      1002', '01/02', 10)");
  ResultSet r = Q("Select * from DayWork where PerNo = ? and DDate = ?",
                  {Param{"PerNo", ParamType::String, 10, Value("      1001")},
                   Param{"DDate", ParamType::String, 5, Value("01/02")}});
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.columns, (std::vector<std::string>{"PerNo", "DDate", "WorkTotal"}));
  EXPECT_EQ(r.rows[0][2], Value(480));
  Q("Update DayWork Set WorkTotal = WorkTotal + 1 Where LTrim(PerNo) = '1001'");
  EXPECT_EQ(One("select sum(WorkTotal) from DayWork where PerNo = '      1001'"), Value(882));
  Q("DELETE FROM DayWork where (Perno = '      1001') AND (DDate >= '01/03') AND (DDate <= "
    "'01/31')");
  EXPECT_EQ(One("SELECT COUNT(*) FROM DayWork"), Value(2));
  Q("Delete DayWork");
  EXPECT_EQ(One("SELECT COUNT(*) FROM DayWork"), Value(0));
}

TEST_F(EmbeddedTest, CountsEveryStatementSentFailedOnesAndTransactionsIncluded) {
  const std::uint64_t process_before = StatementsSentByProcess();
  const std::uint64_t before = conn_->StatementsSent();
  Q("CREATE TABLE T (Id int NULL)");
  conn_->BeginTransaction();
  Q("INSERT INTO T VALUES (1)");
  conn_->CommitTransaction();
  EXPECT_NE(ErrorOf("SELECT nothing FROM T"), "(no error)");
  conn_->RollbackTransaction();  // none open: nothing is sent
  EXPECT_EQ(conn_->StatementsSent() - before, 5u);
  EXPECT_GE(StatementsSentByProcess() - process_before, 5u);
}

TEST_F(EmbeddedTest, ThreePartNamesAcrossDatabases) {
  Q("CREATE TABLE MorType (Code int PRIMARY KEY, Education int)");
  Q("USE Att_1399");
  Q("CREATE TABLE DayMorDt (PerNo char(10), DDate char(5), MorkhasiCode int, Amount int)");
  Q("INSERT INTO Att..MorType VALUES (1, 1), (2, 0)");
  Q("INSERT INTO [Att_1399]..DayMorDt VALUES ('      1001', '01/05', 1, 60), ('      1001', "
    "'01/06', 2, 30)");
  Q("USE Att");
  Value v =
      One(" Select Sum(Amount) As SumAmount  From Att_1399..DayMorDt  Inner Join Att..MorType On "
          "(MorkhasiCode = Code)  Where PerNo = '      1001'  And DDate >= '01/01'  And Education "
          "= 1 ");
  EXPECT_EQ(v, Value(60));
  EXPECT_EQ(One("SELECT COUNT(*) FROM Att.dbo.MorType"), Value(2));
  EXPECT_EQ(ErrorOf("SELECT * FROM DayMorDt"), "Invalid object name 'DayMorDt'.");
  EXPECT_EQ(ErrorOf("SELECT * FROM Att_1400..DayMorDt"),
            "Invalid object name 'Att_1400..DayMorDt'.");
  EXPECT_EQ(ErrorOf("SELECT Nope FROM MorType"), "Invalid column name 'Nope'.");
}

// An ORDER BY position outside the select list, however many digits it has, is SQL Server's
// error, for one query and for a set operation.
TEST_F(EmbeddedTest, OrderByPositionOutOfRange) {
  Q("CREATE TABLE T (A int)");
  for (const char* position : {"0", "2", "99999999999"}) {
    const std::string want = std::string("The ORDER BY position number ") + position +
                             " is out of range of the number of items in the select list.";
    EXPECT_EQ(ErrorOf(std::string("SELECT A FROM T ORDER BY ") + position), want);
    EXPECT_EQ(ErrorOf(std::string("SELECT A FROM T UNION SELECT A FROM T ORDER BY ") + position),
              want);
  }
}

TEST_F(EmbeddedTest, ConnectionWithCatalogAndServerLevel) {
  Q("CREATE TABLE T (A int)");
  Q("INSERT INTO T VALUES (7)");
  auto att = Open("Att");
  EXPECT_EQ(att->Execute("SELECT A FROM T").rows.at(0).at(0), Value(7));
  auto server = Open("");
  EXPECT_EQ(server->Execute("SELECT A FROM Att..T").rows.at(0).at(0), Value(7));
  EXPECT_THROW(server->Execute("SELECT A FROM T"), DbError);
  server->Execute(" USE [Att] ");
  EXPECT_EQ(server->Execute("SELECT A FROM T").rows.at(0).at(0), Value(7));
  EXPECT_THROW(Open("Nowhere"), DbError);
}

TEST_F(EmbeddedTest, BatchWithVariablesAndParameters) {
  Q("USE Att_1399");
  Q("CREATE TABLE IoInfo (PerNo char(10), BeginDate char(5), BeginTime char(5), EndDate char(5), "
    "EndTime char(5))");
  Q("INSERT INTO IoInfo VALUES ('      1001', '01/01', '08:00', '01/01', '16:00'), "
    "('      1001', '01/03', '22:00', '01/04', '06:00'), ('      1001', '01/06', '08:00', '01/06', "
    "'12:00'), "
    "('      1002', '01/03', '08:00', '01/03', '09:00')");
  ResultSet r = Q(
      "Declare @BeginDate as char(5),@EndDate as char(5)\nset @BeginDate = ? \nset @EndDate = ? \n"
      "Select * from IoInfo\nWhere Perno = ? and  ((BeginDate Between @BeginDate And @EndDate) Or  "
      "(EndDate Between @BeginDate And @EndDate) Or (BeginDate < @BeginDate and EndDate > "
      "@EndDate) )\n"
      "Order By BeginDate,BeginTime,EndDate,EndTime ",
      {Param{"BDate", ParamType::String, 5, Value("01/04")},
       Param{"EDate", ParamType::String, 5, Value("01/05")},
       Param{"PerNo", ParamType::String, 10, Value("      1001")}});
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0][1], Value("01/03"));
  // A variable keeps its declared type: char(5) pads, smallint converts.
  r =
      Q("DECLARE @d char(5), @n smallint; SET @d = 'ab'; SET @n = '12'; SELECT '[' + @d + ']', @n "
        "+ 1");
  EXPECT_EQ(r.rows.at(0).at(0), Value("[ab   ]"));
  EXPECT_EQ(r.rows.at(0).at(1), Value(13));
  EXPECT_EQ(ErrorOf("SELECT @nope"), "Must declare the scalar variable \"@nope\".");
  // SELECT @v = … takes the value of the query.
  r =
      Q("DECLARE @Max int SELECT @Max = Max(Len(BeginTime)) FROM IoInfo WHERE PerNo = '      1002' "
        "SELECT @Max");
  EXPECT_EQ(r.rows.at(0).at(0), Value(5));
}

TEST_F(EmbeddedTest, IfExistsElseAndExecute) {
  Q("USE Att_1399");
  Q("CREATE TABLE AskAbsence (PageNo int)");
  const char* web =
      " If Exists(Select name From sysobjects Where name = N'AskAbsence' And type = 'U') And "
      "Exists(Select name From sysobjects Where name = N'AskMission' And type = 'U') Select 1 Else "
      "Select 0 ";
  EXPECT_EQ(One(web), Value(0));
  Q("CREATE TABLE AskMission (PageNo int)");
  EXPECT_EQ(One(web), Value(1));
  Q("IF NOT EXISTS (SELECT * FROM AskMission) BEGIN INSERT INTO AskMission VALUES (1) INSERT INTO "
    "AskMission VALUES (2) END");
  EXPECT_EQ(One("SELECT COUNT(*) FROM AskMission"), Value(2));
  Q("DECLARE @sql varchar(100) SET @sql = 'DELETE FROM AskMission WHERE PageNo = 1' EXEC(@sql)");
  EXPECT_EQ(One("SELECT COUNT(*) FROM AskMission"), Value(1));
  Q(" If Exists (Select * From sysobjects Where id = object_id(N'[AskMission]') And xtype In "
    "(N'U')) "
    "EXECUTE('Drop Table [AskMission]')");
  EXPECT_EQ(One("SELECT COUNT(*) FROM sysobjects WHERE name = 'AskMission'"), Value(0));
  // USE inside EXECUTE ends with it.
  Q("EXECUTE('USE Att')");
  EXPECT_EQ(One("SELECT DB_NAME()"), Value("Att_1399"));
}

TEST_F(EmbeddedTest, CssLogIdentityUpgradeBatch) {
  Q("CREATE TABLE CSSLog (Id int NOT NULL, ScheduleId int, PerNo char(10), Comment varchar(255), "
    "Status int, "
    "CONSTRAINT PK_CSSLOG PRIMARY KEY (Id))");
  Q("INSERT INTO CSSLog VALUES (10, 1, '', 'first', 0), (20, 1, '', 'second', 0)");
  const std::string upgrade =
      "if ( (select top 1 is_identity from sys.columns c WHERE c.object_id = OBJECT_ID('CSSLog') "
      "and c.name = 'id') <> 1) \n"
      "Begin \nAlter Table CSSLog DROP CONSTRAINT PK_CSSLOG \nAlter Table CSSLog drop  COLUMN id \n"
      "Alter Table CSSLog Add  Id int IDENTITY(1,1) not null \nEnd ; ";
  Q(upgrade);
  ResultSet r = Q("SELECT Id, Comment FROM CSSLog ORDER BY Id");
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[0][0], Value(1));
  EXPECT_EQ(r.rows[0][1], Value("first"));
  EXPECT_EQ(r.rows[1][0], Value(2));
  Q(upgrade);  // already an identity: nothing happens
  Q("Insert Into CSSLog (ScheduleId, PerNo, Comment, Status) Values (1, '', 'third', 0)");
  EXPECT_EQ(One("SELECT Id FROM CSSLog WHERE Comment = 'third'"), Value(3));
  EXPECT_EQ(One("select top 1 is_identity from sys.columns c WHERE c.object_id = "
                "OBJECT_ID('CSSLog') and c.name = 'ID'"),
            Value(1));
  EXPECT_TRUE(conn_->PrimaryKeyColumns("CSSLog").empty());
}

TEST_F(EmbeddedTest, CatalogueLookups) {
  Q("USE Att_1399");
  Q("CREATE TABLE Morkhasi (PageNo int NOT NULL, PerNo char(10) NOT NULL, SodrinPageNo int, "
    "CONSTRAINT PK_Morkhasi PRIMARY KEY (PageNo, PerNo))");
  EXPECT_EQ(Q(" Select id \n From syscolumns\n Where name = 'SodrinPageNo' \n And id = "
              "OBJECT_ID(N'Morkhasi') ")
                .rows.size(),
            1u);
  EXPECT_EQ(Q(" Select id  From syscolumns Where name = 'Nope'  And id = OBJECT_ID(N'Morkhasi') ")
                .rows.size(),
            0u);
  EXPECT_FALSE(One("SELECT OBJECT_ID('Att_1399..Morkhasi', 'U')").IsNull());
  EXPECT_TRUE(One("SELECT OBJECT_ID('Morkhasi', 'V')").IsNull());
  EXPECT_FALSE(One("SELECT OBJECT_ID('PK_Morkhasi')").IsNull());
  EXPECT_EQ(One("SELECT COUNT(0) FROM sys.sysobjects s\nWHERE s.xtype = 'U' AND name ='Morkhasi'"),
            Value(1));
  EXPECT_FALSE(One("SELECT ID = DB_ID('Att')").IsNull());
  EXPECT_TRUE(One("SELECT ID = DB_ID('Nope')").IsNull());
  ResultSet dbs =
      Q(" SELECT Name\n FROM   master.sys.databases\n WHERE  Cast(CASE WHEN name IN ('master', "
        "'model', "
        "'msdb', 'tempdb') THEN 1 ELSE is_distributor END As bit) = 0");
  ASSERT_EQ(dbs.rows.size(), 2u);
  EXPECT_EQ(dbs.rows[0][0], Value("Att"));
  EXPECT_EQ(dbs.rows[1][0], Value("Att_1399"));
  ResultSet ip =
      Q("SELECT IsNull(CONNECTIONPROPERTY('local_net_address'), '<local machine>') AS ServerIP, "
        "IsNull(CONNECTIONPROPERTY('local_tcp_port'), '<local machine>') AS ServerPort");
  EXPECT_EQ(ip.rows.at(0).at(0), Value("<local machine>"));
  EXPECT_EQ(ip.columns.at(1), "ServerPort");
  EXPECT_EQ(conn_->PrimaryKeyColumns("Att_1399.dbo.Morkhasi"),
            (std::vector<std::string>{"PageNo", "PerNo"}));
  ResultSet tables =
      Q(" USE Att_1399; SELECT table_name, CASE WHEN OBJECT_ID(table_name,'U') IS NULL THEN 0 ELSE "
        "1 END "
        "FROM (SELECT 'Morkhasi' UNION ALL SELECT 'Nope' ) T(TABLE_NAME)");
  ASSERT_EQ(tables.rows.size(), 2u);
  EXPECT_EQ(tables.rows[0][1], Value(1));
  EXPECT_EQ(tables.rows[1][1], Value(0));
}

TEST_F(EmbeddedTest, AlterTableAddsColumnsOnceAndKeepsRows) {
  Q("USE Att_1399");
  Q("CREATE TABLE TmpSlate (PageNo int, PerNo char(10))");
  Q("INSERT INTO TmpSlate VALUES (1, '      1001')");
  Q("AlTER TABLE dbo.TmpSlate ADD Rec1 int NULL,Rec2 int NULL ");
  Q("ALTER TABLE dbo.TmpSlate ADD INDECISIVE tinyint Null ");
  EXPECT_EQ(ErrorOf("ALTER TABLE dbo.TmpSlate ADD INDECISIVE tinyint Null "),
            "Column names in each table must be unique. Column name 'INDECISIVE' in table "
            "'dbo.TmpSlate' is "
            "specified more than once.");
  Q("ALTER TABLE TmpSlate ADD Flag char(2) NOT NULL DEFAULT 'x'");
  ResultSet r = Q("SELECT PageNo, Rec1, INDECISIVE, '[' + Flag + ']' FROM TmpSlate");
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0][0], Value(1));
  EXPECT_TRUE(r.rows[0][1].IsNull());
  EXPECT_EQ(r.rows[0][3], Value("[x ]"));
  EXPECT_THROW(Q("ALTER TABLE TmpSlate ADD Must int NOT NULL"), DbError);
}

TEST_F(EmbeddedTest, ViewWithUnpivotDropsNullsAndReadsBaseTables) {
  Q("CREATE TABLE WorkShifts (Code int, ShiftStatus char(5), DBEGINTIME char(5), ENDTIME char(5), "
    "Holiday int)");
  Q("CREATE TABLE WorkGrp (CODE int, GShCode int, GROUPTYPE int)");
  Q("INSERT INTO WorkShifts VALUES (5, '00001', '08:00', '06:00', 0), (6, '00000', '20:00', "
    "'23:00', 1)");
  Q("INSERT INTO WorkGrp VALUES (60, 3, 6)");
  Q("CREATE FUNCTION incDate (@Date as char(5)) RETURNS char(5) AS BEGIN DECLARE @r char(5) "
    "SET @r = @Date RETURN @r END");
  Q("USE Att_1399");
  Q("CREATE TABLE GShItem (GShCode int, Period int, D1 int, D2 int, D3 int)");
  Q("CREATE TABLE PerShifts (PerNo char(10), GShCode int, Period int, D1 int, D2 int, D3 int)");
  Q("CREATE TABLE PrjRule (PERNO char(10), WORKGROUP int)");
  Q("INSERT INTO GShItem VALUES (3, 1, 5, NULL, 6)");
  Q("INSERT INTO PerShifts VALUES ('      1001', 3, 1, NULL, 6, NULL)");
  Q("INSERT INTO PrjRule VALUES ('      1001', 60)");
  Q("IF EXISTS(SELECT * FROM sys.views WHERE name = 'V_GetCalItem') DROP VIEW "
    "[dbo].[V_GetCalItem] ");
  Q(" CREATE VIEW [dbo].[V_GetCalItem]  AS "
    "SELECT DistributedGshItem.PerNo, DistributedGshItem.GShCode, DistributedGshItem.Period, "
    "Substring(DayNo, 2,3) AS DayNo, WorkShiftCode, "
    "Right('0' + Cast(DistributedGshItem.Period As Varchar(2)), 2) + '/' + Right('0' + "
    "Substring(DayNo, 2, 3), 2) "
    "AS DBeginDate, WS.DBEGINTIME, "
    "CASE WHEN Substring(WS.ShiftStatus, 5, 1) = '1' THEN Att.dbo.IncDate(Right('0' + "
    "Cast(DistributedGshItem.Period "
    "As Varchar(2)), 2) + '/' + Right('0' + Substring(DayNo, 2, 3), 2)) ELSE Right('0' + "
    "Cast(DistributedGshItem.Period "
    "As Varchar(2)), 2) + '/' + Right('0' + Substring(DayNo, 2, 3), 2) END AS EndDate, WS.ENDTIME, "
    "WS.Holiday "
    "FROM (SELECT P.PerNo, P.GShCode, P.Period, (Case when P.D1 is NULL then G.D1 else P.D1 end) "
    "AS D1, "
    "(Case when P.D2 is NULL then G.D2 else P.D2 end) AS D2, (Case when P.D3 is NULL then G.D3 "
    "else P.D3 end) AS D3 "
    "FROM GshItem G LEFT OUTER JOIN PerShifts P ON G.GShCode=P.GShCode and G.Period=P.Period) AS "
    "Src "
    "UNPIVOT (WorkShiftCode FOR DayNo IN (D1, D2, D3)) AS DistributedGshItem "
    "LEFT OUTER JOIN Att.dbo.WorkShifts As WS on DistributedGshItem.WorkShiftCode = WS.Code "
    "LEFT OUTER JOIN Att.dbo.WorkGrp AS WG On Wg.GShCode = DistributedGshItem.GShCode "
    "LEFT OUTER JOIN PrjRule As R On R.WORKGROUP = WG.CODE "
    "WHERE R.PERNO <> '' AND WG.GROUPTYPE = 6 AND R.PerNo = DistributedGshItem.PerNo");
  ResultSet r =
      Q("Select DBeginDate, WorkShiftCode, EndDate From V_GetCalItem Where PerNo = '      1001' "
        "And GShCode = 3 Order By DBeginDate");
  ASSERT_EQ(r.rows.size(), 3u);
  EXPECT_EQ(r.rows[0][0], Value("01/01"));
  EXPECT_EQ(r.rows[0][1], Value(5));
  EXPECT_EQ(r.rows[1][1], Value(6));  // the person's own shift overrides the group's NULL
  EXPECT_EQ(r.rows[2][0], Value("01/03"));
  EXPECT_EQ(One("SELECT COUNT(*) FROM sys.views WHERE name = 'V_GetCalItem'"), Value(1));
  EXPECT_EQ(ErrorOf(" USE Att_1399 CREATE VIEW V2 AS SELECT 1 AS a"),
            "'CREATE VIEW' must be the first statement in a query batch.");
  Q("IF EXISTS(SELECT * FROM sys.views WHERE name = 'V_GetCalItem') DROP VIEW "
    "[dbo].[V_GetCalItem] ");
  EXPECT_EQ(ErrorOf("SELECT * FROM V_GetCalItem"), "Invalid object name 'V_GetCalItem'.");
}

TEST_F(EmbeddedTest, TransferFunctionsBehaveAsDefined) {
  Q("USE Att_1399");
  Q("CREATE TABLE IoInfo (PerNo char(10), BeginDate char(5), BeginTime char(5))");
  Q("INSERT INTO IoInfo VALUES ('      1001', '01/02', '07:30'), ('      1001', '01/02', '09:00')");
  Q("USE Att");
  Q("CREATE TABLE ClockDmp (PerNo char(10), ClockDate char(10), ClockTime char(5), io_type "
    "char(1), SPCardType int)");
  Q("INSERT INTO ClockDmp VALUES ('      1001', '1399/01/02', '07:10', '1', 1), ('      1001', "
    "'1399/01/02', '07:20', '1', 0)");
  for (const char* name : {"DecDate", "IncDate", "FirstIO"})
    Q(std::string(" If Exists (Select * From sysobjects Where id = object_id(N'[") + name +
      "]') And xtype In (N'FN', N'IF', N'TF')) EXECUTE('Drop Function [" + name + "]')");
  Q("CREATE FUNCTION decDate (@Date as char(5))  RETURNS char(5) AS BEGIN DECLARE @m int, @d int "
    "SET @m = Cast(SubString(@Date, 1, 2) As int) SET @d = Cast(SubString(@Date, 4, 2) As int) "
    "IF @d = 1 BEGIN SET @m = @m - 1 IF @m >= 7 SET @d = 30 ELSE SET @d = 31 END ELSE SET @d = @d "
    "- 1 "
    "RETURN Right('0' + Cast(@m As varchar(2)), 2) + '/' + Right('0' + Cast(@d As varchar(2)), 2) "
    "END");
  Q("CREATE FUNCTION incDate (@Date as char(5))  RETURNS char(5) AS BEGIN RETURN @Date END");
  Q("CREATE FUNCTION dbo.FirstIO (@Perno char(10) , @minDateTime char(10) , @maxDateTime char(10)  "
    ")  RETURNS char(10) "
    "AS BEGIN DECLARE @Result char(10) "
    "SELECT @Result = Min(BeginDateTime) FROM (SELECT substring(ClockDate,6,5)+ClockTime AS "
    "BeginDateTime FROM ClockDmp "
    "WHERE PerNo = @Perno And (io_type = 1) And (SPCardType = 0) UNION SELECT BeginDate+BeginTime "
    "FROM Att_1399..IoInfo "
    "WHERE PerNo = @Perno) T WHERE BeginDateTime >= @minDateTime  and BeginDateTime <= "
    "@maxDateTime RETURN @Result END");
  const ValueCase cases[] = {
      {"SELECT dbo.decDate('01/01')", Value("00/31")},
      {"SELECT dbo.decDate('07/01')", Value("06/31")},
      {"SELECT dbo.IncDate('12/30')", Value("13/01")},
      {"SELECT dbo.incDate('06/31')", Value("07/01")},
      {"SELECT Att.dbo.incDate('07/30')", Value("08/01")},
      {"SELECT dbo.decDate(dbo.decDate(substring('1399/03/01',6,5)))", Value("02/30")},
      {"SELECT dbo.FirstIO('      1001', '01/0207:00', '01/0223:59')", Value("01/0207:20")},
      {"SELECT dbo.FirstIO('      1001', '01/0207:25', '01/0223:59')", Value("01/0207:30")},
      {"SELECT dbo.FirstIO('      1001', '01/0300:00', '01/0323:59')", Value()},
  };
  for (const ValueCase& c : cases) EXPECT_EQ(One(c.sql), c.expected) << c.sql;
  EXPECT_EQ(ErrorOf("SELECT decDate('01/01')"),
            "'decDate' is not a recognized built-in function name.");
  EXPECT_EQ(ErrorOf("CREATE FUNCTION dbo.Loop (@a int) RETURNS int AS BEGIN WHILE @a > 0 SET @a = "
                    "@a - 1 RETURN @a END"),
            "Unsupported T-SQL construct: function body of Loop (only one expression or one query "
            "can be inlined)");
}

TEST_F(EmbeddedTest, SelectIntoSessionTableAndCatalogSurvivesReopening) {
  Q("CREATE TABLE Person (PerNo char(10) NOT NULL, Name varchar(20), CONSTRAINT PK_Person PRIMARY "
    "KEY (PerNo))");
  Q("INSERT INTO Person VALUES ('      1001', 'Ali'), ('      1002', 'Sara')");
  Q("SELECT PerNo, Name INTO #P FROM Person WHERE Name <> 'sara'");
  EXPECT_EQ(One("SELECT '[' + PerNo + ']' FROM #P"), Value("[      1001]"));
  conn_.reset();
  conn_ = Open("Att");
  EXPECT_EQ(conn_->PrimaryKeyColumns("Person"), (std::vector<std::string>{"PerNo"}));
  EXPECT_EQ(ErrorOf("INSERT INTO Person VALUES ('      1001 ', 'x')"),
            "Violation of PRIMARY KEY constraint 'PK_Person'. Cannot insert duplicate key in "
            "object 'dbo.Person'.");
  EXPECT_EQ(ErrorOf("SELECT * FROM #P"), "Invalid object name '#P'.");
  // Indexes survive too, and objects created after them get ids of their own.
  Q("CREATE UNIQUE INDEX IX_Person_Name ON Person (Name)");
  Q("CREATE TABLE Later (A int)");
  EXPECT_EQ(
      ErrorOf("INSERT INTO Person VALUES ('      1009', 'ALI')"),
      "Cannot insert duplicate key row in object 'dbo.Person' with unique index 'IX_Person_Name'.");
  conn_.reset();
  conn_ = Open("Att");
  Q("DROP INDEX Person.IX_Person_Name");
  Q("INSERT INTO Person VALUES ('      1009', 'ALI')");
  EXPECT_EQ(One("SELECT COUNT(*) FROM Later"), Value(0));
}

TEST_F(EmbeddedTest, QueryShapes) {
  Q("CREATE TABLE A (K int, V varchar(10))");
  Q("CREATE TABLE B (K int, W varchar(10))");
  Q("INSERT INTO A VALUES (1, 'a1'), (2, 'a2'), (2, 'a2b'), (3, 'a3')");
  Q("INSERT INTO B VALUES (2, 'b2'), (4, 'b4')");
  const ValueCase cases[] = {
      {"SELECT COUNT(*) FROM A LEFT JOIN B ON A.K = B.K WHERE B.K IS NULL", Value(2)},
      {"SELECT COUNT(*) FROM A RIGHT OUTER JOIN B ON A.K = B.K", Value(3)},
      {"SELECT COUNT(*) FROM A FULL OUTER JOIN B ON A.K = B.K", Value(5)},
      {"SELECT COUNT(*) FROM A CROSS JOIN B", Value(8)},
      {"SELECT COUNT(*) FROM A, B WHERE A.K = B.K", Value(2)},
      {"SELECT COUNT(*) FROM A a1 WHERE EXISTS (SELECT * FROM B WHERE B.K = a1.K)", Value(2)},
      {"SELECT COUNT(*) FROM A WHERE K NOT IN (SELECT K FROM B)", Value(2)},
      {"SELECT TOP 1 V FROM A ORDER BY K DESC, V", Value("a3")},
      {"SELECT MAX(V) FROM (SELECT K, COUNT(*) AS N, MAX(V) AS V FROM A GROUP BY K HAVING COUNT(*) "
       "> 1) g",
       Value("a2b")},
      {"SELECT (SELECT COUNT(DISTINCT K) FROM A) + (SELECT COUNT(*) FROM B)", Value(5)},
      {"SELECT COUNT(*) FROM (SELECT K FROM A UNION SELECT K FROM B) u", Value(4)},
      {"SELECT COUNT(*) FROM (SELECT K FROM A UNION ALL SELECT K FROM B) u", Value(6)},
      {"DECLARE @n int SET @n = 2 SELECT COUNT(*) FROM (SELECT TOP (@n) K FROM A ORDER BY K) t",
       Value(2)},
      {"UPDATE A SET V = V + '!' WHERE K = 2 SELECT @@ROWCOUNT", Value(2)},
  };
  for (const ValueCase& c : cases) EXPECT_EQ(One(c.sql), c.expected) << c.sql;
  Q("DELETE A FROM A INNER JOIN B ON A.K = B.K");
  EXPECT_EQ(One("SELECT COUNT(*) FROM A"), Value(2));
  Q("DELETE FROM A WHERE K IN (SELECT K FROM A WHERE V = 'a3')");
  EXPECT_EQ(One("SELECT COUNT(*) FROM A"), Value(1));
}

TEST_F(EmbeddedTest, DataStatementsReportTheRowsTheyChanged) {
  Q("CREATE TABLE H (Code int PRIMARY KEY, Amount int)");
  EXPECT_EQ(Q("INSERT INTO H VALUES (1, 0), (2, 5)").rows_affected, 2);
  // The conditional take of a hold: the first changes one row, the second none.
  EXPECT_EQ(Q("UPDATE H SET Amount = Amount + 1 WHERE Code = 1 AND Amount <= 0").rows_affected, 1);
  EXPECT_EQ(Q("UPDATE H SET Amount = Amount + 1 WHERE Code = 1 AND Amount <= 0").rows_affected, 0);
  EXPECT_EQ(Q("DELETE FROM H").rows_affected, 2);
}

// Two programs read the same row and both edit it: the second post must fail loudly instead
// of overwriting the first one's change (the row is found by its key, and the changed
// column must still hold what was read).
TEST_F(EmbeddedTest, ARowEditNeverOverwritesAChangeMadeSinceItWasRead) {
  Q("CREATE TABLE H (Code int PRIMARY KEY, Amount int, HostName char(30) NULL)");
  Q("INSERT INTO H VALUES (17, 0, NULL)");
  auto other = Open("Att");
  Dataset first(*conn_), second(*other);
  for (Dataset* d : {&first, &second}) {
    d->SetTableName("H");
    d->Open();
    ASSERT_TRUE(d->Locate("Code", Value(17)));
    d->Edit();
    d->SetField("Amount", Value(d->FieldByName("Amount").AsInteger() + 1));
    d->SetField("HostName", Value(d == &first ? "PC1" : "PC2"));
  }
  first.Post();
  EXPECT_THROW(second.Post(), DbError);
  EXPECT_EQ(One("SELECT Amount FROM H WHERE Code = 17"), Value(1));
  EXPECT_EQ(One("SELECT RTRIM(HostName) FROM H WHERE Code = 17"), Value("PC1"));
  // An edit of a column nobody else changed still goes through.
  Dataset third(*other);
  third.SetTableName("H");
  third.Open();
  third.Edit();
  third.SetField("Amount", Value(0));
  third.Post();
  EXPECT_EQ(One("SELECT Amount FROM H WHERE Code = 17"), Value(0));
}

// A batch that EXECs itself runs 32 levels deep, then stops with SQL Server's message.
TEST_F(EmbeddedTest, NestedExecStopsAtTheNestingLimit) {
  Q("CREATE TABLE Depth (n int)");
  Q("INSERT INTO Depth VALUES (0)");
  Q("CREATE TABLE Again (s varchar(200))");
  const std::string again = "DECLARE @s varchar(200) SELECT @s = s FROM Again EXEC (@s)";
  Q("INSERT INTO Again VALUES ('UPDATE Depth SET n = n + 1 " + again + "')");
  EXPECT_EQ(
      ErrorOf(again),
      "Maximum stored procedure, function, trigger, or view nesting level exceeded (limit 32).");
  EXPECT_EQ(One("SELECT n FROM Depth"), Value(32));
  // The session is usable afterwards, in its own database.
  EXPECT_EQ(One("SELECT DB_NAME()"), Value("Att"));
}

// Hostile text: nesting deeper than the engine allows and type sizes beyond SQL Server's are
// refused with SQL Server's messages, not with a crash or a huge allocation.
TEST_F(EmbeddedTest, DeepNestingAndHugeTypeSizesAreRefused) {
  const std::string too_deep =
      "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up "
      "into smaller queries.";
  auto repeat = [](const std::string& part, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += part;
    return out;
  };
  const struct {
    std::string sql;
    std::string error;  // empty: runs
  } cases[] = {
      {"SELECT " + repeat("(", 10000) + "1" + repeat(")", 10000), too_deep},
      {"SELECT CASE WHEN " + repeat("NOT ", 10000) + "1 = 1 THEN 1 END", too_deep},
      {repeat("BEGIN ", 10000) + "SELECT 1 " + repeat("END ", 10000), too_deep},
      {"SELECT 1" + repeat(" + 1", 10000), too_deep},
      {"SELECT 1 WHERE 1 = 1" + repeat(" OR 1 = 1", 10000), too_deep},
      {"SELECT " + repeat("(", 50) + "1" + repeat(")", 50), ""},
      {"SELECT 1" + repeat(" + 1", 50), ""},
      {"SELECT 1 WHERE 1 = 1" + repeat(" AND NOT 1 = 2", 40), ""},
      {"SELECT CAST('a' AS char(2147483647))",
       "The size (2147483647) given to the type 'char' exceeds the maximum allowed for any data "
       "type (8000)."},
      {"SELECT CAST('a' AS varchar(99999999999))",
       "The size (99999999999) given to the type 'varchar' exceeds the maximum allowed for any "
       "data type (8000)."},
      {"DECLARE @x nvarchar(4001)",
       "The size (4001) given to the parameter 'nvarchar' exceeds the maximum allowed (4000)."},
      {"SELECT CAST('a' AS char(8000))", ""},
      {"SELECT CAST('a' AS varchar(max))", ""},
  };
  for (const auto& c : cases) {
    const std::string shown = c.sql.substr(0, 60);
    if (c.error.empty()) {
      EXPECT_NO_THROW(Q(c.sql)) << shown;
    } else {
      EXPECT_EQ(ErrorOf(c.sql), c.error) << shown;
    }
  }
}

TEST_F(EmbeddedTest, RunInTransactionKeepsAllOrNothing) {
  Q("CREATE TABLE MahWork (PerNo char(10) NOT NULL, Mah int NOT NULL)");
  RunInTransaction(*conn_, [&] {
    Q("INSERT INTO MahWork VALUES ('1001', 1)");
    Q("INSERT INTO MahWork VALUES ('1001', 2)");
  });
  EXPECT_EQ(One("SELECT COUNT(*) FROM MahWork"), Value(2));

  // A failure midway undoes the rows written before it and reaches the caller.
  EXPECT_THROW(RunInTransaction(*conn_,
                                [&] {
                                  Q("INSERT INTO MahWork VALUES ('1002', 1)");
                                  Q("INSERT INTO NoSuchTable VALUES (1)");
                                }),
               DbError);
  EXPECT_EQ(One("SELECT COUNT(*) FROM MahWork"), Value(2));

  // The connection is usable afterwards: no transaction was left open.
  RunInTransaction(*conn_, [&] { Q("INSERT INTO MahWork VALUES ('1003', 1)"); });
  EXPECT_EQ(One("SELECT COUNT(*) FROM MahWork"), Value(3));
}

// @@TRANCOUNT tells whether the connection's transaction is open, as SQL Server's does:
// callers check it after a failure to learn whether the server rolled the work back.
TEST_F(EmbeddedTest, TranCountTellsWhetherATransactionIsOpen) {
  EXPECT_EQ(One("SELECT @@TRANCOUNT"), Value(0));
  conn_->BeginTransaction();
  EXPECT_EQ(One("SELECT @@TRANCOUNT"), Value(1));
  conn_->CommitTransaction();
  EXPECT_EQ(One("SELECT @@TRANCOUNT"), Value(0));
  conn_->BeginTransaction();
  conn_->RollbackTransaction();
  EXPECT_EQ(One("SELECT @@TRANCOUNT"), Value(0));
}

// The rollback hook undoes what the work changed outside the transaction (here a USE):
// it runs only after a rollback, once the transaction is gone, and its own failure does not
// hide the work's. EnsureTransactionOpen passes inside the transaction and raises after it.
TEST_F(EmbeddedTest, RunInTransactionHookRunsAfterARollbackOnly) {
  Q("CREATE DATABASE Other");
  Q("CREATE TABLE MahWork (PerNo char(10) NOT NULL)");
  const std::string home = One("SELECT DB_NAME()").AsString();
  int hooked = 0;
  const auto switch_back = [&] {
    ++hooked;
    EXPECT_EQ(One("SELECT @@TRANCOUNT"), Value(0));
    Q("USE [" + home + "]");
  };
  RunInTransaction(
      *conn_,
      [&] {
        Q("INSERT INTO MahWork VALUES ('1001')");
        EnsureTransactionOpen(*conn_, "gone");
      },
      switch_back);
  EXPECT_EQ(hooked, 0);

  try {
    RunInTransaction(
        *conn_,
        [&] {
          Q("USE Other");
          Q("INSERT INTO NoSuchTable VALUES (1)");
        },
        switch_back);
    ADD_FAILURE() << "the work's failure did not reach the caller";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("NoSuchTable"), std::string::npos) << e.what();
  }
  EXPECT_EQ(hooked, 1);
  EXPECT_EQ(One("SELECT DB_NAME()").AsString(), home);

  try {
    RunInTransaction(
        *conn_, [&] { Q("INSERT INTO NoSuchTable VALUES (1)"); },
        [&] { throw DbError("the hook failed"); });
    ADD_FAILURE() << "the work's failure did not reach the caller";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("NoSuchTable"), std::string::npos) << e.what();
  }
  EXPECT_EQ(One("SELECT COUNT(*) FROM MahWork"), Value(1));
  try {
    EnsureTransactionOpen(*conn_, "the transaction is gone");
    ADD_FAILURE() << "no transaction is open";
  } catch (const DbError& e) {
    EXPECT_STREQ(e.what(), "the transaction is gone");
  }
}

TEST_F(EmbeddedTest, IdentitySeedAndIncrementAreWholeNumbers) {
  const struct {
    std::string ddl;
    std::string error;  // empty: accepted
  } cases[] = {
      {"CREATE TABLE T1 (Id int IDENTITY(1, 1), A int)", ""},
      {"CREATE TABLE T2 (Id bigint IDENTITY(100, 1), A int)", ""},
      {"CREATE TABLE T3 (Id int IDENTITY(1.5, 1), A int)", "Incorrect syntax near '1.5'."},
      {"CREATE TABLE T4 (Id int IDENTITY(1, 99999999999999999999), A int)",
       "Incorrect syntax near '99999999999999999999'."},
  };
  for (const auto& c : cases) EXPECT_EQ(c.error.empty() ? "(no error)" : c.error, ErrorOf(c.ddl));
  Q("INSERT INTO T2 (A) VALUES (1)");
  Q("INSERT INTO T2 (A) VALUES (2)");
  EXPECT_EQ(One("SELECT MAX(Id) FROM T2"), Value(101));
}

}  // namespace
}  // namespace zel::db
