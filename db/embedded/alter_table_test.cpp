// ALTER TABLE plans on a table Person (PerNo char(10) NOT NULL primary key PK_Person,
// Name varchar(30) with unique index IX_Name, Salary int): the columns after the change,
// where their values come from, whether the columns can be added in place, and SQL
// Server's refusals.
#include <gtest/gtest.h>

#include "db/client.h"
#include "db/embedded/alter_table.h"
#include "db/embedded/parser.h"

namespace zel::db::embedded {
namespace {

ObjectInfo Person() {
  ObjectInfo o;
  o.database = "Att";
  o.name = "Person";
  o.type = "U";
  o.storage = "Att.Person";
  auto column = [&](const char* name, SqlType type, bool nullable) {
    ColumnInfo c;
    c.name = name;
    c.type = type;
    c.nullable = nullable;
    c.column_id = static_cast<int>(o.columns.size()) + 1;
    o.columns.push_back(c);
  };
  column("PerNo", SqlType::Char(10), false);
  column("Name", SqlType::VarChar(30), true);
  column("Salary", SqlType::Int(), true);
  o.keys.push_back(KeyInfo{7, "PK_Person", true, {"PerNo"}});
  o.indexes.push_back(IndexInfo{8, "IX_Name", true, {"Name"}});
  return o;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& s : items) out += (out.empty() ? "" : "|") + s;
  return out;
}

TEST(PlanAlterTableTest, Plans) {
  struct Case {
    const char* alter;
    long long rows;
    const char* columns;  // names after the change
    const char* sources;  // their values from the old rows
    bool in_place;
  };
  const Case cases[] = {
      {"ADD Note varchar(10)", 5, "PerNo|Name|Salary|Note", "\"PerNo\"|\"Name\"|\"Salary\"|NULL",
       true},
      {"ADD Kind int NOT NULL DEFAULT 0", 5, "PerNo|Name|Salary|Kind",
       "\"PerNo\"|\"Name\"|\"Salary\"|0", false},
      {"ADD Code int NOT NULL", 0, "PerNo|Name|Salary|Code", "\"PerNo\"|\"Name\"|\"Salary\"|NULL",
       false},
      {"ADD Id int IDENTITY(1,1)", 5, "PerNo|Name|Salary|Id", "\"PerNo\"|\"Name\"|\"Salary\"|",
       false},
      {"ADD CONSTRAINT UQ_Salary UNIQUE (Salary)", 5, "PerNo|Name|Salary",
       "\"PerNo\"|\"Name\"|\"Salary\"", false},
      {"DROP COLUMN Salary", 5, "PerNo|Name", "\"PerNo\"|\"Name\"", false},
      {"DROP CONSTRAINT PK_Person", 5, "PerNo|Name|Salary", "\"PerNo\"|\"Name\"|\"Salary\"", false},
  };
  const ObjectInfo old = Person();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.alter);
    std::unique_ptr<Batch> b = ParseBatch(std::string("ALTER TABLE Person ") + c.alter);
    AlterPlan plan = PlanAlterTable(old, b->statements.at(0)->As<AlterTableStmt>(), TranslateEnv{},
                                    [&] { return c.rows; });
    std::vector<std::string> names;
    for (const ColumnInfo& col : plan.table.columns) names.push_back(col.name);
    EXPECT_EQ(Joined(names), c.columns);
    EXPECT_EQ(Joined(plan.sources), c.sources);
    EXPECT_EQ(plan.add_in_place, c.in_place);
  }
}

TEST(PlanAlterTableTest, AlterColumnConvertsTheOldValues) {
  std::unique_ptr<Batch> b = ParseBatch("ALTER TABLE Person ALTER COLUMN Salary bigint NOT NULL");
  AlterPlan plan = PlanAlterTable(Person(), b->statements.at(0)->As<AlterTableStmt>(),
                                  TranslateEnv{}, [] { return 0LL; });
  const ColumnInfo& salary = plan.table.columns.at(2);
  EXPECT_EQ(salary.type.name, "bigint");
  EXPECT_FALSE(salary.nullable);
  EXPECT_EQ(plan.sources.at(0), "\"PerNo\"");
  // An int widened to bigint stores as it is; a text narrowed is cut to its new length.
  EXPECT_EQ(plan.sources.at(2), "\"Salary\"");
  b = ParseBatch("ALTER TABLE Person ALTER COLUMN Name varchar(5)");
  plan = PlanAlterTable(Person(), b->statements.at(0)->As<AlterTableStmt>(), TranslateEnv{},
                        [] { return 0LL; });
  EXPECT_NE(plan.sources.at(1), "\"Name\"");
  EXPECT_NE(plan.sources.at(1).find("\"Name\""), std::string::npos);
}

TEST(PlanAlterTableTest, Refusals) {
  struct Case {
    const char* alter;
    const char* message;
  };
  const Case cases[] = {
      {"ADD Name int",
       "Column names in each table must be unique. Column name 'Name' in table 'dbo.Person' is "
       "specified more than once."},
      {"ADD A int IDENTITY, B int IDENTITY",
       "Multiple identity columns specified for table 'Person'. Only one identity column per "
       "table is allowed."},
      {"ADD CONSTRAINT PK2 PRIMARY KEY (Salary)",
       "Table 'Person' already has a primary key defined on it."},
      {"ADD CONSTRAINT UQ_X UNIQUE (Nope)",
       "Column name 'Nope' does not exist in the target table or view."},
      {"DROP COLUMN PerNo", "The object 'PK_Person' is dependent on column 'PerNo'."},
      {"DROP COLUMN Name", "The index 'IX_Name' is dependent on column 'Name'."},
      {"DROP COLUMN Nope",
       "ALTER TABLE DROP COLUMN failed because column 'Nope' does not exist in table 'Person'."},
      {"DROP CONSTRAINT Nope", "'Nope' is not a constraint."},
      {"ALTER COLUMN Nope int", "Invalid column name 'Nope'."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.alter);
    std::unique_ptr<Batch> b = ParseBatch(std::string("ALTER TABLE Person ") + c.alter);
    try {
      PlanAlterTable(Person(), b->statements.at(0)->As<AlterTableStmt>(), TranslateEnv{},
                     [] { return 5LL; });
      ADD_FAILURE() << "no error";
    } catch (const DbError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  // A NOT NULL column without default goes only into an empty table.
  std::unique_ptr<Batch> b = ParseBatch("ALTER TABLE Person ADD Code int NOT NULL");
  EXPECT_THROW(PlanAlterTable(Person(), b->statements.at(0)->As<AlterTableStmt>(), TranslateEnv{},
                              [] { return 1LL; }),
               DbError);
}

}  // namespace
}  // namespace zel::db::embedded
