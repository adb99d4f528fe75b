#include "daily/daily_merge.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "base/file_helpers.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "daily/daily_io.h"

namespace marbloom {
namespace {

constexpr WalkTexts kMergeTexts = {"路径不存在或无日线数据!", "正在合并%s日线", "本次合并日线操作被取消!"};

// Source records win on equal dates; neither side is sorted first.
std::size_t MergeRecords(const std::vector<uint8_t>& source, std::size_t ns, const std::vector<uint8_t>& target,
                         std::size_t nt, std::vector<uint8_t>& result) {
  std::size_t s = 0, t = 0, out = 0;
  auto put = [&](const std::vector<uint8_t>& from, std::size_t index) {
    std::memcpy(result.data() + out++ * kDailyRecordSize, from.data() + index * kDailyRecordSize, kDailyRecordSize);
  };
  while (s < ns && t < nt) {
    const uint32_t sourceDate = DateAt(source, s), targetDate = DateAt(target, t);
    if (sourceDate <= targetDate) {
      if (sourceDate == targetDate) ++t;
      put(source, s++);
    } else {
      put(target, t++);
    }
  }
  while (s < ns) put(source, s++);
  while (t < nt) put(target, t++);
  return out;
}

}  // namespace

// The merge empties files out of the other tree, so it holds that tree's
// writer lock as well as this one's, taken once there is something to merge
// and never waited for: two merges in opposite directions refuse each other.
OperationResult DailyMerge::MergeDailyFiles(const DataLayout& source) {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  const std::vector<SecurityFile> files = daily_.List(source, kAllMarkets, "");
  std::optional<TreeWriteLock> sourceLock;
  if (!files.empty() && !sourceLock.emplace(source).held()) return sourceLock->Refuse();
  const WalkEnd end = VisitSecurityFiles(*this, files, kMergeTexts, [&](const SecurityFile& file) {
    MergeDailyFile(source, file.market, file.code);
  });
  if (end != WalkEnd::kNoFiles) FlushTree(layout_);
  return ConcludeWalk(end, kMergeTexts, "合并日线完成!");
}

// Every source file that is not merged or moved, and every target that
// cannot be written, counts as failed; a damaged target replaced by its
// source does not. Only regular files are read or moved, and a file whose
// dates do not rise is damaged on either side.
void DailyMerge::MergeDailyFile(const DataLayout& source, int market, std::string_view code) {
  const std::string sourcePath = source.DailyFile(market, code);
  const std::string targetPath = layout_.DailyFile(market, code);
  File sourceFile = source.Files().Open(sourcePath, OpenMode::kReadRegular);
  if (!sourceFile) {
    layout_.Reports().ReportF("%s文件打开失败!", sourcePath.c_str());
    NoteFailure();
    return;
  }
  const int64_t sourceLength = sourceFile.Length();
  const std::size_t ns = static_cast<std::size_t>(std::max<int64_t>(sourceLength, 0)) / kDailyRecordSize;
  if (!DailyFiles::WholeRecords(sourceLength) || !daily_.Read(sourceFile, ns * kDailyRecordSize) ||
      !DatesRise(daily_.Buffer().data(), ns, 0)) {
    layout_.Reports().ReportF("%s文件已损坏!", sourcePath.c_str());
    NoteFailure();
    return;
  }
  sourceFile.Close();
  File target = layout_.Files().Open(targetPath, OpenMode::kUpdate);
  if (!target && errno == ENOENT) {
    MoveIntoPlace(sourcePath, targetPath);
    return;
  }
  const int64_t targetLength = target.Length();
  if (!target || targetLength < 0) {
    daily_.ReadFailed(targetPath);
    NoteFailure();
    return;
  }
  if (!DailyFiles::WholeRecords(targetLength)) {
    layout_.Reports().ReportF("%s文件已损坏,直接覆盖!", targetPath.c_str());
    target.Close();
    MoveIntoPlace(sourcePath, targetPath);
    return;
  }
  const std::size_t nt = static_cast<std::size_t>(targetLength) / kDailyRecordSize;
  if (!TryResize(mergeResult_, (ns + nt) * kDailyRecordSize, 2 * kMaxWholeFileBytes)) {
    layout_.Reports().StatusF("%s%s内存请求失败!", kMarketName[market], std::string(code).c_str());
    NoteFailure();
    return;
  }
  if (!ReadPrefix(target, nt * kDailyRecordSize, 0, mergeTarget_)) {
    daily_.ReadFailed(targetPath);
    NoteFailure();
    return;
  }
  if (!DatesRise(mergeTarget_.data(), nt, 0)) {
    daily_.Disordered(targetPath);
    NoteFailure();
    return;
  }
  const std::size_t total = MergeRecords(daily_.Buffer(), ns, mergeTarget_, nt, mergeResult_);
  WriteMerged(target, market, code, nt, total);
}

// Records the target only gains at its end are appended in place; any other
// change moves its records and replaces the whole file.
void DailyMerge::WriteMerged(File& file, int market, std::string_view code, std::size_t nt, std::size_t total) {
  const std::string targetPath = layout_.DailyFile(market, code);
  const bool prefixKept = std::memcmp(mergeResult_.data(), mergeTarget_.data(), nt * kDailyRecordSize) == 0;
  if (prefixKept && total == nt) return;
  const auto targetLength = static_cast<int64_t>(nt * kDailyRecordSize);
  if (prefixKept && WriteChange(file, mergeResult_.data() + nt * kDailyRecordSize, (total - nt) * kDailyRecordSize,
                                targetLength, targetLength, nullptr))
    return;
  if (!prefixKept && ReplaceDailyFile(layout_.Files(), layout_.DailyTemp(market), targetPath, mergeResult_.data(),
                                      total * kDailyRecordSize))
    return;
  daily_.WriteFailed(targetPath);
  NoteFailure();
}

// Moves the source over the target, across file systems when needed.
void DailyMerge::MoveIntoPlace(const std::string& source, const std::string& target) {
  if (MoveFileAnywhere(layout_.Files(), source, target)) return;
  daily_.WriteFailed(target);
  NoteFailure();
}

}  // namespace marbloom
