// The ODBC connection: handles, diagnostics, parameter binding and result reading.
#include "db/odbc/odbc.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

namespace zel::db {
namespace {

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The messages of a handle's diagnostic records, without the "[vendor][driver]" prefixes,
// so the text is the server's own. Warnings (SQLSTATE 01xxx) are left out when there are
// errors.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string errors;
  std::string warnings;
  for (SQLSMALLINT rec = 1;; ++rec) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    std::string message(1024, '\0');
    SQLSMALLINT length = 0;
    SQLRETURN rc =
        SQLGetDiagRec(type, handle, rec, state, &native, reinterpret_cast<SQLCHAR*>(message.data()),
                      static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.assign(static_cast<size_t>(length) + 1, '\0');
      rc = SQLGetDiagRec(type, handle, rec, state, &native,
                         reinterpret_cast<SQLCHAR*>(message.data()),
                         static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!Ok(rc)) break;
    message.resize(
        std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), message.size()));
    std::string_view text = message;
    while (!text.empty() && text.front() == '[') {
      const size_t close = text.find(']');
      if (close == std::string_view::npos) break;
      text.remove_prefix(close + 1);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    std::string& target = (state[0] == '0' && state[1] == '1') ? warnings : errors;
    if (!target.empty()) target += '\n';
    target += text;
  }
  if (!errors.empty()) return errors;
  if (!warnings.empty()) return warnings;
  return "ODBC call failed without a diagnostic message";
}

[[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE handle) {
  throw DbError(Diagnostics(type, handle));
}

// An ODBC handle, freed with its owner.
class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    const SQLRETURN rc = SQLAllocHandle(type, parent, &handle_);
    if (!Ok(rc)) {
      if (parent != SQL_NULL_HANDLE)
        Fail(type == SQL_HANDLE_STMT ? SQL_HANDLE_DBC : SQL_HANDLE_ENV, parent);
      throw DbError("Cannot allocate an ODBC environment");
    }
  }
  ~Handle() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  SQLHANDLE get() const { return handle_; }
  // Raises DbError with this handle's diagnostics when rc is a failure.
  void Check(SQLRETURN rc) const {
    if (!Ok(rc)) Fail(type_, handle_);
  }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

void AddAttribute(std::string& text, const char* key, const std::string& value) {
  if (value.empty()) return;
  text += ';';
  text += key;
  text += '=';
  text += ConnectionStringValue(value);
}

// Storage of one bound parameter; it must stay in place until the statement is done.
struct BoundValue {
  SQLLEN indicator = 0;
  std::int64_t big = 0;
  SQLINTEGER integer = 0;
  SQLSMALLINT small = 0;
  double real = 0;
  unsigned char bit = 0;
  std::string text;
};

std::int64_t CheckedRange(const Param& p, std::int64_t lo, std::int64_t hi) {
  const std::int64_t v = p.value.AsInteger();
  if (v < lo || v > hi)
    throw DbError("Value " + std::to_string(v) + " of parameter '" + p.name + "' is out of range");
  return v;
}

