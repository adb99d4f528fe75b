#include "download/archive_unpack.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <new>
#include <optional>
#include <stdexcept>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "base/text_encoding.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "download/partial_file.h"
#include "download/zip_format.h"
#include "download/zip_reader.h"

namespace marbloom {
namespace {

constexpr uint32_t kCopyPieceBytes = 4096;
// An entry is written under its own name with this added, then renamed.
constexpr const char* kTemporarySuffix = kPartialFileSuffix;

// The most bytes an entry of a day archive may state, by the kind of file its
// name gives: over ten times that file's size for the sample generator's
// full market (code lists 2.1 MB, quote files 7.2 MB, the tick archive
// 192 MB; each as if one market held every security). No real file states
// more; anything else in a day archive is read by nothing.
constexpr uint64_t kOtherEntryBound = uint64_t{16} << 20;
struct EntryBound {
  std::string_view suffix;
  uint64_t maxBytes;
};
constexpr EntryBound kEntryBounds[] = {
    {".cod", uint64_t{32} << 20},
    {".md1", uint64_t{128} << 20},
    {".htc", uint64_t{2} << 30},
    {"", kOtherEntryBound},
};

uint64_t EntryBoundOf(std::string_view name) {
  for (const EntryBound& bound : kEntryBounds)
    if (name.ends_with(bound.suffix)) return bound.maxBytes;
  return 0;
}

// What the unpacking step asks of a downloaded archive beyond safe names.
struct ExtractRules {
  // Non-empty: the one entry written (the configuration archive); every other
  // name is refused and logged and changes nothing.
  std::string onlyEntry;
  // A day archive: no entry may state more than its kind's bound, and when
  // `day` is known the archive must hold one of the day's data files.
  bool boundSizes = false;
  int day = 0;
  std::vector<std::string> dayEntries;

