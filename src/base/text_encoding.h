#pragma once
// Text lives in memory as UTF-8; the settings file, the downloaded configuration
// and the run log are GBK on disk. These helpers convert at that boundary.
#include <cstdarg>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace marbloom {

// Each character that GBK cannot hold, and each malformed UTF-8 sequence,
// becomes one '?'.
std::string Utf8ToGbk(std::string_view utf8);
// Each byte sequence that is not a GBK character becomes one U+FFFD.
std::string GbkToUtf8(std::string_view gbk);

// The GBK form when every character of the text has one; nothing when a
// character would be replaced.
std::optional<std::string> Utf8ToGbkExactly(std::string_view utf8);

// The longest prefix of a GBK string that fits in maxBytes without splitting a
// double-byte character.
std::string CutGbk(std::string_view gbk, std::size_t maxBytes);

// The longest prefix of a UTF-8 text whose GBK form fits in maxBytes.
std::string FitUtf8ToGbkBytes(std::string_view utf8, std::size_t maxBytes);

// True when the UTF-8 text holds a control character (C0, DEL or C1), which
// printed as it stands could move a terminal's cursor or recolour it.
bool HasControlCharacters(std::string_view utf8);
// The text with each control character as one '?', so that text from a
// server or an archive, printed or logged, stays one plain line.
std::string PrintableText(std::string_view utf8);

// printf into a string of whatever length the text needs.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, va_list args);

}  // namespace marbloom
