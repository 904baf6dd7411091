#include "dates/clock.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <stdexcept>

#include "dates/jalali.h"
#include "util/text.h"

namespace zel::dates {
namespace {

enum class Mode { kSystem, kRunning, kFrozen };

struct ClockState {
  std::mutex mutex;
  // Guarded by mutex:
  Mode mode = Mode::kSystem;
  bool environment_read = false;
  DateTime anchor = 0;  // the moment set
  std::chrono::steady_clock::time_point anchor_steady;
};

ClockState& State() {
  static ClockState state;
  return state;
}

DateTime SystemNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
         EncodeTime(local.tm_hour, local.tm_min, local.tm_sec,
                    static_cast<int>(ts.tv_nsec / 1000000));
}

void SetLocked(ClockState& s, DateTime moment, bool frozen) {
  s.mode = frozen ? Mode::kFrozen : Mode::kRunning;
  s.anchor = moment;
  s.anchor_steady = std::chrono::steady_clock::now();
  s.environment_read = true;
}

// Reads ZEL_NOW once; a bad value raises and is read again on the next call.
void ReadEnvironmentLocked(ClockState& s) {
  if (s.environment_read) return;
  const char* value = std::getenv(kNowEnvironmentVariable);
  if (value == nullptr || *value == '\0') {
    s.environment_read = true;
    return;
  }
  DateTime moment = 0;
  try {
    moment = ParseJalaliMoment(value);
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument(std::string(kNowEnvironmentVariable) + ": " + e.what());
  }
  SetLocked(s, moment, false);
}

bool Digits(std::string_view text, size_t pos, size_t count) {
  for (size_t i = pos; i < pos + count; ++i) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

}  // namespace

DateTime ParseJalaliMoment(std::string_view text) {
  const std::string raw(text);
  const std::string t = util::TrimControls(text);
  const auto fail = [&raw]() -> std::invalid_argument {
    return std::invalid_argument("expected a Jalali moment \"YYYY/MM/DD HH:MM\", got \"" + raw +
                                 "\"");
  };
  const bool with_seconds = t.size() == 19;
  if ((t.size() != 16 && !with_seconds) || !Digits(t, 0, 4) || t[4] != '/' || !Digits(t, 5, 2) ||
      t[7] != '/' || !Digits(t, 8, 2) || t[10] != ' ' || !Digits(t, 11, 2) || t[13] != ':' ||
      !Digits(t, 14, 2) || (with_seconds && (t[16] != ':' || !Digits(t, 17, 2)))) {
    throw fail();
  }
  const int year = StrToInt(t.substr(0, 4));
  const int month = StrToInt(t.substr(5, 2));
  const int day = StrToInt(t.substr(8, 2));
  const int hour = StrToInt(t.substr(11, 2));
  const int minute = StrToInt(t.substr(14, 2));
  const int second = with_seconds ? StrToInt(t.substr(17, 2)) : 0;
  DateTime date = 0;
  if (!TryEncodeJalaliDate(year, month, day, date) || date < 1 || hour > 23 || minute > 59 ||
      second > 59) {
    throw fail();
  }
  return date + EncodeTime(hour, minute, second, 0);
}

DateTime Now() {
  ClockState& s = State();
  std::unique_lock lock(s.mutex);
  ReadEnvironmentLocked(s);
  switch (s.mode) {
    case Mode::kSystem:
      lock.unlock();
      return SystemNow();
    case Mode::kFrozen:
      return s.anchor;
    case Mode::kRunning: {
      const auto elapsed = std::chrono::steady_clock::now() - s.anchor_steady;
      const double days = std::chrono::duration<double>(elapsed).count() / 86400.0;
      return s.anchor + days;
    }
  }
  return SystemNow();
}

DateTime Today() { return static_cast<DateTime>(DateOf(Now())); }

std::string NowTime_HHNNSS() { return FormatTime_HHNNSS(Now()); }

void SetNow(DateTime moment, bool frozen) {
  ClockState& s = State();
  std::lock_guard lock(s.mutex);
  SetLocked(s, moment, frozen);
}

void SetNowJalali(std::string_view text, bool frozen) { SetNow(ParseJalaliMoment(text), frozen); }

void ResetNow() {
  ClockState& s = State();
  std::lock_guard lock(s.mutex);
  s.mode = Mode::kSystem;
  s.environment_read = true;
}

void LoadNowFromEnvironment() {
  ClockState& s = State();
  std::lock_guard lock(s.mutex);
  s.environment_read = false;
  ReadEnvironmentLocked(s);
}

bool IsNowOverridden() {
  ClockState& s = State();
  std::lock_guard lock(s.mutex);
  ReadEnvironmentLocked(s);
  return s.mode != Mode::kSystem;
}

}  // namespace zel::dates
