// The embedded connection's DDL executor for tables: CREATE TABLE and SELECT … INTO (a # table
// in SQLite's temp schema, any other in the file under its database's prefix), DROP TABLE,
// TRUNCATE TABLE (the identity restarted at its seed) and ALTER TABLE (a column added in
// place, any other change by rebuilding the table and copying its rows).
// Each connection is used by one thread; schema changes go through ChangeSchema.
#include <sqlite3.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "db/client.h"
#include "db/embedded/alter_table.h"
#include "db/embedded/catalog.h"
#include "db/embedded/connection.h"
#include "db/embedded/ddl_emitter.h"
#include "db/embedded/translator_internal.h"

namespace zel::db::embedded {

namespace {

std::atomic<long long> g_temp_object_ids{1000000000};

}  // namespace

std::string NowText() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S.000", &tm);
  return buf;
}

long long NextTempObjectId() { return ++g_temp_object_ids; }

std::vector<ColumnInfo> ColumnsOfQuery(const Translation& q) {
  std::vector<ColumnInfo> cols;
  for (std::size_t i = 0; i < q.columns.size(); ++i) {
    ColumnInfo c;
    c.name = q.columns[i];
    c.type = q.types[i].IsKnown() ? q.types[i] : SqlType::VarChar(-1);
    if (c.type.IsString() && c.type.length == 0) c.type.length = 1;
    c.column_id = static_cast<int>(i) + 1;
    cols.push_back(std::move(c));
  }
  return cols;
}

void EmbeddedConnection::CreateIndexes(const ObjectInfo& o) {
  for (const IndexInfo& ix : o.indexes) ExecSqlite(db_, CreateIndexSql(o, ix));
}

void EmbeddedConnection::PublishTemp(std::shared_ptr<const ObjectInfo> o) {
  temp_tables_[LowerAscii(o->name)] = std::move(o);
}

void EmbeddedConnection::CheckNewTable(const ResolvedName& r, const std::string& written,
                                       const std::vector<ColumnInfo>& columns) const {
  if (r.object) throw DbError("There is already an object named '" + r.name + "' in the database.");
  if (!r.temp && !r.global_temp && !catalog_->FindDatabase(r.database))
    throw DbError("Database '" + r.database +
                  "' does not exist. Make sure that the name is entered correctly.");
  if (columns.empty()) throw DbError("Incorrect syntax near ')'.");
  for (std::size_t i = 0; i < columns.size(); ++i)
    for (std::size_t j = i + 1; j < columns.size(); ++j)
      if (EqualsNoCase(columns[i].name, columns[j].name))
        throw DbError("Column names in each table must be unique. Column name '" + columns[j].name +
                      "' in table '" + written + "' is specified more than once.");
  int identities = 0;
  for (const ColumnInfo& c : columns) identities += c.identity ? 1 : 0;
  if (identities > 1)
    throw DbError("Multiple identity columns specified for table '" + written +
                  "'. Only one identity column per table is allowed.");
}

void EmbeddedConnection::CreateTableFromColumns(const ResolvedName& r, const std::string& written,
                                                std::vector<ColumnInfo> columns,
                                                std::vector<KeyInfo> keys) {
  CheckNewTable(r, written, columns);
  auto o = std::make_shared<ObjectInfo>();
  o->database = r.database;
  o->name = r.name;
  o->type = "U";
  o->create_date = NowText();
  o->columns = std::move(columns);
  o->keys = std::move(keys);
  for (KeyInfo& k : o->keys) {
    for (const std::string& kc : k.columns) {
      ColumnInfo* c = nullptr;
      for (ColumnInfo& col : o->columns)
        if (EqualsNoCase(col.name, kc)) c = &col;
      if (!c) throw DbError("Column name '" + kc + "' does not exist in the target table or view.");
      if (k.primary) c->nullable = false;
    }
  }
  if (r.temp) {
    CreateTempTable(o);
    return;
  }
  CreateMainTable(written, o);
  if (r.global_temp) global_temps_.push_back(r.name);
}

