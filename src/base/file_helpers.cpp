#include "base/file_helpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace marbloom {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

}  // namespace

char* TrimSpaces(char* s) {
  if (s == nullptr || *s == '\0') return s;
  std::size_t lead = 0;
  while (IsBlank(s[lead])) ++lead;
  if (lead > 0) std::memmove(s, s + lead, std::strlen(s + lead) + 1);
  std::size_t len = std::strlen(s);
  while (len > 0 && IsBlank(s[len - 1])) s[--len] = '\0';
  return s;
}

std::string TrimSpaces(std::string_view s) {
  std::size_t begin = 0, end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return std::string(s.substr(begin, end - begin));
}

void NormalizeDirPath(char* path, std::size_t capacity) {
  if (path == nullptr) return;
  std::size_t len = std::strlen(path);
  if (len == 0) return;
  for (std::size_t i = 0; i < len; ++i)
    if (path[i] == '\\') path[i] = '/';
  if (path[len - 1] != '/' && len + 2 <= capacity) {
    path[len] = '/';
    path[len + 1] = '\0';
  }
}

std::string NormalizeDirPath(std::string_view path, std::size_t capacity) {
  std::string out(path);
  if (out.empty()) return out;
  for (char& c : out)
    if (c == '\\') c = '/';
  if (out.back() != '/' && out.size() + 2 <= capacity) out += '/';
  return out;
}

int MakeDirTree(char* path, int probe) {
  if (path == nullptr) return 0;
  NormalizeDirPath(path, kPathCapacity);
  char work[kPathCapacity];
  std::snprintf(work, sizeof work, "%s", path);
  char* last = std::strrchr(work, '/');
  if (last != nullptr) {
    char* before = nullptr;
    for (char* p = work; p < last; ++p)
      if (*p == '/') before = p;
    if (before != nullptr) {
      char parent[kPathCapacity];
      std::size_t n = static_cast<std::size_t>(before - work) + 1;
      std::memcpy(parent, work, n);
      parent[n] = '\0';
      if (!MakeDirTree(parent, 0)) return 0;
    }
  }
  ::mkdir(work, 0777);
  if (!probe) return 1;
  char probeName[kPathCapacity + 8];
  std::snprintf(probeName, sizeof probeName, "%s$.tmp", work);
  std::FILE* f = std::fopen(probeName, "wb");
  if (f == nullptr) return 0;
  std::fclose(f);
  std::remove(probeName);
  return 1;
}

int MakeDirTree(const std::string& path, int probe) {
  if (path.size() >= kPathCapacity) return 0;
  char buffer[kPathCapacity];
  std::snprintf(buffer, sizeof buffer, "%s", path.c_str());
  return MakeDirTree(buffer, probe);
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
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  std::string temp = target + ".part";
  int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
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
