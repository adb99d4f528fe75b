#include "undo/journal_file_system.h"

#include <cerrno>
#include <ctime>
#include <map>
#include <optional>
#include <system_error>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/file_helpers.h"

namespace marbloom {

using Lock = std::lock_guard<std::mutex>;
using Kept = JournalFileSystem::State::Kept;

namespace {

JournalEntry Entry(JournalEntry::Kind kind, int64_t length = -1, int store = 0) {
  JournalEntry entry;
  entry.kind = kind;
  entry.length = length;
  entry.store = store;
  return entry;
}

bool Writes(OpenMode mode) { return mode == OpenMode::kUpdate || mode == OpenMode::kAppend; }

}  // namespace

JournalFileSystem::JournalFileSystem(FileSystem& inner, const DataLayout& layout, std::string operation,
                                     std::string arguments, std::string sourceTree)
    : inner_(inner),
      tree_(layout.HistoryDir()),
      undoDir_(layout.UndoDir()),
      lockFile_(layout.WriterLockFile()),
      source_(std::move(sourceTree)),
      journal_(layout.WithFiles(inner)),
      operation_(std::move(operation)),
      arguments_(std::move(arguments)),
      undoing_(UndoneRunOf(operation_) > 0) {
  // An undo puts files back into the source tree of the run it undoes.
  if (undoing_ && source_.empty())
    if (const std::optional<JournalRun> undone = ReadJournalRun(journal_, UndoneRunOf(operation_)))
      source_ = undone->source;
}

JournalFileSystem::~JournalFileSystem() { Finish(); }

int JournalFileSystem::RunId() const {
  Lock lock(mutex_);
  return runId_;
}

std::string JournalFileSystem::Problem() const {
  Lock lock(mutex_);
  return problem_;
}

bool JournalFileSystem::Refused() const {
  Lock lock(mutex_);
  return failure_ != 0 && !undoing_;
}

void JournalFileSystem::Finish() {
  Lock lock(mutex_);
  if (finished_) return;
  finished_ = true;
  if (manifest_ && failure_ == 0 && !untouched_.empty()) DropUntouched();
  folder_.Close();
  if (!manifest_) return;
  manifest_.Close();
  PruneJournal(journal_);
}

void JournalFileSystem::Touch(const std::string& path) {
  if (!untouched_.empty()) untouched_.erase(path);
}

// The manifest without them is written beside it and renamed over it, so
// that a whole manifest is there at every moment; then their links go. A
// run left with nothing to take back leaves no run at all.
void JournalFileSystem::DropUntouched() {
  const std::optional<JournalRun> run = ReadJournalRun(journal_, runId_);
  if (!run) return;
  std::string text = JournalHeader(*run);
  std::vector<int> dropped;
  bool kept = false;
  for (const JournalEntry& entry : run->entries) {
    if (untouched_.count(EntryPath(journal_, entry)) == 0) {
      text += JournalLine(entry);
      kept = true;
    } else if (entry.kind == JournalEntry::Kind::kSaved) {
      dropped.push_back(entry.store);
    }
  }
  const std::string path = JournalRunFile(journal_, runId_), temp = path + kPartialFileSuffix;
  if (!kept) {
    if (!inner_.Remove(path)) return;
    for (int store = 1; store <= stores_; ++store) inner_.Remove(JournalStoreFile(journal_, runId_, store));
    manifest_.Close();
    runId_ = 0;
    return;
  }
  File file = OpenNewTemporary(inner_, temp);
  if (!file || !inner_.Write(file, text.data(), text.size(), 0) || !inner_.Sync(file) || !file.Close() ||
      !inner_.Rename(temp, path) || !inner_.Sync(folder_)) {
    inner_.Remove(temp);
    return;
  }
  for (int store : dropped) inner_.Remove(JournalStoreFile(journal_, runId_, store));
}

bool JournalFileSystem::InTree(const std::string& path) const {
  return path.size() > tree_.size() && path.compare(0, tree_.size(), tree_) == 0 && !path.starts_with(undoDir_) &&
         path != lockFile_;
}

bool JournalFileSystem::InSource(const std::string& path) const {
  return !source_.empty() && path.size() > source_.size() && path.compare(0, source_.size(), source_) == 0;
}

bool JournalFileSystem::Journalled(const std::string& path) const {
  return !finished_ && (InTree(path) || InSource(path));
}

bool JournalFileSystem::Begin() {
  if (failure_ != 0) {
    errno = failure_;
    return false;
  }
  if (manifest_) return true;
  inner_.MakeDir(undoDir_);
  if (!JournalFolderSound(journal_)) {
    errno = ELOOP;
    return CannotWrite(undoDir_, "不是数据目录中的真实目录");
  }
  folder_ = inner_.Open(undoDir_, OpenMode::kDirectory);
  if (!folder_) return CannotWrite(undoDir_);
  JournalRun run;
  run.id = NextJournalRunId(journal_);
  run.time = static_cast<int64_t>(journal_.Reports().Now());
  run.operation = operation_;
  run.arguments = arguments_;
  run.tree = inner_.RealFolder(tree_);
  run.source = source_.empty() ? std::string() : inner_.RealFolder(source_);
  if (run.tree.empty() || run.source.empty() != source_.empty()) return CannotWrite(undoDir_, "目录的位置无法确定");
  for (int attempt = 0; !manifest_; ++attempt, ++run.id) {
    if (attempt == 100 || run.id > kMaxJournalRunId) return CannotWrite(undoDir_, "没有可用的编号");
    manifest_ = inner_.Open(JournalRunFile(journal_, run.id), OpenMode::kCreateExclusive);
    if (!manifest_ && errno != EEXIST) return CannotWrite(JournalRunFile(journal_, run.id));
  }
  --run.id;
  const std::string header = JournalHeader(run);
  if (!inner_.Write(manifest_, header.data(), header.size(), 0) || !inner_.Sync(manifest_) || !inner_.Sync(folder_)) {
    const int error = errno;
    manifest_.Close();
    inner_.Remove(JournalRunFile(journal_, run.id));
    errno = error;
    return CannotWrite(JournalRunFile(journal_, run.id));
  }
  manifestLength_ = static_cast<int64_t>(header.size());
  runId_ = run.id;
  realSource_ = run.source;
  return true;
}

bool JournalFileSystem::CannotWrite(const std::string& path, const std::string& why) {
  failure_ = errno != 0 ? errno : EIO;
  if (problem_.empty()) {
    problem_ = "撤销记录" + path + "无法写入(" +
               (why.empty() ? std::error_code(failure_, std::generic_category()).message() : why) + "), " +
               (undoing_ ? "本次撤销照常进行, 但它本身不能再撤销!" : "为能撤销, 本次操作此后的改动均未进行!");
    journal_.Reports().Log(problem_);
  }
  errno = failure_;
  return false;
}

bool JournalFileSystem::GoOn() {
  if (!undoing_ || failure_ == 0) return false;
  if (finished_) return true;
  // The undo's own journal goes, the manifest first: a run kept in part
  // could not be taken back whole.
  finished_ = true;
  manifest_.Close();
  folder_.Close();
  if (runId_ != 0) {
    inner_.Remove(JournalRunFile(journal_, runId_));
    for (int store = 1; store <= stores_; ++store) inner_.Remove(JournalStoreFile(journal_, runId_, store));
  }
  runId_ = 0;
  return true;
}

std::string JournalFileSystem::Line(const std::string& path, JournalEntry entry) const {
  entry.outsideTree = !InTree(path);
  entry.path = entry.outsideTree ? realSource_ + path.substr(source_.size()) : path.substr(tree_.size());
  return JournalLine(entry);
}

bool JournalFileSystem::AddLines(const std::string& lines) {
  if (!inner_.Write(manifest_, lines.data(), lines.size(), manifestLength_))
    return CannotWrite(JournalRunFile(journal_, runId_));
  manifestLength_ += static_cast<int64_t>(lines.size());
  return true;
}

bool JournalFileSystem::SyncManifest() {
  return inner_.Sync(manifest_) || CannotWrite(JournalRunFile(journal_, runId_));
}

bool JournalFileSystem::SyncFolder() { return inner_.Sync(folder_) || CannotWrite(undoDir_); }

bool JournalFileSystem::Note(const std::string& path, JournalEntry entry) {
  return AddLines(Line(path, entry)) && SyncManifest();
}

bool JournalFileSystem::NoteCreated(const std::string& path, State& state) {
  if (!Begin() || !Note(path, Entry(JournalEntry::Kind::kCreated))) return false;
  state.kept = Kept::kCreated;
  return true;
}

bool JournalFileSystem::NoteGrown(const std::string& path, State& state, int64_t length) {
  if (!Begin() || !Note(path, Entry(JournalEntry::Kind::kGrown, length))) return false;
  state = State{Kept::kGrown, length};
  return true;
}

bool JournalFileSystem::Keep(const std::string& path, State& state, int64_t length, bool link) {
  if (!Begin()) return false;
  const int store = ++stores_;
  const std::string kept = JournalStoreFile(journal_, runId_, store);
  File from = inner_.Open(path, OpenMode::kReadRegular);
  const int64_t size = from ? (length >= 0 ? length : inner_.Length(from)) : -1;
  if (size < 0 || !RoomToKeep(kept, size)) return false;
  if ((!link || !inner_.Link(path, kept)) && !CopyKept(from, kept, size)) return false;
  if (!SyncFolder() || !Note(path, Entry(JournalEntry::Kind::kSaved, length, store))) return false;
  state = State{Kept::kWhole, -1};
  return true;
}

// A kept file takes its size on the disk: a copy at once, a link as soon as
// the run writes what replaces the old file, which the link keeps from being
// freed.
bool JournalFileSystem::RoomToKeep(const std::string& kept, int64_t size) {
  const int64_t free = inner_.FreeSpace(undoDir_);
  if (free < 0 || free - size >= kJournalSpaceMargin) return true;
  errno = ENOSPC;
  return CannotWrite(kept, "磁盘空间不足: 需要" + std::to_string(size) + "字节, 另须留出" +
                               std::to_string(kJournalSpaceMargin >> 20) + "M, 只剩" + std::to_string(free) + "字节");
}

bool JournalFileSystem::CopyKept(const File& from, const std::string& kept, int64_t size) {
  File to = OpenNewTemporary(inner_, kept);
  if (to && inner_.Copy(from, 0, to, 0, size) && inner_.Sync(to) && to.Close()) return true;
  const int error = errno;
  inner_.Remove(kept);
  errno = error;
  return CannotWrite(kept);
}

bool JournalFileSystem::KeepBeforeReplace(const std::string& path) {
  State& state = StateOf(path);
  if (state.kept == Kept::kGrown) return Keep(path, state, state.length, true);
  if (state.kept == Kept::kLinked) state = State{Kept::kWhole, -1};  // the link holds the old file
  if (state.kept != Kept::kNothing) return true;
  File probe = inner_.Open(path, OpenMode::kReadRegular);
  if (probe) {
    probe.Close();
    return Keep(path, state, -1, true);
  }
  if (errno == ENOENT) return NoteCreated(path, state);
  return true;  // a link or no regular file: the call itself refuses it or touches no data
}

bool JournalFileSystem::KeepBeforeChange(const File& file, OpenFile& open, int64_t from) {
  State& state = *open.state;
  if (state.kept == Kept::kCreated || state.kept == Kept::kWhole) return true;
  if (state.kept == Kept::kGrown || state.kept == Kept::kLinked)
    return open.append || from >= state.length || Keep(open.path, state, state.length, false);
  const int64_t length = inner_.Length(file);
  if (length < 0) return false;
  if (open.append || from >= length) return NoteGrown(open.path, state, length);
  return Keep(open.path, state, length, false);
}

bool JournalFileSystem::KeepSource(const std::string& path) {
  State& state = StateOf(path);
  if (state.kept == Kept::kGrown || state.kept == Kept::kLinked) return Keep(path, state, state.length, false);
  if (state.kept != Kept::kNothing || !inner_.Exists(path)) return true;
  return Keep(path, state, -1, false);
}

JournalFileSystem::OpenFile* JournalFileSystem::Tracked(const File& file) {
  if (finished_) return nullptr;
  auto it = open_.find(file.handle());
  return it == open_.end() || it->second.state == nullptr ? nullptr : &it->second;
}

File JournalFileSystem::Open(const std::string& path, OpenMode mode, const File* folder) {
  Lock lock(mutex_);
  std::string full = path;
  if (folder != nullptr) {
    auto it = folders_.find(folder->handle());
    full = it == folders_.end() ? std::string() : it->second + path;
  }
  const bool journalled = Journalled(full);
  if (journalled && (mode == OpenMode::kWrite || mode == OpenMode::kCreateExclusive || mode == OpenMode::kAppend))
    Touch(full);
  if (journalled && mode == OpenMode::kCreateExclusive && StateOf(full).kept == Kept::kNothing &&
      !inner_.Exists(full) && !NoteCreated(full, StateOf(full)) && !GoOn())
    return File();
  if (journalled && mode == OpenMode::kWrite) {
    // An existing file is kept by a link and the open makes a new one, so
    // that emptying it cannot reach the kept bytes.
    const Kept before = StateOf(full).kept;
    const bool had = before == Kept::kNothing || before == Kept::kGrown || before == Kept::kLinked;
    if (!KeepBeforeReplace(full) && !GoOn()) return File();
    if (had && StateOf(full).kept == Kept::kWhole && !inner_.Remove(full)) return File();
  }
  File file = inner_.Open(path, mode, folder);
  if (!file) return file;
  if (mode == OpenMode::kDirectory) {
    folders_[file.handle()] = full.empty() || full.back() == '/' ? full : full + "/";
  } else {
    State* state = journalled && Writes(mode) ? &StateOf(full) : nullptr;
    open_[file.handle()] = OpenFile{std::move(full), state, mode == OpenMode::kAppend};
  }
  return File(*this, std::move(file));
}

int64_t JournalFileSystem::Read(const File& file, void* data, std::size_t size, int64_t offset) {
  return inner_.Read(file, data, size, offset);
}

bool JournalFileSystem::Write(File& file, const void* data, std::size_t size, int64_t offset) {
  {
    Lock lock(mutex_);
    OpenFile* open = Tracked(file);
    if (open != nullptr) Touch(open->path);
    if (open != nullptr && !KeepBeforeChange(file, *open, offset) && !GoOn()) return false;
  }
  return inner_.Write(file, data, size, offset);
}

bool JournalFileSystem::Truncate(File& file, int64_t length) {
  {
    Lock lock(mutex_);
    OpenFile* open = Tracked(file);
    if (open != nullptr) {
      Touch(open->path);
      const int64_t now = inner_.Length(file);
      if (now < 0 || (!KeepBeforeChange(file, *open, length < now ? length : now) && !GoOn())) return false;
    }
  }
  return inner_.Truncate(file, length);
}

// The files not kept yet are found by one listing of each folder and kept
// by their lengths or by links, those missing noted as made; their lines go
// in one write of the manifest, synced after the folder (its new links), and
// only then do they count as kept. A file that is a link or no regular file
// is left to its own change, as are all of them when the journal could not be
// written or synced.
bool JournalFileSystem::BeforeChanges(std::span<const std::string> paths, ComingChange how) {
  Lock lock(mutex_);
  std::map<std::string, std::unordered_set<std::string_view>, std::less<>> folders;  // folder: names to keep
  for (const std::string& path : paths) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || !Journalled(path)) continue;
    const auto it = states_.find(path);
    const Kept kept = it == states_.end() ? Kept::kNothing : it->second.kept;
    if (kept == Kept::kNothing || (kept == Kept::kGrown && how == ComingChange::kReplacement))
      folders[path.substr(0, slash + 1)].insert(std::string_view(path).substr(slash + 1));
  }
  if (folders.empty()) return true;
  if (!Begin()) return GoOn();
  Batch batch;
  for (const auto& [folder, names] : folders)
    if (!KeepBatch(folder, names, how, batch)) return GoOn();
  if (batch.states.empty()) return true;
  if ((batch.linked && !SyncFolder()) || !AddLines(batch.lines) || !SyncManifest()) return GoOn();
  for (auto& [path, state] : batch.states) {
    StateOf(path) = state;
    untouched_.insert(path);
  }
  return true;
}

