#include "daily/daily_io.h"

#include <sys/stat.h>

#include <cerrno>
#include <new>

#include "base/file_helpers.h"

namespace marbloom {

UniqueFd OpenOrCreateForUpdate(const std::string& path) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    UniqueFd fd = OpenForUpdate(path);
    if (fd) return fd;
    if (errno != ENOENT) return fd;
    fd = UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd || errno != EEXIST) return fd;  // created, or failed for good
  }
  return UniqueFd();
}

bool TryResize(std::vector<uint8_t>& buffer, std::size_t size, std::size_t limit) {
  // A damaged or hostile file must not make us allocate whatever its length says.
  if (size > limit) return false;
  try {
    buffer.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool ReadPrefix(int fd, std::size_t size, std::size_t spare, std::vector<uint8_t>& buffer) {
  if (size > kMaxWholeFileBytes || !TryResize(buffer, size + spare, kMaxWholeFileBytes + spare)) return false;
  if (spare > 0) std::memset(buffer.data() + size, 0, spare);
  return ReadAllAt(fd, buffer.data(), size, 0);
}

}  // namespace marbloom
