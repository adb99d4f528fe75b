// Every writing path of the record store on a full file system (the fault
// seam's): a change that needs room fails as a whole, leaves each file exactly
// as it was (a file it would have made does not appear) and is reported; a
// change that fits in place ends as it does on a roomy disk.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "daily/daily_batch_modify.h"
#include "daily/daily_conversion.h"
#include "daily/daily_merge.h"
#include "daily/daily_range_delete.h"
#include "daily/daily_single_edit.h"
#include "daily_test_util.h"

namespace marbloom::test {
namespace {

struct Security {
  int market;
  const char* code;
};
constexpr Security kSecurities[] = {{0, "000001"}, {1, "600000"}, {2, "830001"}};

// 128 records, 4,096 bytes (whole pages), the last dated 20220511, dates two apart.
std::vector<DailyRecord> PageOfRecords() {
  std::vector<DailyRecord> records;
  for (uint32_t k = 0; k < 128; ++k) records.push_back(Rec(20220511 - 2 * (127 - k), static_cast<int32_t>(1000 + k)));
  return records;
}

void Populate(const DataLayout& layout) {
  for (int market = 0; market < 3; ++market) std::filesystem::create_directories(layout.DailyDir(market));
  std::filesystem::create_directories(layout.DailySourceDir());
  for (const Security& s : kSecurities) WriteDaily(layout, s.market, s.code, PageOfRecords());
  WriteSourcePair(layout, 0, 20220512, {Stock("000001", 11), Stock("000002", 12)});
  WriteSourcePair(layout, 1, 20220512, {Stock("600000", 11)});
  WriteSourcePair(layout, 2, 20220512, {Stock("830001", 11)});
  WriteFileBytes(layout.WriterLockFile(), {});
}

std::map<std::string, std::vector<uint8_t>> DailyFiles(const DataLayout& layout) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (int market = 0; market < 3; ++market)
    for (const auto& entry : std::filesystem::directory_iterator(layout.DailyDir(market)))
      files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
  return files;
}

struct FullDiskCase {
  const char* name;
  std::function<OperationResult(const DataLayout& tree, const DataLayout& source)> run;
  int failedFiles;  // 0: the change fits in place and goes through
};

class DailyFullDiskTest : public ::testing::TestWithParam<FullDiskCase> {};

TEST_P(DailyFullDiskTest, ChangeNeedingRoomFailsWholeAndOneInPlaceGoesThrough) {
  TestTree roomy, small;
  FaultFileSystem disk;
  TempDir sourceDir;
  const DataLayout source(std::string(), sourceDir.path());
  for (const Security& s : kSecurities) {
    std::filesystem::create_directories(source.DailyDir(s.market));
    WriteDaily(source, s.market, s.code, {Rec(20200102, 7)});
  }
  Populate(roomy.layout());
  ASSERT_EQ(GetParam().run(roomy.layout(), source).outcome, Outcome::kDone);

  const DataLayout full = small.layout().WithFiles(disk);
  Populate(full);
  const auto before = DailyFiles(full);
  disk.NoSpaceAfter(0);
  const OperationResult result = GetParam().run(full, source);
  if (GetParam().failedFiles == 0) {
    EXPECT_EQ(result.outcome, Outcome::kDone);
    EXPECT_EQ(DailyFiles(full), DailyFiles(roomy.layout()));
    return;
  }
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  EXPECT_EQ(result.failedItems, GetParam().failedFiles);
  EXPECT_EQ(DailyFiles(full), before);
  EXPECT_EQ(CountOccurrences(LogText(), "写入" + small.historyDir()), GetParam().failedFiles);
}

const DailyEditFields kFields{10, 12, 9, 11, 500, 5000, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    RecordStore, DailyFullDiskTest,
    ::testing::Values(
        // Appends to the three files, and a file it would create for 000002.
        FullDiskCase{"ConvertAppends",
                     [](const DataLayout& t, const DataLayout&) { return DailyConversion(t).ConvertDailyRange(20220512, 20220512); }, 4},
        FullDiskCase{"MergeInsertsAnOlderRecord",
                     [](const DataLayout& t, const DataLayout& source) { return DailyMerge(t).MergeDailyFiles(source); }, 3},
        FullDiskCase{"EditInsertsInTheMiddle",
                     [](const DataLayout& t, const DataLayout&) {
                       return DailySingleEdit(t).WriteBackDailyFields("sz000001", 20220510, kFields);
                     },
                     1},
        FullDiskCase{"EditAppends",
                     [](const DataLayout& t, const DataLayout&) {
                       return DailySingleEdit(t).WriteBackDailyFields("bj830001", 20220513, kFields);
                     },
                     1},
        FullDiskCase{"EditReplacesInPlace",
                     [](const DataLayout& t, const DataLayout&) {
                       return DailySingleEdit(t).WriteBackDailyFields("sh600000", 20220511, kFields);
                     },
                     0},
        FullDiskCase{"ModifyReplacesEachFile",
                     [](const DataLayout& t, const DataLayout&) {
                       return DailyBatchModify(t).ModifyDailyRange(20220101, 20221231, DailyFactors{2, 2, 2, 2, 2, 2}, "????????");
                     },
                     3},
        FullDiskCase{"DeleteReplacesEachFile",
                     [](const DataLayout& t, const DataLayout&) {
                       return DailyRangeDelete(t).DeleteDailyRange(20220401, 20220430, "????????");
                     },
                     3}),
    [](const ::testing::TestParamInfo<FullDiskCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace marbloom::test
