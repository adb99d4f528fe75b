#pragma once
// A file system for fault tests: it passes every call to another one (the
// real one unless told otherwise) and fails the calls a test chooses, so that
// a full disk, a failed rename, a short read or a crash in the middle of a
// write need neither root nor a small mount.
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

  // Once `bytes` more bytes went past the ends of files, writes fail with
  // ENOSPC, writing what still fits first, as a full disk does; writes inside
  // a file's length still go through.
  void NoSpaceAfter(int64_t bytes) { spaceLeft_ = bytes; }
  // Renames whose source or target path holds `part` fail with EIO.
  void FailRenames(const std::string& part) { renameFault_ = part; }
  // Reads of files whose path holds `part` deliver half of what they ask for.
  void ShortReads(const std::string& part) { readFault_ = part; }

  // The calls that change files (opens for writing, writes, truncations,
  // copies, syncs, renames, links, removals, folders, stamps), numbered from 1
  // in the order they came, as "write <path>", "rename <from> <to>" and so on.
  const std::vector<std::string>& Changes() const { return changes_; }
  // At change `call`, before it is made, the process dies (SIGKILL), or with
  // kFailLater that change and every call after it fail with EIO.
  enum class Crash { kKill, kFailLater };
  void CrashAt(std::size_t call, Crash how = Crash::kKill) {
    crashAt_ = call;
    crash_ = how;
  }

  File Open(const std::string& path, OpenMode mode, const File* folder = nullptr) override;
  int64_t Read(const File& file, void* data, std::size_t size, int64_t offset) override;
  bool Write(File& file, const void* data, std::size_t size, int64_t offset) override;
  bool Truncate(File& file, int64_t length) override;
  int64_t Length(const File& file) override;
  bool Sync(File& file) override;
  bool Close(File& file) override;
  bool Copy(const File& from, int64_t fromOffset, File& to, int64_t toOffset, int64_t length) override;
  bool Rename(const std::string& source, const std::string& target) override;
  bool Link(const std::string& existing, const std::string& path) override;
  bool Remove(const std::string& path) override;
  bool MakeDir(const std::string& path) override;
  bool Exists(const std::string& path) override;
  bool List(const std::string& dir, const std::function<bool(std::string_view)>& wanted,
            std::vector<DirEntry>* entries) override;
  int64_t FreeSpace(const std::string& path) override;
  bool SyncFileSystem(const std::string& path) override;
  bool Stamp(const std::string& path, std::time_t modified, unsigned keptModeBits) override;

 private:
  // Counts a change; false when it must not happen (the crash point was reached).
  bool Change(const std::string& what);
  bool Stopped();
  // How many of `size` bytes at `offset` fit in the space left (all without a limit).
  std::size_t Fitting(const File& file, std::size_t size, int64_t offset);
  std::string PathOf(const File& file) const;

  FileSystem& inner_;
  std::mutex mutex_;  // the download client writes from its transfer thread
  std::unordered_map<int, std::string> paths_;
  std::vector<std::string> changes_;
  int64_t spaceLeft_ = -1;  // -1: no limit
  std::string renameFault_, readFault_;
  std::size_t crashAt_ = 0;
  Crash crash_ = Crash::kKill;
  bool stopped_ = false;
};

}  // namespace marbloom::test
