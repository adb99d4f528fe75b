// Extract and write-back of one record.
#include <gtest/gtest.h>

#include <unistd.h>

#include "daily/daily_single_edit.h"
#include "daily_test_util.h"

namespace marbloom::test {
namespace {

class DailySingleEditTest : public DailyTreeTest {
 protected:
  DailySingleEdit engine{layout};
  DailyEditFields fields;
};

TEST_F(DailySingleEditTest, ExtractOfIndexShowsCountsAndOfStockShowsZero) {
  DailyRecord index = Rec(20220505);
  index.word28 = 1500;
  index.word30 = 700;
  WriteDaily(0, "399001", {index});
  DailyRecord stock = Rec(20220505);
  stock.volume = 3000000000u;
  stock.word28 = 5;
  stock.word30 = 0xC364;
  WriteDaily(0, "000001", {stock});
  ASSERT_EQ(engine.ExtractDailyFields("sz399001", 20220505, &fields).outcome, Outcome::kDone);
  EXPECT_EQ(fields.advancing, 1500);
  EXPECT_EQ(fields.declining, 700);
  ASSERT_EQ(engine.ExtractDailyFields("SZ000001", 20220505, &fields).outcome, Outcome::kDone);
  EXPECT_EQ(fields.advancing, 0);
  EXPECT_EQ(fields.declining, 0);
  EXPECT_EQ(fields.volume, 3000000000.0);
  EXPECT_EQ(fields.close, 1000);
  EXPECT_EQ(fields.amount, 12345.5);
  EXPECT_EQ(test::StatusText(), "个股日线提取成功!");
}

TEST_F(DailySingleEditTest, ExtractRefusesBjCodesAndReportsMissingRecords) {
  EXPECT_EQ(engine.ExtractDailyFields("bj830001", 20220505, &fields).outcome, Outcome::kInvalid);
  EXPECT_EQ(test::StatusText(), "代码格式不规范!");
  EXPECT_EQ(engine.ExtractDailyFields(" sz000001", 20220505, &fields).outcome, Outcome::kInvalid);
  EXPECT_EQ(test::StatusText(), "代码格式不规范!");
  EXPECT_EQ(engine.ExtractDailyFields("sz000001", 20220505, &fields).outcome, Outcome::kNothingToDo);
  EXPECT_EQ(test::StatusText(), "无指定个股日线!");
  DailySingleEdit notReady(layout, false);
  EXPECT_EQ(notReady.ExtractDailyFields("sz000001", 20220505, &fields).outcome, Outcome::kInvalid);
  EXPECT_EQ(test::StatusText(), kDataGuardMessage);
}

TEST_F(DailySingleEditTest, WriteBackTruncatesAndZeroesTheLastFourBytes) {
  DailyRecord converted = Rec(20220505);  // multiplier byte 1
  WriteDaily(2, "830001", {Rec(20220503), converted});
  fields = DailyEditFields{12.7, 20, 10, -3.9, 3000000000.0, 1.5, 70000, 9};
  ASSERT_EQ(engine.WriteBackDailyFields("BJ830001", 20220505, fields).outcome, Outcome::kDone);
  std::vector<DailyRecord> out = Records(ReadFileBytes(DailyFilePath(2, "830001")));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].open, 12);
  EXPECT_EQ(out[1].close, -3);
  EXPECT_EQ(out[1].volume, 3000000000u);
  EXPECT_EQ(out[1].amount, 1.5f);
  EXPECT_EQ(out[1].word28, 0);
  EXPECT_EQ(out[1].word30, 0);
  EXPECT_EQ(test::StatusText(), "个股日线修改处理完毕!");
  EXPECT_NE(LogText().find("个股日线修改处理完毕!"), std::string::npos);
}

TEST_F(DailySingleEditTest, WriteBackOfIndexWrapsCountsToSixteenBits) {
  fields.advancing = 70000;
  fields.declining = 12;
  ASSERT_EQ(engine.WriteBackDailyFields("sh000001", 20220505, fields).outcome, Outcome::kDone);
  std::vector<DailyRecord> out = Records(ReadFileBytes(DailyFilePath(1, "000001")));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].word28, 4464);
  EXPECT_EQ(out[0].word30, 12);
}

TEST_F(DailySingleEditTest, WriteBackInsertsInDateOrder) {
  WriteDaily(0, "000001", {Rec(20220503), Rec(20220506)});
  ASSERT_EQ(engine.WriteBackDailyFields("sz000001", 20220505, fields).outcome, Outcome::kDone);
  EXPECT_EQ(Dates(DailyFilePath(0, "000001")), (std::vector<uint32_t>{20220503, 20220505, 20220506}));
}

TEST_F(DailySingleEditTest, WriteBackRejectsMalformedCodes) {
  for (const char* code : {"sz00001", "sz0000011", "sa000001", "sz00000x", "sz?00001"}) {
    EXPECT_EQ(engine.WriteBackDailyFields(code, 20220505, fields).outcome, Outcome::kInvalid) << code;
    EXPECT_EQ(test::StatusText(), "代码格式不规范!");
  }
}

TEST_F(DailySingleEditTest, FailedWriteIsNotReportedAsDone) {
  const std::string path = DailyFilePath(0, "000001");
  faults.NoSpaceAfter(0);
  EXPECT_EQ(DailySingleEdit(layout.WithFiles(faults)).WriteBackDailyFields("sz000001", 20220505, fields).outcome,
            Outcome::kFailed);
  EXPECT_EQ(test::StatusText(), "写入" + path + "文件失败!");
}

}  // namespace
}  // namespace marbloom::test
