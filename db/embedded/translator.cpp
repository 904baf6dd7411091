#include "db/embedded/translator.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "db/client.h"
#include "db/embedded/lexer.h"
#include "db/embedded/parser.h"

namespace zel::db::embedded {

std::string StorageName(const std::string& database, const std::string& table) {
  return database + "." + table;
}

namespace {

[[noreturn]] void Unsupported(const std::string& what) {
  throw DbError("Unsupported T-SQL construct: " + what);
}

std::string Lower(std::string_view s) { return LowerAscii(s); }

int Utf8Length(std::string_view s) {
  int n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string ToNumber(const std::string& sql, const SqlType& number) {
  switch (number.cls) {
    case TypeClass::Int:
      if (number.name == "bigint") return "tsql_int(" + sql + ", 'bigint')";
      return "tsql_int(" + sql + ")";
    case TypeClass::Bit:
      return "tsql_bit(" + sql + ")";
    default:
      return "tsql_float(" + sql + ")";
  }
}

// Whether `-` and `*` between operands of these types go to the runtime (tsql_sub/tsql_mul)
// rather than to SQLite's operators. The runtime types its operands by their values: an
// integer that fits int is an int, and the result must fit int too, which is SQL Server's
// rule for int, smallint, tinyint and bit operands (and the best reading of a parameter or
// other operand whose type is known only at run time). For bigint, numeric and float
// operands that value-based rule would be wrong (a bigint holding 100000 times itself is no
// overflow), while SQLite's operator gives SQL Server's result for every value those
// columns hold short of the bigint / float range, so they keep the native operator, which
// also spares the per-row function call.
bool RuntimeArithmetic(const SqlType& a, const SqlType& b) {
  auto int_like = [](const SqlType& t) {
    return t.cls == TypeClass::Bit || (t.cls == TypeClass::Int && t.name != "bigint") ||
           t.cls == TypeClass::Null || !t.IsKnown();
  };
  return int_like(a) && int_like(b);
}

bool IsIntegerText(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  std::size_t j = s.size();
  while (j > i && s[j - 1] == ' ') --j;
  if (i < j && (s[i] == '-' || s[i] == '+')) ++i;
  if (i >= j || j - i > 18) return false;
  for (std::size_t k = i; k < j; ++k)
    if (s[k] < '0' || s[k] > '9') return false;
  return true;
}

std::string TrimBlanks(const std::string& s) {
  std::size_t i = 0, j = s.size();
  while (i < j && s[i] == ' ') ++i;
  while (j > i && s[j - 1] == ' ') --j;
  return s.substr(i, j - i);
}

bool ReferencesVariable(const Expr& e, const std::set<std::string>& names) {
  if (e.kind == ExprKind::Variable && names.count(Lower(e.text))) return true;
  for (const ExprPtr& a : e.args)
    if (a && ReferencesVariable(*a, names)) return true;
  return false;
}

std::mutex g_parsed_mutex;
std::unordered_map<std::string, std::shared_ptr<const Batch>>& ParsedDefinitions() {
  static std::unordered_map<std::string, std::shared_ptr<const Batch>> cache;
  return cache;
}

std::shared_ptr<const Batch> ParseDefinition(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_parsed_mutex);
  auto& cache = ParsedDefinitions();
  auto it = cache.find(text);
  if (it != cache.end()) return it->second;
  std::shared_ptr<const Batch> batch = ParseBatch(text);
  cache.emplace(text, batch);
  return batch;
}

}  // namespace

Translator::Translator(TranslateEnv env) : env_(std::move(env)) {}

std::string Translator::Bind(Binding b) {
  for (std::size_t i = 0; i < bindings_.size(); ++i) {
    const Binding& x = bindings_[i];
    if (x.kind == b.kind && x.index == b.index && x.name == b.name) return "?" + std::to_string(i + 1);
  }
  bindings_.push_back(std::move(b));
  return "?" + std::to_string(bindings_.size());
}

std::string Translator::UniqueAlias(const std::string& base) {
  std::string candidate = base.empty() ? std::string("t") : base;
  int n = 1;
  while (used_aliases_.count(Lower(candidate))) candidate = base + "_" + std::to_string(++n);
  used_aliases_.insert(Lower(candidate));
  return QuoteIdent(candidate);
}

Translation Translator::Finish(std::string sql, StatementKind kind) {
  Translation t;
  t.kind = kind;
  t.sql = std::move(sql);
  t.bindings = bindings_;
  return t;
}

// ------------------------------------------------------------------------ names

ResolvedName Translator::Resolve(const ObjectName& name) const {
  const auto& p = name.parts;
  if (p.size() == 4) Unsupported("four-part name " + name.Text());
  ResolvedName r;
  r.name = p.back();
  r.database = env_.current_db;
  if (p.size() == 3 && !p[0].empty()) r.database = p[0];
  if (p.size() >= 2) {
    const std::string& schema = p[p.size() - 2];
    if (!schema.empty() && !EqualsNoCase(schema, "dbo")) return r;
  }
  if (r.name.size() >= 2 && r.name[0] == '#' && r.name[1] == '#') {
    r.global_temp = true;
    r.database = "tempdb";
    r.object = env_.catalog->Find("tempdb", r.name);
    return r;
  }
  if (!r.name.empty() && r.name[0] == '#') {
    r.temp = true;
    r.database = "tempdb";
    auto it = env_.temp_tables->find(Lower(r.name));
    if (it != env_.temp_tables->end()) r.object = it->second;
    return r;
  }
  if (const DatabaseInfo* db = env_.catalog->FindDatabase(r.database)) r.database = db->name;
  r.object = env_.catalog->Find(r.database, r.name);
  return r;
}

std::string Translator::SystemSource(const ObjectName& name, const std::string& current,
                                     std::vector<SourceColumn>* cols) const {
  const auto& p = name.parts;
  std::string table = Lower(p.back());
  std::string schema = p.size() >= 2 ? Lower(p[p.size() - 2]) : "";
  std::string db = current;
  if (p.size() == 3 && !p[0].empty()) db = p[0];
  if (const DatabaseInfo* d = env_.catalog->FindDatabase(db)) db = d->name;
  bool sys = schema == "sys";
  bool compat = schema.empty() || schema == "dbo" || sys;
  auto col = [&](const char* n, SqlType t) { cols->push_back(SourceColumn{n, t}); };
  SqlType sysname = SqlType::VarChar(128, "nvarchar");
  std::string dbq = QuoteText(db);
  if ((sys || compat) && (table == "sysprocesses" || table == "dm_exec_sessions" ||
                          table == "dm_exec_connections"))
    throw DbError(std::string(sys ? "sys." : "") + p.back() + " is not supported by the embedded engine.");
  if ((sys && table == "databases") || (compat && table == "sysdatabases")) {
    col("name", sysname);
    col("database_id", SqlType::Int());
    col("dbid", SqlType::Int());
    col("is_distributor", SqlType::Bit());
    col("state", SqlType::Int());
    col("state_desc", SqlType::VarChar(60, "nvarchar"));
    col("create_date", SqlType{TypeClass::DateTime, 0, 0, 0, "datetime"});
    return "SELECT 'master' AS name, 1 AS database_id, 1 AS dbid, 0 AS is_distributor, 0 AS state, "
           "'ONLINE' AS state_desc, NULL AS create_date UNION ALL SELECT 'tempdb', 2, 2, 0, 0, "
           "'ONLINE', NULL UNION ALL SELECT 'model', 3, 3, 0, 0, 'ONLINE', NULL UNION ALL SELECT "
           "'msdb', 4, 4, 0, 0, 'ONLINE', NULL UNION ALL SELECT name, database_id, database_id, 0, "
           "0, 'ONLINE', create_date FROM main.__zel_databases";
  }
  if ((sys && table == "columns") || (compat && table == "syscolumns")) {
    if (table == "columns") {
      col("object_id", SqlType::Int());
      col("name", sysname);
      col("column_id", SqlType::Int());
      col("max_length", SqlType::Int("smallint"));
      col("precision", SqlType::Int("tinyint"));
      col("scale", SqlType::Int("tinyint"));
      col("is_nullable", SqlType::Bit());
      col("is_identity", SqlType::Bit());
      return "SELECT object_id, name, column_id, max_length, precision, scale, is_nullable, "
             "is_identity FROM main.__zel_columns WHERE db = " + dbq + " COLLATE NOCASE";
    }
    col("id", SqlType::Int());
    col("name", sysname);
    col("colid", SqlType::Int("smallint"));
    col("length", SqlType::Int("smallint"));
    col("isnullable", SqlType::Int());
    return "SELECT object_id AS id, name, column_id AS colid, max_length AS length, is_nullable "
           "AS isnullable FROM main.__zel_columns WHERE db = " + dbq + " COLLATE NOCASE";
  }
  std::string filter;
  if (sys && (table == "objects" || table == "tables" || table == "views")) {
    filter = table == "tables" ? "type = 'U'" : table == "views" ? "type = 'V'" : "type IN ('U','V','FN','PK','UQ')";
    col("name", sysname);
    col("object_id", SqlType::Int());
    col("type", SqlType::Char(2));
    col("type_desc", SqlType::VarChar(60, "nvarchar"));
    col("parent_object_id", SqlType::Int());
    col("schema_id", SqlType::Int());
    col("create_date", SqlType{TypeClass::DateTime, 0, 0, 0, "datetime"});
    return "SELECT name, object_id, type, CASE type WHEN 'U' THEN 'USER_TABLE' WHEN 'V' THEN "
           "'VIEW' WHEN 'FN' THEN 'SQL_SCALAR_FUNCTION' WHEN 'PK' THEN 'PRIMARY_KEY_CONSTRAINT' "
           "ELSE 'UNIQUE_CONSTRAINT' END AS type_desc, parent_object_id, 1 AS schema_id, "
           "create_date FROM main.__zel_objects WHERE db = " + dbq + " COLLATE NOCASE AND " + filter;
  }
  if (compat && table == "sysobjects") {
    col("name", sysname);
    col("id", SqlType::Int());
    col("xtype", SqlType::Char(2));
    col("type", SqlType::Char(2));
    col("parent_obj", SqlType::Int());
    col("uid", SqlType::Int("smallint"));
    col("crdate", SqlType{TypeClass::DateTime, 0, 0, 0, "datetime"});
    return "SELECT name, object_id AS id, type AS xtype, type, parent_object_id AS parent_obj, 1 "
           "AS uid, create_date AS crdate FROM main.__zel_objects WHERE db = " + dbq +
           " COLLATE NOCASE AND type IN ('U','V','FN','PK','UQ')";
  }
  if (schema == "information_schema" && (table == "tables" || table == "columns")) {
    col("TABLE_CATALOG", sysname);
    col("TABLE_SCHEMA", sysname);
    col("TABLE_NAME", sysname);
    if (table == "tables") {
      col("TABLE_TYPE", SqlType::VarChar(10));
      return "SELECT db AS TABLE_CATALOG, 'dbo' AS TABLE_SCHEMA, name AS TABLE_NAME, CASE type "
             "WHEN 'U' THEN 'BASE TABLE' ELSE 'VIEW' END AS TABLE_TYPE FROM main.__zel_objects "
             "WHERE db = " + dbq + " COLLATE NOCASE AND type IN ('U','V')";
    }
    col("COLUMN_NAME", sysname);
    col("ORDINAL_POSITION", SqlType::Int());
    col("IS_NULLABLE", SqlType::VarChar(3));
    col("DATA_TYPE", sysname);
    return "SELECT o.db AS TABLE_CATALOG, 'dbo' AS TABLE_SCHEMA, o.name AS TABLE_NAME, c.name AS "
           "COLUMN_NAME, c.column_id AS ORDINAL_POSITION, CASE c.is_nullable WHEN 1 THEN 'YES' "
           "ELSE 'NO' END AS IS_NULLABLE, CASE WHEN instr(c.type_text, '(') > 0 THEN "
           "substr(c.type_text, 1, instr(c.type_text, '(') - 1) ELSE c.type_text END AS DATA_TYPE "
           "FROM main.__zel_columns c JOIN main.__zel_objects o ON o.object_id = c.object_id "
           "WHERE c.db = " + dbq + " COLLATE NOCASE";
  }
  return "";
}

std::shared_ptr<const Select> Translator::ViewSelect(const ObjectInfo& view) const {
  std::shared_ptr<const Batch> batch = ParseDefinition(view.definition);
  if (batch->statements.size() != 1 || batch->statements[0]->kind != StmtKind::CreateView)
    throw DbError("The definition of view '" + view.name + "' cannot be read.");
  return std::shared_ptr<const Select>(batch, batch->statements[0]->select.get());
}

void Translator::CheckExposedName(const Scope& scope, const std::string& name) const {
  for (const Source& s : scope.sources)
    if (EqualsNoCase(s.exposed, name))
      throw DbError("The objects \"" + s.exposed + "\" and \"" + name +
                    "\" in the FROM clause have the same exposed names. Use correlation names "
                    "to distinguish them.");
}

// ------------------------------------------------------------------------ FROM

void Translator::AddTableSource(const TableRef& ref, Scope& scope, std::string* sql) {
  Source src;
  src.exposed = ref.alias.empty() ? ref.name.last() : ref.alias;
  src.has_alias = !ref.alias.empty();
  CheckExposedName(scope, src.exposed);
  src.sql_alias = UniqueAlias(src.exposed);
  std::vector<SourceColumn> sys_cols;
  std::string sys_sql = SystemSource(ref.name, env_.current_db, &sys_cols);
  if (!sys_sql.empty()) {
    src.columns = std::move(sys_cols);
    *sql = "(" + sys_sql + ") AS " + src.sql_alias;
    scope.sources.push_back(std::move(src));
    return;
  }
  ResolvedName r = Resolve(ref.name);
  if (!r.object || r.object->type == "FN")
    throw DbError("Invalid object name '" + ref.name.Text() + "'.");
  src.db = r.database;
  if (r.object->type == "V") {
    if (++depth_ > kMaxNestingLevel) throw DbError(kNestingTooDeep);
    std::shared_ptr<const Select> body = ViewSelect(*r.object);
    std::string saved = env_.current_db;
    env_.current_db = r.object->database;
    QueryOut q;
    try {
      q = EmitSelect(*body, nullptr, true);
    } catch (...) {
      env_.current_db = saved;
      --depth_;
      throw;
    }
    env_.current_db = saved;
    --depth_;
    for (const OutColumn& c : q.columns) src.columns.push_back(SourceColumn{c.name, c.type});
    *sql = "(" + q.sql + ") AS " + src.sql_alias;
  } else {
    for (const ColumnInfo& c : r.object->columns) src.columns.push_back(SourceColumn{c.name, c.type});
    src.object = r.object;
    *sql = r.object->SqlName() + " AS " + src.sql_alias;
  }
  scope.sources.push_back(std::move(src));
}

std::string Translator::EmitRef(const TableRef& ref, Scope& scope) {
  switch (ref.kind) {
    case RefKind::Table: {
      std::string sql;
      AddTableSource(ref, scope, &sql);
      return sql;
    }
    case RefKind::Derived: {
      QueryOut q = EmitSelect(*ref.select, scope.parent, true);
      Source src;
      src.exposed = ref.alias;
      src.has_alias = true;
      CheckExposedName(scope, src.exposed);
      src.sql_alias = UniqueAlias(ref.alias);
      if (!ref.column_aliases.empty()) {
        if (ref.column_aliases.size() < q.columns.size())
          throw DbError("'" + ref.alias + "' has more columns than were specified in the column list.");
        if (ref.column_aliases.size() > q.columns.size())
          throw DbError("'" + ref.alias + "' has fewer columns than were specified in the column list.");
        // SQLite names a subquery's columns through a common table expression.
        std::string cte = UniqueAlias(ref.alias + "_cols");
        std::string names;
        for (std::size_t i = 0; i < q.columns.size(); ++i) {
          q.columns[i].name = ref.column_aliases[i];
          names += (i ? ", " : "") + QuoteIdent(ref.column_aliases[i]);
        }
        q.sql = "WITH " + cte + "(" + names + ") AS (" + q.sql + ") SELECT * FROM " + cte;
      }
      for (std::size_t i = 0; i < q.columns.size(); ++i) {
        if (q.columns[i].name.empty())
          throw DbError("No column name was specified for column " + std::to_string(i + 1) +
                        " of '" + ref.alias + "'.");
        src.columns.push_back(SourceColumn{q.columns[i].name, q.columns[i].type});
      }
      scope.sources.push_back(std::move(src));
      return "(" + q.sql + ") AS " + scope.sources.back().sql_alias;
    }
    case RefKind::Join: {
      std::string l = EmitRef(*ref.left, scope);
      std::string r = EmitRef(*ref.right, scope);
      if (ref.right->kind == RefKind::Join) r = "(" + r + ")";
      std::string kw = ref.join_type == "INNER" ? " JOIN " : " " + ref.join_type + " JOIN ";
      std::string sql = l + kw + r;
      if (ref.on) sql += " ON " + Condition(*ref.on, scope);
      return sql;
    }
    case RefKind::Unpivot: {
      Scope inner;
      inner.parent = scope.parent;
      std::string src_sql = EmitRef(*ref.left, inner);
      if (inner.sources.size() != 1) Unsupported("UNPIVOT over a join");
      const Source& s = inner.sources[0];
      std::vector<const SourceColumn*> pivoted;
      for (const std::string& c : ref.in_columns) {
        const SourceColumn* found = nullptr;
        for (const SourceColumn& sc : s.columns)
          if (EqualsNoCase(sc.name, c)) found = &sc;
        if (!found) throw DbError("Invalid column name '" + c + "'.");
        pivoted.push_back(found);
      }
      std::vector<const SourceColumn*> kept;
      for (const SourceColumn& sc : s.columns) {
        bool is_pivoted = false;
        for (const SourceColumn* p : pivoted)
          if (p == &sc) is_pivoted = true;
        if (!is_pivoted) kept.push_back(&sc);
      }
      std::string sql;
      for (std::size_t i = 0; i < pivoted.size(); ++i) {
        if (i) sql += " UNION ALL ";
        sql += "SELECT ";
        for (const SourceColumn* k : kept)
          sql += s.sql_alias + "." + QuoteIdent(k->name) + " AS " + QuoteIdent(k->name) + ", ";
        sql += QuoteText(ref.in_columns[i]) + " AS " + QuoteIdent(ref.for_column) + ", " +
               s.sql_alias + "." + QuoteIdent(pivoted[i]->name) + " AS " +
               QuoteIdent(ref.value_column) + " FROM " + src_sql + " WHERE " + s.sql_alias + "." +
               QuoteIdent(pivoted[i]->name) + " IS NOT NULL";
      }
      Source out;
      out.exposed = ref.alias;
      out.has_alias = true;
      CheckExposedName(scope, out.exposed);
      out.sql_alias = UniqueAlias(ref.alias);
      for (const SourceColumn* k : kept) out.columns.push_back(*k);
      out.columns.push_back(SourceColumn{ref.for_column, SqlType::VarChar(128, "nvarchar")});
      out.columns.push_back(SourceColumn{ref.value_column, pivoted[0]->type});
      scope.sources.push_back(std::move(out));
      return "(" + sql + ") AS " + scope.sources.back().sql_alias;
    }
  }
  Unsupported("table reference");
}

// ------------------------------------------------------------------------ queries

Translator::QueryOut Translator::EmitSelect(const Select& s, const Scope* parent, bool name_columns) {
  if (s.cores.size() == 1) return EmitCore(s.cores[0], parent, &s.order_by, name_columns, false);
  std::vector<QueryOut> parts;
  for (const SelectCore& core : s.cores) {
    QueryOut q = EmitCore(core, parent, nullptr, true, false);
    if (core.top) q.sql = "SELECT * FROM (" + q.sql + ")";
    if (!parts.empty() && q.columns.size() != parts[0].columns.size())
      throw DbError(
          "All queries combined using a UNION, INTERSECT or EXCEPT operator must have an equal "
          "number of expressions in their target lists.");
    parts.push_back(std::move(q));
  }
  QueryOut out;
  out.columns = parts[0].columns;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    for (std::size_t c = 0; c < out.columns.size(); ++c) {
      SqlType& a = out.columns[c].type;
      const SqlType& b = parts[i].columns[c].type;
      if (a.cls == TypeClass::Null) {
        a = b;
      } else if (b.cls == TypeClass::Null) {
      } else if (a.IsString() && b.IsString()) {
        a.cls = (a.cls == TypeClass::Char && b.cls == TypeClass::Char && a.length == b.length)
                    ? TypeClass::Char
                    : TypeClass::VarChar;
        a.length = (a.length < 0 || b.length < 0) ? -1 : std::max(a.length, b.length);
      } else if (a.IsNumber() && b.IsNumber()) {
        a = HigherNumber(a, b);
      } else if (!(a.cls == b.cls)) {
        a = SqlType::Unknown();
      }
    }
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out.sql += " " + s.set_ops[i - 1] + " ";
    out.sql += parts[i].sql;
  }
  if (!s.order_by.empty()) {
    out.sql += " ORDER BY ";
    for (std::size_t i = 0; i < s.order_by.size(); ++i) {
      const Expr& e = *s.order_by[i].expr;
      int ordinal = -1;
      if (e.kind == ExprKind::Integer) {
        ordinal = std::stoi(e.text);
        if (ordinal < 1 || ordinal > static_cast<int>(out.columns.size()))
          throw DbError("The ORDER BY position number " + e.text +
                        " is out of range of the number of items in the select list.");
      } else if (e.kind == ExprKind::Column) {
        for (std::size_t c = 0; c < out.columns.size() && ordinal < 0; ++c) {
          const OutColumn& oc = out.columns[c];
          if (e.name.size() == 1) {
            if (EqualsNoCase(oc.name, e.name[0])) ordinal = static_cast<int>(c) + 1;
          } else if (oc.parts.size() == e.name.size()) {
            bool same = true;
            for (std::size_t k = 0; k < e.name.size(); ++k)
              if (!EqualsNoCase(oc.parts[k], e.name[k])) same = false;
            if (same) ordinal = static_cast<int>(c) + 1;
          }
        }
      }
      if (ordinal < 0)
        throw DbError(
            "ORDER BY items must appear in the select list if the statement contains a UNION, "
            "INTERSECT or EXCEPT operator.");
      if (i) out.sql += ", ";
      out.sql += std::to_string(ordinal);
      if (out.columns[ordinal - 1].type.IsString() || !out.columns[ordinal - 1].type.IsKnown())
        out.sql += " COLLATE TSQL";
      if (s.order_by[i].descending) out.sql += " DESC";
    }
  }
  return out;
}

