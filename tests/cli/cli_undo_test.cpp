// Every writing command of marbloom-cli on a sample tree, then `undo` of its
// run: the tree, and the other tree a merge moved files out of, byte for byte
// as before.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_test_support.h"
#include "common/tree_lock.h"
#include "samplegen.h"

namespace marbloom::test {
namespace {

using Files = std::map<std::string, std::vector<uint8_t>>;

// A daily file of one 32-byte record per date, every field but the date 1.
std::vector<uint8_t> DailyBytes(std::initializer_list<uint32_t> dates) {
  std::vector<uint8_t> bytes;
  for (uint32_t date : dates) {
    uint8_t record[32];
    std::memset(record, 1, sizeof record);
    std::memcpy(record, &date, sizeof date);
    bytes.insert(bytes.end(), record, record + sizeof record);
  }
  return bytes;
}

struct UndoCase {
  const char* name;
  std::string command;  // "{other}": the other tree of a merge; "{zips}": a folder of day archives
};

// A sample tree: two days of daily lines, two days of ticks, the minute
// lines of the first, and another tree holding daily files to merge.
class UndoTree : public CliTree {
 public:
  void SetUp() override {
    CliTree::SetUp();
    sample::SampleOptions market = sample::SampleOptions::Quick(11);
    market.securities = 30;
    for (int date : {20220509, 20220510, 20220511})
      ASSERT_TRUE(sample::WriteDailySources(date, market, Layout().DailySourceDir()));
    for (int date : {20240108, 20240109, 20240110}) ASSERT_TRUE(sample::WriteTickArchive(date, market, Layout().TickArchiveDir()));
    ASSERT_TRUE(sample::WriteDailyArchiveZip(20220512, market, Zips()));
    ASSERT_EQ(Cli("daily convert --from 20220509 --to 20220510").exitCode, 0);
    ASSERT_EQ(Cli("tick convert --from 20240108 --to 20240109").exitCode, 0);
    ASSERT_EQ(Cli("minutes build --from 20240108 --to 20240108").exitCode, 0);
    code_ = sample::MarketQuotes(20220509, 0, market).front().code;
    const sample::SampleTickDay first = sample::TickDays(20240108, market).front();
    tickStem_ = SecurityStem(first.market, first.code);
    std::filesystem::create_directories(Other() + "sz/lday");
    std::filesystem::create_directories(Other() + "sh/lday");
    WriteFileBytes(Other() + "sz/lday/sz" + code_ + ".day", DailyBytes({20220505, 20220509}));
    ASSERT_FALSE(PathExists(history_ + "sh/lday/sh688999.day"));
    WriteFileBytes(Other() + "sh/lday/sh688999.day", DailyBytes({20220505}));
  }
  std::string Other() const { return temp_.path() + "other/"; }
  std::string Zips() const { return temp_.path() + "zips/"; }

  // The files of both trees, the journal and the lock file left out.
  Files Trees() const {
    Files files;
    for (const std::string& dir : {history_, Other()})
      for (auto& [path, bytes] : FilesBelow(dir))
        if (path.find("/.marbloom-undo/") == std::string::npos) files[path] = std::move(bytes);
    return files;
  }
  // The newest run of the journal.
  int NewestRun() const {
    const CommandResult list = Cli("undo list");
    const std::size_t line = list.out.find('\n');
    return line == std::string::npos ? 0 : std::atoi(list.out.c_str() + line + 1);
  }
  std::string DailyFile() const { return history_ + "sz/lday/sz" + code_ + ".day"; }

