#include "base/run_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace marbloom {
namespace {

class RunLogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  // 2024-03-15 23:59:59 UTC
  static constexpr std::time_t kLateEvening = 1710547199;
  test::TempDir temp_;
  RunLogFile log_{temp_.path()};
};

TEST_F(RunLogFileTest, AppendsTimeThreeBlanksMessageAndNewlineInUtf8) {
  log_.Write("日线转档完成!", kLateEvening);
  log_.Write("n=5", kLateEvening);
  EXPECT_EQ(test::ReadFileText(temp_.path() + "20240315.log"), "23:59:59   日线转档完成!\n23:59:59   n=5\n");
}

TEST_F(RunLogFileTest, MidnightStartsANewDayFile) {
  log_.Write("before", kLateEvening);
  log_.Write("after", kLateEvening + 1);
  EXPECT_EQ(test::ReadFileText(temp_.path() + "20240315.log"), "23:59:59   before\n");
  EXPECT_EQ(test::ReadFileText(temp_.path() + "20240316.log"), "00:00:00   after\n");
}

TEST_F(RunLogFileTest, LongMessagesAreCutToTheBufferAndMissingDirectoryIsSilent) {
  log_.Write(std::string(400, 'x'), kLateEvening);
  EXPECT_EQ(test::ReadFileText(temp_.path() + "20240315.log").size(), 11u + 255u + 1u);
  RunLogFile(temp_.path() + "missing/").Write("lost", kLateEvening);
  EXPECT_FALSE(std::filesystem::exists(temp_.path() + "missing"));
}

}  // namespace
}  // namespace marbloom
