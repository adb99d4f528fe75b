// The three operation pages before anything runs: the controls and help text
// of an entry, the checks with their message and focus, the data guard and a
// thread that cannot be created.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTimeEdit>
#include <QCalendarWidget>
#include <QLineEdit>
#include <QTest>
#include <cstring>
#include <memory>
#include <set>

#include "app/settings.h"
#include "common/code_pattern.h"
#include "common/date_range.h"
#include "common/shared_state.h"
#include "support/temp_dir.h"
#include "ui/pg_day_line.h"
#include "ui/pg_download.h"
#include "ui/pg_tick.h"
#include "ui_test_support.h"

namespace marbloom::test {
namespace {

int CodeId(Page page) { return page == Page::kDaily ? 3010 : page == Page::kTick ? 4011 : 0; }

std::set<int> Ids(std::initializer_list<std::pair<int, int>> ranges) {
  std::set<int> ids;
  for (auto [from, to] : ranges)
    for (int id = from; id <= to; ++id) ids.insert(id);
  return ids;
}

struct LayoutCase {
  const char* name;
  Page page;
  int entry;
  std::set<int> shown;  // of the page's optional controls
};

// One entry per page: the daily edit shows the most, the tick modify the
// factor fields.
const LayoutCase kLayouts[] = {
    {"DailyEdit", Page::kDaily, 2, Ids({{3001, 3002}, {3008, 3010}, {3012, 3029}})},
    {"TickModify", Page::kTick, 6, Ids({{4002, 4005}, {4010, 4024}})},
};

// Each entry is reached from another one, so hiding and showing both count.
TEST(PageLayout, ShowsTheEntrysControlsAndHelpText) {
  TestTree tree;
  for (const LayoutCase& c : kLayouts) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<ui::OperationPage> page = MakePage(c.page);
    const ui::FrameParams& ids = page->Params();
    Select(page.get(), (c.entry + 3) % Child<QComboBox>(page.get(), ui::ControlName(ids.listId))->count());
    Select(page.get(), c.entry);
    for (int id : c.page == Page::kTick ? Ids({{4002, 4005}, {4010, 4024}}) : Ids({{3001, 3029}}))
      EXPECT_EQ(Shown(page.get(), id), c.shown.count(id) == 1) << "control " << id;
    const QString help = c.page == Page::kTick ? ui::PgTick::HelpText(c.entry) : ui::PgDayLine::HelpText(c.entry);
    EXPECT_EQ(StatusOf(page.get(), ids.statusId), help.toStdString());
  }
}

// The download page opens on the days a catch-up would fetch first: without a
// state file, from the newest day the index securities hold, fetched again.
TEST(PageLayout, DownloadOpensOnTheCatchUpDates) {
  TestTree tree;
  const uint32_t date = 20240105;  // a Friday, in an index's daily file
  std::vector<uint8_t> record(32, 0);
  std::memcpy(record.data(), &date, sizeof date);
  WriteFileBytes(tree.layout().DailyFile(1, "000001"), record);
  ui::PgDownLoad page;
  EXPECT_EQ(Child<QDateTimeEdit>(&page, ui::ControlName(2003))->date(), QDate(2024, 1, 5));
}

constexpr const char* kRuns = nullptr;  // the run went past every check
constexpr int kNoFocus = 0;

struct CheckCase {
  const char* name;
  Page page;
  int entry;
  int first, last;  // YYYYMMDD
  const char* code;
  int notANumberId;      // a number field left holding text; 0 for none
  const char* expected;  // the status line after the run
  int focusId;           // the control given the focus
};

const CheckCase kChecks[] = {
    {"DailyConvertSpan32", Page::kDaily, 0, 20220501, 20220602, "", 0, kDateRangeTooLongMessage, 3002},
    {"DailyDeleteShortCode", Page::kDaily, 1, 20220502, 20220503, "sz00000", 0, kCodeFormatMessage, 3010},
    {"DailyDeleteNoSpanLimit", Page::kDaily, 1, 20220502, 20230503, " sz?????? ", 0, kRuns, kNoFocus},
    {"DailyEditBadCode", Page::kDaily, 2, 20220502, 20220502, "sz00000a", 0, kCodeFormatMessage, 3010},
    {"DailyEditNotANumber", Page::kDaily, 2, 20220502, 20220502, "sz000001", 3018,
     "“上涨家数”不是数字，请改正后再执行!", 3018},
    {"DailyModifyCodeFirst", Page::kDaily, 3, 20220503, 20220502, "sz00000", 0, kPatternLengthMessage, 3010},
    {"DailyModifyReversed", Page::kDaily, 3, 20220503, 20220502, "sz??????", 0, kDateRangeInvalidMessage, 3002},
    {"DailyMergeBlankSource", Page::kDaily, 5, 20220502, 20220503, "", 0, "请先选择用于补充的vipdoc源!", kNoFocus},
    {"TickConvertSpan32", Page::kTick, 0, 20240101, 20240202, "", 0, kDateRangeTooLongMessage, 4003},
    {"TickMinutesReversed", Page::kTick, 1, 20240103, 20240102, "", 0, kDateRangeInvalidMessage, 4003},
    {"TickAllMinutesNoDates", Page::kTick, 2, 20240103, 20240102, "", 0, kRuns, kNoFocus},
    {"TickCheckNoDates", Page::kTick, 5, 20240103, 20240102, "", 0, "共有0支股票分笔文件出错!", kNoFocus},
    {"TickModifyShortPattern", Page::kTick, 6, 20240103, 20240102, "sz00000", 0, kPatternLengthMessage, kNoFocus},
    {"TickModifyReversed", Page::kTick, 6, 20240103, 20240102, "sz000001", 0, kDateRangeInvalidMessage, kNoFocus},
    {"TickModifyNoSpanLimit", Page::kTick, 6, 20240101, 20240601, "????????", 0, kRuns, kNoFocus},
    {"TickModifyNotANumber", Page::kTick, 6, 20240101, 20240102, "????????", 4022, "“成交量”不是数字，请改正后再执行!",
     4022},
    {"DownloadRaisedFirstDate", Page::kDownload, 0, 20220420, 20220510, "", 0, kRuns, kNoFocus},
    {"DownloadSpanOnThePickers", Page::kDownload, 0, 20220401, 20220510, "", 0, kDateRangeTooLongMessage, 2003},
    {"DownloadLastBeforeTheFloor", Page::kDownload, 0, 20220301, 20220420, "", 0, kDateRangeInvalidMessage, 2003},
};

class PageChecksThreaded : public ::testing::TestWithParam<CheckCase> {
 protected:
  TestTree tree_;
};

TEST_P(PageChecksThreaded, ReportsTheMessageAndMovesTheFocus) {
  const CheckCase& c = GetParam();
  Settings().downloadBase = "http://127.0.0.1:9/";  // nothing answers: a download that runs ends at once
  std::unique_ptr<ui::OperationPage> page = MakePage(c.page);
  const ui::FrameParams& ids = page->Params();
  page->show();
  Select(page.get(), c.entry);
  SetDates(page.get(), c.first, c.last);
  if (CodeId(c.page) != 0) Child<QLineEdit>(page.get(), ui::ControlName(CodeId(c.page)))->setText(c.code);
  if (c.notANumberId != 0) Child<QLineEdit>(page.get(), ui::ControlName(c.notANumberId))->setText("12a");
  Control(page.get(), ids.listId)->setFocus();

  ASSERT_TRUE(RunPage(page.get()));
  const std::string status = StatusOf(page.get(), ids.statusId);
  if (c.expected == kRuns) {
    for (const char* refusal :
         {kDateRangeTooLongMessage, kDateRangeInvalidMessage, kPatternLengthMessage, kCodeFormatMessage})
      EXPECT_NE(status, refusal);
  } else {
    EXPECT_EQ(status, c.expected);
  }
  QWidget* focus = page->focusWidget();
  if (c.focusId == kNoFocus)
    EXPECT_NE(focus, Control(page.get(), ids.firstPickerId));
  else
    EXPECT_EQ(focus, Control(page.get(), c.focusId));
  EXPECT_TRUE(Shown(page.get(), ids.executeId));
  EXPECT_FALSE(page->IsBusy());
}

INSTANTIATE_TEST_SUITE_P(Cases, PageChecksThreaded, ::testing::ValuesIn(kChecks),
                         [](const auto& info) { return std::string(info.param.name); });

// Per page: the data guard (its message stays in the status line after the
// page is idle, logged only by the tick page) and the thread that cannot be
// created (the page's message, idle again).
struct RefusalCase {
  const char* name;
  Page page;
  const char* guard;
  bool guardLogged;
  const char* threadFailure;
  bool threadFailureLogged;
};

const RefusalCase kRefusals[] = {
    {"Daily", Page::kDaily, kDataGuardMessage, false, "日线功能线程创建失败!", false},
    {"Tick", Page::kTick, kTickDataGuardMessage, true, "分笔功能线程创建失败!", false},
    {"Download", Page::kDownload, kDataGuardMessage, false, "下载功能线程创建失败!", true},
};

TEST(PageRefusalThreaded, WithoutADataTreeOrAThreadNothingRuns) {
  TestTree tree;
  for (const RefusalCase& c : kRefusals) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<ui::OperationPage> page = MakePage(c.page);
    const ui::FrameParams& ids = page->Params();
    DataTreeReady = 0;
    ASSERT_TRUE(RunPage(page.get()));
    EXPECT_EQ(StatusOf(page.get(), ids.statusId), c.guard);
    EXPECT_EQ(ReadRunLog().find(c.guard) != std::string::npos, c.guardLogged);

    DataTreeReady = 1;
    ui::OperationPage::SetThreadLauncher([](std::function<void()>) -> std::thread {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    page->Execute();
    ui::OperationPage::SetThreadLauncher(nullptr);
    EXPECT_FALSE(page->IsRunning() || page->IsBusy());
    EXPECT_EQ(StatusOf(page.get(), ids.statusId), c.threadFailure);
    EXPECT_TRUE(Shown(page.get(), ids.executeId));
    EXPECT_TRUE(Control(page.get(), ids.listId)->isEnabled());
    EXPECT_EQ(ReadRunLog().find(c.threadFailure) != std::string::npos, c.threadFailureLogged);
  }
}

}  // namespace
}  // namespace marbloom::test

