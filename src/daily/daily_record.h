#pragma once
// The daily-line file of a security (DataLayout::DailyFile): a plain array of
// 32-byte records, one per trading day, dates strictly increasing. No header,
// no trailer; every integer is little-endian.
#include <bit>
#include <cstddef>
#include <cstdint>

namespace marbloom {

static_assert(std::endian::native == std::endian::little, "the layouts are read in place");

#pragma pack(push, 1)

// One trading day of one security, 32 bytes.
struct DailyRecord {
  uint32_t date;     //  0: YYYYMMDD; the sort key, compared unsigned
  int32_t open;      //  4: price x price scale
  int32_t high;      //  8
  int32_t low;       // 12
  int32_t close;     // 16
  float amount;      // 20: turnover in the unit of the downloaded source
  uint32_t volume;   // 24: see the volume forms below
  uint16_t word28;   // 28: index: advancing count; else volume remainder
  uint16_t word30;   // 30: index: declining count; else byte 30 = multiplier,
                     //     byte 31 = volume-form marker
};
static_assert(sizeof(DailyRecord) == 32);
static_assert(offsetof(DailyRecord, amount) == 20);
static_assert(offsetof(DailyRecord, volume) == 24);
static_assert(offsetof(DailyRecord, word28) == 28);
static_assert(offsetof(DailyRecord, word30) == 30);

#pragma pack(pop)

inline constexpr std::size_t kDailyRecordSize = sizeof(DailyRecord);

// Volume forms of a non-index record (bytes 28..31):
//   ordinary: remainder 0, multiplier 1, marker 0;
//   lot form: volume = lots, remainder = leftover shares, multiplier = low 8
//             bits of the lot size, marker 0xC3; full quantity = volume x lot
//             size + remainder.
inline constexpr uint8_t kOrdinaryMultiplier = 1;
inline constexpr uint8_t kLotFormMarker = 0xC3;

// The date rule of a daily file: no record is dated 0, and each date is above
// the one before it (`before`: the date ahead of the record, 0 for the first
// record of a file). The check, the store, the merge and the data view all
// judge dates by it.
enum class DailyDateFault { kNone, kZero, kNotRising };
constexpr DailyDateFault DailyDateFaultOf(uint32_t date, uint32_t before) {
  return date == 0 ? DailyDateFault::kZero : date <= before ? DailyDateFault::kNotRising : DailyDateFault::kNone;
}

inline uint16_t PackMultiplierMarker(uint8_t multiplier, uint8_t marker) {
  return static_cast<uint16_t>(multiplier | (marker << 8));
}

}  // namespace marbloom
