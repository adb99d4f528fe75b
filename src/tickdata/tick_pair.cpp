#include "tickdata/tick_pair.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
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
  // A new pair's index is written last: a data file beside no index or an
  // empty one is what a write killed before it left, and nothing reads it.
  indexUnwritten_ = !indexRefused && (!index.valid() || index.Length() == 0) && (data_.valid() || dataMissing);
  dataAbsent_ = ((dataMissing || dataLength_ == 0) && !indexRefused) || indexUnwritten_;
  committedLength_ = 0;
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
  committedLength_ = offset;
  if (const TickPairState dates = DateRules(header_, entries_); dates != TickPairState::kSound) return dates;
  return offset == dataLength_ ? TickPairState::kSound : TickPairState::kDataMismatch;
}

TickPairWriter::TickPairWriter(const DataLayout& layout, int32_t version, std::string_view stem, int worker)
    : layout_(layout),
      version_(version),
      stem_(stem),
      indexTemp_(layout.TickIndexTemp(worker)),
      dataTemp_(layout.TickDataTemp(worker)) {}

bool TickPairWriter::Open() {
  way_ = Way::kRewrite;
  indexFile_ = layout_.Files().Open(indexTemp_, OpenMode::kWrite);
  dataFile_ = layout_.Files().Open(dataTemp_, OpenMode::kWrite);
  if (indexFile_.valid() && dataFile_.valid()) return true;
  indexFile_.Close();
  dataFile_.Close();
  return false;
}

bool TickPairWriter::OpenAppend(const TickPair& pair) {
  way_ = Way::kAppend;
  dataFile_ = layout_.Files().Open(layout_.TickDataFile(stem_), OpenMode::kUpdate);
  if (!dataFile_.valid()) return false;
  dataLength_ = committedLength_ = pair.committedLength();
  // The tail of an append that was not committed goes before anything is added.
  if (dataFile_.Length() != dataLength_ && !dataFile_.Truncate(dataLength_)) {
    dataFile_.Close();
    return false;
  }
  entries_ = pair.entries();
  keptEntries_ = entries_.size();
  return true;
}

bool TickPairWriter::OpenNew() {
  way_ = Way::kNew;
  dataFile_ = layout_.Files().Open(layout_.TickDataFile(stem_), OpenMode::kWrite);
  return dataFile_.valid();
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

// The header and the entries in one write: a new pair's index is either
// there whole or empty.
bool TickPairWriter::WriteIndex(File& file) {
  const TickIndexHeader header{version_, entries_.front().date, entries_.back().date, count()};
  std::vector<uint8_t> bytes(sizeof header + entries_.size() * sizeof(TickIndexEntry));
  std::memcpy(bytes.data(), &header, sizeof header);
  std::memcpy(bytes.data() + sizeof header, entries_.data(), entries_.size() * sizeof(TickIndexEntry));
  return file.Write(bytes.data(), bytes.size(), 0);
}

// The data file grew in place; the new index replacing the old one commits it.
// A failed append takes its blocks off again where it can; what stays is a
// tail the next write cuts.
bool TickPairWriter::CommitAppend() {
  if (failed_) dataFile_.Truncate(committedLength_);
  const bool dataClosed = dataFile_.Close();
  if (failed_ || !dataClosed) return false;
  if (entries_.size() == keptEntries_) return true;
  FileSystem& files = layout_.Files();
  indexFile_ = files.Open(indexTemp_, OpenMode::kWrite);
  const bool written = indexFile_.valid() && WriteIndex(indexFile_);
  if (indexFile_.Close() && written && files.Rename(indexTemp_, layout_.TickIndexFile(stem_))) return true;
  files.Remove(indexTemp_);
  files.Open(layout_.TickDataFile(stem_), OpenMode::kUpdate).Truncate(committedLength_);
  return false;
}

// The index goes last: until it is there, the data file reads as nothing.
bool TickPairWriter::CommitNew() {
  const bool dataClosed = dataFile_.Close();
  FileSystem& files = layout_.Files();
  if (!failed_ && dataClosed && !entries_.empty()) {
    const std::string index = layout_.TickIndexFile(stem_);
    indexFile_ = files.Open(index, OpenMode::kWrite);
    const bool written = indexFile_.valid() && WriteIndex(indexFile_);
    if (indexFile_.Close() && written) return true;
    files.Remove(index);
  }
  files.Remove(layout_.TickDataFile(stem_));
  return !failed_ && dataClosed && entries_.empty();
}

bool TickPairWriter::ReplaceTickFiles(WhenEmpty whenEmpty) {
  if (way_ == Way::kAppend) return CommitAppend();
  if (way_ == Way::kNew) return CommitNew();
  if (!failed_ && !entries_.empty()) failed_ = !WriteIndex(indexFile_);
  const bool indexClosed = indexFile_.Close();
  const bool closed = dataFile_.Close() && indexClosed;
  FileSystem& files = layout_.Files();
  bool replaced = !failed_ && closed;
  if (replaced && !entries_.empty()) {
    replaced = files.Rename(dataTemp_, layout_.TickDataFile(stem_)) &&
               files.Rename(indexTemp_, layout_.TickIndexFile(stem_));
    if (replaced) return true;
  } else if (replaced && whenEmpty == WhenEmpty::kRemoveOldPair) {
    files.Remove(layout_.TickIndexFile(stem_));
    files.Remove(layout_.TickDataFile(stem_));
  }
  files.Remove(indexTemp_);
  files.Remove(dataTemp_);
  return replaced;
}

}  // namespace marbloom
