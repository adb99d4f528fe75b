#pragma once
// The closing messages of the daily operations that the fronts end with a
// line of their own.
#include "base/reporter.h"
#include "common/operation_result.h"

namespace marbloom {

// The line replaces the operation's last status line: the batch modify and
// the merge when they ended done or with nothing to do, the check (the count
// of bad files) whatever it found. The window's daily page and the command
// line both close through CloseDailyOperation.
enum class DailyClosing { kModify, kCheck, kMerge };
inline constexpr const char* kDailyCheckStartMessage = "检查日线文件开始";
OperationResult CloseDailyOperation(Reporter& reporter, DailyClosing operation, OperationResult result);

}  // namespace marbloom
