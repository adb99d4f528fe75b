#include "daily/daily_repair.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <string>

#include "base/run_log.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "daily/daily_io.h"

namespace marbloom {
namespace {

constexpr WalkTexts kRepairTexts = {"路径不存在或无日线数据!", "正在修复%s日线", "本次修复日线操作被取消!"};

// What a repair changed in one file.
struct DailyMend {
  int64_t cutBytes = 0;
  std::size_t zeroDates = 0, badDates = 0, duplicates = 0;
  bool sorted = false;

  std::string Describe() const {
    std::string text;
    auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
    if (cutBytes > 0) add("截去末尾" + std::to_string(cutBytes) + "字节");
    if (zeroDates > 0) add("删除" + std::to_string(zeroDates) + "条日期为0的记录");
    if (badDates > 0) add("删除" + std::to_string(badDates) + "条日期无效或晚于今天的记录");
    if (sorted) add("按日期重新排序");
    if (duplicates > 0) add("删除" + std::to_string(duplicates) + "条日期重复的记录(保留后写入的)");
    return text;
  }
};

// The whole records of `buffer` (`length` bytes) mended; `mend` tells how.
// Records dated 0, on no calendar day or after `today` are dropped.
std::vector<uint8_t> MendRecords(const std::vector<uint8_t>& buffer, int64_t length, int today, DailyMend* mend) {
  const std::size_t n = static_cast<std::size_t>(length) / kDailyRecordSize;
  mend->cutBytes = length - static_cast<int64_t>(n * kDailyRecordSize);
  std::vector<std::size_t> order;
  order.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const uint32_t date = DateAt(buffer, i);
    if (IsDailyRecordDate(date, today)) order.push_back(i);
    else ++(date == 0 ? mend->zeroDates : mend->badDates);
  }
  mend->sorted = !std::is_sorted(order.begin(), order.end(),
                                 [&](std::size_t a, std::size_t b) { return DateAt(buffer, a) < DateAt(buffer, b); });
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return DateAt(buffer, a) < DateAt(buffer, b); });
  std::vector<uint8_t> out;
  out.reserve(order.size() * kDailyRecordSize);
  for (std::size_t k = 0; k < order.size(); ++k) {
    // Of one date, the record written last (the highest position) stays.
    if (k + 1 < order.size() && DateAt(buffer, order[k + 1]) == DateAt(buffer, order[k])) {
      ++mend->duplicates;
      continue;
    }
    const uint8_t* record = buffer.data() + order[k] * kDailyRecordSize;
    out.insert(out.end(), record, record + kDailyRecordSize);
  }
  return out;
}

}  // namespace

OperationResult DailyRepair::RepairDailyFiles() {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  const int today = MarketToday();
  int repaired = 0;
  const WalkEnd end =
      VisitSecurityFiles(*this, daily_.List(layout_, kAllMarkets, "", true), kRepairTexts,
                         [&](const SecurityFile& file) { repaired += RepairDailyFile(file, today) ? 1 : 0; });
  if (repaired > 0) FlushTree(layout_);
  return ConcludeWalk(end, kRepairTexts, "修复日线完成, 共修复" + std::to_string(repaired) + "个文件!");
}

bool DailyRepair::RepairDailyFile(const SecurityFile& file, int today) {
  FileSystem& files = layout_.Files();
  const std::string name = kMarketPrefix[file.market] + file.code;
  auto failed = [this](const char* format, const std::string& name) {
    layout_.Reports().ReportF(format, name.c_str());
    NoteFailure();
    return false;
  };
  if (!file.regular) return failed("%s日线文件不是普通文件, 无法修复!", name);
  File in = files.Open(file.path, OpenMode::kReadRegular);
  const int64_t length = in ? in.Length() : -1;
  if (length < 0 || !daily_.Read(in, static_cast<std::size_t>(length))) {
    daily_.OpenFailed(file.market, file.code);
    NoteFailure();
    return false;
  }
  in.Close();
  const std::size_t records = static_cast<std::size_t>(length) / kDailyRecordSize;
  if (DailyFiles::WholeRecords(length) && DailyDatesSound(daily_.Buffer().data(), records, today)) return false;
  DailyMend mend;
  const std::vector<uint8_t> mended = MendRecords(daily_.Buffer(), length, today, &mend);
  // Not one record to keep: whatever the file is, it stays for the user to judge.
  if (mended.empty() && records > 0) return failed("%s日线文件没有可用的记录, 未修复!", name);
  const bool written = mended.empty() ? files.Remove(file.path)
                                      : ReplaceDailyFile(files, layout_.DailyTemp(file.market), file.path,
                                                         mended.data(), mended.size());
  if (!written) return failed("%s日线文件写入失败, 未修复!", name);
  if (mended.empty()) {
    layout_.Reports().ReportF("%s日线文件没有记录, 已删除!", name.c_str());
    return true;
  }
  layout_.Reports().ReportF("%s日线文件已修复: %s", name.c_str(), mend.Describe().c_str());
  const File repaired = files.Open(layout_.DailyFile(file.market, file.code), OpenMode::kRead);
  if (!daily_.Check(repaired, file.market, file.code, MarketToday())) NoteFailure();
  return true;
}

}  // namespace marbloom
