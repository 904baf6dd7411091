#include "testing/temp_server.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string_view>

#include "schema/schema.h"
#include "util/log_file.h"

namespace zel::testing {

namespace fs = std::filesystem;

namespace {

constexpr const char* kBaseName = "Att";

// The template folders by year; removed at the end of the process.
class Templates {
 public:
  ~Templates() {
    std::error_code ec;
    for (const auto& [year, dir] : dirs_) fs::remove_all(dir, ec);
  }
  const fs::path& Of(const std::string& year) {
    std::lock_guard lock(mutex_);
    auto found = dirs_.find(year);
    if (found != dirs_.end()) return found->second;
    fs::path dir = NewTempFolder("template" + year);
    const std::string year_db = std::string(kBaseName) + "_" + year;
    OpenDatabase(dir, "")->Execute(std::string("CREATE DATABASE ") + kBaseName);
    OpenDatabase(dir, "")->Execute("CREATE DATABASE " + year_db);
    const struct {
      std::string database;
      std::string_view script;
    } loads[] = {{kBaseName, db::BaseSchemaSql()}, {year_db, db::YearSchemaSql()}};
    for (const auto& load : loads) {
      auto connection = OpenDatabase(dir, load.database);
      for (const auto& batch : db::SplitBatches(load.script)) connection->Execute(batch);
    }
    return dirs_.emplace(year, std::move(dir)).first->second;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, fs::path> dirs_;  // guarded by mutex_
};

}  // namespace

fs::path NewTempFolder(const std::string& tag) {
  static std::atomic<int> counter{0};
  fs::path path = fs::temp_directory_path() / ("zel_test_" + std::to_string(::getpid()) + "_" +
                                               tag + "_" + std::to_string(counter++));
  fs::remove_all(path);
  fs::create_directories(path);
  return path;
}

std::unique_ptr<db::Connection> OpenDatabase(const fs::path& data_dir,
                                             const std::string& database) {
  db::ConnectionSettings settings;
  settings.database = database;
  settings.data_dir = data_dir.string();
  return db::Connect(settings);
}

const fs::path& TemplateData(const std::string& year) {
  static Templates templates;
  return templates.Of(year);
}

TempHome::TempHome(const std::string& year, bool keep)
    : TempHome(CopyOf{TemplateData(year)}, keep) {}

TempHome::TempHome(const CopyOf& data, bool keep) : dir_(NewTempFolder("home")), keep_(keep) {
  fs::copy(data.data_dir, dir_ / "Data", fs::copy_options::recursive);
  util::SetHomeFolder(dir_.string());
}

TempHome::~TempHome() {
  util::SetHomeFolder("");
  if (keep_) {
    std::cerr << "test home kept: " << dir_.string() << "\n";
    return;
  }
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::unique_ptr<db::Connection> TempHome::Open(const std::string& database) const {
  return OpenDatabase(dir_ / "Data", database);
}

db::ResultSet TempHome::Query(const std::string& database, const std::string& sql) const {
  return Open(database)->Execute(sql);
}

void TempHome::Exec(const std::string& database, const std::string& sql) const {
  Open(database)->Execute(sql);
}

std::string TempHome::LogFile(const std::string& file_name) const {
  std::ifstream in(dir_ / "Logs" / file_name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace zel::testing
