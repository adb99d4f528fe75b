#include "app/startup.h"

#include <unistd.h>

#include <cstring>

#include "app/data_tree.h"
#include "base/file_helpers.h"
#include "base/message_sink.h"
#include "app/settings.h"
#include "common/shared_state.h"

namespace marbloom {

int InitWorkDirectory() {
  char buffer[kPathCapacity] = {};
  if (::getcwd(buffer, 240) == nullptr) buffer[0] = '\0';
  NormalizeDirPath(buffer, 240);
  if (std::strlen(buffer) > 230) {
    ShowMessage("工作目录名太长,无法打开配置文件!", "严重错误");
    return 0;
  }
  SetWorkDirectory(buffer);
  return 1;
}

int StartUp() {
  if (!InitWorkDirectory()) return 0;
  if (!LoadSettings(&Settings())) return 0;
  DataTreeReady = CreateDataTree(1);
  return 1;
}

int ConfirmSettings() {
  SaveSettings(&Settings());
  LoadSettings(&Settings());
  int ready = CreateDataTree(0);
  DataTreeReady = ready;
  if (ready) DownloadConfigLoaded = 0;
  return ready;
}

}  // namespace marbloom
