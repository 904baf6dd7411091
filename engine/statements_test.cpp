#include "engine/statements.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/client.h"
#include "testing/statement_corpus.h"
#include "util/text.h"

namespace zel::engine {
namespace {

// The texts of an entry as the corpus databases and tables fill its marks: one for each
// table a $Table$ stands for.
std::vector<std::string> CorpusTexts(const StatementText& s) {
  std::vector<std::string> texts;
  for (const char* table : {"Morkhasi", "Mission", "ServLate"}) {
    const std::string text = util::Join(
        StatementLines(s, {{"$Base$", "Att"}, {"$Year$", "Att_1399"}, {"$Table$", table}}), "\n");
    if (texts.empty() || texts.back() != text) texts.push_back(text);
  }
  return texts;
}

TEST(Statements, EveryTextStandsInTheCorpusEntryOfItsName) {
  std::map<std::string, std::set<std::string>> corpus;  // entry -> normalised texts
  for (const testing::CorpusStatement& c : testing::LoadCorpusStatements(ZEL_CORPUS_DIR)) {
    corpus[c.entry].insert(testing::NormalizeStatement(c.text));
  }
  std::set<std::string> names;
  for (const StatementText& s : Statements()) {
    EXPECT_TRUE(names.insert(s.name).second) << "twice: " << s.name;
    const std::string name = s.name;
    const std::string entry = name.substr(0, name.find('/'));
    ASSERT_TRUE(corpus.count(entry)) << "no corpus entry " << entry;
    for (const std::string& text : CorpusTexts(s)) {
      EXPECT_EQ(text.find('$'), std::string::npos) << text;
      EXPECT_TRUE(corpus[entry].count(testing::NormalizeStatement(text)))
          << "not in corpus entry " << entry << ":\n"
          << text;
    }
  }
}

TEST(Statements, EveryTextDeclaresItsParameters) {
  for (const StatementText& s : Statements()) {
    std::vector<std::string> names;
    db::ConvertNamedParams(util::Join(StatementLines(s), "\n"), &names);
    // The inserts of meals take their values as they come; every other text declares
    // each of its parameters.
    if (s.params.size() == 0) continue;
    std::set<std::string> declared;
    for (const ParamDecl& p : s.params) declared.insert(util::LowerAscii(p.name));
    for (const std::string& n : names) {
      EXPECT_TRUE(declared.count(util::LowerAscii(n))) << s.name << ": " << n;
    }
  }
}

TEST(Statements, MarksAreFilledEverywhereAndUnknownNamesRaise) {
  const std::vector<std::string> lines = StatementLines(
      StatementNamed("TransportServiceOfTheDay/HalfWays"), {{"$Base$", "B"}, {"$Year$", "B_1405"}});
  EXPECT_EQ(lines.front(), "Select * from B_1405..SRule,B..HalfWays ");
  EXPECT_THROW(StatementNamed("NoSuchEntry"), std::logic_error);
}

}  // namespace
}  // namespace zel::engine