namespace marbloom::test {
namespace {

// A page's date field takes a date typed whole wherever its cursor stands,
// after Ctrl+A, and from its calendar; text that is no date puts the old
// date back when the field is left.
struct TypedDateCase {
  const char* name;
  const char* keys;     // typed after the field takes the focus
  bool selectAll;       // Ctrl+A first, the cursor put in the day section
  QDate expected;       // 2022-05-02 is the date before
};

const TypedDateCase kTypedDates[] = {
    {"Digits", "20220509", false, QDate(2022, 5, 9)},
    {"Dashes", "2022-05-09", false, QDate(2022, 5, 9)},
    {"CtrlA", "20230131", true, QDate(2023, 1, 31)},
    {"NoDate", "20221399", false, QDate(2022, 5, 2)},
    {"Calendar", "", false, QDate(2022, 5, 20)},
};

class DateFieldTyping : public ::testing::TestWithParam<TypedDateCase> {};

TEST_P(DateFieldTyping, TakesTheWholeDate) {
  const TypedDateCase& c = GetParam();
  TestTree tree;
  std::unique_ptr<ui::OperationPage> page = MakePage(Page::kDaily);
  page->show();
  auto* field = Child<QDateTimeEdit>(page.get(), "ctl3002");
  field->setDate(QDate(2022, 5, 2));
  page->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(page.get()));
  field->setFocus();
  auto* text = field->findChild<QLineEdit*>();
  ASSERT_TRUE(QTest::qWaitFor([&] { return text->selectedText() == text->text(); }));
  if (c.selectAll) {
    field->setCurrentSection(QDateTimeEdit::DaySection);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
  }
  QTest::keyClicks(field, QString::fromLatin1(c.keys));
  if (*c.keys == 0) {
    QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(field->width() - 4, field->height() / 2));  // the arrow
    ASSERT_TRUE(QTest::qWaitFor([&] { return field->calendarWidget()->isVisible(); }));
    field->calendarWidget()->setSelectedDate(c.expected);
  }
  page->setFocus();
  EXPECT_EQ(field->date(), c.expected) << field->text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Forms, DateFieldTyping, ::testing::ValuesIn(kTypedDates),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace marbloom::test
