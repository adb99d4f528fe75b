// The minute builder over a tick store: listing, choosing days, retention and
// the replacement of the files.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "base/file_helpers.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "tickdata/minute_engine.h"
#include "support/fault_file_system.h"
#include "tickdata/minute_test_support.h"

namespace marbloom {
namespace {

using test::DayDates;
using test::MakeDays;
using test::PathExists;
using test::ReadBars;
using test::ReadFileBytes;
using test::ReadRunLog;
using test::StatusRecorder;
using test::Tick;
using test::Weekdays;
using test::WriteBars;
using test::WriteFileBytes;
using test::WriteTickIndex;

constexpr int kOne = kOneMinuteBarsPerDay;
constexpr int kFive = kFiveMinuteBarsPerDay;

// A tick source of one trade per day at 10:00 whose price tells the date.
class MinuteEngineTest : public ::testing::Test {
 protected:
  MinuteEngineTest() {
    for (int market = 0; market < 3; ++market)
      for (MinuteKind kind : {MinuteKind::kOneMinute, MinuteKind::kFiveMinute})
        MakeDirTree(layout.Files(), MinuteDirectory(layout, kind, market), 0);
  }
  MinuteEngine::TickDaySource Source() {
    return [this](int market, std::string_view code, int date) -> std::optional<TickDay> {
      reads.push_back(std::string(kMarketPrefix[market]) + std::string(code) + ":" + std::to_string(date));
      if (unreadable.count(date)) return std::nullopt;
      TickDay day;
      day.date = date;
      day.refPrice = 10.0;
      day.ticks = {Tick(10, 0, 0, PriceOf(date), 3)};
      return day;
    };
  }
  static int32_t PriceOf(int date) { return 100000 + (date % 10000) * 10; }
  std::string OnePath(const char* code = "000001") { return MinuteFilePath(layout, MinuteKind::kOneMinute, 0, code); }
  std::string FivePath(const char* code = "000001") { return MinuteFilePath(layout, MinuteKind::kFiveMinute, 0, code); }

