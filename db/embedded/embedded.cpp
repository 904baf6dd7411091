// The embedded connection: opens the server file, keeps the session (current database,
// # tables, variables of the running batch), interprets batches (DECLARE/SET/IF/WHILE/
// BEGIN…END/EXEC/USE and DDL) and runs the translated data statements, with translations
// and prepared statements cached per connection.
#include "db/embedded/embedded.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include "db/embedded/alter_table.h"
#include "db/embedded/catalog.h"
#include "db/embedded/ddl_emitter.h"
#include "db/embedded/error_mapping.h"
#include "db/embedded/lexer.h"
#include "db/embedded/parser.h"
#include "db/embedded/runtime/tsql_runtime.h"
#include "db/embedded/sqlite_handle.h"
#include "db/embedded/translator.h"

namespace zel::db {
namespace embedded {

std::string ServerFilePath(const std::string& data_dir) {
  return (std::filesystem::path(data_dir) / "server.db").string();
}

namespace {

[[noreturn]] void Unsupported(const std::string& what) {
  throw DbError("Unsupported T-SQL construct: " + what);
}

std::string NowText() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S.000", &tm);
  return buf;
}

// ------------------------------------------------------------------------ shared file state

// One per server file in the process: the write lock and the published catalogue.
struct FileState {
  std::string path;
  std::mutex write_mutex;  // serialises writing statements and schema changes

  // Guarded by catalog_mutex:
  std::mutex catalog_mutex;
  std::shared_ptr<const Catalog> catalog;
  long long generation = 0;
  long long schema_version = -1;
};

std::mutex g_registry_mutex;
std::map<std::string, std::weak_ptr<FileState>>& Registry() {
  static std::map<std::string, std::weak_ptr<FileState>> registry;
  return registry;
}

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

std::atomic<long long> g_temp_object_ids{1000000000};
std::atomic<int> g_spid{50};

constexpr const char* kSchemaVersionSql = "PRAGMA main.schema_version";

long long SchemaVersion(sqlite3* db) { return QueryInt(db, kSchemaVersionSql, -1); }

// The same through a statement kept by the caller (prepared on first use).
long long SchemaVersion(sqlite3* db, SqliteStatement& probe) {
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

// ------------------------------------------------------------------------ SQL functions

// Text of a value as SQL Server converts numbers to text.
std::string ValueText(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_value_int64(v));
    case SQLITE_FLOAT: {
      char buf[64];
      sqlite3_snprintf(sizeof buf, buf, "%!.15g", sqlite3_value_double(v));
      return buf;
    }
    default: {
      const unsigned char* t = sqlite3_value_text(v);
      return t ? std::string(reinterpret_cast<const char*>(t),
                             static_cast<std::size_t>(sqlite3_value_bytes(v)))
               : "";
    }
  }
}

}  // namespace

// ------------------------------------------------------------------------ the connection

class EmbeddedConnection final : public Connection {
 public:
  EmbeddedConnection(const ConnectionSettings& settings);
  ~EmbeddedConnection() override;

  ResultSet Execute(const std::string& sql, const std::vector<Param>& params,
                    int timeout_seconds) override;
  std::vector<std::string> PrimaryKeyColumns(const std::string& table) override;
  std::string EngineName() const override { return "embedded"; }
  void BeginTransaction() override;
  void CommitTransaction() override;
  void RollbackTransaction() override;

  // Used by the catalogue functions registered on the handle.
  std::optional<long long> ObjectId(const std::string& name, const std::string& type);
  std::optional<long long> DatabaseId(const std::string& name);
  std::optional<std::string> DatabaseName(long long id);
  std::optional<std::string> NameOfObject(long long id);

 private:
  struct Variable {
    SqlType type;
    Value value;
  };
  struct Frame {
    std::map<std::string, Variable> vars;  // key lower "@x"
    const std::vector<Param>* params = nullptr;
  };
  struct Compiled {
    Translation tr;
    SqliteStatement stmt;
    std::string db;
    long long gen = -1;
    long long temp_gen = -1;
    std::vector<std::string> assigned;  // SELECT @a = …, @b = …
  };
  struct CachedBatch {
    std::shared_ptr<const Batch> ast;
    unsigned long long last_used = 0;  // batch_clock_ at its last use
    std::unordered_map<const void*, std::unique_ptr<Compiled>> compiled;
  };
  enum class Flow { Normal, Break, Continue, Return };

  std::shared_ptr<CachedBatch> GetBatch(const std::string& sql);
  void RefreshCatalog();
  TranslateEnv Env(const Frame& frame, std::map<std::string, SqlType>* var_types) const;
  template <class Make>
  Compiled& GetCompiled(CachedBatch& cb, const void* key, const Frame& frame, Make make);
  void BindAll(Compiled& c, const Frame& frame);
  // Steps a compiled statement; keeps rows into `out` when given.
  void Run(Compiled& c, const Frame& frame, ResultSet* out,
           std::vector<std::vector<Value>>* rows_only = nullptr);
  [[noreturn]] void Fail(Compiled* c, const std::string& statement_kind);

