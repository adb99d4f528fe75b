#include "common/security_walk.h"

#include <algorithm>

#include "common/dir_walk.h"
#include "common/market.h"
#include "common/shared_state.h"

namespace marbloom {
namespace {

bool IsCodeCharacter(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int MarketOfPrefix(std::string_view name) {
  for (int market = 0; market < kMarketCount; ++market)
    if (name.substr(0, 2) == kMarketPrefix[market]) return market;
  return -1;
}

std::string Pattern(int market, std::string_view codePattern, std::string_view extension) {
  std::string pattern = market == kAnyMarket ? "??" : kMarketPrefix[market];
  pattern.append(codePattern.empty() ? std::string_view("*") : codePattern).append(extension);
  return pattern;
}

}  // namespace

bool IsSecurityFileName(std::string_view name, std::string_view extension, int* market, std::string* code) {
  if (name.size() != 8 + extension.size() || name.substr(8) != extension) return false;
  const int m = MarketOfPrefix(name);
  if (m < 0) return false;
  for (char c : name.substr(2, 6))
    if (!IsCodeCharacter(c)) return false;
  if (market) *market = m;
  if (code) code->assign(name.substr(2, 6));
  return true;
}

SecurityFileList ListSecurityFiles(FileSystem& files, const std::string& dir, int market,
                                   std::string_view codePattern, std::string_view extension, bool withEmpty,
                                   ListDetail detail) {
  SecurityFileList list;
  for (WalkEntry& entry : ListCountedFiles(files, dir, Pattern(market, codePattern, extension), withEmpty, detail)) {
    SecurityFile file;
    if (IsSecurityFileName(entry.name, extension, &file.market, &file.code) &&
        (market == kAnyMarket || file.market == market)) {
      file.name = std::move(entry.name);
      file.path = dir + file.name;
      file.size = entry.size;
      file.regular = entry.regular;
      list.files.push_back(std::move(file));
    } else {
      list.strays.push_back(std::move(entry.name));
    }
  }
  return list;
}

namespace {

constexpr std::size_t kNamedBatch = 256;

void NameBatch(const std::vector<SecurityFile>& files, std::size_t from, const WalkChanges& changes) {
  std::vector<std::string> paths;
  for (std::size_t i = from; i < std::min(files.size(), from + kNamedBatch); ++i) {
    if (!files[i].regular) continue;
    paths.push_back(files[i].path);
    if (changes.alsoChanged) changes.alsoChanged(files[i], &paths);
  }
  changes.files->BeforeChanges(paths, ComingChange::kReplacement);  // else each is kept at its change
}

}  // namespace

WalkEnd VisitSecurityFiles(OperationEngine& engine, const std::vector<SecurityFile>& files,
                           const WalkTexts& texts, const std::function<void(const SecurityFile&)>& visit,
                           const WalkChanges& changes) {
  if (files.empty()) {
    engine.Reports().ReportF("%s", texts.nothingFound);
    return WalkEnd::kNoFiles;
  }
  const double total = static_cast<double>(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (changes.files != nullptr && i % kNamedBatch == 0) NameBatch(files, i, changes);
    engine.Reports().StatusF(texts.perFile, files[i].name.substr(0, 8).c_str());
    if (files[i].regular) {
      visit(files[i]);
    } else {
      engine.Reports().LogF("%s不是普通文件, 未处理!", files[i].path.c_str());
      engine.NoteFailure();
    }
    engine.Reports().Progress(static_cast<double>(i) / total);
    if (engine.Cancelled()) {
      engine.Reports().ReportF("%s", texts.cancelled);
      return WalkEnd::kCancelled;
    }
  }
  return WalkEnd::kDone;
}

}  // namespace marbloom
