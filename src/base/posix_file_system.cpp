// The real file system and the lock file: the one place below the fronts
// that calls the operating system's file functions.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "base/file_lock.h"
#include "base/file_system.h"

namespace marbloom {
namespace {

const char* PathOrHere(const std::string& path) { return path.empty() ? "." : path.c_str(); }

int FlagsOf(OpenMode mode) {
  constexpr int kNoWait = O_NONBLOCK | O_CLOEXEC;
  switch (mode) {
    case OpenMode::kRead: return O_RDONLY | kNoWait;
    case OpenMode::kReadRegular: return O_RDONLY | O_NOFOLLOW | kNoWait;
    case OpenMode::kUpdate: return O_RDWR | O_NOFOLLOW | kNoWait;
    case OpenMode::kCreateExclusive: return O_RDWR | O_CREAT | O_EXCL | kNoWait;
    case OpenMode::kWrite: return O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | kNoWait;
    case OpenMode::kAppend: return O_WRONLY | O_CREAT | O_APPEND | kNoWait;
    case OpenMode::kDirectory: return O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  }
  return O_RDONLY | kNoWait;
}

bool OnlyRegular(OpenMode mode) {
  return mode == OpenMode::kReadRegular || mode == OpenMode::kUpdate || mode == OpenMode::kWrite;
}

class PosixFileSystem final : public FileSystem {
 public:
  File Open(const std::string& path, OpenMode mode, const File* folder) override {
    const int fd = ::openat(folder != nullptr ? folder->handle() : AT_FDCWD, PathOrHere(path), FlagsOf(mode), 0666);
    if (fd < 0) return File();
    if (!OnlyRegular(mode)) return File(*this, fd);
    // The look that refuses anything but a regular file also answers the
    // caller's first question for the length.
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      File(*this, fd).Close();
      errno = ELOOP;
      return File();
    }
    return File(*this, fd, static_cast<int64_t>(st.st_size));
  }

  int64_t Read(const File& file, void* data, std::size_t size, int64_t offset) override {
    char* p = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pread(file.handle(), p + done, size - done, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return -1;
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
      offset += n;
    }
    return static_cast<int64_t>(done);
  }

  bool Write(File& file, const void* data, std::size_t size, int64_t offset) override {
    file.ForgetOpenedLength();
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t n = ::pwrite(file.handle(), p, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) errno = ENOSPC;
      if (n <= 0) return false;
      p += n;
      size -= static_cast<std::size_t>(n);
      offset += n;
    }
    return true;
  }

  bool Truncate(File& file, int64_t length) override {
    file.ForgetOpenedLength();
    return ::ftruncate(file.handle(), static_cast<off_t>(length)) == 0;
  }

