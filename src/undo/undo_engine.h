#pragma once
// Takes a run of the undo journal back: every file it touched is put back as
// it was before the run, byte for byte, as one writing operation under the
// writer lock (and the source tree's, for a merge). The engine is built on the
// layout the front journals through, so that an undo is itself a run that can
// be undone.
#include <span>
#include <string>
#include <vector>

#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "undo/undo_journal.h"

namespace marbloom {

// The newest run after `run` that touched one of its files, or 0. The undos
// of `run` itself do not count, so that an undo cut short can be finished.
int LaterRunTouching(const std::vector<JournalRun>& journal, const JournalRun& run);

class UndoEngine : public OperationEngine {
 public:
  explicit UndoEngine(DataLayout layout) : OperationEngine(layout.Reports()), layout_(std::move(layout)) {}

  // Refused (kInvalid), before anything changes, when the run is not in the
  // journal or its manifest is not sound (undo_journal.h); and, unless
  // `force`, when a later run touched its files or a file of the source tree
  // changed there since the run. Files are put back before the files the run
  // made are removed. A file that cannot be put back (a file a later run cut
  // short below what the run found) is left as it is, reported in the run
  // log and counted: the run then fails; the others are put back.
  OperationResult UndoRun(int id, bool force);

 private:
  OperationResult Refuse(const std::string& message);
  // Whether the source tree's file of `entry` changed since the run: it
  // holds neither what the run left there nor what the undo puts there.
  bool ChangedSince(const std::vector<JournalRun>& journal, const JournalRun& run, const JournalEntry& entry);
  // Whether `path` holds what `entry` of `run` keeps: the kept bytes, or
  // nothing for an entry that keeps none (or none given).
  bool Holds(const std::string& path, const JournalRun& run, const JournalEntry* entry);
  // Names the files the entries put back by a rename or a removal (and their
  // temporaries) to the undo's own journal at once.
  void BeforeRestoring(std::span<const JournalEntry* const> entries);
  bool Restore(const JournalRun& run, const JournalEntry& entry);
  bool PutBack(const std::string& path, const std::string& kept, int64_t length);

  DataLayout layout_;
};

}  // namespace marbloom
