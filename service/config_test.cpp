#include "service/config.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace zel::service {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "zel_config_XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempFolder() { fs::remove_all(path_); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A value whose characters at positions 2, 7, 12, ... carry `password` scrambled.
TEST(DecodeIniPassword, RoundTripsThroughTheScrambledForm) {
  const std::string cases[] = {"secret", "P@ss word;=#1", "a", "1234567890123456789012345", ""};
  for (const auto& password : cases) {
    std::string value = EncodeIniPassword(password);
    EXPECT_GE(value.size(), 125u);
    if (password.size() >= 6) {  // shorter ones may occur in the random filler
      EXPECT_EQ(value.find(password), std::string::npos) << "stored in clear: " << password;
    }
    EXPECT_EQ(DecodeIniPassword(value), password);
  }
}

TEST(DecodeIniPassword, ShortValuesGiveAnEmptyPassword) {
  std::string value = EncodeIniPassword("secret");
  EXPECT_EQ(DecodeIniPassword(value.substr(0, 124)), "");
  EXPECT_EQ(DecodeIniPassword(value.substr(0, 125)), "secret");
  EXPECT_EQ(DecodeIniPassword(""), "");
}

TEST(DecodeIniPassword, DecodesTheDocumentedPositionsAndTrims) {
  // Filler of 'x' everywhere; position 5i-3 carries ((c-32) xor (5i & 255)) + 32.
  std::string value(125, 'x');
  const std::string password = "ab";
  for (int i = 1; i <= 25; ++i) {
    unsigned char plain = i <= 2 ? password[static_cast<size_t>(i - 1)] : ' ';
    value[static_cast<size_t>(5 * i - 4)] =
        static_cast<char>(static_cast<unsigned char>(((plain - 32) ^ ((5 * i) & 0xFF)) + 32));
  }
  EXPECT_EQ(DecodeIniPassword(value), "ab");
  // A control character at the first position is trimmed away.
  value[1] = static_cast<char>(static_cast<unsigned char>((('\t' - 32) ^ 5) + 32));
  EXPECT_EQ(DecodeIniPassword(value), "b");
}

TEST(EncodeIniPassword, RefusesWhatCannotBeStored) {
  EXPECT_THROW(EncodeIniPassword(std::string(26, 'a')), std::invalid_argument);
  EXPECT_THROW(EncodeIniPassword(" lead"), std::invalid_argument);
  EXPECT_THROW(EncodeIniPassword("trail "), std::invalid_argument);
}

TEST(ReadServiceConfig, ReadsSectionZelCaseInsensitively) {
  TempFolder home;
  std::string path = IniPath(home.Path());
  WriteAll(path,
           "[Other]\r\nDATABASENAME=Wrong\r\n[zel]\r\ndatabasename = Att\r\nUSERNAME=sa\r\n"
           "USERPASSWORD=" +
               EncodeIniPassword("s3cret") +
               "\r\nSERVERNAME=host\\inst\r\nMaxThread=7\r\nEnableLog=T\r\n");
  ServiceConfig c = ReadServiceConfig(path);
  EXPECT_EQ(c.database_name, "Att");
  EXPECT_EQ(c.user_name, "sa");
  EXPECT_EQ(c.password, "s3cret");
  EXPECT_EQ(c.server_name, "host\\inst");
  EXPECT_EQ(c.max_thread, 7);
  EXPECT_TRUE(c.enable_log);
}

TEST(ReadServiceConfig, MissingEnableLogIsWrittenAsF) {
  TempFolder home;
  std::string path = IniPath(home.Path());
  WriteAll(path, "[ZEL]\r\nDATABASENAME=Att\r\n\r\n[Next]\r\nA=1\r\n");
  ServiceConfig c = ReadServiceConfig(path);
  EXPECT_FALSE(c.enable_log);
  EXPECT_EQ(c.max_thread, 3);
  EXPECT_EQ(ReadAll(path), "[ZEL]\r\nDATABASENAME=Att\r\nEnableLog=F\r\n\r\n[Next]\r\nA=1\r\n");
}

TEST(ReadServiceConfig, MissingFileIsCreatedWithEnableLog) {
  TempFolder home;
  std::string path = IniPath(home.Path());
  ServiceConfig c = ReadServiceConfig(path);
  EXPECT_EQ(c.database_name, "");
  EXPECT_EQ(c.password, "");
  EXPECT_EQ(ReadAll(path), "[ZEL]\r\nEnableLog=F\r\n");
}

TEST(ReadServiceConfig, EnableLogIsOnOnlyForCapitalT) {
  struct Case {
    const char* value;
    bool on;
  } cases[] = {{"T", true}, {"t", false}, {"F", false}, {"True", false}, {"", false}};
  TempFolder home;
  std::string path = IniPath(home.Path());
  for (const auto& c : cases) {
    WriteAll(path, std::string("[ZEL]\nEnableLog=") + c.value + "\nMaxThread=x\n");
    ServiceConfig config = ReadServiceConfig(path);
    EXPECT_EQ(config.enable_log, c.on) << c.value;
    EXPECT_EQ(config.max_thread, 3) << "not a number falls back to 3";
  }
}

TEST(IniFile, WriteStringReplacesOnlyTheKey) {
  TempFolder home;
  std::string path = home.Path() + "/a.ini";
  WriteAll(path, "; comment\n[ZEL]\nUSERPASSWORD=old\nSERVERNAME=x\n");
  IniFile ini(path);
  ini.WriteString("ZEL", "USERPASSWORD", "new");
  EXPECT_EQ(ReadAll(path), "; comment\r\n[ZEL]\r\nUSERPASSWORD=new\r\nSERVERNAME=x\r\n");
  EXPECT_EQ(IniFile(path).ReadString("ZEL", "userpassword", ""), "new");
}

TEST(IniFile, KeepsTheFileModeAndReadsAfterAByteOrderMark) {
  TempFolder home;
  std::string path = home.Path() + "/Korlan.Ini";
  WriteAll(path, "\xEF\xBB\xBF[ZEL]\r\nDATABASENAME=Att\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  IniFile ini(path);
  EXPECT_EQ(ini.ReadString("ZEL", "DATABASENAME", ""), "Att");
  ini.WriteString("ZEL", "USERPASSWORD", EncodeIniPassword("x1"));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadServiceConfig(path).password, "x1");
}

}  // namespace
}  // namespace zel::service
