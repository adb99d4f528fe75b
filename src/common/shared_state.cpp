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

}  // namespace

void SetStatusText(std::string_view utf8) {
  std::string text = FitUtf8ToGbkBytes(utf8, 259);
  std::function<void(const std::string&)> observer;
  {
    std::lock_guard<std::mutex> lock(g_statusMutex);
    g_statusText = text;
    observer = g_observer;
  }
  if (observer) observer(text);
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

void SetProgressFraction(double fraction) { g_progress.store(fraction, std::memory_order_relaxed); }

double ProgressFraction() { return g_progress.load(std::memory_order_relaxed); }

void SetStatusObserver(std::function<void(const std::string&)> observer) {
  std::lock_guard<std::mutex> lock(g_statusMutex);
  g_observer = std::move(observer);
}

}  // namespace marbloom
