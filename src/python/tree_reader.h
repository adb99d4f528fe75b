#pragma once
// What the Python module reads a data tree with: where the tree is, and the
// records of one kind of one security or of many, as columns of real values,
// read through the data tab's reader (app/data_view.h), many securities on a
// few threads. Reads only, and never takes the writer lock.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/data_view.h"
#include "common/data_layout.h"

namespace marbloom::python {

// Where the tree of `path` is: a folder holding marbloom.ini is a work
// directory (its VIPDOC, relative to it, and its TCKV4), any other folder the
// history directory itself; an empty path is the work directory marbloom-cli
// takes without -C. Nothing is created or written. nullopt and `problem` when
// the folder does not exist.
struct TreePlace {
  std::string historyDir;  // absolute, trailing '/'
  int tckv4 = 1;
};
std::optional<TreePlace> FindTree(const std::string& path, std::string* problem);

// A stamp that is no time: the date (or time of day) is not on the calendar.
inline constexpr int64_t kNoStamp = std::numeric_limits<int64_t>::min();

// Records of one kind, one entry per row in every column the kind has.
struct Columns {
  std::vector<int32_t> security;  // position in the stems read (many securities)
  std::vector<int64_t> stamp;     // nanoseconds since 1970-01-01: the date, plus the bar's or tick's time
  std::vector<double> open, high, low, close;  // ticks: close alone, the price
  std::vector<int64_t> volume;                 // shares, lot forms resolved
  std::vector<double> amount;
  std::vector<int32_t> advancing, declining;  // daily lines; 0 but for an index
  std::vector<int32_t> extra;                 // ticks
  std::vector<uint8_t> tickKind;              // ticks
  std::vector<uint8_t> flag;                  // daily lines: RowFlag
  std::size_t Size() const { return stamp.size(); }
};

enum class ReadFailure { kNone, kBadCode, kMissing, kDamaged, kTooManyRows };

struct ReadResult {
  Columns columns;
  bool index = false;  // one security read: an index (daily rows carry advancing/declining)
  ReadFailure failure = ReadFailure::kNone;
  std::string message;  // why, as the data tab says it
};

class TreeReader {
 public:
  TreeReader(DataLayout layout, int tckv4) : layout_(std::move(layout)), tckv4_(tckv4) {}

  const DataLayout& Layout() const { return layout_; }
  int Tckv4() const { return tckv4_; }

  // One security's records of [first, last] (0 leaves an end open).
  ReadResult Read(ViewKind kind, const std::string& stem, int first, int last) const;
  // Several securities' records, read on `workers` threads, one after the
  // other in the order of `stems`; the first failure ends the read.
  ReadResult ReadMany(ViewKind kind, const std::vector<std::string>& stems, int first, int last, int workers) const;

 private:
  // The securities of one work item of ReadMany, from stems[begin] on: each
  // one's columns, or the first failure.
  struct Batch {
    std::vector<Columns> parts;
    bool index = false;
    ReadResult failure;
  };
  Batch ReadBatch(ViewKind kind, const std::vector<std::string>& stems, std::size_t begin, int first,
                  int last) const;

  DataLayout layout_;
  int tckv4_;
};

}  // namespace marbloom::python
