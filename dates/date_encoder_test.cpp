#include "dates/date_encoder.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "dates/clock.h"
#include "dates/date_time.h"
#include "util/log_file.h"

namespace zel::dates {
namespace {

// A code of the given key letter.
std::string EncodeWithKey(DateTime date, char key) {
  std::string code;
  do {
    code = TZELDateEncoder::Encode(date);
  } while (code[0] != key);
  return code;
}

TEST(DateEncoder, CodesHaveAKeyLetterAndEightCodeCharacters) {
  std::set<char> keys;
  std::set<std::string> codes;
  const DateTime date = EncodeDate(2021, 3, 20);
  for (int i = 0; i < 500; ++i) {
    const std::string code = TZELDateEncoder::Encode(date);
    ASSERT_EQ(code.size(), 9u);
    ASSERT_GE(code[0], 'A');
    ASSERT_LE(code[0], 'Y');
    keys.insert(code[0]);
    codes.insert(code);
    EXPECT_NE(code.substr(1), "20210320");
  }
  // Random keys: practically every letter shows up, and the codes differ with them.
  EXPECT_GE(keys.size(), 20u);
  EXPECT_GE(codes.size(), 10u);
}

TEST(DateEncoder, RoundTripsEveryDayOverTwoCenturies) {
  for (DateTime date = EncodeDate(1900, 1, 1); date <= EncodeDate(2100, 12, 31); date += 1) {
    const std::string code = TZELDateEncoder::Encode(date + 0.75);
    ASSERT_EQ(TZELDateEncoder::Decode(code), date) << code;
  }
  // Every key letter decodes with its own ordering.
  for (char key = 'A'; key <= 'Y'; ++key) {
    const std::string code = EncodeWithKey(EncodeDate(2024, 12, 31), key);
    EXPECT_EQ(TZELDateEncoder::Decode(code), EncodeDate(2024, 12, 31)) << code;
  }
}

TEST(DateEncoder, WrongCodesRaise) {
  const std::string good = EncodeWithKey(EncodeDate(2021, 3, 20), 'C');
  std::string unknown_character = good;
  unknown_character[3] = '#';
  std::string other_key = good;
  other_key[0] = 'D';
  const std::string cases[] = {"", "ABC", good + "x", unknown_character, "A12345678"};
  for (const std::string& code : cases) {
    EXPECT_THROW(TZELDateEncoder::Decode(code), EConvertError) << code;
  }
  // A changed key reorders the characters: not the same day (or no date at all).
  bool same_day = false;
  try {
    same_day = TZELDateEncoder::Decode(other_key) == EncodeDate(2021, 3, 20);
  } catch (const EConvertError&) {
    // no date at all is also not the same day
  }
  EXPECT_FALSE(same_day);
}

TEST(DateEncoder, CheckEncodedComparesCalendarDays) {
  const DateTime day = EncodeDate(2021, 3, 20);
  const std::string code = TZELDateEncoder::Encode(day);
  EXPECT_TRUE(TZELDateEncoder::CheckEncoded(code, day + 0.99));
  EXPECT_FALSE(TZELDateEncoder::CheckEncoded(code, day + 1));
  EXPECT_FALSE(TZELDateEncoder::CheckEncoded(code, day - 0.5));  // the evening before
  EXPECT_THROW(TZELDateEncoder::CheckEncoded("junk", day), EConvertError);
}

class DateEncoderLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zel_encoder_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home_ = pattern;
    util::SetHomeFolder(home_);
    SetNowJalali("1399/08/03 09:30", true);
  }
  void TearDown() override {
    ResetNow();
    util::SetHomeFolder("");
    std::filesystem::remove_all(home_);
  }
  std::string home_;
};

TEST_F(DateEncoderLogTest, TryDecodeReportsFailureToLoadErrorLog) {
  DateTime date = 5;
  const std::string good = TZELDateEncoder::Encode(EncodeDate(2020, 10, 24));
  EXPECT_TRUE(TZELDateEncoder::TryDecode(good, date));
  EXPECT_EQ(date, EncodeDate(2020, 10, 24));
  EXPECT_FALSE(std::filesystem::exists(home_ + "/Logs"));

  EXPECT_FALSE(TZELDateEncoder::TryDecode("Zbadcode!", date));
  EXPECT_EQ(date, 0);
  std::ifstream in(home_ + "/Logs/LoadError.Log(1399-08-03).Log");
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line.rfind("1399/08/03 09:30:00 : SF:", 0), 0u) << line;
  EXPECT_NE(line.find("MD:TryDecodeDate"), std::string::npos) << line;
  EXPECT_NE(line.find("En: Zbadcode!"), std::string::npos) << line;
  EXPECT_FALSE(std::getline(in, line));
}

}  // namespace
}  // namespace zel::dates
