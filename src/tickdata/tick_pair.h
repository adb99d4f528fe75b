#pragma once
// A security's index/data pair as the rewriting operations see it: loading an
// old pair under the usable-pair rule, and writing a new version of it.
//
// A new version is written to the fixed-name temporaries "vid.tmp" and
// "vtc.tmp" in newtick/ and then renamed over the old files, data file first.
// Each rename is atomic, so a crash leaves the old pair, the new pair, or the
// new data file with the old index, which the check reports as mismatched;
// never a security without its files. Only one rewrite may run at a time.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "tickdata/tick_file.h"
#include "tickdata/tick_formats.h"

namespace marbloom {

enum class TickPairState {
  kUsable,        // both files, consistent lengths, every block inside the data file
  kAbsent,        // a file missing, a bad index length, or a header count that disagrees
  kInconsistent,  // passes the usable-pair rule, but a dataLength <= 0 or a block past the end
  kReadFailed,    // the files are there but could not be read
};

// The index of an old pair in memory; the data file stays open for copying.
struct TickPairIndex {
  TickIndexHeader header{};
  std::vector<TickIndexEntry> entries;
  std::vector<int64_t> offsets;  // start of each entry's block in the data file
  int64_t dataFileLength = 0;
  UniqueFd dataFile;
};

TickPairState LoadTickPair(std::string_view stem, TickPairIndex* pair);

// Writes the new version of one pair into the temporaries and then puts it
// in place with ReplaceTickFiles. Days must be added in increasing date order.
class TickPairWriter {
 public:
  explicit TickPairWriter(int32_t version) : version_(version) {}

  // Creates both temporaries (truncating). False leaves the old pair alone.
  bool Open();
  // One day and its stored block.
  void AddBlock(const TickIndexEntry& entry, const uint8_t* block, std::size_t size);
  // Old days [from, to) of `pair` with their blocks, copied as one run.
  void CopyOldDays(const TickPairIndex& pair, std::size_t from, std::size_t to);
  int count() const { return static_cast<int>(entries_.size()); }
  bool failed() const { return failed_; }

  enum class WhenEmpty { kKeepOldPair, kRemoveOldPair };
  // Writes the header (version, first and last date, count) and the entries,
  // closes both temporaries and renames them over the old pair, data file
  // first. Without any day the old pair stays or goes as `whenEmpty` says and
  // the temporaries are removed. After a write failure nothing is replaced
  // and false is returned.
  bool ReplaceTickFiles(std::string_view stem, WhenEmpty whenEmpty);

 private:
  int32_t version_;
  UniqueFd indexFile_, dataFile_;
  std::vector<TickIndexEntry> entries_;
  int64_t dataLength_ = 0;
  bool failed_ = false;
};

// Copies `length` bytes between two files in the kernel where it can.
bool CopyFileRange(int from, int64_t fromOffset, int to, int64_t toOffset, int64_t length);

}  // namespace marbloom
