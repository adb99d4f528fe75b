#include "base/run_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/settings.h"
#include "base/text_encoding.h"
#include "support/temp_dir.h"

namespace marbloom {
namespace {

class RunLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    SetRunLogDirectory(temp_.path());
  }
  void TearDown() override {
    SetRunLogClock(nullptr);
    Settings() = AppSettings{};
  }
  // 2024-03-15 23:59:59 UTC
  static constexpr std::time_t kLateEvening = 1710547199;
  test::TempDir temp_;
};

TEST_F(RunLogFile, AppendsTimeThreeBlanksMessageCrLfInGbk) {
  SetRunLogClock([] { return kLateEvening; });
  RunLog("%s", "日线转档完成!");
  RunLog("n=%d", 5);
  EXPECT_EQ(test::ReadFileText(temp_.path() + "20240315.log"),
            "23:59:59   " + Utf8ToGbk("日线转档完成!") + "\r\n23:59:59   n=5\r\n");
}

TEST_F(RunLogFile, MidnightStartsANewDayFile) {
  SetRunLogClock([] { return kLateEvening; });
  RunLog("before");
  SetRunLogClock([] { return kLateEvening + 1; });
  RunLog("after");
  EXPECT_EQ(test::ReadFileText(temp_.path() + "20240315.log"), "23:59:59   before\r\n");
  EXPECT_EQ(test::ReadFileText(temp_.path() + "20240316.log"), "00:00:00   after\r\n");
}

TEST_F(RunLogFile, LongMessagesAreCutToTheBufferAndMissingDirectoryIsSilent) {
  SetRunLogClock([] { return kLateEvening; });
  RunLog("%s", std::string(400, 'x').c_str());
  EXPECT_EQ(test::ReadFileText(temp_.path() + "20240315.log").size(), 11u + 255u + 2u);
  SetRunLogDirectory(temp_.path() + "missing/");
  RunLog("lost");
  EXPECT_FALSE(std::filesystem::exists(temp_.path() + "missing"));
}

}  // namespace
}  // namespace marbloom
