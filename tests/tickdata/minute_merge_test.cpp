// Merging new days into a minute file's held days under the retention limit.
#include <gtest/gtest.h>

#include <vector>

#include "tickdata/minute_files.h"
#include "tickdata/minute_test_support.h"

namespace marbloom {
namespace {

using test::DayDates;
using test::MakeDays;
using test::Weekdays;

constexpr int kOne = kOneMinuteBarsPerDay;

// Held days in a buffer with room for `capacity` days.
struct Held {
  Held(const std::vector<int>& dates, int barsPerDay, int capacity)
      : bars(static_cast<std::size_t>(capacity) * barsPerDay), count(static_cast<int>(dates.size())),
        barsPerDay(barsPerDay) {
    auto days = MakeDays(dates, barsPerDay, 1);
    std::copy(days.begin(), days.end(), bars.begin());
  }
  void Merge(const std::vector<int>& dates, int retention, int marker = 2) {
    auto fresh = MakeDays(dates, barsPerDay, marker);
    count = MergeMinuteDays(bars.data(), count, retention, fresh.data(), static_cast<int>(dates.size()), barsPerDay);
  }
  std::vector<int> Dates() const {
    return DayDates(std::vector<MinuteBar>(bars.begin(), bars.begin() + count * barsPerDay), barsPerDay);
  }
  int MarkerOf(int day) const { return bars[static_cast<std::size_t>(day * barsPerDay)].open; }

  std::vector<MinuteBar> bars;
  int count;
  int barsPerDay;
};

class FullFileOfFifty : public ::testing::Test {
 protected:
  std::vector<int> dates = Weekdays(20240101, 52);  // 50 held, two spare later dates
  std::vector<int> held{dates.begin() + 1, dates.begin() + 51};
  Held file{held, kOne, 60};
};

TEST_F(FullFileOfFifty, NewerDayDropsTheOldestAndIsAppended) {
  file.Merge({dates[51]}, 50);
  ASSERT_EQ(file.count, 50);
  EXPECT_EQ(file.Dates().front(), held[1]);
  EXPECT_EQ(file.Dates().back(), dates[51]);
  EXPECT_EQ(file.MarkerOf(49), 2);
}

TEST_F(FullFileOfFifty, OlderDayIsDiscarded) {
  file.Merge({dates[0]}, 50);
  EXPECT_EQ(file.count, 50);
  EXPECT_EQ(file.Dates(), held);
}

TEST_F(FullFileOfFifty, EqualDayReplacesTheHeldOne) {
  file.Merge({held[20]}, 50);
  EXPECT_EQ(file.Dates(), held);
  EXPECT_EQ(file.MarkerOf(20), 2);
  EXPECT_EQ(file.MarkerOf(19), 1);
}

TEST_F(FullFileOfFifty, GapDayPushesOutTheOldestAndTakesItsPlace) {
  // Remove one held day to make a gap, then fill a full file around it.
  Held gapped({held.begin(), held.begin() + 10}, kOne, 60);
  std::vector<int> rest(held.begin() + 11, held.end());
  rest.push_back(dates[51]);
  gapped.Merge(rest, 50, 1);
  ASSERT_EQ(gapped.count, 50);
  gapped.Merge({held[10]}, 50, 3);
  std::vector<int> expected(held.begin() + 1, held.end());
  expected.push_back(dates[51]);
  EXPECT_EQ(gapped.Dates(), expected);
  EXPECT_EQ(gapped.MarkerOf(9), 3);
}

TEST(MinuteMerge, DayInsertedInOrderWhileBelowRetention) {
  auto dates = Weekdays(20240101, 5);
  Held file({dates[0], dates[1], dates[3], dates[4]}, kOne, 10);
  file.Merge({dates[2]}, 50);
  EXPECT_EQ(file.Dates(), dates);
  EXPECT_EQ(file.MarkerOf(2), 2);
}

TEST(MinuteMerge, EmptyFileTakesTheNewDaysAsTheyAre) {
  auto dates = Weekdays(20240101, 3);
  Held file({}, kOne, 10);
  file.Merge(dates, 50);
  EXPECT_EQ(file.Dates(), dates);
}

TEST(MinuteMerge, SeveralNewDaysKeepTheFileAtItsRetention) {
  auto dates = Weekdays(20240101, 60);
  Held file({dates.begin(), dates.begin() + 50}, kOne, 60);
  file.Merge({dates.begin() + 50, dates.end()}, 50);
  EXPECT_EQ(file.Dates(), std::vector<int>(dates.begin() + 10, dates.end()));
}

TEST(MinuteMerge, FiveMinuteFileOfThreeHundredDaysStaysAtThreeHundred) {
  auto dates = Weekdays(20230102, 301);
  Held file({dates.begin(), dates.begin() + 300}, kFiveMinuteBarsPerDay, 2500);
  file.Merge({dates[300]}, 300);
  ASSERT_EQ(file.count, 300);
  EXPECT_EQ(file.Dates().front(), dates[1]);
  EXPECT_EQ(file.Dates().back(), dates[300]);
}

}  // namespace
}  // namespace marbloom
