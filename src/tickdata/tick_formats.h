#pragma once
// Layouts of the tick store and the daily tick archive. All integers are
// little-endian; the structures are packed and read with memcpy.
//
//   index file (DataLayout::TickIndexFile)     TickIndexHeader, then one TickIndexEntry per day
//   data file (DataLayout::TickDataFile)       the stored blocks of those days, back to back
//   archive (DataLayout::TickArchiveFile)      12 reserved bytes, int32 securityCount, then per
//                                              security a TickArchiveEntry and its stored block
#include <bit>
#include <cstddef>
#include <cstdint>

namespace marbloom {

static_assert(std::endian::native == std::endian::little, "the layouts are read in place");

#pragma pack(push, 1)

// Tick index header, 16 bytes.
struct TickIndexHeader {
  int32_t version;    //  0: 2 from the conversion, 0 from the range delete
  int32_t firstDate;  //  4: date of the first entry
  int32_t lastDate;   //  8: date of the last entry
  int32_t count;      // 12: number of entries
};
static_assert(sizeof(TickIndexHeader) == 16);

// Tick index entry, 22 bytes, one per trading day.
struct TickIndexEntry {
  int32_t date;            //  0
  int32_t unpackedLength;  //  4: bytes after inflation (> 0)
  int32_t dataLength;      //  8: bytes stored in the data file (> 0)
  double refPrice;         // 12: reference price in currency units
  uint8_t priceDecimals;   // 20: decimals of the prices in the block
  uint8_t spare;           // 21: copied through
};
static_assert(sizeof(TickIndexEntry) == 22);
static_assert(offsetof(TickIndexEntry, refPrice) == 12);

// Daily tick archive entry, 30 bytes, followed by dataLength bytes of block.
struct TickArchiveEntry {
  int8_t market;           //  0: 0 sz, 1 sh, 2 bj
  char code[6];            //  1: six ASCII digits, not terminated
  uint8_t reserved;        //  7
  int32_t date;            //  8: must equal the archive's date
  int32_t unpackedLength;  // 12
  int32_t dataLength;      // 16
  double refPrice;         // 20
  uint8_t priceDecimals;   // 28
  uint8_t spare;           // 29
};
static_assert(sizeof(TickArchiveEntry) == 30);
static_assert(offsetof(TickArchiveEntry, refPrice) == 20);

inline constexpr std::size_t kTickArchiveHeaderSize = 16;  // 12 reserved + int32 count

// Unpacked tick block header, 42 bytes: the first tick. Each further tick is
// five end-marked base-128 numbers: timeAndKind (32-bit), price delta (64),
// volume (64), extra running-value delta (64), plain value (32).
struct TickBlockHeader {
  int32_t reserved;      //  0
  int32_t tickCount;     //  4: ticks including the first (> 0)
  int32_t seconds;       //  8: seconds since midnight of the first tick
  int64_t price;         // 12: in 10^-priceDecimals units
  int64_t volume;        // 20
  int64_t runningValue;  // 28: first value of the delta-coded extra series
  int32_t plainValue;    // 36: first value of the directly coded series
  int16_t kind;          // 40: 0, 1 or 2 (low byte used)
};
static_assert(sizeof(TickBlockHeader) == 42);

#pragma pack(pop)

}  // namespace marbloom
