#include "daily/daily_walk.h"

#include <vector>

#include "base/run_log.h"
#include "common/dir_walk.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "daily/daily_engine.h"

namespace marbloom {
namespace {

std::string NamePattern(int market, std::string_view codePattern) {
  return std::string(kMarketPrefix[market]).append(codePattern).append(".day");
}

// Only "<mm><six characters>.day" names a daily file; a longer or shorter name
// (a copy such as sz000001_old.day) would otherwise be taken for another code.
bool IsDailyFileName(int market, const std::string& name) {
  return name.size() == 12 && name.compare(0, 2, kMarketPrefix[market]) == 0 && name.compare(8, 4, ".day") == 0;
}

// The counting pass. Its lists also drive the working pass: listing a full
// market twice costs as much as the work on small files.
std::size_t ListMarkets(const std::string& root, const std::array<bool, 3>& markets, std::string_view codePattern,
                        std::array<std::vector<WalkEntry>, 3>& lists) {
  std::size_t total = 0;
  for (int market = 0; market < kMarketCount; ++market) {
    if (!markets[market]) continue;
    lists[market] = ListCountedFiles(DailyFolderUnder(root, market), NamePattern(market, codePattern));
    total += lists[market].size();
  }
  return total;
}

}  // namespace

DailyWalkEnd WalkDailyFiles(const OperationEngine& engine, const std::string& root,
                            const std::array<bool, 3>& markets, std::string_view codePattern,
                            const DailyWalkMessages& messages,
                            const std::function<void(int market, const std::string& code)>& visit) {
  std::array<std::vector<WalkEntry>, 3> lists;
  const std::size_t total = ListMarkets(root, markets, codePattern, lists);
  if (total == 0) {
    ReportF("路径不存在或无日线数据!");
    return DailyWalkEnd::kNoFiles;
  }
  std::size_t handled = 0;
  for (int market = 0; market < kMarketCount; ++market) {
    const std::string dir = DailyFolderUnder(root, market);
    for (const WalkEntry& entry : lists[market]) {
      SetStatusTextF(messages.progress, entry.name.substr(0, 8).c_str());
      if (IsDailyFileName(market, entry.name))
        visit(market, entry.name.substr(2, 6));
      else
        RunLog("%s%s不是日线文件名,已跳过!", dir.c_str(), entry.name.c_str());
      SetProgressFraction(static_cast<double>(std::min(handled, total)) / static_cast<double>(total));
      ++handled;
      if (engine.Cancelled()) {
        ReportF("%s", messages.cancel);
        return DailyWalkEnd::kCancelled;
      }
    }
  }
  SetStatusText(messages.done);
  return DailyWalkEnd::kDone;
}

}  // namespace marbloom
