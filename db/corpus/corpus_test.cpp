// Runs the statement corpus: every entry of the *.corpus files beside this file is one
// test. An entry works on a fresh embedded server (databases Att, Att_1399, Att_1400 and
// ZELLog with the product's tables and the seed rows), runs its setup, its statements
// (named parameters bound through zel::db::Dataset, as the modules do) and its dataset
// edits, and compares the rows returned or the table contents after.
//
// File format (a line starting with one of these directives opens a new part; every other
// line belongs to the block of the directive before it):
//   @entry <Name>                  a new entry (letters, digits and "_")
//   @database <name>               default database of its steps ("" = server level)
//   @pending <reason>              the engine cannot run it yet: skipped with the reason
//   @setup [db=X]                  block of T-SQL batches separated by "GO" lines
//   @setup-file <file> [db=X]      the batches of a file beside the corpus files
//   @statement [db=X] [ignore-errors] [crlf]   block: the statement text, one line per
//                                  line (crlf: one text whose lines end in "\r\n")
//   @dataset [db=X] [table=T]      block: query text of a dataset (none with table=)
//   @param <Name> <type> = <value> type: smallint, integer, bit, real, string, string(N)
//   @locate <Column> = <value> | @sort <order> | @edit | @append | @set <Col> = <value>
//   | @post | @cancel | @next       dataset actions, in order
//   @expect-rows [unordered]       block: "col | col" header, then one row per line
//   @expect-value <value>          the statement returns one row whose first value is
//                                  <value> by type and exactly: NULL, an integer (42, -3),
//                                  a real (2.5) or a text in quotes (trailing blanks count)
//   @expect-error [exact] <text>   the statement fails with a message containing <text>
//                                  (exact: the whole message)
//   @check [db=X] [unordered] <SELECT ...>   then a block like @expect-rows
// Cells: NULL, 'quoted text' ('' for a quote), * (any value but NULL; a whole column of
// them), or bare text. Text
// compares with trailing blanks ignored (char columns pad); leading blanks count. Expected
// columns are looked up by name, so a header may name a subset of the columns; "#N" names
// the N-th column (for columns without a name). Lines starting with "--" after a directive
// without a block are comments.
//
// Environment: ZEL_CORPUS_RUN_PENDING=1 runs pending entries too (and reports whether they
// pass); ZEL_CORPUS_KEEP=1 keeps the temporary server folders.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/client.h"
#include "schema/schema.h"
#include "testing/temp_server.h"
#include "util/parse_int.h"
#include "util/text.h"

