#include "tickdata/tick_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
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

// The buffers a block is read, unpacked and decoded into, reused block after block.
struct BlockBuffers {
  GrowBuffer<uint8_t> stored;
  TickBlockUnpacker unpacker;
  GrowBuffer<TickRecord> ticks;
};

// Block k of `pair` decoded into b.ticks (*count of them); false when the
// block does not lie inside the data file, cannot be read or does not decode.
bool DecodeListedBlock(const TickPair& pair, std::size_t k, bool runningExtra, BlockBuffers& b, std::size_t* count) {
  const TickIndexEntry& entry = pair.entries()[k];
  const int64_t offset = pair.BlockOffset(k);
  if (entry.unpackedLength <= 0 || entry.dataLength <= 0) return false;
  // The block must lie inside the data file before anything is allocated for it.
  if (offset < 0 || offset > pair.dataLength() - entry.dataLength ||
      static_cast<uint64_t>(entry.dataLength) > kMaxWholeFileBytes)
    return false;
  const std::size_t storedLength = static_cast<std::size_t>(entry.dataLength);
  uint8_t* stored = b.stored.Reserve(storedLength);
  return pair.dataFile().ReadAll(stored, storedLength, offset) &&
         DecodeStoredBlock(stored, entry, runningExtra, b.unpacker, b.ticks, count);
}

}  // namespace

bool DecodeStoredBlock(const uint8_t* stored, const TickIndexEntry& entry, bool runningExtra,
                       TickBlockUnpacker& unpacker, GrowBuffer<TickRecord>& ticks, std::size_t* count) {
  const uint8_t* unpacked = nullptr;
  std::size_t unpackedSize = 0;
  return unpacker.Unpack(stored, static_cast<std::size_t>(entry.dataLength), entry.unpackedLength, &unpacked,
                         &unpackedSize) &&
         DecodeTickBlock(unpacked, unpackedSize, entry.priceDecimals, runningExtra, &ticks, count);
}

// What a security reader holds between days.
struct TickSecurityReader::State {
  explicit State(DataLayout l) : layout(std::move(l)) {}
  DataLayout layout;
  TickPair pair;
  bool runningExtra = false;
  bool readable = false;
  std::vector<uint32_t> byDate;  // entry numbers sorted by date, file order within a date
  BlockBuffers buffers;
};

TickSecurityReader::TickSecurityReader(DataLayout layout) : state_(std::make_unique<State>(std::move(layout))) {}
TickSecurityReader::~TickSecurityReader() = default;

bool TickSecurityReader::Readable() const { return state_->readable; }

const std::vector<TickIndexEntry>& TickSecurityReader::Entries() const {
  static const std::vector<TickIndexEntry> kNone;
  return state_->readable ? state_->pair.entries() : kNone;
}

TickPairState TickSecurityReader::Open(int market, std::string_view code) {
  State& st = *state_;
  st.byDate.clear();
  st.readable = false;
  if (!IsValidMarket(market) || !IsSixDigitCode(code)) {
    st.pair = TickPair();
    return st.pair.state();
  }
  const TickPairState state = st.pair.Load(st.layout, SecurityStem(market, code));
  st.runningExtra = TypeIn(ClassifySecurity(market, code), TypeSet::kRunningExtra);
  st.readable = TickPairReadable(st.pair);
  const std::vector<TickIndexEntry>& entries = Entries();
  st.byDate.resize(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) st.byDate[i] = static_cast<uint32_t>(i);
  std::stable_sort(st.byDate.begin(), st.byDate.end(),
                   [&](uint32_t a, uint32_t b) { return entries[a].date < entries[b].date; });
  return state;
}

