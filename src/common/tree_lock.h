#pragma once
// One writing operation at a time on a data tree, across processes: an
// advisory lock (flock) on the tree's lock file, taken at once or refused,
// never waited for. The kernel drops it when the holder's process ends, so a
// killed run leaves nothing to clean up. Holders nested in one process (a
// download run and the conversion it starts) share the one lock. Reading
// operations (checks, listings, show) do not take it.
#include <string>

#include "common/data_layout.h"
#include "common/operation_result.h"

namespace marbloom {

class TreeWriteLock {
 public:
  explicit TreeWriteLock(const DataLayout& layout);
  ~TreeWriteLock();
  TreeWriteLock(const TreeWriteLock&) = delete;
  TreeWriteLock& operator=(const TreeWriteLock&) = delete;

  bool held() const { return held_; }

  // Why the lock was not taken, reported to the status line and the run log
  // and returned as the operation's result (kBusy when another operation
  // holds it, kFailed when the lock file cannot be opened).
  OperationResult Refuse() const;

 private:
  std::string lockFile_;
  std::string historyDir_;
  Reporter& reporter_;
  bool held_ = false;
  bool busy_ = false;
  unsigned long long key_ = 0;
};

}  // namespace marbloom
