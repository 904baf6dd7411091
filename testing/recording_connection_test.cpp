#include "testing/recording_connection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

namespace zel::testing {
namespace {

namespace fs = std::filesystem;

class RecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zel_recording_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::unique_ptr<db::Connection> Open() {
    db::ConnectionSettings settings;
    settings.data_dir = dir_.string();
    return db::Connect(settings);
  }
  fs::path dir_;
};

TEST_F(RecordingTest, RecordsEveryTextSentWhileTheScopeLivesFailuresToo) {
  StatementRecorder recorder;
  auto before = Open();
  {
    ScopedRecording scope(recorder);
    auto connection = Open();
    EXPECT_EQ(connection->EngineName(), before->EngineName());
    EXPECT_EQ(connection->Execute("SELECT 1 + 1").rows.at(0).at(0).AsInteger(), 2);
    EXPECT_THROW(connection->Execute("SELECT * FROM NoSuchTable"), db::DbError);
    std::thread([&] { Open()->Execute("SELECT 'from a worker'"); }).join();
    before->Execute("SELECT 'opened before the scope'");
  }
  Open()->Execute("SELECT 'opened after the scope'");
  EXPECT_EQ(recorder.Texts(), (std::vector<std::string>{"SELECT 1 + 1", "SELECT * FROM NoSuchTable",
                                                        "SELECT 'from a worker'"}));
}

}  // namespace
}  // namespace zel::testing
