// The record store: layout, insert/append/replace, odd file lengths, reads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>

#include "common/little_endian.h"
#include "daily/daily_store.h"
#include "daily_test_util.h"

namespace marbloom::test {
namespace {

class DailyStoreTest : public DailyTreeTest {
 protected:
  OperationEngine counter;  // counts the store's failures
  DailyStore engine{layout, counter};
  std::string path = DailyFilePath(0, "000001");
};

TEST(DailyRecordLayout, FieldsLieAtTheirOffsetsLittleEndian) {
  DailyRecord r{};
  r.date = 20220505;
  r.open = -2;
  r.high = 0x01020304;
  r.low = 7;
  r.close = 1001;
  r.amount = 1.5f;
  r.volume = 3000000000u;
  r.word28 = 0x1234;
  r.word30 = PackMultiplierMarker(100, kLotFormMarker);
  uint8_t b[32];
  std::memcpy(b, &r, sizeof b);
  EXPECT_EQ(LoadLE<uint32_t>(b + 0), 20220505u);
  EXPECT_EQ(LoadLE<int32_t>(b + 4), -2);
  EXPECT_EQ(b[8], 0x04);
  EXPECT_EQ(b[11], 0x01);
  EXPECT_EQ(LoadLE<int32_t>(b + 16), 1001);
  EXPECT_EQ(LoadLE<uint32_t>(b + 20), 0x3FC00000u);  // 1.5f
  EXPECT_EQ(LoadLE<uint32_t>(b + 24), 3000000000u);
  EXPECT_EQ(b[28], 0x34);
  EXPECT_EQ(b[29], 0x12);
  EXPECT_EQ(b[30], 100);
  EXPECT_EQ(b[31], 0xC3);
}

TEST_F(DailyStoreTest, MissingFileIsCreatedWithTheOneRecord) {
  ASSERT_TRUE(engine.StoreDailyRecord(0, "000001", Rec(20220505)));
  EXPECT_EQ(ReadFileBytes(path), Bytes({Rec(20220505)}));
}

TEST_F(DailyStoreTest, LaterDateAppendsEarlierInsertsEqualReplaces) {
  WriteDaily(0, "000001", {Rec(20220503), Rec(20220505), Rec(20220509)});
  engine.StoreDailyRecord(0, "000001", Rec(20220510));
  EXPECT_EQ(Dates(path), (std::vector<uint32_t>{20220503, 20220505, 20220509, 20220510}));
  engine.StoreDailyRecord(0, "000001", Rec(20220504, 7));
  EXPECT_EQ(ReadFileBytes(path),
            Bytes({Rec(20220503), Rec(20220504, 7), Rec(20220505), Rec(20220509), Rec(20220510)}));
  engine.StoreDailyRecord(0, "000001", Rec(20220505, 99));
  EXPECT_EQ(ReadFileBytes(path),
            Bytes({Rec(20220503), Rec(20220504, 7), Rec(20220505, 99), Rec(20220509), Rec(20220510)}));
  engine.StoreDailyRecord(0, "000001", Rec(20220101));
  EXPECT_EQ(Dates(path).front(), 20220101u);
  EXPECT_EQ(Dates(path).size(), 6u);
}

TEST_F(DailyStoreTest, ShortFileIsOverwrittenBySingleRecord) {
  WriteFileBytes(path, {1, 2, 3, 4, 5});
  engine.StoreDailyRecord(0, "000001", Rec(20220505));
  EXPECT_EQ(ReadFileBytes(path), Bytes({Rec(20220505)}));
}

TEST_F(DailyStoreTest, TrailingPartialRecordIsCoveredOnGrowthAndKeptOnReplace) {
  std::vector<uint8_t> forty = Bytes({Rec(20220505)});
  forty.insert(forty.end(), {9, 9, 9, 9, 9, 9, 9, 9});
  WriteFileBytes(path, forty);
  engine.StoreDailyRecord(0, "000001", Rec(20220505, 55));
  std::vector<uint8_t> replaced = Bytes({Rec(20220505, 55)});
  replaced.insert(replaced.end(), {9, 9, 9, 9, 9, 9, 9, 9});
  EXPECT_EQ(ReadFileBytes(path), replaced);
  engine.StoreDailyRecord(0, "000001", Rec(20220506));
  EXPECT_EQ(ReadFileBytes(path), Bytes({Rec(20220505, 55), Rec(20220506)}));
}

TEST_F(DailyStoreTest, OutOfOrderFileIsDamagedAndLeftAlone) {
  WriteDaily(0, "000001", {Rec(20220505), Rec(20220503), Rec(20220509)});
  EXPECT_FALSE(engine.StoreDailyRecord(0, "000001", Rec(20220510)));
  EXPECT_EQ(Dates(path), (std::vector<uint32_t>{20220505, 20220503, 20220509}));
}

TEST_F(DailyStoreTest, DatesCompareUnsigned) {
  WriteDaily(0, "000001", {Rec(20220505), Rec(0x90000000u)});
  engine.StoreDailyRecord(0, "000001", Rec(20220506));
  EXPECT_EQ(Dates(path), (std::vector<uint32_t>{20220505, 20220506, 0x90000000u}));
}

// The stored bytes equal those of reading the file, inserting in memory and
// rewriting it whole from offset 0 (files never shrink).
std::vector<uint8_t> ReferenceStore(std::vector<uint8_t> file, const DailyRecord& rec) {
  if (file.size() < 32) {
    file.resize(std::max<std::size_t>(file.size(), 32));
    std::memcpy(file.data(), &rec, 32);
    return file;
  }
  std::vector<DailyRecord> records = Records(file);
  std::size_t i = 0;
  while (i < records.size() && records[i].date < rec.date) ++i;
  if (i < records.size() && records[i].date == rec.date)
    records[i] = rec;
  else
    records.insert(records.begin() + static_cast<std::ptrdiff_t>(i), rec);
  std::vector<uint8_t> written = Bytes(records);
  if (file.size() > written.size()) written.insert(written.end(), file.begin() + static_cast<std::ptrdiff_t>(written.size()), file.end());
  return written;
}

TEST_F(DailyStoreTest, RandomStoresMatchWholeFileRewrite) {
  std::mt19937 random(7);
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> file(random() % 200);
    for (uint8_t& b : file) b = static_cast<uint8_t>(random());
    for (std::size_t at = 0; at + 4 <= file.size(); at += 32) StoreLE<uint32_t>(&file[at], 20220500 + at / 8);
    WriteFileBytes(path, file);
    for (int k = 0; k < 6; ++k) {
      DailyRecord rec = Rec(20220500 + random() % 22, static_cast<int32_t>(random() % 5000));
      file = ReferenceStore(file, rec);
      ASSERT_TRUE(engine.StoreDailyRecord(0, "000001", rec));
      ASSERT_EQ(ReadFileBytes(path), file) << "round " << round << " store " << k;
    }
  }
}

TEST_F(DailyStoreTest, CreateFailureIsLoggedAndNothingIsMade) {
  std::filesystem::remove_all(layout.DailyDir(1));
  const std::string shPath = DailyFilePath(1, "600000");
  EXPECT_FALSE(engine.StoreDailyRecord(1, "600000", Rec(20220505)));
  EXPECT_FALSE(engine.WriteDailyRecord(1, "600000", 20220505, Rec(20220505)));
  const std::string log = LogText();
  EXPECT_NE(log.find("创建" + shPath + "文件失败!"), std::string::npos);
  EXPECT_NE(log.find("写入" + shPath + "文件失败!"), std::string::npos);
  EXPECT_EQ(test::StatusText(), "");
}

TEST_F(DailyStoreTest, FailedWriteIsLoggedAndNotReportedAsStored) {
  faults.NoSpaceAfter(0);
  EXPECT_FALSE(DailyStore(layout.WithFiles(faults), counter).WriteDailyRecord(0, "000001", 20220505, Rec(20220505)));
  EXPECT_NE(LogText().find("写入" + path + "文件失败!"), std::string::npos);
}

// The fault seam's own table: each injected failure fails an insert (a
// temporary renamed over the file) and leaves the file as it was. Rows: no
// room for the temporary's second record, a failed rename, a short read, then
// a stop at each change: a stale temporary's removal, its creation, its
// write, its rename.
TEST_F(DailyStoreTest, EachInjectedFaultFailsTheInsertAndKeepsTheFile) {
  WriteDaily(0, "000001", {Rec(20220503), Rec(20220506)});
  const std::vector<uint8_t> before = ReadFileBytes(path);
  for (std::size_t row = 0; row < 7; ++row) {
    FaultFileSystem files;
    if (row == 0) files.NoSpaceAfter(32);
    if (row == 1) files.FailRenames(".day");
    if (row == 2) files.ShortReads(".day");
    if (row >= 3) files.CrashAt(row - 2, FaultFileSystem::Crash::kFailLater);
    EXPECT_FALSE(DailyStore(layout.WithFiles(files), counter).StoreDailyRecord(0, "000001", Rec(20220505))) << row;
    EXPECT_EQ(ReadFileBytes(path), before) << row;
  }
  EXPECT_TRUE(DailyStore(layout.WithFiles(faults), counter).StoreDailyRecord(0, "000001", Rec(20220505)));
  EXPECT_EQ(faults.Changes().size(), 4u);
}

TEST_F(DailyStoreTest, EntryThatCannotBeOpenedForUpdateIsLeftAlone) {
  std::filesystem::create_directory(path);  // exists, but is no file
  EXPECT_FALSE(engine.WriteDailyRecord(0, "000001", 20220506, Rec(20220506)));
  EXPECT_TRUE(std::filesystem::is_directory(path));
  EXPECT_NE(LogText().find("写入" + path + "文件失败!"), std::string::npos);
}

TEST_F(DailyStoreTest, ReadFindsFirstOccurrenceOfExactDate) {
  WriteDaily(0, "000001", {Rec(20220503), Rec(20220505, 1), Rec(20220505, 2)});
  DailyRecord out{};
  ASSERT_TRUE(engine.ReadDailyRecord(0, "000001", 20220505, &out));
  EXPECT_EQ(out.close, 1);
  EXPECT_FALSE(engine.ReadDailyRecord(0, "000001", 20220504, &out));
  EXPECT_EQ(LogText(), "");
}

TEST_F(DailyStoreTest, ReadOfShortOrMissingFileLogsAndFindsNothing) {
  WriteFileBytes(path, std::vector<uint8_t>(31, 1));
  DailyRecord out{};
  EXPECT_FALSE(engine.ReadDailyRecord(0, "000001", 20220505, &out));
  EXPECT_FALSE(engine.ReadDailyRecord(0, "000002", 20220505, &out));
  const std::string log = LogText();
  EXPECT_NE(log.find(path + "文件无数据!"), std::string::npos);
  EXPECT_NE(log.find("读取" + DailyFilePath(0, "000002") + "文件失败!"), std::string::npos);
}

}  // namespace
}  // namespace marbloom::test
