#include "daily/daily_conversion_rules.h"

#include <algorithm>
#include <cstring>

#include "common/code_pattern.h"
#include "common/scaled_value.h"
#include "common/security_class.h"
#include "daily/daily_io.h"

namespace marbloom {
namespace {

constexpr double kEpsilon = static_cast<double>(kPriceEpsilon);

// Funds quoted by close only: missing prices take the close.
bool ApplyFillRule(QuoteRecord& q) {
  if (!(q.close > kEpsilon)) return false;
  if (!(q.open > kEpsilon)) q.open = q.close;
  if (!(q.high > kEpsilon)) q.high = q.close;
  if (!(q.low > kEpsilon)) q.low = q.close;
  const double close = q.close, high = q.high, low = q.low;
  q.high = std::max(high, close);
  q.low = std::min(low, close);
  return true;
}

bool AnyPriceMissing(const QuoteRecord& q) { return q.open < kEpsilon || q.high < kEpsilon || q.low < kEpsilon; }

bool HasAuxiliary(const QuoteRecord& q) {
  static constexpr uint8_t kZero[sizeof q.auxiliary] = {};
  return std::memcmp(q.auxiliary, kZero, sizeof kZero) != 0;
}

bool YieldsRecord(const CodeListRecord& c, QuoteRecord& q) {
  if (TypeIn(c.securityType, TypeSet::kCloseOnly) && !ApplyFillRule(q)) return false;
  if (q.status == 0 && AnyPriceMissing(q)) return false;
  if (q.close < kEpsilon) return false;
  if (!IsIndexType(c.securityType) && q.volume == 0 && AnyPriceMissing(q)) return HasAuxiliary(q);
  return true;
}

void SetPrices(const QuoteRecord& q, int scale, DailyRecord& r) {
  const float m = static_cast<float>(scale);
  r.open = ScaleInt32(q.open, m);
  r.high = ScaleInt32(q.high, m);
  r.low = ScaleInt32(q.low, m);
  r.close = ScaleInt32(q.close, m);
  if (r.close == 0) return;
  if (r.open == 0) r.open = r.close;
  if (r.high == 0) r.high = r.close;
  if (r.low == 0) r.low = r.close;
}

void SetVolume(int market, const std::string& code, const CodeListRecord& c, const QuoteRecord& q,
               DailyRecord& r) {
  if (IsIndexType(c.securityType)) {
    r.volume = Low32(q.volume);
    r.word28 = q.advancing;
    r.word30 = q.declining;
    return;
  }
  const int64_t quantity = q.volume / DailyVolumeDivisor(market, code);
  const int64_t lot = c.lotSize;
  // A lot size of 0 cannot divide; such records keep the ordinary form.
  if (lot != 1 && lot != 0 && static_cast<double>(q.volume) > kLotFormThreshold) {
    r.volume = Low32(quantity / lot);
    r.word28 = Low16(quantity % lot);
    r.word30 = PackMultiplierMarker(static_cast<uint8_t>(Low16(lot)), kLotFormMarker);
    return;
  }
  r.volume = Low32(quantity);
  r.word28 = 0;
  r.word30 = PackMultiplierMarker(kOrdinaryMultiplier, 0);
}

}  // namespace

std::optional<std::string> CodeListCode(const CodeListRecord& entry) {
  const void* end = std::memchr(entry.code, '\0', sizeof entry.code);
  if (end == nullptr) return std::nullopt;
  std::string code(entry.code, static_cast<const char*>(end));
  if (!IsSixDigitCode(code)) return std::nullopt;
  return code;
}

std::optional<DailyRecord> MakeDailyRecord(int market, const std::string& code, const CodeListRecord& entry,
                                           QuoteRecord quote, uint32_t date) {
  if (!YieldsRecord(entry, quote)) return std::nullopt;
  DailyRecord record{};
  SetPrices(quote, PriceScale(entry.priceDecimals), record);
  record.amount = ToSingle(quote.amount);
  SetVolume(market, code, entry, quote, record);
  record.date = date;
  return record;
}

}  // namespace marbloom
