#pragma once
// The packed tick block: unpacking a stored block (zlib stream, or the bytes
// themselves when they do not inflate) and decoding its ticks.
//
// A malformed block fails the whole day: a number without its end byte, a
// block shorter than its tickCount needs, or a tickCount the block cannot
// hold gives no ticks at all. A truncated day would look like a complete one
// to the minute-line builder (wrong closes and volumes); a missing day is
// skipped there and shows up as a gap.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace marbloom {

// One decoded tick.
struct TickRecord {
  int16_t minute;  // seconds / 60
  int32_t price;   // in 0.0001 currency units
  int32_t volume;  // low 32 bits
  int32_t extra;   // running extra value (types 12, 14, 60, 62) or the plain value
  uint8_t kind;    // 0, 1 or 2
  uint8_t second;  // seconds % 60
};

// Unpacked blocks are never allowed to grow beyond this, whatever the index says.
inline constexpr int64_t kMaxUnpackedTickBlock = int64_t{256} << 20;

// End-marked base-128 numbers: 7-bit groups, most significant first; the last
// byte has its top bit set; bit 6 of the first group is the sign. A 32-bit
// number takes at most 10 bytes, a 64-bit one at most 20. On success `p`
// moves past the number; false when no end byte comes in time.
bool DecodeEndMarked32(const uint8_t*& p, const uint8_t* end, uint32_t* value);
bool DecodeEndMarked64(const uint8_t*& p, const uint8_t* end, uint64_t* value);

// A byte or tick buffer that grows on demand and is reused from block to
// block; growing keeps the bytes already held, nothing is zero-filled, and
// it never holds more than the largest size asked for.
template <typename T>
class GrowBuffer {
 public:
  T* data() { return data_.get(); }
  std::size_t capacity() const { return capacity_; }
  // Makes room for `n` elements, keeping the first `keep`.
  T* Reserve(std::size_t n, std::size_t keep = 0) {
    if (n <= capacity_) return data_.get();
    auto fresh = std::make_unique_for_overwrite<T[]>(n);
    if (keep > 0) std::copy_n(data_.get(), std::min(keep, capacity_), fresh.get());
    data_ = std::move(fresh);
    capacity_ = n;
    return data_.get();
  }

 private:
  std::unique_ptr<T[]> data_;
  std::size_t capacity_ = 0;
};

// Unpacks stored blocks one after another with one decompressor, each block
// inflated whole, and one output buffer that only grows. A block inflates
// into at most 2 x unpackedLength bytes; when it does not inflate (bad
// stream, or larger than that) the result is the stored bytes themselves, cut
// to the same limit. Unpack is false only for unpackedLength <= 0 or nothing
// stored. The result stays valid until the next Unpack (or while `stored`
// lives, when the block did not inflate and the stored bytes are the result).
class TickBlockUnpacker {
 public:
  TickBlockUnpacker();
  ~TickBlockUnpacker();
  TickBlockUnpacker(const TickBlockUnpacker&) = delete;
  TickBlockUnpacker& operator=(const TickBlockUnpacker&) = delete;

  bool Unpack(const uint8_t* stored, std::size_t storedLength, int32_t unpackedLength, const uint8_t** unpacked,
              std::size_t* size);

 private:
  bool Inflate(const uint8_t* stored, std::size_t storedLength, std::size_t cap, std::size_t* size);

  struct Stream;
  std::unique_ptr<Stream> stream_;
  GrowBuffer<uint8_t> out_;
};

// Prices in 10^-decimals units to 0.0001 units (wrapping to 32 bits).
int32_t RescaleTickPrice(int32_t price, int priceDecimals);

// Decodes an unpacked block into a reused buffer, prices rescaled: `*count`
// ticks on success; false and no ticks for a block that is too short or
// malformed anywhere. `runningExtra`: the security's type is in
// TypeSet::kRunningExtra, whose blocks carry the running value in `extra`,
// the rest the plain value.
bool DecodeTickBlock(const uint8_t* block, std::size_t size, int priceDecimals, bool runningExtra,
                     GrowBuffer<TickRecord>* ticks, std::size_t* count);

}  // namespace marbloom
