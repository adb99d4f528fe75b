// Range delete: selection, the edit of one file, walk messages.
#include <gtest/gtest.h>

#include <cmath>

#include "daily/daily_range_delete.h"
#include "daily_test_util.h"

namespace marbloom::test {
namespace {

class DailyRangeDeleteTest : public DailyTreeTest {
 protected:
  DailyRangeDelete engine{layout};
};

TEST_F(DailyRangeDeleteTest, PatternSelectsMarketsAndCodes) {
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

TEST_F(DailyRangeDeleteTest, NothingSelectedReportsMissingData) {
  WriteDaily(0, "000001", {Rec(20220505)});
  WriteFileBytes(DailyFilePath(1, "600000"), {});  // empty files do not count
  for (const char* pattern : {"sj000001", "sh??????"}) {
    engine.DeleteDailyRange(20220501, 20220531, pattern);
    EXPECT_EQ(test::StatusText(), "路径不存在或无日线数据!");
  }
  EXPECT_EQ(CountOccurrences(LogText(), "路径不存在或无日线数据!"), 2);
}

TEST_F(DailyRangeDeleteTest, DeleteKeepsRecordsOutsideRangeAndDropsZeroDates) {
  const std::string path = DailyFilePath(0, "000001");
  WriteDaily(0, "000001", {Rec(20220503), Rec(0), Rec(20220505), Rec(20220506), Rec(20220509)});
  engine.DeleteDailyRecords(0, "000001", 20220505, 20220506);
  EXPECT_EQ(ReadFileBytes(path), Bytes({Rec(20220503), Rec(20220509)}));
}

TEST_F(DailyRangeDeleteTest, DeleteOfNothingLeavesFileAndOfEverythingRemovesIt) {
  const std::string path = DailyFilePath(0, "000001");
  WriteDaily(0, "000001", {Rec(20220503), Rec(20220504)});
  engine.DeleteDailyRecords(0, "000001", 20220601, 20220630);
  EXPECT_EQ(ReadFileBytes(path), Bytes({Rec(20220503), Rec(20220504)}));
  engine.DeleteDailyRecords(0, "000001", 20220503, 20220504);
  EXPECT_FALSE(PathExists(path));
}

TEST_F(DailyRangeDeleteTest, FileOfBadLengthIsLeftAlone) {
  const std::string path = DailyFilePath(0, "000001");
  std::vector<uint8_t> hundred(100, 0);
  WriteFileBytes(path, hundred);
  engine.DeleteDailyRecords(0, "000001", 0, 0xFFFFFFFFu);
  EXPECT_EQ(ReadFileBytes(path), hundred);
}

TEST_F(DailyRangeDeleteTest, CancelInFirstMarketLeavesOthersUntouchedAndLogsOnce) {
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

}  // namespace
}  // namespace marbloom::test
