// Printing the rows of a result set for the `sql` command: a readable table for a
// terminal, tab-separated lines for pipes and files. Pure functions; any thread.
#pragma once

#include <string>

#include "db/client.h"

namespace zel::app {

// Columns padded to the widest value (counted in characters, not bytes), a rule under the
// header, NULL shown as "NULL", and a final "(n rows)" line.
std::string FormatTable(const db::ResultSet& rows);

// A header line of column names, then one line per row; values separated by tabs, NULL
// as an empty field, tabs and line breaks inside values written as \t and \n.
std::string FormatTabSeparated(const db::ResultSet& rows);

}  // namespace zel::app
