#pragma once
// Base of the engines: a cancel flag set from the window thread and tested by
// the worker once per day, file or security, and the count of items that
// failed during the running operation.
#include <atomic>
#include <string>
#include <utility>

#include "common/data_layout.h"
#include "common/operation_result.h"
#include "common/ordered_work.h"

namespace marbloom {

class OperationEngine {
 public:
  OperationEngine() = default;
  OperationEngine(const OperationEngine&) = delete;
  OperationEngine& operator=(const OperationEngine&) = delete;
  virtual ~OperationEngine() = default;

  void Reset() { cancelFlag_.store(0, std::memory_order_relaxed); }
  void Cancel() { cancelFlag_.store(1, std::memory_order_relaxed); }
  bool Cancelled() const { return cancelFlag_.load(std::memory_order_relaxed) != 0; }

  // Items (files, securities, source files) that failed since the operation
  // began; the worker thread alone counts them.
  void NoteFailure() { ++failures_; }
  int Failures() const { return failures_; }

  // The threads the per-security work of an operation runs on (at least one).
  void SetWorkers(int workers) { workers_ = workers < 1 ? 1 : workers; }
  int Workers() const { return workers_; }

 protected:
  // Called at the start of every operation.
  void BeginOperation() { failures_ = 0; }
  // The end of a writing operation that wrote anything: one flush of the file
  // system holding the tree, so that an operation that reports done has its
  // data on disk. A failed flush is logged and counts as a failed item.
  void FlushTree(const DataLayout& layout);
  // The result of an operation that ran to its end: kDone turns kFailed
  // when items failed; the message stays the operation's own.
  OperationResult Conclude(Outcome outcome, std::string message) const {
    if (outcome == Outcome::kDone && failures_ > 0) outcome = Outcome::kFailed;
    return OperationResult{outcome, std::move(message), failures_};
  }

 private:
  std::atomic<int> cancelFlag_{0};
  int failures_ = 0;
  int workers_ = DefaultWorkerCount();
};

}  // namespace marbloom
