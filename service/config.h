// The configuration file "Korlan.Ini" (section "ZEL") in the home folder: a small ini
// reader/writer that keeps the file's other lines as they are, the service settings read
// from it, and the scrambling of the SQL password the file holds.
// Plain functions and values; an IniFile object belongs to one thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zel::service {

inline constexpr const char* kIniFileName = "Korlan.Ini";
inline constexpr const char* kIniSection = "ZEL";

// An ini file in memory. Section and key names compare case-insensitively; values are
// trimmed. Load of a missing file gives an empty file.
class IniFile {
 public:
  explicit IniFile(std::string path);
  const std::string& Path() const { return path_; }

  bool ValueExists(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         const std::string& default_value) const;
  // Integer value, or the default when missing or not a whole number.
  int ReadInteger(std::string_view section, std::string_view key, int default_value) const;
  // Sets a key (adding the section and key when missing) and saves the file at once.
  // Raises std::runtime_error when the file cannot be written.
  void WriteString(std::string_view section, std::string_view key, const std::string& value);

 private:
  // Index of the key's line, -1 when absent.
  int FindKey(std::string_view section, std::string_view key) const;
  void Save() const;

  std::string path_;
  std::vector<std::string> lines_;
};

// The settings the service reads from the file.
struct ServiceConfig {
  std::string ini_path;
  std::string database_name;  // DATABASENAME
  std::string user_name;      // USERNAME
  std::string password;       // decoded USERPASSWORD
  std::string server_name;    // SERVERNAME; empty = the embedded engine in <home>/Data
  int max_thread = 3;         // MaxThread
  bool enable_log = false;    // EnableLog = "T" (case-sensitive)
  std::string odbc_driver;    // ODBCDRIVER (optional): ODBC driver for SQL Server
  // ChangesKeepDays: the days the journal of changed results keeps its rows (at least 1)
  int changes_keep_days = 90;
};

// Path of the configuration file in the given home folder.
std::string IniPath(const std::string& home_folder);

// Reads the settings of section "ZEL". When the key EnableLog is missing it is first
// written with the value "F" (the file is created when missing; a file that cannot be
// written is only read). Never raises: a missing file gives the defaults.
ServiceConfig ReadServiceConfig(const std::string& ini_path);

// Turns the scrambled USERPASSWORD value into the password: values shorter than 125
// characters give an empty password, otherwise the 25 characters at positions 2, 7, 12, …
// are unscrambled and the result is trimmed of blanks and control characters.
std::string DecodeIniPassword(std::string_view value);

// The inverse of DecodeIniPassword: a 125-or-more character scrambled value with random
// filler. Raises std::invalid_argument when the password cannot be stored: longer than 25
// bytes, beginning or ending with a blank or control character, or giving a byte an ini
// line cannot hold.
std::string EncodeIniPassword(std::string_view password);

}  // namespace zel::service
