#include "common/calendar.h"

#include <cstdlib>
#include <ctime>

namespace marbloom {
namespace {

constexpr int kMaxDayNumber = 1095457;

bool IsLeap(int year) { return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0); }

int MonthLength(int year, int month) {
  static constexpr int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kLengths[month - 1];
}

// Days in years 1 .. year-1.
int DaysBeforeYear(int year) {
  int y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400;
}

int DaysBeforeMonth(int year, int month) {
  int days = 0;
  for (int m = 1; m < month && m <= 12; ++m) days += MonthLength(year, m);
  return days;
}

}  // namespace

int DayOfWeek(int date) {
  int year = date / 10000, month = date / 100 % 100, day = date % 100;
  int count = year > 1980 ? DaysBeforeYear(year) - DaysBeforeYear(1980) : 0;
  count += DaysBeforeMonth(year, month);
  return (count + day + 1) % 7;
}

int DateToDayNumber(int date) {
  if (date < 10101 || date > 30001231) return 0;
  int year = date / 10000, month = date / 100 % 100, day = date % 100;
  if (month < 1 || month > 12 || day < 1 || day > MonthLength(year, month)) return 0;
  return DaysBeforeYear(year) + DaysBeforeMonth(year, month) + day;
}

// The readers judge every record's date: only its parts are looked at.
bool IsCalendarDate(int date) {
  if (date < 19000101 || date > 29991231) return false;
  const int year = date / 10000, month = date / 100 % 100, day = date % 100;
  return month >= 1 && month <= 12 && day >= 1 && day <= MonthLength(year, month);
}

MarketTime MarketTimeAt(std::time_t now) {
  const std::time_t shifted = now + kMarketUtcOffsetSeconds;
  std::tm t{};
  gmtime_r(&shifted, &t);
  return MarketTime{(t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday, t.tm_hour * 60 + t.tm_min};
}

int DayNumberToDate(int n) {
  if (n < 1 || n > kMaxDayNumber) return 0;
  // Estimate the year, then correct it by at most one step either way.
  int year = static_cast<int>(static_cast<long long>(n) * 400 / 146097) + 1;
  while (year > 1 && DaysBeforeYear(year) >= n) --year;
  while (DaysBeforeYear(year + 1) < n) ++year;
  n -= DaysBeforeYear(year);
  int month = 1;
  while (n > MonthLength(year, month)) n -= MonthLength(year, month++);
  return year * 10000 + month * 100 + n;
}

int AddDays(int date, int n, int reverse) {
  if (date < 17000101) return 0;
  long long distance = std::llabs(static_cast<long long>(n));
  if (distance > 300000) return 0;
  bool forward = n >= 0;
  if (reverse) forward = !forward;
  long long target = DateToDayNumber(date) + (forward ? distance : -distance);
  if (target < 1 || target > kMaxDayNumber) return 0;
  return DayNumberToDate(static_cast<int>(target));
}

int NextTradingDay(int date) {
  int d = AddDays(date, 1, 0);
  while (d != 0) {
    int weekday = DayOfWeek(d);
    if (weekday != 0 && weekday != 6) break;
    d = AddDays(d, 1, 0);
  }
  return d;
}

int LocalDateOf(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
}

std::time_t LocalNoonOf(int date) {
  std::tm t{};
  t.tm_year = date / 10000 - 1900;
  t.tm_mon = date / 100 % 100 - 1;
  t.tm_mday = date % 100;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

}  // namespace marbloom
