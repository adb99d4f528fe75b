#include "common/shared_state.h"

#include <gtest/gtest.h>

#include <thread>

#include "app/settings.h"
#include "base/text_encoding.h"
#include "common/operation_engine.h"
#include "support/temp_dir.h"

namespace marbloom {
namespace {

TEST(SharedState, StatusIsCutToTheGbkBuffer) {
  SetStatusText(std::string(300, 'a'));
  EXPECT_EQ(StatusText().size(), 259u);
  SetStatusText(std::string(200, 'a') + std::string(40, 'x') + "深圳深圳深圳深圳深圳深圳深圳深圳深圳深圳");
  EXPECT_LE(Utf8ToGbk(StatusText()).size(), 259u);
  SetStatusTextF("正在转换%s%.8d日四代日线数据...", "深圳", 20220505);
  EXPECT_EQ(StatusText(), "正在转换深圳20220505日四代日线数据...");
}

TEST(SharedState, ReportGoesToStatusAndLog) {
  test::TestTree tree;
  ReportF("本次%s", "取消");
  EXPECT_EQ(StatusText(), "本次取消");
  EXPECT_NE(test::ReadRunLog().find("   本次取消\r\n"), std::string::npos);
}

TEST(SharedState, ObserverSeesEveryChange) {
  std::vector<std::string> seen;
  SetStatusObserver([&](const std::string& s) { seen.push_back(s); });
  SetStatusText("a");
  SetStatusText("b");
  SetStatusObserver(nullptr);
  SetStatusText("c");
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
}

TEST(SharedStateThreaded, WorkerWritesWhileTheWindowThreadReadsAndCancels) {
  OperationEngine engine;
  SetStatusText("");
  std::atomic<bool> started{false};
  std::thread worker([&] {
    started = true;
    for (int i = 0; !engine.Cancelled(); ++i) {
      SetStatusTextF("正在删除sz%06d日线", i % 1000000);
      SetProgressFraction((i % 100) / 100.0);
    }
    SetStatusText("本次删除日线操作被取消!");
  });
  while (!started) std::this_thread::yield();
  std::string oddText;
  double oddProgress = 0;
  for (int i = 0; i < 2000; ++i) {
    std::string s = StatusText();
    if (!(s.empty() || s.rfind("正在删除sz", 0) == 0)) oddText = s;
    double p = ProgressFraction();
    if (p < 0.0 || p >= 1.0) oddProgress = p;
  }
  engine.Cancel();
  worker.join();
  EXPECT_EQ(oddText, "");
  EXPECT_EQ(oddProgress, 0.0);
  EXPECT_EQ(StatusText(), "本次删除日线操作被取消!");
  engine.Reset();
  EXPECT_FALSE(engine.Cancelled());
}

}  // namespace
}  // namespace marbloom
