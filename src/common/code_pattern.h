#pragma once
// Security-code patterns "mmcccccc": two market characters and six code
// characters, '?' matching any one character.
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace marbloom {

inline constexpr const char* kPatternLengthMessage =
    "代码长度错误，请按mmcccccc格式，mm为市场，cccccc为代码!";
inline constexpr const char* kCodeFormatMessage = "代码格式不规范!";

// Which markets the first two characters select ("??" all three, "s?" sz and
// sh, "sj" none). Shorter text selects nothing.
std::array<bool, 3> SelectMarkets(std::string_view pattern);

// The eight-character rule of the pages (the text as trimmed by the caller).
bool HasPatternLength(std::string_view pattern);

// Every character a digit, a letter or '?': nothing a file-name search would
// read as more than one name.
bool HasPatternCharacters(std::string_view pattern);

// The six code characters of a pattern, as a file-name pattern.
std::string CodePart(std::string_view pattern);

struct SingleSecurity {
  int market;
  std::string code;
};

// One security without wildcards: eight characters, a market prefix in any
// letter case (sz, sh, and bj when allowed), six decimal digits.
std::optional<SingleSecurity> ParseSingleSecurity(std::string_view text, bool allowBj);

// A code taken from a data file is usable for paths only when it is six ASCII digits.
bool IsSixDigitCode(std::string_view code);

}  // namespace marbloom
