// The embedded connection's session: opens the server file (one state per file in the
// process, its catalogue reloaded when another process changed the schema), registers the
// catalogue lookups on the handle, answers them from the session's catalogue and # tables,
// and keeps the parsed batches by text. Transactions, statements, the batch interpreter and
// the DDL executor are in the files connection.h names.
// Each connection is used by one thread; the file registry is shared under its mutex.
#include "db/embedded/embedded.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>

#include "db/embedded/catalog.h"
#include "db/embedded/connection.h"
#include "db/embedded/parser.h"
#include "db/embedded/runtime/tsql_runtime.h"
#include "db/embedded/sqlite_handle.h"
#include "db/embedded/translator.h"

namespace zel::db {
namespace embedded {

std::string ServerFilePath(const std::string& data_dir) {
  return (std::filesystem::path(data_dir) / "server.db").string();
}

// ------------------------------------------------------------------------ shared file state

namespace {

std::mutex g_registry_mutex;
std::map<std::string, std::weak_ptr<FileState>>& Registry() {
  static std::map<std::string, std::weak_ptr<FileState>> registry;
  return registry;
}

std::atomic<int> g_spid{50};

constexpr const char* kSchemaVersionSql = "PRAGMA main.schema_version";

// The schema version through a statement kept by the caller (prepared on first use).
long long ProbeSchemaVersion(sqlite3* db, SqliteStatement& probe) {
  if (!probe) probe = SqliteStatement::Prepare(db, kSchemaVersionSql, SQLITE_PREPARE_PERSISTENT);
  const long long v = probe.Step() ? probe.Int(0) : -1;
  probe.Reset();
  return v;
}

// The catalogue and the schema version it belongs to, read from one snapshot of the file:
// another process's schema change lands either before both or after both, so a catalogue is
// never recorded under a newer version than its own (which would keep it stale).
std::shared_ptr<const Catalog> LoadCatalogAt(sqlite3* db, long long* version) {
  const bool own_read = sqlite3_get_autocommit(db) != 0;
  if (own_read) ExecSqlite(db, "BEGIN");
  try {
    *version = SchemaVersion(db);
    auto catalog = std::make_shared<const Catalog>(Catalog::Load(db));
    if (own_read) ExecSqlite(db, "COMMIT");
    return catalog;
  } catch (...) {
    if (own_read) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

}  // namespace

std::shared_ptr<FileState> GetFileState(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_registry_mutex);
  auto& reg = Registry();
  auto it = reg.find(path);
  if (it != reg.end())
    if (auto state = it->second.lock()) return state;
  auto state = std::make_shared<FileState>();
  state->path = path;
  reg[path] = state;
  return state;
}

long long SchemaVersion(sqlite3* db) { return QueryInt(db, kSchemaVersionSql, -1); }

// ------------------------------------------------------------------------ SQL functions

namespace {

EmbeddedConnection* Self(sqlite3_context* ctx) {
  return static_cast<EmbeddedConnection*>(sqlite3_user_data(ctx));
}

// The lookup's answer, or NULL when there is none.
void Result(sqlite3_context* ctx, const std::optional<long long>& id) {
  if (id)
    sqlite3_result_int64(ctx, *id);
  else
    sqlite3_result_null(ctx);
}

void Result(sqlite3_context* ctx, const std::optional<std::string>& name) {
  if (name)
    sqlite3_result_text(ctx, name->c_str(), -1, SQLITE_TRANSIENT);
  else
    sqlite3_result_null(ctx);
}

void FnObjectId(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  std::string type =
      argc > 1 && sqlite3_value_type(argv[1]) != SQLITE_NULL ? ValueText(argv[1]) : "";
  Result(ctx, Self(ctx)->ObjectId(ValueText(argv[0]), type));
}

void FnDbId(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  Result(ctx, Self(ctx)->DatabaseId(ValueText(argv[0])));
}

void FnDbName(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  Result(ctx, Self(ctx)->DatabaseName(sqlite3_value_int64(argv[0])));
}

void FnObjectName(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  Result(ctx, Self(ctx)->NameOfObject(sqlite3_value_int64(argv[0])));
}

// SQLite's memory statistics take one process-wide mutex on every allocation, which the
// worker threads then contend for; the engine never reads them. Switched off once, before
// the first connection (a no-op when SQLite was already initialised by someone else).
void ConfigureSqliteOnce() {
  static std::once_flag once;
  std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}

}  // namespace

// ------------------------------------------------------------------------ the connection

EmbeddedConnection::EmbeddedConnection(const ConnectionSettings& settings) {
  if (settings.data_dir.empty()) throw DbError("The embedded engine needs a data folder.");
  std::error_code ec;
  std::filesystem::create_directories(settings.data_dir, ec);
  std::string path = ServerFilePath(settings.data_dir);
  std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
  if (!ec) path = canonical.string();
  ConfigureSqliteOnce();
  handle_ = SqliteDb::Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
  db_ = handle_.get();
  sqlite3_busy_timeout(db_, 60000);
  sqlite3_extended_result_codes(db_, 1);
  try {
    RegisterTsqlRuntime(db_);
  } catch (const std::runtime_error& e) {
    throw DbError(e.what());
  }
  // The catalogue lookups answer from this connection's catalogue and session.
  CreateSqlFunction(db_, "zel_object_id", 1, SQLITE_UTF8, this, FnObjectId);
  CreateSqlFunction(db_, "zel_object_id", 2, SQLITE_UTF8, this, FnObjectId);
  CreateSqlFunction(db_, "zel_db_id", 1, SQLITE_UTF8, this, FnDbId);
  CreateSqlFunction(db_, "zel_db_name", 1, SQLITE_UTF8, this, FnDbName);
  CreateSqlFunction(db_, "zel_object_name", 1, SQLITE_UTF8, this, FnObjectName);
  // Replaces SQLite's checkpoint after every commit that finds the log long (made inside
  // the commit, so under the write lock).
  sqlite3_wal_hook(db_, NoteWalFrames, this);
  file_ = GetFileState(path);
  {
    std::lock_guard<std::mutex> wl(file_->write_mutex);
    ExecSqlite(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    Catalog::EnsureTables(db_);
    std::lock_guard<std::mutex> cl(file_->catalog_mutex);
    long long version = SchemaVersion(db_);
    if (!file_->catalog || file_->schema_version != version) {
      file_->catalog = LoadCatalogAt(db_, &file_->schema_version);
      ++file_->generation;
    }
    catalog_ = file_->catalog;
    catalog_gen_ = file_->generation;
  }
  if (!settings.database.empty()) {
    const DatabaseInfo* d = catalog_->FindDatabase(settings.database);
    if (!d && !EqualsNoCase(settings.database, "master") &&
        !EqualsNoCase(settings.database, "tempdb"))
      throw DbError("Cannot open database \"" + settings.database +
                    "\" requested by the login. The login failed.");
    current_db_ = d ? d->name : LowerAscii(settings.database);
  }
  spid_ = ++g_spid;
}

EmbeddedConnection::~EmbeddedConnection() {
  // Global ## tables end with the session that created them.
  for (const std::string& name : global_temps_) {
    try {
      DropStmt s(StmtKind::DropTable);
      s.if_exists = true;
      s.names.push_back(ObjectName{{name}});
      DropTable(s);
    } catch (...) {
      // errors ignored here: a destructor must not throw; the table stays in the file
    }
  }
  RollbackTransaction();
}

// ------------------------------------------------------------------------ catalogue access

void EmbeddedConnection::RefreshCatalog() {
  // Changes made in this process are published at once; a change made by another process
  // (a command-line run on the same folder) is noticed within a second.
  auto now = std::chrono::steady_clock::now();
  long long version = -1;
  if (now >= next_probe_) {
    version = ProbeSchemaVersion(db_, schema_probe_);
    next_probe_ = now + std::chrono::seconds(1);
  }
  std::lock_guard<std::mutex> cl(file_->catalog_mutex);
  if (version >= 0 && version != file_->schema_version) {
    // Another process changed the schema: reload under the write lock's protection of
    // our own changes (we hold the catalogue lock; a reload is read-only).
    file_->catalog = LoadCatalogAt(db_, &file_->schema_version);
    ++file_->generation;
  }
  if (catalog_gen_ != file_->generation) {
    catalog_ = file_->catalog;
    catalog_gen_ = file_->generation;
  }
}

TranslateEnv EmbeddedConnection::Env(const Frame& frame,
                                     std::map<std::string, SqlType>* var_types) const {
  for (const auto& [name, v] : frame.vars) (*var_types)[name] = v.type;
  TranslateEnv env;
  env.catalog = catalog_.get();
  env.temp_tables = &temp_tables_;
  env.current_db = current_db_;
  env.variables = var_types;
  return env;
}

TranslateEnv EmbeddedConnection::SchemaEnv() const {
  TranslateEnv env;
  env.catalog = catalog_.get();
  env.temp_tables = &temp_tables_;
  env.current_db = current_db_;
  return env;
}

ResolvedName EmbeddedConnection::ResolveName(const ObjectName& name) const {
  Translator t(SchemaEnv());
  return t.Resolve(name);
}

std::optional<long long> EmbeddedConnection::ObjectId(const std::string& text,
                                                      const std::string& type) {
  ObjectName name = ParseObjectNameText(text);
  if (name.empty()) return std::nullopt;
  std::string want = UpperAscii(text.empty() ? "" : type);
  while (!want.empty() && want.back() == ' ') want.pop_back();
  ResolvedName r = ResolveName(name);
  if (r.object) {
    if (want.empty() || EqualsNoCase(want, r.object->type)) return r.object->object_id;
    return std::nullopt;
  }
  if (r.temp || r.global_temp) return std::nullopt;
  std::shared_ptr<const ObjectInfo> owner;
  if (const KeyInfo* k = catalog_->FindKey(r.database, r.name, &owner)) {
    if (want.empty() || want == (k->primary ? "PK" : "UQ")) return k->object_id;
  }
  return std::nullopt;
}

std::optional<long long> EmbeddedConnection::DatabaseId(const std::string& name) {
  for (int i = 0; i < 4; ++i)
    if (EqualsNoCase(name, kSystemDatabases[i])) return i + 1;
  if (const DatabaseInfo* d = catalog_->FindDatabase(name)) return d->database_id;
  return std::nullopt;
}

std::optional<std::string> EmbeddedConnection::DatabaseName(long long id) {
  if (id >= 1 && id <= 4) return std::string(kSystemDatabases[id - 1]);
  if (const DatabaseInfo* d = catalog_->FindDatabaseById(id)) return d->name;
  return std::nullopt;
}

std::optional<std::string> EmbeddedConnection::NameOfObject(long long id) {
  if (auto o = catalog_->FindById(id)) return o->name;
  for (const auto& [k, o] : temp_tables_)
    if (o->object_id == id) return o->name;
  return std::nullopt;
}

std::vector<std::string> EmbeddedConnection::PrimaryKeyColumns(const std::string& table) {
  RefreshCatalog();
  ObjectName name = ParseObjectNameText(table);
  if (name.empty()) return {};
  ResolvedName r = ResolveName(name);
  if (!r.object) return {};
  const KeyInfo* pk = r.object->PrimaryKey();
  if (!pk) return {};
  std::vector<std::string> out;
  for (const std::string& c : pk->columns) {
    const ColumnInfo* col = r.object->FindColumn(c);
    out.push_back(col ? col->name : c);
  }
  return out;
}

// ------------------------------------------------------------------------ parsed batches

std::shared_ptr<EmbeddedConnection::CachedBatch> EmbeddedConnection::GetBatch(
    const std::string& sql) {
  auto it = batches_.find(sql);
  if (it != batches_.end()) {
    it->second->last_used = ++batch_clock_;
    return it->second;
  }
  auto cb = std::make_shared<CachedBatch>();
  cb->ast = ParseBatch(sql);
  cb->last_used = ++batch_clock_;
  if (batches_.size() >= kCachedBatches) {
    auto oldest = batches_.begin();
    for (auto i = batches_.begin(); i != batches_.end(); ++i) {
      if (i->second->last_used < oldest->second->last_used) oldest = i;
    }
    batches_.erase(oldest);  // a batch still running is held by its caller
  }
  batches_.emplace(sql, cb);
  return cb;
}

}  // namespace embedded

std::unique_ptr<Connection> OpenEmbedded(const ConnectionSettings& settings) {
  return std::make_unique<embedded::EmbeddedConnection>(settings);
}

}  // namespace zel::db
