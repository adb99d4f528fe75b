#include "app/settings.h"

#include <algorithm>
#include <optional>
#include <string>

#include "base/file_helpers.h"
#include "base/profile_file.h"
#include "base/run_log.h"
#include "base/text_encoding.h"
#include "undo/journal_file_system.h"

namespace marbloom {
namespace {

std::string g_workDirectory;

constexpr std::size_t kSettingTextBuffer = kSettingTextLimit + 1;

// Why `value` would not read back as entered, naming the setting; empty when it would.
std::string TextProblem(const char* name, const std::string& value) {
  const std::string trimmed = TrimSpaces(value);
  const std::optional<std::string> gbk = Utf8ToGbkExactly(trimmed);
  if (!gbk) return std::string(name) + "含有GBK编码无法表示的字符, 设置未保存!";
  if (gbk->size() > kSettingTextLimit)
    return std::string(name) + "太长: 最多" + std::to_string(kSettingTextLimit) + "个字节(GBK编码), 设置未保存!";
  const bool quoted = trimmed.size() >= 2 && (trimmed.front() == '"' || trimmed.front() == '\'') &&
                      trimmed.back() == trimmed.front();
  if (quoted || trimmed.find_first_of("\r\n") != std::string::npos)
    return std::string(name) + "不能含有换行符或首尾成对的引号, 设置未保存!";
  return std::string();
}

}  // namespace

AppSettings& Settings() {
  static AppSettings settings;
  return settings;
}

const std::string& WorkDirectory() { return g_workDirectory; }

void SetWorkDirectory(const std::string& dir) { g_workDirectory = dir; }

std::string SettingsFilePath() { return DataLayout(g_workDirectory, std::string()).SettingsFile(); }

std::atomic<FileSystem*> g_treeFiles{nullptr};

DataLayout CurrentLayout() {
  FileSystem* files = g_treeFiles.load();
  return DataLayout(g_workDirectory, Settings().historyDir, files != nullptr ? *files : RealFileSystem());
}

JournalledRun::JournalledRun(std::string operation, std::string arguments, std::string sourceTree)
    : files_(std::make_unique<JournalFileSystem>(RealFileSystem(), CurrentLayout(), std::move(operation),
                                                 std::move(arguments), std::move(sourceTree))) {
  g_treeFiles.store(files_.get());
}

JournalledRun::~JournalledRun() { g_treeFiles.store(nullptr); }

std::string JournalledRun::Problem() const { return files_->Problem(); }

bool JournalledRun::Refused() const { return files_->Refused(); }

MinuteOptions CurrentMinuteOptions() {
  const AppSettings& s = Settings();
  return MinuteOptions{s.minuteDays, s.fiveMinuteDays, s.tckv4};
}

std::atomic<int> DataTreeReady{0};

DownloadConfigCache& KeptDownloadConfig() {
  static DownloadConfigCache config;
  return config;
}

DownloadServer CurrentDownloadServer() {
  return DownloadServer{Settings().downloadBase, kDefaultServerUser, kDefaultServerPassword};
}

DownloadRunSetup CurrentDownloadSetup() {
  const AppSettings& s = Settings();
  return DownloadRunSetup{CurrentLayout(),           DataTreeReady != 0,     CurrentDownloadServer(),
                          s.minutesAfterTick != 0,   CurrentMinuteOptions(), &KeptDownloadConfig()};
}

void LoadSettings(AppSettings& settings, FileSystem& files) {
  settings = SettingsIn(g_workDirectory, files);
  SetRunLogDirectory(DataLayout(g_workDirectory, settings.historyDir).LogDir());
}

AppSettings SettingsIn(const std::string& workDir, FileSystem& files, const char* defaultHistoryDir) {
  AppSettings settings;
  const std::string file = DataLayout(workDir, std::string()).SettingsFile();
  settings.downloadBase =
      TrimSpaces(ProfileReadString(files, file, "PATH", "DOMAIN", kDefaultDownloadBase, kSettingTextBuffer));
  settings.historyDir = NormalizeDirPath(
      TrimSpaces(ProfileReadString(files, file, "PATH", "VIPDOC", defaultHistoryDir, kSettingTextBuffer)),
      kPathCapacity);
  settings.minuteDays = std::clamp(ProfileReadInt(files, file, "CTRL", "MINDAYS", 120), 50, 500);
  settings.fiveMinuteDays = std::clamp(settings.minuteDays * 5, 50, 500);
  settings.minutesAfterTick = ProfileReadInt(files, file, "CTRL", "TRANSMIN", 1);
  settings.tckv4 = ProfileReadInt(files, file, "CTRL", "TCKV4", 1);
  return settings;
}

bool SaveSettings(const AppSettings& settings, FileSystem& files) {
  return ProfileWriteStrings(files, SettingsFilePath(),
                             {{"PATH", "DOMAIN", settings.downloadBase},
                              {"PATH", "VIPDOC", settings.historyDir},
                              {"CTRL", "MINDAYS", std::to_string(settings.minuteDays)},
                              {"CTRL", "TRANSMIN", std::to_string(settings.minutesAfterTick)},
                              {"CTRL", "TCKV4", std::to_string(settings.tckv4)}});
}

std::string SettingTextProblem(const AppSettings& settings) {
  std::string problem = TextProblem("下载站点", settings.downloadBase);
  return problem.empty() ? TextProblem("历史数据目录", settings.historyDir) : problem;
}

}  // namespace marbloom
