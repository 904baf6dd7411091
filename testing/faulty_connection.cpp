#include "testing/faulty_connection.h"

#include "db/connection_decorator.h"
#include "util/text.h"

namespace zel::testing {

db::ResultSet FaultyConnection::Execute(const std::string& sql,
                                        const std::vector<db::Param>& params, int timeout_seconds) {
  const std::string text = util::LowerAscii(sql);
  for (const auto& piece : failing_) {
    if (text.find(util::LowerAscii(piece)) != std::string::npos) {
      if (effect_ == FaultEffect::kRollsBackTransaction) Inner().RollbackTransaction();
      throw db::DbError("injected failure: " + piece);
    }
  }
  return Inner().Execute(sql, params, timeout_seconds);
}

ScopedFaults::ScopedFaults(std::vector<std::string> failing, FaultEffect effect) {
  db::SetConnectionDecorator([failing, effect](std::unique_ptr<db::Connection> inner) {
    return std::unique_ptr<db::Connection>(
        std::make_unique<FaultyConnection>(std::move(inner), failing, effect));
  });
}

ScopedFaults::~ScopedFaults() { db::SetConnectionDecorator({}); }

}  // namespace zel::testing
