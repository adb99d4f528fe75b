#pragma once
// Batch modify: the prices, volume and amount of the records of a date range
// are multiplied by factors in the daily files a code pattern selects.
#include <cstdint>
#include <string_view>

#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "daily/daily_files.h"

namespace marbloom {

// Multipliers of the batch modify, in this order.
struct DailyFactors {
  float open = 1, high = 1, low = 1, close = 1, volume = 1, amount = 1;
};

class DailyBatchModify : public OperationEngine {
 public:
  explicit DailyBatchModify(DataLayout layout) : OperationEngine(layout.Reports()), layout_(std::move(layout)) {}

  OperationResult ModifyDailyRange(int first, int last, const DailyFactors& factors, std::string_view pattern);
  // Scales the records of the range in one file.
  void ModifyDailyRecords(int market, std::string_view code, uint32_t first, uint32_t last,
                         const DailyFactors& factors);

 private:
  DataLayout layout_;
  DailyFiles daily_{layout_};
};

}  // namespace marbloom
