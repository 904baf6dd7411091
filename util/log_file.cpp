#include "util/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <unordered_map>

#include "util/text.h"

namespace zel::util {
namespace {

struct HomeState {
  std::mutex mutex;
  std::string folder;  // guarded by mutex; empty = the executable's folder
};

HomeState& Home() {
  static HomeState state;
  return state;
}

// Chosen spelling of each log file, keyed by folder + "/" + lower-case name.
struct PathCache {
  std::mutex mutex;
  std::unordered_map<std::string, std::string> paths;  // guarded by mutex
};

PathCache& Cache() {
  static PathCache cache;
  return cache;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// The existing entry of folder whose name equals file_name ignoring ASCII case, or "".
std::string FindCaseInsensitive(const std::string& folder, const std::string& file_name) {
  const std::string wanted = LowerAscii(file_name);
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() == file_name.size() && LowerAscii(name) == wanted) return name;
  }
  return {};
}

}  // namespace

std::string ExecutableFolder() {
  static const std::string folder = [] {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return std::string(".");
    return exe.parent_path().string();
  }();
  return folder;
}

void SetHomeFolder(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  HomeState& h = Home();
  std::lock_guard lock(h.mutex);
  h.folder = std::move(folder);
}

std::string HomeFolder() {
  {
    HomeState& h = Home();
    std::lock_guard lock(h.mutex);
    if (!h.folder.empty()) return h.folder;
  }
  return ExecutableFolder();
}

std::string LogFolder() { return HomeFolder() + "/Logs"; }

bool EnsureFolder(const std::string& folder) noexcept {
  try {
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) return true;
    std::filesystem::create_directories(folder, ec);
    return std::filesystem::is_directory(folder, ec);
  } catch (...) {
    return false;
  }
}

std::string ResolveLogPath(const std::string& folder, const std::string& file_name) {
  const std::string key = folder + "/" + LowerAscii(file_name);
  PathCache& cache = Cache();
  std::lock_guard lock(cache.mutex);
  auto it = cache.paths.find(key);
  if (it != cache.paths.end() && FileExists(it->second)) return it->second;
  std::string name = FindCaseInsensitive(folder, file_name);
  std::string path;
  if (!name.empty()) {
    path = folder + "/" + name;
  } else if (it != cache.paths.end()) {
    path = it->second;  // keep the spelling chosen first until that file exists
  } else {
    path = folder + "/" + file_name;
  }
  cache.paths[key] = path;
  return path;
}

void AppendLine(const std::string& path, std::string_view line) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + path);
  std::string data(line);
  data.push_back('\n');
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, p, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      throw std::system_error(err, std::generic_category(), "cannot write " + path);
    }
    p += written;
    left -= static_cast<size_t>(written);
  }
  if (::close(fd) != 0) {
    throw std::system_error(errno, std::generic_category(), "cannot close " + path);
  }
}

void AppendLogLine(const std::string& folder, const std::string& file_name, std::string_view line) {
  AppendLine(ResolveLogPath(folder, file_name), line);
}

}  // namespace zel::util
