// Runs to completion on a small sample tree, cancel during a run, and the
// tab lock while a page runs.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <memory>

#include "app/settings.h"
#include "common/shared_state.h"
#include "samplegen.h"
#include "support/temp_dir.h"
#include "ui/main_dlg.h"
#include "ui/pg_day_line.h"
#include "ui/pg_tick.h"
#include "ui_test_support.h"

namespace marbloom::test {
namespace {

constexpr int kMonday = 20220502, kTuesday = 20220503;

sample::SampleOptions Options() {
  sample::SampleOptions options = sample::SampleOptions::Quick(7);
  options.securities = 300;
  return options;
}

void WriteDailySources() {
  for (int date : {kMonday, kTuesday})
    ASSERT_TRUE(sample::WriteDailySources(date, Options(), Settings().historyDir + "refmhq/"));
}

void WriteTickArchives() {
  for (int date : {kMonday, kTuesday})
    ASSERT_TRUE(sample::WriteTickArchive(date, Options(), Settings().historyDir + "newdatetick/"));
}

int FilesIn(const std::string& dir) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) n += entry.is_regular_file() ? 1 : 0;
  return n;
}

std::string FirstFileStem(const std::string& dir) {
  std::string first;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string stem = entry.path().stem().string();
    if (first.empty() || stem < first) first = stem;
  }
  return first;
}

QDate Day(int date) { return QDate(date / 10000, date / 100 % 100, date % 100); }

class DailyPageRunThreaded : public ::testing::Test {
 protected:
  void Select(int entry) { Child<QComboBox>(&page_, ui::ControlName(3000))->setCurrentIndex(entry); }
  QLineEdit* Edit(int id) { return Child<QLineEdit>(&page_, ui::ControlName(id)); }
  std::string Status() { return StatusOf(&page_, 3033); }

  TestTree tree_;
  ui::PgDayLine page_;
};

TEST_F(DailyPageRunThreaded, ConvertCheckExtractEditAndDelete) {
  WriteDailySources();
  SetDates(&page_, 3002, 3004, Day(kMonday), Day(kTuesday));
  ASSERT_TRUE(RunPage(&page_));
  EXPECT_EQ(Status(), "日线转档完成!");
  EXPECT_GT(FilesIn(Settings().historyDir + "sz/lday/"), 10);
  EXPECT_EQ(Child<QProgressBar>(&page_, ui::ControlName(3030))->value(), 0);
  EXPECT_EQ(ProgressFraction(), 0.0);

  Select(4);
  ASSERT_TRUE(RunPage(&page_));
  EXPECT_EQ(Status(), "共有0支股票日线文件出错，细节参看日志!");

  // Extract shows the stored integers; the edit writes the open back truncated.
  Select(2);
  const std::string code = FirstFileStem(Settings().historyDir + "sz/lday/");
  Edit(3010)->setText(QString::fromStdString(code));
  page_.OnExtract();
  EXPECT_EQ(Status(), "个股日线提取成功!");
  EXPECT_NE(Edit(3012)->text(), "1");
  Edit(3012)->setText("12.7");
  ASSERT_TRUE(RunPage(&page_));
  EXPECT_EQ(Status(), "个股日线修改处理完毕!");
  Edit(3012)->setText("1");
  page_.OnExtract();
  EXPECT_EQ(Edit(3012)->text(), "12");

  Select(1);
  Edit(3010)->setText("sz??????");
  SetDates(&page_, 3002, 3004, Day(kMonday), Day(kMonday));
  ASSERT_TRUE(RunPage(&page_));
  Select(2);
  Edit(3010)->setText(QString::fromStdString(code));
  page_.OnExtract();
  EXPECT_EQ(Status(), "无指定个股日线!");
  EXPECT_EQ(page_.focusWidget(), Edit(3010));
}

TEST_F(DailyPageRunThreaded, ExtractRefusesBjAndGuardsTheTree) {
  Select(2);
  Edit(3010)->setText("bj430001");
  page_.OnExtract();
  EXPECT_EQ(Status(), "代码格式不规范!");
  DataTreeReady = 0;
  page_.OnExtract();
  EXPECT_EQ(Status(), kDataGuardMessage);
}

