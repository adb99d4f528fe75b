// Range delete: selection, the edit of one file, walk messages.
#include <gtest/gtest.h>

#include <cmath>

#include "daily/daily_range_delete.h"
#include "undo/journal_file_system.h"
#include "undo/undo_engine.h"
#include "daily_test_util.h"

namespace marbloom::test {
namespace {

class DailyRangeDeleteTest : public DailyTreeTest {
 protected:
  DailyRangeDelete engine{layout};
};

TEST_F(DailyRangeDeleteTest, PatternSelectsMarketsAndCodes) {
  for (int market = 0; market < 3; ++market) {
    WriteDaily(market, "000001", {Rec(20220505)});
    WriteDaily(market, "000002", {Rec(20220505)});
  }
  engine.DeleteDailyRange(20220501, 20220531, "??000001");
  for (int market = 0; market < 3; ++market) {
    EXPECT_FALSE(PathExists(DailyFilePath(market, "000001")));
    EXPECT_TRUE(PathExists(DailyFilePath(market, "000002")));
  }
  engine.DeleteDailyRange(20220501, 20220531, "Sz??????");
  EXPECT_FALSE(PathExists(DailyFilePath(0, "000002")));
  EXPECT_TRUE(PathExists(DailyFilePath(1, "000002")));
  EXPECT_EQ(test::StatusText(), "删除日线完成!");
}

// Journalled, a walk over many files keeps them a batch at a time, not one
// sync a file; the files it left alone leave the journal, and the undo gives
// back the ones it changed.
TEST_F(DailyRangeDeleteTest, AJournalledWalkKeepsItsFilesInBatchesAndOnlyTheChangedOnes) {
  for (int k = 1; k <= 600; ++k)
    WriteDaily(0, std::to_string(100000 + k), {Rec(20220504), Rec(k % 3 ? 20220505 : 20220506)});
  auto files = [this] {
    std::vector<std::vector<uint8_t>> bytes;
    for (int k = 1; k <= 600; ++k) bytes.push_back(ReadFileBytes(DailyFilePath(0, std::to_string(100000 + k))));
    return bytes;
  };
  const auto before = files();
  {
    JournalFileSystem journal(faults, layout, "daily delete", "");
    ASSERT_EQ(DailyRangeDelete(layout.WithFiles(journal)).DeleteDailyRange(20220505, 20220505, "sz??????").outcome,
              Outcome::kDone);
  }
  EXPECT_LT(std::count(faults.Changes().begin(), faults.Changes().end(), "sync " + JournalRunFile(layout, 1)), 10);
  EXPECT_EQ(ReadJournalRun(layout, 1)->entries.size(), 400u + 1);  // the files changed and the temporary
  JournalFileSystem undoJournal(RealFileSystem(), layout, UndoOperationName(1), "");
  EXPECT_TRUE(UndoEngine(layout.WithFiles(undoJournal)).UndoRun(1, false).done());
  EXPECT_TRUE(files() == before);
}

TEST_F(DailyRangeDeleteTest, NothingSelectedReportsMissingData) {
  WriteDaily(0, "000001", {Rec(20220505)});
  WriteFileBytes(DailyFilePath(1, "600000"), {});  // empty files do not count
  for (const char* pattern : {"sj000001", "sh??????"}) {
    engine.DeleteDailyRange(20220501, 20220531, pattern);
    EXPECT_EQ(test::StatusText(), "路径不存在或无日线数据!");
  }
  EXPECT_EQ(CountOccurrences(LogText(), "路径不存在或无日线数据!"), 2);
}

TEST_F(DailyRangeDeleteTest, DeleteKeepsRecordsOutsideRangeAndDropsZeroDates) {
  const std::string path = DailyFilePath(0, "000001");
  WriteDaily(0, "000001", {Rec(20220503), Rec(0), Rec(20220505), Rec(20220506), Rec(20220509)});
  engine.DeleteDailyRecords(0, "000001", 20220505, 20220506);
  EXPECT_EQ(ReadFileBytes(path), Bytes({Rec(20220503), Rec(20220509)}));
}

TEST_F(DailyRangeDeleteTest, DeleteOfNothingLeavesFileAndOfEverythingRemovesIt) {
  const std::string path = DailyFilePath(0, "000001");
  WriteDaily(0, "000001", {Rec(20220503), Rec(20220504)});
  engine.DeleteDailyRecords(0, "000001", 20220601, 20220630);
  EXPECT_EQ(ReadFileBytes(path), Bytes({Rec(20220503), Rec(20220504)}));
  engine.DeleteDailyRecords(0, "000001", 20220503, 20220504);
  EXPECT_FALSE(PathExists(path));
}

TEST_F(DailyRangeDeleteTest, FileOfBadLengthIsLeftAlone) {
  const std::string path = DailyFilePath(0, "000001");
  std::vector<uint8_t> hundred(100, 0);
  WriteFileBytes(path, hundred);
  engine.DeleteDailyRecords(0, "000001", 0, 0xFFFFFFFFu);
  EXPECT_EQ(ReadFileBytes(path), hundred);
}

TEST_F(DailyRangeDeleteTest, CancelInFirstMarketLeavesOthersUntouchedAndLogsOnce) {
  for (int market = 0; market < 3; ++market) {
    WriteDaily(market, "000001", {Rec(20220505)});
    WriteDaily(market, "000002", {Rec(20220505)});
  }
  test::OnStatus([this](const std::string& line) {
    if (line == "正在删除sz000001日线") engine.Cancel();
  });
  engine.DeleteDailyRange(20220505, 20220505, "????????");
  EXPECT_FALSE(PathExists(DailyFilePath(0, "000001")));
  EXPECT_TRUE(PathExists(DailyFilePath(0, "000002")));
  EXPECT_TRUE(PathExists(DailyFilePath(1, "000001")));
  EXPECT_EQ(test::StatusText(), "本次删除日线操作被取消!");
  EXPECT_EQ(CountOccurrences(LogText(), "本次删除日线操作被取消!"), 1);
}

}  // namespace
}  // namespace marbloom::test
