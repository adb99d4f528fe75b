// The sample universe: a fixed table of code groups covering every
// security-type group, scaled to the requested size, and the random walk of
// each security's prices.
#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <tuple>
#include <utility>
#include <cstdio>
#include <string>

#include "common/calendar.h"
#include "common/security_class.h"
#include "sample_model.h"
#include "sample_random.h"

namespace marbloom::sample {
namespace {

struct CodeGroup {
  int market;
  const char* prefix;  // first three digits
  int weight;          // securities of this group in a 16,000-security market
};

// Weights add up to about 16,000.
constexpr CodeGroup kGroups[] = {
    // sz
    {0, "000", 500}, {0, "001", 60}, {0, "002", 1000}, {0, "003", 60}, {0, "300", 1000},
    {0, "301", 150}, {0, "399", 300}, {0, "395", 10}, {0, "200", 40}, {0, "159", 400},
    {0, "160", 150}, {0, "161", 150}, {0, "150", 20}, {0, "184", 10}, {0, "123", 150},
    {0, "127", 100}, {0, "128", 100}, {0, "131", 10}, {0, "100", 40}, {0, "101", 40},
    {0, "112", 100}, {0, "149", 100}, {0, "140", 20}, {0, "031", 5}, {0, "080", 5},
    {0, "070", 5}, {0, "360", 5}, {0, "230", 5}, {0, "400", 5},
    // sh
    {1, "600", 1000}, {1, "601", 400}, {1, "603", 1000}, {1, "605", 150}, {1, "688", 500},
    {1, "689", 5}, {1, "000", 200}, {1, "999", 5}, {1, "880", 300}, {1, "888", 20},
    {1, "900", 45}, {1, "580", 5}, {1, "010", 50}, {1, "019", 200}, {1, "110", 100},
    {1, "113", 300}, {1, "122", 200}, {1, "136", 100}, {1, "204", 10}, {1, "500", 5},
    {1, "519", 50}, {1, "521", 10}, {1, "501", 50}, {1, "510", 300}, {1, "512", 200},
    {1, "515", 100}, {1, "560", 100}, {1, "588", 50}, {1, "730", 10}, {1, "780", 10},
    {1, "090", 5}, {1, "143", 100}, {1, "310", 10}, {1, "001", 5},
    // bj
    {2, "430", 60}, {2, "830", 50}, {2, "831", 60}, {2, "832", 50}, {2, "833", 40},
    {2, "834", 40}, {2, "835", 40}, {2, "836", 40}, {2, "837", 40}, {2, "838", 40},
    {2, "839", 40}, {2, "870", 30}, {2, "871", 30}, {2, "872", 30}, {2, "873", 30},
    {2, "899", 10}, {2, "810", 10}, {2, "840", 10}, {2, "889", 5}, {2, "920", 20},
};

int TotalWeight() {
  int total = 0;
  for (const CodeGroup& g : kGroups) total += g.weight;
  return total;
}

bool IsTenUnitType(int type) { return TypeIn(type, TypeSet::kTenUnit); }
bool IsThreeDecimalType(int type) { return TypeIn(type, TypeSet::kThreeDecimals); }
bool IsRepoType(int type) { return TypeIn(type, TypeSet::kAmountFromVolume); }

uint8_t DecimalsOfType(int type) {
  if (IsRepoType(type)) return 3;  // repos quote a rate
  if (IsTenUnitType(type)) return 4;
  if (IsThreeDecimalType(type)) return 3;
  return 2;
}

int16_t LotSizeOf(int type, Rng& rng) {
  if (IsIndexType(type)) return 1;
  if (IsTenUnitType(type)) return 10;
  if (rng.OneIn(50)) return rng.OneIn(2) ? 200 : 500;
  return 100;
}

double BasePriceOf(int type, Rng& rng) {
  if (IsIndexType(type)) return 800.0 + rng.Uniform() * 12000.0;
  if (IsRepoType(type)) return 1.0 + rng.Uniform() * 4.0;             // repo rate
  if (IsTenUnitType(type)) return 95.0 + rng.Uniform() * 40.0;        // bond price
  if (IsThreeDecimalType(type)) return 0.4 + rng.Uniform() * 4.0;     // fund unit
  return 2.0 + std::exp(rng.Uniform() * 5.0);                         // shares 3 .. 150
}

int DateAfterStart(uint64_t days) {
  return AddDays(20220502, static_cast<int>(days), 0);
}

Profile MakeProfile(const SampleOptions& options, int market, const std::string& code) {
  Profile p;
  p.security.market = market;
  p.security.code = code;
  p.security.type = ClassifySecurity(market, code);
  p.security.priceDecimals = DecimalsOfType(p.security.type);
  p.key = HashOf({options.seed, static_cast<uint64_t>(market), std::stoull(code)});
  Rng rng(p.key);
  p.security.lotSize = LotSizeOf(p.security.type, rng);
  p.basePrice = BasePriceOf(p.security.type, rng);
  const bool index = IsIndexType(p.security.type) != 0;
  p.volatility = index ? 0.012 : IsTenUnitType(p.security.type) ? 0.006 : 0.025;
  p.liquidity = rng.Uniform();
  const int type = p.security.type;
  p.closeOnly = TypeIn(type, TypeSet::kCloseOnly) && rng.OneIn(3);
  p.repo = IsRepoType(type);
  p.listDate = 0;
  p.delistDate = 0;
  if (!index && rng.OneIn(150)) p.listDate = DateAfterStart(rng.Below(1500));
  if (!index && rng.OneIn(200)) p.delistDate = DateAfterStart(20 + rng.Below(1500));
  return p;
}

std::vector<Profile> BuildProfiles(const SampleOptions& options) {
  const int total = TotalWeight();
  const int wanted = std::max(1, options.securities);
  std::vector<Profile> all;
  for (const CodeGroup& g : kGroups) {
    int count = static_cast<int>(std::lround(static_cast<double>(g.weight) * wanted / total));
    count = std::clamp(count, 1, 1000);
    // A seeded shuffle of the thousand suffixes; the first `count` are used.
    int suffixes[1000];
    for (int i = 0; i < 1000; ++i) suffixes[i] = i;
    Rng rng(HashOf({options.seed, static_cast<uint64_t>(g.market), std::stoull(g.prefix), 7}));
    for (int i = 999; i > 0; --i) std::swap(suffixes[i], suffixes[rng.Below(static_cast<uint64_t>(i) + 1)]);
    for (int i = 0; i < count; ++i) {
      char code[8];
      std::snprintf(code, sizeof code, "%s%03d", g.prefix, suffixes[i]);
      all.push_back(MakeProfile(options, g.market, code));
    }
  }
  std::sort(all.begin(), all.end(), [](const Profile& a, const Profile& b) {
    return std::tie(a.security.market, a.security.code) < std::tie(b.security.market, b.security.code);
  });
  return all;
}

}  // namespace

const std::vector<Profile>& AllProfiles(const SampleOptions& options) {
  // A few option sets are used per process; their universes are kept.
  static std::mutex mutex;
  static std::map<std::tuple<uint64_t, int>, std::vector<Profile>> cache;
  std::lock_guard<std::mutex> lock(mutex);
  auto key = std::make_tuple(options.seed, options.securities);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, BuildProfiles(options)).first;
  return it->second;
}

