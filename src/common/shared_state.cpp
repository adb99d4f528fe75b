#include "common/shared_state.h"

namespace marbloom {

void StatusBoard::SetStatusText(std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  text_ = std::move(text);
}

std::string StatusBoard::StatusText() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_;
}

void FrontReporter::ShowStatus(const std::string& text) {
  board_.SetStatusText(text);
  if (statusObserver_) statusObserver_(text);
}

void FrontReporter::WriteLog(const std::string& message, std::time_t when) {
  if (logObserver_) logObserver_(message);
  log_.Write(message, when);
}

void BufferingReporter::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (released_) return;
  for (const Entry& entry : entries_) {
    if (entry.status)
      target_.ShowStatus(entry.text);
    else
      target_.WriteLog(entry.text, entry.when);
  }
  if (progress_) target_.Progress(*progress_);
  entries_.clear();
  released_ = true;
  releasedSignal_.notify_all();
}

void BufferingReporter::WaitReleased() {
  std::unique_lock<std::mutex> lock(mutex_);
  releasedSignal_.wait(lock, [this] { return released_; });
}

void BufferingReporter::Progress(double fraction) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!released_) {
    progress_ = fraction;
    return;
  }
  lock.unlock();
  target_.Progress(fraction);
}

void BufferingReporter::ShowStatus(const std::string& text) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!released_) {
    entries_.push_back(Entry{true, text, 0});
    return;
  }
  lock.unlock();
  target_.ShowStatus(text);
}

void BufferingReporter::WriteLog(const std::string& message, std::time_t when) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!released_) {
    entries_.push_back(Entry{false, message, when});
    return;
  }
  lock.unlock();
  target_.WriteLog(message, when);
}

OperationResult CloseWithMessage(Reporter& reporter, OperationResult result, std::string message) {
  if (result.outcome == Outcome::kBusy) return result;
  reporter.Status(message);
  result.message = std::move(message);
  return result;
}

}  // namespace marbloom
