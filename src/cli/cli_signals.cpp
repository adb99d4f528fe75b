#include "cli/cli_signals.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>

namespace marbloom::cli {
namespace {

// SIGINT and SIGTERM, but not one the program was started with ignored (a
// background job of a script, nohup): a blocked signal would be taken even
// so, against the wish of whoever started the program.
sigset_t CancelSignalSet() {
  static const sigset_t watched = [] {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM}) {
      struct sigaction current {};
      if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) sigaddset(&set, signal);
    }
    return set;
  }();
  return watched;
}

}  // namespace

void CancelRegistry::SetTarget(std::function<void()> cancel) {
  std::lock_guard<std::mutex> lock(mutex_);
  target_ = std::move(cancel);
  if (requested_ && target_) target_();
}

// The target is called under the lock, so that SetTarget({}) returns only
// when no call into the operation is under way any more.
void CancelRegistry::Request() {
  std::lock_guard<std::mutex> lock(mutex_);
  requested_ = true;
  if (target_) target_();
}

bool CancelRegistry::Requested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requested_;
}

CancelRegistry& ProcessCancel() {
  static CancelRegistry registry;
  return registry;
}

void BlockCancelSignals() {
  const sigset_t set = CancelSignalSet();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher(std::function<void(int)> notice, int exitCode)
    : notice_(std::move(notice)), exitCode_(exitCode) {
  const sigset_t set = CancelSignalSet();
  signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC);
  stopFd_ = ::eventfd(0, EFD_CLOEXEC);
  if (signalFd_ < 0 || stopFd_ < 0) {
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    return;
  }
  thread_ = std::thread([this] { Watch(); });
}

SignalWatcher::~SignalWatcher() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    const ssize_t written = ::write(stopFd_, &one, sizeof one);
    static_cast<void>(written);
    thread_.join();
  }
  if (signalFd_ >= 0) ::close(signalFd_);
  if (stopFd_ >= 0) ::close(stopFd_);
}

void SignalWatcher::Watch() {
  int count = 0;
  for (;;) {
    pollfd fds[2] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    signalfd_siginfo info;
    if (::read(signalFd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
    notice_(++count);
    if (count > 1) ::_exit(exitCode_);
    ProcessCancel().Request();
  }
}

}  // namespace marbloom::cli
