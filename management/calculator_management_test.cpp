#include "management/calculator_management.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dates/clock.h"
#include "dates/zel_calc_utils.h"
#include "engine/dm_calculate.h"
#include "management/calc_hold.h"
#include "management/calculate_threads.h"
#include "management/test_server.h"
#include "schema/schema.h"
#include "util/text.h"

namespace zel::management {
namespace {

using testing::TestServer;
using namespace std::chrono_literals;

// What the workers of a run saw, gathered from their threads.
struct Watch {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::string, std::vector<std::string>> days;  // person -> "MM/DD" run
  std::vector<std::string> order;                        // persons in order of their first day
  // Workers between their start and their last day, and the most seen at once.
  int active = 0;
  int peak = 0;
  // Workers wait until `gate` of them are active at once, then all go on.
  int gate = 0;
  bool gate_open = false;
  // Hold state seen from inside the run: Semaphor CALC amount, host, System flag.
  std::vector<std::string> inside;
  bool released = false;
};

std::string DayOf(const engine::TAttendanceCalcManager& manager) {
  char day[8];
  std::snprintf(day, sizeof day, "%02d/%02d", manager.CalcDate().Month, manager.CalcDate().Day);
  return day;
}

void BindEvents(engine::TdmCalculate& module, std::shared_ptr<Watch> watch) {
  auto& manager = module.AttendanceCalcManager();
  manager.OnGetWorkingDays = [watch](engine::TAttendanceCalcManager& sender) {
    std::lock_guard lock(watch->mutex);
    const std::string person = util::TrimBlanks(sender.PersonID());
    if (!watch->days.count(person)) watch->order.push_back(person);
    watch->days[person].push_back(DayOf(sender));
  };
  manager.OnAddPresences = [](engine::TAttendanceCalcManager&) {};
  manager.OnValidatePresence = [](engine::TAttendanceCalcManager&,
                                  std::span<const engine::TPresence> group,
                                  engine::TPresence& result) {
    result = group.front();
    return true;
  };
  manager.OnProcessPresence = [](engine::TAttendanceCalcManager&, engine::TPresence) {};
  // The module's own daily handlers stay out of these runs.
  manager.OnInitialize = nullptr;
  manager.OnBeforeValidate = nullptr;
  manager.OnBeforeProcess = nullptr;
  manager.OnFinalize = nullptr;
  manager.OnHandleError = nullptr;
}

class ManagementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dates::SetNowJalali("1399/08/03 10:15", true);
    server_.Exec("Att",
                 "INSERT INTO Semaphor (Code, Amount, HostName) VALUES (1, 0, NULL), "
                 "(17, 0, NULL)");
    server_.Exec("Att", "INSERT INTO SYSTEM (KorlanCalcOrService) VALUES (0)");
    server_.Exec("Att", "INSERT INTO CSSchedule (ScheduleId, CalcType) VALUES (7, 0)");
  }
  void TearDown() override {
    SetMaxThreadWaitUnit(1000ms);
    dates::ResetNow();
  }

  // Persons 1001, 1002, ... in Person and, in that order, in CSSPerTemp.
  void AddPersons(int count) {
    for (int i = 1; i <= count; ++i) {
      const std::string perno = "'      " + std::to_string(1000 + i) + "'";
      server_.Exec("Att", "INSERT INTO Person (Perno, FirstName, LastName) VALUES (" + perno +
                              ", 'F', 'L')");
      server_.Exec("Att", "INSERT INTO CSSPerTemp (PerNo) VALUES (" + perno + ")");
    }
  }

  CalculatorSettings Daily(int max_thread) const {
    CalculatorSettings s = server_.Settings();
    s.max_thread = max_thread;
    s.from_date = "03/10";
    s.to_date = "03/11";
    return s;
  }

