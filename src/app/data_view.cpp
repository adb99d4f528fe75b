#include "app/data_view.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <new>
#include <set>
#include <utility>

#include "base/file_helpers.h"
#include "base/text_encoding.h"
#include "common/calendar.h"
#include "common/code_pattern.h"
#include "common/market.h"
#include "common/security_class.h"
#include "common/security_walk.h"
#include "daily/daily_record.h"
#include "tickdata/minute_day_builder.h"
#include "tickdata/minute_files.h"
#include "tickdata/tick_pair.h"
#include "tickdata/tick_reader.h"

namespace marbloom {
namespace {

// Daily files are read in pieces of this size (whole records), so a file of
// any length needs no more memory than one piece besides the kept rows.
constexpr std::size_t kDailyPiece = std::size_t{1} << 20;
static_assert(kDailyPiece % kDailyRecordSize == 0);

std::string StemOf(const ViewRequest& r) { return SecurityStem(r.market, r.code); }

bool InRange(const ViewRequest& r, uint32_t date) {
  return (r.first <= 0 || date >= static_cast<uint32_t>(r.first)) &&
         (r.last <= 0 || date <= static_cast<uint32_t>(r.last));
}

// Hands a read's rows to its sink a run at a time, up to kMaxViewRows in
// all; the last run goes when the feed ends, a failed read's rows too.
class RowFeed {
 public:
  RowFeed(DataView& view, ViewRowSink& sink) : view_(view), sink_(sink) {}
  RowFeed(const RowFeed&) = delete;
  RowFeed& operator=(const RowFeed&) = delete;
  ~RowFeed() { Flush(); }

  void Start(std::size_t expectedRows) { sink_.Start(view_, std::min(expectedRows, kMaxViewRows)); }

  // The next row, empty, for the reader to fill in place and then Keep(); or
  // nullptr when the row limit is reached.
  ViewRow* Next() {
    if (view_.rowCount >= kMaxViewRows) {
      view_.truncated = true;
      return nullptr;
    }
    return new (run_ + held_ * sizeof(ViewRow)) ViewRow;
  }
  // Keeps the row Next() gave.
  void Keep() {
    ++view_.rowCount;
    if (Run()[held_].flag != RowFlag::kNone) ++view_.flaggedRows;
    if (++held_ == kRun) Flush();
  }

  // For rows made many at a time, counters kept by the reader rather than
  // here: the storage of up to `wanted` rows, *room of them (none at the row
  // limit, which then ends the read), to make with placement new and hand
  // back with KeepMade. The rows carry no flag.
  unsigned char* Room(std::size_t wanted, std::size_t* room) {
    *room = std::min({wanted, kRun - held_, kMaxViewRows - view_.rowCount});
    if (*room == 0) view_.truncated = true;
    return run_ + held_ * sizeof(ViewRow);
  }
  void KeepMade(std::size_t made) {
    view_.rowCount += made;
    held_ += made;
    if (held_ == kRun) Flush();
  }

 private:
  static constexpr std::size_t kRun = 128;

  const ViewRow* Run() const { return std::launder(reinterpret_cast<const ViewRow*>(run_)); }
  void Flush() {
    if (held_ > 0) sink_.Take({Run(), held_});
    held_ = 0;
  }

  DataView& view_;
  ViewRowSink& sink_;
  // Rows are made in place as they are read, never copied in.
  alignas(ViewRow) unsigned char run_[kRun * sizeof(ViewRow)];
  std::size_t held_ = 0;
};

// The sink of ReadDataView: the rows kept in the view.
class KeptRows : public ViewRowSink {
 public:
  void Start(const DataView&, std::size_t expectedRows) override { rows.reserve(expectedRows); }
  void Take(std::span<const ViewRow> run) override { rows.insert(rows.end(), run.begin(), run.end()); }