bool JournalFileSystem::KeepBatch(const std::string& folder, const std::unordered_set<std::string_view>& names,
                                  ComingChange how, Batch& batch) {
  std::vector<DirEntry> entries;
  if (!inner_.List(folder, [&names](std::string_view name) { return names.count(name) > 0; }, &entries) &&
      errno != ENOENT)
    return true;  // each is kept at its own change
  std::unordered_set<std::string_view> missing = names;
  std::vector<std::pair<std::string, int64_t>> found;  // regular files and their old lengths
  for (const DirEntry& entry : entries) {
    missing.erase(entry.name);
    if (entry.kind != DirEntry::Kind::kRegular) continue;
    const std::string path = folder + entry.name;
    const auto it = states_.find(path);
    found.emplace_back(path, it != states_.end() && it->second.kept == Kept::kGrown ? it->second.length : entry.size);
  }
  const bool link = how == ComingChange::kReplacement;
  for (const auto& [path, length] : found) {
    if (!link) {
      batch.lines += Line(path, Entry(JournalEntry::Kind::kGrown, length));
      batch.states.emplace_back(path, State{Kept::kGrown, length});
      continue;
    }
    const int store = ++stores_;
    const std::string kept = JournalStoreFile(journal_, runId_, store);
    if (!RoomToKeep(kept, length)) return false;
    if (!inner_.Link(path, kept)) continue;  // kept at its own change
    batch.lines += Line(path, Entry(JournalEntry::Kind::kSaved, length, store));
    batch.states.emplace_back(path, State{Kept::kLinked, length});
    batch.linked = true;
  }
  for (std::string_view name : missing) {
    const std::string path = folder + std::string(name);
    batch.lines += Line(path, Entry(JournalEntry::Kind::kCreated));
    batch.states.emplace_back(path, State{Kept::kCreated, -1});
  }
  return true;
}

