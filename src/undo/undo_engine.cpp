#include "undo/undo_engine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <set>

#include "base/file_helpers.h"
#include "common/tree_lock.h"

namespace marbloom {
namespace {

constexpr std::size_t kRestoreBatch = 256;  // files named to the undo's journal at once

std::set<std::string> PathsOf(const JournalRun& run) {
  std::set<std::string> paths;
  for (const JournalEntry& e : run.entries) paths.insert((e.outsideTree ? "O" : "T") + e.path);
  return paths;
}

// Files put back first, made files removed last, so that a stop half-way
// never leaves a security with no file (a merge's moved file is back in the
// source tree before its copy here goes).
std::vector<const JournalEntry*> RestoreOrder(const JournalRun& run) {
  std::vector<const JournalEntry*> order;
  for (const JournalEntry& e : run.entries) order.push_back(&e);
  std::stable_partition(order.begin(), order.end(),
                        [](const JournalEntry* e) { return e->kind != JournalEntry::Kind::kCreated; });
  return order;
}

bool SameBytes(const File& a, const File& b, int64_t length) {
  std::vector<char> x(std::size_t{1} << 16), y(x.size());
  for (int64_t at = 0; at < length; at += static_cast<int64_t>(x.size())) {
    const auto n = static_cast<std::size_t>(std::min<int64_t>(length - at, static_cast<int64_t>(x.size())));
    if (!a.ReadAll(x.data(), n, at) || !b.ReadAll(y.data(), n, at) || std::memcmp(x.data(), y.data(), n) != 0)
      return false;
  }
  return true;
}

}  // namespace

int LaterRunTouching(const std::vector<JournalRun>& journal, const JournalRun& run) {
  const std::set<std::string> paths = PathsOf(run);
  for (const JournalRun& later : journal) {  // newest first
    if (later.id <= run.id || later.operation == UndoOperationName(run.id)) continue;
    for (const JournalEntry& e : later.entries)
      if (paths.contains((e.outsideTree ? "O" : "T") + e.path)) return later.id;
  }
  return 0;
}

OperationResult UndoEngine::UndoRun(int id, bool force) {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  const std::vector<JournalRun> journal = ReadJournal(layout_);
  const auto found = std::find_if(journal.begin(), journal.end(), [id](const JournalRun& r) { return r.id == id; });
  if (found == journal.end()) return Refuse("撤销记录中没有操作" + std::to_string(id) + "!");
  const JournalRun& run = *found;
  if (std::string problem = JournalRunProblem(layout_, run); !problem.empty()) return Refuse(problem);
  const bool outside = std::any_of(run.entries.begin(), run.entries.end(), [](const JournalEntry& e) { return e.outsideTree; });
  std::optional<TreeWriteLock> sourceLock;
  if (outside && !sourceLock.emplace(DataLayout(std::string(), run.source, RealFileSystem(), Reports())).held()) return sourceLock->Refuse();
  if (const int later = LaterRunTouching(journal, run); later != 0 && !force)
    return Refuse("操作" + std::to_string(id) + "之后的操作" + std::to_string(later) + "又改动了同样的文件, 请先撤销操作" +
                  std::to_string(later) + "!");
  for (const JournalEntry& e : run.entries)
    if (e.outsideTree && !force && ChangedSince(journal, run, e))
      return Refuse("操作" + std::to_string(id) + "之后, 合并来源中的文件" + e.path + "又有改动, 撤销会覆盖它!");
  const std::vector<const JournalEntry*> order = RestoreOrder(run);
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (Cancelled()) return Conclude(Outcome::kCancelled, "撤销已取消, 再次撤销可以完成它!");
    Reports().Progress(static_cast<double>(i) / static_cast<double>(order.size()));
    if (i % kRestoreBatch == 0)
      BeforeRestoring(std::span<const JournalEntry* const>(order).subspan(i, std::min(kRestoreBatch, order.size() - i)));
    if (Restore(run, *order[i])) continue;
    Reports().LogF("无法恢复文件%s!", EntryPath(layout_, *order[i]).c_str());
    NoteFailure();
  }
  FlushTree(layout_);
  Reports().Progress(1);
  const std::string message = Failures() > 0 ? "撤销操作" + std::to_string(id) + "完成, 有" +
                                                   std::to_string(Failures()) + "个文件无法恢复!"
                                             : "撤销操作" + std::to_string(id) + "完成!";
  Reports().Status(message);
  return Conclude(Outcome::kDone, message);
}

