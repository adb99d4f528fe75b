#include "app/data_tree.h"

#include <string>

#include "app/settings.h"
#include "base/file_helpers.h"
#include "base/message_sink.h"
#include "common/data_layout.h"

namespace marbloom {

int CreateDataTree(int quiet) {
  for (const DataLayout::TreeFolder& folder : CurrentLayout().TreeFolders()) {
    if (!MakeDirTree(folder.path, 1)) {
      if (!quiet) ShowMessage("创建" + folder.label + "目录失败或者权限不足!");
      return 0;
    }
  }
  return 1;
}

}  // namespace marbloom
