#pragma once
// What an engine tells whoever runs it: the status line, the progress of the
// running stage, lines for the run log, and the clock those lines are dated
// by. Each front hands its own to the engines it runs, through the layout as
// it hands the file system: the window's feeds the status line and the
// progress its pages show, the command line's the terminal, a test's records
// what it is told. Engines may call a reporter from any of their threads.
#include <ctime>
#include <string>
#include <string_view>

namespace marbloom {

class Reporter {
 public:
  virtual ~Reporter() = default;

  // The status line, cut to what fits the 260-byte GBK status buffer.
  void Status(std::string_view utf8);
  void StatusF(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // A line of the run log, dated by Now().
  void Log(std::string_view utf8);
  void LogF(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The status line and the same line in the run log.
  void ReportF(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // The running stage's progress, 0 to 1.
  virtual void Progress(double fraction) = 0;
  virtual std::time_t Now() const { return std::time(nullptr); }

  // What the helpers above end in: a status line already cut to fit, a
  // log message with its time.
  virtual void ShowStatus(const std::string& text) = 0;
  virtual void WriteLog(const std::string& message, std::time_t when) = 0;
};

// Drops everything it is told: the reporter of a layout no front gave one.
Reporter& SilentReporter();

}  // namespace marbloom