  void RunBatch(CachedBatch& cb, Frame& frame, ResultSet& result, bool& have_result);
  // The batch interpreter: RunStatement hands each statement to the handler of its kind.
  Flow RunStatement(CachedBatch& cb, const Stmt& s, Frame& frame, ResultSet& result,
                    bool& have_result);
  Flow RunSelect(CachedBatch& cb, const SelectStmt& s, Frame& frame, ResultSet& result,
                 bool& have_result);
  Flow RunWrite(CachedBatch& cb, const Stmt& s, Frame& frame, ResultSet& result);
  Flow RunDeclare(CachedBatch& cb, const DeclareStmt& s, Frame& frame);
  Flow RunSetVariable(CachedBatch& cb, const SetVariableStmt& s, Frame& frame);
  Flow RunSetOption(const SetOptionStmt& s);
  Flow RunIf(CachedBatch& cb, const IfStmt& s, Frame& frame, ResultSet& result, bool& have_result);
  Flow RunWhile(CachedBatch& cb, const WhileStmt& s, Frame& frame, ResultSet& result,
                bool& have_result);
  Flow RunBlock(CachedBatch& cb, const BlockStmt& s, Frame& frame, ResultSet& result,
                bool& have_result);
  Flow RunExec(CachedBatch& cb, const ExecStmt& s, Frame& frame, ResultSet& result,
               bool& have_result);
  Flow RunUse(const UseStmt& s);
  Value Evaluate(CachedBatch& cb, const Expr& e, Frame& frame, const SqlType* cast_to);
  bool Test(CachedBatch& cb, const Expr& e, Frame& frame);

  // Schema changes.
  template <class F>
  void ChangeSchema(bool temp, F&& change);
  void CreateTable(const CreateTableStmt& s, Frame& frame);
  void CreateTableFromColumns(const ResolvedName& r, const std::string& written,
                              std::vector<ColumnInfo> columns, std::vector<KeyInfo> keys);
  void DropTable(const DropStmt& s);
  void Truncate(const TruncateStmt& s);
  void AlterTable(const AlterTableStmt& s, Frame& frame);
  void CreateView(const CreateViewStmt& s);
  void DropObject(const DropStmt& s, const char* type, const char* what);
  void CreateFunction(const CreateFunctionStmt& s);
  void CreateIndex(const CreateIndexStmt& s);
  void DropIndex(const DropStmt& s);
  void CreateDatabase(const CreateDatabaseStmt& s);
  void DropDatabase(const DropStmt& s);
  void SelectInto(CachedBatch& cb, const SelectStmt& s, Frame& frame);
  void RebuildTable(const ObjectInfo& old_info, const ObjectInfo& new_info,
                    const std::vector<std::string>& sources);
  void CreateIndexes(const ObjectInfo& o);
  ResolvedName ResolveName(const ObjectName& name) const;
  TranslateEnv SchemaEnv() const;  // what DDL sees: the catalogue, # tables, current database
  void PublishTemp(std::shared_ptr<const ObjectInfo> o);

  std::string MapError(int ext, const std::string& msg, const std::string& statement_kind) const;

  SqliteDb handle_;        // owns the connection handle; destroyed after every statement below
  sqlite3* db_ = nullptr;  // handle_.get()
  std::shared_ptr<FileState> file_;
  std::string current_db_ = "master";
  std::shared_ptr<const Catalog> catalog_;
  long long catalog_gen_ = -1;
  TempTables temp_tables_;
  long long temp_gen_ = 0;
  std::vector<std::string> global_temps_;
  // Parsed batches and their prepared statements by text. Bounded: a text built with values
  // inside (a person number, a date) is seen once and must not keep its statements for the
  // connection's life, so past kCachedBatches texts the least recently used one goes.
  static constexpr size_t kCachedBatches = 96;
  std::unordered_map<std::string, std::shared_ptr<CachedBatch>> batches_;
  unsigned long long batch_clock_ = 0;
  long long rowcount_ = 0;
  long long identity_ = 0;
  bool have_identity_ = false;
  int spid_ = 0;
  int exec_depth_ = 0;
  std::chrono::steady_clock::time_point deadline_{};
  bool timed_ = false;
  // Held from BeginTransaction to its end: the file's writer belongs to this connection's
  // transaction, so its statements do not take the write lock again.
  std::unique_lock<std::mutex> tx_lock_;
  SqliteStatement schema_probe_;
  std::chrono::steady_clock::time_point next_probe_{};

  // Checkpoints run outside the file's write lock: a commit only notes how long the
  // write-ahead log has grown, and once it is past kCheckpointFrames pages the connection
  // copies it back into the file after the lock is released (a passive checkpoint, which
  // never waits for and never blocks the writers).
  static constexpr int kCheckpointFrames = 4000;
  static int NoteWalFrames(void* self, sqlite3*, const char*, int frames);
  void CheckpointWhenDue();
  int wal_frames_ = 0;  // pages in the log after this connection's last commit
};

