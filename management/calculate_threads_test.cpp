#include "management/calculate_threads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "dates/clock.h"
#include "db/calc_changes.h"
#include "db/connection_decorator.h"
#include "management/test_server.h"
#include "testing/faulty_connection.h"
#include "util/text.h"

namespace zel::management {
namespace {

using testing::TestServer;
using namespace std::chrono_literals;

// The days the attendance manager was run for, as "MM/DD", with the person names it had.
struct RunLog {
  std::mutex mutex;
  std::vector<std::string> days;
  std::vector<std::string> names;
  // Blocking of the first day, for the tests that give a worker up mid-run.
  bool block_first_day = false;
  bool entered = false;
  bool released = false;
  std::condition_variable changed;
};

std::string DayText(dates::TDate date) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d/%02d", date.Month, date.Day);
  return text;
}

// Binds the four events a run needs; the day-model event records the day being calculated.
ModuleReadyHook Recording(std::shared_ptr<RunLog> log) {
  return [log](engine::TdmCalculate& module) {
    auto& manager = module.AttendanceCalcManager();
    manager.OnGetWorkingDays = [log](engine::TAttendanceCalcManager& sender) {
      std::unique_lock lock(log->mutex);
      log->days.push_back(DayText(sender.CalcDate()));
      log->names.push_back(sender.PersonName());
      if (log->block_first_day && !log->entered) {
        log->entered = true;
        log->changed.notify_all();
        log->changed.wait(lock, [&] { return log->released; });
      }
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
  };
}

// Starts the worker and waits until its body has ended.
void RunToEnd(const std::shared_ptr<CalculateThread>& worker) {
  auto signal = std::make_shared<WorkerSignal>();
  worker->Start(signal);
  signal->WaitChange(0, std::chrono::steady_clock::now() + 60s);
  ASSERT_TRUE(worker->IsFinished());
  worker->Release();
}

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dates::SetNowJalali("1399/08/03 10:15", true);
    server_.Exec("Att",
                 "INSERT INTO Person (Perno, FirstName, LastName) VALUES "
                 "('      1001', 'Ali', 'Ahmadi'), ('      1002', 'Reza', 'Karimi')");
  }
  void TearDown() override { dates::ResetNow(); }

  CalculatorSettings Range(const std::string& from, const std::string& to) const {
    CalculatorSettings s = server_.Settings();
    s.from_date = from;
    s.to_date = to;
    s.enable_log = true;
    return s;
  }

  TestServer server_;
};

