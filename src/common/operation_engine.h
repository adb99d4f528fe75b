#pragma once
// Base of the engines: the reporter the front handed them (through the
// layout they are built on), a cancel flag set from the window thread and
// tested by the worker once per day, file or security, and the count of
// items that failed during the running operation.
#include <atomic>
#include <ctime>
#include <string>
#include <utility>

#include "common/data_layout.h"
#include "common/operation_result.h"
#include "common/ordered_work.h"

namespace marbloom {

enum class WalkEnd;
struct WalkTexts;

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

// The closing message of an operation whose `failures` items failed: a
// "…完成" message becomes "…未能全部完成" with the count, so that no run with
// failures ends on a line that claims it completed; others stay as they are.
std::string FailedClosing(const std::string& message, int failures);

class OperationEngine {
 public:
  explicit OperationEngine(Reporter& reporter = SilentReporter()) : reporter_(&reporter) {}
  OperationEngine(const OperationEngine&) = delete;
  OperationEngine& operator=(const OperationEngine&) = delete;
  virtual ~OperationEngine() = default;

  // Status lines, progress and log lines of the engine's operations.
  Reporter& Reports() const { return *reporter_; }

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

  // The time the engine takes the market's today from: the caller's clock
  // (0, the default: the system's clock at each reading).
  void SetNow(std::time_t now) { now_ = now; }
  // The market's date now (China time), YYYYMMDD: no record of the tree may
  // be dated after it.
  int MarketToday() const;

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
  // The end of a run whose closing message claims completion: Conclude, with
  // the message turned by FailedClosing when items failed, shown in the
  // status line and, when `log`, written to the run log.
  OperationResult ConcludeShown(Outcome outcome, std::string message, bool log);
  // The result of a walk over security files (common/security_walk.h): its
  // texts when it found nothing or was cancelled, `done` shown as
  // ConcludeShown shows it when it ran to its end.
  OperationResult ConcludeWalk(WalkEnd end, const WalkTexts& texts, std::string done);

 private:
  Reporter* reporter_;
  std::atomic<int> cancelFlag_{0};
  int failures_ = 0;
  int workers_ = DefaultWorkerCount();
  std::time_t now_ = 0;
  DeferredFlush* deferredFlush_ = nullptr;
};

}  // namespace marbloom
