#include "base/file_helpers.h"

#include <cerrno>

namespace marbloom {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

}  // namespace

std::string_view TrimmedView(std::string_view s) {
  std::size_t begin = 0, end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

std::string TrimSpaces(std::string_view s) { return std::string(TrimmedView(s)); }

std::string NormalizeDirPath(std::string_view path, std::size_t capacity) {
  std::string out(path);
  if (out.empty()) return out;
  for (char& c : out)
    if (c == '\\') c = '/';
  if (out.back() != '/' && out.size() + 2 <= capacity) out += '/';
  return out;
}

bool MakeDirTree(FileSystem& files, const std::string& path, bool probe) {
  if (path.size() >= kPathCapacity) return false;
  const std::string dir = NormalizeDirPath(path, kPathCapacity);
  // The parent ends at the separator before the last one; every level below
  // the top is created without a probe.
  const std::size_t last = dir.rfind('/');
  if (last != std::string::npos && last > 0) {
    const std::size_t before = dir.rfind('/', last - 1);
    if (before != std::string::npos && !MakeDirTree(files, dir.substr(0, before + 1), false)) return false;
  }
  files.MakeDir(dir);
  if (!probe) return true;
  const std::string probeName = dir + "$.tmp";
  if (!files.Open(probeName, OpenMode::kWrite)) return false;
  files.Remove(probeName);
  return true;
}

bool MoveFileAnywhere(FileSystem& files, const std::string& source, const std::string& target) {
  if (files.Rename(source, target)) return true;
  if (errno != EXDEV) return false;
  const File in = files.Open(source, OpenMode::kReadRegular);
  const int64_t length = in.Length();
  if (length < 0) return false;
  const std::string temp = target + kPartialFileSuffix;
  File out = OpenNewTemporary(files, temp);
  const bool copied = out && files.Copy(in, 0, out, 0, length) && out.Sync();
  if (!out.Close() || !copied || !files.Rename(temp, target)) {
    files.Remove(temp);
    return false;
  }
  files.Remove(source);
  return true;
}

}  // namespace marbloom
