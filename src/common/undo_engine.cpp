#include "common/undo_engine.h"

#include <cerrno>
#include <set>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"

namespace marbloom {
namespace {

std::set<std::string> PathsOf(const JournalRun& run) {
  std::set<std::string> paths;
  for (const JournalEntry& e : run.entries) paths.insert((e.outsideTree ? "O" : "T") + e.path);
  return paths;
}

}  // namespace

std::string UndoOperationName(int id) { return "undo " + std::to_string(id); }

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
  const JournalRun* run = nullptr;
  for (const JournalRun& r : journal)
    if (r.id == id) run = &r;
  if (run == nullptr) {
    ReportF("撤销记录中没有操作%d!", id);
    return OperationResult{Outcome::kInvalid, StatusText(), 0};
  }
  if (const int later = LaterRunTouching(journal, *run); later != 0 && !force) {
    ReportF("操作%d之后的操作%d又改动了同样的文件, 请先撤销操作%d!", id, later, later);
    return OperationResult{Outcome::kInvalid, StatusText(), 0};
  }
  const std::size_t count = run->entries.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (Cancelled()) return Conclude(Outcome::kCancelled, "撤销已取消, 再次撤销可以完成它!");
    SetProgressFraction(static_cast<double>(i) / static_cast<double>(count));
    if (Restore(*run, run->entries[i])) continue;
    RunLog("无法恢复文件%s!", EntryPath(layout_, run->entries[i]).c_str());
    NoteFailure();
  }
  FlushTree(layout_);
  SetProgressFraction(1);
  const std::string message = Failures() > 0 ? "撤销操作" + std::to_string(id) + "完成, 有" +
                                                   std::to_string(Failures()) + "个文件无法恢复!"
                                             : "撤销操作" + std::to_string(id) + "完成!";
  SetStatusText(message);
  return Conclude(Outcome::kDone, message);
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
