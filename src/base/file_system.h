#pragma once
// The one seam for file I/O. Every file call of the engines, the unpacking,
// the download area and the settings goes through a FileSystem: the real one
// (RealFileSystem) calls the operating system; a wrapper around it sees every
// open, write, rename and removal, so that tests can fail chosen calls and a
// journal can record what a run changes. One virtual call per operation,
// never per byte.
//
// A failed call returns false (or -1) and leaves the reason in errno; ENOENT
// always means that nothing lies at the path.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace marbloom {

class FileSystem;

// How a file is opened. Writers of the data tree never follow a symbolic
// link: kReadRegular, kUpdate and kWrite refuse a link and anything that is
// not a regular file (errno ELOOP), so that such a file counts as damaged and
// is never written through, and kCreateExclusive fails on whatever lies at
// the path. Opens never wait on a pipe or a device.
enum class OpenMode {
  kRead,             // reading; links followed (downloaded archives, work files, shown data)
  kReadRegular,      // reading a file of the tree that a writer reads
  kUpdate,           // reading and writing an existing file
  kCreateExclusive,  // reading and writing a new file; fails (EEXIST) when anything lies at the path
  kWrite,            // writing; created when missing, emptied when there
  kAppend,           // every write goes to the end; created when missing (the run log)
  kDirectory,        // a folder, to open files inside it by name
};

// An open file, closed when it goes out of scope. Its calls go through the
// FileSystem that opened it. Reads and writes name their offset: a file has
// no position.
class File {
 public:
  File() = default;
  // `openedLength`: the length the opener measured as it opened the file
  // (-1: none). The real file system answers the first Length() with it
  // unless the file changed through this handle before, which saves a
  // second look at a file just opened.
  File(FileSystem& owner, int handle, int64_t openedLength = -1)
      : owner_(&owner), handle_(handle), openedLength_(openedLength) {}
  // A wrapper that opened the file through the FileSystem it wraps keeps it
  // as File(*this, std::move(inner)): the number and the measured length.
  File(FileSystem& owner, File&& inner) noexcept;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { Close(); }

  bool valid() const { return handle_ >= 0; }
  explicit operator bool() const { return valid(); }
  // The number the implementation knows the file by (the real one: its descriptor).
  int handle() const { return handle_; }
  // Gives the number up without closing it.
  int Release();
  // The length measured at the open, once: -1 when there was none, when it
  // was taken already or when the file changed since (ForgetOpenedLength).
  int64_t TakeOpenedLength() const { return std::exchange(openedLength_, -1); }
  void ForgetOpenedLength() { openedLength_ = -1; }

  // Up to `size` bytes at `offset`: the count, short only at the end of the
  // file, or -1.
  int64_t Read(void* data, std::size_t size, int64_t offset) const;
  // Exactly `size` bytes at `offset`; false on a short or failed read.
  bool ReadAll(void* data, std::size_t size, int64_t offset) const {
    return Read(data, size, offset) == static_cast<int64_t>(size);
  }
  // All of `size` bytes at `offset`; false when any of them failed.
  bool Write(const void* data, std::size_t size, int64_t offset);
  bool Truncate(int64_t length);
  // The length in bytes, or -1.
  int64_t Length() const;
  // Writes the file's data to disk.
  bool Sync();
  // Closes now; false when the close reported an error. A closed file is not valid.
  bool Close();

 private:
  FileSystem* owner_ = nullptr;
  int handle_ = -1;
  mutable int64_t openedLength_ = -1;
};

// What a listing tells of each entry besides its name.
enum class ListDetail {
  kSizes,  // its kind and size, from a look at every entry
  kKinds,  // its kind as the folder tells it, a look only where it does not; no size
};

// An entry of a folder. A symbolic link is kOther, whatever it points to.
struct DirEntry {
  enum class Kind { kRegular, kDirectory, kOther };
  std::string name;
  int64_t size = 0;  // -1: not looked at (ListDetail::kKinds)
  Kind kind = Kind::kOther;
};

