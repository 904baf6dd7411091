// A small XML well-formedness check for the tests of the SVG pictures: one root element,
// balanced tags, quoted attributes, no bare "<" or "&" in text. Not a validating parser.
// Pure function; any thread may call it.
#pragma once

#include <cctype>
#include <string>
#include <string_view>
#include <vector>

namespace zel::explain {

// "" when the text is well-formed, else what is wrong and where.
inline std::string CheckWellFormedXml(std::string_view x) {
  auto at = [](size_t i) { return " at offset " + std::to_string(i); };
  auto entity_ok = [&x](size_t i) {  // x[i] == '&'
    const size_t end = x.find(';', i);
    if (end == std::string_view::npos || end - i > 10) return false;
    const std::string_view name = x.substr(i + 1, end - i - 1);
    if (name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos") {
      return true;
    }
    return name.size() > 1 && name[0] == '#';
  };
  auto is_name = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '_' || c == '-' ||
           c == '.';
  };
  std::vector<std::string> open;
  bool had_root = false;
  size_t i = 0;
  while (i < x.size()) {
    if (x[i] != '<') {
      if (x[i] == '&' && !entity_ok(i)) return "bad entity" + at(i);
      if (open.empty() && !std::isspace(static_cast<unsigned char>(x[i]))) {
        return "text outside the root" + at(i);
      }
      ++i;
      continue;
    }
    if (x.substr(i, 4) == "<!--") {
      const size_t end = x.find("-->", i + 4);
      if (end == std::string_view::npos) return "unclosed comment" + at(i);
      i = end + 3;
      continue;
    }
    if (x.substr(i, 2) == "<?") {
      const size_t end = x.find("?>", i + 2);
      if (end == std::string_view::npos) return "unclosed declaration" + at(i);
      i = end + 2;
      continue;
    }
    const bool closing = x.substr(i, 2) == "</";
    size_t j = i + (closing ? 2 : 1);
    const size_t name_start = j;
    while (j < x.size() && is_name(x[j])) ++j;
    const std::string name(x.substr(name_start, j - name_start));
    if (name.empty()) return "tag without a name" + at(i);
    if (closing) {
      while (j < x.size() && std::isspace(static_cast<unsigned char>(x[j]))) ++j;
      if (j >= x.size() || x[j] != '>') return "bad closing tag" + at(i);
      if (open.empty() || open.back() != name) return "unbalanced </" + name + ">" + at(i);
      open.pop_back();
      i = j + 1;
      continue;
    }
    if (open.empty() && had_root) return "a second root element" + at(i);
    // Attributes.
    for (;;) {
      while (j < x.size() && std::isspace(static_cast<unsigned char>(x[j]))) ++j;
      if (j >= x.size()) return "unclosed tag <" + name + ">" + at(i);
      if (x[j] == '>' || x.substr(j, 2) == "/>") break;
      const size_t attr = j;
      while (j < x.size() && is_name(x[j])) ++j;
      if (j == attr) return "bad attribute in <" + name + ">" + at(j);
      if (j >= x.size() || x[j] != '=') return "attribute without a value" + at(j);
      ++j;
      if (j >= x.size() || (x[j] != '"' && x[j] != '\'')) return "unquoted attribute" + at(j);
      const char quote = x[j];
      const size_t end = x.find(quote, j + 1);
      if (end == std::string_view::npos) return "unclosed attribute" + at(j);
      for (size_t k = j + 1; k < end; ++k) {
        if (x[k] == '<') return "'<' in an attribute" + at(k);
        if (x[k] == '&' && !entity_ok(k)) return "bad entity" + at(k);
      }
      j = end + 1;
    }
    had_root = true;
    if (x[j] == '>') {
      open.push_back(name);
      i = j + 1;
    } else {
      i = j + 2;
    }
  }
  if (!open.empty()) return "unclosed <" + open.back() + ">";
  if (!had_root) return "no root element";
  return "";
}

}  // namespace zel::explain
