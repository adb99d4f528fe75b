#include "common/date_range.h"

#include "common/calendar.h"

namespace marbloom {

DateRangeCheck CheckDateRange(int first, int last, int spanDays, bool limitSpan) {
  if (last < first) return DateRangeCheck::kReversed;
  if (limitSpan && spanDays > kMaxSpanDays) return DateRangeCheck::kTooLong;
  return DateRangeCheck::kOk;
}

const char* DateRangeMessage(DateRangeCheck check) {
  switch (check) {
    case DateRangeCheck::kReversed: return kDateRangeInvalidMessage;
    case DateRangeCheck::kTooLong: return kDateRangeTooLongMessage;
    default: return "";
  }
}

int SpanDays(std::time_t firstTime, std::time_t lastTime) {
  return static_cast<int>((static_cast<long long>(lastTime) - static_cast<long long>(firstTime)) / 86400);
}

int SpanDaysOfDates(int first, int last) {
  int a = DateToDayNumber(first), b = DateToDayNumber(last);
  return a && b ? b - a : 0;
}

}  // namespace marbloom
