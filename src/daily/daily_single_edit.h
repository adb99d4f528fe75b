#pragma once
// The single-record edit: one security's record of one day extracted into
// number fields and written back from them. The fields are the stored
// integers, not prices.
#include <string_view>

#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "daily/daily_store.h"

namespace marbloom {

// The number fields of the single-record edit.
struct DailyEditFields {
  double open = 1, high = 1, low = 1, close = 1, volume = 1, amount = 1;
  double advancing = 0, declining = 0;
};

// The index rule of the single-record edit: sz codes "399...", sh codes "000...".
bool IsEditIndexCode(int market, std::string_view code);

// The single-record edit refuses a date the tree cannot hold.
inline constexpr const char* kEditDateMessage = "日期无效或晚于今天, 不能写入日线!";

class DailySingleEdit : public OperationEngine {
 public:
  // `treeReady`: the data tree was created and probed; the extract refuses
  // to run on a tree that was not.
  explicit DailySingleEdit(DataLayout layout, bool treeReady = true)
      : OperationEngine(layout.Reports()), layout_(std::move(layout)), treeReady_(treeReady) {}

  // Extract fills the fields from the record of `date` (sz and sh only);
  // WriteBack stores the fields as one record, refused (kEditDateMessage)
  // for a date after the market's today.
  OperationResult ExtractDailyFields(std::string_view codeText, int date, DailyEditFields* fields);
  OperationResult WriteBackDailyFields(std::string_view codeText, int date, const DailyEditFields& fields);

 private:
  DataLayout layout_;
  bool treeReady_;
  DailyStore store_{layout_, *this};
};

}  // namespace marbloom
