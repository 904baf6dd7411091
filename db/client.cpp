// The database client layer shared by both engines: values, connection-string parsing,
// named-parameter markers and the client-side dataset.
#include "db/client.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "util/parse_int.h"
#include "util/text.h"

namespace zel::db {
namespace {

std::string_view TrimView(std::string_view s) { return util::TrimView(s, util::kAsciiSpace); }

std::string Lower(std::string_view s) { return util::LowerAscii(s); }

bool ParseInteger(std::string_view text, std::int64_t* out) {
  const auto v = util::ParseInt<std::int64_t>(TrimView(text), util::PlusSign::kAccepted);
  if (v) *out = *v;
  return v.has_value();
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

bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

}  // namespace

// ---------------------------------------------------------------------------------------
// Value

std::int64_t Value::AsInteger() const {
  switch (type()) {
    case DataType::Null:
      return 0;
    case DataType::Integer:
      return std::get<std::int64_t>(v_);
    case DataType::Real:
      return RoundToInteger(std::get<double>(v_));
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
    case DataType::Null:
      return 0.0;
    case DataType::Integer:
      return static_cast<double>(std::get<std::int64_t>(v_));
    case DataType::Real:
      return std::get<double>(v_);
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
    case DataType::Null:
      return std::string();
    case DataType::Integer:
      return std::to_string(std::get<std::int64_t>(v_));
    case DataType::Real: {
      double d = std::get<double>(v_);
      if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 1e15)
        return std::to_string(static_cast<std::int64_t>(d));
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", d);
      return buf;
    }
    case DataType::Text:
      return std::get<std::string>(v_);
  }
  return std::string();
}

// ---------------------------------------------------------------------------------------
// Connection strings

std::string ConnectionStringValue(std::string_view value) {
  const bool plain = value.find_first_of(";={}\"'") == std::string_view::npos &&
                     (value.empty() || (value.front() != ' ' && value.back() != ' '));
  if (plain) return std::string(value);
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

namespace {

// The value enclosed from text[open] ({value}, "value" or 'value') up to its single closing
// character ('}' for a brace), a doubled closing character standing for one; *next is set
// past the ';' that must follow it.
std::string EnclosedValue(std::string_view text, size_t open, const std::string& key,
                          size_t* next) {
  const char close = text[open] == '{' ? '}' : text[open];
  const char* kind = close == '}' ? "braced" : "quoted";
  const size_t n = text.size();
  std::string value;
  size_t j = open + 1;
  for (;; ++j) {
    if (j >= n)
      throw DbError(std::string("Invalid connection string: unterminated ") + kind + " value");
    if (text[j] == close) {
      if (j + 1 < n && text[j + 1] == close) {
        value += close;
        ++j;
        continue;
      }
      break;
    }
    value += text[j];
  }
  size_t after = j + 1;
  while (after < n && (text[after] == ' ' || text[after] == '\t')) ++after;
  if (after < n && text[after] != ';')
    throw DbError(std::string("Invalid connection string: text after the ") + kind + " value of '" +
                  key + "'");
  *next = after + 1;
  return value;
}

}  // namespace

ConnectionSettings ParseConnectionString(std::string_view text) {
  ConnectionSettings settings;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    // One "key=value" pair up to the next ';' (a value may be quoted with " or ').
    size_t eq = text.find('=', i);
    size_t semi = text.find(';', i);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      std::string_view rest = TrimView(
          text.substr(i, semi == std::string_view::npos ? std::string_view::npos : semi - i));
      // The text is never repeated: it may hold a password.
      if (!rest.empty()) throw DbError("Invalid connection string: a part is not a key=value pair");
      if (semi == std::string_view::npos) break;
      i = semi + 1;
      continue;
    }
    std::string key = Lower(TrimView(text.substr(i, eq - i)));
    if (key.empty()) throw DbError("Invalid connection string: empty key");
    size_t v = eq + 1;
    while (v < n && (text[v] == ' ' || text[v] == '\t')) ++v;
    std::string value;
    if (v < n && (text[v] == '{' || text[v] == '"' || text[v] == '\'')) {
      value = EnclosedValue(text, v, key, &i);
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
          if (j + 1 < n && sql[j + 1] == close) {
            j += 2;
            continue;
          }
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
        if (sql[j] == '/' && j + 1 < n && sql[j + 1] == '*') {
          ++depth;
          j += 2;
        } else if (sql[j] == '*' && j + 1 < n && sql[j + 1] == '/') {
          --depth;
          j += 2;
        } else
          ++j;
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

// ---------------------------------------------------------------------------------------
// The table a query reads

namespace {

// Tokens of a T-SQL text as far as TableOfQuery needs them: words (with '.', '#', '@'
// and bracketed parts glued into one name), single punctuation characters; literals and
// comments are skipped.
struct Token {
  std::string text;
  bool word = false;
};

std::vector<Token> Tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  const size_t n = sql.size();
  size_t i = 0;
  auto is_word_char = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '#' || c == '@' ||
           c == '$' || static_cast<unsigned char>(c) >= 0x80;
  };
  while (i < n) {
    const char c = sql[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      while (i < n && sql[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      int depth = 1;
      i += 2;
      while (i < n && depth > 0) {
        if (sql[i] == '/' && i + 1 < n && sql[i + 1] == '*') {
          ++depth;
          i += 2;
        } else if (sql[i] == '*' && i + 1 < n && sql[i + 1] == '/') {
          --depth;
          i += 2;
        } else
          ++i;
      }
      continue;
    }
    if (c == '\'') {
      ++i;
      while (i < n) {
        if (sql[i] == '\'') {
          if (i + 1 < n && sql[i + 1] == '\'') {
            i += 2;
            continue;
          }
          break;
        }
        ++i;
      }
      ++i;
      tokens.push_back({"'", false});
      continue;
    }
    if (is_word_char(c) || c == '[' || c == '"' ||
        (c == '.' && !tokens.empty() && tokens.back().word)) {
      // A possibly dotted name: parts are plain words or [..]/".." quoted identifiers.
      std::string name;
      while (i < n) {
        const char d = sql[i];
        if (d == '[' || d == '"') {
          const char close = d == '[' ? ']' : '"';
          size_t j = i + 1;
          while (j < n) {
            if (sql[j] == close) {
              if (j + 1 < n && sql[j + 1] == close) {
                j += 2;
                continue;
              }
              break;
            }
            ++j;
          }
          name.append(sql.substr(i, std::min(j + 1, n) - i));
          i = j + 1;
        } else if (is_word_char(d) || d == '.') {
          name += d;
          ++i;
        } else {
          break;
        }
      }
      tokens.push_back({name, true});
      continue;
    }
    tokens.push_back({std::string(1, c), false});
    ++i;
  }
  return tokens;
}

bool IsOneOf(const std::string& word, std::initializer_list<const char*> list) {
  const std::string w = Lower(word);
  for (const char* k : list)
    if (w == k) return true;
  return false;
}

}  // namespace

namespace {

// The name after the first FROM outside parentheses, and whether further tables follow it
// (a comma or a JOIN).
std::string FirstFromItem(std::string_view sql, bool* joined) {
  *joined = false;
  const std::vector<Token> t = Tokenize(sql);
  int depth = 0;
  size_t i = 0;
  for (; i < t.size(); ++i) {
    if (!t[i].word) {
      if (t[i].text == "(")
        ++depth;
      else if (t[i].text == ")")
        --depth;
      continue;
    }
    if (depth == 0 && IsOneOf(t[i].text, {"from"})) break;
  }
  if (i + 1 >= t.size() || !t[i + 1].word) return std::string();
  const std::string table = t[i + 1].text;
  static const std::initializer_list<const char*> kJoins = {
      "join", "inner", "left", "right", "full", "cross", "outer", "apply", "pivot", "unpivot"};
  size_t k = i + 2;
  // Optional alias, then table hints "WITH (...)".
  if (k < t.size() && t[k].word && IsOneOf(t[k].text, {"as"}))
    k += 2;
  else if (k < t.size() && t[k].word && !IsOneOf(t[k].text, kJoins) &&
           !IsOneOf(t[k].text,
                    {"where",   "group", "order", "having", "union",  "except",  "intersect",
                     "option",  "for",   "with",  "select", "insert", "update",  "delete",
                     "set",     "if",    "else",  "begin",  "end",    "declare", "exec",
                     "execute", "go",    "into",  "compute"}))
    ++k;
  if (k < t.size() && t[k].word && IsOneOf(t[k].text, {"with"}) && k + 1 < t.size() &&
      t[k + 1].text == "(") {
    int d = 0;
    for (++k; k < t.size(); ++k) {
      if (t[k].text == "(")
        ++d;
      else if (t[k].text == ")" && --d == 0) {
        ++k;
        break;
      }
    }
  }
  *joined = k < t.size() && (t[k].text == "," || (t[k].word && IsOneOf(t[k].text, kJoins)));
  return table;
}

}  // namespace

std::string TableOfQuery(std::string_view sql) {
  bool joined = false;
  std::string table = FirstFromItem(sql, &joined);
  return joined ? std::string() : table;
}

std::string FirstTableOfQuery(std::string_view sql) {
  bool joined = false;
  return FirstFromItem(sql, &joined);
}

// ---------------------------------------------------------------------------------------
// Dataset

namespace {

// ASCII letters folded to lower case; every other byte kept (names and the server's text
// comparison fold ASCII only).
inline unsigned char FoldAscii(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(static_cast<unsigned char>(a[i])) != FoldAscii(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Column names may come bracketed in a sort text or a key list: "[Code]" → "Code".
std::string Unbracket(std::string_view name) {
  name = TrimView(name);
  if (name.size() >= 2 &&
      ((name.front() == '[' && name.back() == ']') || (name.front() == '"' && name.back() == '"')))
    name = name.substr(1, name.size() - 2);
  return std::string(name);
}

std::string QuoteName(std::string_view name) {
  std::string out = "[";
  for (char c : name) {
    out += c;
    if (c == ']') out += ']';
  }
  return out + "]";
}

bool IsNumber(const Value& v) {
  return v.type() == DataType::Integer || v.type() == DataType::Real;
}

bool NumberOf(const Value& v, double* out) {
  if (IsNumber(v)) {
    *out = v.AsFloat();
    return true;
  }
  if (v.type() == DataType::Text) return ParseReal(v.AsString(), out);
  return false;
}

// Text as SQL Server compares it by default: case-insensitive, trailing blanks ignored.
int CompareText(std::string_view a, std::string_view b) {
  while (!a.empty() && a.back() == ' ') a.remove_suffix(1);
  while (!b.empty() && b.back() == ' ') b.remove_suffix(1);
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int x = FoldAscii(static_cast<unsigned char>(a[i]));
    const int y = FoldAscii(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Order for Sort: NULL first, numbers as numbers (also numeric text against a number),
// text as CompareText.
int CompareValues(const Value& a, const Value& b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() == b.IsNull() ? 0 : (a.IsNull() ? -1 : 1);
  if (IsNumber(a) || IsNumber(b)) {
    double x = 0, y = 0;
    if (NumberOf(a, &x) && NumberOf(b, &y)) return x < y ? -1 : (x > y ? 1 : 0);
  }
  return CompareText(a.AsString(), b.AsString());
}

bool LocateEquals(const Value& field, const Value& wanted) {
  if (field.IsNull() || wanted.IsNull()) return field.IsNull() && wanted.IsNull();
  if (IsNumber(field) || IsNumber(wanted)) {
    double x = 0, y = 0;
    if (NumberOf(field, &x) && NumberOf(wanted, &y)) return x == y;
  }
  return CompareText(TrimView(field.AsString()), TrimView(wanted.AsString())) == 0;
}

const Value kNullValue;

}  // namespace

Dataset::Dataset(Connection& connection) : connection_(connection) {}

void Dataset::SetSQL(std::vector<std::string> lines) {
  lines_ = std::move(lines);
  ParseParams();
}

void Dataset::AddLine(std::string line) {
  lines_.push_back(std::move(line));
  ParseParams();
}

std::string Dataset::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += '\n';
  }
  return text;
}

void Dataset::SetTableName(std::string name, bool open) {
  table_name_ = std::move(name);
  SetSQL({"SELECT * FROM " + table_name_});
  if (open) Open();
}

// Parameters found in the new text keep their declared type, size and value when the
// old text had them (a line appended after the values were set keeps them).
void Dataset::ParseParams() {
  std::vector<std::string> names;
  converted_sql_ = ConvertNamedParams(Text(), &names);
  std::vector<Param> params;
  std::vector<int> order;
  order.reserve(names.size());
  for (const std::string& name : names) {
    int index = -1;
    for (size_t i = 0; i < params.size() && index < 0; ++i)
      if (SameName(params[i].name, name)) index = static_cast<int>(i);
    if (index < 0) {
      Param param{name, ParamType::Unknown, 0, Value()};
      for (const Param& old : params_)
        if (SameName(old.name, name)) param = old;
      index = static_cast<int>(params.size());
      params.push_back(std::move(param));
    }
    order.push_back(index);
  }
  param_order_ = std::move(order);
  params_ = std::move(params);
  next_param_ = 0;
}

Param& Dataset::ParamByName(std::string_view name) {
  // Parameters are mostly set in the order they are declared: the one after the last found
  // is tried first.
  if (next_param_ < params_.size() && SameName(params_[next_param_].name, name))
    return params_[next_param_++];
  for (size_t i = 0; i < params_.size(); ++i)
    if (SameName(params_[i].name, name)) {
      next_param_ = i + 1;
      return params_[i];
    }
  throw DbError("Parameter '" + std::string(name) + "' not found");
}

void Dataset::SetParam(std::string_view name, Value value) {
  ParamByName(name).value = std::move(value);
}

std::vector<Param> Dataset::BoundParams() const {
  std::vector<Param> bound;
  bound.reserve(param_order_.size());
  for (int index : param_order_) bound.push_back(params_[static_cast<size_t>(index)]);
  return bound;
}

void Dataset::Open() {
  Close();
  ResultSet result = connection_.Execute(converted_sql_, BoundParams(), timeout_);
  if (!result.has_columns) throw DbError("The statement returned no result set");
  columns_ = std::move(result.columns);
  rows_ = std::move(result.rows);
  active_ = true;
  pos_ = 0;
  eof_ = rows_.empty();
}

void Dataset::ExecSQL() { connection_.Execute(converted_sql_, BoundParams(), timeout_); }

void Dataset::Close() {
  active_ = false;
  state_ = State::Browse;
  columns_.clear();
  rows_.clear();
  edit_row_.clear();
  original_row_.clear();
  changed_.clear();
  pos_ = 0;
  eof_ = true;
}

void Dataset::RequireActive() const {
  if (!active_) throw DbError("Cannot perform this operation on a closed dataset");
}

void Dataset::CheckBrowseMode() {
  RequireActive();
  if (state_ != State::Browse) Post();
}

bool Dataset::Eof() const { return !active_ || rows_.empty() || eof_; }

void Dataset::First() {
  CheckBrowseMode();
  pos_ = 0;
  eof_ = rows_.empty();
}

void Dataset::Next() {
  CheckBrowseMode();
  if (pos_ + 1 < RecordCount()) {
    ++pos_;
    eof_ = false;
  } else {
    eof_ = true;
  }
}

bool Dataset::Locate(std::string_view column, const Value& value) {
  CheckBrowseMode();
  const int c = ColumnIndex(column);
  if (c < 0) throw DbError("Field '" + std::string(column) + "' not found");
  for (size_t r = 0; r < rows_.size(); ++r)
    if (LocateEquals(rows_[r][c], value)) {
      pos_ = static_cast<int>(r);
      eof_ = false;
      return true;
    }
  return false;
}

void Dataset::Sort(std::string_view spec) {
  CheckBrowseMode();
  struct Key {
    int column;
    bool descending;
  };
  std::vector<Key> keys;
  size_t start = 0;
  while (start <= spec.size()) {
    size_t comma = spec.find(',', start);
    if (comma == std::string_view::npos) comma = spec.size();
    std::string_view item = TrimView(spec.substr(start, comma - start));
    start = comma + 1;
    if (item.empty()) continue;
    bool descending = false;
    size_t blank = item.find_last_of(" \t");
    if (blank != std::string_view::npos) {
      const std::string dir = Lower(TrimView(item.substr(blank + 1)));
      if (dir == "asc" || dir == "desc") {
        descending = dir == "desc";
        item = TrimView(item.substr(0, blank));
      }
    }
    const std::string name = Unbracket(item);
    const int c = ColumnIndex(name);
    if (c < 0) throw DbError("Field '" + name + "' not found");
    keys.push_back({c, descending});
  }
  std::stable_sort(rows_.begin(), rows_.end(),
                   [&](const std::vector<Value>& a, const std::vector<Value>& b) {
                     for (const Key& k : keys) {
                       const int cmp = CompareValues(a[k.column], b[k.column]);
                       if (cmp != 0) return k.descending ? cmp > 0 : cmp < 0;
                     }
                     return false;
                   });
  pos_ = 0;
  eof_ = rows_.empty();
}

int Dataset::ColumnIndex(std::string_view name) const {
  for (size_t i = 0; i < columns_.size(); ++i)
    if (SameName(columns_[i], name)) return static_cast<int>(i);
  return -1;
}

bool Dataset::HasField(std::string_view name) const { return ColumnIndex(name) >= 0; }

const Value& Dataset::Field(int index) const {
  RequireActive();
  if (index < 0 || index >= FieldCount())
    throw DbError("Field index " + std::to_string(index) + " out of range");
  if (state_ != State::Browse) return edit_row_[index];
  if (rows_.empty()) return kNullValue;
  return rows_[pos_][index];
}

const Value& Dataset::FieldByName(std::string_view name) const {
  RequireActive();
  const int c = ColumnIndex(name);
  if (c < 0) throw DbError("Field '" + std::string(name) + "' not found");
  return Field(c);
}

namespace {
std::atomic<std::uint64_t> process_statements{0};
}  // namespace

void Connection::CountStatement() {
  sent_.fetch_add(1, std::memory_order_relaxed);
  process_statements.fetch_add(1, std::memory_order_relaxed);
}

std::uint64_t StatementsSentByProcess() {
  return process_statements.load(std::memory_order_relaxed);
}

void Connection::BeginTransaction() { Execute("BEGIN TRANSACTION"); }
void Connection::CommitTransaction() { Execute("COMMIT TRANSACTION"); }
void Connection::RollbackTransaction() { Execute("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION"); }

void RunInTransaction(Connection& connection, const std::function<void()>& work,
                      const std::function<void()>& on_rollback) {
  connection.BeginTransaction();
  try {
    work();
    connection.CommitTransaction();
  } catch (...) {
    try {
      connection.RollbackTransaction();
    } catch (const std::exception&) {
      // The connection undoes an unfinished transaction when it closes.
    }
    try {
      if (on_rollback) on_rollback();
    } catch (const std::exception&) {
      // The work's own failure is the one the caller needs to see.
    }
    throw;
  }
}

void EnsureTransactionOpen(Connection& connection, const std::string& message) {
  const ResultSet r = connection.Execute(" Select @@TRANCOUNT ");
  const bool open = !r.rows.empty() && !r.rows[0].empty() && !r.rows[0][0].IsNull() &&
                    r.rows[0][0].AsInteger() > 0;
  if (!open) throw DbError(message);
}

void Dataset::Append() {
  CheckBrowseMode();
  edit_row_.assign(columns_.size(), Value());
  original_row_.clear();
  changed_.assign(columns_.size(), false);
  state_ = State::Insert;
}

void Dataset::Edit() {
  RequireActive();
  if (state_ != State::Browse) return;
  if (rows_.empty()) throw DbError("Cannot edit: the dataset has no current row");
  edit_row_ = rows_[pos_];
  original_row_ = rows_[pos_];
  changed_.assign(columns_.size(), false);
  state_ = State::Edit;
}

void Dataset::SetField(std::string_view name, Value value) {
  RequireActive();
  if (state_ == State::Browse) throw DbError("Dataset not in edit or insert mode");
  const int c = ColumnIndex(name);
  if (c < 0) throw DbError("Field '" + std::string(name) + "' not found");
  edit_row_[c] = std::move(value);
  changed_[c] = true;
}

void Dataset::Cancel() {
  state_ = State::Browse;
  edit_row_.clear();
  original_row_.clear();
  changed_.clear();
}

std::string Dataset::TargetTable() const {
  if (!table_name_.empty()) return table_name_;
  // A query that joins further tables writes to its first FROM item (found by its key).
  std::string table = FirstTableOfQuery(Text());
  if (table.empty())
    throw DbError("Cannot tell which table to write the row to; the query reads no table");
  return table;
}

// The target table's own columns and key, read once: a query may carry computed columns
// that must be neither written nor used to find the row.
const std::vector<std::string>& Dataset::TableColumns(const std::string& table) {
  if (meta_table_ != table) {
    table_columns_.clear();
    key_columns_.clear();
    if (SameName(table, table_name_)) {
      table_columns_ = columns_;
    } else {
      ResultSet probe =
          connection_.Execute("SELECT * FROM " + table + " WHERE 1 = 0", {}, timeout_);
      table_columns_ = std::move(probe.columns);
    }
    for (const std::string& key : connection_.PrimaryKeyColumns(table))
      key_columns_.push_back(Unbracket(key));
    meta_table_ = table;
  }
  return table_columns_;
}

void Dataset::Post() {
  RequireActive();
  if (state_ == State::Browse) return;
  const std::string table = TargetTable();
  const std::vector<std::string>& table_columns = TableColumns(table);
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (!changed_[i]) continue;
    bool writable = false;
    for (const std::string& t : table_columns) writable = writable || SameName(t, columns_[i]);
    if (!writable) throw DbError("Field '" + columns_[i] + "' cannot be modified");
  }
  if (state_ == State::Insert)
    PostInsert(table);
  else
    PostEdit(table);
  Cancel();
}

void Dataset::PostInsert(const std::string& table) {
  std::string names;
  std::string markers;
  std::vector<Param> params;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (!changed_[i]) continue;  // identity and defaulted columns stay the server's
    if (!params.empty()) {
      names += ", ";
      markers += ", ";
    }
    names += QuoteName(columns_[i]);
    markers += '?';
    params.push_back(Param{columns_[i], ParamType::Unknown, 0, edit_row_[i]});
  }
  const std::string sql =
      params.empty() ? "INSERT INTO " + table + " DEFAULT VALUES"
                     : "INSERT INTO " + table + " (" + names + ") VALUES (" + markers + ")";
  connection_.Execute(sql, params, timeout_);
  rows_.push_back(edit_row_);
  pos_ = RecordCount() - 1;
  eof_ = false;
}

void Dataset::PostEdit(const std::string& table) {
  std::string assignments;
  std::vector<Param> params;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (!changed_[i]) continue;
    if (!params.empty()) assignments += ", ";
    assignments += QuoteName(columns_[i]) + " = ?";
    params.push_back(Param{columns_[i], ParamType::Unknown, 0, edit_row_[i]});
  }
  if (params.empty()) return;  // nothing changed, nothing to write

  // The row is found by the primary key when the rows carry all of its columns, else by
  // every original value of the table's columns the query read.
  std::vector<int> where_columns;
  bool by_key = !key_columns_.empty();
  for (const std::string& key : key_columns_) {
    const int c = ColumnIndex(key);
    if (c < 0)
      by_key = false;
    else
      where_columns.push_back(c);
  }
  // Through a query that joins further tables a row is found only by its key, which then
  // cannot change.
  if (table_name_.empty() && TableOfQuery(Text()).empty()) {
    if (!by_key)
      throw DbError("Cannot tell which row of " + table +
                    " to update: the query joins further tables and does not read its key");
    for (int c : where_columns)
      if (changed_[c])
        throw DbError("Field '" + columns_[c] + "' cannot be modified: it is the key of " + table +
                      " and the query joins further tables");
  }
  if (!by_key) {
    where_columns.clear();
    for (size_t i = 0; i < columns_.size(); ++i)
      for (const std::string& t : table_columns_)
        if (SameName(t, columns_[i])) {
          where_columns.push_back(static_cast<int>(i));
          break;
        }
  }
  // The columns being changed must still hold what was read: an edit never overwrites a
  // value another program changed meanwhile (the update then finds no row and fails).
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (changed_[i] && std::find(where_columns.begin(), where_columns.end(), static_cast<int>(i)) ==
                           where_columns.end())
      where_columns.push_back(static_cast<int>(i));
  }
  if (where_columns.empty()) throw DbError("Cannot tell which row of " + table + " to update");
  std::string where;
  std::vector<Param> where_params;
  for (int c : where_columns) {
    if (!where.empty()) where += " AND ";
    if (original_row_[c].IsNull()) {
      where += QuoteName(columns_[c]) + " IS NULL";
    } else {
      where += QuoteName(columns_[c]) + " = ?";
      where_params.push_back(Param{columns_[c], ParamType::Unknown, 0, original_row_[c]});
    }
  }

  // Nothing is written unless exactly one row matches.
  ResultSet count = connection_.Execute("SELECT COUNT(*) FROM " + table + " WHERE " + where,
                                        where_params, timeout_);
  const std::int64_t matches =
      count.rows.empty() || count.rows[0].empty() ? 0 : count.rows[0][0].AsInteger();
  if (matches != 1)
    throw DbError(matches == 0 ? "Row cannot be located for updating: it was changed or deleted"
                               : "Row cannot be located for updating: " + std::to_string(matches) +
                                     " rows of " + table + " match it");
  params.insert(params.end(), where_params.begin(), where_params.end());
  ResultSet result = connection_.Execute(
      "UPDATE " + table + " SET " + assignments + " WHERE " + where, params, timeout_);
  if (result.rows_affected >= 0 && result.rows_affected != 1)
    throw DbError("Row update touched " + std::to_string(result.rows_affected) + " rows of " +
                  table);
  rows_[pos_] = edit_row_;
}

}  // namespace zel::db
