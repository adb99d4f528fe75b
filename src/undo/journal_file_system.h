#pragma once
// A file system that keeps, for one writing run, what is needed to put every
// file of the tree it touches back exactly (the undo journal,
// undo/undo_journal.h). The front wraps it around the real file system for
// the run; the engines see only the seam. Only a file's first touch in the
// run is kept, as cheaply as that touch allows:
//   - a write or copy at or past the end, or a truncation that grows: the old length;
//   - a rename over it, its removal, or an open that empties it: a hard link
//     to the old file (a copy where no link can be made);
//   - a write inside the old length or a truncation that cuts it: a copy;
//   - a file the run makes: "created".
// A file first kept by its old length and later written inside it is then
// copied up to that length. The manifest is written before the run's first
// change and each line before the change it keeps, and both are on disk
// before that change: a kept copy, the journal's folder and the manifest are
// synced first. One file at a time that costs a few syncs a file; files an
// engine names before changing them (BeforeChanges) are kept at once, those
// that only grow by their lengths and the others by hard links (with the
// length not to be changed in place), and those not there yet as made by the
// run: their lines in one write of the manifest and one sync each of the
// folder and the manifest, on disk before any of those files changes. The
// files of the source tree the front names (the other tree of a merge, whose
// files it moves into this one) are kept the same way. Files named that no
// change reached by the end of the run (a walk's files that needed none, a
// run cancelled) leave the manifest again at its end. Other files outside
// the tree, the journal itself and the lock file pass through. Safe to call
// from several threads.
//
// A file is kept only when the journal's disk keeps kJournalSpaceMargin free
// beside its size, for a link as for a copy: the old file a link keeps takes
// its room as soon as the run writes what replaces it. When the journal cannot be written (no
// room, a write error, a journal folder that is a link) the run is told
// once, in the run log and by Problem(): a run's call then fails (errno) and
// changes nothing, and so does every later change that needs keeping, so
// that all the run changed can still be taken back; an undo's own journal is
// given up instead (the undo goes on, and cannot itself be undone).
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/file_system.h"
#include "common/data_layout.h"
#include "undo/undo_journal.h"

namespace marbloom {

inline constexpr int64_t kJournalSpaceMargin = int64_t{64} << 20;

class JournalFileSystem final : public FileSystem {
 public:
  // `layout` names the tree and the journal; its own file system is not used.
  // What the journal holds of a path so far.
  struct State {
    // kLinked: a link in the journal to the file still at the path, whose
    // first `length` bytes are the old file; kWhole: the old file is kept
    // apart from whatever is at the path now.
    enum class Kept { kNothing, kCreated, kGrown, kLinked, kWhole };
    Kept kept = Kept::kNothing;
    int64_t length = -1;  // kGrown, kLinked: the old length
  };

  // `sourceTree`: the other tree a merge moves files out of, as the run names
  // it (empty for none; an undo takes the source of the run it undoes).
  JournalFileSystem(FileSystem& inner, const DataLayout& layout, std::string operation, std::string arguments,
                    std::string sourceTree = std::string());
  ~JournalFileSystem() override;

  // The run's id once it changed something, else 0.
  int RunId() const;
  // Why the journal could not be written, or empty; and whether changes of
  // the run were refused for it.
  std::string Problem() const;
  bool Refused() const;
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
            std::vector<DirEntry>* entries, ListDetail detail = ListDetail::kSizes) override;
  int64_t FreeSpace(const std::string& path) override;
  std::string RealFolder(const std::string& path) override;
  bool SyncFileSystem(const std::string& path) override;
  bool Stamp(const std::string& path, std::time_t modified, unsigned keptModeBits) override;
  bool BeforeChanges(std::span<const std::string> paths, ComingChange how) override;

 private:
  struct OpenFile {
    std::string path;
    State* state = nullptr;  // null: not journalled
    bool append = false;
  };

  bool Journalled(const std::string& path) const;
  bool InTree(const std::string& path) const;
  bool InSource(const std::string& path) const;
  State& StateOf(const std::string& path) { return states_[path]; }
  // The manifest, made at the first change.
  bool Begin();
  // The journal file `path` could not be written (errno, or `why`): false,
  // remembered, and logged once.
  bool CannotWrite(const std::string& path, const std::string& why = std::string());
  // After a keep failed: true when the change may go on unjournalled (an
  // undo, whose own journal is then dropped).
  bool GoOn();
  // Copies the first `size` bytes of `from` into the journal as `kept`.
  bool RoomToKeep(const std::string& kept, int64_t size);
  bool CopyKept(const File& from, const std::string& kept, int64_t size);
  // The manifest line of `entry` for `path`; lines appended to the manifest.
  std::string Line(const std::string& path, JournalEntry entry) const;
  bool AddLines(const std::string& lines);
  // Puts the manifest, or the journal's folder (its new names), on disk.
  bool SyncManifest();
  bool SyncFolder();
  // Appends the line and syncs it.
  bool Note(const std::string& path, JournalEntry entry);
  // What BeforeChanges keeps: the lines, and the states they give.
  struct Batch {
    std::string lines;
    std::vector<std::pair<std::string, State>> states;
    bool linked = false;
  };
  // Keeps the files of `folder` named `names`, found by one listing, into
  // `batch`; false when the journal cannot be written.
  bool KeepBatch(const std::string& folder, const std::unordered_set<std::string_view>& names, ComingChange how,
                 Batch& batch);
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
  // A change reaches `path`; and the named files it never reached leave the
  // manifest at the end.
  void Touch(const std::string& path);
  void DropUntouched();

  FileSystem& inner_;
  const std::string tree_, undoDir_, lockFile_;
  std::string source_;
  const DataLayout journal_;
  std::string operation_, arguments_;
  const bool undoing_;
  mutable std::mutex mutex_;
  std::unordered_map<std::string, State> states_;
  std::unordered_set<std::string> untouched_;  // named by BeforeChanges, not changed yet
  std::unordered_map<int, OpenFile> open_;
  std::unordered_map<int, std::string> folders_;
  File manifest_, folder_;
  int64_t manifestLength_ = 0;
  int runId_ = 0;
  int stores_ = 0;
  bool finished_ = false;
  std::string realSource_;
  std::string problem_;
  int failure_ = 0;  // errno of the journal's failure, 0 while it works
};

}  // namespace marbloom
