#include "tickdata/minute_engine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "common/code_pattern.h"
#include "common/market.h"
#include "common/security_class.h"
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
    : OperationEngine(layout.Reports()), layout_(std::move(layout)), options_(options), source_(std::move(source)) {}

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

int MinuteEngine::BuildSecurityDays(const TickSecurity& security, int first, int last, Worker& worker,
                                    ItemReport& report) const {
  WorkBuffer& built = worker.built;
  built.days = 0;
  const TickPairState state = worker.reader.Open(security.market, security.code);
  if (!worker.reader.Readable()) {
    report.Fail(TickPairMessage(state), SecurityStem(security.market, security.code).c_str());
    return 0;
  }
  const std::vector<TickIndexEntry>& entries = worker.reader.Entries();
  const MinuteScales scales = MinuteScalesOf(security.market, security.code, options_.tckv4);
  auto [begin, end] = ChooseEntries(entries, first, last);
  if (end - begin > static_cast<std::size_t>(kMaxBuiltDays)) begin = end - kMaxBuiltDays;
  int lastBuilt = 0;
  for (std::size_t k = begin; k < end; ++k) {
    const int date = entries[k].date;
    // A file's blocks must rise strictly; an index that repeats or goes back is not followed.
    if (date <= lastBuilt) continue;
    if (!BuildOneDay(security, date, scales, worker, built.bars.get() + built.days * kOneMinuteBarsPerDay)) {
      report.Fail(kUnreadableTickDay, SecurityStem(security.market, security.code).c_str(), date);
      continue;
    }
    ++built.days;
    lastBuilt = date;
  }
  return built.days;
}

// One day from the tick source into `bars`; false when the day has no ticks.
bool MinuteEngine::BuildOneDay(const TickSecurity& security, int date, const MinuteScales& scales, Worker& worker,
                               MinuteBar* bars) const {
  if (source_) {
    std::optional<TickDay> day = source_(security.market, security.code, date);
    if (!day || day->ticks.empty()) return false;
    day->date = date;
    BuildMinuteDay(*day, scales, bars);
    return true;
  }
  TickDayView day;
  const HeldBlock* held = nullptr;
  if (worker.held)
    for (const HeldBlock& block : *worker.held)
      if (block.entry.date == date) held = &block;
  if (held) day = TickDayView{held->entry.date, held->entry.refPrice, held->ticks, held->count};
  else if (!worker.reader.ReadDay(date, &day)) return false;
  if (day.count == 0) return false;
  day.date = date;
  BuildMinuteDay(day, scales, bars);
  return true;
}

void MinuteEngine::PrepareWorkers(int workers) {
  while (workers_.size() < static_cast<std::size_t>(workers))
    workers_.push_back(std::make_unique<Worker>(layout_, static_cast<int>(workers_.size())));
}

ItemReport MinuteEngine::BuildAhead(int market, const char* code, int first, int last,
                                    const std::vector<HeldBlock>& held, int worker) {
  TickSecurity security;
  security.market = static_cast<int16_t>(market);
  std::memcpy(security.code, code, sizeof security.code);
  Worker& w = *workers_[static_cast<std::size_t>(worker)];
  ItemReport report;
  w.held = &held;
  BuildSecurity(security, first, last, w, report);
  w.held = nullptr;
  return report;
}

void MinuteEngine::KeepBuiltAhead(int market, const char* code, ItemReport report) {
  builtAhead_[SecurityStem(market, code)] = std::move(report);
}

void MinuteEngine::BuildSecurity(const TickSecurity& security, int first, int last, Worker& worker,
                                 ItemReport& report) const {
  if (BuildSecurityDays(security, first, last, worker, report) <= 0) return;
  const std::size_t days = static_cast<std::size_t>(worker.built.days);
  std::memcpy(worker.fresh.bars.get(), worker.built.bars.get(), days * kOneMinuteBlockBytes);
  worker.fresh.days = worker.built.days;
  WriteMinuteFile(MinuteKind::kOneMinute, security, first, last, worker, report);
  std::memcpy(worker.copy.bars.get(), worker.fresh.bars.get(), days * kOneMinuteBlockBytes);
  worker.copy.days = worker.fresh.days;
  DeriveFiveMinuteDays(worker.copy.bars.get(), worker.copy.days, worker.fresh.bars.get());
  WriteMinuteFile(MinuteKind::kFiveMinute, security, first, last, worker, report);
}

