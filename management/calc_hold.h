// The product-wide calculation hold: row "CALC" of table Semaphor. Taking and releasing it
// are one conditional UPDATE each, so two programs can never both hold it; the holder is
// kept as "host:pid" in HostName, so a hold whose process is gone can be recognised.
// Pure functions on a caller's connection; any thread with its own connection may call them.
#pragma once

#include <optional>
#include <string>

#include "db/client.h"

namespace zel::management {

// "host:pid" of this process, cut to the 30 characters of Semaphor.HostName (the host part
// is shortened, the process id kept whole).
std::string ThisHoldHolder();

// The holder text split: host and, when the text carries one, the process id.
struct HoldHolder {
  std::string host;
  std::optional<long> pid;
};
HoldHolder ParseHoldHolder(const std::string& text);

// True when `holder` names this computer (as ThisHoldHolder writes it, case-insensitive).
bool HolderIsThisComputer(const HoldHolder& holder);
// True when `holder` names a process of this computer that no longer runs. A holder
// without a process id, or of another computer, is never "gone".
bool HolderIsGone(const HoldHolder& holder);

struct HoldState {
  bool row = false;      // Semaphor has the row
  long long amount = 0;  // holders
  std::string holder;    // HostName, trimmed; empty when NULL
};
// Reads the row of `code`. Raises zel::db::DbError.
HoldState ReadCalcHold(db::Connection& base, int code);

// Takes the hold: Amount + 1 and HostName = holder when Amount <= 0, in one statement.
// True when this call took it. Raises zel::db::DbError.
bool TakeCalcHold(db::Connection& base, int code, const std::string& holder);

// Releases the hold when it is taken and, with `only_holder`, only when HostName is that
// holder; one statement. True when a hold was released. Raises zel::db::DbError.
bool ReleaseCalcHold(db::Connection& base, int code, const std::optional<std::string>& only_holder);

}  // namespace zel::management