Translator::QueryOut Translator::EmitCore(const SelectCore& core, const Scope* parent,
                                          const std::vector<OrderItem>* order, bool name_columns,
                                          bool allow_into) {
  if (!core.into.empty() && !allow_into) Unsupported("SELECT … INTO inside another statement");
  Scope scope;
  scope.parent = parent;
  std::string from;
  for (std::size_t i = 0; i < core.from.size(); ++i) {
    std::string part = EmitRef(*core.from[i], scope);
    if (i) from += core.from[i]->kind == RefKind::Join ? ", (" + part + ")" : ", " + part;
    else from += part;
  }
  QueryOut out;
  std::vector<std::string> items;
  for (const SelectItem& item : core.items) {
    if (item.star) {
      bool any = false;
      for (const Source& s : scope.sources) {
        if (!item.star_qualifier.empty()) {
          const auto& q = item.star_qualifier;
          bool match = s.has_alias ? (q.size() == 1 && EqualsNoCase(q[0], s.exposed))
                                   : EqualsNoCase(q.back(), s.exposed);
          if (!match) continue;
        }
        any = true;
        for (const SourceColumn& c : s.columns) {
          items.push_back(s.sql_alias + "." + QuoteIdent(c.name));
          out.columns.push_back(OutColumn{c.name, c.type, {s.exposed, c.name}});
        }
      }
      if (!any) {
        if (item.star_qualifier.empty()) throw DbError("SELECT * with no tables specified is not valid.");
        std::string q;
        for (const std::string& p : item.star_qualifier) q += p + ".";
        throw DbError("The multi-part identifier \"" + q + "*\" could not be bound.");
      }
      continue;
    }
    if (!item.assign_variable.empty()) Unsupported("variable assignment mixed with a result set");
    Ex x = Emit(*item.expr, scope);
    std::string sql = x.sql;
    if (x.column_name.empty() && (x.type.IsString() || x.type.cls == TypeClass::DateTime))
      sql = "(" + sql + ") COLLATE TSQL";
    items.push_back(sql);
    out.columns.push_back(OutColumn{item.has_alias ? item.alias : x.column_name, x.type, x.parts});
  }
  std::string sql = core.distinct ? "SELECT DISTINCT " : "SELECT ";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) sql += ", ";
    sql += items[i];
    if (name_columns && !out.columns[i].name.empty()) sql += " AS " + QuoteIdent(out.columns[i].name);
  }
  if (!from.empty()) sql += " FROM " + from;
  if (core.where) sql += " WHERE " + Condition(*core.where, scope);
  if (!core.group_by.empty()) {
    sql += " GROUP BY ";
    for (std::size_t i = 0; i < core.group_by.size(); ++i) {
      Ex g = Emit(*core.group_by[i], scope);
      if (i) sql += ", ";
      sql += g.sql;
      if (g.column_name.empty() && g.type.IsString()) sql += " COLLATE TSQL";
    }
  }
  if (core.having) sql += " HAVING " + Condition(*core.having, scope);
  if (order && !order->empty()) {
    sql += " ORDER BY ";
    for (std::size_t i = 0; i < order->size(); ++i) {
      const Expr& e = *(*order)[i].expr;
      if (i) sql += ", ";
      int ordinal = -1;
      if (e.kind == ExprKind::Integer) {
        ordinal = std::stoi(e.text);
        if (ordinal < 1 || ordinal > static_cast<int>(out.columns.size()))
          throw DbError("The ORDER BY position number " + e.text +
                        " is out of range of the number of items in the select list.");
      } else if (e.kind == ExprKind::Column && e.name.size() == 1) {
        for (std::size_t c = 0; c < core.items.size() && ordinal < 0; ++c)
          if (core.items[c].has_alias && EqualsNoCase(core.items[c].alias, e.name[0]))
            ordinal = static_cast<int>(c) + 1;
      }
      if (ordinal > 0) {
        bool stars = false;
        for (const SelectItem& it : core.items) stars = stars || it.star;
        if (stars && e.kind != ExprKind::Integer) ordinal = -1;
      }
      if (ordinal > 0) {
        sql += std::to_string(ordinal);
        const SqlType& t = out.columns[ordinal - 1].type;
        if (t.IsString()) sql += " COLLATE TSQL";
      } else {
        Ex o = Emit(e, scope);
        sql += o.sql;
        if (o.column_name.empty() && o.type.IsString()) sql += " COLLATE TSQL";
      }
      if ((*order)[i].descending) sql += " DESC";
    }
  }
  if (core.top) {
    if (core.top_percent) {
      if (!(core.top->kind == ExprKind::Integer && core.top->text == "100"))
        Unsupported("TOP n PERCENT other than 100");
    } else {
      Scope empty;
      sql += " LIMIT " + Emit(*core.top, empty).sql;
    }
  }
  out.sql = std::move(sql);
  return out;
}

