#include "testing/faulty_connection.h"

#include "db/connection_decorator.h"
#include "util/sql_text.h"
#include "util/text.h"

namespace zel::testing {

std::string WithParamsWritten(const std::string& sql, const std::vector<db::Param>& params) {
  std::string out;
  std::size_t next = 0;
  bool quoted = false;
  for (const char c : sql) {
    if (c == '\'') quoted = !quoted;
    if (c != '?' || quoted || next == params.size()) {
      out += c;
      continue;
    }
    const db::Value& v = params[next++].value;
    out += v.IsNull()                       ? std::string("NULL")
           : v.type() == db::DataType::Text ? util::SqlQuoted(v.AsString())
                                            : v.AsString();
  }
  return out;
}

db::ResultSet FaultyConnection::Execute(const std::string& sql,
                                        const std::vector<db::Param>& params, int timeout_seconds) {
  const std::string text = util::LowerAscii(sql);
  const std::string written =
      params.empty() ? text : util::LowerAscii(WithParamsWritten(sql, params));
  for (const auto& piece : failing_) {
    const std::string lower = util::LowerAscii(piece);
    if (text.find(lower) != std::string::npos || written.find(lower) != std::string::npos) {
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
