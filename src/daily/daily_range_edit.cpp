// Range delete and batch modify of daily files selected by a code pattern.
#include <cstdio>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "app/settings.h"
#include "common/code_pattern.h"
#include "common/scaled_value.h"
#include "daily/daily_engine.h"
#include "daily/daily_io.h"
#include "daily/daily_walk.h"

namespace marbloom {
namespace {

constexpr DailyWalkMessages kDeleteMessages = {"正在删除%s日线", "本次删除日线操作被取消!", "删除日线完成!"};
constexpr DailyWalkMessages kModifyMessages = {"正在修改%s日线", "本次批量修改日线操作被取消!", "批量修改日线完成!"};

bool InRange(uint32_t date, uint32_t first, uint32_t last) { return date >= first && date <= last; }

// Opens a daily file for update and reads its records; false (silently) when
// it cannot be opened or its length is not a positive multiple of 32.
bool LoadWholeFile(const std::string& path, UniqueFd& fd, std::vector<uint8_t>& buffer, std::size_t* count) {
  fd = OpenForUpdate(path);
  if (!fd) return false;
  const int64_t length = FileLength(fd.get());
  if (length <= 0 || length % static_cast<int64_t>(kDailyRecordSize) != 0) return false;
  *count = static_cast<std::size_t>(length) / kDailyRecordSize;
  if (ReadPrefix(fd.get(), static_cast<std::size_t>(length), 0, buffer)) return true;
  RunLog("读取%s文件失败!", path.c_str());
  return false;
}

void ScaleRecord(DailyRecord& r, const DailyFactors& f) {
  r.open = ScaleInt32(r.open, f.open);
  r.high = ScaleInt32(r.high, f.high);
  r.low = ScaleInt32(r.low, f.low);
  r.close = ScaleInt32(r.close, f.close);
  r.volume = ScaleUint32(r.volume, f.volume);
  r.amount = ToSingle(static_cast<double>(r.amount) * static_cast<double>(f.amount));
}

}  // namespace

void DailyEngine::DeleteDailyRange(int first, int last, std::string_view pattern) {
  WalkDailyFiles(*this, Settings().historyDir, SelectMarkets(pattern), CodePart(pattern), kDeleteMessages,
                 [&](int market, const std::string& code) {
                   DeleteDailyRecords(market, code, static_cast<uint32_t>(first), static_cast<uint32_t>(last));
                 });
}

void DailyEngine::ModifyDailyRange(int first, int last, const DailyFactors& factors, std::string_view pattern) {
  WalkDailyFiles(*this, Settings().historyDir, SelectMarkets(pattern), CodePart(pattern), kModifyMessages,
                 [&](int market, const std::string& code) {
                   ModifyDailyRecords(market, code, static_cast<uint32_t>(first), static_cast<uint32_t>(last),
                                      factors);
                 });
}

// Keeps the records dated outside the range (and not 0). Records before the
// first removed one stay where they are, so only the rest is written.
void DailyEngine::DeleteDailyRecords(int market, std::string_view code, uint32_t first, uint32_t last) {
  const std::string path = DailyFilePath(market, code);
  UniqueFd fd;
  std::size_t n = 0;
  if (!LoadWholeFile(path, fd, buffer_, &n)) return;
  std::size_t kept = 0;
  std::size_t firstMoved = n;
  for (std::size_t i = 0; i < n; ++i) {
    const uint32_t date = DateAt(buffer_, i);
    if (date == 0 || InRange(date, first, last)) {
      firstMoved = std::min(firstMoved, i);
      continue;
    }
    if (kept != i) PutRecordAt(buffer_, kept, RecordAt(buffer_, i));
    ++kept;
  }
  if (kept == n) return;
  if (kept == 0) {
    fd.Close();
    if (std::remove(path.c_str()) != 0) RunLog("写入%s文件失败!", path.c_str());
    return;
  }
  const bool ok = WriteAllAt(fd.get(), buffer_.data() + firstMoved * kDailyRecordSize,
                             (kept - firstMoved) * kDailyRecordSize,
                             static_cast<int64_t>(firstMoved * kDailyRecordSize)) &&
                  ::ftruncate(fd.get(), static_cast<off_t>(kept * kDailyRecordSize)) == 0;
  if (!ok) RunLog("写入%s文件失败!", path.c_str());
}

// Scales the records of the range in place; only the span from the first to
// the last changed record is written back.
void DailyEngine::ModifyDailyRecords(int market, std::string_view code, uint32_t first, uint32_t last,
                                     const DailyFactors& factors) {
  const std::string path = DailyFilePath(market, code);
  UniqueFd fd;
  std::size_t n = 0;
  if (!LoadWholeFile(path, fd, buffer_, &n)) return;
  std::size_t low = n, high = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!InRange(DateAt(buffer_, i), first, last)) continue;
    DailyRecord record = RecordAt(buffer_, i);
    ScaleRecord(record, factors);
    PutRecordAt(buffer_, i, record);
    low = std::min(low, i);
    high = i;
  }
  if (low == n) return;
  if (!WriteAllAt(fd.get(), buffer_.data() + low * kDailyRecordSize, (high - low + 1) * kDailyRecordSize,
                  static_cast<int64_t>(low * kDailyRecordSize)))
    RunLog("写入%s文件失败!", path.c_str());
}

}  // namespace marbloom
