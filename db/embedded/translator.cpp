#include "db/embedded/translator.h"

#include <algorithm>
#include <optional>

#include "db/client.h"
#include "db/embedded/lexer.h"
#include "db/embedded/translator_internal.h"
#include "util/parse_int.h"

namespace zel::db::embedded {

using internal::Unsupported;

std::string StorageName(const std::string& database, const std::string& table) {
  return database + "." + table;
}

Translator::Translator(TranslateEnv env) : binder_(std::move(env)) {}

ResolvedName Translator::Resolve(const ObjectName& name) const { return binder_.Resolve(name); }

Translation Translator::Finish(std::string sql, StatementKind kind) {
  Translation t;
  t.kind = kind;
  t.sql = std::move(sql);
  t.bindings = binder_.bindings();
  return t;
}

Translator::NestingGuard::NestingGuard(Translator& t, const std::string& db,
                                       std::map<std::string, Ex>* arguments)
    : t_(t), saved_db_(t.binder_.current_db()) {
  if (t_.depth_ + 1 > kMaxNestingLevel) throw DbError(kNestingTooDeep);
  ++t_.depth_;
  t_.binder_.set_current_db(db);
  if (arguments) {
    t_.substitutions_.push_back(std::move(*arguments));
    arguments_ = true;
  }
}

Translator::NestingGuard::~NestingGuard() {
  if (arguments_) t_.substitutions_.pop_back();
  t_.binder_.set_current_db(std::move(saved_db_));
  --t_.depth_;
}

// ------------------------------------------------------------------------ FROM

std::string Translator::EmitFrom(const std::vector<std::unique_ptr<TableRef>>& from, Scope& scope) {
  std::string sql;
  for (std::size_t i = 0; i < from.size(); ++i) {
    std::string part = EmitRef(*from[i], scope);
    if (i)
      sql += from[i]->kind == RefKind::Join ? ", (" + part + ")" : ", " + part;
    else
      sql += part;
  }
  return sql;
}

std::string Translator::EmitRef(const TableRef& ref, Scope& scope) {
  switch (ref.kind) {
    case RefKind::Table:
      return binder_.AddTableSource(
          ref, scope, [this](const ObjectInfo& view, std::vector<SourceColumn>* columns) {
            return EmitView(view, columns);
          });
    case RefKind::Derived:
      return EmitDerived(ref, scope);
    case RefKind::Join:
      return EmitJoin(ref, scope);
    case RefKind::Unpivot:
      return EmitUnpivot(ref, scope);
  }
  Unsupported("table reference");
}

// A view's query, bound in the view's own database.
std::string Translator::EmitView(const ObjectInfo& view, std::vector<SourceColumn>* columns) {
  NestingGuard nested(*this, view.database, nullptr);
  std::shared_ptr<const Batch> batch = internal::ParseDefinition(view.definition);
  if (batch->statements.size() != 1 || batch->statements[0]->kind != StmtKind::CreateView)
    throw DbError("The definition of view '" + view.name + "' cannot be read.");
  QueryOut q = EmitSelect(*batch->statements[0]->As<CreateViewStmt>().select, nullptr, true);
  for (const OutColumn& c : q.columns) columns->push_back(SourceColumn{c.name, c.type});
  return q.sql;
}

std::string Translator::EmitDerived(const TableRef& ref, Scope& scope) {
  QueryOut q = EmitSelect(*ref.select, scope.parent, true);
  Source src = binder_.NewSource(ref.alias, true, scope);
  if (!ref.column_aliases.empty()) {
    if (ref.column_aliases.size() < q.columns.size())
      throw DbError("'" + ref.alias + "' has more columns than were specified in the column list.");
    if (ref.column_aliases.size() > q.columns.size())
      throw DbError("'" + ref.alias +
                    "' has fewer columns than were specified in the column list.");
    // SQLite names a subquery's columns through a common table expression.
    std::string cte = binder_.UniqueAlias(ref.alias + "_cols");
    std::string names;
    for (std::size_t i = 0; i < q.columns.size(); ++i) {
      q.columns[i].name = ref.column_aliases[i];
      names += (i ? ", " : "") + QuoteIdent(ref.column_aliases[i]);
    }
    q.sql = "WITH " + cte + "(" + names + ") AS (" + q.sql + ") SELECT * FROM " + cte;
  }
  for (std::size_t i = 0; i < q.columns.size(); ++i) {
    if (q.columns[i].name.empty())
      throw DbError("No column name was specified for column " + std::to_string(i + 1) + " of '" +
                    ref.alias + "'.");
    src.columns.push_back(SourceColumn{q.columns[i].name, q.columns[i].type});
  }
  scope.sources.push_back(std::move(src));
  return "(" + q.sql + ") AS " + scope.sources.back().sql_alias;
}

std::string Translator::EmitJoin(const TableRef& ref, Scope& scope) {
  std::string l = EmitRef(*ref.left, scope);
  std::string r = EmitRef(*ref.right, scope);
  if (ref.right->kind == RefKind::Join) r = "(" + r + ")";
  std::string kw = ref.join_type == JoinType::Inner
                       ? " JOIN "
                       : std::string(" ") + JoinTypeText(ref.join_type) + " JOIN ";
  std::string sql = l + kw + r;
  if (ref.on) sql += " ON " + Condition(*ref.on, scope);
  return sql;
}

std::string Translator::EmitUnpivot(const TableRef& ref, Scope& scope) {
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
    sql += QuoteText(ref.in_columns[i]) + " AS " + QuoteIdent(ref.for_column) + ", " + s.sql_alias +
           "." + QuoteIdent(pivoted[i]->name) + " AS " + QuoteIdent(ref.value_column) + " FROM " +
           src_sql + " WHERE " + s.sql_alias + "." + QuoteIdent(pivoted[i]->name) + " IS NOT NULL";
  }
  Source out = binder_.NewSource(ref.alias, true, scope);
  for (const SourceColumn* k : kept) out.columns.push_back(*k);
  out.columns.push_back(SourceColumn{ref.for_column, SqlType::VarChar(128, "nvarchar")});
  out.columns.push_back(SourceColumn{ref.value_column, pivoted[0]->type});
  scope.sources.push_back(std::move(out));
  return "(" + sql + ") AS " + scope.sources.back().sql_alias;
}

