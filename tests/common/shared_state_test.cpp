#include "common/shared_state.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/text_encoding.h"
#include "common/operation_engine.h"
#include "support/temp_dir.h"

namespace marbloom {
namespace {

TEST(SharedState, StatusIsCutToTheGbkBuffer) {
  test::TestTree tree;
  Reporter& reports = tree.reports();
  reports.Status(std::string(300, 'a'));
  EXPECT_EQ(tree.StatusText().size(), 259u);
  reports.Status(std::string(200, 'a') + std::string(40, 'x') + "深圳深圳深圳深圳深圳深圳深圳深圳深圳深圳");
  EXPECT_LE(Utf8ToGbk(tree.StatusText()).size(), 259u);
  reports.StatusF("正在转换%s%.8d日四代日线数据...", "深圳", 20220505);
  EXPECT_EQ(tree.StatusText(), "正在转换深圳20220505日四代日线数据...");
}

TEST(SharedState, ReportGoesToStatusAndLogDatedByTheFrontsClock) {
  test::TestTree tree;
  setenv("TZ", "UTC", 1);
  tzset();
  tree.reports().SetClock([] { return std::time_t{1710547199}; });  // 2024-03-15 23:59:59
  tree.layout().Reports().ReportF("本次%s", "取消");
  EXPECT_EQ(tree.StatusText(), "本次取消");
  EXPECT_EQ(test::ReadFileText(tree.workDir() + "logs/20240315.log"), "23:59:59   本次取消\n");
}

TEST(SharedState, BufferingReporterReplaysInOrderOnRelease) {
  test::TestTree tree;
  BufferingReporter held(tree.reports());
  tree.reports().Status("a");
  held.Status("b");
  held.Log("held line");
  held.Progress(0.5);
  EXPECT_EQ(tree.StatusText(), "a");
  EXPECT_EQ(test::ReadRunLog(), "");
  held.Release();
  held.Status("c");
  EXPECT_EQ(tree.TakeStatusLines(), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_NE(test::ReadRunLog().find("   held line\n"), std::string::npos);
  EXPECT_EQ(tree.ProgressFraction(), 0.5);
}

TEST(SharedStateThreaded, WorkerWritesWhileTheWindowThreadReadsAndCancels) {
  test::TestTree tree;
  Reporter& reports = tree.reports();
  OperationEngine engine(reports);
  std::atomic<bool> started{false};
  std::thread worker([&] {
    started = true;
    for (int i = 0; !engine.Cancelled(); ++i) {
      engine.Reports().StatusF("正在删除sz%06d日线", i % 1000000);
      engine.Reports().Progress((i % 100) / 100.0);
    }
    engine.Reports().Status("本次删除日线操作被取消!");
  });
  while (!started) std::this_thread::yield();
  std::string oddText;
  double oddProgress = 0;
  for (int i = 0; i < 2000; ++i) {
    std::string s = tree.StatusText();
    if (!(s.empty() || s.rfind("正在删除sz", 0) == 0)) oddText = s;
    double p = tree.ProgressFraction();
    if (p < 0.0 || p >= 1.0) oddProgress = p;
  }
  engine.Cancel();
  worker.join();
  EXPECT_EQ(oddText, "");
  EXPECT_EQ(oddProgress, 0.0);
  EXPECT_EQ(tree.StatusText(), "本次删除日线操作被取消!");
  engine.Reset();
  EXPECT_FALSE(engine.Cancelled());
}

}  // namespace
}  // namespace marbloom
