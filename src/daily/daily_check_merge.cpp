// Check of every daily file, and merge of another tree's daily files.
#include <algorithm>
#include <array>
#include <cstdio>
#include <new>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "daily/daily_engine.h"
#include "daily/daily_io.h"

namespace marbloom {
namespace {

constexpr WalkTexts kCheckTexts = {"路径不存在或无日线数据!", "正在检查%s日线", "本次检查日线操作被取消!"};
constexpr WalkTexts kMergeTexts = {"路径不存在或无日线数据!", "正在合并%s日线", "本次合并日线操作被取消!"};
constexpr const char* kCheckDone = "检查日线完成!";
constexpr const char* kMergeDone = "合并日线完成!";
constexpr std::array<bool, 3> kAllMarkets = {true, true, true};

bool IsWholeRecords(int64_t length) { return length > 0 && length % static_cast<int64_t>(kDailyRecordSize) == 0; }

// Files are checked in pieces of this size, so a damaged or hostile file of
// any length never needs more memory than one piece; a whole-record multiple.
constexpr std::size_t kCheckPiece = std::size_t{1} << 20;
static_assert(kCheckPiece % kDailyRecordSize == 0);

// True when every date is above the one before it (`before` is the date ahead
// of the first one, 0 at the start of a file), which also rules out any 0.
// Branch-free: sound files are the rule, and the exact fault is looked for
// only when this fails.
bool DatesRise(const uint8_t* base, std::size_t n, uint32_t before) {
  unsigned fault = 0;
  for (std::size_t i = 0; i < n; ++i) {
    uint32_t date;
    std::memcpy(&date, base + i * kDailyRecordSize, sizeof date);
    fault |= date <= before;
    before = date;
  }
  return fault == 0;
}

// The first date fault among n records that follow `before` (0 and `first` at
// the start of a file), reported; true when none.
bool DatesInOrder(const std::vector<uint8_t>& buffer, std::size_t n, uint32_t before, bool first, int market,
                  std::string_view code) {
  if (DatesRise(buffer.data(), n, before)) return true;
  const std::string c(code);
  for (std::size_t i = 0; i < n; ++i, first = false) {
    const uint32_t date = DateAt(buffer, i);
    if (date == 0 && first) {
      ReportF("%s%s首个日线日期为0!", kMarketName[market], c.c_str());
      return false;
    }
    if (date == 0) {
      ReportF("%s%s,%d后的日线日期为0!", kMarketName[market], c.c_str(), static_cast<int>(before));
      return false;
    }
    if (!first && date <= before) {
      ReportF("%s%s,%d后的日线日期为%d,顺序紊乱!", kMarketName[market], c.c_str(), static_cast<int>(before),
              static_cast<int>(date));
      return false;
    }
    before = date;
  }
  return true;
}

// Source records win on equal dates; neither side is sorted first.
std::size_t MergeRecords(const std::vector<uint8_t>& source, std::size_t ns, const std::vector<uint8_t>& target,
                         std::size_t nt, std::vector<uint8_t>& result) {
  std::size_t s = 0, t = 0, out = 0;
  auto put = [&](const std::vector<uint8_t>& from, std::size_t index) {
    std::memcpy(result.data() + out++ * kDailyRecordSize, from.data() + index * kDailyRecordSize, kDailyRecordSize);
  };
  while (s < ns && t < nt) {
    const uint32_t sourceDate = DateAt(source, s), targetDate = DateAt(target, t);
    if (sourceDate <= targetDate) {
      if (sourceDate == targetDate) ++t;
      put(source, s++);
    } else {
      put(target, t++);
    }
  }
  while (s < ns) put(source, s++);
  while (t < nt) put(target, t++);
  return out;
}

}  // namespace

// Each file is opened relative to its market's daily folder, which spares the
// kernel the walk down the whole history path for every one of them.
OperationResult DailyEngine::CheckDailyFiles() {
  BeginOperation();
  std::array<UniqueFd, kMarketCount> folders;
  for (int market = 0; market < kMarketCount; ++market)
    folders[market] = UniqueFd(::open(layout_.DailyDir(market).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const WalkEnd end = WalkDailyFiles(layout_, kAllMarkets, "", kCheckTexts, kCheckDone, [&](const SecurityFile& file) {
    bool sound;
    if (folders[file.market]) {
      UniqueFd fd(::openat(folders[file.market].get(), file.name.c_str(), O_RDONLY | O_CLOEXEC));
      sound = CheckOpenedDailyFile(fd.get(), file.market, file.code);
    } else {
      sound = CheckDailyFile(file.market, file.code);
    }
    if (!sound) NoteFailure();
  });
  return ConcludeWalk(end, kCheckTexts, kCheckDone);
}

bool DailyEngine::CheckDailyFile(int market, std::string_view code) {
  UniqueFd fd = OpenForReading(layout_.DailyFile(market, code));
  return CheckOpenedDailyFile(fd.get(), market, code);
}

bool DailyEngine::CheckOpenedDailyFile(int fd, int market, std::string_view code) {
  const std::string c(code);
  const int64_t length = fd >= 0 ? FileLength(fd) : -1;
  if (length < 0) {
    ReportF("%s%s日线文件打开失败!", kMarketPrefix[market], c.c_str());
    return false;
  }
  if (!IsWholeRecords(length)) {
    ReportF("%s%s日线文件长度异常!", kMarketPrefix[market], c.c_str());
    return false;
  }
  uint32_t before = 0;
  for (int64_t offset = 0; offset < length; offset += static_cast<int64_t>(kCheckPiece)) {
    const std::size_t size = static_cast<std::size_t>(std::min<int64_t>(length - offset, kCheckPiece));
    buffer_.resize(std::max(buffer_.size(), size));
    if (!ReadAllAt(fd, buffer_.data(), size, offset)) {
      ReportF("%s%s日线文件打开失败!", kMarketPrefix[market], c.c_str());
      return false;
    }
    const std::size_t n = size / kDailyRecordSize;
    if (!DatesInOrder(buffer_, n, before, offset == 0, market, code)) return false;
    before = DateAt(buffer_, n - 1);
  }
  return true;
}

OperationResult DailyEngine::MergeDailyFiles(const DataLayout& source) {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  const WalkEnd end = WalkDailyFiles(source, kAllMarkets, "", kMergeTexts, kMergeDone, [&](const SecurityFile& file) {
    MergeDailyFile(source, file.market, file.code);
  });
  if (end != WalkEnd::kNoFiles) FlushTree(layout_);
  return ConcludeWalk(end, kMergeTexts, kMergeDone);
}

// Every source file that is not merged or moved, and every target that
// cannot be written, counts as failed; a damaged target replaced by its
// source does not.
void DailyEngine::MergeDailyFile(const DataLayout& source, int market, std::string_view code) {
  const std::string sourcePath = source.DailyFile(market, code);
  const std::string targetPath = layout_.DailyFile(market, code);
  UniqueFd sourceFd = OpenForReading(sourcePath);
  if (!sourceFd) {
    ReportF("%s文件打开失败!", sourcePath.c_str());
    NoteFailure();
    return;
  }
  const int64_t sourceLength = FileLength(sourceFd.get());
  if (!IsWholeRecords(sourceLength)) {
    ReportF("%s文件已损坏!", sourcePath.c_str());
    NoteFailure();
    return;
  }
  UniqueFd target = OpenForUpdate(targetPath);
  if (!target) {
    sourceFd.Close();
    MoveIntoPlace(sourcePath, targetPath);
    return;
  }
  const int64_t targetLength = FileLength(target.get());
  if (!IsWholeRecords(targetLength)) {
    ReportF("%s文件已损坏,直接覆盖!", targetPath.c_str());
    sourceFd.Close();
    target.Close();
    MoveIntoPlace(sourcePath, targetPath);
    return;
  }
  const std::size_t ns = static_cast<std::size_t>(sourceLength) / kDailyRecordSize;
  const std::size_t nt = static_cast<std::size_t>(targetLength) / kDailyRecordSize;
  if (!TryResize(mergeResult_, (ns + nt) * kDailyRecordSize, 2 * kMaxWholeFileBytes)) {
    SetStatusTextF("%s%s内存请求失败!", kMarketName[market], std::string(code).c_str());
    NoteFailure();
    return;
  }
  if (!ReadPrefix(sourceFd.get(), ns * kDailyRecordSize, 0, buffer_)) {
    ReportF("%s文件打开失败!", sourcePath.c_str());
    NoteFailure();
    return;
  }
  sourceFd.Close();
  if (!ReadPrefix(target.get(), nt * kDailyRecordSize, 0, mergeTarget_)) {
    RunLog("读取%s文件失败!", targetPath.c_str());
    NoteFailure();
    return;
  }
  const std::size_t total = MergeRecords(buffer_, ns, mergeTarget_, nt, mergeResult_);
  WriteMergedTail(target.get(), targetPath, nt, total);
}

// The merged records from the first one that differs from the target on;
// the records the target gains are written before any of its records moves.
void DailyEngine::WriteMergedTail(int fd, const std::string& targetPath, std::size_t nt, std::size_t total) {
  std::size_t same = 0;
  while (same < nt && std::memcmp(mergeResult_.data() + same * kDailyRecordSize,
                                  mergeTarget_.data() + same * kDailyRecordSize, kDailyRecordSize) == 0)
    ++same;
  if (same == total) return;
  if (WriteChange(fd, mergeResult_.data() + same * kDailyRecordSize, (total - same) * kDailyRecordSize,
                  static_cast<int64_t>(same * kDailyRecordSize), static_cast<int64_t>(nt * kDailyRecordSize),
                  mergeTarget_.data() + same * kDailyRecordSize))
    return;
  RunLog("写入%s文件失败!", targetPath.c_str());
  NoteFailure();
}

// Moves the source over the target, across file systems when needed.
void DailyEngine::MoveIntoPlace(const std::string& source, const std::string& target) {
  if (MoveFileAnywhere(source, target)) return;
  RunLog("写入%s文件失败!", target.c_str());
  NoteFailure();
}

}  // namespace marbloom
