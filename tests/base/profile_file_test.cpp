#include "base/profile_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "base/text_encoding.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace marbloom {
namespace {

class ProfileFile : public ::testing::Test {
 protected:
  void Write(const std::string& text) {
    test::WriteFileBytes(file_, std::vector<uint8_t>(text.begin(), text.end()));
  }
  std::string Text() { return test::ReadFileText(file_); }
  std::string Read(const char* section, const char* key, const char* def = "def", std::size_t size = 260) {
    return ProfileReadString(files_, file_, section, key, def, size);
  }

  test::TempDir temp_;
  std::string file_ = temp_.path() + "p.ini";
  FileSystem& files_ = RealFileSystem();
};

TEST_F(ProfileFile, MissingFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(Read("PATH", "DOMAIN"), "def");
  EXPECT_EQ(ProfileReadInt(files_, file_, "CTRL", "MINDAYS", 120), 120);
  Write("[OTHER]\r\nDOMAIN=x\r\n[PATH]\r\nVIPDOC=y\r\n");
  EXPECT_EQ(Read("PATH", "DOMAIN"), "def");
  EXPECT_EQ(Read("NOPE", "VIPDOC"), "def");
}

TEST_F(ProfileFile, MatchesWithoutCaseAndTrimsAroundEquals) {
  Write("[path]\r\n  Domain  =   http://host/  \r\nvipdoc=a=b\r\n");
  EXPECT_EQ(Read("PATH", "DOMAIN"), "http://host/");
  EXPECT_EQ(Read("Path", "VIPDOC"), "a=b");
}

TEST_F(ProfileFile, FirstDuplicateKeyAndFirstSectionWin) {
  Write("[CTRL]\nMINDAYS=70\nMINDAYS=80\n[CTRL]\nTCKV4=0\n");
  EXPECT_EQ(ProfileReadInt(files_, file_, "CTRL", "MINDAYS", 1), 70);
  EXPECT_EQ(ProfileReadInt(files_, file_, "CTRL", "TCKV4", 1), 1);
}

TEST_F(ProfileFile, IntegerReadTakesTheLeadingNumber) {
  Write("[C]\r\na=12abc\r\nb=abc\r\nc=-5\r\nd= +7 \r\ne=\r\n");
  EXPECT_EQ(ProfileReadInt(files_, file_, "C", "a", 9), 12);
  EXPECT_EQ(ProfileReadInt(files_, file_, "C", "b", 9), 0);
  EXPECT_EQ(ProfileReadInt(files_, file_, "C", "c", 9), -5);
  EXPECT_EQ(ProfileReadInt(files_, file_, "C", "d", 9), 7);
  EXPECT_EQ(ProfileReadInt(files_, file_, "C", "e", 9), 0);
}

TEST_F(ProfileFile, GbkValuesComeBackAsUtf8AndAreCutAtCharacters) {
  std::string gbk = Utf8ToGbk("[PATH]\r\nVIPDOC=D:\\行情\\vipdoc\r\n");
  Write(gbk);
  EXPECT_EQ(Read("PATH", "VIPDOC"), "D:\\行情\\vipdoc");
  // Four bytes of room: "D:\" and not half of the first double-byte character.
  EXPECT_EQ(Read("PATH", "VIPDOC", "", 5), "D:\\");
}

TEST_F(ProfileFile, WriteUpdatesInPlaceAndKeepsOtherLines) {
  Write("; comment\r\n[PATH]\r\nDOMAIN=old\r\nVIPDOC=v\r\n\r\n[CTRL]\r\nMINDAYS=60\r\n");
  ASSERT_TRUE(ProfileWriteString(files_, file_, "path", "domain", "new"));
  EXPECT_EQ(Text(), "; comment\r\n[PATH]\r\ndomain=new\r\nVIPDOC=v\r\n\r\n[CTRL]\r\nMINDAYS=60\r\n");
  ASSERT_TRUE(ProfileWriteString(files_, file_, "PATH", "EXTRA", "e"));
  EXPECT_EQ(Text(),
            "; comment\r\n[PATH]\r\ndomain=new\r\nVIPDOC=v\r\nEXTRA=e\r\n\r\n[CTRL]\r\nMINDAYS=60\r\n");
  ASSERT_TRUE(ProfileWriteString(files_, file_, "NEW", "K", "行"));
  EXPECT_EQ(Read("NEW", "K"), "行");
  EXPECT_EQ(Text().substr(Text().size() - 13), "[NEW]\r\nK=" + Utf8ToGbk("行") + "\r\n");
}

TEST_F(ProfileFile, SeveralKeysGoInOneReplacement) {
  Write("[PATH]\r\nDOMAIN=old\r\n");
  ASSERT_TRUE(ProfileWriteStrings(files_, file_, {{"PATH", "VIPDOC", "v"}, {"CTRL", "MINDAYS", "60"}, {"PATH", "DOMAIN", "d"}}));
  EXPECT_EQ(Text(), "[PATH]\r\nDOMAIN=d\r\nVIPDOC=v\r\n[CTRL]\r\nMINDAYS=60\r\n");
}

// A write that cannot complete leaves the file as it was and no temporary.
TEST_F(ProfileFile, FailedWriteKeepsTheFile) {
  const std::string before = "[PATH]\r\nDOMAIN=" + std::string(100, 'd') + "\r\n";
  Write(before);
  test::FaultFileSystem full;
  full.NoSpaceAfter(40);
  EXPECT_FALSE(ProfileWriteString(full, file_, "CTRL", "MINDAYS", "200"));
  ::chmod(file_.c_str(), 0);
  if (::geteuid() != 0) {
    EXPECT_FALSE(ProfileWriteString(files_, file_, "CTRL", "MINDAYS", "200"));  // unreadable
  }
  ::chmod(file_.c_str(), 0644);
  EXPECT_EQ(Text(), before);
  EXPECT_FALSE(test::PathExists(file_ + ".new"));
}

TEST_F(ProfileFile, WriteCreatesTheFile) {
  ASSERT_TRUE(ProfileWriteString(files_, file_, "CTRL", "TCKV4", "0"));
  EXPECT_EQ(Text(), "[CTRL]\r\nTCKV4=0\r\n");
  EXPECT_FALSE(ProfileWriteString(files_, temp_.path() + "no/such/dir.ini", "A", "B", "C"));
}

}  // namespace
}  // namespace marbloom
