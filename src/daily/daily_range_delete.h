#pragma once
// Range delete: the records of a date range leave the daily files a code
// pattern selects.
#include <cstdint>
#include <string_view>

#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "daily/daily_files.h"

namespace marbloom {

class DailyRangeDelete : public OperationEngine {
 public:
  explicit DailyRangeDelete(DataLayout layout) : OperationEngine(layout.Reports()), layout_(std::move(layout)) {}

  OperationResult DeleteDailyRange(int first, int last, std::string_view pattern);
  // Keeps the records of one file dated outside the range (and not 0).
  void DeleteDailyRecords(int market, std::string_view code, uint32_t first, uint32_t last);

 private:
  DataLayout layout_;
  DailyFiles daily_{layout_};
};

}  // namespace marbloom
