#pragma once
// The paths of the tick store, shared by its readers and writers.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "base/unique_fd.h"

namespace marbloom {

// "<history>newtick/"
std::string TickStoreDir();
// A security's stem: market prefix and code, e.g. "sz000001".
std::string TickStem(int market, std::string_view code);
// "<history>newtick/<stem>.vid" and ".vtc".
std::string TickIndexPath(std::string_view stem);
std::string TickDataPath(std::string_view stem);
// The fixed-name temporaries every rewrite of a pair goes through.
std::string TickIndexTempPath();
std::string TickDataTempPath();
// "<history>newdatetick/<date>.htc"
std::string TickArchivePath(int date);

}  // namespace marbloom
