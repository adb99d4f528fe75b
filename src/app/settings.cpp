#include "app/settings.h"

#include <algorithm>
#include <string>

#include "base/file_helpers.h"
#include "base/profile_file.h"
#include "base/run_log.h"

namespace marbloom {
namespace {

std::string g_workDirectory;

constexpr std::size_t kSettingTextBuffer = 230;

}  // namespace

AppSettings& Settings() {
  static AppSettings settings;
  return settings;
}

const std::string& WorkDirectory() { return g_workDirectory; }

void SetWorkDirectory(const std::string& dir) { g_workDirectory = dir; }

std::string SettingsFilePath() { return DataLayout(g_workDirectory, std::string()).SettingsFile(); }

DataLayout CurrentLayout() { return DataLayout(g_workDirectory, Settings().historyDir); }

MinuteOptions CurrentMinuteOptions() {
  const AppSettings& s = Settings();
  return MinuteOptions{s.minuteDays, s.fiveMinuteDays, s.tckv4};
}

int LoadSettings(AppSettings* settings) {
  if (settings == nullptr) return 0;
  *settings = AppSettings{};
  const std::string file = SettingsFilePath();
  settings->downloadBase =
      TrimSpaces(ProfileReadString(file, "PATH", "DOMAIN", kDefaultDownloadBase, kSettingTextBuffer));
  settings->historyDir = NormalizeDirPath(
      TrimSpaces(ProfileReadString(file, "PATH", "VIPDOC", kDefaultHistoryDir, kSettingTextBuffer)),
      kPathCapacity);
  const DataLayout layout(g_workDirectory, settings->historyDir);
  settings->downDir = layout.DownDir();
  settings->dayZipDir = layout.DayZipDir();
  settings->tickZipDir = layout.TickZipDir();
  settings->logDir = layout.LogDir();
  SetRunLogDirectory(settings->logDir);
  settings->minuteDays = std::clamp(ProfileReadInt(file, "CTRL", "MINDAYS", 120), 50, 500);
  settings->fiveMinuteDays = std::clamp(settings->minuteDays * 5, 50, 500);
  settings->minutesAfterTick = ProfileReadInt(file, "CTRL", "TRANSMIN", 1);
  settings->tckv4 = ProfileReadInt(file, "CTRL", "TCKV4", 1);
  return 1;
}

int SaveSettings(const AppSettings* settings) {
  if (settings == nullptr) return 0;
  const std::string file = SettingsFilePath();
  // Write errors go undetected, as with the profile calls this mirrors.
  ProfileWriteString(file, "PATH", "DOMAIN", settings->downloadBase);
  ProfileWriteString(file, "PATH", "VIPDOC", settings->historyDir);
  ProfileWriteString(file, "CTRL", "MINDAYS", std::to_string(settings->minuteDays));
  ProfileWriteString(file, "CTRL", "TRANSMIN", std::to_string(settings->minutesAfterTick));
  ProfileWriteString(file, "CTRL", "TCKV4", std::to_string(settings->tckv4));
  return 1;
}

}  // namespace marbloom