// ------------------------------------------------------------------------ queries

// A query: one core, or cores joined by set operations with the column types merged and an
// ORDER BY over the combined columns.
Translator::QueryOut Translator::EmitSelect(const Select& s, const Scope* parent,
                                            bool name_columns) {
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
  for (std::size_t i = 1; i < parts.size(); ++i) MergeSetColumnTypes(out.columns, parts[i].columns);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out.sql += std::string(" ") + SetOpText(s.set_ops[i - 1]) + " ";
    out.sql += parts[i].sql;
  }
  if (!s.order_by.empty()) out.sql += " ORDER BY " + SetOrderBy(s.order_by, out.columns);
  return out;
}

// The type of each combined column: NULL takes the other side's type, texts widen to the
// longer (char only when both are char of one length), numbers to the higher; unlike
// classes leave the type unknown.
void Translator::MergeSetColumnTypes(std::vector<OutColumn>& columns,
                                     const std::vector<OutColumn>& next) {
  for (std::size_t c = 0; c < columns.size(); ++c) {
    SqlType& a = columns[c].type;
    const SqlType& b = next[c].type;
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

// ORDER BY of a set operation: every item is a position or names a combined column.
std::string Translator::SetOrderBy(const std::vector<OrderItem>& order,
                                   const std::vector<OutColumn>& columns) {
  std::string sql;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const Expr& e = *order[i].expr;
    int ordinal = OrderPosition(e, columns.size());
    if (ordinal < 0 && e.kind == ExprKind::Column) ordinal = SetColumnPosition(e, columns);
    if (ordinal < 0)
      throw DbError(
          "ORDER BY items must appear in the select list if the statement contains a UNION, "
          "INTERSECT or EXCEPT operator.");
    if (i) sql += ", ";
    sql += std::to_string(ordinal);
    if (columns[ordinal - 1].type.IsString() || !columns[ordinal - 1].type.IsKnown())
      sql += " COLLATE TSQL";
    if (order[i].descending) sql += " DESC";
  }
  return sql;
}

// The 1-based position an ORDER BY integer names (raising when out of range); -1 for
// any other expression.
int Translator::OrderPosition(const Expr& e, std::size_t columns) {
  if (e.kind != ExprKind::Integer) return -1;
  const std::optional<int> ordinal = util::ParseInt<int>(e.text);
  if (!ordinal || *ordinal < 1 || *ordinal > static_cast<int>(columns))
    throw DbError("The ORDER BY position number " + e.text +
                  " is out of range of the number of items in the select list.");
  return *ordinal;
}

// The 1-based position of the combined column a name denotes (by its name alone, or by all
// the parts of a qualified one); -1 when none.
int Translator::SetColumnPosition(const Expr& e, const std::vector<OutColumn>& columns) {
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const OutColumn& oc = columns[c];
    if (e.name.size() == 1) {
      if (EqualsNoCase(oc.name, e.name[0])) return static_cast<int>(c) + 1;
    } else if (oc.parts.size() == e.name.size()) {
      bool same = true;
      for (std::size_t k = 0; k < e.name.size(); ++k)
        if (!EqualsNoCase(oc.parts[k], e.name[k])) same = false;
      if (same) return static_cast<int>(c) + 1;
    }
  }
  return -1;
}

