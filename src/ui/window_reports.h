#pragma once
// The window's one reporter, which its pages hand every engine they run
// (PageLayout): the status line and the progress all the pages show, and
// the run log of the work directory.
#include <functional>
#include <mutex>
#include <string>

#include "common/data_layout.h"
#include "common/shared_state.h"
#include "download/download_run.h"

namespace marbloom::ui {

class WindowReporter final : public Reporter {
 public:
  const StatusBoard& Board() const { return board_; }
  // Called on the reporting thread with every status line (empty: none).
  void SetStatusObserver(std::function<void(const std::string&)> observer);

  void Progress(double fraction) override { board_.SetProgressFraction(fraction); }
  void ShowStatus(const std::string& text) override;
  void WriteLog(const std::string& message, std::time_t when) override;

 private:
  StatusBoard board_;
  std::mutex observerMutex_;
  std::function<void(const std::string&)> observer_;
};

WindowReporter& WindowReports();

// What the pages show: the latest status line and the running stage's progress.
inline std::string StatusText() { return WindowReports().Board().StatusText(); }
inline double ProgressFraction() { return WindowReports().Board().ProgressFraction(); }

// What the pages build their engines on: CurrentLayout() and the download
// setup, reporting to the window.
DataLayout PageLayout();
DownloadRunSetup PageDownloadSetup();

}  // namespace marbloom::ui
