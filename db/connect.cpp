// Connect: the embedded engine for an empty server name, SQL Server through ODBC otherwise.
#include <mutex>
#include <string>
#include <utility>

#include "db/client.h"
#include "db/odbc/odbc.h"
#ifdef ZEL_HAVE_EMBEDDED_ENGINE
#include "db/embedded/embedded.h"
#endif

namespace zel::db {
namespace {

// Guarded by DefaultsMutex().
struct Defaults {
  std::string data_dir;
  std::string odbc_driver;
};

std::mutex& DefaultsMutex() {
  static std::mutex mutex;
  return mutex;
}

Defaults& TheDefaults() {
  static Defaults defaults;
  return defaults;
}

}  // namespace

void SetConnectionDefaults(std::string data_dir, std::string odbc_driver) {
  std::lock_guard lock(DefaultsMutex());
  TheDefaults() = Defaults{std::move(data_dir), std::move(odbc_driver)};
}

std::unique_ptr<Connection> Connect(const ConnectionSettings& settings) {
  ConnectionSettings s = settings;
  {
    std::lock_guard lock(DefaultsMutex());
    if (s.data_dir.empty()) s.data_dir = TheDefaults().data_dir;
    if (s.odbc_driver.empty()) s.odbc_driver = TheDefaults().odbc_driver;
  }
  if (s.server.empty()) {
#ifdef ZEL_HAVE_EMBEDDED_ENGINE
    return OpenEmbedded(s);
#else
    throw DbError("The embedded engine is not built into this program; set a SQL Server name");
#endif
  }
  return OpenOdbc(s);
}

}  // namespace zel::db
