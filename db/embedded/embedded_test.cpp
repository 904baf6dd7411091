// Behaviour of the embedded engine against SQL Server's answers: storage and names across
// databases, data statements, batches, the translation traps, the catalogue and errors.
#include "db/embedded/embedded.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace zel::db {
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

TEST_F(EmbeddedTest, InsertSelectUpdateDeleteWithParameters) {
  Q("CREATE TABLE DayWork (PerNo char(10) NOT NULL, DDate char(5) NOT NULL, WorkTotal int NULL, "
    "CONSTRAINT PK_DayWork PRIMARY KEY (PerNo, DDate))");
  Q("INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES (?, ?, ?)",
    {Param{"PerNo", ParamType::String, 10, Value("      1001")}, Param{"DDate", ParamType::String, 5, Value("01/02")},
     Param{"WorkTotal", ParamType::Integer, 0, Value(480)}});
  Q("Insert Into DayWork Values ('      1001', '01/03', 400), ('      1002', '01/02', 10)");
  ResultSet r = Q("Select * from DayWork where PerNo = ? and DDate = ?",
                  {Param{"PerNo", ParamType::String, 10, Value("      1001")}, Param{"DDate", ParamType::String, 5, Value("01/02")}});
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.columns, (std::vector<std::string>{"PerNo", "DDate", "WorkTotal"}));
  EXPECT_EQ(r.rows[0][2], Value(480));
  Q("Update DayWork Set WorkTotal = WorkTotal + 1 Where LTrim(PerNo) = '1001'");
  EXPECT_EQ(One("select sum(WorkTotal) from DayWork where PerNo = '      1001'"), Value(882));
  Q("DELETE FROM DayWork where (Perno = '      1001') AND (DDate >= '01/03') AND (DDate <= '01/31')");
  EXPECT_EQ(One("SELECT COUNT(*) FROM DayWork"), Value(2));
  Q("Delete DayWork");
  EXPECT_EQ(One("SELECT COUNT(*) FROM DayWork"), Value(0));
}

TEST_F(EmbeddedTest, ThreePartNamesAcrossDatabases) {
  Q("CREATE TABLE MorType (Code int PRIMARY KEY, Education int)");
  Q("USE Att_1399");
  Q("CREATE TABLE DayMorDt (PerNo char(10), DDate char(5), MorkhasiCode int, Amount int)");
  Q("INSERT INTO Att..MorType VALUES (1, 1), (2, 0)");
  Q("INSERT INTO [Att_1399]..DayMorDt VALUES ('      1001', '01/05', 1, 60), ('      1001', '01/06', 2, 30)");
  Q("USE Att");
  Value v = One(" Select Sum(Amount) As SumAmount  From Att_1399..DayMorDt  Inner Join Att..MorType On "
                "(MorkhasiCode = Code)  Where PerNo = '      1001'  And DDate >= '01/01'  And Education = 1 ");
  EXPECT_EQ(v, Value(60));
  EXPECT_EQ(One("SELECT COUNT(*) FROM Att.dbo.MorType"), Value(2));
  EXPECT_EQ(ErrorOf("SELECT * FROM DayMorDt"), "Invalid object name 'DayMorDt'.");
  EXPECT_EQ(ErrorOf("SELECT * FROM Att_1400..DayMorDt"), "Invalid object name 'Att_1400..DayMorDt'.");
  EXPECT_EQ(ErrorOf("SELECT Nope FROM MorType"), "Invalid column name 'Nope'.");
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

}  // namespace
}  // namespace zel::db
