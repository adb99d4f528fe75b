#include "tickdata/minute_day_builder.h"

#include <cstring>

#include "common/scaled_value.h"
#include "common/security_class.h"
#include "common/trading_sessions.h"

namespace marbloom {
namespace {

// The x87 extended product of the original arithmetic: ((v x price) x u) x 0.0001.
long double TickAmount(uint32_t volume, int32_t price, const MinuteScales& scales) {
  if (scales.plainAmount) return static_cast<long double>(volume) * scales.volumeUnit * 100;
  return static_cast<long double>(volume) * price * scales.volumeUnit * 0.0001;
}

// Adds one tick to its bar; `Div` turns 0.0001 units into bar units.
template <typename Div>
inline void AddTick(const TickRecord& tick, const MinuteScales& scales, Div div, MinuteBar& bar) {
  int32_t p = div(tick.price);
  bar.close = p;
  if (bar.open <= 0) bar.open = p;
  if (bar.low <= 0 || bar.low > p) bar.low = p;
  if (bar.high < p) bar.high = p;
  uint32_t v = static_cast<uint32_t>(tick.volume);
  if (v >= kTickVolumeLimit) return;
  uint32_t units = v * static_cast<uint32_t>(scales.volumeUnit);
  bar.volume = static_cast<int32_t>(static_cast<uint32_t>(bar.volume) + units);
  bar.amount = static_cast<float>(static_cast<long double>(bar.amount) + TickAmount(v, tick.price, scales));
}

template <int32_t kDivisor>
struct FixedDivisor {
  int32_t operator()(int32_t price) const { return price / kDivisor; }
};

struct AnyDivisor {
  int32_t divisor;
  int32_t operator()(int32_t price) const { return price / divisor; }
};

template <typename Div>
void AddTicks(const TickRecord* ticks, std::size_t count, const MinuteScales& scales, Div div, MinuteBar* bars) {
  for (std::size_t i = 0; i < count; ++i) AddTick(ticks[i], scales, div, bars[TimeToSlot(ticks[i].minute, 0)]);
}

// The price divisor is one of a few constants: each gets a loop that divides
// by a multiplication.
void AddAllTicks(const TickRecord* ticks, std::size_t count, const MinuteScales& scales, MinuteBar* bars) {
  switch (const int32_t divisor = 10000 / scales.priceScale) {
    case 1: return AddTicks(ticks, count, scales, FixedDivisor<1>{}, bars);
    case 10: return AddTicks(ticks, count, scales, FixedDivisor<10>{}, bars);
    case 100: return AddTicks(ticks, count, scales, FixedDivisor<100>{}, bars);
    case 1000: return AddTicks(ticks, count, scales, FixedDivisor<1000>{}, bars);
    case 10000: return AddTicks(ticks, count, scales, FixedDivisor<10000>{}, bars);
    default: return AddTicks(ticks, count, scales, AnyDivisor{divisor}, bars);
  }
}

void FillQuietSlot(MinuteBar& bar, int32_t price) {
  bar.open = bar.high = bar.low = bar.close = price;
}

}  // namespace

MinuteScales MinuteScalesOf(int market, std::string_view code, int tckv4) {
  MinuteScales scales;
  scales.priceScale = PriceScale(PriceDecimals(market, code, tckv4));
  scales.volumeUnit = VolumeUnit(market, code);
  int type = ClassifySecurity(market, code);
  scales.plainAmount = IsIndexType(type) || IsVolumeAmountType(type);
  return scales;
}

void BuildMinuteDay(const TickDay& day, const MinuteScales& scales, MinuteBar* bars) {
  BuildMinuteDay(TickDayView{day.date, day.refPrice, day.ticks.data(), day.ticks.size()}, scales, bars);
}

void BuildMinuteDay(const TickDayView& day, const MinuteScales& scales, MinuteBar* bars) {
  std::memset(bars, 0, kOneMinuteBlockBytes);
  AddAllTicks(day.ticks, day.count, scales, bars);
  uint16_t packed = PackMinuteDate(day.date);
  for (int i = 0; i < kOneMinuteBarsPerDay; ++i) {
    MinuteBar& bar = bars[i];
    bar.packedDate = packed;
    bar.time = static_cast<uint16_t>(SlotEndTime(i, 1, 0));
    if (bar.close != 0) continue;
    FillQuietSlot(bar, i == 0 ? ScaleInt32(day.refPrice, static_cast<float>(scales.priceScale))
                              : bars[i - 1].close);
  }
}

void DeriveFiveMinuteDays(const MinuteBar* oneMinute, int days, MinuteBar* fiveMinute) {
  for (int d = 0; d < days; ++d) {
    const MinuteBar* src = oneMinute + d * kOneMinuteBarsPerDay;
    MinuteBar* dst = fiveMinute + d * kFiveMinuteBarsPerDay;
    for (int k = 0; k < kFiveMinuteBarsPerDay; ++k) {
      const MinuteBar* group = src + 5 * k;
      MinuteBar bar{};
      bar.packedDate = group[0].packedDate;
      bar.time = static_cast<uint16_t>(SlotEndTime(k, 5, 0));
      bar.open = group[0].open;
      bar.close = group[4].close;
      uint32_t volume = 0;
      for (int j = 0; j < 5; ++j) {
        if (bar.high < group[j].high) bar.high = group[j].high;
        if (bar.low == 0 || bar.low > group[j].low) bar.low = group[j].low;
        bar.amount += group[j].amount;
        volume += static_cast<uint32_t>(group[j].volume);
      }
      bar.volume = static_cast<int32_t>(volume);
      dst[k] = bar;
    }
  }
}

}  // namespace marbloom
