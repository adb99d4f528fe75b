#include "common/code_pattern.h"

#include <algorithm>
#include <cctype>

namespace marbloom {
namespace {

bool Matches(char c, char lower) { return c == '?' || c == lower || c == lower - 32; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

}  // namespace

std::array<bool, 3> SelectMarkets(std::string_view pattern) {
  if (pattern.size() < 2) return {false, false, false};
  char a = pattern[0], b = pattern[1];
  return {Matches(a, 's') && Matches(b, 'z'), Matches(a, 's') && Matches(b, 'h'),
          Matches(a, 'b') && Matches(b, 'j')};
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
  std::string prefix{Lower(text[0]), Lower(text[1])};
  int market = prefix == "sz" ? 0 : prefix == "sh" ? 1 : (prefix == "bj" && allowBj) ? 2 : -1;
  if (market < 0 || !IsSixDigitCode(text.substr(2))) return std::nullopt;
  return SingleSecurity{market, std::string(text.substr(2))};
}

}  // namespace marbloom
