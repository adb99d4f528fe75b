// What every file system behind the seam promises its callers, checked over
// the real one, the journalling one around it and a fault one that fails
// nothing: the engines cannot tell them apart.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cerrno>
#include <functional>
#include <memory>

#include "support/fault_file_system.h"
#include "support/temp_dir.h"
#include "undo/journal_file_system.h"

namespace marbloom::test {
namespace {

struct Seam {
  const char* name;
  std::function<std::unique_ptr<FileSystem>(const DataLayout&)> make;  // null: the real one
};
void PrintTo(const Seam& s, std::ostream* os) { *os << s.name; }

class FileSystemContract : public ::testing::TestWithParam<Seam> {
 protected:
  void SetUp() override {
    if (GetParam().make) owned_ = GetParam().make(tree_.layout());
    WriteFileBytes(a_, {'a', 'b', 'c'});
    ASSERT_EQ(::symlink(a_.c_str(), link_.c_str()), 0);
  }
  FileSystem& files() { return owned_ ? *owned_ : RealFileSystem(); }
  std::string Text(const std::string& path) { return PathExists(path) ? ReadFileText(path) : "<none>"; }

  TestTree tree_;
  std::unique_ptr<FileSystem> owned_;
  const std::string dir_ = tree_.historyDir(), a_ = dir_ + "a", link_ = dir_ + "l", fresh_ = dir_ + "n";
};

TEST_P(FileSystemContract, WritersRefuseLinksAndExclusiveCreateRefusesAnything) {
  EXPECT_TRUE(files().Open(link_, OpenMode::kRead));
  for (OpenMode mode : {OpenMode::kReadRegular, OpenMode::kUpdate, OpenMode::kWrite}) {
    errno = 0;
    EXPECT_FALSE(files().Open(link_, mode)) << static_cast<int>(mode);
    EXPECT_EQ(errno, ELOOP) << static_cast<int>(mode);
  }
  for (const std::string& taken : {a_, link_}) {
    errno = 0;
    EXPECT_FALSE(files().Open(taken, OpenMode::kCreateExclusive));
    EXPECT_EQ(errno, EEXIST);
  }
  EXPECT_EQ(Text(a_), "abc");
  File created = files().Open(fresh_, OpenMode::kCreateExclusive);
  ASSERT_TRUE(created);
  EXPECT_TRUE(created.Write("xy", 2, 0) && created.Close());
  EXPECT_EQ(Text(fresh_), "xy");
  errno = 0;
  EXPECT_FALSE(files().Open(dir_ + "missing", OpenMode::kRead));
  EXPECT_EQ(errno, ENOENT);
}

TEST_P(FileSystemContract, RenameLinkAndRemoveWorkOnNamesNotOnWhatLinksPointAt) {
  WriteFileBytes(fresh_, {'n', 'e', 'w'});
  ASSERT_TRUE(files().Rename(fresh_, a_));
  EXPECT_EQ(Text(a_), "new");
  EXPECT_FALSE(PathExists(fresh_));
  ASSERT_TRUE(files().Link(a_, dir_ + "b"));
  EXPECT_EQ(Text(dir_ + "b"), "new");
  errno = 0;
  EXPECT_FALSE(files().Link(a_, dir_ + "b"));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_TRUE(files().Remove(link_));
  EXPECT_EQ(Text(a_), "new");
  errno = 0;
  EXPECT_FALSE(files().Remove(link_));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(files().Exists(link_));
}

// From another kind of file system where the machine has one (no copy in
// the kernel there: the buffered way), and within the tree.
TEST_P(FileSystemContract, CopyGivesTheBytesOrFailsWhenTheSourceEndsEarly) {
  char shm[] = "/dev/shm/marbloom-XXXXXX";
  const std::string other = ::mkdtemp(shm) != nullptr ? std::string(shm) + "/" : dir_;
  const std::shared_ptr<void> removeOther(nullptr, [&](void*) { RemoveTree(shm); });
  std::vector<uint8_t> bytes(300000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  for (const std::string& source : {other + "o", dir_ + "s"}) {
    WriteFileBytes(source, bytes);
    const File from = files().Open(source, OpenMode::kRead);
    File to = files().Open(a_, OpenMode::kUpdate);
    ASSERT_TRUE(from && to);
    ASSERT_TRUE(files().Copy(from, 5, to, 3, 200000));
    EXPECT_FALSE(files().Copy(from, 200000, to, 400000, 100001));
    ASSERT_TRUE(to.Close());
    const std::vector<uint8_t> got = ReadFileBytes(a_);
    ASSERT_GE(got.size(), 200003u);
    EXPECT_TRUE(std::equal(bytes.begin() + 5, bytes.begin() + 200005, got.begin() + 3)) << source;
  }
}

TEST_P(FileSystemContract, FreeSpaceIsKnownWhereAFolderIs) {
  EXPECT_GT(files().FreeSpace(dir_), 0);
  errno = 0;
  EXPECT_EQ(files().FreeSpace(dir_ + "missing/x"), -1);
  EXPECT_EQ(errno, ENOENT);
}

INSTANTIATE_TEST_SUITE_P(
    Seams, FileSystemContract,
    ::testing::Values(Seam{"real", nullptr},
                      Seam{"journal",
                           [](const DataLayout& layout) -> std::unique_ptr<FileSystem> {
                             return std::make_unique<JournalFileSystem>(RealFileSystem(), layout, "test", "");
                           }},
                      Seam{"fault", [](const DataLayout&) -> std::unique_ptr<FileSystem> {
                             return std::make_unique<FaultFileSystem>();
                           }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace marbloom::test
