#include "common/dir_walk.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace marbloom {
namespace {

TEST(WildcardMatch, QuestionMarkStarAndCase) {
  EXPECT_TRUE(WildcardMatch("sz??????.day", "sz000001.day"));
  EXPECT_TRUE(WildcardMatch("SZ??????.DAY", "sz000001.day"));
  EXPECT_FALSE(WildcardMatch("sz??????.day", "sz00001.day"));
  EXPECT_TRUE(WildcardMatch("*.vid", "sz0000019.vid"));
  EXPECT_TRUE(WildcardMatch("sz*.day", "sz.day"));
  EXPECT_FALSE(WildcardMatch("*.vid", "sz000001.vtc"));
  EXPECT_TRUE(WildcardMatch("*", "anything"));
  EXPECT_TRUE(WildcardMatch("a*b*c", "aXbYbZc"));
}

TEST(ListCountedFiles, SkipsDirectoriesHiddenAndEmptyFilesAndSorts) {
  test::TempDir temp;
  test::WriteFileBytes(temp.path() + "sz000002.day", {1});
  test::WriteFileBytes(temp.path() + "SZ000001.DAY", {1, 2});
  test::WriteFileBytes(temp.path() + "sz000003.day", {});
  test::WriteFileBytes(temp.path() + ".sz000004.day", {1});
  std::filesystem::create_directory(temp.path() + "sz000005.day");
  test::WriteFileBytes(temp.path() + "sh600000.day", {1});
  auto entries = ListCountedFiles(RealFileSystem(), temp.path(), "sz*.day");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "SZ000001.DAY");
  EXPECT_EQ(entries[0].size, 2);
  EXPECT_EQ(entries[1].name, "sz000002.day");
  EXPECT_EQ(ListCountedFiles(RealFileSystem(), temp.path() + "sz??????.day").size(), 2u);
  EXPECT_TRUE(ListCountedFiles(RealFileSystem(), temp.path() + "missing/", "*").empty());
  // Without a look at each file: the empty one too, and no sizes.
  entries = ListCountedFiles(RealFileSystem(), temp.path(), "sz*.day", false, ListDetail::kKinds);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2].name, "sz000003.day");
  EXPECT_EQ(entries[2].size, -1);
}

}  // namespace
}  // namespace marbloom
