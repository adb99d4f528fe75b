// What each operation tells its front: done only when every file went
// through; a damaged, missing or unwritable file makes it failed while the
// status message stays the operation's own.
#include <gtest/gtest.h>

#include "daily/daily_batch_modify.h"
#include "daily/daily_check.h"
#include "daily/daily_conversion.h"
#include "daily/daily_merge.h"
#include "daily/daily_range_delete.h"
#include "daily_test_util.h"

namespace marbloom::test {
namespace {

struct ResultCase {
  const char* name;
  void (*setup)(const DataLayout&);
  OperationResult (*run)(const DataLayout&);
  Outcome outcome;
  int failedItems;
};

class DailyResultTest : public DailyTreeTest, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(DailyResultTest, OutcomeAndFailedItemsFollowTheFiles) {
  GetParam().setup(layout);
  const OperationResult result = GetParam().run(layout);
  EXPECT_EQ(result.outcome, GetParam().outcome);
  EXPECT_EQ(result.failedItems, GetParam().failedItems);
  EXPECT_EQ(result.message, test::StatusText());
}

std::string OtherTree(const DataLayout& layout) { return layout.WorkDir() + "other/"; }

void TwoSoundFilesAndOneDamaged(const DataLayout& layout) {
  WriteDaily(layout, 0, "000001", {Rec(20220505)});
  WriteDaily(layout, 1, "600000", {Rec(20220506), Rec(20220505)});
  WriteFileBytes(layout.DailyFile(0, "000002"), std::vector<uint8_t>(100, 7));
  std::filesystem::create_symlink(layout.DailyFile(0, "000001"), layout.DailyFile(0, "000003"));  // damaged too
}

OperationResult ConvertMay5(const DataLayout& l) { return DailyConversion(l).ConvertDailyRange(20220505, 20220505); }
OperationResult DeleteAll(const DataLayout& l) {
  return DailyRangeDelete(l).DeleteDailyRange(20220505, 20220505, "????????");
}

INSTANTIATE_TEST_SUITE_P(
    Operations, DailyResultTest,
    ::testing::Values(
        ResultCase{"ConvertOfEveryMarketIsDone", [](const DataLayout& l) { WriteEveryMarket(l, 20220505); },
                   ConvertMay5, Outcome::kDone, 0},
        // The damaged sz pair also ends the day before sh and bj.
        ResultCase{"ConvertOfADamagedPairFails",
                   [](const DataLayout& l) {
                     WriteEveryMarket(l, 20220505);
                     WriteFileBytes(l.QuoteFile(0, 20220505), std::vector<uint8_t>(1000, 0));
                   },
                   ConvertMay5, Outcome::kFailed, 1},
        ResultCase{"ConvertWithAMarketMissingFails",
                   [](const DataLayout& l) {
                     WriteEveryMarket(l, 20220505);
                     std::filesystem::remove(l.CodeListFile(2, 20220505));
                     std::filesystem::remove(l.QuoteFile(2, 20220505));
                   },
                   ConvertMay5, Outcome::kFailed, 1},
        ResultCase{"ConvertWithAQuoteFileMissingOrIntoALinkFails",
                   [](const DataLayout& l) {
                     WriteEveryMarket(l, 20220505);
                     std::filesystem::remove(l.QuoteFile(1, 20220505));
                     std::filesystem::create_symlink(l.DailyFile(0, "000901"), l.DailyFile(2, "830901"));
                   },
                   ConvertMay5, Outcome::kFailed, 2},
        ResultCase{"ConvertOfAPairWithAnUnsafeCodeFails",
                   [](const DataLayout& l) {
                     WriteEveryMarket(l, 20220505);
                     WriteSourcePair(l, 1, 20220505, {Stock("60000/", 10), Stock("600000", 10)});
                   },
                   ConvertMay5, Outcome::kFailed, 1},
        // Saturday to Monday: the weekend and the holiday Monday have no files.
        ResultCase{"ConvertOverDaysWithoutFilesIsDone", [](const DataLayout& l) { WriteEveryMarket(l, 20220506); },
                   [](const DataLayout& l) { return DailyConversion(l).ConvertDailyRange(20220506, 20220509); }, Outcome::kDone, 0},
        ResultCase{"ConvertOfARangeWithoutSourcesHasNothingToDo", [](const DataLayout&) {}, ConvertMay5,
                   Outcome::kNothingToDo, 0},
        ResultCase{"DeleteLeavesADamagedFileAndFails", TwoSoundFilesAndOneDamaged, DeleteAll, Outcome::kFailed, 2},
        ResultCase{"ModifyLeavesADamagedFileAndFails", TwoSoundFilesAndOneDamaged,
                   [](const DataLayout& l) { return DailyBatchModify(l).ModifyDailyRange(20220505, 20220505, DailyFactors{}, "sz??????"); },
                   Outcome::kFailed, 2},
        ResultCase{"DeleteOfNoFileHasNothingToDo", TwoSoundFilesAndOneDamaged,
                   [](const DataLayout& l) { return DailyRangeDelete(l).DeleteDailyRange(20220505, 20220505, "bj??????"); },
                   Outcome::kNothingToDo, 0},
        ResultCase{"CheckCountsBadFiles", TwoSoundFilesAndOneDamaged,
                   [](const DataLayout& l) { return DailyCheck(l).CheckDailyFiles(); }, Outcome::kFailed, 3},
        ResultCase{"CheckOfASoundTreeIsDone",
                   [](const DataLayout& l) { WriteDaily(l, 2, "830001", {Rec(20220505)}); },
                   [](const DataLayout& l) { return DailyCheck(l).CheckDailyFiles(); }, Outcome::kDone, 0},
        // Dates that do not rise, or a link, damage a file too, on either side: neither merged into nor moved.
        ResultCase{"MergeOfADamagedSourceFails",
                   [](const DataLayout& l) {
                     const DataLayout other(std::string(), OtherTree(l));
                     std::filesystem::create_directories(other.DailyDir(0));
                     WriteDaily(other, 0, "000001", {Rec(20220505)});
                     WriteFileBytes(other.DailyFile(0, "000002"), std::vector<uint8_t>(33, 1));
                     WriteDaily(other, 0, "000003", {Rec(20220505), Rec(20220505)});
                     WriteDaily(other, 0, "000004", {Rec(20220505)});
                     WriteDaily(l, 0, "000004", {Rec(20220506), Rec(20220504)});
                     std::filesystem::create_symlink(other.DailyFile(0, "000004"), other.DailyFile(0, "000005"));
                   },
                   [](const DataLayout& l) {
                     return DailyMerge(l).MergeDailyFiles(DataLayout(std::string(), OtherTree(l)));
                   },
                   Outcome::kFailed, 4}),
    [](const ::testing::TestParamInfo<ResultCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace marbloom::test
