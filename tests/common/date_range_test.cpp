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

struct DateCase {
  const char* text;
  int today;
  std::optional<int> date;
};

TEST(TypedDates, AcceptsTheFourFormsAndNothingElse) {
  const std::vector<DateCase> cases = {
      {"20220505", 20240301, 20220505},   {"2022-05-05", 20240301, 20220505}, {"today", 20240301, 20240301},
      {"Today", 20240301, 20240301},      {"yesterday", 20240301, 20240229}, {"yesterday", 20240101, 20231231},
      {"20240229", 0, 20240229},          {"20230229", 0, std::nullopt},     {"2022-02-30", 0, std::nullopt},
      {"2022-5-5", 0, std::nullopt},      {"2022/05/05", 0, std::nullopt},   {"202205051", 0, std::nullopt},
      {"2022050", 0, std::nullopt},       {"2022-05-5x", 0, std::nullopt},   {"", 0, std::nullopt},
      {"tomorrow", 20240301, std::nullopt}, {"+2022050", 0, std::nullopt},   {"20221301", 0, std::nullopt},
  };
  for (const DateCase& c : cases) EXPECT_EQ(ParseDate(c.text, c.today), c.date) << c.text;
}

}  // namespace
}  // namespace marbloom