  test::TestTree tree;
  DataLayout layout = tree.layout();
  std::vector<std::string> reads;
  std::set<int> unreadable;
  MinuteEngine engine{layout, MinuteOptions{50, 250, 1}, Source()};
};

TEST_F(MinuteEngineTest, WholeStoreWritesTheLast500TickDaysOverTheOldFiles) {
  auto dates = Weekdays(20210104, 800);
  WriteTickIndex(layout, "sz000001", dates);
  test::WriteFileBytes(OnePath(), std::vector<uint8_t>(100, 0xEE));  // damaged: replaced anyway
  WriteBars(FivePath(), MakeDays({20200102}, kFive));
  EXPECT_TRUE(engine.BuildMinuteLines(0, 0).done());
  std::vector<int> last500(dates.end() - 500, dates.end());
  EXPECT_EQ(DayDates(ReadBars(OnePath()), kOne), last500);
  EXPECT_EQ(DayDates(ReadBars(FivePath()), kFive), last500);
  EXPECT_EQ(reads.size(), 500u);
  EXPECT_EQ(test::StatusText(), "分钟数据转档完成!");
  EXPECT_FALSE(test::PathExists(MinuteTempPath(layout, MinuteKind::kOneMinute, 0)));
}

TEST_F(MinuteEngineTest, OnlyFilesThatHoldDaysAreReplacedThroughTheTemporary) {
  WriteTickIndex(layout, "sz000001", {20240315});
  WriteTickIndex(layout, "sz000002", {20240315});
  WriteBars(OnePath("000002"), MakeDays({20240314}, kOne));
  test::FaultFileSystem recorder;
  MinuteEngine(layout.WithFiles(recorder), MinuteOptions{50, 250, 1}, Source()).BuildMinuteLines(20240315, 20240315);
  std::vector<std::string> renames;
  for (const std::string& change : recorder.Changes())
    if (change.starts_with("rename ")) renames.push_back(change);
  EXPECT_EQ(renames, std::vector<std::string>{"rename " + MinuteTempPath(layout, MinuteKind::kOneMinute, 0) + " " +
                                              OnePath("000002")});
  EXPECT_EQ(DayDates(ReadBars(OnePath("000001")), kOne), std::vector<int>{20240315});
}

TEST_F(MinuteEngineTest, DaysBuiltAgainAsHeldLeaveAFileWithinItsRetentionUntouched) {
  auto dates = Weekdays(20240101, 53);
  WriteTickIndex(layout, "sz000001", dates);
  MinuteEngine(layout, MinuteOptions{60, 250, 1}, Source()).BuildMinuteLines(dates[0], dates[52]);
  for (int retention : {60, 50}) {  // the 53 days held fit in 60; 50 drops the oldest three
    test::FaultFileSystem recorder;
    MinuteEngine(layout.WithFiles(recorder), MinuteOptions{retention, 250, 1}, Source())
        .BuildMinuteLines(dates[50], dates[52]);
    EXPECT_EQ(recorder.Changes().empty(), retention == 60);
    const std::vector<int> kept(dates.end() - std::min(53, retention), dates.end());
    EXPECT_EQ(DayDates(ReadBars(OnePath()), kOne), kept);
  }
  EXPECT_EQ(DayDates(ReadBars(FivePath()), kFive), dates);
}

TEST_F(MinuteEngineTest, NewerDaysAreAppendedBelowTheRetentionAsTheMergeWritesThem) {
  auto dates = Weekdays(20240101, 4);
  WriteTickIndex(layout, "sz000001", dates);
  const std::vector<std::string> appends{"write " + OnePath(), "write " + FivePath()};
  for (int retention : {4, 3}) {  // 3: the new day drops the oldest, through the temporary
    std::filesystem::remove(OnePath());
    std::filesystem::remove(FivePath());
    MinuteEngine(layout, MinuteOptions{retention, retention, 1}, Source()).BuildMinuteLines(dates[0], dates[2]);
    const auto one = test::ReadFileBytes(OnePath()), five = test::ReadFileBytes(FivePath());
    test::FaultFileSystem recorder;
    MinuteEngine(layout.WithFiles(recorder), MinuteOptions{retention, retention, 1}, Source())
        .BuildMinuteLines(dates[3], dates[3]);
    const std::vector<std::string> changes(recorder.Changes().begin(), recorder.Changes().begin() + 2);
    EXPECT_EQ(changes == appends, retention == 4);  // then the flush
    const std::vector<std::vector<uint8_t>> built{test::ReadFileBytes(OnePath()), test::ReadFileBytes(FivePath())};
    test::WriteFileBytes(OnePath(), one);
    test::WriteFileBytes(FivePath(), five);
    MinuteEngine(layout, MinuteOptions{retention, retention, 1}, Source()).BuildMinuteLines(dates[2], dates[3]);
    EXPECT_EQ(built, (std::vector{test::ReadFileBytes(OnePath()), test::ReadFileBytes(FivePath())}));
    EXPECT_EQ(DayDates(ReadBars(OnePath()), kOne), std::vector<int>(dates.begin() + 4 - retention, dates.end()));
  }
}

// An append cut short: a tail of that many bytes past the last whole day, the
// start of a day's block and zeros after it, as a crash leaves it.
class MinuteTail : public MinuteEngineTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(MinuteTail, ReadersSkipItAndTheNextBuildCutsIt) {
  auto dates = Weekdays(20240101, 3);
  WriteTickIndex(layout, "sz000001", dates);
  engine.BuildMinuteLines(dates[0], dates[1]);
  const std::vector<uint8_t> held = test::ReadFileBytes(OnePath());
  std::vector<uint8_t> bytes = held;
  const std::size_t part = std::min(GetParam(), kOneMinuteBlockBytes - sizeof(MinuteBar));
  bytes.insert(bytes.end(), held.begin(), held.begin() + static_cast<std::ptrdiff_t>(part));
  bytes.resize(held.size() + GetParam());
  test::WriteFileBytes(OnePath(), bytes);
  std::vector<MinuteBar> bars;
  EXPECT_EQ(ReadAllMinuteBars(layout.Files(), OnePath(), KindInfo(MinuteKind::kOneMinute), &bars), TailRead::kRead);
  EXPECT_EQ(bars.size() * sizeof(MinuteBar), held.size());
  engine.BuildMinuteLines(dates[2], dates[2]);
  const std::vector<uint8_t> after = test::ReadFileBytes(OnePath());
  ASSERT_EQ(after.size(), held.size() + kOneMinuteBlockBytes);
  EXPECT_TRUE(std::equal(held.begin(), held.end(), after.begin()));
  EXPECT_EQ(DayDates(ReadBars(OnePath()), kOne), dates);
}

INSTANTIATE_TEST_SUITE_P(Bytes, MinuteTail, ::testing::Values(1, 7679, 7681));

TEST_F(MinuteEngineTest, AnAppendCutShortIsCompletedByTheNextBuild) {
  auto dates = Weekdays(20240101, 3);
  WriteTickIndex(layout, "sz000001", dates);
  engine.BuildMinuteLines(dates[0], dates[1]);
  const auto one = test::ReadFileBytes(OnePath()), five = test::ReadFileBytes(FivePath());
  engine.BuildMinuteLines(dates[2], dates[2]);
  const auto cleanOne = test::ReadFileBytes(OnePath()), cleanFive = test::ReadFileBytes(FivePath());
  test::WriteFileBytes(OnePath(), one);
  test::WriteFileBytes(FivePath(), five);
  test::FaultFileSystem crash;
  crash.NoSpaceAfter(3000);                                   // the append stops after 3000 bytes
  crash.CrashAt(2, test::FaultFileSystem::Crash::kFailLater);  // and nothing after it happens
  MinuteEngine(layout.WithFiles(crash), MinuteOptions{50, 250, 1}, Source()).BuildMinuteLines(dates[2], dates[2]);
  EXPECT_EQ(test::ReadFileBytes(OnePath()).size(), one.size() + 3000);
  engine.BuildMinuteLines(dates[2], dates[2]);
  EXPECT_EQ(test::ReadFileBytes(OnePath()), cleanOne);
  EXPECT_EQ(test::ReadFileBytes(FivePath()), cleanFive);
}

TEST_F(MinuteEngineTest, BuiltDayCarriesTheTradeInItsSlot) {
  WriteTickIndex(layout, "sz000001", {20240315});
  engine.BuildMinuteLines(20240315, 20240315);
  auto one = ReadBars(OnePath());
  ASSERT_EQ(one.size(), static_cast<std::size_t>(kOne));
  EXPECT_EQ(one[30].close, PriceOf(20240315) / 100);
  EXPECT_EQ(one[30].volume, 300);
  auto five = ReadBars(FivePath());
  ASSERT_EQ(five.size(), static_cast<std::size_t>(kFive));
  EXPECT_EQ(five[6].volume, 300);
  EXPECT_EQ(five[6].time, 605);
}

TEST_F(MinuteEngineTest, RangeModeMergesUnderTheOneMinuteRetention) {
  auto dates = Weekdays(20240101, 61);
  WriteBars(OnePath(), MakeDays({dates.begin(), dates.begin() + 60}, kOne));
  WriteTickIndex(layout, "sz000001", {dates[59], dates[60]});
  engine.BuildMinuteLines(dates[59], dates[60]);
  auto bars = ReadBars(OnePath());
  // The newest 50 held days are read; one new day pushes out the oldest of them.
  EXPECT_EQ(DayDates(bars, kOne), std::vector<int>(dates.begin() + 11, dates.end()));
  EXPECT_EQ(bars[48 * kOne + 30].close, PriceOf(dates[59]) / 100);  // overwritten by the rebuilt day
  EXPECT_EQ(DayDates(ReadBars(FivePath()), kFive), (std::vector<int>{dates[59], dates[60]}));
}

TEST_F(MinuteEngineTest, FiveMinuteFileOfThreeHundredDaysKeepsThreeHundred) {
  MinuteEngine wide(layout, MinuteOptions{60, 300, 1}, Source());
  auto dates = Weekdays(20230102, 301);
  WriteBars(FivePath(), MakeDays({dates.begin(), dates.begin() + 300}, kFive));
  WriteTickIndex(layout, "sz000001", {dates[300]});
  wide.BuildMinuteLines(dates[300], dates[300]);
  EXPECT_EQ(DayDates(ReadBars(FivePath()), kFive), std::vector<int>(dates.begin() + 1, dates.end()));
}

TEST_F(MinuteEngineTest, RangeModeOnlyReadsTheDaysOfTheRange) {
  auto dates = Weekdays(20240101, 10);
  WriteTickIndex(layout, "sz000001", dates);
  engine.BuildMinuteLines(dates[3], dates[5]);
  EXPECT_EQ(reads, (std::vector<std::string>{"sz000001:" + std::to_string(dates[3]),
                                             "sz000001:" + std::to_string(dates[4]),
                                             "sz000001:" + std::to_string(dates[5])}));
}

TEST_F(MinuteEngineTest, UnreadableDaysAreReportedAndSkipped) {
  auto dates = Weekdays(20240101, 3);
  WriteTickIndex(layout, "sz000001", dates);
  unreadable.insert(dates[1]);
  EXPECT_EQ(engine.BuildMinuteLines(dates[0], dates[2]).outcome, Outcome::kFailed);
  EXPECT_EQ(DayDates(ReadBars(OnePath()), kOne), (std::vector<int>{dates[0], dates[2]}));
  EXPECT_NE(test::ReadRunLog().find("sz000001的" + std::to_string(dates[1]) + "分笔数据无法解码!"), std::string::npos);
}

TEST_F(MinuteEngineTest, RangeModeLeavesADamagedMinuteFileAlone) {
  std::vector<uint8_t> damaged(kOneMinuteBlockBytes + 1, 0x11);
  test::WriteFileBytes(OnePath(), damaged);
  WriteTickIndex(layout, "sz000001", {20240315});
  engine.BuildMinuteLines(20240315, 20240315);
  EXPECT_EQ(test::ReadFileBytes(OnePath()), damaged);
  EXPECT_NE(test::ReadRunLog().find("sz000001.01文件已损坏, 未更新!"), std::string::npos);
  EXPECT_EQ(ReadBars(FivePath()).size(), static_cast<std::size_t>(kFive));
  std::filesystem::create_symlink(OnePath(), OnePath("000002"));  // nor does the whole-store mode replace a link
  WriteTickIndex(layout, "sz000002", {20240315});
  EXPECT_EQ(engine.BuildMinuteLines(0, 0).outcome, Outcome::kFailed);
  EXPECT_TRUE(std::filesystem::is_symlink(OnePath("000002")));
}

TEST_F(MinuteEngineTest, UnusableTickIndexBuildsNothing) {
  WriteTickIndex(layout, "sz000001", {20240314, 20240315});
  std::string index = layout.TickIndexFile("sz000001");
  auto bytes = test::ReadFileBytes(index);
  bytes[12] = 3;  // header count disagrees with the two entries
  test::WriteFileBytes(index, bytes);
  WriteBars(OnePath(), MakeDays({20240313}, kOne));
  auto before = test::ReadFileBytes(OnePath());
  const OperationResult result = engine.BuildMinuteLines(20240314, 20240315);
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  EXPECT_NE(test::ReadRunLog().find("sz000001索引文件长度校验异常!"), std::string::npos);
  EXPECT_TRUE(reads.empty());
  EXPECT_EQ(test::ReadFileBytes(OnePath()), before);
  EXPECT_FALSE(test::PathExists(FivePath()));
}

TEST_F(MinuteEngineTest, IndexThatRepeatsADateBuildsItOnce) {
  WriteTickIndex(layout, "sz000001", {20240314, 20240315, 20240315, 20240313});
  engine.BuildMinuteLines(0, 0);
  EXPECT_EQ(DayDates(ReadBars(OnePath()), kOne), (std::vector<int>{20240314, 20240315}));
}

TEST_F(MinuteEngineTest, EmptyStoreFailsWithTheIndexMessage) {
  EXPECT_EQ(engine.BuildMinuteLines(0, 0).outcome, Outcome::kNothingToDo);
  EXPECT_EQ(test::StatusText(), "分笔文件索引表加载失败!");
  EXPECT_NE(test::ReadRunLog().find("分笔文件索引表加载失败!"), std::string::npos);
}

// Only exact names are listed: lower-case market, six digits.
TEST_F(MinuteEngineTest, ListingKeepsExactNamesOnly) {
  for (const char* stem : {"sz000001", "SZ000001", "sh600000", "Bj430001", "bj430002", "xx000001", "sz00000a"})
    WriteTickIndex(layout, stem, {20240315});
  WriteTickIndex(layout, "sz0000012", {20240315});             // 13 characters
  test::WriteFileBytes(layout.TickIndexFile("sz000002"), {});  // empty
  ASSERT_TRUE(engine.ListTickSecurities());
  std::vector<std::string> listed;
  for (const auto& s : engine.TickSecurities()) listed.push_back(std::to_string(s.market) + s.code);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"0000001", "1600000", "2430002"}));
}

