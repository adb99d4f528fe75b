#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>

#include "app/settings.h"
#include "base/text_encoding.h"
#include "common/dir_walk.h"
#include "common/shared_state.h"
#include "support/temp_dir.h"
#include "tickdata/tick_engine.h"
#include "tick_test_support.h"
#include "tickdata/minute_test_support.h"

namespace marbloom::test {
namespace {

bool LogHas(const std::string& message) { return ReadRunLog().find(message) != std::string::npos; }

const std::vector<StoredDay> kDays = {MakeDay(20240102, 1), MakeDay(20240103, 2), MakeDay(20240104, 3),
                                      MakeDay(20240108, 4)};

class DeleteTickRangeTest : public ::testing::Test {
 protected:
  TestTree tree;
  DataLayout layout = tree.layout();
  TickEngine engine{layout};
};

TEST_F(DeleteTickRangeTest, RemovesTheRangeAndRewritesWithVersionZero) {
  WritePair(layout, "sz000001", kDays);
  EXPECT_EQ(engine.DeleteTickRange(20240103, 20240104).outcome, Outcome::kDone);
  const std::vector<StoredDay> kept = {kDays[0], kDays[3]};
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000001")), IndexBytes(kept, 0));
  EXPECT_EQ(ReadFileBytes(layout.TickDataFile("sz000001")), DataBytes(kept));
  EXPECT_EQ(test::StatusText(), "删除分笔数据完成!");
  EXPECT_TRUE(LogHas("删除分笔数据完成!"));
}

TEST_F(DeleteTickRangeTest, RangeWithoutEntriesStillRewrites) {
  WritePair(layout, "sz000001", kDays);
  EXPECT_EQ(engine.DeleteTickRange(20230101, 20230105).outcome, Outcome::kDone);
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000001")), IndexBytes(kDays, 0));
  EXPECT_EQ(ReadFileBytes(layout.TickDataFile("sz000001")), DataBytes(kDays));
}

TEST_F(DeleteTickRangeTest, EmptiedPairIsRemovedWithItsTemporaries) {
  WritePair(layout, "sz000001", kDays);
  WritePair(layout, "sz000002", {kDays[1]});
  EXPECT_EQ(engine.DeleteTickRange(20240101, 20240105).outcome, Outcome::kDone);
  EXPECT_TRUE(PathExists(layout.TickIndexFile("sz000001")));
  EXPECT_FALSE(PathExists(layout.TickIndexFile("sz000002")) || PathExists(layout.TickDataFile("sz000002")));
  EXPECT_EQ(engine.DeleteTickRange(20240101, 20241231).outcome, Outcome::kDone);
  EXPECT_FALSE(PathExists(layout.TickIndexFile("sz000001")) || PathExists(layout.TickDataFile("sz000001")));
  EXPECT_FALSE(PathExists(layout.TickIndexTemp()) || PathExists(layout.TickDataTemp()));
}

TEST_F(DeleteTickRangeTest, UnusablePairsAreLeftAlone) {
  WritePair(layout, "sz000003", kDays);
  Bytes index = IndexBytes(kDays);
  index[12] = 9;
  WriteFileBytes(layout.TickIndexFile("sz000003"), index);
  WritePair(layout, "sz000004", kDays);
  Bytes shortData = DataBytes(kDays);
  shortData.pop_back();
  WriteFileBytes(layout.TickDataFile("sz000004"), shortData);
  const OperationResult result = engine.DeleteTickRange(20240101, 20240105);
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  EXPECT_EQ(result.failedItems, 2);
  EXPECT_EQ(result.message.find("完成!"), std::string::npos) << result.message;
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000003")), index);
  EXPECT_EQ(ReadFileBytes(layout.TickDataFile("sz000004")), shortData);
  EXPECT_TRUE(LogHas("sz000003分笔文件已损坏, 未更新!"));
  EXPECT_TRUE(LogHas("sz000004分笔文件已损坏, 未更新!"));
}

TEST_F(DeleteTickRangeTest, EmptyStoreReturnsZeroSilently) {
  EXPECT_EQ(engine.DeleteTickRange(20240101, 20240105).outcome, Outcome::kNothingToDo);
  EXPECT_EQ(test::StatusText(), "正在删除20240101-20240105时间段的分笔数据...");
}

TEST_F(DeleteTickRangeTest, CancelStopsAfterTheFirstFile) {
  WritePair(layout, "sz000001", kDays);
  WritePair(layout, "sz000002", kDays);
  engine.Cancel();
  EXPECT_EQ(engine.DeleteTickRange(20240102, 20240102).outcome, Outcome::kCancelled);
  EXPECT_EQ(ReadFileBytes(layout.TickDataFile("sz000002")), DataBytes(kDays));
  EXPECT_NE(ReadFileBytes(layout.TickDataFile("sz000001")), DataBytes(kDays));
  EXPECT_TRUE(LogHas("删除分笔数据操作被取消!"));
}

TEST_F(DeleteTickRangeTest, RangeEdgesAreInclusiveAndEntriesKeepTheirFields) {
  std::vector<StoredDay> days = kDays;
  days[3].refPrice = 123.456;
  days[3].priceDecimals = 4;
  days[3].spare = 0x5A;
  WritePair(layout, "sh600000", days);
  EXPECT_EQ(engine.DeleteTickRange(20240103, 20240104).outcome, Outcome::kDone);
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sh600000")), IndexBytes({days[0], days[3]}, 0));
  EXPECT_EQ(ReadFileBytes(layout.TickDataFile("sh600000")), DataBytes({days[0], days[3]}));
}

// Only exact names are visited: sz0000029.vid is not a security's index.
TEST_F(DeleteTickRangeTest, MessagesNameEachExactStem) {
  WritePair(layout, "sz000001", kDays);
  WriteFileBytes(layout.TickStoreDir() + "sz0000029.vid", IndexBytes(kDays));
  WritePair(layout, "sz000002", kDays);
  StatusRecorder recorder;
  EXPECT_EQ(engine.DeleteTickRange(20240102, 20240102).outcome, Outcome::kDone);
  EXPECT_EQ(recorder.Lines(),
            (std::vector<std::string>{"正在删除20240102-20240102时间段的分笔数据...", "正在删除股票sz000001分笔数据",
                                      "正在删除股票sz000002分笔数据", "删除分笔数据完成!"}));
  EXPECT_EQ(ReadFileBytes(layout.TickStoreDir() + "sz0000029.vid"), IndexBytes(kDays));
  const std::vector<StoredDay> kept(kDays.begin() + 1, kDays.end());
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000002")), IndexBytes(kept, 0));
  EXPECT_NE(ReadRunLog().find("删除分笔数据完成!"), std::string::npos);
}

TEST_F(DeleteTickRangeTest, EmptyOrDotFilesAreNotCounted) {
  WriteFileBytes(layout.TickStoreDir() + "sz000001.vid", {});
  WriteFileBytes(layout.TickStoreDir() + ".sz000002.vid", IndexBytes(kDays));
  EXPECT_EQ(engine.DeleteTickRange(20240102, 20240102).outcome, Outcome::kNothingToDo);
  EXPECT_EQ(engine.CheckTickFiles().outcome, Outcome::kNothingToDo);
  EXPECT_EQ(test::StatusText(), "路径不存在或无分笔数据!");
}

// One crafted pair per rule of the check, and the message it must give.
struct CheckCase {
  const char* name;
  std::function<void(Bytes& index, Bytes& data)> damage;
  const char* message;  // empty: a good pair
};

void PutInt(Bytes& b, std::size_t offset, int32_t v) { std::memcpy(b.data() + offset, &v, 4); }
constexpr std::size_t EntryAt(std::size_t k) { return 16 + 22 * k; }

class CheckTickFileTest : public ::testing::TestWithParam<CheckCase> {
 protected:
  TestTree tree;
  DataLayout layout = tree.layout();
  TickEngine engine{layout};
};

TEST_P(CheckTickFileTest, FirstFailingRuleGivesItsMessage) {
  Bytes index = IndexBytes(kDays), data = DataBytes(kDays);
  GetParam().damage(index, data);
  WriteFileBytes(layout.TickIndexFile("sz000001"), index);
  if (!data.empty() || std::string(GetParam().name) != "noData") WriteFileBytes(layout.TickDataFile("sz000001"), data);
  const std::string expected = std::string(GetParam().message);
  EXPECT_EQ(engine.CheckTickFile("sz000001"), expected.empty());
  if (!expected.empty()) {
    EXPECT_EQ(test::StatusText(), expected);
    EXPECT_TRUE(LogHas(expected));
  }
}

INSTANTIATE_TEST_SUITE_P(
    NineRules, CheckTickFileTest,
    ::testing::Values(
        CheckCase{"good", [](Bytes&, Bytes&) {}, ""},
        CheckCase{"noData", [](Bytes&, Bytes& d) { d.clear(); }, "sz000001文件打开失败!"},
        CheckCase{"emptyData", [](Bytes&, Bytes& d) { d.clear(); }, "sz000001索引文件长度异常!"},
        CheckCase{"shortIndex", [](Bytes& i, Bytes&) { i.resize(15); }, "sz000001索引文件长度异常!"},
        CheckCase{"oddIndex", [](Bytes& i, Bytes&) { i.push_back(0); }, "sz000001索引文件长度异常!"},
        CheckCase{"countMismatch", [](Bytes& i, Bytes&) { PutInt(i, 12, 3); }, "sz000001索引文件长度校验异常!"},
        CheckCase{"noEntries", [](Bytes& i, Bytes&) { i.resize(16); PutInt(i, 12, 0); },
                  "sz000001索引文件长度校验异常!"},
        CheckCase{"lastDateEarly", [](Bytes& i, Bytes&) { PutInt(i, 8, 20240105); },
                  "sz000001索引文件日期信息异常!"},
        CheckCase{"firstAfterLast", [](Bytes& i, Bytes&) { PutInt(i, 4, 20240109); },
                  "sz000001索引文件日期信息异常!"},
        CheckCase{"zeroUnpacked", [](Bytes& i, Bytes&) { PutInt(i, EntryAt(1) + 4, 0); },
                  "sz000001索引文件日期信息异常!"},
        CheckCase{"entryOutsideHeader", [](Bytes& i, Bytes&) { PutInt(i, EntryAt(1), 20240110); },
                  "sz000001索引文件日期信息异常!"},
        CheckCase{"sameDateTwice", [](Bytes& i, Bytes&) { PutInt(i, EntryAt(1), 20240102); },
                  "sz000001索引文件日期信息乱序!"},
        CheckCase{"dataOneByteLonger", [](Bytes&, Bytes& d) { d.push_back(0); },
                  "sz000001索引文件和数据文件不匹配!"},
        CheckCase{"negativeLength", [](Bytes& i, Bytes&) { PutInt(i, EntryAt(1) + 8, -1); },
                  "sz000001索引文件和数据文件不匹配!"},
        CheckCase{"uncheckedFieldsDoNotMatter",
                  [](Bytes& i, Bytes&) {
                   PutInt(i, 0, 77);
                   const double nan = std::numeric_limits<double>::quiet_NaN();
                   std::memcpy(i.data() + EntryAt(1) + 12, &nan, 8);
                   i[EntryAt(1) + 20] = 9;
                   i[EntryAt(1) + 21] = 0xFF;
                  },
                  ""},
        CheckCase{"lengthsAddUpDespiteANegativeOne",
                  [](Bytes& i, Bytes&) {
                   int32_t a, b;
                   std::memcpy(&a, i.data() + EntryAt(0) + 8, 4);
                   std::memcpy(&b, i.data() + EntryAt(1) + 8, 4);
                   PutInt(i, EntryAt(0) + 8, a + b + 1);
                   PutInt(i, EntryAt(1) + 8, -1);
                  },
                  ""},
        CheckCase{"headerRoomAroundEntriesIsFine", [](Bytes& i, Bytes&) { PutInt(i, 4, 20240101), PutInt(i, 8, 20240131); },
                  ""},
        CheckCase{"lengthBeforeOpen", [](Bytes& i, Bytes&) { i.resize(20); }, "sz000001索引文件长度异常!"},
        CheckCase{"countBeforeDates", [](Bytes& i, Bytes&) { PutInt(i, 12, 5), PutInt(i, 4, 0); },
                  "sz000001索引文件长度校验异常!"},
        CheckCase{"negativeCount", [](Bytes& i, Bytes&) { PutInt(i, 12, -4); }, "sz000001索引文件长度校验异常!"},
        CheckCase{"firstDateZero", [](Bytes& i, Bytes&) { PutInt(i, 4, 0); }, "sz000001索引文件日期信息异常!"},
        CheckCase{"lastDateNegative", [](Bytes& i, Bytes&) { PutInt(i, 8, -20240108); },
                  "sz000001索引文件日期信息异常!"},
        CheckCase{"headerFirstAfterFirstEntry", [](Bytes& i, Bytes&) { PutInt(i, 4, 20240103); },
                  "sz000001索引文件日期信息异常!"},
        // Entry 2 goes backwards and below the header's first date: rule 7 comes first.
        CheckCase{"backwardsBelowRangeIsADateFault", [](Bytes& i, Bytes&) { PutInt(i, EntryAt(2), 20240101); },
                  "sz000001索引文件日期信息异常!"},
        CheckCase{"backwardsInsideRangeIsDisorder", [](Bytes& i, Bytes&) { PutInt(i, EntryAt(2), 20240102); },
                  "sz000001索引文件日期信息乱序!"},
        // Rules 7 and 8 go entry by entry: an earlier disorder wins over a later zero length.
        CheckCase{"earlierDisorderBeforeLaterZeroLength",
                  [](Bytes& i, Bytes&) { PutInt(i, EntryAt(1), 20240102), PutInt(i, EntryAt(3) + 4, 0); },
                  "sz000001索引文件日期信息乱序!"},
        CheckCase{"earlierZeroLengthBeforeLaterDisorder",
                  [](Bytes& i, Bytes&) { PutInt(i, EntryAt(1) + 4, -7), PutInt(i, EntryAt(3), 20240103); },
                  "sz000001索引文件日期信息异常!"},
        CheckCase{"disorderBeforeMismatch", [](Bytes& i, Bytes& d) { PutInt(i, EntryAt(3), 20240104), d.pop_back(); },
                  "sz000001索引文件日期信息乱序!"},
        CheckCase{"dataOneByteShort", [](Bytes&, Bytes& d) { d.pop_back(); }, "sz000001索引文件和数据文件不匹配!"}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

class CheckTickFilesTest : public ::testing::Test {
 protected:
  TestTree tree;
  DataLayout layout = tree.layout();
  TickEngine engine{layout};
};

// Only exact names are checked: sz0000029.vid is not a security's index.
TEST_F(CheckTickFilesTest, CountsDamagedPairsOfExactNames) {
  WritePair(layout, "sz000001", kDays);
  WriteFileBytes(layout.TickIndexFile("sz000002"), IndexBytes(kDays));  // data file missing
  WriteFileBytes(layout.TickIndexFile("sz0000029"), IndexBytes(kDays));
  WritePair(layout, "sh600000", kDays);
  Bytes data = DataBytes(kDays);
  data.push_back(1);
  WriteFileBytes(layout.TickDataFile("sh600000"), data);
  const OperationResult result = engine.CheckTickFiles();
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  EXPECT_EQ(result.failedItems, 2);
  EXPECT_EQ(result.message, "共有2支股票分笔文件出错!");
  EXPECT_TRUE(LogHas("sz000002文件打开失败!"));
  EXPECT_TRUE(LogHas("sh600000索引文件和数据文件不匹配!"));
  EXPECT_FALSE(LogHas("sz0000029"));
  std::vector<StoredDay> days = kDays;  // a block that does not decode: only the deep check finds it
  days[2].stored = Compress(Bytes(days[2].unpackedLength, 0xFF));
  WritePair(layout, "sz000003", days);
  EXPECT_EQ(engine.CheckTickFiles(true).failedItems, 3);
}

TEST_F(CheckTickFilesTest, EmptyStoreIsReported) {
  const OperationResult result = engine.CheckTickFiles();
  EXPECT_EQ(result.outcome, Outcome::kNothingToDo);
  EXPECT_EQ(result.failedItems, 0);
  EXPECT_EQ(test::StatusText(), "路径不存在或无分笔数据!");
  EXPECT_TRUE(LogHas("路径不存在或无分笔数据!"));
}

TEST_F(CheckTickFilesTest, CancelStopsAfterTheFirstPairAndReturnsWhatWasFound) {
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

TEST_F(CheckTickFilesTest, GoodPairsLeaveOnlyTheirCheckingLines) {
  WritePair(layout, "sz000001", kDays);
  WritePair(layout, "sh600000", kDays);
  StatusRecorder recorder;
  const OperationResult result = engine.CheckTickFiles();
  EXPECT_EQ(result.outcome, Outcome::kDone);
  EXPECT_EQ(result.message, "共有0支股票分笔文件出错!");
  EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"正在检查sh600000分笔数据", "正在检查sz000001分笔数据"}));
  EXPECT_DOUBLE_EQ(test::ProgressFraction(), 0.5);
}

}  // namespace
}  // namespace marbloom::test
