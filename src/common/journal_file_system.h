#pragma once
// A file system that keeps, for one writing run, what is needed to put every
// file of the tree it touches back exactly (the undo journal,
// common/undo_journal.h). The front wraps it around the real file system for
// the run; the engines see only the seam. Only a file's first touch in the
// run is kept, as cheaply as that touch allows:
//   - a write or copy at or past the end, or a truncation that grows: the old length;
//   - a rename over it, its removal, or an open that empties it: a hard link
//     to the old file (a copy where no link can be made);
//   - a write inside the old length or a truncation that cuts it: a copy;
//   - a file the run makes: "created".
// A file first kept by its old length and later written inside it is then
// copied up to that length. The manifest is written before the run's first
// change and each line before the change it keeps; a call whose old state
// cannot be kept fails (errno) and changes nothing. Renames from outside the
// tree into it (a merge moving files from another tree) keep the source too.
// Files outside the tree, the journal itself and the lock file pass through.
// Safe to call from several threads.
#include <mutex>
#include <string>
#include <unordered_map>

#include "base/file_system.h"
#include "common/data_layout.h"
#include "common/undo_journal.h"

namespace marbloom {

class JournalFileSystem final : public FileSystem {
 public:
  // `layout` names the tree and the journal; its own file system is not used.
  // What the journal holds of a path so far.
  struct State {
    enum class Kept { kNothing, kCreated, kGrown, kWhole };
    Kept kept = Kept::kNothing;
    int64_t length = -1;  // kGrown: the old length
  };

  JournalFileSystem(FileSystem& inner, const DataLayout& layout, std::string operation, std::string arguments);
  ~JournalFileSystem() override;

  // The run's id once it changed something, else 0.
  int RunId() const;
  // Ends the run: closes its manifest and drops the oldest runs beyond the
  // journal's limits. Later changes pass through unjournalled.
  void Finish();

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
  struct OpenFile {
    std::string path;
    State* state = nullptr;  // null: not journalled
    bool append = false;
  };

  bool Journalled(const std::string& path) const;
  bool InTree(const std::string& path) const;
  State& StateOf(const std::string& path) { return states_[path]; }
  // The manifest, made at the first change.
  bool Begin();
  bool Note(const std::string& path, JournalEntry entry);
  bool NoteCreated(const std::string& path, State& state);
  bool NoteGrown(const std::string& path, State& state, int64_t length);
  // Keeps the old file (its first `length` bytes, -1 all) by a hard link or a copy.
  bool Keep(const std::string& path, State& state, int64_t length, bool link);
  // Before a path is renamed over, renamed away, removed or emptied.
  bool KeepBeforeReplace(const std::string& path);
  // Before a file is renamed away (into the tree or within it).
  bool KeepSource(const std::string& path);
  // Before a write, copy or truncation of an open file, the new end `end`
  // and the lowest offset changed `from`.
  bool KeepBeforeChange(const File& file, OpenFile& open, int64_t from);
  OpenFile* Tracked(const File& file);

  FileSystem& inner_;
  const std::string tree_, undoDir_, lockFile_;
  const DataLayout journal_;
  std::string operation_, arguments_;
  mutable std::mutex mutex_;
  std::unordered_map<std::string, State> states_;
  std::unordered_map<int, OpenFile> open_;
  std::unordered_map<int, std::string> folders_;
  File manifest_;
  int64_t manifestLength_ = 0;
  int runId_ = 0;
  int stores_ = 0;
  bool finished_ = false;
};

}  // namespace marbloom
