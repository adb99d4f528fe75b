#pragma once
// The date-range rule of the operation pages.
#include <ctime>
#include <optional>
#include <string>

namespace marbloom {

inline constexpr const char* kDateRangeInvalidMessage = "日期区间不合法!";
inline constexpr const char* kDateRangeTooLongMessage = "日期区间太长!";
inline constexpr int kMaxSpanDays = 31;
inline constexpr int kFirstSupportedDate = 20220501;

enum class DateRangeCheck { kOk, kReversed, kTooLong };

// last < first is reversed; with limitSpan, a span above 31 days is too long.
DateRangeCheck CheckDateRange(int first, int last, int spanDays, bool limitSpan);

// The message of a failed check (empty for kOk).
const char* DateRangeMessage(DateRangeCheck check);

// Whole days between two picker time values (seconds / 86400, truncated).
int SpanDays(std::time_t firstTime, std::time_t lastTime);
// Whole days between two YYYYMMDD dates (0 when either is invalid).
int SpanDaysOfDates(int first, int last);

// A date as a user types it: YYYYMMDD, YYYY-MM-DD, today or yesterday (any
// case; taken from `today`, YYYYMMDD, or the local date); nothing unless it
// is a calendar date.
std::optional<int> ParseDate(const std::string& text, int today);
std::optional<int> ParseDate(const std::string& text);

}  // namespace marbloom
