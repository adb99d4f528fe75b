// The reused-buffer paths every reader goes through: the number decoder
// against a plain loop, the unpacker and the security reader over sequences
// of blocks, days and securities, and the bar builder against the plain
// per-tick arithmetic.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tickdata/minute_day_builder.h"
#include "tickdata/minute_engine.h"
#include "tickdata/tick_codec.h"
#include "tickdata/tick_reader.h"
#include "common/trading_sessions.h"
#include "tick_test_support.h"

namespace marbloom::test {
namespace {

// The decoder as first written: one loop, no shortcut.
template <typename U, std::ptrdiff_t kMaxBytes>
bool PlainEndMarked(const uint8_t*& p, const uint8_t* end, U* value) {
  if (p >= end) return false;
  const uint8_t* limit = end - p > kMaxBytes ? p + kMaxBytes : end;
  U acc = (*p & 0x40) ? static_cast<U>(~U{0}) : U{0};
  for (const uint8_t* q = p; q < limit; ++q) {
    acc = static_cast<U>((acc << 7) | (*q & 0x7Fu));
    if (*q & 0x80) {
      p = q + 1;
      *value = acc;
      return true;
    }
  }
  return false;
}

// Random bytes with end bytes at a chosen density, so numbers of every length appear.
Bytes RandomBytes(std::mt19937& rng, std::size_t n, unsigned endPercent) {
  Bytes out(n);
  for (uint8_t& b : out) {
    b = static_cast<uint8_t>(rng() & 0x7F);
    if (rng() % 100 < endPercent) b |= 0x80;
  }
  return out;
}

TEST(ReusePathsDecoder, EndMarkedAgreesWithThePlainLoopOnRandomBytes) {
  std::mt19937 rng(7);
  for (int round = 0; round < 4000; ++round) {
    const Bytes bytes = RandomBytes(rng, 1 + rng() % 48, round % 4 == 0 ? 3 : 40);
    const uint8_t* end = bytes.data() + bytes.size();
    const uint8_t *fast = bytes.data(), *plain = bytes.data();
    for (;;) {
      uint64_t a = 1, b = 2;
      const bool width64 = (fast - bytes.data()) % 2 == 0;
      bool okFast, okPlain;
      if (width64) {
        okFast = DecodeEndMarked64(fast, end, &a);
        okPlain = PlainEndMarked<uint64_t, 20>(plain, end, &b);
      } else {
        uint32_t a32 = 1, b32 = 2;
        okFast = DecodeEndMarked32(fast, end, &a32);
        okPlain = PlainEndMarked<uint32_t, 10>(plain, end, &b32);
        a = a32;
        b = b32;
      }
      ASSERT_EQ(okFast, okPlain) << round;
      ASSERT_EQ(fast, plain) << round;
      if (!okFast) break;
      ASSERT_EQ(a, b) << round;
    }
  }
}

Bytes RandomBlock(std::mt19937& rng, int ticks) {
  std::vector<TestTick> src;
  int32_t seconds = 33000 + static_cast<int32_t>(rng() % 600);
  for (int i = 0; i < ticks; ++i) {
    seconds += static_cast<int32_t>(rng() % 40);
    src.push_back({seconds, 900 + static_cast<int64_t>(rng() % 300), static_cast<int64_t>(rng() % 100000),
                   static_cast<int64_t>(rng()), static_cast<int32_t>(rng()), static_cast<int>(rng() % 3)});
  }
  return EncodeBlock(src);
}

TEST(ReusePathsUnpacker, EachBlockOfASequenceGivesItsOwnBytes) {
  std::mt19937 rng(3);
  const Bytes small = EncodeBlock(SampleTicks(20, 1));
  const Bytes zeros(200000, 0);  // inflates far past the first buffer size
  const Bytes large = RandomBlock(rng, 3000);
  Bytes truncated = Compress(large);
  truncated.resize(truncated.size() / 2);
  const Bytes packedZeros = Compress(zeros), packedSmall = Compress(small);
  struct Case {
    Bytes stored;
    int32_t unpackedLength;
    bool ok;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {Compress(large), static_cast<int32_t>(large.size()), true, large},
      {packedSmall, static_cast<int32_t>(small.size()), true, small},
      {packedZeros, static_cast<int32_t>(zeros.size()), true, zeros},
      // Needs more than twice its length: the stored bytes, cut to that.
      {packedZeros, 1000, true,
       Bytes(packedZeros.begin(), packedZeros.begin() + std::min<std::size_t>(2000, packedZeros.size()))},
      {truncated, static_cast<int32_t>(large.size()), true, truncated},
      {small, static_cast<int32_t>(small.size()), true, small},  // not a zlib stream
      {small, 3, true, Bytes(small.begin(), small.begin() + 6)},
      {Compress(large), static_cast<int32_t>(large.size()), true, large},
      {packedSmall, 0, false, {}},
  };
  TickBlockUnpacker unpacker;
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const Case& c = cases[k];
    const uint8_t* out = nullptr;
    std::size_t size = 1;
    ASSERT_EQ(unpacker.Unpack(c.stored.data(), c.stored.size(), c.unpackedLength, &out, &size), c.ok) << k;
    ASSERT_EQ(Bytes(out, out + size), c.expected) << k;
  }
}

// One reader across securities and days: each day as stored, a repeated date
// read from its first entry, days that do not read refused.
TEST(ReusePathsSecurityReader, OneReaderReadsEveryDayOfEverySecurity) {
  TestTree tree;
  const DataLayout layout = tree.layout();
  std::vector<StoredDay> days = {MakeDay(20240102, 1), MakeDay(20240103, 2, 300), MakeDay(20240104, 3, 5)};
  const Bytes raw = EncodeBlock(SampleTicks(9, 4));
  days.push_back(StoredDay{20240105, raw, static_cast<int32_t>(raw.size())});  // stored, not packed
  days.push_back(MakeDay(20240103, 5, 12));                                     // a repeated date
  WritePair(layout, "sz159001", days);
  std::vector<StoredDay> damaged = days;
  damaged[1].stored[damaged[1].stored.size() / 2] ^= 0xFF;  // does not decode
  damaged[2].unpackedLength = -5;
  WritePair(layout, "sh600000", damaged);
  struct Expected {
    int date;
    int ticks;  // 0: does not read
    int seed;
  };
  TickSecurityReader reader(layout);
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(TickPairIsWhole(reader.Open(0, "159001")));
    for (const Expected& e : {Expected{20240102, 20, 1}, Expected{20240103, 300, 2}, Expected{20240104, 5, 3},
                              Expected{20240105, 9, 4}, Expected{20240108, 0, 0}}) {
      TickDayView view;
      ASSERT_EQ(reader.ReadDay(e.date, &view), e.ticks > 0) << e.date;
      if (e.ticks == 0) continue;
      const std::vector<TestTick> src = SampleTicks(e.ticks, e.seed);
      ASSERT_EQ(view.count, src.size());
      EXPECT_EQ(view.ticks[e.ticks - 1].volume, src.back().volume);
      EXPECT_EQ(view.ticks[e.ticks - 1].price, src.back().price * 100);
    }
    ASSERT_TRUE(TickPairIsWhole(reader.Open(1, "600000")));
    TickDayView view;
    EXPECT_TRUE(reader.ReadDay(20240102, &view));
    EXPECT_FALSE(reader.ReadDay(20240103, &view));
    EXPECT_FALSE(reader.ReadDay(20240104, &view));
    EXPECT_TRUE(reader.ReadDay(20240105, &view));
  }
}

