#include "app/settings.h"

#include <algorithm>
#include <optional>
#include <string>

#include "base/file_helpers.h"
#include "base/profile_file.h"
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

constexpr std::size_t kListSettingBuffer = kListSettingLimit + 1;

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while ((pos = text.find_first_not_of(" \t", pos)) != std::string_view::npos) {
    const std::size_t end = std::min(text.find_first_of(" \t", pos), text.size());
    words.emplace_back(text.substr(pos, end - pos));
    pos = end;
  }
  return words;
}

std::string ListProblem(const AppSettings& settings) {
  for (const std::string& url : MirrorUrls(settings))
    if (std::string problem = TextProblem("镜像站点", url); !problem.empty()) return problem;
  for (const auto& [name, value] : {std::pair{"镜像站点", &settings.mirrors}, std::pair{"信任公钥", &settings.trustKeys}}) {
    const std::optional<std::string> gbk = Utf8ToGbkExactly(TrimSpaces(*value));
    if (!gbk || gbk->size() > kListSettingLimit || value->find_first_of("\r\n") != std::string::npos)
      return std::string(name) + "太长或含有无效字符, 设置未保存!";
  }
  std::string refused;
  if (!ParseTrustedKeys(settings.trustKeys, refused))
    return "信任公钥" + PrintableText(refused) + "不是minisign公钥, 设置未保存!";
  return std::string();
}

}  // namespace

std::vector<std::string> MirrorUrls(const AppSettings& settings) { return Words(settings.mirrors); }

AppSettings& Settings() {
  static AppSettings settings;
  return settings;
}

const std::string& WorkDirectory() { return g_workDirectory; }

void SetWorkDirectory(const std::string& dir) { g_workDirectory = dir; }

std::string SettingsFilePath() { return DataLayout(g_workDirectory, std::string()).SettingsFile(); }

std::atomic<FileSystem*> g_treeFiles{nullptr};
std::atomic<Reporter*> g_frontReporter{nullptr};

DataLayout CurrentLayout() {
  FileSystem* files = g_treeFiles.load();
  Reporter* reporter = g_frontReporter.load();
  return DataLayout(g_workDirectory, Settings().historyDir, files != nullptr ? *files : RealFileSystem(),
                    reporter != nullptr ? *reporter : SilentReporter());
}

void SetFrontReporter(Reporter* reporter) { g_frontReporter.store(reporter); }

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
  const AppSettings& s = Settings();
  DownloadServer server{s.downloadBase, kDefaultServerUser, kDefaultServerPassword};
  server.mirrors = MirrorUrls(s);
  std::string refused;
  if (std::optional<std::vector<MinisignKey>> keys = ParseTrustedKeys(s.trustKeys, refused))
    server.trustedKeys = std::move(*keys);
  else
    server.keysProblem = "信任公钥" + PrintableText(refused) + "不是minisign公钥, 请检查设置!";
  return server;
}

DownloadRunSetup CurrentDownloadSetup() {
  const AppSettings& s = Settings();
  return DownloadRunSetup{CurrentLayout(),           DataTreeReady != 0,     CurrentDownloadServer(),
                          s.minutesAfterTick != 0,   CurrentMinuteOptions(), &KeptDownloadConfig()};
}

void LoadSettings(AppSettings& settings, FileSystem& files) {
  settings = SettingsIn(g_workDirectory, files);
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
  settings.mirrors = TrimSpaces(ProfileReadString(files, file, "PATH", "MIRRORS", "", kListSettingBuffer));
  settings.trustKeys = TrimSpaces(ProfileReadString(files, file, "PATH", "TRUSTKEYS", "", kListSettingBuffer));
  settings.keepDays = std::max(ProfileReadInt(files, file, "CTRL", "KEEPDAYS", 0), 0);
  return settings;
}

bool SaveSettings(const AppSettings& settings, FileSystem& files) {
  const std::string file = SettingsFilePath();
  std::vector<ProfileEntry> entries{{"PATH", "DOMAIN", settings.downloadBase},
                                    {"PATH", "VIPDOC", settings.historyDir},
                                    {"CTRL", "MINDAYS", std::to_string(settings.minuteDays)},
                                    {"CTRL", "TRANSMIN", std::to_string(settings.minutesAfterTick)},
                                    {"CTRL", "TCKV4", std::to_string(settings.tckv4)}};
  // The later keys appear in the file once they are set.
  const auto optional = [&](const char* section, const char* key, const std::string& value, bool set) {
    if (set || ProfileHasKey(files, file, section, key)) entries.push_back({section, key, value});
  };
  optional("PATH", "MIRRORS", TrimSpaces(settings.mirrors), !TrimSpaces(settings.mirrors).empty());
  optional("PATH", "TRUSTKEYS", TrimSpaces(settings.trustKeys), !TrimSpaces(settings.trustKeys).empty());
  optional("CTRL", "KEEPDAYS", std::to_string(settings.keepDays), settings.keepDays != 0);
  return ProfileWriteStrings(files, file, entries);
}

std::string SettingTextProblem(const AppSettings& settings) {
  std::string problem = TextProblem("下载站点", settings.downloadBase);
  if (problem.empty()) problem = TextProblem("历史数据目录", settings.historyDir);
  return problem.empty() ? ListProblem(settings) : problem;
}

}  // namespace marbloom
