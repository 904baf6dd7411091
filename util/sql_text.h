// The one quoting rule for values the service places in SQL text: every embedded single
// quote doubled, so a value can neither end its literal nor change the statement; a
// quote-free value comes out exactly as written.
// Pure functions without shared state: any thread may call them.
#pragma once

#include <string>
#include <string_view>

namespace zel::util {

// The value with each single quote doubled, without surrounding quotes.
std::string DoubleQuotes(std::string_view value);
// The value between single quotes, each embedded single quote doubled: O'Neil -> 'O''Neil'.
std::string SqlQuoted(std::string_view value);

}  // namespace zel::util
