#include "zip/archive_extract.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <new>
#include <optional>
#include <stdexcept>

#include "base/file_helpers.h"
#include "base/text_encoding.h"
#include "zip/partial_file.h"
#include "zip/zip_format.h"
#include "zip/zip_reader.h"

namespace marbloom {
namespace {


constexpr uint32_t kCopyPieceBytes = 4096;
// An entry is written under its own name with this added, then renamed.
constexpr const char* kTemporarySuffix = kPartialFileSuffix;

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
      rules.reporter->LogF("已忽略压缩包中的%s", PrintableText(name).c_str());
      continue;
    }
    if (IsUnsafeEntryName(name)) {
      rules.reporter->LogF("%s %s", kUnpackFailedMessage, PrintableText(name).c_str());
      return ExtractFailure{"entry name leaves the destination: " + PrintableText(name)};
    }
    if (IsDirectoryName(name)) continue;
    if (rules.entryBound != nullptr && info.uncompressedSize > rules.entryBound(name))
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

}  // namespace

OperationResult ExtractArchive(FileSystem& files, const std::string& archivePath, const std::string& destination,
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

}  // namespace marbloom
