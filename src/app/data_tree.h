#pragma once
// The program's working directories and the history data tree.
#include <string>

#include "common/data_layout.h"

namespace marbloom {

// Creates and write-probes the layout's folders in order; false at the first
// that is not usable, whose message ("创建...目录失败或者权限不足!") goes to
// `failure` and, unless quiet, to a message box.
bool CreateDataTree(const DataLayout& layout, bool quiet, std::string* failure = nullptr);

}  // namespace marbloom
