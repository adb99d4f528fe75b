// marbloom-cli tick convert | delete | check | show, run as a program on a
// small sample market, and the tick page's checks in front of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/cli_test_support.h"
#include "common/dir_walk.h"
#include "common/security_class.h"
#include "samplegen.h"
#include "support/fault_file_system.h"
#include "tickdata/minute_engine.h"
#include "tickdata/tick_engine.h"
#include "tickdata/tick_reader.h"
#include "tickdata/tick_test_support.h"

namespace marbloom::test {
namespace {

using namespace marbloom::sample;

constexpr int kMon = 20240108, kTue = 20240109;
const char* const kRangeInvalid = "日期区间不合法!";
const char* const kRangeTooLong = "日期区间太长!";
const char* const kPatternLength = "代码长度错误，请按mmcccccc格式，mm为市场，cccccc为代码!";
const char* const kCodeFormat = "代码格式不规范!";
const char* const kConverted = "分笔数据转档完成!\n";
const char* const kCheckedSound = "共有0支股票分笔文件出错!\n";

SampleOptions SmallMarket() {
  SampleOptions options = SampleOptions::Quick(7);
  options.securities = 40;
  return options;
}

// The first security of Monday's sample ticks.
std::string FirstStem() {
  const SampleTickDay day = TickDays(kMon, SmallMarket()).front();
  return SecurityStem(day.market, day.code);
}

class CliTick : public CliTree {
 public:
  void WriteArchives(std::initializer_list<int> dates) {
    for (int date : dates) ASSERT_TRUE(WriteTickArchive(date, SmallMarket(), Layout().TickArchiveDir()));
  }
};

TEST_F(CliTick, ConvertedSampleDaysReadBackTickForTick) {
  WriteArchives({kMon, kTue});
  auto convert = Cli("tick convert --from 2024-01-08 --to 2024-01-12");
  EXPECT_EQ(convert.exitCode, 0);
  EXPECT_EQ(convert.out, kConverted);
  for (int date : {kMon, kTue}) {
    const std::vector<SampleTickDay> days = TickDays(date, SmallMarket());
    ASSERT_FALSE(days.empty());
    for (const SampleTickDay& sample : days) {
      auto day = ReadTickDay(Layout(), sample.market, sample.code, date);
      ASSERT_TRUE(day) << sample.code << " " << date;
      ASSERT_EQ(day->ticks.size(), sample.ticks.size()) << sample.code;
      EXPECT_EQ(day->refPrice, sample.refPrice);
      const SampleTick& last = sample.ticks.back();
      EXPECT_EQ(day->ticks.back().volume, static_cast<int32_t>(last.volume));
      EXPECT_EQ(day->ticks.back().minute, last.seconds / 60);
    }
  }
  auto check = Cli("tick check --deep");
  EXPECT_EQ(check.exitCode, 0);
  EXPECT_EQ(check.out, kCheckedSound);
}

// show: a table with the count last, or CSV alone on stdout.
TEST_F(CliTick, ShowPrintsTheTicksAsATableOrCsv) {
  WriteArchive(Layout(), kMon, {{0, "000001", MakeDay(kMon, 1, 3)}});
  ASSERT_EQ(Cli("tick convert --from 20240108 --to 20240108").exitCode, 0);
  // SampleTicks(3, 1): prices 998, 999, 1000 in cents, volumes 100..102.
  const struct {
    const char* args;
    int exitCode;
    const char* out;  // "": not compared
  } cases[] = {
      {"SZ000001 --date 2024-01-08", 0,
       "      date      time  price  volume  extra  kind\n2024-01-08  09:30:00   9.98     100      1     0\n"
       "2024-01-08  09:30:03   9.99     101      2     1\n2024-01-08  09:30:06  10.00     102      3     2\n"
       "sz000001分笔共3条\n"},
      {"sz000001 --from 20240108 --csv", 0,
       "date,time,price,volume,extra,kind\n2024-01-08,09:30:00,9.98,100,1,0\n2024-01-08,09:30:03,9.99,101,2,1\n"
       "2024-01-08,09:30:06,10.00,102,3,2\n"},
      {"sz000001 --date 20240109", 1, ""},
      {"sz00001 --date 20240108", 2, "代码格式不规范!\n"},
  };
  for (const auto& c : cases) {
    const CommandResult r = Cli(std::string("tick show ") + c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args;
    EXPECT_TRUE(*c.out == '\0' || r.out == c.out) << c.args << "\n" << r.out;
  }
}

// A damaged pair is found by the check, and the conversion leaves its bytes as
// they are; without its data file it has nothing to lose and is rebuilt.
TEST_F(CliTick, DamagedPairIsReportedAndKeepsItsBytes) {
  WriteArchives({kMon, kTue});
  ASSERT_EQ(Cli("tick convert --from 20240108 --to 20240108").exitCode, 0);
  const std::string stem = FirstStem(), dataFile = Layout().TickDataFile(stem);
  std::vector<uint8_t> data = ReadFileBytes(dataFile);
  data.pop_back();
  WriteFileBytes(dataFile, data);
  const std::vector<uint8_t> index = ReadFileBytes(Layout().TickIndexFile(stem));
  auto check = Cli("tick check");
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_EQ(check.out, "共有1支股票分笔文件出错!\n");
  EXPECT_NE(ReadRunLog().find(stem + "索引文件和数据文件不匹配!"), std::string::npos);

  // Quiet, the cause still reaches standard error.
  auto convert = RunCommand(Program() + " --quiet -C " + temp_.path() +
                            " tick convert --from 20240108 --to 20240109 2>&1 >" + temp_.path() + "out");
  EXPECT_EQ(convert.exitCode, 1);
  EXPECT_EQ(ReadFileText(temp_.path() + "out").find("完成!"), std::string::npos);
  EXPECT_NE(convert.out.find(stem + "分笔文件已损坏, 未更新!"), std::string::npos) << convert.out;
  EXPECT_EQ(ReadFileBytes(dataFile), data);
  EXPECT_EQ(ReadFileBytes(Layout().TickIndexFile(stem)), index);

  std::filesystem::remove(dataFile);
  EXPECT_EQ(Cli("tick convert --from 20240108 --to 20240108").exitCode, 0);
  EXPECT_EQ(Cli("tick check").out, kCheckedSound);
}

// Each command on a store with nothing in it: exit 1, its last status.
TEST_F(CliTick, CommandsOnAnEmptyStoreHaveNothingToDo) {
  const struct {
    const char* args;
    const char* out;
  } cases[] = {
      {"tick check", kCheckedSound},
      // 31 days apart is the longest range the delete takes.
      {"tick delete --from 2024-01-01 --to 2024-02-01", "正在删除20240101-20240201时间段的分笔数据...\n"},
      {"tick convert --from 20240101 --to 20240131", "创建转档索引表!\n"},
  };
  for (const auto& c : cases) {
    const CommandResult r = Cli(c.args);
    EXPECT_EQ(r.exitCode, 1) << c.args;
    EXPECT_EQ(r.out, c.out) << c.args;
  }
  const std::string log = ReadRunLog();
  EXPECT_NE(log.find("路径不存在或无分笔数据!"), std::string::npos) << log;
  EXPECT_EQ(log.find("分笔数据转档"), std::string::npos) << log;
}

TEST_F(CliTick, DeleteRemovesOneDayAndRewritesWithVersionZero) {
  WriteArchives({kMon, kTue});
  ASSERT_EQ(Cli("tick convert --from 20240108 --to 20240109").exitCode, 0);
  const SampleTickDay sample = TickDays(kTue, SmallMarket()).front();
  const std::string stem = SecurityStem(sample.market, sample.code);
  auto remove = Cli("tick delete --from 20240109 --to 20240109");
  EXPECT_EQ(remove.exitCode, 0);
  EXPECT_EQ(remove.out, "删除分笔数据完成!\n");
  EXPECT_FALSE(ReadTickDay(Layout(), sample.market, sample.code, kTue));
  const std::vector<uint8_t> index = ReadFileBytes(Layout().TickIndexFile(stem));
  if (index.size() >= 16) {  // the security may have traded on Tuesday only
    EXPECT_EQ(index[0] | index[1] | index[2] | index[3], 0);
    EXPECT_TRUE(ReadTickDay(Layout(), sample.market, sample.code, kMon));
  }
  EXPECT_EQ(Cli("tick check").out, kCheckedSound);
  // The last day gone, the pair goes too.
  EXPECT_EQ(Cli("tick delete --from 20240108 --to 20240108").exitCode, 0);
  EXPECT_FALSE(PathExists(Layout().TickIndexFile(stem)));
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
  EXPECT_TRUE(ListCountedFiles(RealFileSystem(), Layout().TickStoreDir(), "*").empty());
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
        Refusal{"scaleSevenCharacters", "minutes scale --codes sz00000 --from 20240108 --to 20240108", kPatternLength},
        Refusal{"scaleNineCharacters", "minutes scale --codes sz0000001 --from 20240108 --to 20240108", kPatternLength},
        Refusal{"scaleLengthBeforeRange", "minutes scale --codes sz00000 --from 20240109 --to 20240108",
                kPatternLength},
        Refusal{"scaleReversed", "minutes scale --codes sz000001 --from 20240109 --to 20240108", kRangeInvalid},
        // Only digits, letters and '?': nothing a file-name search reads as more than one name.
        Refusal{"scaleStar", "minutes scale --codes 'sz00000*' --from 20240108 --to 20240108", kCodeFormat},
        Refusal{"scaleDot", "minutes scale --codes 'sz0000.1' --from 20240108 --to 20240108", kCodeFormat},
        Refusal{"scaleBracket", "minutes scale --codes 'sz[0-9]0' --from 20240108 --to 20240108", kCodeFormat}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST_F(CliTick, ThirtyOneDaysApartIsAcceptedAndScaleHasNoSpanLimit) {
  WriteArchives({kMon});
  EXPECT_EQ(Cli("tick convert --from 2024-01-01 --to 2024-02-01").exitCode, 0);
  ASSERT_EQ(Cli("minutes build --all").exitCode, 0);
  auto scale = Cli("minutes scale --codes \"sz??????\" --from 20230101 --to 20241231");
  EXPECT_EQ(scale.exitCode, 0);
  EXPECT_EQ(scale.out, "批量修改分钟线完成!\n");
}

// ---------------------------------------------------------------- faults

// A run during which a file failed exits 1; its last line stays the
// operation's own status text, which does not claim completion.
struct FailingRun {
  const char* name;
  std::function<void(CliTick&)> setUp;
  const char* args;
  const char* status;  // how the closing line begins
  // Set: the engine call of the command, run in this process on a disk that
  // is full (the fault seam's), its result shown as the command shows it.
  std::function<OperationResult(const DataLayout&)> onFullDisk = {};
};

class CliTickFailingRuns : public CliTick, public ::testing::WithParamInterface<FailingRun> {};

TEST_P(CliTickFailingRuns, ExitOneWithTheOperationsStatus) {
  WriteArchives({kMon, kTue});
  ASSERT_EQ(Cli("tick convert --from 20240108 --to 20240108").exitCode, 0);
  GetParam().setUp(*this);
  FaultFileSystem disk;
  disk.NoSpaceAfter(0);
  const auto& onFullDisk = GetParam().onFullDisk;
  const OperationResult result = onFullDisk ? onFullDisk(Layout().WithFiles(disk)) : OperationResult{};
  const CommandResult run =
      onFullDisk ? CommandResult{cli::ExitCodeOf(result), result.message + "\n"} : Cli(GetParam().args);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.out.starts_with(GetParam().status)) << run.out;
  EXPECT_EQ(run.out.find("完成!"), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CliTickFailingRuns,
    ::testing::Values(
        FailingRun{"fullDisk", [](CliTick&) {}, "tick convert --from 20240109 --to 20240109", "分笔数据转档",
                   [](const DataLayout& l) { return TickEngine(l).ConvertTickRange(kTue, kTue); }},
        FailingRun{"archiveThatDoesNotLoad",
                   [](CliTick& t) {
                     std::vector<uint8_t> archive = ReadFileBytes(t.Layout().TickArchiveFile(kTue));
                     std::fill(archive.begin() + 12, archive.begin() + 16, 0);
                     WriteFileBytes(t.Layout().TickArchiveFile(kTue), archive);
                   },
                   "tick convert --from 20240108 --to 20240109", "分笔数据转档"},
        FailingRun{"minuteFileFullDisk", [](CliTick&) {}, "minutes build --all", "分钟数据转档",
                   [](const DataLayout& l) { return MinuteEngine(l, MinuteOptions{}).BuildMinuteLines(0, 0); }},
        FailingRun{"damagedPairInTheDelete",
                   [](CliTick& t) { WriteFileBytes(t.Layout().TickDataFile(FirstStem()), {1, 2, 3}); },
                   "tick delete --from 20240108 --to 20240108", "删除分笔数据"}),
    [](const ::testing::TestParamInfo<FailingRun>& info) { return std::string(info.param.name); });

// An index no real file has (sparse, or a count past its length) is reported
// with its security; show exits 1 and the minute build goes on with the rest.
struct HugeIndex {
  const char* name;
  int64_t length;  // the index file's length; 0 keeps it
  int32_t count;   // the header's count; 0 keeps it
  const char* message;
};

class CliTickHugeIndex : public CliTick, public ::testing::WithParamInterface<HugeIndex> {};

TEST_P(CliTickHugeIndex, ReportedAndTheRunGoesOn) {
  WriteArchives({kMon});
  ASSERT_EQ(Cli("tick convert --from 20240108 --to 20240108").exitCode, 0);
  const std::string stem = FirstStem(), index = Layout().TickIndexFile(stem);
  if (GetParam().count != 0) {
    std::vector<uint8_t> bytes = ReadFileBytes(index);
    std::memcpy(bytes.data() + 12, &GetParam().count, 4);
    WriteFileBytes(index, bytes);
  }
  if (GetParam().length != 0) std::filesystem::resize_file(index, static_cast<uintmax_t>(GetParam().length));
  const std::string message = stem + GetParam().message;
  const CommandResult show = Cli("tick show " + stem + " --date 20240108");
  EXPECT_EQ(show.exitCode, 1);
  EXPECT_EQ(show.out, message + "\n");
  const CommandResult build = Cli("minutes build --all");
  EXPECT_EQ(build.exitCode, 1);
  EXPECT_EQ(build.out.find("完成!"), std::string::npos) << build.out;
  EXPECT_NE(ReadRunLog().find(message), std::string::npos);
  const SampleTickDay other = TickDays(kMon, SmallMarket()).back();
  EXPECT_TRUE(PathExists(Layout().OneMinuteFile(other.market, other.code)));
  EXPECT_EQ(Cli("tick check").exitCode, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, CliTickHugeIndex,
    ::testing::Values(HugeIndex{"sparseTerabyte", 16 + 22 * ((int64_t{1} << 40) / 22), 0, "内存申请失败!"},
                      HugeIndex{"countPastTheEntries", 0, 0x7fffffff, "索引文件长度校验异常!"},
                      HugeIndex{"sparseAndCountAgree", 16 + int64_t{22} * 0x7fffffff, 0x7fffffff, "内存申请失败!"}),
    [](const ::testing::TestParamInfo<HugeIndex>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace marbloom::test
