// Setting up a home folder for the embedded engine: the default Korlan.Ini, the base, year
// and log databases in <home>/Data with the product's tables, and the base rows a service
// needs to start (one SYSTEM row, the Semaphor rows of the code table). Existing databases
// are never overwritten. Called by the command line (`db init`) on the main thread.
#pragma once

#include <string>
#include <vector>

namespace zel::service {

struct HomeSetupResult {
  bool ini_written = false;                // Korlan.Ini was created with the defaults
  std::vector<std::string> created;        // databases created, in order
  std::vector<std::string> already_there;  // requested databases that existed and were kept
};

// Creates the embedded databases of `home`: the base database (DATABASENAME of Korlan.Ini,
// "Att" in a new file), the year databases <base>_<year> of the current Jalali year and of
// `years`, and "ZELLog", each with its schema; seeds a new base database. Writes a default
// Korlan.Ini when there is none. Raises std::runtime_error with a clear message when
// Korlan.Ini names a SQL Server, when every requested database exists already, or when a
// step fails.
HomeSetupResult InitEmbeddedHome(const std::string& home, const std::vector<int>& years);

}  // namespace zel::service
