#include "download/archive_unpack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <new>
#include <vector>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "app/settings.h"
#include "base/text_encoding.h"
#include "common/shared_state.h"
#include "download/zip_format.h"
#include "download/zip_reader.h"

namespace marbloom {
namespace {

constexpr uint32_t kCopyPieceBytes = 4096;

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
    MakeDirTree(destination + name.substr(0, sep), 0);
    start = sep + 1;
  }
}

// Backslashes in entry names separate directories as forward slashes do.
std::string EntryPath(const std::string& destination, std::string name) {
  for (char& c : name)
    if (c == '\\') c = '/';
  return destination + name;
}

// Opens the output file; when that fails on an existing file without owner
// write permission ("read-only"), adds that permission and tries once more.
bool OpenOutput(ZipOutputFile& out, const std::string& path) {
  if (out.Open(path)) return true;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0)
    ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
  if (out.Open(path)) return true;
  int error = errno;
  RunLog("%s %s", kUnpackFailedMessage, path.c_str());
  errno = error;
  return false;
}

std::string CurrentEntryName(ZipReader& reader, ZipEntryInfo& info) {
  reader.GetCurrentEntryInfo(&info, nullptr, 0);
  std::vector<char> buffer(std::size_t{info.nameLength} + 2, '\0');
  reader.GetCurrentEntryInfo(nullptr, buffer.data(), info.nameLength + 1);
  buffer[info.nameLength] = '\0';
  return DecodeEntryName(buffer.data(), info.flag);
}

void CopyEntry(ZipReader& reader, ZipOutputFile& out, const ZipEntryInfo& info) {
  reader.OpenCurrentEntry();
  unsigned char piece[kCopyPieceBytes];
  uint32_t n = 0;
  do {
    n = reader.ReadCurrentEntry(piece, sizeof piece);
    if (n > 0) out.Write(piece, n);
  } while (n == sizeof piece);
  ZipReader::ApplyEntryStatus(out, info);
}

void SetReason(std::string* reason, std::string text) {
  if (reason != nullptr) *reason = std::move(text);
}

// Walks the entries; false with the reason at the first entry that cannot be
// written safely or completely.
bool ExtractEntries(const std::string& archivePath, const std::string& destination, std::string* reason) {
  ZipReader reader(archivePath);
  reader.GoToFirstEntry();
  ZipOutputFile out;
  bool complete = true;
  do {
    ZipEntryInfo info;
    std::string name = CurrentEntryName(reader, info);
    if (IsUnsafeEntryName(name)) {
      RunLog("%s %s", kUnpackFailedMessage, name.c_str());
      SetReason(reason, "entry name leaves the destination: " + name);
      return false;
    }
    CreateEntryDirectories(destination, name);
    if (IsDirectoryName(name)) continue;
    std::string path = EntryPath(destination, name);
    if (!OpenOutput(out, path)) {
      SetReason(reason, ZipFileError("open", errno, path).what());
      complete = false;
      continue;
    }
    CopyEntry(reader, out, info);
  } while (reader.GoToNextEntry());
  reader.Close();
  return complete;
}

}  // namespace

std::string ArchiveDownloadDir(int type) {
  const AppSettings& s = Settings();
  switch (type) {
    case kDownloadConfig: return s.downDir;
    case 7: case 9: case kDownloadDaily: return s.dayZipDir;
    case 1: case 8: case kDownloadTick: return s.tickZipDir;
    default: return {};
  }
}

std::string ArchiveDestinationDir(int type) {
  const AppSettings& s = Settings();
  switch (type) {
    case kDownloadConfig: return WorkDirectory();
    case 1: return s.historyDir + "datetick/";
    case 7: case 9: case kDownloadDaily: return s.historyDir + "refmhq/";
    case 8: case kDownloadTick: return s.historyDir + "newdatetick/";
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

int ExtractArchive(const std::string& archivePath, const std::string& destination, std::string* reason) {
  std::string dest = destination;
  if (dest.empty() || dest.back() != '/') dest += '/';
  int fd = ::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    SetReason(reason, ZipFileError("open", errno, archivePath).what());
    return 0;
  }
  ::close(fd);
  MakeDirTree(dest, 0);
  try {
    return ExtractEntries(archivePath, dest, reason) ? 1 : 0;
  } catch (const ZipError& e) {
    SetReason(reason, e.what());
  } catch (const ZipFileError& e) {
    SetReason(reason, e.what());
  } catch (const std::bad_alloc&) {
    SetReason(reason, "out of memory: " + archivePath);
  }
  return 0;
}

int UnpackArchive(const std::string& fileName, int type) {
  std::string dir = ArchiveDownloadDir(type);
  std::string path = dir + fileName;
  RunLog("准备解压文件 %s ", path.c_str());
  struct stat st {};
  int fd = dir.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  bool readable = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (fd >= 0) ::close(fd);
  if (!readable) {
    SetStatusText(kArchiveMissingMessage);
    RunLog("%s %s", path.c_str(), kArchiveMissingMessage);
    return -1;
  }
  std::string reason;
  if (ExtractArchive(path, ArchiveDestinationDir(type), &reason) == 1) {
    ReportF("%s", kUnpackDoneMessage);
    return 1;
  }
  RunLog("%s", reason.c_str());
  ReportF("%s", kUnpackFailedMessage);
  return -1;
}

}  // namespace marbloom
