#include "tickdata/tick_pair.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>

#include "base/file_helpers.h"

namespace marbloom {
namespace {

constexpr int64_t kHeaderSize = sizeof(TickIndexHeader);
constexpr int64_t kEntrySize = sizeof(TickIndexEntry);

TickWriteObserver g_writeObserver = nullptr;

void Observe(TickWriteStep step) {
  if (g_writeObserver != nullptr) g_writeObserver(step);
}

bool CopyThroughBuffer(int from, int64_t fromOffset, int to, int64_t toOffset, int64_t length) {
  std::vector<uint8_t> buffer(static_cast<std::size_t>(std::min<int64_t>(length, 1 << 20)));
  while (length > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<int64_t>(length, static_cast<int64_t>(buffer.size())));
    if (!ReadAllAt(from, buffer.data(), n, fromOffset) || !WriteAllAt(to, buffer.data(), n, toOffset)) return false;
    fromOffset += static_cast<int64_t>(n);
    toOffset += static_cast<int64_t>(n);
    length -= static_cast<int64_t>(n);
  }
  return true;
}

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
  UniqueFd index = OpenForReading(layout.TickIndexFile(stem), FileKind::kRegularOnly);
  const bool indexRefused = !index.valid() && errno != ENOENT;
  data_ = OpenForReading(layout.TickDataFile(stem), FileKind::kRegularOnly);
  const bool dataMissing = !data_.valid() && errno == ENOENT;
  dataLength_ = data_.valid() ? FileLength(data_.get()) : -1;
  dataAbsent_ = (dataMissing || dataLength_ == 0) && !indexRefused;
  blocksPositive_ = false;
  header_ = TickIndexHeader{};
  entries_.clear();
  offsets_.clear();
  state_ = Judge(index);
  if (!Whole()) entries_.clear();
  return state_;
}

TickPairState TickPair::Judge(const UniqueFd& index) {
  if (!index.valid() || !data_.valid()) return TickPairState::kNotOpened;
  const int64_t indexLength = FileLength(index.get());
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
  if (!ReadAllAt(index.get(), &header_, sizeof header_, 0) ||
      !ReadAllAt(index.get(), entries_.data(), count * sizeof(TickIndexEntry), kHeaderSize))
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

void SetTickWriteObserver(TickWriteObserver observer) { g_writeObserver = observer; }

bool CopyFileRange(int from, int64_t fromOffset, int to, int64_t toOffset, int64_t length) {
  while (length > 0) {
    off64_t in = fromOffset, out = toOffset;
    const ssize_t n = ::copy_file_range(from, &in, to, &out, static_cast<std::size_t>(length), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
      return CopyThroughBuffer(from, fromOffset, to, toOffset, length);
    if (n <= 0) return false;  // an error, or the source ended early
    fromOffset += n;
    toOffset += n;
    length -= n;
  }
  return true;
}

TickPairWriter::TickPairWriter(const DataLayout& layout, int32_t version) : layout_(layout), version_(version) {}

bool TickPairWriter::Open() {
  indexFile_ = OpenForWriting(layout_.TickIndexTemp());
  dataFile_ = OpenForWriting(layout_.TickDataTemp());
  if (indexFile_.valid() && dataFile_.valid()) return true;
  indexFile_.Close();
  dataFile_.Close();
  return false;
}

void TickPairWriter::AddBlock(const TickIndexEntry& entry, const uint8_t* block, std::size_t size) {
  if (failed_) return;
  if (!WriteAllAt(dataFile_.get(), block, size, dataLength_)) {
    failed_ = true;
    return;
  }
  entries_.push_back(entry);
  dataLength_ += static_cast<int64_t>(size);
  Observe(TickWriteStep::kBlockWritten);
}

void TickPairWriter::CopyOldDays(const TickPair& pair, std::size_t from, std::size_t to) {
  if (failed_ || from >= to) return;
  const int64_t start = pair.BlockOffset(from);
  const int64_t length = pair.BlockOffset(to - 1) + pair.entries()[to - 1].dataLength - start;
  if (!CopyFileRange(pair.dataFile(), start, dataFile_.get(), dataLength_, length)) {
    failed_ = true;
    return;
  }
  entries_.insert(entries_.end(), pair.entries().begin() + static_cast<std::ptrdiff_t>(from),
                  pair.entries().begin() + static_cast<std::ptrdiff_t>(to));
  dataLength_ += length;
  Observe(TickWriteStep::kBlockWritten);
}

bool TickPairWriter::ReplaceTickFiles(std::string_view stem, WhenEmpty whenEmpty) {
  if (!failed_ && !entries_.empty()) {
    const TickIndexHeader header{version_, entries_.front().date, entries_.back().date, count()};
    failed_ = !WriteAllAt(indexFile_.get(), &header, sizeof header, 0) ||
              !WriteAllAt(indexFile_.get(), entries_.data(), entries_.size() * sizeof(TickIndexEntry),
                          sizeof header);
  }
  const bool indexClosed = indexFile_.Close();
  const bool closed = dataFile_.Close() && indexClosed;
  Observe(TickWriteStep::kTemporariesClosed);
  bool replaced = !failed_ && closed;
  if (replaced && !entries_.empty()) {
    replaced = ReplaceFileAtomically(layout_.TickDataTemp(), layout_.TickDataFile(stem));
    if (replaced) Observe(TickWriteStep::kDataRenamed);
    replaced = replaced && ReplaceFileAtomically(layout_.TickIndexTemp(), layout_.TickIndexFile(stem));
    if (replaced) {
      Observe(TickWriteStep::kIndexRenamed);
      return true;
    }
  } else if (replaced && whenEmpty == WhenEmpty::kRemoveOldPair) {
    std::remove(layout_.TickIndexFile(stem).c_str());
    std::remove(layout_.TickDataFile(stem).c_str());
  }
  std::remove(layout_.TickIndexTemp().c_str());
  std::remove(layout_.TickDataTemp().c_str());
  return replaced;
}

}  // namespace marbloom
