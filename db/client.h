// The database client layer: connections, values, queries and row editing, the one
// surface every data module uses, whichever engine (SQL Server through ODBC or the
// embedded SQLite engine) sits behind it.
// A Connection and every Dataset opened on it belong to one thread at a time; different
// threads use different connections.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zel::db {

// Any failure of a statement, a connection or a dataset operation. For server errors the
// message is the server's own text (the product logs it as it stands).
class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class DataType { Null, Integer, Real, Text };

// One field or parameter value: NULL, a 64-bit integer, a real or a text (UTF-8).
class Value {
 public:
  Value() = default;  // NULL
  Value(std::int64_t v) : v_(v) {}
  Value(int v) : v_(static_cast<std::int64_t>(v)) {}
  Value(double v) : v_(v) {}
  Value(std::string v) : v_(std::move(v)) {}
  Value(const char* v) : v_(std::string(v)) {}

  DataType type() const { return static_cast<DataType>(v_.index()); }
  bool IsNull() const { return v_.index() == 0; }
  // Conversions as the product's datasets make them: NULL reads as 0 / 0.0 / "";
  // numbers are formatted without a fraction when whole; text is parsed (trimmed), and a
  // text that is not a number raises DbError. A real (or real text) reads as the nearest
  // integer, halves away from zero.
  std::int64_t AsInteger() const;
  double AsFloat() const;
  std::string AsString() const;
  bool AsBoolean() const { return AsInteger() != 0; }

  friend bool operator==(const Value&, const Value&) = default;

 private:
  std::variant<std::monostate, std::int64_t, double, std::string> v_;
};

// Declared type of a named parameter, as the data modules state it.
enum class ParamType { Unknown, SmallInt, Integer, String, Real, Bit };

struct Param {
  std::string name;  // without the colon
  ParamType type = ParamType::Unknown;
  int size = 0;  // for strings: declared size (0 = unknown)
  Value value;
};

// Rows of one result set, in server order, fully read.
struct ResultSet {
  std::vector<std::string> columns;
  std::vector<std::vector<Value>> rows;
  bool has_columns = false;  // false: the batch returned no result set
  // Rows changed by the last statement that reported a count; -1 when the engine does
  // not tell.
  std::int64_t rows_affected = -1;
};

// Where and how to connect. Built from the OLE DB-style connection strings the product
// uses ("Provider=SQLOLEDB.1;Password=…;…;Initial Catalog=…;Data Source=…").
struct ConnectionSettings {
  std::string server;    // "Data Source"; empty = the embedded engine
  std::string user;      // "User ID"
  std::string password;  // "Password"
  std::string database;  // "Initial Catalog"; empty = none
  // Set by the program, not by the connection string:
  std::string data_dir;     // embedded engine: the folder that plays the server (<home>/Data)
  std::string odbc_driver;  // ODBC driver name; empty = FreeTDS
};

// Parses the OLE DB-style string (keys case-insensitive, order free, unknown keys ignored).
// Raises DbError for a text that is not a list of key=value pairs.
ConnectionSettings ParseConnectionString(std::string_view text);

// A value as a connection string (OLE DB or ODBC) writes it: as it stands, or in braces with
// its closing braces doubled when it holds ';', '=', a quote or a brace or begins or ends
// with a blank. ParseConnectionString and the ODBC drivers read it back unchanged.
std::string ConnectionStringValue(std::string_view value);

// One open connection to a server (embedded or SQL Server). Not copyable.
class Connection {
 public:
  virtual ~Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs one T-SQL batch (several statements allowed). `params` bind the `?` markers of
  // the text in order. Returns the first result set that has columns (has_columns false
  // when none). timeout_seconds 0 = no limit. Raises DbError with the server's text.
  virtual ResultSet Execute(const std::string& sql, const std::vector<Param>& params = {},
                            int timeout_seconds = 0) = 0;