  // Binds the events and counts each worker active from its start to the end of its last
  // day (03/11); workers wait at the start until `gate` of them are active.
  static void Attach(TZELCalculatorManagement& manager, std::shared_ptr<Watch> watch) {
    manager.SetDailyModuleHook([watch](engine::TdmCalculate& module) {
      BindEvents(module, watch);
      module.AttendanceCalcManager().OnFinalize = [watch](engine::TAttendanceCalcManager& m) {
        if (DayOf(m) != "03/11") return;
        std::lock_guard lock(watch->mutex);
        --watch->active;
      };
      std::unique_lock lock(watch->mutex);
      watch->peak = std::max(watch->peak, ++watch->active);
      watch->changed.notify_all();
      if (watch->gate_open) return;
      if (watch->active >= watch->gate) {
        // A worker started beyond the limit would show up now; give it the chance.
        watch->changed.wait_for(lock, 50ms, [&] { return watch->active > watch->gate; });
        watch->gate_open = true;
        watch->changed.notify_all();
      } else {
        watch->changed.wait_for(lock, 60s, [&] { return watch->gate_open; });
      }
    });
  }

  std::vector<std::vector<std::string>> Rows(const std::string& database,
                                             const std::string& sql) const {
    std::vector<std::vector<std::string>> out;
    for (const auto& row : server_.Query(database, sql).rows) {
      std::vector<std::string> texts;
      for (const auto& value : row)
        texts.push_back(value.IsNull() ? "NULL" : util::TrimBlanks(value.AsString()));
      out.push_back(texts);
    }
    return out;
  }

  TestServer server_;
};

TEST(ManagementSettingsTest, WorkerLimitIsClampedToOneToFifty) {
  const struct {
    int given;
    int used;
  } cases[] = {{0, 3}, {-4, 3}, {1, 1}, {3, 3}, {50, 50}, {60, 50}, {80, 50}};
  for (const auto& c : cases) {
    CalculatorSettings s;
    s.max_thread = c.given;
    EXPECT_EQ(TZELCalculatorManagement(s).MaxThread(), c.used) << c.given;
  }
}

TEST(ManagementSettingsTest, SemaphoreCodeOfANameInTheList) {
  const std::vector<std::string> list = {"EnterSystem=1", " calc = 17 ", "LT=x18", "IOINFO="};
  const struct {
    const char* name;
    std::optional<int> code;
  } cases[] = {{"EnterSystem", 1},
               {"CALC", 17},
               {"Calc", 17},
               {"LT", std::nullopt},
               {"IOINFO", std::nullopt},
               {"CONFIRM", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(SemaphoreCode(list, c.name), c.code) << c.name;
}

TEST(ManagementSettingsTest, ConnectionStringsNameTheBaseAndTheYearDatabase) {
  CalculatorSettings s;
  s.server = "srv\\inst";
  s.user = "sa";
  s.password = "pw";
  s.database_name = "Att";
  s.current_year = "1399";
  TZELCalculatorManagement manager(s);
  EXPECT_EQ(manager.SqlConnStr(),
            "Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;User ID=sa;"
            "Initial Catalog=Att;Data Source=srv\\inst");
  EXPECT_EQ(manager.SqlConnYearStr(),
            "Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;User ID=sa;"
            "Initial Catalog=Att_1399;Data Source=srv\\inst");
}

TEST_F(ManagementTest, DailyRunHoldsTheSemaphoreAndFlagAndRecordsTheRun) {
  AddPersons(2);
  auto watch = std::make_shared<Watch>();
  TZELCalculatorManagement manager(Daily(3));
  manager.SetDailyModuleHook([watch](engine::TdmCalculate& module) {
    BindEvents(module, watch);
    const auto hold = module.ADOConnectionDbBase().Execute(
        "SELECT s.Amount, s.HostName, y.KorlanCalcOrService FROM Semaphor s, SYSTEM y "
        "WHERE s.Code = 17");
    std::lock_guard lock(watch->mutex);
    watch->inside.push_back(hold.rows[0][0].AsString() + "|" +
                            util::TrimBlanks(hold.rows[0][1].AsString()) + "|" +
                            hold.rows[0][2].AsString());
  });
  std::vector<std::pair<int, int>> progress;
  manager.SetProgressCallback([&](int done, int total) { progress.emplace_back(done, total); });

  const RunResult result = manager.RunDailyCalculatorForOnePerson();

  EXPECT_EQ(result.status, RunStatus::kCompleted);
  EXPECT_EQ(result.persons, 2);
  EXPECT_EQ(result.abandoned, 0);
  // The holder is this process of this computer, "host:pid".
  const std::string host = ThisHoldHolder();
  EXPECT_EQ(watch->inside, (std::vector<std::string>{"1|" + host + "|4", "1|" + host + "|4"}));
  EXPECT_EQ(watch->days["1001"], (std::vector<std::string>{"03/10", "03/11"}));
  EXPECT_EQ(watch->days["1002"], (std::vector<std::string>{"03/10", "03/11"}));
  EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{1, 2}, {2, 2}}));
  EXPECT_EQ(Rows("Att", "SELECT Code, Amount, HostName FROM Semaphor ORDER BY Code"),
            (std::vector<std::vector<std::string>>{{"1", "0", "NULL"}, {"17", "0", "NULL"}}));
  EXPECT_EQ(Rows("Att", "SELECT KorlanCalcOrService FROM SYSTEM"),
            (std::vector<std::vector<std::string>>{{"0"}}));
  EXPECT_EQ(Rows("Att", "SELECT LastRunDate, LastRunTime FROM CSSchedule WHERE ScheduleId = 7"),
            (std::vector<std::vector<std::string>>{{"1399/08/03", "10:15"}}));
  EXPECT_NE(server_.LogFile("Log(1399-08-03)_T0.Log").find(" : MaxThread = 3"), std::string::npos);
}