void BindParam(SQLHSTMT stmt, const Handle& handle, SQLUSMALLINT number, const Param& p,
               BoundValue& b) {
  ParamType type = p.type;
  if (type == ParamType::Unknown) {
    switch (p.value.type()) {
      case DataType::Integer:
        type = ParamType::Unknown;
        break;
      case DataType::Real:
        type = ParamType::Real;
        break;
      case DataType::Null:
      case DataType::Text:
        type = ParamType::String;
        break;
    }
  }
  const bool null = p.value.IsNull();
  b.indicator = null ? SQL_NULL_DATA : 0;
  SQLSMALLINT c_type = SQL_C_CHAR;
  SQLSMALLINT sql_type = SQL_VARCHAR;
  SQLULEN size = 0;
  SQLPOINTER data = nullptr;
  SQLLEN buffer_length = 0;
  switch (type) {
    case ParamType::Unknown:  // an integer value of undeclared type
      c_type = SQL_C_SBIGINT;
      sql_type = SQL_BIGINT;
      size = 19;
      if (!null) b.big = p.value.AsInteger();
      data = &b.big;
      break;
    case ParamType::SmallInt:
      c_type = SQL_C_SSHORT;
      sql_type = SQL_SMALLINT;
      size = 5;
      if (!null)
        b.small = static_cast<SQLSMALLINT>(CheckedRange(p, std::numeric_limits<std::int16_t>::min(),
                                                        std::numeric_limits<std::int16_t>::max()));
      data = &b.small;
      break;
    case ParamType::Integer:
      c_type = SQL_C_SLONG;
      sql_type = SQL_INTEGER;
      size = 10;
      if (!null)
        b.integer = static_cast<SQLINTEGER>(CheckedRange(
            p, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
      data = &b.integer;
      break;
    case ParamType::Real:
      c_type = SQL_C_DOUBLE;
      sql_type = SQL_DOUBLE;
      size = 15;
      if (!null) b.real = p.value.AsFloat();
      data = &b.real;
      break;
    case ParamType::Bit:
      c_type = SQL_C_BIT;
      sql_type = SQL_BIT;
      size = 1;
      if (!null) b.bit = p.value.AsBoolean() ? 1 : 0;
      data = &b.bit;
      break;
    case ParamType::String:
      c_type = SQL_C_CHAR;
      if (!null) b.text = p.value.AsString();
      size = std::max<SQLULEN>(
          {static_cast<SQLULEN>(p.size > 0 ? p.size : 0), static_cast<SQLULEN>(b.text.size()), 1});
      sql_type = size > 8000 ? SQL_LONGVARCHAR : SQL_VARCHAR;
      if (!null) b.indicator = static_cast<SQLLEN>(b.text.size());
      data = b.text.data();
      buffer_length = static_cast<SQLLEN>(b.text.size());
      break;
  }
  handle.Check(SQLBindParameter(stmt, number, SQL_PARAM_INPUT, c_type, sql_type, size, 0, data,
                                buffer_length, &b.indicator));
}

enum class FetchAs { Integer, Real, Text, Binary };

FetchAs FetchKind(SQLSMALLINT sql_type, SQLULEN precision, SQLSMALLINT scale) {
  switch (sql_type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
    case SQL_BIT:
      return FetchAs::Integer;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return scale == 0 && precision <= 18 ? FetchAs::Integer : FetchAs::Real;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return FetchAs::Real;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return FetchAs::Binary;
    default:
      return FetchAs::Text;
  }
}

Value ReadCell(SQLHSTMT stmt, const Handle& handle, SQLUSMALLINT column, FetchAs kind) {
  SQLLEN indicator = 0;
  switch (kind) {
    case FetchAs::Integer: {
      std::int64_t v = 0;
      handle.Check(SQLGetData(stmt, column, SQL_C_SBIGINT, &v, sizeof v, &indicator));
      if (indicator == SQL_NULL_DATA) return Value();
      return Value(v);
    }
    case FetchAs::Real: {
      double v = 0;
      handle.Check(SQLGetData(stmt, column, SQL_C_DOUBLE, &v, sizeof v, &indicator));
      if (indicator == SQL_NULL_DATA) return Value();
      return Value(v);
    }
    case FetchAs::Text:
    case FetchAs::Binary: {
      // Long values come in pieces; a text piece ends with a terminating zero.
      const SQLSMALLINT c_type = kind == FetchAs::Text ? SQL_C_CHAR : SQL_C_BINARY;
      const size_t terminator = kind == FetchAs::Text ? 1 : 0;
      std::string out;
      char buffer[4096];
      for (;;) {
        const SQLRETURN rc = SQLGetData(stmt, column, c_type, buffer, sizeof buffer, &indicator);
        if (rc == SQL_NO_DATA) break;
        handle.Check(rc);
        if (indicator == SQL_NULL_DATA) return Value();
        size_t got = sizeof buffer - terminator;
        if (indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) <= got)
          got = static_cast<size_t>(indicator);
        out.append(buffer, got);
        if (rc == SQL_SUCCESS) break;
      }
      return Value(std::move(out));
    }
  }
  return Value();
}

void ReadResult(SQLHSTMT stmt, const Handle& handle, SQLSMALLINT count, ResultSet& result) {
  std::vector<FetchAs> kinds;
  for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(count); ++c) {
    SQLCHAR name[256] = {};
    SQLSMALLINT name_length = 0;
    SQLSMALLINT sql_type = 0;
    SQLULEN precision = 0;
    SQLSMALLINT scale = 0;
    SQLSMALLINT nullable = 0;
    handle.Check(SQLDescribeCol(stmt, c, name, sizeof name, &name_length, &sql_type, &precision,
                                &scale, &nullable));
    result.columns.emplace_back(reinterpret_cast<const char*>(name));
    kinds.push_back(FetchKind(sql_type, precision, scale));
  }
  result.has_columns = true;
  for (;;) {
    const SQLRETURN rc = SQLFetch(stmt);
    if (rc == SQL_NO_DATA) break;
    handle.Check(rc);
    std::vector<Value> row;
    row.reserve(kinds.size());
    for (size_t c = 0; c < kinds.size(); ++c)
      row.push_back(ReadCell(stmt, handle, static_cast<SQLUSMALLINT>(c + 1), kinds[c]));
    result.rows.push_back(std::move(row));
  }
}

