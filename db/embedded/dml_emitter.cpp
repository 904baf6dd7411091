#include "db/client.h"
#include "db/embedded/translator.h"
#include "db/embedded/translator_internal.h"

// The emitters of INSERT, UPDATE and DELETE: values converted to the target's column types
// on the way in, and SQL Server's UPDATE … FROM / DELETE … FROM written as SQLite
// statements over the target's rowids.

namespace zel::db::embedded {

using internal::Unsupported;

namespace {

// The target columns of an INSERT: the listed ones, or all but the identity.
std::vector<const ColumnInfo*> InsertColumns(const ObjectInfo& t,
                                             const std::vector<std::string>& listed) {
  std::vector<const ColumnInfo*> cols;
  if (listed.empty()) {
    for (const ColumnInfo& c : t.columns)
      if (!c.identity) cols.push_back(&c);
  } else {
    for (const std::string& name : listed) {
      const ColumnInfo* c = t.FindColumn(name);
      if (!c) throw DbError("Invalid column name '" + name + "'.");
      if (c->identity)
        throw DbError("Cannot insert explicit value for identity column in table '" + t.name +
                      "' when IDENTITY_INSERT is set to OFF.");
      for (const ColumnInfo* d : cols)
        if (d == c)
          throw DbError(
              "The column name '" + name +
              "' is specified more than once in the SET clause or column list of an "
              "INSERT. A column cannot be assigned more than one value in the same "
              "clause. Modify the clause to make sure that a column is updated only once. "
              "If this statement updates or inserts columns into a view, column aliasing "
              "can conceal the duplication.");
      cols.push_back(c);
    }
  }
  return cols;
}

}  // namespace

// INSERT … VALUES: each row's values converted to the columns' types.
std::string Translator::InsertValues(const InsertStmt& stmt,
                                     const std::vector<const ColumnInfo*>& cols,
                                     const std::string& head) {
  std::string sql = head + " VALUES ";
  for (std::size_t row = 0; row < stmt.values.size(); ++row) {
    const auto& vals = stmt.values[row];
    if (stmt.columns.empty() && vals.size() != cols.size())
      throw DbError("Column name or number of supplied values does not match table definition.");
    if (vals.size() < cols.size())
      throw DbError(
          "There are more columns in the INSERT statement than values specified in the "
          "VALUES clause. The number of values in the VALUES clause must match the "
          "number of columns specified in the INSERT statement.");
    if (vals.size() > cols.size())
      throw DbError(
          "There are fewer columns in the INSERT statement than values specified in the "
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
  return sql;
}

// INSERT … SELECT: the query's columns converted to the target's on the way in.
std::string Translator::InsertSelect(const InsertStmt& stmt,
                                     const std::vector<const ColumnInfo*>& cols,
                                     const std::string& head) {
  std::string sql;
  QueryOut q = EmitSelect(*stmt.select, nullptr, false);
  if (stmt.columns.empty() && q.columns.size() != cols.size())
    throw DbError("Column name or number of supplied values does not match table definition.");
  if (q.columns.size() < cols.size())
    throw DbError(
        "The select list for the INSERT statement contains fewer items than the insert "
        "list. The number of SELECT values must match the number of INSERT columns.");
  if (q.columns.size() > cols.size())
    throw DbError(
        "The select list for the INSERT statement contains more items than the insert "
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
  return sql;
}

Translation Translator::Insert(const InsertStmt& stmt) {
  ResolvedName r = binder_.BindInsertTarget(stmt.target);
  const ObjectInfo& t = *r.object;
  std::vector<const ColumnInfo*> cols = InsertColumns(t, stmt.columns);
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
  std::string sql =
      stmt.values.empty() ? InsertSelect(stmt, cols, head) : InsertValues(stmt, cols, head);
  Translation tr = Finish(sql, StatementKind::Insert);
  tr.target = r.object;
  tr.writes_main = !r.temp;
  return tr;
}

Translation Translator::Update(const UpdateStmt& stmt) {
  Scope scope;
  std::string from = EmitFrom(stmt.from, scope);
  // Which source is the row being updated.
  DmlTargetBinding bound =
      binder_.BindDmlTarget(stmt.target, !stmt.from.empty(), "UPDATE of", scope, from);
  const std::shared_ptr<const ObjectInfo>& target = bound.object;
  const bool temp = bound.temp;
  const Source* target_src = bound.source;
  if (stmt.from.empty()) {
    scope.sources.push_back(binder_.TableSource(stmt.target.last(), target));
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
    for (std::size_t i = 0; i < sets.size(); ++i)
      sql += (i ? ", " : "") + QuoteIdent(sets[i].first->name) + " = " + sets[i].second;
    if (!where.empty()) sql += " WHERE " + where;
  } else {
    // Compute the new values per matching target row, then touch only those rows.
    std::string sub = "SELECT " + target_src->sql_alias + ".rowid AS \"__zel_rid\"";
    for (std::size_t i = 0; i < sets.size(); ++i)
      sub += ", " + sets[i].second + " AS \"__zel_v" + std::to_string(i + 1) + "\"";
    sub += " FROM " + from;
    if (!where.empty()) sub += " WHERE " + where;
    sql = "UPDATE " + target->SqlName() + " AS \"__zel_target\" SET ";
    for (std::size_t i = 0; i < sets.size(); ++i)
      sql += (i ? ", " : "") + QuoteIdent(sets[i].first->name) + " = \"__zel_u\".\"__zel_v" +
             std::to_string(i + 1) + "\"";
    sql += " FROM (" + sub +
           ") AS \"__zel_u\" WHERE \"__zel_target\".rowid = \"__zel_u\".\"__zel_rid\"";
  }
  Translation tr = Finish(sql, StatementKind::Update);
  tr.target = target;
  tr.writes_main = !temp;
  return tr;
}

Translation Translator::Delete(const DeleteStmt& stmt) {
  Scope scope;
  std::string from = EmitFrom(stmt.from, scope);
  DmlTargetBinding bound =
      binder_.BindDmlTarget(stmt.target, !stmt.from.empty(), "DELETE from", scope, from);
  const std::shared_ptr<const ObjectInfo>& target = bound.object;
  const bool temp = bound.temp;
  const Source* target_src = bound.source;
  std::string sql;
  if (stmt.from.empty()) {
    scope.sources.push_back(binder_.TableSource(stmt.target.last(), target));
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
