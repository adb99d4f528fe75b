#include "download/archive_store.h"

#include <algorithm>
#include <vector>

#include "base/file_helpers.h"
#include "base/file_system.h"
#include "base/text_encoding.h"
#include "common/calendar.h"
#include "common/shared_state.h"
#include "download/download_config.h"
#include "download/download_kind.h"
#include "download/manifest_verify.h"

namespace marbloom {
namespace {

constexpr std::size_t kCopyChunk = std::size_t{1} << 20;

// Plain names separated by '/', ending in '/': nothing that leaves the folder.
bool SafeFolder(const std::string& value) {
  if (value.empty()) return true;
  if (value.back() != '/' || value.front() == '/') return false;
  for (std::size_t pos = 0; pos < value.size();) {
    const std::size_t end = value.find('/', pos);
    const std::string name = value.substr(pos, end - pos);
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") != std::string::npos)
      return false;
    pos = end + 1;
  }
  return true;
}

// `from` copied to `to` through a temporary beside it.
bool CopyFile(FileSystem& files, const std::string& from, const std::string& to) {
  File in = files.Open(from, OpenMode::kRead);
  const int64_t length = in ? in.Length() : -1;
  const std::string temporary = to + kPartialFileSuffix;
  File out = length >= 0 ? OpenNewTemporary(files, temporary) : File();
  std::vector<char> buffer(kCopyChunk);
  bool ok = out.valid();
  for (int64_t at = 0; ok && at < length;) {
    const std::size_t n = static_cast<std::size_t>(std::min<int64_t>(length - at, kCopyChunk));
    ok = in.ReadAll(buffer.data(), n, at) && out.Write(buffer.data(), n, at);
    at += static_cast<int64_t>(n);
  }
  ok = ok && out.Close() && files.Rename(temporary, to);
  if (!ok) files.Remove(temporary);
  return ok;
}

bool IsFile(FileSystem& files, const std::string& path) {
  File file = files.Open(path, OpenMode::kRead);
  return file.valid();
}

struct Folder {
  std::string source, target;  // download folder, folder of the mirror
  bool dayArchives;
};

// One folder's archives in range, then its manifest and signature; false
// when a file could not be written.
bool PublishFolder(FileSystem& files, const Folder& folder, int first, int last, int& archives) {
  if (!MakeDirTree(files, folder.target, false)) return false;
  std::vector<DirEntry> entries;
  files.List(folder.source, [](std::string_view name) { return name.ends_with(".zip"); }, &entries);
  for (const DirEntry& entry : entries) {
    if (entry.kind != DirEntry::Kind::kRegular) continue;
    const int date = DataLayout::DateOfDayArchive(entry.name);
    const bool wanted = folder.dayArchives ? date != 0 && (first == 0 || date >= first) && (last == 0 || date <= last)
                                           : entry.name == DataLayout::kConfigArchiveName;
    if (!wanted) continue;
    if (!CopyFile(files, folder.source + entry.name, folder.target + entry.name)) return false;
    ++archives;
  }
  for (const char* name : {kManifestName, kManifestSignatureName})
    if (IsFile(files, folder.source + name) && !CopyFile(files, folder.source + name, folder.target + name))
      return false;
  return true;
}

OperationResult Failed(Reporter& reporter, const std::string& message) {
  reporter.ReportF("%s", message.c_str());
  return OperationResult{Outcome::kFailed, message, 1};
}

}  // namespace

bool MirrorFoldersOf(const DataLayout& layout, MirrorFolders& folders) {
  // Read over an empty base URL, each entry is the value itself.
  const DownloadConfig config = ReadDownloadConfig(layout, std::string());
  folders.daily = config.ServerPath(ServerPathNumber(DownloadKind::kDaily));
  folders.tick = config.ServerPath(ServerPathNumber(DownloadKind::kTick));
  for (const std::string* value : {&folders.daily, &folders.tick}) {
    if (SafeFolder(*value)) continue;
    layout.Reports().LogF("下载配置中的服务器目录%s不是相对目录, 不能用于镜像!", PrintableText(*value).c_str());
    return false;
  }
  return true;
}

OperationResult PublishMirror(const DataLayout& layout, const std::string& outDir, int first, int last) {
  FileSystem& files = layout.Files();
  MirrorFolders folders;
  if (!IsFile(files, layout.DownDir() + DataLayout::kConfigArchiveName) || !IsFile(files, layout.DownloadConfigFile()))
    return Failed(layout.Reports(), "下载区中没有配置文件, 请先下载!");
  if (!MirrorFoldersOf(layout, folders)) return Failed(layout.Reports(), "下载配置中的服务器目录无效, 不能生成镜像!");
  const std::string out = NormalizeDirPath(outDir);
  const Folder all[] = {{layout.DownDir(), out, false},
                        {layout.DayZipDir(), out + folders.daily, true},
                        {layout.TickZipDir(), out + folders.tick, true}};
  int archives = 0;
  for (const Folder& folder : all)
    if (!PublishFolder(files, folder, first, last, archives)) return Failed(layout.Reports(), "镜像目录" + folder.target + "写入失败!");
  if (!files.SyncFileSystem(out)) return Failed(layout.Reports(), "镜像目录" + out + "写入磁盘失败!");
  if (archives <= 1) return OperationResult{Outcome::kNothingToDo, "下载区中没有该时段的数据文件.", 0};
  const std::string message = FormatText("镜像完成, 共%d个文件: %s", archives, out.c_str());
  layout.Reports().ReportF("%s", message.c_str());
  return OperationResult{Outcome::kDone, message, 0};
}

OperationResult PruneArchives(const DataLayout& layout, int keepDays, int today) {
  if (keepDays <= 0) return OperationResult{Outcome::kNothingToDo, std::string(), 0};
  int oldest = today;  // the first weekday kept
  for (int kept = 1; kept < keepDays && oldest > 0;) {
    oldest = AddDays(oldest, -1, 0);
    kept += DayOfWeek(oldest) % 6 != 0;
  }
  FileSystem& files = layout.Files();
  int removed = 0, failed = 0;
  for (const std::string& dir : {layout.DayZipDir(), layout.TickZipDir()}) {
    std::vector<DirEntry> entries;
    files.List(dir, [](std::string_view name) { return name.ends_with(".zip"); }, &entries);
    for (const DirEntry& entry : entries) {
      const int date = DataLayout::DateOfDayArchive(entry.name);
      if (date == 0 || date >= oldest || entry.kind != DirEntry::Kind::kRegular) continue;
      if (files.Remove(dir + entry.name)) {
        ++removed;
      } else {
        ++failed;
        layout.Reports().LogF("%s%s删除失败!", dir.c_str(), entry.name.c_str());
      }
    }
  }
  const std::string message = FormatText("已删除%d个%08d以前的数据文件.", removed, oldest);
  layout.Reports().Log(message);
  return OperationResult{failed > 0 ? Outcome::kFailed : Outcome::kDone, message, failed};
}

}  // namespace marbloom
