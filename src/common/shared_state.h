#pragma once
// Process-wide state shared by the engines and the pages: the status line and
// the progress fraction, the one channel from the engines to the fronts. The
// window thread reads what the worker writes, so the text is guarded and the
// number is atomic.
#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "common/operation_result.h"

namespace marbloom {

// Status messages are cut to what fits the 260-byte GBK status buffer.
void SetStatusText(std::string_view utf8);
void SetStatusTextF(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string StatusText();

// Status text and the same line in the run log.
void ReportF(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A page's closing message replaces the operation's final status, also
// after a cancel; a refusal of the writer lock keeps its own.
OperationResult CloseWithMessage(OperationResult result, std::string message);

void SetProgressFraction(double fraction);
double ProgressFraction();

// Called on the writing thread after every status change (the command line
// prints each line). Empty to stop.
void SetStatusObserver(std::function<void(const std::string&)> observer);

// Data guard messages of the pages.
inline constexpr const char* kDataGuardMessage =
    "数据初始化错误或目录不可写, 请在'参数设置'中设置正确的路径!";
inline constexpr const char* kTickDataGuardMessage =
    "数据初始化错误或目录不可写,请在[参数设置]中设置正确的路径!";

}  // namespace marbloom
