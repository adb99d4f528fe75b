#include "common/date_range.h"

#include <gtest/gtest.h>

namespace marbloom {
namespace {

TEST(DateRange, OrderAndSpan) {
  EXPECT_EQ(CheckDateRange(20220501, 20220601, SpanDaysOfDates(20220501, 20220601), true), DateRangeCheck::kOk);
  EXPECT_EQ(CheckDateRange(20220501, 20220602, SpanDaysOfDates(20220501, 20220602), true),
            DateRangeCheck::kTooLong);
  EXPECT_EQ(CheckDateRange(20220501, 20220602, 32, false), DateRangeCheck::kOk);
  EXPECT_EQ(CheckDateRange(20220502, 20220501, -1, true), DateRangeCheck::kReversed);
  EXPECT_STREQ(DateRangeMessage(DateRangeCheck::kReversed), "日期区间不合法!");
  EXPECT_STREQ(DateRangeMessage(DateRangeCheck::kTooLong), "日期区间太长!");
}

TEST(DateRange, PickerSpanTruncatesWholeDays) {
  EXPECT_EQ(SpanDays(0, 31 * 86400 + 86399), 31);
  EXPECT_EQ(SpanDays(0, 32 * 86400), 32);
  EXPECT_EQ(SpanDays(86400, 0), -1);
  EXPECT_EQ(SpanDaysOfDates(20240101, 20240202), 32);
}

}  // namespace
}  // namespace marbloom
