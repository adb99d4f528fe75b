#include "tickdata/tick_file.h"

#include <fcntl.h>
#include <unistd.h>

#include "app/settings.h"
#include "common/market.h"

namespace marbloom {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool UniqueFd::Close() {
  if (fd_ < 0) return true;
  bool ok = ::close(fd_) == 0;
  fd_ = -1;
  return ok;
}

UniqueFd OpenForReading(const std::string& path) { return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); }

UniqueFd OpenForWriting(const std::string& path) {
  return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

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
