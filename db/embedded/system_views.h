// The system views the embedded engine answers from its catalogue: sys.databases,
// sys.objects / tables / views, sys.columns, the compatibility views (sysobjects,
// syscolumns, sysdatabases) and INFORMATION_SCHEMA.TABLES / COLUMNS, each as a SQLite
// query over the __zel_* tables with SQL Server's column names and types.
// Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "db/embedded/ast.h"
#include "db/embedded/catalog.h"

namespace zel::db::embedded {

struct SystemView {
  std::string sql;                                       // a SELECT over the catalogue
  std::vector<std::pair<std::string, SqlType>> columns;  // names and types as SQL Server's
};

// The view a name denotes, looked up in `current_db` unless the name carries a database;
// nothing when the name is no system view. Raises "… is not supported by the embedded
// engine." for the session views (sysprocesses, dm_exec_sessions, dm_exec_connections).
std::optional<SystemView> FindSystemView(const Catalog& catalog, const ObjectName& name,
                                         const std::string& current_db);

}  // namespace zel::db::embedded
