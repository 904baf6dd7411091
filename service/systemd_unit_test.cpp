// The systemd unit of the service as systemd itself judges it: `systemd-analyze verify`
// accepts it, and `systemd-analyze security --offline=yes` rates its exposure 2.5 or lower,
// for a home folder outside and inside the users' homes. Skipped where systemd-analyze is
// not installed (scripts/setup.sh installs it).
#include "service/systemd_unit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "service/platform.h"
#include "testing/temp_server.h"

namespace zel::service {
namespace {

namespace fs = std::filesystem;

bool HaveSystemdAnalyze() {
  return RunProgram({"sh", "-c", "command -v systemd-analyze >/dev/null"}) == 0;
}

class UnitFile : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveSystemdAnalyze()) {
      GTEST_SKIP() << "systemd-analyze is not installed (package systemd; scripts/setup.sh "
                      "installs it): the unit cannot be checked";
    }
    dir_ = testing::NewTempFolder("unit");
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  // Writes the unit under its own name and returns its path.
  std::string Write(const std::string& executable, const std::string& home) {
    const fs::path path = dir_ / "ZELKLCalculateService.service";
    std::ofstream(path) << UnitFileText("Version 1.2.3.4 Publish Date : 2020/10/24 x ", executable,
                                        home);
    return path.string();
  }
  // What a shell command printed on stdout and stderr, and its exit status.
  static std::string Run(const std::string& command, int& status) {
    return RunProgramOutput({"sh", "-c", command + " 2>&1"}, &status).value_or("");
  }
  fs::path dir_;
};

TEST_F(UnitFile, SystemdAcceptsIt) {
  // verify wants an ExecStart that exists: the test's own executable stands in.
  const std::string unit = Write(ExecutablePath(), (dir_ / "home dir").string());
  int status = -1;
  const std::string out = Run("systemd-analyze verify '" + unit + "'", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "") << "systemd-analyze verify complains:\n" << out;
}

TEST_F(UnitFile, ExposureIsLowWhereverTheHomeIs) {
  struct Case {
    const char* executable;
    const char* home;
  } cases[] = {
      {"/opt/zel/zelkl-calc", "/srv/zel"},
      {"/opt/zel/zelkl-calc", "/opt/zel"},
      {"/home/alice/zel/build/zelkl-calc", "/home/alice/zel/home"},
      {"/root/zel/zelkl-calc", "/var/lib/zel"},
  };
  const std::regex overall(R"(Overall exposure level for \S+: ([0-9.]+))");
  for (const auto& c : cases) {
    const std::string unit = Write(c.executable, c.home);
    int status = -1;
    const std::string out = Run("systemd-analyze security --offline=yes '" + unit + "'", status);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, overall)) << out;
    EXPECT_LE(std::stod(m[1].str()), 2.5) << c.home << "\n" << out;
  }
}

TEST(UnitText, UsersHomesHiddenButTheServiceHomeBoundIn) {
  struct Case {
    const char* executable;
    const char* home;
    const char* protect_home;
    const char* bound;  // BindPaths / BindReadOnlyPaths lines, "" for none
  } cases[] = {
      {"/opt/zel/zelkl-calc", "/srv/zel", "yes", ""},
      {"/home/a/zel/zelkl-calc", "/home/a/zel", "tmpfs", "BindPaths=\"/home/a/zel\"\n"},
      {"/home/a/b/zelkl-calc", "/home/a/h", "tmpfs",
       "BindPaths=\"/home/a/h\"\nBindReadOnlyPaths=\"/home/a/b\"\n"},
      {"/root/b/zelkl-calc", "/srv/zel", "tmpfs", "BindReadOnlyPaths=\"/root/b\"\n"},
      {"/opt/zel/zelkl-calc", "/homestead/zel", "yes", ""},
  };
  for (const auto& c : cases) {
    const std::string unit = UnitFileText("d", c.executable, c.home);
    EXPECT_NE(unit.find(std::string("\nProtectHome=") + c.protect_home + "\n"), std::string::npos)
        << unit;
    EXPECT_NE(unit.find(std::string("\nReadWritePaths=\"") + c.home + "\"\n"), std::string::npos)
        << unit;
    std::string bound;
    std::istringstream lines(unit);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("Bind", 0) == 0) bound += line + "\n";
    }
    EXPECT_EQ(bound, c.bound) << c.home;
    EXPECT_NE(unit.find(std::string("\nUser=") + kServiceUser + "\n"), std::string::npos);
  }
}

TEST(UnitHome, OnlyAFolderOfItsOwnIsHandedToTheService) {
  struct Case {
    const char* home;
    bool fit;
  } cases[] = {
      {"/srv/zel", true},
      {"/var/lib/zelkl-calc", true},
      {"/opt/zel/home/", true},
      {"/home/alice/zel", true},
      {"/", false},
      {"/srv", false},
      {"/home/alice", false},
      {"/root", false},
      {"/usr/local/bin", false},
      {"/etc/zel", false},
      {"/var/lib", false},
      {"/tmp/zel", false},
      {"relative/home", false},
      {"/srv/zel/../..", false},
      {"", false},
  };
  for (const auto& c : cases) {
    const auto why = HomeUnfitForService(c.home);
    EXPECT_EQ(!why.has_value(), c.fit) << c.home << ": " << why.value_or("");
  }
}

}  // namespace
}  // namespace zel::service
