#include "common/operation_engine.h"

#include "base/text_encoding.h"
#include "common/calendar.h"
#include "common/security_walk.h"
#include "common/shared_state.h"

namespace marbloom {

namespace {

bool FlushHistoryTree(const DataLayout& layout) {
  if (layout.Files().SyncFileSystem(layout.HistoryDir())) return true;
  layout.Reports().LogF("%s数据写入磁盘失败!", layout.HistoryDir().c_str());
  return false;
}

}  // namespace

std::string FailedClosing(const std::string& message, int failures) {
  const std::size_t done = message.find("完成");
  if (done == std::string::npos || failures <= 0 || message.find("未能") != std::string::npos) return message;
  return FormatText("%s未能全部完成, 有%d项出错, 细节参看日志!", message.substr(0, done).c_str(), failures);
}

bool DeferredFlush::Settle(const DataLayout& layout) { return !owed_.exchange(false) || FlushHistoryTree(layout); }

void OperationEngine::FlushTree(const DataLayout& layout) {
  if (deferredFlush_ != nullptr)
    deferredFlush_->Owe();
  else if (!FlushHistoryTree(layout))
    NoteFailure();
}

OperationResult OperationEngine::ConcludeWalk(WalkEnd end, const WalkTexts& texts, std::string done) {
  switch (end) {
    case WalkEnd::kNoFiles: return Conclude(Outcome::kNothingToDo, texts.nothingFound);
    case WalkEnd::kCancelled: return Conclude(Outcome::kCancelled, texts.cancelled);
    case WalkEnd::kDone: break;
  }
  return ConcludeShown(Outcome::kDone, std::move(done), false);
}

int OperationEngine::MarketToday() const { return MarketTimeAt(now_ != 0 ? now_ : std::time(nullptr)).date; }

OperationResult OperationEngine::ConcludeShown(Outcome outcome, std::string message, bool log) {
  OperationResult result = Conclude(outcome, std::move(message));
  if (result.outcome == Outcome::kFailed && outcome == Outcome::kDone)
    result.message = FailedClosing(result.message, failures_);
  if (log)
    Reports().ReportF("%s", result.message.c_str());
  else
    Reports().Status(result.message);
  return result;
}

}  // namespace marbloom
