#include "common/code_pattern.h"

#include <gtest/gtest.h>

namespace marbloom {
namespace {

using Markets = std::array<bool, 3>;

TEST(CodePattern, MarketSelectionFromTheFirstTwoCharacters) {
  EXPECT_EQ(SelectMarkets("????????"), (Markets{true, true, true}));
  EXPECT_EQ(SelectMarkets("sz??????"), (Markets{true, false, false}));
  EXPECT_EQ(SelectMarkets("SZ000001"), (Markets{true, false, false}));
  EXPECT_EQ(SelectMarkets("s?000001"), (Markets{true, true, false}));
  EXPECT_EQ(SelectMarkets("?z000001"), (Markets{true, false, false}));
  EXPECT_EQ(SelectMarkets("?j000001"), (Markets{false, false, true}));
  EXPECT_EQ(SelectMarkets("bJ000001"), (Markets{false, false, true}));
  EXPECT_EQ(SelectMarkets("sj000001"), (Markets{false, false, false}));
  EXPECT_EQ(SelectMarkets("s"), (Markets{false, false, false}));
}

TEST(CodePattern, LengthRuleAndCodePart) {
  EXPECT_TRUE(HasPatternLength("sz??????"));
  EXPECT_FALSE(HasPatternLength("sz00000"));
  EXPECT_FALSE(HasPatternLength("sz0000001"));
  EXPECT_EQ(CodePart("??000001"), "000001");
  EXPECT_TRUE(HasPatternCharacters("sZ60?0a1"));
  for (const char* wide : {"sz00*001", "sz0/0001", "sz00 001", "sz[00001"}) {
    EXPECT_FALSE(HasPatternCharacters(wide)) << wide;
  }
}

TEST(CodePattern, SingleSecurity) {
  auto sz = ParseSingleSecurity("SZ000001", false);
  ASSERT_TRUE(sz);
  EXPECT_EQ(sz->market, 0);
  EXPECT_EQ(sz->code, "000001");
  EXPECT_EQ(ParseSingleSecurity("sH600000", false)->market, 1);
  EXPECT_FALSE(ParseSingleSecurity("bj430047", false));
  EXPECT_EQ(ParseSingleSecurity("bj430047", true)->market, 2);
  EXPECT_FALSE(ParseSingleSecurity("sz00000?", true));
  EXPECT_FALSE(ParseSingleSecurity("sz00001", true));
  EXPECT_FALSE(ParseSingleSecurity(" sz000001", true));
  EXPECT_FALSE(ParseSingleSecurity("sx000001", true));
}

TEST(CodePattern, SixDigitCodes) {
  EXPECT_TRUE(IsSixDigitCode("000001"));
  EXPECT_FALSE(IsSixDigitCode("00001"));
  EXPECT_FALSE(IsSixDigitCode("../../"));
  EXPECT_FALSE(IsSixDigitCode("00000a"));
}

}  // namespace
}  // namespace marbloom
