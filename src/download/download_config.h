#pragma once
// The download configuration: the server publishes "downit.zip" under the
// base URL, holding "downit5.cfg", which says where each kind of day archive
// lies. A front keeps the configuration it loaded between its download runs
// until the settings are confirmed again.
#include <array>
#include <mutex>
#include <optional>
#include <string>

#include "common/data_layout.h"
#include "common/operation_result.h"

namespace marbloom {

class DownloadClient;

inline constexpr int kServerTableEntries = 30;
inline constexpr int kDefaultConfigEntries = 10;
inline constexpr const char* kLoadingConfigMessage = "下载配置文件...";

// Where the server keeps each kind of day archive: entry i-1 is the base URL
// followed by PATH<i> of the configuration file; a download of type t reads
// entry t.
struct DownloadConfig {
  std::array<std::string, kServerTableEntries> serverPaths;

  // Empty when never filled or out of range.
  std::string ServerPath(int index) const {
    return index >= 0 && index < kServerTableEntries ? serverPaths[static_cast<std::size_t>(index)] : std::string();
  }
};

// The configuration in the work directory's "downit5.cfg": entries 0 to
// DOWNNUM-1 (default 10, at most 30) filled, the others empty. A joined path
// too long for a path field is refused (the entry left empty, logged).
DownloadConfig ReadDownloadConfig(const DataLayout& layout, const std::string& baseUrl);

// Fetches the configuration archive with `client` (unpacked into the work
// directory), reads it and gives it to the client. The download's result;
// when it is not done the client keeps the configuration it had.
OperationResult LoadDownloadConfig(DownloadClient& client);

// The configuration a front keeps between its download runs: the first run
// that needs it loads it, later runs use it until the settings change.
// Safe from any thread.
class DownloadConfigCache {
 public:
  std::optional<DownloadConfig> Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return config_;
  }
  void Keep(const DownloadConfig& config) {
    std::lock_guard<std::mutex> lock(mutex_);
    config_ = config;
  }
  void Forget() {
    std::lock_guard<std::mutex> lock(mutex_);
    config_.reset();
  }

 private:
  mutable std::mutex mutex_;
  std::optional<DownloadConfig> config_;
};

}  // namespace marbloom
