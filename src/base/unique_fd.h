#pragma once
// An owned file descriptor and the three ways the engines open data files.
#include <string>
#include <utility>

namespace marbloom {

// A file descriptor closed when it goes out of scope.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Close(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }
  // Closes now; false when the close reported an error.
  bool Close();

 private:
  int fd_ = -1;
};

// The writers of the data tree never follow a symbolic link out of it: every
// open for update or writing, and a read with kRegularOnly, refuses a link or
// anything but a regular file. Only a missing file fails with errno ENOENT.
enum class FileKind { kAny, kRegularOnly };

// Read-only; kRegularOnly for a file of the tree that a writer reads.
UniqueFd OpenForReading(const std::string& path, FileKind kind = FileKind::kAny);
// Reading and writing an existing regular file.
UniqueFd OpenForUpdate(const std::string& path);
// A regular file created or truncated, for writing.
UniqueFd OpenForWriting(const std::string& path);
// A temporary for writing: whatever file lies at `path` is removed first and
// the file is created anew, so that a stale temporary left read-only by a
// killed run cannot block it.
UniqueFd OpenNewTemporary(const std::string& path);

}  // namespace marbloom
