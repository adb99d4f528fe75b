#pragma once
// The engine a page's worker is running, reachable from the window thread.
// Each run creates its engines afresh; the slot makes sure a Cancel from the
// window thread never meets a destroyed engine, and that a Cancel pressed
// before the worker's engine exists still reaches it when it starts. Any
// object with a Cancel() fits (the engines, a download run); one that also
// has CancelAll() (a download run) stops all its steps on CancelAll.
#include <functional>
#include <mutex>
#include <utility>

namespace marbloom::ui {

class EngineSlot {
 public:
  // Window thread, before the worker starts: no cancel pending.
  void BeginRun() {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelRequested_ = false;
    stopAll_ = false;
  }

  // Window thread: cancels the running engine and any engine attached later
  // in this phase of the run.
  void Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelRequested_ = true;
    if (cancel_) cancel_();
  }

  // Window thread, when the window closes: stops the whole run, its later
  // phases and steps included.
  void CancelAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelRequested_ = true;
    stopAll_ = true;
    if (cancelAll_) cancelAll_();
  }

  // Worker: a new phase whose engine must be cancelled again by the user
  // (the minute build after a cancelled tick conversion of a download),
  // unless the whole run is being stopped.
  void BeginPhase() {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelRequested_ = stopAll_;
  }

  // Worker: the engine `key` runs now and stops through `cancel`, or through
  // `cancelAll` when the whole run is stopped (either called at once when
  // its cancel came first).
  void Attach(const void* key, std::function<void()> cancel, std::function<void()> cancelAll = nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    key_ = key;
    cancel_ = std::move(cancel);
    cancelAll_ = cancelAll ? std::move(cancelAll) : cancel_;
    if (stopAll_)
      cancelAll_();
    else if (cancelRequested_)
      cancel_();
  }

  void Detach(const void* key) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (key_ != key) return;
    key_ = nullptr;
    cancel_ = nullptr;
    cancelAll_ = nullptr;
  }

 private:
  mutable std::mutex mutex_;
  const void* key_ = nullptr;
  std::function<void()> cancel_;
  std::function<void()> cancelAll_;
  bool cancelRequested_ = false;
  bool stopAll_ = false;
};

// An engine that lives in a slot for the scope of one worker step.
template <class Engine>
class SlotEngine {
 public:
  template <class... Args>
  explicit SlotEngine(EngineSlot& slot, Args&&... args) : slot_(slot), engine_(std::forward<Args>(args)...) {
    if constexpr (requires(Engine& e) { e.CancelAll(); })
      slot_.Attach(&engine_, [this] { engine_.Cancel(); }, [this] { engine_.CancelAll(); });
    else
      slot_.Attach(&engine_, [this] { engine_.Cancel(); });
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
