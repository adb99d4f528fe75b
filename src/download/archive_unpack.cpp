#include "download/archive_unpack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <new>
#include <optional>
#include <stdexcept>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "base/text_encoding.h"
#include "base/unique_fd.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "download/partial_file.h"
#include "download/zip_format.h"
#include "download/zip_reader.h"

namespace marbloom {
namespace {

constexpr uint32_t kCopyPieceBytes = 4096;
// An entry is written under its own name with this added, then renamed.
constexpr const char* kTemporarySuffix = ".part";

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
void CreateEntryDirectories(const std::string& destination, const std::string& name) {
  std::size_t start = 0;
  for (;;) {
    std::size_t sep = name.find('\\', start);
    if (sep == std::string::npos) sep = name.find('/', start);
    if (sep == std::string::npos) return;
    MakeDirTree(destination + name.substr(0, sep), false);
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
std::optional<uint64_t> FreeBytesAt(std::string path) {
  for (;;) {
    struct statvfs fs {};
    if (::statvfs(path.empty() ? "." : path.c_str(), &fs) == 0)
      return static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_frsize);
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

// Reads the whole central directory before anything is written: refuses
// names that would leave the destination and a stated total that does not
// fit in the free space there.
std::optional<ExtractFailure> CheckBeforeWriting(ZipReader& reader, const std::string& archivePath,
                                                 const std::string& destination) {
  uint64_t total = 0;
  reader.GoToFirstEntry();
  do {
    ZipEntryInfo info;
    const std::string name = CurrentEntryName(reader, info);
    if (IsUnsafeEntryName(name)) {
      RunLog("%s %s", kUnpackFailedMessage, name.c_str());
      return ExtractFailure{"entry name leaves the destination: " + name};
    }
    if (!IsDirectoryName(name)) total += info.uncompressedSize;
  } while (reader.GoToNextEntry());
  const std::optional<uint64_t> free = FreeBytesAt(destination);
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
    reason = "entry " + name + " does not hold its stated " + std::to_string(info.uncompressedSize) + " bytes";
    return false;
  }
  return true;
}

enum class EntryOutcome { kPlaced, kSkipped, kDamaged };

// Writes the current entry to its temporary and renames it over `path` once
// its size and CRC-32 are right. An entry whose file cannot be created or
// replaced is skipped with the reason; damage ends the extraction.
EntryOutcome WriteEntry(ZipReader& reader, const ZipEntryInfo& info, const std::string& name,
                        const std::string& path, std::string& reason) {
  PartialFile temporary(path + kTemporarySuffix);
  ZipOutputFile out;
  if (!out.Open(temporary.path())) {
    reason = ZipFileError("open", errno, temporary.path()).what();
    return EntryOutcome::kSkipped;
  }
  reader.OpenCurrentEntry();
  if (!CopyEntry(reader, out, info, name, reason)) return EntryOutcome::kDamaged;
  reader.CloseCurrentEntry();  // the CRC-32 check
  ZipReader::ApplyEntryStatus(out, info);
  if (!ReplaceFileAtomically(temporary.path(), path)) {
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

void ExtractEntries(ZipReader& reader, const std::string& destination, Extraction& extraction) {
  reader.GoToFirstEntry();
  do {
    ZipEntryInfo info;
    const std::string name = CurrentEntryName(reader, info);
    CreateEntryDirectories(destination, name);
    if (IsDirectoryName(name)) continue;
    std::string reason;
    switch (WriteEntry(reader, info, name, EntryPath(destination, name), reason)) {
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
std::optional<std::string> WithReader(const std::string& archivePath, Read read) {
  try {
    ZipReader reader(archivePath);
    read(reader);
    return std::nullopt;
  } catch (const std::runtime_error& e) {
    return e.what();
  } catch (const std::bad_alloc&) {
    return "out of memory: " + archivePath;
  }
}

Extraction RunExtraction(const std::string& archivePath, const std::string& destination) {
  Extraction extraction;
  const std::optional<std::string> failed = WithReader(archivePath, [&](ZipReader& reader) {
    extraction.failure = CheckBeforeWriting(reader, archivePath, destination);
    if (extraction.failure) return;
    MakeDirTree(destination, false);
    ExtractEntries(reader, destination, extraction);
  });
  if (failed) extraction.failure = ExtractFailure{*failed};
  return extraction;
}

bool WritesIntoTree(int type) { return type != kDownloadConfig; }

}  // namespace

std::string ArchiveDownloadDir(const DataLayout& layout, int type) {
  switch (type) {
    case kDownloadConfig: return layout.DownDir();
    case 7: case 9: case kDownloadDaily: return layout.DayZipDir();
    case 1: case 8: case kDownloadTick: return layout.TickZipDir();
    default: return {};
  }
}

std::string DownloadedArchivePath(const DataLayout& layout, int type, const std::string& fileName) {
  const std::string dir = ArchiveDownloadDir(layout, type);
  return dir.empty() ? std::string() : dir + fileName;
}

std::string ArchiveDestinationDir(const DataLayout& layout, int type) {
  switch (type) {
    case kDownloadConfig: return layout.WorkDir();
    case 1: return layout.OldTickArchiveDir();
    case 7: case 9: case kDownloadDaily: return layout.DailySourceDir();
    case 8: case kDownloadTick: return layout.TickArchiveDir();
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

OperationResult ExtractArchive(const std::string& archivePath, const std::string& destination, std::string* reason) {
  std::string dest = destination;
  if (dest.empty() || dest.back() != '/') dest += '/';
  Extraction extraction = RunExtraction(archivePath, dest);
  // One sync for everything placed, also when a later entry failed.
  if (extraction.placed > 0 && !SyncFileSystemOf(dest) && !extraction.failure)
    extraction.failure = ExtractFailure{"sync failed: " + dest};
  if (!extraction.failure) return OperationResult{Outcome::kDone, kUnpackDoneMessage, 0};
  if (reason != nullptr) *reason = extraction.failure->reason;
  return OperationResult{Outcome::kFailed, extraction.failure->status, 1};
}

bool ListArchive(const std::string& archivePath, std::vector<ArchiveEntry>& entries, std::string* reason) {
  entries.clear();
  const std::optional<std::string> failed = WithReader(archivePath, [&](ZipReader& reader) {
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
  struct stat st {};
  UniqueFd fd(path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    SetStatusText(kArchiveMissingMessage);
    RunLog("%s %s", path.c_str(), kArchiveMissingMessage);
    return OperationResult{Outcome::kFailed, kArchiveMissingMessage, 1};
  }
  fd.Close();
  std::string reason;
  OperationResult result = ExtractArchive(path, ArchiveDestinationDir(layout, type), &reason);
  if (!result.done()) RunLog("%s", reason.c_str());
  ReportF("%s", result.message.c_str());
  return result;
}

int UnpackArchive(const DataLayout& layout, const std::string& fileName, int type) {
  return UnpackDownloadedArchive(layout, fileName, type).done() ? 1 : -1;
}

}  // namespace marbloom