TEST_F(MinuteEngineTest, CancelStopsAfterTheCurrentSecurity) {
  WriteTickIndex(layout, "sz000001", {20240315});
  WriteTickIndex(layout, "sz000002", {20240315});
  test::StatusRecorder recorder;
  engine.Cancel();
  EXPECT_EQ(engine.BuildMinuteLines(0, 0).outcome, Outcome::kCancelled);
  EXPECT_TRUE(test::PathExists(OnePath("000001")));
  EXPECT_FALSE(test::PathExists(OnePath("000002")));
  EXPECT_TRUE(recorder.Saw("正在转档深圳000001分钟线"));
  EXPECT_EQ(test::StatusText(), "分钟数据转档被取消!");
}

TEST_F(MinuteEngineTest, EachSecurityIsAnnouncedWithItsMarketName) {
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
TEST_F(MinuteEngineTest, WholeStoreReplacesADamagedFileWithEveryBuiltDay) {
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
TEST_F(MinuteEngineTest, RangeModeReadsOnlyTheNewestRetainedDays) {
  const std::vector<int> held = Weekdays(20230102, 60);
  WriteBars(OnePath(), MakeDays(held, kOne));
  WriteTickIndex(layout, "sz000001", {20240108});
  engine.BuildMinuteLines(20240108, 20240108);
  std::vector<int> expected(held.end() - 49, held.end());
  expected.push_back(20240108);
  EXPECT_EQ(DayDates(ReadBars(OnePath()), kOne), expected);
}

TEST_F(MinuteEngineTest, RangeModeInsertsAnOlderDayWhileBelowRetention) {
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

TEST_F(MinuteEngineTest, RangeLimitsChooseTheDaysInclusively) {
  WriteTickIndex(layout, "sz000001", {20240104, 20240105, 20240108, 20240109});
  engine.BuildMinuteLines(20240105, 20240108);
  EXPECT_EQ(DayDates(ReadBars(OnePath()), kOne), (std::vector<int>{20240105, 20240108}));
}

TEST_F(MinuteEngineTest, SecurityWhoseDaysAllFailKeepsItsFiles) {
  const std::vector<int> held = Weekdays(20240108, 2);
  WriteBars(OnePath(), MakeDays(held, kOne));
  WriteTickIndex(layout, "sz000001", {20240110});
  unreadable.insert(20240110);
  const std::vector<uint8_t> before = ReadFileBytes(OnePath());
  engine.BuildMinuteLines(0, 0);
  EXPECT_EQ(ReadFileBytes(OnePath()), before);
  EXPECT_FALSE(PathExists(FivePath()));
}

}  // namespace
}  // namespace marbloom
