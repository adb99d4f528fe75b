#include "base/unique_fd.h"

#include <fcntl.h>
#include <unistd.h>

namespace marbloom {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool UniqueFd::Close() {
  if (fd_ < 0) return true;
  bool ok = ::close(fd_) == 0;
  fd_ = -1;
  return ok;
}

UniqueFd OpenForReading(const std::string& path) { return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); }

UniqueFd OpenForUpdate(const std::string& path) { return UniqueFd(::open(path.c_str(), O_RDWR | O_CLOEXEC)); }

UniqueFd OpenForWriting(const std::string& path) {
  return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

UniqueFd OpenNewTemporary(const std::string& path) {
  ::unlink(path.c_str());
  return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
}

}  // namespace marbloom
