#include "python/tree_reader.h"

#include <filesystem>
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
      const int day = IsCalendarDate(static_cast<int>(date)) ? DateToDayNumber(static_cast<int>(date)) : 0;
      midnight_ = day == 0 ? kNoStamp : int64_t{day - epoch_} * kSecondsPerDay * kNanosPerSecond;
    }
    if (midnight_ == kNoStamp || time < 0) return midnight_;
    if (time * unit >= kSecondsPerDay) return kNoStamp;
    return midnight_ + time * unit * kNanosPerSecond;
  }

 private:
  int epoch_ = DateToDayNumber(19700101);
  uint32_t date_ = 0;
  int64_t midnight_ = kNoStamp;
};

void AppendBars(const DataView& view, Columns& c) {
  const double scale = static_cast<double>(PowerOfTen(view.decimals));
  const bool daily = view.request.kind == ViewKind::kDaily;
  const std::size_t n = view.rows.size();
  for (auto* column : {&c.open, &c.high, &c.low, &c.close, &c.amount}) column->reserve(n);
  c.stamp.reserve(n);
  c.volume.reserve(n);
  Stamps stamps;
  for (const ViewRow& row : view.rows) {
    c.stamp.push_back(stamps.Of(row.date, daily ? -1 : row.time, 60));
    c.open.push_back(static_cast<double>(row.open) / scale);
    c.high.push_back(static_cast<double>(row.high) / scale);
    c.low.push_back(static_cast<double>(row.low) / scale);
    c.close.push_back(static_cast<double>(row.close) / scale);
    c.volume.push_back(row.volume);
    c.amount.push_back(row.amount);
    if (!daily) continue;
    c.advancing.push_back(row.advancing);
    c.declining.push_back(row.declining);
    c.flag.push_back(static_cast<uint8_t>(row.flag));
  }
}

void AppendTicks(const DataView& view, Columns& c) {
  const double scale = static_cast<double>(PowerOfTen(view.decimals));
  const std::size_t n = view.rows.size();
  c.stamp.reserve(n);
  c.close.reserve(n);
  c.volume.reserve(n);
  c.extra.reserve(n);
  c.tickKind.reserve(n);
  Stamps stamps;
  for (const ViewRow& row : view.rows) {
    c.stamp.push_back(stamps.Of(row.date, row.time, 1));
    c.close.push_back(static_cast<double>(row.close) / scale);
    c.volume.push_back(row.volume);
    c.extra.push_back(row.extra);
    c.tickKind.push_back(row.tickKind);
  }
}

template <typename T>
void Extend(std::vector<T>& to, std::vector<T>& from) {
  if (to.empty()) {
    to.swap(from);
    return;
  }
  to.insert(to.end(), from.begin(), from.end());
}

void Extend(Columns& to, Columns& from) {
  Extend(to.security, from.security);
  Extend(to.stamp, from.stamp);
  Extend(to.open, from.open);
  Extend(to.high, from.high);
  Extend(to.low, from.low);
  Extend(to.close, from.close);
  Extend(to.volume, from.volume);
  Extend(to.amount, from.amount);
  Extend(to.advancing, from.advancing);
  Extend(to.declining, from.declining);
  Extend(to.extra, from.extra);
  Extend(to.tickKind, from.tickKind);
  Extend(to.flag, from.flag);
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
  std::vector<ReadResult> each(stems.size());
  ReadResult all;
  RunOrdered(
      stems.size(), workers, [](std::size_t) {},
      [&](std::size_t item, int) {
        each[item] = Read(kind, stems[item], first, last);
        each[item].columns.security.assign(each[item].columns.Size(), static_cast<int32_t>(item));
      },
      [&](std::size_t item) {
        ReadResult& one = each[item];
        if (all.failure != ReadFailure::kNone) return false;
        if (one.failure != ReadFailure::kNone) {
          all.failure = one.failure;
          all.message = std::move(one.message);
          return false;
        }
        all.index = all.index || one.index;
        Extend(all.columns, one.columns);
        one = ReadResult{};
        return true;
      });
  if (all.failure != ReadFailure::kNone) all.columns = Columns{};
  return all;
}

}  // namespace marbloom::python
