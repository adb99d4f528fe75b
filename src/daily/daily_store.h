#pragma once
// The record store of the daily files: one record put in date order, one
// record read by date. The conversion and the single-record edit store
// through it; the failures it meets count on the engine whose operation it
// serves.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "daily/daily_files.h"
#include "daily/daily_record.h"

namespace marbloom {

class DailyStore {
 public:
  DailyStore(const DataLayout& layout, OperationEngine& engine) : layout_(layout), engine_(engine) {}

  // Store and Write put the record in date order (insert, append or replace)
  // and write only the bytes that change; false when the file could not be
  // written (logged, and counted as a failed item; the file is left as it
  // was). Read finds the first record of `date`.
  bool StoreDailyRecord(int market, std::string_view code, const DailyRecord& record);
  bool WriteDailyRecord(int market, std::string_view code, uint32_t date, const DailyRecord& record);
  bool ReadDailyRecord(int market, std::string_view code, uint32_t date, DailyRecord* out);
  // StoreDailyRecord into `path`, the file's path built already.
  bool StoreConverted(const std::string& path, int market, std::string_view code, const DailyRecord& record);

 private:
  enum class Placement { kStored, kFailed, kDisordered };

  bool StoreInOrder(const std::string& path, int market, std::string_view code, uint32_t key,
                    const DailyRecord& record, bool creating);
  Placement PlaceInOrder(File& file, int64_t length, uint32_t key, const DailyRecord& record, int market,
                         std::string_view code);

  const DataLayout& layout_;
  OperationEngine& engine_;
  DailyFiles daily_{layout_};
};

}  // namespace marbloom
