#include "testing/scenarios/scenario_file.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

#include "schema/schema.h"
#include "util/text.h"

namespace zel::engine::scenarios {

namespace fs = std::filesystem;

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The cells of a "a | b | c" line. A line that starts with "|" is framed ("| a | b |"):
// its first and last "|" are borders; otherwise a trailing "|" ends an empty last cell.
std::vector<std::string> SplitCells(std::string_view line) {
  std::string text = util::TrimAsciiSpace(line);
  if (!text.empty() && text.front() == '|') {
    text.erase(0, 1);
    if (!text.empty() && text.back() == '|') text.pop_back();
  }
  std::vector<std::string> cells;
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = text.find('|', start);
    cells.push_back(util::TrimAsciiSpace(std::string_view(text).substr(start, bar - start)));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return cells;
}

// A markdown rule under a header ("---|:--|---").
bool IsRule(std::string_view line) {
  const std::string text = util::TrimAsciiSpace(line);
  return !text.empty() && text.find_first_not_of("-|: ") == std::string::npos &&
         text.find('-') != std::string::npos;
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ScenarioFormatError("cannot read " + file.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

enum class Section { kTop, kBase, kYear, kOtherYear, kRun, kExpect };

}  // namespace

std::string PadPerno(const std::string& perno) {
  const std::string trimmed = util::TrimAsciiSpace(perno);
  return trimmed.size() >= 10 ? trimmed : std::string(10 - trimmed.size(), ' ') + trimmed;
}

ScenarioText ParseScenarioText(std::string_view text, const std::string& origin) {
  ScenarioText out;
  Section section = Section::kTop;
  std::string other_year;  // of the current "[year YYYY]" section
  int line_no = 0;
  auto fail = [&](const std::string& message) -> void {
    throw ScenarioFormatError(origin + ":" + std::to_string(line_no) + ": " + message);
  };

  std::istringstream in{std::string(text)};
  std::string raw;
  while (std::getline(in, raw)) {
    ++line_no;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    const std::string line = util::TrimAsciiSpace(raw);

    if (StartsWith(line, "[") && line.back() == ']') {
      const std::string head = util::TrimAsciiSpace(line.substr(1, line.size() - 2));
      const std::string word = util::LowerAscii(head.substr(0, head.find(' ')));
      if (util::LowerAscii(head) == "base" || util::LowerAscii(head) == "year") {
        section = util::LowerAscii(head) == "base" ? Section::kBase : Section::kYear;
      } else if (word == "year") {
        other_year = util::TrimAsciiSpace(std::string_view(head).substr(4));
        if (other_year.size() != 4 ||
            !std::all_of(other_year.begin(), other_year.end(), ::isdigit)) {
          fail("expected \"[year YYYY]\", found \"" + line + "\"");
        }
        out.other_year_sql[other_year];
        section = Section::kOtherYear;
      } else if (util::LowerAscii(head) == "run") {
        if (out.has_run) fail("a second [run] section");
        out.has_run = true;
        section = Section::kRun;
      } else if (word == "expect") {
        std::string rest = util::TrimAsciiSpace(std::string_view(head).substr(6));
        ExpectedTable table;
        table.line = line_no;
        const std::size_t space = rest.find(' ');
        table.table = rest.substr(0, space);
        if (space != std::string::npos) {
          const std::string condition = util::TrimAsciiSpace(std::string_view(rest).substr(space));
          if (util::LowerAscii(condition.substr(0, 6)) != "where ") {
            fail("expected \"[expect <Table> where <condition>]\", found \"" + line + "\"");
          }
          table.where = util::TrimAsciiSpace(std::string_view(condition).substr(6));
        }
        if (table.table.empty()) fail("[expect] without a table name");
        out.expected.push_back(std::move(table));
        section = Section::kExpect;
      } else {
        fail("unknown section \"" + line + "\"");
      }
      continue;
    }

    switch (section) {
      case Section::kBase:
        out.base_sql += raw + "\n";
        continue;
      case Section::kYear:
        out.year_sql += raw + "\n";
        continue;
      case Section::kOtherYear:
        out.other_year_sql[other_year] += raw + "\n";
        continue;
      default:
        break;
    }
    if (line.empty() || StartsWith(line, "--")) continue;

    if (section == Section::kTop) {
      if (StartsWith(line, "include ")) {
        const std::string name = util::TrimAsciiSpace(std::string_view(line).substr(8));
        if (name.empty()) fail("include without a fixture name");
        out.includes.push_back(name);
      } else if (StartsWith(line, "pending:")) {
        out.pending = util::TrimAsciiSpace(std::string_view(line).substr(8));
        if (out.pending.empty()) fail("pending: needs a reason");
      } else {
        fail("expected \"include <fixture>\", \"pending: <reason>\" or a section, found \"" + line +
             "\"");
      }
    } else if (section == Section::kRun) {
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos) fail("expected \"key: value\" in [run]");
      const std::string key =
          util::LowerAscii(util::TrimAsciiSpace(std::string_view(line).substr(0, colon)));
      const std::string value = util::TrimAsciiSpace(std::string_view(line).substr(colon + 1));
      if (key == "year") {
        if (value.size() != 4 || !std::all_of(value.begin(), value.end(), ::isdigit)) {
          fail("year must be four digits");
        }
        out.year = value;
      } else if (key == "kind") {
        if (value != "daily" && value != "monthly" && value != "periodic") {
          fail("kind must be daily, monthly or periodic");
        }
        out.kind = value;
      } else if (key == "from" || key == "to") {
        // A daily run takes "MM/DD"; a monthly or periodic one (its kind given first) 1..12.
        if (out.kind == "daily" && (value.size() != 5 || value[2] != '/')) {
          fail(key + " must be \"MM/DD\"");
        }
        if (out.kind != "daily" && (value.empty() || value.size() > 2 ||
                                    !std::all_of(value.begin(), value.end(), ::isdigit))) {
          fail(key + " must be a number 1..12 for a " + out.kind + " run (kind comes first)");
        }
        (key == "from" ? out.from_date : out.to_date) = value;
      } else if (key == "then month") {
        try {
          out.then_month = std::stoi(value);
        } catch (const std::exception&) {
          fail("then month must be a number 1..12");
        }
        if (out.then_month < 1 || out.then_month > 12) fail("then month must be a number 1..12");
      } else if (key == "then log contains") {
        std::string wanted = value;
        if (wanted.size() >= 2 && wanted.front() == '"' && wanted.back() == '"') {
          wanted = wanted.substr(1, wanted.size() - 2);
        }
        if (wanted.empty()) fail("then log contains needs a text");
        out.log_contains.push_back(wanted);
      } else if (key == "persons") {
        std::istringstream words(value);
        for (std::string p; words >> p;) out.persons.push_back(p);
      } else if (key == "runs") {
        try {
          out.runs = std::stoi(value);
        } catch (const std::exception&) {
          fail("runs must be a number 1..9");
        }
        if (out.runs < 1 || out.runs > 9) fail("runs must be a number 1..9");
      } else if (key == "threads") {
        try {
          out.threads = std::stoi(value);
        } catch (const std::exception&) {
          fail("threads must be a number");
        }
      } else {
        fail("unknown [run] key \"" + key + "\"");
      }
    } else {  // kExpect
      ExpectedTable& table = out.expected.back();
      if (table.columns.empty()) {
        table.columns = SplitCells(line);
        for (const auto& c : table.columns) {
          if (c.empty()) fail("empty column name in the header of [expect " + table.table + "]");
        }
      } else if (!IsRule(line)) {
        auto cells = SplitCells(line);
        if (cells.size() != table.columns.size()) {
          fail("row has " + std::to_string(cells.size()) + " cells, the header " +
               std::to_string(table.columns.size()));
        }
        table.rows.push_back(std::move(cells));
      }
    }
  }
  for (const auto& table : out.expected) {
    if (table.columns.empty()) {
      line_no = table.line;
      fail("[expect " + table.table +
           "] has no header line (write the columns even when no "
           "row is expected)");
    }
  }
  if (out.has_run && (out.from_date.empty() || out.to_date.empty())) {
    line_no = 0;
    fail("[run] needs from and to");
  }
  return out;
}

namespace {

void AddOtherYears(const ScenarioText& text, Scenario& scenario) {
  for (const auto& [year, sql] : text.other_year_sql) {
    auto& batches = scenario.other_year_batches[year];
    for (auto& b : db::SplitBatches(sql)) batches.push_back(std::move(b));
  }
}

void AddFixture(const fs::path& fixtures, const std::string& name, std::set<std::string>& done,
                std::vector<std::string>& stack, Scenario& scenario) {
  if (std::find(stack.begin(), stack.end(), name) != stack.end()) {
    throw ScenarioFormatError("fixture include cycle through \"" + name + "\"");
  }
  if (!done.insert(name).second) return;
  const fs::path file = fixtures / (name + ".fixture");
  if (!fs::exists(file)) throw ScenarioFormatError("no fixture file " + file.string());
  const ScenarioText text = ParseScenarioText(ReadFile(file), file.string());
  if (text.has_run || !text.expected.empty() || !text.pending.empty()) {
    throw ScenarioFormatError(file.string() +
                              ": a fixture holds only include, [base], "
                              "[year] and [year YYYY]");
  }
  stack.push_back(name);
  for (const auto& inner : text.includes) AddFixture(fixtures, inner, done, stack, scenario);
  stack.pop_back();
  for (auto& b : db::SplitBatches(text.base_sql)) scenario.base_batches.push_back(std::move(b));
  for (auto& b : db::SplitBatches(text.year_sql)) scenario.year_batches.push_back(std::move(b));
  AddOtherYears(text, scenario);
}

}  // namespace

Scenario LoadScenario(const fs::path& file) {
  Scenario scenario;
  scenario.name = file.stem().string();
  scenario.text = ParseScenarioText(ReadFile(file), file.string());
  if (!scenario.text.has_run) throw ScenarioFormatError(file.string() + ": no [run] section");
  std::set<std::string> done;
  std::vector<std::string> stack;
  const fs::path fixtures = file.parent_path() / "fixtures";
  for (const auto& name : scenario.text.includes) {
    AddFixture(fixtures, name, done, stack, scenario);
  }
  for (auto& b : db::SplitBatches(scenario.text.base_sql)) {
    scenario.base_batches.push_back(std::move(b));
  }
  for (auto& b : db::SplitBatches(scenario.text.year_sql)) {
    scenario.year_batches.push_back(std::move(b));
  }
  AddOtherYears(scenario.text, scenario);
  return scenario;
}

std::vector<fs::path> ListScenarioFiles(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file() && entry.path().extension() == ".scenario") {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace zel::engine::scenarios
