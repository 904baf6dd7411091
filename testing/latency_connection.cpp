#include "testing/latency_connection.h"

#include <thread>

namespace zel::testing {

void LatencyConnection::Wait() const {
  if (delay_.count() > 0) std::this_thread::sleep_for(delay_);
}

db::ResultSet LatencyConnection::Execute(const std::string& sql,
                                         const std::vector<db::Param>& params,
                                         int timeout_seconds) {
  Wait();
  return Inner().Execute(sql, params, timeout_seconds);
}

void LatencyConnection::BeginTransaction() {
  Wait();
  Inner().BeginTransaction();
}

void LatencyConnection::CommitTransaction() {
  Wait();
  Inner().CommitTransaction();
}

void LatencyConnection::RollbackTransaction() {
  Wait();
  Inner().RollbackTransaction();
}

ScopedLatency::ScopedLatency(std::chrono::microseconds delay) {
  db::SetConnectionDecorator([delay](std::unique_ptr<db::Connection> inner) {
    return std::unique_ptr<db::Connection>(
        std::make_unique<LatencyConnection>(std::move(inner), delay));
  });
}

ScopedLatency::~ScopedLatency() { db::SetConnectionDecorator({}); }

}  // namespace zel::testing