// A # table: stored in SQLite's temp schema under its own name, known to this session only.
void EmbeddedConnection::CreateTempTable(const std::shared_ptr<ObjectInfo>& o) {
  o->schema = "temp";
  o->storage = o->name;
  o->object_id = NextTempObjectId();
  for (KeyInfo& k : o->keys) {
    k.object_id = NextTempObjectId();
    if (k.name.empty()) k.name = std::string(k.primary ? "PK__" : "UQ__") + o->name;
  }
  ChangeSchema(true, [&](Catalog&) {
    ExecSqlite(db_, CreateTableSql(*o, o->storage));
    if (const ColumnInfo* id = o->IdentityColumn(); id && id->seed != 1)
      ExecSqlite(db_, "INSERT INTO temp.sqlite_sequence (name, seq) VALUES (" +
                          QuoteText(o->storage) + ", " + std::to_string(id->seed - 1) + ")");
    PublishTemp(o);
  });
}

// A table of a database (or a ## table): stored in the file under its database's prefix,
// its unnamed keys named as SQL Server names them, recorded in the catalogue.
void EmbeddedConnection::CreateMainTable(const std::string& written,
                                         const std::shared_ptr<ObjectInfo>& o) {
  ChangeSchema(false, [&](Catalog& cat) {
    if (cat.Find(o->database, o->name))
      throw DbError("There is already an object named '" + o->name + "' in the database.");
    o->schema = "main";
    o->storage = StorageName(o->database, o->name);
    o->object_id = cat.NextObjectId();
    int pk_count = 0;
    for (KeyInfo& k : o->keys) {
      if (k.primary && ++pk_count > 1)
        throw DbError("Cannot add multiple PRIMARY KEY constraints to table '" + written + "'.");
      k.object_id = cat.NextObjectId();
      if (k.name.empty()) {
        char hex[32];
        std::snprintf(hex, sizeof hex, "%08llX",
                      static_cast<unsigned long long>(k.object_id * 2654435761ULL) & 0xFFFFFFFFULL);
        k.name = std::string(k.primary ? "PK__" : "UQ__") + o->name.substr(0, 8) + "__" + hex;
      }
      if (cat.FindKey(o->database, k.name, nullptr) || cat.Find(o->database, k.name))
        throw DbError("There is already an object named '" + k.name + "' in the database.");
    }
    ExecSqlite(db_, CreateTableSql(*o, o->storage));
    if (const ColumnInfo* id = o->IdentityColumn(); id && id->seed != 1)
      ExecSqlite(db_, "INSERT INTO main.sqlite_sequence (name, seq) VALUES (" +
                          QuoteText(o->storage) + ", " + std::to_string(id->seed - 1) + ")");
    Catalog::SaveObject(db_, *o);
    cat.Put(o);
  });
}

void EmbeddedConnection::CreateTable(const CreateTableStmt& s, Frame&) {
  ResolvedName r = ResolveName(s.target);
  if (s.target.parts.size() >= 2 && !s.target.parts[s.target.parts.size() - 2].empty() &&
      !EqualsNoCase(s.target.parts[s.target.parts.size() - 2], "dbo"))
    internal::Unsupported("schema " + s.target.parts[s.target.parts.size() - 2]);
  std::vector<ColumnInfo> cols = BuildColumns(s.column_defs, 1, SchemaEnv());
  std::vector<KeyInfo> keys;
  for (const ColumnDefinition& d : s.column_defs) {
    if (d.primary_key) keys.push_back(KeyInfo{0, d.constraint_name, true, {d.name}});
    if (d.unique) keys.push_back(KeyInfo{0, d.constraint_name, false, {d.name}});
  }
  for (const TableConstraint& c : s.constraints)
    keys.push_back(KeyInfo{0, c.name, c.kind == ConstraintKind::PrimaryKey, c.columns});
  CreateTableFromColumns(r, s.target.last(), std::move(cols), std::move(keys));
}

