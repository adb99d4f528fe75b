// Start-up and the main window: OK and Cancel, the tab lock, Esc/Enter
// swallowed on every page, the dialog font, and the single-instance rule (the
// title test, and under Xvfb a second copy that ends at once and restores or
// raises the first).
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <optional>

#include "support/temp_dir.h"
#include "ui/main_dlg.h"
#include "ui/single_instance.h"
#include "ui/titles.h"
#include "ui/window_program.h"
#include "ui_test_support.h"

#ifdef MARBLOOM_TEST_HAVE_X11
#include <X11/Xlib.h>
#endif

namespace marbloom::test {
namespace {

// Every page, every key: the window stays open and no button is pressed.
TEST(MainDlgKeys, EscAndEnterDoNothingOnAnyPage) {
  TestTree tree;
  std::unique_ptr<ui::MainDlg> sheet = ui::CreateMainDlg();
  sheet->show();
  QSignalSpy finished(sheet.get(), &QDialog::finished);
  for (int tab = 0; tab < sheet->Sheet()->count(); ++tab) {
    sheet->Sheet()->setCurrentIndex(tab);
    QWidget* page = sheet->Sheet()->widget(tab);
    QList<QWidget*> targets = {page, Child<QPushButton>(sheet.get(), "ctl1")};
    if (auto* edit = page->findChild<QLineEdit*>()) targets.push_back(edit);
    for (QWidget* target : targets)
      for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        target->setFocus();
        QTest::keyClick(target, key);
        EXPECT_EQ(finished.count(), 0) << "tab " << tab << " key " << key << " on "
                                       << target->objectName().toStdString();
      }
  }
  EXPECT_TRUE(sheet->isVisible());
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

// Without "宋体" the fallback font must still draw Chinese text.
TEST(MainDlgFont, TheDialogFontHasChineseGlyphs) {
  EXPECT_TRUE(QFontMetrics(QApplication::font()).inFont(QChar(0x6570)));  // 数
}

TEST(RunningCopyTitle, PrefixWithoutThePropertiesMark) {
  const std::string prefix = ui::kInstancePrefix;
  const std::string longest = prefix + std::string(229 - 26, 'x');  // 229 GBK bytes: all that is read
  const std::pair<std::string, bool> cases[] = {
      {prefix + "V4.00", true},
      {prefix + "V9.99 beta", true},
      {prefix + "V4.00 属性", false},
      {prefix.substr(0, prefix.size() - 6), false},
      {std::string("属性 ").append(prefix), false},
      {longest + "属性", true},  // the mark lies past what is read
  };
  for (const auto& [title, runningCopy] : cases) EXPECT_EQ(ui::IsRunningCopyTitle(title), runningCopy) << title;
}

#ifdef MARBLOOM_TEST_HAVE_X11

// On an Xvfb server of the test's own (no window manager): the program, and
// windows of other programs made through Xlib.
TEST(XvfbDesktop, ASecondCopyEndsAtOnceAndRaisesOrRestoresTheFirst) {
  constexpr int kWaitMs = 60000;  // deadlines against hangs only
  const CommandResult which = RunCommand("command -v Xvfb");
  if (which.exitCode != 0) GTEST_SKIP() << "Xvfb is not installed";
  QProcess server;  // the destructors of the processes end them
  server.start(QString::fromStdString(which.out).trimmed(), {"-displayfd", "1", "-screen", "0", "800x600x24"});
  ASSERT_TRUE(server.waitForStarted(kWaitMs) && server.waitForReadyRead(kWaitMs));
  const std::string display = ":" + server.readLine().trimmed().toStdString();
  std::unique_ptr<Display, int (*)(Display*)> x(XOpenDisplay(display.c_str()), XCloseDisplay);
  ASSERT_NE(x, nullptr) << display;
  TempDir work;
  std::vector<std::unique_ptr<QProcess>> programs;
  auto start = [&](const std::string& dir) {
    programs.push_back(std::make_unique<QProcess>());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(display));
    env.insert("QT_QPA_PLATFORM", "xcb");
    programs.back()->setProcessEnvironment(env);
    programs.back()->setWorkingDirectory(QString::fromStdString(work.path()));
    programs.back()->start(QString::fromStdString(BuiltProgram("src/ui/marbloom")),
                           {"-C", QString::fromStdString(dir)});
    return programs.back().get();
  };
  auto endsAtOnce = [&](QProcess* p) { return p->waitForFinished(kWaitMs) && p->exitCode() == 0; };
  // The windows bottom to top, as the root's children are stacked.
  auto stackingIndex = [&](unsigned long id) {
    const std::vector<ui::DesktopWindow> windows = ui::ListDesktopWindows(display.c_str());
    for (std::size_t i = 0; i < windows.size(); ++i)
      if (windows[i].id == id) return static_cast<int>(i);
    return -1;
  };
  auto sheet = [&]() -> std::optional<ui::DesktopWindow> {
    for (const ui::DesktopWindow& w : ui::ListDesktopWindows(display.c_str()))
      if (w.title == ui::kSheetTitle) return w;
    return std::nullopt;
  };
  auto shown = [&] { return QTest::qWaitFor([&] { return sheet() && !sheet()->minimised; }, kWaitMs); };
  auto makeWindow = [&](const std::string& title) {
    const Window w = XCreateSimpleWindow(x.get(), DefaultRootWindow(x.get()), 0, 0, 400, 300, 0, 0, 0);
    XChangeProperty(x.get(), w, XInternAtom(x.get(), "_NET_WM_NAME", False), XInternAtom(x.get(), "UTF8_STRING", False),
                    8, PropModeReplace, reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
    XMapRaised(x.get(), w);
    XSync(x.get(), False);
    return w;
  };

  // A properties box is not a running copy.
  makeWindow("Trelvo深沪行情数据处理工具V4.00 属性");
  QProcess* first = start(work.path());
  ASSERT_TRUE(shown());
  const unsigned long id = sheet()->id;

  const Window cover = makeWindow("cover");
  ASSERT_GT(stackingIndex(cover), stackingIndex(id));
  EXPECT_TRUE(endsAtOnce(start(work.path())));
  XSync(x.get(), False);
  EXPECT_GT(stackingIndex(id), stackingIndex(cover));

  // Without a window manager a minimised window is an unmapped one.
  XUnmapWindow(x.get(), id);
  XSync(x.get(), False);
  ASSERT_TRUE(QTest::qWaitFor([&] { return sheet() && sheet()->minimised; }, kWaitMs));
  EXPECT_TRUE(endsAtOnce(start(work.path())));
  EXPECT_TRUE(shown());
  EXPECT_EQ(first->state(), QProcess::Running);

  // Another work directory: the first is raised all the same, and a box of
  // the second says that it runs on its own.
  TempDir other;
  QProcess* second = start(other.path());
  auto box = [&] {
    for (const ui::DesktopWindow& w : ui::ListDesktopWindows(display.c_str()))
      if (w.title == "工作目录不同") return true;
    return false;
  };
  EXPECT_TRUE(QTest::qWaitFor(box, kWaitMs));
  EXPECT_EQ(second->state(), QProcess::Running);
}

#endif

}  // namespace
}  // namespace marbloom::test