bool MinuteEngine::WriteMinuteFile(MinuteKind kind, const TickSecurity& security, int first, int last,
                                   Worker& worker, ItemReport& report) const {
  const MinuteFileKind& info = KindInfo(kind);
  const std::string path = MinuteFilePath(layout_, kind, security.market, security.code);
  const char* extension = info.extension;
  const auto writeFailed = [&] {
    report.Fail("%s%s%s文件写入失败, 保留原文件!", kMarketPrefix[security.market], security.code, extension);
    return false;
  };
  WorkBuffer& built = worker.built;
  const WorkBuffer& fresh = worker.fresh;
  const MinuteBar* result = fresh.bars.get();
  int count = fresh.days;
  bool damaged = false;
  bool replaces = true;
  if (first > 0 || last > 0) {
    const int capacity = kWorkBufferBars / info.barsPerDay;
    int retention = kind == MinuteKind::kOneMinute ? options_.oneMinuteDays : options_.fiveMinuteDays;
    retention = std::clamp(retention, 1, capacity);
    // Opened for update, so that an append needs no second open; a file that
    // cannot be written in place is still read, and replaced whole.
    File file = layout_.Files().Open(path, OpenMode::kUpdate);
    const bool writable = static_cast<bool>(file);
    if (!file && errno != ENOENT) file = layout_.Files().Open(path, OpenMode::kReadRegular);
    HeldDays held;
    const TailRead read = file ? FindHeldDays(file, info, built.bars.get(), capacity, &held)
                               : errno == ENOENT ? TailRead::kNoFile : TailRead::kDamaged;
    damaged = read == TailRead::kDamaged;
    replaces = read != TailRead::kNoFile;
    const int firstFresh = BlockDate(fresh.bars.get());
    // Days built again as the file holds them: a rewrite would give the same bytes.
    if (read == TailRead::kRead && (held.newestDate == 0 || firstFresh <= held.newestDate) &&
        HoldsFreshDays(file, held, info, retention, fresh.bars.get(), fresh.days, built.bars.get()))
      return true;
    // Days newer than every held one that the retention has room for go
    // after them in place: what the merge would write, without rewriting
    // the days before.
    const bool allNewer = read == TailRead::kRead && held.newestDate > 0 && firstFresh > held.newestDate;
    if (allNewer && writable && held.days > 0 && held.days + fresh.days <= retention) {
      report.wrote = true;
      return (AppendMinuteDays(file, held, fresh.bars.get(), fresh.days, info) && file.Close()) || writeFailed();
    }
    // New days after all held ones keep only the newest retention - new of
    // them: the older ones, which the merge would push out, are not read.
    const int wanted = allNewer ? std::max(retention - fresh.days, 0) : retention;
    int kept = 0;
    if (read == TailRead::kRead && !ReadNewestDays(file, held, info, wanted, built.bars.get(), &kept))
      damaged = true;
    if (kept > 0 || (allNewer && wanted == 0)) {
      count = MergeMinuteDays(built.bars.get(), kept, retention, fresh.bars.get(), fresh.days, info.barsPerDay);
      result = built.bars.get();
    }
  } else {
    // The old file is replaced unread, but never when it is a link or no regular file.
    const File old = layout_.Files().Open(path, OpenMode::kReadRegular);
    damaged = !old && errno != ENOENT;
    replaces = old && old.Length() != 0;
  }
  if (damaged) {
    report.Fail("%s%s%s文件已损坏, 未更新!", kMarketPrefix[security.market], security.code, extension);
    return false;
  }
  report.wrote = true;
  const std::string temp = kind == MinuteKind::kOneMinute ? layout_.OneMinuteTemp(security.market, worker.index)
                                                          : layout_.FiveMinuteTemp(security.market, worker.index);
  const std::span<const MinuteBar> bars(result, static_cast<std::size_t>(count) * static_cast<std::size_t>(info.barsPerDay));
  return ReplaceMinuteFile(layout_.Files(), temp, path, bars, replaces) || writeFailed();
}

void MinuteEngine::FileFailed(const char* format, MinuteKind kind, int market, std::string_view code) {
  Reports().LogF(format, kMarketPrefix[market], std::string(code).c_str(), KindInfo(kind).extension);
  NoteFailure();
}

OperationResult MinuteEngine::BuildMinuteLines(int first, int last) {
  BeginOperation();
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  wrote_ = false;
  Reports().Status("创建转档索引表!");
  if (!ListTickSecurities()) {
    builtAhead_.clear();
    Reports().ReportF("%s", "分笔文件索引表加载失败!");
    return Conclude(Outcome::kNothingToDo, "分笔文件索引表加载失败!");
  }
  const std::size_t n = securities_.size();
  const int workers = source_ ? 1 : Workers();
  PrepareWorkers(workers);
  std::vector<ItemReport> reports(n);
  std::vector<char> ahead(n, 0);
  for (std::size_t i = 0; i < n && !builtAhead_.empty(); ++i) {
    auto it = builtAhead_.find(SecurityStem(securities_[i].market, securities_[i].code));
    if (it == builtAhead_.end()) continue;
    reports[i] = std::move(it->second);
    ahead[i] = 1;
  }
  builtAhead_.clear();
  bool cancelled = false;
  const auto beforeBatch = [&](std::size_t from, std::size_t to) {
    std::vector<std::string> paths;
    for (std::size_t i = from; i < to; ++i)
      if (!ahead[i]) AddMinuteFilePaths(layout_, securities_[i].market, securities_[i].code, &paths);
    layout_.Files().BeforeChanges(paths, ComingChange::kReplacement);  // else each file is kept on its own
  };
  RunOrdered(
      n, workers,
      [&](std::size_t i) {
        Reports().StatusF("正在转档%s%s分钟线", kMarketName[securities_[i].market], securities_[i].code);
      },
      [&](std::size_t i, int w) {
        if (!ahead[i]) BuildSecurity(securities_[i], first, last, *workers_[w], reports[i]);
      },
      [&](std::size_t i) {
        // Files built ahead were flushed with the tick store that built them.
        wrote_ = wrote_ || (!ahead[i] && reports[i].wrote);
        reports[i].Deliver(*this);
        Reports().Progress(static_cast<double>(i) / static_cast<double>(n));
        cancelled = Cancelled();
        return !cancelled;
      },
      {.before = beforeBatch});
  if (wrote_) FlushTree(layout_);
  return ConcludeShown(cancelled ? Outcome::kCancelled : Outcome::kDone,
                       cancelled ? "分钟数据转档被取消!" : "分钟数据转档完成!", true);
}

}  // namespace marbloom
