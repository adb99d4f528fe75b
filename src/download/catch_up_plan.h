#pragma once
// The plan of a catch-up, made without the network: the newest day the
// server can have by the market's clock, the last day of a kind (daily or
// tick data) that is completely in the tree, and the weekdays after it to
// fetch, in runs of at most 31 calendar days as the download page takes them.
//
// The last complete day is kept in the work directory's state file, which a
// catch-up writes only after a conversion ended without failure, and is
// checked against the tree's own files each time. Without a state (the file
// lost, or a second work directory on the same tree) the tree alone cannot
// tell whether its newest days are complete: a conversion that stopped
// halfway leaves a day that only some securities hold (the daily conversion
// goes day by day, the tick conversion security by security over its days).
// The last complete day is then the weekday before the newest day that every
// index security still active holds, so that the plan fetches and converts
// that day again: cheap (one day more, converting a day twice changes
// nothing), and the securities a stopped conversion did not reach are never
// left with a gap. Dates after the market's today are no data of the tree.
#include <ctime>
#include <string>
#include <vector>

#include "common/calendar.h"
#include "common/data_layout.h"
#include "download/download_kind.h"

namespace marbloom {

// A day's archives are on the server after 17:30 market time (MarketTimeAt).
inline constexpr int kPublishedMinute = 17 * 60 + 30;

// The weekday before `date`.
int PreviousWeekday(int date);
// The newest day whose archives the server can have at `now`: the market's
// today from 17:30 on a weekday, else the weekday before.
int LatestServerDay(std::time_t now);
// The oldest day whose archives may still be unpublished at `now`: the
// weekday before LatestServerDay. A day the server lacks, with no later day
// on it, is "not published yet" from this day on; an older one is a failure
// (a holiday is known as one only once a later day arrives).
int OldestUnpublishedDay(std::time_t now);

// What the state file keeps of a kind: the last day converted without
// failure, and the newest day of a conversion that started and has not ended
// without failure since (the tree may hold parts of the days up to it).
struct CatchUpState {
  bool known = false;  // the file holds the kind
  int last = 0;
  int trying = 0;
};
CatchUpState ReadCatchUpState(const DataLayout& layout, DownloadKind kind);
// Replaces the state file as a whole; false when that failed.
bool WriteCatchUpState(const DataLayout& layout, DownloadKind kind, const CatchUpState& state);

// The dates of a kind in the tree, from the index securities' daily files or
// the index securities in the tick store (every file when there is no index
// security), each file giving its newest date up to `today`, the market's
// today (a later date is a mistake in the tree, never a day's data): the
// newest of them, and the newest day every active file holds (the oldest
// of the files' dates, leaving out files that ended more than two runs of a
// plan before the newest: a discontinued index). 0 when there is none.
struct TreeDates {
  int newest = 0;
  int heldByAll = 0;
};
TreeDates DatesInTree(const DataLayout& layout, DownloadKind kind, int today);

enum class LastDaySource { kNone, kState, kTree };
struct LastCompleteDay {
  int date = 0;  // 0: no data
  LastDaySource source = LastDaySource::kNone;
};
// The state's last day checked against the tree's newest date up to `today`:
// a tree that ends before it (restored from elsewhere, dates deleted) or
// after both its last and its trying day (converted by hand) moves it to the
// tree; a tree that ends between the two holds a conversion that failed
// halfway, which keeps the state's day. Without a state the tree is taken.
// Taken from the tree, it is the weekday before the newest day every active
// file holds (see above).
LastCompleteDay FindLastCompleteDay(const DataLayout& layout, DownloadKind kind, int today);

struct CatchUpRequest {
  bool daily = true;
  bool tick = true;
  int from = 0;         // first day; 0: the day after the last complete day
  int to = 0;           // last day; 0: the newest day the server can have
  std::time_t now = 0;  // the clock
};

struct DayRange {
  int first = 0, last = 0;
};

struct CatchUpPlan {
  DownloadKind kind = DownloadKind::kDaily;  // daily or tick
  LastCompleteDay lastComplete;
  int latest = 0;            // the last day to fetch
  bool fromScratch = false;  // no data in the tree: starts 31 calendar days back
  std::vector<DayRange> runs;  // each starts on a weekday and spans at most 31 days; none when up to date
};
CatchUpPlan PlanCatchUp(const DataLayout& layout, DownloadKind kind, const CatchUpRequest& request);

// "日线数据" or "分笔数据".
const char* CatchUpKindName(DownloadKind kind);
// The plan as lines for the user: where it starts and why, the days of each
// run, and today's day when the clock says it is not published yet.
std::vector<std::string> DescribePlan(const CatchUpPlan& plan, std::time_t now);

}  // namespace marbloom