  bool Takes(const std::string& name) const { return onlyEntry.empty() || name == onlyEntry; }
};

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsDirectoryName(const std::string& name) { return name.empty() || IsSeparator(name.back()); }

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    std::size_t extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 4;
    if (extra > 3 || s.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += extra + 1;
  }
  return true;
}

// Creates the directories a name implies: at each backslash and, once no
// backslash follows, at each forward slash. Each is created with its parents;
// failures (for example because it exists) are ignored.
void CreateEntryDirectories(FileSystem& files, const std::string& destination, const std::string& name) {
  std::size_t start = 0;
  for (;;) {
    std::size_t sep = name.find('\\', start);
    if (sep == std::string::npos) sep = name.find('/', start);
    if (sep == std::string::npos) return;
    MakeDirTree(files, destination + name.substr(0, sep), false);
    start = sep + 1;
  }
}

// Backslashes in entry names separate directories as forward slashes do.
std::string EntryPath(const std::string& destination, std::string name) {
  for (char& c : name)
    if (c == '\\') c = '/';
  return destination + name;
}

std::string CurrentEntryName(ZipReader& reader, ZipEntryInfo& info) {
  reader.GetCurrentEntryInfo(&info, nullptr, 0);
  std::vector<char> buffer(std::size_t{info.nameLength} + 2, '\0');
  reader.GetCurrentEntryInfo(nullptr, buffer.data(), info.nameLength + 1);
  buffer[info.nameLength] = '\0';
  return DecodeEntryName(buffer.data(), info.flag);
}

// Bytes free to an unprivileged writer on the file system of `path`, or of its
// nearest existing parent; nothing when that cannot be learnt.
std::optional<uint64_t> FreeBytesAt(FileSystem& files, std::string path) {
  for (;;) {
    if (const int64_t free = files.FreeSpace(path); free >= 0) return static_cast<uint64_t>(free);
    while (!path.empty() && path.back() == '/') path.pop_back();
    const std::size_t slash = path.rfind('/');
    if (errno != ENOENT || path.empty()) return std::nullopt;
    path.erase(slash == std::string::npos ? 0 : slash + 1);
  }
}

// Why an extraction failed: `reason` for the caller and the log, `status`
// the line the user sees.
struct ExtractFailure {
  std::string reason;
  std::string status = kUnpackFailedMessage;
};

// Reads the whole central directory before anything is written: logs the
// names the rules refuse; refuses the archive for a name that would leave the
// destination, an entry larger than any real file of its kind, a day archive
// without the day's data, and a stated total that does not fit in the free
// space there.
std::optional<ExtractFailure> CheckBeforeWriting(FileSystem& files, ZipReader& reader, const std::string& archivePath,
                                                 const std::string& destination, const ExtractRules& rules) {
  uint64_t total = 0;
  bool holdsTheDay = false;
  reader.GoToFirstEntry();
  do {
    ZipEntryInfo info;
    const std::string name = CurrentEntryName(reader, info);
    if (!rules.Takes(name)) {
      RunLog("已忽略压缩包中的%s", PrintableText(name).c_str());
      continue;
    }
    if (IsUnsafeEntryName(name)) {
      RunLog("%s %s", kUnpackFailedMessage, PrintableText(name).c_str());
      return ExtractFailure{"entry name leaves the destination: " + PrintableText(name)};
    }
    if (IsDirectoryName(name)) continue;
    if (rules.boundSizes && info.uncompressedSize > EntryBoundOf(name))
      return ExtractFailure{"entry " + PrintableText(name) + " states " + std::to_string(info.uncompressedSize) +
                            " bytes, more than any real file of its kind"};
    holdsTheDay = holdsTheDay || std::find(rules.dayEntries.begin(), rules.dayEntries.end(), name) !=
                                     rules.dayEntries.end();
    total += info.uncompressedSize;
  } while (reader.GoToNextEntry());
  if (rules.day != 0 && !holdsTheDay) {
    const std::string message = FormatText("下载文件中没有%08d的数据!", rules.day);
    return ExtractFailure{message, message};
  }
  const std::optional<uint64_t> free = FreeBytesAt(files, destination);
  if (!free || total <= *free) return std::nullopt;
  const std::string message = "磁盘空间不足, 未解压" + archivePath + ": 需要" + std::to_string(total) + "字节, " +
                              destination + "只有" + std::to_string(*free) + "字节可用!";
  return ExtractFailure{message, message};
}

// Copies the open entry into `out`; false with the reason when it does not
// hold exactly its stated size.
bool CopyEntry(ZipReader& reader, ZipOutputFile& out, const ZipEntryInfo& info, const std::string& name,
               std::string& reason) {
  unsigned char piece[kCopyPieceBytes];
  uint64_t written = 0;
  uint32_t n = 0;
  do {
    n = reader.ReadCurrentEntry(piece, sizeof piece);
    if (n > 0) out.Write(piece, n);
    written += n;
  } while (n == sizeof piece);
  if (written != info.uncompressedSize || reader.HasDataBeyondStatedSize()) {
    reason = "entry " + PrintableText(name) + " does not hold its stated " + std::to_string(info.uncompressedSize) +
             " bytes";
    return false;
  }
  return true;
}

enum class EntryOutcome { kPlaced, kSkipped, kDamaged };

// Writes the current entry to its temporary and renames it over `path` once
// its size and CRC-32 are right. An entry whose file cannot be created or
// replaced is skipped with the reason; damage ends the extraction.
EntryOutcome WriteEntry(FileSystem& files, ZipReader& reader, const ZipEntryInfo& info, const std::string& name,
                        const std::string& path, std::string& reason) {
  PartialFile temporary(files, path + kTemporarySuffix);
  ZipOutputFile out;
  if (!out.Open(files, temporary.path())) {
    reason = ZipFileError("open", errno, temporary.path()).what();
    return EntryOutcome::kSkipped;
  }
  reader.OpenCurrentEntry();
  if (!CopyEntry(reader, out, info, name, reason)) return EntryOutcome::kDamaged;
  reader.CloseCurrentEntry();  // the CRC-32 check
  ZipReader::ApplyEntryStatus(out, info);
  if (!files.Rename(temporary.path(), path)) {
    reason = ZipFileError("rename", errno, path).what();
    return EntryOutcome::kSkipped;
  }
  temporary.Keep();
  return EntryOutcome::kPlaced;
}

struct Extraction {
  int placed = 0;  // entries renamed into place
  std::optional<ExtractFailure> failure;
};

void ExtractEntries(FileSystem& files, ZipReader& reader, const std::string& destination, const ExtractRules& rules,
                    Extraction& extraction) {
  reader.GoToFirstEntry();
  do {
    ZipEntryInfo info;
    const std::string name = CurrentEntryName(reader, info);
    if (!rules.Takes(name)) continue;
    CreateEntryDirectories(files, destination, name);
    if (IsDirectoryName(name)) continue;
    std::string reason;
    switch (WriteEntry(files, reader, info, name, EntryPath(destination, name), reason)) {
      case EntryOutcome::kPlaced: ++extraction.placed; break;
      case EntryOutcome::kSkipped: extraction.failure = ExtractFailure{reason}; break;
      case EntryOutcome::kDamaged: extraction.failure = ExtractFailure{reason}; return;
    }
  } while (reader.GoToNextEntry());
  reader.Close();
}

// Runs `read` on a reader of the archive; the reason when it, the reader or
// the file layer failed (ZipError and ZipFileError are runtime errors).
template <class Read>
std::optional<std::string> WithReader(FileSystem& files, const std::string& archivePath, Read read) {
  try {
    ZipReader reader(files, archivePath);
    read(reader);
    return std::nullopt;
  } catch (const std::runtime_error& e) {
    return e.what();
  } catch (const std::bad_alloc&) {
    return "out of memory: " + archivePath;
  }
}

Extraction RunExtraction(FileSystem& files, const std::string& archivePath, const std::string& destination,
                         const ExtractRules& rules) {
  Extraction extraction;
  const std::optional<std::string> failed = WithReader(files, archivePath, [&](ZipReader& reader) {
    extraction.failure = CheckBeforeWriting(files, reader, archivePath, destination, rules);
    if (extraction.failure) return;
    MakeDirTree(files, destination, false);
    ExtractEntries(files, reader, destination, rules, extraction);
  });
  if (failed) extraction.failure = ExtractFailure{*failed};
  return extraction;
}

OperationResult Extract(FileSystem& files, const std::string& archivePath, const std::string& destination,
                        std::string* reason, const ExtractRules& rules) {
  std::string dest = destination;
  if (dest.empty() || dest.back() != '/') dest += '/';
  Extraction extraction = RunExtraction(files, archivePath, dest, rules);
  // One sync for everything placed, also when a later entry failed.
  if (extraction.placed > 0 && !files.SyncFileSystem(dest) && !extraction.failure)
    extraction.failure = ExtractFailure{"sync failed: " + dest};
  if (!extraction.failure) return OperationResult{Outcome::kDone, kUnpackDoneMessage, 0};
  if (reason != nullptr) *reason = extraction.failure->reason;
  return OperationResult{Outcome::kFailed, extraction.failure->status, 1};
}

// The configuration archive gives its configuration file and nothing else; a
// day archive is bounded and, when its name gives the day, must hold that
// day's data files.
ExtractRules RulesFor(const DataLayout& layout, int type, const std::string& fileName) {
  ExtractRules rules;
  const std::string dir = ArchiveDestinationDir(layout, type);
  if (type == kDownloadConfig) {
    rules.onlyEntry = layout.DownloadConfigFile().substr(dir.size());
    return rules;
  }
  rules.boundSizes = true;
  const int day = DataLayout::DateOfDayArchive(fileName);
  std::vector<std::string> files;
  if (dir == layout.DailySourceDir()) {
    for (int market = 0; market < kMarketCount; ++market)
      files.insert(files.end(), {layout.CodeListFile(market, day), layout.QuoteFile(market, day)});
  } else if (dir == layout.TickArchiveDir()) {
    files.push_back(layout.TickArchiveFile(day));
  }
  if (day == 0 || files.empty()) return rules;
  rules.day = day;
  for (const std::string& file : files) rules.dayEntries.push_back(file.substr(dir.size()));
  return rules;
}

bool WritesIntoTree(int type) { return type != kDownloadConfig; }

}  // namespace

