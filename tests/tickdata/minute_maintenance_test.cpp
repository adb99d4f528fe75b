// Range delete and batch modify of minute files, bar by bar in place.
#include <gtest/gtest.h>

#include "support/fault_file_system.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/file_helpers.h"
#include "common/shared_state.h"
#include "tickdata/minute_engine.h"
#include "tickdata/minute_files.h"
#include "tickdata/minute_test_support.h"

namespace marbloom {
namespace {

using test::DayDates;
using test::MakeDays;
using test::PathExists;
using test::ReadBars;
using test::ReadRunLog;
using test::StatusRecorder;
using test::WriteBars;

constexpr int kOne = kOneMinuteBarsPerDay;
constexpr int kFive = kFiveMinuteBarsPerDay;
const std::vector<int> kDates{20240311, 20240312, 20240313, 20240314};

class MinuteMaintenance : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int market = 0; market < 3; ++market)
      for (MinuteKind kind : {MinuteKind::kOneMinute, MinuteKind::kFiveMinute})
        MakeDirTree(layout.Files(), MinuteDirectory(layout, kind, market), 0);
  }
  // Files of four days under the given market and code.
  std::string Put(MinuteKind kind, int market, const std::string& code) {
    std::string path = MinuteFilePath(layout, kind, market, code);
    WriteBars(path, MakeDays(kDates, KindInfo(kind).barsPerDay));
    return path;
  }
  // One 5-minute day of bars whose fields are `bar`, dated `date`.
  std::string PutFive(int market, const char* code, int date, const MinuteBar& bar) {
    std::vector<MinuteBar> bars(kFive, bar);
    for (MinuteBar& b : bars) b.packedDate = PackMinuteDate(date);
    const std::string path = MinuteFilePath(layout, MinuteKind::kFiveMinute, market, code);
    WriteBars(path, bars);
    return path;
  }

  test::TestTree tree;
  DataLayout layout = tree.layout();
  MinuteEngine engine{layout, MinuteOptions{}};
};

TEST_F(MinuteMaintenance, DeleteDropsTheBarsOfTheRangeAndCutsTheFile) {
  std::string path = Put(MinuteKind::kOneMinute, 0, "000001");
  engine.DeleteOneMinuteRange(20240312, 20240313);
  auto bars = ReadBars(path);
  EXPECT_EQ(bars.size(), 2u * kOne);
  EXPECT_EQ(DayDates(bars, kOne), (std::vector<int>{20240311, 20240314}));
  EXPECT_EQ(test::StatusText(), "分钟数据删除完成!");
}

// A file is replaced whole through a temporary: when that fails, delete and
// scale leave the old bytes and count the file as failed.
TEST_F(MinuteMaintenance, AFailedReplacementLeavesTheOldFile) {
  const std::string path = Put(MinuteKind::kOneMinute, 0, "000001");
  const auto old = test::ReadFileBytes(path);
  test::FaultFileSystem faults;
  faults.FailRenames(path);
  MinuteEngine failing(layout.WithFiles(faults), MinuteOptions{});
  EXPECT_EQ(failing.DeleteOneMinuteRange(20240312, 20240313).failedItems, 1);
  EXPECT_EQ(failing.ModifyMinuteRange(20240311, 20240314, MinuteFactors{2, 2, 2, 2, 2, 2}, "sz000001").failedItems, 1);
  EXPECT_EQ(test::ReadFileBytes(path), old);
}

TEST_F(MinuteMaintenance, AFileClaimingMoreThanMemoryHoldsIsLeftAlone) {
  // A damaged file of 1 TB (sparse): every operation skips it without
  // allocating its size, and it keeps its length.
  std::string path = Put(MinuteKind::kOneMinute, 0, "000001");
  const int64_t huge = int64_t{1} << 40;
  ASSERT_EQ(::truncate(path.c_str(), huge), 0);
  // Each run fails, and its last line does not claim completion.
  EXPECT_EQ(engine.DeleteOneMinuteRange(20240301, 20240331).outcome, Outcome::kFailed);
  EXPECT_EQ(test::StatusText().find("完成!"), std::string::npos) << test::StatusText();
  EXPECT_EQ(engine.ModifyMinuteRange(20240301, 20240331, MinuteFactors{2, 2, 2, 2, 2, 2}, "sz000001").outcome,
            Outcome::kFailed);
  EXPECT_EQ(test::StatusText().find("完成!"), std::string::npos) << test::StatusText();
  std::vector<MinuteBar> bars;
  EXPECT_EQ(ReadAllMinuteBars(RealFileSystem(), path, KindInfo(MinuteKind::kOneMinute), &bars), TailRead::kDamaged);
  EXPECT_TRUE(bars.empty());
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, huge);
}

