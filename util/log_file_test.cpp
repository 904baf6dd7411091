#include "util/log_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

namespace zel::util {
namespace {

namespace fs = std::filesystem;

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zel_log_file_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    SetHomeFolder("");
    fs::remove_all(dir_);
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(dir_ + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string dir_;
};

TEST_F(LogFileTest, HomeFolderDefaultsToTheExecutablesFolder) {
  SetHomeFolder("");
  EXPECT_TRUE(fs::exists(HomeFolder() + "/util_log_file_test")) << HomeFolder();
  EXPECT_EQ(HomeFolder(), ExecutableFolder());
  SetHomeFolder(dir_ + "/");
  EXPECT_EQ(HomeFolder(), dir_);
  EXPECT_EQ(LogFolder(), dir_ + "/Logs");
}

TEST_F(LogFileTest, EnsureFolderCreatesOrReportsFailure) {
  EXPECT_TRUE(EnsureFolder(dir_ + "/a/b/Logs"));
  EXPECT_TRUE(fs::is_directory(dir_ + "/a/b/Logs"));
  EXPECT_TRUE(EnsureFolder(dir_ + "/a/b/Logs"));
  { std::ofstream(dir_ + "/file") << "x"; }
  EXPECT_FALSE(EnsureFolder(dir_ + "/file"));
  EXPECT_FALSE(EnsureFolder(dir_ + "/file/Logs"));
}

TEST_F(LogFileTest, AppendsOneLinePerCallAndReportsFailures) {
  AppendLine(dir_ + "/x.Log", "first");
  AppendLine(dir_ + "/x.Log", "second");
  EXPECT_EQ(Read("x.Log"), "first\nsecond\n");
  EXPECT_THROW(AppendLine(dir_ + "/missing/x.Log", "lost"), std::system_error);
}

TEST_F(LogFileTest, BaseNamesAreCaseInsensitive) {
  // An existing file decides the spelling.
  AppendLine(dir_ + "/log(1399-08-03).Log", "old");
  AppendLogLine(dir_, "Log(1399-08-03).Log", "new");
  AppendLogLine(dir_, "LOG(1399-08-03).Log", "newer");
  EXPECT_EQ(Files(), std::vector<std::string>{"log(1399-08-03).Log"});
  EXPECT_EQ(Read("log(1399-08-03).Log"), "old\nnew\nnewer\n");
  // Without one, the first spelling asked for is kept.
  AppendLogLine(dir_, "ErrorTransfer.Log", "a");
  AppendLogLine(dir_, "errortransfer.log", "b");
  EXPECT_EQ(Read("ErrorTransfer.Log"), "a\nb\n");
  EXPECT_EQ(ResolveLogPath(dir_, "ERRORTRANSFER.LOG"), dir_ + "/ErrorTransfer.Log");
  EXPECT_EQ(Files().size(), 2u);
}

TEST_F(LogFileTest, ConcurrentWritersUnderDifferentCaseShareOneFileWithWholeLines) {
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  const char* spellings[kThreads] = {"Log", "log", "LOG", "lOg"};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t, &spellings] {
      for (int i = 0; i < kLines; ++i) {
        AppendLogLine(dir_, std::string(spellings[t]) + "(1399-08-03).Log",
                      "writer " + std::to_string(t) + " line " + std::to_string(i));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const std::vector<std::string> files = Files();
  ASSERT_EQ(files.size(), 1u);
  std::ifstream in(dir_ + "/" + files[0]);
  std::set<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    EXPECT_EQ(line.rfind("writer ", 0), 0u) << line;
    lines.insert(line);
  }
  EXPECT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
}

}  // namespace
}  // namespace zel::util
