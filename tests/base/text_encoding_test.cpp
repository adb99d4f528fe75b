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

// One replacement per character, however many bytes it has.
TEST(TextEncoding, ReplacesWholeCharacters) {
  const std::string sz = "\xC9\xEE", fffd = "\xEF\xBF\xBD";
  const struct {
    std::string utf8, gbk;
  } toGbk[] = {
      {"a😀b", "a?b"},                    // four bytes GBK has no character for
      {"深😀😀圳", sz + "??\xDB\xDA"},
      {"a\xE6\xB7", "a?"},                // a three-byte character cut short
      {"\xF0\x9F\x98x", "?x"},
      {"\x80\x80x", "??x"},               // stray continuation bytes, one each
      {"\xC0\xAF", "??"},                 // an overlong form is no character
  };
  for (const auto& c : toGbk) EXPECT_EQ(Utf8ToGbk(c.utf8), c.gbk) << c.utf8;
  const struct {
    std::string gbk, utf8;
  } toUtf8[] = {
      {"\xC9\xEE\xA1\x7F", "深" + fffd + "\x7F"},  // 0x7F cannot trail
      {"\x81\x20x", fffd + " x"},
      {"a\xC9", "a" + fffd},
  };
  for (const auto& c : toUtf8) EXPECT_EQ(GbkToUtf8(c.gbk), c.utf8) << c.gbk;
}

TEST(TextEncoding, ExactConversionRefusesWhatWouldBeReplaced) {
  EXPECT_EQ(Utf8ToGbkExactly("D:/行情/"), "D:/" + Utf8ToGbk("行情") + "/");
  EXPECT_EQ(Utf8ToGbkExactly(""), "");
  for (const char* text : {"a😀", "a\xC3", "\x80", "x\xE6\xB7"}) EXPECT_EQ(Utf8ToGbkExactly(text), std::nullopt) << text;
}

// Messages carry paths of any length: nothing is cut, short or long.
TEST(TextEncoding, FormatsTextOfAnyLength) {
  EXPECT_EQ(FormatText("%s%d!", "读取", 7), "读取7!");
  const std::string path = "/data/" + std::string(5000, 'x') + "/sz000001.day";
  EXPECT_EQ(FormatText("找不到文件%s", path.c_str()), "找不到文件" + path);
}

}  // namespace
}  // namespace marbloom
