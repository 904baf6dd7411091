#include "db/embedded/catalog.h"

#include <sqlite3.h>

#include <algorithm>

#include "db/client.h"
#include "db/embedded/lexer.h"
#include "db/embedded/parser.h"
#include "db/embedded/sqlite_handle.h"

namespace zel::db::embedded {

// ------------------------------------------------------------------------ types

SqlType TypeFromSpec(const TypeSpec& spec, bool for_cast) {
  const std::string n = LowerAscii(spec.name);
  SqlType t;
  t.name = n;
  if (n == "int" || n == "integer" || n == "smallint" || n == "tinyint" || n == "bigint") {
    t.cls = TypeClass::Int;
    if (n == "integer") t.name = "int";
    return t;
  }
  if (n == "bit") {
    t.cls = TypeClass::Bit;
    return t;
  }
  if (n == "float" || n == "real") {
    t.cls = TypeClass::Float;
    return t;
  }
  if (n == "numeric" || n == "decimal" || n == "money" || n == "smallmoney") {
    t.cls = TypeClass::Numeric;
    if (n == "money" || n == "smallmoney") {
      t.precision = 19;
      t.scale = 4;
    } else {
      t.precision = spec.has_args ? spec.precision : 18;
      t.scale = spec.has_args ? spec.scale : 0;
    }
    return t;
  }
  if (n == "char" || n == "nchar" || n == "varchar" || n == "nvarchar" || n == "sysname") {
    t.cls = (n == "char" || n == "nchar") ? TypeClass::Char : TypeClass::VarChar;
    if (n == "sysname") {
      t.name = "nvarchar";
      t.length = 128;
    } else if (spec.has_args) {
      t.length = spec.length;
      if (t.length == -1 && t.cls == TypeClass::Char) throw DbError("Incorrect syntax near 'max'.");
    } else {
      t.length = for_cast ? 30 : 1;
    }
    return t;
  }
  if (n == "text" || n == "ntext") {
    t.cls = TypeClass::VarChar;
    t.length = -1;
    return t;
  }
  if (n == "datetime" || n == "smalldatetime" || n == "date" || n == "datetime2") {
    t.cls = TypeClass::DateTime;
    return t;
  }
  throw DbError("Unsupported T-SQL construct: type " + spec.name);
}

std::string TypeText(const SqlType& t) {
  switch (t.cls) {
    case TypeClass::Char:
    case TypeClass::VarChar:
      if (t.name == "text" || t.name == "ntext") return t.name;
      return t.name + "(" + (t.length < 0 ? std::string("max") : std::to_string(t.length)) + ")";
    case TypeClass::Numeric:
      if (t.name == "money" || t.name == "smallmoney") return t.name;
      return t.name + "(" + std::to_string(t.precision) + "," + std::to_string(t.scale) + ")";
    case TypeClass::Unknown:
      return "sql_variant";
    case TypeClass::Null:
      return "int";
    default:
      return t.name.empty() ? "int" : t.name;
  }
}

std::string SqliteDeclaration(const SqlType& t) {
  switch (t.cls) {
    case TypeClass::Int:
    case TypeClass::Bit:
      return "INTEGER";
    case TypeClass::Float:
      return "REAL";
    case TypeClass::Numeric:
      return t.scale == 0 ? "INTEGER" : "REAL";
    case TypeClass::Char:
    case TypeClass::VarChar:
    case TypeClass::DateTime:
      return "TEXT COLLATE TSQL";
    default:
      return "";
  }
}

int MaxLength(const SqlType& t) {
  bool wide = !t.name.empty() && t.name[0] == 'n';
  switch (t.cls) {
    case TypeClass::Int:
      if (t.name == "tinyint") return 1;
      if (t.name == "smallint") return 2;
      if (t.name == "bigint") return 8;
      return 4;
    case TypeClass::Bit:
      return 1;
    case TypeClass::Float:
      return t.name == "real" ? 4 : 8;
    case TypeClass::Numeric:
      return t.precision <= 9 ? 5 : t.precision <= 19 ? 9 : t.precision <= 28 ? 13 : 17;
    case TypeClass::Char:
    case TypeClass::VarChar:
      if (t.name == "text" || t.name == "ntext") return 16;
      return t.length < 0 ? -1 : (wide ? 2 * t.length : t.length);
    case TypeClass::DateTime:
      return 8;
    default:
      return 0;
  }
}

// ------------------------------------------------------------------------ objects

const ColumnInfo* ObjectInfo::FindColumn(std::string_view column) const {
  for (const ColumnInfo& c : columns)
    if (EqualsNoCase(c.name, column)) return &c;
  return nullptr;
}

const KeyInfo* ObjectInfo::PrimaryKey() const {
  for (const KeyInfo& k : keys)
    if (k.primary) return &k;
  return nullptr;
}

const ColumnInfo* ObjectInfo::IdentityColumn() const {
  for (const ColumnInfo& c : columns)
    if (c.identity) return &c;
  return nullptr;
}

std::string ObjectInfo::SqlName() const { return QuoteIdent(schema) + "." + QuoteIdent(storage); }

const DatabaseInfo* Catalog::FindDatabase(std::string_view name) const {
  for (const DatabaseInfo& d : databases_)
    if (EqualsNoCase(d.name, name)) return &d;
  return nullptr;
}

const DatabaseInfo* Catalog::FindDatabaseById(long long id) const {
  for (const DatabaseInfo& d : databases_)
    if (d.database_id == id) return &d;
  return nullptr;
}

std::shared_ptr<const ObjectInfo> Catalog::Find(std::string_view database,
                                                std::string_view name) const {
  auto db = objects_.find(LowerAscii(database));
  if (db == objects_.end()) return nullptr;
  auto it = db->second.find(LowerAscii(name));
  if (it == db->second.end()) return nullptr;
  return it->second;
}

std::shared_ptr<const ObjectInfo> Catalog::FindById(long long object_id) const {
  for (const auto& [db, objects] : objects_)
    for (const auto& [name, object] : objects)
      if (object->object_id == object_id) return object;
  return nullptr;
}

const KeyInfo* Catalog::FindKey(std::string_view database, std::string_view name,
                                std::shared_ptr<const ObjectInfo>* owner) const {
  auto db = objects_.find(LowerAscii(database));
  if (db == objects_.end()) return nullptr;
  for (const auto& [n, object] : db->second) {
    for (const KeyInfo& k : object->keys) {
      if (EqualsNoCase(k.name, name)) {
        if (owner) *owner = object;
        return &k;
      }
    }
  }
  return nullptr;
}

std::vector<std::shared_ptr<const ObjectInfo>> Catalog::ObjectsOf(std::string_view database) const {
  std::vector<std::shared_ptr<const ObjectInfo>> out;
  auto db = objects_.find(LowerAscii(database));
  if (db == objects_.end()) return out;
  for (const auto& [n, object] : db->second) out.push_back(object);
  return out;
}

std::shared_ptr<const ObjectInfo> Catalog::FindByStorage(std::string_view storage) const {
  for (const auto& [db, objects] : objects_)
    for (const auto& [name, object] : objects)
      if (object->type == "U" && EqualsNoCase(object->storage, storage)) return object;
  return nullptr;
}

void Catalog::AddDatabase(DatabaseInfo db) { databases_.push_back(std::move(db)); }

void Catalog::RemoveDatabase(std::string_view name) {
  databases_.erase(
      std::remove_if(databases_.begin(), databases_.end(),
                     [&](const DatabaseInfo& d) { return EqualsNoCase(d.name, name); }),
      databases_.end());
  objects_.erase(LowerAscii(name));
}

void Catalog::Put(std::shared_ptr<const ObjectInfo> object) {
  last_object_id_ = std::max(last_object_id_, object->object_id);
  for (const KeyInfo& k : object->keys) last_object_id_ = std::max(last_object_id_, k.object_id);
  for (const IndexInfo& ix : object->indexes)
    last_object_id_ = std::max(last_object_id_, ix.object_id);
  objects_[LowerAscii(object->database)][LowerAscii(object->name)] = std::move(object);
}

void Catalog::Remove(std::string_view database, std::string_view name) {
  auto db = objects_.find(LowerAscii(database));
  if (db != objects_.end()) db->second.erase(LowerAscii(name));
}

long long Catalog::NextDatabaseId() const {
  long long id = 4;  // master, tempdb, model, msdb
  for (const DatabaseInfo& d : databases_) id = std::max(id, d.database_id);
  return id + 1;
}

// ------------------------------------------------------------------------ persistence

std::string QuoteIdent(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string QuoteText(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

namespace {

std::string JoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i) out += ',';
    out += names[i];
  }
  return out;
}

std::vector<std::string> SplitNames(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == ',') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

}  // namespace

