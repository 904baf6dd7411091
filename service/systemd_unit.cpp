#include "service/systemd_unit.h"

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

}  // namespace

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
    << "TimeoutStopSec=300\n"
    << "\n"
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
