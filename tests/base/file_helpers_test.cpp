#include "base/file_helpers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/temp_dir.h"

namespace marbloom {
namespace {

using test::PathExists;
using test::TempDir;

FileSystem& files = RealFileSystem();

TEST(TrimSpaces, TrimsBlanksAtBothEnds) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"\t abc \r\n", "abc"}, {"   ", ""}, {"", ""}, {" a b ", "a b"}, {"\n x\ty \t", "x\ty"}};
  for (const auto& c : cases) EXPECT_EQ(TrimSpaces(c.in), c.out) << c.in;
}

TEST(NormalizeDirPath, TurnsBackslashesAndAddsOneSeparator) {
  EXPECT_EQ(NormalizeDirPath("C:\\data\\vipdoc", 260), "C:/data/vipdoc/");
  EXPECT_EQ(NormalizeDirPath("a/b/"), "a/b/");
  EXPECT_EQ(NormalizeDirPath("a\\b\\"), "a/b/");
  EXPECT_EQ(NormalizeDirPath(""), "");
}

TEST(NormalizeDirPath, LeavesAFullBufferWithoutSeparator) {
  // 259 characters fill a 260-byte buffer; 258 leave room for the separator.
  EXPECT_EQ(NormalizeDirPath(std::string(259, 'x'), 260), std::string(259, 'x'));
  std::string withSeparator(258, 'y');
  withSeparator += '/';
  EXPECT_EQ(NormalizeDirPath(std::string(258, 'y'), 260), withSeparator);
}

TEST(MakeDirTree, CreatesEveryLevelAndLeavesNoProbe) {
  TempDir temp;
  EXPECT_TRUE(MakeDirTree(files, temp.path() + "a\\b\\c", true));
  EXPECT_TRUE(PathExists(temp.path() + "a/b/c"));
  EXPECT_FALSE(PathExists(temp.path() + "a/b/c/$.tmp"));
  EXPECT_TRUE(MakeDirTree(files, temp.path() + "x/y", false));
  EXPECT_TRUE(PathExists(temp.path() + "x/y"));
}

TEST(MakeDirTree, FailsOnlyThroughTheProbe) {
  TempDir temp;
  test::WriteFileBytes(temp.path() + "file", {1});
  // A directory below a regular file can be neither created nor written.
  EXPECT_FALSE(MakeDirTree(files, temp.path() + "file/sub/", true));
  EXPECT_TRUE(MakeDirTree(files, temp.path() + "file/sub/", false));
  std::string tooLong = temp.path();
  tooLong.append(kPathCapacity, 'l');
  EXPECT_FALSE(MakeDirTree(files, tooLong, false));
}

TEST(MakeDirTree, ReadOnlyDirectoryFailsTheProbe) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
  TempDir temp;
  std::string dir = temp.path() + "ro/";
  ASSERT_TRUE(MakeDirTree(files, dir, true));
  ::chmod(dir.c_str(), 0555);
  EXPECT_FALSE(MakeDirTree(files, dir, true));
  EXPECT_TRUE(MakeDirTree(files, dir, false));
  ::chmod(dir.c_str(), 0755);
}

TEST(FileLength, KeepsThePosition) {
  TempDir temp;
  test::WriteFileBytes(temp.path() + "f", std::vector<uint8_t>(100, 7));
  const File file = files.Open(temp.path() + "f", OpenMode::kRead);
  ASSERT_TRUE(file.valid());
  ::lseek(file.handle(), 10, SEEK_SET);
  EXPECT_EQ(file.Length(), 100);
  EXPECT_EQ(::lseek(file.handle(), 0, SEEK_CUR), 10);
  EXPECT_EQ(File().Length(), -1);
}

// The length an open measured answers the first question only, and not
// once the file changed through the handle.
TEST(FileLength, TheOpensLookAnswersOnceAndNotAfterAChange) {
  TempDir temp;
  test::WriteFileBytes(temp.path() + "f", {1, 2, 3});
  File file = files.Open(temp.path() + "f", OpenMode::kUpdate);
  ASSERT_TRUE(file.Write("abcd", 4, 3));
  EXPECT_EQ(file.Length(), 7);
  const File again = files.Open(temp.path() + "f", OpenMode::kReadRegular);
  EXPECT_EQ(again.Length(), 7);
  ASSERT_TRUE(file.Truncate(2));
  EXPECT_EQ(again.Length(), 2);
}

TEST(MoveFileAnywhere, MovesAndReplaces) {
  TempDir temp;
  test::WriteFileBytes(temp.path() + "a", {1, 2, 3});
  test::WriteFileBytes(temp.path() + "b", {9});
  EXPECT_TRUE(MoveFileAnywhere(files, temp.path() + "a", temp.path() + "b"));
  EXPECT_FALSE(PathExists(temp.path() + "a"));
  EXPECT_EQ(test::ReadFileBytes(temp.path() + "b"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(MoveFileAnywhere(files, temp.path() + "missing", temp.path() + "c"));
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
  EXPECT_TRUE(MoveFileAnywhere(files, source, temp.path() + "moved"));
  EXPECT_FALSE(PathExists(source));
  EXPECT_EQ(test::ReadFileBytes(temp.path() + "moved"), bytes);
  EXPECT_FALSE(PathExists(temp.path() + "moved.part"));
}

}  // namespace
}  // namespace marbloom
