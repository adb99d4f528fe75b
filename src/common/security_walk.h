#pragma once
// The one walk over security files: daily, minute and tick passes all list
// their folder here and visit what they find here. Only exact names count:
// "<mm><cccccc><ext>" with mm a market prefix in lower case and cccccc six
// ASCII letters or digits. Anything else that matches the pattern (a copy
// such as sz000001_old.day, SZ000001.day) is a stray and is never visited.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/operation_engine.h"

namespace marbloom {

struct SecurityFile {
  int market = 0;
  std::string code;  // the six code characters
  std::string name;  // the file name without its folder
  std::string path;  // folder and name
  int64_t size = 0;      // -1: not looked at (ListDetail::kKinds)
  bool regular = true;  // false: a symbolic link or another kind of file
};

struct SecurityFileList {
  std::vector<SecurityFile> files;   // in name order
  std::vector<std::string> strays;   // names that matched but are not exact
};

inline constexpr int kAnyMarket = -1;

// Lists the counted files of `dir` named "<mm><codePattern><extension>" for
// `market` (kAnyMarket: all three prefixes, as in the tick store). The code
// pattern has six characters, '?' matching any one; empty means every code.
// Letter case is ignored by the pattern, not by the exact-name rule. Empty
// files are left out unless `withEmpty`; with ListDetail::kKinds no file is
// looked at, and empty ones are listed too (their size unknown).
SecurityFileList ListSecurityFiles(FileSystem& files, const std::string& dir, int market,
                                   std::string_view codePattern, std::string_view extension,
                                   bool withEmpty = false, ListDetail detail = ListDetail::kSizes);

// True for "<mm><cccccc><ext>" as above; the market and code when wanted.
bool IsSecurityFileName(std::string_view name, std::string_view extension, int* market = nullptr,
                        std::string* code = nullptr);

// What a walk shows and reports.
struct WalkTexts {
  const char* nothingFound;  // reported (status and log) when there is no file
  const char* perFile;       // status before each file; "%s" is the file's stem
  const char* cancelled;     // reported when the engine is cancelled after a file
};

enum class WalkEnd { kNoFiles, kCancelled, kDone };

// For a walk whose visits replace or remove the files they visit: the files
// are named to the file system a batch at a time before their visits
// (FileSystem::BeforeChanges), so that the undo journal keeps them with a
// few syncs (and forgets again those no visit changed).
struct WalkChanges {
  using MorePaths = std::function<void(const SecurityFile&, std::vector<std::string>*)>;
  WalkChanges() = default;
  explicit WalkChanges(FileSystem& to, MorePaths more = {}) : files(&to), alsoChanged(std::move(more)) {}

  FileSystem* files = nullptr;  // null: nothing is named
  MorePaths alsoChanged;        // more files a visit replaces, besides the file visited
};

// Visits the files one by one: status, the visit, progress (files done /
// all files), and the cancel test after each file. A file that is not a
// regular one is damaged: it is logged, counted as failed and not visited.
WalkEnd VisitSecurityFiles(OperationEngine& engine, const std::vector<SecurityFile>& files,
                           const WalkTexts& texts, const std::function<void(const SecurityFile&)>& visit,
                           const WalkChanges& changes = {});

}  // namespace marbloom
