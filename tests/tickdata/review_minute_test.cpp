// A second look at the minute lines from the outside: the builder's messages
// and file replacement in both modes, retention over files longer than the
// limit, and the batch modify's rounding.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/file_helpers.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "tickdata/minute_engine.h"
#include "tickdata/minute_test_support.h"

namespace marbloom::test {
namespace {

constexpr int kOne = kOneMinuteBarsPerDay;
constexpr int kFive = kFiveMinuteBarsPerDay;

// One trade a day at 10:00 whose price tells the date; `unreadable` days fail.
class ReviewMinuteBuild : public ::testing::Test {
 protected:
  ReviewMinuteBuild() {
    for (int market = 0; market < 3; ++market)
      for (MinuteKind kind : {MinuteKind::kOneMinute, MinuteKind::kFiveMinute})
        MakeDirTree(layout.Files(), MinuteDirectory(layout, kind, market), 0);
  }
  MinuteEngine::TickDaySource Source() {
    return [this](int, std::string_view, int date) -> std::optional<TickDay> {
      if (unreadable.count(date)) return std::nullopt;
      TickDay day;
      day.date = date;
      day.refPrice = 10.0;
      day.ticks = {Tick(10, 0, 0, PriceOf(date), 3)};
      return day;
    };
  }
  static int32_t PriceOf(int date) { return 100000 + (date % 10000) * 10; }
  std::string OnePath() { return MinuteFilePath(layout, MinuteKind::kOneMinute, 0, "000001"); }
  std::string FivePath() { return MinuteFilePath(layout, MinuteKind::kFiveMinute, 0, "000001"); }

  TestTree tree;
  DataLayout layout = tree.layout();
  std::set<int> unreadable;
  MinuteEngine engine{layout, MinuteOptions{50, 250, 1}, Source()};
};

TEST_F(ReviewMinuteBuild, EachSecurityIsAnnouncedWithItsMarketName) {
  for (const char* stem : {"bj430047", "sh600000", "sz000001"}) WriteTickIndex(layout, stem, {20240108});
  StatusRecorder recorder;
  EXPECT_TRUE(engine.BuildMinuteLines(20240108, 20240108).done());
  EXPECT_EQ(recorder.Lines(),
            (std::vector<std::string>{"创建转档索引表!", "正在转档北京430047分钟线", "正在转档上海600000分钟线",
                                      "正在转档深圳000001分钟线", "分钟数据转档完成!"}));
  EXPECT_NE(ReadRunLog().find("分钟数据转档完成!"), std::string::npos);
  EXPECT_TRUE(PathExists(MinuteFilePath(layout, MinuteKind::kFiveMinute, 2, "430047")));
  EXPECT_DOUBLE_EQ(test::ProgressFraction(), 2.0 / 3.0);
}

// In whole-store mode the old file is neither read nor kept, even when it is
// not a whole number of day blocks, and the retention limit does not apply.
TEST_F(ReviewMinuteBuild, WholeStoreReplacesADamagedFileWithEveryBuiltDay) {
  const std::vector<int> dates = Weekdays(20230102, 80);
  WriteTickIndex(layout, "sz000001", dates);
  std::vector<uint8_t> damaged(kOneMinuteBlockBytes + 5, 7);
  WriteFileBytes(OnePath(), damaged);
  WriteFileBytes(FivePath(), damaged);
  EXPECT_TRUE(engine.BuildMinuteLines(0, 0).done());
  EXPECT_EQ(DayDates(ReadBars(OnePath()), kOne), dates);
  EXPECT_EQ(DayDates(ReadBars(FivePath()), kFive), dates);
}

// A file holding more days than the retention keeps only its newest ones
// once a new day is merged in.
TEST_F(ReviewMinuteBuild, RangeModeReadsOnlyTheNewestRetainedDays) {
  const std::vector<int> held = Weekdays(20230102, 60);
  WriteBars(OnePath(), MakeDays(held, kOne));
  WriteTickIndex(layout, "sz000001", {20240108});
  engine.BuildMinuteLines(20240108, 20240108);
  std::vector<int> expected(held.end() - 49, held.end());
  expected.push_back(20240108);
  EXPECT_EQ(DayDates(ReadBars(OnePath()), kOne), expected);
}

TEST_F(ReviewMinuteBuild, RangeModeInsertsAnOlderDayWhileBelowRetention) {
  const std::vector<int> held = Weekdays(20240108, 3);  // 8, 9, 10 January
  WriteBars(OnePath(), MakeDays(held, kOne));
  WriteBars(FivePath(), MakeDays(held, kFive));
  WriteTickIndex(layout, "sz000001", {20240105, 20240109});
  engine.BuildMinuteLines(20240101, 20240131);
  const std::vector<int> expected = {20240105, 20240108, 20240109, 20240110};
  const std::vector<MinuteBar> one = ReadBars(OnePath());
  EXPECT_EQ(DayDates(one, kOne), expected);
  EXPECT_EQ(one[kOne].open, 1);                        // held day untouched
  EXPECT_EQ(one[2 * kOne + 60].close, PriceOf(20240109) / 100);  // replaced by the built day
  EXPECT_EQ(DayDates(ReadBars(FivePath()), kFive), expected);
}

TEST_F(ReviewMinuteBuild, RangeLimitsChooseTheDaysInclusively) {
  WriteTickIndex(layout, "sz000001", {20240104, 20240105, 20240108, 20240109});
  engine.BuildMinuteLines(20240105, 20240108);
  EXPECT_EQ(DayDates(ReadBars(OnePath()), kOne), (std::vector<int>{20240105, 20240108}));
}

TEST_F(ReviewMinuteBuild, SecurityWhoseDaysAllFailKeepsItsFiles) {
  const std::vector<int> held = Weekdays(20240108, 2);
  WriteBars(OnePath(), MakeDays(held, kOne));
  WriteTickIndex(layout, "sz000001", {20240110});
  unreadable.insert(20240110);
  const std::vector<uint8_t> before = ReadFileBytes(OnePath());
  engine.BuildMinuteLines(0, 0);
  EXPECT_EQ(ReadFileBytes(OnePath()), before);
  EXPECT_FALSE(PathExists(FivePath()));
}

// ------------------------------------------------------------ batch modify

class ReviewMinuteModify : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int market = 0; market < 3; ++market)
      for (MinuteKind kind : {MinuteKind::kOneMinute, MinuteKind::kFiveMinute})
        MakeDirTree(layout.Files(), MinuteDirectory(layout, kind, market), 0);
  }
  // One 5-minute day of bars whose fields are `bar`, dated `date`.
  std::string PutFive(int market, const char* code, int date, const MinuteBar& bar) {
    std::vector<MinuteBar> bars(kFive, bar);
    for (MinuteBar& b : bars) b.packedDate = PackMinuteDate(date);
    const std::string path = MinuteFilePath(layout, MinuteKind::kFiveMinute, market, code);
    WriteBars(path, bars);
    return path;
  }
  TestTree tree;
  DataLayout layout = tree.layout();
  MinuteEngine engine{layout, MinuteOptions{}};
};