OperationResult UndoEngine::Refuse(const std::string& message) {
  Reports().ReportF("%s", message.c_str());
  return OperationResult{Outcome::kInvalid, message, 0};
}

bool UndoEngine::ChangedSince(const std::vector<JournalRun>& journal, const JournalRun& run, const JournalEntry& entry) {
  // What the run left there: nothing, unless it undid a run that had kept
  // the file, which it then put back.
  const JournalEntry* left = nullptr;
  const int undone = UndoneRunOf(run.operation);
  const auto before = std::find_if(journal.begin(), journal.end(), [undone](const JournalRun& r) { return r.id == undone; });
  if (before != journal.end())
    for (const JournalEntry& e : before->entries)
      if (e.outsideTree && e.path == entry.path) left = &e;
  return !Holds(entry.path, run, &entry) && !Holds(entry.path, before == journal.end() ? run : *before, left);
}

bool UndoEngine::Holds(const std::string& path, const JournalRun& run, const JournalEntry* entry) {
  FileSystem& files = layout_.Files();
  const File now = files.Open(path, OpenMode::kReadRegular);
  const bool kept = entry != nullptr && entry->kind == JournalEntry::Kind::kSaved;
  if (!now) return errno == ENOENT && !kept;
  const File old = kept ? files.Open(JournalStoreFile(layout_, run.id, entry->store), OpenMode::kReadRegular) : File();
  const int64_t length = !old ? -1 : entry->length >= 0 ? entry->length : old.Length();
  return length >= 0 && now.Length() == length && SameBytes(now, old, length);
}

// A file cut back in place is kept at its change, as a copy.
void UndoEngine::BeforeRestoring(std::span<const JournalEntry* const> entries) {
  std::vector<std::string> paths;
  for (const JournalEntry* entry : entries) {
    if (entry->kind == JournalEntry::Kind::kGrown) continue;
    paths.push_back(EntryPath(layout_, *entry));
    if (entry->kind == JournalEntry::Kind::kSaved) paths.push_back(paths.back() + kPartialFileSuffix);
  }
  layout_.Files().BeforeChanges(paths, ComingChange::kReplacement);
}

bool UndoEngine::Restore(const JournalRun& run, const JournalEntry& entry) {
  FileSystem& files = layout_.Files();
  const std::string path = EntryPath(layout_, entry);
  switch (entry.kind) {
    case JournalEntry::Kind::kCreated:
      return files.Remove(path) || errno == ENOENT;
    case JournalEntry::Kind::kGrown: {
      File file = files.Open(path, OpenMode::kUpdate);
      const int64_t length = file ? file.Length() : -1;
      if (length < entry.length) return false;  // the bytes it had are gone
      return (length == entry.length || file.Truncate(entry.length)) && file.Close();
    }
    case JournalEntry::Kind::kSaved:
      return PutBack(path, JournalStoreFile(layout_, run.id, entry.store), entry.length);
  }
  return false;
}

// A complete copy beside the file, renamed over it: a file is either as it
// was before the undo or as after it, whenever the undo stops.
bool UndoEngine::PutBack(const std::string& path, const std::string& kept, int64_t length) {
  FileSystem& files = layout_.Files();
  File from = files.Open(kept, OpenMode::kReadRegular);
  const int64_t size = !from ? -1 : length >= 0 ? length : from.Length();
  if (size < 0) return false;
  const std::string temp = path + kPartialFileSuffix;
  File to = OpenNewTemporary(files, temp);
  if (to && files.Copy(from, 0, to, 0, size) && to.Close() && files.Rename(temp, path)) return true;
  to.Close();
  files.Remove(temp);
  return false;
}

}  // namespace marbloom
