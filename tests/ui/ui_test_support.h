#pragma once
// Helpers of the window's tests: message boxes recorded instead of shown,
// controls found by name, pickers set to whole dates, waiting for a page to
// become idle, and a gate that holds a worker at a chosen status line.
#include <gtest/gtest.h>

#include <QDate>
#include <QString>
#include <QWidget>
#include <condition_variable>
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

// Every message box of its lifetime lands in `boxes`; `onBox` runs as each
// box would show (the window thread, like a modal box).
class BoxRecorder {
 public:
  BoxRecorder();
  ~BoxRecorder();
  std::vector<RecordedBox> boxes;
  std::function<void()> onBox;
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

// Both pickers of a page at noon of the given dates.
void SetDates(QWidget* page, int firstId, int lastId, QDate first, QDate last);

// Presses Execute and processes events until the page is idle again.
bool RunPage(ui::OperationPage* page);
bool WaitIdle(ui::OperationPage* page);

// The status line of a page as shown.
std::string StatusOf(const QWidget* page, int statusId);

// Another process holding the data tree's writer lock (a forked child) for
// the object's lifetime.
class OtherWriter {
 public:
  explicit OtherWriter(const std::string& lockFile);
  ~OtherWriter();
  bool holding() const { return holding_; }

 private:
  int pid_ = -1;
  int release_ = -1;  // closing it lets the child end
  bool holding_ = false;
};

// Holds the worker at its first status line containing `needle`, until
// Release (or the gate's end).
class WorkerGate {
 public:
  explicit WorkerGate(std::string needle);
  ~WorkerGate();
  // Window thread: processes events until the worker waits at the gate.
  bool WaitReached();
  void Release();

 private:
  void OnStatus(const std::string& line);

  std::string needle_;
  std::thread::id windowThread_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::condition_variable cv_;
  bool armed_ = true, reached_ = false, released_ = false;
};

}  // namespace marbloom::test
