// Range delete and check of the tick store.
#include <cstdio>
#include <string>

#include "base/text_encoding.h"
#include "common/security_walk.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "tickdata/tick_engine.h"

namespace marbloom {
namespace {

std::vector<SecurityFile> IndexFiles(const DataLayout& layout) {
  return ListSecurityFiles(layout.Files(), layout.TickStoreDir(), kAnyMarket, "", DataLayout::kTickIndexExtension)
      .files;
}

std::string StemOf(const SecurityFile& file) { return SecurityStem(file.market, file.code); }

}  // namespace

OperationResult TickEngine::DeleteTickRange(int first, int last) {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  wrote_ = false;
  const std::string deleting = FormatText("正在删除%d-%d时间段的分笔数据...", first, last);
  Reports().Status(deleting);
  const std::vector<SecurityFile> files = IndexFiles(layout_);
  if (files.empty()) return Conclude(Outcome::kNothingToDo, deleting);
  const WalkTexts texts{"", "正在删除股票%s分笔数据", "删除分笔数据操作被取消!"};
  const WalkChanges changes(layout_.Files(), [this](const SecurityFile& file, std::vector<std::string>* paths) {
    paths->push_back(layout_.TickDataFile(StemOf(file)));
  });
  const WalkEnd end = VisitSecurityFiles(
      *this, files, texts, [&](const SecurityFile& file) { DeleteTickDays(StemOf(file), first, last); }, changes);
  if (wrote_) FlushTree(layout_);
  if (end == WalkEnd::kCancelled) return Conclude(Outcome::kCancelled, texts.cancelled);
  return ConcludeShown(Outcome::kDone, "删除分笔数据完成!", true);
}

bool TickEngine::DeleteTickDays(std::string_view stem, int first, int last) {
  ItemReport report;
  const bool deleted = DeleteDays(stem, first, last, report);
  Deliver(report);
  return deleted;
}

bool TickEngine::DeleteDays(std::string_view stem, int first, int last, ItemReport& report) {
  old_.Load(layout_, stem);
  if (!OldPairUsable(old_, stem, report)) return false;  // damaged, left as it is
  if (old_.DataAbsent()) return true;                    // nothing to delete
  TickPairWriter writer(layout_, 0, stem);
  if (!writer.Open()) return WriteFailed(stem, report);
  const std::vector<TickIndexEntry>& entries = old_.entries();
  std::size_t k = 0;
  while (k < entries.size()) {
    const std::size_t start = k;
    while (k < entries.size() && (entries[k].date < first || entries[k].date > last)) ++k;
    writer.CopyOldDays(old_, start, k);
    while (k < entries.size() && entries[k].date >= first && entries[k].date <= last) ++k;
  }
  return Replace(writer, stem, TickPairWriter::WhenEmpty::kRemoveOldPair, report);
}

OperationResult TickEngine::CheckTickFiles(bool deep) {
  BeginOperation();
  const WalkTexts texts{"路径不存在或无分笔数据!", "正在检查%s分笔数据", "检查分笔操作被取消!"};
  const WalkEnd end = VisitSecurityFiles(*this, IndexFiles(layout_), texts, [&](const SecurityFile& file) {
    if (!CheckTickFile(StemOf(file)) || (deep && !CheckTickBlocks(file.market, file.code))) NoteFailure();
  });
  char message[64];
  std::snprintf(message, sizeof message, "共有%d支股票分笔文件出错!", Failures());
  const Outcome outcome = end == WalkEnd::kNoFiles     ? Outcome::kNothingToDo
                          : end == WalkEnd::kCancelled ? Outcome::kCancelled
                                                       : Outcome::kDone;
  return Conclude(outcome, message);
}

bool TickEngine::CheckTickFile(std::string_view stem) {
  const TickPairState state = old_.Load(layout_, stem);
  if (state == TickPairState::kSound) return true;
  Reports().ReportF(TickPairMessage(state), std::string(stem).c_str());
  return false;
}

// The pair is judged again by the reader that decodes its days.
bool TickEngine::CheckTickBlocks(int market, std::string_view code) {
  const std::string stem = SecurityStem(market, code);
  if (const TickPairState state = reader_.Open(market, code); state != TickPairState::kSound) {
    Reports().ReportF(TickPairMessage(state), stem.c_str());
    return false;
  }
  bool sound = true;
  TickDayView day;
  for (const TickIndexEntry& entry : reader_.Entries()) {
    if (reader_.ReadDay(entry.date, &day)) continue;
    Reports().ReportF(kUnreadableTickDay, stem.c_str(), entry.date);
    sound = false;
  }
  return sound;
}

}  // namespace marbloom
