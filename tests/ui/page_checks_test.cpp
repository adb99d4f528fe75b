// The checks of the three operation pages: each message, the control that
// gets the focus, and the data guard.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <memory>

#include "base/file_helpers.h"
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

enum class Page { kDaily, kTick, kDownload };

struct PageIds {
  int list, first, last, status, code;
};

PageIds IdsOf(Page page) {
  switch (page) {
    case Page::kDaily: return {3000, 3002, 3004, 3033, 3010};
    case Page::kTick: return {4001, 4003, 4005, 4009, 4011};
    default: return {2000, 2003, 2004, 2006, 0};
  }
}

std::unique_ptr<ui::OperationPage> MakePage(Page page) {
  switch (page) {
    case Page::kDaily: return std::make_unique<ui::PgDayLine>();
    case Page::kTick: return std::make_unique<ui::PgTick>();
    default: return std::make_unique<ui::PgDownLoad>();
  }
}

constexpr const char* kAccepted = nullptr;  // the run went past every check
constexpr int kNoFocusMove = 0;

struct CheckCase {
  const char* name;
  Page page;
  int entry;
  QDate first, last;
  const char* code;
  int notANumberId;      // a number field left holding text; 0 for none
  const char* expected;  // the status line after the run
  int focusId;           // the control given the focus
};

QDate D(int y, int m, int d) { return QDate(y, m, d); }

const CheckCase kChecks[] = {
    {"DailyConvertSpan31Runs", Page::kDaily, 0, D(2022, 5, 1), D(2022, 6, 1), "", 0, kAccepted, kNoFocusMove},
    {"DailyConvertSpan32", Page::kDaily, 0, D(2022, 5, 1), D(2022, 6, 2), "", 0, kDateRangeTooLongMessage, 3002},
    {"DailyConvertReversed", Page::kDaily, 0, D(2022, 5, 3), D(2022, 5, 2), "", 0, kDateRangeInvalidMessage, 3002},
    {"DailyDeleteReversedFirst", Page::kDaily, 1, D(2022, 5, 3), D(2022, 5, 2), "sz0", 0, kDateRangeInvalidMessage,
     3002},
    {"DailyDeleteShortCode", Page::kDaily, 1, D(2022, 5, 2), D(2022, 5, 3), "sz00000", 0, kCodeFormatMessage, 3010},
    {"DailyDeleteNoSpanLimit", Page::kDaily, 1, D(2022, 5, 2), D(2023, 5, 3), " sz?????? ", 0, kAccepted,
     kNoFocusMove},
    {"DailyEditBadCode", Page::kDaily, 2, D(2022, 5, 2), D(2022, 5, 2), "sz00000a", 0, kCodeFormatMessage, 3010},
    {"DailyEditNotANumber", Page::kDaily, 2, D(2022, 5, 2), D(2022, 5, 2), "sz000001", 3018,
     "“上涨家数”不是数字，请改正后再执行!", 3018},
    {"DailyModifyLengthBeforeDates", Page::kDaily, 3, D(2022, 5, 3), D(2022, 5, 2), "sz00000", 0,
     kPatternLengthMessage, 3010},
    {"DailyModifyReversed", Page::kDaily, 3, D(2022, 5, 3), D(2022, 5, 2), "sz??????", 0, kDateRangeInvalidMessage,
     3002},
    {"DailyModifyNotANumber", Page::kDaily, 3, D(2022, 5, 2), D(2022, 5, 3), "sz??????", 3013,
     "“最高价”不是数字，请改正后再执行!", 3013},
    {"DailyMergeBlankSource", Page::kDaily, 5, D(2022, 5, 2), D(2022, 5, 3), "", 0, "请先选择用于补充的vipdoc源!",
     kNoFocusMove},
    {"TickConvertSpan31Runs", Page::kTick, 0, D(2024, 1, 1), D(2024, 2, 1), "", 0, kAccepted, kNoFocusMove},
    {"TickConvertSpan32", Page::kTick, 0, D(2024, 1, 1), D(2024, 2, 2), "", 0, kDateRangeTooLongMessage, 4003},
    {"TickMinutesReversed", Page::kTick, 1, D(2024, 1, 3), D(2024, 1, 2), "", 0, kDateRangeInvalidMessage, 4003},
    {"TickAllMinutesIgnoresDates", Page::kTick, 2, D(2024, 1, 3), D(2024, 1, 2), "", 0, kAccepted, kNoFocusMove},
    {"TickDeleteTicksSpan32", Page::kTick, 3, D(2024, 1, 1), D(2024, 2, 2), "", 0, kDateRangeTooLongMessage, 4003},
    {"TickDeleteMinutesReversed", Page::kTick, 4, D(2024, 1, 3), D(2024, 1, 2), "", 0, kDateRangeInvalidMessage,
     4003},
    {"TickCheckIgnoresDates", Page::kTick, 5, D(2024, 1, 3), D(2024, 1, 2), "", 0, "共有0支股票分笔文件出错!",
     kNoFocusMove},
    {"TickModifyShortPattern", Page::kTick, 6, D(2024, 1, 3), D(2024, 1, 2), "sz00000", 0, kPatternLengthMessage,
     kNoFocusMove},
    {"TickModifyReversed", Page::kTick, 6, D(2024, 1, 3), D(2024, 1, 2), "sz000001", 0, kDateRangeInvalidMessage,
     kNoFocusMove},
    {"TickModifyNoSpanLimit", Page::kTick, 6, D(2024, 1, 1), D(2024, 6, 1), "????????", 0, kAccepted, kNoFocusMove},
    {"TickModifyNotANumber", Page::kTick, 6, D(2024, 1, 1), D(2024, 1, 2), "????????", 4022,
     "“成交量”不是数字，请改正后再执行!", 4022},
    {"DownloadRaisedFirstDate", Page::kDownload, 0, D(2022, 4, 20), D(2022, 5, 10), "", 0, kAccepted, kNoFocusMove},
    {"DownloadSpanOnThePickers", Page::kDownload, 0, D(2022, 4, 1), D(2022, 5, 10), "", 0, kDateRangeTooLongMessage,
     2003},
    {"DownloadLastBeforeTheFloor", Page::kDownload, 0, D(2022, 3, 1), D(2022, 4, 20), "", 0,
     kDateRangeInvalidMessage, 2003},
    {"DownloadSpan31Runs", Page::kDownload, 1, D(2022, 5, 1), D(2022, 6, 1), "", 0, kAccepted, kNoFocusMove},
};

