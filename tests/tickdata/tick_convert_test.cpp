#include <gtest/gtest.h>

#include <filesystem>

#include "app/settings.h"
#include "base/text_encoding.h"
#include "common/dir_walk.h"
#include "common/shared_state.h"
#include "support/temp_dir.h"
#include "tickdata/tick_engine.h"
#include "tick_test_support.h"

namespace marbloom::test {
namespace {

// 2024-01-08 .. 2024-01-12 is Monday to Friday.
// Whether today's run log holds the line.
bool LogHas(const std::string& message) { return ReadRunLog().find(message) != std::string::npos; }

constexpr int kMon = 20240108, kTue = 20240109, kWed = 20240110, kThu = 20240111;

class ConvertTickRangeTest : public ::testing::Test {
 protected:
  TestTree tree;
  TickEngine engine;
  TickReader reader;

  std::vector<StoredDay> PairDays(const std::string& stem) {
    Bytes index = ReadFileBytes(TickIndexPath(stem));
    Bytes data = ReadFileBytes(TickDataPath(stem));
    std::vector<StoredDay> days;
    if (index.size() < 16) return days;
    std::size_t offset = 0;
    for (std::size_t p = 16; p + 22 <= index.size(); p += 22) {
      TickIndexEntry e;
      std::memcpy(&e, index.data() + p, sizeof e);
      StoredDay d{e.date, Bytes(data.begin() + static_cast<std::ptrdiff_t>(offset),
                                data.begin() + static_cast<std::ptrdiff_t>(offset + static_cast<std::size_t>(e.dataLength))),
                  e.unpackedLength, e.refPrice, e.priceDecimals, e.spare};
      offset += static_cast<std::size_t>(e.dataLength);
      days.push_back(d);
    }
    return days;
  }
  static std::vector<int> Dates(const std::vector<StoredDay>& days) {
    std::vector<int> dates;
    for (const auto& d : days) dates.push_back(d.date);
    return dates;
  }
};

TEST_F(ConvertTickRangeTest, MergesInDateOrderReplacingEqualDays) {
  WritePair("sz000001", {MakeDay(20240102, 1), MakeDay(kMon, 2), MakeDay(kTue, 3), MakeDay(20240115, 4)});
  const StoredDay newMon = MakeDay(kMon, 20), newWed = MakeDay(kWed, 21);
  WriteArchive(kMon, {{0, "000001", newMon}});
  WriteArchive(kWed, {{0, "000001", newWed}});
  engine.ConvertTickRange(kMon, kThu);
  const std::vector<StoredDay> days = PairDays("sz000001");
  EXPECT_EQ(Dates(days), (std::vector<int>{20240102, kMon, kTue, kWed, 20240115}));
  EXPECT_EQ(days[1].stored, newMon.stored);
  EXPECT_EQ(days[1].spare, newMon.spare);
  EXPECT_EQ(days[2].stored, MakeDay(kTue, 3).stored);  // absent from every archive: kept
  EXPECT_EQ(days[3].stored, newWed.stored);
  Bytes index = ReadFileBytes(TickIndexPath("sz000001"));
  EXPECT_EQ(index, IndexBytes(days, 2));
  EXPECT_EQ(StatusText(), "分笔数据转档完成!");
  auto read = reader.ReadTickDay(0, "000001", kWed);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->ticks.size(), 20u);
}

TEST_F(ConvertTickRangeTest, AnUnreadableArchiveBlockLeavesTheOldDayOfThatDate) {
  const StoredDay oldMon = MakeDay(kMon, 2), oldTue = MakeDay(kTue, 3);
  WritePair("sz000001", {oldMon, oldTue});
  WriteArchive(kMon, {{0, "000001", MakeDay(kMon, 20)}});
  WriteArchive(kTue, {{0, "000001", MakeDay(kTue, 30)}});
  // The Tuesday archive loses its blocks after it was loaded, just before the
  // security is merged (a file cut short underneath the running conversion).
  const std::string tuesday = tree.historyDir() + "newdatetick/20240109.htc";
  SetStatusObserver([&](const std::string& line) {
    if (line == "转档sz000001分笔数据...") std::filesystem::resize_file(tuesday, 16 + 30);
  });
  engine.ConvertTickRange(kMon, kTue);
  SetStatusObserver(nullptr);
  const std::vector<StoredDay> days = PairDays("sz000001");
  ASSERT_EQ(Dates(days), (std::vector<int>{kMon, kTue}));
  EXPECT_EQ(days[0].stored, MakeDay(kMon, 20).stored);
  EXPECT_EQ(days[1].stored, oldTue.stored);
}

TEST_F(ConvertTickRangeTest, OldDayKeptWhereTheSecurityIsAbsentFromThatArchive) {
  const StoredDay oldTue = MakeDay(kTue, 5);
  WritePair("sh600000", {oldTue});
  WriteArchive(kMon, {{1, "600000", MakeDay(kMon, 6)}});
  WriteArchive(kTue, {{0, "000001", MakeDay(kTue, 7)}});
  engine.ConvertTickRange(kMon, kTue);
  auto days = PairDays("sh600000");
  EXPECT_EQ(Dates(days), (std::vector<int>{kMon, kTue}));
  EXPECT_EQ(days[1].stored, oldTue.stored);
}

TEST_F(ConvertTickRangeTest, SecurityOnlyInTheSecondArchiveGainsThatDay) {
  WriteArchive(kMon, {{0, "000001", MakeDay(kMon, 1)}});
  WriteArchive(kTue, {{0, "000001", MakeDay(kTue, 2)}, {2, "830001", MakeDay(kTue, 3)}});
  engine.ConvertTickRange(kMon, kTue);
  EXPECT_EQ(Dates(PairDays("bj830001")), std::vector<int>{kTue});
  EXPECT_EQ(Dates(PairDays("sz000001")), (std::vector<int>{kMon, kTue}));
  EXPECT_FALSE(PathExists(TickIndexTempPath()));
}

TEST_F(ConvertTickRangeTest, ConvertingTwiceIsByteIdentical) {
  WritePair("sz000002", {MakeDay(20240103, 1), MakeDay(kTue, 2)});
  WriteArchive(kMon, {{0, "000002", MakeDay(kMon, 3)}, {1, "600001", MakeDay(kMon, 4)}});
  WriteArchive(kTue, {{0, "000002", MakeDay(kTue, 5)}});
  engine.ConvertTickRange(kMon, kTue);
  const Bytes index = ReadFileBytes(TickIndexPath("sz000002")), data = ReadFileBytes(TickDataPath("sz000002"));
  const Bytes other = ReadFileBytes(TickDataPath("sh600001"));
  engine.ConvertTickRange(kMon, kTue);
  EXPECT_EQ(ReadFileBytes(TickIndexPath("sz000002")), index);
  EXPECT_EQ(ReadFileBytes(TickDataPath("sz000002")), data);
  EXPECT_EQ(ReadFileBytes(TickDataPath("sh600001")), other);
}

TEST_F(ConvertTickRangeTest, UnusableOldPairsAreReplacedByTheNewDaysOnly) {
  const std::vector<StoredDay> old = {MakeDay(20240102, 1), MakeDay(20240103, 2)};
  WritePair("sz000003", old);
  Bytes index = IndexBytes(old);
  index[12] = 3;  // header count disagrees with the length
  WriteFileBytes(TickIndexPath("sz000003"), index);
  WritePair("sz000004", old);
  Bytes data = DataBytes(old);
  WriteFileBytes(TickDataPath("sz000004"), Bytes(data.begin(), data.end() - 1));  // last block past the end
  WriteArchive(kMon, {{0, "000003", MakeDay(kMon, 3)}, {0, "000004", MakeDay(kMon, 4)}});
  engine.ConvertTickRange(kMon, kMon);
  EXPECT_EQ(Dates(PairDays("sz000003")), std::vector<int>{kMon});
  EXPECT_EQ(Dates(PairDays("sz000004")), std::vector<int>{kMon});
}

TEST_F(ConvertTickRangeTest, BadArchivesAndHostileCodesAreSkipped) {
  WriteArchive(kMon, {{0, "000001", MakeDay(kMon, 1)}, {0, "000002", MakeDay(kTue, 2)}});  // wrong date inside
  WriteArchive(kTue, {{0, "../../", MakeDay(kTue, 3)}, {5, "000005", MakeDay(kTue, 4)},
                      {1, "600009", MakeDay(kTue, 5)}});
  engine.ConvertTickRange(kMon, kTue);
  EXPECT_FALSE(PathExists(TickIndexPath("sz000001")));
  EXPECT_EQ(Dates(PairDays("sh600009")), std::vector<int>{kTue});
  EXPECT_EQ(ListCountedFiles(TickStoreDir(), "*.vid").size(), 1u);
}

TEST_F(ConvertTickRangeTest, NothingToLoadEndsSilently) {
  engine.ConvertTickRange(20240106, 20240107);  // a weekend
  EXPECT_EQ(StatusText(), "创建转档索引表!");
  engine.ConvertTickRange(kTue, kMon);
  EXPECT_EQ(StatusText(), "创建转档索引表!");
}

TEST_F(ConvertTickRangeTest, CancelFinishesTheCurrentSecurityOnly) {
  WriteArchive(kMon, {{0, "000001", MakeDay(kMon, 1)}, {0, "000002", MakeDay(kMon, 2)}});
  engine.Cancel();
  engine.ConvertTickRange(kMon, kMon);
  EXPECT_TRUE(PathExists(TickIndexPath("sz000001")));
  EXPECT_FALSE(PathExists(TickIndexPath("sz000002")));
  EXPECT_EQ(StatusText(), "分笔数据转档被取消!");
  EXPECT_TRUE(LogHas("分笔数据转档被取消!"));
}

}  // namespace
}  // namespace marbloom::test
