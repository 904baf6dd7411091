// Connect: the embedded engine for an empty server name, SQL Server through ODBC otherwise.
#include <mutex>
#include <string>
#include <utility>

#include "db/client.h"
#include "db/connection_decorator.h"
#include "db/embedded/embedded.h"
#include "db/odbc/odbc.h"

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

// Guarded by DefaultsMutex(); empty outside tests.
ConnectionDecorator& TheDecorator() {
  static ConnectionDecorator decorator;
  return decorator;
}

}  // namespace

void SetConnectionDefaults(std::string data_dir, std::string odbc_driver) {
  std::lock_guard lock(DefaultsMutex());
  TheDefaults() = Defaults{std::move(data_dir), std::move(odbc_driver)};
}

void SetConnectionDecorator(ConnectionDecorator decorator) {
  std::lock_guard lock(DefaultsMutex());
  TheDecorator() = std::move(decorator);
}

std::unique_ptr<Connection> Connect(const ConnectionSettings& settings) {
  ConnectionSettings s = settings;
  ConnectionDecorator decorator;
  {
    std::lock_guard lock(DefaultsMutex());
    if (s.data_dir.empty()) s.data_dir = TheDefaults().data_dir;
    if (s.odbc_driver.empty()) s.odbc_driver = TheDefaults().odbc_driver;
    decorator = TheDecorator();
  }
  std::unique_ptr<Connection> connection = s.server.empty() ? OpenEmbedded(s) : OpenOdbc(s);
  return decorator ? decorator(std::move(connection)) : std::move(connection);
}

}  // namespace zel::db
