#pragma once
// Trading sessions and minute slots. Times are minutes since midnight; the day
// has 240 one-minute bars (09:30-11:30, 13:00-15:00).
#include <cstdint>

namespace marbloom {

inline constexpr int kMinuteSlotsPerDay = 240;
inline constexpr int kFiveMinuteSlotsPerDay = 48;

// Start and end minutes of four sessions per market row; every row is alike.
extern const int16_t kSessionTable[3][8];

// End minute of bar `index` when bars are `step` minutes long (1 or 5).
int16_t SlotEndTime(int index, int step, int row);
// The one-minute bar (0..239) that a trade in minute `minute` belongs to.
int16_t TimeToSlot(int minute, int row);

}  // namespace marbloom
