// The operator's view of the service at a glance (`zelkl-calc status`): every schedule entry
// with its last completed run and the next moment it is due, the calculation hold, the last
// schedule pass as the log files tell it, the intake backlog (punches waiting, punches kept
// and why, permission requests waiting), today's CSSLog rows by kind and the year databases.
// Everything here only reads. Called on one thread with a connection of that thread.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "db/client.h"
#include "service/config.h"
#include "service/schedule.h"

namespace zel::db {
class Connection;
}

namespace zel::service {

// The first moment "YYYY/MM/DD HH:MM", from today at `now` on, at which the schedule's rule
// (MustRunIt) holds for the entry as it stands, i.e. if it does not run before; looked for
// over `horizon_days` days. nullopt when it is not due within them (a weekday mask of no
// day, a monthly day no month has). Raises std::runtime_error for an entry or today whose
// dates cannot be read.
std::optional<std::string> NextDueMoment(const ScheduleEntry& entry, const std::string& today,
                                         const std::string& now, int horizon_days = 400);

// The kind of a CSSLog comment, for counting rows: the message without the leading
// "<name> (<person>) (<day>): " of a person's report, every run of digits written "#".
std::string CSSLogKind(const std::string& comment);

// The last schedule pass as the service's log files in `log_folder` tell it: the newest
// "Log(YYYY-MM-DD).Log" holding a pass start ("CurDate ==>> "), the entries found due in it
// and its error lines, with those of "Error Thread Action" and "ErrorTransfer" of that day
// written since the pass began.
struct PassOutcome {
  std::string log_file;             // file name of the pass's log
  std::string started;              // "YYYY/MM/DD HH:MM:SS" of its first line
  std::string last_line;            // stamp of its last line so far
  std::vector<int> due;             // ScheduleIds found due, in pass order
  std::vector<std::string> errors;  // error lines (text after the stamp), in order
};
// nullopt when no log file holds a pass (or the folder cannot be read).
std::optional<PassOutcome> LastPassFromLogs(const std::string& log_folder);

struct EntryStatus {
  ScheduleEntry entry;
  std::optional<CalcRange> range;       // the range the entry would calculate today
  std::optional<std::string> next_due;  // see NextDueMoment
  std::string error;                    // why the due moment or range could not be worked out
};

struct HoldStatus {
  bool row = false;  // Semaphor has the CALC row
  long long amount = 0;
  std::string holder;  // "host:pid", empty when free or unnamed
  bool this_computer = false;
  std::optional<long> pid;
  std::optional<bool> alive;   // known only for a process of this computer
  std::string holder_started;  // "YYYY/MM/DD HH:MM:SS" the holding process started
  int calc_or_service = 0;     // System.KorlanCalcOrService (3: passes are skipped)
};

struct KeptReason {
  std::string reason;
  long long reports = 0;  // (person, card, day) still waiting with this reason
  long long punches = 0;
};

struct WaitingRequests {
  std::string table;  // TmpMor, TmpMam, TmpSLate
  long long uncertain = 0;
  long long collision = 0;
  long long other = 0;  // certain, not moved yet
};

struct LogKind {
  std::string kind;
  long long rows = 0;
};

struct StatusReport {
  std::string today;  // "YYYY/MM/DD"
  std::string now;    // "HH:MM"
  std::string year;   // the year database looked at
  std::string database_name;
  std::vector<EntryStatus> schedule;
  HoldStatus hold;
  std::optional<PassOutcome> last_pass;
  // Punches of ClockDmp not transferred yet, by the age of their day.
  long long punches_waiting = 0;
  long long waiting_today = 0, waiting_1_7 = 0, waiting_8_30 = 0, waiting_older = 0;
  long long waiting_bad_date = 0;  // a day that is not a date
  std::string oldest_waiting;      // "YYYY/MM/DD", empty when none
  long long punches_marked = 0;    // kept for the permission transfer (TRANSFERED 1)
  std::vector<KeptReason> kept;
  std::vector<WaitingRequests> requests;
  long long log_rows_today = 0;
  std::vector<LogKind> log_kinds;  // most rows first
  std::vector<std::string> year_databases;
};

// Reads everything but the log files through `base` (a connection to the base database
// `database_name`), for the year database of `year`, at the moment today/now; the last pass
// from `log_folder`. Raises zel::db::DbError (or std::runtime_error) when a table cannot be
// read or the year database does not exist.
StatusReport GatherStatus(db::Connection& base, const std::string& database_name,
                          const std::string& year, const std::string& log_folder,
                          const std::string& today, const std::string& now);

// The year a status looks at by default: CalcYear of the first schedule entry, as the
// service starts with, else the year of today. Raises zel::db::DbError.
std::string DefaultStatusYear(db::Connection& base, const std::string& today);

// One screen of text, and the same as one JSON object (its shape is in docs/status.md).
std::string FormatStatusText(const StatusReport& report);
std::string FormatStatusJson(const StatusReport& report);

// `zelkl-calc status` in the home folder: the report of `year` (empty: DefaultStatusYear) at
// the process clock's moment, as "text" or "json" on `out`. Returns 0 when it could read,
// 1 (the reason on `err`) when the configuration or the databases cannot be used. Creates
// nothing: a home without its embedded databases is reported, not set up.
int StatusCommand(const std::string& home, const std::string& year, const std::string& format,
                  std::ostream& out, std::ostream& err);

// The configuration as the service reads it, leaving the file as it is: the service adds a
// missing EnableLog key to the file it reads, so a file without one is read from a copy.
ServiceConfig ReadConfigOnly(const std::string& ini);

// Runs a command that only reads (status, changes) on the home's base database: `work` gets
// the connection and the configuration (read as ReadConfigOnly does) and returns the exit
// code. Returns 1, with "zelkl-calc: <command>: <why>" on `err`, when the home cannot be used
// (no Korlan.Ini, no DATABASENAME, no embedded databases) or reading raised.
int ReadOnlyCommand(const std::string& home, const std::string& command, std::ostream& err,
                    const std::function<int(db::Connection&, const ServiceConfig&)>& work);

}  // namespace zel::service
