// Download runs against nginx serving the sample market's archives behind
// HTTP Basic authentication: configuration, a week of daily and tick data,
// unpacking, conversion, minute lines, and cancels at the conversion.
#include "download/catch_up_plan.h"
#include "download/download_run.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/settings.h"
#include "base/text_encoding.h"
#include "common/calendar.h"
#include "common/shared_state.h"
#include "download/download_config.h"
#include "download/download_test_support.h"
#include "samplegen.h"
#include "support/fault_file_system.h"

namespace marbloom::test {
namespace {

DownloadRunSetup SetupFor(const TestTree& tree, const NginxServer& nginx, bool buildMinutes,
                          DownloadConfigCache* config) {
  return DownloadRunSetup{tree.layout(), true, {nginx.baseUrl(), kDefaultServerUser, kDefaultServerPassword},
                          buildMinutes, MinuteOptions{}, config};
}

TEST(DownloadRunNginxThreaded, AWeekDownloadsUnpacksAndConverts) {
  if (!NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  TestTree tree;
  TempDir site;
  const sample::SampleOptions sample{7, 150, false};
  ASSERT_TRUE(sample::WriteServerTree(20220509, 20220513, sample, site.path()));
  NginxServer nginx;
  ASSERT_TRUE(nginx.Start(site.path()));
  DownloadConfigCache config;
  DownloadRun run(SetupFor(tree, nginx, true, &config));
  // cancel: 1 once as the conversion starts, 2 also from another thread until
  // the run ends, 3 the whole run (CancelAll) as the conversion starts.
  const struct { DownloadKind kind; int first, last, cancel; Outcome outcome; const char* message; } rows[] = {
      {DownloadKind::kDaily, 20220509, 20220515, 0, Outcome::kDone, "下载完成! 共5天, 日线转档完成!"},
      {DownloadKind::kTick, 20220509, 20220515, 0, Outcome::kDone, "下载完成! 共5天, 分笔数据转档完成! 分钟数据转档完成!"},
      {DownloadKind::kDaily, 20220510, 20220510, 2, Outcome::kCancelled, "下载完成! 共1天, 日线转档被取消!"},
      // After a cancelled tick conversion the minute build still starts, on a fresh engine.
      {DownloadKind::kTick, 20220511, 20220511, 1, Outcome::kCancelled, "下载完成! 共1天, 分笔数据转档被取消! 分钟数据转档完成!"},
      {DownloadKind::kTick, 20220512, 20220512, 3, Outcome::kCancelled, "下载完成! 共1天, 分笔数据转档被取消! 分钟数据转档被取消!"},
  };
  for (const auto& row : rows) {
    std::atomic<bool> ended{false};
    std::thread canceller;
    run.Reset();
    run.onConverting = [&] {
      if (row.cancel == 3) return run.CancelAll();
      if (row.cancel > 0) run.Cancel();
      if (row.cancel > 1) canceller = std::thread([&] {
          while (!ended) run.Cancel(), std::this_thread::yield();
        });
    };
    const DownloadRunResult result =
        run.Run(DownloadRequest{row.kind, LocalNoonOf(row.first), LocalNoonOf(row.last), true});
    ended = true;
    if (canceller.joinable()) canceller.join();
    EXPECT_EQ(result.outcome, row.outcome) << CatchUpKindName(row.kind) << " " << row.first;
    EXPECT_EQ(result.message, row.message);
    EXPECT_EQ(result.days.size(), static_cast<std::size_t>(std::min(row.last, 20220513) - row.first + 1));
    for (const DownloadDay& day : result.days) {
      EXPECT_TRUE(day.fetched.done()) << day.date;
      EXPECT_EQ(day.reachedTree, row.outcome == Outcome::kDone) << day.date;
    }
    // The configuration is fetched once and kept for the later runs.
    std::filesystem::remove(site.path() + DataLayout::kConfigArchiveName);
  }
  // A tick run whose one flush of the tree fails brings no day to the tree.
  FaultFileSystem faults;
  faults.FailFlushes(tree.historyDir());
  DownloadRunSetup faulty = SetupFor(tree, nginx, true, &config);
  faulty.layout = tree.layout().WithFiles(faults);
  const DownloadRunResult unflushed =
      DownloadRun(faulty).Run(DownloadRequest{DownloadKind::kTick, LocalNoonOf(20220513), LocalNoonOf(20220513), true});
  EXPECT_EQ(unflushed.outcome, Outcome::kFailed);
  ASSERT_EQ(unflushed.days.size(), 1u);
  EXPECT_FALSE(unflushed.days[0].reachedTree);
  const DataLayout layout = tree.layout();
  for (int date = 20220509; date <= 20220513; ++date) {
    EXPECT_EQ(ReadFileBytes(layout.QuoteFile(2, date)), sample::QuoteFileBytes(date, 2, sample));
    EXPECT_EQ(ReadFileBytes(layout.TickArchiveFile(date)), sample::TickArchiveBytes(date, sample));
  }
  // A security that traded every day of the week has every day converted.
  for (const sample::SampleTickDay& day : sample::TickDays(20220513, sample)) {
    bool everyDay = true;
    for (int date = 20220509; date < 20220513; ++date)
      everyDay = everyDay && sample::TickDayOf(date, day.market, day.code, sample).has_value();
    if (!everyDay) continue;
    EXPECT_EQ(ReadFileBytes(layout.DailyFile(day.market, day.code)).size(), 5 * 32u);
    EXPECT_TRUE(PathExists(layout.TickDataFile(SecurityStem(day.market, day.code))));
    EXPECT_EQ(ReadFileBytes(layout.OneMinuteFile(day.market, day.code)).size(), 5 * 240 * 32u);
    EXPECT_EQ(ReadFileBytes(layout.FiveMinuteFile(day.market, day.code)).size(), 5 * 48 * 32u);
    break;
  }
  // An archive holding another day's data fails the run, naming the day; a
  // day the server has not got is missing, no failure.
  const std::string daily = site.path() + sample::kDailyArchivePath;
  std::filesystem::copy_file(daily + "20220512.zip", daily + "20220513.zip",
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::remove(daily + "20220512.zip");
  run.Reset();
  const DownloadRunResult last = run.Run(DownloadRequest{DownloadKind::kDaily, LocalNoonOf(20220512), LocalNoonOf(20220513), true});
  EXPECT_EQ(last.outcome, Outcome::kFailed);
  EXPECT_EQ(last.failedItems, 1);  // the missing day is no failure
  EXPECT_EQ(last.message, FormatText(kDaysFailedFormat, 1));
  EXPECT_NE(ReadRunLog().find("下载文件中没有20220513的数据!"), std::string::npos);
  ASSERT_EQ(last.days.size(), 2u);
  EXPECT_EQ(last.days[0].fetched.outcome, Outcome::kNothingToDo);
  EXPECT_EQ(last.days[0].fetched.message, nginx.baseUrl() + sample::kDailyArchivePath + "20220512.zip不存在!");
  EXPECT_EQ(last.days[1].fetched.outcome, Outcome::kFailed);
  EXPECT_FALSE(last.days[1].reachedTree);
}

// Over HTTPS the server's certificate is verified: the run goes through when
// its authority is trusted, and fails with its own message when not.
TEST(DownloadRunNginxThreaded, HttpsNeedsAVerifiedCertificate) {
  if (!NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  TestTree tree;
  TempDir site;
  ASSERT_TRUE(sample::WriteServerTree(20220509, 20220509, sample::SampleOptions{7, 50, false}, site.path()));
  NginxServer nginx;
  ASSERT_TRUE(nginx.Start(site.path(), true));
  for (const bool trusted : {true, false}) {
    DownloadRunSetup setup = SetupFor(tree, nginx, false, nullptr);
    if (trusted) setup.server.caFile = nginx.caFile();
    DownloadRun run(setup);
    run.Reset();
    const OperationResult result = run.Run(DownloadRequest{DownloadKind::kDaily, LocalNoonOf(20220509), LocalNoonOf(20220509), true});
    EXPECT_EQ(result.outcome, trusted ? Outcome::kDone : Outcome::kFailed);
    EXPECT_EQ(ReadRunLog().find("服务器证书验证失败! 127.0.0.1") != std::string::npos, !trusted);
  }
  DownloadRun cancelled(SetupFor(tree, nginx, false, nullptr));  // a cancelled connection is no network failure
  cancelled.Cancel();
  EXPECT_EQ(cancelled.Run(DownloadRequest{DownloadKind::kDaily, LocalNoonOf(20220509), LocalNoonOf(20220509), true}).message,
            kDownloadCancelledMessage);
}

}  // namespace
}  // namespace marbloom::test
