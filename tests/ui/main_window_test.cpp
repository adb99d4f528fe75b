// Start-up and the main window: OK and Cancel, the tab lock, Esc/Enter
// swallowed on every page, the dialog font, and the single-instance rule (the
// title test, and under Xvfb a second copy that ends at once and restores or
// raises the first).
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <filesystem>
#include <optional>

#include "support/temp_dir.h"
#include "ui/main_dlg.h"
#include "ui/single_instance.h"
#include "ui/titles.h"
#include "ui/window_program.h"
#include "ui_test_support.h"

#ifdef MARBLOOM_TEST_HAVE_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

namespace marbloom::test {
namespace {

class MainDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sheet_ = ui::CreateMainDlg();
    sheet_->show();
  }
  QPushButton* Button(const char* name) { return Child<QPushButton>(sheet_.get(), name); }

  TestTree tree_;
  std::unique_ptr<ui::MainDlg> sheet_;
};

// Every page, every key: the window stays open and no button is pressed.
TEST_F(MainDlgTest, EscAndEnterDoNothingOnAnyPage) {
  QSignalSpy finished(sheet_.get(), &QDialog::finished);
  for (int tab = 0; tab < sheet_->Sheet()->count(); ++tab) {
    sheet_->Sheet()->setCurrentIndex(tab);
    QWidget* page = sheet_->Sheet()->widget(tab);
    QList<QWidget*> targets = {page, Button("ctl1")};
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

TEST(MainDlgEnd, OkAndCancelBothCloseTheWindow) {
  TestTree tree;
  for (auto [button, result] : {std::pair{"ctl1", QDialog::Accepted}, std::pair{"ctl2", QDialog::Rejected}}) {
    std::unique_ptr<ui::MainDlg> sheet = ui::CreateMainDlg();
    sheet->show();
    QSignalSpy finished(sheet.get(), &QDialog::finished);
    Child<QPushButton>(sheet.get(), button)->click();
    ASSERT_EQ(finished.count(), 1) << button;
    EXPECT_EQ(finished.at(0).at(0).toInt(), result);
    EXPECT_FALSE(sheet->isVisible());
  }
}

// Locked: neither a click on a tab nor a programmatic switch leaves the page,
// and the window does not close.
TEST_F(MainDlgTest, LockedTabsStayOnTheLockedPage) {
  sheet_->Sheet()->setCurrentIndex(2);
  sheet_->LockTabs();
  sheet_->Sheet()->setCurrentIndex(0);
  EXPECT_EQ(sheet_->GetActiveIndex(), 2);
  QTabBar* bar = sheet_->Sheet()->tabBar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(3).center());
  EXPECT_EQ(sheet_->GetActiveIndex(), 2);
  QSignalSpy finished(sheet_.get(), &QDialog::finished);
  EXPECT_FALSE(Button("ctl1")->isEnabled());
  sheet_->close();
  EXPECT_EQ(finished.count(), 0);
  EXPECT_TRUE(sheet_->isVisible());
  sheet_->UnlockTabs();
  EXPECT_TRUE(Button("ctl1")->isEnabled());
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(3).center());
  EXPECT_EQ(sheet_->GetActiveIndex(), 3);
}

// Without "宋体" the fallback font must still draw Chinese text.
TEST(MainDlgFont, TheDialogFontHasChineseGlyphs) {
  EXPECT_EQ(QFontInfo(QApplication::font()).pointSize(), 9);
  EXPECT_TRUE(QFontMetrics(QApplication::font()).inFont(QChar(0x6570)));  // 数
}

TEST(RunningCopyTitle, PrefixWithoutThePropertiesMark) {
  const std::string prefix = ui::kInstancePrefix;
  const std::string longest = prefix + std::string(229 - 26, 'x');  // 229 GBK bytes: all that is read
  const std::pair<std::string, bool> cases[] = {
      {prefix + "V4.00", true},           {prefix, true},
      {prefix + "V9.99 beta", true},      {prefix + "V4.00 属性", false},
      {prefix + "属性", false},           {prefix.substr(0, prefix.size() - 6), false},
      {std::string("t").append(prefix, 1), false},    {"", false},
      {std::string("属性 ").append(prefix), false},          {longest, true},
      {longest.substr(0, longest.size() - 4) + "属性", false}, {longest + "属性", true},
  };
  for (const auto& [title, runningCopy] : cases) EXPECT_EQ(ui::IsRunningCopyTitle(title), runningCopy) << title;
}

#ifdef MARBLOOM_TEST_HAVE_X11

constexpr int kWaitMs = 60000;  // deadlines against hangs only

