// A second look at the tick store from the outside: the conversion's merge
// and listing order, the archive days it loads, the check's rule order, the
// range delete's messages and what ReadTickDay accepts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "app/settings.h"
#include "common/shared_state.h"
#include "support/temp_dir.h"
#include "tick_test_support.h"
#include "tickdata/minute_test_support.h"
#include "tickdata/tick_engine.h"
#include "tickdata/tick_reader.h"
#include "common/operation_result.h"

namespace marbloom::test {
namespace {

// 2024-01: Wed 3, Thu 4, Fri 5, Sat 6, Sun 7, Mon 8, Tue 9, Wed 10, Thu 11, Fri 12.
constexpr int kWed3 = 20240103, kThu4 = 20240104, kFri5 = 20240105, kSat6 = 20240106, kSun7 = 20240107,
              kMon8 = 20240108, kTue9 = 20240109, kWed10 = 20240110, kThu11 = 20240111, kFri12 = 20240112;

void PutInt(Bytes& b, std::size_t offset, int32_t v) { std::memcpy(b.data() + offset, &v, 4); }
constexpr std::size_t EntryAt(std::size_t k) { return 16 + 22 * k; }

class ReviewConvert : public ::testing::Test {
 protected:
  TestTree tree;
  DataLayout layout = tree.layout();
  TickEngine engine{layout};
};

// Old days before the range, archive days in date order replacing equal old
// days, old days kept between them and where the security is absent from an
// archive, the rest appended: byte for byte, with version 2.
TEST_F(ReviewConvert, MergeInterleavesOldAndNewDaysByteForByte) {
  const StoredDay oldWed3 = MakeDay(kWed3, 1), oldFri5 = MakeDay(kFri5, 2), oldMon8 = MakeDay(kMon8, 3),
                  oldWed10 = MakeDay(kWed10, 4), oldFri12 = MakeDay(kFri12, 5);
  WriteFileBytes(layout.TickIndexFile("sz000001"), IndexBytes({oldWed3, oldFri5, oldMon8, oldWed10, oldFri12}, 0));
  WriteFileBytes(layout.TickDataFile("sz000001"), DataBytes({oldWed3, oldFri5, oldMon8, oldWed10, oldFri12}));
  StoredDay newThu4 = MakeDay(kThu4, 20), newMon8 = MakeDay(kMon8, 21), newThu11 = MakeDay(kThu11, 22);
  newThu4.priceDecimals = 3;
  newThu4.spare = 0xEE;
  newMon8.refPrice = -1.25;
  WriteArchive(layout, kThu4, {{0, "000001", newThu4}});
  WriteArchive(layout, kMon8, {{1, "600000", MakeDay(kMon8, 30)}, {0, "000001", newMon8}});
  WriteArchive(layout, kWed10, {{1, "600000", MakeDay(kWed10, 31)}});  // sz000001 absent: old day stays
  WriteArchive(layout, kThu11, {{0, "000001", newThu11}});
  engine.ConvertTickRange(kThu4, kThu11);
  const std::vector<StoredDay> expected = {oldWed3, newThu4, oldFri5, newMon8, oldWed10, newThu11, oldFri12};
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000001")), IndexBytes(expected, 2));
  EXPECT_EQ(ReadFileBytes(layout.TickDataFile("sz000001")), DataBytes(expected));
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sh600000")), IndexBytes({MakeDay(kMon8, 30), MakeDay(kWed10, 31)}, 2));
}

TEST_F(ReviewConvert, SecuritiesAreMergedInOrderOfFirstAppearance) {
  WriteArchive(layout, kMon8, {{0, "000002", MakeDay(kMon8, 1)}, {1, "600000", MakeDay(kMon8, 2)}});
  WriteArchive(layout, kTue9,
               {{2, "430047", MakeDay(kTue9, 3)}, {0, "000002", MakeDay(kTue9, 4)}, {0, "000001", MakeDay(kTue9, 5)}});
  StatusRecorder recorder;
  engine.ConvertTickRange(kMon8, kTue9);
  EXPECT_EQ(recorder.Lines(),
            (std::vector<std::string>{"创建转档索引表!", "转档sz000002分笔数据...", "转档sh600000分笔数据...",
                                      "转档bj430047分笔数据...", "转档sz000001分笔数据...",
                                      "分笔数据转档完成!"}));
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000002")), IndexBytes({MakeDay(kMon8, 1), MakeDay(kTue9, 4)}, 2));
}

// The range starts at `first` whatever its weekday; after it only the days
// NextTradingDay gives are loaded.
TEST_F(ReviewConvert, FirstDayLoadsEvenOnAWeekendLaterWeekendsDoNot) {
  WriteArchive(layout, kSat6, {{0, "000001", MakeDay(kSat6, 1)}});
  WriteArchive(layout, kSun7, {{0, "000001", MakeDay(kSun7, 2)}});
  WriteArchive(layout, kMon8, {{0, "000001", MakeDay(kMon8, 3)}});
  engine.ConvertTickRange(kSat6, kMon8);
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000001")), IndexBytes({MakeDay(kSat6, 1), MakeDay(kMon8, 3)}, 2));
}

TEST_F(ReviewConvert, SecurityListedTwiceInOneArchiveTakesItsLaterBlock) {
  WriteArchive(layout, kMon8, {{0, "000001", MakeDay(kMon8, 1)}, {0, "000001", MakeDay(kMon8, 2)}});
  engine.ConvertTickRange(kMon8, kMon8);
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000001")), IndexBytes({MakeDay(kMon8, 2)}, 2));
  EXPECT_EQ(ReadFileBytes(layout.TickDataFile("sz000001")), DataBytes({MakeDay(kMon8, 2)}));
}

TEST_F(ReviewConvert, ReversedRangeTouchesNothingAndLogsNothing) {
  WriteArchive(layout, kMon8, {{0, "000001", MakeDay(kMon8, 1)}});
  StatusRecorder recorder;
  EXPECT_EQ(engine.ConvertTickRange(kTue9, kMon8).outcome, Outcome::kNothingToDo);
  EXPECT_EQ(recorder.Lines(), std::vector<std::string>{"创建转档索引表!"});
  EXPECT_FALSE(PathExists(layout.TickIndexFile("sz000001")));
  EXPECT_EQ(ReadRunLog().find("分笔数据转档"), std::string::npos);
}

TEST_F(ReviewConvert, ProgressEndsAtTheLastSecuritysShare) {
  WriteArchive(layout, kMon8,
               {{0, "000001", MakeDay(kMon8, 1)},
                {0, "000002", MakeDay(kMon8, 2)},
                {0, "000003", MakeDay(kMon8, 3)},
                {0, "000004", MakeDay(kMon8, 4)}});
  engine.ConvertTickRange(kMon8, kMon8);
  EXPECT_DOUBLE_EQ(test::ProgressFraction(), 0.75);
}

// ---------------------------------------------------------------- delete

const std::vector<StoredDay> kDays = {MakeDay(kWed3, 1), MakeDay(kThu4, 2), MakeDay(kFri5, 3), MakeDay(kMon8, 4)};

class ReviewDelete : public ::testing::Test {
 protected:
  TestTree tree;
  DataLayout layout = tree.layout();
  TickEngine engine{layout};
};

TEST_F(ReviewDelete, RangeEdgesAreInclusiveAndEntriesKeepTheirFields) {
  std::vector<StoredDay> days = kDays;
  days[3].refPrice = 123.456;
  days[3].priceDecimals = 4;
  days[3].spare = 0x5A;
  WritePair(layout, "sh600000", days);
  EXPECT_EQ(engine.DeleteTickRange(kThu4, kFri5).outcome, Outcome::kDone);
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sh600000")), IndexBytes({days[0], days[3]}, 0));
  EXPECT_EQ(ReadFileBytes(layout.TickDataFile("sh600000")), DataBytes({days[0], days[3]}));
}

// Only exact names are visited: sz0000029.vid is not a security's index.
TEST_F(ReviewDelete, MessagesNameEachExactStem) {
  WritePair(layout, "sz000001", kDays);
  WriteFileBytes(layout.TickStoreDir() + "sz0000029.vid", IndexBytes(kDays));
  WritePair(layout, "sz000002", kDays);
  StatusRecorder recorder;
  EXPECT_EQ(engine.DeleteTickRange(kWed3, kWed3).outcome, Outcome::kDone);
  EXPECT_EQ(recorder.Lines(),
            (std::vector<std::string>{"正在删除20240103-20240103时间段的分笔数据...", "正在删除股票sz000001分笔数据",
                                      "正在删除股票sz000002分笔数据", "删除分笔数据完成!"}));
  EXPECT_EQ(ReadFileBytes(layout.TickStoreDir() + "sz0000029.vid"), IndexBytes(kDays));
  const std::vector<StoredDay> kept(kDays.begin() + 1, kDays.end());
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000002")), IndexBytes(kept, 0));
  EXPECT_NE(ReadRunLog().find("删除分笔数据完成!"), std::string::npos);
}

TEST_F(ReviewDelete, EmptyOrDotFilesAreNotCounted) {
  WriteFileBytes(layout.TickStoreDir() + "sz000001.vid", {});
  WriteFileBytes(layout.TickStoreDir() + ".sz000002.vid", IndexBytes(kDays));
  EXPECT_EQ(engine.DeleteTickRange(kWed3, kWed3).outcome, Outcome::kNothingToDo);
  EXPECT_EQ(engine.CheckTickFiles().outcome, Outcome::kNothingToDo);
  EXPECT_EQ(test::StatusText(), "路径不存在或无分笔数据!");
}

// ---------------------------------------------------------------- check

struct RuleCase {
  const char* name;
  std::function<void(Bytes& index, Bytes& data)> damage;
  const char* message;  // empty: the pair is good
};

class ReviewCheckRules : public ::testing::TestWithParam<RuleCase> {
 protected:
  TestTree tree;
  DataLayout layout = tree.layout();
  TickEngine engine{layout};
};

TEST_P(ReviewCheckRules, FirstFailingRuleDecides) {
  Bytes index = IndexBytes(kDays), data = DataBytes(kDays);
  GetParam().damage(index, data);
  WriteFileBytes(layout.TickIndexFile("sh600036"), index);
  WriteFileBytes(layout.TickDataFile("sh600036"), data);
  const std::string expected = GetParam().message;
  StatusRecorder recorder;
  EXPECT_EQ(engine.CheckTickFile("sh600036"), expected.empty());
  if (expected.empty()) {
    EXPECT_TRUE(recorder.Lines().empty());
  } else {
    EXPECT_EQ(recorder.Lines(), std::vector<std::string>{expected});
    EXPECT_NE(ReadRunLog().find(expected), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    RuleOrder, ReviewCheckRules,
    ::testing::Values(
        RuleCase{"uncheckedFieldsDoNotMatter",
                 [](Bytes& i, Bytes&) {
                   PutInt(i, 0, 77);
                   const double nan = std::numeric_limits<double>::quiet_NaN();
                   std::memcpy(i.data() + EntryAt(1) + 12, &nan, 8);
                   i[EntryAt(1) + 20] = 9;
                   i[EntryAt(1) + 21] = 0xFF;
                 },
                 ""},
        RuleCase{"lengthsAddUpDespiteANegativeOne",
                 [](Bytes& i, Bytes&) {
                   int32_t a, b;
                   std::memcpy(&a, i.data() + EntryAt(0) + 8, 4);
                   std::memcpy(&b, i.data() + EntryAt(1) + 8, 4);
                   PutInt(i, EntryAt(0) + 8, a + b + 1);
                   PutInt(i, EntryAt(1) + 8, -1);
                 },
                 ""},
        RuleCase{"headerRoomAroundEntriesIsFine", [](Bytes& i, Bytes&) { PutInt(i, 4, 20240101), PutInt(i, 8, 20240131); },
                 ""},
        RuleCase{"lengthBeforeOpen", [](Bytes& i, Bytes&) { i.resize(20); }, "sh600036索引文件长度异常!"},
        RuleCase{"countBeforeDates", [](Bytes& i, Bytes&) { PutInt(i, 12, 5), PutInt(i, 4, 0); },
                 "sh600036索引文件长度校验异常!"},
        RuleCase{"negativeCount", [](Bytes& i, Bytes&) { PutInt(i, 12, -4); }, "sh600036索引文件长度校验异常!"},
        RuleCase{"firstDateZero", [](Bytes& i, Bytes&) { PutInt(i, 4, 0); }, "sh600036索引文件日期信息异常!"},
        RuleCase{"lastDateNegative", [](Bytes& i, Bytes&) { PutInt(i, 8, -20240108); },
                 "sh600036索引文件日期信息异常!"},
        RuleCase{"headerFirstAfterFirstEntry", [](Bytes& i, Bytes&) { PutInt(i, 4, kThu4); },
                 "sh600036索引文件日期信息异常!"},
        RuleCase{"lastEntryAfterHeaderLast", [](Bytes& i, Bytes&) { PutInt(i, 8, 20240105); },
                 "sh600036索引文件日期信息异常!"},
        // Entry 2 goes backwards and below the header's first date: rule 7 comes first.
        RuleCase{"backwardsBelowRangeIsADateFault", [](Bytes& i, Bytes&) { PutInt(i, EntryAt(2), 20240102); },
                 "sh600036索引文件日期信息异常!"},
        RuleCase{"backwardsInsideRangeIsDisorder", [](Bytes& i, Bytes&) { PutInt(i, EntryAt(2), kWed3); },
                 "sh600036索引文件日期信息乱序!"},
        // Rules 7 and 8 go entry by entry: an earlier disorder wins over a later zero length.
        RuleCase{"earlierDisorderBeforeLaterZeroLength",
                 [](Bytes& i, Bytes&) { PutInt(i, EntryAt(1), kWed3), PutInt(i, EntryAt(3) + 4, 0); },
                 "sh600036索引文件日期信息乱序!"},
        RuleCase{"earlierZeroLengthBeforeLaterDisorder",
                 [](Bytes& i, Bytes&) { PutInt(i, EntryAt(1) + 4, -7), PutInt(i, EntryAt(3), kThu4); },
                 "sh600036索引文件日期信息异常!"},
        RuleCase{"disorderBeforeMismatch", [](Bytes& i, Bytes& d) { PutInt(i, EntryAt(3), kFri5), d.pop_back(); },
                 "sh600036索引文件日期信息乱序!"},
        RuleCase{"dataOneByteShort", [](Bytes&, Bytes& d) { d.pop_back(); }, "sh600036索引文件和数据文件不匹配!"}),
    [](const ::testing::TestParamInfo<RuleCase>& info) { return std::string(info.param.name); });

class ReviewCheckRun : public ::testing::Test {
 protected:
  TestTree tree;
  DataLayout layout = tree.layout();
  TickEngine engine{layout};
};

TEST_F(ReviewCheckRun, CancelStopsAfterTheFirstPairAndReturnsWhatWasFound) {
  Bytes data = DataBytes(kDays);
  data.push_back(0);
  WriteFileBytes(layout.TickIndexFile("sz000001"), IndexBytes(kDays));
  WriteFileBytes(layout.TickDataFile("sz000001"), data);
  WriteFileBytes(layout.TickIndexFile("sz000002"), IndexBytes(kDays));
  WriteFileBytes(layout.TickDataFile("sz000002"), data);
  StatusRecorder recorder;
  engine.Cancel();
  const OperationResult result = engine.CheckTickFiles();
  EXPECT_EQ(result.outcome, Outcome::kCancelled);
  EXPECT_EQ(result.failedItems, 1);
  EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"正在检查sz000001分笔数据", "sz000001索引文件和数据文件不匹配!",
                                                      "检查分笔操作被取消!"}));
  EXPECT_NE(ReadRunLog().find("检查分笔操作被取消!"), std::string::npos);
}

TEST_F(ReviewCheckRun, GoodPairsLeaveOnlyTheirCheckingLines) {
  WritePair(layout, "sz000001", kDays);
  WritePair(layout, "sh600000", kDays);
  StatusRecorder recorder;
  const OperationResult result = engine.CheckTickFiles();
  EXPECT_EQ(result.outcome, Outcome::kDone);
  EXPECT_EQ(result.message, "共有0支股票分笔文件出错!");
  EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"正在检查sh600000分笔数据", "正在检查sz000001分笔数据"}));
  EXPECT_DOUBLE_EQ(test::ProgressFraction(), 0.5);
}

