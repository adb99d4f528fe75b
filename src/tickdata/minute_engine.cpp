#include "tickdata/minute_engine.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <string>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "app/settings.h"
#include "common/code_pattern.h"
#include "common/dir_walk.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "tickdata/minute_day_builder.h"
#include "tickdata/tick_file.h"
#include "tickdata/tick_formats.h"

namespace marbloom {
namespace {

constexpr int kWholeStoreDays = 500;

// The entries [begin, end) a run takes: the last 500 in whole-store mode,
// else those dated first..last (first or last 0: open on that side).
std::pair<std::size_t, std::size_t> ChooseEntries(const std::vector<int32_t>& dates, int first, int last) {
  std::size_t begin = 0, end = dates.size();
  if (first == 0 && last == 0) {
    if (end > kWholeStoreDays) begin = end - kWholeStoreDays;
    return {begin, end};
  }
  while (begin < end && first > 0 && dates[begin] < first) ++begin;
  std::size_t stop = begin;
  while (stop < end && !(last > 0 && dates[stop] > last)) ++stop;
  return {begin, stop};
}

}  // namespace

MinuteEngine::MinuteEngine() : MinuteEngine(TickDaySource()) {}

MinuteEngine::MinuteEngine(TickDaySource source) : source_(std::move(source)) {
  for (WorkBuffer* buffer : {&built_, &fresh_, &copy_})
    buffer->bars = std::make_unique_for_overwrite<MinuteBar[]>(kWorkBufferBars);
}

bool MinuteEngine::ListTickSecurities() {
  securities_.clear();
  std::set<std::pair<int, std::string>> seen;
  for (const WalkEntry& entry : ListCountedFiles(TickStoreDir(), "*.vid")) {
    const std::string& name = entry.name;
    if (name.size() != 12) continue;
    char m0 = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
    char m1 = static_cast<char>(std::tolower(static_cast<unsigned char>(name[1])));
    int market = m0 == 's' && m1 == 'z' ? 0 : m0 == 's' && m1 == 'h' ? 1 : m0 == 'b' && m1 == 'j' ? 2 : -1;
    std::string code = name.substr(2, 6);
    if (market < 0 || !IsSixDigitCode(code) || !seen.emplace(market, code).second) continue;
    TickSecurity security;
    security.market = static_cast<int16_t>(market);
    std::memcpy(security.code, code.c_str(), 7);
    securities_.push_back(security);
  }
  return !securities_.empty();
}

int MinuteEngine::BuildSecurityDays(const TickSecurity& security, int first, int last) {
  built_.days = 0;
  if (!reader_.Open(security.market, security.code) || !reader_.IndexDates()) return 0;
  const std::vector<int32_t>& dates = *reader_.IndexDates();
  MinuteScales scales = MinuteScalesOf(security.market, security.code, Settings().tckv4);
  auto [begin, end] = ChooseEntries(dates, first, last);
  if (end - begin > static_cast<std::size_t>(kMaxBuiltDays)) begin = end - kMaxBuiltDays;
  int lastBuilt = 0;
  for (std::size_t k = begin; k < end; ++k) {
    int date = dates[k];
    // A file's blocks must rise strictly; an index that repeats or goes back is not followed.
    if (date <= lastBuilt) continue;
    if (!BuildOneDay(security, date, scales, built_.bars.get() + built_.days * kOneMinuteBarsPerDay)) continue;
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
  std::memcpy(copy_.bars.get(), fresh_.bars.get(),
              static_cast<std::size_t>(fresh_.days) * kOneMinuteBlockBytes);
  copy_.days = fresh_.days;
  DeriveFiveMinuteDays(copy_.bars.get(), copy_.days, fresh_.bars.get());
  return WriteMinuteFile(MinuteKind::kFiveMinute, security, first, last);
}

// Merges the fresh days (of the kind's bar length) into the file and replaces it.
bool MinuteEngine::WriteMinuteFile(MinuteKind kind, const TickSecurity& security, int first, int last) {
  const MinuteFileKind& info = KindInfo(kind);
  std::string path = MinuteFilePath(kind, security.market, security.code);
  const MinuteBar* result = fresh_.bars.get();
  int count = fresh_.days;
  if (first > 0 || last > 0) {
    int capacity = kWorkBufferBars / info.barsPerDay;
    int retention = kind == MinuteKind::kOneMinute ? Settings().minuteDays : Settings().fiveMinuteDays;
    retention = std::clamp(retention, 1, capacity);
    int held = 0;
    if (ReadNewestDays(path, info, retention, built_.bars.get(), &held) == TailRead::kDamaged) {
      RunLog("%s%s%s文件已损坏, 未更新!", kMarketPrefix[security.market], security.code, info.extension);
      return false;
    }
    if (held > 0) {
      count = MergeMinuteDays(built_.bars.get(), held, retention, fresh_.bars.get(), fresh_.days, info.barsPerDay);
      result = built_.bars.get();
    }
  }
  if (ReplaceMinuteFile(kind, security.market, path, result, count)) return true;
  RunLog("%s%s%s文件写入失败, 保留原文件!", kMarketPrefix[security.market], security.code, info.extension);
  return false;
}

int MinuteEngine::BuildMinuteLines(int first, int last) {
  SetStatusText("创建转档索引表!");
  if (!ListTickSecurities()) {
    ReportF("%s", "分笔文件索引表加载失败!");
    return -1;
  }
  std::size_t n = securities_.size();
  for (std::size_t i = 0; i < n; ++i) {
    const TickSecurity& security = securities_[i];
    SetStatusTextF("正在转档%s%s分钟线", kMarketName[security.market], security.code);
    if (BuildSecurityDays(security, first, last) > 0) {
      std::memcpy(fresh_.bars.get(), built_.bars.get(), static_cast<std::size_t>(built_.days) * kOneMinuteBlockBytes);
      fresh_.days = built_.days;
      WriteOneMinuteFile(security, first, last);
      WriteFiveMinuteFile(security, first, last);
    }
    SetProgressFraction(static_cast<double>(i) / static_cast<double>(n));
    if (Cancelled()) break;
  }
  ReportF("%s", Cancelled() ? "分钟数据转档被取消!" : "分钟数据转档完成!");
  return 0;
}

}  // namespace marbloom
