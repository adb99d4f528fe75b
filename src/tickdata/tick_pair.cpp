#include "tickdata/tick_pair.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>

#include "base/file_helpers.h"

namespace marbloom {
namespace {

constexpr int64_t kHeaderSize = sizeof(TickIndexHeader);
constexpr int64_t kEntrySize = sizeof(TickIndexEntry);

// Rules 6 to 8 over the entries, entry by entry; kSound when they hold.
TickPairState DateRules(const TickIndexHeader& h, const std::vector<TickIndexEntry>& entries) {
  if (h.firstDate <= 0 || h.lastDate <= 0 || h.firstDate > h.lastDate || h.firstDate > entries.front().date ||
      h.lastDate < entries.back().date)
    return TickPairState::kBadHeaderDates;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const TickIndexEntry& e = entries[k];
    if (e.unpackedLength <= 0 || e.date < h.firstDate || e.date > h.lastDate) return TickPairState::kBadEntry;
    if (k > 0 && e.date <= entries[k - 1].date) return TickPairState::kOutOfOrder;
  }
  return TickPairState::kSound;
}

}  // namespace

const char* TickPairMessage(TickPairState state) {
  switch (state) {
    case TickPairState::kSound: return nullptr;
    case TickPairState::kNotOpened: return "%s文件打开失败!";
    case TickPairState::kBadLength: return "%s索引文件长度异常!";
    case TickPairState::kTooLarge: return "%s内存申请失败!";
    case TickPairState::kUnreadable: return "%s索引文件读取失败!";
    case TickPairState::kCountMismatch: return "%s索引文件长度校验异常!";
    case TickPairState::kBadHeaderDates:
    case TickPairState::kBadEntry: return "%s索引文件日期信息异常!";
    case TickPairState::kOutOfOrder: return "%s索引文件日期信息乱序!";
    case TickPairState::kDataMismatch: return "%s索引文件和数据文件不匹配!";
  }
  return nullptr;
}

TickPairState TickPair::Load(const DataLayout& layout, std::string_view stem) {
  data_.Close();
  // A link or any other file that is not a regular one is never followed:
  // the pair does not open, and it is not taken for absent either.
  const File index = layout.Files().Open(layout.TickIndexFile(stem), OpenMode::kReadRegular);
  const bool indexRefused = !index.valid() && errno != ENOENT;
  data_ = layout.Files().Open(layout.TickDataFile(stem), OpenMode::kReadRegular);
  const bool dataMissing = !data_.valid() && errno == ENOENT;
  dataLength_ = data_.Length();
  dataAbsent_ = (dataMissing || dataLength_ == 0) && !indexRefused;
  blocksPositive_ = false;
  header_ = TickIndexHeader{};
  entries_.clear();
  offsets_.clear();
  state_ = Judge(index);
  if (!Whole()) entries_.clear();
  return state_;
}

TickPairState TickPair::Judge(const File& index) {
  if (!index.valid() || !data_.valid()) return TickPairState::kNotOpened;
  const int64_t indexLength = index.Length();
  if (indexLength < kHeaderSize || dataLength_ <= 0 || (indexLength - kHeaderSize) % kEntrySize != 0)
    return TickPairState::kBadLength;
  if (static_cast<uint64_t>(indexLength) > kMaxWholeFileBytes) return TickPairState::kTooLarge;
  const std::size_t count = static_cast<std::size_t>((indexLength - kHeaderSize) / kEntrySize);
  try {
    entries_.resize(count);
    offsets_.resize(count);
  } catch (const std::bad_alloc&) {
    return TickPairState::kTooLarge;
  }
  if (!index.ReadAll(&header_, sizeof header_, 0) ||
      !index.ReadAll(entries_.data(), count * sizeof(TickIndexEntry), kHeaderSize))
    return TickPairState::kUnreadable;
  if (header_.count <= 0 || static_cast<std::size_t>(header_.count) != count) return TickPairState::kCountMismatch;
  int64_t offset = 0;
  blocksPositive_ = true;
  for (std::size_t k = 0; k < count; ++k) {
    offsets_[k] = offset;
    offset += entries_[k].dataLength;
    if (entries_[k].dataLength <= 0) blocksPositive_ = false;
  }
  if (const TickPairState dates = DateRules(header_, entries_); dates != TickPairState::kSound) return dates;
  return offset == dataLength_ ? TickPairState::kSound : TickPairState::kDataMismatch;
}

TickPairWriter::TickPairWriter(const DataLayout& layout, int32_t version) : layout_(layout), version_(version) {}

bool TickPairWriter::Open() {
  indexFile_ = layout_.Files().Open(layout_.TickIndexTemp(), OpenMode::kWrite);
  dataFile_ = layout_.Files().Open(layout_.TickDataTemp(), OpenMode::kWrite);
  if (indexFile_.valid() && dataFile_.valid()) return true;
  indexFile_.Close();
  dataFile_.Close();
  return false;
}

void TickPairWriter::AddBlock(const TickIndexEntry& entry, const uint8_t* block, std::size_t size) {
  if (failed_) return;
  if (!dataFile_.Write(block, size, dataLength_)) {
    failed_ = true;
    return;
  }
  entries_.push_back(entry);
  dataLength_ += static_cast<int64_t>(size);
}

void TickPairWriter::CopyOldDays(const TickPair& pair, std::size_t from, std::size_t to) {
  if (failed_ || from >= to) return;
  const int64_t start = pair.BlockOffset(from);
  const int64_t length = pair.BlockOffset(to - 1) + pair.entries()[to - 1].dataLength - start;
  if (!layout_.Files().Copy(pair.dataFile(), start, dataFile_, dataLength_, length)) {
    failed_ = true;
    return;
  }
  entries_.insert(entries_.end(), pair.entries().begin() + static_cast<std::ptrdiff_t>(from),
                  pair.entries().begin() + static_cast<std::ptrdiff_t>(to));
  dataLength_ += length;
}

bool TickPairWriter::ReplaceTickFiles(std::string_view stem, WhenEmpty whenEmpty) {
  if (!failed_ && !entries_.empty()) {
    const TickIndexHeader header{version_, entries_.front().date, entries_.back().date, count()};
    failed_ = !indexFile_.Write(&header, sizeof header, 0) ||
              !indexFile_.Write(entries_.data(), entries_.size() * sizeof(TickIndexEntry), sizeof header);
  }
  const bool indexClosed = indexFile_.Close();
  const bool closed = dataFile_.Close() && indexClosed;
  FileSystem& files = layout_.Files();
  bool replaced = !failed_ && closed;
  if (replaced && !entries_.empty()) {
    replaced = files.Rename(layout_.TickDataTemp(), layout_.TickDataFile(stem)) &&
               files.Rename(layout_.TickIndexTemp(), layout_.TickIndexFile(stem));
    if (replaced) return true;
  } else if (replaced && whenEmpty == WhenEmpty::kRemoveOldPair) {
    files.Remove(layout_.TickIndexFile(stem));
    files.Remove(layout_.TickDataFile(stem));
  }
  files.Remove(layout_.TickIndexTemp());
  files.Remove(layout_.TickDataTemp());
  return replaced;
}

}  // namespace marbloom
