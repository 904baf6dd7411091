#include "service/service_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "dates/clock.h"
#include "dates/date_encoder.h"
#include "service/platform.h"
#include "util/log_file.h"

namespace zel::service {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zel_log_XXXXXX").string();
    home_ = mkdtemp(pattern.data());
    util::SetHomeFolder(home_.string());
    dates::SetNowJalali("1399/08/03 09:05", true);
    ResetStopRequest();
  }
  void TearDown() override {
    util::SetHomeFolder("");
    dates::ResetNow();
    ResetStopRequest();
    fs::remove_all(home_);
  }
  fs::path Logs() const { return home_ / "Logs"; }
  void WriteLogInf(const std::string& text) { std::ofstream(home_ / "Log.inf") << text; }

  fs::path home_;
};

TEST_F(LogTest, ServiceWriterNamesFilesByJalaliDay) {
  LogText("hello");
  LogText("plain", "Error Thread Action", false);
  LogText("same file", "log");  // base names ignore case
  EXPECT_EQ(ReadAll(Logs() / "Log(1399-08-03).Log"),
            "1399/08/03 09:05:00 : hello\n1399/08/03 09:05:00 : same file\n");
  EXPECT_EQ(ReadAll(Logs() / "Error Thread Action(1399-08-03).Log"), "plain\n");

  dates::SetNowJalali("1399/08/04 00:00", true);  // the first line of a new day
  LogText("tomorrow");
  EXPECT_EQ(ReadAll(Logs() / "Log(1399-08-04).Log"), "1399/08/04 00:00:00 : tomorrow\n");
}

TEST_F(LogTest, ServiceWriterFallsBackToTheHomeFolder) {
  std::ofstream(home_ / "Logs") << "not a folder";
  LogText("here instead");
  EXPECT_EQ(ReadAll(home_ / "Log(1399-08-03).Log"), "1399/08/03 09:05:00 : here instead\n");
  EXPECT_FALSE(StopRequested());
}

TEST_F(LogTest, GeneralWriterWithoutLogFolderTellsTheOperatorAndStops) {
  std::ofstream(home_ / "Logs") << "not a folder";
  ::testing::internal::CaptureStderr();
  LogToFile("lost", "Log", false);
  const std::string notice = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(notice, "<3>خطا: امکان ایجاد پوشه لاگ وجود ندارد.\n");
  EXPECT_TRUE(StopRequested());
  EXPECT_FALSE(fs::exists(home_ / "Log(1399-08-03).Log"));
}

TEST_F(LogTest, GeneralWriterStampsAndKeepsDeepLinesForDeepMode) {
  ASSERT_FALSE(DeepLogMode());
  LogToFile("deep only", "Log", true);
  LogToFile("always", "Log", false);
  LogToFileFmt("%s=%d", "Log", {std::string("n"), 7LL}, false);
  EXPECT_EQ(ReadAll(Logs() / "Log(1399-08-03).Log"),
            "1399/08/03 09:05:00 : always\n1399/08/03 09:05:00 : n=7\n");
}

