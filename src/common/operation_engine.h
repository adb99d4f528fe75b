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

// The flush of a tree that several engines write in one longer run (a
// download, an update): each engine that wrote owes it, and the run settles
// it once at its end, before it reports any day as done.
class DeferredFlush {
 public:
  void Owe() { owed_.store(true); }
  // One flush of the file system holding the tree when an engine owed it;
  // false when it failed (logged).
  bool Settle(const DataLayout& layout);

 private:
  std::atomic<bool> owed_{false};
};

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

  // The engine's flushes go to `owner`, which settles them at the end of the
  // longer run it is part of (nullptr: the engine flushes itself).
  void DeferFlushTo(DeferredFlush* owner) { deferredFlush_ = owner; }

 protected:
  // Called at the start of every operation.
  void BeginOperation() { failures_ = 0; }
  // The end of a writing operation that wrote anything: one flush of the file
  // system holding the tree, so that an operation that reports done has its
  // data on disk. A failed flush is logged and counts as a failed item.
  // Deferred, it is owed to the run instead.
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
  DeferredFlush* deferredFlush_ = nullptr;
};

}  // namespace marbloom
