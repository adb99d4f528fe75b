#pragma once
// Unpacking a downloaded archive into the place where its consumer reads it:
// where each kind of archive is saved and goes, and the rules it is held to.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "common/data_layout.h"
#include "common/operation_result.h"
#include "download/download_kind.h"
#include "zip/archive_extract.h"

namespace marbloom {

inline constexpr const char* kArchiveMissingMessage = "文件不存在，请先下载!";

// Where an archive of this kind is saved, and where its entries go. Both end
// in '/'.
std::string ArchiveDownloadDir(const DataLayout& layout, DownloadKind kind);
std::string ArchiveDestinationDir(const DataLayout& layout, DownloadKind kind);
// The archive `fileName` of a kind in its download folder.
std::string DownloadedArchivePath(const DataLayout& layout, DownloadKind kind, const std::string& fileName);
// The most bytes a downloaded archive of a kind may have: every entry it can
// hold at its kind's bound (see UnpackDownloadedArchive).
uint64_t DownloadedArchiveBound(DownloadKind kind);

// The unpacking step after a complete download: the archive `fileName` in the
// kind's download folder is extracted into the kind's destination. From the
// configuration archive only the configuration file is taken (every other
// entry is logged and left out). A day archive is refused before anything is
// written when an entry states more bytes than any real file of its kind, or
// when its name gives a day ("YYYYMMDD.zip") and it holds none of that day's
// data files (failed with a message naming the day). Kinds that
// unpack into the history tree hold its writer lock meanwhile (a download run
// of this process that holds it already shares it). Reports through the
// status line and the run log; done with "下载成功!", failed with the message
// it showed, busy when another operation writes the tree.
OperationResult UnpackDownloadedArchive(const DataLayout& layout, const std::string& fileName, DownloadKind kind);

}  // namespace marbloom
