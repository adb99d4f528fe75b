#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "app/settings.h"
#include "base/text_encoding.h"
#include "common/dir_walk.h"
#include "common/shared_state.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"
#include "tickdata/tick_engine.h"
#include "tick_test_support.h"
#include "tickdata/minute_test_support.h"
#include "undo/journal_file_system.h"
#include "undo/undo_engine.h"

namespace marbloom::test {
namespace {

// 2024-01-08 .. 2024-01-12 is Monday to Friday.
// Whether today's run log holds the line.
bool LogHas(const std::string& message) { return ReadRunLog().find(message) != std::string::npos; }

constexpr int kMon = 20240108, kTue = 20240109, kWed = 20240110, kThu = 20240111, kFri = 20240112;
// The week before: Wednesday to Sunday.
constexpr int kWedBefore = 20240103, kThuBefore = 20240104, kFriBefore = 20240105, kSat = 20240106, kSun = 20240107;

void PutInt(Bytes& b, std::size_t offset, int32_t v) { std::memcpy(b.data() + offset, &v, 4); }

class ConvertTickRangeTest : public ::testing::Test {
 protected:
  TestTree tree;
  DataLayout layout = tree.layout();
  TickEngine engine{layout};

  std::vector<StoredDay> PairDays(const std::string& stem) {
    Bytes index = ReadFileBytes(layout.TickIndexFile(stem));
    Bytes data = ReadFileBytes(layout.TickDataFile(stem));
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
  WritePair(layout, "sz000001", {MakeDay(20240102, 1), MakeDay(kMon, 2), MakeDay(kTue, 3), MakeDay(20240115, 4)});
  const StoredDay newMon = MakeDay(kMon, 20), newWed = MakeDay(kWed, 21);
  WriteArchive(layout, kMon, {{0, "000001", newMon}});
  WriteArchive(layout, kWed, {{0, "000001", newWed}});
  EXPECT_TRUE(engine.ConvertTickRange(kMon, kThu).done());
  const std::vector<StoredDay> days = PairDays("sz000001");
  EXPECT_EQ(Dates(days), (std::vector<int>{20240102, kMon, kTue, kWed, 20240115}));
  EXPECT_EQ(days[1].stored, newMon.stored);
  EXPECT_EQ(days[1].spare, newMon.spare);
  EXPECT_EQ(days[2].stored, MakeDay(kTue, 3).stored);  // absent from every archive: kept
  EXPECT_EQ(days[3].stored, newWed.stored);
  Bytes index = ReadFileBytes(layout.TickIndexFile("sz000001"));
  EXPECT_EQ(index, IndexBytes(days, 2));
  EXPECT_EQ(test::StatusText(), "分笔数据转档完成!");
  auto read = ReadTickDay(layout, 0, "000001", kWed);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->ticks.size(), 20u);
}

TEST_F(ConvertTickRangeTest, AnUnreadableArchiveBlockLeavesTheOldDayOfThatDate) {
  const StoredDay oldMon = MakeDay(kMon, 2), oldTue = MakeDay(kTue, 3);
  WritePair(layout, "sz000001", {oldMon, oldTue});
  WriteArchive(layout, kMon, {{0, "000001", MakeDay(kMon, 20)}});
  WriteArchive(layout, kTue, {{0, "000001", MakeDay(kTue, 30)}});
  // The Tuesday archive loses its blocks after it was loaded, just before the
  // security is merged (a file cut short underneath the running conversion:
  // one worker, so that the status comes before the merge).
  engine.SetWorkers(1);
  const std::string tuesday = layout.TickArchiveFile(kTue);
  test::OnStatus([&](const std::string& line) {
    if (line == "转档sz000001分笔数据...") std::filesystem::resize_file(tuesday, 16 + 30);
  });
  const OperationResult result = engine.ConvertTickRange(kMon, kTue);
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  EXPECT_TRUE(LogHas("sz000001在" + tuesday + "中的分笔数据读取失败!"));
  const std::vector<StoredDay> days = PairDays("sz000001");
  ASSERT_EQ(Dates(days), (std::vector<int>{kMon, kTue}));
  EXPECT_EQ(days[0].stored, MakeDay(kMon, 20).stored);
  EXPECT_EQ(days[1].stored, oldTue.stored);
}

TEST_F(ConvertTickRangeTest, OldDayKeptWhereTheSecurityIsAbsentFromThatArchive) {
  const StoredDay oldTue = MakeDay(kTue, 5);
  WritePair(layout, "sh600000", {oldTue});
  WriteArchive(layout, kMon, {{1, "600000", MakeDay(kMon, 6)}});
  WriteArchive(layout, kTue, {{0, "000001", MakeDay(kTue, 7)}});
  engine.ConvertTickRange(kMon, kTue);
  auto days = PairDays("sh600000");
  EXPECT_EQ(Dates(days), (std::vector<int>{kMon, kTue}));
  EXPECT_EQ(days[1].stored, oldTue.stored);
}

TEST_F(ConvertTickRangeTest, SecurityOnlyInTheSecondArchiveGainsThatDay) {
  WriteArchive(layout, kMon, {{0, "000001", MakeDay(kMon, 1)}});
  WriteArchive(layout, kTue, {{0, "000001", MakeDay(kTue, 2)}, {2, "830001", MakeDay(kTue, 3)}});
  engine.ConvertTickRange(kMon, kTue);
  EXPECT_EQ(Dates(PairDays("bj830001")), std::vector<int>{kTue});
  EXPECT_EQ(Dates(PairDays("sz000001")), (std::vector<int>{kMon, kTue}));
  EXPECT_FALSE(PathExists(layout.TickIndexTemp()));
}

TEST_F(ConvertTickRangeTest, ConvertingTwiceIsByteIdentical) {
  WritePair(layout, "sz000002", {MakeDay(20240103, 1), MakeDay(kTue, 2)});
  WriteArchive(layout, kMon, {{0, "000002", MakeDay(kMon, 3)}, {1, "600001", MakeDay(kMon, 4)}});
  WriteArchive(layout, kTue, {{0, "000002", MakeDay(kTue, 5)}});
  engine.ConvertTickRange(kMon, kTue);
  const Bytes index = ReadFileBytes(layout.TickIndexFile("sz000002")),
              data = ReadFileBytes(layout.TickDataFile("sz000002"));
  const Bytes other = ReadFileBytes(layout.TickDataFile("sh600001"));
  engine.ConvertTickRange(kMon, kTue);
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000002")), index);
  EXPECT_EQ(ReadFileBytes(layout.TickDataFile("sz000002")), data);
  EXPECT_EQ(ReadFileBytes(layout.TickDataFile("sh600001")), other);
}

// An old pair whose data file holds bytes but that is not sound keeps every
// byte: the security is reported and skipped, and the run fails. A missing or
// empty data file, or one beside no index, has nothing to lose and the pair
// gets the new days; bytes past the blocks the index lists are an append
// never committed, cut before the new day is appended.
enum class PairForm { kFiles, kNoDataFile, kNoIndexFile, kIndexIsAFolder, kDataIsALink };

struct OldPairCase {
  const char* name;
  std::function<void(Bytes& index, Bytes& data)> damage;
  PairForm form;
  bool kept;
  std::vector<int> daysAfter = {20240108};
};

class ConvertOldPairTest : public ConvertTickRangeTest, public ::testing::WithParamInterface<OldPairCase> {};

TEST_P(ConvertOldPairTest, DamagedPairsAreLeftUntouchedAndReported) {
  const OldPairCase& c = GetParam();
  Bytes index = IndexBytes({MakeDay(20240102, 1), MakeDay(20240103, 2)});
  Bytes data = DataBytes({MakeDay(20240102, 1), MakeDay(20240103, 2)});
  c.damage(index, data);
  const std::string vid = layout.TickIndexFile("sz000232"), vtc = layout.TickDataFile("sz000232");
  if (c.form == PairForm::kIndexIsAFolder) std::filesystem::create_directory(vid);
  if (c.form != PairForm::kNoIndexFile && c.form != PairForm::kIndexIsAFolder) WriteFileBytes(vid, index);
  if (c.form == PairForm::kDataIsALink) std::filesystem::create_symlink(vtc + ".copy", vtc);
  if (c.form != PairForm::kNoDataFile) WriteFileBytes(vtc, data);
  WritePair(layout, "sz000001", {MakeDay(20240102, 5)});
  WriteArchive(layout, kMon, {{0, "000232", MakeDay(kMon, 3)}, {0, "000001", MakeDay(kMon, 4)}});

  const OperationResult result = engine.ConvertTickRange(kMon, kMon);
  EXPECT_EQ(result.message == "分笔数据转档完成!", !c.kept) << result.message;
  EXPECT_EQ(Dates(PairDays("sz000001")), (std::vector<int>{20240102, kMon}));
  if (c.kept) {
    EXPECT_EQ(result.outcome, Outcome::kFailed);
    EXPECT_EQ(result.failedItems, 1);
    EXPECT_TRUE(LogHas("sz000232分笔文件已损坏, 未更新!"));
    EXPECT_EQ(ReadFileBytes(vtc), data);
    if (c.form == PairForm::kFiles) {
      EXPECT_EQ(ReadFileBytes(vid), index);
    }
    EXPECT_EQ(std::filesystem::is_directory(vid), c.form == PairForm::kIndexIsAFolder);
    EXPECT_EQ(PathExists(vid), c.form != PairForm::kNoIndexFile);
  } else {
    EXPECT_EQ(result.outcome, Outcome::kDone);
    EXPECT_EQ(Dates(PairDays("sz000232")), c.daysAfter);
    EXPECT_EQ(engine.CheckTickFiles().failedItems, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, ConvertOldPairTest,
    ::testing::Values(
        OldPairCase{"extraIndexByte", [](Bytes& i, Bytes&) { i.push_back(0); }, PairForm::kFiles, true},
        OldPairCase{"countMismatch", [](Bytes& i, Bytes&) { i[12] = 3; }, PairForm::kFiles, true},
        OldPairCase{"dataOneByteShort", [](Bytes&, Bytes& d) { d.pop_back(); }, PairForm::kFiles, true},
        OldPairCase{"dataOneByteLonger", [](Bytes&, Bytes& d) { d.push_back(7); }, PairForm::kFiles, false,
                    {20240102, 20240103, kMon}},
        OldPairCase{"dataTailLongerThanTheNewDay", [](Bytes&, Bytes& d) { d.resize(d.size() + 20000, 7); },
                    PairForm::kFiles, false, {20240102, 20240103, kMon}},
        OldPairCase{"dataLongerUnlisted", [](Bytes&, Bytes& d) { d.insert(d.begin(), 7); }, PairForm::kFiles, true},
        OldPairCase{"entryLengthPastTheData", [](Bytes& i, Bytes&) { PutInt(i, 16 + 22 + 8, 1 << 30); },
                    PairForm::kFiles, true},
        OldPairCase{"datesOutOfOrder", [](Bytes& i, Bytes&) { PutInt(i, 16 + 22, 20240102); }, PairForm::kFiles, true},
        OldPairCase{"indexUnreadable", [](Bytes&, Bytes&) {}, PairForm::kIndexIsAFolder, true},
        OldPairCase{"indexMissing", [](Bytes&, Bytes&) {}, PairForm::kNoIndexFile, false},
        OldPairCase{"indexEmpty", [](Bytes& i, Bytes&) { i.clear(); }, PairForm::kFiles, false},
        OldPairCase{"dataIsALink", [](Bytes&, Bytes&) {}, PairForm::kDataIsALink, true},
        OldPairCase{"dataMissing", [](Bytes&, Bytes&) {}, PairForm::kNoDataFile, false},
        OldPairCase{"dataEmpty", [](Bytes&, Bytes& d) { d.clear(); }, PairForm::kFiles, false}),
    [](const ::testing::TestParamInfo<OldPairCase>& info) { return std::string(info.param.name); });

// An append whose blocks or index do not get written leaves the pair's bytes
// as they were, for a full disk as for a failed commit.
TEST_F(ConvertTickRangeTest, FailedAppendLeavesThePairAsItWas) {
  WriteArchive(layout, kMon, {{0, "000001", MakeDay(kMon, 1, 400)}});
  for (bool diskFull : {true, false}) {
    WritePair(layout, "sz000001", {MakeDay(20240102, 5), MakeDay(20240105, 6)});
    const Bytes index = ReadFileBytes(layout.TickIndexFile("sz000001"));
    const Bytes data = ReadFileBytes(layout.TickDataFile("sz000001"));
    FaultFileSystem faults;
    diskFull ? faults.NoSpaceAfter(100) : faults.FailRenames(".vid");
    EXPECT_EQ(TickEngine(layout.WithFiles(faults)).ConvertTickRange(kMon, kMon).failedItems, 1);
    EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000001")), index) << diskFull;
    EXPECT_EQ(ReadFileBytes(layout.TickDataFile("sz000001")), data) << diskFull;
  }
  EXPECT_TRUE(LogHas("sz000001分笔文件写入失败, 保留原文件!"));
}

// Journalled, the pairs a conversion appends to or makes are kept a batch at
// a time, not one sync a file, and the undo gives back every byte.
TEST_F(ConvertTickRangeTest, AJournalledConversionKeepsItsPairsInBatchesAndIsUndoneByteForByte) {
  std::vector<ArchiveItem> items;
  for (int k = 1; k <= 300; ++k) {
    char code[7];
    std::snprintf(code, sizeof code, "%06d", k);
    items.push_back({0, code, MakeDay(kMon, k)});
    if (k % 2 == 0) WritePair(layout, std::string("sz") + code, {MakeDay(20240102, k), MakeDay(20240105, k)});
  }
  WriteArchive(layout, kMon, items);
  auto store = [this] {
    std::map<std::string, Bytes> files;
    for (const auto& e : std::filesystem::directory_iterator(layout.TickStoreDir()))
      files[e.path().string()] = ReadFileBytes(e.path().string());
    return files;
  };
  const auto before = store();
  FaultFileSystem recorder;
  {
    JournalFileSystem journal(recorder, layout, "tick convert", "");
    ASSERT_EQ(TickEngine(layout.WithFiles(journal)).ConvertTickRange(kMon, kMon).outcome, Outcome::kDone);
  }
  const auto& changes = recorder.Changes();
  EXPECT_LT(std::count(changes.begin(), changes.end(), "sync " + JournalRunFile(layout, 1)), 20);
  ASSERT_NE(store(), before);
  JournalFileSystem undoJournal(RealFileSystem(), layout, UndoOperationName(1), "");
  EXPECT_TRUE(UndoEngine(layout.WithFiles(undoJournal)).UndoRun(1, false).done());
  EXPECT_EQ(store(), before);
}

TEST_F(ConvertTickRangeTest, BadArchivesAndHostileCodesAreSkipped) {
  WriteArchive(layout, kMon, {{0, "000001", MakeDay(kMon, 1)}, {0, "000002", MakeDay(kTue, 2)}});  // wrong date inside
  WriteArchive(layout, kTue,
               {{0, "../../", MakeDay(kTue, 3)}, {5, "000005", MakeDay(kTue, 4)}, {1, "600009", MakeDay(kTue, 5)}});
  EXPECT_EQ(engine.ConvertTickRange(kMon, kTue).outcome, Outcome::kFailed);  // the Monday archive
  EXPECT_FALSE(PathExists(layout.TickIndexFile("sz000001")));
  EXPECT_EQ(Dates(PairDays("sh600009")), std::vector<int>{kTue});
  EXPECT_EQ(ListCountedFiles(layout.Files(), layout.TickStoreDir(), "*.vid").size(), 1u);
}

TEST_F(ConvertTickRangeTest, NothingToLoadEndsSilently) {
  EXPECT_EQ(engine.ConvertTickRange(20240106, 20240107).outcome, Outcome::kNothingToDo);  // a weekend
  EXPECT_EQ(test::StatusText(), "创建转档索引表!");
  EXPECT_EQ(engine.ConvertTickRange(kTue, kMon).outcome, Outcome::kNothingToDo);
  EXPECT_EQ(test::StatusText(), "创建转档索引表!");
  EXPECT_EQ(ReadRunLog().find("分笔"), std::string::npos);
}

// Archives that are there but do not load, and blocks that do not read, are
// logged with the archive's path and the reason, and the run fails; the rest
// of the day converts.
struct ArchiveCase {
  const char* name;
  std::function<void(Bytes& archive)> damage;
  const char* logged;  // after the archive's path
  bool loads;
};

class ConvertArchiveFaultTest : public ConvertTickRangeTest, public ::testing::WithParamInterface<ArchiveCase> {};

TEST_P(ConvertArchiveFaultTest, EveryArchiveOrBlockThatFailsIsLoggedAndFailsTheRun) {
  const ArchiveCase& c = GetParam();
  const StoredDay oldMon = MakeDay(kMon, 9);
  WritePair(layout, "sz000002", {oldMon});
  Bytes archive = ArchiveBytes({{0, "000001", MakeDay(kMon, 1)}, {0, "000002", MakeDay(kMon, 2)}});
  c.damage(archive);
  WriteFileBytes(layout.TickArchiveFile(kMon), archive);
  const OperationResult result = engine.ConvertTickRange(kMon, kMon);
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  EXPECT_EQ(result.failedItems, 1);
  EXPECT_EQ(result.message.find("完成!"), std::string::npos) << result.message;
  EXPECT_TRUE(LogHas(c.logged)) << ReadRunLog();
  EXPECT_EQ(PathExists(layout.TickIndexFile("sz000001")), c.loads);
  EXPECT_EQ(PairDays("sz000002")[0].stored, oldMon.stored);  // the old day stays
}

INSTANTIATE_TEST_SUITE_P(
    Archives, ConvertArchiveFaultTest,
    ::testing::Values(
        ArchiveCase{"lastBlockOneByteShort", [](Bytes& a) { a.pop_back(); }, "20240108.htc中的分笔数据读取失败!", true},
        ArchiveCase{"blockDoesNotDecode",
                    [](Bytes& a) {
                      std::fill_n(a.end() - static_cast<std::ptrdiff_t>(MakeDay(kMon, 2).stored.size()), 8, 0x5a);
                    },
                    "20240108.htc中的分笔数据无法解码, 未转档!", true},
        ArchiveCase{"wrongDateInside",
                    [](Bytes& a) { PutInt(a, a.size() - MakeDay(kMon, 2).stored.size() - 30 + 8, kTue); },
                    "20240108.htc无法加载(第2条记录日期不符), 已跳过!", false},
        ArchiveCase{"noSecurities", [](Bytes& a) { PutInt(a, 12, 0); }, "20240108.htc无法加载(证券数目异常), 已跳过!",
                    false},
        ArchiveCase{"headerCut", [](Bytes& a) { a.resize(10); }, "20240108.htc无法加载(文件头不完整), 已跳过!", false},
        ArchiveCase{"noSuchMarket", [](Bytes& a) { a[a.size() - MakeDay(kMon, 2).stored.size() - 30] = 3; },
                    "20240108.htc中有1条记录的市场或代码无效, 已跳过!", true}),
    [](const ::testing::TestParamInfo<ArchiveCase>& info) { return std::string(info.param.name); });

TEST_F(ConvertTickRangeTest, CancelFinishesTheCurrentSecurityOnly) {
  WriteArchive(layout, kMon, {{0, "000001", MakeDay(kMon, 1)}, {0, "000002", MakeDay(kMon, 2)}});
  engine.SetWorkers(1);  // more would have started the second security already
  engine.Cancel();
  EXPECT_EQ(engine.ConvertTickRange(kMon, kMon).outcome, Outcome::kCancelled);
  EXPECT_TRUE(PathExists(layout.TickIndexFile("sz000001")));
  EXPECT_FALSE(PathExists(layout.TickIndexFile("sz000002")));
  EXPECT_EQ(test::StatusText(), "分笔数据转档被取消!");
  EXPECT_TRUE(LogHas("分笔数据转档被取消!"));
}

// Old days before the range, archive days in date order replacing equal old
// days, old days kept between them and where the security is absent from an
// archive, the rest appended: byte for byte, with version 2.
TEST_F(ConvertTickRangeTest, MergeInterleavesOldAndNewDaysByteForByte) {
  const StoredDay oldWed3 = MakeDay(kWedBefore, 1), oldFri5 = MakeDay(kFriBefore, 2), oldMon8 = MakeDay(kMon, 3),
                  oldWed10 = MakeDay(kWed, 4), oldFri12 = MakeDay(kFri, 5);
  WriteFileBytes(layout.TickIndexFile("sz000001"), IndexBytes({oldWed3, oldFri5, oldMon8, oldWed10, oldFri12}, 0));
  WriteFileBytes(layout.TickDataFile("sz000001"), DataBytes({oldWed3, oldFri5, oldMon8, oldWed10, oldFri12}));
  StoredDay newThu4 = MakeDay(kThuBefore, 20), newMon8 = MakeDay(kMon, 21), newThu11 = MakeDay(kThu, 22);
  newThu4.priceDecimals = 3;
  newThu4.spare = 0xEE;
  newMon8.refPrice = -1.25;
  WriteArchive(layout, kThuBefore, {{0, "000001", newThu4}});
  WriteArchive(layout, kMon, {{1, "600000", MakeDay(kMon, 30)}, {0, "000001", newMon8}});
  WriteArchive(layout, kWed, {{1, "600000", MakeDay(kWed, 31)}});  // sz000001 absent: old day stays
  WriteArchive(layout, kThu, {{0, "000001", newThu11}});
  engine.ConvertTickRange(kThuBefore, kThu);
  const std::vector<StoredDay> expected = {oldWed3, newThu4, oldFri5, newMon8, oldWed10, newThu11, oldFri12};
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000001")), IndexBytes(expected, 2));
  EXPECT_EQ(ReadFileBytes(layout.TickDataFile("sz000001")), DataBytes(expected));
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sh600000")), IndexBytes({MakeDay(kMon, 30), MakeDay(kWed, 31)}, 2));
}

TEST_F(ConvertTickRangeTest, SecuritiesAreMergedInOrderOfFirstAppearance) {
  WriteArchive(layout, kMon, {{0, "000002", MakeDay(kMon, 1)}, {1, "600000", MakeDay(kMon, 2)}});
  WriteArchive(layout, kTue,
               {{2, "430047", MakeDay(kTue, 3)}, {0, "000002", MakeDay(kTue, 4)}, {0, "000001", MakeDay(kTue, 5)}});
  StatusRecorder recorder;
  engine.ConvertTickRange(kMon, kTue);
  EXPECT_EQ(recorder.Lines(),
            (std::vector<std::string>{"创建转档索引表!", "转档sz000002分笔数据...", "转档sh600000分笔数据...",
                                      "转档bj430047分笔数据...", "转档sz000001分笔数据...",
                                      "分笔数据转档完成!"}));
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000002")), IndexBytes({MakeDay(kMon, 1), MakeDay(kTue, 4)}, 2));
}

// The range starts at `first` whatever its weekday; after it only the days
// NextTradingDay gives are loaded.
TEST_F(ConvertTickRangeTest, FirstDayLoadsEvenOnAWeekendLaterWeekendsDoNot) {
  WriteArchive(layout, kSat, {{0, "000001", MakeDay(kSat, 1)}});
  WriteArchive(layout, kSun, {{0, "000001", MakeDay(kSun, 2)}});
  WriteArchive(layout, kMon, {{0, "000001", MakeDay(kMon, 3)}});
  engine.ConvertTickRange(kSat, kMon);
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000001")), IndexBytes({MakeDay(kSat, 1), MakeDay(kMon, 3)}, 2));
}

TEST_F(ConvertTickRangeTest, SecurityListedTwiceInOneArchiveTakesItsLaterBlock) {
  WriteArchive(layout, kMon, {{0, "000001", MakeDay(kMon, 1)}, {0, "000001", MakeDay(kMon, 2)}});
  engine.ConvertTickRange(kMon, kMon);
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000001")), IndexBytes({MakeDay(kMon, 2)}, 2));
  EXPECT_EQ(ReadFileBytes(layout.TickDataFile("sz000001")), DataBytes({MakeDay(kMon, 2)}));
}

TEST_F(ConvertTickRangeTest, ReversedRangeTouchesNothingAndLogsNothing) {
  WriteArchive(layout, kMon, {{0, "000001", MakeDay(kMon, 1)}});
  StatusRecorder recorder;
  EXPECT_EQ(engine.ConvertTickRange(kTue, kMon).outcome, Outcome::kNothingToDo);
  EXPECT_EQ(recorder.Lines(), std::vector<std::string>{"创建转档索引表!"});
  EXPECT_FALSE(PathExists(layout.TickIndexFile("sz000001")));
  EXPECT_EQ(ReadRunLog().find("分笔数据转档"), std::string::npos);
}

TEST_F(ConvertTickRangeTest, ProgressEndsAtTheLastSecuritysShare) {
  WriteArchive(layout, kMon,
               {{0, "000001", MakeDay(kMon, 1)},
                {0, "000002", MakeDay(kMon, 2)},
                {0, "000003", MakeDay(kMon, 3)},
                {0, "000004", MakeDay(kMon, 4)}});
  engine.ConvertTickRange(kMon, kMon);
  EXPECT_DOUBLE_EQ(test::ProgressFraction(), 0.75);
}

}  // namespace
}  // namespace marbloom::test
