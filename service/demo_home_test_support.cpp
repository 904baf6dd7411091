#include "service/demo_home_test_support.h"

#include <set>

#include "dates/clock.h"
#include "engine/demo/demo_organisation.h"
#include "service/calculate_service.h"
#include "service/home_setup.h"
#include "service/platform.h"
#include "testing/statement_corpus.h"
#include "testing/temp_server.h"
#include "util/log_file.h"

namespace zel::service::test_support {

void DemoHomeTest::SetUp() {
  home_ = zel::testing::NewTempFolder("service_demo");
  util::SetHomeFolder(home_.string());
  dates::SetNowJalali("1405/09/20 09:00", true);
  ResetStopRequest();
  InitEmbeddedHome(home_.string(), {});
  engine::demo::DemoOptions options;
  options.persons = 5;
  options.year = "1405";
  options.month = 9;
  options.records_as_punches = records_as_punches_;
  db::ConnectionSettings server;
  server.data_dir = (home_ / "Data").string();
  engine::demo::GenerateDemoOrganisation(server, options);
}

void DemoHomeTest::TearDown() {
  util::SetHomeFolder("");
  dates::ResetNow();
  std::filesystem::remove_all(home_);
}

std::unique_ptr<db::Connection> DemoHomeTest::Base() const {
  db::ConnectionSettings s;
  s.data_dir = (home_ / "Data").string();
  s.database = "Att";
  return db::Connect(s);
}

void DemoHomeTest::Pass() const {
  TZELKLCalculateService s(home_.string());
  bool started = false, stopped = false;
  s.ServiceStart(started);
  s.TDBCheckTimer();
  s.ServiceStop(stopped);
}

void ExpectInStatementCorpus(const std::vector<std::string>& texts, std::string_view only) {
  std::set<std::string> corpus;
  for (const auto& s : zel::testing::LoadCorpusStatements(ZEL_CORPUS_DIR)) {
    corpus.insert(zel::testing::NormalizeStatement(s.text));
  }
  for (const auto& text : texts) {
    if (!only.empty() && text.find(only) == std::string::npos) continue;
    EXPECT_TRUE(corpus.count(zel::testing::NormalizeStatement(text)))
        << "not in the statement corpus:\n"
        << text;
  }
}

}  // namespace zel::service::test_support
