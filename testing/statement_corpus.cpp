#include "testing/statement_corpus.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <regex>
#include <stdexcept>

#include "db/client.h"
#include "util/text.h"

namespace zel::testing {

namespace fs = std::filesystem;

namespace {

bool IsDirective(const std::string& line) { return !line.empty() && line[0] == '@'; }

// The value of a "key=value" option among the words after a directive; empty when absent.
std::string OptionOf(const std::string& rest, const std::string& key) {
  const std::string wanted = key + "=";
  std::size_t at = 0;
  while (at < rest.size()) {
    const std::size_t end = std::min(rest.find_first_of(" \t", at), rest.size());
    const std::string word = rest.substr(at, end - at);
    if (word.rfind(wanted, 0) == 0) return word.substr(wanted.size());
    at = end + 1;
  }
  return {};
}

void ReadFile(const fs::path& path, std::vector<CorpusStatement>& out) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  const std::string file = path.filename().string();
  std::string entry;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.rfind("@entry ", 0) == 0) entry = util::TrimWhitespace(line.substr(7));
    const bool statement = line.rfind("@statement", 0) == 0;
    const bool dataset = line.rfind("@dataset", 0) == 0;
    if (!statement && !dataset) continue;
    CorpusStatement s{file, static_cast<int>(i) + 1, {}, entry};
    std::vector<std::string> block;
    for (std::size_t j = i + 1; j < lines.size() && !IsDirective(lines[j]); ++j) {
      block.push_back(lines[j]);
    }
    while (!block.empty() && util::TrimView(block.back()).empty()) block.pop_back();
    const std::string table = dataset ? OptionOf(line, "table") : std::string();
    s.text = !table.empty() ? "SELECT * FROM " + table : util::Join(block, "\n");
    if (!s.text.empty()) out.push_back(std::move(s));
  }
}

}  // namespace

std::vector<CorpusStatement> LoadCorpusStatements(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".corpus") files.push_back(it->path());
  }
  if (ec) throw std::runtime_error("cannot read the corpus folder " + folder.string());
  std::sort(files.begin(), files.end());
  std::vector<CorpusStatement> out;
  for (const auto& f : files) ReadFile(f, out);
  return out;
}

std::string NormalizeStatement(std::string_view sql) {
  const std::string text = db::ConvertNamedParams(sql, nullptr);
  std::string out;
  bool pending_blank = false;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::isspace(c)) {
      pending_blank = !out.empty();
      ++i;
      continue;
    }
    if (pending_blank) out += ' ';
    pending_blank = false;
    if (c == '\'') {
      // A literal: to its closing quote, doubled quotes inside it.
      ++i;
      while (i < text.size()) {
        if (text[i] == '\'' && i + 1 < text.size() && text[i + 1] == '\'') {
          i += 2;
        } else if (text[i] == '\'') {
          ++i;
          break;
        } else {
          ++i;
        }
      }
      out += "'?'";
    } else if (std::isdigit(c)) {
      while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
      out += '#';
    } else {
      out += static_cast<char>(c);
      ++i;
    }
  }
  static const std::regex repeated_row(R"((\([^()]*\))(, ?\1)+)");
  return std::regex_replace(out, repeated_row, "$1");
}

bool IsRowWriteBackText(std::string_view sql) {
  static const std::regex forms(
      R"(SELECT \* FROM \S+ WHERE 1 = 0)"
      R"(|INSERT INTO \S+ (\(\[[^\]]+\](, \[[^\]]+\])*\) VALUES \(\?(, \?)*\)|DEFAULT VALUES))"
      R"(|SELECT COUNT\(\*\) FROM \S+ WHERE \[.*)"
      R"(|UPDATE \S+ SET \[[^\]]+\] = \?.* WHERE \[.*)");
  const std::string text(util::TrimView(sql));
  return std::regex_match(text, forms);
}

}  // namespace zel::testing