// ------------------------------------------------------------------------ expressions

std::string Translator::Condition(const Expr& e, const Scope& scope) { return Emit(e, scope).sql; }

Translator::Ex Translator::EmitColumn(const Expr& e, const Scope& scope) {
  const auto& parts = e.name;
  const std::string& col = parts.back();
  if (parts.size() == 1) {
    if (EqualsNoCase(col, "CURRENT_TIMESTAMP"))
      return Ex{"tsql_getdate()", SqlType{TypeClass::DateTime, 0, 0, 0, "datetime"}, "", {}};
    for (const Scope* s = &scope; s; s = s->parent) {
      const Source* found = nullptr;
      const SourceColumn* found_col = nullptr;
      for (const Source& src : s->sources) {
        for (const SourceColumn& c : src.columns) {
          if (EqualsNoCase(c.name, col)) {
            if (found && found != &src) throw DbError("Ambiguous column name '" + col + "'.");
            if (!found) {
              found = &src;
              found_col = &c;
            }
          }
        }
      }
      if (found)
        return Ex{found->sql_alias + "." + QuoteIdent(found_col->name), found_col->type,
                  found_col->name, parts};
    }
    throw DbError("Invalid column name '" + col + "'.");
  }
  std::vector<std::string> q(parts.begin(), parts.end() - 1);
  for (const Scope* s = &scope; s; s = s->parent) {
    for (const Source& src : s->sources) {
      bool match;
      if (src.has_alias) {
        match = q.size() == 1 && EqualsNoCase(q[0], src.exposed);
      } else {
        match = EqualsNoCase(q.back(), src.exposed);
        if (match && q.size() >= 2 && !q[q.size() - 2].empty() && !EqualsNoCase(q[q.size() - 2], "dbo"))
          match = false;
        if (match && q.size() >= 3 && !q[0].empty() && !EqualsNoCase(q[0], src.db)) match = false;
      }
      if (!match) continue;
      for (const SourceColumn& c : src.columns)
        if (EqualsNoCase(c.name, col))
          return Ex{src.sql_alias + "." + QuoteIdent(c.name), c.type, c.name, parts};
      throw DbError("Invalid column name '" + col + "'.");
    }
  }
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? "." : "") + parts[i];
  throw DbError("The multi-part identifier \"" + text + "\" could not be bound.");
}