TEST(ReusePathsSecurityReader, EntriesOnlyForAWholeIndex) {
  TestTree tree;
  const DataLayout layout = tree.layout();
  const std::vector<StoredDay> days = {MakeDay(20240102, 1), MakeDay(20240103, 2)};
  WritePair(layout, "sz000001", days);
  TickSecurityReader securityReader(layout);
  ASSERT_EQ(securityReader.Open(0, "000001"), TickPairState::kSound);
  ASSERT_EQ(securityReader.Entries().size(), 2u);
  const int32_t secondDate = securityReader.Entries()[1].date;  // a packed field: read by value
  EXPECT_EQ(secondDate, 20240103);

  Bytes index = IndexBytes(days);
  index.push_back(0);  // not whole entries
  WriteFileBytes(layout.TickIndexFile("sz000001"), index);
  EXPECT_EQ(securityReader.Open(0, "000001"), TickPairState::kBadLength);
  EXPECT_TRUE(securityReader.Entries().empty());
  index.pop_back();
  index[12] = 3;  // the count disagrees with the entries
  WriteFileBytes(layout.TickIndexFile("sz000001"), index);
  EXPECT_EQ(securityReader.Open(0, "000001"), TickPairState::kCountMismatch);
  EXPECT_TRUE(securityReader.Entries().empty());
  EXPECT_EQ(securityReader.Open(0, "000009"), TickPairState::kNotOpened);
  EXPECT_EQ(securityReader.Open(0, "../x01"), TickPairState::kNotOpened);
}

