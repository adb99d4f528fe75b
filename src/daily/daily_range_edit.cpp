// Range delete and batch modify of daily files selected by a code pattern.
#include <cerrno>
#include <cstdio>

#include "base/file_helpers.h"
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
  const WalkEnd end = WalkDailyFiles(layout_, SelectMarkets(pattern), CodePart(pattern), kDeleteTexts,
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
  const WalkEnd end = WalkDailyFiles(layout_, SelectMarkets(pattern), CodePart(pattern), kModifyTexts,
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
bool DailyEngine::LoadForEdit(int market, std::string_view code, File& file, std::size_t* count) {
  const std::string path = layout_.DailyFile(market, code);
  file = layout_.Files().Open(path, OpenMode::kUpdate);
  if (!file) {
    if (errno == ENOENT) return false;
    Reports().LogF("读取%s文件失败!", path.c_str());
  } else if (const int64_t length = file.Length();
             length <= 0 || length % static_cast<int64_t>(kDailyRecordSize) != 0) {
    Reports().LogF("%s%s日线文件长度异常!", kMarketPrefix[market], std::string(code).c_str());
  } else if (!ReadPrefix(file, static_cast<std::size_t>(length), 0, buffer_)) {
    Reports().LogF("读取%s文件失败!", path.c_str());
  } else {
    *count = static_cast<std::size_t>(length) / kDailyRecordSize;
    return true;
  }
  NoteFailure();
  return false;
}

// Keeps the records dated outside the range (and not 0); the file is
// replaced whole, or removed when no record is kept.
void DailyEngine::DeleteDailyRecords(int market, std::string_view code, uint32_t first, uint32_t last) {
  File file;
  std::size_t n = 0;
  if (!LoadForEdit(market, code, file, &n)) return;
  file.Close();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const uint32_t date = DateAt(buffer_, i);
    if (date == 0 || InRange(date, first, last)) continue;
    if (kept != i) PutRecordAt(buffer_, kept, RecordAt(buffer_, i));
    ++kept;
  }
  if (kept == n) return;
  const std::string path = layout_.DailyFile(market, code);
  if (kept == 0 ? layout_.Files().Remove(path)
                : ReplaceDailyFile(layout_.Files(), layout_.DailyTemp(market), path, buffer_.data(),
                                   kept * kDailyRecordSize))
    return;
  Reports().LogF(kWriteFailed, path.c_str());
  NoteFailure();
}

// Scales the records of the range and replaces the file whole.
void DailyEngine::ModifyDailyRecords(int market, std::string_view code, uint32_t first, uint32_t last,
                                     const DailyFactors& factors) {
  File file;
  std::size_t n = 0;
  if (!LoadForEdit(market, code, file, &n)) return;
  file.Close();
  bool changed = false;
  for (std::size_t i = 0; i < n; ++i) {
    if (!InRange(DateAt(buffer_, i), first, last)) continue;
    DailyRecord record = RecordAt(buffer_, i);
    ScaleRecord(record, factors);
    PutRecordAt(buffer_, i, record);
    changed = true;
  }
  const std::string path = layout_.DailyFile(market, code);
  if (!changed ||
      ReplaceDailyFile(layout_.Files(), layout_.DailyTemp(market), path, buffer_.data(), n * kDailyRecordSize))
    return;
  Reports().LogF(kWriteFailed, path.c_str());
  NoteFailure();
}

}  // namespace marbloom
