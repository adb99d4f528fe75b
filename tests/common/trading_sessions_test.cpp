#include "common/trading_sessions.h"

#include <gtest/gtest.h>

namespace marbloom {
namespace {

TEST(TradingSessions, OneMinuteSlotEnds) {
  EXPECT_EQ(SlotEndTime(0, 1, 0), 571);
  EXPECT_EQ(SlotEndTime(119, 1, 0), 690);
  EXPECT_EQ(SlotEndTime(120, 1, 0), 781);
  EXPECT_EQ(SlotEndTime(239, 1, 0), 900);
  EXPECT_EQ(SlotEndTime(240, 1, 0), 900);
  EXPECT_EQ(SlotEndTime(1000, 1, 0), 900);
}

TEST(TradingSessions, FiveMinuteSlotEnds) {
  EXPECT_EQ(SlotEndTime(0, 5, 0), 575);
  EXPECT_EQ(SlotEndTime(23, 5, 0), 690);
  EXPECT_EQ(SlotEndTime(24, 5, 0), 785);
  EXPECT_EQ(SlotEndTime(47, 5, 0), 900);
}

TEST(TradingSessions, MinuteToSlot) {
  const struct { int minute, slot; } cases[] = {{0, 0},     {569, 0},   {570, 0},   {571, 1},
                                                {689, 119}, {690, 119}, {700, 119}, {779, 119},
                                                {780, 120}, {899, 239}, {900, 239}, {1439, 239}};
  for (const auto& c : cases) EXPECT_EQ(TimeToSlot(c.minute, 0), c.slot) << c.minute;
}

TEST(TradingSessions, EverySessionMinuteLandsInTheBarEndingOneMinuteLater) {
  for (int i = 0; i < kMinuteSlotsPerDay; ++i) {
    int end = SlotEndTime(i, 1, 0);
    EXPECT_EQ(TimeToSlot(end - 1, 0), i);
  }
  for (int row = 0; row < 3; ++row) EXPECT_EQ(SlotEndTime(47, 5, row), 900);
}

}  // namespace
}  // namespace marbloom
