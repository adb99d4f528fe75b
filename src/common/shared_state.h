#pragma once
// The status line and progress a front shows, and the reporters the fronts
// hand their engines: the one channel from the engines to the fronts. The
// engines write on their threads what the window's timer or the terminal's
// ticker reads on theirs, so the text is guarded and the number is atomic.
#include <atomic>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/reporter.h"
#include "base/run_log.h"
#include "common/operation_result.h"

namespace marbloom {

// What a front shows: the latest status line and the running stage's
// progress.
class StatusBoard {
 public:
  void SetStatusText(std::string text);
  std::string StatusText() const;
  void SetProgressFraction(double fraction) { progress_.store(fraction, std::memory_order_relaxed); }
  double ProgressFraction() const { return progress_.load(std::memory_order_relaxed); }

 private:
  mutable std::mutex mutex_;
  std::string text_;
  std::atomic<double> progress_{0.0};
};

// A front's reporter: status and progress onto its board, log lines into its
// run log. The observers and the clock are set before any engine runs.
class FrontReporter final : public Reporter {
 public:
  FrontReporter(StatusBoard& board, RunLogFile log) : board_(board), log_(std::move(log)) {}

  // Called on the reporting thread with every status line (the command line
  // prints them) and every logged message (it keeps the last ones to tell
  // the cause of a failure).
  void SetStatusObserver(std::function<void(const std::string&)> observer) { statusObserver_ = std::move(observer); }
  void SetLogObserver(std::function<void(const std::string&)> observer) { logObserver_ = std::move(observer); }
  // The clock log lines are dated by (a test's); empty for the system's.
  void SetClock(std::function<std::time_t()> clock) { clock_ = std::move(clock); }
  // The run log, once the front knows its work directory.
  void SetLogFile(RunLogFile log) { log_ = std::move(log); }

  StatusBoard& Board() const { return board_; }
  const RunLogFile& LogFile() const { return log_; }

  void Progress(double fraction) override { board_.SetProgressFraction(fraction); }
  std::time_t Now() const override { return clock_ ? clock_() : Reporter::Now(); }
  void ShowStatus(const std::string& text) override;
  void WriteLog(const std::string& message, std::time_t when) override;

 private:
  StatusBoard& board_;
  RunLogFile log_;
  std::function<void(const std::string&)> statusObserver_, logObserver_;
  std::function<std::time_t()> clock_;
};

// Holds what is reported through it (status lines, log lines with their
// times, the last progress) until Release, which replays it in order to its
// target on the releasing thread; what comes later passes straight. A step
// can so run ahead of its turn on a thread of its own while the log and the
// status lines read as if it ran after.
class BufferingReporter final : public Reporter {
 public:
  explicit BufferingReporter(Reporter& target) : target_(target) {}

  void Release();
  void WaitReleased();

  void Progress(double fraction) override;
  std::time_t Now() const override { return target_.Now(); }
  void ShowStatus(const std::string& text) override;
  void WriteLog(const std::string& message, std::time_t when) override;

 private:
  struct Entry {
    bool status = false;
    std::string text;
    std::time_t when = 0;
  };
  Reporter& target_;
  std::mutex mutex_;
  std::condition_variable releasedSignal_;
  bool released_ = false;
  std::vector<Entry> entries_;
  std::optional<double> progress_;
};

// A page's closing message replaces the operation's final status, also
// after a cancel; a refusal of the writer lock keeps its own.
OperationResult CloseWithMessage(Reporter& reporter, OperationResult result, std::string message);

// Data guard messages of the pages.
inline constexpr const char* kDataGuardMessage =
    "数据初始化错误或目录不可写, 请在'参数设置'中设置正确的路径!";
inline constexpr const char* kTickDataGuardMessage =
    "数据初始化错误或目录不可写,请在[参数设置]中设置正确的路径!";

}  // namespace marbloom
