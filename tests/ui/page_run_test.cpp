// Runs to completion on small sample data (the download page against an
// in-process sample server), cancel during a run with the tab lock, and the
// slot through which Cancel reaches the running engine.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <filesystem>
#include <memory>

#include "app/settings.h"
#include "common/operation_engine.h"
#include "common/shared_state.h"
#include "undo/undo_journal.h"
#include "sample_server.h"
#include "samplegen.h"
#include "support/temp_dir.h"
#include "ui/engine_slot.h"
#include "ui/main_dlg.h"
#include "ui/window_reports.h"
#include "ui/pg_day_line.h"
#include "ui/pg_download.h"
#include "ui/pg_tick.h"
#include "ui_test_support.h"

namespace marbloom::test {
namespace {

constexpr int kMonday = 20220502, kTuesday = 20220503;

// Monday's and Tuesday's downloaded files, where the page's conversion reads them.
void WriteSources(Page page) {
  sample::SampleOptions options = sample::SampleOptions::Quick(7);
  options.securities = 300;
  const std::string& tree = Settings().historyDir;
  for (int date : {kMonday, kTuesday})
    ASSERT_TRUE(page == Page::kTick ? sample::WriteTickArchive(date, options, tree + "newdatetick/")
                                    : sample::WriteDailySources(date, options, tree + "refmhq/"));
}

// A run of the page on Monday and Tuesday whose status line ends as expected.
void ExpectRun(ui::OperationPage* page, int entry, const char* status) {
  Select(page, entry);
  const ui::FrameParams& ids = page->Params();
  SetDates(page, kMonday, kTuesday);
  ASSERT_TRUE(RunPage(page));
  EXPECT_EQ(StatusOf(page, ids.statusId), status) << "entry " << entry;
  EXPECT_EQ(Child<QProgressBar>(page, ui::ControlName(ids.progressId))->value(), 0);
  EXPECT_EQ(ui::ProgressFraction(), 0.0);
}

// The sample archive server on a free port as the download site.
class SampleSite {
 public:
  SampleSite() {
    sample::ServerOptions options;
    options.port = 0;
    options.sample = sample::SampleOptions::Quick(3);
    options.sample.securities = 200;
    options.cacheDir = cache_.path();
    options.log = nullptr;
    server_ = std::make_unique<sample::SampleServer>(options);
    EXPECT_TRUE(server_->Start());
    Settings().downloadBase = "http://127.0.0.1:" + std::to_string(server_->port()) + "/";
  }
  ~SampleSite() { server_->Stop(); }