TEST_F(ManagementTest, HeldOrMissingCalcRowSkipsTheRunAndSaysSo) {
  const struct {
    const char* name;
    const char* setup;
    std::vector<std::string> semaphore_list;
    RunStatus status;
    const char* comment;
    std::vector<std::vector<std::string>> semaphor_after;
  } cases[] = {
      {"another program holds CALC",
       "DELETE FROM Semaphor; INSERT INTO Semaphor VALUES (1, 0, NULL), (17, 1, 'other')",
       {"EnterSystem=1", "CALC=17"},
       RunStatus::kSemaphoreBusy,
       "فرد ديگري در اين فرم است .",
       {{"1", "0", "NULL"}, {"17", "1", "other"}}},
      {"no CALC row",
       "DELETE FROM Semaphor; INSERT INTO Semaphor VALUES (1, 0, NULL)",
       {"EnterSystem=1", "CALC=17"},
       RunStatus::kNoCalcSemaphore,
       "Table Semaphor has no CALC row: the calculation did not run.",
       {{"1", "0", "NULL"}}},
      {"no CALC code in the list",
       "DELETE FROM Semaphor; INSERT INTO Semaphor VALUES (1, 0, NULL), (17, 0, NULL)",
       {"EnterSystem=1"},
       RunStatus::kNoCalcSemaphore,
       "Table Semaphor has no CALC row: the calculation did not run.",
       {{"1", "0", "NULL"}, {"17", "0", "NULL"}}},
  };
  AddPersons(1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Exec("Att", "DELETE FROM CSSLog");
    server_.Exec("Att", c.setup);
    auto watch = std::make_shared<Watch>();
    CalculatorSettings s = Daily(3);
    s.semaphore_list = c.semaphore_list;
    TZELCalculatorManagement manager(s);
    manager.SetDailyModuleHook(
        [watch](engine::TdmCalculate& module) { BindEvents(module, watch); });

    EXPECT_EQ(manager.RunDailyCalculatorForOnePerson().status, c.status);

    EXPECT_TRUE(watch->days.empty());
    EXPECT_EQ(
        Rows("Att", "SELECT ScheduleId, PerNo, LogDate, LogTime, Comment, Status FROM CSSLog"),
        (std::vector<std::vector<std::string>>{{"7", "", "1399/08/03", "10:15", c.comment, "0"}}));
    EXPECT_EQ(Rows("Att", "SELECT Code, Amount, HostName FROM Semaphor ORDER BY Code"),
              c.semaphor_after);
    EXPECT_EQ(Rows("Att", "SELECT KorlanCalcOrService FROM SYSTEM"),
              (std::vector<std::vector<std::string>>{{"0"}}));
    EXPECT_EQ(Rows("Att", "SELECT LastRunDate FROM CSSchedule"),
              (std::vector<std::vector<std::string>>{{"NULL"}}));
  }
}

