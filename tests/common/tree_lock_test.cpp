#include "common/tree_lock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace marbloom {
namespace {

// Whether a child process could take the lock while this one holds what it holds.
bool OtherProcessGetsLock(const DataLayout& layout) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(TreeWriteLock(layout).held() ? 0 : 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(TreeWriteLock, OneWriterPerTreeAcrossProcessesNestedHoldersShare) {
  test::TempDir dir;
  const DataLayout layout(dir.path(), dir.path());
  {
    TreeWriteLock outer(layout);
    ASSERT_TRUE(outer.held());
    {
      TreeWriteLock nested(layout);
      EXPECT_TRUE(nested.held());
    }
    EXPECT_FALSE(OtherProcessGetsLock(layout));  // still held by `outer`
  }
  EXPECT_TRUE(OtherProcessGetsLock(layout));
}

TEST(TreeWriteLock, RefusalNamesTheTree) {
  test::TestTree tree;  // the refusal is logged into its folder, not where the tests run
  const DataLayout missing("/nonexistent/", "/nonexistent/vipdoc/");
  TreeWriteLock lock(missing);
  ASSERT_FALSE(lock.held());
  OperationResult refused = lock.Refuse();
  EXPECT_EQ(refused.outcome, Outcome::kFailed);
  EXPECT_NE(refused.message.find("/nonexistent/vipdoc/"), std::string::npos);
}

// A link at the lock file's place is refused: nothing is made where it points.
TEST(TreeWriteLock, ALinkAtTheLockFileIsRefused) {
  test::TempDir dir;
  const DataLayout layout(dir.path(), dir.path());
  ASSERT_EQ(::symlink((dir.path() + "elsewhere").c_str(), layout.WriterLockFile().c_str()), 0);
  EXPECT_FALSE(TreeWriteLock(layout).held());
  EXPECT_FALSE(test::PathExists(dir.path() + "elsewhere"));
}

}  // namespace
}  // namespace marbloom
