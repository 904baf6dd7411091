#include "util/sql_text.h"

namespace zel::util {

std::string DoubleQuotes(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  for (char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

std::string SqlQuoted(std::string_view value) { return "'" + DoubleQuotes(value) + "'"; }

}  // namespace zel::util