bool TickSecurityReader::ReadDay(int date, TickDayView* day) {
  *day = TickDayView{};
  State& st = *state_;
  const std::vector<TickIndexEntry>& entries = st.pair.entries();
  auto it = std::lower_bound(st.byDate.begin(), st.byDate.end(), date,
                             [&](uint32_t k, int d) { return entries[k].date < d; });
  if (it == st.byDate.end() || entries[*it].date != date) return false;
  const TickIndexEntry& entry = entries[*it];
  std::size_t count = 0;
  if (!DecodeListedBlock(st.pair, *it, st.runningExtra, st.buffers, &count)) return false;
  day->date = entry.date;
  day->refPrice = entry.refPrice;
  day->ticks = st.buffers.ticks.data();
  day->count = count;
  return true;
}

bool ListedBlocksDecode(const TickPair& pair) {
  BlockBuffers buffers;
  std::size_t count = 0;
  for (std::size_t k = 0; k < pair.entries().size(); ++k)
    if (!DecodeListedBlock(pair, k, false, buffers, &count) || count == 0) return false;
  return true;
}

bool TickPairReadable(const TickPair& pair) {
  if (!pair.Whole()) return false;
  return pair.committedLength() == pair.dataLength() || (pair.UncommittedTail() && ListedBlocksDecode(pair));
}

std::optional<TickDay> ReadTickDay(const DataLayout& layout, int market, std::string_view code, int date) {
  TickSecurityReader reader(layout);
  TickDayView view;
  reader.Open(market, code);
  if (!reader.ReadDay(date, &view)) return std::nullopt;
  TickDay day;
  day.date = view.date;
  day.refPrice = view.refPrice;
  day.ticks.assign(view.ticks, view.ticks + view.count);
  return day;
}

namespace {

std::string EntryFailure(const char* what, std::size_t k) {
  char text[64];
  std::snprintf(text, sizeof text, "第%zu条记录%s", k + 1, what);
  return text;
}

}  // namespace

TickArchiveLoad LoadTickArchive(const DataLayout& layout, int date) {
  TickArchiveLoad load;
  TickArchive archive;
  archive.file = layout.Files().Open(layout.TickArchiveFile(date), OpenMode::kRead);
  if (!archive.file.valid()) {
    if (errno != ENOENT) load.failure = "文件无法打开";
    return load;
  }
  const File& file = archive.file;
  archive.fileLength = file.Length();
  uint8_t header[kTickArchiveHeaderSize];
  if (archive.fileLength < 0 || !file.ReadAll(header, sizeof header, 0)) {
    load.failure = "文件头不完整";
    return load;
  }
  archive.date = date;
  archive.securityCount = LoadLE<int32_t>(header + 12);
  // Every security but the last takes at least its entry and one block byte.
  const int64_t room =
      (archive.fileLength - int64_t{kTickArchiveHeaderSize} + 1) / int64_t{sizeof(TickArchiveEntry) + 1};
  if (archive.securityCount <= 0 || archive.securityCount > room) {
    load.failure = "证券数目异常";
    return load;
  }
  archive.directory.resize(static_cast<std::size_t>(archive.securityCount));
  int64_t offset = kTickArchiveHeaderSize;
  for (std::size_t k = 0; k < archive.directory.size(); ++k) {
    TickArchiveEntry e;
    if (!file.ReadAll(&e, sizeof e, offset)) {
      load.failure = EntryFailure("不完整", k);
      return load;
    }
    if (e.date != date) load.failure = EntryFailure("日期不符", k);
    if (e.dataLength <= 0 || e.unpackedLength <= 0) load.failure = EntryFailure("长度异常", k);
    if (!load.failure.empty()) return load;
    offset += int64_t{sizeof e};
    TickArchiveItem& item = archive.directory[k];
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
  load.archive = std::move(archive);
  return load;
}

bool ReadArchiveBlock(const TickArchive& archive, const TickArchiveItem& item, GrowBuffer<uint8_t>* block) {
  if (item.dataLength <= 0 || item.blockOffset > archive.fileLength - item.dataLength) return false;
  const std::size_t length = static_cast<std::size_t>(item.dataLength);
  return archive.file.ReadAll(block->Reserve(length), length, item.blockOffset);
}

}  // namespace marbloom
