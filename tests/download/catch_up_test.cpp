// The catch-up on a machine far from the market: the market's clock, the
// runs of a plan, and a tree brought up to date run after run from the sample
// server serving chosen days.
#include "download/catch_up.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/settings.h"
#include "common/calendar.h"
#include "common/security_class.h"
#include "common/shared_state.h"
#include "download/archive_unpack.h"
#include "sample_server.h"
#include "samplegen.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"
#include "tickdata/minute_test_support.h"
#include "tickdata/tick_pair.h"

namespace marbloom::test {
namespace {

// The machine's time zone while alive: eight hours behind UTC, the market eight ahead.
class FarFromTheMarket {
  const char* old_ = std::getenv("TZ");
  const std::string saved_ = old_ ? old_ : "";

 public:
  FarFromTheMarket() { ::setenv("TZ", "America/Los_Angeles", 1), ::tzset(); }
  ~FarFromTheMarket() { old_ ? ::setenv("TZ", saved_.c_str(), 1) : ::unsetenv("TZ"), ::tzset(); }
};

std::time_t ChinaTime(int date, int hhmm) {
  return (DateToDayNumber(date) - DateToDayNumber(19700101)) * 86400L + (hhmm / 100 * 60 + hhmm % 100) * 60 -
         kMarketUtcOffsetSeconds;
}

std::vector<int> Weekdays(int first, int last, int except) {
  std::vector<int> days;
  for (int day = first; first != 0 && day <= last; day = NextTradingDay(day))
    if (day != except) days.push_back(day);
  return days;
}

TEST(CatchUpPlan, MarketClockAndRunsOfAtMost31Days) {
  FarFromTheMarket zone;
  const struct { int date, hhmm, latest; } clock[] = {  // Friday 01:29 and 01:30 on the machine; Saturday
      {20240105, 1729, 20240104}, {20240105, 1730, 20240105}, {20240106, 900, 20240105}};
  for (const auto& row : clock) EXPECT_EQ(LatestServerDay(ChinaTime(row.date, row.hhmm)), row.latest) << row.hhmm;
  TestTree tree;
  std::vector<int> ends;
  for (const DayRange& run : PlanCatchUp(tree.layout(), DownloadKind::kDaily, {.from = 20240102, .to = 20240329}).runs)
    ends.insert(ends.end(), {run.first, run.last});
  EXPECT_EQ(ends, (std::vector<int>{20240102, 20240202, 20240205, 20240307, 20240308, 20240329}));
}

// Two index securities' newest dates against the state file on 20240105: a later date is no data of
// the tree, and without a state the newest day every active index holds is done again.
TEST(CatchUpPlan, TheTreesLastCompleteDay) {
  const std::vector<int> days{20240103, 20240104}, future{20240103, 20240104, 20301231};
  const struct { DownloadKind kind; std::vector<int> first, second; int stateLast, expected; } rows[] = {
      {DownloadKind::kDaily, future, days, 20240104, 20240104}, {DownloadKind::kTick, future, days, 20240104, 20240104},
      {DownloadKind::kDaily, days, {20240103}, 0, 20240102},  // a conversion stopped halfway
      {DownloadKind::kDaily, {20231002}, days, 0, 20240103},  // a discontinued index
  };
  for (const auto& row : rows) {
    TestTree tree;
    for (const auto& [code, dates] : {std::pair{"000001", row.first}, std::pair{"000300", row.second}}) {
      std::vector<uint8_t> records(dates.size() * 32);
      for (std::size_t i = 0; i < dates.size(); ++i) std::memcpy(&records[i * 32], &dates[i], 4);
      if (row.kind == DownloadKind::kDaily) WriteFileBytes(tree.layout().DailyFile(1, code), records);
      else WriteTickIndex(tree.layout(), SecurityStem(1, code), dates);
    }
    if (row.stateLast != 0) WriteCatchUpState(tree.layout(), row.kind, CatchUpState{true, row.stateLast, 0});
    EXPECT_EQ(FindLastCompleteDay(tree.layout(), row.kind, 20240105).date, row.expected) << CatchUpKindName(row.kind);
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
  CatchUp update(DownloadRunSetup{layout, true,
                                  {"http://127.0.0.1:" + std::to_string(server.port()) + "/", kDefaultServerUser, kDefaultServerPassword},
                                  true, MinuteOptions{}, nullptr});
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
      {"the state file rebuilt", 20240130, 1800, kNoState, 20240130, 20240130, 20240130, 20240130},
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
    const OperationResult result = update.Run(CatchUpRequest{.now = ChinaTime(row.date, row.hhmm)});
    EXPECT_EQ(result.outcome, fails ? Outcome::kFailed : Outcome::kDone) << row.what;
    EXPECT_TRUE(&row != rows || (result.message == "日线数据已更新到20240112. 分笔数据已更新到20240112." &&  // a holiday
                                 ReadRunLog().find("服务器没有20240101的数据而有其后的, 按节假日跳过.") != std::string::npos));
    EXPECT_EQ(ReadCatchUpState(layout, DownloadKind::kDaily).last, row.dailyLast) << row.what;
    EXPECT_EQ(ReadCatchUpState(layout, DownloadKind::kTick).last, row.tickLast) << row.what;
    std::vector<int> fetched;  // the daily archives downloaded
    for (const auto& file : fs::directory_iterator(layout.DayZipDir()))
      fetched.push_back(std::stoi(file.path().stem().string()));
    std::sort(fetched.begin(), fetched.end());
    EXPECT_EQ(fetched, Weekdays(row.from, row.to, 20240101)) << row.what;
    const bool restore = row.change == kUnpublished || row.change == kDamaged;  // the site as it was
    ASSERT_TRUE(!restore || sample::WriteServerTree(20240122, 20240124, sample, site.path()));
    if (row.change == kBlocked) fs::remove(blocked);
  }
  // Every weekday but the holiday is in the tree once, as an index's daily lines and ticks.
  std::string index = "999999";
  for (const sample::SampleSecurity& s : sample::MarketUniverse(20240329, 1, sample))
    if (IsIndexType(s.type)) index = std::min(index, s.code);
  const std::vector<uint8_t> records = ReadFileBytes(layout.DailyFile(1, index));
  std::vector<int> dailyDates(records.size() / 32), tickDates;
  for (std::size_t i = 0; i < dailyDates.size(); ++i) std::memcpy(&dailyDates[i], &records[i * 32], 4);
  TickPair pair;
  pair.Load(layout, SecurityStem(1, index));
  for (const TickIndexEntry& entry : pair.entries()) tickDates.push_back(int{entry.date});
  EXPECT_EQ(dailyDates, Weekdays(20231212, 20240329, 20240101));
  EXPECT_EQ(tickDates, dailyDates);
}

// The tick kind runs ahead on its own thread while the daily kind converts:
// the tree, the run log, the status lines and the state file are those of
// the kinds run one after the other; a failed final flush commits no day.
TEST(CatchUpThreaded, BothKindsTogetherAsOneAfterTheOther) {
  namespace fs = std::filesystem;
  TempDir site;
  ASSERT_TRUE(sample::WriteServerTree(20240102, 20240112, sample::SampleOptions{2, 30, false}, site.path()));
  sample::ServerOptions options;
  options.port = 0, options.staticDir = site.path(), options.log = nullptr;
  sample::SampleServer server(options);
  ASSERT_TRUE(server.Start());
  struct Output {
    std::map<std::string, std::vector<uint8_t>> files;
    std::string log;
    std::vector<std::string> status;
    Outcome outcome;
  };
  auto update = [&](std::vector<CatchUpRequest> requests, std::size_t failFlushAt) {
    TestTree tree;
    tree.reports().SetClock([] { return std::time_t{1705000000}; });
    FaultFileSystem files;
    const DataLayout layout = tree.layout().WithFiles(files);
    if (failFlushAt > 0) files.CrashAt(failFlushAt, FaultFileSystem::Crash::kFailOne);
    CatchUp catchUp(DownloadRunSetup{layout, true, {"http://127.0.0.1:" + std::to_string(server.port()) + "/",
                    kDefaultServerUser, kDefaultServerPassword}, true, MinuteOptions{}, nullptr});
    StatusRecorder status;
    Output out{{}, "", {}, Outcome::kDone};
    for (CatchUpRequest& request : requests) {
      request.from = 20240108, request.now = ChinaTime(20240112, 1800);
      out.outcome = catchUp.Run(request).outcome;
    }
    out.log = ReadRunLog(), out.status = status.Lines();
    auto strip = [&](std::string& text) {  // the trees' own folders left out
      for (std::size_t at; (at = text.find(tree.root())) != std::string::npos;) text.erase(at, tree.root().size());
    };
    strip(out.log);
    std::for_each(out.status.begin(), out.status.end(), strip);
    for (const auto& entry : fs::recursive_directory_iterator(tree.root()))
      if (entry.is_regular_file() && entry.path().string().find("/logs/") == std::string::npos)
        out.files[entry.path().string().substr(tree.root().size())] = ReadFileBytes(entry.path().string());
    std::vector<std::size_t> flushes;  // the calls that flush the tree
    for (std::size_t i = 0; i < files.Changes().size(); ++i)
      if (files.Changes()[i] == "syncfs " + tree.historyDir()) flushes.push_back(i + 1);
    return std::pair{out, flushes};
  };
  auto committed = [](const Output& out) {  // the kinds whose last day the state file names
    const std::vector<uint8_t>& state = out.files.at("work/update.ini");
    const std::string text(state.begin(), state.end()), day = "LAST=20240112";
    return text.find(day) == std::string::npos ? 0 : 1 + (text.find(day) != text.rfind(day));
  };
  const Output apart = update({{.daily = true, .tick = false}, {.daily = false, .tick = true}}, 0).first;
  const auto [together, flushes] = update({CatchUpRequest{}}, 0);
  ASSERT_EQ(flushes.size(), 1u);
  EXPECT_EQ(together.outcome, Outcome::kDone);
  EXPECT_GT(together.files.size(), 100u);
  EXPECT_TRUE(together.files == apart.files);
  EXPECT_EQ(together.log, apart.log);
  EXPECT_EQ(together.status, apart.status);
  EXPECT_EQ(committed(together), 2);
  const Output unflushed = update({CatchUpRequest{}}, flushes[0]).first;
  EXPECT_EQ(unflushed.outcome, Outcome::kFailed);
  EXPECT_EQ(committed(unflushed), 0);
}

}  // namespace
}  // namespace marbloom::test