TEST(TickPageRunThreaded, ConvertBuildMinutesCheckAndDelete) {
  TestTree tree;
  WriteTickArchives();
  ui::PgTick page;
  auto* list = Child<QComboBox>(&page, ui::ControlName(4001));
  SetDates(&page, 4003, 4005, Day(kMonday), Day(kTuesday));
  ASSERT_TRUE(RunPage(&page));
  EXPECT_EQ(StatusOf(&page, 4009), "分笔数据转档完成!");
  EXPECT_GT(FilesIn(Settings().historyDir + "newtick/"), 10);

  list->setCurrentIndex(1);
  ASSERT_TRUE(RunPage(&page));
  EXPECT_EQ(StatusOf(&page, 4009), "分钟数据转档完成!");
  const int minuteFiles = FilesIn(Settings().historyDir + "sz/minline/");
  EXPECT_GT(minuteFiles, 10);

  list->setCurrentIndex(5);
  ASSERT_TRUE(RunPage(&page));
  EXPECT_EQ(StatusOf(&page, 4009), "共有0支股票分笔文件出错!");

  // Deleting every day of the minute files removes them.
  list->setCurrentIndex(4);
  ASSERT_TRUE(RunPage(&page));
  EXPECT_LT(FilesIn(Settings().historyDir + "sz/minline/"), minuteFiles);
}

// Another writer on the tree: the refusal stays in the status line, also
// where the page has a closing message of its own, and nothing is written.
TEST_F(DailyPageRunThreaded, AnotherWriterOnTheTreeIsReported) {
  WriteDailySources();
  OtherWriter writer(CurrentLayout().WriterLockFile());
  ASSERT_TRUE(writer.holding());
  SetDates(&page_, 3002, 3004, Day(kMonday), Day(kTuesday));
  for (int entry : {0, 3}) {
    Select(entry);
    Edit(3010)->setText("sz??????");
    ASSERT_TRUE(RunPage(&page_));
    EXPECT_NE(Status().find("正被另一个操作写入"), std::string::npos) << entry << ": " << Status();
  }
  EXPECT_EQ(FilesIn(Settings().historyDir + "sz/lday/"), 0);
}

// Cancel while the worker is held inside the engine: the engine's message
// stays, the page is idle, and the next run starts with cleared flags.
struct CancelCase {
  const char* name;
  bool tickPage;
  const char* gate;
  const char* cancelled;
  const char* completed;
};

const CancelCase kCancels[] = {
    {"DailyConvert", false, "正在转换", "日线转档被取消!", "日线转档完成!"},
    {"TickConvert", true, "分笔数据...", "分笔数据转档被取消!", "分笔数据转档完成!"},
};

class PageCancelThreaded : public ::testing::TestWithParam<CancelCase> {};

TEST_P(PageCancelThreaded, CancelLeavesTheEnginesMessageAndTheNextRunIsWhole) {
  const CancelCase& c = GetParam();
  TestTree tree;
  c.tickPage ? WriteTickArchives() : WriteDailySources();
  ui::MainDlg sheet;
  ui::OperationPage* page = c.tickPage ? static_cast<ui::OperationPage*>(new ui::PgTick)
                                       : static_cast<ui::OperationPage*>(new ui::PgDayLine);
  sheet.AddPage(new QWidget, QStringLiteral("first"));
  sheet.AddPage(page, QStringLiteral("page"));
  sheet.Sheet()->setCurrentIndex(1);
  const ui::FrameParams& ids = page->Params();
  SetDates(page, ids.firstPickerId, ids.lastPickerId, Day(kMonday), Day(kTuesday));
  {
    WorkerGate gate(c.gate);
    page->Execute();
    ASSERT_TRUE(gate.WaitReached());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Shown(page, ids.cancelId); }));
    EXPECT_FALSE(Shown(page, ids.executeId));
    EXPECT_FALSE(Control(page, ids.listId)->isEnabled());
    EXPECT_FALSE(Control(page, ids.firstPickerId)->isEnabled());
    EXPECT_TRUE(sheet.TabsLocked());
    sheet.Sheet()->setCurrentIndex(0);
    EXPECT_EQ(sheet.GetActiveIndex(), 1);
    QSignalSpy finished(&sheet, &QDialog::finished);
    sheet.reject();
    EXPECT_EQ(finished.count(), 0);
    Child<QPushButton>(page, ui::ControlName(ids.cancelId))->click();
    gate.Release();
    ASSERT_TRUE(WaitIdle(page));
  }
  EXPECT_EQ(StatusOf(page, ids.statusId), c.cancelled);
  EXPECT_FALSE(sheet.TabsLocked());
  EXPECT_TRUE(Shown(page, ids.executeId));
  EXPECT_TRUE(Control(page, ids.listId)->isEnabled());
  ASSERT_TRUE(RunPage(page));
  EXPECT_EQ(StatusOf(page, ids.statusId), c.completed);
  sheet.Sheet()->setCurrentIndex(0);
  EXPECT_EQ(sheet.GetActiveIndex(), 0);
}

INSTANTIATE_TEST_SUITE_P(Pages, PageCancelThreaded, ::testing::ValuesIn(kCancels),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace marbloom::test
