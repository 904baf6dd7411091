// Drives the zelkl-calc executable: argument errors and help, version, passcode, password,
// db init, sql, tick and run (stopped by SIGTERM) on an embedded home.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>

#include "dates/clock.h"
#include "dates/date_encoder.h"
#include "db/client.h"
#include "service/config.h"
#include "service/platform.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exit_code = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zel_cli_XXXXXX").string();
    root_ = mkdtemp(pattern.data());
    home_ = root_ / "home";
  }
  void TearDown() override { fs::remove_all(root_); }

  // Starts zelkl-calc with the arguments and the environment variables `env` ("NAME=value")
  // added; stdout and stderr go to the files out.txt and err.txt of the folder `dir`.
  pid_t StartIn(const fs::path& dir, const std::vector<std::string>& args,
                const std::string& input = "", std::vector<std::string> env = {}) {
    fs::create_directories(dir);
    const fs::path in = dir / "stdin.txt";
    std::ofstream(in) << input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (dir / "out.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (dir / "err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all{ZEL_CALC_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, ZEL_CALC_EXE, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0) << "cannot start " << ZEL_CALC_EXE;
    return pid;
  }
  pid_t Start(const std::vector<std::string>& args, const std::string& input = "") {
    return StartIn(root_, args, input);
  }

  Outcome WaitIn(const fs::path& dir, pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome o;
    o.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    o.out = ReadAll(dir / "out.txt");
    o.err = ReadAll(dir / "err.txt");
    return o;
  }
  Outcome Wait(pid_t pid) { return WaitIn(root_, pid); }

  Outcome Run(const std::vector<std::string>& args, const std::string& input = "") {
    return Wait(Start(args, input));
  }

  // Runs with the home folder and a fixed clock.
  Outcome RunAt(const std::string& now, std::vector<std::string> args,
                const std::string& input = "") {
    args.insert(args.begin(), {"--home", home_.string(), "--now", now});
    return Run(args, input);
  }

  std::string Log(const char* date = "1399-08-03") {
    return ReadAll(home_ / "Logs" / (std::string("Log(") + date + ").Log"));
  }

  fs::path root_;
  fs::path home_;
};

TEST_F(CliTest, VersionIsFourNumbers) {
  Outcome o = Run({"version"});
  EXPECT_EQ(o.exit_code, 0);
  EXPECT_EQ(o.out, "zelkl-calc " + zel::service::ModuleVersionText() + "\n");
  EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '.'), 3);
}

TEST_F(CliTest, HelpOnEveryCommand) {
  const std::vector<std::vector<std::string>> commands = {{},
                                                          {"run"},
                                                          {"tick"},
                                                          {"calc"},
                                                          {"calc", "daily"},
                                                          {"calc", "monthly"},
                                                          {"calc", "periodic"},
                                                          {"db"},
                                                          {"db", "init"},
                                                          {"sql"},
                                                          {"install"},
                                                          {"uninstall"},
                                                          {"version"},
                                                          {"password"},
                                                          {"passcode"},
                                                          {"explain"},
                                                          {"hold"},
                                                          {"changes"}};
  for (auto args : commands) {
    args.push_back("--help");
    Outcome o = Run(args);
    EXPECT_EQ(o.exit_code, 0) << args[0];
    EXPECT_NE(o.out.find("Usage"), std::string::npos) << args[0] << ": " << o.out;
  }
}

TEST_F(CliTest, BadArgumentsExitWithTwo) {
  fs::create_directories(home_);
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{}, "subcommand"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"calc", "daily", "--from", "01/01", "--to", "01/02"}, "--year"},
      {{"calc", "daily", "--year", "1399", "--from", "13/01", "--to", "01/02"}, "not a date MM/DD"},
      {{"calc", "daily", "--year", "1399", "--from", "07/31", "--to", "08/02"}, "not a date MM/DD"},
      {{"calc", "daily", "--year", "1399", "--from", "02/01", "--to", "01/02"}, "is after"},
      {{"calc", "monthly", "--year", "1399", "--from", "0", "--to", "3"}, "not a month"},
      {{"calc", "periodic", "--year", "1399", "--from", "2", "--to", "13"}, "not a period"},
      {{"calc", "monthly", "--year", "99", "--from", "1", "--to", "3"}, "not a Jalali year"},
      {{"--now", "1399/13/01 10:00", "tick"}, "bad clock setting"},
      {{"sql"}, "-f FILE or the script TEXT"},
      {{"sql", "-f", "x.sql", "SELECT 1"}, "excludes"},
      {{"run", "--first-pass-after", "-1"}, "first-pass-after"},
      {{"run", "--first-pass-after", "nan"}, "first-pass-after"},
      {{"run", "--first-pass-after", "1e300"}, "first-pass-after"},
      // 1400 is a common year: its last month has 29 days.
      {{"calc", "daily", "--year", "1400", "--from", "12/30", "--to", "12/30"}, "not a date MM/DD"},
      {{"changes", "--since", "1405/09/20 09:00"}, "--year"},
      {{"changes", "--year", "1405", "--since", "1405/09/20"}, "--since must be a Jalali moment"},
      {{"changes", "--year", "1405", "--format", "xml"}, "--format"},
      {{"--home", "", "tick"}, "--home needs a folder"},
      {{"--home", "/tmp/" + std::string(300, 'x'), "tick"}, "too long"},
      {{"--home", std::string(5000, 'y'), "tick"}, "too long"},
  };
  for (auto c : cases) {
    if (c.args.empty() || c.args[0] != "--home") {
      c.args.insert(c.args.begin(), {"--home", home_.string()});
    }
    Outcome o = Run(c.args);
    EXPECT_EQ(o.exit_code, 2) << c.message;
    EXPECT_NE((o.out + o.err).find(c.message), std::string::npos)
        << c.message << " not in: " << o.out << o.err;
  }
}

TEST_F(CliTest, MissingHomeFailsClearly) {
  Outcome o = Run({"--home", (root_ / "nowhere").string(), "tick"});
  EXPECT_EQ(o.exit_code, 1);
  EXPECT_NE(o.err.find("does not exist"), std::string::npos) << o.err;
}

TEST_F(CliTest, InstallWithoutSystemdSaysSo) {
  if (zel::service::HasSystemd()) GTEST_SKIP() << "this machine runs systemd";
  fs::create_directories(home_);
  for (const char* command : {"install", "uninstall"}) {
    Outcome o = Run({"--home", home_.string(), command});
    EXPECT_EQ(o.exit_code, 1) << command;
    EXPECT_NE(o.err.find("systemd is not running"), std::string::npos) << o.err;
  }
}

TEST_F(CliTest, PasscodeIsTodaysDateCode) {
  fs::create_directories(home_);
  Outcome o = RunAt("1399/08/03 09:00", {"passcode"});
  ASSERT_EQ(o.exit_code, 0) << o.err;
  ASSERT_EQ(o.out.size(), 10u) << o.out;  // nine characters and a line break
  const std::string code = o.out.substr(0, 9);
  EXPECT_TRUE(zel::dates::TZELDateEncoder::CheckEncoded(
      code, zel::dates::ParseJalaliMoment("1399/08/03 00:00")));
  EXPECT_FALSE(zel::dates::TZELDateEncoder::CheckEncoded(
      code, zel::dates::ParseJalaliMoment("1399/08/04 00:00")));
}

