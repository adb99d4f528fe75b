#include "ui/window_reports.h"
#include "ui/operation_page.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QProgressBar>
#include <QPushButton>
#include <system_error>
#include <utility>

#include "app/settings.h"
#include "base/run_log.h"
#include "common/shared_state.h"
#include "ui/main_dlg.h"
#include "ui/status_line.h"

namespace marbloom::ui {
namespace {

OperationPage::ThreadLauncher& Launcher() {
  static OperationPage::ThreadLauncher launcher;
  return launcher;
}

std::thread Launch(std::function<void()> body) {
  if (Launcher()) return Launcher()(std::move(body));
  return std::thread(std::move(body));
}

}  // namespace

void OperationPage::SetThreadLauncher(ThreadLauncher launcher) { Launcher() = std::move(launcher); }

OperationPage::OperationPage(const FrameParams& params, QWidget* parent) : QWidget(parent), params_(params) {
  list_ = new QComboBox(this);
  list_->setObjectName(ControlName(params.listId));
  list_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  first_ = NewDatePicker(params.firstPickerId, this);
  last_ = NewDatePicker(params.lastPickerId, this);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(ControlName(params.progressId));
  progress_->setRange(0, 99);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  status_ = new StatusLine(this);
  status_->setObjectName(ControlName(params.statusId));

  buttonPair_ = new QWidget(this);
  buttonPair_->setObjectName(QStringLiteral("buttonPair"));
  auto* pair = new QGridLayout(buttonPair_);
  pair->setContentsMargins(0, 0, 0, 0);
  execute_ = NewButton(QString::fromUtf8(params.executeCaption), params.executeId, buttonPair_);
  cancel_ = NewButton(QString::fromUtf8(params.cancelCaption), params.cancelId, buttonPair_);
  pair->addWidget(execute_, 0, 0);
  pair->addWidget(cancel_, 0, 0);
  cancel_->hide();
  connect(execute_, &QPushButton::clicked, this, &OperationPage::Execute);
  connect(cancel_, &QPushButton::clicked, this, &OperationPage::Cancel);

  timer_.setObjectName(QStringLiteral("timer%1").arg(params.timerId));
  timer_.setInterval(params.timerPeriodMs);
  connect(&timer_, &QTimer::timeout, this, &OperationPage::RefreshFromSharedState);
}

OperationPage::~OperationPage() { StopWorker(); }

void OperationPage::StopWorker() {
  if (!worker_.joinable()) return;
  engines_.Cancel();
  worker_.join();
}

void OperationPage::Execute() {
  if (running_) return;
  if (!PrepareRun()) {
    emit runFinished();
    return;
  }
  running_ = true;
  dates_ = ReadPickers(first_, last_);
  LockSheetTabs(this, true);
  progress_->setValue(0);
  WindowReports().Progress(0);
  WindowReports().Status("");
  engines_.BeginRun();
  timer_.start();
  if (SwitchesAtExecute()) SetRunningMode(true);
  busy_ = true;
  // The run is journalled under the name of the entry it runs, so that
  // what it changes can be undone.
  std::string operation = journalOperation_.empty() ? list_->currentText().toStdString() : journalOperation_;
  std::string arguments = std::to_string(dates_.first) + "-" + std::to_string(dates_.last);
  journalOperation_.clear();
  try {
    worker_ = Launch([this, operation = std::move(operation), arguments = std::move(arguments),
                      source = std::exchange(journalSourceTree_, std::string())] {
      {
        JournalledRun journal(operation, arguments, source);
        RunOperation();
        // A journal that could not be written is the run's last word.
        if (const std::string problem = journal.Problem(); !problem.empty()) WindowReports().Status(problem);
      }
      busy_ = false;
      PostToWindow([this] { WorkerEnded(); });
    });
  } catch (const std::system_error&) {
    WindowReports().Status(params_.threadFailureMessage);
    if (params_.logThreadFailure) WindowReports().LogF("%s", params_.threadFailureMessage);
    busy_ = false;
    ReturnToIdle();
  }
}

void OperationPage::Cancel() {
  if (params_.zeroProgressOnCancel) progress_->setValue(0);
  OnCancel();
  engines_.Cancel();
}

void OperationPage::CancelAll() {
  OnCancel();
  engines_.CancelAll();
}

void OperationPage::PostToWindow(std::function<void()> call) {
  QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void OperationPage::RequestFocus(QWidget* control) {
  QPointer<QWidget> target(control);
  PostToWindow([this, target] {
    pendingFocus_ = target;
    if (target && target->isEnabled()) target->setFocus(Qt::OtherFocusReason);
  });
}

void OperationPage::RequestRunningMode(bool running) {
  PostToWindow([this, running] { SetRunningMode(running); });
}

void OperationPage::ShowResult(const OperationResult& result) {
  if (!result.message.empty()) WindowReports().Status(result.message);
}

void OperationPage::RefreshFromSharedState() {
  const int position = static_cast<int>(ProgressFraction() * 100);
  progress_->setValue(std::clamp(position, 0, 99));
  status_->setText(QString::fromStdString(StatusText()));
}

void OperationPage::SetRunningMode(bool running) {
  cancel_->setVisible(running);
  execute_->setVisible(!running);
  list_->setEnabled(!running);
  first_->setEnabled(!running);
  last_->setEnabled(!running);
  SetInputsEnabled(!running);
}

void OperationPage::ShowStatus(const QString& text) { status_->setText(text); }

bool OperationPage::ReportPickedRange(bool limitSpan) {
  const DateRangeCheck check = CheckPicked(dates_, limitSpan);
  if (check == DateRangeCheck::kOk) return true;
  WindowReports().Status(DateRangeMessage(check));
  RequestFocus(first_);
  return false;
}

void OperationPage::WorkerEnded() {
  if (worker_.joinable()) worker_.join();
  ReturnToIdle();
}

void OperationPage::ReturnToIdle() {
  SetRunningMode(false);
  progress_->setValue(0);
  WindowReports().Progress(0);
  RefreshFromSharedState();
  timer_.stop();
  LockSheetTabs(this, false);
  running_ = false;
  if (pendingFocus_ && pendingFocus_->isEnabled()) pendingFocus_->setFocus(Qt::OtherFocusReason);
  pendingFocus_ = nullptr;
  emit runFinished();
}

}  // namespace marbloom::ui