int64_t JournalFileSystem::Length(const File& file) { return inner_.Length(file); }

bool JournalFileSystem::Sync(File& file) { return inner_.Sync(file); }

bool JournalFileSystem::Close(File& file) {
  {
    Lock lock(mutex_);
    open_.erase(file.handle());
    folders_.erase(file.handle());
  }
  return inner_.Close(file);
}

bool JournalFileSystem::Copy(const File& from, int64_t fromOffset, File& to, int64_t toOffset, int64_t length) {
  {
    Lock lock(mutex_);
    OpenFile* open = Tracked(to);
    if (open != nullptr) Touch(open->path);
    if (open != nullptr && !KeepBeforeChange(to, *open, toOffset) && !GoOn()) return false;
  }
  return inner_.Copy(from, fromOffset, to, toOffset, length);
}

bool JournalFileSystem::Rename(const std::string& source, const std::string& target) {
  {
    Lock lock(mutex_);
    Touch(source), Touch(target);
    const bool into = Journalled(target);
    if (into && !KeepBeforeReplace(target) && !GoOn()) return false;
    // A file renamed away from its place in either tree (a merge moves the
    // source tree's files into this one) must come back to where it was. It
    // is copied: a link would share the bytes that later writes to its new
    // name change.
    if (Journalled(source) && !KeepSource(source) && !GoOn()) return false;
  }
  return inner_.Rename(source, target);
}

