#include "daily/daily_files.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "common/calendar.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "daily/daily_io.h"
#include "daily/daily_record.h"

namespace marbloom {
namespace {

constexpr const char* kBadLength = "%s%s日线文件长度异常!";

// Files are checked in pieces of this size, so a damaged or hostile file of
// any length never needs more memory than one piece; a whole-record multiple.
constexpr std::size_t kCheckPiece = std::size_t{1} << 20;
static_assert(kCheckPiece % kDailyRecordSize == 0);

}  // namespace

bool DailyFiles::WholeRecords(int64_t length) {
  return length > 0 && length % static_cast<int64_t>(kDailyRecordSize) == 0;
}

std::vector<SecurityFile> DailyFiles::List(const DataLayout& tree, const std::array<bool, 3>& markets,
                                           std::string_view codePattern, bool withEmpty) const {
  std::vector<SecurityFile> files;
  for (int market = 0; market < kMarketCount; ++market) {
    if (!markets[market]) continue;
    const std::string dir = tree.DailyDir(market);
    SecurityFileList list =
        ListSecurityFiles(tree.Files(), dir, market, codePattern, DataLayout::kDailyExtension, withEmpty);
    for (const std::string& stray : list.strays) layout_.Reports().LogF("%s%s不是日线文件名,已跳过!", dir.c_str(), stray.c_str());
    files.insert(files.end(), std::make_move_iterator(list.files.begin()), std::make_move_iterator(list.files.end()));
  }
  return files;
}

bool DailyFiles::Read(const File& file, std::size_t size, std::size_t spare) {
  return ReadPrefix(file, size, spare, buffer_);
}

DailyLoad DailyFiles::Load(int market, std::string_view code, std::size_t* n) {
  const std::string path = layout_.DailyFile(market, code);
  const File file = layout_.Files().Open(path, OpenMode::kUpdate);
  if (!file) {
    if (errno == ENOENT) return DailyLoad::kMissing;
    ReadFailed(path);
  } else if (const int64_t length = file.Length(); !WholeRecords(length)) {
    layout_.Reports().LogF(kBadLength, kMarketPrefix[market], std::string(code).c_str());
  } else if (!Read(file, static_cast<std::size_t>(length))) {
    ReadFailed(path);
  } else {
    *n = static_cast<std::size_t>(length) / kDailyRecordSize;
    return DailyLoad::kLoaded;
  }
  return DailyLoad::kFailed;
}

bool DailyFiles::Rewrite(int market, std::string_view code, std::size_t n) {
  const std::string path = layout_.DailyFile(market, code);
  if (n == 0 ? layout_.Files().Remove(path)
             : ReplaceDailyFile(layout_.Files(), layout_.DailyTemp(market), path, buffer_.data(),
                                n * kDailyRecordSize))
    return true;
  WriteFailed(path);
  return false;
}

bool DailyFiles::Check(const File& file, int market, std::string_view code, int today) {
  const int64_t length = file.Length();
  if (length < 0) {
    OpenFailed(market, code);
    return false;
  }
  if (!WholeRecords(length)) {
    layout_.Reports().ReportF(kBadLength, kMarketPrefix[market], std::string(code).c_str());
    return false;
  }
  uint32_t before = 0;
  for (int64_t offset = 0; offset < length; offset += static_cast<int64_t>(kCheckPiece)) {
    const std::size_t size = static_cast<std::size_t>(std::min<int64_t>(length - offset, kCheckPiece));
    buffer_.resize(std::max(buffer_.size(), size));
    if (!file.ReadAll(buffer_.data(), size, offset)) {
      OpenFailed(market, code);
      return false;
    }
    const std::size_t n = size / kDailyRecordSize;
    if (!DatesInOrder(n, before, offset == 0, market, code) || !DatesAreDays(n, before, market, code)) return false;
    before = DateAt(buffer_, n - 1);
  }
  // The dates rise: the last is the newest.
  if (before > static_cast<uint32_t>(today)) {
    layout_.Reports().ReportF("%s%s日线日期%u晚于今天!", kMarketName[market], std::string(code).c_str(), before);
    return false;
  }
  return true;
}

// The first date fault among n records that follow `before` (0 and `first` at
// the start of a file), reported; true when none.
bool DailyFiles::DatesInOrder(std::size_t n, uint32_t before, bool first, int market, std::string_view code) const {
  if (DatesRise(buffer_.data(), n, before)) return true;
  const std::string c(code);
  for (std::size_t i = 0; i < n; ++i, first = false) {
    const uint32_t date = DateAt(buffer_, i);
    switch (DailyDateFaultOf(date, before)) {
      case DailyDateFault::kNone: break;
      case DailyDateFault::kZero:
        if (first) layout_.Reports().ReportF("%s%s首个日线日期为0!", kMarketName[market], c.c_str());
        else layout_.Reports().ReportF("%s%s,%d后的日线日期为0!", kMarketName[market], c.c_str(), static_cast<int>(before));
        return false;
      case DailyDateFault::kNotRising:
        layout_.Reports().ReportF("%s%s,%d后的日线日期为%d,顺序紊乱!", kMarketName[market], c.c_str(), static_cast<int>(before),
                static_cast<int>(date));
        return false;
    }
    before = date;
  }
  return true;
}

// The first of n records whose date the calendar does not know, reported
// (`before`: the date ahead of them, 0 at the start of a file); true when none.
bool DailyFiles::DatesAreDays(std::size_t n, uint32_t before, int market, std::string_view code) const {
  for (std::size_t i = 0; i < n; before = DateAt(buffer_, i++)) {
    const uint32_t date = DateAt(buffer_, i);
    if (IsCalendarDate(static_cast<int>(date))) continue;
    if (before == 0) layout_.Reports().ReportF("%s%s首个日线日期%u无效!", kMarketName[market], std::string(code).c_str(), date);
    else layout_.Reports().ReportF("%s%s,%u后的日线日期%u无效!", kMarketName[market], std::string(code).c_str(), before, date);
    return false;
  }
  return true;
}

void DailyFiles::ReadFailed(const std::string& path) const { layout_.Reports().LogF("读取%s文件失败!", path.c_str()); }

void DailyFiles::WriteFailed(const std::string& path) const { layout_.Reports().LogF("写入%s文件失败!", path.c_str()); }

void DailyFiles::Disordered(const std::string& path) const { layout_.Reports().LogF("%s文件日期顺序紊乱, 未更新!", path.c_str()); }

void DailyFiles::OpenFailed(int market, std::string_view code) const {
  layout_.Reports().ReportF("%s%s日线文件打开失败!", kMarketPrefix[market], std::string(code).c_str());
}

}  // namespace marbloom