std::vector<const Profile*> ProfilesOn(int date, int market, const SampleOptions& options) {
  std::vector<const Profile*> out;
  for (const Profile& p : AllProfiles(options)) {
    if (market >= 0 && p.security.market != market) continue;
    if (p.listDate != 0 && date < p.listDate) continue;
    if (p.delistDate != 0 && date >= p.delistDate) continue;
    out.push_back(&p);
  }
  return out;
}

int TradingDayIndex(int date) {
  // 20220502 is a Monday: each full week after it adds five weekdays, and of
  // the remaining days (Tuesday on) the fifth and sixth are the weekend.
  const int start = DateToDayNumber(20220502);
  const int day = DateToDayNumber(date);
  if (day <= start || start == 0) return 0;
  const int k = day - start;
  const int rem = k % 7;
  return k / 7 * 5 + rem - (rem >= 5 ? 1 : 0) - (rem >= 6 ? 1 : 0);
}

double RoundToDecimals(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

bool IsIndexSecurity(const Profile& profile) { return IsIndexType(profile.security.type) != 0; }

namespace {

// Log-price walk: one step per trading day, kept within a factor 6 of the
// base. Gives the log prices of day n - 1 and day n.
std::pair<double, double> LogPricesAt(const Profile& p, int n) {
  const double lo = std::log(p.basePrice / 6.0), hi = std::log(p.basePrice * 6.0);
  double x = std::log(p.basePrice), before = x;
  for (int i = 1; i <= n; ++i) {
    before = x;
    Rng rng(Mix64(p.key ^ (static_cast<uint64_t>(i) * 0xD1B54A32D192ED03ull)));
    x += p.volatility * (rng.Uniform() + rng.Uniform() - 1.0) * 2.4;
    if (x < lo) x = 2 * lo - x;
    if (x > hi) x = 2 * hi - x;
  }
  return {before, x};
}

}  // namespace

DayState DayStateOf(const Profile& p, int date, const SampleOptions& options) {
  const int decimals = p.security.priceDecimals;
  const int n = TradingDayIndex(date);
  DayState s;
  s.key = HashOf({p.key, static_cast<uint64_t>(date), options.fullTickDays ? 1u : 0u});
  const double minPrice = std::pow(10.0, -decimals) * 10;
  const auto [logBefore, logNow] = LogPricesAt(p, n);
  s.prevClose = std::max(minPrice, RoundToDecimals(std::exp(logBefore), decimals));
  Rng rng(s.key);
  const bool index = IsIndexSecurity(p);
  if (p.closeOnly) {
    s.kind = DayKind::kCloseOnly;
  } else if (!index && rng.OneIn(50)) {
    s.kind = DayKind::kSuspended;
  } else if (!index && rng.OneIn(200)) {
    s.kind = DayKind::kNoTrade;
  }
  if (s.kind != DayKind::kNormal && s.kind != DayKind::kCloseOnly) {
    s.close = s.prevClose;
    return s;
  }
  s.close = std::max(minPrice, RoundToDecimals(std::exp(logNow), decimals));
  if (s.kind == DayKind::kCloseOnly) return s;
  s.open = std::max(minPrice, RoundToDecimals(s.prevClose * (1.0 + p.volatility * 0.4 * rng.Gauss()), decimals));
  const double spread = p.volatility * (0.2 + rng.Uniform());
  s.high = RoundToDecimals(std::max(s.open, s.close) * (1.0 + spread * rng.Uniform()), decimals);
  s.low = std::max(minPrice, RoundToDecimals(std::min(s.open, s.close) * (1.0 - spread * rng.Uniform()), decimals));
  return s;
}

}  // namespace marbloom::sample
