#include "dates/clock.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "dates/date_time.h"
#include "dates/jalali.h"

namespace zel::dates {
namespace {

// Leaves the process clock and ZEL_NOW as they were found.
class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv(kNowEnvironmentVariable); }
  void TearDown() override {
    unsetenv(kNowEnvironmentVariable);
    ResetNow();
  }
};

TEST_F(ClockTest, ParsesJalaliMoments) {
  struct Case {
    const char* text;
    JalaliDate date;
    const char* time;
  } cases[] = {{"1399/12/30 23:59", {1399, 12, 30}, "23:59:00"},
               {"1400/01/01 00:00", {1400, 1, 1}, "00:00:00"},
               {"1408/12/30 07:05:09", {1408, 12, 30}, "07:05:09"},
               {" 1403/05/07 10:00 ", {1403, 5, 7}, "10:00:00"}};
  for (const Case& c : cases) {
    const DateTime moment = ParseJalaliMoment(c.text);
    EXPECT_TRUE(DecodeJalaliDate(moment) == c.date) << c.text;
    EXPECT_EQ(FormatTime_HHNNSS(moment), c.time) << c.text;
  }
  EXPECT_EQ(ParseJalaliMoment("1399/01/01 06:00"), 43910.25);
}

TEST_F(ClockTest, RejectsBadMomentsClearly) {
  const char* bad[] = {"",
                       "1399/12/30",
                       "1398/12/30 10:00",  // 1398 is not leap
                       "1399/13/01 10:00",
                       "1399/01/01 24:00",
                       "1399/01/01 10:60",
                       "1399-01-01 10:00",
                       "1399/1/01 10:00",
                       "2021/03/20 10:00x",
                       "1399/01/01T10:00"};
  for (const char* text : bad) {
    try {
      ParseJalaliMoment(text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()),
                std::string("expected a Jalali moment \"YYYY/MM/DD HH:MM\", got \"") + text + "\"");
    }
  }
}

TEST_F(ClockTest, EnvironmentSetsTheStartingMomentAndTheClockRunsOn) {
  setenv(kNowEnvironmentVariable, "1399/12/30 23:59", 1);
  LoadNowFromEnvironment();
  EXPECT_TRUE(IsNowOverridden());
  const DateTime first = Now();
  EXPECT_GE(first, ParseJalaliMoment("1399/12/30 23:59"));
  EXPECT_LT(first, ParseJalaliMoment("1399/12/30 23:59") + EncodeTime(0, 0, 30, 0));
  EXPECT_EQ(JalaliToday(), "1399/12/30");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GT(Now(), first);
}

TEST_F(ClockTest, BadEnvironmentValueIsAnError) {
  setenv(kNowEnvironmentVariable, "yesterday", 1);
  try {
    LoadNowFromEnvironment();
    ADD_FAILURE() << "bad ZEL_NOW accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(),
                 "ZEL_NOW: expected a Jalali moment \"YYYY/MM/DD HH:MM\", got \"yesterday\"");
  }
  EXPECT_THROW(Now(), std::invalid_argument);
  // A setter (the command line) still takes over.
  SetNowJalali("1400/01/01 00:00", true);
  EXPECT_EQ(JalaliToday(), "1400/01/01");
}

TEST_F(ClockTest, FrozenStaysAndResetFollowsTheSystem) {
  SetNowJalali("1403/12/30 12:00", true);
  const DateTime fixed = Now();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(Now(), fixed);
  EXPECT_EQ(NowTime_HHNNSS(), "12:00:00");
  EXPECT_EQ(Today(), EncodeJalaliDate(1403, 12, 30));
  ResetNow();
  EXPECT_FALSE(IsNowOverridden());
  // The system clock is far from the fixed moment in 1403 only by real time passing.
  const auto now = std::chrono::system_clock::now();
  const double unix_days =
      std::chrono::duration<double>(now.time_since_epoch()).count() / 86400.0 + 25569.0;
  EXPECT_NEAR(Now(), unix_days, 1.0);  // local time lies within a day of UTC
}

TEST_F(ClockTest, UnsetEnvironmentFollowsTheSystem) {
  LoadNowFromEnvironment();
  EXPECT_FALSE(IsNowOverridden());
}

}  // namespace
}  // namespace zel::dates
