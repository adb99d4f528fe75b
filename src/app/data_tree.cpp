#include "app/data_tree.h"

#include "base/file_helpers.h"
#include "base/message_sink.h"

namespace marbloom {

bool CreateDataTree(const DataLayout& layout, bool quiet, std::string* failure) {
  for (const DataLayout::TreeFolder& folder : layout.TreeFolders()) {
    if (MakeDirTree(layout.Files(), folder.path, true)) continue;
    const std::string message = "创建" + folder.label + "目录失败或者权限不足!";
    if (failure != nullptr) *failure = message;
    if (!quiet) ShowMessage(message);
    return false;
  }
  return true;
}

}  // namespace marbloom
