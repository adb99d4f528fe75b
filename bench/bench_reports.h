#pragma once
// The reporter a bench hands its engines as a front does: its status board,
// and the run log in `logDir`. CurrentLayout() carries it too.
#include <string>

#include "app/settings.h"
#include "common/shared_state.h"

namespace marbloom {

inline FrontReporter& BenchReporter() {
  static StatusBoard board;
  static FrontReporter reporter(board, RunLogFile());
  return reporter;
}

inline FrontReporter& BenchReports(const std::string& logDir) {
  FrontReporter& reporter = BenchReporter();
  reporter.SetLogFile(RunLogFile(logDir));
  SetFrontReporter(&reporter);
  return reporter;
}

}  // namespace marbloom
