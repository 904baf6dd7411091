#include "service/platform.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "service/systemd_unit.h"

namespace zel::service {
namespace {

namespace fs = std::filesystem;

TEST(Platform, HostPathAndVersion) {
  EXPECT_FALSE(LocalComputerName().empty());
  EXPECT_EQ(fs::path(ExecutablePath()).filename(), "service_platform_test");
  EXPECT_EQ(fs::path(ExecutablePath()).parent_path().string(), ExecutableFolder());
  const std::string v = ModuleVersionText();
  EXPECT_EQ(std::count(v.begin(), v.end(), '.'), 3) << v;
}

TEST(Platform, SignalsBecomeAStopRequest) {
  ResetStopRequest();
  {
    StopSignalGuard guard;
    EXPECT_FALSE(WaitForStop(std::chrono::milliseconds(1)));
    kill(getpid(), SIGTERM);
    EXPECT_TRUE(WaitForStop(std::chrono::seconds(10)));
    ResetStopRequest();
    kill(getpid(), SIGINT);
    EXPECT_TRUE(WaitForStop(std::chrono::seconds(10)));
  }
  ResetStopRequest();
}

TEST(Platform, StopRequestWakesAWaitingThread) {
  ResetStopRequest();
  std::thread stopper([] { RequestStop(); });
  EXPECT_TRUE(WaitForStop(std::chrono::seconds(10)));
  stopper.join();
  EXPECT_TRUE(StopRequested());
  ResetStopRequest();
  EXPECT_FALSE(StopRequested());
}

TEST(Platform, SystemdNotificationGoesToTheNotifySocket) {
  const std::string path =
      (fs::temp_directory_path() / ("zel_notify_" + std::to_string(getpid()))).string();
  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  setenv("NOTIFY_SOCKET", path.c_str(), 1);
  NotifySystemdReady();
  NotifySystemdStopping();
  unsetenv("NOTIFY_SOCKET");
  char buffer[64] = {};
  ssize_t n = recv(fd, buffer, sizeof(buffer) - 1, MSG_DONTWAIT);
  EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0), "READY=1");
  n = recv(fd, buffer, sizeof(buffer) - 1, MSG_DONTWAIT);
  EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0), "STOPPING=1");
  close(fd);
  fs::remove(path);
}

TEST(Platform, RunProgramGivesExitStatusAndOutput) {
  EXPECT_EQ(RunProgram({"true"}), 0);
  EXPECT_EQ(RunProgram({"false"}), 1);
  EXPECT_EQ(RunProgram({"zel-no-such-program"}), -1);
  int status = -1;
  EXPECT_EQ(RunProgramOutput({"printf", "a b"}, &status), "a b");
  EXPECT_EQ(status, 0);
}

TEST(SystemdUnit, TextRunsThisExecutableWithItsHome) {
  EXPECT_EQ(QuoteSystemdArg("/opt/zel calc/zelkl-calc"), "\"/opt/zel calc/zelkl-calc\"");
  EXPECT_EQ(QuoteSystemdArg("a\"b\\c%d"), "\"a\\\"b\\\\c%%d\"");
  const std::string unit = UnitFileText("Version 1.2.3.4 Publish Date : 2020/10/24 x ",
                                        "/opt/zel/zelkl-calc", "/srv/zel home");
  EXPECT_NE(unit.find("\nDescription=Version 1.2.3.4 Publish Date : 2020/10/24 x \n"),
            std::string::npos)
      << unit;
  EXPECT_NE(unit.find("\nType=notify\n"), std::string::npos);
  EXPECT_NE(unit.find("\nExecStart=\"/opt/zel/zelkl-calc\" --home \"/srv/zel home\" run\n"),
            std::string::npos)
      << unit;
  EXPECT_NE(unit.find("\nWantedBy=multi-user.target\n"), std::string::npos);
  EXPECT_EQ(UnitFilePath(), "/etc/systemd/system/ZELKLCalculateService.service");
}

TEST(SystemdUnit, DescriptionIsRewrittenOnlyInAnExistingUnit) {
  const fs::path path =
      fs::temp_directory_path() / ("zel_unit_" + std::to_string(getpid()) + ".service");
  EXPECT_FALSE(UpdateUnitDescription(path.string(), "new"));
  EXPECT_FALSE(fs::exists(path));
  std::ofstream(path) << UnitFileText("old", "/x", "/h");
  EXPECT_TRUE(UpdateUnitDescription(path.string(), "new\nline"));
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), UnitFileText("new line", "/x", "/h"));
  fs::remove(path);
}

}  // namespace
}  // namespace zel::service
