#include "dates/log_stamp.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "dates/clock.h"
#include "dates/jalali.h"

namespace zel::dates {
namespace {

class LogStampTest : public ::testing::Test {
 protected:
  void SetUp() override { SetNowJalali("1399/08/03 14:05:09", true); }
  void TearDown() override {
    ResetNow();
    unsetenv(kNowEnvironmentVariable);
  }
};

TEST_F(LogStampTest, FileNamesCarryTodaysJalaliDate) {
  struct Case {
    const char* base;
    const char* suffix;
    const char* name;
  } cases[] = {{"Log", "", "Log(1399-08-03).Log"},
               {"ErrorTransfer", "", "ErrorTransfer(1399-08-03).Log"},
               {"Thread1001", "_T4", "Thread1001(1399-08-03)_T4.Log"},
               {"LoadError.Log", "", "LoadError.Log(1399-08-03).Log"},
               {"Error Thread Action", "", "Error Thread Action(1399-08-03).Log"}};
  for (const Case& c : cases) EXPECT_EQ(LogFileName(c.base, c.suffix), c.name);
  EXPECT_EQ(LogDatePart(), "(1399-08-03)");
  SetNowJalali("1400/01/01 00:00", true);
  EXPECT_EQ(LogFileName("Log"), "Log(1400-01-01).Log");
}

TEST_F(LogStampTest, NameWithoutDateWhenTheDateCannotBeFormed) {
  SetNow(EncodeDate(1500, 1, 1), true);  // a Jalali year of three digits
  EXPECT_EQ(LogFileName("Log", "_T1"), "Log.Log");
  EXPECT_THROW(LogDatePart(), std::runtime_error);
  ResetNow();
  setenv(kNowEnvironmentVariable, "not a moment", 1);
  EXPECT_THROW(LoadNowFromEnvironment(), std::invalid_argument);
  EXPECT_EQ(LogFileName("ErrorTransfer"), "ErrorTransfer.Log");
  // The stamp is left out too: the line still gets written.
  EXPECT_EQ(StampedLine("text"), "text");
}

TEST_F(LogStampTest, StampedLine) {
  EXPECT_EQ(StampedLine("Start Calc Daily1 ... "), "1399/08/03 14:05:09 : Start Calc Daily1 ... ");
  EXPECT_EQ(StampedLine("خطا", ParseJalaliMoment("1403/12/30 07:08:09")),
            "1403/12/30 07:08:09 : خطا");
  EXPECT_EQ(StampedLine("", EncodeJalaliDate(1400, 1, 1)), "1400/01/01 00:00:00 : ");
}

}  // namespace
}  // namespace zel::dates
