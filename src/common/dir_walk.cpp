#include "common/dir_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

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

std::vector<WalkEntry> ListCountedFiles(const std::string& dir, std::string_view pattern) {
  std::vector<WalkEntry> entries;
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return entries;
  int dfd = ::dirfd(d);
  while (dirent* e = ::readdir(d)) {
    std::string_view name = e->d_name;
    if (name.empty() || name[0] == '.' || !WildcardMatch(pattern, name)) continue;
    struct stat st;
    if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const bool regular = S_ISREG(st.st_mode);
    if (S_ISDIR(st.st_mode) || (regular && st.st_size == 0)) continue;
    entries.push_back({std::string(name), static_cast<int64_t>(st.st_size), regular});
  }
  ::closedir(d);
  std::sort(entries.begin(), entries.end(),
            [](const WalkEntry& a, const WalkEntry& b) { return a.name < b.name; });
  return entries;
}

std::vector<WalkEntry> ListCountedFiles(const std::string& searchPath) {
  std::size_t slash = searchPath.rfind('/');
  if (slash == std::string::npos) return ListCountedFiles(std::string(), searchPath);
  return ListCountedFiles(searchPath.substr(0, slash + 1), std::string_view(searchPath).substr(slash + 1));
}

}  // namespace marbloom
