// One day of 1-minute bars from ticks, and 5-minute bars from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "app/settings.h"
#include "tickdata/minute_day_builder.h"
#include "tickdata/minute_test_support.h"

namespace marbloom {
namespace {

using test::Tick;

constexpr int kDate = 20240315;

// sz000001: an ordinary share, two decimals (s = 100), lots of 100.
const MinuteScales kShare{100, 100, false};

std::vector<MinuteBar> Build(const std::vector<TickRecord>& ticks, double refPrice = 10.0,
                             const MinuteScales& scales = kShare) {
  TickDay day;
  day.date = kDate;
  day.refPrice = refPrice;
  day.ticks = ticks;
  std::vector<MinuteBar> bars(kOneMinuteBarsPerDay);
  BuildMinuteDay(day, scales, bars.data());
  return bars;
}

struct SlotCase {
  int hour, minute, second;
  int slot;
};

class MinuteSlotEdge : public ::testing::TestWithParam<SlotCase> {};

TEST_P(MinuteSlotEdge, TradeLandsInItsSlotOnly) {
  const SlotCase& c = GetParam();
  auto bars = Build({Tick(c.hour, c.minute, c.second, 123400, 5)});
  for (int i = 0; i < kOneMinuteBarsPerDay; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(bars[i].volume, i == c.slot ? 500 : 0);
  }
  EXPECT_EQ(bars[c.slot].close, 1234);
}

INSTANTIATE_TEST_SUITE_P(SessionEdges, MinuteSlotEdge,
                         ::testing::Values(SlotCase{9, 25, 0, 0}, SlotCase{9, 30, 0, 0}, SlotCase{9, 30, 59, 0},
                                           SlotCase{9, 31, 0, 1}, SlotCase{11, 29, 59, 119},
                                           SlotCase{11, 30, 0, 119}, SlotCase{12, 59, 0, 119},
                                           SlotCase{13, 0, 0, 120}, SlotCase{14, 59, 59, 239},
                                           SlotCase{15, 0, 3, 239}, SlotCase{15, 30, 0, 239}));

TEST(MinuteDayBuilder, LabelsEverySlotWithItsEndAndTheDate) {
  auto bars = Build({Tick(10, 0, 0, 100000, 1)});
  EXPECT_EQ(bars[0].time, 571);
  EXPECT_EQ(bars[119].time, 690);
  EXPECT_EQ(bars[120].time, 781);
  EXPECT_EQ(bars[239].time, 900);
  for (const MinuteBar& bar : bars) {
    EXPECT_EQ(bar.packedDate, PackMinuteDate(kDate));
    EXPECT_EQ(bar.reserved, 0);
  }
}

TEST(MinuteDayBuilder, FirstSlotWithoutTradeOpensAtTheReferencePrice) {
  // 10.005 x 100 + 0.503 = 1001.003 -> 1001.
  auto bars = Build({Tick(9, 31, 10, 102300, 3)}, 10.005);
  EXPECT_EQ(bars[0].open, 1001);
  EXPECT_EQ(bars[0].high, 1001);
  EXPECT_EQ(bars[0].low, 1001);
  EXPECT_EQ(bars[0].close, 1001);
  EXPECT_EQ(bars[0].volume, 0);
  EXPECT_EQ(bars[0].amount, 0.0f);
  EXPECT_EQ(bars[1].open, 1023);
  EXPECT_EQ(bars[1].volume, 300);
}

TEST(MinuteDayBuilder, QuietSlotsCarryTheLastCloseIntoTheAfternoon) {
  auto bars = Build({Tick(10, 0, 0, 100000, 1), Tick(10, 0, 30, 101000, 1)});
  for (int i = 31; i < kOneMinuteBarsPerDay; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(bars[i].open, 1010);
    EXPECT_EQ(bars[i].high, 1010);
    EXPECT_EQ(bars[i].low, 1010);
    EXPECT_EQ(bars[i].close, 1010);
    EXPECT_EQ(bars[i].volume, 0);
  }
  // Before the first trade the slots carry the reference price.
  EXPECT_EQ(bars[29].close, 1000);
}

TEST(MinuteDayBuilder, OpenHighLowCloseFollowTheTicksOfTheMinute) {
  auto bars = Build({Tick(9, 45, 0, 100000, 1), Tick(9, 45, 10, 102500, 2), Tick(9, 45, 20, 99000, 3),
                     Tick(9, 45, 50, 100700, 4)});
  const MinuteBar& bar = bars[15];
  EXPECT_EQ(bar.open, 1000);
  EXPECT_EQ(bar.high, 1025);
  EXPECT_EQ(bar.low, 990);
  EXPECT_EQ(bar.close, 1007);
  EXPECT_EQ(bar.volume, 1000);
}

TEST(MinuteDayBuilder, PricesTruncateToTheSecuritysScale) {
  auto twoDecimals = Build({Tick(10, 0, 0, 123456, 1)});
  EXPECT_EQ(twoDecimals[30].close, 1234);
  auto threeDecimals = Build({Tick(10, 0, 0, 123456, 1)}, 10.0, MinuteScales{1000, 100, false});
  EXPECT_EQ(threeDecimals[30].close, 12345);
  auto fourDecimals = Build({Tick(10, 0, 0, 123456, 1)}, 10.0, MinuteScales{10000, 10, false});
  EXPECT_EQ(fourDecimals[30].close, 123456);
}

TEST(MinuteDayBuilder, AmountIsVolumeTimesPriceTimesUnit) {
  // 10 x 10.0000 x 100 per tick, three ticks.
  auto bars = Build({Tick(10, 0, 0, 100000, 10), Tick(10, 0, 1, 100000, 10), Tick(10, 0, 2, 100000, 10)});
  EXPECT_EQ(bars[30].amount, 30000.0f);
  EXPECT_EQ(bars[30].volume, 3000);
  // 7 x 12.3456 x 100 = 8641.92, rounded once to float.
  auto odd = Build({Tick(10, 0, 0, 123456, 7)});
  EXPECT_EQ(odd[30].amount, 8641.92f);
}

TEST(MinuteDayBuilder, IndexAmountIgnoresThePrice) {
  const MinuteScales index{100, 1, true};
  auto bars = Build({Tick(10, 0, 0, 300000, 40), Tick(10, 0, 3, 900000, 2)}, 3000.0, index);
  EXPECT_EQ(bars[30].amount, 4200.0f);  // (40 + 2) x 1 x 100
  EXPECT_EQ(bars[30].volume, 42);
  EXPECT_EQ(bars[30].close, 9000);
}

TEST(MinuteDayBuilder, ScalesClassifyIndexesAndVolumeAmountTypesAsPlainAmount) {
  EXPECT_TRUE(MinuteScalesOf(1, "000001", 0).plainAmount);   // sh index
  EXPECT_TRUE(MinuteScalesOf(0, "399001", 0).plainAmount);   // sz index
  EXPECT_TRUE(MinuteScalesOf(0, "131810", 0).plainAmount);   // sz repo, type 10
  EXPECT_FALSE(MinuteScalesOf(0, "000001", 0).plainAmount);  // a share
  MinuteScales share = MinuteScalesOf(0, "000001", 0);
  EXPECT_EQ(share.priceScale, 100);
  EXPECT_EQ(share.volumeUnit, 100);
}

TEST(MinuteDayBuilder, VolumeOfTwoToTheThirtyMovesPricesOnly) {
  auto bars = Build({Tick(10, 0, 0, 100000, 5), Tick(10, 0, 1, 110000, 1 << 30), Tick(10, 0, 2, 105000, -1)});
  EXPECT_EQ(bars[30].high, 1100);
  EXPECT_EQ(bars[30].close, 1050);
  EXPECT_EQ(bars[30].volume, 500);
  EXPECT_EQ(bars[30].amount, 5000.0f);
}

TEST(MinuteDayBuilder, BarVolumeWrapsToThirtyTwoBits) {
  const int32_t v = (1 << 30) - 1;
  auto bars = Build({Tick(10, 0, 0, 100000, v), Tick(10, 0, 1, 100000, v)});
  uint64_t expected = (2ull * static_cast<uint64_t>(v) * 100ull) & 0xFFFFFFFFull;
  EXPECT_EQ(static_cast<uint32_t>(bars[30].volume), static_cast<uint32_t>(expected));
}

TEST(MinuteDayBuilder, SlotWhosePriceTruncatesToZeroKeepsItsVolume) {
  // 0.0050 is 0 at two decimals: the slot looks untraded and takes the carried
  // close, but its trades stay counted.
  auto bars = Build({Tick(10, 0, 0, 100000, 1), Tick(10, 1, 0, 50, 9)});
  EXPECT_EQ(bars[31].close, 1000);
  EXPECT_EQ(bars[31].volume, 900);
}

TEST(MinuteDayBuilder, HugeReferencePriceSaturates) {
  auto bars = Build({Tick(10, 0, 0, 100000, 1)}, 1e12);
  EXPECT_EQ(bars[0].open, INT32_MAX);
}

TEST(FiveMinuteBars, BarAgreesWithTheFiveOneMinuteBarsItGathers) {
  std::vector<TickRecord> ticks;
  for (int m = 0; m < 10; ++m)
    for (int s = 0; s < 60; s += 20)
      ticks.push_back(Tick(9, 45 + m, s, 100000 + ((m * 7 + s) % 13) * 100 - 600, 1 + m + s));
  auto one = Build(ticks);
  std::vector<MinuteBar> five(kFiveMinuteBarsPerDay);
  DeriveFiveMinuteDays(one.data(), 1, five.data());
  const MinuteBar& bar = five[3];  // one-minute bars 15 .. 19 (09:46 .. 09:50)
  EXPECT_EQ(bar.time, 590);
  EXPECT_EQ(bar.packedDate, PackMinuteDate(kDate));
  EXPECT_EQ(bar.open, one[15].open);
  EXPECT_EQ(bar.close, one[19].close);
  int32_t high = 0, low = INT32_MAX, volume = 0;
  float amount = 0;
  for (int i = 15; i < 20; ++i) {
    high = std::max(high, one[i].high);
    low = std::min(low, one[i].low);
    volume += one[i].volume;
    amount += one[i].amount;
  }
  EXPECT_EQ(bar.high, high);
  EXPECT_EQ(bar.low, low);
  EXPECT_EQ(bar.volume, volume);
  EXPECT_EQ(bar.amount, amount);
  EXPECT_EQ(bar.reserved, 0);
}

TEST(FiveMinuteBars, EndTimesSkipTheLunchBreak) {
  auto one = Build({Tick(10, 0, 0, 100000, 1)});
  std::vector<MinuteBar> five(2 * kFiveMinuteBarsPerDay);
  std::vector<MinuteBar> twoDays(one);
  twoDays.insert(twoDays.end(), one.begin(), one.end());
  DeriveFiveMinuteDays(twoDays.data(), 2, five.data());
  EXPECT_EQ(five[0].time, 575);
  EXPECT_EQ(five[23].time, 690);
  EXPECT_EQ(five[24].time, 785);
  EXPECT_EQ(five[47].time, 900);
  EXPECT_EQ(five[48].time, 575);
  EXPECT_EQ(five[48 + 6].volume, 100);  // second day: 10:00:00 is in the bar ending 10:05
}

}  // namespace
}  // namespace marbloom
