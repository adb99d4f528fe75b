// The slot through which the window thread cancels the engine a worker runs.
#include "ui/engine_slot.h"

#include <gtest/gtest.h>

#include "common/operation_engine.h"

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

}  // namespace
}  // namespace marbloom::test
