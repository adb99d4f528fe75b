// Sample tick archives through the tick conversion into minute files, checked
// against bars worked out here from the generated ticks themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "base/file_helpers.h"
#include "common/market.h"
#include "common/scaled_value.h"
#include "common/security_class.h"
#include "common/shared_state.h"
#include "samplegen.h"
#include "tickdata/minute_engine.h"
#include "tickdata/minute_test_support.h"
#include "tickdata/tick_engine.h"

namespace marbloom {
namespace {

constexpr int kOne = kOneMinuteBarsPerDay;
constexpr int kFive = kFiveMinuteBarsPerDay;
const std::vector<int> kDays{20240311, 20240312, 20240313};

// One slot worked out from the sample ticks.
struct ExpectedSlot {
  bool traded = false;
  int32_t open = 0, high = 0, low = 0, close = 0;
  uint32_t volume = 0;
  double amount = 0;
};

int SlotOfSeconds(int seconds) {
  const int m = seconds / 60;
  if (m < 570) return 0;
  if (m < 690) return m - 570;
  if (m < 780) return 119;
  if (m < 900) return m - 660;
  return 239;
}

std::vector<ExpectedSlot> ExpectedDay(const sample::SampleTickDay& day) {
  const int decimals = PriceDecimals(day.market, day.code, 0);
  const int type = ClassifySecurity(day.market, day.code);
  const int unit = VolumeUnit(day.market, day.code);
  const bool plain = IsIndexType(type) || IsVolumeAmountType(type);
  std::vector<ExpectedSlot> slots(kOne);
  for (const sample::SampleTick& t : day.ticks) {
    ExpectedSlot& s = slots[static_cast<std::size_t>(SlotOfSeconds(t.seconds))];
    const int64_t tenThousandths = t.price * static_cast<int64_t>(std::pow(10, 4 - day.priceDecimals));
    const int32_t p = static_cast<int32_t>(tenThousandths / static_cast<int64_t>(std::pow(10, 4 - decimals)));
    if (!s.traded) s.open = s.high = s.low = p;
    s.traded = true;
    s.high = std::max(s.high, p);
    s.low = std::min(s.low, p);
    s.close = p;
    const uint64_t v = static_cast<uint64_t>(t.volume) & 0xFFFFFFFFu;
    if (v >= (1u << 30)) continue;
    s.volume += static_cast<uint32_t>(v * static_cast<uint64_t>(unit));
    s.amount += plain ? static_cast<double>(v) * unit * 100 : static_cast<double>(v) * tenThousandths * unit / 1e4;
  }
  return slots;
}

void ExpectBarsMatch(const MinuteBar* bars, const std::vector<ExpectedSlot>& slots, const std::string& where) {
  for (int i = 0; i < kOne; ++i) {
    const ExpectedSlot& s = slots[static_cast<std::size_t>(i)];
    const MinuteBar& bar = bars[i];
    SCOPED_TRACE(where + " slot " + std::to_string(i));
    EXPECT_EQ(static_cast<uint32_t>(bar.volume), s.volume);
    EXPECT_NEAR(bar.amount, s.amount, std::max(1.0, s.amount * 1e-5));
    if (s.traded && s.close > 0 && s.low > 0) {
      EXPECT_EQ(bar.open, s.open);
      EXPECT_EQ(bar.high, s.high);
      EXPECT_EQ(bar.low, s.low);
      EXPECT_EQ(bar.close, s.close);
    } else if (!s.traded && i > 0) {
      EXPECT_EQ(bar.open, bars[i - 1].close);
      EXPECT_EQ(bar.close, bars[i - 1].close);
    }
  }
}

TEST(MinuteEndToEnd, SampleTicksBecomeMatchingMinuteBars) {
  test::TestTree tree;
  const DataLayout layout = tree.layout();
  const sample::SampleOptions options{7, 150, false};
  for (int date : kDays) ASSERT_TRUE(sample::WriteTickArchive(date, options, layout.TickArchiveDir()));
  TickEngine ticks(layout);
  ASSERT_TRUE(ticks.ConvertTickRange(kDays.front(), kDays.back()).done());
  MinuteEngine minutes(layout, MinuteOptions{120, 500, 0});
  ASSERT_TRUE(minutes.BuildMinuteLines(kDays.front(), kDays.back()).done());
  EXPECT_EQ(test::StatusText(), "分钟数据转档完成!");

  int checkedDays = 0;
  std::map<std::string, int> dayOfFile;
  for (int date : kDays) {
    for (const sample::SampleTickDay& day : sample::TickDays(date, options)) {
      const std::string where = std::string(kMarketPrefix[day.market]) + day.code + " " + std::to_string(date);
      auto one = test::ReadBars(MinuteFilePath(layout, MinuteKind::kOneMinute, day.market, day.code));
      auto five = test::ReadBars(MinuteFilePath(layout, MinuteKind::kFiveMinute, day.market, day.code));
      int index = dayOfFile[where.substr(0, 8)]++;
      ASSERT_GE(one.size(), static_cast<std::size_t>((index + 1) * kOne)) << where;
      ASSERT_GE(five.size(), static_cast<std::size_t>((index + 1) * kFive)) << where;
      const MinuteBar* bars = one.data() + index * kOne;
      ASSERT_EQ(UnpackMinuteDate(bars[0].packedDate), date) << where;
      auto expected = ExpectedDay(day);
      ExpectBarsMatch(bars, expected, where);
      if (!expected[0].traded) {
        const float scale = static_cast<float>(PriceScale(PriceDecimals(day.market, day.code, 0)));
        EXPECT_EQ(bars[0].close, ScaleInt32(day.refPrice, scale)) << where;
      }
      uint32_t dayVolume = 0, fiveVolume = 0;
      for (const ExpectedSlot& s : expected) dayVolume += s.volume;
      for (int k = 0; k < kFive; ++k) fiveVolume += static_cast<uint32_t>(five[index * kFive + k].volume);
      EXPECT_EQ(fiveVolume, dayVolume) << where;
      ++checkedDays;
    }
  }
  EXPECT_GT(checkedDays, 300);
}

}  // namespace
}  // namespace marbloom
