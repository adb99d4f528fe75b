#pragma once
// The undo journal of a data tree, as it lies in the tree's hidden folder
// (DataLayout::UndoDir()):
//
//   <id>.run    one run's manifest, text lines:
//                 "marbloom-undo 1"
//                 "id\t<id>", "time\t<seconds since 1970>", "operation\t<text>",
//                 "arguments\t<text>", "tree\t<history directory>"
//               then one line per file the run touched, written before the change:
//                 "created\t<place>\t-\t-\t<path>"           undo removes it
//                 "grown\t<place>\t<length>\t-\t<path>"      undo cuts it back to <length>
//                 "saved\t<place>\t<length>\t<n>\t<path>"    undo puts back the first <length>
//                                                            bytes of <id>.<n> (-1: all of it)
//               <place> is "T" for a path inside the tree (relative to it) and
//               "O" for one outside it (as the run named it). A later line for
//               a path replaces an earlier one: it keeps the same old state
//               more completely.
//   <id>.<n>    an old file kept for the run: a hard link or a copy
//   limits      the bounds, once the user changed them: "runs\t<n>" and "bytes\t<n>"
//
// Texts are escaped so that every field stays on its line ('\\', '\t', '\n').
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/data_layout.h"

namespace marbloom {

struct JournalEntry {
  enum class Kind { kCreated, kGrown, kSaved };
  Kind kind = Kind::kCreated;
  bool outsideTree = false;
  int64_t length = -1;  // kGrown: the old length; kSaved: the bytes to put back, -1 all
  int store = 0;        // kSaved: the number of the kept file
  std::string path;     // relative to the tree, or as named when outside it
};

struct JournalRun {
  int id = 0;
  int64_t time = 0;
  std::string operation, arguments, tree;
  std::vector<JournalEntry> entries;  // one per path, in the order first touched
  int64_t bytes = 0;                  // the kept files' bytes
};

inline constexpr int kJournalVersion = 1;

std::string JournalRunFile(const DataLayout& layout, int id);
std::string JournalStoreFile(const DataLayout& layout, int id, int store);
// The file an entry names, as the run's files reach it.
std::string EntryPath(const DataLayout& layout, const JournalEntry& entry);

std::string JournalHeader(const JournalRun& run);
std::string JournalLine(const JournalEntry& entry);

// Every run of the journal, newest first; a manifest that cannot be read is
// skipped.
std::vector<JournalRun> ReadJournal(const DataLayout& layout);
std::optional<JournalRun> ReadJournalRun(const DataLayout& layout, int id);
// One past the highest run any file of the journal belongs to.
int NextJournalRunId(const DataLayout& layout);

// How much of the past the journal keeps: the last `runs` runs and at most
// `bytes` of kept files, the oldest runs dropped first.
struct JournalLimits {
  int runs = 20;
  int64_t bytes = int64_t{2} << 30;
};
JournalLimits ReadJournalLimits(const DataLayout& layout);
bool WriteJournalLimits(const DataLayout& layout, const JournalLimits& limits);
// Drops the oldest runs until the journal is within its limits; the newest
// run always stays, so that the last operation can be taken back.
void PruneJournal(const DataLayout& layout);

// "1.5G", "300M", "64K" or plain bytes; nullopt for anything else.
std::optional<int64_t> ParseByteSize(const std::string& text);
// The local time of a run, "YYYY-MM-DD HH:MM:SS".
std::string JournalTimeText(int64_t time);

}  // namespace marbloom
