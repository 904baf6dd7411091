// Log-file primitives every log writer shares: the home folder (default the executable's
// folder) and its Logs folder, log file names with today's Jalali date, the stamped line
// "YYYY/MM/DD HH:MM:SS : text", and the open-append-close of one line. Base names are
// case-insensitive: a line goes to the existing file whose name differs only in ASCII case,
// else to a new file spelt as first asked. Thread-safe: any thread may call these.
#pragma once

#include <string>
#include <string_view>

#include "dates/date_time.h"

namespace zel::dates {

// The folder of the running executable (from /proc/self/exe); "." when it cannot be read.
std::string ExecutableFolder();
// Sets the home folder for the whole process (the --home option); empty restores the default.
void SetHomeFolder(std::string folder);
// The home folder: the one set, else the executable's folder. No trailing separator.
std::string HomeFolder();
// HomeFolder() + "/Logs".
std::string LogFolder();

// "(YYYY-MM-DD)" of today's Jalali date; raises when the date cannot be formed.
std::string LogDatePart();
// base_name + "(YYYY-MM-DD)" + suffix + ".Log" with today's Jalali date, or base_name + ".Log"
// when the date cannot be formed. Never raises.
std::string LogFileName(std::string_view base_name, std::string_view suffix = {});
// The line with its stamp: Jalali date of the moment, " ", "HH:MM:SS", " : ", text.
std::string StampedLine(std::string_view text, TDateTime moment);
// StampedLine with Now(); when the clock cannot be read the stamp is left out.
std::string StampedLine(std::string_view text);

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

}  // namespace zel::dates