  std::vector<ViewRow> rows;
};

// Ends a read that failed; false.
bool Fail(DataView& view, std::string message) {
  view.ok = false;
  view.failed = true;
  view.message = std::move(message);
  return false;
}

// A file that cannot be opened: missing, or there but unreadable.
bool FailOpen(DataView& view, const std::string& path) {
  view.missing = errno == ENOENT;
  const char* format = view.missing ? "找不到文件%s" : "读取%s文件失败!";
  return Fail(view, FormatText(format, path.c_str()));
}

int DecimalsOfScale(int scale) {
  int decimals = 0;
  for (int s = scale; s >= 10; s /= 10) ++decimals;
  return decimals;
}

// The record's date as the daily check judges it against the one before,
// and whether the calendar knows it.
RowFlag DailyFlag(uint32_t date, uint32_t before) {
  switch (DailyDateFaultOf(date, before)) {
    case DailyDateFault::kZero: return RowFlag::kZeroDate;
    case DailyDateFault::kNotRising: return RowFlag::kDateNotRising;
    case DailyDateFault::kNone: break;
  }
  return IsCalendarDate(static_cast<int>(date)) ? RowFlag::kNone : RowFlag::kNotADate;
}

// Byte 30 keeps only the low 8 bits of the lot size, above the remainder.
// The lot sizes markets use come first; then the smallest multiple of ten
// with these low bits; the stored bits alone when none fits.
int64_t LotSizeOf(uint8_t lowBits, uint16_t remainder) {
  for (int64_t lot : {100, 200, 500, 1000, 2000, 5000, 10000, 20000})
    if ((lot & 0xFF) == lowBits && lot > remainder) return lot;
  for (int64_t lot = lowBits == 0 ? 256 : lowBits; lot <= 32767; lot += 256)
    if (lot % 10 == 0 && lot > remainder) return lot;
  return lowBits;
}

void FillDailyRow(const DailyRecord& r, bool index, ViewRow& row) {
  row.date = r.date;
  row.open = r.open;
  row.high = r.high;
  row.low = r.low;
  row.close = r.close;
  row.amount = r.amount;
  row.volume = r.volume;
  if (index) {
    row.advancing = r.word28;
    row.declining = r.word30;
  } else if ((r.word30 >> 8) == kLotFormMarker) {
    row.volume = int64_t{r.volume} * LotSizeOf(static_cast<uint8_t>(r.word30 & 0xFF), r.word28) + r.word28;
  }
}

// Zero dates between shown records are shown too: they sit inside the range
// as the file holds it, and they are what the check reports.
bool ReadDaily(const DataLayout& layout, DataView& view, RowFeed& feed) {
  const ViewRequest& r = view.request;
  view.decimals = PriceDecimals(r.market, r.code, r.tckv4);
  view.index = IsIndexType(ClassifySecurity(r.market, r.code)) != 0;
  const std::string path = layout.DailyFile(r.market, r.code);
  const File file = layout.Files().Open(path, OpenMode::kRead);
  if (!file) return FailOpen(view, path);
  const int64_t length = file.Length();
  if (length < 0) return Fail(view, FormatText("读取%s文件失败!", path.c_str()));
  if (length < static_cast<int64_t>(kDailyRecordSize))
    return Fail(view, FormatText("%s文件无数据!", path.c_str()));
  std::vector<uint8_t> piece;
  feed.Start(static_cast<std::size_t>(length / kDailyRecordSize));
  uint32_t before = 0;
  bool lastShown = false;
  const int64_t whole = length - length % static_cast<int64_t>(kDailyRecordSize);
  for (int64_t offset = 0; offset < whole && !view.truncated; offset += static_cast<int64_t>(kDailyPiece)) {
    const std::size_t size = static_cast<std::size_t>(std::min<int64_t>(whole - offset, kDailyPiece));
    piece.resize(size);
    if (!file.ReadAll(piece.data(), size, offset))
      return Fail(view, FormatText("读取%s文件失败!", path.c_str()));
    for (std::size_t i = 0; i < size / kDailyRecordSize; ++i) {
      DailyRecord record;
      std::memcpy(&record, piece.data() + i * kDailyRecordSize, sizeof record);
      const RowFlag flag = DailyFlag(record.date, before);
      before = record.date;
      lastShown = InRange(r, record.date) || (record.date == 0 && lastShown);
      if (!lastShown) continue;
      ViewRow* row = feed.Next();
      if (row == nullptr) break;
      FillDailyRow(record, view.index, *row);
      row->flag = flag;
      feed.Keep();
    }
  }
  if (length != whole) {
    const std::string c(r.code);
    return Fail(view, FormatText("%s%s日线文件长度异常!", kMarketPrefix[r.market], c.c_str()));
  }
  return true;
}

// Minute files are read in pieces of this many bars, after the look at
// their last blocks that finds where their days end.
constexpr std::size_t kMinutePiece = 2048;

bool ReadMinutes(const DataLayout& layout, DataView& view, RowFeed& feed) {
  const ViewRequest& r = view.request;
  view.decimals = DecimalsOfScale(MinuteScalesOf(r.market, r.code, r.tckv4).priceScale);
  const MinuteKind kind = r.kind == ViewKind::kOneMinute ? MinuteKind::kOneMinute : MinuteKind::kFiveMinute;
  const std::string path = MinuteFilePath(layout, kind, r.market, r.code);
  const File file = layout.Files().Open(path, OpenMode::kRead);
  if (!file) return FailOpen(view, path);
  std::vector<MinuteBar> piece;
  int64_t held = 0;
  const TailRead read = HeldMinuteBars(file, KindInfo(kind), &piece, &held);
  if (read == TailRead::kNoFile) return Fail(view, FormatText("%s文件无数据!", path.c_str()));
  if (read != TailRead::kRead) return Fail(view, FormatText("%s分钟线文件已损坏!", path.c_str()));
  feed.Start(static_cast<std::size_t>(held));
  for (int64_t at = 0; at < held && !view.truncated; at += static_cast<int64_t>(kMinutePiece)) {
    const auto n = static_cast<std::size_t>(std::min<int64_t>(held - at, kMinutePiece));
    piece.resize(n);
    if (!file.ReadAll(piece.data(), n * sizeof(MinuteBar), at * static_cast<int64_t>(sizeof(MinuteBar))))
      return Fail(view, FormatText("%s分钟线文件已损坏!", path.c_str()));
    // Rows are made a run at a time, the counts in locals of this loop.
    unsigned char* room = nullptr;
    std::size_t roomRows = 0, made = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const MinuteBar& bar = piece[i];
      const uint32_t date = static_cast<uint32_t>(UnpackMinuteDate(bar.packedDate));
      if (!InRange(r, date)) continue;
      if (made == roomRows) {
        feed.KeepMade(made);
        made = 0;
        room = feed.Room(n - i, &roomRows);
        if (roomRows == 0) break;
      }
      new (room + made++ * sizeof(ViewRow)) ViewRow{.date = date,
                                                    .time = bar.time,
                                                    .open = bar.open,
                                                    .high = bar.high,
                                                    .low = bar.low,
                                                    .close = bar.close,
                                                    .volume = static_cast<uint32_t>(bar.volume),
                                                    .amount = bar.amount};
    }
    feed.KeepMade(made);
  }
  return true;
}

int64_t PowerOfTen(int n) {
  int64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// Tick prices are read in 0.0001 units; they are shown with the security's
// decimals, or more where a price needs them.
void ScaleTickPrices(DataView& view, int securityDecimals) {
  int decimals = std::min(securityDecimals, 4);
  for (const ViewRow& row : view.rows)
    while (decimals < 4 && row.close % PowerOfTen(4 - decimals) != 0) ++decimals;
  const int64_t divisor = PowerOfTen(4 - decimals);
  for (ViewRow& row : view.rows) row.open = row.high = row.low = row.close = row.close / divisor;
  view.decimals = decimals;
}

// Ends the read with why a pair's days cannot all be trusted: a file
// missing, or the check's message for the pair.
bool FailTickPair(const DataLayout& layout, TickPairState state, const std::string& stem, DataView& view) {
  for (const std::string& path : {layout.TickIndexFile(stem), layout.TickDataFile(stem)})
    if (state == TickPairState::kNotOpened && !layout.Files().Exists(path)) {
      view.missing = true;
      return Fail(view, FormatText("找不到文件%s", path.c_str()));
    }
  return Fail(view, FormatText(TickPairMessage(state), stem.c_str()));
}

void KeepTicks(RowFeed& feed, const TickDayView& day) {
  for (std::size_t i = 0; i < day.count; ++i) {
    const TickRecord& t = day.ticks[i];
    ViewRow* row = feed.Next();
    if (row == nullptr) return;
    row->date = static_cast<uint32_t>(day.date);
    row->time = t.minute * 60 + t.second;
    row->open = row->high = row->low = row->close = t.price;
    row->volume = static_cast<uint32_t>(t.volume);
    row->extra = t.extra;
    row->tickKind = t.kind;
    feed.Keep();
  }
}

// Every day of the range that the index lists; a pair the check would fault
// shows what can be read, with the check's message, when its blocks lie
// where its index says (TickPairReadable), and nothing otherwise.
bool ReadTicks(const DataLayout& layout, DataView& view, RowFeed& feed) {
  const ViewRequest& r = view.request;
  const std::string stem = StemOf(r);
  view.decimals = 4;
  TickSecurityReader reader(layout);
  const TickPairState state = reader.Open(r.market, r.code);
  if (!reader.Readable()) return FailTickPair(layout, state, stem, view);
  feed.Start(0);
  std::set<int32_t> seen;
  int unreadable = 0;
  for (const TickIndexEntry& entry : reader.Entries()) {
    const int32_t date = entry.date;
    if (view.truncated || !InRange(r, static_cast<uint32_t>(date)) || !seen.insert(date).second) continue;
    TickDayView day;
    if (reader.ReadDay(date, &day))
      KeepTicks(feed, day);
    else
      ++unreadable;
  }
  if (state != TickPairState::kSound) return FailTickPair(layout, state, stem, view);
  if (unreadable > 0) return Fail(view, FormatText("%s有%d天分笔数据无法读取!", stem.c_str(), unreadable));
  return true;
}

std::string Summary(const DataView& view) {
  const std::string stem = StemOf(view.request);
  const char* kind = ViewKindName(view.request.kind);
  if (view.rowCount == 0) return FormatText("%s在所选日期内没有%s数据!", stem.c_str(), kind);
  std::string text = FormatText("%s%s共%zu条", stem.c_str(), kind, view.rowCount);
  if (view.flaggedRows > 0) text += FormatText(",其中%d条日期异常", view.flaggedRows);
  if (view.truncated) text += ",记录过多,只显示这些,请缩小日期范围";
  return text;
}

// Bars: "09:31" from the minute of the day; ticks: "09:30:03" from the second.
std::string FormatTime(int32_t value, bool seconds) {
  const int32_t day = seconds ? 86400 : 1440;
  if (value < 0 || value >= day) return std::to_string(value);
  if (!seconds) return FormatText("%02d:%02d", value / 60, value % 60);
  return FormatText("%02d:%02d:%02d", value / 3600, value / 60 % 60, value % 60);
}

std::string TickKindText(uint8_t kind) {
  static constexpr const char* kWords[] = {"买盘", "卖盘", "中性"};
  return kind < std::size(kWords) ? kWords[kind] : std::to_string(kind);
}

const char* FlagText(RowFlag flag) {
  switch (flag) {
    case RowFlag::kZeroDate:
      return "日期为0";
    case RowFlag::kDateNotRising:
      return "日期顺序紊乱";
    case RowFlag::kNotADate:
      return "日期无效";
    default:
      return "";
  }
}

struct ColumnText {
  const char* name;
  const char* caption;
};
constexpr ColumnText kColumnTexts[] = {
    {"date", "日期"},       {"time", "时间"},          {"open", "开盘价"},        {"high", "最高价"},
    {"low", "最低价"},      {"close", "收盘价"},       {"price", "成交价"},       {"volume", "成交量"},
    {"amount", "成交金额"}, {"advancing", "上涨家数"}, {"declining", "下跌家数"}, {"extra", "附加值"},
    {"kind", "性质"},       {"flag", "检查"},
};

}  // namespace

const char* ViewKindName(ViewKind kind) {
  switch (kind) {
    case ViewKind::kOneMinute:
      return "1分钟线";
    case ViewKind::kFiveMinute:
      return "5分钟线";
    case ViewKind::kTicks:
      return "分笔";
    default:
      return "日线";
  }
}

DataView ReadDataView(const DataLayout& layout, const ViewRequest& request, ViewRowSink& sink) {
  DataView view;
  view.request = request;
  if (!IsValidMarket(request.market) || request.code.size() != 6) {
    Fail(view, kCodeFormatMessage);
    return view;
  }
  bool read = false;
  {
    RowFeed feed(view, sink);
    switch (request.kind) {
      case ViewKind::kDaily:
        read = ReadDaily(layout, view, feed);
        break;
      case ViewKind::kOneMinute:
      case ViewKind::kFiveMinute:
        read = ReadMinutes(layout, view, feed);
        break;
      case ViewKind::kTicks:
        read = ReadTicks(layout, view, feed);
        break;
    }
  }
  if (!read) return view;
  view.ok = view.rowCount > 0;
  view.message = Summary(view);
  return view;
}

DataView ReadDataView(const DataLayout& layout, const ViewRequest& request) {
  KeptRows kept;
  DataView view = ReadDataView(layout, request, kept);
  view.rows = std::move(kept.rows);
  if (request.kind == ViewKind::kTicks && IsValidMarket(request.market) && request.code.size() == 6)
    ScaleTickPrices(view, PriceDecimals(request.market, request.code, request.tckv4));
  return view;
}

namespace {

// Where a kind's files of a market lie (the tick store holds every market's),
// and how their names end.
std::pair<std::string, std::string_view> FolderOf(const DataLayout& layout, ViewKind kind, int market) {
  switch (kind) {
    case ViewKind::kTicks:
      return {layout.TickStoreDir(), DataLayout::kTickIndexExtension};
    case ViewKind::kOneMinute:
      return {layout.OneMinuteDir(market), DataLayout::kOneMinuteExtension};
    case ViewKind::kFiveMinute:
      return {layout.FiveMinuteDir(market), DataLayout::kFiveMinuteExtension};
    default:
      return {layout.DailyDir(market), DataLayout::kDailyExtension};
  }
}

std::vector<std::string> ListedStems(const DataLayout& layout, ViewKind kind, std::string_view pattern,
                                     ListDetail detail) {
  const std::array<bool, kMarketCount> markets =
      pattern.empty() ? std::array<bool, kMarketCount>{true, true, true} : SelectMarkets(pattern);
  const std::string code = pattern.empty() ? std::string() : CodePart(pattern);
  std::vector<std::string> stems;
  auto add = [&](int market) {
    const auto [dir, extension] = FolderOf(layout, kind, market == kAnyMarket ? 0 : market);
    for (const SecurityFile& f : ListSecurityFiles(layout.Files(), dir, market, code, extension, false, detail).files)
      if (markets[f.market]) stems.push_back(SecurityStem(f.market, f.code));
  };
  if (kind == ViewKind::kTicks)
    add(kAnyMarket);
  else
    for (int market = 0; market < kMarketCount; ++market)
      if (markets[market]) add(market);
  std::sort(stems.begin(), stems.end());
  stems.erase(std::unique(stems.begin(), stems.end()), stems.end());
  return stems;
}

}  // namespace

std::vector<std::string> SecuritiesWithData(const DataLayout& layout, ViewKind kind, std::string_view pattern) {
  return ListedStems(layout, kind, pattern, ListDetail::kSizes);
}

std::vector<std::string> SecuritiesListed(const DataLayout& layout, ViewKind kind, std::string_view pattern) {
  return ListedStems(layout, kind, pattern, ListDetail::kKinds);
}

bool ListedFileEmpty(const DataLayout& layout, ViewKind kind, int market, std::string_view code) {
  // One look at the file, not a listing of its folder of thousands.
  const auto [dir, extension] = FolderOf(layout, kind, market);
  const File file = layout.Files().Open(dir + SecurityStem(market, code).append(extension), OpenMode::kReadRegular);
  return file && file.Length() == 0;
}

std::vector<ViewColumn> ColumnsOf(const DataView& view) {
  using C = ViewColumn;
  switch (view.request.kind) {
    case ViewKind::kTicks:
      return {C::kDate, C::kTime, C::kPrice, C::kVolume, C::kExtra, C::kKind};
    case ViewKind::kOneMinute:
    case ViewKind::kFiveMinute:
      return {C::kDate, C::kTime, C::kOpen, C::kHigh, C::kLow, C::kClose, C::kVolume, C::kAmount};
    default:
      break;
  }
  std::vector<ViewColumn> columns = {C::kDate, C::kOpen, C::kHigh, C::kLow, C::kClose, C::kVolume, C::kAmount};
  if (view.index) columns.insert(columns.end(), {C::kAdvancing, C::kDeclining});
  columns.push_back(C::kFlag);
  return columns;
}

const char* ColumnName(ViewColumn column) { return kColumnTexts[static_cast<int>(column)].name; }
const char* ColumnCaption(ViewColumn column) { return kColumnTexts[static_cast<int>(column)].caption; }

std::string FormatViewDate(uint32_t date) {
  if (!IsCalendarDate(static_cast<int>(date))) return std::to_string(date);
  return FormatText("%04u-%02u-%02u", date / 10000, date / 100 % 100, date % 100);
}

std::string FormatScaled(int64_t value, int decimals) {
  const int64_t scale = PowerOfTen(decimals);
  const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const char* sign = value < 0 ? "-" : "";
  const unsigned long long whole = magnitude / static_cast<uint64_t>(scale);
  if (decimals <= 0) return FormatText("%s%llu", sign, whole);
  const unsigned long long part = magnitude % static_cast<uint64_t>(scale);
  return FormatText("%s%llu.%0*llu", sign, whole, decimals, part);
}

std::string CellText(const DataView& view, const ViewRow& row, ViewColumn column) {
  const bool ticks = view.request.kind == ViewKind::kTicks;
  switch (column) {
    case ViewColumn::kDate:
      return FormatViewDate(row.date);
    case ViewColumn::kTime:
      return FormatTime(row.time, ticks);
    case ViewColumn::kOpen:
      return FormatScaled(row.open, view.decimals);
    case ViewColumn::kHigh:
      return FormatScaled(row.high, view.decimals);
    case ViewColumn::kLow:
      return FormatScaled(row.low, view.decimals);
    case ViewColumn::kClose:
    case ViewColumn::kPrice:
      return FormatScaled(row.close, view.decimals);
    case ViewColumn::kVolume:
      return std::to_string(row.volume);
    case ViewColumn::kAmount:
      return FormatText("%.2f", row.amount);
    case ViewColumn::kAdvancing:
      return std::to_string(row.advancing);
    case ViewColumn::kDeclining:
      return std::to_string(row.declining);
    case ViewColumn::kExtra:
      return std::to_string(row.extra);
    case ViewColumn::kKind:
      return std::to_string(row.tickKind);
    case ViewColumn::kFlag:
      return FlagText(row.flag);
  }
  return std::string();
}

std::string ShownCellText(const DataView& view, const ViewRow& row, ViewColumn column) {
  return column == ViewColumn::kKind ? TickKindText(row.tickKind) : CellText(view, row, column);
}

std::string DataViewCsv(const DataView& view) {
  const std::vector<ViewColumn> columns = ColumnsOf(view);
  std::string csv;
  for (std::size_t c = 0; c < columns.size(); ++c) (csv += c ? "," : "") += ColumnName(columns[c]);
  csv += '\n';
  for (const ViewRow& row : view.rows) {
    for (std::size_t c = 0; c < columns.size(); ++c) (csv += c ? "," : "") += CellText(view, row, columns[c]);
    csv += '\n';
  }
  return csv;
}

// Numbers right-aligned; the flag, last, left as it is.
std::string DataViewTable(const DataView& view) {
  const std::vector<ViewColumn> columns = ColumnsOf(view);
  std::vector<std::size_t> widths(columns.size());
  for (std::size_t c = 0; c < columns.size(); ++c) widths[c] = std::strlen(ColumnName(columns[c]));
  for (const ViewRow& row : view.rows)
    for (std::size_t c = 0; c < columns.size(); ++c)
      if (columns[c] != ViewColumn::kFlag) widths[c] = std::max(widths[c], CellText(view, row, columns[c]).size());
  auto line = [&](auto cell) {
    std::string text;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::string value = cell(columns[c]);
      if (c > 0) text += "  ";
      if (columns[c] != ViewColumn::kFlag) text.append(widths[c] - std::min(widths[c], value.size()), ' ');
      text += value;
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text + '\n';
  };
  std::string table = line([](ViewColumn c) { return std::string(ColumnName(c)); });
  for (const ViewRow& row : view.rows) table += line([&](ViewColumn c) { return CellText(view, row, c); });
  return table;
}

}  // namespace marbloom
