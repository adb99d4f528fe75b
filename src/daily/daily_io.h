#pragma once
// File access shared by the daily operations: whole-file reads into reusable
// buffers and record access inside those buffers.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "base/file_helpers.h"
#include "base/file_system.h"
#include "daily/daily_record.h"

namespace marbloom {

// Writes `size` bytes of `fresh` at `from` into a file of `oldLength` bytes,
// where `old` holds the file's bytes from `from` up to the end of the write or
// of the file, whichever comes first. The part that grows the file is written
// first, so a full disk fails the change before any existing byte moves; when
// a write fails, the old bytes and length are put back and false is returned.
bool WriteChange(File& file, const uint8_t* fresh, std::size_t size, int64_t from, int64_t oldLength,
                 const uint8_t* old);

// A change that moves records already in a file (an insert before its end, a
// merge, a delete, a batch modify) writes the whole new file to the folder's
// temporary `temp` and renames it over `path`, so that a crash leaves the old
// file or the new one. False when it failed; the file is then as it was.
bool ReplaceDailyFile(FileSystem& files, const std::string& temp, const std::string& path, const uint8_t* data,
                      std::size_t size);

// True when the dates of the n records keep the date rule (`before` is the
// date ahead of the first one, 0 at the start of a file). A file whose dates
// do not is damaged: records are never stored or merged into it. Branch-free:
// sound files are the rule.
bool DatesRise(const uint8_t* base, std::size_t n, uint32_t before);
// A date a daily record may carry: a calendar date no later than `today`.
bool IsDailyRecordDate(uint32_t date, int today);
// The dates of the n records of a whole file keep the date rule and each is
// a date a record may carry.
bool DailyDatesSound(const uint8_t* base, std::size_t n, int today);

// Resizes `buffer` unless `size` exceeds `limit` or memory runs out; false then.
bool TryResize(std::vector<uint8_t>& buffer, std::size_t size, std::size_t limit);
// Reads the first `size` bytes of the file into `buffer`, which is resized to
// size + `spare` bytes with the spare part zeroed. False on a short read.
// A read larger than kMaxWholeFileBytes fails instead of allocating it.
bool ReadPrefix(const File& file, std::size_t size, std::size_t spare, std::vector<uint8_t>& buffer);

inline uint32_t DateAt(const std::vector<uint8_t>& buffer, std::size_t index) {
  uint32_t date;
  std::memcpy(&date, buffer.data() + index * kDailyRecordSize, sizeof date);
  return date;
}
inline DailyRecord RecordAt(const std::vector<uint8_t>& buffer, std::size_t index) {
  DailyRecord record;
  std::memcpy(&record, buffer.data() + index * kDailyRecordSize, sizeof record);
  return record;
}
inline void PutRecordAt(std::vector<uint8_t>& buffer, std::size_t index, const DailyRecord& record) {
  std::memcpy(buffer.data() + index * kDailyRecordSize, &record, sizeof record);
}

// Rounds a double to single precision the way the hardware does, without the
// undefined conversion of out-of-range values: those become infinities.
inline float ToSingle(double value) {
  constexpr double kOverflow = 0x1.ffffffp127;  // halfway above FLT_MAX
  if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
  if (value >= kOverflow) return std::numeric_limits<float>::infinity();
  if (value <= -kOverflow) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

}  // namespace marbloom
