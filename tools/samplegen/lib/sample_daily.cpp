// The daily source files of the sample market: one quote per security and
// day, written as the code list and quote file of each market.
#include <cstring>

#include "common/little_endian.h"
#include "common/market.h"
#include "daily_source_layout.h"
#include "sample_model.h"
#include "sample_random.h"

namespace marbloom::sample {
namespace {

constexpr int64_t kLotFormThreshold = 4290000000LL;

int64_t VolumeOf(const Profile& p, const DayState& s, Rng& rng) {
  if (IsIndexSecurity(p)) {
    // Index volumes count shares of the whole index: often beyond 2^32.
    return static_cast<int64_t>(1e8 + p.liquidity * 2e10 * (0.5 + rng.Uniform()));
  }
  if (p.repo || rng.OneIn(100)) return kLotFormThreshold + 1 + static_cast<int64_t>(rng.Below(40000000000ull));
  const double lots = 50.0 + p.liquidity * p.liquidity * 400000.0 * (0.3 + rng.Uniform());
  (void)s;
  return static_cast<int64_t>(lots) * p.security.lotSize;
}

SampleQuote QuoteOf(const Profile& p, int date, const SampleOptions& options) {
  const DayState s = DayStateOf(p, date, options);
  Rng rng(s.key ^ 0x51ull);
  SampleQuote q;
  q.market = p.security.market;
  q.code = p.security.code;
  q.close = s.close;
  switch (s.kind) {
    case DayKind::kSuspended:
    case DayKind::kCloseOnly:
      q.status = 0;
      return q;
    case DayKind::kNoTrade:
      q.status = 1;
      q.auxiliaryZero = rng.OneIn(2);
      return q;
    case DayKind::kNormal:
      break;
  }
  q.status = rng.OneIn(4) ? static_cast<int32_t>(rng.Next() | 1) : 1;
  q.open = s.open;
  q.high = s.high;
  q.low = s.low;
  q.volume = VolumeOf(p, s, rng);
  const double perUnit = (s.open + s.close) / 2 * (p.repo ? 100 : 1);
  q.amount = static_cast<double>(q.volume) * perUnit * (0.98 + 0.04 * rng.Uniform());
  if (IsIndexSecurity(p)) {
    q.advancing = static_cast<uint16_t>(rng.Below(2500));
    q.declining = static_cast<uint16_t>(rng.Below(2500));
  }
  q.auxiliaryZero = rng.OneIn(2);
  return q;
}

void FillRandom(uint8_t* bytes, std::size_t size, Rng& rng) {
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(rng.Next() >> 56);
}

void WriteCodeRecord(uint8_t* r, const SampleSecurity& s, Rng& rng) {
  FillRandom(r, layout::kCodeListRecord, rng);
  std::memcpy(r + layout::kCodeText, s.code.c_str(), s.code.size() + 1);
  StoreLE<int16_t>(r + layout::kLotSize, s.lotSize);
  r[layout::kPriceDecimals] = s.priceDecimals;
  r[layout::kSecurityType] = static_cast<uint8_t>(s.type);
}

void WriteQuoteRecord(uint8_t* r, const SampleQuote& q, Rng& rng) {
  FillRandom(r, layout::kQuoteRecord, rng);
  StoreLE<int32_t>(r + layout::kStatus, q.status);
  StoreLE<double>(r + layout::kOpen, q.open);
  StoreLE<double>(r + layout::kHigh, q.high);
  StoreLE<double>(r + layout::kLow, q.low);
  StoreLE<double>(r + layout::kClose, q.close);
  StoreLE<int64_t>(r + layout::kVolume, q.volume);
  StoreLE<double>(r + layout::kAmount, q.amount);
  StoreLE<uint16_t>(r + layout::kAdvancing, q.advancing);
  StoreLE<uint16_t>(r + layout::kDeclining, q.declining);
  if (q.auxiliaryZero) {
    std::memset(r + layout::kAuxiliary, 0, layout::kAuxiliarySize);
  } else {
    r[layout::kAuxiliary + rng.Below(layout::kAuxiliarySize)] |= 1;  // at least one byte set
  }
}

// A source file's name within the tree's daily source folder.
std::string SourceFileName(const std::string& path) { return path.substr(DataLayout().DailySourceDir().size()); }

}  // namespace

std::vector<SampleSecurity> MarketUniverse(int date, int market, const SampleOptions& options) {
  std::vector<SampleSecurity> out;
  if (!IsValidMarket(market)) return out;
  for (const Profile* p : ProfilesOn(date, market, options)) out.push_back(p->security);
  return out;
}

std::vector<SampleSecurity> SecurityUniverse(int date, const SampleOptions& options) {
  std::vector<SampleSecurity> out;
  for (const Profile* p : ProfilesOn(date, -1, options)) out.push_back(p->security);
  return out;
}

std::vector<SampleQuote> MarketQuotes(int date, int market, const SampleOptions& options) {
  std::vector<SampleQuote> out;
  if (!IsValidMarket(market)) return out;
  for (const Profile* p : ProfilesOn(date, market, options)) out.push_back(QuoteOf(*p, date, options));
  return out;
}

std::vector<uint8_t> CodeListBytes(int date, int market, const SampleOptions& options) {
  const std::vector<SampleSecurity> list = MarketUniverse(date, market, options);
  std::vector<uint8_t> bytes(list.size() * layout::kCodeListRecord);
  Rng rng(HashOf({options.seed, static_cast<uint64_t>(date), static_cast<uint64_t>(market), 0xC0Dull}));
  for (std::size_t k = 0; k < list.size(); ++k) {
    WriteCodeRecord(bytes.data() + k * layout::kCodeListRecord, list[k], rng);
  }
  return bytes;
}

std::vector<uint8_t> QuoteFileBytes(int date, int market, const SampleOptions& options) {
  const std::vector<SampleQuote> quotes = MarketQuotes(date, market, options);
  std::vector<uint8_t> bytes(quotes.size() * layout::kQuoteRecord);
  Rng rng(HashOf({options.seed, static_cast<uint64_t>(date), static_cast<uint64_t>(market), 0x3D1ull}));
  for (std::size_t k = 0; k < quotes.size(); ++k) {
    WriteQuoteRecord(bytes.data() + k * layout::kQuoteRecord, quotes[k], rng);
  }
  return bytes;
}

std::string CodeListFileName(int date, int market) { return SourceFileName(DataLayout().CodeListFile(market, date)); }
std::string QuoteFileName(int date, int market) { return SourceFileName(DataLayout().QuoteFile(market, date)); }

}  // namespace marbloom::sample
