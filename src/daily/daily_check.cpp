#include "daily/daily_check.h"

#include <array>

#include "common/market.h"
#include "common/shared_state.h"

namespace marbloom {
namespace {

constexpr WalkTexts kCheckTexts = {"路径不存在或无日线数据!", "正在检查%s日线", "本次检查日线操作被取消!"};
constexpr const char* kCheckDone = "检查日线完成!";

}  // namespace

// Each file is opened relative to its market's daily folder, which spares the
// kernel the walk down the whole history path for every one of them.
OperationResult DailyCheck::CheckDailyFiles() {
  BeginOperation();
  FileSystem& files = layout_.Files();
  std::array<File, kMarketCount> folders;
  for (int market = 0; market < kMarketCount; ++market)
    folders[market] = files.Open(layout_.DailyDir(market), OpenMode::kDirectory);
  const WalkEnd end =
      VisitSecurityFiles(*this, daily_.List(layout_, kAllMarkets, "", true), kCheckTexts, [&](const SecurityFile& file) {
        bool sound;
        if (folders[file.market]) {
          sound = daily_.Check(files.Open(file.name, OpenMode::kRead, &folders[file.market]), file.market, file.code,
                               MarketToday());
        } else {
          sound = CheckDailyFile(file.market, file.code);
        }
        if (!sound) NoteFailure();
      });
  // The check completes whatever it finds: the bad files are its result.
  if (end != WalkEnd::kDone) return ConcludeWalk(end, kCheckTexts, kCheckDone);
  layout_.Reports().Status(kCheckDone);
  return Conclude(Outcome::kDone, kCheckDone);
}

bool DailyCheck::CheckDailyFile(int market, std::string_view code) {
  return daily_.Check(layout_.Files().Open(layout_.DailyFile(market, code), OpenMode::kRead), market, code,
                      MarketToday());
}

}  // namespace marbloom
