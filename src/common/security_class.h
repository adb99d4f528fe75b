#pragma once
// Security classification: market and code give a SecurityType, from which the
// price decimals, volume unit, daily volume divisor and index test follow.
#include <cstdint>
#include <string_view>

namespace marbloom {

// Market 0 sz, 1 sh, 2 bj; any other market gives 0. Only the first three
// characters of the code count.
int8_t ClassifySecurity(int market, std::string_view code);

// The sets of types that share a rule, each asked by its name; the one place
// that lists type numbers besides the classification itself.
enum class TypeSet {
  kIndex,             // 1, 51, 101
  kThreeDecimals,     // prices with three decimals: 5, 54, 11, 12, 14, 53, 59 to 62
  kTenUnit,           // volumes in tens, prices with four decimals with TCKV4 (else three)
  kUnitVolume,        // volumes counted one by one: 1, 51, 101 (but its "888" codes), 5, 54
  kAmountFromVolume,  // repos (10, 58): minute amounts from the volume alone
  kCloseOnly,         // funds quoted by their close alone (12, 60, 62): missing prices take the close
  kRunningExtra,      // tick blocks keep the extra field as a running value (12, 14, 60, 62)
};
bool TypeIn(int type, TypeSet set);

// 2, 3 or 4; the ten-unit group has 4 with the TCKV4 setting on, else 3.
int PriceDecimals(int market, std::string_view code, int tckv4);
// 1, 10 or 100.
int VolumeUnit(int market, std::string_view code);
// 1 or 10.
int16_t DailyVolumeDivisor(int market, std::string_view code);
// 10^decimals for 0..4, else 100.
int PriceScale(int decimals);
// Types 1, 51, 101.
int IsIndexType(int type);
// Types 10 and 58: minute amounts come from the volume alone.
int IsVolumeAmountType(int type);

}  // namespace marbloom
