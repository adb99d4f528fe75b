#pragma once
// The frame the three operation pages share: an operation list, two date
// pickers, a progress bar, a status line and Execute/Cancel at one spot. A run
// locks the tabs, starts the page's timer (which copies ProgressFraction and
// StatusText into the bar and the status line) and one worker thread; when
// the worker ends, a queued call returns the page to idle with one last
// refresh. Worker-side requests that touch controls (focus, running mode)
// are queued to the window thread.
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "common/operation_result.h"
#include "ui/engine_slot.h"
#include "ui/page_controls.h"

class QComboBox;
class QDateTimeEdit;
class QProgressBar;
class QPushButton;

namespace marbloom::ui {

class StatusLine;

struct FrameParams {
  int listId = 0;
  int firstPickerId = 0, lastPickerId = 0;
  int progressId = 0, statusId = 0;
  int executeId = 0, cancelId = 0;
  const char* executeCaption = "";
  const char* cancelCaption = "";
  int timerId = 0;  // names the page's timer object ("timer32")
  int timerPeriodMs = 50;
  const char* threadFailureMessage = "";
  bool logThreadFailure = false;
  bool zeroProgressOnCancel = true;
};

class OperationPage : public QWidget {
  Q_OBJECT

 public:
  OperationPage(const FrameParams& params, QWidget* parent);
  ~OperationPage() override;

  // Running: from Execute until the page is idle again (window thread).
  bool IsRunning() const { return running_; }
  // The worker's flag: set before the worker starts, cleared as its last step.
  bool IsBusy() const { return busy_.load(); }
  const FrameParams& Params() const { return params_; }

  // How worker threads are started; tests replace it to see the failure
  // path. It throws std::system_error when no thread can be created, as
  // std::thread does. Empty restores std::thread.
  using ThreadLauncher = std::function<std::thread(std::function<void()>)>;
  static void SetThreadLauncher(ThreadLauncher launcher);

 public slots:
  void Execute();
  void Cancel();
  // The window closes: the whole run stops (a download's conversion too).
  void CancelAll();

 signals:
  // The page is idle again after a run (or after a refused start).
  void runFinished();

 protected:
  // Window thread, first step of Execute: read the controls; false refuses
  // the run (the page has shown why).
  virtual bool PrepareRun() { return true; }
  // Worker thread: the page's operation.
  virtual void RunOperation() = 0;
  // Window thread: the page's own inputs beside the list and the pickers.
  virtual void SetInputsEnabled(bool enabled) = 0;
  // False when the worker asks for running mode itself after its checks.
  virtual bool SwitchesAtExecute() const { return true; }
  // Window thread, when Cancel is pressed, before the engines are cancelled.
  virtual void OnCancel() {}

  // Derived pages call this first in their destructors: a worker still
  // running is cancelled and joined while the page's members exist.
  void StopWorker();

  // Worker thread: queue a call to the window thread.
  void PostToWindow(std::function<void()> call);
  void RequestFocus(QWidget* control);
  void RequestRunningMode(bool running);

  // Either thread: an operation's final message becomes the status line.
  void ShowResult(const OperationResult& result);

  // Window thread. The timer's copy into the bar and the status line.
  virtual void RefreshFromSharedState();
  void SetRunningMode(bool running);
  void ShowStatus(const QString& text);

  EngineSlot& Engines() { return engines_; }
  // What the undo journal calls the next run; PrepareRun may set it (empty:
  // the list entry's text), and the other tree a merge moves files out of.
  std::string journalOperation_;
  std::string journalSourceTree_;
  // The pickers as Execute read them.
  const PickedDates& Dates() const { return dates_; }
  // The status line's text when a check of the date range failed; false then.
  bool ReportPickedRange(bool limitSpan);

  QComboBox* list_ = nullptr;
  QDateTimeEdit* first_ = nullptr;
  QDateTimeEdit* last_ = nullptr;
  QProgressBar* progress_ = nullptr;
  StatusLine* status_ = nullptr;
  QPushButton* execute_ = nullptr;
  QPushButton* cancel_ = nullptr;
  // Execute and Cancel stacked at one spot, for the page's layout.
  QWidget* buttonPair_ = nullptr;

 private:
  void WorkerEnded();
  void ReturnToIdle();

  FrameParams params_;
  QTimer timer_;
  std::thread worker_;
  std::atomic<bool> busy_{false};
  bool running_ = false;
  EngineSlot engines_;
  PickedDates dates_;
  QPointer<QWidget> pendingFocus_;
};

}  // namespace marbloom::ui
