#pragma once
// The plan of a catch-up, made without the network: the newest day the
// server can have by the market's clock, the last day of a kind (daily or
// tick data) that is completely in the tree, and the weekdays after it to
// fetch, in runs of at most 31 calendar days as the download page takes them.
//
// The last complete day is kept in the work directory's state file, which a
// catch-up writes only after a conversion ended without failure, and is
// checked against the tree's own files each time.
#include <ctime>
#include <string>
#include <vector>

#include "common/calendar.h"
#include "common/data_layout.h"

namespace marbloom {

// A day's archives are on the server after 17:30 market time (MarketTimeAt).
inline constexpr int kPublishedMinute = 17 * 60 + 30;

// The weekday before `date`.
int PreviousWeekday(int date);
// The newest day whose archives the server can have at `now`: the market's
// today from 17:30 on a weekday, else the weekday before.
int LatestServerDay(std::time_t now);

// What the state file keeps of a kind: the last day converted without
// failure, and the newest day of a conversion that started and has not ended
// without failure since (the tree may hold parts of the days up to it).
struct CatchUpState {
  bool known = false;  // the file holds the kind
  int last = 0;
  int trying = 0;
};
CatchUpState ReadCatchUpState(const DataLayout& layout, int kind);
// Replaces the state file as a whole; false when that failed.
bool WriteCatchUpState(const DataLayout& layout, int kind, const CatchUpState& state);

// The newest date of a kind in the tree: of the index securities' daily
// files, or of the index securities in the tick store (of every file when
// there is no index security); 0 when there is none.
int LatestDateInTree(const DataLayout& layout, int kind);

enum class LastDaySource { kNone, kState, kTree };
struct LastCompleteDay {
  int date = 0;  // 0: no data
  LastDaySource source = LastDaySource::kNone;
};
// The state's last day checked against the tree: a tree that ends before it
// (restored from elsewhere, dates deleted) or after both its last and its
// trying day (converted by hand) moves it to the tree's date; a tree that
// ends between the two holds a conversion that failed halfway, which keeps
// the state's day. Without a state the tree's date is taken.
LastCompleteDay FindLastCompleteDay(const DataLayout& layout, int kind);

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
  int kind = 0;  // kDownloadDaily or kDownloadTick
  LastCompleteDay lastComplete;
  int latest = 0;            // the last day to fetch
  bool fromScratch = false;  // no data in the tree: starts 31 calendar days back
  std::vector<DayRange> runs;  // each starts on a weekday and spans at most 31 days; none when up to date
};
CatchUpPlan PlanCatchUp(const DataLayout& layout, int kind, const CatchUpRequest& request);

// "日线数据" or "分笔数据".
const char* CatchUpKindName(int kind);
// The plan as lines for the user: where it starts and why, the days of each
// run, and today's day when the clock says it is not published yet.
std::vector<std::string> DescribePlan(const CatchUpPlan& plan, std::time_t now);

}  // namespace marbloom
