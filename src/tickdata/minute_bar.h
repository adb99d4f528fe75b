#pragma once
// Minute-line files: one per security and bar length, a plain run of day
// blocks in increasing date order, no header.
//
//   1-minute file (DataLayout::OneMinuteFile)    240 bars a day (7680-byte blocks)
//   5-minute file (DataLayout::FiveMinuteFile)    48 bars a day (1536-byte blocks)
//
// Every bar of a block carries the same date; a block's date is its first
// bar's. New days later than the newest are appended; a file's days end with
// its last whole day, and bytes past it are an append cut short, which
// readers leave out (FindHeldDays, tickdata/minute_files.h). A file without a
// whole day is usable for merging when its length is a non-zero multiple of
// the block size, and for bar-by-bar maintenance when it is a non-zero
// multiple of 32.
#include <bit>
#include <cstddef>
#include <cstdint>

namespace marbloom {

static_assert(std::endian::native == std::endian::little, "minute bars are read in place");

// One bar, 32 bytes, little-endian.
struct MinuteBar {
  uint16_t packedDate;  //  0: bits 15-11 year - 2004 (mod 32), bits 10-0 month * 100 + day
  uint16_t time;        //  2: minute of the day at which the bar ends (571 = 09:31)
  int32_t open;         //  4: price in 1/PriceScale units
  int32_t high;         //  8
  int32_t low;          // 12
  int32_t close;        // 16
  float amount;         // 20: traded amount in currency units
  int32_t volume;       // 24: tick volume x VolumeUnit, wrapping to 32 bits
  int32_t reserved;     // 28: always 0
};
static_assert(sizeof(MinuteBar) == 32);
static_assert(offsetof(MinuteBar, time) == 2);
static_assert(offsetof(MinuteBar, open) == 4);
static_assert(offsetof(MinuteBar, close) == 16);
static_assert(offsetof(MinuteBar, amount) == 20);
static_assert(offsetof(MinuteBar, volume) == 24);
static_assert(offsetof(MinuteBar, reserved) == 28);

inline constexpr int kOneMinuteBarsPerDay = 240;
inline constexpr int kFiveMinuteBarsPerDay = 48;
inline constexpr std::size_t kOneMinuteBlockBytes = kOneMinuteBarsPerDay * sizeof(MinuteBar);
inline constexpr std::size_t kFiveMinuteBlockBytes = kFiveMinuteBarsPerDay * sizeof(MinuteBar);
static_assert(kOneMinuteBlockBytes == 7680);
static_assert(kFiveMinuteBlockBytes == 1536);

// YYYYMMDD into the 16-bit date field; the year wraps every 32 years from 2004.
constexpr uint16_t PackMinuteDate(int date) {
  int year = date / 10000;
  int monthDay = date % 10000;
  unsigned yearBits = static_cast<unsigned>(year - 2004) & 31u;
  return static_cast<uint16_t>((yearBits << 11) | (static_cast<unsigned>(monthDay) & 0x7FFu));
}

constexpr int UnpackMinuteDate(uint16_t packed) {
  return ((packed >> 11) + 2004) * 10000 + (packed & 0x7FF);
}

static_assert(PackMinuteDate(20240315) == 41275);
static_assert(UnpackMinuteDate(41275) == 20240315);

}  // namespace marbloom
