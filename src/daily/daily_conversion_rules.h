#pragma once
// The record rules of the daily conversion: one code-list record and its quote
// become one daily record, or nothing.
#include <cstdint>
#include <optional>
#include <string>

#include "daily/daily_record.h"
#include "daily/daily_source_formats.h"

namespace marbloom {

// Prices at or below this single-precision threshold count as missing.
inline constexpr float kPriceEpsilon = 0.00009f;
// Source volumes above this use the lot form (when the lot size allows it).
inline constexpr double kLotFormThreshold = 4290000000.0;

// The code of a code-list record when it is six ASCII digits terminated
// within its field; nothing otherwise (no path may be built from it).
std::optional<std::string> CodeListCode(const CodeListRecord& entry);

// The daily record of one security for `date`, or nothing when the quote
// yields no record.
std::optional<DailyRecord> MakeDailyRecord(int market, const std::string& code, const CodeListRecord& entry,
                                           QuoteRecord quote, uint32_t date);

}  // namespace marbloom
