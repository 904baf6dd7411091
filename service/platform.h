// Everything the service needs from the operating system, in one place: host name,
// executable path, the build's version, operator notices, the stop request that signals and
// the program itself raise, and registration with systemd.
// All functions may be called from any thread; the stop request is thread-safe.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zel::service {

// The computer's name (gethostname); empty when it cannot be read.
std::string LocalComputerName();

// Full path of the running executable (/proc/self/exe) and its folder.
std::string ExecutablePath();
std::string ExecutableFolder();

// The build's version as four numbers joined by "." (major.minor.release.build).
std::string ModuleVersionText();

// Reports a notice to the operator through the system journal (stderr, with the journal's
// error priority prefix "<3>"). Never blocks: when stderr cannot take the line at once it
// is dropped.
void NotifyOperator(const std::string& title, const std::string& text);

// --- stop request -------------------------------------------------------------------------
// Asks the running service to stop (what SIGTERM and SIGINT do). Safe from any thread.
void RequestStop();
bool StopRequested();
// Clears a stop request (tests run several services in one process).
void ResetStopRequest();
// Waits until a stop is requested or `timeout` has passed; true when stop was requested.
bool WaitForStop(std::chrono::milliseconds timeout);

// Routes SIGTERM and SIGINT to RequestStop for the life of the returned guard: the calling
// thread (which must be the main thread, before it starts other threads) blocks the signals,
// and a watcher thread waits for them. Destroying the guard ends the watcher.
class StopSignalGuard {
 public:
  StopSignalGuard();
  ~StopSignalGuard();
  StopSignalGuard(const StopSignalGuard&) = delete;
  StopSignalGuard& operator=(const StopSignalGuard&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// --- systemd ------------------------------------------------------------------------------
// True when the machine runs systemd (/run/systemd/system exists).
bool HasSystemd();

// Tells systemd the service is ready ("READY=1") or stopping ("STOPPING=1") when it runs
// under systemd with Type=notify; does nothing otherwise.
void NotifySystemdReady();
void NotifySystemdStopping();

// Runs a program (searched in PATH) with the arguments and waits for it; returns its exit
// status (-1 when it could not be started or did not exit normally). Output goes to ours.
int RunProgram(const std::vector<std::string>& argv);
// Runs a program and returns its standard output, or nullopt when it could not be run.
std::optional<std::string> RunProgramOutput(const std::vector<std::string>& argv,
                                            int* exit_status = nullptr);

}  // namespace zel::service
