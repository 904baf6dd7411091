// The translator of the embedded engine: turns parsed T-SQL queries and data statements
// into SQLite SQL with SQL Server's meaning (`+` by operand types, case-insensitive
// comparisons ignoring trailing blanks, char padding, conversions, UPDATE … FROM, UNPIVOT,
// views and inlined scalar functions). Names are bound by its Binder (binder.h); the work
// is split by what is emitted: queries and FROM (translator.cpp), expressions
// (expression_emitter.cpp), conversions and column defaults (conversions.cpp), INSERT,
// UPDATE and DELETE (dml_emitter.cpp); system views live in system_views.h and the DDL
// of stored tables in ddl_emitter.h.
// A Translator is a short-lived value used by one connection's thread.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "db/embedded/ast.h"
#include "db/embedded/binder.h"
#include "db/embedded/builtin_functions.h"
#include "db/embedded/catalog.h"

namespace zel::db::embedded {

// How deep views, inlined functions and nested EXECs may nest, and SQL Server's refusal.
inline constexpr int kMaxNestingLevel = 32;
inline constexpr const char* kNestingTooDeep =
    "Maximum stored procedure, function, trigger, or view nesting level exceeded (limit 32).";

// What an emitted statement does.
enum class StatementKind { Query, Insert, Update, Delete };

// An emitted statement.
struct Translation {
  StatementKind kind = StatementKind::Query;
  std::string sql;
  std::vector<Binding> bindings;             // bindings[i] feeds ?(i+1)
  std::vector<std::string> columns;          // result column names (queries)
  std::vector<SqlType> types;                // result column types (queries)
  std::shared_ptr<const ObjectInfo> target;  // DML target table
  bool writes_main = false;                  // the statement writes the shared file
};

class Translator {
 public:
  explicit Translator(TranslateEnv env);

  // A query (SELECT without INTO / variable assignment).
  Translation Query(const Select& select);
  // A query that may carry INTO (SELECT … INTO t): the query without its INTO.
  Translation QueryWithInto(const Select& select);
  // "SELECT <expression>" for SET/IF/EXEC/RETURN evaluation. `condition` evaluates a
  // predicate to 1/0; `cast_to` (when known) converts the value as assignment does.
  Translation Scalar(const Expr& e, bool condition, const SqlType* cast_to = nullptr);
  // SELECT @a = x, @b = y … : a query of the assigned expressions.
  Translation AssignmentQuery(const Select& select, std::vector<std::string>* variables);
  Translation Insert(const InsertStmt& stmt);
  Translation Update(const UpdateStmt& stmt);
  Translation Delete(const DeleteStmt& stmt);
  // The SQLite default expression of a column definition (no bindings allowed).
  std::string DefaultExpression(const Expr& e, const SqlType& column_type);
  // Wraps a SQLite expression of type `from` so it stores into a column of type `to`.
  static std::string StoreConversion(const std::string& sql, const SqlType& from,
                                     const SqlType& to);
  // CAST semantics (silent truncation) of a SQLite expression to a type.
  static std::string CastConversion(const std::string& sql, const SqlType& from, const SqlType& to);

  // Resolves a table name in the current database (temp names, three-part names).
  ResolvedName Resolve(const ObjectName& name) const;

 private:
  using Ex = Emitted;
  struct OutColumn {
    std::string name;
    SqlType type;
    std::vector<std::string> parts;
  };
  struct QueryOut {
    std::string sql;
    std::vector<OutColumn> columns;
  };

