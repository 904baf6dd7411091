// SQL Server (or any ODBC data source) through unixODBC: the client layer's Connection
// over a thin RAII wrapper of the ODBC API. Texts are sent unchanged; `?` parameters are
// bound by position with explicit SQL types.
// A connection belongs to one thread at a time; separate connections may be used from
// separate threads.
#pragma once

#include <memory>
#include <string>

#include "db/client.h"

namespace zel::db {

// The ODBC connection string for the settings. A server text starting with "odbc:" is
// taken as a ready ODBC connection string (the rest of the text). Otherwise the driver
// is settings.odbc_driver, FreeTDS when empty:
//   "Driver=FreeTDS;Server=host[\instance];Port=port;Database=…;UID=…;PWD=…;
//    ClientCharset=UTF-8;TDS_Version=7.4"
// where a server "host,port" gives the Port attribute and an empty database is left out;
// any other driver gets "Driver={name};Server=<server as written>;Database=…;UID=…;PWD=…".
// Values are written as ConnectionStringValue writes them (in braces where needed).
std::string OdbcConnectionString(const ConnectionSettings& settings);

// Connects without prompting. Raises DbError with the driver's or server's message.
std::unique_ptr<Connection> OpenOdbc(const ConnectionSettings& settings);

}  // namespace zel::db