  std::string code_, tickStem_;
};

class CliUndo : public UndoTree, public ::testing::WithParamInterface<UndoCase> {
 protected:
  std::string Command() const {
    std::string command = GetParam().command;
    for (const auto& [name, value] : {std::pair{"{other}", Other()}, std::pair{"{zips}", Zips()}})
      if (auto at = command.find(name); at != std::string::npos) command.replace(at, std::strlen(name), value);
    return command;
  }
};

TEST_P(CliUndo, UndoPutsBothTreesBackByteForByte) {
  const Files before = Trees();
  const CommandResult run = Cli(Command());
  ASSERT_EQ(run.exitCode, 0) << run.out;
  ASSERT_NE(Trees(), before);
  const CommandResult undo = Cli("undo " + std::to_string(NewestRun()));
  EXPECT_EQ(undo.exitCode, 0) << undo.out;
  EXPECT_EQ(Trees(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CliUndo,
    ::testing::Values(UndoCase{"DailyConvert", "daily convert --from 20220511 --to 20220511"},
                      UndoCase{"DailyDelete", "daily delete --from 20220509 --to 20220509 --codes 'sz\?\?\?\?\?\?'"},
                      UndoCase{"DailyScale", "daily scale --from 20220509 --to 20220509 --codes 'sh\?\?\?\?\?\?' --close 2"},
                      UndoCase{"DailyMerge", "daily merge {other}"},
                      UndoCase{"DailyEdit", "daily edit sz000001 --date 20220506 --open 1 --high 2 --low 1 --close 2 "
                                            "--volume 5 --amount 9"},
                      UndoCase{"TickConvert", "tick convert --from 20240110 --to 20240110"},
                      UndoCase{"TickDelete", "tick delete --from 20240108 --to 20240108"},
                      UndoCase{"MinutesBuild", "minutes build --from 20240109 --to 20240109"},
                      UndoCase{"MinutesDelete", "minutes delete --from 20240108 --to 20240108"},
                      UndoCase{"MinutesScale", "minutes scale --from 20240108 --to 20240108 --codes 'sz\?\?\?\?\?\?' "
                                               "--volume 2"},
                      UndoCase{"Import", "import {zips}20220512.zip --kind daily"}),
    [](const ::testing::TestParamInfo<UndoCase>& info) { return std::string(info.param.name); });

// A merge's undo takes the other tree's lock, keeps later work there unless
// forced, and runs from another work directory on the same tree.
TEST_F(UndoTree, UndoOfAMergeKeepsLaterWorkInTheOtherTreeUnlessForced) {
  const Files before = Trees();
  ASSERT_EQ(Cli("daily merge other/").exitCode, 0);
  const std::string undo = "undo " + std::to_string(NewestRun()), work = temp_.path() + "a/b/";
  WriteFileBytes(Other() + "sh/lday/sh688999.day", DailyBytes({20220506}));
  const Files later = Trees();
  EXPECT_EQ(Cli(undo).exitCode, 2);
  EXPECT_EQ(Trees(), later);
  {
    const TreeWriteLock lock(DataLayout(std::string(), Other()));
    EXPECT_EQ(Cli(undo + " --force").exitCode, 5);
  }
  std::filesystem::create_directories(work);
  ASSERT_EQ(RunCommand(Program() + " -C " + work + " settings set VIPDOC=../../hist/").exitCode, 0);
  EXPECT_EQ(RunCommand(Program() + " -C " + work + " " + undo + " --force 2>/dev/null").exitCode, 0);
  EXPECT_EQ(Trees(), before);
}

TEST_F(UndoTree, NoUndoRunsWithoutTheJournal) {
  const int newest = NewestRun();
  ASSERT_EQ(Cli("--no-undo daily delete --from 20220509 --to 20220509 --codes 'sz\?\?\?\?\?\?'").exitCode, 0);
  EXPECT_EQ(NewestRun(), newest);
}

// ------------------------------------------------------------ repair

// Bytes of a file changed in place, or cut or grown at its end.
void Patch(const std::string& path, const std::function<void(std::vector<uint8_t>&)>& change) {
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  change(bytes);
  WriteFileBytes(path, bytes);
}

void PutInt(std::vector<uint8_t>& bytes, std::size_t at, int32_t value) { std::memcpy(bytes.data() + at, &value, 4); }

// A damage, and which days the repair keeps: each (before, after) pair is a
// day of the sample tree and the date it has after the repair (a relabelled
// entry or record keeps its data under the date it was given). Without
// `mends` the file holds nothing usable and the repair must leave it alone.
struct RepairCase {
  const char* name;
  std::function<void(UndoTree&)> damage;
  const char* repair;
  const char* check;
  std::vector<std::pair<int, int>> kept;
  bool mends = true;
};

class CliRepair : public UndoTree, public ::testing::WithParamInterface<RepairCase> {
 protected:
  bool Daily() const { return std::string(GetParam().repair).starts_with("daily"); }
  std::string Show() const { return std::string(Daily() ? "daily show sz" + code_ : "tick show " + tickStem_) + " --csv"; }
  // The records `show` prints in CSV (of one day when given), the date column cut.
  std::string Rows(int date = 0) const {
    const std::string d = std::to_string(date);
    std::istringstream csv(Cli(Show() + (date ? " --from " + d + " --to " + d : "")).out);
    std::string rows, line;
    for (std::getline(csv, line); std::getline(csv, line);) rows += line.substr(line.find(',')) + "\n";
    return rows;
  }
};

TEST_P(CliRepair, KeepsEveryReadableDayAndIsUndoneToTheDamage) {
  std::map<int, std::string> before, kept;  // kept: by the date after the repair
  for (int date : {20220509, 20220510, 20240108, 20240109}) before[date] = Rows(date);
  GetParam().damage(*this);
  ASSERT_NE(Cli(GetParam().check).exitCode, 0);
  const Files damaged = Trees();
  const CommandResult repair = Cli(GetParam().repair);
  EXPECT_EQ(repair.exitCode == 0, GetParam().mends) << repair.out;
  EXPECT_NE(ReadRunLog().find(Daily() ? "sz" + code_ : tickStem_), std::string::npos);
  if (!GetParam().mends) {
    EXPECT_EQ(Trees(), damaged);
    return;
  }
  for (const auto& [was, is] : GetParam().kept) kept[is] = before[was];
  std::string expected;
  for (const auto& [date, rows] : kept) expected += rows;
  EXPECT_EQ(Rows(), expected);
  EXPECT_EQ(Cli(GetParam().check).exitCode, 0);
  EXPECT_EQ(Cli("undo " + std::to_string(NewestRun())).exitCode, 0);
  EXPECT_EQ(Trees(), damaged);
}

constexpr std::size_t kEntry = 16;  // the first index entry; the second follows 22 bytes on
const std::vector<std::pair<int, int>> kBothDays = {{20220509, 20220509}, {20220510, 20220510}};
const std::vector<std::pair<int, int>> kBothTickDays = {{20240108, 20240108}, {20240109, 20240109}};

INSTANTIATE_TEST_SUITE_P(
    Damage, CliRepair,
    ::testing::Values(
        RepairCase{"DailyPartialRecord", [](UndoTree& t) { Patch(t.DailyFile(), [](auto& b) { b.resize(b.size() + 5, 7); }); },
                   "daily check --repair", "daily check", kBothDays},
        RepairCase{"DailyZeroDate", [](UndoTree& t) { Patch(t.DailyFile(), [](auto& b) { PutInt(b, 0, 0); }); },
                   "daily check --repair", "daily check", {{20220510, 20220510}}},
        RepairCase{"DailyNotACalendarDate", [](UndoTree& t) { Patch(t.DailyFile(), [](auto& b) { PutInt(b, 0, 20221345); }); },
                   "daily check --repair", "daily check", {{20220510, 20220510}}},
        RepairCase{"DailyAfterToday", [](UndoTree& t) { Patch(t.DailyFile(), [](auto& b) { PutInt(b, 32, 20991231); }); },
                   "daily check --repair", "daily check", {{20220509, 20220509}}},
        RepairCase{"DailyOutOfOrder", [](UndoTree& t) { Patch(t.DailyFile(), [](auto& b) { PutInt(b, 32, 20220505); }); },
                   "daily check --repair", "daily check", {{20220509, 20220509}, {20220510, 20220505}}},
        RepairCase{"DailySameDateTwice",
                   [](UndoTree& t) { Patch(t.DailyFile(), [](auto& b) { b.insert(b.end(), b.end() - 32, b.end()); }); },
                   "daily check --repair", "daily check", kBothDays},
        RepairCase{"DailyEmpty", [](UndoTree& t) { Patch(t.DailyFile(), [](auto& b) { b.clear(); }); },
                   "daily check --repair", "daily check", {}},
        RepairCase{"DailyRandomBytes",
                   [](UndoTree& t) {
                     Patch(t.DailyFile(), [](auto& b) {
                       for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 131 + 97);
                     });
                   },
                   "daily check --repair", "daily check", {}, false},
        RepairCase{"TickUncommittedTail",
                   [](UndoTree& t) { Patch(t.Layout().TickDataFile(t.tickStem_), [](auto& b) { b.resize(b.size() + 900, 3); }); },
                   "tick check --repair", "tick check", kBothTickDays},
        RepairCase{"TickCount", [](UndoTree& t) { Patch(t.Layout().TickIndexFile(t.tickStem_), [](auto& b) { PutInt(b, 12, 5); }); },
                   "tick check --repair", "tick check", kBothTickDays},
        RepairCase{"TickHeaderDates",
                   [](UndoTree& t) { Patch(t.Layout().TickIndexFile(t.tickStem_), [](auto& b) { PutInt(b, 4, 0); }); },
                   "tick check --repair", "tick check", kBothTickDays},
        RepairCase{"TickEntryDatedZero",
                   [](UndoTree& t) { Patch(t.Layout().TickIndexFile(t.tickStem_), [](auto& b) { PutInt(b, kEntry, 0); }); },
                   "tick check --repair", "tick check", {{20240109, 20240109}}},
        RepairCase{"TickPartialEntry",
                   [](UndoTree& t) { Patch(t.Layout().TickIndexFile(t.tickStem_), [](auto& b) { b.resize(b.size() + 7); }); },
                   "tick check --repair", "tick check", kBothTickDays},
        RepairCase{"TickIndexCut",
                   [](UndoTree& t) { Patch(t.Layout().TickIndexFile(t.tickStem_), [](auto& b) { b.resize(b.size() - 7); }); },
                   "tick check --repair", "tick check", {{20240108, 20240108}}},
        RepairCase{"TickOutOfOrder",
                   [](UndoTree& t) {
                     Patch(t.Layout().TickIndexFile(t.tickStem_), [](auto& b) { PutInt(b, kEntry + 22, 20240105); });
                   },
                   "tick check --repair", "tick check", {{20240108, 20240108}, {20240109, 20240105}}},
        RepairCase{"TickDataShortByOneByte",
                   [](UndoTree& t) { Patch(t.Layout().TickDataFile(t.tickStem_), [](auto& b) { b.resize(b.size() - 1); }); },
                   "tick check --repair", "tick check", {{20240108, 20240108}}},
        RepairCase{"TickBlockGarbled",
                   [](UndoTree& t) {
                     Patch(t.Layout().TickDataFile(t.tickStem_), [](auto& b) { std::fill(b.begin(), b.begin() + 8, 0x5a); });
                   },
                   "tick check --deep --repair", "tick check --deep", {{20240109, 20240109}}}),
    [](const ::testing::TestParamInfo<RepairCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace marbloom::test
