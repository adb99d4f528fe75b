// Merge from another tree.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "daily/daily_merge.h"
#include "daily_test_util.h"

namespace marbloom::test {
namespace {

class DailyMergeTest : public DailyTreeTest {
 protected:
  DailyMergeTest() {
    for (int market = 0; market < 3; ++market) std::filesystem::create_directories(source.DailyDir(market));
  }
  std::string SourceFile(int market, const std::string& code) { return source.DailyFile(market, code); }
  DataLayout source{std::string(), tree.root() + "other/"};
  DailyMerge engine{layout};
};

TEST_F(DailyMergeTest, MissingTargetReceivesTheSourceFile) {
  const std::vector<uint8_t> bytes = Bytes({Rec(20220505), Rec(20220506)});
  WriteFileBytes(SourceFile(1, "600000"), bytes);
  engine.MergeDailyFiles(source);
  EXPECT_EQ(ReadFileBytes(DailyFilePath(1, "600000")), bytes);
  EXPECT_FALSE(PathExists(SourceFile(1, "600000")));
  EXPECT_EQ(test::StatusText(), "合并日线完成!");
}

TEST_F(DailyMergeTest, RecordsInterleaveByDateAndSourceWinsTies) {
  WriteFileBytes(SourceFile(0, "000001"), Bytes({Rec(20220501), Rec(20220503, 33), Rec(20220505)}));
  WriteDaily(0, "000001", {Rec(20220502), Rec(20220503, 99), Rec(20220504)});
  engine.MergeDailyFile(source, 0, "000001");
  EXPECT_EQ(ReadFileBytes(DailyFilePath(0, "000001")),
            Bytes({Rec(20220501), Rec(20220502), Rec(20220503, 33), Rec(20220504), Rec(20220505)}));
  EXPECT_TRUE(PathExists(SourceFile(0, "000001")));
}

TEST_F(DailyMergeTest, OlderSourceRecordsKeepTheTargetTail) {
  WriteFileBytes(SourceFile(0, "000001"), Bytes({Rec(20220401)}));
  WriteDaily(0, "000001", {Rec(20220502), Rec(20220503)});
  engine.MergeDailyFile(source, 0, "000001");
  EXPECT_EQ(Dates(DailyFilePath(0, "000001")), (std::vector<uint32_t>{20220401, 20220502, 20220503}));
}

TEST_F(DailyMergeTest, DamagedSourceIsReportedAndTargetKept) {
  WriteFileBytes(SourceFile(0, "000001"), std::vector<uint8_t>(100, 7));
  WriteDaily(0, "000001", {Rec(20220502)});
  engine.MergeDailyFile(source, 0, "000001");
  EXPECT_EQ(test::StatusText(), SourceFile(0, "000001") + "文件已损坏!");
  EXPECT_EQ(ReadFileBytes(DailyFilePath(0, "000001")), Bytes({Rec(20220502)}));
}

TEST_F(DailyMergeTest, DamagedTargetIsReplacedBySource) {
  const std::vector<uint8_t> bytes = Bytes({Rec(20220505)});
  WriteFileBytes(SourceFile(0, "000001"), bytes);
  WriteFileBytes(DailyFilePath(0, "000001"), std::vector<uint8_t>(33, 1));
  engine.MergeDailyFile(source, 0, "000001");
  EXPECT_EQ(test::StatusText(), DailyFilePath(0, "000001") + "文件已损坏,直接覆盖!");
  EXPECT_EQ(ReadFileBytes(DailyFilePath(0, "000001")), bytes);
  EXPECT_FALSE(PathExists(SourceFile(0, "000001")));
}

TEST_F(DailyMergeTest, SourceFolderWithoutTrailingSlashFindsNothing) {
  WriteFileBytes(SourceFile(0, "000001"), Bytes({Rec(20220505)}));
  engine.MergeDailyFiles(DataLayout(std::string(), tree.root() + "other"));
  EXPECT_EQ(test::StatusText(), "路径不存在或无日线数据!");
}

TEST_F(DailyMergeTest, FailedMoveIsLogged) {
  WriteFileBytes(SourceFile(2, "830001"), Bytes({Rec(20220505)}));
  std::filesystem::remove_all(layout.DailyDir(2));
  engine.MergeDailyFile(source, 2, "830001");
  EXPECT_NE(LogText().find("写入" + DailyFilePath(2, "830001") + "文件失败!"), std::string::npos);
  EXPECT_TRUE(PathExists(SourceFile(2, "830001")));
}

// Killed at each of its changes (the fault seam's crash point), the merge leaves each security's two files as they were or as the whole
// merge leaves them, and the next merge ends there. The other tree's records go before, after and between
// (one a tie) this tree's, change nothing, or have no file here.
TEST_F(DailyMergeTest, KilledInsideAWriteLeavesOldOrNewFilesAndTheNextMergeFinishes) {
  const std::vector<std::vector<DailyRecord>> gains = {
      {Rec(20220401)}, {Rec(20220509), Rec(20220510)}, {Rec(20220503), Rec(20220504, 9)}, {Rec(20220504)}, {Rec(1)}};
  auto files = [&](bool populate) {  // each security's (target, source) bytes, written anew first when asked
    std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> both;
    for (std::size_t i = 0; i < gains.size(); ++i) {
      const std::string code = "00000" + std::to_string(i), t = DailyFilePath(0, code), s = SourceFile(0, code);
      if (populate) {
        std::remove(t.c_str());
        if (i != 4) WriteDaily(0, code, {Rec(20220502), Rec(20220504)});
        WriteFileBytes(s, Bytes(gains[i]));
      }
      both.emplace_back(ReadFileBytes(t), ReadFileBytes(s));
    }
    return both;
  };
  const auto before = files(true);
  ASSERT_TRUE(DailyMerge(layout.WithFiles(faults)).MergeDailyFiles(source).done());
  const auto after = files(false);
  // Two inserts (a temporary, its rename), an append, a move, and the flush.
  ASSERT_GE(faults.Changes().size(), 6u);
  for (std::size_t killAt = 1; killAt <= faults.Changes().size(); ++killAt) {
    files(true);
    if (::fork() == 0) {
      FaultFileSystem crashing;
      crashing.CrashAt(killAt);
      ::_exit(DailyMerge(layout.WithFiles(crashing)).MergeDailyFiles(source).done() ? 0 : 1);
    }
    int status = 0;
    ::wait(&status);
    ASSERT_TRUE(WIFSIGNALED(status)) << "change " << killAt << " not reached";
    const auto now = files(false);
    for (std::size_t i = 0; i < now.size(); ++i) EXPECT_TRUE(now[i] == before[i] || now[i] == after[i]) << i;
    EXPECT_TRUE(DailyMerge(layout).MergeDailyFiles(source).done() && files(false) == after) << killAt;
  }
}

}  // namespace
}  // namespace marbloom::test