TEST_F(MinuteMaintenance, DeleteCoveringEveryBarRemovesTheFile) {
  std::string path = Put(MinuteKind::kFiveMinute, 1, "600000");
  engine.DeleteFiveMinuteRange(20240301, 20240331);
  EXPECT_FALSE(test::PathExists(path));
  EXPECT_EQ(test::StatusText(), "五分钟数据删除完成!");
}

TEST_F(MinuteMaintenance, DeleteTouchingNoBarDoesNotWriteTheFile) {
  std::string path = Put(MinuteKind::kOneMinute, 0, "000001");
  auto before = test::ReadFileBytes(path);
  const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
  engine.DeleteOneMinuteRange(20240401, 20240430);
  EXPECT_EQ(test::ReadFileBytes(path), before);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);  // not even rewritten with the same bytes
}

TEST_F(MinuteMaintenance, FileThatIsNotWholeBarsIsLeftAlone) {
  std::string path = MinuteFilePath(layout, MinuteKind::kOneMinute, 0, "000002");
  auto bytes = test::ReadFileBytes(Put(MinuteKind::kOneMinute, 0, "000002"));
  bytes.pop_back();
  test::WriteFileBytes(path, bytes);
  engine.DeleteOneMinuteRange(20240301, 20240331);
  EXPECT_EQ(test::ReadFileBytes(path), bytes);
  MinuteFactors half{0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
  engine.ModifyMinuteRange(20240301, 20240331, half, "sz000002");
  EXPECT_EQ(test::ReadFileBytes(path), bytes);
}

TEST_F(MinuteMaintenance, DeleteWithoutFilesSaysSoForEachKind) {
  StatusRecorder recorder;
  EXPECT_EQ(engine.DeleteOneMinuteRange(20240301, 20240331).outcome, Outcome::kNothingToDo);
  EXPECT_EQ(engine.DeleteFiveMinuteRange(20240301, 20240331).outcome, Outcome::kNothingToDo);
  EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"路径不存在或无1分钟数据!", "路径不存在或无五分钟数据!"}));
}

TEST_F(MinuteMaintenance, OnlyFilesOfTheFoldersMarketAreVisited) {
  // sh600000.01 under the sz folder is not an sz security's file: it is not
  // visited, and sz600000.01 is.
  std::string stray = MinuteDirectory(layout, MinuteKind::kOneMinute, 0) + "sh600000.01";
  WriteBars(stray, MakeDays(kDates, kOne));
  std::string target = Put(MinuteKind::kOneMinute, 0, "600000");
  StatusRecorder recorder;
  engine.DeleteOneMinuteRange(20240311, 20240311);
  EXPECT_TRUE(recorder.Saw("正在删除sz600000分钟线"));
  EXPECT_FALSE(recorder.Saw("正在删除sh600000分钟线"));
  EXPECT_EQ(ReadBars(target).size(), 3u * kOne);
  EXPECT_EQ(ReadBars(stray).size(), 4u * kOne);
}

TEST_F(MinuteMaintenance, CancelledFirstDeleteLetsTheSecondHandleOneFile) {
  std::string one[2] = {Put(MinuteKind::kOneMinute, 0, "000001"), Put(MinuteKind::kOneMinute, 0, "000002")};
  std::string five[2] = {Put(MinuteKind::kFiveMinute, 0, "000001"), Put(MinuteKind::kFiveMinute, 0, "000002")};
  StatusRecorder recorder;
  engine.Cancel();
  EXPECT_EQ(engine.DeleteOneMinuteRange(20240311, 20240311).outcome, Outcome::kCancelled);
  EXPECT_EQ(engine.DeleteFiveMinuteRange(20240311, 20240311).outcome, Outcome::kCancelled);
  EXPECT_EQ(ReadBars(one[0]).size(), 3u * kOne);
  EXPECT_EQ(ReadBars(one[1]).size(), 4u * kOne);
  EXPECT_EQ(ReadBars(five[0]).size(), 3u * kFive);
  EXPECT_EQ(ReadBars(five[1]).size(), 4u * kFive);
  EXPECT_TRUE(recorder.Saw("分钟数据删除操作被取消!"));
  EXPECT_EQ(test::StatusText(), "五分钟数据删除被取消!");
  EXPECT_NE(test::ReadRunLog().find("五分钟数据删除被取消!"), std::string::npos);
}

