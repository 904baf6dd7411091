#include "service/status.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "dates/clock.h"
#include "dates/date_parser.h"
#include "dates/date_time.h"
#include "dates/jalali.h"
#include "db/ado_utils.h"
#include "db/client.h"
#include "explain/render.h"
#include "management/calc_hold.h"
#include "service/calculate_service.h"
#include "service/config.h"
#include "util/parse_int.h"
#include "util/sql_text.h"
#include "util/text.h"

namespace zel::service {

namespace {

namespace fs = std::filesystem;
using explain::JsonEscape;

constexpr int kMinutesPerDay = 1440;

// What the IO transfer writes in CSSLog for punches it leaves in ClockDmp.
constexpr std::string_view kKeptPrefix = "Punches kept in ClockDmp for a later transfer: ";

std::string HHMM(int minute) {
  return dates::PadNumber(minute / 60, 2) + ":" + dates::PadNumber(minute % 60, 2);
}

// Serial day of a Jalali "YYYY/MM/DD"; nullopt when it is not a date.
std::optional<long long> JalaliSerial(const std::string& text) {
  const std::string t = util::TrimWhitespace(text);
  if (t.size() != 10 || t[4] != '/' || t[7] != '/') return std::nullopt;
  const auto y = util::ParseInt<int>(t.substr(0, 4));
  const auto m = util::ParseInt<int>(t.substr(5, 2));
  const auto d = util::ParseInt<int>(t.substr(8, 2));
  dates::DateTime serial = 0;
  if (!y || !m || !d || !dates::TryEncodeJalaliDate(*y, *m, *d, serial)) return std::nullopt;
  return dates::DateOf(serial);
}

std::string JalaliText(long long serial) {
  const dates::JalaliDate d = dates::DecodeJalaliDate(static_cast<dates::DateTime>(serial));
  return dates::TZELDateParser::Format_YYYYMMDD(d.year, d.month, d.day);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

// --- when an entry is due next ---------------------------------------------------------

std::optional<std::string> NextDueMoment(const ScheduleEntry& entry, const std::string& today,
                                         const std::string& now, int horizon_days) {
  const auto first_day = JalaliSerial(today);
  const std::string t = util::TrimWhitespace(now);
  int now_minute = -1;
  if (t.size() == 5 && t[2] == ':') {
    const int h = util::ParseInt<int>(t.substr(0, 2)).value_or(99);
    const int m = util::ParseInt<int>(t.substr(3, 2)).value_or(99);
    if (h < 24 && m < 60) now_minute = h * 60 + m;
  }
  if (!first_day || now_minute < 0) {
    throw std::runtime_error("'" + today + " " + now + "' is not a moment");
  }
  for (int i = 0; i <= horizon_days; ++i) {
    const std::string date = JalaliText(*first_day + i);
    const auto due = [&](int minute) { return MustRunIt(entry, date, HHMM(minute)); };
    // The entry is never due before its start time ("HH:MM" texts compare as times).
    int lo = i == 0 ? now_minute : 0;
    for (int end = kMinutesPerDay; lo < end;) {
      const int mid = lo + (end - lo) / 2;
      if (HHMM(mid) < entry.StartTime) {
        lo = mid + 1;
      } else {
        end = mid;
      }
    }
    if (lo == kMinutesPerDay) continue;
    if (due(lo)) return date + " " + HHMM(lo);
    // Once its start time has come, an entry that is not due becomes due later that day only
    // when enough time has passed since its last run, and then stays due: the first due
    // minute is found by halving.
    int hi = kMinutesPerDay - 1;
    if (!due(hi)) continue;
    while (hi - lo > 1) {
      const int mid = lo + (hi - lo) / 2;
      (due(mid) ? hi : lo) = mid;
    }
    return date + " " + HHMM(hi);
  }
  return std::nullopt;
}

// --- CSSLog kinds ----------------------------------------------------------------------

std::string CSSLogKind(const std::string& comment) {
  std::string text = util::TrimWhitespace(comment);
  // A person's day: "<name> (<person>) (<MM/DD>): <message>".
  const auto pair = text.find(") (");
  if (pair != std::string::npos && text.compare(pair + 8, 3, "): ") == 0) {
    text = text.substr(pair + 11);
  }
  std::string kind;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (!digit) {
      kind += text[i];
    } else if (i == 0 || !(text[i - 1] >= '0' && text[i - 1] <= '9')) {
      kind += '#';
    }
  }
  return kind;
}

// --- the last pass from the log files --------------------------------------------------

namespace {

// The date part "YYYY-MM-DD" of a file name base + "(YYYY-MM-DD).Log" (case-insensitive),
// empty when the name is not of that form.
std::string DatedLogName(const std::string& name, std::string_view base) {
  const std::string lower = util::LowerAscii(name);
  const std::string want = util::LowerAscii(base) + "(";
  if (lower.size() != want.size() + 15 || !StartsWith(lower, want) ||
      lower.compare(want.size() + 10, 5, ").log") != 0) {
    return "";
  }
  return name.substr(want.size(), 10);
}

// A stamped line "YYYY/MM/DD HH:MM:SS : text" split; false when it has no stamp.
bool SplitStamp(const std::string& line, std::string& stamp, std::string& text) {
  if (line.size() < 22 || line.compare(19, 3, " : ") != 0 || line[4] != '/' || line[13] != ':') {
    return false;
  }
  stamp = line.substr(0, 19);
  text = util::TrimRight(line.substr(22), "\r");
  return true;
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The error lines of another log of the day written since `since`, named by the log.
void AddErrorsSince(const fs::path& folder, const std::string& base, const std::string& date,
                    const std::string& since, std::vector<std::string>& errors) {
  std::error_code ec;
  for (const auto& file : fs::directory_iterator(folder, ec)) {
    if (DatedLogName(file.path().filename().string(), base) != date) continue;
    std::string stamp, text;
    for (const auto& line : ReadLines(file.path())) {
      if (SplitStamp(line, stamp, text) && stamp >= since) errors.push_back(base + ": " + text);
    }
  }
}

std::optional<PassOutcome> PassOfFile(const fs::path& path) {
  const std::vector<std::string> lines = ReadLines(path);
  std::string stamp, text;
  size_t start = lines.size();
  for (size_t i = lines.size(); i-- > 0;) {
    if (SplitStamp(lines[i], stamp, text) && StartsWith(text, "CurDate ==>> ")) {
      start = i;
      break;
    }
  }
  if (start == lines.size()) return std::nullopt;
  PassOutcome pass;
  pass.log_file = path.filename().string();
  for (size_t i = start; i < lines.size(); ++i) {
    if (!SplitStamp(lines[i], stamp, text)) continue;
    if (pass.started.empty()) pass.started = stamp;
    pass.last_line = stamp;
    constexpr std::string_view kDue = "After Must Run It ==> ScheduleId = ";
    if (StartsWith(text, kDue)) {
      if (auto id = util::ParseInt<int>(util::TrimWhitespace(text.substr(kDue.size())))) {
        pass.due.push_back(*id);
      }
    } else if (StartsWith(text, "Error")) {
      pass.errors.push_back(text);
    }
  }
  return pass;
}

}  // namespace

std::optional<PassOutcome> LastPassFromLogs(const std::string& log_folder) {
  std::vector<std::pair<std::string, fs::path>> logs;  // date part, path
  std::error_code ec;
  for (const auto& file : fs::directory_iterator(log_folder, ec)) {
    const std::string date = DatedLogName(file.path().filename().string(), "Log");
    if (!date.empty()) logs.emplace_back(date, file.path());
  }
  std::sort(logs.begin(), logs.end(), [](const auto& a, const auto& b) { return a > b; });
  for (const auto& [date, path] : logs) {
    auto pass = PassOfFile(path);
    if (!pass) continue;
    for (const char* other : {"Error Thread Action", "ErrorTransfer"}) {
      AddErrorsSince(log_folder, other, date, pass->started, pass->errors);
    }
    return pass;
  }
  return std::nullopt;
}

// --- reading the databases -------------------------------------------------------------

namespace {

void ReadSchedule(db::Connection& base, const std::string& today, const std::string& now,
                  StatusReport& r) {
  // The pass's own reading of the table, in the order the pass runs the entries.
  db::Dataset schedule(base);
  schedule.SetSQL(ScheduleQueryLines());
  schedule.Open();
  for (; !schedule.Eof(); schedule.Next()) {
    EntryStatus s;
    s.entry = ScheduleEntryFromRow(schedule);
    try {
      s.range =
          s.entry.CalcType == 0 ? DailyRange(s.entry, today) : MonthOrPeriodRange(s.entry, today);
      s.next_due = NextDueMoment(s.entry, today, now);
    } catch (const std::exception& e) {
      s.error = e.what();
    }
    r.schedule.push_back(std::move(s));
  }
}

// The start of a process of this computer as a Jalali moment; empty when unknown.
std::string ProcessStarted(long pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');  // the command name may hold blanks
  if (close == std::string::npos) return "";
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
  }
  const auto ticks = util::ParseInt<long long>(field);
  std::ifstream proc_stat("/proc/stat");
  long long boot = 0;
  for (std::string key; proc_stat >> key;) {
    if (key == "btime") proc_stat >> boot;
  }
  const long hz = sysconf(_SC_CLK_TCK);
  if (!ticks || boot == 0 || hz <= 0) return "";
  const time_t started = static_cast<time_t>(boot + *ticks / hz);
  tm local{};
  localtime_r(&started, &local);
  const dates::DateTime moment =
      dates::EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
      dates::EncodeTime(local.tm_hour, local.tm_min, local.tm_sec, 0);
  return JalaliText(dates::DateOf(moment)) + " " + dates::FormatTime_HHNNSS(moment);
}

void ReadHold(db::Connection& base, HoldStatus& h) {
  const int code = *SemaphoreCode(SemaphoreCodeTable(), "CALC");
  const management::HoldState state = management::ReadCalcHold(base, code);
  h.row = state.row;
  h.amount = state.amount;
  if (state.amount > 0) {
    h.holder = state.holder;
    const management::HoldHolder holder = management::ParseHoldHolder(state.holder);
    h.this_computer = management::HolderIsThisComputer(holder);
    h.pid = holder.pid;
    if (h.this_computer && holder.pid) {
      h.alive = !management::HolderIsGone(holder);
      if (*h.alive) h.holder_started = ProcessStarted(*holder.pid);
    }
  }
  const db::ResultSet flag = base.Execute(" Select KorlanCalcOrService \n From System \n");
  if (!flag.rows.empty() && !flag.rows[0][0].IsNull()) {
    h.calc_or_service = static_cast<int>(flag.rows[0][0].AsInteger());
  }
}

// Waiting punches by age; returns "person|day" of every day with punches waiting.
std::set<std::string> ReadPunches(db::Connection& base, const std::string& today, StatusReport& r) {
  const db::ResultSet rows = base.Execute(
      "SELECT PerNo, ClockDate, Transfered, COUNT(*) AS Punches FROM ClockDmp "
      "GROUP BY PerNo, ClockDate, Transfered");
  const long long now = *JalaliSerial(today);
  std::set<std::string> waiting_days;
  for (const auto& row : rows.rows) {
    const long long n = row[3].AsInteger();
    if (!row[2].IsNull() && row[2].AsInteger() == 1) {
      r.punches_marked += n;
      continue;
    }
    r.punches_waiting += n;
    const std::string day = row[1].IsNull() ? "" : util::TrimWhitespace(row[1].AsString());
    const auto serial = JalaliSerial(day);
    if (!serial) {
      r.waiting_bad_date += n;
      continue;
    }
    const long long age = now - *serial;
    (age <= 0    ? r.waiting_today
     : age <= 7  ? r.waiting_1_7
     : age <= 30 ? r.waiting_8_30
                 : r.waiting_older) += n;
    if (r.oldest_waiting.empty() || day < r.oldest_waiting) r.oldest_waiting = day;
    waiting_days.insert(util::TrimWhitespace(row[0].IsNull() ? "" : row[0].AsString()) + "|" + day);
  }
  return waiting_days;
}

// The reports of kept punches whose person and day still have punches waiting, the latest
// report of each person, card and day, grouped by reason.
void ReadKept(db::Connection& base, const std::set<std::string>& waiting_days, StatusReport& r) {
  const db::ResultSet rows = base.Execute(
      "SELECT Id, PerNo, Comment FROM CSSLog WHERE Comment LIKE " +
      util::SqlQuoted(std::string(kKeptPrefix.substr(0, kKeptPrefix.size() - 2)) + "%") +
      " ORDER BY Id");
  struct Report {
    std::string reason;
    long long punches = 0;
  };
  std::map<std::string, Report> latest;  // person|card|day
  for (const auto& row : rows.rows) {
    // "card <card>, day <YYYY/MM/DD>, <n> punch(es); <reason>"
    const std::string text = row[2].AsString();
    const auto card = text.find("card "), day = text.find(", day "), semi = text.find("; ");
    if (card == std::string::npos || day == std::string::npos || semi == std::string::npos ||
        day < card || semi < day) {
      continue;
    }
    const std::string date = text.substr(day + 6, 10);
    const std::string person = util::TrimWhitespace(row[1].IsNull() ? "" : row[1].AsString());
    if (!waiting_days.count(person + "|" + date)) continue;
    const auto count = util::ParseInt<long long>(
        util::TrimWhitespace(text.substr(day + 18, text.find(' ', day + 18) - day - 18)));
    latest[person + "|" + text.substr(card + 5, day - card - 5) + "|" + date] =
        Report{text.substr(semi + 2), count.value_or(0)};
  }
  std::map<std::string, KeptReason> by_reason;
  for (const auto& [key, report] : latest) {
    KeptReason& k = by_reason[report.reason];
    k.reason = report.reason;
    ++k.reports;
    k.punches += report.punches;
  }
  for (auto& [reason, k] : by_reason) r.kept.push_back(std::move(k));
}

void ReadRequests(db::Connection& base, const std::string& year_database, StatusReport& r) {
  for (const char* table : {"TmpMor", "TmpMam", "TmpSLate"}) {
    WaitingRequests w;
    w.table = table;
    const db::ResultSet rows = base.Execute("SELECT INDECISIVE, COUNT(*) AS Requests FROM " +
                                            year_database + ".." + table + " GROUP BY INDECISIVE");
    for (const auto& row : rows.rows) {
      const long long state = row[0].IsNull() ? 0 : row[0].AsInteger();
      (state == 1 ? w.uncertain : state == 2 ? w.collision : w.other) += row[1].AsInteger();
    }
    r.requests.push_back(w);
  }
}

void ReadTodayLog(db::Connection& base, const std::string& today, StatusReport& r) {
  const db::ResultSet rows =
      base.Execute("SELECT Comment FROM CSSLog WHERE LogDate = " + util::SqlQuoted(today));
  std::map<std::string, long long> kinds;
  for (const auto& row : rows.rows) {
    ++kinds[CSSLogKind(row[0].IsNull() ? "" : row[0].AsString())];
    ++r.log_rows_today;
  }
  for (const auto& [kind, n] : kinds) r.log_kinds.push_back({kind, n});
  std::stable_sort(r.log_kinds.begin(), r.log_kinds.end(),
                   [](const LogKind& a, const LogKind& b) { return a.rows > b.rows; });
}

// The year databases <base>_<YYYY> of the server, by name.
std::vector<std::string> YearDatabases(db::Connection& base, const std::string& database_name) {
  std::vector<std::string> years;
  const std::string prefix = util::UpperAscii(database_name) + "_";
  for (const std::string& name : db::TADOUtils::EnumAllDatabases(base)) {
    const std::string n = util::TrimWhitespace(name);
    if (n.size() == prefix.size() + 4 && StartsWith(util::UpperAscii(n), prefix) &&
        util::ParseInt<int>(n.substr(prefix.size()))) {
      years.push_back(n);
    }
  }
  std::sort(years.begin(), years.end());
  return years;
}

}  // namespace

std::string DefaultStatusYear(db::Connection& base, const std::string& today) {
  const db::ResultSet rows = base.Execute("SELECT CalcYear FROM CSSchedule");
  if (!rows.rows.empty() && !rows.rows[0][0].IsNull()) {
    const std::string year = util::TrimWhitespace(rows.rows[0][0].AsString());
    if (year.size() == 4 && util::ParseInt<int>(year)) return year;
  }
  return today.substr(0, 4);
}

StatusReport GatherStatus(db::Connection& base, const std::string& database_name,
                          const std::string& year, const std::string& log_folder,
                          const std::string& today, const std::string& now) {
  if (!JalaliSerial(today)) throw std::runtime_error("'" + today + "' is not a date");
  StatusReport r;
  r.today = today;
  r.now = now;
  r.year = year;
  r.database_name = database_name;
  ReadSchedule(base, today, now, r);
  ReadHold(base, r.hold);
  r.last_pass = LastPassFromLogs(log_folder);
  r.year_databases = YearDatabases(base, database_name);
  const std::string year_database = database_name + "_" + year;
  if (std::none_of(r.year_databases.begin(), r.year_databases.end(), [&](const std::string& n) {
        return util::UpperAscii(n) == util::UpperAscii(year_database);
      })) {
    throw std::runtime_error("the year database " + year_database + " does not exist");
  }
  ReadKept(base, ReadPunches(base, today, r), r);
  ReadRequests(base, year_database, r);
  ReadTodayLog(base, today, r);
  return r;
}

// --- text ------------------------------------------------------------------------------

namespace {

std::string KindOf(const ScheduleEntry& e) {
  static const char* const kinds[] = {"daily", "monthly", "periodic"};
  if (e.CalcType < 0 || e.CalcType > 2) {
    return "CalcType " + std::to_string(e.CalcType) + " (runs nothing)";
  }
  return std::string(kinds[e.CalcType]) + " " + std::to_string(e.SubCalcType);
}

std::string WhenOf(const ScheduleEntry& e) {
  const std::string from = " from " + e.StartTime;
  switch (e.ScheduleType) {
    case 0:
      return "every " + std::to_string(e.Data1) + " hours" + from;
    case 1:
      return (e.Data1 == 1 ? std::string("every day")
                           : "every " + std::to_string(e.Data2) + " days") +
             from;
    case 2: {
      static const char* const days[] = {"Sat", "Sun", "Mon", "Tue", "Wed", "Thu", "Fri"};
      std::string list;
      for (int d = 0; d < 7; ++d) {
        if (IsMaskBitSet(e.Data2, d, false))
          list += (list.empty() ? "" : ",") + std::string(days[d]);
      }
      return "every " + std::to_string(e.Data1) + " weeks on " + (list.empty() ? "no day" : list) +
             from;
    }
    case 3: {
      std::string list;
      for (int m = 0; m < 12; ++m) {
        if (IsMaskBitSet(e.Data2, m, true))
          list += (list.empty() ? "" : ",") + std::to_string(m + 1);
      }
      return "on day " + std::to_string(e.Data1) + " of months " + (list.empty() ? "none" : list) +
             from;
    }
    default:
      return "ScheduleType " + std::to_string(e.ScheduleType) + " (never due)";
  }
}

// The transfers a daily entry runs first; empty when none.
std::string TransfersOf(const ScheduleEntry& e) {
  if (e.CalcType != 0 || e.Transfer != 1) return "";
  std::string t = "clock records";
  if (e.TransSLate == 1) t += ", service-late";
  if (e.TransMor == 1) t += ", leave";
  if (e.TransMam == 1) t += ", mission";
  return t + ", entry/exit records (" + (e.Uncertains == 1 ? "every punch" : "certain punches") +
         ")";
}

std::string LastRunOf(const ScheduleEntry& e) {
  return e.LastRunDate
             ? util::TrimWhitespace(*e.LastRunDate) + " " + util::TrimWhitespace(e.LastRunTime)
             : "";
}

void TextSchedule(const StatusReport& r, std::ostringstream& out) {
  out << "schedule (" << r.schedule.size() << (r.schedule.size() == 1 ? " entry" : " entries")
      << ")\n";
  for (const EntryStatus& s : r.schedule) {
    const ScheduleEntry& e = s.entry;
    out << "  #" << e.ScheduleId << " " << KindOf(e);
    if (s.range) out << " " << s.range->from << " - " << s.range->to;
    out << " of " << e.CalcYear << ", " << WhenOf(e) << "\n";
    if (!TransfersOf(e).empty()) out << "      transfers first: " << TransfersOf(e) << "\n";
    out << "      last completed run: " << (e.LastRunDate ? LastRunOf(e) : "never")
        << "; next due: ";
    if (!s.error.empty()) {
      out << "cannot tell (" << s.error << ")\n";
    } else {
      out << (s.next_due ? *s.next_due : "not within a year") << "\n";
    }
  }
}

void TextHold(const HoldStatus& h, std::ostringstream& out) {
  out << "calculation hold: ";
  if (!h.row) {
    out << "no CALC row in Semaphor";
  } else if (h.amount <= 0) {
    out << "free";
  } else {
    out << "taken by " << (h.holder.empty() ? "an unnamed holder" : h.holder);
    if (!h.this_computer) {
      out << " (another computer)";
    } else if (h.alive) {
      out << (*h.alive ? " (this computer, process runs" : " (this computer, process gone");
      if (!h.holder_started.empty()) out << ", started " << h.holder_started;
      out << ")";
    }
  }
  out << "; KorlanCalcOrService " << h.calc_or_service
      << (h.calc_or_service == 3 ? " (schedule passes are skipped)" : "") << "\n";
}

void TextPass(const StatusReport& r, std::ostringstream& out) {
  out << "last schedule pass: ";
  if (!r.last_pass) {
    out << "none in the logs\n";
    return;
  }
  const PassOutcome& p = *r.last_pass;
  out << p.started << " - " << p.last_line.substr(11) << " (" << p.log_file << "), " << p.due.size()
      << (p.due.size() == 1 ? " entry" : " entries") << " due";
  for (size_t i = 0; i < p.due.size(); ++i) out << (i == 0 ? ": #" : ", #") << p.due[i];
  out << "; " << (p.errors.empty() ? "no errors" : std::to_string(p.errors.size()) + " errors")
      << "\n";
  for (size_t i = 0; i < p.errors.size() && i < 5; ++i) out << "    " << p.errors[i] << "\n";
  if (p.errors.size() > 5) out << "    ...\n";
}

void TextIntake(const StatusReport& r, std::ostringstream& out) {
  out << "intake\n  punches waiting: " << r.punches_waiting;
  if (r.punches_waiting > 0) {
    out << " (today " << r.waiting_today << ", 1-7 days " << r.waiting_1_7 << ", 8-30 days "
        << r.waiting_8_30 << ", older " << r.waiting_older;
    if (r.waiting_bad_date > 0) out << ", no date " << r.waiting_bad_date;
    out << ")";
    if (!r.oldest_waiting.empty()) out << ", oldest " << r.oldest_waiting;
  }
  out << "; marked for the permissions: " << r.punches_marked << "\n";
  for (const KeptReason& k : r.kept) {
    out << "  kept: " << k.punches << " punches of " << k.reports << " person-days: " << k.reason
        << "\n";
  }
  out << "  requests waiting in " << r.database_name << "_" << r.year << ":\n";
  for (const WaitingRequests& w : r.requests) {
    out << "    " << std::left << std::setw(9) << w.table << std::right << w.uncertain
        << " uncertain, " << w.collision << " in collision, " << w.other << " other\n";
  }
}

}  // namespace

std::string FormatStatusText(const StatusReport& r) {
  std::ostringstream out;
  out << "status of " << r.database_name << " at " << r.today << " " << r.now << "\n";
  TextSchedule(r, out);
  TextHold(r.hold, out);
  TextPass(r, out);
  TextIntake(r, out);
  out << "CSSLog today: " << r.log_rows_today << " rows\n";
  for (const LogKind& k : r.log_kinds) out << std::setw(6) << k.rows << "  " << k.kind << "\n";
  out << "year databases:";
  for (const std::string& name : r.year_databases) out << " " << name;
  out << (r.year_databases.empty() ? " none\n" : "\n");
  return out.str();
}

// --- JSON ------------------------------------------------------------------------------

namespace {

std::string Str(const std::string& text) { return "\"" + JsonEscape(text) + "\""; }
std::string StrOrNull(const std::string& text) { return text.empty() ? "null" : Str(text); }

std::string JsonEntry(const EntryStatus& s) {
  const ScheduleEntry& e = s.entry;
  std::ostringstream o;
  o << "{\"id\":" << e.ScheduleId << ",\"schedule_type\":" << e.ScheduleType
    << ",\"start_time\":" << Str(e.StartTime) << ",\"data1\":" << e.Data1
    << ",\"data2\":" << e.Data2 << ",\"when\":" << Str(WhenOf(e)) << ",\"calc_type\":" << e.CalcType
    << ",\"sub_calc_type\":" << e.SubCalcType << ",\"kind\":" << Str(KindOf(e))
    << ",\"year\":" << Str(util::TrimWhitespace(e.CalcYear)) << ",\"range\":";
  if (s.range) {
    o << "{\"from\":" << Str(s.range->from) << ",\"to\":" << Str(s.range->to) << "}";
  } else {
    o << "null";
  }
  o << ",\"transfers\":" << StrOrNull(TransfersOf(e)) << ",\"last_run\":" << StrOrNull(LastRunOf(e))
    << ",\"next_due\":" << (s.next_due ? Str(*s.next_due) : "null")
    << ",\"error\":" << StrOrNull(s.error) << "}";
  return o.str();
}

std::string JsonHold(const HoldStatus& h) {
  std::ostringstream o;
  o << "{\"row\":" << (h.row ? "true" : "false")
    << ",\"taken\":" << (h.amount > 0 ? "true" : "false") << ",\"amount\":" << h.amount
    << ",\"holder\":" << StrOrNull(h.holder)
    << ",\"this_computer\":" << (h.this_computer ? "true" : "false")
    << ",\"pid\":" << (h.pid ? std::to_string(*h.pid) : "null")
    << ",\"alive\":" << (h.alive ? (*h.alive ? "true" : "false") : "null")
    << ",\"holder_started\":" << StrOrNull(h.holder_started)
    << ",\"calc_or_service\":" << h.calc_or_service << "}";
  return o.str();
}

std::string JsonPass(const std::optional<PassOutcome>& pass) {
  if (!pass) return "null";
  std::ostringstream o;
  o << "{\"log_file\":" << Str(pass->log_file) << ",\"started\":" << Str(pass->started)
    << ",\"last_line\":" << Str(pass->last_line) << ",\"due\":[";
  for (size_t i = 0; i < pass->due.size(); ++i) o << (i ? "," : "") << pass->due[i];
  o << "],\"errors\":[";
  for (size_t i = 0; i < pass->errors.size(); ++i) o << (i ? "," : "") << Str(pass->errors[i]);
  o << "]}";
  return o.str();
}

std::string JsonIntake(const StatusReport& r) {
  std::ostringstream o;
  o << "{\"punches_waiting\":" << r.punches_waiting << ",\"by_age\":{\"today\":" << r.waiting_today
    << ",\"days_1_7\":" << r.waiting_1_7 << ",\"days_8_30\":" << r.waiting_8_30
    << ",\"older\":" << r.waiting_older << ",\"no_date\":" << r.waiting_bad_date
    << "},\"oldest_waiting\":" << StrOrNull(r.oldest_waiting)
    << ",\"punches_marked\":" << r.punches_marked << ",\"kept\":[";
  for (size_t i = 0; i < r.kept.size(); ++i) {
    o << (i ? "," : "") << "{\"reason\":" << Str(r.kept[i].reason)
      << ",\"person_days\":" << r.kept[i].reports << ",\"punches\":" << r.kept[i].punches << "}";
  }
  o << "],\"requests\":[";
  for (size_t i = 0; i < r.requests.size(); ++i) {
    const WaitingRequests& w = r.requests[i];
    o << (i ? "," : "") << "{\"table\":" << Str(w.table) << ",\"uncertain\":" << w.uncertain
      << ",\"collision\":" << w.collision << ",\"other\":" << w.other << "}";
  }
  o << "]}";
  return o.str();
}

}  // namespace

std::string FormatStatusJson(const StatusReport& r) {
  std::ostringstream o;
  o << "{\"database\":" << Str(r.database_name) << ",\"today\":" << Str(r.today)
    << ",\"now\":" << Str(r.now) << ",\"year\":" << Str(r.year) << ",\"schedule\":[";
  for (size_t i = 0; i < r.schedule.size(); ++i) o << (i ? "," : "") << JsonEntry(r.schedule[i]);
  o << "],\"hold\":" << JsonHold(r.hold) << ",\"last_pass\":" << JsonPass(r.last_pass)
    << ",\"intake\":" << JsonIntake(r) << ",\"log_today\":{\"rows\":" << r.log_rows_today
    << ",\"kinds\":[";
  for (size_t i = 0; i < r.log_kinds.size(); ++i) {
    o << (i ? "," : "") << "{\"kind\":" << Str(r.log_kinds[i].kind)
      << ",\"rows\":" << r.log_kinds[i].rows << "}";
  }
  o << "]},\"year_databases\":[";
  for (size_t i = 0; i < r.year_databases.size(); ++i) {
    o << (i ? "," : "") << Str(r.year_databases[i]);
  }
  o << "]}\n";
  return o.str();
}

// --- the command -----------------------------------------------------------------------

namespace {

// What a command that only reads needs of the home: its configuration, read as
// ReadConfigOnly does, and the settings of its base database. Returns the reason the
// operator is told when the home cannot be used (no Korlan.Ini, no DATABASENAME, no embedded
// databases), else "". Raises what reading the configuration raises.
std::string ReadHomeForReading(const std::string& home, ServiceConfig& config,
                               db::ConnectionSettings& base) {
  const std::string ini = IniPath(home);
  std::error_code ec;
  if (!fs::is_regular_file(ini, ec)) return "cannot read " + ini + "; run `zelkl-calc db init`";
  config = ReadConfigOnly(ini);
  if (util::TrimWhitespace(config.database_name).empty()) return "Korlan.Ini has no DATABASENAME";
  base = BaseConnectionSettings(config, home);
  // Connecting to the embedded engine would create an empty server file.
  if (base.server.empty() && !fs::is_regular_file(fs::path(base.data_dir) / "server.db", ec)) {
    return "the embedded databases are missing in " + base.data_dir + "; run `zelkl-calc db init`";
  }
  return "";
}

}  // namespace

ServiceConfig ReadConfigOnly(const std::string& ini) {
  if (IniFile(ini).ValueExists(kIniSection, "EnableLog")) return ReadServiceConfig(ini);
  std::string copy = (fs::temp_directory_path() / "zelkl-calc-status-XXXXXX").string();
  const int fd = mkstemp(copy.data());  // a new file of our own, readable by us only
  if (fd < 0) throw std::runtime_error("cannot make a temporary copy of " + ini);
  close(fd);
  {
    std::ifstream in(ini, std::ios::binary);
    std::ofstream(copy, std::ios::binary | std::ios::trunc) << in.rdbuf();
  }
  ServiceConfig config = ReadServiceConfig(copy);
  std::error_code ec;
  fs::remove(copy, ec);
  config.ini_path = ini;
  return config;
}

int ReadOnlyCommand(const std::string& home, const std::string& command, std::ostream& err,
                    const std::function<int(db::Connection&, const ServiceConfig&)>& work) {
  const auto fail = [&](const std::string& why) {
    err << "zelkl-calc: " << command << ": " << why << "\n";
    return 1;
  };
  try {
    ServiceConfig config;
    db::ConnectionSettings settings;
    if (const std::string why = ReadHomeForReading(home, config, settings); !why.empty())
      return fail(why);
    auto base = db::Connect(settings);
    return work(*base, config);
  } catch (const std::exception& e) {
    return fail(std::string("the databases cannot be used: ") + e.what());
  }
}

int StatusCommand(const std::string& home, const std::string& year, const std::string& format,
                  std::ostream& out, std::ostream& err) {
  return ReadOnlyCommand(
      home, "status", err, [&](db::Connection& base, const ServiceConfig& config) {
        const dates::DateTime moment = dates::Now();
        const std::string today = JalaliText(dates::DateOf(moment));
        const std::string now = dates::FormatTime_HHNN(moment);
        const std::string y = year.empty() ? DefaultStatusYear(base, today) : year;
        const StatusReport report =
            GatherStatus(base, config.database_name, y, home + "/Logs", today, now);
        out << (format == "json" ? FormatStatusJson(report) : FormatStatusText(report));
        return 0;
      });
}

}  // namespace zel::service
