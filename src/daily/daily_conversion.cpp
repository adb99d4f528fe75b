#include "daily/daily_conversion.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "common/calendar.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "daily/daily_conversion_rules.h"
#include "daily/daily_io.h"

namespace marbloom {
namespace {

bool IsWellFormedPair(int64_t codeLength, int64_t quoteLength) {
  if (codeLength < 0 || quoteLength < 0) return false;
  const int64_t n = codeLength / static_cast<int64_t>(kCodeListRecordSize);
  return quoteLength % static_cast<int64_t>(kQuoteRecordSize) == 0 &&
         codeLength % static_cast<int64_t>(kCodeListRecordSize) == 0 && n >= 1 &&
         quoteLength >= static_cast<int64_t>(kQuoteRecordSize) &&
         n == quoteLength / static_cast<int64_t>(kQuoteRecordSize);
}

}  // namespace

// A range in which no day has any source file converted nothing; a day
// without any is a weekend or holiday, not a failure.
OperationResult DailyConversion::ConvertDailyRange(int first, int last) {
  BeginOperation();
  if (last < first) return Conclude(Outcome::kInvalid, "");
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  bool anySources = false;
  int days = 0;
  for (int date = first; date != 0 && date <= last && NextTradingDay(date) > date; date = NextTradingDay(date)) ++days;
  dayShare_ = 1.0 / std::max(days, 1);
  for (int date = first, day = 0; date != 0 && date <= last; ++day) {
    dayStart_ = std::min(day * dayShare_, 1.0);
    const DailyDayEnd end = ConvertDailyDay(date);
    if (end == DailyDayEnd::kCancelled) {
      dayStart_ = 0, dayShare_ = 1;
      layout_.Reports().Status("日线转档被取消!");
      FlushTree(layout_);
      return Conclude(Outcome::kCancelled, "日线转档被取消!");
    }
    anySources = anySources || end != DailyDayEnd::kNoSources;
    const int next = NextTradingDay(date);
    if (next <= date) break;
    date = next;
  }
  dayStart_ = 0, dayShare_ = 1;
  if (!anySources) return ConcludeShown(Outcome::kNothingToDo, "日线转档完成!", false);
  FlushTree(layout_);
  return ConcludeShown(Outcome::kDone, "日线转档完成!", false);
}

DailyDayEnd DailyConversion::ConvertDailyDay(int date) {
  const bool hasSources = DaySourcesExist(date);
  for (int market = 0; market < kMarketCount; ++market) {
    pairShare_ = dayShare_ / kMarketCount;
    pairStart_ = dayStart_ + market * pairShare_;
    const DailyDayEnd end = ConvertMarketDay(market, date, hasSources);
    if (end != DailyDayEnd::kConverted) return end;
  }
  return hasSources ? DailyDayEnd::kConverted : DailyDayEnd::kNoSources;
}

bool DailyConversion::DaySourcesExist(int date) const {
  FileSystem& files = layout_.Files();
  for (int market = 0; market < kMarketCount; ++market)
    if (files.Exists(layout_.CodeListFile(market, date)) || files.Exists(layout_.QuoteFile(market, date))) return true;
  return false;
}

// A file missing on a day when other source files exist is a failure.
DailyDayEnd DailyConversion::ConvertMarketDay(int market, int date, bool dayHasSources) {
  const std::string codePath = layout_.CodeListFile(market, date);
  const std::string quotePath = layout_.QuoteFile(market, date);
  File codeFile = layout_.Files().Open(codePath, OpenMode::kRead);
  if (!codeFile) {
    layout_.Reports().ReportF("找不到文件%s", codePath.c_str());
    if (dayHasSources) NoteFailure();
    return DailyDayEnd::kConverted;
  }
  File quoteFile = layout_.Files().Open(quotePath, OpenMode::kRead);
  if (!quoteFile) {
    layout_.Reports().ReportF("找不到文件:%s", quotePath.c_str());
    NoteFailure();
    return DailyDayEnd::kConverted;
  }
  const int64_t codeLength = codeFile.Length();
  const int64_t quoteLength = quoteFile.Length();
  if (!IsWellFormedPair(codeLength, quoteLength)) {
    layout_.Reports().LogF("%s或者%s数据格式异常!", codePath.c_str(), quotePath.c_str());
    NoteFailure();
    return DailyDayEnd::kMalformed;
  }
  if (!ReadPrefix(codeFile, static_cast<std::size_t>(codeLength), kCodeListRecordSize, codeList_) ||
      !ReadPrefix(quoteFile, static_cast<std::size_t>(quoteLength), kQuoteRecordSize, quotes_)) {
    layout_.Reports().LogF("读取%s或者%s文件失败!", codePath.c_str(), quotePath.c_str());
    NoteFailure();
    return DailyDayEnd::kConverted;
  }
  codeFile.Close();
  quoteFile.Close();
  layout_.Reports().ReportF("正在转换%s%.8d日四代日线数据...", kMarketName[market], date);
  return ConvertPair(market, date, codePath);
}

// Stores one record per security of the pair read into the buffers. The
// files about to change are named to the file system first, all at once, so
// that the undo journal keeps them with one write and one sync.
DailyDayEnd DailyConversion::ConvertPair(int market, int date, const std::string& codePath) {
  const std::size_t n = (codeList_.size() - kCodeListRecordSize) / kCodeListRecordSize;
  struct Store {
    std::size_t item;
    std::string code;
    DailyRecord record;
  };
  std::vector<Store> stores;
  std::vector<std::string> paths;
  std::size_t unsafeAt = n;  // the first record whose code is unsafe
  for (std::size_t k = 0; k < n; ++k) {
    CodeListRecord entry;
    QuoteRecord quote;
    std::memcpy(&entry, codeList_.data() + k * kCodeListRecordSize, sizeof entry);
    std::memcpy(&quote, quotes_.data() + k * kQuoteRecordSize, sizeof quote);
    const std::optional<std::string> code = CodeListCode(entry);
    if (!code) {
      unsafeAt = std::min(unsafeAt, k);
      continue;
    }
    const std::optional<DailyRecord> record = MakeDailyRecord(market, *code, entry, quote, static_cast<uint32_t>(date));
    if (!record) continue;
    paths.push_back(layout_.DailyFile(market, *code));
    stores.push_back({k, *code, *record});
  }
  // Logged where the records reach it, as a store's failures are.
  auto skippedUnsafe = [&](std::size_t before) {
    if (unsafeAt >= before) return;
    layout_.Reports().LogF("%s含有不规范的证券代码,已跳过!", codePath.c_str());
    NoteFailure();
    unsafeAt = n;
  };
  layout_.Files().BeforeChanges(paths);  // when it fails, each store is kept or refused on its own
  for (std::size_t i = 0; i < stores.size(); ++i) {
    skippedUnsafe(stores[i].item);
    store_.StoreConverted(paths[i], market, stores[i].code, stores[i].record);
    layout_.Reports().Progress(pairStart_ + pairShare_ * static_cast<double>(stores[i].item) / static_cast<double>(n));
    if (Cancelled()) {
      layout_.Reports().ReportF("本次转档日线操作被取消!");
      return DailyDayEnd::kCancelled;
    }
  }
  skippedUnsafe(n);
  return DailyDayEnd::kConverted;
}

}  // namespace marbloom
