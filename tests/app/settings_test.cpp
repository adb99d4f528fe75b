#include "app/settings.h"

#include <gtest/gtest.h>

#include "app/data_tree.h"
#include "base/message_sink.h"
#include "base/profile_file.h"
#include "base/run_log.h"
#include "support/temp_dir.h"

namespace marbloom {
namespace {

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override { SetWorkDirectory(temp_.path()); }
  void TearDown() override {
    SetWorkDirectory("");
    Settings() = AppSettings{};
  }
  void Put(const char* section, const char* key, const char* value) {
    ProfileWriteString(RealFileSystem(), SettingsFilePath(), section, key, value);
  }
  AppSettings Load() {
    AppSettings s;
    LoadSettings(s, RealFileSystem());
    return s;
  }
  test::TempDir temp_;
};

TEST_F(SettingsFile, MissingFileGivesDefaults) {
  AppSettings s = Load();
  EXPECT_EQ(s.downloadBase, kDefaultDownloadBase);
  EXPECT_EQ(s.historyDir, "../data/vipdoc/");
  EXPECT_EQ(s.minuteDays, 120);
  EXPECT_EQ(s.fiveMinuteDays, 500);
  EXPECT_EQ(s.minutesAfterTick, 1);
  EXPECT_EQ(s.tckv4, 1);
  EXPECT_EQ(CurrentLayout().DownDir(), temp_.path() + "down/");
  EXPECT_EQ(CurrentLayout().DayZipDir(), temp_.path() + "down/dayzip/");
  EXPECT_EQ(CurrentLayout().TickZipDir(), temp_.path() + "down/tickzip/");
  EXPECT_EQ(CurrentLayout().LogDir(), temp_.path() + "logs/");
}

TEST_F(SettingsFile, MinuteDaysAreClampedAndDeriveFiveMinuteDays) {
  const struct { const char* value; int one, five; } cases[] = {
      {"30", 50, 250}, {"60", 60, 300}, {"100", 100, 500}, {"600", 500, 500}, {"abc", 50, 250}};
  for (const auto& c : cases) {
    Put("CTRL", "MINDAYS", c.value);
    AppSettings s = Load();
    EXPECT_EQ(s.minuteDays, c.one) << c.value;
    EXPECT_EQ(s.fiveMinuteDays, c.five) << c.value;
  }
}

TEST_F(SettingsFile, TextValuesAreTrimmedAndTheDirectoryNormalised) {
  Put("PATH", "DOMAIN", "  http://10.0.0.1/ x/  ");
  Put("PATH", "VIPDOC", "D:\\data\\vipdoc");
  AppSettings s = Load();
  EXPECT_EQ(s.downloadBase, "http://10.0.0.1/ x/");
  EXPECT_EQ(s.historyDir, "D:/data/vipdoc/");
}

TEST_F(SettingsFile, SaveWritesTheFiveKeysOnly) {
  AppSettings s = Load();
  s.downloadBase = "http://h/";
  s.historyDir = "D:\\v";
  s.minuteDays = 77;
  s.minutesAfterTick = 0;
  s.tckv4 = 0;
  ASSERT_TRUE(SaveSettings(s, RealFileSystem()));
  EXPECT_EQ(test::ReadFileText(SettingsFilePath()),
            "[PATH]\r\nDOMAIN=http://h/\r\nVIPDOC=D:\\v\r\n[CTRL]\r\nMINDAYS=77\r\nTRANSMIN=0\r\nTCKV4=0\r\n");
  AppSettings back = Load();
  EXPECT_EQ(back.historyDir, "D:/v/");
  EXPECT_EQ(back.minuteDays, 77);
  EXPECT_EQ(back.fiveMinuteDays, 385);
  EXPECT_EQ(back.tckv4, 0);
}

class DataTree : public SettingsFile {};

TEST_F(DataTree, CreatesAllDirectories) {
  Put("PATH", "VIPDOC", (temp_.path() + "hist").c_str());
  LoadSettings(Settings(), RealFileSystem());
  EXPECT_TRUE(CreateDataTree(CurrentLayout(), true));
  for (const char* d : {"down/", "down/dayzip/", "down/tickzip/", "logs/"})
    EXPECT_TRUE(test::PathExists(temp_.path() + d)) << d;
  for (const char* d : {"sz/fzline", "sz/lday", "sz/minline", "bj/fzline", "bj/lday", "bj/minline",
                        "sh/fzline", "sh/lday", "sh/minline", "refmhq", "datetick", "newdatetick",
                        "tick", "newtick"})
    EXPECT_TRUE(test::PathExists(temp_.path() + "hist/" + d)) << d;
}

TEST_F(DataTree, UnwritableHistoryReportsTheFirstHistoryRow) {
  test::WriteFileBytes(temp_.path() + "blocker", {1});
  Put("PATH", "VIPDOC", (temp_.path() + "blocker/vipdoc").c_str());
  LoadSettings(Settings(), RealFileSystem());
  std::vector<std::string> shown;
  SetMessageSink([&](const std::string& text, const std::string&) { shown.push_back(text); });
  std::string failure;
  EXPECT_FALSE(CreateDataTree(CurrentLayout(), true, &failure));
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(failure, "创建sz\\fzline目录失败或者权限不足!");
  EXPECT_FALSE(CreateDataTree(CurrentLayout(), false));
  SetMessageSink(nullptr);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], failure);
}

}  // namespace
}  // namespace marbloom
