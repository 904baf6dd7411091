// zelkl-calc: the command line of the calculation service (run, tick, calc, explain, db init, sql,
// hold, status, install, uninstall, version, password, passcode). Parses the arguments, sets the
// home folder and the process clock, and hands over to the command.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/commands.h"
#include "dates/clock.h"
#include "service/changes.h"
#include "service/status.h"
#include "util/log_file.h"

namespace {

using zel::app::kExitFailed;
using zel::app::kExitUsage;

int Usage(const std::string& why) {
  std::cerr << "zelkl-calc: " << why << "\n(run with --help for the usage)\n";
  return kExitUsage;
}

// What the command line gives, filled as CLI11 parses it.
struct Options {
  std::string home, now;
  double first_pass_after = 60;
  zel::app::ExplainOptions explain;
  zel::app::CalcOptions calc;
  int transfer_year = 0;
  bool certain_only = false;
  std::vector<int> init_years;
  zel::engine::demo::DemoOptions demo;
  std::string sql_database, sql_file, sql_text;
  std::string hold_action = "status";
  bool hold_force = false;
  int status_year = 0;
  std::string status_format = "text";
  zel::service::ChangesRequest changes;
};

// The commands, to tell which one was given.
struct Commands {
  CLI::App *run = nullptr, *tick = nullptr, *explain = nullptr, *calc = nullptr;
  CLI::App *transfer_clock = nullptr, *transfer_io = nullptr;
  std::vector<std::pair<int, CLI::App*>> transfer_permissions;  // kind 1..3 of the transfer
  CLI::App *init = nullptr, *demo = nullptr, *sql = nullptr;
  CLI::App *hold = nullptr, *status = nullptr, *changes = nullptr;
  CLI::App *install = nullptr, *uninstall = nullptr, *version = nullptr, *password = nullptr,
           *passcode = nullptr;
};

void AddGlobalOptions(CLI::App& app, Options& o) {
  app.require_subcommand(1);
  app.fallthrough();  // --home and --now are accepted after the command too
  app.add_option("--home", o.home,
                 "home folder holding Korlan.Ini, Log.inf, Logs/ and Data/ "
                 "(default: the executable's folder)");
  app.add_option("--now", o.now,
                 "fix the process clock at this Jalali moment \"YYYY/MM/DD HH:MM\" "
                 "(also env ZEL_NOW); it runs on from there");
}

void AddRunCommands(CLI::App& app, Options& o, Commands& c) {
  c.run = app.add_subcommand("run", "the service in the foreground (systemd runs this)");
  c.run
      ->add_option("--first-pass-after", o.first_pass_after,
                   "seconds until the first schedule pass (default 60; later passes come 60 s "
                   "after the previous one ended)")
      ->check(CLI::NonNegativeNumber);
  c.tick = app.add_subcommand("tick", "one schedule pass now, then exit");
}

void AddCalcCommands(CLI::App& app, Options& o, Commands& c) {
  c.explain = app.add_subcommand(
      "explain",
      "why a day came out like this: every stretch, its result and the rule and "
      "setting that decided it, as the engine calculates it now (nothing is written)");
  c.explain->add_option("--year", o.explain.year, "Jalali year YYYY of the year database")
      ->required();
  c.explain->add_option("--person", o.explain.person, "person number")->required();
  c.explain->add_option("--date", o.explain.date, "the day MM/DD");
  c.explain->add_option("--month", o.explain.month, "every day of month MM instead");
  c.explain->add_option("--format", o.explain.format, "text (default), svg or json");

  c.calc = app.add_subcommand("calc", "calculate now, for given persons or everyone");
  c.calc->require_subcommand(1);
  struct Kind {
    const char* name;
    const char* help;
    const char* range;
  } kinds[] = {{"daily", "daily attendance of the days --from .. --to", "MM/DD"},
               {"monthly", "monthly totals of the months --from .. --to", "month 1..12"},
               {"periodic", "periodic totals of the periods --from .. --to", "period 1..12"}};
  for (const auto& k : kinds) {
    auto* sub = c.calc->add_subcommand(k.name, k.help);
    sub->add_option("--year", o.calc.year, "Jalali year YYYY of the year database")->required();
    sub->add_option("--from", o.calc.from, std::string("first ") + k.range)->required();
    sub->add_option("--to", o.calc.to, std::string("last ") + k.range)->required();
    sub->add_option("--person", o.calc.persons,
                    "person number (repeatable); default: every person");
    sub->callback([&o, name = std::string(k.name)] { o.calc.kind = name; });
  }
}

void AddTransferCommands(CLI::App& app, Options& o, Commands& c) {
  auto* transfer = app.add_subcommand(
      "transfer", "one step of the record intake for every person, as the schedule runs it");
  transfer->require_subcommand(1);
  const auto add_year = [&o](CLI::App* sub) {
    sub->add_option("--year", o.transfer_year, "Jalali year YYYY (default: this year)")
        ->check(CLI::Range(1300, 1499));
  };
  c.transfer_clock = transfer->add_subcommand(
      "clock", "label the untransferred punches of the year entry or exit, with their certainty");
  add_year(c.transfer_clock);
  c.transfer_io = transfer->add_subcommand(
      "io", "pair the labelled punches of ClockDmp into IoInfo records (every person)");
  add_year(c.transfer_io);
  c.transfer_io->add_flag("--certain-only", o.certain_only, "leave the uncertain punches alone");
  for (const auto& [kind, name, what] :
       {std::tuple{1, "service-late", "service-late card punches into ServLate"},
        std::tuple{2, "leave", "leave card punches and web leave requests into Morkhasi/DayMor"},
        std::tuple{3, "mission",
                   "mission card punches and web missions into Mission/DayMam/MamDays"}}) {
    auto* sub = transfer->add_subcommand(name, std::string("prepare and move ") + what);
    add_year(sub);
    c.transfer_permissions.emplace_back(kind, sub);
  }
}

void AddDatabaseCommands(CLI::App& app, Options& o, Commands& c) {
  auto* db = app.add_subcommand("db", "the embedded databases");
  db->require_subcommand(1);
  c.init = db->add_subcommand(
      "init",
      "create the embedded base, year (this Jalali year and each --year) and log "
      "databases with their tables, and a default Korlan.Ini when there is none");
  c.init->add_option("--year", o.init_years, "another Jalali year YYYY (repeatable)");
  c.demo = db->add_subcommand(
      "demo",
      "fill the embedded databases with the demo organisation (sets the home up when "
      "it has no databases)");
  c.demo->add_option("--persons", o.demo.persons, "persons, default 200")
      ->check(CLI::Range(5, 8999));
  c.demo->add_option("--year", o.demo.year, "Jalali year YYYY (default: this year)")
      ->check(CLI::Range(1300, 1499));
  c.demo
      ->add_option("--month", o.demo.month, "month of the entry/exit records (default: this month)")
      ->check(CLI::Range(1, 12));
  c.demo->add_option("--seed", o.demo.seed, "seed of the generator, default 1");

  c.sql = app.add_subcommand(
      "sql", "run a T-SQL script (batches split on GO) on the configured server, print rows");
  c.sql->add_option("--database", o.sql_database, "database (default: DATABASENAME of Korlan.Ini)");
  auto* sql_file_option = c.sql->add_option("-f,--file", o.sql_file, "read the script from FILE");
  c.sql->add_option("TEXT", o.sql_text, "the script text")->excludes(sql_file_option);
}

void AddOperatorCommands(CLI::App& app, Options& o, Commands& c) {
  c.hold = app.add_subcommand("hold",
                              "the calculation hold (Semaphor CALC): status (default) or release");
  c.hold->add_option("ACTION", o.hold_action, "status or release")
      ->check(CLI::IsMember({"status", "release"}));
  c.hold->add_flag("--force", o.hold_force,
                   "release also a hold whose holder still runs or is another computer");

  c.status = app.add_subcommand(
      "status",
      "the service at a glance: schedule entries and when they are due, the calculation hold, "
      "the last pass, the intake backlog, today's CSSLog rows, the year databases (reads only)");
  c.status->add_option("--year", o.status_year, "Jalali year YYYY (default: the schedule's)")
      ->check(CLI::Range(1300, 1499));
  c.status->add_option("--format", o.status_format, "text (default) or json")
      ->check(CLI::IsMember({"text", "json"}));

  c.changes = app.add_subcommand(
      "changes",
      "the journal of changed results: each column of a person's day or month that a pass "
      "rewrote with another value, with the old and new value and the pass (reads only)");
  c.changes->add_option("--year", o.changes.year, "Jalali year YYYY of the results")
      ->required()
      ->check(CLI::Range(1300, 1499));
  c.changes->add_option("--since", o.changes.since,
                        "only passes from this Jalali moment on, \"YYYY/MM/DD HH:MM\"");
  c.changes->add_option("--person", o.changes.persons, "only this person (repeatable)");
  c.changes->add_option("--format", o.changes.format, "text (default) or json")
      ->check(CLI::IsMember({"text", "json"}));
}

void AddSystemCommands(CLI::App& app, Commands& c) {
  c.install = app.add_subcommand(
      "install", "register ZELKLCalculateService with systemd, start it and wait until it runs");
  c.uninstall = app.add_subcommand("uninstall", "stop ZELKLCalculateService and remove it");
  c.version = app.add_subcommand("version", "print the version");
  c.password = app.add_subcommand("password",
                                  "ask for the SQL password and store it scrambled in Korlan.Ini");
  c.passcode = app.add_subcommand("passcode", "print today's pass code for Log.inf");
}

// The exit code of a command line that names no command to run (help, or a usage error);
// nullopt when a command is to run.
std::optional<int> Parse(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    if (app.get_subcommands().empty() && !app.remaining().empty()) {
      return Usage("unknown command '" + app.remaining().front() + "'");
    }
    app.exit(e);
    return kExitUsage;
  }
  return std::nullopt;
}

