#pragma once
// Calendar arithmetic on dates written as the decimal integer YYYYMMDD
// (0 = no date). Gregorian leap years; no holidays are known.
#include <ctime>

namespace marbloom {

// 0 = Sunday ... 6 = Saturday; meant for dates from 1980-01-01 on (no validation).
int DayOfWeek(int date);
// Days counted with 0001-01-01 as day 1; 0 for an invalid date.
int DateToDayNumber(int date);
// The date of a day number in 1 .. 1095457 (3000-04-05); else 0.
int DayNumberToDate(int dayNumber);
// n days later (earlier when n < 0; `reverse` flips the direction); 0 on bad input.
int AddDays(int date, int n, int reverse);
// The next date after `date` that is not a Saturday or a Sunday; 0 on bad input.
int NextTradingDay(int date);

// A date of the years a data file can hold (1900 to 2999) that the calendar knows.
bool IsCalendarDate(int date);

// The market's clock is China time, UTC+8 the whole year (China has had no
// daylight saving time since 1991), whatever the machine's time zone.
inline constexpr int kMarketUtcOffsetSeconds = 8 * 3600;
struct MarketTime {
  int date = 0;    // YYYYMMDD
  int minute = 0;  // of the day
};
MarketTime MarketTimeAt(std::time_t now);

// The local calendar date of a time value, as YYYYMMDD.
int LocalDateOf(std::time_t t);
// Local noon of a date, as a date picker holds it.
std::time_t LocalNoonOf(int date);

}  // namespace marbloom
