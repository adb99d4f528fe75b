// Which controls each list entry shows, the help text it puts into the
// status line, and the first values of the fields.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QCheckBox>
#include <memory>
#include <set>

#include "support/temp_dir.h"
#include "ui/pg_day_line.h"
#include "ui/pg_download.h"
#include "ui/pg_tick.h"
#include "ui/status_line.h"
#include "ui_test_support.h"

namespace marbloom::test {
namespace {

std::set<int> Range(int from, int to) {
  std::set<int> ids;
  for (int id = from; id <= to; ++id) ids.insert(id);
  return ids;
}

std::set<int> Join(std::set<int> a, const std::set<int>& b) {
  a.insert(b.begin(), b.end());
  return a;
}

struct LayoutCase {
  const char* name;
  bool tickPage;
  int entry;
  std::set<int> shown;  // of the page's optional controls
};

const std::set<int> kDailyOptional = Range(3001, 3029);
const std::set<int> kTickOptional = Join(Range(4002, 4005), Range(4010, 4024));
const std::set<int> kDailyDates = {3001, 3002, 3003, 3004};
const std::set<int> kDailyCode = {3009, 3010};
const std::set<int> kDailySix = Join(Range(3012, 3017), Range(3020, 3025));
const std::set<int> kTickDates = Range(4002, 4005);

const LayoutCase kLayouts[] = {
    {"DailyConvert", false, 0, kDailyDates},
    {"DailyDelete", false, 1, Join(kDailyDates, kDailyCode)},
    {"DailyEdit", false, 2,
     Join(Join({3001, 3002, 3008, 3018, 3019, 3026, 3027, 3028, 3029}, kDailyCode), kDailySix)},
    {"DailyModify", false, 3, Join(Join(Join(kDailyDates, kDailyCode), kDailySix), {3011})},
    {"DailyCheck", false, 4, {}},
    {"DailyMerge", false, 5, {3005, 3006, 3007}},
    {"TickConvert", true, 0, kTickDates},
    {"TickMinutes", true, 1, kTickDates},
    {"TickAllMinutes", true, 2, {}},
    {"TickDeleteTicks", true, 3, kTickDates},
    {"TickDeleteMinutes", true, 4, kTickDates},
    {"TickCheck", true, 5, {}},
    {"TickModify", true, 6, kTickOptional},
};

class PageLayout : public ::testing::TestWithParam<LayoutCase> {
 protected:
  TestTree tree_;
};

// Each entry is reached from another one, so hiding and showing both count.
TEST_P(PageLayout, ShowsTheEntrysControlsAndHelpText) {
  const LayoutCase& c = GetParam();
  std::unique_ptr<ui::OperationPage> page;
  if (c.tickPage) page = std::make_unique<ui::PgTick>();
  else page = std::make_unique<ui::PgDayLine>();
  auto* list = Child<QComboBox>(page.get(), ui::ControlName(c.tickPage ? 4001 : 3000));
  list->setCurrentIndex((c.entry + 3) % list->count());
  list->setCurrentIndex(c.entry);
  for (int id : c.tickPage ? kTickOptional : kDailyOptional)
    EXPECT_EQ(Shown(page.get(), id), c.shown.count(id) == 1) << "control " << id;
  for (int id : c.tickPage ? std::set<int>{4001, 4006, 4007, 4009} : std::set<int>{3000, 3030, 3031, 3033})
    EXPECT_TRUE(Shown(page.get(), id)) << "control " << id;
  const QString help = c.tickPage ? ui::PgTick::HelpText(c.entry) : ui::PgDayLine::HelpText(c.entry);
  EXPECT_EQ(StatusOf(page.get(), c.tickPage ? 4009 : 3033), help.toStdString());
}

INSTANTIATE_TEST_SUITE_P(Entries, PageLayout, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PageLayoutStatus, ReselectingTheSameEntryKeepsTheStatusLine) {
  TestTree tree;
  ui::PgDayLine page;
  auto* list = Child<QComboBox>(&page, ui::ControlName(3000));
  list->setCurrentIndex(4);
  ASSERT_EQ(StatusOf(&page, 3033), "对转档后的日线文件检错。");
  Child<ui::StatusLine>(&page, ui::ControlName(3033))->setText(QStringLiteral("kept"));
  page.OnSelectionChanged(4);
  EXPECT_EQ(StatusOf(&page, 3033), "kept");
  list->setCurrentIndex(0);
  EXPECT_EQ(StatusOf(&page, 3033), "");
}

TEST(PageLayoutStatus, SwitchingFromCheckToModifyShowsTheTickPatternHelpAgain) {
  TestTree tree;
  ui::PgTick page;
  auto* list = Child<QComboBox>(&page, ui::ControlName(4001));
  list->setCurrentIndex(5);
  EXPECT_FALSE(Shown(&page, 4003));
  list->setCurrentIndex(6);
  EXPECT_TRUE(Shown(&page, 4003) && Shown(&page, 4011) && Shown(&page, 4024));
  EXPECT_EQ(StatusOf(&page, 4009), ui::PgTick::HelpText(6).toStdString());
}

// The first values: today's date in both pickers, factors of 1, no counts,
// the first entry, Execute shown and Cancel hidden at one spot.
TEST(PageLayoutStart, FieldsStartAsThePagesSay) {
  TestTree tree;
  ui::PgDayLine daily;
  ui::PgTick tick;
  ui::PgDownLoad download;
  const QDate today = QDate::currentDate();
  for (auto [page, first, last, execute, cancel] :
       {std::tuple<QWidget*, int, int, int, int>{&daily, 3002, 3004, 3031, 3032}, {&tick, 4003, 4005, 4007, 4008},
        {&download, 2003, 2004, 2007, 2008}}) {
    EXPECT_EQ(Child<QDateTimeEdit>(page, ui::ControlName(first))->date(), today);
    EXPECT_EQ(Child<QDateTimeEdit>(page, ui::ControlName(last))->date(), today);
    EXPECT_TRUE(Shown(page, execute));
    EXPECT_FALSE(Shown(page, cancel));
  }
  for (int id = 3012; id <= 3017; ++id) EXPECT_EQ(Child<QLineEdit>(&daily, ui::ControlName(id))->text(), "1");
  for (int id : {3018, 3019}) EXPECT_EQ(Child<QLineEdit>(&daily, ui::ControlName(id))->text(), "0");
  for (int id = 4014; id <= 4024; id += 2) EXPECT_EQ(Child<QLineEdit>(&tick, ui::ControlName(id))->text(), "1");
  EXPECT_EQ(daily.CurrentEntry(), 0);
  EXPECT_EQ(tick.CurrentEntry(), 0);
  EXPECT_TRUE(Child<QCheckBox>(&download, ui::ControlName(2002))->isChecked());
  EXPECT_EQ(Child<QComboBox>(&download, ui::ControlName(2000))->count(), 2);
}

TEST(PageLayoutStart, DownloadKindFollowsTheList) {
  TestTree tree;
  ui::PgDownLoad page;
  auto* list = Child<QComboBox>(&page, ui::ControlName(2000));
  EXPECT_EQ(page.Kind(), ui::PgDownLoad::kDailyKind);
  list->setCurrentIndex(1);
  EXPECT_EQ(page.Kind(), ui::PgDownLoad::kTickKind);
  list->setCurrentIndex(0);
  EXPECT_EQ(page.Kind(), ui::PgDownLoad::kDailyKind);
}

}  // namespace
}  // namespace marbloom::test
