#include "db/embedded/ddl_emitter.h"

#include "db/client.h"
#include "db/embedded/lexer.h"
#include "db/embedded/translator.h"
#include "db/embedded/translator_internal.h"

namespace zel::db::embedded {

std::string CreateTableSql(const ObjectInfo& o, const std::string& storage) {
  const ColumnInfo* identity = o.IdentityColumn();
  std::string sql = "CREATE TABLE " + QuoteIdent(o.schema) + "." + QuoteIdent(storage) + " (";
  for (std::size_t i = 0; i < o.columns.size(); ++i) {
    const ColumnInfo& c = o.columns[i];
    if (i) sql += ", ";
    sql += QuoteIdent(c.name) + " ";
    if (c.identity) {
      sql += "INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL";
      continue;
    }
    sql += SqliteDeclaration(c.type);
    if (!c.nullable) sql += " NOT NULL";
    if (!c.default_sql.empty()) sql += " DEFAULT " + c.default_sql;
  }
  for (const KeyInfo& k : o.keys) {
    if (k.primary && identity && k.columns.size() == 1 &&
        EqualsNoCase(k.columns[0], identity->name))
      continue;
    sql += std::string(", ") + ((k.primary && !identity) ? "PRIMARY KEY (" : "UNIQUE (");
    for (std::size_t i = 0; i < k.columns.size(); ++i)
      sql += (i ? ", " : "") + QuoteIdent(k.columns[i]);
    sql += ")";
  }
  return sql + ")";
}

std::string CreateIndexSql(const ObjectInfo& o, const IndexInfo& ix) {
  std::string sql = std::string("CREATE ") + (ix.unique ? "UNIQUE " : "") + "INDEX " +
                    QuoteIdent(o.schema) + "." + QuoteIdent(o.storage + "." + ix.name) + " ON " +
                    QuoteIdent(o.storage) + " (";
  for (std::size_t i = 0; i < ix.columns.size(); ++i)
    sql += (i ? ", " : "") + QuoteIdent(ix.columns[i]);
  return sql + ")";
}

std::string DropIndexSql(const ObjectInfo& o, const std::string& index_name) {
  return "DROP INDEX " + QuoteIdent(o.schema) + "." + QuoteIdent(o.storage + "." + index_name);
}

std::string AddColumnSql(const ObjectInfo& o, const ColumnInfo& c) {
  std::string sql = "ALTER TABLE " + o.SqlName() + " ADD COLUMN " + QuoteIdent(c.name) + " " +
                    SqliteDeclaration(c.type);
  if (!c.default_sql.empty()) sql += " DEFAULT " + c.default_sql;
  return sql;
}

std::vector<ColumnInfo> BuildColumns(const std::vector<ColumnDefinition>& defs, int first_id,
                                     const TranslateEnv& env) {
  std::vector<ColumnInfo> out;
  for (const ColumnDefinition& d : defs) {
    ColumnInfo c;
    c.name = d.name;
    c.type = TypeFromSpec(d.type);
    c.nullable = d.nullable;
    c.identity = d.identity;
    c.seed = d.seed;
    c.increment = d.increment;
    c.column_id = first_id++;
    if (d.identity) {
      if (!(c.type.cls == TypeClass::Int ||
            (c.type.cls == TypeClass::Numeric && c.type.scale == 0)))
        throw DbError("Identity column '" + d.name +
                      "' must be of data type int, bigint, smallint, tinyint, or decimal or "
                      "numeric with a scale of 0, and constrained to be nonnullable.");
      if (d.increment != 1) internal::Unsupported("IDENTITY increment other than 1");
    }
    if (d.default_value) {
      Translator t(env);
      c.default_sql = t.DefaultExpression(*d.default_value, c.type);
    }
    out.push_back(std::move(c));
  }
  return out;
}

}  // namespace zel::db::embedded
