// Test support of the management tests: the temporary server and home of the tests (year
// 1399) with the settings of a run on it through the calculator management.
// Used from the test's main thread; the connections it opens belong to that thread.
#pragma once

#include "management/calculator_management.h"
#include "testing/temp_server.h"

namespace zel::management::testing {

class TestServer : public ::zel::testing::TempHome {
 public:
  // A run on Att, year 1399, of schedule 7, with the service's semaphore table.
  CalculatorSettings Settings() const {
    CalculatorSettings s;
    s.database_name = "Att";
    s.current_year = "1399";
    s.data_dir = DataDir();
    s.schedule_id = 7;
    s.semaphore_list = {"EnterSystem=1", "IOINFO=16", "CALC=17", "LT=18"};
    return s;
  }
};

}  // namespace zel::management::testing