namespace zel::db {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------
// Corpus model

struct Cell {
  bool is_null = false;
  bool any = false;     // "*": any value but NULL
  bool quoted = false;  // written in quotes: always text
  std::string text;
};

struct Expectation {
  bool present = false;
  bool unordered = false;
  std::vector<std::string> header;
  std::vector<std::vector<Cell>> rows;
};

struct ParamLine {
  std::string name;
  ParamType type = ParamType::Unknown;
  int size = 0;
  Cell value;
};

struct Action {
  std::string verb;  // locate, sort, edit, append, set, post, cancel, next
  std::string column;
  Cell value;
  std::string text;
};

struct Step {
  enum class Kind { Setup, SetupFile, Statement, Dataset, Check } kind = Kind::Setup;
  int line = 0;
  std::optional<std::string> db;  // unset: the entry's database
  bool ignore_errors = false;
  bool crlf = false;               // the lines form one text joined by "\r\n"
  std::string table;               // dataset on a table
  std::string file;                // setup-file
  std::vector<std::string> lines;  // SQL text
  std::vector<ParamLine> params;
  std::vector<Action> actions;
  Expectation expect;
  std::optional<Value> expect_value;  // @expect-value
  std::optional<std::string> expect_error;
  bool error_exact = false;  // the whole message, not a part
};

struct Entry {
  std::string name;
  std::string file;
  int line = 0;
  std::string database;
  std::string pending;
  std::vector<Step> steps;
};

std::string RTrim(const std::string& s) { return util::TrimRight(s, " \t\r"); }

std::string Lower(const std::string& s) { return util::LowerAscii(s); }

Cell ParseCell(const std::string& raw) {
  std::string t = util::TrimChars(raw, " \t\r");
  Cell c;
  if (t == "NULL") {
    c.is_null = true;
  } else if (t == "*") {
    c.any = true;
  } else if (t.size() >= 2 && t.front() == '\'' && t.back() == '\'') {
    c.quoted = true;
    std::string inner = t.substr(1, t.size() - 2);
    for (size_t i = 0; i < inner.size(); ++i) {
      c.text += inner[i];
      if (inner[i] == '\'' && i + 1 < inner.size() && inner[i + 1] == '\'') ++i;
    }
  } else {
    c.text = t;
  }
  return c;
}

// Splits a row line at "|" outside single quotes.
std::vector<std::string> SplitRow(const std::string& line) {
  std::vector<std::string> cells;
  std::string cur;
  bool quoted = false;
  for (char ch : line) {
    if (ch == '\'') quoted = !quoted;
    if (ch == '|' && !quoted) {
      cells.push_back(cur);
      cur.clear();
    } else {
      cur += ch;
    }
  }
  cells.push_back(cur);
  return cells;
}

class ParseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

const char* const kDirectives[] = {
    "entry",  "database", "pending",     "setup-file",   "setup",        "statement", "dataset",
    "param",  "locate",   "sort",        "edit",         "append",       "set",       "post",
    "cancel", "next",     "expect-rows", "expect-value", "expect-error", "check"};

// "@word rest" when word is a directive; empty word otherwise.
std::pair<std::string, std::string> Directive(const std::string& line) {
  if (line.empty() || line[0] != '@') return {};
  size_t end = line.find_first_of(" \t", 1);
  std::string word = Lower(line.substr(1, end == std::string::npos ? std::string::npos : end - 1));
  for (const char* d : kDirectives) {
    if (word == d)
      return {word, end == std::string::npos ? "" : util::TrimChars(line.substr(end), " \t\r")};
  }
  return {};
}

// Reads leading options "db=X", "table=T", "ignore-errors", "unordered"; returns the rest.
std::string TakeOptions(std::string rest, Step& step, bool* unordered) {
  for (;;) {
    rest = util::TrimChars(rest, " \t\r");
    size_t end = rest.find_first_of(" \t");
    std::string word = rest.substr(0, end);
    if (word.rfind("db=", 0) == 0) {
      step.db = word.substr(3);
    } else if (word.rfind("table=", 0) == 0) {
      step.table = word.substr(6);
    } else if (word == "ignore-errors") {
      step.ignore_errors = true;
    } else if (word == "crlf") {
      step.crlf = true;
    } else if (word == "unordered" && unordered) {
      *unordered = true;
    } else {
      return rest;
    }
    rest = end == std::string::npos ? "" : rest.substr(end);
  }
}

// The value of an @expect-value line: NULL, an integer, a real (digits with a '.') or a text
// in quotes.
Value ParseTypedValue(const std::string& raw) {
  const Cell c = ParseCell(raw);
  if (c.is_null) return Value();
  if (c.quoted) return Value(c.text);
  if (const auto n = util::ParseInt<std::int64_t>(c.text)) return Value(*n);
  const std::string& t = c.text;
  size_t used = 0;
  double real = 0;
  try {
    real = std::stod(t, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != t.size() || t.find('.') == std::string::npos) {
    throw ParseError("@expect-value is NULL, an integer, a real or a quoted text: '" + t + "'");
  }
  return Value(real);
}

ParamLine ParseParam(const std::string& rest) {
  size_t eq = rest.find('=');
  if (eq == std::string::npos) throw ParseError("@param needs '= value'");
  std::istringstream words(rest.substr(0, eq));
  ParamLine p;
  std::string type;
  words >> p.name >> type;
  type = Lower(type);
  if (type == "smallint") {
    p.type = ParamType::SmallInt;
  } else if (type == "integer" || type == "int") {
    p.type = ParamType::Integer;
  } else if (type == "bit") {
    p.type = ParamType::Bit;
  } else if (type == "real") {
    p.type = ParamType::Real;
  } else if (type.rfind("string", 0) == 0) {
    p.type = ParamType::String;
    size_t open = type.find('(');
    if (open != std::string::npos) p.size = std::stoi(type.substr(open + 1));
  } else {
    throw ParseError("@param " + p.name + ": unknown type '" + type + "'");
  }
  p.value = ParseCell(rest.substr(eq + 1));
  return p;
}

void ParseExpectationBlock(const std::vector<std::string>& block, Expectation& e) {
  e.present = true;
  for (const auto& raw : block) {
    std::string line = util::TrimChars(raw, " \t\r");
    if (line.empty() || line.rfind("--", 0) == 0) continue;
    auto cells = SplitRow(line);
    if (e.header.empty()) {
      for (auto& c : cells) e.header.push_back(util::TrimChars(c, " \t\r"));
      continue;
    }
    if (cells.size() != e.header.size()) {
      throw ParseError("row has " + std::to_string(cells.size()) + " cells, header " +
                       std::to_string(e.header.size()) + ": " + line);
    }
    std::vector<Cell> row;
    for (auto& c : cells) row.push_back(ParseCell(c));
    e.rows.push_back(std::move(row));
  }
  if (e.header.empty()) throw ParseError("expected rows need a header line");
}

std::vector<Entry> ParseCorpus(const std::string& file, std::istream& in) {
  std::vector<Entry> entries;
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(l);
  }
  size_t i = 0;
  auto block = [&]() {
    std::vector<std::string> out;
    while (i < lines.size() && Directive(lines[i]).first.empty()) out.push_back(lines[i++]);
    while (!out.empty() && util::TrimChars(out.back(), " \t\r").empty()) out.pop_back();
    return out;
  };
  // Anything before the first entry is the file's own commentary.
  while (i < lines.size() && Directive(lines[i]).first != "entry") ++i;
  Step* last_run = nullptr;  // statement or dataset that params and expectations attach to
  while (i < lines.size()) {
    int line_no = static_cast<int>(i) + 1;
    auto [word, rest] = Directive(lines[i++]);
    auto where = [&] { return file + ":" + std::to_string(line_no) + ": "; };
    try {
      if (word == "entry") {
        Entry e;
        e.name = rest;
        e.file = file;
        e.line = line_no;
        if (e.name.empty() || !std::all_of(e.name.begin(), e.name.end(), [](unsigned char c) {
              return std::isalnum(c) || c == '_';
            })) {
          throw ParseError("entry names are letters, digits and '_': '" + rest + "'");
        }
        entries.push_back(std::move(e));
        last_run = nullptr;
        block();  // free text under the entry line is its description
        continue;
      }
      if (entries.empty()) throw ParseError("@" + word + " before the first @entry");
      Entry& e = entries.back();
      if (word == "database") {
        e.database = rest;
      } else if (word == "pending") {
        e.pending = rest.empty() ? "pending" : rest;
      } else if (word == "setup" || word == "statement" || word == "dataset" ||
                 word == "setup-file") {
        Step s;
        s.line = line_no;
        std::string left = TakeOptions(rest, s, nullptr);
        if (word == "setup-file") {
          s.kind = Step::Kind::SetupFile;
          std::istringstream w(left);
          w >> s.file;
          TakeOptions(left.substr(std::min(left.size(), s.file.size())), s, nullptr);
        } else if (!left.empty()) {
          throw ParseError("unexpected text after @" + word + ": " + left);
        }
        if (word == "setup") s.kind = Step::Kind::Setup;
        if (word == "statement") s.kind = Step::Kind::Statement;
        if (word == "dataset") s.kind = Step::Kind::Dataset;
        s.lines = block();
        if (s.kind != Step::Kind::SetupFile && s.lines.empty() && s.table.empty()) {
          throw ParseError("@" + word + " without text");
        }
        e.steps.push_back(std::move(s));
        last_run = (word == "statement" || word == "dataset") ? &e.steps.back() : nullptr;
        continue;
      } else if (word == "check") {
        Step s;
        s.kind = Step::Kind::Check;
        s.line = line_no;
        std::string sql = TakeOptions(rest, s, &s.expect.unordered);
        if (sql.empty()) throw ParseError("@check needs a query");
        s.lines.push_back(sql);
        ParseExpectationBlock(block(), s.expect);
        e.steps.push_back(std::move(s));
        last_run = nullptr;
        continue;
      } else if (word == "expect-rows" || word == "expect-value" || word == "expect-error" ||
                 word == "param") {
        if (!last_run) throw ParseError("@" + word + " must follow @statement or @dataset");
        if (word == "param") {
          last_run->params.push_back(ParseParam(rest));
        } else if (word == "expect-error") {
          std::string text = rest;
          if (text.rfind("exact ", 0) == 0) {
            last_run->error_exact = true;
            text = util::TrimChars(text.substr(6), " \t\r");
          }
          if (text.empty()) throw ParseError("@expect-error needs a text");
          last_run->expect_error = text;
        } else if (word == "expect-value") {
          if (last_run->kind != Step::Kind::Statement || last_run->expect.present) {
            throw ParseError("@expect-value is for statements without @expect-rows");
          }
          if (rest.empty()) throw ParseError("@expect-value needs a value");
          last_run->expect_value = ParseTypedValue(rest);
        } else {
          if (last_run->expect_value) throw ParseError("@expect-rows after @expect-value");
          if (last_run->kind != Step::Kind::Statement)
            throw ParseError("@expect-rows is for statements");
          last_run->expect.unordered = util::TrimChars(rest, " \t\r") == "unordered";
          ParseExpectationBlock(block(), last_run->expect);
          continue;
        }
      } else {  // dataset actions
        if (!last_run || last_run->kind != Step::Kind::Dataset) {
          throw ParseError("@" + word + " must follow @dataset");
        }
        Action a;
        a.verb = word;
        if (word == "locate" || word == "set") {
          size_t eq = rest.find('=');
          if (eq == std::string::npos) throw ParseError("@" + word + " needs 'Column = value'");
          a.column = util::TrimChars(rest.substr(0, eq), " \t\r");
          a.value = ParseCell(rest.substr(eq + 1));
        } else if (word == "sort") {
          a.text = rest;
        }
        last_run->actions.push_back(std::move(a));
      }
      // Directives without a block: nothing but blank lines and "--" comments may follow.
      for (const auto& l : block()) {
        const std::string line = util::TrimChars(l, " \t\r");
        if (!line.empty() && line.rfind("--", 0) != 0) {
          throw ParseError("unexpected line after @" + word + ": " + l);
        }
      }
    } catch (const ParseError& err) {
      throw ParseError(where() + err.what());
    } catch (const std::exception& err) {
      throw ParseError(where() + err.what());
    }
  }
  return entries;
}

std::string CorpusDir() { return ZEL_CORPUS_DIR; }

struct Corpus {
  std::vector<Entry> entries;
  std::string error;  // a parse error: reported by the CorpusFiles test
};

const Corpus& LoadCorpus() {
  static const Corpus corpus = [] {
    Corpus c;
    try {
      std::vector<fs::path> files;
      for (const auto& f : fs::directory_iterator(CorpusDir())) {
        if (f.path().extension() == ".corpus") files.push_back(f.path());
      }
      std::sort(files.begin(), files.end());
      std::map<std::string, std::string> seen;
      for (const auto& f : files) {
        std::ifstream in(f);
        for (auto& e : ParseCorpus(f.filename().string(), in)) {
          if (seen.count(e.name)) {
            throw ParseError(e.file + ":" + std::to_string(e.line) + ": entry " + e.name +
                             " also in " + seen[e.name]);
          }
          seen[e.name] = e.file;
          c.entries.push_back(std::move(e));
        }
      }
    } catch (const std::exception& err) {
      c.error = err.what();
      c.entries.clear();
    }
    return c;
  }();
  return corpus;
}

// ---------------------------------------------------------------------------------------
// The temporary server

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + p.string());
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::unique_ptr<Connection> OpenAt(const fs::path& dir, const std::string& database) {
  return zel::testing::OpenDatabase(dir, database);
}

