#include "tickdata/minute_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/file_helpers.h"

namespace marbloom {
namespace {

constexpr MinuteFileKind kKinds[2] = {
    {DataLayout::kOneMinuteExtension.data(), kOneMinuteBarsPerDay, kOneMinuteBlockBytes},
    {DataLayout::kFiveMinuteExtension.data(), kFiveMinuteBarsPerDay, kFiveMinuteBlockBytes},
};

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

TailRead ReadNewestDays(FileSystem& files, const std::string& path, const MinuteFileKind& kind, int maxDays,
                        MinuteBar* days, int* count) {
  *count = 0;
  const File file = files.Open(path, OpenMode::kReadRegular);
  if (!file) return errno == ENOENT ? TailRead::kNoFile : TailRead::kDamaged;
  int64_t length = file.Length();
  TailRead result = TailRead::kRead;
  if (length == 0) {
    result = TailRead::kNoFile;
  } else if (length < 0 || length % static_cast<int64_t>(kind.blockBytes) != 0) {
    result = TailRead::kDamaged;
  } else {
    int64_t held = length / static_cast<int64_t>(kind.blockBytes);
    int n = static_cast<int>(held < maxDays ? held : maxDays);
    int64_t offset = (held - n) * static_cast<int64_t>(kind.blockBytes);
    if (file.ReadAll(days, static_cast<std::size_t>(n) * kind.blockBytes, offset))
      *count = n;
    else
      result = TailRead::kDamaged;
  }
  return result;
}

bool HoldsFreshDays(FileSystem& files, const std::string& path, const MinuteFileKind& kind, int retention,
                    const MinuteBar* fresh, int freshCount, MinuteBar* scratch) {
  if (freshCount <= 0) return false;
  const File file = files.Open(path, OpenMode::kReadRegular);
  const int64_t length = file ? file.Length() : -1;
  const auto block = static_cast<int64_t>(kind.blockBytes);
  // A file beyond its retention loses days to any merge.
  if (length <= 0 || length % block != 0 || length / block > retention) return false;
  const int held = static_cast<int>(length / block);
  const int n = std::min(held, freshCount + 1);
  if (!file.ReadAll(scratch, static_cast<std::size_t>(n) * kind.blockBytes, length - n * block)) return false;
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

TailRead ReadAllMinuteBars(const File& file, std::vector<MinuteBar>* bars) {
  bars->clear();
  const int64_t length = file.Length();
  if (length == 0) return TailRead::kNoFile;
  if (length < 0 || length % static_cast<int64_t>(sizeof(MinuteBar)) != 0 ||
      static_cast<uint64_t>(length) > kMaxWholeFileBytes)
    return TailRead::kDamaged;
  try {
    bars->resize(static_cast<std::size_t>(length) / sizeof(MinuteBar));
  } catch (const std::bad_alloc&) {
    return TailRead::kDamaged;
  }
  if (file.ReadAll(bars->data(), static_cast<std::size_t>(length), 0)) return TailRead::kRead;
  bars->clear();
  return TailRead::kDamaged;
}

TailRead ReadAllMinuteBars(FileSystem& files, const std::string& path, std::vector<MinuteBar>* bars) {
  bars->clear();
  const File file = files.Open(path, OpenMode::kRead);
  if (!file) return errno == ENOENT ? TailRead::kNoFile : TailRead::kDamaged;
  return ReadAllMinuteBars(file, bars);
}

bool ReplaceMinuteFile(FileSystem& files, const std::string& temp, const std::string& path, const MinuteBar* days,
                       int count, const MinuteFileKind& kind, bool replaces) {
  const std::string& target = replaces ? temp : path;
  File file = files.Open(target, OpenMode::kWrite);
  if (!file) return false;
  const bool written = file.Write(days, static_cast<std::size_t>(count) * kind.blockBytes, 0);
  if (file.Close() && written && (!replaces || files.Rename(temp, path))) return true;
  files.Remove(target);
  return false;
}

}  // namespace marbloom
