#include "management/calc_hold.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "dates/zel_calc_utils.h"
#include "util/sql_text.h"
#include "util/text.h"

namespace zel::management {

namespace {

constexpr std::size_t kHostNameChars = 30;

// The host part as ThisHoldHolder writes it for a process id of `pid_digits` digits.
std::string HostPart(const std::string& host, std::size_t pid_digits) {
  const std::size_t room = kHostNameChars - 1 - pid_digits;
  return host.size() > room ? host.substr(0, room) : host;
}

}  // namespace

std::string ThisHoldHolder() {
  const std::string pid = std::to_string(::getpid());
  return HostPart(dates::TZelCalcUtils::GetHostName(), pid.size()) + ":" + pid;
}

HoldHolder ParseHoldHolder(const std::string& text) {
  HoldHolder h;
  const std::string t = util::TrimWhitespace(text);
  const auto colon = t.rfind(':');
  if (colon != std::string::npos && colon + 1 < t.size() && t.size() - colon - 1 <= 9 &&
      std::all_of(t.begin() + static_cast<long>(colon) + 1, t.end(),
                  [](char c) { return c >= '0' && c <= '9'; })) {
    h.host = t.substr(0, colon);
    h.pid = std::stol(t.substr(colon + 1));
  } else {
    h.host = t;
  }
  return h;
}

bool HolderIsThisComputer(const HoldHolder& holder) {
  const std::string self = dates::TZelCalcUtils::GetHostName();
  const std::size_t digits = holder.pid ? std::to_string(*holder.pid).size() : 0;
  const std::string mine = holder.pid ? HostPart(self, digits) : self.substr(0, kHostNameChars);
  return !holder.host.empty() && util::UpperAscii(holder.host) == util::UpperAscii(mine);
}

bool HolderIsGone(const HoldHolder& holder) {
  if (!holder.pid || *holder.pid <= 0 || !HolderIsThisComputer(holder)) return false;
  return ::kill(static_cast<pid_t>(*holder.pid), 0) != 0 && errno == ESRCH;
}

HoldState ReadCalcHold(db::Connection& base, int code) {
  HoldState state;
  db::ResultSet rs = base.Execute("SELECT Amount, HostName FROM dbo.Semaphor WHERE Code = " +
                                  std::to_string(code));
  if (rs.rows.empty()) return state;
  state.row = true;
  state.amount = rs.rows[0][0].IsNull() ? 0 : rs.rows[0][0].AsInteger();
  state.holder = rs.rows[0][1].IsNull() ? "" : util::TrimWhitespace(rs.rows[0][1].AsString());
  return state;
}

bool TakeCalcHold(db::Connection& base, int code, const std::string& holder) {
  db::ResultSet rs = base.Execute(
      " UPDATE dbo.Semaphor SET Amount = Amount + 1, HostName = " + util::SqlQuoted(holder) +
      " WHERE Code = " + std::to_string(code) + " AND Amount <= 0 ");
  return rs.rows_affected == 1;
}

bool ReleaseCalcHold(db::Connection& base, int code,
                     const std::optional<std::string>& only_holder) {
  std::string sql = " UPDATE dbo.Semaphor SET Amount = Amount - 1, HostName = NULL WHERE Code = " +
                    std::to_string(code) + " AND Amount > 0 ";
  if (only_holder) sql += " AND HostName = " + util::SqlQuoted(*only_holder) + " ";
  db::ResultSet rs = base.Execute(sql);
  return rs.rows_affected >= 1;
}

}  // namespace zel::management
