// A conversion killed inside its writes never leaves a security without its
// data: each pair is the old one, the new one, or one the check reports. The
// child process dies at a chosen change of the fault seam, so every round
// dies in the middle of a write, some between the two renames.
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

constexpr int kMon = 20240108, kWed = 20240110;

struct PairBytes {
  Bytes index, data;
  bool operator==(const PairBytes&) const = default;
};

// The rename that puts a new data file in place.
bool IsDataRename(const std::string& change) { return change.starts_with("rename ") && change.ends_with(".vtc"); }

class TickCrashTest : public ::testing::Test {
 protected:
  TestTree tree;
  DataLayout layout = tree.layout();
  std::vector<std::string> codes;
  std::map<std::string, PairBytes> oldPairs, newPairs;

  void SetUp() override {
    for (int i = 0; i < 150; ++i) codes.push_back(std::to_string(100000 + i).replace(0, 1, "0"));
    std::vector<ArchiveItem> mon, wed;
    for (int i = 0; i < 150; ++i) {
      if (i < 120) {  // the last thirty are new to the store
        WritePair(layout, "sz" + codes[i], {MakeDay(20240102, i), MakeDay(kMon, i + 1, 30), MakeDay(20240112, i + 2)});
        oldPairs["sz" + codes[i]] = Snapshot("sz" + codes[i]);
      }
      mon.push_back({0, codes[i], MakeDay(kMon, i + 3, 200)});
      if (i % 2 == 0) wed.push_back({0, codes[i], MakeDay(kWed, i + 4, 300)});
    }
    WriteArchive(layout, kMon, mon);
    WriteArchive(layout, kWed, wed);
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

TEST_F(TickCrashTest, KilledConversionLeavesOldNewOrReportedPairs) {
  FaultFileSystem recorder;
  TickEngine engine(layout.WithFiles(recorder));
  ASSERT_TRUE(engine.ConvertTickRange(kMon, kWed).done());
  const std::vector<std::string> steps = recorder.Changes();
  for (const std::string& code : codes) newPairs["sz" + code] = Snapshot("sz" + code);
  ASSERT_NE(newPairs.begin()->second, oldPairs.begin()->second);

  // Kill points spread over the whole run, and right after the data renames
  // of some securities old and new to the store (at the change that follows).
  std::vector<std::size_t> killAt, dataRenames;
  for (std::size_t k = 1; k <= 12; ++k) killAt.push_back(k * steps.size() / 13);
  for (std::size_t k = 0; k < steps.size(); ++k)
    if (IsDataRename(steps[k])) dataRenames.push_back(k + 2);
  ASSERT_EQ(dataRenames.size(), codes.size());
  for (std::size_t security : {0, 59, 119, 120, 149}) killAt.push_back(dataRenames[security]);

  int mixed = 0;
  for (std::size_t round = 0; round < killAt.size(); ++round) {
    RestoreOldStore();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FaultFileSystem crashing;
      crashing.CrashAt(killAt[round]);
      TickEngine(layout.WithFiles(crashing)).ConvertTickRange(kMon, kWed);
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
    }
    if (IsDataRename(steps[killAt[round] - 2])) {
      EXPECT_EQ(mixedThisRound, 1) << "round " << round;
    }
    mixed += mixedThisRound;
  }
  EXPECT_GT(mixed, 0);
}

}  // namespace
}  // namespace marbloom::test
