#include "base/file_helpers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "support/temp_dir.h"

namespace marbloom {
namespace {

using test::PathExists;
using test::TempDir;

TEST(TrimSpaces, TrimsBlanksAtBothEnds) {
  char text[] = "\t abc \r\n";
  EXPECT_STREQ(TrimSpaces(text), "abc");
  char blanks[] = "   ";
  EXPECT_STREQ(TrimSpaces(blanks), "");
  char empty[] = "";
  EXPECT_STREQ(TrimSpaces(empty), "");
  char inner[] = " a b ";
  EXPECT_STREQ(TrimSpaces(inner), "a b");
  EXPECT_EQ(TrimSpaces(static_cast<char*>(nullptr)), nullptr);
  EXPECT_EQ(TrimSpaces(std::string_view("\n x\ty \t")), "x\ty");
}

TEST(NormalizeDirPath, TurnsBackslashesAndAddsOneSeparator) {
  char path[260] = "C:\\data\\vipdoc";
  NormalizeDirPath(path, sizeof path);
  EXPECT_STREQ(path, "C:/data/vipdoc/");
  EXPECT_EQ(NormalizeDirPath("a/b/"), "a/b/");
  EXPECT_EQ(NormalizeDirPath("a\\b\\"), "a/b/");
  EXPECT_EQ(NormalizeDirPath(""), "");
}

TEST(NormalizeDirPath, LeavesAFullBufferWithoutSeparator) {
  char path[260];
  std::memset(path, 'x', 259);
  path[259] = '\0';
  NormalizeDirPath(path, sizeof path);
  EXPECT_EQ(std::strlen(path), 259u);
  EXPECT_EQ(path[258], 'x');
  // 258 characters: the separator and the terminator still fit.
  std::string shorter(258, 'y');
  EXPECT_EQ(NormalizeDirPath(shorter, 260).size(), 259u);
}

TEST(MakeDirTree, CreatesEveryLevelAndLeavesNoProbe) {
  TempDir temp;
  std::string path = temp.path() + "a\\b\\c";
  EXPECT_EQ(MakeDirTree(path, 1), 1);
  EXPECT_TRUE(PathExists(temp.path() + "a/b/c"));
  EXPECT_FALSE(PathExists(temp.path() + "a/b/c/$.tmp"));
  char buffer[260];
  std::snprintf(buffer, sizeof buffer, "%sx\\y", temp.path().c_str());
  EXPECT_EQ(MakeDirTree(buffer, 0), 1);
  EXPECT_EQ(std::string(buffer), temp.path() + "x/y/");  // normalised in place
}

TEST(MakeDirTree, FailsOnlyThroughTheProbe) {
  TempDir temp;
  test::WriteFileBytes(temp.path() + "file", {1});
  // A directory below a regular file can be neither created nor written.
  EXPECT_EQ(MakeDirTree(temp.path() + "file/sub/", 1), 0);
  EXPECT_EQ(MakeDirTree(temp.path() + "file/sub/", 0), 1);
  EXPECT_EQ(MakeDirTree(static_cast<char*>(nullptr), 1), 0);
}

TEST(MakeDirTree, ReadOnlyDirectoryFailsTheProbe) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
  TempDir temp;
  std::string dir = temp.path() + "ro/";
  ASSERT_EQ(MakeDirTree(dir, 1), 1);
  ::chmod(dir.c_str(), 0555);
  EXPECT_EQ(MakeDirTree(dir, 1), 0);
  EXPECT_EQ(MakeDirTree(dir, 0), 1);
  ::chmod(dir.c_str(), 0755);
}

TEST(FileLength, KeepsThePosition) {
  TempDir temp;
  test::WriteFileBytes(temp.path() + "f", std::vector<uint8_t>(100, 7));
  int fd = ::open((temp.path() + "f").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ::lseek(fd, 10, SEEK_SET);
  EXPECT_EQ(FileLength(fd), 100);
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 10);
  ::close(fd);
  EXPECT_EQ(FileLength(-1), -1);
}

TEST(MoveFileAnywhere, MovesAndReplaces) {
  TempDir temp;
  test::WriteFileBytes(temp.path() + "a", {1, 2, 3});
  test::WriteFileBytes(temp.path() + "b", {9});
  EXPECT_TRUE(MoveFileAnywhere(temp.path() + "a", temp.path() + "b"));
  EXPECT_FALSE(PathExists(temp.path() + "a"));
  EXPECT_EQ(test::ReadFileBytes(temp.path() + "b"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(MoveFileAnywhere(temp.path() + "missing", temp.path() + "c"));
}


TEST(MoveFileAnywhere, CopiesAcrossFileSystems) {
  TempDir temp;
  // /dev/shm is a memory file system, a different device from the temporary folder.
  struct stat shm, tmp;
  ASSERT_EQ(::stat("/dev/shm", &shm), 0);
  ASSERT_EQ(::stat(temp.path().c_str(), &tmp), 0);
  if (shm.st_dev == tmp.st_dev) GTEST_SKIP() << "/dev/shm shares the temporary folder's file system";
  const std::string source = "/dev/shm/marbloom-move-" + std::to_string(::getpid());
  std::vector<uint8_t> bytes(200000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  test::WriteFileBytes(source, bytes);
  EXPECT_TRUE(MoveFileAnywhere(source, temp.path() + "moved"));
  EXPECT_FALSE(PathExists(source));
  EXPECT_EQ(test::ReadFileBytes(temp.path() + "moved"), bytes);
  EXPECT_FALSE(PathExists(temp.path() + "moved.part"));
}

}  // namespace
}  // namespace marbloom
