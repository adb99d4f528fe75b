// The archives of the sample market, checked by Info-ZIP unzip and bsdtar.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/text_encoding.h"
#include "samplegen.h"
#include "support/temp_dir.h"

namespace marbloom::sample {
namespace {

const SampleOptions kSmall{9, 400, false};

// Runs a shell command; its standard output, and the exit status in *status.
std::string Run(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    *status = -1;
    return out;
  }
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  *status = pclose(pipe);
  return out;
}

void ExpectAcceptedByBothTools(const std::string& zip, const std::vector<std::string>& names) {
  int status = 0;
  const std::string tested = Run("unzip -t '" + zip + "' 2>&1", &status);
  EXPECT_EQ(status, 0) << tested;
  EXPECT_NE(tested.find("No errors detected"), std::string::npos) << tested;
  const std::string listed = Run("bsdtar -tf '" + zip + "' 2>&1", &status);
  EXPECT_EQ(status, 0) << listed;
  std::string expected;
  for (const std::string& name : names) expected += name + "\n";
  EXPECT_EQ(listed, expected);
}

std::vector<uint8_t> Extracted(const std::string& zip, const std::string& entry) {
  int status = 0;
  const std::string bytes = Run("unzip -p '" + zip + "' '" + entry + "'", &status);
  EXPECT_EQ(status, 0);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

TEST(SampleArchives, ServerTreeHoldsEveryWeekdayAndTheConfiguration) {
  test::TempDir dir;
  std::string error;
  ASSERT_TRUE(WriteServerTree(20220506, 20220509, kSmall, dir.path(), &error)) << error;  // Fri .. Mon
  ExpectAcceptedByBothTools(dir.path() + "downit.zip", {"downit5.cfg"});
  for (const char* day : {"20220506", "20220509"}) {
    const std::string yymmdd = std::string(day).substr(2);
    ExpectAcceptedByBothTools(dir.path() + kDailyArchivePath + day + ".zip",
                              {"sz" + yymmdd + ".cod", "sz" + yymmdd + ".md1", "sh" + yymmdd + ".cod",
                               "sh" + yymmdd + ".md1", "bj" + yymmdd + ".cod", "bj" + yymmdd + ".md1"});
    ExpectAcceptedByBothTools(dir.path() + kTickArchivePath + day + ".zip", {std::string(day) + ".htc"});
  }
  EXPECT_FALSE(test::PathExists(dir.path() + kDailyArchivePath + "20220507.zip"));
  EXPECT_FALSE(test::PathExists(dir.path() + kTickArchivePath + "20220508.zip"));
}

TEST(SampleArchives, EntriesHoldTheGeneratedBytes) {
  test::TempDir dir;
  ASSERT_TRUE(WriteDailyArchiveZip(20220505, kSmall, dir.path()));
  ASSERT_TRUE(WriteTickArchiveZip(20220505, kSmall, dir.path() + "t/"));
  EXPECT_EQ(Extracted(dir.path() + "20220505.zip", "sh220505.md1"), QuoteFileBytes(20220505, 1, kSmall));
  EXPECT_EQ(Extracted(dir.path() + "20220505.zip", "bj220505.cod"), CodeListBytes(20220505, 2, kSmall));
  EXPECT_EQ(Extracted(dir.path() + "t/20220505.zip", "20220505.htc"), TickArchiveBytes(20220505, kSmall));
}

TEST(SampleArchives, SameInputsGiveIdenticalZipBytes) {
  test::TempDir a, b;
  ASSERT_TRUE(WriteServerTree(20220505, 20220505, kSmall, a.path()));
  ASSERT_TRUE(WriteServerTree(20220505, 20220505, kSmall, b.path()));
  const std::string day = DayArchiveName(20220505);
  for (const std::string& name : {std::string(kConfigArchiveName), kDailyArchivePath + day, kTickArchivePath + day}) {
    EXPECT_EQ(test::ReadFileBytes(a.path() + name), test::ReadFileBytes(b.path() + name)) << name;
  }
}

TEST(SampleArchives, ConfigurationIsGbkWithTheTwoPaths) {
  const std::string text = ConfigFileText();
  EXPECT_NE(text.find("[DOWN]\r\n"), std::string::npos);
  EXPECT_NE(text.find("DOWNNUM=12\r\n"), std::string::npos);
  EXPECT_NE(text.find(std::string("PATH11=") + kDailyArchivePath + "\r\n"), std::string::npos);
  EXPECT_NE(text.find(std::string("PATH12=") + kTickArchivePath + "\r\n"), std::string::npos);
  EXPECT_NE(text.find(Utf8ToGbk("FILE12=四代分笔数据")), std::string::npos);
  EXPECT_EQ(text.find("四代"), std::string::npos);  // not left in UTF-8
}

TEST(SampleArchives, BadDatesAndFoldersAreRefusedWithAMessage) {
  test::TempDir dir;
  std::string error;
  EXPECT_FALSE(WriteServerTree(20220430, 20220505, kSmall, dir.path(), &error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(WriteDailySources(20220231, kSmall, dir.path(), &error));
  EXPECT_FALSE(error.empty());
  test::WriteFileBytes(dir.path() + "file", {1});
  error.clear();
  EXPECT_FALSE(WriteTickArchive(20220505, kSmall, dir.path() + "file/sub/", &error));
  EXPECT_FALSE(error.empty());
}

TEST(SampleArchives, ServedDatesAreWeekdaysFromMay2022UpToToday) {
  EXPECT_TRUE(IsServedDate(20220505, 20220510));
  EXPECT_TRUE(IsServedDate(20220510, 20220510));
  EXPECT_FALSE(IsServedDate(20220511, 20220510));
  EXPECT_FALSE(IsServedDate(20220507, 20220510));  // Saturday
  EXPECT_FALSE(IsServedDate(20220501, 20220510));  // Sunday
  EXPECT_FALSE(IsServedDate(20220429, 20220510));
  EXPECT_FALSE(IsServedDate(20220532, 20220610));
  EXPECT_EQ(DayArchiveName(20220505), "20220505.zip");
}

}  // namespace
}  // namespace marbloom::sample
