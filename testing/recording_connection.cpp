#include "testing/recording_connection.h"

#include "db/connection_decorator.h"

namespace zel::testing {

void StatementRecorder::Record(const std::string& sql) {
  std::lock_guard lock(mutex_);
  texts_.push_back(sql);
}

std::vector<std::string> StatementRecorder::Texts() const {
  std::lock_guard lock(mutex_);
  return texts_;
}

db::ResultSet RecordingConnection::Execute(const std::string& sql,
                                           const std::vector<db::Param>& params,
                                           int timeout_seconds) {
  recorder_.Record(sql);
  return Inner().Execute(sql, params, timeout_seconds);
}

ScopedRecording::ScopedRecording(StatementRecorder& recorder) {
  db::SetConnectionDecorator([&recorder](std::unique_ptr<db::Connection> inner) {
    return std::unique_ptr<db::Connection>(
        std::make_unique<RecordingConnection>(std::move(inner), recorder));
  });
}

ScopedRecording::~ScopedRecording() { db::SetConnectionDecorator({}); }

}  // namespace zel::testing
