#pragma once
// What the Python module reads a data tree with: where the tree is, and the
// records of one kind of one security or of many, as columns of real values,
// read through the data tab's reader (app/data_view.h), many securities on a
// few threads. Reads only, and never takes the writer lock.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
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

// A column of plain values in a malloc'd block of its own, which NumPy
// takes over (Release, then free), or in room of a block shared by the
// columns of one read (Place). Rows added are not zeroed first, and a large
// block of its own grows by realloc, which moves its pages rather than
// copying them.
template <typename T>
class Column {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  Column() = default;
  Column(Column&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)),
        owned_(std::exchange(other.owned_, true)) {}
  Column& operator=(Column&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    std::swap(owned_, other.owned_);
    return *this;
  }
  ~Column() {
    if (owned_) std::free(data_);
  }

  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](std::size_t i) { return data_[i]; }
  // The rows lie in a block of their own (else in one that Place gave).
  bool Owned() const { return owned_; }

  // Takes room for `rows` rows in a block another holds, while the column is empty.
  void Place(T* room, std::size_t rows) {
    if (owned_) std::free(data_);
    data_ = room;
    size_ = 0;
    capacity_ = rows;
    owned_ = false;
  }
  void Reserve(std::size_t rows) {
    if (rows <= capacity_) return;
    T* grown = static_cast<T*>(std::realloc(owned_ ? data_ : nullptr, rows * sizeof(T)));
    if (grown == nullptr) throw std::bad_alloc();
    if (!owned_ && size_ > 0) std::memcpy(grown, data_, size_ * sizeof(T));
    data_ = grown;
    capacity_ = rows;
    owned_ = true;
  }
  // `n` rows more, not yet written: the first of them.
  T* Grow(std::size_t n) {
    if (size_ + n > capacity_) Reserve(std::max(size_ + n, 2 * capacity_));
    T* added = data_ + size_;
    size_ += n;
    return added;
  }
  void Fill(std::size_t n, T value) { std::fill_n(Grow(n), n, value); }
  void Append(const Column& other) {
    if (other.size_ > 0) std::memcpy(Grow(other.size_), other.data_, other.size_ * sizeof(T));
  }
  void Cut(std::size_t rows) { size_ = std::min(size_, rows); }
  // Frees the room past the rows of a block of its own.
  void Shrink() {
    if (!owned_ || capacity_ == size_ || size_ == 0) return;
    if (T* shrunk = static_cast<T*>(std::realloc(data_, size_ * sizeof(T)))) {
      data_ = shrunk;
      capacity_ = size_;
    }
  }
  // Hands the rows over, and with a block of its own the block (to be freed
  // with free()); the column is then empty.
  T* Release() {
    size_ = capacity_ = 0;
    owned_ = true;
    return std::exchange(data_, nullptr);
  }

 private:
  T* data_ = nullptr;
  std::size_t size_ = 0, capacity_ = 0;
  bool owned_ = true;
};

// Records of one kind, one entry per row in every column the kind has.
struct Columns {
  Column<int32_t> security;  // position in the stems read (many securities)
  Column<int64_t> stamp;     // nanoseconds since 1970-01-01: the date, plus the bar's or tick's time
  Column<double> open, high, low, close;  // ticks: close alone, the price
  Column<int64_t> volume;                 // shares, lot forms resolved
  Column<double> amount;
  Column<int32_t> advancing, declining;  // daily lines; 0 but for an index
  Column<int32_t> extra;                 // ticks
  Column<uint8_t> tickKind;              // ticks
  Column<uint8_t> flag;                  // daily lines: RowFlag
  // The block that columns placed in one hold (one security's read): one
  // allocation, which the allocator keeps for the next read.
  std::shared_ptr<void> block;
  std::size_t Size() const { return stamp.size(); }

  // Calls f(column) for every column.
  template <typename F>
  void Each(F f) {
    f(security), f(stamp), f(open), f(high), f(low), f(close), f(volume);
    f(amount), f(advancing), f(declining), f(extra), f(tickKind), f(flag);
  }
};

// One security's records as the rows of a NumPy structured array: the
// fields packed one after the other, as NumPy lays out a list of fields.
struct RecordField {
  const char* name;
  const char* format;  // NumPy's: "M8[ns]", "f8", "i8", "i4", "u1"
  std::size_t offset;
};
struct RecordRows {
  std::vector<RecordField> fields;
  std::size_t recordSize = 0;
  std::size_t rows = 0;
  Column<char> bytes;  // rows x recordSize
};

enum class ReadFailure { kNone, kBadCode, kMissing, kDamaged, kTooManyRows };

struct ReadResult {
  Columns columns;
  RecordRows records;  // instead of the columns, when asked for
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
  // The same as the rows of a structured array, its fields those of the
  // columns in their order, the flag as its number.
  ReadResult ReadRecords(ViewKind kind, const std::string& stem, int first, int last) const;
  // Several securities' records, read on `workers` threads, one after the
  // other in the order of `stems`; the first failure ends the read. Stems
  // from SecuritiesListed (`listed`) whose file is empty are left out of
  // `stems`, which the security column then indexes.
  ReadResult ReadMany(ViewKind kind, std::vector<std::string>& stems, int first, int last, int workers,
                      bool listed = false) const;

 private:
  // One security's rows appended to result.columns; its failure, if any, and
  // whether it is an index go into `result`. `toCome`: the securities still
  // to be appended to these columns, this one included, to make room for.
  void Append(ViewKind kind, const std::string& stem, int first, int last, std::size_t toCome,
              ReadResult& result) const;
  // Reads one security into `sink`; the failure, if any, and whether it is
  // an index go into `result`.
  void ReadInto(ViewKind kind, const std::string& stem, int first, int last, ViewRowSink& sink,
                ReadResult& result) const;
  // The securities of one work item of ReadMany, from stems[begin] on, in one
  // set of columns, or the first failure; the positions of those left out.
  ReadResult ReadBatch(ViewKind kind, const std::vector<std::string>& stems, std::size_t begin, int first, int last,
                       bool listed, std::vector<int32_t>* leftOut) const;

  DataLayout layout_;
  int tckv4_;
};

}  // namespace marbloom::python
