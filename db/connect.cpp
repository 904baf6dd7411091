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

std::mutex& DecoratorMutex() {
  static std::mutex mutex;
  return mutex;
}

// Guarded by DecoratorMutex(); empty outside tests.
ConnectionDecorator& TheDecorator() {
  static ConnectionDecorator decorator;
  return decorator;
}

}  // namespace

void SetConnectionDecorator(ConnectionDecorator decorator) {
  std::lock_guard lock(DecoratorMutex());
  TheDecorator() = std::move(decorator);
}

std::unique_ptr<Connection> Connect(const ConnectionSettings& settings) {
  ConnectionDecorator decorator;
  {
    std::lock_guard lock(DecoratorMutex());
    decorator = TheDecorator();
  }
  std::unique_ptr<Connection> connection =
      settings.server.empty() ? OpenEmbedded(settings) : OpenOdbc(settings);
  return decorator ? decorator(std::move(connection)) : std::move(connection);
}

}  // namespace zel::db
