// Test support for the daily engine: the temporary embedded server of the tests
// (base "Att", year "Att_1399", also the home folder of the log files); an office work group
// with calendar 1 (working time 08:00-16:00, break 12:00-12:30, extra span 06:00-20:00, day
// end 23:59) for person 1001; a connected calculation data module that runs days; and
// readers of the result tables.
// Used from the test's main thread.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dates/clock.h"
#include "engine/dm_calculate.h"
#include "testing/temp_server.h"

namespace zel::engine::testing {

// One calendar-1 item: the office day on `date` ("MM/DD").
inline std::string OfficeDay(const std::string& d) {
  const std::string q = "'" + d + "'";
  return "(1, " + q + ", '08:00', " + q + ", '16:00', " + q + ", '06:00', " + q + ", '20:00', " +
         q + ", '12:00', " + q + ", '12:30', " + q + ", '23:59', 0)";
}

inline constexpr const char* kCalItemColumns =
    "INSERT INTO CalItem (CALCODE, DBEGINDATE, DBEGINTIME, DENDDATE, DENDTIME, EBEGINDATE, "
    "EBEGINTIME, EENDDATE, EENDTIME, BBEGINDATE, BBEGINTIME, BENDDATE, BENDTIME, ENDDATE, "
    "ENDTIME, HOLIDAY) VALUES ";

class DailyTest : public ::testing::Test {
 protected:
  DailyTest() {
    dates::SetNowJalali("1399/08/03 10:15", true);
    // A table stands in for the shift-calendar view the service creates at start (the
    // handlers read its rows as they are).
    Year(
        "CREATE TABLE V_GetCalItem (PerNo char(10), GshCode int, DBeginDate char(5), "
        "EBEGINTIME char(5), DBEGINTIME char(5), BBEGINTIME char(5), Holiday int)");
    Base(
        "INSERT INTO SYSTEM (NightBegin, NightEnd, RamezanStart, RamezanEnd) "
        "VALUES ('22:00', '06:00', '09:01', '09:30')");
    Base("INSERT INTO Person (Perno, FirstName, LastName) VALUES ('      1001', 'Ali', 'Ahmadi')");
    Base(
        "INSERT INTO WorkGrp (CODE, NAME, CALCODE, GShCode, GROUPTYPE, LATE_IN, EARLY_OUT, "
        "ADDPERMIT, FLOATCAL, FLOATVAL, OverFloat, Atten_In_Break, TDR_PRIO, EDR_PRIO, "
        "SDR_PRIO, M_PARAM1, M_PARAM2, M_PARAM3, M_PARAM4, M_PARAM5, M_PARAM6, M_PARAM7, "
        "M_PARAM8, M_PARAM9, M_PARAM10, M_PARAM11, M_PARAM12) VALUES (1, 'Office', 1, 0, 1, 0, "
        "0, 0, 0, '0', 0, 3, '1', '2', '3', 440, 440, 440, 440, 440, 440, 440, 440, 440, 440, "
        "440, 440)");
    // Leave types: 21 hourly (ordinary, paid), 22 daily (ordinary, paid); mission types:
    // 31 hourly, 32 daily.
    Base(
        "INSERT INTO MorType (Code, IsDaily, IsOrdinary, IsWaged, HolidaysCounted, Dec_Meal, "
        "ReduceMorkhasi, ReduceHoliday) VALUES (21, 0, 1, 1, 0, 0, 0, 0), "
        "(22, 1, 1, 1, 0, 0, 0, 0)");
    Base(
        "INSERT INTO MamType (Code, IsDaily, HolidaysCounted, Dec_Meal) VALUES (31, 0, 0, 0), "
        "(32, 1, 0, 0)");
    Year(
        "INSERT INTO PrjRule (PERNO, BEGINDATE, ENDDATE, WORKGROUP, Section) "
        "VALUES ('      1001', '01/01', '12/30', 1, 'Office')");
  }
  ~DailyTest() override {
    module_.reset();
    dates::ResetNow();
  }

