#pragma once
// The check of every daily file: the first fault of each bad file is
// reported, and the bad files are counted.
#include <string_view>

#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "daily/daily_files.h"

namespace marbloom {

class DailyCheck : public OperationEngine {
 public:
  explicit DailyCheck(DataLayout layout) : OperationEngine(layout.Reports()), layout_(std::move(layout)) {}

  // Every daily file, empty ones included: failedItems is the number of bad
  // files. Besides the date rule, every date must be a calendar date no
  // later than the market's today.
  OperationResult CheckDailyFiles();
  // True for a sound file (a fault has been reported otherwise).
  bool CheckDailyFile(int market, std::string_view code);

 private:
  DataLayout layout_;
  DailyFiles daily_{layout_};
};

}  // namespace marbloom
