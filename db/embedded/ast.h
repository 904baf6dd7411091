// Syntax tree of the Transact-SQL accepted by the embedded engine, as the parser builds it:
// expressions and queries as plain structs, one node type per statement kind (SelectStmt,
// InsertStmt, …, reached from a Stmt by `As<T>()`), operators and actions as enums.
// Trees are immutable once parsed and may be shared read-only by the connection that
// cached them.
#pragma once

#include <memory>
#include <stdexcept>
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

// The operators of Unary, Binary and Compare expressions (the parser reads `!=` as
// NotEqual, `!<` as GreaterEqual and `!>` as LessEqual; a unary `+` leaves no node).
enum class Operator {
  None,
  Negate,  // unary -
  BitNot,  // unary ~
  Add,
  Subtract,
  Multiply,
  Divide,
  Modulo,
  BitAnd,
  BitOr,
  BitXor,
  Equal,
  NotEqual,
  Less,
  Greater,
  LessEqual,
  GreaterEqual,
};

// The operator as T-SQL (and SQLite) writes it: "-", "~", "+", …, "=", "<>", "<=", ….
const char* OperatorText(Operator op);

enum class ExprKind {
  Null,
  Integer,   // text holds the digits
  Decimal,   // text holds the literal
  String,    // text holds the value
  Column,    // name = parts
  Variable,  // text = @name
  Param,     // param_index
  Unary,     // op Negate or BitNot; args[0]
  Binary,    // op Add … BitXor; args[0], args[1]
  Compare,   // op Equal … GreaterEqual; args[0], args[1]
  And,       // args (2)
  Or,        // args (2)
  Not,       // args[0]
  IsNull,    // args[0]; negated for IS NOT NULL
  Between,   // args[0] between args[1] and args[2]; negated
  InList,    // args[0] in (args[1..]); negated
  InSelect,  // args[0] in (select); negated
  Exists,    // select
  Like,      // args[0] like args[1] [escape args[2]]; negated
  Case,      // args: [operand] when/then pairs [else]; has_operand, has_else
  Cast,      // args[0] as type (CONVERT too; style in args[1] when present)
  Function,  // name = parts; args; distinct; star for COUNT(*)
  Subquery,  // select (scalar)
  Star,      // bare * inside COUNT(*)
};

struct Expr {
  ExprKind kind = ExprKind::Null;
  std::string text;
  bool unicode = false;
  std::vector<std::string> name;
  Operator op = Operator::None;
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

enum class JoinType { Inner, Left, Right, Full, Cross };

// The join as SQLite writes it: "INNER", "LEFT", "RIGHT", "FULL", "CROSS".
const char* JoinTypeText(JoinType type);

struct TableRef {
  RefKind kind = RefKind::Table;
  ObjectName name;                        // Table
  std::string alias;                      // Table, Derived, Unpivot
  std::unique_ptr<Select> select;         // Derived
  JoinType join_type = JoinType::Inner;   // Join
  std::unique_ptr<TableRef> left, right;  // Join; Unpivot uses left as its source
  ExprPtr on;
  std::string value_column, for_column;  // Unpivot
  std::vector<std::string> in_columns;
  std::vector<std::string> column_aliases;  // Derived: alias(c1, c2, …)
};

struct SelectItem {
  ExprPtr expr;  // null for a star
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

enum class SetOp { Union, UnionAll, Except, Intersect };

// The operator as written: "UNION", "UNION ALL", "EXCEPT", "INTERSECT".
const char* SetOpText(SetOp op);

struct Select {
  std::vector<SelectCore> cores;
  std::vector<SetOp> set_ops;  // between cores
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

enum class ConstraintKind { PrimaryKey, Unique };

struct TableConstraint {
  std::string name;
  ConstraintKind kind = ConstraintKind::PrimaryKey;
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

// A statement: its kind and source text; the node of each kind (below) carries the rest.
// `As<T>()` gives the node of a statement known to be of T's kind.
struct Stmt {
  virtual ~Stmt() = default;
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  const StmtKind kind;
  std::string text;  // the statement's source text (views, functions, messages)

  template <class T>
  const T& As() const {
    if (!T::Accepts(kind)) throw std::logic_error("statement node of another kind");
    return static_cast<const T&>(*this);
  }