namespace {

EmbeddedConnection* Self(sqlite3_context* ctx) {
  return static_cast<EmbeddedConnection*>(sqlite3_user_data(ctx));
}

std::string ArgText(sqlite3_value* v) { return ValueText(v); }

void FnObjectId(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  std::string type = argc > 1 && sqlite3_value_type(argv[1]) != SQLITE_NULL ? ArgText(argv[1]) : "";
  auto id = Self(ctx)->ObjectId(ArgText(argv[0]), type);
  if (id)
    sqlite3_result_int64(ctx, *id);
  else
    sqlite3_result_null(ctx);
}

void FnDbId(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  auto id = Self(ctx)->DatabaseId(ArgText(argv[0]));
  if (id)
    sqlite3_result_int64(ctx, *id);
  else
    sqlite3_result_null(ctx);
}

void FnDbName(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  auto name = Self(ctx)->DatabaseName(sqlite3_value_int64(argv[0]));
  if (name)
    sqlite3_result_text(ctx, name->c_str(), -1, SQLITE_TRANSIENT);
  else
    sqlite3_result_null(ctx);
}

void FnObjectName(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  auto name = Self(ctx)->NameOfObject(sqlite3_value_int64(argv[0]));
  if (name)
    sqlite3_result_text(ctx, name->c_str(), -1, SQLITE_TRANSIENT);
  else
    sqlite3_result_null(ctx);
}

int ProgressHandler(void* p) {
  auto* deadline = static_cast<std::chrono::steady_clock::time_point*>(p);
  return std::chrono::steady_clock::now() > *deadline ? 1 : 0;
}

// SQLite's memory statistics take one process-wide mutex on every allocation, which the
// worker threads then contend for; the engine never reads them. Switched off once, before
// the first connection (a no-op when SQLite was already initialised by someone else).
void ConfigureSqliteOnce() {
  static std::once_flag once;
  std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}

}  // namespace

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
    }
  }
  RollbackTransaction();
}

// ------------------------------------------------------------------------ transactions

void EmbeddedConnection::BeginTransaction() {
  CountStatement();
  if (tx_lock_.owns_lock()) throw DbError("A transaction is already open on this connection.");
  tx_lock_ = std::unique_lock<std::mutex>(file_->write_mutex);
  try {
    ExecSqlite(db_, "BEGIN IMMEDIATE");
  } catch (...) {
    tx_lock_.unlock();
    throw;
  }
}