void RunBatches(Connection& c, std::string_view script, const std::string& what) {
  for (const auto& batch : SplitBatches(script)) {
    try {
      c.Execute(batch);
    } catch (const std::exception& e) {
      throw std::runtime_error(what + ": " + e.what() + "\nin batch:\n" + batch);
    }
  }
}

bool EnvSet(const char* name) {
  const char* v = std::getenv(name);
  return v && *v && std::string(v) != "0";
}

// Databases Att (base), Att_1399 and Att_1400 (years) and ZELLog with the product's tables
// and the seed rows. Built once and kept in the temporary folder under a name made from
// the scripts, the seed files and this test program, so the test processes that ctest
// starts one per entry share it; every entry works in a test home holding a copy of its
// Data folder.
struct ServerTemplate {
  fs::path dir;  // holds Data/ and the ready mark
  std::string error;
};

const char kReadyMark[] = "corpus-template-ready";

std::string TemplateKey() {
  std::string material;
  material.append(BaseSchemaSql()).append(YearSchemaSql()).append(LogSchemaSql());
  for (const char* seed : {"seed_base.sql", "seed_1399.sql", "seed_1400.sql"}) {
    material += ReadFile(fs::path(CorpusDir()) / seed);
  }
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    material += exe.string();
    material += std::to_string(fs::file_size(exe, ec));
    material += std::to_string(fs::last_write_time(exe, ec).time_since_epoch().count());
  }
  std::ostringstream key;
  key << std::hex << std::hash<std::string>{}(material);
  return key.str();
}

