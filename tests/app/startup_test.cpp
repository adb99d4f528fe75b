#include "app/startup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "base/message_sink.h"
#include "app/settings.h"
#include "common/shared_state.h"
#include "support/temp_dir.h"

namespace marbloom {
namespace {

// Runs start-up from a directory whose normalised path has `length` characters.
class StartUpDirectory : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = std::filesystem::current_path(); }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    SetMessageSink(nullptr);
    SetWorkDirectory("");
    Settings() = AppSettings{};
  }
  std::string DirectoryOfLength(std::size_t length) {
    std::string dir = temp_.path().substr(0, temp_.path().size() - 1);
    const std::size_t target = length - 1;  // the trailing '/' is added by start-up
    while (target - dir.size() > 60) dir += "/" + std::string(50, 'd');
    dir += "/" + std::string(target - dir.size() - 1, 'e');
    std::filesystem::create_directories(dir);
    return dir;
  }
  test::TempDir temp_;
  std::filesystem::path previous_;
  std::vector<std::string> shown_;
};

TEST_F(StartUpDirectory, AcceptsAWorkDirectoryOf230Characters) {
  std::string dir = DirectoryOfLength(230);
  std::filesystem::current_path(dir);
  ASSERT_EQ(StartUp(), 1);
  EXPECT_EQ(WorkDirectory(), dir + "/");
  EXPECT_EQ(WorkDirectory().size(), 230u);
}

TEST_F(StartUpDirectory, RefusesAWorkDirectoryOf231Characters) {
  std::string dir = DirectoryOfLength(231);
  std::filesystem::current_path(dir);
  SetMessageSink([this](const std::string& text, const std::string& caption) {
    shown_.push_back(caption + ":" + text);
  });
  EXPECT_EQ(StartUp(), 0);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0], "严重错误:工作目录名太长,无法打开配置文件!");
}

}  // namespace
}  // namespace marbloom
