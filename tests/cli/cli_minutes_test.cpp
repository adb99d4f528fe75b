// marbloom-cli minutes build | delete | scale | show, run as a program on a
// tick store converted from a small sample market.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "cli/cli_test_support.h"
#include "common/market.h"
#include "common/security_class.h"
#include "samplegen.h"
#include "support/temp_dir.h"
#include "tickdata/minute_bar.h"
#include "tickdata/minute_files.h"

namespace marbloom::test {
namespace {

using namespace marbloom::sample;

constexpr int kMon = 20240108, kTue = 20240109;

SampleOptions SmallMarket() {
  SampleOptions options = SampleOptions::Quick(11);
  options.securities = 30;
  return options;
}

std::vector<MinuteBar> Bars(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  std::vector<MinuteBar> bars(bytes.size() / sizeof(MinuteBar));
  if (!bars.empty()) std::memcpy(bars.data(), bytes.data(), bars.size() * sizeof(MinuteBar));
  return bars;
}

class CliMinutes : public CliTree {
 protected:
  void SetUp() override {
    CliTree::SetUp();
    Settings().historyDir = history_;
    for (int date : {kMon, kTue}) ASSERT_TRUE(WriteTickArchive(date, SmallMarket(), Layout().TickArchiveDir()));
    ASSERT_EQ(Cli("tick convert --from 20240108 --to 20240109").exitCode, 0);
    // A security that traded on both days.
    for (const SampleTickDay& day : TickDays(kMon, SmallMarket()))
      if (TickDayOf(kTue, day.market, day.code, SmallMarket())) {
        market_ = day.market;
        code_ = day.code;
        break;
      }
    ASSERT_FALSE(code_.empty());
    stem_ = SecurityStem(market_, code_);
  }
  void TearDown() override {
    Settings() = AppSettings{};
    CliTree::TearDown();
  }
  std::string OnePath() const { return Layout().OneMinuteFile(market_, code_); }
  std::string FivePath() const { return Layout().FiveMinuteFile(market_, code_); }

