#pragma once
// The walk shared by the bulk operations: count the daily files of the
// selected markets, then visit them market by market with progress, status
// and a cancel test after each file.
#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "common/operation_engine.h"

namespace marbloom {

struct DailyWalkMessages {
  const char* progress;  // "%s" = the file name cut after eight characters
  const char* cancel;
  const char* done;
};

enum class DailyWalkEnd { kNoFiles, kCancelled, kDone };

// Visits "<root><mm>/lday/<mm><codePattern>.day" for every selected market.
// The visitor gets the market and the six code characters of the file name.
DailyWalkEnd WalkDailyFiles(const OperationEngine& engine, const std::string& root,
                            const std::array<bool, 3>& markets, std::string_view codePattern,
                            const DailyWalkMessages& messages,
                            const std::function<void(int market, const std::string& code)>& visit);

}  // namespace marbloom