// "db.schema.table", "db..table", "[dbo].[T]" → its three parts, brackets removed.
std::vector<std::string> SplitTableName(const std::string& name) {
  std::vector<std::string> parts(1);
  bool bracket = false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (bracket) {
      if (c == ']') {
        if (i + 1 < name.size() && name[i + 1] == ']') {
          parts.back() += ']';
          ++i;
        } else
          bracket = false;
      } else {
        parts.back() += c;
      }
    } else if (c == '[') {
      bracket = true;
    } else if (c == '.') {
      parts.emplace_back();
    } else if (c != '"' && c != ' ') {
      parts.back() += c;
    }
  }
  while (parts.size() < 3) parts.insert(parts.begin(), std::string());
  return parts;
}

class OdbcConnection final : public Connection {
 public:
  explicit OdbcConnection(const std::string& connection_string)
      : env_(SQL_HANDLE_ENV, SQL_NULL_HANDLE), dbc_(SQL_HANDLE_DBC, Init(env_)) {
    SQLCHAR out[1024];
    SQLSMALLINT out_length = 0;
    std::string text = connection_string;
    dbc_.Check(SQLDriverConnect(dbc_.get(), nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                SQL_NTS, out, sizeof out, &out_length, SQL_DRIVER_NOPROMPT));
    connected_ = true;
  }
  ~OdbcConnection() override {
    if (connected_) SQLDisconnect(dbc_.get());
  }

  ResultSet Execute(const std::string& sql, const std::vector<Param>& params,
                    int timeout_seconds) override {
    CountStatement();
    Handle stmt(SQL_HANDLE_STMT, dbc_.get());
    if (timeout_seconds > 0)
      stmt.Check(
          SQLSetStmtAttr(stmt.get(), SQL_ATTR_QUERY_TIMEOUT,
                         reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(timeout_seconds)), 0));
    std::vector<BoundValue> bound(params.size());
    for (size_t i = 0; i < params.size(); ++i)
      BindParam(stmt.get(), stmt, static_cast<SQLUSMALLINT>(i + 1), params[i], bound[i]);

