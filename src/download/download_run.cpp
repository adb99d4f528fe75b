#include "download/download_run.h"

#include <algorithm>

#include "base/text_encoding.h"
#include "common/calendar.h"
#include "common/date_range.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "daily/daily_conversion.h"
#include "download/archive_unpack.h"
#include "tickdata/tick_engine.h"

namespace marbloom {

DownloadRun::DownloadRun(DownloadRunSetup setup)
    : setup_(std::move(setup)),
      client_(setup_.layout, setup_.server),
      flush_(setup_.flush != nullptr ? *setup_.flush : ownFlush_) {}

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

DownloadRunResult DownloadRun::Run(const DownloadRequest& request) {
  if (!setup_.treeReady) {
    Reports().Status(kDataGuardMessage);
    return DownloadRunResult{{Outcome::kFailed, kDataGuardMessage, 0}, {}};
  }
  const DownloadKind kind = request.kind == DownloadKind::kTick ? DownloadKind::kTick : DownloadKind::kDaily;
  const int first = std::max(LocalDateOf(request.firstTime), kFirstSupportedDate);
  const int last = LocalDateOf(request.lastTime);
  const DateRangeCheck check =
      CheckDateRange(first, last, SpanDays(request.firstTime, request.lastTime), true);
  if (check != DateRangeCheck::kOk) return Refuse(DateRangeMessage(check));

  TreeWriteLock lock(setup_.layout);
  if (!lock.held()) return DownloadRunResult{lock.Refuse(), {}};
  Reports().ReportF("%s", kStartingDownloadMessage);
  if (const OperationResult config = LoadConfig(); !config.done()) {
    if (config.outcome == Outcome::kCancelled) return Finish(config, {});
    Reports().ReportF("%s", kConfigFailedMessage);
    return Finish(OperationResult{Outcome::kFailed, kConfigFailedMessage, 1}, {});
  }
  std::vector<DownloadDay> days = DownloadDays(kind, first, last);
  const DayTally tally = TallyDays(days);
  const OperationResult downloads = CloseDownloads(tally);
  // After a cancel of the whole run no conversion step starts.
  if (tally.obtained == 0 || !request.convert || stopAll_.load()) return Finish(downloads, std::move(days));
  OperationResult result = CombineSteps(downloads, ConvertObtained(kind, tally, days));
  // The closing line tells how many days came and what each conversion step did.
  result.message = downloads.outcome != Outcome::kDone
                       ? downloads.message
                       : FormatText(kDaysObtainedFormat, tally.obtained) + result.message;
  return Finish(std::move(result), std::move(days));
}

// The download loop's closing line: the cancel (shown once), the count of
// the days that failed, or "下载完成!".
OperationResult DownloadRun::CloseDownloads(const DayTally& tally) {
  if (cancelled_.load()) {
    if (!tally.cancelShown) Reports().ReportF("%s", kDownloadCancelledMessage);
    return OperationResult{Outcome::kCancelled, kDownloadCancelledMessage, tally.failed};
  }
  if (tally.failed > 0) {
    const std::string message = FormatText(kDaysFailedFormat, tally.failed);
    Reports().ReportF("%s", message.c_str());
    return OperationResult{Outcome::kFailed, message, tally.failed};
  }
  Reports().ReportF("%s", kDownloadFinishedMessage);
  return OperationResult{tally.obtained > 0 ? Outcome::kDone : Outcome::kNothingToDo, kDownloadFinishedMessage, 0};
}

OperationResult DownloadRun::ConvertDays(DownloadKind kind, int first, int last) {
  TreeWriteLock lock(setup_.layout);
  if (!lock.held()) return lock.Refuse();
  OperationResult result = Convert(kind == DownloadKind::kTick ? DownloadKind::kTick : DownloadKind::kDaily, first, last);
  if (result.outcome == Outcome::kNothingToDo) result.outcome = Outcome::kFailed;
  return Finish(std::move(result), {});
}

// Converts the range from the first to the last day obtained and marks the
// days that reached the tree; a conversion that found nothing of them fails.
OperationResult DownloadRun::ConvertObtained(DownloadKind kind, const DayTally& tally, std::vector<DownloadDay>& days) {
  OperationResult conversion = Convert(kind, tally.first, tally.last);
  if (conversion.outcome == Outcome::kNothingToDo) {
    for (const DownloadDay& day : days)
      if (day.fetched.done()) Reports().LogF("%08d的数据未能转档!", day.date);
    conversion.outcome = Outcome::kFailed;
    conversion.failedItems += tally.obtained;
  }
  for (DownloadDay& day : days) day.reachedTree = day.fetched.done() && conversion.done();
  return conversion;
}

// A day the server has not got is no failure, nor is a cancelled one.
DownloadRun::DayTally DownloadRun::TallyDays(const std::vector<DownloadDay>& days) {
  DayTally tally;
  for (const DownloadDay& day : days) {
    if (day.fetched.done()) {
      if (tally.obtained++ == 0) tally.first = day.date;
      tally.last = day.date;
    }
    tally.failed += day.fetched.outcome == Outcome::kFailed || day.fetched.outcome == Outcome::kBusy;
  }
  tally.cancelShown = !days.empty() && days.back().fetched.outcome == Outcome::kCancelled;
  return tally;
}

// The configuration the front keeps, or a fresh one from the server, which
// the front then keeps.
OperationResult DownloadRun::LoadConfig() {
  if (setup_.config != nullptr) {
    if (std::optional<DownloadConfig> kept = setup_.config->Get()) {
      client_.SetConfig(std::move(*kept));
      return OperationResult{};
    }
  }
  OperationResult loaded = LoadDownloadConfig(client_);
  if (loaded.done() && setup_.config != nullptr) setup_.config->Keep(client_.config());
  return loaded;
}

DownloadRunResult DownloadRun::Refuse(const char* message) {
  Reports().ReportF("%s", message);
  if (onFocusFirstDate) onFocusFirstDate();
  return DownloadRunResult{{Outcome::kInvalid, message, 0}, {}};
}

DownloadRunResult DownloadRun::Finish(OperationResult result, std::vector<DownloadDay> days) {
  if (cancelled_.load()) result.outcome = Outcome::kCancelled;
  return DownloadRunResult{std::move(result), std::move(days)};
}

// Every weekday of the range, in date order, until a cancel.
std::vector<DownloadDay> DownloadRun::DownloadDays(DownloadKind kind, int first, int last) {
  std::vector<DownloadDay> days;
  if (cancelled_.load()) return days;
  int weekdays = 0, done = 0;  // for onDay
  for (int day = first; day != 0 && day <= last; day = NextTradingDay(day)) weekdays += DayOfWeek(day) % 6 != 0;
  for (int day = first; day != 0 && day <= last; day = NextTradingDay(day)) {
    const int weekday = DayOfWeek(day);
    if (weekday == 6 || weekday == 0) {
      Reports().ReportF("%s", kWeekendMessage);
    } else {
      if (onDay) onDay(++done, weekdays, day);
      Reports().ReportF(kind == DownloadKind::kTick ? "正在下载%08d四代分笔数据文件..." : "正在下载%08d四代日线数据文件...", day);
      days.push_back(DownloadDay{day, client_.StartDownload(kind, day), false});
    }
    if (cancelled_.load()) break;
  }
  return days;
}

OperationResult DownloadRun::Convert(DownloadKind kind, int first, int last) {
  {
    std::lock_guard<std::mutex> lock(engineMutex_);
    converting_ = true;
    pendingCancel_ = false;
  }
  if (onConverting) onConverting();
  OperationResult result;
  if (kind == DownloadKind::kDaily) {
    result = RunEngine(std::make_unique<DailyConversion>(setup_.layout),
                       [&](DailyConversion& e) { return e.ConvertDailyRange(first, last); });
  } else {
    // The minute files of each converted security are built while its blocks
    // are in hand; the minute step then reports them in its own order.
    auto minuteEngine =
        setup_.buildMinutes ? std::make_unique<MinuteEngine>(setup_.layout, setup_.minuteOptions) : nullptr;
    auto tickEngine = std::make_unique<TickEngine>(setup_.layout);
    tickEngine->FollowWithMinutes(minuteEngine.get());
    result = RunEngine(std::move(tickEngine), [&](TickEngine& e) { return e.ConvertTickRange(first, last); });
    if (minuteEngine) {
      const OperationResult minutes =
          RunEngine(std::move(minuteEngine), [&](MinuteEngine& e) { return e.BuildMinuteLines(first, last); });
      const std::string ticks = result.message;
      result = CombineSteps(result, minutes);
      if (!ticks.empty() && !minutes.message.empty()) result.message = ticks + " " + minutes.message;
    }
  }
  {
    std::lock_guard<std::mutex> lock(engineMutex_);
    converting_ = false;
  }
  if (setup_.flush != nullptr) return result;
  const OperationResult flushed = SettleFlush(flush_, setup_.layout);
  return flushed.done() ? result : CombineSteps(flushed, result);
}

OperationResult SettleFlush(DeferredFlush& flush, const DataLayout& layout) {
  if (flush.Settle(layout)) return OperationResult{};
  return OperationResult{Outcome::kFailed, "", 1};
}

// The engine is reachable by Cancel from before it starts until after it
// ends, and destroyed only once it is not.
template <class Engine, class Step>
OperationResult DownloadRun::RunEngine(std::unique_ptr<Engine> engine, Step step) {
  {
    std::lock_guard<std::mutex> lock(engineMutex_);
    engine->Reset();
    engine->DeferFlushTo(&flush_);
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
