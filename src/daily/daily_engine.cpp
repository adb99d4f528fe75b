// What the daily operations share: the tree they work on, the walk over the
// daily files of the selected markets, and the end of a writing operation.
#include "daily/daily_engine.h"

#include <iterator>
#include <utility>

#include "base/file_helpers.h"
#include "base/text_encoding.h"
#include "common/market.h"
#include "common/shared_state.h"

namespace marbloom {

OperationResult CloseDailyOperation(Reporter& reporter, DailyClosing operation, OperationResult result) {
  // A modify or merge that failed or was cancelled keeps its own line: the
  // page's closing message would tell it was done.
  const bool ended = result.outcome == Outcome::kDone || result.outcome == Outcome::kNothingToDo;
  if (!ended && operation != DailyClosing::kCheck) return result;
  switch (operation) {
    case DailyClosing::kModify: return CloseWithMessage(reporter, std::move(result), "修改个股多日日线数据处理完毕!");
    case DailyClosing::kCheck: {
      const std::string message = FormatText("共有%d支股票日线文件出错，细节参看日志!", result.failedItems);
      return CloseWithMessage(reporter, std::move(result), message);
    }
    case DailyClosing::kMerge: return CloseWithMessage(reporter, std::move(result), "个股日线合并处理完毕!");
  }
  return result;
}

DailyEngine::DailyEngine(DataLayout layout, bool treeReady)
    : OperationEngine(layout.Reports()), layout_(std::move(layout)), treeReady_(treeReady) {}

std::vector<SecurityFile> DailyEngine::ListDailyFiles(const DataLayout& tree, const std::array<bool, 3>& markets,
                                                      std::string_view codePattern, bool withEmpty) const {
  std::vector<SecurityFile> files;
  for (int market = 0; market < kMarketCount; ++market) {
    if (!markets[market]) continue;
    const std::string dir = tree.DailyDir(market);
    SecurityFileList list =
        ListSecurityFiles(tree.Files(), dir, market, codePattern, DataLayout::kDailyExtension, withEmpty);
    for (const std::string& stray : list.strays) Reports().LogF("%s%s不是日线文件名,已跳过!", dir.c_str(), stray.c_str());
    files.insert(files.end(), std::make_move_iterator(list.files.begin()), std::make_move_iterator(list.files.end()));
  }
  return files;
}

WalkEnd DailyEngine::VisitDailyFiles(const std::vector<SecurityFile>& files, const WalkTexts& texts,
                                     const std::function<void(const SecurityFile&)>& visit) {
  return VisitSecurityFiles(*this, files, texts, visit);
}

WalkEnd DailyEngine::WalkDailyFiles(const DataLayout& tree, const std::array<bool, 3>& markets,
                                    std::string_view codePattern, const WalkTexts& texts,
                                    const std::function<void(const SecurityFile&)>& visit, bool withEmpty) {
  return VisitDailyFiles(ListDailyFiles(tree, markets, codePattern, withEmpty), texts, visit);
}

OperationResult DailyEngine::ConcludeWalk(WalkEnd end, const WalkTexts& texts, const char* done) {
  switch (end) {
    case WalkEnd::kNoFiles: return Conclude(Outcome::kNothingToDo, texts.nothingFound);
    case WalkEnd::kCancelled: return Conclude(Outcome::kCancelled, texts.cancelled);
    case WalkEnd::kDone: break;
  }
  return ConcludeShown(Outcome::kDone, done, false);
}

}  // namespace marbloom