    std::string text = sql;
    SQLRETURN rc = SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()),
                                 static_cast<SQLINTEGER>(text.size()));
    ResultSet result;
    if (rc == SQL_NO_DATA) {
      // The first statement touched no row; a batch may still have further results.
      result.rows_affected = 0;
      rc = SQLMoreResults(stmt.get());
      if (rc == SQL_NO_DATA) return result;
    }
    stmt.Check(rc);
    // Every result of the batch is walked, so a failing later statement is reported.
    for (;;) {
      SQLSMALLINT count = 0;
      stmt.Check(SQLNumResultCols(stmt.get(), &count));
      if (count > 0 && !result.has_columns) {
        ReadResult(stmt.get(), stmt, count, result);
      } else if (count == 0) {
        SQLLEN changed = -1;
        if (Ok(SQLRowCount(stmt.get(), &changed)) && changed >= 0) result.rows_affected = changed;
      }
      rc = SQLMoreResults(stmt.get());
      if (rc == SQL_NO_DATA) break;
      stmt.Check(rc);
    }
    return result;
  }

  std::vector<std::string> PrimaryKeyColumns(const std::string& table) override {
    CountStatement();  // a catalogue call is a round trip too
    const std::vector<std::string> parts = SplitTableName(table);
    std::vector<std::pair<int, std::string>> keys;
    try {
      Handle stmt(SQL_HANDLE_STMT, dbc_.get());
      std::string catalog = parts[parts.size() - 3];
      std::string schema = parts[parts.size() - 2];
      std::string name = parts[parts.size() - 1];
      auto arg = [](std::string& s) {
        return s.empty() ? nullptr : reinterpret_cast<SQLCHAR*>(s.data());
      };
      stmt.Check(SQLPrimaryKeys(stmt.get(), arg(catalog), catalog.empty() ? 0 : SQL_NTS,
                                arg(schema), schema.empty() ? 0 : SQL_NTS, arg(name), SQL_NTS));
      ResultSet rows;
      SQLSMALLINT count = 0;
      stmt.Check(SQLNumResultCols(stmt.get(), &count));
      if (count >= 5) ReadResult(stmt.get(), stmt, count, rows);
      for (const auto& row : rows.rows)
        keys.emplace_back(static_cast<int>(row[4].AsInteger()), row[3].AsString());
    } catch (const DbError&) {
      return {};  // the driver cannot tell; rows are then found by their values
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (auto& k : keys) names.push_back(std::move(k.second));
    return names;
  }

  std::string EngineName() const override { return "odbc"; }

 private:
  static SQLHANDLE Init(Handle& env) {
    env.Check(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION,
                            reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0));
    return env.get();
  }

  Handle env_;
  Handle dbc_;
  bool connected_ = false;
};

}  // namespace

std::string OdbcConnectionString(const ConnectionSettings& settings) {
  const std::string& server = settings.server;
  if (server.rfind("odbc:", 0) == 0) return server.substr(5);
  std::string text;
  if (settings.odbc_driver.empty() || settings.odbc_driver == "FreeTDS") {
    std::string host = server;
    std::string port;
    const size_t comma = server.find(',');
    if (comma != std::string::npos) {
      host = server.substr(0, comma);
      port = server.substr(comma + 1);
    }
    text = "Driver=FreeTDS";
    AddAttribute(text, "Server", host);
    AddAttribute(text, "Port", port);
    AddAttribute(text, "Database", settings.database);
    AddAttribute(text, "UID", settings.user);
    AddAttribute(text, "PWD", settings.password);
    text += ";ClientCharset=UTF-8;TDS_Version=7.4";
  } else {
    text = "Driver={" + settings.odbc_driver + "}";
    AddAttribute(text, "Server", server);
    AddAttribute(text, "Database", settings.database);
    AddAttribute(text, "UID", settings.user);
    AddAttribute(text, "PWD", settings.password);
  }
  return text;
}

std::unique_ptr<Connection> OpenOdbc(const ConnectionSettings& settings) {
  return std::make_unique<OdbcConnection>(OdbcConnectionString(settings));
}

}  // namespace zel::db
