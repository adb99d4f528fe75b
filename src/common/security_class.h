#pragma once
// Security classification: market and code give a SecurityType, from which the
// price decimals, volume unit, daily volume divisor and index test follow.
#include <cstdint>
#include <string_view>

namespace marbloom {

// Market 0 sz, 1 sh, 2 bj; any other market gives 0. Only the first three
// characters of the code count.
int8_t ClassifySecurity(int market, std::string_view code);

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
