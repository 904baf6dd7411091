#include "db/embedded/binder.h"

#include "db/client.h"
#include "db/embedded/lexer.h"
#include "db/embedded/system_views.h"
#include "db/embedded/translator_internal.h"

namespace zel::db::embedded {

using internal::Unsupported;

Binder::Binder(TranslateEnv env) : env_(std::move(env)) {}

// ------------------------------------------------------------------------ tables

ResolvedName Binder::Resolve(const ObjectName& name) const {
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
    auto it = env_.temp_tables->find(LowerAscii(r.name));
    if (it != env_.temp_tables->end()) r.object = it->second;
    return r;
  }
  if (const DatabaseInfo* db = env_.catalog->FindDatabase(r.database)) r.database = db->name;
  r.object = env_.catalog->Find(r.database, r.name);
  return r;
}

std::shared_ptr<const ObjectInfo> Binder::ResolveFunction(const std::vector<std::string>& p,
                                                          std::string* database) const {
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
  *database = db;
  return fn;
}

bool Binder::IsSystemView(const ObjectName& name) const {
  return FindSystemView(*env_.catalog, name, env_.current_db).has_value();
}

std::string Binder::AddTableSource(const TableRef& ref, Scope& scope, const ViewBinder& bind_view) {
  Source src =
      NewSource(ref.alias.empty() ? ref.name.last() : ref.alias, !ref.alias.empty(), scope);
  std::string sql;
  if (std::optional<SystemView> view = FindSystemView(*env_.catalog, ref.name, env_.current_db)) {
    for (auto& [name, type] : view->columns) src.columns.push_back(SourceColumn{name, type});
    sql = "(" + view->sql + ") AS " + src.sql_alias;
  } else {
    ResolvedName r = Resolve(ref.name);
    if (!r.object || r.object->type == "FN")
      throw DbError("Invalid object name '" + ref.name.Text() + "'.");
    src.db = r.database;
    if (r.object->type == "V") {
      sql = "(" + bind_view(*r.object, &src.columns) + ") AS " + src.sql_alias;
    } else {
      for (const ColumnInfo& c : r.object->columns)
        src.columns.push_back(SourceColumn{c.name, c.type});
      src.object = r.object;
      sql = r.object->SqlName() + " AS " + src.sql_alias;
    }
  }
  scope.sources.push_back(std::move(src));
  return sql;
}

Source Binder::NewSource(const std::string& exposed, bool has_alias, const Scope& scope) {
  Source src;
  src.exposed = exposed;
  src.has_alias = has_alias;
  CheckExposedName(scope, src.exposed);
  src.sql_alias = UniqueAlias(src.exposed);
  return src;
}

Source Binder::TableSource(const std::string& exposed, std::shared_ptr<const ObjectInfo> table) {
  Source src;
  src.exposed = exposed;
  src.sql_alias = UniqueAlias(src.exposed);
  src.db = table->database;
  for (const ColumnInfo& c : table->columns) src.columns.push_back(SourceColumn{c.name, c.type});
  src.object = std::move(table);
  return src;
}

void Binder::CheckExposedName(const Scope& scope, const std::string& name) const {
  for (const Source& s : scope.sources)
    if (EqualsNoCase(s.exposed, name))
      throw DbError("The objects \"" + s.exposed + "\" and \"" + name +
                    "\" in the FROM clause have the same exposed names. Use correlation names "
                    "to distinguish them.");
}

std::string Binder::UniqueAlias(const std::string& base) {
  std::string candidate = base.empty() ? std::string("t") : base;
  int n = 1;
  while (used_aliases_.count(LowerAscii(candidate))) candidate = base + "_" + std::to_string(++n);
  used_aliases_.insert(LowerAscii(candidate));
  return QuoteIdent(candidate);
}

// ------------------------------------------------------------------------ columns and values

Emitted Binder::BindColumn(const std::vector<std::string>& parts, const Scope& scope) const {
  const std::string& col = parts.back();
  if (parts.size() == 1) {
    if (EqualsNoCase(col, "CURRENT_TIMESTAMP"))
      return Emitted{"tsql_getdate()", SqlType{TypeClass::DateTime, 0, 0, 0, "datetime"}, "", {}};
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
        return Emitted{found->sql_alias + "." + QuoteIdent(found_col->name), found_col->type,
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
        if (match && q.size() >= 2 && !q[q.size() - 2].empty() &&
            !EqualsNoCase(q[q.size() - 2], "dbo"))
          match = false;
        if (match && q.size() >= 3 && !q[0].empty() && !EqualsNoCase(q[0], src.db)) match = false;
      }
      if (!match) continue;
      for (const SourceColumn& c : src.columns)
        if (EqualsNoCase(c.name, col))
          return Emitted{src.sql_alias + "." + QuoteIdent(c.name), c.type, c.name, parts};
      throw DbError("Invalid column name '" + col + "'.");
    }
  }
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? "." : "") + parts[i];
  throw DbError("The multi-part identifier \"" + text + "\" could not be bound.");
}

