#pragma once
// A small tick encoder and pair/archive writers for the tick tests.
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/data_layout.h"
#include "support/temp_dir.h"
#include "tickdata/tick_codec.h"
#include "tickdata/tick_formats.h"

namespace marbloom::test {

using Bytes = std::vector<uint8_t>;

// End-marked base-128: the shortest group sequence whose sign bit matches.
inline void PutEndMarked(Bytes& out, int64_t value) {
  uint8_t groups[10];
  int n = 0;
  int64_t v = value;
  for (;;) {
    groups[n++] = static_cast<uint8_t>(v & 0x7F);
    v >>= 7;  // arithmetic shift keeps the sign
    const bool signOk = ((groups[n - 1] & 0x40) != 0) == (value < 0);
    if ((v == 0 || v == -1) && signOk) break;
  }
  for (int i = n - 1; i > 0; --i) out.push_back(groups[i]);
  out.push_back(static_cast<uint8_t>(groups[0] | 0x80));
}

template <typename T>
void PutLE(Bytes& out, T value) {
  uint8_t b[sizeof(T)];
  std::memcpy(b, &value, sizeof(T));
  out.insert(out.end(), b, b + sizeof(T));
}

struct TestTick {
  int32_t seconds;
  int64_t price;
  int64_t volume;
  int64_t running;
  int32_t plain;
  int kind;
};

// An unpacked block of the ticks (at least one).
inline Bytes EncodeBlock(const std::vector<TestTick>& ticks) {
  Bytes out;
  const TestTick& t0 = ticks.front();
  PutLE<int32_t>(out, 0);
  PutLE<int32_t>(out, static_cast<int32_t>(ticks.size()));
  PutLE<int32_t>(out, t0.seconds);
  PutLE<int64_t>(out, t0.price);
  PutLE<int64_t>(out, t0.volume);
  PutLE<int64_t>(out, t0.running);
  PutLE<int32_t>(out, t0.plain);
  PutLE<int16_t>(out, static_cast<int16_t>(t0.kind));
  for (std::size_t i = 1; i < ticks.size(); ++i) {
    const TestTick& p = ticks[i - 1];
    const TestTick& t = ticks[i];
    PutEndMarked(out, int64_t{3} * (t.seconds - p.seconds) + t.kind);
    PutEndMarked(out, t.price - p.price);
    PutEndMarked(out, t.volume);
    PutEndMarked(out, t.running - p.running);
    PutEndMarked(out, t.plain);
  }
  return out;
}

inline Bytes Compress(const Bytes& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(size);
  compress(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
  out.resize(size);
  return out;
}

// A day of n ticks starting at 9:30 whose prices depend on `seed`.
inline std::vector<TestTick> SampleTicks(int n, int seed) {
  std::vector<TestTick> ticks;
  for (int i = 0; i < n; ++i)
    ticks.push_back({34200 + 3 * i, 1000 + seed + (i % 7) - 3, 100 + i, 5000 + 10 * i, seed + i, i % 3});
  return ticks;
}

// One stored day of a pair or an archive.
struct StoredDay {
  int32_t date;
  Bytes stored;
  int32_t unpackedLength;
  double refPrice = 10.5;
  uint8_t priceDecimals = 2;
  uint8_t spare = 0;
};

inline StoredDay MakeDay(int32_t date, int seed, int ticks = 20) {
  Bytes raw = EncodeBlock(SampleTicks(ticks, seed));
  return StoredDay{date, Compress(raw), static_cast<int32_t>(raw.size()), 10.0 + seed, 2,
                   static_cast<uint8_t>(seed)};
}

inline Bytes IndexBytes(const std::vector<StoredDay>& days, int32_t version = 2) {
  Bytes out;
  PutLE<int32_t>(out, version);
  PutLE<int32_t>(out, days.empty() ? 0 : days.front().date);
  PutLE<int32_t>(out, days.empty() ? 0 : days.back().date);
  PutLE<int32_t>(out, static_cast<int32_t>(days.size()));
  for (const StoredDay& d : days) {
    PutLE<int32_t>(out, d.date);
    PutLE<int32_t>(out, d.unpackedLength);
    PutLE<int32_t>(out, static_cast<int32_t>(d.stored.size()));
    PutLE<double>(out, d.refPrice);
    out.push_back(d.priceDecimals);
    out.push_back(d.spare);
  }
  return out;
}

inline Bytes DataBytes(const std::vector<StoredDay>& days) {
  Bytes out;
  for (const StoredDay& d : days) out.insert(out.end(), d.stored.begin(), d.stored.end());
  return out;
}

inline void WritePair(const DataLayout& layout, const std::string& stem, const std::vector<StoredDay>& days) {
  WriteFileBytes(layout.TickIndexFile(stem), IndexBytes(days));
  WriteFileBytes(layout.TickDataFile(stem), DataBytes(days));
}

struct ArchiveItem {
  int8_t market;
  std::string code;
  StoredDay day;
};

inline Bytes ArchiveBytes(const std::vector<ArchiveItem>& items) {
  Bytes out(12, 0);
  PutLE<int32_t>(out, static_cast<int32_t>(items.size()));
  for (const ArchiveItem& it : items) {
    out.push_back(static_cast<uint8_t>(it.market));
    for (int i = 0; i < 6; ++i) out.push_back(i < static_cast<int>(it.code.size()) ? it.code[i] : ' ');
    out.push_back(0);
    PutLE<int32_t>(out, it.day.date);
    PutLE<int32_t>(out, it.day.unpackedLength);
    PutLE<int32_t>(out, static_cast<int32_t>(it.day.stored.size()));
    PutLE<double>(out, it.day.refPrice);
    out.push_back(it.day.priceDecimals);
    out.push_back(it.day.spare);
    out.insert(out.end(), it.day.stored.begin(), it.day.stored.end());
  }
  return out;
}

inline void WriteArchive(const DataLayout& layout, int32_t date, const std::vector<ArchiveItem>& items) {
  WriteFileBytes(layout.TickArchiveFile(date), ArchiveBytes(items));
}

// A stored block unpacked through the readers' unpacker, as bytes.
inline bool Unpack(const Bytes& stored, int32_t unpackedLength, Bytes* out) {
  TickBlockUnpacker unpacker;
  const uint8_t* unpacked = nullptr;
  std::size_t size = 0;
  const bool ok = unpacker.Unpack(stored.data(), stored.size(), unpackedLength, &unpacked, &size);
  out->assign(unpacked, unpacked + size);
  return ok;
}

// An unpacked block decoded through the readers' decoder.
inline bool Decode(const Bytes& block, int priceDecimals, bool runningExtra, std::vector<TickRecord>* ticks) {
  GrowBuffer<TickRecord> buffer;
  std::size_t count = 0;
  const bool ok = DecodeTickBlock(block.data(), block.size(), priceDecimals, runningExtra, &buffer, &count);
  ticks->assign(buffer.data(), buffer.data() + count);
  return ok;
}

}  // namespace marbloom::test
