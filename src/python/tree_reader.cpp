#include "python/tree_reader.h"

#include <algorithm>
#include <chrono>
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
// last date: the rows of a file come a day at a time.
class Stamps {
 public:
  // The date's midnight, plus `time` in `unit` seconds when time >= 0; kNoStamp
  // for a date the calendar does not know or a time past the day.
  int64_t Of(uint32_t date, int32_t time, int64_t unit) {
    if (date != date_) {
      date_ = date;
      midnight_ = IsCalendarDate(static_cast<int>(date)) ? DaysSince1970(date) * kSecondsPerDay * kNanosPerSecond
                                                         : kNoStamp;
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

  uint32_t date_ = 0;
  int64_t midnight_ = kNoStamp;
};

// A price column: each row's price in the view's units, as a real value.
// The quotient of two exact doubles is the double nearest to the real
// value, the same as reading the shown decimal text.
std::vector<double> Prices(const DataView& view, int64_t ViewRow::*price) {
  const double scale = static_cast<double>(PowerOfTen(view.decimals));
  std::vector<double> values(view.rows.size());
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>(view.rows[i].*price) / scale;
  return values;
}

template <typename T, typename Field>
std::vector<T> Each(const DataView& view, Field ViewRow::*field) {
  std::vector<T> values(view.rows.size());
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<T>(view.rows[i].*field);
  return values;
}

// Bars' and ticks' stamps: the date plus the time in `unit` seconds (daily
// lines: unit 0, the date alone).
std::vector<int64_t> StampsOf(const DataView& view, int64_t unit) {
  Stamps stamps;
  std::vector<int64_t> values(view.rows.size());
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = stamps.Of(view.rows[i].date, unit == 0 ? -1 : view.rows[i].time, unit);
  return values;
}

void AppendBars(const DataView& view, Columns& c) {
  const bool daily = view.request.kind == ViewKind::kDaily;
  c.stamp = StampsOf(view, daily ? 0 : 60);
  c.open = Prices(view, &ViewRow::open);
  c.high = Prices(view, &ViewRow::high);
  c.low = Prices(view, &ViewRow::low);
  c.close = Prices(view, &ViewRow::close);
  c.volume = Each<int64_t>(view, &ViewRow::volume);
  c.amount = Each<double>(view, &ViewRow::amount);
  if (!daily) return;
  c.advancing = Each<int32_t>(view, &ViewRow::advancing);
  c.declining = Each<int32_t>(view, &ViewRow::declining);
  c.flag = Each<uint8_t>(view, &ViewRow::flag);
}

void AppendTicks(const DataView& view, Columns& c) {
  c.stamp = StampsOf(view, 1);
  c.close = Prices(view, &ViewRow::close);
  c.volume = Each<int64_t>(view, &ViewRow::volume);
  c.extra = Each<int32_t>(view, &ViewRow::extra);
  c.tickKind = Each<uint8_t>(view, &ViewRow::tickKind);
}

// Securities read as one work item of ReadMany: the workers hand their
// results over this often.
constexpr std::size_t kBatch = 64;

template <typename T>
void Gather(std::vector<Columns>& parts, std::vector<T> Columns::*field, Columns& all) {
  std::size_t total = 0;
  for (const Columns& part : parts) total += (part.*field).size();
  std::vector<T>& to = all.*field;
  to.reserve(to.size() + total);
  for (Columns& part : parts) {
    to.insert(to.end(), (part.*field).begin(), (part.*field).end());
    std::vector<T>().swap(part.*field);
  }
}

// The parts one after the other, each column allocated once; the columns
// are gathered on `workers` threads.
Columns Concatenate(std::vector<Columns>& parts, int workers) {
  Columns all;
  using C = Columns;
  const std::vector<std::function<void()>> gathers = {
      [&] { Gather(parts, &C::security, all); }, [&] { Gather(parts, &C::stamp, all); },
      [&] { Gather(parts, &C::open, all); },     [&] { Gather(parts, &C::high, all); },
      [&] { Gather(parts, &C::low, all); },      [&] { Gather(parts, &C::close, all); },
      [&] { Gather(parts, &C::volume, all); },   [&] { Gather(parts, &C::amount, all); },
      [&] { Gather(parts, &C::advancing, all); }, [&] { Gather(parts, &C::declining, all); },
      [&] { Gather(parts, &C::extra, all); },    [&] { Gather(parts, &C::tickKind, all); },
      [&] { Gather(parts, &C::flag, all); }};
  RunOrdered(
      gathers.size(), workers, [](std::size_t) {}, [&](std::size_t item, int) { gathers[item](); },
      [](std::size_t) { return true; });
  return all;
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
  const std::optional<SingleSecurity> security = ParseSingleSecurity(stem, true);
  if (!security) {
    result.failure = ReadFailure::kBadCode;
    result.message = kCodeFormatMessage;
    return result;
  }
  const DataView view = ReadDataView(layout_, ViewRequest{security->market, security->code, kind, first, last, tckv4_});
  result.index = view.index;
  if (view.failed || view.truncated) {
    result.failure = view.missing ? ReadFailure::kMissing
                     : view.failed ? ReadFailure::kDamaged
                                   : ReadFailure::kTooManyRows;
    result.message = view.message;
    return result;
  }
  if (kind == ViewKind::kTicks)
    AppendTicks(view, result.columns);
  else
    AppendBars(view, result.columns);
  return result;
}

ReadResult TreeReader::ReadMany(ViewKind kind, const std::vector<std::string>& stems, int first, int last,
                                int workers) const {
  const std::size_t batches = (stems.size() + kBatch - 1) / kBatch;
  std::vector<Batch> each(batches);
  std::vector<Columns> parts;
  ReadResult all;
  RunOrdered(
      batches, workers, [](std::size_t) {},
      [&](std::size_t batch, int) { each[batch] = ReadBatch(kind, stems, batch * kBatch, first, last); },
      [&](std::size_t batch) {
        Batch& one = each[batch];
        if (all.failure != ReadFailure::kNone) return false;
        if (one.failure.failure != ReadFailure::kNone) {
          all = std::move(one.failure);
          return false;
        }
        all.index = all.index || one.index;
        std::move(one.parts.begin(), one.parts.end(), std::back_inserter(parts));
        one = Batch{};
        return true;
      });
  if (all.failure == ReadFailure::kNone) all.columns = Concatenate(parts, workers);
  return all;
}

TreeReader::Batch TreeReader::ReadBatch(ViewKind kind, const std::vector<std::string>& stems, std::size_t begin,
                                        int first, int last) const {
  Batch batch;
  for (std::size_t item = begin; item < std::min(stems.size(), begin + kBatch); ++item) {
    ReadResult one = Read(kind, stems[item], first, last);
    if (one.failure != ReadFailure::kNone) {
      batch.failure = std::move(one);
      return batch;
    }
    one.columns.security.assign(one.columns.Size(), static_cast<int32_t>(item));
    batch.index = batch.index || one.index;
    batch.parts.push_back(std::move(one.columns));
  }
  return batch;
}

}  // namespace marbloom::python