std::string ArchiveDownloadDir(const DataLayout& layout, int type) {
  switch (type) {
    case kDownloadConfig: return layout.DownDir();
    case kDownloadDaily: return layout.DayZipDir();
    case kDownloadTick: return layout.TickZipDir();
    default: return {};
  }
}

std::string DownloadedArchivePath(const DataLayout& layout, int type, const std::string& fileName) {
  const std::string dir = ArchiveDownloadDir(layout, type);
  return dir.empty() ? std::string() : dir + fileName;
}

// A daily archive holds a code list and a quote file per market, a tick
// archive one day's tick file; each may hold a little more that nothing reads.
uint64_t DownloadedArchiveBound(int type) {
  switch (type) {
    case kDownloadConfig: return kOtherEntryBound;
    case kDownloadDaily: return kMarketCount * (EntryBoundOf(".cod") + EntryBoundOf(".md1")) + kOtherEntryBound;
    case kDownloadTick: return EntryBoundOf(".htc") + kOtherEntryBound;
    default: return 0;
  }
}

std::string ArchiveDestinationDir(const DataLayout& layout, int type) {
  switch (type) {
    case kDownloadConfig: return layout.WorkDir();
    case kDownloadDaily: return layout.DailySourceDir();
    case kDownloadTick: return layout.TickArchiveDir();
    default: return {};
  }
}

