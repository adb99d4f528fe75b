#pragma once
// The undo journal of a data tree, as it lies in the tree's hidden folder
// (DataLayout::UndoDir()), which must be a real folder of the tree, never a
// link:
//
//   <id>.run    one run's manifest, text lines:
//                 "marbloom-undo 1"
//                 "id\t<id>", "time\t<seconds since 1970>", "operation\t<text>",
//                 "arguments\t<text>", "tree\t<the history directory's real folder>"
//                 and for a run that moves files out of another tree (a merge)
//                 "source\t<that tree's real folder>"
//               then one line per file the run touched (or named to it as about to
//               change, which a run killed may leave unchanged; at a run's end the
//               manifest is written again without those), on disk before the change:
//                 "created\t<place>\t-\t-\t<path>"           undo removes it
//                 "grown\t<place>\t<length>\t-\t<path>"      undo cuts it back to <length>
//                 "saved\t<place>\t<length>\t<n>\t<path>"    undo puts back the first <length>
//                                                            bytes of <id>.<n> (-1: all of it)
//               <place> is "T" for a path inside the tree, relative to it, and
//               "O" for one inside the source tree, absolute (the source's
//               folder followed by the path inside it; "saved" or "created"). A later line for a
//               path replaces an earlier one: it keeps the same old state
//               more completely.
//   <id>.<n>    an old file kept for the run: a hard link or a copy
//   limits      the bounds, once the user changed them: "runs\t<n>" and "bytes\t<n>"
//               (written through limits.tmp)
//
// Run ids and store numbers are decimal, without leading zeros, from 1 to
// kMaxJournalRunId; any other name in the folder is not the journal's and is
// never read, counted or removed.
//
// A manifest is input like any other file of the tree (the tree may come from
// a backup disk or another machine). An undo takes a run back only when the
// tree it names is the tree being undone (the same real folder) and every
// path stays where the journal writes paths: inside the tree, relative, with
// no empty, "." or ".." part, outside the journal's folder and the lock file,
// in a folder that no link leads out of the tree; or inside the source named
// in the header by the same rules. Otherwise nothing at all is put back.
//
// Nothing records the source tree's files after the run; what the run left
// there follows from the journal. A merge moves files out of it and leaves
// nothing at their paths; an undo of a merge leaves there the files the merge
// had kept. An undo goes ahead, unless forced, only when each of the run's
// source paths holds what the run left there or what the undo puts there
// (an undo cut short, a move that failed); anything else is later work in
// that tree.
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
  std::string source;  // the tree files were moved out of, or empty
  std::vector<JournalEntry> entries;  // one per path, in the order first touched
  int64_t bytes = 0;                  // the kept files' bytes
};

inline constexpr int kJournalVersion = 1;
inline constexpr int kMaxJournalRunId = 999'999'999;

// The operation an undo of run `id` is journalled as, and the run an
// operation of that form takes back (0 for any other operation).
std::string UndoOperationName(int id);
int UndoneRunOf(const std::string& operation);

std::string JournalRunFile(const DataLayout& layout, int id);
std::string JournalStoreFile(const DataLayout& layout, int id, int store);
// The file an entry names, as the run's files reach it.
std::string EntryPath(const DataLayout& layout, const JournalEntry& entry);

std::string JournalHeader(const JournalRun& run);
std::string JournalLine(const JournalEntry& entry);

// Whether the journal's folder is missing or a real folder of the tree; a
// link or anything else there is never read, written or emptied.
bool JournalFolderSound(const DataLayout& layout);

// Why run `run` must not be taken back in the tree of `layout`, as the
// message to show; empty when its manifest is sound.
std::string JournalRunProblem(const DataLayout& layout, const JournalRun& run);

// Every run of the journal, newest first; a manifest that cannot be read is
// skipped.
std::vector<JournalRun> ReadJournal(const DataLayout& layout);
std::optional<JournalRun> ReadJournalRun(const DataLayout& layout, int id);
// One past the highest run any file of the journal belongs to (above
// kMaxJournalRunId when the journal is full).
int NextJournalRunId(const DataLayout& layout);

// How much of the past the journal keeps: the last `runs` runs and at most
// `bytes` of kept files, the oldest runs dropped first.
struct JournalLimits {
  int runs = 20;
  int64_t bytes = int64_t{2} << 30;
};
JournalLimits ReadJournalLimits(const DataLayout& layout);
bool WriteJournalLimits(const DataLayout& layout, const JournalLimits& limits);
// Drops the oldest runs until the journal is within its limits, under the
// tree's writer lock (false, dropping nothing, when another process holds
// it). The newest run always stays, so that the last operation can be taken
// back, and so does the run it undoes, so that an undo cut short can be
// finished.
bool PruneJournal(const DataLayout& layout);
// The bytes of the journal's files (manifests and kept files).
int64_t JournalBytes(const DataLayout& layout);
// Drops every run, the newest too, under the tree's writer lock (false,
// dropping nothing, when another process holds it); nothing can be undone
// afterwards. The limits stay.
bool ClearJournal(const DataLayout& layout);

// "1.5G", "300M", "64K" or plain bytes, finite and above 0; nullopt for
// anything else.
std::optional<int64_t> ParseByteSize(const std::string& text);
// The local time of a run, "YYYY-MM-DD HH:MM:SS".
std::string JournalTimeText(int64_t time);

}  // namespace marbloom
