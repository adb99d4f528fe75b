#pragma once
// The engine a page's worker is running, reachable from the window thread.
// Each run creates its engines afresh; the slot makes sure a Cancel from the
// window thread never meets a destroyed engine, and that a Cancel pressed
// before the worker's engine exists still reaches it when it starts.
#include <mutex>
#include <utility>

#include "common/operation_engine.h"

namespace marbloom::ui {

class EngineSlot {
 public:
  // Window thread, before the worker starts: no cancel pending.
  void BeginRun() {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelRequested_ = false;
  }

  // Window thread: cancels the running engine and any engine attached later
  // in this phase of the run.
  void Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelRequested_ = true;
    if (engine_ != nullptr) engine_->Cancel();
  }

  // Worker: a new phase whose engine must be cancelled again by the user
  // (the minute build after a cancelled tick conversion of a download).
  void BeginPhase() { BeginRun(); }

  // Worker: `engine` runs now (cancelled at once when a cancel came first).
  void Attach(OperationEngine* engine) {
    std::lock_guard<std::mutex> lock(mutex_);
    engine_ = engine;
    if (cancelRequested_) engine_->Cancel();
  }

  void Detach(OperationEngine* engine) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (engine_ == engine) engine_ = nullptr;
  }

  bool CancelRequested() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelRequested_;
  }

 private:
  mutable std::mutex mutex_;
  OperationEngine* engine_ = nullptr;
  bool cancelRequested_ = false;
};

// An engine that lives in a slot for the scope of one worker step.
template <class Engine>
class SlotEngine {
 public:
  template <class... Args>
  explicit SlotEngine(EngineSlot& slot, Args&&... args) : slot_(slot), engine_(std::forward<Args>(args)...) {
    slot_.Attach(&engine_);
  }
  ~SlotEngine() { slot_.Detach(&engine_); }
  SlotEngine(const SlotEngine&) = delete;
  SlotEngine& operator=(const SlotEngine&) = delete;

  Engine& operator*() { return engine_; }
  Engine* operator->() { return &engine_; }

 private:
  EngineSlot& slot_;
  Engine engine_;
};

}  // namespace marbloom::ui
