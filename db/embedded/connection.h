// The embedded connection's class, shared by the files that implement it (not part of the
// engine's interface): embedded.cpp (opening the server file, the session's catalogue and
// the parsed-batch cache), transactions.cpp (transactions, checkpoints, schema changes),
// statement_runner.cpp (binding and stepping a translated statement), interpreter.cpp (the
// batch interpreter) and ddl_tables.cpp / ddl_objects.cpp (the DDL executor).
// Each connection is used by one thread; FileState is shared by the connections of all
// threads on one file, its catalogue under catalog_mutex and its writes under write_mutex.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/client.h"
#include "db/embedded/ast.h"
#include "db/embedded/catalog.h"
#include "db/embedded/lexer.h"
#include "db/embedded/sqlite_handle.h"
#include "db/embedded/translator.h"

namespace zel::db::embedded {

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

// The state of the file at `path`, shared by every connection of the process on it.
std::shared_ptr<FileState> GetFileState(const std::string& path);

// SQLite's schema version of the main file; -1 when it cannot be read.
long long SchemaVersion(sqlite3* db);

// The creation time stored with a new object or database ("YYYY-MM-DD HH:MM:SS.000", local).
std::string NowText();

// A new object id for a # table, its keys and indexes: process-wide, above the file's ids.
long long NextTempObjectId();

// The columns a query's result gives a table or view it creates (a type the query does not
// know is varchar(max); an empty text type is one character long).
std::vector<ColumnInfo> ColumnsOfQuery(const Translation& q);

// The databases every server has, by their ids 1 to 4.
inline constexpr const char* kSystemDatabases[] = {"master", "tempdb", "model", "msdb"};

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
  Value BoundValue(const Binding& b, const Frame& frame) const;
  Value SessionValue(const std::string& name) const;  // @@rowcount, @@identity, …
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
  // Runs `change` on a copy of the latest catalogue inside one SQLite transaction under the
  // file's write lock and publishes the copy when it commits; for a # table (`temp`) runs
  // it at once and only renews this session's translations.
  void ChangeSchema(bool temp, const std::function<void(Catalog&)>& change);
  void CheckNewTable(const ResolvedName& r, const std::string& written,
                     const std::vector<ColumnInfo>& columns) const;
  void CreateTempTable(const std::shared_ptr<ObjectInfo>& o);
  void CreateMainTable(const std::string& written, const std::shared_ptr<ObjectInfo>& o);
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

}  // namespace zel::db::embedded
