// Error mapping of the embedded engine: SQLite's constraint, interrupt and other failures
// of a statement as SQL Server words them ("Violation of PRIMARY KEY constraint …",
// "Cannot insert the value NULL into column …", "Query timeout expired").
// Pure functions; any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "db/embedded/catalog.h"

namespace zel::db::embedded {

// The table stored under a SQLite table name, or null.
using TableByStorage = std::function<std::shared_ptr<const ObjectInfo>(const std::string& storage)>;

// SQL Server's message for a failure with SQLite's extended code `ext` and message `msg`;
// `statement_kind` ("INSERT", "UPDATE") ends the NULL message, `timed` tells an interrupt
// by the command timeout. Other failures keep SQLite's message.
std::string MapSqliteError(int ext, const std::string& msg, const std::string& statement_kind,
                           bool timed, const TableByStorage& table_of);

}  // namespace zel::db::embedded
