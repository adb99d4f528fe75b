#include "daily/daily_closing.h"

#include <string>
#include <utility>

#include "base/text_encoding.h"
#include "common/shared_state.h"

namespace marbloom {

OperationResult CloseDailyOperation(Reporter& reporter, DailyClosing operation, OperationResult result) {
  // A modify or merge that failed or was cancelled keeps its own line: the
  // page's closing message would tell it was done.
  const bool ended = result.outcome == Outcome::kDone || result.outcome == Outcome::kNothingToDo;
  if (!ended && operation != DailyClosing::kCheck) return result;
  switch (operation) {
    case DailyClosing::kModify: return CloseWithMessage(reporter, std::move(result), "修改个股多日日线数据处理完毕!");
    case DailyClosing::kCheck: {
      const std::string message = FormatText("共有%d支股票日线文件出错，细节参看日志!", result.failedItems);
      return CloseWithMessage(reporter, std::move(result), message);
    }
    case DailyClosing::kMerge: return CloseWithMessage(reporter, std::move(result), "个股日线合并处理完毕!");
  }
  return result;
}

}  // namespace marbloom
