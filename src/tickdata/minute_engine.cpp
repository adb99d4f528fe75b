#include "tickdata/minute_engine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/run_log.h"
#include "common/code_pattern.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "tickdata/minute_day_builder.h"

namespace marbloom {
namespace {

constexpr int kWholeStoreDays = 500;

// The entries [begin, end) a run takes: the last 500 in whole-store mode,
// else those dated first..last (first or last 0: open on that side).
std::pair<std::size_t, std::size_t> ChooseEntries(const std::vector<TickIndexEntry>& entries, int first, int last) {
  std::size_t begin = 0, end = entries.size();
  if (first == 0 && last == 0) {
    if (end > kWholeStoreDays) begin = end - kWholeStoreDays;
    return {begin, end};
  }
  while (begin < end && first > 0 && entries[begin].date < first) ++begin;
  std::size_t stop = begin;
  while (stop < end && !(last > 0 && entries[stop].date > last)) ++stop;
  return {begin, stop};
}

}  // namespace

MinuteEngine::MinuteEngine(DataLayout layout, MinuteOptions options, TickDaySource source)
    : layout_(std::move(layout)), options_(options), source_(std::move(source)), reader_(layout_) {
  for (WorkBuffer* buffer : {&built_, &fresh_, &copy_})
    buffer->bars = std::make_unique_for_overwrite<MinuteBar[]>(kWorkBufferBars);
}

bool MinuteEngine::ListTickSecurities() {
  securities_.clear();
  const SecurityFileList listed =
      ListSecurityFiles(layout_.Files(), layout_.TickStoreDir(), kAnyMarket, "", DataLayout::kTickIndexExtension);
  for (const SecurityFile& file : listed.files) {
    if (!IsSixDigitCode(file.code)) continue;  // the store holds only digit codes
    TickSecurity security;
    security.market = static_cast<int16_t>(file.market);
    std::memcpy(security.code, file.code.c_str(), 7);
    securities_.push_back(security);
  }
  return !securities_.empty();
}

int MinuteEngine::BuildSecurityDays(const TickSecurity& security, int first, int last) {
  built_.days = 0;
  const TickPairState state = reader_.Open(security.market, security.code);
  if (!TickPairIsWhole(state)) {
    RunLog(TickPairMessage(state), SecurityStem(security.market, security.code).c_str());
    NoteFailure();
    return 0;
  }
  const std::vector<TickIndexEntry>& entries = reader_.Entries();
  const MinuteScales scales = MinuteScalesOf(security.market, security.code, options_.tckv4);
  auto [begin, end] = ChooseEntries(entries, first, last);
  if (end - begin > static_cast<std::size_t>(kMaxBuiltDays)) begin = end - kMaxBuiltDays;
  int lastBuilt = 0;
  for (std::size_t k = begin; k < end; ++k) {
    const int date = entries[k].date;
    // A file's blocks must rise strictly; an index that repeats or goes back is not followed.
    if (date <= lastBuilt) continue;
    if (!BuildOneDay(security, date, scales, built_.bars.get() + built_.days * kOneMinuteBarsPerDay)) {
      RunLog(kUnreadableTickDay, SecurityStem(security.market, security.code).c_str(), date);
      NoteFailure();
      continue;
    }
    ++built_.days;
    lastBuilt = date;
  }
  return built_.days;
}

// One day from the tick source into `bars`; false when the day has no ticks.
bool MinuteEngine::BuildOneDay(const TickSecurity& security, int date, const MinuteScales& scales,
                               MinuteBar* bars) {
  if (source_) {
    std::optional<TickDay> day = source_(security.market, security.code, date);
    if (!day || day->ticks.empty()) return false;
    day->date = date;
    BuildMinuteDay(*day, scales, bars);
    return true;
  }
  TickDayView day;
  if (!reader_.ReadDay(date, &day) || day.count == 0) return false;
  day.date = date;
  BuildMinuteDay(day, scales, bars);
  return true;
}

bool MinuteEngine::WriteOneMinuteFile(const TickSecurity& security, int first, int last) {
  return WriteMinuteFile(MinuteKind::kOneMinute, security, first, last);
}

bool MinuteEngine::WriteFiveMinuteFile(const TickSecurity& security, int first, int last) {
  std::memcpy(copy_.bars.get(), fresh_.bars.get(), static_cast<std::size_t>(fresh_.days) * kOneMinuteBlockBytes);
  copy_.days = fresh_.days;
  DeriveFiveMinuteDays(copy_.bars.get(), copy_.days, fresh_.bars.get());
  return WriteMinuteFile(MinuteKind::kFiveMinute, security, first, last);
}

// Merges the fresh days (of the kind's bar length) into the file and replaces it.
bool MinuteEngine::WriteMinuteFile(MinuteKind kind, const TickSecurity& security, int first, int last) {
  const MinuteFileKind& info = KindInfo(kind);
  const std::string path = MinuteFilePath(layout_, kind, security.market, security.code);
  const MinuteBar* result = fresh_.bars.get();
  int count = fresh_.days;
  int held = 0;
  bool damaged = false;
  bool replaces = true;
  if (first > 0 || last > 0) {
    const int capacity = kWorkBufferBars / info.barsPerDay;
    int retention = kind == MinuteKind::kOneMinute ? options_.oneMinuteDays : options_.fiveMinuteDays;
    retention = std::clamp(retention, 1, capacity);
    const TailRead read = ReadNewestDays(layout_.Files(), path, info, retention, built_.bars.get(), &held);
    damaged = read == TailRead::kDamaged;
    replaces = read != TailRead::kNoFile;
    if (held > 0) {
      count = MergeMinuteDays(built_.bars.get(), held, retention, fresh_.bars.get(), fresh_.days, info.barsPerDay);
      result = built_.bars.get();
    }
  } else {
    // The old file is replaced unread, but never when it is a link or no regular file.
    const File old = layout_.Files().Open(path, OpenMode::kReadRegular);
    damaged = !old && errno != ENOENT;
    replaces = old && old.Length() != 0;
  }
  if (damaged) {
    FileFailed("%s%s%s文件已损坏, 未更新!", kind, security.market, security.code);
    return false;
  }
  wrote_ = true;
  if (ReplaceMinuteFile(layout_.Files(), MinuteTempPath(layout_, kind, security.market), path, result, count, info,
                        replaces))
    return true;
  FileFailed("%s%s%s文件写入失败, 保留原文件!", kind, security.market, security.code);
  return false;
}

void MinuteEngine::FileFailed(const char* format, MinuteKind kind, int market, std::string_view code) {
  RunLog(format, kMarketPrefix[market], std::string(code).c_str(), KindInfo(kind).extension);
  NoteFailure();
}

OperationResult MinuteEngine::BuildMinuteLines(int first, int last) {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  wrote_ = false;
  SetStatusText("创建转档索引表!");
  if (!ListTickSecurities()) {
    ReportF("%s", "分笔文件索引表加载失败!");
    return Conclude(Outcome::kNothingToDo, "分笔文件索引表加载失败!");
  }
  const std::size_t n = securities_.size();
  bool cancelled = false;
  for (std::size_t i = 0; i < n && !cancelled; ++i) {
    const TickSecurity& security = securities_[i];
    SetStatusTextF("正在转档%s%s分钟线", kMarketName[security.market], security.code);
    if (BuildSecurityDays(security, first, last) > 0) {
      std::memcpy(fresh_.bars.get(), built_.bars.get(), static_cast<std::size_t>(built_.days) * kOneMinuteBlockBytes);
      fresh_.days = built_.days;
      WriteOneMinuteFile(security, first, last);
      WriteFiveMinuteFile(security, first, last);
    }
    SetProgressFraction(static_cast<double>(i) / static_cast<double>(n));
    cancelled = Cancelled();
  }
  if (wrote_) FlushTree(layout_);
  const char* message = cancelled ? "分钟数据转档被取消!" : "分钟数据转档完成!";
  ReportF("%s", message);
  return Conclude(cancelled ? Outcome::kCancelled : Outcome::kDone, message);
}

}  // namespace marbloom
