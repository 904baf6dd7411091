// Helpers shared by the binder and the emitters of the embedded engine's translator
// (not part of its interface); Unsupported is raised by the parser and the connection too.
// Pure functions, except that ParseDefinition caches parsed view and function texts under a
// lock; any thread.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "db/embedded/ast.h"
#include "db/embedded/catalog.h"

namespace zel::db::embedded::internal {

// Raises "Unsupported T-SQL construct: <what>".
[[noreturn]] void Unsupported(const std::string& what);

// A SQLite expression converted to a number of the given type by the runtime.
std::string ToNumber(const std::string& sql, const SqlType& number);

// Whether `-` and `*` between operands of these types go to the runtime (tsql_sub/tsql_mul)
// rather than to SQLite's operators.
bool RuntimeArithmetic(const SqlType& a, const SqlType& b);

// Whether a quoted text is a plain integer (blanks around it allowed, at most 18 digits).
bool IsIntegerText(std::string_view s);

// Whether the expression reads one of the variables (lower-case names with their @).
bool ReferencesVariable(const Expr& e, const std::set<std::string>& names);

// The parsed batch of a stored view or function text, parsed once per process.
std::shared_ptr<const Batch> ParseDefinition(const std::string& text);

}  // namespace zel::db::embedded::internal