bool IsUnsafeEntryName(std::string_view name) {
  if (!name.empty() && IsSeparator(name.front())) return true;
  if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]))) return true;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    if (name.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

std::string DecodeEntryName(std::string_view stored, unsigned flag) {
  std::string_view name = stored.substr(0, stored.find('\0'));
  if ((flag & zipfmt::kFlagUtf8Name) != 0 || IsValidUtf8(name)) return std::string(name);
  return GbkToUtf8(name);
}

OperationResult ExtractArchive(FileSystem& files, const std::string& archivePath, const std::string& destination,
                               std::string* reason) {
  return Extract(files, archivePath, destination, reason, ExtractRules{});
}

bool ListArchive(FileSystem& files, const std::string& archivePath, std::vector<ArchiveEntry>& entries,
                 std::string* reason) {
  entries.clear();
  const std::optional<std::string> failed = WithReader(files, archivePath, [&](ZipReader& reader) {
    reader.GoToFirstEntry();
    do {
      ZipEntryInfo info;
      std::string name = CurrentEntryName(reader, info);
      entries.push_back(ArchiveEntry{std::move(name), info.uncompressedSize, info.compressedSize, info.crc32,
                                     info.method, info.modificationTime});
    } while (reader.GoToNextEntry());
    reader.Close();
  });
  if (failed && reason != nullptr) *reason = *failed;
  return !failed;
}

OperationResult UnpackDownloadedArchive(const DataLayout& layout, const std::string& fileName, int type) {
  std::optional<TreeWriteLock> lock;
  if (WritesIntoTree(type)) {
    lock.emplace(layout);
    if (!lock->held()) return lock->Refuse();
  }
  const std::string path = DownloadedArchivePath(layout, type, fileName);
  RunLog("准备解压文件 %s ", path.c_str());
  if (path.empty() || !layout.Files().Open(path, OpenMode::kReadRegular)) {
    SetStatusText(kArchiveMissingMessage);
    RunLog("%s %s", path.c_str(), kArchiveMissingMessage);
    return OperationResult{Outcome::kFailed, kArchiveMissingMessage, 1};
  }
  std::string reason;
  OperationResult result =
      Extract(layout.Files(), path, ArchiveDestinationDir(layout, type), &reason, RulesFor(layout, type, fileName));
  if (!result.done() && reason != result.message) RunLog("%s", reason.c_str());
  ReportF("%s", result.message.c_str());
  return result;
}

}  // namespace marbloom
