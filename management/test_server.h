// Test support: a temporary embedded server with the base database "Att" and the year
// database "Att_1399" holding the product's tables, in a folder of its own (copied from a
// template built once per process) that also serves as the home folder for log files.
// Used from the test's main thread; the connections it opens belong to that thread.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include "db/client.h"
#include "management/calculator_management.h"
#include "schema/schema.h"
#include "util/log_file.h"

namespace zel::management::testing {

namespace fs = std::filesystem;

inline std::unique_ptr<db::Connection> OpenDatabase(const fs::path& data_dir,
                                                    const std::string& database) {
  db::ConnectionSettings settings;
  settings.database = database;
  settings.data_dir = data_dir.string();
  return db::Connect(settings);
}

inline fs::path NewTempFolder(const std::string& tag) {
  static std::atomic<int> counter{0};
  fs::path path = fs::temp_directory_path() / ("zel_mgmt_" + std::to_string(::getpid()) + "_" +
                                               tag + "_" + std::to_string(counter++));
  fs::remove_all(path);
  fs::create_directories(path);
  return path;
}

// Builds the databases once per process; the folder goes with the process.
inline const fs::path& TemplateFolder() {
  struct Template {
    fs::path dir = NewTempFolder("template");
    Template() {
      OpenDatabase(dir, "")->Execute("CREATE DATABASE Att");
      OpenDatabase(dir, "")->Execute("CREATE DATABASE Att_1399");
      const struct {
        const char* database;
        std::string_view script;
      } loads[] = {{"Att", db::BaseSchemaSql()}, {"Att_1399", db::YearSchemaSql()}};
      for (const auto& load : loads) {
        auto connection = OpenDatabase(dir, load.database);
        for (const auto& batch : db::SplitBatches(load.script)) connection->Execute(batch);
      }
    }
    ~Template() {
      std::error_code ec;
      fs::remove_all(dir, ec);
    }
  };
  static const Template instance;
  return instance.dir;
}

class TestServer {
 public:
  TestServer() : dir_(NewTempFolder("server")) {
    fs::copy(TemplateFolder(), dir_ / "Data", fs::copy_options::recursive);
    util::SetHomeFolder(dir_.string());
  }
  ~TestServer() {
    util::SetHomeFolder("");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  std::string DataDir() const { return (dir_ / "Data").string(); }
  std::unique_ptr<db::Connection> Open(const std::string& database) const {
    return OpenDatabase(dir_ / "Data", database);
  }
  db::ResultSet Query(const std::string& database, const std::string& sql) const {
    return Open(database)->Execute(sql);
  }
  void Exec(const std::string& database, const std::string& sql) const {
    Open(database)->Execute(sql);
  }

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

  // The whole text of a log file of the Logs folder ("" when there is none).
  std::string LogFile(const std::string& file_name) const {
    std::ifstream in(dir_ / "Logs" / file_name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  fs::path dir_;
};

}  // namespace zel::management::testing