// Sets the process clock and the home folder the options give; the exit code when they
// cannot be used, nullopt when the command can run.
std::optional<int> SetClockAndHome(const CLI::App& app, const Options& o, const Commands& c) {
  try {
    zel::dates::LoadNowFromEnvironment();
    if (!o.now.empty()) zel::dates::SetNowJalali(o.now);  // --now wins over ZEL_NOW
  } catch (const std::exception& e) {
    return Usage(std::string("bad clock setting: ") + e.what());
  }
  if (app.get_option("--home")->count() > 0 && o.home.empty()) {
    return Usage("--home needs a folder (an empty text names none)");
  }
  if (c.run->parsed() && !(o.first_pass_after >= 0 && o.first_pass_after <= 604800)) {
    return Usage("--first-pass-after must be a number of seconds from 0 to 604800 (a week)");
  }
  const std::filesystem::path home_path(o.home);
  if (o.home.size() > 4000 ||
      std::any_of(home_path.begin(), home_path.end(),
                  [](const std::filesystem::path& part) { return part.native().size() > 255; })) {
    return Usage("--home: the folder name is too long");
  }
  if (!o.home.empty()) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(o.home, ec);
    if (ec) return Usage("--home " + o.home + ": " + ec.message());
    zel::util::SetHomeFolder(path.lexically_normal().string());
  }
  const bool creates_home = c.init->parsed() || c.demo->parsed();
  std::error_code home_error;
  if (!creates_home && !c.version->parsed() &&
      !std::filesystem::is_directory(zel::util::HomeFolder(), home_error)) {
    std::cerr << "zelkl-calc: the home folder " << zel::util::HomeFolder() << " does not exist\n";
    return kExitFailed;
  }
  return std::nullopt;
}

