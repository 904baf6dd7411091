// The embedded connection's transactions: BEGIN IMMEDIATE under the file's write lock held
// until the transaction ends, the passive checkpoint after a commit that found the
// write-ahead log long, and the schema change, one SQLite transaction that changes a copy of
// the latest catalogue and publishes it when it commits.
// Each connection is used by one thread; the file's write lock and catalogue are shared.
#include <sqlite3.h>

#include <functional>
#include <memory>
#include <mutex>

#include "db/client.h"
#include "db/embedded/catalog.h"
#include "db/embedded/connection.h"
#include "db/embedded/sqlite_handle.h"

namespace zel::db::embedded {

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

void EmbeddedConnection::ChangeSchema(bool temp, const std::function<void(Catalog&)>& change) {
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

}  // namespace zel::db::embedded
