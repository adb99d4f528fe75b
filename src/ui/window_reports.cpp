#include "ui/window_reports.h"

#include "app/settings.h"

namespace marbloom::ui {

void WindowReporter::SetStatusObserver(std::function<void(const std::string&)> observer) {
  std::lock_guard<std::mutex> lock(observerMutex_);
  observer_ = std::move(observer);
}

void WindowReporter::ShowStatus(const std::string& text) {
  board_.SetStatusText(text);
  std::function<void(const std::string&)> observer;
  {
    std::lock_guard<std::mutex> lock(observerMutex_);
    observer = observer_;
  }
  if (observer) observer(text);
}

// The log of the work directory the window runs in.
void WindowReporter::WriteLog(const std::string& message, std::time_t when) {
  RunLogFile(DataLayout(WorkDirectory(), std::string()).LogDir()).Write(message, when);
}

WindowReporter& WindowReports() {
  static WindowReporter reporter;
  return reporter;
}

DataLayout PageLayout() { return CurrentLayout().WithReporter(WindowReports()); }

DownloadRunSetup PageDownloadSetup() {
  DownloadRunSetup setup = CurrentDownloadSetup();
  setup.layout = setup.layout.WithReporter(WindowReports());
  return setup;
}

}  // namespace marbloom::ui