bool JournalFileSystem::Link(const std::string& existing, const std::string& path) {
  {
    Lock lock(mutex_);
    Touch(path);
    if (Journalled(path) && !KeepBeforeReplace(path) && !GoOn()) return false;
  }
  return inner_.Link(existing, path);
}

bool JournalFileSystem::Remove(const std::string& path) {
  {
    Lock lock(mutex_);
    Touch(path);
    if (Journalled(path) && StateOf(path).kept != Kept::kCreated) {
      // Nothing there: nothing to keep and nothing to note.
      if (StateOf(path).kept == Kept::kNothing && !inner_.Exists(path)) return inner_.Remove(path);
      if (!KeepBeforeReplace(path) && !GoOn()) return false;
    }
  }
  return inner_.Remove(path);
}

bool JournalFileSystem::MakeDir(const std::string& path) { return inner_.MakeDir(path); }

bool JournalFileSystem::Exists(const std::string& path) { return inner_.Exists(path); }

bool JournalFileSystem::List(const std::string& dir, const std::function<bool(std::string_view)>& wanted,
                             std::vector<DirEntry>* entries, ListDetail detail) {
  return inner_.List(dir, wanted, entries, detail);
}

int64_t JournalFileSystem::FreeSpace(const std::string& path) { return inner_.FreeSpace(path); }

std::string JournalFileSystem::RealFolder(const std::string& path) { return inner_.RealFolder(path); }

bool JournalFileSystem::SyncFileSystem(const std::string& path) { return inner_.SyncFileSystem(path); }

bool JournalFileSystem::Stamp(const std::string& path, std::time_t modified, unsigned keptModeBits) {
  return inner_.Stamp(path, modified, keptModeBits);
}

}  // namespace marbloom
