// A damaged daily file whose length claims far more than memory holds (a
// sparse file of 1 TB here) is refused with a message by every operation,
// without allocating its size and without changing it.
#include <gtest/gtest.h>
#include <unistd.h>

#include "daily/daily_batch_modify.h"
#include "daily/daily_merge.h"
#include "daily/daily_range_delete.h"
#include "daily/daily_store.h"
#include "daily_test_util.h"

namespace marbloom::test {
namespace {

constexpr int64_t kHuge = int64_t{1} << 40;

class DailyHugeFileTest : public DailyTreeTest {
 protected:
  std::string MakeHuge(const std::string& path) {
    WriteFileBytes(path, Bytes({Rec(20220505)}));
    EXPECT_EQ(::truncate(path.c_str(), kHuge), 0);
    return path;
  }
  static int64_t SizeOf(const std::string& path) { return static_cast<int64_t>(std::filesystem::file_size(path)); }

  std::string huge = MakeHuge(DailyFilePath(0, "000001"));
  OperationEngine counter;  // counts the store's failures
};

TEST_F(DailyHugeFileTest, StoreAndReadRefuseIt) {
  EXPECT_FALSE(DailyStore(layout, counter).StoreDailyRecord(0, "000001", Rec(20220506)));
  EXPECT_NE(LogText().find("写入" + huge + "文件失败!"), std::string::npos);
  DailyRecord out{};
  EXPECT_FALSE(DailyStore(layout, counter).ReadDailyRecord(0, "000001", 20220505, &out));
  EXPECT_NE(LogText().find("读取" + huge + "文件失败!"), std::string::npos);
  EXPECT_EQ(SizeOf(huge), kHuge);
}

TEST_F(DailyHugeFileTest, RangeEditsSkipIt) {
  // A run with a file it could not read fails, and its last line says so.
  EXPECT_EQ(DailyRangeDelete(layout).DeleteDailyRange(20220501, 20220531, "sz??????").outcome, Outcome::kFailed);
  EXPECT_EQ(test::StatusText().find("完成!"), std::string::npos) << test::StatusText();
  EXPECT_EQ(
      DailyBatchModify(layout).ModifyDailyRange(20220501, 20220531, DailyFactors{2, 2, 2, 2, 2, 2}, "sz??????").outcome,
      Outcome::kFailed);
  EXPECT_EQ(test::StatusText().find("完成!"), std::string::npos) << test::StatusText();
  EXPECT_EQ(SizeOf(huge), kHuge);
  EXPECT_EQ(CountOccurrences(LogText(), "读取" + huge + "文件失败!"), 2);
}

TEST_F(DailyHugeFileTest, MergeNeitherFromNorIntoItAllocatesItsSize) {
  TempDir source;
  const DataLayout sourceTree(std::string(), source.path());
  std::filesystem::create_directories(sourceTree.DailyDir(0));
  WriteFileBytes(sourceTree.DailyFile(0, "000001"), Bytes({Rec(20220506)}));
  DailyMerge(layout).MergeDailyFiles(sourceTree);
  EXPECT_EQ(SizeOf(huge), kHuge);
  EXPECT_TRUE(PathExists(sourceTree.DailyFile(0, "000001")));  // nothing moved over it

  WriteDaily(0, "000001", {Rec(20220505)});
  MakeHuge(sourceTree.DailyFile(0, "000001"));
  DailyMerge(layout).MergeDailyFiles(sourceTree);
  EXPECT_EQ(ReadFileBytes(huge), Bytes({Rec(20220505)}));
  EXPECT_EQ(test::StatusText().find("完成!"), std::string::npos) << test::StatusText();
}

}  // namespace
}  // namespace marbloom::test
