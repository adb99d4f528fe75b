#pragma once
// Unpacking a downloaded archive into the place where its consumer reads it,
// and the extraction of every entry of an archive into one directory.
#include <string>
#include <string_view>

namespace marbloom {

inline constexpr const char* kArchiveMissingMessage = "文件不存在，请先下载!";
inline constexpr const char* kUnpackFailedMessage = "解压失败，请检查Zip文件!";
inline constexpr const char* kUnpackDoneMessage = "下载成功!";

// Download types (see the download client): -1 the configuration archive,
// 10 daily data, 11 tick data; 1, 7, 8, 9 are kept for older servers.
inline constexpr int kDownloadConfig = -1;
inline constexpr int kDownloadDaily = 10;
inline constexpr int kDownloadTick = 11;

// Where an archive of this type is saved, and where its entries go. Both end
// in '/'; empty for a type that has no place.
std::string ArchiveDownloadDir(int type);
std::string ArchiveDestinationDir(int type);

// The unpacking step after a complete download: the archive `fileName` in the
// type's download folder is extracted into the type's destination. Reports
// through the status line and the run log; 1 on success, -1 on failure.
int UnpackArchive(const std::string& fileName, int type);

// Writes every entry of the archive under `destination` (created when
// missing). 1 when every file entry was written, else 0; `reason` (optional)
// then says why. Entries written before a failure stay on disk.
int ExtractArchive(const std::string& archivePath, const std::string& destination,
                   std::string* reason = nullptr);

// Names that would land outside the destination: absolute, with a drive
// letter, or with a ".." part (either separator).
bool IsUnsafeEntryName(std::string_view name);

// The stored name as UTF-8: names flagged UTF-8 or valid UTF-8 stay as they
// are, anything else is taken as GBK.
std::string DecodeEntryName(std::string_view stored, unsigned flag);

}  // namespace marbloom
