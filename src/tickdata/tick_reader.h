#pragma once
// Reading the tick store back: one security's days through its judged pair,
// and the directory of a daily tick archive.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_system.h"
#include "common/data_layout.h"
#include "tickdata/tick_codec.h"
#include "tickdata/tick_pair.h"

namespace marbloom {

struct TickDay {
  int32_t date = 0;
  double refPrice = 0;
  std::vector<TickRecord> ticks;
};

// The ticks of one day as TickSecurityReader hands them out: they live in the
// reader and stay valid until its next ReadDay or Open.
struct TickDayView {
  int32_t date = 0;
  double refPrice = 0;
  const TickRecord* ticks = nullptr;
  std::size_t count = 0;
};

// Reads one security's days one after another: the pair is judged once, the
// data file stays open, and the buffers and the inflate state are reused from
// day to day and from security to security.
class TickSecurityReader {
 public:
  explicit TickSecurityReader(DataLayout layout);
  ~TickSecurityReader();
  TickSecurityReader(const TickSecurityReader&) = delete;
  TickSecurityReader& operator=(const TickSecurityReader&) = delete;

  // Opens and judges the security's pair; its days can be read when it is
  // Readable. A market or code that names no file of the store gives
  // kNotOpened.
  TickPairState Open(int market, std::string_view code);
  // The open pair's blocks lie where its index says (TickPairReadable).
  bool Readable() const;
  // The entries of the open pair in file order (none unless it is readable).
  const std::vector<TickIndexEntry>& Entries() const;

  // The day of `date` (the first entry of that date), or false when it
  // cannot be read: not in the index, its block outside the data file, a
  // short read, a malformed block, no ticks.
  bool ReadDay(int date, TickDayView* day);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A listed day whose block cannot be read, inflated or decoded: "%s" is the
// security's stem, "%d" the day.
inline constexpr const char* kUnreadableTickDay = "%s的%d分笔数据无法解码!";

// The stored block of `entry` (entry.dataLength bytes at `stored`) unpacked
// and decoded into `ticks`, *count of them; false when it does not decode.
bool DecodeStoredBlock(const uint8_t* stored, const TickIndexEntry& entry, bool runningExtra,
                       TickBlockUnpacker& unpacker, GrowBuffer<TickRecord>& ticks, std::size_t* count);

// Every block `pair` lists (its entries loaded) unpacks and decodes.
bool ListedBlocksDecode(const TickPair& pair);

// The blocks of `pair` lie where its index says, so that a reader may take
// its days: the index is whole and its blocks fill the data file exactly
// (faults of the index's own dates aside), or they are followed by an
// uncommitted append and every one of them decodes. A data file that does
// not match its index otherwise (a rewrite cut short between its renames:
// the new data file beside the old index) is read by nothing but the check
// and the repair.
bool TickPairReadable(const TickPair& pair);

// One day of one security as a TickSecurityReader reads it, or nothing.
std::optional<TickDay> ReadTickDay(const DataLayout& layout, int market, std::string_view code, int date);

// One security's block in a daily tick archive.
struct TickArchiveItem {
  int16_t market = 0;
  char code[7] = {};  // six characters and a terminator
  int32_t date = 0;
  int64_t blockOffset = 0;  // absolute offset of the stored block
  int32_t dataLength = 0;
  double refPrice = 0;
  int32_t unpackedLength = 0;
  uint8_t priceDecimals = 0;
  uint8_t spare = 0;
};

// A loaded archive: the open file and its directory in file order. The last
// block may run past the end of the file; reading it then fails.
struct TickArchive {
  File file;
  int64_t fileLength = 0;
  int32_t date = 0;
  int32_t securityCount = 0;
  std::vector<TickArchiveItem> directory;
};

struct TickArchiveLoad {
  std::optional<TickArchive> archive;
  std::string failure;  // why a file that is there did not load; empty when it loaded or is missing
};

// The archive of `date` with its directory. A missing file gives neither an
// archive nor a failure; a file that cannot be opened, a bad header, or any
// bad entry (short, another date, lengths <= 0) rejects the whole day.
TickArchiveLoad LoadTickArchive(const DataLayout& layout, int date);

// Reads `item`'s stored block into `block`; false, with nothing allocated,
// when the block lies outside the file, and false when it does not read.
bool ReadArchiveBlock(const TickArchive& archive, const TickArchiveItem& item, GrowBuffer<uint8_t>* block);

}  // namespace marbloom
