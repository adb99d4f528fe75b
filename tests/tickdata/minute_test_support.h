#pragma once
// Helpers of the minute-line tests: ticks, day blocks, minute files and a
// recorder of status lines.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/file_helpers.h"
#include "common/data_layout.h"
#include "common/shared_state.h"
#include "support/temp_dir.h"
#include "tickdata/minute_bar.h"
#include "tickdata/minute_files.h"
#include "tickdata/tick_formats.h"
#include "tickdata/tick_reader.h"

namespace marbloom::test {

inline TickRecord Tick(int hour, int minute, int second, int32_t price, int32_t volume) {
  TickRecord t{};
  t.minute = static_cast<int16_t>(hour * 60 + minute);
  t.second = static_cast<uint8_t>(second);
  t.price = price;
  t.volume = volume;
  return t;
}

// `days` blocks of `barsPerDay` bars, each dated by `dates` and marked by
// `marker` in every bar's open.
inline std::vector<MinuteBar> MakeDays(const std::vector<int>& dates, int barsPerDay, int marker = 1) {
  std::vector<MinuteBar> bars(dates.size() * static_cast<std::size_t>(barsPerDay));
  for (std::size_t d = 0; d < dates.size(); ++d)
    for (int i = 0; i < barsPerDay; ++i) {
      MinuteBar& bar = bars[d * static_cast<std::size_t>(barsPerDay) + static_cast<std::size_t>(i)];
      bar = MinuteBar{};
      bar.packedDate = PackMinuteDate(dates[d]);
      bar.time = static_cast<uint16_t>(i);
      bar.open = marker;
      bar.close = 1000 + i;
    }
  return bars;
}

// Consecutive weekdays from `first`.
inline std::vector<int> Weekdays(int first, int count) {
  std::vector<int> dates;
  int y = first / 10000, m = first / 100 % 100, d = first % 100;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int weekday = 0;  // counted from `first`, which the callers pick as a Monday
  while (static_cast<int>(dates.size()) < count) {
    if (weekday % 7 < 5) dates.push_back(y * 10000 + m * 100 + d);
    ++weekday;
    int monthDays = kDays[m - 1] + (m == 2 && y % 4 == 0 && (y % 100 != 0 || y % 400 == 0) ? 1 : 0);
    if (++d > monthDays) {
      d = 1;
      if (++m > 12) m = 1, ++y;
    }
  }
  return dates;
}

inline void WriteBars(const std::string& path, const std::vector<MinuteBar>& bars) {
  std::vector<uint8_t> bytes(bars.size() * sizeof(MinuteBar));
  if (!bytes.empty()) std::memcpy(bytes.data(), bars.data(), bytes.size());
  WriteFileBytes(path, bytes);
}

inline std::vector<MinuteBar> ReadBars(const std::string& path) {
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  std::vector<MinuteBar> bars(bytes.size() / sizeof(MinuteBar));
  if (!bars.empty()) std::memcpy(bars.data(), bytes.data(), bars.size() * sizeof(MinuteBar));
  return bars;
}

// The block dates of a run of bars.
inline std::vector<int> DayDates(const std::vector<MinuteBar>& bars, int barsPerDay) {
  std::vector<int> dates;
  for (std::size_t i = 0; i < bars.size(); i += static_cast<std::size_t>(barsPerDay))
    dates.push_back(UnpackMinuteDate(bars[i].packedDate));
  return dates;
}

// A tick pair listing `dates`, each day a block of 42 zero bytes (what a
// fake tick source reads instead does not matter).
inline void WriteTickIndex(const DataLayout& layout, const std::string& stem, const std::vector<int>& dates) {
  std::vector<uint8_t> bytes(sizeof(TickIndexHeader) + dates.size() * sizeof(TickIndexEntry));
  TickIndexHeader header{2, dates.empty() ? 0 : dates.front(), dates.empty() ? 0 : dates.back(),
                         static_cast<int32_t>(dates.size())};
  std::memcpy(bytes.data(), &header, sizeof header);
  for (std::size_t i = 0; i < dates.size(); ++i) {
    TickIndexEntry entry{dates[i], 42, 42, 10.0, 2, 0};
    std::memcpy(bytes.data() + sizeof header + i * sizeof entry, &entry, sizeof entry);
  }
  MakeDirTree(layout.Files(), layout.TickStoreDir(), 0);
  WriteFileBytes(layout.TickIndexFile(stem), bytes);
  WriteFileBytes(layout.TickDataFile(stem), std::vector<uint8_t>(42 * dates.size()));
}

// Every status line the live TestTree showed since the recorder was made.
class StatusRecorder {
 public:
  StatusRecorder() { TakeStatusLines(); }
  const std::vector<std::string>& Lines() {
    for (std::string& line : TakeStatusLines()) lines_.push_back(std::move(line));
    return lines_;
  }
  bool Saw(const std::string& line) { return std::find(Lines().begin(), Lines().end(), line) != Lines().end(); }

 private:
  std::vector<std::string> lines_;
};

}  // namespace marbloom::test