// One SELECT core, its clauses in the order SQL Server binds them: FROM, the select list,
// WHERE, GROUP BY, HAVING, ORDER BY, TOP.
Translator::QueryOut Translator::EmitCore(const SelectCore& core, const Scope* parent,
                                          const std::vector<OrderItem>* order, bool name_columns,
                                          bool allow_into) {
  if (!core.into.empty() && !allow_into) Unsupported("SELECT … INTO inside another statement");
  Scope scope;
  scope.parent = parent;
  std::string from = EmitFrom(core.from, scope);
  QueryOut out;
  std::vector<std::string> items;
  for (const SelectItem& item : core.items) {
    if (item.star)
      EmitStarItem(item, scope, items, out.columns);
    else
      EmitSelectItem(item, scope, items, out.columns);
  }
  std::string sql = core.distinct ? "SELECT DISTINCT " : "SELECT ";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) sql += ", ";
    sql += items[i];
    if (name_columns && !out.columns[i].name.empty())
      sql += " AS " + QuoteIdent(out.columns[i].name);
  }
  if (!from.empty()) sql += " FROM " + from;
  if (core.where) sql += " WHERE " + Condition(*core.where, scope);
  if (!core.group_by.empty()) sql += " GROUP BY " + GroupBy(core.group_by, scope);
  if (core.having) sql += " HAVING " + Condition(*core.having, scope);
  if (order && !order->empty()) sql += " ORDER BY " + CoreOrderBy(core, *order, out.columns, scope);
  sql += Top(core);
  out.sql = std::move(sql);
  return out;
}

// * or q.*: the columns of every source (or of the one the qualifier names).
void Translator::EmitStarItem(const SelectItem& item, const Scope& scope,
                              std::vector<std::string>& items, std::vector<OutColumn>& columns) {
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
      columns.push_back(OutColumn{c.name, c.type, {s.exposed, c.name}});
    }
  }
  if (!any) {
    if (item.star_qualifier.empty())
      throw DbError("SELECT * with no tables specified is not valid.");
    std::string q;
    for (const std::string& p : item.star_qualifier) q += p + ".";
    throw DbError("The multi-part identifier \"" + q + "*\" could not be bound.");
  }
}

