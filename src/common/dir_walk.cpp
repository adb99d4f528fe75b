#include "common/dir_walk.h"

#include <algorithm>

namespace marbloom {
namespace {

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Fold(pattern[p]) == Fold(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<WalkEntry> ListCountedFiles(FileSystem& files, const std::string& dir, std::string_view pattern,
                                        bool withEmpty, ListDetail detail) {
  std::vector<DirEntry> found;
  files.List(dir, [pattern](std::string_view name) { return !name.starts_with('.') && WildcardMatch(pattern, name); },
             &found, detail);
  std::vector<WalkEntry> entries;
  for (DirEntry& e : found) {
    const bool regular = e.kind == DirEntry::Kind::kRegular;
    if (e.kind == DirEntry::Kind::kDirectory || (regular && e.size == 0 && !withEmpty)) continue;
    entries.push_back({std::move(e.name), e.size, regular});
  }
  std::sort(entries.begin(), entries.end(),
            [](const WalkEntry& a, const WalkEntry& b) { return a.name < b.name; });
  return entries;
}

std::vector<WalkEntry> ListCountedFiles(FileSystem& files, const std::string& searchPath) {
  std::size_t slash = searchPath.rfind('/');
  if (slash == std::string::npos) return ListCountedFiles(files, std::string(), searchPath);
  return ListCountedFiles(files, searchPath.substr(0, slash + 1), std::string_view(searchPath).substr(slash + 1));
}

}  // namespace marbloom