  // Key columns of a table, for row editing; empty when the table has no primary key or
  // the engine cannot tell. `table` as written in SQL (may carry database and schema).
  virtual std::vector<std::string> PrimaryKeyColumns(const std::string& table) = 0;

  // "embedded" or "odbc".
  virtual std::string EngineName() const = 0;

  // A transaction on this connection: the statements between Begin and Commit land
  // together or not at all. Rollback undoes them (nothing when none is open). The embedded
  // engine holds its file's single writer for the whole transaction, so keep it short.
  // Raise DbError.
  virtual void BeginTransaction();
  virtual void CommitTransaction();
  virtual void RollbackTransaction();

  // Round trips this connection made to its server: statements sent (Execute calls and
  // transaction statements), whether they succeeded or not. A decorator counts nothing of
  // its own: it gives the count of the engine beneath it. Any thread may read it.
  virtual std::uint64_t StatementsSent() const { return sent_.load(std::memory_order_relaxed); }

 protected:
  Connection() = default;
  // Engines call it once per statement they send; it also adds to the process's total.
  void CountStatement();

 private:
  std::atomic<std::uint64_t> sent_{0};
};

// Statements sent by every connection of the process so far (see StatementsSent).
std::uint64_t StatementsSentByProcess();

// Opens a connection: the embedded engine when settings.server is empty, otherwise
// SQL Server through ODBC. Raises DbError when it cannot connect. A server text
// "odbc:<string>" is a ready ODBC connection string, used as it stands (for tests and
// unusual drivers).
std::unique_ptr<Connection> Connect(const ConnectionSettings& settings);

// Runs `work` in one transaction of `connection`: committed when it returns, rolled back
// when it (or the commit) throws, and the exception goes on to the caller. `on_rollback`
// (optional) runs after the rollback, for what the work changed outside the transaction (a
// USE of another database switched back); a failure of the rollback or of `on_rollback` is
// dropped, so the work's own exception is the one that goes on.
void RunInTransaction(Connection& connection, const std::function<void()>& work,
                      const std::function<void()>& on_rollback = {});

// After a caught failure inside a transaction: SQL Server ends the whole transaction on some
// errors (a deadlock victim, an error raised in a trigger), and the statements after it
// would run on their own. Raises DbError(message) when the connection's transaction is gone.
void EnsureTransactionOpen(Connection& connection, const std::string& message);

// Replaces every `:Name` marker outside quotes, brackets and comments by `?` and returns
// the names in text order (a name may repeat). Used by Dataset; exposed for tests.
std::string ConvertNamedParams(std::string_view sql, std::vector<std::string>* names);

// The one table a query reads: the name after the first FROM outside parentheses, as
// written ("dbo.Semaphor", "Att_1399..DayWork"). Empty when there is none or the query
// reads several tables (a comma or a JOIN). Dataset writes rows back to it.
std::string TableOfQuery(std::string_view sql);
// The table of the query's first FROM item, as written, also when further tables are
// joined to it ("ClockDmp" of "... from ClockDmp cl left outer join Person p ..."). Rows
// of a joined query are written back to it, found by its primary key.
std::string FirstTableOfQuery(std::string_view sql);

// A query or table opened on a connection, in the manner of the product's datasets:
// the SQL kept as lines, named parameters, a client-side cursor over the fully read rows,
// fields by name (case-insensitive), Locate, Sort, and row editing (Append/Edit, set
// fields, Post/Cancel) written back to the one table the query reads.
class Dataset {
 public:
  explicit Dataset(Connection& connection);
  Dataset(const Dataset&) = delete;
  Dataset& operator=(const Dataset&) = delete;

