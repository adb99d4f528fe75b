#include "daily/daily_io.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "base/file_helpers.h"
#include "common/calendar.h"

namespace marbloom {

namespace {

// Gives a file back its old length after a failed write grew it.
void TruncateBack(File& file, int64_t length) {
  if (!file.Truncate(length)) return;  // nothing more can be done; the caller reports the failure
}

}  // namespace

bool WriteChange(File& file, const uint8_t* fresh, std::size_t size, int64_t from, int64_t oldLength,
                 const uint8_t* old) {
  const int64_t end = from + static_cast<int64_t>(size);
  const int64_t growFrom = std::max(from, oldLength);
  const int64_t keptEnd = std::min(end, oldLength);  // existing bytes end here
  const bool grown = end > growFrom;
  if (grown && !file.Write(fresh + (growFrom - from), static_cast<std::size_t>(end - growFrom), growFrom)) {
    TruncateBack(file, oldLength);
    return false;
  }
  if (keptEnd <= from || file.Write(fresh, static_cast<std::size_t>(keptEnd - from), from)) return true;
  // Best effort: the caller reports the failure whatever this achieves.
  file.Write(old, static_cast<std::size_t>(keptEnd - from), from);
  if (grown) TruncateBack(file, oldLength);
  return false;
}

bool ReplaceDailyFile(FileSystem& files, const std::string& temp, const std::string& path, const uint8_t* data,
                      std::size_t size) {
  File file = OpenNewTemporary(files, temp);
  const bool written = file && file.Write(data, size, 0);
  if (file.Close() && written && files.Rename(temp, path)) return true;
  files.Remove(temp);
  return false;
}

// Under the date rule a date is at fault exactly when it is not above the one
// before it: 0 is above no date. One comparison per record, as every store
// checks the whole file.
static_assert(DailyDateFaultOf(0, 0) == DailyDateFault::kZero && DailyDateFaultOf(5, 5) != DailyDateFault::kNone &&
              DailyDateFaultOf(6, 5) == DailyDateFault::kNone);
// Four records a step, whose comparisons do not wait on each other.
bool DatesRise(const uint8_t* base, std::size_t n, uint32_t before) {
  const auto date = [base](std::size_t i) {
    uint32_t d;
    std::memcpy(&d, base + i * kDailyRecordSize, sizeof d);
    return d;
  };
  bool rise = true;
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const uint32_t d0 = date(i), d1 = date(i + 1), d2 = date(i + 2), d3 = date(i + 3);
    rise &= (d0 > before) & (d1 > d0) & (d2 > d1) & (d3 > d2);
    before = d3;
  }
  for (; i < n; ++i) {
    rise &= date(i) > before;
    before = date(i);
  }
  return rise;
}

bool IsDailyRecordDate(uint32_t date, int today) {
  return date <= static_cast<uint32_t>(today) && IsCalendarDate(static_cast<int>(date));
}

bool DailyDatesSound(const uint8_t* base, std::size_t n, int today) {
  if (!DatesRise(base, n, 0)) return false;
  for (std::size_t i = 0; i < n; ++i) {
    uint32_t date;
    std::memcpy(&date, base + i * kDailyRecordSize, sizeof date);
    if (!IsDailyRecordDate(date, today)) return false;
  }
  return true;
}

bool TryResize(std::vector<uint8_t>& buffer, std::size_t size, std::size_t limit) {
  // A damaged or hostile file must not make us allocate whatever its length says.
  if (size > limit) return false;
  try {
    buffer.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool ReadPrefix(const File& file, std::size_t size, std::size_t spare, std::vector<uint8_t>& buffer) {
  if (size > kMaxWholeFileBytes || !TryResize(buffer, size + spare, kMaxWholeFileBytes + spare)) return false;
  if (spare > 0) std::memset(buffer.data() + size, 0, spare);
  return file.ReadAll(buffer.data(), size, 0);
}

}  // namespace marbloom