TEST_F(ManagementTest, NeverMoreWorkersAtOnceThanTheLimitAndStartedInListOrder) {
  const struct {
    int max_thread;
    int persons;
    int peak;
  } cases[] = {{0, 5, 3}, {1, 3, 1}, {60, 4, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE("MaxThread " + std::to_string(c.max_thread));
    server_.Exec("Att", "DELETE FROM Person");
    server_.Exec("Att", "DELETE FROM CSSPerTemp");
    AddPersons(c.persons);
    auto watch = std::make_shared<Watch>();
    watch->gate = c.peak;
    TZELCalculatorManagement manager(Daily(c.max_thread));
    Attach(manager, watch);

    const RunResult result = manager.RunDailyCalculatorForOnePerson();

    EXPECT_EQ(result.persons, c.persons);
    EXPECT_EQ(watch->peak, c.peak);
    EXPECT_EQ(static_cast<int>(watch->days.size()), c.persons);
    for (const auto& [person, days] : watch->days) {
      EXPECT_EQ(days, (std::vector<std::string>{"03/10", "03/11"})) << person;
    }
  }
}

TEST_F(ManagementTest, OneWorkerAtATimeCalculatesThePersonsInListOrder) {
  AddPersons(3);
  auto watch = std::make_shared<Watch>();
  TZELCalculatorManagement manager(Daily(1));
  manager.SetDailyModuleHook([watch](engine::TdmCalculate& module) { BindEvents(module, watch); });
  manager.RunDailyCalculatorForOnePerson();
  EXPECT_EQ(watch->order, (std::vector<std::string>{"1001", "1002", "1003"}));
}

// A run's worker slots keep their connections from person to person (a temporary table
// lives as long as its connection): at most MaxThread connections are made for any number
// of persons.
TEST_F(ManagementTest, WorkersHandTheirConnectionsOnToTheNextPersons) {
  const struct {
    int max_thread;
    int persons;
    int most_connections;
  } cases[] = {{1, 3, 1}, {2, 5, 2}, {3, 2, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.max_thread) + " threads, " + std::to_string(c.persons) +
                 " persons");
    server_.Exec("Att", "DELETE FROM Person");
    server_.Exec("Att", "DELETE FROM CSSPerTemp");
    AddPersons(c.persons);
    auto watch = std::make_shared<Watch>();
    std::atomic<int> fresh{0}, kept{0};
    TZELCalculatorManagement manager(Daily(c.max_thread));
    manager.SetDailyModuleHook([&, watch](engine::TdmCalculate& module) {
      BindEvents(module, watch);
      try {
        module.ADOConnectionDbBase().Execute("CREATE TABLE #slot (n int)");
        ++fresh;
      } catch (const db::DbError&) {
        ++kept;
      }
    });
    const RunResult result = manager.RunDailyCalculatorForOnePerson();
    EXPECT_EQ(fresh + kept, c.persons);
    EXPECT_LE(fresh, c.most_connections);
    EXPECT_GE(fresh, 1);
    for (int i = 1; i <= c.persons; ++i) {
      const std::string person = std::to_string(1000 + i);
      EXPECT_EQ(watch->days[person], (std::vector<std::string>{"03/10", "03/11"})) << person;
    }
    EXPECT_EQ(result.failed_persons, 0);
  }
}