  void Base(const std::string& sql) const { server_.Exec("Att", sql); }
  void Year(const std::string& sql) const { server_.Exec("Att_1399", sql); }
  // Office days of calendar 1.
  void OfficeDays(std::initializer_list<std::string> dates) const {
    std::string sql = kCalItemColumns;
    bool first = true;
    for (const std::string& d : dates) {
      sql += (first ? "" : ", ") + OfficeDay(d);
      first = false;
    }
    Year(sql);
  }
  // "SET ..." assignments on work group 1.
  void Group(const std::string& assignments) const {
    Base("UPDATE WorkGrp SET " + assignments + " WHERE CODE = 1");
  }
  // An entry/exit record of person 1001 on one date.
  void Clock(const std::string& date, const std::string& begin, const std::string& end) const {
    Year(
        "INSERT INTO IoInfo (PERNO, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME) VALUES "
        "('      1001', '" +
        date + "', '" + begin + "', '" + date + "', '" + end + "')");
  }

  // The module of person 1001 (created and connected on first use), schedule 7.
  TdmCalculate& Module() {
    if (!module_) {
      module_ = std::make_unique<TdmCalculate>(server_.DataDir());
      module_->InitialValues("1399", "", "", "Att", "", 7);
    }
    return *module_;
  }
  // Calculates the given days of person 1001 the way the daily worker does.
  void Run(std::initializer_list<std::string> days) {
    TAttendanceCalcManager& manager = Module().AttendanceCalcManager();
    for (const std::string& day : days) {
      manager.SetPersonID("      1001");
      manager.SetPersonName("Ahmadi Ali");
      manager.SetCalcDate({static_cast<uint8_t>(std::stoi(day.substr(0, 2))),
                           static_cast<uint8_t>(std::stoi(day.substr(3, 2)))});
      manager.Run();
    }
  }

  // Rows of a query as trimmed texts ("NULL" for a null).
  std::vector<std::vector<std::string>> Rows(const std::string& database,
                                             const std::string& sql) const {
    std::vector<std::vector<std::string>> out;
    for (const auto& row : server_.Query(database, sql).rows) {
      std::vector<std::string> texts;
      for (const auto& value : row) {
        std::string text = value.IsNull() ? "NULL" : value.AsString();
        text.erase(text.find_last_not_of(' ') + 1);
        text.erase(0, text.find_first_not_of(' '));
        texts.push_back(text);
      }
      out.push_back(texts);
    }
    return out;
  }
  // The DayWork row of a day, column by column (empty when there is none).
  std::map<std::string, std::string> DayWork(const std::string& day) const {
    const auto result =
        server_.Query("Att_1399", "SELECT * FROM DayWork WHERE DDate = '" + day + "'");
    std::map<std::string, std::string> row;
    if (result.rows.empty()) return row;
    for (size_t c = 0; c < result.columns.size(); ++c) {
      const auto& value = result.rows[0][c];
      std::string text = value.IsNull() ? "NULL" : value.AsString();
      text.erase(text.find_last_not_of(' ') + 1);
      text.erase(0, text.find_first_not_of(' '));
      row[result.columns[c]] = text;
    }
    return row;
  }
  // The day's timeline, one line per TimeTab row in stored order:
  // "MM/DD HH:NN-MM/DD HH:NN w<interval> s<status> d<minutes>".
  std::vector<std::string> TimeTab(const std::string& day) const {
    std::vector<std::string> lines;
    for (const auto& r : Rows("Att_1399",
                              "SELECT BeginDate, BeginTime, EndDate, EndTime, WorkingInterval, "
                              "[Status], Duration FROM TimeTab WHERE CalcDate = '" +
                                  day + "'")) {
      lines.push_back(r[0] + " " + r[1] + "-" + r[2] + " " + r[3] + " w" + r[4] + " s" + r[5] +
                      " d" + r[6]);
    }
    return lines;
  }
  // The comments of the CSSLog rows, in order.
  std::vector<std::string> LogComments() const {
    std::vector<std::string> comments;
    for (const auto& r : Rows("Att", "SELECT Comment FROM CSSLog ORDER BY Id")) {
      comments.push_back(r[0]);
    }
    return comments;
  }
  // The whole text of the person's thread log file of today ("" when there is none).
  std::string ThreadLog() const { return server_.LogFile("Thread1001(1399-08-03)_T0.Log"); }

  ::zel::testing::TempHome server_;
  std::unique_ptr<TdmCalculate> module_;
};

}  // namespace zel::engine::testing