TEST_F(MinuteMaintenance, DeleteProgressCountsEveryMarket) {
  Put(MinuteKind::kOneMinute, 0, "000001");
  Put(MinuteKind::kOneMinute, 1, "600000");
  Put(MinuteKind::kOneMinute, 2, "430001");
  Put(MinuteKind::kOneMinute, 2, "430002");
  engine.Cancel();
  engine.DeleteOneMinuteRange(20240311, 20240311);
  EXPECT_DOUBLE_EQ(test::ProgressFraction(), 0.0);
  engine.Reset();
  engine.DeleteOneMinuteRange(20240312, 20240312);
  EXPECT_DOUBLE_EQ(test::ProgressFraction(), 0.75);
}

struct ModifyCase {
  int32_t value;
  float factor;
  int32_t expected;
};

class MinuteModifyPrice : public MinuteMaintenance, public ::testing::WithParamInterface<ModifyCase> {};

TEST_P(MinuteModifyPrice, ScalesEveryPriceOfTheRange) {
  const ModifyCase& c = GetParam();
  std::string path = MinuteFilePath(layout, MinuteKind::kOneMinute, 0, "000001");
  auto bars = MakeDays({20240311}, kOne);
  for (MinuteBar& bar : bars) bar.open = bar.high = bar.low = bar.close = c.value;
  WriteBars(path, bars);
  engine.ModifyMinuteRange(20240311, 20240311, MinuteFactors{c.factor, c.factor, c.factor, c.factor, 1, 1},
                           "sz000001");
  auto after = ReadBars(path);
  EXPECT_EQ(after[7].open, c.expected);
  EXPECT_EQ(after[7].high, c.expected);
  EXPECT_EQ(after[7].low, c.expected);
  EXPECT_EQ(after[7].close, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Factors, MinuteModifyPrice,
                         ::testing::Values(ModifyCase{1000, 0.5f, 500}, ModifyCase{1000, 0.9995f, 1000},
                                           ModifyCase{1234, 1.0f, 1234}, ModifyCase{2000000000, 2.0f, INT32_MAX},
                                           ModifyCase{-1000, 1.0f, -999},
                                           ModifyCase{999, 0.5f, 500},  // 499.5 + 0.503
                                           ModifyCase{994, 0.5f, 497},  // 497.0 + 0.503
                                           ModifyCase{0, 3.0f, 0}, ModifyCase{1, 0.4f, 0}, ModifyCase{3, 0.5f, 2}));

TEST_F(MinuteMaintenance, ModifyScalesVolumeAsUnsignedAndAmountUnrounded) {
  std::string path = MinuteFilePath(layout, MinuteKind::kFiveMinute, 0, "000001");
  auto bars = MakeDays({20240311, 20240312}, kFive);
  for (MinuteBar& bar : bars) bar.volume = -2, bar.amount = 3.0f;  // -2 is 4294967294 shares
  bars[0].volume = 1001;
  WriteBars(path, bars);
  engine.ModifyMinuteRange(20240311, 20240311, MinuteFactors{1, 1, 1, 1, 0.5f, 0.1f}, "sz000001");
  auto after = ReadBars(path);
  EXPECT_EQ(after[0].volume, 501);
  EXPECT_EQ(static_cast<uint32_t>(after[1].volume), 2147483647u);
  EXPECT_EQ(after[1].amount, 3.0f * 0.1f);
  EXPECT_EQ(after[kFive].volume, -2);  // the next day is outside the range
  EXPECT_EQ(after[kFive].amount, 3.0f);
  EXPECT_EQ(test::StatusText(), "批量修改分钟线完成!");
}

TEST_F(MinuteMaintenance, PatternSelectsMarketsAndCodes) {
  std::string sz = Put(MinuteKind::kOneMinute, 0, "000001");
  std::string sh = Put(MinuteKind::kOneMinute, 1, "000001");
  std::string bj = Put(MinuteKind::kOneMinute, 2, "000001");
  std::string sh2 = Put(MinuteKind::kOneMinute, 1, "600000");
  MinuteFactors twice{2, 2, 2, 2, 2, 2};
  engine.ModifyMinuteRange(20240311, 20240314, twice, "??000001");
  EXPECT_EQ(ReadBars(sz)[0].close, 2000);
  EXPECT_EQ(ReadBars(sh)[0].close, 2000);
  EXPECT_EQ(ReadBars(bj)[0].close, 2000);
  EXPECT_EQ(ReadBars(sh2)[0].close, 1000);
  engine.ModifyMinuteRange(20240311, 20240314, twice, "sh??????");
  EXPECT_EQ(ReadBars(sz)[0].close, 2000);
  EXPECT_EQ(ReadBars(sh)[0].close, 4000);
  EXPECT_EQ(ReadBars(sh2)[0].close, 2000);
}

// Only exact names are visited: a copy beside a security's file is never
// scaled, and a pattern matching both names scales the file once.
TEST_F(MinuteMaintenance, ScaleVisitsExactNamesOnly) {
  const std::string real = Put(MinuteKind::kOneMinute, 0, "000001");
  const std::string copy = MinuteDirectory(layout, MinuteKind::kOneMinute, 0) + "sz000001_old.01";
  WriteBars(copy, MakeDays(kDates, kOne));
  EXPECT_TRUE(engine.ModifyMinuteRange(20240311, 20240314, MinuteFactors{2, 2, 2, 2, 2, 2}, "sz00000*").done());
  EXPECT_EQ(ReadBars(real)[0].close, 2000);
  EXPECT_EQ(ReadBars(copy)[0].close, 1000);
}

TEST_F(MinuteMaintenance, ModifyRunsTheFiveMinutePassFirst) {
  Put(MinuteKind::kOneMinute, 0, "000001");
  Put(MinuteKind::kFiveMinute, 0, "000001");
  StatusRecorder recorder;
  engine.ModifyMinuteRange(20240311, 20240311, MinuteFactors{}, "sz000001");
  EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"正在修改sz000001的5分钟线", "正在修改sz000001的1分钟线",
                                                      "批量修改分钟线完成!"}));
}