TEST_F(CliTest, PasswordIsStoredScrambled) {
  fs::create_directories(home_);
  std::ofstream(home_ / "Korlan.Ini") << "[ZEL]\nSERVERNAME=db1\\main\nUSERNAME=sa\n";
  Outcome o = Run({"--home", home_.string(), "password"}, "Secret#42\n");
  ASSERT_EQ(o.exit_code, 0) << o.err;
  const std::string ini = ReadAll(home_ / "Korlan.Ini");
  EXPECT_EQ(ini.find("Secret#42"), std::string::npos);
  EXPECT_NE(ini.find("SERVERNAME=db1\\main"), std::string::npos);
  zel::service::ServiceConfig c = zel::service::ReadServiceConfig((home_ / "Korlan.Ini").string());
  EXPECT_EQ(c.password, "Secret#42");
  zel::service::IniFile file((home_ / "Korlan.Ini").string());
  EXPECT_GE(file.ReadString("ZEL", "USERPASSWORD", "").size(), 125u);

  Outcome bad = Run({"--home", home_.string(), "password"}, std::string(26, 'x') + "\n");
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.err.find("at most 25"), std::string::npos) << bad.err;
}

TEST_F(CliTest, DbDemoSetsUpAHomeThatAPassCalculates) {
  Outcome demo = RunAt("1399/08/03 09:00", {"db", "demo", "--persons", "6"});
  ASSERT_EQ(demo.exit_code, 0) << demo.out << demo.err;
  EXPECT_NE(demo.out.find("created database Att_1399\n"), std::string::npos) << demo.out;
  EXPECT_NE(demo.out.find("demo organisation 1399, month 8: 6 persons"), std::string::npos)
      << demo.out;
  // The demo's daily schedule entry calculates the current month up to today.
  ASSERT_EQ(RunAt("1399/08/03 09:00", {"tick"}).exit_code, 0);
  Outcome days = RunAt("1399/08/03 09:00",
                       {"sql", "--database", "Att_1399",
                        "SELECT COUNT(DISTINCT PerNo) AS P, COUNT(*) AS D, MIN(DDate) AS F, "
                        "MAX(DDate) AS T FROM DayWork"});
  EXPECT_EQ(days.out, "P\tD\tF\tT\n6\t18\t08/01\t08/03\n") << days.err;
  Outcome bad = RunAt("1399/08/03 09:00", {"db", "demo", "--persons", "2"});
  EXPECT_EQ(bad.exit_code, 2);
}

TEST_F(CliTest, TransferClockLabelsThePunchesOfTheYear) {
  ASSERT_EQ(RunAt("1399/08/03 09:00", {"db", "demo", "--persons", "6"}).exit_code, 0);
  auto count = [&](const std::string& where) {
    Outcome o =
        RunAt("1399/08/03 09:00", {"sql", "SELECT COUNT(*) AS N FROM ClockDmp WHERE " + where});
    return o.out;
  };
  const std::string of_year = count("CLOCKDATE LIKE '1399/%'");
  const std::string before = count("CLOCKDATE LIKE '1398/%' AND IO_TYPE IS NULL");
  Outcome o = RunAt("1399/08/03 09:00", {"transfer", "clock", "--year", "1399"});
  ASSERT_EQ(o.exit_code, 0) << o.out << o.err;
  // Every punch of the year got a label; those of the year before were not read.
  const std::string n =
      of_year.substr(of_year.find('\n') + 1, of_year.size() - of_year.find('\n') - 2);
  EXPECT_NE(o.out.find("clock records of 1399: " + n + " punches labelled: "), std::string::npos)
      << o.out << of_year;
  EXPECT_EQ(count("CLOCKDATE LIKE '1399/%' AND IO_TYPE IS NULL"), "N\n0\n");
  EXPECT_EQ(count("CLOCKDATE LIKE '1398/%' AND IO_TYPE IS NULL"), before);
  EXPECT_NE(before, "N\n0\n");
  EXPECT_EQ(RunAt("1399/08/03 09:00", {"transfer", "clock", "--year", "99"}).exit_code, 2);
}

TEST_F(CliTest, TransferLeaveMovesAnApprovedWebRequest) {
  ASSERT_EQ(RunAt("1399/08/03 09:00", {"db", "demo", "--persons", "6"}).exit_code, 0);
  Outcome ins = RunAt("1399/08/03 09:00",
                      {"sql", "--database", "Att_1399",
                       "DELETE FROM TmpMor; INSERT INTO AskAbsence (PageNo, PerNo, BeginDate, "
                       "BeginTime, EndDate, EndTime, Type, userDescription, RecDate, IsDaily, "
                       "IsApproved, IsTransfer) VALUES (900, '      9999', '08/02', '09:00', "
                       "'08/02', '10:00', 202, N'doctor', '08/01', 0, 1, 0)"});
  ASSERT_EQ(ins.exit_code, 0) << ins.out << ins.err;
  Outcome o = RunAt("1399/08/03 09:00", {"transfer", "leave", "--year", "1399"});
  ASSERT_EQ(o.exit_code, 0) << o.out << o.err;
  EXPECT_NE(o.out.find("leave transfer of 1399: "), std::string::npos) << o.out;
  EXPECT_NE(o.out.find(" moved, 0 left uncertain, 0 left in collision"), std::string::npos)
      << o.out;
  Outcome moved =
      RunAt("1399/08/03 09:00",
            {"sql", "--database", "Att_1399",
             "SELECT BEGINTIME, ENDTIME, TYPE FROM Morkhasi WHERE PERNO = '      9999'"});
  EXPECT_NE(moved.out.find("09:00\t10:00\t202"), std::string::npos) << moved.out;
  EXPECT_EQ(RunAt("1399/08/03 09:00", {"transfer", "mission", "--year", "99"}).exit_code, 2);
}

TEST_F(CliTest, DbInitSqlAndTick) {
  Outcome init = RunAt("1399/08/03 09:00", {"db", "init", "--year", "1400"});
  ASSERT_EQ(init.exit_code, 0) << init.out << init.err;
  EXPECT_NE(init.out.find("created database Att\n"), std::string::npos) << init.out;
  EXPECT_NE(init.out.find("created database Att_1399\n"), std::string::npos) << init.out;
  EXPECT_NE(init.out.find("created database Att_1400\n"), std::string::npos) << init.out;
  EXPECT_NE(init.out.find("created database ZELLog\n"), std::string::npos) << init.out;
  const std::string ini = ReadAll(home_ / "Korlan.Ini");
  EXPECT_NE(ini.find("DATABASENAME=Att"), std::string::npos) << ini;
  EXPECT_NE(ini.find("EnableLog=F"), std::string::npos) << ini;

  Outcome again = RunAt("1399/08/03 09:00", {"db", "init"});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.err.find("does not overwrite"), std::string::npos) << again.err;

  Outcome sql = RunAt("1399/08/03 09:00",
                      {"sql",
                       "SELECT Code, Amount, HostName FROM Semaphor WHERE Code IN (17, 20)"
                       " ORDER BY Code\nGO\nSELECT Years, KorlanCalcOrService FROM SYSTEM"});
  ASSERT_EQ(sql.exit_code, 0) << sql.err;
  EXPECT_EQ(sql.out,
            "Code\tAmount\tHostName\n17\t0\t\n20\t0\t\n"
            "Years\tKorlanCalcOrService\n" +
                ("9900" + std::string(251, ' ')) + "\t0\n");

  Outcome bad_sql = RunAt("1399/08/03 09:00", {"sql", "SELECT * FROM NoSuchTable"});
  EXPECT_EQ(bad_sql.exit_code, 1);
  EXPECT_NE(bad_sql.err.find("NoSuchTable"), std::string::npos) << bad_sql.err;

  Outcome tick = RunAt("1399/08/03 09:00", {"tick"});
  ASSERT_EQ(tick.exit_code, 0) << tick.err;
  EXPECT_NE(tick.out.find("schedule pass done on 1399/08/03: 0 entries due"), std::string::npos)
      << tick.out;
  const std::string log = Log();
  EXPECT_NE(log.find(" : ServiceStart Started\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" : CurDate ==>> 1399/08/03\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" : Stop Service\n"), std::string::npos) << log;

  Outcome users =
      RunAt("1399/08/03 09:00", {"sql", "SELECT Code, BeginDate, EndDate FROM UsersLog"});
  EXPECT_EQ(users.out, "Code\tBeginDate\tEndDate\nSRV\t1399/08/03\t1399/08/03\n");
}