void EmbeddedConnection::SelectInto(CachedBatch& cb, const SelectStmt& s, Frame& frame) {
  const ObjectName& into = s.select->cores[0].into;
  ResolvedName r = ResolveName(into);
  if (r.object) throw DbError("There is already an object named '" + r.name + "' in the database.");
  std::map<std::string, SqlType> var_types;
  Translator t(Env(frame, &var_types));
  Translation q = t.QueryWithInto(*s.select);
  for (const std::string& name : q.columns)
    if (name.empty())
      throw DbError(
          "An object or column name is missing or empty. For SELECT INTO statements, verify each "
          "column has a name. For other statements, look for empty alias names. Aliases defined "
          "as \"\" or [] are not allowed. Change the alias to a valid name.");
  CreateTableFromColumns(r, into.last(), ColumnsOfQuery(q), {});
  // Fill it: the new table is now known to the translator.
  Compiled& c = GetCompiled(cb, &s, frame, [&](Translator& tr, Compiled&) {
    Translation fill = tr.QueryWithInto(*s.select);
    ResolvedName target = tr.Resolve(into);
    std::string head = "INSERT INTO " + target.object->SqlName() + " (";
    for (std::size_t i = 0; i < fill.columns.size(); ++i)
      head += (i ? ", " : "") + QuoteIdent(fill.columns[i]);
    fill.sql = head + ") " + fill.sql;
    fill.kind = StatementKind::Insert;
    fill.target = target.object;
    fill.writes_main = !target.temp;
    return fill;
  });
  Run(c, frame, nullptr);
}

void EmbeddedConnection::DropTable(const DropStmt& s) {
  for (const ObjectName& n : s.names) {
    ResolvedName r = ResolveName(n);
    if (!r.object || r.object->type != "U") {
      if (s.if_exists) continue;
      throw DbError("Cannot drop the table '" + n.Text() +
                    "', because it does not exist or you do not have permission.");
    }
    std::shared_ptr<const ObjectInfo> o = r.object;
    if (r.temp) {
      ChangeSchema(true, [&](Catalog&) {
        ExecSqlite(db_, "DROP TABLE " + o->SqlName());
        temp_tables_.erase(LowerAscii(o->name));
      });
      continue;
    }
    ChangeSchema(false, [&](Catalog& cat) {
      ExecSqlite(db_, "DROP TABLE IF EXISTS " + o->SqlName());
      Catalog::DeleteObject(db_, o->object_id);
      cat.Remove(o->database, o->name);
    });
  }
}