  // --- text and parameters ---
  void SetSQL(std::vector<std::string> lines);  // re-parses the parameter list
  void AddLine(std::string line);
  std::string Text() const;  // lines joined, each followed by a line break
  // Opens "SELECT * FROM <name>" (only sets that text when `open` is false) and makes
  // <name> the table rows are written back to. Without it rows are written to the table
  // of the text's first FROM item (by its key when the query joins further tables).
  void SetTableName(std::string name, bool open = true);
  // The named parameter; raises DbError "Parameter 'X' not found" when the text has none.
  Param& ParamByName(std::string_view name);
  void SetParam(std::string_view name, Value value);  // keeps the declared type
  void SetCommandTimeout(int seconds) { timeout_ = seconds; }

  // --- running ---
  // Runs the text and reads all rows; cursor on the first row. Raises DbError when the
  // text returns no result set.
  void Open();
  void ExecSQL();  // runs the text, no rows kept
  void Close();
  bool Active() const { return active_; }

  // --- cursor (moving while a row is edited posts it first) ---
  // True on an empty or closed dataset and after Next on the last row (the cursor then
  // stays on the last row).
  bool Eof() const;
  bool IsEmpty() const { return rows_.empty(); }
  void First();
  void Next();
  int RecordCount() const { return static_cast<int>(rows_.size()); }
  int RecNo() const { return pos_; }  // 0-based position
  // Moves to the first row whose column equals the value (text compared trimmed and
  // case-insensitively, numbers as numbers); returns false and stays put when none.
  bool Locate(std::string_view column, const Value& value);
  // Sorts the open rows, e.g. "KartNo ASC, ClockDate ASC, ClockTime ASC".
  void Sort(std::string_view spec);

  // --- fields of the current row (the row being edited while editing) ---
  bool HasField(std::string_view name) const;
  // Raises DbError when absent or the dataset is closed; NULL on an empty dataset.
  const Value& FieldByName(std::string_view name) const;
  const Value& Field(int index) const;
  int FieldCount() const { return static_cast<int>(columns_.size()); }
  const std::vector<std::string>& FieldNames() const { return columns_; }

  // --- row editing ---
  void Append();  // a new empty row, not yet written
  void Edit();    // edit the current row; raises DbError on an empty dataset
  void SetField(std::string_view name, Value value);
  // Writes the appended row (INSERT of the fields set, so identity and defaulted columns
  // are left to the server) or the edited row (UPDATE of the changed fields, keyed by the
  // table's primary key when the rows carry it, else by all original values). The
  // UPDATE must match exactly one row, else DbError and nothing is written. After Post
  // the cursor row holds the new values.
  void Post();
  void Cancel();  // drops unposted changes
  bool Editing() const { return state_ != State::Browse; }

 private:
  enum class State { Browse, Insert, Edit };
  int ColumnIndex(std::string_view name) const;  // -1 when absent
  std::string TargetTable() const;
  void ParseParams();
  std::vector<Param> BoundParams() const;
  void RequireActive() const;
  void CheckBrowseMode();  // posts a pending edit before the cursor moves
  const std::vector<std::string>& TableColumns(const std::string& table);
  void PostInsert(const std::string& table);
  void PostEdit(const std::string& table);

  Connection& connection_;
  std::vector<std::string> lines_;
  // The text with `?` markers and, per marker, the index of its parameter in params_;
  // both made once per text.
  std::string converted_sql_;
  std::vector<int> param_order_;
  std::vector<Param> params_;  // one per distinct name
  size_t next_param_ = 0;      // where ParamByName looks first
  std::string table_name_;
  int timeout_ = 0;
  bool active_ = false;
  std::vector<std::string> columns_;
  std::vector<std::vector<Value>> rows_;
  int pos_ = 0;
  bool eof_ = true;
  State state_ = State::Browse;
  std::vector<Value> edit_row_;
  std::vector<Value> original_row_;
  std::vector<bool> changed_;
  // Write-back metadata of the target table, read once per table.
  std::string meta_table_;
  std::vector<std::string> table_columns_;
  std::vector<std::string> key_columns_;
};

}  // namespace zel::db