TEST(DayOfYearOfMMDDTest, CountsSixMonthsOf31DaysThenMonthsOf30) {
  const struct {
    const char* mmdd;
    std::optional<int> day;
  } cases[] = {{"01/01", 1},   {"06/31", 186},         {"07/01", 187},          {"08/01", 217},
               {"12/30", 366}, {"1/01", std::nullopt}, {"ab/01", std::nullopt}, {"", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(DayOfYearOfMMDD(c.mmdd), c.day) << c.mmdd;
}

TEST(DailyWorkerLimitTest, AllowsTheDaysOfTheRangePlusTwentySeconds) {
  const struct {
    const char* from;
    const char* to;
    int max_wait;
  } cases[] = {{"01/01", "01/10", 30},
               {"06/30", "07/02", 24},
               {"05/10", "05/01", 30},   // a reversed range counts its days as well
               {"xx/01", "01/10", 21}};  // an unreadable date counts as one day
  for (const auto& c : cases) {
    CalculatorSettings s;
    s.from_date = c.from;
    s.to_date = c.to;
    TZELDailyCalculate worker("      1001", 0, s);
    EXPECT_EQ(worker.MaxThreadWait, c.max_wait) << c.from << " - " << c.to;
  }
}

TEST_F(WorkerTest, DailyWorkerWalksTheRangeInsideTheEmploymentDates) {
  struct Job {
    const char* begin;
    const char* end;
  };
  const struct {
    const char* name;
    const char* from;
    const char* to;
    std::vector<Job> jobs;
    std::vector<std::string> days;
  } cases[] = {
      {"month 6 has 31 days", "06/30", "07/02", {}, {"06/30", "06/31", "07/01", "07/02"}},
      {"employed from 03/15",
       "03/10",
       "03/20",
       {{"1399/03/15", ""}},
       {"03/15", "03/16", "03/17", "03/18", "03/19", "03/20"}},
      {"employed until 03/12",
       "03/10",
       "03/14",
       {{"1398/01/01", "1399/03/12"}},
       {"03/10", "03/11", "03/12"}},
      {"two employment records, days inside both once",
       "03/10",
       "03/13",
       {{"1399/01/01", "1399/03/12"}, {"1399/03/11", ""}},
       {"03/10", "03/11", "03/12", "03/13"}},
      {"two employment records with a gap",
       "03/10",
       "03/16",
       {{"1399/03/14", ""}, {"1399/01/01", "1399/03/11"}},
       {"03/10", "03/11", "03/14", "03/15", "03/16"}},
      {"range end before start: the first day only", "05/10", "05/01", {}, {"05/10"}},
      {"end of a leap year", "12/28", "12/30", {}, {"12/28", "12/29", "12/30"}},
      {"employed after the range", "03/10", "03/12", {{"1399/04/01", ""}}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Exec("Att", "DELETE FROM JobInfo");
    for (const Job& job : c.jobs) {
      server_.Exec("Att", std::string("INSERT INTO JobInfo (Perno, BeginDate, EndDate) VALUES "
                                      "('      1001', '") +
                              job.begin + "', '" + job.end + "')");
    }
    auto log = std::make_shared<RunLog>();
    RunToEnd(
        std::make_shared<TZELDailyCalculate>("      1001", 0, Range(c.from, c.to), Recording(log)));
    std::vector<std::string> days = log->days;
    std::sort(days.begin(), days.end());  // employment records come in the server's order
    EXPECT_EQ(days, c.days);
    for (const auto& name : log->names) EXPECT_EQ(name, "Ahmadi Ali");
  }
}

TEST_F(WorkerTest, DailyWorkerDeletesThePersonsResultsOfTheRangeOnly) {
  const char* const day_tables[][2] = {{"TimeTab", "CalcDate"},  {"DayMorDt", "DDate"},
                                       {"DayMamDt", "DDate"},    {"ServTime", "CalcDate"},
                                       {"MealTime", "CalcDate"}, {"DayWork", "DDate"}};
  const char* const inserts[] = {
      "INSERT INTO TimeTab (PerNo, CalcDate, BeginDate, BeginTime, EndDate, EndTime, [Status], "
      "Duration) VALUES ('%s', '%s', '%s', '07:00', '%s', '15:00', 6, 480)",
      "INSERT INTO DayMorDt (PerNo, DDate, MorkhasiCode, Amount) VALUES ('%s', '%s', 21, 60)",
      "INSERT INTO DayMamDt (PerNo, DDate, MamuriatCode, Amount) VALUES ('%s', '%s', 31, 90)",
      "INSERT INTO ServTime (PERNO, CALCDATE, HALFWAYCODE, HALFWAYPRICE, SERVICEPRICE) VALUES "
      "('%s', '%s', 1, 100, 0)",
      "INSERT INTO MealTime (Perno, CalcDate, MealCode, MealPrice) VALUES ('%s', '%s', 1, 5000)",
      "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES ('%s', '%s', 450)"};
  const char* const rows[][2] = {{"      1001", "05/09"},
                                 {"      1001", "05/10"},
                                 {"      1001", "05/11"},
                                 {"      1001", "05/12"},
                                 {"      1002", "05/10"}};
  for (const char* insert : inserts) {
    for (const auto& row : rows) {
      char sql[512];
      std::snprintf(sql, sizeof sql, insert, row[0], row[1], row[1], row[1]);
      server_.Exec("Att_1399", sql);
    }
  }
  RunToEnd(std::make_shared<TZELDailyCalculate>("      1001", 0, Range("05/10", "05/11"),
                                                Recording(std::make_shared<RunLog>())));
  for (const auto& table : day_tables) {
    SCOPED_TRACE(table[0]);
    const auto left =
        server_.Query("Att_1399", std::string("SELECT PerNo, ") + table[1] + " FROM " + table[0] +
                                      " ORDER BY PerNo, " + table[1]);
    std::vector<std::string> texts;
    for (const auto& row : left.rows) texts.push_back(row[0].AsString() + " " + row[1].AsString());
    EXPECT_EQ(texts, (std::vector<std::string>{"      1001 05/09", "      1001 05/12",
                                               "      1002 05/10"}));
  }
}

// A day is written whole or not at all: a day whose writing fails (here a statement that
// cannot run, as a full disk or a damaged page would make one) keeps its earlier rows, the
// other days are written, and the worker reports the failed day.
TEST_F(WorkerTest, DailyWorkerLeavesADayWhoseWritesFailAsItWas) {
  for (const char* day : {"05/10", "05/11"}) {
    server_.Exec("Att_1399", std::string("INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES "
                                         "('      1001', '") +
                                 day + "', 450)");
    server_.Exec("Att_1399",
                 std::string("INSERT INTO TimeTab (PerNo, CalcDate, BeginDate, BeginTime, "
                             "EndDate, EndTime, [Status], Duration) VALUES ('      1001', '") +
                     day + "', '" + day + "', '07:00', '" + day + "', '15:00', 6, 480)");
  }
  auto log = std::make_shared<RunLog>();
  auto record = Recording(log);
  auto worker = std::make_shared<TZELDailyCalculate>(
      "      1001", 0, Range("05/10", "05/11"), [record](engine::TdmCalculate& module) {
        record(module);
        module.AttendanceCalcManager().OnFinalize = [&module](engine::TAttendanceCalcManager& s) {
          const std::string day = DayText(s.CalcDate());
          module.InsertCalcLogTable(7, "1001", "finalized " + day);
          auto& year = module.ADOConnectionTimeAttendance();
          year.Execute("INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES ('      1001', '" +
                       day + "', 999)");
          if (day == "05/11") year.Execute("INSERT INTO NoSuchTable VALUES (1)");
        };
      });
  RunToEnd(worker);
  EXPECT_EQ(log->days, (std::vector<std::string>{"05/10", "05/11"}));
  const auto rows = [&](const std::string& sql) {
    std::vector<std::string> texts;
    for (const auto& row : server_.Query("Att_1399", sql).rows) {
      texts.push_back(row[0].AsString() + " " + row[1].AsString());
    }
    return texts;
  };
  EXPECT_EQ(rows("SELECT DDate, WorkTotal FROM DayWork ORDER BY DDate"),
            (std::vector<std::string>{"05/10 999", "05/11 450"}));
  EXPECT_EQ(rows("SELECT CalcDate, Duration FROM TimeTab ORDER BY CalcDate"),
            (std::vector<std::string>{"05/11 480"}));
  EXPECT_FALSE(worker->PersonFailed());
  EXPECT_EQ(worker->FailedDays(), 1);
  EXPECT_NE(worker->FirstFailure().find("day 05/11: Invalid object name"), std::string::npos)
      << worker->FirstFailure();
  // The day's log rows are written after the day, both days' alike.
  const auto logged = server_.Query("Att", "SELECT Comment FROM CSSLog ORDER BY Id");
  ASSERT_EQ(logged.rows.size(), 2u);
  EXPECT_EQ(logged.rows[1][0].AsString(), "finalized 05/11");
  EXPECT_NE(server_.LogFile("Thread1001(1399-08-03)_T0.Log")
                .find("Day 05/11 was not written (left as it was) : Invalid object name"),
            std::string::npos);
}

TEST_F(WorkerTest, DailyWorkerRefusesADayBeyondItsMonthAndDeletesNothing) {
  server_.Exec("Att_1399",
               "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES "
               "('      1001', '08/01', 450)");
  auto log = std::make_shared<RunLog>();
  RunToEnd(std::make_shared<TZELDailyCalculate>("      1001", 0, Range("07/31", "08/02"),
                                                Recording(log)));
  EXPECT_TRUE(log->days.empty());
  EXPECT_EQ(server_.Query("Att_1399", "SELECT COUNT(*) FROM DayWork").rows[0][0].AsInteger(), 1);
  const std::string text = server_.LogFile("Thread1001(1399-08-03)_T0.Log");
  EXPECT_NE(text.find(" : Calc Daily Error In Thread = '07/31' is not a valid MM/DD date"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(" : Finish Execute DailyCalculate Thread ..."), std::string::npos);
}

TEST_F(WorkerTest, DailyWorkerWithoutPersonsSaysSoAndCalculatesNothing) {
  server_.Exec("Att", "DELETE FROM Person");
  auto log = std::make_shared<RunLog>();
  RunToEnd(std::make_shared<TZELDailyCalculate>("      1001", 3, Range("03/10", "03/12"),
                                                Recording(log)));
  EXPECT_TRUE(log->days.empty());
  const std::string text = server_.LogFile("Thread1001(1399-08-03)_T3.Log");
  EXPECT_NE(text.find("1399/08/03 10:15:00 : هيچ پرسنلي تعريف نشده است."), std::string::npos)
      << text;
}

TEST_F(WorkerTest, DailyWorkerThatCannotConnectSaysWhyAndFinishes) {
  CalculatorSettings s = Range("03/10", "03/12");
  s.database_name = "NoSuchBase";
  auto worker = std::make_shared<TZELDailyCalculate>("      1001", 0, s);
  RunToEnd(worker);
  const std::string text = server_.LogFile("Thread1001(1399-08-03)_T0.Log");
  EXPECT_NE(text.find(" : Error On DailyCalculate Execute Thread = "), std::string::npos) << text;
  EXPECT_NE(text.find(" : Finish Execute DailyCalculate Thread ..."), std::string::npos);
}

TEST_F(WorkerTest, GivenUpDailyWorkerStopsAtTheNextDayAndWritesNothingMore) {
  auto log = std::make_shared<RunLog>();
  log->block_first_day = true;
  auto worker = std::make_shared<TZELDailyCalculate>("      1001", 0, Range("03/10", "03/12"),
                                                     Recording(log));
  worker->Start(std::make_shared<WorkerSignal>());
  {
    std::unique_lock lock(log->mutex);
    ASSERT_TRUE(log->changed.wait_for(lock, 60s, [&] { return log->entered; }));
  }
  worker->Abandon();
  {
    std::lock_guard lock(log->mutex);
    log->released = true;
  }
  log->changed.notify_all();
  ASSERT_TRUE(WaitForAbandonedWorkers(60s));

  std::lock_guard lock(log->mutex);
  EXPECT_EQ(log->days, std::vector<std::string>{"03/10"});
  const std::string text = server_.LogFile("Thread1001(1399-08-03)_T0.Log");
  EXPECT_NE(text.find("DailyCalculate Execute Thread Perno = 1001"), std::string::npos) << text;
  EXPECT_EQ(text.find("Finish Execute DailyCalculate Thread"), std::string::npos) << text;
}

TEST_F(WorkerTest, MonthlyWorkerCalculatesItsFirstMonthWhenTheRangeRunsBackwards) {
  // Range 3 to 1: month 3 only. The earlier row of month 3 is replaced, month 4 is kept.
  server_.Exec("Att_1399",
               "INSERT INTO MahWork (PerNo, MMonth, WorkTotal) VALUES "
               "('      1001', 3, 9000), ('      1001', 4, 9000)");
  for (int d = 1; d <= 31; ++d) {
    server_.Exec("Att_1399",
                 "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES ('      1001', "
                 "'03/" +
                     std::string(d < 10 ? "0" : "") + std::to_string(d) + "', 10)");
  }
  RunToEnd(std::make_shared<TZELMonthlyCalculate>("      1001", 2, Range("3", "1")));
  const auto rows =
      server_.Query("Att_1399", "SELECT MMonth, WorkTotal FROM MahWork ORDER BY MMonth");
  ASSERT_EQ(rows.rows.size(), 2u);
  EXPECT_EQ(rows.rows[0][1].AsInteger(), 310);
  EXPECT_EQ(rows.rows[1][1].AsInteger(), 9000);
  EXPECT_EQ(server_.LogFile("MonthlyThread2(1399-08-03)_T2.Log"), "");
}

TEST_F(WorkerTest, PeriodicWorkerDeletesItsPeriodsAndReportsAPersonWithoutRule) {
  server_.Exec("Att",
               "INSERT INTO SYSTEM (Period2B, Period2E, Period3B, Period3E) VALUES "
               "('02/01', '02/31', '03/01', '03/31')");
  server_.Exec("Att_1399",
               "INSERT INTO PrdWork (PerNo, Period, WorkTotal) VALUES "
               "('      1001', 3, 9000), ('      1001', 4, 9000)");
  RunToEnd(std::make_shared<TZELPeriodicCalculate>("      1001", 4, Range("2", "3")));
  EXPECT_EQ(server_.Query("Att_1399", "SELECT Period FROM PrdWork").rows,
            (std::vector<std::vector<db::Value>>{{4}}));
  const auto log = server_.Query("Att", "SELECT Comment FROM CSSLog ORDER BY Comment");
  ASSERT_EQ(log.rows.size(), 2u);
  EXPECT_EQ(log.rows[0][0].AsString(),
            "Ahmadi Ali           (1001  ) ( دوره  2) : در این دوره فاقد حکم است.");
  EXPECT_EQ(log.rows[1][0].AsString(),
            "Ahmadi Ali           (1001  ) ( دوره  3) : در این دوره فاقد حکم است.");
}

// A monthly or periodic worker whose person cannot be calculated says so in its counts, as a
// daily worker does, so that the run reports the failed person.
TEST_F(WorkerTest, MonthlyAndPeriodicWorkersReportAFailedPerson) {
  server_.Exec("Att",
               "INSERT INTO SYSTEM (Period1B, Period1E, Period2B, Period2E) VALUES "
               "('01/01', '01/31', '02/01', '02/31')");
  const struct {
    const char* table;
    bool monthly;
  } cases[] = {{"MahWork", true}, {"PrdWork", false}};
  for (const auto& c : cases) {
    // Every statement on the worker's result table fails.
    const zel::testing::ScopedFaults faults({c.table});
    std::shared_ptr<CalculateThread> worker;
    if (c.monthly) {
      worker = std::make_shared<TZELMonthlyCalculate>("      1001", 1, Range("1", "2"));
    } else {
      worker = std::make_shared<TZELPeriodicCalculate>("      1001", 1, Range("1", "2"));
    }
    RunToEnd(worker);
    EXPECT_TRUE(worker->PersonFailed()) << c.table;
    EXPECT_NE(worker->FirstFailure().find(std::string("injected failure: ") + c.table),
              std::string::npos)
        << c.table << ": " << worker->FirstFailure();
  }
}

// A process killed part way: from the n-th statement on (counted over every connection
// opened meanwhile, transactions' begin and end included) nothing reaches the server any
// more, and what the connections left open is undone when they close.
class KillSwitch {
 public:
  explicit KillSwitch(long kill_at) : kill_at_(kill_at) {
    db::SetConnectionDecorator([this](std::unique_ptr<db::Connection> inner) {
      return std::unique_ptr<db::Connection>(std::make_unique<Killable>(std::move(inner), *this));
    });
  }
  ~KillSwitch() { db::SetConnectionDecorator({}); }
  KillSwitch(const KillSwitch&) = delete;
  KillSwitch& operator=(const KillSwitch&) = delete;
  long Statements() const { return count_.load(); }

 private:
  class Killable final : public db::ForwardingConnection {
   public:
    Killable(std::unique_ptr<db::Connection> inner, KillSwitch& owner)
        : ForwardingConnection(std::move(inner)), owner_(owner) {}
    db::ResultSet Execute(const std::string& sql, const std::vector<db::Param>& params,
                          int timeout_seconds) override {
      owner_.Step();
      return Inner().Execute(sql, params, timeout_seconds);
    }
    void BeginTransaction() override {
      owner_.Step();
      Inner().BeginTransaction();
    }
    void CommitTransaction() override {
      owner_.Step();
      Inner().CommitTransaction();
    }
    void RollbackTransaction() override {
      owner_.Step();
      Inner().RollbackTransaction();
    }

   private:
    KillSwitch& owner_;
  };
  void Step() {
    if (++count_ >= kill_at_) throw db::DbError("killed");
  }
  const long kill_at_;
  std::atomic<long> count_{0};
};

// A monthly run killed at any moment leaves every person's months as they were or fully
// recalculated: the old rows are deleted in the transaction that writes the new ones.
TEST_F(WorkerTest, MonthlyRunKilledAtAnyMomentLeavesEveryMonthOldOrNew) {
  for (const char* p : {"      1001", "      1002"}) {
    for (int m = 1; m <= 2; ++m) {
      for (int d = 1; d <= 31; ++d) {
        server_.Exec("Att_1399", std::string("INSERT INTO DayWork (PerNo, DDate, WorkTotal) "
                                             "VALUES ('") +
                                     p + "', '0" + std::to_string(m) + "/" + (d < 10 ? "0" : "") +
                                     std::to_string(d) + "', 10)");
      }
    }
    server_.Exec("Att_1399", std::string("INSERT INTO DayMorDt (PerNo, DDate, MorkhasiCode, "
                                         "Amount) VALUES ('") +
                                 p + "', '02/03', 21, 60)");
  }
  const auto reset_months = [&] {
    for (const char* table : {"MahWork", "MahMorDt", "MahMamDt"}) {
      server_.Exec("Att_1399", std::string("DELETE FROM ") + table);
    }
    server_.Exec("Att_1399",
                 "INSERT INTO MahWork (PerNo, MMonth, WorkTotal) VALUES ('      1001', 1, 9000), "
                 "('      1001', 2, 9000), ('      1002', 1, 8000), ('      1002', 2, 8000)");
    server_.Exec("Att_1399",
                 "INSERT INTO MahMorDt (PerNo, MMonth, MorkhasiCode, Amount, Days) VALUES "
                 "('      1001', 2, 21, 500, 0), ('      1002', 1, 22, 450, 1)");
  };
  const auto months_of = [&](const char* person) {
    std::vector<std::string> rows;
    const std::string where = std::string(" WHERE PerNo = '") + person + "' ORDER BY MMonth";
    for (const auto& r :
         server_.Query("Att_1399", "SELECT MMonth, WorkTotal FROM MahWork" + where).rows) {
      rows.push_back("MahWork " + r[0].AsString() + " " + r[1].AsString());
    }
    for (const auto& r :
         server_.Query("Att_1399", "SELECT MMonth, MorkhasiCode, Amount FROM MahMorDt" + where)
             .rows) {
      rows.push_back("MahMorDt " + r[0].AsString() + " " + r[1].AsString() + " " + r[2].AsString());
    }
    return rows;
  };
  const auto run = [&](long kill_at) {
    const KillSwitch kill(kill_at);
    for (const char* p : {"      1001", "      1002"}) {
      try {
        RunToEnd(std::make_shared<TZELMonthlyCalculate>(p, 1, Range("1", "2")));
      } catch (const db::DbError&) {
        // Killed while the worker connected.
      }
    }
    return kill.Statements();
  };

  reset_months();
  const std::map<std::string, std::vector<std::string>> old_months = {
      {"1001", months_of("      1001")}, {"1002", months_of("      1002")}};
  const long statements = run(std::numeric_limits<long>::max());
  const std::map<std::string, std::vector<std::string>> new_months = {
      {"1001", months_of("      1001")}, {"1002", months_of("      1002")}};
  ASSERT_EQ(new_months.at("1001"),
            (std::vector<std::string>{"MahWork 1 310", "MahWork 2 310", "MahMorDt 2 21 60"}));
  ASSERT_NE(old_months.at("1002"), new_months.at("1002"));

  for (long kill_at = 1; kill_at <= statements; ++kill_at) {
    reset_months();
    run(kill_at);
    for (const char* p : {"      1001", "      1002"}) {
      const std::string person = util::TrimWhitespace(p);
      const auto months = months_of(p);
      EXPECT_TRUE(months == old_months.at(person) || months == new_months.at(person))
          << "killed at statement " << kill_at << " of " << statements << ", person " << person
          << ": " << ::testing::PrintToString(months);
    }
  }
}

// A month that cannot be calculated (here a special extra work of month 2 that is no time)
// stops the person's run: the months calculated before it are replaced, it and the months
// after it keep their rows, and the person is reported failed.
TEST_F(WorkerTest, MonthlyWorkerKeepsTheMonthsFromAFailedOneOn) {
  for (int m = 1; m <= 3; ++m) {
    for (int d = 1; d <= 31; ++d) {
      server_.Exec("Att_1399",
                   "INSERT INTO DayWork (PerNo, DDate, WorkTotal) VALUES ('      1001', "
                   "'0" +
                       std::to_string(m) + "/" + (d < 10 ? "0" : "") + std::to_string(d) +
                       "', 10)");
    }
  }
  server_.Exec("Att_1399",
               "INSERT INTO MahWork (PerNo, MMonth, WorkTotal) VALUES ('      1001', 1, 9000), "
               "('      1001', 2, 9000), ('      1001', 3, 9000)");
  server_.Exec(
      "Att_1399",
      "INSERT INTO MSExtDef (Perno, Mah, Kind, Amount) VALUES ('      1001', 2, 0, 'ab:cd')");
  auto worker = std::make_shared<TZELMonthlyCalculate>("      1001", 1, Range("1", "3"));
  RunToEnd(worker);
  EXPECT_TRUE(worker->PersonFailed());
  const auto rows =
      server_.Query("Att_1399", "SELECT MMonth, WorkTotal FROM MahWork ORDER BY MMonth").rows;
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][1].AsInteger(), 310);
  EXPECT_EQ(rows[1][1].AsInteger(), 9000);
  EXPECT_EQ(rows[2][1].AsInteger(), 9000);
}

// The journal of changed results gets the months a monthly run rewrites with other values:
// each changed MahWork column with its old and new value, under the run's pass. A first
// calculation is not a change, an unchanged recalculation and a write that failed record
// nothing.
TEST_F(WorkerTest, MonthlyWorkerRecordsTheChangedColumnsOfItsMonths) {
  server_.Exec("", "CREATE DATABASE ZELLog");
  db::EnsureCalcChangesTable(*server_.Open("Att"));
  for (int m = 1; m <= 2; ++m) {
    for (int d = 1; d <= 31; ++d) {
      server_.Exec("Att_1399",
                   "INSERT INTO DayWork (PerNo, DDate, WorkTotal, NonWorkTotal, NW_Absent) VALUES "
                   "('      1001', '0" +
                       std::to_string(m) + "/" + (d < 10 ? "0" : "") + std::to_string(d) +
                       "', 420, 0, 0)");
    }
  }
  server_.Exec("Att_1399",
               "INSERT INTO DayMamDt (PerNo, DDate, MamuriatCode, Amount) VALUES "
               "('      1001', '02/10', 31, 90)");
  auto run = [&](const std::string& time) {
    CalculatorSettings s = Range("1", "2");
    s.pass_date = "1399/08/03";
    s.pass_time = time;
    auto worker = std::make_shared<TZELMonthlyCalculate>("      1001", 1, s);
    RunToEnd(worker);
    return !worker->PersonFailed();
  };
  // Month -> column -> value as text (nullopt: NULL).
  using Months = std::map<int, std::map<std::string, std::optional<std::string>>>;
  auto months = [&] {
    Months rows;
    const db::ResultSet r = server_.Query("Att_1399", "SELECT * FROM MahWork");
    for (const auto& values : r.rows) {
      auto& row = rows[static_cast<int>(values[1].AsInteger())];
      for (std::size_t c = 0; c < r.columns.size(); ++c) {
        if (!values[c].IsNull()) row[r.columns[c]] = util::TrimRight(values[c].AsString(), " ");
        if (values[c].IsNull()) row[r.columns[c]] = std::nullopt;
      }
    }
    return rows;
  };
  using Change = std::tuple<std::string, std::string, std::string, std::optional<std::string>,
                            std::optional<std::string>>;  // period, pass time, column, old, new
  auto journal = [&] {
    std::vector<Change> got;
    for (const auto& r : server_
                             .Query("ZELLog",
                                    "SELECT PerNo, Kind, Period, ScheduleId, PassDate, PassTime, "
                                    "ColumnName, OldValue, NewValue FROM CalcChanges")
                             .rows) {
      EXPECT_EQ(util::TrimWhitespace(r[0].AsString()), "1001");
      EXPECT_EQ(r[1].AsString(), "month");
      EXPECT_EQ(r[3].AsInteger(), 7);
      EXPECT_EQ(r[4].AsString(), "1399/08/03");
      auto text = [](const db::Value& v) {
        return v.IsNull() ? std::nullopt : std::optional<std::string>(v.AsString());
      };
      got.emplace_back(r[2].AsString(), r[5].AsString(), r[6].AsString(), text(r[7]), text(r[8]));
    }
    std::sort(got.begin(), got.end());
    return got;
  };

  ASSERT_TRUE(run("10:00"));
  ASSERT_EQ(months().size(), 2u);
  EXPECT_EQ(journal(), std::vector<Change>{}) << "a first calculation is not a change";
  ASSERT_TRUE(run("10:05"));
  EXPECT_EQ(journal(), std::vector<Change>{}) << "an unchanged recalculation records nothing";

  // An absent day in month 2.
  server_.Exec("Att_1399",
               "UPDATE DayWork SET WorkTotal = 0, NonWorkTotal = 420, NW_Absent = 420 WHERE "
               "PerNo = '      1001' AND DDate = '02/05'");
  const Months before = months();
  {
    // The month's row is written, then its mission totals fail: all is rolled back.
    const zel::testing::ScopedFaults faults({"INSERT INTO MahMamDt"});
    EXPECT_FALSE(run("10:10"));
  }
  EXPECT_EQ(months(), before);
  EXPECT_EQ(journal(), std::vector<Change>{}) << "a write that failed records nothing";

  ASSERT_TRUE(run("10:15"));
  const Months after = months();
  std::vector<Change> expected;
  for (const auto& [month, row] : after) {
    for (const auto& [column, value] : row) {
      const auto& old = before.at(month).at(column);
      if (old != value)
        expected.emplace_back("0" + std::to_string(month), "10:15", column, old, value);
    }
  }
  std::sort(expected.begin(), expected.end());
  ASSERT_FALSE(expected.empty());
  for (const Change& c : expected) EXPECT_EQ(std::get<0>(c), "02") << std::get<2>(c);
  EXPECT_EQ(journal(), expected) << ::testing::PrintToString(expected);
}

TEST_F(WorkerTest, MonthlyWorkerWithoutPersonsFinishesSilently) {
  server_.Exec("Att", "DELETE FROM Person");
  RunToEnd(std::make_shared<TZELMonthlyCalculate>("      1001", 0, Range("1", "2")));
  EXPECT_EQ(server_.LogFile("MonthlyThread0(1399-08-03)_T0.Log"), "");
}

}  // namespace
}  // namespace zel::management
