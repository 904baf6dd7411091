// Test support: the one temporary embedded server and home of the tests. A home is a folder
// of its own holding Data/ (the embedded server, copied from a template with the empty base
// database "Att" and the year database "Att_<year>" carrying the product's tables, built
// once per process and year) and Logs/; while it lives it is the process's home folder (one
// home at a time: the last one dropped resets the home folder to the default).
// Make and drop homes on the test's main thread (the home folder is process-wide); the
// connections a home opens belong to the thread that opened them.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "db/client.h"

namespace zel::testing {

// A new empty folder under the system's temporary folder, named by tag, process and a
// counter. Raises std::filesystem::filesystem_error when it cannot be made.
std::filesystem::path NewTempFolder(const std::string& tag);

// A connection to `database` ("" = server level) of the embedded server in data_dir.
std::unique_ptr<db::Connection> OpenDatabase(const std::filesystem::path& data_dir,
                                             const std::string& database);

// The template data folder of a year: "Att" and "Att_<year>" with the product's tables and
// no rows. Built on first use; removed when the process ends. Raises db::DbError when a
// table script fails.
const std::filesystem::path& TemplateData(const std::string& year);

// A data folder a home starts from instead of a year's template (a test's own server).
struct CopyOf {
  std::filesystem::path data_dir;
};

class TempHome {
 public:
  // A home with the template of `year`; kept on disk (its path on stderr) when `keep`.
  explicit TempHome(const std::string& year = "1399", bool keep = false);
  // A home whose Data/ is a copy of the given folder's files.
  explicit TempHome(const CopyOf& data, bool keep = false);
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::filesystem::path& Path() const { return dir_; }
  std::string DataDir() const { return (dir_ / "Data").string(); }
  std::unique_ptr<db::Connection> Open(const std::string& database) const;
  db::ResultSet Query(const std::string& database, const std::string& sql) const;
  void Exec(const std::string& database, const std::string& sql) const;
  // The whole text of a file of the Logs folder ("" when there is none).
  std::string LogFile(const std::string& file_name) const;

 private:
  std::filesystem::path dir_;
  bool keep_ = false;
};

}  // namespace zel::testing
