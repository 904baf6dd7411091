// The embedded connection's statement runner: binds a translated statement's parameters,
// variables and session values (@@rowcount, @@identity, …), steps it under the file's write
// lock when it writes, keeps its rows, and maps SQLite's failures to SQL Server's messages.
// Each connection is used by one thread; the file's write lock is shared.
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "db/client.h"
#include "db/embedded/connection.h"
#include "db/embedded/error_mapping.h"

namespace zel::db::embedded {

namespace {

// A parameter's value as its declared type binds it: a number given as text for a number
// parameter is bound as that number when it reads as one, and as the text otherwise.
Value ParamValue(const Param& p) {
  Value v = p.value;
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
          // not a number: bound as the text it is
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
          // not a number: bound as the text it is
        }
      }
      break;
    case ParamType::Unknown:
      break;
  }
  return v;
}

void BindValue(sqlite3_stmt* st, int pos, const Value& v) {
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

// The current row of a stepped statement.
std::vector<Value> ReadRow(sqlite3_stmt* st, int cols) {
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
  return row;
}

}  // namespace

Value EmbeddedConnection::SessionValue(const std::string& name) const {
  if (name == "@@rowcount") return Value(static_cast<std::int64_t>(rowcount_));
  if (name == "@@identity")
    return have_identity_ ? Value(static_cast<std::int64_t>(identity_)) : Value();
  if (name == "@@spid") return Value(spid_);
  if (name == "@@version")
    return Value("Microsoft SQL Server compatible embedded engine (SQLite " +
                 std::string(sqlite3_libversion()) + ")");
  if (name == "@@servername") return Value("");
  if (name == "@@trancount") return Value(static_cast<std::int64_t>(tx_lock_.owns_lock() ? 1 : 0));
  return Value(0);
}

Value EmbeddedConnection::BoundValue(const Binding& b, const Frame& frame) const {
  if (b.kind == Binding::Kind::Param) {
    if (!frame.params || b.index >= static_cast<int>(frame.params->size()))
      throw DbError("No value given for one or more required parameters.");
    return ParamValue((*frame.params)[static_cast<std::size_t>(b.index)]);
  }
  if (b.kind == Binding::Kind::Variable) {
    auto it = frame.vars.find(b.name);
    if (it == frame.vars.end())
      throw DbError("Must declare the scalar variable \"" + b.name + "\".");
    return it->second.value;
  }
  return SessionValue(b.name);
}

void EmbeddedConnection::BindAll(Compiled& c, const Frame& frame) {
  sqlite3_stmt* st = c.stmt.get();
  for (std::size_t i = 0; i < c.tr.bindings.size(); ++i)
    BindValue(st, static_cast<int>(i) + 1, BoundValue(c.tr.bindings[i], frame));
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
    std::vector<Value> row = ReadRow(st, cols);
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

}  // namespace zel::db::embedded
