#include "cli/cli_common.h"

#include <cstdio>

#include "base/run_log.h"
#include "common/calendar.h"
#include "common/shared_state.h"

namespace marbloom::cli {

std::optional<int> ParseDate(const std::string& text) {
  std::string digits;
  if (text.size() == 10 && text[4] == '-' && text[7] == '-')
    digits = text.substr(0, 4) + text.substr(5, 2) + text.substr(8, 2);
  else if (text.size() == 8)
    digits = text;
  else
    return std::nullopt;
  int date = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    date = date * 10 + (c - '0');
  }
  if (DateToDayNumber(date) == 0) return std::nullopt;
  return date;
}

CLI::Validator DateValidator() {
  return CLI::Validator(
      [](std::string& value) -> std::string {
        auto date = ParseDate(value);
        if (!date) return "not a date (YYYYMMDD or YYYY-MM-DD): " + value;
        value = std::to_string(*date);
        return std::string();
      },
      "DATE");
}

int UsageFailure(const std::string& message) {
  SetStatusText(message);
  return Finish(kExitUsage);
}

int RequireDataTree(const char* guardMessage) {
  if (DataTreeReady) return kExitDone;
  SetStatusText(guardMessage);
  return Finish(kExitNotReady);
}

int Finish(int code) {
  std::printf("%s\n", StatusText().c_str());
  std::fflush(stdout);
  return code;
}

}  // namespace marbloom::cli

namespace marbloom::cli {

int ExitCodeOf(const OperationResult& result) {
  switch (result.outcome) {
    case Outcome::kDone: return kExitDone;
    case Outcome::kCancelled: return kExitCancelled;
    case Outcome::kBusy: return kExitBusy;
    case Outcome::kInvalid: return kExitUsage;
    case Outcome::kNothingToDo:
    case Outcome::kFailed: break;
  }
  return kExitFailed;
}

int FinishWith(const OperationResult& result) {
  std::printf("%s\n", result.message.c_str());
  std::fflush(stdout);
  return ExitCodeOf(result);
}

}  // namespace marbloom::cli
