// The single-instance rule: the title test, and under Xvfb a second copy
// that ends at once and restores or raises the first.
#include "ui/single_instance.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>
#include <filesystem>

#include "support/temp_dir.h"
#include "ui/titles.h"

#ifdef MARBLOOM_TEST_HAVE_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

namespace marbloom::test {
namespace {

struct TitleCase {
  const char* title;
  bool runningCopy;
};

class RunningCopyTitle : public ::testing::TestWithParam<TitleCase> {};

TEST_P(RunningCopyTitle, PrefixWithoutThePropertiesMark) {
  EXPECT_EQ(ui::IsRunningCopyTitle(GetParam().title), GetParam().runningCopy) << GetParam().title;
}

INSTANTIATE_TEST_SUITE_P(
    Titles, RunningCopyTitle,
    ::testing::Values(TitleCase{"Trelvo深沪行情数据处理工具V4.00", true}, TitleCase{"Trelvo深沪行情数据处理工具", true},
                      TitleCase{"Trelvo深沪行情数据处理工具V9.99 beta", true},
                      TitleCase{"Trelvo深沪行情数据处理工具V4.00 属性", false},
                      TitleCase{"Trelvo深沪行情数据处理工具属性", false}, TitleCase{"Trelvo深沪行情数据处理", false},
                      TitleCase{"trelvo深沪行情数据处理工具V4.00", false}, TitleCase{"", false},
                      TitleCase{"属性 Trelvo深沪行情数据处理工具", false}));

TEST(RunningCopyTitleLength, OnlyThe229BytesReadCountForTheMark) {
  const std::string title = std::string(ui::kInstancePrefix) + std::string(229 - 26, 'x');
  EXPECT_TRUE(ui::IsRunningCopyTitle(title));
  EXPECT_FALSE(ui::IsRunningCopyTitle(title.substr(0, title.size() - 4) + "属性"));
  EXPECT_TRUE(ui::IsRunningCopyTitle(title + "属性"));
}

#ifdef MARBLOOM_TEST_HAVE_X11

std::string Which(const char* program) {
  const CommandResult r = RunCommand(std::string("command -v ") + program);
  return r.exitCode == 0 ? r.out.substr(0, r.out.find('\n')) : std::string();
}

constexpr int kWaitMs = 60000;  // deadlines against hangs only

// An Xvfb server of this test's own, the program started on it, and a few
// windows made here through Xlib.
class XvfbDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string xvfb = Which("Xvfb");
    if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed";
    server_.start(QString::fromStdString(xvfb), {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
    ASSERT_TRUE(server_.waitForStarted(kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([this] { return server_.canReadLine() || server_.state() != QProcess::Running; },
                                kWaitMs));
    display_ = ":" + server_.readLine().trimmed().toStdString();
    ASSERT_NE(display_, ":");
    x_ = XOpenDisplay(display_.c_str());
    ASSERT_NE(x_, nullptr);
    std::filesystem::create_directories(temp_.path() + "work");
  }

  void TearDown() override {
    for (QProcess* p : programs_) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(kWaitMs);
      }
      delete p;
    }
    if (x_ != nullptr) XCloseDisplay(x_);
    if (server_.state() != QProcess::NotRunning) {
      server_.terminate();
      server_.waitForFinished(kWaitMs);
    }
  }

  QProcess* StartProgram() {
    auto* p = new QProcess;
    programs_.push_back(p);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(display_));
    env.insert("QT_QPA_PLATFORM", "xcb");
    p->setProcessEnvironment(env);
    p->setWorkingDirectory(QString::fromStdString(temp_.path() + "work"));
    p->start(QString::fromStdString(BuiltProgram("src/ui/marbloom")), {});
    EXPECT_TRUE(p->waitForStarted(kWaitMs));
    return p;
  }

