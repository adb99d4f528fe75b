#pragma once
// The download configuration: the server publishes "downit.zip" under the
// base URL, holding "downit5.cfg", which says where each kind of day archive
// lies. Loaded once into the process-wide server path and file tables and
// kept until the settings are confirmed again (DownloadConfigLoaded).
#include <string>

#include "common/data_layout.h"

namespace marbloom {

class DownloadClient;

inline constexpr int kServerTableEntries = 30;
inline constexpr int kDefaultConfigEntries = 10;
inline constexpr const char* kLoadingConfigMessage = "下载配置文件...";

// Entry `index` (0-based) of the tables; empty when never filled or out of range.
// A download of type t reads server path entry t.
std::string ServerPath(int index);
std::string ServerFile(int index);
// Empties both tables (program start; tests).
void ClearServerTables();

// Fills the tables from the work directory's "downit5.cfg": entry i-1 of the
// server paths becomes `baseUrl` + PATH<i>, of the files FILE<i>, for i up to
// DOWNNUM (default 10, at most 30). A joined path too long for a path field
// is refused (the entry left empty, logged). Sets DownloadConfigLoaded.
void ReadDownloadConfig(const DataLayout& layout, const std::string& baseUrl);

// Fetches the configuration archive with `client` (unpacked into the work
// directory) and reads it. False when it could not be downloaded or unpacked;
// the tables and the flag then stay as they were.
bool LoadDownloadConfig(DownloadClient& client);

}  // namespace marbloom
