#include "download/archive_unpack.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <new>
#include <optional>
#include <stdexcept>

#include "base/file_helpers.h"
#include "base/text_encoding.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"

namespace marbloom {
namespace {

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

// The configuration archive gives its configuration file and nothing else; a
// day archive is bounded and, when its name gives the day, must hold that
// day's data files.
ExtractRules RulesFor(const DataLayout& layout, DownloadKind kind, const std::string& fileName) {
  ExtractRules rules;
  rules.reporter = &layout.Reports();
  const std::string dir = ArchiveDestinationDir(layout, kind);
  if (kind == DownloadKind::kConfig) {
    rules.onlyEntry = layout.DownloadConfigFile().substr(dir.size());
    return rules;
  }
  rules.entryBound = EntryBoundOf;
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

bool WritesIntoTree(DownloadKind kind) { return kind != DownloadKind::kConfig; }

}  // namespace

std::string ArchiveDownloadDir(const DataLayout& layout, DownloadKind kind) {
  switch (kind) {
    case DownloadKind::kConfig: return layout.DownDir();
    case DownloadKind::kDaily: return layout.DayZipDir();
    case DownloadKind::kTick: return layout.TickZipDir();
  }
  return {};
}

std::string DownloadedArchivePath(const DataLayout& layout, DownloadKind kind, const std::string& fileName) {
  return ArchiveDownloadDir(layout, kind) + fileName;
}

// A daily archive holds a code list and a quote file per market, a tick
// archive one day's tick file; each may hold a little more that nothing reads.
uint64_t DownloadedArchiveBound(DownloadKind kind) {
  switch (kind) {
    case DownloadKind::kConfig: return kOtherEntryBound;
    case DownloadKind::kDaily: return kMarketCount * (EntryBoundOf(".cod") + EntryBoundOf(".md1")) + kOtherEntryBound;
    case DownloadKind::kTick: return EntryBoundOf(".htc") + kOtherEntryBound;
  }
  return 0;
}

std::string ArchiveDestinationDir(const DataLayout& layout, DownloadKind kind) {
  switch (kind) {
    case DownloadKind::kConfig: return layout.WorkDir();
    case DownloadKind::kDaily: return layout.DailySourceDir();
    case DownloadKind::kTick: return layout.TickArchiveDir();
  }
  return {};
}

OperationResult UnpackDownloadedArchive(const DataLayout& layout, const std::string& fileName, DownloadKind kind) {
  std::optional<TreeWriteLock> lock;
  if (WritesIntoTree(kind)) {
    lock.emplace(layout);
    if (!lock->held()) return lock->Refuse();
  }
  const std::string path = DownloadedArchivePath(layout, kind, fileName);
  layout.Reports().LogF("准备解压文件 %s ", path.c_str());
  if (path.empty() || !layout.Files().Open(path, OpenMode::kReadRegular)) {
    layout.Reports().Status(kArchiveMissingMessage);
    layout.Reports().LogF("%s %s", path.c_str(), kArchiveMissingMessage);
    return OperationResult{Outcome::kFailed, kArchiveMissingMessage, 1};
  }
  std::string reason;
  OperationResult result =
      ExtractArchive(layout.Files(), path, ArchiveDestinationDir(layout, kind), &reason,
                     RulesFor(layout, kind, fileName));
  if (!result.done() && reason != result.message) layout.Reports().Log(reason);
  layout.Reports().ReportF("%s", result.message.c_str());
  return result;
}

}  // namespace marbloom
