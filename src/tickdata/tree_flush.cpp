#include "tickdata/tree_flush.h"

#include "base/file_helpers.h"
#include "base/run_log.h"

namespace marbloom {

void FlushWrittenTree(OperationEngine& engine, const DataLayout& layout, bool wrote) {
  if (!wrote || SyncFileSystemOf(layout.HistoryDir())) return;
  RunLog("%s数据写入磁盘失败!", layout.HistoryDir().c_str());
  engine.NoteFailure();
}

}  // namespace marbloom