TEST_F(MinuteMaintenance, ModifyWithNoMatchingMarketLogsBothMissingMessages) {
  Put(MinuteKind::kOneMinute, 0, "000001");
  engine.ModifyMinuteRange(20240311, 20240311, MinuteFactors{}, "xx000001");
  std::string log = test::ReadRunLog();
  EXPECT_NE(log.find("5分钟路径不存在或无数据!"), std::string::npos);
  EXPECT_NE(log.find("   分钟路径不存在或无数据!"), std::string::npos);
  EXPECT_EQ(test::StatusText(), "批量修改分钟线完成!");
}

TEST_F(MinuteMaintenance, CancelledModifySkipsTheOneMinutePass) {
  std::string one = Put(MinuteKind::kOneMinute, 0, "000001");
  std::string five = Put(MinuteKind::kFiveMinute, 0, "000001");
  engine.Cancel();
  EXPECT_EQ(engine.ModifyMinuteRange(20240311, 20240311, MinuteFactors{2, 2, 2, 2, 2, 2}, "sz??????").outcome,
            Outcome::kCancelled);
  EXPECT_EQ(ReadBars(five)[0].close, 2000);
  EXPECT_EQ(ReadBars(one)[0].close, 1000);
  EXPECT_EQ(test::StatusText(), "本次批量修改分钟线操作被取消!");
}

TEST_F(MinuteMaintenance, VolumeIsUnsignedAndAmountIsAPlainFloatProduct) {
  MinuteBar bar{};
  bar.close = 100;
  bar.volume = static_cast<int32_t>(3000000000u);  // negative as int32
  bar.amount = 3.0f;
  const std::string path = PutFive(0, "000001", 20240108, bar);
  MinuteFactors f;
  f.volume = 1.25f;
  f.amount = 0.1f;
  engine.ModifyMinuteRange(20240108, 20240108, f, "sz000001");
  const MinuteBar after = ReadBars(path).front();
  EXPECT_EQ(static_cast<uint32_t>(after.volume), 3750000000u);
  EXPECT_EQ(after.amount, 3.0f * 0.1f);
  EXPECT_EQ(after.close, 100);
}

