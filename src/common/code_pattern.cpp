#include "common/code_pattern.h"

#include <algorithm>
#include <cctype>

#include "common/market.h"

namespace marbloom {
namespace {

bool Matches(char c, char lower) { return c == '?' || c == lower || c == lower - 32; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

}  // namespace

std::array<bool, 3> SelectMarkets(std::string_view pattern) {
  std::array<bool, 3> selected{false, false, false};
  if (pattern.size() < 2) return selected;
  for (int market = 0; market < kMarketCount; ++market)
    selected[market] = Matches(pattern[0], kMarketPrefix[market][0]) && Matches(pattern[1], kMarketPrefix[market][1]);
  return selected;
}

bool HasPatternLength(std::string_view pattern) { return pattern.size() == 8; }

bool HasPatternCharacters(std::string_view pattern) {
  auto allowed = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '?'; };
  return std::all_of(pattern.begin(), pattern.end(), allowed);
}

std::string CodePart(std::string_view pattern) {
  return pattern.size() >= 2 ? std::string(pattern.substr(2)) : std::string();
}

bool IsSixDigitCode(std::string_view code) {
  if (code.size() != 6) return false;
  for (char c : code)
    if (c < '0' || c > '9') return false;
  return true;
}

std::optional<SingleSecurity> ParseSingleSecurity(std::string_view text, bool allowBj) {
  if (text.size() != 8) return std::nullopt;
  const std::string prefix{Lower(text[0]), Lower(text[1])};
  const int markets = allowBj ? kMarketCount : 2;  // bj is the last market
  int market = 0;
  while (market < markets && prefix != kMarketPrefix[market]) ++market;
  if (market == markets || !IsSixDigitCode(text.substr(2))) return std::nullopt;
  return SingleSecurity{market, std::string(text.substr(2))};
}

}  // namespace marbloom
