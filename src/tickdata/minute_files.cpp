#include "tickdata/minute_files.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/file_helpers.h"
#include "common/trading_sessions.h"

namespace marbloom {
namespace {

constexpr MinuteFileKind kKinds[2] = {
    {DataLayout::kOneMinuteExtension.data(), kOneMinuteBarsPerDay, kOneMinuteBlockBytes},
    {DataLayout::kFiveMinuteExtension.data(), kFiveMinuteBarsPerDay, kFiveMinuteBlockBytes},
};

// The end minute of each bar of a day, by kind.
const uint16_t* SlotTimes(const MinuteFileKind& kind) {
  static const auto tables = [] {
    std::array<std::array<uint16_t, kOneMinuteBarsPerDay>, 2> t{};
    for (std::size_t i = 0; i < kOneMinuteBarsPerDay; ++i)
      t[0][i] = static_cast<uint16_t>(SlotEndTime(static_cast<int>(i), 1, 0));
    for (std::size_t i = 0; i < kFiveMinuteBarsPerDay; ++i)
      t[1][i] = static_cast<uint16_t>(SlotEndTime(static_cast<int>(i), 5, 0));
    return t;
  }();
  return tables[kind.barsPerDay == kOneMinuteBarsPerDay ? 0 : 1].data();
}

void CopyDay(MinuteBar* to, const MinuteBar* from, int barsPerDay) {
  std::memcpy(to, from, static_cast<std::size_t>(barsPerDay) * sizeof(MinuteBar));
}

// Moves days [from, from + n) to start at `to` (ranges may overlap).
void MoveDays(MinuteBar* days, int to, int from, int n, int barsPerDay) {
  if (n <= 0) return;
  std::memmove(days + to * barsPerDay, days + from * barsPerDay,
               static_cast<std::size_t>(n) * barsPerDay * sizeof(MinuteBar));
}

// One new day into `count` held days (count >= 1); returns the new count.
int MergeOneDay(MinuteBar* days, int count, int retention, const MinuteBar* day, int barsPerDay) {
  int date = BlockDate(day);
  for (int i = 0; i < count; ++i) {
    int held = BlockDate(days + i * barsPerDay);
    if (date < held) {
      if (count < retention) {
        MoveDays(days, i + 1, i, count - i, barsPerDay);
        CopyDay(days + i * barsPerDay, day, barsPerDay);
        return count + 1;
      }
      if (i == 0) return count;  // older than everything a full file keeps
      MoveDays(days, 0, 1, i - 1, barsPerDay);
      CopyDay(days + (i - 1) * barsPerDay, day, barsPerDay);
      return count;
    }
    if (date == held) {
      CopyDay(days + i * barsPerDay, day, barsPerDay);
      return count;
    }
  }
  if (count >= retention) MoveDays(days, 0, 1, --count, barsPerDay);
  CopyDay(days + count * barsPerDay, day, barsPerDay);
  return count + 1;
}

}  // namespace

const MinuteFileKind& KindInfo(MinuteKind kind) {
  return kKinds[kind == MinuteKind::kOneMinute ? 0 : 1];
}

std::string MinuteDirectory(const DataLayout& layout, MinuteKind kind, int market) {
  return kind == MinuteKind::kOneMinute ? layout.OneMinuteDir(market) : layout.FiveMinuteDir(market);
}

std::string MinuteFilePath(const DataLayout& layout, MinuteKind kind, int market, std::string_view code) {
  return kind == MinuteKind::kOneMinute ? layout.OneMinuteFile(market, code) : layout.FiveMinuteFile(market, code);
}

std::string MinuteTempPath(const DataLayout& layout, MinuteKind kind, int market) {
  return kind == MinuteKind::kOneMinute ? layout.OneMinuteTemp(market) : layout.FiveMinuteTemp(market);
}

int MergeMinuteDays(MinuteBar* days, int count, int retention, const MinuteBar* fresh, int freshCount,
                    int barsPerDay) {
  if (retention < 1) retention = 1;
  for (int k = 0; k < freshCount; ++k) {
    const MinuteBar* day = fresh + k * barsPerDay;
    if (count == 0) {
      CopyDay(days, day, barsPerDay);
      count = 1;
    } else {
      count = MergeOneDay(days, count, retention, day, barsPerDay);
    }
  }
  return count;
}

bool IsWholeDay(const MinuteBar* day, const MinuteFileKind& kind) {
  const uint16_t* times = SlotTimes(kind);
  const uint16_t date = day[0].packedDate;
  for (int i = 0; i < kind.barsPerDay; ++i)
    if (day[i].time != times[i] || day[i].packedDate != date) return false;
  return true;
}

TailRead FindHeldDays(const File& file, const MinuteFileKind& kind, MinuteBar* scratch, int scratchDays,
                      HeldDays* held) {
  *held = HeldDays{};
  const int64_t length = file.Length();
  if (length == 0) return TailRead::kNoFile;
  if (length < 0) return TailRead::kDamaged;
  held->length = length;
  const auto block = static_cast<int64_t>(kind.blockBytes);
  const int64_t blocks = length / block;
  // Blocks [0, end) are still to look at, newest first: one, then more at a time.
  int64_t end = blocks;
  int64_t step = 1;
  while (end > 0) {
    const int64_t n = std::min({end, step, static_cast<int64_t>(std::max(scratchDays, 1))});
    if (!file.ReadAll(scratch, static_cast<std::size_t>(n * block), (end - n) * block)) return TailRead::kDamaged;
    for (int64_t i = n - 1; i >= 0; --i) {
      const MinuteBar* day = scratch + i * kind.barsPerDay;
      if (!IsWholeDay(day, kind)) continue;
      held->days = static_cast<int>(end - n + i + 1);
      held->newestDate = BlockDate(day);
      return TailRead::kRead;
    }
    end -= n;
    step *= 8;
  }
  if (blocks > 0 && length % block != 0) return TailRead::kDamaged;
  held->days = static_cast<int>(blocks);
  return TailRead::kRead;
}

bool ReadNewestDays(const File& file, const HeldDays& held, const MinuteFileKind& kind, int maxDays,
                    MinuteBar* days, int* count) {
  const int n = std::min(held.days, maxDays);
  *count = 0;
  const auto block = static_cast<int64_t>(kind.blockBytes);
  if (n > 0 && !file.ReadAll(days, static_cast<std::size_t>(n) * kind.blockBytes, (held.days - n) * block))
    return false;
  *count = n;
  return true;
}

bool HoldsFreshDays(const File& file, const HeldDays& held, const MinuteFileKind& kind, int retention,
                    const MinuteBar* fresh, int freshCount, MinuteBar* scratch) {
  // A file beyond its retention loses days to any merge; a tail is cut by the next write.
  if (freshCount <= 0 || held.days <= 0 || held.days > retention || held.HasTail(kind)) return false;
  const auto block = static_cast<int64_t>(kind.blockBytes);
  const int n = std::min(held.days, freshCount + 1);
  if (!file.ReadAll(scratch, static_cast<std::size_t>(n) * kind.blockBytes, (held.days - n) * block)) return false;
  const int first = BlockDate(fresh);
  int k = 0;  // the next fresh day to find
  for (int i = 0; i < n; ++i) {
    const MinuteBar* day = scratch + i * kind.barsPerDay;
    const int date = BlockDate(day);
    if (i > 0 && date <= BlockDate(day - kind.barsPerDay)) return false;
    if (date < first) continue;  // the held day before the fresh ones
    if (k == freshCount || date != BlockDate(fresh + k * kind.barsPerDay) ||
        std::memcmp(day, fresh + k * kind.barsPerDay, kind.blockBytes) != 0)
      return false;
    ++k;
  }
  return k == freshCount;
}

bool AppendMinuteDays(File& file, const HeldDays& held, const MinuteBar* days, int count,
                      const MinuteFileKind& kind) {
  const int64_t end = held.days * static_cast<int64_t>(kind.blockBytes);
  if (held.HasTail(kind) && !file.Truncate(end)) return false;
  if (file.Write(days, static_cast<std::size_t>(count) * kind.blockBytes, end)) return true;
  file.Truncate(end);  // what did arrive is a tail either way
  return false;
}

TailRead HeldMinuteBars(const File& file, const MinuteFileKind& kind, std::vector<MinuteBar>* scratch,
                        int64_t* bars) {
  *bars = 0;
  const int64_t length = file.Length();
  if (length == 0) return TailRead::kNoFile;
  if (length < 0 || static_cast<uint64_t>(length) > kMaxWholeFileBytes) return TailRead::kDamaged;
  const auto barBytes = static_cast<int64_t>(sizeof(MinuteBar));
  const auto block = static_cast<int64_t>(kind.blockBytes);
  // The days end with the last whole day, the same rule as FindHeldDays':
  // blocks are read from the end, one, then more at a time.
  constexpr int64_t kMostBlocks = 64;
  int64_t end = length / block;
  for (int64_t step = 1; end > 0; step = std::min(step * 8, kMostBlocks)) {
    const int64_t n = std::min(end, step);
    try {
      scratch->resize(static_cast<std::size_t>(n * kind.barsPerDay));
    } catch (const std::bad_alloc&) {
      return TailRead::kDamaged;
    }
    if (!file.ReadAll(scratch->data(), static_cast<std::size_t>(n * block), (end - n) * block))
      return TailRead::kDamaged;
    for (int64_t i = n - 1; i >= 0; --i) {
      if (!IsWholeDay(scratch->data() + i * kind.barsPerDay, kind)) continue;
      *bars = (end - n + i + 1) * kind.barsPerDay;
      return TailRead::kRead;
    }
    end -= n;
  }
  if (length % barBytes != 0) return TailRead::kDamaged;
  *bars = length / barBytes;
  return TailRead::kRead;
}

TailRead ReadAllMinuteBars(const File& file, const MinuteFileKind& kind, std::vector<MinuteBar>* bars) {
  int64_t held = 0;
  const TailRead read = HeldMinuteBars(file, kind, bars, &held);
  bars->clear();
  if (read != TailRead::kRead) return read;
  try {
    bars->resize(static_cast<std::size_t>(held));
  } catch (const std::bad_alloc&) {
    return TailRead::kDamaged;
  }
  if (!file.ReadAll(bars->data(), bars->size() * sizeof(MinuteBar), 0)) {
    bars->clear();
    return TailRead::kDamaged;
  }
  return TailRead::kRead;
}

TailRead ReadAllMinuteBars(FileSystem& files, const std::string& path, const MinuteFileKind& kind,
                           std::vector<MinuteBar>* bars) {
  bars->clear();
  const File file = files.Open(path, OpenMode::kRead);
  if (!file) return errno == ENOENT ? TailRead::kNoFile : TailRead::kDamaged;
  return ReadAllMinuteBars(file, kind, bars);
}

void AddMinuteFilePaths(const DataLayout& layout, int market, std::string_view code, std::vector<std::string>* paths) {
  for (const MinuteKind kind : {MinuteKind::kOneMinute, MinuteKind::kFiveMinute})
    paths->push_back(MinuteFilePath(layout, kind, market, code));
}

bool ReplaceMinuteFile(FileSystem& files, const std::string& temp, const std::string& path,
                       std::span<const MinuteBar> bars, bool replaces) {
  const std::string& target = replaces ? temp : path;
  File file = files.Open(target, OpenMode::kWrite);
  if (!file) return false;
  const bool written = file.Write(bars.data(), bars.size_bytes(), 0);
  if (file.Close() && written && (!replaces || files.Rename(temp, path))) return true;
  files.Remove(target);
  return false;
}

}  // namespace marbloom
