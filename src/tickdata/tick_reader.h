#pragma once
// Reading the tick store back: one day of one security, and the directory of
// a daily tick archive.
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "tickdata/tick_file.h"

namespace marbloom {

// One decoded tick.
struct TickRecord {
  int16_t minute;  // seconds / 60
  int32_t price;   // in 0.0001 currency units
  int32_t volume;  // low 32 bits
  int32_t extra;   // running extra value (types 12, 14, 60, 62) or the plain value
  uint8_t kind;    // 0, 1 or 2
  uint8_t second;  // seconds % 60
};

struct TickDay {
  int32_t date = 0;
  double refPrice = 0;
  std::vector<TickRecord> ticks;
};

// One security's block in a daily tick archive.
struct TickArchiveItem {
  int16_t market = 0;
  char code[7] = {};  // six characters and a terminator
  int32_t date = 0;
  int64_t blockOffset = 0;  // absolute offset of the stored block
  int32_t dataLength = 0;
  double refPrice = 0;
  int32_t unpackedLength = 0;
  uint8_t priceDecimals = 0;
  uint8_t spare = 0;
};

// A loaded archive: the open file and its directory in file order.
struct TickArchive {
  UniqueFd file;
  int32_t date = 0;
  int32_t securityCount = 0;
  std::vector<TickArchiveItem> directory;
};

// Stateless reader of the tick store under the history directory.
class TickReader {
 public:
  // The decoded ticks of `date`, or nothing when the day cannot be read
  // (missing files, bad header, date absent, lengths past the data file,
  // a malformed block). Never a day without ticks.
  std::optional<TickDay> ReadTickDay(int market, std::string_view code, int date) const;

  // The archive of `date` with its directory, or nothing when the file is
  // missing or any entry is bad (wrong date, lengths <= 0, a block running
  // past the end of the file).
  std::optional<TickArchive> LoadTickArchive(int date) const;
};

// The ticks of one day as TickSecurityReader hands them out: they live in the
// reader and stay valid until its next ReadDay or Open.
struct TickDayView {
  int32_t date = 0;
  double refPrice = 0;
  const TickRecord* ticks = nullptr;
  std::size_t count = 0;
};

// Reads one security's days one after another: the index is read once, the
// data file stays open, and the buffers are reused from day to day. Each day
// reads exactly as TickReader::ReadTickDay reads it.
class TickSecurityReader {
 public:
  TickSecurityReader();
  ~TickSecurityReader();
  TickSecurityReader(const TickSecurityReader&) = delete;
  TickSecurityReader& operator=(const TickSecurityReader&) = delete;

  // Opens the security's pair and reads its index; false when the index
  // cannot be read at all. A missing data file fails every day, not Open.
  bool Open(int market, std::string_view code);

  // The entry dates in file order, when the index is whole: a 16-byte
  // header, whole 22-byte entries, and a header count that agrees with them.
  const std::optional<std::vector<int32_t>>& IndexDates() const { return dates_; }

  // The day of `date` (the first entry of that date), or false when it
  // cannot be read.
  bool ReadDay(int date, TickDayView* day);

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::optional<std::vector<int32_t>> dates_;
};

}  // namespace marbloom
