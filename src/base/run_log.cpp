#include "base/run_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "base/file_system.h"
#include "base/text_encoding.h"

namespace marbloom {
namespace {

std::mutex g_clockMutex;
std::function<std::time_t()> g_clock;
std::string g_directory;
std::function<void(const std::string&)> g_observer;
thread_local RunLogHold* t_hold = nullptr;

std::time_t Now() {
  std::lock_guard<std::mutex> lock(g_clockMutex);
  return g_clock ? g_clock() : std::time(nullptr);
}

}  // namespace

void SetRunLogDirectory(const std::string& directory) {
  std::lock_guard<std::mutex> lock(g_clockMutex);
  g_directory = directory;
}

std::string RunLogDirectory() {
  std::lock_guard<std::mutex> lock(g_clockMutex);
  return g_directory;
}

void SetThreadRunLogHold(RunLogHold* hold) { t_hold = hold; }

void WriteRunLogLine(const std::string& file, const std::string& line) {
  // Always the real file system: the log is no part of a tree, and the lines
  // that report a failed file call must not fail with it.
  File out = RealFileSystem().Open(file, OpenMode::kAppend);
  if (out) out.Write(line.data(), line.size(), 0);
}

void SetRunLogObserver(std::function<void(const std::string& message)> observer) {
  std::lock_guard<std::mutex> lock(g_clockMutex);
  g_observer = std::move(observer);
}

void SetRunLogClock(std::function<std::time_t()> clock) {
  std::lock_guard<std::mutex> lock(g_clockMutex);
  g_clock = std::move(clock);
}

void RunLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string message = FormatTextV(format, args);
  va_end(args);
  {
    std::lock_guard<std::mutex> lock(g_clockMutex);
    if (g_observer) g_observer(message);
  }
  // The message buffer holds 256 bytes of GBK text, terminator included.
  std::string gbk = CutGbk(Utf8ToGbk(message), 255);

  std::time_t now = Now();
  std::tm local{};
  localtime_r(&now, &local);
  char fileName[512];
  std::snprintf(fileName, sizeof fileName, "%s%04d%02d%02d.log", RunLogDirectory().c_str(),
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  char line[320];
  const int n = std::snprintf(line, sizeof line, "%02d:%02d:%02d   %s\r\n", local.tm_hour, local.tm_min,
                              local.tm_sec, gbk.c_str());
  if (n <= 0) return;
  const std::string text(line, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1));
  if (t_hold == nullptr || !t_hold->Hold(fileName, text)) WriteRunLogLine(fileName, text);
}

}  // namespace marbloom
