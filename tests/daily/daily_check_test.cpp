// Check of the daily files.
#include <gtest/gtest.h>

#include "common/calendar.h"
#include "daily/daily_check.h"
#include "daily_test_util.h"

namespace marbloom::test {
namespace {

class DailyCheckTest : public DailyTreeTest {
 protected:
  DailyCheck engine{layout};
};

struct CheckCase {
  const char* name;
  std::vector<uint8_t> bytes;
  const char* message;  // empty: sound
};

class DailyCheckFileTest : public ::testing::TestWithParam<CheckCase> {};

std::vector<uint8_t> WithTail(std::vector<DailyRecord> records, std::size_t extra) {
  std::vector<uint8_t> bytes = Bytes(records);
  bytes.resize(bytes.size() + extra, 0);
  return bytes;
}

TEST_P(DailyCheckFileTest, ReportsTheFirstFaultOnly) {
  TestTree tree;
  DailyCheck engine(tree.layout());
  WriteFileBytes(tree.layout().DailyFile(0, "000001"), GetParam().bytes);
  const std::string expected = GetParam().message;
  EXPECT_EQ(engine.CheckDailyFile(0, "000001"), expected.empty());
  if (expected.empty()) {
    EXPECT_EQ(LogText(), "");
  } else {
    EXPECT_EQ(test::StatusText(), expected);
    EXPECT_EQ(CountOccurrences(LogText(), "000001"), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DailyCheckFileTest,
    ::testing::Values(
        CheckCase{"Sound", Bytes({Rec(20220505), Rec(20220506)}), ""},
        CheckCase{"RepeatedDate", Bytes({Rec(20220505), Rec(20220506), Rec(20220506)}),
                  "深圳000001,20220506后的日线日期为20220506,顺序紊乱!"},
        CheckCase{"FallingDate", Bytes({Rec(20220505), Rec(20220504)}),
                  "深圳000001,20220505后的日线日期为20220504,顺序紊乱!"},
        CheckCase{"LengthNamesThePrefix", WithTail({Rec(20220505)}, 1), "sz000001日线文件长度异常!"},
        CheckCase{"ShortFile", std::vector<uint8_t>(31, 1), "sz000001日线文件长度异常!"},
        CheckCase{"FirstDateZeroWinsOverDisorder", Bytes({Rec(0), Rec(20220506), Rec(20220505)}),
                  "深圳000001首个日线日期为0!"},
        CheckCase{"LaterDateZero", Bytes({Rec(20220505), Rec(0)}), "深圳000001,20220505后的日线日期为0!"},
        CheckCase{"DatesCompareUnsigned", Bytes({Rec(20220505), Rec(0x80000000u)}),
                  "深圳000001,20220505后的日线日期2147483648无效!"}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST_F(DailyCheckTest, MissingFileIsReportedWithPrefix) {
  EXPECT_FALSE(engine.CheckDailyFile(2, "830001"));
  EXPECT_EQ(test::StatusText(), "bj830001日线文件打开失败!");
}

TEST_F(DailyCheckTest, WholeTreeCountsBadFilesAndLogsEach) {
  WriteDaily(0, "000001", {Rec(20220505), Rec(20220506)});
  WriteDaily(0, "000002", {Rec(20220506), Rec(20220505)});
  WriteDaily(1, "600000", {Rec(0)});
  WriteDaily(2, "830001", {Rec(20220505)});
  EXPECT_EQ(engine.CheckDailyFiles().failedItems, 2);
  EXPECT_EQ(test::StatusText(), "检查日线完成!");
  const std::string log = LogText();
  EXPECT_NE(log.find("深圳000002,20220506后的日线日期为20220505,顺序紊乱!"), std::string::npos);
  EXPECT_NE(log.find("上海600000首个日线日期为0!"), std::string::npos);
}

// Rising dates of n records from 19000101 on, one calendar day per record.
std::vector<DailyRecord> Rising(std::size_t n) {
  std::vector<DailyRecord> records(n);
  const int first = DateToDayNumber(19000101);
  for (std::size_t i = 0; i < n; ++i)
    records[i] = Rec(static_cast<uint32_t>(DayNumberToDate(first + static_cast<int>(i))));
  return records;
}

// Large files are read in 1 MiB pieces (32,768 records): faults on either side
// of a piece boundary still name the date before them, also through the walk.
TEST_F(DailyCheckTest, FaultsAcrossPieceBoundariesNameThePreviousDate) {
  constexpr std::size_t kPiece = 32768;
  std::vector<DailyRecord> sound = Rising(3 * kPiece + 5);  // up to 2169: the clock is set after it
  engine.SetNow(std::time_t{8} << 30);
  WriteDaily(0, "000001", sound);
  EXPECT_TRUE(engine.CheckDailyFile(0, "000001"));

  for (std::size_t at : {kPiece - 1, kPiece, 2 * kPiece, 3 * kPiece + 4}) {
    std::vector<DailyRecord> records = sound;
    records[at].date = records[at - 1].date;
    WriteDaily(0, "000001", records);
    EXPECT_FALSE(engine.CheckDailyFile(0, "000001")) << at;
    const std::string date = std::to_string(records[at - 1].date);
    EXPECT_EQ(test::StatusText(), "深圳000001," + date + "后的日线日期为" + date + ",顺序紊乱!") << at;
  }
  std::vector<DailyRecord> zero = sound;
  zero[kPiece].date = 0;
  WriteDaily(1, "600000", zero);
  WriteDaily(2, "830001", sound);
  EXPECT_EQ(engine.CheckDailyFiles().failedItems, 2);
  EXPECT_NE(LogText().find("上海600000," + std::to_string(sound[kPiece - 1].date) + "后的日线日期为0!"),
            std::string::npos);
}

// A damaged file far larger than memory (sparse, so it costs no disk) is
// reported from its first piece instead of being read whole.
TEST_F(DailyCheckTest, HugeFileIsCheckedWithoutReadingItWhole) {
  const std::string path = DailyFilePath(0, "000001");
  WriteDaily(0, "000001", {Rec(20220505), Rec(20220506)});
  ASSERT_EQ(::truncate(path.c_str(), int64_t{1} << 40), 0);
  EXPECT_EQ(engine.CheckDailyFiles().failedItems, 1);
  EXPECT_NE(LogText().find("深圳000001,20220506后的日线日期为0!"), std::string::npos);
}

TEST_F(DailyCheckTest, OddFileNamesAreNotTakenForOtherCodes) {
  WriteDaily(0, "000001", {Rec(20220505)});
  WriteFileBytes(layout.DailyDir(0) + "sz000001_old.day", Bytes({Rec(20220506), Rec(20220505)}));
  EXPECT_EQ(engine.CheckDailyFiles().failedItems, 0);
  EXPECT_NE(LogText().find("sz000001_old.day不是日线文件名,已跳过!"), std::string::npos);
}

TEST_F(DailyCheckTest, EmptyTreeReportsMissingData) {
  EXPECT_EQ(engine.CheckDailyFiles().failedItems, 0);
  EXPECT_EQ(test::StatusText(), "路径不存在或无日线数据!");
}

TEST_F(DailyCheckTest, CancelReturnsBadFilesFoundSoFar) {
  WriteDaily(0, "000001", {Rec(0)});
  WriteDaily(0, "000002", {Rec(0)});
  test::OnStatus([this](const std::string& line) {
    if (line == "正在检查sz000001日线") engine.Cancel();
  });
  EXPECT_EQ(engine.CheckDailyFiles().failedItems, 1);
  EXPECT_EQ(test::StatusText(), "本次检查日线操作被取消!");
}

}  // namespace
}  // namespace marbloom::test