namespace marbloom::test {
namespace {

// A cancel while the tick kind runs ahead (held at the server on its first
// day) and the daily kind converts: both kinds end, the tick kind converts
// nothing, and the state file takes no day of either.
TEST(CatchUpThreaded, ACancelDuringTheOverlapEndsBothKinds) {
  TempDir site, gate;
  ASSERT_TRUE(sample::WriteServerTree(20240102, 20240112, sample::SampleOptions{2, 30, false}, site.path()));
  sample::ServerOptions options;
  options.port = 0, options.staticDir = site.path(), options.log = nullptr, options.holdDir = gate.path();
  sample::SampleServer server(options);
  ASSERT_TRUE(server.Start());
  TestTree tree;
  CatchUp catchUp(DownloadRunSetup{tree.layout(), true, {"http://127.0.0.1:" + std::to_string(server.port()) + "/",
                  kDefaultServerUser, kDefaultServerPassword}, true, MinuteOptions{}, nullptr});
  tree.OnStatus([&](const std::string& line) {
    if (line == "正在下载20240112四代日线数据文件...") WriteFileBytes(gate.path() + "20240108.zip.hold", {});
    if (line == "正在转换深圳20240110日四代日线数据...") catchUp.CancelAll();
  });
  const OperationResult result = catchUp.Run(CatchUpRequest{.from = 20240108, .now = ChinaTime(20240112, 1800)});
  std::filesystem::remove(gate.path() + "20240108.zip.hold");
  EXPECT_EQ(result.outcome, Outcome::kCancelled);
  const std::string log = ReadRunLog();
  EXPECT_LT(log.find("本次转档日线操作被取消!"), log.find("分笔数据: ")) << log;
  EXPECT_TRUE(std::filesystem::is_empty(tree.layout().TickStoreDir()));
  EXPECT_EQ(ReadFileText(tree.layout().UpdateStateFile()).find("LAST=20240112"), std::string::npos);
}

}  // namespace
}  // namespace marbloom::test
