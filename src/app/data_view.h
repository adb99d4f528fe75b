#pragma once
// Reading one security's data for people to look at: the records of its
// daily, 1-minute or 5-minute file, or its ticks, within a date range, as
// real values (prices divided by the security's scale, readable dates and
// times), and the same rows as CSV or as a text table. The window's data tab
// and the command line's show commands both read through here. Reads only;
// files are read piece by piece, never whole beyond kMaxWholeFileBytes.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/data_layout.h"

namespace marbloom {

enum class ViewKind { kDaily, kOneMinute, kFiveMinute, kTicks };

// "日线", "1分钟线", "5分钟线", "分笔".
const char* ViewKindName(ViewKind kind);

struct ViewRequest {
  int market = 0;
  std::string code;  // six characters
  ViewKind kind = ViewKind::kDaily;
  int first = 0, last = 0;  // YYYYMMDD; 0 leaves that end open
  int tckv4 = 0;            // the TCKV4 setting: decimals of the ten-unit group
};

// What the daily check would report about a record, and a date that is no
// day of the calendar (20221399).
enum class RowFlag : uint8_t { kNone, kZeroDate, kDateNotRising, kNotADate };

// One record. Prices are integers in units of 10^-decimals of the view (a
// tick's single price is in all four); volume and amount as the file holds
// them, a daily lot-form volume expanded to the whole quantity.
struct ViewRow {
  uint32_t date = 0;  // YYYYMMDD as stored
  int32_t time = -1;  // bars: minute of the day the bar ends; ticks: second of the day; daily: -1
  int64_t open = 0, high = 0, low = 0, close = 0;
  int64_t volume = 0;
  double amount = 0;
  int32_t advancing = 0, declining = 0;  // daily records of an index
  int32_t extra = 0;                     // ticks
  uint8_t tickKind = 0;                  // ticks
  RowFlag flag = RowFlag::kNone;
};

// At most this many rows are kept; a wider range is cut with a note.
inline constexpr std::size_t kMaxViewRows = 1000000;

struct DataView {
  ViewRequest request;
  int decimals = 2;    // digits after the point of every price
  bool index = false;  // an index: daily rows carry advancing/declining counts
  std::vector<ViewRow> rows;
  std::size_t rowCount = 0;  // rows read: those kept, or those handed to a ViewRowSink
  int flaggedRows = 0;
  bool truncated = false;  // kMaxViewRows reached
  // False when the file is missing, unreadable or damaged; `message` says
  // why. Rows that could be read are kept even then.
  bool ok = false;
  // The read failed (ok is then false too): the file is missing,
  // unreadable or damaged. A read that only found no rows in the range has
  // not failed.
  bool failed = false;
  // The failure is a missing file (of a tick pair, either file).
  bool missing = false;
  // The status line of the read: a summary, or the failure.
  std::string message;
};

DataView ReadDataView(const DataLayout& layout, const ViewRequest& request);

// Where a read hands its rows, a run at a time in file order, as they are
// decoded. ReadDataView keeps them in DataView::rows; a reader that wants
// them in another form (the Python module's columns) takes them here
// instead of copying them out of the kept rows.
class ViewRowSink {
 public:
  virtual ~ViewRowSink() = default;
  // Before the first row: the view's decimals and index are known, and at
  // most about `expectedRows` rows are to come (0: unknown).
  virtual void Start(const DataView& view, std::size_t expectedRows) = 0;
  virtual void Take(std::span<const ViewRow> rows) = 0;
};

// The same read as ReadDataView with its rows handed to `sink` and none
// kept: the view tells how the read ended and how many rows there were.
// Tick prices come in 0.0001 units (decimals 4), which ReadDataView then
// shows with fewer decimals where every price of the read allows.
DataView ReadDataView(const DataLayout& layout, const ViewRequest& request, ViewRowSink& sink);

// The stems ("sz000001") of every security that has a file of this kind in
// the tree, in name order; with a code pattern (mmcccccc, '?' any one
// character, as the operations take it), those it selects.
std::vector<std::string> SecuritiesWithData(const DataLayout& layout, ViewKind kind, std::string_view pattern = {});
// The same without a look at any file, which on a market of thousands of
// files costs more than the listing itself: empty files are named too. A
// reader of them leaves out a security whose read fails on a file that
// ListedFileEmpty finds empty, and so reads what SecuritiesWithData names.
std::vector<std::string> SecuritiesListed(const DataLayout& layout, ViewKind kind, std::string_view pattern = {});
bool ListedFileEmpty(const DataLayout& layout, ViewKind kind, int market, std::string_view code);

// The columns of a view, in order.
enum class ViewColumn {
  kDate,
  kTime,
  kOpen,
  kHigh,
  kLow,
  kClose,
  kPrice,
  kVolume,
  kAmount,
  kAdvancing,
  kDeclining,
  kExtra,
  kKind,
  kFlag,
};
std::vector<ViewColumn> ColumnsOf(const DataView& view);
// The CSV header name ("open") and the table caption ("开盘价").
const char* ColumnName(ViewColumn column);
const char* ColumnCaption(ViewColumn column);
// A cell as the CSV and the text table show it.
std::string CellText(const DataView& view, const ViewRow& row, ViewColumn column);
// A cell as the window shows it: CellText, with a tick's kind in words
// (0 买盘, 1 卖盘, 2 中性; the number itself for any other).
std::string ShownCellText(const DataView& view, const ViewRow& row, ViewColumn column);

// "2022-05-05" for a calendar date, the stored number otherwise.
std::string FormatViewDate(uint32_t date);
// value x 10^-decimals with exactly `decimals` digits after the point.
std::string FormatScaled(int64_t value, int decimals);

// A header line of the column names, then one line per row, '\n' line ends.
std::string DataViewCsv(const DataView& view);
// The same as columns aligned for a terminal.
std::string DataViewTable(const DataView& view);

}  // namespace marbloom