TEST_F(ManagementTest, DailyWorkerOverItsTimeLimitIsGivenUpAndTheRunGoesOn) {
  AddPersons(2);
  // The limit is the range's days + 20 units; a unit of 1 ms gives the first worker 22 ms.
  SetMaxThreadWaitUnit(1ms);
  auto watch = std::make_shared<Watch>();
  TZELCalculatorManagement manager(Daily(1));
  manager.SetDailyModuleHook([watch](engine::TdmCalculate& module) {
    BindEvents(module, watch);
    auto& events = module.AttendanceCalcManager();
    events.OnGetWorkingDays =
        [watch, record = events.OnGetWorkingDays](engine::TAttendanceCalcManager& sender) {
          {
            std::unique_lock lock(watch->mutex);
            if (util::TrimBlanks(sender.PersonID()) == "1001") {
              // 1001 stays in its first day until 1002 runs, i.e. until it has been given up.
              watch->changed.wait_for(lock, 60s, [&] { return watch->released; });
            } else {
              watch->released = true;
              watch->changed.notify_all();
            }
          }
          record(sender);
        };
  });
  // Once 1001 has been given up, the next worker keeps all its time.
  manager.SetProgressCallback([](int done, int) {
    if (done == 1) SetMaxThreadWaitUnit(1000ms);
  });

  const RunResult result = manager.RunDailyCalculatorForOnePerson();
  ASSERT_TRUE(WaitForAbandonedWorkers(60s));

  EXPECT_EQ(result.status, RunStatus::kCompleted);
  EXPECT_EQ(result.abandoned, 1);
  std::lock_guard lock(watch->mutex);
  // Given up before or during its first day: the second day is never calculated.
  EXPECT_LE(watch->days["1001"].size(), 1u);
  EXPECT_EQ(watch->days["1002"], (std::vector<std::string>{"03/10", "03/11"}));
  EXPECT_EQ(Rows("Att", "SELECT ScheduleId, PerNo, Comment FROM CSSLog"),
            (std::vector<std::vector<std::string>>{
                {"7", "1001",
                 "امکان محاسبه برخی از روزهای محدوده انتخابی برای پرسنل 1001 وجود ندارد."}}));
  EXPECT_EQ(Rows("Att", "SELECT Amount FROM Semaphor WHERE Code = 17"),
            (std::vector<std::vector<std::string>>{{"0"}}));
}

// A stop request (SIGTERM, SIGINT) during a run: no further worker starts, the running ones
// are stopped, and the run still releases the hold and ends.
TEST_F(ManagementTest, StopRequestStopsTheWorkersAndReleasesTheHold) {
  AddPersons(4);
  auto watch = std::make_shared<Watch>();
  std::atomic<bool> entered{false};
  TZELCalculatorManagement manager(Daily(1));
  manager.SetDailyModuleHook([watch, &entered](engine::TdmCalculate& module) {
    BindEvents(module, watch);
    module.AttendanceCalcManager().OnAddPresences = [&entered](engine::TAttendanceCalcManager&) {
      entered = true;
      std::this_thread::sleep_for(200ms);
    };
  });
  manager.SetStopCheck([&entered] { return entered.load(); });
  const RunResult result = manager.RunDailyCalculatorForOnePerson();
  ASSERT_TRUE(WaitForAbandonedWorkers(60s));
  EXPECT_TRUE(result.stopped);
  std::lock_guard lock(watch->mutex);
  EXPECT_EQ(watch->order, (std::vector<std::string>{"1001"}));
  EXPECT_EQ(watch->days["1001"], (std::vector<std::string>{"03/10"}));
  EXPECT_EQ(Rows("Att", "SELECT Amount, HostName FROM Semaphor WHERE Code = 17"),
            (std::vector<std::vector<std::string>>{{"0", "NULL"}}));
}

