// Syntax tree of the Transact-SQL accepted by the embedded engine, as the parser builds it.
// Trees are immutable once parsed and may be shared read-only by the connection that
// cached them.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zel::db::embedded {

// A declared SQL type as written: name upper-cased, length -1 for MAX, 0 when absent.
struct TypeSpec {
  std::string name;
  int length = 0;
  int precision = 0;
  int scale = 0;
  bool has_args = false;
};

// A possibly qualified object name; parts as written, empty for an omitted part
// ("Att..DayWork" gives {"Att", "", "DayWork"}).
struct ObjectName {
  std::vector<std::string> parts;
  bool empty() const { return parts.empty(); }
  const std::string& last() const { return parts.back(); }
  std::string Text() const;
};

struct Select;
struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

enum class ExprKind {
  Null,
  Integer,  // text holds the digits
  Decimal,  // text holds the literal
  String,   // text holds the value
  Column,   // name = parts
  Variable, // text = @name
  Param,    // param_index
  Unary,    // op "-", "+", "~"; args[0]
  Binary,   // op + - * / % & | ^; args[0], args[1]
  Compare,  // op = <> < > <= >= (!= → <>, !< → >=, !> → <=)
  And,      // args (2)
  Or,       // args (2)
  Not,      // args[0]
  IsNull,   // args[0]; negated for IS NOT NULL
  Between,  // args[0] between args[1] and args[2]; negated
  InList,   // args[0] in (args[1..]); negated
  InSelect, // args[0] in (select); negated
  Exists,   // select
  Like,     // args[0] like args[1] [escape args[2]]; negated
  Case,     // args: [operand] when/then pairs [else]; has_operand, has_else
  Cast,     // args[0] as type (CONVERT too; style in args[1] when present)
  Function, // name = parts; args; distinct; star for COUNT(*)
  Subquery, // select (scalar)
  Star,     // bare * inside COUNT(*)
};

struct Expr {
  ExprKind kind = ExprKind::Null;
  std::string text;
  bool unicode = false;
  std::vector<std::string> name;
  std::string op;
  std::vector<ExprPtr> args;
  std::unique_ptr<Select> select;
  TypeSpec type;
  bool negated = false;
  bool distinct = false;
  bool has_operand = false;
  bool has_else = false;
  bool is_convert = false;
  int param_index = -1;
};

enum class RefKind { Table, Derived, Join, Unpivot };

struct TableRef {
  RefKind kind = RefKind::Table;
  ObjectName name;          // Table
  std::string alias;        // Table, Derived, Unpivot
  std::unique_ptr<Select> select;  // Derived
  std::string join_type;    // Join: INNER, LEFT, RIGHT, FULL, CROSS
  std::unique_ptr<TableRef> left, right;  // Join; Unpivot uses left as its source
  ExprPtr on;
  std::string value_column, for_column;  // Unpivot
  std::vector<std::string> in_columns;
  std::vector<std::string> column_aliases;  // Derived: alias(c1, c2, …)
};

struct SelectItem {
  ExprPtr expr;              // null for a star
  std::string alias;
  bool has_alias = false;
  bool star = false;
  std::vector<std::string> star_qualifier;  // t.* → {"t"}
  std::string assign_variable;              // SELECT @v = expr
};

struct OrderItem {
  ExprPtr expr;
  bool descending = false;
};

struct SelectCore {
  bool distinct = false;
  ExprPtr top;
  bool top_percent = false;
  std::vector<SelectItem> items;
  ObjectName into;
  std::vector<std::unique_ptr<TableRef>> from;
  ExprPtr where;
  std::vector<ExprPtr> group_by;
  ExprPtr having;
};

struct Select {
  std::vector<SelectCore> cores;
  std::vector<std::string> set_ops;  // between cores: UNION, UNION ALL, EXCEPT, INTERSECT
  std::vector<OrderItem> order_by;
};

struct ColumnDefinition {
  std::string name;
  TypeSpec type;
  bool nullable = true;
  bool explicit_null = false;
  bool identity = false;
  long long seed = 1, increment = 1;
  ExprPtr default_value;
  std::string default_name;
  bool primary_key = false;
  bool unique = false;
  std::string constraint_name;
};

struct TableConstraint {
  std::string name;
  std::string kind;  // PRIMARY KEY, UNIQUE
  std::vector<std::string> columns;
};

enum class StmtKind {
  Select,
  Insert,
  Update,
  Delete,
  CreateTable,
  AlterTable,
  DropTable,
  Truncate,
  CreateView,
  DropView,
  CreateFunction,
  DropFunction,
  CreateIndex,
  DropIndex,
  CreateDatabase,
  DropDatabase,
  Use,
  Declare,
  SetVariable,
  SetOption,
  If,
  While,
  Break,
  Continue,
  Block,
  Exec,
  Return,
  Print,
};

struct SetAssignment {
  std::vector<std::string> column;  // possibly qualified
  std::string variable;             // SET @v = ... inside UPDATE
  ExprPtr value;
};

struct Declaration {
  std::string name;
  TypeSpec type;
  ExprPtr init;
  std::vector<ColumnDefinition> table_columns;  // DECLARE @t TABLE (...) is refused
};

struct Stmt;
using StmtPtr = std::unique_ptr<Stmt>;

struct Stmt {
  StmtKind kind = StmtKind::Select;
  std::string text;  // the statement's source text (views, functions, messages)
  // Select / Insert source / view body
  std::unique_ptr<Select> select;
  // Insert / Update / Delete / DDL target
  ObjectName target;
  std::string target_alias;
  std::vector<std::string> columns;         // INSERT column list; index columns
  std::vector<std::vector<ExprPtr>> values; // INSERT VALUES rows
  bool default_values = false;
  std::vector<SetAssignment> sets;          // UPDATE
  std::vector<std::unique_ptr<TableRef>> from;  // UPDATE / DELETE FROM ... FROM
  ExprPtr where;
  ExprPtr top;
  // CREATE TABLE / ALTER TABLE ADD
  std::vector<ColumnDefinition> column_defs;
  std::vector<TableConstraint> constraints;
  // ALTER TABLE
  std::string alter_action;                 // ADD, DROP COLUMN, DROP CONSTRAINT, ALTER COLUMN
  std::vector<std::string> drop_names;
  // DROP TABLE/VIEW/FUNCTION/INDEX
  std::vector<ObjectName> names;
  bool if_exists = false;
  bool unique = false;                      // CREATE UNIQUE INDEX
  std::string name;                         // USE / CREATE DATABASE / index name / option
  bool option_on = false;
  // CREATE FUNCTION
  std::vector<Declaration> params;
  TypeSpec returns;
  std::vector<StmtPtr> body;                // function body / block / if branches
  // DECLARE
  std::vector<Declaration> declarations;
  // SET @v = expr
  std::string variable;
  ExprPtr value;
  // IF / WHILE
  ExprPtr condition;
  StmtPtr then_branch, else_branch;
};

// One parsed batch: its statements in order and the number of `?` markers.
struct Batch {
  std::vector<StmtPtr> statements;
  int param_count = 0;
};

}  // namespace zel::db::embedded
