// Entry point of the loadable extension: `.load libzel_tsql_ext` in sqlite3 (or
// sqlite3_load_extension) registers the collation "TSQL" and the tsql_* functions on that
// connection, so tools can read and query the embedded engine's file.
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include <exception>

#include "db/embedded/runtime/tsql_runtime.h"

extern "C" __attribute__((visibility("default"))) int sqlite3_extension_init(
    sqlite3* db, char** error, const sqlite3_api_routines* api) {
  SQLITE_EXTENSION_INIT2(api);
  try {
    zel::db::embedded::RegisterTsqlRuntime(db);
  } catch (const std::exception& e) {
    if (error != nullptr) *error = sqlite3_mprintf("%s", e.what());
    return SQLITE_ERROR;
  }
  return SQLITE_OK;
}
