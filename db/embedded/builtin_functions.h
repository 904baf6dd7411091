// The table of built-in T-SQL functions the embedded engine accepts: for each its name,
// how many arguments it takes, how it is written in SQLite (a runtime function, or an
// emitter for the ones that need more) and the type of its result. Unknown names and the
// known-but-unsupported ones are refused with SQL Server's or the engine's message.
// Pure lookups and emitters; any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "db/embedded/ast.h"
#include "db/embedded/catalog.h"

namespace zel::db::embedded {

// An emitted SQLite expression and its SQL Server type.
struct Emitted {
  std::string sql;
  SqlType type;
  std::string column_name;         // plain column reference: its name
  std::vector<std::string> parts;  // plain column reference: parts as written
};

// Where the value of one `?NNN` of an emitted statement comes from.
struct Binding {
  enum class Kind { Param, Variable, System };
  Kind kind = Kind::Param;
  int index = 0;     // Param: marker number in the batch
  std::string name;  // Variable / System: lower-case name with its @ / @@
};

// One call of a built-in function, its arguments already emitted.
struct BuiltinCall {
  const Expr& expr;  // the call as written (name, distinct, * argument)
  std::vector<Emitted> args;
  const std::string& current_db;
  std::function<std::string(Binding)> bind;  // adds a binding, gives its ?NNN
};

// How the result type follows from the arguments.
enum class ResultType {
  Custom,  // the emitter decides
  Int,
  SysName,  // nvarchar(128)
  DateTime,
  LongText,       // varchar(8000)
  TextOfFirst,    // the first argument's text type (varchar(8000) for a non-text)
  First,          // the first argument's type
  NumberOfFirst,  // the first argument's type when a number, else float
};

struct BuiltinFunction {
  const char* name;  // upper case
  int min_args, max_args;
  const char* sqlite;  // the SQLite function called with the arguments, or nullptr
  ResultType result;
  Emitted (*emit)(BuiltinCall& call);  // nullptr: sqlite(args) typed by `result`
};

// The entry of an upper-cased name; nullptr when there is none. Raises DbError
// ("Unsupported T-SQL construct: function X") for a known SQL Server function the engine
// does not implement.
const BuiltinFunction* FindBuiltinFunction(std::string_view upper_name);

// The call's SQL and type through the entry (arity already checked).
Emitted EmitBuiltin(const BuiltinFunction& f, BuiltinCall& call);

// Rank of an integer type: bit 0, tinyint 1, smallint 2, int 3, bigint 4.
int IntRank(const SqlType& t);
// Result type of arithmetic between two numbers (SQL Server's precedence).
SqlType HigherNumber(const SqlType& a, const SqlType& b);

}  // namespace zel::db::embedded
