// Range delete and batch modify: selection, per-file edits, walk messages.
#include <gtest/gtest.h>

#include <cmath>

#include "daily_test_util.h"

namespace marbloom::test {
namespace {

class DailyRangeEditTest : public DailyTreeTest {};

TEST_F(DailyRangeEditTest, PatternSelectsMarketsAndCodes) {
  for (int market = 0; market < 3; ++market) {
    WriteDaily(market, "000001", {Rec(20220505)});
    WriteDaily(market, "000002", {Rec(20220505)});
  }
  engine.DeleteDailyRange(20220501, 20220531, "??000001");
  for (int market = 0; market < 3; ++market) {
    EXPECT_FALSE(PathExists(DailyFilePath(market, "000001")));
    EXPECT_TRUE(PathExists(DailyFilePath(market, "000002")));
  }
  engine.DeleteDailyRange(20220501, 20220531, "Sz??????");
  EXPECT_FALSE(PathExists(DailyFilePath(0, "000002")));
  EXPECT_TRUE(PathExists(DailyFilePath(1, "000002")));
  EXPECT_EQ(test::StatusText(), "删除日线完成!");
}

TEST_F(DailyRangeEditTest, NothingSelectedReportsMissingData) {
  WriteDaily(0, "000001", {Rec(20220505)});
  WriteFileBytes(DailyFilePath(1, "600000"), {});  // empty files do not count
  for (const char* pattern : {"sj000001", "sh??????"}) {
    engine.DeleteDailyRange(20220501, 20220531, pattern);
    EXPECT_EQ(test::StatusText(), "路径不存在或无日线数据!");
  }
  EXPECT_EQ(CountOccurrences(LogText(), "路径不存在或无日线数据!"), 2);
}

TEST_F(DailyRangeEditTest, DeleteKeepsRecordsOutsideRangeAndDropsZeroDates) {
  const std::string path = DailyFilePath(0, "000001");
  WriteDaily(0, "000001", {Rec(20220503), Rec(0), Rec(20220505), Rec(20220506), Rec(20220509)});
  engine.DeleteDailyRecords(0, "000001", 20220505, 20220506);
  EXPECT_EQ(ReadFileBytes(path), Bytes({Rec(20220503), Rec(20220509)}));
}

TEST_F(DailyRangeEditTest, DeleteOfNothingLeavesFileAndOfEverythingRemovesIt) {
  const std::string path = DailyFilePath(0, "000001");
  WriteDaily(0, "000001", {Rec(20220503), Rec(20220504)});
  engine.DeleteDailyRecords(0, "000001", 20220601, 20220630);
  EXPECT_EQ(ReadFileBytes(path), Bytes({Rec(20220503), Rec(20220504)}));
  engine.DeleteDailyRecords(0, "000001", 20220503, 20220504);
  EXPECT_FALSE(PathExists(path));
}

TEST_F(DailyRangeEditTest, FilesOfBadLengthAreLeftAlone) {
  const std::string path = DailyFilePath(0, "000001");
  std::vector<uint8_t> hundred(100, 0);
  WriteFileBytes(path, hundred);
  engine.DeleteDailyRecords(0, "000001", 0, 0xFFFFFFFFu);
  DailyFactors half{0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
  engine.ModifyDailyRecords(0, "000001", 0, 0xFFFFFFFFu, half);
  EXPECT_EQ(ReadFileBytes(path), hundred);
}

TEST_F(DailyRangeEditTest, ModifyScalesOnlyTheRangeWithTheRoundingAddend) {
  const std::string path = DailyFilePath(0, "000001");
  DailyRecord in = Rec(20220505, 1001);
  in.open = 1000;
  in.volume = 1000;
  in.amount = 3.0f;
  in.word28 = 0xBEEF;
  in.word30 = 0xC364;
  WriteDaily(0, "000001", {Rec(20220504), in, Rec(20220506)});
  engine.ModifyDailyRecords(0, "000001", 20220505, 20220505, DailyFactors{0.5f, 1, 1, 0.5f, 1.1f, 0.5f});
  std::vector<DailyRecord> out = Records(ReadFileBytes(path));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[1].close, 501);   // 500.5 + 0.503
  EXPECT_EQ(out[1].open, 500);    // 500 + 0.503
  EXPECT_EQ(out[1].high, in.high);
  EXPECT_EQ(out[1].volume, 1100u);
  EXPECT_EQ(out[1].amount, 1.5f);
  EXPECT_EQ(out[1].word28, 0xBEEF);
  EXPECT_EQ(out[1].word30, 0xC364);
  EXPECT_EQ(Bytes({out[0], out[2]}), Bytes({Rec(20220504), Rec(20220506)}));
}

TEST_F(DailyRangeEditTest, ModifyWithUnitFactorsChangesNoPositiveValue) {
  const std::string path = DailyFilePath(0, "000001");
  WriteDaily(0, "000001", {Rec(20220505, 123456), Rec(20220506, 7)});
  const std::vector<uint8_t> before = ReadFileBytes(path);
  engine.ModifyDailyRange(20220501, 20220531, DailyFactors{}, "sz000001");
  EXPECT_EQ(ReadFileBytes(path), before);
  EXPECT_EQ(test::StatusText(), "批量修改日线完成!");
}

TEST_F(DailyRangeEditTest, ModifyOfExtremeValuesSaturates) {
  DailyRecord r = Rec(20220505, 2000000000);
  r.volume = 4000000000u;
  r.amount = 3e38f;
  WriteDaily(0, "000001", {r});
  engine.ModifyDailyRecords(0, "000001", 20220505, 20220505, DailyFactors{1, 1, 1, 10, 10, 10});
  DailyRecord out = Records(ReadFileBytes(DailyFilePath(0, "000001")))[0];
  EXPECT_EQ(out.close, INT32_MAX);
  EXPECT_EQ(out.volume, UINT32_MAX);
  EXPECT_TRUE(std::isinf(out.amount));
}

TEST_F(DailyRangeEditTest, CancelInFirstMarketLeavesOthersUntouchedAndLogsOnce) {
  for (int market = 0; market < 3; ++market) {
    WriteDaily(market, "000001", {Rec(20220505)});
    WriteDaily(market, "000002", {Rec(20220505)});
  }
  test::OnStatus([this](const std::string& line) {
    if (line == "正在删除sz000001日线") engine.Cancel();
  });
  engine.DeleteDailyRange(20220505, 20220505, "????????");
  EXPECT_FALSE(PathExists(DailyFilePath(0, "000001")));
  EXPECT_TRUE(PathExists(DailyFilePath(0, "000002")));
  EXPECT_TRUE(PathExists(DailyFilePath(1, "000001")));
  EXPECT_EQ(test::StatusText(), "本次删除日线操作被取消!");
  EXPECT_EQ(CountOccurrences(LogText(), "本次删除日线操作被取消!"), 1);
}

TEST_F(DailyRangeEditTest, ProgressRisesEvenlyAcrossMarkets) {
  for (int market = 0; market < 3; ++market) WriteDaily(market, "000001", {Rec(20220505)});
  std::vector<double> seen;
  test::OnStatus([&](const std::string& line) {
    if (line.rfind("正在修改", 0) == 0) seen.push_back(test::ProgressFraction());
  });
  engine.ModifyDailyRange(20220505, 20220505, DailyFactors{}, "????????");
  // Each file's message comes before its progress step.
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_DOUBLE_EQ(test::ProgressFraction(), 2.0 / 3.0);
}

}  // namespace
}  // namespace marbloom::test
