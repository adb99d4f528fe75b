#pragma once
// Text lives in memory as UTF-8; the settings file, the downloaded configuration
// and the run log are GBK on disk. These helpers convert at that boundary.
#include <cstddef>
#include <string>
#include <string_view>

namespace marbloom {

// Characters that GBK cannot hold become '?'.
std::string Utf8ToGbk(std::string_view utf8);
// Bytes that are not valid GBK become U+FFFD.
std::string GbkToUtf8(std::string_view gbk);

// The longest prefix of a GBK string that fits in maxBytes without splitting a
// double-byte character.
std::string CutGbk(std::string_view gbk, std::size_t maxBytes);

// The longest prefix of a UTF-8 text whose GBK form fits in maxBytes.
std::string FitUtf8ToGbkBytes(std::string_view utf8, std::size_t maxBytes);

}  // namespace marbloom
