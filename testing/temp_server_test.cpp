#include "testing/temp_server.h"

#include <gtest/gtest.h>

#include <fstream>

#include "util/log_file.h"

namespace zel::testing {
namespace {

namespace fs = std::filesystem;

TEST(TempHome, IsTheHomeWhileItLivesWithItsOwnCopyOfTheTemplate) {
  fs::path first_path;
  {
    TempHome first;
    first_path = first.Path();
    EXPECT_EQ(util::HomeFolder(), first.Path().string());
    EXPECT_EQ(first.DataDir(), (first.Path() / "Data").string());
    first.Exec("Att", "INSERT INTO Semaphor (Code, Amount) VALUES (17, 0)");
    EXPECT_EQ(first.Query("Att", "SELECT COUNT(*) FROM Semaphor").rows.at(0).at(0).AsInteger(), 1);
    EXPECT_EQ(first.Query("Att_1399", "SELECT COUNT(*) FROM DayWork").rows.at(0).at(0).AsInteger(),
              0);
    {
      TempHome second("1400");
      EXPECT_NE(second.Path(), first.Path());
      EXPECT_EQ(second.Query("Att", "SELECT COUNT(*) FROM Semaphor").rows.at(0).at(0).AsInteger(),
                0);
      EXPECT_EQ(
          second.Query("Att_1400", "SELECT COUNT(*) FROM TimeTab").rows.at(0).at(0).AsInteger(), 0);
      EXPECT_THROW(second.Query("Att_1399", "SELECT COUNT(*) FROM TimeTab"), db::DbError);
    }
    fs::create_directories(first.Path() / "Logs");
    std::ofstream(first.Path() / "Logs" / "Log.Log") << "line\n";
    EXPECT_EQ(first.LogFile("Log.Log"), "line\n");
    EXPECT_EQ(first.LogFile("Missing.Log"), "");
  }
  EXPECT_FALSE(fs::exists(first_path));
  EXPECT_EQ(util::HomeFolder(), util::ExecutableFolder());
}

TEST(TempHome, KeptWhenAsked) {
  fs::path path;
  {
    TempHome home("1399", true);
    path = home.Path();
  }
  EXPECT_TRUE(fs::exists(path / "Data"));
  fs::remove_all(path);
}

TEST(TempHome, StartsFromACopyOfAGivenDataFolder) {
  TempHome source;
  source.Exec("Att", "INSERT INTO Semaphor (Code, Amount) VALUES (17, 0)");
  {
    TempHome copy(CopyOf{source.DataDir()});
    EXPECT_EQ(util::HomeFolder(), copy.Path().string());
    copy.Exec("Att", "DELETE FROM Semaphor");
    EXPECT_EQ(copy.Query("Att", "SELECT COUNT(*) FROM Semaphor").rows.at(0).at(0).AsInteger(), 0);
  }
  // The copy's own edits stay in the copy.
  EXPECT_EQ(source.Query("Att", "SELECT COUNT(*) FROM Semaphor").rows.at(0).at(0).AsInteger(), 1);
}

}  // namespace
}  // namespace zel::testing
