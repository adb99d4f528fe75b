#include "base/text_encoding.h"

#include <gtest/gtest.h>

namespace marbloom {
namespace {

TEST(TextEncoding, RoundTripsChineseThroughGbk) {
  std::string gbk = Utf8ToGbk("深圳");
  EXPECT_EQ(gbk, "\xC9\xEE\xDB\xDA");
  EXPECT_EQ(GbkToUtf8(gbk), "深圳");
  EXPECT_EQ(Utf8ToGbk("abc"), "abc");
}

TEST(TextEncoding, CutsWithoutSplittingACharacter) {
  std::string gbk = Utf8ToGbk("a深圳");
  EXPECT_EQ(CutGbk(gbk, 4), "a\xC9\xEE");
  EXPECT_EQ(CutGbk(gbk, 2), "a");
  EXPECT_EQ(FitUtf8ToGbkBytes("a深圳", 4), "a深");
  EXPECT_EQ(FitUtf8ToGbkBytes("a深圳", 10), "a深圳");
}

TEST(TextEncoding, InvalidBytesDoNotStopTheConversion) {
  EXPECT_EQ(GbkToUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Utf8ToGbk("a\xC3"), "a?");
}

}  // namespace
}  // namespace marbloom