void BuildServer(const fs::path& dir) {
  fs::create_directories(dir);
  {
    auto server = OpenAt(dir, "");
    for (const char* db : {"Att", "Att_1399", "Att_1400", "ZELLog"}) {
      server->Execute(std::string("CREATE DATABASE ") + db);
    }
  }
  struct Load {
    const char* db;
    std::string_view script;
    const char* seed;
  } loads[] = {{"Att", BaseSchemaSql(), "seed_base.sql"},
               {"Att_1399", YearSchemaSql(), "seed_1399.sql"},
               {"Att_1400", YearSchemaSql(), "seed_1400.sql"},
               {"ZELLog", LogSchemaSql(), nullptr}};
  for (const auto& l : loads) {
    auto c = OpenAt(dir, l.db);
    RunBatches(*c, l.script, std::string("schema of ") + l.db);
    if (l.seed) RunBatches(*c, ReadFile(fs::path(CorpusDir()) / l.seed), l.seed);
  }
}

// Templates of earlier builds of this program, unused for an hour, go.
void RemoveStaleTemplates(const fs::path& keep) {
  std::error_code ec;
  auto now = fs::file_time_type::clock::now();
  for (const auto& f : fs::directory_iterator(keep.parent_path(), ec)) {
    const fs::path& p = f.path();
    if (p == keep || p.filename().string().rfind("zel_corpus_server_", 0) != 0) continue;
    auto age = now - fs::last_write_time(p, ec);
    if (!ec && age > std::chrono::hours(1)) fs::remove_all(p, ec);
  }
}