Translator::Ex Translator::EmitCompare(const std::string& op, Ex l, Ex r) {
  if (l.type.IsNumber() && r.type.IsString()) {
    r.sql = ToNumber(r.sql, l.type);
    r.type = l.type;
  } else if (r.type.IsNumber() && l.type.IsString()) {
    l.sql = ToNumber(l.sql, r.type);
    l.type = r.type;
  }
  bool numeric = (l.type.IsNumber() || l.type.cls == TypeClass::Null) &&
                 (r.type.IsNumber() || r.type.cls == TypeClass::Null);
  std::string sql = numeric ? "(" + l.sql + " " + op + " " + r.sql + ")"
                            : "((" + l.sql + ") COLLATE TSQL " + op + " " + r.sql + ")";
  return Ex{sql, SqlType::Bit(), "", {}};
}

Translator::Ex Translator::EmitPlus(Ex l, Ex r) {
  const SqlType& a = l.type;
  const SqlType& b = r.type;
  bool a_str = a.IsString() || a.cls == TypeClass::Null;
  bool b_str = b.IsString() || b.cls == TypeClass::Null;
  bool a_num = a.IsNumber() || a.cls == TypeClass::Null;
  bool b_num = b.IsNumber() || b.cls == TypeClass::Null;
  if (a_str && b_str && !(a.cls == TypeClass::Null && b.cls == TypeClass::Null)) {
    int len = (a.length < 0 || b.length < 0) ? -1 : std::min(8000, a.length + b.length);
    return Ex{"(" + l.sql + " || " + r.sql + ")", SqlType::VarChar(len), "", {}};
  }
  if (a_num && b_num) return Ex{"(" + l.sql + " + " + r.sql + ")", HigherNumber(a, b), "", {}};
  SqlType t = SqlType::Unknown();
  if (a.IsNumber() && b.IsString()) t = a;
  if (b.IsNumber() && a.IsString()) t = b;
  return Ex{"tsql_add(" + l.sql + ", " + r.sql + ")", t, "", {}};
}