  // Queries and FROM.
  QueryOut EmitSelect(const Select& s, const Scope* parent, bool name_columns);
  static void MergeSetColumnTypes(std::vector<OutColumn>& columns,
                                  const std::vector<OutColumn>& next);
  static std::string SetOrderBy(const std::vector<OrderItem>& order,
                                const std::vector<OutColumn>& columns);
  static int OrderPosition(const Expr& e, std::size_t columns);
  static int SetColumnPosition(const Expr& e, const std::vector<OutColumn>& columns);
  QueryOut EmitCore(const SelectCore& core, const Scope* parent,
                    const std::vector<OrderItem>* order, bool name_columns, bool allow_into);
  void EmitStarItem(const SelectItem& item, const Scope& scope, std::vector<std::string>& items,
                    std::vector<OutColumn>& columns);
  void EmitSelectItem(const SelectItem& item, const Scope& scope, std::vector<std::string>& items,
                      std::vector<OutColumn>& columns);
  std::string GroupBy(const std::vector<ExprPtr>& group_by, const Scope& scope);
  std::string CoreOrderBy(const SelectCore& core, const std::vector<OrderItem>& order,
                          const std::vector<OutColumn>& columns, const Scope& scope);
  std::string Top(const SelectCore& core);
  std::string EmitFrom(const std::vector<std::unique_ptr<TableRef>>& from, Scope& scope);
  std::string EmitRef(const TableRef& ref, Scope& scope);
  std::string EmitDerived(const TableRef& ref, Scope& scope);
  std::string EmitJoin(const TableRef& ref, Scope& scope);
  std::string EmitUnpivot(const TableRef& ref, Scope& scope);
  std::string EmitView(const ObjectInfo& view, std::vector<SourceColumn>* columns);

  // INSERT sources.
  std::string InsertValues(const InsertStmt& stmt, const std::vector<const ColumnInfo*>& cols,
                           const std::string& head);
  std::string InsertSelect(const InsertStmt& stmt, const std::vector<const ColumnInfo*>& cols,
                           const std::string& head);

  // Expressions, one emitter per kind.
  Ex Emit(const Expr& e, const Scope& scope);
  std::string Condition(const Expr& e, const Scope& scope);
  Ex EmitInteger(const Expr& e);
  Ex EmitDecimal(const Expr& e);
  Ex EmitString(const Expr& e);
  Ex EmitParam(const Expr& e);
  Ex EmitVariable(const Expr& e);
  Ex EmitUnary(const Expr& e, const Scope& scope);
  Ex EmitBinary(const Expr& e, const Scope& scope);
  Ex EmitComparison(const Expr& e, const Scope& scope);
  Ex EmitLogical(const Expr& e, const Scope& scope);
  Ex EmitNot(const Expr& e, const Scope& scope);
  Ex EmitIsNull(const Expr& e, const Scope& scope);
  Ex EmitBetween(const Expr& e, const Scope& scope);
  Ex EmitInList(const Expr& e, const Scope& scope);
  Ex EmitInSelect(const Expr& e, const Scope& scope);
  Ex EmitExists(const Expr& e, const Scope& scope);
  Ex EmitLike(const Expr& e, const Scope& scope);
  Ex EmitCase(const Expr& e, const Scope& scope);
  Ex EmitCast(const Expr& e, const Scope& scope);
  Ex EmitSubquery(const Expr& e, const Scope& scope);
  Ex EmitFunction(const Expr& e, const Scope& scope);
  Ex EmitUserFunction(const Expr& e, const Scope& scope, const std::string& db,
                      std::shared_ptr<const ObjectInfo> fn);
  Ex EmitCompare(Operator op, Ex l, Ex r);
  Ex EmitPlus(Ex l, Ex r);

  // One nesting level deeper (a view, an inlined function with its arguments), bound in
  // database `db`, for the guard's lifetime; raises SQL Server's message past the limit.
  class NestingGuard {
   public:
    NestingGuard(Translator& t, const std::string& db, std::map<std::string, Ex>* arguments);
    ~NestingGuard();
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;

   private:
    Translator& t_;
    std::string saved_db_;
    bool arguments_ = false;
  };

  Translation Finish(std::string sql, StatementKind kind = StatementKind::Query);

  Binder binder_;
  int depth_ = 0;
  // Function inlining: parameter name (lower) → emitted argument.
  std::vector<std::map<std::string, Ex>> substitutions_;
};

// The part of a scalar function's body that is inlined where the function is called: the
// expression of a body that is one RETURN, or the one SET @r = … / SELECT @r = … (no ORDER
// BY) that gives the result variable a body returns. Nothing for a body of another shape.
struct InlineBody {
  const Expr* value = nullptr;        // the expression, or
  const SelectCore* query = nullptr;  // the query whose one item is the result
};
std::optional<InlineBody> InlinableBody(const CreateFunctionStmt& fn);

// The SQLite table name a database's table is stored under.
std::string StorageName(const std::string& database, const std::string& table);

}  // namespace zel::db::embedded