// value x factor + 0.503 with the factor in single precision, truncated toward zero.
struct RoundingCase {
  int32_t value;
  float factor;
  int32_t expected;
};

class ReviewModifyRounding : public ReviewMinuteModify, public ::testing::WithParamInterface<RoundingCase> {};

TEST_P(ReviewModifyRounding, PricesRoundByTheAddendAndTruncate) {
  MinuteBar bar{};
  bar.open = bar.high = bar.low = bar.close = GetParam().value;
  const std::string path = PutFive(0, "000001", 20240108, bar);
  MinuteFactors f{GetParam().factor, GetParam().factor, GetParam().factor, GetParam().factor, 1.0f, 1.0f};
  engine.ModifyMinuteRange(20240108, 20240108, f, "sz000001");
  const MinuteBar after = ReadBars(path).front();
  EXPECT_EQ(after.open, GetParam().expected);
  EXPECT_EQ(after.high, GetParam().expected);
  EXPECT_EQ(after.low, GetParam().expected);
  EXPECT_EQ(after.close, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ReviewModifyRounding,
                         ::testing::Values(RoundingCase{1000, 0.5f, 500}, RoundingCase{1000, 0.9995f, 1000},
                                           RoundingCase{999, 0.5f, 500},      // 499.5 + 0.503
                                           RoundingCase{994, 0.5f, 497},      // 497.0 + 0.503
                                           RoundingCase{-1000, 1.0f, -999},   // -999.497 toward zero
                                           RoundingCase{0, 3.0f, 0}, RoundingCase{2000000000, 2.0f, INT32_MAX},
                                           RoundingCase{1, 0.4f, 0}, RoundingCase{3, 0.5f, 2}));

TEST_F(ReviewMinuteModify, VolumeIsUnsignedAndAmountIsAPlainFloatProduct) {
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

TEST_F(ReviewMinuteModify, OnlyBarsOfTheRangeChangeAndFactorsGoToTheirFields) {
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

TEST_F(ReviewMinuteModify, MarketLettersAreMatchedInEitherCaseOrByQuestionMarks) {
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

TEST_F(ReviewMinuteModify, MessagesOfBothPassesAndTheEnd) {
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

// ------------------------------------------------------------ range delete

TEST_F(ReviewMinuteModify, FiveMinuteDeleteNamesEachFileAndEnds) {
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

TEST_F(ReviewMinuteModify, DeleteKeepsBarsOutsideTheRangeInTheirOrder) {
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
}  // namespace marbloom::test
