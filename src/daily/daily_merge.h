#pragma once
// The merge of another tree's daily files into this one, record by record in
// date order; a file this tree lacks (or holds damaged) is moved over.
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "daily/daily_files.h"

namespace marbloom {

class DailyMerge : public OperationEngine {
 public:
  explicit DailyMerge(DataLayout layout) : OperationEngine(layout.Reports()), layout_(std::move(layout)) {}

  OperationResult MergeDailyFiles(const DataLayout& source);
  void MergeDailyFile(const DataLayout& source, int market, std::string_view code);

 private:
  void WriteMerged(File& file, int market, std::string_view code, std::size_t targetCount, std::size_t total);
  void MoveIntoPlace(const std::string& source, const std::string& target);

  DataLayout layout_;
  DailyFiles daily_{layout_};         // the source file
  std::vector<uint8_t> mergeTarget_;  // the target file and the result
  std::vector<uint8_t> mergeResult_;
};

}  // namespace marbloom
