// The tick block encoder: end-marked base-128 numbers and whole unpacked
// blocks, the exact inverse of the tick store's decoder.
#include <zlib.h>

#include <cstring>

#include "common/little_endian.h"
#include "samplegen.h"
#include "tickdata/tick_formats.h"

namespace marbloom::sample {

void AppendTickNumber(std::vector<uint8_t>& out, int64_t value) {
  // Fewest 7-bit groups whose first group's bit 6 still carries the sign.
  int groups = 1;
  while (groups < 10) {
    const int64_t top = value >> (7 * groups - 1);  // arithmetic shift
    if (top == 0 || top == -1) break;
    ++groups;
  }
  for (int g = groups - 1; g >= 0; --g) {
    const uint8_t bits = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (7 * g)) & 0x7F;
    out.push_back(g == 0 ? static_cast<uint8_t>(bits | 0x80) : bits);
  }
}

std::vector<uint8_t> EncodeTickNumber(int64_t value) {
  std::vector<uint8_t> out;
  AppendTickNumber(out, value);
  return out;
}

std::vector<uint8_t> EncodeTickBlock(const std::vector<SampleTick>& ticks, int32_t reserved) {
  std::vector<uint8_t> out(sizeof(TickBlockHeader));
  if (ticks.empty()) return {};
  const SampleTick& first = ticks.front();
  TickBlockHeader header{};
  header.reserved = reserved;
  header.tickCount = static_cast<int32_t>(ticks.size());
  header.seconds = first.seconds;
  header.price = first.price;
  header.volume = first.volume;
  header.runningValue = first.runningValue;
  header.plainValue = first.plainValue;
  header.kind = first.kind;
  std::memcpy(out.data(), &header, sizeof header);
  out.reserve(sizeof header + ticks.size() * 9);
  for (std::size_t i = 1; i < ticks.size(); ++i) {
    const SampleTick& prev = ticks[i - 1];
    const SampleTick& tick = ticks[i];
    const int64_t elapsed = static_cast<int64_t>(tick.seconds) - prev.seconds;
    AppendTickNumber(out, static_cast<int32_t>(3 * elapsed + tick.kind));
    AppendTickNumber(out, static_cast<int64_t>(static_cast<uint64_t>(tick.price) - static_cast<uint64_t>(prev.price)));
    AppendTickNumber(out, tick.volume);
    AppendTickNumber(out, static_cast<int64_t>(static_cast<uint64_t>(tick.runningValue) -
                                               static_cast<uint64_t>(prev.runningValue)));
    AppendTickNumber(out, tick.plainValue);
  }
  return out;
}

std::vector<uint8_t> StoreTickBlock(const std::vector<uint8_t>& unpacked, bool compress) {
  if (!compress) return unpacked;
  uLongf size = compressBound(static_cast<uLong>(unpacked.size()));
  std::vector<uint8_t> out(size);
  if (compress2(out.data(), &size, unpacked.data(), static_cast<uLong>(unpacked.size()), 1) != Z_OK) {
    return unpacked;
  }
  out.resize(size);
  return out;
}

}  // namespace marbloom::sample
