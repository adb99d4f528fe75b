#include "tickdata/tick_codec.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>

#include "common/little_endian.h"
#include "common/scaled_value.h"
#include "tickdata/tick_formats.h"

namespace marbloom {
namespace {

template <typename U, std::ptrdiff_t kMaxBytes>
inline bool DecodeEndMarked(const uint8_t*& p, const uint8_t* end, U* value) {
  if (p >= end) return false;
  const uint8_t first = *p;
  U acc = (first & 0x40) ? static_cast<U>(~U{0}) : U{0};
  // Most numbers of a block are one byte: no loop for them.
  if (first & 0x80) {
    ++p;
    *value = static_cast<U>((acc << 7) | (first & 0x7Fu));
    return true;
  }
  const uint8_t* limit = end - p > kMaxBytes ? p + kMaxBytes : end;
  for (const uint8_t* q = p; q < limit; ++q) {
    acc = static_cast<U>((acc << 7) | (*q & 0x7Fu));
    if (*q & 0x80) {
      p = q + 1;
      *value = acc;
      return true;
    }
  }
  return false;
}

inline int32_t FloorDiv3(int32_t v) {
  int32_t q = v / 3;
  return (v % 3 < 0) ? q - 1 : q;
}

// The decoding state: the current tick as the block describes it.
struct TickState {
  uint32_t seconds;
  uint64_t price;
  uint64_t volume;
  uint64_t running;
  uint32_t plain;
  uint8_t kind;
};

inline TickRecord Emit(const TickState& s, int priceDecimals, bool runningExtra) {
  int32_t seconds = static_cast<int32_t>(s.seconds);
  TickRecord r;
  r.minute = static_cast<int16_t>(seconds / 60);
  r.price = RescaleTickPrice(Low32Signed(static_cast<int64_t>(s.price)), priceDecimals);
  r.volume = Low32Signed(static_cast<int64_t>(s.volume));
  r.extra = runningExtra ? Low32Signed(static_cast<int64_t>(s.running)) : static_cast<int32_t>(s.plain);
  r.kind = s.kind;
  r.second = static_cast<uint8_t>(seconds % 60);
  return r;
}

}  // namespace

bool DecodeEndMarked32(const uint8_t*& p, const uint8_t* end, uint32_t* value) {
  return DecodeEndMarked<uint32_t, 10>(p, end, value);
}

bool DecodeEndMarked64(const uint8_t*& p, const uint8_t* end, uint64_t* value) {
  return DecodeEndMarked<uint64_t, 20>(p, end, value);
}

int32_t RescaleTickPrice(int32_t price, int priceDecimals) {
  static constexpr uint32_t kFactor[] = {10000, 1000, 100, 10};
  if (priceDecimals < 0 || priceDecimals > 3) return price;
  return static_cast<int32_t>(static_cast<uint32_t>(price) * kFactor[priceDecimals]);
}

namespace {

// The tick count of a block, or 0 when the block cannot hold it: the header,
// then at least five bytes for every further tick.
int32_t CheckedTickCount(const uint8_t* block, std::size_t size) {
  if (size < sizeof(TickBlockHeader)) return 0;
  const int32_t tickCount = LoadLE<int32_t>(block + offsetof(TickBlockHeader, tickCount));
  if (tickCount <= 0 || static_cast<std::size_t>(tickCount - 1) > (size - sizeof(TickBlockHeader)) / 5) return 0;
  return tickCount;
}

// Decodes `tickCount` ticks (checked) into `out`; false when a number is malformed.
bool DecodeTicks(const uint8_t* block, std::size_t size, int32_t tickCount, int priceDecimals, bool runningExtra,
                 TickRecord* out) {
  TickState s;
  s.seconds = LoadLE<uint32_t>(block + offsetof(TickBlockHeader, seconds));
  s.price = LoadLE<uint64_t>(block + offsetof(TickBlockHeader, price));
  s.volume = LoadLE<uint64_t>(block + offsetof(TickBlockHeader, volume));
  s.running = LoadLE<uint64_t>(block + offsetof(TickBlockHeader, runningValue));
  s.plain = LoadLE<uint32_t>(block + offsetof(TickBlockHeader, plainValue));
  s.kind = block[offsetof(TickBlockHeader, kind)];
  out[0] = Emit(s, priceDecimals, runningExtra);
  const uint8_t* p = block + sizeof(TickBlockHeader);
  const uint8_t* end = block + size;
  for (int32_t i = 1; i < tickCount; ++i) {
    uint32_t timeAndKind, plain;
    uint64_t priceDelta, volume, runningDelta;
    if (!DecodeEndMarked<uint32_t, 10>(p, end, &timeAndKind) || !DecodeEndMarked<uint64_t, 20>(p, end, &priceDelta) ||
        !DecodeEndMarked<uint64_t, 20>(p, end, &volume) || !DecodeEndMarked<uint64_t, 20>(p, end, &runningDelta) ||
        !DecodeEndMarked<uint32_t, 10>(p, end, &plain))
      return false;
    const int32_t v = static_cast<int32_t>(timeAndKind);
    const int32_t elapsed = FloorDiv3(v);
    s.kind = static_cast<uint8_t>(int64_t{v} - int64_t{3} * elapsed);
    s.seconds += static_cast<uint32_t>(elapsed);
    s.price += priceDelta;
    s.volume = volume;
    s.running += runningDelta;
    s.plain = plain;
    out[i] = Emit(s, priceDecimals, runningExtra);
  }
  return true;
}

}  // namespace

bool DecodeTickBlock(const uint8_t* block, std::size_t size, int priceDecimals, bool runningExtra,
                     GrowBuffer<TickRecord>* ticks, std::size_t* count) {
  *count = 0;
  const int32_t tickCount = CheckedTickCount(block, size);
  if (tickCount == 0) return false;
  TickRecord* out = ticks->Reserve(static_cast<std::size_t>(tickCount));
  if (!DecodeTicks(block, size, tickCount, priceDecimals, runningExtra, out)) return false;
  *count = static_cast<std::size_t>(tickCount);
  return true;
}

// One decompressor for the unpacker's whole life.
struct TickBlockUnpacker::Stream {
  libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
};

TickBlockUnpacker::TickBlockUnpacker() : stream_(std::make_unique<Stream>()) {}

TickBlockUnpacker::~TickBlockUnpacker() {
  if (stream_->inflater) libdeflate_free_decompressor(stream_->inflater);
}

// Inflates the whole zlib stream at once into the reused buffer; false when
// the stream is bad, truncated, or needs more than `cap` bytes. Bytes after
// the stream's end are ignored.
bool TickBlockUnpacker::Inflate(const uint8_t* stored, std::size_t storedLength, std::size_t cap,
                                std::size_t* produced) {
  if (!stream_->inflater) return false;
  // No stream inflates to more than about 1032 times its length: room beyond
  // that is never asked for, however large the index says the block is.
  const std::size_t room = std::min(cap, storedLength * 1040 + 64);
  out_.Reserve(room);
  std::size_t consumed = 0;
  return libdeflate_zlib_decompress_ex(stream_->inflater, stored, storedLength, out_.data(), room, &consumed,
                                       produced) == LIBDEFLATE_SUCCESS;
}

bool TickBlockUnpacker::Unpack(const uint8_t* stored, std::size_t storedLength, int32_t unpackedLength,
                               const uint8_t** unpacked, std::size_t* size) {
  *unpacked = nullptr;
  *size = 0;
  if (unpackedLength <= 0 || storedLength == 0) return false;
  const std::size_t cap =
      static_cast<std::size_t>(std::min<int64_t>(int64_t{2} * unpackedLength, kMaxUnpackedTickBlock));
  if (Inflate(stored, storedLength, cap, size)) {
    *unpacked = out_.data();
    return true;
  }
  *unpacked = stored;
  *size = std::min(storedLength, cap);
  return true;
}

}  // namespace marbloom
