#pragma once
// Base of the engines: a cancel flag set from the window thread and tested by
// the worker once per day, file or security.
#include <atomic>

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

 private:
  std::atomic<int> cancelFlag_{0};
};

}  // namespace marbloom
