// The service's log writers: the service writer (LogText), the general writer (LogToFile,
// LogToFileFmt) with the exception lines (LogException) and the repeated-exception notice,
// the start-up banner and deep log mode (SetDeepLogMode, from the pass code in "Log.inf"),
// and the CSSLog row of scheduled runs (InsertServiceLog).
// Every function may be called from any thread: each line is one open-append-close.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zel::db {
class Connection;
}

namespace zel::service {

// Service writer: appends AValue (stamped "YYYY/MM/DD HH:MM:SS : " when LogTime) to
// AFileName + "(YYYY-MM-DD).Log" in the Logs folder of the home folder, or in the home
// folder itself when Logs cannot be created. IsEnableLog is carried but not used. Never
// raises: a line that cannot be written is lost.
void LogText(const std::string& AValue, const std::string& AFileName = "Log", bool LogTime = true,
             bool IsEnableLog = false);

// One argument of LogToFileFmt: a text (%s) or a number (%d).
using LogArg = std::variant<std::string, long long>;

// printf-like formatting of %s, %d, %% with an optional '-' flag and width ("%-25s").
// A missing argument formats as empty; a text given to %d, or a number to %s, is written
// as it is.
std::string FormatLogText(std::string_view format, const std::vector<LogArg>& args);

// General writer: writes the stamped line when OnlyInDeepMode is false or deep log mode is
// on. When the Logs folder is missing and cannot be created, tells the operator "امکان
// ایجاد پوشه لاگ وجود ندارد.", asks the program to stop (RequestStop) and returns without
// writing. Raises std::system_error when the file cannot be written.
void LogToFile(const std::string& Text, const std::string& BaseName, bool OnlyInDeepMode);
void LogToFileFmt(std::string_view Format, const std::string& BaseName,
                  const std::vector<LogArg>& Args, bool OnlyInDeepMode);

// Writes the three "!!EXCEPTION!!" lines for an exception caught in MethodName: the
// sender ("unit.class", or nullptr for "nil"), the exception's class and message (E may be
// null), the current errno and its text, and the caller's own formatted detail ("none"
// when Format is empty). A failure to write goes to NotifyRepeatedException. Never raises.
void LogException(const char* Sender, const std::exception* E, const std::string& MethodName,
                  std::string_view Format, const std::vector<LogArg>& Args,
                  const std::string& BaseName = "Log");
// The single-line form "SF:…; E:…; MD:…; MSG: …; …" for the class ClassName ("unit.class",
// or nullptr for "nil"). Never raises.
void LogExceptionLine(const char* ClassName, const std::exception* E, const std::string& MethodName,
                      std::string_view Format, const std::vector<LogArg>& Args,
                      const std::string& BaseName = "Log");

// In deep log mode, tells the operator about an exception at its first occurrence and at
// every tenth repeat of the same message and place (Where, without a leading "HH:MM:SS : ").
// Returns true when a notice was given.
bool NotifyRepeatedException(const std::string& Message, const std::string& Where,
                             const std::string& Source);

// Writes the start-up banner to "Log" and "LoadError.Log" and sets deep log mode from the
// pass code in "Log.inf" of the home folder (today's date coded by TZELDateEncoder).
// Called once when the program starts, before the service runs; never raises.
void SetDeepLogMode();
bool DeepLogMode();

// The text between single quotes with embedded quotes doubled.
std::string QuotedStr(std::string_view text);

// Writes one CSSLog row (schedule id, person number, today's Jalali date, time "HH:MM",
// comment, status 0) through the connection. Errors are ignored: a lost row is not
// reported.
void InsertServiceLog(db::Connection& connection, int ScheduleId, const std::string& PerNo,
                      const std::string& Comment);

}  // namespace zel::service
