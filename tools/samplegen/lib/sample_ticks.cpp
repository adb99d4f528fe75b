// Tick days of the sample market and the daily tick archive that holds them.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/little_endian.h"
#include "sample_model.h"
#include "sample_random.h"
#include "tickdata/tick_formats.h"

namespace marbloom::sample {
namespace {

constexpr int32_t kCallAuction = 9 * 3600 + 25 * 60;  // 09:25:00
constexpr int32_t kMorningOpen = 9 * 3600 + 30 * 60;  // 09:30:00
constexpr int32_t kMorningClose = 11 * 3600 + 30 * 60;
constexpr int32_t kAfternoonOpen = 13 * 3600;
constexpr int32_t kClose = 15 * 3600;
constexpr int kSessionSeconds = 4 * 3600;

int64_t ToUnits(double price, int decimals) { return std::llround(price * std::pow(10.0, decimals)); }

// Clock time of a second of continuous trading (0 .. 14399).
int32_t ClockOf(int tradingSecond) {
  return tradingSecond < 7200 ? kMorningOpen + tradingSecond : kAfternoonOpen + (tradingSecond - 7200);
}

int TickTarget(const Profile& p, const SampleOptions& options, Rng& rng) {
  const bool index = IsIndexSecurity(p);
  const int type = p.security.type;
  const bool share = !index && p.security.priceDecimals == 2;
  if (!options.fullTickDays) {
    if (index) return 120 + static_cast<int>(rng.Below(60));
    return 3 + static_cast<int>(p.liquidity * 150 + rng.Below(30));
  }
  if (index) return kSessionSeconds / 3;
  const double l = p.liquidity;
  if (share || type == 14 || type == 62) return 300 + static_cast<int>(std::pow(l, 1.5) * 4500 + rng.Below(200));
  return 10 + static_cast<int>(l * l * l * 3000 + rng.Below(50));
}

int64_t TickVolume(const Profile& p, Rng& rng) {
  if (rng.OneIn(5000)) {
    switch (rng.Below(3)) {
      case 0: return int64_t{1} << 30;
      case 1: return (int64_t{1} << 30) + static_cast<int64_t>(rng.Below(uint64_t{1} << 31));
      default: return (int64_t{1} << 32) + static_cast<int64_t>(rng.Below(uint64_t{1} << 33));
    }
  }
  if (IsIndexSecurity(p)) return 100000 + static_cast<int64_t>(rng.Below(50000000));
  const uint64_t lots = 1 + rng.Below(1 + rng.Below(400));
  return static_cast<int64_t>(lots) * p.security.lotSize;
}

uint8_t TickKind(Rng& rng) {
  const uint64_t r = rng.Below(20);
  return r < 9 ? 0 : r < 18 ? 1 : 2;
}

class TickDayBuilder {
 public:
  TickDayBuilder(const Profile& p, const DayState& s, Rng& rng)
      : p_(p), rng_(rng), decimals_(p.security.priceDecimals),
        low_(ToUnits(s.low, decimals_)), high_(ToUnits(s.high, decimals_)),
        close_(ToUnits(s.close, decimals_)), price_(ToUnits(s.open, decimals_)),
        running_(static_cast<int64_t>(rng.Below(10000000))) {}

  std::vector<SampleTick> Build(int target) {
    if (!rng_.OneIn(10)) Add(kCallAuction, 2);
    const bool closingTick = !rng_.OneIn(7);
    const bool lunch = rng_.OneIn(10);
    Continuous(std::max(1, target), closingTick, lunch);
    if (closingTick) {
      price_ = close_;
      Add(kClose, 2);
    }
    if (rng_.OneIn(8)) AfterHours();
    return std::move(ticks_);
  }

 private:
  void Add(int32_t seconds, uint8_t kind) {
    SampleTick t;
    t.seconds = seconds;
    t.price = price_;
    t.volume = TickVolume(p_, rng_);
    running_ += rng_.Between(-300, 2000);
    t.runningValue = running_;
    t.plainValue = rng_.OneIn(300) ? -static_cast<int32_t>(rng_.Between(1, 1000))
                                   : static_cast<int32_t>(rng_.Between(1, 60));
    t.kind = kind;
    ticks_.push_back(t);
  }

  void Step(int remaining) {
    const int64_t wobble = std::max<int64_t>(1, price_ / 2000);
    price_ += (close_ - price_) / std::max(1, remaining) + rng_.Between(-wobble, wobble);
    price_ = std::clamp(price_, std::min(low_, close_), std::max(high_, close_));
  }

  void Lunch() {
    const int n = 1 + static_cast<int>(rng_.Below(3));
    for (int i = 0; i < n; ++i) Add(kMorningClose + static_cast<int32_t>(rng_.Below(6)) + i * 6, TickKind(rng_));
    if (rng_.OneIn(4)) Add(12 * 3600 + static_cast<int32_t>(rng_.Below(1800)), TickKind(rng_));
  }

