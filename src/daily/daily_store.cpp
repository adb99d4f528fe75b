// The record store: one record put in date order, one record read by date.
#include <cstdio>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "app/settings.h"
#include "common/market.h"
#include "daily/daily_engine.h"
#include "daily/daily_io.h"

namespace marbloom {
namespace {

constexpr const char* kCreateFailed = "创建%s文件失败!";
constexpr const char* kWriteFailed = "写入%s文件失败!";
constexpr const char* kReadFailed = "读取%s文件失败!";
constexpr const char* kNoData = "%s文件无数据!";

// Writes `size` bytes at `offset`; a write that fails while growing the file
// gives the file back its old length.
bool WriteOrRestore(int fd, const void* data, std::size_t size, int64_t offset, int64_t oldLength) {
  if (WriteAllAt(fd, data, size, offset)) return true;
  if (offset + static_cast<int64_t>(size) > oldLength && ::ftruncate(fd, oldLength) != 0) {
    // Nothing more can be done; the caller logs the failure.
  }
  return false;
}

// The first record whose date is not smaller than `key` (n when none).
std::size_t ScanFor(const std::vector<uint8_t>& buffer, std::size_t n, uint32_t key) {
  std::size_t i = 0;
  while (i < n && DateAt(buffer, i) < key) ++i;
  return i;
}

}  // namespace

std::string DailyFolderUnder(const std::string& root, int market) {
  return std::string(root).append(kMarketPrefix[market]).append("/lday/");
}

std::string DailyFilePathUnder(const std::string& root, int market, std::string_view code) {
  const char* prefix = kMarketPrefix[market];
  std::string path;
  path.reserve(root.size() + code.size() + 16);
  path.append(root).append(prefix).append("/lday/").append(prefix).append(code).append(".day");
  return path;
}

std::string DailyFilePath(int market, std::string_view code) {
  return DailyFilePathUnder(Settings().historyDir, market, code);
}

int DailyEngine::StoreDailyRecord(int market, std::string_view code, const DailyRecord& record) {
  return StoreInOrder(DailyFilePath(market, code), record.date, record, kCreateFailed);
}

int DailyEngine::WriteDailyRecord(int market, std::string_view code, uint32_t date,
                                  const DailyRecord& record) {
  return StoreInOrder(DailyFilePath(market, code), date, record, kWriteFailed);
}

// Same bytes as reading the whole file, inserting in memory and rewriting it
// from offset 0, but only the changed part is written: one record when
// appending or replacing, the records from the insertion point on when
// inserting. The part that grows the file is written first, so a full disk
// leaves the old content in place.
int DailyEngine::StoreInOrder(const std::string& path, uint32_t key, const DailyRecord& record,
                              const char* openFailureFormat) {
  UniqueFd fd = OpenOrCreateForUpdate(path);
  if (!fd) {
    RunLog(openFailureFormat, path.c_str());
    return 0;
  }
  const int64_t length = FileLength(fd.get());
  if (length >= 0 && PlaceInOrder(fd.get(), length, key, record)) return 1;
  RunLog(kWriteFailed, path.c_str());
  return 0;
}

bool DailyEngine::PlaceInOrder(int fd, int64_t length, uint32_t key, const DailyRecord& record) {
  constexpr std::size_t kSize = kDailyRecordSize;
  if (length < static_cast<int64_t>(kSize)) return WriteOrRestore(fd, &record, kSize, 0, length);
  const std::size_t n = static_cast<std::size_t>(length) / kSize;
  if (!ReadPrefix(fd, n * kSize, kSize, buffer_)) return false;
  const std::size_t i = ScanFor(buffer_, n, key);
  if (i < n && DateAt(buffer_, i) == key) return WriteAllAt(fd, &record, kSize, static_cast<int64_t>(i * kSize));
  if (i == n) return WriteOrRestore(fd, &record, kSize, static_cast<int64_t>(n * kSize), length);
  uint8_t* base = buffer_.data();
  std::memmove(base + (i + 1) * kSize, base + i * kSize, (n - i) * kSize);
  PutRecordAt(buffer_, i, record);
  return WriteOrRestore(fd, base + n * kSize, kSize, static_cast<int64_t>(n * kSize), length) &&
         WriteAllAt(fd, base + i * kSize, (n - i) * kSize, static_cast<int64_t>(i * kSize));
}

int DailyEngine::ReadDailyRecord(int market, std::string_view code, uint32_t date, DailyRecord* out) {
  const std::string path = DailyFilePath(market, code);
  UniqueFd fd = OpenForReading(path);
  if (!fd) {
    RunLog(kReadFailed, path.c_str());
    return 0;
  }
  const int64_t length = FileLength(fd.get());
  if (length < static_cast<int64_t>(kDailyRecordSize)) {
    RunLog(length < 0 ? kReadFailed : kNoData, path.c_str());
    return 0;
  }
  const std::size_t n = static_cast<std::size_t>(length) / kDailyRecordSize;
  if (!ReadPrefix(fd.get(), n * kDailyRecordSize, 0, buffer_)) {
    RunLog(kReadFailed, path.c_str());
    return 0;
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (DateAt(buffer_, i) != date) continue;
    *out = RecordAt(buffer_, i);
    return 1;
  }
  return 0;
}

}  // namespace marbloom
