#include "tickdata/tick_repair.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "common/security_class.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"

namespace marbloom {
namespace {

// An entry of a damaged index with the place its block had in the data file.
struct Salvaged {
  TickIndexEntry entry;
  int64_t offset;
};

bool ReadWhole(const File& file, std::vector<uint8_t>* bytes) {
  const int64_t length = file ? file.Length() : -1;
  if (length < 0 || length > static_cast<int64_t>(kMaxWholeFileBytes)) return false;
  bytes->resize(static_cast<std::size_t>(length));
  return file.ReadAll(bytes->data(), bytes->size(), 0);
}

// In date order; of one date the entry written last (the latest in the
// index) stays.
void KeepLastOfEachDate(std::vector<Salvaged>& kept) {
  std::stable_sort(kept.begin(), kept.end(), [](const Salvaged& a, const Salvaged& b) { return a.entry.date < b.entry.date; });
  std::vector<Salvaged> last;
  for (std::size_t k = 0; k < kept.size(); ++k)
    if (k + 1 == kept.size() || kept[k + 1].entry.date != kept[k].entry.date) last.push_back(kept[k]);
  kept.swap(last);
}

}  // namespace

bool TickRepair::PairNeedsRepair(const SecurityFile& file, bool deep) {
  if (old_.Load(layout_, SecurityStem(file.market, file.code)) != TickPairState::kSound) return true;
  if (!deep || reader_.Open(file.market, file.code) != TickPairState::kSound) return deep;
  TickDayView day;
  for (const TickIndexEntry& entry : reader_.Entries())
    if (!reader_.ReadDay(entry.date, &day)) return true;
  return false;
}

bool TickRepair::RebuildPair(const SecurityFile& file, bool deep) {
  const std::string stem = SecurityStem(file.market, file.code);
  FileSystem& files = layout_.Files();
  std::vector<uint8_t> index;
  if (!ReadWhole(files.Open(layout_.TickIndexFile(stem), OpenMode::kReadRegular), &index)) {
    layout_.Reports().ReportF("%s分笔索引文件无法读取, 未修复!", stem.c_str());
    NoteFailure();
    return false;
  }
  const File data = files.Open(layout_.TickDataFile(stem), OpenMode::kReadRegular);
  const int64_t dataLength = data ? data.Length() : 0;
  TickIndexHeader header{};
  if (index.size() >= sizeof header) std::memcpy(&header, index.data(), sizeof header);
  const int32_t version = header.version == 0 ? 0 : 2;

  const bool runningExtra = TypeIn(ClassifySecurity(file.market, file.code), TypeSet::kRunningExtra);
  std::vector<Salvaged> kept;
  std::vector<int32_t> lost;
  std::vector<uint8_t> block;
  GrowBuffer<TickRecord> ticks;
  TickBlockUnpacker unpacker;
  int64_t offset = 0;
  for (std::size_t at = sizeof header; at + sizeof(TickIndexEntry) <= index.size(); at += sizeof(TickIndexEntry)) {
    TickIndexEntry entry;
    std::memcpy(&entry, index.data() + at, sizeof entry);
    bool readable = entry.date > 0 && entry.unpackedLength > 0 && entry.dataLength > 0 &&
                    offset + entry.dataLength <= dataLength;
    if (readable && deep) {
      block.resize(static_cast<std::size_t>(entry.dataLength));
      std::size_t count = 0;
      readable = data.ReadAll(block.data(), block.size(), offset) &&
                 DecodeStoredBlock(block.data(), entry, runningExtra, unpacker, ticks, &count) && count > 0;
    }
    if (readable) kept.push_back({entry, offset});
    else lost.push_back(entry.date);
    if (entry.dataLength > 0) offset += entry.dataLength;
  }
  KeepLastOfEachDate(kept);
  if (kept.empty() && !lost.empty()) {
    // Nothing readable to put in its place: the pair stays for another try.
    layout_.Reports().ReportF("%s分笔文件没有可读的数据, 未修复!", stem.c_str());
    NoteFailure();
    return false;
  }

  TickPairWriter writer(layout_, version, stem);
  ItemReport report;
  if (!writer.Open()) {
    TickEngine::WriteFailed(stem, report);
    Deliver(report);
    return false;
  }
  for (const Salvaged& s : kept) {
    block.resize(static_cast<std::size_t>(s.entry.dataLength));
    if (!data.ReadAll(block.data(), block.size(), s.offset)) {
      lost.push_back(s.entry.date);
      continue;
    }
    writer.AddBlock(s.entry, block.data(), block.size());
  }
  const bool replaced = TickEngine::Replace(writer, stem, TickPairWriter::WhenEmpty::kRemoveOldPair, report);
  Deliver(report);
  if (!replaced) return false;
  for (int32_t date : lost) layout_.Reports().ReportF("%s的%d分笔数据已丢失!", stem.c_str(), static_cast<int>(date));
  layout_.Reports().ReportF("%s分笔文件已修复: 保留%d天, 丢失%d天", stem.c_str(), writer.count(), static_cast<int>(lost.size()));
  if (writer.count() == 0 || (check_.CheckTickFile(stem) && (!deep || check_.CheckTickBlocks(file.market, file.code)))) return true;
  NoteFailure();
  return false;
}

OperationResult TickRepair::RepairTickFiles(bool deep) {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  wrote_ = false;
  int repaired = 0;
  const WalkTexts texts{"路径不存在或无分笔数据!", "正在修复%s分笔数据", "修复分笔操作被取消!"};
  const std::vector<SecurityFile> indexes =
      ListSecurityFiles(layout_.Files(), layout_.TickStoreDir(), kAnyMarket, "", DataLayout::kTickIndexExtension)
          .files;
  const WalkEnd end = VisitSecurityFiles(*this, indexes, texts, [&](const SecurityFile& file) {
    if (!PairNeedsRepair(file, deep)) return;
    if (RebuildPair(file, deep)) ++repaired;
  });
  if (wrote_) FlushTree(layout_);
  return ConcludeWalk(end, texts, "修复分笔完成, 共修复" + std::to_string(repaired) + "个文件!");
}

void TickRepair::Deliver(ItemReport& report) {
  wrote_ = wrote_ || report.wrote;
  report.Deliver(*this);
}

}  // namespace marbloom
