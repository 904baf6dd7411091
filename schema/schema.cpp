#include "schema/schema.h"

#include <cctype>

namespace zel::db {

// Defined in the file the build generates from base.sql, year.sql and log.sql.
extern const char kBaseSchemaSqlText[];
extern const char kYearSchemaSqlText[];
extern const char kLogSchemaSqlText[];

std::string_view BaseSchemaSql() { return kBaseSchemaSqlText; }
std::string_view YearSchemaSql() { return kYearSchemaSqlText; }
std::string_view LogSchemaSql() { return kLogSchemaSqlText; }

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// True when the line (without its "\n") is "GO" with only blanks around it.
bool IsGoLine(std::string_view line) {
  size_t b = 0;
  size_t e = line.size();
  while (b < e && IsBlank(line[b])) ++b;
  while (e > b && IsBlank(line[e - 1])) --e;
  return e - b == 2 && (line[b] == 'G' || line[b] == 'g') && (line[b + 1] == 'O' || line[b + 1] == 'o');
}

bool HasContent(std::string_view text) {
  for (char c : text) {
    if (!IsBlank(c) && c != '\n') return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> SplitBatches(std::string_view script) {
  std::vector<std::string> batches;
  std::string current;
  auto flush = [&] {
    if (HasContent(current)) batches.push_back(std::move(current));
    current.clear();
  };
  size_t pos = 0;
  while (pos < script.size()) {
    size_t nl = script.find('\n', pos);
    size_t end = nl == std::string_view::npos ? script.size() : nl + 1;
    std::string_view line = script.substr(pos, end - pos);
    std::string_view bare = line;
    if (!bare.empty() && bare.back() == '\n') bare.remove_suffix(1);
    if (IsGoLine(bare)) {
      flush();
    } else {
      current.append(line);
    }
    pos = end;
  }
  flush();
  return batches;
}

}  // namespace zel::db