// How the files an engine names before changing them will change.
enum class ComingChange {
  kGrowth,       // written at or past their ends only
  kReplacement,  // grown, or replaced by a rename, emptied or removed
};

class FileSystem {
 public:
  FileSystem() = default;
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;
  virtual ~FileSystem() = default;

  // `path` is relative to `folder` (opened with kDirectory) when one is given.
  virtual File Open(const std::string& path, OpenMode mode, const File* folder = nullptr) = 0;

  // The calls of an open file (File's own calls come here).
  virtual int64_t Read(const File& file, void* data, std::size_t size, int64_t offset) = 0;
  virtual bool Write(File& file, const void* data, std::size_t size, int64_t offset) = 0;
  virtual bool Truncate(File& file, int64_t length) = 0;
  virtual int64_t Length(const File& file) = 0;
  virtual bool Sync(File& file) = 0;
  virtual bool Close(File& file) = 0;
  // Copies `length` bytes between two open files, in the kernel where it can;
  // false when any failed or the source ended early.
  virtual bool Copy(const File& from, int64_t fromOffset, File& to, int64_t toOffset, int64_t length) = 0;

  // Renames `source` over `target` in one atomic step: the one way a file is
  // replaced (the source a complete, closed temporary in the same folder).
  virtual bool Rename(const std::string& source, const std::string& target) = 0;
  // A second name for an existing file (a hard link).
  virtual bool Link(const std::string& existing, const std::string& path) = 0;
  // Removes a file (a link itself, never what it points to).
  virtual bool Remove(const std::string& path) = 0;
  // Creates one folder; false also when it exists.
  virtual bool MakeDir(const std::string& path) = 0;
  // Whether anything lies at the path (links followed).
  virtual bool Exists(const std::string& path) = 0;
  // The entries of `dir` whose names `wanted` takes ("." and ".." never), in
  // no order; false when the folder cannot be read. kKinds spares a look at
  // each of the thousands of files of a market's folder.
  virtual bool List(const std::string& dir, const std::function<bool(std::string_view)>& wanted,
                    std::vector<DirEntry>* entries, ListDetail detail = ListDetail::kSizes) = 0;
  // Bytes free to an unprivileged writer on the file system holding `path`; -1.
  virtual int64_t FreeSpace(const std::string& path) = 0;
  // The absolute path of the folder at `path`, every link, "." and ".."
  // resolved, ending in '/': one text for one folder whatever path reached
  // it. Empty (errno) when no folder lies there.
  virtual std::string RealFolder(const std::string& path) = 0;
  // Writes everything cached for the file system holding `path` to disk.
  virtual bool SyncFileSystem(const std::string& path) = 0;
  // Sets a file's modification time and clears the permission bits that are
  // not in `keptModeBits` (an extracted archive entry); false when the time
  // could not be set.
  virtual bool Stamp(const std::string& path, std::time_t modified, unsigned keptModeBits) = 0;
  // Told before the files at `paths` are changed, so that a wrapper that
  // keeps what changes replace (the undo journal) keeps them all at once, on
  // disk before any of them changes, instead of one file at a time at its
  // first change: by the lengths they have now when they only grow, by the
  // files themselves when they may also be replaced or removed; a path where
  // no file is yet is one the changes make. False (errno) when it could not;
  // each change is then refused or kept on its own as without the call. The
  // real file system has nothing to do.
  virtual bool BeforeChanges(std::span<const std::string> paths, ComingChange how = ComingChange::kGrowth) {
    (void)paths, (void)how;
    return true;
  }
};

// The operating system's file system; it holds no state.
FileSystem& RealFileSystem();

// A temporary for writing: whatever lies at `path` is removed first and the
// file is created anew, so that a stale temporary left read-only by a killed
// run cannot block it.
File OpenNewTemporary(FileSystem& files, const std::string& path);

// Opens an existing regular file for update, or creates it empty (`created`
// tells which). An existing file that cannot be opened for update is never
// emptied.
File OpenOrCreateForUpdate(FileSystem& files, const std::string& path, bool* created);

}  // namespace marbloom
