// The reused-buffer paths the minute build reads through must give exactly
// what the one-shot functions give: the number decoder against the plain
// loop, the unpacker and the per-security reader against UnpackTickBlock and
// ReadTickDay, the bar builder against the plain per-tick arithmetic, and
// whole minute files against a build fed by ReadTickDay.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "app/settings.h"
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

// Field by field: a tick record has padding.
bool SameTicks(const TickRecord* a, const TickRecord* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i].minute != b[i].minute || a[i].price != b[i].price || a[i].volume != b[i].volume ||
        a[i].extra != b[i].extra || a[i].kind != b[i].kind || a[i].second != b[i].second)
      return false;
  }
  return true;
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

TEST(ReusePathsDecoder, BlockIntoReusedBufferAgreesWithTheVectorDecoder) {
  std::mt19937 rng(11);
  GrowBuffer<TickRecord> reused;
  for (int round = 0; round < 600; ++round) {
    Bytes block = RandomBlock(rng, 1 + static_cast<int>(rng() % 300));
    // Damage some: cut the tail, flip a byte, or claim more ticks.
    switch (round % 4) {
      case 1: block.resize(block.size() - rng() % std::min<std::size_t>(block.size(), 30)); break;
      case 2: block[rng() % block.size()] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
      case 3: block[4] = static_cast<uint8_t>(block[4] + 1 + rng() % 5); break;
      default: break;
    }
    const int decimals = static_cast<int>(rng() % 5);
    const bool running = round % 2 == 0;
    std::vector<TickRecord> expected;
    const bool ok = DecodeTickBlock(block.data(), block.size(), decimals, running, &expected);
    std::size_t count = 99;
    ASSERT_EQ(DecodeTickBlock(block.data(), block.size(), decimals, running, &reused, &count), ok) << round;
    ASSERT_EQ(count, expected.size()) << round;
    if (count > 0) {
      ASSERT_TRUE(SameTicks(reused.data(), expected.data(), count)) << round;
    }
  }
}

TEST(ReusePathsUnpacker, AgreesWithUnpackTickBlockAcrossASequence) {
  std::mt19937 rng(3);
  const Bytes small = EncodeBlock(SampleTicks(20, 1));
  const Bytes zeros(200000, 0);  // inflates far past the first buffer size
  const Bytes large = RandomBlock(rng, 3000);
  struct Case {
    Bytes stored;
    int32_t unpackedLength;
  };
  Bytes truncated = Compress(large);
  truncated.resize(truncated.size() / 2);
  const std::vector<Case> cases = {
      {Compress(large), static_cast<int32_t>(large.size())},
      {Compress(small), static_cast<int32_t>(small.size())},
      {Compress(zeros), static_cast<int32_t>(zeros.size())},
      {Compress(zeros), 1000},  // needs more than twice its length: the stored bytes, cut
      {truncated, static_cast<int32_t>(large.size())},
      {small, static_cast<int32_t>(small.size())},  // not a zlib stream
      {small, 3},
      {Compress(large), static_cast<int32_t>(large.size())},
      {Compress(small), 0},
  };
  TickBlockUnpacker unpacker;
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const Case& c = cases[k];
    std::vector<uint8_t> expected;
    const bool ok = UnpackTickBlock(c.stored.data(), c.stored.size(), c.unpackedLength, &expected);
    const uint8_t* out = nullptr;
    std::size_t size = 1;
    ASSERT_EQ(unpacker.Unpack(c.stored.data(), c.stored.size(), c.unpackedLength, &out, &size), ok) << k;
    ASSERT_EQ(Bytes(out, out + size), expected) << k;
  }
}

// ReadDay of a reader opened once against ReadTickDay, date by date.
void ExpectReaderMatches(int market, const std::string& code, const std::vector<int32_t>& dates) {
  TickSecurityReader securityReader;
  ASSERT_TRUE(securityReader.Open(market, code));
  for (int32_t date : dates) {
    std::optional<TickDay> expected = TickReader().ReadTickDay(market, code, date);
    TickDayView view;
    ASSERT_EQ(securityReader.ReadDay(date, &view), expected.has_value()) << code << " " << date;
    if (!expected) continue;
    EXPECT_EQ(view.date, expected->date);
    EXPECT_EQ(view.refPrice, expected->refPrice);
    ASSERT_EQ(view.count, expected->ticks.size());
    EXPECT_TRUE(SameTicks(view.ticks, expected->ticks.data(), view.count));
  }
}