  std::vector<ui::DesktopWindow> SheetWindows() {
    std::vector<ui::DesktopWindow> sheets;
    for (const ui::DesktopWindow& w : ui::ListDesktopWindows(display_.c_str()))
      if (w.title == ui::kSheetTitle) sheets.push_back(w);
    return sheets;
  }

  bool WaitForShownSheet() {
    return QTest::qWaitFor(
        [this] {
          auto sheets = SheetWindows();
          return sheets.size() == 1 && !sheets[0].minimised;
        },
        kWaitMs);
  }

  Window MakeWindow(const std::string& title) {
    const Window w = XCreateSimpleWindow(x_, DefaultRootWindow(x_), 0, 0, 400, 300, 0, 0, 0);
    XChangeProperty(x_, w, XInternAtom(x_, "_NET_WM_NAME", False), XInternAtom(x_, "UTF8_STRING", False), 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
    XMapRaised(x_, w);
    XSync(x_, False);
    return w;
  }

  // Position in the root's stacking order (higher is on top).
  int StackingIndex(unsigned long window) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    int index = -1;
    if (XQueryTree(x_, DefaultRootWindow(x_), &root, &parent, &children, &count)) {
      for (unsigned int i = 0; i < count; ++i)
        if (children[i] == window) index = static_cast<int>(i);
      XFree(children);
    }
    return index;
  }

  QProcess server_;
  std::string display_;
  Display* x_ = nullptr;
  TempDir temp_;
  std::vector<QProcess*> programs_;
};

TEST_F(XvfbDesktop, ASecondCopyEndsAtOnceAndRaisesOrRestoresTheFirst) {
  QProcess* first = StartProgram();
  ASSERT_TRUE(WaitForShownSheet());
  const unsigned long sheet = SheetWindows()[0].id;

  const Window cover = MakeWindow("cover");
  ASSERT_GT(StackingIndex(cover), StackingIndex(sheet));
  QProcess* second = StartProgram();
  ASSERT_TRUE(second->waitForFinished(kWaitMs));
  EXPECT_EQ(second->exitCode(), 0);
  XSync(x_, False);
  EXPECT_GT(StackingIndex(sheet), StackingIndex(cover));
  EXPECT_EQ(SheetWindows().size(), 1u);

  // Without a window manager a minimised window is an unmapped one.
  XUnmapWindow(x_, sheet);
  XSync(x_, False);
  ASSERT_TRUE(QTest::qWaitFor([this] { return !SheetWindows().empty() && SheetWindows()[0].minimised; }, kWaitMs));
  QProcess* third = StartProgram();
  ASSERT_TRUE(third->waitForFinished(kWaitMs));
  EXPECT_TRUE(WaitForShownSheet());
  EXPECT_EQ(first->state(), QProcess::Running);
}

struct ForeignCase {
  const char* name;
  const char* title;
  bool endsAtOnce;
};

class XvfbForeignWindow : public XvfbDesktop, public ::testing::WithParamInterface<ForeignCase> {};

TEST_P(XvfbForeignWindow, OnlyPrefixTitlesWithoutThePropertiesMarkCount) {
  MakeWindow(GetParam().title);
  QProcess* program = StartProgram();
  if (GetParam().endsAtOnce) {
    ASSERT_TRUE(program->waitForFinished(kWaitMs));
    EXPECT_EQ(program->exitCode(), 0);
    EXPECT_TRUE(SheetWindows().empty());
  } else {
    EXPECT_TRUE(WaitForShownSheet());
    EXPECT_EQ(program->state(), QProcess::Running);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Titles, XvfbForeignWindow,
    ::testing::Values(ForeignCase{"OtherVersion", "Trelvo深沪行情数据处理工具V9.99", true},
                      ForeignCase{"PropertiesBox", "Trelvo深沪行情数据处理工具V4.00 属性", false},
                      ForeignCase{"ShorterTitle", "Trelvo深沪行情", false}),
    [](const auto& info) { return std::string(info.param.name); });

#endif

}  // namespace
}  // namespace marbloom::test
