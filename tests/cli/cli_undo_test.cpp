// Every writing command of marbloom-cli on a sample tree, then `undo` of its
// run: the tree, and the other tree a merge moved files out of, byte for byte
// as before.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_test_support.h"
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

class CliUndo : public CliTree, public ::testing::WithParamInterface<UndoCase> {
 protected:
  void SetUp() override {
    CliTree::SetUp();
    sample::SampleOptions market = sample::SampleOptions::Quick(11);
    market.securities = 30;
    for (int date : {20220509, 20220510})
      ASSERT_TRUE(sample::WriteDailySources(date, market, Layout().DailySourceDir()));
    for (int date : {20240108, 20240109, 20240110}) ASSERT_TRUE(sample::WriteTickArchive(date, market, Layout().TickArchiveDir()));
    ASSERT_TRUE(sample::WriteDailyArchiveZip(20220511, market, Zips()));
    ASSERT_EQ(Cli("daily convert --from 20220509 --to 20220509").exitCode, 0);
    ASSERT_EQ(Cli("tick convert --from 20240108 --to 20240109").exitCode, 0);
    ASSERT_EQ(Cli("minutes build --from 20240108 --to 20240108").exitCode, 0);
    const std::string code = sample::MarketQuotes(20220509, 0, market).front().code;
    std::filesystem::create_directories(Other() + "sz/lday");
    std::filesystem::create_directories(Other() + "sh/lday");
    WriteFileBytes(Other() + "sz/lday/sz" + code + ".day", DailyBytes({20220505, 20220509}));
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
  const CommandResult list = Cli("undo list");
  const std::size_t line = list.out.find('\n');
  ASSERT_NE(line, std::string::npos) << list.out;
  const int id = std::stoi(list.out.substr(line + 1));
  const CommandResult undo = Cli("undo " + std::to_string(id));
  EXPECT_EQ(undo.exitCode, 0) << undo.out;
  EXPECT_EQ(Trees(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CliUndo,
    ::testing::Values(UndoCase{"DailyConvert", "daily convert --from 20220510 --to 20220510"},
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
                      UndoCase{"Import", "import {zips}20220511.zip --kind daily"}),
    [](const ::testing::TestParamInfo<UndoCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace marbloom::test
