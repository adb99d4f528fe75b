#include "download/download_run.h"

#include <algorithm>

#include "base/run_log.h"
#include "common/calendar.h"
#include "common/date_range.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "daily/daily_engine.h"
#include "download/archive_unpack.h"
#include "download/download_config.h"
#include "tickdata/tick_engine.h"

namespace marbloom {

DownloadRun::DownloadRun(DataLayout layout, std::string baseUrl, bool buildMinutes, MinuteOptions minuteOptions)
    : layout_(layout), buildMinutes_(buildMinutes), minuteOptions_(minuteOptions),
      client_(std::move(layout), std::move(baseUrl)) {}

DownloadRun::~DownloadRun() = default;

void DownloadRun::Reset() {
  cancelled_.store(false);
  stopAll_.store(false);
  client_.Reset();
  std::lock_guard<std::mutex> lock(engineMutex_);
  pendingCancel_ = false;
}

void DownloadRun::Cancel() {
  cancelled_.store(true);
  client_.Cancel();
  std::lock_guard<std::mutex> lock(engineMutex_);
  if (engine_ != nullptr)
    engine_->Cancel();
  else if (converting_)
    pendingCancel_ = true;
}

void DownloadRun::CancelAll() {
  stopAll_.store(true);
  Cancel();
}

OperationResult DownloadRun::Run(const DownloadRequest& request) {
  if (!DataTreeReady) {
    SetStatusText(kDataGuardMessage);
    return OperationResult{Outcome::kFailed, kDataGuardMessage, 0};
  }
  const int kind = request.kind == kDownloadTick ? kDownloadTick : kDownloadDaily;
  const int first = std::max(LocalDateOf(request.firstTime), kFirstSupportedDate);
  const int last = LocalDateOf(request.lastTime);
  const DateRangeCheck check =
      CheckDateRange(first, last, SpanDays(request.firstTime, request.lastTime), true);
  if (check != DateRangeCheck::kOk) return Refuse(DateRangeMessage(check));

  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  ReportF("%s", kStartingDownloadMessage);
  if (!DownloadConfigLoaded && !LoadDownloadConfig(client_)) {
    ReportF("%s", kConfigFailedMessage);
    return Finish(Outcome::kFailed, kConfigFailedMessage, 1);
  }
  const Downloads got = DownloadDays(kind, first, last);
  ReportF("%s", kDownloadFinishedMessage);
  const Outcome outcome = got.failedDays > 0 ? Outcome::kFailed : Outcome::kDone;
  if (got.first == 0)
    return Finish(got.failedDays > 0 ? Outcome::kFailed : Outcome::kNothingToDo, kDownloadFinishedMessage,
                  got.failedDays);
  // After a cancel of the whole run no conversion step starts.
  if (!request.convert || stopAll_.load()) return Finish(outcome, kDownloadFinishedMessage, got.failedDays);
  OperationResult conversion = Convert(kind, got.first, got.last);
  if (conversion.outcome == Outcome::kNothingToDo) {  // days obtained, and none of them reached the tree
    for (int day : got.days) RunLog("%08d的数据未能转档!", day);
    conversion.outcome = Outcome::kFailed;
    conversion.failedItems += static_cast<int>(got.days.size());
  }
  const OperationResult converted = CombineSteps(OperationResult{outcome, "", got.failedDays}, conversion);
  return Finish(converted.outcome, converted.message, converted.failedItems);
}

OperationResult DownloadRun::ConvertDays(int kind, int first, int last) {
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  const OperationResult result = Convert(kind == kDownloadTick ? kDownloadTick : kDownloadDaily, first, last);
  const Outcome outcome = result.outcome == Outcome::kNothingToDo ? Outcome::kFailed : result.outcome;
  return Finish(outcome, result.message, result.failedItems);
}

OperationResult DownloadRun::Refuse(const char* message) {
  ReportF("%s", message);
  if (onFocusFirstDate) onFocusFirstDate();
  return OperationResult{Outcome::kInvalid, message, 0};
}

OperationResult DownloadRun::Finish(Outcome outcome, std::string message, int failedItems) {
  if (cancelled_.load()) outcome = Outcome::kCancelled;
  return OperationResult{outcome, std::move(message), failedItems};
}

// Every weekday of the range; the first and last day obtained.
DownloadRun::Downloads DownloadRun::DownloadDays(int kind, int first, int last) {
  Downloads got;
  if (cancelled_.load()) return got;
  int weekdays = 0, done = 0;  // for onDay
  for (int day = first; day != 0 && day <= last; day = NextTradingDay(day)) weekdays += DayOfWeek(day) % 6 != 0;
  for (int day = first; day != 0 && day <= last; day = NextTradingDay(day)) {
    const int weekday = DayOfWeek(day);
    if (weekday == 6 || weekday == 0) {
      ReportF("%s", kWeekendMessage);
    } else {
      if (onDay) onDay(++done, weekdays, day);
      ReportF(kind == kDownloadTick ? "正在下载%08d四代分笔数据文件..." : "正在下载%08d四代日线数据文件...", day);
      const int result = client_.StartDownload(kind, day);
      if (result > 0) {
        if (got.first == 0) got.first = day;
        got.last = day;
        got.days.push_back(day);
      } else if (result != kDownloadCancelled && !client_.LastWasMissing()) {
        ++got.failedDays;
      }
    }
    if (cancelled_.load()) break;
  }
  return got;
}

OperationResult DownloadRun::Convert(int kind, int first, int last) {
  {
    std::lock_guard<std::mutex> lock(engineMutex_);
    converting_ = true;
    pendingCancel_ = false;
  }
  if (onConverting) onConverting();
  OperationResult result;
  if (kind == kDownloadDaily) {
    result = RunEngine(std::make_unique<DailyEngine>(layout_),
                       [&](DailyEngine& e) { return e.ConvertDailyRange(first, last); });
  } else {
    result = RunEngine(std::make_unique<TickEngine>(layout_),
                       [&](TickEngine& e) { return e.ConvertTickRange(first, last); });
    if (buildMinutes_) {
      const OperationResult minutes = RunEngine(std::make_unique<MinuteEngine>(layout_, minuteOptions_),
                                                [&](MinuteEngine& e) { return e.BuildMinuteLines(first, last); });
      result = CombineSteps(result, minutes);
    }
  }
  std::lock_guard<std::mutex> lock(engineMutex_);
  converting_ = false;
  return result;
}

// The engine is reachable by Cancel from before it starts until after it
// ends, and destroyed only once it is not.
template <class Engine, class Step>
OperationResult DownloadRun::RunEngine(std::unique_ptr<Engine> engine, Step step) {
  {
    std::lock_guard<std::mutex> lock(engineMutex_);
    engine->Reset();
    if (pendingCancel_ || stopAll_.load()) engine->Cancel();
    pendingCancel_ = false;
    engine_ = engine.get();
  }
  OperationResult result = step(*engine);
  std::lock_guard<std::mutex> lock(engineMutex_);
  engine_ = nullptr;
  return result;
}

}  // namespace marbloom