 private:
  TempDir cache_;
  std::unique_ptr<sample::SampleServer> server_;
};

TEST(DailyPageRunThreaded, ConvertCheckExtractEditAndDelete) {
  TestTree tree;
  WriteSources(Page::kDaily);
  ui::PgDayLine page;
  auto edit = [&](int id) { return Child<QLineEdit>(&page, ui::ControlName(id)); };
  ExpectRun(&page, 0, "日线转档完成!");
  EXPECT_GT(FilesIn(Settings().historyDir + "sz/lday/"), 10);
  ExpectRun(&page, 4, "共有0支股票日线文件出错，细节参看日志!");

  // Extract shows the stored integers; the edit writes the open back truncated.
  Select(&page, 2);
  std::string code = "sz999999";
  for (const auto& entry : std::filesystem::directory_iterator(Settings().historyDir + "sz/lday/"))
    code = std::min(code, entry.path().stem().string());
  edit(3010)->setText(QString::fromStdString(code));
  page.OnExtract();
  EXPECT_EQ(StatusOf(&page, 3033), "个股日线提取成功!");
  EXPECT_NE(edit(3012)->text(), "1");
  edit(3012)->setText("12.7");
  ExpectRun(&page, 2, "个股日线修改处理完毕!");
  edit(3012)->setText("1");
  page.OnExtract();
  EXPECT_EQ(edit(3012)->text(), "12");

  edit(3010)->setText("sz??????");
  ExpectRun(&page, 1, "删除日线完成!");
  Select(&page, 2);
  edit(3010)->setText(QString::fromStdString(code));
  page.OnExtract();
  EXPECT_EQ(StatusOf(&page, 3033), "无指定个股日线!");
  EXPECT_EQ(page.focusWidget(), edit(3010));
  DataTreeReady = 0;
  page.OnExtract();
  EXPECT_EQ(StatusOf(&page, 3033), kDataGuardMessage);
}

TEST(TickPageRunThreaded, ConvertBuildMinutesCheckAndDelete) {
  TestTree tree;
  WriteSources(Page::kTick);
  ui::PgTick page;
  ExpectRun(&page, 0, "分笔数据转档完成!");
  ExpectRun(&page, 1, "分钟数据转档完成!");
  ExpectRun(&page, 5, "共有0支股票分笔文件出错!");
  EXPECT_GT(FilesIn(Settings().historyDir + "newtick/"), 10);
  const int minuteFiles = FilesIn(Settings().historyDir + "sz/minline/");
  EXPECT_GT(minuteFiles, 10);
  Select(&page, 4);
  ASSERT_TRUE(RunPage(&page));
  EXPECT_LT(FilesIn(Settings().historyDir + "sz/minline/"), minuteFiles);  // emptied files go
}

// A check that finds a bad file offers the repair, which asks first; the
// last entry then takes the repair back.
TEST(DailyPageRunThreaded, CheckOffersRepairAndTheUndoEntryTakesItBack) {
  TestTree tree;
  WriteSources(Page::kDaily);
  ui::PgDayLine page;
  ExpectRun(&page, ui::PgDayLine::kConvert, "日线转档完成!");
  const std::string file = std::filesystem::directory_iterator(Settings().historyDir + "sz/lday/")->path().string();
  std::vector<uint8_t> damaged = ReadFileBytes(file);
  damaged.resize(damaged.size() + 5, 1);
  WriteFileBytes(file, damaged);
  auto* repair = Child<QPushButton>(&page, ui::ControlName(3034));
  ExpectRun(&page, ui::PgDayLine::kCheck, "共有1支股票日线文件出错，细节参看日志!");
  ASSERT_FALSE(repair->isHidden());
  BoxRecorder boxes;
  boxes.answer = true;
  page.OnRepair();
  ASSERT_TRUE(WaitIdle(&page));
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_TRUE(boxes.boxes[0].text.contains(QStringLiteral("1个文件")));
  EXPECT_EQ(ReadFileBytes(file).size(), damaged.size() - 5);
  EXPECT_TRUE(repair->isHidden());
  // The undo asks first, naming the run in Chinese; No restores nothing.
  const QString repairedAt = QString::fromStdString(JournalTimeText(ReadJournal(CurrentLayout()).front().time));
  boxes.answer = false;
  Select(&page, ui::PgDayLine::kUndo);
  ASSERT_TRUE(RunPage(&page));
  EXPECT_EQ(ReadFileBytes(file).size(), damaged.size() - 5);
  boxes.answer = true;
  ASSERT_TRUE(RunPage(&page));
  EXPECT_EQ(ReadFileBytes(file), damaged);
  EXPECT_TRUE(boxes.boxes.back().text.contains(repairedAt)) << boxes.boxes.back().text.toStdString();
  Select(&page, ui::PgDayLine::kCheck);
  Select(&page, ui::PgDayLine::kUndo);
  EXPECT_EQ(StatusOf(&page, 3033).find("undo"), std::string::npos) << StatusOf(&page, 3033);

  // The same entry sets the journal's bounds.
  Child<QLineEdit>(&page, ui::ControlName(3036))->setText("3");
  Child<QLineEdit>(&page, ui::ControlName(3038))->setText("1G");
  page.OnSaveLimits();
  EXPECT_EQ(ReadJournalLimits(CurrentLayout()).runs, 3);
  EXPECT_EQ(ReadJournalLimits(CurrentLayout()).bytes, int64_t{1} << 30);
}

// Another writer holds the tree: the refusal stays in the status line, also
// over the page's own closing message, and nothing is written.
TEST(DailyPageRunThreaded, AnotherWriterOnTheTreeIsReported) {
  TestTree tree;
  WriteSources(Page::kDaily);
  const File other = RealFileSystem().Open(CurrentLayout().WriterLockFile(), OpenMode::kAppend);
  ASSERT_EQ(::flock(other.handle(), LOCK_EX | LOCK_NB), 0);
  ui::PgDayLine page;
  Child<QLineEdit>(&page, ui::ControlName(3010))->setText("sz??????");
  for (int entry : {0, 3}) {
    Select(&page, entry);
    SetDates(&page, kMonday, kTuesday);
    ASSERT_TRUE(RunPage(&page));
    EXPECT_NE(StatusOf(&page, 3033).find("正被另一个操作写入"), std::string::npos) << StatusOf(&page, 3033);
  }
  EXPECT_EQ(FilesIn(Settings().historyDir + "sz/lday/"), 0);
}

struct DownloadCase {
  const char* name;
  int kind;  // list entry
  bool convert;
  const char* status;
  const char* filled;  // a folder of the tree that the run fills
};

const DownloadCase kDownloads[] = {
    {"Daily", 0, true, "下载完成! 共2天, 日线转档完成!", "sz/lday/"},
    {"TickWithMinutes", 1, true, "下载完成! 共2天, 分笔数据转档完成! 分钟数据转档完成!", "sz/fzline/"},
    {"WithoutConvert", 0, false, "下载完成!", "refmhq/"},
};

class DownloadPageThreaded : public ::testing::TestWithParam<DownloadCase> {};

TEST_P(DownloadPageThreaded, RunsToTheEnd) {
  const DownloadCase& c = GetParam();
  TestTree tree;
  SampleSite site;
  ui::PgDownLoad page;
  Child<QCheckBox>(&page, ui::ControlName(2002))->setChecked(c.convert);
  ExpectRun(&page, c.kind, c.status);
  EXPECT_GT(FilesIn(Settings().historyDir + c.filled), 10);
  EXPECT_EQ(FilesIn(Settings().historyDir + "sz/lday/") > 0, c.kind == 0 && c.convert);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DownloadPageThreaded, ::testing::ValuesIn(kDownloads),
                         [](const auto& info) { return std::string(info.param.name); });

// Cancel while the worker is held at a status line: the cancel button's
// caption at that moment, the tab lock, then the message the run ends with,
// the page idle, and a next run that completes with cleared flags.
struct CancelCase {
  const char* name;
  Page page;
  const char* gate;
  const char* cancelCaption;
  const char* cancelled;
  const char* completed;
};

const CancelCase kCancels[] = {
    {"DailyConvert", Page::kDaily, "正在转换", "取消执行", "日线转档被取消!", "日线转档完成!"},
    {"TickConvert", Page::kTick, "分笔数据...", "取消执行", "分笔数据转档被取消!", "分笔数据转档完成!"},
    {"DownloadConversion", Page::kDownload, "正在转换", "取消转档", "下载完成! 共2天, 日线转档被取消!",
     "下载完成! 共2天, 日线转档完成!"},
    {"DownloadLoop", Page::kDownload, "正在下载", "取消下载", "下载被取消!", "下载完成! 共2天, 日线转档完成!"},
};

class PageCancelThreaded : public ::testing::TestWithParam<CancelCase> {};

TEST_P(PageCancelThreaded, CancelLeavesTheRunsMessageAndTheNextRunIsWhole) {
  const CancelCase& c = GetParam();
  TestTree tree;
  std::unique_ptr<SampleSite> site;
  if (c.page == Page::kDownload)
    site = std::make_unique<SampleSite>();
  else
    WriteSources(c.page);
  ui::OperationPage* page = MakePage(c.page).release();
  ui::MainDlg sheet;
  sheet.AddPage(new QWidget, QStringLiteral("first"));
  sheet.AddPage(page, QStringLiteral("page"));
  sheet.Sheet()->setCurrentIndex(1);
  sheet.show();
  QTabBar* bar = sheet.Sheet()->tabBar();
  const ui::FrameParams& ids = page->Params();
  SetDates(page, kMonday, kTuesday);
  auto* cancel = Child<QPushButton>(page, ui::ControlName(ids.cancelId));
  {
    WorkerGate gate(c.gate);
    page->Execute();
    ASSERT_TRUE(gate.WaitReached());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !cancel->isHidden() && cancel->text() == c.cancelCaption; }));
    EXPECT_FALSE(Shown(page, ids.executeId));
    EXPECT_FALSE(Control(page, ids.listId)->isEnabled());
    EXPECT_FALSE(Control(page, ids.firstPickerId)->isEnabled());
    // The tabs are locked: by a click, by a switch from code. Closing asks,
    // and No keeps the run going.
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    sheet.Sheet()->setCurrentIndex(0);
    EXPECT_EQ(sheet.GetActiveIndex(), 1);
    {
      BoxRecorder no;
      sheet.reject();
      EXPECT_TRUE(sheet.isVisible() && page->IsBusy());
      EXPECT_TRUE(no.boxes.size() == 1 && no.boxes[0].icon == ui::BoxIcon::kQuestion);
    }
    // A run that ends while the question is open makes it moot: it goes
    // away, whatever it would have been answered, and the window stays.
    BoxRecorder moot;
    moot.answer = true;
    moot.onBox = [&] {
      cancel->click();
      gate.Release();
      EXPECT_TRUE(WaitIdle(page));
    };
    sheet.reject();
    EXPECT_TRUE(sheet.isVisible());
  }
  EXPECT_EQ(StatusOf(page, ids.statusId), c.cancelled);
  EXPECT_FALSE(sheet.TabsLocked());
  EXPECT_TRUE(Shown(page, ids.executeId));
  EXPECT_TRUE(Control(page, ids.listId)->isEnabled());
  ASSERT_TRUE(RunPage(page));
  EXPECT_EQ(StatusOf(page, ids.statusId), c.completed);
  EXPECT_TRUE(Control(&sheet, 1)->isEnabled());
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
  EXPECT_EQ(sheet.GetActiveIndex(), 0);
}

