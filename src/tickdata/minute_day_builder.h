#pragma once
// Building one day of 1-minute bars from decoded ticks, and 5-minute bars
// from 1-minute bars. Pure functions over caller-owned bar arrays.
#include <string_view>

#include "tickdata/minute_bar.h"
#include "tickdata/tick_reader.h"

namespace marbloom {

// What a security's class contributes to its bars.
struct MinuteScales {
  int priceScale = 100;      // s: bar prices are in 1/s units
  int volumeUnit = 100;      // u: bar volume = tick volume x u
  bool plainAmount = false;  // index and volume-amount types: amount = v x u x 100
};

// tckv4: the TCKV4 setting, which decides the decimals of the ten-unit group.
MinuteScales MinuteScalesOf(int market, std::string_view code, int tckv4);

// Ticks at or above this volume move prices but add neither volume nor amount.
inline constexpr uint32_t kTickVolumeLimit = 1u << 30;

// Fills the 240 bars of one day from `day`'s ticks. Slots without a trade
// carry the previous close; slot 0 without a trade opens at refPrice.
void BuildMinuteDay(const TickDay& day, const MinuteScales& scales, MinuteBar* bars);
void BuildMinuteDay(const TickDayView& day, const MinuteScales& scales, MinuteBar* bars);

// Five-minute bar k of each day gathers 1-minute bars 5k .. 5k + 4.
// `oneMinute` holds `days` blocks of 240 bars, `fiveMinute` receives `days` of 48.
void DeriveFiveMinuteDays(const MinuteBar* oneMinute, int days, MinuteBar* fiveMinute);

}  // namespace marbloom
