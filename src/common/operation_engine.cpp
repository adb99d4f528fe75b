#include "common/operation_engine.h"

#include "base/run_log.h"

namespace marbloom {

namespace {

bool FlushHistoryTree(const DataLayout& layout) {
  if (layout.Files().SyncFileSystem(layout.HistoryDir())) return true;
  RunLog("%s数据写入磁盘失败!", layout.HistoryDir().c_str());
  return false;
}

}  // namespace

bool DeferredFlush::Settle(const DataLayout& layout) { return !owed_.exchange(false) || FlushHistoryTree(layout); }

void OperationEngine::FlushTree(const DataLayout& layout) {
  if (deferredFlush_ != nullptr)
    deferredFlush_->Owe();
  else if (!FlushHistoryTree(layout))
    NoteFailure();
}

}  // namespace marbloom
