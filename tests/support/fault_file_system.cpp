#include "support/fault_file_system.h"

#include <algorithm>
#include <cerrno>
#include <csignal>

namespace marbloom::test {

using Lock = std::lock_guard<std::mutex>;

bool FaultFileSystem::Stopped() {
  if (stopped_) errno = EIO;
  return stopped_;
}

bool FaultFileSystem::Change(const std::string& what) {
  if (Stopped()) return false;
  changes_.push_back(what);
  if (changes_.size() != crashAt_) return true;
  if (crash_ == Crash::kKill) ::raise(SIGKILL);
  stopped_ = true;
  errno = EIO;
  return false;
}

std::size_t FaultFileSystem::Fitting(const File& file, std::size_t size, int64_t offset) {
  if (spaceLeft_ < 0) return size;
  const int64_t end = std::max(inner_.Length(file), offset);
  const int64_t inside = std::min<int64_t>(end - offset, static_cast<int64_t>(size));
  const int64_t grows = static_cast<int64_t>(size) - inside;
  const int64_t fits = std::min(grows, spaceLeft_);
  spaceLeft_ -= fits;
  return static_cast<std::size_t>(inside + fits);
}

std::string FaultFileSystem::PathOf(const File& file) const {
  auto it = paths_.find(file.handle());
  return it == paths_.end() ? std::string() : it->second;
}

File FaultFileSystem::Open(const std::string& path, OpenMode mode, const File* folder) {
  Lock lock(mutex_);
  const bool creates = mode == OpenMode::kCreateExclusive || mode == OpenMode::kWrite || mode == OpenMode::kAppend;
  if (creates ? !Change("open " + path) : Stopped()) return File();
  File file = inner_.Open(path, mode, folder);
  if (!file) return file;
  paths_[file.handle()] = path;
  return File(*this, file.Release());
}

int64_t FaultFileSystem::Read(const File& file, void* data, std::size_t size, int64_t offset) {
  Lock lock(mutex_);
  if (Stopped()) return -1;
  const bool shorted = !readFault_.empty() && PathOf(file).find(readFault_) != std::string::npos;
  return inner_.Read(file, data, shorted ? size / 2 : size, offset);
}

bool FaultFileSystem::Write(File& file, const void* data, std::size_t size, int64_t offset) {
  Lock lock(mutex_);
  if (!Change("write " + PathOf(file))) return false;
  const std::size_t fits = Fitting(file, size, offset);
  if (fits == size) return inner_.Write(file, data, size, offset);
  if (fits > 0) inner_.Write(file, data, fits, offset);
  errno = ENOSPC;
  return false;
}

bool FaultFileSystem::Truncate(File& file, int64_t length) {
  Lock lock(mutex_);
  return Change("truncate " + PathOf(file)) && inner_.Truncate(file, length);
}

int64_t FaultFileSystem::Length(const File& file) {
  Lock lock(mutex_);
  return Stopped() ? -1 : inner_.Length(file);
}

bool FaultFileSystem::Sync(File& file) {
  Lock lock(mutex_);
  return Change("sync " + PathOf(file)) && inner_.Sync(file);
}

bool FaultFileSystem::Close(File& file) {
  Lock lock(mutex_);
  paths_.erase(file.handle());
  const bool closed = inner_.Close(file);  // the descriptor goes whatever happened before
  return !Stopped() && closed;
}

bool FaultFileSystem::Copy(const File& from, int64_t fromOffset, File& to, int64_t toOffset, int64_t length) {
  Lock lock(mutex_);
  if (!Change("copy " + PathOf(to))) return false;
  if (Fitting(to, static_cast<std::size_t>(length), toOffset) == static_cast<std::size_t>(length))
    return inner_.Copy(from, fromOffset, to, toOffset, length);
  errno = ENOSPC;
  return false;
}

bool FaultFileSystem::Rename(const std::string& source, const std::string& target) {
  Lock lock(mutex_);
  if (!Change("rename " + source + " " + target)) return false;
  if (!renameFault_.empty() && (source.find(renameFault_) != std::string::npos ||
                                target.find(renameFault_) != std::string::npos)) {
    errno = EIO;
    return false;
  }
  return inner_.Rename(source, target);
}

bool FaultFileSystem::Link(const std::string& existing, const std::string& path) {
  Lock lock(mutex_);
  return Change("link " + existing + " " + path) && inner_.Link(existing, path);
}

bool FaultFileSystem::Remove(const std::string& path) {
  Lock lock(mutex_);
  return Change("remove " + path) && inner_.Remove(path);
}

bool FaultFileSystem::MakeDir(const std::string& path) {
  Lock lock(mutex_);
  return Change("mkdir " + path) && inner_.MakeDir(path);
}

bool FaultFileSystem::Exists(const std::string& path) {
  Lock lock(mutex_);
  return !Stopped() && inner_.Exists(path);
}

bool FaultFileSystem::List(const std::string& dir, const std::function<bool(std::string_view)>& wanted,
                           std::vector<DirEntry>* entries) {
  Lock lock(mutex_);
  return !Stopped() && inner_.List(dir, wanted, entries);
}

int64_t FaultFileSystem::FreeSpace(const std::string& path) {
  Lock lock(mutex_);
  return Stopped() ? -1 : inner_.FreeSpace(path);
}

bool FaultFileSystem::SyncFileSystem(const std::string& path) {
  Lock lock(mutex_);
  return Change("syncfs " + path) && inner_.SyncFileSystem(path);
}

bool FaultFileSystem::Stamp(const std::string& path, std::time_t modified, unsigned keptModeBits) {
  Lock lock(mutex_);
  return Change("stamp " + path) && inner_.Stamp(path, modified, keptModeBits);
}

}  // namespace marbloom::test