TEST_F(CliTest, CalcRunsTheManagementForGivenPersons) {
  ASSERT_EQ(RunAt("1399/08/03 09:00", {"db", "init"}).exit_code, 0);
  ASSERT_EQ(RunAt("1399/08/03 09:00",
                  {"sql", "INSERT INTO Person (Perno) VALUES ('      1001'), ('      1002')"})
                .exit_code,
            0);
  Outcome daily = RunAt("1399/08/03 09:00", {"calc", "daily", "--year", "1399", "--from", "08/01",
                                             "--to", "08/03", "--person", "1001"});
  EXPECT_EQ(daily.exit_code, 0) << daily.err;
  EXPECT_EQ(daily.out.rfind("daily calculation of 08/01 - 08/03 in 1399 done for 1 person", 0), 0u)
      << daily.out;
  // The last line ends with the round trips the run made.
  const std::size_t sent = daily.out.rfind(" statements sent\n");
  ASSERT_NE(sent, std::string::npos) << daily.out;
  const std::size_t count = daily.out.rfind("; ", sent) + 2;
  EXPECT_GT(std::stoi(daily.out.substr(count, sent - count)), 0) << daily.out;
  Outcome rows =
      RunAt("1399/08/03 09:00", {"sql",
                                 "SELECT PerNo FROM CSSPerTemp\nGO\nSELECT ScheduleId, Comment "
                                 "FROM CSSLog WHERE Comment LIKE N'شروع%'"});
  EXPECT_EQ(rows.out,
            "PerNo\n      1001\nScheduleId\tComment\n"
            "0\tشروع محاسبه: 09:00:00 خاتمه محاسبه: 09:00:00\n");

  // A monthly run over month 8, of which the daily run calculated three days: the month
  // is reported incomplete in CSSLog and no MahWork row is written.
  Outcome monthly = RunAt("1399/08/03 09:00", {"calc", "monthly", "--year", "1399", "--from", "8",
                                               "--to", "8", "--person", "1001"});
  EXPECT_EQ(monthly.exit_code, 0) << monthly.err;
  EXPECT_EQ(monthly.out.rfind("monthly calculation of 8 - 8 in 1399 done for 1 person; 0 MahWork "
                              "rows written",
                              0),
            0u)
      << monthly.out;
  Outcome incomplete = RunAt("1399/08/03 09:00",
                             {"sql", "SELECT COUNT(*) FROM CSSLog WHERE Comment LIKE N'%آبان%'"});
  EXPECT_EQ(incomplete.out, "\n1\n") << incomplete.out;

  // A period of the three days 08/01-08/03, each with its daily row: one PrdWork row.
  ASSERT_EQ(
      RunAt("1399/08/03 09:00", {"sql",
                                 "UPDATE SYSTEM SET Period8B = '08/01', Period8E = '08/03'\n"
                                 "INSERT INTO WorkGrp (CODE, CALCODE, GROUPTYPE) VALUES (1, 1, 1)"})
          .exit_code,
      0);
  ASSERT_EQ(
      RunAt("1399/08/03 09:00",
            {"sql", "--database", "Att_1399",
             "DELETE FROM DayWork\n"
             "INSERT INTO PrjRule (PERNO, BEGINDATE, ENDDATE, WORKGROUP) VALUES "
             "('      1001', '01/01', '12/30', 1)\n"
             "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES ('      1001', '08/01', 400), "
             "('      1001', '08/02', 400), ('      1001', '08/03', 400)"})
          .exit_code,
      0);
  Outcome periodic = RunAt("1399/08/03 09:00", {"calc", "periodic", "--year", "1399", "--from", "8",
                                                "--to", "8", "--person", "1001"});
  EXPECT_EQ(periodic.exit_code, 0) << periodic.err;
  EXPECT_EQ(periodic.out.rfind("periodic calculation of 8 - 8 in 1399 done for 1 person; 1 PrdWork "
                               "rows written",
                               0),
            0u)
      << periodic.out;
  EXPECT_EQ(RunAt("1399/08/03 09:00",
                  {"sql", "--database", "Att_1399", "SELECT Period, WorkTotal FROM PrdWork"})
                .out,
            "Period\tWorkTotal\n8\t1200\n");

  struct Case {
    const char* what;
    const char* setup;
    std::vector<std::string> args;
    const char* message;
  } failures[] = {
      {"unknown person", "", {"--person", "7777"}, "only 0 of the 1 persons given"},
      {"no year database", "", {"--year", "1401"}, "the year database Att_1401 cannot be used"},
      {"hold of another computer",
       "UPDATE Semaphor SET Amount = 1, HostName = 'PC9' WHERE Code = 17",
       {},
       "another program holds the calculation"},
      {"no CALC row", "DELETE FROM Semaphor WHERE Code = 17", {}, "no CALC row"},
  };
  for (const auto& c : failures) {
    if (*c.setup) {
      ASSERT_EQ(RunAt("1399/08/03 09:00", {"sql", c.setup}).exit_code, 0) << c.what;
    }
    std::vector<std::string> args{"calc", "monthly", "--from", "7", "--to", "7"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (std::find(args.begin(), args.end(), "--year") == args.end()) {
      args.insert(args.end(), {"--year", "1399"});
    }
    Outcome o = RunAt("1399/08/03 09:00", args);
    EXPECT_EQ(o.exit_code, 1) << c.what << ": " << o.out;
    EXPECT_NE(o.err.find(c.message), std::string::npos) << c.what << ": " << o.err;
  }
}

// The calculation hold for the operator, a hold left by a program that is gone, a hold of
// another computer, and a person given twice.
TEST_F(CliTest, HoldIsShownReleasedWhenItsHolderIsGoneAndRefusesTheRun) {
  ASSERT_EQ(RunAt("1399/08/03 09:00", {"db", "init"}).exit_code, 0);
  ASSERT_EQ(RunAt("1399/08/03 09:00", {"sql", "INSERT INTO Person (Perno) VALUES ('      1001')"})
                .exit_code,
            0);
  Outcome free = RunAt("1399/08/03 09:00", {"hold"});
  EXPECT_EQ(free.exit_code, 0) << free.err;
  EXPECT_EQ(free.out, "the calculation hold is free\n");

  // A hold of this computer whose process has ended (as after kill -9).
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  const std::string dead =
      zel::service::LocalComputerName().substr(0, 20) + ":" + std::to_string(child);
  const std::string take =
      "UPDATE Semaphor SET Amount = 1, HostName = '" + dead + "' WHERE Code = 17";
  ASSERT_EQ(RunAt("1399/08/03 09:00", {"sql", take}).exit_code, 0);
  Outcome stale = RunAt("1399/08/03 09:00", {"hold", "status"});
  EXPECT_NE(stale.out.find("taken by " + dead + " (this computer; the process no longer runs)"),
            std::string::npos)
      << stale.out;
  // The next calculation releases it (with a log line) and runs; a person given twice is
  // calculated once.
  Outcome daily =
      RunAt("1399/08/03 09:00", {"calc", "daily", "--year", "1399", "--from", "08/01", "--to",
                                 "08/02", "--person", "1001", "--person", " 1001"});
  EXPECT_EQ(daily.exit_code, 0) << daily.err;
  EXPECT_NE(daily.out.find("done for 1 person;"), std::string::npos) << daily.out;
  EXPECT_NE(Log().find("Released the calculation hold of " + dead + ", which no longer runs"),
            std::string::npos);
  Outcome after = RunAt("1399/08/03 09:00", {"sql", "SELECT Amount FROM Semaphor WHERE Code = 17"});
  EXPECT_EQ(after.out, "Amount\n0\n");

  // Another computer's hold: released only on purpose; a schedule pass it refuses fails.
  ASSERT_EQ(RunAt("1399/08/03 09:00",
                  {"sql",
                   "UPDATE Semaphor SET Amount = 1, HostName = 'PC9:77' WHERE Code = 17\n"
                   "INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, Data1, "
                   "CalcType, SubCalcType, FromDate, ToDate, CalcYear) VALUES "
                   "(1, 0, '08:00', 1, 0, 1, '08/01', '08/02', '1399')"})
                .exit_code,
            0);
  Outcome tick = RunAt("1399/08/03 09:00", {"tick"});
  EXPECT_EQ(tick.exit_code, 1) << tick.out;
  EXPECT_NE(tick.err.find("1 refused: another program holds the calculation"), std::string::npos)
      << tick.err;
  Outcome refused = RunAt("1399/08/03 09:00", {"hold", "release"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("belongs to another computer: PC9:77"), std::string::npos)
      << refused.err;
  Outcome forced = RunAt("1399/08/03 09:00", {"hold", "release", "--force"});
  EXPECT_EQ(forced.exit_code, 0) << forced.err;
  EXPECT_EQ(forced.out, "released the calculation hold of PC9:77 (another computer)\n");
  EXPECT_EQ(RunAt("1399/08/03 09:00", {"hold"}).out, "the calculation hold is free\n");
}

// Without a configured home the database commands say so and create nothing; a script that
// is not a readable file is an error.
TEST_F(CliTest, UnconfiguredHomeIsReportedAndLeftAsItIs) {
  fs::create_directories(home_);
  const struct {
    std::vector<std::string> args;
    const char* ini;  // nullptr: no Korlan.Ini
    const char* message;
  } cases[] = {
      {{"tick"}, nullptr, "cannot read"},
      {{"calc", "daily", "--year", "1399", "--from", "01/01", "--to", "01/01"},
       nullptr,
       "cannot read"},
      {{"tick"},
       "[ZEL]\r\nSERVERNAME=\r\n",
       "Korlan.Ini has no DATABASENAME; run `zelkl-calc db init`"},
      {{"sql", "SELECT 1"}, "[ZEL]\r\nDATABASENAME=\r\n", "has no DATABASENAME"},
      {{"hold"}, "[ZEL]\r\n", "has no DATABASENAME"},
  };
  for (const auto& c : cases) {
    fs::remove_all(home_);
    fs::create_directories(home_);
    if (c.ini) std::ofstream(home_ / "Korlan.Ini") << c.ini;
    Outcome o = RunAt("1399/08/03 09:00", c.args);
    EXPECT_EQ(o.exit_code, 1) << c.args[0];
    EXPECT_NE(o.err.find(c.message), std::string::npos) << c.args[0] << ": " << o.err;
    EXPECT_FALSE(fs::exists(home_ / "Data")) << c.args[0];
    EXPECT_EQ(fs::exists(home_ / "Korlan.Ini"), c.ini != nullptr) << c.args[0];
  }
  // db init completes the stub of the last case; a new configuration is the owner's alone
  // (it holds the password).
  Outcome init = RunAt("1399/08/03 09:00", {"db", "init"});
  ASSERT_EQ(init.exit_code, 0) << init.err;
  EXPECT_EQ(RunAt("1399/08/03 09:00", {"hold"}).exit_code, 0);
  fs::remove_all(home_);
  ASSERT_EQ(RunAt("1399/08/03 09:00", {"db", "init"}).exit_code, 0);
  EXPECT_EQ(fs::status(home_ / "Korlan.Ini").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  Outcome dir = RunAt("1399/08/03 09:00", {"sql", "-f", root_.string()});
  EXPECT_EQ(dir.exit_code, 1);
  EXPECT_NE(dir.err.find("not a file"), std::string::npos) << dir.err;
}

// Real processes on one home: a demo month, calculated by several programs at once and by
// programs killed in the middle. Results are compared person-day by person-day with those of
// a single clean run.
class ProcessTest : public CliTest {
 protected:
  static constexpr const char* kNow = "1399/03/01 10:00";

  void SetUp() override {
    CliTest::SetUp();
    Outcome demo = RunAt(kNow, {"db", "demo", "--persons", "12", "--year", "1399", "--month", "2"});
    ASSERT_EQ(demo.exit_code, 0) << demo.err;
    // The demo month is raw punches: label them, make permissions of the special-card
    // punches and web requests, and pair the rest into entry/exit records once, so that the
    // calculated days have presence and permissions.
    for (const char* step : {"clock", "service-late", "leave", "mission", "io"}) {
      Outcome transfer = RunAt(kNow, {"transfer", step, "--year", "1399"});
      ASSERT_EQ(transfer.exit_code, 0) << transfer.out << transfer.err;
    }
  }

  // The number of calculated person-days with work minutes.
  std::string WorkedDays() {
    return RunAt(kNow, {"sql", "--database", "Att_1399",
                        "SELECT COUNT(*) AS N FROM DayWork WHERE WorkTotal > 0"})
        .out;
  }

  std::vector<std::string> CalcArgs() const {
    return {"--home", home_.string(), "--now",  kNow,    "calc", "daily",
            "--year", "1399",         "--from", "02/01", "--to", "02/31"};
  }

  // Every result row of the month, grouped by "person|day".
  std::map<std::string, std::string> Results() {
    std::map<std::string, std::string> days;
    const char* const queries[] = {
        "SELECT PerNo, DDate, * FROM DayWork",     "SELECT PerNo, CalcDate, * FROM TimeTab",
        "SELECT Perno, CalcDate, * FROM MealTime", "SELECT PERNO, CALCDATE, * FROM ServTime",
        "SELECT PerNo, DDate, * FROM DayMorDt",    "SELECT PerNo, DDate, * FROM DayMamDt"};
    for (const char* query : queries) {
      Outcome o = RunAt(kNow, {"sql", "--database", "Att_1399", query});
      EXPECT_EQ(o.exit_code, 0) << o.err;
      std::istringstream lines(o.out);
      std::string line;
      std::getline(lines, line);  // the column names
      std::vector<std::string> rows;
      while (std::getline(lines, line)) rows.push_back(line);
      std::sort(rows.begin(), rows.end());
      for (const auto& row : rows) {
        const auto first = row.find('\t');
        const auto second = row.find('\t', first + 1);
        days[row.substr(0, second)] += std::string(query).substr(0, 40) + ":" + row + "\n";
      }
    }
    return days;
  }

  std::string HoldAmount() {
    return RunAt(kNow, {"sql", "SELECT Amount FROM Semaphor WHERE Code = 17"}).out;
  }
};

TEST_F(ProcessTest, TwoCalculationsStartedTogetherNeverBothHold) {
  Outcome first = Run(CalcArgs());
  ASSERT_EQ(first.exit_code, 0) << first.err;
  const auto reference = Results();
  ASSERT_GT(reference.size(), 100u);
  const std::string worked = WorkedDays();
  ASSERT_NE(worked, "N\n0\n") << worked;
  int refused = 0;
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Each process writes its own output files.
    const fs::path a = root_ / "a", b = root_ / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    auto start = [&](const fs::path& dir) {
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_addopen(&actions, 1, (dir / "out").c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
      posix_spawn_file_actions_addopen(&actions, 2, (dir / "err").c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
      std::vector<std::string> all{ZEL_CALC_EXE};
      for (const auto& arg : CalcArgs()) all.push_back(arg);
      std::vector<char*> argv;
      for (auto& arg : all) argv.push_back(arg.data());
      argv.push_back(nullptr);
      pid_t pid = 0;
      EXPECT_EQ(posix_spawn(&pid, ZEL_CALC_EXE, &actions, nullptr, argv.data(), environ), 0);
      posix_spawn_file_actions_destroy(&actions);
      return pid;
    };
    const pid_t pa = start(a), pb = start(b);
    int sa = 0, sb = 0;
    waitpid(pa, &sa, 0);
    waitpid(pb, &sb, 0);
    const int codes[] = {WEXITSTATUS(sa), WEXITSTATUS(sb)};
    const std::string errs[] = {ReadAll(a / "err"), ReadAll(b / "err")};
    for (int i = 0; i < 2; ++i) {
      // Either it calculated everything, or it was refused by the other one's hold.
      if (codes[i] != 0) {
        EXPECT_EQ(codes[i], 1) << errs[i];
        EXPECT_NE(errs[i].find("another program holds the calculation"), std::string::npos)
            << errs[i];
        ++refused;
      }
    }
    EXPECT_LT(codes[0] + codes[1], 2) << "both refused";
    EXPECT_EQ(HoldAmount(), "Amount\n0\n");
    EXPECT_TRUE(Results() == reference) << "results differ from a single run";
  }
  // Started together, they overlap at least once in four rounds.
  EXPECT_GT(refused, 0);
}

TEST_F(ProcessTest, CalculationKilledAtAnyMomentLeavesEveryDayWholeAndRerunsClean) {
  // The clean result, calculated in a copy of the home.
  const fs::path clean = root_ / "clean";
  fs::copy(home_, clean, fs::copy_options::recursive);
  Outcome reference_run = Run({"--home", clean.string(), "--now", kNow, "calc", "daily", "--year",
                               "1399", "--from", "02/01", "--to", "02/31"});
  ASSERT_EQ(reference_run.exit_code, 0) << reference_run.err;
  const fs::path kept_home = home_;
  home_ = clean;
  const auto reference = Results();
  const std::string worked = WorkedDays();
  ASSERT_NE(worked, "N\n0\n") << worked;
  home_ = kept_home;
  ASSERT_GT(reference.size(), 100u);

  for (int delay_ms : {150, 400, 900}) {
    SCOPED_TRACE("killed after " + std::to_string(delay_ms) + " ms");
    auto before = Results();
    const pid_t pid = Start(CalcArgs());
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    kill(pid, SIGKILL);
    Wait(pid);
    // Every person-day is as before (absent at first, complete after a rerun) or complete.
    auto after = Results();
    for (const auto& [day, rows] : reference) {
      const std::string now = after.count(day) ? after[day] : "";
      const std::string was = before.count(day) ? before[day] : "";
      EXPECT_TRUE(now == was || now == rows) << day << ":\n" << now;
    }
    for (const auto& [day, rows] : after) EXPECT_TRUE(reference.count(day)) << day;
    // The dead program's hold goes at the next start, and the rerun completes the month.
    Outcome rerun = Run(CalcArgs());
    EXPECT_EQ(rerun.exit_code, 0) << rerun.err;
    EXPECT_TRUE(Results() == reference) << "results differ from a clean run";
    EXPECT_EQ(HoldAmount(), "Amount\n0\n");
  }
}

// Programs that meet on the record intake of a small demo month: transfer commands and
// schedule passes take the calculation hold, are refused by another's, and stop cleanly on
// SIGTERM. An intake is held at the moments between its steps through the test pause of
// the service (ZEL_TEST_INTAKE_PAUSE), so that nothing depends on timing.
class IntakeProcessTest : public CliTest {
 protected:
  static constexpr const char* kNow = "1399/08/03 09:00";

  void SetUp() override {
    CliTest::SetUp();
    pause_ = root_ / "pause";
    Outcome demo = RunAt(kNow, {"db", "demo", "--persons", "20"});
    ASSERT_EQ(demo.exit_code, 0) << demo.err;
  }

  std::vector<std::string> Args(const fs::path& home, std::vector<std::string> args) const {
    args.insert(args.begin(), {"--home", home.string(), "--now", kNow});
    return args;
  }
  // Starts a program that pauses before each intake step until the test lets it go.
  pid_t StartPaused(const fs::path& dir, const std::vector<std::string>& args) {
    return StartIn(dir, Args(home_, args), "", {"ZEL_TEST_INTAKE_PAUSE=" + pause_.string()});
  }
  // Waits until the program pauses (true) or ends (false); at most a minute.
  bool Paused(pid_t pid) {
    for (int i = 0; i < 6000; ++i) {
      if (fs::exists(pause_)) return true;
      siginfo_t info{};
      if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid == pid) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  void Resume() { fs::remove(pause_); }
  // Lets a paused program run to its end.
  Outcome Finish(const fs::path& dir, pid_t pid) {
    while (Paused(pid)) Resume();
    return WaitIn(dir, pid);
  }

  // Everything the intake and the calculation write, table by table, rows sorted.
  std::string Intake(const fs::path& home) {
    std::string all;
    auto add = [&](const std::string& database, const std::string& table) {
      Outcome o = Run(Args(home, {"sql", "--database", database, "SELECT * FROM " + table}));
      EXPECT_EQ(o.exit_code, 0) << table << ": " << o.err;
      std::istringstream lines(o.out);
      std::vector<std::string> rows;
      for (std::string line; std::getline(lines, line);) rows.push_back(line);
      std::sort(rows.begin(), rows.end());
      all += "-- " + table + "\n";
      for (const auto& row : rows) all += row + "\n";
    };
    add("Att", "ClockDmp");
    for (const char* table :
         {"IoInfo", "ServLate", "Morkhasi", "DayMor", "Mission", "DayMam", "MamDays", "TmpSLate",
          "TmpMor", "TmpMam", "AskAbsence", "AskMission", "DayWork"}) {
      add("Att_1399", table);
    }
    return all;
  }
  std::string Sql(const std::string& sql, const std::string& database = "Att") {
    return RunAt(kNow, {"sql", "--database", database, sql}).out;
  }
  // The rows of a query on the home's embedded databases, values joined by tabs (NULL as
  // "NULL"), read in this process.
  static std::vector<std::string> Rows(const fs::path& home, const std::string& database,
                                       const std::string& sql) {
    zel::db::ConnectionSettings settings;
    settings.data_dir = (home / "Data").string();
    settings.database = database;
    std::vector<std::string> lines;
    for (const auto& row : zel::db::Connect(settings)->Execute(sql).rows) {
      std::string line;
      for (std::size_t i = 0; i < row.size(); ++i) {
        line += (i > 0 ? "\t" : "") + (row[i].IsNull() ? std::string("NULL") : row[i].AsString());
      }
      lines.push_back(line);
    }
    return lines;
  }
  std::string Hold() {
    return Sql("SELECT Amount, RTRIM(HostName) AS Holder FROM Semaphor WHERE Code = 17");
  }

  // The intake and results of one undisturbed schedule pass over a copy of the home.
  std::string PassReference() {
    const fs::path clean = root_ / "clean";
    fs::copy(home_, clean, fs::copy_options::recursive);
    Outcome tick = Run(Args(clean, {"tick"}));
    EXPECT_EQ(tick.exit_code, 0) << tick.err;
    const std::string reference = Intake(clean);
    EXPECT_NE(reference.find("-- IoInfo\n      1001\t"), std::string::npos) << reference;
    return reference;
  }

  fs::path pause_;
};

TEST_F(IntakeProcessTest, TransferCommandsTakeTheHoldOrAreRefusedAndReleaseItOnSigterm) {
  const char* const steps[] = {"clock", "service-late", "leave", "mission", "io"};
  const std::string before = Intake(home_);
  ASSERT_EQ(Sql("UPDATE Semaphor SET Amount = 1, HostName = 'PC9:77' WHERE Code = 17"), "");
  for (const char* step : steps) {
    Outcome o = RunAt(kNow, {"transfer", step});
    EXPECT_EQ(o.exit_code, 1) << step << ": " << o.out;
    EXPECT_NE(o.err.find("another program holds the calculation"), std::string::npos)
        << step << ": " << o.err;
  }
  EXPECT_EQ(Intake(home_), before);
  EXPECT_EQ(Hold(), "Amount\tHolder\n1\tPC9:77\n");

  ASSERT_EQ(Sql("UPDATE Semaphor SET Amount = 0, HostName = NULL WHERE Code = 17"), "");
  for (const char* step : steps) {
    SCOPED_TRACE(step);
    const fs::path dir = root_ / step;
    const pid_t pid = StartPaused(dir, {"transfer", step});
    ASSERT_TRUE(Paused(pid));
    kill(pid, SIGTERM);
    Outcome o = WaitIn(dir, pid);
    Resume();
    EXPECT_EQ(o.exit_code, 1) << o.out << o.err;
    EXPECT_NE(o.err.find("stopped by a signal"), std::string::npos) << o.err;
    EXPECT_EQ(Hold(), "Amount\tHolder\n0\t\n");
  }
  EXPECT_EQ(Intake(home_), before);
}

TEST_F(IntakeProcessTest, CalculationStartedDuringTheIoTransferIsRefusedAndNothingIsLost) {
  ASSERT_EQ(RunAt(kNow, {"transfer", "clock"}).exit_code, 0);
  const fs::path clean = root_ / "clean";
  fs::copy(home_, clean, fs::copy_options::recursive);
  ASSERT_EQ(Run(Args(clean, {"transfer", "io"})).exit_code, 0);
  const std::string reference = Intake(clean);

  const fs::path dir = root_ / "io";
  const pid_t io = StartPaused(dir, {"transfer", "io"});
  ASSERT_TRUE(Paused(io));
  const std::string person_table = Sql("SELECT PerNo FROM CSSPerTemp");
  const struct {
    std::vector<std::string> args;
  } others[] = {{{"calc", "daily", "--year", "1399", "--from", "08/01", "--to", "08/03"}},
                {{"transfer", "io"}},
                {{"tick"}}};
  for (const auto& other : others) {
    Outcome o = RunAt(kNow, other.args);
    EXPECT_EQ(o.exit_code, 1) << other.args[0] << ": " << o.out;
    EXPECT_NE(o.err.find("another program holds the calculation"), std::string::npos)
        << other.args[0] << ": " << o.err;
    EXPECT_EQ(Sql("SELECT PerNo FROM CSSPerTemp"), person_table) << other.args[0];
  }
  Outcome done = Finish(dir, io);
  EXPECT_EQ(done.exit_code, 0) << done.err;
  EXPECT_EQ(Intake(home_), reference);
  EXPECT_EQ(Hold(), "Amount\tHolder\n0\t\n");
}

TEST_F(IntakeProcessTest, TwoPassesOneSecondApartNeverShareTheIntake) {
  const std::string reference = PassReference();
  const fs::path a = root_ / "a";
  const pid_t first = StartPaused(a, {"tick"});
  ASSERT_TRUE(Paused(first));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  Outcome second = RunAt(kNow, {"tick"});
  EXPECT_EQ(second.exit_code, 1) << second.out;
  EXPECT_NE(second.err.find("1 entry due; 1 refused: another program holds the calculation"),
            std::string::npos)
      << second.err;
  Outcome done = Finish(a, first);
  EXPECT_EQ(done.exit_code, 0) << done.err;
  EXPECT_EQ(Intake(home_), reference);
  Outcome third = RunAt(kNow, {"tick"});
  EXPECT_EQ(third.exit_code, 0) << third.err;
  EXPECT_NE(third.out.find(": 0 entries due;"), std::string::npos) << third.out;
}

TEST_F(IntakeProcessTest, PassStoppedDuringItsTransfersIsDueAgain) {
  const std::string reference = PassReference();
  const fs::path a = root_ / "a";
  const pid_t pass = StartPaused(a, {"tick"});
  // The labelling runs; the stop comes before the service-late transfer.
  ASSERT_TRUE(Paused(pass));
  Resume();
  ASSERT_TRUE(Paused(pass));
  kill(pass, SIGTERM);
  Outcome stopped = WaitIn(a, pass);
  Resume();
  EXPECT_EQ(stopped.exit_code, 1) << stopped.out;
  EXPECT_NE(stopped.err.find("stopped by a signal"), std::string::npos) << stopped.err;
  EXPECT_EQ(Sql("SELECT LastRunDate FROM CSSchedule"), "LastRunDate\n\n");
  // The labelling was done; nothing after it.
  EXPECT_NE(Sql("SELECT COUNT(*) AS N FROM ClockDmp WHERE IO_TYPE IS NOT NULL"), "N\n0\n");
  EXPECT_EQ(Sql("SELECT COUNT(*) AS N FROM IoInfo", "Att_1399"), "N\n0\n");
  EXPECT_EQ(Sql("SELECT COUNT(*) AS N FROM DayWork", "Att_1399"), "N\n0\n");
  EXPECT_EQ(Hold(), "Amount\tHolder\n0\t\n");

  Outcome again = RunAt(kNow, {"tick"});
  EXPECT_EQ(again.exit_code, 0) << again.err;
  EXPECT_NE(again.out.find(": 1 entry due;"), std::string::npos) << again.out;
  EXPECT_EQ(Intake(home_), reference);
}

// A transfer step that fails: the others and the calculation still run, and the pass fails
// naming the step and its error.
TEST_F(IntakeProcessTest, PassSaysWhichTransferStepFailed) {
  ASSERT_EQ(Sql("DROP TABLE TmpMor", "Att_1399"), "");
  Outcome tick = RunAt(kNow, {"tick"});
  EXPECT_EQ(tick.exit_code, 1) << tick.out;
  const std::string last = tick.err.substr(tick.err.rfind('\n', tick.err.size() - 2) + 1);
  EXPECT_NE(last.find("1 transfer step failed, first leave: "), std::string::npos) << tick.err;
  EXPECT_NE(last.find("TmpMor"), std::string::npos) << tick.err;
  EXPECT_NE(Sql("SELECT COUNT(*) AS N FROM IoInfo", "Att_1399"), "N\n0\n");
  EXPECT_NE(Sql("SELECT COUNT(*) AS N FROM DayWork", "Att_1399"), "N\n0\n");
}

// A real site's dirty rows among the demo month of clean persons: a punch, rule, request or
// stored record that cannot be read is skipped, kept in its table and reported once in
// CSSLog, and everyone else's records and permissions come out as without it. Each bad row
// alone and all of them together, each on a copy of the home, the passes side by side; the
// schedule entry only takes the records in (no calculation), so each pass runs it again.
TEST_F(IntakeProcessTest, DirtyRowsAreSkippedKeptAndReportedOnceAndStopNobody) {
  ASSERT_EQ(Sql("UPDATE CSSchedule SET SubCalcType = 0"), "");
  const std::string person = "INSERT INTO Person (Perno, FirstName, LastName) VALUES ";
  const std::string punch =
      "INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, TRANSFERED, SPCARDTYPE) "
      "VALUES ";
  const std::string leave =
      "INSERT INTO AskAbsence (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime, Type, "
      "RecDate, IsDaily, IsApproved, IsTransfer) VALUES ";
  const std::string mission =
      "INSERT INTO AskMission (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime, Type, "
      "IssueDate, IsDaily, IsApproved, IsTransfer) VALUES ";
  struct Statement {
    const char* database;
    std::string sql;
  };
  struct BadRow {
    const char* name;
    std::vector<Statement> rows;
    Statement kept;      // counts the bad row as it was put in: 1 after every pass
    const char* report;  // a text of its CSSLog comment
    const char* step;    // the step that skips it, as the pass names it
  };
  const std::string kept_punch =
      "SELECT COUNT(*) AS N FROM ClockDmp WHERE TRANSFERED = 0 AND REC = ";
  const BadRow bad[] = {
      {"a year that is no number",
       {{"Att", punch + "(9001, '1001', '      1001', 'x399/08/02', '08:11', 0, 0)"}},
       {"Att", kept_punch + "9001"},
       "x399/08/02",
       "clock"},
      {"an hour and minute past the day",
       {{"Att", punch + "(9002, '1002', '      1002', '1399/08/02', '25:61', 0, 0)"}},
       {"Att", kept_punch + "9002"},
       "25:61",
       "clock"},
      {"day 0",
       {{"Att", punch + "(9003, '1003', '      1003', '1399/08/00', '08:13', 0, 0)"}},
       {"Att", kept_punch + "9003"},
       "1399/08/00",
       "clock"},
      {"day 31 of a 30-day month",
       {{"Att", punch + "(9004, '1004', '      1004', '1399/07/31', '08:14', 0, 0)"}},
       {"Att", kept_punch + "9004"},
       "1399/07/31",
       "clock"},
      {"month 13",
       {{"Att", punch + "(9005, '1005', '      1005', '1399/13/40', '08:15', 0, 0)"}},
       {"Att", kept_punch + "9005"},
       "1399/13/40",
       "clock"},
      {"an empty date",
       {{"Att", punch + "(9006, '1006', '      1006', '', '08:16', 0, 0)"}},
       {"Att", kept_punch + "9006"},
       "08:16",
       "clock"},
      {"no date",
       {{"Att", punch + "(9007, '1007', '      1007', NULL, '08:17', 0, 0)"}},
       {"Att", kept_punch + "9007"},
       "08:17",
       "clock"},
      {"a person not in Person",
       {{"Att", punch + "(9008, '9901', '      9901', '1399/08/02', '08:18', 0, 0)"}},
       {"Att", kept_punch + "9008"},
       "9901",
       "clock"},
      {"no person number",
       {{"Att", punch + "(9009, '9902', NULL, '1399/08/02', '08:19', 0, 0)"}},
       {"Att", kept_punch + "9009"},
       "9902",
       "clock"},
      {"a card without a rule",
       {{"Att", punch + "(9010, '9903', '      1003', '1399/08/02', '08:22', 0, 0)"}},
       {"Att", kept_punch + "9010"},
       "9903",
       "io"},
      {"a rule without a work group",
       {{"Att", person + "('      9904', 'N', 'G')"},
        {"Att", punch + "(9011, '9904', '      9904', '1399/08/02', '08:00', 0, 0), "
                        "(9012, '9904', '      9904', '1399/08/02', '16:00', 0, 0)"},
        {"Att_1399",
         "INSERT INTO PrjRule (PERNO, KARTNO, BEGINDATE, ENDDATE, WORKGROUP) VALUES "
         "('      9904', '9904', '01/01', '12/30', NULL)"}},
       {"Att_1399",
        "SELECT COUNT(*) AS N FROM PrjRule WHERE PERNO = '      9904' AND "
        "WORKGROUP IS NULL"},
       "9904",
       "io"},
      {"a stored entry of an unreadable time",
       {{"Att", person + "('      9905', 'S', 'T')"},
        {"Att", punch + "(9013, '9905', '      9905', '1399/08/02', '16:00', 0, 0)"},
        {"Att_1399",
         "INSERT INTO PrjRule (PERNO, KARTNO, BEGINDATE, ENDDATE, WORKGROUP) VALUES "
         "('      9905', '9905', '01/01', '12/30', 101)"},
        {"Att_1399",
         "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, Duration) VALUES "
         "('      9905', '08/02', '7:55', 0)"}},
       {"Att_1399",
        "SELECT COUNT(*) AS N FROM IoInfo WHERE PERNO = '      9905' AND "
        "BEGINTIME = '7:55' AND ENDTIME IS NULL"},
       "7:55",
       "io"},
      {"a web leave without a type",
       {{"Att_1399", leave + "(9101, '      1002', '08/12', '09:00', '08/12', '10:00', NULL, "
                             "'08/01', 0, 1, 0)"}},
       {"Att_1399", "SELECT COUNT(*) AS N FROM AskAbsence WHERE PageNo = 9101 AND IsTransfer = 0"},
       "9101",
       "leave"},
      {"a web leave of an unknown type",
       {{"Att_1399", leave + "(9102, '      1003', '08/13', '09:00', '08/13', '10:00', 777, "
                             "'08/01', 0, 1, 0)"}},
       {"Att_1399", "SELECT COUNT(*) AS N FROM AskAbsence WHERE PageNo = 9102 AND IsTransfer = 0"},
       "9102",
       "leave"},
      {"a web leave on month 13",
       {{"Att_1399", leave + "(9103, '      1002', '13/45', '09:00', '13/45', '10:00', 202, "
                             "'08/01', 0, 1, 0)"}},
       {"Att_1399", "SELECT COUNT(*) AS N FROM AskAbsence WHERE PageNo = 9103 AND IsTransfer = 0"},
       "9103",
       "leave"},
      {"a web mission at 99:99",
       {{"Att_1399", mission + "(9104, '      1004', '08/14', '99:99', '08/14', '10:00', 302, "
                               "'08/01', 0, 1, 0)"}},
       {"Att_1399", "SELECT COUNT(*) AS N FROM AskMission WHERE PageNo = 9104 AND IsTransfer = 0"},
       "9104",
       "mission"},
  };
  const std::size_t all = std::size(bad);

  // What every clean person has, one line per row, the rows of each query sorted: the bad
  // rows' own tables and persons left out.
  auto everyone = [&](const fs::path& home) {
    const std::string others = " WHERE PERNO NOT IN ('      9904', '      9905')";
    std::vector<std::pair<std::string, std::string>> queries{
        {"Att", "SELECT * FROM ClockDmp WHERE REC < 9000"},
        {"Att_1399", "SELECT * FROM IoInfo" + others},
        {"Att_1399", "SELECT * FROM AskAbsence WHERE PageNo < 9000"},
        {"Att_1399", "SELECT * FROM AskMission WHERE PageNo < 9000"}};
    for (const char* table : {"ServLate", "Morkhasi", "DayMor", "Mission", "DayMam", "MamDays",
                              "TmpSLate", "TmpMor", "TmpMam"}) {
      queries.emplace_back("Att_1399", std::string("SELECT * FROM ") + table);
    }
    std::vector<std::string> lines;
    for (const auto& [database, query] : queries) {
      for (const auto& row : Rows(home, database, query)) lines.push_back(query + " | " + row);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  // The lines of one list that the other lacks, marked "+" (only in `now`) and "-".
  auto differences = [](const std::vector<std::string>& now, const std::vector<std::string>& was) {
    std::vector<std::string> plus, minus, all;
    std::set_difference(now.begin(), now.end(), was.begin(), was.end(), std::back_inserter(plus));
    std::set_difference(was.begin(), was.end(), now.begin(), now.end(), std::back_inserter(minus));
    for (const auto& l : plus) all.push_back("+ " + l);
    for (const auto& l : minus) all.push_back("- " + l);
    return all;
  };
  auto reports = [&](const fs::path& home) {
    std::vector<std::string> rows = Rows(home, "Att", "SELECT PerNo, Comment FROM CSSLog");
    std::sort(rows.begin(), rows.end());
    return rows;
  };
  auto last_line = [](const Outcome& o) {
    std::string text = o.out + o.err;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') + 1);
  };

  // Case i < all: bad row i alone; case all: every bad row. Each on its own copy.
  std::vector<fs::path> homes;
  for (std::size_t i = 0; i <= all; ++i) {
    homes.push_back(root_ / ("case" + std::to_string(i)) / "home");
    fs::create_directories(homes.back().parent_path());
    fs::copy(home_, homes.back(), fs::copy_options::recursive);
    for (std::size_t j = 0; j < all; ++j) {
      if (i != all && i != j) continue;
      for (const auto& row : bad[j].rows) {
        Outcome o = Run(Args(homes.back(), {"sql", "--database", row.database, row.sql}));
        ASSERT_EQ(o.exit_code, 0) << bad[j].name << ": " << o.err;
      }
    }
  }
  // The clean home's last line: the demo's own punches of a year without a database are
  // skipped there too.
  std::string clean_line;
  auto passes = [&](const char* name) {
    std::vector<pid_t> pids;
    for (const auto& home : homes)
      pids.push_back(StartIn(home.parent_path() / name, Args(home, {"tick"})));
    const pid_t clean = StartIn(root_ / name, Args(home_, {"tick"}));
    std::vector<Outcome> outcomes;
    for (std::size_t i = 0; i < pids.size(); ++i) {
      outcomes.push_back(WaitIn(homes[i].parent_path() / name, pids[i]));
    }
    const Outcome c = WaitIn(root_ / name, clean);
    EXPECT_EQ(c.exit_code, 0) << c.err;
    clean_line = last_line(c);
    return outcomes;
  };
  // How many rows a step skipped, as the pass's last line counts them ("…: clock 2, io 1; …").
  auto skipped = [](const std::string& line, const std::string& step) {
    const std::size_t list = line.find("rows skipped and reported in CSSLog: ");
    if (list == std::string::npos) return 0;
    const std::size_t at = line.find(" " + step + " ", list);
    if (at == std::string::npos) return 0;
    return std::stoi(line.substr(at + step.size() + 2));
  };

  const std::vector<Outcome> first = passes("first");
  const std::vector<std::string> clean = everyone(home_);
  const std::vector<std::string> clean_reports = reports(home_);
  ASSERT_TRUE(std::any_of(clean.begin(), clean.end(), [](const std::string& line) {
    return line.rfind("SELECT * FROM IoInfo", 0) == 0 &&
           line.find("      1001\t08/01\t") != std::string::npos;
  }));
  std::vector<std::vector<std::string>> after_first;
  for (std::size_t i = 0; i <= all; ++i) {
    SCOPED_TRACE(i == all ? std::string("all together") : bad[i].name);
    EXPECT_EQ(first[i].exit_code, 0) << first[i].out << first[i].err;
    const std::string last = last_line(first[i]);
    EXPECT_NE(last.find("; rows skipped and reported in CSSLog: "), std::string::npos) << last;
    EXPECT_EQ(differences(everyone(homes[i]), clean), std::vector<std::string>{});
    std::vector<std::string> rows = reports(homes[i]);
    std::vector<std::string> rest = rows;
    for (std::size_t j = 0; j < all; ++j) {
      if (i != all && i != j) continue;
      SCOPED_TRACE(bad[j].name);
      if (i != all) {
        EXPECT_GT(skipped(last, bad[j].step), skipped(clean_line, bad[j].step))
            << last << " against the clean " << clean_line;
      }
      EXPECT_EQ(Rows(homes[i], bad[j].kept.database, bad[j].kept.sql),
                std::vector<std::string>{"1"});
      const auto is_report = [&](const std::string& r) {
        return r.find(bad[j].report) != std::string::npos;
      };
      EXPECT_EQ(std::count_if(rows.begin(), rows.end(), is_report), 1)
          << testing::PrintToString(rows);
      rest.erase(std::remove_if(rest.begin(), rest.end(), is_report), rest.end());
    }
    EXPECT_EQ(differences(rest, clean_reports), std::vector<std::string>{});
    after_first.push_back(rows);
  }

  // A second pass reports nothing again and keeps the rows as they are.
  const std::vector<Outcome> second = passes("second");
  const std::vector<std::string> clean_again = everyone(home_);
  for (std::size_t i = 0; i <= all; ++i) {
    SCOPED_TRACE(i == all ? std::string("all together") : bad[i].name);
    EXPECT_EQ(second[i].exit_code, 0) << second[i].out << second[i].err;
    EXPECT_EQ(differences(reports(homes[i]), after_first[i]), std::vector<std::string>{});
    EXPECT_EQ(differences(everyone(homes[i]), clean_again), std::vector<std::string>{});
  }
}

TEST_F(CliTest, RunStopsCleanlyOnSigterm) {
  ASSERT_EQ(RunAt("1399/08/03 09:00", {"db", "init"}).exit_code, 0);
  pid_t pid = Start(
      {"--home", home_.string(), "--now", "1399/08/03 09:00", "run", "--first-pass-after", "0"});
  // Wait for the first pass to have ended (its closing line), then stop the service.
  bool passed = false;
  for (int i = 0; i < 1000 && !passed; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    passed = Log().find("CurDate ==>> 1399/08/03") != std::string::npos;
  }
  ASSERT_TRUE(passed) << Log();
  kill(pid, SIGTERM);
  Outcome o = Wait(pid);
  EXPECT_EQ(o.exit_code, 0) << o.err;
  const std::string log = Log();
  EXPECT_NE(log.find(" : ServiceExecute Started\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" : Stop Service\n"), std::string::npos) << log;
  Outcome users =
      RunAt("1399/08/03 09:00", {"sql", "SELECT Code, BeginTime, EndDate FROM UsersLog"});
  EXPECT_EQ(users.out, "Code\tBeginTime\tEndDate\nSRV\t09:00\t1399/08/03\n");
}

}  // namespace

TEST_F(CliTest, ExplainADemoDayInEveryFormatWritingNothing) {
  ASSERT_EQ(RunAt("1399/08/03 09:00", {"db", "demo", "--persons", "6"}).exit_code, 0);
  ASSERT_EQ(RunAt("1399/08/03 09:00", {"tick"}).exit_code, 0);
  const std::vector<std::string> count{
      "sql", "--database", "Att_1399",
      "SELECT (SELECT COUNT(*) FROM DayWork) + (SELECT COUNT(*) FROM TimeTab) AS N"};
  const std::string rows_before = RunAt("1399/08/03 09:00", count).out;
  const std::vector<std::string> day{"explain", "--year", "1399", "--person",
                                     "1001",    "--date", "08/02"};

  Outcome text = RunAt("1399/08/03 09:00", day);
  EXPECT_EQ(text.exit_code, 0) << text.err;
  EXPECT_EQ(text.out.rfind("Person 1001 (", 0), 0u) << text.out;
  EXPECT_NE(text.out.find("Stretches:"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Stored DayWork row: the same as calculated now"), std::string::npos)
      << text.out;
  auto with = [&day](std::vector<std::string> more) {
    std::vector<std::string> args = day;
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  Outcome svg = RunAt("1399/08/03 09:00", with({"--format", "svg"}));
  EXPECT_EQ(svg.exit_code, 0) << svg.err;
  EXPECT_EQ(svg.out.rfind("<?xml", 0), 0u);
  EXPECT_NE(svg.out.find("</svg>"), std::string::npos);
  Outcome json = RunAt("1399/08/03 09:00", with({"--format", "json"}));
  EXPECT_EQ(json.exit_code, 0) << json.err;
  EXPECT_EQ(json.out.rfind("{\"days\":[{\"year\":\"1399\",\"person\":\"1001\"", 0), 0u) << json.out;
  Outcome month = RunAt("1399/08/03 09:00", {"explain", "--year", "1399", "--person", "1001",
                                             "--month", "8", "--format", "svg"});
  EXPECT_EQ(month.exit_code, 0) << month.err;
  EXPECT_NE(month.out.find(">08/30<"), std::string::npos);
  EXPECT_EQ(RunAt("1399/08/03 09:00", count).out, rows_before);

  struct Case {
    std::vector<std::string> args;
    int exit_code;
    const char* message;
  } failures[] = {
      {{"explain", "--year", "1399", "--person", "1001", "--date", "07/31"}, 2, "--date must be"},
      {{"explain", "--year", "1399", "--person", "1001"}, 2, "--date MM/DD or --month MM"},
      {with({"--month", "8"}), 2, "--date MM/DD or --month MM"},
      {with({"--format", "xml"}), 2, "--format must be"},
      {{"explain", "--year", "1399", "--person", "7777", "--date", "08/02"}, 1, "no person 7777"},
  };
  for (const auto& c : failures) {
    Outcome o = RunAt("1399/08/03 09:00", c.args);
    EXPECT_EQ(o.exit_code, c.exit_code) << c.message;
    EXPECT_NE(o.err.find(c.message), std::string::npos) << c.message << ": " << o.err;
  }
}
