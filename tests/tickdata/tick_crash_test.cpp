// A conversion killed inside its writes never leaves a security without its
// data: each pair is the old one, the new one, or one the check reports. The
// child process dies at a chosen change of the fault seam, so every round
// dies in the middle of a write, some between the two renames of a rewrite,
// some between an append to the data file and its index's commit; after the
// latter the pair reads as before and the next conversion gives the same
// bytes as a run never killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <vector>

#include "support/fault_file_system.h"
#include "tickdata/tick_engine.h"
#include "tick_test_support.h"

namespace marbloom::test {
namespace {

constexpr int kMon = 20240108, kWed = 20240110, kNextMon = 20240115, kNextWed = 20240117;

// The days a run converts: into the stored days (rewrites) or after them (appends).
struct CrashRun {
  int first, last;
  bool appends;
};

struct PairBytes {
  Bytes index, data;
  bool operator==(const PairBytes&) const = default;
};

// The rename that puts a new data file in place.
bool IsDataRename(const std::string& change) { return change.starts_with("rename ") && change.ends_with(".vtc"); }
// The last change of a pair's own data file before its index commits: a
// rename for a rewrite, a write for an append or a new pair.
bool IsDataCommit(const std::string& change) {
  return IsDataRename(change) || (change.starts_with("write ") && change.ends_with(".vtc"));
}

class TickCrashTest : public ::testing::TestWithParam<CrashRun> {
 protected:
  TestTree tree;
  DataLayout layout = tree.layout();
  std::vector<std::string> codes;
  std::map<std::string, PairBytes> oldPairs, newPairs;

  void SetUp() override {
    for (int i = 0; i < 150; ++i) codes.push_back(std::to_string(100000 + i).replace(0, 1, "0"));
    const CrashRun run = GetParam();
    std::vector<ArchiveItem> mon, wed;
    for (int i = 0; i < 150; ++i) {
      if (i < 120) {  // the last thirty are new to the store
        WritePair(layout, "sz" + codes[i], {MakeDay(20240102, i), MakeDay(kMon, i + 1, 30), MakeDay(20240112, i + 2)});
        oldPairs["sz" + codes[i]] = Snapshot("sz" + codes[i]);
      }
      mon.push_back({0, codes[i], MakeDay(run.first, i + 3, 200)});
      if (i % 2 == 0) wed.push_back({0, codes[i], MakeDay(run.last, i + 4, 300)});
    }
    WriteArchive(layout, run.first, mon);
    WriteArchive(layout, run.last, wed);
  }
  PairBytes Snapshot(const std::string& stem) const {
    return {PathExists(layout.TickIndexFile(stem)) ? ReadFileBytes(layout.TickIndexFile(stem)) : Bytes{},
            PathExists(layout.TickDataFile(stem)) ? ReadFileBytes(layout.TickDataFile(stem)) : Bytes{}};
  }

  void RestoreOldStore() {
    for (const std::string& code : codes) {
      const std::string stem = "sz" + code;
      auto old = oldPairs.find(stem);
      if (old != oldPairs.end()) {
        WriteFileBytes(layout.TickIndexFile(stem), old->second.index);
        WriteFileBytes(layout.TickDataFile(stem), old->second.data);
      } else {
        std::remove(layout.TickIndexFile(stem).c_str());
        std::remove(layout.TickDataFile(stem).c_str());
      }
    }
  }
};

TEST_P(TickCrashTest, KilledConversionLeavesOldNewOrReportedPairs) {
  const CrashRun run = GetParam();
  FaultFileSystem recorder;
  TickEngine engine(layout.WithFiles(recorder));
  engine.SetWorkers(1);  // the changes numbered in one order, run after run
  ASSERT_TRUE(engine.ConvertTickRange(run.first, run.last).done());
  const std::vector<std::string> steps = recorder.Changes();
  for (const std::string& code : codes) newPairs["sz" + code] = Snapshot("sz" + code);
  ASSERT_NE(newPairs.begin()->second, oldPairs.begin()->second);

  // Kill points spread over the whole run, and right after the data file of
  // some securities old and new to the store is complete (at the change that
  // follows: the index's commit).
  std::vector<std::size_t> killAt, dataCommits;
  for (std::size_t k = 1; k <= 12; ++k) killAt.push_back(k * steps.size() / 13);
  for (std::size_t k = 0; k + 1 < steps.size(); ++k)
    if (IsDataCommit(steps[k]) && !IsDataCommit(steps[k + 1])) dataCommits.push_back(k + 2);
  ASSERT_EQ(dataCommits.size(), codes.size());
  for (std::size_t security : {0, 59, 119, 120, 149}) killAt.push_back(dataCommits[security]);

  int mixed = 0;
  for (std::size_t round = 0; round < killAt.size(); ++round) {
    RestoreOldStore();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FaultFileSystem crashing;
      crashing.CrashAt(killAt[round]);
      TickEngine killed(layout.WithFiles(crashing));
      killed.SetWorkers(1);
      killed.ConvertTickRange(run.first, run.last);
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "round " << round << " ran to its end";
    int mixedThisRound = 0;
    for (const std::string& code : codes) {
      const std::string stem = "sz" + code;
      const PairBytes now = Snapshot(stem);
      const bool hadData = oldPairs.count(stem) != 0;
      if (now == newPairs[stem] || (hadData && now == oldPairs[stem])) continue;
      if (!hadData && now.index.empty() && now.data.empty()) continue;  // not written yet
      ++mixedThisRound;
      EXPECT_FALSE(engine.CheckTickFile(stem)) << "round " << round << " " << stem;
      EXPECT_FALSE(hadData && (now.index.empty() || now.data.empty())) << "round " << round << " " << stem;
      // An append not committed: the stored days read as before, the new one
      // not yet. A rewrite cut between its renames: no day reads at all.
      if (run.appends && hadData) {
        EXPECT_TRUE(ReadTickDay(layout, 0, code, 20240112) && !ReadTickDay(layout, 0, code, run.first)) << stem;
      } else if (hadData) {
        EXPECT_FALSE(ReadTickDay(layout, 0, code, 20240102)) << "round " << round << " " << stem;
      }
    }
    if (IsDataCommit(steps[killAt[round] - 2])) {
      EXPECT_EQ(mixedThisRound, 1) << "round " << round;
    }
    mixed += mixedThisRound;
    if (!run.appends) continue;
    // The next run cuts the tails and ends where a run never killed ends.
    EXPECT_TRUE(engine.ConvertTickRange(run.first, run.last).done()) << "round " << round;
    for (const std::string& code : codes) EXPECT_EQ(Snapshot("sz" + code), newPairs["sz" + code]) << "round " << round;
  }
  EXPECT_GT(mixed, 0);
}

INSTANTIATE_TEST_SUITE_P(Ways, TickCrashTest,
                         ::testing::Values(CrashRun{kMon, kWed, false}, CrashRun{kNextMon, kNextWed, true}));

}  // namespace
}  // namespace marbloom::test
