#include "download/catch_up.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "base/text_encoding.h"
#include "common/calendar.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "download/archive_unpack.h"

namespace marbloom {
namespace {

OperationResult Reported(Reporter& reporter, Outcome outcome, const std::string& message, int failedItems = 0) {
  reporter.ReportF("%s", message.c_str());
  return OperationResult{outcome, message, failedItems};
}

}  // namespace

// The tick kind run on a thread of its own while the daily kind converts.
class CatchUp::KindAhead {
 public:
  explicit KindAhead(std::function<OperationResult()> work)
      : thread_([this, work = std::move(work)] { result_ = work(); }) {}
  ~KindAhead() { Join(); }

  OperationResult Join() {
    if (thread_.joinable()) thread_.join();
    return result_;
  }

 private:
  OperationResult result_;
  std::thread thread_;  // last: it starts once the members it uses exist
};

DownloadRunSetup CatchUp::SetupFor(DownloadKind kind, DownloadRunSetup setup) {
  setup.flush = &flush_;
  if (kind == DownloadKind::kTick) setup.layout = setup.layout.WithReporter(tickReports_);
  return setup;
}

CatchUp::CatchUp(DownloadRunSetup setup)
    : layout_(setup.layout),
      tickReports_(setup.layout.Reports()),
      dailyRun_(SetupFor(DownloadKind::kDaily, setup)),
      tickRun_(SetupFor(DownloadKind::kTick, setup)) {}

CatchUp::~CatchUp() = default;

Reporter& CatchUp::ReportsOf(DownloadKind kind) {
  return kind == DownloadKind::kTick ? static_cast<Reporter&>(tickReports_) : layout_.Reports();
}

void CatchUp::Reset() {
  dailyRun_.Reset();
  tickRun_.Reset();
}

void CatchUp::CancelAll() {
  dailyRun_.CancelAll();
  tickRun_.CancelAll();
}

// The tick kind starts while the daily kind converts its last days; one
// flush of the tree ends the whole update, and only then does the state file
// take the days converted.
OperationResult CatchUp::Run(const CatchUpRequest& request) {
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  stateFailures_ = 0;
  std::unique_ptr<KindAhead> ahead;
  OperationResult result{Outcome::kNothingToDo, "", 0};
  std::string message;
  for (const DownloadKind kind : {DownloadKind::kDaily, DownloadKind::kTick}) {
    if (!(kind == DownloadKind::kDaily ? request.daily : request.tick)) continue;
    OperationResult one;
    if (kind == DownloadKind::kTick && ahead) {
      one = ahead->Join();
    } else if (kind == DownloadKind::kTick) {
      tickReports_.Release();
      one = UpdateKind(kind, request, [](bool) {});
    } else {
      one = UpdateKind(kind, request, [&](bool lastRun) {
        if (request.tick && lastRun && !ahead)
          ahead = std::make_unique<KindAhead>([this, &request] {
            return UpdateKind(DownloadKind::kTick, request, [this](bool) { tickReports_.WaitReleased(); });
          });
      });
      tickReports_.Release();  // the daily kind has ended: the tick kind's lines follow
    }
    if (one.outcome == Outcome::kCancelled) {
      CancelAll();
      tickReports_.Release();
      if (ahead) ahead->Join();
      SettleCommits();
      return one;
    }
    message += (message.empty() ? "" : " ") + one.message;
    result = CombineSteps(result, one);
  }
  if (const OperationResult settled = SettleCommits(); !settled.done()) result = CombineSteps(settled, result);
  std::lock_guard<std::mutex> guard(stateMutex_);
  if (stateFailures_ > 0) result = CombineSteps(result, OperationResult{Outcome::kFailed, "", stateFailures_});
  result.message = message;
  return result;
}

OperationResult CatchUp::UpdateKind(DownloadKind kind, const CatchUpRequest& request, const BeforeConverting& beforeConverting) {
  DownloadRun& run = this->run(kind);
  Reporter& reports = ReportsOf(kind);
  const CatchUpPlan plan = PlanCatchUp(layout_, kind, request);
  for (const std::string& line : DescribePlan(plan, request.now)) reports.ReportF("%s", line.c_str());
  const char* name = CatchUpKindName(kind);
  const CatchUpState stored = ReadCatchUpState(layout_, kind);
  CatchUpState state = stored;
  if (plan.lastComplete.source != LastDaySource::kState) state = CatchUpState{true, plan.lastComplete.date, 0};
  if (!stored.known || state.last != stored.last) Save(kind, state);
  if (plan.runs.empty()) return Reported(reports, Outcome::kDone, FormatText("%s已是最新(%08d).", name, state.last));

  std::vector<int> missing;  // days the server lacks, with no later day obtained yet
  for (const DayRange& range : plan.runs) {
    std::vector<int> obtained;
    OperationResult stop;
    int stopDay = 0;
    for (int day = range.first; day != 0 && day <= range.last; day = NextTradingDay(day)) {
      const OperationResult got = run.Run(DownloadRequest{kind, LocalNoonOf(day), LocalNoonOf(day), false});
      if (got.outcome == Outcome::kNothingToDo) {
        missing.push_back(day);
        continue;
      }
      if (!got.done()) {
        stop = got;
        stopDay = day;
        break;
      }
      for (const int holiday : missing) reports.LogF("服务器没有%08d的数据而有其后的, 按节假日跳过.", holiday);
      missing.clear();
      obtained.push_back(day);
    }
    if (stop.outcome == Outcome::kCancelled) return stop;  // the days obtained stay unconverted
    if (!obtained.empty()) {
      beforeConverting(&range == &plan.runs.back());
      int failedDay = 0;
      const OperationResult converted = Convert(kind, obtained, state, &failedDay);
      if (converted.outcome == Outcome::kCancelled) return converted;
      if (!converted.done()) {
        stop = converted;
        stopDay = failedDay;
      }
    }
    if (stopDay != 0) {
      const std::string message = FormatText("%s在%08d未能完成, 之前的日期均已保留, 下次更新从该日继续.", name, stopDay);
      return Reported(reports, stop.outcome, message, std::max(1, stop.failedItems));
    }
  }
  if (missing.empty()) return Reported(reports, Outcome::kDone, FormatText("%s已更新到%08d.", name, state.last));
  if (missing.front() >= OldestUnpublishedDay(request.now))
    return Reported(reports, Outcome::kDone, FormatText("%s已更新到%08d; 服务器尚未发布%08d的数据, 下次更新再取.", name,
                                               state.last, missing.front()));
  // Too old to be unpublished, and no later day to make it a holiday: the
  // server, or the path the configuration gives, lacks it.
  const std::string url = run.ShownDayUrl(kind, missing.front());
  return Reported(reports, Outcome::kFailed,
                  FormatText("%s在%08d未能完成: 服务器没有该日及其后的数据(%s), 之前的日期均已保留, 下次更新从该日继续.",
                             name, missing.front(), url.c_str()),
                  1);
}

// One batch; a batch that fails is done again day by day, so that every day
// before the one that fails is recorded. The days converted are committed
// to the state file after the flush that puts them on disk.
OperationResult CatchUp::Convert(DownloadKind kind, const std::vector<int>& days, CatchUpState& state, int* failedDay) {
  // The batch before, of a plan of several runs, is settled first: the state
  // file never names a day later than the days on disk.
  if (const OperationResult settled = CommitPending(kind) ? SettleCommits() : OperationResult{}; !settled.done()) {
    *failedDay = days.front();
    return settled;
  }
  state.trying = std::max(state.trying, days.back());
  Save(kind, state);
  OperationResult result = run(kind).ConvertDays(kind, days.front(), days.back());
  if (result.outcome == Outcome::kFailed && days.size() > 1) {
    for (const int day : days) {
      result = run(kind).ConvertDays(kind, day, day);
      if (!result.done()) {
        *failedDay = day;
        return result;
      }
      state.last = std::max(state.last, day);
      Commit(kind, state);
    }
  } else if (!result.done()) {
    *failedDay = days.front();
    return result;
  }
  state.last = std::max(state.last, days.back());
  if (state.trying <= days.back()) state.trying = 0;
  Commit(kind, state);
  return result;
}

void CatchUp::Save(DownloadKind kind, const CatchUpState& state) {
  std::lock_guard<std::mutex> guard(stateMutex_);
  if (WriteCatchUpState(layout_, kind, state)) return;
  ReportsOf(kind).LogF("写入%s失败!", layout_.UpdateStateFile().c_str());
  ++stateFailures_;
}

void CatchUp::Commit(DownloadKind kind, const CatchUpState& state) {
  std::lock_guard<std::mutex> guard(stateMutex_);
  committed_[kind == DownloadKind::kTick] = state;
}

bool CatchUp::CommitPending(DownloadKind kind) {
  std::lock_guard<std::mutex> guard(stateMutex_);
  return committed_[kind == DownloadKind::kTick].has_value();
}

// The flush owed by the conversions so far, then the states they committed;
// after a failed flush the states keep their trying day, so that the next
// update does those days again.
OperationResult CatchUp::SettleCommits() {
  const OperationResult flushed = SettleFlush(flush_, layout_);
  for (const DownloadKind kind : {DownloadKind::kDaily, DownloadKind::kTick}) {
    std::optional<CatchUpState> state;
    {
      std::lock_guard<std::mutex> guard(stateMutex_);
      state = std::exchange(committed_[kind == DownloadKind::kTick], std::nullopt);
    }
    if (state && flushed.done()) Save(kind, *state);
  }
  return flushed;
}

}  // namespace marbloom
