#pragma once
// Unpacking a downloaded archive into the place where its consumer reads it,
// the extraction of every entry of an archive into one directory, and the
// listing of an archive's entries. The ZIP reader's errors end here: callers
// get results and reasons, never a ZipError.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "common/data_layout.h"
#include "common/operation_result.h"

namespace marbloom {

inline constexpr const char* kArchiveMissingMessage = "文件不存在，请先下载!";
inline constexpr const char* kUnpackFailedMessage = "解压失败，请检查Zip文件!";
inline constexpr const char* kUnpackDoneMessage = "下载成功!";

// Download types (see the download client): -1 the configuration archive,
// 10 daily data, 11 tick data.
inline constexpr int kDownloadConfig = -1;
inline constexpr int kDownloadDaily = 10;
inline constexpr int kDownloadTick = 11;

// Where an archive of this type is saved, and where its entries go. Both end
// in '/'; empty for a type that has no place.
std::string ArchiveDownloadDir(const DataLayout& layout, int type);
std::string ArchiveDestinationDir(const DataLayout& layout, int type);
// The archive `fileName` of a type in its download folder; empty likewise.
std::string DownloadedArchivePath(const DataLayout& layout, int type, const std::string& fileName);
// The most bytes a downloaded archive of a type may have: every entry it can
// hold at its kind's bound (see UnpackDownloadedArchive); 0 for a type that
// has no place.
uint64_t DownloadedArchiveBound(int type);

// The unpacking step after a complete download: the archive `fileName` in the
// type's download folder is extracted into the type's destination. From the
// configuration archive only the configuration file is taken (every other
// entry is logged and left out). A day archive is refused before anything is
// written when an entry states more bytes than any real file of its kind, or
// when its name gives a day ("YYYYMMDD.zip") and it holds none of that day's
// data files (failed with a message naming the day). Types that
// unpack into the history tree hold its writer lock meanwhile (a download run
// of this process that holds it already shares it). Reports through the
// status line and the run log; done with "下载成功!", failed with the message
// it showed, busy when another operation writes the tree.
OperationResult UnpackDownloadedArchive(const DataLayout& layout, const std::string& fileName, int type);

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
                               std::string* reason = nullptr);

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
