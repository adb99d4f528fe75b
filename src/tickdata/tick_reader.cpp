#include "tickdata/tick_reader.h"

#include <algorithm>
#include <cstring>

#include "app/file_helpers.h"
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
