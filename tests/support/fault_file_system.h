#pragma once
// A file system for fault tests: it passes every call to another one (the
// real one unless told otherwise) and fails the calls a test chooses, so that
// a full disk, a failed rename, a short read or a crash in the middle of a
// run need neither root nor a small mount.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/file_system.h"

namespace marbloom::test {

class FaultFileSystem final : public FileSystem {
 public:
  explicit FaultFileSystem(FileSystem& inner = RealFileSystem()) : inner_(inner) {}

  // Once `bytes` more bytes went past the ends of files, writes and copies
  // fail with ENOSPC (a write first writes what still fits), as on a full
  // disk; writes inside a file's length still go through. FreeSpace goes on
  // saying what the disk says (another writer fills it underneath)...
  void NoSpaceAfter(int64_t bytes) { spaceLeft_ = bytes; }
  // ... unless told to report `bytes` free.
  void ReportFreeSpace(int64_t bytes) { reportedFree_ = bytes; }
  // Renames whose source or target path holds `part` fail with EIO.
  void FailRenames(const std::string& part) { renameFault_ = part; }
  // Flushes of the file system through `path` itself fail with EIO.
  void FailFlushes(const std::string& path) { flushFault_ = path; }
  // Reads of files whose path holds `part` deliver half of what they ask for.
  void ShortReads(const std::string& part) { readFault_ = part; }

  // The calls that change files (opens that create, writes, truncations,
  // copies, syncs, renames, links, removals, folders, stamps), numbered from 1
  // in the order they came: "write <path>", "rename <from> <to>" and so on.
  const std::vector<std::string>& Changes() const { return changes_; }
  // At change `call`, before it is made, the process dies (SIGKILL), or with
  // kFailLater that change and every call after it fail with EIO, or with
  // kFailOne that change alone.
  enum class Crash { kKill, kFailLater, kFailOne };
  void CrashAt(std::size_t call, Crash how = Crash::kKill) {
    crashAt_ = call;
    crash_ = how;
  }

