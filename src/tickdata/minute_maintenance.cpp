// Range delete and batch modify of the minute-line files, bar by bar in place.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "app/settings.h"
#include "base/unique_fd.h"
#include "common/code_pattern.h"
#include "common/dir_walk.h"
#include "common/market.h"
#include "common/scaled_value.h"
#include "common/shared_state.h"
#include "tickdata/minute_engine.h"
#include "tickdata/minute_files.h"

namespace marbloom {
namespace {

struct DeleteTexts {
  const char* nothingFound;
  const char* perFile;
  const char* cancelled;
  const char* done;
};

constexpr DeleteTexts kOneMinuteDeleteTexts = {"路径不存在或无1分钟数据!", "正在删除%s分钟线",
                                              "分钟数据删除操作被取消!", "分钟数据删除完成!"};
constexpr DeleteTexts kFiveMinuteDeleteTexts = {"路径不存在或无五分钟数据!", "正在删除%s的五分钟线",
                                               "五分钟数据删除被取消!", "五分钟数据删除完成!"};

struct ModifyTexts {
  const char* nothingFound;
  const char* perFile;
};

constexpr ModifyTexts kFiveMinuteModifyTexts = {"5分钟路径不存在或无数据!", "正在修改%s的5分钟线"};
constexpr ModifyTexts kOneMinuteModifyTexts = {"分钟路径不存在或无数据!", "正在修改%s的1分钟线"};
constexpr const char* kModifyCancelled = "本次批量修改分钟线操作被取消!";
constexpr const char* kModifyDone = "批量修改分钟线完成!";

// The minute files of one market that a walk found.
struct MarketFiles {
  int market;
  std::vector<WalkEntry> files;
};

// `codePattern` empty: every file of the kind ("*.01"); else the files of
// "<mm><codePattern>.01" style names.
std::vector<MarketFiles> FindMinuteFiles(MinuteKind kind, const std::array<bool, 3>& markets,
                                         const std::string& codePattern, std::size_t* total) {
  std::vector<MarketFiles> found;
  *total = 0;
  for (int market = 0; market < kMarketCount; ++market) {
    if (!markets[static_cast<std::size_t>(market)]) continue;
    std::string stem = codePattern.empty() ? "*" : kMarketPrefix[market] + codePattern;
    std::string pattern = stem + KindInfo(kind).extension;
    found.push_back({market, ListCountedFiles(MinuteDirectory(kind, market), pattern)});
    *total += found.back().files.size();
  }
  return found;
}

// An open minute file read whole, when its length is a non-zero multiple of 32.
struct LoadedBars {
  UniqueFd file;
  std::vector<MinuteBar> bars;
};

bool LoadBars(MinuteKind kind, int market, std::string_view code, LoadedBars& loaded) {
  loaded.file = OpenForUpdate(MinuteFilePath(kind, market, code));
  return loaded.file && ReadAllMinuteBars(loaded.file.get(), &loaded.bars) == TailRead::kRead;
}

bool InRange(const MinuteBar& bar, int first, int last) {
  int date = UnpackMinuteDate(bar.packedDate);
  return date >= first && date <= last;
}

void LogWriteFailure(MinuteKind kind, int market, std::string_view code) {
  RunLog("%s%s%s文件写入失败!", kMarketPrefix[market], std::string(code).c_str(), KindInfo(kind).extension);
}

// The code of a file found in a market folder: characters 3 to 8 of its name.
std::string CodeOfName(const std::string& name) { return name.size() >= 8 ? name.substr(2, 6) : std::string(); }

// The working pass over the files found: status, the per-file step,
// progress, and an end at once on cancel with `cancelledMessage`.
template <typename Step>
MinuteRunEnd VisitMinuteFiles(const OperationEngine& engine, const std::vector<MarketFiles>& found,
                              std::size_t total, const char* perFile, const char* cancelledMessage, Step step) {
  std::size_t handled = 0;
  for (const MarketFiles& market : found) {
    for (const WalkEntry& file : market.files) {
      SetStatusTextF(perFile, file.name.substr(0, 8).c_str());
      std::string code = CodeOfName(file.name);
      if (IsSixDigitCode(code)) step(market.market, code);
      SetProgressFraction(static_cast<double>(handled++) / static_cast<double>(total));
      if (engine.Cancelled()) {
        ReportF("%s", cancelledMessage);
        return MinuteRunEnd::kCancelled;
      }
    }
  }
  return MinuteRunEnd::kDone;
}

}  // namespace

void DeleteMinuteBars(MinuteKind kind, int market, std::string_view code, int first, int last) {
  LoadedBars loaded;
  if (!LoadBars(kind, market, code, loaded)) return;
  std::vector<MinuteBar> kept;
  kept.reserve(loaded.bars.size());
  for (const MinuteBar& bar : loaded.bars)
    if (!InRange(bar, first, last)) kept.push_back(bar);
  if (kept.size() == loaded.bars.size()) return;
  if (kept.empty()) {
    loaded.file.Close();
    std::remove(MinuteFilePath(kind, market, code).c_str());
    return;
  }
  std::size_t bytes = kept.size() * sizeof(MinuteBar);
  if (!WriteAllAt(loaded.file.get(), kept.data(), bytes, 0) || ::ftruncate(loaded.file.get(), static_cast<off_t>(bytes)) != 0)
    LogWriteFailure(kind, market, code);
}

void ModifyMinuteBars(MinuteKind kind, int market, std::string_view code, int first, int last,
                      const MinuteFactors& factors) {
  LoadedBars loaded;
  if (!LoadBars(kind, market, code, loaded)) return;
  bool changed = false;
  for (MinuteBar& bar : loaded.bars) {
    if (!InRange(bar, first, last)) continue;
    bar.open = ScaleInt32(bar.open, factors.open);
    bar.high = ScaleInt32(bar.high, factors.high);
    bar.low = ScaleInt32(bar.low, factors.low);
    bar.close = ScaleInt32(bar.close, factors.close);
    bar.volume = static_cast<int32_t>(ScaleUint32(static_cast<uint32_t>(bar.volume), factors.volume));
    bar.amount = bar.amount * factors.amount;
    changed = true;
  }
  if (changed && !WriteAllAt(loaded.file.get(), loaded.bars.data(), loaded.bars.size() * sizeof(MinuteBar), 0))
    LogWriteFailure(kind, market, code);
}

MinuteRunEnd MinuteEngine::DeleteOneMinuteRange(int first, int last) {
  return DeleteRange(MinuteKind::kOneMinute, first, last);
}

MinuteRunEnd MinuteEngine::DeleteFiveMinuteRange(int first, int last) {
  return DeleteRange(MinuteKind::kFiveMinute, first, last);
}

MinuteRunEnd MinuteEngine::DeleteRange(MinuteKind kind, int first, int last) {
  const DeleteTexts& texts = kind == MinuteKind::kOneMinute ? kOneMinuteDeleteTexts : kFiveMinuteDeleteTexts;
  std::size_t total = 0;
  auto found = FindMinuteFiles(kind, {true, true, true}, "", &total);
  if (total == 0) {
    ReportF("%s", texts.nothingFound);
    return MinuteRunEnd::kNoFiles;
  }
  const MinuteRunEnd end = VisitMinuteFiles(*this, found, total, texts.perFile, texts.cancelled,
                                            [&](int market, const std::string& code) {
                                              DeleteMinuteBars(kind, market, code, first, last);
                                            });
  if (end == MinuteRunEnd::kCancelled) return end;
  ReportF("%s", texts.done);
  return MinuteRunEnd::kDone;
}

MinuteRunEnd MinuteEngine::ModifyPass(MinuteKind kind, int first, int last, const MinuteFactors& factors,
                                      std::string_view pattern) {
  const ModifyTexts& texts = kind == MinuteKind::kOneMinute ? kOneMinuteModifyTexts : kFiveMinuteModifyTexts;
  std::size_t total = 0;
  std::string codePart = CodePart(pattern);
  auto markets = codePart.empty() ? std::array<bool, 3>{} : SelectMarkets(pattern);
  auto found = FindMinuteFiles(kind, markets, codePart, &total);
  if (total == 0) {
    ReportF("%s", texts.nothingFound);
    return MinuteRunEnd::kNoFiles;
  }
  return VisitMinuteFiles(*this, found, total, texts.perFile, kModifyCancelled,
                          [&](int market, const std::string& code) {
                            ModifyMinuteBars(kind, market, code, first, last, factors);
                          });
}

MinuteRunEnd MinuteEngine::ModifyMinuteRange(int first, int last, const MinuteFactors& factors,
                                             std::string_view pattern) {
  if (ModifyPass(MinuteKind::kFiveMinute, first, last, factors, pattern) == MinuteRunEnd::kCancelled)
    return MinuteRunEnd::kCancelled;
  if (ModifyPass(MinuteKind::kOneMinute, first, last, factors, pattern) == MinuteRunEnd::kCancelled)
    return MinuteRunEnd::kCancelled;
  SetStatusText(kModifyDone);
  return MinuteRunEnd::kDone;
}

}  // namespace marbloom
