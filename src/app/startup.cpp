#include "app/startup.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "app/data_tree.h"
#include "base/file_helpers.h"
#include "base/message_sink.h"
#include "base/profile_file.h"
#include "common/shared_state.h"

namespace marbloom {
namespace {

constexpr std::size_t kWorkDirBuffer = 240;
constexpr std::size_t kWorkDirLimit = 230;

// An environment path is taken only when absolute, as the XDG rule says.
std::string AbsolutePathOrEmpty(const char* path) {
  return path != nullptr && path[0] == '/' ? std::string(path) : std::string();
}

std::string HomeDirectory() {
  std::string home = AbsolutePathOrEmpty(std::getenv("HOME"));
  if (home.empty())
    if (const passwd* user = ::getpwuid(::getuid()); user != nullptr) home = AbsolutePathOrEmpty(user->pw_dir);
  return home;
}

bool Fatal(const std::string& message) {
  ShowMessage(message, "严重错误");
  return false;
}

// Enters the per-user work directory, creating it and naming the history
// directory inside it in its settings file when that names none.
bool EnterUserWorkDirectory(FileSystem& files) {
  const std::string dir = UserWorkDirectory();
  const std::string failed = "创建工作目录" + dir + "失败或者权限不足!";
  if (dir.empty() || !MakeDirTree(files, dir, true) || ::chdir(dir.c_str()) != 0) return Fatal(failed);
  const std::string settingsFile = DataLayout(dir, std::string()).SettingsFile();
  if (!ProfileHasKey(files, settingsFile, "PATH", "VIPDOC") &&
      !ProfileWriteString(files, settingsFile, "PATH", "VIPDOC", kUserHistoryDir))
    return Fatal(failed);
  return true;
}

OperationResult Failed(const std::string& message) {
  CurrentLayout().Reports().Log(message);
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

std::string UserWorkDirectory() {
  std::string base = AbsolutePathOrEmpty(std::getenv("XDG_DATA_HOME"));
  if (base.empty()) {
    const std::string home = HomeDirectory();
    if (home.empty()) return std::string();
    base = home + "/.local/share";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return (base == "/" ? base : base + "/") + "marbloom/";
}

bool CurrentDirHoldsSettings(FileSystem& files) {
  return files.Exists(DataLayout(std::string(), std::string()).SettingsFile());
}

bool EnterWorkDirectory(const std::string& given, FileSystem& files) {
  if (given.empty()) return CurrentDirHoldsSettings(files) || EnterUserWorkDirectory(files);
  if (::chdir(given.c_str()) != 0) return Fatal("无法进入工作目录" + given + "!");
  return true;
}

bool StartUp(FileSystem& files, bool createTree) {
  if (!InitWorkDirectory()) return false;
  LoadSettings(Settings(), files);
  DataTreeReady = createTree && CreateDataTree(CurrentLayout().WithFiles(files), true);
  return true;
}

OperationResult ConfirmSettings(const AppSettings& entered, FileSystem& files) {
  if (std::string problem = SettingTextProblem(entered); !problem.empty())
    return OperationResult{Outcome::kInvalid, problem, 0};
  if (!SaveSettings(entered, files)) return Failed("设置文件" + SettingsFilePath() + "写入失败, 设置未更改!");
  LoadSettings(Settings(), files);
  std::string failure;
  const bool ready = CreateDataTree(CurrentLayout().WithFiles(files), false, &failure);
  DataTreeReady = ready;
  if (!ready) return OperationResult{Outcome::kFailed, failure, 1};
  KeptDownloadConfig().Forget();
  if (!files.SyncFileSystem(WorkDirectory())) return Failed("设置文件" + SettingsFilePath() + "写入磁盘失败!");
  return OperationResult{Outcome::kDone, "设置已更改!", 0};
}

}  // namespace marbloom
