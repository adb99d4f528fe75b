#include "daily/daily_batch_modify.h"

#include "common/code_pattern.h"
#include "common/scaled_value.h"
#include "common/tree_lock.h"
#include "daily/daily_io.h"

namespace marbloom {
namespace {

constexpr WalkTexts kModifyTexts = {"路径不存在或无日线数据!", "正在修改%s日线", "本次批量修改日线操作被取消!"};

void ScaleRecord(DailyRecord& r, const DailyFactors& f) {
  r.open = ScaleInt32(r.open, f.open);
  r.high = ScaleInt32(r.high, f.high);
  r.low = ScaleInt32(r.low, f.low);
  r.close = ScaleInt32(r.close, f.close);
  r.volume = ScaleUint32(r.volume, f.volume);
  r.amount = ToSingle(static_cast<double>(r.amount) * static_cast<double>(f.amount));
}

}  // namespace

OperationResult DailyBatchModify::ModifyDailyRange(int first, int last, const DailyFactors& factors,
                                                   std::string_view pattern) {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  const WalkEnd end = VisitSecurityFiles(*this, daily_.List(layout_, SelectMarkets(pattern), CodePart(pattern)),
                                         kModifyTexts, [&](const SecurityFile& file) {
                                           ModifyDailyRecords(file.market, file.code, static_cast<uint32_t>(first),
                                                              static_cast<uint32_t>(last), factors);
                                         },
                                         WalkChanges(layout_.Files()));
  if (end != WalkEnd::kNoFiles) FlushTree(layout_);
  return ConcludeWalk(end, kModifyTexts, "批量修改日线完成!");
}

// A file that cannot be loaded is left alone and counts as failed (a missing
// one was deleted meanwhile and does not); the rest is replaced whole when a
// record of the range changed.
void DailyBatchModify::ModifyDailyRecords(int market, std::string_view code, uint32_t first, uint32_t last,
                                          const DailyFactors& factors) {
  std::size_t n = 0;
  const DailyLoad load = daily_.Load(market, code, &n);
  if (load == DailyLoad::kFailed) NoteFailure();
  if (load != DailyLoad::kLoaded) return;
  std::vector<uint8_t>& buffer = daily_.Buffer();
  bool changed = false;
  for (std::size_t i = 0; i < n; ++i) {
    const uint32_t date = DateAt(buffer, i);
    if (date < first || date > last) continue;
    DailyRecord record = RecordAt(buffer, i);
    ScaleRecord(record, factors);
    PutRecordAt(buffer, i, record);
    changed = true;
  }
  if (changed && !daily_.Rewrite(market, code, n)) NoteFailure();
}

}  // namespace marbloom
