// The tick conversion and the minute build on several workers, and the
// minute build done during the conversion from the blocks in hand, write the
// same bytes, log the same lines and show the same status lines as one
// worker doing one step after the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/run_log.h"
#include "common/shared_state.h"
#include "support/fault_file_system.h"
#include "tickdata/minute_engine.h"
#include "tickdata/minute_test_support.h"
#include "tickdata/tick_engine.h"
#include "tick_test_support.h"

namespace marbloom::test {
namespace {

constexpr int kMon = 20240108, kTue = 20240109;

struct RunOutput {
  std::map<std::string, Bytes> files;  // every file of the history tree by its path inside
  std::string log;
  std::vector<std::string> status;
};

// Securities new to the store, appended to, rewritten (a day between stored
// ones), damaged, and one holding an append never committed; two archive
// days; then the minute build, twice, so that the second replaces files.
RunOutput ConvertAndBuild(int workers, bool onePass) {
  TestTree tree;
  tree.reports().SetClock([] { return std::time_t{1704700000}; });
  FaultFileSystem files;
  const DataLayout layout = tree.layout().WithFiles(files);
  std::vector<ArchiveItem> mon, tue;
  for (int i = 0; i < 48; ++i) {
    const std::string code = "0001" + std::to_string(10 + i), stem = "sz" + code;
    if (i % 4 == 1 || i == 3) WritePair(layout, stem, {MakeDay(20240102, i), MakeDay(20240105, i + 1)});
    if (i % 4 == 2) WritePair(layout, stem, {MakeDay(20240102, i), MakeDay(kTue, i + 1), MakeDay(20240112, i)});
    if (i == 3) WriteFileBytes(layout.TickDataFile(stem), Bytes(5, 1));
    if (i == 5) WriteFileBytes(layout.TickDataFile(stem), DataBytes({MakeDay(20240102, i), MakeDay(20240105, i + 1),
                                                                      MakeDay(kMon, 7)}));
    mon.push_back({0, code, MakeDay(kMon, 100 + i, 60 + i)});
    if (i % 2 == 0) tue.push_back({0, code, MakeDay(kTue, 200 + i, 40 + i)});
  }
  WriteArchive(layout, kMon, mon);
  WriteArchive(layout, kTue, tue);

  StatusRecorder status;
  TickEngine ticks(layout);
  ticks.SetWorkers(workers);
  MinuteEngine minutes(layout, MinuteOptions{});
  minutes.SetWorkers(workers);
  if (onePass) ticks.FollowWithMinutes(&minutes);
  EXPECT_EQ(ticks.ConvertTickRange(kMon, kTue).failedItems, 1);
  // The damaged pair is reported by the minute build too.
  for (int run = 0; run < 2; ++run) EXPECT_EQ(minutes.BuildMinuteLines(kMon, kTue).failedItems, 1);
  // One flush for the tick store and the minute files built with it; a minute pass of its own flushes too.
  EXPECT_EQ(std::count_if(files.Changes().begin(), files.Changes().end(),
                          [](const std::string& c) { return c.starts_with("syncfs "); }),
            onePass ? 1 : 2);
  RunOutput out{{}, ReadRunLog(), status.Lines()};
  for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.historyDir()))
    if (entry.is_regular_file())
      out.files[entry.path().string().substr(tree.historyDir().size())] = ReadFileBytes(entry.path().string());
  return out;
}

TEST(EngineWorkersThreaded, EveryWorkerCountGivesTheOneWorkerTreeLogAndStatus) {
  const RunOutput one = ConvertAndBuild(1, false);
  EXPECT_GT(one.files.size(), 150u);
  for (auto [workers, onePass] : {std::pair{2, false}, {4, false}, {1, true}, {2, true}, {4, true}}) {
    const RunOutput many = ConvertAndBuild(workers, onePass);
    EXPECT_TRUE(many.files == one.files) << workers << " workers, one pass " << onePass;
    EXPECT_EQ(many.log, one.log) << workers << " workers, one pass " << onePass;
    EXPECT_EQ(many.status, one.status) << workers << " workers, one pass " << onePass;
  }
}

// A cancel while four workers run: the securities started finish whole, the
// others are not touched.
TEST(EngineWorkersThreaded, ACancelLetsTheStartedSecuritiesFinishWhole) {
  TestTree tree;
  std::vector<ArchiveItem> mon;
  for (int i = 0; i < 40; ++i) mon.push_back({0, "0002" + std::to_string(10 + i), MakeDay(kMon, 100 + i, 60 + i)});
  WriteArchive(tree.layout(), kMon, mon);
  TickEngine ticks(tree.layout());
  ticks.SetWorkers(4);
  tree.OnStatus([&](const std::string& line) { if (line == "转档sz000215分笔数据...") ticks.Cancel(); });
  EXPECT_EQ(ticks.ConvertTickRange(kMon, kMon).outcome, Outcome::kCancelled);
  int converted = 0;
  for (const ArchiveItem& item : mon)
    converted += PathExists(tree.layout().TickDataFile("sz" + item.code)) && ReadTickDay(tree.layout(), 0, item.code, kMon);
  EXPECT_TRUE(converted >= 6 && converted < 40) << converted;
}

}  // namespace
}  // namespace marbloom::test