  File Open(const std::string& path, OpenMode mode, const File* folder = nullptr) override {
    const Guard guard(mutex_);
    const bool creates = mode == OpenMode::kCreateExclusive || mode == OpenMode::kWrite || mode == OpenMode::kAppend;
    if (creates ? !Change("open " + path) : Stopped()) return File();
    File file = inner_.Open(path, mode, folder);
    if (!file) return file;
    paths_[file.handle()] = path;
    return File(*this, file.Release());
  }
  int64_t Read(const File& file, void* data, std::size_t size, int64_t offset) override {
    const Guard guard(mutex_);
    const bool shorted = !readFault_.empty() && PathOf(file).find(readFault_) != std::string::npos;
    return Stopped() ? -1 : inner_.Read(file, data, shorted ? size / 2 : size, offset);
  }
  bool Write(File& file, const void* data, std::size_t size, int64_t offset) override {
    const Guard guard(mutex_);
    if (!Change("write " + PathOf(file))) return false;
    const std::size_t fits = Fitting(file, size, offset);
    if (fits == size) return inner_.Write(file, data, size, offset);
    if (fits > 0) inner_.Write(file, data, fits, offset);
    errno = ENOSPC;
    return false;
  }
  bool Truncate(File& file, int64_t length) override {
    const Guard guard(mutex_);
    return Change("truncate " + PathOf(file)) && inner_.Truncate(file, length);
  }
  int64_t Length(const File& file) override {
    const Guard guard(mutex_);
    return Stopped() ? -1 : inner_.Length(file);
  }
  bool Sync(File& file) override {
    const Guard guard(mutex_);
    return Change("sync " + PathOf(file)) && inner_.Sync(file);
  }
  bool Close(File& file) override {
    const Guard guard(mutex_);
    paths_.erase(file.handle());
    const bool closed = inner_.Close(file);  // the descriptor goes whatever happened before
    return !Stopped() && closed;
  }
  bool Copy(const File& from, int64_t fromOffset, File& to, int64_t toOffset, int64_t length) override {
    const Guard guard(mutex_);
    if (!Change("copy " + PathOf(to))) return false;
    if (Fitting(to, static_cast<std::size_t>(length), toOffset) == static_cast<std::size_t>(length))
      return inner_.Copy(from, fromOffset, to, toOffset, length);
    errno = ENOSPC;
    return false;
  }
  bool Rename(const std::string& source, const std::string& target) override {
    const Guard guard(mutex_);
    if (!Change("rename " + source + " " + target)) return false;
    const bool refused = !renameFault_.empty() && (source.find(renameFault_) != std::string::npos ||
                                                   target.find(renameFault_) != std::string::npos);
    if (!refused) return inner_.Rename(source, target);
    errno = EIO;
    return false;
  }
  bool Link(const std::string& existing, const std::string& path) override {
    const Guard guard(mutex_);
    return Change("link " + existing + " " + path) && inner_.Link(existing, path);
  }
  bool Remove(const std::string& path) override {
    const Guard guard(mutex_);
    return Change("remove " + path) && inner_.Remove(path);
  }
  bool MakeDir(const std::string& path) override {
    const Guard guard(mutex_);
    return Change("mkdir " + path) && inner_.MakeDir(path);
  }
  bool Exists(const std::string& path) override {
    const Guard guard(mutex_);
    return !Stopped() && inner_.Exists(path);
  }
  bool List(const std::string& dir, const std::function<bool(std::string_view)>& wanted,
            std::vector<DirEntry>* entries, ListDetail detail = ListDetail::kSizes) override {
    const Guard guard(mutex_);
    return !Stopped() && inner_.List(dir, wanted, entries, detail);
  }
  int64_t FreeSpace(const std::string& path) override {
    const Guard guard(mutex_);
    return Stopped() ? -1 : reportedFree_ >= 0 ? reportedFree_ : inner_.FreeSpace(path);
  }
  std::string RealFolder(const std::string& path) override {
    const Guard guard(mutex_);
    return Stopped() ? std::string() : inner_.RealFolder(path);
  }
  bool SyncFileSystem(const std::string& path) override {
    const Guard guard(mutex_);
    if (!flushFault_.empty() && path == flushFault_) return (errno = EIO, false);
    return Change("syncfs " + path) && inner_.SyncFileSystem(path);
  }
  bool Stamp(const std::string& path, std::time_t modified, unsigned keptModeBits) override {
    const Guard guard(mutex_);
    return Change("stamp " + path) && inner_.Stamp(path, modified, keptModeBits);
  }
  bool BeforeChanges(std::span<const std::string> paths, ComingChange how) override {
    const Guard guard(mutex_);
    return !Stopped() && inner_.BeforeChanges(paths, how);
  }

 private:
  bool Stopped() {
    if (stopped_) errno = EIO;
    return stopped_;
  }
  // Counts a change; false when it must not be made (the crash point was reached).
  bool Change(const std::string& what) {
    if (Stopped()) return false;
    changes_.push_back(what);
    if (changes_.size() != crashAt_) return true;
    if (crash_ == Crash::kKill) ::raise(SIGKILL);
    stopped_ = crash_ == Crash::kFailLater;
    errno = EIO;
    return false;
  }
  // How many of `size` bytes at `offset` fit in the space left; takes their room.
  std::size_t Fitting(const File& file, std::size_t size, int64_t offset) {
    if (spaceLeft_ < 0) return size;
    const int64_t inside = std::clamp<int64_t>(inner_.Length(file) - offset, 0, static_cast<int64_t>(size));
    const int64_t fits = std::min(static_cast<int64_t>(size) - inside, spaceLeft_);
    spaceLeft_ -= fits;
    return static_cast<std::size_t>(inside + fits);
  }
  std::string PathOf(const File& file) const {
    auto it = paths_.find(file.handle());
    return it == paths_.end() ? std::string() : it->second;
  }

  // Engines write from several workers at once; one call at a time here.
  using Guard = std::lock_guard<std::recursive_mutex>;
  std::recursive_mutex mutex_;
  FileSystem& inner_;
  std::unordered_map<int, std::string> paths_;
  std::vector<std::string> changes_;
  int64_t spaceLeft_ = -1;  // -1: no limit
  int64_t reportedFree_ = -1;  // -1: what the disk says
  std::string renameFault_, readFault_, flushFault_;
  std::size_t crashAt_ = 0;
  Crash crash_ = Crash::kKill;
  bool stopped_ = false;
};

}  // namespace marbloom::test
