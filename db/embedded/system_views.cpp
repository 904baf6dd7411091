#include "db/embedded/system_views.h"

#include "db/client.h"
#include "db/embedded/lexer.h"

namespace zel::db::embedded {

std::optional<SystemView> FindSystemView(const Catalog& catalog, const ObjectName& name,
                                         const std::string& current) {
  SystemView view;
  const auto& p = name.parts;
  std::string table = LowerAscii(p.back());
  std::string schema = p.size() >= 2 ? LowerAscii(p[p.size() - 2]) : "";
  std::string db = current;
  if (p.size() == 3 && !p[0].empty()) db = p[0];
  if (const DatabaseInfo* d = catalog.FindDatabase(db)) db = d->name;
  bool sys = schema == "sys";
  bool compat = schema.empty() || schema == "dbo" || sys;
  auto col = [&](const char* n, SqlType t) { view.columns.emplace_back(n, t); };
  SqlType sysname = SqlType::VarChar(128, "nvarchar");
  std::string dbq = QuoteText(db);
  if ((sys || compat) &&
      (table == "sysprocesses" || table == "dm_exec_sessions" || table == "dm_exec_connections"))
    throw DbError(std::string(sys ? "sys." : "") + p.back() +
                  " is not supported by the embedded engine.");
  if ((sys && table == "databases") || (compat && table == "sysdatabases")) {
    col("name", sysname);
    col("database_id", SqlType::Int());
    col("dbid", SqlType::Int());
    col("is_distributor", SqlType::Bit());
    col("state", SqlType::Int());
    col("state_desc", SqlType::VarChar(60, "nvarchar"));
    col("create_date", SqlType{TypeClass::DateTime, 0, 0, 0, "datetime"});
    view.sql =
        "SELECT 'master' AS name, 1 AS database_id, 1 AS dbid, 0 AS is_distributor, 0 AS state, "
        "'ONLINE' AS state_desc, NULL AS create_date UNION ALL SELECT 'tempdb', 2, 2, 0, 0, "
        "'ONLINE', NULL UNION ALL SELECT 'model', 3, 3, 0, 0, 'ONLINE', NULL UNION ALL SELECT "
        "'msdb', 4, 4, 0, 0, 'ONLINE', NULL UNION ALL SELECT name, database_id, database_id, 0, "
        "0, 'ONLINE', create_date FROM main.__zel_databases";
    return view;
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
      view.sql =
          "SELECT object_id, name, column_id, max_length, precision, scale, is_nullable, "
          "is_identity FROM main.__zel_columns WHERE db = " +
          dbq + " COLLATE NOCASE";
      return view;
    }
    col("id", SqlType::Int());
    col("name", sysname);
    col("colid", SqlType::Int("smallint"));
    col("length", SqlType::Int("smallint"));
    col("isnullable", SqlType::Int());
    view.sql =
        "SELECT object_id AS id, name, column_id AS colid, max_length AS length, is_nullable "
        "AS isnullable FROM main.__zel_columns WHERE db = " +
        dbq + " COLLATE NOCASE";
    return view;
  }
  std::string filter;
  if (sys && (table == "objects" || table == "tables" || table == "views")) {
    filter = table == "tables"  ? "type = 'U'"
             : table == "views" ? "type = 'V'"
                                : "type IN ('U','V','FN','PK','UQ')";
    col("name", sysname);
    col("object_id", SqlType::Int());
    col("type", SqlType::Char(2));
    col("type_desc", SqlType::VarChar(60, "nvarchar"));
    col("parent_object_id", SqlType::Int());
    col("schema_id", SqlType::Int());
    col("create_date", SqlType{TypeClass::DateTime, 0, 0, 0, "datetime"});
    view.sql =
        "SELECT name, object_id, type, CASE type WHEN 'U' THEN 'USER_TABLE' WHEN 'V' THEN "
        "'VIEW' WHEN 'FN' THEN 'SQL_SCALAR_FUNCTION' WHEN 'PK' THEN 'PRIMARY_KEY_CONSTRAINT' "
        "ELSE 'UNIQUE_CONSTRAINT' END AS type_desc, parent_object_id, 1 AS schema_id, "
        "create_date FROM main.__zel_objects WHERE db = " +
        dbq + " COLLATE NOCASE AND " + filter;
    return view;
  }
  if (compat && table == "sysobjects") {
    col("name", sysname);
    col("id", SqlType::Int());
    col("xtype", SqlType::Char(2));
    col("type", SqlType::Char(2));
    col("parent_obj", SqlType::Int());
    col("uid", SqlType::Int("smallint"));
    col("crdate", SqlType{TypeClass::DateTime, 0, 0, 0, "datetime"});
    view.sql =
        "SELECT name, object_id AS id, type AS xtype, type, parent_object_id AS parent_obj, 1 "
        "AS uid, create_date AS crdate FROM main.__zel_objects WHERE db = " +
        dbq + " COLLATE NOCASE AND type IN ('U','V','FN','PK','UQ')";
    return view;
  }
  if (schema == "information_schema" && (table == "tables" || table == "columns")) {
    col("TABLE_CATALOG", sysname);
    col("TABLE_SCHEMA", sysname);
    col("TABLE_NAME", sysname);
    if (table == "tables") {
      col("TABLE_TYPE", SqlType::VarChar(10));
      view.sql =
          "SELECT db AS TABLE_CATALOG, 'dbo' AS TABLE_SCHEMA, name AS TABLE_NAME, CASE type "
          "WHEN 'U' THEN 'BASE TABLE' ELSE 'VIEW' END AS TABLE_TYPE FROM main.__zel_objects "
          "WHERE db = " +
          dbq + " COLLATE NOCASE AND type IN ('U','V')";
      return view;
    }
    col("COLUMN_NAME", sysname);
    col("ORDINAL_POSITION", SqlType::Int());
    col("IS_NULLABLE", SqlType::VarChar(3));
    col("DATA_TYPE", sysname);
    view.sql =
        "SELECT o.db AS TABLE_CATALOG, 'dbo' AS TABLE_SCHEMA, o.name AS TABLE_NAME, c.name AS "
        "COLUMN_NAME, c.column_id AS ORDINAL_POSITION, CASE c.is_nullable WHEN 1 THEN 'YES' "
        "ELSE 'NO' END AS IS_NULLABLE, CASE WHEN instr(c.type_text, '(') > 0 THEN "
        "substr(c.type_text, 1, instr(c.type_text, '(') - 1) ELSE c.type_text END AS DATA_TYPE "
        "FROM main.__zel_columns c JOIN main.__zel_objects o ON o.object_id = c.object_id "
        "WHERE c.db = " +
        dbq + " COLLATE NOCASE";
    return view;
  }
  return std::nullopt;
}

}  // namespace zel::db::embedded