ServerTemplate BuildTemplate() {
  ServerTemplate st;
  try {
    fs::path cache = fs::temp_directory_path() / ("zel_corpus_server_" + TemplateKey());
    if (fs::exists(cache / kReadyMark)) {
      st.dir = cache;
      return st;
    }
    RemoveStaleTemplates(cache);
    fs::path work = zel::testing::NewTempFolder("corpus_template");
    try {
      BuildServer(work / "Data");
      std::ofstream(work / kReadyMark) << "ready\n";
    } catch (...) {
      fs::remove_all(work);
      throw;
    }
    std::error_code ec;
    fs::rename(work, cache, ec);  // fails when another process got there first
    if (ec) fs::remove_all(work);
    if (!fs::exists(cache / kReadyMark))
      throw std::runtime_error("cannot keep the server in " + cache.string());
    st.dir = cache;
  } catch (const std::exception& e) {
    st.error = e.what();
  }
  return st;
}

const ServerTemplate& Template() {
  static const ServerTemplate st = BuildTemplate();
  return st;
}

// ---------------------------------------------------------------------------------------
// Running one entry

Value ToValue(const ParamLine& p) {
  if (p.value.is_null) return Value();
  switch (p.type) {
    case ParamType::SmallInt:
    case ParamType::Integer:
    case ParamType::Bit:
      return Value(static_cast<std::int64_t>(std::stoll(p.value.text)));
    case ParamType::Real:
      return Value(std::stod(p.value.text));
    default:
      return Value(p.value.text);
  }
}