void EmbeddedConnection::CommitTransaction() {
  CountStatement();
  if (!tx_lock_.owns_lock())
    throw DbError("The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
  try {
    ExecSqlite(db_, "COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    tx_lock_.unlock();
    throw;
  }
  tx_lock_.unlock();
  CheckpointWhenDue();
}

int EmbeddedConnection::NoteWalFrames(void* self, sqlite3*, const char*, int frames) {
  static_cast<EmbeddedConnection*>(self)->wal_frames_ = frames;
  return SQLITE_OK;
}

void EmbeddedConnection::CheckpointWhenDue() {
  if (wal_frames_ < kCheckpointFrames || tx_lock_.owns_lock()) return;
  wal_frames_ = 0;
  // Passive: copies what no reader still needs; what it leaves is copied by a later one.
  sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

void EmbeddedConnection::RollbackTransaction() {
  if (!tx_lock_.owns_lock()) return;
  CountStatement();
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  tx_lock_.unlock();
}

// ------------------------------------------------------------------------ catalogue access

void EmbeddedConnection::RefreshCatalog() {
  // Changes made in this process are published at once; a change made by another process
  // (a command-line run on the same folder) is noticed within a second.
  auto now = std::chrono::steady_clock::now();
  long long version = -1;
  if (now >= next_probe_) {
    version = SchemaVersion(db_, schema_probe_);
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
  static const char* kSystem[] = {"master", "tempdb", "model", "msdb"};
  for (int i = 0; i < 4; ++i)
    if (EqualsNoCase(name, kSystem[i])) return i + 1;
  if (const DatabaseInfo* d = catalog_->FindDatabase(name)) return d->database_id;
  return std::nullopt;
}

std::optional<std::string> EmbeddedConnection::DatabaseName(long long id) {
  static const char* kSystem[] = {"master", "tempdb", "model", "msdb"};
  if (id >= 1 && id <= 4) return std::string(kSystem[id - 1]);
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

// ------------------------------------------------------------------------ running statements

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

template <class Make>
EmbeddedConnection::Compiled& EmbeddedConnection::GetCompiled(CachedBatch& cb, const void* key,
                                                              const Frame& frame, Make make) {
  std::unique_ptr<Compiled>& slot = cb.compiled[key];
  if (slot && slot->gen == catalog_gen_ && slot->temp_gen == temp_gen_ && slot->db == current_db_) {
    return *slot;
  }
  std::map<std::string, SqlType> var_types;
  Translator t(Env(frame, &var_types));
  auto c = std::make_unique<Compiled>();
  c->tr = make(t, *c);
  c->db = current_db_;
  c->gen = catalog_gen_;
  c->temp_gen = temp_gen_;
  try {
    c->stmt = SqliteStatement::Prepare(db_, c->tr.sql, SQLITE_PREPARE_PERSISTENT);
  } catch (const DbError& e) {
    throw DbError("The embedded engine could not prepare its translation (" +
                  std::string(e.what()) + "): " + c->tr.sql);
  }
  slot = std::move(c);
  return *slot;
}

void EmbeddedConnection::BindAll(Compiled& c, const Frame& frame) {
  sqlite3_stmt* st = c.stmt.get();
  for (std::size_t i = 0; i < c.tr.bindings.size(); ++i) {
    const Binding& b = c.tr.bindings[i];
    int pos = static_cast<int>(i) + 1;
    Value v;
    if (b.kind == Binding::Kind::Param) {
      if (!frame.params || b.index >= static_cast<int>(frame.params->size()))
        throw DbError("No value given for one or more required parameters.");
      const Param& p = (*frame.params)[static_cast<std::size_t>(b.index)];
      v = p.value;
      switch (p.type) {
        case ParamType::String:
          if (!v.IsNull() && v.type() != DataType::Text) v = Value(v.AsString());
          break;
        case ParamType::SmallInt:
        case ParamType::Integer:
        case ParamType::Bit:
          if (v.type() == DataType::Text) {
            try {
              v = Value(v.AsInteger());
            } catch (const DbError&) {
            }
          } else if (v.type() == DataType::Real) {
            v = Value(v.AsInteger());
          }
          break;
        case ParamType::Real:
          if (v.type() == DataType::Text || v.type() == DataType::Integer) {
            try {
              v = Value(v.AsFloat());
            } catch (const DbError&) {
            }
          }
          break;
        case ParamType::Unknown:
          break;
      }
    } else if (b.kind == Binding::Kind::Variable) {
      auto it = frame.vars.find(b.name);
      if (it == frame.vars.end())
        throw DbError("Must declare the scalar variable \"" + b.name + "\".");
      v = it->second.value;
    } else {
      if (b.name == "@@rowcount")
        v = Value(static_cast<std::int64_t>(rowcount_));
      else if (b.name == "@@identity")
        v = have_identity_ ? Value(static_cast<std::int64_t>(identity_)) : Value();
      else if (b.name == "@@spid")
        v = Value(spid_);
      else if (b.name == "@@version")
        v = Value("Microsoft SQL Server compatible embedded engine (SQLite " +
                  std::string(sqlite3_libversion()) + ")");
      else if (b.name == "@@servername")
        v = Value("");
      else if (b.name == "@@trancount")
        v = Value(static_cast<std::int64_t>(tx_lock_.owns_lock() ? 1 : 0));
      else
        v = Value(0);
    }
    switch (v.type()) {
      case DataType::Null:
        sqlite3_bind_null(st, pos);
        break;
      case DataType::Integer:
        sqlite3_bind_int64(st, pos, v.AsInteger());
        break;
      case DataType::Real:
        sqlite3_bind_double(st, pos, v.AsFloat());
        break;
      case DataType::Text: {
        std::string s = v.AsString();
        sqlite3_bind_text(st, pos, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        break;
      }
    }
  }
}

std::string EmbeddedConnection::MapError(int ext, const std::string& msg,
                                         const std::string& kind) const {
  return MapSqliteError(ext, msg, kind, timed_, [this](const std::string& storage) {
    std::shared_ptr<const ObjectInfo> o = catalog_->FindByStorage(storage);
    if (!o)
      for (const auto& [k, t] : temp_tables_)
        if (EqualsNoCase(t->storage, storage)) o = t;
    return o;
  });
}

void EmbeddedConnection::Fail(Compiled* c, const std::string& kind) {
  int ext = sqlite3_extended_errcode(db_);
  std::string msg = sqlite3_errmsg(db_);
  if (c) c->stmt.Reset();
  throw DbError(MapError(ext, msg, kind));
}

void EmbeddedConnection::Run(Compiled& c, const Frame& frame, ResultSet* out,
                             std::vector<std::vector<Value>>* rows_only) {
  BindAll(c, frame);
  sqlite3_stmt* st = c.stmt.get();
  std::unique_lock<std::mutex> lock(file_->write_mutex, std::defer_lock);
  if (c.tr.writes_main && !tx_lock_.owns_lock()) lock.lock();
  int cols = sqlite3_column_count(st);
  if (out) {
    out->has_columns = true;
    out->columns = c.tr.columns;
    out->columns.resize(static_cast<std::size_t>(cols));
    out->rows.clear();
  }
  long long count = 0;
  int retries = 0;
  while (true) {
    int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) break;
    if ((rc & 0xFF) == SQLITE_BUSY && count == 0 && retries < 200) {
      // Another process wrote between this statement's read and its write: nothing of
      // the statement took effect, so it runs again.
      sqlite3_reset(st);
      ++retries;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    if (rc != SQLITE_ROW) {
      Fail(&c, c.tr.kind == StatementKind::Update ? "UPDATE" : "INSERT");
    }
    ++count;
    if (!out && !rows_only) continue;
    std::vector<Value> row;
    row.reserve(static_cast<std::size_t>(cols));
    for (int i = 0; i < cols; ++i) {
      switch (sqlite3_column_type(st, i)) {
        case SQLITE_INTEGER:
          row.emplace_back(static_cast<std::int64_t>(sqlite3_column_int64(st, i)));
          break;
        case SQLITE_FLOAT:
          row.emplace_back(sqlite3_column_double(st, i));
          break;
        case SQLITE_NULL:
          row.emplace_back();
          break;
        default: {
          const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
          row.emplace_back(
              std::string(t ? t : "", static_cast<std::size_t>(sqlite3_column_bytes(st, i))));
        }
      }
    }
    if (out)
      out->rows.push_back(std::move(row));
    else
      rows_only->push_back(std::move(row));
  }
  if (cols == 0) {
    rowcount_ = sqlite3_changes(db_);
    if (c.tr.target && c.tr.target->IdentityColumn() && c.tr.kind == StatementKind::Insert &&
        rowcount_ > 0) {
      identity_ = sqlite3_last_insert_rowid(db_);
      have_identity_ = true;
    }
  } else {
    rowcount_ = count;
  }
  sqlite3_reset(st);
  if (lock.owns_lock()) {
    lock.unlock();
    CheckpointWhenDue();
  }
}

Value EmbeddedConnection::Evaluate(CachedBatch& cb, const Expr& e, Frame& frame,
                                   const SqlType* cast_to) {
  // Every expression, a literal or parameter too, is evaluated by SQLite as "SELECT <expr>"
  // (prepared once per batch), so its conversions and errors are those of a statement.
  Compiled& c = GetCompiled(cb, &e, frame,
                            [&](Translator& t, Compiled&) { return t.Scalar(e, false, cast_to); });
  std::vector<std::vector<Value>> rows;
  Run(c, frame, nullptr, &rows);
  return rows.empty() || rows[0].empty() ? Value() : rows[0][0];
}

bool EmbeddedConnection::Test(CachedBatch& cb, const Expr& e, Frame& frame) {
  Compiled& c =
      GetCompiled(cb, &e, frame, [&](Translator& t, Compiled&) { return t.Scalar(e, true); });
  std::vector<std::vector<Value>> rows;
  Run(c, frame, nullptr, &rows);
  return !rows.empty() && !rows[0].empty() && rows[0][0].AsInteger() != 0;
}

ResultSet EmbeddedConnection::Execute(const std::string& sql, const std::vector<Param>& params,
                                      int timeout_seconds) {
  CountStatement();
  RefreshCatalog();
  timed_ = timeout_seconds > 0;
  if (timed_) {
    deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    sqlite3_progress_handler(db_, 10000, ProgressHandler, &deadline_);
  }
  ResultSet result;
  bool have_result = false;
  try {
    std::shared_ptr<CachedBatch> cb = GetBatch(sql);  // held: a nested EXEC may evict the cache
    Frame frame;
    frame.params = &params;
    if (cb->ast->statements.size() > 1)
      for (const StmtPtr& s : cb->ast->statements)
        if (s->kind == StmtKind::CreateView || s->kind == StmtKind::CreateFunction)
          throw DbError(std::string("'CREATE ") +
                        (s->kind == StmtKind::CreateView ? "VIEW" : "FUNCTION") +
                        "' must be the first statement in a query batch.");
    RunBatch(*cb, frame, result, have_result);
  } catch (...) {
    if (timed_) sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    timed_ = false;
    throw;
  }
  if (timed_) sqlite3_progress_handler(db_, 0, nullptr, nullptr);
  timed_ = false;
  return result;
}

void EmbeddedConnection::RunBatch(CachedBatch& cb, Frame& frame, ResultSet& result,
                                  bool& have_result) {
  std::shared_ptr<const Batch> keep = cb.ast;
  for (const StmtPtr& s : keep->statements) {
    if (RunStatement(cb, *s, frame, result, have_result) == Flow::Return) break;
  }
}

EmbeddedConnection::Flow EmbeddedConnection::RunStatement(CachedBatch& cb, const Stmt& s,
                                                          Frame& frame, ResultSet& result,
                                                          bool& have_result) {
  switch (s.kind) {
    case StmtKind::Select:
      return RunSelect(cb, s.As<SelectStmt>(), frame, result, have_result);
    case StmtKind::Insert:
    case StmtKind::Update:
    case StmtKind::Delete:
      return RunWrite(cb, s, frame, result);
    case StmtKind::Declare:
      return RunDeclare(cb, s.As<DeclareStmt>(), frame);
    case StmtKind::SetVariable:
      return RunSetVariable(cb, s.As<SetVariableStmt>(), frame);
    case StmtKind::SetOption:
      return RunSetOption(s.As<SetOptionStmt>());
    case StmtKind::If:
      return RunIf(cb, s.As<IfStmt>(), frame, result, have_result);
    case StmtKind::While:
      return RunWhile(cb, s.As<WhileStmt>(), frame, result, have_result);
    case StmtKind::Break:
      return Flow::Break;
    case StmtKind::Continue:
      return Flow::Continue;
    case StmtKind::Block:
      return RunBlock(cb, s.As<BlockStmt>(), frame, result, have_result);
    case StmtKind::Return:
      return Flow::Return;
    case StmtKind::Print:
      Evaluate(cb, *s.As<PrintStmt>().value, frame, nullptr);
      return Flow::Normal;
    case StmtKind::Exec:
      return RunExec(cb, s.As<ExecStmt>(), frame, result, have_result);
    case StmtKind::Use:
      return RunUse(s.As<UseStmt>());
    case StmtKind::CreateTable:
      CreateTable(s.As<CreateTableStmt>(), frame);
      return Flow::Normal;
    case StmtKind::AlterTable:
      AlterTable(s.As<AlterTableStmt>(), frame);
      return Flow::Normal;
    case StmtKind::DropTable:
      DropTable(s.As<DropStmt>());
      return Flow::Normal;
    case StmtKind::Truncate:
      Truncate(s.As<TruncateStmt>());
      return Flow::Normal;
    case StmtKind::CreateView:
      CreateView(s.As<CreateViewStmt>());
      return Flow::Normal;
    case StmtKind::DropView:
      DropObject(s.As<DropStmt>(), "V", "view");
      return Flow::Normal;
    case StmtKind::CreateFunction:
      CreateFunction(s.As<CreateFunctionStmt>());
      return Flow::Normal;
    case StmtKind::DropFunction:
      DropObject(s.As<DropStmt>(), "FN", "function");
      return Flow::Normal;
    case StmtKind::CreateIndex:
      CreateIndex(s.As<CreateIndexStmt>());
      return Flow::Normal;
    case StmtKind::DropIndex:
      DropIndex(s.As<DropStmt>());
      return Flow::Normal;
    case StmtKind::CreateDatabase:
      CreateDatabase(s.As<CreateDatabaseStmt>());
      return Flow::Normal;
    case StmtKind::DropDatabase:
      DropDatabase(s.As<DropStmt>());
      return Flow::Normal;
  }
  Unsupported("statement");
}

// A query: SELECT … INTO creates and fills its table, SELECT @v = … assigns the last row's
// values, any other gives the batch's result (the first one; later ones are run and dropped).
EmbeddedConnection::Flow EmbeddedConnection::RunSelect(CachedBatch& cb, const SelectStmt& s,
                                                       Frame& frame, ResultSet& result,
                                                       bool& have_result) {
  const SelectCore& first = s.select->cores[0];
  if (!first.into.empty()) {
    SelectInto(cb, s, frame);
    return Flow::Normal;
  }
  bool assignment = false;
  for (const SelectItem& it : first.items) assignment = assignment || !it.assign_variable.empty();
  if (assignment) {
    Compiled& c = GetCompiled(cb, &s, frame, [&](Translator& t, Compiled& comp) {
      comp.assigned.clear();
      return t.AssignmentQuery(*s.select, &comp.assigned);
    });
    std::vector<std::vector<Value>> rows;
    Run(c, frame, nullptr, &rows);
    for (const auto& row : rows)
      for (std::size_t i = 0; i < c.assigned.size() && i < row.size(); ++i)
        frame.vars[c.assigned[i]].value = row[i];
    return Flow::Normal;
  }
  Compiled& c =
      GetCompiled(cb, &s, frame, [&](Translator& t, Compiled&) { return t.Query(*s.select); });
  if (!have_result) {
    Run(c, frame, &result);
    have_result = true;
  } else {
    std::vector<std::vector<Value>> discard;
    Run(c, frame, nullptr, &discard);
  }
  return Flow::Normal;
}

// INSERT, UPDATE or DELETE; the batch reports the rows it touched.
EmbeddedConnection::Flow EmbeddedConnection::RunWrite(CachedBatch& cb, const Stmt& s, Frame& frame,
                                                      ResultSet& result) {
  Compiled& c = GetCompiled(cb, &s, frame, [&](Translator& t, Compiled&) {
    if (s.kind == StmtKind::Insert) return t.Insert(s.As<InsertStmt>());
    if (s.kind == StmtKind::Update) return t.Update(s.As<UpdateStmt>());
    return t.Delete(s.As<DeleteStmt>());
  });
  Run(c, frame, nullptr);
  result.rows_affected = rowcount_;
  return Flow::Normal;
}

EmbeddedConnection::Flow EmbeddedConnection::RunDeclare(CachedBatch& cb, const DeclareStmt& s,
                                                        Frame& frame) {
  for (const Declaration& d : s.declarations) {
    std::string name = LowerAscii(d.name);
    if (frame.vars.count(name))
      throw DbError("The variable name '" + d.name +
                    "' has already been declared. Variable names must be unique within a query "
                    "batch or stored procedure.");
    Variable v;
    v.type = TypeFromSpec(d.type);
    frame.vars[name] = v;
    if (d.init) frame.vars[name].value = Evaluate(cb, *d.init, frame, &frame.vars[name].type);
  }
  return Flow::Normal;
}

EmbeddedConnection::Flow EmbeddedConnection::RunSetVariable(CachedBatch& cb,
                                                            const SetVariableStmt& s,
                                                            Frame& frame) {
  std::string name = LowerAscii(s.variable);
  auto it = frame.vars.find(name);
  if (it == frame.vars.end())
    throw DbError("Must declare the scalar variable \"" + s.variable + "\".");
  SqlType type = it->second.type;
  Value v = Evaluate(cb, *s.value, frame, &type);
  frame.vars[name].value = std::move(v);
  return Flow::Normal;
}

EmbeddedConnection::Flow EmbeddedConnection::RunSetOption(const SetOptionStmt& s) {
  static const std::map<std::string, bool> kAccepted = {{"NOCOUNT", false},
                                                        {"ANSI_NULLS", true},
                                                        {"QUOTED_IDENTIFIER", true},
                                                        {"ANSI_PADDING", true},
                                                        {"ANSI_WARNINGS", true},
                                                        {"ARITHABORT", false},
                                                        {"CONCAT_NULL_YIELDS_NULL", true},
                                                        {"XACT_ABORT", false},
                                                        {"ANSI_NULL_DFLT_ON", true},
                                                        {"NUMERIC_ROUNDABORT", false},
                                                        {"IMPLICIT_TRANSACTIONS", false}};
  auto it = kAccepted.find(s.option);
  if (it == kAccepted.end()) Unsupported("SET " + s.option);
  // Options whose OFF (or ON) would change meaning are refused rather than ignored.
  if (it->second && !s.on) Unsupported("SET " + s.option + " OFF");
  if (s.option == "IMPLICIT_TRANSACTIONS" && s.on) Unsupported("SET IMPLICIT_TRANSACTIONS ON");
  return Flow::Normal;
}

EmbeddedConnection::Flow EmbeddedConnection::RunIf(CachedBatch& cb, const IfStmt& s, Frame& frame,
                                                   ResultSet& result, bool& have_result) {
  if (Test(cb, *s.condition, frame))
    return RunStatement(cb, *s.then_branch, frame, result, have_result);
  if (s.else_branch) return RunStatement(cb, *s.else_branch, frame, result, have_result);
  return Flow::Normal;
}

EmbeddedConnection::Flow EmbeddedConnection::RunWhile(CachedBatch& cb, const WhileStmt& s,
                                                      Frame& frame, ResultSet& result,
                                                      bool& have_result) {
  while (Test(cb, *s.condition, frame)) {
    Flow f = RunStatement(cb, *s.body, frame, result, have_result);
    if (f == Flow::Break) break;
    if (f == Flow::Return) return f;
  }
  return Flow::Normal;
}

EmbeddedConnection::Flow EmbeddedConnection::RunBlock(CachedBatch& cb, const BlockStmt& s,
                                                      Frame& frame, ResultSet& result,
                                                      bool& have_result) {
  for (const StmtPtr& inner : s.body) {
    Flow f = RunStatement(cb, *inner, frame, result, have_result);
    if (f != Flow::Normal) return f;
  }
  return Flow::Normal;
}

// EXEC (text): the text runs as a batch of its own (own variables), in the current
// database, which it may change only for itself.
EmbeddedConnection::Flow EmbeddedConnection::RunExec(CachedBatch& cb, const ExecStmt& s,
                                                     Frame& frame, ResultSet& result,
                                                     bool& have_result) {
  Value text = Evaluate(cb, *s.batch, frame, nullptr);
  // Nested EXECs count as nesting levels, as views and functions do in the translator.
  if (exec_depth_ >= kMaxNestingLevel) throw DbError(kNestingTooDeep);
  std::string saved_db = current_db_;
  ++exec_depth_;
  try {
    std::string inner_sql = text.AsString();
    std::shared_ptr<CachedBatch> inner = GetBatch(inner_sql);
    Frame inner_frame;
    RunBatch(*inner, inner_frame, result, have_result);
  } catch (...) {
    --exec_depth_;
    current_db_ = saved_db;
    throw;
  }
  --exec_depth_;
  current_db_ = saved_db;
  return Flow::Normal;
}

EmbeddedConnection::Flow EmbeddedConnection::RunUse(const UseStmt& s) {
  const std::string& name = s.database;
  if (EqualsNoCase(name, "master") || EqualsNoCase(name, "tempdb")) {
    current_db_ = LowerAscii(name);
    return Flow::Normal;
  }
  const DatabaseInfo* d = catalog_->FindDatabase(name);
  if (!d)
    throw DbError("Database '" + name +
                  "' does not exist. Make sure that the name is entered correctly.");
  current_db_ = d->name;
  return Flow::Normal;
}

// ------------------------------------------------------------------------ schema changes

template <class F>
void EmbeddedConnection::ChangeSchema(bool temp, F&& change) {
  if (temp) {
    Catalog unused;
    change(unused);
    ++temp_gen_;
    return;
  }
  if (tx_lock_.owns_lock())
    throw DbError("Schema changes are not supported inside a transaction by this engine.");
  std::lock_guard<std::mutex> wl(file_->write_mutex);
  // The file's write lock is taken first, so the catalogue read below is the latest one,
  // also when another process changed the schema.
  ExecSqlite(db_, "BEGIN IMMEDIATE");
  Catalog copy;
  try {
    std::shared_ptr<const Catalog> latest;
    {
      std::lock_guard<std::mutex> cl(file_->catalog_mutex);
      long long version = SchemaVersion(db_);
      if (version != file_->schema_version) {
        file_->catalog = std::make_shared<const Catalog>(Catalog::Load(db_));
        file_->schema_version = version;
        ++file_->generation;
      }
      latest = file_->catalog;
      catalog_ = latest;
      catalog_gen_ = file_->generation;
    }
    copy = *latest;
    change(copy);
    ExecSqlite(db_, "COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  std::lock_guard<std::mutex> cl(file_->catalog_mutex);
  file_->catalog = std::make_shared<const Catalog>(std::move(copy));
  file_->schema_version = SchemaVersion(db_);
  ++file_->generation;
  catalog_ = file_->catalog;
  catalog_gen_ = file_->generation;
}

void EmbeddedConnection::CreateIndexes(const ObjectInfo& o) {
  for (const IndexInfo& ix : o.indexes) ExecSqlite(db_, CreateIndexSql(o, ix));
}

void EmbeddedConnection::PublishTemp(std::shared_ptr<const ObjectInfo> o) {
  temp_tables_[LowerAscii(o->name)] = std::move(o);
}

void EmbeddedConnection::CreateTableFromColumns(const ResolvedName& r, const std::string& written,
                                                std::vector<ColumnInfo> columns,
                                                std::vector<KeyInfo> keys) {
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
    o->schema = "temp";
    o->storage = r.name;
    o->object_id = ++g_temp_object_ids;
    for (KeyInfo& k : o->keys) {
      k.object_id = ++g_temp_object_ids;
      if (k.name.empty()) k.name = std::string(k.primary ? "PK__" : "UQ__") + r.name;
    }
    ChangeSchema(true, [&](Catalog&) {
      ExecSqlite(db_, CreateTableSql(*o, o->storage));
      if (const ColumnInfo* id = o->IdentityColumn(); id && id->seed != 1)
        ExecSqlite(db_, "INSERT INTO temp.sqlite_sequence (name, seq) VALUES (" +
                            QuoteText(o->storage) + ", " + std::to_string(id->seed - 1) + ")");
      PublishTemp(o);
    });
    return;
  }
  ChangeSchema(false, [&](Catalog& cat) {
    if (cat.Find(r.database, r.name))
      throw DbError("There is already an object named '" + r.name + "' in the database.");
    o->schema = "main";
    o->storage = StorageName(r.database, r.name);
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
        k.name = std::string(k.primary ? "PK__" : "UQ__") + r.name.substr(0, 8) + "__" + hex;
      }
      if (cat.FindKey(r.database, k.name, nullptr) || cat.Find(r.database, k.name))
        throw DbError("There is already an object named '" + k.name + "' in the database.");
    }
    ExecSqlite(db_, CreateTableSql(*o, o->storage));
    if (const ColumnInfo* id = o->IdentityColumn(); id && id->seed != 1)
      ExecSqlite(db_, "INSERT INTO main.sqlite_sequence (name, seq) VALUES (" +
                          QuoteText(o->storage) + ", " + std::to_string(id->seed - 1) + ")");
    Catalog::SaveObject(db_, *o);
    cat.Put(o);
  });
  if (r.global_temp) global_temps_.push_back(r.name);
}

void EmbeddedConnection::CreateTable(const CreateTableStmt& s, Frame&) {
  ResolvedName r = ResolveName(s.target);
  if (s.target.parts.size() >= 2 && !s.target.parts[s.target.parts.size() - 2].empty() &&
      !EqualsNoCase(s.target.parts[s.target.parts.size() - 2], "dbo"))
    Unsupported("schema " + s.target.parts[s.target.parts.size() - 2]);
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
  std::vector<ColumnInfo> cols;
  for (std::size_t i = 0; i < q.columns.size(); ++i) {
    if (q.columns[i].empty())
      throw DbError(
          "An object or column name is missing or empty. For SELECT INTO statements, verify each "
          "column has a name. For other statements, look for empty alias names. Aliases defined "
          "as \"\" or [] are not allowed. Change the alias to a valid name.");
    ColumnInfo c;
    c.name = q.columns[i];
    c.type = q.types[i].IsKnown() ? q.types[i] : SqlType::VarChar(-1);
    if (c.type.IsString() && c.type.length == 0) c.type.length = 1;
    c.column_id = static_cast<int>(i) + 1;
    cols.push_back(std::move(c));
  }
  CreateTableFromColumns(r, into.last(), cols, {});
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
        k.object_id = cat ? cat->NextObjectId() : ++g_temp_object_ids;
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
  for (std::size_t i = 0; i < q.columns.size(); ++i) {
    ColumnInfo c;
    c.name = q.columns[i];
    c.type = q.types[i].IsKnown() ? q.types[i] : SqlType::VarChar(-1);
    if (c.type.IsString() && c.type.length == 0) c.type.length = 1;
    c.column_id = static_cast<int>(i) + 1;
    o->columns.push_back(std::move(c));
  }
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
      ix.object_id = ++g_temp_object_ids;
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
  static const char* kSystem[] = {"master", "tempdb", "model", "msdb"};
  for (const char* sys : kSystem)
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

}  // namespace embedded

std::unique_ptr<Connection> OpenEmbedded(const ConnectionSettings& settings) {
  return std::make_unique<embedded::EmbeddedConnection>(settings);
}

}  // namespace zel::db
