// Test support: a connection decorator that records every statement text sent through it,
// and a scope that wraps every connection opened meanwhile (db::Connect) with one. Tests
// use it to hold the texts the modules send against the statement corpus.
// The recorder may be fed from any thread (workers send statements on their own); start and
// end the scope on the test's main thread while no other thread connects.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "db/client.h"
#include "db/connection_decorator.h"

namespace zel::testing {

// The texts sent, in the order they arrived.
class StatementRecorder {
 public:
  void Record(const std::string& sql);
  std::vector<std::string> Texts() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;  // guarded by mutex_
};

// Forwards everything to the inner connection and records each Execute text first (also
// the texts that then fail).
class RecordingConnection final : public db::ForwardingConnection {
 public:
  RecordingConnection(std::unique_ptr<db::Connection> inner, StatementRecorder& recorder)
      : ForwardingConnection(std::move(inner)), recorder_(recorder) {}

  db::ResultSet Execute(const std::string& sql, const std::vector<db::Param>& params,
                        int timeout_seconds) override;

 private:
  StatementRecorder& recorder_;
};

// While alive, every connection db::Connect opens records into `recorder`.
class ScopedRecording {
 public:
  explicit ScopedRecording(StatementRecorder& recorder);
  ~ScopedRecording();
  ScopedRecording(const ScopedRecording&) = delete;
  ScopedRecording& operator=(const ScopedRecording&) = delete;
};

}  // namespace zel::testing
