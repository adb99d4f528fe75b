#pragma once
// Conversions of computed values into the integer fields of the data files.
// Scaling truncates toward zero after adding 0.503 (a single-precision
// constant); out-of-range results saturate and NaN gives 0. Narrow fields
// that keep only the low bits wrap as two's complement.
#include <cmath>
#include <cstdint>
#include <limits>

namespace marbloom {

inline constexpr float kRoundingAddend = 0.503f;

template <typename Int>
Int SaturateTo(double value) {
  if (std::isnan(value)) return 0;
  if (value <= static_cast<double>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
  if (value >= static_cast<double>(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
  return static_cast<Int>(value);  // truncates toward zero
}

inline int32_t SaturateToInt32(double value) { return SaturateTo<int32_t>(value); }
inline uint32_t SaturateToUint32(double value) { return SaturateTo<uint32_t>(value); }

// value * factor + 0.503, truncated, in double precision.
inline int32_t ScaleInt32(double value, float factor) {
  return SaturateToInt32(value * static_cast<double>(factor) + static_cast<double>(kRoundingAddend));
}
inline uint32_t ScaleUint32(double value, float factor) {
  return SaturateToUint32(value * static_cast<double>(factor) + static_cast<double>(kRoundingAddend));
}

// The low bits of an integer, as a narrow field stores them.
inline uint32_t Low32(int64_t value) { return static_cast<uint32_t>(static_cast<uint64_t>(value)); }
inline int32_t Low32Signed(int64_t value) { return static_cast<int32_t>(Low32(value)); }
inline uint16_t Low16(int64_t value) { return static_cast<uint16_t>(static_cast<uint64_t>(value)); }

}  // namespace marbloom