Translator::Ex Translator::Emit(const Expr& e, const Scope& scope) {
  switch (e.kind) {
    case ExprKind::Null:
      return Ex{"NULL", SqlType::Null(), "", {}};
    case ExprKind::Integer: {
      // The parser folds a minus sign into the literal; the type follows the magnitude.
      std::string_view digits = e.text;
      if (!digits.empty() && digits[0] == '-') digits.remove_prefix(1);
      bool big = digits.size() > 10 || (digits.size() == 10 && digits > "2147483647");
      if (digits.size() > 18) return Ex{e.text, SqlType{TypeClass::Numeric, 0, 38, 0, "numeric"}, "", {}};
      return Ex{e.text, big ? SqlType::Int("bigint") : SqlType::Int(), "", {}};
    }
    case ExprKind::Decimal: {
      if (e.text.find_first_of("eE") != std::string::npos) return Ex{e.text, SqlType::Float(), "", {}};
      std::size_t dot = e.text.find('.');
      int scale = dot == std::string::npos ? 0 : static_cast<int>(e.text.size() - dot - 1);
      std::string text = e.text;
      if (!text.empty() && text[0] == '.') text = "0" + text;
      if (text.size() >= 2 && text[0] == '-' && text[1] == '.') text = "-0" + text.substr(1);
      return Ex{text, SqlType{TypeClass::Numeric, 0, static_cast<int>(e.text.size()), scale, "numeric"}, "", {}};
    }
    case ExprKind::String:
      return Ex{QuoteText(e.text), SqlType::VarChar(std::max(1, Utf8Length(e.text)), e.unicode ? "nvarchar" : "varchar"), "", {}};
    case ExprKind::Param: {
      Binding b;
      b.kind = Binding::Kind::Param;
      b.index = e.param_index;
      return Ex{Bind(b), SqlType::Unknown(), "", {}};
    }
    case ExprKind::Variable: {
      std::string name = Lower(e.text);
      if (!substitutions_.empty()) {
        auto it = substitutions_.back().find(name);
        if (it != substitutions_.back().end()) return it->second;
      }
      Binding b;
      if (name.size() > 2 && name[1] == '@') {
        static const std::map<std::string, SqlType> kSystem = {
            {"@@rowcount", SqlType::Int()},        {"@@identity", SqlType{TypeClass::Numeric, 0, 38, 0, "numeric"}},
            {"@@error", SqlType::Int()},           {"@@trancount", SqlType::Int()},
            {"@@spid", SqlType::Int("smallint")},  {"@@version", SqlType::VarChar(300, "nvarchar")},
            {"@@servername", SqlType::VarChar(128, "nvarchar")},
            {"@@fetch_status", SqlType::Int()},    {"@@nestlevel", SqlType::Int()}};
        auto it = kSystem.find(name);
        if (it == kSystem.end()) Unsupported("system variable " + e.text);
        b.kind = Binding::Kind::System;
        b.name = name;
        return Ex{Bind(b), it->second, "", {}};
      }
      if (!env_.variables || !env_.variables->count(name))
        throw DbError("Must declare the scalar variable \"" + e.text + "\".");
      b.kind = Binding::Kind::Variable;
      b.name = name;
      return Ex{Bind(b), env_.variables->at(name), "", {}};
    }
    case ExprKind::Column:
      return EmitColumn(e, scope);
    case ExprKind::Unary: {
      Ex x = Emit(*e.args[0], scope);
      if (x.type.IsString()) x.sql = ToNumber(x.sql, SqlType::Float());
      return Ex{"(" + e.op + x.sql + ")", x.type.IsNumber() ? x.type : SqlType::Unknown(), "", {}};
    }
    case ExprKind::Binary: {
      Ex l = Emit(*e.args[0], scope);
      Ex r = Emit(*e.args[1], scope);
      if (e.op == "+") return EmitPlus(std::move(l), std::move(r));
      if (l.type.IsString()) {
        l.sql = ToNumber(l.sql, r.type.IsNumber() ? r.type : SqlType::Float());
        l.type = r.type.IsNumber() ? r.type : SqlType::Float();
      }
      if (r.type.IsString()) {
        r.sql = ToNumber(r.sql, l.type.IsNumber() ? l.type : SqlType::Float());
        r.type = l.type.IsNumber() ? l.type : SqlType::Float();
      }
      SqlType t = (l.type.IsNumber() || l.type.cls == TypeClass::Null) &&
                          (r.type.IsNumber() || r.type.cls == TypeClass::Null)
                      ? HigherNumber(l.type, r.type)
                      : SqlType::Unknown();
      if (e.op == "/") return Ex{"tsql_div(" + l.sql + ", " + r.sql + ")", t, "", {}};
      if (e.op == "%") return Ex{"tsql_mod(" + l.sql + ", " + r.sql + ")", t, "", {}};
      if (e.op == "^")
        return Ex{"((" + l.sql + " | " + r.sql + ") - (" + l.sql + " & " + r.sql + "))", t, "", {}};
      if ((e.op == "-" || e.op == "*") && RuntimeArithmetic(l.type, r.type))
        return Ex{std::string(e.op == "-" ? "tsql_sub(" : "tsql_mul(") + l.sql + ", " + r.sql + ")", t,
                  "", {}};
      return Ex{"(" + l.sql + " " + e.op + " " + r.sql + ")", t, "", {}};
    }
    case ExprKind::Compare: {
      Ex l = Emit(*e.args[0], scope);
      Ex r = Emit(*e.args[1], scope);
      // A quoted number compared with a number column is converted once here.
      if (l.type.IsNumber() && e.args[1]->kind == ExprKind::String && IsIntegerText(e.args[1]->text) &&
          l.type.cls != TypeClass::Bit) {
        r = Ex{TrimBlanks(e.args[1]->text), SqlType::Int(), "", {}};
      } else if (r.type.IsNumber() && e.args[0]->kind == ExprKind::String &&
                 IsIntegerText(e.args[0]->text) && r.type.cls != TypeClass::Bit) {
        l = Ex{TrimBlanks(e.args[0]->text), SqlType::Int(), "", {}};
      }
      return EmitCompare(e.op, std::move(l), std::move(r));
    }
    case ExprKind::And:
    case ExprKind::Or: {
      std::string l = Condition(*e.args[0], scope);
      std::string r = Condition(*e.args[1], scope);
      return Ex{"(" + l + (e.kind == ExprKind::And ? " AND " : " OR ") + r + ")", SqlType::Bit(), "", {}};
    }
    case ExprKind::Not:
      return Ex{"(NOT " + Condition(*e.args[0], scope) + ")", SqlType::Bit(), "", {}};
    case ExprKind::IsNull: {
      Ex x = Emit(*e.args[0], scope);
      return Ex{"(" + x.sql + (e.negated ? " IS NOT NULL)" : " IS NULL)"), SqlType::Bit(), "", {}};
    }
    case ExprKind::Between: {
      Ex x = Emit(*e.args[0], scope);
      Ex lo = Emit(*e.args[1], scope);
      Ex hi = Emit(*e.args[2], scope);
      Ex a = EmitCompare(">=", x, lo);
      Ex b = EmitCompare("<=", x, hi);
      std::string sql = "(" + a.sql + " AND " + b.sql + ")";
      if (e.negated) sql = "(NOT " + sql + ")";
      return Ex{sql, SqlType::Bit(), "", {}};
    }
    case ExprKind::InList: {
      Ex x = Emit(*e.args[0], scope);
      std::vector<Ex> items;
      bool any_number = false, any_string = false;
      for (std::size_t i = 1; i < e.args.size(); ++i) {
        items.push_back(Emit(*e.args[i], scope));
        any_number = any_number || items.back().type.IsNumber();
        any_string = any_string || items.back().type.IsString();
      }
      if (x.type.IsString() && any_number) {
        SqlType num = SqlType::Int();
        for (const Ex& it : items)
          if (it.type.IsNumber()) num = HigherNumber(num, it.type);
        x.sql = ToNumber(x.sql, num);
        x.type = num;
      }
      std::string list;
      for (std::size_t i = 0; i < items.size(); ++i) {
        std::string v = items[i].sql;
        if (x.type.IsNumber() && items[i].type.IsString()) v = ToNumber(v, x.type);
        list += (i ? ", " : "") + v;
      }
      std::string lhs = x.type.IsNumber() ? x.sql : "(" + x.sql + ") COLLATE TSQL";
      return Ex{"(" + lhs + (e.negated ? " NOT IN (" : " IN (") + list + "))", SqlType::Bit(), "", {}};
    }
    case ExprKind::InSelect: {
      Ex x = Emit(*e.args[0], scope);
      QueryOut q = EmitSelect(*e.select, &scope, false);
      if (q.columns.size() != 1)
        throw DbError(
            "Only one expression can be specified in the select list when the subquery is not "
            "introduced with EXISTS.");
      const SqlType& st = q.columns[0].type;
      std::string sub = q.sql;
      if (x.type.IsString() && st.IsNumber()) {
        x.sql = ToNumber(x.sql, st);
        x.type = st;
      } else if (x.type.IsNumber() && st.IsString()) {
        // The text column of the subquery is converted to the number's type.
        QueryOut named = EmitSelect(*e.select, &scope, true);
        if (named.columns[0].name.empty())
          Unsupported("IN (subquery) comparing a number with an unnamed text column");
        sub = "SELECT " + ToNumber("\"__zel_in\"." + QuoteIdent(named.columns[0].name), x.type) +
              " FROM (" + named.sql + ") AS \"__zel_in\"";
      }
      std::string lhs = x.type.IsNumber() ? x.sql : "(" + x.sql + ") COLLATE TSQL";
      return Ex{"(" + lhs + (e.negated ? " NOT IN (" : " IN (") + sub + "))", SqlType::Bit(), "", {}};
    }
    case ExprKind::Exists: {
      QueryOut q = EmitSelect(*e.select, &scope, false);
      return Ex{"(EXISTS (" + q.sql + "))", SqlType::Bit(), "", {}};
    }
    case ExprKind::Like: {
      Ex x = Emit(*e.args[0], scope);
      Ex p = Emit(*e.args[1], scope);
      if (e.args[1]->kind == ExprKind::String && e.args[1]->text.find('[') != std::string::npos)
        Unsupported("LIKE pattern with [ ] character classes");
      // Trailing blanks of the matched value do not count (a char column's padding).
      std::string sql = "(rtrim(" + x.sql + ", ' ')" + (e.negated ? " NOT LIKE " : " LIKE ") + p.sql;
      if (e.args.size() > 2) sql += " ESCAPE " + Emit(*e.args[2], scope).sql;
      return Ex{sql + ")", SqlType::Bit(), "", {}};
    }
    case ExprKind::Case: {
      std::size_t i = 0;
      Ex operand;
      if (e.has_operand) operand = Emit(*e.args[i++], scope);
      std::size_t end = e.args.size() - (e.has_else ? 1 : 0);
      std::string sql = "CASE";
      SqlType type = SqlType::Null();
      bool mixed = false;
      auto merge = [&](const SqlType& t) {
        if (t.cls == TypeClass::Null) return;
        if (type.cls == TypeClass::Null) {
          type = t;
        } else if (type.IsString() && t.IsString()) {
          type.cls = TypeClass::VarChar;
          type.length = (type.length < 0 || t.length < 0) ? -1 : std::max(type.length, t.length);
        } else if (type.IsNumber() && t.IsNumber()) {
          type = HigherNumber(type, t);
        } else if (type.cls != t.cls) {
          mixed = true;
        }
      };
      for (; i < end; i += 2) {
        std::string cond;
        if (e.has_operand) {
          Ex w = Emit(*e.args[i], scope);
          cond = EmitCompare("=", operand, w).sql;
        } else {
          cond = Condition(*e.args[i], scope);
        }
        Ex v = Emit(*e.args[i + 1], scope);
        merge(v.type);
        sql += " WHEN " + cond + " THEN " + v.sql;
      }
      if (e.has_else) {
        Ex v = Emit(*e.args.back(), scope);
        merge(v.type);
        sql += " ELSE " + v.sql;
      }
      sql += " END";
      return Ex{"(" + sql + ")", mixed ? SqlType::Unknown() : type, "", {}};
    }
    case ExprKind::Cast: {
      Ex x = Emit(*e.args[0], scope);
      if (e.args.size() > 1) {
        const Expr& style = *e.args[1];
        bool plain = style.kind == ExprKind::Integer && (style.text == "0" || style.text == "1" || style.text == "2");
        if (!plain || x.type.cls == TypeClass::DateTime) Unsupported("CONVERT with a style");
      }
      SqlType to = TypeFromSpec(e.type, true);
      if (to.cls == TypeClass::DateTime && x.type.IsNumber()) Unsupported("conversion of a number to datetime");
      return Ex{CastConversion(x.sql, x.type, to), to, "", {}};
    }
    case ExprKind::Function:
      return EmitFunction(e, scope);
    case ExprKind::Subquery: {
      QueryOut q = EmitSelect(*e.select, &scope, false);
      if (q.columns.size() != 1)
        throw DbError(
            "Only one expression can be specified in the select list when the subquery is not "
            "introduced with EXISTS.");
      return Ex{"(" + q.sql + ")", q.columns[0].type, "", {}};
    }
    case ExprKind::Star:
      return Ex{"*", SqlType::Unknown(), "", {}};
  }
  Unsupported("expression");
}

