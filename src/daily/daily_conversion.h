#pragma once
// The daily conversion: the downloaded source pairs of a date range become
// one record per security in each daily file.
#include <cstdint>
#include <string>
#include <vector>

#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "daily/daily_store.h"

namespace marbloom {

// How the conversion of one day ended.
enum class DailyDayEnd {
  kNoSources,  // no source file of any market: a weekend or holiday
  kConverted,  // the markets were handled (missing or unreadable files noted as failures)
  kMalformed,  // a malformed pair ended the day before the later markets
  kCancelled,
};

class DailyConversion : public OperationEngine {
 public:
  explicit DailyConversion(DataLayout layout) : OperationEngine(layout.Reports()), layout_(std::move(layout)) {}

  OperationResult ConvertDailyRange(int first, int last);
  DailyDayEnd ConvertDailyDay(int date);

 private:
  bool DaySourcesExist(int date) const;
  DailyDayEnd ConvertMarketDay(int market, int date, bool dayHasSources);
  DailyDayEnd ConvertPair(int market, int date, const std::string& codePath);

  DataLayout layout_;
  DailyStore store_{layout_, *this};
  std::vector<uint8_t> codeList_;  // the code list of one market and day
  std::vector<uint8_t> quotes_;    // the quote file of one market and day
  // The part of the run's progress the day converting now, and its pair,
  // cover: a range moves from 0 to 1 once, never back.
  double dayStart_ = 0, dayShare_ = 1;
  double pairStart_ = 0, pairShare_ = 1;
};

}  // namespace marbloom
