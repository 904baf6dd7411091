#include "db/embedded/alter_table.h"

#include <algorithm>

#include "db/client.h"
#include "db/embedded/ddl_emitter.h"
#include "db/embedded/lexer.h"
#include "db/embedded/translator.h"
#include "db/embedded/translator_internal.h"

namespace zel::db::embedded {

namespace {

int ColumnIndex(const ObjectInfo& t, const std::string& name) {
  int idx = -1;
  for (std::size_t i = 0; i < t.columns.size(); ++i)
    if (EqualsNoCase(t.columns[i].name, name)) idx = static_cast<int>(i);
  return idx;
}

void AddItems(const ObjectInfo& old, const AlterTableStmt& s, const TranslateEnv& env,
              const std::function<long long()>& row_count, AlterPlan& plan) {
  ObjectInfo& changed = plan.table;
  const std::string written = "dbo." + old.name;
  int next_id = 0;
  for (const ColumnInfo& c : old.columns) next_id = std::max(next_id, c.column_id);
  std::vector<ColumnInfo> added = BuildColumns(s.column_defs, next_id + 1, env);
  plan.add_in_place = s.constraints.empty();
  for (std::size_t i = 0; i < added.size(); ++i) {
    const ColumnInfo& c = added[i];
    const ColumnDefinition& d = s.column_defs[i];
    if (changed.FindColumn(c.name))
      throw DbError("Column names in each table must be unique. Column name '" + c.name +
                    "' in table '" + written + "' is specified more than once.");
    if (c.identity && changed.IdentityColumn())
      throw DbError("Multiple identity columns specified for table '" + old.name +
                    "'. Only one identity column per table is allowed.");
    if (!c.nullable && !c.identity && c.default_sql.empty() && row_count() > 0)
      throw DbError(
          "ALTER TABLE only allows columns to be added that can contain nulls, or have a DEFAULT "
          "definition specified, or the column being added is an identity or timestamp column, "
          "or alternatively if none of the previous conditions are satisfied the table must be "
          "empty to allow addition of this column. Column '" +
          c.name + "' cannot be added to non-empty table '" + old.name +
          "' because it does not satisfy these conditions.");
    bool literal_default = c.default_sql.empty() || c.default_sql[0] != '(';
    if (c.identity || !c.nullable || !literal_default || d.primary_key || d.unique)
      plan.add_in_place = false;
    if (d.primary_key) changed.keys.push_back(KeyInfo{0, d.constraint_name, true, {d.name}});
    if (d.unique) changed.keys.push_back(KeyInfo{0, d.constraint_name, false, {d.name}});
    changed.columns.push_back(c);
    // A new column takes its default (or NULL); a new identity numbers the rows.
    plan.sources.push_back(c.identity ? "" : (c.default_sql.empty() ? "NULL" : c.default_sql));
  }
  for (const TableConstraint& tc : s.constraints)
    changed.keys.push_back(KeyInfo{0, tc.name, tc.kind == ConstraintKind::PrimaryKey, tc.columns});
}

void DropColumns(const ObjectInfo& old, const AlterTableStmt& s, AlterPlan& plan) {
  ObjectInfo& changed = plan.table;
  for (const std::string& name : s.drop_names) {
    int idx = ColumnIndex(changed, name);
    if (idx < 0)
      throw DbError("ALTER TABLE DROP COLUMN failed because column '" + name +
                    "' does not exist in table '" + old.name + "'.");
    for (const KeyInfo& k : changed.keys)
      for (const std::string& kc : k.columns)
        if (EqualsNoCase(kc, name))
          throw DbError("The object '" + k.name + "' is dependent on column '" + name + "'.");
    for (const IndexInfo& ix : changed.indexes)
      for (const std::string& ic : ix.columns)
        if (EqualsNoCase(ic, name))
          throw DbError("The index '" + ix.name + "' is dependent on column '" + name + "'.");
    changed.columns.erase(changed.columns.begin() + idx);
    plan.sources.erase(plan.sources.begin() + idx);
  }
}

void DropConstraints(const AlterTableStmt& s, AlterPlan& plan) {
  std::vector<KeyInfo>& keys = plan.table.keys;
  for (const std::string& name : s.drop_names) {
    auto it = std::find_if(keys.begin(), keys.end(),
                           [&](const KeyInfo& k) { return EqualsNoCase(k.name, name); });
    if (it == keys.end()) throw DbError("'" + name + "' is not a constraint.");
    keys.erase(it);
  }
}

void AlterColumn(const AlterTableStmt& s, AlterPlan& plan) {
  const ColumnDefinition& d = s.column_defs[0];
  int idx = ColumnIndex(plan.table, d.name);
  if (idx < 0) throw DbError("Invalid column name '" + d.name + "'.");
  ColumnInfo& c = plan.table.columns[static_cast<std::size_t>(idx)];
  if (d.identity || d.default_value || d.primary_key || d.unique)
    internal::Unsupported("ALTER COLUMN with constraints");
  SqlType from = c.type;
  c.type = TypeFromSpec(d.type);
  c.nullable = d.nullable;
  plan.sources[static_cast<std::size_t>(idx)] =
      Translator::StoreConversion(QuoteIdent(c.name), from, c.type);
}

// Every key names existing columns (a primary key's become NOT NULL); one primary key.
void CheckKeys(const ObjectInfo& old, ObjectInfo& changed) {
  for (KeyInfo& k : changed.keys)
    for (const std::string& kc : k.columns) {
      bool found = false;
      for (ColumnInfo& c : changed.columns)
        if (EqualsNoCase(c.name, kc)) {
          found = true;
          if (k.primary) c.nullable = false;
        }
      if (!found)
        throw DbError("Column name '" + kc + "' does not exist in the target table or view.");
    }
  int pks = 0;
  for (const KeyInfo& k : changed.keys) pks += k.primary ? 1 : 0;
  if (pks > 1) throw DbError("Table '" + old.name + "' already has a primary key defined on it.");
}

}  // namespace

AlterPlan PlanAlterTable(const ObjectInfo& old, const AlterTableStmt& s, const TranslateEnv& env,
                         const std::function<long long()>& row_count) {
  AlterPlan plan;
  plan.table = old;
  for (const ColumnInfo& c : old.columns) plan.sources.push_back(QuoteIdent(c.name));
  switch (s.action) {
    case AlterAction::Add:
      AddItems(old, s, env, row_count, plan);
      break;
    case AlterAction::DropColumn:
      DropColumns(old, s, plan);
      break;
    case AlterAction::DropConstraint:
      DropConstraints(s, plan);
      break;
    case AlterAction::AlterColumn:
      AlterColumn(s, plan);
      break;
  }
  CheckKeys(old, plan.table);
  return plan;
}

}  // namespace zel::db::embedded
