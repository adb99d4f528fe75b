#include "download/catch_up.h"

#include <algorithm>

#include "base/run_log.h"
#include "base/text_encoding.h"
#include "common/calendar.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "download/archive_unpack.h"

namespace marbloom {
namespace {

OperationResult Reported(Outcome outcome, const std::string& message, int failedItems = 0) {
  ReportF("%s", message.c_str());
  return OperationResult{outcome, message, failedItems};
}

}  // namespace

CatchUp::CatchUp(DownloadRunSetup setup) : layout_(setup.layout), run_(std::move(setup)) {}

OperationResult CatchUp::Run(const CatchUpRequest& request) {
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  stateFailures_ = 0;
  OperationResult result{Outcome::kNothingToDo, "", 0};
  std::string message;
  for (const int kind : {kDownloadDaily, kDownloadTick}) {
    if (!(kind == kDownloadDaily ? request.daily : request.tick)) continue;
    const CatchUpPlan plan = PlanCatchUp(layout_, kind, request);
    for (const std::string& line : DescribePlan(plan, request.now)) ReportF("%s", line.c_str());
    const OperationResult one = UpdateKind(plan);
    if (one.outcome == Outcome::kCancelled) return one;
    message += (message.empty() ? "" : " ") + one.message;
    result = CombineSteps(result, one);
  }
  if (stateFailures_ > 0) result = CombineSteps(result, OperationResult{Outcome::kFailed, "", stateFailures_});
  result.message = message;
  return result;
}

OperationResult CatchUp::UpdateKind(const CatchUpPlan& plan) {
  const int kind = plan.kind;
  const char* name = CatchUpKindName(kind);
  const CatchUpState stored = ReadCatchUpState(layout_, kind);
  CatchUpState state = stored;
  if (plan.lastComplete.source != LastDaySource::kState) state = CatchUpState{true, plan.lastComplete.date, 0};
  if (!stored.known || state.last != stored.last) Save(kind, state);
  if (plan.runs.empty()) return Reported(Outcome::kDone, FormatText("%s已是最新(%08d).", name, state.last));

  std::vector<int> missing;  // days the server lacks, with no later day obtained yet
  for (const DayRange& range : plan.runs) {
    std::vector<int> obtained;
    OperationResult stop;
    int stopDay = 0;
    for (int day = range.first; day != 0 && day <= range.last; day = NextTradingDay(day)) {
      const OperationResult got = run_.Run(DownloadRequest{kind, LocalNoonOf(day), LocalNoonOf(day), false});
      if (got.outcome == Outcome::kNothingToDo) {
        missing.push_back(day);
        continue;
      }
      if (!got.done()) {
        stop = got;
        stopDay = day;
        break;
      }
      for (const int holiday : missing) RunLog("服务器没有%08d的数据而有其后的, 按节假日跳过.", holiday);
      missing.clear();
      obtained.push_back(day);
    }
    if (stop.outcome == Outcome::kCancelled) return stop;  // the days obtained stay unconverted
    if (!obtained.empty()) {
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
      return Reported(stop.outcome, message, std::max(1, stop.failedItems));
    }
  }
  if (!missing.empty())
    return Reported(Outcome::kDone, FormatText("%s已更新到%08d; 服务器尚未发布%08d的数据, 下次更新再取.", name,
                                               state.last, missing.front()));
  return Reported(Outcome::kDone, FormatText("%s已更新到%08d.", name, state.last));
}

// One batch; a batch that fails is done again day by day, so that every day
// before the one that fails is recorded.
OperationResult CatchUp::Convert(int kind, const std::vector<int>& days, CatchUpState& state, int* failedDay) {
  state.trying = std::max(state.trying, days.back());
  Save(kind, state);
  OperationResult result = run_.ConvertDays(kind, days.front(), days.back());
  if (result.outcome == Outcome::kFailed && days.size() > 1) {
    for (const int day : days) {
      result = run_.ConvertDays(kind, day, day);
      if (!result.done()) {
        *failedDay = day;
        return result;
      }
      state.last = std::max(state.last, day);
      Save(kind, state);
    }
  } else if (!result.done()) {
    *failedDay = days.front();
    return result;
  }
  state.last = std::max(state.last, days.back());
  if (state.trying <= days.back()) state.trying = 0;
  Save(kind, state);
  return result;
}

void CatchUp::Save(int kind, const CatchUpState& state) {
  if (WriteCatchUpState(layout_, kind, state)) return;
  RunLog("写入%s失败!", layout_.UpdateStateFile().c_str());
  ++stateFailures_;
}

}  // namespace marbloom
