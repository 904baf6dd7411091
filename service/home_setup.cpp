#include "service/home_setup.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "dates/date_parser.h"
#include "dates/jalali.h"
#include "dates/jalali_day.h"
#include "db/client.h"
#include "schema/schema.h"
#include "service/calculate_service.h"
#include "service/config.h"
#include "service/service_log.h"

namespace zel::service {

namespace {

std::string Pad2(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// The last day of Jalali month n in every year (12/30 exists only in leap years).
int LastCommonDay(int month) { return dates::JalaliMonthLength(month, false); }

std::string SystemRowInsert(const std::string& years) {
  std::string columns = "Round, RoundVal, RoundBound, Elapse, NightBegin, NightEnd";
  std::string values = "0, 0, 0, 0, '22:00', '06:00'";
  // The twelve calculation periods are the calendar months.
  for (int n = 1; n <= 12; ++n) {
    columns += ", Period" + std::to_string(n) + "B, Period" + std::to_string(n) + "E";
    values += ", '" + Pad2(n) + "/01', '" + Pad2(n) + "/" + Pad2(LastCommonDay(n)) + "'";
  }
  columns +=
      ", Hushmand, Usekeys, NumYears, Years, StartMorLeft, Timeout, MaxServiceLate, MaxMor, "
      "MaxPresence, MaxAbsence, MinAbsence, BeforeEnter, AfterEnter, BeforeExit, AfterExit, "
      "PReadInterval, KorlanCalcOrService, EnableSystemLog";
  values += ", 0, 0, " + std::to_string(years.size() / 2) + ", " + QuotedStr(years) +
            ", 1, 0, 120, 5, 960, 960, 30, 120, 120, 120, 120, 0, 0, 0";
  return "INSERT INTO SYSTEM (" + columns + ") VALUES (" + values + ")";
}

// Two-digit year list of SYSTEM.Years ("9899…") as four-digit years.
std::set<int> ParseYearList(const std::string& list) {
  std::set<int> years;
  const int count = dates::TZELDateParser::GetYearListYearsCount(list);
  for (int i = 0; i < count; ++i) {
    const int yy = dates::StrToIntDef(dates::TZELDateParser::GetYearOfYearList_YY(list, i), -1);
    if (yy >= 0) years.insert(dates::TZELYearConversion::ConvertYear_YYYY(dates::csJalali, yy));
  }
  return years;
}

std::string YearList(const std::set<int>& years) {
  std::string list;
  for (int y : years) list += Pad2(y % 100);
  return list;
}

bool DatabaseExists(db::Connection& server, const std::string& name) {
  db::ResultSet rs = server.Execute("SELECT DB_ID(" + QuotedStr(name) + ")");
  return !rs.rows.empty() && !rs.rows[0].empty() && !rs.rows[0][0].IsNull();
}

void RunScript(db::Connection& connection, std::string_view script, const std::string& name) {
  for (const std::string& batch : db::SplitBatches(script)) {
    try {
      connection.Execute(batch);
    } catch (const std::exception& e) {
      throw std::runtime_error("creating the tables of " + name + " failed: " + e.what());
    }
  }
}

// Writes the embedded default configuration when the home has none; a configuration
// without the key DATABASENAME (a stub an older program left) gets the embedded default,
// the rest kept. True when the file was written.
bool WriteDefaultIni(const std::string& ini_path) {
  bool written = false;
  if (!std::filesystem::exists(ini_path)) {
    IniFile ini(ini_path);
    ini.WriteString(kIniSection, "SERVERNAME", "");
    ini.WriteString(kIniSection, "DATABASENAME", "Att");
    ini.WriteString(kIniSection, "USERNAME", "");
    ini.WriteString(kIniSection, "USERPASSWORD", "");
    ini.WriteString(kIniSection, "MaxThread", "3");
    ini.WriteString(kIniSection, "EnableLog", "F");
    written = true;
  }
  // A DATABASENAME set empty on purpose is refused by EmbeddedConfig.
  IniFile ini(ini_path);
  if (!ini.ValueExists(kIniSection, "DATABASENAME") &&
      ini.ReadString(kIniSection, "SERVERNAME", "").empty()) {
    ini.WriteString(kIniSection, "DATABASENAME", "Att");
    written = true;
  }
  return written;
}

// The configuration, when it names the embedded engine and a database name it can hold;
// raises otherwise.
ServiceConfig EmbeddedConfig(const std::string& ini_path) {
  ServiceConfig config = ReadServiceConfig(ini_path);
  if (!config.server_name.empty()) {
    throw std::runtime_error(ini_path + " names the SQL Server '" + config.server_name +
                             "'; db init sets up the embedded engine only (SERVERNAME empty)");
  }
  if (config.database_name.empty()) {
    throw std::runtime_error(ini_path + " has no DATABASENAME");
  }
  for (char c : config.database_name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') {
      throw std::runtime_error("DATABASENAME '" + config.database_name +
                               "' may hold only letters, digits and '_'");
    }
  }
  return config;
}

// This Jalali year and the years asked for; raises for a year that is not a Jalali year.
std::set<int> WantedYears(const std::vector<int>& years) {
  std::set<int> year_set;
  year_set.insert(dates::StrToInt(dates::Copy(dates::JalaliToday(), 1, 4)));
  for (int y : years) {
    if (!dates::TZELYearConversion::YearIsInValidRange(dates::csJalali, y)) {
      throw std::runtime_error("the year " + std::to_string(y) + " is not a valid Jalali year");
    }
    year_set.insert(y);
  }
  return year_set;
}

struct WantedDatabase {
  std::string name;
  std::string_view script;
};

// Creates the wanted databases that are missing, with their tables; raises when none is.
void CreateMissingDatabases(db::Connection& server, const db::ConnectionSettings& settings,
                            const std::vector<WantedDatabase>& wanted, HomeSetupResult& result) {
  std::vector<WantedDatabase> missing;
  for (const auto& w : wanted) {
    if (DatabaseExists(server, w.name)) {
      result.already_there.push_back(w.name);
    } else {
      missing.push_back(w);
    }
  }
  if (missing.empty()) {
    std::string names;
    for (const auto& n : result.already_there) names += (names.empty() ? "" : ", ") + n;
    throw std::runtime_error("the databases " + names + " already exist in " + settings.data_dir +
                             "; db init does not overwrite existing data");
  }
  for (const auto& w : missing) {
    server.Execute("CREATE DATABASE " + w.name);
    db::ConnectionSettings s = settings;
    s.database = w.name;
    auto connection = db::Connect(s);
    RunScript(*connection, w.script, w.name);
    result.created.push_back(w.name);
  }
}

// A new base database: the date functions, the SYSTEM row with its year list and a free
// row of every semaphore code.
void SeedNewBase(db::Connection& base, const std::set<int>& years) {
  // The record transfer (re)creates these at every run; a new base database gets them at
  // once, so the view of shift-group calendars, which calls IncDate, works from the start.
  for (const std::string& batch : db::DateFunctionBatches()) base.Execute(batch);
  base.Execute(SystemRowInsert(YearList(years)));
  for (const std::string& entry : SemaphoreCodeTable()) {
    const std::string code = entry.substr(entry.find('=') + 1);
    base.Execute("INSERT INTO Semaphor (Code, Amount, HostName) VALUES (" + code + ", 0, NULL)");
  }
}

// A year database added to an existing base joins the SYSTEM year list.
void AddYearsToBase(db::Connection& base, const std::set<int>& years) {
  db::ResultSet rs = base.Execute("SELECT Years FROM SYSTEM");
  if (rs.rows.empty()) return;
  std::set<int> listed = ParseYearList(rs.rows[0][0].AsString());
  listed.insert(years.begin(), years.end());
  const std::string list = YearList(listed);
  base.Execute("UPDATE SYSTEM SET Years = " + QuotedStr(list) +
               ", NumYears = " + std::to_string(list.size() / 2));
}

}  // namespace

HomeSetupResult InitEmbeddedHome(const std::string& home, const std::vector<int>& years) {
  namespace fs = std::filesystem;
  HomeSetupResult result;
  const std::string ini_path = IniPath(home);
  std::error_code ec;
  fs::create_directories(home, ec);
  result.ini_written = WriteDefaultIni(ini_path);
  const ServiceConfig config = EmbeddedConfig(ini_path);
  const std::set<int> year_set = WantedYears(years);

  db::ConnectionSettings settings;
  settings.data_dir = home + "/Data";
  fs::create_directories(settings.data_dir, ec);
  if (ec) throw std::runtime_error("cannot create " + settings.data_dir + ": " + ec.message());
  auto server = db::Connect(settings);

  std::vector<WantedDatabase> wanted{{config.database_name, db::BaseSchemaSql()}};
  for (int y : year_set) {
    wanted.push_back({config.database_name + "_" + std::to_string(y), db::YearSchemaSql()});
  }
  wanted.push_back({"ZELLog", db::LogSchemaSql()});
  CreateMissingDatabases(*server, settings, wanted, result);
  const bool base_created = std::find(result.created.begin(), result.created.end(),
                                      config.database_name) != result.created.end();

  db::ConnectionSettings base_settings = settings;
  base_settings.database = config.database_name;
  auto base = db::Connect(base_settings);
  if (base_created) {
    SeedNewBase(*base, year_set);
  } else {
    AddYearsToBase(*base, year_set);
  }
  return result;
}

}  // namespace zel::service
