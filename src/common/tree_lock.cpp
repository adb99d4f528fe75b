#include "common/tree_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "common/shared_state.h"

namespace marbloom {
namespace {

// Locks this process holds, by the lock file's device and inode.
struct HeldLock {
  int fd = -1;
  int holders = 0;
  pid_t owner = 0;  // a forked child inherits the table, not the lock
};

std::mutex g_mutex;
std::map<unsigned long long, HeldLock> g_held;

unsigned long long KeyOf(const struct stat& st) {
  return (static_cast<unsigned long long>(st.st_dev) << 40) ^ static_cast<unsigned long long>(st.st_ino);
}

}  // namespace

TreeWriteLock::TreeWriteLock(const DataLayout& layout)
    : lockFile_(layout.WriterLockFile()), historyDir_(layout.HistoryDir()) {
  const int fd = ::open(lockFile_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    if (fd >= 0) ::close(fd);
    return;
  }
  key_ = KeyOf(st);
  std::lock_guard<std::mutex> guard(g_mutex);
  HeldLock& held = g_held[key_];
  if (held.holders > 0 && held.owner != ::getpid()) {
    ::close(held.fd);
    held = HeldLock{};
  }
  if (held.holders > 0) {
    ::close(fd);
  } else {
    int rc;
    do rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      busy_ = errno == EWOULDBLOCK;
      ::close(fd);
      g_held.erase(key_);
      return;
    }
    held.fd = fd;
    held.owner = ::getpid();
  }
  ++held.holders;
  held_ = true;
}

TreeWriteLock::~TreeWriteLock() {
  if (!held_) return;
  std::lock_guard<std::mutex> guard(g_mutex);
  auto it = g_held.find(key_);
  if (it == g_held.end() || --it->second.holders > 0) return;
  ::close(it->second.fd);  // closing the last descriptor drops the lock
  g_held.erase(it);
}

OperationResult TreeWriteLock::Refuse() const {
  const std::string message = busy_ ? "数据目录" + historyDir_ + "正被另一个操作写入, 请等它结束后再试!"
                                    : "无法打开数据目录的锁文件" + lockFile_ + "!";
  ReportF("%s", message.c_str());
  return OperationResult{busy_ ? Outcome::kBusy : Outcome::kFailed, message, 0};
}

}  // namespace marbloom
