#include "daily/daily_range_delete.h"

#include "common/code_pattern.h"
#include "common/tree_lock.h"
#include "daily/daily_io.h"

namespace marbloom {
namespace {

constexpr WalkTexts kDeleteTexts = {"路径不存在或无日线数据!", "正在删除%s日线", "本次删除日线操作被取消!"};

}  // namespace

OperationResult DailyRangeDelete::DeleteDailyRange(int first, int last, std::string_view pattern) {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  const WalkEnd end = VisitSecurityFiles(*this, daily_.List(layout_, SelectMarkets(pattern), CodePart(pattern)),
                                         kDeleteTexts, [&](const SecurityFile& file) {
                                           DeleteDailyRecords(file.market, file.code, static_cast<uint32_t>(first),
                                                              static_cast<uint32_t>(last));
                                         },
                                         WalkChanges(layout_.Files()));
  if (end != WalkEnd::kNoFiles) FlushTree(layout_);
  return ConcludeWalk(end, kDeleteTexts, "删除日线完成!");
}

// A file that cannot be loaded is left alone and counts as failed (a missing
// one was deleted meanwhile and does not). The rest is replaced whole, or
// removed when no record is kept.
void DailyRangeDelete::DeleteDailyRecords(int market, std::string_view code, uint32_t first, uint32_t last) {
  std::size_t n = 0;
  const DailyLoad load = daily_.Load(market, code, &n);
  if (load == DailyLoad::kFailed) NoteFailure();
  if (load != DailyLoad::kLoaded) return;
  std::vector<uint8_t>& buffer = daily_.Buffer();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const uint32_t date = DateAt(buffer, i);
    if (date == 0 || (date >= first && date <= last)) continue;
    if (kept != i) PutRecordAt(buffer, kept, RecordAt(buffer, i));
    ++kept;
  }
  if (kept != n && !daily_.Rewrite(market, code, kept)) NoteFailure();
}

}  // namespace marbloom