void EmbeddedConnection::Truncate(const TruncateStmt& s) {
  ResolvedName r = ResolveName(s.target);
  if (!r.object || r.object->type != "U")
    throw DbError("Cannot find the object \"" + s.target.Text() +
                  "\" because it does not exist or you do not have permissions.");
  const ObjectInfo& o = *r.object;
  if (!r.temp && tx_lock_.owns_lock())
    throw DbError("TRUNCATE TABLE is not supported inside a transaction by this engine.");
  std::unique_lock<std::mutex> lock(file_->write_mutex, std::defer_lock);
  if (!r.temp) lock.lock();
  std::string seq = QuoteIdent(o.schema) + ".sqlite_sequence";
  std::string sql = "BEGIN IMMEDIATE; DELETE FROM " + o.SqlName() + ";";
  if (const ColumnInfo* id = o.IdentityColumn()) {
    sql += "DELETE FROM " + seq + " WHERE name = " + QuoteText(o.storage) + ";";
    if (id->seed != 1)
      sql += "INSERT INTO " + seq + " (name, seq) VALUES (" + QuoteText(o.storage) + ", " +
             std::to_string(id->seed - 1) + ");";
  }
  sql += "COMMIT;";
  try {
    ExecSqlite(db_, sql);
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void EmbeddedConnection::RebuildTable(const ObjectInfo& old_info, const ObjectInfo& new_info,
                                      const std::vector<std::string>& sources) {
  std::string tmp = new_info.storage + "__zel_rebuild";
  std::string schema = QuoteIdent(new_info.schema);
  ExecSqlite(db_, "DROP TABLE IF EXISTS " + schema + "." + QuoteIdent(tmp));
  ExecSqlite(db_, CreateTableSql(new_info, tmp));
  std::string cols, exprs;
  for (std::size_t i = 0; i < new_info.columns.size(); ++i) {
    if (sources[i].empty()) continue;
    if (!cols.empty()) {
      cols += ", ";
      exprs += ", ";
    }
    cols += QuoteIdent(new_info.columns[i].name);
    exprs += sources[i];
  }
  if (!cols.empty())
    ExecSqlite(db_, "INSERT INTO " + schema + "." + QuoteIdent(tmp) + " (" + cols + ") SELECT " +
                        exprs + " FROM " + old_info.SqlName() + " ORDER BY rowid");
  else
    ExecSqlite(db_, "INSERT INTO " + schema + "." + QuoteIdent(tmp) + " DEFAULT VALUES");
  // Keep the identity's current value when the identity column stays.
  long long old_seq = -1;
  if (old_info.IdentityColumn() && new_info.IdentityColumn())
    old_seq = QueryInt(db_,
                       "SELECT seq FROM " + schema +
                           ".sqlite_sequence WHERE name = " + QuoteText(old_info.storage),
                       -1);
  ExecSqlite(db_, "DROP TABLE " + old_info.SqlName());
  ExecSqlite(db_, "ALTER TABLE " + schema + "." + QuoteIdent(tmp) + " RENAME TO " +
                      QuoteIdent(new_info.storage));
  if (old_seq >= 0)
    ExecSqlite(db_, "UPDATE " + schema + ".sqlite_sequence SET seq = max(seq, " +
                        std::to_string(old_seq) + ") WHERE name = " + QuoteText(new_info.storage));
  CreateIndexes(new_info);
}

void EmbeddedConnection::AlterTable(const AlterTableStmt& s, Frame&) {
  ResolvedName r = ResolveName(s.target);
  if (!r.object || r.object->type != "U")
    throw DbError("Cannot find the object \"" + s.target.Text() +
                  "\" because it does not exist or you do not have permissions.");
  std::shared_ptr<const ObjectInfo> old = r.object;
  AlterPlan plan = PlanAlterTable(*old, s, SchemaEnv(), [&]() {
    return QueryInt(db_, "SELECT count(*) FROM " + old->SqlName(), 0);
  });
  auto changed = std::make_shared<ObjectInfo>(std::move(plan.table));
  const std::vector<std::string>& sources = plan.sources;
  const bool native_add = plan.add_in_place;

  std::shared_ptr<const ObjectInfo> result = changed;
  auto apply = [&](Catalog* cat) {
    for (KeyInfo& k : changed->keys) {
      if (k.object_id == 0) {
        k.object_id = cat ? cat->NextObjectId() : NextTempObjectId();
        if (k.name.empty())
          k.name = std::string(k.primary ? "PK__" : "UQ__") + old->name + "__" +
                   std::to_string(k.object_id);
        if (cat &&
            (cat->FindKey(old->database, k.name, nullptr) || cat->Find(old->database, k.name)))
          throw DbError("There is already an object named '" + k.name + "' in the database.");
      }
    }
    if (native_add) {
      for (std::size_t i = old->columns.size(); i < changed->columns.size(); ++i) {
        const ColumnInfo& c = changed->columns[i];
        ExecSqlite(db_, AddColumnSql(*old, c));
      }
    } else {
      RebuildTable(*old, *changed, sources);
    }
  };
  if (r.temp) {
    ChangeSchema(true, [&](Catalog&) {
      apply(nullptr);
      PublishTemp(result);
    });
    return;
  }
  ChangeSchema(false, [&](Catalog& cat) {
    apply(&cat);
    Catalog::SaveObject(db_, *changed);
    cat.Put(result);
  });
}

}  // namespace zel::db::embedded
