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

// Test seam: the clock the log reads; an empty function restores time().
void SetRunLogClock(std::function<std::time_t()> clock);

}  // namespace marbloom
