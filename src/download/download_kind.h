#pragma once
// The kinds of archive a server publishes: the configuration archive at its
// root, and one archive per day of daily or of tick data in the folders the
// configuration names.
namespace marbloom {

enum class DownloadKind { kConfig, kDaily, kTick };

// The number of the configuration's PATH entry naming the kind's folder
// (PATH10 daily, PATH11 tick); 0 for the configuration archive itself.
constexpr int ServerPathNumber(DownloadKind kind) {
  return kind == DownloadKind::kDaily ? 10 : kind == DownloadKind::kTick ? 11 : 0;
}

}  // namespace marbloom
