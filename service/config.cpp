#include "service/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "util/parse_int.h"
#include "util/text.h"

namespace zel::service {

namespace {

// The key of the password scrambling: k(i) = low 8 bits of i * kPasswordMultiplier. With
// k(i) below 128 for every i, a printable ASCII password always gives storable bytes.
constexpr unsigned kPasswordMultiplier = 5;
constexpr size_t kPasswordValueLength = 125;
constexpr int kPasswordChars = 25;

using util::EqualsNoCase;

// "[name]" → name; nullopt-like empty flag otherwise.
bool SectionName(const std::string& line, std::string* name) {
  std::string t = util::TrimControls(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  *name = util::TrimControls(std::string_view(t).substr(1, t.size() - 2));
  return true;
}

bool KeyValue(const std::string& line, std::string* key, std::string* value) {
  std::string t = util::TrimControls(line);
  if (t.empty() || t[0] == ';' || t[0] == '#') return false;
  size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  *key = util::TrimControls(std::string_view(line).substr(0, eq));
  *value = util::TrimControls(std::string_view(line).substr(eq + 1));
  return true;
}

unsigned char Key(int i) { return static_cast<unsigned char>((i * kPasswordMultiplier) & 0xFF); }

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
  std::ifstream in(path_, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (lines_.empty() && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // UTF-8 mark
    lines_.push_back(line);
  }
}

int IniFile::FindKey(std::string_view section, std::string_view key) const {
  bool in_section = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    std::string name, k, v;
    if (SectionName(lines_[i], &name)) {
      in_section = EqualsNoCase(name, section);
    } else if (in_section && KeyValue(lines_[i], &k, &v) && EqualsNoCase(k, key)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
  return FindKey(section, key) >= 0;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                const std::string& default_value) const {
  int i = FindKey(section, key);
  if (i < 0) return default_value;
  std::string k, v;
  KeyValue(lines_[static_cast<size_t>(i)], &k, &v);
  return v;
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int default_value) const {
  return util::ParseInt<int>(ReadString(section, key, "")).value_or(default_value);
}

void IniFile::WriteString(std::string_view section, std::string_view key,
                          const std::string& value) {
  std::string line = std::string(key) + "=" + value;
  int at = FindKey(section, key);
  if (at >= 0) {
    lines_[static_cast<size_t>(at)] = line;
  } else {
    // Append to the end of the section, or add the section.
    int section_line = -1;
    size_t insert_at = lines_.size();
    for (size_t i = 0; i < lines_.size(); ++i) {
      std::string name;
      if (SectionName(lines_[i], &name)) {
        if (section_line >= 0) {
          insert_at = i;
          break;
        }
        if (EqualsNoCase(name, section)) section_line = static_cast<int>(i);
      }
    }
    if (section_line < 0) {
      lines_.push_back("[" + std::string(section) + "]");
      lines_.push_back(line);
    } else {
      // Keep blank lines that separate sections after the new key.
      while (insert_at > static_cast<size_t>(section_line) + 1 &&
             util::TrimControls(lines_[insert_at - 1]).empty()) {
        --insert_at;
      }
      lines_.insert(lines_.begin() + static_cast<long>(insert_at), line);
    }
  }
  Save();
}

void IniFile::Save() const {
  std::string tmp = path_ + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path_);
    for (const auto& l : lines_) out << l << "\r\n";
    out.flush();
    if (!out) throw std::runtime_error("cannot write " + path_);
  }
  // The new file keeps the old one's mode and owner.
  // It holds the (only scrambled) password: a new file is readable by its owner alone.
  chmod(tmp.c_str(), 0600);
  struct stat old_file {};
  if (stat(path_.c_str(), &old_file) == 0) {
    chmod(tmp.c_str(), old_file.st_mode & 07777);
    if (chown(tmp.c_str(), old_file.st_uid, old_file.st_gid) != 0) {
      // Only root may give a file away; the owner stays the caller.
    }
  }
  if (std::rename(tmp.c_str(), path_.c_str()) != 0) {
    std::remove(tmp.c_str());
    throw std::runtime_error("cannot write " + path_);
  }
}

std::string IniPath(const std::string& home_folder) { return home_folder + "/" + kIniFileName; }

ServiceConfig ReadServiceConfig(const std::string& ini_path) {
  IniFile ini(ini_path);
  if (!ini.ValueExists(kIniSection, "EnableLog")) {
    try {
      ini.WriteString(kIniSection, "EnableLog", "F");
    } catch (const std::exception&) {
      // A read-only home: the value is read as missing ("F").
    }
  }
  ServiceConfig c;
  c.ini_path = ini_path;
  c.database_name = ini.ReadString(kIniSection, "DATABASENAME", "");
  c.user_name = ini.ReadString(kIniSection, "USERNAME", "");
  c.password = DecodeIniPassword(ini.ReadString(kIniSection, "USERPASSWORD", ""));
  c.server_name = ini.ReadString(kIniSection, "SERVERNAME", "");
  c.max_thread = ini.ReadInteger(kIniSection, "MaxThread", 3);
  c.changes_keep_days = std::max(1, ini.ReadInteger(kIniSection, "ChangesKeepDays", 90));
  c.enable_log = ini.ReadString(kIniSection, "EnableLog", "F") == "T";
  c.odbc_driver = ini.ReadString(kIniSection, "ODBCDRIVER", "");
  return c;
}

std::string DecodeIniPassword(std::string_view value) {
  if (value.size() < kPasswordValueLength) return {};
  std::string result(50, ' ');
  for (int i = 1; i <= kPasswordChars; ++i) {
    auto code = static_cast<unsigned char>(value[static_cast<size_t>(5 * i - 3 - 1)]);
    auto plain = static_cast<unsigned char>(((code - 32) ^ Key(i)) + 32);
    result[static_cast<size_t>(i - 1)] = static_cast<char>(plain);
  }
  return util::TrimControls(result);
}

std::string EncodeIniPassword(std::string_view password) {
  if (password.size() > static_cast<size_t>(kPasswordChars)) {
    throw std::invalid_argument("the password may have at most 25 bytes");
  }
  if (!password.empty() && util::TrimControls(password).size() != password.size()) {
    throw std::invalid_argument("the password may not begin or end with a blank");
  }
  std::random_device device;
  std::mt19937 random(device());
  std::uniform_int_distribution<int> filler('!', '~');
  std::uniform_int_distribution<int> extra(0, 15);
  std::string value(kPasswordValueLength + static_cast<size_t>(extra(random)), ' ');
  for (auto& c : value) c = static_cast<char>(filler(random));
  for (int i = 1; i <= kPasswordChars; ++i) {
    auto plain = static_cast<unsigned char>(
        static_cast<size_t>(i) <= password.size() ? password[static_cast<size_t>(i - 1)] : ' ');
    auto code = static_cast<unsigned char>(((plain - 32) ^ Key(i)) + 32);
    if (code == 0 || code == '\n' || code == '\r') {
      throw std::invalid_argument("the password has a character that cannot be stored");
    }
    value[static_cast<size_t>(5 * i - 3 - 1)] = static_cast<char>(code);
  }
  return value;
}

}  // namespace zel::service