// A cell value for SetField / Locate: bare numbers become integers, the rest text.
Value CellValue(const Cell& c) {
  if (c.is_null) return Value();
  if (c.quoted) return Value(c.text);
  const std::string& t = c.text;
  bool number = !t.empty() && std::all_of(t.begin() + (t[0] == '-' ? 1 : 0), t.end(),
                                          [](unsigned char ch) { return std::isdigit(ch); });
  if (number && t != "-") return Value(static_cast<std::int64_t>(std::stoll(t)));
  return Value(t);
}

std::string Show(const Cell& c) { return c.is_null ? "NULL" : "'" + c.text + "'"; }

// A value with its type, as @expect-value writes it.
std::string ShowTyped(const Value& v) {
  switch (v.type()) {
    case DataType::Null:
      return "NULL";
    case DataType::Text:
      return "'" + v.AsString() + "' (text)";
    case DataType::Integer:
      return v.AsString() + " (integer)";
    case DataType::Real:
      return v.AsString() + " (real)";
  }
  return v.AsString();
}

// Whether a statement's error message is the one expected.
bool ErrorMatches(const std::string& message, const Step& s) {
  if (s.error_exact) return message == *s.expect_error;
  return Lower(message).find(Lower(*s.expect_error)) != std::string::npos;
}

// Compares rows against the expectation; returns an empty text when they agree.
std::string Compare(const std::vector<std::string>& columns,
                    const std::vector<std::vector<Value>>& rows, const Expectation& e) {
  std::vector<int> index;
  for (const auto& h : e.header) {
    int found = -1;
    if (h.size() > 1 && h[0] == '#' &&
        std::all_of(h.begin() + 1, h.end(), [](unsigned char c) { return std::isdigit(c); })) {
      int n = std::stoi(h.substr(1));
      if (n >= 1 && n <= static_cast<int>(columns.size())) found = n - 1;
    }
    for (size_t i = 0; found < 0 && i < columns.size(); ++i) {
      if (Lower(columns[i]) == Lower(h)) {
        found = static_cast<int>(i);
        break;
      }
    }
    if (found < 0) {
      std::string have;
      for (const auto& c : columns) have += (have.empty() ? "" : ", ") + c;
      return "no column '" + h + "' in the result (columns: " + have + ")";
    }
    index.push_back(found);
  }
  auto render_expected = [&](const std::vector<Cell>& row) {
    std::string s;
    for (size_t k = 0; k < row.size(); ++k) {
      std::string cell = row[k].is_null ? "NULL"
                         : row[k].any   ? "*"
                                        : "'" + RTrim(row[k].text) + "'";
      s += (k ? " | " : "") + cell;
    }
    return s;
  };
  // Columns whose expected cells are all "*" show any non-NULL actual value as "*".
  std::vector<bool> any_column(index.size(), !e.rows.empty());
  for (const auto& r : e.rows) {
    for (size_t k = 0; k < r.size(); ++k) any_column[k] = any_column[k] && r[k].any;
  }
  auto render_actual = [&](const std::vector<Value>& row) {
    std::string s;
    for (size_t k = 0; k < index.size(); ++k) {
      const Value& v = row[index[k]];
      std::string cell = v.IsNull()      ? "NULL"
                         : any_column[k] ? "*"
                                         : "'" + RTrim(v.AsString()) + "'";
      s += (k ? " | " : "") + cell;
    }
    return s;
  };
  std::vector<std::string> got, want;
  for (const auto& r : rows) got.push_back(render_actual(r));
  for (const auto& r : e.rows) want.push_back(render_expected(r));
  if (e.unordered) {
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
  }
  bool same = got.size() == want.size();
  for (size_t i = 0; same && i < got.size(); ++i) same = got[i] == want[i];
  if (same) return "";
  std::string msg = "rows differ\n  expected (" + std::to_string(want.size()) + "):\n";
  for (const auto& w : want) msg += "    " + w + "\n";
  msg += "  actual (" + std::to_string(got.size()) + "):\n";
  for (const auto& g : got) msg += "    " + g + "\n";
  return msg;
}

