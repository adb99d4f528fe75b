#pragma once
// Ctrl-C and SIGTERM while a command runs. Both signals are blocked in every
// thread and taken by one watching thread, so what a handler could not do
// safely runs there as ordinary code: the first signal asks the running
// operation to stop at its next item, the second ends the program at once.
#include <functional>
#include <mutex>
#include <thread>

namespace marbloom::cli {

// Who is told to stop. A request that comes while no operation is registered
// reaches the next one as soon as it registers: a cancelled command stays
// cancelled through all of its steps.
class CancelRegistry {
 public:
  // The cancel of the operation now running; an empty function: none.
  void SetTarget(std::function<void()> cancel);
  void Request();
  bool Requested() const;

 private:
  mutable std::mutex mutex_;
  std::function<void()> target_;
  bool requested_ = false;
};

// The registry the signal watcher serves.
CancelRegistry& ProcessCancel();

// Blocks SIGINT and SIGTERM in the calling thread and so in every thread it
// starts afterwards; call it before the program starts its first thread. A
// signal that was ignored when the program started stays ignored.
void BlockCancelSignals();

class SignalWatcher {
 public:
  // `notice(n)` runs on the watching thread for the n-th signal: before the
  // request to ProcessCancel() for the first, before _exit(`exitCode`) for
  // the second. Without a watcher (it could not be set up) the signals are
  // unblocked again and end the program as usual.
  SignalWatcher(std::function<void(int)> notice, int exitCode);
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  void Watch();

  std::function<void(int)> notice_;
  const int exitCode_;
  int signalFd_ = -1;
  int stopFd_ = -1;
  std::thread thread_;
};

}  // namespace marbloom::cli
