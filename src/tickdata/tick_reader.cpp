#include "tickdata/tick_reader.h"

#include <algorithm>
#include <cstring>

#include "base/file_helpers.h"
#include "common/code_pattern.h"
#include "common/little_endian.h"
#include "common/market.h"
#include "common/security_class.h"
#include "tickdata/tick_codec.h"
#include "tickdata/tick_formats.h"

namespace marbloom {
namespace {

constexpr int32_t kEarliestIndexDate = 19900101;
constexpr int32_t kLatestIndexDate = 20800101;

bool PlausibleHeader(const TickIndexHeader& h) {
  return h.firstDate >= kEarliestIndexDate && h.lastDate >= h.firstDate && h.lastDate <= kLatestIndexDate &&
         h.count > 0;
}

// The entry of `date` and its block's offset in the data file.
struct FoundBlock {
  TickIndexEntry entry;
  int64_t offset;
};

std::optional<FoundBlock> FindBlock(int indexFd, int date) {
  TickIndexHeader header;
  if (!ReadAllAt(indexFd, &header, sizeof header, 0) || !PlausibleHeader(header)) return std::nullopt;
  const int64_t indexLength = FileLength(indexFd);
  const int64_t entryBytes = int64_t{header.count} * int64_t{sizeof(TickIndexEntry)};
  if (indexLength < 0 || entryBytes > indexLength - int64_t{sizeof header}) return std::nullopt;
  std::vector<TickIndexEntry> entries(static_cast<std::size_t>(header.count));
  if (!ReadAllAt(indexFd, entries.data(), static_cast<std::size_t>(entryBytes), sizeof header))
    return std::nullopt;
  int64_t offset = 0;
  for (const TickIndexEntry& e : entries) {
    if (e.date == date) return FoundBlock{e, offset};
    offset += e.dataLength;
  }
  return std::nullopt;
}

}  // namespace

std::optional<TickDay> TickReader::ReadTickDay(int market, std::string_view code, int date) const {
  if (!IsValidMarket(market) || !IsSixDigitCode(code)) return std::nullopt;
  const std::string stem = TickStem(market, code);
  UniqueFd index = OpenForReading(TickIndexPath(stem));
  UniqueFd data = OpenForReading(TickDataPath(stem));
  if (!index.valid() || !data.valid()) return std::nullopt;
  std::optional<FoundBlock> found = FindBlock(index.get(), date);
  if (!found || found->entry.unpackedLength <= 0 || found->entry.dataLength <= 0) return std::nullopt;
  // The block must lie inside the data file before anything is allocated for it.
  const int64_t dataLength = FileLength(data.get());
  if (found->offset < 0 || found->offset > dataLength - found->entry.dataLength) return std::nullopt;
  std::vector<uint8_t> stored(static_cast<std::size_t>(found->entry.dataLength) + 1, 0);
  if (!ReadAllAt(data.get(), stored.data(), stored.size() - 1, found->offset)) return std::nullopt;
  std::vector<uint8_t> unpacked;
  if (!UnpackTickBlock(stored.data(), stored.size() - 1, found->entry.unpackedLength, &unpacked))
    return std::nullopt;
  TickDay day;
  day.date = found->entry.date;
  day.refPrice = found->entry.refPrice;
  const bool runningExtra = UsesRunningExtra(ClassifySecurity(market, code));
  if (!DecodeTickBlock(unpacked.data(), unpacked.size(), found->entry.priceDecimals, runningExtra, &day.ticks))
    return std::nullopt;
  return day;
}

// What a security reader holds between days.
struct TickSecurityReader::State {
  UniqueFd data;
  int64_t dataLength = -1;
  bool runningExtra = false;
  std::vector<TickIndexEntry> entries;  // empty when the index is not usable
  std::vector<int64_t> offsets;         // of each entry's block in the data file
  std::vector<uint32_t> byDate;         // entry numbers sorted by date, file order within a date
  GrowBuffer<uint8_t> stored;
  TickBlockUnpacker unpacker;
  GrowBuffer<TickRecord> ticks;
};

TickSecurityReader::TickSecurityReader() : state_(std::make_unique<State>()) {}
TickSecurityReader::~TickSecurityReader() = default;

namespace {

// The whole index file, or nothing when it cannot be opened or read.
std::optional<std::vector<uint8_t>> ReadWholeIndex(const std::string& path) {
  UniqueFd file = OpenForReading(path);
  if (!file.valid()) return std::nullopt;
  const int64_t length = FileLength(file.get());
  if (length < 0) return std::nullopt;
  std::vector<uint8_t> bytes(static_cast<std::size_t>(length));
  if (!ReadAllAt(file.get(), bytes.data(), bytes.size(), 0)) return std::nullopt;
  return bytes;
}

// The entry dates when the index is whole and its count agrees with them.
std::optional<std::vector<int32_t>> WholeIndexDates(const std::vector<uint8_t>& bytes) {
  constexpr std::size_t kHeader = sizeof(TickIndexHeader), kEntry = sizeof(TickIndexEntry);
  if (bytes.size() < kHeader || (bytes.size() - kHeader) % kEntry != 0) return std::nullopt;
  const std::size_t count = (bytes.size() - kHeader) / kEntry;
  if (LoadLE<int32_t>(bytes.data() + offsetof(TickIndexHeader, count)) != static_cast<int64_t>(count))
    return std::nullopt;
  std::vector<int32_t> dates(count);
  for (std::size_t i = 0; i < count; ++i) dates[i] = LoadLE<int32_t>(bytes.data() + kHeader + i * kEntry);
  return dates;
}

// The entries ReadTickDay would search: a plausible header and all its entries present.
std::vector<TickIndexEntry> SearchableEntries(const std::vector<uint8_t>& bytes) {
  TickIndexHeader header;
  if (bytes.size() < sizeof header) return {};
  std::memcpy(&header, bytes.data(), sizeof header);
  const int64_t entryBytes = int64_t{header.count} * int64_t{sizeof(TickIndexEntry)};
  if (!PlausibleHeader(header) || entryBytes > static_cast<int64_t>(bytes.size() - sizeof header)) return {};
  std::vector<TickIndexEntry> entries(static_cast<std::size_t>(header.count));
  std::memcpy(entries.data(), bytes.data() + sizeof header, static_cast<std::size_t>(entryBytes));
  return entries;
}

}  // namespace

bool TickSecurityReader::Open(int market, std::string_view code) {
  // The buffers and the inflate state carry over from the last security.
  State& st = *state_;
  st.data = UniqueFd();
  st.dataLength = -1;
  st.entries.clear();
  st.offsets.clear();
  st.byDate.clear();
  dates_.reset();
  if (!IsValidMarket(market) || !IsSixDigitCode(code)) return false;
  const std::string stem = TickStem(market, code);
  std::optional<std::vector<uint8_t>> index = ReadWholeIndex(TickIndexPath(stem));
  if (!index) return false;
  dates_ = WholeIndexDates(*index);
  st.entries = SearchableEntries(*index);
  st.data = OpenForReading(TickDataPath(stem));
  if (st.data.valid()) st.dataLength = FileLength(st.data.get());
  st.runningExtra = UsesRunningExtra(ClassifySecurity(market, code));
  int64_t offset = 0;
  st.offsets.reserve(st.entries.size());
  st.byDate.resize(st.entries.size());
  for (std::size_t i = 0; i < st.entries.size(); ++i) {
    st.offsets.push_back(offset);
    offset += st.entries[i].dataLength;
    st.byDate[i] = static_cast<uint32_t>(i);
  }
  std::stable_sort(st.byDate.begin(), st.byDate.end(),
                   [&](uint32_t a, uint32_t b) { return st.entries[a].date < st.entries[b].date; });
  return true;
}

bool TickSecurityReader::ReadDay(int date, TickDayView* day) {
  *day = TickDayView{};
  State& st = *state_;
  if (!st.data.valid() || st.dataLength < 0) return false;
  auto it = std::lower_bound(st.byDate.begin(), st.byDate.end(), date,
                             [&](uint32_t k, int d) { return st.entries[k].date < d; });
  if (it == st.byDate.end() || st.entries[*it].date != date) return false;
  const TickIndexEntry entry = st.entries[*it];
  const int64_t offset = st.offsets[*it];
  if (entry.unpackedLength <= 0 || entry.dataLength <= 0) return false;
  // The block must lie inside the data file before anything is allocated for it.
  if (offset < 0 || offset > st.dataLength - entry.dataLength) return false;
  const std::size_t storedLength = static_cast<std::size_t>(entry.dataLength);
  uint8_t* stored = st.stored.Reserve(storedLength);
  if (!ReadAllAt(st.data.get(), stored, storedLength, offset)) return false;
  const uint8_t* unpacked = nullptr;
  std::size_t unpackedSize = 0;
  if (!st.unpacker.Unpack(stored, storedLength, entry.unpackedLength, &unpacked, &unpackedSize)) return false;
  std::size_t count = 0;
  if (!DecodeTickBlock(unpacked, unpackedSize, entry.priceDecimals, st.runningExtra, &st.ticks, &count))
    return false;
  day->date = entry.date;
  day->refPrice = entry.refPrice;
  day->ticks = st.ticks.data();
  day->count = count;
  return true;
}

std::optional<TickArchive> TickReader::LoadTickArchive(int date) const {
  TickArchive archive;
  archive.file = OpenForReading(TickArchivePath(date));
  if (!archive.file.valid()) return std::nullopt;
  const int fd = archive.file.get();
  const int64_t fileLength = FileLength(fd);
  uint8_t header[kTickArchiveHeaderSize];
  if (fileLength < 0 || !ReadAllAt(fd, header, sizeof header, 0)) return std::nullopt;
  archive.date = date;
  archive.securityCount = LoadLE<int32_t>(header + 12);
  // Every security takes at least its entry and one block byte.
  const int64_t room = (fileLength - int64_t{kTickArchiveHeaderSize}) / int64_t{sizeof(TickArchiveEntry) + 1};
  if (archive.securityCount <= 0 || archive.securityCount > room) return std::nullopt;
  archive.directory.resize(static_cast<std::size_t>(archive.securityCount));
  int64_t offset = kTickArchiveHeaderSize;
  for (TickArchiveItem& item : archive.directory) {
    TickArchiveEntry e;
    if (!ReadAllAt(fd, &e, sizeof e, offset)) return std::nullopt;
    offset += int64_t{sizeof e};
    if (e.date != date || e.dataLength <= 0 || e.unpackedLength <= 0) return std::nullopt;
    if (e.dataLength > fileLength - offset) return std::nullopt;
    item.market = e.market;
    std::memcpy(item.code, e.code, sizeof e.code);
    item.code[6] = '\0';
    item.date = e.date;
    item.blockOffset = offset;
    item.dataLength = e.dataLength;
    item.refPrice = e.refPrice;
    item.unpackedLength = e.unpackedLength;
    item.priceDecimals = e.priceDecimals;
    item.spare = e.spare;
    offset += e.dataLength;
  }
  return archive;
}

}  // namespace marbloom