class PageChecksThreaded : public ::testing::TestWithParam<CheckCase> {
 protected:
  TestTree tree_;
};

TEST_P(PageChecksThreaded, ReportsTheMessageAndMovesTheFocus) {
  const CheckCase& c = GetParam();
  const PageIds ids = IdsOf(c.page);
  std::unique_ptr<ui::OperationPage> page = MakePage(c.page);
  page->show();
  Child<QComboBox>(page.get(), ui::ControlName(ids.list))->setCurrentIndex(c.entry);
  SetDates(page.get(), ids.first, ids.last, c.first, c.last);
  if (ids.code != 0) Child<QLineEdit>(page.get(), ui::ControlName(ids.code))->setText(QString::fromUtf8(c.code));
  if (c.notANumberId != 0) Child<QLineEdit>(page.get(), ui::ControlName(c.notANumberId))->setText("12a");
  Control(page.get(), ids.list)->setFocus();

  ASSERT_TRUE(RunPage(page.get()));
  const std::string status = StatusOf(page.get(), ids.status);
  if (c.expected == kAccepted) {
    EXPECT_NE(status, kDateRangeTooLongMessage);
    EXPECT_NE(status, kDateRangeInvalidMessage);
    EXPECT_NE(status, kPatternLengthMessage);
    EXPECT_NE(status, kCodeFormatMessage);
  } else {
    EXPECT_EQ(status, c.expected);
  }
  QWidget* focus = page->focusWidget();
  if (c.focusId == kNoFocusMove)
    EXPECT_NE(focus, Control(page.get(), ids.first));
  else
    EXPECT_EQ(focus, Control(page.get(), c.focusId));
  EXPECT_TRUE(Shown(page.get(), page->Params().executeId));
  EXPECT_FALSE(page->IsBusy());
}

INSTANTIATE_TEST_SUITE_P(Cases, PageChecksThreaded, ::testing::ValuesIn(kChecks),
                         [](const auto& info) { return std::string(info.param.name); });

struct GuardCase {
  const char* name;
  Page page;
  const char* message;
  bool logged;
};

const GuardCase kGuards[] = {
    {"Daily", Page::kDaily, kDataGuardMessage, false},
    {"Tick", Page::kTick, kTickDataGuardMessage, true},
    {"Download", Page::kDownload, kDataGuardMessage, false},
};

class PageGuardThreaded : public ::testing::TestWithParam<GuardCase> {};

// The message stays in the status line after the page is idle; nothing is written.
TEST_P(PageGuardThreaded, RefusesToRunWithoutADataTree) {
  const GuardCase& c = GetParam();
  TestTree tree;
  DataTreeReady = 0;
  std::unique_ptr<ui::OperationPage> page = MakePage(c.page);
  const PageIds ids = IdsOf(c.page);
  ASSERT_TRUE(RunPage(page.get()));
  EXPECT_EQ(StatusOf(page.get(), ids.status), c.message);
  EXPECT_EQ(ReadRunLog().find(c.message) != std::string::npos, c.logged);
}

INSTANTIATE_TEST_SUITE_P(Pages, PageGuardThreaded, ::testing::ValuesIn(kGuards),
                         [](const auto& info) { return std::string(info.param.name); });

// The thread that cannot be created: the page's message, idle again.
struct ThreadFailureCase {
  const char* name;
  Page page;
  const char* message;
  bool logged;
};

const ThreadFailureCase kThreadFailures[] = {
    {"Daily", Page::kDaily, "日线功能线程创建失败!", false},
    {"Tick", Page::kTick, "分笔功能线程创建失败!", false},
    {"Download", Page::kDownload, "下载功能线程创建失败!", true},
};

class PageThreadFailure : public ::testing::TestWithParam<ThreadFailureCase> {
 protected:
  void TearDown() override { ui::OperationPage::SetThreadLauncher(nullptr); }
};

TEST_P(PageThreadFailure, ShowsThePagesMessageAndReturnsToIdle) {
  const ThreadFailureCase& c = GetParam();
  TestTree tree;
  ui::OperationPage::SetThreadLauncher([](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  });
  std::unique_ptr<ui::OperationPage> page = MakePage(c.page);
  Child<QComboBox>(page.get(), ui::ControlName(IdsOf(c.page).list))->setCurrentIndex(c.page == Page::kDaily ? 4 : 0);
  page->Execute();
  EXPECT_FALSE(page->IsRunning());
  EXPECT_FALSE(page->IsBusy());
  EXPECT_EQ(StatusOf(page.get(), IdsOf(c.page).status), c.message);
  EXPECT_TRUE(Shown(page.get(), page->Params().executeId));
  EXPECT_TRUE(Control(page.get(), IdsOf(c.page).list)->isEnabled());
  EXPECT_EQ(ReadRunLog().find(c.message) != std::string::npos, c.logged);
}

INSTANTIATE_TEST_SUITE_P(Pages, PageThreadFailure, ::testing::ValuesIn(kThreadFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace marbloom::test