Translator::Ex Translator::EmitFunction(const Expr& e, const Scope& scope) {
  if (e.name.size() >= 2) {
    const auto& p = e.name;
    if (p.size() > 3) Unsupported("four-part function name");
    std::string db = p.size() == 3 && !p[0].empty() ? p[0] : env_.current_db;
    if (const DatabaseInfo* d = env_.catalog->FindDatabase(db)) db = d->name;
    std::shared_ptr<const ObjectInfo> fn = env_.catalog->Find(db, p.back());
    const std::string& schema = p[p.size() - 2];
    if (!fn || fn->type != "FN" || (!schema.empty() && !EqualsNoCase(schema, "dbo"))) {
      std::string text = p[p.size() - 2] + "." + p.back();
      throw DbError("Cannot find either column \"" + p[p.size() - 2] +
                    "\" or the user-defined function or aggregate \"" + text +
                    "\", or the name is ambiguous.");
    }
    return EmitUserFunction(e, scope, db, fn);
  }
  const std::string name = UpperAscii(e.name[0]);
  const BuiltinFunction* f = FindBuiltinFunction(name);
  if (!f) throw DbError("'" + e.name[0] + "' is not a recognized built-in function name.");
  const std::size_t n = e.args.size();
  if (n < static_cast<std::size_t>(f->min_args) || n > static_cast<std::size_t>(f->max_args)) {
    if (f->min_args == f->max_args)
      throw DbError("The " + e.name[0] + " function requires " + std::to_string(f->min_args) +
                    " argument(s).");
    throw DbError("The " + e.name[0] + " function requires " + std::to_string(f->min_args) + " to " +
                  std::to_string(f->max_args) + " arguments.");
  }
  BuiltinCall call{e, {}, env_.current_db, [this](Binding b) { return Bind(std::move(b)); }};
  for (const ExprPtr& x : e.args) call.args.push_back(Emit(*x, scope));
  return EmitBuiltin(*f, call);
}

Translator::Ex Translator::EmitUserFunction(const Expr& e, const Scope& scope, const std::string& db,
                                            std::shared_ptr<const ObjectInfo> fn) {
  std::shared_ptr<const Batch> batch = ParseDefinition(fn->definition);
  const Stmt& def = *batch->statements.at(0);
  if (e.args.size() != def.params.size())
    throw DbError(e.args.size() < def.params.size()
                      ? "An insufficient number of arguments were supplied for the procedure or function " + e.name.back() + "."
                      : "Procedure or function " + e.name.back() + " has too many arguments specified.");
  std::vector<Ex> args;
  for (const ExprPtr& a : e.args) args.push_back(Emit(*a, scope));
  SqlType ret = TypeFromSpec(def.returns);
  if (EqualsNoCase(fn->name, "decDate") || EqualsNoCase(fn->name, "incDate")) {
    if (args.size() != 1) Unsupported("function " + fn->name + " with other parameters");
    std::string native = EqualsNoCase(fn->name, "decDate") ? "decDate" : "incDate";
    return Ex{native + "(" + CastConversion(args[0].sql, args[0].type, TypeFromSpec(def.params[0].type)) + ")", ret, "", {}};
  }
  // A function whose body is one expression or one query is inlined with its arguments.
  const Expr* value = nullptr;
  const SelectCore* query = nullptr;
  const auto& body = def.body;
  if (body.size() == 1 && body[0]->kind == StmtKind::Return && body[0]->value) {
    value = body[0]->value.get();
  } else if (!body.empty() && body.back()->kind == StmtKind::Return && body.back()->value &&
             body.back()->value->kind == ExprKind::Variable) {
    std::string result = Lower(body.back()->value->text);
    for (std::size_t i = 0; i + 1 < body.size(); ++i) {
      const Stmt& s = *body[i];
      if (s.kind == StmtKind::Declare) continue;
      if (s.kind == StmtKind::SetVariable && Lower(s.variable) == result && !value && !query) {
        value = s.value.get();
        continue;
      }
      if (s.kind == StmtKind::Select && s.select->cores.size() == 1 && !value && !query &&
          s.select->cores[0].items.size() == 1 &&
          Lower(s.select->cores[0].items[0].assign_variable) == result) {
        query = &s.select->cores[0];
        continue;
      }
      Unsupported("function body of " + fn->name);
    }
  }
  if (!value && !query) Unsupported("function body of " + fn->name);
  if (++depth_ > kMaxNestingLevel) throw DbError(kNestingTooDeep);
  std::map<std::string, Ex> subst;
  for (std::size_t i = 0; i < def.params.size(); ++i) {
    SqlType pt = TypeFromSpec(def.params[i].type);
    subst[Lower(def.params[i].name)] = Ex{CastConversion(args[i].sql, args[i].type, pt), pt, "", {}};
  }
  std::string saved = env_.current_db;
  env_.current_db = db;
  substitutions_.push_back(std::move(subst));
  Ex out;
  try {
    if (value) {
      Scope empty;
      out = Emit(*value, empty);
    } else {
      Scope inner;
      std::string from;
      for (std::size_t i = 0; i < query->from.size(); ++i) from += (i ? ", " : "") + EmitRef(*query->from[i], inner);
      Ex item = Emit(*query->items[0].expr, inner);
      std::string sql = "(SELECT " + item.sql;
      if (!from.empty()) sql += " FROM " + from;
      if (query->where) sql += " WHERE " + Condition(*query->where, inner);
      if (!query->group_by.empty()) Unsupported("GROUP BY in an inlined function");
      out = Ex{sql + ")", item.type, "", {}};
    }
  } catch (...) {
    substitutions_.pop_back();
    env_.current_db = saved;
    --depth_;
    throw;
  }
  substitutions_.pop_back();
  env_.current_db = saved;
  --depth_;
  return Ex{CastConversion(out.sql, out.type, ret), ret, "", {}};
}

// ------------------------------------------------------------------------ conversions

std::string Translator::CastConversion(const std::string& sql, const SqlType& from, const SqlType& to) {
  if (from.cls == TypeClass::Null) return sql;
  switch (to.cls) {
    case TypeClass::Int:
      if (from.cls == TypeClass::Int && IntRank(from) <= IntRank(to)) return sql;
      if (from.cls == TypeClass::Bit) return sql;
      return to.name == "int" ? "tsql_int(" + sql + ")" : "tsql_int(" + sql + ", '" + to.name + "')";
    case TypeClass::Bit:
      if (from.cls == TypeClass::Bit) return sql;
      return "tsql_bit(" + sql + ")";
    case TypeClass::Float:
      if (from.cls == TypeClass::Float) return sql;
      return "tsql_float(" + sql + ")";
    case TypeClass::Numeric:
      return "tsql_numeric(" + sql + ", " + std::to_string(to.precision) + ", " + std::to_string(to.scale) + ")";
    case TypeClass::Char:
      if (from.cls == TypeClass::Char && from.length == to.length) return sql;
      return "tsql_char(" + sql + ", " + std::to_string(to.length) + ")";
    case TypeClass::VarChar:
      if (from.IsString() && (to.length < 0 || (from.length > 0 && from.length <= to.length))) {
        if (from.cls == TypeClass::VarChar) return sql;
      }
      return "tsql_varchar(" + sql + ", " + std::to_string(to.length) + ")";
    default:
      return sql;
  }
}

