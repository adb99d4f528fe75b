#pragma once
// Directory walks: the files of a folder whose names match a pattern ('?' one
// character, '*' any run, letter case ignored) and that count as data files:
// not a directory, name not starting with '.', size not zero. A symbolic link
// is not followed: it and any other entry that is not a regular file count,
// whatever their size, marked as not regular.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_system.h"

namespace marbloom {

struct WalkEntry {
  std::string name;  // file name without the directory
  int64_t size = 0;  // -1: not looked at (ListDetail::kKinds)
  bool regular = true;
};

bool WildcardMatch(std::string_view pattern, std::string_view name);

// Counted files of `dir` (ending in '/') matching `pattern`, sorted by name,
// and with `withEmpty` the empty ones too (a check reports them). A missing
// or unreadable folder gives none. With ListDetail::kKinds no file is looked
// at: sizes are unknown, so empty files are listed too.
std::vector<WalkEntry> ListCountedFiles(FileSystem& files, const std::string& dir, std::string_view pattern,
                                        bool withEmpty = false, ListDetail detail = ListDetail::kSizes);

// The same for a search path "dir/pattern" as the engines format it.
std::vector<WalkEntry> ListCountedFiles(FileSystem& files, const std::string& searchPath);

}  // namespace marbloom
