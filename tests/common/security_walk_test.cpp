#include "common/security_walk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace marbloom {
namespace {

std::vector<std::string> Names(const std::vector<SecurityFile>& files) {
  std::vector<std::string> names;
  for (const SecurityFile& f : files) names.push_back(f.name);
  return names;
}

TEST(SecurityWalk, OnlyExactNamesAreListedAndTheRestAreStrays) {
  test::TempDir dir;
  for (const char* name : {"sz000001.day", "sz000001_old.day", "SZ000002.day", "sz00000a.day", "sh600000.day",
                           "sz00001.day", "sz0000-1.day", "sz000003.DAY"})
    test::WriteFileBytes(dir.path() + name, {1});
  test::WriteFileBytes(dir.path() + "sz000004.day", {});  // empty files do not count
  SecurityFileList sz = ListSecurityFiles(RealFileSystem(), dir.path(), 0, "", ".day");
  EXPECT_EQ(Names(sz.files), (std::vector<std::string>{"sz000001.day", "sz00000a.day"}));
  EXPECT_EQ(sz.strays.size(), 5u);  // _old, SZ, short, '-', .DAY
  EXPECT_EQ(sz.files[1].code, "00000a");

  EXPECT_EQ(Names(ListSecurityFiles(RealFileSystem(), dir.path(), kAnyMarket, "00000?", ".day").files),
            (std::vector<std::string>{"sz000001.day", "sz00000a.day"}));
  SecurityFileList any = ListSecurityFiles(RealFileSystem(), dir.path(), kAnyMarket, "", ".day");
  EXPECT_EQ(any.files.front().market, 1);  // sh600000 sorts first
}

}  // namespace
}  // namespace marbloom
