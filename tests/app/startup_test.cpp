#include "app/startup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <cstdlib>
#include <functional>
#include <optional>

#include "base/message_sink.h"
#include "base/run_log.h"
#include "app/settings.h"
#include "common/shared_state.h"
#include "support/fault_file_system.h"
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
  ASSERT_EQ(StartUp(RealFileSystem()), 1);
  EXPECT_EQ(WorkDirectory(), dir + "/");
  EXPECT_EQ(WorkDirectory().size(), 230u);
}

TEST_F(StartUpDirectory, RefusesAWorkDirectoryOf231Characters) {
  std::string dir = DirectoryOfLength(231);
  std::filesystem::current_path(dir);
  SetMessageSink([this](const std::string& text, const std::string& caption) {
    shown_.push_back(caption + ":" + text);
  });
  EXPECT_EQ(StartUp(RealFileSystem()), 0);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0], "严重错误:工作目录名太长,无法打开配置文件!");
}

// A start with no work directory named: the current directory when it holds
// a settings file, else the per-user one (XDG_DATA_HOME only when absolute),
// created with the tree inside it unless its settings name one.
TEST_F(StartUpDirectory, ChoosesTheCurrentOrThePerUserWorkDirectory) {
  struct Case {
    const char* xdgDataHome;    // "xdg": the temp folder's xdg/
    std::string current, user;  // settings files in the current and the per-user directory; "-": none
    const char* workDir;        // expected, under the temp folder
    const char* historyDir;     // expected, as loaded
  };
  const std::vector<Case> cases = {
      {"xdg", "", "-", "cur/", "../data/vipdoc/"},
      {"xdg", "-", "-", "xdg/marbloom/", "data/vipdoc/"},
      {"relative", "-", "[PATH]\r\nDOMAIN=h\r\n", "home/.local/share/marbloom/", "data/vipdoc/"},
      {"xdg", "-", "[PATH]\r\nVIPDOC=named\\\r\n", "xdg/marbloom/", "named/"},
  };
  const std::string t = temp_.path(), home = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", (t + "home").c_str(), 1);
  for (const Case& c : cases) {
    for (const char* dir : {"xdg/", "home/", "cur/"}) test::RemoveTree(t + dir);
    std::filesystem::create_directories(t + "cur/");
    if (c.current != "-") test::WriteFileBytes(t + "cur/marbloom.ini", {c.current.begin(), c.current.end()});
    if (c.user != "-") std::filesystem::create_directories(t + c.workDir);
    if (c.user != "-") test::WriteFileBytes(t + c.workDir + "marbloom.ini", {c.user.begin(), c.user.end()});
    ::setenv("XDG_DATA_HOME", (c.xdgDataHome == std::string("xdg") ? t + "xdg" : c.xdgDataHome).c_str(), 1);
    std::filesystem::current_path(t + "cur/");
    EXPECT_TRUE(EnterWorkDirectory("", RealFileSystem()) && StartUp(RealFileSystem()) && DataTreeReady)
        << c.workDir;
    EXPECT_EQ(WorkDirectory(), t + c.workDir);
    EXPECT_EQ(Settings().historyDir, c.historyDir) << c.workDir;
    EXPECT_TRUE(test::PathExists(WorkDirectory() + c.historyDir + "sz/lday/")) << c.workDir;
  }
  ::setenv("HOME", home.c_str(), 1);
  ::unsetenv("XDG_DATA_HOME");
}

