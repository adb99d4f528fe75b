#include "common/operation_engine.h"

#include "base/run_log.h"

namespace marbloom {

void OperationEngine::FlushTree(const DataLayout& layout) {
  if (layout.Files().SyncFileSystem(layout.HistoryDir())) return;
  RunLog("%s数据写入磁盘失败!", layout.HistoryDir().c_str());
  NoteFailure();
}

}  // namespace marbloom
