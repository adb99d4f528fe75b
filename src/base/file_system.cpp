#include "base/file_system.h"

#include <cerrno>
#include <utility>

namespace marbloom {

File::File(File&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)),
      handle_(std::exchange(other.handle_, -1)),
      openedLength_(std::exchange(other.openedLength_, -1)) {}

File::File(FileSystem& owner, File&& inner) noexcept
    : owner_(&owner), openedLength_(inner.TakeOpenedLength()) {
  handle_ = inner.Release();
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    owner_ = std::exchange(other.owner_, nullptr);
    handle_ = std::exchange(other.handle_, -1);
    openedLength_ = std::exchange(other.openedLength_, -1);
  }
  return *this;
}

int File::Release() {
  owner_ = nullptr;
  openedLength_ = -1;
  return std::exchange(handle_, -1);
}

namespace {

// A call on a file that is not open fails as the operating system's would.
template <class Result>
Result NotOpen(Result failed) {
  errno = EBADF;
  return failed;
}

}  // namespace

int64_t File::Read(void* data, std::size_t size, int64_t offset) const {
  return valid() ? owner_->Read(*this, data, size, offset) : NotOpen<int64_t>(-1);
}

bool File::Write(const void* data, std::size_t size, int64_t offset) {
  return valid() ? owner_->Write(*this, data, size, offset) : NotOpen(false);
}

bool File::Truncate(int64_t length) { return valid() ? owner_->Truncate(*this, length) : NotOpen(false); }

int64_t File::Length() const { return valid() ? owner_->Length(*this) : NotOpen<int64_t>(-1); }

bool File::Sync() { return valid() ? owner_->Sync(*this) : NotOpen(false); }

bool File::Close() {
  if (!valid()) return true;
  const bool closed = owner_->Close(*this);
  handle_ = -1;
  owner_ = nullptr;
  openedLength_ = -1;
  return closed;
}

File OpenNewTemporary(FileSystem& files, const std::string& path) {
  files.Remove(path);
  return files.Open(path, OpenMode::kCreateExclusive);
}

File OpenOrCreateForUpdate(FileSystem& files, const std::string& path, bool* created) {
  *created = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    File file = files.Open(path, OpenMode::kUpdate);
    if (file || errno != ENOENT) return file;
    file = files.Open(path, OpenMode::kCreateExclusive);
    *created = file.valid();
    if (file || errno != EEXIST) return file;  // created, or failed for good
  }
  return File();
}

}  // namespace marbloom