// ---------------------------------------------------------------- reading

class ReviewRead : public ::testing::Test {
 protected:
  TestTree tree;
  DataLayout layout = tree.layout();
};

// Days read whenever the pair's entries are whole (the first five rules of the
// check); the header's dates decide nothing for a day.
TEST_F(ReviewRead, HeaderDatesDoNotDecideWhetherADayReads) {
  struct Case {
    std::size_t offset;
    int32_t value;
    bool readable;
  };
  for (const Case& c : {Case{4, 19900101, true}, Case{4, 19891231, true}, Case{8, 20800101, true},
                        Case{8, 20800102, true}, Case{8, kWed3 - 1, true}, Case{12, 3, false}}) {
    Bytes index = IndexBytes(kDays);
    PutInt(index, c.offset, c.value);
    WriteFileBytes(layout.TickIndexFile("sz000001"), index);
    WriteFileBytes(layout.TickDataFile("sz000001"), DataBytes(kDays));
    EXPECT_EQ(ReadTickDay(layout, 0, "000001", kFri5).has_value(), c.readable) << c.offset << " " << c.value;
  }
}

TEST_F(ReviewRead, AnIndexThatIsNotWholeReadsNoDay) {
  Bytes index = IndexBytes(kDays);
  WriteFileBytes(layout.TickDataFile("sz000001"), DataBytes(kDays));
  index.insert(index.end(), {1, 2, 3});  // not whole entries
  WriteFileBytes(layout.TickIndexFile("sz000001"), index);
  EXPECT_FALSE(ReadTickDay(layout, 0, "000001", kMon8));
  index.resize(index.size() - 3);
  PutInt(index, 12, 3);  // a count that disagrees with the entries
  WriteFileBytes(layout.TickIndexFile("sz000001"), index);
  EXPECT_FALSE(ReadTickDay(layout, 0, "000001", kFri5));
  PutInt(index, 12, 4);
  WriteFileBytes(layout.TickIndexFile("sz000001"), index);
  EXPECT_TRUE(ReadTickDay(layout, 0, "000001", kMon8));
}

TEST_F(ReviewRead, DayReadsTheRefPriceAndRescalesByItsOwnDecimals) {
  std::vector<StoredDay> days = kDays;
  days[2].priceDecimals = 3;
  days[2].refPrice = 7.125;
  WritePair(layout, "sz000001", days);
  EXPECT_FALSE(ReadTickDay(layout, 0, "000001", kSat6));  // between two stored days
  auto day = ReadTickDay(layout, 0, "000001", kFri5);
  ASSERT_TRUE(day);
  EXPECT_EQ(day->date, kFri5);
  EXPECT_EQ(day->refPrice, 7.125);
  const std::vector<TestTick> ticks = SampleTicks(20, 3);
  ASSERT_EQ(day->ticks.size(), ticks.size());
  for (std::size_t i = 0; i < ticks.size(); ++i) EXPECT_EQ(day->ticks[i].price, ticks[i].price * 10) << i;
}

}  // namespace
}  // namespace marbloom::test
