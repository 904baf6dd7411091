// The embedded connection's DDL executor for the other objects: views (translated once to
// check them and find their columns), functions (one expression or one query, inlined where
// they are called; decDate and incDate run natively), indexes and databases.
// Each connection is used by one thread; schema changes go through ChangeSchema.
#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "db/client.h"
#include "db/embedded/catalog.h"
#include "db/embedded/connection.h"
#include "db/embedded/ddl_emitter.h"
#include "db/embedded/translator_internal.h"

namespace zel::db::embedded {

using internal::Unsupported;

void EmbeddedConnection::CreateView(const CreateViewStmt& s) {
  std::string db = current_db_;
  if (s.target.parts.size() == 3 && !s.target.parts[0].empty())
    Unsupported("CREATE VIEW with a database name");
  if (!catalog_->FindDatabase(db)) Unsupported("CREATE VIEW in " + db);
  std::map<std::string, SqlType> none;
  TranslateEnv env;
  env.catalog = catalog_.get();
  env.temp_tables = &temp_tables_;
  env.current_db = db;
  env.variables = &none;
  Translator t(env);
  for (const SelectCore& c : s.select->cores)
    if (!c.into.empty()) Unsupported("SELECT INTO in a view");
  Translation q = t.Query(*s.select);
  if (!q.bindings.empty()) throw DbError("Variables are not allowed in a view.");
  for (std::size_t i = 0; i < q.columns.size(); ++i) {
    if (q.columns[i].empty())
      throw DbError(
          "Create View or Function failed because no column name was specified for column " +
          std::to_string(i + 1) + ".");
    for (std::size_t j = i + 1; j < q.columns.size(); ++j)
      if (EqualsNoCase(q.columns[i], q.columns[j]))
        throw DbError("Column names in each view or function must be unique. Column name '" +
                      q.columns[j] + "' in view or function '" + s.target.last() +
                      "' is specified more than once.");
  }
  auto o = std::make_shared<ObjectInfo>();
  o->database = db;
  o->name = s.target.last();
  o->type = "V";
  o->definition = s.text;
  o->create_date = NowText();
  o->columns = ColumnsOfQuery(q);
  ChangeSchema(false, [&](Catalog& cat) {
    if (cat.Find(db, o->name))
      throw DbError("There is already an object named '" + o->name + "' in the database.");
    o->object_id = cat.NextObjectId();
    Catalog::SaveObject(db_, *o);
    cat.Put(o);
  });
}

void EmbeddedConnection::DropObject(const DropStmt& s, const char* type, const char* what) {
  for (const ObjectName& n : s.names) {
    ResolvedName r = ResolveName(n);
    if (!r.object || r.object->type != type) {
      if (s.if_exists) continue;
      throw DbError(std::string("Cannot drop the ") + what + " '" + n.Text() +
                    "', because it does not exist or you do not have permission.");
    }
    std::shared_ptr<const ObjectInfo> o = r.object;
    ChangeSchema(false, [&](Catalog& cat) {
      Catalog::DeleteObject(db_, o->object_id);
      cat.Remove(o->database, o->name);
    });
  }
}

void EmbeddedConnection::CreateFunction(const CreateFunctionStmt& s) {
  std::string db = current_db_;
  if (s.target.parts.size() == 3 && !s.target.parts[0].empty())
    Unsupported("CREATE FUNCTION with a database name");
  if (!catalog_->FindDatabase(db)) Unsupported("CREATE FUNCTION in " + db);
  const std::string& name = s.target.last();
  TypeFromSpec(s.returns);
  for (const Declaration& p : s.params) TypeFromSpec(p.type);
  bool native = EqualsNoCase(name, "decDate") || EqualsNoCase(name, "incDate");
  if (native && s.params.size() != 1) Unsupported("function " + name + " with other parameters");
  if (!native) {
    // Only functions whose body is one expression or one query can be inlined.
    bool ok = InlinableBody(s).has_value();
    if (!ok)
      Unsupported("function body of " + name +
                  " (only one expression or one query can be inlined)");
  }
  auto o = std::make_shared<ObjectInfo>();
  o->database = db;
  o->name = name;
  o->type = "FN";
  o->definition = s.text;
  o->create_date = NowText();
  ChangeSchema(false, [&](Catalog& cat) {
    if (cat.Find(db, name))
      throw DbError("There is already an object named '" + name + "' in the database.");
    o->object_id = cat.NextObjectId();
    Catalog::SaveObject(db_, *o);
    cat.Put(o);
  });
}

void EmbeddedConnection::CreateIndex(const CreateIndexStmt& s) {
  ResolvedName r = ResolveName(s.target);
  if (!r.object || r.object->type != "U")
    throw DbError("Cannot find the object \"" + s.target.Text() +
                  "\" because it does not exist or you do not have permissions.");
  auto changed = std::make_shared<ObjectInfo>(*r.object);
  for (const IndexInfo& ix : changed->indexes)
    if (EqualsNoCase(ix.name, s.name))
      throw DbError("The operation failed because an index or statistics with name '" + s.name +
                    "' already exists on table '" + changed->name + "'.");
  for (const std::string& c : s.columns)
    if (!changed->FindColumn(c))
      throw DbError("Column name '" + c + "' does not exist in the target table or view.");
  IndexInfo ix{0, s.name, s.unique, s.columns};
  std::shared_ptr<const ObjectInfo> result = changed;
  auto create = [&]() { ExecSqlite(db_, CreateIndexSql(*changed, ix)); };
  if (r.temp) {
    ChangeSchema(true, [&](Catalog&) {
      ix.object_id = NextTempObjectId();
      changed->indexes.push_back(ix);
      create();
      PublishTemp(result);
    });
    return;
  }
  ChangeSchema(false, [&](Catalog& cat) {
    ix.object_id = cat.NextObjectId();
    changed->indexes.push_back(ix);
    create();
    Catalog::SaveObject(db_, *changed);
    cat.Put(result);
  });
}

void EmbeddedConnection::DropIndex(const DropStmt& s) {
  for (const ObjectName& n : s.names) {
    if (n.parts.size() < 2) throw DbError("Incorrect syntax near '" + n.Text() + "'.");
    ObjectName table;
    table.parts.assign(n.parts.begin(), n.parts.end() - 1);
    ResolvedName r = ResolveName(table);
    std::string ixname = n.last();
    if (!r.object || r.object->type != "U") {
      if (s.if_exists) continue;
      throw DbError("Cannot drop the index '" + n.Text() +
                    "', because it does not exist or you do not have permission.");
    }
    auto changed = std::make_shared<ObjectInfo>(*r.object);
    auto it = std::find_if(changed->indexes.begin(), changed->indexes.end(),
                           [&](const IndexInfo& ix) { return EqualsNoCase(ix.name, ixname); });
    if (it == changed->indexes.end()) {
      if (s.if_exists) continue;
      throw DbError("Cannot drop the index '" + n.Text() +
                    "', because it does not exist or you do not have permission.");
    }
    std::string drop = DropIndexSql(*changed, it->name);
    changed->indexes.erase(it);
    std::shared_ptr<const ObjectInfo> result = changed;
    if (r.temp) {
      ChangeSchema(true, [&](Catalog&) {
        ExecSqlite(db_, drop);
        PublishTemp(result);
      });
      continue;
    }
    ChangeSchema(false, [&](Catalog& cat) {
      ExecSqlite(db_, drop);
      Catalog::SaveObject(db_, *changed);
      cat.Put(result);
    });
  }
}

void EmbeddedConnection::CreateDatabase(const CreateDatabaseStmt& s) {
  for (const char* sys : kSystemDatabases)
    if (EqualsNoCase(s.name, sys))
      throw DbError("Database '" + s.name + "' already exists. Choose a different database name.");
  if (s.name.empty() || s.name.find('.') != std::string::npos)
    throw DbError("Incorrect syntax near '" + s.name + "'.");
  ChangeSchema(false, [&](Catalog& cat) {
    if (cat.FindDatabase(s.name))
      throw DbError("Database '" + s.name + "' already exists. Choose a different database name.");
    DatabaseInfo d{cat.NextDatabaseId(), s.name, NowText()};
    Catalog::SaveDatabase(db_, d);
    cat.AddDatabase(d);
  });
}

void EmbeddedConnection::DropDatabase(const DropStmt& s) {
  for (const ObjectName& n : s.names) {
    const DatabaseInfo* d = catalog_->FindDatabase(n.last());
    if (!d) {
      if (s.if_exists) continue;
      throw DbError("Cannot drop the database '" + n.last() +
                    "', because it does not exist or you do not have permission.");
    }
    if (EqualsNoCase(current_db_, d->name))
      throw DbError("Cannot drop database \"" + d->name + "\" because it is currently in use.");
    DatabaseInfo info = *d;
    ChangeSchema(false, [&](Catalog& cat) {
      for (const auto& o : cat.ObjectsOf(info.name)) {
        if (o->type == "U") ExecSqlite(db_, "DROP TABLE IF EXISTS " + o->SqlName());
        Catalog::DeleteObject(db_, o->object_id);
      }
      Catalog::DeleteDatabase(db_, info.database_id);
      cat.RemoveDatabase(info.name);
    });
  }
}

}  // namespace zel::db::embedded
