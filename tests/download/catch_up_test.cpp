// The catch-up on a machine far from the market: the market's clock, the
// runs of a plan, and a tree brought up to date run after run from the sample
// server serving chosen days.
#include "download/catch_up.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/calendar.h"
#include "common/security_class.h"
#include "common/shared_state.h"
#include "download/archive_unpack.h"
#include "sample_server.h"
#include "samplegen.h"
#include "support/temp_dir.h"
#include "tickdata/tick_pair.h"

namespace marbloom::test {
namespace {

// The machine's time zone for the length of a test: eight hours behind UTC
// while the market is eight hours ahead.
class FarFromTheMarket {
 public:
  FarFromTheMarket() : old_(std::getenv("TZ") ? std::getenv("TZ") : "") {
    ::setenv("TZ", "America/Los_Angeles", 1);
    ::tzset();
  }
  ~FarFromTheMarket() {
    old_.empty() ? ::unsetenv("TZ") : ::setenv("TZ", old_.c_str(), 1);
    ::tzset();
  }

 private:
  std::string old_;
};

std::time_t ChinaTime(int date, int hhmm) {
  std::tm t{};
  t.tm_year = date / 10000 - 1900, t.tm_mon = date / 100 % 100 - 1, t.tm_mday = date % 100;
  t.tm_hour = hhmm / 100, t.tm_min = hhmm % 100;
  return ::timegm(&t) - kMarketUtcOffsetSeconds;
}

std::vector<int> Weekdays(int first, int last, int except = 0) {
  std::vector<int> days;
  for (int day = first; first != 0 && day <= last; day = NextTradingDay(day))
    if (day != except) days.push_back(day);
  return days;
}

TEST(CatchUpPlan, MarketClockAndRunsOfAtMost31Days) {
  FarFromTheMarket zone;
  const struct { int date, hhmm, latest; } clock[] = {
      {20240105, 1729, 20240104}, {20240105, 1730, 20240105},  // Friday, 01:30 on the machine
      {20240106, 900, 20240105},  {20240108, 800, 20240105},   // Saturday, Monday morning
      {20240108, 1800, 20240108},                              // Monday evening, Monday 02:00 on the machine
  };
  for (const auto& row : clock) EXPECT_EQ(LatestServerDay(ChinaTime(row.date, row.hhmm)), row.latest) << row.date;
  TestTree tree;
  const std::vector<std::pair<int, std::vector<DayRange>>> runs = {
      {0, {{20240227, 20240329}}},  // no data: 31 days back
      {20240102, {{20240102, 20240202}, {20240205, 20240307}, {20240308, 20240329}}},
  };
  for (const auto& [from, expected] : runs) {
    const CatchUpPlan plan = PlanCatchUp(tree.layout(), kDownloadDaily, CatchUpRequest{.from = from, .to = 20240329});
    ASSERT_EQ(plan.runs.size(), expected.size()) << from;
    for (std::size_t i = 0; i < expected.size(); ++i)
      EXPECT_EQ(std::make_pair(plan.runs[i].first, plan.runs[i].last), std::make_pair(expected[i].first, expected[i].last));
  }
}

TEST(CatchUpThreaded, BringsTheTreeToTheNewestPublishedDay) {
  namespace fs = std::filesystem;
  FarFromTheMarket zone;
  TestTree tree;
  const DataLayout layout = tree.layout();
  TempDir site;
  const sample::SampleOptions sample{3, 40, false};
  ASSERT_TRUE(sample::WriteServerTree(20231211, 20240329, sample, site.path()));
  const std::string daily = site.path() + sample::kDailyArchivePath, ticks = site.path() + sample::kTickArchivePath;
  auto remove = [&](int date) {
    fs::remove(daily + sample::DayArchiveName(date));
    fs::remove(ticks + sample::DayArchiveName(date));
  };
  remove(20240101);  // a holiday
  sample::ServerOptions options;
  options.port = 0, options.staticDir = site.path(), options.log = nullptr;
  sample::SampleServer server(options);
  ASSERT_TRUE(server.Start());
  DownloadConfigLoaded = 0;
  CatchUp update(layout, "http://127.0.0.1:" + std::to_string(server.port()) + "/", true, MinuteOptions{});
  // A non-index security whose daily file a directory replaces: its conversion fails.
  std::string blocked;
  for (const sample::SampleSecurity& s : sample::MarketUniverse(20240129, 0, sample))
    if (blocked.empty() && !IsIndexType(s.type)) blocked = layout.DailyFile(0, s.code);

  // A conversion fails in the rows that damage an archive or block a file.
  enum Change { kNone, kUnpublished, kDamaged, kBlocked, kNoState };
  const struct { const char* what; int date, hhmm; Change change; int dailyLast, tickLast, from, to; } rows[] = {
      {"an empty tree, 31 days back, a holiday", 20240115, 1000, kNone, 20240112, 20240112, 20231212, 20240112},
      {"up to date", 20240115, 1000, kNone, 20240112, 20240112, 0, 0},
      {"a week behind, with a weekend", 20240119, 1800, kNone, 20240119, 20240119, 20240115, 20240119},
      {"the newest day not published", 20240122, 1800, kUnpublished, 20240119, 20240119, 0, 0},
      {"then published", 20240122, 1800, kNone, 20240122, 20240122, 20240122, 20240122},
      {"a damaged daily archive", 20240126, 1800, kDamaged, 20240123, 20240126, 20240123, 20240124},
      {"resumes there", 20240126, 1800, kNone, 20240126, 20240126, 20240124, 20240126},
      {"a daily conversion fails halfway", 20240130, 1800, kBlocked, 20240126, 20240130, 20240129, 20240130},
      {"the day is done again", 20240130, 1800, kNone, 20240130, 20240130, 20240129, 20240130},
      {"the state file rebuilt", 20240130, 1800, kNoState, 20240130, 20240130, 0, 0},
      {"two months behind", 20240329, 1800, kNone, 20240329, 20240329, 20240131, 20240329},
      {"then nothing to do", 20240329, 1800, kNone, 20240329, 20240329, 0, 0},
  };
  for (const auto& row : rows) {
    for (const auto& file : fs::directory_iterator(layout.DayZipDir())) fs::remove(file);
    if (row.change == kUnpublished) remove(row.date);
    if (row.change == kDamaged) WriteFileBytes(daily + sample::DayArchiveName(20240124), {'P', 'K', 3, 4, 0});
    if (row.change == kBlocked) fs::remove(blocked), fs::create_directory(blocked);
    if (row.change == kNoState) fs::remove(layout.UpdateStateFile());
    update.Reset();
    const bool fails = row.change == kDamaged || row.change == kBlocked;
    EXPECT_EQ(update.Run(CatchUpRequest{.now = ChinaTime(row.date, row.hhmm)}).outcome,
              fails ? Outcome::kFailed : Outcome::kDone) << row.what;
    EXPECT_EQ(ReadCatchUpState(layout, kDownloadDaily).last, row.dailyLast) << row.what;
    EXPECT_EQ(ReadCatchUpState(layout, kDownloadTick).last, row.tickLast) << row.what;
    std::vector<int> fetched;  // the daily archives downloaded
    for (const auto& file : fs::directory_iterator(layout.DayZipDir()))
      fetched.push_back(std::stoi(file.path().stem().string()));
    std::sort(fetched.begin(), fetched.end());
    EXPECT_EQ(fetched, Weekdays(row.from, row.to, 20240101)) << row.what;
    const bool restore = row.change == kUnpublished || row.change == kDamaged;  // the site as it was
    ASSERT_TRUE(!restore || sample::WriteServerTree(20240122, 20240124, sample, site.path()));
    if (row.change == kBlocked) fs::remove(blocked);
  }
  // Every weekday but the holiday is in the tree once, as daily lines and as ticks.
  for (const sample::SampleSecurity& s : sample::MarketUniverse(20240329, 1, sample)) {
    if (!IsIndexType(s.type)) continue;
    const std::vector<uint8_t> records = ReadFileBytes(layout.DailyFile(1, s.code));
    std::vector<int> dailyDates(records.size() / 32), tickDates;
    for (std::size_t i = 0; i < dailyDates.size(); ++i) std::memcpy(&dailyDates[i], &records[i * 32], 4);
    TickPair pair;
    pair.Load(layout, SecurityStem(1, s.code));
    for (const TickIndexEntry& entry : pair.entries()) tickDates.push_back(entry.date);
    EXPECT_EQ(dailyDates, Weekdays(20231212, 20240329, 20240101));
    EXPECT_EQ(tickDates, dailyDates);
    break;
  }
  DownloadConfigLoaded = 0;
}

}  // namespace
}  // namespace marbloom::test
