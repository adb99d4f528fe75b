#include "base/run_log.h"

#include <cstdio>

#include "base/file_system.h"
#include "base/text_encoding.h"

namespace marbloom {
namespace {

// A message keeps what the 256-byte GBK message buffer held.
constexpr std::size_t kMessageBytes = 255;

std::tm LocalTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return local;
}

}  // namespace

std::string RunLogFile::DayFile(std::time_t when) const {
  const std::tm local = LocalTime(when);
  char name[40];
  std::snprintf(name, sizeof name, "%04d%02d%02d.log", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return directory_ + name;
}

void RunLogFile::Write(std::string_view message, std::time_t when) const {
  if (directory_.empty()) return;
  const std::tm local = LocalTime(when);
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d   ", local.tm_hour, local.tm_min, local.tm_sec);
  std::string line = stamp + FitUtf8ToGbkBytes(message, kMessageBytes);
  line.push_back('\n');
  // Always the real file system: the log is no part of a tree.
  File out = RealFileSystem().Open(DayFile(when), OpenMode::kAppend);
  if (out) out.Write(line.data(), line.size(), 0);
}

}  // namespace marbloom
