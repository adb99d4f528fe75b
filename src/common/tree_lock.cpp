#include "common/tree_lock.h"

#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "base/file_lock.h"
#include "common/shared_state.h"

namespace marbloom {
namespace {

// Locks this process holds, by the lock file's identity.
struct HeldLock {
  int fd = -1;
  int holders = 0;
  pid_t owner = 0;  // a forked child inherits the table, not the lock
};

std::mutex g_mutex;
std::map<unsigned long long, HeldLock> g_held;

}  // namespace

TreeWriteLock::TreeWriteLock(const DataLayout& layout)
    : lockFile_(layout.WriterLockFile()), historyDir_(layout.HistoryDir()), reporter_(layout.Reports()) {
  const int fd = OpenLockFile(lockFile_, &key_);
  if (fd < 0) return;
  std::lock_guard<std::mutex> guard(g_mutex);
  HeldLock& held = g_held[key_];
  if (held.holders > 0 && held.owner != ::getpid()) {
    CloseLockFile(held.fd);
    held = HeldLock{};
  }
  if (held.holders > 0) {
    CloseLockFile(fd);
  } else {
    if (!TryLockFile(fd)) {
      busy_ = errno == EWOULDBLOCK;
      CloseLockFile(fd);
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
  CloseLockFile(it->second.fd);  // closing the last descriptor drops the lock
  g_held.erase(it);
}

OperationResult TreeWriteLock::Refuse() const {
  const std::string message = busy_ ? "数据目录" + historyDir_ + "正被另一个操作写入, 请等它结束后再试!"
                                    : "无法打开数据目录的锁文件" + lockFile_ + "!";
  reporter_.ReportF("%s", message.c_str());
  return OperationResult{busy_ ? Outcome::kBusy : Outcome::kFailed, message, 0};
}

}  // namespace marbloom