// An expression of the select list; a computed text or date compares under TSQL.
void Translator::EmitSelectItem(const SelectItem& item, const Scope& scope,
                                std::vector<std::string>& items, std::vector<OutColumn>& columns) {
  if (!item.assign_variable.empty()) Unsupported("variable assignment mixed with a result set");
  Ex x = Emit(*item.expr, scope);
  std::string sql = x.sql;
  if (x.column_name.empty() && (x.type.IsString() || x.type.cls == TypeClass::DateTime))
    sql = "(" + sql + ") COLLATE TSQL";
  items.push_back(sql);
  columns.push_back(OutColumn{item.has_alias ? item.alias : x.column_name, x.type, x.parts});
}

std::string Translator::GroupBy(const std::vector<ExprPtr>& group_by, const Scope& scope) {
  std::string sql;
  for (std::size_t i = 0; i < group_by.size(); ++i) {
    Ex g = Emit(*group_by[i], scope);
    if (i) sql += ", ";
    sql += g.sql;
    if (g.column_name.empty() && g.type.IsString()) sql += " COLLATE TSQL";
  }
  return sql;
}

// ORDER BY of one core: a position, a select-list alias (not beside a *), or an expression.
std::string Translator::CoreOrderBy(const SelectCore& core, const std::vector<OrderItem>& order,
                                    const std::vector<OutColumn>& columns, const Scope& scope) {
  bool stars = false;
  for (const SelectItem& it : core.items) stars = stars || it.star;
  std::string sql;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const Expr& e = *order[i].expr;
    if (i) sql += ", ";
    int ordinal = OrderPosition(e, columns.size());
    if (ordinal < 0 && e.kind == ExprKind::Column && e.name.size() == 1 && !stars) {
      for (std::size_t c = 0; c < core.items.size() && ordinal < 0; ++c)
        if (core.items[c].has_alias && EqualsNoCase(core.items[c].alias, e.name[0]))
          ordinal = static_cast<int>(c) + 1;
    }
    if (ordinal > 0) {
      sql += std::to_string(ordinal);
      if (columns[ordinal - 1].type.IsString()) sql += " COLLATE TSQL";
    } else {
      Ex o = Emit(e, scope);
      sql += o.sql;
      if (o.column_name.empty() && o.type.IsString()) sql += " COLLATE TSQL";
    }
    if (order[i].descending) sql += " DESC";
  }
  return sql;
}

// TOP n as LIMIT; TOP 100 PERCENT is every row.
std::string Translator::Top(const SelectCore& core) {
  if (!core.top) return "";
  if (core.top_percent) {
    if (!(core.top->kind == ExprKind::Integer && core.top->text == "100"))
      Unsupported("TOP n PERCENT other than 100");
    return "";
  }
  Scope empty;
  return " LIMIT " + Emit(*core.top, empty).sql;
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
  std::string sql = condition
                        ? "SELECT CASE WHEN " + x.sql + " THEN 1 ELSE 0 END"
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
    assigned.insert(LowerAscii(it.assign_variable));
  }
  Scope scope;
  std::string from;
  for (std::size_t i = 0; i < core.from.size(); ++i)
    from += (i ? ", " : "") + EmitRef(*core.from[i], scope);
  if (!core.from.empty())
    for (const SelectItem& it : core.items)
      if (internal::ReferencesVariable(*it.expr, assigned))
        Unsupported("accumulating variable assignment in SELECT");
  std::string sql = core.distinct ? "SELECT DISTINCT " : "SELECT ";
  for (std::size_t i = 0; i < core.items.size(); ++i) {
    const SelectItem& it = core.items[i];
    std::string var = LowerAscii(it.assign_variable);
    const SqlType& type = binder_.VariableType(var, it.assign_variable);
    Ex x = Emit(*it.expr, scope);
    sql += (i ? ", " : "") + CastConversion(x.sql, x.type, type);
    variables->push_back(var);
  }
  if (!from.empty()) sql += " FROM " + from;
  if (core.where) sql += " WHERE " + Condition(*core.where, scope);
  if (!core.group_by.empty()) {
    sql += " GROUP BY ";
    for (std::size_t i = 0; i < core.group_by.size(); ++i)
      sql += (i ? ", " : "") + Emit(*core.group_by[i], scope).sql;
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

}  // namespace zel::db::embedded
