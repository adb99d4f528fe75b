#include "common/operation_engine.h"

#include "base/file_helpers.h"
#include "base/run_log.h"

namespace marbloom {

void OperationEngine::FlushTree(const DataLayout& layout) {
  if (SyncFileSystemOf(layout.HistoryDir())) return;
  RunLog("%s数据写入磁盘失败!", layout.HistoryDir().c_str());
  NoteFailure();
}

}  // namespace marbloom
