#include "tickdata/tick_engine.h"

#include <cstring>
#include <new>
#include <unordered_map>

#include "base/file_helpers.h"
#include "common/calendar.h"
#include "common/code_pattern.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "tickdata/tick_pair.h"

namespace marbloom {
namespace {

std::vector<TickArchive> LoadArchives(const TickReader& reader, int first, int last) {
  std::vector<TickArchive> archives;
  for (int d = first; d != 0 && d <= last && archives.size() < kMaxLoadedTickArchives;) {
    if (auto archive = reader.LoadTickArchive(d)) archives.push_back(std::move(*archive));
    const int next = NextTradingDay(d);
    if (next <= d) break;
    d = next;
  }
  return archives;
}

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

std::vector<TickEngine::ListedSecurity> TickEngine::ListSecurities(const std::vector<TickArchive>& archives) const {
  std::vector<ListedSecurity> list;
  std::unordered_map<int64_t, std::size_t> seen;
  for (std::size_t j = 0; j < archives.size(); ++j) {
    const auto& directory = archives[j].directory;
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

int TickEngine::ConvertTickRange(int first, int last) {
  SetStatusText("创建转档索引表!");
  if (first > last) return 0;
  const std::vector<TickArchive> archives = LoadArchives(reader_, first, last);
  if (archives.empty()) return 0;
  const std::vector<ListedSecurity> list = ListSecurities(archives);
  for (std::size_t i = 0; i < list.size(); ++i) {
    SetStatusTextF("转档%s%s分笔数据...", kMarketPrefix[list[i].market], list[i].code);
    MergeSecurity(list[i], archives, first);
    SetProgressFraction(static_cast<double>(i) / static_cast<double>(list.size()));
    if (Cancelled()) break;
  }
  ReportF("%s", Cancelled() ? "分笔数据转档被取消!" : "分笔数据转档完成!");
  return 0;
}

bool TickEngine::ReserveBlockBuffer(int32_t length) {
  if (blockCapacity_ >= length) return true;
  blockBuffer_.reset();
  blockCapacity_ = 0;
  const int64_t capacity = int64_t{2} * length;
  blockBuffer_.reset(new (std::nothrow) uint8_t[static_cast<std::size_t>(capacity)]);
  if (!blockBuffer_) return false;
  blockCapacity_ = static_cast<int32_t>(std::min<int64_t>(capacity, INT32_MAX));
  return true;
}

// Old days before `first`, then each archive day in date order replacing an
// old day of the same date, old days in between kept, the rest appended.
void TickEngine::MergeSecurity(const ListedSecurity& security, const std::vector<TickArchive>& archives,
                               int first) {
  const std::string stem = TickStem(security.market, security.code);
  TickPairIndex old;
  const TickPairState state = LoadTickPair(stem, &old);
  if (state == TickPairState::kReadFailed) return;
  const std::size_t oldCount = state == TickPairState::kUsable ? old.entries.size() : 0;
  TickPairWriter writer(2);
  if (!writer.Open()) return;
  std::size_t k = 0;
  auto copyOldBefore = [&](int date) {
    const std::size_t start = k;
    while (k < oldCount && old.entries[k].date < date) ++k;
    writer.CopyOldDays(old, start, k);
  };
  copyOldBefore(first);
  for (std::size_t j = 0; j < archives.size(); ++j) {
    if (security.position[j] <= 0) continue;
    const TickArchive& archive = archives[j];
    const TickArchiveItem& item = archive.directory[static_cast<std::size_t>(security.position[j] - 1)];
    copyOldBefore(archive.date);
    // An old day of the same date gives way only once the new block is in
    // hand: a block that cannot be read leaves the old day where it was.
    const bool replacesOldDay = k < oldCount && old.entries[k].date == archive.date;
    if (!ReserveBlockBuffer(item.dataLength)) return;  // the writer removes nothing; the old pair stays
    if (!ReadAllAt(archive.file.get(), blockBuffer_.get(), static_cast<std::size_t>(item.dataLength),
                   item.blockOffset))
      continue;
    writer.AddBlock(IndexEntryOf(archive, item), blockBuffer_.get(), static_cast<std::size_t>(item.dataLength));
    if (replacesOldDay) ++k;
  }
  writer.CopyOldDays(old, k, oldCount);
  writer.ReplaceTickFiles(stem, TickPairWriter::WhenEmpty::kKeepOldPair);
}

}  // namespace marbloom