std::string Translator::StoreConversion(const std::string& sql, const SqlType& from, const SqlType& to) {
  if (from.cls == TypeClass::Null) return sql;
  switch (to.cls) {
    case TypeClass::Char:
      if (from.cls == TypeClass::Char && from.length == to.length) return sql;
      return "zel_char(" + sql + ", " + std::to_string(to.length) + ")";
    case TypeClass::VarChar:
      if (to.length < 0) return sql;
      if (from.cls == TypeClass::VarChar && from.length > 0 && from.length <= to.length) return sql;
      return "zel_varchar(" + sql + ", " + std::to_string(to.length) + ")";
    case TypeClass::DateTime:
      return sql;
    default:
      return CastConversion(sql, from, to);
  }
}

std::string Translator::DefaultExpression(const Expr& e, const SqlType& type) {
  Scope empty;
  Ex x = Emit(e, empty);
  if (!bindings_.empty()) throw DbError("Variables are not allowed in the DEFAULT of a column.");
  if (e.kind == ExprKind::String && (type.IsString() || type.cls == TypeClass::DateTime)) {
    std::string v = e.text;
    if (type.cls == TypeClass::Char) {
      int len = Utf8Length(v);
      if (len < type.length) v.append(static_cast<std::size_t>(type.length - len), ' ');
    }
    return QuoteText(v);
  }
  if ((e.kind == ExprKind::Integer || e.kind == ExprKind::Decimal) && type.IsNumber()) {
    if (type.cls == TypeClass::Int || type.cls == TypeClass::Bit || (type.cls == TypeClass::Numeric && type.scale == 0)) {
      if (e.kind == ExprKind::Integer) return e.text;
    } else {
      return x.sql;
    }
  }
  if (e.kind == ExprKind::Null) return "NULL";
  return "(" + StoreConversion(x.sql, x.type, type) + ")";
}

// ------------------------------------------------------------------------ statements

Translation Translator::Query(const Select& select) {
  for (const SelectCore& c : select.cores)
    for (const SelectItem& it : c.items)
      if (!it.assign_variable.empty()) Unsupported("variable assignment mixed with a result set");
  QueryOut q = EmitSelect(select, nullptr, false);
  Translation t = Finish(q.sql);
  for (const OutColumn& c : q.columns) {
    t.columns.push_back(c.name);
    t.types.push_back(c.type);
  }
  return t;
}

Translation Translator::QueryWithInto(const Select& select) {
  if (select.cores.size() != 1) Unsupported("SELECT … INTO with a set operation");
  QueryOut q = EmitCore(select.cores[0], nullptr, &select.order_by, false, true);
  Translation t = Finish(q.sql);
  for (const OutColumn& c : q.columns) {
    t.columns.push_back(c.name);
    t.types.push_back(c.type);
  }
  return t;
}

Translation Translator::Scalar(const Expr& e, bool condition, const SqlType* cast_to) {
  Scope empty;
  Ex x = Emit(e, empty);
  std::string sql = condition ? "SELECT CASE WHEN " + x.sql + " THEN 1 ELSE 0 END"
                              : "SELECT " + (cast_to ? CastConversion(x.sql, x.type, *cast_to) : x.sql);
  Translation t = Finish(sql);
  t.types.push_back(condition ? SqlType::Int() : (cast_to ? *cast_to : x.type));
  t.columns.push_back("");
  return t;
}

Translation Translator::AssignmentQuery(const Select& select, std::vector<std::string>* variables) {
  if (select.cores.size() != 1) Unsupported("variable assignment in a UNION");
  const SelectCore& core = select.cores[0];
  std::set<std::string> assigned;
  for (const SelectItem& it : core.items) {
    if (it.assign_variable.empty()) Unsupported("variable assignment mixed with a result set");
    assigned.insert(Lower(it.assign_variable));
  }
  Scope scope;
  std::string from;
  for (std::size_t i = 0; i < core.from.size(); ++i) from += (i ? ", " : "") + EmitRef(*core.from[i], scope);
  if (!core.from.empty())
    for (const SelectItem& it : core.items)
      if (ReferencesVariable(*it.expr, assigned)) Unsupported("accumulating variable assignment in SELECT");
  std::string sql = core.distinct ? "SELECT DISTINCT " : "SELECT ";
  for (std::size_t i = 0; i < core.items.size(); ++i) {
    const SelectItem& it = core.items[i];
    std::string var = Lower(it.assign_variable);
    if (!env_.variables || !env_.variables->count(var))
      throw DbError("Must declare the scalar variable \"" + it.assign_variable + "\".");
    Ex x = Emit(*it.expr, scope);
    sql += (i ? ", " : "") + CastConversion(x.sql, x.type, env_.variables->at(var));
    variables->push_back(var);
  }
  if (!from.empty()) sql += " FROM " + from;
  if (core.where) sql += " WHERE " + Condition(*core.where, scope);
  if (!core.group_by.empty()) {
    sql += " GROUP BY ";
    for (std::size_t i = 0; i < core.group_by.size(); ++i) sql += (i ? ", " : "") + Emit(*core.group_by[i], scope).sql;
  }
  if (core.having) sql += " HAVING " + Condition(*core.having, scope);
  if (!select.order_by.empty()) {
    sql += " ORDER BY ";
    for (std::size_t i = 0; i < select.order_by.size(); ++i) {
      Ex o = Emit(*select.order_by[i].expr, scope);
      sql += (i ? ", " : "") + o.sql + (o.type.IsString() ? " COLLATE TSQL" : "") +
             (select.order_by[i].descending ? " DESC" : "");
    }
  }
  if (core.top && !core.top_percent) {
    Scope empty;
    sql += " LIMIT " + Emit(*core.top, empty).sql;
  }
  return Finish(sql);
}

Translation Translator::Insert(const Stmt& stmt) {
  ResolvedName r = Resolve(stmt.target);
  std::vector<SourceColumn> sys;
  if (!SystemSource(stmt.target, env_.current_db, &sys).empty())
    throw DbError("Ad hoc updates to system catalogs are not allowed.");
  if (!r.object) throw DbError("Invalid object name '" + stmt.target.Text() + "'.");
  if (r.object->type != "U") Unsupported("INSERT into a view");
  const ObjectInfo& t = *r.object;
  std::vector<const ColumnInfo*> cols;
  if (stmt.columns.empty()) {
    for (const ColumnInfo& c : t.columns)
      if (!c.identity) cols.push_back(&c);
  } else {
    for (const std::string& name : stmt.columns) {
      const ColumnInfo* c = t.FindColumn(name);
      if (!c) throw DbError("Invalid column name '" + name + "'.");
      if (c->identity)
        throw DbError("Cannot insert explicit value for identity column in table '" + t.name +
                      "' when IDENTITY_INSERT is set to OFF.");
      for (const ColumnInfo* d : cols)
        if (d == c)
          throw DbError("The column name '" + name +
                        "' is specified more than once in the SET clause or column list of an "
                        "INSERT. A column cannot be assigned more than one value in the same "
                        "clause. Modify the clause to make sure that a column is updated only once. "
                        "If this statement updates or inserts columns into a view, column aliasing "
                        "can conceal the duplication.");
      cols.push_back(c);
    }
  }
  std::string head = "INSERT INTO " + t.SqlName();
  if (stmt.default_values) {
    Translation tr = Finish(head + " DEFAULT VALUES", StatementKind::Insert);
    tr.target = r.object;
    tr.writes_main = !r.temp;
    return tr;
  }
  head += " (";
  for (std::size_t i = 0; i < cols.size(); ++i) head += (i ? ", " : "") + QuoteIdent(cols[i]->name);
  head += ")";
  std::string sql;
  if (!stmt.values.empty()) {
    sql = head + " VALUES ";
    for (std::size_t row = 0; row < stmt.values.size(); ++row) {
      const auto& vals = stmt.values[row];
      if (stmt.columns.empty() && vals.size() != cols.size())
        throw DbError("Column name or number of supplied values does not match table definition.");
      if (vals.size() < cols.size())
        throw DbError("There are more columns in the INSERT statement than values specified in the "
                      "VALUES clause. The number of values in the VALUES clause must match the "
                      "number of columns specified in the INSERT statement.");
      if (vals.size() > cols.size())
        throw DbError("There are fewer columns in the INSERT statement than values specified in the "
                      "VALUES clause. The number of values in the VALUES clause must match the "
                      "number of columns specified in the INSERT statement.");
      Scope empty;
      sql += row ? ", (" : "(";
      for (std::size_t i = 0; i < vals.size(); ++i) {
        Ex x = Emit(*vals[i], empty);
        sql += (i ? ", " : "") + StoreConversion(x.sql, x.type, cols[i]->type);
      }
      sql += ")";
    }
  } else {
    QueryOut q = EmitSelect(*stmt.select, nullptr, false);
    if (stmt.columns.empty() && q.columns.size() != cols.size())
      throw DbError("Column name or number of supplied values does not match table definition.");
    if (q.columns.size() < cols.size())
      throw DbError("The select list for the INSERT statement contains fewer items than the insert "
                    "list. The number of SELECT values must match the number of INSERT columns.");
    if (q.columns.size() > cols.size())
      throw DbError("The select list for the INSERT statement contains more items than the insert "
                    "list. The number of SELECT values must match the number of INSERT columns.");
    bool convert = false;
    std::vector<std::string> conv;
    for (std::size_t i = 0; i < cols.size(); ++i) {
      std::string name = "\"__zel_src\".\"c" + std::to_string(i + 1) + "\"";
      std::string c = StoreConversion(name, q.columns[i].type, cols[i]->type);
      convert = convert || c != name;
      conv.push_back(c);
    }
    if (!convert) {
      sql = head + " " + q.sql;
    } else {
      // Name the query's columns by position and convert them on the way in; the rows
      // keep the query's order (identities follow ORDER BY).
      std::string outer = "SELECT ";
      std::string cols_list;
      for (std::size_t i = 0; i < conv.size(); ++i) {
        outer += (i ? ", " : "") + conv[i];
        cols_list += (i ? ", " : "") + std::string("\"c") + std::to_string(i + 1) + "\"";
      }
      sql = head + " " + outer + " FROM (WITH \"__zel_q\"(" + cols_list + ") AS (" + q.sql +
            ") SELECT * FROM \"__zel_q\") AS \"__zel_src\"";
    }
  }
  Translation tr = Finish(sql, StatementKind::Insert);
  tr.target = r.object;
  tr.writes_main = !r.temp;
  return tr;
}

