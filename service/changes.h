// The journal of changed results as an operator or a clerk reads it (`zelkl-calc changes`):
// for a year, the days and months of persons that a pass rewrote with other results, each
// changed column with its old and new value and the pass that changed it. Reads only.
// Called on one thread with a connection of that thread.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "db/calc_changes.h"

namespace zel::service {

struct ChangesRequest {
  std::string year;                  // "YYYY"
  std::string since;                 // "YYYY/MM/DD HH:MM", empty: every row kept
  std::vector<std::string> persons;  // empty: everyone
  std::string format = "text";       // text or json
};

// Why the request cannot be asked (a bad --since), or nullopt.
std::optional<std::string> CheckChangesRequest(const ChangesRequest& request);

// One line per changed column, grouped under the pass that changed them.
std::string FormatChangesText(const ChangesRequest& request,
                              const std::vector<db::CalcChangeRow>& rows);
// {"year", "since", "persons", "changes": [{"person", "kind", "period", "pass": {...},
//  "column", "old", "new"}]}; documented in docs/changes.md.
std::string FormatChangesJson(const ChangesRequest& request,
                              const std::vector<db::CalcChangeRow>& rows);

// The command: prints the year's changes; 0 when the journal could be read, 1 when the
// databases cannot be used (the message on `err`).
int ChangesCommand(const std::string& home, const ChangesRequest& request, std::ostream& out,
                   std::ostream& err);

}  // namespace zel::service
