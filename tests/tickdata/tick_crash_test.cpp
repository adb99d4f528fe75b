// A conversion killed at random moments never leaves a security without its
// data: each pair is the old one, the new one, or one the check reports.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>

#include "tickdata/tick_engine.h"
#include "tick_test_support.h"

namespace marbloom::test {
namespace {

constexpr int kMon = 20240108, kWed = 20240110;

struct PairBytes {
  Bytes index, data;
  bool operator==(const PairBytes&) const = default;
};

class TickCrashTest : public ::testing::Test {
 protected:
  TestTree tree;
  std::vector<std::string> codes;
  std::map<std::string, PairBytes> oldPairs, newPairs;

  void SetUp() override {
    for (int i = 0; i < 150; ++i) codes.push_back(std::to_string(100000 + i).replace(0, 1, "0"));
    std::vector<ArchiveItem> mon, wed;
    for (int i = 0; i < 150; ++i) {
      if (i < 120) {  // the last thirty are new to the store
        WritePair("sz" + codes[i], {MakeDay(20240102, i), MakeDay(kMon, i + 1, 30), MakeDay(20240112, i + 2)});
        oldPairs["sz" + codes[i]] = Snapshot("sz" + codes[i]);
      }
      mon.push_back({0, codes[i], MakeDay(kMon, i + 3, 200)});
      if (i % 2 == 0) wed.push_back({0, codes[i], MakeDay(kWed, i + 4, 300)});
    }
    WriteArchive(kMon, mon);
    WriteArchive(kWed, wed);
  }

  static PairBytes Snapshot(const std::string& stem) {
    return {PathExists(TickIndexPath(stem)) ? ReadFileBytes(TickIndexPath(stem)) : Bytes{},
            PathExists(TickDataPath(stem)) ? ReadFileBytes(TickDataPath(stem)) : Bytes{}};
  }

  void RestoreOldStore() {
    for (const std::string& code : codes) {
      const std::string stem = "sz" + code;
      auto old = oldPairs.find(stem);
      if (old != oldPairs.end()) {
        WriteFileBytes(TickIndexPath(stem), old->second.index);
        WriteFileBytes(TickDataPath(stem), old->second.data);
      } else {
        std::remove(TickIndexPath(stem).c_str());
        std::remove(TickDataPath(stem).c_str());
      }
    }
  }
};

TEST_F(TickCrashTest, KilledConversionLeavesOldNewOrReportedPairs) {
  TickEngine engine;
  const auto start = std::chrono::steady_clock::now();
  engine.ConvertTickRange(kMon, kWed);
  const auto runMicros =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
  for (const std::string& code : codes) newPairs["sz" + code] = Snapshot("sz" + code);
  ASSERT_NE(newPairs.begin()->second, oldPairs.begin()->second);

  std::mt19937 random(20240108);
  std::uniform_int_distribution<long> moment(0, std::max<long>(1000, static_cast<long>(runMicros) * 3 / 2));
  int mixed = 0;
  for (int round = 0; round < 24; ++round) {
    RestoreOldStore();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TickEngine childEngine;
      childEngine.ConvertTickRange(kMon, kWed);
      ::_exit(0);
    }
    ::usleep(static_cast<useconds_t>(moment(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    for (const std::string& code : codes) {
      const std::string stem = "sz" + code;
      const PairBytes now = Snapshot(stem);
      const bool hadData = oldPairs.count(stem) != 0;
      if (now == newPairs[stem] || (hadData && now == oldPairs[stem])) continue;
      if (!hadData && now.index.empty() && now.data.empty()) continue;  // not written yet
      ++mixed;
      EXPECT_EQ(engine.CheckTickFile(stem), 0) << "round " << round << " " << stem;
      EXPECT_FALSE(hadData && (now.index.empty() || now.data.empty())) << "round " << round << " " << stem;
    }
  }
  RecordProperty("mixedPairs", mixed);
}

}  // namespace
}  // namespace marbloom::test