// One day built with the plain per-tick arithmetic: a division per tick and
// the extended-precision amount.
void PlainBuildDay(const TickDay& day, const MinuteScales& scales, MinuteBar* bars) {
  std::memset(bars, 0, kOneMinuteBlockBytes);
  for (const TickRecord& tick : day.ticks) {
    MinuteBar& bar = bars[TimeToSlot(tick.minute, 0)];
    int32_t p = tick.price / (10000 / scales.priceScale);
    bar.close = p;
    if (bar.open <= 0) bar.open = p;
    if (bar.low <= 0 || bar.low > p) bar.low = p;
    if (bar.high < p) bar.high = p;
    uint32_t v = static_cast<uint32_t>(tick.volume);
    if (v >= kTickVolumeLimit) continue;
    bar.volume = static_cast<int32_t>(static_cast<uint32_t>(bar.volume) + v * static_cast<uint32_t>(scales.volumeUnit));
    long double amount = scales.plainAmount ? static_cast<long double>(v) * scales.volumeUnit * 100
                                            : static_cast<long double>(v) * tick.price * scales.volumeUnit * 0.0001;
    bar.amount = static_cast<float>(static_cast<long double>(bar.amount) + amount);
  }
  for (int i = 0; i < kOneMinuteBarsPerDay; ++i) {
    bars[i].packedDate = PackMinuteDate(day.date);
    bars[i].time = static_cast<uint16_t>(SlotEndTime(i, 1, 0));
  }
}

TEST(ReusePathsBuilder, TradedBarsAgreeWithThePlainArithmeticForEveryScale) {
  std::mt19937 rng(5);
  for (int scale : {1, 10, 100, 1000, 10000}) {
    for (int unit : {1, 10, 100}) {
      for (bool plainAmount : {false, true}) {
        MinuteScales scales{scale, unit, plainAmount};
        TickDay day;
        day.date = 20240311;
        day.refPrice = 12.34;
        for (int i = 0; i < 2000; ++i) {
          const int seconds = 34000 + static_cast<int>(rng() % 20000);
          // Negative prices, huge volumes and volumes past the limit included.
          const int32_t price = static_cast<int32_t>(rng() % 4000000) - (i % 50 == 0 ? 3000000 : 0);
          const int32_t volume = static_cast<int32_t>(i % 97 == 0 ? rng() : rng() % 50000);
          day.ticks.push_back({static_cast<int16_t>(seconds / 60), price, volume, 0, 0,
                               static_cast<uint8_t>(seconds % 60)});
        }
        MinuteBar built[kOneMinuteBarsPerDay], plain[kOneMinuteBarsPerDay];
        BuildMinuteDay(day, scales, built);
        PlainBuildDay(day, scales, plain);
        for (int i = 0; i < kOneMinuteBarsPerDay; ++i) {
          if (plain[i].close == 0) continue;  // quiet slots are filled afterwards
          ASSERT_EQ(std::memcmp(&built[i], &plain[i], sizeof(MinuteBar)), 0) << scale << " " << unit << " " << i;
        }
      }
    }
  }
}

}  // namespace
}  // namespace marbloom::test
