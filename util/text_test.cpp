#include "util/text.h"

#include <gtest/gtest.h>

namespace zel::util {
namespace {

struct TrimCase {
  std::string text;
  std::string_view chars;
  std::string left, right, both;
};

TEST(Trim, RemovesOnlyTheGivenCharactersAtEachEnd) {
  const TrimCase cases[] = {
      {"  a b  ", kWhitespace, "a b  ", "  a b", "a b"},
      {"\t\r\nx\n", kWhitespace, "x\n", "\t\r\nx", "x"},
      {"\vx\f", kWhitespace, "\vx\f", "\vx\f", "\vx\f"},
      {"\vx\f", kAsciiSpace, "x\f", "\vx", "x"},
      {" \tx\t ", kBlank, "\tx\t ", " \tx\t", "\tx\t"},
      {"   ", kWhitespace, "", "", ""},
      {"", kWhitespace, "", "", ""},
      {" علی ", kWhitespace, "علی ", " علی", "علی"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("[" + c.text + "]");
    EXPECT_EQ(TrimLeftView(c.text, c.chars), c.left);
    EXPECT_EQ(TrimRightView(c.text, c.chars), c.right);
    EXPECT_EQ(TrimView(c.text, c.chars), c.both);
    EXPECT_EQ(TrimChars(c.text, c.chars), c.both);
    EXPECT_EQ(TrimRight(c.text, c.chars), c.right);
  }
}

// A text trimmed away entirely is still a view into it, never a null view: callers hand
// the pointer on (SQLite reads a null text pointer as NULL, not as '').
TEST(Trim, AnEmptyResultPointsIntoTheText) {
  const std::string_view blanks = "   ";
  EXPECT_EQ(TrimLeftView(blanks, kBlank).data(), blanks.data() + 3);
  EXPECT_EQ(TrimRightView(blanks, kBlank).data(), blanks.data());
  EXPECT_NE(TrimView(blanks, kBlank).data(), nullptr);
}

TEST(Trim, ControlsRemovesEveryByteUpToBlankButKeepsMultibyteText) {
  const std::pair<std::string, std::string> cases[] = {
      {std::string("\x01\x1f a\x7f \x02", 7), "a\x7f"},
      {"\t\v\fرضا\r\n", "رضا"},
      {std::string("\0\0", 2), ""},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(TrimControls(text), want);
}

TEST(AsciiCase, ChangesAsciiLettersOnly) {
  EXPECT_EQ(UpperAscii("Calc_1 é ب"), "CALC_1 é ب");
  EXPECT_EQ(LowerAscii("CALC_1 É ب"), "calc_1 É ب");
  const struct {
    std::string_view a, b;
    bool equal;
  } cases[] = {{"Calc", "CALC", true},
               {"calc", "calcs", false},
               {"é", "É", false},
               {"", "", true},
               {"a[", "A{", false}};
  for (const auto& c : cases) EXPECT_EQ(EqualsNoCase(c.a, c.b), c.equal) << c.a << " " << c.b;
}

TEST(Utf8, CountsCutsAndPadsByCodePoints) {
  const struct {
    std::string text;
    std::size_t length;
    std::size_t cut_at;
    std::string cut;
  } cases[] = {
      {"abc", 3, 2, "ab"},    {"سلام", 4, 2, "سل"}, {"aسb", 3, 2, "aس"},
      {"سلام", 4, 9, "سلام"}, {"", 0, 0, ""},       {"سلام", 4, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Utf8Length(c.text), c.length);
    EXPECT_EQ(Utf8Cut(c.text, c.cut_at), c.cut);
  }
  EXPECT_EQ(Utf8PadRight("سل", 4), "سل  ");
  EXPECT_EQ(Utf8PadRight("سلام", 2), "سلام");
}

TEST(Join, LinesEndEachLineSeparatorGoesBetween) {
  EXPECT_EQ(JoinLines({"Select 1", " From T"}), "Select 1\n From T\n");
  EXPECT_EQ(JoinLines({}), "");
  EXPECT_EQ(Join({"a", "b", "c"}, "\r\n"), "a\r\nb\r\nc");
  EXPECT_EQ(Join({"a"}, ", "), "a");
  EXPECT_EQ(Join({}, ", "), "");
}

}  // namespace
}  // namespace zel::util
