#pragma once
// Process-wide state shared by the engines and the pages: the status line and
// the progress fraction, the one channel from the engines to the fronts. The
// window thread reads what the worker writes, so the text is guarded and the
// number is atomic.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/run_log.h"
#include "common/operation_result.h"

namespace marbloom {

// Status messages are cut to what fits the 260-byte GBK status buffer.
void SetStatusText(std::string_view utf8);
void SetStatusTextF(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string StatusText();

// Status text and the same line in the run log.
void ReportF(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A page's closing message replaces the operation's final status, also
// after a cancel; a refusal of the writer lock keeps its own.
OperationResult CloseWithMessage(OperationResult result, std::string message);

void SetProgressFraction(double fraction);
double ProgressFraction();

// Called on the writing thread after every status change (the command line
// prints each line). Empty to stop.
void SetStatusObserver(std::function<void(const std::string&)> observer);

// What one thread reports (status lines, run-log lines, progress) held back
// until Release, which replays it in order on the releasing thread; later
// reports pass straight. A step can so run ahead of its turn on a thread of
// its own while the log and the status lines read as if it ran after.
class HeldReports final : public RunLogHold {
 public:
  // Holds what the constructing thread reports while alive.
  class Scope {
   public:
    explicit Scope(HeldReports& held);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
  };

  void Release();
  void WaitReleased();

  bool Hold(const std::string& file, const std::string& line) override;
  bool HoldStatus(const std::string& text);
  bool HoldProgress(double fraction);

 private:
  struct Entry {
    bool status = false;
    std::string file, text;
  };
  std::mutex mutex_;
  std::condition_variable releasedSignal_;
  bool released_ = false;
  std::vector<Entry> entries_;
  std::optional<double> progress_;
};

// Data guard messages of the pages.
inline constexpr const char* kDataGuardMessage =
    "数据初始化错误或目录不可写, 请在'参数设置'中设置正确的路径!";
inline constexpr const char* kTickDataGuardMessage =
    "数据初始化错误或目录不可写,请在[参数设置]中设置正确的路径!";

}  // namespace marbloom
