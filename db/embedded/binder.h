// The binder of the embedded engine: what the names of a statement refer to. It resolves
// table names across databases and session tables, keeps the scopes of FROM sources a
// query sees (with their columns and types), binds column references, variables and
// parameters to SQLite expressions and `?NNN` markers, hands out unique aliases and finds
// the table an UPDATE or DELETE writes. It writes no SQL beyond those references; the
// emitters build statements from what it answers.
// A Binder belongs to one Translator and so to one connection's thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "db/embedded/ast.h"
#include "db/embedded/builtin_functions.h"
#include "db/embedded/catalog.h"

namespace zel::db::embedded {

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
  std::string database;                      // resolved database ("tempdb" for # and ## names)
  std::string name;                          // last part as written
  bool temp = false;                         // # session table
  bool global_temp = false;                  // ## table
  std::shared_ptr<const ObjectInfo> object;  // null when it does not exist
};

// One column a FROM source offers.
struct SourceColumn {
  std::string name;
  SqlType type;
};

// One FROM source: a table, a view, a derived table or a system view.
struct Source {
  std::string exposed;  // alias, or the table name when none
  bool has_alias = false;
  std::string db;  // database of a table source
  std::string sql_alias;
  std::vector<SourceColumn> columns;
  std::shared_ptr<const ObjectInfo> object;  // base table
};

// The sources of one query level; `parent` is the enclosing query's (correlated names).
struct Scope {
  std::vector<Source> sources;
  const Scope* parent = nullptr;
};

// The table an UPDATE or DELETE writes.
struct DmlTargetBinding {
  std::shared_ptr<const ObjectInfo> object;
  bool temp = false;               // a # session table
  const Source* source = nullptr;  // its source in the statement's FROM; null when none
};

class Binder {
 public:
  explicit Binder(TranslateEnv env);

  const TranslateEnv& env() const { return env_; }
  const std::string& current_db() const { return env_.current_db; }
  // Views and functions are bound in the database they live in; the caller restores it.
  void set_current_db(std::string db) { env_.current_db = std::move(db); }

  // Resolves a table name in the current database (temp names, three-part names).
  ResolvedName Resolve(const ObjectName& name) const;
  // The scalar function a qualified name calls, with its database; raises SQL Server's
  // message when there is none.
  std::shared_ptr<const ObjectInfo> ResolveFunction(const std::vector<std::string>& parts,
                                                    std::string* database) const;
  // Whether the name is one of the system views (sys.objects, INFORMATION_SCHEMA.…).
  bool IsSystemView(const ObjectName& name) const;

  // Adds a source for a FROM table name: a system view, a base table, or (through
  // `bind_view`, which binds a view's query and gives its SQL and columns) a view.
  // Returns the source's SQL for the FROM clause.
  using ViewBinder =
      std::function<std::string(const ObjectInfo& view, std::vector<SourceColumn>* columns)>;
  std::string AddTableSource(const TableRef& ref, Scope& scope, const ViewBinder& bind_view);
  // A source for a derived table, unpivot or DML target, given its columns.
  Source NewSource(const std::string& exposed, bool has_alias, const Scope& scope);
  // A source for a base table that is not named in FROM (an UPDATE or DELETE target).
  Source TableSource(const std::string& exposed, std::shared_ptr<const ObjectInfo> table);

  // Binds a column reference (one to four parts) to its source's column.
  Emitted BindColumn(const std::vector<std::string>& parts, const Scope& scope) const;
  // Binds @variable or @@system to a marker; raises for an undeclared one.
  Emitted BindVariable(const std::string& text);
  // The declared type of a batch variable (lower-case name); raises when undeclared.
  const SqlType& VariableType(const std::string& lower_name, const std::string& as_written) const;
  // The marker of a value fed at run time; equal bindings share one marker.
  std::string Bind(Binding b);
  const std::vector<Binding>& bindings() const { return bindings_; }

  // The table an UPDATE or DELETE writes: an alias of its FROM, else the named table (an
  // unaliased mention of it in FROM first, then any), added to FROM (`from`) when the
  // statement has a FROM without it. `verb` names the statement in errors.
  DmlTargetBinding BindDmlTarget(const ObjectName& target, bool has_from, const char* verb,
                                 Scope& scope, std::string& from);
  // The table an INSERT writes; raises for a system view, a missing table or a view.
  ResolvedName BindInsertTarget(const ObjectName& target) const;

  // A quoted SQLite alias not used before in this translation.
  std::string UniqueAlias(const std::string& base);
  // Raises SQL Server's message when the scope already exposes the name.
  void CheckExposedName(const Scope& scope, const std::string& name) const;

 private:
  TranslateEnv env_;
  std::vector<Binding> bindings_;
  std::set<std::string> used_aliases_;
};

}  // namespace zel::db::embedded
