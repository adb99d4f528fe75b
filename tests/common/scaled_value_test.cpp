#include "common/scaled_value.h"

#include <gtest/gtest.h>

#include <limits>

namespace marbloom {
namespace {

TEST(ScaledValue, RoundsWithTheSinglePrecisionAddend) {
  EXPECT_EQ(ScaleInt32(10.005, 100.0f), 1001);  // 1000.5 + 0.503
  EXPECT_EQ(ScaleInt32(10.004, 100.0f), 1000);
  EXPECT_EQ(ScaleInt32(1001, 0.5f), 501);
  EXPECT_EQ(ScaleInt32(1000, 0.5f), 500);
  EXPECT_EQ(ScaleInt32(1000, 0.9995f), 1000);
  EXPECT_EQ(ScaleUint32(1000, 1.1f), 1100u);
  EXPECT_EQ(ScaleInt32(-3, 1.0f), -2);  // truncation toward zero after the addend
}

TEST(ScaledValue, OutOfRangeSaturatesAndNanGivesZero) {
  EXPECT_EQ(ScaleInt32(3e9, 1.0f), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(ScaleInt32(-3e9, 1.0f), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ScaleUint32(5e9, 1.0f), std::numeric_limits<uint32_t>::max());
  EXPECT_EQ(ScaleUint32(-5, 1.0f), 0u);
  EXPECT_EQ(ScaleInt32(std::numeric_limits<double>::quiet_NaN(), 1.0f), 0);
  EXPECT_EQ(ScaleInt32(1, std::numeric_limits<float>::infinity()), std::numeric_limits<int32_t>::max());
}

TEST(ScaledValue, NarrowFieldsWrap) {
  EXPECT_EQ(Low16(70000), 4464);
  EXPECT_EQ(Low32(5000000000LL), 705032704u);
  EXPECT_EQ(Low32Signed(-1), -1);
  EXPECT_EQ(Low32(std::numeric_limits<int64_t>::min()), 0u);
}

}  // namespace
}  // namespace marbloom
