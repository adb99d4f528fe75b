#include "common/shared_state.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "base/run_log.h"
#include "base/text_encoding.h"

namespace marbloom {
namespace {

std::mutex g_statusMutex;
std::string g_statusText;
std::function<void(const std::string&)> g_observer;
std::atomic<double> g_progress{0.0};
thread_local HeldReports* t_held = nullptr;

void PublishStatus(const std::string& text) {
  std::function<void(const std::string&)> observer;
  {
    std::lock_guard<std::mutex> lock(g_statusMutex);
    g_statusText = text;
    observer = g_observer;
  }
  if (observer) observer(text);
}

}  // namespace

void SetStatusText(std::string_view utf8) {
  const std::string text = FitUtf8ToGbkBytes(utf8, 259);
  if (t_held == nullptr || !t_held->HoldStatus(text)) PublishStatus(text);
}

void SetStatusTextF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  SetStatusText(text);
}

void ReportF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  SetStatusText(text);
  RunLog("%s", text.c_str());
}

std::string StatusText() {
  std::lock_guard<std::mutex> lock(g_statusMutex);
  return g_statusText;
}

OperationResult CloseWithMessage(OperationResult result, std::string message) {
  if (result.outcome == Outcome::kBusy) return result;
  SetStatusText(message);
  result.message = std::move(message);
  return result;
}

void SetProgressFraction(double fraction) {
  if (t_held == nullptr || !t_held->HoldProgress(fraction)) g_progress.store(fraction, std::memory_order_relaxed);
}

double ProgressFraction() { return g_progress.load(std::memory_order_relaxed); }

void SetStatusObserver(std::function<void(const std::string&)> observer) {
  std::lock_guard<std::mutex> lock(g_statusMutex);
  g_observer = std::move(observer);
}

HeldReports::Scope::Scope(HeldReports& held) {
  t_held = &held;
  SetThreadRunLogHold(&held);
}

HeldReports::Scope::~Scope() {
  t_held = nullptr;
  SetThreadRunLogHold(nullptr);
}

void HeldReports::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (released_) return;
  for (const Entry& entry : entries_) {
    if (entry.status)
      PublishStatus(entry.text);
    else
      WriteRunLogLine(entry.file, entry.text);
  }
  if (progress_) g_progress.store(*progress_, std::memory_order_relaxed);
  entries_.clear();
  released_ = true;
  releasedSignal_.notify_all();
}

void HeldReports::WaitReleased() {
  std::unique_lock<std::mutex> lock(mutex_);
  releasedSignal_.wait(lock, [this] { return released_; });
}

bool HeldReports::Hold(const std::string& file, const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!released_) entries_.push_back(Entry{false, file, line});
  return !released_;
}

bool HeldReports::HoldStatus(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!released_) entries_.push_back(Entry{true, "", text});
  return !released_;
}

bool HeldReports::HoldProgress(double fraction) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!released_) progress_ = fraction;
  return !released_;
}

}  // namespace marbloom
