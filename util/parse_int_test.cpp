#include "util/parse_int.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace zel::util {
namespace {

TEST(ParseInt, WholeTextMustBeAnIntegerThatFits) {
  const struct {
    std::string_view text;
    PlusSign plus;
    std::optional<int> want;
  } cases[] = {
      {"0", PlusSign::kRefused, 0},
      {"1403", PlusSign::kRefused, 1403},
      {"-12", PlusSign::kRefused, -12},
      {"007", PlusSign::kRefused, 7},
      {"+5", PlusSign::kRefused, std::nullopt},
      {"+5", PlusSign::kAccepted, 5},
      {"+-5", PlusSign::kAccepted, std::nullopt},
      {"++5", PlusSign::kAccepted, std::nullopt},
      {"+", PlusSign::kAccepted, std::nullopt},
      {"-", PlusSign::kRefused, std::nullopt},
      {"", PlusSign::kRefused, std::nullopt},
      {" 5", PlusSign::kRefused, std::nullopt},
      {"5 ", PlusSign::kRefused, std::nullopt},
      {"12a", PlusSign::kRefused, std::nullopt},
      {"0x1A", PlusSign::kRefused, std::nullopt},
      {"1.5", PlusSign::kRefused, std::nullopt},
      {"2147483647", PlusSign::kRefused, 2147483647},
      {"2147483648", PlusSign::kRefused, std::nullopt},
      {"-2147483648", PlusSign::kRefused, INT32_MIN},
      {"۱۲", PlusSign::kRefused, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseInt<int>(c.text, c.plus), c.want) << c.text;
}

TEST(ParseInt, RangeFollowsTheType) {
  EXPECT_EQ(ParseInt<std::int64_t>("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(ParseInt<std::int64_t>("9223372036854775808"), std::nullopt);
  EXPECT_EQ(ParseInt<std::uint8_t>("255"), 255);
  EXPECT_EQ(ParseInt<std::uint8_t>("256"), std::nullopt);
  EXPECT_EQ(ParseInt<unsigned>("-1"), std::nullopt);
}

}  // namespace
}  // namespace zel::util
