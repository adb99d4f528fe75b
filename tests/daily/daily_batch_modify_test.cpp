// Batch modify: the scaling of one file, walk progress.
#include <gtest/gtest.h>

#include <cmath>

#include "daily/daily_batch_modify.h"
#include "daily_test_util.h"

namespace marbloom::test {
namespace {

class DailyBatchModifyTest : public DailyTreeTest {
 protected:
  DailyBatchModify engine{layout};
};

TEST_F(DailyBatchModifyTest, FileOfBadLengthIsLeftAlone) {
  const std::string path = DailyFilePath(0, "000001");
  std::vector<uint8_t> hundred(100, 0);
  WriteFileBytes(path, hundred);
  DailyFactors half{0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
  engine.ModifyDailyRecords(0, "000001", 0, 0xFFFFFFFFu, half);
  EXPECT_EQ(ReadFileBytes(path), hundred);
}

TEST_F(DailyBatchModifyTest, ModifyScalesOnlyTheRangeWithTheRoundingAddend) {
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

TEST_F(DailyBatchModifyTest, ModifyWithUnitFactorsChangesNoPositiveValue) {
  const std::string path = DailyFilePath(0, "000001");
  WriteDaily(0, "000001", {Rec(20220505, 123456), Rec(20220506, 7)});
  const std::vector<uint8_t> before = ReadFileBytes(path);
  engine.ModifyDailyRange(20220501, 20220531, DailyFactors{}, "sz000001");
  EXPECT_EQ(ReadFileBytes(path), before);
  EXPECT_EQ(test::StatusText(), "批量修改日线完成!");
}

TEST_F(DailyBatchModifyTest, ModifyOfExtremeValuesSaturates) {
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

TEST_F(DailyBatchModifyTest, ProgressRisesEvenlyAcrossMarkets) {
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
