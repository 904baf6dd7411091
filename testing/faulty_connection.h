// Test support: a connection decorator that fails chosen statements, for the "log and go
// on" paths (a statement that fails must be logged and the work go on), and a scope that
// wraps every connection opened meanwhile (db::Connect) with one. A statement fails when its
// text, or its text with the parameters written in (WithParamsWritten), contains one of the
// given pieces, compared without ASCII case; it then raises
// db::DbError "injected failure: <piece>" (the piece as given) without reaching the server.
// With FaultEffect::kRollsBackTransaction the failure also rolls back the connection's open
// transaction first, as SQL Server does for a deadlock victim (1205) or an error raised in a
// trigger: the statements after it run outside any transaction and a COMMIT finds none.
// Start and end the scope on the test's main thread while no other thread connects; the
// connections may then be used from any thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/client.h"
#include "db/connection_decorator.h"

namespace zel::testing {

// The statement with each `?` marker outside quotes replaced by its parameter's value as a
// literal: texts quoted ('it''s'), numbers as they are, NULL. A marker without a parameter
// stays.
std::string WithParamsWritten(const std::string& sql, const std::vector<db::Param>& params);

// What an injected failure does besides raising.
enum class FaultEffect {
  kStatementOnly,         // only the statement fails; an open transaction stays open
  kRollsBackTransaction,  // the server rolled the whole open transaction back
};

class FaultyConnection final : public db::ForwardingConnection {
 public:
  FaultyConnection(std::unique_ptr<db::Connection> inner, std::vector<std::string> failing,
                   FaultEffect effect = FaultEffect::kStatementOnly)
      : ForwardingConnection(std::move(inner)), failing_(std::move(failing)), effect_(effect) {}

  db::ResultSet Execute(const std::string& sql, const std::vector<db::Param>& params,
                        int timeout_seconds) override;

 private:
  std::vector<std::string> failing_;  // pieces, as given
  FaultEffect effect_;
};

// While alive, every connection db::Connect opens fails the statements holding a piece.
class ScopedFaults {
 public:
  explicit ScopedFaults(std::vector<std::string> failing,
                        FaultEffect effect = FaultEffect::kStatementOnly);
  ~ScopedFaults();
  ScopedFaults(const ScopedFaults&) = delete;
  ScopedFaults& operator=(const ScopedFaults&) = delete;
};

}  // namespace zel::testing
