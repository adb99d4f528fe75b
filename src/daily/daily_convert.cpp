// Daily conversion: the downloaded source pairs of a date range become one
// record per security in each daily file.
#include <cstdio>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "app/settings.h"
#include "common/calendar.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "daily/daily_conversion_rules.h"
#include "daily/daily_engine.h"
#include "daily/daily_io.h"

namespace marbloom {
namespace {

enum DayResult { kMalformed = 0, kHandled = 1, kCancelled = 2 };

std::string SourcePath(int market, int date, const char* extension) {
  char path[1024];
  std::snprintf(path, sizeof path, "%srefmhq/%s%06d.%s", Settings().historyDir.c_str(), kMarketPrefix[market],
                date % 1000000, extension);
  return path;
}

bool IsWellFormedPair(int64_t codeLength, int64_t quoteLength) {
  if (codeLength < 0 || quoteLength < 0) return false;
  const int64_t n = codeLength / static_cast<int64_t>(kCodeListRecordSize);
  return quoteLength % static_cast<int64_t>(kQuoteRecordSize) == 0 &&
         codeLength % static_cast<int64_t>(kCodeListRecordSize) == 0 && n >= 1 &&
         quoteLength >= static_cast<int64_t>(kQuoteRecordSize) &&
         n == quoteLength / static_cast<int64_t>(kQuoteRecordSize);
}

}  // namespace

int DailyEngine::ConvertDailyRange(int first, int last) {
  if (last < first) return 0;
  for (int date = first; date != 0 && date <= last;) {
    if (ConvertDailyDay(date) == kCancelled) {
      SetStatusText("日线转档被取消!");
      return 2;
    }
    const int next = NextTradingDay(date);
    if (next <= date) break;
    date = next;
  }
  SetStatusText("日线转档完成!");
  return 1;
}

int DailyEngine::ConvertDailyDay(int date) {
  for (int market = 0; market < kMarketCount; ++market) {
    const int result = ConvertMarketDay(market, date);
    if (result != kHandled) return result;
  }
  return kHandled;
}

int DailyEngine::ConvertMarketDay(int market, int date) {
  const std::string codePath = SourcePath(market, date, "cod");
  const std::string quotePath = SourcePath(market, date, "md1");
  UniqueFd codeFile = OpenForReading(codePath);
  if (!codeFile) {
    ReportF("找不到文件%s", codePath.c_str());
    return kHandled;
  }
  UniqueFd quoteFile = OpenForReading(quotePath);
  if (!quoteFile) {
    ReportF("找不到文件:%s", quotePath.c_str());
    return kHandled;
  }
  const int64_t codeLength = FileLength(codeFile.get());
  const int64_t quoteLength = FileLength(quoteFile.get());
  if (!IsWellFormedPair(codeLength, quoteLength)) {
    RunLog("%s或者%s数据格式异常!", codePath.c_str(), quotePath.c_str());
    return kMalformed;
  }
  if (!ReadPrefix(codeFile.get(), static_cast<std::size_t>(codeLength), kCodeListRecordSize, codeList_) ||
      !ReadPrefix(quoteFile.get(), static_cast<std::size_t>(quoteLength), kQuoteRecordSize, quotes_)) {
    RunLog("读取%s或者%s文件失败!", codePath.c_str(), quotePath.c_str());
    return kHandled;
  }
  codeFile.Close();
  quoteFile.Close();
  ReportF("正在转换%s%.8d日四代日线数据...", kMarketName[market], date);
  return ConvertPair(market, date, codePath);
}

// Stores one record per security of the pair read into the buffers.
int DailyEngine::ConvertPair(int market, int date, const std::string& codePath) {
  const std::size_t n = (codeList_.size() - kCodeListRecordSize) / kCodeListRecordSize;
  bool unsafeCodeLogged = false;
  for (std::size_t k = 0; k < n; ++k) {
    CodeListRecord entry;
    QuoteRecord quote;
    std::memcpy(&entry, codeList_.data() + k * kCodeListRecordSize, sizeof entry);
    std::memcpy(&quote, quotes_.data() + k * kQuoteRecordSize, sizeof quote);
    const std::optional<std::string> code = CodeListCode(entry);
    if (!code) {
      if (!unsafeCodeLogged) RunLog("%s含有不规范的证券代码,已跳过!", codePath.c_str());
      unsafeCodeLogged = true;
      continue;
    }
    const std::optional<DailyRecord> record = MakeDailyRecord(market, *code, entry, quote, static_cast<uint32_t>(date));
    if (!record) continue;
    StoreDailyRecord(market, *code, *record);
    SetProgressFraction(static_cast<double>(k) / static_cast<double>(n));
    if (Cancelled()) {
      ReportF("本次转档日线操作被取消!");
      return kCancelled;
    }
  }
  return kHandled;
}

}  // namespace marbloom
