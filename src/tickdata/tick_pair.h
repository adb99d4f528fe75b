#pragma once
// A security's index/data pair in the tick store: the one reader of a tick
// index, which judges the pair by one set of rules, and the writer of a new
// version of a pair.
//
// A new version is written to the fixed-name temporaries "vid.tmp" and
// "vtc.tmp" in the store and then renamed over the old files, data file
// first. Each rename is atomic, so a crash leaves the old pair, the new pair,
// or the new data file with the old index, which the check reports as
// mismatched; never a security without its files. Only one rewrite may run
// at a time (the tree's writer lock).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_system.h"
#include "common/data_layout.h"
#include "tickdata/tick_formats.h"

namespace marbloom {

// How a pair stands. The rules are tried in this order and the first that
// fails decides; every reader of the store goes by this one judgement.
enum class TickPairState {
  kSound,
  kNotOpened,       // 1: a file does not open
  kBadLength,       // 2: index shorter than its header, data file empty, or entries not whole
  kTooLarge,        // 3: an index no real file has; nothing is allocated for it
  kUnreadable,      // 4: the index does not read
  kCountMismatch,   // 5: header count not positive, or not the number of entries
  kBadHeaderDates,  // 6: header dates not positive, reversed, or not around the entries
  kBadEntry,        // 7: an entry with unpackedLength <= 0 or a date outside the header's
  kOutOfOrder,      // 8: an entry not later than the one before it
  kDataMismatch,    // 9: the stored lengths do not add up to the data file's length
};

// Rules 1 to 5 hold: the entries can be read, whatever rules 6 to 9 say.
inline bool TickPairIsWhole(TickPairState state) {
  return state == TickPairState::kSound || state >= TickPairState::kBadHeaderDates;
}

// The check's message for a state, "%s" standing for the stem; null for kSound.
const char* TickPairMessage(TickPairState state);

// The index of a pair in memory, judged, with its data file open for reading
// blocks. The entries are loaded whenever rules 1 to 5 hold.
class TickPair {
 public:
  TickPairState Load(const DataLayout& layout, std::string_view stem);

  TickPairState state() const { return state_; }
  // Rules 1 to 5 hold: every entry is in memory with the place of its block.
  bool Whole() const { return TickPairIsWhole(state_); }
  // Sound, and every block has a positive length: what a rewrite may copy from.
  bool Rewritable() const { return state_ == TickPairState::kSound && blocksPositive_; }
  // The data file is missing or empty, and the index is missing or opens:
  // the pair holds nothing to lose.
  bool DataAbsent() const { return dataAbsent_; }

  const TickIndexHeader& header() const { return header_; }
  const std::vector<TickIndexEntry>& entries() const { return entries_; }
  // Where entry k's block starts in the data file (the lengths before it summed).
  int64_t BlockOffset(std::size_t k) const { return offsets_[k]; }
  const File& dataFile() const { return data_; }
  int64_t dataLength() const { return dataLength_; }

 private:
  TickPairState Judge(const File& index);

  TickPairState state_ = TickPairState::kNotOpened;
  bool dataAbsent_ = true;
  bool blocksPositive_ = false;
  TickIndexHeader header_{};
  std::vector<TickIndexEntry> entries_;
  std::vector<int64_t> offsets_;
  File data_;
  int64_t dataLength_ = -1;
};

// Writes the new version of one pair into the temporaries and then puts it
// in place with ReplaceTickFiles. Days must be added in increasing date order.
class TickPairWriter {
 public:
  TickPairWriter(const DataLayout& layout, int32_t version);

  // Creates both temporaries (truncating). False leaves the old pair alone.
  bool Open();
  // One day and its stored block.
  void AddBlock(const TickIndexEntry& entry, const uint8_t* block, std::size_t size);
  // Old days [from, to) of `pair` with their blocks, copied as one run.
  void CopyOldDays(const TickPair& pair, std::size_t from, std::size_t to);
  int count() const { return static_cast<int>(entries_.size()); }
  bool failed() const { return failed_; }

  enum class WhenEmpty { kKeepOldPair, kRemoveOldPair };
  // Writes the header (version, first and last date, count) and the entries,
  // closes both temporaries and renames them over the old pair, data file
  // first. Without any day the old pair stays or goes as `whenEmpty` says and
  // the temporaries are removed. False after any failed write, close or
  // rename; the temporaries are then removed and the old pair is left as the
  // renames left it.
  bool ReplaceTickFiles(std::string_view stem, WhenEmpty whenEmpty);

 private:
  DataLayout layout_;
  int32_t version_;
  File indexFile_, dataFile_;
  std::vector<TickIndexEntry> entries_;
  int64_t dataLength_ = 0;
  bool failed_ = false;
};

}  // namespace marbloom