class EntryRun {
 public:
  EntryRun(const Entry& e, fs::path dir) : entry_(e), dir_(std::move(dir)) {}
  ~EntryRun() { connections_.clear(); }

  Connection& Conn(const Step& s) {
    std::string db = s.db ? *s.db : entry_.database;
    auto& c = connections_[Lower(db)];
    if (!c) c = OpenAt(dir_, db);
    return *c;
  }

  // Runs every step; returns the first failure, or empty when the entry passes.
  std::string Run() {
    for (const auto& s : entry_.steps) {
      std::string where = entry_.file + ":" + std::to_string(s.line) + ": ";
      try {
        std::string failure = RunStep(s);
        if (!failure.empty()) return where + failure;
      } catch (const std::exception& e) {
        return where + "unexpected error: " + e.what();
      }
    }
    return "";
  }

 private:
  std::string RunStep(const Step& s) {
    switch (s.kind) {
      case Step::Kind::Setup: {
        std::string text;
        for (const auto& l : s.lines) text += l + "\n";
        RunBatches(Conn(s), text, "setup");
        return "";
      }
      case Step::Kind::SetupFile:
        RunBatches(Conn(s), ReadFile(fs::path(CorpusDir()) / s.file), s.file);
        return "";
      case Step::Kind::Statement:
        return RunStatement(s);
      case Step::Kind::Dataset:
        return RunDataset(s);
      case Step::Kind::Check: {
        ResultSet r = Conn(s).Execute(s.lines[0]);
        if (!r.has_columns) return "check query returned no result set";
        std::string diff = Compare(r.columns, r.rows, s.expect);
        return diff.empty() ? "" : "check " + s.lines[0] + ": " + diff;
      }
    }
    return "";
  }

  void BindParams(Dataset& ds, const Step& s) {
    for (const auto& p : s.params) {
      Param& bound = ds.ParamByName(p.name);
      bound.type = p.type;
      bound.size = p.size;
      bound.value = ToValue(p);
    }
  }

  static std::vector<std::string> TextLines(const Step& s) {
    if (!s.crlf) return s.lines;
    std::string text;
    for (size_t i = 0; i < s.lines.size(); ++i) text += (i ? "\r\n" : "") + s.lines[i];
    return {text};
  }

  std::string RunStatement(const Step& s) {
    Dataset ds(Conn(s));
    ds.SetSQL(TextLines(s));
    BindParams(ds, s);
    try {
      if (s.expect_value) {
        ds.Open();
        std::vector<Value> firsts;
        for (ds.First(); !ds.Eof(); ds.Next())
          firsts.push_back(ds.FieldCount() ? ds.Field(0) : Value());
        if (s.expect_error) return "statement succeeded, expected an error: " + *s.expect_error;
        if (firsts.size() != 1)
          return "statement returned " + std::to_string(firsts.size()) + " rows, expected one";
        if (firsts[0] == *s.expect_value) return "";
        return "statement value " + ShowTyped(firsts[0]) + ", expected " +
               ShowTyped(*s.expect_value);
      }
      if (s.expect.present) {
        ds.Open();
        std::vector<std::vector<Value>> rows;
        for (ds.First(); !ds.Eof(); ds.Next()) {
          std::vector<Value> row;
          for (int i = 0; i < ds.FieldCount(); ++i) row.push_back(ds.Field(i));
          rows.push_back(std::move(row));
        }
        if (s.expect_error)
          return "statement succeeded, expected an error containing: " + *s.expect_error;
        std::string diff = Compare(ds.FieldNames(), rows, s.expect);
        return diff.empty() ? "" : "statement rows: " + diff;
      }
      ds.ExecSQL();
    } catch (const std::exception& e) {
      if (s.expect_error) {
        if (ErrorMatches(e.what(), s)) return "";
        return std::string("statement failed with '") + e.what() + "', expected a message " +
               (s.error_exact ? "'" : "containing '") + *s.expect_error + "'";
      }
      if (s.ignore_errors) return "";
      throw;
    }
    if (s.expect_error)
      return "statement succeeded, expected an error containing: " + *s.expect_error;
    return "";
  }

