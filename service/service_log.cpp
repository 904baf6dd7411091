#include "service/service_log.h"

#include <cxxabi.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <typeinfo>

#include "dates/clock.h"
#include "dates/date_encoder.h"
#include "dates/date_time.h"
#include "dates/jalali.h"
#include "dates/log_stamp.h"
#include "db/client.h"
#include "service/platform.h"
#include "util/log_file.h"
#include "util/sql_text.h"
#include "util/text.h"

namespace zel::service {

namespace {

// Deep log mode: written by SetDeepLogMode before the service runs, read afterwards.
std::mutex g_deep_mutex;
bool g_deep_log_mode = false;  // guarded by g_deep_mutex

// The last exception NotifyRepeatedException saw; guarded by g_repeat_mutex.
std::mutex g_repeat_mutex;
std::string g_last_message;
std::string g_last_where;
long long g_repeat_count = 0;

using util::LowerAscii;

std::string ClassNameOf(const std::exception& e) {
  const char* mangled = typeid(e).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

std::string Detail(std::string_view format, const std::vector<LogArg>& args) {
  return format.empty() ? std::string("none") : FormatLogText(format, args);
}

bool MatchesTimeMask(std::string_view s) {
  // "[0-9][0-9]:[0-9][0-9]:[0-9][0-9] : "
  static constexpr std::string_view kMask = "99:99:99 : ";
  if (s.size() < kMask.size()) return false;
  for (size_t i = 0; i < kMask.size(); ++i) {
    if (kMask[i] == '9' ? (s[i] < '0' || s[i] > '9') : s[i] != kMask[i]) return false;
  }
  return true;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

void LogText(const std::string& AValue, const std::string& AFileName, bool LogTime,
             bool /*IsEnableLog*/) {
  try {
    std::string folder = util::LogFolder();
    if (!util::EnsureFolder(folder)) folder = util::HomeFolder();
    util::AppendLogLine(folder, dates::LogFileName(AFileName),
                        LogTime ? dates::StampedLine(AValue) : AValue);
  } catch (...) {
    // A log line never stops the work.
  }
}

std::string FormatLogText(std::string_view format, const std::vector<LogArg>& args) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    size_t j = i + 1;
    if (j < format.size() && format[j] == '%') {
      out += '%';
      i = j;
      continue;
    }
    bool left = false;
    if (j < format.size() && format[j] == '-') {
      left = true;
      ++j;
    }
    size_t width = 0;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9') {
      width = width * 10 + static_cast<size_t>(format[j] - '0');
      ++j;
    }
    if (j >= format.size() || (format[j] != 's' && format[j] != 'd')) {
      out.append(format.substr(i, j - i));  // not a conversion: keep the text
      i = j - 1;
      continue;
    }
    std::string value;
    if (next < args.size()) {
      const LogArg& a = args[next];
      value = std::holds_alternative<std::string>(a) ? std::get<std::string>(a)
                                                     : std::to_string(std::get<long long>(a));
    }
    ++next;
    if (value.size() < width) {
      std::string pad(width - value.size(), ' ');
      value = left ? value + pad : pad + value;
    }
    out += value;
    i = j;
  }
  return out;
}

void LogToFile(const std::string& Text, const std::string& BaseName, bool OnlyInDeepMode) {
  if (OnlyInDeepMode && !DeepLogMode()) return;
  const std::string folder = util::LogFolder();
  if (!util::EnsureFolder(folder)) {
    NotifyOperator("خطا", "امکان ایجاد پوشه لاگ وجود ندارد.");
    RequestStop();
    return;
  }
  util::AppendLogLine(folder, dates::LogFileName(BaseName), dates::StampedLine(Text));
}

void LogToFileFmt(std::string_view Format, const std::string& BaseName,
                  const std::vector<LogArg>& Args, bool OnlyInDeepMode) {
  LogToFile(FormatLogText(Format, Args), BaseName, OnlyInDeepMode);
}

void LogException(const char* Sender, const std::exception* E, const std::string& MethodName,
                  std::string_view Format, const std::vector<LogArg>& Args,
                  const std::string& BaseName) {
  const int error_code = errno;  // first, before anything else can change it
  try {
    const std::string slf = Sender ? Sender : "nil";
    const std::string exp = E ? ClassNameOf(*E) : "nil";
    // No stack trace is kept with a C++ exception; the trace part stays empty.
    const std::string msg = FormatLogText("%s (TR: %s)", {E ? E->what() : "", std::string()});
    const std::string lem = std::strerror(error_code);
    LogToFileFmt("!!EXCEPTION!!: SLF:%-25s; EXP:%-25s; MTD:%-25s;", BaseName,
                 {slf, exp, MethodName}, false);
    LogToFileFmt("!!EXCEPTION!!: MSG:%-25s; LEC:%-25d; LEM:%-25s;", BaseName,
                 {msg, static_cast<long long>(error_code), lem}, false);
    LogToFileFmt("!!EXCEPTION!!: ADD:%-25s;", BaseName, {Detail(Format, Args)}, false);
  } catch (const std::exception& failure) {
    NotifyRepeatedException(failure.what(), MethodName, "LogException");
  }
}

void LogExceptionLine(const char* ClassName, const std::exception* E, const std::string& MethodName,
                      std::string_view Format, const std::vector<LogArg>& Args,
                      const std::string& BaseName) {
  try {
    LogToFileFmt("SF:%-25s; E:%-25s; MD:%-25s; MSG: %s; %s", BaseName,
                 {ClassName ? ClassName : "nil", E ? ClassNameOf(*E) : "nil", MethodName,
                  E ? E->what() : "", Detail(Format, Args)},
                 false);
  } catch (const std::exception& failure) {
    NotifyRepeatedException(failure.what(), MethodName, "LogException");
  }
}

bool NotifyRepeatedException(const std::string& Message, const std::string& Where,
                             const std::string& Source) {
  if (!DeepLogMode()) return false;
  std::string where = MatchesTimeMask(Where) ? Where.substr(11) : Where;
  std::string notice;
  {
    std::lock_guard lock(g_repeat_mutex);
    if (LowerAscii(Message) != LowerAscii(g_last_message) ||
        LowerAscii(where) != LowerAscii(g_last_where)) {
      g_last_message = Message;
      g_last_where = where;
      g_repeat_count = 0;
    } else {
      ++g_repeat_count;
    }
    if (g_repeat_count % 10 != 0) return false;
    notice = FormatLogText("Exception in \"%s\"(%d), MSG:%s, DAT: %s",
                           {Source, g_repeat_count, g_last_message, g_last_where});
  }
  NotifyOperator("Log Exception", notice);
  return true;
}

bool DeepLogMode() {
  std::lock_guard lock(g_deep_mutex);
  return g_deep_log_mode;
}

namespace {
void SetDeep(bool on) {
  std::lock_guard lock(g_deep_mutex);
  g_deep_log_mode = on;
}

void ToBoth(const std::string& text) {
  try {
    LogToFile(text, "Log", false);
    LogToFile(text, "LoadError.Log", false);
  } catch (...) {
    // A log line never stops the work.
  }
}
}  // namespace

void SetDeepLogMode() {
  SetDeep(false);
  const std::string rule(62, '#');
  for (const char* base : {"Log", "LoadError.Log"}) {
    try {
      LogToFile(rule, base, false);
      LogToFile("      LOGGING STARTED", base, false);
      LogToFile(rule, base, false);
    } catch (...) {
      // A log line never stops the work.
    }
  }
  const std::string path = util::HomeFolder() + "/Log.inf";
  std::ifstream probe(path);
  if (!probe) return;
  probe.close();
  std::string text;
  try {
    text = util::TrimControls(ReadFile(path));
    bool on = dates::TZELDateEncoder::CheckEncoded(text, dates::Today());
    SetDeep(on);
    ToBoth(on ? "DeepLOGMode enabled" : "wrong pass code! " + text);
  } catch (const std::exception& e) {
    try {
      LogToFileFmt("SetDeepLogMode Exeption: %s, Msg: %s, Txt: %s", "LoadError.Log",
                   {ClassNameOf(e), std::string(e.what()), text}, false);
    } catch (...) {
      // A log line never stops the work.
    }
    LogExceptionLine("service.TZELKLCalculateService", &e, "SetDeepLogMode", "", {}, "Log");
    ToBoth("wrong pass code! " + text);
  }
}

std::string QuotedStr(std::string_view text) { return util::SqlQuoted(text); }

void InsertServiceLog(db::Connection& connection, int ScheduleId, const std::string& PerNo,
                      const std::string& Comment) {
  try {
    const std::string date = dates::JalaliToday();
    const std::string time = dates::NowTime_HHNNSS().substr(0, 5);
    std::string sql = " Insert Into CSSLog \n";
    sql += " (ScheduleId, PerNo, LogDate, LogTime, Comment, Status) \n";
    sql += " Values(" + std::to_string(ScheduleId) + ",\n";
    sql += " " + QuotedStr(PerNo) + ", " + QuotedStr(date) + ", " + QuotedStr(time) + ",\n";
    sql += " " + QuotedStr(Comment) + ", 0) \n";
    connection.Execute(sql);
  } catch (...) {
    // A lost row is not reported.
  }
}

}  // namespace zel::service
