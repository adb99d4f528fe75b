#include "download/download_config.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <mutex>

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

// Base URL and value joined; empty (and logged) when too long for a path field.
std::string JoinServerPath(const std::string& baseUrl, const std::string& value, const char* key) {
  std::string joined = baseUrl + value;
  if (Utf8ToGbk(joined).size() < kPathCapacity) return joined;
  RunLog("下载配置%s过长, 已忽略: %s", key, joined.c_str());
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
  const std::string file = layout.DownloadConfigFile();
  const int count = std::min(ProfileReadInt(file, "DOWN", "DOWNNUM", kDefaultConfigEntries), kServerTableEntries);
  for (int i = 1; i <= count; ++i) {
    char pathKey[16], fileKey[16];
    std::snprintf(pathKey, sizeof pathKey, "PATH%02d", i);
    std::snprintf(fileKey, sizeof fileKey, "FILE%02d", i);
    std::string path = JoinServerPath(baseUrl, ProfileReadString(file, "DOWN", pathKey, "", kValueBuffer), pathKey);
    std::string name = ProfileReadString(file, "DOWN", fileKey, "", kValueBuffer);
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
