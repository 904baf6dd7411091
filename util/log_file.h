// Home-folder and log-file primitives every log writer shares: the home folder (default the
// executable's folder) and its Logs folder, and the open-append-close of one line. File names
// are case-insensitive: a line goes to the existing file whose name differs only in ASCII
// case, else to a new file spelt as first asked. (Dated names and stamps: dates/log_stamp.h.)
// Thread-safe: any thread may call these.
#pragma once

#include <string>
#include <string_view>

namespace zel::util {

// The folder of the running executable (from /proc/self/exe); "." when it cannot be read.
std::string ExecutableFolder();
// Sets the home folder for the whole process (the --home option); empty restores the default.
void SetHomeFolder(std::string folder);
// The home folder: the one set, else the executable's folder. No trailing separator.
std::string HomeFolder();
// HomeFolder() + "/Logs".
std::string LogFolder();

// Creates the folder (and its parents) when missing; true when it exists afterwards.
bool EnsureFolder(const std::string& folder) noexcept;
// folder + "/" + the existing file whose name equals file_name ignoring ASCII case, or
// file_name itself when there is none. Remembers the choice, so every thread writing one
// base name under different case uses one file.
std::string ResolveLogPath(const std::string& folder, const std::string& file_name);
// Opens path for appending (creating it), writes line and a line end, closes. Raises
// std::system_error when the file cannot be opened or written.
void AppendLine(const std::string& path, std::string_view line);
// AppendLine(ResolveLogPath(folder, file_name), line).
void AppendLogLine(const std::string& folder, const std::string& file_name, std::string_view line);

}  // namespace zel::util