TEST(FormatLogText, PrintfLikeConversions) {
  struct Case {
    const char* format;
    std::vector<LogArg> args;
    const char* expected;
  } cases[] = {
      {"%s and %d", {std::string("a"), 5LL}, "a and 5"},
      {"[%-5s]", {std::string("ab")}, "[ab   ]"},
      {"[%5s]", {std::string("ab")}, "[   ab]"},
      {"[%-3d]", {-1LL}, "[-1 ]"},
      {"[%-2s]", {std::string("long")}, "[long]"},
      {"100%% %s", {std::string("x")}, "100% x"},
      {"%s %s", {std::string("one")}, "one "},
      {"%x stays", {}, "%x stays"},
      {"trailing %", {}, "trailing %"},
      {"شروع محاسبه: %s خاتمه محاسبه: %s",
       {std::string("09:00:00"), std::string("09:01:30")},
       "شروع محاسبه: 09:00:00 خاتمه محاسبه: 09:01:30"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatLogText(c.format, c.args), c.expected) << c.format;
}

TEST_F(LogTest, ExceptionLines) {
  const std::runtime_error e("boom");
  errno = ENOENT;
  LogException("service.TSender", &e, "DoIt", "id=%d", {7LL}, "Log");
  errno = ENOENT;
  LogException(nullptr, nullptr, "Other", "", {}, "Log");
  LogExceptionLine("service.TSender", &e, "DoIt", "", {}, "Log");
  const std::string stamp = "1399/08/03 09:05:00 : ";
  EXPECT_EQ(ReadAll(Logs() / "Log(1399-08-03).Log"),
            stamp +
                "!!EXCEPTION!!: SLF:service.TSender          ; EXP:std::runtime_error       ; "
                "MTD:DoIt                     ;\n" +
                stamp +
                "!!EXCEPTION!!: MSG:boom (TR: )              ; LEC:2                        ; "
                "LEM:No such file or directory;\n" +
                stamp + "!!EXCEPTION!!: ADD:id=7                     ;\n" + stamp +
                "!!EXCEPTION!!: SLF:nil                      ; EXP:nil                      ; "
                "MTD:Other                    ;\n" +
                stamp +
                "!!EXCEPTION!!: MSG: (TR: )                  ; LEC:2                        ; "
                "LEM:No such file or directory;\n" +
                stamp + "!!EXCEPTION!!: ADD:none                     ;\n" + stamp +
                "SF:service.TSender          ; E:std::runtime_error       ; MD:DoIt                "
                "     ; MSG: boom; none\n");
}

TEST_F(LogTest, DeepLogModeFromThePassCode) {
  const std::string today_code =
      dates::TZELDateEncoder::Encode(dates::ParseJalaliMoment("1399/08/03 00:00"));
  const std::string other_day_code =
      dates::TZELDateEncoder::Encode(dates::ParseJalaliMoment("1399/08/04 00:00"));
  struct Case {
    const char* what;
    std::optional<std::string> log_inf;
    bool deep;
    std::string line;     // in both files after the banner; empty: none
    bool exception_line;  // "SetDeepLogMode Exeption" in LoadError.Log
  } cases[] = {
      {"no Log.inf", std::nullopt, false, "", false},
      {"today's code", "  " + today_code + "\n", true, "DeepLOGMode enabled", false},
      {"another day's code", other_day_code, false, "wrong pass code! " + other_day_code, false},
      {"not a code", "ABC", false, "wrong pass code! ABC", true},
  };
  const std::string banner = "1399/08/03 09:05:00 : " + std::string(62, '#') +
                             "\n1399/08/03 09:05:00 :       LOGGING STARTED\n" +
                             "1399/08/03 09:05:00 : " + std::string(62, '#') + "\n";
  for (const auto& c : cases) {
    fs::remove_all(Logs());
    fs::remove(home_ / "Log.inf");
    if (c.log_inf) WriteLogInf(*c.log_inf);
    SetDeepLogMode();
    EXPECT_EQ(DeepLogMode(), c.deep) << c.what;
    const std::string log = ReadAll(Logs() / "Log(1399-08-03).Log");
    const std::string load = ReadAll(Logs() / "LoadError.Log(1399-08-03).Log");
    EXPECT_EQ(log.substr(0, banner.size()), banner) << c.what;
    EXPECT_EQ(load.substr(0, banner.size()), banner) << c.what;
    if (c.line.empty()) {
      EXPECT_EQ(log, banner) << c.what;
      EXPECT_EQ(load, banner) << c.what;
    } else {
      const std::string line = "1399/08/03 09:05:00 : " + c.line + "\n";
      EXPECT_NE(log.find(line), std::string::npos) << c.what << ": " << log;
      EXPECT_NE(load.find(line), std::string::npos) << c.what << ": " << load;
    }
    EXPECT_EQ(load.find("SetDeepLogMode Exeption: ") != std::string::npos, c.exception_line)
        << c.what << ": " << load;
    EXPECT_EQ(log.find("MD:SetDeepLogMode") != std::string::npos, c.exception_line) << c.what;
  }
}

TEST_F(LogTest, RepeatedExceptionNoticeAtFirstAndEveryTenthRepeat) {
  EXPECT_FALSE(NotifyRepeatedException("off", "place", "Test")) << "not in deep log mode";
  WriteLogInf(dates::TZELDateEncoder::Encode(dates::ParseJalaliMoment("1399/08/03 00:00")));
  SetDeepLogMode();
  ASSERT_TRUE(DeepLogMode());

  ::testing::internal::CaptureStderr();
  std::vector<int> noticed;
  for (int report = 1; report <= 21; ++report) {
    // The time in front of the place does not make it another place.
    const std::string where =
        report % 2 ? "10:00:0" + std::to_string(report % 10) + " : place" : "place";
    if (NotifyRepeatedException("Disk full", where, "Test")) noticed.push_back(report);
  }
  EXPECT_EQ(noticed, (std::vector<int>{1, 11, 21}));
  EXPECT_TRUE(NotifyRepeatedException("Disk full", "elsewhere", "Test"));
  EXPECT_TRUE(NotifyRepeatedException("Other text", "elsewhere", "Test"));
  EXPECT_FALSE(NotifyRepeatedException("OTHER TEXT", "Elsewhere", "Test")) << "case ignored";
  const std::string notices = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(notices.find("<3>Log Exception: Exception in \"Test\"(0), MSG:Disk full, DAT: place\n"),
            std::string::npos)
      << notices;
  EXPECT_NE(notices.find("Exception in \"Test\"(10), MSG:Disk full, DAT: place\n"),
            std::string::npos)
      << notices;
}

}  // namespace
}  // namespace zel::service