TEST_F(MinuteMaintenance, OnlyBarsOfTheRangeChangeAndFactorsGoToTheirFields) {
  MinuteBar bar{};
  bar.open = 1000, bar.high = 2000, bar.low = 3000, bar.close = 4000, bar.volume = 5000, bar.amount = 6000;
  std::vector<MinuteBar> bars;
  for (int date : {20240105, 20240108, 20240109, 20240110})
    for (int i = 0; i < kOne; ++i) {
      bars.push_back(bar);
      bars.back().packedDate = PackMinuteDate(date);
    }
  const std::string path = MinuteFilePath(layout, MinuteKind::kOneMinute, 1, "600000");
  WriteBars(path, bars);
  engine.ModifyMinuteRange(20240108, 20240109, MinuteFactors{2, 3, 4, 5, 6, 7}, "Sh600000");
  const std::vector<MinuteBar> after = ReadBars(path);
  ASSERT_EQ(after.size(), bars.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    const bool inRange = i >= kOne && i < 3 * kOne;
    EXPECT_EQ(after[i].open, inRange ? 2000 : 1000) << i;
    EXPECT_EQ(after[i].high, inRange ? 6000 : 2000) << i;
    EXPECT_EQ(after[i].low, inRange ? 12000 : 3000) << i;
    EXPECT_EQ(after[i].close, inRange ? 20000 : 4000) << i;
    EXPECT_EQ(after[i].volume, inRange ? 30000 : 5000) << i;
    EXPECT_EQ(after[i].amount, inRange ? 42000.0f : 6000.0f) << i;
    EXPECT_EQ(after[i].packedDate, bars[i].packedDate);
  }
}

TEST_F(MinuteMaintenance, MarketLettersAreMatchedInEitherCaseOrByQuestionMarks) {
  MinuteBar bar{};
  bar.close = 1000;
  const std::string sz = PutFive(0, "000001", 20240108, bar);
  const std::string sh = PutFive(1, "000001", 20240108, bar);
  const std::string bj = PutFive(2, "000001", 20240108, bar);
  MinuteFactors twice{2, 2, 2, 2, 2, 2};
  engine.ModifyMinuteRange(20240108, 20240108, twice, "?H000001");
  engine.ModifyMinuteRange(20240108, 20240108, twice, "bJ000001");
  engine.ModifyMinuteRange(20240108, 20240108, twice, "?z00000?");
  EXPECT_EQ(ReadBars(sz).front().close, 2000);
  EXPECT_EQ(ReadBars(sh).front().close, 2000);
  EXPECT_EQ(ReadBars(bj).front().close, 2000);
}

TEST_F(MinuteMaintenance, MessagesOfBothPassesAndTheEnd) {
  MinuteBar bar{};
  PutFive(0, "000001", 20240108, bar);
  StatusRecorder recorder;
  EXPECT_TRUE(engine.ModifyMinuteRange(20240108, 20240108, MinuteFactors{}, "sz??????").done());
  EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"正在修改sz000001的5分钟线", "分钟路径不存在或无数据!",
                                                      "批量修改分钟线完成!"}));
  const std::string log = ReadRunLog();
  EXPECT_NE(log.find("分钟路径不存在或无数据!"), std::string::npos);
  EXPECT_EQ(log.find("批量修改分钟线完成!"), std::string::npos);  // shown, not logged
}

TEST_F(MinuteMaintenance, FiveMinuteDeleteNamesEachFileAndEnds) {
  MinuteBar bar{};
  const std::string a = PutFive(0, "000001", 20240108, bar);
  const std::string b = PutFive(1, "600000", 20240109, bar);
  StatusRecorder recorder;
  EXPECT_TRUE(engine.DeleteFiveMinuteRange(20240108, 20240108).done());
  EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"正在删除sz000001的五分钟线", "正在删除sh600000的五分钟线",
                                                      "五分钟数据删除完成!"}));
  EXPECT_FALSE(PathExists(a));
  EXPECT_EQ(ReadBars(b).size(), static_cast<std::size_t>(kFive));
  EXPECT_NE(ReadRunLog().find("五分钟数据删除完成!"), std::string::npos);
}

TEST_F(MinuteMaintenance, DeleteKeepsBarsOutsideTheRangeInTheirOrder) {
  std::vector<MinuteBar> bars;
  for (int date : {20240105, 20240108, 20240109, 20240110}) {
    MinuteBar bar{};
    bar.packedDate = PackMinuteDate(date);
    bar.close = date % 100;
    bars.push_back(bar);
  }
  const std::string path = MinuteFilePath(layout, MinuteKind::kOneMinute, 0, "000001");
  WriteBars(path, bars);
  engine.DeleteOneMinuteRange(20240108, 20240109);
  const std::vector<MinuteBar> after = ReadBars(path);
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].close, 5);
  EXPECT_EQ(after[1].close, 10);
}

}  // namespace
}  // namespace marbloom