void Catalog::EnsureTables(sqlite3* db) {
  ExecSqlite(db,
             "CREATE TABLE IF NOT EXISTS __zel_databases (database_id INTEGER PRIMARY KEY, "
             "name TEXT NOT NULL, create_date TEXT);"
             "CREATE TABLE IF NOT EXISTS __zel_objects (object_id INTEGER PRIMARY KEY, "
             "db TEXT NOT NULL, name TEXT NOT NULL, type TEXT NOT NULL, parent_object_id INTEGER "
             "NOT NULL DEFAULT 0, storage TEXT, definition TEXT, create_date TEXT);"
             "CREATE TABLE IF NOT EXISTS __zel_columns (object_id INTEGER NOT NULL, db TEXT NOT "
             "NULL, column_id INTEGER NOT NULL, name TEXT NOT NULL, type_text TEXT NOT NULL, "
             "max_length INTEGER, precision INTEGER, scale INTEGER, is_nullable INTEGER NOT NULL, "
             "is_identity INTEGER NOT NULL, seed INTEGER, increment INTEGER, default_text TEXT, "
             "PRIMARY KEY (object_id, column_id));");
}

Catalog Catalog::Load(sqlite3* db) {
  Catalog cat;
  {
    SqliteStatement s = SqliteStatement::Prepare(
        db, "SELECT database_id, name, create_date FROM __zel_databases ORDER BY database_id");
    while (s.Step()) cat.databases_.push_back(DatabaseInfo{s.Int(0), s.Text(1), s.Text(2)});
  }
  std::map<long long, std::shared_ptr<ObjectInfo>> by_id;
  std::vector<std::tuple<long long, long long, std::string, std::string, std::string>> children;
  {
    SqliteStatement s = SqliteStatement::Prepare(
        db,
        "SELECT object_id, db, name, type, parent_object_id, storage, definition, create_date "
        "FROM __zel_objects ORDER BY object_id");
    while (s.Step()) {
      std::string type = s.Text(3);
      if (type == "PK" || type == "UQ" || type == "IX" || type == "UX") {
        children.emplace_back(s.Int(0), s.Int(4), s.Text(2), type, s.Text(6));
        continue;
      }
      auto o = std::make_shared<ObjectInfo>();
      o->object_id = s.Int(0);
      o->database = s.Text(1);
      o->name = s.Text(2);
      o->type = type;
      o->storage = s.Text(5);
      o->definition = s.Text(6);
      o->create_date = s.Text(7);
      by_id[o->object_id] = o;
    }
  }
  for (auto& [id, parent, name, type, def] : children) {
    auto it = by_id.find(parent);
    if (it == by_id.end()) continue;
    if (type == "PK" || type == "UQ") {
      it->second->keys.push_back(KeyInfo{id, name, type == "PK", SplitNames(def)});
    } else {
      it->second->indexes.push_back(IndexInfo{id, name, type == "UX", SplitNames(def)});
    }
    cat.last_object_id_ = std::max(cat.last_object_id_, id);
  }
  {
    SqliteStatement s = SqliteStatement::Prepare(
        db,
        "SELECT object_id, column_id, name, type_text, is_nullable, is_identity, seed, "
        "increment, default_text FROM __zel_columns ORDER BY object_id, column_id");
    while (s.Step()) {
      auto it = by_id.find(s.Int(0));
      if (it == by_id.end()) continue;
      ColumnInfo c;
      c.column_id = static_cast<int>(s.Int(1));
      c.name = s.Text(2);
      c.type = TypeFromSpec(ParseTypeText(s.Text(3)));
      c.nullable = s.Int(4) != 0;
      c.identity = s.Int(5) != 0;
      c.seed = s.Int(6);
      c.increment = s.Int(7);
      c.default_sql = s.Text(8);
      it->second->columns.push_back(std::move(c));
    }
  }
  for (auto& [id, o] : by_id) cat.Put(o);
  return cat;
}

