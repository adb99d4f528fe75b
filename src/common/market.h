#pragma once
// The three markets: index 0 sz (Shenzhen), 1 sh (Shanghai), 2 bj (Beijing).
#include <cstdint>

namespace marbloom {

inline constexpr int kMarketCount = 3;
inline constexpr const char* kMarketPrefix[kMarketCount] = {"sz", "sh", "bj"};
inline constexpr const char* kMarketName[kMarketCount] = {"深圳", "上海", "北京"};

inline bool IsValidMarket(int market) { return market >= 0 && market < kMarketCount; }

}  // namespace marbloom
