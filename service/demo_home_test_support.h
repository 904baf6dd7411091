// Test support of the service tests that run on the demo organisation: a home set up as
// `zelkl-calc db init` and `db demo` set one up (five persons, year 1405, records of month 9)
// with the clock fixed at 1405/09/20 09:00, and the check of recorded statements against the
// statement corpus. Used from the test's main thread (the home folder is process-wide).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/client.h"

namespace zel::service::test_support {

class DemoHomeTest : public ::testing::Test {
 protected:
  // records_as_punches: the demo's entry/exit records come as punches waiting in ClockDmp.
  explicit DemoHomeTest(bool records_as_punches) : records_as_punches_(records_as_punches) {}

  void SetUp() override;
  void TearDown() override;

  // A new connection to the base database Att.
  std::unique_ptr<db::Connection> Base() const;
  // One schedule pass at the clock's moment, as the service runs it: start, pass, stop.
  void Pass() const;

  std::filesystem::path home_;

 private:
  bool records_as_punches_;
};

// Expects every text (with `only`, those containing it) to be a statement of the corpus.
void ExpectInStatementCorpus(const std::vector<std::string>& texts, std::string_view only = {});

}  // namespace zel::service::test_support
