#pragma once
// Extracting a ZIP archive into one directory under rules the caller sets,
// and listing its entries. The ZIP reader's errors end here: callers get
// results and reasons, never a ZipError.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_system.h"
#include "base/reporter.h"
#include "common/operation_result.h"

namespace marbloom {

inline constexpr const char* kUnpackFailedMessage = "解压失败，请检查Zip文件!";
inline constexpr const char* kUnpackDoneMessage = "下载成功!";

// What an extraction asks of an archive beyond safe names.
struct ExtractRules {
  // Non-empty: the one entry written; every other name is refused and logged
  // and changes nothing.
  std::string onlyEntry;
  // Set: no entry may state more bytes than it gives for the entry's name.
  uint64_t (*entryBound)(std::string_view name) = nullptr;
  // Non-zero: the archive must hold one of `dayEntries`, else it is refused
  // with a message naming the day.
  int day = 0;
  std::vector<std::string> dayEntries;
  // Where the names refused are logged.
  Reporter* reporter = &SilentReporter();

  bool Takes(const std::string& name) const { return onlyEntry.empty() || name == onlyEntry; }
};

// Writes every entry of the archive under `destination` (created when
// missing). Before anything is written the whole central directory is read:
// a name that would land outside the destination, or a stated total larger
// than the destination's free space, refuses the archive. Each entry goes to
// a temporary beside its file and is renamed over it only once its size and
// CRC-32 check out, so a damaged entry leaves the file it would replace as it
// was; entries finished before a failure stay. Ends with one sync of the
// destination's file system. Done with "下载成功!"; failed with
// "解压失败，请检查Zip文件!" or a message naming the archive that does not fit;
// `reason` (optional) then says what went wrong.
OperationResult ExtractArchive(FileSystem& files, const std::string& archivePath, const std::string& destination,
                               std::string* reason = nullptr, const ExtractRules& rules = {});

// One entry of an archive as its central directory states it.
struct ArchiveEntry {
  std::string name;  // as DecodeEntryName gives it
  uint32_t size = 0;
  uint32_t packedSize = 0;
  uint32_t crc32 = 0;
  uint32_t method = 0;  // 0 stored, 8 deflated
  std::time_t modified = 0;
};

// Every entry of the archive; false with the reason when it cannot be read.
bool ListArchive(FileSystem& files, const std::string& archivePath, std::vector<ArchiveEntry>& entries,
                 std::string* reason);

// Names that would land outside the destination: absolute, with a drive
// letter, or with a ".." part (either separator).
bool IsUnsafeEntryName(std::string_view name);

// The stored name as UTF-8: names flagged UTF-8 or valid UTF-8 stay as they
// are, anything else is taken as GBK.
std::string DecodeEntryName(std::string_view stored, unsigned flag);

}  // namespace marbloom
