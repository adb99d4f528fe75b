#pragma once
// A security's index/data pair in the tick store: the one reader of a tick
// index, which judges the pair by one set of rules, and the writer of a new
// version of a pair.
//
// A pair is written one of three ways:
// - rewrite: a new version goes to the fixed-name temporaries "vid.tmp" and
//   "vtc.tmp" in the store and is renamed over the old files, data file
//   first. Each rename is atomic, so a crash leaves the old pair, the new
//   pair, or the new data file with the old index, which the check reports
//   as mismatched; never a security without its files.
// - append (days later than the last stored one): the new blocks go past the
//   end of the data file, then the index is replaced whole by a rename, which
//   is the commit. A crash before it leaves a data file longer than its index
//   covers: an uncommitted tail. The check reports it as mismatched, readers
//   read the committed days as before, and the next write of the pair cuts
//   the tail off first.
// - new (the pair holds nothing): both files are written at their final
//   names, the data file first and the index last. A crash before the index
//   is written leaves a data file without an index, or with an empty one:
//   nothing reads as data, and the next write starts the pair afresh.
// Only one writer per pair at a time (the tree's writer lock; workers take
// different pairs and temporaries of their own).
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
  // Nothing readable to lose: the data file is missing or empty and the index
  // is missing or opens, or the index is missing or empty (a new pair whose
  // index was never written) and the data file opens.
  bool DataAbsent() const { return dataAbsent_; }
  // The index is missing or empty and the data file missing or a regular
  // file: a pair never written, or a new one whose write was cut short.
  bool NothingWritten() const { return indexUnwritten_; }
  // Rules 1 to 8 hold, every block has a positive length, and the data file
  // is longer than the blocks the index lists: an append that was not
  // committed. Whether the listed blocks are what the index says is for the
  // caller to make sure of before cutting the tail.
  bool UncommittedTail() const {
    return state_ == TickPairState::kDataMismatch && blocksPositive_ && committedLength_ < dataLength_;
  }
  // The bytes the index's blocks take (the lengths summed).
  int64_t committedLength() const { return committedLength_; }

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
  bool indexUnwritten_ = true;
  bool blocksPositive_ = false;
  int64_t committedLength_ = 0;
  TickIndexHeader header_{};
  std::vector<TickIndexEntry> entries_;
  std::vector<int64_t> offsets_;
  File data_;
  int64_t dataLength_ = -1;
};

// Writes one pair (see the top of this file for the three ways) and puts it
// in place with ReplaceTickFiles. Days must be added in increasing date
// order, and appended ones after the pair's last day.
class TickPairWriter {
 public:
  // `worker` picks the temporaries: each worker of a run has its own.
  TickPairWriter(const DataLayout& layout, int32_t version, std::string_view stem, int worker = 0);

  // A rewrite: creates both temporaries (truncating). False leaves the old pair alone.
  bool Open();
  // An append to `pair` (usable, with days): its days stay where they are and
  // an uncommitted tail is cut off first. False leaves the pair alone.
  bool OpenAppend(const TickPair& pair);
  // A new pair at its final names, for a pair with NothingWritten.
  bool OpenNew();
  // One day and its stored block.
  void AddBlock(const TickIndexEntry& entry, const uint8_t* block, std::size_t size);
  // Old days [from, to) of `pair` with their blocks, copied as one run (rewrite only).
  void CopyOldDays(const TickPair& pair, std::size_t from, std::size_t to);
  int count() const { return static_cast<int>(entries_.size()); }
  bool failed() const { return failed_; }

  enum class WhenEmpty { kKeepOldPair, kRemoveOldPair };
  // Writes the header (version, first and last date, count) and the entries
  // and puts the pair in place: a rewrite renames both temporaries over the
  // old pair, data file first; an append renames the new index over the old
  // one; a new pair gets its index written last. Without any day a rewritten
  // old pair stays or goes as `whenEmpty` says and the temporaries are
  // removed; an append without a new day leaves the pair as it was (its tail
  // cut); a new pair without a day leaves no file. False after any failed
  // write, close or rename; the temporaries are then removed and the old pair
  // is left as the renames left it.
  bool ReplaceTickFiles(WhenEmpty whenEmpty);

 private:
  enum class Way { kRewrite, kAppend, kNew };
  bool WriteIndex(File& file);
  bool CommitAppend();
  bool CommitNew();

  DataLayout layout_;
  int32_t version_;
  std::string stem_;
  std::string indexTemp_, dataTemp_;
  Way way_ = Way::kRewrite;
  File indexFile_, dataFile_;
  std::vector<TickIndexEntry> entries_;
  std::size_t keptEntries_ = 0;     // an append: the pair's own days, already committed
  int64_t committedLength_ = 0;     // an append: the bytes of those days
  int64_t dataLength_ = 0;
  bool failed_ = false;
};

}  // namespace marbloom