// A confirmation that is refused or cannot save changes nothing: the file, the
// loaded settings and the tree stay as they were.
struct Refusal {
  const char* name;
  std::function<void(AppSettings&, const std::string& root)> enter;
  Outcome outcome;
  const char* messagePart;
  int64_t fileLimit = 0;  // non-zero: no room after this many bytes, as on a full disk
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

std::string Padded(const std::string& head, std::size_t length, char fill) {
  std::string text = head;
  text.resize(length, fill);
  return text;
}

std::string Repeated(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

const Refusal kRefusals[] = {
    {"history_longer_than_read_back", [](AppSettings& s, auto& root) { s.historyDir = Padded(root, 230, 'v'); },
     Outcome::kInvalid, "229"},
    {"history_of_230_gbk_bytes", [](AppSettings& s, auto& root) { s.historyDir = root + Repeated("行", 115); },
     Outcome::kInvalid, "229"},
    {"domain_longer_than_read_back", [](AppSettings& s, auto&) { s.downloadBase = Padded("http://h/", 230, 'd'); },
     Outcome::kInvalid, "229"},
    {"history_not_gbk", [](AppSettings& s, auto& root) { s.historyDir = root + "a😀b"; }, Outcome::kInvalid,
     "GBK"},
    {"domain_with_line_break", [](AppSettings& s, auto&) { s.downloadBase = "http://h/\nx"; }, Outcome::kInvalid,
     "换行"},
    {"history_in_quotes", [](AppSettings& s, auto& root) { s.historyDir = "\"" + root + "q\""; },
     Outcome::kInvalid, "引号"},
    {"full_disk", [](AppSettings& s, auto&) { s.minuteDays = 200; }, Outcome::kFailed, "写入失败", 10},
};

class SettingsConfirmation : public ::testing::TestWithParam<Refusal> {
 protected:
  void SetUp() override {
    SetWorkDirectory(temp_.path());
    AppSettings s;
    LoadSettings(s, RealFileSystem());
    s.historyDir = temp_.path() + "hist/";
    ASSERT_TRUE(SaveSettings(s, RealFileSystem()));
    LoadSettings(Settings(), RealFileSystem());
  }
  void TearDown() override {
    SetWorkDirectory("");
    Settings() = AppSettings{};
    DataTreeReady = 0;
  }
  test::TempDir temp_;
};

TEST_P(SettingsConfirmation, ChangesNothing) {
  const Refusal& r = GetParam();
  const std::string fileBefore = test::ReadFileText(SettingsFilePath());
  const AppSettings before = Settings();
  AppSettings entered = before;
  r.enter(entered, temp_.path());
  test::FaultFileSystem files;
  if (r.fileLimit > 0) files.NoSpaceAfter(r.fileLimit);
  const OperationResult result = ConfirmSettings(entered, files);
  EXPECT_EQ(result.outcome, r.outcome);
  EXPECT_NE(result.message.find(r.messagePart), std::string::npos) << result.message;
  EXPECT_EQ(test::ReadFileText(SettingsFilePath()), fileBefore);
  EXPECT_EQ(Settings().historyDir, before.historyDir);
  EXPECT_EQ(Settings().downloadBase, before.downloadBase);
  EXPECT_EQ(Settings().minuteDays, before.minuteDays);
  EXPECT_FALSE(test::PathExists(temp_.path() + "hist/")) << "no tree was created";
}

INSTANTIATE_TEST_SUITE_P(Table, SettingsConfirmation, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsConfirmation, TextsThatFitAreSavedAndReadBack) {
  AppSettings entered = Settings();
  entered.historyDir = Padded(temp_.path(), 224, 'v') + "\\行情";  // 229 GBK bytes
  entered.downloadBase = Padded("http://h/", 229, 'd');
  entered.minuteDays = 200;
  const OperationResult result = ConfirmSettings(entered, RealFileSystem());
  EXPECT_EQ(result.outcome, Outcome::kDone);
  EXPECT_EQ(result.message, "设置已更改!");
  EXPECT_EQ(Settings().historyDir, Padded(temp_.path(), 224, 'v') + "/行情/");
  EXPECT_EQ(Settings().downloadBase, entered.downloadBase);
  EXPECT_EQ(Settings().minuteDays, 200);
  EXPECT_EQ(DataTreeReady.load(), 1);
}

}  // namespace
}  // namespace marbloom
