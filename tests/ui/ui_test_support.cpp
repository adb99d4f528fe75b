#include "ui_test_support.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDateTimeEdit>
#include <QPushButton>
#include <QTest>
#include <thread>

#include "base/message_sink.h"
#include "common/shared_state.h"
#include "ui/page_controls.h"
#include "ui/status_line.h"

namespace marbloom::test {
namespace {

constexpr int kWaitMs = 120000;  // a deadline for hangs only

}  // namespace

BoxRecorder::BoxRecorder() {
  ui::RouteCoreMessagesToBoxes();
  ui::SetMessageBoxFunction([this](QWidget*, const QString& text, const QString& caption, ui::BoxIcon icon) {
    boxes.push_back({text, caption, icon});
    if (onBox) onBox();
  });
}

BoxRecorder::~BoxRecorder() {
  ui::SetMessageBoxFunction(nullptr);
  SetMessageSink(nullptr);
}

QWidget* Control(const QWidget* root, int id) { return Child<QWidget>(root, ui::ControlName(id)); }

bool Shown(const QWidget* root, int id) {
  QWidget* control = Control(root, id);
  return control != nullptr && !control->isHidden();
}

void SetDates(QWidget* page, int firstId, int lastId, QDate first, QDate last) {
  Child<QDateTimeEdit>(page, ui::ControlName(firstId))->setDateTime(QDateTime(first, QTime(12, 0)));
  Child<QDateTimeEdit>(page, ui::ControlName(lastId))->setDateTime(QDateTime(last, QTime(12, 0)));
}

bool WaitIdle(ui::OperationPage* page) {
  return QTest::qWaitFor([page] { return !page->IsRunning(); }, kWaitMs);
}

bool RunPage(ui::OperationPage* page) {
  page->Execute();
  return WaitIdle(page);
}

std::string StatusOf(const QWidget* page, int statusId) {
  auto* status = Child<ui::StatusLine>(page, ui::ControlName(statusId));
  return status ? status->text().toStdString() : std::string();
}

OtherWriter::OtherWriter(const std::string& lockFile) {
  int ready[2], release[2];
  if (::pipe(ready) != 0) return;
  if (::pipe(release) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    // The child: only system calls until it ends.
    ::close(ready[0]);
    ::close(release[1]);
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT, 0644);
    const char held = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 1 : 0;
    if (::write(ready[1], &held, 1) != 1) ::_exit(1);
    char byte;
    while (::read(release[0], &byte, 1) > 0) {
    }
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  release_ = release[1];
  char held = 0;
  holding_ = pid_ > 0 && ::read(ready[0], &held, 1) == 1 && held == 1;
  ::close(ready[0]);
}

OtherWriter::~OtherWriter() {
  if (release_ >= 0) ::close(release_);
  if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
}

WorkerGate::WorkerGate(std::string needle) : needle_(std::move(needle)) {
  SetStatusObserver([this](const std::string& line) { OnStatus(line); });
}

WorkerGate::~WorkerGate() {
  Release();
  SetStatusObserver(nullptr);
}

void WorkerGate::OnStatus(const std::string& line) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!armed_ || std::this_thread::get_id() == windowThread_ || line.find(needle_) == std::string::npos) return;
  armed_ = false;
  reached_ = true;
  cv_.wait(lock, [this] { return released_; });
}

bool WorkerGate::WaitReached() {
  return QTest::qWaitFor(
      [this] {
        std::lock_guard<std::mutex> lock(mutex_);
        return reached_;
      },
      kWaitMs);
}

void WorkerGate::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  released_ = true;
  cv_.notify_all();
}

}  // namespace marbloom::test
