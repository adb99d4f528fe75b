#include "common/calendar.h"

#include <gtest/gtest.h>

#include <chrono>

namespace marbloom {
namespace {

using namespace std::chrono;

// Independent reference: the standard library's civil calendar.
int ToDate(const year_month_day& ymd) {
  return static_cast<int>(ymd.year()) * 10000 + static_cast<int>(static_cast<unsigned>(ymd.month())) * 100 +
         static_cast<int>(static_cast<unsigned>(ymd.day()));
}
// 0001-01-01 is day 1.
int ReferenceDayNumber(const sys_days& d) {
  return static_cast<int>((d - sys_days(year{1} / January / 1)).count()) + 1;
}

TEST(Calendar, AgreesWithTheCivilCalendarOverCenturies) {
  for (sys_days d = sys_days(year{1} / January / 1); d <= sys_days(year{3000} / April / 5); d += days{97}) {
    int date = ToDate(year_month_day(d));
    ASSERT_EQ(DateToDayNumber(date), ReferenceDayNumber(d)) << date;
    ASSERT_EQ(DayNumberToDate(ReferenceDayNumber(d)), date);
  }
}

TEST(Calendar, EveryDayOfTheTradingEraRoundTripsWithItsWeekday) {
  for (sys_days d = sys_days(year{1980} / January / 1); d <= sys_days(year{2100} / December / 31); d += days{1}) {
    int date = ToDate(year_month_day(d));
    ASSERT_EQ(DayOfWeek(date), static_cast<int>(weekday(d).c_encoding())) << date;
    ASSERT_EQ(AddDays(date, 1, 0), ToDate(year_month_day(d + days{1}))) << date;
    ASSERT_EQ(AddDays(date, -1, 0), ToDate(year_month_day(d - days{1}))) << date;
  }
}

TEST(Calendar, RejectsInvalidDates) {
  EXPECT_NE(DateToDayNumber(20240229), 0);
  EXPECT_NE(DateToDayNumber(20000229), 0);
  EXPECT_EQ(DateToDayNumber(20230229), 0);
  EXPECT_EQ(DateToDayNumber(21000229), 0);
  EXPECT_EQ(DateToDayNumber(20241301), 0);
  EXPECT_EQ(DateToDayNumber(20240100), 0);
  EXPECT_EQ(DateToDayNumber(10100), 0);
  EXPECT_EQ(DateToDayNumber(30001232), 0);
  EXPECT_NE(DateToDayNumber(30001231), 0);
  EXPECT_EQ(DayNumberToDate(0), 0);
  EXPECT_EQ(DayNumberToDate(1095457), 30000405);
  EXPECT_EQ(DayNumberToDate(1095458), 0);
}

TEST(Calendar, AddDaysEdges) {
  EXPECT_EQ(AddDays(20231231, 1, 0), 20240101);
  EXPECT_EQ(AddDays(20240301, -1, 0), 20240229);
  EXPECT_EQ(AddDays(20240301, 1, 1), 20240229);
  EXPECT_EQ(AddDays(16991231, 1, 0), 0);
  EXPECT_EQ(AddDays(20240101, 300001, 0), 0);
  EXPECT_EQ(AddDays(20240101, 300000, 0), DayNumberToDate(DateToDayNumber(20240101) + 300000));
  EXPECT_EQ(AddDays(30000405, 1, 0), 0);  // past the last representable day
}

TEST(Calendar, WeekdaysAndTradingDays) {
  EXPECT_EQ(DayOfWeek(20220501), 0);
  EXPECT_EQ(DayOfWeek(20220502), 1);
  EXPECT_EQ(DayOfWeek(19800101), 2);
  EXPECT_EQ(NextTradingDay(20220429), 20220502);
  EXPECT_EQ(NextTradingDay(20220430), 20220502);
  EXPECT_EQ(NextTradingDay(20220502), 20220503);
  EXPECT_EQ(NextTradingDay(0), 0);
  // The last days the calendar can name: stepping past them ends with 0.
  EXPECT_EQ(NextTradingDay(30000405), 0);
}

}  // namespace
}  // namespace marbloom
