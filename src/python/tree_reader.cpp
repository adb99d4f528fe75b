#include "python/tree_reader.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iterator>
#include <system_error>
#include <utility>

#include "app/settings.h"
#include "app/startup.h"
#include "base/file_helpers.h"
#include "base/text_encoding.h"
#include "common/calendar.h"
#include "common/code_pattern.h"
#include "common/ordered_work.h"

namespace marbloom::python {
namespace {

constexpr int64_t kNanosPerSecond = 1000000000;
constexpr int64_t kSecondsPerDay = 86400;

std::string DirText(const std::filesystem::path& path) {
  std::string text = path.lexically_normal().string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

bool IsDir(const std::string& dir) {
  std::error_code error;
  return std::filesystem::is_directory(dir, error);
}

// The history directory the settings of `workDir` name, relative to it.
TreePlace PlaceOf(const std::string& workDir, const AppSettings& settings) {
  std::filesystem::path history(settings.historyDir);
  if (history.is_relative()) history = std::filesystem::path(workDir) / history;
  return TreePlace{DirText(history), settings.tckv4};
}

std::optional<TreePlace> Missing(const std::string& dir, std::string* problem) {
  *problem = FormatText("找不到目录%s", dir.c_str());
  return std::nullopt;
}

int64_t PowerOfTen(int n) {
  int64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// Nanoseconds since 1970-01-01 of dates and times of day, remembering the
// last date (the rows of a file come a day at a time) and the midnights of
// the dates met (the securities of a market share their days).
class Stamps {
 public:
  // The date's midnight, plus `time` in `unit` seconds when time >= 0; kNoStamp
  // for a date the calendar does not know or a time past the day.
  int64_t Of(uint32_t date, int32_t time, int64_t unit) {
    if (date != date_) {
      Met& met = met_[date % met_.size()];
      if (met.date != date) {
        met.date = date;
        met.midnight = IsCalendarDate(static_cast<int>(date)) ? DaysSince1970(date) * kSecondsPerDay * kNanosPerSecond
                                                              : kNoStamp;
      }
      date_ = date;
      midnight_ = met.midnight;
    }
    if (midnight_ == kNoStamp || time < 0) return midnight_;
    if (time * unit >= kSecondsPerDay) return kNoStamp;
    return midnight_ + time * unit * kNanosPerSecond;
  }

 private:
  static int64_t DaysSince1970(uint32_t date) {
    const std::chrono::year_month_day day{std::chrono::year(static_cast<int>(date / 10000)),
                                          std::chrono::month(date / 100 % 100), std::chrono::day(date % 100)};
    return std::chrono::sys_days(day).time_since_epoch().count();
  }

  struct Met {
    uint32_t date = 0;
    int64_t midnight = kNoStamp;
  };
  uint32_t date_ = 0;
  int64_t midnight_ = kNoStamp;
  std::array<Met, 509> met_{};
};

// What both sinks take from a read: its kind, its price scale and the unit
// of its stamps (0: a date alone).
class ScaledRowSink : public ViewRowSink {
 protected:
  void StartScaled(const DataView& view) {
    kind_ = view.request.kind;
    scale_ = static_cast<double>(PowerOfTen(view.decimals));
    unit_ = kind_ == ViewKind::kDaily ? 0 : kind_ == ViewKind::kTicks ? 1 : 60;
  }

  ViewKind kind_ = ViewKind::kDaily;
  double scale_ = 1;
  int64_t unit_ = 0;
};

// Writes a read's rows into columns as the reader hands them over: the
// date and time as one stamp, prices as real values. The quotient of two
// exact doubles is the double nearest to the real value, the same as
// reading the shown decimal text.
class ColumnSink : public ScaledRowSink {
 public:
  explicit ColumnSink(Columns& columns) : c_(columns) {}

  void Start(const DataView& view, std::size_t expectedRows) override {
    StartScaled(view);
    // One security's columns in one block, made once; room for as many rows
    // for each security still to come, the columns of many securities
    // growing by one allocation where their files are alike.
    const std::size_t size = c_.Size();
    if (toCome_ == 1 && size == 0 && c_.stamp.capacity() == 0 && expectedRows > 0)
      PlaceInOneBlock(expectedRows);
    else if (c_.stamp.capacity() < size + expectedRows)
      Reserve(std::max(size + expectedRows * toCome_, 2 * c_.stamp.capacity()));
  }

  void Take(std::span<const ViewRow> rows) override {
    const std::size_t n = rows.size();
    if (kind_ == ViewKind::kTicks) {
      int64_t* stamp = Grow(c_.stamp, n);
      double* price = Grow(c_.close, n);
      int64_t* volume = Grow(c_.volume, n);
      int32_t* extra = Grow(c_.extra, n);
      uint8_t* tickKind = Grow(c_.tickKind, n);
      for (std::size_t i = 0; i < n; ++i) {
        const ViewRow& r = rows[i];
        stamp[i] = stamps_.Of(r.date, r.time, 1);
        price[i] = static_cast<double>(r.close) / scale_;
        volume[i] = r.volume;
        extra[i] = r.extra;
        tickKind[i] = r.tickKind;
      }
      return;
    }
    int64_t* stamp = Grow(c_.stamp, n);
    double* open = Grow(c_.open, n);
    double* high = Grow(c_.high, n);
    double* low = Grow(c_.low, n);
    double* close = Grow(c_.close, n);
    int64_t* volume = Grow(c_.volume, n);
    double* amount = Grow(c_.amount, n);
    for (std::size_t i = 0; i < n; ++i) {
      const ViewRow& r = rows[i];
      stamp[i] = stamps_.Of(r.date, unit_ == 0 ? -1 : r.time, unit_);
      open[i] = static_cast<double>(r.open) / scale_;
      high[i] = static_cast<double>(r.high) / scale_;
      low[i] = static_cast<double>(r.low) / scale_;
      close[i] = static_cast<double>(r.close) / scale_;
      volume[i] = r.volume;
      amount[i] = r.amount;
    }
    if (kind_ != ViewKind::kDaily) return;
    int32_t* advancing = Grow(c_.advancing, n);
    int32_t* declining = Grow(c_.declining, n);
    uint8_t* flag = Grow(c_.flag, n);
    for (std::size_t i = 0; i < n; ++i) {
      advancing[i] = rows[i].advancing;
      declining[i] = rows[i].declining;
      flag[i] = static_cast<uint8_t>(rows[i].flag);
    }
  }

  // The securities still to be read into the columns, this one included.
  void SetToCome(std::size_t securities) { toCome_ = std::max<std::size_t>(securities, 1); }

 private:
  template <typename T>
  static T* Grow(Column<T>& column, std::size_t n) {
    return column.Grow(n);
  }

  // The kind's columns, each given its room in one block.
  void PlaceInOneBlock(std::size_t rows) {
    std::size_t bytes = 0;
    auto room = [&bytes, rows](auto& column, bool wanted) {
      using T = std::remove_reference_t<decltype(column[0])>;
      if (!wanted) return std::size_t{0};
      const std::size_t at = (bytes + 7) / 8 * 8;
      bytes = at + rows * sizeof(T);
      return at;
    };
    const bool ticks = kind_ == ViewKind::kTicks, daily = kind_ == ViewKind::kDaily;
    const std::size_t at[] = {room(c_.stamp, true),     room(c_.open, !ticks),     room(c_.high, !ticks),
                              room(c_.low, !ticks),     room(c_.close, true),      room(c_.volume, true),
                              room(c_.amount, !ticks),  room(c_.advancing, daily), room(c_.declining, daily),
                              room(c_.flag, daily),     room(c_.extra, ticks),     room(c_.tickKind, ticks)};
    void* block = std::malloc(bytes);
    if (block == nullptr) throw std::bad_alloc();
    c_.block = std::shared_ptr<void>(block, std::free);
    char* base = static_cast<char*>(block);
    auto place = [&](auto& column, std::size_t offset, bool wanted) {
      using T = std::remove_reference_t<decltype(column[0])>;
      if (wanted) column.Place(reinterpret_cast<T*>(base + offset), rows);
    };
    place(c_.stamp, at[0], true), place(c_.open, at[1], !ticks), place(c_.high, at[2], !ticks);
    place(c_.low, at[3], !ticks), place(c_.close, at[4], true), place(c_.volume, at[5], true);
    place(c_.amount, at[6], !ticks), place(c_.advancing, at[7], daily), place(c_.declining, at[8], daily);
    place(c_.flag, at[9], daily), place(c_.extra, at[10], ticks), place(c_.tickKind, at[11], ticks);
  }

  void Reserve(std::size_t rows) {
    c_.stamp.Reserve(rows);
    c_.close.Reserve(rows);
    c_.volume.Reserve(rows);
    if (kind_ == ViewKind::kTicks) {
      c_.extra.Reserve(rows);
      c_.tickKind.Reserve(rows);
      return;
    }
    for (Column<double>* column : {&c_.open, &c_.high, &c_.low, &c_.amount}) column->Reserve(rows);
    if (kind_ != ViewKind::kDaily) return;
    c_.advancing.Reserve(rows);
    c_.declining.Reserve(rows);
    c_.flag.Reserve(rows);
  }

  Columns& c_;
  std::size_t toCome_ = 1;
  Stamps stamps_;
};

// Securities read as one work item of ReadMany: the workers hand their
// results over this often.
constexpr std::size_t kBatch = 64;

// Writes a read's rows as the records of a structured array, with the values
// ColumnSink gives each column.
class RecordSink : public ScaledRowSink {
 public:
  explicit RecordSink(RecordRows& records) : r_(records) {}

  void Start(const DataView& view, std::size_t expectedRows) override {
    StartScaled(view);
    r_.fields.clear();
    r_.recordSize = 0;
    auto add = [this](const char* name, const char* format, std::size_t size) {
      r_.fields.push_back({name, format, r_.recordSize});
      r_.recordSize += size;
    };
    add(kind_ == ViewKind::kDaily ? "date" : "time", "M8[ns]", 8);
    if (kind_ == ViewKind::kTicks) {
      add("price", "f8", 8), add("volume", "i8", 8), add("extra", "i4", 4), add("kind", "u1", 1);
    } else {
      add("open", "f8", 8), add("high", "f8", 8), add("low", "f8", 8), add("close", "f8", 8);
      add("volume", "i8", 8), add("amount", "f8", 8);
      counts_ = kind_ == ViewKind::kDaily && view.index;
      if (counts_) add("advancing", "i4", 4), add("declining", "i4", 4);
      if (kind_ == ViewKind::kDaily) add("flag", "u1", 1);
    }
    r_.bytes.Reserve(expectedRows * r_.recordSize);
  }

  void Take(std::span<const ViewRow> rows) override {
    char* to = r_.bytes.Grow(rows.size() * r_.recordSize);
    r_.rows += rows.size();
    auto put = [&to](auto value) {
      std::memcpy(to, &value, sizeof value);
      to += sizeof value;
    };
    for (const ViewRow& row : rows) {
      if (kind_ == ViewKind::kTicks) {
        put(stamps_.Of(row.date, row.time, 1)), put(static_cast<double>(row.close) / scale_);
        put(row.volume), put(row.extra), put(row.tickKind);
        continue;
      }
      put(stamps_.Of(row.date, unit_ == 0 ? -1 : row.time, unit_));
      put(static_cast<double>(row.open) / scale_), put(static_cast<double>(row.high) / scale_);
      put(static_cast<double>(row.low) / scale_), put(static_cast<double>(row.close) / scale_);
      put(row.volume), put(row.amount);
      if (counts_) put(row.advancing), put(row.declining);
      if (kind_ == ViewKind::kDaily) put(static_cast<uint8_t>(row.flag));
    }
  }

 private:
  RecordRows& r_;
  bool counts_ = false;
  Stamps stamps_;
};

// Cuts every column back to `rows`.
void Cut(Columns& c, std::size_t rows) {
  c.Each([rows](auto& column) { column.Cut(rows); });
}

}  // namespace

std::optional<TreePlace> FindTree(const std::string& path, std::string* problem) {
  FileSystem& files = RealFileSystem();
  std::error_code error;
  if (path.empty()) {
    if (CurrentDirHoldsSettings(files)) {
      const std::string work = DirText(std::filesystem::current_path(error));
      return PlaceOf(work, SettingsIn(work, files));
    }
    const std::string work = UserWorkDirectory();
    if (work.empty() || !IsDir(work)) return Missing(work, problem);
    return PlaceOf(work, SettingsIn(work, files, kUserHistoryDir));
  }
  const std::string dir = DirText(std::filesystem::absolute(path, error));
  if (!IsDir(dir)) return Missing(path, problem);
  // Without a settings file the folder is the tree, read with the settings' defaults.
  const AppSettings settings = SettingsIn(dir, files);
  if (!files.Exists(DataLayout(dir, std::string()).SettingsFile())) return TreePlace{dir, settings.tckv4};
  return PlaceOf(dir, settings);
}

ReadResult TreeReader::Read(ViewKind kind, const std::string& stem, int first, int last) const {
  ReadResult result;
  Append(kind, stem, first, last, 1, result);
  if (result.failure != ReadFailure::kNone) result.columns = Columns{};
  return result;
}

ReadResult TreeReader::ReadRecords(ViewKind kind, const std::string& stem, int first, int last) const {
  ReadResult result;
  RecordSink sink(result.records);
  ReadInto(kind, stem, first, last, sink, result);
  if (result.failure != ReadFailure::kNone) result.records = RecordRows{};
  result.records.bytes.Shrink();
  return result;
}

void TreeReader::Append(ViewKind kind, const std::string& stem, int first, int last, std::size_t toCome,
                        ReadResult& result) const {
  ColumnSink sink(result.columns);
  sink.SetToCome(toCome);
  ReadInto(kind, stem, first, last, sink, result);
}

void TreeReader::ReadInto(ViewKind kind, const std::string& stem, int first, int last, ViewRowSink& sink,
                          ReadResult& result) const {
  const std::optional<SingleSecurity> security = ParseSingleSecurity(stem, true);
  if (!security) {
    result.failure = ReadFailure::kBadCode;
    result.message = kCodeFormatMessage;
    return;
  }
  const DataView view =
      ReadDataView(layout_, ViewRequest{security->market, security->code, kind, first, last, tckv4_}, sink);
  result.index = result.index || view.index;
  if (view.failed || view.truncated) {
    result.failure = view.missing ? ReadFailure::kMissing
                     : view.failed ? ReadFailure::kDamaged
                                   : ReadFailure::kTooManyRows;
    result.message = view.message;
  }
}

ReadResult TreeReader::ReadMany(ViewKind kind, std::vector<std::string>& stems, int first, int last, int workers,
                                bool listed) const {
  const std::size_t batches = (stems.size() + kBatch - 1) / kBatch;
  std::vector<ReadResult> each(batches);
  std::vector<std::vector<int32_t>> leftOut(batches);
  ReadResult all;
  // Each batch's columns join the whole as its turn comes, while the workers
  // read on, and are freed at once: few batches are held at any time.
  RunOrdered(
      batches, workers, [](std::size_t) {},
      [&](std::size_t batch, int) {
        each[batch] = ReadBatch(kind, stems, batch * kBatch, first, last, listed, &leftOut[batch]);
      },
      [&](std::size_t batch) {
        ReadResult one = std::move(each[batch]);
        if (all.failure != ReadFailure::kNone) return false;
        if (one.failure != ReadFailure::kNone) {
          all = std::move(one);
          all.columns = Columns{};
          return false;
        }
        all.index = all.index || one.index;
        Columns& to = all.columns;
        Columns& from = one.columns;
        if (batch == 0 && from.Size() > 0) {
          // Room for as many rows for each security as the first batch had:
          // the columns are then made once, and what stays unused is given
          // back without a page of it touched.
          const std::size_t read = std::min(stems.size(), kBatch);
          const std::size_t rows = from.Size() / read * stems.size() + from.Size();
          auto reserve = [rows](auto& to, auto& from) {
            if (from.size() > 0) to.Reserve(rows);
          };
          reserve(to.security, from.security), reserve(to.stamp, from.stamp), reserve(to.open, from.open);
          reserve(to.high, from.high), reserve(to.low, from.low), reserve(to.close, from.close);
          reserve(to.volume, from.volume), reserve(to.amount, from.amount), reserve(to.advancing, from.advancing);
          reserve(to.declining, from.declining), reserve(to.extra, from.extra), reserve(to.tickKind, from.tickKind);
          reserve(to.flag, from.flag);
        }
        to.security.Append(from.security), to.stamp.Append(from.stamp), to.open.Append(from.open);
        to.high.Append(from.high), to.low.Append(from.low), to.close.Append(from.close);
        to.volume.Append(from.volume), to.amount.Append(from.amount), to.advancing.Append(from.advancing);
        to.declining.Append(from.declining), to.extra.Append(from.extra), to.tickKind.Append(from.tickKind);
        to.flag.Append(from.flag);
        return true;
      });
  if (all.failure != ReadFailure::kNone) return all;
  all.columns.Each([](auto& column) { column.Shrink(); });
  std::vector<int32_t> gone;
  for (const std::vector<int32_t>& some : leftOut) gone.insert(gone.end(), some.begin(), some.end());
  if (!gone.empty()) {
    // The positions of the stems kept, by their position before.
    std::vector<int32_t> kept(stems.size(), 0);
    for (int32_t position : gone) kept[static_cast<std::size_t>(position)] = -1;
    std::vector<std::string> remaining;
    for (std::size_t i = 0; i < stems.size(); ++i)
      if (kept[i] == 0) {
        kept[i] = static_cast<int32_t>(remaining.size());
        remaining.push_back(std::move(stems[i]));
      }
    stems = std::move(remaining);
    Column<int32_t>& security = all.columns.security;
    for (std::size_t i = 0; i < security.size(); ++i) security[i] = kept[static_cast<std::size_t>(security[i])];
  }
  return all;
}

ReadResult TreeReader::ReadBatch(ViewKind kind, const std::vector<std::string>& stems, std::size_t begin, int first,
                                 int last, bool listed, std::vector<int32_t>* leftOut) const {
  ReadResult batch;
  const std::size_t end = std::min(stems.size(), begin + kBatch);
  for (std::size_t item = begin; item < end; ++item) {
    const std::size_t before = batch.columns.Size();
    Append(kind, stems[item], first, last, end - item, batch);
    if (batch.failure != ReadFailure::kNone) {
      const std::optional<SingleSecurity> security = ParseSingleSecurity(stems[item], true);
      if (!listed || !security || !ListedFileEmpty(layout_, kind, security->market, security->code)) return batch;
      // An empty file, which the listing names too: SecuritiesWithData leaves it out.
      Cut(batch.columns, before);
      batch.failure = ReadFailure::kNone;
      batch.message.clear();
      leftOut->push_back(static_cast<int32_t>(item));
      continue;
    }
    batch.columns.security.Fill(batch.columns.Size() - batch.columns.security.size(), static_cast<int32_t>(item));
  }
  return batch;
}

}  // namespace marbloom::python
