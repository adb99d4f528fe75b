#include "base/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

namespace {

// Opens without following a link in the last part (and without waiting on a
// pipe or device), and keeps the file only when it is a regular one.
UniqueFd OpenRegular(const std::string& path, int flags) {
  UniqueFd fd(::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  struct stat st;
  if (fd && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
    fd.Close();
    errno = ELOOP;
  }
  return fd;
}

}  // namespace

UniqueFd OpenForReading(const std::string& path, FileKind kind) {
  if (kind == FileKind::kRegularOnly) return OpenRegular(path, O_RDONLY);
  return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

UniqueFd OpenForUpdate(const std::string& path) { return OpenRegular(path, O_RDWR); }

UniqueFd OpenForWriting(const std::string& path) { return OpenRegular(path, O_WRONLY | O_CREAT | O_TRUNC); }

UniqueFd OpenNewTemporary(const std::string& path) {
  ::unlink(path.c_str());
  return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
}

}  // namespace marbloom
