#include "service/systemd_unit.h"

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "service/calculate_service.h"
#include "service/platform.h"
#include "util/text.h"

namespace zel::service {

namespace {

std::string UnitName() { return std::string(kServiceName) + ".service"; }

std::string ActiveState(const std::string& unit) {
  int status = 0;
  auto out = RunProgramOutput({"systemctl", "is-active", unit}, &status);
  return out ? util::TrimRight(*out, " \r\n") : std::string();
}

// Description values are one line; a line break would end the key.
std::string OneLine(std::string s) {
  for (char& c : s) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return s;
}

// The users' homes, hidden from the service.
bool InUsersHomes(const std::string& path) {
  for (const char* top : {"/home", "/root", "/run/user"}) {
    const std::string t = top;
    if (path == t || path.rfind(t + "/", 0) == 0) return true;
  }
  return false;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

// The confinement of the service: what it reads, writes and may call.
void WriteSandbox(std::ostringstream& u, const std::string& executable, const std::string& home) {
  u << "User=" << kServiceUser << "\n"
    << "Group=" << kServiceUser << "\n"
    << "UMask=0077\n"
    << "NoNewPrivileges=yes\n"
    << "CapabilityBoundingSet=\n"
    << "AmbientCapabilities=\n"
    << "ProtectSystem=strict\n"
    << "PrivateMounts=yes\n"
    << "ReadWritePaths=" << QuoteSystemdArg(home) << "\n";
  if (InUsersHomes(home) || InUsersHomes(executable)) {
    // Hidden behind an empty /home (and /root, /run/user), with only these bound in.
    u << "ProtectHome=tmpfs\n";
    if (InUsersHomes(home)) u << "BindPaths=" << QuoteSystemdArg(home) << "\n";
    const std::string bin = FolderOf(executable);
    if (InUsersHomes(bin) && bin != home && bin.rfind(home + "/", 0) != 0) {
      u << "BindReadOnlyPaths=" << QuoteSystemdArg(bin) << "\n";
    }
  } else {
    u << "ProtectHome=yes\n";
  }
  u << "PrivateTmp=yes\n"
    << "PrivateDevices=yes\n"
    << "PrivateUsers=yes\n"
    << "ProtectClock=yes\n"
    << "ProtectHostname=yes\n"
    << "ProtectKernelTunables=yes\n"
    << "ProtectKernelModules=yes\n"
    << "ProtectKernelLogs=yes\n"
    << "ProtectControlGroups=yes\n"
    << "ProtectProc=invisible\n"
    << "ProcSubset=pid\n"
    << "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6\n"
    << "RestrictNamespaces=yes\n"
    << "RestrictRealtime=yes\n"
    << "RestrictSUIDSGID=yes\n"
    << "LockPersonality=yes\n"
    << "MemoryDenyWriteExecute=yes\n"
    << "RemoveIPC=yes\n"
    << "SystemCallArchitectures=native\n"
    << "SystemCallFilter=@system-service\n"
    << "SystemCallFilter=~@privileged @resources\n"
    << "SystemCallErrorNumber=EPERM\n";
}

// Creates the service's user when it is missing and gives it the home folder with what the
// service writes there.
void PrepareServiceUser(const std::string& home) {
  if (auto why = HomeUnfitForService(home)) throw std::runtime_error(*why);
  if (getpwnam(kServiceUser) == nullptr &&
      RunProgram({"useradd", "--system", "--user-group", "--no-create-home", "--home-dir", home,
                  "--shell", "/usr/sbin/nologin", kServiceUser}) != 0) {
    throw std::runtime_error(std::string("cannot create the system user ") + kServiceUser +
                             " (useradd failed; run as root)");
  }
  const std::string owner = std::string(kServiceUser) + ":" + kServiceUser;
  std::vector<std::string> chown = {"chown", "-R", owner};
  for (const char* name : {"Korlan.Ini", "Log.inf", "Logs", "Data"}) {
    if (access((home + "/" + name).c_str(), F_OK) == 0) chown.push_back(home + "/" + name);
  }
  if (RunProgram({"chown", owner, home}) != 0 || (chown.size() > 3 && RunProgram(chown) != 0)) {
    throw std::runtime_error("cannot give " + home + " to " + kServiceUser + " (chown failed)");
  }
}

}  // namespace

std::optional<std::string> HomeUnfitForService(const std::string& home) {
  std::string h = home;
  while (h.size() > 1 && h.back() == '/') h.pop_back();
  if (h.empty() || h[0] != '/' || h.find("/./") != std::string::npos ||
      h.find("/../") != std::string::npos || h.ends_with("/.") || h.ends_with("/..")) {
    return "the home folder '" + home + "' is not a plain absolute path";
  }
  const bool top = h.find('/', 1) == std::string::npos;
  const bool users_home = h.starts_with("/home/") && h.find('/', 6) == std::string::npos;
  bool system = false;
  // These and everything under them belong to the system (a home in /tmp would not even be
  // seen: the service has a /tmp of its own).
  for (const char* folder : {"/usr", "/etc", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32",
                             "/boot", "/dev", "/proc", "/sys", "/run", "/tmp", "/var/tmp"}) {
    const std::string f = folder;
    system = system || h == f || h.starts_with(f + "/");
  }
  // These hold the folders of many programs; a folder of its own inside them is fine.
  for (const char* folder : {"/var/lib", "/var/log", "/var/cache", "/var/spool", "/var/opt"}) {
    system = system || h == folder;
  }
  if (top || users_home || system) {
    return "the home folder " + h + " is a folder of the system or of a user; install hands " +
           "the home to " + kServiceUser + ", so give it a folder of its own (--home)";
  }
  return std::nullopt;
}

std::string UnitFilePath() { return "/etc/systemd/system/" + UnitName(); }

std::string QuoteSystemdArg(const std::string& arg) {
  std::string out = "\"";
  for (char c : arg) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

std::string UnitFileText(const std::string& description, const std::string& executable,
                         const std::string& home) {
  std::ostringstream u;
  u << "[Unit]\n"
    << "Description=" << OneLine(description) << "\n"
    << "X-DisplayName=" << kServiceDisplayName << "\n"
    << "After=network-online.target\n"
    << "Wants=network-online.target\n"
    << "\n"
    << "[Service]\n"
    << "Type=notify\n"
    << "ExecStart=" << QuoteSystemdArg(executable) << " --home " << QuoteSystemdArg(home)
    << " run\n"
    << "Restart=on-failure\n"
    << "RestartSec=10\n"
    << "TimeoutStopSec=300\n";
  WriteSandbox(u, executable, home);
  u << "\n"
    << "[Install]\n"
    << "WantedBy=multi-user.target\n";
  return u.str();
}

bool UpdateUnitDescription(const std::string& unit_path, const std::string& description) {
  std::ifstream in(unit_path);
  if (!in) return false;
  std::vector<std::string> lines;
  std::string line;
  bool changed = false;
  const std::string wanted = "Description=" + OneLine(description);
  while (std::getline(in, line)) {
    if (line.rfind("Description=", 0) == 0 && line != wanted) {
      line = wanted;
      changed = true;
    }
    lines.push_back(line);
  }
  in.close();
  if (!changed) return true;
  if (access(unit_path.c_str(), W_OK) != 0) return false;
  std::ofstream out(unit_path, std::ios::trunc);
  for (const auto& l : lines) out << l << "\n";
  return static_cast<bool>(out);
}

bool StartInstalledService(const std::string& service_name) {
  const std::string unit = service_name + ".service";
  if (RunProgram({"systemctl", "start", "--no-block", unit}) != 0) return false;
  // Wait while systemd reports progress; stop at anything but "activating".
  std::string state = ActiveState(unit);
  for (int i = 0; state == "activating" && i < 600; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    state = ActiveState(unit);
  }
  return state == "active";
}

void InstallUnit(const std::string& executable, const std::string& home) {
  if (!HasSystemd()) {
    throw std::runtime_error("systemd is not running on this machine (no /run/systemd/system)");
  }
  PrepareServiceUser(home);
  const std::string path = UnitFilePath();
  {
    std::ofstream out(path, std::ios::trunc);
    out << UnitFileText(ServiceDescriptionText(), executable, home);
    if (!out) throw std::runtime_error("cannot write " + path + " (run as root)");
  }
  if (RunProgram({"systemctl", "daemon-reload"}) != 0) {
    throw std::runtime_error("systemctl daemon-reload failed");
  }
  if (RunProgram({"systemctl", "enable", UnitName()}) != 0) {
    throw std::runtime_error("systemctl enable " + UnitName() + " failed");
  }
}

void UninstallUnit() {
  if (!HasSystemd()) {
    throw std::runtime_error("systemd is not running on this machine (no /run/systemd/system)");
  }
  RunProgram({"systemctl", "stop", UnitName()});
  RunProgram({"systemctl", "disable", UnitName()});
  const std::string path = UnitFilePath();
  if (std::remove(path.c_str()) != 0 && access(path.c_str(), F_OK) == 0) {
    throw std::runtime_error("cannot remove " + path + " (run as root)");
  }
  RunProgram({"systemctl", "daemon-reload"});
}

}  // namespace zel::service
