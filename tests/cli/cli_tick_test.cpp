// marbloom-cli tick convert | delete | check | show, run as a program on a
// small sample market, and the tick page's checks in front of them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/run_log.h"
#include "app/settings.h"
#include "common/dir_walk.h"
#include "common/security_class.h"
#include "samplegen.h"
#include "support/temp_dir.h"
#include "tickdata/tick_file.h"
#include "tickdata/tick_reader.h"

namespace marbloom::test {
namespace {

using namespace marbloom::sample;

constexpr int kMon = 20240108, kTue = 20240109;
const char* const kRangeInvalid = "日期区间不合法!";
const char* const kRangeTooLong = "日期区间太长!";
const char* const kPatternLength = "代码长度错误，请按mmcccccc格式，mm为市场，cccccc为代码!";
const char* const kGuard = "数据初始化错误或目录不可写,请在[参数设置]中设置正确的路径!";
const char* const kGuardLine = "数据初始化错误或目录不可写,请在[参数设置]中设置正确的路径!\n";

SampleOptions SmallMarket() {
  SampleOptions options = SampleOptions::Quick(7);
  options.securities = 40;
  return options;
}

class CliTick : public ::testing::Test {
 protected:
  void SetUp() override {
    history_ = temp_.path() + "hist/";
    ASSERT_EQ(Cli("settings set VIPDOC=" + history_).exitCode, 0);
    Settings().historyDir = history_;
    SetRunLogDirectory(temp_.path() + "logs/");
  }
  void TearDown() override { Settings() = AppSettings{}; }
  CommandResult Cli(const std::string& args) {
    return RunCommand(BuiltProgram("src/cli/marbloom-cli") + " -C " + temp_.path() + " " + args + " 2>/dev/null");
  }
  void WriteArchives(std::initializer_list<int> dates) {
    for (int date : dates) ASSERT_TRUE(WriteTickArchive(date, SmallMarket(), history_ + "newdatetick/"));
  }
  TempDir temp_;
  std::string history_;
};

TEST_F(CliTick, ConvertedSampleDaysReadBackTickForTick) {
  WriteArchives({kMon, kTue});
  auto convert = Cli("tick convert --from 2024-01-08 --to 2024-01-12");
  EXPECT_EQ(convert.exitCode, 0);
  EXPECT_EQ(convert.out, "分笔数据转档完成!\n");
  TickReader reader;
  for (int date : {kMon, kTue}) {
    const std::vector<SampleTickDay> days = TickDays(date, SmallMarket());
    ASSERT_FALSE(days.empty());
    for (const SampleTickDay& sample : days) {
      auto day = reader.ReadTickDay(sample.market, sample.code, date);
      ASSERT_TRUE(day) << sample.code << " " << date;
      ASSERT_EQ(day->ticks.size(), sample.ticks.size()) << sample.code;
      EXPECT_EQ(day->refPrice, sample.refPrice);
      const SampleTick& last = sample.ticks.back();
      EXPECT_EQ(day->ticks.back().volume, static_cast<int32_t>(last.volume));
      EXPECT_EQ(day->ticks.back().minute, last.seconds / 60);
    }
  }
  auto check = Cli("tick check");
  EXPECT_EQ(check.exitCode, 0);
  EXPECT_EQ(check.out, "共有0支股票分笔文件出错!\n");
}

TEST_F(CliTick, ShowPrintsOneLinePerTickThenTheCount) {
  WriteArchives({kMon});
  ASSERT_EQ(Cli("tick convert --from 20240108 --to 20240108").exitCode, 0);
  const SampleTickDay sample = TickDays(kMon, SmallMarket()).front();
  const std::string stem = TickStem(sample.market, sample.code);
  auto show = Cli("tick show " + stem + " --date 20240108");
  EXPECT_EQ(show.exitCode, 0);
  std::size_t lines = 0;
  for (char c : show.out) lines += c == '\n';
  EXPECT_EQ(lines, sample.ticks.size() + 2);  // heading, ticks, final status
  EXPECT_EQ(show.out.substr(0, show.out.find('\n')), "time\tprice\tvolume\textra\tkind");
  EXPECT_NE(show.out.find(stem + " 20240108: " + std::to_string(sample.ticks.size()) + "笔分笔数据\n"),
            std::string::npos)
      << show.out;
}

TEST_F(CliTick, CheckExitsOneAndLogsTheReasonForADamagedPair) {
  WriteArchives({kMon});
  ASSERT_EQ(Cli("tick convert --from 20240108 --to 20240108").exitCode, 0);
  const SampleTickDay sample = TickDays(kMon, SmallMarket()).front();
  const std::string stem = TickStem(sample.market, sample.code);
  std::vector<uint8_t> data = ReadFileBytes(TickDataPath(stem));
  data.push_back(0);
  WriteFileBytes(TickDataPath(stem), data);
  auto check = Cli("tick check");
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_EQ(check.out, "共有1支股票分笔文件出错!\n");
  EXPECT_NE(ReadRunLog().find(stem + "索引文件和数据文件不匹配!"), std::string::npos);
}

TEST_F(CliTick, CheckOfAnEmptyStoreSaysSoAndFindsNothingDamaged) {
  auto check = Cli("tick check");
  EXPECT_EQ(check.exitCode, 0);
  EXPECT_EQ(check.out, "共有0支股票分笔文件出错!\n");
  EXPECT_NE(ReadRunLog().find("路径不存在或无分笔数据!"), std::string::npos);
}

TEST_F(CliTick, DeleteRemovesOneDayAndRewritesWithVersionZero) {
  WriteArchives({kMon, kTue});
  ASSERT_EQ(Cli("tick convert --from 20240108 --to 20240109").exitCode, 0);
  const SampleTickDay sample = TickDays(kTue, SmallMarket()).front();
  const std::string stem = TickStem(sample.market, sample.code);
  auto remove = Cli("tick delete --from 20240109 --to 20240109");
  EXPECT_EQ(remove.exitCode, 0);
  EXPECT_EQ(remove.out, "删除分笔数据完成!\n");
  EXPECT_FALSE(TickReader().ReadTickDay(sample.market, sample.code, kTue));
  const std::vector<uint8_t> index = ReadFileBytes(TickIndexPath(stem));
  if (index.size() >= 16) {  // the security may have traded on Tuesday only
    EXPECT_EQ(index[0] | index[1] | index[2] | index[3], 0);
    EXPECT_TRUE(TickReader().ReadTickDay(sample.market, sample.code, kMon));
  }
  EXPECT_EQ(Cli("tick check").out, "共有0支股票分笔文件出错!\n");
}

TEST_F(CliTick, DeleteOnAnEmptyStoreEndsOnItsStartMessage) {
  auto remove = Cli("tick delete --from 20240101 --to 20240105");
  EXPECT_EQ(remove.exitCode, 0);
  EXPECT_EQ(remove.out, "正在删除20240101-20240105时间段的分笔数据...\n");
}

TEST_F(CliTick, ConvertWithoutArchivesEndsSilentlyOnTheIndexMessage) {
  auto convert = Cli("tick convert --from 20240101 --to 20240131");
  EXPECT_EQ(convert.exitCode, 0);
  EXPECT_EQ(convert.out, "创建转档索引表!\n");
  EXPECT_EQ(ReadRunLog().find("分笔数据转档"), std::string::npos);
}

// The tick page's checks, command by command: exit 2 and the page's message,
// nothing run.
struct Refusal {
  const char* name;
  const char* args;
  const char* message;
};

class CliTickPageChecks : public CliTick, public ::testing::WithParamInterface<Refusal> {};

TEST_P(CliTickPageChecks, RefusedWithThePageMessage) {
  WriteArchives({kMon});
  auto r = Cli(GetParam().args);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, std::string(GetParam().message) + "\n");
  EXPECT_TRUE(ListCountedFiles(history_ + "newtick/", "*").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Entries, CliTickPageChecks,
    ::testing::Values(
        Refusal{"convertReversed", "tick convert --from 20240109 --to 20240108", kRangeInvalid},
        Refusal{"convertTooLong", "tick convert --from 20240101 --to 20240202", kRangeTooLong},
        Refusal{"deleteReversed", "tick delete --from 2024-01-09 --to 2024-01-08", kRangeInvalid},
        Refusal{"deleteTooLong", "tick delete --from 2024-01-01 --to 2024-02-02", kRangeTooLong},
        Refusal{"minutesBuildReversed", "minutes build --from 20240109 --to 20240108", kRangeInvalid},
        Refusal{"minutesBuildTooLong", "minutes build --from 20231201 --to 20240108", kRangeTooLong},
        Refusal{"minutesDeleteReversed", "minutes delete --from 20240109 --to 20240108", kRangeInvalid},
        Refusal{"minutesDeleteTooLong", "minutes delete --from 20240101 --to 20240202", kRangeTooLong},
        Refusal{"scaleSevenCharacters", "minutes scale --codes sz00000 --from 20240108 --to 20240108",
                kPatternLength},
        Refusal{"scaleNineCharacters", "minutes scale --codes sz0000001 --from 20240108 --to 20240108",
                kPatternLength},
        Refusal{"scaleLengthBeforeRange", "minutes scale --codes sz00000 --from 20240109 --to 20240108",
                kPatternLength},
        Refusal{"scaleReversed", "minutes scale --codes sz000001 --from 20240109 --to 20240108",
                kRangeInvalid}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST_F(CliTick, ThirtyOneDaysApartIsAcceptedAndScaleHasNoSpanLimit) {
  EXPECT_EQ(Cli("tick convert --from 2024-01-01 --to 2024-02-01").exitCode, 0);
  auto scale = Cli("minutes scale --codes \"sz??????\" --from 20230101 --to 20241231");
  EXPECT_EQ(scale.exitCode, 0);
  EXPECT_EQ(scale.out, "批量修改分钟线完成!\n");
}

// A history directory that cannot be created leaves the data tree not ready:
// every tick page command stops with the guard message, exit 4, and logs it.
TEST_F(CliTick, DataGuardStopsEveryCommandWhenTheTreeIsNotReady) {
  WriteFileBytes(temp_.path() + "blocker", {1});
  std::string ini = "[PATH]\r\nVIPDOC=";
  ini += temp_.path();
  ini += "blocker/v/\r\n";
  WriteFileBytes(DataLayout(temp_.path(), "").SettingsFile(), std::vector<uint8_t>(ini.begin(), ini.end()));
  for (const char* args :
       {"tick convert --from 20240108 --to 20240108", "tick delete --from 20240108 --to 20240108", "tick check",
        "tick show sz000001 --date 20240108", "minutes build --all", "minutes build --from 20240108 --to 20240108",
        "minutes delete --from 20240108 --to 20240108",
        "minutes scale --codes sz000001 --from 20240108 --to 20240108", "minutes show sz000001"}) {
    auto r = Cli(args);
    EXPECT_EQ(r.exitCode, 4) << args;
    EXPECT_EQ(r.out, kGuardLine) << args;
  }
  EXPECT_NE(ReadRunLog().find(kGuard), std::string::npos);
}

}  // namespace
}  // namespace marbloom::test
