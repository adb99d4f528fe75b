#pragma once
// What the download area holds beyond one run: the archives this machine
// downloaded, laid out again as a server's folders (a mirror that any static
// web server can serve), and the pruning of old day archives.
#include <string>

#include "common/data_layout.h"
#include "common/operation_result.h"

namespace marbloom {

// The server's folder of each kind, as the kept configuration names it
// (PATH11, PATH12 of downit5.cfg): a relative path of plain names ending in
// '/', or empty for the root; nothing (logged) for any other value.
struct MirrorFolders {
  std::string daily, tick;
};
bool MirrorFoldersOf(const DataLayout& layout, MirrorFolders& folders);

// Copies into `outDir` the configuration archive and the day archives dated
// `first` to `last` (0: no bound) of the download area, each kind under its
// server folder, with the manifests and signatures kept beside them exactly
// as they came (nothing is signed here). Files are written through
// temporaries and renamed; existing ones are replaced. Done with the count
// of archives in the message; failed when the configuration is missing or
// names an unsafe folder, or a file cannot be written; nothing to do when
// no archive was there.
OperationResult PublishMirror(const DataLayout& layout, const std::string& outDir, int first, int last);

// Removes the day archives of both kinds dated more than `keepDays` weekdays
// before `today` (YYYYMMDD) from the download area; 0 keeps all. Manifests
// and the configuration archive stay. The message counts what went.
OperationResult PruneArchives(const DataLayout& layout, int keepDays, int today);

}  // namespace marbloom
