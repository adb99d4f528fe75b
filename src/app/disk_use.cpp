#include "app/disk_use.h"

#include "base/text_encoding.h"
#include "common/dir_walk.h"
#include "common/tree_lock.h"
#include "undo/undo_journal.h"

namespace marbloom {
namespace {

int64_t FolderBytes(FileSystem& files, const std::string& dir) {
  int64_t total = 0;
  for (const WalkEntry& e : ListCountedFiles(files, dir, "*", true)) total += e.size;
  return total;
}

}  // namespace

DiskUse MeasureDiskUse(const DataLayout& layout) {
  FileSystem& files = layout.Files();
  return DiskUse{JournalBytes(layout),
                 FolderBytes(files, layout.DownDir()) + FolderBytes(files, layout.DayZipDir()) +
                     FolderBytes(files, layout.TickZipDir())};
}

OperationResult ClearUndoJournal(const DataLayout& layout) {
  if (!ClearJournal(layout)) return TreeWriteLock(layout).Refuse();
  return OperationResult{Outcome::kDone, "撤销记录已清除!", 0};
}

OperationResult ClearDownloads(const DataLayout& layout) {
  const TreeWriteLock writer(layout);
  if (!writer.held()) return writer.Refuse();
  FileSystem& files = layout.Files();
  std::vector<std::string> archives;
  for (const std::string& dir : {layout.DayZipDir(), layout.TickZipDir()})
    for (const WalkEntry& e : ListCountedFiles(files, dir, "*.zip", true))
      if (e.regular && DataLayout::DateOfDayArchive(e.name) != 0) archives.push_back(dir + e.name);
  const std::string config = layout.DownDir() + DataLayout::kConfigArchiveName;
  if (files.Exists(config)) archives.push_back(config);
  for (const std::string& path : archives)
    if (!files.Remove(path)) return OperationResult{Outcome::kFailed, "删除" + path + "失败!", 1};
  return OperationResult{Outcome::kDone, FormatText("已删除%zu个下载文件!", archives.size()), 0};
}

std::string ByteSizeText(int64_t bytes) {
  static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
  if (bytes < 1024) return FormatText("%lld B", static_cast<long long>(bytes));
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  for (; value >= 1024 && unit < 3; ++unit) value /= 1024;
  return FormatText("%.1f %s", value, kUnits[unit]);
}

}  // namespace marbloom
