#include "app/startup.h"

#include <unistd.h>

#include "app/data_tree.h"
#include "base/file_helpers.h"
#include "base/message_sink.h"
#include "base/run_log.h"
#include "common/shared_state.h"

namespace marbloom {
namespace {

constexpr std::size_t kWorkDirBuffer = 240;
constexpr std::size_t kWorkDirLimit = 230;

OperationResult Failed(const std::string& message) {
  RunLog("%s", message.c_str());
  return OperationResult{Outcome::kFailed, message, 1};
}

}  // namespace

bool InitWorkDirectory() {
  char buffer[kWorkDirBuffer] = {};
  if (::getcwd(buffer, sizeof buffer) == nullptr) buffer[0] = '\0';
  const std::string dir = NormalizeDirPath(buffer, kWorkDirBuffer);
  if (dir.size() > kWorkDirLimit) {
    ShowMessage("工作目录名太长,无法打开配置文件!", "严重错误");
    return false;
  }
  SetWorkDirectory(dir);
  return true;
}

bool StartUp() {
  if (!InitWorkDirectory()) return false;
  LoadSettings(Settings());
  DataTreeReady = CreateDataTree(CurrentLayout(), true);
  return true;
}

OperationResult ConfirmSettings(const AppSettings& entered) {
  if (std::string problem = SettingTextProblem(entered); !problem.empty())
    return OperationResult{Outcome::kInvalid, problem, 0};
  if (!SaveSettings(entered)) return Failed("设置文件" + SettingsFilePath() + "写入失败, 设置未更改!");
  LoadSettings(Settings());
  std::string failure;
  const bool ready = CreateDataTree(CurrentLayout(), false, &failure);
  DataTreeReady = ready;
  if (!ready) return OperationResult{Outcome::kFailed, failure, 1};
  DownloadConfigLoaded = 0;
  if (!SyncFileSystemOf(WorkDirectory())) return Failed("设置文件" + SettingsFilePath() + "写入磁盘失败!");
  return OperationResult{Outcome::kDone, "设置已更改!", 0};
}

}  // namespace marbloom
