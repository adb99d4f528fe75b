// The tick encoder against the documented bytes, and a round trip through an
// independent decoder written from the format's description.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "common/little_endian.h"
#include "samplegen.h"
#include "tickdata/tick_formats.h"

namespace marbloom::sample {
namespace {

using Bytes = std::vector<uint8_t>;

// End-marked base-128 decoding as documented: bit 6 of the first group is the
// sign; each group is shifted in from the right; the last byte has bit 7 set.
bool DecodeNumber(const Bytes& b, std::size_t& pos, int64_t& value) {
  if (pos >= b.size()) return false;
  uint64_t acc = (b[pos] & 0x40) ? ~uint64_t{0} : 0;
  for (int n = 0; n < 20 && pos < b.size(); ++n) {
    const uint8_t byte = b[pos++];
    acc = (acc << 7) | (byte & 0x7F);
    if (byte & 0x80) {
      value = static_cast<int64_t>(acc);
      return true;
    }
  }
  return false;
}

struct NumberCase {
  int64_t value;
  Bytes bytes;
};

class TickNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(TickNumberTest, EncodesToDocumentedBytesAndBack) {
  const NumberCase& c = GetParam();
  EXPECT_EQ(EncodeTickNumber(c.value), c.bytes);
  std::size_t pos = 0;
  int64_t back = 0;
  ASSERT_TRUE(DecodeNumber(c.bytes, pos, back));
  EXPECT_EQ(back, c.value);
  EXPECT_EQ(pos, c.bytes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Documented, TickNumberTest,
    ::testing::Values(NumberCase{0, {0x80}}, NumberCase{1, {0x81}}, NumberCase{-1, {0xFF}},
                      NumberCase{-63, {0xC1}}, NumberCase{-64, {0xC0}}, NumberCase{63, {0xBF}},
                      NumberCase{64, {0x00, 0xC0}}, NumberCase{100, {0x00, 0xE4}},
                      NumberCase{200, {0x01, 0xC8}}, NumberCase{-65, {0x7F, 0xBF}},
                      NumberCase{8191, {0x3F, 0xFF}}, NumberCase{8192, {0x00, 0x40, 0x80}}));

TEST(TickNumberRange, ExtremesRoundTripWithinTheLengthLimits) {
  const int64_t values[] = {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
                            std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
                            int64_t{1} << 30, (int64_t{1} << 32) + 5, -(int64_t{1} << 40)};
  for (int64_t v : values) {
    const Bytes b = EncodeTickNumber(v);
    EXPECT_LE(b.size(), 10u) << v;
    std::size_t pos = 0;
    int64_t back = 0;
    ASSERT_TRUE(DecodeNumber(b, pos, back)) << v;
    EXPECT_EQ(back, v);
    for (std::size_t i = 0; i + 1 < b.size(); ++i) EXPECT_EQ(b[i] & 0x80, 0) << v;
  }
  EXPECT_LE(EncodeTickNumber(std::numeric_limits<int32_t>::min()).size(), 5u);
}

TEST(TickBlockEncoder, DocumentedSecondTick) {
  SampleTick first{34200, 1000, 500, 77, 3, 2};
  SampleTick second{34203, 1001, 7, 77, 0, 1};
  const Bytes block = EncodeTickBlock({first, second}, 0x01020304);
  ASSERT_EQ(block.size(), 42u + 5u);
  EXPECT_EQ(LoadLE<int32_t>(&block[0]), 0x01020304);
  EXPECT_EQ(LoadLE<int32_t>(&block[4]), 2);
  EXPECT_EQ(LoadLE<int32_t>(&block[8]), 34200);
  EXPECT_EQ(LoadLE<int64_t>(&block[12]), 1000);
  EXPECT_EQ(LoadLE<int64_t>(&block[20]), 500);
  EXPECT_EQ(LoadLE<int64_t>(&block[28]), 77);
  EXPECT_EQ(LoadLE<int32_t>(&block[36]), 3);
  EXPECT_EQ(LoadLE<int16_t>(&block[40]), 2);
  EXPECT_EQ(Bytes(block.begin() + 42, block.end()), (Bytes{0x8A, 0x81, 0x87, 0x80, 0x80}));
}

TEST(TickBlockEncoder, FallingPricesAndRunningValuesRoundTrip) {
  std::vector<SampleTick> ticks{{33900, 5000, 100, 1000, 5, 2},
                                {34200, 4990, 1 << 30, 900, -7, 0},
                                {34200, 5100, (int64_t{1} << 32) + 1, 5000, 12, 2},
                                {41401, 4000, 1, -20, 0, 1},
                                {54000, 4000, 300, -20, 1, 2}};
  const Bytes block = EncodeTickBlock(ticks);
  std::size_t pos = sizeof(TickBlockHeader);
  int64_t seconds = ticks[0].seconds, price = ticks[0].price, running = ticks[0].runningValue;
  for (std::size_t i = 1; i < ticks.size(); ++i) {
    int64_t timeAndKind, delta, volume, runningDelta, plain;
    ASSERT_TRUE(DecodeNumber(block, pos, timeAndKind) && DecodeNumber(block, pos, delta) &&
                DecodeNumber(block, pos, volume) && DecodeNumber(block, pos, runningDelta) &&
                DecodeNumber(block, pos, plain));
    const int64_t elapsed = timeAndKind >= 0 ? timeAndKind / 3 : -((-timeAndKind + 2) / 3);
    seconds += elapsed;
    price += delta;
    running += runningDelta;
    EXPECT_EQ(seconds, ticks[i].seconds) << i;
    EXPECT_EQ(timeAndKind - 3 * elapsed, ticks[i].kind) << i;
    EXPECT_EQ(price, ticks[i].price) << i;
    EXPECT_EQ(volume, ticks[i].volume) << i;
    EXPECT_EQ(running, ticks[i].runningValue) << i;
    EXPECT_EQ(plain, ticks[i].plainValue) << i;
  }
  EXPECT_EQ(pos, block.size());
}

TEST(TickBlockEncoder, StoredFormIsZlibOrThePlainBlock) {
  const Bytes block = EncodeTickBlock({{34200, 1000, 1, 0, 0, 0}, {34260, 1002, 2, 0, 0, 1}});
  EXPECT_EQ(StoreTickBlock(block, false), block);
  const Bytes stored = StoreTickBlock(block, true);
  ASSERT_GE(stored.size(), 2u);
  EXPECT_EQ(stored[0] & 0x0F, 8);
  EXPECT_EQ(((stored[0] << 8) | stored[1]) % 31, 0);
  EXPECT_TRUE(EncodeTickBlock({}).empty());
}

}  // namespace
}  // namespace marbloom::sample
