#include <gtest/gtest.h>

#include <random>

#include "common/security_class.h"
#include "tickdata/tick_codec.h"
#include "tick_test_support.h"

namespace marbloom::test {
namespace {

struct EndMarkedCase {
  Bytes bytes;
  int64_t value;
};

class EndMarkedTest : public ::testing::TestWithParam<EndMarkedCase> {};

TEST_P(EndMarkedTest, DecodesAsBothWidthsAndRoundTrips) {
  const EndMarkedCase& c = GetParam();
  const uint8_t* p = c.bytes.data();
  uint64_t v64 = 0;
  ASSERT_TRUE(DecodeEndMarked64(p, c.bytes.data() + c.bytes.size(), &v64));
  EXPECT_EQ(static_cast<int64_t>(v64), c.value);
  EXPECT_EQ(p, c.bytes.data() + c.bytes.size());
  p = c.bytes.data();
  uint32_t v32 = 0;
  ASSERT_TRUE(DecodeEndMarked32(p, c.bytes.data() + c.bytes.size(), &v32));
  EXPECT_EQ(static_cast<int32_t>(v32), static_cast<int32_t>(c.value));
  Bytes encoded;
  PutEndMarked(encoded, c.value);
  EXPECT_EQ(encoded, c.bytes);
}

INSTANTIATE_TEST_SUITE_P(WorkedBytes, EndMarkedTest,
                         ::testing::Values(EndMarkedCase{{0x81}, 1}, EndMarkedCase{{0xC1}, -63},
                                           EndMarkedCase{{0xFF}, -1}, EndMarkedCase{{0xC0}, -64},
                                           EndMarkedCase{{0x80}, 0}, EndMarkedCase{{0xBF}, 63},
                                           EndMarkedCase{{0x00, 0xE4}, 100},
                                           EndMarkedCase{{0x01, 0xC8}, 200},
                                           EndMarkedCase{{0x7F, 0x80}, -128}));

TEST(EndMarkedLimits, MalformedNumbersAreRefused) {
  const Bytes noEnd = {0x01, 0x02, 0x03};
  const uint8_t* p = noEnd.data();
  uint64_t v = 0;
  EXPECT_FALSE(DecodeEndMarked64(p, noEnd.data() + noEnd.size(), &v));
  EXPECT_EQ(p, noEnd.data());

  Bytes eleven(10, 0x00);
  eleven.push_back(0x81);
  p = eleven.data();
  uint32_t v32 = 0;
  EXPECT_FALSE(DecodeEndMarked32(p, eleven.data() + eleven.size(), &v32));
  p = eleven.data();
  EXPECT_TRUE(DecodeEndMarked64(p, eleven.data() + eleven.size(), &v));
  EXPECT_EQ(v, 1u);

  Bytes twentyOne(20, 0x00);
  twentyOne.push_back(0x81);
  p = twentyOne.data();
  EXPECT_FALSE(DecodeEndMarked64(p, twentyOne.data() + twentyOne.size(), &v));
}

TEST(EndMarkedLimits, ThirtyTwoBitNumbersWrap) {
  // 2^32 + 5 accumulated in 32 bits is 5.
  Bytes bytes;
  PutEndMarked(bytes, (int64_t{1} << 32) + 5);
  const uint8_t* p = bytes.data();
  uint32_t v = 0;
  ASSERT_TRUE(DecodeEndMarked32(p, bytes.data() + bytes.size(), &v));
  EXPECT_EQ(v, 5u);
}

Bytes WorkedBlock(const Bytes& tail, int32_t tickCount = 2) {
  Bytes out;
  PutLE<int32_t>(out, 0);
  PutLE<int32_t>(out, tickCount);
  PutLE<int32_t>(out, 34200);
  PutLE<int64_t>(out, 1000);
  PutLE<int64_t>(out, 0);
  PutLE<int64_t>(out, 0);
  PutLE<int32_t>(out, 0);
  PutLE<int16_t>(out, 0);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

TEST(TickBlockDecode, WorkedFiveByteRecord) {
  Bytes block = WorkedBlock({0x8A, 0x81, 0x87, 0x80, 0x80});
  std::vector<TickRecord> ticks;
  ASSERT_TRUE(Decode(block, 2, false, &ticks));
  ASSERT_EQ(ticks.size(), 2u);
  EXPECT_EQ(ticks[0].minute, 570);
  EXPECT_EQ(ticks[0].second, 0);
  EXPECT_EQ(ticks[0].price, 100000);
  EXPECT_EQ(ticks[1].minute, 570);
  EXPECT_EQ(ticks[1].second, 3);
  EXPECT_EQ(ticks[1].kind, 1);
  EXPECT_EQ(ticks[1].price, 100100);
  EXPECT_EQ(ticks[1].volume, 7);
  EXPECT_EQ(ticks[1].extra, 0);
}

TEST(TickBlockDecode, MinusOneTimeAndKindGoesBackOneSecondWithKindTwo) {
  Bytes block = WorkedBlock({0xFF, 0x80, 0x80, 0x80, 0x80});
  std::vector<TickRecord> ticks;
  ASSERT_TRUE(Decode(block, 2, false, &ticks));
  EXPECT_EQ(ticks[1].minute, 569);
  EXPECT_EQ(ticks[1].second, 59);
  EXPECT_EQ(ticks[1].kind, 2);
}

TEST(TickBlockDecode, ExtraFollowsTheSecurityType) {
  std::vector<TestTick> src = {{34200, 500, 10, 7000, 11, 0}, {34203, 501, 20, 7050, 12, 1}};
  Bytes block = EncodeBlock(src);
  std::vector<TickRecord> running, plain;
  ASSERT_TRUE(Decode(block, 3, true, &running));
  ASSERT_TRUE(Decode(block, 3, false, &plain));
  EXPECT_EQ(running[0].extra, 7000);
  EXPECT_EQ(running[1].extra, 7050);
  EXPECT_EQ(plain[0].extra, 11);
  EXPECT_EQ(plain[1].extra, 12);
  EXPECT_EQ(running[1].price, 5010);
  EXPECT_TRUE(TypeIn(12, TypeSet::kRunningExtra));
  EXPECT_TRUE(TypeIn(14, TypeSet::kRunningExtra));
  EXPECT_TRUE(TypeIn(60, TypeSet::kRunningExtra));
  EXPECT_TRUE(TypeIn(62, TypeSet::kRunningExtra));
  EXPECT_FALSE(TypeIn(2, TypeSet::kRunningExtra));
  EXPECT_FALSE(TypeIn(52, TypeSet::kRunningExtra));
}

TEST(TickBlockDecode, DamagedBlocksFailTheDay) {
  std::vector<TickRecord> ticks;
  Bytes shortHeader(41, 0);
  EXPECT_FALSE(Decode(shortHeader, 2, false, &ticks));
  Bytes zeroCount = WorkedBlock({}, 0);
  EXPECT_FALSE(Decode(zeroCount, 2, false, &ticks));
  // Three ticks promised; ten bytes pass the size test but hold one record
  // and four numbers of the next.
  Bytes missingTick = WorkedBlock({0x8A, 0x00, 0xE4, 0x87, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}, 3);
  EXPECT_FALSE(Decode(missingTick, 2, false, &ticks));
  EXPECT_TRUE(ticks.empty());
  // Enough bytes, but a number never ends.
  Bytes noEnd = WorkedBlock({0x8A, 0x81, 0x87, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  EXPECT_FALSE(Decode(noEnd, 2, false, &ticks));
  Bytes huge = WorkedBlock({0x8A, 0x81, 0x87, 0x80, 0x80}, 0x7FFFFFFF);
  EXPECT_FALSE(Decode(huge, 2, false, &ticks));
}

TEST(TickBlockDecode, ExtremeTimeAndKindStaysDefined) {
  Bytes tail;
  PutEndMarked(tail, INT32_MIN);
  for (int i = 0; i < 4; ++i) tail.push_back(0x80);
  Bytes block = WorkedBlock(tail);
  std::vector<TickRecord> ticks;
  ASSERT_TRUE(Decode(block, 2, false, &ticks));
  // floor(-2^31 / 3) = -715827883, remainder 1.
  EXPECT_EQ(ticks[1].kind, 1);
}

struct RescaleCase {
  int decimals;
  int32_t stored;
  int32_t expected;
};

class RescaleTest : public ::testing::TestWithParam<RescaleCase> {};

TEST_P(RescaleTest, PricesEndInTenThousandths) {
  EXPECT_EQ(RescaleTickPrice(GetParam().stored, GetParam().decimals), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(EveryDecimals, RescaleTest,
                         ::testing::Values(RescaleCase{0, 12, 120000}, RescaleCase{1, 123, 123000},
                                           RescaleCase{2, 1234, 123400}, RescaleCase{3, 12345, 123450},
                                           RescaleCase{4, 123456, 123456}, RescaleCase{5, 77, 77},
                                           RescaleCase{255, -5, -5},
                                           RescaleCase{0, 300000, static_cast<int32_t>(3000000000u)}));

TEST(TickBlockUnpack, InflatesOrFallsBackToStoredBytes) {
  Bytes raw = EncodeBlock(SampleTicks(50, 1));
  Bytes out;
  Bytes packed = Compress(raw);
  ASSERT_TRUE(Unpack(packed, static_cast<int32_t>(raw.size()), &out));
  EXPECT_EQ(out, raw);
  ASSERT_TRUE(Unpack(raw, static_cast<int32_t>(raw.size()), &out));
  EXPECT_EQ(out, raw);
  // Larger than twice the declared length: the stored bytes, cut to that buffer.
  ASSERT_TRUE(Unpack(packed, 10, &out));
  EXPECT_EQ(out, Bytes(packed.begin(), packed.begin() + std::min<std::size_t>(20, packed.size())));
  // A truncated stream does not inflate.
  Bytes cut(packed.begin(), packed.end() - 6);
  ASSERT_TRUE(Unpack(cut, static_cast<int32_t>(raw.size()), &out));
  EXPECT_EQ(out, cut);
  EXPECT_FALSE(Unpack(raw, 0, &out));
}

TEST(TickBlockUnpack, ExactFitInflates) {
  Bytes raw = EncodeBlock(SampleTicks(200, 4));
  if (raw.size() % 2 != 0) raw.push_back(0);
  Bytes packed = Compress(raw);
  Bytes out;
  // 2 x unpackedLength == actual size, odd boundary for the growing buffer.
  ASSERT_TRUE(Unpack(packed, static_cast<int32_t>(raw.size() / 2), &out));
  EXPECT_EQ(out, raw);
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

TEST(TickBlockUnpack, EachBlockOfASequenceGivesItsOwnBytes) {
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

}  // namespace
}  // namespace marbloom::test
