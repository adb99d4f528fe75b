#pragma once
// The checks a front applies to the user's settings entries before it
// confirms them: the days range of the settings page, and text that the
// settings file can hold and give back unchanged.
#include <optional>
#include <string>
#include <string_view>

namespace marbloom {

inline constexpr int kMinEntryMinuteDays = 50;
inline constexpr int kMaxEntryMinuteDays = 250;
inline constexpr const char* kMinuteDaysEntryMessage = "请输入一个介于50和250之间的整数。";

// The most GBK bytes of DOMAIN or VIPDOC that LoadSettings reads back whole.
inline constexpr std::size_t kMaxSettingTextBytes = 229;

// The days entry: decimal digits (blanks around allowed), 50 to 250.
std::optional<int> ParseMinuteDaysEntry(std::string_view text);

// Empty when `text` can be stored and read back unchanged; otherwise the
// refusal, naming `field` ("下载站点", "历史数据目录").
std::string CheckSettingText(std::string_view text, std::string_view field);

}  // namespace marbloom
