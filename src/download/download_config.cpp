#include "download/download_config.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>
#include <vector>

#include "base/file_helpers.h"
#include "base/profile_file.h"
#include "base/run_log.h"
#include "base/text_encoding.h"
#include "common/shared_state.h"
#include "download/archive_unpack.h"
#include "download/download_client.h"

namespace marbloom {
namespace {

constexpr std::size_t kValueBuffer = 230;  // at most 229 characters of a value

struct ServerTables {
  std::mutex mutex;
  std::array<std::string, kServerTableEntries> paths;
  std::array<std::string, kServerTableEntries> files;
};

ServerTables& Tables() {
  static ServerTables tables;
  return tables;
}

std::string EntryOf(const std::array<std::string, kServerTableEntries>& table, int index) {
  if (index < 0 || index >= kServerTableEntries) return {};
  std::lock_guard<std::mutex> lock(Tables().mutex);
  return table[static_cast<std::size_t>(index)];
}

// A value as the server sent it (at most 229 characters); nothing, and
// logged, when it holds a control character, a NUL or bytes that are not GBK
// (those became U+FFFD on the way in).
std::optional<std::string> ServerValue(const ProfileSection& config, const char* key) {
  std::string value = config.ReadString(key, "", kValueBuffer);
  if (!HasControlCharacters(value) && value.find("\xEF\xBF\xBD") == std::string::npos) return value;
  RunLog("下载配置%s含有无效字符, 已忽略!", key);
  return std::nullopt;
}

// Base URL and value joined; empty (and logged) when the value was refused or
// the join is too long for a path field.
std::string JoinServerPath(const std::string& baseUrl, const std::optional<std::string>& value, const char* key) {
  if (!value) return {};
  std::string joined = baseUrl + *value;
  if (Utf8ToGbk(joined).size() < kPathCapacity) return joined;
  RunLog("下载配置%s过长, 已忽略: %s", key, RedactedUrl(joined).c_str());
  return {};
}

}  // namespace

std::string ServerPath(int index) { return EntryOf(Tables().paths, index); }
std::string ServerFile(int index) { return EntryOf(Tables().files, index); }

void ClearServerTables() {
  std::lock_guard<std::mutex> lock(Tables().mutex);
  Tables().paths.fill({});
  Tables().files.fill({});
}

void ReadDownloadConfig(const DataLayout& layout, const std::string& baseUrl) {
  std::vector<std::string> keys{"DOWNNUM"};
  for (int i = 1; i <= kServerTableEntries; ++i)
    for (const char* kind : {"PATH", "FILE"}) keys.push_back(FormatText("%s%02d", kind, i));
  const ProfileSection config(layout.Files(), layout.DownloadConfigFile(), "DOWN", keys);  // one pass over the file
  const int count = std::min(config.ReadInt("DOWNNUM", kDefaultConfigEntries), kServerTableEntries);
  for (int i = 1; i <= count; ++i) {
    const std::string pathKey = FormatText("PATH%02d", i), fileKey = FormatText("FILE%02d", i);
    std::string path = JoinServerPath(baseUrl, ServerValue(config, pathKey.c_str()), pathKey.c_str());
    std::string name = ServerValue(config, fileKey.c_str()).value_or("");
    std::lock_guard<std::mutex> lock(Tables().mutex);
    Tables().paths[static_cast<std::size_t>(i - 1)] = std::move(path);
    Tables().files[static_cast<std::size_t>(i - 1)] = std::move(name);
  }
  DownloadConfigLoaded = 1;
}

bool LoadDownloadConfig(DownloadClient& client) {
  ReportF("%s", kLoadingConfigMessage);
  if (client.StartDownload(kDownloadConfig, 0) <= 0) return false;
  ReadDownloadConfig(client.layout(), client.baseUrl());
  return true;
}

}  // namespace marbloom