  // One fstat, none for the first question after an open that measured the
  // file: walks over tens of thousands of files ask every one.
  int64_t Length(const File& file) override {
    if (const int64_t opened = file.TakeOpenedLength(); opened >= 0) return opened;
    struct stat st;
    return ::fstat(file.handle(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
  }

  bool Sync(File& file) override { return ::fsync(file.handle()) == 0; }

  bool Close(File& file) override { return ::close(file.handle()) == 0; }

  bool Copy(const File& from, int64_t fromOffset, File& to, int64_t toOffset, int64_t length) override {
    to.ForgetOpenedLength();
    while (length > 0) {
      off64_t in = fromOffset, out = toOffset;
      const ssize_t n = ::copy_file_range(from.handle(), &in, to.handle(), &out, static_cast<std::size_t>(length), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
        return CopyThroughBuffer(from, fromOffset, to, toOffset, length);
      if (n <= 0) return false;  // an error, or the source ended early
      fromOffset += n;
      toOffset += n;
      length -= n;
    }
    return true;
  }

  bool Rename(const std::string& source, const std::string& target) override {
    return ::rename(source.c_str(), target.c_str()) == 0;
  }

  bool Link(const std::string& existing, const std::string& path) override {
    return ::link(existing.c_str(), path.c_str()) == 0;
  }

  bool Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

  bool MakeDir(const std::string& path) override { return ::mkdir(path.c_str(), 0777) == 0; }

  bool Exists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
  }

  bool List(const std::string& dir, const std::function<bool(std::string_view)>& wanted,
            std::vector<DirEntry>* entries, ListDetail detail = ListDetail::kSizes) override {
    DIR* d = ::opendir(PathOrHere(dir));
    if (d == nullptr) return false;
    const int dfd = ::dirfd(d);
    while (dirent* e = ::readdir(d)) {
      const std::string_view name = e->d_name;
      if (name == "." || name == ".." || !wanted(name)) continue;
      if (detail == ListDetail::kKinds && e->d_type != DT_UNKNOWN) {
        const DirEntry::Kind kind = e->d_type == DT_REG   ? DirEntry::Kind::kRegular
                                    : e->d_type == DT_DIR ? DirEntry::Kind::kDirectory
                                                          : DirEntry::Kind::kOther;
        entries->push_back({std::string(name), -1, kind});
        continue;
      }
      struct stat st;
      if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
      const DirEntry::Kind kind = S_ISREG(st.st_mode)   ? DirEntry::Kind::kRegular
                                  : S_ISDIR(st.st_mode) ? DirEntry::Kind::kDirectory
                                                        : DirEntry::Kind::kOther;
      entries->push_back({std::string(name), detail == ListDetail::kKinds ? -1 : static_cast<int64_t>(st.st_size), kind});
    }
    ::closedir(d);
    return true;
  }

  int64_t FreeSpace(const std::string& path) override {
    struct statvfs fs {};
    if (::statvfs(PathOrHere(path), &fs) != 0) return -1;
    return static_cast<int64_t>(static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_frsize));
  }

  std::string RealFolder(const std::string& path) override {
    char* real = ::realpath(PathOrHere(path), nullptr);
    if (real == nullptr) return std::string();
    std::string folder(real);
    std::free(real);
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      errno = ENOTDIR;
      return std::string();
    }
    return folder.ends_with('/') ? folder : folder + "/";
  }

  bool SyncFileSystem(const std::string& path) override {
    const int fd = ::open(PathOrHere(path), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::syncfs(fd) == 0;
    return ::close(fd) == 0 && synced;
  }

  bool Stamp(const std::string& path, std::time_t modified, unsigned keptModeBits) override {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_NOW;
    times[1].tv_sec = modified;
    times[1].tv_nsec = 0;
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return false;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return true;
    const mode_t mode = st.st_mode & 0777 & keptModeBits;
    if (mode != (st.st_mode & 0777)) ::chmod(path.c_str(), mode);  // the permissions are a courtesy
    return true;
  }

 private:
  bool CopyThroughBuffer(const File& from, int64_t fromOffset, File& to, int64_t toOffset, int64_t length) {
    std::vector<char> buffer(static_cast<std::size_t>(std::min<int64_t>(length, 1 << 20)));
    while (length > 0) {
      const auto n = static_cast<std::size_t>(std::min<int64_t>(length, static_cast<int64_t>(buffer.size())));
      if (Read(from, buffer.data(), n, fromOffset) != static_cast<int64_t>(n)) return false;
      if (!Write(to, buffer.data(), n, toOffset)) return false;
      fromOffset += static_cast<int64_t>(n);
      toOffset += static_cast<int64_t>(n);
      length -= static_cast<int64_t>(n);
    }
    return true;
  }
};

}  // namespace

FileSystem& RealFileSystem() {
  static PosixFileSystem files;
  return files;
}

int OpenLockFile(const std::string& path, unsigned long long* id) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = ELOOP;
    return -1;
  }
  *id = (static_cast<unsigned long long>(st.st_dev) << 40) ^ static_cast<unsigned long long>(st.st_ino);
  return fd;
}

bool TryLockFile(int handle) {
  int rc;
  do rc = ::flock(handle, LOCK_EX | LOCK_NB);
  while (rc != 0 && errno == EINTR);
  return rc == 0;
}

void CloseLockFile(int handle) { ::close(handle); }

}  // namespace marbloom
