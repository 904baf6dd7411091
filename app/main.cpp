// zelkl-calc: the command line of the calculation service (run, tick, calc, explain, db init, sql,
// hold, status, install, uninstall, version, password, passcode). Parses the arguments, sets the
// home folder and the process clock, and hands over to the command.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <iostream>

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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zelkl-calc: the calculation service of the time-and-attendance system"};
  app.require_subcommand(1);
  app.fallthrough();  // --home and --now are accepted after the command too
  std::string home, now;
  app.add_option("--home", home,
                 "home folder holding Korlan.Ini, Log.inf, Logs/ and Data/ "
                 "(default: the executable's folder)");
  app.add_option("--now", now,
                 "fix the process clock at this Jalali moment \"YYYY/MM/DD HH:MM\" "
                 "(also env ZEL_NOW); it runs on from there");

  double first_pass_after = 60;
  auto* run = app.add_subcommand("run", "the service in the foreground (systemd runs this)");
  run->add_option("--first-pass-after", first_pass_after,
                  "seconds until the first schedule pass (default 60; later passes come 60 s "
                  "after the previous one ended)")
      ->check(CLI::NonNegativeNumber);

  auto* tick = app.add_subcommand("tick", "one schedule pass now, then exit");

  zel::app::ExplainOptions explain_options;
  auto* explain = app.add_subcommand(
      "explain",
      "why a day came out like this: every stretch, its result and the rule and "
      "setting that decided it, as the engine calculates it now (nothing is written)");
  explain->add_option("--year", explain_options.year, "Jalali year YYYY of the year database")
      ->required();
  explain->add_option("--person", explain_options.person, "person number")->required();
  explain->add_option("--date", explain_options.date, "the day MM/DD");
  explain->add_option("--month", explain_options.month, "every day of month MM instead");
  explain->add_option("--format", explain_options.format, "text (default), svg or json");

  auto* calc = app.add_subcommand("calc", "calculate now, for given persons or everyone");
  calc->require_subcommand(1);
  zel::app::CalcOptions calc_options;
  struct Kind {
    const char* name;
    const char* help;
    const char* range;
  } kinds[] = {{"daily", "daily attendance of the days --from .. --to", "MM/DD"},
               {"monthly", "monthly totals of the months --from .. --to", "month 1..12"},
               {"periodic", "periodic totals of the periods --from .. --to", "period 1..12"}};
  for (const auto& k : kinds) {
    auto* sub = calc->add_subcommand(k.name, k.help);
    sub->add_option("--year", calc_options.year, "Jalali year YYYY of the year database")
        ->required();
    sub->add_option("--from", calc_options.from, std::string("first ") + k.range)->required();
    sub->add_option("--to", calc_options.to, std::string("last ") + k.range)->required();
    sub->add_option("--person", calc_options.persons,
                    "person number (repeatable); default: every person");
    sub->callback([&calc_options, name = std::string(k.name)] { calc_options.kind = name; });
  }

  auto* transfer = app.add_subcommand(
      "transfer", "one step of the record intake for every person, as the schedule runs it");
  transfer->require_subcommand(1);
  int transfer_year = 0;
  auto* transfer_clock = transfer->add_subcommand(
      "clock", "label the untransferred punches of the year entry or exit, with their certainty");
  transfer_clock->add_option("--year", transfer_year, "Jalali year YYYY (default: this year)")
      ->check(CLI::Range(1300, 1499));
  bool certain_only = false;
  auto* transfer_io = transfer->add_subcommand(
      "io", "pair the labelled punches of ClockDmp into IoInfo records (every person)");
  transfer_io->add_option("--year", transfer_year, "Jalali year YYYY (default: this year)")
      ->check(CLI::Range(1300, 1499));
  transfer_io->add_flag("--certain-only", certain_only, "leave the uncertain punches alone");
  std::vector<std::pair<int, CLI::App*>> transfer_permissions;
  for (const auto& [kind, name, what] :
       {std::tuple{1, "service-late", "service-late card punches into ServLate"},
        std::tuple{2, "leave", "leave card punches and web leave requests into Morkhasi/DayMor"},
        std::tuple{3, "mission",
                   "mission card punches and web missions into Mission/DayMam/MamDays"}}) {
    auto* sub = transfer->add_subcommand(name, std::string("prepare and move ") + what);
    sub->add_option("--year", transfer_year, "Jalali year YYYY (default: this year)")
        ->check(CLI::Range(1300, 1499));
    transfer_permissions.emplace_back(kind, sub);
  }

  auto* db = app.add_subcommand("db", "the embedded databases");
  db->require_subcommand(1);
  std::vector<int> init_years;
  auto* init = db->add_subcommand(
      "init",
      "create the embedded base, year (this Jalali year and each --year) and log "
      "databases with their tables, and a default Korlan.Ini when there is none");
  init->add_option("--year", init_years, "another Jalali year YYYY (repeatable)");
  zel::engine::demo::DemoOptions demo_options;
  auto* demo = db->add_subcommand(
      "demo",
      "fill the embedded databases with the demo organisation (sets the home up when "
      "it has no databases)");
  demo->add_option("--persons", demo_options.persons, "persons, default 200")
      ->check(CLI::Range(5, 8999));
  demo->add_option("--year", demo_options.year, "Jalali year YYYY (default: this year)")
      ->check(CLI::Range(1300, 1499));
  demo->add_option("--month", demo_options.month,
                   "month of the entry/exit records (default: this month)")
      ->check(CLI::Range(1, 12));
  demo->add_option("--seed", demo_options.seed, "seed of the generator, default 1");

  std::string sql_database, sql_file, sql_text;
  auto* sql = app.add_subcommand(
      "sql", "run a T-SQL script (batches split on GO) on the configured server, print rows");
  sql->add_option("--database", sql_database, "database (default: DATABASENAME of Korlan.Ini)");
  auto* sql_file_option = sql->add_option("-f,--file", sql_file, "read the script from FILE");
  sql->add_option("TEXT", sql_text, "the script text")->excludes(sql_file_option);

  auto* hold = app.add_subcommand(
      "hold", "the calculation hold (Semaphor CALC): status (default) or release");
  std::string hold_action = "status";
  bool hold_force = false;
  hold->add_option("ACTION", hold_action, "status or release")
      ->check(CLI::IsMember({"status", "release"}));
  hold->add_flag("--force", hold_force,
                 "release also a hold whose holder still runs or is another computer");

  auto* status = app.add_subcommand(
      "status",
      "the service at a glance: schedule entries and when they are due, the calculation hold, "
      "the last pass, the intake backlog, today's CSSLog rows, the year databases (reads only)");
  int status_year = 0;
  std::string status_format = "text";
  status->add_option("--year", status_year, "Jalali year YYYY (default: the schedule's)")
      ->check(CLI::Range(1300, 1499));
  status->add_option("--format", status_format, "text (default) or json")
      ->check(CLI::IsMember({"text", "json"}));

  auto* changes = app.add_subcommand(
      "changes",
      "the journal of changed results: each column of a person's day or month that a pass "
      "rewrote with another value, with the old and new value and the pass (reads only)");
  zel::service::ChangesRequest changes_request;
  changes->add_option("--year", changes_request.year, "Jalali year YYYY of the results")
      ->required()
      ->check(CLI::Range(1300, 1499));
  changes->add_option("--since", changes_request.since,
                      "only passes from this Jalali moment on, \"YYYY/MM/DD HH:MM\"");
  changes->add_option("--person", changes_request.persons, "only this person (repeatable)");
  changes->add_option("--format", changes_request.format, "text (default) or json")
      ->check(CLI::IsMember({"text", "json"}));

  auto* install = app.add_subcommand(
      "install", "register ZELKLCalculateService with systemd, start it and wait until it runs");
  auto* uninstall = app.add_subcommand("uninstall", "stop ZELKLCalculateService and remove it");
  auto* version = app.add_subcommand("version", "print the version");
  auto* password = app.add_subcommand(
      "password", "ask for the SQL password and store it scrambled in Korlan.Ini");
  auto* passcode = app.add_subcommand("passcode", "print today's pass code for Log.inf");

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

  try {
    zel::dates::LoadNowFromEnvironment();
    if (!now.empty()) zel::dates::SetNowJalali(now);  // --now wins over ZEL_NOW
  } catch (const std::exception& e) {
    return Usage(std::string("bad clock setting: ") + e.what());
  }

  if (app.get_option("--home")->count() > 0 && home.empty()) {
    return Usage("--home needs a folder (an empty text names none)");
  }
  if (run->parsed() && !(first_pass_after >= 0 && first_pass_after <= 604800)) {
    return Usage("--first-pass-after must be a number of seconds from 0 to 604800 (a week)");
  }
  const std::filesystem::path home_path(home);
  if (home.size() > 4000 ||
      std::any_of(home_path.begin(), home_path.end(),
                  [](const std::filesystem::path& part) { return part.native().size() > 255; })) {
    return Usage("--home: the folder name is too long");
  }
  if (!home.empty()) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(home, ec);
    if (ec) return Usage("--home " + home + ": " + ec.message());
    zel::util::SetHomeFolder(path.lexically_normal().string());
  }
  const bool creates_home = init->parsed() || demo->parsed();
  std::error_code home_error;
  if (!creates_home && !version->parsed() &&
      !std::filesystem::is_directory(zel::util::HomeFolder(), home_error)) {
    std::cerr << "zelkl-calc: the home folder " << zel::util::HomeFolder() << " does not exist\n";
    return kExitFailed;
  }

  if (run->parsed()) {
    return zel::app::RunService(
        std::chrono::milliseconds(static_cast<long long>(first_pass_after * 1000)));
  }
  if (tick->parsed()) return zel::app::Tick();
  if (calc->parsed()) {
    if (auto why = zel::app::CheckCalcOptions(calc_options)) return Usage(*why);
    return zel::app::Calc(calc_options);
  }
  if (explain->parsed()) {
    if (auto why = zel::app::CheckExplainOptions(explain_options)) return Usage(*why);
    return zel::app::Explain(explain_options);
  }
  if (transfer_clock->parsed()) return zel::app::TransferClock(transfer_year);
  if (transfer_io->parsed()) return zel::app::TransferIo(transfer_year, certain_only);
  for (const auto& [kind, sub] : transfer_permissions) {
    if (sub->parsed()) return zel::app::TransferPermission(transfer_year, kind);
  }
  if (init->parsed()) return zel::app::DbInit(init_years);
  if (demo->parsed()) return zel::app::DbDemo(demo_options);
  if (sql->parsed()) {
    if (sql_file.empty() && sql_text.empty()) return Usage("sql needs -f FILE or the script TEXT");
    return zel::app::Sql(sql_database, sql_file, sql_text);
  }
  if (hold->parsed()) return zel::app::Hold(hold_action, hold_force);
  if (status->parsed()) {
    return zel::service::StatusCommand(zel::util::HomeFolder(),
                                       status_year ? std::to_string(status_year) : "",
                                       status_format, std::cout, std::cerr);
  }
  if (changes->parsed()) {
    if (auto why = zel::service::CheckChangesRequest(changes_request)) return Usage(*why);
    return zel::service::ChangesCommand(zel::util::HomeFolder(), changes_request, std::cout,
                                        std::cerr);
  }
  if (install->parsed()) return zel::app::Install();
  if (uninstall->parsed()) return zel::app::Uninstall();
  if (version->parsed()) return zel::app::Version();
  if (password->parsed()) return zel::app::Password();
  if (passcode->parsed()) return zel::app::Passcode();
  return Usage("no command");
}