// A stopped run is not a completed one: the schedule entry stays due, whatever the kind.
TEST_F(ManagementTest, StoppedRunLeavesTheEntryDue) {
  AddPersons(2);
  const struct {
    const char* name;
    RunResult (TZELCalculatorManagement::*run)();
    const char* from;
  } cases[] = {
      {"daily", &TZELCalculatorManagement::RunDailyCalculatorForOnePerson, "03/10"},
      {"monthly", &TZELCalculatorManagement::RunMonthlyCalculatorForOnePerson, "3"},
      {"periodic", &TZELCalculatorManagement::RunPeriodicCalculatorForOnePerson, "3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CalculatorSettings s = Daily(1);
    s.from_date = c.from;
    s.to_date = c.from;
    TZELCalculatorManagement manager(s);
    manager.SetStopCheck([] { return true; });
    const RunResult result = (manager.*c.run)();
    ASSERT_TRUE(WaitForAbandonedWorkers(60s));
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(Rows("Att", "SELECT LastRunDate, LastRunTime FROM CSSchedule"),
              (std::vector<std::vector<std::string>>{{"NULL", "NULL"}}));
    EXPECT_EQ(Rows("Att", "SELECT Amount, HostName FROM Semaphor WHERE Code = 17"),
              (std::vector<std::vector<std::string>>{{"0", "NULL"}}));
  }
}

// Workers that fail are counted, with the first failure's message, so the caller can say so.
TEST_F(ManagementTest, FailedWorkersAreCountedWithTheFirstFailure) {
  AddPersons(2);
  CalculatorSettings s = Daily(3);
  s.current_year = "1398";  // no such year database: no worker can connect
  TZELCalculatorManagement manager(s);
  const RunResult result = manager.RunDailyCalculatorForOnePerson();
  EXPECT_EQ(result.status, RunStatus::kCompleted);
  EXPECT_EQ(result.persons, 2);
  EXPECT_EQ(result.failed_persons, 2);
  EXPECT_NE(result.first_failure.find("Att_1398"), std::string::npos) << result.first_failure;
}

TEST_F(ManagementTest, UnreadablePersonTableRunsNoWorkerButReleasesAndRecords) {
  CalculatorSettings s = Daily(3);
  s.temp_table_name = "NoSuchPersonTable";
  TZELCalculatorManagement manager(s);
  const RunResult result = manager.RunDailyCalculatorForOnePerson();
  EXPECT_EQ(result.status, RunStatus::kCompleted);
  EXPECT_EQ(result.persons, 0);
  EXPECT_EQ(Rows("Att", "SELECT Amount, HostName FROM Semaphor WHERE Code = 17"),
            (std::vector<std::vector<std::string>>{{"0", "NULL"}}));
  EXPECT_EQ(Rows("Att", "SELECT LastRunDate FROM CSSchedule"),
            (std::vector<std::vector<std::string>>{{"1399/08/03"}}));
  EXPECT_NE(server_.LogFile("Log(1399-08-03)_T0.Log")
                .find(" : Error reading the person table NoSuchPersonTable : "),
            std::string::npos);
}

// The stop check reaches the transfers, which abandon their run whole when asked to stop:
// the IO transfer and a permission transfer (leave, from a leave card punch).
TEST_F(ManagementTest, StoppedTransferKeepsNothing) {
  AddPersons(1);
  server_.Exec("Att",
               "INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, TRANSFERED, "
               "IO_TYPE, UNCERTAIN, SPCARDTYPE, SPECCARDNO) VALUES "
               "(1, '1001', '      1001', '1399/03/10', '08:00', 0, '1', 0, 0, ''), "
               "(2, '1001', '      1001', '1399/03/10', '10:00', 0, '2', 0, 1, 'L01'), "
               "(3, '1001', '      1001', '1399/03/10', '16:00', 0, '2', 0, 0, '')");
  for (const std::string& batch : db::DateFunctionBatches()) server_.Exec("Att", batch);
  server_.Exec("Att_1399", "CREATE VIEW V_GetCalItem AS " + db::CalItemViewSelect("Att"));
  for (const int kind : {4, 2}) {
    SCOPED_TRACE(kind);
    TZELCalculatorManagement manager(server_.Settings());
    manager.SetStopCheck([] { return true; });
    const TransferRunResult result = manager.RunTransferRecordsForPersonList(kind);
    EXPECT_TRUE(result.stopped) << result.error;
    EXPECT_FALSE(result.done);
    EXPECT_EQ(Rows("Att", "SELECT REC, TRANSFERED FROM ClockDmp ORDER BY REC"),
              (std::vector<std::vector<std::string>>{{"1", "0"}, {"2", "0"}, {"3", "0"}}));
    EXPECT_EQ(Rows("Att_1399",
                   "SELECT (SELECT COUNT(*) FROM IoInfo) + (SELECT COUNT(*) FROM Morkhasi) + "
                   "(SELECT COUNT(*) FROM TmpMor)"),
              (std::vector<std::vector<std::string>>{{"0"}}));
  }
}

// The stop check reaches the labelling, which ends between cards.
TEST_F(ManagementTest, StoppedClockRecordRunEndsBeforeTheNextCard) {
  server_.Exec("Att",
               "INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, "
               "TRANSFERED) VALUES (1, '1001', '      1001', '1399/03/10', '08:00', 0)");
  TZELCalculatorManagement manager(server_.Settings());
  manager.SetStopCheck([] { return true; });
  const ClockRecResult result = manager.RunSetClockDmpRecordsForPersonList();
  EXPECT_TRUE(result.stopped);
  EXPECT_FALSE(result.completed);
  EXPECT_EQ(result.counts.Labelled(), 0);
  EXPECT_EQ(Rows("Att", "SELECT IO_TYPE FROM ClockDmp"),
            (std::vector<std::vector<std::string>>{{"NULL"}}));
}

TEST_F(ManagementTest, ClockRecordRunLabelsWithoutTheHoldAndReportsItsFailure) {
  server_.Exec("Att",
               "INSERT INTO ClockDmp (REC, KARTNO, PERNO, CLOCKDATE, CLOCKTIME, "
               "TRANSFERED) VALUES (1, '1001', '      1001', '1399/03/10', '08:00', 0)");
  {
    TZELCalculatorManagement manager(server_.Settings());
    const ClockRecResult result = manager.RunSetClockDmpRecordsForPersonList();
    EXPECT_TRUE(result.completed) << result.error;
    EXPECT_EQ(result.counts.Labelled(), 1);
  }
  EXPECT_EQ(Rows("Att", "SELECT IO_TYPE FROM ClockDmp"),
            (std::vector<std::vector<std::string>>{{"1"}}));
  EXPECT_EQ(Rows("Att", "SELECT Amount FROM Semaphor WHERE Code = 17"),
            (std::vector<std::vector<std::string>>{{"0"}}));
  EXPECT_EQ(Rows("Att", "SELECT LastRunDate FROM CSSchedule"),
            (std::vector<std::vector<std::string>>{{"NULL"}}));

  CalculatorSettings s = server_.Settings();
  s.current_year = "1400";  // no such year database
  TZELCalculatorManagement manager(s);
  const ClockRecResult result = manager.RunSetClockDmpRecordsForPersonList();
  EXPECT_FALSE(result.completed);
  EXPECT_FALSE(result.error.empty());
  EXPECT_NE(server_.LogFile("ErrorTransfer(1399-08-03)_T0.Log")
                .find(" : Error On Set Records(IO Transfer) : 1400_Att|"),
            std::string::npos);
}

TEST_F(ManagementTest, MonthlyAndPeriodicRunsCalculateEveryPersonAndRecordTheRun) {
  // 1001 has every day of month (and period) 3; 1002 has none: its month and period are
  // reported and 1001's rows are written all the same.
  AddPersons(2);
  server_.Exec("Att", "UPDATE SYSTEM SET Period3B = '03/01', Period3E = '03/31'");
  server_.Exec("Att", "INSERT INTO WorkGrp (CODE, CALCODE, GROUPTYPE) VALUES (1, 1, 1)");
  server_.Exec("Att_1399",
               "INSERT INTO PrjRule (PERNO, BEGINDATE, ENDDATE, WORKGROUP) VALUES "
               "('      1001', '01/01', '12/30', 1), ('      1002', '01/01', '12/30', 1)");
  for (int d = 1; d <= 31; ++d) {
    server_.Exec("Att_1399",
                 "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES ('      1001', "
                 "'03/" +
                     std::string(d < 10 ? "0" : "") + std::to_string(d) + "', 10)");
  }
  const struct {
    const char* name;
    RunResult (TZELCalculatorManagement::*run)();
    const char* result;
    const char* comment;
  } cases[] = {
      {"monthly", &TZELCalculatorManagement::RunMonthlyCalculatorForOnePerson,
       "SELECT PerNo, WorkTotal FROM MahWork WHERE MMonth = 3",
       "L F (      1002) (خرداد): هيچ روزي از ماه محاسبه نشده است."},
      {"periodic", &TZELCalculatorManagement::RunPeriodicCalculatorForOnePerson,
       "SELECT PerNo, WorkTotal FROM PrdWork WHERE Period = 3",
       "L F                  (1002  ) ( دوره  3) : هيچ روزي از دوره محاسبه نشده است."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Exec("Att", "DELETE FROM CSSLog");
    server_.Exec("Att", "UPDATE CSSchedule SET LastRunDate = NULL");
    CalculatorSettings s = server_.Settings();
    s.from_date = "3";
    s.to_date = "3";
    TZELCalculatorManagement manager(s);
    const RunResult result = (manager.*c.run)();
    EXPECT_EQ(result.status, RunStatus::kCompleted);
    EXPECT_EQ(result.persons, 2);
    EXPECT_EQ(Rows("Att", "SELECT PerNo, Comment FROM CSSLog"),
              (std::vector<std::vector<std::string>>{{"1002", c.comment}}));
    EXPECT_EQ(Rows("Att_1399", c.result), (std::vector<std::vector<std::string>>{{"1001", "310"}}));
    EXPECT_EQ(Rows("Att", "SELECT Amount FROM Semaphor WHERE Code = 17"),
              (std::vector<std::vector<std::string>>{{"0"}}));
    EXPECT_EQ(Rows("Att", "SELECT LastRunDate FROM CSSchedule"),
              (std::vector<std::vector<std::string>>{{"1399/08/03"}}));
  }
}

TEST_F(ManagementTest, AMonthlyPersonThatFailsIsLoggedAndTheOthersGoOn) {
  // 1002's special leave of the month is not a time: its month fails and is logged; 1001
  // and 1003 are calculated.
  AddPersons(3);
  for (const char* p : {"1001", "1002", "1003"}) {
    for (int d = 1; d <= 31; ++d) {
      server_.Exec("Att_1399", std::string("INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES "
                                           "('      ") +
                                   p + "', '03/" + (d < 10 ? "0" : "") + std::to_string(d) +
                                   "', 10)");
    }
  }
  server_.Exec("Att_1399",
               "INSERT INTO MSMorDef (Perno, Mah, Kind, Amount) VALUES "
               "('      1002', 3, 0, 'ab:cd')");
  CalculatorSettings s = server_.Settings();
  s.from_date = "3";
  s.to_date = "3";
  TZELCalculatorManagement manager(s);
  EXPECT_EQ(manager.RunMonthlyCalculatorForOnePerson().status, RunStatus::kCompleted);
  EXPECT_EQ(Rows("Att_1399", "SELECT PerNo, WorkTotal FROM MahWork ORDER BY PerNo"),
            (std::vector<std::vector<std::string>>{{"1001", "310"}, {"1003", "310"}}));
  std::string errors;
  for (const auto& entry : std::filesystem::directory_iterator(server_.DataDir() + "/../Logs")) {
    if (entry.path().filename().string().rfind("Error In Thread Monthly", 0) == 0) {
      errors += server_.LogFile(entry.path().filename().string());
    }
  }
  EXPECT_NE(errors.find("Error in MonthlyCalculate -- >CalcMonthly : "), std::string::npos)
      << errors;
}

TEST_F(ManagementTest, LogRowKeepsApostrophesAndIsCutToTheColumn) {
  TZELCalculatorManagement manager(server_.Settings());
  manager.InsertCalcLogTable(7, "      1001", "it's " + std::string(300, 'x'));
  const auto rows = Rows("Att", "SELECT PerNo, Comment FROM CSSLog");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "1001");
  EXPECT_EQ(rows[0][1], "it's " + std::string(250, 'x'));
}

}  // namespace
}  // namespace zel::management