  std::string RunDataset(const Step& s) {
    Dataset ds(Conn(s));
    if (!s.table.empty()) {
      ds.SetTableName(s.table);
    } else {
      ds.SetSQL(TextLines(s));
      BindParams(ds, s);
    }
    ds.Open();
    for (const auto& a : s.actions) {
      if (a.verb == "locate") {
        if (!ds.Locate(a.column, CellValue(a.value)))
          return "no row with " + a.column + " = " + Show(a.value);
      } else if (a.verb == "sort") {
        ds.Sort(a.text);
      } else if (a.verb == "edit") {
        if (ds.Eof()) return "nothing to edit: the dataset is empty";
        ds.Edit();
      } else if (a.verb == "append") {
        ds.Append();
      } else if (a.verb == "set") {
        ds.SetField(a.column, CellValue(a.value));
      } else if (a.verb == "post") {
        try {
          ds.Post();
        } catch (const std::exception& e) {
          if (s.expect_error && ErrorMatches(e.what(), s)) return "";
          throw;
        }
      } else if (a.verb == "cancel") {
        ds.Cancel();
      } else if (a.verb == "next") {
        ds.Next();
      }
    }
    if (s.expect_error) return "dataset posted, expected an error containing: " + *s.expect_error;
    return "";
  }

  const Entry& entry_;
  fs::path dir_;
  std::map<std::string, std::unique_ptr<Connection>> connections_;
};

// ---------------------------------------------------------------------------------------
// Tests

TEST(CorpusFiles, ParseAndListPendingEntries) {
  const Corpus& c = LoadCorpus();
  ASSERT_TRUE(c.error.empty()) << c.error;
  ASSERT_FALSE(c.entries.empty());
  int pending = 0;
  std::string list;
  for (const auto& e : c.entries) {
    if (!e.pending.empty()) {
      ++pending;
      list += "  " + e.name + " (" + e.file + "): " + e.pending + "\n";
    }
  }
  std::printf("%zu corpus entries, %d pending\n%s", c.entries.size(), pending, list.c_str());
}

// gtest shows a parameter by this; the test name already carries the entry's name.
void PrintTo(const Entry& e, std::ostream* os) { *os << e.file << ":" << e.line; }

class CorpusEntry : public ::testing::TestWithParam<Entry> {};

TEST_P(CorpusEntry, Runs) {
  const Entry& e = GetParam();
  bool run_pending = EnvSet("ZEL_CORPUS_RUN_PENDING");
  if (!e.pending.empty() && !run_pending) GTEST_SKIP() << "pending: " << e.pending;
  const ServerTemplate& t = Template();
  std::string failure;
  if (!t.error.empty()) {
    failure = "the server could not be prepared: " + t.error;
  } else {
    const zel::testing::TempHome home(zel::testing::CopyOf{t.dir / "Data"},
                                      EnvSet("ZEL_CORPUS_KEEP"));
    EntryRun run(e, home.DataDir());
    failure = run.Run();
  }
  if (!e.pending.empty()) {
    GTEST_SKIP() << "pending: " << e.pending
                 << "\n  now: " << (failure.empty() ? "PASSES, remove the mark" : failure);
  }
  EXPECT_TRUE(failure.empty()) << e.file << ":" << e.line << " " << e.name << "\n" << failure;
}

std::vector<Entry> AllEntries() { return LoadCorpus().entries; }

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusEntry, ::testing::ValuesIn(AllEntries()),
                         [](const ::testing::TestParamInfo<Entry>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace zel::db
