// A seeded random driver in place of a fuzzer (GCC has no libFuzzer): the statements of the
// corpus, mutated (spans cut or repeated, parentheses, NOT, quotes, comments, huge sizes
// inserted), run through the parser, translator and interpreter of the embedded engine, and
// date and time texts mutated through the date parsers. A fixed seed and a fixed number of
// cases, so a failure repeats; a case passes when it ends with the engine's own error or
// none, never with a crash or another exception.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "dates/date_parser.h"
#include "dates/zel_calc_utils.h"
#include "db/embedded/embedded.h"
#include "schema/schema.h"

namespace zel::db {
namespace {

namespace fs = std::filesystem;

constexpr int kStatementCases = 3000;
constexpr int kDateCases = 20000;

// The statements of every corpus file (the lines after "@statement" up to the next "@").
std::vector<std::string> CorpusStatements() {
  std::vector<std::string> statements;
  for (const auto& entry : fs::directory_iterator(ZEL_CORPUS_DIR)) {
    if (entry.path().extension() != ".corpus") continue;
    std::ifstream in(entry.path());
    std::string line, current;
    bool inside = false;
    while (std::getline(in, line)) {
      if (!line.empty() && line[0] == '@') {
        if (inside && !current.empty()) statements.push_back(current);
        current.clear();
        inside = line == "@statement";
        continue;
      }
      if (inside) current += line + "\n";
    }
    if (inside && !current.empty()) statements.push_back(current);
  }
  return statements;
}

std::string Mutate(std::string text, std::mt19937& random) {
  // clang-format off
  static const char* const kInserts[] = {
      "(", ")", " NOT ", "'", "''", "--", "/*", "*/", "[", "]", ",", " SELECT ", " + ", " ;",
      " BEGIN ", " END ", " CAST(1 AS char(99999999999)) ", " @x ", " :P ", "\n GO \n",
      " N'ف' ", " 1e999 ", " 99999999999999999999 ", " CASE WHEN ", " UNION ALL ", "\""};
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n)(random); };
  const int mutations = 1 + static_cast<int>(pick(3));
  for (int m = 0; m < mutations; ++m) {
    const std::size_t at = pick(text.size());
    switch (pick(5)) {
      case 0: {  // cut a span
        const std::size_t length = std::min(pick(20), text.size() - at);
        text.erase(at, length);
        break;
      }
      case 1: {  // repeat a span
        const std::size_t length = std::min(pick(30), text.size() - at);
        text.insert(at, text.substr(at, length));
        break;
      }
      case 2:
        text.insert(at, kInserts[pick(std::size(kInserts) - 1)]);
        break;
      case 3:  // one byte changed
        if (!text.empty()) text[std::min(at, text.size() - 1)] = static_cast<char>(pick(255));
        break;
      case 4:  // deep nesting
        text.insert(at, std::string(pick(400), '('));
        break;
      default:
        text.insert(at, std::string(pick(300), ' ') + "NOT NOT NOT ");
        break;
    }
  }
  return text;
}

TEST(FuzzTest, MutatedCorpusStatementsEndWithTheEnginesOwnErrors) {
  const std::vector<std::string> seeds = CorpusStatements();
  ASSERT_GT(seeds.size(), 50u);
  const fs::path dir = fs::temp_directory_path() / ("zel_fuzz_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  ConnectionSettings settings;
  settings.data_dir = dir.string();
  {
    auto server = OpenEmbedded(settings);
    server->Execute("CREATE DATABASE Att");
    server->Execute("CREATE DATABASE Att_1399");
  }
  settings.database = "Att";
  {
    auto base = OpenEmbedded(settings);
    for (const auto& batch : SplitBatches(BaseSchemaSql())) base->Execute(batch);
  }
  auto connection = OpenEmbedded(settings);
  std::mt19937 random(20261210);
  int engine_errors = 0;
  for (int i = 0; i < kStatementCases; ++i) {
    const std::string text = Mutate(seeds[random() % seeds.size()], random);
    try {
      // Parameters the statement may name get one value each, of no particular type.
      std::vector<Param> params(8, Param{"", ParamType::Unknown, 0, Value("05/10")});
      connection->Execute(text, params, 5);
    } catch (const DbError&) {
      ++engine_errors;
    } catch (const std::exception& e) {
      ADD_FAILURE() << "case " << i << ": " << e.what() << "\n" << text.substr(0, 400);
    }
  }
  EXPECT_GT(engine_errors, kStatementCases / 2);  // the mutations do break most statements
  connection.reset();
  fs::remove_all(dir);
}

TEST(FuzzTest, MutatedDatesAndTimesAreReadOrRefused) {
  const char* const seeds[] = {"1399/05/10", "05/10", "99/05/10", "12:30", "12:30:45", "125:30",
                               "1399/12/30", "00:00"};
  std::mt19937 random(1210);
  const std::string alphabet = "0123456789/:- x\xd9";
  for (int i = 0; i < kDateCases; ++i) {
    std::string text = seeds[random() % std::size(seeds)];
    const int changes = 1 + static_cast<int>(random() % 3);
    for (int c = 0; c < changes; ++c) {
      const std::size_t at = text.empty() ? 0 : random() % (text.size() + 1);
      switch (random() % 3) {
        case 0:
          if (at < text.size()) text.erase(at, 1);
          break;
        case 1:
          text.insert(at, 1, alphabet[random() % alphabet.size()]);
          break;
        default:
          if (at < text.size()) text[at] = alphabet[random() % alphabet.size()];
          break;
      }
    }
    // Each reader either gives a value or refuses with an exception; none may crash.
    auto tolerate = [&](auto read) {
      try {
        read();
      } catch (const std::exception&) {
        // a refusal is an answer: only a crash fails the test
      }
    };
    using dates::TZELDateParser;
    tolerate([&] { TZELDateParser::GetMonthOfDate(text); });
    tolerate([&] { TZELDateParser::GetDayOfDate(text); });
    tolerate([&] { TZELDateParser::GetMonthOfDate(text, 0); });
    tolerate([&] { TZELDateParser::GetYearOfDate_YYYY_Int(text, 0); });
    tolerate([&] { TZELDateParser::GetHourOfTime_HHNN(text); });
    tolerate([&] { TZELDateParser::GetMinuteOfTime_HHNN(text); });
    tolerate([&] { TZELDateParser::GetHourOfTime_HHNNSS(text); });
    tolerate([&] { dates::TZelCalcUtils::Text2Time(text); });
    tolerate([&] { dates::TZelCalcUtils::Text2Time2(text); });
  }
  SUCCEED();
}

}  // namespace
}  // namespace zel::db

// clang-format on