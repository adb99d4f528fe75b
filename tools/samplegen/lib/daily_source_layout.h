#pragma once
// The two daily source files of one market and day, as the daily converter
// reads them. Both are plain arrays without a header; quote record k belongs
// to code-list record k. Integers are little-endian, prices unscaled doubles.
// Every byte not listed here carries data the converter does not use.
#include <cstddef>

namespace marbloom::sample::layout {

// Code list "<mm><yymmdd>.cod": 150-byte records.
inline constexpr std::size_t kCodeListRecord = 150;
inline constexpr std::size_t kCodeText = 0;        // zero-terminated code, ends before 34
inline constexpr std::size_t kCodeTextEnd = 34;
inline constexpr std::size_t kLotSize = 34;        // int16
inline constexpr std::size_t kPriceDecimals = 39;  // uint8
inline constexpr std::size_t kSecurityType = 85;   // int8

// Quote file "<mm><yymmdd>.md1": 512-byte records.
inline constexpr std::size_t kQuoteRecord = 512;
inline constexpr std::size_t kStatus = 0;          // int32
inline constexpr std::size_t kOpen = 12;           // double
inline constexpr std::size_t kHigh = 20;           // double
inline constexpr std::size_t kLow = 28;            // double
inline constexpr std::size_t kClose = 36;          // double
inline constexpr std::size_t kVolume = 56;         // int64
inline constexpr std::size_t kAmount = 72;         // double
inline constexpr std::size_t kAdvancing = 152;     // uint16
inline constexpr std::size_t kDeclining = 232;     // uint16
inline constexpr std::size_t kAuxiliary = 322;     // 8 bytes, tested for all zero
inline constexpr std::size_t kAuxiliarySize = 8;

static_assert(kLotSize >= kCodeTextEnd && kSecurityType + 1 <= kCodeListRecord);
static_assert(kAuxiliary + kAuxiliarySize <= kQuoteRecord);

}  // namespace marbloom::sample::layout