void Catalog::DeleteObject(sqlite3* db, long long object_id) {
  SqliteStatement a =
      SqliteStatement::Prepare(db, "DELETE FROM __zel_columns WHERE object_id = ?1");
  a.Bind(1, object_id);
  a.Run();
  SqliteStatement b = SqliteStatement::Prepare(
      db, "DELETE FROM __zel_objects WHERE object_id = ?1 OR parent_object_id = ?1");
  b.Bind(1, object_id);
  b.Run();
}

void Catalog::SaveObject(sqlite3* db, const ObjectInfo& o) {
  DeleteObject(db, o.object_id);
  SqliteStatement ins = SqliteStatement::Prepare(
      db,
      "INSERT INTO __zel_objects (object_id, db, name, type, parent_object_id, storage, "
      "definition, create_date) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
  ins.Bind(1, o.object_id);
  ins.Bind(2, o.database);
  ins.Bind(3, o.name);
  ins.Bind(4, o.type);
  ins.Bind(5, 0LL);
  ins.Bind(6, o.storage);
  ins.Bind(7, o.definition);
  ins.Bind(8, o.create_date);
  ins.Run();
  // Keys and indexes: rows of their table, the columns they cover as their definition.
  SqliteStatement part = SqliteStatement::Prepare(
      db,
      "INSERT INTO __zel_objects (object_id, db, name, type, parent_object_id, definition) "
      "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  auto save_part = [&](long long id, const std::string& name, const char* type,
                       const std::vector<std::string>& columns) {
    part.Bind(1, id);
    part.Bind(2, o.database);
    part.Bind(3, name);
    part.Bind(4, std::string(type));
    part.Bind(5, o.object_id);
    part.Bind(6, JoinNames(columns));
    part.Run();
  };
  for (const KeyInfo& k : o.keys)
    save_part(k.object_id, k.name, k.primary ? "PK" : "UQ", k.columns);
  for (const IndexInfo& ix : o.indexes)
    save_part(ix.object_id, ix.name, ix.unique ? "UX" : "IX", ix.columns);
  SqliteStatement col = SqliteStatement::Prepare(
      db,
      "INSERT INTO __zel_columns (object_id, db, column_id, name, type_text, max_length, "
      "precision, scale, is_nullable, is_identity, seed, increment, default_text) VALUES "
      "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
  for (const ColumnInfo& c : o.columns) {
    col.Bind(1, o.object_id);
    col.Bind(2, o.database);
    col.Bind(3, static_cast<long long>(c.column_id));
    col.Bind(4, c.name);
    col.Bind(5, TypeText(c.type));
    col.Bind(6, static_cast<long long>(MaxLength(c.type)));
    col.Bind(7, static_cast<long long>(c.type.precision));
    col.Bind(8, static_cast<long long>(c.type.scale));
    col.Bind(9, static_cast<long long>(c.nullable ? 1 : 0));
    col.Bind(10, static_cast<long long>(c.identity ? 1 : 0));
    col.Bind(11, c.seed);
    col.Bind(12, c.increment);
    col.Bind(13, c.default_sql);
    col.Run();
  }
}

void Catalog::SaveDatabase(sqlite3* db, const DatabaseInfo& info) {
  SqliteStatement s = SqliteStatement::Prepare(
      db, "INSERT INTO __zel_databases (database_id, name, create_date) VALUES (?1, ?2, ?3)");
  s.Bind(1, info.database_id);
  s.Bind(2, info.name);
  s.Bind(3, info.create_date);
  s.Run();
}

void Catalog::DeleteDatabase(sqlite3* db, long long database_id) {
  SqliteStatement s =
      SqliteStatement::Prepare(db, "DELETE FROM __zel_databases WHERE database_id = ?1");
  s.Bind(1, database_id);
  s.Run();
}

}  // namespace zel::db::embedded
