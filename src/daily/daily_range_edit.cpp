// Range delete and batch modify of daily files selected by a code pattern.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "common/code_pattern.h"
#include "common/market.h"
#include "common/scaled_value.h"
#include "common/tree_lock.h"
#include "daily/daily_engine.h"
#include "daily/daily_io.h"

namespace marbloom {
namespace {

constexpr WalkTexts kDeleteTexts = {"路径不存在或无日线数据!", "正在删除%s日线", "本次删除日线操作被取消!"};
constexpr WalkTexts kModifyTexts = {"路径不存在或无日线数据!", "正在修改%s日线", "本次批量修改日线操作被取消!"};
constexpr const char* kDeleteDone = "删除日线完成!";
constexpr const char* kModifyDone = "批量修改日线完成!";
constexpr const char* kWriteFailed = "写入%s文件失败!";

bool InRange(uint32_t date, uint32_t first, uint32_t last) { return date >= first && date <= last; }

void ScaleRecord(DailyRecord& r, const DailyFactors& f) {
  r.open = ScaleInt32(r.open, f.open);
  r.high = ScaleInt32(r.high, f.high);
  r.low = ScaleInt32(r.low, f.low);
  r.close = ScaleInt32(r.close, f.close);
  r.volume = ScaleUint32(r.volume, f.volume);
  r.amount = ToSingle(static_cast<double>(r.amount) * static_cast<double>(f.amount));
}

}  // namespace

OperationResult DailyEngine::DeleteDailyRange(int first, int last, std::string_view pattern) {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  const WalkEnd end = WalkDailyFiles(layout_, SelectMarkets(pattern), CodePart(pattern), kDeleteTexts, kDeleteDone,
                                     [&](const SecurityFile& file) {
                                       DeleteDailyRecords(file.market, file.code, static_cast<uint32_t>(first),
                                                          static_cast<uint32_t>(last));
                                     });
  if (end != WalkEnd::kNoFiles) FlushTree(layout_);
  return ConcludeWalk(end, kDeleteTexts, kDeleteDone);
}

OperationResult DailyEngine::ModifyDailyRange(int first, int last, const DailyFactors& factors,
                                              std::string_view pattern) {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  const WalkEnd end = WalkDailyFiles(layout_, SelectMarkets(pattern), CodePart(pattern), kModifyTexts, kModifyDone,
                                     [&](const SecurityFile& file) {
                                       ModifyDailyRecords(file.market, file.code, static_cast<uint32_t>(first),
                                                          static_cast<uint32_t>(last), factors);
                                     });
  if (end != WalkEnd::kNoFiles) FlushTree(layout_);
  return ConcludeWalk(end, kModifyTexts, kModifyDone);
}

// Opens a daily file for update and reads its records. A file that cannot be
// opened, read, or whose length is not a positive multiple of 32 is left
// alone and counts as failed (a missing one was deleted meanwhile and does not).
bool DailyEngine::LoadForEdit(int market, std::string_view code, UniqueFd& fd, std::size_t* count) {
  const std::string path = layout_.DailyFile(market, code);
  fd = OpenForUpdate(path);
  if (!fd) {
    if (errno == ENOENT) return false;
    RunLog("读取%s文件失败!", path.c_str());
  } else if (const int64_t length = FileLength(fd.get());
             length <= 0 || length % static_cast<int64_t>(kDailyRecordSize) != 0) {
    RunLog("%s%s日线文件长度异常!", kMarketPrefix[market], std::string(code).c_str());
  } else if (!ReadPrefix(fd.get(), static_cast<std::size_t>(length), 0, buffer_)) {
    RunLog("读取%s文件失败!", path.c_str());
  } else {
    *count = static_cast<std::size_t>(length) / kDailyRecordSize;
    return true;
  }
  NoteFailure();
  return false;
}

// Keeps the records dated outside the range (and not 0). Records before the
// first removed one stay where they are, so only the rest is written; a
// failed write or truncation puts the old records back.
void DailyEngine::DeleteDailyRecords(int market, std::string_view code, uint32_t first, uint32_t last) {
  UniqueFd fd;
  std::size_t n = 0;
  if (!LoadForEdit(market, code, fd, &n)) return;
  std::size_t firstMoved = 0;
  while (firstMoved < n && DateAt(buffer_, firstMoved) != 0 && !InRange(DateAt(buffer_, firstMoved), first, last))
    ++firstMoved;
  if (firstMoved == n) return;
  undo_.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(firstMoved * kDailyRecordSize), buffer_.end());
  std::size_t kept = firstMoved;
  for (std::size_t i = firstMoved; i < n; ++i) {
    const uint32_t date = DateAt(buffer_, i);
    if (date == 0 || InRange(date, first, last)) continue;
    PutRecordAt(buffer_, kept++, RecordAt(buffer_, i));
  }
  const std::string path = layout_.DailyFile(market, code);
  if (kept == 0) {
    fd.Close();
    if (std::remove(path.c_str()) == 0) return;
  } else {
    const auto from = static_cast<int64_t>(firstMoved * kDailyRecordSize);
    const auto length = static_cast<int64_t>(n * kDailyRecordSize);
    if (WriteChange(fd.get(), buffer_.data() + firstMoved * kDailyRecordSize, (kept - firstMoved) * kDailyRecordSize,
                    from, length, undo_.data())) {
      if (::ftruncate(fd.get(), static_cast<off_t>(kept * kDailyRecordSize)) == 0) return;
      WriteAllAt(fd.get(), undo_.data(), undo_.size(), from);
    }
  }
  RunLog(kWriteFailed, path.c_str());
  NoteFailure();
}

// Scales the records of the range in place; only the span from the first to
// the last changed record is written back.
void DailyEngine::ModifyDailyRecords(int market, std::string_view code, uint32_t first, uint32_t last,
                                     const DailyFactors& factors) {
  UniqueFd fd;
  std::size_t n = 0;
  if (!LoadForEdit(market, code, fd, &n)) return;
  std::size_t low = n, high = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!InRange(DateAt(buffer_, i), first, last)) continue;
    low = std::min(low, i);
    high = i;
  }
  if (low == n) return;
  const std::size_t begin = low * kDailyRecordSize, size = (high - low + 1) * kDailyRecordSize;
  undo_.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(begin),
               buffer_.begin() + static_cast<std::ptrdiff_t>(begin + size));
  for (std::size_t i = low; i <= high; ++i) {
    if (!InRange(DateAt(buffer_, i), first, last)) continue;
    DailyRecord record = RecordAt(buffer_, i);
    ScaleRecord(record, factors);
    PutRecordAt(buffer_, i, record);
  }
  if (WriteChange(fd.get(), buffer_.data() + begin, size, static_cast<int64_t>(begin),
                  static_cast<int64_t>(n * kDailyRecordSize), undo_.data()))
    return;
  RunLog(kWriteFailed, layout_.DailyFile(market, code).c_str());
  NoteFailure();
}

}  // namespace marbloom
