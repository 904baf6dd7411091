// Test and benchmark support: a connection decorator that waits a fixed delay before each
// statement it passes on (Execute and the transaction statements), as a server across a
// network would, and a scope that wraps every connection opened meanwhile (db::Connect)
// with one. Start and end the scope on the main thread while no other thread connects; the
// connections may then be used from any thread.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "db/client.h"
#include "db/connection_decorator.h"

namespace zel::testing {

class LatencyConnection final : public db::ForwardingConnection {
 public:
  LatencyConnection(std::unique_ptr<db::Connection> inner, std::chrono::microseconds delay)
      : ForwardingConnection(std::move(inner)), delay_(delay) {}

  db::ResultSet Execute(const std::string& sql, const std::vector<db::Param>& params,
                        int timeout_seconds) override;
  void BeginTransaction() override;
  void CommitTransaction() override;
  void RollbackTransaction() override;

 private:
  void Wait() const;
  std::chrono::microseconds delay_;
};

// While alive, every connection db::Connect opens waits `delay` before each statement.
class ScopedLatency {
 public:
  explicit ScopedLatency(std::chrono::microseconds delay);
  ~ScopedLatency();
  ScopedLatency(const ScopedLatency&) = delete;
  ScopedLatency& operator=(const ScopedLatency&) = delete;
};

}  // namespace zel::testing
