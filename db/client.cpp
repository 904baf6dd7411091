// The database client layer shared by both engines: values, connection-string parsing,
// named-parameter markers and the client-side dataset.
#include "db/client.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace zel::db {
namespace {

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool ParseInteger(std::string_view text, std::int64_t* out) {
  std::string s(TrimView(text));
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || end != s.c_str() + s.size()) return false;
  *out = v;
  return true;
}

bool ParseReal(std::string_view text, double* out) {
  std::string s(TrimView(text));
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (errno == ERANGE || end != s.c_str() + s.size() || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

std::int64_t RoundToInteger(double v) {
  if (!std::isfinite(v) || v >= 9.2233720368547758e18 || v <= -9.2233720368547758e18)
    throw DbError("Value " + std::to_string(v) + " is out of the integer range");
  return std::llround(v);
}

bool IsNameStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Value

std::int64_t Value::AsInteger() const {
  switch (type()) {
    case DataType::Null: return 0;
    case DataType::Integer: return std::get<std::int64_t>(v_);
    case DataType::Real: return RoundToInteger(std::get<double>(v_));
    case DataType::Text: {
      const std::string& s = std::get<std::string>(v_);
      std::int64_t i = 0;
      if (ParseInteger(s, &i)) return i;
      double d = 0;
      if (ParseReal(s, &d)) return RoundToInteger(d);
      throw DbError("'" + s + "' is not a valid integer value");
    }
  }
  return 0;
}

double Value::AsFloat() const {
  switch (type()) {
    case DataType::Null: return 0.0;
    case DataType::Integer: return static_cast<double>(std::get<std::int64_t>(v_));
    case DataType::Real: return std::get<double>(v_);
    case DataType::Text: {
      const std::string& s = std::get<std::string>(v_);
      double d = 0;
      if (ParseReal(s, &d)) return d;
      throw DbError("'" + s + "' is not a valid floating point value");
    }
  }
  return 0.0;
}

std::string Value::AsString() const {
  switch (type()) {
    case DataType::Null: return std::string();
    case DataType::Integer: return std::to_string(std::get<std::int64_t>(v_));
    case DataType::Real: {
      double d = std::get<double>(v_);
      if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 1e15)
        return std::to_string(static_cast<std::int64_t>(d));
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", d);
      return buf;
    }
    case DataType::Text: return std::get<std::string>(v_);
  }
  return std::string();
}

// ---------------------------------------------------------------------------------------
// Connection strings

ConnectionSettings ParseConnectionString(std::string_view text) {
  ConnectionSettings settings;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    // One "key=value" pair up to the next ';' (a value may be quoted with " or ').
    size_t eq = text.find('=', i);
    size_t semi = text.find(';', i);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      std::string_view rest = TrimView(text.substr(i, semi == std::string_view::npos
                                                          ? std::string_view::npos
                                                          : semi - i));
      if (!rest.empty())
        throw DbError("Invalid connection string: '" + std::string(rest) +
                      "' is not a key=value pair");
      if (semi == std::string_view::npos) break;
      i = semi + 1;
      continue;
    }
    std::string key = Lower(TrimView(text.substr(i, eq - i)));
    if (key.empty()) throw DbError("Invalid connection string: empty key");
    size_t v = eq + 1;
    while (v < n && (text[v] == ' ' || text[v] == '\t')) ++v;
    std::string value;
    if (v < n && (text[v] == '"' || text[v] == '\'')) {
      const char q = text[v];
      size_t j = v + 1;
      for (;; ++j) {
        if (j >= n) throw DbError("Invalid connection string: unterminated quoted value");
        if (text[j] == q) {
          if (j + 1 < n && text[j + 1] == q) { value += q; ++j; continue; }
          break;
        }
        value += text[j];
      }
      size_t after = j + 1;
      while (after < n && (text[after] == ' ' || text[after] == '\t')) ++after;
      if (after < n && text[after] != ';')
        throw DbError("Invalid connection string: text after the quoted value of '" + key + "'");
      i = after + 1;
    } else {
      size_t end = text.find(';', v);
      if (end == std::string_view::npos) end = n;
      value = std::string(TrimView(text.substr(v, end - v)));
      i = end + 1;
    }
    if (key == "data source" || key == "server" || key == "address" || key == "addr")
      settings.server = value;
    else if (key == "user id" || key == "uid" || key == "user")
      settings.user = value;
    else if (key == "password" || key == "pwd")
      settings.password = value;
    else if (key == "initial catalog" || key == "database")
      settings.database = value;
  }
  return settings;
}

// ---------------------------------------------------------------------------------------
// Named parameters

std::string ConvertNamedParams(std::string_view sql, std::vector<std::string>* names) {
  std::string out;
  out.reserve(sql.size());
  const size_t n = sql.size();
  size_t i = 0;
  auto copy_until = [&](size_t end) {
    out.append(sql.substr(i, end - i));
    i = end;
  };
  while (i < n) {
    const char c = sql[i];
    if (c == '\'' || c == '"' || c == '[') {
      // Quoted literal or identifier; a doubled closing character stays inside.
      const char close = c == '[' ? ']' : c;
      size_t j = i + 1;
      while (j < n) {
        if (sql[j] == close) {
          if (j + 1 < n && sql[j + 1] == close) { j += 2; continue; }
          break;
        }
        ++j;
      }
      copy_until(j < n ? j + 1 : n);
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      size_t j = sql.find('\n', i);
      copy_until(j == std::string_view::npos ? n : j);
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      // Block comments nest in T-SQL.
      size_t j = i + 2;
      int depth = 1;
      while (j < n && depth > 0) {
        if (sql[j] == '/' && j + 1 < n && sql[j + 1] == '*') { ++depth; j += 2; }
        else if (sql[j] == '*' && j + 1 < n && sql[j + 1] == '/') { --depth; j += 2; }
        else ++j;
      }
      copy_until(j);
    } else if (c == ':' && i + 1 < n && sql[i + 1] == ':') {
      copy_until(i + 2);  // "::" is not a marker
    } else if (c == ':' && i + 1 < n && IsNameStart(sql[i + 1])) {
      size_t j = i + 1;
      while (j < n && IsNameChar(sql[j])) ++j;
      if (names) names->emplace_back(sql.substr(i + 1, j - i - 1));
      out += '?';
      i = j;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace zel::db