TEST(ReusePathsSecurityReader, EveryDayReadsAsReadTickDayReadsIt) {
  TestTree tree;
  std::vector<StoredDay> days = {MakeDay(20240102, 1), MakeDay(20240103, 2, 300), MakeDay(20240104, 3, 5)};
  const Bytes raw = EncodeBlock(SampleTicks(9, 4));
  days.push_back(StoredDay{20240105, raw, static_cast<int32_t>(raw.size())});  // stored, not packed
  days.push_back(MakeDay(20240103, 5, 12));                                     // a repeated date
  days.push_back(MakeDay(20240101, 6, 30));                                     // going back
  WritePair("sz159001", days);
  WritePair("sh600000", days);
  const std::vector<int32_t> dates = {20240101, 20240102, 20240103, 20240104, 20240105, 20240108};
  ExpectReaderMatches(0, "159001", dates);
  ExpectReaderMatches(1, "600000", dates);

  // A damaged block in the middle, a negative length, a missing data file.
  days[1].stored[days[1].stored.size() / 2] ^= 0xFF;
  days[2].unpackedLength = -5;
  WritePair("sz000002", days);
  ExpectReaderMatches(0, "000002", dates);
  Bytes index = IndexBytes(days);
  index[16 + 22 + 11] = 0xF0;  // the second entry's stored length goes negative
  WriteFileBytes(TickIndexPath("sz000003"), index);
  WriteFileBytes(TickDataPath("sz000003"), DataBytes(days));
  ExpectReaderMatches(0, "000003", dates);
  WriteFileBytes(TickIndexPath("sz000004"), IndexBytes(days));
  ExpectReaderMatches(0, "000004", dates);
}

TEST(ReusePathsSecurityReader, IndexDatesOnlyForAWholeIndex) {
  TestTree tree;
  const std::vector<StoredDay> days = {MakeDay(20240102, 1), MakeDay(20240103, 2)};
  WritePair("sz000001", days);
  TickSecurityReader securityReader;
  ASSERT_TRUE(securityReader.Open(0, "000001"));
  ASSERT_TRUE(securityReader.IndexDates());
  EXPECT_EQ(*securityReader.IndexDates(), (std::vector<int32_t>{20240102, 20240103}));

  Bytes index = IndexBytes(days);
  index.push_back(0);  // not whole entries
  WriteFileBytes(TickIndexPath("sz000001"), index);
  ASSERT_TRUE(securityReader.Open(0, "000001"));
  EXPECT_FALSE(securityReader.IndexDates());
  index.pop_back();
  index[12] = 3;  // the count disagrees with the entries
  WriteFileBytes(TickIndexPath("sz000001"), index);
  ASSERT_TRUE(securityReader.Open(0, "000001"));
  EXPECT_FALSE(securityReader.IndexDates());
  EXPECT_FALSE(securityReader.Open(0, "000009"));
  EXPECT_FALSE(securityReader.Open(0, "../x01"));
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

TEST(ReusePathsEngine, WholeStoreAndRangeFilesEqualABuildFedByReadTickDay) {
  TestTree tree;
  std::mt19937 rng(9);
  std::vector<StoredDay> days;
  for (int k = 0; k < 12; ++k) {
    const Bytes raw = RandomBlock(rng, 50 + static_cast<int>(rng() % 400));
    days.push_back(StoredDay{20240301 + k, Compress(raw), static_cast<int32_t>(raw.size()), 9.5 + k, 2, 0});
  }
  days[4].stored[days[4].stored.size() / 3] ^= 0x5A;  // a day that does not decode
  WritePair("sz000001", days);
  WritePair("sh510050", days);
  WritePair("sz399001", days);

  auto buildAll = [](MinuteEngine& engine) {
    std::vector<Bytes> files;
    for (auto [first, last] : {std::pair{0, 0}, std::pair{20240305, 20240312}}) {
      EXPECT_EQ(engine.BuildMinuteLines(first, last), 0);
      for (const char* path : {"sz/minline/sz000001.01", "sh/fzline/sh510050.5", "sz/minline/sz399001.01"})
        files.push_back(ReadFileBytes(Settings().historyDir + path));
    }
    return files;
  };
  MinuteEngine fast;
  const std::vector<Bytes> fastFiles = buildAll(fast);
  MinuteEngine plain([](int market, std::string_view code, int date) {
    return TickReader().ReadTickDay(market, code, date);
  });
  const std::vector<Bytes> plainFiles = buildAll(plain);
  ASSERT_EQ(fastFiles.size(), plainFiles.size());
  for (std::size_t k = 0; k < fastFiles.size(); ++k) {
    EXPECT_FALSE(fastFiles[k].empty()) << k;
    EXPECT_EQ(fastFiles[k], plainFiles[k]) << k;
  }
}

}  // namespace
}  // namespace marbloom::test
