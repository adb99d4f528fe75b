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

// Locates every block; false when a length is not positive or a block runs past the end.
bool LocateBlocks(TickPairIndex* pair) {
  pair->offsets.resize(pair->entries.size());
  int64_t offset = 0;
  for (std::size_t k = 0; k < pair->entries.size(); ++k) {
    const int32_t length = pair->entries[k].dataLength;
    if (length <= 0 || length > pair->dataFileLength - offset) return false;
    pair->offsets[k] = offset;
    offset += length;
  }
  return true;
}

}  // namespace

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

TickPairState LoadTickPair(std::string_view stem, TickPairIndex* pair) {
  UniqueFd index = OpenForReading(TickIndexPath(stem));
  pair->dataFile = OpenForReading(TickDataPath(stem));
  if (!index.valid() || !pair->dataFile.valid()) return TickPairState::kAbsent;
  const int64_t indexLength = FileLength(index.get());
  pair->dataFileLength = FileLength(pair->dataFile.get());
  if (indexLength < kHeaderSize || pair->dataFileLength < 1 || (indexLength - kHeaderSize) % kEntrySize != 0)
    return TickPairState::kAbsent;
  const int64_t count = (indexLength - kHeaderSize) / kEntrySize;
  try {
    pair->entries.resize(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    return TickPairState::kReadFailed;
  }
  if (!ReadAllAt(index.get(), &pair->header, sizeof pair->header, 0) ||
      !ReadAllAt(index.get(), pair->entries.data(), static_cast<std::size_t>(count * kEntrySize), kHeaderSize))
    return TickPairState::kReadFailed;
  if (pair->header.count != count) return TickPairState::kAbsent;
  return LocateBlocks(pair) ? TickPairState::kUsable : TickPairState::kInconsistent;
}

bool TickPairWriter::Open() {
  indexFile_ = OpenForWriting(TickIndexTempPath());
  dataFile_ = OpenForWriting(TickDataTempPath());
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
}

void TickPairWriter::CopyOldDays(const TickPairIndex& pair, std::size_t from, std::size_t to) {
  if (failed_ || from >= to) return;
  const int64_t start = pair.offsets[from];
  const int64_t length = pair.offsets[to - 1] + pair.entries[to - 1].dataLength - start;
  if (!CopyFileRange(pair.dataFile.get(), start, dataFile_.get(), dataLength_, length)) {
    failed_ = true;
    return;
  }
  entries_.insert(entries_.end(), pair.entries.begin() + static_cast<std::ptrdiff_t>(from),
                  pair.entries.begin() + static_cast<std::ptrdiff_t>(to));
  dataLength_ += length;
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
  if (failed_ || !closed || entries_.empty()) {
    if (!failed_ && closed && whenEmpty == WhenEmpty::kRemoveOldPair) {
      std::remove(TickIndexPath(stem).c_str());
      std::remove(TickDataPath(stem).c_str());
    }
    std::remove(TickIndexTempPath().c_str());
    std::remove(TickDataTempPath().c_str());
    return !failed_ && closed;
  }
  return ReplaceFileAtomically(TickDataTempPath(), TickDataPath(stem)) &&
         ReplaceFileAtomically(TickIndexTempPath(), TickIndexPath(stem));
}

}  // namespace marbloom
