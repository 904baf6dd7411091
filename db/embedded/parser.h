// Recursive-descent parser for the Transact-SQL the system sends: batches of statements
// (data statements, DDL, DECLARE/SET/IF/WHILE/BEGIN…END/EXEC) into the tree of ast.h.
// Pure functions; any thread.
#pragma once

#include <memory>
#include <string_view>

#include "db/embedded/ast.h"

namespace zel::db::embedded {

// Parses one batch. Raises DbError with SQL Server's wording for syntax errors
// ("Incorrect syntax near 'x'.") and "Unsupported T-SQL construct: …" for a construct the
// engine does not implement; administration statements raise "… is not supported by the
// embedded engine.".
std::unique_ptr<Batch> ParseBatch(std::string_view text);

// Parses a multi-part object name such as "[dbo].[DecDate]" or "Att..CSSLog" (the text
// OBJECT_ID receives). Returns an empty name when the text is not one.
ObjectName ParseObjectNameText(std::string_view text);

// Parses a single type name such as "char(5)" (used for stored catalogue texts).
TypeSpec ParseTypeText(std::string_view text);

}  // namespace zel::db::embedded
