#include "base/run_log.h"

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

void SetRunLogClock(std::function<std::time_t()> clock) {
  std::lock_guard<std::mutex> lock(g_clockMutex);
  g_clock = std::move(clock);
}

void RunLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string message = FormatTextV(format, args);
  va_end(args);
  // The message buffer holds 256 bytes of GBK text, terminator included.
  std::string gbk = CutGbk(Utf8ToGbk(message), 255);

  std::time_t now = Now();
  std::tm local{};
  localtime_r(&now, &local);
  char fileName[512];
  std::snprintf(fileName, sizeof fileName, "%s%04d%02d%02d.log", RunLogDirectory().c_str(),
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  // Always the real file system: the log is no part of a tree, and the lines
  // that report a failed file call must not fail with it.
  File file = RealFileSystem().Open(fileName, OpenMode::kAppend);
  if (!file) return;
  char line[320];
  int n = std::snprintf(line, sizeof line, "%02d:%02d:%02d   %s\r\n", local.tm_hour, local.tm_min,
                        local.tm_sec, gbk.c_str());
  if (n > 0) file.Write(line, static_cast<std::size_t>(n), 0);
}

}  // namespace marbloom
