#include <gtest/gtest.h>

#include <cstring>

#include "tickdata/tick_codec.h"
#include "tickdata/tick_pair.h"
#include "tickdata/tick_reader.h"
#include "tick_test_support.h"

namespace marbloom::test {
namespace {

class ReadTickDayTest : public ::testing::Test {
 protected:
  TestTree tree;
  DataLayout layout = tree.layout();
  std::vector<StoredDay> days = {MakeDay(20240102, 1), MakeDay(20240103, 2, 7), MakeDay(20240104, 3, 40)};
};

TEST_F(ReadTickDayTest, ReadsEachDayAtItsOffset) {
  WritePair(layout, "sz000001", days);
  for (std::size_t k = 0; k < days.size(); ++k) {
    auto day = ReadTickDay(layout, 0, "000001", days[k].date);
    ASSERT_TRUE(day) << k;
    EXPECT_EQ(day->date, days[k].date);
    EXPECT_EQ(day->refPrice, days[k].refPrice);
    std::vector<TestTick> src = SampleTicks(k == 0 ? 20 : k == 1 ? 7 : 40, static_cast<int>(k) + 1);
    ASSERT_EQ(day->ticks.size(), src.size());
    for (std::size_t i = 0; i < src.size(); ++i) {
      EXPECT_EQ(day->ticks[i].price, src[i].price * 100);
      EXPECT_EQ(day->ticks[i].volume, src[i].volume);
      EXPECT_EQ(day->ticks[i].extra, src[i].plain);  // sz000001 is not a running-extra type
      EXPECT_EQ(day->ticks[i].kind, src[i].kind);
      EXPECT_EQ(day->ticks[i].minute * 60 + day->ticks[i].second, src[i].seconds);
    }
  }
  EXPECT_FALSE(ReadTickDay(layout, 0, "000001", 20240105));
  EXPECT_FALSE(ReadTickDay(layout, 1, "000001", 20240102));
}

TEST_F(ReadTickDayTest, UncompressedBlockIsReadAsStored) {
  Bytes raw = EncodeBlock(SampleTicks(5, 9));
  WritePair(layout, "sh600000", {StoredDay{20240102, raw, static_cast<int32_t>(raw.size())}});
  auto day = ReadTickDay(layout, 1, "600000", 20240102);
  ASSERT_TRUE(day);
  EXPECT_EQ(day->ticks.size(), 5u);
}

TEST_F(ReadTickDayTest, RunningExtraTypes) {
  // sz159xxx is type 14: extra carries the running value.
  WritePair(layout, "sz159001", days);
  auto day = ReadTickDay(layout, 0, "159001", 20240102);
  ASSERT_TRUE(day);
  EXPECT_EQ(day->ticks[3].extra, 5030);
}

TEST_F(ReadTickDayTest, DamagedPairsFailWithoutReadingOutside) {
  const std::string stem = "sz000002";
  WritePair(layout, stem, days);
  Bytes index = ReadFileBytes(layout.TickIndexFile(stem));
  Bytes data = ReadFileBytes(layout.TickDataFile(stem));

  auto withIndex = [&](std::size_t offset, int32_t value) {
    Bytes copy = index;
    std::memcpy(copy.data() + offset, &value, 4);
    WriteFileBytes(layout.TickIndexFile(stem), copy);
  };
  withIndex(4, 19891231);  // header dates are not what decides whether a day reads
  EXPECT_TRUE(ReadTickDay(layout, 0, "000002", 20240102));
  withIndex(12, 0);  // count 0
  EXPECT_FALSE(ReadTickDay(layout, 0, "000002", 20240102));
  withIndex(12, 4);  // count past the file
  EXPECT_FALSE(ReadTickDay(layout, 0, "000002", 20240102));
  withIndex(12, 0x7FFFFFFF);
  EXPECT_FALSE(ReadTickDay(layout, 0, "000002", 20240102));
  // A data file that does not match its index reads nothing, not even the
  // blocks that lie inside it: they may be another version's.
  withIndex(16 + 22 * 2 + 8, 1 << 30);  // last block's length past the data file
  EXPECT_FALSE(ReadTickDay(layout, 0, "000002", 20240104));
  EXPECT_FALSE(ReadTickDay(layout, 0, "000002", 20240102));
  withIndex(16 + 8, -5);  // negative length moves later offsets before the file
  EXPECT_FALSE(ReadTickDay(layout, 0, "000002", 20240102));
  EXPECT_FALSE(ReadTickDay(layout, 0, "000002", 20240103));
  withIndex(16 + 4, 0);  // unpackedLength 0
  EXPECT_FALSE(ReadTickDay(layout, 0, "000002", 20240102));

  WriteFileBytes(layout.TickIndexFile(stem), index);
  WriteFileBytes(layout.TickDataFile(stem), Bytes(data.begin(), data.end() - 1));
  EXPECT_FALSE(ReadTickDay(layout, 0, "000002", 20240104));
  EXPECT_FALSE(ReadTickDay(layout, 0, "000002", 20240103));
  std::remove(layout.TickDataFile(stem).c_str());
  EXPECT_FALSE(ReadTickDay(layout, 0, "000002", 20240102));
}

TEST_F(ReadTickDayTest, RefusesCodesThatAreNotSixDigits) {
  EXPECT_FALSE(ReadTickDay(layout, 0, "../x01", 20240102));
  EXPECT_FALSE(ReadTickDay(layout, 3, "000001", 20240102));
}

class LoadTickArchiveTest : public ::testing::Test {
 protected:
  TestTree tree;
  DataLayout layout = tree.layout();
};

TEST_F(LoadTickArchiveTest, DirectoryHoldsEveryEntryWithItsBlockOffset) {
  std::vector<ArchiveItem> items = {{0, "000001", MakeDay(20240105, 1)}, {1, "600000", MakeDay(20240105, 2)}};
  WriteArchive(layout, 20240105, items);
  auto archive = LoadTickArchive(layout, 20240105).archive;
  ASSERT_TRUE(archive);
  EXPECT_TRUE(archive->file.valid());
  EXPECT_EQ(archive->securityCount, 2);
  ASSERT_EQ(archive->directory.size(), 2u);
  EXPECT_STREQ(archive->directory[0].code, "000001");
  EXPECT_EQ(archive->directory[0].blockOffset, 16 + 30);
  EXPECT_EQ(archive->directory[1].market, 1);
  EXPECT_EQ(archive->directory[1].blockOffset,
            16 + 30 + static_cast<int64_t>(items[0].day.stored.size()) + 30);
  EXPECT_EQ(archive->directory[1].spare, 2);
  EXPECT_EQ(archive->directory[1].unpackedLength, items[1].day.unpackedLength);
}

TEST_F(LoadTickArchiveTest, OneBadEntryRejectsTheWholeDay) {
  std::vector<ArchiveItem> items = {{0, "000001", MakeDay(20240105, 1)}, {0, "000002", MakeDay(20240104, 2)}};
  WriteArchive(layout, 20240105, items);
  EXPECT_FALSE(LoadTickArchive(layout, 20240105).archive);
  const TickArchiveLoad missing = LoadTickArchive(layout, 20240108);
  EXPECT_FALSE(missing.archive);  // no file: nothing to report
  EXPECT_TRUE(missing.failure.empty());
  WriteArchive(layout, 20240105, {});
  EXPECT_FALSE(LoadTickArchive(layout, 20240105).archive);  // securityCount 0

  Bytes good = ArchiveBytes({{0, "000001", MakeDay(20240105, 1)}});
  Bytes huge = good;
  int32_t count = 1 << 30;
  std::memcpy(huge.data() + 12, &count, 4);
  WriteFileBytes(layout.TickArchiveFile(20240105), huge);
  EXPECT_FALSE(LoadTickArchive(layout, 20240105).archive);
  Bytes zeroLength = good;
  std::memset(zeroLength.data() + 16 + 16, 0, 4);
  WriteFileBytes(layout.TickArchiveFile(20240105), zeroLength);
  const TickArchiveLoad bad = LoadTickArchive(layout, 20240105);
  EXPECT_FALSE(bad.archive);
  EXPECT_FALSE(bad.failure.empty());
}

// The last block may run past the end: the day loads and only that block fails to read.
TEST_F(LoadTickArchiveTest, LastBlockCutShortLoadsAndFailsOnlyItsRead) {
  const Bytes good = ArchiveBytes({{0, "000001", MakeDay(20240105, 1)}, {0, "000002", MakeDay(20240105, 2)}});
  for (std::size_t cut : {std::size_t{1}, MakeDay(20240105, 2).stored.size()}) {
    WriteFileBytes(layout.TickArchiveFile(20240105),
                   Bytes(good.begin(), good.end() - static_cast<std::ptrdiff_t>(cut)));
    const TickArchiveLoad load = LoadTickArchive(layout, 20240105);
    ASSERT_TRUE(load.archive) << cut;
    GrowBuffer<uint8_t> block;
    EXPECT_TRUE(ReadArchiveBlock(*load.archive, load.archive->directory[0], &block));
    EXPECT_FALSE(ReadArchiveBlock(*load.archive, load.archive->directory[1], &block));
  }
  // A block cut short before another entry leaves that entry unreadable: the day is rejected.
  WriteFileBytes(layout.TickArchiveFile(20240105), Bytes(good.begin(), good.begin() + 16 + 30 + 5));
  EXPECT_FALSE(LoadTickArchive(layout, 20240105).archive);
}

// Wednesday to Friday and the Monday after, 20 ticks a day.
const std::vector<StoredDay> kWeekDays = {MakeDay(20240103, 1), MakeDay(20240104, 2), MakeDay(20240105, 3),
                                          MakeDay(20240108, 4)};
void PutInt(Bytes& b, std::size_t offset, int32_t v) { std::memcpy(b.data() + offset, &v, 4); }

// Days read whenever the pair's entries are whole (the first five rules of the
// check); the header's dates decide nothing for a day.
TEST_F(ReadTickDayTest, HeaderDatesDoNotDecideWhetherADayReads) {
  struct Case {
    std::size_t offset;
    int32_t value;
    bool readable;
  };
  for (const Case& c : {Case{4, 19900101, true}, Case{4, 19891231, true}, Case{8, 20800101, true},
                        Case{8, 20800102, true}, Case{8, 20240103 - 1, true}, Case{12, 3, false}}) {
    Bytes index = IndexBytes(kWeekDays);
    PutInt(index, c.offset, c.value);
    WriteFileBytes(layout.TickIndexFile("sz000001"), index);
    WriteFileBytes(layout.TickDataFile("sz000001"), DataBytes(kWeekDays));
    EXPECT_EQ(ReadTickDay(layout, 0, "000001", 20240105).has_value(), c.readable) << c.offset << " " << c.value;
  }
}

TEST_F(ReadTickDayTest, AnIndexThatIsNotWholeReadsNoDay) {
  Bytes index = IndexBytes(kWeekDays);
  WriteFileBytes(layout.TickDataFile("sz000001"), DataBytes(kWeekDays));
  index.insert(index.end(), {1, 2, 3});  // not whole entries
  WriteFileBytes(layout.TickIndexFile("sz000001"), index);
  EXPECT_FALSE(ReadTickDay(layout, 0, "000001", 20240108));
  index.resize(index.size() - 3);
  PutInt(index, 12, 3);  // a count that disagrees with the entries
  WriteFileBytes(layout.TickIndexFile("sz000001"), index);
  EXPECT_FALSE(ReadTickDay(layout, 0, "000001", 20240105));
  PutInt(index, 12, 4);
  WriteFileBytes(layout.TickIndexFile("sz000001"), index);
  EXPECT_TRUE(ReadTickDay(layout, 0, "000001", 20240108));
}

TEST_F(ReadTickDayTest, DayReadsTheRefPriceAndRescalesByItsOwnDecimals) {
  std::vector<StoredDay> days = kWeekDays;
  days[2].priceDecimals = 3;
  days[2].refPrice = 7.125;
  WritePair(layout, "sz000001", days);
  EXPECT_FALSE(ReadTickDay(layout, 0, "000001", 20240106));  // between two stored days
  auto day = ReadTickDay(layout, 0, "000001", 20240105);
  ASSERT_TRUE(day);
  EXPECT_EQ(day->date, 20240105);
  EXPECT_EQ(day->refPrice, 7.125);
  const std::vector<TestTick> ticks = SampleTicks(20, 3);
  ASSERT_EQ(day->ticks.size(), ticks.size());
  for (std::size_t i = 0; i < ticks.size(); ++i) EXPECT_EQ(day->ticks[i].price, ticks[i].price * 10) << i;
}

// One reader across securities and days: each day as stored, a repeated date
// read from its first entry, days that do not read refused.
TEST(TickSecurityReaderTest, OneReaderReadsEveryDayOfEverySecurity) {
  TestTree tree;
  const DataLayout layout = tree.layout();
  std::vector<StoredDay> days = {MakeDay(20240102, 1), MakeDay(20240103, 2, 300), MakeDay(20240104, 3, 5)};
  const Bytes raw = EncodeBlock(SampleTicks(9, 4));
  days.push_back(StoredDay{20240105, raw, static_cast<int32_t>(raw.size())});  // stored, not packed
  days.push_back(MakeDay(20240103, 5, 12));                                     // a repeated date
  WritePair(layout, "sz159001", days);
  std::vector<StoredDay> damaged = days;
  damaged[1].stored[damaged[1].stored.size() / 2] ^= 0xFF;  // does not decode
  damaged[2].unpackedLength = -5;
  WritePair(layout, "sh600000", damaged);
  struct Expected {
    int date;
    int ticks;  // 0: does not read
    int seed;
  };
  TickSecurityReader reader(layout);
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(TickPairIsWhole(reader.Open(0, "159001")));
    for (const Expected& e : {Expected{20240102, 20, 1}, Expected{20240103, 300, 2}, Expected{20240104, 5, 3},
                              Expected{20240105, 9, 4}, Expected{20240108, 0, 0}}) {
      TickDayView view;
      ASSERT_EQ(reader.ReadDay(e.date, &view), e.ticks > 0) << e.date;
      if (e.ticks == 0) continue;
      const std::vector<TestTick> src = SampleTicks(e.ticks, e.seed);
      ASSERT_EQ(view.count, src.size());
      EXPECT_EQ(view.ticks[e.ticks - 1].volume, src.back().volume);
      EXPECT_EQ(view.ticks[e.ticks - 1].price, src.back().price * 100);
    }
    ASSERT_TRUE(TickPairIsWhole(reader.Open(1, "600000")));
    TickDayView view;
    EXPECT_TRUE(reader.ReadDay(20240102, &view));
    EXPECT_FALSE(reader.ReadDay(20240103, &view));
    EXPECT_FALSE(reader.ReadDay(20240104, &view));
    EXPECT_TRUE(reader.ReadDay(20240105, &view));
  }
}

TEST(TickSecurityReaderTest, EntriesOnlyForAWholeIndex) {
  TestTree tree;
  const DataLayout layout = tree.layout();
  const std::vector<StoredDay> days = {MakeDay(20240102, 1), MakeDay(20240103, 2)};
  WritePair(layout, "sz000001", days);
  TickSecurityReader securityReader(layout);
  ASSERT_EQ(securityReader.Open(0, "000001"), TickPairState::kSound);
  ASSERT_EQ(securityReader.Entries().size(), 2u);
  const int32_t secondDate = securityReader.Entries()[1].date;  // a packed field: read by value
  EXPECT_EQ(secondDate, 20240103);

  Bytes index = IndexBytes(days);
  index.push_back(0);  // not whole entries
  WriteFileBytes(layout.TickIndexFile("sz000001"), index);
  EXPECT_EQ(securityReader.Open(0, "000001"), TickPairState::kBadLength);
  EXPECT_TRUE(securityReader.Entries().empty());
  index.pop_back();
  index[12] = 3;  // the count disagrees with the entries
  WriteFileBytes(layout.TickIndexFile("sz000001"), index);
  EXPECT_EQ(securityReader.Open(0, "000001"), TickPairState::kCountMismatch);
  EXPECT_TRUE(securityReader.Entries().empty());
  EXPECT_EQ(securityReader.Open(0, "000009"), TickPairState::kNotOpened);
  EXPECT_EQ(securityReader.Open(0, "../x01"), TickPairState::kNotOpened);
}

}  // namespace
}  // namespace marbloom::test
