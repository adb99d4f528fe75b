#pragma once
// Takes a run of the undo journal back: every file it touched is put back as
// it was before the run, byte for byte, as one writing operation under the
// writer lock. The engine is built on the layout the front journals through,
// so that an undo is itself a run that can be undone.
#include <string>
#include <vector>

#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "common/undo_journal.h"

namespace marbloom {

// The operation an undo of run `id` is journalled as.
std::string UndoOperationName(int id);

// The newest run after `run` that touched one of its files, or 0. The undos
// of `run` itself do not count, so that an undo cut short can be finished.
int LaterRunTouching(const std::vector<JournalRun>& journal, const JournalRun& run);

class UndoEngine : public OperationEngine {
 public:
  explicit UndoEngine(DataLayout layout) : layout_(std::move(layout)) {}

  // Refused (kInvalid) when the run is not in the journal, or when a later
  // run touched its files, unless `force`. A file that cannot be put back is
  // reported in the run log and counted; the others are put back.
  OperationResult UndoRun(int id, bool force);

 private:
  bool Restore(const JournalRun& run, const JournalEntry& entry);
  bool PutBack(const std::string& path, const std::string& kept, int64_t length);

  DataLayout layout_;
};

}  // namespace marbloom