Emitted Binder::BindVariable(const std::string& text) {
  std::string name = LowerAscii(text);
  Binding b;
  if (name.size() > 2 && name[1] == '@') {
    static const std::map<std::string, SqlType> kSystem = {
        {"@@rowcount", SqlType::Int()},
        {"@@identity", SqlType{TypeClass::Numeric, 0, 38, 0, "numeric"}},
        {"@@error", SqlType::Int()},
        {"@@trancount", SqlType::Int()},
        {"@@spid", SqlType::Int("smallint")},
        {"@@version", SqlType::VarChar(300, "nvarchar")},
        {"@@servername", SqlType::VarChar(128, "nvarchar")},
        {"@@fetch_status", SqlType::Int()},
        {"@@nestlevel", SqlType::Int()}};
    auto it = kSystem.find(name);
    if (it == kSystem.end()) Unsupported("system variable " + text);
    b.kind = Binding::Kind::System;
    b.name = name;
    return Emitted{Bind(b), it->second, "", {}};
  }
  const SqlType& type = VariableType(name, text);
  b.kind = Binding::Kind::Variable;
  b.name = name;
  return Emitted{Bind(b), type, "", {}};
}

const SqlType& Binder::VariableType(const std::string& lower_name,
                                    const std::string& as_written) const {
  if (!env_.variables || !env_.variables->count(lower_name))
    throw DbError("Must declare the scalar variable \"" + as_written + "\".");
  return env_.variables->at(lower_name);
}

std::string Binder::Bind(Binding b) {
  for (std::size_t i = 0; i < bindings_.size(); ++i) {
    const Binding& x = bindings_[i];
    if (x.kind == b.kind && x.index == b.index && x.name == b.name)
      return "?" + std::to_string(i + 1);
  }
  bindings_.push_back(std::move(b));
  return "?" + std::to_string(bindings_.size());
}

// ------------------------------------------------------------------------ DML targets

ResolvedName Binder::BindInsertTarget(const ObjectName& target) const {
  ResolvedName r = Resolve(target);
  if (IsSystemView(target)) throw DbError("Ad hoc updates to system catalogs are not allowed.");
  if (!r.object) throw DbError("Invalid object name '" + target.Text() + "'.");
  if (r.object->type != "U") Unsupported("INSERT into a view");
  return r;
}

DmlTargetBinding Binder::BindDmlTarget(const ObjectName& target, bool has_from, const char* verb,
                                       Scope& scope, std::string& from) {
  DmlTargetBinding out;
  if (target.parts.size() == 1) {
    for (const Source& s : scope.sources)
      if (s.has_alias && EqualsNoCase(s.exposed, target.last())) out.source = &s;
    if (out.source) {
      if (!out.source->object) Unsupported(std::string(verb) + " a derived table or view");
      out.object = out.source->object;
      out.temp = out.object->schema == "temp";
      return out;
    }
  }
  ResolvedName r = Resolve(target);
  if (IsSystemView(target)) throw DbError("Ad hoc updates to system catalogs are not allowed.");
  if (!r.object) throw DbError("Invalid object name '" + target.Text() + "'.");
  if (r.object->type != "U") Unsupported(std::string(verb) + " a view");
  out.object = r.object;
  out.temp = r.temp;
  auto same_table = [&](const Source& s) {
    return s.object && s.object->object_id == out.object->object_id &&
           s.object->schema == out.object->schema;
  };
  int count = 0;
  for (const Source& s : scope.sources) {
    if (same_table(s) && !s.has_alias) {
      out.source = &s;
      ++count;
    }
  }
  if (count == 0) {
    for (const Source& s : scope.sources) {
      if (same_table(s)) {
        out.source = &s;
        ++count;
      }
    }
  }
  if (count > 1) throw DbError("The table '" + target.last() + "' is ambiguous.");
  if (count == 0 && has_from) {
    CheckExposedName(scope, target.last());
    Source src = TableSource(target.last(), out.object);
    from += ", " + out.object->SqlName() + " AS " + src.sql_alias;
    scope.sources.push_back(std::move(src));
    out.source = &scope.sources.back();
  }
  return out;
}

}  // namespace zel::db::embedded
