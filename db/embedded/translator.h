// The emitter of the embedded engine: turns parsed T-SQL queries and data statements into
// SQLite SQL with SQL Server's meaning (name resolution across databases, `+` by operand
// types, case-insensitive comparisons ignoring trailing blanks, char padding, conversions,
// UPDATE … FROM, UNPIVOT, views and inlined scalar functions, catalogue views).
// A Translator is a short-lived value used by one connection's thread.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "db/embedded/ast.h"
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
  std::vector<Binding> bindings;      // bindings[i] feeds ?(i+1)
  std::vector<std::string> columns;   // result column names (queries)
  std::vector<SqlType> types;         // result column types (queries)
  std::shared_ptr<const ObjectInfo> target;  // DML target table
  bool writes_main = false;           // the statement writes the shared file
};

using TempTables = std::map<std::string, std::shared_ptr<const ObjectInfo>>;  // key lower "#x"

// What a translation may see: the catalogue, the session's # tables, the current
// database and the declared variables of the running batch.
struct TranslateEnv {
  const Catalog* catalog = nullptr;
  const TempTables* temp_tables = nullptr;
  std::string current_db;
  const std::map<std::string, SqlType>* variables = nullptr;  // key lower "@x"
};

// How a resolved table name is stored.
struct ResolvedName {
  std::string database;  // resolved database ("tempdb" for # and ## names)
  std::string name;      // last part as written
  bool temp = false;     // # session table
  bool global_temp = false;  // ## table
  std::shared_ptr<const ObjectInfo> object;  // null when it does not exist
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
  Translation Insert(const Stmt& stmt);
  Translation Update(const Stmt& stmt);
  Translation Delete(const Stmt& stmt);
  // The SQLite default expression of a column definition (no bindings allowed).
  std::string DefaultExpression(const Expr& e, const SqlType& column_type);
  // Wraps a SQLite expression of type `from` so it stores into a column of type `to`.
  static std::string StoreConversion(const std::string& sql, const SqlType& from, const SqlType& to);
  // CAST semantics (silent truncation) of a SQLite expression to a type.
  static std::string CastConversion(const std::string& sql, const SqlType& from, const SqlType& to);

  // Resolves a table name in the current database (temp names, three-part names).
  ResolvedName Resolve(const ObjectName& name) const;

 private:
  struct SourceColumn {
    std::string name;
    SqlType type;
  };
  struct Source {
    std::string exposed;           // alias, or the table name when none
    bool has_alias = false;
    std::string db;                // database of a table source
    std::string sql_alias;
    std::vector<SourceColumn> columns;
    std::shared_ptr<const ObjectInfo> object;  // base table
  };
  struct Scope {
    std::vector<Source> sources;
    const Scope* parent = nullptr;
  };
  const Source* DmlTarget(const Stmt& stmt, const char* verb, Scope& scope, std::string& from,
                          std::shared_ptr<const ObjectInfo>& target, bool& temp);
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

  QueryOut EmitSelect(const Select& s, const Scope* parent, bool name_columns);
  QueryOut EmitCore(const SelectCore& core, const Scope* parent, const std::vector<OrderItem>* order,
                    bool name_columns, bool allow_into);
  std::string EmitRef(const TableRef& ref, Scope& scope);
  void AddTableSource(const TableRef& ref, Scope& scope, std::string* sql);
  Ex Emit(const Expr& e, const Scope& scope);
  Ex EmitColumn(const Expr& e, const Scope& scope);
  Ex EmitFunction(const Expr& e, const Scope& scope);
  Ex EmitUserFunction(const Expr& e, const Scope& scope, const std::string& db,
                      std::shared_ptr<const ObjectInfo> fn);
  Ex EmitCompare(const std::string& op, Ex l, Ex r);
  Ex EmitPlus(Ex l, Ex r);
  std::string Condition(const Expr& e, const Scope& scope);
  std::string Bind(Binding b);
  std::string UniqueAlias(const std::string& base);
  std::string SystemSource(const ObjectName& name, const std::string& db,
                           std::vector<SourceColumn>* columns) const;
  std::shared_ptr<const Select> ViewSelect(const ObjectInfo& view) const;
  void CheckExposedName(const Scope& scope, const std::string& name) const;
  std::string EmitStoreValues(const std::vector<const ColumnInfo*>& cols, std::vector<Ex> values);
  Translation Finish(std::string sql, StatementKind kind = StatementKind::Query);

  TranslateEnv env_;
  std::vector<Binding> bindings_;
  std::set<std::string> used_aliases_;
  int depth_ = 0;
  // Function inlining: parameter name (lower) → emitted argument.
  std::vector<std::map<std::string, Ex>> substitutions_;
};

// The SQLite table name a database's table is stored under.
std::string StorageName(const std::string& database, const std::string& table);

}  // namespace zel::db::embedded
