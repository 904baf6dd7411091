// The commands of `zelkl-calc`: each takes its parsed options, works in the home folder
// set for the process (util/log_file.h), prints what it did, and returns the exit code
// (0 done, 1 failed — with the reason on stderr). Called from main on the main thread.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "engine/demo/demo_organisation.h"

namespace zel::app {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// The service in the foreground until SIGTERM or SIGINT.
int RunService(std::chrono::milliseconds first_pass_after);
// One schedule pass now.
int Tick();

struct CalcOptions {
  std::string kind;  // "daily", "monthly" or "periodic"
  int year = 0;
  std::string from, to;              // "MM/DD" (daily) or numbers 1..12
  std::vector<std::string> persons;  // empty: every person
};
// The argument error of a calc command line (bad year, range or order), nullopt when fine.
std::optional<std::string> CheckCalcOptions(const CalcOptions& options);
int Calc(const CalcOptions& options);

struct ExplainOptions {
  int year = 0;
  std::string person;
  std::string date;             // "MM/DD"; empty with a month
  int month = 0;                // 1..12: every day of the month instead of one date
  std::string format = "text";  // text, svg or json
};
// The argument error of an explain command line, nullopt when fine.
std::optional<std::string> CheckExplainOptions(const ExplainOptions& options);
// Explains a person's day (or month of days) as the daily engine calculates it now, writing
// nothing, in the chosen format on stdout.
int Explain(const ExplainOptions& options);
// Labels the untransferred punches of the year (0: this year) of every person of Person
// entry or exit, and prints how many got which label.
int TransferClock(int year);
// The IO transfer of every person's labelled punches of the year (0: this Jalali year) into
// IoInfo, as the schedule runs it; only the certain ones with certain_only. Prints the
// records inserted, completed and failed and the punches deleted, marked and kept.
int TransferIo(int year, bool certain_only);
// zelkl-calc transfer service-late|leave|mission: kind 1, 2 or 3 of the record transfer.
int TransferPermission(int year, int kind);

int DbInit(const std::vector<int>& years);
// Puts the demo organisation into the embedded home, setting the home up first when it has
// no databases yet; prints what was written.
int DbDemo(engine::demo::DemoOptions options);
// Runs the T-SQL of the file (or the text) batch by batch on the configured server.
int Sql(const std::string& database, const std::string& file, const std::string& text);

// The calculation hold (Semaphor "CALC") for the operator: "status" prints who holds it;
// "release" frees it when its holder is gone (this computer, process no longer running),
// and with `force` also a live or another computer's hold.
int Hold(const std::string& action, bool force);

int Install();
int Uninstall();
int Version();
// Asks for the SQL password and stores it scrambled as USERPASSWORD in Korlan.Ini.
int Password();
// Prints today's pass code for Log.inf.
int Passcode();

}  // namespace zel::app