INSTANTIATE_TEST_SUITE_P(Pages, PageCancelThreaded, ::testing::ValuesIn(kCancels),
                         [](const auto& info) { return std::string(info.param.name); });

// Held at each day of three: the counter names it, the bar covers the range.
// Closing then, Yes: the whole run stops (the days obtained are not
// converted), its worker has ended and the window closes.
TEST(DownloadCounterThreaded, CountsTheDaysThenClosingStopsTheWholeRun) {
  TestTree tree;
  SampleSite site;
  auto* page = new ui::PgDownLoad;
  ui::MainDlg sheet;
  sheet.AddPage(page, QStringLiteral("page"));
  sheet.show();
  SetDates(page, kMonday, kMonday + 2);
  auto* counter = Child<QLabel>(page, "lblRunPosition");
  WorkerGate gate("正在下载");
  page->Execute();
  for (int day = 1; day <= 3; ++day) {
    if (day > 1) gate.Pass();
    ASSERT_TRUE(gate.WaitReached()) << day;
    const QString expected = QStringLiteral("第%1/3天 %2").arg(day).arg(kMonday + day - 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter->text() == expected; })) << counter->text().toStdString();
    EXPECT_GE(Child<QProgressBar>(page, ui::ControlName(2005))->value(), (day - 1) * 33) << day;
  }
  BoxRecorder yes;
  yes.answer = true;
  yes.onBox = [&] { gate.Release(); };
  sheet.reject();
  EXPECT_FALSE(sheet.isVisible() || page->IsRunning() || page->IsBusy());
  EXPECT_EQ(StatusOf(page, 2006), "下载被取消!");
  EXPECT_TRUE(counter->text().isEmpty());
}

struct Engine : OperationEngine {};

TEST(EngineSlot, CancelReachesTheRunningEngineOnlyInItsRunOrPhase) {
  ui::EngineSlot slot;
  slot.Cancel();
  slot.BeginRun();  // a new run forgets the old cancel
  {
    ui::SlotEngine<Engine> first(slot);
    EXPECT_FALSE(first->Cancelled());
    slot.Cancel();
    EXPECT_TRUE(first->Cancelled());
  }
  slot.Cancel();  // no engine attached: must not reach the destroyed one
  slot.BeginPhase();
  {
    ui::SlotEngine<Engine> second(slot);
    EXPECT_FALSE(second->Cancelled());
  }
  slot.Cancel();  // before the next engine exists: it starts cancelled
  ui::SlotEngine<Engine> third(slot);
  EXPECT_TRUE(third->Cancelled());
}

}  // namespace
}  // namespace marbloom::test
