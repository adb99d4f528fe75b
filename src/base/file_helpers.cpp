#include "base/file_helpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

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

bool MakeDirTree(const std::string& path, bool probe) {
  if (path.size() >= kPathCapacity) return false;
  const std::string dir = NormalizeDirPath(path, kPathCapacity);
  // The parent ends at the separator before the last one; every level below
  // the top is created without a probe.
  const std::size_t last = dir.rfind('/');
  if (last != std::string::npos && last > 0) {
    const std::size_t before = dir.rfind('/', last - 1);
    if (before != std::string::npos && !MakeDirTree(dir.substr(0, before + 1), false)) return false;
  }
  ::mkdir(dir.c_str(), 0777);
  if (!probe) return true;
  const std::string probeName = dir + "$.tmp";
  const int fd = ::open(probeName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probeName.c_str());
  return true;
}

int64_t FileLength(int fd) {
  if (fd < 0) return -1;
  // One call for a regular file; other files are measured by seeking.
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return static_cast<int64_t>(st.st_size);
  off_t here = ::lseek(fd, 0, SEEK_CUR);
  if (here < 0) return -1;
  off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0) return -1;
  if (::lseek(fd, here, SEEK_SET) < 0) return -1;
  return static_cast<int64_t>(end);
}

bool WriteAllAt(int fd, const void* data, std::size_t size, int64_t offset) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

bool ReadAllAt(int fd, void* data, std::size_t size, int64_t offset) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

bool ReplaceFileAtomically(const std::string& source, const std::string& target) {
  return std::rename(source.c_str(), target.c_str()) == 0;
}

bool SyncFileSystemOf(const std::string& path) {
  const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::syncfs(fd) == 0;
  return ::close(fd) == 0 && synced;
}

bool MoveFileAnywhere(const std::string& source, const std::string& target) {
  if (std::rename(source.c_str(), target.c_str()) == 0) return true;
  if (errno != EXDEV) return false;
  int in = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return false;
  std::string temp = target + kPartialFileSuffix;
  ::unlink(temp.c_str());
  int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (out < 0) {
    ::close(in);
    return false;
  }
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  int64_t offset = 0;
  for (;;) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    if (!WriteAllAt(out, buffer.data(), static_cast<std::size_t>(n), offset)) {
      ok = false;
      break;
    }
    offset += n;
  }
  ::close(in);
  if (ok && ::fsync(out) != 0) ok = false;
  if (::close(out) != 0) ok = false;
  if (ok && std::rename(temp.c_str(), target.c_str()) != 0) ok = false;
  if (!ok) {
    std::remove(temp.c_str());
    return false;
  }
  std::remove(source.c_str());
  return true;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace marbloom
