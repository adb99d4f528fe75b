#include "ui_test_support.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QTest>
#include <filesystem>

#include "base/message_sink.h"
#include "common/shared_state.h"
#include "ui/page_controls.h"
#include "ui/pg_day_line.h"
#include "ui/pg_download.h"
#include "ui/pg_tick.h"
#include "ui/status_line.h"
#include "ui/window_reports.h"

namespace marbloom::test {
namespace {

constexpr int kWaitMs = 120000;  // a deadline for hangs only

}  // namespace

BoxRecorder::BoxRecorder() {
  ui::RouteCoreMessagesToBoxes();
  ui::SetMessageBoxFunction([this](QWidget*, const QString& text, const QString& caption, ui::BoxIcon icon) {
    boxes.push_back({text, caption, icon});
    if (onBox) onBox();
    return answer;
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

std::unique_ptr<ui::OperationPage> MakePage(Page page) {
  if (page == Page::kDaily) return std::make_unique<ui::PgDayLine>();
  if (page == Page::kTick) return std::make_unique<ui::PgTick>();
  return std::make_unique<ui::PgDownLoad>();
}

void Select(ui::OperationPage* page, int entry) {
  Child<QComboBox>(page, ui::ControlName(page->Params().listId))->setCurrentIndex(entry);
}

void SetDates(ui::OperationPage* page, int first, int last) {
  for (auto [id, date] : {std::pair{page->Params().firstPickerId, first}, {page->Params().lastPickerId, last}})
    Child<QDateTimeEdit>(page, ui::ControlName(id))
        ->setDateTime(QDateTime(QDate(date / 10000, date / 100 % 100, date % 100), QTime(12, 0)));
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

int FilesIn(const std::string& dir) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) n += entry.is_regular_file() ? 1 : 0;
  return n;
}

WorkerGate::WorkerGate(std::string needle) : needle_(std::move(needle)) {
  ui::WindowReports().SetStatusObserver([this](const std::string& line) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (reached_ || released_ || std::this_thread::get_id() == windowThread_ || line.find(needle_) == std::string::npos)
      return;
    reached_ = true;
    const int ticket = ++held_;
    cv_.wait(lock, [this, ticket] { return released_ || passed_ >= ticket; });
  });
}

WorkerGate::~WorkerGate() {
  Release();
  ui::WindowReports().SetStatusObserver(nullptr);
}

bool WorkerGate::WaitReached() {
  return QTest::qWaitFor(
      [this] {
        std::lock_guard<std::mutex> lock(mutex_);
        return reached_;
      },
      kWaitMs);
}

void WorkerGate::Pass() {
  std::lock_guard<std::mutex> lock(mutex_);
  reached_ = false;
  ++passed_;
  cv_.notify_all();
}

void WorkerGate::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  released_ = true;
  cv_.notify_all();
}

}  // namespace marbloom::test
