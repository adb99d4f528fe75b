// The main window: title, tabs in order, OK and Cancel, the tab lock, and
// Esc/Enter swallowed on every page.
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "base/message_sink.h"
#include "support/temp_dir.h"
#include "ui/main_dlg.h"
#include "ui/window_program.h"
#include "ui_test_support.h"

namespace marbloom::test {
namespace {

class MainDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sheet_ = ui::CreateMainDlg();
    sheet_->show();
  }
  TestTree tree_;
  std::unique_ptr<ui::MainDlg> sheet_;
};

TEST_F(MainDlgTest, TitleAndTabsInOrder) {
  EXPECT_EQ(sheet_->windowTitle(), QStringLiteral("Trelvo深沪行情数据处理工具V4.00"));
  const QStringList captions = {"设置页面", "数据下载", "日线数据处理", "分时数据处理"};
  const QStringList pages = {"PgConfig", "PgDownLoad", "PgDayLine", "PgTick"};
  ASSERT_EQ(sheet_->Sheet()->count(), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(sheet_->Sheet()->tabText(i), captions[i]);
    EXPECT_EQ(sheet_->Sheet()->widget(i)->objectName(), pages[i]);
  }
}

// Every page, every key: the window stays open and no button is pressed.
TEST_F(MainDlgTest, EscAndEnterDoNothingOnAnyPage) {
  QSignalSpy finished(sheet_.get(), &QDialog::finished);
  for (int tab = 0; tab < 4; ++tab) {
    sheet_->Sheet()->setCurrentIndex(tab);
    QWidget* page = sheet_->Sheet()->widget(tab);
    QList<QWidget*> targets = {page, Child<QPushButton>(sheet_.get(), "ctl1")};
    if (auto* edit = page->findChild<QLineEdit*>()) targets.push_back(edit);
    for (QWidget* target : targets)
      for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        target->setFocus();
        QTest::keyClick(target, key);
        EXPECT_EQ(finished.count(), 0) << "tab " << tab << " key " << key << " on "
                                       << target->objectName().toStdString();
      }
  }
  EXPECT_TRUE(sheet_->isVisible());
}

struct EndCase {
  const char* button;
  int result;
};

class MainDlgEnd : public MainDlgTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(MainDlgEnd, OkAndCancelBothCloseTheWindow) {
  QSignalSpy finished(sheet_.get(), &QDialog::finished);
  Child<QPushButton>(sheet_.get(), GetParam().button)->click();
  ASSERT_EQ(finished.count(), 1);
  EXPECT_EQ(finished.at(0).at(0).toInt(), GetParam().result);
  EXPECT_FALSE(sheet_->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Buttons, MainDlgEnd,
                         ::testing::Values(EndCase{"ctl1", QDialog::Accepted}, EndCase{"ctl2", QDialog::Rejected}));

TEST_F(MainDlgTest, LockedTabsStayOnTheLockedPage) {
  sheet_->Sheet()->setCurrentIndex(2);
  sheet_->LockTabs();
  EXPECT_EQ(sheet_->LockedPage(), 2);
  sheet_->Sheet()->setCurrentIndex(0);
  EXPECT_EQ(sheet_->GetActiveIndex(), 2);
  QTabBar* bar = sheet_->Sheet()->tabBar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(3).center());
  EXPECT_EQ(sheet_->GetActiveIndex(), 2);
  QSignalSpy finished(sheet_.get(), &QDialog::finished);
  EXPECT_FALSE(Child<QPushButton>(sheet_.get(), "ctl1")->isEnabled());
  sheet_->close();
  EXPECT_EQ(finished.count(), 0);
  EXPECT_TRUE(sheet_->isVisible());
  sheet_->UnlockTabs();
  EXPECT_TRUE(Child<QPushButton>(sheet_.get(), "ctl1")->isEnabled());
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(3).center());
  EXPECT_EQ(sheet_->GetActiveIndex(), 3);
}

TEST(MainDlgMessages, CoreMessagesBecomeWarningBoxes) {
  BoxRecorder recorder;
  ShowMessage("工作目录名太长,无法打开配置文件!", "严重错误");
  ShowMessage("创建down目录失败或者权限不足!");
  ASSERT_EQ(recorder.boxes.size(), 2u);
  EXPECT_EQ(recorder.boxes[0].caption, QStringLiteral("严重错误"));
  EXPECT_EQ(recorder.boxes[0].icon, ui::BoxIcon::kWarning);
  EXPECT_EQ(recorder.boxes[1].caption, QStringLiteral("Trelvo深沪行情数据处理工具V4.00"));
}

TEST(MainDlgFont, TheDialogFontHasChineseGlyphs) {
  const QFontInfo info(QApplication::font());
  EXPECT_EQ(info.pointSize(), 9);
  EXPECT_TRUE(QFontMetrics(QApplication::font()).inFont(QChar(0x6570)));  // 数
}

}  // namespace
}  // namespace marbloom::test