  std::string code_, stem_;
  int market_ = 0;
};

TEST_F(CliMinutes, BuildWritesBothFilesWithMatchingTotals) {
  auto build = Cli("minutes build --from 20240108 --to 20240109");
  EXPECT_EQ(build.exitCode, 0);
  EXPECT_EQ(build.out, "分钟数据转档完成!\n");
  const std::vector<MinuteBar> one = Bars(OnePath()), five = Bars(FivePath());
  ASSERT_EQ(one.size(), 2u * 240);
  ASSERT_EQ(five.size(), 2u * 48);
  EXPECT_EQ(UnpackMinuteDate(one.front().packedDate), kMon);
  EXPECT_EQ(UnpackMinuteDate(one.back().packedDate), kTue);
  uint32_t oneVolume = 0, fiveVolume = 0;
  for (const MinuteBar& b : one) oneVolume += static_cast<uint32_t>(b.volume);
  for (const MinuteBar& b : five) fiveVolume += static_cast<uint32_t>(b.volume);
  EXPECT_EQ(oneVolume, fiveVolume);
  // Every tick's volume, times the unit, lands in some bar.
  uint64_t tickVolume = 0;
  for (int date : {kMon, kTue}) {
    const std::optional<SampleTickDay> day = TickDayOf(date, market_, code_, SmallMarket());
    ASSERT_TRUE(day);
    for (const SampleTick& t : day->ticks)
      if (static_cast<uint32_t>(t.volume) < (1u << 30)) tickVolume += static_cast<uint32_t>(t.volume);
  }
  EXPECT_EQ(oneVolume, static_cast<uint32_t>(tickVolume * static_cast<uint64_t>(VolumeUnit(market_, code_))));
}

TEST_F(CliMinutes, ShowPrintsTheBarsOfOneDayAndKind) {
  ASSERT_EQ(Cli("minutes build --all").exitCode, 0);
  auto one = Cli("minutes show " + stem_ + " --date 20240109");
  EXPECT_EQ(one.exitCode, 0);
  std::istringstream lines(one.out);
  std::string line, first, last;
  int count = 0;
  std::getline(lines, line);
  std::istringstream header(line);
  std::string word, words;
  while (header >> word) words += word + ' ';
  EXPECT_EQ(words, "date time open high low close volume amount ");
  while (std::getline(lines, line)) {
    if (count == 0) first = line;
    if (line.rfind("2024-01-09  ", 0) == 0) ++count, last = line;
  }
  EXPECT_EQ(count, 240);
  EXPECT_EQ(first.substr(0, 19), "2024-01-09  09:31  ");
  EXPECT_EQ(last.substr(0, 19), "2024-01-09  15:00  ");
  EXPECT_NE(one.out.find(stem_ + "1分钟线共240条\n"), std::string::npos);

  auto five = Cli("minutes show " + stem_ + " --kind 5 --csv");
  EXPECT_EQ(five.exitCode, 0);
  EXPECT_EQ(five.out.substr(0, five.out.find('\n')), "date,time,open,high,low,close,volume,amount");
  EXPECT_EQ(std::count(five.out.begin(), five.out.end(), '\n'), 97);  // the header and 96 bars; status on stderr
  EXPECT_NE(five.out.find("2024-01-08,11:30,"), std::string::npos);
  EXPECT_NE(five.out.find("2024-01-08,13:05,"), std::string::npos);
  EXPECT_EQ(Cli("minutes show " + stem_ + " --kind 3").exitCode, 2);
  EXPECT_EQ(Cli("minutes show " + stem_ + " --date 20240110").exitCode, 1);
}

TEST_F(CliMinutes, BuildNeedsEitherAllOrARange) {
  EXPECT_EQ(Cli("minutes build").exitCode, 2);
  EXPECT_EQ(Cli("minutes build --all --from 20240108 --to 20240108").exitCode, 2);
  EXPECT_EQ(Cli("minutes build --from 20240108").exitCode, 2);
  EXPECT_FALSE(PathExists(OnePath()));
}

TEST_F(CliMinutes, BuildOnAnEmptyTickStoreFails) {
  RemoveTree(Layout().TickStoreDir());
  auto build = Cli("minutes build --all");
  EXPECT_EQ(build.exitCode, 1);
  EXPECT_EQ(build.out, "分笔文件索引表加载失败!\n");
  EXPECT_NE(ReadRunLog().find("分笔文件索引表加载失败!"), std::string::npos);
}

TEST_F(CliMinutes, ScaleMultipliesOnlyTheSelectedSecuritiesAndDays) {
  ASSERT_EQ(Cli("minutes build --from 20240108 --to 20240109").exitCode, 0);
  const std::vector<MinuteBar> before = Bars(OnePath());
  const std::vector<MinuteBar> fiveBefore = Bars(FivePath());
  auto scale = Cli("minutes scale --codes \"" + std::string(kMarketPrefix[market_]) + "??????\" --from 20240109 --to 20240109 --close 0.5 --volume 2");
  EXPECT_EQ(scale.exitCode, 0);
  EXPECT_EQ(scale.out, "批量修改分钟线完成!\n");
  const std::vector<MinuteBar> after = Bars(OnePath());
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    const bool tuesday = i >= 240;
    EXPECT_EQ(after[i].close, tuesday ? static_cast<int32_t>(before[i].close * 0.5 + 0.503) : before[i].close) << i;
    EXPECT_EQ(after[i].open, before[i].open);
    EXPECT_EQ(after[i].volume, tuesday ? before[i].volume * 2 : before[i].volume);
  }
  const std::vector<MinuteBar> fiveAfter = Bars(FivePath());
  ASSERT_EQ(fiveAfter.size(), fiveBefore.size());
  for (std::size_t i = 0; i < fiveAfter.size(); ++i)
    EXPECT_EQ(fiveAfter[i].close,
              i >= 48 ? static_cast<int32_t>(fiveBefore[i].close * 0.5 + 0.503) : fiveBefore[i].close)
        << i;
}

TEST_F(CliMinutes, DeleteRemovesOneMinuteThenFiveMinuteBars) {
  ASSERT_EQ(Cli("minutes build --from 20240108 --to 20240109").exitCode, 0);
  auto remove = Cli("minutes delete --from 20240109 --to 20240109");
  EXPECT_EQ(remove.exitCode, 0);
  EXPECT_EQ(remove.out, "五分钟数据删除完成!\n");
  EXPECT_EQ(Bars(OnePath()).size(), 240u);
  EXPECT_EQ(Bars(FivePath()).size(), 48u);
  const std::string log = ReadRunLog();
  EXPECT_LT(log.find("分钟数据删除完成!"), log.find("五分钟数据删除完成!"));

  EXPECT_EQ(Cli("minutes delete --from 20240101 --to 20240131").exitCode, 0);
  EXPECT_FALSE(PathExists(OnePath()) || PathExists(FivePath()));
  auto nothing = Cli("minutes delete --from 20240101 --to 20240131");
  EXPECT_EQ(nothing.exitCode, 1);
  EXPECT_EQ(nothing.out, "路径不存在或无五分钟数据!\n");
}

}  // namespace
}  // namespace marbloom::test