 protected:
  explicit Stmt(StmtKind k) : kind(k) {}
};

// The node of one statement kind.
template <StmtKind K>
struct StmtOf : Stmt {
  static constexpr StmtKind kKind = K;
  static bool Accepts(StmtKind k) { return k == K; }
  StmtOf() : Stmt(K) {}
};

struct SelectStmt : StmtOf<StmtKind::Select> {
  std::unique_ptr<Select> select;  // may carry INTO or variable assignments
};

struct InsertStmt : StmtOf<StmtKind::Insert> {
  ObjectName target;
  std::vector<std::string> columns;          // the column list; empty when absent
  std::vector<std::vector<ExprPtr>> values;  // VALUES rows
  bool default_values = false;
  std::unique_ptr<Select> select;  // INSERT … SELECT
};

struct UpdateStmt : StmtOf<StmtKind::Update> {
  ObjectName target;
  std::vector<SetAssignment> sets;
  std::vector<std::unique_ptr<TableRef>> from;  // UPDATE … FROM
  ExprPtr where;
};

struct DeleteStmt : StmtOf<StmtKind::Delete> {
  ObjectName target;
  std::vector<std::unique_ptr<TableRef>> from;  // DELETE … FROM … FROM
  ExprPtr where;
};

struct CreateTableStmt : StmtOf<StmtKind::CreateTable> {
  ObjectName target;
  std::vector<ColumnDefinition> column_defs;
  std::vector<TableConstraint> constraints;
};

enum class AlterAction { Add, DropColumn, DropConstraint, AlterColumn };

struct AlterTableStmt : StmtOf<StmtKind::AlterTable> {
  ObjectName target;
  AlterAction action = AlterAction::Add;
  std::vector<ColumnDefinition> column_defs;  // Add; AlterColumn (one)
  std::vector<TableConstraint> constraints;   // Add
  std::vector<std::string> drop_names;        // DropColumn, DropConstraint
};

// DROP TABLE / VIEW / FUNCTION / INDEX / DATABASE: the kind names what is dropped.
struct DropStmt : Stmt {
  static bool Accepts(StmtKind k) {
    return k == StmtKind::DropTable || k == StmtKind::DropView || k == StmtKind::DropFunction ||
           k == StmtKind::DropIndex || k == StmtKind::DropDatabase;
  }
  explicit DropStmt(StmtKind k) : Stmt(k) {}
  std::vector<ObjectName> names;  // an index as table.index
  bool if_exists = false;
};

struct TruncateStmt : StmtOf<StmtKind::Truncate> {
  ObjectName target;
};

struct CreateViewStmt : StmtOf<StmtKind::CreateView> {
  ObjectName target;
  std::unique_ptr<Select> select;
};

struct CreateFunctionStmt : StmtOf<StmtKind::CreateFunction> {
  ObjectName target;
  std::vector<Declaration> params;
  TypeSpec returns;
  std::vector<StmtPtr> body;
};

struct CreateIndexStmt : StmtOf<StmtKind::CreateIndex> {
  std::string name;
  ObjectName target;
  std::vector<std::string> columns;
  bool unique = false;
};

struct CreateDatabaseStmt : StmtOf<StmtKind::CreateDatabase> {
  std::string name;
};

struct UseStmt : StmtOf<StmtKind::Use> {
  std::string database;
};

struct DeclareStmt : StmtOf<StmtKind::Declare> {
  std::vector<Declaration> declarations;
};

struct SetVariableStmt : StmtOf<StmtKind::SetVariable> {
  std::string variable;  // as written, with its @
  ExprPtr value;
};

struct SetOptionStmt : StmtOf<StmtKind::SetOption> {
  std::string option;  // upper case
  bool on = false;
};

struct IfStmt : StmtOf<StmtKind::If> {
  ExprPtr condition;
  StmtPtr then_branch, else_branch;  // else_branch may be null
};

struct WhileStmt : StmtOf<StmtKind::While> {
  ExprPtr condition;
  StmtPtr body;
};

struct BreakStmt : StmtOf<StmtKind::Break> {};
struct ContinueStmt : StmtOf<StmtKind::Continue> {};

struct BlockStmt : StmtOf<StmtKind::Block> {
  std::vector<StmtPtr> body;
};

struct ExecStmt : StmtOf<StmtKind::Exec> {
  ExprPtr batch;  // EXEC (expression): the text of the batch to run
};

struct ReturnStmt : StmtOf<StmtKind::Return> {
  ExprPtr value;  // may be null
};

struct PrintStmt : StmtOf<StmtKind::Print> {
  ExprPtr value;
};

// One parsed batch: its statements in order and the number of `?` markers.
struct Batch {
  std::vector<StmtPtr> statements;
  int param_count = 0;
};

}  // namespace zel::db::embedded
