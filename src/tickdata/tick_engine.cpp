#include "tickdata/tick_engine.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>

#include "common/calendar.h"
#include "common/code_pattern.h"
#include "common/market.h"
#include "common/security_class.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"

namespace marbloom {
namespace {

constexpr const char* kIndexing = "创建转档索引表!";

// Codes and markets that cannot name a file of the store are skipped.
bool Storable(const TickArchiveItem& item) { return IsValidMarket(item.market) && IsSixDigitCode(item.code); }

int64_t SecurityKey(const TickArchiveItem& item) {
  int64_t key = item.market;
  for (int i = 0; i < 6; ++i) key = key * 10 + (item.code[i] - '0');
  return key;
}

TickIndexEntry IndexEntryOf(const TickArchive& archive, const TickArchiveItem& item) {
  return TickIndexEntry{archive.date, item.unpackedLength, item.dataLength, item.refPrice, item.priceDecimals,
                        item.spare};
}

}  // namespace

TickEngine::TickEngine(DataLayout layout)
    : OperationEngine(layout.Reports()), layout_(std::move(layout)), reader_(layout_) {}

std::vector<TickArchive> TickEngine::LoadArchives(int first, int last) {
  std::vector<TickArchive> archives;
  for (int d = first; d != 0 && d <= last && archives.size() < kMaxLoadedTickArchives;) {
    TickArchiveLoad load = LoadTickArchive(layout_, d);
    if (load.archive) {
      archives.push_back(std::move(*load.archive));
    } else if (!load.failure.empty()) {
      Reports().LogF("%s无法加载(%s), 已跳过!", layout_.TickArchiveFile(d).c_str(), load.failure.c_str());
      NoteFailure();
    }
    const int next = NextTradingDay(d);
    if (next <= d) break;
    d = next;
  }
  return archives;
}

// Entries whose market or code names no security are not converted; each
// archive holding any is logged once and fails the run.
std::vector<TickEngine::ListedSecurity> TickEngine::ListSecurities(const std::vector<TickArchive>& archives) {
  std::vector<ListedSecurity> list;
  std::unordered_map<int64_t, std::size_t> seen;
  for (std::size_t j = 0; j < archives.size(); ++j) {
    const auto& directory = archives[j].directory;
    const auto unstorable = std::count_if(directory.begin(), directory.end(),
                                          [](const TickArchiveItem& item) { return !Storable(item); });
    if (unstorable > 0) {
      Reports().LogF("%s中有%d条记录的市场或代码无效, 已跳过!", layout_.TickArchiveFile(archives[j].date).c_str(),
             static_cast<int>(unstorable));
      NoteFailure();
    }
    for (std::size_t k = 0; k < directory.size(); ++k) {
      if (!Storable(directory[k])) continue;
      auto [it, added] = seen.try_emplace(SecurityKey(directory[k]), list.size());
      if (added) {
        list.emplace_back();
        list.back().market = directory[k].market;
        std::memcpy(list.back().code, directory[k].code, sizeof list.back().code);
      }
      list[it->second].position[j] = static_cast<int32_t>(k + 1);
    }
  }
  return list;
}

OperationResult TickEngine::ConvertTickRange(int first, int last) {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  wrote_ = false;
  Reports().Status(kIndexing);
  if (first > last) return Conclude(Outcome::kNothingToDo, kIndexing);
  const std::vector<TickArchive> archives = LoadArchives(first, last);
  if (archives.empty()) return Conclude(Failures() > 0 ? Outcome::kFailed : Outcome::kNothingToDo, kIndexing);
  const std::vector<ListedSecurity> list = ListSecurities(archives);
  std::vector<std::unique_ptr<Worker>> workers;
  for (int w = 0; w < Workers(); ++w) workers.push_back(std::make_unique<Worker>(w));
  std::vector<ItemReport> reports(list.size());
  std::vector<std::optional<ItemReport>> minuteReports(minutes_ ? list.size() : 0);
  if (minutes_) minutes_->PrepareWorkers(Workers());
  auto merge = [&](std::size_t i, int w) {
    Worker& worker = *workers[w];
    if (MergeSecurity(list[i], archives, first, worker, reports[i]) && minutes_)
      minuteReports[i] = minutes_->BuildAhead(list[i].market, list[i].code, first, last, worker.held, w);
  };
  bool cancelled = false;
  RunOrdered(
      list.size(), Workers(),
      [&](std::size_t i) { Reports().StatusF("转档%s%s分笔数据...", kMarketPrefix[list[i].market], list[i].code); },
      merge,
      [&](std::size_t i) {
        if (minutes_ && minuteReports[i]) {
          wrote_ = wrote_ || minuteReports[i]->wrote;  // the flush below covers the minute files too
          minutes_->KeepBuiltAhead(list[i].market, list[i].code, std::move(*minuteReports[i]));
        }
        Deliver(reports[i]);
        Reports().Progress(static_cast<double>(i) / static_cast<double>(list.size()));
        cancelled = Cancelled();
        return !cancelled;
      },
      {.before = [&](std::size_t from, std::size_t to) { BeforeMerging(list, from, to); }});
  if (wrote_) FlushTree(layout_);
  return ConcludeShown(cancelled ? Outcome::kCancelled : Outcome::kDone,
                       cancelled ? "分笔数据转档被取消!" : "分笔数据转档完成!", true);
}

// When the journal cannot keep a batch, each file is kept on its own.
void TickEngine::BeforeMerging(const std::vector<ListedSecurity>& list, std::size_t from, std::size_t to) const {
  std::vector<std::string> data, replaced;
  for (std::size_t i = from; i < to; ++i) {
    const std::string stem = SecurityStem(list[i].market, list[i].code);
    data.push_back(layout_.TickDataFile(stem));
    replaced.push_back(layout_.TickIndexFile(stem));
    if (minutes_) AddMinuteFilePaths(layout_, list[i].market, list[i].code, &replaced);
  }
  layout_.Files().BeforeChanges(data, ComingChange::kGrowth);
  layout_.Files().BeforeChanges(replaced, ComingChange::kReplacement);
}

void TickEngine::Deliver(ItemReport& report) {
  wrote_ = wrote_ || report.wrote;
  report.Deliver(*this);
}

bool TickEngine::OldPairUsable(const TickPair& pair, std::string_view stem, ItemReport& report) {
  // A pair that holds data but is not sound is left as it is: rewriting it
  // would lose its days. Blocks past the index are an append that was not
  // committed, once every block the index lists is known to decode (a data
  // file renamed in without its index would not).
  if (pair.Rewritable() || pair.DataAbsent() || (pair.UncommittedTail() && ListedBlocksDecode(pair))) return true;
  report.Fail("%s分笔文件已损坏, 未更新!", std::string(stem).c_str());
  return false;
}

bool TickEngine::WriteFailed(std::string_view stem, ItemReport& report) {
  report.Fail("%s分笔文件写入失败, 保留原文件!", std::string(stem).c_str());
  return false;
}

bool TickEngine::Replace(TickPairWriter& writer, std::string_view stem, TickPairWriter::WhenEmpty whenEmpty,
                         ItemReport& report) {
  report.wrote = true;
  return writer.ReplaceTickFiles(whenEmpty) || WriteFailed(stem, report);
}

// Days later than every stored one are appended to the pair; otherwise the
// pair is rewritten: old days before `first`, then each archive day in date
// order replacing an old day of the same date, old days in between kept, the
// rest appended. A pair that holds nothing is written new.
bool TickEngine::MergeSecurity(const ListedSecurity& security, const std::vector<TickArchive>& archives, int first,
                               Worker& worker, ItemReport& report) const {
  const std::string stem = SecurityStem(security.market, security.code);
  const bool runningExtra = TypeIn(ClassifySecurity(security.market, security.code), TypeSet::kRunningExtra);
  TickPair& old = worker.old;
  worker.held.clear();
  old.Load(layout_, stem);
  if (!OldPairUsable(old, stem, report)) return false;
  const std::size_t oldCount = old.DataAbsent() ? 0 : old.entries().size();
  std::size_t firstArchive = 0;
  while (firstArchive < archives.size() && security.position[firstArchive] <= 0) ++firstArchive;
  const bool appending = oldCount > 0 && firstArchive < archives.size() &&
                         archives[firstArchive].date > old.entries().back().date;
  TickPairWriter writer(layout_, 2, stem, worker.index);
  const bool opened = appending                ? writer.OpenAppend(old)
                      : old.NothingWritten() ? writer.OpenNew()
                                               : writer.Open();
  if (!opened) return WriteFailed(stem, report);
  std::size_t k = appending ? oldCount : 0;
  auto copyOldBefore = [&](int date) {
    const std::size_t start = k;
    while (k < oldCount && old.entries()[k].date < date) ++k;
    writer.CopyOldDays(old, start, k);
  };
  copyOldBefore(first);
  for (std::size_t j = firstArchive; j < archives.size(); ++j) {
    if (security.position[j] <= 0) continue;
    const TickArchive& archive = archives[j];
    const TickArchiveItem& item = archive.directory[static_cast<std::size_t>(security.position[j] - 1)];
    copyOldBefore(archive.date);
    // An old day of the same date gives way only once the new block is in
    // hand: a block that cannot be read leaves the old day where it was.
    const bool replacesOldDay = k < oldCount && old.entries()[k].date == archive.date;
    GrowBuffer<uint8_t>& block = worker.blocks[j];
    if (!ReadArchiveBlock(archive, item, &block)) {
      report.Fail("%s在%s中的分笔数据读取失败!", stem.c_str(), layout_.TickArchiveFile(archive.date).c_str());
      continue;
    }
    const TickIndexEntry entry = IndexEntryOf(archive, item);
    std::size_t count = 0;
    if (!DecodeStoredBlock(block.data(), entry, runningExtra, worker.unpacker, worker.ticks[j], &count) || count == 0) {
      report.Fail("%s在%s中的分笔数据无法解码, 未转档!", stem.c_str(), layout_.TickArchiveFile(archive.date).c_str());
      continue;
    }
    writer.AddBlock(entry, block.data(), static_cast<std::size_t>(item.dataLength));
    worker.held.push_back({entry, block.data(), worker.ticks[j].data(), count});
    if (replacesOldDay) ++k;
  }
  writer.CopyOldDays(old, k, oldCount);
  return Replace(writer, stem, TickPairWriter::WhenEmpty::kKeepOldPair, report);
}

}  // namespace marbloom
