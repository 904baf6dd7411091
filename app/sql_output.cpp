#include "app/sql_output.h"

#include <algorithm>
#include <vector>

namespace zel::app {

namespace {

// Characters of a UTF-8 text (continuation bytes do not count).
size_t Width(const std::string& s) {
  return static_cast<size_t>(std::count_if(
      s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string Cell(const db::Value& v, bool table) {
  if (v.IsNull()) return table ? "NULL" : "";
  std::string text = v.AsString();
  std::string out;
  for (char c : text) {
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string FormatTable(const db::ResultSet& rows) {
  const size_t n = rows.columns.size();
  std::vector<size_t> widths(n);
  std::vector<std::vector<std::string>> cells;
  for (size_t c = 0; c < n; ++c) widths[c] = Width(rows.columns[c]);
  for (const auto& row : rows.rows) {
    std::vector<std::string> line;
    for (size_t c = 0; c < n; ++c) {
      line.push_back(c < row.size() ? Cell(row[c], true) : std::string());
      widths[c] = std::max(widths[c], Width(line.back()));
    }
    cells.push_back(std::move(line));
  }
  auto format_line = [&](const std::vector<std::string>& values) {
    std::string out;
    for (size_t c = 0; c < n; ++c) {
      if (c > 0) out += " | ";
      out += values[c];
      if (c + 1 < n) out += std::string(widths[c] - Width(values[c]), ' ');
    }
    return out + "\n";
  };
  std::string out = format_line(rows.columns);
  for (size_t c = 0; c < n; ++c) {
    if (c > 0) out += "-+-";
    out += std::string(widths[c], '-');
  }
  out += "\n";
  for (const auto& line : cells) out += format_line(line);
  out += "(" + std::to_string(rows.rows.size()) + (rows.rows.size() == 1 ? " row)\n" : " rows)\n");
  return out;
}

std::string FormatTabSeparated(const db::ResultSet& rows) {
  std::string out;
  auto append = [&](const std::vector<std::string>& values) {
    for (size_t c = 0; c < values.size(); ++c) {
      if (c > 0) out += '\t';
      out += values[c];
    }
    out += '\n';
  };
  append(rows.columns);
  for (const auto& row : rows.rows) {
    std::vector<std::string> values;
    for (const auto& v : row) values.push_back(Cell(v, false));
    append(values);
  }
  return out;
}

}  // namespace zel::app
