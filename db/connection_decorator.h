// Connection wrappers. ForwardingConnection is the base of a wrapper that changes a few
// calls (the calculation module's stoppable connection, the tests' recording and
// fault-injecting ones). SetConnectionDecorator is the hook by which Connect wraps every
// connection it opens; production code never sets one. It is set and cleared from the
// test's main thread while no other thread connects; Connect reads it under a lock.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/client.h"

namespace zel::db {

using ConnectionDecorator =
    std::function<std::unique_ptr<Connection>(std::unique_ptr<Connection> inner)>;

// A connection that hands every call to the one it wraps; a decorator derives from it and
// overrides only what it changes. Used by one thread at a time, like the inner connection.
class ForwardingConnection : public Connection {
 public:
  explicit ForwardingConnection(std::unique_ptr<Connection> inner) : inner_(std::move(inner)) {}

  ResultSet Execute(const std::string& sql, const std::vector<Param>& params,
                    int timeout_seconds) override {
    return inner_->Execute(sql, params, timeout_seconds);
  }
  std::vector<std::string> PrimaryKeyColumns(const std::string& table) override {
    return inner_->PrimaryKeyColumns(table);
  }
  std::string EngineName() const override { return inner_->EngineName(); }
  void BeginTransaction() override { inner_->BeginTransaction(); }
  void CommitTransaction() override { inner_->CommitTransaction(); }
  void RollbackTransaction() override { inner_->RollbackTransaction(); }
  std::uint64_t StatementsSent() const override { return inner_->StatementsSent(); }

 protected:
  Connection& Inner() { return *inner_; }

 private:
  std::unique_ptr<Connection> inner_;
};

// Every later Connect returns decorator(connection); an empty function stops the wrapping.
void SetConnectionDecorator(ConnectionDecorator decorator);

}  // namespace zel::db
