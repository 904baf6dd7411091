#include "service/platform.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#ifndef ZEL_VERSION
#define ZEL_VERSION "0.0.0.0"
#endif

extern char** environ;

namespace zel::service {

std::string LocalComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) return {};
  return name;
}

std::string ExecutablePath() {
  std::string buffer(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  buffer.resize(static_cast<size_t>(n));
  return buffer;
}

std::string ExecutableFolder() {
  std::string path = ExecutablePath();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string ModuleVersionText() { return ZEL_VERSION; }

void NotifyOperator(const std::string& title, const std::string& text) {
  std::string line = "<3>" + title + ": " + text + "\n";
  // A journal stream is a socket: send without waiting. Anything else: write only when
  // the descriptor can take data right now.
  ssize_t sent = send(STDERR_FILENO, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  if (sent >= 0 || errno != ENOTSOCK) return;
  pollfd p{STDERR_FILENO, POLLOUT, 0};
  if (poll(&p, 1, 0) == 1 && (p.revents & POLLOUT)) {
    ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
  }
}

// --- stop request -------------------------------------------------------------------------
namespace {
// Guarded by StopMutex().
bool g_stop_requested = false;

std::mutex& StopMutex() {
  static std::mutex m;
  return m;
}
std::condition_variable& StopCondition() {
  static std::condition_variable c;
  return c;
}
}  // namespace

void RequestStop() {
  {
    std::lock_guard lock(StopMutex());
    g_stop_requested = true;
  }
  StopCondition().notify_all();
}

bool StopRequested() {
  std::lock_guard lock(StopMutex());
  return g_stop_requested;
}

void ResetStopRequest() {
  std::lock_guard lock(StopMutex());
  g_stop_requested = false;
}

bool WaitForStop(std::chrono::milliseconds timeout) {
  std::unique_lock lock(StopMutex());
  return StopCondition().wait_for(lock, timeout, [] { return g_stop_requested; });
}

struct StopSignalGuard::Impl {
  sigset_t set{};
  sigset_t previous{};
  std::thread watcher;
  std::mutex mutex;
  bool closing = false;  // guarded by mutex
};

StopSignalGuard::StopSignalGuard() : impl_(std::make_unique<Impl>()) {
  sigemptyset(&impl_->set);
  sigaddset(&impl_->set, SIGTERM);
  sigaddset(&impl_->set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &impl_->set, &impl_->previous);
  Impl* impl = impl_.get();
  impl_->watcher = std::thread([impl] {
    for (;;) {
      int sig = 0;
      if (sigwait(&impl->set, &sig) != 0) continue;
      {
        std::lock_guard lock(impl->mutex);
        if (impl->closing) return;
      }
      RequestStop();
    }
  });
}

StopSignalGuard::~StopSignalGuard() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->closing = true;
  }
  // The signal is blocked in the watcher, so this only wakes its sigwait.
  pthread_kill(impl_->watcher.native_handle(), SIGTERM);
  impl_->watcher.join();
  pthread_sigmask(SIG_SETMASK, &impl_->previous, nullptr);
}

// --- systemd ------------------------------------------------------------------------------
bool HasSystemd() {
  struct stat st {};
  return stat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {
void SdNotify(const char* message) {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (path == nullptr || path[0] == '\0') return;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  size_t len = std::strlen(path);
  if (len >= sizeof(addr.sun_path)) return;
  std::memcpy(addr.sun_path, path, len);
  if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';  // abstract socket
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  socklen_t addr_len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len);
  ssize_t ignored = sendto(fd, message, std::strlen(message), MSG_NOSIGNAL,
                           reinterpret_cast<sockaddr*>(&addr), addr_len);
  (void)ignored;
  close(fd);
}

std::vector<char*> ArgvPointers(const std::vector<std::string>& argv) {
  std::vector<char*> result;
  for (const auto& a : argv) result.push_back(const_cast<char*>(a.c_str()));
  result.push_back(nullptr);
  return result;
}

int WaitChild(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
}  // namespace

void NotifySystemdReady() { SdNotify("READY=1"); }
void NotifySystemdStopping() { SdNotify("STOPPING=1"); }

int RunProgram(const std::vector<std::string>& argv) {
  if (argv.empty()) return -1;
  auto args = ArgvPointers(argv);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  return WaitChild(pid);
}

std::optional<std::string> RunProgramOutput(const std::vector<std::string>& argv,
                                            int* exit_status) {
  if (argv.empty()) return std::nullopt;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  auto args = ArgvPointers(argv);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return std::nullopt;
  }
  std::string out;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fds[0], buffer, sizeof(buffer));
    if (n > 0) {
      out.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  close(fds[0]);
  int status = WaitChild(pid);
  if (exit_status != nullptr) *exit_status = status;
  return out;
}

}  // namespace zel::service
