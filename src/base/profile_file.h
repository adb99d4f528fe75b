#pragma once
// A profile (INI) file reader and writer with the semantics of the Windows
// profile calls: sections and keys match without regard to letter case, a
// missing file, section or key gives the default, values are trimmed, and a
// write updates the key in place (creating file, section or key as needed)
// while every other line is kept. Files are GBK on disk; values are UTF-8 here.
#include <cstddef>
#include <string>
#include <string_view>

namespace marbloom {

// Reads at most bufferSize - 1 bytes of the value's GBK form.
std::string ProfileReadString(const std::string& file, std::string_view section, std::string_view key,
                              std::string_view defaultValue, std::size_t bufferSize);

// The leading decimal number of the value (optional sign); text gives 0.
int ProfileReadInt(const std::string& file, std::string_view section, std::string_view key,
                   int defaultValue);

// Returns false when the file cannot be written.
bool ProfileWriteString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace marbloom
