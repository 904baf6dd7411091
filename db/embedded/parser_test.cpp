// The parser's tree: each statement kind gives its own node with the parts written, and
// operators, joins, set operations and ALTER TABLE actions come out as their enums.
#include <gtest/gtest.h>

#include "db/client.h"
#include "db/embedded/parser.h"

namespace zel::db::embedded {
namespace {

const Stmt& Only(const Batch& b) {
  EXPECT_EQ(b.statements.size(), 1u);
  return *b.statements.at(0);
}

const Expr& WhereOf(const std::string& sql) {
  static std::vector<std::unique_ptr<Batch>> keep;
  keep.push_back(ParseBatch(sql));
  return *Only(*keep.back()).As<SelectStmt>().select->cores.at(0).where;
}

TEST(ParserTest, StatementKinds) {
  struct Case {
    const char* sql;
    StmtKind kind;
  };
  const Case cases[] = {
      {"SELECT 1", StmtKind::Select},
      {"(SELECT 1)", StmtKind::Select},
      {"INSERT INTO t (a) VALUES (1)", StmtKind::Insert},
      {"UPDATE t SET a = 1", StmtKind::Update},
      {"DELETE FROM t WHERE a = 1", StmtKind::Delete},
      {"CREATE TABLE t (a int)", StmtKind::CreateTable},
      {"ALTER TABLE t ADD b int", StmtKind::AlterTable},
      {"DROP TABLE t", StmtKind::DropTable},
      {"DROP VIEW v", StmtKind::DropView},
      {"DROP FUNCTION f", StmtKind::DropFunction},
      {"DROP INDEX t.ix", StmtKind::DropIndex},
      {"DROP DATABASE d", StmtKind::DropDatabase},
      {"TRUNCATE TABLE t", StmtKind::Truncate},
      {"CREATE VIEW v AS SELECT 1 AS x", StmtKind::CreateView},
      {"CREATE FUNCTION f (@a int) RETURNS int AS BEGIN RETURN @a END", StmtKind::CreateFunction},
      {"CREATE UNIQUE INDEX ix ON t (a)", StmtKind::CreateIndex},
      {"CREATE DATABASE d", StmtKind::CreateDatabase},
      {"USE d", StmtKind::Use},
      {"DECLARE @a int", StmtKind::Declare},
      {"SET @a = 1", StmtKind::SetVariable},
      {"SET NOCOUNT ON", StmtKind::SetOption},
      {"IF 1 = 1 PRINT 'x'", StmtKind::If},
      {"WHILE 1 = 0 BREAK", StmtKind::While},
      {"BEGIN PRINT 'x' END", StmtKind::Block},
      {"EXEC ('SELECT 1')", StmtKind::Exec},
      {"RETURN", StmtKind::Return},
      {"PRINT 'x'", StmtKind::Print},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    std::unique_ptr<Batch> b = ParseBatch(c.sql);
    EXPECT_EQ(Only(*b).kind, c.kind);
  }
}

TEST(ParserTest, NodesCarryTheirParts) {
  std::unique_ptr<Batch> b = ParseBatch(
      "INSERT INTO Att..T (a, x.b) VALUES (1, 2), (3, 4);"
      "CREATE UNIQUE INDEX ix ON t (a, b);"
      "DROP TABLE IF EXISTS t1, #t2;"
      "DROP INDEX ix ON dbo.t;"
      "SET ANSI_NULLS OFF;"
      "IF @a = 1 PRINT 'y' ELSE PRINT 'n';"
      "USE Att_1399");
  ASSERT_EQ(b->statements.size(), 7u);
  const auto& insert = b->statements[0]->As<InsertStmt>();
  EXPECT_EQ(insert.target.parts, (std::vector<std::string>{"Att", "", "T"}));
  EXPECT_EQ(insert.columns, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(insert.values.size(), 2u);
  const auto& index = b->statements[1]->As<CreateIndexStmt>();
  EXPECT_TRUE(index.unique);
  EXPECT_EQ(index.name, "ix");
  EXPECT_EQ(index.columns, (std::vector<std::string>{"a", "b"}));
  const auto& drop = b->statements[2]->As<DropStmt>();
  EXPECT_TRUE(drop.if_exists);
  ASSERT_EQ(drop.names.size(), 2u);
  EXPECT_EQ(drop.names[1].last(), "#t2");
  const auto& drop_index = b->statements[3]->As<DropStmt>();
  EXPECT_EQ(drop_index.names.at(0).parts, (std::vector<std::string>{"dbo", "t", "ix"}));
  const auto& option = b->statements[4]->As<SetOptionStmt>();
  EXPECT_EQ(option.option, "ANSI_NULLS");
  EXPECT_FALSE(option.on);
  const auto& branch = b->statements[5]->As<IfStmt>();
  EXPECT_EQ(branch.then_branch->kind, StmtKind::Print);
  ASSERT_NE(branch.else_branch, nullptr);
  EXPECT_EQ(b->statements[6]->As<UseStmt>().database, "Att_1399");
}

TEST(ParserTest, AsRefusesANodeOfAnotherKind) {
  std::unique_ptr<Batch> b = ParseBatch("DROP VIEW v");
  EXPECT_NO_THROW(Only(*b).As<DropStmt>());
  EXPECT_THROW(Only(*b).As<SelectStmt>(), std::logic_error);
}

TEST(ParserTest, Operators) {
  struct Case {
    const char* where;
    ExprKind kind;
    Operator op;
  };
  const Case cases[] = {
      {"a = 1", ExprKind::Compare, Operator::Equal},
      {"a <> 1", ExprKind::Compare, Operator::NotEqual},
      {"a != 1", ExprKind::Compare, Operator::NotEqual},
      {"a < 1", ExprKind::Compare, Operator::Less},
      {"a > 1", ExprKind::Compare, Operator::Greater},
      {"a <= 1", ExprKind::Compare, Operator::LessEqual},
      {"a !> 1", ExprKind::Compare, Operator::LessEqual},
      {"a >= 1", ExprKind::Compare, Operator::GreaterEqual},
      {"a !< 1", ExprKind::Compare, Operator::GreaterEqual},
      {"a + 1", ExprKind::Binary, Operator::Add},
      {"a - 1", ExprKind::Binary, Operator::Subtract},
      {"a * 1", ExprKind::Binary, Operator::Multiply},
      {"a / 1", ExprKind::Binary, Operator::Divide},
      {"a % 1", ExprKind::Binary, Operator::Modulo},
      {"a & 1", ExprKind::Binary, Operator::BitAnd},
      {"a | 1", ExprKind::Binary, Operator::BitOr},
      {"a ^ 1", ExprKind::Binary, Operator::BitXor},
      {"-a", ExprKind::Unary, Operator::Negate},
      {"~a", ExprKind::Unary, Operator::BitNot},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    const Expr& e = WhereOf(std::string("SELECT 1 FROM t WHERE ") + c.where);
    EXPECT_EQ(e.kind, c.kind);
    EXPECT_EQ(e.op, c.op);
  }
  // A minus sign folds into a number; a unary plus leaves no node.
  EXPECT_EQ(WhereOf("SELECT 1 FROM t WHERE -5").kind, ExprKind::Integer);
  EXPECT_EQ(WhereOf("SELECT 1 FROM t WHERE +a").kind, ExprKind::Column);
}

TEST(ParserTest, JoinsAndSetOperations) {
  struct JoinCase {
    const char* from;
    JoinType type;
  };
  const JoinCase joins[] = {
      {"a JOIN b ON 1 = 1", JoinType::Inner},
      {"a INNER JOIN b ON 1 = 1", JoinType::Inner},
      {"a LEFT JOIN b ON 1 = 1", JoinType::Left},
      {"a LEFT OUTER JOIN b ON 1 = 1", JoinType::Left},
      {"a RIGHT JOIN b ON 1 = 1", JoinType::Right},
      {"a FULL OUTER JOIN b ON 1 = 1", JoinType::Full},
      {"a CROSS JOIN b", JoinType::Cross},
  };
  for (const JoinCase& c : joins) {
    SCOPED_TRACE(c.from);
    std::unique_ptr<Batch> b = ParseBatch(std::string("SELECT 1 FROM ") + c.from);
    const TableRef& ref = *Only(*b).As<SelectStmt>().select->cores.at(0).from.at(0);
    EXPECT_EQ(ref.kind, RefKind::Join);
    EXPECT_EQ(ref.join_type, c.type);
  }
  std::unique_ptr<Batch> b =
      ParseBatch("SELECT 1 UNION SELECT 2 UNION ALL SELECT 3 EXCEPT SELECT 4 INTERSECT SELECT 5");
  EXPECT_EQ(Only(*b).As<SelectStmt>().select->set_ops,
            (std::vector<SetOp>{SetOp::Union, SetOp::UnionAll, SetOp::Except, SetOp::Intersect}));
}

TEST(ParserTest, AlterTableActions) {
  struct Case {
    const char* sql;
    AlterAction action;
    std::size_t columns, constraints, drops;
  };
  const Case cases[] = {
      {"ALTER TABLE t ADD b int, c char(2), CONSTRAINT pk PRIMARY KEY (b)", AlterAction::Add, 2, 1,
       0},
      {"ALTER TABLE t DROP COLUMN b, c", AlterAction::DropColumn, 0, 0, 2},
      {"ALTER TABLE t DROP b", AlterAction::DropColumn, 0, 0, 1},
      {"ALTER TABLE t DROP CONSTRAINT pk", AlterAction::DropConstraint, 0, 0, 1},
      {"ALTER TABLE t ALTER COLUMN b bigint NULL", AlterAction::AlterColumn, 1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    std::unique_ptr<Batch> b = ParseBatch(c.sql);
    const auto& alter = Only(*b).As<AlterTableStmt>();
    EXPECT_EQ(alter.action, c.action);
    EXPECT_EQ(alter.column_defs.size(), c.columns);
    EXPECT_EQ(alter.constraints.size(), c.constraints);
    EXPECT_EQ(alter.drop_names.size(), c.drops);
  }
  std::unique_ptr<Batch> b =
      ParseBatch("CREATE TABLE t (a int, CONSTRAINT u UNIQUE (a), PRIMARY KEY (a))");
  const auto& create = Only(*b).As<CreateTableStmt>();
  ASSERT_EQ(create.constraints.size(), 2u);
  EXPECT_EQ(create.constraints[0].kind, ConstraintKind::Unique);
  EXPECT_EQ(create.constraints[0].name, "u");
  EXPECT_EQ(create.constraints[1].kind, ConstraintKind::PrimaryKey);
}

}  // namespace
}  // namespace zel::db::embedded
