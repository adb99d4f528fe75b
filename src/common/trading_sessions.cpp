#include "common/trading_sessions.h"

#include <algorithm>

namespace marbloom {

const int16_t kSessionTable[3][8] = {
    {570, 690, 780, 900, 900, 900, 900, 900},
    {570, 690, 780, 900, 900, 900, 900, 900},
    {570, 690, 780, 900, 900, 900, 900, 900},
};

int16_t SlotEndTime(int index, int step, int row) {
  const int16_t* s = kSessionTable[row];
  int16_t t = static_cast<int16_t>(s[0] + step * (index + 1));
  if (t > s[1]) t = static_cast<int16_t>(t + s[2] - s[1]);
  if (t > s[3]) t = static_cast<int16_t>(t + s[4] - s[3]);
  if (t > s[5]) t = static_cast<int16_t>(t + s[6] - s[5]);
  return std::min(t, s[7]);
}

int16_t TimeToSlot(int minute, int row) {
  const int16_t* s = kSessionTable[row];
  const int16_t t = static_cast<int16_t>(minute);
  const int len1 = s[1] - s[0], len2 = s[3] - s[2], len3 = s[5] - s[4], len4 = s[7] - s[6];
  int slot;
  if (t < s[0]) slot = 0;
  else if (t < s[1]) slot = t - s[0];
  else if (t < s[2]) slot = len1 - 1;
  else if (t < s[3]) slot = len1 + (t - s[2]);
  else if (t < s[4]) slot = len1 + len2 - 1;
  else if (t < s[5]) slot = len1 + len2 + (t - s[4]);
  else if (t < s[6]) slot = len1 + len2 + len3 - 1;
  else if (t < s[7]) slot = len1 + len2 + len3 + (t - s[6]);
  else slot = len1 + len2 + len3 + len4 - 1;
  return static_cast<int16_t>(slot);
}

}  // namespace marbloom
