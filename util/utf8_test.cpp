#include "util/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zel::util {
namespace {

std::vector<char32_t> Decode(const std::string& s) {
  std::vector<char32_t> out;
  auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const unsigned char* end = p + s.size();
  while (p < end) out.push_back(DecodeUtf8(p, end));
  return out;
}

constexpr char32_t Bad(unsigned char b) { return kUtf8InvalidBase + b; }

TEST(Utf8, DecodesWellFormedAndReadsEveryIllFormedByteOnItsOwn) {
  struct Case {
    std::string bytes;
    std::vector<char32_t> code_points;
  };
  const Case cases[] = {
      {"a~", {U'a', U'~'}},
      {"\xD8\xB9\xD9\x84\xDB\x8C", {0x0639, 0x0644, 0x06CC}},  // علی
      {"\xE2\x82\xAC", {0x20AC}},
      {"\xF0\x9F\x98\x80", {0x1F600}},
      {"\xF4\x8F\xBF\xBF", {0x10FFFF}},
      {"\xC0\x80", {Bad(0xC0), Bad(0x80)}},                                // overlong
      {"\xED\xA0\x80", {Bad(0xED), Bad(0xA0), Bad(0x80)}},                 // surrogate
      {"\xF4\x90\x80\x80", {Bad(0xF4), Bad(0x90), Bad(0x80), Bad(0x80)}},  // above U+10FFFF
      {"\xE2\x82", {Bad(0xE2), Bad(0x82)}},                                // cut short
      {"\xE2x\xAC", {Bad(0xE2), U'x', Bad(0xAC)}},                         // broken sequence
      {"\xFF", {Bad(0xFF)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(Decode(c.bytes), c.code_points);
    std::string back;
    for (char32_t cp : c.code_points) AppendUtf8(back, cp);
    EXPECT_EQ(back, c.bytes);
  }
}

TEST(Utf8, ContinuationBytesAreTenXxxxxx) {
  EXPECT_TRUE(IsUtf8Continuation('\x80'));
  EXPECT_TRUE(IsUtf8Continuation('\xBF'));
  EXPECT_FALSE(IsUtf8Continuation('\x7F'));
  EXPECT_FALSE(IsUtf8Continuation('\xC0'));
  EXPECT_FALSE(IsUtf8Continuation(static_cast<unsigned char>('a')));
}

}  // namespace
}  // namespace zel::util