// The commands of the schedule, the calculation and the record intake.
std::optional<int> RunCalculationCommand(const Options& o, const Commands& c) {
  if (c.run->parsed()) {
    return zel::app::RunService(
        std::chrono::milliseconds(static_cast<long long>(o.first_pass_after * 1000)));
  }
  if (c.tick->parsed()) return zel::app::Tick();
  if (c.calc->parsed()) {
    if (auto why = zel::app::CheckCalcOptions(o.calc)) return Usage(*why);
    return zel::app::Calc(o.calc);
  }
  if (c.explain->parsed()) {
    if (auto why = zel::app::CheckExplainOptions(o.explain)) return Usage(*why);
    return zel::app::Explain(o.explain);
  }
  if (c.transfer_clock->parsed()) return zel::app::TransferClock(o.transfer_year);
  if (c.transfer_io->parsed()) return zel::app::TransferIo(o.transfer_year, o.certain_only);
  for (const auto& [kind, sub] : c.transfer_permissions) {
    if (sub->parsed()) return zel::app::TransferPermission(o.transfer_year, kind);
  }
  return std::nullopt;
}

// The commands of the databases, the operator and the system.
int RunOtherCommand(const Options& o, const Commands& c) {
  if (c.init->parsed()) return zel::app::DbInit(o.init_years);
  if (c.demo->parsed()) return zel::app::DbDemo(o.demo);
  if (c.sql->parsed()) {
    if (o.sql_file.empty() && o.sql_text.empty()) {
      return Usage("sql needs -f FILE or the script TEXT");
    }
    return zel::app::Sql(o.sql_database, o.sql_file, o.sql_text);
  }
  if (c.hold->parsed()) return zel::app::Hold(o.hold_action, o.hold_force);
  if (c.status->parsed()) {
    return zel::service::StatusCommand(zel::util::HomeFolder(),
                                       o.status_year ? std::to_string(o.status_year) : "",
                                       o.status_format, std::cout, std::cerr);
  }
  if (c.changes->parsed()) {
    if (auto why = zel::service::CheckChangesRequest(o.changes)) return Usage(*why);
    return zel::service::ChangesCommand(zel::util::HomeFolder(), o.changes, std::cout, std::cerr);
  }
  if (c.install->parsed()) return zel::app::Install();
  if (c.uninstall->parsed()) return zel::app::Uninstall();
  if (c.version->parsed()) return zel::app::Version();
  if (c.password->parsed()) return zel::app::Password();
  if (c.passcode->parsed()) return zel::app::Passcode();
  return Usage("no command");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zelkl-calc: the calculation service of the time-and-attendance system"};
  Options options;
  Commands commands;
  AddGlobalOptions(app, options);
  AddRunCommands(app, options, commands);
  AddCalcCommands(app, options, commands);
  AddTransferCommands(app, options, commands);
  AddDatabaseCommands(app, options, commands);
  AddOperatorCommands(app, options, commands);
  AddSystemCommands(app, commands);
  if (auto code = Parse(app, argc, argv)) return *code;
  if (auto code = SetClockAndHome(app, options, commands)) return *code;
  if (auto code = RunCalculationCommand(options, commands)) return *code;
  return RunOtherCommand(options, commands);
}
