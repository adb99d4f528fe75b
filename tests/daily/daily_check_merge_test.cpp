// Check of the daily files and merge from another tree.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/calendar.h"
#include "daily/daily_io.h"
#include "daily_test_util.h"

namespace marbloom::test {
namespace {

class DailyCheckTest : public DailyTreeTest {};

struct CheckCase {
  const char* name;
  std::vector<uint8_t> bytes;
  const char* message;  // empty: sound
};

class DailyCheckFileTest : public ::testing::TestWithParam<CheckCase> {};

std::vector<uint8_t> WithTail(std::vector<DailyRecord> records, std::size_t extra) {
  std::vector<uint8_t> bytes = Bytes(records);
  bytes.resize(bytes.size() + extra, 0);
  return bytes;
}

TEST_P(DailyCheckFileTest, ReportsTheFirstFaultOnly) {
  TestTree tree;
  DailyEngine engine(tree.layout());
  WriteFileBytes(tree.layout().DailyFile(0, "000001"), GetParam().bytes);
  const std::string expected = GetParam().message;
  EXPECT_EQ(engine.CheckDailyFile(0, "000001"), expected.empty());
  if (expected.empty()) {
    EXPECT_EQ(LogText(), "");
  } else {
    EXPECT_EQ(test::StatusText(), expected);
    EXPECT_EQ(CountOccurrences(LogText(), "000001"), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DailyCheckFileTest,
    ::testing::Values(
        CheckCase{"Sound", Bytes({Rec(20220505), Rec(20220506)}), ""},
        CheckCase{"RepeatedDate", Bytes({Rec(20220505), Rec(20220506), Rec(20220506)}),
                  "深圳000001,20220506后的日线日期为20220506,顺序紊乱!"},
        CheckCase{"FallingDate", Bytes({Rec(20220505), Rec(20220504)}),
                  "深圳000001,20220505后的日线日期为20220504,顺序紊乱!"},
        CheckCase{"LengthNamesThePrefix", WithTail({Rec(20220505)}, 1), "sz000001日线文件长度异常!"},
        CheckCase{"ShortFile", std::vector<uint8_t>(31, 1), "sz000001日线文件长度异常!"},
        CheckCase{"FirstDateZeroWinsOverDisorder", Bytes({Rec(0), Rec(20220506), Rec(20220505)}),
                  "深圳000001首个日线日期为0!"},
        CheckCase{"LaterDateZero", Bytes({Rec(20220505), Rec(0)}), "深圳000001,20220505后的日线日期为0!"},
        CheckCase{"DatesCompareUnsigned", Bytes({Rec(20220505), Rec(0x80000000u)}),
                  "深圳000001,20220505后的日线日期2147483648无效!"}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST_F(DailyCheckTest, MissingFileIsReportedWithPrefix) {
  EXPECT_FALSE(engine.CheckDailyFile(2, "830001"));
  EXPECT_EQ(test::StatusText(), "bj830001日线文件打开失败!");
}

TEST_F(DailyCheckTest, WholeTreeCountsBadFilesAndLogsEach) {
  WriteDaily(0, "000001", {Rec(20220505), Rec(20220506)});
  WriteDaily(0, "000002", {Rec(20220506), Rec(20220505)});
  WriteDaily(1, "600000", {Rec(0)});
  WriteDaily(2, "830001", {Rec(20220505)});
  EXPECT_EQ(engine.CheckDailyFiles().failedItems, 2);
  EXPECT_EQ(test::StatusText(), "检查日线完成!");
  const std::string log = LogText();
  EXPECT_NE(log.find("深圳000002,20220506后的日线日期为20220505,顺序紊乱!"), std::string::npos);
  EXPECT_NE(log.find("上海600000首个日线日期为0!"), std::string::npos);
}

// Rising dates of n records from 19000101 on, one calendar day per record.
std::vector<DailyRecord> Rising(std::size_t n) {
  std::vector<DailyRecord> records(n);
  const int first = DateToDayNumber(19000101);
  for (std::size_t i = 0; i < n; ++i)
    records[i] = Rec(static_cast<uint32_t>(DayNumberToDate(first + static_cast<int>(i))));
  return records;
}

// Large files are read in 1 MiB pieces (32,768 records): faults on either side
// of a piece boundary still name the date before them, also through the walk.
TEST_F(DailyCheckTest, FaultsAcrossPieceBoundariesNameThePreviousDate) {
  constexpr std::size_t kPiece = 32768;
  std::vector<DailyRecord> sound = Rising(3 * kPiece + 5);  // up to 2169: the clock is set after it
  engine.SetNow(std::time_t{8} << 30);
  WriteDaily(0, "000001", sound);
  EXPECT_TRUE(engine.CheckDailyFile(0, "000001"));

  for (std::size_t at : {kPiece - 1, kPiece, 2 * kPiece, 3 * kPiece + 4}) {
    std::vector<DailyRecord> records = sound;
    records[at].date = records[at - 1].date;
    WriteDaily(0, "000001", records);
    EXPECT_FALSE(engine.CheckDailyFile(0, "000001")) << at;
    const std::string date = std::to_string(records[at - 1].date);
    EXPECT_EQ(test::StatusText(), "深圳000001," + date + "后的日线日期为" + date + ",顺序紊乱!") << at;
  }
  std::vector<DailyRecord> zero = sound;
  zero[kPiece].date = 0;
  WriteDaily(1, "600000", zero);
  WriteDaily(2, "830001", sound);
  EXPECT_EQ(engine.CheckDailyFiles().failedItems, 2);
  EXPECT_NE(LogText().find("上海600000," + std::to_string(sound[kPiece - 1].date) + "后的日线日期为0!"),
            std::string::npos);
}

// A damaged file far larger than memory (sparse, so it costs no disk) is
// reported from its first piece instead of being read whole.
TEST_F(DailyCheckTest, HugeFileIsCheckedWithoutReadingItWhole) {
  const std::string path = DailyFilePath(0, "000001");
  WriteDaily(0, "000001", {Rec(20220505), Rec(20220506)});
  ASSERT_EQ(::truncate(path.c_str(), int64_t{1} << 40), 0);
  EXPECT_EQ(engine.CheckDailyFiles().failedItems, 1);
  EXPECT_NE(LogText().find("深圳000001,20220506后的日线日期为0!"), std::string::npos);
}

TEST_F(DailyCheckTest, OddFileNamesAreNotTakenForOtherCodes) {
  WriteDaily(0, "000001", {Rec(20220505)});
  WriteFileBytes(layout.DailyDir(0) + "sz000001_old.day", Bytes({Rec(20220506), Rec(20220505)}));
  EXPECT_EQ(engine.CheckDailyFiles().failedItems, 0);
  EXPECT_NE(LogText().find("sz000001_old.day不是日线文件名,已跳过!"), std::string::npos);
}

TEST_F(DailyCheckTest, EmptyTreeReportsMissingData) {
  EXPECT_EQ(engine.CheckDailyFiles().failedItems, 0);
  EXPECT_EQ(test::StatusText(), "路径不存在或无日线数据!");
}

TEST_F(DailyCheckTest, CancelReturnsBadFilesFoundSoFar) {
  WriteDaily(0, "000001", {Rec(0)});
  WriteDaily(0, "000002", {Rec(0)});
  test::OnStatus([this](const std::string& line) {
    if (line == "正在检查sz000001日线") engine.Cancel();
  });
  EXPECT_EQ(engine.CheckDailyFiles().failedItems, 1);
  EXPECT_EQ(test::StatusText(), "本次检查日线操作被取消!");
}

// ----------------------------------------------------------------- merge

class DailyMergeTest : public DailyCheckTest {
 protected:
  DailyMergeTest() {
    for (int market = 0; market < 3; ++market) std::filesystem::create_directories(source.DailyDir(market));
  }
  std::string SourceFile(int market, const std::string& code) { return source.DailyFile(market, code); }
  DataLayout source{std::string(), tree.root() + "other/"};
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
  ASSERT_TRUE(DailyEngine(layout.WithFiles(faults)).MergeDailyFiles(source).done());
  const auto after = files(false);
  // Two inserts (a temporary, its rename), an append, a move, and the flush.
  ASSERT_GE(faults.Changes().size(), 6u);
  for (std::size_t killAt = 1; killAt <= faults.Changes().size(); ++killAt) {
    files(true);
    if (::fork() == 0) {
      FaultFileSystem crashing;
      crashing.CrashAt(killAt);
      ::_exit(DailyEngine(layout.WithFiles(crashing)).MergeDailyFiles(source).done() ? 0 : 1);
    }
    int status = 0;
    ::wait(&status);
    ASSERT_TRUE(WIFSIGNALED(status)) << "change " << killAt << " not reached";
    const auto now = files(false);
    for (std::size_t i = 0; i < now.size(); ++i) EXPECT_TRUE(now[i] == before[i] || now[i] == after[i]) << i;
    EXPECT_TRUE(DailyEngine(layout).MergeDailyFiles(source).done() && files(false) == after) << killAt;
  }
}

}  // namespace
}  // namespace marbloom::test
