#include "app/settings_entry.h"

#include "base/file_helpers.h"
#include "base/text_encoding.h"

namespace marbloom {

std::optional<int> ParseMinuteDaysEntry(std::string_view text) {
  const std::string digits = TrimSpaces(text);
  if (digits.empty() || digits.size() > 9) return std::nullopt;
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < kMinEntryMinuteDays || value > kMaxEntryMinuteDays) return std::nullopt;
  return value;
}

std::string CheckSettingText(std::string_view text, std::string_view field) {
  const std::string gbk = Utf8ToGbk(text);
  if (GbkToUtf8(gbk) != text) return std::string(field) + "含有无法保存的字符，请修改后再确认!";
  if (gbk.size() > kMaxSettingTextBytes)
    return std::string(field) + "太长，最多" + std::to_string(kMaxSettingTextBytes) + "个字节，请修改后再确认!";
  return std::string();
}

}  // namespace marbloom