  void Continuous(int count, bool closingTick, bool lunch) {
    const bool index = IsIndexSecurity(p_);
    const int gap = std::max(1, kSessionSeconds / count);
    int second = static_cast<int>(rng_.Below(static_cast<uint64_t>(std::min(gap, 30))));
    bool lunchDone = false;
    for (int i = 0; i < count && second < kSessionSeconds; ++i) {
      if (lunch && !lunchDone && second >= 7200) {
        Lunch();
        lunchDone = true;
      }
      Step(count - i);
      if (!closingTick && (i == count - 1 || second + gap >= kSessionSeconds)) price_ = close_;
      Add(ClockOf(second), TickKind(rng_));
      second += index ? 3 : static_cast<int>(rng_.Below(static_cast<uint64_t>(2 * gap + 1)));
    }
  }

  void AfterHours() {
    int32_t t = kClose + 300;
    const int n = 1 + static_cast<int>(rng_.Below(5));
    for (int i = 0; i < n && t < kClose + 1800; ++i) {
      Add(t, TickKind(rng_));
      t += static_cast<int32_t>(rng_.Below(300));
    }
  }

  const Profile& p_;
  Rng& rng_;
  int decimals_;
  int64_t low_, high_, close_, price_, running_;
  std::vector<SampleTick> ticks_;
};

bool LooksLikeZlibHeader(const std::vector<uint8_t>& b) {
  return b.size() >= 2 && (b[0] & 0x0F) == 8 && ((b[0] << 8) | b[1]) % 31 == 0;
}

struct EncodedDay {
  SampleTickDay day;
  std::vector<uint8_t> stored;
};

// The day of one security; false when it has no ticks that day.
bool BuildTickDay(const Profile& p, int date, const SampleOptions& options, SampleTickDay* out) {
  const DayState s = DayStateOf(p, date, options);
  if (s.kind != DayKind::kNormal) return false;
  Rng rng(s.key ^ 0x71C4ull);
  out->market = p.security.market;
  out->code = p.security.code;
  out->refPrice = s.prevClose;
  out->priceDecimals = p.security.priceDecimals;
  out->spare = static_cast<uint8_t>(rng.Next());
  out->reserved = static_cast<int32_t>(static_cast<uint32_t>(rng.Next()));
  out->storedUncompressed = rng.OneIn(25);
  const int target = TickTarget(p, options, rng);
  out->ticks = TickDayBuilder(p, s, rng).Build(target);
  return true;
}

EncodedDay Encode(SampleTickDay day) {
  EncodedDay e;
  std::vector<uint8_t> block = EncodeTickBlock(day.ticks, day.reserved);
  if (block.size() < 64) day.storedUncompressed = true;
  if (day.storedUncompressed && LooksLikeZlibHeader(block)) {
    block[0] ^= 1;  // keep a plain block from reading as a zlib header
    std::memcpy(&day.reserved, block.data(), sizeof day.reserved);
  }
  day.unpackedLength = static_cast<int32_t>(block.size());
  e.stored = StoreTickBlock(block, !day.storedUncompressed);
  e.day = std::move(day);
  return e;
}

void AppendArchiveEntry(std::vector<uint8_t>& out, int date, const EncodedDay& e) {
  TickArchiveEntry entry{};
  entry.market = static_cast<int8_t>(e.day.market);
  std::memcpy(entry.code, e.day.code.data(), sizeof entry.code);
  entry.reserved = static_cast<uint8_t>(e.day.spare ^ 0x5A);
  entry.date = date;
  entry.unpackedLength = e.day.unpackedLength;
  entry.dataLength = static_cast<int32_t>(e.stored.size());
  entry.refPrice = e.day.refPrice;
  entry.priceDecimals = e.day.priceDecimals;
  entry.spare = e.day.spare;
  const auto* raw = reinterpret_cast<const uint8_t*>(&entry);
  out.insert(out.end(), raw, raw + sizeof entry);
  out.insert(out.end(), e.stored.begin(), e.stored.end());
}

}  // namespace

std::vector<SampleTickDay> TickDays(int date, const SampleOptions& options) {
  std::vector<SampleTickDay> out;
  for (const Profile* p : ProfilesOn(date, -1, options)) {
    SampleTickDay day;
    if (BuildTickDay(*p, date, options, &day)) out.push_back(Encode(std::move(day)).day);
  }
  return out;
}

std::optional<SampleTickDay> TickDayOf(int date, int market, const std::string& code,
                                       const SampleOptions& options) {
  for (const Profile* p : ProfilesOn(date, market, options)) {
    if (p->security.code != code) continue;
    SampleTickDay day;
    if (!BuildTickDay(*p, date, options, &day)) return std::nullopt;
    return Encode(std::move(day)).day;
  }
  return std::nullopt;
}

std::vector<uint8_t> TickArchiveBytes(int date, const SampleOptions& options) {
  std::vector<uint8_t> out(kTickArchiveHeaderSize);
  Rng rng(HashOf({options.seed, static_cast<uint64_t>(date), 0x47Cull}));
  for (std::size_t i = 0; i < 12; ++i) out[i] = static_cast<uint8_t>(rng.Next());
  int32_t count = 0;
  for (const Profile* p : ProfilesOn(date, -1, options)) {
    SampleTickDay day;
    if (!BuildTickDay(*p, date, options, &day)) continue;
    AppendArchiveEntry(out, date, Encode(std::move(day)));
    ++count;
  }
  StoreLE<int32_t>(out.data() + 12, count);
  return out;
}

}  // namespace marbloom::sample
