#pragma once
// The run log: one GBK text file per local day in the log directory, each line
// "HH:MM:SS", three blanks, the message and CR LF. Failures are swallowed.
#include <ctime>
#include <functional>
#include <string>

namespace marbloom {

void RunLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The folder the day files go to (ending in '/'); set when the settings load.
void SetRunLogDirectory(const std::string& directory);
std::string RunLogDirectory();

// Where one thread's lines go instead of the file while it is installed on
// that thread: each line as it would have been written, with its time.
class RunLogHold {
 public:
  virtual ~RunLogHold() = default;
  // Keeps the line for later, or false to have it written now.
  virtual bool Hold(const std::string& file, const std::string& line) = 0;
};
// The calling thread's hold; nullptr ends it.
void SetThreadRunLogHold(RunLogHold* hold);
// Appends a line as RunLog formatted it to its day file.
void WriteRunLogLine(const std::string& file, const std::string& line);

// Called with every message logged from now on (UTF-8, without its time),
// on the logging thread; empty to stop. The command line keeps them to tell
// the cause of a failure.
void SetRunLogObserver(std::function<void(const std::string& message)> observer);

// Test seam: the clock the log reads; an empty function restores time().
void SetRunLogClock(std::function<std::time_t()> clock);

}  // namespace marbloom
