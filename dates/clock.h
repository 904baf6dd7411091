// The process clock: the local date and time every part of the service reads as "now".
// By default it follows the system clock. For replay and tests it can be set to a Jalali
// moment, through the environment variable ZEL_NOW="YYYY/MM/DD HH:MM" (read on first use)
// or SetNowJalali (the command line's --now); from that moment the clock runs on with real
// elapsed time, unless it is set frozen. Thread-safe: any thread may read or set it.
#pragma once

#include <string>
#include <string_view>

#include "dates/date_time.h"

namespace zel::dates {

// The environment variable that fixes the process clock's starting moment.
inline constexpr const char* kNowEnvironmentVariable = "ZEL_NOW";

// Local date and time as a serial value. Raises std::invalid_argument when ZEL_NOW is set to
// a value that is not a Jalali "YYYY/MM/DD HH:MM" moment (and nothing else set the clock).
DateTime Now();
// Whole days of Now().
DateTime Today();
// The time of day of Now() as "HH:MM:SS".
std::string NowTime_HHNNSS();

// Parses a Jalali moment "YYYY/MM/DD HH:MM" (seconds ":SS" optional) into a serial value;
// raises std::invalid_argument naming the text when it is not one.
DateTime ParseJalaliMoment(std::string_view text);
// Sets the clock to the moment; it runs on from there unless frozen.
void SetNow(DateTime moment, bool frozen = false);
// SetNow of ParseJalaliMoment(text).
void SetNowJalali(std::string_view text, bool frozen = false);
// Back to the system clock (ZEL_NOW is not read again).
void ResetNow();
// Reads ZEL_NOW now instead of on first use, so a bad value is reported at start-up; does
// nothing when the variable is unset or empty. Raises std::invalid_argument for a bad value.
// Call it before SetNowJalali, so that a command-line moment wins over the environment.
void LoadNowFromEnvironment();
// True when the clock was set (by ZEL_NOW or a setter) rather than following the system.
bool IsNowOverridden();

}  // namespace zel::dates
