#include "common/date_range.h"

#include <cctype>

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

namespace {

std::string Lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::optional<int> ParseDigits(const std::string& text) {
  std::string digits;
  if (text.size() == 10 && text[4] == '-' && text[7] == '-')
    digits = text.substr(0, 4) + text.substr(5, 2) + text.substr(8, 2);
  else if (text.size() == 8)
    digits = text;
  else
    return std::nullopt;
  int date = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    date = date * 10 + (c - '0');
  }
  if (DateToDayNumber(date) == 0) return std::nullopt;
  return date;
}

}  // namespace

std::optional<int> ParseDate(const std::string& text, int today) {
  const std::string word = Lowered(text);
  if (word == "today") return today;
  if (word == "yesterday") return AddDays(today, -1, 0);
  return ParseDigits(text);
}

std::optional<int> ParseDate(const std::string& text) { return ParseDate(text, LocalDateOf(std::time(nullptr))); }

}  // namespace marbloom
