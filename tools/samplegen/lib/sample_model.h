#pragma once
// The model behind the sample market: each security's lasting profile and
// its state on one trading day. Shared by the daily-file and tick writers
// so that both describe the same market.
#include <cstdint>
#include <vector>

#include "samplegen.h"

namespace marbloom::sample {

struct Profile {
  SampleSecurity security;
  uint64_t key = 0;          // stable per (seed, market, code)
  double basePrice = 0;      // currency units on 20220502
  double volatility = 0;     // daily deviation of the log price
  double liquidity = 0;      // 0..1, scales tick counts and volumes
  int listDate = 0;          // exists on dates >= listDate
  int delistDate = 0;        // and < delistDate (0: never delisted)
  bool closeOnly = false;    // a fund that only publishes a close
  bool repo = false;         // huge volumes every day
};

enum class DayKind { kNormal, kSuspended, kCloseOnly, kNoTrade };

struct DayState {
  DayKind kind = DayKind::kNormal;
  double prevClose = 0, open = 0, high = 0, low = 0, close = 0;  // rounded to the decimals
  uint64_t key = 0;          // stable per (security, day)
};

// Every security that ever exists for these options, by market then code.
const std::vector<Profile>& AllProfiles(const SampleOptions& options);
// Those existing on `date` in `market` (market -1: all markets).
std::vector<const Profile*> ProfilesOn(int date, int market, const SampleOptions& options);

// Weekdays after 20220502 up to `date` (0 for 20220502 and earlier).
int TradingDayIndex(int date);
DayState DayStateOf(const Profile& profile, int date, const SampleOptions& options);

double RoundToDecimals(double value, int decimals);
bool IsIndexSecurity(const Profile& profile);

}  // namespace marbloom::sample
