// The tick block path on arbitrary bytes: a four-byte unpacked length, a
// price-decimals byte, then the stored block (zlib stream or raw), through
// the one unpacker (whole-block inflation) and decoder the readers use, with
// their buffers reused.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tickdata/tick_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace marbloom;
  static TickBlockUnpacker unpacker;
  static GrowBuffer<TickRecord> ticks;
  if (size < 5) return 0;
  int32_t unpackedLength;
  std::memcpy(&unpackedLength, data, 4);
  const int decimals = data[4];
  // Keep the unpack buffer within what a fuzz run may allocate.
  unpackedLength = static_cast<int32_t>(static_cast<uint32_t>(unpackedLength) % (1u << 20));
  std::vector<uint8_t> stored(data + 5, data + size);
  const uint8_t* unpacked = nullptr;
  std::size_t unpackedSize = 0;
  std::size_t count = 0;
  if (!stored.empty() && unpacker.Unpack(stored.data(), stored.size(), unpackedLength, &unpacked, &unpackedSize))
    DecodeTickBlock(unpacked, unpackedSize, decimals, (decimals & 1) != 0, &ticks, &count);
  // The number decoders on their own, over the raw bytes.
  const uint8_t* end = data + size;
  uint64_t v64;
  uint32_t v32;
  for (const uint8_t* p = data + 5; p < end && DecodeEndMarked64(p, end, &v64);) {
  }
  for (const uint8_t* p = data + 5; p < end && DecodeEndMarked32(p, end, &v32);) {
  }
  return 0;
}
