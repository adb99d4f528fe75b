#pragma once
// The repair of the daily files the check reports.
#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "daily/daily_files.h"

namespace marbloom {

class DailyRepair : public OperationEngine {
 public:
  explicit DailyRepair(DataLayout layout) : OperationEngine(layout.Reports()), layout_(std::move(layout)) {}

  // Mends every file the check reports: a partial record at the end is cut
  // off, records dated 0, on no calendar day or after the market's today are
  // dropped (reported as lost), the rest sorted by date, and of records
  // sharing a date the one written last is kept. A file without a whole
  // record is removed; one whose records are all unusable is left alone and
  // counted as failed. Each change is reported file by file, and the mended
  // files are checked again (failedItems: files still bad or not written).
  OperationResult RepairDailyFiles();

 private:
  // Mends one file; true when it was rewritten or removed.
  bool RepairDailyFile(const SecurityFile& file, int today);

  DataLayout layout_;
  DailyFiles daily_{layout_};
};

}  // namespace marbloom
