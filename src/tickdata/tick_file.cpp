#include "tickdata/tick_file.h"

#include <fcntl.h>
#include <unistd.h>

#include "app/settings.h"
#include "common/market.h"

namespace marbloom {

std::string TickStoreDir() { return Settings().historyDir + "newtick/"; }

std::string TickStem(int market, std::string_view code) {
  std::string stem = IsValidMarket(market) ? kMarketPrefix[market] : "";
  stem += code;
  return stem;
}

std::string TickIndexPath(std::string_view stem) { return TickStoreDir().append(stem).append(".vid"); }
std::string TickDataPath(std::string_view stem) { return TickStoreDir().append(stem).append(".vtc"); }
std::string TickIndexTempPath() { return TickStoreDir() + "vid.tmp"; }
std::string TickDataTempPath() { return TickStoreDir() + "vtc.tmp"; }

std::string TickArchivePath(int date) { return Settings().historyDir + "newdatetick/" + std::to_string(date) + ".htc"; }

}  // namespace marbloom