// An Xvfb server of this test's own (no window manager), the program started
// on it, and windows of other programs made here through Xlib.
class XvfbDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    const CommandResult which = RunCommand("command -v Xvfb");
    if (which.exitCode != 0) GTEST_SKIP() << "Xvfb is not installed";
    server_.start(QString::fromStdString(which.out).trimmed(),
                  {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
    ASSERT_TRUE(server_.waitForStarted(kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([this] { return server_.canReadLine() || server_.state() != QProcess::Running; },
                                kWaitMs));
    display_ = ":" + server_.readLine().trimmed().toStdString();
    x_ = XOpenDisplay(display_.c_str());
    ASSERT_NE(x_, nullptr) << display_;
    std::filesystem::create_directories(temp_.path() + "work");
  }

  void TearDown() override {
    for (auto& p : programs_) {
      p->kill();
      p->waitForFinished(kWaitMs);
    }
    if (x_ != nullptr) XCloseDisplay(x_);
    server_.terminate();
    server_.waitForFinished(kWaitMs);
  }

  QProcess* StartProgram() {
    programs_.push_back(std::make_unique<QProcess>());
    QProcess* p = programs_.back().get();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(display_));
    env.insert("QT_QPA_PLATFORM", "xcb");
    p->setProcessEnvironment(env);
    p->setWorkingDirectory(QString::fromStdString(temp_.path() + "work"));
    p->start(QString::fromStdString(BuiltProgram("src/ui/marbloom")), {});
    EXPECT_TRUE(p->waitForStarted(kWaitMs));
    return p;
  }

  // The desktop's windows bottom to top, as the root's children are stacked.
  std::vector<ui::DesktopWindow> Windows() { return ui::ListDesktopWindows(display_.c_str()); }
  int StackingIndex(unsigned long id) {
    const std::vector<ui::DesktopWindow> windows = Windows();
    for (std::size_t i = 0; i < windows.size(); ++i)
      if (windows[i].id == id) return static_cast<int>(i);
    return -1;
  }
  std::optional<ui::DesktopWindow> Sheet() {
    for (const ui::DesktopWindow& w : Windows())
      if (w.title == ui::kSheetTitle) return w;
    return std::nullopt;
  }
  bool WaitForShownSheet() {
    return QTest::qWaitFor([this] { return Sheet() && !Sheet()->minimised; }, kWaitMs);
  }
  bool EndsAtOnce(QProcess* p) { return p->waitForFinished(kWaitMs) && p->exitCode() == 0; }

  Window MakeWindow(const std::string& title) {
    const Window w = XCreateSimpleWindow(x_, DefaultRootWindow(x_), 0, 0, 400, 300, 0, 0, 0);
    XChangeProperty(x_, w, XInternAtom(x_, "_NET_WM_NAME", False), XInternAtom(x_, "UTF8_STRING", False), 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
    XMapRaised(x_, w);
    XSync(x_, False);
    return w;
  }

  QProcess server_;
  std::string display_;
  Display* x_ = nullptr;
  TempDir temp_;
  std::vector<std::unique_ptr<QProcess>> programs_;
};

TEST_F(XvfbDesktop, ASecondCopyEndsAtOnceAndRaisesOrRestoresTheFirst) {
  // A properties box of the program is no running copy.
  MakeWindow("Trelvo深沪行情数据处理工具V4.00 属性");
  QProcess* first = StartProgram();
  ASSERT_TRUE(WaitForShownSheet());
  const unsigned long sheet = Sheet()->id;

  const Window cover = MakeWindow("cover");
  ASSERT_GT(StackingIndex(cover), StackingIndex(sheet));
  EXPECT_TRUE(EndsAtOnce(StartProgram()));
  XSync(x_, False);
  EXPECT_GT(StackingIndex(sheet), StackingIndex(cover));

  // Without a window manager a minimised window is an unmapped one.
  XUnmapWindow(x_, sheet);
  XSync(x_, False);
  ASSERT_TRUE(QTest::qWaitFor([this] { return Sheet() && Sheet()->minimised; }, kWaitMs));
  EXPECT_TRUE(EndsAtOnce(StartProgram()));
  EXPECT_TRUE(WaitForShownSheet());
  EXPECT_EQ(first->state(), QProcess::Running);
}

// Another version's window counts as a running copy too.
TEST_F(XvfbDesktop, AnotherVersionsWindowCounts) {
  MakeWindow("Trelvo深沪行情数据处理工具V9.99");
  EXPECT_TRUE(EndsAtOnce(StartProgram()));
  EXPECT_FALSE(Sheet());
}

#endif

}  // namespace
}  // namespace marbloom::test
