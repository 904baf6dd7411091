// The embedded engine: a SQL Server-compatible server on SQLite. The data folder plays the
// server; every database of it (base, years, ZELLog, any created) lives in one SQLite file
// "server.db" there, each database's tables stored under its own name prefix.
// Each connection is used by one thread; connections of any threads may work at once
// (writes are serialised per file inside the process).
#pragma once

#include <memory>
#include <string>

#include "db/client.h"

namespace zel::db {

// Opens a connection on settings.data_dir (created when missing). With settings.database
// empty the connection works at server level ("master"); otherwise that database must
// exist. Raises DbError when the folder or the database cannot be opened.
std::unique_ptr<Connection> OpenEmbedded(const ConnectionSettings& settings);

namespace embedded {

// The SQLite file that holds a data folder's databases.
std::string ServerFilePath(const std::string& data_dir);

}  // namespace embedded
}  // namespace zel::db
