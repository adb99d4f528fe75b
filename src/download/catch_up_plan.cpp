#include "download/catch_up_plan.h"

#include <algorithm>
#include <cstdint>

#include "base/file_helpers.h"
#include "base/profile_file.h"
#include "base/text_encoding.h"
#include "base/file_system.h"
#include "common/calendar.h"
#include "common/date_range.h"
#include "common/market.h"
#include "common/security_class.h"
#include "common/security_walk.h"
#include "daily/daily_io.h"
#include "daily/daily_record.h"
#include "download/archive_unpack.h"
#include "tickdata/tick_pair.h"

namespace marbloom {
namespace {

const char* StateSection(DownloadKind kind) { return kind == DownloadKind::kTick ? "TICK" : "DAILY"; }

bool IsWeekend(int date) { return DayOfWeek(date) % 6 == 0; }

// A file whose newest date lies this long before the tree's newest has ended
// (a discontinued index); one that a stopped conversion did not reach lies at
// most one run behind.
constexpr int kActiveSpanDays = 2 * kMaxSpanDays;

TreeDates DatesOf(const std::vector<int>& newestOfEachFile) {
  TreeDates dates;
  for (const int date : newestOfEachFile) dates.newest = std::max(dates.newest, date);
  const int active = AddDays(dates.newest, -kActiveSpanDays, 0);
  for (const int date : newestOfEachFile)
    if (date != 0 && date >= active && (dates.heldByAll == 0 || date < dates.heldByAll)) dates.heldByAll = date;
  return dates;
}

// The index securities among the files, or all of them when there is none.
std::vector<SecurityFile> IndexFilesOrAll(std::vector<SecurityFile> files) {
  std::vector<SecurityFile> indexes;
  for (const SecurityFile& file : files)
    if (file.regular && IsIndexType(ClassifySecurity(file.market, file.code))) indexes.push_back(file);
  return indexes.empty() ? files : indexes;
}

// The newest date up to `today` of a daily file's records, looked for from
// its end (records are in date order); 0 when it has none.
int LastDailyDate(FileSystem& files, const std::string& path, int today) {
  constexpr int64_t kRecord = sizeof(DailyRecord), kPieceRecords = 64;
  const File in = files.Open(path, OpenMode::kReadRegular);
  int64_t end = in ? in.Length() : -1;
  if (end < kRecord || end % kRecord != 0) return 0;
  std::vector<DailyRecord> piece;
  while (end > 0) {
    const int64_t n = std::min(kPieceRecords, end / kRecord);
    piece.resize(static_cast<std::size_t>(n));
    end -= n * kRecord;
    if (!in.ReadAll(piece.data(), static_cast<std::size_t>(n * kRecord), end)) return 0;
    for (auto record = piece.rbegin(); record != piece.rend(); ++record)
      if (IsDailyRecordDate(record->date, today)) return static_cast<int>(record->date);
  }
  return 0;
}

TreeDates DailyDatesInTree(const DataLayout& layout, int today) {
  std::vector<SecurityFile> files;
  for (int market = 0; market < kMarketCount; ++market) {
    SecurityFileList list = ListSecurityFiles(layout.Files(), layout.DailyDir(market), market, "", DataLayout::kDailyExtension);
    files.insert(files.end(), list.files.begin(), list.files.end());
  }
  std::vector<int> newest;
  for (const SecurityFile& file : IndexFilesOrAll(std::move(files)))
    if (file.regular) newest.push_back(LastDailyDate(layout.Files(), file.path, today));
  return DatesOf(newest);
}

TreeDates TickDatesInTree(const DataLayout& layout, int today) {
  SecurityFileList list =
      ListSecurityFiles(layout.Files(), layout.TickStoreDir(), kAnyMarket, "", DataLayout::kTickIndexExtension);
  std::vector<int> newest;
  for (const SecurityFile& file : IndexFilesOrAll(std::move(list.files))) {
    TickPair pair;
    pair.Load(layout, SecurityStem(file.market, file.code));
    if (!pair.Whole()) continue;
    int latest = 0;
    for (const TickIndexEntry& entry : pair.entries())
      if (IsDailyRecordDate(static_cast<uint32_t>(entry.date), today)) latest = std::max(latest, static_cast<int>(entry.date));
    newest.push_back(latest);
  }
  return DatesOf(newest);
}

}  // namespace

int PreviousWeekday(int date) {
  int day = AddDays(date, -1, 0);
  while (day != 0 && IsWeekend(day)) day = AddDays(day, -1, 0);
  return day;
}

int LatestServerDay(std::time_t now) {
  const MarketTime market = MarketTimeAt(now);
  if (!IsWeekend(market.date) && market.minute >= kPublishedMinute) return market.date;
  return PreviousWeekday(market.date);
}

CatchUpState ReadCatchUpState(const DataLayout& layout, DownloadKind kind) {
  const ProfileSection section(layout.Files(), layout.UpdateStateFile(), StateSection(kind), {"LAST", "TRYING"});
  CatchUpState state;
  state.known = section.Has("LAST");
  state.last = std::max(0, section.ReadInt("LAST", 0));
  state.trying = std::max(0, section.ReadInt("TRYING", 0));
  return state;
}

bool WriteCatchUpState(const DataLayout& layout, DownloadKind kind, const CatchUpState& state) {
  const std::string section = StateSection(kind);
  return ProfileWriteStrings(layout.Files(), layout.UpdateStateFile(), {{section, "LAST", std::to_string(state.last)},
                                                        {section, "TRYING", std::to_string(state.trying)}});
}

int OldestUnpublishedDay(std::time_t now) { return PreviousWeekday(LatestServerDay(now)); }

TreeDates DatesInTree(const DataLayout& layout, DownloadKind kind, int today) {
  return kind == DownloadKind::kTick ? TickDatesInTree(layout, today) : DailyDatesInTree(layout, today);
}

LastCompleteDay FindLastCompleteDay(const DataLayout& layout, DownloadKind kind, int today) {
  const CatchUpState state = ReadCatchUpState(layout, kind);
  const TreeDates tree = DatesInTree(layout, kind, today);
  LastCompleteDay day{tree.heldByAll == 0 ? 0 : PreviousWeekday(tree.heldByAll), LastDaySource::kTree};
  if (state.known && (tree.newest == state.last || (tree.newest > state.last && tree.newest <= state.trying)))
    day = LastCompleteDay{state.last, LastDaySource::kState};
  if (day.date == 0) day.source = LastDaySource::kNone;
  return day;
}

CatchUpPlan PlanCatchUp(const DataLayout& layout, DownloadKind kind, const CatchUpRequest& request) {
  CatchUpPlan plan;
  plan.kind = kind;
  plan.lastComplete = FindLastCompleteDay(layout, kind, MarketTimeAt(request.now).date);
  plan.latest = request.to != 0 ? request.to : LatestServerDay(request.now);
  int first = request.from;
  if (first == 0 && plan.lastComplete.date != 0) first = NextTradingDay(plan.lastComplete.date);
  if (first == 0) {
    plan.fromScratch = true;
    first = AddDays(plan.latest, -kMaxSpanDays, 0);
  }
  first = std::max(first, kFirstSupportedDate);
  if (IsWeekend(first)) first = NextTradingDay(first);
  while (first != 0 && first <= plan.latest) {
    const int last = std::min(AddDays(first, kMaxSpanDays, 0), plan.latest);
    plan.runs.push_back(DayRange{first, last});
    first = NextTradingDay(last);
  }
  return plan;
}

const char* CatchUpKindName(DownloadKind kind) { return kind == DownloadKind::kTick ? "分笔数据" : "日线数据"; }

std::vector<std::string> DescribePlan(const CatchUpPlan& plan, std::time_t now) {
  const char* name = CatchUpKindName(plan.kind);
  std::vector<std::string> lines;
  const LastCompleteDay& last = plan.lastComplete;
  if (last.date == 0)
    lines.push_back(plan.fromScratch ? FormatText("%s: 数据目录中尚无数据, 从31个自然日前开始.", name)
                                     : FormatText("%s: 数据目录中尚无数据.", name));
  else
    lines.push_back(FormatText("%s: 最后完整的日期为%08d(据%s).", name, last.date,
                               last.source == LastDaySource::kState ? "更新状态文件" : "数据目录"));
  if (plan.runs.empty()) lines.push_back(FormatText("%s: 已是最新, 无需下载.", name));
  for (const DayRange& run : plan.runs) {
    int weekdays = 0;
    for (int day = run.first; day != 0 && day <= run.last; day = NextTradingDay(day)) ++weekdays;
    lines.push_back(FormatText("%s: 下载%08d至%08d的%d个工作日.", name, run.first, run.last, weekdays));
  }
  const MarketTime market = MarketTimeAt(now);
  if (!IsWeekend(market.date) && market.minute < kPublishedMinute && plan.latest == PreviousWeekday(market.date))
    lines.push_back(FormatText("%s: %08d的数据北京时间17:30之后才发布, 本次不下载.", name, market.date));
  return lines;
}

}  // namespace marbloom
