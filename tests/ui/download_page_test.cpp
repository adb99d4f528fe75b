// The download page against the sample archive server: a run to completion
// for each kind, "取消转档" during the conversion, and cancel during the
// downloads.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <filesystem>

#include "app/settings.h"
#include "sample_server.h"
#include "support/temp_dir.h"
#include "ui/pg_download.h"
#include "ui_test_support.h"

namespace marbloom::test {
namespace {

const QDate kMonday(2022, 5, 2), kTuesday(2022, 5, 3);

class DownloadPageThreaded : public ::testing::Test {
 protected:
  void SetUp() override {
    sample::ServerOptions options;
    options.port = 0;
    options.sample = sample::SampleOptions::Quick(3);
    options.sample.securities = 200;
    options.cacheDir = cache_.path();
    options.log = nullptr;
    server_ = std::make_unique<sample::SampleServer>(options);
    ASSERT_TRUE(server_->Start());
    Settings().downloadBase = "http://127.0.0.1:" + std::to_string(server_->port()) + "/";
    SetDates(&page_, 2003, 2004, kMonday, kTuesday);
  }
  void TearDown() override { server_->Stop(); }
  void Kind(int index) { Child<QComboBox>(&page_, ui::ControlName(2000))->setCurrentIndex(index); }
  std::string Status() { return StatusOf(&page_, 2006); }
  int FilesIn(const std::string& dir) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) n += e.is_regular_file() ? 1 : 0;
    return n;
  }

  TestTree tree_;
  TempDir cache_;
  std::unique_ptr<sample::SampleServer> server_;
  ui::PgDownLoad page_;
};

TEST_F(DownloadPageThreaded, DailyDownloadConvertsTheDaysObtained) {
  ASSERT_TRUE(RunPage(&page_));
  EXPECT_EQ(Status(), "日线转档完成!");
  EXPECT_GT(FilesIn(Settings().historyDir + "sz/lday/"), 10);
  EXPECT_TRUE(Shown(&page_, 2007));
}

TEST_F(DownloadPageThreaded, TickDownloadConvertsAndBuildsMinuteLines) {
  Kind(1);
  ASSERT_TRUE(RunPage(&page_));
  EXPECT_EQ(Status(), "分钟数据转档完成!");
  EXPECT_GT(FilesIn(Settings().historyDir + "newtick/"), 10);
  EXPECT_GT(FilesIn(Settings().historyDir + "sz/fzline/"), 10);
}

TEST_F(DownloadPageThreaded, WithoutConvertOnlyTheArchivesArrive) {
  Child<QCheckBox>(&page_, ui::ControlName(2002))->setChecked(false);
  ASSERT_TRUE(RunPage(&page_));
  EXPECT_EQ(Status(), "下载完成!");
  EXPECT_EQ(FilesIn(Settings().historyDir + "sz/lday/"), 0);
}

// The button reads "取消转档" once the conversion runs, and cancels it.
TEST_F(DownloadPageThreaded, CancelDuringTheConversion) {
  auto* cancel = Child<QPushButton>(&page_, ui::ControlName(2008));
  {
    WorkerGate gate("正在转换");
    page_.Execute();
    ASSERT_TRUE(gate.WaitReached());
    ASSERT_TRUE(QTest::qWaitFor([&] { return cancel->text() == QStringLiteral("取消转档"); }));
    EXPECT_FALSE(Control(&page_, 2002)->isEnabled());
    cancel->click();
    gate.Release();
    ASSERT_TRUE(WaitIdle(&page_));
  }
  EXPECT_EQ(Status(), "日线转档被取消!");
  ASSERT_TRUE(RunPage(&page_));
  EXPECT_EQ(Status(), "日线转档完成!");
}

TEST_F(DownloadPageThreaded, CancelDuringTheDownloadsEndsTheLoop) {
  {
    WorkerGate gate("正在下载");
    page_.Execute();
    ASSERT_TRUE(gate.WaitReached());
    EXPECT_EQ(Child<QPushButton>(&page_, ui::ControlName(2008))->text(), QStringLiteral("取消下载"));
    Child<QPushButton>(&page_, ui::ControlName(2008))->click();
    gate.Release();
    ASSERT_TRUE(WaitIdle(&page_));
  }
  EXPECT_EQ(FilesIn(Settings().historyDir + "sz/lday/"), 0);
  ASSERT_TRUE(RunPage(&page_));
  EXPECT_EQ(Status(), "日线转档完成!");
}

}  // namespace
}  // namespace marbloom::test
