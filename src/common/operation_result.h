#pragma once
// What an operation did, as every front learns it: the command line maps it to
// an exit code, the window to its status line. No front reads the status text
// to find out how an operation ended.
#include <string>

namespace marbloom {

enum class Outcome {
  kDone,         // finished, every item handled
  kNothingToDo,  // nothing to work on (no file selected, no source in the range)
  kCancelled,    // stopped by Cancel
  kFailed,       // items failed (a read or write, a damaged or missing file)
  kInvalid,      // refused by a check of its inputs (dates, code pattern); nothing ran
  kBusy,         // another operation holds the data tree's writer lock
};

struct OperationResult {
  Outcome outcome = Outcome::kDone;
  std::string message;  // the operation's final status text
  int failedItems = 0;  // files or securities that failed, or the bad files a check found

  bool done() const { return outcome == Outcome::kDone; }
};

// Two steps run one after the other as one action: the worse outcome (nothing
// to do, done, failed, cancelled, invalid, busy, in that order), the failed
// items of both and the second step's message.
inline OperationResult CombineSteps(const OperationResult& first, OperationResult second) {
  auto rank = [](Outcome o) {
    switch (o) {
      case Outcome::kNothingToDo: return 0;
      case Outcome::kDone: return 1;
      case Outcome::kFailed: return 2;
      case Outcome::kCancelled: return 3;
      case Outcome::kInvalid: return 4;
      case Outcome::kBusy: return 5;
    }
    return 5;
  };
  if (rank(first.outcome) > rank(second.outcome)) second.outcome = first.outcome;
  second.failedItems += first.failedItems;
  return second;
}

}  // namespace marbloom
