#include "download/download_config.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/file_helpers.h"
#include "base/profile_file.h"
#include "base/text_encoding.h"
#include "common/shared_state.h"
#include "download/archive_unpack.h"
#include "download/download_client.h"

namespace marbloom {
namespace {

constexpr std::size_t kValueBuffer = 230;  // at most 229 characters of a value

// A value as the server sent it (at most 229 characters); nothing, and
// logged, when it holds a control character, a NUL or bytes that are not GBK
// (those became U+FFFD on the way in).
std::optional<std::string> ServerValue(Reporter& reporter, const ProfileSection& config, const char* key) {
  std::string value = config.ReadString(key, "", kValueBuffer);
  if (!HasControlCharacters(value) && value.find("\xEF\xBF\xBD") == std::string::npos) return value;
  reporter.LogF("下载配置%s含有无效字符, 已忽略!", key);
  return std::nullopt;
}

// Base URL and value joined; empty (and logged) when the value was refused or
// the join is too long for a path field.
std::string JoinServerPath(Reporter& reporter, const std::string& baseUrl, const std::optional<std::string>& value, const char* key) {
  if (!value) return {};
  std::string joined = baseUrl + *value;
  if (Utf8ToGbk(joined).size() < kPathCapacity) return joined;
  reporter.LogF("下载配置%s过长, 已忽略: %s", key, RedactedUrl(joined).c_str());
  return {};
}

}  // namespace

DownloadConfig ReadDownloadConfig(const DataLayout& layout, const std::string& baseUrl) {
  std::vector<std::string> keys{"DOWNNUM"};
  for (int i = 1; i <= kServerTableEntries; ++i) keys.push_back(FormatText("PATH%02d", i));
  const ProfileSection file(layout.Files(), layout.DownloadConfigFile(), "DOWN", keys);  // one pass over the file
  const int count = std::min(file.ReadInt("DOWNNUM", kDefaultConfigEntries), kServerTableEntries);
  DownloadConfig config;
  for (int i = 1; i <= count; ++i) {
    const std::string key = FormatText("PATH%02d", i);
    config.serverPaths[static_cast<std::size_t>(i - 1)] = JoinServerPath(layout.Reports(), baseUrl, ServerValue(layout.Reports(), file, key.c_str()), key.c_str());
  }
  return config;
}

OperationResult LoadDownloadConfig(DownloadClient& client) {
  client.layout().Reports().ReportF("%s", kLoadingConfigMessage);
  OperationResult result = client.StartDownload(DownloadKind::kConfig, 0);
  if (result.done()) client.SetConfig(ReadDownloadConfig(client.layout(), client.server().baseUrl));
  return result;
}

}  // namespace marbloom
