#pragma once
// The packed tick block: unpacking a stored block (zlib stream, or the bytes
// themselves when they do not inflate) and decoding its ticks.
//
// A malformed block fails the whole day: a number without its end byte, a
// block shorter than its tickCount needs, or a tickCount the block cannot
// hold gives no ticks at all. A truncated day would look like a complete one
// to the minute-line builder (wrong closes and volumes); a missing day is
// skipped there and shows up as a gap.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tickdata/tick_reader.h"

namespace marbloom {

// Unpacked blocks are never allowed to grow beyond this, whatever the index says.
inline constexpr int64_t kMaxUnpackedTickBlock = int64_t{256} << 20;

// End-marked base-128 numbers: 7-bit groups, most significant first; the last
// byte has its top bit set; bit 6 of the first group is the sign. A 32-bit
// number takes at most 10 bytes, a 64-bit one at most 20. On success `p`
// moves past the number; false when no end byte comes in time.
bool DecodeEndMarked32(const uint8_t*& p, const uint8_t* end, uint32_t* value);
bool DecodeEndMarked64(const uint8_t*& p, const uint8_t* end, uint64_t* value);

// Inflates `stored` into at most 2 x unpackedLength bytes; when it does not
// inflate (bad stream, or larger than that), the stored bytes themselves, cut
// to the same limit. False only for unpackedLength <= 0 or nothing stored.
bool UnpackTickBlock(const uint8_t* stored, std::size_t storedLength, int32_t unpackedLength,
                     std::vector<uint8_t>* unpacked);

// Prices in 10^-decimals units to 0.0001 units (wrapping to 32 bits).
int32_t RescaleTickPrice(int32_t price, int priceDecimals);

// Types 12, 14, 60 and 62 carry the running value in `extra`, the rest the plain value.
bool UsesRunningExtra(int securityType);

// Decodes an unpacked block into ticks with prices rescaled. False (and no
// ticks) for a block that is too short or malformed anywhere.
bool DecodeTickBlock(const uint8_t* block, std::size_t size, int priceDecimals, bool runningExtra,
                     std::vector<TickRecord>* ticks);

}  // namespace marbloom