// The source an UPDATE or DELETE writes: an alias of its FROM, else the named table (an
// unaliased mention of it in FROM first, then any), added to FROM when it is not there.
// `verb` names the statement in errors ("UPDATE of", "DELETE from").
const Translator::Source* Translator::DmlTarget(const Stmt& stmt, const char* verb, Scope& scope,
                                                std::string& from,
                                                std::shared_ptr<const ObjectInfo>& target,
                                                bool& temp) {
  const Source* target_src = nullptr;
  target = nullptr;
  temp = false;
  if (stmt.target.parts.size() == 1) {
    for (const Source& s : scope.sources)
      if (s.has_alias && EqualsNoCase(s.exposed, stmt.target.last())) target_src = &s;
    if (target_src) {
      if (!target_src->object) Unsupported(std::string(verb) + " a derived table or view");
      target = target_src->object;
      temp = target->schema == "temp";
    }
  }
  if (!target) {
    ResolvedName r = Resolve(stmt.target);
    std::vector<SourceColumn> sys;
    if (!SystemSource(stmt.target, env_.current_db, &sys).empty())
      throw DbError("Ad hoc updates to system catalogs are not allowed.");
    if (!r.object) throw DbError("Invalid object name '" + stmt.target.Text() + "'.");
    if (r.object->type != "U") Unsupported(std::string(verb) + " a view");
    target = r.object;
    temp = r.temp;
    int count = 0;
    for (const Source& s : scope.sources) {
      if (s.object && s.object->object_id == target->object_id && s.object->schema == target->schema &&
          !s.has_alias) {
        target_src = &s;
        ++count;
      }
    }
    if (count == 0) {
      for (const Source& s : scope.sources) {
        if (s.object && s.object->object_id == target->object_id && s.object->schema == target->schema) {
          target_src = &s;
          ++count;
        }
      }
    }
    if (count > 1) throw DbError("The table '" + stmt.target.last() + "' is ambiguous.");
    if (count == 0 && !stmt.from.empty()) {
      Source src;
      src.exposed = stmt.target.last();
      CheckExposedName(scope, src.exposed);
      src.sql_alias = UniqueAlias(src.exposed);
      src.db = target->database;
      src.object = target;
      for (const ColumnInfo& c : target->columns) src.columns.push_back(SourceColumn{c.name, c.type});
      from += ", " + target->SqlName() + " AS " + src.sql_alias;
      scope.sources.push_back(std::move(src));
      target_src = &scope.sources.back();
    }
  }
  return target_src;
}

Translation Translator::Update(const Stmt& stmt) {
  Scope scope;
  std::string from;
  for (std::size_t i = 0; i < stmt.from.size(); ++i) {
    std::string part = EmitRef(*stmt.from[i], scope);
    from += i ? (stmt.from[i]->kind == RefKind::Join ? ", (" + part + ")" : ", " + part) : part;
  }
  // Which source is the row being updated.
  std::shared_ptr<const ObjectInfo> target;
  bool temp = false;
  const Source* target_src = DmlTarget(stmt, "UPDATE of", scope, from, target, temp);
  if (stmt.from.empty()) {
    Source src;
    src.exposed = stmt.target.last();
    src.sql_alias = UniqueAlias(src.exposed);
    src.db = target->database;
    src.object = target;
    for (const ColumnInfo& c : target->columns) src.columns.push_back(SourceColumn{c.name, c.type});
    scope.sources.push_back(std::move(src));
    target_src = &scope.sources.back();
  }
  std::vector<std::pair<const ColumnInfo*, std::string>> sets;
  for (const SetAssignment& a : stmt.sets) {
    if (!a.variable.empty()) Unsupported("SET @variable inside UPDATE");
    const ColumnInfo* c = target->FindColumn(a.column.back());
    if (!c) throw DbError("Invalid column name '" + a.column.back() + "'.");
    if (c->identity) throw DbError("Cannot update identity column '" + c->name + "'.");
    for (const auto& s : sets)
      if (s.first == c)
        throw DbError("The column name '" + c->name +
                      "' is specified more than once in the SET clause or column list of an "
                      "INSERT. A column cannot be assigned more than one value in the same clause. "
                      "Modify the clause to make sure that a column is updated only once. If this "
                      "statement updates or inserts columns into a view, column aliasing can "
                      "conceal the duplication.");
    Ex x = Emit(*a.value, scope);
    sets.emplace_back(c, StoreConversion(x.sql, x.type, c->type));
  }
  std::string where = stmt.where ? Condition(*stmt.where, scope) : "";
  std::string sql;
  if (stmt.from.empty()) {
    sql = "UPDATE " + target->SqlName() + " AS " + target_src->sql_alias + " SET ";
    for (std::size_t i = 0; i < sets.size(); ++i) sql += (i ? ", " : "") + QuoteIdent(sets[i].first->name) + " = " + sets[i].second;
    if (!where.empty()) sql += " WHERE " + where;
  } else {
    // Compute the new values per matching target row, then touch only those rows.
    std::string sub = "SELECT " + target_src->sql_alias + ".rowid AS \"__zel_rid\"";
    for (std::size_t i = 0; i < sets.size(); ++i) sub += ", " + sets[i].second + " AS \"__zel_v" + std::to_string(i + 1) + "\"";
    sub += " FROM " + from;
    if (!where.empty()) sub += " WHERE " + where;
    sql = "UPDATE " + target->SqlName() + " AS \"__zel_target\" SET ";
    for (std::size_t i = 0; i < sets.size(); ++i)
      sql += (i ? ", " : "") + QuoteIdent(sets[i].first->name) + " = \"__zel_u\".\"__zel_v" + std::to_string(i + 1) + "\"";
    sql += " FROM (" + sub + ") AS \"__zel_u\" WHERE \"__zel_target\".rowid = \"__zel_u\".\"__zel_rid\"";
  }
  Translation tr = Finish(sql, StatementKind::Update);
  tr.target = target;
  tr.writes_main = !temp;
  return tr;
}

Translation Translator::Delete(const Stmt& stmt) {
  Scope scope;
  std::string from;
  for (std::size_t i = 0; i < stmt.from.size(); ++i) {
    std::string part = EmitRef(*stmt.from[i], scope);
    from += i ? (stmt.from[i]->kind == RefKind::Join ? ", (" + part + ")" : ", " + part) : part;
  }
  std::shared_ptr<const ObjectInfo> target;
  bool temp = false;
  const Source* target_src = DmlTarget(stmt, "DELETE from", scope, from, target, temp);
  std::string sql;
  if (stmt.from.empty()) {
    Source src;
    src.exposed = stmt.target.last();
    src.sql_alias = UniqueAlias(src.exposed);
    src.db = target->database;
    src.object = target;
    for (const ColumnInfo& c : target->columns) src.columns.push_back(SourceColumn{c.name, c.type});
    scope.sources.push_back(std::move(src));
    sql = "DELETE FROM " + target->SqlName() + " AS " + scope.sources.back().sql_alias;
    if (stmt.where) sql += " WHERE " + Condition(*stmt.where, scope);
  } else {
    std::string sub = "SELECT " + target_src->sql_alias + ".rowid FROM " + from;
    if (stmt.where) sub += " WHERE " + Condition(*stmt.where, scope);
    sql = "DELETE FROM " + target->SqlName() + " WHERE rowid IN (" + sub + ")";
  }
  Translation tr = Finish(sql, StatementKind::Delete);
  tr.target = target;
  tr.writes_main = !temp;
  return tr;
}

}  // namespace zel::db::embedded
