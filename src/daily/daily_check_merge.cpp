// Check of every daily file, and merge of another tree's daily files.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <new>
#include <optional>

#include "base/file_helpers.h"
#include "common/calendar.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "daily/daily_engine.h"
#include "daily/daily_io.h"

namespace marbloom {
namespace {

constexpr WalkTexts kCheckTexts = {"路径不存在或无日线数据!", "正在检查%s日线", "本次检查日线操作被取消!"};
constexpr WalkTexts kMergeTexts = {"路径不存在或无日线数据!", "正在合并%s日线", "本次合并日线操作被取消!"};
constexpr const char* kCheckDone = "检查日线完成!";
constexpr const char* kMergeDone = "合并日线完成!";
constexpr std::array<bool, 3> kAllMarkets = {true, true, true};

bool IsWholeRecords(int64_t length) { return length > 0 && length % static_cast<int64_t>(kDailyRecordSize) == 0; }

// Files are checked in pieces of this size, so a damaged or hostile file of
// any length never needs more memory than one piece; a whole-record multiple.
constexpr std::size_t kCheckPiece = std::size_t{1} << 20;
static_assert(kCheckPiece % kDailyRecordSize == 0);

// The first date fault among n records that follow `before` (0 and `first` at
// the start of a file), reported; true when none.
bool DatesInOrder(Reporter& reports, const std::vector<uint8_t>& buffer, std::size_t n, uint32_t before, bool first, int market,
                  std::string_view code) {
  if (DatesRise(buffer.data(), n, before)) return true;
  const std::string c(code);
  for (std::size_t i = 0; i < n; ++i, first = false) {
    const uint32_t date = DateAt(buffer, i);
    switch (DailyDateFaultOf(date, before)) {
      case DailyDateFault::kNone: break;
      case DailyDateFault::kZero:
        if (first) reports.ReportF("%s%s首个日线日期为0!", kMarketName[market], c.c_str());
        else reports.ReportF("%s%s,%d后的日线日期为0!", kMarketName[market], c.c_str(), static_cast<int>(before));
        return false;
      case DailyDateFault::kNotRising:
        reports.ReportF("%s%s,%d后的日线日期为%d,顺序紊乱!", kMarketName[market], c.c_str(), static_cast<int>(before),
                static_cast<int>(date));
        return false;
    }
    before = date;
  }
  return true;
}

// The first of n records whose date the calendar does not know, reported
// (`before`: the date ahead of them, 0 at the start of a file); true when none.
bool DatesAreDays(Reporter& reports, const std::vector<uint8_t>& buffer, std::size_t n, uint32_t before, int market,
                  std::string_view code) {
  for (std::size_t i = 0; i < n; before = DateAt(buffer, i++)) {
    const uint32_t date = DateAt(buffer, i);
    if (IsCalendarDate(static_cast<int>(date))) continue;
    if (before == 0) reports.ReportF("%s%s首个日线日期%u无效!", kMarketName[market], std::string(code).c_str(), date);
    else reports.ReportF("%s%s,%u后的日线日期%u无效!", kMarketName[market], std::string(code).c_str(), before, date);
    return false;
  }
  return true;
}

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

// Each file is opened relative to its market's daily folder, which spares the
// kernel the walk down the whole history path for every one of them.
OperationResult DailyEngine::CheckDailyFiles() {
  BeginOperation();
  FileSystem& files = layout_.Files();
  std::array<File, kMarketCount> folders;
  for (int market = 0; market < kMarketCount; ++market)
    folders[market] = files.Open(layout_.DailyDir(market), OpenMode::kDirectory);
  const WalkEnd end = WalkDailyFiles(layout_, kAllMarkets, "", kCheckTexts, [&](const SecurityFile& file) {
    bool sound;
    if (folders[file.market]) {
      sound = CheckOpenedDailyFile(files.Open(file.name, OpenMode::kRead, &folders[file.market]), file.market,
                                   file.code);
    } else {
      sound = CheckDailyFile(file.market, file.code);
    }
    if (!sound) NoteFailure();
  }, true);
  // The check completes whatever it finds: the bad files are its result.
  if (end != WalkEnd::kDone) return ConcludeWalk(end, kCheckTexts, kCheckDone);
  Reports().Status(kCheckDone);
  return Conclude(Outcome::kDone, kCheckDone);
}

bool DailyEngine::CheckDailyFile(int market, std::string_view code) {
  return CheckOpenedDailyFile(layout_.Files().Open(layout_.DailyFile(market, code), OpenMode::kRead), market, code);
}

bool DailyEngine::CheckOpenedDailyFile(const File& file, int market, std::string_view code) {
  const std::string c(code);
  const int64_t length = file.Length();
  if (length < 0) {
    Reports().ReportF("%s%s日线文件打开失败!", kMarketPrefix[market], c.c_str());
    return false;
  }
  if (!IsWholeRecords(length)) {
    Reports().ReportF("%s%s日线文件长度异常!", kMarketPrefix[market], c.c_str());
    return false;
  }
  uint32_t before = 0;
  for (int64_t offset = 0; offset < length; offset += static_cast<int64_t>(kCheckPiece)) {
    const std::size_t size = static_cast<std::size_t>(std::min<int64_t>(length - offset, kCheckPiece));
    buffer_.resize(std::max(buffer_.size(), size));
    if (!file.ReadAll(buffer_.data(), size, offset)) {
      Reports().ReportF("%s%s日线文件打开失败!", kMarketPrefix[market], c.c_str());
      return false;
    }
    const std::size_t n = size / kDailyRecordSize;
    if (!DatesInOrder(Reports(), buffer_, n, before, offset == 0, market, code) || !DatesAreDays(Reports(), buffer_, n, before, market, code))
      return false;
    before = DateAt(buffer_, n - 1);
  }
  // The dates rise: the last is the newest.
  if (before > static_cast<uint32_t>(MarketToday())) {
    Reports().ReportF("%s%s日线日期%u晚于今天!", kMarketName[market], c.c_str(), before);
    return false;
  }
  return true;
}

// The merge empties files out of the other tree, so it holds that tree's
// writer lock as well as this one's, taken once there is something to merge
// and never waited for: two merges in opposite directions refuse each other.
OperationResult DailyEngine::MergeDailyFiles(const DataLayout& source) {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  const std::vector<SecurityFile> files = ListDailyFiles(source, kAllMarkets, "");
  std::optional<TreeWriteLock> sourceLock;
  if (!files.empty() && !sourceLock.emplace(source).held()) return sourceLock->Refuse();
  const WalkEnd end = VisitDailyFiles(files, kMergeTexts, [&](const SecurityFile& file) {
    MergeDailyFile(source, file.market, file.code);
  });
  if (end != WalkEnd::kNoFiles) FlushTree(layout_);
  return ConcludeWalk(end, kMergeTexts, kMergeDone);
}

// Every source file that is not merged or moved, and every target that
// cannot be written, counts as failed; a damaged target replaced by its
// source does not. Only regular files are read or moved, and a file whose
// dates do not rise is damaged on either side.
void DailyEngine::MergeDailyFile(const DataLayout& source, int market, std::string_view code) {
  const std::string sourcePath = source.DailyFile(market, code);
  const std::string targetPath = layout_.DailyFile(market, code);
  File sourceFile = source.Files().Open(sourcePath, OpenMode::kReadRegular);
  if (!sourceFile) {
    Reports().ReportF("%s文件打开失败!", sourcePath.c_str());
    NoteFailure();
    return;
  }
  const int64_t sourceLength = sourceFile.Length();
  const std::size_t ns = static_cast<std::size_t>(std::max<int64_t>(sourceLength, 0)) / kDailyRecordSize;
  if (!IsWholeRecords(sourceLength) || !ReadPrefix(sourceFile, ns * kDailyRecordSize, 0, buffer_) ||
      !DatesRise(buffer_.data(), ns, 0)) {
    Reports().ReportF("%s文件已损坏!", sourcePath.c_str());
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
    Reports().LogF("读取%s文件失败!", targetPath.c_str());
    NoteFailure();
    return;
  }
  if (!IsWholeRecords(targetLength)) {
    Reports().ReportF("%s文件已损坏,直接覆盖!", targetPath.c_str());
    target.Close();
    MoveIntoPlace(sourcePath, targetPath);
    return;
  }
  const std::size_t nt = static_cast<std::size_t>(targetLength) / kDailyRecordSize;
  if (!TryResize(mergeResult_, (ns + nt) * kDailyRecordSize, 2 * kMaxWholeFileBytes)) {
    Reports().StatusF("%s%s内存请求失败!", kMarketName[market], std::string(code).c_str());
    NoteFailure();
    return;
  }
  if (!ReadPrefix(target, nt * kDailyRecordSize, 0, mergeTarget_)) {
    Reports().LogF("读取%s文件失败!", targetPath.c_str());
    NoteFailure();
    return;
  }
  if (!DatesRise(mergeTarget_.data(), nt, 0)) {
    Reports().LogF(kDisorderedDailyFile, targetPath.c_str());
    NoteFailure();
    return;
  }
  const std::size_t total = MergeRecords(buffer_, ns, mergeTarget_, nt, mergeResult_);
  WriteMerged(target, market, code, nt, total);
}

// Records the target only gains at its end are appended in place; any other
// change moves its records and replaces the whole file.
void DailyEngine::WriteMerged(File& file, int market, std::string_view code, std::size_t nt, std::size_t total) {
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
  Reports().LogF("写入%s文件失败!", targetPath.c_str());
  NoteFailure();
}

// Moves the source over the target, across file systems when needed.
void DailyEngine::MoveIntoPlace(const std::string& source, const std::string& target) {
  if (MoveFileAnywhere(layout_.Files(), source, target)) return;
  Reports().LogF("写入%s文件失败!", target.c_str());
  NoteFailure();
}

}  // namespace marbloom
