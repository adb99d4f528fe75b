#pragma once
// A profile (INI) file reader and writer with the semantics of the Windows
// profile calls: sections and keys match without regard to letter case, a
// missing file, section or key gives the default, values are trimmed, and a
// write updates the key in place (creating file, section or key as needed)
// while every other line is kept. Files are GBK on disk; values are UTF-8 here.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/file_system.h"

namespace marbloom {

// Chosen keys of one section, read with one pass over the file: a loader that
// asks for many keys of a long file reads it once, not once per key, and
// keeps only the values it asked for.
class ProfileSection {
 public:
  ProfileSection(FileSystem& files, const std::string& file, std::string_view section,
                 const std::vector<std::string>& keys);

  // Reads at most bufferSize - 1 bytes of the value's GBK form.
  std::string ReadString(std::string_view key, std::string_view defaultValue, std::size_t bufferSize) const;
  // The leading decimal number of the value (optional sign); text gives 0.
  int ReadInt(std::string_view key, int defaultValue) const;
  // Whether the section holds the key (with any value).
  bool Has(std::string_view key) const { return Raw(key).has_value(); }

 private:
  // The key's value as stored (GBK, trimmed, quotes kept); nothing when the
  // key is missing or was not asked for.
  std::optional<std::string> Raw(std::string_view key) const;
  std::unordered_map<std::string, std::optional<std::string>> values_;  // by lower-case GBK key
};

// One key read on its own.
std::string ProfileReadString(FileSystem& files, const std::string& file, std::string_view section,
                              std::string_view key, std::string_view defaultValue, std::size_t bufferSize);

// Whether the file holds the key in the section (with any value).
bool ProfileHasKey(FileSystem& files, const std::string& file, std::string_view section, std::string_view key);

// The leading decimal number of the value (optional sign); text gives 0.
int ProfileReadInt(FileSystem& files, const std::string& file, std::string_view section, std::string_view key,
                   int defaultValue);

struct ProfileEntry {
  std::string section, key, value;
};

// Sets every entry, in order, in one replacement of the file: the new text is
// written completely to a temporary beside it, which is then renamed over it.
// False, with the file as it was, when that fails.
bool ProfileWriteStrings(FileSystem& files, const std::string& file, const std::vector<ProfileEntry>& entries);
bool ProfileWriteString(FileSystem& files, const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace marbloom
