// Range delete and batch modify of the minute-line files, bar by bar in place.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "base/file_helpers.h"
#include "common/code_pattern.h"
#include "common/market.h"
#include "common/scaled_value.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "tickdata/minute_engine.h"
#include "tickdata/minute_files.h"

namespace marbloom {
namespace {

struct DeleteTexts {
  WalkTexts walk;
  const char* done;
};

constexpr DeleteTexts kOneMinuteDeleteTexts = {
    {"路径不存在或无1分钟数据!", "正在删除%s分钟线", "分钟数据删除操作被取消!"}, "分钟数据删除完成!"};
constexpr DeleteTexts kFiveMinuteDeleteTexts = {
    {"路径不存在或无五分钟数据!", "正在删除%s的五分钟线", "五分钟数据删除被取消!"}, "五分钟数据删除完成!"};

constexpr const char* kModifyCancelled = "本次批量修改分钟线操作被取消!";
constexpr const char* kModifyDone = "批量修改分钟线完成!";
constexpr WalkTexts kFiveMinuteModifyTexts = {"5分钟路径不存在或无数据!", "正在修改%s的5分钟线", kModifyCancelled};
constexpr WalkTexts kOneMinuteModifyTexts = {"分钟路径不存在或无数据!", "正在修改%s的1分钟线", kModifyCancelled};

// The files of the kind in the folders of the selected markets, market by
// market; an empty code pattern selects every code.
std::vector<SecurityFile> FindMinuteFiles(const DataLayout& layout, MinuteKind kind, const std::array<bool, 3>& markets,
                                          std::string_view codePattern) {
  std::vector<SecurityFile> found;
  for (int market = 0; market < kMarketCount; ++market) {
    if (!markets[static_cast<std::size_t>(market)]) continue;
    SecurityFileList listed =
        ListSecurityFiles(layout.Files(), MinuteDirectory(layout, kind, market), market, codePattern,
                          KindInfo(kind).extension);
    found.insert(found.end(), std::make_move_iterator(listed.files.begin()),
                 std::make_move_iterator(listed.files.end()));
  }
  return found;
}

bool InRange(const MinuteBar& bar, int first, int last) {
  const int date = UnpackMinuteDate(bar.packedDate);
  return date >= first && date <= last;
}

}  // namespace

// An open minute file read whole.
struct MinuteEngine::LoadedBars {
  File file;
  std::vector<MinuteBar> bars;
};

bool MinuteEngine::LoadBars(MinuteKind kind, int market, std::string_view code, LoadedBars& loaded) {
  loaded.file = layout_.Files().Open(MinuteFilePath(layout_, kind, market, code), OpenMode::kUpdate);
  if (!loaded.file) {
    if (errno != ENOENT) FileFailed("%s%s%s文件打开失败!", kind, market, code);
    return false;
  }
  switch (ReadAllMinuteBars(loaded.file, KindInfo(kind), &loaded.bars)) {
    case TailRead::kRead: return true;
    case TailRead::kNoFile: return false;
    case TailRead::kDamaged: break;
  }
  FileFailed("%s%s%s文件已损坏, 未更新!", kind, market, code);
  return false;
}

// Through the kind's temporary, renamed over the file: a file is either old
// or new whenever the run stops.
bool MinuteEngine::ReplaceBars(MinuteKind kind, int market, std::string_view code,
                               const std::vector<MinuteBar>& bars) {
  return ReplaceMinuteFile(layout_.Files(), MinuteTempPath(layout_, kind, market),
                           MinuteFilePath(layout_, kind, market, code), bars);
}

void MinuteEngine::DeleteMinuteBars(MinuteKind kind, int market, std::string_view code, int first, int last) {
  LoadedBars loaded;
  if (!LoadBars(kind, market, code, loaded)) return;
  std::vector<MinuteBar> kept;
  kept.reserve(loaded.bars.size());
  for (const MinuteBar& bar : loaded.bars)
    if (!InRange(bar, first, last)) kept.push_back(bar);
  if (kept.size() == loaded.bars.size()) return;
  wrote_ = true;
  if (kept.empty()) {
    loaded.file.Close();
    if (!layout_.Files().Remove(MinuteFilePath(layout_, kind, market, code)))
      FileFailed("%s%s%s文件写入失败!", kind, market, code);
    return;
  }
  loaded.file.Close();
  if (!ReplaceBars(kind, market, code, kept)) FileFailed("%s%s%s文件写入失败!", kind, market, code);
}

void MinuteEngine::ModifyMinuteBars(MinuteKind kind, int market, std::string_view code, int first, int last,
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
  if (!changed) return;
  wrote_ = true;
  loaded.file.Close();
  if (!ReplaceBars(kind, market, code, loaded.bars)) FileFailed("%s%s%s文件写入失败!", kind, market, code);
}

OperationResult MinuteEngine::DeleteOneMinuteRange(int first, int last) {
  return DeleteRange(MinuteKind::kOneMinute, first, last);
}

OperationResult MinuteEngine::DeleteFiveMinuteRange(int first, int last) {
  return DeleteRange(MinuteKind::kFiveMinute, first, last);
}

OperationResult MinuteEngine::DeleteMinuteRange(int first, int last) {
  const OperationResult one = DeleteOneMinuteRange(first, last);
  if (one.outcome == Outcome::kBusy) return one;
  return CombineSteps(one, DeleteFiveMinuteRange(first, last));
}

OperationResult MinuteEngine::DeleteRange(MinuteKind kind, int first, int last) {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  wrote_ = false;
  const DeleteTexts& texts = kind == MinuteKind::kOneMinute ? kOneMinuteDeleteTexts : kFiveMinuteDeleteTexts;
  const std::vector<SecurityFile> files = FindMinuteFiles(layout_, kind, {true, true, true}, "");
  const WalkEnd end = VisitSecurityFiles(
      *this, files, texts.walk,
      [&](const SecurityFile& file) { DeleteMinuteBars(kind, file.market, file.code, first, last); },
      WalkChanges(layout_.Files()));
  if (wrote_) FlushTree(layout_);
  if (end == WalkEnd::kNoFiles) return Conclude(Outcome::kNothingToDo, texts.walk.nothingFound);
  if (end == WalkEnd::kCancelled) return Conclude(Outcome::kCancelled, texts.walk.cancelled);
  return ConcludeShown(Outcome::kDone, texts.done, true);
}

WalkEnd MinuteEngine::ModifyPass(MinuteKind kind, int first, int last, const MinuteFactors& factors,
                                 std::string_view pattern) {
  const std::string codePart = CodePart(pattern);
  const std::array<bool, 3> markets = codePart.empty() ? std::array<bool, 3>{} : SelectMarkets(pattern);
  const std::vector<SecurityFile> files = FindMinuteFiles(layout_, kind, markets, codePart);
  return VisitSecurityFiles(
      *this, files, kind == MinuteKind::kOneMinute ? kOneMinuteModifyTexts : kFiveMinuteModifyTexts,
      [&](const SecurityFile& file) { ModifyMinuteBars(kind, file.market, file.code, first, last, factors); },
      WalkChanges(layout_.Files()));
}

OperationResult MinuteEngine::ModifyMinuteRange(int first, int last, const MinuteFactors& factors,
                                                std::string_view pattern) {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  wrote_ = false;
  const WalkEnd five = ModifyPass(MinuteKind::kFiveMinute, first, last, factors, pattern);
  const WalkEnd one = five == WalkEnd::kCancelled ? WalkEnd::kCancelled
                                                  : ModifyPass(MinuteKind::kOneMinute, first, last, factors, pattern);
  if (wrote_) FlushTree(layout_);
  if (one == WalkEnd::kCancelled) return Conclude(Outcome::kCancelled, kModifyCancelled);
  const bool nothing = five == WalkEnd::kNoFiles && one == WalkEnd::kNoFiles;
  return ConcludeShown(nothing ? Outcome::kNothingToDo : Outcome::kDone, kModifyDone, false);
}

}  // namespace marbloom
