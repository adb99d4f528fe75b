#pragma once
// Reading one day of one security back from the tick store.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace marbloom {

// One decoded tick.
struct TickRecord {
  int16_t minute;  // seconds / 60
  int32_t price;   // in 0.0001 currency units
  int32_t volume;  // low 32 bits
  int32_t extra;   // running extra value (types 12, 14, 60, 62) or the plain value
  uint8_t kind;    // 0, 1 or 2
  uint8_t second;  // seconds % 60
};

struct TickDay {
  int32_t date = 0;
  double refPrice = 0;
  std::vector<TickRecord> ticks;
};

// Stateless reader of the tick store under the history directory.
class TickReader {
 public:
  // The decoded ticks of `date`, or nothing when the day cannot be read.
  std::optional<TickDay> ReadTickDay(int market, std::string_view code, int date) const;
};

}  // namespace marbloom
