#pragma once
// Helpers of the window's tests: message boxes recorded instead of shown,
// controls found by name, pickers set to whole dates, waiting for a page to
// become idle, and a gate that holds a worker at a chosen status line.
#include <gtest/gtest.h>

#include <QString>
#include <QWidget>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/message_box.h"
#include "ui/operation_page.h"

namespace marbloom::test {

struct RecordedBox {
  QString text, caption;
  ui::BoxIcon icon;
};

// Every message box of its lifetime (the core's too) lands in `boxes`;
// `onBox` runs where the modal box would show; a question gets `answer`.
class BoxRecorder {
 public:
  BoxRecorder();
  ~BoxRecorder();
  std::vector<RecordedBox> boxes;
  std::function<void()> onBox;
  bool answer = false;
};

template <class T>
T* Child(const QWidget* root, const QString& name) {
  T* child = root->findChild<T*>(name);
  EXPECT_NE(child, nullptr) << name.toStdString();
  return child;
}

QWidget* Control(const QWidget* root, int id);
// The control's own visibility flag (the page itself need not be shown).
bool Shown(const QWidget* root, int id);

enum class Page { kDaily, kTick, kDownload };
std::unique_ptr<ui::OperationPage> MakePage(Page page);
void Select(ui::OperationPage* page, int entry);  // an entry of the page's list

// Both pickers of a page at noon of the given dates (YYYYMMDD).
void SetDates(ui::OperationPage* page, int first, int last);

// Presses Execute and processes events until the page is idle again.
bool RunPage(ui::OperationPage* page);
bool WaitIdle(ui::OperationPage* page);

std::string StatusOf(const QWidget* page, int statusId);
int FilesIn(const std::string& dir);

// Holds the worker at its first status line containing `needle`, until
// Pass (which holds it again at the next such line) or Release (or the
// gate's end).
class WorkerGate {
 public:
  explicit WorkerGate(std::string needle);
  ~WorkerGate();
  // Window thread: processes events until the worker waits at the gate.
  bool WaitReached();
  void Pass();
  void Release();

 private:
  std::string needle_;
  std::thread::id windowThread_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::condition_variable cv_;
  bool reached_ = false, released_ = false;
  int held_ = 0, passed_ = 0;
};

}  // namespace marbloom::test
